#include "browser/ThumbCache.h"

// system
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string_view>

// ours
#include "raster/DibDraw.h"

using namespace raster;

std::string IncludeBackslash(const std::string& path)
{
    if (!path.empty() && path.back() == '/')
        return path;
    return path + "/";
}

namespace {

// FNV-1a over the name with ASCII letters folded: names that differ in case
// alone hash alike.
uint64_t CaselessHash(std::string_view name)
{
    uint64_t h = 1469598103934665603ull;
    for (char c : name) {
        h ^= static_cast<uint8_t>(UpperAsciiChar(c));
        h *= 1099511628211ull;
    }
    return h;
}

}  // namespace

TCacheFileSource::TCacheFileSource(int fd, int64_t size, int64_t mtimeSec, int64_t mtimeNsec)
    : fd_(fd), size_(size), mtimeSec_(mtimeSec), mtimeNsec_(mtimeNsec)
{
}

TCacheFileSource::~TCacheFileSource()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool TCacheFileSource::Unchanged() const
{
    struct stat st {};
    return fd_ >= 0 && ::fstat(fd_, &st) == 0 && st.st_size == size_ && st.st_mtim.tv_sec == mtimeSec_ &&
           st.st_mtim.tv_nsec == mtimeNsec_;
}

void TThumbCacheIndex::Clear()
{
    Entries.clear();
    Entries.shrink_to_fit();
    Source.reset();
    byNameHash_.clear();
    byNameHash_.shrink_to_fit();
}

void TThumbCacheIndex::BuildIndex()
{
    byNameHash_.clear();
    byNameHash_.reserve(Entries.size());
    for (uint32_t i = 0; i < Entries.size(); ++i)
        byNameHash_.emplace_back(CaselessHash(Entries[i].Name), i);
    // Entry numbers rise within one hash, so Find sees entries in file order.
    std::sort(byNameHash_.begin(), byNameHash_.end());
}

const CacheEntry* TThumbCacheIndex::Find(const std::string& name, int32_t checkValue) const
{
    const uint64_t h = CaselessHash(name);
    auto it = std::lower_bound(byNameHash_.begin(), byNameHash_.end(), std::make_pair(h, uint32_t{0}));
    const CacheEntry* caseless = nullptr;
    for (; it != byNameHash_.end() && it->first == h; ++it) {
        const CacheEntry& e = Entries[it->second];
        if (e.Info.CheckValue != checkValue || !SameTextAscii(e.Name, name))
            continue;
        if (e.Name == name)
            return &e;
        if (!caseless)
            caseless = &e;
    }
    return caseless;
}

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

int32_t Le32(const uint8_t* p)
{
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                                (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
}

void PutLe32(uint8_t* p, int32_t v)
{
    const auto u = static_cast<uint32_t>(v);
    p[0] = static_cast<uint8_t>(u);
    p[1] = static_cast<uint8_t>(u >> 8);
    p[2] = static_cast<uint8_t>(u >> 16);
    p[3] = static_cast<uint8_t>(u >> 24);
}

bool ValidDepth(int32_t bits)
{
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Bytes of colour table stored for a colour count.
int64_t TableBytes(int64_t colorCount)
{
    return colorCount <= 256 ? 4 * colorCount : 0;
}

// L for a thumbnail of these values, or -1 when they are impossible.
int64_t ExpectedEntryBytes(const ThumbInfo& info)
{
    if (info.ThumbWidth < 1 || info.ThumbWidth > kThumbBox || info.ThumbHeight < 1 || info.ThumbHeight > kThumbBox)
        return -1;
    if (!ValidDepth(info.BitCount) || info.ColorCount < 0)
        return -1;
    // The library makes colour tables only for depths up to 8 and no larger than the depth can index.
    if (info.ColorCount <= 256 && info.ColorCount > (info.BitCount <= 8 ? (1 << info.BitCount) : 0))
        return -1;
    const uint64_t row = DibRowBytes(info.ThumbWidth, info.BitCount);
    return 40 + TableBytes(info.ColorCount) + static_cast<int64_t>(row) * info.ThumbHeight;
}

}  // namespace

namespace {

// Reads exactly n bytes at offset; false on a short read or an error.
bool ReadAt(int fd, void* buffer, size_t n, int64_t offset)
{
    size_t got = 0;
    while (got < n) {
        const ssize_t r = ::pread(fd, static_cast<uint8_t*>(buffer) + got, n - got, offset + static_cast<int64_t>(got));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

// Reads a file through a window of a fixed size. The fixed parts of the
// entries lie a few kilobytes apart: one read call then serves dozens of
// them, where a call each cost most of the time of opening a big folder.
class TWindowReader {
public:
    explicit TWindowReader(int fd) : fd_(fd), buffer_(kWindow) {}

    // The n bytes at offset, valid until the next call; null when the file
    // ends before them or cannot be read.
    const uint8_t* At(int64_t offset, size_t n)
    {
        if (n > buffer_.size())
            return nullptr;
        if (offset >= start_ && offset + static_cast<int64_t>(n) <= start_ + static_cast<int64_t>(length_))
            return buffer_.data() + (offset - start_);
        size_t got = 0;
        while (got < buffer_.size()) {
            const ssize_t r = ::pread(fd_, buffer_.data() + got, buffer_.size() - got, offset + static_cast<int64_t>(got));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                break;
            got += static_cast<size_t>(r);
        }
        start_ = offset;
        length_ = got;
        return got >= n ? buffer_.data() : nullptr;
    }

private:
    static constexpr size_t kWindow = 128 * 1024;
    int fd_;
    std::vector<uint8_t> buffer_;
    int64_t start_ = 0;
    size_t length_ = 0;
};

struct FdCloser {
    int Fd;
    ~FdCloser()
    {
        if (Fd >= 0)
            ::close(Fd);
    }
};

// Opens a regular file for reading, never waiting: a named pipe of that
// name would hold an ordinary open until someone writes into it. -1 when it
// cannot be opened (errno as open left it) or is no regular file (EINVAL).
int OpenRegularFile(const std::string& path, struct stat& st)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

}  // namespace

TCacheReadResult ReadCacheFile(const std::string& path, TThumbCacheIndex& index)
{
    index.Clear();
    // Whatever is not a regular file is not opened at all; opening a device can have effects of its own.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return TCacheReadResult::Foreign;
    const int fd = OpenRegularFile(path, st);
    if (fd < 0)
        return errno == EINVAL ? TCacheReadResult::Foreign : TCacheReadResult::NotOpened;
    FdCloser closer{fd};
    const int64_t fileSize = st.st_size;
    uint8_t head[6];
    if (!ReadAt(fd, head, 2, 0) || (head[0] | (head[1] << 8)) != kCacheSignature)
        return TCacheReadResult::Foreign;
    if (!ReadAt(fd, head + 2, 4, 2))
        return TCacheReadResult::Read;
    const int32_t count = Le32(head + 2);
    // Nothing is reserved from N: the file's own size bounds the loop.
    int64_t pos = 6;
    constexpr int64_t kFixed = kCacheNameBytes + 32 + 4;
    TWindowReader reader(fd);
    for (int32_t i = 0; i < count; ++i) {
        const uint8_t* rec = pos + kFixed > fileSize ? nullptr : reader.At(pos, kFixed);
        if (!rec)
            break;
        CacheEntry e;
        const auto* nameEnd = static_cast<const uint8_t*>(std::memchr(rec, 0, kCacheNameBytes));
        e.Name.assign(reinterpret_cast<const char*>(rec),
                      nameEnd ? static_cast<size_t>(nameEnd - rec) : static_cast<size_t>(kCacheNameBytes));
        int32_t* fields = &e.Info.BitCount;
        for (int k = 0; k < 8; ++k)
            fields[k] = Le32(rec + kCacheNameBytes + 4 * k);
        const int32_t length = Le32(rec + kCacheNameBytes + 32);
        pos += kFixed;
        const int64_t expected = ExpectedEntryBytes(e.Info);
        if (expected < 0 || length != expected || pos + length > fileSize)
            break;
        e.Position = pos;
        pos += length;
        index.Entries.push_back(std::move(e));
    }
    index.BuildIndex();
    index.Source = std::make_shared<const TCacheFileSource>(fd, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    closer.Fd = -1;
    return TCacheReadResult::Read;
}

namespace {

bool LoadThumbnailAt(int fd, int64_t position, int32_t width, int32_t height, int32_t bitCount, int32_t colorCount,
                     DibHandle& out)
{
    out = DibHandle();
    BITMAPINFO info;
    const int colours = colorCount <= 256 && colorCount >= 0 ? colorCount : 0;
    const size_t headBytes = 40 + 4 * static_cast<size_t>(colours);
    if (!ReadAt(fd, &info, headBytes, position))
        return false;
    newdib(out, width, height, bitCount, &info, colours);
    if (!out.Bits)
        return false;
    // A cut-off file gives no thumbnail rather than one with a black bottom.
    if (!ReadAt(fd, out.Bits, out.Info->bmiHeader.biSizeImage, position + static_cast<int64_t>(headBytes))) {
        deldib(out);
        return false;
    }
    return true;
}

}  // namespace

void LoadCachedThumbnailFrom(const std::string& path, int64_t position, int32_t width, int32_t height,
                             int32_t bitCount, int32_t colorCount, DibHandle& out)
{
    out = DibHandle();
    struct stat st {};
    const int fd = OpenRegularFile(path, st);
    if (fd < 0)
        return;
    FdCloser closer{fd};
    LoadThumbnailAt(fd, position, width, height, bitCount, colorCount, out);
}

TCacheLoadResult LoadCachedThumbnailOf(const TThumbCacheIndex& cache, const CacheEntry& e, DibHandle& out)
{
    out = DibHandle();
    if (!cache.Source)
        return TCacheLoadResult::Unreadable;
    const bool loaded = LoadThumbnailAt(cache.Source->Fd(), e.Position, e.Info.ThumbWidth, e.Info.ThumbHeight,
                                        e.Info.BitCount, e.Info.ColorCount, out);
    // Checked after reading: a rewrite that overlapped the read has changed the time by now.
    if (!cache.Source->Unchanged()) {
        if (out.Bits || out.Info)
            deldib(out);
        out = DibHandle();
        return TCacheLoadResult::Changed;
    }
    return loaded ? TCacheLoadResult::Loaded : TCacheLoadResult::Unreadable;
}

TCacheWriteResult WriteCacheFile(const std::string& path, const std::vector<CacheThumb>& thumbs,
                                 const TCacheFileSource* keptFrom)
{
    // A file of someone else's under our name is never replaced.
    {
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0) {
            if (!S_ISREG(st.st_mode) || ::access(path.c_str(), W_OK) != 0)
                return TCacheWriteResult::Foreign;
            const int oldFd = OpenRegularFile(path, st);
            if (oldFd < 0)
                return TCacheWriteResult::Foreign;
            FdCloser closer{oldFd};
            uint8_t sig[2];
            if (!ReadAt(oldFd, sig, 2, 0) || (sig[0] | (sig[1] << 8)) != kCacheSignature)
                return TCacheWriteResult::Foreign;
        }
    }
    // Kept entries come from the file they were read from, by the descriptor
    // opened then: a path may name another instance's file by now, whose
    // bytes at those positions are no thumbnails of these entries.
    const bool keep = keptFrom && keptFrom->Unchanged();
    size_t count = 0;
    bool keptAny = false;
    for (const CacheThumb& t : thumbs) {
        if (t.Dib || !t.Kept || keep)
            ++count;
        keptAny = keptAny || (!t.Dib && t.Kept && keep);
    }
    const int oldFd = keep ? keptFrom->Fd() : -1;
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return TCacheWriteResult::Failed;
    ::fchmod(fd, 0644);
    FilePtr f(::fdopen(fd, "wb"));
    if (!f) {
        ::close(fd);
        ::unlink(temp.c_str());
        return TCacheWriteResult::Failed;
    }
    std::setvbuf(f.get(), nullptr, _IOFBF, 1 << 20);
    bool ok = true;
    auto put = [&](const void* p, size_t n) {
        if (ok && n > 0 && std::fwrite(p, 1, n, f.get()) != n)
            ok = false;
    };
    uint8_t head[6] = {static_cast<uint8_t>(kCacheSignature & 0xFF), static_cast<uint8_t>(kCacheSignature >> 8)};
    PutLe32(head + 2, static_cast<int32_t>(count));
    put(head, sizeof head);
    std::vector<uint8_t> copy;
    for (const CacheThumb& t : thumbs) {
        if (!t.Dib && !t.Kept) {
            ok = false;
            break;
        }
        if (!t.Dib && !keep)
            continue;
        uint8_t rec[kCacheNameBytes + 32 + 4] = {};
        std::memcpy(rec, t.Name->data(), std::min<size_t>(t.Name->size(), kCacheNameBytes - 1));
        const int32_t* fields = &t.Info->BitCount;
        for (int k = 0; k < 8; ++k)
            PutLe32(rec + kCacheNameBytes + 4 * k, fields[k]);
        if (!t.Dib) {
            // Its length was checked against its values when it was read.
            const int64_t length = ExpectedEntryBytes(t.Kept->Info);
            copy.resize(static_cast<size_t>(std::max<int64_t>(length, 0)));
            if (length < 0 || !ReadAt(oldFd, copy.data(), copy.size(), t.Kept->Position)) {
                ok = false;
                break;
            }
            PutLe32(rec + kCacheNameBytes + 32, static_cast<int32_t>(length));
            put(rec, sizeof rec);
            put(copy.data(), copy.size());
            continue;
        }
        const int64_t table = TableBytes(DibColorCount(*t.Dib));
        const int64_t pixels = t.Dib->Info->bmiHeader.biSizeImage;
        PutLe32(rec + kCacheNameBytes + 32, static_cast<int32_t>(40 + table + pixels));
        put(rec, sizeof rec);
        put(t.Dib->Info, static_cast<size_t>(40 + table));
        put(t.Dib->Bits, static_cast<size_t>(pixels));
    }
    // Copies made while the old file was rewritten in place may be torn.
    if (keptAny && !keptFrom->Unchanged())
        ok = false;
    if (ok && std::fflush(f.get()) != 0)
        ok = false;
    if (ok && ::fsync(::fileno(f.get())) != 0)
        ok = false;
    if (std::fclose(f.release()) != 0)
        ok = false;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return TCacheWriteResult::Failed;
    }
    return TCacheWriteResult::Written;
}

namespace {

// Mixed into the check value of JPEG files since their thumbnails are upright.
constexpr uint64_t kUprightJpegThumbs = 0x4578696655707269ull;  // "ExifUpri"

}  // namespace

int32_t CalcCheckValue(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        thread_local std::minstd_rand random(
            static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
        return static_cast<int32_t>(random() % 32767);
    }
    // splitmix64 over size, seconds and nanoseconds: a picture replaced under
    // its name practically always gets a new value.
    uint64_t values[4] = {static_cast<uint64_t>(st.st_size), static_cast<uint64_t>(st.st_mtim.tv_sec),
                          static_cast<uint64_t>(st.st_mtim.tv_nsec), kUprightJpegThumbs};
    // JPEG thumbnails are now made upright from the camera's orientation.
    // Cache entries of earlier versions hold them as stored; one more value
    // for JPEG files makes those thumbnails anew once, and leaves the
    // entries of every other type valid.
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    int type = dtAuto;
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        type = DibTypeForExtension(UpperAscii(std::string_view(path).substr(dot)));
    const size_t count = type == dtJPG || type == dtJIF ? 4 : 3;
    uint64_t h = 0x9E3779B97F4A7C15ull;
    for (size_t i = 0; i < count; ++i) {
        h ^= values[i];
        h += 0x9E3779B97F4A7C15ull;
        h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ull;
        h = (h ^ (h >> 27)) * 0x94D049BB133111EBull;
        h ^= h >> 31;
    }
    const auto v = static_cast<int32_t>(static_cast<uint32_t>(h ^ (h >> 32)));
    return v != 0 ? v : 1;
}
