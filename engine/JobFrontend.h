// What the scan and the downloads need from whoever shows them: the window
// or the terminal. The engine calls nothing else of its front end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The answers to the question whether a link into a new directory is followed.
enum class TFollowAnswer { Yes, No, YesToAll, NoToAll };

// What a job is doing, for a progress display.
struct TScanProgress {
    std::size_t PagesDone = 0;
    std::size_t PagesWaiting = 0;
    std::int32_t Pictures = 0;
    std::string Address;  // being fetched, as people read it
};

class TJobFrontend {
public:
    virtual ~TJobFrontend() = default;

    // ---- what the user sees
    // One line of the job's log.
    virtual void MemoLine(const std::string& line) = 0;
    // Whether to follow a link into a directory not agreed to yet.
    virtual TFollowAnswer AskFollow(const std::string& question) = 0;
    // A problem that stops the job before it starts (the user acknowledges it).
    virtual void ErrorBox(const std::string& text, const std::string& caption) = 0;
    // Appends a picture's address to the found list unless the list has it
    // already (the engine's FoundListKey decides); true when appended.
    virtual bool FoundAddress(const std::string& address) = 0;
    // The addresses found since the last call are complete for now: a page
    // or stylesheet is done, or a question is about to be asked.
    virtual void FoundFlush() = 0;
    // Progress: a page is about to be fetched; file index of count (from 1)
    // is about to be downloaded; bytes arrived for the request the job waits
    // for or one ahead (filePercent: of that body, 0 when its length is unknown);
    // the run's share done in percent.
    virtual void ScanProgress(const TScanProgress& progress) = 0;
    virtual void DownloadProgress(std::size_t index, std::size_t count) = 0;
    virtual void DataArrived(int bytes, int filePercent) = 0;
    virtual void TotalProgress(int percent) = 0;

    // ---- what the user chose; read again where it may change during a job
    // Picture types without the dot, as typed (read for every page).
    virtual std::vector<std::string> FileTypes() = 0;
    // The proxy as typed, empty for none (read for every request).
    virtual std::string Proxy() = 0;
    // Follow links into new directories without asking (read at each link).
    virtual bool AutoMode() = 0;
    // Read pictures from today's markup too (read when a scan starts).
    virtual bool ModernMarkup() = 0;
    // The download folder as typed (read for every file).
    virtual std::string TargetFolder() = 0;
    // Skip a file whose name exists instead of numbering it (read for every file).
    virtual bool SkipExisting() = 0;
};
