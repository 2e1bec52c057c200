#include <string>

#include <gtest/gtest.h>

#include "engine/CookieFile.h"
#include "engine/PoliteFetch.h"

namespace {

constexpr std::int64_t kNow = 1800000000;  // 2027-01-15

TEST(CookieFile, DomainPathSecureAndExpiryRules)
{
    const std::string file =
        "# Netscape HTTP Cookie File\n"
        ".example.org\tTRUE\t/\tFALSE\t0\twide\t1\n"
        "host.example.org\tFALSE\t/\tFALSE\t0\tnarrow\t2\r\n"
        ".dotted.example.org\tFALSE\t/\tFALSE\t0\tdotnosub\t3\n"
        "example.org\tTRUE\t/gallery\tFALSE\t0\tgal\t4\n"
        "example.org\tTRUE\t/\tTRUE\t0\tsec\t5\n"
        "example.org\tTRUE\t/\tFALSE\t1700000000\told\t6\n"
        "example.org\tTRUE\t/\tFALSE\t1900000000\tlater\t7\n"
        "#HttpOnly_example.org\tTRUE\t/\tFALSE\t0\thidden\t8\n"
        "10.0.0.1\tTRUE\t/\tFALSE\t0\tip\t9\n"
        "\n"
        "example.org\tTRUE\t/\tFALSE\t0\tempty\n"
        // Not cookies: too few fields, a bad expiry, a ";" in the value, a name with "=".
        "example.org\tTRUE\t/\tFALSE\t0\n"
        "example.org\tTRUE\t/\tFALSE\tsoon\tx\ty\n"
        "example.org\tTRUE\t/\tFALSE\t0\tinj\ta; evil=1\n"
        "example.org\tTRUE\t/\tFALSE\t0\ta=b\tc\n";
    const TCookieJar jar = TCookieJar::Parse(file);
    EXPECT_EQ(jar.Cookies().size(), 10u);
    EXPECT_EQ(jar.Skipped(), 4u);

    EXPECT_EQ(jar.HeaderFor("http://example.org/index.html", kNow), "wide=1; later=7; hidden=8; empty=");
    // The longer path first; the path rule needs a whole segment.
    EXPECT_EQ(jar.HeaderFor("http://example.org/gallery/a.jpg", kNow), "gal=4; wide=1; later=7; hidden=8; empty=");
    EXPECT_EQ(jar.HeaderFor("http://example.org/gallery", kNow), "gal=4; wide=1; later=7; hidden=8; empty=");
    EXPECT_EQ(jar.HeaderFor("http://example.org/gallery2/a.jpg", kNow), "wide=1; later=7; hidden=8; empty=");
    EXPECT_EQ(jar.HeaderFor("https://EXAMPLE.org:443/x?y=1#z", kNow), "wide=1; sec=5; later=7; hidden=8; empty=");
    // Host-only cookies stay on their host; subdomains only where the flag says TRUE.
    EXPECT_EQ(jar.HeaderFor("http://host.example.org/", kNow), "wide=1; narrow=2; later=7; hidden=8; empty=");
    EXPECT_EQ(jar.HeaderFor("http://a.host.example.org/", kNow), "wide=1; later=7; hidden=8; empty=");
    EXPECT_EQ(jar.HeaderFor("http://dotted.example.org/", kNow), "wide=1; dotnosub=3; later=7; hidden=8; empty=");
    EXPECT_EQ(jar.HeaderFor("http://x.dotted.example.org/", kNow), "wide=1; later=7; hidden=8; empty=");
    // Neither a look-alike domain nor another scheme nor another origin.
    EXPECT_EQ(jar.HeaderFor("http://badexample.org/", kNow), "");
    EXPECT_EQ(jar.HeaderFor("http://example.org.evil.test/", kNow), "");
    EXPECT_EQ(jar.HeaderFor("ftp://example.org/", kNow), "");
    EXPECT_EQ(jar.HeaderFor("http://evil.test/?example.org", kNow), "");
    EXPECT_EQ(jar.HeaderFor("http://example.org@evil.test/", kNow), "");
    // An address literal matches only itself.
    EXPECT_EQ(jar.HeaderFor("http://10.0.0.1/", kNow), "ip=9");
    EXPECT_EQ(jar.HeaderFor("http://1.10.0.0.1/", kNow), "");
    // Past the expiry of "later" it is gone too.
    EXPECT_EQ(jar.HeaderFor("http://example.org/", 1900000000), "wide=1; hidden=8; empty=");

    // The header stays bounded whatever the file holds.
    std::string many;
    for (int i = 0; i < 3000; ++i)
        many += "example.org\tTRUE\t/\tFALSE\t0\tname" + std::to_string(i) + "\t" + std::string(20, 'v') + "\n";
    EXPECT_LE(TCookieJar::Parse(many).HeaderFor("http://example.org/", kNow).size(), TCookieJar::kMaxHeaderBytes);
}

TEST(RobotsRules, GroupsLongestMatchAndWildcards)
{
    const std::string robots =
        "\xEF\xBB\xBFUser-agent: *\n"
        "Disallow: /private/\n"
        "Allow: /private/open/\n"
        "Disallow: /*.gif$\n"
        "Disallow: /tmp*/x\n"
        "\n"
        "User-agent: Googlebot\n"
        "Disallow: /\n";
    const TRobotsRules rules = TRobotsRules::Parse(robots, ProductToken("Mozilla/3.0 (compatible)"));
    EXPECT_TRUE(rules.Allows("/"));
    EXPECT_FALSE(rules.Allows("/private/a.jpg"));
    EXPECT_TRUE(rules.Allows("/private/open/a.jpg"));
    EXPECT_TRUE(rules.Allows("/private"));
    EXPECT_FALSE(rules.Allows("/pics/a.gif"));
    EXPECT_TRUE(rules.Allows("/pics/a.gif?x=1"));
    EXPECT_FALSE(rules.Allows("/tmp123/x/y"));
    EXPECT_TRUE(rules.Allows("/tmp123/y"));

    // Our own group wins over "*", whichever comes first; several User-agent
    // lines share one group; letter case of the token does not matter.
    const std::string ours =
        "User-agent: *\nDisallow: /\n"
        "User-agent: other\nUser-agent: mozilla\nDisallow: /cgi-bin/\nAllow: /cgi-bin/ok\n"
        "Sitemap: http://h/s.xml\nDisallow: /no\n";
    const TRobotsRules mine = TRobotsRules::Parse(ours, "Mozilla");
    EXPECT_TRUE(mine.Allows("/index.html"));
    EXPECT_FALSE(mine.Allows("/cgi-bin/x"));
    EXPECT_TRUE(mine.Allows("/cgi-bin/ok"));
    EXPECT_FALSE(mine.Allows("/no"));
    EXPECT_FALSE(TRobotsRules::Parse(ours, "Wget").Allows("/index.html"));
    // Equal length: Allow wins. No group for us or "*": everything allowed.
    EXPECT_TRUE(TRobotsRules::Parse("User-agent: *\nDisallow: /a\nAllow: /a\n", "Mozilla").Allows("/a"));
    EXPECT_TRUE(TRobotsRules::Parse("User-agent: bot\nDisallow: /\n", "Mozilla").Allows("/a"));
    // An empty Disallow allows everything; garbage is ignored.
    EXPECT_TRUE(TRobotsRules::Parse("User-agent: *\nDisallow:\n\x01\x02:::\n", "Mozilla").Allows("/a"));

    // A hostile file: many wildcards against a long path stay quick and bounded.
    std::string hostile = "User-agent: *\n";
    for (int i = 0; i < 5000; ++i)
        hostile += "Disallow: /" + std::string(200, '*') + "a*b*c$\n";
    const TRobotsRules many = TRobotsRules::Parse(hostile, "Mozilla");
    EXPECT_TRUE(many.Allows("/" + std::string(4000, 'a')));

    EXPECT_EQ(RobotsAddress("https://User@Host.example:8443/a/b.html?q#f"), "https://host.example:8443/robots.txt");
    EXPECT_EQ(RobotsAddress("no address"), "");
}

TEST(PoliteWaits, RetryAfterRatesAndWaits)
{
    EXPECT_EQ(RetryAfterSeconds("5", kNow), 5);
    EXPECT_EQ(RetryAfterSeconds(" 0 ", kNow), 0);
    EXPECT_EQ(RetryAfterSeconds("3600", kNow), kMaxRetryAfter);
    EXPECT_EQ(RetryAfterSeconds("99999999999999999999", kNow), kMaxRetryAfter);
    // 2027-01-15 08:00:00 UTC is kNow; the three date forms.
    EXPECT_EQ(RetryAfterSeconds("Fri, 15 Jan 2027 08:00:30 GMT", kNow), 30);
    EXPECT_EQ(RetryAfterSeconds("Friday, 15-Jan-27 08:01:00 GMT", kNow), 60);
    EXPECT_EQ(RetryAfterSeconds("Fri Jan 15 08:00:07 2027", kNow), 7);
    EXPECT_EQ(RetryAfterSeconds("Fri, 15 Jan 2027 09:00:00 GMT", kNow), kMaxRetryAfter);
    EXPECT_EQ(RetryAfterSeconds("Thu, 01 Jan 1970 00:00:00 GMT", kNow), 0);
    EXPECT_FALSE(RetryAfterSeconds("", kNow));
    EXPECT_FALSE(RetryAfterSeconds("-5", kNow));
    EXPECT_FALSE(RetryAfterSeconds("soon", kNow));
    EXPECT_FALSE(RetryAfterSeconds("Fri, 15 Foo 2027 08:00:30 GMT", kNow));
    EXPECT_FALSE(RetryAfterSeconds("Fri, 15 Jan 2027 25:00:30 GMT", kNow));

    EXPECT_EQ(ParseRate("2000"), 2000u);
    EXPECT_EQ(ParseRate("20k"), 20u * 1024);
    EXPECT_EQ(ParseRate("1.5M"), 1536u * 1024);
    EXPECT_FALSE(ParseRate("0"));
    EXPECT_FALSE(ParseRate("10g"));
    EXPECT_FALSE(ParseRate("1..2k"));
    EXPECT_FALSE(ParseRate("-1"));
    EXPECT_FALSE(ParseRate("99999999999999999999m"));
    EXPECT_EQ(ParseWaitMs("2"), 2000);
    EXPECT_EQ(ParseWaitMs("0.25"), 250);
    EXPECT_EQ(ParseWaitMs("1m"), 60000);
    EXPECT_FALSE(ParseWaitMs("2x"));
    EXPECT_FALSE(ParseWaitMs("2d"));

    // The wait counts per server, from the start of its last request.
    TServerWaits waits(1000);
    EXPECT_EQ(waits.DelayMs("a", 0), 0);
    waits.Started("a", 10000);
    EXPECT_EQ(waits.DelayMs("a", 10200), 800);
    EXPECT_EQ(waits.DelayMs("b", 10200), 0);
    EXPECT_EQ(waits.DelayMs("a", 10200, 0.5), 300);
    EXPECT_EQ(waits.DelayMs("a", 10200, 1.5), 1300);
    EXPECT_EQ(waits.DelayMs("a", 10200, 9.0), 1300);  // the factor stays within 0.5 to 1.5
    EXPECT_EQ(waits.DelayMs("a", 12000), 0);

    // 1000 bytes/s: 500 bytes at once ask for half a second; an idle stretch buys no burst.
    TRateLimiter limiter(1000);
    EXPECT_EQ(limiter.Received(500, 0), 500);
    EXPECT_EQ(limiter.Received(500, 500), 500);
    EXPECT_EQ(limiter.Received(100, 1000), 100);
    EXPECT_EQ(limiter.Received(2000, 60000), 2000);
    EXPECT_EQ(TRateLimiter(0).Received(1u << 30, 0), 0);
}

}  // namespace
