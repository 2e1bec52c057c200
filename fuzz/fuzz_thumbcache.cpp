// The thumbnail cache file reader: entries and their thumbnails from any bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "browser/ThumbCache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const int fd = ::memfd_create("thbcache", 0);
    if (fd < 0 || ::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        return 0;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    TThumbCacheIndex index;
    ReadCacheFile(path, index);
    for (const CacheEntry& e : index.Entries) {
        raster::DibHandle t;
        LoadCachedThumbnailOf(index, e, t);
        if (t.Bits)
            raster::deldib(t);
        index.Find(e.Name, e.Info.CheckValue);
    }
    return 0;
}
