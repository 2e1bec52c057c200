#include "ui/SpinEdit.h"

// Qt
#include <QSpinBox>

TSpinEdit::TSpinEdit(TWinControl* parent, std::string name)
    : TControl(parent, new QSpinBox(parent ? parent->Widget() : nullptr), std::move(name)),
      Value([this] { return spin_->value(); }, [this](const int& v) { spin_->setValue(v); }),
      MinValue([this] { return spin_->minimum(); },
               [this](const int& v) { spin_->setMinimum(v); }),
      MaxValue([this] { return spin_->maximum(); },
               [this](const int& v) { spin_->setMaximum(v); }),
      Increment([this] { return spin_->singleStep(); }, [this](const int& v) { spin_->setSingleStep(v); })
{
    spin_ = static_cast<QSpinBox*>(widget_);
    // A fresh spin edit may hold any integer until the form narrows its range.
    spin_->setRange(-2147483647, 2147483647);
    spin_->setValue(0);
    spin_->setAccelerated(true);
    // valueChanged fires on setValue too, but never for an unchanged value;
    // QSpinBox clamps setValue and range changes, so the value stays in range.
    QObject::connect(spin_, &QSpinBox::valueChanged, [this](int) {
        if (OnChange)
            OnChange();
    });
}

bool TSpinEdit::Focused() const
{
    return spin_->hasFocus();
}
