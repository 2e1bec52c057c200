// The download engine end to end: files from nginx (or the scripted server for
// stalls) into a private folder. Nothing is overwritten, and a failed or
// cancelled file leaves nothing behind.
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "JobFixture.h"

namespace fs = std::filesystem;
using namespace wltest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

namespace {

class DownloadTest : public TEngineJobFixture {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Nginx.Ok()) << Nginx.Error();
        Dir = Target.Path() + "/";
        Front.Folder = Target.Path();
        Nginx.WriteDoc("pics/bild.gif", "GIF89a-bild");
    }

    TNginx Nginx;
    TTempDir Target;
    std::string Dir;
};

}  // namespace

TEST_F(DownloadTest, NumberedNamesNeverOverwrite)
{
    const std::string url = Nginx.Url("/pics/bild.gif");
    Target.WriteFile("bild0.gif", "schon da");
    Download({url, url, url});
    EXPECT_THAT(Lines, ElementsAre(Loading(1, 3, "bild.gif"), Loading(2, 3, "bild.gif"),
                                   "Die Datei bild.gif existiert schon, speichere unter bild1.gif...",
                                   Loading(3, 3, "bild.gif"),
                                   "Die Datei bild.gif existiert schon, speichere unter bild2.gif...", "Done..."));
    EXPECT_EQ(ReadFile(Dir + "bild0.gif"), "schon da");
    EXPECT_EQ(ReadFile(Dir + "bild1.gif"), "GIF89a-bild");
    EXPECT_EQ(ReadFile(Dir + "bild2.gif"), "GIF89a-bild");
}

TEST_F(DownloadTest, SkipPolicyLeavesExistingFilesAlone)
{
    Target.WriteFile("bild.gif", "alt");
    Nginx.WriteDoc("pics/eins.gif", "1");
    Nginx.WriteDoc("pics/neu.gif", "neu");
    Front.Skip = true;
    std::vector<int> progressAtLines;
    OnLine = [&](const std::string&) { progressAtLines.push_back(Front.TotalPercent); };
    Download({Nginx.Url("/pics/eins.gif"), Nginx.Url("/pics/bild.gif"), Nginx.Url("/pics/neu.gif")});
    EXPECT_THAT(Lines, ElementsAre(Loading(1, 3, "eins.gif"), Loading(2, 3, "bild.gif"),
                                   "Die Datei bild.gif existiert schon, wird übersprungen...", Loading(3, 3, "neu.gif"),
                                   "Done..."));
    EXPECT_EQ(ReadFile(Dir + "bild.gif"), "alt");
    EXPECT_EQ(ReadFile(Dir + "neu.gif"), "neu");
    // The skipped address still advances the overall progress.
    EXPECT_THAT(progressAtLines, ElementsAre(0, 0, 0, 33, 0));
}

TEST_F(DownloadTest, OverallProgressStepsPerAddress)
{
    for (const char* n : {"a", "b", "c", "d"})
        Nginx.WriteDoc(std::string("p/") + n + ".gif", n);
    std::vector<int> progressAtLines;
    OnLine = [&](const std::string&) { progressAtLines.push_back(Front.TotalPercent); };
    Download({Nginx.Url("/p/a.gif"), Nginx.Url("/p/b.gif"), Nginx.Url("/p/c.gif"), Nginx.Url("/p/d.gif")});
    EXPECT_THAT(progressAtLines, ElementsAre(0, 0, 25, 50, 0));
    EXPECT_EQ(Front.TotalPercent, 0);
    EXPECT_THAT(FilesIn(Target.Path()), UnorderedElementsAre("a.gif", "b.gif", "c.gif", "d.gif"));
}

TEST_F(DownloadTest, NamesThatWouldLeaveTheFolderFailTheCreateStep)
{
    Nginx.WriteDoc("pics/ok.gif", "ok");
    Download({Nginx.Url("/pics/"), Nginx.Url("/pics/.."), Nginx.Url("/pics/."), Nginx.Url("/pics/ok.gif")});
    EXPECT_THAT(Lines, ElementsAre(Loading(1, 4, ""), "Fehler: Konnte Datei  nicht erstellen/herunterladen...",
                                   Loading(2, 4, ".."), "Fehler: Konnte Datei .. nicht erstellen/herunterladen...",
                                   Loading(3, 4, "."), "Fehler: Konnte Datei . nicht erstellen/herunterladen...",
                                   Loading(4, 4, "ok.gif"), "Done..."));
    EXPECT_THAT(FilesIn(Target.Path()), ElementsAre("ok.gif"));
}

TEST_F(DownloadTest, FailedRequestLeavesNoFileAndTheRunGoesOn)
{
    Download({Nginx.Url("/pics/fehlt.gif"), Nginx.Url("/pics/bild.gif")});
    EXPECT_THAT(Lines, ElementsAre(Loading(1, 2, "fehlt.gif"), "Fehler: Konnte Datei fehlt.gif nicht herunterladen...",
                                   Loading(2, 2, "bild.gif"), "Done..."));
    EXPECT_THAT(FilesIn(Target.Path()), ElementsAre("bild.gif"));
}

TEST_F(DownloadTest, FileCreatedByOthersAfterTheTestIsNotOverwritten)
{
    Target.WriteFile("bild.gif", "erste");
    // Someone takes the numbered name between the existence test and the create.
    OnLine = [this](const std::string& line) {
        if (line.find("speichere unter bild0.gif") != std::string::npos)
            Target.WriteFile("bild0.gif", "fremd");
    };
    Download({Nginx.Url("/pics/bild.gif")});
    EXPECT_THAT(Lines, ElementsAre(Loading(1, 1, "bild.gif"),
                                   "Die Datei bild.gif existiert schon, speichere unter bild0.gif...",
                                   "Fehler: Konnte Datei bild0.gif nicht erstellen/herunterladen...", "Done..."));
    EXPECT_EQ(ReadFile(Dir + "bild0.gif"), "fremd");
}

TEST_F(DownloadTest, ANameThatCannotBeCreatedFailsBeforeTheFetch)
{
    // A folder holds the name, or the name is too long for the file system:
    // the create step fails as such, whatever the request would have done.
    fs::create_directory(Dir + "fehlt.gif");
    const std::string longName = std::string(300, 'x') + ".gif";
    Download({Nginx.Url("/pics/fehlt.gif"), Nginx.Url("/pics/" + longName), Nginx.Url("/pics/bild.gif")});
    EXPECT_THAT(Lines, ElementsAre(Loading(1, 3, "fehlt.gif"),
                                   "Fehler: Konnte Datei fehlt.gif nicht erstellen/herunterladen...",
                                   Loading(2, 3, longName),
                                   "Fehler: Konnte Datei " + longName + " nicht erstellen/herunterladen...",
                                   Loading(3, 3, "bild.gif"), "Done..."));
    EXPECT_THAT(FilesIn(Target.Path()), UnorderedElementsAre("fehlt.gif", "bild.gif"));
}

TEST_F(DownloadTest, AFolderReplacedDuringTheRunIsTheOneNamedByTheField)
{
    // The folder is moved away and a new one made under its name between two
    // addresses: the second file goes where the field points.
    Nginx.WriteDoc("pics/zwei.gif", "2");
    const std::string moved = Target.Path() + "-alt";
    OnLine = [&](const std::string& line) {
        if (line == Loading(2, 2, "zwei.gif")) {
            fs::rename(Target.Path(), moved);
            fs::create_directory(Target.Path());
        }
    };
    Download({Nginx.Url("/pics/bild.gif"), Nginx.Url("/pics/zwei.gif")});
    EXPECT_THAT(Lines, ElementsAre(Loading(1, 2, "bild.gif"), Loading(2, 2, "zwei.gif"), "Done..."));
    EXPECT_THAT(FilesIn(Target.Path()), ElementsAre("zwei.gif"));
    EXPECT_THAT(FilesIn(moved), ElementsAre("bild.gif"));
    fs::remove_all(moved);
}

TEST_F(DownloadTest, WriteFailureFailsTheFileAndDeletesThePart)
{
    Nginx.WriteDoc("pics/gross.gif", std::string(1u << 20, 'g'));
    Nginx.WriteDoc("pics/klein.gif", "klein");
    // A file-size limit makes the kernel refuse writes as a full disk would;
    // nginx was started before and keeps its own limit.
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim = old;
    lim.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
    Download({Nginx.Url("/pics/gross.gif"), Nginx.Url("/pics/klein.gif")});
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_EQ(Lines.size(), 5u) << ::testing::PrintToString(Lines);
    EXPECT_EQ(Lines[0], Loading(1, 2, "gross.gif"));
    EXPECT_EQ(Lines[1].rfind("HTTP Fehler: ", 0), 0u);
    EXPECT_EQ(Lines[2], "Fehler: Konnte Datei gross.gif nicht herunterladen...");
    EXPECT_EQ(Lines[3], Loading(2, 2, "klein.gif"));
    EXPECT_THAT(FilesIn(Target.Path()), ElementsAre("klein.gif"));
}

TEST_F(DownloadTest, FailedDeletionIsReportedAndTheRunGoesOn)
{
    // Only a file named from the start has anything to delete.
    Jobs.Settings.FileWays.Unnamed = false;
    // An immutable folder refuses the deletion even to root; not every file
    // system has the flag.
    Nginx.WriteDoc("pics/zwei.gif", "2");
    const int dirFd = ::open(Target.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(dirFd, 0);
    int flags = 0;
    if (ioctl(dirFd, FS_IOC_GETFLAGS, &flags) != 0) {
        ::close(dirFd);
        GTEST_SKIP() << "no file attributes on this file system";
    }
    bool immutable = false;
    // The 404 comes after the file was created: make the folder immutable then.
    OnLine = [&](const std::string& line) {
        if (line.rfind("Lade Datei 1", 0) == 0) {
            Cli.OnHeaderData = [&](THttpCli&) {
                if (immutable)
                    return;
                int f = flags | FS_IMMUTABLE_FL;
                immutable = ioctl(dirFd, FS_IOC_SETFLAGS, &f) == 0;
            };
        }
    };
    Download({Nginx.Url("/pics/fehlt.gif"), Nginx.Url("/pics/zwei.gif")});
    Cli.OnHeaderData = nullptr;
    ioctl(dirFd, FS_IOC_SETFLAGS, &flags);
    ::close(dirFd);
    if (!immutable)
        GTEST_SKIP() << "cannot make the folder immutable here";

    EXPECT_THAT(Lines, ElementsAre(Loading(1, 2, "fehlt.gif"), "Fehler: Konnte Datei fehlt.gif nicht herunterladen...",
                                   "Fehler: Konnte unvollständige Datei fehlt.gif nicht löschen...",
                                   Loading(2, 2, "zwei.gif"),
                                   "Fehler: Konnte Datei zwei.gif nicht erstellen/herunterladen...", "Done..."));
}

TEST_F(DownloadTest, TooSmallPictureIsLeftUnreadBeyondItsHeader)
{
    std::string jpeg = "\xFF\xD8";
    for (int i = 0; i < 3; ++i)
        jpeg += "\xFF\xE1\xEA\x60" + std::string(60000 - 2, 'm');  // APP1 of 60000 bytes
    jpeg += std::string("\xFF\xC0\x00\x11\x08\x00\x10\x00\x10\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01", 19);
    const std::size_t sizeKnown = jpeg.size() - 10;  // through the frame header's width
    jpeg += std::string("\xFF\xDA\x00\x0C\x03\x01\x00\x02\x11\x03\x11\x00\x3F\x00", 14);
    jpeg.resize(4u << 20, 'x');
    Nginx.WriteDoc("pics/klein.jpg", jpeg);
    Jobs.Settings.Choices.MinWidth = 100;
    Jobs.Settings.Choices.MinHeight = 100;
    Download({Nginx.Url("/pics/klein.jpg")});
    EXPECT_THAT(Lines, ElementsAre(Loading(1, 1, "klein.jpg"), "übersprungen: zu klein (16 × 16)", "Done..."));
    EXPECT_THAT(FilesIn(Target.Path()), IsEmpty());
    EXPECT_GE(Cli.BodyCount(), static_cast<std::int64_t>(sizeKnown));
    EXPECT_LE(Cli.BodyCount(), static_cast<std::int64_t>(sizeKnown + 4096));
}

namespace {

// Stalled transfers come from the scripted server: connection 0 sends part of
// a body and stalls, the next ones deliver a whole file. It serves one
// connection after the other, so these cases drive one request at a time
// (several in flight: FetchAheadTest).

class DownloadStopTest : public TEngineJobFixture {
protected:
    void SetUp() override
    {
        Jobs.Settings.Connections = 1;
        Front.Folder = Target.Path();
    }

    static std::vector<TScript> Scripts()
    {
        TScript stall;
        stall.ReadRequest().Send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(5000, 'p')).Hold();
        TScript whole;
        whole.ReadRequest().Send(TScript::Response("HTTP/1.0 200 OK", {"Content-Length: 4"}, "ganz"));
        return {stall, whole};
    }

    bool Stalled() { return Cli.BodyCount() >= 5000 && Server.Connections() == 1; }

    TTempDir Target;
    TScriptedServer Server{Scripts()};
};

}  // namespace

TEST_F(DownloadStopTest, WithoutUnnamedFilesThePartIsNamedAndDeleted)
{
    Jobs.Settings.FileWays.Unnamed = false;
    bool partSeen = false;
    DuringJob([this] { return Stalled(); },
              [&] {
                  partSeen = fs::exists(Target.Path() + "/a.gif");
                  Jobs.BreakLocal();
              });
    Download({Server.Url("/a.gif"), Server.Url("/b.gif")});

    EXPECT_FALSE(TimedOut());
    EXPECT_TRUE(partSeen);
    EXPECT_THAT(Lines, ElementsAre(Loading(1, 2, "a.gif"), "HTTP Fehler: 3 (abgebrochen)",
                                   "Fehler: Konnte Datei a.gif nicht herunterladen...", Loading(2, 2, "b.gif"),
                                   "Done..."));
    EXPECT_THAT(FilesIn(Target.Path()), ElementsAre("b.gif"));
}
