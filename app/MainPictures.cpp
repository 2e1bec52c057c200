#include "app/MainPictures.h"

// Qt
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {

QImage Blank(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

void DrawLens(QPainter& p, QPointF c, qreal r, const QColor& rim)
{
    QRadialGradient glass(c, r);
    glass.setColorAt(0, QColor(255, 255, 255, 120));
    glass.setColorAt(1, QColor(170, 210, 250, 170));
    p.setBrush(glass);
    p.setPen(QPen(rim, r * 0.28));
    p.drawEllipse(c, r, r);
    p.setPen(QPen(rim, r * 0.45, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c + QPointF(r * 0.8, r * 0.8), c + QPointF(r * 1.8, r * 1.8));
}

void DrawFramedPicture(QPainter& p, const QRectF& f, const QColor& sky, const QColor& hill)
{
    p.setPen(QPen(QColor(90, 60, 30), qMax<qreal>(1.0, f.width() * 0.04)));
    QLinearGradient g(f.topLeft(), f.bottomLeft());
    g.setColorAt(0, sky);
    g.setColorAt(1, sky.lighter(150));
    p.setBrush(g);
    p.drawRect(f);
    p.save();
    p.setClipRect(f.adjusted(1, 1, -1, -1));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(250, 205, 70));
    p.drawEllipse(QPointF(f.left() + f.width() * 0.74, f.top() + f.height() * 0.3), f.width() * 0.1, f.width() * 0.1);
    QPainterPath hills;
    hills.moveTo(f.bottomLeft());
    hills.cubicTo(f.left() + f.width() * 0.3, f.top() + f.height() * 0.35, f.left() + f.width() * 0.5,
                  f.top() + f.height() * 0.65, f.left() + f.width() * 0.65, f.top() + f.height() * 0.72);
    hills.cubicTo(f.left() + f.width() * 0.8, f.top() + f.height() * 0.5, f.right(), f.top() + f.height() * 0.6,
                  f.right(), f.bottom());
    hills.closeSubpath();
    p.setBrush(hill);
    p.drawPath(hills);
    p.restore();
}

void DrawArrowDown(QPainter& p, QPointF top, qreal w, qreal h, const QColor& c)
{
    QPainterPath a;
    a.moveTo(top.x() - w * 0.22, top.y());
    a.lineTo(top.x() + w * 0.22, top.y());
    a.lineTo(top.x() + w * 0.22, top.y() + h * 0.55);
    a.lineTo(top.x() + w * 0.5, top.y() + h * 0.55);
    a.lineTo(top.x(), top.y() + h);
    a.lineTo(top.x() - w * 0.5, top.y() + h * 0.55);
    a.lineTo(top.x() - w * 0.22, top.y() + h * 0.55);
    a.closeSubpath();
    p.setPen(QPen(c.darker(160), qMax<qreal>(1.0, w * 0.05)));
    p.setBrush(c);
    p.drawPath(a);
}

void DrawFolder(QPainter& p, const QRectF& r)
{
    p.setPen(QPen(QColor(150, 110, 30), qMax<qreal>(1.0, r.width() * 0.03)));
    p.setBrush(QColor(240, 200, 90));
    QPainterPath f;
    f.moveTo(r.left(), r.top() + r.height() * 0.15);
    f.lineTo(r.left() + r.width() * 0.35, r.top() + r.height() * 0.15);
    f.lineTo(r.left() + r.width() * 0.42, r.top());
    f.lineTo(r.right(), r.top());
    f.lineTo(r.right(), r.bottom());
    f.lineTo(r.left(), r.bottom());
    f.closeSubpath();
    p.drawPath(f);
    p.setBrush(QColor(250, 220, 120));
    p.drawRect(QRectF(r.left(), r.top() + r.height() * 0.3, r.width(), r.height() * 0.7));
}

void DrawListSheet(QPainter& p, const QRectF& r)
{
    p.setPen(QPen(QColor(80, 80, 80), qMax<qreal>(1.0, r.width() * 0.03)));
    p.setBrush(Qt::white);
    p.drawRect(r);
    const int rows = 5;
    for (int i = 0; i < rows; ++i) {
        const qreal y = r.top() + r.height() * (i + 0.7) / (rows + 0.4);
        p.setPen(Qt::NoPen);
        p.setBrush(i == 1 || i == 3 ? QColor(10, 36, 106) : QColor(120, 160, 200));
        p.drawRect(QRectF(r.left() + r.width() * 0.1, y - r.height() * 0.05, r.width() * 0.8, r.height() * 0.1));
    }
}

} // namespace

QImage DrawTabIcon(TTabMotif motif, int size)
{
    QImage img = Blank(size, size);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    switch (motif) {
    case TTabMotif::Search:
        DrawLens(p, QPointF(s * 0.4, s * 0.4), s * 0.27, QColor(128, 0, 0));
        break;
    case TTabMotif::List:
        DrawListSheet(p, QRectF(s * 0.12, s * 0.06, s * 0.76, s * 0.88));
        break;
    case TTabMotif::Download:
        DrawArrowDown(p, QPointF(s * 0.5, s * 0.04), s * 0.9, s * 0.92, QColor(40, 150, 60));
        break;
    case TTabMotif::Browse:
        DrawFramedPicture(p, QRectF(s * 0.06, s * 0.16, s * 0.88, s * 0.68), QColor(90, 150, 220), QColor(60, 130, 60));
        break;
    }
    return img;
}

QImage DrawTabPicture(TTabMotif motif, int width, int height)
{
    QImage img = Blank(width, height);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = width, h = height;
    switch (motif) {
    case TTabMotif::Search:
        // A web of pages, one picture found under the lens.
        p.setPen(QPen(QColor(100, 120, 100), 1.5));
        for (int i = 0; i < 4; ++i)
            p.drawLine(QPointF(w * 0.15 + i * w * 0.2, h * 0.15), QPointF(w * 0.5, h * 0.55));
        for (int i = 0; i < 4; ++i) {
            p.setBrush(Qt::white);
            p.drawRect(QRectF(w * 0.08 + i * w * 0.2, h * 0.06, w * 0.14, h * 0.16));
        }
        DrawFramedPicture(p, QRectF(w * 0.3, h * 0.45, w * 0.4, h * 0.32), QColor(90, 150, 220), QColor(60, 130, 60));
        DrawLens(p, QPointF(w * 0.52, h * 0.6), h * 0.2, QColor(128, 0, 0));
        break;
    case TTabMotif::List:
        DrawListSheet(p, QRectF(w * 0.28, h * 0.08, w * 0.44, h * 0.84));
        DrawFramedPicture(p, QRectF(w * 0.05, h * 0.2, w * 0.3, h * 0.28), QColor(220, 150, 90), QColor(90, 120, 50));
        DrawFramedPicture(p, QRectF(w * 0.65, h * 0.55, w * 0.3, h * 0.28), QColor(90, 150, 220), QColor(60, 130, 60));
        break;
    case TTabMotif::Download:
        DrawFramedPicture(p, QRectF(w * 0.3, h * 0.04, w * 0.4, h * 0.3), QColor(90, 150, 220), QColor(60, 130, 60));
        DrawArrowDown(p, QPointF(w * 0.5, h * 0.36), w * 0.3, h * 0.3, QColor(40, 150, 60));
        DrawFolder(p, QRectF(w * 0.25, h * 0.66, w * 0.5, h * 0.3));
        break;
    case TTabMotif::Browse:
        for (int row = 0; row < 2; ++row) {
            for (int col = 0; col < 3; ++col) {
                const QRectF cell(w * (0.06 + col * 0.31), h * (0.1 + row * 0.42), w * 0.26, h * 0.34);
                p.setPen(QPen(QColor(128, 128, 128), 1));
                p.setBrush(QColor(192, 192, 192));
                p.drawRect(cell);
                const QColor sky = QColor::fromHsv((row * 3 + col) * 50 % 360, 120, 230);
                DrawFramedPicture(p, cell.adjusted(cell.width() * 0.12, cell.height() * 0.12, -cell.width() * 0.12,
                                                   -cell.height() * 0.3),
                                  sky, QColor(60, 130, 60));
            }
        }
        break;
    }
    return img;
}

QImage DrawInfoButton(int size, bool pressed)
{
    QImage img = Blank(size, size);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    const qreal shift = pressed ? s * 0.04 : 0;
    QRadialGradient g(QPointF(s * 0.4 + shift, s * 0.35 + shift), s * 0.6);
    g.setColorAt(0, pressed ? QColor(120, 150, 230) : QColor(160, 190, 255));
    g.setColorAt(1, pressed ? QColor(10, 30, 110) : QColor(30, 60, 170));
    p.setBrush(g);
    p.setPen(QPen(QColor(10, 20, 80), s * 0.05));
    p.drawEllipse(QRectF(s * 0.06 + shift, s * 0.06 + shift, s * 0.86, s * 0.86));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(s * 0.49 + shift, s * 0.28 + shift), s * 0.07, s * 0.07);
    p.drawRoundedRect(QRectF(s * 0.42 + shift, s * 0.41 + shift, s * 0.14, s * 0.36), s * 0.04, s * 0.04);
    return img;
}

QImage DrawExitButton(int size, bool pressed)
{
    QImage img = Blank(size, size);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    const qreal shift = pressed ? s * 0.04 : 0;
    QRadialGradient g(QPointF(s * 0.4 + shift, s * 0.35 + shift), s * 0.6);
    g.setColorAt(0, pressed ? QColor(220, 110, 110) : QColor(255, 150, 140));
    g.setColorAt(1, pressed ? QColor(100, 0, 0) : QColor(160, 20, 20));
    p.setBrush(g);
    p.setPen(QPen(QColor(70, 0, 0), s * 0.05));
    p.drawEllipse(QRectF(s * 0.06 + shift, s * 0.06 + shift, s * 0.86, s * 0.86));
    // A power sign: the usual mark for "leave the program".
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, s * 0.09, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(s * 0.27 + shift, s * 0.29 + shift, s * 0.44, s * 0.44), 120 * 16, 300 * 16);
    p.drawLine(QPointF(s * 0.49 + shift, s * 0.2 + shift), QPointF(s * 0.49 + shift, s * 0.48 + shift));
    return img;
}
