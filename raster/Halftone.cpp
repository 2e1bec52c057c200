// Halftoning for displays of 256 colours or fewer.
//
// Target: a fixed 6 x 6 x 6 colour cube (216 entries, levels 0, 51, ... 255),
// index = 36 r + 6 g + b. Method: ordered dithering with an 8 x 8 Bayer
// matrix per channel. It is position-independent (a thumbnail and a viewer
// tile of the same picture dither alike), needs no error buffers and runs in
// one pass. When the size changes each output pixel first takes the average
// of the source pixels its area covers (box filter, so shrinking does not
// alias); when enlarging, the nearest source pixel.
#include <cstring>
#include <vector>

#include "raster/DeviceContext.h"
#include "raster/Rasterwerk.h"

namespace raster {

namespace {

constexpr uint8_t kBayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21}};

struct DitherTables {
    // Contribution of a channel value to the cube index, per Bayer threshold.
    uint8_t red[64][256], green[64][256], blue[64][256];
    LogPalette palette;
    BITMAPINFO colours;

    DitherTables()
    {
        for (int t = 0; t < 64; ++t) {
            const int threshold = (2 * t + 1) * 255 / 128;
            for (int v = 0; v < 256; ++v) {
                const int level = (v * 5 + threshold) / 255;
                red[t][v] = static_cast<uint8_t>(level * 36);
                green[t][v] = static_cast<uint8_t>(level * 6);
                blue[t][v] = static_cast<uint8_t>(level);
            }
        }
        palette.count = 216;
        for (int i = 0; i < 216; ++i) {
            const RGBQUAD c{uint8_t((i % 6) * 51), uint8_t((i / 6 % 6) * 51), uint8_t((i / 36) * 51), 0};
            palette.entries[i] = c;
            colours.bmiColors[i] = c;
        }
    }
};

const DitherTables& Tables()
{
    static const DitherTables tables;
    return tables;
}

bool UsableSource(const DibHandle& src)
{
    if (!src.Bits || !src.Info)
        return false;
    const BITMAPINFOHEADER& h = src.Info->bmiHeader;
    const int b = h.biBitCount;
    return (b == 1 || b == 4 || b == 8 || b == 16 || b == 24 || b == 32) && h.biWidth > 0 && h.biHeight > 0 &&
           h.biWidth <= kMaxDibDimension && h.biHeight <= kMaxDibDimension &&
           static_cast<uint64_t>(src.RowBytes) >= DibRowBytes(h.biWidth, b);
}

// Source row `y` (stored order) as BGR; 24-bit rows are used in place.
const uint8_t* SourceRowBgr(const DibHandle& src, int32_t y, std::vector<uint8_t>& scratch)
{
    const BITMAPINFOHEADER& h = src.Info->bmiHeader;
    const uint8_t* row = src.Bits + static_cast<size_t>(y) * static_cast<size_t>(src.RowBytes);
    if (h.biBitCount == 24)
        return row;
    scratch.resize(static_cast<size_t>(h.biWidth) * 3);
    for (int32_t x = 0; x < h.biWidth; ++x) {
        const uint32_t c = DibPixelRgb(*src.Info, row, x);
        scratch[3 * size_t(x)] = static_cast<uint8_t>(c);
        scratch[3 * size_t(x) + 1] = static_cast<uint8_t>(c >> 8);
        scratch[3 * size_t(x) + 2] = static_cast<uint8_t>(c >> 16);
    }
    return scratch.data();
}

}  // namespace

const LogPalette& HalftonePalette() { return Tables().palette; }

void DIBHalftoneDIBXY(DibHandle& out, const DibHandle& src, int32_t newWidth, int32_t newHeight)
{
    out.Bits = nullptr;
    out.Info = nullptr;
    out.PaletteHandle = nullptr;
    out.HasPalette = 0;
    if (!UsableSource(src)) {
        out.ErrorText = "Kein Bild";
        return;
    }
    const DitherTables& t = Tables();
    newdib(out, newWidth, newHeight, 8, &t.colours, 216);
    if (!out.Bits)
        return;
    const int32_t W = src.Info->bmiHeader.biWidth, H = src.Info->bmiHeader.biHeight;

    // Column spans of the box filter; when enlarging each span is one pixel.
    std::vector<int32_t> colStart(static_cast<size_t>(newWidth) + 1);
    for (int32_t x = 0; x <= newWidth; ++x)
        colStart[size_t(x)] = static_cast<int32_t>(int64_t(x) * W / newWidth);
    std::vector<uint32_t> sums(static_cast<size_t>(W) * 3);
    std::vector<uint8_t> scratch;
    for (int32_t oy = 0; oy < newHeight; ++oy) {
        int32_t y0 = static_cast<int32_t>(int64_t(oy) * H / newHeight);
        int32_t y1 = static_cast<int32_t>(int64_t(oy + 1) * H / newHeight);
        if (y1 <= y0)
            y1 = y0 + 1;
        const uint8_t* single = nullptr;
        if (y1 - y0 == 1) {
            single = SourceRowBgr(src, y0, scratch);
        } else {
            std::fill(sums.begin(), sums.end(), 0u);
            for (int32_t y = y0; y < y1; ++y) {
                const uint8_t* row = SourceRowBgr(src, y, scratch);
                uint32_t* s = sums.data();
                for (size_t i = 0, n = sums.size(); i < n; ++i)
                    s[i] += row[i];
            }
        }
        const uint32_t rows = static_cast<uint32_t>(y1 - y0);
        uint8_t* dst = out.Bits + static_cast<size_t>(oy) * static_cast<size_t>(out.RowBytes);
        const uint8_t* bayer = kBayer[oy & 7];
        for (int32_t ox = 0; ox < newWidth; ++ox) {
            int32_t x0 = colStart[size_t(ox)], x1 = colStart[size_t(ox) + 1];
            if (x1 <= x0)
                x1 = x0 + 1;
            unsigned b, g, r;
            if (single && x1 - x0 == 1) {
                const uint8_t* p = single + 3 * size_t(x0);
                b = p[0], g = p[1], r = p[2];
            } else {
                uint64_t sb = 0, sg = 0, sr = 0;
                if (single) {
                    for (int32_t x = x0; x < x1; ++x) {
                        sb += single[3 * size_t(x)];
                        sg += single[3 * size_t(x) + 1];
                        sr += single[3 * size_t(x) + 2];
                    }
                } else {
                    for (int32_t x = x0; x < x1; ++x) {
                        sb += sums[3 * size_t(x)];
                        sg += sums[3 * size_t(x) + 1];
                        sr += sums[3 * size_t(x) + 2];
                    }
                }
                const uint64_t n = static_cast<uint64_t>(x1 - x0) * rows;
                b = unsigned((sb + n / 2) / n), g = unsigned((sg + n / 2) / n), r = unsigned((sr + n / 2) / n);
            }
            const int k = bayer[ox & 7];
            dst[ox] = static_cast<uint8_t>(t.red[k][r] + t.green[k][g] + t.blue[k][b]);
        }
    }
    out.ErrorText.clear();
}

void DIBHalftoneDIB(DibHandle& out, const DibHandle& src)
{
    if (!UsableSource(src)) {
        out.Bits = nullptr;
        out.Info = nullptr;
        out.PaletteHandle = nullptr;
        out.HasPalette = 0;
        out.ErrorText = "Kein Bild";
        return;
    }
    DIBHalftoneDIBXY(out, src, src.Info->bmiHeader.biWidth, src.Info->bmiHeader.biHeight);
}

}  // namespace raster
