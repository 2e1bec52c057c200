// https in THttpCli against real peers: nginx with certificates made at test
// time, tinyproxy as the CONNECT proxy, a small TLS server of our own for
// byte-exact endings, and scripted peers that speak no TLS or stall.
#include <gtest/gtest.h>

// system
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <random>
#include <thread>
#include <vector>

// OpenSSL (our own test server)
#include <openssl/ssl.h>

// ours
#include "http/HttpProt.h"
#include "net/SslWSocket.h"
#include "support/NetFixtures.h"
#include "tests/http/ClientTestUtil.h"

namespace {

using namespace wltest;

int ThreadCount()
{
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/task")) {
        while (dirent* e = ::readdir(d))
            n += e->d_name[0] != '.';
        ::closedir(d);
    }
    return n;
}

std::string RandomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen());
    return s;
}

std::string HeaderValue(const THttpCli& c, const std::string& name)
{
    for (const std::string& line : c.ResponseHeader())
        if (line.rfind(name + ": ", 0) == 0)
            return line.substr(name.size() + 2);
    return std::string();
}

// One nginx for the suite: a plain server and four TLS servers, each with
// its own certificate.
class HttpsPeers : public ::testing::Test {
protected:
    static inline TTestPki* pki = nullptr;
    static inline TTempDir* docs = nullptr;
    static inline TNginx* nginx = nullptr;
    static inline int plainPort = 0, goodPort = 0, expiredPort = 0, otherPort = 0, selfPort = 0;
    static inline std::string picture;

    static void SetUpTestSuite()
    {
        pki = new TTestPki;
        docs = new TTempDir;
        picture = RandomBytes(300000, 7);
        docs->WriteFile("pic.gif", picture);
        docs->WriteFile("plain.gif", "plain picture");
        docs->WriteFile("index.html", "<html><body><img src=\"pic.gif\"><img src=\"/b/x.png\"></body></html>");
        docs->WriteFile("b/x.png", "png bytes");
        if (!pki->Ok())
            return;
        plainPort = FreePort();
        goodPort = FreePort();
        expiredPort = FreePort();
        otherPort = FreePort();
        selfPort = FreePort();
        const std::string root = docs->Path();
        const std::string good = "https://127.0.0.1:" + std::to_string(goodPort);
        const std::string plain = "http://127.0.0.1:" + std::to_string(plainPort);
        std::string servers =
            "  server {\n    listen 127.0.0.1:" + std::to_string(plainPort) + ";\n    root " + root +
            ";\n    location /tohttps { return 301 " + good + "/pic.gif; }\n  }\n" +
            pki->NginxServer(goodPort, TTestPki::Good, root,
                             "add_header X-Reused $ssl_session_reused always;\n"
                             "    location /tohttp { return 301 " + plain + "/plain.gif; }\n"
                             "    location /rooted { absolute_redirect off; return 302 /plain.gif; }") +
            pki->NginxServer(expiredPort, TTestPki::Expired, root) + pki->NginxServer(otherPort, TTestPki::Other, root) +
            pki->NginxServer(selfPort, TTestPki::SelfSigned, root);
        nginx = new TNginx("", servers);
    }

    static void TearDownTestSuite()
    {
        delete nginx;
        delete docs;
        delete pki;
        nginx = nullptr;
        docs = nullptr;
        pki = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(pki->Ok()) << pki->Error();
        ASSERT_TRUE(nginx && nginx->Ok()) << (nginx ? nginx->Error() : "");
        ASSERT_TRUE(WaitListening(goodPort, 10s));
    }

    static std::string Https(int port, const std::string& path, const std::string& host = "127.0.0.1")
    {
        return "https://" + host + ":" + std::to_string(port) + path;
    }
};

TEST_F(HttpsPeers, GetsOverTlsAndResumesTheSessionOnTheNextConnection)
{
    TSslWSocket::ClearTlsSessions();
    THttpCli c;
    c.CaFile = pki->CaFile();
    TMemoryStream body;
    c.BodyStream = &body;
    c.URL = Https(goodPort, "/pic.gif");
    c.Get();
    EXPECT_EQ(c.DoneError(), 0) << c.StatusText();
    EXPECT_EQ(c.StatusCode(), 200);
    EXPECT_TRUE(body.Data() == picture) << "body of " << body.Data().size() << " bytes differs";
    EXPECT_EQ(HeaderValue(c, "X-Reused"), ".");
    EXPECT_FALSE(c.Socket().TlsSessionReused());

    // Both sides must agree that the second handshake was a resumption.
    TMemoryStream again;
    c.BodyStream = &again;
    c.Get();
    EXPECT_EQ(c.DoneError(), 0) << c.StatusText();
    EXPECT_TRUE(again.Data() == picture);
    EXPECT_EQ(HeaderValue(c, "X-Reused"), "r");
    EXPECT_TRUE(c.Socket().TlsSessionReused());

    // A host name: name indication and the DNS entry of the certificate.
    TMemoryStream named;
    c.BodyStream = &named;
    c.URL = Https(goodPort, "/plain.gif", "LOCALHOST");
    c.Get();
    EXPECT_EQ(c.DoneError(), 0) << c.StatusText();
    EXPECT_EQ(named.Data(), "plain picture");
    const std::string line = "GET /plain.gif HTTP/1.0|LOCALHOST:" + std::to_string(goodPort);
    EXPECT_NE(nginx->AccessLogWith(line).find(line), std::string::npos);

    // Connections opened at once to a server whose session is not known yet:
    // one full handshake, and the others resume what it brought, as one after
    // the other would.
    TSslWSocket::ClearTlsSessions();
    std::vector<std::unique_ptr<THttpCli>> clients;
    for (int i = 0; i < 4; ++i) {
        clients.push_back(std::make_unique<THttpCli>());
        clients.back()->CaFile = pki->CaFile();
        clients.back()->URL = Https(goodPort, "/plain.gif");
    }
    for (auto& client : clients)
        client->GetAsync();
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    auto pending = [&clients] {
        for (auto& client : clients)
            if (client->RequestPending())
                return true;
        return false;
    };
    while (pending() && std::chrono::steady_clock::now() < deadline)
        WaitForNotices(TNoticeClock::now() + 100ms);
    std::string reused;
    for (auto& client : clients) {
        EXPECT_EQ(client->StatusCode(), 200) << client->StatusText();
        reused += HeaderValue(*client, "X-Reused");
    }
    std::sort(reused.begin(), reused.end());
    EXPECT_EQ(reused, ".rrr");
}

TEST_F(HttpsPeers, CertificateProblemsFailWithTheirOwnCodes)
{
    struct TCase {
        int port;
        std::string host;
        bool withCa;
        std::uint16_t code;
    };
    const std::vector<TCase> cases = {
        {expiredPort, "127.0.0.1", true, httpErrCertExpired},
        {otherPort, "127.0.0.1", true, httpErrCertHostMismatch},
        {otherPort, "localhost", true, httpErrCertHostMismatch},
        {selfPort, "127.0.0.1", true, httpErrCertUntrusted},
        {goodPort, "127.0.0.1", false, httpErrCertUntrusted},  // the system store does not know our CA
    };
    THttpCli c;
    for (const TCase& k : cases) {
        SCOPED_TRACE(k.host + ":" + std::to_string(k.port));
        c.NoCheckCertificate = false;
        c.CaFile = k.withCa ? pki->CaFile() : std::string();
        TMemoryStream body;
        c.BodyStream = &body;
        c.URL = Https(k.port, "/plain.gif", k.host);
        EXPECT_EQ(GetCode(c), 404);
        EXPECT_EQ(c.DoneError(), k.code);
        EXPECT_NE(c.StatusText().find("Zertifikatsprüfung fehlgeschlagen: "), std::string::npos) << c.StatusText();
        EXPECT_EQ(body.Data(), "");
        EXPECT_FALSE(HttpDoneErrorText(k.code).empty());

        // Only the explicit word turns the check off; the client is reusable.
        c.NoCheckCertificate = true;
        c.Get();
        EXPECT_EQ(c.DoneError(), 0) << c.StatusText();
        EXPECT_EQ(body.Data(), "plain picture");
    }
    EXPECT_EQ(HttpDoneErrorText(httpErrCertExpired), "Zertifikat abgelaufen oder noch nicht gültig");

    // A CA file that cannot be read is a failure, never a silent fallback.
    c.NoCheckCertificate = false;
    c.CaFile = docs->Path() + "/missing.pem";
    c.URL = Https(goodPort, "/plain.gif");
    EXPECT_EQ(GetCode(c), 404);
    EXPECT_EQ(c.DoneError(), httpErrTlsHandshake);
    EXPECT_NE(c.StatusText().find("missing.pem"), std::string::npos);
}

TEST_F(HttpsPeers, RelocationsSwitchBetweenHttpAndHttps)
{
    THttpCli c;
    c.CaFile = pki->CaFile();
    TMemoryStream body;
    c.BodyStream = &body;
    c.URL = "http://127.0.0.1:" + std::to_string(plainPort) + "/tohttps";
    c.Get();
    EXPECT_EQ(c.DoneError(), 0) << c.StatusText();
    EXPECT_TRUE(body.Data() == picture);
    EXPECT_EQ(c.Location(), Https(goodPort, "/pic.gif"));

    TMemoryStream back;
    c.BodyStream = &back;
    c.URL = Https(goodPort, "/tohttp");
    c.Get();
    EXPECT_EQ(c.DoneError(), 0) << c.StatusText();
    EXPECT_EQ(back.Data(), "plain picture");
    EXPECT_EQ(c.Location(), "http://127.0.0.1:" + std::to_string(plainPort) + "/plain.gif");

    // A root-relative Location keeps the scheme of the page it came from.
    TMemoryStream rooted;
    c.BodyStream = &rooted;
    c.URL = Https(goodPort, "/rooted");
    c.Get();
    EXPECT_EQ(c.DoneError(), 0) << c.StatusText();
    EXPECT_EQ(rooted.Data(), "plain picture");
    EXPECT_EQ(c.Location(), Https(goodPort, "/plain.gif"));
}

TEST_F(HttpsPeers, TunnelThroughTinyproxy)
{
    TTinyproxy proxy;
    ASSERT_TRUE(proxy.Ok()) << proxy.Error();
    THttpCli c;
    c.CaFile = pki->CaFile();
    c.Proxy = proxy.HostPort();
    TMemoryStream body;
    c.BodyStream = &body;
    c.URL = Https(goodPort, "/pic.gif#frag");
    c.Get();
    EXPECT_EQ(c.DoneError(), 0) << c.StatusText();
    EXPECT_TRUE(body.Data() == picture);
    // Inside the tunnel the origin sees an ordinary request.
    const std::string tunnelled = "GET /pic.gif HTTP/1.0|127.0.0.1:" + std::to_string(goodPort);
    EXPECT_NE(nginx->AccessLogWith(tunnelled).find(tunnelled), std::string::npos);

    // Relocated from https to http through the same proxy: a plain proxied request.
    TMemoryStream back;
    c.BodyStream = &back;
    c.URL = Https(goodPort, "/tohttp");
    c.Get();
    EXPECT_EQ(c.DoneError(), 0) << c.StatusText();
    EXPECT_EQ(back.Data(), "plain picture");
}

TEST_F(HttpsPeers, TunnelRefusedCarriesTheProxyStatus)
{
    TTinyproxy proxy("user", "secret");
    ASSERT_TRUE(proxy.Ok()) << proxy.Error();
    THttpCli c;
    c.CaFile = pki->CaFile();
    c.Proxy = proxy.HostPort();
    c.URL = Https(goodPort, "/plain.gif");
    EXPECT_EQ(GetCode(c), 407);
    EXPECT_EQ(c.DoneError(), httpErrProxyTunnel);
    EXPECT_NE(c.StatusText().find("407"), std::string::npos) << c.StatusText();

    c.ProxyUsername = "user";
    c.ProxyPassword = "secret";
    TMemoryStream body;
    c.BodyStream = &body;
    c.Get();
    EXPECT_EQ(c.DoneError(), 0) << c.StatusText();
    EXPECT_EQ(body.Data(), "plain picture");
}

TEST(HttpsScripted, ProxyAnswersAreChecked)
{
    // A proxy that answers 200 but then speaks itself, and one that is not HTTP.
    for (const char* answer : {"HTTP/1.0 200 OK\r\n\r\nsurprise", "SSH-2.0-OpenSSH\r\n\r\n", "HTTP/1.0 302 Found\r\n\r\n"}) {
        SCOPED_TRACE(answer);
        TScriptedServer proxy(TScript().ReadRequest().Send(answer).Hold());
        THttpCli c;
        c.Proxy = "127.0.0.1:" + std::to_string(proxy.Port());
        c.URL = "https://origin.example/x.gif";
        EXPECT_EQ(GetCode(c), 404);
        EXPECT_EQ(c.DoneError(), httpErrProxyTunnel);
        ASSERT_TRUE(proxy.WaitFinished(0));
        EXPECT_EQ(proxy.Received(0), "CONNECT origin.example:443 HTTP/1.0\r\nHost: origin.example:443\r\n\r\n");
    }
}

TEST(HttpsScripted, PeerWithoutTlsFailsTheHandshakeAndTheClientStaysUsable)
{
    TScriptedServer plain({TScript().Send("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello"), TScript(),
                           TScript().ReadRequest().Send("HTTP/1.0 200 OK\r\n\r\nfine")});
    THttpCli c;
    TEventLog log;
    log.Attach(c);
    c.URL = "https://127.0.0.1:" + std::to_string(plain.Port()) + "/x.gif";
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(GetCode(c), 404);
        EXPECT_EQ(c.DoneError(), httpErrTlsHandshake);
        EXPECT_NE(c.StatusText().find("TLS-Handshake fehlgeschlagen"), std::string::npos) << c.StatusText();
        EXPECT_EQ(c.State(), hsIdle);
    }
    EXPECT_EQ(log.Count("RequestDone 1 10"), 2);
    EXPECT_EQ(log.Count("SessionConnected"), 0);  // the secure session never came up
    TMemoryStream body;
    c.BodyStream = &body;
    c.URL = "http://127.0.0.1:" + std::to_string(plain.Port()) + "/x.gif";
    c.Get();
    EXPECT_EQ(body.Data(), "fine");
}

TEST(HttpsScripted, StallingHandshakeEndsByIdleTimeoutAndByAbort)
{
    TScriptedServer staller(TScript().Hold());
    THttpCli c;
    c.URL = "https://127.0.0.1:" + std::to_string(staller.Port()) + "/x.gif";
    c.IdleTimeout = 0.3;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GetCode(c), 404);
    EXPECT_EQ(c.DoneError(), httpErrIdleTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 250ms);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);

    c.IdleTimeout = 0;
    TWhen when([&] { return staller.WaitAccepted(2); }, [&] { c.Abort(); });
    EXPECT_EQ(GetCode(c), 404);
    EXPECT_EQ(c.DoneError(), httpErrAborted);
}

// A TLS server of our own, for endings nginx never produces. One connection
// per Serve; the handler gets the connection after the handshake and the
// request.
class TTlsScriptServer {
public:
    using THandler = std::function<void(SSL* ssl, int fd)>;

    TTlsScriptServer(const TTestPki& pki, THandler handler) : fHandler(std::move(handler))
    {
        fCtx = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate_chain_file(fCtx, pki.CertFile(TTestPki::Good).c_str());
        SSL_CTX_use_PrivateKey_file(fCtx, pki.KeyFile().c_str(), SSL_FILETYPE_PEM);
        fListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fListen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fListen, 4);
        socklen_t len = sizeof a;
        ::getsockname(fListen, reinterpret_cast<sockaddr*>(&a), &len);
        fPort = ntohs(a.sin_port);
        fThread = std::thread([this] { Run(); });
    }
    ~TTlsScriptServer()
    {
        ::shutdown(fListen, SHUT_RDWR);
        fThread.join();
        ::close(fListen);
        SSL_CTX_free(fCtx);
    }
    std::string Url(const std::string& path) const { return "https://127.0.0.1:" + std::to_string(fPort) + path; }

private:
    void Run()
    {
        for (;;) {
            int fd = ::accept4(fListen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                return;
            timeval tv{10, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            SSL* ssl = SSL_new(fCtx);
            SSL_set_fd(ssl, fd);
            if (SSL_accept(ssl) == 1) {
                std::string request;
                char buf[1024];
                while (request.find("\r\n\r\n") == std::string::npos) {
                    int n = SSL_read(ssl, buf, sizeof buf);
                    if (n <= 0)
                        break;
                    request.append(buf, static_cast<std::size_t>(n));
                }
                fHandler(ssl, fd);
            }
            SSL_free(ssl);
            ::close(fd);
        }
    }

    SSL_CTX* fCtx;
    int fListen;
    int fPort = 0;
    THandler fHandler;
    std::thread fThread;
};

void Write(SSL* ssl, const std::string& s)
{
    SSL_write(ssl, s.data(), static_cast<int>(s.size()));
}

TEST(HttpsOwnServer, EndingsWithAndWithoutCloseNotify)
{
    TTestPki pki;
    ASSERT_TRUE(pki.Ok()) << pki.Error();
    struct TCase {
        const char* name;
        std::string response;
        bool closeNotify;
        std::uint16_t code;
        std::string body = "0123456789";
    };
    // With a length, a short body is a failure whichever way the stream
    // ended, and a whole one is whole. Without a length only close_notify
    // says the server ended it: a bare TCP close may come from anyone on the
    // path. Responses that carry no body cannot be cut.
    const std::vector<TCase> cases = {
        {"short, no notify", "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n0123456789", false, httpErrTruncated},
        {"short, notify", "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n0123456789", true, httpErrTruncated},
        {"whole, no notify", "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n0123456789", false, 0},
        {"no length, no notify", "HTTP/1.0 200 OK\r\n\r\n0123456789", false, httpErrTruncated},
        {"no header, no notify", "<HTML>0123456789", false, httpErrTruncated, "<HTML>0123456789"},
        {"nothing at all, no notify", "", false, httpErrTruncated, ""},
        {"no length, notify", "HTTP/1.0 200 OK\r\n\r\n0123456789", true, 0},
        {"not modified, no notify", "HTTP/1.0 304 Not Modified\r\n\r\n", false, 0, ""},
    };
    std::atomic<std::size_t> current{0};
    TTlsScriptServer server(pki, [&](SSL* ssl, int fd) {
        const TCase& k = cases[current];
        Write(ssl, k.response);
        if (k.closeNotify)
            SSL_shutdown(ssl);
        ::shutdown(fd, SHUT_WR);
    });
    THttpCli c;
    c.CaFile = pki.CaFile();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        current = i;
        TMemoryStream body;
        c.BodyStream = &body;
        c.URL = server.Url("/x.gif");
        GetCode(c);
        // A close before any answer byte may meet the client while its TLS
        // layer still settles the session: then it is reported as an aborted
        // connection. Either way the request fails and nothing is kept.
        if (cases[i].response.empty() && c.DoneError() == 10053)
            EXPECT_TRUE(body.Data().empty());
        else
            EXPECT_EQ(c.DoneError(), cases[i].code) << c.StatusText();
        EXPECT_EQ(body.Data(), cases[i].body);
        EXPECT_EQ(c.Socket().TlsCloseNotify(), cases[i].closeNotify);
    }
}

TEST(HttpsOwnServer, CloseNotifyEndsTheResponseAtOnceAndIsAnswered)
{
    TTestPki pki;
    ASSERT_TRUE(pki.Ok()) << pki.Error();
    // The server says goodbye and then waits for ours before it closes the
    // connection (up to its 10 s receive limit): the response is complete
    // when its close_notify arrives, not when the server gives up waiting.
    std::atomic<int> answered{0};
    std::atomic<bool> withLength{false};
    TTlsScriptServer server(pki, [&](SSL* ssl, int) {
        Write(ssl, withLength ? "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n0123456789"
                              : "HTTP/1.0 200 OK\r\n\r\n0123456789");
        if (SSL_shutdown(ssl) == 0 && SSL_shutdown(ssl) == 1)
            ++answered;
    });
    THttpCli c;
    c.CaFile = pki.CaFile();
    c.IdleTimeout = 0;  // nothing else would end the wait
    for (bool length : {false, true}) {
        SCOPED_TRACE(length ? "with length" : "without length");
        withLength = length;
        TMemoryStream body;
        c.BodyStream = &body;
        c.URL = server.Url("/x.gif");
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(GetCode(c), -1) << c.StatusText();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        EXPECT_EQ(c.DoneError(), 0);
        EXPECT_EQ(body.Data(), "0123456789");
        EXPECT_TRUE(c.Socket().TlsCloseNotify());
    }
    // Our close_notify reaches the server before the connection goes.
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (answered < 2 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(answered, 2);
}

TEST(HttpsOwnServer, CredentialsNeverFollowARelocationToPlainHttp)
{
    TTestPki pki;
    ASSERT_TRUE(pki.Ok()) << pki.Error();
    TScriptedServer plain(TScript().ReadRequest().Send("HTTP/1.0 200 OK\r\n\r\nplain"));
    std::atomic<int> requests{0};
    TTlsScriptServer server(pki, [&](SSL* ssl, int) {
        ++requests;
        Write(ssl, "HTTP/1.0 302 Moved\r\nLocation: http://127.0.0.1:" + std::to_string(plain.Port()) + "/p.gif\r\n\r\n");
        SSL_shutdown(ssl);
    });
    THttpCli c;
    c.CaFile = pki.CaFile();
    TMemoryStream body;
    c.BodyStream = &body;
    c.URL = "https://joe:pw@" + server.Url("/x.gif").substr(8);
    c.Get();
    EXPECT_EQ(body.Data(), "plain");
    EXPECT_EQ(requests, 1);
    ASSERT_TRUE(plain.WaitFinished(0));
    EXPECT_EQ(plain.Received(0).find("Authorization"), std::string::npos) << plain.Received(0);
}

// A kept secure connection that holds plain text nobody asked for is not used
// again; only OpenSSL can tell it from records that carry no data.
TEST(HttpsOwnServer, UnaskedBytesOnAKeptConnectionAreSeen)
{
    TTestPki pki;
    ASSERT_TRUE(pki.Ok()) << pki.Error();
    auto kept = [](const std::string& body) {
        return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\nConnection: keep-alive\r\n\r\n" + body;
    };
    std::atomic<int> connections{0};
    TTlsScriptServer server(pki, [&](SSL* ssl, int) {
        if (connections++ > 0) {
            Write(ssl, kept("zwei"));
            SSL_shutdown(ssl);
            return;
        }
        Write(ssl, kept("eins"));
        std::this_thread::sleep_for(50ms); // pacing: the client is done with the answer first
        Write(ssl, "\r\n");
        // A client that asks again on this connection gets another answer.
        char buf[1024];
        std::string request;
        while (request.find("\r\n\r\n") == std::string::npos) {
            const int n = SSL_read(ssl, buf, sizeof buf);
            if (n <= 0)
                return;
            request.append(buf, static_cast<std::size_t>(n));
        }
        Write(ssl, kept("falsch"));
    });
    THttpCli c;
    c.CaFile = pki.CaFile();
    c.KeepAlive = true;
    c.IdleTimeout = 5;
    TMemoryStream first;
    c.BodyStream = &first;
    c.URL = server.Url("/1");
    EXPECT_EQ(GetCode(c), -1) << c.StatusText();
    EXPECT_EQ(first.Data(), "eins");
    // The record waits in the socket, unless the client saw it while still
    // pumping for the answer and closed the connection then.
    pollfd p{c.Socket().HSocket(), POLLIN, 0};
    if (p.fd != -1) {
        ASSERT_EQ(::poll(&p, 1, 5000), 1) << "the unasked record is there before the next request";
    }
    TMemoryStream second;
    c.BodyStream = &second;
    c.URL = server.Url("/2");
    EXPECT_EQ(GetCode(c), -1) << c.StatusText();
    EXPECT_EQ(second.Data(), "zwei");
    EXPECT_EQ(connections, 2);
}

TEST(HttpsOwnServer, GarbageAfterTheHandshakeBreaksTheStream)
{
    TTestPki pki;
    ASSERT_TRUE(pki.Ok()) << pki.Error();
    TTlsScriptServer server(pki, [](SSL* ssl, int fd) {
        Write(ssl, "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nabc");
        // A record with a wrong authentication tag, as a tampering middlebox would send.
        const std::string junk = std::string("\x17\x03\x03\x00\x20", 5) + std::string(32, 'x');
        [[maybe_unused]] ssize_t n = ::write(fd, junk.data(), junk.size());
        char buf[64];
        [[maybe_unused]] ssize_t r = ::read(fd, buf, sizeof buf);  // until the client gives up
    });
    THttpCli c;
    c.CaFile = pki.CaFile();
    TMemoryStream body;
    c.BodyStream = &body;
    c.URL = server.Url("/x.gif");
    EXPECT_EQ(GetCode(c), 404);
    EXPECT_EQ(c.DoneError(), httpErrTlsStream);
    EXPECT_EQ(body.Data(), "abc");
}

// Failures and successes in turn must leave no descriptor, thread or TLS
// object behind.
TEST_F(HttpsPeers, TenThousandCyclesLeaveNothingBehind)
{
    TScriptedServer notTls(TScript().Send("HTTP/1.0 400 Bad\r\n\r\n"));
    THttpCli c;
    c.CaFile = pki->CaFile();
    c.URL = Https(goodPort, "/plain.gif");
    c.Get();
    const int fds = OpenDescriptorCount();
    const int threads = ThreadCount();
    int failures = 0, successes = 0;
    for (int i = 0; i < 10000; ++i) {
        TMemoryStream body;
        c.BodyStream = &body;
        // Successes and full handshakes are the dear ones (nginx, a certificate
        // check): often enough to count, rare enough for a loaded machine.
        if (i % 10 == 0)
            c.URL = Https(goodPort, "/plain.gif");
        else if (i % 40 == 2)
            c.URL = Https(selfPort, "/plain.gif");
        else if (i % 2 == 1)
            c.URL = "https://127.0.0.1:" + std::to_string(notTls.Port()) + "/x.gif";
        else
            c.URL = "ftp://127.0.0.1/x.gif";
        if (GetCode(c) == -1 && body.Data() == "plain picture")
            ++successes;
        else
            ++failures;
    }
    EXPECT_EQ(successes, 1000);
    EXPECT_EQ(failures, 9000);
    ASSERT_TRUE(notTls.WaitFinished(5000 - 1));
    EXPECT_EQ(OpenDescriptorCount(), fds);
    EXPECT_EQ(ThreadCount(), threads);
    EXPECT_EQ(TSslWSocket::TlsObjectsAlive(), 0);
}

}  // namespace
