// Making one thumbnail: what a pass does for one file of a folder, from the
// cache file or by decoding and shrinking the picture. Plain C++, safe to run
// for different files on different threads: the pass's workers prepare files
// ahead, and the user-interface thread only takes the results in order.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "browser/ThumbCache.h"
#include "raster/Rasterwerk.h"

// The thumbnail size for a picture: 80 wide and in proportion, or 80 high
// when that would be taller; integer division, a side of 0 becomes 1.
void ThumbSizeFor(int32_t pictureWidth, int32_t pictureHeight, int32_t& thumbWidth, int32_t& thumbHeight);

// A new picture of newWidth x newHeight, nearest neighbour, same depth and
// colour table; blank for depths other than 1, 4, 8 and 24. The caller owns it.
raster::DibHandle ResizeDib(const raster::DibHandle& src, int32_t newWidth, int32_t newHeight);

// The outcome for one file; owns Thumb until it is taken.
struct TPreparedFile {
    enum TKind {
        NotPicture,      // extension of no picture type
        Cached,          // Thumb and Info from the cache file
        CacheUnloadable, // a matching entry whose thumbnail could not be read
        Made,            // Thumb and Info newly made
        NotMade,         // usable picture, but no thumbnail could be allocated
        Unusable         // not opened, or smaller than 2 x 2: ErrorText
    };
    TKind Kind = NotPicture;
    raster::DibHandle Thumb;
    ThumbInfo Info;
    std::string ErrorText;
    // Cached and CacheUnloadable: the index of the entry in the cache's list.
    int32_t EntryIndex = -1;

    TPreparedFile() = default;
    TPreparedFile(const TPreparedFile&) = delete;
    TPreparedFile& operator=(const TPreparedFile&) = delete;
    TPreparedFile(TPreparedFile&& o) noexcept;
    TPreparedFile& operator=(TPreparedFile&& o) noexcept;
    ~TPreparedFile();
    // Hands the thumbnail over to the caller.
    raster::DibHandle TakeThumb();
};

struct TPrepareOptions {
    // JPEGs decoded at libjpeg's reduced scales (faster, smoother); the
    // thumbnail's size and ThumbInfo are those of the full decode.
    bool ReducedJpeg = true;
    // Called on the worker thread before a file is prepared (tests hold a
    // pass at a chosen file with it).
    std::function<void(const std::string& name)> BeforePrepare;
};

// Prepares the file `name` of `folder` (ending in "/"): the picture type by
// extension, the check value, a cache entry of `cache` or a new thumbnail.
// Entries are read from the file the index was read from; cachePath serves
// only an index that was not read from a file.
TPreparedFile PrepareFile(const std::string& folder, const std::string& name, const TThumbCacheIndex& cache,
                          const std::string& cachePath, const TPrepareOptions& options = {});
