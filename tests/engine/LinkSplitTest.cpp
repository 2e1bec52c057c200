#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "engine/LinkSplit.h"
#include "support/Bounds.h"

namespace {

const std::string kPageDir = "http://h.d/a/b/";

// The address the page scan forms from the parts.
std::string Address(const std::string& link, const std::string& pageDir)
{
    const TLinkParts parts = SplitLink(link, pageDir);
    return (parts.LinkDir.empty() ? pageDir : parts.LinkDir) + parts.LinkFile;
}

struct TRow {
    const char* Link;
    const char* Dir;
    const char* File;
    const char* Address;
};

TEST(SplitLink, WorkedExamplesOnADeepPage)
{
    const TRow rows[] = {
        {"x.gif", "", "x.gif", "http://h.d/a/b/x.gif"},
        {"./x.gif", "", "x.gif", "http://h.d/a/b/x.gif"},
        {"img/x.gif", "", "img/x.gif", "http://h.d/a/b/img/x.gif"},
        {"../x.gif", "http://h.d/a/", "x.gif", "http://h.d/a/x.gif"},
        {"../../x.gif", "http://h.d/", "x.gif", "http://h.d/x.gif"},
        {"/img/x.gif", "http://h.d/", "img/x.gif", "http://h.d/img/x.gif"},
        {"www.o.d", "http://www.o.d/", "", "http://www.o.d/"},
        {"WWW.O.d/pics/x.jpg", "http://WWW.O.d/pics/", "x.jpg", "http://WWW.O.d/pics/x.jpg"},
        {"http://www.o.d/pics", "http://www.o.d/pics/", "", "http://www.o.d/pics/"},
        {"http://www.o.d/pics/", "http://www.o.d/pics/", "", "http://www.o.d/pics/"},
        {"http://www.o.d/show.php?id=3", "http://www.o.d/", "show.php?id=3", "http://www.o.d/show.php?id=3"},
        {"http://www.o.d/cgi?id=3", "http://www.o.d/cgi?id=3/", "", "http://www.o.d/cgi?id=3/"},
        {"page.html#top", "", "page.html#top", "http://h.d/a/b/page.html#top"},
        // Two adjacent slashes and no other: "/" is appended first, so the
        // whole link becomes the directory.
        {"a//b.gif", "a//b.gif/", "", "a//b.gif/"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Link);
        const TLinkParts parts = SplitLink(row.Link, kPageDir);
        EXPECT_EQ(parts.LinkDir, row.Dir);
        EXPECT_EQ(parts.LinkFile, row.File);
        EXPECT_EQ(Address(row.Link, kPageDir), row.Address);
    }
}

TEST(SplitLink, DotSlashAndParentPrefixes)
{
    // "./" goes first, then the link is a parent link.
    EXPECT_EQ(Address("./../x.gif", kPageDir), "http://h.d/a/x.gif");
    // Only one "./" is removed.
    const TLinkParts twice = SplitLink("././x.gif", kPageDir);
    EXPECT_EQ(twice.LinkDir, "");
    EXPECT_EQ(twice.LinkFile, "./x.gif");
    // A bare "../" names the parent directory itself.
    const TLinkParts up = SplitLink("../", kPageDir);
    EXPECT_EQ(up.LinkDir, "http://h.d/a/");
    EXPECT_EQ(up.LinkFile, "");
    // The rest of a parent link is taken as it is, even a "www." name.
    EXPECT_EQ(Address("../www.x.d", kPageDir), "http://h.d/a/www.x.d");
}

TEST(SplitLink, ParentLinksStopAtTheHost)
{
    EXPECT_EQ(Address("../../../x.gif", kPageDir), "http://h.d/x.gif");
    EXPECT_EQ(Address("../x.gif", "http://h.d/"), "http://h.d/x.gif");
    EXPECT_EQ(Address("../../../../", "http://h.d/a/"), "http://h.d/");
    EXPECT_EQ(Address("../x.gif", "http://h.d:8080/"), "http://h.d:8080/x.gif");
    // A directory given without its trailing slash still keeps its host.
    EXPECT_EQ(Address("../x.gif", "http://h.d"), "http://h.d/x.gif");
    EXPECT_EQ(Address("../x.gif", "http://h.d/a"), "http://h.d/x.gif");
}

TEST(SplitLink, RootLinksKeepSchemeAndHost)
{
    EXPECT_EQ(Address("/x.gif", "http://h.d/"), "http://h.d/x.gif");
    EXPECT_EQ(Address("/x.gif", "http://h.d:81/a/"), "http://h.d:81/x.gif");
    // A host without a dot, and a dot only in the path, still end at the first
    // slash after "//".
    EXPECT_EQ(Address("/x.gif", "http://h/a/"), "http://h/x.gif");
    EXPECT_EQ(Address("/x.gif", "http://localhost/a.b/c/"), "http://localhost/x.gif");
    EXPECT_EQ(Address("/x.gif", "http://10.0.0.1/a/b/"), "http://10.0.0.1/x.gif");
    EXPECT_EQ(Address("/", kPageDir), "http://h.d/");
    // "./" then a root link.
    EXPECT_EQ(Address(".//x.gif", kPageDir), "http://h.d/x.gif");
    // "../" inside a link is left to the server.
    EXPECT_EQ(Address("./x/../y.gif", kPageDir), "http://h.d/a/b/x/../y.gif");
}

TEST(SplitLink, AbsoluteLinks)
{
    const TLinkParts bare = SplitLink("http://h.d", kPageDir);
    EXPECT_EQ(bare.LinkDir, "http://h.d/");
    EXPECT_EQ(bare.LinkFile, "");
    EXPECT_EQ(SplitLink("http://h.d:81", kPageDir).LinkDir, "http://h.d:81/");
    // A link beginning with "//" names a host and takes the page's scheme.
    const TLinkParts cdn = SplitLink("//cdn.d/pics/x.gif", kPageDir);
    EXPECT_EQ(cdn.LinkDir, "http://cdn.d/pics/");
    EXPECT_EQ(cdn.LinkFile, "x.gif");
    EXPECT_EQ(SplitLink("//cdn.d", kPageDir).LinkDir, "http://cdn.d/");
    EXPECT_EQ(SplitLink("//cdn.d/x.gif", "ftp://f.d/").LinkDir, "ftp://cdn.d/");
    EXPECT_EQ(SplitLink("//cdn.d/x.gif", "").LinkDir, "http://cdn.d/");
    // The "www." test ignores case but only looks at the first four characters.
    EXPECT_EQ(SplitLink("wWw.o.d", kPageDir).LinkDir, "http://wWw.o.d/");
    EXPECT_EQ(SplitLink("www/x.gif", kPageDir).LinkDir, "");
    EXPECT_EQ(SplitLink("xwww.o.d", kPageDir).LinkDir, "");
    // Any "//" makes a link absolute; a single slash keeps it relative.
    EXPECT_EQ(SplitLink("img/sub/x.gif", kPageDir).LinkDir, "");
    const TLinkParts deep = SplitLink("a/b//c/d.gif", kPageDir);
    EXPECT_EQ(deep.LinkDir, "a/b//c/");
    EXPECT_EQ(deep.LinkFile, "d.gif");
    // A last segment whose extension is cut by a colon is a directory.
    EXPECT_EQ(SplitLink("http://h.d/a.b:c", kPageDir).LinkDir, "http://h.d/a.b:c/");
}

TEST(SplitLink, EmptyPageDir)
{
    // A start address without "//" is relative and gives an empty directory.
    const TLinkParts start = SplitLink("index.html", "");
    EXPECT_EQ(start.LinkDir, "");
    EXPECT_EQ(start.LinkFile, "index.html");
    // On such a page parent and root links resolve to bare names like any
    // relative link.
    for (const char* link : {"../x.gif", "../../x.gif", "/x.gif", "./../x.gif"}) {
        SCOPED_TRACE(link);
        const TLinkParts parts = SplitLink(link, "");
        EXPECT_EQ(parts.LinkDir, "");
        EXPECT_EQ(parts.LinkFile, "x.gif");
    }
    const TLinkParts up = SplitLink("../", "");
    EXPECT_EQ(up.LinkDir, "");
    EXPECT_EQ(up.LinkFile, "");
}

TEST(SplitLink, EmptyLinkIsRefusedAndOutputsAlwaysSet)
{
    std::string dir = "old", file = "old";
    EXPECT_THROW(SplitLink("", kPageDir, dir, file), std::invalid_argument);
    for (const char* link : {".", "./", "/", "..", "../", "?", "#", "x"}) {
        SCOPED_TRACE(link);
        dir = "old";
        file = "old";
        SplitLink(link, kPageDir, dir, file);
        EXPECT_NE(dir, "old");
        EXPECT_NE(file, "old");
        EXPECT_TRUE(dir.empty() || dir.back() == '/');
    }
}

TEST(SplitLink, LongInputsStayLinear)
{
    // k "../" against a directory of k / 2 levels, and a relative page
    // directory of 30 k bytes. Four times the size may take about four times
    // as long; deleting from the front of the text each time would take
    // sixteen times as long and fail here at once instead of running for ever.
    struct TInput {
        std::string pageDir, link, relativeDir;
    };
    auto input = [](int k) {
        TInput in{"http://h.d/", "", std::string(static_cast<std::size_t>(30 * k), 'a') + "/"};
        for (int i = 0; i < k / 2; ++i)
            in.pageDir += "d/";
        for (int i = 0; i < k; ++i)
            in.link += "../";
        in.link += "x.gif";
        return in;
    };
    auto cost = [](const TInput& in) {
        return wltest::LeastThreadCpuSeconds(5, [&] {
            for (int rep = 0; rep < 8; ++rep) {
                EXPECT_EQ(Address(in.link, in.pageDir), "http://h.d/x.gif");
                const TLinkParts rel = SplitLink(in.link, in.relativeDir);
                EXPECT_EQ(rel.LinkDir, in.relativeDir);
                EXPECT_EQ(rel.LinkFile, "x.gif");
            }
        });
    };
    const TInput small = input(4000);
    const TInput large = input(16000);
    const double smallCost = cost(small);
    const double largeCost = cost(large);
    EXPECT_LT(largeCost, 10 * smallCost) << "small " << smallCost << " s, four times larger " << largeCost << " s";
}

TEST(FileExtension, LastDotUnlessBackslashOrColonFollows)
{
    EXPECT_EQ(FileExtension("a.gif"), ".gif");
    EXPECT_EQ(FileExtension("a/b.c/d"), ".c/d");
    EXPECT_EQ(FileExtension("x.php?id=3"), ".php?id=3");
    EXPECT_EQ(FileExtension("page.html#top"), ".html#top");
    EXPECT_EQ(FileExtension("http://h.d:81"), "");
    EXPECT_EQ(FileExtension("c:\\dir.x\\file"), "");
    EXPECT_EQ(FileExtension("a.b.c"), ".c");
    EXPECT_EQ(FileExtension("noext"), "");
    EXPECT_EQ(FileExtension(""), "");
    EXPECT_EQ(FileExtension("."), ".");
    EXPECT_EQ(FileExtension("x."), ".");
    EXPECT_EQ(FileExtension("http://www.o.d/"), ".d/");
}

} // namespace

TEST(SplitLink, DoubleSlashWithoutAHostIsARootLink)
{
    // "//" with nothing or another "/" behind it names no host: the page's
    // host root takes it, instead of an address such as "http:///".
    EXPECT_EQ(Address("//", kPageDir), "http://h.d//");
    EXPECT_EQ(Address(".///", kPageDir), "http://h.d//");
    EXPECT_EQ(Address("///x.gif", kPageDir), "http://h.d///x.gif");
    EXPECT_EQ(SplitLink("//", kPageDir).LinkDir, "http://h.d/");
    EXPECT_EQ(SplitLink("//", "").LinkDir, "");
    // With a host behind it, "//" stays a network-path link.
    EXPECT_EQ(SplitLink("//cdn.d/x.gif", kPageDir).LinkDir, "http://cdn.d/");
}
