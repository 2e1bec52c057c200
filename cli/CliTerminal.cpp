#include "cli/CliTerminal.h"

// system
#include <cctype>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

// ours
#include "base/AsciiCase.h"
#include "engine/ListFile.h"
#include "engine/PageAddress.h"
#include "engine/PictureJobs.h"

void TProgressLine::Show(const std::string& text)
{
    if (!enabled_ || text == shown_)
        return;
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    std::fflush(stderr);
    shown_ = text;
}

void TProgressLine::Clear()
{
    if (!enabled_ || shown_.empty())
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_.clear();
}

namespace {

std::string Word(const std::string& line)
{
    std::string word;
    for (char c : line)
        if (!std::isspace(static_cast<unsigned char>(c)))
            word += LowerAsciiChar(c);
    return word;
}

}  // namespace

bool IsYesAnswer(const std::string& line)
{
    const std::string word = Word(line);
    return word == "j" || word == "ja" || word == "y" || word == "yes";
}

TFollowAnswer ParseAnswer(const std::string& line)
{
    const std::string word = Word(line);
    if (word == "a" || word == "alle")
        return TFollowAnswer::YesToAll;
    if (word == "k" || word == "keine")
        return TFollowAnswer::NoToAll;
    return IsYesAnswer(line) ? TFollowAnswer::Yes : TFollowAnswer::No;
}

void TCliFrontend::MemoLine(const std::string& line)
{
    progress_.Clear();
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

TFollowAnswer TCliFrontend::AskFollow(const std::string& question)
{
    progress_.Clear();
    std::fprintf(stderr, "%s [j/N/a/k] ", question.c_str());
    if (!inIsTerminal_) {
        // Nobody to ask: the answer is No, and the log shows it.
        std::fputs("N\n", stderr);
        std::fflush(stderr);
        return TFollowAnswer::No;
    }
    std::fflush(stderr);
    std::string line;
    for (;;) {
        pollfd fds[2] = {{in_, POLLIN, 0}, {interruptFd_, POLLIN, 0}};
        const int n = ::poll(fds, interruptFd_ >= 0 ? 2 : 1, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (fds[1].revents & POLLIN)) {
            // Ctrl+C while asking: No; the interrupt itself is handled after.
            std::fputc('\n', stderr);
            return TFollowAnswer::No;
        }
        char c = 0;
        const ssize_t got = ::read(in_, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            std::fputc('\n', stderr);
            break;
        }
        if (c == '\n')
            break;
        if (line.size() < 256)
            line += c;
    }
    return ParseAnswer(line);
}

void TCliFrontend::Error(const std::string& text)
{
    progress_.Clear();
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    ErrorShown = true;
}

void TCliFrontend::ErrorBox(const std::string& text, const std::string& caption)
{
    (void)caption;
    Error(text);
}

bool TCliFrontend::FoundAddress(const std::string& address)
{
    if (!foundKeys_.insert(FoundListKey(address)).second)
        return false;
    Found.push_back(address);
    return true;
}

bool TCliFrontend::LoadList(const std::string& path)
{
    std::string data;
    if (!ReadListFile(path, data)) {
        Error("Konnte Datei nicht öffnen...");
        return false;
    }
    // Lists of earlier versions hold raw bytes; formed as a scan forms them,
    // they fetch cleanly and match the rows a scan finds.
    ForEachListLine(data, [&](std::string_view line) { FoundAddress(EncodeAddress(line)); });
    return true;
}

bool TCliFrontend::SaveList(const std::string& path)
{
    if (WriteFileAtomically(path, JoinListLines(Found)))
        return true;
    Error("Konnte Datei nicht erstellen...");
    return false;
}

void TCliFrontend::DownloadProgress(std::size_t, std::size_t)
{
    filePercent_ = 0;
    ShowProgress(false);
}

void TCliFrontend::DataArrived(int, int filePercent)
{
    filePercent_ = filePercent;
    ShowProgress(false);
}

void TCliFrontend::TotalProgress(int percent)
{
    totalPercent_ = percent;
    ShowProgress(false);
}

void TCliFrontend::ShowProgress(bool force)
{
    if (!progress_.Enabled())
        return;
    // Five times a second is what an eye follows; more only costs writes.
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastShown_ < std::chrono::milliseconds(200))
        return;
    lastShown_ = now;
    std::string text = "Datei " + std::to_string(filePercent_) + "%";
    if (totalPercent_ > 0)
        text += "  gesamt " + std::to_string(totalPercent_) + "%";
    progress_.Show(text);
}
