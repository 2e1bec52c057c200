// The print dialog on real widgets with a printer whose page is 4800 x 6800
// device pixels: the preview of portrait and landscape pages, the coupling of
// the percentages and its clamp, the printer set-up, and the percentages and
// window place kept in the settings store.
#include <memory>

#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <QSettings>
#include <QWidget>

#include <gtest/gtest.h>

#include "raster/DibDraw.h"
#include "ui/Canvas.h"
#include "ui/Printer.h"
#include "ui/ScriptedResponder.h"
#include "ui/ScrollBox.h"
#include "ui/SpinEdit.h"
#include "viewer/PrintFUnit.h"
#include "ViewerTestSupport.h"

using viewertest::Picture;
using viewertest::WaitFor;

namespace {

constexpr TColor kPicture = RGB(200, 30, 40);

class PrintDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        viewertest::PrivateSettings();
        raster::ForceScreenBitsPerPixel(32);
        // 576 x 816 pt at 600 dpi without margins: 4800 x 6800 device pixels.
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setResolution(600);
        printer.setPageLayout(QPageLayout(QPageSize(QSize(576, 816), QPageSize::Point, QString(),
                                                    QPageSize::ExactMatch),
                                          QPageLayout::Portrait, QMarginsF(), QPageLayout::Point));
    }
    void TearDown() override { raster::ForceScreenBitsPerPixel(0); }

    std::unique_ptr<TPrintForm> Make(const Picture& pic)
    {
        auto f = std::make_unique<TPrintForm>();
        f->Printer = &printer;
        f->PrintPicture = pic.dib;
        return f;
    }
    static TColor At(TPrintForm& f, int x, int y) { return f.PrintPaintBox->Canvas().Pixel(x, y); }

    QPrinter printer{QPrinter::HighResolution};
};

} // namespace

TEST_F(PrintDialog, PreviewOfPortraitAndLandscapePages)
{
    Picture pic(200, 100);
    auto f = Make(pic);
    f->Show();
    ASSERT_TRUE(WaitFor([&] { return f->PreviewDraws() > 0; }));
    ASSERT_EQ(PrintablePage(printer).Height, 6800);
    // One run of the preview draws twice (its own and the nested repaint of
    // BreitEditChange), and the guard ends it there.
    const long draws = f->PreviewDraws();
    f->PrintPaintBoxPaint();
    EXPECT_EQ(f->PreviewDraws(), draws + 2);
    EXPECT_FALSE(f->SyncBusy);
    // Page 134 x 190 at (28, 0); the picture 134 x 67 at (28, 61).
    EXPECT_EQ(At(*f, 28, 0), clWhite);
    EXPECT_EQ(At(*f, 161, 189), clWhite);
    EXPECT_NE(At(*f, 27, 100), clWhite);
    EXPECT_NE(At(*f, 162, 100), clWhite);
    EXPECT_EQ(At(*f, 28, 61), kPicture);
    EXPECT_EQ(At(*f, 161, 127), kPicture);
    EXPECT_EQ(At(*f, 28, 60), clWhite);
    EXPECT_EQ(At(*f, 100, 128), clWhite);

    // Not centred: at the page's corner.
    f->ZentrCheck->Checked = false;
    EXPECT_EQ(At(*f, 28, 0), kPicture);
    EXPECT_EQ(At(*f, 28, 67), clWhite);
    // Stretched over the whole page without the ratio.
    f->SverhCheck->Checked = false;
    EXPECT_EQ(At(*f, 28, 189), kPicture);

    // The set-up turns the page: 190 x 134 at (0, 28), drawn again at once.
    TScriptedResponder r;
    TResponderScope scope(r);
    r.AnswerPrinterSetup([](QPrinter& p) { return p.setPageOrientation(QPageLayout::Landscape); });
    f->PrintSetupBtn->Click();
    EXPECT_EQ(r.Unanswered(), 0);
    EXPECT_EQ(PrintablePage(printer).Width, 6800);
    EXPECT_EQ(At(*f, 0, 28), kPicture);
    EXPECT_EQ(At(*f, 189, 161), kPicture);
    EXPECT_NE(At(*f, 100, 27), kPicture);
    // A cancelled set-up leaves the printer as it was.
    r.AnswerPrinterSetup([](QPrinter&) { return false; });
    f->PrintSetupBtn->Click();
    EXPECT_EQ(PrintablePage(printer).Width, 6800);
}

TEST_F(PrintDialog, UserDefinedSizeInThePreview)
{
    Picture pic(200, 100);
    auto f = Make(pic);
    f->SverhCheck->Checked = false;   // before the show couples V to B
    f->Show();
    f->UserdefCheck->Checked = true;
    // 50 % x 50 % of 134 x 190: 67 x 95 centred at (28 + 33, 47).
    EXPECT_EQ(At(*f, 61, 47), kPicture);
    EXPECT_EQ(At(*f, 127, 141), kPicture);
    EXPECT_EQ(At(*f, 60, 47), clWhite);
    EXPECT_EQ(At(*f, 128, 141), clWhite);
    EXPECT_EQ(At(*f, 61, 142), clWhite);
    f->BreitEdit->Value = 100;
    EXPECT_EQ(At(*f, 28, 100), kPicture);
    EXPECT_EQ(At(*f, 161, 100), kPicture);
}

TEST_F(PrintDialog, PercentagesStayInProportionAndClampTogether)
{
    Picture wide(200, 100);
    auto f = Make(wide);
    f->Show();   // synchronises at once: B = 50 gives V = 18 (17.6 rounded)
    EXPECT_EQ(f->HochEdit->Value(), 18);
    f->BreitEdit->Value = 80;   // 28.2
    EXPECT_EQ(f->HochEdit->Value(), 28);
    f->HochEdit->Value = 20;    // b = 56.7
    EXPECT_EQ(f->BreitEdit->Value(), 57);
    f->HochEdit->Value = 40;    // b = 113.3: B clamps to 100, V comes back to 35
    EXPECT_EQ(f->BreitEdit->Value(), 100);
    EXPECT_EQ(f->HochEdit->Value(), 35);
    EXPECT_FALSE(f->SyncBusy);

    // Without the ratio the two are independent.
    f->SverhCheck->Checked = false;
    f->BreitEdit->Value = 10;
    EXPECT_EQ(f->HochEdit->Value(), 35);
    // Ticking "Benutzerdefiniert" with the ratio kept brings them in line again.
    f->SverhCheck->Checked = true;
    f->UserdefCheck->Checked = true;
    EXPECT_EQ(f->HochEdit->Value(), 4);   // 3.5

    Picture tall(100, 400);
    auto g = Make(tall);
    g->BreitEdit->Value = 50;
    g->Show();   // v = 141.2: V clamps to 100 and B is derived back to 35
    EXPECT_EQ(g->HochEdit->Value(), 100);
    EXPECT_EQ(g->BreitEdit->Value(), 35);

    // A sliver 1 x 60000 at B = 1: v far below 1, V stays 1 and B follows.
    Picture sliver(60000, 1);
    auto h = Make(sliver);
    h->BreitEdit->Value = 1;
    h->Show();
    EXPECT_EQ(h->HochEdit->Value(), 1);
    EXPECT_EQ(h->BreitEdit->Value(), 100);
}

TEST_F(PrintDialog, EnteredPercentageSetsTheSizeAndTheOtherFollowsThePicture)
{
    // A 4 : 3 picture: whole percentages of both sides would distort it.
    Picture pic(400, 300);
    auto f = Make(pic);
    f->Show();
    // "Seite voll nutzen": the percentages take no input.
    EXPECT_FALSE(f->BreitEdit->Enabled());
    EXPECT_FALSE(f->HochEdit->Enabled());
    f->UserdefCheck->Click();
    EXPECT_TRUE(f->BreitEdit->Enabled());
    EXPECT_TRUE(f->HochEdit->Enabled());

    f->BreitEdit->Value = 5;   // v = 2.65
    EXPECT_EQ(f->HochEdit->Value(), 3);
    EXPECT_EQ(PicturePlace(4800, 6800, 400, 300, f->Options()), (TPlace{2280, 3310, 240, 180}));
    f->HochEdit->Value = 4;    // the height entered: b = 7.6
    EXPECT_EQ(f->BreitEdit->Value(), 8);
    EXPECT_EQ(PicturePlace(4800, 6800, 400, 300, f->Options()), (TPlace{2218, 3264, 363, 272}));
    // Painting the preview again changes neither value nor which one leads.
    f->PrintPaintBoxPaint();
    f->PrintPaintBoxPaint();
    EXPECT_EQ(f->HochEdit->Value(), 4);
    EXPECT_EQ(f->BreitEdit->Value(), 8);
    EXPECT_TRUE(f->Options().HoeheLeads);
    // The preview's picture is 4 : 3 as well: 363 x 272 of 4800 x 6800 in a
    // page of 134 x 190 is 11 x 8 pixels, centred.
    const TPlace page = PreviewPage(190, 190, 4800, 6800);
    const TPlace inBox = PicturePlace(page.W, page.H, 400, 300, f->Options());
    EXPECT_EQ(inBox.H, 8);
    EXPECT_EQ(inBox.W, 11);
    EXPECT_EQ(At(*f, page.X + inBox.X, page.Y + inBox.Y), kPicture);
    EXPECT_EQ(At(*f, page.X + inBox.X + inBox.W, page.Y + inBox.Y), clWhite);

    f->UseFullCheck->Click();
    EXPECT_FALSE(f->BreitEdit->Enabled());
    EXPECT_FALSE(f->RxLabel3->Enabled());
}

TEST_F(PrintDialog, PercentagesAndPlaceAreKeptAndHostileValuesClamped)
{
    Picture pic(200, 100);
    {
        auto f = Make(pic);
        f->SverhCheck->Checked = false;
        f->BreitEdit->Value = 64;
        f->HochEdit->Value = 12;
        f->Show();
        f->Widget()->move(40, 30);
        f->SaveSettings();
    }
    {
        auto f = Make(pic);
        EXPECT_EQ(f->BreitEdit->Value(), 64);
        EXPECT_EQ(f->HochEdit->Value(), 12);
        EXPECT_FALSE(f->CenterOnScreen);
        f->Show();
        EXPECT_EQ(f->Widget()->pos(), QPoint(40, 30));
    }
    {
        QSettings s("Quenbrik", "Web Lumifang");
        s.setValue("PrintForm/BreitEdit", 100000);
        s.setValue("PrintForm/HochEdit", "viel");
        s.setValue("PrintForm/Geometry", QByteArray("kaputt"));
    }
    auto f = Make(pic);
    EXPECT_EQ(f->BreitEdit->Value(), 100);
    EXPECT_EQ(f->HochEdit->Value(), 50);
    EXPECT_TRUE(f->CenterOnScreen);
}
