#include "viewer/PrintFUnit.h"

TPrintForm* PrintForm = nullptr;

TPrintForm::TPrintForm() : TForm("PrintForm")
{
    Caption = "Bild drucken...";
    DialogBorder = true;
    ClientWidth = 427;
    ClientHeight = 328;
}
