// Persistent connections: nginx shows in its log which connection carried
// each request; scripted servers close kept connections at the worst moment,
// answer without length, or say close.
#include <chrono>
#include <memory>
#include <poll.h>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ClientTestUtil.h"
#include "http/HttpProt.h"
#include "support/NetFixtures.h"

using namespace wltest;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// Lines of nginx's connection log: "connection-number request-Connection-header request-line".
std::vector<std::string> LogLines(const std::string& path, std::size_t atLeast)
{
    // nginx writes its log line after the response went out: wait for it.
    std::vector<std::string> lines;
    for (int i = 0; i < 500; ++i) {
        lines.clear();
        const std::string text = ReadFile(path);
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos)
                end = text.size();
            lines.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        if (lines.size() >= atLeast)
            break;
        ::poll(nullptr, 0, 10);
    }
    return lines;
}

std::string ConnectionOf(const std::string& logLine) { return logLine.substr(0, logLine.find(' ')); }

std::string Fetch(THttpCli& c, const std::string& url)
{
    TMemoryStream body;
    c.BodyStream = &body;
    c.URL = url;
    const int code = GetCode(c);
    c.BodyStream = nullptr;
    return code == -1 ? body.Data() : "error " + std::to_string(code) + " " + std::to_string(c.DoneError());
}

std::string Kept(const std::string& body)
{
    return TScript::Response("HTTP/1.1 200 OK", {"Content-Length: " + std::to_string(body.size()),
                                                 "Connection: keep-alive"},
                             body);
}

class KeepAliveNginx : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Pki.Ok()) << Pki.Error();
        Docs.WriteFile("a.txt", "erstes");
        Docs.WriteFile("b.txt", std::string(100000, 'b'));
        Docs.WriteFile("empty.txt", "");
        // Servers of their own, after the log format they write.
        PlainPort = FreePort();
        TlsPort = FreePort();
        const std::string log = "access_log " + Logs.Path() + "/conn.log conn;";
        Nginx = std::make_unique<TNginx>(
            "", "  log_format conn '$connection $http_connection $request';\n"
                "  server {\n    listen 127.0.0.1:" + std::to_string(PlainPort) + ";\n    root " + Docs.Path() +
                    ";\n    location /kaputt { return 503; }\n    " + log + "\n  }\n" + Pki.NginxServer(TlsPort, TTestPki::Good, Docs.Path(), log));
        ASSERT_TRUE(Nginx->Ok()) << Nginx->Error();
        ASSERT_TRUE(WaitListening(PlainPort, 10s));
        ASSERT_TRUE(WaitListening(TlsPort, 10s));
    }

    std::string Http(const std::string& path, const std::string& host = "127.0.0.1") const
    {
        return "http://" + host + ":" + std::to_string(PlainPort) + path;
    }
    std::string Https(const std::string& path) const
    {
        return "https://127.0.0.1:" + std::to_string(TlsPort) + path;
    }
    std::string LogPath() const { return Logs.Path() + "/conn.log"; }

    TTestPki Pki;
    TTempDir Docs, Logs;
    int PlainPort = 0, TlsPort = 0;
    std::unique_ptr<TNginx> Nginx;
};

}  // namespace

TEST_F(KeepAliveNginx, OneConnectionCarriesEveryRequestToTheSameServer)
{
    THttpCli c;
    c.KeepAlive = true;
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(Fetch(c, Http("/a.txt")), "erstes");
        EXPECT_EQ(Fetch(c, Http("/b.txt")), std::string(100000, 'b'));
        EXPECT_EQ(Fetch(c, Http("/empty.txt")), "");
    }
    // Error answers with a length keep the connection as well (nginx
    // itself closes after a 500).
    EXPECT_EQ(Fetch(c, Http("/missing.txt")), "error 404 0");
    EXPECT_EQ(Fetch(c, Http("/kaputt")), "error 503 0");
    EXPECT_EQ(Fetch(c, Http("/a.txt")), "erstes");
    // Another host name is another server: a connection of its own.
    EXPECT_EQ(Fetch(c, Http("/a.txt", "localhost")), "erstes");
    const std::vector<std::string> log = LogLines(LogPath(), 34);
    ASSERT_EQ(log.size(), 34u);
    for (std::size_t i = 0; i < 33; ++i) {
        EXPECT_EQ(ConnectionOf(log[i]), ConnectionOf(log[0])) << log[i];
        EXPECT_THAT(log[i], HasSubstr(" keep-alive GET /"));
    }
    EXPECT_NE(ConnectionOf(log[33]), ConnectionOf(log[0]));
}

TEST_F(KeepAliveNginx, WithoutKeepAliveEveryRequestHasItsOwnConnection)
{
    THttpCli c;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Fetch(c, Http("/a.txt")), "erstes");
    const std::vector<std::string> log = LogLines(LogPath(), 3);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_NE(ConnectionOf(log[0]), ConnectionOf(log[1]));
    EXPECT_NE(ConnectionOf(log[1]), ConnectionOf(log[2]));
    for (const std::string& line : log)
        EXPECT_THAT(line, HasSubstr(" - GET /a.txt HTTP/1.0")) << "no Connection header at all";
}

TEST_F(KeepAliveNginx, HttpsKeepsItsSessionOnTheOpenConnection)
{
    THttpCli c;
    c.KeepAlive = true;
    c.CaFile = Pki.CaFile();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Fetch(c, Https("/a.txt")), "erstes");
        EXPECT_EQ(Fetch(c, Https("/b.txt")), std::string(100000, 'b'));
    }
    // A switch to plain http and back: each scheme is a connection of its own.
    EXPECT_EQ(Fetch(c, Http("/a.txt")), "erstes");
    EXPECT_EQ(Fetch(c, Https("/a.txt")), "erstes");
    const std::vector<std::string> log = LogLines(LogPath(), 12);
    ASSERT_EQ(log.size(), 12u);
    for (std::size_t i = 0; i < 10; ++i)
        EXPECT_EQ(ConnectionOf(log[i]), ConnectionOf(log[0])) << log[i];
    EXPECT_NE(ConnectionOf(log[10]), ConnectionOf(log[0]));
    EXPECT_NE(ConnectionOf(log[11]), ConnectionOf(log[0]));
}

TEST(KeepAliveScripted, RequestLinesWithAndWithoutKeepAlive)
{
    TScript s;
    s.ReadRequest().Send(TScript::Response("HTTP/1.0 200 OK", {}, "x"));
    TScriptedServer server(s);
    THttpCli c;
    EXPECT_EQ(Fetch(c, server.Url("/p.gif")), "x");
    const std::string host = "127.0.0.1:" + std::to_string(server.Port());
    EXPECT_EQ(server.Received(0), "GET /p.gif HTTP/1.0\r\n"
                                  "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
                                  "User-Agent: Mozilla/3.0 (compatible)\r\n"
                                  "Host: " + host + "\r\n\r\n");
    c.KeepAlive = true;
    EXPECT_EQ(Fetch(c, server.Url("/p.gif")), "x");
    ASSERT_TRUE(server.WaitFinished(1));
    EXPECT_EQ(server.Received(1), "GET /p.gif HTTP/1.0\r\n"
                                  "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
                                  "User-Agent: Mozilla/3.0 (compatible)\r\n"
                                  "Host: " + host + "\r\nConnection: keep-alive\r\n\r\n");
}

TEST(KeepAliveScripted, ConnectionClosedWhileIdleIsRetriedOnceOnly)
{
    // Connection 0 answers once; the server closes it when the next request
    // has gone out on it, without a byte of answer.
    TScript once, answers, silent;
    once.ReadRequest().Send(Kept("eins")).ReadRequest();
    answers.ReadRequest().Send(Kept("zwei"));
    silent.ReadRequest();
    // The second case: the fresh connection closes without a byte as well;
    // that is the server's answer, not a reason for a third try.
    for (const TScript* second : {&answers, &silent}) {
        const bool answered = second == &answers;
        SCOPED_TRACE(answered ? "answered on the fresh connection" : "closed again");
        TScriptedServer server({once, *second, answers});
        THttpCli c;
        c.KeepAlive = true;
        EXPECT_EQ(Fetch(c, server.Url("/1")), "eins");
        TEventLog log;
        log.Attach(c);
        EXPECT_EQ(Fetch(c, server.Url("/2")), answered ? "zwei" : "");
        EXPECT_EQ(log.Count("SessionConnected"), 2) << "sent on the kept connection, then on a fresh one";
        EXPECT_EQ(log.Count("RequestDone 1 0"), 1);
        EXPECT_EQ(c.StatusCode(), answered ? 200 : 0);
        ASSERT_TRUE(server.WaitFinished(1));
        EXPECT_EQ(server.Connections(), 2);
        EXPECT_THAT(server.Received(1), HasSubstr("GET /2 HTTP/1.0"));
    }
}

TEST(KeepAliveScripted, NoRetryOnceTheResponseHasBegun)
{
    TScript cutBody, answers;
    cutBody.ReadRequest().Send(Kept("eins")).ReadRequest().Send(
        "HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: keep-alive\r\n\r\nabc");
    answers.ReadRequest().Send(Kept("falsch"));
    TScriptedServer server({cutBody, answers});
    THttpCli c;
    c.KeepAlive = true;
    EXPECT_EQ(Fetch(c, server.Url("/1")), "eins");
    EXPECT_EQ(Fetch(c, server.Url("/2")), "error 404 " + std::to_string(httpErrTruncated));
    ASSERT_TRUE(server.WaitFinished(0));
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_THAT(server.Received(0), HasSubstr("GET /2 HTTP/1.0"));
}

TEST(KeepAliveScripted, ResponsesThatCannotKeepTheConnectionEndAsBefore)
{
    // "Connection: close"; no length at all (the body ends with the close);
    // more body than announced (the body ends at its length, the rest goes
    // with the connection); a 304 and a 204 without body keep it, and so
    // does a 500 with its length.
    TScript closing, noLength, tooLong, bodiless;
    closing.ReadRequest().Send(
        TScript::Response("HTTP/1.1 200 OK", {"Content-Length: 3", "Connection: close"}, "zu!"));
    noLength.ReadRequest()
        .Send("HTTP/1.1 200 OK\r\nConnection: keep-alive\r\n\r\nohne ")
        .Pause(20ms)
        .Send("Laenge");
    tooLong.ReadRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: keep-alive\r\n\r\nabcdef");
    bodiless.ReadRequest()
        .Send("HTTP/1.1 304 Not Modified\r\nConnection: Keep-Alive\r\n\r\n")
        .ReadRequest()
        .Send("HTTP/1.1 204 No Content\r\nConnection: foo, keep-alive\r\n\r\n")
        .ReadRequest()
        .Send(TScript::Response("HTTP/1.1 500 Kaputt", {"Content-Length: 4", "Connection: keep-alive"}, "weg!"))
        .ReadRequest()
        .Send(Kept("danach"));
    TScriptedServer server({closing, noLength, tooLong, bodiless});
    THttpCli c;
    c.KeepAlive = true;
    EXPECT_EQ(Fetch(c, server.Url("/close")), "zu!");
    EXPECT_EQ(Fetch(c, server.Url("/nolength")), "ohne Laenge");
    EXPECT_EQ(Fetch(c, server.Url("/toolong")), "ab");
    EXPECT_EQ(Fetch(c, server.Url("/304")), "");
    EXPECT_EQ(c.StatusCode(), 304);
    EXPECT_EQ(Fetch(c, server.Url("/204")), "");
    EXPECT_EQ(c.StatusCode(), 204);
    EXPECT_EQ(Fetch(c, server.Url("/500")), "error 500 0");
    EXPECT_EQ(Fetch(c, server.Url("/after")), "danach");
    ASSERT_TRUE(server.WaitFinished(3));
    EXPECT_EQ(server.Connections(), 4);
    EXPECT_THAT(server.Received(3), HasSubstr("GET /after"));

    // An error answer that names another place keeps its connection to the
    // server that answered, not to the place it named.
    TScriptedServer elsewhere(TScript().ReadRequest().Send(Kept("dort")));
    TScript moved;
    moved.ReadRequest()
        .Send(TScript::Response("HTTP/1.1 404 Weg", {"Location: " + elsewhere.Url("/x"), "Content-Length: 4",
                                                     "Connection: keep-alive"},
                                "weg!"))
        .ReadRequest()
        .Send(Kept("falsch"));
    TScriptedServer here(moved);
    THttpCli m;
    m.KeepAlive = true;
    EXPECT_EQ(Fetch(m, here.Url("/a")), "error 404 0");
    EXPECT_EQ(Fetch(m, elsewhere.Url("/x")), "dort");
}

TEST(KeepAliveScripted, AbortOnAKeptConnectionThenAFreshOne)
{
    // The second request stalls on the kept connection: Abort ends it with
    // code 3, and the next request goes out on a fresh connection.
    TScript stall, fresh;
    stall.ReadRequest().Send(Kept("eins")).ReadRequest().Hold();
    fresh.ReadRequest().Send(Kept("neu"));
    TScriptedServer server({stall, fresh});
    THttpCli c;
    c.KeepAlive = true;
    EXPECT_EQ(Fetch(c, server.Url("/1")), "eins");
    {
        // The watcher asks once: it waits here until the request is in.
        TWhen abort(
            [&] {
                const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
                while (server.Received(0).find("GET /2") == std::string::npos) {
                    if (std::chrono::steady_clock::now() > end)
                        return false;
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                return true;
            },
            [&] { c.Abort(); });
        EXPECT_EQ(Fetch(c, server.Url("/2")), "error 404 3");
    }
    EXPECT_EQ(Fetch(c, server.Url("/3")), "neu");
    EXPECT_EQ(server.Connections(), 2);
}

TEST(KeepAliveScripted, BytesNobodyAskedForNeverReachTheNextResponse)
{
    // Empty lines before the status line are no answer of their own.
    TScript blank;
    blank.ReadRequest().Send("\r\n\r\n" + Kept("leer"));
    // A stray CR LF behind a whole answer, waiting in the socket when the
    // next request would go out: the connection is not used again.
    TScript stray;
    stray.ReadRequest().Send(Kept("eins")).Pause(20ms).Send("\r\n").ReadRequest().Send(Kept("falsch"));
    // More body than announced: the answer ends at its length, at once, and
    // the rest goes with the connection.
    TScript surplus;
    surplus.ReadRequest().Send(Kept("eins") + "zuviel").ReadRequest().Send(Kept("falsch"));
    // The kept connection answers the next request without status line:
    // broken, so the request goes again on a fresh connection.
    TScript garbage;
    garbage.ReadRequest().Send(Kept("eins")).ReadRequest().Send("Unsinn\r\n\r\nxyz");
    TScript fresh;
    fresh.ReadRequest().Send(Kept("zwei"));
    for (const TScript* first : {&stray, &surplus, &garbage}) {
        SCOPED_TRACE(first == &stray ? "stray line end" : first == &surplus ? "surplus body" : "no status line");
        TScriptedServer server({*first, fresh});
        THttpCli c;
        c.KeepAlive = true;
        c.IdleTimeout = 5; // today's stall must end the test too
        EXPECT_EQ(Fetch(c, server.Url("/1")), "eins");
        if (first == &stray) {
            // The bytes wait in the socket, unless the client saw them while
            // still pumping for the answer and closed the connection then.
            pollfd p{c.Socket().HSocket(), POLLIN, 0};
            if (p.fd != -1) {
                ASSERT_EQ(::poll(&p, 1, 5000), 1) << "the stray bytes are there before the next request";
            }
        }
        EXPECT_EQ(Fetch(c, server.Url("/2")), "zwei");
        EXPECT_EQ(c.StatusCode(), 200);
        ASSERT_TRUE(server.WaitFinished(1));
        EXPECT_EQ(server.Connections(), 2);
        EXPECT_THAT(server.Received(1), HasSubstr("GET /2 HTTP/1.0"));
    }
    TScriptedServer server(blank);
    THttpCli c;
    c.KeepAlive = true;
    EXPECT_EQ(Fetch(c, server.Url("/leer")), "leer");
    EXPECT_EQ(c.StatusCode(), 200);
}
