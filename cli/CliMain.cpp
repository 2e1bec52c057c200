// weblumifang-cli: the main window's jobs without a window. It sets the
// form's controls, presses its buttons and answers its questions; the scan and
// download logic exist once, in TMainForm.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <system_error>
#include <string>
#include <unistd.h>
#include <vector>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTimer>

#include "ProgramInfo.h"
#include "app/MainUnit.h"
#include "cli/CliArgs.h"
#include "cli/CliTerminal.h"
#include "cli/CliThumbnails.h"
#include "net/Dispatcher.h"
#include "ui/NoticeBridge.h"

namespace {


int gSignalPipe[2] = {-1, -1};

extern "C" void OnInterrupt(int sig)
{
    // The signal's number goes through the pipe: SIGTERM ends with its own status.
    const char c = static_cast<char>(sig);
    [[maybe_unused]] ssize_t n = ::write(gSignalPipe[1], &c, 1);
    // A second Ctrl+C ends the program at once.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

void QtErrorsOnly(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "weblumifang-cli: %s\n", text.toLocal8Bit().constData());
}

// As wget: 4 when a request got no usable answer, 8 when a server answered
// with an error status, the lower one when both happened; 1 for an error
// message or a file that could not be written here.
int ExitStatus(const TMainForm::TJobFailures& f, bool errorShown)
{
    if (f.Transport > 0)
        return 4;
    if (f.ErrorStatus > 0)
        return 8;
    return errorShown || f.Local > 0 ? 1 : 0;
}

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
    if (parsed.Args.Version) {
        std::printf("weblumifang-cli %s\n", kProgramVersion);
        return 0;
    }
    const TCliArgs& a = parsed.Args;
    if (a.CaFile && ::access(a.CaFile->c_str(), R_OK) != 0) {
        std::fprintf(stderr, "weblumifang-cli: cannot read CA file '%s'\n\n%s", a.CaFile->c_str(), CliUsageText());
        return 2;
    }
    // As wget -P: the folder and its parents are made; one that cannot be is
    // a usage error, before anything is fetched.
    if (a.DownloadDir && !a.DownloadDir->empty()) {
        std::error_code ec;
        std::filesystem::create_directories(*a.DownloadDir, ec);
        if (ec) {
            std::fprintf(stderr, "weblumifang-cli: cannot create the folder '%s': %s\n", a.DownloadDir->c_str(),
                         ec.message().c_str());
            return 2;
        }
    }

    // No window is ever shown; Qt's arguments are not ours to take.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Qt's notes about the desktop session (no XDG_RUNTIME_DIR, plugin
    // remarks) mean nothing to the user of a command; only its errors stay.
    qInstallMessageHandler(QtErrorsOnly);
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    if (a.Thumbnails)
        return RunThumbnailPass(*a.Thumbnails);
    // No window to keep responsive: waits sleep in the socket dispatcher and
    // Qt's timers (the progress line) run every 50 ms.
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
    form.MaxPages = a.MaxPages;
    form.MaxLevel = a.MaxLevel;
    form.NoParent = a.NoParent;
    form.ModernCheck->Checked = a.Modern;
    form.ProxyEdit->Text = a.Proxy.value_or(std::string());
    if (a.Types)
        form.FileTypeList().Assign(*a.Types);
    if (a.DownloadDir)
        form.DirectoryEdit1->Text = *a.DownloadDir;
    if (a.SkipExisting)
        form.OverJumpCheck->Checked = true;
    else
        form.PrefixCheck->Checked = true;

    // The client ends a request that receives nothing for that long itself.
    form.HttpCli1.IdleTimeout = a.TimeoutSeconds;
    form.HttpCli1.CaFile = a.CaFile.value_or(std::string());
    form.HttpCli1.NoCheckCertificate = a.NoCheckCertificate;
    form.HttpCli1.KeepAlive = !a.NoKeepAlive;
    form.Connections = a.Connections;
    if (a.NoCheckCertificate)
        std::fputs("weblumifang-cli: warning: server certificates are not checked (--no-check-certificate)\n", stderr);

    bool interrupted = false;
    int stopSignal = SIGINT;
    // Watched by the dispatcher the waits sleep in, so Ctrl+C is heard at once.
    uint64_t signalWatch = 0;
    if (havePipe) {
        signalWatch = TNoticeDispatcher::Current().Watch(gSignalPipe[0], TNoticeDispatcher::kReadable, [&](uint32_t) {
            char buf[16];
            ssize_t n = 0;
            int first = 0;
            while ((n = ::read(gSignalPipe[0], buf, sizeof buf)) > 0)
                if (first == 0)
                    first = buf[0];
            if (!interrupted) {
                interrupted = true;
                stopSignal = first == SIGTERM ? SIGTERM : SIGINT;
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
        return 128 + stopSignal;
    return ExitStatus(form.Failures, responder.ErrorShown);
}
