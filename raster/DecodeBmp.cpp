// Our BMP/DIB/RLE decoder: Windows and OS/2 bitmap files, uncompressed
// (1, 2, 4, 8, 16, 24, 32 bits, bit-field masks) and RLE4/RLE8.
#include <algorithm>
#include <bit>
#include <cstring>

#include "raster/Decoders.h"
#include "raster/OwnDecodeUtil.h"

namespace raster {
namespace {

using namespace own;

constexpr const char* kBad = "Ungültige BMP-Datei";
constexpr const char* kShort = "BMP-Datei unvollständig";
constexpr const char* kUnsupported = "BMP-Format nicht unterstützt";

enum : uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6 };

// One colour channel given by a bit mask: value = (pixel & mask) >> shift,
// widened from its bit count to 8 bits.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0;
    uint8_t narrow[256];  // channels of at most 8 bits go through this table
    void Init(uint32_t m)
    {
        mask = m;
        if (!m)
            return;
        shift = std::countr_zero(m);
        bits = std::popcount(m);
        if (bits <= 8)
            for (uint32_t v = 0; v < (1u << bits); ++v)
                narrow[v] = WidenBits(v, bits);
    }
    uint8_t Get(uint32_t pixel) const
    {
        if (!bits)
            return 0;
        const uint32_t v = (pixel & mask) >> shift;
        return bits <= 8 ? narrow[v] : WidenBits(v, bits);
    }
};

struct BmpHeader {
    int64_t width = 0;
    int64_t height = 0;       // always positive here
    bool topDown = false;
    int bits = 0;
    uint32_t compression = kRgb;
    uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    bool useAlpha = false;
    size_t paletteStart = 0;
    int paletteEntrySize = 4;
    uint32_t paletteEntries = 0;
    size_t pixelStart = 0;
};

bool ContiguousMask(uint32_t m)
{
    if (!m)
        return true;
    const uint32_t v = m >> std::countr_zero(m);
    return (v & (v + 1)) == 0;
}

// Every value the rest of the decoder relies on is checked here.
const char* ReadHeader(const uint8_t* data, size_t size, BmpHeader& h)
{
    size_t pos = 0;
    uint32_t offBits = 0;
    bool fileHeader = false;
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') {
        if (size < 14 + 4)
            return kShort;
        offBits = Le32(data + 10);
        pos = 14;
        fileHeader = true;
    }
    // Without the file header the data is a packed DIB: info header first.
    if (size < pos + 4)
        return kShort;
    const uint32_t hs = Le32(data + pos);
    if (hs != 12 && hs != 16 && hs != 40 && hs != 52 && hs != 56 && hs != 64 && hs != 108 && hs != 124)
        return kBad;
    if (size < pos + hs)
        return kShort;
    const uint8_t* p = data + pos;
    int64_t height = 0;
    int planes = 0;
    if (hs == 12) {  // OS/2 1.x core header: 16-bit sizes, 3-byte palette entries
        h.width = Le16(p + 4);
        height = Le16(p + 6);
        planes = Le16(p + 8);
        h.bits = Le16(p + 10);
        h.paletteEntrySize = 3;
    } else {
        h.width = static_cast<int32_t>(Le32(p + 4));
        height = static_cast<int32_t>(Le32(p + 8));
        planes = Le16(p + 12);
        h.bits = Le16(p + 14);
        if (hs >= 20)
            h.compression = Le32(p + 16);
        if (hs >= 36)
            h.paletteEntries = Le32(p + 32);
        // OS/2 2.x headers number their compressions differently (3 is
        // Huffman, 4 is RLE24); neither is supported.
        if ((hs == 16 || hs == 64) && h.compression > kRle4)
            return kUnsupported;
    }
    if (planes != 1)
        return kBad;
    if (height < 0) {
        h.topDown = true;
        height = -height;
    }
    h.height = height;
    if (h.width <= 0 || h.height <= 0 || h.width > kMaxDibDimension || h.height > kMaxDibDimension)
        return kBad;
    switch (h.bits) {
    case 1: case 2: case 4: case 8: case 16: case 24: case 32: break;
    default: return kBad;
    }
    switch (h.compression) {
    case kRgb: break;
    case kRle8: if (h.bits != 8) return kBad; break;
    case kRle4: if (h.bits != 4) return kBad; break;
    case kBitFields:
    case kAlphaBitFields: if (h.bits != 16 && h.bits != 32) return kBad; break;
    default: return kUnsupported;  // JPEG or PNG inside a BMP, CMYK variants
    }
    // RLE rows run bottom-up by construction.
    if (h.topDown && (h.compression == kRle8 || h.compression == kRle4))
        return kBad;

    size_t afterHeader = pos + hs;
    if (h.compression == kBitFields || h.compression == kAlphaBitFields) {
        const int count = h.compression == kAlphaBitFields ? 4 : 3;
        if (hs >= 52) {  // masks inside the header (V2 and later)
            for (int i = 0; i < count && 40 + 4 * i + 4 <= static_cast<int>(hs); ++i)
                h.masks[i] = Le32(p + 40 + 4 * i);
            if (hs >= 56 && count == 3)
                h.masks[3] = Le32(p + 52);
        } else {  // masks follow a 40-byte header
            if (size < afterHeader + 4u * count)
                return kShort;
            for (int i = 0; i < count; ++i)
                h.masks[i] = Le32(data + afterHeader + 4 * i);
            afterHeader += 4u * count;
        }
        for (uint32_t m : h.masks) {
            if (!ContiguousMask(m))
                return kBad;
            if (h.bits == 16 && m > 0xFFFF)
                return kBad;
        }
        if ((h.masks[0] | h.masks[1] | h.masks[2]) == 0)
            return kBad;
        h.useAlpha = h.masks[3] != 0;
    } else if (h.bits == 16) {
        h.masks[0] = 0x7C00; h.masks[1] = 0x03E0; h.masks[2] = 0x001F;
    } else if (h.bits == 32) {
        // The fourth byte of a plain 32-bit pixel is reserved, not alpha.
        h.masks[0] = 0xFF0000; h.masks[1] = 0xFF00; h.masks[2] = 0xFF;
    }

    h.paletteStart = afterHeader;
    if (h.bits <= 8) {
        const uint32_t full = 1u << h.bits;
        if (h.paletteEntries == 0 || h.paletteEntries > full)
            h.paletteEntries = full;
    } else {
        h.paletteEntries = 0;
    }
    const uint64_t paletteEnd = afterHeader + uint64_t{h.paletteEntries} * h.paletteEntrySize;
    if (fileHeader && offBits >= afterHeader && offBits <= size) {
        h.pixelStart = offBits;
        // A palette shorter than declared ends where the pixels begin.
        if (paletteEnd > offBits)
            h.paletteEntries = static_cast<uint32_t>((offBits - afterHeader) / h.paletteEntrySize);
    } else if (fileHeader && offBits > size) {
        return kShort;
    } else {
        if (paletteEnd > size)
            return kShort;
        h.pixelStart = static_cast<size_t>(paletteEnd);
    }
    return nullptr;
}

void ReadPalette(const uint8_t* data, const BmpHeader& h, ColourTable& table)
{
    for (uint32_t i = 0; i < h.paletteEntries; ++i) {
        const uint8_t* e = data + h.paletteStart + static_cast<size_t>(i) * h.paletteEntrySize;
        table.Set(static_cast<int>(i), e[2], e[1], e[0]);
    }
}

// The input row that lands in stored (bottom-up) row y.
inline size_t SourceRowOffset(const BmpHeader& h, int32_t y, uint64_t srcRowBytes)
{
    const int64_t fileRow = h.topDown ? (h.height - 1 - y) : y;
    return h.pixelStart + static_cast<size_t>(fileRow * srcRowBytes);
}

const char* DecodeUncompressed(const uint8_t* data, size_t size, const BmpHeader& h, DibBuilder& dib)
{
    const uint64_t srcRowBytes = ((static_cast<uint64_t>(h.width) * h.bits + 31) / 32) * 4;
    const uint64_t lastRowUsed = (static_cast<uint64_t>(h.width) * h.bits + 7) / 8;
    // The padding of the last row is often left out by writers; it is never read.
    const uint64_t needed = srcRowBytes * (h.height - 1) + lastRowUsed;
    if (needed > size - h.pixelStart)
        return kShort;

    const int outBits = h.bits <= 8 ? (h.bits == 2 ? 4 : h.bits) : 24;
    ColourTable table;
    if (h.bits <= 8)
        ReadPalette(data, h, table);
    if (const char* e = dib.Create(h.width, h.height, outBits, h.bits <= 8 ? &table : nullptr))
        return e;

    const auto rows = static_cast<int32_t>(h.height);
    const auto width = static_cast<size_t>(h.width);
    if (h.bits == 1 || h.bits == 4 || h.bits == 8 || h.bits == 24) {
        for (int32_t y = 0; y < rows; ++y)
            std::memcpy(dib.StoredRow(y), data + SourceRowOffset(h, y, srcRowBytes), static_cast<size_t>(lastRowUsed));
        return nullptr;
    }
    if (h.bits == 2) {
        for (int32_t y = 0; y < rows; ++y) {
            const uint8_t* src = data + SourceRowOffset(h, y, srcRowBytes);
            uint8_t* dst = dib.StoredRow(y);
            for (size_t x = 0; x < width; x += 2) {
                const unsigned v = src[x >> 2] >> (4 - 2 * (x & 3));
                dst[x >> 1] = static_cast<uint8_t>(((v >> 2) & 3) << 4 | (v & 3));
            }
            if (width & 1)  // the last byte held a pixel past the row end
                dst[width >> 1] &= 0xF0;
        }
        return nullptr;
    }

    const bool standard32 = h.bits == 32 && h.masks[0] == 0xFF0000 && h.masks[1] == 0xFF00 &&
                            h.masks[2] == 0xFF;
    Channel r, g, b, a;
    r.Init(h.masks[0]);
    g.Init(h.masks[1]);
    b.Init(h.masks[2]);
    a.Init(h.useAlpha ? h.masks[3] : 0);
    const bool alpha = a.bits != 0;
    for (int32_t y = 0; y < rows; ++y) {
        const uint8_t* src = data + SourceRowOffset(h, y, srcRowBytes);
        uint8_t* dst = dib.StoredRow(y);
        if (standard32 && !alpha) {
            for (size_t x = 0; x < width; ++x, src += 4, dst += 3) {
                dst[0] = src[0];
                dst[1] = src[1];
                dst[2] = src[2];
            }
            continue;
        }
        for (size_t x = 0; x < width; ++x, dst += 3) {
            uint32_t px;
            if (h.bits == 16) {
                px = Le16(src);
                src += 2;
            } else {
                px = Le32(src);
                src += 4;
            }
            uint8_t bb = b.Get(px), gg = g.Get(px), rr = r.Get(px);
            if (alpha) {
                const uint8_t av = a.Get(px);
                bb = OverWhite(bb, av);
                gg = OverWhite(gg, av);
                rr = OverWhite(rr, av);
            }
            dst[0] = bb;
            dst[1] = gg;
            dst[2] = rr;
        }
    }
    return nullptr;
}

// RLE8 and RLE4 straight into the stored rows. Runs are cut at the row end;
// pixels skipped by deltas or early line ends keep index 0.
const char* DecodeRle(const uint8_t* data, size_t size, const BmpHeader& h, DibBuilder& dib)
{
    const bool four = h.compression == kRle4;
    ColourTable table;
    ReadPalette(data, h, table);
    if (const char* e = dib.Create(h.width, h.height, four ? 4 : 8, &table))
        return e;

    const uint8_t* p = data + h.pixelStart;
    const uint8_t* const end = data + size;
    const auto width = static_cast<int64_t>(h.width);
    const auto height = static_cast<int64_t>(h.height);
    int64_t x = 0, y = 0;
    uint8_t* row = dib.StoredRow(0);

    auto put4 = [&](int64_t at, unsigned v) {
        uint8_t& byte = row[at >> 1];
        byte = (at & 1) ? static_cast<uint8_t>((byte & 0xF0) | (v & 0x0F))
                        : static_cast<uint8_t>((byte & 0x0F) | ((v & 0x0F) << 4));
    };

    while (y < height) {
        if (end - p < 2) {
            // No end-of-bitmap mark: accept it when every row has been reached.
            if (p == end && y >= height - 1)
                return nullptr;
            return kShort;
        }
        const unsigned count = p[0];
        const unsigned value = p[1];
        p += 2;
        if (count > 0) {
            const int64_t n = std::min<int64_t>(count, width - x);
            if (n > 0) {
                if (!four) {
                    std::memset(row + x, static_cast<int>(value), static_cast<size_t>(n));
                } else {
                    for (int64_t i = 0; i < n; ++i)
                        put4(x + i, (i & 1) ? value : value >> 4);
                }
            }
            x += count;
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            if (++y < height)
                row = dib.StoredRow(static_cast<int32_t>(y));
        } else if (value == 1) {  // end of bitmap
            return nullptr;
        } else if (value == 2) {  // delta: move right and up
            if (end - p < 2)
                return kShort;
            x += p[0];
            y += p[1];
            p += 2;
            if (y < height)
                row = dib.StoredRow(static_cast<int32_t>(y));
        } else {  // absolute run of `value` pixels, padded to a 16-bit boundary
            const size_t bytes = four ? (value + 1) / 2 : value;
            const size_t padded = (bytes + 1) & ~size_t{1};
            if (static_cast<size_t>(end - p) < bytes)
                return kShort;
            const int64_t n = std::min<int64_t>(value, width - x);
            if (n > 0) {
                if (!four) {
                    std::memcpy(row + x, p, static_cast<size_t>(n));
                } else {
                    for (int64_t i = 0; i < n; ++i)
                        put4(x + i, (i & 1) ? p[i >> 1] : p[i >> 1] >> 4);
                }
            }
            x += value;
            // The final pad byte may be missing at the very end of the file.
            p += std::min(padded, static_cast<size_t>(end - p));
        }
    }
    return nullptr;
}

}  // namespace

void DecodeBmp(const uint8_t* data, size_t size, DibHandle& out)
{
    Run(out, [&](DibBuilder& dib) -> const char* {
        if (!data || size == 0)
            return kShort;
        BmpHeader h;
        if (const char* e = ReadHeader(data, size, h))
            return e;
        if (h.compression == kRle8 || h.compression == kRle4)
            return DecodeRle(data, size, h, dib);
        return DecodeUncompressed(data, size, h, dib);
    });
}

}  // namespace raster
