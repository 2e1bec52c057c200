#include "ui/Controls.h"

// Qt
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QToolButton>

// ours
#include "ui/HostWidget.h"
#include "ui/Responder.h"

TDirectoryEdit::TDirectoryEdit(TWinControl* parent, std::string name)
    : TControl(parent, new QWidget(parent ? parent->Widget() : nullptr), std::move(name)),
      Text([this] { return FromQString(edit_->text()); }, [this](const std::string& v) { edit_->setText(ToQString(v)); })
{
    auto* layout = new QHBoxLayout(widget_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    edit_ = new QLineEdit(widget_);
    button_ = new QToolButton(widget_);
    button_->setText(QStringLiteral("…"));
    button_->setToolTip(QStringLiteral("Verzeichnis auswählen"));
    layout->addWidget(edit_, 1);
    layout->addWidget(button_);
    QObject::connect(edit_, &QLineEdit::textChanged, [this] {
        if (OnChange)
            OnChange();
    });
    QObject::connect(button_, &QToolButton::clicked, [this] { Browse(); });
}

void TDirectoryEdit::Browse()
{
    const std::string current = Text();
    TFolderRequest request;
    request.Title = DialogTitle;
    request.InitialDir = !current.empty() && QFileInfo(ToQString(current)).isDir() ? current : InitialDir;
    if (auto chosen = Responder().SelectFolder(request))
        Text = *chosen;
}
