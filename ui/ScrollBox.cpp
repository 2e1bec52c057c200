#include "ui/ScrollBox.h"

// system
#include <algorithm>
#include <cmath>
#include <cstdint>

// Qt
#include <QAbstractScrollArea>
#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

// ours
#include "raster/DeviceContext.h"
#include "ui/Canvas.h"
#include "ui/HostWidget.h"

namespace {

TShiftState ShiftOfEvent(const QMouseEvent* e)
{
    return ShiftOf(e->modifiers(), e->buttons());
}

TMouseButton ButtonOfEvent(const QMouseEvent* e)
{
    return ButtonOf(e->button());
}

} // namespace

// ---------------------------------------------------------------------------
// The scroll box's widget: a scroll area whose viewport shows the background
// colour and holds the paint box's visible part.

class ScrollViewport : public QWidget {
public:
    ScrollViewport(TScrollBox* owner, QWidget* parent) : QWidget(parent), owner_(owner) {}

protected:
    // The view's size decides the scroll ranges and the paint box's visible part.
    void resizeEvent(QResizeEvent* e) override
    {
        QWidget::resizeEvent(e);
        owner_->ContentChanged();
    }

private:
    TScrollBox* owner_;
};

class ScrollBoxWidget : public QAbstractScrollArea {
public:
    ScrollBoxWidget(TScrollBox* owner, QWidget* parent) : QAbstractScrollArea(parent), owner_(owner)
    {
        setViewport(new ScrollViewport(owner, this));
        viewport()->setMouseTracking(true);
        viewport()->setAutoFillBackground(true);
        setFrameShape(QFrame::StyledPanel);
        setFrameShadow(QFrame::Sunken);
        QObject::connect(horizontalScrollBar(), &QScrollBar::valueChanged, [this] { owner_->Scrolled(); });
        QObject::connect(verticalScrollBar(), &QScrollBar::valueChanged, [this] { owner_->Scrolled(); });
    }

protected:
    // The scroll area hands the view's mouse events to these; positions are the view's.
    void mousePressEvent(QMouseEvent* e) override
    {
        if (owner_->OnMouseDown) {
            const QPoint p = e->position().toPoint();
            owner_->OnMouseDown(ButtonOfEvent(e), ShiftOfEvent(e), p.x(), p.y());
        }
    }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        if (owner_->OnMouseMove) {
            const QPoint p = e->position().toPoint();
            owner_->OnMouseMove(ShiftOfEvent(e), p.x(), p.y());
        }
    }
public:
    QSize MaximumViewportSize() const { return maximumViewportSize(); }

protected:
    void wheelEvent(QWheelEvent* e) override
    {
        if (owner_->OnMouseWheel) {
            bool handled = false;
            owner_->OnMouseWheel(ShiftOf(e->modifiers(), e->buttons()), e->angleDelta().y(), handled);
            if (handled) {
                e->accept();
                return;
            }
        }
        QAbstractScrollArea::wheelEvent(e);
    }
    void scrollContentsBy(int, int) override {}
    // The scroll area takes the viewport's resize events for itself (they
    // never reach the viewport's own handler): when one scroll bar appears and
    // narrows the view, the other bar's range must follow.
    void resizeEvent(QResizeEvent* e) override
    {
        QAbstractScrollArea::resizeEvent(e);
        owner_->ContentChanged();
    }

private:
    TScrollBox* owner_;
};

// ---------------------------------------------------------------------------
// The paint box's widget: the part of the paint box that is on screen. Its
// pixels live in a surface shared by the canvas (QImage over the same memory)
// and the device context, so both draw into one picture that is shown as is.

class PaintBoxWidget : public QWidget {
public:
    PaintBoxWidget(TPaintBox* owner, QWidget* parent) : QWidget(parent), owner_(owner), dc_(0, 0, 32)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setMouseTracking(true);
        dc_.alphaBits = 0xFF000000u;
        dc_.SelectBitmap(&surface_);
        canvas_ = std::make_unique<TCanvas>(&image_, [this](const TRect& r) { update(r.Left, r.Top, r.Width(), r.Height()); });
    }

    // Where surface pixel (0, 0) lies in paint-box coordinates.
    void SetOrigin(int x, int y)
    {
        originX_ = x;
        originY_ = y;
        dc_.SetOrigin(static_cast<int32_t>(std::lround(x * ratio_)), static_cast<int32_t>(std::lround(y * ratio_)));
        canvas_->SetOrigin(x, y);
    }

    void SetSharp(bool on)
    {
        sharp_ = on;
        if (Fit())
            MarkStale();
    }
    qreal Ratio() const { return ratio_; }
    TPoint Origin() const { return TPoint{originX_, originY_}; }

    // Surface pixels per paint-box pixel.
    qreal WantedRatio() const { return sharp_ ? std::max<qreal>(1, devicePixelRatioF()) : 1; }
    QSize WantedPixels(qreal ratio) const
    {
        return QSize(static_cast<int>(std::ceil(std::max(0, width()) * ratio)),
                     static_cast<int>(std::ceil(std::max(0, height()) * ratio)));
    }
    bool Fits() const
    {
        const qreal ratio = WantedRatio();
        const QSize pixels = WantedPixels(ratio);
        return ratio == ratio_ && surface_.width == pixels.width() && surface_.height == pixels.height();
    }

    // Brings the surface to the widget's size and pixel ratio; its content is
    // then stale. True when it changed.
    bool Fit()
    {
        if (Fits())
            return false;
        ratio_ = WantedRatio();
        const QSize pixels = WantedPixels(ratio_);
        const int w = pixels.width(), h = pixels.height();
        surface_.width = w;
        surface_.height = h;
        surface_.pixels.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 0xFF000000u);
        dc_.SelectBitmap(&surface_);
        if (w > 0 && h > 0) {
            image_ = QImage(reinterpret_cast<uchar*>(surface_.pixels.data()), w, h, w * 4, QImage::Format_RGB32);
            image_.setDevicePixelRatio(ratio_);
        } else {
            image_ = QImage();
        }
        SetOrigin(originX_, originY_);
        stale_ = true;
        return true;
    }

    // Runs OnPaint over the whole surface now.
    void Render()
    {
        Fit();
        stale_ = false;
        if (surface_.width == 0 || surface_.height == 0)
            return;
        canvas_->SetClip(Visible());
        ++owner_->paintCount_;
        painting_ = true;
        if (owner_->OnPaint)
            owner_->OnPaint();
        painting_ = false;
        update();
    }

    void MarkStale()
    {
        stale_ = true;
        update();
    }

    // A form drew into the device context outside a paint: show it at the next frame.
    void TouchedOutsidePaint()
    {
        if (!painting_)
            update();
    }

    TCanvas& Canvas() { return *canvas_; }
    raster::MemoryDC& DC() { return dc_; }
    TRect Visible() const
    {
        return surface_.width > 0 && surface_.height > 0
                   ? TRect{originX_, originY_, originX_ + width(), originY_ + height()}
                   : TRect{originX_, originY_, originX_, originY_};
    }

protected:
    void paintEvent(QPaintEvent* e) override
    {
        if (stale_ || !Fits())
            Render();
        QPainter p(this);
        if (image_.isNull())
            return;
        p.setClipRect(e->rect());
        p.drawImage(QPoint(0, 0), image_);
    }
    void mousePressEvent(QMouseEvent* e) override
    {
        if (owner_->OnMouseDown) {
            const QPoint p = e->position().toPoint();
            owner_->OnMouseDown(ButtonOfEvent(e), ShiftOfEvent(e), p.x() + originX_, p.y() + originY_);
        }
    }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        if (owner_->OnMouseMove) {
            const QPoint p = e->position().toPoint();
            owner_->OnMouseMove(ShiftOfEvent(e), p.x() + originX_, p.y() + originY_);
        }
    }
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        if (owner_->OnMouseUp) {
            const QPoint p = e->position().toPoint();
            owner_->OnMouseUp(ButtonOfEvent(e), ShiftOfEvent(e), p.x() + originX_, p.y() + originY_);
        }
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override
    {
        // The press of a double click is a press too, as on the other platforms' paint boxes.
        mousePressEvent(e);
        if (owner_->OnDblClick)
            owner_->OnDblClick();
    }
    void resizeEvent(QResizeEvent* e) override
    {
        QWidget::resizeEvent(e);
        Fit();
    }

private:
    TPaintBox* owner_;
    raster::DeviceBitmap surface_;
    QImage image_;
    raster::MemoryDC dc_;
    std::unique_ptr<TCanvas> canvas_;
    int originX_ = 0;
    int originY_ = 0;
    qreal ratio_ = 1;
    bool sharp_ = false;
    bool stale_ = true;
    bool painting_ = false;
};

// ---------------------------------------------------------------------------
// TControlScrollBar

TControlScrollBar::TControlScrollBar(TScrollBox& box, bool horizontal)
    : Position(
          [this] {
              const QScrollBar* bar = horizontal_ ? box_.box_->horizontalScrollBar() : box_.box_->verticalScrollBar();
              return bar->value();
          },
          [this](const int& v) {
              QScrollBar* bar = horizontal_ ? box_.box_->horizontalScrollBar() : box_.box_->verticalScrollBar();
              bar->setValue(std::clamp(v, bar->minimum(), bar->maximum()));
          }),
      box_(box), horizontal_(horizontal)
{
}

int TControlScrollBar::Range() const
{
    const TPaintBox* pb = box_.paintBox_;
    if (!pb)
        return 0;
    const TRect b = pb->GetBounds();
    return std::max(0, horizontal_ ? b.Right : b.Bottom);
}

int TControlScrollBar::Page() const
{
    return horizontal_ ? box_.ClientWidth() : box_.ClientHeight();
}

bool TControlScrollBar::IsScrollBarVisible() const
{
    const QScrollBar* bar = horizontal_ ? box_.box_->horizontalScrollBar() : box_.box_->verticalScrollBar();
    return bar->maximum() > bar->minimum();
}

// ---------------------------------------------------------------------------
// TScrollBox

TScrollBox::TScrollBox(TWinControl* parent, std::string name)
    : TWinControl(parent, new ScrollBoxWidget(this, parent ? parent->Widget() : nullptr), std::move(name)),
      HorzScrollBar(*this, true), VertScrollBar(*this, false)
{
    box_ = static_cast<ScrollBoxWidget*>(widget_);
}

TScrollBox::~TScrollBox() = default;

int TScrollBox::ClientWidth() const
{
    return box_->viewport()->width();
}

int TScrollBox::ClientHeight() const
{
    return box_->viewport()->height();
}

int TScrollBox::FullClientWidth() const
{
    return box_->MaximumViewportSize().width();
}

int TScrollBox::FullClientHeight() const
{
    return box_->MaximumViewportSize().height();
}

QWidget* TScrollBox::Viewport() const
{
    return box_->viewport();
}

void TScrollBox::SetFocus()
{
    if (box_->focusPolicy() == Qt::NoFocus)
        box_->setFocusPolicy(Qt::StrongFocus);
    box_->setFocus(Qt::OtherFocusReason);
}

void TScrollBox::SetColor(TColor c)
{
    color_ = c;
    QWidget* vp = box_->viewport();
    QPalette pal = vp->palette();
    pal.setColor(QPalette::Window, ToQColor(c));
    vp->setPalette(pal);
    vp->setAutoFillBackground(true);
}

void TScrollBox::ContentChanged()
{
    if (!box_)
        return;
    const TRect content = paintBox_ ? paintBox_->GetBounds() : TRect{};
    QScrollBar* h = box_->horizontalScrollBar();
    QScrollBar* v = box_->verticalScrollBar();
    const int vw = box_->viewport()->width(), vh = box_->viewport()->height();
    h->setPageStep(std::max(1, vw));
    v->setPageStep(std::max(1, vh));
    h->setSingleStep(20);
    v->setSingleStep(20);
    // Setting a range can clamp the position, which scrolls; the placement below follows in either case.
    h->setRange(0, std::max(0, content.Right - vw));
    v->setRange(0, std::max(0, content.Bottom - vh));
    Scrolled();
}

void TScrollBox::Scrolled()
{
    if (!box_ || !paintBox_)
        return;
    paintBox_->Place();
}

// ---------------------------------------------------------------------------
// TPaintBox

namespace {

QWidget* PaintBoxParentWidget(TWinControl* parent)
{
    if (auto* box = dynamic_cast<TScrollBox*>(parent))
        return box->Viewport();
    return parent ? parent->Widget() : nullptr;
}

} // namespace

TPaintBox::TPaintBox(TWinControl* parent, std::string name)
    : TControl(parent, new PaintBoxWidget(this, PaintBoxParentWidget(parent)), std::move(name))
{
    area_ = static_cast<PaintBoxWidget*>(widget_);
    scrollBox_ = dynamic_cast<TScrollBox*>(parent);
    if (scrollBox_)
        scrollBox_->paintBox_ = this;
    bounds_ = TRect{0, 0, 105, 105};
    placement_ = bounds_;
    if (scrollBox_)
        scrollBox_->ContentChanged();
    else
        Place();
}

TPaintBox::~TPaintBox()
{
    if (scrollBox_ && scrollBox_->paintBox_ == this)
        scrollBox_->paintBox_ = nullptr;
}

TRect TPaintBox::GetBounds() const
{
    return bounds_;
}

void TPaintBox::SetBounds(int left, int top, int width, int height)
{
    const TRect next{left, top, left + std::max(0, width), top + std::max(0, height)};
    if (next == bounds_)
        return;
    bounds_ = next;
    placement_ = next;
    if (scrollBox_)
        scrollBox_->ContentChanged();
    else
        Place();
    Invalidate();
}

void TPaintBox::Place()
{
    if (!scrollBox_) {
        area_->setGeometry(bounds_.Left, bounds_.Top, bounds_.Width(), bounds_.Height());
        area_->SetOrigin(0, 0);
        return;
    }
    const int hpos = scrollBox_->HorzScrollBar.Position, vpos = scrollBox_->VertScrollBar.Position;
    const int vw = scrollBox_->ClientWidth(), vh = scrollBox_->ClientHeight();
    // The part of the paint box inside the view, in view coordinates; 64 bits
    // because a paint box may reach nearly to the end of the int range.
    const int64_t left = std::max<int64_t>(0, int64_t(bounds_.Left) - hpos);
    const int64_t top = std::max<int64_t>(0, int64_t(bounds_.Top) - vpos);
    const int64_t right = std::min<int64_t>(vw, int64_t(bounds_.Right) - hpos);
    const int64_t bottom = std::min<int64_t>(vh, int64_t(bounds_.Bottom) - vpos);
    const int w = int(std::max<int64_t>(0, right - left)), h = int(std::max<int64_t>(0, bottom - top));
    const int originX = int(left + hpos - bounds_.Left), originY = int(top + vpos - bounds_.Top);
    const bool moved = area_->Origin().X != originX || area_->Origin().Y != originY;
    area_->setGeometry(int(left), int(top), w, h);
    area_->SetOrigin(originX, originY);
    if (moved)
        area_->MarkStale();
}

TCanvas& TPaintBox::Canvas()
{
    area_->TouchedOutsidePaint();
    return area_->Canvas();
}

void TPaintBox::SetSharpAtPixelRatio(bool on)
{
    area_->SetSharp(on);
}

double TPaintBox::PixelRatio() const
{
    return area_->Ratio();
}

raster::DeviceContext& TPaintBox::DC()
{
    area_->TouchedOutsidePaint();
    return area_->DC();
}

TRect TPaintBox::ClipRect() const
{
    return area_->Visible();
}

void TPaintBox::SetCursor(TCursor cursor)
{
    area_->setCursor(cursor == TCursor::HandPoint ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void TPaintBox::Invalidate()
{
    area_->MarkStale();
}

void TPaintBox::Repaint()
{
    area_->Render();
}
