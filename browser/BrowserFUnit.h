// TBrowserForm: the image browser, shown modally from the main window.
#pragma once

#include "ui/Form.h"

class TBrowserForm : public TForm {
public:
    TBrowserForm();

    TPanel* Panel5;
    TButton* ReadyBtn;
};

extern TBrowserForm* BrowserForm;
