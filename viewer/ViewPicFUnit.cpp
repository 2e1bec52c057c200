#include "viewer/ViewPicFUnit.h"

// system
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <system_error>

// ours
#include "base/AsciiCase.h"
#include "raster/DibDraw.h"
#include "ui/DesktopOpen.h"
#include "base/NaturalOrder.h"
#include "ui/Responder.h"
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
    ScrollBox1->OnMouseWheel = [this](TShiftState s, int delta, bool& handled) {
        ScrollBox1MouseWheel(s, delta, handled);
    };
    KeyPreview = true;
    OnKeyDown = [this](Word& key, TShiftState s) { FormKeyDown(key, s); };
    OnShow = [this] { FormShow(); };
    OnHide = [this] { FormHide(); };
}

TViewPicForm::~TViewPicForm()
{
    ReleaseOwnPicture();
}

std::vector<std::string> FolderPictures(const std::string& folder)
{
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError))
            continue;
        std::string name = it->path().filename().string();
        const auto dot = name.rfind('.');
        if (dot != std::string::npos && raster::DibTypeForExtension(UpperAscii(name.substr(dot))) != raster::dtAuto)
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return NaturalLess(a, b); });
    return names;
}

void TViewPicForm::FormShow()
{
    // Each picture starts at its top-left corner; the zoom stays as it was.
    ScrollBox1->HorzScrollBar.Position = 0;
    ScrollBox1->VertScrollBar.Position = 0;
    ScrollBox1->SetFocus();
    // The paint box keeps its last pixels while the window is hidden; the
    // browser may have put another picture in since.
    PaintBox1->Invalidate();
    UpdateCaption();
}

void TViewPicForm::UpdateCaption()
{
    std::string text = "Bild betrachten...";
    if (ViewPicture.Bits && ViewPicture.Info) {
        const auto slash = ViewFileName.rfind('/');
        text += " - " + (slash == std::string::npos ? ViewFileName : ViewFileName.substr(slash + 1)) + " (" +
                std::to_string(raster::DibWidth(ViewPicture)) + " × " +
                std::to_string(raster::DibHeight(ViewPicture)) + " Pixel, " + std::to_string(ZoomEd->Value()) + " %)";
    }
    Caption = text;
}

void TViewPicForm::FormHide()
{
    Dragging = false;
    // The browser frees its own picture after the window has gone; one the
    // viewer paged to is the viewer's to free.
    if (ownPicture_.Bits && ViewPicture.Bits == ownPicture_.Bits)
        ViewPicture = raster::DibHandle();
    ReleaseOwnPicture();
}

void TViewPicForm::ReleaseOwnPicture()
{
    if (ownPicture_.Bits || ownPicture_.Info)
        raster::deldib(ownPicture_);
    ownPicture_ = raster::DibHandle();
}

void TViewPicForm::TakePicture(const raster::DibHandle& picture, const std::string& path)
{
    ReleaseOwnPicture();
    ownPicture_ = picture;
    ViewPicture = picture;
    ViewFileName = path;
    Dragging = false;
    ScrollBox1->HorzScrollBar.Position = 0;
    ScrollBox1->VertScrollBar.Position = 0;
    PaintBox1Paint();
    PaintBox1->Invalidate();
    UpdateCaption();
    if (OnPictureChanged)
        OnPictureChanged(path);
}

bool TViewPicForm::ShowNeighbour(int step)
{
    if (step == 0 || ViewFileName.empty())
        return false;
    const auto slash = ViewFileName.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string("./") : ViewFileName.substr(0, slash + 1);
    const std::string current = slash == std::string::npos ? ViewFileName : ViewFileName.substr(slash + 1);
    const std::vector<std::string> names = FolderPictures(folder);
    // Where the current picture stands, or would stand when it has gone meanwhile.
    const auto at = std::lower_bound(names.begin(), names.end(), current,
                                     [](const std::string& a, const std::string& b) { return NaturalLess(a, b); });
    const bool present = at != names.end() && *at == current;
    long i = long(at - names.begin());
    if (step < 0 || present)
        i += step;
    else
        i += step - 1;
    for (; i >= 0 && i < long(names.size()); i += step > 0 ? 1 : -1) {
        const std::string path = folder + names[size_t(i)];
        raster::DibHandle picture;
        raster::OpenDib(picture, path.c_str(), raster::dtAuto, this);
        if (picture.Bits) {
            TakePicture(picture, path);
            return true;
        }
        if (picture.Info)
            raster::deldib(picture);
    }
    return false;
}

void TViewPicForm::StepZoom(int steps)
{
    ZoomEd->Value = ZoomEd->Value() + steps * ZoomEd->Increment();
}

void TViewPicForm::FitZoom()
{
    if (!ViewPicture.Bits || !ViewPicture.Info)
        return;
    const int64_t W = raster::DibWidth(ViewPicture), H = raster::DibHeight(ViewPicture);
    if (W <= 0 || H <= 0)
        return;
    // The view as large as it is without scroll bars: a picture that fits needs none.
    const int64_t zw = int64_t(ScrollBox1->FullClientWidth()) * 100 / W;
    const int64_t zh = int64_t(ScrollBox1->FullClientHeight()) * 100 / H;
    ZoomEd->Value = int(std::clamp<int64_t>(std::min(zw, zh), ZoomEd->MinValue(), ZoomEd->MaxValue()));
}

void TViewPicForm::FormKeyDown(Word& Key, TShiftState Shift)
{
    switch (Key) {
    case VK_ESCAPE:
        Key = 0;
        Close();
        return;
    case VK_NEXT:
        Key = 0;
        ShowNeighbour(1);
        return;
    case VK_PRIOR:
        Key = 0;
        ShowNeighbour(-1);
        return;
    default:
        break;
    }
    // Digits, signs and editing keys belong to the zoom field while the user types in it.
    if (ZoomEd->Focused() || (Shift & (ssCtrl | ssAlt)))
        return;
    switch (Key) {
    case VK_SPACE:
        ShowNeighbour(1);
        break;
    case VK_BACK:
        ShowNeighbour(-1);
        break;
    case VK_ADD:
    case VK_OEM_PLUS:
        StepZoom(1);
        break;
    case VK_SUBTRACT:
    case VK_OEM_MINUS:
        StepZoom(-1);
        break;
    case '0':
        FitZoom();
        break;
    default:
        return;
    }
    Key = 0;
}

void TViewPicForm::ScrollBox1MouseWheel(TShiftState Shift, int WheelDelta, bool& Handled)
{
    if (!(Shift & ssCtrl))
        return;
    Handled = true;
    wheelRest_ += WheelDelta;
    const int notches = wheelRest_ / 120;
    wheelRest_ -= notches * 120;
    if (notches != 0)
        StepZoom(notches);
}

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
    UpdateCaption();
    PaintBox1Paint();
}

void TViewPicForm::PaintBox1MouseDown(TMouseButton, TShiftState, int X, int Y)
{
    // Back from the zoom field: the keys are the viewer's again.
    ScrollBox1->SetFocus();
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
    // Without a word the user would not know why nothing opened.
    DesktopOpen(ViewFileName, this, [] {
        MessageDlg("Kein Programm zum Öffnen dieser Datei gefunden.", "Fehler", TMsgIcon::Error, mbOK);
    });
}
