// Naming and file rules of the download engine: where a picture lands and that
// nothing outside the target folder, or already there, is ever touched.
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "engine/DownloadNames.h"

namespace fs = std::filesystem;
using namespace dlnames;

namespace {

class TempDir {
public:
    TempDir()
    {
        std::string tmpl = (fs::temp_directory_path() / "wl-dlnames-XXXXXX").string();
        Path = mkdtemp(tmpl.data());
        Dir = Path + "/";
    }
    ~TempDir() { fs::remove_all(Path); }
    void Touch(const std::string& name, const std::string& content = "old")
    {
        std::ofstream(Dir + name, std::ios::binary) << content;
    }
    std::string Read(const std::string& name) const
    {
        std::ifstream in(Dir + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string Path, Dir;
};

}  // namespace

TEST(DownloadNames, FileNameIsTheTextBehindTheLastSlash)
{
    EXPECT_EQ(UrlFileName("http://h.d/pics/bild.gif"), "bild.gif");
    EXPECT_EQ(UrlFileName("http://h.d/bild.php?id=3"), "bild.php?id=3");
    EXPECT_EQ(UrlFileName("http://h.d/show?f=a/b.gif"), "b.gif");
    EXPECT_EQ(UrlFileName("bild.gif"), "bild.gif");
    EXPECT_EQ(UrlFileName("http://h.d/pics/"), "");
    EXPECT_EQ(UrlFileName("http://h.d/%20x.gif"), "%20x.gif");

    // Saved under the name decoded, as wget saves it.
    EXPECT_EQ(SaveFileName("http://h.d/caf%C3%A9.jpg"), "caf\xC3\xA9.jpg");
    EXPECT_EQ(SaveFileName("http://h.d/rabatt%2050%25.jpg"), "rabatt 50%.jpg");
    EXPECT_EQ(SaveFileName("http://h.d/%e6%97%a5%E6%9C%AC%E8%AA%9E.png"), "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.png");
    EXPECT_EQ(SaveFileName("http://h.d/s.php?q=a%20b+c"), "s.php?q=a b+c");
    EXPECT_EQ(SaveFileName("http://h.d/B\xC3\xA4ume 1.jpg"), "B\xC3\xA4ume 1.jpg");
    // Never decoded: what would leave the folder or cut the name, controls,
    // what is no UTF-8, and the names of the folder and its parent.
    EXPECT_EQ(SaveFileName("http://h.d/a%2Fb%2f..%00c%0A%7F%c2%85%C2%A0.jpg"), "a%2Fb%2f..%00c%0A%7F%c2%85\xC2\xA0.jpg");
    EXPECT_EQ(SaveFileName("http://h.d/%FCber%20x.jpg"), "%FCber%20x.jpg");
    EXPECT_EQ(SaveFileName("http://h.d/x/%2e%2e"), "%2e%2e");
    EXPECT_EQ(SaveFileName("http://h.d/%2E"), "%2E");
    EXPECT_EQ(SaveFileName("http://h.d/50%.jpg"), "50%.jpg");

    // Longer than a file name may be: shortened before the extension, never
    // inside a character; a number added later still fits.
    std::string escaped;
    for (int i = 0; i < 300; ++i)
        escaped += "%C3%A4";
    const std::string longName = SaveFileName("http://h.d/" + escaped + ".jpg");
    EXPECT_EQ(longName.size(), 254u) << "125 whole characters and the extension";
    EXPECT_TRUE(longName.ends_with("\xC3\xA4.jpg")) << longName;
    const std::string numbered = NumberedName(longName, 12);
    EXPECT_LE(numbered.size(), 255u);
    EXPECT_TRUE(numbered.ends_with("\xC3\xA4" "12.jpg")) << numbered;
    EXPECT_EQ(SaveFileName("http://h.d/%20" + std::string(300, 'x')), " " + std::string(254, 'x'));
}

TEST(DownloadNames, TargetDirGetsOneTrailingSlash)
{
    EXPECT_EQ(TargetDirOf("/home/u/Bilder"), "/home/u/Bilder/");
    EXPECT_EQ(TargetDirOf("/home/u/Bilder/"), "/home/u/Bilder/");
    EXPECT_EQ(TargetDirOf("relativ"), "relativ/");
}

TEST(DownloadNames, NumberGoesBetweenBaseAndExtension)
{
    EXPECT_EQ(NumberedName("bild.gif", 0), "bild0.gif");
    EXPECT_EQ(NumberedName("bild.gif", 12), "bild12.gif");
    EXPECT_EQ(NumberedName("bild", 0), "bild0");
    EXPECT_EQ(NumberedName("a.b.jpg", 1), "a.b1.jpg");
    EXPECT_EQ(NumberedName("bild.php?id=3", 0), "bild0.php?id=3");
    EXPECT_EQ(NumberedName("punkt.", 2), "punkt2.");
    EXPECT_EQ(NumberedName(".gif", 0), "0.gif");
}

TEST(DownloadNames, FirstFreeNumberSkipsTakenFiles)
{
    TempDir t;
    EXPECT_EQ(FirstFreeNumberedName(t.Dir, "bild.gif"), "bild0.gif");
    t.Touch("bild0.gif");
    t.Touch("bild1.gif");
    EXPECT_EQ(FirstFreeNumberedName(t.Dir, "bild.gif"), "bild2.gif");
    // A folder is no file: its name counts as free (and creating it then fails).
    fs::create_directory(t.Dir + "bild2.gif");
    EXPECT_FALSE(RegularFileExists(t.Dir + "bild2.gif"));
    EXPECT_EQ(FirstFreeNumberedName(t.Dir, "bild.gif"), "bild2.gif");
    EXPECT_EQ(CreateExclusive(t.Dir, "bild2.gif"), -1);
}

TEST(DownloadNames, UnusableNamesAreRefusedBeforeTouchingAnything)
{
    TempDir t;
    for (const char* bad : {"", ".", ".."})
        EXPECT_EQ(CreateExclusive(t.Dir, bad), -1) << '"' << bad << '"';
    EXPECT_EQ(CreateExclusive(t.Dir, std::string("a\0b", 3)), -1);
    EXPECT_EQ(CreateExclusive(t.Dir, "../outside.gif"), -1);
    EXPECT_FALSE(fs::exists(fs::path(t.Path).parent_path() / "outside.gif"));
    EXPECT_TRUE(fs::is_empty(t.Path));
}

TEST(DownloadNames, ExclusiveCreateNeverOverwrites)
{
    TempDir t;
    t.Touch("bild.gif", "erste Fassung");
    EXPECT_EQ(CreateExclusive(t.Dir, "bild.gif"), -1);
    EXPECT_EQ(t.Read("bild.gif"), "erste Fassung");

    // A symbolic link of that name, even a dangling one, is not followed.
    const std::string target = t.Dir + "ziel.gif";
    ASSERT_EQ(symlink(target.c_str(), (t.Dir + "link.gif").c_str()), 0);
    EXPECT_EQ(CreateExclusive(t.Dir, "link.gif"), -1);
    EXPECT_FALSE(fs::exists(target));

    const int fd = CreateExclusive(t.Dir, "neu.gif");
    ASSERT_GE(fd, 0);
    TDownloadFileStream s(fd);
    EXPECT_TRUE(s.Write("abc", 3));
    EXPECT_TRUE(s.Write("de", 2));
    EXPECT_EQ(s.Size(), 5);
    EXPECT_EQ(::close(fd), 0);
    EXPECT_EQ(t.Read("neu.gif"), "abcde");
}

// Whichever way a download's file is made, it never replaces anything, and
// what a failure leaves is removed.
class PendingFileTest : public ::testing::TestWithParam<bool> {
protected:
    TFileWays Ways() const { return TFileWays{GetParam(), true}; }
    static bool Write(TPendingFile& f, const std::string& data)
    {
        TDownloadFileStream s(f.Fd());
        return s.Write(data.data(), data.size()) && !s.Failed();
    }
};

TEST_P(PendingFileTest, GetsItsNameCompleteAndNeverOverwrites)
{
    TempDir t;
    TTargetFolder folder(Ways());
    folder.Use(t.Dir);
    TPendingFile f;
    ASSERT_TRUE(f.Open(folder, "bild.gif"));
    EXPECT_EQ(f.Unnamed(), GetParam()) << "this file system has unnamed files";
    ASSERT_TRUE(Write(f, "teil"));
    // Unnamed: nothing under the name while it is written.
    EXPECT_EQ(fs::exists(t.Dir + "bild.gif"), !f.Unnamed());
    ASSERT_TRUE(Write(f, "zwei"));
    EXPECT_EQ(f.Publish(), TPendingFile::TPublish::Done);
    EXPECT_EQ(t.Read("bild.gif"), "teilzwei");
    EXPECT_TRUE(f.Discard()) << "a published file is no longer ours to delete";
    EXPECT_EQ(t.Read("bild.gif"), "teilzwei");

    // Named through /proc, as where the kernel refuses the descriptor way.
    {
        TTargetFolder procFolder(TFileWays{GetParam(), false});
        procFolder.Use(t.Dir);
        TPendingFile p;
        ASSERT_TRUE(p.Open(procFolder, "proc.gif"));
        ASSERT_TRUE(Write(p, "über proc"));
        EXPECT_EQ(p.Publish(), TPendingFile::TPublish::Done);
        EXPECT_EQ(t.Read("proc.gif"), "über proc");
    }

    // A name taken by someone else while the file was written.
    TPendingFile g;
    ASSERT_TRUE(g.Open(folder, "fremd.gif"));
    if (g.Unnamed()) {
        t.Touch("fremd.gif", "fremd");
        ASSERT_TRUE(Write(g, "unsers"));
        EXPECT_EQ(g.Publish(), TPendingFile::TPublish::NameTaken);
        EXPECT_EQ(t.Read("fremd.gif"), "fremd");
    }
    EXPECT_TRUE(g.Discard());

    // Named from the start: an existing name refuses the open itself.
    TPendingFile h;
    if (!GetParam()) {
        EXPECT_FALSE(h.Open(folder, "bild.gif"));
        EXPECT_TRUE(h.Discard());
        EXPECT_EQ(t.Read("bild.gif"), "teilzwei") << "a refused open deletes nothing";
    }
    EXPECT_FALSE(h.Open(folder, ".."));
    EXPECT_FALSE(h.Open(folder, ""));
    // Whichever way: a name held by a folder or a link, or one too long,
    // refuses the open before anything is written.
    fs::create_directory(t.Dir + "ordner.gif");
    fs::create_symlink(t.Dir + "nirgends", t.Dir + "link.gif");
    EXPECT_FALSE(h.Open(folder, "ordner.gif"));
    EXPECT_FALSE(h.Open(folder, "link.gif"));
    EXPECT_FALSE(h.Open(folder, std::string(300, 'x')));
    EXPECT_FALSE(fs::exists(t.Dir + "nirgends"));
    // A folder replaced under its name is opened again on the next use.
    fs::rename(t.Path, t.Path + "-alt");
    fs::create_directory(t.Path);
    folder.Use(t.Dir);
    EXPECT_FALSE(folder.RegularFileExists("bild.gif")) << "the new, empty folder is the one held";
    fs::remove(t.Path);
    fs::rename(t.Path + "-alt", t.Path);
    folder.Use(t.Dir);
    EXPECT_TRUE(folder.RegularFileExists("bild.gif"));
    EXPECT_TRUE(folder.RegularFileExists("bild.gif"));
    EXPECT_FALSE(folder.RegularFileExists("fehlt.gif"));
    folder.Use(t.Dir + "fehlt/");
    EXPECT_EQ(folder.Fd(), -1);
    EXPECT_FALSE(h.Open(folder, "x.gif"));
    EXPECT_FALSE(folder.RegularFileExists("bild.gif"));
    fs::create_directory(t.Dir + "fehlt");
    folder.Use(t.Dir + "fehlt/");
    EXPECT_GE(folder.Fd(), 0) << "made meanwhile: opened on the next use";
}

TEST_P(PendingFileTest, AFailedDownloadLeavesNothing)
{
    TempDir t;
    TTargetFolder folder(Ways());
    folder.Use(t.Dir);
    {
        TPendingFile f;
        ASSERT_TRUE(f.Open(folder, "halb.gif"));
        ASSERT_TRUE(Write(f, "halb"));
        EXPECT_TRUE(f.Discard());
    }
    {
        // Left without Publish or Discard, as by a crash: unnamed leaves nothing.
        TPendingFile f;
        ASSERT_TRUE(f.Open(folder, "abgebrochen.gif"));
        ASSERT_TRUE(Write(f, "abge"));
        if (!f.Unnamed()) {
            ASSERT_TRUE(f.Discard());
        }
    }
    {
        // Given up without Publish or Discard (an exception on the way out):
        // whichever way it was made, the part goes with it.
        TPendingFile f;
        ASSERT_TRUE(f.Open(folder, "verlassen.gif"));
        ASSERT_TRUE(Write(f, "teil"));
    }
    EXPECT_TRUE(fs::is_empty(t.Path));
}

INSTANTIATE_TEST_SUITE_P(UnnamedOrNamed, PendingFileTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Unnamed" : "Named"; });

TEST(DownloadNames, MissingFolderFailsTheCreate)
{
    TempDir t;
    EXPECT_EQ(CreateExclusive(t.Dir + "fehlt/", "bild.gif"), -1);
}

TEST(DownloadNames, WriteFailureIsRemembered)
{
    // A file-size limit makes the kernel refuse the write as a full disk would.
    TempDir t;
    const int fd = CreateExclusive(t.Dir, "gross.gif");
    ASSERT_GE(fd, 0);
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim = old;
    lim.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
    TDownloadFileStream s(fd);
    const std::string block(3000, 'x');
    const bool first = s.Write(block.data(), block.size());
    const bool second = s.Write(block.data(), block.size());
    const bool third = s.Write("y", 1);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(first);
    EXPECT_FALSE(second);
    EXPECT_FALSE(third) << "no writes after a failure";
    EXPECT_TRUE(s.Failed());
    ::close(fd);
}

TEST(DownloadNames, DeleteFailureLineNamesTheFile)
{
    EXPECT_EQ(DeleteFailedLine("bild0.gif"), "Fehler: Konnte unvollständige Datei bild0.gif nicht löschen...");
}

TEST(DownloadNames, FolderTellsExistingFilesFromFreeNames)
{
    TempDir t;
    t.Touch("bild.gif");
    fs::create_directory(t.Dir + "ordner.gif");
    ASSERT_EQ(symlink((t.Dir + "bild.gif").c_str(), (t.Dir + "verweis.gif").c_str()), 0);
    ASSERT_EQ(symlink((t.Dir + "fehlt.gif").c_str(), (t.Dir + "tot.gif").c_str()), 0);
    TTargetFolder folder;
    folder.Use(t.Dir);
    struct Case {
        const char* name;
        bool exists, free;
    };
    for (const Case& c : {Case{"bild.gif", true, false}, Case{"verweis.gif", true, false},
                          Case{"ordner.gif", false, false}, Case{"tot.gif", false, false},
                          Case{"neu.gif", false, true}}) {
        bool free = !c.free;
        EXPECT_EQ(folder.RegularFileExists(c.name, &free), c.exists) << c.name;
        EXPECT_EQ(free, c.free) << c.name;
    }
}
