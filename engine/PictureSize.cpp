#include "engine/PictureSize.h"

#include <algorithm>
#include <cstring>

namespace {

TPictureSize NeedMore() { return {TSizeStatus::NeedMore, 0, 0}; }
TPictureSize NotThisType() { return {TSizeStatus::NotThisType, 0, 0}; }

TPictureSize Sized(std::uint64_t width, std::uint64_t height)
{
    if (width == 0 || height == 0 || width > 0xFFFFFFFFu || height > 0xFFFFFFFFu)
        return NotThisType();
    return {TSizeStatus::Size, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)};
}

// Whether the bytes so far agree with the signature (as far as they go).
bool PrefixMatches(const std::uint8_t* data, std::size_t size, const char* sig, std::size_t sigLen, std::size_t at = 0)
{
    if (size <= at)
        return true;
    const std::size_t n = std::min(sigLen, size - at);
    return std::memcmp(data + at, sig, n) == 0;
}

std::uint32_t Be16(const std::uint8_t* p) { return (std::uint32_t(p[0]) << 8) | p[1]; }
std::uint32_t Le16(const std::uint8_t* p) { return (std::uint32_t(p[1]) << 8) | p[0]; }
std::uint32_t Be32(const std::uint8_t* p) { return (Be16(p) << 16) | Be16(p + 2); }
std::uint32_t Le32(const std::uint8_t* p) { return (Le16(p + 2) << 16) | Le16(p); }
std::uint32_t Le24(const std::uint8_t* p) { return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16); }

}  // namespace

TPictureSize JpegSize(const std::uint8_t* data, std::size_t size)
{
    if (!PrefixMatches(data, size, "\xFF\xD8\xFF", 3))
        return NotThisType();
    std::size_t pos = 2;
    for (;;) {
        if (pos >= size)
            return NeedMore();
        if (data[pos] != 0xFF)
            return NotThisType();
        // Fill bytes: any number of 0xFF before the marker code.
        while (pos < size && data[pos] == 0xFF)
            ++pos;
        if (pos >= size)
            return NeedMore();
        const std::uint8_t marker = data[pos++];
        if (marker == 0x00 || marker == 0xD8 || marker == 0xD9 || marker == 0xDA)
            return NotThisType();  // no frame header before the data or the end
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;  // standalone markers carry no length
        if (pos + 2 > size)
            return NeedMore();
        const std::size_t length = Be16(data + pos);
        if (length < 2)
            return NotThisType();
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (length < 7)
                return NotThisType();
            if (pos + 7 > size)
                return NeedMore();
            // Precision, then height and width; a height of 0 comes later in a
            // DNL segment, which a size from the first bytes cannot wait for.
            return Sized(Be16(data + pos + 5), Be16(data + pos + 3));
        }
        pos += length;
    }
}

TPictureSize PngSize(const std::uint8_t* data, std::size_t size)
{
    static const char kSig[] = "\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR";
    if (!PrefixMatches(data, size, kSig, 16))
        return NotThisType();
    if (size < 24)
        return NeedMore();
    const std::uint32_t w = Be32(data + 16), h = Be32(data + 20);
    if (w > 0x7FFFFFFFu || h > 0x7FFFFFFFu)
        return NotThisType();
    return Sized(w, h);
}

TPictureSize GifSize(const std::uint8_t* data, std::size_t size)
{
    if (!PrefixMatches(data, size, "GIF8", 4) || (size > 4 && data[4] != '7' && data[4] != '9') ||
        !PrefixMatches(data, size, "a", 1, 5))
        return NotThisType();
    if (size < 10)
        return NeedMore();
    return Sized(Le16(data + 6), Le16(data + 8));
}

TPictureSize WebpSize(const std::uint8_t* data, std::size_t size)
{
    if (!PrefixMatches(data, size, "RIFF", 4) || !PrefixMatches(data, size, "WEBPVP8", 7, 8))
        return NotThisType();
    if (size < 16)
        return NeedMore();
    switch (data[15]) {
    case ' ':  // lossy: a key frame's start code, then 14-bit width and height
        if (size < 30)
            return NeedMore();
        if (data[23] != 0x9D || data[24] != 0x01 || data[25] != 0x2A)
            return NotThisType();
        return Sized(Le16(data + 26) & 0x3FFF, Le16(data + 28) & 0x3FFF);
    case 'L': {  // lossless: signature byte, then width - 1 and height - 1 in 14 bits each
        if (size < 25)
            return NeedMore();
        if (data[20] != 0x2F)
            return NotThisType();
        const std::uint32_t bits = Le32(data + 21);
        return Sized((bits & 0x3FFF) + 1, ((bits >> 14) & 0x3FFF) + 1);
    }
    case 'X':  // extended: the canvas, width - 1 and height - 1 in 24 bits each
        if (size < 30)
            return NeedMore();
        return Sized(std::uint64_t(Le24(data + 24)) + 1, std::uint64_t(Le24(data + 27)) + 1);
    default:
        return NotThisType();
    }
}

namespace {

// One ISO-BMFF box inside [begin, end): its type and its payload.
struct TBox {
    char Type[4];
    std::size_t Payload = 0;  // offset of the payload
    std::size_t End = 0;      // offset after the box
};

enum class TBoxRead { Ok, NeedMore, Bad };

// The box at pos, whose parent ends at parentEnd (SIZE_MAX: open-ended file).
TBoxRead ReadBox(const std::uint8_t* data, std::size_t size, std::size_t pos, std::size_t parentEnd, TBox& box)
{
    if (pos > parentEnd || parentEnd - pos < 8)
        return TBoxRead::Bad;
    if (pos > size || size - pos < 8)
        return TBoxRead::NeedMore;
    std::uint64_t boxSize = Be32(data + pos);
    std::memcpy(box.Type, data + pos + 4, 4);
    std::size_t header = 8;
    if (boxSize == 1) {
        if (parentEnd - pos < 16)
            return TBoxRead::Bad;
        if (size - pos < 16)
            return TBoxRead::NeedMore;
        boxSize = (std::uint64_t(Be32(data + pos + 8)) << 32) | Be32(data + pos + 12);
        header = 16;
    } else if (boxSize == 0) {
        // To the end of the parent; at the top that end is unknown.
        if (parentEnd == SIZE_MAX)
            return TBoxRead::Bad;
        boxSize = parentEnd - pos;
    }
    if (boxSize < header || boxSize > parentEnd - pos)
        return TBoxRead::Bad;
    box.Payload = pos + header;
    box.End = pos + static_cast<std::size_t>(boxSize);
    return TBoxRead::Ok;
}

bool IsType(const TBox& box, const char* type) { return std::memcmp(box.Type, type, 4) == 0; }

// A box of this type directly inside [begin, end), which lies within data.
bool FindChild(const std::uint8_t* data, std::size_t begin, std::size_t end, const char* type, TBox& found)
{
    constexpr int kMaxChildren = 256;
    std::size_t pos = begin;
    for (int i = 0; i < kMaxChildren && pos < end; ++i) {
        TBox box;
        if (ReadBox(data, end, pos, end, box) != TBoxRead::Ok)
            return false;
        if (IsType(box, type)) {
            found = box;
            return true;
        }
        pos = box.End;
    }
    return false;
}

}  // namespace

TPictureSize AvifSize(const std::uint8_t* data, std::size_t size)
{
    if (!PrefixMatches(data, size, "ftyp", 4, 4))
        return NotThisType();
    TBox ftyp;
    switch (ReadBox(data, size, 0, SIZE_MAX, ftyp)) {
    case TBoxRead::NeedMore:
        return NeedMore();
    case TBoxRead::Bad:
        return NotThisType();
    case TBoxRead::Ok:
        break;
    }
    constexpr std::size_t kMaxFtyp = 4096;
    if (ftyp.End > kMaxFtyp)
        return NotThisType();
    if (ftyp.End > size)
        return NeedMore();
    // The major brand, then the compatible brands (after the minor version).
    bool avif = false;
    for (std::size_t p = ftyp.Payload; p + 4 <= ftyp.End; p += (p == ftyp.Payload ? 8 : 4))
        avif = avif || std::memcmp(data + p, "avif", 4) == 0 || std::memcmp(data + p, "avis", 4) == 0;
    if (!avif)
        return NotThisType();

    // Top-level boxes up to the metadata; a picture whose media data comes
    // first runs into the caller's byte limit and stays of unknown size.
    constexpr int kMaxTopBoxes = 64;
    constexpr std::size_t kMaxMeta = 1024 * 1024;
    std::size_t pos = ftyp.End;
    for (int i = 0; i < kMaxTopBoxes; ++i) {
        TBox box;
        switch (ReadBox(data, size, pos, SIZE_MAX, box)) {
        case TBoxRead::NeedMore:
            return NeedMore();
        case TBoxRead::Bad:
            return NotThisType();
        case TBoxRead::Ok:
            break;
        }
        if (!IsType(box, "meta")) {
            pos = box.End;
            continue;
        }
        if (box.End - box.Payload > kMaxMeta)
            return NotThisType();
        if (box.End > size)
            return NeedMore();
        // meta is a full box: version and flags before its children.
        TBox iprp, ipco;
        if (box.Payload + 4 > box.End || !FindChild(data, box.Payload + 4, box.End, "iprp", iprp) ||
            !FindChild(data, iprp.Payload, iprp.End, "ipco", ipco))
            return NotThisType();
        // The largest spatial extent: the primary picture is never smaller
        // than its thumbnails or alpha plane, so a minimum size never drops
        // a picture that is large enough.
        std::uint64_t width = 0, height = 0;
        constexpr int kMaxProperties = 256;
        std::size_t p = ipco.Payload;
        for (int k = 0; k < kMaxProperties && p < ipco.End; ++k) {
            TBox prop;
            if (ReadBox(data, ipco.End, p, ipco.End, prop) != TBoxRead::Ok)
                break;
            if (IsType(prop, "ispe") && prop.Payload + 12 <= prop.End) {
                const std::uint64_t w = Be32(data + prop.Payload + 4), h = Be32(data + prop.Payload + 8);
                if (w * h > width * height) {
                    width = w;
                    height = h;
                }
            }
            p = prop.End;
        }
        return Sized(width, height);
    }
    return NotThisType();
}

TPictureSize BmpSize(const std::uint8_t* data, std::size_t size)
{
    if (!PrefixMatches(data, size, "BM", 2))
        return NotThisType();
    if (size < 18)
        return NeedMore();
    const std::uint32_t headerSize = Le32(data + 14);
    if (headerSize == 12) {  // OS/2 core header: 16-bit width and height
        if (size < 22)
            return NeedMore();
        return Sized(Le16(data + 18), Le16(data + 20));
    }
    if (headerSize < 16 || headerSize > 124)
        return NotThisType();
    if (size < 26)
        return NeedMore();
    const std::int32_t w = static_cast<std::int32_t>(Le32(data + 18));
    const std::int32_t h = static_cast<std::int32_t>(Le32(data + 22));
    // A negative height is a top-down picture of that many rows.
    if (w <= 0 || h == INT32_MIN)
        return NotThisType();
    return Sized(static_cast<std::uint32_t>(w), h < 0 ? static_cast<std::uint32_t>(-h) : static_cast<std::uint32_t>(h));
}

TPictureSize TiffSize(const std::uint8_t* data, std::size_t size)
{
    const bool intel = PrefixMatches(data, size, "II*\0", 4);
    const bool motorola = PrefixMatches(data, size, "MM\0*", 4);
    if (!intel && !motorola)
        return NotThisType();
    if (size < 8)
        return NeedMore();
    const auto u16 = [&](std::size_t at) { return intel ? Le16(data + at) : Be16(data + at); };
    const auto u32 = [&](std::size_t at) { return intel ? Le32(data + at) : Be32(data + at); };
    const std::size_t ifd = u32(4);
    if (ifd < 8)
        return NotThisType();
    if (ifd + 2 > size)
        return NeedMore();
    const std::uint32_t count = u16(ifd);
    std::uint64_t width = 0, height = 0;
    // Entries are sorted by tag, and width (256) and length (257) come
    // early, so a directory is read only as far as them.
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t e = ifd + 2 + std::size_t(i) * 12;
        if (e + 12 > size)
            return NeedMore();
        const std::uint32_t tag = u16(e), type = u16(e + 2);
        if (tag > 257)
            break;
        if (tag != 256 && tag != 257)
            continue;
        std::uint64_t value;
        if (type == 3)
            value = u16(e + 8);
        else if (type == 4)
            value = u32(e + 8);
        else
            return NotThisType();
        (tag == 256 ? width : height) = value;
    }
    return Sized(width, height);
}

TPictureSize PictureSize(const std::uint8_t* data, std::size_t size)
{
    using TReader = TPictureSize (*)(const std::uint8_t*, std::size_t);
    static constexpr TReader kReaders[] = {JpegSize, PngSize, GifSize, WebpSize, AvifSize, BmpSize, TiffSize};
    bool more = false;
    for (TReader reader : kReaders) {
        const TPictureSize got = reader(data, size);
        if (got.Status == TSizeStatus::Size)
            return got;
        more = more || got.Status == TSizeStatus::NeedMore;
    }
    return more ? NeedMore() : NotThisType();
}
