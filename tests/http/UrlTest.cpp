// Address splitting, request targets and relocation targets.
#include <gtest/gtest.h>

#include "http/HttpProt.h"

namespace {

void ExpectParts(const std::string& url, const TUrlParts& want)
{
    TUrlParts got = SplitUrl(url);
    EXPECT_EQ(got.Proto, want.Proto) << url;
    EXPECT_EQ(got.User, want.User) << url;
    EXPECT_EQ(got.Pass, want.Pass) << url;
    EXPECT_EQ(got.Host, want.Host) << url;
    EXPECT_EQ(got.Port, want.Port) << url;
    EXPECT_EQ(got.Path, want.Path) << url;
}

TEST(SplitUrl, AbsoluteRelativeAndProxyForms)
{
    ExpectParts("", {});
    ExpectParts("http://joe:pw@www.x.de:8080/a/b.htm?q=1/2", {"http", "joe", "pw", "www.x.de", "8080", "/a/b.htm?q=1/2"});
    ExpectParts("ftp://h/x", {"ftp", "", "", "h", "", "/x"});
    ExpectParts("www.x.de/pics/a.gif", {"", "", "", "www.x.de", "", "/pics/a.gif"});
    ExpectParts("/pics/a.gif", {"http", "", "", "", "", "/pics/a.gif"});
    ExpectParts("proxy.local:3128", {"", "", "", "proxy.local", "3128", ""});
    ExpectParts("proxy.local", {"", "", "", "proxy.local", "", ""});
    ExpectParts("http://host", {"http", "", "", "host", "", ""});
}

TEST(SplitUrl, OddLeadingForms)
{
    // Two slashes do not introduce a host here.
    ExpectParts("//host/x", {"http", "", "", "", "", "/host/x"});
    ExpectParts("/", {"http", "", "", "", "", ""});
    // "http:" without "//": a single-slash path, or the rest as host.
    ExpectParts("HTTP:/pics/a.gif", {"http", "", "", "", "", "/pics/a.gif"});
    ExpectParts("http:/", {"http", "", "", "", "", ""});
    ExpectParts("mailto:joe@example.com", {"mailto", "joe", "", "example.com", "", ""});
    ExpectParts("MailTo:a@b@c.org", {"mailto", "a@b", "", "c.org", "", ""});
}

TEST(SplitUrl, UserInformation)
{
    // The last "@" separates user information from host, also with "@" in the password.
    ExpectParts("http://u:p@ss@h/", {"http", "u", "p@ss", "h", "", "/"});
    ExpectParts("http://u@h:81/", {"http", "u", "", "h", "81", "/"});
    ExpectParts("http://u:p@h", {"http", "u", "p", "h", "", ""});
    ExpectParts("http://:p@h/", {"http", "", "p", "h", "", "/"});
    ExpectParts("http://h:/x", {"http", "", "", "h", "", "/x"});
}

TEST(UrlHelpers, PosOccurrenceAndSetDocExtension)
{
    EXPECT_EQ(PosOccurrence("/", "/a/b/c", 1), 1);
    EXPECT_EQ(PosOccurrence("/", "/a/b/c", 3), 5);
    EXPECT_EQ(PosOccurrence("/", "/a/b/c", 4), 0);
    EXPECT_EQ(PosOccurrence("/", "/a/b/c", -1), 5);
    EXPECT_EQ(PosOccurrence("/", "/a/b/c", -3), 1);
    EXPECT_EQ(PosOccurrence("/", "/a/b/c", -4), 0);
    EXPECT_EQ(PosOccurrence("ab", "abab", -1), 3);
    EXPECT_EQ(PosOccurrence("x", "abc", -1), 0);
    EXPECT_EQ(PosOccurrence("x", "", 1), 0);

    EXPECT_EQ(SetDocExtension("setup.exe", "htm"), "setup.htm");
    EXPECT_EQ(SetDocExtension("a.b.exe", "htm"), "a.b.htm");
    EXPECT_EQ(SetDocExtension("readme", "htm"), "readme.htm");
    EXPECT_EQ(SetDocExtension("dir.", "htm"), "dir.htm");
}

TEST(UrlHelpers, DocumentName)
{
    EXPECT_EQ(DocumentNameOf(""), "document.htm");
    EXPECT_EQ(DocumentNameOf("/"), "document.htm");
    EXPECT_EQ(DocumentNameOf("/pics/"), "pics");
    EXPECT_EQ(DocumentNameOf("/pics/a.gif"), "a.gif");
    EXPECT_EQ(DocumentNameOf("/cgi/show.php?id=3&x=4"), "show.php");
    EXPECT_EQ(DocumentNameOf("/" + std::string(300, 'n')), std::string(255, 'n'));
}

TEST(RequestTarget, Direct)
{
    std::string user = "old", pass = "oldpw";
    THttpTarget t = DeriveRequestTarget("http://www.x.de", "", "80", user, pass);
    EXPECT_EQ(t.RequestTarget, "/");
    EXPECT_EQ(t.DocumentName, "document.htm");
    EXPECT_EQ(t.ConnectHost, "www.x.de");
    EXPECT_EQ(t.ConnectPort, "80");
    EXPECT_EQ(t.HostHeader, "www.x.de");
    EXPECT_EQ(t.Location, "http://www.x.de");
    // No user information in the address: the properties keep their values.
    EXPECT_EQ(user, "old");
    EXPECT_EQ(pass, "oldpw");

    t = DeriveRequestTarget("http://joe:pw@h:8080/a/b/?x", "", "80", user, pass);
    EXPECT_EQ(t.RequestTarget, "/a/b/?x");
    EXPECT_EQ(t.ConnectHost, "h");
    EXPECT_EQ(t.ConnectPort, "8080");
    EXPECT_EQ(t.HostHeader, "h");
    EXPECT_EQ(t.DocumentName, "");
    EXPECT_EQ(user, "joe");
    EXPECT_EQ(pass, "pw");

    t = DeriveRequestTarget("http://only@h/x.gif", "", "80", user, pass);
    EXPECT_EQ(user, "only");
    EXPECT_EQ(pass, "pw"); // an empty password in the address does not clear it
}

TEST(RequestTarget, ThroughProxy)
{
    std::string user, pass;
    THttpTarget t = DeriveRequestTarget("www.x.de:81/p/a.gif", "proxy.lan:3128", "80", user, pass);
    EXPECT_EQ(t.RequestTarget, "http://www.x.de:81/p/a.gif");
    EXPECT_EQ(t.HostHeader, "www.x.de");
    EXPECT_EQ(t.ConnectHost, "proxy.lan");
    EXPECT_EQ(t.ConnectPort, "3128");
    EXPECT_EQ(t.DocumentName, "a.gif");

    t = DeriveRequestTarget("http://www.x.de", "http://proxy.lan", "8000", user, pass);
    EXPECT_EQ(t.RequestTarget, "http://www.x.de");
    EXPECT_EQ(t.ConnectHost, "proxy.lan");
    EXPECT_EQ(t.ConnectPort, "8000");
}

THttpTarget Direct(const std::string& url)
{
    std::string u, p;
    return DeriveRequestTarget(url, "", "80", u, p);
}

THttpTarget Proxied(const std::string& url)
{
    std::string u, p;
    return DeriveRequestTarget(url, "proxy:3128", "80", u, p);
}

TEST(Relocation, DirectTable)
{
    THttpTarget t = Direct("http://a.de/dir/page.htm");
    ApplyRelocation("/other/x.htm", false, t);
    EXPECT_EQ(t.RequestTarget, "/other/x.htm");
    EXPECT_EQ(t.ConnectHost, "a.de");
    EXPECT_EQ(t.HostHeader, "a.de");
    EXPECT_EQ(t.Location, "http://a.de/other/x.htm");

    t = Direct("http://a.de:8080/dir/page.htm");
    ApplyRelocation("http://b.de", false, t);
    EXPECT_EQ(t.RequestTarget, "/");
    EXPECT_EQ(t.ConnectHost, "b.de");
    EXPECT_EQ(t.HostHeader, "b.de");
    EXPECT_EQ(t.ConnectPort, "80"); // another host without a port: the default again
    EXPECT_EQ(t.Location, "http://b.de");

    t = Direct("http://a.de/dir/page.htm");
    ApplyRelocation("http://b.de:8081/p", false, t);
    EXPECT_EQ(t.ConnectPort, "8081");
    EXPECT_EQ(t.RequestTarget, "/p");
    EXPECT_EQ(t.HostHeader, "b.de");

    // A bare file name goes to the old host, in absolute form.
    t = Direct("http://a.de/dir/page.htm");
    ApplyRelocation("new.htm", false, t);
    EXPECT_EQ(t.Location, "http://a.de/new.htm");
    EXPECT_EQ(t.RequestTarget, "http://a.de/new.htm");
    EXPECT_EQ(t.ConnectHost, "a.de");
    EXPECT_EQ(t.HostHeader, "a.de");

    // Protocol, colon and a single-slash path.
    t = Direct("http://a.de/dir/page.htm");
    ApplyRelocation("http:/x/y.htm", false, t);
    EXPECT_EQ(t.RequestTarget, "/x/y.htm");
    EXPECT_EQ(t.ConnectHost, "a.de");
    EXPECT_EQ(t.Location, "http://a.de/x/y.htm");

    // Host and path without protocol: Location stays as it was.
    t = Direct("http://a.de/dir/page.htm");
    ApplyRelocation("c.de/z.htm", false, t);
    EXPECT_EQ(t.RequestTarget, "/z.htm");
    EXPECT_EQ(t.ConnectHost, "c.de");
    EXPECT_EQ(t.HostHeader, "c.de");
    EXPECT_EQ(t.Location, "http://a.de/dir/page.htm");
}

TEST(Relocation, TwoInARowStack)
{
    THttpTarget t = Direct("http://a.de/start");
    ApplyRelocation("http://b.de/one", false, t);
    ApplyRelocation("/two", false, t);
    EXPECT_EQ(t.ConnectHost, "b.de");
    EXPECT_EQ(t.RequestTarget, "/two");
    EXPECT_EQ(t.Location, "http://b.de/two");
}

TEST(Relocation, ProxyTable)
{
    THttpTarget t = Proxied("http://a.de:81/dir/page.htm");
    ApplyRelocation("/other.htm", true, t);
    EXPECT_EQ(t.Location, "http://a.de:81/other.htm");
    EXPECT_EQ(t.RequestTarget, "http://a.de:81/other.htm");
    EXPECT_EQ(t.HostHeader, "a.de");
    EXPECT_EQ(t.ConnectHost, "proxy");
    EXPECT_EQ(t.ConnectPort, "3128");

    t = Proxied("http://a.de/dir/page.htm");
    ApplyRelocation("http://b.de:8081/x", true, t);
    EXPECT_EQ(t.Location, "http://b.de:8081/x");
    EXPECT_EQ(t.RequestTarget, "http://b.de:8081/x");
    EXPECT_EQ(t.HostHeader, "b.de");
    EXPECT_EQ(t.ConnectHost, "proxy");
    EXPECT_EQ(t.ConnectPort, "3128"); // the proxy stays the peer

    // A host without protocol changes only the Host line.
    t = Proxied("http://a.de/dir/page.htm");
    ApplyRelocation("c.de/z", true, t);
    EXPECT_EQ(t.RequestTarget, "http://a.de/dir/page.htm");
    EXPECT_EQ(t.HostHeader, "c.de");
    EXPECT_EQ(t.Location, "http://a.de/dir/page.htm");
}

TEST(TextHelpers, Base64)
{
    EXPECT_EQ(Base64Encode(""), "");
    EXPECT_EQ(Base64Encode("f"), "Zg==");
    EXPECT_EQ(Base64Encode("fo"), "Zm8=");
    EXPECT_EQ(Base64Encode("foo"), "Zm9v");
    EXPECT_EQ(Base64Encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(Base64Encode("Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    EXPECT_EQ(Base64Encode(std::string("\xff\xfe\x00", 3)), "//4A");
    // Long values never get line breaks.
    EXPECT_EQ(Base64Encode(std::string(100, 'x')).find('\n'), std::string::npos);
}

TEST(TextHelpers, FormatHttpDate)
{
    // 6 Nov 1994 08:49:37 is day 34644 + 0.36778...
    EXPECT_EQ(FormatHttpDate(34644 + (8 * 3600 + 49 * 60 + 37) / 86400.0), "Sun, 06 Nov 1994 08:49:37");
    EXPECT_EQ(FormatHttpDate(0), "Sat, 30 Dec 1899 00:00:00");
    EXPECT_EQ(FormatHttpDate(2), "Mon, 01 Jan 1900 00:00:00");
    EXPECT_EQ(FormatHttpDate(1), "Sun, 31 Dec 1899 00:00:00");
    EXPECT_EQ(FormatHttpDate(36585.5), "Tue, 29 Feb 2000 12:00:00");
    EXPECT_EQ(FormatHttpDate(-1.25), "Fri, 29 Dec 1899 06:00:00");
    // Just before midnight stays on its day.
    EXPECT_EQ(FormatHttpDate(36585 + 86399.9999 / 86400.0).substr(0, 16), "Tue, 29 Feb 2000");
}

}  // namespace
