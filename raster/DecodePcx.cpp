// Our PCX decoder: 1, 2, 4 and 8 bits per plane with 1 to 4 planes, run-length
// encoded or raw, header palette or the 256-colour palette at the end.
#include <algorithm>
#include <cstring>
#include <vector>

#include "raster/Decoders.h"
#include "raster/OwnDecodeUtil.h"

namespace raster {
namespace {

using namespace own;

constexpr const char* kBad = "Ungültige PCX-Datei";
constexpr const char* kShort = "PCX-Datei unvollständig";
constexpr const char* kUnsupported = "PCX-Format nicht unterstützt";

enum class Layout {
    Mono,      // 1 bit, 1 plane
    Planar,    // 1 bit, 2 to 4 planes: index bits spread over the planes
    Packed2,   // 2 bits, 1 plane (CGA)
    Packed4,   // 4 bits, 1 plane
    Indexed8,  // 8 bits, 1 plane
    Rgb,       // 8 bits, 3 planes
    Rgba,      // 8 bits, 4 planes
};

struct PcxHeader {
    int version = 0;
    bool rle = true;
    int bits = 0;
    int planes = 0;
    int64_t width = 0;
    int64_t height = 0;
    size_t bytesPerLine = 0;
    Layout layout = Layout::Mono;
};

const char* ReadHeader(const uint8_t* data, size_t size, PcxHeader& h)
{
    if (size < 128)
        return kShort;
    if (data[0] != 0x0A)
        return kBad;
    h.version = data[1];
    if (data[2] > 1)
        return kBad;
    h.rle = data[2] == 1;
    h.bits = data[3];
    const int xmin = Le16(data + 4), ymin = Le16(data + 6);
    const int xmax = Le16(data + 8), ymax = Le16(data + 10);
    h.planes = data[65];
    h.bytesPerLine = Le16(data + 66);
    if (xmax < xmin || ymax < ymin)
        return kBad;
    h.width = int64_t{xmax} - xmin + 1;
    h.height = int64_t{ymax} - ymin + 1;
    if (h.width > kMaxDibDimension || h.height > kMaxDibDimension)
        return kBad;
    if (h.bits == 1 && h.planes == 1)
        h.layout = Layout::Mono;
    else if (h.bits == 1 && h.planes >= 2 && h.planes <= 4)
        h.layout = Layout::Planar;
    else if (h.bits == 2 && h.planes == 1)
        h.layout = Layout::Packed2;
    else if (h.bits == 4 && h.planes == 1)
        h.layout = Layout::Packed4;
    else if (h.bits == 8 && h.planes == 1)
        h.layout = Layout::Indexed8;
    else if (h.bits == 8 && h.planes == 3)
        h.layout = Layout::Rgb;
    else if (h.bits == 8 && h.planes == 4)
        h.layout = Layout::Rgba;
    else
        return kUnsupported;
    // Each plane line must hold the whole row.
    if (static_cast<uint64_t>(h.bytesPerLine) * 8 < static_cast<uint64_t>(h.width) * h.bits)
        return kBad;
    if (const char* e = CheckPictureSize(h.width, h.height, h.bits * h.planes >= 24 ? 24 : 8))
        return e;
    // Two bytes bring at most 63 bytes of lines: a body too small even at the
    // best compression is refused before anything is allocated.
    const uint64_t total = static_cast<uint64_t>(h.bytesPerLine) * static_cast<uint64_t>(h.planes) *
                           static_cast<uint64_t>(h.height);
    const uint64_t least = h.rle ? (total + 62) / 63 * 2 : total;
    if (least > size - 128)
        return kShort;
    return nullptr;
}

// The sixteen colours of an EGA card, for files written without a palette.
constexpr uint8_t kEga[16][3] = {
    {0, 0, 0}, {0, 0, 170}, {0, 170, 0}, {0, 170, 170}, {170, 0, 0}, {170, 0, 170}, {170, 85, 0},
    {170, 170, 170}, {85, 85, 85}, {85, 85, 255}, {85, 255, 85}, {85, 255, 255}, {255, 85, 85},
    {255, 85, 255}, {255, 255, 85}, {255, 255, 255}};

void BuildTable(const uint8_t* data, size_t size, const PcxHeader& h, ColourTable& table)
{
    const uint8_t* header = data + 16;
    switch (h.layout) {
    case Layout::Mono:
        // Most writers leave the header palette black; then it means black and white.
        if (std::memcmp(header, header + 3, 3) == 0) {
            table.Set(0, 0, 0, 0);
            table.Set(1, 255, 255, 255);
        } else {
            table.Set(0, header[0], header[1], header[2]);
            table.Set(1, header[3], header[4], header[5]);
        }
        break;
    case Layout::Indexed8:
        if (size >= 128 + 769 && data[size - 769] == 0x0C) {
            const uint8_t* p = data + size - 768;
            for (int i = 0; i < 256; ++i)
                table.Set(i, p[3 * i], p[3 * i + 1], p[3 * i + 2]);
        } else {
            table.Grey(256);
        }
        break;
    default:
        for (int i = 0; i < 16; ++i) {
            if (h.version == 3)  // version 3 means "no palette in the file"
                table.Set(i, kEga[i][0], kEga[i][1], kEga[i][2]);
            else
                table.Set(i, header[3 * i], header[3 * i + 1], header[3 * i + 2]);
        }
        break;
    }
}

// Decodes one scan line (all its planes) from the byte stream. A run that
// reaches past the line carries on into the next one, as many writers do;
// `pending` keeps what is left of it.
class LineReader {
public:
    LineReader(const uint8_t* p, const uint8_t* end, bool rle) : p_(p), end_(end), rle_(rle) {}

    bool Read(uint8_t* line, size_t n)
    {
        if (!rle_) {
            if (static_cast<size_t>(end_ - p_) < n)
                return false;
            std::memcpy(line, p_, n);
            p_ += n;
            return true;
        }
        size_t i = 0;
        if (pending_) {
            const size_t k = std::min(pending_, n);
            std::memset(line, value_, k);
            pending_ -= k;
            i = k;
        }
        while (i < n) {
            if (p_ == end_)
                return false;
            const uint8_t b = *p_++;
            if (b < 0xC0) {
                line[i++] = b;
                continue;
            }
            if (p_ == end_)
                return false;
            value_ = *p_++;
            const size_t count = b & 0x3F;
            const size_t k = std::min(count, n - i);
            std::memset(line + i, value_, k);
            i += k;
            pending_ = count - k;
        }
        return true;
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
    bool rle_;
    size_t pending_ = 0;
    uint8_t value_ = 0;
};

}  // namespace

void DecodePcx(const uint8_t* data, size_t size, DibHandle& out)
{
    Run(out, [&](DibBuilder& dib) -> const char* {
        if (!data)
            return kShort;
        PcxHeader h;
        if (const char* e = ReadHeader(data, size, h))
            return e;
        int outBits = 4;
        switch (h.layout) {
        case Layout::Mono: outBits = 1; break;
        case Layout::Indexed8: outBits = 8; break;
        case Layout::Rgb: case Layout::Rgba: outBits = 24; break;
        default: break;
        }
        ColourTable table;
        if (outBits <= 8)
            BuildTable(data, size, h, table);
        if (const char* e = dib.Create(h.width, h.height, outBits, outBits <= 8 ? &table : nullptr))
            return e;

        const size_t bpl = h.bytesPerLine;
        const size_t lineBytes = bpl * static_cast<size_t>(h.planes);
        std::vector<uint8_t> line(lineBytes);
        // The pixel data of a picture with a palette at the end stops before
        // it, so a cut file is not completed from the palette bytes.
        size_t pixelEnd = size;
        if (h.layout == Layout::Indexed8 && h.version == 5 && size >= 128 + 769 && data[size - 769] == 0x0C)
            pixelEnd = size - 769;
        LineReader reader(data + 128, data + pixelEnd, h.rle);
        const auto width = static_cast<size_t>(h.width);
        const auto rows = static_cast<int32_t>(h.height);
        for (int32_t y = 0; y < rows; ++y) {
            uint8_t* dst = dib.TopRow(y);
            // One plane of 8 or 1 bits needs no conversion: straight into the row.
            const bool direct = (h.layout == Layout::Indexed8 || h.layout == Layout::Mono ||
                                 h.layout == Layout::Packed4) &&
                                bpl <= static_cast<size_t>(dib.RowBytes());
            uint8_t* buf = direct ? dst : line.data();
            if (!reader.Read(buf, lineBytes))
                return kShort;
            const uint8_t* src = buf;
            switch (h.layout) {
            case Layout::Indexed8:
            case Layout::Mono:
            case Layout::Packed4: {
                if (!direct)
                    std::memcpy(dst, src, static_cast<size_t>(dib.RowBytes()));
                // Bytes past the row end belong to the padding; clear them so
                // the picture never depends on what the writer put there.
                const size_t used = (width * h.bits + 7) / 8;
                std::memset(dst + used, 0, static_cast<size_t>(dib.RowBytes()) - used);
                break;
            }
            case Layout::Packed2:
                for (size_t x = 0; x < width; x += 2) {
                    const unsigned v = src[x >> 2] >> (4 - 2 * (x & 3));
                    dst[x >> 1] = static_cast<uint8_t>(((v >> 2) & 3) << 4 | (v & 3));
                }
                if (width & 1)
                    dst[width >> 1] &= 0xF0;
                break;
            case Layout::Planar:
                for (size_t x = 0; x < width; x += 8) {
                    uint64_t spread = 0;
                    for (int p = 0; p < h.planes; ++p)
                        spread |= kBitSpread.table[src[p * bpl + (x >> 3)]] << p;
                    uint8_t index[8];
                    std::memcpy(index, &spread, 8);
                    const size_t n = std::min<size_t>(8, width - x);
                    for (size_t k = 0; k < n; k += 2) {
                        const uint8_t low = (k + 1 < n) ? index[k + 1] : 0;
                        dst[(x + k) >> 1] = static_cast<uint8_t>(index[k] << 4 | low);
                    }
                }
                break;
            case Layout::Rgb:
                for (size_t x = 0; x < width; ++x, dst += 3) {
                    dst[0] = src[2 * bpl + x];
                    dst[1] = src[bpl + x];
                    dst[2] = src[x];
                }
                break;
            case Layout::Rgba:
                for (size_t x = 0; x < width; ++x, dst += 3) {
                    const uint8_t a = src[3 * bpl + x];
                    dst[0] = OverWhite(src[2 * bpl + x], a);
                    dst[1] = OverWhite(src[bpl + x], a);
                    dst[2] = OverWhite(src[x], a);
                }
                break;
            }
        }
        return nullptr;
    });
}

}  // namespace raster
