// The page scan's rules for today's markup against real nginx: the same
// pages scanned with "Moderne Bildangaben auswerten" off (exactly the plain
// results) and on.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "JobFixture.h"

using namespace wltest;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class ScanModernTest : public TEngineJobFixture {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Nginx.Ok()) << Nginx.Error();
        H = Nginx.Url("");
    }

    void Scan(const std::string& url, bool modern)
    {
        Front.SetFound({});
        Front.Modern = modern;
        TEngineJobFixture::Scan(url);
    }

    // A gallery page of today: placeholders in src, the real pictures in
    // srcset, lazy-loading attributes, <picture> sources, sharing tags and
    // backgrounds, written with single quotes, blanks around "=", tabs,
    // line breaks inside tags and "/>".
    void WriteGallery()
    {
        Nginx.WriteDoc("a/index.html", Page(
            "<meta property=\"og:image\" content=\"/img/og.jpg\">\n"
            "<meta name='twitter:image' content='tw.webp'>\n"
            "<img src=\"placeholder.gif\" data-src=\"lazy1.jpg\"\n"
            "     srcset=\"s-480.jpg 480w, s-1080.jpg 1080w, s-800.jpg 800w\">\n"
            "<img src='single.jpg' data-original=\"orig.png\"\tdata-lazy-src=\"lazy2.webp\">\n"
            "<img src = \"spaced.gif\" data-srcset=\"d1.jpg 1x, d2.jpg 2x\">\n"
            "<img srcset=\"w_400,h_300/c.jpg 400w, w_800,h_600/c.jpg 800w\" alt=\"Kommas\">\n"
            "<picture>\n"
            "  <source type=\"image/avif\" srcset=\"p.avif 1x, p@2x.avif 2x\">\n"
            "  <source srcset=\"p-small.webp 400w,p-big.webp 1200w\">\n"
            "  <img src=\"p.jpg\" alt=\"\">\n"
            "</picture>\n"
            "<video><source srcset=\"poster.jpg\"></video>\n"
            "<div style=\"background-image: url('bg.jpg'); color: red\">x</div>\n"
            "<a href=\"next.html\" style='background: #fff url(bg2.png) no-repeat'>n</a>\n"
            "<img src=\"pic.jpg?v=2\"> <img src=\"zoom.jpg#z\"> <a href=\"thumb.php?file=foto.jpg\">t</a>\n"
            "<img srcset=\"broken.jpg 12q, ok-dens.jpg 3x\">\n"
            "<img data-src=\"lazy1.jpg\"> <img src=\"PLACEHOLDER.GIF\"> <img data-src=\"S-1080.JPG\">\n"
            "<img src=\"slash.jpg\"/>\n"
            "<img data-src=\"script.js\" srcset=\"\" data-original=\"\">"));
        Nginx.WriteDoc("a/next.html", Page("<img src='n1.jpg' data-src=\"og.jpg\">"));
    }

    // Every stylesheet below /bomb/ imports three more, without end.
    TNginx Nginx{"location ~ ^/bomb/(?<n>[a-z]*)\\.css$ { default_type text/css; return 200 "
                 "\"@import '${n}a.css'; @import '${n}b.css'; @import '${n}c.css';\n"
                 ".x { background: url(${n}.gif) }\"; }"};
    std::string H;
};

}  // namespace

TEST_F(ScanModernTest, OptionOffGivesExactlyThePlainResults)
{
    WriteGallery();
    Scan(H + "/a/index.html", false);

    EXPECT_THAT(Front.Asked, IsEmpty());
    EXPECT_THAT(Lines, ElementsAre(H + "/a/index.html", H + "/a/next.html", Done(2, 4)));
    // Single-quoted values keep their quotes and split "src = x" names
    // nothing; only plain src and the whole-address extension count (a
    // fragment is never part of the address).
    EXPECT_THAT(Found(), ElementsAre(H + "/a/placeholder.gif", H + "/a/p.jpg", H + "/a/zoom.jpg",
                                     H + "/a/thumb.php?file=foto.jpg"));
}

TEST_F(ScanModernTest, OptionOnFindsTheRealPicturesOnceEach)
{
    WriteGallery();
    Scan(H + "/a/index.html", true);

    EXPECT_THAT(Front.Asked, IsEmpty());
    EXPECT_THAT(Found(), ElementsAreArray({
                             H + "/img/og.jpg",
                             H + "/a/tw.webp",
                             H + "/a/placeholder.gif",
                             H + "/a/lazy1.jpg",
                             H + "/a/s-1080.jpg",
                             H + "/a/single.jpg",
                             H + "/a/orig.png",
                             H + "/a/lazy2.webp",
                             H + "/a/spaced.gif",
                             H + "/a/d2.jpg",
                             H + "/a/w_800,h_600/c.jpg",
                             H + "/a/p@2x.avif",
                             H + "/a/p-big.webp",
                             H + "/a/p.jpg",
                             H + "/a/bg.jpg",
                             H + "/a/bg2.png",
                             H + "/a/pic.jpg?v=2",
                             H + "/a/zoom.jpg",
                             H + "/a/thumb.php?file=foto.jpg",
                             H + "/a/ok-dens.jpg",
                             H + "/a/slash.jpg",
                             H + "/a/n1.jpg",
                             H + "/a/og.jpg",
                         }));
    EXPECT_THAT(Lines, ElementsAre(H + "/a/index.html", H + "/a/next.html", Done(2, 23)));
}

TEST_F(ScanModernTest, PagesAndQuestionsAreUnchangedByTheOption)
{
    // Links into another directory, a refresh and a frame: the questions, the
    // pages and the plain pictures are the same in both settings.
    Nginx.WriteDoc("a/index.html", Page("<a href=\"sub/p.html\">1</a>\n<a href=\"/b/q.html\">2</a>\n"
                                        "<meta http-equiv=\"refresh\" content=\"5; URL=r.html\">\n"
                                        "<frame src=\"f.html\"><img src=\"x.gif\">"));
    for (const char* leaf : {"a/sub/p.html", "b/q.html", "a/r.html", "a/f.html"})
        Nginx.WriteDoc(leaf, Page("<img src=\"leaf.png\">"));
    std::vector<std::vector<std::string>> lines, found, asked;
    for (bool modern : {false, true}) {
        const std::size_t before = Questions().size();
        Front.Answer(TFollowAnswer::No);
        Scan(H + "/a/index.html", modern);
        lines.push_back(Lines);
        found.push_back(Found());
        const std::vector<std::string> all = Questions();
        asked.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
        EXPECT_EQ(Front.Unanswered(), 0);
    }
    EXPECT_EQ(lines[0], lines[1]);
    EXPECT_EQ(found[0], found[1]);
    EXPECT_EQ(asked[0], asked[1]);
    EXPECT_THAT(lines[1], ElementsAre(H + "/a/index.html", H + "/a/sub/p.html", H + "/a/r.html", H + "/a/f.html",
                                      Done(4, 3)));
    // The root link is asked about by its own directory.
    EXPECT_THAT(asked[1], ElementsAre("Soll der Link zu \"" + H + "/b/\" weiterverfolgt werden?\n(gefunden auf " + H +
                                          "/a/index.html)"));
}

TEST_F(ScanModernTest, LinksWithoutHostOrValueDoNotEndThePage)
{
    // "//" without a host is a root link; an empty frame source is passed over.
    Nginx.WriteDoc("index.html", Page("<frame src=\"\"><a href=\"//\">root</a>\n<img src=\"after.gif\">"));
    for (bool modern : {false, true}) {
        Scan(H + "/index.html", modern);
        ASSERT_GE(Lines.size(), 2u);
        EXPECT_EQ(Lines[1], H + "//") << "the host's root, not http:///";
        // nginx serves the same page there; its links resolve below "//".
        EXPECT_THAT(Found(), ElementsAre(H + "/after.gif", H + "//after.gif")) << modern;
        EXPECT_EQ(Lines.back(), Done(2, 2));
    }
}

TEST_F(ScanModernTest, StylesheetsOfTheSiteAreReadOnceForTheirPictures)
{
    Nginx.WriteDoc("a/index.html",
                   Page("<link rel=\"stylesheet\" href=\"css/site.css#x\">\n"
                        "<link rel=\"Alternate\tStyleSheet\" href=\"/a/css/./site.css\">\n"
                        "<link rel=\"stylesheet\" href=\"http://fremd.invalid/x.css\">\n"
                        "<link rel=\"icon\" href=\"fav.png\">\n"
                        "<a href=\"p.html\">p</a>"));
    Nginx.WriteDoc("a/p.html", Page("<link rel=\"stylesheet\" href=\"css/site.css\">"));
    Nginx.WriteDoc("a/css/site.css", "@import \"more/imp.css\";\nbody { background: url(../img/bg.jpg) }\n"
                                     ".x { background: url('/img/abs.png?v=1') }\n"
                                     "@font-face { src: url(font.woff) }\n");
    Nginx.WriteDoc("a/css/more/imp.css", "@import url(deeper.css);\n.z { background: url(i.gif#f) }\n");
    // A theme's chain of imports is read to a bounded depth; a loop back to a
    // stylesheet already read is not fetched again.
    Nginx.WriteDoc("a/css/more/deeper.css", "@import \"../site.css\";\n@import 'c1.css';\n"
                                            ".q { background: url(deep.gif) }\n");
    for (int i = 1; i <= 5; ++i)
        Nginx.WriteDoc("a/css/more/c" + std::to_string(i) + ".css",
                       "@import url(c" + std::to_string(i + 1) + ".css);\n.c { background: url(c" +
                           std::to_string(i) + ".gif) }\n");

    Scan(H + "/a/index.html", false);
    EXPECT_THAT(Lines, ElementsAre(H + "/a/index.html", H + "/a/p.html", Done(2, 1)));
    EXPECT_THAT(Nginx.AccessLog(), Not(HasSubstr(".css")));

    // With a limit the stylesheets take their share of it; without one this
    // site's two pages would allow two stylesheets only.
    Jobs.Settings.MaxPages = 20;
    Scan(H + "/a/index.html", true);
    // Pictures resolve against the stylesheet that names them.
    const std::string css = H + "/a/css/more/";
    EXPECT_THAT(Lines, ElementsAre(H + "/a/index.html", H + "/a/css/site.css", css + "imp.css", css + "deeper.css",
                                   css + "c1.css", css + "c2.css", css + "c3.css", css + "c4.css", H + "/a/p.html",
                                   Done(2, 9)));
    EXPECT_THAT(Found(), ElementsAre(H + "/a/fav.png", H + "/a/img/bg.jpg", H + "/img/abs.png?v=1", css + "i.gif",
                                     css + "deep.gif", css + "c1.gif", css + "c2.gif", css + "c3.gif",
                                     css + "c4.gif"));
    // Two pages in the first scan; two pages and seven stylesheets in this one.
    const std::string log = Nginx.AccessLogOf(11);
    auto count = [&log](const std::string& what) {
        int n = 0;
        for (auto at = log.find(what); at != std::string::npos; at = log.find(what, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("GET /a/css/site.css "), 1);
    EXPECT_EQ(count("GET /a/css/more/imp.css "), 1);
    EXPECT_EQ(count("GET /a/css/more/deeper.css "), 1);
    EXPECT_EQ(count("c5.css"), 0);
}

TEST_F(ScanModernTest, StylesheetsCountAgainstThePageAndLevelBounds)
{
    Nginx.WriteDoc("bomb/index.html", Page("<link rel=\"stylesheet\" href=\"x.css\">\n<a href=\"p1.html\">1</a>\n"
                                           "<a href=\"p2.html\">2</a>\n<a href=\"p3.html\">3</a>"));
    Nginx.WriteDoc("bomb/list.html",
                   Page("<a href=\"p1.html\">1</a> <a href=\"p2.html\">2</a> <a href=\"p3.html\">3</a>"));
    Nginx.WriteDoc("bomb/p1.html", Page("<link rel=\"stylesheet\" href=\"y.css\"><img src=\"p1.gif\">"));
    Nginx.WriteDoc("bomb/p2.html", Page("<img src=\"p2.gif\">"));
    Nginx.WriteDoc("bomb/p3.html", Page("<img src=\"p3.gif\">"));
    const std::string b = H + "/bomb/";
    std::size_t requests = 0;
    // Each scan's requests, counted in nginx's log once it holds the lines
    // expected (nginx writes a line after its answer has gone out).
    auto scan = [&](const std::string& page, std::uint32_t maxPages, std::uint32_t maxLevel, std::size_t expected) {
        Jobs.Settings.MaxPages = maxPages;
        Jobs.Settings.MaxLevel = maxLevel;
        Scan(b + page, true);
        const std::size_t before = requests;
        const std::string log = Nginx.AccessLogOf(before + expected);
        requests = static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n'));
        return requests - before;
    };
    Jobs.Settings.Connections = 4;

    // The limit of one page is taken by the start page.
    EXPECT_EQ(scan("index.html", 1, 1, 1), 1u);
    EXPECT_THAT(Lines, ElementsAre(b + "index.html",
                                   "Seitenlimit 1 erreicht: 3 weitere Seiten und 1 Stylesheet nicht geholt.",
                                   Done(1, 0)));
    // No bounds: a stylesheet for each page read.
    EXPECT_EQ(scan("index.html", 0, 0, 8), 8u);
    EXPECT_THAT(Lines, ElementsAre(b + "index.html", b + "x.css", b + "p1.html", b + "xa.css", b + "p2.html",
                                   b + "xaa.css", b + "p3.html", b + "xaaa.css",
                                   "Nicht mehr Stylesheets als Seiten: 10 Stylesheets nicht geholt.", Done(4, 7)));
    // A page's stylesheet is on the page's level, an import one deeper.
    EXPECT_EQ(scan("index.html", 20, 1, 9), 9u);
    EXPECT_THAT(Lines, ElementsAre(b + "index.html", b + "x.css", b + "xa.css", b + "xb.css", b + "xc.css",
                                   b + "p1.html", b + "y.css", b + "p2.html", b + "p3.html",
                                   "Linktiefe 1 erreicht: weitere Links nicht verfolgt.", Done(4, 8)));
    // Pages queued before a stylesheet turns up keep their share of the
    // limit: they are fetched ahead meanwhile, and one request at a time
    // fetches the same.
    EXPECT_EQ(scan("list.html", 5, 0, 5), 5u);
    EXPECT_THAT(Lines, ElementsAre(b + "list.html", b + "p1.html", b + "y.css", b + "p2.html", b + "p3.html",
                                   "Seitenlimit 5 erreicht: 3 Stylesheets nicht geholt.", Done(4, 4)));
}
