// A drawing surface with brush, pen and Rectangle ..., the calls the forms
// draw with, over a picture in memory. Controls that let forms draw (the status bar, later the
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
    // Fills r with the brush, then writes text from (x, y), top-left aligned,
    // cut at r's edges.
    void TextRect(const TRect& r, int x, int y, const std::string& text);
    // The picture scaled into r, filtered: on a surface finer than one pixel
    // per unit it fills every surface pixel instead of repeating pixels.
    void StretchDraw(const TRect& r, const QImage& picture);
    // A line in the pen colour from the pen position to (x, y), the end point
    // excluded; the pen position moves there.
    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    TColor Pixel(int x, int y) const;

    // Drawing coordinates minus the origin are the target's pixel coordinates
    // (a scrolled paint box draws in its own coordinates into the visible part).
    void SetOrigin(int x, int y);
    TPoint Origin() const { return origin_; }
    // Drawing is limited to clip (drawing coordinates); an empty rectangle lifts the limit.
    void SetClip(const TRect& clip);

    QImage& Image() { return *target_; }

private:
    void Changed(const TRect& r);
    bool Drawable() const;

    QImage* target_;
    std::function<void(const TRect&)> changed_;
    TPoint origin_;
    TPoint penPos_;
    TRect clip_;
};

// Qt colour of a TColor; clDefault and clInfoBk resolve through the desktop palette.
class QColor;
QColor ToQColor(TColor c);
TColor FromQColor(const QColor& c);
