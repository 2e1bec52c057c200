// TPrintForm: the print dialog with its page preview, shown from the viewer.
// The viewer makes a fresh dialog for each print command.
#pragma once

#include "raster/Rasterwerk.h"
#include "ui/Form.h"
#include "viewer/PrintLayout.h"

class QPrinter;
class TPanel;
class TLabel;
class TGroupBox;
class TRadioButton;
class TCheckBox;
class TSpinEdit;
class TPaintBox;

class TPrintForm : public TForm {
public:
    TPrintForm();
    ~TPrintForm() override;

    // A copy of the viewer's picture; shares its pixels, never freed here.
    raster::DibHandle PrintPicture;
    bool SyncBusy = false;
    // With the ratio kept: the height was entered last, the width follows it.
    bool HoeheLeads = false;
    // The printer whose page the preview shows and the job prints on; null
    // means the program's current printer, looked up only when first needed
    // (asking the print system at start-up could keep the program waiting).
    QPrinter* Printer = nullptr;
    QPrinter& ThePrinter() const;

    TLabel* RxLabel1;
    TPanel* Panel1;
    TPaintBox* PrintPaintBox;
    TGroupBox* GroupBox1;
    TRadioButton* UseFullCheck;
    TRadioButton* UserdefCheck;
    TLabel* RxLabel2;
    TSpinEdit* BreitEdit;
    TLabel* RxLabel3;
    TSpinEdit* HochEdit;
    TGroupBox* GroupBox2;
    TCheckBox* SverhCheck;
    TCheckBox* ZentrCheck;
    TButton* OkBitBtn1;
    TButton* PrintSetupBtn;
    TButton* CancelBitBtn2;

    void PrintPaintBoxPaint();
    void BreitEditChange();
    void HochEditChange();
    void UserdefCheckClick();
    void FormShow();
    void PrintSetupBtnClick();
    // Brings the other percentage in line with the one the user entered last.
    void SyncPercentages();
    // The percentage fields take input in the user-defined mode only.
    void UpdateSizeFields();

    // The choices of the dialog as the page arithmetic takes them.
    TPrintOptions Options() const;
    // Keeps the percentages and the window's place for the next dialog and
    // the next run of the program.
    void SaveSettings();
    // Pictures drawn into the preview so far (tests).
    long PreviewDraws() const { return previewDraws_; }

private:
    void RestoreSettings();
    long previewDraws_ = 0;
};

extern TPrintForm* PrintForm;

// The one-page print job "Web Lumifang Bild": the picture placed on the
// printer's printable area by the same arithmetic as the preview. A printer
// that writes PDF asks for the file (through the responder) unless one was
// chosen in the set-up; the file appears complete or not at all. False when
// nothing was printed (the file choice was cancelled, the printer failed).
bool PrintPictureJob(QPrinter& printer, const raster::DibHandle& picture, const TPrintOptions& options);
