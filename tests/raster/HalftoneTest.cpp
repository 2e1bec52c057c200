// Halftoning to the fixed colour cube: exact cube colours, preserved averages,
// box-filtered shrinking and refusals.
#include <gtest/gtest.h>

#include "raster/Rasterwerk.h"

using namespace raster;

namespace {

DibHandle Flat(int32_t w, int32_t h, uint32_t rgb)
{
    DibHandle d;
    newdib(d, w, h, 24, nullptr, 0);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            setpixel(d, x, y, rgb);
    return d;
}

// Mean shown colour of a halftoned picture, per channel (r, g, b).
void Mean(const DibHandle& d, double out[3], int32_t x0 = 0, int32_t x1 = -1)
{
    const int32_t w = d.Info->bmiHeader.biWidth, h = d.Info->bmiHeader.biHeight;
    if (x1 < 0)
        x1 = w;
    double s[3] = {0, 0, 0};
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = x0; x < x1; ++x) {
            const RGBQUAD& c = d.Info->bmiColors[getpixel(d, x, y)];
            s[0] += c.rgbRed;
            s[1] += c.rgbGreen;
            s[2] += c.rgbBlue;
        }
    for (int i = 0; i < 3; ++i)
        out[i] = s[i] / (double(h) * (x1 - x0));
}

}  // namespace

TEST(Halftone, PaletteIsTheCubeAndCubeColoursStayExact)
{
    const LogPalette& p = HalftonePalette();
    ASSERT_EQ(p.count, 216);
    for (int i = 0; i < 216; ++i) {
        EXPECT_EQ(p.entries[i].rgbBlue % 51, 0);
        EXPECT_EQ(p.entries[i].rgbRed, (i / 36) * 51);
    }
    for (uint32_t rgb : {0x000000u, 0xFFFFFFu, 0x3366FFu, 0xCC0099u}) {
        DibHandle src = Flat(19, 11, rgb), out;
        DIBHalftoneDIB(out, src);
        ASSERT_NE(out.Bits, nullptr);
        EXPECT_EQ(out.Info->bmiHeader.biBitCount, 8);
        EXPECT_EQ(out.Info->bmiHeader.biWidth, 19);
        EXPECT_EQ(out.HasPalette, 1);
        for (int32_t y = 0; y < 11; ++y)
            for (int32_t x = 0; x < 19; ++x) {
                const RGBQUAD& c = out.Info->bmiColors[getpixel(out, x, y)];
                ASSERT_EQ((uint32_t(c.rgbRed) << 16) | (uint32_t(c.rgbGreen) << 8) | c.rgbBlue, rgb);
            }
        deldib(src);
        deldib(out);
    }
}

TEST(Halftone, DitherKeepsTheMeanColour)
{
    for (uint32_t rgb : {0x808080u, 0x1A9F40u, 0xF0E0D0u, 0x050A0Fu}) {
        DibHandle src = Flat(64, 64, rgb), out;
        DIBHalftoneDIB(out, src);
        double m[3];
        Mean(out, m);
        EXPECT_NEAR(m[0], (rgb >> 16) & 255, 2.5) << std::hex << rgb;
        EXPECT_NEAR(m[1], (rgb >> 8) & 255, 2.5) << std::hex << rgb;
        EXPECT_NEAR(m[2], rgb & 255, 2.5) << std::hex << rgb;
        deldib(src);
        deldib(out);
    }
}

TEST(Halftone, ShrinkingAveragesTheCoveredArea)
{
    // Alternating black and white columns shrink to grey, not to one of them;
    // the right half is pure blue and stays so.
    DibHandle src;
    newdib(src, 400, 160, 24, nullptr, 0);
    for (int32_t y = 0; y < 160; ++y)
        for (int32_t x = 0; x < 400; ++x)
            setpixel(src, x, y, x >= 200 ? 0x0000FFu : (x & 1) ? 0xFFFFFFu : 0u);
    DibHandle out;
    DIBHalftoneDIBXY(out, src, 40, 16);
    ASSERT_NE(out.Bits, nullptr);
    EXPECT_EQ(out.Info->bmiHeader.biWidth, 40);
    EXPECT_EQ(out.Info->bmiHeader.biHeight, 16);
    double left[3], right[3];
    Mean(out, left, 0, 20);
    Mean(out, right, 20, 40);
    EXPECT_NEAR(left[0], 127.5, 6);
    EXPECT_NEAR(left[2], 127.5, 6);
    EXPECT_EQ(right[0], 0);
    EXPECT_EQ(right[2], 255);
    deldib(out);
    // Enlarging: each output pixel is its nearest source pixel.
    DIBHalftoneDIBXY(out, src, 800, 320);
    ASSERT_NE(out.Bits, nullptr);
    EXPECT_EQ(out.Info->bmiColors[getpixel(out, 799, 0)].rgbBlue, 255);
    deldib(out);
    deldib(src);
}

TEST(Halftone, IndexedSourcesGoThroughTheirColourTable)
{
    BITMAPINFO table;
    table.bmiColors[0] = RGBQUAD{0, 0, 255, 0};    // red
    table.bmiColors[1] = RGBQUAD{255, 255, 0, 0};  // cyan
    DibHandle src;
    newdib(src, 16, 4, 1, &table, 2);
    for (int32_t x = 8; x < 16; ++x)
        for (int32_t y = 0; y < 4; ++y)
            setpixel(src, x, y, 1);
    DibHandle out;
    DIBHalftoneDIB(out, src);
    ASSERT_NE(out.Bits, nullptr);
    EXPECT_EQ(out.Info->bmiColors[getpixel(out, 0, 0)].rgbRed, 255);
    EXPECT_EQ(out.Info->bmiColors[getpixel(out, 15, 3)].rgbBlue, 255);
    EXPECT_EQ(out.Info->bmiColors[getpixel(out, 15, 3)].rgbRed, 0);
    deldib(out);
    deldib(src);
}

TEST(Halftone, RefusesMissingPicturesAndBadSizes)
{
    DibHandle none, out;
    DIBHalftoneDIB(out, none);
    EXPECT_EQ(out.Bits, nullptr);
    EXPECT_FALSE(out.ErrorText.empty());
    DibHandle src = Flat(4, 4, 0x102030);
    for (auto [w, h] : {std::pair{0, 4}, std::pair{4, -1}, std::pair{70000, 2}}) {
        DIBHalftoneDIBXY(out, src, w, h);
        EXPECT_EQ(out.Bits, nullptr) << w << "x" << h;
        EXPECT_FALSE(out.ErrorText.empty());
    }
    deldib(src);
}
