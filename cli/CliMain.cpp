// weblumifang-cli: the scan and the downloads without a window. The engine
// beneath the window runs them; this program is its front end on a terminal.
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

#include "ProgramInfo.h"
#include "cli/CliArgs.h"
#include "cli/CliTerminal.h"
#include "cli/CliThumbnails.h"
#include "engine/PictureJobs.h"
#include "net/Dispatcher.h"

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

// As wget: 4 when a request got no usable answer, 8 when a server answered
// with an error status, the lower one when both happened; 1 for an error
// message or a file that could not be written here.
int ExitStatus(const TJobFailures& f, bool errorShown)
{
    if (f.Transport > 0)
        return 4;
    if (f.ErrorStatus > 0)
        return 8;
    return errorShown || f.Local > 0 ? 1 : 0;
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

    if (a.Thumbnails)
        return RunThumbnailPass(*a.Thumbnails);

    const bool havePipe = ::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) == 0;
    TProgressLine progress(isatty(STDERR_FILENO) == 1);
    TCliFrontend front(STDIN_FILENO, isatty(STDIN_FILENO) == 1, havePipe ? gSignalPipe[0] : -1, progress);
    front.Choices.Auto = a.Auto;
    front.Choices.Modern = a.Modern;
    front.Choices.Proxy = a.Proxy.value_or(std::string());
    front.Choices.FileTypes = a.Types ? *a.Types : DefaultFileTypes();
    front.Choices.TargetFolder = a.DownloadDir.value_or(std::string());
    front.Choices.SkipExisting = a.SkipExisting;

    THttpCli cli;
    SetupJobClient(cli);
    // The client ends a request that receives nothing for that long itself.
    cli.IdleTimeout = a.TimeoutSeconds;
    cli.CaFile = a.CaFile.value_or(std::string());
    cli.NoCheckCertificate = a.NoCheckCertificate;
    cli.KeepAlive = !a.NoKeepAlive;
    TPictureJobs jobs(cli, front);
    cli.OnDocData = [&jobs](THttpCli& Sender, const char*, int Len) { jobs.DocData(Sender, Len); };
    cli.OnRequestDone = [&jobs](THttpCli& Sender, THttpRequest, std::uint16_t Error) {
        jobs.RequestDone(Sender.StatusCode(), Error);
    };
    TJobSettings& settings = jobs.Settings;
    settings.MaxPages = a.MaxPages;
    settings.MaxLevel = a.MaxLevel;
    settings.NoParent = a.NoParent;
    settings.Connections = a.Connections;
    TPictureChoices& choices = settings.Choices;
    choices.SkipThumbnails = a.SkipThumbnails;
    choices.MinWidth = a.MinWidth;
    choices.MinHeight = a.MinHeight;
    choices.MinBytes = a.MinBytes;
    choices.SkipDuplicates = a.NoDuplicates;
    choices.Robots = a.Robots;
    choices.WaitMs = a.WaitMs;
    choices.RandomWait = a.RandomWait;
    choices.LimitRate = a.LimitRate;
    choices.UserAgent = a.UserAgent.value_or(std::string(THttpCli::kDefaultAgent));
    if (a.CookieFile) {
        std::string error;
        if (!LoadCookieFile(*a.CookieFile, choices.Cookies, error)) {
            std::fprintf(stderr, "weblumifang-cli: %s\n", error.c_str());
            return 2;
        }
    }
    jobs.UseChoices();
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
                jobs.Break();
            }
        });
        std::signal(SIGINT, OnInterrupt);
        std::signal(SIGTERM, OnInterrupt);
    }

    if (a.LoadList)
        front.LoadList(*a.LoadList);
    if (a.Url && !a.Url->empty() && a.DownloadDir && !interrupted) {
        // Pictures are fetched while the scan goes on; the lines and files
        // are those of the scan and then the download.
        jobs.ScanAndDownload(*a.Url, front.Found,
                             [&] { return interrupted ? std::vector<std::string>() : front.Found; });
    } else {
        if (a.Url && !a.Url->empty() && !interrupted)
            jobs.Scan(*a.Url);
        if (a.DownloadDir && !interrupted && !front.Found.empty())
            jobs.Download(front.Found);
    }
    if (a.SaveList)
        front.SaveList(*a.SaveList);
    if (signalWatch != 0)
        TNoticeDispatcher::Current().Unwatch(signalWatch);
    progress.Clear();
    std::fflush(stdout);
    if (interrupted)
        return 128 + stopSignal;
    return ExitStatus(jobs.Failures, front.ErrorShown);
}
