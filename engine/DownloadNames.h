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

// The name a picture is saved under: UrlFileName percent-decoded to UTF-8,
// as wget saves it ("caf%C3%A9.jpg" is "café.jpg"). Escapes of "/", NUL and
// control characters stay as they are, and so does a name that would not be
// valid UTF-8 or would be "." or "..". A decoded name longer than a file
// name may be (kMaxFileNameBytes) is shortened before its extension.
std::string SaveFileName(const std::string& address);

// Longest file name, in bytes, of the file systems of Linux.
constexpr std::size_t kMaxFileNameBytes = 255;

// Name cut to at most maxBytes without splitting a UTF-8 character, the
// cut made before the extension where the extension leaves room.
std::string ShortenedName(const std::string& name, std::size_t maxBytes = kMaxFileNameBytes);

// The folder field as the engine uses it: its long-name form (on this
// platform the text itself) with a "/" appended when it lacks one.
std::string TargetDirOf(const std::string& folderText);

// A name may only be used inside the target folder: empty, ".", "..", a NUL
// byte or a "/" would leave it or name the folder itself.
bool IsUsableFileName(const std::string& name);

// True when path names an existing file that is not a directory.
bool RegularFileExists(const std::string& path);

// base + n + extension, the extension being the file extension of name; the
// base is shortened where the number would make the name too long.
std::string NumberedName(const std::string& name, std::uint64_t n);

// The first numbered name (n = 0, 1, 2, ...) for which no file exists in dir.
std::string FirstFreeNumberedName(const std::string& dir, const std::string& name);

// Creates dir + name as a new, empty file opened for writing, failing when
// anything of that name exists already (also a file made a moment ago by
// someone else) or when the name is not usable. Returns the descriptor or -1.
int CreateExclusive(const std::string& dir, const std::string& name);

// How the files of a run are made. Each way has a fallback that some
// machines need; turning a way off runs its fallback on any machine.
struct TFileWays {
    // Write into a file without a name and name it when complete (off: named
    // from the start, as on file systems that have no unnamed files).
    bool Unnamed = true;
    // Name such a file by its descriptor alone (off, or refused by the
    // kernel: through /proc/self/fd).
    bool NameByDescriptor = true;
};

// The target folder of a run, opened once: files are made, tested and named
// relative to it, which spares a walk of the whole path per picture.
class TTargetFolder {
public:
    explicit TTargetFolder(TFileWays ways = {}) : ways_(ways) {}
    ~TTargetFolder();
    TTargetFolder(const TTargetFolder&) = delete;
    TTargetFolder& operator=(const TTargetFolder&) = delete;

    // Holds dir (a text ending in "/") from now on; opens it unless it is the
    // folder held already and dir still leads to it. A folder that cannot be
    // opened leaves Fd() -1.
    void Use(const std::string& dir);
    int Fd() const { return fd_; }
    const std::string& Dir() const { return dir_; }
    // True when name is an existing file that is not a directory. Free, when
    // given, learns whether nothing at all has that name (not even a link).
    bool RegularFileExists(const std::string& name, bool* free = nullptr) const;
    const TFileWays& Ways() const { return ways_; }
    // The kernel refused to name a file by its descriptor: the rest of the
    // run goes through /proc at once.
    void NamingByDescriptorRefused() const { ways_.NameByDescriptor = false; }
    // Counts the openings: a file made for a folder held before cannot be
    // named in the one held now.
    std::uint64_t Generation() const { return generation_; }

private:
    bool StillAt(const std::string& dir) const;
    mutable TFileWays ways_;
    int fd_ = -1;
    std::string dir_;
    bool held_ = false;
    std::uint64_t generation_ = 0;
    std::uint64_t dev_ = 0;  // identity of the opened folder
    std::uint64_t ino_ = 0;
};

// The file of one download while it is written. Where the file system
// allows, it has no name until Publish links it into place complete, so a
// failure, a cancel or a crash leaves nothing behind; otherwise it is created
// under its final name at once (exclusively) and Discard deletes it after a
// failure.
class TPendingFile {
public:
    TPendingFile() = default;
    ~TPendingFile();
    TPendingFile(const TPendingFile&) = delete;
    TPendingFile& operator=(const TPendingFile&) = delete;

    // Prepares dir + name; false (nothing created) when the name is not
    // usable, the folder refuses, or anything of that name exists. SeenFree:
    // the caller has just found the name free, which spares a second look.
    bool Open(const TTargetFolder& folder, const std::string& name, bool seenFree = false);
    int Fd() const { return fd_; }
    bool Unnamed() const { return unnamed_; }
    // For a file fetched before its name is known: an unnamed file in the
    // folder, or false (nothing made) where the file system has none.
    bool OpenUnnamed(const TTargetFolder& folder);
    // The name such a file is to get, on the terms of Open: usable, and
    // nothing of that name there now (seenFree spares the look).
    bool Claim(const std::string& name, bool seenFree = false);

    enum class TPublish { Done, NameTaken, WriteFailed };
    // Gives the written file its name. NameTaken: the name could not be
    // given (taken meanwhile, say): nothing was overwritten and nothing of
    // ours is left. WriteFailed: the data may not be on disk; Discard follows.
    TPublish Publish();
    // After a failure: removes what this download left; false when a file of
    // ours could not be deleted. Left to the destructor, a failure is silent.
    bool Discard();

private:
    void CloseFd();
    bool Link();
    const TTargetFolder* folder_ = nullptr;
    int fd_ = -1;
    bool unnamed_ = false;
    bool onDisk_ = false;  // a file of ours carries the name (named, or linked)
    std::string name_;
};

// The body of one download, written into a TPendingFile's descriptor. A
// failed write is remembered; the client then ends the request as failed.
class TDownloadFileStream : public TStream {
public:
    explicit TDownloadFileStream(int fd) : fFd(fd) {}

    bool Write(const void* data, std::size_t len) override;
    std::int64_t Size() const override { return fSize; }
    bool Failed() const { return fFailed; }

private:
    int fFd;
    std::int64_t fSize = 0;
    bool fFailed = false;
};

// The memo line written when a partly written file cannot be removed.
std::string DeleteFailedLine(const std::string& saveName);

}  // namespace dlnames
