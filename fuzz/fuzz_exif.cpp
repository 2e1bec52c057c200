// Feeds arbitrary bytes to the Exif orientation reader, as a whole JPEG file
// and as one Exif block: it must answer 1 to 8 and never read outside them.
#include <cstddef>
#include <cstdint>

#include "raster/ExifOrientation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int a = raster::JpegExifOrientation(data, size);
    const int b = raster::ExifBlockOrientation(data, size);
    if (a < 1 || a > 8 || b < 1 || b > 8)
        __builtin_trap();
    return 0;
}
