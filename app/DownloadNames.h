// File naming and file handling of the download engine. Free of Qt, so the
// rules that decide where a picture lands can be tested on their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// ours
#include "http/HttpStream.h"

namespace dlnames {

// The text behind the address's last "/", taken as it is; the whole address
// when it holds no "/"; empty when it ends in "/".
std::string UrlFileName(const std::string& address);

// The folder field as the engine uses it: its long-name form (on this
// platform the text itself) with a "/" appended when it lacks one.
std::string TargetDirOf(const std::string& folderText);

// A name may only be used inside the target folder: empty, ".", "..", a NUL
// byte or a "/" would leave it or name the folder itself.
bool IsUsableFileName(const std::string& name);

// True when path names an existing file that is not a directory.
bool RegularFileExists(const std::string& path);

// base + n + extension, the extension being the file extension of name.
std::string NumberedName(const std::string& name, std::uint64_t n);

// The first numbered name (n = 0, 1, 2, ...) for which no file exists in dir.
std::string FirstFreeNumberedName(const std::string& dir, const std::string& name);

// Creates dir + name as a new, empty file opened for writing, failing when
// anything of that name exists already (also a file made a moment ago by
// someone else) or when the name is not usable. Returns the descriptor or -1.
int CreateExclusive(const std::string& dir, const std::string& name);

// The body of one download, written straight into the file that
// CreateExclusive made. A failed write is remembered; the client then ends the
// request as failed, and the engine deletes the file.
class TDownloadFileStream : public TStream {
public:
    explicit TDownloadFileStream(int fd) : fFd(fd) {}
    ~TDownloadFileStream() override { Close(); }
    TDownloadFileStream(const TDownloadFileStream&) = delete;
    TDownloadFileStream& operator=(const TDownloadFileStream&) = delete;

    bool Write(const void* data, std::size_t len) override;
    std::int64_t Size() const override { return fSize; }
    // False when a write or the close itself failed: the file is then not
    // known to hold what was received.
    bool Close();
    bool Failed() const { return fFailed; }

private:
    int fFd;
    std::int64_t fSize = 0;
    bool fFailed = false;
};

// The memo line written when a partly written file cannot be removed.
std::string DeleteFailedLine(const std::string& saveName);

}  // namespace dlnames
