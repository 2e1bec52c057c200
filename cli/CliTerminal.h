// The terminal side of weblumifang-cli: the engine's front end. It mirrors
// the job's log to standard output, asks its questions on the terminal, keeps
// the found list and shows progress on standard error when that is a terminal.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/JobFrontend.h"

// Keeps one progress line at the bottom of a terminal; anything else written
// to the terminal first clears it.
class TProgressLine {
public:
    explicit TProgressLine(bool enabled) : enabled_(enabled) {}
    bool Enabled() const { return enabled_; }
    void Show(const std::string& text);
    void Clear();

private:
    bool enabled_;
    std::string shown_;
};

// What the command line chose for the jobs, read by the engine.
struct TCliChoices {
    std::vector<std::string> FileTypes;
    std::string Proxy;
    bool Auto = false;
    bool Modern = false;
    std::string TargetFolder;
    bool SkipExisting = false;
};

class TCliFrontend : public TJobFrontend {
public:
    // in: the terminal's descriptor; interruptFd: readable once the user
    // pressed Ctrl+C, which answers a pending question with No.
    TCliFrontend(int in, bool inIsTerminal, int interruptFd, TProgressLine& progress)
        : in_(in), inIsTerminal_(inIsTerminal), interruptFd_(interruptFd), progress_(progress)
    {
    }

    TCliChoices Choices;
    // An error was shown: the run ends with status 1.
    bool ErrorShown = false;
    // The found list, in the order found.
    std::vector<std::string> Found;
    // Adds the lines of an image-list file to the found list; false (and an
    // error shown) when it cannot be read.
    bool LoadList(const std::string& path);
    // Writes the found list to path in one step; false (and an error shown)
    // when that fails.
    bool SaveList(const std::string& path);
    // Prints an error as the window's error box would show it.
    void Error(const std::string& text);

    void MemoLine(const std::string& line) override;
    TFollowAnswer AskFollow(const std::string& question) override;
    void ErrorBox(const std::string& text, const std::string& caption) override;
    bool FoundAddress(const std::string& address) override;
    void FoundFlush() override {}
    void ScanProgress(const TScanProgress&) override {}
    void DownloadProgress(std::size_t index, std::size_t count) override;
    void DataArrived(int bytes, int filePercent) override;
    void TotalProgress(int percent) override;
    std::vector<std::string> FileTypes() override { return Choices.FileTypes; }
    std::string Proxy() override { return Choices.Proxy; }
    bool AutoMode() override { return Choices.Auto; }
    bool ModernMarkup() override { return Choices.Modern; }
    std::string TargetFolder() override { return Choices.TargetFolder; }
    bool SkipExisting() override { return Choices.SkipExisting; }

private:
    void ShowProgress(bool force);

    int in_;
    bool inIsTerminal_;
    int interruptFd_;
    TProgressLine& progress_;
    std::unordered_set<std::string> foundKeys_;
    int filePercent_ = 0;
    int totalPercent_ = 0;
    std::chrono::steady_clock::time_point lastShown_{};
};

// "j", "ja", "y", "yes" in any letter case, blanks around ignored.
bool IsYesAnswer(const std::string& line);
// A typed answer: Yes as IsYesAnswer, also "a"/"alle" (Yes to all) and
// "k"/"keine" (No to all); anything else is No.
TFollowAnswer ParseAnswer(const std::string& line);
