#include "viewer/PrintLayout.h"

#include <cmath>

#include "raster/DibDraw.h"

TPlace PicturePlace(int64_t pageW, int64_t pageH, int64_t picW, int64_t picH, const TPrintOptions& o)
{
    if (pageW <= 0 || pageH <= 0 || picW <= 0 || picH <= 0)
        return TPlace{};
    int64_t w = pageW, h = pageH;
    if (o.UseFull) {
        if (o.KeepRatio) {
            const int64_t t = pageW * picH / picW;
            if (t > pageH)
                w = pageH * picW / picH;
            else
                h = t;
        }
    } else if (o.KeepRatio) {
        // Whole percentages of both sides would distort the picture (5 % of
        // the width and 2 % of the height for a 4 : 3 picture): only the
        // entered side is taken in percent, the other from the picture.
        if (o.HoeheLeads) {
            h = raster::RoundHalfEven(int64_t(o.Hoehe) * pageH, 100);
            w = raster::RoundHalfEven(h * picW, picH);
        } else {
            w = raster::RoundHalfEven(int64_t(o.Breite) * pageW, 100);
            h = raster::RoundHalfEven(w * picH, picW);
        }
        // A side past the page (a percentage held at its limit): the largest
        // size of the same proportions that fits.
        if (w > pageW || h > pageH) {
            w = pageW;
            h = pageW * picH / picW;
            if (h > pageH) {
                h = pageH;
                w = pageH * picW / picH;
            }
        }
        // A sliver still prints as one pixel.
        w = w < 1 ? 1 : w;
        h = h < 1 ? 1 : h;
    } else {
        w = raster::RoundHalfEven(int64_t(o.Breite) * pageW, 100);
        h = raster::RoundHalfEven(int64_t(o.Hoehe) * pageH, 100);
    }
    int64_t x = 0, y = 0;
    if (o.Centred) {
        x = (pageW - w) / 2;
        y = (pageH - h) / 2;
    }
    return TPlace{int32_t(x), int32_t(y), int32_t(w), int32_t(h)};
}

TPlace PreviewPage(int64_t boxW, int64_t boxH, int64_t pageW, int64_t pageH)
{
    if (pageW <= 0 || pageH <= 0 || boxW <= 0 || boxH <= 0)
        return TPlace{};
    int64_t pw, ph;
    if (pageH < pageW) {
        pw = boxW;
        ph = boxW * pageH / pageW;
    } else {
        pw = boxH * pageW / pageH;
        ph = boxH;
    }
    return TPlace{int32_t((boxW - pw) / 2), int32_t((boxH - ph) / 2), int32_t(pw), int32_t(ph)};
}

double CoupledHoehe(int breite, int64_t pageW, int64_t pageH, int64_t picW, int64_t picH)
{
    if (pageW <= 0 || pageH <= 0 || picW <= 0 || picH <= 0)
        return breite;
    return double(breite) * double(picH) / double(picW) * double(pageW) / double(pageH);
}

double CoupledBreite(int hoehe, int64_t pageW, int64_t pageH, int64_t picW, int64_t picH)
{
    if (pageW <= 0 || pageH <= 0 || picW <= 0 || picH <= 0)
        return hoehe;
    return double(hoehe) * double(picW) / double(picH) * double(pageH) / double(pageW);
}

int RoundPercent(double v)
{
    if (std::isnan(v) || v < 0)
        return 0;
    if (v > 101)
        return 101;
    return int(std::nearbyint(v));
}
