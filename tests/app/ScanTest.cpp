// The page scan from the window: the Saugen button and Enter start it, the
// follow question is a message box, the found list and the memo fill, and the
// break buttons, the close question and the window states act on a running
// scan. What the scan itself fetches and lists is tested against the engine.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QApplication>
#include <QTimer>

#include "JobTestFixture.h"
#include "net/Dispatcher.h"

using namespace wltest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class ScanTest : public TJobFixture {
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

    void WriteDirectorySite() { ::WriteDirectorySite(Nginx, H); }

    TNginx Nginx;
    std::string H;
};

}  // namespace

TEST_F(ScanTest, AnswerNoDeclinesEachDirectoryOnceForTheWholeScan)
{
    WriteDirectorySite();
    Responder.AnswerMessage(mrNo);
    Scan(H + "/a/index.html");

    // Root links are decided by their own directory, /b/, like the absolute ones.
    EXPECT_THAT(Questions(), ElementsAre(Question(H + "/b/", H + "/a/index.html")));
    EXPECT_THAT(Lines, ElementsAre(H + "/a/index.html", H + "/a/sub/p.html", Done(2, 0)));
    EXPECT_EQ(Responder.Unanswered(), 0);
    for (const TAsked& a : Responder.Asked()) {
        EXPECT_EQ(a.Caption, "Frage");
        EXPECT_EQ(a.Icon, TMsgIcon::Question);
        EXPECT_EQ(a.Buttons, mbYes | mbNo | mbYesToAll | mbNoToAll);
    }
}

TEST_F(ScanTest, GoButtonFillsTheListAndTheMemoAndKeepsTheTypedAddress)
{
    // The found addresses become rows of ListBox1 behind the user's own, by
    // its duplicate rule; the memo shows the scan; the field keeps what was typed.
    Nginx.WriteDoc("a/index.html", Page("<img src=\"PIC.gif\"><img src=\"neu.gif\">"));
    Form->FoundImageList().Add("erster Eintrag");
    Form->FoundImageList().Add(H + "/a/pic.gif");
    Form->ListBoxChanged();
    const std::string bare = H.substr(std::string("http://").size()) + "/a/index.html";
    Scan(bare);

    EXPECT_THAT(Lines, ElementsAre(H + "/a/index.html", Done(1, 1)));
    EXPECT_EQ(Form->Memo1->Lines().ToVector(), Lines);
    EXPECT_THAT(Found(), ElementsAre("erster Eintrag", H + "/a/pic.gif", H + "/a/neu.gif"));
    EXPECT_TRUE(Form->DownAllBtn->Enabled());
    EXPECT_EQ(Form->URLEdit->Text(), bare) << "the field keeps what the user typed";
    EXPECT_FALSE(Form->JobRunning);
}

TEST_F(ScanTest, EnterInTheAddressFieldStartsTheScanWhenSaugenIsEnabled)
{
    Nginx.WriteDoc("index.html", Page("<img src=\"a.gif\">"));
    auto pressEnter = [this] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        QCoreApplication::sendEvent(Form->URLEdit->LineEdit(), &press);
    };
    Form->URLEdit->Text = H + "/index.html";
    pressEnter();
    EXPECT_THAT(Lines, ElementsAre(H + "/index.html", Done(1, 1)));

    // Enter in the proxy field starts it as well.
    Lines.clear();
    QKeyEvent proxyEnter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QCoreApplication::sendEvent(Form->ProxyEdit->LineEdit(), &proxyEnter);
    EXPECT_THAT(Lines, ElementsAre(H + "/index.html", Done(1, 0)));

    // In the shown window the found list is what comes next: it gets the focus.
    Form->Show();
    pressEnter();
    EXPECT_EQ(Form->PageControl2->ActivePage(), Form->TabSheet2);
    EXPECT_EQ(Form->Widget()->focusWidget(), static_cast<QWidget*>(Form->ListBox1->View()));

    Lines.clear();
    Form->PageControl2->SetActivePage(Form->TabSheet1);
    Form->URLEdit->Text = "";
    ASSERT_FALSE(Form->GoBtn->Enabled());
    pressEnter();
    EXPECT_THAT(Lines, IsEmpty());
}

TEST_F(ScanTest, EmptyAddressStartsNothing)
{
    Form->Memo1->Lines().Add("vorher");
    Scan("");
    EXPECT_THAT(Lines, IsEmpty());
    EXPECT_EQ(Form->Memo1->Lines().Count(), 1);
    EXPECT_TRUE(Form->TabSheet3->TabVisible());
}

// The stalling page comes from the scripted server: the first connection
// delivers the start page, the second stalls, the third delivers a page.
// The scripted server serves one connection after the other: these cases
// drive one request at a time (several in flight: FetchAheadTest of the engine).
class ScanStopTest : public TJobFixture {
protected:
    void SetUp() override
    {
        TJobFixture::SetUp();
        Form->Connections = 1;
    }

    static std::vector<TScript> Scripts()
    {
        TScript start;
        start.ReadRequest().Send(TScript::Response("HTTP/1.0 200 OK", {"Content-Type: text/html"},
                                                   Page("<a href=\"s1.html\">1</a><a href=\"s2.html\">2</a>")));
        TScript stall;
        stall.ReadRequest().Send("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html>").Hold();
        TScript page;
        page.ReadRequest().Send(TScript::Response("HTTP/1.0 200 OK", {}, Page("leaf")));
        return {start, stall, page};
    }
    TScriptedServer Server{Scripts()};
};

TEST_F(ScanStopTest, CurrentFileButtonAbortsOnlyThatPage)
{
    // The status bar says how far the scan has got, and that the stalled
    // page has kept it waiting.
    std::string status;
    DuringJob([this] { return Server.Connections() >= 2 && Form->HttpCli1.State() == hsReceivingBody &&
                              Form->JobStatusText().find("wartet seit") != std::string::npos; },
              [&] {
                  status = Form->JobStatusText();
                  Form->LocalBreak2Btn->Click();
              });
    Form->URLEdit->Text = Server.Url("/index.html");
    Form->GoBtnClick();

    EXPECT_EQ(status.rfind("Seiten: 1 fertig, 1 in der Warteschlange – Bilder: 0 – lade " + Server.Url("/s1.html") +
                               " – wartet seit ",
                           0),
              0u)
        << status;
    EXPECT_EQ(Form->JobStatusText(), "") << "idle says nothing";
    EXPECT_FALSE(TimedOut());
    EXPECT_THAT(Lines, ElementsAre(Server.Url("/index.html"), Server.Url("/s1.html"), "HTTP Fehler: 3 (abgebrochen)",
                                   "Error...",
                                   Server.Url("/s2.html"), Done(2, 0)));
}

TEST_F(ScanStopTest, ConfirmedCloseEndsTheStalledRequestAndTheScan)
{
    bool keptRunning = false;
    DuringJob([this] { return Server.Connections() >= 2 && Form->HttpCli1.State() == hsReceivingBody; },
              [&] {
                  // Cancel in the question changes nothing; OK ends the request at once.
                  Responder.AnswerMessage(mrCancel);
                  EXPECT_FALSE(Form->Close());
                  keptRunning = Form->HttpCli1.State() == hsReceivingBody && !Form->AbortRequested;
                  Responder.AnswerMessage(mrOk);
                  EXPECT_TRUE(Form->Close());
              });
    Form->URLEdit->Text = Server.Url("/index.html");
    Form->GoBtnClick();

    EXPECT_FALSE(TimedOut()) << "the job outlived the closed window";
    EXPECT_TRUE(keptRunning);
    EXPECT_THAT(Lines,
                ElementsAre(Server.Url("/index.html"), Server.Url("/s1.html"), "HTTP Fehler: 3 (abgebrochen)",
                            "Error...", Done(1, 0)));
    EXPECT_TRUE(Server.WaitFinished(1, std::chrono::seconds(5))) << "the stalled connection is closed";
    EXPECT_EQ(Server.Connections(), 2);
    EXPECT_FALSE(Form->JobRunning);
}

TEST_F(ScanStopTest, QuittingTheShownWindowDuringAStalledScanEndsTheProgramsLoop)
{
    // As in the program: the window shown, the scan started from the event
    // loop, and the loop ending once the last window is closed (other tests
    // of this program turn that off).
    const bool quitOnClose = QApplication::quitOnLastWindowClosed();
    QApplication::setQuitOnLastWindowClosed(true);
    Form->Show();
    std::chrono::steady_clock::time_point closedAt{};
    DuringJob([this] { return Server.Connections() >= 2 && Form->HttpCli1.State() == hsReceivingBody; },
              [&] {
                  Responder.AnswerMessage(mrOk);
                  closedAt = std::chrono::steady_clock::now();
                  Form->EndeBtnClick();
              });
    Form->URLEdit->Text = Server.Url("/index.html");
    QTimer::singleShot(0, [this] { Form->GoBtn->Click(); });
    // A loop that never ends is ended by this safety timer, and fails below.
    QTimer::singleShot(60000, [] { QCoreApplication::exit(7); });
    const int rc = QCoreApplication::exec();
    const auto afterClose = std::chrono::steady_clock::now() - closedAt;
    // The ended loop marked the program as ending; this test program goes on.
    SetApplicationTerminating(false);
    QApplication::setQuitOnLastWindowClosed(quitOnClose);

    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(ActionRan());
    EXPECT_FALSE(TimedOut()) << "the scan outlived the closed window";
    EXPECT_FALSE(Form->Showing());
    EXPECT_LT(afterClose, std::chrono::seconds(5)) << "the program lingered after the window closed";
    EXPECT_EQ(Lines.back(), Done(1, 0));
}

TEST_F(ScanStopTest, CancelEndsTheScanWithItsSummaryAndNoNestedJobStarts)
{
    Form->FoundImageList().Add(Server.Url("/x.gif"));
    Form->DirectoryEdit1->Text = "/nonexistent-folder";
    std::vector<std::string> linesBeforeNested;
    bool duringScanState = false;
    DuringJob([this] { return Server.Connections() >= 2 && Form->HttpCli1.State() == hsReceivingBody; },
              [&] {
                  duringScanState = !Form->GoBtn->Enabled() && !Form->BrowseBtn->Enabled() &&
                                    Form->BreakBtn->Enabled() && Form->LocalBreak2Btn->Enabled() &&
                                    !Form->BreakBtn2->Enabled() && !Form->TabSheet3->TabVisible() &&
                                    !Form->TabSheet4->TabVisible() && Form->TabSheet2->TabVisible();
                  // Another job from inside this one's wait must not start.
                  linesBeforeNested = Lines;
                  Form->GoBtnClick();
                  Form->DownAllBtnClick();
                  Form->DownBtnClick();
                  EXPECT_EQ(Lines, linesBeforeNested);
                  Form->BreakBtn->Click();
              });
    Form->URLEdit->Text = Server.Url("/index.html");
    Form->GoBtnClick();

    EXPECT_FALSE(TimedOut());
    EXPECT_TRUE(duringScanState);
    EXPECT_THAT(Lines,
                ElementsAre(Server.Url("/index.html"), Server.Url("/s1.html"), "HTTP Fehler: 3 (abgebrochen)",
                            "Error...", Done(1, 0)));
    EXPECT_FALSE(Form->AbortRequested);
    EXPECT_FALSE(Form->JobRunning);
    EXPECT_TRUE(Form->GoBtn->Enabled());
    EXPECT_TRUE(Form->DownAllBtn->Enabled());
    EXPECT_FALSE(Form->BreakBtn->Enabled());
    EXPECT_TRUE(Form->TabSheet3->TabVisible());
    EXPECT_EQ(Form->ProgressBar1->Position(), 0);
    EXPECT_EQ(Server.Connections(), 2);
}
