// Streams the HTTP client writes response bodies to and reads POST bodies from.
//
// The caller owns every stream it hands to the client; the client only calls
// Write (one call per received block, exactly the block's length), and for a
// POST Read and Size. It never rewinds, truncates or frees a stream.
//
//   TMemoryStream   whole body in memory (pages of a scan)
//   TFileStream     body into a file that appears under its name only on Commit
//                   (downloads: a file is complete or absent)
//   TNullStream     counts and discards (benchmarks, HEAD-like probes)
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

class TStream {
public:
    virtual ~TStream() = default;
    // Appends len bytes. False when they could not all be stored; the client
    // then ends the request as failed instead of keeping a cut-off body.
    virtual bool Write(const void* data, std::size_t len) = 0;
    // Reads up to len bytes from the current position; 0 at the end.
    virtual std::size_t Read(void* data, std::size_t len) { (void)data; (void)len; return 0; }
    // Bytes held (written so far for an output stream).
    virtual std::int64_t Size() const = 0;
    // How many bytes the stream takes at most before it can tell whether it
    // wants the rest (a picture judged by its header); 0 for any amount. The
    // client reads no more than that at a time meanwhile, so a body it
    // refuses leaves the rest in the kernel, never read.
    virtual std::size_t ReadLimit() const { return 0; }
};

class TMemoryStream : public TStream {
public:
    // A stream that refuses to grow beyond limit bytes (the default is no limit
    // beyond what memory allows), so a hostile page cannot exhaust memory.
    explicit TMemoryStream(std::size_t limit = SIZE_MAX) : fLimit(limit) {}
    bool Write(const void* data, std::size_t len) override;
    std::size_t Read(void* data, std::size_t len) override;
    std::int64_t Size() const override { return static_cast<std::int64_t>(fData.size()); }

    const std::string& Data() const { return fData; }
    void Clear() { fData.clear(); fPos = 0; }
    void SetPosition(std::size_t pos) { fPos = pos < fData.size() ? pos : fData.size(); }

private:
    std::string fData;
    std::size_t fPos = 0;
    std::size_t fLimit;
};

class TNullStream : public TStream {
public:
    bool Write(const void*, std::size_t len) override { fCount += static_cast<std::int64_t>(len); return true; }
    std::int64_t Size() const override { return fCount; }

private:
    std::int64_t fCount = 0;
};

class EStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Writes into a hidden temporary file in the target's folder; Commit moves it
// to the target name, Discard (or destruction without Commit) removes it.
class TFileStream : public TStream {
public:
    // Throws EStreamError when the temporary file cannot be created.
    explicit TFileStream(const std::string& path);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    bool Write(const void* data, std::size_t len) override;
    std::int64_t Size() const override { return fSize; }

    // Flushes the data to disk and gives the file its name. Without overwrite
    // an existing file at the target is left alone and Commit fails. Returns
    // false with ErrorText set on failure; the temporary file is then removed.
    bool Commit(bool overwrite = false);
    void Discard();

    const std::string& Path() const { return fPath; }
    const std::string& TempPath() const { return fTemp; }
    const std::string& ErrorText() const { return fError; }

private:
    std::string fPath;
    std::string fTemp;
    std::string fError;
    int fFd = -1;
    std::int64_t fSize = 0;
    bool fFailed = false;
};
