// How the page scan names a document: fragments dropped, dot segments
// removed, the directory that decides the follow test, and the stylesheet
// references of the optional rules.
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "app/ModernMarkup.h"
#include "app/PageAddress.h"
#include "support/Bounds.h"

namespace {

const std::string kPageDir = "http://h.d/a/b/";

struct TRow {
    const char* Link;
    const char* Address;
    const char* Dir;
};

TEST(PageAddress, LinksResolveAsABrowserResolvesThem)
{
    const TRow rows[] = {
        // A fragment names a place in a document, never another document.
        {"page.html#top", "http://h.d/a/b/page.html", "http://h.d/a/b/"},
        {"d/#x", "http://h.d/a/b/d/", "http://h.d/a/b/d/"},
        {"pic.gif#zoom", "http://h.d/a/b/pic.gif", "http://h.d/a/b/"},
        {"show.php?id=3#c", "http://h.d/a/b/show.php?id=3", "http://h.d/a/b/"},
        // Dot segments inside the path go; "../" above the root stays there.
        {"sub/../index.html", "http://h.d/a/b/index.html", "http://h.d/a/b/"},
        {"./x/./y/../z.html", "http://h.d/a/b/x/z.html", "http://h.d/a/b/x/"},
        {"../../../../x.html", "http://h.d/x.html", "http://h.d/"},
        {"/c/../d/./e.html", "http://h.d/d/e.html", "http://h.d/d/"},
        {"sub/..", "http://h.d/a/b/", "http://h.d/a/b/"},
        {"sub/.", "http://h.d/a/b/sub/", "http://h.d/a/b/sub/"},
        {"http://o.d/x/../y/.hidden/..z.html", "http://o.d/y/.hidden/..z.html", "http://o.d/y/.hidden/"},
        // A query keeps its dots and slashes; it does not make a directory.
        {"s.php?p=../a/./b", "http://h.d/a/b/s.php?p=../a/./b", "http://h.d/a/b/"},
        {"s.php?u=/x/y.html", "http://h.d/a/b/s.php?u=/x/y.html", "http://h.d/a/b/"},
        // A root link's directory is its own, not the host's root.
        {"/b/p.html", "http://h.d/b/p.html", "http://h.d/b/"},
        {"//o.d:81/q/r.html", "http://o.d:81/q/r.html", "http://o.d:81/q/"},
        {"http://o.d", "http://o.d/", "http://o.d/"},
    };
    for (const TRow& r : rows) {
        const TPageLink link = ResolvePageLink(r.Link, kPageDir);
        EXPECT_FALSE(link.Self) << r.Link;
        EXPECT_EQ(link.Address, r.Address) << r.Link;
        EXPECT_EQ(link.Dir, r.Dir) << r.Link;
    }
    // The raw link the page and "../" tests read has lost its fragment only.
    EXPECT_EQ(ResolvePageLink("../p.html#a", kPageDir).Raw, "../p.html");
    for (const char* self : {"#top", "#", ""})
        EXPECT_TRUE(ResolvePageLink(self, kPageDir).Self) << self;
}

TEST(PageAddress, FormedAddressesAndTheirDirectories)
{
    EXPECT_EQ(FormAddress("http://h.d:8080/a/../b/./c.html#f"), "http://h.d:8080/b/c.html");
    EXPECT_EQ(FormAddress("https://h.d/a/b/../../../c"), "https://h.d/c");
    EXPECT_EQ(FormAddress("http://h.d/a/.."), "http://h.d/");
    EXPECT_EQ(FormAddress("http://h.d"), "http://h.d");
    EXPECT_EQ(FormAddress("http://h.d?x=/../"), "http://h.d?x=/../");
    // Already formed: the same text comes back.
    EXPECT_EQ(FormAddress("http://h.d/a/b.c/d.html?e=f"), "http://h.d/a/b.c/d.html?e=f");

    EXPECT_EQ(AddressDir("http://h.d"), "http://h.d/");
    EXPECT_EQ(AddressDir("http://h.d?q=a/b"), "http://h.d/");
    EXPECT_EQ(AddressDir("http://h.d/a/sub"), "http://h.d/a/");
    EXPECT_EQ(AddressDir("http://h.d/a/sub/#x/y"), "http://h.d/a/sub/");
    EXPECT_EQ(AddressOrigin("HTTP://H.d:81/x/y"), "http://h.d:81");
    EXPECT_EQ(AddressOrigin("x/y"), "");
}

TEST(PageAddress, OnlyHttpAndHttpsCanBeFetched)
{
    for (const char* foreign : {"mailto:a@h.d", "javascript:void(0)", "JavaScript:go('x.html')", "ftp://h.d/x.html",
                                "tel:+49123", "data:text/html,x"})
        EXPECT_TRUE(HasForeignScheme(foreign)) << foreign;
    for (const char* ours : {"http://h.d/", "HTTPS://h.d/", "x.html", "c.html?x=y:z", "localhost:8080/x.html",
                             "www.h.d:81/x.html", "/p:q.html", ":x", "9p:x"})
        EXPECT_FALSE(HasForeignScheme(ours)) << ours;
}

TEST(PageAddress, LongRunsOfDotSegmentsStayLinear)
{
    // Each ".." drops one segment it just added; a removal that copied the
    // path each time would take about 2,500 times as long for this size.
    auto cost = [](int n) {
        std::string link;
        for (int i = 0; i < n; ++i)
            link += "s" + std::to_string(i) + "/../";
        link += "p.html";
        return wltest::LeastThreadCpuSeconds(3, [&] {
            EXPECT_EQ(ResolvePageLink(link, kPageDir).Address, "http://h.d/a/b/p.html");
        });
    };
    const double small = cost(20000);
    const double large = cost(80000);
    EXPECT_LT(large, 10 * small + 0.05) << small << " s against " << large << " s";
}

std::vector<std::string> Strings(const std::vector<std::string_view>& v)
{
    return {v.begin(), v.end()};
}

TEST(StylesheetRefs, ImportsAndUrlsInTheirForms)
{
    const TStylesheetRefs refs = StylesheetRefs(
        "@import url(\"base.css\");\n@IMPORT 'print.css' print;\n@import url( plain.css );\n"
        "body { background: #fff url(../images/bg.gif) repeat-x; }\n"
        "/* url(commented.gif) @import 'no.css'; */\n"
        ".a { content: \"url(in-string.gif)\"; background-image: URL( 'q.png?v=2' ) }\n"
        ".b { background: url(\"a;b.jpg\") } .c { background: url() }");
    EXPECT_EQ(Strings(refs.Imports), (std::vector<std::string>{"base.css", "print.css", "plain.css"}));
    EXPECT_EQ(Strings(refs.Urls), (std::vector<std::string>{"../images/bg.gif", "q.png?v=2", "a;b.jpg"}));

    // Cut off anywhere: what is there is read, nothing beyond the text.
    for (const char* broken : {"@import", "@import '", "url(", "url('x.gif", "/* x", "\"open", "@import url(a.css"})
        (void)StylesheetRefs(broken);
    EXPECT_EQ(Strings(StylesheetRefs("a{background:url('x.gif").Urls), (std::vector<std::string>{"x.gif"}));
}

}  // namespace
