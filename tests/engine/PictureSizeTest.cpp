#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/PictureSize.h"

using namespace std::string_literals;

namespace {

using TBytes = std::vector<std::uint8_t>;

TBytes Bytes(std::initializer_list<int> list)
{
    TBytes out;
    for (int b : list)
        out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

void Append(TBytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }
void Be32(TBytes& out, std::uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> s));
}

// A box of the ISO media file format around its payload.
TBytes Box(const std::string& type, const TBytes& payload)
{
    TBytes out;
    Be32(out, static_cast<std::uint32_t>(payload.size() + 8));
    Append(out, type);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

TBytes Cat(std::initializer_list<TBytes> parts)
{
    TBytes out;
    for (const TBytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

TBytes Ispe(std::uint32_t w, std::uint32_t h)
{
    TBytes p = Bytes({0, 0, 0, 0});
    Be32(p, w);
    Be32(p, h);
    return Box("ispe", p);
}

struct TCase {
    const char* Name;
    TBytes Data;        // exactly the bytes the size needs
    std::uint32_t Width, Height;
};

std::vector<TCase> Cases()
{
    std::vector<TCase> cases;
    // JPEG: SOI, an APP0 segment of 16 bytes, SOF0 with precision 8, height 90, width 120.
    TBytes jpeg = Bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10});
    jpeg.resize(jpeg.size() + 14, 0);
    const TBytes sof = Bytes({0xFF, 0xFF, 0xC2, 0x00, 0x11, 0x08, 0x00, 0x5A, 0x00, 0x78});
    jpeg.insert(jpeg.end(), sof.begin(), sof.end());
    cases.push_back({"jpeg", jpeg, 120, 90});
    // PNG: signature, IHDR length and type, width 640, height 480.
    TBytes png = Bytes({0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R'});
    Be32(png, 640);
    Be32(png, 480);
    cases.push_back({"png", png, 640, 480});
    // GIF: logical screen 300 x 2 (little-endian).
    cases.push_back({"gif", Bytes({'G', 'I', 'F', '8', '9', 'a', 0x2C, 0x01, 0x02, 0x00}), 300, 2});
    // WebP lossy: RIFF, VP8 chunk, frame tag, start code, 14-bit sizes 500 x 400 (scale bits set).
    TBytes vp8;
    Append(vp8, "RIFF\x40\0\0\0WEBPVP8 "s);
    const TBytes vp8Rest = Bytes({0x20, 0, 0, 0, 0x10, 0x02, 0x00, 0x9D, 0x01, 0x2A, 0xF4, 0x41, 0x90, 0x81});
    vp8.insert(vp8.end(), vp8Rest.begin(), vp8Rest.end());
    cases.push_back({"webp-vp8", vp8, 500, 400});
    // WebP lossless: signature 0x2F, then (w - 1) = 99 and (h - 1) = 49 in 14 bits each.
    TBytes vp8l;
    Append(vp8l, "RIFF\x40\0\0\0WEBPVP8L"s);
    const std::uint32_t bits = 99u | (49u << 14);
    const TBytes vp8lRest = Bytes({0x20, 0, 0, 0, 0x2F, int(bits & 0xFF), int((bits >> 8) & 0xFF),
                                   int((bits >> 16) & 0xFF), int(bits >> 24)});
    vp8l.insert(vp8l.end(), vp8lRest.begin(), vp8lRest.end());
    cases.push_back({"webp-vp8l", vp8l, 100, 50});
    // WebP extended: flags, then canvas (w - 1) = 1999 and (h - 1) = 999 in 24 bits.
    TBytes vp8x;
    Append(vp8x, "RIFF\x40\0\0\0WEBPVP8X"s);
    const TBytes vp8xRest = Bytes({10, 0, 0, 0, 0x10, 0, 0, 0, 0xCF, 0x07, 0x00, 0xE7, 0x03, 0x00});
    vp8x.insert(vp8x.end(), vp8xRest.begin(), vp8xRest.end());
    cases.push_back({"webp-vp8x", vp8x, 2000, 1000});
    // AVIF: ftyp (major brand mif1, compatible avif), meta with hdlr, iprp/ipco with
    // a small alpha-sized ispe before the picture's own.
    TBytes ftypPayload;
    Append(ftypPayload, "mif1");
    Be32(ftypPayload, 0);
    Append(ftypPayload, "mif1avif");
    TBytes hdlr = Bytes({0, 0, 0, 0, 0, 0, 0, 0});
    Append(hdlr, "pict");
    hdlr.resize(hdlr.size() + 13, 0);
    const TBytes meta = Box("meta", Cat({Bytes({0, 0, 0, 0}), Box("hdlr", hdlr),
                                         Box("iprp", Box("ipco", Cat({Ispe(64, 48), Ispe(1920, 1080)})))}));
    cases.push_back({"avif", Cat({Box("ftyp", ftypPayload), meta}), 1920, 1080});
    // BMP: file header, BITMAPINFOHEADER with width 32 and height -16 (top-down).
    cases.push_back({"bmp", Bytes({'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0,
                                   32, 0, 0, 0, 0xF0, 0xFF, 0xFF, 0xFF}), 32, 16});
    cases.push_back({"bmp-core", Bytes({'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 26, 0, 0, 0, 12, 0, 0, 0,
                                        7, 0, 5, 0}), 7, 5});
    // TIFF little-endian: IFD at 8 with NewSubfileType, width (SHORT) 1000 and length (LONG) 700.
    cases.push_back({"tiff-ii", Bytes({'I', 'I', 42, 0, 8, 0, 0, 0, 3, 0,
                                       0xFE, 0, 4, 0, 1, 0, 0, 0, 0, 0, 0, 0,
                                       0, 1, 3, 0, 1, 0, 0, 0, 0xE8, 0x03, 0, 0,
                                       1, 1, 4, 0, 1, 0, 0, 0, 0xBC, 0x02, 0, 0}), 1000, 700});
    // TIFF big-endian with the directory after some data; only width and length.
    cases.push_back({"tiff-mm", Bytes({'M', 'M', 0, 42, 0, 0, 0, 12, 0xAA, 0xBB, 0xCC, 0xDD, 0, 2,
                                       1, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0x10, 0,
                                       1, 1, 0, 3, 0, 0, 0, 1, 0, 9, 0, 0}), 4096, 9});
    return cases;
}

TEST(PictureSize, EveryTypeAtItsMinimumBytesAndCutShort)
{
    for (const TCase& c : Cases()) {
        SCOPED_TRACE(c.Name);
        const TPictureSize whole = PictureSize(c.Data.data(), c.Data.size());
        EXPECT_EQ(whole.Status, TSizeStatus::Size);
        EXPECT_EQ(whole.Width, c.Width);
        EXPECT_EQ(whole.Height, c.Height);
        // Every shorter prefix, down to nothing, asks for more and never guesses.
        for (std::size_t n = 0; n < c.Data.size(); ++n)
            EXPECT_EQ(PictureSize(c.Data.data(), n).Status, TSizeStatus::NeedMore) << "prefix " << n;
        // Further bytes change nothing.
        TBytes longer = c.Data;
        longer.resize(longer.size() + 100, 0x55);
        EXPECT_EQ(PictureSize(longer.data(), longer.size()).Width, c.Width);
    }
}

TEST(PictureSize, HostileAndForeignInputIsNotThisType)
{
    const auto status = [](const TBytes& b) { return PictureSize(b.data(), b.size()).Status; };
    EXPECT_EQ(status(Bytes({'<', 'h', 't', 'm', 'l'})), TSizeStatus::NotThisType);
    EXPECT_EQ(status(Bytes({'G', 'I', 'F', '8', '8'})), TSizeStatus::NotThisType);
    // Zero sizes.
    EXPECT_EQ(status(Bytes({'G', 'I', 'F', '8', '9', 'a', 0, 0, 5, 0})), TSizeStatus::NotThisType);
    // JPEG: scan data before any frame header, a segment length below 2, a missing marker byte.
    EXPECT_EQ(status(Bytes({0xFF, 0xD8, 0xFF, 0xDA, 0, 2})), TSizeStatus::NotThisType);
    EXPECT_EQ(status(Bytes({0xFF, 0xD8, 0xFF, 0xE0, 0, 1, 0, 0})), TSizeStatus::NotThisType);
    EXPECT_EQ(status(Bytes({0xFF, 0xD8, 0xFF, 0xE0, 0, 2, 0x12, 0x34})), TSizeStatus::NotThisType);
    // BMP: unknown header size, INT32_MIN height, negative width.
    EXPECT_EQ(status(Bytes({'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 200, 0, 0, 0})), TSizeStatus::NotThisType);
    EXPECT_EQ(status(Bytes({'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0x80})),
              TSizeStatus::NotThisType);
    EXPECT_EQ(status(Bytes({'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0})),
              TSizeStatus::NotThisType);
    // TIFF: directory inside the header, width of type ASCII.
    EXPECT_EQ(status(Bytes({'I', 'I', 42, 0, 4, 0, 0, 0})), TSizeStatus::NotThisType);
    EXPECT_EQ(status(Bytes({'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0, 1, 2, 0, 1, 0, 0, 0, 'x', 0, 0, 0})),
              TSizeStatus::NotThisType);
    // A TIFF directory far away waits for its bytes (the caller's limit ends that).
    EXPECT_EQ(status(Bytes({'M', 'M', 0, 42, 0x10, 0, 0, 0, 0})), TSizeStatus::NeedMore);

    // AVIF: a box larger than its parent, a box of size below its header, a
    // 64-bit size at the top that never ends, an ftyp without the avif brand.
    TBytes ftyp;
    Append(ftyp, "avif");
    Be32(ftyp, 0);
    const TBytes head = Box("ftyp", ftyp);
    TBytes liar = Box("ipco", Ispe(10, 10));
    liar[3] = 0x7F;  // the ipco claims more than iprp holds
    EXPECT_EQ(status(Cat({head, Box("meta", Cat({Bytes({0, 0, 0, 0}), Box("iprp", liar)}))})), TSizeStatus::NotThisType);
    EXPECT_EQ(status(Cat({head, Bytes({0, 0, 0, 4, 'f', 'r', 'e', 'e'})})), TSizeStatus::NotThisType);
    EXPECT_EQ(status(Cat({head, Bytes({0, 0, 0, 1, 'm', 'd', 'a', 't', 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0})})),
              TSizeStatus::NeedMore);
    TBytes heic;
    Append(heic, "heic");
    Be32(heic, 0);
    EXPECT_EQ(status(Box("ftyp", heic)), TSizeStatus::NotThisType);
    // A meta box too large to be a header waits no longer.
    TBytes hugeMeta = head;
    Be32(hugeMeta, 0x7FFFFFF0);
    Append(hugeMeta, "meta");
    EXPECT_EQ(status(hugeMeta), TSizeStatus::NotThisType);
}

}  // namespace
