#include "viewer/ViewPicFUnit.h"

TViewPicForm* ViewPicForm = nullptr;

TViewPicForm::TViewPicForm() : TForm("ViewPicForm")
{
    Caption = "Bild betrachten...";
    ClientWidth = 600;
    ClientHeight = 450;
}
