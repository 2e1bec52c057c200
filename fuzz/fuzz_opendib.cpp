// OpenDib over any bytes, the decoder chosen by content; a decoded picture is
// also halftoned and drawn small, so the record a decoder fills is checked by
// its readers.
#include <cstddef>
#include <cstdint>

#include "raster/DeviceContext.h"
#include "raster/DibDraw.h"
#include "raster/Rasterwerk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    raster::DibHandle dib;
    raster::OpenDibFromMemory(dib, data, size, raster::dtAuto);
    if (!dib.Bits)
        return 0;
    raster::MemoryDC dc(24, 16);
    raster::DrawDibScaled(dc, 0, 0, 24, 16, dib, 0, 0, raster::DibWidth(dib), raster::DibHeight(dib), false,
                          raster::SRCCOPY, true, nullptr);
    // Halftoning reads every source pixel; huge (valid) pictures would only slow the search.
    if (int64_t(raster::DibWidth(dib)) * raster::DibHeight(dib) <= (1 << 22)) {
        raster::DibHandle small;
        raster::DIBHalftoneDIBXY(small, dib, 7, 5);
        raster::deldib(small);
        // A 256-colour screen: halftoned shrinking and enlarging, palettes selected.
        raster::ForceScreenBitsPerPixel(8);
        raster::MemoryDC dc8(16, 12, 8);
        raster::DrawDibScaled(dc8, 0, 0, 6, 4, dib, 0, 0, raster::DibWidth(dib), raster::DibHeight(dib), true,
                              raster::SRCCOPY, true, nullptr);
        raster::DrawDibScaled(dc8, -3, -2, 40, 30, dib, 1, 1, 3, 2, true, raster::SRCCOPY, false,
                              &raster::HalftonePalette());
        raster::ForceScreenBitsPerPixel(0);
    }
    raster::deldib(dib);
    return 0;
}
