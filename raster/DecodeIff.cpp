// Our IFF decoder: FORM ILBM (planar, 1 to 8 planes, EHB, HAM6/HAM8, 24 and
// 32 planes) and FORM PBM (chunky 8 bits), raw or ByteRun1.
#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "raster/Decoders.h"
#include "raster/OwnDecodeUtil.h"

namespace raster {
namespace {

using namespace own;

static_assert(std::endian::native == std::endian::little, "the plane spreading stores pixel k in byte k");

constexpr const char* kBad = "Ungültige IFF-Datei";
constexpr const char* kShort = "IFF-Datei unvollständig";
constexpr const char* kUnsupported = "IFF-Format nicht unterstützt";

constexpr uint32_t Id(const char (&s)[5])
{
    return (static_cast<uint32_t>(static_cast<uint8_t>(s[0])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 8) | static_cast<uint8_t>(s[3]);
}

constexpr uint32_t kCamgEhb = 0x80;
constexpr uint32_t kCamgHam = 0x800;

struct IffPicture {
    bool chunky = false;  // FORM PBM
    int64_t width = 0;
    int64_t height = 0;
    int planes = 0;
    int masking = 0;
    int compression = 0;
    bool haveHeader = false;
    uint32_t camg = 0;
    bool haveCamg = false;
    const uint8_t* cmap = nullptr;
    size_t cmapEntries = 0;
    const uint8_t* body = nullptr;
    size_t bodySize = 0;
};

// Walks the chunks of the FORM and checks the bitmap header; every later
// step relies on what is accepted here.
const char* ReadForm(const uint8_t* data, size_t size, IffPicture& pic)
{
    if (size < 12)
        return kShort;
    if (Be32(data) != Id("FORM"))
        return kBad;
    const uint32_t type = Be32(data + 8);
    if (type == Id("PBM "))
        pic.chunky = true;
    else if (type != Id("ILBM"))
        return kUnsupported;
    // A FORM size larger than the file is a cut file; smaller ends the walk early.
    const size_t formEnd = std::min<uint64_t>(size, uint64_t{Be32(data + 4)} + 8);
    size_t pos = 12;
    while (pos + 8 <= formEnd) {
        const uint32_t id = Be32(data + pos);
        const uint32_t length = Be32(data + pos + 4);
        const uint8_t* chunk = data + pos + 8;
        const size_t available = formEnd - pos - 8;
        if (id == Id("BMHD")) {
            if (length < 20 || available < 20)
                return kShort;
            pic.width = Be16(chunk);
            pic.height = Be16(chunk + 2);
            pic.planes = chunk[8];
            pic.masking = chunk[9];
            pic.compression = chunk[10];
            pic.haveHeader = true;
        } else if (id == Id("CMAP")) {
            const size_t n = std::min<size_t>(length, available) / 3;
            pic.cmap = chunk;
            pic.cmapEntries = std::min<size_t>(n, 256);
        } else if (id == Id("CAMG")) {
            if (length >= 4 && available >= 4) {
                pic.camg = Be32(chunk);
                pic.haveCamg = true;
            }
        } else if (id == Id("BODY")) {
            pic.body = chunk;
            pic.bodySize = std::min<size_t>(length, available);
            break;
        }
        if (length > available)
            break;
        pos += 8 + size_t{length} + (length & 1);
    }
    if (!pic.haveHeader)
        return uint64_t{Be32(data + 4)} + 8 > size ? kShort : kBad;
    if (pic.width == 0 || pic.height == 0)
        return kBad;
    if (pic.masking > 3 || pic.compression > 1)
        return kUnsupported;
    if (pic.chunky) {
        if (pic.planes != 8)
            return kUnsupported;
    } else if (!((pic.planes >= 1 && pic.planes <= 8) || pic.planes == 24 || pic.planes == 32)) {
        return kUnsupported;
    }
    if ((pic.camg & kCamgHam) && !pic.chunky && pic.planes != 6 && pic.planes != 8)
        return kUnsupported;
    if (!pic.body)
        return kShort;
    return nullptr;
}

// ByteRun1: n in 0..127 copies n + 1 bytes, n in -127..-1 repeats the next
// byte 1 - n times, -128 does nothing. Runs are cut at the end of the row.
class ByteRun1 {
public:
    ByteRun1(const uint8_t* p, size_t size, bool packed) : p_(p), end_(p + size), packed_(packed) {}

    bool Row(uint8_t* row, size_t n)
    {
        if (!packed_) {
            if (static_cast<size_t>(end_ - p_) < n)
                return false;
            std::memcpy(row, p_, n);
            p_ += n;
            return true;
        }
        size_t i = 0;
        while (i < n) {
            if (p_ == end_)
                return false;
            const auto c = static_cast<int8_t>(*p_++);
            if (c >= 0) {
                const size_t count = static_cast<size_t>(c) + 1;
                if (static_cast<size_t>(end_ - p_) < count)
                    return false;
                const size_t k = std::min(count, n - i);
                std::memcpy(row + i, p_, k);
                p_ += count;
                i += k;
            } else if (c != -128) {
                if (p_ == end_)
                    return false;
                const size_t k = std::min(static_cast<size_t>(1 - c), n - i);
                std::memset(row + i, *p_++, k);
                i += k;
            }
        }
        return true;
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
    bool packed_;
};

// Indices of 8 pixels from up to 8 planes: plane p supplies bit p.
inline uint64_t Gather(const uint8_t* row, size_t planeBytes, size_t byte, int first, int count)
{
    uint64_t v = 0;
    for (int p = 0; p < count; ++p)
        v |= kBitSpread.table[row[static_cast<size_t>(first + p) * planeBytes + byte]] << p;
    return v;
}

void BuildTable(const IffPicture& pic, int colours, ColourTable& table)
{
    if (!pic.cmap) {
        table.Grey(colours);
        return;
    }
    for (size_t i = 0; i < pic.cmapEntries && i < static_cast<size_t>(colours); ++i)
        table.Set(static_cast<int>(i), pic.cmap[3 * i], pic.cmap[3 * i + 1], pic.cmap[3 * i + 2]);
    // Extra half-bright: the upper 32 colours are the lower 32 at half
    // brightness. Files without a CAMG chunk say so by 6 planes and 32 colours.
    const bool ehb = (pic.camg & kCamgEhb) || (!pic.haveCamg && pic.cmapEntries == 32);
    if (ehb && pic.planes == 6 && !(pic.camg & kCamgHam)) {
        for (int i = 0; i < 32; ++i) {
            const RGBQUAD c = table.info.bmiColors[i];
            table.Set(32 + i, c.rgbRed >> 1, c.rgbGreen >> 1, c.rgbBlue >> 1);
        }
    }
}

const char* DecodeBody(const IffPicture& pic, DibBuilder& dib)
{
    const auto width = static_cast<size_t>(pic.width);
    const auto rows = static_cast<int32_t>(pic.height);
    const bool ham = (pic.camg & kCamgHam) && !pic.chunky;
    const int planes = pic.planes;
    int outBits;
    if (ham || planes == 24 || planes == 32)
        outBits = 24;
    else if (planes == 1)
        outBits = 1;
    else if (planes <= 4)
        outBits = 4;
    else
        outBits = 8;

    // ILBM rows hold each plane padded to 16 bits, then the mask plane;
    // PBM rows hold one byte per pixel, padded to 16 bits.
    const size_t planeBytes = pic.chunky ? ((width + 1) & ~size_t{1}) : ((width + 15) / 16) * 2;
    const size_t storedPlanes = pic.chunky ? 1 : static_cast<size_t>(planes) + (pic.masking == 1 ? 1 : 0);
    if (const char* e = CheckPictureSize(pic.width, pic.height, outBits))
        return e;
    // Two bytes of ByteRun1 bring at most 128 bytes: a body too small even at
    // the best compression is refused before anything is allocated.
    const uint64_t total = uint64_t{planeBytes} * storedPlanes * static_cast<uint64_t>(rows);
    if ((pic.compression == 1 ? (total + 127) / 128 * 2 : total) > pic.bodySize)
        return kShort;

    ColourTable table;
    BuildTable(pic, ham ? 256 : (outBits <= 8 ? 1 << planes : 0), table);
    if (const char* e = dib.Create(pic.width, pic.height, outBits, outBits <= 8 ? &table : nullptr))
        return e;

    std::vector<uint8_t> line(planeBytes * storedPlanes + 8);
    ByteRun1 reader(pic.body, pic.bodySize, pic.compression == 1);
    const auto rowBytes = static_cast<size_t>(dib.RowBytes());
    const RGBQUAD* colours = table.info.bmiColors;

    for (int32_t y = 0; y < rows; ++y) {
        if (!reader.Row(line.data(), planeBytes * storedPlanes))
            return kShort;
        const uint8_t* src = line.data();
        uint8_t* dst = dib.TopRow(y);
        if (pic.chunky) {
            std::memcpy(dst, src, width);
            continue;
        }
        if (outBits == 1) {
            std::memcpy(dst, src, std::min(planeBytes, rowBytes));
            continue;
        }
        if (outBits == 8 || outBits == 4) {
            for (size_t x = 0; x < width; x += 8) {
                const uint64_t v = Gather(src, planeBytes, x >> 3, 0, planes);
                const size_t n = std::min<size_t>(8, width - x);
                if (outBits == 8) {
                    if (x + 8 <= rowBytes)
                        std::memcpy(dst + x, &v, 8);
                    else
                        std::memcpy(dst + x, &v, n);
                } else {
                    uint8_t index[8];
                    std::memcpy(index, &v, 8);
                    for (size_t k = 0; k < n; k += 2)
                        dst[(x + k) >> 1] = static_cast<uint8_t>(index[k] << 4 | (k + 1 < n ? index[k + 1] : 0));
                }
            }
            continue;
        }
        if (ham) {
            // Each pixel either takes a colour from the colour table or changes one
            // component of the pixel to its left; a row starts from colour 0.
            const int dataBits = planes - 2;
            const unsigned dataMask = (1u << dataBits) - 1;
            uint8_t r = colours[0].rgbRed, g = colours[0].rgbGreen, b = colours[0].rgbBlue;
            uint8_t* d = dst;
            for (size_t x = 0; x < width; x += 8) {
                const uint64_t v = Gather(src, planeBytes, x >> 3, 0, planes);
                const size_t n = std::min<size_t>(8, width - x);
                for (size_t k = 0; k < n; ++k, d += 3) {
                    const unsigned px = static_cast<unsigned>(v >> (8 * k)) & 0xFF;
                    const unsigned value = px & dataMask;
                    // 4 data bits repeat into 8; 6 data bits take their top 2 again.
                    const auto level = static_cast<uint8_t>(dataBits == 4 ? value * 17 : (value << 2) | (value >> 4));
                    switch (px >> dataBits) {
                    case 0:
                        r = colours[value].rgbRed;
                        g = colours[value].rgbGreen;
                        b = colours[value].rgbBlue;
                        break;
                    case 1: b = level; break;
                    case 2: r = level; break;
                    default: g = level; break;
                    }
                    d[0] = b;
                    d[1] = g;
                    d[2] = r;
                }
            }
            continue;
        }
        // 24 or 32 planes: red, green, blue (and alpha), 8 planes each.
        uint8_t* d = dst;
        for (size_t x = 0; x < width; x += 8) {
            const size_t byte = x >> 3;
            const uint64_t rv = Gather(src, planeBytes, byte, 0, 8);
            const uint64_t gv = Gather(src, planeBytes, byte, 8, 8);
            const uint64_t bv = Gather(src, planeBytes, byte, 16, 8);
            const uint64_t av = planes == 32 ? Gather(src, planeBytes, byte, 24, 8) : ~uint64_t{0};
            const size_t n = std::min<size_t>(8, width - x);
            for (size_t k = 0; k < n; ++k, d += 3) {
                const auto a = static_cast<uint8_t>(av >> (8 * k));
                d[0] = OverWhite(static_cast<uint8_t>(bv >> (8 * k)), a);
                d[1] = OverWhite(static_cast<uint8_t>(gv >> (8 * k)), a);
                d[2] = OverWhite(static_cast<uint8_t>(rv >> (8 * k)), a);
            }
        }
    }
    return nullptr;
}

}  // namespace

void DecodeIff(const uint8_t* data, size_t size, DibHandle& out)
{
    Run(out, [&](DibBuilder& dib) -> const char* {
        if (!data)
            return kShort;
        IffPicture pic;
        if (const char* e = ReadForm(data, size, pic))
            return e;
        return DecodeBody(pic, dib);
    });
}

}  // namespace raster
