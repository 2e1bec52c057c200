// Our BMP/DIB/RLE decoder: hand-built files, broken files, and pictures
// written by ImageMagick and Pillow compared with their own decoding.
#include <gtest/gtest.h>

#include "raster/Decoders.h"
#include "tests/raster/OwnDecodeTestSupport.h"

using namespace owntest;
using raster::DecodeBmp;

namespace {

void Put16(Bytes& b, size_t at, uint32_t v)
{
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v)
{
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

// File header + 40-byte info header; palette and pixels appended by the caller.
Bytes BmpHead(int32_t w, int32_t h, int bits, uint32_t compression, uint32_t colours, uint32_t extra = 0)
{
    Bytes b(54, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 10, 54 + extra + colours * 4);  // bfOffBits
    Put32(b, 14, 40);
    Put32(b, 18, static_cast<uint32_t>(w));
    Put32(b, 22, static_cast<uint32_t>(h));
    Put16(b, 26, 1);
    Put16(b, 28, static_cast<uint32_t>(bits));
    Put32(b, 30, compression);
    Put32(b, 46, colours);
    return b;
}

void Append(Bytes& b, std::initializer_list<int> bytes)
{
    for (int v : bytes)
        b.push_back(static_cast<uint8_t>(v));
}

// Colour table: index 0 black, 1 red, 2 green, 3 blue (B, G, R, 0 each).
void FourColours(Bytes& b) { Append(b, {0, 0, 0, 0, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0}); }

void ExpectRgb(const Rgb& p, int x, int y, int r, int g, int b)
{
    ASSERT_LT(static_cast<size_t>(y * p.width + x) * 3, p.px.size()) << x << "," << y;
    const uint8_t* c = p.At(x, y);
    EXPECT_EQ(c[0], r) << x << "," << y;
    EXPECT_EQ(c[1], g) << x << "," << y;
    EXPECT_EQ(c[2], b) << x << "," << y;
}

}  // namespace

TEST(OwnBmp, UncompressedDepthsHandBuilt)
{
    {  // 24 bits, 2 x 2, bottom-up, each row padded from 6 to 8 bytes
        Bytes f = BmpHead(2, 2, 24, 0, 0);
        Append(f, {255, 0, 0, 0, 255, 0, 0, 0});      // bottom row: blue, green, pad
        Append(f, {0, 0, 255, 255, 255, 255, 0, 0});  // top row: red, white, pad
        const Rgb p = Decode(DecodeBmp, f);
        EXPECT_EQ(p.bits, 24);
        ExpectRgb(p, 0, 0, 255, 0, 0);
        ExpectRgb(p, 1, 0, 255, 255, 255);
        ExpectRgb(p, 0, 1, 0, 0, 255);
        ExpectRgb(p, 1, 1, 0, 255, 0);
    }
    {  // 8 bits top-down (negative height): first stored row is the top
        Bytes f = BmpHead(3, -2, 8, 0, 4);
        FourColours(f);
        Append(f, {1, 2, 3, 0});  // top: red green blue
        Append(f, {3, 3, 0, 0});  // bottom: blue blue black
        const Rgb p = Decode(DecodeBmp, f);
        EXPECT_EQ(p.bits, 8);
        EXPECT_EQ(p.height, 2);
        ExpectRgb(p, 0, 0, 255, 0, 0);
        ExpectRgb(p, 2, 0, 0, 0, 255);
        ExpectRgb(p, 2, 1, 0, 0, 0);
    }
    {  // 2 bits become 4 bits: 5 pixels 0,1,2,3,1 = 00 01 10 11 | 01 000000
        Bytes f = BmpHead(5, 1, 2, 0, 4);
        FourColours(f);
        Append(f, {0x1B, 0x40, 0, 0});
        const Rgb p = Decode(DecodeBmp, f);
        EXPECT_EQ(p.bits, 4);
        ExpectRgb(p, 1, 0, 255, 0, 0);
        ExpectRgb(p, 3, 0, 0, 0, 255);
        ExpectRgb(p, 4, 0, 255, 0, 0);
    }
    {  // OS/2 core header (12 bytes, 16-bit sizes, 3-byte palette entries), 1 bit
        Bytes f = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0,
                   12, 0, 0, 0, 9, 0, 1, 0, 1, 0, 1, 0,   // 9 x 1, 1 plane, 1 bit
                   0, 0, 255, 255, 0, 0,                   // red, blue
                   0x80, 0x80, 0, 0};                      // pixels 0 and 8 set
        const Rgb p = Decode(DecodeBmp, f);
        EXPECT_EQ(p.bits, 1);
        ExpectRgb(p, 0, 0, 0, 0, 255);
        ExpectRgb(p, 1, 0, 255, 0, 0);
        ExpectRgb(p, 8, 0, 0, 0, 255);
    }
}

TEST(OwnBmp, BitFieldsAndAlphaOnWhite)
{
    {  // 16 bits 5-6-5 with masks after the 40-byte header
        Bytes f = BmpHead(2, 1, 16, 3, 0, 12);
        Append(f, {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0});
        Append(f, {0x00, 0xF8, 0x10, 0x04});  // pure red; r=0 g=32 b=16
        const Rgb p = Decode(DecodeBmp, f);
        ExpectRgb(p, 0, 0, 255, 0, 0);
        ExpectRgb(p, 1, 0, 0, 130, 132);  // 32/63 and 16/31 of 255, rounded
    }
    {  // plain 16 bits are 5-5-5; the top bit is ignored
        Bytes f = BmpHead(1, 1, 16, 0, 0);
        Append(f, {0xFF, 0xFF, 0, 0});
        ExpectRgb(Decode(DecodeBmp, f), 0, 0, 255, 255, 255);
    }
    {  // 32 bits with an alpha mask in a V5 header: composited onto white
        Bytes f(14 + 124, 0);
        f[0] = 'B';
        f[1] = 'M';
        Put32(f, 10, 14 + 124);
        Put32(f, 14, 124);
        Put32(f, 18, 3);
        Put32(f, 22, 1);
        Put16(f, 26, 1);
        Put16(f, 28, 32);
        Put32(f, 30, 3);
        Put32(f, 54, 0x00FF0000);
        Put32(f, 58, 0x0000FF00);
        Put32(f, 62, 0x000000FF);
        Put32(f, 66, 0xFF000000);
        Append(f, {0, 0, 255, 255,     // opaque red
                   0, 0, 255, 0,       // fully transparent red -> white
                   0, 0, 0, 128});     // half-transparent black -> 127 grey
        const Rgb p = Decode(DecodeBmp, f);
        EXPECT_EQ(p.bits, 24);
        ExpectRgb(p, 0, 0, 255, 0, 0);
        ExpectRgb(p, 1, 0, 255, 255, 255);
        ExpectRgb(p, 2, 0, 127, 127, 127);
    }
    {  // plain 32 bits: the fourth byte is not alpha
        Bytes f = BmpHead(1, 1, 32, 0, 0);
        Append(f, {10, 20, 30, 0});
        ExpectRgb(Decode(DecodeBmp, f), 0, 0, 30, 20, 10);
    }
}

TEST(OwnBmp, RunLengthCodes)
{
    {  // RLE8, 4 x 3: run, end of line, delta, absolute run, end of bitmap
        Bytes f = BmpHead(4, 3, 8, 1, 4);
        FourColours(f);
        Append(f, {6, 1,          // bottom row: 6 x red, cut at the row end (4)
                   0, 0,          // end of line
                   0, 2, 1, 1,    // delta: right 1, up 1 -> top row, x = 1
                   0, 3, 2, 3, 2, 0,  // absolute: green blue green, pad
                   0, 1});        // end of bitmap
        const Rgb p = Decode(DecodeBmp, f);
        EXPECT_EQ(p.bits, 8);
        for (int x = 0; x < 4; ++x)
            ExpectRgb(p, x, 2, 255, 0, 0);
        for (int x = 0; x < 4; ++x)
            ExpectRgb(p, x, 1, 0, 0, 0);  // middle row skipped: index 0
        ExpectRgb(p, 0, 0, 0, 0, 0);
        ExpectRgb(p, 1, 0, 0, 255, 0);
        ExpectRgb(p, 2, 0, 0, 0, 255);
        ExpectRgb(p, 3, 0, 0, 255, 0);
    }
    {  // RLE4, 5 x 1: run of 3 alternating 1,2 then absolute 3 pixels 3,1,2
        Bytes f = BmpHead(5, 1, 4, 2, 4);
        FourColours(f);
        Append(f, {3, 0x12, 0, 3, 0x31, 0x20, 0, 1});
        const Rgb p = Decode(DecodeBmp, f);
        EXPECT_EQ(p.bits, 4);
        ExpectRgb(p, 0, 0, 255, 0, 0);
        ExpectRgb(p, 1, 0, 0, 255, 0);
        ExpectRgb(p, 2, 0, 255, 0, 0);
        ExpectRgb(p, 3, 0, 0, 0, 255);
        ExpectRgb(p, 4, 0, 255, 0, 0);  // the third absolute pixel lies past the row end
    }
    {  // missing end-of-bitmap after the last row is accepted; a run cut
       // inside its absolute bytes is not
        Bytes f = BmpHead(2, 1, 8, 1, 4);
        FourColours(f);
        Append(f, {2, 3});
        ExpectRgb(Decode(DecodeBmp, f), 1, 0, 0, 0, 255);
        Bytes g = BmpHead(4, 2, 8, 1, 4);
        FourColours(g);
        Append(g, {0, 4, 1, 2});
        EXPECT_EQ(Refusal(DecodeBmp, g), "BMP-Datei unvollständig");
    }
}

TEST(OwnBmp, BrokenHeadersAreRefused)
{
    auto good = [] {
        Bytes f = BmpHead(2, 2, 24, 0, 0);
        f.resize(f.size() + 16, 0x55);
        return f;
    };
    EXPECT_TRUE(Refusal(DecodeBmp, good()).empty());
    struct Case {
        const char* what;
        size_t at;
        int size;
        uint32_t value;
    } cases[] = {
        {"width 0", 18, 4, 0},
        {"negative width", 18, 4, 0xFFFFFFFE},
        {"height 0", 22, 4, 0},
        {"two planes", 26, 2, 2},
        {"7 bits", 28, 2, 7},
        {"RLE8 on 24 bits", 30, 4, 1},
        {"JPEG inside", 30, 4, 4},
        {"unknown header size", 14, 4, 41},
        {"pixels past the end", 10, 4, 0x10000},
        {"width over the limit", 18, 4, 70000},
    };
    for (const Case& c : cases) {
        Bytes f = good();
        if (c.size == 2)
            Put16(f, c.at, c.value);
        else
            Put32(f, c.at, c.value);
        EXPECT_FALSE(Refusal(DecodeBmp, f).empty()) << c.what;
    }
    // 65535 x 65535 at 24 bits is 12 GiB: refused before any allocation.
    Bytes huge = good();
    Put32(huge, 18, 65535);
    Put32(huge, 22, 65535);
    EXPECT_EQ(Refusal(DecodeBmp, huge), "BMP-Datei unvollständig");
    // Top-down RLE has no meaning.
    Bytes f = BmpHead(2, -2, 8, 1, 4);
    FourColours(f);
    Append(f, {0, 1});
    EXPECT_EQ(Refusal(DecodeBmp, f), "Ungültige BMP-Datei");
    // Not a bitmap at all.
    const Bytes text = {'h', 'e', 'l', 'l', 'o'};
    EXPECT_FALSE(Refusal(DecodeBmp, text).empty());
    EXPECT_FALSE(Refusal(DecodeBmp, nullptr, 0).empty());
}

TEST(OwnBmp, HugeRlePictureIsRefusedBeforeDecoding)
{
    // 60000 x 60000 at 8 bits is 3.4 GB: over the pixel-memory limit.
    Bytes f = BmpHead(60000, 60000, 8, 1, 4);
    FourColours(f);
    Append(f, {0, 1});
    EXPECT_EQ(Refusal(DecodeBmp, f), "Bild zu groß");
}

TEST(OwnBmp, EveryTruncationFailsCleanly)
{
    Bytes rle = BmpHead(4, 3, 8, 1, 4);
    FourColours(rle);
    Append(rle, {6, 1, 0, 0, 0, 2, 1, 1, 0, 3, 2, 3, 2, 0, 0, 1});
    EveryPrefixIsSafe(DecodeBmp, rle);
    Bytes raw = BmpHead(3, 2, 24, 0, 0);
    raw.resize(raw.size() + 24, 0x7F);
    EveryPrefixIsSafe(DecodeBmp, raw);
    // Cut inside the pixel rows: refused with the short-file text.
    Bytes cut(raw.begin(), raw.end() - 8);
    EXPECT_EQ(Refusal(DecodeBmp, cut), "BMP-Datei unvollständig");
    // Only the padding of the last row missing: still a whole picture.
    Bytes unpadded(raw.begin(), raw.end() - 3);
    EXPECT_TRUE(Refusal(DecodeBmp, unpadded).empty());
}

// ImageMagick writes the variants, ImageMagick and Pillow read them back.
TEST(OwnBmp, SameAsIndependentDecoders)
{
    if (!HaveConvert())
        GTEST_SKIP() << "ImageMagick not installed";
    const ScratchDir scratch;
    const std::string& dir = scratch.path;
    const std::string src = dir + "/src.miff";
    // A picture with gradients, edges and an odd width (row padding).
    ASSERT_TRUE(Shell(Convert() + " -size 37x23 gradient:red-blue \\( -size 37x23 plasma:fractal -seed 4 \\)"
                                " -compose blend -define compose:args=50 -composite '" + src + "'"));
    const std::string alphaSrc = dir + "/alpha.miff";
    ASSERT_TRUE(Shell(Convert() + " '" + src + "' \\( -size 37x23 gradient:white-black \\) -alpha off"
                                " -compose copyopacity -composite '" + alphaSrc + "'"));
    struct Variant {
        const char* name;
        const char* options;
        const char* format;
        bool alpha;
        int tolerance;
    } variants[] = {
        {"24", "-type truecolor", "BMP3", false, 0},
        {"8raw", "-colors 200 -compress None", "BMP3", false, 0},
        {"rle8", "-colors 200 -compress RLE", "BMP3", false, 0},
        {"4", "-colors 16 -compress None", "BMP3", false, 0},
        {"1", "-monochrome", "BMP3", false, 0},
        {"os2", "-type truecolor", "BMP2", false, 0},
        {"565", "-define bmp:subtype=RGB565", "BMP", false, 0},
        {"555", "-define bmp:subtype=RGB555", "BMP", false, 0},
        {"v5", "-type truecolor", "BMP", false, 0},
        {"argb32", "", "BMP", true, 1},
    };
    const bool pil = HavePil();
    for (const Variant& v : variants) {
        const std::string path = dir + "/" + v.name + ".bmp";
        ASSERT_TRUE(Shell(Convert() + " '" + (v.alpha ? alphaSrc : src) + "' " + v.options + " " + v.format + ":'" +
                        path + "'"))
            << v.name;
        const Bytes file = ReadFile(path);
        const Rgb ours = Decode(DecodeBmp, file);
        ExpectSamePixels(ours, MagickRgb(path, 37, 23), v.tolerance, std::string("magick ") + v.name);
        // Pillow widens 5- and 6-bit channels by truncating v * 255 / max, one
        // step below repeating the bits as ImageMagick and we do.
        const bool sixteen = v.name[0] == '5';
        if (pil)
            ExpectSamePixels(ours, PilRgb(path, 37, 23), sixteen ? 1 : v.tolerance, std::string("pil ") + v.name);
    }
}

TEST(OwnBmp, PillowFilesAndTopDownRows)
{
    if (!HavePil() || !HaveConvert())
        GTEST_SKIP() << "Pillow or ImageMagick not installed";
    const ScratchDir scratch;
    const std::string& dir = scratch.path;
    ASSERT_TRUE(Shell(Python() + " -c \"from PIL import Image\n"
                               "im = Image.effect_mandelbrot((41, 19), (-2, -1.2, 1, 1.2), 60).convert('RGB')\n"
                               "im.save('" + dir + "/rgb.bmp')\n"
                               "im.convert('P', palette=Image.ADAPTIVE, colors=256).save('" + dir + "/p.bmp')\n"
                               "im.convert('L').save('" + dir + "/l.bmp')\n"
                               "im.convert('1').save('" + dir + "/1.bmp')\n\""));
    for (const char* name : {"rgb", "p", "l", "1"}) {
        const std::string path = dir + "/" + name + ".bmp";
        Bytes file = ReadFile(path);
        const Rgb ours = Decode(DecodeBmp, file);
        const Rgb ref = MagickRgb(path, 41, 19);
        ExpectSamePixels(ours, ref, 0, name);
        // The same rows stored top-down: negative height, rows reversed.
        const uint32_t off = file[10] | file[11] << 8 | file[12] << 16;
        const int32_t height = file[22] | file[23] << 8;
        const size_t rowBytes = (file.size() - off) / static_cast<size_t>(height);
        Bytes flipped(file.begin(), file.begin() + off);
        for (int y = height - 1; y >= 0; --y)
            flipped.insert(flipped.end(), file.begin() + off + y * rowBytes, file.begin() + off + (y + 1) * rowBytes);
        Put32(flipped, 22, static_cast<uint32_t>(-height));
        ExpectSamePixels(Decode(DecodeBmp, flipped), ref, 0, std::string("top-down ") + name);
    }
}
