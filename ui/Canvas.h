// A drawing surface in the design's terms (brush, pen, Rectangle ...) over a
// picture in memory. Controls that let forms draw (the status bar, later the
// paint boxes) keep one and show it, so drawing works at any time and tests
// can read the pixels back.
#pragma once

#include <functional>
#include <string>

#include "ui/Types.h"

class QImage;

struct TBrush {
    TColor Color = clWhite;
};

struct TPen {
    TColor Color = clBlack;
};

class TCanvas {
public:
    // target stays the caller's; changed (may be empty) hears every drawn area.
    TCanvas(QImage* target, std::function<void(const TRect&)> changed);

    TBrush Brush;
    TPen Pen;

    // Outline in the pen colour, inside in the brush colour; right and bottom
    // are exclusive, so the filled area is (Right - Left) x (Bottom - Top).
    void Rectangle(int left, int top, int right, int bottom);
    void Rectangle(const TRect& r) { Rectangle(r.Left, r.Top, r.Right, r.Bottom); }
    // The area in the brush colour, no outline.
    void FillRect(const TRect& r);
    void TextOut(int x, int y, const std::string& text);
    TColor Pixel(int x, int y) const;

    QImage& Image() { return *target_; }

private:
    QImage* target_;
    std::function<void(const TRect&)> changed_;
};

// Qt colour of a TColor; clDefault and clInfoBk resolve through the desktop palette.
class QColor;
QColor ToQColor(TColor c);
TColor FromQColor(const QColor& c);
