// Our TGA decoder: colour-mapped, true-colour (15, 16, 24, 32 bits) and
// greyscale pictures, raw or run-length encoded, any of the four origins.
#include <algorithm>
#include <cstring>
#include <vector>

#include "raster/Decoders.h"
#include "raster/OwnDecodeUtil.h"

namespace raster {
namespace {

using namespace own;

constexpr const char* kBad = "Ungültige TGA-Datei";
constexpr const char* kShort = "TGA-Datei unvollständig";
constexpr const char* kUnsupported = "TGA-Format nicht unterstützt";

enum Kind { kMapped = 1, kTrue = 2, kGrey = 3 };

struct TgaHeader {
    Kind kind = kTrue;
    bool rle = false;
    int64_t width = 0;
    int64_t height = 0;
    int depth = 0;          // bits per pixel in the data
    int alphaBits = 0;
    bool topOrigin = false;
    bool rightToLeft = false;
    bool premultiplied = false;
    size_t mapStart = 0;
    uint32_t mapFirst = 0;
    uint32_t mapLength = 0;
    int mapEntryBits = 0;
    size_t pixelStart = 0;
};

// The TGA 2.0 extension area can say that the alpha bits mean nothing
// (attribute types 0 to 2) or hold premultiplied colour (type 4).
void ReadAttributeType(const uint8_t* data, size_t size, TgaHeader& h)
{
    static const char kSignature[] = "TRUEVISION-XFILE.";
    if (size < 18 + 26 || std::memcmp(data + size - 18, kSignature, 18) != 0)
        return;
    const uint32_t ext = Le32(data + size - 26);
    if (ext < 18 || ext > size - 26 || size - 26 - ext < 495 || Le16(data + ext) < 495)
        return;
    const uint8_t type = data[ext + 494];
    if (type <= 2)
        h.alphaBits = 0;
    else if (type == 4)
        h.premultiplied = true;
}

const char* ReadHeader(const uint8_t* data, size_t size, TgaHeader& h)
{
    if (size < 18)
        return kShort;
    const uint8_t idLength = data[0];
    const uint8_t mapType = data[1];
    const uint8_t type = data[2];
    h.mapFirst = Le16(data + 3);
    h.mapLength = Le16(data + 5);
    h.mapEntryBits = data[7];
    h.width = Le16(data + 12);
    h.height = Le16(data + 14);
    h.depth = data[16];
    const uint8_t descriptor = data[17];
    h.alphaBits = descriptor & 0x0F;
    h.rightToLeft = (descriptor & 0x10) != 0;
    h.topOrigin = (descriptor & 0x20) != 0;

    if (mapType > 1)
        return kBad;
    switch (type) {
    case 1: case 2: case 3: h.kind = static_cast<Kind>(type); break;
    case 9: case 10: case 11: h.kind = static_cast<Kind>(type - 8); h.rle = true; break;
    case 0: return kBad;  // no picture in the file
    default: return kUnsupported;
    }
    if (h.width == 0 || h.height == 0)
        return kBad;
    switch (h.kind) {
    case kMapped:
        if (mapType != 1 || h.mapLength == 0 || (h.depth != 8 && h.depth != 16))
            return kBad;
        break;
    case kTrue:
        if (h.depth != 15 && h.depth != 16 && h.depth != 24 && h.depth != 32)
            return kBad;
        break;
    case kGrey:
        if (h.depth != 8 && h.depth != 16)  // 16: grey and alpha
            return kBad;
        break;
    }
    h.mapStart = 18u + idLength;
    size_t mapBytes = 0;
    if (mapType == 1) {
        if (h.mapEntryBits != 15 && h.mapEntryBits != 16 && h.mapEntryBits != 24 && h.mapEntryBits != 32)
            return kBad;
        mapBytes = static_cast<size_t>(h.mapLength) * ((h.mapEntryBits + 7) / 8);
    }
    if (h.mapStart + mapBytes > size)
        return kShort;
    h.pixelStart = h.mapStart + mapBytes;
    ReadAttributeType(data, size, h);
    return nullptr;
}

// v * 255 / 31 truncated: how TGA readers commonly widen 5-bit values.
inline uint8_t Scale5(unsigned v) { return static_cast<uint8_t>(v * 255 / 31); }

// A 15/16-bit pixel (A1 R5 G5 B5, little-endian) as B, G, R; the attribute
// bit counts as alpha only when the header declares one alpha bit.
inline void From16(const uint8_t* s, uint8_t* d, bool alpha)
{
    const unsigned v = Le16(s);
    if (alpha && !(v & 0x8000)) {
        d[0] = d[1] = d[2] = 255;
        return;
    }
    d[0] = Scale5(v & 31);
    d[1] = Scale5((v >> 5) & 31);
    d[2] = Scale5((v >> 10) & 31);
}

// Writes converted pixels into the rows in file order and turns the file's
// origin into the stored bottom-up order.
class RowSink {
public:
    RowSink(DibBuilder& dib, const TgaHeader& h, int outBytes)
        : dib_(dib), h_(h), outBytes_(outBytes), width_(h.width), height_(h.height)
    {
        StartRow();
    }
    bool Done() const { return row_ >= height_; }
    // Room left in the current row, in pixels.
    int64_t Room() const { return width_ - x_; }
    uint8_t* At() const { return dst_ + x_ * outBytes_; }
    void Advance(int64_t n)
    {
        x_ += n;
        if (x_ == width_) {
            if (h_.rightToLeft)
                Mirror();
            ++row_;
            x_ = 0;
            if (!Done())
                StartRow();
        }
    }

private:
    void StartRow()
    {
        const auto r = static_cast<int32_t>(row_);
        dst_ = h_.topOrigin ? dib_.TopRow(r) : dib_.StoredRow(r);
    }
    void Mirror()
    {
        const int64_t n = outBytes_;
        for (int64_t a = 0, b = width_ - 1; a < b; ++a, --b)
            std::swap_ranges(dst_ + a * n, dst_ + a * n + n, dst_ + b * n);
    }

    DibBuilder& dib_;
    const TgaHeader& h_;
    const int64_t outBytes_;
    const int64_t width_;
    const int64_t height_;
    int64_t row_ = 0;
    int64_t x_ = 0;
    uint8_t* dst_ = nullptr;
};

// Reads the pixel data (raw or packets) and converts each pixel with `conv`,
// which turns InBytes of input into OutBytes of output. Packets that reach
// past the last row are cut there.
template <int InBytes, int OutBytes, typename Conv>
const char* ReadPixels(const uint8_t* data, size_t size, const TgaHeader& h, RowSink& sink, Conv conv)
{
    const uint8_t* p = data + h.pixelStart;
    const uint8_t* const end = data + size;
    if (!h.rle) {
        const uint64_t needed = static_cast<uint64_t>(h.width) * static_cast<uint64_t>(h.height) * InBytes;
        if (needed > static_cast<uint64_t>(end - p))
            return kShort;
        while (!sink.Done()) {
            const int64_t n = sink.Room();
            uint8_t* d = sink.At();
            for (int64_t i = 0; i < n; ++i, p += InBytes, d += OutBytes)
                conv(p, d);
            sink.Advance(n);
        }
        return nullptr;
    }
    while (!sink.Done()) {
        if (p == end)
            return kShort;
        const unsigned packet = *p++;
        int64_t count = (packet & 0x7F) + 1;
        if (packet & 0x80) {
            if (end - p < InBytes)
                return kShort;
            uint8_t pixel[OutBytes];
            conv(p, pixel);
            p += InBytes;
            while (count > 0 && !sink.Done()) {
                const int64_t n = std::min(count, sink.Room());
                uint8_t* d = sink.At();
                if constexpr (OutBytes == 1) {
                    std::memset(d, pixel[0], static_cast<size_t>(n));
                } else {
                    for (int64_t i = 0; i < n; ++i, d += OutBytes)
                        std::memcpy(d, pixel, OutBytes);
                }
                sink.Advance(n);
                count -= n;
            }
        } else {
            if (end - p < count * InBytes)
                return kShort;
            while (count > 0 && !sink.Done()) {
                const int64_t n = std::min(count, sink.Room());
                uint8_t* d = sink.At();
                for (int64_t i = 0; i < n; ++i, p += InBytes, d += OutBytes)
                    conv(p, d);
                sink.Advance(n);
                count -= n;
            }
        }
    }
    return nullptr;
}

// Colour-map entry as B, G, R (alpha flattened when the picture has alpha).
void MapEntry(const uint8_t* e, int bits, bool alpha, uint8_t* bgr)
{
    if (bits == 15 || bits == 16) {
        From16(e, bgr, alpha && bits == 16);
    } else if (bits == 24 || !alpha) {
        bgr[0] = e[0]; bgr[1] = e[1]; bgr[2] = e[2];
    } else {
        bgr[0] = OverWhite(e[0], e[3]);
        bgr[1] = OverWhite(e[1], e[3]);
        bgr[2] = OverWhite(e[2], e[3]);
    }
}

const char* DecodeMapped(const uint8_t* data, size_t size, const TgaHeader& h, DibBuilder& dib)
{
    const int entryBytes = (h.mapEntryBits + 7) / 8;
    const bool alpha = h.alphaBits > 0;
    if (h.depth == 8) {
        // Indices stay indices; map entry k belongs to index mapFirst + k.
        ColourTable table;
        for (uint32_t k = 0; k < h.mapLength && h.mapFirst + k < 256; ++k) {
            uint8_t bgr[3];
            MapEntry(data + h.mapStart + static_cast<size_t>(k) * entryBytes, h.mapEntryBits, alpha, bgr);
            table.Set(static_cast<int>(h.mapFirst + k), bgr[2], bgr[1], bgr[0]);
        }
        if (const char* e = dib.Create(h.width, h.height, 8, &table))
            return e;
        RowSink sink(dib, h, 1);
        return ReadPixels<1, 1>(data, size, h, sink, [](const uint8_t* s, uint8_t* d) { *d = *s; });
    }
    // 16-bit indices: more colours than a table holds, so 24 bits out.
    std::vector<uint8_t> lut(65536 * 3, 0);
    for (uint32_t k = 0; k < h.mapLength && h.mapFirst + k < 65536; ++k)
        MapEntry(data + h.mapStart + static_cast<size_t>(k) * entryBytes, h.mapEntryBits, alpha,
                 &lut[(h.mapFirst + k) * 3]);
    if (const char* e = dib.Create(h.width, h.height, 24, nullptr))
        return e;
    RowSink sink(dib, h, 3);
    const uint8_t* table = lut.data();
    return ReadPixels<2, 3>(data, size, h, sink,
                            [table](const uint8_t* s, uint8_t* d) { std::memcpy(d, table + Le16(s) * 3u, 3); });
}

const char* DecodeTrue(const uint8_t* data, size_t size, const TgaHeader& h, DibBuilder& dib)
{
    if (const char* e = dib.Create(h.width, h.height, 24, nullptr))
        return e;
    RowSink sink(dib, h, 3);
    switch (h.depth) {
    case 15:
    case 16: {
        const bool alpha = h.depth == 16 && h.alphaBits == 1;
        return ReadPixels<2, 3>(data, size, h, sink, [alpha](const uint8_t* s, uint8_t* d) { From16(s, d, alpha); });
    }
    case 24:
        return ReadPixels<3, 3>(data, size, h, sink, [](const uint8_t* s, uint8_t* d) {
            d[0] = s[0]; d[1] = s[1]; d[2] = s[2];
        });
    default:
        if (h.alphaBits == 0)
            return ReadPixels<4, 3>(data, size, h, sink, [](const uint8_t* s, uint8_t* d) {
                d[0] = s[0]; d[1] = s[1]; d[2] = s[2];
            });
        if (h.premultiplied)
            return ReadPixels<4, 3>(data, size, h, sink, [](const uint8_t* s, uint8_t* d) {
                const unsigned white = 255u - s[3];
                for (int i = 0; i < 3; ++i)
                    d[i] = static_cast<uint8_t>(std::min(255u, s[i] + white));
            });
        return ReadPixels<4, 3>(data, size, h, sink, [](const uint8_t* s, uint8_t* d) {
            const uint8_t a = s[3];
            if (a == 255) {
                d[0] = s[0]; d[1] = s[1]; d[2] = s[2];
            } else {
                d[0] = OverWhite(s[0], a); d[1] = OverWhite(s[1], a); d[2] = OverWhite(s[2], a);
            }
        });
    }
}

const char* DecodeGrey(const uint8_t* data, size_t size, const TgaHeader& h, DibBuilder& dib)
{
    ColourTable table;
    table.Grey(256);
    if (const char* e = dib.Create(h.width, h.height, 8, &table))
        return e;
    RowSink sink(dib, h, 1);
    if (h.depth == 8)
        return ReadPixels<1, 1>(data, size, h, sink, [](const uint8_t* s, uint8_t* d) { *d = *s; });
    // Grey with alpha flattened onto white is still grey: 8 bits as well.
    if (h.alphaBits == 0)
        return ReadPixels<2, 1>(data, size, h, sink, [](const uint8_t* s, uint8_t* d) { *d = s[0]; });
    return ReadPixels<2, 1>(data, size, h, sink, [](const uint8_t* s, uint8_t* d) { *d = OverWhite(s[0], s[1]); });
}

// A packet byte brings at most 128 pixels, so a body too small to hold the
// picture even at the best compression is refused before anything is allocated.
const char* CheckBodySize(size_t size, const TgaHeader& h)
{
    const uint64_t pixels = static_cast<uint64_t>(h.width) * static_cast<uint64_t>(h.height);
    const uint64_t inBytes = static_cast<uint64_t>(h.depth + 7) / 8;
    const uint64_t least = h.rle ? (pixels + 127) / 128 * (1 + inBytes) : pixels * inBytes;
    return least > size - h.pixelStart ? kShort : nullptr;
}

}  // namespace

void DecodeTga(const uint8_t* data, size_t size, DibHandle& out)
{
    Run(out, [&](DibBuilder& dib) -> const char* {
        if (!data)
            return kShort;
        TgaHeader h;
        if (const char* e = ReadHeader(data, size, h))
            return e;
        const bool eightBits = h.kind == kGrey || (h.kind == kMapped && h.depth == 8);
        if (const char* e = CheckPictureSize(h.width, h.height, eightBits ? 8 : 24))
            return e;
        if (const char* e = CheckBodySize(size, h))
            return e;
        switch (h.kind) {
        case kMapped: return DecodeMapped(data, size, h, dib);
        case kGrey: return DecodeGrey(data, size, h, dib);
        default: return DecodeTrue(data, size, h, dib);
        }
    });
}

}  // namespace raster
