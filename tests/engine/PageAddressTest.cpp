// How the page scan names a document: fragments dropped, dot segments
// removed, the directory that decides the follow test, and the stylesheet
// references of the optional rules.
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "engine/ModernMarkup.h"
#include "engine/PageAddress.h"
#include "engine/PageEncoding.h"
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
        // "%2e" is a dot to servers: written so, a dot segment is one still,
        // and cannot smuggle a link past the directory it leads to.
        {"%2e%2e/x.html", "http://h.d/a/x.html", "http://h.d/a/"},
        {"/a/%2E%2e/c/p.html", "http://h.d/c/p.html", "http://h.d/c/"},
        {".%2E/x.gif", "http://h.d/a/x.gif", "http://h.d/a/"},
        {"%2e./x.gif", "http://h.d/a/x.gif", "http://h.d/a/"},
        {"sub/%2e/y.html", "http://h.d/a/b/sub/y.html", "http://h.d/a/b/sub/"},
        {"http://o.d/x/%2e%2e", "http://o.d/", "http://o.d/"},
        {"a%2eb.html", "http://h.d/a/b/a%2eb.html", "http://h.d/a/b/"},
        {"%2e%2e%2e/x.html", "http://h.d/a/b/%2e%2e%2e/x.html", "http://h.d/a/b/%2e%2e%2e/"},
        // What a request line cannot carry is escaped, non-ASCII as UTF-8;
        // escapes already there stay as written.
        {"B\xC3\xA4ume 1.jpg", "http://h.d/a/b/B%C3%A4ume%201.jpg", "http://h.d/a/b/"},
        {"B%c3%a4ume%201.jpg", "http://h.d/a/b/B%c3%a4ume%201.jpg", "http://h.d/a/b/"},
        {"rabatt 50%.jpg", "http://h.d/a/b/rabatt%2050%25.jpg", "http://h.d/a/b/"},
        {"/\xC3\x9Crlaub/Strand.jpg", "http://h.d/%C3%9Crlaub/Strand.jpg", "http://h.d/%C3%9Crlaub/"},
        {"s.php?q=gr\xC3\xB6\xC3\x9F" "e&r=a b", "http://h.d/a/b/s.php?q=gr%C3%B6%C3%9Fe&r=a%20b", "http://h.d/a/b/"},
        {"a\"<>`b\x7F.gif", "http://h.d/a/b/a%22%3C%3E%60b%7F.gif", "http://h.d/a/b/"},
        {"long\nname.gif", "http://h.d/a/b/longname.gif", "http://h.d/a/b/"},
        {"http://b\xC3\xBC" "cher.example/x.gif", "http://xn--bcher-kva.example/x.gif", "http://xn--bcher-kva.example/"},
        {"http://u@B\xC3\x9C" "CHER.example:8080/x.gif", "http://u@xn--bcher-kva.example:8080/x.gif",
         "http://u@xn--bcher-kva.example:8080/"},
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

TEST(PageAddress, OneNormalFormForComparingAndADecodedOneForPeople)
{
    const std::string key = AddressKey("http://h.d/B%C3%A4ume%201.jpg");
    for (const char* same : {"http://h.d/B%c3%a4ume%201.jpg", "http://h.d/B\xC3\xA4ume 1.jpg", "http://h.d/%42%C3%A4ume%201.jpg"})
        EXPECT_EQ(AddressKey(same), key) << same;
    EXPECT_EQ(AddressKey("http://h.d/%7Ex/%41-%5f.gif?q=%2f"), "http://h.d/~x/A-_.gif?q=%2F");
    EXPECT_EQ(AddressKey("http://h.d/a%2Bb%3b%40.jpg?q=a%2Bb%3d"), "http://h.d/a+b;@.jpg?q=a%2Bb%3D");
    // Letter case, reserved characters and queries still tell addresses apart.
    EXPECT_NE(AddressKey("http://h.d/A.gif"), AddressKey("http://h.d/a.gif"));
    EXPECT_NE(AddressKey("http://h.d/a%2Fb.gif"), AddressKey("http://h.d/a/b.gif"));
    EXPECT_NE(AddressKey("http://h.d/s.php?a=1"), AddressKey("http://h.d/s.php?a=2"));
    // A list line keeps its fragment; only a scan's forming drops it.
    EXPECT_NE(AddressKey("http://h.d/x.gif#1"), AddressKey("http://h.d/x.gif#2"));
    EXPECT_EQ(EncodeAddress("http://h.d/Gr\xC3\xB6\xC3\x9F""e 1.jpg"), "http://h.d/Gr%C3%B6%C3%9Fe%201.jpg");
    EXPECT_EQ(EncodeAddress("http://h.d/a/../x.gif#f"), "http://h.d/a/../x.gif#f");

    EXPECT_EQ(DisplayAddress("http://xn--bcher-kva.example:81/B%C3%A4ume%201.jpg?q=%E6%97%A5"),
              "http://b\xC3\xBC""cher.example:81/B\xC3\xA4ume 1.jpg?q=\xE6\x97\xA5");
    // Escapes that are no whole UTF-8 character, and reserved ones, stay.
    EXPECT_EQ(DisplayAddress("http://h.d/a%2Fb%25c%C3%28%E6%97.gif"), "http://h.d/a%2Fb%25c%C3%28%E6%97.gif");
    EXPECT_EQ(DisplayAddress("http://h.d/%C0%AF%ED%A0%80.gif"), "http://h.d/%C0%AF%ED%A0%80.gif");
}

TEST(PageEncoding, HeaderThenMarkThenMetaThenTheBytesSay)
{
    const std::string latin1Page = "<html><img src=\"B\xE4ume.jpg\"></html>";
    EXPECT_EQ(PageEncoding("text/html; charset=ISO-8859-1", "<meta charset=utf-8>"), "windows-1252");
    EXPECT_EQ(PageEncoding("text/html; charset=\"utf-8\"", latin1Page), "utf-8");
    EXPECT_EQ(PageEncoding("text/html", "\xEF\xBB\xBF<meta charset=latin1>"), "utf-8");
    EXPECT_EQ(PageEncoding("", "\xFF\xFE<\0h\0"), "utf-16le");
    EXPECT_EQ(PageEncoding("text/html", "<head><META Charset = 'ISO-8859-15'>"), "iso-8859-15");
    EXPECT_EQ(PageEncoding("", "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=latin1\">"),
              "windows-1252");
    EXPECT_EQ(PageEncoding("", "<meta charset=utf-16>"), "utf-8");
    EXPECT_EQ(PageEncoding("", latin1Page), "windows-1252");
    EXPECT_EQ(PageEncoding("", "<img src=\"B\xC3\xA4ume.jpg\">"), "utf-8");
    // Only the first 1,024 bytes are looked at for a <meta>.
    EXPECT_EQ(PageEncoding("", std::string(1100, ' ') + "<meta charset=koi8-r>"), "utf-8");

    std::string text;
    ASSERT_TRUE(PageTextToUtf8("text/html; charset=iso-8859-1", latin1Page, text));
    EXPECT_EQ(text, "<html><img src=\"B\xC3\xA4ume.jpg\"></html>");
    ASSERT_TRUE(PageTextToUtf8("", std::string_view("\xFF\xFE<\0i\0>\0\xFC\0", 10), text));
    EXPECT_EQ(text, "<i>\xC3\xBC");
    EXPECT_FALSE(PageTextToUtf8("", "<img src=\"B\xC3\xA4ume.jpg\">", text));
    EXPECT_FALSE(PageTextToUtf8("text/html; charset=no-such-encoding", latin1Page, text));
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
