// The page arithmetic the preview and the print job share: both size modes,
// centring, the preview page of portrait and landscape printers, the coupled
// percentages, and pages and pictures large enough to overflow 32 bits.
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
    // The ratio check box plays no part here.
    EXPECT_EQ(PicturePlace(4800, 6800, 200, 100, Opt(false, true, true)), (TPlace{1200, 1700, 2400, 3400}));
    EXPECT_EQ(PicturePlace(4800, 6800, 200, 100, Opt(false, false, false)), (TPlace{0, 0, 2400, 3400}));
    // 2400.5 goes to the even 2400, 2401.5 to 2402.
    EXPECT_EQ(PicturePlace(4801, 6800, 200, 100, Opt(false, false, false)).W, 2400);
    EXPECT_EQ(PicturePlace(4803, 6800, 200, 100, Opt(false, false, false)).W, 2402);
    EXPECT_EQ(PicturePlace(4800, 6800, 200, 100, Opt(false, false, false, 100, 1)), (TPlace{0, 0, 4800, 68}));
}

TEST(PrintLayout, PreviewPageOfPortraitAndLandscapePrinters)
{
    const TPlace portrait = PreviewPage(190, 190, 4800, 6800);
    EXPECT_EQ(portrait, (TPlace{28, 0, 134, 190}));
    const TPlace pic = PicturePlace(portrait.W, portrait.H, 200, 100, Opt(true, true, true));
    EXPECT_EQ(portrait.X + pic.X, 28);
    EXPECT_EQ(portrait.Y + pic.Y, 61);
    EXPECT_EQ(pic.W, 134);
    EXPECT_EQ(pic.H, 67);
    EXPECT_EQ(PreviewPage(190, 190, 6800, 4800), (TPlace{0, 28, 190, 134}));
    // A square page counts as portrait and fills the box.
    EXPECT_EQ(PreviewPage(190, 190, 5000, 5000), (TPlace{0, 0, 190, 190}));
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

TEST(PrintLayout, CoupledPercentages)
{
    // B = 50 on a 200 x 100 picture: v = 17.6, cut to 17.
    const double v = CoupledHoehe(50, 4800, 6800, 200, 100);
    EXPECT_NEAR(v, 17.647, 0.001);
    EXPECT_EQ(TruncPercent(v), 17);
    // 100 x 400 at B = 50: v = 141.2 is clamped to 100 and B derived back: 35.
    const double tall = CoupledHoehe(50, 4800, 6800, 100, 400);
    EXPECT_NEAR(tall, 141.18, 0.01);
    EXPECT_EQ(TruncPercent(CoupledBreite(100, 4800, 6800, 100, 400)), 35);
    // Far out of range values become just outside the edit's range, never wrap.
    EXPECT_EQ(TruncPercent(CoupledHoehe(100, 60000, 1, 1, 65535)), 101);
    EXPECT_EQ(TruncPercent(-5.0), 0);
    EXPECT_EQ(TruncPercent(0.99), 0);
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
    // Preview of such a page still fits its box.
    EXPECT_EQ(PreviewPage(190, 190, 2000000, 2800000), (TPlace{27, 0, 135, 190}));
}
