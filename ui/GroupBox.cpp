#include "ui/GroupBox.h"

// Qt
#include <QGroupBox>

// ours
#include "ui/HostWidget.h"

TGroupBox::TGroupBox(TWinControl* parent, std::string name)
    : TWinControl(parent, new QGroupBox(parent ? parent->Widget() : nullptr), std::move(name)),
      Caption([this] { return FromQString(box_->title()); },
              [this](const std::string& v) { box_->setTitle(ToQString(v)); })
{
    box_ = static_cast<QGroupBox*>(widget_);
}
