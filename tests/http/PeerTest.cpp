// THttpCli against real peers: nginx, and tinyproxy in front of it.
#include <chrono>
#include <thread>
#include <gtest/gtest.h>

#include "http/HttpProt.h"
#include "support/NetFixtures.h"
#include "tests/http/ClientTestUtil.h"

namespace {

using namespace wltest;

std::string Pattern(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

class HttpPeers : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        nginx = new TNginx("location = /moved { return 301 /docs/pic.gif; }\n"
                           "    location = /away { return 302 http://127.0.0.1:$server_port/docs/index.html; }");
        proxy = new TTinyproxy();
        authProxy = new TTinyproxy("joe", "secret");
    }
    static void TearDownTestSuite()
    {
        delete authProxy;
        delete proxy;
        delete nginx;
    }
    void SetUp() override
    {
        ASSERT_TRUE(nginx->Ok()) << nginx->Error();
        ASSERT_TRUE(proxy->Ok()) << proxy->Error();
        ASSERT_TRUE(authProxy->Ok()) << authProxy->Error();
    }

    static TNginx* nginx;
    static TTinyproxy* proxy;
    static TTinyproxy* authProxy;
};

TNginx* HttpPeers::nginx = nullptr;
TTinyproxy* HttpPeers::proxy = nullptr;
TTinyproxy* HttpPeers::authProxy = nullptr;

TEST_F(HttpPeers, StaticFileArrivesWhole)
{
    const std::string data = Pattern(300000);
    nginx->WriteDoc("docs/pic.gif", data);
    THttpCli c;
    TMemoryStream out;
    c.BodyStream = &out;
    std::int64_t lastCount = 0;
    bool monotonic = true;
    c.OnDocData = [&](THttpCli& s, const char*, int) {
        monotonic = monotonic && s.BodyCount() > lastCount && s.ContentLength() == 300000;
        lastCount = s.BodyCount();
    };
    c.URL = nginx->Url("/docs/pic.gif");
    c.Get();
    EXPECT_EQ(c.StatusCode(), 200);
    EXPECT_EQ(c.ContentType(), "image/gif");
    EXPECT_EQ(c.ContentLength(), 300000);
    EXPECT_TRUE(out.Data() == data);
    EXPECT_TRUE(monotonic);
    EXPECT_EQ(c.DocumentName(), "pic.gif");
}

TEST_F(HttpPeers, DownloadIntoFileStream)
{
    const std::string data = Pattern(70000);
    nginx->WriteDoc("docs/big.jpg", data);
    TTempDir dir;
    THttpCli c;
    TFileStream file(dir.Path() + "/big.jpg");
    c.BodyStream = &file;
    c.URL = nginx->Url("/docs/big.jpg");
    c.Get();
    ASSERT_TRUE(file.Commit());
    EXPECT_TRUE(ReadFile(dir.Path() + "/big.jpg") == data);
}

TEST_F(HttpPeers, NotFoundRaisesWithStatus)
{
    THttpCli c;
    TMemoryStream out;
    c.BodyStream = &out;
    c.URL = nginx->Url("/docs/none.gif");
    try {
        c.Get();
        FAIL() << "no exception";
    } catch (const EHttpException& e) {
        EXPECT_EQ(e.ErrorCode, 404);
        EXPECT_STREQ(e.what(), "Not Found");
    }
    EXPECT_EQ(c.DoneError(), 0);
    EXPECT_EQ(c.State(), hsIdle);
}

TEST_F(HttpPeers, ReturnRedirectsAreFollowed)
{
    const std::string data = Pattern(5000);
    nginx->WriteDoc("docs/pic.gif", data);
    nginx->WriteDoc("docs/index.html", "<html>index</html>");
    THttpCli c;
    TEventLog log;
    log.Attach(c);
    TMemoryStream out;
    c.BodyStream = &out;
    c.URL = nginx->Url("/moved");
    c.Get();
    EXPECT_TRUE(out.Data() == data);
    EXPECT_EQ(c.StatusCode(), 200);
    EXPECT_EQ(log.Count("LocationChange"), 1);
    EXPECT_EQ(c.Location(), nginx->Url("/docs/pic.gif"));

    out.Clear();
    c.URL = nginx->Url("/away");
    c.Get();
    EXPECT_EQ(out.Data(), "<html>index</html>");
}

TEST_F(HttpPeers, ThroughTinyproxy)
{
    nginx->WriteDoc("docs/via.txt", "through the proxy");
    THttpCli c;
    TMemoryStream out;
    c.BodyStream = &out;
    c.URL = nginx->Url("/docs/via.txt");
    c.Proxy = proxy->HostPort();
    c.Get();
    EXPECT_EQ(out.Data(), "through the proxy");
    // nginx saw the proxy's request for the target we named (host and port).
    const std::string wanted = "GET /docs/via.txt HTTP/1.0|127.0.0.1:" + std::to_string(nginx->Port()) + "|";
    const std::string logText = nginx->AccessLogWith(wanted);
    EXPECT_NE(logText.find(wanted), std::string::npos) << logText;
}

TEST_F(HttpPeers, ProxyAuthorisation)
{
    nginx->WriteDoc("docs/secret.txt", "let in");
    THttpCli c;
    TMemoryStream out;
    c.BodyStream = &out;
    c.URL = nginx->Url("/docs/secret.txt");
    c.Proxy = "127.0.0.1";
    c.ProxyPort = std::to_string(authProxy->Port());
    EXPECT_EQ(GetCode(c), 407);

    out.Clear();
    c.ProxyUsername = "joe";
    c.ProxyPassword = "secret";
    c.Get();
    EXPECT_EQ(out.Data(), "let in");
}

TEST_F(HttpPeers, ManyRequestsLeaveNoDescriptors)
{
    nginx->WriteDoc("docs/small.html", Pattern(5000));
    THttpCli c;
    c.URL = nginx->Url("/docs/small.html");
    c.Get();
    int before = OpenDescriptorCount();
    for (int i = 0; i < 300; ++i) {
        TNullStream sink;
        c.BodyStream = &sink;
        c.Get();
        ASSERT_EQ(sink.Size(), 5000);
    }
    EXPECT_EQ(OpenDescriptorCount(), before);
}

}  // namespace
