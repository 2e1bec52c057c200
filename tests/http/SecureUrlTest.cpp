// https in the request targets: default port, scheme in any case, relocation
// rows between http and https, the Host line and the request line.
#include <gtest/gtest.h>

#include "http/HttpProt.h"

namespace {

THttpTarget Derive(const std::string& url, const std::string& proxy = "")
{
    std::string u, p;
    return DeriveRequestTarget(url, proxy, "80", u, p);
}

TEST(SecureTarget, SchemeDecidesPortAndTls)
{
    THttpTarget t = Derive("HTTPS://www.x.de/a.gif");
    EXPECT_TRUE(t.Secure);
    EXPECT_FALSE(t.Unsupported);
    EXPECT_EQ(t.ConnectPort, "443");
    EXPECT_EQ(HostLineValue(t), "www.x.de");
    EXPECT_EQ(RequestLineTarget(t, false), "/a.gif");

    t = Derive("https://www.x.de:8443");
    EXPECT_EQ(t.ConnectPort, "8443");
    EXPECT_EQ(HostLineValue(t), "www.x.de:8443");
    EXPECT_EQ(RequestLineTarget(t, false), "/");

    // Port 443 on plain http is not that scheme's default: the Host line says it.
    t = Derive("http://www.x.de:443/");
    EXPECT_FALSE(t.Secure);
    EXPECT_EQ(HostLineValue(t), "www.x.de:443");
    t = Derive("www.x.de/p");
    EXPECT_FALSE(t.Secure);
    EXPECT_EQ(t.ConnectPort, "80");

    for (const char* bad : {"ftp://h/x.gif", "mailto:a@b.de", "file:///etc/passwd", "httpx://h/"}) {
        SCOPED_TRACE(bad);
        EXPECT_TRUE(Derive(bad).Unsupported);
    }
}

TEST(SecureTarget, ThroughProxyTheTunnelGetsTheOriginForm)
{
    THttpTarget t = Derive("https://www.x.de/p/a.gif?x=1#frag", "proxy.lan:3128");
    EXPECT_TRUE(t.Secure);
    EXPECT_EQ(t.ConnectHost, "proxy.lan");
    EXPECT_EQ(t.ConnectPort, "3128");
    EXPECT_EQ(t.OriginHost, "www.x.de");
    EXPECT_EQ(t.OriginPort, "443");
    EXPECT_EQ(RequestLineTarget(t, true), "/p/a.gif?x=1");
    EXPECT_EQ(HostLineValue(t), "www.x.de");

    // Plain http through the proxy keeps the absolute target.
    t = Derive("http://www.x.de:81/a.gif", "proxy.lan:3128");
    EXPECT_EQ(RequestLineTarget(t, true), "http://www.x.de:81/a.gif");
    EXPECT_EQ(HostLineValue(t), "www.x.de:81");
}

// Credentials follow the origin: a change of scheme alone, on the same host
// and port, is another origin; letter case and a spelled-out default port
// are not.
TEST(SecureTarget, OriginComparesSchemeHostAndPort)
{
    const std::string home = OriginOf(Derive("https://joe:pw@www.x.de:8443/a/b.gif"));
    EXPECT_EQ(home, "https://www.x.de:8443");
    THttpTarget t = Derive("https://www.x.de:8443/a/b.gif");
    ApplyRelocation("http://www.x.de:8443/a/b.gif", false, t);
    EXPECT_NE(OriginOf(t), home);
    ApplyRelocation("https://WWW.X.DE:8443/c.gif", false, t);
    EXPECT_EQ(OriginOf(t), home);

    EXPECT_EQ(OriginOf(Derive("http://h.de/")), OriginOf(Derive("HTTP://H.de:80/x")));
    EXPECT_NE(OriginOf(Derive("http://h.de/")), OriginOf(Derive("https://h.de/")));
    EXPECT_NE(OriginOf(Derive("http://h.de/")), OriginOf(Derive("http://h.de:8080/")));

    // Through a proxy the origin is the document's, never the proxy's.
    t = Derive("http://a.example/x", "proxy.lan:3128");
    EXPECT_EQ(OriginOf(t), "http://a.example:80");
    ApplyRelocation("/y", true, t);
    EXPECT_EQ(OriginOf(t), "http://a.example:80");
    ApplyRelocation("https://a.example/y", true, t);
    EXPECT_EQ(OriginOf(t), "https://a.example:443");
}

TEST(SecureRelocation, DirectRowsKeepOrSwitchTheScheme)
{
    THttpTarget t = Derive("https://a.de/dir/page.htm");
    ApplyRelocation("/other/x.htm", false, t);
    EXPECT_TRUE(t.Secure);
    EXPECT_EQ(t.Location, "https://a.de/other/x.htm");

    t = Derive("https://a.de:8443/dir/page.htm");
    ApplyRelocation("/x.htm", false, t);
    EXPECT_EQ(t.Location, "https://a.de:8443/x.htm");
    EXPECT_EQ(t.ConnectPort, "8443");

    // A bare file name stays on the scheme of the page.
    t = Derive("https://a.de/dir/page.htm");
    ApplyRelocation("next.htm", false, t);
    EXPECT_TRUE(t.Secure);
    EXPECT_EQ(t.Location, "https://a.de/next.htm");
    EXPECT_EQ(t.ConnectHost, "a.de");

    // Down to http: the port follows the new scheme.
    t = Derive("https://a.de/dir/page.htm");
    ApplyRelocation("http://b.de/p", false, t);
    EXPECT_FALSE(t.Secure);
    EXPECT_EQ(t.ConnectPort, "80");
    EXPECT_EQ(t.OriginHost, "b.de");

    // And up again, in any letter case.
    t = Derive("http://a.de:8080/");
    ApplyRelocation("HTTPS://b.de/p#frag", false, t);
    EXPECT_TRUE(t.Secure);
    EXPECT_EQ(t.ConnectPort, "443");
    EXPECT_EQ(t.RequestTarget, "/p");
    EXPECT_EQ(HostLineValue(t), "b.de");

    // A host the server names in Unicode is looked up and sent in its ASCII
    // form, with user information and port where they stand.
    t = Derive("http://a.de/");
    ApplyRelocation("http://joe@b\xC3\xBC" "cher.example:8080/B\xC3\xA4" "ume.jpg", false, t);
    EXPECT_EQ(t.ConnectHost, "xn--bcher-kva.example");
    EXPECT_EQ(HostLineValue(t), "xn--bcher-kva.example:8080");
    EXPECT_EQ(t.ConnectPort, "8080");
    t = Derive("http://b\xC3\xBC" "cher.example/", "proxy.lan:3128");
    EXPECT_EQ(RequestLineTarget(t, true), "http://xn--bcher-kva.example/");

    // Host and path without scheme: the scheme and its default port stay.
    t = Derive("https://a.de:8443/");
    ApplyRelocation("c.de/q", false, t);
    EXPECT_TRUE(t.Secure);
    EXPECT_EQ(t.ConnectPort, "443");

    t = Derive("https://a.de/");
    ApplyRelocation("ftp://c.de/q", false, t);
    EXPECT_TRUE(t.Unsupported);
}

TEST(SecureRelocation, ProxiedRowsFollowTheAbsoluteTarget)
{
    THttpTarget t = Derive("https://a.de/dir/page.htm", "proxy:3128");
    ApplyRelocation("/x.htm", true, t);
    EXPECT_TRUE(t.Secure);
    EXPECT_EQ(t.Location, "https://a.de/x.htm");
    EXPECT_EQ(RequestLineTarget(t, true), "/x.htm");

    ApplyRelocation("http://b.de:81/y.htm", true, t);
    EXPECT_FALSE(t.Secure);
    EXPECT_EQ(t.ConnectHost, "proxy");
    EXPECT_EQ(t.ConnectPort, "3128");
    EXPECT_EQ(RequestLineTarget(t, true), "http://b.de:81/y.htm");

    ApplyRelocation("https://c.de:8443/z.htm", true, t);
    EXPECT_TRUE(t.Secure);
    EXPECT_EQ(t.OriginHost, "c.de");
    EXPECT_EQ(t.OriginPort, "8443");
    EXPECT_EQ(HostLineValue(t), "c.de:8443");
}

}  // namespace
