#include "viewer/PrintFUnit.h"

// Qt
#include <QApplication>
#include <QByteArray>
#include <QPalette>
#include <QSettings>
#include <QWidget>

// ours
#include "raster/DibDraw.h"
#include "ui/Canvas.h"
#include "ui/GroupBox.h"
#include "ui/Printer.h"
#include "ui/Responder.h"
#include "ui/ScrollBox.h"
#include "ui/SpinEdit.h"

TPrintForm* PrintForm = nullptr;

namespace {

constexpr const char* kSettingsGroup = "PrintForm";

} // namespace

TPrintForm::TPrintForm() : TForm("PrintForm")
{
    Caption = "Bild drucken...";
    // The 8-point desktop font: the fixed layout below was measured with it.
    SetFont(TFontSpec{});
    DialogBorder = true;
    ClientWidth = 427;
    ClientHeight = 328;

    RxLabel1 = Make<TLabel>(this, "RxLabel1");
    RxLabel1->SetBounds(16, 0, 60, 20);
    RxLabel1->Caption = "Vorschau:";

    Panel1 = Make<TPanel>(this, "Panel1");
    Panel1->SetBounds(16, 24, 200, 225);
    Panel1->BevelOuter = TBevelCut::Lowered;

    PrintPaintBox = Make<TPaintBox>(Panel1, "PrintPaintBox");
    PrintPaintBox->SetBounds(4, 17, 190, 190);
    PrintPaintBox->Color = FromQColor(QApplication::palette().color(QPalette::Button));

    GroupBox1 = Make<TGroupBox>(this, "GroupBox1");
    GroupBox1->SetBounds(232, 24, 185, 129);
    GroupBox1->Caption = "Druckgröße";
    UseFullCheck = Make<TRadioButton>(GroupBox1, "UseFullCheck");
    UseFullCheck->SetBounds(8, 20, 170, 20);
    UseFullCheck->Caption = "Seite voll nutzen";
    UseFullCheck->Checked = true;
    UserdefCheck = Make<TRadioButton>(GroupBox1, "UserdefCheck");
    UserdefCheck->SetBounds(8, 42, 170, 20);
    UserdefCheck->Caption = "Benutzerdefiniert";
    RxLabel2 = Make<TLabel>(GroupBox1, "RxLabel2");
    RxLabel2->SetBounds(24, 70, 70, 20);
    RxLabel2->Caption = "Breite in %:";
    BreitEdit = Make<TSpinEdit>(GroupBox1, "BreitEdit");
    BreitEdit->SetBounds(104, 66, 65, 24);
    RxLabel3 = Make<TLabel>(GroupBox1, "RxLabel3");
    RxLabel3->SetBounds(24, 100, 70, 20);
    RxLabel3->Caption = "Höhe in %:";
    HochEdit = Make<TSpinEdit>(GroupBox1, "HochEdit");
    HochEdit->SetBounds(104, 96, 65, 24);
    for (TSpinEdit* e : {BreitEdit, HochEdit}) {
        e->MinValue = 1;
        e->MaxValue = 100;
        e->Value = 50;
    }

    GroupBox2 = Make<TGroupBox>(this, "GroupBox2");
    GroupBox2->SetBounds(232, 160, 185, 89);
    GroupBox2->Caption = "Druckoptionen";
    SverhCheck = Make<TCheckBox>(GroupBox2, "SverhCheck");
    SverhCheck->SetBounds(4, 24, 180, 20);
    SverhCheck->Caption = "Seitenverhältnis beibehalten";
    SverhCheck->Checked = true;
    ZentrCheck = Make<TCheckBox>(GroupBox2, "ZentrCheck");
    ZentrCheck->SetBounds(4, 52, 180, 20);
    ZentrCheck->Caption = "Zentrierte Ausgabe";
    ZentrCheck->Checked = true;

    OkBitBtn1 = Make<TButton>(this, "OkBitBtn1");
    OkBitBtn1->SetBounds(29, 296, 89, 25);
    OkBitBtn1->Caption = "&OK";
    OkBitBtn1->ModalResult = mrOk;
    OkBitBtn1->Default = true;
    PrintSetupBtn = Make<TButton>(this, "PrintSetupBtn");
    PrintSetupBtn->SetBounds(125, 296, 177, 25);
    PrintSetupBtn->Caption = "Drucker &einrichten...";
    CancelBitBtn2 = Make<TButton>(this, "CancelBitBtn2");
    CancelBitBtn2->SetBounds(309, 296, 89, 25);
    CancelBitBtn2->Caption = "A&bbrechen";
    CancelBitBtn2->ModalResult = mrCancel;
    CancelBitBtn2->Cancel = true;

    // Before the handlers are bound: restoring a value is not a user's change.
    RestoreSettings();
    UpdateSizeFields();

    PrintPaintBox->OnPaint = [this] { PrintPaintBoxPaint(); };
    UseFullCheck->OnClick = [this] {
        UpdateSizeFields();
        PrintPaintBoxPaint();
    };
    UserdefCheck->OnClick = [this] { UserdefCheckClick(); };
    SverhCheck->OnClick = [this] { PrintPaintBoxPaint(); };
    ZentrCheck->OnClick = [this] { PrintPaintBoxPaint(); };
    BreitEdit->OnChange = [this] { BreitEditChange(); };
    HochEdit->OnChange = [this] { HochEditChange(); };
    PrintSetupBtn->OnClick = [this] { PrintSetupBtnClick(); };
    OnShow = [this] { FormShow(); };
}

TPrintForm::~TPrintForm() = default;

QPrinter& TPrintForm::ThePrinter() const
{
    return Printer ? *Printer : CurrentPrinter();
}

TPrintOptions TPrintForm::Options() const
{
    TPrintOptions o;
    o.UseFull = UseFullCheck->Checked();
    o.KeepRatio = SverhCheck->Checked();
    o.Centred = ZentrCheck->Checked();
    o.Breite = BreitEdit->Value();
    o.Hoehe = HochEdit->Value();
    o.HoeheLeads = HoeheLeads;
    return o;
}

void TPrintForm::PrintPaintBoxPaint()
{
    const TPrinterPage page = PrintablePage(ThePrinter());
    const TPlace box = PreviewPage(PrintPaintBox->Width(), PrintPaintBox->Height(), page.Width, page.Height);
    TCanvas& canvas = PrintPaintBox->Canvas();
    // The box's own colour first, as the window system erases a control before
    // it paints: otherwise a page turned by the printer set-up would leave the
    // old page's edges standing beside the new one.
    canvas.Brush.Color = PrintPaintBox->Color();
    canvas.FillRect(TRect{0, 0, PrintPaintBox->Width(), PrintPaintBox->Height()});
    if (box.W > 0 && box.H > 0) {
        canvas.Brush.Color = clWhite;
        canvas.Pen.Color = clWhite;
        canvas.Rectangle(box.X, box.Y, box.X + box.W, box.Y + box.H);
        if (PrintPicture.Bits && PrintPicture.Info) {
            const int32_t W = raster::DibWidth(PrintPicture), H = raster::DibHeight(PrintPicture);
            const TPlace p = PicturePlace(box.W, box.H, W, H, Options());
            ++previewDraws_;
            raster::DrawDibScaled(PrintPaintBox->DC(), box.X + p.X, box.Y + p.Y, p.W, p.H, PrintPicture, 0, 0, W, H,
                                  true, raster::SRCCOPY, true, nullptr);
        }
    }
    // Brings the other percentage in line when the ratio is kept and paints
    // once more; the nested paint stops here because SyncBusy is set.
    SyncPercentages();
}

void TPrintForm::SyncPercentages()
{
    if (HoeheLeads)
        HochEditChange();
    else
        BreitEditChange();
}

void TPrintForm::BreitEditChange()
{
    if (SyncBusy)
        return;
    SyncBusy = true;
    HoeheLeads = false;
    if (SverhCheck->Checked() && PrintPicture.Bits && PrintPicture.Info) {
        const TPrinterPage page = PrintablePage(ThePrinter());
        const int32_t W = raster::DibWidth(PrintPicture), H = raster::DibHeight(PrintPicture);
        const int v = RoundPercent(CoupledHoehe(BreitEdit->Value(), page.Width, page.Height, W, H));
        HochEdit->Value = v;
        // The height was clamped: take the width back so the pair stays in proportion.
        if (v > 100 || v < 1)
            BreitEdit->Value = RoundPercent(CoupledBreite(HochEdit->Value(), page.Width, page.Height, W, H));
    }
    PrintPaintBox->Repaint();
    SyncBusy = false;
}

void TPrintForm::HochEditChange()
{
    if (SyncBusy)
        return;
    SyncBusy = true;
    HoeheLeads = true;
    if (SverhCheck->Checked() && PrintPicture.Bits && PrintPicture.Info) {
        const TPrinterPage page = PrintablePage(ThePrinter());
        const int32_t W = raster::DibWidth(PrintPicture), H = raster::DibHeight(PrintPicture);
        const int b = RoundPercent(CoupledBreite(HochEdit->Value(), page.Width, page.Height, W, H));
        BreitEdit->Value = b;
        if (b > 100 || b < 1)
            HochEdit->Value = RoundPercent(CoupledHoehe(BreitEdit->Value(), page.Width, page.Height, W, H));
    }
    PrintPaintBox->Repaint();
    SyncBusy = false;
}

void TPrintForm::UserdefCheckClick()
{
    UpdateSizeFields();
    if (!UserdefCheck->Checked())
        return;
    SyncPercentages();
    PrintPaintBox->Repaint();
}

void TPrintForm::UpdateSizeFields()
{
    const bool own = UserdefCheck->Checked();
    for (TControl* c : {static_cast<TControl*>(RxLabel2), static_cast<TControl*>(BreitEdit),
                        static_cast<TControl*>(RxLabel3), static_cast<TControl*>(HochEdit)})
        c->Enabled = own;
}

void TPrintForm::FormShow()
{
    SyncPercentages();
}

void TPrintForm::PrintSetupBtnClick()
{
    Responder().PrinterSetup(ThePrinter());
    PrintPaintBox->Repaint();
}

void TPrintForm::RestoreSettings()
{
    QSettings settings("Quenbrik", "Web Lumifang");
    settings.beginGroup(kSettingsGroup);
    // The spin edits clamp whatever the store holds into 1..100.
    bool ok = false;
    const int b = settings.value("BreitEdit").toInt(&ok);
    if (ok)
        BreitEdit->Value = b;
    const int v = settings.value("HochEdit").toInt(&ok);
    if (ok)
        HochEdit->Value = v;
    const QByteArray geometry = settings.value("Geometry").toByteArray();
    if (!geometry.isEmpty() && Widget()->restoreGeometry(geometry))
        CenterOnScreen = false;
}

void TPrintForm::SaveSettings()
{
    QSettings settings("Quenbrik", "Web Lumifang");
    settings.beginGroup(kSettingsGroup);
    settings.setValue("BreitEdit", BreitEdit->Value());
    settings.setValue("HochEdit", HochEdit->Value());
    // Only a dialog that has been on the screen has a place worth keeping.
    if (Widget()->testAttribute(Qt::WA_WState_ExplicitShowHide) || Showing())
        settings.setValue("Geometry", Widget()->saveGeometry());
}
