// Text controls: the one-line edit and the memo.
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
using ctl::VirtualKeyOf;

namespace {

// Keys and focus changes of an edit, handed to its events.
class EditEventFilter : public QObject {
public:
    EditEventFilter(QObject* parent, TEdit* edit) : QObject(parent), edit_(edit) {}

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        switch (e->type()) {
        case QEvent::KeyPress:
            if (edit_->OnKeyDown) {
                auto* ke = static_cast<QKeyEvent*>(e);
                Word key = VirtualKeyOf(ke->key(), ke->modifiers());
                if (key != 0) {
                    edit_->OnKeyDown(key, ShiftOf(ke->modifiers()));
                    if (key == 0)
                        return true;
                }
            }
            break;
        case QEvent::FocusIn:
            if (edit_->OnEnter)
                edit_->OnEnter();
            break;
        case QEvent::FocusOut:
            if (edit_->OnExit)
                edit_->OnExit();
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, e);
    }

private:
    TEdit* edit_;
};

}  // namespace

void TEdit::SetFocus()
{
    edit_->setFocus(Qt::OtherFocusReason);
}

bool TEdit::Focused() const
{
    return edit_->hasFocus();
}

TEdit::TEdit(TWinControl* parent, std::string name)
    : TControl(parent, new QLineEdit(ParentWidget(parent)), std::move(name)),
      Text([this] { return FromQString(edit_->text()); }, [this](const std::string& v) { edit_->setText(ToQString(v)); }),
      ReadOnly([this] { return edit_->isReadOnly(); }, [this](const bool& v) { edit_->setReadOnly(v); })
{
    edit_ = static_cast<QLineEdit*>(widget_);
    QObject::connect(edit_, &QLineEdit::textChanged, [this] {
        if (OnChange)
            OnChange();
    });
    edit_->installEventFilter(new EditEventFilter(edit_, this));
}

// ---------------------------------------------------------------------------
// TMemo

class MemoLines : public TStrings {
public:
    explicit MemoLines(TMemo& memo) : memo_(memo) {}
    int Count() const override { return static_cast<int>(memo_.text_.size()); }
    std::string Get(int index) const override
    {
        Check(index, Count());
        return memo_.text_[static_cast<std::size_t>(index)];
    }
    void Add(const std::string& s) override
    {
        memo_.text_.push_back(s);
        memo_.Changed(true);
        if (memo_.OnLineAdded)
            memo_.OnLineAdded(s);
    }
    void Insert(int index, const std::string& s) override
    {
        Check(index, Count() + 1);
        if (index == Count()) {
            Add(s);
            return;
        }
        memo_.text_.insert(memo_.text_.begin() + index, s);
        memo_.Changed(false);
    }
    void Delete(int index) override
    {
        Check(index, Count());
        memo_.text_.erase(memo_.text_.begin() + index);
        memo_.Changed(false);
    }
    void Clear() override { memo_.Clear(); }

private:
    static void Check(int index, int end)
    {
        if (index < 0 || index >= end)
            throw std::out_of_range("line index out of bounds (" + std::to_string(index) + ")");
    }
    TMemo& memo_;
};

namespace {

class MemoEdit : public QPlainTextEdit {
public:
    explicit MemoEdit(QWidget* parent) : QPlainTextEdit(parent) {}
    std::function<void()> onShow;

protected:
    void showEvent(QShowEvent* e) override
    {
        QPlainTextEdit::showEvent(e);
        if (onShow)
            onShow();
    }
};

} // namespace

TMemo::TMemo(TWinControl* parent, std::string name)
    : TControl(parent, new MemoEdit(ParentWidget(parent)), std::move(name)),
      ReadOnly([this] { return edit_->isReadOnly(); },
               [this](const bool& v) {
                   edit_->setReadOnly(v);
                   // Tab still stops at a read-only memo; its caret shows the
                   // focus there, and the keys can select lines to copy.
                   if (v)
                       edit_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
               })
{
    auto* edit = static_cast<MemoEdit*>(widget_);
    edit_ = edit;
    edit_->setLineWrapMode(QPlainTextEdit::NoWrap);
    edit_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    edit->onShow = [this] { Sync(); };
    syncTimer_ = new QTimer(edit_);
    syncTimer_->setSingleShot(true);
    syncTimer_->setInterval(40);
    QObject::connect(syncTimer_, &QTimer::timeout, edit_, [this] { Sync(); });
    lines_ = std::make_unique<MemoLines>(*this);
}

TMemo::~TMemo() = default;

TStrings& TMemo::Lines()
{
    return *lines_;
}

void TMemo::Clear()
{
    text_.clear();
    edit_->clear();
    mirrored_ = 0;
    mirrorValid_ = true;
    syncTimer_->stop();
}

void TMemo::SetMaxLines(std::size_t n)
{
    maxLines_ = n;
    Changed(true);
}

void TMemo::Changed(bool appended)
{
    if (maxLines_ > 0 && text_.size() > maxLines_) {
        std::size_t drop = text_.size() - maxLines_;
        text_.erase(text_.begin(), text_.begin() + static_cast<std::ptrdiff_t>(drop));
        if (mirrored_ > 0)
            appended = false;
    }
    if (!appended)
        mirrorValid_ = false;
    // A hidden memo is brought up to date when it is shown.
    if (edit_->isVisible() && !syncTimer_->isActive())
        syncTimer_->start();
}

void TMemo::Sync()
{
    syncTimer_->stop();
    if (mirrorValid_ && mirrored_ == text_.size())
        return;
    const bool rebuild = !mirrorValid_ || mirrored_ == 0;
    const std::size_t from = rebuild ? 0 : mirrored_;
    QString add;
    for (std::size_t i = from; i < text_.size(); ++i) {
        if (!rebuild || i > from)
            add += QChar(u'\n');
        add += ToQString(text_[i]);
    }
    if (rebuild) {
        edit_->setPlainText(add);
    } else {
        // One insertion for the whole batch; each line feed starts a block.
        QTextCursor c(edit_->document());
        c.movePosition(QTextCursor::End);
        c.insertText(add);
    }
    mirrored_ = text_.size();
    mirrorValid_ = true;
    // The newest line is shown: now, and once more after the view has laid
    // out a large batch (its scroll range grows only then).
    QScrollBar* bar = edit_->verticalScrollBar();
    bar->setValue(bar->maximum());
    QTimer::singleShot(0, edit_, [bar] { bar->setValue(bar->maximum()); });
}
