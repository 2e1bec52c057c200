// Decoders behind OpenDib. Each one reads a whole file held in memory and
// fills `out` through newdib, or leaves out.Bits nullptr with out.ErrorText
// saying why. None reads outside [data, data + size).
#pragma once

#include <cstddef>
#include <cstdint>

#include "raster/Rasterwerk.h"

namespace raster {

// Ours: BMP/DIB/RLE (with BITMAPFILEHEADER), TGA, PCX, IFF/LBM (ILBM and PBM).
void DecodeBmp(const uint8_t* data, size_t size, DibHandle& out);
void DecodeTga(const uint8_t* data, size_t size, DibHandle& out);
void DecodePcx(const uint8_t* data, size_t size, DibHandle& out);
void DecodeIff(const uint8_t* data, size_t size, DibHandle& out);

// Over libjpeg-turbo, libpng, giflib and libtiff.
void DecodeJpeg(const uint8_t* data, size_t size, DibHandle& out);
void DecodePng(const uint8_t* data, size_t size, DibHandle& out);
void DecodeGif(const uint8_t* data, size_t size, DibHandle& out);
void DecodeTiff(const uint8_t* data, size_t size, DibHandle& out);
// Over libwebp and libavif (with the AV1 decoder Debian packages it with).
void DecodeWebp(const uint8_t* data, size_t size, DibHandle& out);
void DecodeAvif(const uint8_t* data, size_t size, DibHandle& out);

}  // namespace raster
