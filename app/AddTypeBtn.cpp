#include "app/AddTypeBtn.h"

#include <QWidget>

TAddTypeForm* AddTypeForm = nullptr;

TAddTypeForm::TAddTypeForm() : TForm("AddTypeForm")
{
    Caption = "Dateityp hinzufügen...";
    DialogBorder = true;
    ClientWidth = 304;
    ClientHeight = 120;

    Label1 = Make<TLabel>(this, "Label1");
    Label1->SetBounds(8, 19, 80, 16);
    Label1->Caption = "Dateiendung:";
    Edit1 = Make<TEdit>(this, "Edit1");
    // Starts at 100 rather than right after the label: the desktop font is
    // wider than the 8-point one the dialog was laid out for.
    Edit1->SetBounds(100, 16, 185, 22);
    Bevel1 = Make<TBevel>(this, "Bevel1");
    Bevel1->SetBounds(8, 64, 288, 2);
    OkBtn = Make<TButton>(this, "OkBtn");
    OkBtn->SetBounds(52, 80, 97, 25);
    OkBtn->Caption = "OK";
    OkBtn->Default = true;
    OkBtn->ModalResult = mrOk;
    CancelBtn = Make<TButton>(this, "CancelBtn");
    CancelBtn->SetBounds(156, 80, 97, 25);
    CancelBtn->Caption = "Abbrechen";
    CancelBtn->Cancel = true;
    CancelBtn->ModalResult = mrCancel;

    Edit1->OnChange = [this] { Edit1Change(); };
    OnShow = [this] { Edit1->Widget()->setFocus(); };
    Edit1Change();
}

void TAddTypeForm::Edit1Change()
{
    OkBtn->Enabled = !Edit1->Text().empty();
}
