// What a request carries and how it ends, against the scripted server: no
// range or challenge left over from an earlier response, no fragment on the
// wire, the port in the Host line, schemes we cannot speak, timeouts.
#include <gtest/gtest.h>

// system
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

// ours
#include "http/HttpProt.h"
#include "support/NetFixtures.h"
#include "tests/http/ClientTestUtil.h"

namespace {

using namespace wltest;

std::string FirstLine(const std::string& s)
{
    return s.substr(0, s.find("\r\n"));
}

TEST(HttpRequestRules, RangeGoesOutOnlyForTheRequestThatAskedForIt)
{
    const std::string partial =
        TScript::Response("HTTP/1.0 206 Partial", {"Content-Range: bytes 10-19/100", "Content-Length: 3"}, "abc");
    TScriptedServer server({TScript().ReadRequest().Send(partial), TScript().ReadRequest().Send("HTTP/1.0 200 OK\r\n\r\nwhole")});
    THttpCli c;
    c.URL = server.Url("/a.gif");
    c.ContentRangeBegin = "10";
    c.ContentRangeEnd = "19";
    c.Get();
    // What the response said stays readable ...
    EXPECT_EQ(c.ContentRangeBegin, "10");
    EXPECT_EQ(c.ContentRangeEnd, "19");
    // ... but the next picture is asked for whole.
    c.URL = server.Url("/b.gif");
    c.Get();
    ASSERT_TRUE(server.WaitFinished(1));
    EXPECT_NE(server.Received(0).find("\r\nRange: bytes=10-19\r\n"), std::string::npos);
    EXPECT_EQ(server.Received(1).find("Range:"), std::string::npos);
}

TEST(HttpRequestRules, ChallengesBelongToOneResponse)
{
    TScriptedServer server({TScript().ReadRequest().Send(
                                TScript::Response("HTTP/1.0 302 Moved", {"WWW-Authenticate: Basic realm=\"a\"", "Location: /next"}, "")),
                            TScript().ReadRequest().Send(
                                TScript::Response("HTTP/1.0 401 No", {"WWW-Authenticate: Basic realm=\"b\""}, "")),
                            TScript().ReadRequest().Send("HTTP/1.0 200 OK\r\n\r\nfree")});
    THttpCli c;
    c.URL = server.Url("/");
    EXPECT_EQ(GetCode(c), 401);
    EXPECT_EQ(c.AuthChallenges(), std::vector<std::string>{"Basic realm=\"b\""});
    c.Get();
    EXPECT_TRUE(c.AuthChallenges().empty());
}

TEST(HttpRequestRules, FragmentNeverLeavesTheClient)
{
    TScriptedServer server({TScript().ReadRequest().Send(TScript::Response("HTTP/1.0 301 Moved", {"Location: /b.htm#part"}, "")),
                            TScript().ReadRequest().Send("HTTP/1.0 200 OK\r\n\r\nx")});
    THttpCli c;
    c.URL = server.Url("/a.htm?q=1#top");
    c.Get();
    ASSERT_TRUE(server.WaitFinished(1));
    EXPECT_EQ(FirstLine(server.Received(0)), "GET /a.htm?q=1 HTTP/1.0");
    EXPECT_EQ(FirstLine(server.Received(1)), "GET /b.htm HTTP/1.0");

    // A fragment right after the host must not become part of the host.
    TScriptedServer bare(TScript().ReadRequest().Send("HTTP/1.0 200 OK\r\n\r\nx"));
    c.URL = "http://127.0.0.1:" + std::to_string(bare.Port()) + "#top";
    c.Get();
    ASSERT_TRUE(bare.WaitFinished(0));
    EXPECT_EQ(FirstLine(bare.Received(0)), "GET / HTTP/1.0");
    EXPECT_NE(bare.Received(0).find("\r\nHost: 127.0.0.1:" + std::to_string(bare.Port()) + "\r\n"), std::string::npos);
}

std::string ConnectionText(const TScriptedServer& s, int i)
{
    return s.WaitFinished(i) ? s.Received(i) : "(connection " + std::to_string(i) + " never finished)";
}

bool HasLine(const std::string& request, const std::string& line)
{
    return request.find("\r\n" + line + "\r\n") != std::string::npos;
}

TScript MovedTo(const std::string& location)
{
    return TScript().ReadRequest().Send(TScript::Response("HTTP/1.0 302 Moved", {"Location: " + location}, ""));
}

TEST(HttpRequestRules, CredentialsGoOnlyToTheOriginTheyWereGivenFor)
{
    const std::string auth = "Authorization: Basic am9lOnB3";
    // From the address, directly: another server never sees them.
    TScriptedServer other(TScript().ReadRequest().Send("HTTP/1.0 200 OK\r\n\r\nelsewhere"));
    TScriptedServer start(MovedTo("http://127.0.0.1:" + std::to_string(other.Port()) + "/x"));
    THttpCli c;
    c.URL = "http://joe:pw@127.0.0.1:" + std::to_string(start.Port()) + "/first";
    c.Get();
    EXPECT_TRUE(HasLine(ConnectionText(start, 0), auth));
    EXPECT_EQ(ConnectionText(other, 0).find("Authorization"), std::string::npos);
    EXPECT_EQ(c.Username, "") << "the address's credentials are not kept for later requests";

    // Set by the caller, as properties or as a line of its own, through a
    // proxy (one port for every origin): kept on the same origin however it
    // is written, dropped for another port or host, sent again back home.
    // The proxy's own credentials go every time.
    TScriptedServer proxy({MovedTo("/same"), MovedTo("http://a.example:8080/port"), MovedTo("http://b.example/host"),
                           MovedTo("http://A.Example:80/back"), TScript().ReadRequest().Send("HTTP/1.0 200 OK\r\n\r\nhome")});
    THttpCli p;
    p.Proxy = "127.0.0.1:" + std::to_string(proxy.Port());
    p.Username = "joe";
    p.Password = "pw";
    p.ProxyUsername = "px";
    p.ProxyPassword = "pp";
    p.Sender = "me@x.de";
    p.OnCommand = [](THttpCli&, std::string& line) {
        if (line.rfind("From:", 0) == 0)
            line = "authorization: Bearer t0k3n";
    };
    p.URL = "http://a.example/x";
    TMemoryStream body;
    p.BodyStream = &body;
    p.Get();
    EXPECT_EQ(body.Data(), "home");
    const bool wantAuth[] = {true, true, false, false, true};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE("request " + std::to_string(i));
        const std::string request = ConnectionText(proxy, i);
        EXPECT_EQ(HasLine(request, auth), wantAuth[i]) << request;
        EXPECT_EQ(HasLine(request, "authorization: Bearer t0k3n"), wantAuth[i]) << request;
        EXPECT_TRUE(HasLine(request, "Proxy-Authorization: Basic cHg6cHA=")) << request;
    }
}

TEST(HttpRequestRules, SchemesOtherThanHttpAndHttpsFailWithoutConnecting)
{
    TScriptedServer server(TScript().ReadRequest().Send("HTTP/1.0 200 OK\r\n\r\nx"));
    const std::string port = std::to_string(server.Port());
    THttpCli c;
    TEventLog log;
    log.Attach(c);
    for (const std::string& url : {"ftp://127.0.0.1:" + port + "/x.gif", std::string("mailto:joe@127.0.0.1"),
                                  "gopher://127.0.0.1:" + port + "/"}) {
        SCOPED_TRACE(url);
        c.URL = url;
        EXPECT_EQ(GetCode(c), 404);
        EXPECT_EQ(c.DoneError(), httpErrUnsupportedScheme);
        EXPECT_EQ(c.StatusText(), "Protokoll nicht unterstützt");
    }
    EXPECT_EQ(log.Count("RequestDone 1 15"), 3);
    EXPECT_EQ(HttpDoneErrorText(httpErrUnsupportedScheme), "Protokoll nicht unterstützt");
    // Through a proxy too: the proxy would otherwise be asked to fetch it.
    c.Proxy = "127.0.0.1:" + port;
    c.URL = "ftp://h/x.gif";
    EXPECT_EQ(GetCode(c), 404);
    EXPECT_EQ(c.DoneError(), httpErrUnsupportedScheme);
    EXPECT_EQ(server.Connections(), 0);

    // A relocation to such an address ends the same way.
    TScriptedServer mover(TScript().ReadRequest().Send(TScript::Response("HTTP/1.0 302 Moved", {"Location: ftp://h/x.gif"}, "")));
    c.Proxy.clear();
    c.URL = mover.Url("/");
    EXPECT_EQ(GetCode(c), 404);
    EXPECT_EQ(c.DoneError(), httpErrUnsupportedScheme);
    EXPECT_EQ(mover.Connections(), 1);
}

TEST(HttpRequestRules, IdleTimeoutEndsAStalledBody)
{
    TScriptedServer server(TScript().ReadRequest().Send("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nabc").Hold());
    THttpCli c;
    TEventLog log;
    log.Attach(c);
    c.IdleTimeout = 0.3;
    TMemoryStream body;
    c.BodyStream = &body;
    c.URL = server.Url("/x.gif");
    EXPECT_EQ(GetCode(c), 404);
    EXPECT_EQ(c.DoneError(), httpErrIdleTimeout);
    EXPECT_EQ(body.Data(), "abc");
    EXPECT_EQ(log.Count("RequestDone 1 17"), 1);

    // A slow but steady peer is not idle: every byte restarts the clock.
    TScriptedServer slow(TScript().ReadRequest().Trickle("HTTP/1.0 200 OK\r\n\r\n0123456789", 4, 100ms));
    c.URL = slow.Url("/y.gif");
    TMemoryStream slowBody;
    c.BodyStream = &slowBody;
    c.Get();
    EXPECT_EQ(c.DoneError(), 0);
    EXPECT_EQ(slowBody.Data(), "0123456789");
}

TEST(HttpRequestRules, IdleTimeoutCountsFromTheLastByteOfTheHandshake)
{
    // The first bytes of a TLS server's answer, then silence: the client's
    // handshake takes them, the request never sees them.
    TScriptedServer server(TScript().Pause(200ms).Send(std::string("\x16\x03\x03", 3)).Hold());
    THttpCli c;
    c.IdleTimeout = 2;
    c.URL = "https://127.0.0.1:" + std::to_string(server.Port()) + "/x.gif";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GetCode(c), 404);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(c.DoneError(), httpErrIdleTimeout);
    // Two seconds after the byte at 0.2 s; a timer that only notices the
    // byte when it first fires would wait until 4 s.
    EXPECT_GE(took, 2100ms);
    EXPECT_LT(took, 3200ms);
}

TEST(HttpRequestRules, ConnectTimeoutEndsAConnectionThatNeverComes)
{
    // A listener whose backlog is full and which never accepts: the kernel
    // drops further connection requests, so a connect hangs.
    int l = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(l, 0), 0);
    socklen_t len = sizeof a;
    ::getsockname(l, reinterpret_cast<sockaddr*>(&a), &len);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        int f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers.push_back(f);
    }
    THttpCli c;
    c.ConnectTimeout = 0.3;
    c.URL = "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GetCode(c), 404);
    EXPECT_EQ(c.DoneError(), httpErrConnectTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    for (int f : fillers)
        ::close(f);
    ::close(l);
}

}  // namespace
