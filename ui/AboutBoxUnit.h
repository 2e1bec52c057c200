// The about box: program name, version and the program's icon, closed with OK.
#pragma once

#include "ui/Form.h"

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

extern TAboutBox* AboutBox;
