#include "cli/CliTerminal.h"
#include "base/AsciiCase.h"

// system
#include <cctype>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

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

bool IsYesAnswer(const std::string& line)
{
    std::string word;
    for (char c : line)
        if (!std::isspace(static_cast<unsigned char>(c)))
            word += LowerAsciiChar(c);
    return word == "j" || word == "ja" || word == "y" || word == "yes";
}

TModalResult ParseAnswer(const std::string& line, bool forAll)
{
    std::string word;
    for (char c : line)
        if (!std::isspace(static_cast<unsigned char>(c)))
            word += LowerAsciiChar(c);
    if (forAll && (word == "a" || word == "alle"))
        return mrYesToAll;
    if (forAll && (word == "k" || word == "keine"))
        return mrNoToAll;
    return IsYesAnswer(line) ? mrYes : mrNo;
}

TModalResult TCliResponder::AskYesNo(const std::string& text, bool forAll)
{
    progress_.Clear();
    std::fprintf(stderr, forAll ? "%s [j/N/a/k] " : "%s [j/N] ", text.c_str());
    if (!inIsTerminal_) {
        // Nobody to ask: the answer is No, and the log shows it.
        std::fputs("N\n", stderr);
        std::fflush(stderr);
        return mrNo;
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
            return mrNo;
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
    return ParseAnswer(line, forAll);
}

TModalResult TCliResponder::MessageBox(const TMessageRequest& request)
{
    if ((request.Buttons & mbYes) && (request.Buttons & mbNo))
        return AskYesNo(request.Text, (request.Buttons & mbYesToAll) && (request.Buttons & mbNoToAll));
    progress_.Clear();
    std::fprintf(stderr, "%s\n", request.Text.c_str());
    std::fflush(stderr);
    if (request.Icon == TMsgIcon::Error)
        ErrorShown = true;
    return (request.Buttons & mbOK) ? mrOk : mrCancel;
}

std::optional<std::string> TCliResponder::FileDialog(const TFileDialogRequest& request)
{
    (void)request;
    auto name = std::move(NextFile);
    NextFile.reset();
    return name;
}

std::optional<std::string> TCliResponder::SelectFolder(const TFolderRequest& request)
{
    (void)request;
    return std::nullopt;
}

TModalResult TCliResponder::ShowModal(TForm& form)
{
    (void)form;
    return mrCancel;
}

bool TCliResponder::PrinterSetup(QPrinter& printer)
{
    (void)printer;
    return false;
}
