// THttpCli: the HTTP/1.0 client state machine on top of one TWSocket. The request
// text is built in HttpRequest.cpp, the answer read in HttpResponse.cpp, relocations
// followed in HttpRelocation.cpp, the proxy tunnel and TLS set up in HttpTunnel.cpp,
// the timeouts kept in HttpTimers.cpp.
#include "http/HttpProt.h"

// system
#include <cstring>

// ours
#include "base/AsciiCase.h"
#include "http/HttpLimits.h"
#include "net/Dispatcher.h"
#include "net/NoticeTimer.h"
#include "net/SslWSocket.h"
#include "net/WSocket.h"

THttpCli::THttpCli()
    : fSocket(std::make_unique<TSslWSocket>()),
      fTimer(std::make_unique<TNoticeTimer>([this] { TimerFired(); })),
      fSink(std::make_unique<TNoticeSink>()), fBodyBuffer(std::make_unique<char[]>(kBodyBlock))
{
    fSocket->OnTlsDone = [this](TCustomWSocket*, std::uint16_t e) { SocketTlsDone(e); };
    fSocket->OnSessionConnected = [this](TCustomWSocket*, std::uint16_t e) { SocketSessionConnected(e); };
    fSocket->OnDnsLookupDone = [this](TCustomWSocket*, std::uint16_t e) { SocketDnsLookupDone(e); };
    fSocket->OnDataAvailable = [this](TCustomWSocket*, std::uint16_t e) { SocketDataAvailable(e); };
    fSocket->OnDataSent = [this](TCustomWSocket*, std::uint16_t e) { SocketDataSent(e); };
    InstallCloseHandler(false);
    fReceiveBuffer[0] = 0;
}

THttpCli::~THttpCli()
{
    // Queued notices must not reach a half-destroyed client; the socket then
    // closes without reporting OnSessionClosed.
    fSink.reset();
    fTimer.reset();
    fSocket.reset();
}

void THttpCli::SetMultiThreaded(bool value)
{
    fMultiThreaded = value;
    fSocket->SetMultiThreaded(value);
}

// ---------------------------------------------------------------------------
// State and notices

void THttpCli::SetState(THttpCliState s)
{
    if (s == fState)
        return;
    fState = s;
    if (s == hsIdle)
        fTimer->Stop();
    if (OnStateChange)
        OnStateChange(*this);
    if (s == hsIdle)
        PostNotice(TNotice::RequestDone);
}

void THttpCli::PostNotice(TNotice n)
{
    if (n == TNotice::RequestDone)
        ++fPendingDone;
    fSink->Post([this, n] { HandleNotice(n); });
}

void THttpCli::HandleNotice(TNotice n)
{
    switch (n) {
    case TNotice::RequestDone:
        --fPendingDone;
        if (OnRequestDone)
            OnRequestDone(*this, fRequestType, fDoneError);
        break;
    case TNotice::SetReady:
        SetState(hsIdle);
        break;
    case TNotice::Relogin:
        Relogin();
        break;
    }
}

// Nothing of the previous exchange may leak into the next connection: no
// error, no buffered bytes, no step in progress.
void THttpCli::ResetExchange()
{
    fRecvError = 0;
    fReceiveLen = 0;
    fReceiveStart = 0;
    fNextStep = TStep::None;
    fPhase = TPhase::None;
    fTcpUp = false;
    fOnKept = false;
}

// ---------------------------------------------------------------------------
// Starting and waiting

void THttpCli::Get() { DoRequestSync(rqGet); }
void THttpCli::Post() { DoRequestSync(rqPost); }
void THttpCli::Head() { DoRequestSync(rqHead); }
void THttpCli::GetAsync() { StartRequest(rqGet); }

void THttpCli::DoRequestSync(THttpRequest rq)
{
    StartRequest(rq);
    WaitDone();
    if (fStatusCode >= 400)
        throw EHttpException(fStatusText, static_cast<std::uint16_t>(fStatusCode & 0xFFFF));
}

void THttpCli::WaitDone()
{
    // Idle alone is not enough: the RequestDone of this request must have been
    // delivered too, also when Abort made the client idle from inside a handler.
    bool aborted = false;
    while (fState != hsIdle || fPendingDone > 0) {
        if (ApplicationTerminating()) {
            if (!aborted && fState != hsIdle) {
                aborted = true;
                Abort();
            }
            TNoticeDispatcher::Current().PumpPending();
            if (fState == hsIdle)
                break;
        }
        TNoticeDeadline deadline = TNoticeClock::now() + std::chrono::seconds(1);
        if (fMultiThreaded)
            TNoticeDispatcher::Current().WaitAndPump(deadline);
        else
            WaitForNotices(deadline);
    }
}

void THttpCli::StartRequest(THttpRequest rq)
{
    if (fState != hsIdle)
        throw EHttpException("HTTP component is busy", 1);
    if (rq == rqPost && PostStream == nullptr)
        throw EHttpException("HTTP component has nothing to post", 2);

    // Credentials from the address are this request's only: kept in the
    // properties they would go to the next address as well, another server's.
    std::string user = Username, password = Password;
    THttpTarget target = DeriveRequestTarget(URL, Proxy, ProxyPort, user, password);
    const std::string key = ConnectionKey(target);
    // Bytes that came unasked on a kept connection (a stray line end, more
    // body than announced, a whole answer) would be read as the next answer.
    const bool reuse = KeepAlive && !target.Unsupported && fConnected && key == fKeptKey && !fKeptKey.empty() &&
                       fSocket->State() == wsConnected && !fSocket->ReadableNow();
    fBetween = false;
    fKeptKey.clear();
    if (!reuse && fSocket->State() != wsClosed) {
        fBetween = true; // closing the old connection reports nothing
        CloseConnection();
        fBetween = false;
    }

    fResponseHeader.clear();
    fRequestType = rq;
    fDoneError = 0;
    InstallCloseHandler(false);
    SetState(hsStarting);
    if (fState != hsStarting)
        return; // aborted from OnStateChange: the request has ended already
    fStatusCode = 0;
    fStatusText.clear();
    fBodyCount = 0;
    fPostedCount = 0;
    fHeaderLines = 0;
    fHeaderBytes = 0;
    fBodyBlocks = 0;
    fRelocations = 0;
    fContentLength = -1;
    fAnnouncedLength = -1;
    fResponseBody = 0;
    fContentType.clear();
    fPostFlag = false;
    fRelocationPending = false;
    fFailed = false;
    fDocEnded = false;
    ResetExchange();
    fConnKeep = false;
    fConnClose = false;
    fKeepResponse = false;
    fTarget = std::move(target);
    fCredentialOrigin = OriginOf(fTarget);
    fRequestUser = std::move(user);
    fRequestPassword = std::move(password);
    if (fTarget.Unsupported) {
        // Fetching "ftp://h/x" as plain HTTP on port 80 would be a guess.
        SetFailure(httpErrUnsupportedScheme, "Protokoll nicht unterstützt");
        CloseHandler(0);
        return;
    }
    fConnectStart = fLastActivity = std::chrono::steady_clock::now();
    ArmTimer();
    if (reuse) {
        // The session is up already (TLS included): the request goes out now.
        fOnKept = true;
        fTcpUp = true;
        SessionUp();
        return;
    }

    try {
        StartLookup();
    } catch (...) {
        // The lookup could not even start (no host): the exception is the
        // caller's, but the client must not stay busy for the next request.
        if (!fFailed)
            SetFailure(WSAEINVAL, "can't resolve hostname to IP address");
        CloseConnection();
        SetState(hsIdle);
        try {
            WaitDone();
        } catch (...) {
        }
        throw;
    }
}

void THttpCli::StartLookup()
{
    fResolvedAddress.clear();
    SetState(hsResolving);
    if (fState != hsResolving)
        return; // aborted from OnStateChange
    fSocket->DnsLookup(fTarget.ConnectHost);
}

void THttpCli::SocketDnsLookupDone(std::uint16_t error)
{
    if (fState != hsResolving)
        return; // aborting, or a late answer after the request ended
    if (error != 0) {
        SetFailure(error, "can't resolve hostname to IP address");
        CloseHandler(0);
        return;
    }
    fResolvedAddress = fSocket->DnsResult();
    SetState(hsConnecting);
    if (fState != hsConnecting)
        return; // aborted from OnStateChange: no connection may be left behind
    try {
        fSocket->SetAddr(fResolvedAddress);
        fSocket->SetPort(fTarget.ConnectPort);
        fSocket->SetProto("tcp");
        fSocket->Connect();
    } catch (const std::exception&) {
        // Refusals before any platform call (a port that names no service)
        // leave no platform error; the request still failed.
        int code = fSocket->LastError() != 0 ? fSocket->LastError() : WSAEINVAL;
        SetFailure(static_cast<std::uint16_t>(code),
                   "can't connect: " + SocketErrorDesc(code) + " (Error #" + std::to_string(code) + ")");
        try {
            fSocket->Close();
        } catch (...) {
        }
        CloseHandler(0);
    }
}

void THttpCli::SocketSessionConnected(std::uint16_t error)
{
    if (fState != hsConnecting)
        return;
    if (error != 0) {
        SetFailure(error, SocketErrorDesc(error) + " (Error #" + std::to_string(error) + ")");
        CloseHandler(0);
        return;
    }
    fTcpUp = true;
    fLastActivity = std::chrono::steady_clock::now();
    if (fTarget.Secure && !Proxy.empty()) {
        fPhase = TPhase::Tunnel;
        try {
            SendTunnelRequest();
        } catch (const std::exception&) {
            CloseConnection();
        }
        return;
    }
    if (fTarget.Secure) {
        BeginTls();
        return;
    }
    SessionUp();
}

// The session the request goes over is up: plain TCP, or TLS after the
// handshake (and the tunnel).
void THttpCli::SessionUp()
{
    fPhase = TPhase::None;
    fConnected = true;
    // Where this connection leads: a Location header of an answer that keeps
    // it changes the target, not the connection.
    fConnectionKey = ConnectionKey(fTarget);
    SetState(hsConnected);
    TriggerSessionConnected();
    if (fState != hsConnected)
        return; // the handler aborted
    fNextStep = TStep::Header;
    SetState(hsAwaitingHeader);
    try {
        static const char* const kMethods[] = {"GET", "GET", "POST", "HEAD"};
        SendRequest(kMethods[fRequestType]);
        if (fRequestType == rqPost && fState == hsAwaitingHeader) {
            TriggerSendBegin();
            fPostFlag = true;
            SendPostChunk();
        }
    } catch (const std::exception&) {
        CloseConnection();
    }
}

// ---------------------------------------------------------------------------
// Ending

void THttpCli::CloseConnection()
{
    try {
        fSocket->Close();
    } catch (...) {
    }
    fConnected = false;
}

void THttpCli::SetFailure(std::uint16_t code, const std::string& text)
{
    fFailed = true;
    fDoneError = code;
    fStatusCode = 404;
    fStatusText = text;
}

void THttpCli::Fail(std::uint16_t code, const std::string& text)
{
    if (fFailed || fState == hsIdle || fState == hsAborting)
        return;
    SetFailure(code, text);
    fNextStep = TStep::None;
    fReceiveLen = 0;
    fReceiveStart = 0;
    InstallCloseHandler(false);
    if (fSocket->State() == wsClosed)
        CloseHandler(0);
    else
        CloseConnection(); // its OnSessionClosed runs the close handler
}

bool THttpCli::ResponseTruncated() const
{
    if (fRequestType == rqHead)
        return false;
    bool carriesBody = fStatusCode == 0 ||
                       (fStatusCode >= 200 && fStatusCode < 400 && fStatusCode != 204 && fStatusCode != 304);
    if (!carriesBody)
        return false;
    if (fAnnouncedLength >= 0)
        return fResponseBody < fAnnouncedLength;
    // Without a length only the server's close_notify ends a secure body:
    // a bare TCP close may come from anyone on the path.
    return fTarget.Secure && fPhase == TPhase::None && (fState == hsAwaitingHeader || fState == hsReceivingBody) &&
           !fSocket->TlsCloseNotify();
}

void THttpCli::CloseHandler(std::uint16_t error)
{
    if (RetryOnFreshConnection())
        return;
    fConnected = false;
    if (error == 0)
        error = fRecvError;
    if (!fFailed && fState == hsConnecting && fPhase != TPhase::None) {
        // The peer went away before the session the request needs was up.
        if (fPhase == TPhase::Tunnel)
            SetFailure(httpErrProxyTunnel, "Proxy hat die Verbindung vor dem Tunnel beendet");
        else
            SetFailure(httpErrTlsHandshake, "TLS-Handshake fehlgeschlagen: Verbindung von der Gegenseite beendet");
    }
    if (!fFailed && fState != hsIdle && fState != hsAborting && fStatusCode < 400) {
        // A response cut off by the network must not pass for a whole one.
        if (error != 0)
            SetFailure(error, SocketErrorDesc(error) + " (Error #" + std::to_string(error) + ")");
        else if (ResponseTruncated())
            SetFailure(httpErrTruncated,
                       fAnnouncedLength >= 0
                           ? "Verbindung nach " + std::to_string(fResponseBody) + " von " +
                                 std::to_string(fAnnouncedLength) + " Bytes beendet"
                           : std::string("Verbindung ohne TLS-Abschluss beendet, Dokument womöglich unvollständig"));
    }
    if (fBodyBlocks > 0 && !fDocEnded) {
        fDocEnded = true;
        TriggerDocEnd();
    }
    PostNotice(TNotice::SetReady);
}

void THttpCli::Abort()
{
    AbortWith(httpErrAborted, "Connection aborted on request");
}

void THttpCli::AbortWith(std::uint16_t code, const std::string& text)
{
    // A response complete on a kept connection has ended already.
    if (fState == hsIdle || fBetween) {
        if (fSocket->State() != wsClosed)
            CloseConnection();
        return;
    }
    if (fState == hsAborting)
        return;
    bool resolving = fState == hsResolving;
    SetState(hsAborting);
    if (resolving) {
        try {
            fSocket->CancelDnsLookup();
        } catch (...) {
        }
    }
    fFailed = true;
    fStatusCode = 404;
    fStatusText = text;
    fDoneError = code;
    InstallCloseHandler(false);
    if (resolving)
        CloseHandler(0);
    else if (fSocket->State() != wsClosed)
        CloseConnection();
    else
        fConnected = false; // closed already: its close handler has run, no OnDocEnd now
    SetState(hsIdle);
}

// ---------------------------------------------------------------------------
// Triggers

void THttpCli::TriggerCookie(const std::string& data, bool& accept)
{
    if (OnCookie)
        OnCookie(*this, data, accept);
}
void THttpCli::TriggerSessionConnected()
{
    if (OnSessionConnected)
        OnSessionConnected(*this);
}
void THttpCli::TriggerRequestHeaderBegin()
{
    if (OnRequestHeaderBegin)
        OnRequestHeaderBegin(*this);
}
void THttpCli::TriggerRequestHeaderEnd()
{
    if (OnRequestHeaderEnd)
        OnRequestHeaderEnd(*this);
}
void THttpCli::TriggerHeaderBegin()
{
    if (OnHeaderBegin)
        OnHeaderBegin(*this);
}
void THttpCli::TriggerHeaderEnd()
{
    if (OnHeaderEnd)
        OnHeaderEnd(*this);
}
void THttpCli::TriggerDocBegin()
{
    if (OnDocBegin)
        OnDocBegin(*this);
}
void THttpCli::TriggerDocData(const char* data, int len)
{
    if (OnDocData)
        OnDocData(*this, data, len);
}
void THttpCli::TriggerDocEnd()
{
    if (OnDocEnd)
        OnDocEnd(*this);
}
void THttpCli::TriggerSendBegin()
{
    if (OnSendBegin)
        OnSendBegin(*this);
}
void THttpCli::TriggerSendData(const char* data, int len)
{
    if (OnSendData)
        OnSendData(*this, data, len);
}
void THttpCli::TriggerSendEnd()
{
    if (OnSendEnd)
        OnSendEnd(*this);
}
