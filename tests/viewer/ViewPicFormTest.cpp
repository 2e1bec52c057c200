// The viewer on real widgets: the paint box follows the zoom one dimension per
// paint and draws once at the new size, pictures too small to show, panning
// in a frame that does not move with the picture, a picture 540,000 pixels
// wide at 9000 %, the desktop's open action and the print path.
#include <filesystem>
#include <memory>

#include <QApplication>
#include <QMarginsF>
#include <QMouseEvent>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <QWidget>

#include <gtest/gtest.h>

#include "raster/DibDraw.h"
#include "ui/Canvas.h"
#include "ui/DesktopOpen.h"
#include "ui/Printer.h"
#include "ui/ScriptedResponder.h"
#include "ui/ScrollBox.h"
#include "ui/SpinEdit.h"
#include "viewer/PrintFUnit.h"
#include "viewer/ViewPicFUnit.h"
#include "ViewerTestSupport.h"

namespace fs = std::filesystem;
using viewertest::Picture;
using viewertest::WaitFor;

namespace {

class Viewer : public ::testing::Test {
protected:
    void SetUp() override
    {
        viewertest::PrivateSettings();
        raster::ForceScreenBitsPerPixel(32);
        form = std::make_unique<TViewPicForm>();
        form->ClientWidth = 600;
        form->ClientHeight = 450;
    }
    void TearDown() override
    {
        form.reset();
        raster::ForceScreenBitsPerPixel(0);
    }
    // Shows `pic` as the browser does and waits for the first draw.
    void Show(const Picture& pic, const std::string& name = "/tmp/bild.jpg")
    {
        form->ViewPicture = pic.dib;
        form->ViewFileName = name;
        const long before = form->DrawCount();
        form->Show();
        ASSERT_TRUE(WaitFor([&] { return form->DrawCount() > before; }));
    }
    // Lets every pending paint run; true when the paint box is quiet.
    bool Settle()
    {
        long last = -1;
        int quiet = 0;
        return WaitFor([&] {
            const long now = form->PaintBox1->PaintCount();
            quiet = now == last ? quiet + 1 : 0;
            last = now;
            return quiet >= 5;
        });
    }
    TColor At(int x, int y) { return form->PaintBox1->Canvas().Pixel(x, y); }

    std::unique_ptr<TViewPicForm> form;
};

} // namespace

TEST_F(Viewer, PaintBoxTakesTheZoomedSizeAndShowsThePicture)
{
    Picture pic = Picture::Patterned(640, 480);
    Show(pic);
    EXPECT_EQ(form->ZoomEd->Value(), 100);
    EXPECT_EQ(form->PaintBox1->Width(), 640);
    EXPECT_EQ(form->PaintBox1->Height(), 480);
    // 1:1 at 100 %.
    EXPECT_EQ(At(0, 0), Picture::Expected(0, 0));
    EXPECT_EQ(At(300, 200), Picture::Expected(300, 200));
    EXPECT_EQ(At(500, 400), clDefault) << "outside the view: no pixels at all";

    form->ZoomEd->Value = 5;
    ASSERT_TRUE(WaitFor([&] { return form->PaintBox1->Height() == 24; }));
    EXPECT_EQ(form->PaintBox1->Width(), 32);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(At(31, 23), Picture::Expected(620, 460));

}

TEST_F(Viewer, ChangeOfZoomResizesTwiceAndDrawsOnceAtTheNewSize)
{
    Picture pic = Picture::Patterned(640, 480);
    Show(pic);
    ASSERT_TRUE(Settle());
    const long draws = form->DrawCount();
    form->ZoomEd->Value = 110;
    // The change itself only widens the paint box.
    EXPECT_EQ(form->PaintBox1->Width(), 704);
    EXPECT_EQ(form->PaintBox1->Height(), 480);
    EXPECT_EQ(form->DrawCount(), draws);
    ASSERT_TRUE(WaitFor([&] { return form->DrawCount() > draws; }));
    EXPECT_EQ(form->PaintBox1->Height(), 528);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(form->DrawCount(), draws + 1);
    // 110 %: paint-box column 110 shows picture column 100.
    EXPECT_EQ(At(110, 110), Picture::Expected(100, 100));

    // The zoom stays with the window for the next picture.
    form->Hide();
    Picture next = Picture::Patterned(100, 50);
    Show(next);
    EXPECT_EQ(form->ZoomEd->Value(), 110);
    EXPECT_EQ(form->PaintBox1->Width(), 110);
}

TEST_F(Viewer, PaintBoxWithoutAreaDrawsNothingAndRecovers)
{
    Picture tiny(10, 10);
    Show(tiny);
    const long draws = form->DrawCount();
    form->ZoomEd->Value = 5;   // 0.5 x 0.5 pixels: a paint box of 0 x 0
    EXPECT_EQ(form->PaintBox1->Width(), 0);
    EXPECT_EQ(form->PaintBox1->Height(), 0);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(form->DrawCount(), draws);
    EXPECT_FALSE(form->ScrollBox1->HorzScrollBar.IsScrollBarVisible());
    EXPECT_EQ(form->ScrollBox1->HorzScrollBar.Position(), 0);
    form->PaintBox1->Repaint();
    form->PaintBox1MouseDown(TMouseButton::Left, 0, 0, 0);
    form->PaintBox1MouseMove(ssLeft, -40, -40);
    form->PaintBox1MouseUp(TMouseButton::Left, 0, -40, -40);
    EXPECT_EQ(form->ScrollBox1->HorzScrollBar.Position(), 0);
    // Only one dimension empty: 1000 x 10 at 5 % is 50 x 0.
    Picture flat(1000, 10);
    form->ViewPicture = flat.dib;
    form->PaintBox1Paint();
    ASSERT_TRUE(WaitFor([&] { return form->PaintBox1->Width() == 50 && form->PaintBox1->Height() == 0; }));
    ASSERT_TRUE(Settle());
    EXPECT_EQ(form->DrawCount(), draws);
    // Growing back from no height: it must reach the full size and draw once.
    form->ZoomEd->Value = 100;
    ASSERT_TRUE(WaitFor([&] { return form->DrawCount() > draws; }));
    EXPECT_EQ(form->PaintBox1->Width(), 1000);
    EXPECT_EQ(form->PaintBox1->Height(), 10);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(form->DrawCount(), draws + 1);
}

TEST_F(Viewer, DraggingPansInAFrameThatStaysPut)
{
    Picture pic = Picture::Patterned(2000, 1500);
    Show(pic);
    ASSERT_TRUE(Settle());
    auto& horz = form->ScrollBox1->HorzScrollBar;
    auto& vert = form->ScrollBox1->VertScrollBar;
    ASSERT_TRUE(horz.IsScrollBarVisible());
    horz.Position = 100;
    vert.Position = 100;
    // Paint-box coordinates: the pointer at (300, 200) of the view is (400, 300).
    form->PaintBox1MouseDown(TMouseButton::Left, ssLeft, 400, 300);
    EXPECT_TRUE(form->Dragging);
    // 50 to the left and 20 up, in steps; each step's pointer position is in
    // the paint box as it lies after the steps before.
    form->PaintBox1MouseMove(ssLeft, 380 + 0, 290);   // view (280, 190)
    EXPECT_EQ(horz.Position(), 120);
    EXPECT_EQ(vert.Position(), 110);
    form->PaintBox1MouseMove(ssLeft, 250 + 120, 180 + 110);   // view (250, 180)
    EXPECT_EQ(horz.Position(), 150);
    EXPECT_EQ(vert.Position(), 120);
    EXPECT_FALSE(form->PaintSuspended);
    // What shows at the view's corner is the picture at the scroll position.
    EXPECT_EQ(At(150, 120), Picture::Expected(150, 120));
    // Far past the end of the range: the position stops there and stays.
    form->PaintBox1MouseMove(ssLeft, -100000 + 150, -100000 + 120);
    const int endH = horz.Range() - horz.Page(), endV = vert.Range() - vert.Page();
    EXPECT_EQ(horz.Position(), endH);
    EXPECT_EQ(vert.Position(), endV);
    form->PaintBox1MouseMove(ssLeft, -200000 + endH, -200000 + endV);
    EXPECT_EQ(horz.Position(), endH);
    form->PaintBox1MouseUp(TMouseButton::Left, 0, 0, 0);
    EXPECT_FALSE(form->Dragging);
    // Moves without a press pan nothing.
    form->PaintBox1MouseMove(0, 0, 0);
    EXPECT_EQ(horz.Position(), endH);

    // The right button drags just as well, back towards the start.
    form->PaintBox1MouseDown(TMouseButton::Right, ssRight, endH + 10, endV + 10);
    form->PaintBox1MouseMove(ssRight, endH + 60, endV + 10);
    EXPECT_EQ(horz.Position(), endH - 50);
    EXPECT_EQ(vert.Position(), endV);
    form->PaintBox1MouseUp(TMouseButton::Right, 0, 0, 0);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(At(endH - 50, endV), Picture::Expected(endH - 50, endV));

    // Real mouse events on the widget: the picture follows the pointer one to
    // one, however far the view has scrolled meanwhile.
    horz.Position = 300;
    vert.Position = 300;
    QWidget* w = form->PaintBox1->Widget();
    auto send = [&](QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons held) {
        QMouseEvent e(type, at, w->mapToGlobal(at), button, held, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    };
    send(QEvent::MouseButtonPress, QPointF(300, 200), Qt::LeftButton, Qt::LeftButton);
    for (int x = 290; x >= 200; x -= 10)
        send(QEvent::MouseMove, QPointF(x, 200 - (300 - x) / 2), Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, QPointF(200, 150), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(horz.Position(), 400);
    EXPECT_EQ(vert.Position(), 350);
    EXPECT_FALSE(form->Dragging);
}

TEST_F(Viewer, HugeZoomScrollsToEveryPartAndPaintsOnlyTheView)
{
    Picture pic = Picture::Patterned(6000, 4000);
    Show(pic);
    const long draws = form->DrawCount();
    form->ZoomEd->Value = 9000;
    ASSERT_TRUE(WaitFor([&] { return form->DrawCount() > draws; }));
    EXPECT_EQ(form->PaintBox1->Width(), 540000);
    EXPECT_EQ(form->PaintBox1->Height(), 360000);
    auto& horz = form->ScrollBox1->HorzScrollBar;
    auto& vert = form->ScrollBox1->VertScrollBar;
    EXPECT_EQ(horz.Range(), 540000);
    horz.Position = 1 << 30;
    vert.Position = 1 << 30;
    EXPECT_EQ(horz.Position(), 540000 - horz.Page());
    EXPECT_EQ(vert.Position(), 360000 - vert.Page());
    ASSERT_TRUE(Settle());
    // The bottom-right pixel of the picture fills the corner of the view.
    EXPECT_EQ(At(539999, 359999), Picture::Expected(5999, 3999));
    const TRect clip = form->PaintBox1->ClipRect();
    EXPECT_LE(clip.Width(), 600);
    EXPECT_LE(clip.Height(), 450);
    // Somewhere in the middle, by dragging.
    horz.Position = 270000;
    vert.Position = 180000;
    ASSERT_TRUE(Settle());
    EXPECT_EQ(At(270000 + 45, 180000 + 90), Picture::Expected(3000, 2001));
}

TEST_F(Viewer, OpenHandsTheFileToTheDesktopAndShowsNothingOfItsOwn)
{
    std::vector<std::string> opened;
    auto before = SetDesktopOpenAction([&](const std::string& path) {
        opened.push_back(path);
        return false;   // no program for the type
    });
    TScriptedResponder r;
    TResponderScope scope(r);
    Picture pic(50, 40);
    Show(pic, "/home/u/Bilder/ohne programm.xyz");
    form->ZoomEd->Value = 200;
    form->OpenBtn->Click();
    SetDesktopOpenAction(std::move(before));
    EXPECT_EQ(opened, std::vector<std::string>{"/home/u/Bilder/ohne programm.xyz"});
    EXPECT_TRUE(r.Asked().empty());
    EXPECT_TRUE(form->Showing());
    EXPECT_EQ(form->ZoomEd->Value(), 200);
}

TEST_F(Viewer, PrintGoesThroughTheDialogAndCancelKeepsThePercentages)
{
    fs::path dir = fs::temp_directory_path() / ("wl-viewprint-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    QPrinter& printer = CurrentPrinter();
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString());
    printer.setResolution(150);
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(), QPageLayout::Point));
    Picture pic(200, 100);
    Show(pic);
    TScriptedResponder r;
    TResponderScope scope(r);

    // Cancel: the user typed 30 %; nothing is printed, the 30 stays.
    r.AnswerForm([&](TForm& f) {
        auto* p = dynamic_cast<TPrintForm*>(&f);
        EXPECT_NE(p, nullptr);
        if (!p)
            return mrCancel;
        EXPECT_EQ(p->PrintPicture.Bits, pic.dib.Bits) << "a copy of the viewer's record";
        EXPECT_EQ(p->Caption(), "Bild drucken...");
        p->SverhCheck->Checked = false;
        p->BreitEdit->Value = 30;
        p->HochEdit->Value = 40;
        p->CancelBitBtn2->Click();
        return mrNone;
    });
    form->PrintBrn->Click();
    EXPECT_EQ(r.Asked().size(), 1u);
    EXPECT_EQ(r.Unanswered(), 0);

    // OK on the next dialog, which starts with the kept values, prints to the chosen PDF.
    const fs::path pdf = dir / "bild.pdf";
    r.AnswerForm([&](TForm& f) {
        auto& p = static_cast<TPrintForm&>(f);
        EXPECT_EQ(p.BreitEdit->Value(), 30);
        EXPECT_EQ(p.HochEdit->Value(), 40);
        EXPECT_TRUE(p.UseFullCheck->Checked()) << "the other controls start unchanged";
        EXPECT_TRUE(p.SverhCheck->Checked());
        p.OkBitBtn1->Click();
        return mrNone;
    });
    r.AnswerFile(pdf.string());
    form->PrintBrn->Click();
    EXPECT_EQ(r.Unanswered(), 0);
    EXPECT_TRUE(fs::exists(pdf));
    EXPECT_GT(fs::file_size(pdf), 0u);
    EXPECT_TRUE(form->Showing());
    fs::remove_all(dir);
}
