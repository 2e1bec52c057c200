// Buttons, check boxes and radio buttons.
#include "ui/Controls.h"

// system
#include <algorithm>

// Qt
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QImage>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>

// ours
#include "ui/ControlHelpers.h"
#include "ui/Canvas.h"
#include "ui/Form.h"
#include "ui/HostWidget.h"
#include "ui/Responder.h"
#include "ui/StringListModel.h"

using ctl::ParentWidget;

// ---------------------------------------------------------------------------
// Buttons, edits, check marks

TButton::TButton(TWinControl* parent, std::string name)
    : TControl(parent, new QPushButton(ParentWidget(parent)), std::move(name)),
      Caption([this] { return FromQString(button_->text()); },
              [this](const std::string& v) { button_->setText(ToQString(v)); })
{
    button_ = static_cast<QPushButton*>(widget_);
    button_->setAutoDefault(false);
    QObject::connect(button_, &QPushButton::clicked, [this] { Clicked(); });
}

void TButton::Click()
{
    button_->click();
}

void TButton::Clicked()
{
    if (ModalResult != mrNone) {
        if (TForm* form = ParentForm())
            form->ModalResult = ModalResult;
    }
    if (OnClick)
        OnClick();
}

TCheckBox::TCheckBox(TWinControl* parent, std::string name)
    : TControl(parent, new QCheckBox(ParentWidget(parent)), std::move(name)),
      Caption([this] { return FromQString(box_->text()); }, [this](const std::string& v) { box_->setText(ToQString(v)); }),
      Checked([this] { return box_->isChecked(); }, [this](const bool& v) { box_->setChecked(v); })
{
    box_ = static_cast<QCheckBox*>(widget_);
    QObject::connect(box_, &QCheckBox::toggled, [this] {
        if (OnClick)
            OnClick();
    });
}

void TCheckBox::Click()
{
    box_->click();
}

TRadioButton::TRadioButton(TWinControl* parent, std::string name)
    : TControl(parent, new QRadioButton(ParentWidget(parent)), std::move(name)),
      Caption([this] { return FromQString(radio_->text()); },
              [this](const std::string& v) { radio_->setText(ToQString(v)); }),
      Checked([this] { return radio_->isChecked(); }, [this](const bool& v) { radio_->setChecked(v); })
{
    radio_ = static_cast<QRadioButton*>(widget_);
    QObject::connect(radio_, &QRadioButton::toggled, [this](bool on) {
        if (on && OnClick)
            OnClick();
    });
}

void TRadioButton::Click()
{
    radio_->click();
}
