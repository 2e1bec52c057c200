// Our IFF decoder. Neither ImageMagick nor Pillow reads ILBM, so the files
// are written here from known pixels (planes, ByteRun1, mask plane) and the
// decoded picture must give those pixels back.
#include <gtest/gtest.h>

#include <random>

#include "raster/Decoders.h"
#include "tests/raster/OwnDecodeTestSupport.h"

using namespace owntest;
using raster::DecodeIff;

namespace {

void Be32(Bytes& b, uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8)
        b.push_back(static_cast<uint8_t>(v >> s));
}

void Chunk(Bytes& form, const char* id, const Bytes& data)
{
    form.insert(form.end(), id, id + 4);
    Be32(form, static_cast<uint32_t>(data.size()));
    form.insert(form.end(), data.begin(), data.end());
    if (data.size() & 1)
        form.push_back(0);
}

Bytes Bmhd(int w, int h, int planes, int masking, int compression)
{
    return {static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w), static_cast<uint8_t>(h >> 8),
            static_cast<uint8_t>(h), 0, 0, 0, 0, static_cast<uint8_t>(planes), static_cast<uint8_t>(masking),
            static_cast<uint8_t>(compression), 0, 0, 0, 10, 11, 1, 64, 0, 200};
}

// ByteRun1 with both kinds of runs.
void PackRow(Bytes& out, const uint8_t* row, size_t n)
{
    for (size_t i = 0; i < n;) {
        size_t run = 1;
        while (i + run < n && run < 128 && row[i + run] == row[i])
            ++run;
        if (run >= 2) {
            out.push_back(static_cast<uint8_t>(1 - static_cast<int>(run)));
            out.push_back(row[i]);
            i += run;
            continue;
        }
        size_t lit = 1;
        while (i + lit < n && lit < 128 && !(i + lit + 1 < n && row[i + lit] == row[i + lit + 1]))
            ++lit;
        out.push_back(static_cast<uint8_t>(lit - 1));
        out.insert(out.end(), row + i, row + i + lit);
        i += lit;
    }
}

struct Ilbm {
    int width = 0, height = 0, planes = 0;
    bool packed = true;
    bool mask = false;
    uint32_t camg = 0;
    Bytes cmap;                    // RGB triples
    std::vector<uint32_t> values;  // per pixel: index, or 0xRRGGBB for 24 planes

    Bytes Write() const
    {
        Bytes form = {'I', 'L', 'B', 'M'};
        Chunk(form, "BMHD", Bmhd(width, height, planes, mask ? 1 : 0, packed ? 1 : 0));
        if (!cmap.empty())
            Chunk(form, "CMAP", cmap);
        if (camg) {
            Bytes c;
            Be32(c, camg);
            Chunk(form, "CAMG", c);
        }
        Chunk(form, "ANNO", {'t', 'e', 's', 't', '!'});  // unknown chunk, odd size
        const size_t planeBytes = static_cast<size_t>((width + 15) / 16) * 2;
        Bytes body;
        for (int y = 0; y < height; ++y) {
            for (int p = 0; p < planes + (mask ? 1 : 0); ++p) {
                Bytes row(planeBytes, 0);
                for (int x = 0; x < width; ++x) {
                    uint32_t v = values[static_cast<size_t>(y) * width + x];
                    if (planes == 24)  // planes 0-7 red, 8-15 green, 16-23 blue
                        v = ((v >> 16) & 0xFF) | (v & 0xFF00) | ((v & 0xFF) << 16);
                    const bool bit = p == planes ? (x % 3 != 0) : ((v >> p) & 1);
                    if (bit)
                        row[static_cast<size_t>(x) / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
                }
                if (packed)
                    PackRow(body, row.data(), row.size());
                else
                    body.insert(body.end(), row.begin(), row.end());
            }
        }
        Chunk(form, "BODY", body);
        Bytes file = {'F', 'O', 'R', 'M'};
        Be32(file, static_cast<uint32_t>(form.size()));
        file.insert(file.end(), form.begin(), form.end());
        return file;
    }
};

void ExpectRgb(const Rgb& p, int x, int y, uint32_t rgb, const std::string& what)
{
    ASSERT_LT(static_cast<size_t>(y * p.width + x) * 3, p.px.size()) << what;
    const uint8_t* c = p.At(x, y);
    EXPECT_EQ(c[0], (rgb >> 16) & 0xFF) << what << " " << x << "," << y;
    EXPECT_EQ(c[1], (rgb >> 8) & 0xFF) << what << " " << x << "," << y;
    EXPECT_EQ(c[2], rgb & 0xFF) << what << " " << x << "," << y;
}

Bytes RandomCmap(std::mt19937& rng, int entries)
{
    Bytes c;
    for (int i = 0; i < 3 * entries; ++i)
        c.push_back(static_cast<uint8_t>(rng()));
    return c;
}

}  // namespace

TEST(OwnIff, PlanarPicturesGiveTheirPixelsBack)
{
    std::mt19937 rng(11);
    for (int planes = 1; planes <= 8; ++planes)
        for (int variant = 0; variant < 2; ++variant) {
            Ilbm pic;
            pic.width = variant ? 37 : 16;
            pic.height = 5;
            pic.planes = planes;
            pic.packed = variant == 1;
            pic.mask = variant == 1;
            pic.cmap = RandomCmap(rng, 1 << planes);
            for (int i = 0; i < pic.width * pic.height; ++i)  // runs and noise
                pic.values.push_back(i % 11 < 5 ? 1u % (1u << planes) : rng() % (1u << planes));
            const std::string what = std::to_string(planes) + " planes variant " + std::to_string(variant);
            const Rgb p = Decode(DecodeIff, pic.Write());
            EXPECT_EQ(p.bits, planes == 1 ? 1 : planes <= 4 ? 4 : 8) << what;
            for (int y = 0; y < pic.height; ++y)
                for (int x = 0; x < pic.width; ++x) {
                    const uint32_t i = pic.values[static_cast<size_t>(y) * pic.width + x];
                    ExpectRgb(p, x, y, pic.cmap[3 * i] << 16 | pic.cmap[3 * i + 1] << 8 | pic.cmap[3 * i + 2], what);
                }
        }
}

TEST(OwnIff, TrueColourHalfBrightAndHam)
{
    {  // 24 planes
        Ilbm pic;
        pic.width = 11;
        pic.height = 2;
        pic.planes = 24;
        for (int i = 0; i < 22; ++i)
            pic.values.push_back(static_cast<uint32_t>(i * 0x0B1D05 + 0x102030) & 0xFFFFFF);
        const Rgb p = Decode(DecodeIff, pic.Write());
        EXPECT_EQ(p.bits, 24);
        for (int i = 0; i < 22; ++i)
            ExpectRgb(p, i % 11, i / 11, pic.values[static_cast<size_t>(i)], "24 planes");
    }
    {  // extra half-bright: index 32 + i is colour i at half brightness
        Ilbm pic;
        pic.width = 3;
        pic.height = 1;
        pic.planes = 6;
        pic.camg = 0x80;
        pic.cmap.assign(96, 0);
        pic.cmap[3 * 5] = 200;
        pic.cmap[3 * 5 + 1] = 101;
        pic.cmap[3 * 5 + 2] = 7;
        pic.values = {5, 37, 63};
        const Rgb p = Decode(DecodeIff, pic.Write());
        EXPECT_EQ(p.bits, 8);
        ExpectRgb(p, 0, 0, 0xC86507, "ehb");
        ExpectRgb(p, 1, 0, 0x643203, "ehb");
        ExpectRgb(p, 2, 0, 0x000000, "ehb");
        // Without CAMG, 6 planes and 32 colours mean the same.
        pic.camg = 0;
        ExpectRgb(Decode(DecodeIff, pic.Write()), 1, 0, 0x643203, "ehb without CAMG");
        // With a CAMG that does not say so, the upper colours stay black.
        pic.camg = 0x4;
        ExpectRgb(Decode(DecodeIff, pic.Write()), 1, 0, 0x000000, "no ehb");
    }
    {  // HAM6: colour 1, then change red, green, blue in turn; a new row
       // starts again from colour 0
        Ilbm pic;
        pic.width = 5;
        pic.height = 2;
        pic.planes = 6;
        pic.camg = 0x800;
        pic.cmap = {0x10, 0x20, 0x30, 0xAA, 0xBB, 0xCC};
        pic.values = {0x01, 0x20 | 0x3, 0x30 | 0xF, 0x10 | 0x1, 0x00,
                      0x10 | 0x2, 0, 0, 0, 0};
        const Rgb p = Decode(DecodeIff, pic.Write());
        EXPECT_EQ(p.bits, 24);
        ExpectRgb(p, 0, 0, 0xAABBCC, "ham6");
        ExpectRgb(p, 1, 0, 0x33BBCC, "ham6");
        ExpectRgb(p, 2, 0, 0x33FFCC, "ham6");
        ExpectRgb(p, 3, 0, 0x33FF11, "ham6");
        ExpectRgb(p, 4, 0, 0x102030, "ham6");
        ExpectRgb(p, 0, 1, 0x102022, "ham6");
    }
    {  // HAM8: 6 data bits, the top two repeated below
        Ilbm pic;
        pic.width = 2;
        pic.height = 1;
        pic.planes = 8;
        pic.camg = 0x800;
        pic.cmap = {1, 2, 3};
        pic.values = {0x80 | 0x3F, 0xC0 | 0x20};
        const Rgb p = Decode(DecodeIff, pic.Write());
        ExpectRgb(p, 0, 0, 0xFF0203, "ham8");
        ExpectRgb(p, 1, 0, 0xFF8203, "ham8");
    }
}

TEST(OwnIff, ChunkyPbm)
{
    // 3 x 2, rows padded to 4 bytes, ByteRun1: row 0 = 9 9 9 pad, row 1 literal 1 2 3 pad
    Bytes form = {'P', 'B', 'M', ' '};
    Chunk(form, "BMHD", Bmhd(3, 2, 8, 0, 1));
    Bytes cmap(768, 0);
    for (int i = 0; i < 256; ++i)
        cmap[3 * static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    Chunk(form, "CMAP", cmap);
    Chunk(form, "BODY", {0xFD, 9, 0x03, 1, 2, 3, 0});
    Bytes file = {'F', 'O', 'R', 'M'};
    Be32(file, static_cast<uint32_t>(form.size()));
    file.insert(file.end(), form.begin(), form.end());
    const Rgb p = Decode(DecodeIff, file);
    EXPECT_EQ(p.bits, 8);
    ExpectRgb(p, 2, 0, 0x090000, "pbm");
    ExpectRgb(p, 0, 1, 0x010000, "pbm");
    ExpectRgb(p, 2, 1, 0x030000, "pbm");
    EveryPrefixIsSafe(DecodeIff, file);
}

TEST(OwnIff, RunPastTheRowEndIsCut)
{
    // 16 x 2, 1 plane, 2 bytes a row: a run of 5 x 0xFF is cut after 2 bytes;
    // the second row is its own literal 0x0F 0x00.
    Bytes form = {'I', 'L', 'B', 'M'};
    Chunk(form, "BMHD", Bmhd(16, 2, 1, 0, 1));
    Chunk(form, "CMAP", {0, 0, 0, 255, 255, 255});
    Chunk(form, "BODY", {0xFC, 0xFF, 0x01, 0x0F, 0x00});
    Bytes file = {'F', 'O', 'R', 'M'};
    Be32(file, static_cast<uint32_t>(form.size()));
    file.insert(file.end(), form.begin(), form.end());
    const Rgb p = Decode(DecodeIff, file);
    ExpectRgb(p, 15, 0, 0xFFFFFF, "row 0");
    ExpectRgb(p, 3, 1, 0x000000, "row 1");
    ExpectRgb(p, 4, 1, 0xFFFFFF, "row 1");
}

TEST(OwnIff, BrokenFilesAreRefused)
{
    std::mt19937 rng(3);
    Ilbm pic;
    pic.width = 20;
    pic.height = 3;
    pic.planes = 4;
    pic.cmap = RandomCmap(rng, 16);
    for (int i = 0; i < 60; ++i)
        pic.values.push_back(rng() % 16);
    const Bytes good = pic.Write();
    EXPECT_TRUE(Refusal(DecodeIff, good).empty());
    EveryPrefixIsSafe(DecodeIff, good);
    // Header fields at their offsets in the BMHD data (file offset 20).
    struct Case {
        const char* what;
        size_t at;
        uint8_t value;
    } cases[] = {
        {"not FORM", 0, 'X'}, {"ACBM form", 8, 'A'}, {"width 0", 21, 0}, {"height 0", 23, 0},
        {"9 planes", 28, 9}, {"compression 2", 30, 2}, {"masking 4", 29, 4},
    };
    for (const Case& c : cases) {
        Bytes f = good;
        if (c.at == 21)
            f[20] = 0;
        if (c.at == 23)
            f[22] = 0;
        f[c.at] = c.value;
        EXPECT_FALSE(Refusal(DecodeIff, f).empty()) << c.what;
    }
    // No BMHD before the BODY.
    Bytes form = {'I', 'L', 'B', 'M'};
    Chunk(form, "BODY", {0, 0});
    Bytes noHeader = {'F', 'O', 'R', 'M', 0, 0, 0, static_cast<uint8_t>(form.size())};
    noHeader.insert(noHeader.end(), form.begin(), form.end());
    EXPECT_EQ(Refusal(DecodeIff, noHeader), "Ungültige IFF-Datei");
    // A BODY shorter than the rows it must hold.
    Bytes cut(good.begin(), good.end() - 10);
    EXPECT_EQ(Refusal(DecodeIff, cut), "IFF-Datei unvollständig");
    // 65535 x 65535 x 24 planes: over the pixel-memory limit.
    Bytes big = {'I', 'L', 'B', 'M'};
    Chunk(big, "BMHD", Bmhd(65535, 65535, 24, 0, 1));
    Chunk(big, "BODY", {0x81, 0});
    Bytes huge = {'F', 'O', 'R', 'M', 0, 0, 0, static_cast<uint8_t>(big.size())};
    huge.insert(huge.end(), big.begin(), big.end());
    EXPECT_EQ(Refusal(DecodeIff, huge), "Bild zu groß");
    // 20000 x 20000 x 8 planes from two body bytes cannot be: refused before allocating.
    Bytes small = {'I', 'L', 'B', 'M'};
    Chunk(small, "BMHD", Bmhd(20000, 20000, 8, 0, 1));
    Chunk(small, "BODY", {0x81, 0});
    Bytes tiny = {'F', 'O', 'R', 'M', 0, 0, 0, static_cast<uint8_t>(small.size())};
    tiny.insert(tiny.end(), small.begin(), small.end());
    EXPECT_EQ(Refusal(DecodeIff, tiny), "IFF-Datei unvollständig");
}
