// The scroll box and its paint box: a scrolled area far larger than a widget
// may be, drawing in paint-box coordinates into the visible part only, merged
// repaints, and mouse positions in paint-box coordinates.
#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include "raster/DibDraw.h"
#include "ui/Canvas.h"
#include "ui/Form.h"
#include "ui/ScrollBox.h"

namespace {

class Box : public TForm {
public:
    Box() : TForm("Box")
    {
        ClientWidth = 300;
        ClientHeight = 200;
        ScrollBox1 = Make<TScrollBox>(this, "ScrollBox1");
        ScrollBox1->Align = TAlign::Client;
        ScrollBox1->Color = RGB(10, 20, 30);
        PaintBox1 = Make<TPaintBox>(ScrollBox1, "PaintBox1");
    }
    TScrollBox* ScrollBox1;
    TPaintBox* PaintBox1;
};

// Lets Qt deliver what is pending until cond holds (or two seconds pass).
template <class Cond>
bool Settle(Cond cond)
{
    QElapsedTimer t;
    t.start();
    do {
        QApplication::processEvents();
        if (cond())
            return true;
    } while (t.elapsed() < 2000);
    return cond();
}

// Lets Qt deliver everything pending, paints included.
void Drain()
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 100)
        QApplication::processEvents();
}

// Colour at view point (x, y) as the screen shows it.
TColor Shown(TScrollBox& box, int x, int y)
{
    const QImage shot = box.Viewport()->grab().toImage();
    return FromQColor(shot.pixelColor(x, y));
}

} // namespace

TEST(ScrollBox, AreaTallerThanAnyWidgetScrollsToItsEndAndDrawsThereInItsOwnCoordinates)
{
    Box f;
    f.Show();
    constexpr int kTall = 30'000'000;  // beyond the 16,777,215 pixels a widget may have
    std::vector<TRect> clips;
    f.PaintBox1->OnPaint = [&] {
        const TRect clip = f.PaintBox1->ClipRect();
        clips.push_back(clip);
        TCanvas& c = f.PaintBox1->Canvas();
        c.Brush.Color = clWhite;
        c.FillRect(clip);
        c.Brush.Color = clBlue;
        c.FillRect(TRect{10, kTall - 50, 60, kTall - 10});
    };
    f.PaintBox1->SetBounds(0, 0, 200, kTall);
    EXPECT_EQ(f.PaintBox1->Height(), kTall);
    EXPECT_EQ(f.ScrollBox1->VertScrollBar.Range(), kTall);
    EXPECT_TRUE(f.ScrollBox1->VertScrollBar.IsScrollBarVisible());
    EXPECT_FALSE(f.ScrollBox1->HorzScrollBar.IsScrollBarVisible());
    // Qt lays the scroll bars and the view out in its next pass; the ranges follow the view then.
    Drain();

    f.ScrollBox1->VertScrollBar.Position = kTall + 5000;  // clamped to the end
    const int view = f.ScrollBox1->ClientHeight();
    EXPECT_EQ(f.ScrollBox1->VertScrollBar.Position(), kTall - view);
    clips.clear();
    ASSERT_TRUE(Settle([&] { return !clips.empty(); }));
    EXPECT_EQ(clips.back().Top, kTall - view);
    EXPECT_EQ(clips.back().Bottom, kTall);
    EXPECT_EQ(clips.back().Width(), 200);

    // The blue block ends 10 pixels above the area's end: in the view, at the bottom.
    EXPECT_EQ(Shown(*f.ScrollBox1, 30, view - 20), clBlue);
    EXPECT_EQ(Shown(*f.ScrollBox1, 30, view - 5), clWhite);
    // Right of the 200-pixel-wide paint box the scroll box's own colour shows.
    EXPECT_EQ(Shown(*f.ScrollBox1, 250, view - 20), RGB(10, 20, 30));
}

TEST(ScrollBox, PictureDrawnThroughTheDeviceContextCostsOnlyTheVisiblePart)
{
    Box f;
    f.Show();
    raster::DibHandle dib;
    raster::newdib(dib, 2, 2, 24, nullptr, 0);
    ASSERT_NE(dib.Bits, nullptr);
    // Bottom-left red, the rest green (rows are stored bottom first, BGR).
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) {
            uint8_t* p = dib.Bits + y * dib.RowBytes + 3 * x;
            const bool red = x == 0 && y == 0;
            p[0] = 0;
            p[1] = red ? 0 : 255;
            p[2] = red ? 255 : 0;
        }
    // 2 x 2 pixels at 5,000,000 % is 100,000 x 100,000: each picture pixel a 50,000-pixel square.
    constexpr int kSide = 100'000;
    uint64_t written = 0;
    f.PaintBox1->OnPaint = [&] {
        auto& dc = static_cast<raster::MemoryDC&>(f.PaintBox1->DC());
        const uint64_t before = dc.calls.pixelsWritten;
        raster::DrawDibScaled(dc, 0, 0, kSide, kSide, dib, 0, 0, 2, 2, true, raster::SRCCOPY, false, nullptr);
        written = dc.calls.pixelsWritten - before;
    };
    f.PaintBox1->SetBounds(0, 0, kSide, kSide);
    f.ScrollBox1->HorzScrollBar.Position = 0;
    f.ScrollBox1->VertScrollBar.Position = kSide;  // the bottom edge: the red pixel's row
    f.PaintBox1->Repaint();
    const int vw = f.ScrollBox1->ClientWidth(), vh = f.ScrollBox1->ClientHeight();
    EXPECT_LE(written, uint64_t(vw) * uint64_t(vh));
    EXPECT_GT(written, 0u);
    ASSERT_TRUE(Settle([&] { return Shown(*f.ScrollBox1, 5, vh - 5) == RGB(255, 0, 0); }));

    // Across the middle both halves show: left red, right green, at the seam.
    f.ScrollBox1->HorzScrollBar.Position = kSide / 2 - vw / 2;
    f.PaintBox1->Repaint();
    ASSERT_TRUE(Settle([&] { return Shown(*f.ScrollBox1, vw / 2 - 2, 5) == RGB(255, 0, 0); }));
    EXPECT_EQ(Shown(*f.ScrollBox1, vw / 2 + 2, 5), RGB(0, 255, 0));
    raster::deldib(dib);
}

TEST(ScrollBox, RepaintsAskedForBeforeAFrameMergeIntoOneAndResizingDoesNotPaintAtOnce)
{
    Box f;
    f.Show();
    f.PaintBox1->SetBounds(0, 0, 150, 150);
    ASSERT_TRUE(Settle([&] { return f.PaintBox1->PaintCount() > 0; }));
    Drain();
    const long before = f.PaintBox1->PaintCount();
    for (int i = 0; i < 500; ++i)
        f.PaintBox1->Invalidate();
    f.PaintBox1->Width = 160;
    EXPECT_EQ(f.PaintBox1->PaintCount(), before) << "neither asks for a paint at once";
    ASSERT_TRUE(Settle([&] { return f.PaintBox1->PaintCount() > before; }));
    Drain();
    EXPECT_EQ(f.PaintBox1->PaintCount(), before + 1);
}

TEST(ScrollBox, MousePositionsArriveInPaintBoxCoordinatesAndOutsideItAtTheScrollBox)
{
    Box f;
    f.Show();
    f.PaintBox1->SetBounds(0, 0, 200, 5000);
    f.ScrollBox1->VertScrollBar.Position = 1000;
    Drain();
    TPoint down{-1, -1};
    TMouseButton button = TMouseButton::Left;
    f.PaintBox1->OnMouseDown = [&](TMouseButton b, TShiftState, int x, int y) {
        button = b;
        down = TPoint{x, y};
    };
    TPoint boxDown{-1, -1};
    f.ScrollBox1->OnMouseDown = [&](TMouseButton, TShiftState, int x, int y) { boxDown = TPoint{x, y}; };

    QWidget* area = f.PaintBox1->Widget();
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(20, 30), area->mapToGlobal(QPointF(20, 30)), Qt::RightButton,
                      Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(area, &press);
    EXPECT_EQ(down.X, 20);
    EXPECT_EQ(down.Y, 1030);
    EXPECT_EQ(button, TMouseButton::Right);

    QWidget* vp = f.ScrollBox1->Viewport();
    QMouseEvent beside(QEvent::MouseButtonPress, QPointF(250, 40), vp->mapToGlobal(QPointF(250, 40)), Qt::LeftButton,
                       Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(vp, &beside);
    EXPECT_EQ(boxDown.X, 250);
    EXPECT_EQ(boxDown.Y, 40);
}

TEST(ScrollBox, EmptyPaintBoxAndPaintBoxOutsideAScrollBoxDrawSafely)
{
    Box f;
    f.Show();
    int paints = 0;
    f.PaintBox1->OnPaint = [&] {
        ++paints;
        TCanvas& c = f.PaintBox1->Canvas();
        c.FillRect(TRect{0, 0, 10, 10});
        raster::DibHandle none;
        raster::DrawDibScaled(f.PaintBox1->DC(), 0, 0, 0, 0, none, 0, 0, 0, 0, true, raster::SRCCOPY, false, nullptr);
    };
    f.PaintBox1->SetBounds(0, 0, 0, 120);
    f.PaintBox1->Repaint();
    Drain();
    EXPECT_EQ(paints, 0) << "nothing of a paint box of width 0 is visible";
    EXPECT_FALSE(f.ScrollBox1->HorzScrollBar.IsScrollBarVisible());

    auto* panel = f.Make<TPanel>(&f, "Panel1");
    panel->SetBounds(0, 0, 100, 100);
    auto* preview = f.Make<TPaintBox>(panel, "Preview");
    EXPECT_EQ(preview->ScrollBox(), nullptr);
    preview->SetBounds(4, 17, 50, 40);
    EXPECT_EQ(preview->Widget()->geometry(), QRect(4, 17, 50, 40));
    preview->OnPaint = [&] {
        TCanvas& c = preview->Canvas();
        c.Brush.Color = clWhite;
        c.FillRect(TRect{0, 0, 50, 40});
        c.Pen.Color = clNavy;
        c.MoveTo(0, 5);
        c.LineTo(10, 5);
        c.Brush.Color = clSilver;
        c.TextRect(TRect{20, 20, 40, 30}, 20, 20, "Name.jpg");
    };
    preview->Repaint();
    EXPECT_EQ(preview->Canvas().Pixel(9, 5), clNavy);
    EXPECT_EQ(preview->Canvas().Pixel(10, 5), clWhite) << "a line leaves out its end point";
    EXPECT_EQ(preview->Canvas().Pixel(39, 29), clSilver) << "the text's rectangle is filled";
    EXPECT_EQ(preview->Canvas().Pixel(41, 29), clWhite) << "and nothing beyond it";
}
