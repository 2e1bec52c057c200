// TSslWSocket: the TLS layer on OpenSSL 3.
//
// OpenSSL talks to the network through a BIO of our own: its reads take the
// socket's platform receive (would-block becomes a retry), its writes collect
// the encrypted bytes, which then go out through the socket's ordinary send
// chain in one Send. So readiness, the send chain, ReadCount and the close
// handling stay those of TWSocket, and OpenSSL never touches the descriptor.
#include "net/SslWSocket.h"

// system
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

// OpenSSL
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace {

std::atomic<int> gTlsAlive{0};

// Kept sessions are few per site; the cap bounds a scan over many hosts.
constexpr std::size_t kMaxSessions = 256;
// Bigger reads from the kernel mean fewer system calls per record.
constexpr long kReadBufferLen = 256 * 1024;

struct TTlsShared {
    std::mutex Mutex;
    std::map<std::string, SSL_CTX*> Contexts;  // by configuration, kept for the process
    std::map<std::string, SSL_SESSION*> Sessions;
    std::deque<std::string> SessionOrder;  // oldest first
    BIO_METHOD* Method = nullptr;
};

TTlsShared& Shared()
{
    // Never destroyed: sockets of other threads may still use it at exit.
    static TTlsShared* s = new TTlsShared;
    return *s;
}

std::string ConfigKey(const TTlsConfig& c)
{
    return (c.NoCheckCertificate ? "n|" : "v|") + c.CaFile;
}

// The reason of the last OpenSSL error, without its library prefix.
std::string LastErrorReason()
{
    unsigned long e = ERR_peek_last_error();
    if (e == 0)
        return std::string();
    const char* r = ERR_reason_error_string(e);
    if (r != nullptr)
        return r;
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    return buf;
}

bool IsIpAddress(const std::string& s)
{
    unsigned char buf[16];
    return inet_pton(AF_INET, s.c_str(), buf) == 1 || inet_pton(AF_INET6, s.c_str(), buf) == 1;
}

// First handshakes under way, per session key, on this thread: connections
// opened at once to a server whose session is not known yet wait for the
// first one to bring it, so that each of them resumes instead of paying a
// full handshake of its own.
struct TFirstHandshake {
    const void* Pioneer = nullptr;             // the TTls doing the full handshake
    std::vector<TSslWSocket*> Waiters;         // sockets whose handshake waits for it
};

std::map<std::string, TFirstHandshake>& FirstHandshakes()
{
    thread_local std::map<std::string, TFirstHandshake> m;
    return m;
}

}  // namespace

struct TSslWSocket::TTls {
    TSslWSocket* Owner = nullptr;
    SSL* Ssl = nullptr;
    std::string SessionKey;
    std::string Out;  // encrypted bytes waiting for the socket's Send
    bool Established = false;
    bool Failed = false;
    bool Eof = false;       // the plain-text stream has ended
    bool RawEof = false;    // the peer closed the TCP stream
    bool ShutdownSent = false;
    bool EndPosted = false;  // the peer's close_notify is being reported as the session's end
    bool Pioneer = false;    // others wait for the session of this handshake
    bool Waiting = false;    // this handshake waits for another's session
    int RawError = 0;

    ~TTls()
    {
        if (Ssl != nullptr) {
            SSL_free(Ssl);  // frees the BIO with it
            --gTlsAlive;
        }
    }

    static int BioWrite(BIO* b, const char* data, int len)
    {
        auto* t = static_cast<TTls*>(BIO_get_data(b));
        BIO_clear_retry_flags(b);
        if (len <= 0)
            return 0;
        t->Out.append(data, static_cast<std::size_t>(len));
        return len;
    }

    static int BioRead(BIO* b, char* buf, int len)
    {
        auto* t = static_cast<TTls*>(BIO_get_data(b));
        BIO_clear_retry_flags(b);
        if (len <= 0 || t->Owner->fHSocket == -1)
            return 0;
        int n = t->Owner->PlatformRecv(buf, len, 0);
        if (n > 0)
            return n;
        if (n == 0) {
            t->RawEof = true;
            return 0;
        }
        if (t->Owner->fLastError == WSAEWOULDBLOCK) {
            BIO_set_retry_read(b);
            return -1;
        }
        t->RawError = t->Owner->fLastError;
        return -1;
    }

    static long BioCtrl(BIO* b, int cmd, long, void*)
    {
        auto* t = static_cast<TTls*>(BIO_get_data(b));
        switch (cmd) {
        case BIO_CTRL_FLUSH:
            return 1;
        case BIO_CTRL_EOF:
            return t != nullptr && t->RawEof ? 1 : 0;
        default:
            return 0;
        }
    }

    static int BioCreate(BIO* b)
    {
        BIO_set_init(b, 1);
        return 1;
    }

    static int BioDestroy(BIO*) { return 1; }

    static int NewSession(SSL* ssl, SSL_SESSION* sess)
    {
        auto* t = static_cast<TTls*>(SSL_get_app_data(ssl));
        if (t == nullptr || t->SessionKey.empty())
            return 0;
        TTlsShared& s = Shared();
        std::lock_guard<std::mutex> lock(s.Mutex);
        auto it = s.Sessions.find(t->SessionKey);
        if (it != s.Sessions.end()) {
            SSL_SESSION_free(it->second);
            it->second = sess;
        } else {
            if (s.Sessions.size() >= kMaxSessions) {
                auto old = s.Sessions.find(s.SessionOrder.front());
                if (old != s.Sessions.end()) {
                    SSL_SESSION_free(old->second);
                    s.Sessions.erase(old);
                }
                s.SessionOrder.pop_front();
            }
            s.Sessions.emplace(t->SessionKey, sess);
            s.SessionOrder.push_back(t->SessionKey);
        }
        t->Owner->EndFirstHandshake();
        return 1;  // the reference is ours now
    }

    static BIO_METHOD* Method()
    {
        TTlsShared& s = Shared();
        std::lock_guard<std::mutex> lock(s.Mutex);
        if (s.Method == nullptr) {
            BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "wsocket");
            BIO_meth_set_write(m, BioWrite);
            BIO_meth_set_read(m, BioRead);
            BIO_meth_set_ctrl(m, BioCtrl);
            BIO_meth_set_create(m, BioCreate);
            BIO_meth_set_destroy(m, BioDestroy);
            s.Method = m;
        }
        return s.Method;
    }

    // The context of a configuration; null with a reason when it cannot be made.
    static SSL_CTX* Context(const TTlsConfig& config, std::string& error)
    {
        TTlsShared& s = Shared();
        const std::string key = ConfigKey(config);
        std::lock_guard<std::mutex> lock(s.Mutex);
        auto it = s.Contexts.find(key);
        if (it != s.Contexts.end())
            return it->second;
        SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
        if (ctx == nullptr) {
            error = "TLS-Kontext kann nicht angelegt werden: " + LastErrorReason();
            return nullptr;
        }
        SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
        SSL_CTX_set_default_verify_paths(ctx);
        if (!config.CaFile.empty() && SSL_CTX_load_verify_locations(ctx, config.CaFile.c_str(), nullptr) != 1) {
            error = "CA-Datei " + config.CaFile + " nicht lesbar: " + LastErrorReason();
            SSL_CTX_free(ctx);
            return nullptr;
        }
        SSL_CTX_set_verify(ctx, config.NoCheckCertificate ? SSL_VERIFY_NONE : SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
        SSL_CTX_sess_set_new_cb(ctx, NewSession);
        SSL_CTX_set_read_ahead(ctx, 1);
        SSL_CTX_set_default_read_buffer_len(ctx, kReadBufferLen);
        s.Contexts.emplace(key, ctx);
        return ctx;
    }
};

TSslWSocket::TSslWSocket() = default;

TSslWSocket::~TSslWSocket()
{
    // The base destructor closes the descriptor without our overrides: no
    // close_notify, and the TLS objects go first.
    ReleaseTls();
}

int TSslWSocket::TlsObjectsAlive()
{
    return gTlsAlive.load();
}

void TSslWSocket::ClearTlsSessions()
{
    TTlsShared& s = Shared();
    std::lock_guard<std::mutex> lock(s.Mutex);
    for (auto& kv : s.Sessions)
        SSL_SESSION_free(kv.second);
    s.Sessions.clear();
    s.SessionOrder.clear();
}

bool TSslWSocket::TlsActive() const
{
    return fTls != nullptr;
}

bool TSslWSocket::TlsEstablished() const
{
    return fTls != nullptr && fTls->Established;
}

void TSslWSocket::ReleaseTls()
{
    LeaveFirstHandshake();
    // OpenSSL spoils the session of a connection freed without a shutdown
    // of ours; an HTTP/1.0 server closes first, so after a sound session we
    // count the shutdown as done and the session stays resumable.
    if (fTls && fTls->Ssl != nullptr && fTls->Established && !fTls->Failed)
        SSL_set_shutdown(fTls->Ssl, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
    fTls.reset();
}

void TSslWSocket::ResetDefaults()
{
    TWSocket::ResetDefaults();
    ReleaseTls();
}

void TSslWSocket::Fail(TTlsFailure Kind, const std::string& Text)
{
    fFailure = Kind;
    fFailureText = Text;
    if (fTls)
        fTls->Failed = true;
    ERR_clear_error();
}

void TSslWSocket::StartTls(const std::string& ServerName, const std::string& OriginPort, const TTlsConfig& Config)
{
    if (fState != wsConnected) {
        SetLastPlatformError(WSAENOTCONN);
        SocketError("StartTls");
        return;
    }
    if (fTls) {
        RaiseMsg("StartTls: TLS already started");
        return;
    }
    fFailure = TTlsFailure::None;
    fFailureText.clear();
    fReused = false;
    fCloseNotify = false;
    // Our writes are whole flights and records already. Without this the
    // request, sent right behind the handshake's last flight, waits for the
    // peer's delayed acknowledgement (some 40 ms per connection).
    int one = 1;
    ::setsockopt(fHSocket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fTls = std::make_unique<TTls>();
    fTls->Owner = this;

    const int h = fHSocket;
    const uint64_t gen = fSessionGen;
    auto reportLater = [this, h, gen](TTlsFailure kind) {
        PostToSelf([this, h, gen, kind] {
            if (Live(h, gen) && OnTlsDone)
                OnTlsDone(this, static_cast<uint16_t>(kind));
        });
    };

    ERR_clear_error();
    std::string error;
    SSL_CTX* ctx = TTls::Context(Config, error);
    SSL* ssl = ctx != nullptr ? SSL_new(ctx) : nullptr;
    if (ssl == nullptr) {
        Fail(TTlsFailure::Handshake, error.empty() ? "TLS-Sitzung kann nicht angelegt werden: " + LastErrorReason() : error);
        reportLater(fFailure);
        return;
    }
    ++gTlsAlive;
    fTls->Ssl = ssl;
    BIO* bio = BIO_new(TTls::Method());
    if (bio == nullptr) {
        Fail(TTlsFailure::Handshake, "TLS-Sitzung kann nicht angelegt werden: " + LastErrorReason());
        reportLater(fFailure);
        return;
    }
    BIO_set_data(bio, fTls.get());
    SSL_set_bio(ssl, bio, bio);
    SSL_set_app_data(ssl, fTls.get());
    SSL_set_connect_state(ssl);

    // Names go into the handshake for name indication; addresses never do.
    const bool isIp = IsIpAddress(ServerName);
    if (!isIp && !ServerName.empty())
        SSL_set_tlsext_host_name(ssl, ServerName.c_str());
    if (!Config.NoCheckCertificate) {
        int ok = isIp ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), ServerName.c_str())
                      : SSL_set1_host(ssl, ServerName.c_str());
        if (ok != 1 || ServerName.empty()) {
            Fail(TTlsFailure::HostMismatch, "Zertifikat kann nicht gegen \"" + ServerName + "\" geprüft werden");
            reportLater(fFailure);
            return;
        }
    }

    fTls->SessionKey = ServerName + ":" + OriginPort + "|" + ConfigKey(Config);
    if (!OfferSession()) {
        auto& first = FirstHandshakes();
        auto it = first.find(fTls->SessionKey);
        if (it != first.end()) {
            // The handshake starts when that one has brought its session.
            fTls->Waiting = true;
            it->second.Waiters.push_back(this);
            return;
        }
        first[fTls->SessionKey].Pioneer = fTls.get();
        fTls->Pioneer = true;
    }
    DriveHandshake();
}

bool TSslWSocket::OfferSession()
{
    TTlsShared& s = Shared();
    std::lock_guard<std::mutex> lock(s.Mutex);
    auto it = s.Sessions.find(fTls->SessionKey);
    if (it == s.Sessions.end() || !SSL_SESSION_is_resumable(it->second))
        return false;
    SSL_set_session(fTls->Ssl, it->second);
    return true;
}

// The first handshake to its server has brought a session, failed, ended, or
// carried data without one (a server that gives none): the connections that
// waited for it go on, each on its own next turn of the dispatch.
void TSslWSocket::EndFirstHandshake()
{
    if (!fTls || !fTls->Pioneer)
        return;
    fTls->Pioneer = false;
    auto& first = FirstHandshakes();
    auto it = first.find(fTls->SessionKey);
    if (it == first.end() || it->second.Pioneer != fTls.get())
        return;
    std::vector<TSslWSocket*> waiters = std::move(it->second.Waiters);
    first.erase(it);
    for (TSslWSocket* w : waiters) {
        const int h = w->fHSocket;
        const uint64_t gen = w->fSessionGen;
        w->PostToSelf([w, h, gen] {
            if (w->Live(h, gen))
                w->ResumeHandshake();
        });
    }
}

void TSslWSocket::LeaveFirstHandshake()
{
    if (!fTls)
        return;
    if (fTls->Pioneer) {
        EndFirstHandshake();
        return;
    }
    if (!fTls->Waiting)
        return;
    fTls->Waiting = false;
    auto& first = FirstHandshakes();
    auto it = first.find(fTls->SessionKey);
    if (it != first.end())
        std::erase(it->second.Waiters, this);
}

void TSslWSocket::ResumeHandshake()
{
    if (!fTls || !fTls->Waiting)
        return;
    LeaveFirstHandshake();
    OfferSession();
    DriveHandshake();
}

// One step of the handshake: it goes as far as the bytes at hand allow and
// returns; the next readiness notice brings it back here.
void TSslWSocket::DriveHandshake()
{
    if (!fTls || fTls->Established || fTls->Failed)
        return;
    ERR_clear_error();
    const int r = SSL_do_handshake(fTls->Ssl);
    const int err = r == 1 ? SSL_ERROR_NONE : SSL_get_error(fTls->Ssl, r);
    TTlsFailure kind = TTlsFailure::None;
    std::string text;
    if (r == 1) {
        fTls->Established = true;
        fReused = SSL_session_reused(fTls->Ssl) == 1;
    } else if (err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) {
        const long vr = SSL_get_verify_result(fTls->Ssl);
        if (vr != X509_V_OK && SSL_get_verify_mode(fTls->Ssl) != SSL_VERIFY_NONE) {
            text = std::string("Zertifikatsprüfung fehlgeschlagen: ") + X509_verify_cert_error_string(vr);
            switch (vr) {
            case X509_V_ERR_CERT_HAS_EXPIRED:
            case X509_V_ERR_CERT_NOT_YET_VALID:
            case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
            case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
                kind = TTlsFailure::Expired;
                break;
            case X509_V_ERR_HOSTNAME_MISMATCH:
            case X509_V_ERR_IP_ADDRESS_MISMATCH:
                kind = TTlsFailure::HostMismatch;
                break;
            default:
                kind = TTlsFailure::Untrusted;
                break;
            }
        } else {
            kind = TTlsFailure::Handshake;
            std::string reason = LastErrorReason();
            if (fTls->RawError != 0)
                reason = SocketErrorDesc(fTls->RawError);
            else if (fTls->RawEof && (reason.empty() || err == SSL_ERROR_SYSCALL))
                reason = "Verbindung von der Gegenseite beendet";
            text = "TLS-Handshake fehlgeschlagen: " + (reason.empty() ? std::string("Protokollfehler") : reason);
        }
        Fail(kind, text);
    }
    const bool done = r == 1;
    if (kind != TTlsFailure::None)
        EndFirstHandshake();
    FlushOut();
    if (!fTls)
        return;  // the send failed and closed the socket
    if (done) {
        // A would-block met while reading ahead must not end the receive loop
        // while records are still buffered.
        fLastError = 0;
        if (OnTlsDone)
            OnTlsDone(this, 0);
    } else if (kind != TTlsFailure::None) {
        if (OnTlsDone)
            OnTlsDone(this, static_cast<uint16_t>(kind));
    }
}

void TSslWSocket::FlushOut()
{
    if (!fTls || fTls->Out.empty())
        return;
    std::string out;
    out.swap(fTls->Out);
    if (fState != wsConnected)
        return;  // nobody to send to any more
    TCustomWSocket::Send(out.data(), static_cast<int>(out.size()));
}

bool TSslWSocket::TriggerDataAvailable(uint16_t Error)
{
    if (!fTls)
        return TWSocket::TriggerDataAvailable(Error);
    if (fTls->Failed && !fTls->Established) {
        // The session is dead; what the peer still sends is of no use.
        char junk[4096];
        PlatformRecv(junk, sizeof junk, 0);
        return true;
    }
    if (fTls->Waiting) {
        // The peer spoke first (or went away): no reason to wait any longer.
        ResumeHandshake();
        return true;
    }
    if (!fTls->Established) {
        DriveHandshake();
        return true;
    }
    return TWSocket::TriggerDataAvailable(Error);
}

void TSslWSocket::TriggerDataSent(uint16_t Error)
{
    // The handshake's own sends are nobody else's business.
    if (fTls && !fTls->Established)
        return;
    TWSocket::TriggerDataSent(Error);
}

int TSslWSocket::BufferedCount() const
{
    if (!fTls || !fTls->Established || fTls->Eof || fTls->Failed)
        return TWSocket::BufferedCount();
    if (SSL_pending(fTls->Ssl) > 0)
        return SSL_pending(fTls->Ssl);
    return SSL_has_pending(fTls->Ssl) ? 1 : 0;
}

int TSslWSocket::DoRecv(void* Buffer, int BufferSize, int Flags)
{
    if (!fTls)
        return TWSocket::DoRecv(Buffer, BufferSize, Flags);
    if (!fTls->Established || fTls->Failed) {
        fLastError = fTls->Failed ? WSAECONNABORTED : WSAEWOULDBLOCK;
        SetLastPlatformError(fLastError);
        return -1;
    }
    if (fTls->Eof) {
        MarkReadDrained();
        return 0;
    }
    if (BufferSize <= 0)
        return 0;
    ERR_clear_error();
    const int n = SSL_read(fTls->Ssl, Buffer, BufferSize);
    const int err = n > 0 ? SSL_ERROR_NONE : SSL_get_error(fTls->Ssl, n);
    int result = n;
    if (n > 0) {
        fLastError = 0;
        // A server's session comes before its first data, or not at all.
        if (fTls->Pioneer)
            EndFirstHandshake();
    } else if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
        fLastError = WSAEWOULDBLOCK;
        result = -1;
    } else if (err == SSL_ERROR_ZERO_RETURN) {
        fTls->Eof = true;
        fCloseNotify = true;
        result = 0;
        PostPeerEnded();
    } else if ((err == SSL_ERROR_SSL && ERR_GET_REASON(ERR_peek_last_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) ||
               (err == SSL_ERROR_SYSCALL && fTls->RawEof && fTls->RawError == 0)) {
        // A TCP close without close_notify: the end of the stream, but the
        // layer above must judge whether what it got is whole.
        fTls->Eof = true;
        ERR_clear_error();
        result = 0;
    } else {
        std::string reason = fTls->RawError != 0 ? SocketErrorDesc(fTls->RawError) : LastErrorReason();
        Fail(TTlsFailure::Stream, "TLS-Fehler: " + (reason.empty() ? std::string("Protokollfehler") : reason));
        fLastError = WSAECONNABORTED;
        result = -1;
    }
    if (result < 0)
        SetLastPlatformError(fLastError);
    else if (result == 0)
        MarkReadDrained();
    const int lastError = fLastError;
    FlushOut();  // a key update may have to be answered
    fLastError = lastError;
    return result;
}

bool TSslWSocket::ReadableNow()
{
    if (!fTls)
        return TWSocket::ReadableNow();
    if (!fTls->Established || fTls->Failed || fTls->Eof || fState != wsConnected)
        return true;
    if (SSL_pending(fTls->Ssl) > 0)
        return true;
    if (!SSL_has_pending(fTls->Ssl) && !TWSocket::ReadableNow())
        return false;
    // Raw bytes are there: only OpenSSL can tell whether they hold plain text.
    ERR_clear_error();
    char c;
    const int n = SSL_peek(fTls->Ssl, &c, 1);
    const int err = n > 0 ? SSL_ERROR_NONE : SSL_get_error(fTls->Ssl, n);
    ERR_clear_error();
    const int lastError = fLastError;
    FlushOut();
    fLastError = lastError;
    return !(err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE);
}

int TSslWSocket::Send(const void* Data, int Len)
{
    if (!fTls)
        return TWSocket::Send(Data, Len);
    if (!fTls->Established || fTls->Failed || fState != wsConnected) {
        SetLastPlatformError(WSAENOTCONN);
        SocketError("Send");
        return -1;
    }
    if (Len <= 0 || Data == nullptr)
        return 0;
    ERR_clear_error();
    const int n = SSL_write(fTls->Ssl, Data, Len);
    if (n <= 0) {
        Fail(TTlsFailure::Stream, "TLS-Fehler: " + LastErrorReason());
        SetLastPlatformError(WSAECONNABORTED);
        SocketError("Send");
        return -1;
    }
    FlushOut();
    return Len;
}

// A server that ends the stream with close_notify may wait for ours before
// it closes the connection: the session ends now, as at the peer's close,
// once the receive loop under way has handed on what came before it.
void TSslWSocket::PostPeerEnded()
{
    if (fTls->EndPosted)
        return;
    fTls->EndPosted = true;
    const int h = fHSocket;
    const uint64_t gen = SessionGen();
    PostToSelf([this, h, gen] {
        if (Live(h, gen))
            HandleNotice(h, FD_CLOSE, 0);
    });
}

void TSslWSocket::Close()
{
    // Say goodbye properly unless the peer has gone already: a send to a
    // closed peer would only fail. After the peer's close_notify ours is the
    // answer it may be waiting for.
    if (fTls && fTls->Established && !fTls->Failed && !fTls->ShutdownSent && !fTls->RawEof &&
        (!fTls->Eof || fCloseNotify) && fState == wsConnected && !Destroying()) {
        fTls->ShutdownSent = true;
        ERR_clear_error();
        SSL_shutdown(fTls->Ssl);
        ERR_clear_error();
        FlushOut();
    }
    TWSocket::Close();
}
