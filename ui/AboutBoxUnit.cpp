#include "ui/AboutBoxUnit.h"

// Qt
#include <QIcon>
#include <QPixmap>

// ours
#include "ProgramInfo.h"
#include "ui/ProgramIcon.h"

TAboutBox* AboutBox = nullptr;

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
    ProgramIcon->SetPicture(::ProgramIcon().pixmap(72, 72).toImage());

    ProductName = Make<TLabel>(Panel1, "ProductName");
    ProductName->SetFont(TFontSpec{"MS Sans Serif", 12, true, clMaroon});
    ProductName->SetBounds(96, 16, 180, 24);
    ProductName->Caption = "Web Lumifang";

    Version = Make<TLabel>(Panel1, "Version");
    Version->SetBounds(96, 48, 180, 16);
    Version->Caption = std::string("Version ") + kProgramVersion;

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
