// Second-reader checks of the client: aborts from every state change and
// relocation and header details that the main suites leave out.
#include <gtest/gtest.h>

#include "http/HttpProt.h"
#include "net/WSocket.h"
#include "support/NetFixtures.h"
#include "tests/http/ClientTestUtil.h"

namespace {

using namespace wltest;

const std::string kOk = TScript::Response("HTTP/1.0 200 OK", {"Content-Length: 5"}, "hello");

// Abort from the handler of each state change: the request ends as aborted,
// nothing of it goes on afterwards, and the next request works.
TEST(HttpReview, AbortFromEveryStateChange)
{
    for (THttpCliState at : {hsStarting, hsResolving, hsConnecting, hsConnected, hsAwaitingHeader, hsReceivingBody}) {
        TScriptedServer server({TScript().ReadRequest().Send(kOk), TScript().ReadRequest().Send(kOk)});
        THttpCli c;
        TEventLog log;
        log.Attach(c);
        auto record = c.OnStateChange;
        bool armed = true;
        c.OnStateChange = [&](THttpCli& s) {
            record(s);
            if (armed && s.State() == at) {
                armed = false;
                s.Abort();
            }
        };
        TMemoryStream out;
        c.BodyStream = &out;
        c.URL = server.Url("/");
        EXPECT_EQ(GetCode(c), 404) << StateName(at);
        EXPECT_EQ(c.DoneError(), httpErrAborted) << StateName(at);
        EXPECT_EQ(c.StatusText(), "Connection aborted on request") << StateName(at);
        EXPECT_EQ(log.Count("RequestDone 1 3"), 1) << StateName(at);
        EXPECT_EQ(log.events.back(), "RequestDone 1 3") << StateName(at);
        EXPECT_EQ(c.State(), hsIdle) << StateName(at);
        EXPECT_FALSE(c.IsConnected()) << StateName(at);
        EXPECT_EQ(c.Socket().State(), wsClosed) << StateName(at);
        // Nothing of the aborted request runs later, inside the next one.
        log.events.clear();
        out.Clear();
        c.Get();
        EXPECT_EQ(out.Data(), "hello") << StateName(at);
        EXPECT_EQ(log.Count("State Resolving"), 1) << StateName(at);
        EXPECT_EQ(log.events.back(), "RequestDone 1 0") << StateName(at);
    }
}

TEST(HttpReview, AbortFromOtherHandlers)
{
    using TSetter = std::function<void(THttpCli&)>;
    const std::vector<std::pair<const char*, TSetter>> cases = {
        {"SessionConnected", [](THttpCli& c) { c.OnSessionConnected = [](THttpCli& s) { s.Abort(); }; }},
        {"RequestHeaderBegin", [](THttpCli& c) { c.OnRequestHeaderBegin = [](THttpCli& s) { s.Abort(); }; }},
        {"RequestHeaderEnd", [](THttpCli& c) { c.OnRequestHeaderEnd = [](THttpCli& s) { s.Abort(); }; }},
        {"HeaderBegin", [](THttpCli& c) { c.OnHeaderBegin = [](THttpCli& s) { s.Abort(); }; }},
        {"HeaderEnd", [](THttpCli& c) { c.OnHeaderEnd = [](THttpCli& s) { s.Abort(); }; }},
        {"DocBegin", [](THttpCli& c) { c.OnDocBegin = [](THttpCli& s) { s.Abort(); }; }},
    };
    for (const auto& [name, set] : cases) {
        for (const std::string& first : {kOk, std::string("<HTML>\r\nhello")}) {
            TScriptedServer server({TScript().ReadRequest().Send(first), TScript().ReadRequest().Send(kOk)});
            THttpCli c;
            int done = 0;
            c.OnRequestDone = [&](THttpCli&, THttpRequest, std::uint16_t e) {
                ++done;
                EXPECT_EQ(e, httpErrAborted) << name;
            };
            set(c);
            c.URL = server.Url("/");
            EXPECT_EQ(GetCode(c), 404) << name;
            EXPECT_EQ(done, 1) << name;
            EXPECT_EQ(c.State(), hsIdle) << name;
            EXPECT_EQ(c.Socket().State(), wsClosed) << name;

            THttpCli fresh; // the aborted client's handlers would abort again
            TMemoryStream out;
            fresh.BodyStream = &out;
            fresh.URL = server.Url("/");
            fresh.Get();
            EXPECT_EQ(out.Data(), "hello") << name;
        }
    }
}

// An error status closes the connection before its body is handled: the body
// of that packet still arrives, but no later close ends a document.
TEST(HttpReview, AbortInTheBodyOfAnErrorResponseFiresNoDocEnd)
{
    TScriptedServer server(TScript().ReadRequest().Send(
        TScript::Response("HTTP/1.0 404 Not Found", {"Content-Length: 4"}, "gone")));
    THttpCli c;
    TEventLog log;
    log.Attach(c);
    c.OnDocData = [](THttpCli& s, const char*, int) { s.Abort(); };
    c.URL = server.Url("/");
    EXPECT_EQ(GetCode(c), 404);
    EXPECT_EQ(c.DoneError(), httpErrAborted);
    EXPECT_EQ(log.Count("DocEnd"), 0);
    EXPECT_EQ(log.Count("RequestDone 1 3"), 1);
    EXPECT_EQ(c.State(), hsIdle);
}

// Header lines are all kept: a server that sends them without end is cut off
// instead of filling memory, and the client is ready again afterwards.
TEST(HttpReview, EndlessHeaderIsCutOff)
{
    std::string many = "HTTP/1.0 200 OK\r\n";
    for (int i = 0; i < 20000; ++i)
        many += "X-A: b\r\n";
    TScriptedServer server({TScript().ReadRequest().Send(many), TScript().ReadRequest().Send(kOk)});
    THttpCli c;
    c.URL = server.Url("/");
    EXPECT_EQ(GetCode(c), 404);
    EXPECT_EQ(c.DoneError(), httpErrHeaderTooLarge);
    EXPECT_LT(c.ResponseHeader().size(), 20000u);
    EXPECT_EQ(c.State(), hsIdle);
    TMemoryStream out;
    c.BodyStream = &out;
    c.Get();
    EXPECT_EQ(out.Data(), "hello");
}

}  // namespace
