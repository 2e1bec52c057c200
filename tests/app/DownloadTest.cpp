// The download from the window: the download buttons with all or the marked
// rows, the error box for an unusable folder, the status bar and the file's
// progress bar, the break buttons, the close question and the window states
// while a file is under way. Names, numbering and skipping are tested against
// the engine.
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "JobTestFixture.h"

namespace fs = std::filesystem;
using namespace wltest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class DownloadTest : public TJobFixture {
protected:
    void SetUp() override
    {
        TJobFixture::SetUp();
        ASSERT_TRUE(Nginx.Ok()) << Nginx.Error();
        Dir = Target.Path() + "/";
        Form->DirectoryEdit1->Text = Target.Path();
        Nginx.WriteDoc("pics/bild.gif", "GIF89a-bild");
    }

    void Download(const std::vector<std::string>& addresses)
    {
        Form->FoundImageList().Assign(addresses);
        Form->ListBoxChanged();
        Lines.clear();
        Form->DownAllBtnClick();
    }

    TNginx Nginx;
    TTempDir Target;
    std::string Dir;
};

}  // namespace

TEST_F(DownloadTest, SavesUnderTheNameBehindTheLastSlash)
{
    std::string status;
    OnLine = [&](const std::string& line) {
        if (line == Loading(1, 1, "bild.gif"))
            status = Form->JobStatusText();
    };
    Download({Nginx.Url("/pics/bild.gif")});
    EXPECT_EQ(status, "Datei 1 von 1 – 0 KB");
    EXPECT_EQ(Form->JobStatusText(), "");
    EXPECT_THAT(Lines, ElementsAre(Loading(1, 1, "bild.gif"), "Done..."));
    EXPECT_EQ(ReadFile(Dir + "bild.gif"), "GIF89a-bild");
    EXPECT_THAT(FilesIn(Target.Path()), ElementsAre("bild.gif"));
    EXPECT_FALSE(Form->JobRunning);
    EXPECT_TRUE(Form->TabSheet1->TabVisible());
    EXPECT_TRUE(Form->DownAllBtn->Enabled());
    EXPECT_THAT(Found(), ElementsAre(Nginx.Url("/pics/bild.gif"))) << "downloading never changes the list";
}

TEST_F(DownloadTest, MissingFolderFieldShowsTheErrorBoxAndFetchesNothing)
{
    Form->DirectoryEdit1->Text = "";
    Responder.AnswerMessage(mrOk);
    Download({Nginx.Url("/pics/bild.gif")});
    ASSERT_EQ(Responder.Asked().size(), 1u);
    EXPECT_EQ(Responder.Asked()[0].Text, "Sie müssen zuerst ein Ziel-Verzeichnis auswählen!");
    EXPECT_EQ(Responder.Asked()[0].Caption, "Fehler: Kein Verzeichnis");
    EXPECT_EQ(Responder.Asked()[0].Icon, TMsgIcon::Error);
    EXPECT_THAT(Lines, ElementsAre("Done..."));
    EXPECT_FALSE(Form->JobRunning);
    EXPECT_TRUE(Form->TabSheet2->TabVisible());

    // A folder that does not exist yet is made with its parents.
    Responder.Reset();
    Form->DirectoryEdit1->Text = Dir + "neu/tiefer";
    Download({Nginx.Url("/pics/bild.gif")});
    EXPECT_THAT(Responder.Asked(), IsEmpty());
    EXPECT_THAT(Lines, ElementsAre(Loading(1, 1, "bild.gif"), "Done..."));
    EXPECT_EQ(ReadFile(Dir + "neu/tiefer/bild.gif"), "GIF89a-bild");

    // One that cannot be made gets one box naming it and why; nothing starts.
    Target.WriteFile("datei", "x");
    Form->DirectoryEdit1->Text = Dir + "datei/unter";
    Responder.AnswerMessage(mrOk);
    Download({Nginx.Url("/pics/bild.gif"), Nginx.Url("/pics/bild.gif")});
    ASSERT_EQ(Responder.Asked().size(), 1u);
    EXPECT_EQ(Responder.Asked()[0].Text, "Das Verzeichnis " + Dir +
                                             "datei/unter kann nicht benutzt werden: ein Teil des Pfades ist kein "
                                             "Verzeichnis.");
    EXPECT_EQ(Responder.Asked()[0].Caption, "Fehler...");
    EXPECT_EQ(Responder.Asked()[0].Icon, TMsgIcon::Error);
    EXPECT_THAT(Lines, ElementsAre("Done..."));
    EXPECT_FALSE(fs::exists(Dir + "datei/unter"));
    if (::geteuid() != 0) {
        // Present but not writable: the same box with its own reason.
        fs::create_directory(Dir + "zu");
        fs::permissions(Dir + "zu", fs::perms::owner_read | fs::perms::owner_exec);
        Responder.Reset();
        Responder.AnswerMessage(mrOk);
        Form->DirectoryEdit1->Text = Dir + "zu";
        Download({Nginx.Url("/pics/bild.gif")});
        ASSERT_EQ(Responder.Asked().size(), 1u);
        EXPECT_EQ(Responder.Asked()[0].Text,
                  "Das Verzeichnis " + Dir + "zu kann nicht benutzt werden: keine Berechtigung.");
        EXPECT_THAT(Lines, ElementsAre("Done..."));
        fs::permissions(Dir + "zu", fs::perms::owner_all);
    }
    EXPECT_FALSE(Form->JobRunning);
}

TEST_F(DownloadTest, MarkedRowsOnlyAndNothingWithoutMarks)
{
    Nginx.WriteDoc("pics/zwei.gif", "2");
    Form->FoundImageList().Assign({Nginx.Url("/pics/bild.gif"), Nginx.Url("/pics/zwei.gif")});
    Form->ListBoxChanged();
    Form->DownBtnClick();
    EXPECT_THAT(Lines, IsEmpty());
    EXPECT_THAT(FilesIn(Target.Path()), IsEmpty());

    Form->ListBox1->SetSelected(1, true);
    Form->DownBtnClick();
    EXPECT_THAT(Lines, ElementsAre(Loading(1, 1, "zwei.gif"), "Done..."));
    EXPECT_THAT(FilesIn(Target.Path()), ElementsAre("zwei.gif"));
}

// Stalled transfers come from the scripted server: connection 0 sends part of
// a body and stalls, the next ones deliver a whole file. It serves one
// connection after the other, so these cases drive one request at a time
// (several in flight: FetchAheadTest of the engine).
class DownloadStopTest : public TJobFixture {
protected:
    void SetUp() override
    {
        TJobFixture::SetUp();
        Form->Connections = 1;
        Form->DirectoryEdit1->Text = Target.Path();
    }

    static std::vector<TScript> Scripts()
    {
        TScript stall;
        stall.ReadRequest().Send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(5000, 'p')).Hold();
        TScript whole;
        whole.ReadRequest().Send(TScript::Response("HTTP/1.0 200 OK", {"Content-Length: 4"}, "ganz"));
        return {stall, whole};
    }

    void Download(const std::vector<std::string>& addresses)
    {
        Form->FoundImageList().Assign(addresses);
        Form->ListBoxChanged();
        Lines.clear();
        Form->DownAllBtnClick();
    }

    bool Stalled() { return Form->HttpCli1.BodyCount() >= 5000 && Server.Connections() == 1; }

    TTempDir Target;
    TScriptedServer Server{Scripts()};
};

TEST_F(DownloadStopTest, CurrentPictureButtonDeletesThePartAndGoesOn)
{
    int progressDuring = -1;
    bool downloadState = false;
    DuringJob([this] { return Stalled(); },
              [&] {
                  progressDuring = Form->ProgressBar1->Position();
                  downloadState = !Form->TabSheet1->TabVisible() && !Form->TabSheet2->TabVisible() &&
                                  Form->TabSheet3->TabVisible() && !Form->TabSheet4->TabVisible() &&
                                  Form->BreakBtn2->Enabled() && Form->BreakLocalBtn->Enabled() &&
                                  !Form->BreakBtn->Enabled() && !Form->GoBtn->Enabled();
                  EXPECT_THAT(FilesIn(Target.Path()), IsEmpty()) << "no name before the file is complete";
                  Form->BreakLocalBtn->Click();
              });
    Download({Server.Url("/a.gif"), Server.Url("/b.gif")});

    EXPECT_FALSE(TimedOut());
    EXPECT_EQ(progressDuring, 5);  // 5000 of 100000 bytes
    EXPECT_TRUE(downloadState);
    EXPECT_THAT(Lines, ElementsAre(Loading(1, 2, "a.gif"), "HTTP Fehler: 3 (abgebrochen)",
                                   "Fehler: Konnte Datei a.gif nicht herunterladen...", Loading(2, 2, "b.gif"),
                                   "Done..."));
    EXPECT_THAT(FilesIn(Target.Path()), ElementsAre("b.gif"));
    EXPECT_EQ(ReadFile(Target.Path() + "/b.gif"), "ganz");
    EXPECT_EQ(Form->ProgressBar1->Position(), 0);
}

TEST_F(DownloadStopTest, ConfirmedCloseDeletesThePartAndEndsTheRun)
{
    DuringJob([this] { return Stalled(); },
              [this] {
                  Responder.AnswerMessage(mrOk);
                  Form->Close();
              });
    Download({Server.Url("/a.gif"), Server.Url("/b.gif")});

    EXPECT_FALSE(TimedOut()) << "the download outlived the closed window";
    EXPECT_THAT(Lines, ElementsAre(Loading(1, 2, "a.gif"), "HTTP Fehler: 3 (abgebrochen)",
                                   "Fehler: Konnte Datei a.gif nicht herunterladen...", "Done..."));
    EXPECT_THAT(FilesIn(Target.Path()), IsEmpty());
    EXPECT_TRUE(Server.WaitFinished(0, std::chrono::seconds(5))) << "the stalled connection is closed";
    EXPECT_EQ(Server.Connections(), 1);
}

TEST_F(DownloadStopTest, CancelDeletesThePartAndEndsTheRun)
{
    DuringJob([this] { return Stalled(); }, [this] { Form->BreakBtn2->Click(); });
    Download({Server.Url("/a.gif"), Server.Url("/b.gif"), Server.Url("/c.gif")});

    EXPECT_FALSE(TimedOut());
    EXPECT_THAT(Lines, ElementsAre(Loading(1, 3, "a.gif"), "HTTP Fehler: 3 (abgebrochen)",
                                   "Fehler: Konnte Datei a.gif nicht herunterladen...", "Done..."));
    EXPECT_THAT(FilesIn(Target.Path()), IsEmpty());
    EXPECT_FALSE(Form->AbortRequested);
    EXPECT_EQ(Server.Connections(), 1);
    EXPECT_FALSE(Form->BreakBtn2->Enabled());
    EXPECT_TRUE(Form->TabSheet1->TabVisible());
}

TEST(DownloadProgressTest, FileBarFollowsTheAnnouncedLength)
{
    // 1000 bytes announced: 51 after the first 512 (51.2 truncated), 0 when complete.
    TScript script;
    script.ReadRequest()
        .Send("HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(512, 'a'))
        .Pause(std::chrono::milliseconds(50))
        .Send(std::string(488, 'b'));
    TScript noLength;
    noLength.ReadRequest().Send("HTTP/1.0 200 OK\r\n\r\n" + std::string(300, 'c'));
    TScript zeroLength;
    zeroLength.ReadRequest().Send("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n" + std::string(10, 'd'));
    TScriptedServer server({script, noLength, zeroLength});
    TNoticeBridge::InstallForThisThread();
    TScriptedResponder responder;
    TResponderScope scope(responder);
    TMainFormSetup setup;
    setup.UseOptionsFile = false;
    TMainForm form(setup);
    form.Connections = 1;  // the bar of the one file under way
    TTempDir target;
    form.DirectoryEdit1->Text = target.Path();
    std::vector<int> positions;
    auto formHandler = form.HttpCli1.OnDocData;
    form.HttpCli1.OnDocData = [&](THttpCli& s, const char* b, int n) {
        formHandler(s, b, n);
        positions.push_back(form.ProgressBar1->Position());
    };
    form.FoundImageList().Assign({server.Url("/a.gif"), server.Url("/b.gif"), server.Url("/c.gif")});
    form.ListBoxChanged();
    form.DownAllBtnClick();
    EXPECT_THAT(positions, ElementsAre(51, 0, 0, 0));
    EXPECT_EQ(ReadFile(target.Path() + "/a.gif"), std::string(512, 'a') + std::string(488, 'b'));
    EXPECT_EQ(ReadFile(target.Path() + "/c.gif"), std::string(10, 'd')) << "a body beyond the length is kept";
}
