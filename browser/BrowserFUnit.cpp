#include "browser/BrowserFUnit.h"

TBrowserForm* BrowserForm = nullptr;

TBrowserForm::TBrowserForm() : TForm("BrowserForm")
{
    Caption = "Quenbrik Web Lumifang - Browser";
    ClientWidth = 613;
    ClientHeight = 466;
    Panel5 = Make<TPanel>(this, "Panel5");
    Panel5->Align = TAlign::Top;
    Panel5->Height = 41;
    ReadyBtn = Make<TButton>(Panel5, "ReadyBtn");
    ReadyBtn->SetBounds(8, 8, 90, 25);
    ReadyBtn->Caption = "Zurück...";
    ReadyBtn->ModalResult = mrOk;
}
