#include "raster/ExifOrientation.h"

#include <cstring>

namespace raster {

namespace {

struct TiffReader {
    const uint8_t* data;
    size_t size;
    bool bigEndian;

    // False when [at, at + n) is not wholly inside the block.
    bool Has(size_t at, size_t n) const { return at <= size && n <= size - at; }
    uint16_t U16(size_t at) const
    {
        const uint8_t* p = data + at;
        return bigEndian ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
    }
    uint32_t U32(size_t at) const
    {
        const uint8_t* p = data + at;
        return bigEndian ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
                         : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    }
};

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;

}  // namespace

int ExifBlockOrientation(const uint8_t* block, size_t size)
{
    if (!block || size < 6 + 8 || std::memcmp(block, "Exif\0\0", 6) != 0)
        return eoNormal;
    TiffReader t{block + 6, size - 6, false};
    if (std::memcmp(t.data, "MM", 2) == 0)
        t.bigEndian = true;
    else if (std::memcmp(t.data, "II", 2) != 0)
        return eoNormal;
    if (t.U16(2) != 42)
        return eoNormal;
    // Only the first directory: the orientation of the main picture lives there.
    const size_t ifd = t.U32(4);
    if (!t.Has(ifd, 2))
        return eoNormal;
    const size_t count = t.U16(ifd);
    for (size_t i = 0; i < count; ++i) {
        const size_t entry = ifd + 2 + 12 * i;
        if (!t.Has(entry, 12))
            break;
        if (t.U16(entry) != kOrientationTag)
            continue;
        const uint16_t type = t.U16(entry + 2);
        if (t.U32(entry + 4) < 1)
            return eoNormal;
        uint32_t v = 0;
        if (type == kTypeShort)
            v = t.U16(entry + 8);
        else if (type == kTypeLong)
            v = t.U32(entry + 8);
        return v >= eoNormal && v <= eoRotate270 ? int(v) : eoNormal;
    }
    return eoNormal;
}

int JpegExifOrientation(const uint8_t* data, size_t size)
{
    if (!data || size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return eoNormal;
    size_t pos = 2;
    // Every round moves on by at least two bytes, so the walk ends within the file.
    while (pos + 4 <= size) {
        if (data[pos] != 0xFF)
            return eoNormal;
        const uint8_t marker = data[pos + 1];
        if (marker == 0xFF) {   // fill byte before a marker
            ++pos;
            continue;
        }
        pos += 2;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))   // markers without a length
            continue;
        if (marker == 0xDA || marker == 0xD9)   // picture data or the end: no Exif before it
            return eoNormal;
        const size_t length = size_t(data[pos]) << 8 | data[pos + 1];
        if (length < 2 || length > size - pos)
            return eoNormal;
        if (marker == 0xE1 && length - 2 >= 6 && std::memcmp(data + pos + 2, "Exif\0\0", 6) == 0)
            return ExifBlockOrientation(data + pos + 2, length - 2);
        pos += length;
    }
    return eoNormal;
}

}  // namespace raster
