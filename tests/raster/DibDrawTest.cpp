// DrawDibScaled through the memory raster context: clipping with its
// rounding, the choice of method, palettes, bounded work and the fallbacks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "raster/DeviceContext.h"
#include "raster/DibDraw.h"
#include "raster/Rasterwerk.h"

using namespace raster;

namespace {

constexpr uint32_t kBackground = 0x123456;

// 24-bit picture whose pixel (x, stored row y) has a colour naming its position.
DibHandle Picture24(int32_t w, int32_t h)
{
    DibHandle d;
    newdib(d, w, h, 24, nullptr, 0);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            setpixel(d, x, y, uint32_t((x & 0xFF) | ((y & 0xFF) << 8) | 0x800000));
    return d;
}

// What the device shows for source pixel (x, stored row y) of Picture24.
uint32_t Shown24(int64_t x, int64_t y) { return 0x800000 | uint32_t(x & 0xFF) | uint32_t((y & 0xFF) << 8); }

uint32_t Rgb(const RGBQUAD& c) { return (uint32_t(c.rgbRed) << 16) | (uint32_t(c.rgbGreen) << 8) | c.rgbBlue; }

DibHandle Indexed(int32_t w, int32_t h, int bits)
{
    BITMAPINFO table;
    const int n = 1 << bits;
    for (int i = 0; i < n; ++i)
        table.bmiColors[i] = RGBQUAD{uint8_t(i * 7), uint8_t(255 - i), uint8_t(i * 3 + 1), 0};
    DibHandle d;
    newdib(d, w, h, bits, &table, n);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            setpixel(d, x, y, uint32_t(x * 3 + y * 5) & uint32_t(n - 1));
    return d;
}

uint32_t ShownIndexed(const DibHandle& d, int32_t x, int32_t y) { return Rgb(d.Info->bmiColors[getpixel(d, x, y)]); }

// The bounding box of pixels that differ from the background.
Rect Painted(const MemoryDC& dc)
{
    Rect r{dc.Width(), dc.Height(), 0, 0};
    for (int32_t y = 0; y < dc.Height(); ++y)
        for (int32_t x = 0; x < dc.Width(); ++x)
            if (dc.Pixel(x, y) != kBackground) {
                r.left = std::min(r.left, x);
                r.top = std::min(r.top, y);
                r.right = std::max(r.right, x + 1);
                r.bottom = std::max(r.bottom, y + 1);
            }
    return r;
}

class DrawTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ForceScreenBitsPerPixel(32);
        SetDrawMessageSink([this](const std::string& m) { messages.push_back(m); });
    }
    void TearDown() override
    {
        ForceScreenBitsPerPixel(0);
        SetDrawMessageSink(nullptr);
    }
    std::vector<std::string> messages;
};

}  // namespace

TEST(DibHelpers, ColourCountsAndRounding)
{
    DibHandle d24 = Picture24(2, 2), d1 = Indexed(2, 2, 1), d4 = Indexed(2, 2, 4), d8 = Indexed(2, 2, 8);
    EXPECT_EQ(DibColorCount(d24), 16777216);
    EXPECT_EQ(DibColorCount(d1), 2);
    EXPECT_EQ(DibColorCount(d4), 16);
    EXPECT_EQ(DibColorCount(d8), 256);
    EXPECT_EQ(PowerOfTwo(0), 1);
    EXPECT_EQ(PowerOfTwo(-4), 1);
    EXPECT_EQ(DibWidth(d24), 2);
    EXPECT_EQ(DibBitCount(d4), 4);
    for (DibHandle* d : {&d24, &d1, &d4, &d8})
        deldib(*d);
    EXPECT_EQ(RoundHalfEven(5, 2), 2);
    EXPECT_EQ(RoundHalfEven(7, 2), 4);
    EXPECT_EQ(RoundHalfEven(-5, 2), -2);
    EXPECT_EQ(RoundHalfEven(-7, 2), -4);
    EXPECT_EQ(RoundHalfEven(2, 3), 1);
    EXPECT_EQ(RoundHalfEven(1, 3), 0);
    EXPECT_EQ(RoundHalfEven(-2, 3), -1);
}

TEST_F(DrawTest, RightAndTopCutShrinkTheDestinationAndMoveItDown)
{
    DibHandle pic = Picture24(10, 10);
    MemoryDC dc(120, 120);
    dc.Fill(kBackground);
    // Source 5..14 x 5..14 on a 10 x 10 picture: half of each side is outside.
    DrawDibScaled(dc, 0, 0, 100, 100, pic, 5, 5, 10, 10, false, SRCCOPY, true, nullptr);
    const Rect r = Painted(dc);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.right, 50);
    EXPECT_EQ(r.top, 50);  // the 50 rows above the picture's top show nothing
    EXPECT_EQ(r.bottom, 100);
    // Destination (x, 50 + r) shows column 5 + x/10 and row (from the top) r/10.
    for (int32_t y = 50; y < 100; y += 7)
        for (int32_t x = 0; x < 50; x += 3)
            ASSERT_EQ(dc.Pixel(x, y), Shown24(5 + x / 10, 9 - (y - 50) / 10)) << x << "," << y;
    deldib(pic);
}

TEST_F(DrawTest, LeftAndBottomCutKeepTheRestInPlace)
{
    DibHandle pic = Picture24(10, 10);
    MemoryDC dc(120, 120);
    dc.Fill(kBackground);
    DrawDibScaled(dc, 0, 0, 100, 100, pic, -5, -5, 10, 10, false, SRCCOPY, true, nullptr);
    const Rect r = Painted(dc);
    EXPECT_EQ(r.left, 50);
    EXPECT_EQ(r.right, 100);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.bottom, 50);
    EXPECT_EQ(dc.Pixel(50, 0), Shown24(0, 4));
    EXPECT_EQ(dc.Pixel(99, 49), Shown24(4, 0));
    deldib(pic);
}

TEST_F(DrawTest, CutSizesRoundHalvesToEven)
{
    DibHandle pic = Picture24(3, 3);
    struct Case { int32_t srcX, srcW, destW, painted; };
    // 10 x (3 - 2) / 4 = 2.5 -> 2; 10 x 3 / 4 = 7.5 -> 8; 6 x 1 / 4 = 1.5 -> 2.
    for (const Case c : {Case{2, 4, 10, 2}, Case{0, 4, 10, 8}, Case{2, 4, 6, 2}}) {
        MemoryDC dc(20, 5);
        dc.Fill(kBackground);
        DrawDibScaled(dc, 0, 0, c.destW, 3, pic, c.srcX, 0, c.srcW, 3, false, SRCCOPY, true, nullptr);
        EXPECT_EQ(Painted(dc).right, c.painted) << c.srcX << " " << c.srcW << " " << c.destW;
    }
    // A rectangle wholly outside the picture, or empty, draws nothing and does not divide by zero.
    MemoryDC dc(20, 5);
    dc.Fill(kBackground);
    for (const Rect s : {Rect{3, 0, 5, 3}, Rect{-4, 0, -1, 3}, Rect{0, -3, 3, 0}, Rect{0, 3, 3, 6}, Rect{0, 0, 0, 3}})
        DrawDibScaled(dc, 0, 0, 10, 5, pic, s.left, s.top, s.right - s.left, s.bottom - s.top, false, SRCCOPY, true,
                      nullptr);
    DrawDibScaled(dc, 0, 0, 0, 5, pic, 0, 0, 3, 3, false, SRCCOPY, true, nullptr);
    EXPECT_TRUE(Painted(dc).Empty());
    deldib(pic);
}

TEST_F(DrawTest, EnlargingTwoByTwoByRowsRepeatsColumnsAndRows)
{
    DibHandle pic = Picture24(2, 2);
    MemoryDC dc(4, 4);
    DrawDibScaled(dc, 0, 0, 4, 4, pic, 0, 0, 2, 2, false, SRCCOPY, true, nullptr);
    const int cols[4] = {0, 0, 1, 1}, rowsFromTop[4] = {0, 0, 1, 1};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(dc.Pixel(x, y), Shown24(cols[x], 1 - rowsFromTop[y]));
    EXPECT_EQ(dc.calls.setDIBitsToDevice, 4);
    EXPECT_EQ(dc.calls.stretchDIBits, 0);

    DibHandle pic8 = Indexed(2, 2, 8);
    MemoryDC dc8(4, 4);
    DrawDibScaled(dc8, 0, 0, 4, 4, pic8, 0, 0, 2, 2, false, SRCCOPY, true, nullptr);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(dc8.Pixel(x, y), ShownIndexed(pic8, cols[x], 1 - rowsFromTop[y]));
    EXPECT_EQ(dc8.calls.stretchDIBits, 0);
    deldib(pic);
    deldib(pic8);
}

TEST_F(DrawTest, MethodFollowsDepthsAndDevice)
{
    DibHandle p24 = Picture24(8, 8), p8 = Indexed(8, 8, 8), p4 = Indexed(8, 8, 4), p1 = Indexed(8, 8, 1);
    enum Method { Rows, Stretch, Halftoned };
    struct Case { const DibHandle* pic; int screen; bool halftone; bool printer; Method want; };
    const Case cases[] = {
        {&p24, 32, true, false, Rows},      {&p24, 16, true, false, Rows},    {&p24, 8, true, false, Halftoned},
        {&p24, 8, false, false, Rows},      {&p8, 8, true, false, Rows},      {&p8, 32, true, false, Rows},
        {&p4, 32, true, false, Stretch},    {&p1, 32, true, false, Stretch},  {&p24, 32, true, true, Stretch},
        {&p24, 8, true, true, Halftoned},   {&p24, 8, false, true, Stretch},  {&p8, 8, true, true, Stretch},
        {&p4, 8, true, true, Stretch},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << DibBitCount(*c.pic) << " bits, screen " << c.screen << ", halftone "
                                        << c.halftone << ", printer " << c.printer);
        ForceScreenBitsPerPixel(c.screen);
        MemoryDC dc(16, 16);
        if (c.printer)
            dc.technology = DT_RASPRINTER;
        DrawDibScaled(dc, 0, 0, 16, 16, *c.pic, 0, 0, 8, 8, c.halftone, SRCCOPY, true, nullptr);
        EXPECT_EQ(dc.StretchMode(), COLORONCOLOR);
        switch (c.want) {
        case Rows:
            EXPECT_EQ(dc.calls.setDIBitsToDevice, 16);
            EXPECT_EQ(dc.calls.stretchDIBits, 0);
            break;
        case Stretch:
            EXPECT_EQ(dc.calls.setDIBitsToDevice, 0);
            EXPECT_EQ(dc.calls.stretchDIBits, 1);
            EXPECT_EQ(dc.calls.lastStretchBits, DibBitCount(*c.pic));
            break;
        case Halftoned:
            EXPECT_EQ(dc.calls.setDIBitsToDevice, 0);
            EXPECT_EQ(dc.calls.stretchDIBits, 1);
            EXPECT_EQ(dc.calls.lastStretchBits, 8);
            break;
        }
        EXPECT_NE(dc.Pixel(5, 5), 0u);
    }
    for (DibHandle* d : {&p24, &p8, &p4, &p1})
        deldib(*d);
}

TEST_F(DrawTest, StretchedIndexedPictureShowsItsColours)
{
    DibHandle p4 = Indexed(5, 3, 4), p1 = Indexed(9, 2, 1);
    for (const DibHandle* p : {&p4, &p1}) {
        MemoryDC dc(2 * DibWidth(*p), 2 * DibHeight(*p));
        DrawDibScaled(dc, 0, 0, dc.Width(), dc.Height(), *p, 0, 0, DibWidth(*p), DibHeight(*p), false, SRCCOPY, true,
                      nullptr);
        for (int32_t y = 0; y < dc.Height(); ++y)
            for (int32_t x = 0; x < dc.Width(); ++x)
                ASSERT_EQ(dc.Pixel(x, y), ShownIndexed(*p, x / 2, DibHeight(*p) - 1 - y / 2)) << x << "," << y;
    }
    deldib(p4);
    deldib(p1);
}

TEST_F(DrawTest, HalftoneWhenShrinkingTakesTheRightPartOfTheSmallPicture)
{
    ForceScreenBitsPerPixel(8);
    // Left half pure red, right half pure blue, both on the halftone cube.
    DibHandle pic;
    newdib(pic, 40, 20, 24, nullptr, 0);
    for (int32_t y = 0; y < 20; ++y)
        for (int32_t x = 0; x < 40; ++x)
            setpixel(pic, x, y, x < 20 ? 0xFF0000u : 0x0000FFu);
    MemoryDC dc(20, 10, 8);
    // Right half of the picture at half size: all blue.
    DrawDibScaled(dc, 0, 0, 10, 10, pic, 20, 0, 20, 20, true, SRCCOPY, false, nullptr);
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 10; ++x)
            ASSERT_EQ(dc.Pixel(x, y), 0x0000FFu) << x << "," << y;
    EXPECT_EQ(dc.calls.lastStretchBits, 8);
    deldib(pic);
}

TEST_F(DrawTest, PaletteIsSelectedRealizedAndRestored)
{
    DibHandle pic = Indexed(4, 4, 8);
    LogPalette before;
    before.count = 1;
    LogPalette given;
    given.count = 256;
    for (int i = 0; i < 256; ++i)
        given.entries[i] = RGBQUAD{uint8_t(i), 0, uint8_t(255 - i), 0};
    for (bool own : {true, false}) {
        MemoryDC dc(4, 4, 8);
        dc.SelectPalette(&before, false);
        DrawDibScaled(dc, 0, 0, 4, 4, pic, 0, 0, 4, 4, false, SRCCOPY, own, &given);
        EXPECT_EQ(dc.SelectedPalette(), &before);
        EXPECT_EQ(dc.calls.realizePalette, 1);
        const RGBQUAD want = own ? pic.PaletteHandle->entries[200] : given.entries[200];
        EXPECT_EQ(Rgb(dc.DevicePalette()[200]), Rgb(want)) << own;
    }
    // A 24-bit picture has no palette: nothing is selected on the row path.
    DibHandle p24 = Picture24(4, 4);
    MemoryDC dc(4, 4, 8);
    DrawDibScaled(dc, 0, 0, 4, 4, p24, 0, 0, 4, 4, false, SRCCOPY, true, &given);
    EXPECT_EQ(dc.calls.selectPalette, 0);
    deldib(pic);
    deldib(p24);
}

TEST_F(DrawTest, HugeZoomIsComputedIn64BitsAndBoundedByTheClip)
{
    DibHandle pic = Picture24(6000, 4000);
    // 9000 %: 540000 x 360000 destination pixels; 540000 x 6000 overflows 32 bits.
    const int32_t destW = 540000, destH = 360000;
    MemoryDC dc(1000, 700);
    dc.Fill(kBackground);
    // Scrolled to the bottom-right corner of the picture.
    const int32_t destX = 1000 - destW, destY = 700 - destH;
    DrawDibScaled(dc, destX, destY, destW, destH, pic, 0, 0, 6000, 4000, false, SRCCOPY, true, nullptr);
    EXPECT_EQ(dc.calls.pixelsWritten, 1000u * 700u);
    EXPECT_EQ(dc.calls.setDIBitsToDevice, 700);
    EXPECT_EQ(dc.Pixel(999, 699), Shown24(5999, 0));
    EXPECT_EQ(dc.Pixel(0, 0), Shown24((int64_t(-destX) * 6000) / destW, 4000 - 1 - (int64_t(-destY) * 4000) / destH));
    // The same through the stretch method with a source rectangle past the right edge.
    MemoryDC printer(1000, 700);
    printer.technology = DT_RASPRINTER;
    DrawDibScaled(printer, destX, destY, destW, destH, pic, 0, 0, 6000, 4000, false, SRCCOPY, true, nullptr);
    EXPECT_EQ(printer.calls.pixelsWritten, 1000u * 700u);
    EXPECT_EQ(printer.Pixel(999, 699), Shown24(5999, 0));
    deldib(pic);
}

TEST_F(DrawTest, FailedStretchFallsBackToSampledCopy)
{
    DibHandle p4 = Indexed(3, 3, 4), p1 = Indexed(3, 3, 1), p24 = Picture24(3, 3);
    for (const DibHandle* p : {&p4, &p1, &p24}) {
        MemoryDC dc(5, 5);
        dc.technology = DT_RASPRINTER;
        dc.fail.stretchDIBits = true;
        DrawDibScaled(dc, 0, 0, 5, 5, *p, 0, 0, 3, 3, false, SRCCOPY, true, nullptr);
        EXPECT_EQ(dc.calls.setDIBitsToDevice, 1);
        // Aligned ends: columns 0,0,1,1,2 and stored rows 0,0,1,1,2 (bottom up).
        const int map[5] = {0, 0, 1, 1, 2};
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 5; ++x) {
                const int storedRow = map[4 - y];
                const uint32_t want = DibBitCount(*p) == 24 ? Shown24(map[x], storedRow)
                                                             : ShownIndexed(*p, map[x], storedRow);
                ASSERT_EQ(dc.Pixel(x, y), want) << DibBitCount(*p) << " bits at " << x << "," << y;
            }
    }
    // One pixel wide or high: the first column or row, no fault.
    MemoryDC thin(5, 5);
    thin.fail.stretchDIBits = true;
    thin.Fill(kBackground);
    DrawDibScaled(thin, 0, 0, 1, 5, p4, 0, 0, 3, 3, false, SRCCOPY, true, nullptr);
    DrawDibScaled(thin, 2, 0, 3, 1, p4, 0, 0, 3, 3, false, SRCCOPY, true, nullptr);
    EXPECT_EQ(thin.Pixel(0, 4), ShownIndexed(p4, 0, 0));
    EXPECT_EQ(thin.Pixel(2, 0), ShownIndexed(p4, 0, 0));
    EXPECT_EQ(thin.Pixel(4, 0), ShownIndexed(p4, 2, 0));
    EXPECT_TRUE(messages.empty());
    for (DibHandle* d : {&p4, &p1, &p24})
        deldib(*d);
}

TEST_F(DrawTest, DeviceBitmapFallbackKeepsTheSourceBandAndReportsFailures)
{
    DibHandle p4 = Indexed(4, 6, 4);
    // Without RC_DIBTODEV: compatible bitmap and StretchBlt. Source rows 1..2
    // counted from the bottom, drawn at 2x.
    MemoryDC dc(8, 4);
    dc.rasterCaps &= ~RC_DIBTODEV;
    dc.fail.stretchDIBits = true;
    DrawDibScaled(dc, 0, 0, 8, 4, p4, 0, 1, 4, 2, false, SRCCOPY, true, nullptr);
    EXPECT_EQ(dc.calls.setDIBitsToDevice, 0);
    EXPECT_EQ(dc.calls.stretchBlt, 1);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            ASSERT_EQ(dc.Pixel(x, y), ShownIndexed(p4, x / 2, 2 - y / 2)) << x << "," << y;
    EXPECT_TRUE(messages.empty());

    struct Case { bool dibToDevFails, bitmapFails, setDIBitsFails, stretchBltFails; const char* message; };
    for (const Case c : {Case{true, true, false, false, "Konnte Bitmap nicht erzeugen!"},
                         Case{true, false, true, false, "Das Gerät unterstützt die Funtkion setdibits nicht!"},
                         Case{true, false, false, true, "Das Gerät unterstützt die Funktion StretchBlt nicht!"}}) {
        messages.clear();
        MemoryDC failing(8, 4);
        failing.fail.stretchDIBits = true;
        failing.fail.setDIBitsToDevice = c.dibToDevFails;
        failing.fail.createBitmap = c.bitmapFails;
        failing.fail.setDIBits = c.setDIBitsFails;
        failing.fail.stretchBlt = c.stretchBltFails;
        DrawDibScaled(failing, 0, 0, 8, 4, p4, 0, 0, 4, 6, false, SRCCOPY, true, nullptr);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], c.message);
    }
    deldib(p4);
}

TEST_F(DrawTest, RowsAreClippedToTheClipBox)
{
    DibHandle pic = Picture24(100, 100);
    MemoryDC dc(100, 100);
    dc.Fill(kBackground);
    dc.SetClip(Rect{10, 20, 30, 25});
    DrawDibScaled(dc, 0, 0, 100, 100, pic, 0, 0, 100, 100, false, SRCCOPY, true, nullptr);
    EXPECT_EQ(dc.calls.setDIBitsToDevice, 5);
    EXPECT_EQ(dc.calls.pixelsWritten, 100u);
    const Rect r = Painted(dc);
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 20);
    EXPECT_EQ(r.right, 30);
    EXPECT_EQ(r.bottom, 25);
    EXPECT_EQ(dc.Pixel(10, 20), Shown24(10, 79));
    deldib(pic);
}

TEST(ScreenDepth, QueryAndForce)
{
    SetScreenDepthQuery([] { return 16; });
    EXPECT_EQ(ScreenBitsPerPixel(), 16);
    ForceScreenBitsPerPixel(8);
    EXPECT_EQ(ScreenBitsPerPixel(), 8);
    ForceScreenBitsPerPixel(0);
    SetScreenDepthQuery(nullptr);
    EXPECT_EQ(ScreenBitsPerPixel(), 32);
}

TEST_F(DrawTest, HalftonedZoomOfAClippedPartMatchesTheWholeDrawing)
{
    ForceScreenBitsPerPixel(8);
    DibHandle pic;
    newdib(pic, 37, 29, 24, nullptr, 0);
    for (int32_t y = 0; y < 29; ++y)
        for (int32_t x = 0; x < 37; ++x)
            setpixel(pic, x, y, uint32_t((x * 7) | ((y * 9) << 8) | (((x + y) * 3) << 16)));
    MemoryDC whole(150, 120, 8), part(150, 120, 8);
    const Rect clip{41, 33, 97, 88};
    part.SetClip(clip);
    for (MemoryDC* dc : {&whole, &part})
        DrawDibScaled(*dc, -13, -7, 185, 145, pic, 0, 0, 37, 29, true, SRCCOPY, false, nullptr);
    EXPECT_EQ(part.calls.lastStretchBits, 8);
    EXPECT_EQ(part.calls.pixelsWritten, uint64_t(56 * 55));
    for (int32_t y = clip.top; y < clip.bottom; ++y)
        for (int32_t x = clip.left; x < clip.right; ++x)
            ASSERT_EQ(part.Raw(x, y), whole.Raw(x, y)) << x << "," << y;
    deldib(pic);
}
