// JPEG pictures turned upright by their Exif orientation (the reader of the
// tag against hostile bytes, the reduced decode of the thumbnails), the
// German reasons of the JPEG decoder, and the other names of JPEG and TIFF.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <jpeglib.h>

#include "raster/Decoders.h"
#include "raster/ExifOrientation.h"
#include "raster/Rasterwerk.h"

using namespace raster;

namespace {

using Bytes = std::vector<uint8_t>;

// An Exif block ("Exif\0\0" and a TIFF header) whose first directory holds
// `entries` entries; the orientation entry, if any, is the last one.
Bytes ExifBlock(bool bigEndian, int orientation, uint16_t type = 3, int otherEntries = 2)
{
    Bytes b = {'E', 'x', 'i', 'f', 0, 0};
    auto u16 = [&](uint32_t v) {
        if (bigEndian)
            b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)});
        else
            b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)});
    };
    auto u32 = [&](uint32_t v) {
        if (bigEndian)
            b.insert(b.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
        else
            b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    };
    b.insert(b.end(), bigEndian ? std::initializer_list<uint8_t>{'M', 'M'} : std::initializer_list<uint8_t>{'I', 'I'});
    u16(42);
    u32(8);   // the first directory right after the header
    u16(uint32_t(otherEntries + (orientation ? 1 : 0)));
    for (int i = 0; i < otherEntries; ++i) {   // ImageWidth, ImageLength: SHORT values
        u16(0x0100 + i);
        u16(3);
        u32(1);
        u16(640);
        u16(0);
    }
    if (orientation) {
        u16(0x0112);
        u16(type);
        u32(1);
        if (type == 4) {
            u32(uint32_t(orientation));
        } else {
            u16(uint32_t(orientation));
            u16(0);
        }
    }
    u32(0);   // no next directory
    return b;
}

// A JPEG segment: marker, big-endian length (itself included), payload.
Bytes Segment(uint8_t marker, const Bytes& payload)
{
    Bytes s = {0xFF, marker, uint8_t((payload.size() + 2) >> 8), uint8_t(payload.size() + 2)};
    s.insert(s.end(), payload.begin(), payload.end());
    return s;
}

// The reader must stay inside exactly `bytes`: a copy of exactly that size,
// so the sanitizer build sees any read past its end.
int OrientationOfFile(const Bytes& bytes)
{
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() ? bytes.size() : 1]);
    if (!bytes.empty())
        std::memcpy(exact.get(), bytes.data(), bytes.size());
    return JpegExifOrientation(exact.get(), bytes.size());
}

int OrientationOfBlock(const Bytes& bytes)
{
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() ? bytes.size() : 1]);
    if (!bytes.empty())
        std::memcpy(exact.get(), bytes.data(), bytes.size());
    return ExifBlockOrientation(exact.get(), bytes.size());
}

struct Rgb {
    uint8_t r, g, b;
};
constexpr Rgb kRed{230, 20, 20}, kGreen{20, 200, 30}, kBlue{20, 30, 220}, kWhite{250, 250, 250};

// A 64 x 32 JPEG in four flat quadrants (red, green above; blue, white
// below), with an Exif block of `orientation` when it is not 0.
Bytes QuadrantJpeg(int orientation, int width = 64, int height = 32)
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long memSize = 0;
    jpeg_mem_dest(&c, &mem, &memSize);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    jpeg_start_compress(&c, TRUE);
    if (orientation) {
        const Bytes exif = ExifBlock(false, orientation);
        jpeg_write_marker(&c, JPEG_APP0 + 1, exif.data(), unsigned(exif.size()));
    }
    std::vector<uint8_t> row(size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb& p = y < height / 2 ? (x < width / 2 ? kRed : kGreen) : (x < width / 2 ? kBlue : kWhite);
            row[size_t(x) * 3] = p.r;
            row[size_t(x) * 3 + 1] = p.g;
            row[size_t(x) * 3 + 2] = p.b;
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes out(mem, mem + memSize);
    std::free(mem);
    return out;
}

// Colour at (x, y) counted from the top-left of the picture as shown.
Rgb At(const DibHandle& d, int32_t x, int32_t y)
{
    const int32_t h = d.Info->bmiHeader.biHeight;
    const uint8_t* p = d.Bits + size_t(h - 1 - y) * size_t(d.RowBytes) + size_t(x) * 3;
    return Rgb{p[2], p[1], p[0]};
}

bool Near(Rgb a, Rgb b)
{
    return std::abs(a.r - b.r) <= 24 && std::abs(a.g - b.g) <= 24 && std::abs(a.b - b.b) <= 24;
}

std::string Name(Rgb c)
{
    for (auto [known, name] : {std::pair{kRed, "red"}, {kGreen, "green"}, {kBlue, "blue"}, {kWhite, "white"}})
        if (Near(c, known))
            return name;
    return "other";
}

int32_t gWantedWidth = 0, gWantedHeight = 0;
void RecordWanted(int32_t fullWidth, int32_t fullHeight, int32_t& wantWidth, int32_t& wantHeight)
{
    gWantedWidth = fullWidth;
    gWantedHeight = fullHeight;
    // A thumbnail 80 on the longer side.
    wantWidth = fullWidth >= fullHeight ? 80 : fullWidth * 80 / fullHeight;
    wantHeight = fullWidth >= fullHeight ? fullHeight * 80 / fullWidth : 80;
}

}  // namespace

TEST(ExifReader, FindsTheTagInEitherByteOrderAndOnlyInTheRange)
{
    EXPECT_EQ(OrientationOfBlock(ExifBlock(false, 6)), eoRotate90);
    EXPECT_EQ(OrientationOfBlock(ExifBlock(true, 8)), eoRotate270);
    EXPECT_EQ(OrientationOfBlock(ExifBlock(true, 3, 4)), eoRotate180) << "stored as LONG";
    EXPECT_EQ(OrientationOfBlock(ExifBlock(false, 5, 3, 0)), eoTranspose) << "the only entry";
    EXPECT_EQ(OrientationOfBlock(ExifBlock(false, 0)), eoNormal) << "no orientation entry";
    EXPECT_EQ(OrientationOfBlock(ExifBlock(false, 9)), eoNormal);
    EXPECT_EQ(OrientationOfBlock(ExifBlock(true, 0x106)), eoNormal) << "a byte-order mix-up gives no turn";
    EXPECT_EQ(OrientationOfBlock(ExifBlock(false, 6, 2)), eoNormal) << "an ASCII value is no orientation";
    Bytes wrongMagic = ExifBlock(false, 6);
    wrongMagic[8] = 43;
    EXPECT_EQ(OrientationOfBlock(wrongMagic), eoNormal);
    Bytes xmp = ExifBlock(false, 6);
    xmp[0] = 'X';
    EXPECT_EQ(OrientationOfBlock(xmp), eoNormal);

    // Within a file: the Exif block behind a JFIF and an XMP segment is found;
    // one behind the start of the picture data is not looked for.
    const Bytes soi = {0xFF, 0xD8};
    Bytes file = soi;
    for (const Bytes& s : {Segment(0xE0, Bytes{'J', 'F', 'I', 'F', 0, 1, 2, 0, 0, 1, 0, 1, 0, 0}),
                           Segment(0xE1, Bytes{'h', 't', 't', 'p', ':', '/', '/', 'n', 's'}),
                           Segment(0xE1, ExifBlock(true, 7))})
        file.insert(file.end(), s.begin(), s.end());
    EXPECT_EQ(OrientationOfFile(file), eoTransverse);
    Bytes filled = soi;
    filled.insert(filled.end(), {0xFF, 0xFF, 0xFF});   // fill bytes before a marker
    const Bytes exif6 = Segment(0xE1, ExifBlock(false, 6));
    filled.insert(filled.end(), exif6.begin() + 1, exif6.end());
    EXPECT_EQ(OrientationOfFile(filled), eoRotate90);
    Bytes late = soi;
    const Bytes sos = Segment(0xDA, Bytes{1, 1, 0, 0, 63, 0});
    late.insert(late.end(), sos.begin(), sos.end());
    late.insert(late.end(), exif6.begin(), exif6.end());
    EXPECT_EQ(OrientationOfFile(late), eoNormal);
}

TEST(ExifReader, HostileLengthsAndOffsetsStayInsideTheBytes)
{
    // Every cut of a valid file and block: never a read past the end, and a
    // cut block gives no turn.
    Bytes file = {0xFF, 0xD8};
    const Bytes exif = Segment(0xE1, ExifBlock(true, 6));
    file.insert(file.end(), exif.begin(), exif.end());
    ASSERT_EQ(OrientationOfFile(file), eoRotate90);
    for (size_t n = 0; n < file.size(); ++n)
        EXPECT_EQ(OrientationOfFile(Bytes(file.begin(), file.begin() + long(n))), eoNormal) << n;
    const Bytes block = ExifBlock(false, 8);
    for (size_t n = 0; n + 2 < block.size(); ++n) {
        const int o = OrientationOfBlock(Bytes(block.begin(), block.begin() + long(n)));
        // The orientation entry is whole once the block reaches its value.
        EXPECT_TRUE(o == eoNormal || (o == eoRotate270 && n >= block.size() - 4)) << n << ": " << o;
    }

    // A directory past the end, one that ends halfway, 65,535 entries claimed
    // in a short block, a segment length beyond the file and one below 2.
    Bytes farOff = ExifBlock(false, 6);
    farOff[10] = 0xF0;
    farOff[13] = 0x7F;
    EXPECT_EQ(OrientationOfBlock(farOff), eoNormal);
    Bytes edge = ExifBlock(false, 6);
    edge[10] = uint8_t(edge.size() - 6 - 1);   // the count's second byte would lie past the end
    EXPECT_EQ(OrientationOfBlock(edge), eoNormal);
    Bytes many = ExifBlock(false, 0, 3, 1);
    many[14] = 0xFF;
    many[15] = 0xFF;
    EXPECT_EQ(OrientationOfBlock(many), eoNormal);
    Bytes longSeg = file;
    longSeg[4] = 0xFF;
    EXPECT_EQ(OrientationOfFile(longSeg), eoNormal);
    Bytes shortSeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x01, 0xFF, 0xD9};
    EXPECT_EQ(OrientationOfFile(shortSeg), eoNormal);
    EXPECT_EQ(JpegExifOrientation(nullptr, 0), eoNormal);
    EXPECT_EQ(ExifBlockOrientation(nullptr, 100), eoNormal);
}

TEST(JpegOrientation, EveryOrientationComesOutUprightAlsoWhenReduced)
{
    // Corners of the upright picture (top-left, top-right, bottom-left,
    // bottom-right) for a stored red | green over blue | white picture.
    const char* corners[9][4] = {
        {},
        {"red", "green", "blue", "white"},  {"green", "red", "white", "blue"},
        {"white", "blue", "green", "red"},  {"blue", "white", "red", "green"},
        {"red", "blue", "green", "white"},  {"blue", "red", "white", "green"},
        {"white", "green", "blue", "red"},  {"green", "white", "red", "blue"},
    };
    for (int o = 1; o <= 8; ++o) {
        SCOPED_TRACE(o);
        const Bytes jpeg = QuadrantJpeg(o);
        const bool turned = o >= 5;
        DibHandle full;
        DecodeJpeg(jpeg.data(), jpeg.size(), full);
        ASSERT_NE(full.Bits, nullptr) << full.ErrorText;
        const int32_t w = full.Info->bmiHeader.biWidth, h = full.Info->bmiHeader.biHeight;
        EXPECT_EQ(w, turned ? 32 : 64);
        EXPECT_EQ(h, turned ? 64 : 32);
        EXPECT_EQ(Name(At(full, 2, 2)), corners[o][0]);
        EXPECT_EQ(Name(At(full, w - 3, 2)), corners[o][1]);
        EXPECT_EQ(Name(At(full, 2, h - 3)), corners[o][2]);
        EXPECT_EQ(Name(At(full, w - 3, h - 3)), corners[o][3]);
        deldib(full);
    }

    // The thumbnails' reduced decode: the wanted size is asked for the upright
    // picture, and the full size reported is the upright one.
    const Bytes big = QuadrantJpeg(eoRotate90, 640, 320);
    DibHandle small;
    int32_t fw = 0, fh = 0;
    ASSERT_TRUE(DecodeJpegReduced(big.data(), big.size(), small, &RecordWanted, fw, fh)) << small.ErrorText;
    EXPECT_EQ(gWantedWidth, 320);
    EXPECT_EQ(gWantedHeight, 640);
    EXPECT_EQ(fw, 320);
    EXPECT_EQ(fh, 640);
    // 1/8 scale is 80 x 40 stored, 40 x 80 upright: exactly the wanted 40 x 80.
    const int32_t w = small.Info->bmiHeader.biWidth, h = small.Info->bmiHeader.biHeight;
    EXPECT_EQ(w, 40);
    EXPECT_EQ(h, 80);
    EXPECT_EQ(Name(At(small, 1, 1)), "blue");
    EXPECT_EQ(Name(At(small, w - 2, h - 2)), "green");
    deldib(small);
}

TEST(JpegErrors, ReasonsAreGermanLikeTheOtherDecoders)
{
    const Bytes jpeg = QuadrantJpeg(0, 64, 64);
    struct Case {
        const char* what;
        Bytes bytes;
        const char* reason;
    };
    Bytes cut(jpeg.begin(), jpeg.begin() + long(jpeg.size() / 2));
    Bytes notJpeg = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0};
    Bytes noFrame = {0xFF, 0xD8, 0xFF, 0xD9};
    Bytes empty;
    const Case cases[] = {
        {"cut in half", cut, "JPEG-Fehler: Datei unvollständig"},
        {"not a JPEG", notJpeg, "JPEG-Fehler: keine JPEG-Datei"},
        {"no frame", noFrame, nullptr},
        {"empty", empty, "JPEG-Fehler: Datei ist leer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DibHandle d;
        DecodeJpeg(c.bytes.data(), c.bytes.size(), d);
        EXPECT_EQ(d.Bits, nullptr);
        ASSERT_EQ(d.ErrorText.rfind("JPEG-Fehler: ", 0), 0u) << d.ErrorText;
        if (c.reason) {
            EXPECT_EQ(d.ErrorText, c.reason);
        }
        // None of libjpeg's English words come through.
        for (const char* english : {"JPEG file", "Premature", "Bogus", "Corrupt", "Unsupported", "Invalid",
                                    "Not a", "Empty", "marker"})
            EXPECT_EQ(d.ErrorText.find(english), std::string::npos) << d.ErrorText;
    }
    // Through OpenDib by the extension's type, as the browser opens a .jpg.
    DibHandle d;
    OpenDibFromMemory(d, cut.data(), cut.size(), dtJPG);
    EXPECT_EQ(d.ErrorText, "JPEG-Fehler: Datei unvollständig");
}

TEST(PictureTypes, OtherNamesOfJpegAndTiffAreTheSameTypes)
{
    EXPECT_EQ(DibTypeForExtension(".JPEG"), dtJPG);
    EXPECT_EQ(DibTypeForExtension(".JPE"), dtJPG);
    EXPECT_EQ(DibTypeForExtension(".TIFF"), dtTIF);
    EXPECT_EQ(DibTypeForExtension(".JPG"), dtJPG);
    EXPECT_EQ(DibTypeForExtension(".TIF"), dtTIF);
    // Only the dotted, upper-cased names; near misses stay unknown.
    EXPECT_EQ(DibTypeForExtension("JPEG"), dtAuto);
    EXPECT_EQ(DibTypeForExtension(".JPEGX"), dtAuto);
    EXPECT_EQ(DibTypeForExtension(".TIFFS"), dtAuto);
}
