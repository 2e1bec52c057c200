#include "ui/Canvas.h"

// Qt
#include <QApplication>
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPalette>

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

void TCanvas::Rectangle(int left, int top, int right, int bottom)
{
    if (right <= left || bottom <= top || target_->isNull())
        return;
    {
        QPainter p(target_);
        p.fillRect(QRect(left, top, right - left, bottom - top), ToQColor(Pen.Color));
        if (right - left > 2 && bottom - top > 2)
            p.fillRect(QRect(left + 1, top + 1, right - left - 2, bottom - top - 2), ToQColor(Brush.Color));
    }
    if (changed_)
        changed_(TRect{left, top, right, bottom});
}

void TCanvas::FillRect(const TRect& r)
{
    if (r.Right <= r.Left || r.Bottom <= r.Top || target_->isNull())
        return;
    {
        QPainter p(target_);
        p.fillRect(QRect(r.Left, r.Top, r.Width(), r.Height()), ToQColor(Brush.Color));
    }
    if (changed_)
        changed_(r);
}

void TCanvas::TextOut(int x, int y, const std::string& text)
{
    if (target_->isNull())
        return;
    QRect bounds;
    {
        QPainter p(target_);
        p.setPen(ToQColor(Pen.Color));
        p.setFont(QApplication::font());
        const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
        p.drawText(QRect(x, y, target_->width() - x, target_->height() - y), Qt::AlignLeft | Qt::AlignTop, s,
                   &bounds);
    }
    if (changed_)
        changed_(TRect{bounds.left(), bounds.top(), bounds.right() + 1, bounds.bottom() + 1});
}

TColor TCanvas::Pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= target_->width() || y >= target_->height())
        return clDefault;
    return FromQColor(target_->pixelColor(x, y));
}
