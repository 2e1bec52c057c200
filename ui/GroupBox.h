// A framed group of controls with a caption. Radio buttons placed in it form
// their own group.
#pragma once

#include <string>

#include "ui/Controls.h"

class QGroupBox;

class TGroupBox : public TWinControl {
public:
    TGroupBox(TWinControl* parent, std::string name);
    Property<std::string> Caption;

private:
    QGroupBox* box_;
};
