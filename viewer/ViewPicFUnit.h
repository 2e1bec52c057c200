// TViewPicForm: the picture viewer, shown modally from the browser.
#pragma once

#include "ui/Form.h"

class TViewPicForm : public TForm {
public:
    TViewPicForm();
};

extern TViewPicForm* ViewPicForm;
