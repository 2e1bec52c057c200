// The page arithmetic the preview and the print job share, at printer scale:
// both size modes, centring, halves rounded to even, pages without area, and
// pages and pictures large enough to overflow 32 bits. (The preview figures
// and the coupled percentages are checked on the dialog itself.)
#include <gtest/gtest.h>

#include "viewer/PrintLayout.h"

namespace {

TPrintOptions Opt(bool full, bool ratio, bool centred, int b = 50, int v = 50)
{
    TPrintOptions o;
    o.UseFull = full;
    o.KeepRatio = ratio;
    o.Centred = centred;
    o.Breite = b;
    o.Hoehe = v;
    return o;
}

} // namespace

TEST(PrintLayout, FullPageOnAPortraitPage)
{
    // 4800 x 6800 page, 200 x 100 picture.
    EXPECT_EQ(PicturePlace(4800, 6800, 200, 100, Opt(true, true, true)), (TPlace{0, 2200, 4800, 2400}));
    EXPECT_EQ(PicturePlace(4800, 6800, 200, 100, Opt(true, true, false)), (TPlace{0, 0, 4800, 2400}));
    EXPECT_EQ(PicturePlace(4800, 6800, 200, 100, Opt(true, false, true)), (TPlace{0, 0, 4800, 6800}));
    // A tall picture fills the height instead: t = 4800 * 400 / 100 > 6800.
    EXPECT_EQ(PicturePlace(4800, 6800, 100, 400, Opt(true, true, true)), (TPlace{1550, 0, 1700, 6800}));
}

TEST(PrintLayout, UserDefinedRoundsHalvesToEven)
{
    EXPECT_EQ(PicturePlace(4800, 6800, 200, 100, Opt(false, false, true)), (TPlace{1200, 1700, 2400, 3400}));
    EXPECT_EQ(PicturePlace(4800, 6800, 200, 100, Opt(false, false, false)), (TPlace{0, 0, 2400, 3400}));
    // 2400.5 goes to the even 2400, 2401.5 to 2402.
    EXPECT_EQ(PicturePlace(4801, 6800, 200, 100, Opt(false, false, false)).W, 2400);
    EXPECT_EQ(PicturePlace(4803, 6800, 200, 100, Opt(false, false, false)).W, 2402);
    EXPECT_EQ(PicturePlace(4800, 6800, 200, 100, Opt(false, false, false, 100, 1)), (TPlace{0, 0, 4800, 68}));
}

TEST(PrintLayout, KeptRatioTakesTheEnteredPercentageAndThePicturesProportions)
{
    // A 4 : 3 picture at 5 % of the width: 240 x 180, not 5 % x 3 % (240 x 204).
    TPrintOptions o = Opt(false, true, true, 5, 3);
    EXPECT_EQ(PicturePlace(4800, 6800, 400, 300, o), (TPlace{2280, 3310, 240, 180}));
    // The height entered: 3 % of 6800 is 204 rows, the width follows at 272.
    o.HoeheLeads = true;
    EXPECT_EQ(PicturePlace(4800, 6800, 400, 300, o), (TPlace{2264, 3298, 272, 204}));
    EXPECT_EQ(PicturePlace(4800, 6800, 2, 3, Opt(false, true, false, 0, 0)).W, 1) << "never below one pixel";
    // The other side rounds halves to even too: 75 * 3 / 2 = 112.5 gives 112.
    TPrintOptions half = Opt(false, true, false, 1, 1);
    half.HoeheLeads = true;
    EXPECT_EQ(PicturePlace(7500, 7500, 3, 2, half), (TPlace{0, 0, 112, 75}));
    // A percentage held at 100 while the other side would pass the page: the
    // largest picture of its proportions that fits.
    EXPECT_EQ(PicturePlace(4800, 6800, 100, 400, Opt(false, true, true, 100, 100)), (TPlace{1550, 0, 1700, 6800}));
    TPrintOptions tall = Opt(false, true, false, 100, 100);
    tall.HoeheLeads = true;
    EXPECT_EQ(PicturePlace(4800, 6800, 400, 100, tall), (TPlace{0, 0, 4800, 1200}));
    // A sliver still shows as one row.
    EXPECT_EQ(PicturePlace(4800, 6800, 60000, 1, Opt(false, true, false, 100, 1)), (TPlace{0, 0, 4800, 1}));
    // Without the ratio each percentage gives its side.
    EXPECT_EQ(PicturePlace(4800, 6800, 400, 300, Opt(false, false, false, 5, 3)), (TPlace{0, 0, 240, 204}));
}

TEST(PrintLayout, NothingWithoutAreaAndNoDivisionByZero)
{
    EXPECT_EQ(PreviewPage(190, 190, 0, 0), TPlace{});
    EXPECT_EQ(PreviewPage(190, 190, 4800, 0), TPlace{});
    EXPECT_EQ(PicturePlace(0, 6800, 200, 100, Opt(true, true, true)), TPlace{});
    EXPECT_EQ(PicturePlace(4800, 6800, 0, 100, Opt(true, true, true)), TPlace{});
    // A page so flat that the preview page has no height.
    EXPECT_EQ(PreviewPage(190, 190, 100000, 10).H, 0);
}

TEST(PrintLayout, LargePagesAndPicturesDoNotOverflow)
{
    // A 2400 dpi poster page and a picture 65535 rows tall: PW * H and
    // PH * W pass 2^31. In 32 bits the width would come out negative.
    const int64_t PW = 40000, PH = 56000;
    const TPlace p = PicturePlace(PW, PH, 1000, 65535, Opt(true, true, true));
    EXPECT_EQ(p.H, PH);
    EXPECT_EQ(p.W, PH * 1000 / 65535);   // 854
    EXPECT_EQ(p.X, (PW - p.W) / 2);
    EXPECT_EQ(p.Y, 0);
    const TPlace wide = PicturePlace(PW, PH, 65535, 60000, Opt(true, true, true));
    EXPECT_EQ(wide.W, PW);
    EXPECT_EQ(wide.H, PW * 60000 / 65535);
    EXPECT_EQ(wide.Y, (PH - wide.H) / 2);
    EXPECT_EQ(PicturePlace(PW, PH, 10, 10, Opt(false, false, true, 100, 100)), (TPlace{0, 0, 40000, 56000}));
    // Preview of such a page still fits its box; a coupled percentage far
    // out of range reaches the spin edit as 101, not as a wrapped integer.
    EXPECT_EQ(PreviewPage(190, 190, 2000000, 2800000), (TPlace{27, 0, 135, 190}));
    EXPECT_EQ(RoundPercent(CoupledHoehe(100, 60000, 1, 1, 65535)), 101);
}
