// The picture record: sizes, limits, colour tables and pixel access.
#include <gtest/gtest.h>

#include <cstring>

#include "raster/Rasterwerk.h"

using namespace raster;

TEST(NewDib, LayoutIsZeroFilledAndPaddedToFourBytes)
{
    struct Case { int32_t w, h; int bits; int32_t rowBytes; };
    for (const Case c : {Case{1, 1, 1, 4}, Case{33, 2, 1, 8}, Case{3, 3, 4, 4}, Case{9, 2, 4, 8},
                         Case{5, 2, 8, 8}, Case{3, 4, 24, 12}, Case{5, 1, 24, 16}, Case{7, 2, 32, 28}}) {
        DibHandle d;
        newdib(d, c.w, c.h, c.bits, nullptr, 0);
        ASSERT_NE(d.Bits, nullptr) << c.w << "x" << c.h << "x" << c.bits;
        EXPECT_EQ(d.RowBytes, c.rowBytes);
        EXPECT_EQ(d.Info->bmiHeader.biSizeImage, uint32_t(c.rowBytes * c.h));
        EXPECT_EQ(d.Info->bmiHeader.biWidth, c.w);
        EXPECT_EQ(d.Info->bmiHeader.biHeight, c.h);
        EXPECT_EQ(d.Info->bmiHeader.biBitCount, c.bits);
        for (int32_t i = 0; i < c.rowBytes * c.h; ++i)
            ASSERT_EQ(d.Bits[i], 0);
        EXPECT_EQ(d.HasPalette, 0);
        deldib(d);
        EXPECT_EQ(d.Bits, nullptr);
        EXPECT_EQ(d.Info, nullptr);
    }
}

TEST(NewDib, CopiesColourTableAndMakesPalette)
{
    BITMAPINFO src{};
    for (int i = 0; i < 16; ++i)
        src.bmiColors[i] = RGBQUAD{uint8_t(i), uint8_t(i * 2), uint8_t(i * 3), 0};
    DibHandle d;
    newdib(d, 4, 4, 4, &src, 16);
    ASSERT_NE(d.Bits, nullptr);
    EXPECT_EQ(d.Info->bmiHeader.biClrUsed, 16u);
    EXPECT_EQ(0, std::memcmp(d.Info->bmiColors, src.bmiColors, 16 * sizeof(RGBQUAD)));
    EXPECT_EQ(d.HasPalette, 1);
    ASSERT_NE(d.PaletteHandle, nullptr);
    EXPECT_EQ(d.PaletteHandle->count, 16);
    EXPECT_EQ(d.PaletteHandle->entries[15].rgbRed, 45);
    deldib(d);
    EXPECT_EQ(d.PaletteHandle, nullptr);
}

TEST(NewDib, RefusesWithReasonInsteadOfOverflowing)
{
    struct Case { int32_t w, h; int bits, colours; };
    // 65535 x 65535 x 32 bits is 16 GiB: its 32-bit product would wrap.
    for (const Case c : {Case{0, 5, 8, 0}, Case{5, 0, 8, 0}, Case{-3, 5, 8, 0}, Case{5, -1, 24, 0},
                         Case{70000, 1, 8, 0}, Case{65535, 65535, 32, 0}, Case{40000, 40000, 8, 0},
                         Case{4, 4, 7, 0}, Case{4, 4, 0, 0}, Case{4, 4, 4, 17}, Case{4, 4, 8, 257},
                         Case{4, 4, 8, -1}}) {
        DibHandle d;
        newdib(d, c.w, c.h, c.bits, nullptr, c.colours);
        EXPECT_EQ(d.Bits, nullptr) << c.w << "x" << c.h << "x" << c.bits << " c" << c.colours;
        EXPECT_FALSE(d.ErrorText.empty());
        deldib(d);  // releasing a refused record is harmless
    }
    EXPECT_EQ(DibRowBytes(0, 8), 0u);
    EXPECT_EQ(DibRowBytes(65535, 32), 262140u);
}

TEST(PixelAccess, RoundTripsAtEveryDepthAndIgnoresOutside)
{
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        DibHandle d;
        newdib(d, 13, 3, bits, nullptr, 0);
        ASSERT_NE(d.Bits, nullptr);
        const uint32_t mask = bits == 32 ? 0xFFFFFFFFu : ((1u << bits) - 1);
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < 13; ++x)
                setpixel(d, x, y, uint32_t(x * 7 + y * 131 + 0x9E3779B9u));
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < 13; ++x)
                ASSERT_EQ(getpixel(d, x, y), uint32_t(x * 7 + y * 131 + 0x9E3779B9u) & mask)
                    << bits << " bits at " << x << "," << y;
        setpixel(d, 13, 0, 1);
        setpixel(d, -1, 0, 1);
        setpixel(d, 0, 3, 1);
        EXPECT_EQ(getpixel(d, 13, 0), 0u);
        EXPECT_EQ(getpixel(d, 0, -1), 0u);
        deldib(d);
    }
    // 1-bit pixels: leftmost pixel in the high bit, rows bottom-up.
    DibHandle d;
    newdib(d, 10, 2, 1, nullptr, 0);
    setpixel(d, 0, 0, 1);
    setpixel(d, 9, 1, 1);
    EXPECT_EQ(d.Bits[0], 0x80);
    EXPECT_EQ(d.Bits[d.RowBytes + 1], 0x40);
    setpixel(d, 0, 0, 0);
    EXPECT_EQ(d.Bits[0], 0x00);
    deldib(d);
}
