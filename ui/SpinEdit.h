// A number edit with up and down buttons (a spin edit). Its value
// always lies within MinValue .. MaxValue: a value set outside is clamped, and
// narrowing the range moves the value in. OnChange fires for every change of
// the value, by the user or by the program, and only when it really changed.
#pragma once

#include <string>

#include "ui/Controls.h"

class QSpinBox;

class TSpinEdit : public TControl {
public:
    TSpinEdit(TWinControl* parent, std::string name);

    Property<int> Value;
    Property<int> MinValue;
    Property<int> MaxValue;
    // Step of the buttons and the arrow keys.
    Property<int> Increment;
    TNotifyEvent OnChange;
    // Whether the edit holds the keyboard focus (the user may be typing a number).
    bool Focused() const;

    QSpinBox* SpinBox() const { return spin_; }

private:
    QSpinBox* spin_;
};
