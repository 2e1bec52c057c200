// The viewer on real widgets: the paint box follows the zoom one dimension per
// paint and draws once at the new size, pictures too small to show, panning
// in a frame that does not move with the picture, a picture 540,000 pixels
// wide at 9000 %, the desktop's open action, the keys and the wheel, paging
// through the folder, and the print path.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <QApplication>
#include <QKeyEvent>
#include <QMarginsF>
#include <QMouseEvent>
#include <QSpinBox>
#include <QWheelEvent>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <QWidget>

#include <gtest/gtest.h>

#include "raster/DibDraw.h"
#include "ui/Canvas.h"
#include "ui/DesktopOpen.h"
#include "ui/Printer.h"
#include "ui/Responder.h"
#include "ui/ScriptedResponder.h"
#include "ui/ScrollBox.h"
#include "ui/SpinEdit.h"
#include "viewer/PrintFUnit.h"
#include "viewer/ViewPicFUnit.h"
#include "ViewerTestSupport.h"

namespace fs = std::filesystem;
using viewertest::Folder;
using viewertest::Picture;
using viewertest::WaitFor;

namespace {

// A 24-bit BMP of w x h whose pixels are red = width mod 256, green = row
// from the top mod 256, blue 0.
void WriteBmp(const fs::path& path, int w, int h)
{
    const uint32_t rowBytes = (uint32_t(w) * 3 + 3) & ~3u;
    const uint32_t pixels = rowBytes * uint32_t(h);
    std::vector<uint8_t> b(54 + pixels, 0);
    auto le32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + size_t(i)] = uint8_t(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    le32(2, uint32_t(b.size()));
    le32(10, 54);
    le32(14, 40);
    le32(18, uint32_t(w));
    le32(22, uint32_t(h));
    b[26] = 1;
    b[28] = 24;
    le32(34, pixels);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &b[54 + size_t(y) * rowBytes + size_t(x) * 3];
            p[1] = uint8_t(h - 1 - y);
            p[2] = uint8_t(w);
        }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

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

    // A key pressed as the user does: to the widget with the focus, or to the window.
    void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = QString())
    {
        QWidget* target = QApplication::focusWidget();
        if (!target || target->window() != form->Widget())
            target = form->Widget();
        QKeyEvent press(QEvent::KeyPress, key, mods, text);
        QApplication::sendEvent(target, &press);
        QKeyEvent release(QEvent::KeyRelease, key, mods, text);
        QApplication::sendEvent(target, &release);
    }
    // The wheel turned over the view's middle.
    void Wheel(int delta, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QWidget* view = form->ScrollBox1->Viewport();
        const QPointF at(view->width() / 2.0, view->height() / 2.0);
        QWheelEvent e(at, view->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, mods, Qt::NoScrollPhase,
                      false);
        QApplication::sendEvent(view, &e);
    }

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

TEST_F(Viewer, OpenHandsTheFileToTheDesktopAndSaysWhenNoProgramTakesIt)
{
    std::vector<std::string> opened;
    bool haveProgram = false;
    auto before = SetDesktopOpenAction([&](const std::string& path) {
        opened.push_back(path);
        return haveProgram;
    });
    TScriptedResponder r;
    TResponderScope scope(r);
    Picture pic(50, 40);
    Show(pic, "/home/u/Bilder/ohne programm.xyz");
    form->ZoomEd->Value = 200;
    r.AnswerMessage(mrOk);
    form->OpenBtn->Click();
    ASSERT_EQ(r.Asked().size(), 1u);
    EXPECT_EQ(r.Asked()[0].Text, "Kein Programm zum Öffnen dieser Datei gefunden.");
    EXPECT_EQ(r.Asked()[0].Icon, TMsgIcon::Error);
    // A program took it: nothing to say.
    haveProgram = true;
    form->OpenBtn->Click();
    SetDesktopOpenAction(std::move(before));
    EXPECT_EQ(opened, (std::vector<std::string>{"/home/u/Bilder/ohne programm.xyz", "/home/u/Bilder/ohne programm.xyz"}));
    EXPECT_EQ(r.Asked().size(), 1u);
    EXPECT_EQ(r.Unanswered(), 0);
    EXPECT_TRUE(form->Showing());
    EXPECT_EQ(form->ZoomEd->Value(), 200);
}

TEST_F(Viewer, KeysAndCtrlWheelStepTheZoomFitThePictureAndClose)
{
    Picture pic = Picture::Patterned(2000, 1500);
    Show(pic);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(form->ZoomEd->Value(), 100);
    Key(Qt::Key_Plus);
    EXPECT_EQ(form->ZoomEd->Value(), 110);
    Key(Qt::Key_Minus);
    Key(Qt::Key_Minus);
    EXPECT_EQ(form->ZoomEd->Value(), 90);
    Key(Qt::Key_Plus, Qt::KeypadModifier);
    EXPECT_EQ(form->ZoomEd->Value(), 100);
    Key(Qt::Key_Equal);   // the "+" key of US keyboards
    EXPECT_EQ(form->ZoomEd->Value(), 110);
    Key(Qt::Key_Minus, Qt::KeypadModifier);
    EXPECT_EQ(form->ZoomEd->Value(), 100);

    // Ctrl and the wheel: a notch a step, finer wheels add up to one.
    auto& vert = form->ScrollBox1->VertScrollBar;
    Wheel(120, Qt::ControlModifier);
    EXPECT_EQ(form->ZoomEd->Value(), 110);
    Wheel(60, Qt::ControlModifier);
    EXPECT_EQ(form->ZoomEd->Value(), 110);
    Wheel(60, Qt::ControlModifier);
    EXPECT_EQ(form->ZoomEd->Value(), 120);
    Wheel(-240, Qt::ControlModifier);
    EXPECT_EQ(form->ZoomEd->Value(), 100);
    EXPECT_EQ(vert.Position(), 0) << "the zoom wheel does not scroll";
    // The wheel alone scrolls and leaves the zoom.
    Wheel(-120);
    EXPECT_EQ(form->ZoomEd->Value(), 100);
    EXPECT_GT(vert.Position(), 0);

    // "0": the largest zoom at which the whole picture fits; no scroll bars then.
    Key(Qt::Key_0);
    ASSERT_TRUE(Settle());
    const int fullW = form->ScrollBox1->FullClientWidth(), fullH = form->ScrollBox1->FullClientHeight();
    const int z = std::min(fullW * 100 / 2000, fullH * 100 / 1500);
    EXPECT_EQ(form->ZoomEd->Value(), z);
    EXPECT_LE(form->PaintBox1->Width(), fullW);
    EXPECT_LE(form->PaintBox1->Height(), fullH);
    EXPECT_FALSE(form->ScrollBox1->HorzScrollBar.IsScrollBarVisible());
    EXPECT_FALSE(form->ScrollBox1->VertScrollBar.IsScrollBarVisible());
    EXPECT_TRUE(2000 * (z + 1) / 100 > fullW || 1500 * (z + 1) / 100 > fullH) << "one percent more would not fit";
    // A tiny picture is enlarged up to the limit of 9000 %.
    Picture tiny(3, 2);
    form->ViewPicture = tiny.dib;
    Key(Qt::Key_0);
    EXPECT_EQ(form->ZoomEd->Value(), std::min(9000, std::min(fullW * 100 / 3, fullH * 100 / 2)));
    form->ViewPicture = pic.dib;

    // While the user types in the zoom field, digits and signs are the field's.
    form->ZoomEd->SpinBox()->setFocus();
    ASSERT_TRUE(WaitFor([&] { return form->ZoomEd->Focused(); }));
    form->ZoomEd->SpinBox()->selectAll();
    Key(Qt::Key_1, Qt::NoModifier, "1");
    Key(Qt::Key_5, Qt::NoModifier, "5");
    Key(Qt::Key_0, Qt::NoModifier, "0");
    EXPECT_EQ(form->ZoomEd->Value(), 150);
    // A press on the picture hands the keys back to the viewer.
    form->PaintBox1MouseDown(TMouseButton::Left, ssLeft, 5, 5);
    form->PaintBox1MouseUp(TMouseButton::Left, 0, 5, 5);
    ASSERT_TRUE(WaitFor([&] { return !form->ZoomEd->Focused(); }));
    Key(Qt::Key_Plus);
    EXPECT_EQ(form->ZoomEd->Value(), 160);

    // Esc closes the window.
    Key(Qt::Key_Escape);
    EXPECT_FALSE(form->Showing());
}

TEST_F(Viewer, PagingShowsTheFolderInNameOrderFromTheTopLeft)
{
    Folder dir;
    // Widths tell the pictures apart; the folder also holds a broken
    // picture, a text file and a folder named like a picture.
    const std::vector<std::pair<std::string, int>> pictures = {
        {"bild1.bmp", 1001}, {"bild2.bmp", 1002}, {"Bild3.bmp", 1003}, {"bild10.bmp", 1010}, {"zuletzt.bmp", 1020},
    };
    for (const auto& [name, width] : pictures)
        WriteBmp(dir.path / name, width, 800);
    std::ofstream(dir.path / "kaputt.bmp") << "BM kein Bild";
    std::ofstream(dir.path / "notizen.txt") << "1234";
    fs::create_directory(dir.path / "unter.bmp");
    EXPECT_EQ(FolderPictures(dir.path.string() + "/"),
              (std::vector<std::string>{"bild1.bmp", "bild2.bmp", "Bild3.bmp", "bild10.bmp", "kaputt.bmp",
                                        "zuletzt.bmp"}));

    // The browser's picture: the viewer shows it but never frees it.
    raster::DibHandle browserPicture;
    raster::OpenDib(browserPicture, (dir.path / "bild2.bmp").c_str(), raster::dtAuto);
    ASSERT_NE(browserPicture.Bits, nullptr);
    form->ZoomEd->Value = 50;
    form->ViewPicture = browserPicture;
    form->ViewFileName = (dir.path / "bild2.bmp").string();
    form->Show();
    ASSERT_TRUE(Settle());
    auto& horz = form->ScrollBox1->HorzScrollBar;
    auto& vert = form->ScrollBox1->VertScrollBar;
    const auto shown = [&] { return fs::path(form->ViewFileName).filename().string(); };
    const auto scrollAway = [&] {
        form->ZoomEd->Value = 100;
        ASSERT_TRUE(Settle());
        horz.Position = 300;
        vert.Position = 200;
        ASSERT_GT(horz.Position(), 0);
    };

    scrollAway();
    Key(Qt::Key_PageDown);
    EXPECT_EQ(shown(), "Bild3.bmp");
    ASSERT_TRUE(Settle());
    EXPECT_EQ(horz.Position(), 0) << "a new picture starts at its top left";
    EXPECT_EQ(vert.Position(), 0);
    EXPECT_EQ(form->PaintBox1->Width(), 1003);
    EXPECT_EQ(At(0, 0), RGB(1003 % 256, 0, 0)) << "its top-left pixel is drawn there";
    Key(Qt::Key_Space);
    EXPECT_EQ(shown(), "bild10.bmp");
    EXPECT_EQ(form->Caption(), "Bild betrachten... - bild10.bmp (1010 × 800 Pixel, 100 %)");
    Key(Qt::Key_Space);
    EXPECT_EQ(shown(), "zuletzt.bmp") << "the broken picture is passed over";
    EXPECT_EQ(raster::DibWidth(form->ViewPicture), 1020);
    Key(Qt::Key_PageDown);
    EXPECT_EQ(shown(), "zuletzt.bmp") << "the end of the folder";
    form->ZoomEd->Value = 50;
    Key(Qt::Key_Backspace);
    EXPECT_EQ(shown(), "bild10.bmp");
    ASSERT_TRUE(Settle());
    EXPECT_EQ(form->ZoomEd->Value(), 50) << "the zoom stays from picture to picture";
    EXPECT_EQ(form->Caption(), "Bild betrachten... - bild10.bmp (1010 × 800 Pixel, 50 %)");
    EXPECT_EQ(form->PaintBox1->Width(), 505);

    // The picture on show deleted meanwhile: paging goes on from where it stood.
    fs::remove(dir.path / "bild10.bmp");
    Key(Qt::Key_PageUp);
    EXPECT_EQ(shown(), "Bild3.bmp");
    fs::remove(dir.path / "Bild3.bmp");
    Key(Qt::Key_PageDown);
    EXPECT_EQ(shown(), "zuletzt.bmp");
    Key(Qt::Key_PageUp);
    Key(Qt::Key_PageUp);
    EXPECT_EQ(shown(), "bild1.bmp");
    Key(Qt::Key_PageUp);
    EXPECT_EQ(shown(), "bild1.bmp") << "the start of the folder";

    // Closing frees the viewer's own picture and leaves the browser's alone.
    form->Hide();
    EXPECT_EQ(form->ViewPicture.Bits, nullptr);
    EXPECT_EQ(raster::DibWidth(browserPicture), 1002);
    raster::deldib(browserPicture);
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
