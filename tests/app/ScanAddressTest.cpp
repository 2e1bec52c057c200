// The page scan on sites written as real ones are: fragments, anchored
// directories, dot segments, a relocating start page and root links, served
// by nginx; every page is fetched once and the list holds what a browser
// would load. Also the bounds on pages and link depth.
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "JobTestFixture.h"

using namespace wltest;
using ::testing::ElementsAre;

namespace {

std::string Done(int pages, int images)
{
    return "Done! (" + std::to_string(pages) + " html files and " + std::to_string(images) +
           " image files found...)...";
}

class ScanAddressTest : public TJobFixture {
protected:
    void SetUp() override
    {
        TJobFixture::SetUp();
        ASSERT_TRUE(Nginx.Ok()) << Nginx.Error();
        H = Nginx.Url("");
    }

    void Scan(const std::string& url)
    {
        Lines.clear();
        Form->URLEdit->Text = url;
        Form->GoBtnClick();
    }

    // Request targets in nginx's log, each with how often it was asked for.
    std::map<std::string, int> Requests() const
    {
        std::map<std::string, int> count;
        std::istringstream log(Nginx.AccessLog());
        std::string line;
        while (std::getline(log, line)) {
            const auto space = line.find(' ');
            const auto end = line.find(' ', space + 1);
            if (space != std::string::npos && end != std::string::npos)
                ++count[line.substr(space + 1, end - space - 1)];
        }
        return count;
    }

    TNginx Nginx{"location = /rw/index.html { return 302 /rw/en/index.html; }"};
    std::string H;
};

}  // namespace

TEST_F(ScanAddressTest, RealWorldAddressesEndTheCrawlWithEveryPageFetchedOnce)
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
    Responder.AnswerMessage(mrNo);
    Scan(H + "/rw/index.html#start");

    // The root link into the start directory needs no question; the one
    // elsewhere names its own directory.
    EXPECT_THAT(Questions(), ElementsAre("Soll der Link zu \"" + H + "/other/\" weiterverfolgt werden?"));
    EXPECT_THAT(Lines, ElementsAre(H + "/rw/index.html", H + "/rw/en/p.html", H + "/rw/en/d/", H + "/rw/en/q.html",
                                   H + "/rw/en/sub/s.html", H + "/rw/en/abs/y.html", H + "/rw/en/page2.html",
                                   H + "/rw/en/d/q.html", Done(8, 2)));
    EXPECT_THAT(Found(), ElementsAre(H + "/rw/en/img/a.gif", H + "/rw/en/d/pic.gif"));
    const std::map<std::string, int> expected = {
        {"/rw/index.html", 1}, {"/rw/en/index.html", 1}, {"/rw/en/p.html", 1},     {"/rw/en/d/", 1},
        {"/rw/en/q.html", 1},  {"/rw/en/sub/s.html", 1}, {"/rw/en/abs/y.html", 1}, {"/rw/en/page2.html", 1},
        {"/rw/en/d/q.html", 1}};
    EXPECT_EQ(Requests(), expected);
}

TEST_F(ScanAddressTest, FailedPageIsNotFetchedAgainUnderAnyName)
{
    Nginx.WriteDoc("index.html", Page("<a href=\"gone.html\">1</a> <a href=\"x/../gone.html#a\">2</a>"
                                      "<a href=\"ok.html\">3</a>"));
    Nginx.WriteDoc("ok.html", Page("<a href=\"gone.html\">wieder</a>"));
    Scan(H + "/index.html");

    EXPECT_THAT(Lines, ElementsAre(H + "/index.html", H + "/gone.html", "Error...", H + "/ok.html", Done(2, 0)));
    EXPECT_EQ(Requests().at("/gone.html"), 1);
}

TEST_F(ScanAddressTest, PageAndLevelBoundsStopTheQueueWithOneLine)
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

    Form->MaxPages = 4;
    Scan(H + "/t/0_0.html");
    EXPECT_THAT(Lines, ElementsAre(H + "/t/0_0.html", H + "/t/1_0.html", H + "/t/1_1.html", H + "/t/2_0.html",
                                   "Seitenlimit 4 erreicht: 5 weitere Seiten nicht geholt.", Done(4, 3)));

    Form->MaxPages = 0;
    Form->MaxLevel = 1;
    Form->FoundImageList().Clear();
    Scan(H + "/t/0_0.html");
    // The pages of the last level are read for pictures, their links are not followed.
    EXPECT_THAT(Lines, ElementsAre(H + "/t/0_0.html", H + "/t/1_0.html", H + "/t/1_1.html",
                                   "Linktiefe 1 erreicht: weitere Links nicht verfolgt.", Done(3, 2)));

    // A bound the site never reaches says nothing.
    Form->MaxPages = 100;
    Form->MaxLevel = 3;
    Scan(H + "/t/0_0.html");
    ASSERT_FALSE(Lines.empty());
    EXPECT_EQ(Lines.size(), 16u);
    EXPECT_EQ(Lines.back(), Done(15, 2));
}
