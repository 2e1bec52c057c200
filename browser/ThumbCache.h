// The thumbnail cache file "thbcache.tcf" of a folder and the check value
// that tells whether a picture still is the one a thumbnail was made of.
// Plain C++ over the image-file library: the pass's worker threads use it.
//
// Layout (little-endian): signature 0x0B5E (2 bytes), entry count N (4), then
// N entries: the file name (261 bytes, zero-terminated), ThumbInfo (32), L (4)
// = 40 + T + S, the thumbnail's BITMAPINFOHEADER (40), its colour table
// (T = 4 x ColorCount when ColorCount <= 256, else 0) and its pixel rows (S).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/AsciiCase.h"  // UpperAscii: the program's one letter-case rule
#include "raster/Rasterwerk.h"

// Eight signed 32-bit values per thumbnail, in memory and in the cache file.
struct ThumbInfo {
    int32_t BitCount = 0;       // the picture's depth; the thumbnail has the same
    int32_t ThumbWidth = 0;
    int32_t ThumbHeight = 0;
    int32_t PictureWidth = 0;
    int32_t PictureHeight = 0;
    int32_t ColorCount = 0;     // 2 to the power BitCount
    int32_t SizeKB = 0;         // the decoded picture's pixel bytes / 1024
    int32_t CheckValue = 0;
};
static_assert(sizeof(ThumbInfo) == 32);

inline constexpr uint16_t kCacheSignature = 0x0B5E;
inline constexpr int kCacheNameBytes = 261;
inline constexpr const char* kCacheFileName = "thbcache.tcf";
// No thumbnail side is larger.
inline constexpr int32_t kThumbBox = 80;

struct CacheEntry {
    std::string Name;       // bytes up to the first zero of the stored name
    ThumbInfo Info;
    int64_t Position = 0;   // file offset of the entry's BITMAPINFOHEADER
};

// Appends "/" unless the path already ends in one.
std::string IncludeBackslash(const std::string& path);

// The cache file as it was read. Its descriptor stays open while the entries
// are in use, so thumbnails are read, and kept entries copied, from that very
// file even when another instance has put a new one in its place; a file
// rewritten in place (its size or time changed) is no longer trusted.
class TCacheFileSource {
public:
    // Takes over fd; size and time as fstat gave them before reading.
    TCacheFileSource(int fd, int64_t size, int64_t mtimeSec, int64_t mtimeNsec);
    ~TCacheFileSource();
    TCacheFileSource(const TCacheFileSource&) = delete;
    TCacheFileSource& operator=(const TCacheFileSource&) = delete;

    int Fd() const { return fd_; }
    bool Unchanged() const;

private:
    int fd_;
    int64_t size_, mtimeSec_, mtimeNsec_;
};

// The entries of a cache file, with a name index so a folder of 100,000
// pictures finds each entry at once.
class TThumbCacheIndex {
public:
    std::vector<CacheEntry> Entries;
    // The file they were read from; shared by copies of the index.
    std::shared_ptr<const TCacheFileSource> Source;
    void Clear();
    void BuildIndex();
    // The entry for a picture: the first with exactly this name and check
    // value, else the first whose name matches without regard to case
    // (Linux names may differ in case alone). Null when none.
    const CacheEntry* Find(const std::string& name, int32_t checkValue) const;

private:
    // (hash of the upper-case name, entry number), sorted: one allocation
    // for the whole folder, where a map of names cost a third of the time
    // of opening a cached folder of 100,000 pictures.
    std::vector<std::pair<uint64_t, uint32_t>> byNameHash_;
};

enum class TCacheReadResult { NotOpened, Read, Foreign };
// Reads the entries of the cache file at path into index (cleared first).
// A file with a wrong signature (or too short for one), and anything but a
// regular file (a named pipe, a device, a folder), gives no entries and
// Foreign; opening never blocks. Reading stops at the first entry that ends
// past the end of the file or holds impossible values; the entries before it
// stay.
TCacheReadResult ReadCacheFile(const std::string& path, TThumbCacheIndex& index);

// The thumbnail stored at position in the regular file at path; out.Bits is
// null when it cannot be read.
void LoadCachedThumbnailFrom(const std::string& path, int64_t position, int32_t width, int32_t height,
                             int32_t bitCount, int32_t colorCount, raster::DibHandle& out);

enum class TCacheLoadResult { Loaded, Unreadable, Changed };
// The thumbnail of entry e of cache, read from the file the index was read
// from. Changed (and no thumbnail) when that file was rewritten in place
// since: its entries no longer describe it.
TCacheLoadResult LoadCachedThumbnailOf(const TThumbCacheIndex& cache, const CacheEntry& e, raster::DibHandle& out);

// One thumbnail to store: from memory, or, when Dib is null, the entry's
// stored thumbnail copied from the file the entries were read from (Kept: its
// position and values as ReadCacheFile gave them).
struct CacheThumb {
    const std::string* Name;
    const ThumbInfo* Info;
    const raster::DibHandle* Dib;
    const CacheEntry* Kept = nullptr;
};
enum class TCacheWriteResult { Written, Foreign, Failed };
// Writes the thumbnails to path through a temporary file beside it, renamed
// into place when complete. A file there whose first two bytes are not the
// signature (or that is no regular file, or cannot be read or replaced) is
// left alone. Kept entries are copied from keptFrom, the file they were read
// from; without it, or when that file was rewritten in place, they are left
// out (the next pass makes them anew). The old file also stays when a kept
// entry cannot be copied.
TCacheWriteResult WriteCacheFile(const std::string& path, const std::vector<CacheThumb>& thumbs,
                                 const TCacheFileSource* keptFrom = nullptr);

// The check value of a picture file, from its size and modification time
// (nanoseconds included), with a mark for JPEG files, whose thumbnails are
// made upright since: never 0, so entries of old cache files (written
// with 0) are rebuilt. A file that cannot be examined gets a random value
// from 0 to 32,766, which practically never matches.
int32_t CalcCheckValue(const std::string& path);
