#include "viewer/ViewPicFUnit.h"

// system
#include <cmath>
#include <memory>

// ours
#include "raster/DibDraw.h"
#include "ui/DesktopOpen.h"
#include "ui/ScrollBox.h"
#include "ui/SpinEdit.h"
#include "viewer/PrintFUnit.h"

TViewPicForm* ViewPicForm = nullptr;

namespace {

// The desktop's application-workspace grey behind a picture smaller than the view.
constexpr TColor clAppWorkSpace = RGB(171, 171, 171);

} // namespace

TViewPicForm::TViewPicForm() : TForm("ViewPicForm")
{
    Caption = "Bild betrachten...";
    // The 8-point desktop font: the fixed layout below was measured with it.
    SetFont(TFontSpec{});
    // The outer 532 x 420 of the window less the usual frame and title bar.
    ClientWidth = 524;
    ClientHeight = 393;

    Panel5 = Make<TPanel>(this, "Panel5");
    Panel5->Height = 41;
    Panel5->Align = TAlign::Top;
    ReadyBtn = Make<TButton>(Panel5, "ReadyBtn");
    ReadyBtn->SetBounds(8, 8, 97, 25);
    ReadyBtn->Caption = "Zurück...";
    ReadyBtn->ModalResult = mrOk;
    PrintBrn = Make<TButton>(Panel5, "PrintBrn");
    PrintBrn->SetBounds(112, 8, 97, 25);
    PrintBrn->Caption = "&Drucken";
    OpenBtn = Make<TButton>(Panel5, "OpenBtn");
    OpenBtn->SetBounds(216, 8, 97, 25);
    OpenBtn->Caption = "Öffnen...";
    Label1 = Make<TLabel>(Panel5, "Label1");
    Label1->SetBounds(320, 12, 44, 17);
    Label1->Caption = "Zoom:";
    ZoomEd = Make<TSpinEdit>(Panel5, "ZoomEd");
    ZoomEd->SetBounds(368, 8, 65, 25);
    ZoomEd->MinValue = 5;
    ZoomEd->MaxValue = 9000;
    ZoomEd->Increment = 10;
    ZoomEd->Value = 100;

    ScrollBox1 = Make<TScrollBox>(this, "ScrollBox1");
    ScrollBox1->Align = TAlign::Client;
    ScrollBox1->Color = clAppWorkSpace;
    PaintBox1 = Make<TPaintBox>(ScrollBox1, "PaintBox1");
    PaintBox1->SetBounds(0, 0, 105, 105);
    PaintBox1->SetCursor(TCursor::HandPoint);

    PaintBox1->OnPaint = [this] { PaintBox1Paint(); };
    PaintBox1->OnMouseDown = [this](TMouseButton b, TShiftState s, int x, int y) { PaintBox1MouseDown(b, s, x, y); };
    PaintBox1->OnMouseMove = [this](TShiftState s, int x, int y) { PaintBox1MouseMove(s, x, y); };
    PaintBox1->OnMouseUp = [this](TMouseButton b, TShiftState s, int x, int y) { PaintBox1MouseUp(b, s, x, y); };
    ZoomEd->OnChange = [this] { ZoomEdChange(); };
    PrintBrn->OnClick = [this] { PrintBrnClick(); };
    OpenBtn->OnClick = [this] { OpenBtnClick(); };
    // The paint box keeps its last pixels while the window is hidden; the
    // browser may have put another picture in since.
    OnShow = [this] { PaintBox1->Invalidate(); };
}

TViewPicForm::~TViewPicForm() = default;

void TViewPicForm::PaintBox1Paint()
{
    if (PaintSuspended || !ViewPicture.Bits || !ViewPicture.Info)
        return;
    const int32_t W = raster::DibWidth(ViewPicture), H = raster::DibHeight(ViewPicture);
    const double Z = ZoomEd->Value();
    const int w = int(std::trunc(W * Z / 100.0));
    const int h = int(std::trunc(H * Z / 100.0));
    // One dimension per paint: the resize brings a fresh paint, and only a
    // paint box of exactly the zoomed size is drawn. A paint box without area
    // gets no paint, so then the next step follows at once; else a box once
    // 0 high would never grow back.
    const auto hasArea = [this] { return PaintBox1->Width() > 0 && PaintBox1->Height() > 0; };
    if (w != PaintBox1->Width()) {
        PaintBox1->Width = w;
        if (hasArea())
            return;
    }
    if (h != PaintBox1->Height()) {
        PaintBox1->Height = h;
        if (hasArea())
            return;
    }
    // A paint box without area (a tiny picture at a small zoom) shows nothing.
    if (w <= 0 || h <= 0)
        return;
    ++drawCount_;
    raster::DrawDibScaled(PaintBox1->DC(), 0, 0, w, h, ViewPicture, 0, 0, W, H, true, raster::SRCCOPY, false, nullptr);
}

void TViewPicForm::ZoomEdChange()
{
    PaintBox1Paint();
}

void TViewPicForm::PaintBox1MouseDown(TMouseButton, TShiftState, int X, int Y)
{
    Dragging = true;
    pressHorz_ = ScrollBox1->HorzScrollBar.Position();
    pressVert_ = ScrollBox1->VertScrollBar.Position();
    pressX_ = X - pressHorz_;
    pressY_ = Y - pressVert_;
}

void TViewPicForm::PaintBox1MouseMove(TShiftState, int X, int Y)
{
    if (!Dragging)
        return;
    // Paint-box coordinates move with the picture; the view's do not.
    const int x = X - ScrollBox1->HorzScrollBar.Position();
    const int y = Y - ScrollBox1->VertScrollBar.Position();
    PaintSuspended = true;
    ScrollBox1->HorzScrollBar.Position = pressHorz_ + (pressX_ - x);
    ScrollBox1->VertScrollBar.Position = pressVert_ + (pressY_ - y);
    PaintSuspended = false;
    PaintBox1Paint();
}

void TViewPicForm::PaintBox1MouseUp(TMouseButton, TShiftState, int, int)
{
    Dragging = false;
}

void TViewPicForm::PrintBrnClick()
{
    auto form = std::make_unique<TPrintForm>();
    form->PrintPicture = ViewPicture;
    const TModalResult result = form->ShowModal();
    // Kept whatever the result: a cancelled dialog keeps the percentages too.
    form->SaveSettings();
    if (result == mrOk)
        PrintPictureJob(form->ThePrinter(), form->PrintPicture, form->Options());
}

void TViewPicForm::OpenBtnClick()
{
    // The desktop reports a missing program itself; the viewer stays as it is.
    DesktopOpen(ViewFileName, this);
}
