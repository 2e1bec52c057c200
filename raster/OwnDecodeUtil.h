// Shared pieces of our own BMP, TGA, PCX and IFF decoders: bounded byte
// access, building the picture record and the rule for flattening alpha.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "raster/Decoders.h"
#include "raster/Rasterwerk.h"

namespace raster::own {

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t Be32(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

// Transparent pixels are composited onto white, the background a page or a
// sheet of paper shows, so a picture looks the same in the viewer and printed.
// c' = c * a / 255 + 255 * (255 - a) / 255, rounded to nearest.
inline uint8_t OverWhite(uint8_t c, uint8_t a)
{
    return static_cast<uint8_t>((c * a + 255u * (255u - a) + 127u) / 255u);
}

// An n-bit channel value widened to 8 bits by repeating its bits
// (5 bits: v << 3 | v >> 2), so 0 stays 0 and the maximum becomes 255;
// wider values keep their top 8 bits.
inline uint8_t WidenBits(uint32_t v, int bits)
{
    if (bits >= 8)
        return static_cast<uint8_t>(v >> (bits - 8));
    uint32_t out = 0;
    for (int shift = 8 - bits; shift > -bits; shift -= bits)
        out |= shift >= 0 ? v << shift : v >> -shift;
    return static_cast<uint8_t>(out);
}

// A colour table of the full size the depth can index; entries the file does
// not define stay black, so any index in the pixel data is defined.
struct ColourTable {
    BITMAPINFO info{};
    void Set(int i, uint8_t r, uint8_t g, uint8_t b)
    {
        info.bmiColors[i].rgbRed = r;
        info.bmiColors[i].rgbGreen = g;
        info.bmiColors[i].rgbBlue = b;
        info.bmiColors[i].rgbReserved = 0;
    }
    void Grey(int colours)
    {
        for (int i = 0; i < colours; ++i) {
            const auto v = static_cast<uint8_t>(colours > 1 ? i * 255 / (colours - 1) : 0);
            Set(i, v, v, v);
        }
    }
};

// The size limits of a picture, checked in 64 bits before a decoder reads on.
inline const char* CheckPictureSize(int64_t width, int64_t height, int bits)
{
    const uint64_t row = DibRowBytes(width, bits);
    if (row == 0 || height <= 0 || height > kMaxDibDimension ||
        row * static_cast<uint64_t>(height) > kMaxDibPixelBytes)
        return "Bild zu groß";
    return nullptr;
}

// Owns the picture while it is being decoded; hands it over on success and
// frees it on every failure path.
class DibBuilder {
public:
    DibBuilder() = default;
    DibBuilder(const DibBuilder&) = delete;
    DibBuilder& operator=(const DibBuilder&) = delete;
    ~DibBuilder()
    {
        if (dib_.Bits || dib_.Info)
            deldib(dib_);
    }

    // Width, height and depth must already be validated by the caller;
    // newdib repeats the size checks and may still refuse (memory).
    const char* Create(int64_t width, int64_t height, int bits, const ColourTable* table)
    {
        if (const char* e = CheckPictureSize(width, height, bits))
            return e;
        const int colours = bits <= 8 ? (1 << bits) : 0;
        newdib(dib_, static_cast<int32_t>(width), static_cast<int32_t>(height), bits,
               table ? &table->info : nullptr, table ? colours : 0);
        if (!dib_.Bits) {
            error_ = dib_.ErrorText;
            return error_.c_str();
        }
        height_ = static_cast<int32_t>(height);
        return nullptr;
    }

    // Row y counted from the top of the picture.
    uint8_t* TopRow(int32_t y) const
    {
        return dib_.Bits + static_cast<size_t>(height_ - 1 - y) * static_cast<size_t>(dib_.RowBytes);
    }
    // Row y counted from the bottom, as stored.
    uint8_t* StoredRow(int32_t y) const
    {
        return dib_.Bits + static_cast<size_t>(y) * static_cast<size_t>(dib_.RowBytes);
    }
    int32_t RowBytes() const { return dib_.RowBytes; }

    void HandOver(DibHandle& out)
    {
        out = dib_;
        out.ErrorText.clear();
        dib_ = DibHandle{};
    }

private:
    DibHandle dib_;
    int32_t height_ = 0;
    std::string error_;
};

inline void Fail(DibHandle& out, const char* text)
{
    out.Info = nullptr;
    out.Bits = nullptr;
    out.RowBytes = 0;
    out.HasPalette = 0;
    out.PaletteHandle = nullptr;
    out.ErrorText = text;
}

// Runs a decoder body that returns nullptr on success or the error text.
template <typename Body>
void Run(DibHandle& out, Body&& body)
{
    DibBuilder dib;
    const char* error = body(dib);
    if (error)
        Fail(out, error);
    else
        dib.HandOver(out);
}

// Widens one 1-bit-per-plane ILBM/PCX style group of 8 pixels: bit (7 - k)
// of a byte lands in bit 0 of byte k of the result.
struct BitSpread {
    uint64_t table[256];
    constexpr BitSpread() : table{}
    {
        for (int b = 0; b < 256; ++b) {
            uint64_t v = 0;
            for (int k = 0; k < 8; ++k)
                if (b & (0x80 >> k))
                    v |= uint64_t{1} << (8 * k);
            table[b] = v;
        }
    }
};
inline constexpr BitSpread kBitSpread{};

}  // namespace raster::own
