// TAddTypeForm: the small modal dialog through which a new file type is entered.
#pragma once

#include "ui/Form.h"

class TAddTypeForm : public TForm {
public:
    TAddTypeForm();

    TLabel* Label1;
    TEdit* Edit1;
    TBevel* Bevel1;
    TButton* OkBtn;
    TButton* CancelBtn;

    // OkBtn enabled exactly when Edit1 is not empty.
    void Edit1Change();
};

extern TAddTypeForm* AddTypeForm;
