// Our TGA decoder: hand-built files for origins, packets and colour maps,
// broken files, and pictures written and read by ImageMagick and Pillow.
#include <gtest/gtest.h>

#include "raster/Decoders.h"
#include "tests/raster/OwnDecodeTestSupport.h"

using namespace owntest;
using raster::DecodeTga;

namespace {

// 18-byte header.
Bytes TgaHead(int type, int w, int h, int depth, int descriptor, int mapType = 0, int mapFirst = 0,
              int mapLength = 0, int mapBits = 0)
{
    return {0, static_cast<uint8_t>(mapType), static_cast<uint8_t>(type),
            static_cast<uint8_t>(mapFirst), static_cast<uint8_t>(mapFirst >> 8),
            static_cast<uint8_t>(mapLength), static_cast<uint8_t>(mapLength >> 8), static_cast<uint8_t>(mapBits),
            0, 0, 0, 0,
            static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(h), static_cast<uint8_t>(h >> 8),
            static_cast<uint8_t>(depth), static_cast<uint8_t>(descriptor)};
}

void Append(Bytes& b, std::initializer_list<int> bytes)
{
    for (int v : bytes)
        b.push_back(static_cast<uint8_t>(v));
}

void ExpectRgb(const Rgb& p, int x, int y, int r, int g, int b)
{
    ASSERT_LT(static_cast<size_t>(y * p.width + x) * 3, p.px.size()) << x << "," << y;
    const uint8_t* c = p.At(x, y);
    EXPECT_EQ(c[0], r) << x << "," << y;
    EXPECT_EQ(c[1], g) << x << "," << y;
    EXPECT_EQ(c[2], b) << x << "," << y;
}

// Pixels of a 2 x 2 picture in file order: red, green, blue, white (B, G, R).
void FourPixels24(Bytes& f) { Append(f, {0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255}); }

}  // namespace

TEST(OwnTga, FourOriginsPutTheFirstPixelInItsCorner)
{
    struct Case {
        int descriptor;
        int x, y;  // where the first pixel of the file lands (top-down coordinates)
    } cases[] = {{0x00, 0, 1}, {0x20, 0, 0}, {0x10, 1, 1}, {0x30, 1, 0}};
    for (const Case& c : cases) {
        Bytes f = TgaHead(2, 2, 2, 24, c.descriptor);
        FourPixels24(f);
        const Rgb p = Decode(DecodeTga, f);
        ExpectRgb(p, c.x, c.y, 255, 0, 0);      // red: first pixel
        ExpectRgb(p, 1 - c.x, c.y, 0, 255, 0);  // green: its neighbour in the same row
        ExpectRgb(p, 1 - c.x, 1 - c.y, 255, 255, 255);
    }
}

TEST(OwnTga, PacketsAlphaAndSixteenBits)
{
    {  // RLE 32 bits, 3 x 2, top origin, 8 alpha bits: a run that crosses
       // into the next row, then a raw packet with transparent pixels
        Bytes f = TgaHead(10, 3, 2, 32, 0x28);
        Append(f, {0x83, 0, 0, 255, 255,                // run of 4 opaque red
                   0x01, 0, 255, 0, 0, 0, 0, 0, 128});  // raw 2: transparent green, half black
        const Rgb p = Decode(DecodeTga, f);
        EXPECT_EQ(p.bits, 24);
        for (int x = 0; x < 3; ++x)
            ExpectRgb(p, x, 0, 255, 0, 0);
        ExpectRgb(p, 0, 1, 255, 0, 0);
        ExpectRgb(p, 1, 1, 255, 255, 255);
        ExpectRgb(p, 2, 1, 127, 127, 127);
    }
    {  // 32 bits without declared alpha bits: the fourth byte is ignored
        Bytes f = TgaHead(2, 1, 1, 32, 0x00);
        Append(f, {10, 20, 30, 0});
        ExpectRgb(Decode(DecodeTga, f), 0, 0, 30, 20, 10);
    }
    {  // premultiplied alpha, told by the extension area (attribute type 4)
        Bytes f = TgaHead(2, 1, 1, 32, 0x08);
        Append(f, {0, 0, 64, 128});  // red 64 premultiplied by alpha 128
        const size_t ext = f.size();
        f.resize(ext + 495, 0);
        f[ext] = 495 & 0xFF;
        f[ext + 1] = 495 >> 8;
        f[ext + 494] = 4;
        Append(f, {static_cast<int>(ext), 0, 0, 0, 0, 0, 0, 0});
        for (char c : std::string("TRUEVISION-XFILE."))
            f.push_back(static_cast<uint8_t>(c));
        f.push_back(0);
        ExpectRgb(Decode(DecodeTga, f), 0, 0, 191, 127, 127);
    }
    {  // 16 bits A1R5G5B5: with one declared alpha bit a clear bit is transparent
        Bytes f = TgaHead(2, 2, 1, 16, 0x01);
        Append(f, {0x1F, 0x80, 0x1F, 0x00});  // blue opaque, blue transparent
        const Rgb p = Decode(DecodeTga, f);
        ExpectRgb(p, 0, 0, 0, 0, 255);
        ExpectRgb(p, 1, 0, 255, 255, 255);
        f[17] = 0;  // no alpha bits: both blue
        ExpectRgb(Decode(DecodeTga, f), 1, 0, 0, 0, 255);
    }
}

TEST(OwnTga, ColourMapsKeepIndicesOrWiden)
{
    {  // 8-bit indices, map of 2 entries starting at index 5 (24-bit entries)
        Bytes f = TgaHead(1, 3, 1, 8, 0x20, 1, 5, 2, 24);
        Append(f, {0, 0, 255, 255, 0, 0});  // index 5 red, index 6 blue
        Append(f, {5, 6, 0});               // index 0 lies outside the map: black
        const Rgb p = Decode(DecodeTga, f);
        EXPECT_EQ(p.bits, 8);
        ExpectRgb(p, 0, 0, 255, 0, 0);
        ExpectRgb(p, 1, 0, 0, 0, 255);
        ExpectRgb(p, 2, 0, 0, 0, 0);
    }
    {  // 16-bit indices, RLE: more entries than a table holds -> 24 bits
        Bytes f = TgaHead(9, 2, 1, 16, 0x20, 1, 300, 1, 16);
        Append(f, {0xE0, 0x83});         // map entry 300: green (opaque bit set)
        Append(f, {0x81, 0x2C, 0x01});  // run of 2 x index 300
        const Rgb p = Decode(DecodeTga, f);
        EXPECT_EQ(p.bits, 24);
        ExpectRgb(p, 1, 0, 0, 255, 0);
    }
    {  // greyscale 8 bits, and 16 bits of grey + alpha on white
        Bytes f = TgaHead(3, 2, 1, 8, 0x20);
        Append(f, {0, 200});
        const Rgb p = Decode(DecodeTga, f);
        EXPECT_EQ(p.bits, 8);
        ExpectRgb(p, 1, 0, 200, 200, 200);
        Bytes g = TgaHead(11, 2, 1, 16, 0x28);
        Append(g, {0x81, 0, 0});  // run of 2 transparent black
        ExpectRgb(Decode(DecodeTga, g), 1, 0, 255, 255, 255);
    }
}

TEST(OwnTga, BrokenFilesAreRefused)
{
    const Bytes good = [] {
        Bytes f = TgaHead(2, 2, 2, 24, 0);
        FourPixels24(f);
        return f;
    }();
    EXPECT_TRUE(Refusal(DecodeTga, good).empty());
    struct Case {
        const char* what;
        size_t at;
        uint8_t value;
    } cases[] = {
        {"no image", 2, 0}, {"Huffman type", 2, 32}, {"width 0", 12, 0},
        {"depth 12", 16, 12}, {"map type 2", 1, 2}, {"mapped without map", 2, 1},
        {"map entry bits 7", 7, 7},
    };
    for (const Case& c : cases) {
        Bytes f = good;
        f[c.at] = c.value;
        if (c.at == 12)
            f[13] = 0;
        if (c.at == 7)
            f[1] = 1, f[5] = 1;
        EXPECT_FALSE(Refusal(DecodeTga, f).empty()) << c.what;
    }
    // A colour map that claims more bytes than the file has.
    Bytes map = TgaHead(1, 1, 1, 8, 0, 1, 0, 1000, 24);
    Append(map, {0, 0, 0, 0});
    EXPECT_EQ(Refusal(DecodeTga, map), "TGA-Datei unvollständig");
    // 65535 x 65535 RLE with a tiny body: over the pixel-memory limit.
    Bytes huge = TgaHead(10, 65535, 65535, 32, 8);
    Append(huge, {0xFF, 1, 2, 3, 4});
    EXPECT_EQ(Refusal(DecodeTga, huge), "Bild zu groß");
    // 15000 x 15000 from five bytes cannot be: refused before allocating 675 MB.
    Bytes tiny = TgaHead(10, 15000, 15000, 24, 0);
    Append(tiny, {0xFF, 1, 2, 3});
    EXPECT_EQ(Refusal(DecodeTga, tiny), "TGA-Datei unvollständig");
    // An RLE stream that ends before the last row.
    Bytes cut = TgaHead(10, 4, 4, 24, 0);
    Append(cut, {0x87, 1, 2, 3});
    EXPECT_EQ(Refusal(DecodeTga, cut), "TGA-Datei unvollständig");
    EveryPrefixIsSafe(DecodeTga, good);
    Bytes rle = TgaHead(10, 3, 2, 32, 0x28);
    Append(rle, {0x83, 0, 0, 255, 255, 0x01, 0, 255, 0, 0, 0, 0, 0, 128});
    EveryPrefixIsSafe(DecodeTga, rle);
}

TEST(OwnTga, SameAsIndependentDecoders)
{
    if (!HaveConvert())
        GTEST_SKIP() << "ImageMagick not installed";
    const ScratchDir scratch;
    const std::string& dir = scratch.path;
    const std::string src = dir + "/src.miff";
    ASSERT_TRUE(Shell(Convert() + " -size 37x23 gradient:red-blue \\( -size 37x23 plasma:fractal -seed 7 \\)"
                                  " -compose blend -define compose:args=50 -composite '" + src + "'"));
    const std::string alphaSrc = dir + "/alpha.miff";
    ASSERT_TRUE(Shell(Convert() + " '" + src + "' \\( -size 37x23 gradient:white-black \\) -alpha off"
                                  " -compose copyopacity -composite '" + alphaSrc + "'"));
    struct Variant {
        const char* name;
        const char* options;
        bool alpha;
        int tolerance;
    } variants[] = {
        {"24", "-type truecolor", false, 0},
        {"24rle", "-type truecolor -compress RLE", false, 0},
        {"top", "-type truecolor -orient TopLeft", false, 0},
        {"map", "-colors 100 -type palette", false, 0},
        {"maprle", "-colors 100 -type palette -compress RLE", false, 0},
        {"grey", "-type grayscale", false, 0},
        {"greyrle", "-type grayscale -compress RLE", false, 0},
        {"32", "", true, 1},
        {"32rle", "-compress RLE", true, 1},
    };
    for (const Variant& v : variants) {
        const std::string path = dir + "/" + v.name + ".tga";
        ASSERT_TRUE(Shell(Convert() + " '" + (v.alpha ? alphaSrc : src) + "' " + v.options + " TGA:'" + path + "'"))
            << v.name;
        const Rgb ours = Decode(DecodeTga, ReadFile(path));
        ExpectSamePixels(ours, MagickRgb(path, 37, 23), v.tolerance, std::string("magick ") + v.name);
    }
    // Every 15-bit colour once, 256 x 128, raw 16 bits, bottom-up.
    Bytes all = TgaHead(2, 256, 128, 16, 0);
    for (unsigned v = 0; v < 32768; ++v)
        Append(all, {static_cast<int>(v & 0xFF), static_cast<int>(v >> 8)});
    const std::string allPath = dir + "/all15.tga";
    WriteFile(allPath, all);
    const Rgb ours15 = Decode(DecodeTga, all);
    ExpectSamePixels(ours15, MagickRgb(allPath, 256, 128), 0, "magick all15");
    if (!HavePil())
        return;
    ExpectSamePixels(ours15, PilRgb(allPath, 256, 128), 0, "pil all15");
    ASSERT_TRUE(Shell(Python() + " -c \"from PIL import Image\n"
                                 "im = Image.effect_mandelbrot((41, 19), (-2, -1.2, 1, 1.2), 60).convert('RGB')\n"
                                 "d = '" + dir + "/'\n"
                                 "im.save(d + 'p24.tga')\n"
                                 "im.save(d + 'p24rle.tga', compression='tga_rle')\n"
                                 "im.save(d + 'ptop.tga', orientation=1)\n"
                                 "im.convert('P', palette=Image.ADAPTIVE).save(d + 'pmap.tga', compression='tga_rle')\n"
                                 "im.convert('L').save(d + 'pgrey.tga', compression='tga_rle')\n"
                                 "a = im.convert('RGBA'); a.putalpha(im.convert('L'))\n"
                                 "a.save(d + 'palpha.tga', compression='tga_rle')\n"
                                 "la = im.convert('LA'); la.putalpha(im.convert('L').point(lambda v: 255 - v))\n"
                                 "la.save(d + 'pla.tga')\n\""));
    for (const char* name : {"p24", "p24rle", "ptop", "pmap", "pgrey", "palpha", "pla"}) {
        const std::string path = dir + "/" + name + ".tga";
        const Rgb ours = Decode(DecodeTga, ReadFile(path));
        ExpectSamePixels(ours, PilRgb(path, 41, 19), 1, std::string("pil ") + name);
        // ImageMagick does not read 16-bit grey with alpha as such; Pillow does.
        if (std::string(name) != "pla")
            ExpectSamePixels(ours, MagickRgb(path, 41, 19), 1, std::string("magick ") + name);
    }
}
