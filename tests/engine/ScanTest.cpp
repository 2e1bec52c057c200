// The page scan end to end against the engine: real nginx serving small
// sites, some written as real ones are (fragments, anchored directories, dot
// segments, relocations, root links); memo lines, found list, questions and
// nginx's log checked in order.
#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "JobFixture.h"
#include "support/Bounds.h"

using namespace wltest;
using wltest::LeastThreadCpuSeconds;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class ScanTest : public TEngineJobFixture {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Nginx.Ok()) << Nginx.Error();
        H = Nginx.Url("");
    }

    void WriteDirectorySite() { ::WriteDirectorySite(Nginx, H); }

    // Request targets in nginx's log, each with how often it was asked for,
    // once the log holds at least `lines` requests.
    std::map<std::string, int> Requests(std::size_t lines) const
    {
        std::map<std::string, int> count;
        std::istringstream log(Nginx.AccessLogOf(lines));
        std::string line;
        while (std::getline(log, line)) {
            const auto space = line.find(' ');
            const auto end = line.find(' ', space + 1);
            if (space != std::string::npos && end != std::string::npos)
                ++count[line.substr(space + 1, end - space - 1)];
        }
        return count;
    }

    TNginx Nginx{"location = /a/old.html { return 301 /z/new.html; }\n"
                 "location = /loop.html { return 302 /loop.html; }\n"
                 "location = /rw/index.html { return 302 /rw/en/index.html; }"};
    std::string H;
};

}  // namespace

TEST_F(ScanTest, AnswerYesFollowsThatDirectoryAndEverythingBelowIt)
{
    WriteDirectorySite();
    Front.Answer(TFollowAnswer::Yes);  // /b/
    Scan(H + "/a/index.html");

    EXPECT_THAT(Questions(), ElementsAre(Question(H + "/b/", H + "/a/index.html")));
    EXPECT_THAT(Lines, ElementsAre(H + "/a/index.html", H + "/a/sub/p.html", H + "/b/q.html", H + "/b/p.html",
                                   H + "/b/s.html", H + "/b/r.html", Done(6, 0)));
}

TEST_F(ScanTest, AnswersForAllDecideTheRestOfTheScanWithoutAsking)
{
    Nginx.WriteDoc("a/index.html", Page("<a href=\"/b/p.html\">b</a><a href=\"/c/p.html\">c</a>"
                                        "<a href=\"/d/p.html\">d</a><a href=\"/e/p.html\">e</a>"));
    for (const char* leaf : {"b/p.html", "c/p.html", "d/p.html", "e/p.html"})
        Nginx.WriteDoc(leaf, Page("<a href=\"/f/p.html\">f</a>"));
    Nginx.WriteDoc("f/p.html", Page("leaf"));
    const std::string start = H + "/a/index.html";

    Front.Answer(TFollowAnswer::YesToAll);
    Scan(start);
    EXPECT_THAT(Questions(), ElementsAre(Question(H + "/b/", start)));
    EXPECT_THAT(Lines, ElementsAre(start, H + "/b/p.html", H + "/c/p.html", H + "/d/p.html", H + "/e/p.html",
                                   H + "/f/p.html", Done(6, 0)));

    // The answers last one scan: the next one asks again.
    Front.Reset();
    Front.Answer(TFollowAnswer::No);
    Front.Answer(TFollowAnswer::NoToAll);
    Scan(start);
    EXPECT_THAT(Questions(), ElementsAre(Question(H + "/b/", start), Question(H + "/c/", start)));
    EXPECT_THAT(Lines, ElementsAre(start, Done(1, 0)));
    EXPECT_EQ(Front.Unanswered(), 0);
}

TEST_F(ScanTest, AutomaticModeRefusesNewDirectoriesWithoutAsking)
{
    WriteDirectorySite();
    Front.Auto = true;
    Scan(H + "/a/index.html");

    EXPECT_THAT(Front.Asked, IsEmpty());
    EXPECT_THAT(Lines, ElementsAre(H + "/a/index.html", H + "/a/sub/p.html", Done(2, 0)));

    // "%2e" is a dot to nginx as to browsers: behind such segments the
    // declined directory stays declined.
    Nginx.WriteDoc("a/dots.html", Page("<a href=\"/b/r.html\">1</a>\n<a href=\"/a/%2e%2e/b/p.html\">2</a>\n"
                                       "<a href=\"sub/%2E%2E/.%2e/b/q.html\">3</a>\n<a href=\"%2e/sub/p.html\">4</a>"));
    Scan(H + "/a/dots.html");
    EXPECT_THAT(Front.Asked, IsEmpty());
    EXPECT_THAT(Lines, ElementsAre(H + "/a/dots.html", H + "/a/sub/p.html", Done(2, 0)));
}

TEST_F(ScanTest, ParentLinksAndThePagesOwnDirectoryNeedNoQuestion)
{
    Nginx.WriteDoc("a/b/x.html", Page("<a href=\"../up.html\">u</a> <a href=\"../c/y.html\">y</a>"
                                      "<a href=\"../b/w.html\">w</a>"));
    Nginx.WriteDoc("a/up.html", Page("<a href=\"z.html\">z</a>"));
    Nginx.WriteDoc("a/c/y.html", Page("leaf"));
    Nginx.WriteDoc("a/b/w.html", Page("leaf"));
    Nginx.WriteDoc("a/z.html", Page("leaf"));
    Scan(H + "/a/b/x.html");

    EXPECT_THAT(Front.Asked, IsEmpty());
    EXPECT_THAT(Lines, ElementsAre(H + "/a/b/x.html", H + "/a/up.html", H + "/a/c/y.html", H + "/a/b/w.html",
                                   H + "/a/z.html", Done(5, 0)));

    // "Nur unterhalb der Startadresse": "../" is followed only where it
    // stays in an allowed directory, and nobody is asked about the rest.
    Jobs.Settings.NoParent = true;
    Scan(H + "/a/b/x.html");
    EXPECT_THAT(Front.Asked, IsEmpty());
    EXPECT_THAT(Lines, ElementsAre(H + "/a/b/x.html", H + "/a/b/w.html", Done(2, 0)));
}

TEST_F(ScanTest, TagRulesDecideWhatIsFollowedAndWhatIsListed)
{
    Nginx.WriteDoc("a/index.html",
                   Page("<meta http-equiv=\"refresh\" content=\"5; URL=next.html\">\n"
                        "<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0; url=/other/x.html\">\n"
                        "<a href=\"http://www.o.d/\">fremd</a>\n"
                        "<a href=\"" + H + "/a/p.html\">absolut</a>\n"
                        "<a href=\"sub/\">ordner</a>\n"
                        "<img src=\"pic.GIF\">\n"
                        "<a href=\"photo.jpg\">foto</a>\n"
                        "<a href=\"photo.jpg?size=2\">gross</a>\n"
                        "<iframe src=\"if.html\"></iframe>\n"
                        "<frame src=\"fr.html\">\n"
                        "<map><area href=\"map.html\"></map>\n"
                        "<link rel=\"next\" href=\"l.htm\">\n"
                        "<a href=\"style.css\">css</a>"));
    Nginx.WriteDoc("a/p.html", Page("<img src=\"PIC.gif\"> <img src=\"x.png\">"));
    for (const char* leaf : {"a/next.html", "a/sub/index.html", "a/fr.html", "a/map.html", "a/l.htm", "a/if.html",
                             "other/x.html"})
        Nginx.WriteDoc(leaf, Page("leaf"));
    Scan(H + "/a/index.html");

    EXPECT_THAT(Front.Asked, IsEmpty()) << "a refresh to another directory is dropped silently";
    EXPECT_THAT(Lines, ElementsAre(H + "/a/index.html", H + "/a/next.html", H + "/a/p.html", H + "/a/sub/",
                                   H + "/a/fr.html", H + "/a/map.html", H + "/a/l.htm", Done(7, 3)));
    // The same picture in another letter case is neither listed nor counted twice.
    EXPECT_THAT(Found(), ElementsAre(H + "/a/pic.GIF", H + "/a/photo.jpg", H + "/a/x.png"));
}

TEST_F(ScanTest, FileTypesComeFromTheTypeListIgnoringCase)
{
    Nginx.WriteDoc("index.html", Page("<img src=\"a.gif\"><img src=\"b.webp\"><a href=\"c.WEBP\">c</a>"
                                      "<img src=\"d.png\">"));
    Front.Types = {"webp", ".png"};
    Scan(H + "/index.html");

    // ".png" with its dot never matches; "webp" matches either case.
    EXPECT_THAT(Found(), ElementsAre(H + "/b.webp", H + "/c.WEBP"));
    EXPECT_EQ(Lines.back(), Done(1, 2));
}

TEST_F(ScanTest, SameAddressIsFetchedOnceButLetterCaseMakesAnotherAddress)
{
    Nginx.WriteDoc("index.html", Page("<a href=\"a.html\">1</a><a href=\"a.html\">2</a><a href=\"A.html\">3</a>"));
    Nginx.WriteDoc("a.html", Page("<a href=\"index.html\">zurueck</a>"));
    Scan(H + "/index.html");

    EXPECT_THAT(Lines, ElementsAre(H + "/index.html", H + "/a.html", H + "/A.html", "Error... (404 Not Found)",
                                   Done(2, 0)));
}

TEST_F(ScanTest, FailedPagesAreLoggedAndTheScanGoesOn)
{
    Nginx.WriteDoc("index.html", Page("<a href=\"missing.html\">1</a><a href=\"bad.html\">2</a>"
                                      "<a href=\"good.html\">3</a>"));
    // An empty frame source or refresh target cannot be resolved: it is
    // passed over and the rest of the page is still read.
    Nginx.WriteDoc("bad.html", Page("<img src=\"before.gif\"><a href=\"f1.html\">f</a>\n<frame src=\"\">\n"
                                    "<meta http-equiv=\"refresh\" content=\"0; URL=\">\n"
                                    "<img src=\"after.gif\">"));
    Nginx.WriteDoc("good.html", Page("leaf"));
    Nginx.WriteDoc("f1.html", Page("leaf"));
    Scan(H + "/index.html");

    // A refused page says by which status, a failed connection why in words.
    EXPECT_THAT(Lines, ElementsAre(H + "/index.html", H + "/missing.html", "Error... (404 Not Found)",
                                   H + "/bad.html", H + "/good.html", H + "/f1.html", Done(4, 2)));
    EXPECT_THAT(Found(), ElementsAre(H + "/before.gif", H + "/after.gif"));
    const std::string closed = "http://127.0.0.1:" + std::to_string(FreePort()) + "/index.html";
    Scan(closed);
    EXPECT_THAT(Lines, ElementsAre(closed, "HTTP Fehler: 10061 (Verbindung abgelehnt)", "Error...", Done(0, 0)));
}

TEST_F(ScanTest, ExistingFoundEntriesStayAndAreNotCounted)
{
    Nginx.WriteDoc("a/index.html", Page("<img src=\"PIC.gif\"><img src=\"neu.gif\">"));
    Front.SetFound({"erster Eintrag", H + "/a/pic.gif"});
    Scan(H + "/a/index.html");

    EXPECT_THAT(Found(), ElementsAre("erster Eintrag", H + "/a/pic.gif", H + "/a/neu.gif"));
    EXPECT_EQ(Lines.back(), Done(1, 1));
}

TEST_F(ScanTest, RedirectedPageResolvesAgainstTheAddressThatAnswered)
{
    // A start page that moves takes the start directory with it.
    Nginx.WriteDoc("z/new.html", Page("<a href=\"r.html\">r</a> <a href=\"new.html\">selbst</a>"));
    Nginx.WriteDoc("z/r.html", Page("<a href=\"../a/old.html\">alt</a>"));
    Nginx.WriteDoc("a/r.html", Page("leaf"));
    Front.Auto = true;
    Scan(H + "/a/old.html");
    EXPECT_THAT(Lines, ElementsAre(H + "/a/old.html", H + "/z/r.html", Done(2, 0)));

    // Further down the scan the page's own directory moves.
    Nginx.WriteDoc("a/index.html", Page("<a href=\"old.html\">alt</a>"));
    Scan(H + "/a/index.html");
    EXPECT_THAT(Lines, ElementsAre(H + "/a/index.html", H + "/a/old.html", H + "/z/r.html", Done(3, 0)));
}

TEST_F(ScanTest, HostilePagesEndThatPageOnly)
{
    // Over the page limit, a redirect loop, NUL bytes and broken markup.
    Nginx.WriteDoc("huge.html", std::string(17u << 20, 'x'));
    std::string nul = "<a href=\"n1.html\">";
    nul += '\0';
    nul += "<a href=\"lost.html\">\n<a href=\"n2.html\">\n<<a href=\"n3.html\" <img src=\"x.gif\"\n<a href=\"n4.html\">";
    Nginx.WriteDoc("nul.html", nul);
    Nginx.WriteDoc("index.html", Page("<a href=\"huge.html\">1</a><a href=\"loop.html\">2</a>"
                                      "<a href=\"nul.html\">3</a>"));
    for (const char* leaf : {"n1.html", "n2.html", "n3.html", "n4.html", "lost.html"})
        Nginx.WriteDoc(leaf, Page("leaf"));
    Scan(H + "/index.html");

    ASSERT_GE(Lines.size(), 8u);
    EXPECT_EQ(Lines[0], H + "/index.html");
    EXPECT_EQ(Lines[1], H + "/huge.html");
    EXPECT_EQ(Lines[2].rfind("HTTP Fehler: ", 0), 0u);
    EXPECT_EQ(Lines[3], "Error...");
    EXPECT_EQ(Lines[4], H + "/loop.html");
    EXPECT_EQ(Lines[5].rfind("HTTP Fehler: ", 0), 0u);
    EXPECT_EQ(Lines[6], "Error...");
    EXPECT_EQ(Lines[7], H + "/nul.html");
    EXPECT_EQ(std::count(Lines.begin(), Lines.end(), H + "/lost.html"), 0) << "text after a NUL is cut";
    EXPECT_EQ(std::count(Lines.begin(), Lines.end(), H + "/n1.html"), 1);
    EXPECT_EQ(Lines.back().rfind("Done! (", 0), 0u);
}

TEST_F(ScanTest, PageWithManyLinksStaysLinear)
{
    // Each line an image and a link back to the page. Four times the lines may
    // cost about four times the processor time; a scan that compared each new
    // entry with every earlier one would take sixteen times as long and fail
    // here instead of running into the time-out.
    auto scanCost = [this](int lines, const std::string& name) {
        std::string body;
        for (int i = 0; i < lines; ++i)
            body += "<img src=\"b" + std::to_string(i) + ".gif\"><a href=\"" + name + "\">i</a>\n";
        Nginx.WriteDoc(name, Page(body));
        return LeastThreadCpuSeconds(3, [&] {
            Front.SetFound({});
            Scan(H + "/" + name);
            EXPECT_THAT(Lines, ElementsAre(H + "/" + name, Done(1, lines)));
        });
    };
    const double small = scanCost(5000, "klein.html");
    const double large = scanCost(20000, "index.html");
    EXPECT_LT(large, 10 * small) << "5000 lines " << small << " s, 20000 lines " << large << " s";
    ASSERT_EQ(Found().size(), 20000u);
    EXPECT_EQ(Found()[19999], H + "/b19999.gif");
}

TEST_F(ScanTest, AddressWithoutSchemeIsFetchedOverHttp)
{
    WriteDirectorySite();
    Nginx.WriteDoc("a/index.html", Page("<a href=\"sub/p.html\">1</a><img src=\"pic1.jpg\">"
                                        "<a href=\"/b/p.html\">2</a>"));
    const std::string bare = H.substr(std::string("http://").size());  // "127.0.0.1:port"
    Front.Answer(TFollowAnswer::No);
    Scan(bare + "/a/index.html");
    EXPECT_THAT(Lines, ElementsAre(H + "/a/index.html", H + "/a/sub/p.html", Done(2, 1)));
    EXPECT_THAT(Found(), ElementsAre(H + "/a/pic1.jpg"));
    EXPECT_THAT(Questions(), ElementsAre(Question(H + "/b/", H + "/a/index.html")));

    // A host alone, and a scheme-relative address.
    Nginx.WriteDoc("index.html", Page("<img src=\"top.gif\">"));
    Scan(bare);
    EXPECT_THAT(Lines, ElementsAre(H + "/", Done(1, 1)));
    Scan("//" + bare + "/index.html");
    EXPECT_THAT(Lines, ElementsAre(H + "/index.html", Done(1, 0)));
    // Blanks and a line break pasted along are not part of the address.
    Scan(" \t" + H + "/index.html \r\n");
    EXPECT_THAT(Lines, ElementsAre(H + "/index.html", Done(1, 0)));
    EXPECT_EQ(Front.Unanswered(), 0);
}

TEST_F(ScanTest, RealWorldAddressesEndTheCrawlWithEveryPageFetchedOnce)
{
    Nginx.WriteDoc("rw/en/index.html",
                   Page("<a href=\"#top\">oben</a>\n"
                        "<a href=\"p.html#a\">a</a> <a href=\"p.html#b\">b</a> <a href=\"p.html\">p</a>\n"
                        "<a href=\"d/#x\">anker im ordner</a>\n"
                        "<a href=\"sub/../q.html\">q</a> <a href=\"./sub/./s.html\">s</a>\n"
                        "<a href=\"/rw/en/abs/y.html\">wurzel</a>\n"
                        "<a href=\"page2.html\">2</a>\n"
                        "<a href=\"index.html#top\">selbst</a> <a href=\"../index.html\">start</a>\n"
                        "<a href=\"/other/z.html\">fremd</a>\n"
                        "<a href=\"mailto:a@h.d\">m</a> <a href=\"javascript:void(0)\">j</a>\n"
                        "<img src=\"img/a.gif#f\">"));
    Nginx.WriteDoc("rw/en/d/index.html",
                   Page("<a href=\"../d/q.html\">q</a> <a href=\"#x\">x</a> <img src=\"pic.gif\">"));
    Nginx.WriteDoc("rw/en/sub/s.html", Page("<a href=\"../sub/../index.html\">i</a> <a href=\"./../p.html#z\">p</a>"));
    Nginx.WriteDoc("rw/en/abs/y.html", Page("<a href=\"/rw/en/abs/../p.html\">p</a> <img src=\"../img/a.gif\">"));
    for (const char* leaf : {"rw/en/p.html", "rw/en/q.html", "rw/en/page2.html", "rw/en/d/q.html", "other/z.html"})
        Nginx.WriteDoc(leaf, Page("leaf"));
    Front.Answer(TFollowAnswer::No);
    Scan(H + "/rw/index.html#start");

    // The root link into the start directory needs no question; the one
    // elsewhere names its own directory.
    EXPECT_THAT(Questions(), ElementsAre(Question(H + "/other/", H + "/rw/en/index.html")));
    EXPECT_THAT(Lines, ElementsAre(H + "/rw/index.html", H + "/rw/en/p.html", H + "/rw/en/d/", H + "/rw/en/q.html",
                                   H + "/rw/en/sub/s.html", H + "/rw/en/abs/y.html", H + "/rw/en/page2.html",
                                   H + "/rw/en/d/q.html", Done(8, 2)));
    EXPECT_THAT(Found(), ElementsAre(H + "/rw/en/img/a.gif", H + "/rw/en/d/pic.gif"));
    const std::map<std::string, int> expected = {
        {"/rw/index.html", 1}, {"/rw/en/index.html", 1}, {"/rw/en/p.html", 1},     {"/rw/en/d/", 1},
        {"/rw/en/q.html", 1},  {"/rw/en/sub/s.html", 1}, {"/rw/en/abs/y.html", 1}, {"/rw/en/page2.html", 1},
        {"/rw/en/d/q.html", 1}};
    EXPECT_EQ(Requests(expected.size()), expected);
}

TEST_F(ScanTest, FailedPageIsNotFetchedAgainUnderAnyName)
{
    Nginx.WriteDoc("index.html", Page("<a href=\"gone.html\">1</a> <a href=\"x/../gone.html#a\">2</a>"
                                      "<a href=\"ok.html\">3</a>"));
    Nginx.WriteDoc("ok.html", Page("<a href=\"gone.html\">wieder</a>"));
    Scan(H + "/index.html");

    EXPECT_THAT(Lines, ElementsAre(H + "/index.html", H + "/gone.html", "Error... (404 Not Found)", H + "/ok.html",
                                   Done(2, 0)));
    EXPECT_EQ(Requests(3).at("/gone.html"), 1);
}

TEST_F(ScanTest, PageAndLevelBoundsStopTheQueueWithOneLine)
{
    // Every page above level 3 links two pages one level further down.
    for (int level = 0; level < 4; ++level)
        for (int i = 0; i < (1 << level); ++i) {
            const std::string name = "t/" + std::to_string(level) + "_" + std::to_string(i) + ".html";
            const std::string next = std::to_string(level + 1) + "_";
            const std::string links = level == 3 ? std::string()
                                                 : "<a href=\"" + next + std::to_string(2 * i) + ".html\">l</a> <a href=\"" +
                                                       next + std::to_string(2 * i + 1) + ".html\">r</a> ";
            Nginx.WriteDoc(name, Page(links + "<img src=\"" + std::to_string(level) + ".gif\">"));
        }

    Jobs.Settings.MaxPages = 4;
    Scan(H + "/t/0_0.html");
    EXPECT_THAT(Lines, ElementsAre(H + "/t/0_0.html", H + "/t/1_0.html", H + "/t/1_1.html", H + "/t/2_0.html",
                                   "Seitenlimit 4 erreicht: 5 weitere Seiten nicht geholt.", Done(4, 3)));

    Jobs.Settings.MaxPages = 0;
    Jobs.Settings.MaxLevel = 1;
    Front.SetFound({});
    Scan(H + "/t/0_0.html");
    // The pages of the last level are read for pictures, their links are not followed.
    EXPECT_THAT(Lines, ElementsAre(H + "/t/0_0.html", H + "/t/1_0.html", H + "/t/1_1.html",
                                   "Linktiefe 1 erreicht: weitere Links nicht verfolgt.", Done(3, 2)));

    // A bound the site never reaches says nothing.
    Jobs.Settings.MaxPages = 100;
    Jobs.Settings.MaxLevel = 3;
    Scan(H + "/t/0_0.html");
    ASSERT_FALSE(Lines.empty());
    EXPECT_EQ(Lines.size(), 16u);
    EXPECT_EQ(Lines.back(), Done(15, 2));
}
