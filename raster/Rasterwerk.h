// The image-file library: the in-memory picture record and the functions the
// program calls on it. Pixel memory is laid out as a Windows DIB: header and
// colour table, then rows bottom-up, each padded to 4 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace raster {

#pragma pack(push, 1)
struct BITMAPINFOHEADER {
    uint32_t biSize = 40;
    int32_t biWidth = 0;
    int32_t biHeight = 0;     // positive: rows bottom-up
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;  // always BI_RGB (0) in memory
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
struct RGBQUAD {
    uint8_t rgbBlue = 0;
    uint8_t rgbGreen = 0;
    uint8_t rgbRed = 0;
    uint8_t rgbReserved = 0;
};
struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[256];  // only the first biClrUsed entries are meaningful
};
#pragma pack(pop)

// A logical palette: what a device context selects and realizes before drawing
// a picture with a colour table.
struct LogPalette {
    int count = 0;
    RGBQUAD entries[256];
};

// Largest pixel memory one picture may take; decoders refuse anything larger.
inline constexpr uint64_t kMaxDibPixelBytes = 1ull << 30;  // 1 GiB
// Largest width or height accepted from any file.
inline constexpr int32_t kMaxDibDimension = 65535;
// Largest picture file OpenDib reads into memory.
inline constexpr uint64_t kMaxDibFileBytes = 512ull << 20;  // 512 MiB

struct DibHandle {
    BITMAPINFO* Info = nullptr;   // header and colour table
    uint8_t* Bits = nullptr;      // rows bottom-up; nullptr means no picture
    int32_t RowBytes = 0;         // bytes per row, a multiple of 4
    uint8_t HasPalette = 0;       // 1: select PaletteHandle before drawing
    std::string ErrorText;        // why loading failed (German, short)
    LogPalette* PaletteHandle = nullptr;
};

// Type codes by file extension; 0 lets OpenDib choose by the file's content.
enum DibType : int {
    dtAuto = 0, dtBMP = 3, dtDIB = 4, dtGIF = 5, dtIFF = 6, dtJIF = 7, dtJPG = 8,
    dtLBM = 9, dtPCX = 10, dtRLE = 11, dtTGA = 12, dtTIF = 13, dtPNG = 14,
    dtWEBP = 15, dtAVIF = 16
};

// The type code of an upper-cased file extension with its dot (".JPG"), or
// dtAuto when the extension names no picture type. One table for every caller.
int DibTypeForExtension(const std::string& upperExtension);

// Row bytes for a width and depth, padded to 4; 0 when out of range.
uint64_t DibRowBytes(int64_t width, int bitsPerPixel);

// Reads the file at `path` and decodes it by `typeCode` (0: by content). When
// the decoder of a non-zero code fails and the content names another format,
// that format's decoder gets a second try (pictures saved under a wrong
// extension are common on the web). ownerWindow is not used.
void OpenDib(DibHandle& out, const char* path, int typeCode, void* ownerWindow = nullptr);
// The same for a file already in memory.
void OpenDibFromMemory(DibHandle& out, const uint8_t* data, size_t size, int typeCode);
// A JPEG or JIF file decoded at the smallest of libjpeg's scales (n/8) whose
// output is at least as large as `wanted` asks for the picture's full size.
// fullWidth/fullHeight receive the picture's own size. Returns false (out
// empty) when the file is not a JPEG or cannot be decoded; the caller then
// takes OpenDib, whose error text is the one to report.
using WantedSize = void (*)(int32_t fullWidth, int32_t fullHeight, int32_t& wantWidth, int32_t& wantHeight);
bool OpenJpegReduced(DibHandle& out, const char* path, WantedSize wanted, int32_t& fullWidth, int32_t& fullHeight);
// The same for a file in memory.
bool DecodeJpegReduced(const uint8_t* data, size_t size, DibHandle& out, WantedSize wanted, int32_t& fullWidth,
                       int32_t& fullHeight);
// A WebP still picture decoded by libwebp straight to the size `wanted` asks
// for, when that is smaller than the picture; false (out empty) otherwise, and
// for animations and files that are no WebP.
bool OpenWebpScaled(DibHandle& out, const char* path, WantedSize wanted, int32_t& fullWidth, int32_t& fullHeight);
bool DecodeWebpScaled(const uint8_t* data, size_t size, DibHandle& out, WantedSize wanted, int32_t& fullWidth,
                      int32_t& fullHeight);
// The type code the content points to (dtBMP, dtGIF, dtIFF, dtJPG, dtPCX,
// dtPNG, dtTGA, dtTIF, dtWEBP, dtAVIF), or dtAuto when nothing fits.
int DetectDibType(const uint8_t* data, size_t size);
// Blank zero-filled picture; colourTable (may be null) supplies `colours` entries.
// On refusal (size limits, bad depth) out.Bits is nullptr and out.ErrorText says why.
void newdib(DibHandle& out, int32_t width, int32_t height, int bitsPerPixel,
            const BITMAPINFO* colourTable, int colours);
void deldib(DibHandle& dib);
uint32_t getpixel(const DibHandle& dib, int32_t x, int32_t y);
void setpixel(DibHandle& dib, int32_t x, int32_t y, uint32_t value);
// Halftoning: an 8-bit picture over the fixed HalftonePalette (a 6 x 6 x 6
// colour cube), ordered-dithered; the XY variant scales with a box filter.
void DIBHalftoneDIB(DibHandle& out, const DibHandle& src);
void DIBHalftoneDIBXY(DibHandle& out, const DibHandle& src, int32_t newWidth, int32_t newHeight);
const LogPalette& HalftonePalette();

}  // namespace raster
