// A scroll box and the paint box it scrolls. A paint box inside a scroll box
// may be far larger than any widget can be (a grid of 200,000 thumbnails, a
// picture at 9000 %): its Width and Height are the scrolled area's size, and
// only the visible part exists as pixels. Drawing is done in paint-box
// coordinates through Canvas() and DC(); both are clipped to the part being
// painted, so a paint costs only what is visible.
//
// A paint box elsewhere (a preview in a panel) is a plain widget of its size.
#pragma once

#include <memory>
#include <string>

#include "ui/Controls.h"

namespace raster {
class DeviceContext;
}

class TPaintBox;
class TScrollBox;

enum class TCursor { Default, HandPoint };

// One scroll bar of a scroll box. Position is clamped to 0 .. Range - Page
// (0 when the content fits); setting it scrolls the view at once.
class TControlScrollBar {
public:
    explicit TControlScrollBar(TScrollBox& box, bool horizontal);
    Property<int> Position;
    // Size of the scrolled content (the paint box's extent) and of the view.
    int Range() const;
    int Page() const;
    // Shown when the content is larger than the view.
    bool IsScrollBarVisible() const;

private:
    TScrollBox& box_;
    bool horizontal_;
};

class TScrollBox : public TWinControl {
public:
    TScrollBox(TWinControl* parent, std::string name);
    ~TScrollBox() override;

    TControlScrollBar HorzScrollBar;
    TControlScrollBar VertScrollBar;
    // The view's size, without the scroll bars that are shown.
    int ClientWidth() const;
    int ClientHeight() const;
    // The view's size when no scroll bar is shown.
    int FullClientWidth() const;
    int FullClientHeight() const;

    // Mouse on the part of the view the paint box does not cover; view coordinates.
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    // The wheel turned over the view (120 a notch, positive away from the
    // user); a handler that sets Handled keeps the view from scrolling.
    std::function<void(TShiftState Shift, int WheelDelta, bool& Handled)> OnMouseWheel;
    // Takes the keyboard focus (arrow keys then scroll the view).
    void SetFocus();

    // The widget the paint box's visible part lies in.
    QWidget* Viewport() const;

protected:
    void SetColor(TColor c) override;

private:
    friend class TPaintBox;
    friend class TControlScrollBar;
    friend class ScrollBoxWidget;
    friend class ScrollViewport;
    void ContentChanged();
    void Scrolled();

    class ScrollBoxWidget* box_;
    TPaintBox* paintBox_ = nullptr;
};

// Left, Top, Width and Height (TControl's) are the paint box's place and size
// in the scrolled area; setting Width or Height adjusts the scroll ranges and
// paints again at the next frame (not at once).
class TPaintBox : public TControl {
public:
    TPaintBox(TWinControl* parent, std::string name);
    ~TPaintBox() override;

    // Off by default: one surface pixel per paint-box pixel, enlarged by the
    // toolkit on a screen with a pixel ratio above 1. On, the surface has the
    // screen's pixels, so text and pictures drawn into it stay sharp.
    void SetSharpAtPixelRatio(bool on);
    // Surface pixels per paint-box pixel (1 unless sharp on such a screen).
    double PixelRatio() const;

    // The canvas takes paint-box coordinates, the device context paint-box
    // coordinates times PixelRatio(); the parts outside ClipRect() are not drawn.
    TCanvas& Canvas();
    raster::DeviceContext& DC();
    // The part being painted: the visible part during OnPaint and for drawing
    // outside of it (a form may draw at any time, as into a window).
    TRect ClipRect() const;

    TNotifyEvent OnPaint;
    // Paint-box coordinates.
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;
    TNotifyEvent OnDblClick;
    void SetCursor(TCursor cursor);

    // Paints again at the next frame; several requests before it make one paint.
    void Invalidate();
    // Runs OnPaint over the visible part now.
    void Repaint();
    // How often OnPaint has run (tests, benchmarks).
    long PaintCount() const { return paintCount_; }

    // The scroll box it lies in, or null.
    TScrollBox* ScrollBox() const { return scrollBox_; }

    void SetBounds(int left, int top, int width, int height) override;

protected:
    TRect GetBounds() const override;

private:
    friend class TScrollBox;
    friend class TControlScrollBar;
    friend class PaintBoxWidget;
    // Puts the visible part in the view and sets the drawing origin.
    void Place();

    class PaintBoxWidget* area_;
    TRect bounds_;
    TScrollBox* scrollBox_ = nullptr;
    long paintCount_ = 0;
};
