#include "ui/AboutBoxUnit.h"

// Qt
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

TAboutBox* AboutBox = nullptr;

QImage DrawProgramEmblem(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;

    // A framed picture: sky, sun and two hills.
    const QRectF frame(s * 0.06, s * 0.10, s * 0.70, s * 0.58);
    QLinearGradient sky(frame.topLeft(), frame.bottomLeft());
    sky.setColorAt(0, QColor(120, 170, 230));
    sky.setColorAt(1, QColor(215, 235, 250));
    p.setPen(QPen(QColor(90, 60, 30), s * 0.03));
    p.setBrush(sky);
    p.drawRect(frame);
    p.setClipRect(frame.adjusted(s * 0.015, s * 0.015, -s * 0.015, -s * 0.015));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(250, 200, 60));
    p.drawEllipse(QPointF(frame.left() + frame.width() * 0.75, frame.top() + frame.height() * 0.28), s * 0.07, s * 0.07);
    QPainterPath hills;
    hills.moveTo(frame.bottomLeft());
    hills.cubicTo(frame.left() + frame.width() * 0.25, frame.top() + frame.height() * 0.35,
                  frame.left() + frame.width() * 0.45, frame.top() + frame.height() * 0.55,
                  frame.left() + frame.width() * 0.60, frame.top() + frame.height() * 0.70);
    hills.cubicTo(frame.left() + frame.width() * 0.75, frame.top() + frame.height() * 0.45,
                  frame.right(), frame.top() + frame.height() * 0.55, frame.right(), frame.bottom());
    hills.closeSubpath();
    p.setBrush(QColor(70, 140, 70));
    p.drawPath(hills);
    p.setClipping(false);

    // A lens over the corner: the program looks for pictures.
    const QPointF centre(s * 0.62, s * 0.60);
    const qreal r = s * 0.22;
    QRadialGradient glass(centre, r);
    glass.setColorAt(0, QColor(255, 255, 255, 90));
    glass.setColorAt(1, QColor(180, 220, 255, 150));
    p.setBrush(glass);
    p.setPen(QPen(QColor(128, 0, 0), s * 0.05));
    p.drawEllipse(centre, r, r);
    p.setPen(QPen(QColor(128, 0, 0), s * 0.09, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre + QPointF(r * 0.75, r * 0.75), QPointF(s * 0.94, s * 0.94));
    return img;
}

TAboutBox::TAboutBox() : TForm("AboutBox")
{
    Caption = "Info über Web Lumifang";
    DialogBorder = true;
    ClientWidth = 300;
    ClientHeight = 220;

    Panel1 = Make<TPanel>(this, "Panel1");
    Panel1->BevelOuter = TBevelCut::Lowered;
    Panel1->SetBounds(8, 8, 284, 165);

    ProgramIcon = Make<TImage>(Panel1, "ProgramIcon");
    ProgramIcon->SetBounds(8, 8, 72, 72);
    ProgramIcon->SetPicture(DrawProgramEmblem(72));

    ProductName = Make<TLabel>(Panel1, "ProductName");
    ProductName->SetFont(TFontSpec{"MS Sans Serif", 12, true, clMaroon});
    ProductName->SetBounds(96, 16, 180, 24);
    ProductName->Caption = "Web Lumifang";

    Version = Make<TLabel>(Panel1, "Version");
    Version->SetBounds(96, 48, 180, 16);
    Version->Caption = "Version 2.3";

    Copyright = Make<TLabel>(Panel1, "Copyright");
    Copyright->SetBounds(8, 96, 268, 16);
    Copyright->Caption = "Quenbrik";

    Comments = Make<TLabel>(Panel1, "Comments");
    Comments->WordWrap = true;
    Comments->SetBounds(8, 116, 268, 44);
    Comments->Caption = "Bilder von Webseiten sammeln, herunterladen und sichten.";

    OKButton = Make<TButton>(this, "OKButton");
    OKButton->SetBounds(112, 184, 75, 25);
    OKButton->Caption = "OK";
    OKButton->Default = true;
    OKButton->Cancel = true;
    OKButton->ModalResult = mrOk;
}
