#include "ui/Canvas.h"

// Qt
#include <QApplication>
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPalette>

// system
#include <algorithm>
#include <cstdlib>

QColor ToQColor(TColor c)
{
    if (c == clDefault)
        return QApplication::palette().color(QPalette::Window);
    if (c == clInfoBk)
        return QApplication::palette().color(QPalette::ToolTipBase);
    return QColor(static_cast<int>(GetRValue(c)), static_cast<int>(GetGValue(c)), static_cast<int>(GetBValue(c)));
}

TColor FromQColor(const QColor& c)
{
    return RGB(static_cast<unsigned>(c.red()), static_cast<unsigned>(c.green()), static_cast<unsigned>(c.blue()));
}

TCanvas::TCanvas(QImage* target, std::function<void(const TRect&)> changed)
    : target_(target), changed_(std::move(changed))
{
}

void TCanvas::SetOrigin(int x, int y)
{
    origin_ = TPoint{x, y};
}

void TCanvas::SetClip(const TRect& clip)
{
    clip_ = clip;
}

namespace {

// A painter on the target that takes drawing coordinates and keeps to the clip.
void Prepare(QPainter& p, TPoint origin, const TRect& clip)
{
    p.translate(-origin.X, -origin.Y);
    if (clip.Right > clip.Left && clip.Bottom > clip.Top)
        p.setClipRect(QRect(clip.Left, clip.Top, clip.Width(), clip.Height()));
}

} // namespace

void TCanvas::Changed(const TRect& r)
{
    if (changed_)
        changed_(TRect{r.Left - origin_.X, r.Top - origin_.Y, r.Right - origin_.X, r.Bottom - origin_.Y});
}

bool TCanvas::Drawable() const
{
    return !target_->isNull();
}

void TCanvas::Rectangle(int left, int top, int right, int bottom)
{
    if (right <= left || bottom <= top || !Drawable())
        return;
    {
        QPainter p(target_);
        Prepare(p, origin_, clip_);
        p.fillRect(QRect(left, top, right - left, bottom - top), ToQColor(Pen.Color));
        if (right - left > 2 && bottom - top > 2)
            p.fillRect(QRect(left + 1, top + 1, right - left - 2, bottom - top - 2), ToQColor(Brush.Color));
    }
    Changed(TRect{left, top, right, bottom});
}

void TCanvas::FillRect(const TRect& r)
{
    if (r.Right <= r.Left || r.Bottom <= r.Top || !Drawable())
        return;
    {
        QPainter p(target_);
        Prepare(p, origin_, clip_);
        p.fillRect(QRect(r.Left, r.Top, r.Width(), r.Height()), ToQColor(Brush.Color));
    }
    Changed(r);
}

void TCanvas::TextOut(int x, int y, const std::string& text)
{
    if (!Drawable())
        return;
    QRect bounds;
    {
        QPainter p(target_);
        Prepare(p, origin_, clip_);
        p.setPen(ToQColor(Pen.Color));
        p.setFont(QApplication::font());
        const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
        const int w = target_->width() + origin_.X - x, h = target_->height() + origin_.Y - y;
        p.drawText(QRect(x, y, std::max(0, w), std::max(0, h)), Qt::AlignLeft | Qt::AlignTop, s, &bounds);
    }
    Changed(TRect{bounds.left(), bounds.top(), bounds.right() + 1, bounds.bottom() + 1});
}

void TCanvas::TextRect(const TRect& r, int x, int y, const std::string& text)
{
    if (r.Right <= r.Left || r.Bottom <= r.Top || !Drawable())
        return;
    {
        QPainter p(target_);
        Prepare(p, origin_, clip_);
        const QRect box(r.Left, r.Top, r.Width(), r.Height());
        p.fillRect(box, ToQColor(Brush.Color));
        p.setClipRect(box, Qt::IntersectClip);
        p.setPen(ToQColor(Pen.Color));
        p.setFont(QApplication::font());
        const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
        p.drawText(QRect(x, y, std::max(0, r.Right - x), std::max(0, r.Bottom - y)),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, s);
    }
    Changed(r);
}

void TCanvas::StretchDraw(const TRect& r, const QImage& picture)
{
    if (r.Right <= r.Left || r.Bottom <= r.Top || picture.isNull() || !Drawable())
        return;
    {
        QPainter p(target_);
        Prepare(p, origin_, clip_);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(QRect(r.Left, r.Top, r.Width(), r.Height()), picture);
    }
    Changed(r);
}

void TCanvas::MoveTo(int x, int y)
{
    penPos_ = TPoint{x, y};
}

void TCanvas::LineTo(int x, int y)
{
    const TPoint from = penPos_;
    penPos_ = TPoint{x, y};
    if (!Drawable() || (from.X == x && from.Y == y))
        return;
    {
        QPainter p(target_);
        Prepare(p, origin_, clip_);
        p.setPen(ToQColor(Pen.Color));
        // The end point is not drawn: the line stops one pixel short along its major axis.
        const int dx = x - from.X, dy = y - from.Y;
        int ex = x, ey = y;
        if (std::abs(dx) >= std::abs(dy))
            ex -= dx > 0 ? 1 : -1;
        else
            ey -= dy > 0 ? 1 : -1;
        p.drawLine(from.X, from.Y, ex, ey);
    }
    Changed(TRect{std::min(from.X, x), std::min(from.Y, y), std::max(from.X, x) + 1, std::max(from.Y, y) + 1});
}

TColor TCanvas::Pixel(int x, int y) const
{
    // Coordinates are the window's; a target drawn at the screen's pixel
    // ratio holds more pixels than that.
    const qreal ratio = target_->devicePixelRatio();
    const int px = static_cast<int>((x - origin_.X) * ratio), py = static_cast<int>((y - origin_.Y) * ratio);
    if (x < origin_.X || y < origin_.Y || px >= target_->width() || py >= target_->height())
        return clDefault;
    return FromQColor(target_->pixelColor(px, py));
}
