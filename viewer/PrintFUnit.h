// TPrintForm: the print dialog with its page preview, shown from the viewer.
#pragma once

#include "ui/Form.h"

class TPrintForm : public TForm {
public:
    TPrintForm();
};

extern TPrintForm* PrintForm;
