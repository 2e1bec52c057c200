// weblumifang-cli: the main window's jobs without a window. It sets the
// form's controls, presses its buttons and answers its questions; the scan and
// download logic exist once, in TMainForm.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTimer>

#include "app/MainUnit.h"
#include "cli/CliArgs.h"
#include "cli/CliTerminal.h"
#include "cli/CliThumbnails.h"
#include "net/Dispatcher.h"
#include "ui/NoticeBridge.h"

namespace {

using TClock = std::chrono::steady_clock;

int gSignalPipe[2] = {-1, -1};

extern "C" void OnInterrupt(int)
{
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(gSignalPipe[1], &c, 1);
    // A second Ctrl+C ends the program at once.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

// Aborts a request that has seen no sign of life (a state change, a header
// line, a body block) for the timeout, as "Aktuelle Datei abbrechen" would.
class TStallWatch {
public:
    TStallWatch(TMainForm& form, double seconds) : form_(form), limit_(std::chrono::duration<double>(seconds))
    {
        THttpCli& cli = form.HttpCli1;
        formDocData_ = cli.OnDocData;
        cli.OnDocData = [this](THttpCli& s, const char* b, int n) {
            last_ = TClock::now();
            if (formDocData_)
                formDocData_(s, b, n);
        };
        cli.OnStateChange = [this](THttpCli&) { last_ = TClock::now(); };
        cli.OnHeaderData = [this](THttpCli&) { last_ = TClock::now(); };
        last_ = TClock::now();
        if (seconds <= 0)
            return;
        // Checked often enough that an abort lands well within a second of the limit.
        const double ms = std::min(seconds * 1000.0 / 4.0, 250.0);
        timer_.setInterval(std::max(10, static_cast<int>(ms)));
        QObject::connect(&timer_, &QTimer::timeout, [this] { Check(); });
        timer_.start();
    }
    ~TStallWatch()
    {
        THttpCli& cli = form_.HttpCli1;
        cli.OnDocData = formDocData_;
        cli.OnStateChange = nullptr;
        cli.OnHeaderData = nullptr;
    }
    TStallWatch(const TStallWatch&) = delete;
    TStallWatch& operator=(const TStallWatch&) = delete;

private:
    void Check()
    {
        if (form_.HttpCli1.State() == hsIdle) {
            last_ = TClock::now();
            return;
        }
        if (TClock::now() - last_ < limit_)
            return;
        last_ = TClock::now();
        std::fprintf(stderr, "weblumifang-cli: nothing received for %g s, request aborted\n", limit_.count());
        form_.BreakLocalBtnClick();
    }

    TMainForm& form_;
    THttpCli::TDocDataEvent formDocData_;
    std::chrono::duration<double> limit_;
    TClock::time_point last_;
    QTimer timer_;
};

std::string Percent(int p)
{
    return std::to_string(p) + "%";
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    const TCliParse parsed = ParseCliArgs(args);
    if (!parsed.Error.empty()) {
        std::fprintf(stderr, "weblumifang-cli: %s\n\n%s", parsed.Error.c_str(), CliUsageText());
        return 2;
    }
    if (parsed.Args.Help) {
        std::fputs(CliUsageText(), stdout);
        return 0;
    }
    const TCliArgs& a = parsed.Args;

    // No window is ever shown; Qt's arguments are not ours to take.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    if (a.Thumbnails)
        return RunThumbnailPass(*a.Thumbnails);
    // No window to keep responsive: waits sleep in the socket dispatcher and
    // Qt's timers (the stall watch, the progress line) run every 50 ms.
    TNoticeBridge::InstallForThisThread(std::chrono::milliseconds(50));


    const bool havePipe = ::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) == 0;
    TProgressLine progress(isatty(STDERR_FILENO) == 1);
    TCliResponder responder(STDIN_FILENO, isatty(STDIN_FILENO) == 1, havePipe ? gSignalPipe[0] : -1, progress);
    TResponderScope responderScope(responder);

    TMainFormSetup setup;
    setup.UseOptionsFile = false;
    TMainForm form(setup);
    MainForm = &form;
    form.OnMemoLine = [&progress](const std::string& line) {
        progress.Clear();
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    };
    // Nobody sees the memo here: its lines went to standard output, so a
    // short tail keeps a long scan's memory flat.
    form.Memo1->SetMaxLines(200);
    // The files named on the command line are taken exactly as given.
    form.OpenDialog1.DefaultExt.clear();
    form.SaveDialog1.DefaultExt.clear();
    form.SaveDialog1.OverwritePrompt = false;

    form.Autosaug->Checked = a.Auto;
    form.ProxyEdit->Text = a.Proxy.value_or(std::string());
    if (a.Types)
        form.FileTypeList().Assign(*a.Types);
    if (a.DownloadDir)
        form.DirectoryEdit1->Text = *a.DownloadDir;
    if (a.SkipExisting)
        form.OverJumpCheck->Checked = true;
    else
        form.PrefixCheck->Checked = true;

    TStallWatch stallWatch(form, a.TimeoutSeconds);

    bool interrupted = false;
    // Watched by the dispatcher the waits sleep in, so Ctrl+C is heard at once.
    uint64_t signalWatch = 0;
    if (havePipe) {
        signalWatch = TNoticeDispatcher::Current().Watch(gSignalPipe[0], TNoticeDispatcher::kReadable, [&](uint32_t) {
            char buf[16];
            while (::read(gSignalPipe[0], buf, sizeof buf) > 0) {
            }
            if (!interrupted) {
                interrupted = true;
                progress.Clear();
                std::fputs("weblumifang-cli: interrupted, stopping the running job\n", stderr);
                if (form.JobRunning)
                    form.BreakBtnClick();
            }
        });
        std::signal(SIGINT, OnInterrupt);
        std::signal(SIGTERM, OnInterrupt);
    }

    QTimer progressTimer;
    if (progress.Enabled()) {
        progressTimer.setInterval(200);
        QObject::connect(&progressTimer, &QTimer::timeout, [&] {
            if (!form.JobRunning) {
                progress.Clear();
                return;
            }
            std::string text = "Datei " + Percent(form.ProgressBar1->Position());
            if (form.ProgressPercent > 0)
                text += "  gesamt " + Percent(form.ProgressPercent);
            progress.Show(text);
        });
        progressTimer.start();
    }

    if (a.LoadList) {
        responder.NextFile = *a.LoadList;
        form.OpenLBtnClick();
    }
    if (a.Url && !interrupted) {
        form.URLEdit->Text = *a.Url;
        form.GoBtnClick();
    }
    if (a.DownloadDir && !interrupted)
        form.DownAllBtnClick();
    if (a.SaveList) {
        responder.NextFile = *a.SaveList;
        form.SaveLBtnClick();
    }
    if (signalWatch != 0)
        TNoticeDispatcher::Current().Unwatch(signalWatch);
    progress.Clear();
    MainForm = nullptr;
    std::fflush(stdout);
    if (interrupted)
        return 130;
    return responder.ErrorShown ? 1 : 0;
}
