// The about box: program name, version and a picture of our own, closed with OK.
#pragma once

#include "ui/Form.h"

class QImage;

class TAboutBox : public TForm {
public:
    TAboutBox();

    TPanel* Panel1;
    TImage* ProgramIcon;
    TLabel* ProductName;
    TLabel* Version;
    TLabel* Copyright;
    TLabel* Comments;
    TButton* OKButton;
};

// The program's emblem, drawn in code: a lens over a little landscape.
QImage DrawProgramEmblem(int size);

extern TAboutBox* AboutBox;
