// Our PCX decoder: hand-built files for each plane layout and palette rule,
// broken files, and pictures compared with ImageMagick and Pillow.
#include <gtest/gtest.h>

#include <random>

#include "raster/Decoders.h"
#include "tests/raster/OwnDecodeTestSupport.h"

using namespace owntest;
using raster::DecodePcx;

namespace {

// 128-byte header; the 16-colour palette gets entries i -> (i*16, 255-i*16, i).
Bytes PcxHead(int version, int bits, int planes, int w, int h, int bytesPerLine, bool rle = true)
{
    Bytes b(128, 0);
    b[0] = 0x0A;
    b[1] = static_cast<uint8_t>(version);
    b[2] = rle ? 1 : 0;
    b[3] = static_cast<uint8_t>(bits);
    b[8] = static_cast<uint8_t>(w - 1);
    b[9] = static_cast<uint8_t>((w - 1) >> 8);
    b[10] = static_cast<uint8_t>(h - 1);
    b[11] = static_cast<uint8_t>((h - 1) >> 8);
    for (int i = 0; i < 16; ++i) {
        b[16 + 3 * i] = static_cast<uint8_t>(i * 16);
        b[17 + 3 * i] = static_cast<uint8_t>(255 - i * 16);
        b[18 + 3 * i] = static_cast<uint8_t>(i);
    }
    b[65] = static_cast<uint8_t>(planes);
    b[66] = static_cast<uint8_t>(bytesPerLine);
    b[67] = static_cast<uint8_t>(bytesPerLine >> 8);
    b[68] = 1;
    return b;
}

// Plain PCX run-length encoding of one scan line, runs kept inside the line.
void EncodeLine(Bytes& out, const uint8_t* line, size_t n)
{
    for (size_t i = 0; i < n;) {
        size_t run = 1;
        while (i + run < n && run < 63 && line[i + run] == line[i])
            ++run;
        if (run > 1 || line[i] >= 0xC0)
            out.push_back(static_cast<uint8_t>(0xC0 | run));
        out.push_back(line[i]);
        i += run;
    }
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

}  // namespace

TEST(OwnPcx, PlaneLayoutsHandBuilt)
{
    {  // 8 bits, 3 x 2, one run crossing from the first line into the second,
       // 256-colour palette at the end after the 0x0C mark
        Bytes f = PcxHead(5, 8, 1, 3, 2, 4);
        Append(f, {0xC5, 7,          // run of 5 x index 7: 4 bytes of line 1, 1 of line 2
                   0xC1, 0xC8,       // a single 0xC8 must be written as a run
                   2, 0});           // line 2: 7, 0xC8, 2, 0 (pad)
        f.push_back(0x0C);
        for (int i = 0; i < 256; ++i)
            Append(f, {i, 0, 255 - i});
        const Rgb p = Decode(DecodePcx, f);
        EXPECT_EQ(p.bits, 8);
        ExpectRgb(p, 0, 0, 7, 0, 248);
        ExpectRgb(p, 2, 0, 7, 0, 248);
        ExpectRgb(p, 0, 1, 7, 0, 248);
        ExpectRgb(p, 1, 1, 0xC8, 0, 255 - 0xC8);
        ExpectRgb(p, 2, 1, 2, 0, 253);
    }
    {  // 8 bits without a palette at the end: grey
        Bytes f = PcxHead(5, 8, 1, 2, 1, 2);
        Append(f, {9, 190});
        const Rgb p = Decode(DecodePcx, f);
        ExpectRgb(p, 1, 0, 190, 190, 190);
    }
    {  // EGA: 1 bit in 4 planes, 9 x 1 (two bytes per plane line)
        Bytes f = PcxHead(5, 1, 4, 9, 1, 2, false);
        Append(f, {0x80, 0x80,   // plane 0: pixels 0 and 8
                   0x40, 0x00,   // plane 1: pixel 1
                   0xC0, 0x00,   // plane 2: pixels 0, 1
                   0x00, 0x80}); // plane 3: pixel 8
        const Rgb p = Decode(DecodePcx, f);
        EXPECT_EQ(p.bits, 4);
        ExpectRgb(p, 0, 0, 5 * 16, 255 - 5 * 16, 5);   // 1 + 4
        ExpectRgb(p, 1, 0, 6 * 16, 255 - 6 * 16, 6);   // 2 + 4
        ExpectRgb(p, 2, 0, 0, 255, 0);
        ExpectRgb(p, 8, 0, 9 * 16, 255 - 9 * 16, 9);   // 1 + 8
    }
    {  // CGA: 2 bits in 1 plane become 4 bits; 3 pixels 3, 1, 2 = 11 01 10 00
        Bytes f = PcxHead(5, 2, 1, 3, 1, 2, false);
        Append(f, {0xD8, 0});
        const Rgb p = Decode(DecodePcx, f);
        EXPECT_EQ(p.bits, 4);
        ExpectRgb(p, 0, 0, 48, 207, 3);
        ExpectRgb(p, 2, 0, 32, 223, 2);
    }
    {  // 24 bits: planes red, green, blue per line
        Bytes f = PcxHead(5, 8, 3, 2, 1, 2);
        Append(f, {10, 20, 30, 40, 50, 60});
        const Rgb p = Decode(DecodePcx, f);
        EXPECT_EQ(p.bits, 24);
        ExpectRgb(p, 0, 0, 10, 30, 50);
        ExpectRgb(p, 1, 0, 20, 40, 60);
    }
}

TEST(OwnPcx, MonochromePalette)
{
    // A header palette whose first two entries agree means black and white.
    Bytes f = PcxHead(5, 1, 1, 2, 1, 2);
    f[16] = f[17] = f[18] = f[19] = f[20] = f[21] = 0;
    Append(f, {0x40, 0});
    const Rgb bw = Decode(DecodePcx, f);
    EXPECT_EQ(bw.bits, 1);
    ExpectRgb(bw, 0, 0, 0, 0, 0);
    ExpectRgb(bw, 1, 0, 255, 255, 255);
    // Two different entries are taken as they are.
    f[19] = 255;
    ExpectRgb(Decode(DecodePcx, f), 1, 0, 255, 0, 0);
}

TEST(OwnPcx, BrokenFilesAreRefused)
{
    const Bytes good = [] {
        Bytes f = PcxHead(5, 8, 3, 2, 2, 2);
        Append(f, {0xC6, 1, 0xC6, 2});
        return f;
    }();
    EXPECT_TRUE(Refusal(DecodePcx, good).empty());
    struct Case {
        const char* what;
        size_t at;
        uint8_t value;
    } cases[] = {
        {"manufacturer", 0, 0x0B}, {"encoding 2", 2, 2}, {"3 bits", 3, 3}, {"5 planes", 65, 5},
        {"xmin past xmax", 4, 9}, {"line too short for the width", 66, 1},
    };
    for (const Case& c : cases) {
        Bytes f = good;
        f[c.at] = c.value;
        EXPECT_FALSE(Refusal(DecodePcx, f).empty()) << c.what;
    }
    // An 8-bit picture cut before its last line, palette still at the end:
    // the palette bytes are not taken for pixels.
    Bytes eight = PcxHead(5, 8, 1, 4, 300, 4);
    for (int y = 0; y < 299; ++y)
        Append(eight, {0xC4, y & 0x3F});
    eight.push_back(0x0C);
    eight.resize(eight.size() + 768, 0x11);
    EXPECT_EQ(Refusal(DecodePcx, eight), "PCX-Datei unvollständig");
    // Only one of two lines present.
    Bytes cut(good.begin(), good.end() - 2);
    EXPECT_EQ(Refusal(DecodePcx, cut), "PCX-Datei unvollständig");
    // 60000 x 60000 at 24 bits: over the pixel-memory limit before reading on.
    Bytes huge = PcxHead(5, 8, 3, 60000, 60000, 60000);
    EXPECT_EQ(Refusal(DecodePcx, huge), "Bild zu groß");
    // 20000 x 20000 at 8 bits from two bytes cannot be: refused before allocating.
    Bytes tiny = PcxHead(5, 8, 1, 20000, 20000, 20000);
    Append(tiny, {0xFF, 0});
    EXPECT_EQ(Refusal(DecodePcx, tiny), "PCX-Datei unvollständig");
    EveryPrefixIsSafe(DecodePcx, good);
}

// Planar files built here from known indices, read by ImageMagick as well.
TEST(OwnPcx, PlanarFilesMatchTheirIndices)
{
    std::mt19937 rng(5);
    for (int planes = 2; planes <= 4; ++planes) {
        const int w = 21, h = 5, bpl = 4;
        Bytes f = PcxHead(5, 1, planes, w, h, bpl);
        std::vector<int> index(static_cast<size_t>(w) * h);
        for (int y = 0; y < h; ++y) {
            Bytes line(static_cast<size_t>(bpl) * planes, 0);
            for (int x = 0; x < w; ++x) {
                const int v = static_cast<int>(rng() % (1u << planes));
                index[static_cast<size_t>(y) * w + x] = v;
                for (int p = 0; p < planes; ++p)
                    if (v & (1 << p))
                        line[static_cast<size_t>(p) * bpl + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            }
            EncodeLine(f, line.data(), line.size());
        }
        const Rgb p = Decode(DecodePcx, f);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int v = index[static_cast<size_t>(y) * w + x];
                ExpectRgb(p, x, y, v * 16, 255 - v * 16, v);
            }
        if (HaveConvert()) {
            const ScratchDir scratch;
            const std::string path = scratch.path + "/planar.pcx";
            WriteFile(path, f);
            ExpectSamePixels(p, MagickRgb(path, w, h), 0, "magick planes " + std::to_string(planes));
        }
    }
}

TEST(OwnPcx, SameAsIndependentDecoders)
{
    if (!HaveConvert())
        GTEST_SKIP() << "ImageMagick not installed";
    const ScratchDir scratch;
    const std::string& dir = scratch.path;
    const std::string src = dir + "/src.miff";
    ASSERT_TRUE(Shell(Convert() + " -size 37x23 gradient:red-blue \\( -size 37x23 plasma:fractal -seed 9 \\)"
                                  " -compose blend -define compose:args=50 -composite '" + src + "'"));
    const std::string alphaSrc = dir + "/alpha.miff";
    ASSERT_TRUE(Shell(Convert() + " '" + src + "' \\( -size 37x23 gradient:white-black \\) -alpha off"
                                  " -compose copyopacity -composite '" + alphaSrc + "'"));
    struct Variant {
        const char* name;
        const char* options;
        bool alpha;
    } variants[] = {
        {"24", "-type truecolor", false},
        {"8", "-colors 200 -type palette", false},
        {"16colours", "-colors 16", false},
        {"grey", "-type grayscale", false},
        {"mono", "-monochrome", false},
        {"rgba", "", true},  // four planes, the fourth alpha
    };
    for (const Variant& v : variants) {
        const std::string path = dir + "/" + v.name + ".pcx";
        ASSERT_TRUE(Shell(Convert() + " '" + (v.alpha ? alphaSrc : src) + "' " + v.options + " PCX:'" + path + "'"))
            << v.name;
        const Rgb ours = Decode(DecodePcx, ReadFile(path));
        ExpectSamePixels(ours, MagickRgb(path, 37, 23), v.alpha ? 1 : 0, std::string("magick ") + v.name);
    }
    if (!HavePil())
        return;
    ASSERT_TRUE(Shell(Python() + " -c \"from PIL import Image\n"
                                 "im = Image.effect_mandelbrot((41, 19), (-2, -1.2, 1, 1.2), 60).convert('RGB')\n"
                                 "d = '" + dir + "/'\n"
                                 "im.save(d + 'q24.pcx')\n"
                                 "im.convert('P', palette=Image.ADAPTIVE).save(d + 'q8.pcx')\n"
                                 "im.convert('L').save(d + 'qgrey.pcx')\n"
                                 "im.convert('1').save(d + 'q1.pcx')\n\""));
    for (const char* name : {"q24", "q8", "qgrey", "q1"}) {
        const std::string path = dir + "/" + name + ".pcx";
        const Rgb ours = Decode(DecodePcx, ReadFile(path));
        ExpectSamePixels(ours, PilRgb(path, 41, 19), 0, std::string("pil ") + name);
        // ImageMagick shows Pillow's 1-bit files inverted; Pillow's own reading
        // (0 black, 1 white) is the usual one.
        if (std::string(name) != "q1")
            ExpectSamePixels(ours, MagickRgb(path, 41, 19), 0, std::string("magick ") + name);
    }
}
