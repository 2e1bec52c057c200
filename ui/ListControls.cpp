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
#include "ui/Canvas.h"
#include "ui/Form.h"
#include "ui/HostWidget.h"
#include "ui/Responder.h"
#include "ui/StringListModel.h"

namespace {

QWidget* ParentWidget(TWinControl* parent)
{
    return parent ? parent->Widget() : nullptr;
}

void SetWidgetColor(QWidget* w, TColor c, QPalette::ColorRole role = QPalette::Window)
{
    if (c == clDefault) {
        w->setAutoFillBackground(false);
        w->setPalette(QPalette());
        return;
    }
    QPalette pal = w->palette();
    pal.setColor(role, ToQColor(c));
    w->setPalette(pal);
    if (role == QPalette::Window)
        w->setAutoFillBackground(true);
}

// Virtual key of a Qt key; letters and digits coincide, 0 for keys of no interest.
Word VirtualKeyOf(int key)
{
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9) || key == Qt::Key_Space)
        return static_cast<Word>(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return static_cast<Word>(VK_F1 + (key - Qt::Key_F1));
    switch (key) {
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Tab: return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Shift: return VK_SHIFT;
    case Qt::Key_Control: return VK_CONTROL;
    case Qt::Key_Alt: return VK_MENU;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_PageUp: return VK_PRIOR;
    case Qt::Key_PageDown: return VK_NEXT;
    case Qt::Key_End: return VK_END;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_Insert: return VK_INSERT;
    case Qt::Key_Delete: return VK_DELETE;
    default: return 0;
    }
}

QFont FontOf(const TFontSpec& font)
{
    QFont f = QApplication::font();
    if (font.Name == "Courier New") {
        f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    } else if (font.Name == "Arial Black") {
        f.setFamily(QStringLiteral("DejaVu Sans"));
        f.setWeight(QFont::Black);
    } else if (font.Name != "MS Sans Serif") {
        f.setFamily(ToQString(font.Name));
    }
    if (font.Size > 0)
        f.setPointSize(font.Size);
    if (font.Bold)
        f.setBold(true);
    return f;
}

} // namespace

// ---------------------------------------------------------------------------
// TControl, TWinControl

void HostWidget::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    if (owner_)
        owner_->AlignControls();
}

TControl::TControl(TWinControl* parent, QWidget* widget, std::string name)
    : Name(std::move(name)),
      Enabled([this] { return !widget_->testAttribute(Qt::WA_ForceDisabled); },
              [this](const bool& v) { widget_->setEnabled(v); }),
      Visible([this] { return GetVisible(); }, [this](const bool& v) { SetVisible(v); }),
      Hint([this] { return FromQString(widget_->toolTip()); },
           [this](const std::string& v) { widget_->setToolTip(ToQString(v)); }),
      Align([this] { return align_; },
            [this](const TAlign& a) {
                align_ = a;
                Realign();
            }),
      Color([this] { return color_; }, [this](const TColor& c) { SetColor(c); }),
      Left([this] { return GetBounds().Left; },
           [this](const int& v) { SetBounds(v, placement_.Top, placement_.Width(), placement_.Height()); }),
      Top([this] { return GetBounds().Top; },
          [this](const int& v) { SetBounds(placement_.Left, v, placement_.Width(), placement_.Height()); }),
      Width([this] { return GetBounds().Width(); },
            [this](const int& v) { SetBounds(placement_.Left, placement_.Top, v, placement_.Height()); }),
      Height([this] { return GetBounds().Height(); },
             [this](const int& v) { SetBounds(placement_.Left, placement_.Top, placement_.Width(), v); }),
      parent_(parent),
      widget_(widget)
{
    placement_ = TRect{widget_->x(), widget_->y(), widget_->x() + widget_->width(), widget_->y() + widget_->height()};
    widget_->setObjectName(ToQString(Name));
    if (parent_)
        parent_->children_.push_back(this);
}

TControl::~TControl() = default;

QWidget* TControl::Widget() const
{
    return widget_;
}

TForm* TControl::ParentForm() const
{
    const TControl* c = this;
    while (c->parent_)
        c = c->parent_;
    return dynamic_cast<TForm*>(const_cast<TControl*>(c));
}

void TControl::SetBounds(int left, int top, int width, int height)
{
    placement_ = TRect{left, top, left + std::max(0, width), top + std::max(0, height)};
    if (align_ == TAlign::None)
        widget_->setGeometry(left, top, std::max(0, width), std::max(0, height));
    Realign();
    if (auto* w = dynamic_cast<TWinControl*>(this))
        w->AlignControls();
}

void TControl::SetFont(const TFontSpec& font)
{
    widget_->setFont(FontOf(font));
    if (font.Color != clDefault) {
        QPalette pal = widget_->palette();
        pal.setColor(QPalette::WindowText, ToQColor(font.Color));
        pal.setColor(QPalette::Text, ToQColor(font.Color));
        widget_->setPalette(pal);
    }
}

void TControl::BringToFront()
{
    widget_->raise();
}

void TControl::Invalidate()
{
    widget_->update();
}

TRect TControl::GetBounds() const
{
    const QRect g = widget_->geometry();
    return TRect{g.x(), g.y(), g.x() + g.width(), g.y() + g.height()};
}

bool TControl::GetVisible() const
{
    return visible_;
}

void TControl::SetVisible(bool v)
{
    visible_ = v;
    widget_->setVisible(v);
    Realign();
}

void TControl::SetColor(TColor c)
{
    color_ = c;
    SetWidgetColor(widget_, c);
}

void TControl::Realign()
{
    if (parent_)
        parent_->AlignControls();
}

TWinControl::TWinControl(TWinControl* parent, QWidget* widget, std::string name)
    : TControl(parent, widget, std::move(name))
{
}

TWinControl::~TWinControl() = default;

void TWinControl::AlignControls()
{
    int left = 0, top = 0, right = widget_->width(), bottom = widget_->height();
    auto place = [](TControl* c, int x, int y, int w, int h) {
        c->widget_->setGeometry(x, y, std::max(0, w), std::max(0, h));
        if (auto* wc = dynamic_cast<TWinControl*>(c))
            wc->AlignControls();
    };
    // Top, bottom, left, right edges first, the client area last: each aligned
    // child takes its strip from the room the ones before it left.
    for (TAlign pass : {TAlign::Top, TAlign::Bottom, TAlign::Left, TAlign::Right, TAlign::Client}) {
        for (TControl* c : children_) {
            if (c->align_ != pass || !c->visible_)
                continue;
            const int h = c->placement_.Height();
            const int w = c->placement_.Width();
            switch (pass) {
            case TAlign::Top:
                place(c, left, top, right - left, h);
                top += h;
                break;
            case TAlign::Bottom:
                place(c, left, bottom - h, right - left, h);
                bottom -= h;
                break;
            case TAlign::Left:
                place(c, left, top, w, bottom - top);
                left += w;
                break;
            case TAlign::Right:
                place(c, right - w, top, w, bottom - top);
                right -= w;
                break;
            case TAlign::Client:
                place(c, left, top, right - left, bottom - top);
                break;
            case TAlign::None:
                break;
            }
        }
    }
}

// ---------------------------------------------------------------------------
// TPanel, TLabel, TBevel

class PanelWidget : public HostWidget {
public:
    PanelWidget(TWinControl* owner, QWidget* parent) : HostWidget(owner, parent) {}
    std::string caption;
    TBevelCut bevel = TBevelCut::Raised;
    TAlignment alignment = TAlignment::Center;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        const QRect r = rect();
        if (bevel != TBevelCut::None && r.width() > 1 && r.height() > 1) {
            const QColor light = palette().color(QPalette::Light);
            const QColor dark = palette().color(QPalette::Dark);
            const QColor& tl = bevel == TBevelCut::Raised ? light : dark;
            const QColor& br = bevel == TBevelCut::Raised ? dark : light;
            p.setPen(tl);
            p.drawLine(r.left(), r.top(), r.right(), r.top());
            p.drawLine(r.left(), r.top(), r.left(), r.bottom());
            p.setPen(br);
            p.drawLine(r.right(), r.top(), r.right(), r.bottom());
            p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
        }
        if (!caption.empty()) {
            int flags = Qt::AlignVCenter | Qt::TextSingleLine;
            flags |= alignment == TAlignment::Center ? Qt::AlignHCenter
                     : alignment == TAlignment::LeftJustify ? Qt::AlignLeft
                                                            : Qt::AlignRight;
            p.setPen(palette().color(QPalette::WindowText));
            p.setFont(font());
            p.drawText(r.adjusted(4, 0, -4, 0), flags, ToQString(caption));
        }
    }
};

TPanel::TPanel(TWinControl* parent, std::string name)
    : TWinControl(parent, new PanelWidget(nullptr, ParentWidget(parent)), std::move(name)),
      Caption([this] { return panel_->caption; },
              [this](const std::string& v) {
                  panel_->caption = v;
                  panel_->update();
              }),
      BevelOuter([this] { return panel_->bevel; },
                 [this](const TBevelCut& v) {
                     panel_->bevel = v;
                     panel_->update();
                 }),
      Alignment([this] { return panel_->alignment; },
                [this](const TAlignment& v) {
                    panel_->alignment = v;
                    panel_->update();
                })
{
    panel_ = static_cast<PanelWidget*>(widget_);
    panel_->SetOwner(this);
}

TLabel::TLabel(TWinControl* parent, std::string name)
    : TControl(parent, new QLabel(ParentWidget(parent)), std::move(name)),
      Caption([this] { return FromQString(label_->text()); },
              [this](const std::string& v) {
                  label_->setText(ToQString(v));
                  if (!label_->wordWrap()) {
                      label_->adjustSize();
                      placement_.Right = placement_.Left + label_->width();
                      placement_.Bottom = placement_.Top + label_->height();
                  }
              }),
      WordWrap([this] { return label_->wordWrap(); }, [this](const bool& v) { label_->setWordWrap(v); })
{
    label_ = static_cast<QLabel*>(widget_);
    label_->setTextFormat(Qt::PlainText);
}

TBevel::TBevel(TWinControl* parent, std::string name) : TControl(parent, new QFrame(ParentWidget(parent)), std::move(name))
{
    auto* f = static_cast<QFrame*>(widget_);
    f->setFrameShape(QFrame::HLine);
    f->setFrameShadow(QFrame::Sunken);
}

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
                Word key = VirtualKeyOf(ke->key());
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

// ---------------------------------------------------------------------------
// TStrings

int TStrings::IndexOf(const std::string& s) const
{
    const int n = Count();
    for (int i = 0; i < n; ++i) {
        if (Get(i) == s)
            return i;
    }
    return -1;
}

std::vector<std::string> TStrings::ToVector() const
{
    std::vector<std::string> v;
    const int n = Count();
    v.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        v.push_back(Get(i));
    return v;
}

void TStrings::Assign(const std::vector<std::string>& items)
{
    BeginUpdate();
    Clear();
    for (const auto& s : items)
        Add(s);
    EndUpdate();
}

namespace {

class ModelStrings : public TStrings {
public:
    explicit ModelStrings(TStringListModel& m) : m_(m) {}
    int Count() const override { return m_.Count(); }
    std::string Get(int index) const override { return m_.At(index); }
    void Add(const std::string& s) override { m_.Append(s); }
    void Insert(int index, const std::string& s) override { m_.Insert(index, s); }
    void Delete(int index) override { m_.Remove(index); }
    void Clear() override { m_.Clear(); }
    void BeginUpdate() override { m_.BeginUpdate(); }
    void EndUpdate() override { m_.EndUpdate(); }

private:
    TStringListModel& m_;
};

// Hands key presses to OnKeyDown first; the view still handles them unless
// the handler set the key to 0.
class KeyFilter : public QObject {
public:
    KeyFilter(QObject* parent, TKeyEvent* handler) : QObject(parent), handler_(handler) {}

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() == QEvent::KeyPress && *handler_) {
            auto* ke = static_cast<QKeyEvent*>(e);
            Word key = VirtualKeyOf(ke->key());
            if (key != 0) {
                (*handler_)(key, ShiftOf(ke->modifiers()));
                if (key == 0)
                    return true;
            }
        }
        return QObject::eventFilter(watched, e);
    }

private:
    TKeyEvent* handler_;
};

} // namespace

// ---------------------------------------------------------------------------
// TListBox

TListBox::TListBox(TWinControl* parent, std::string name)
    : TControl(parent, new QListView(ParentWidget(parent)), std::move(name)),
      MultiSelect([this] { return view_->selectionMode() == QAbstractItemView::ExtendedSelection; },
                  [this](const bool& v) {
                      view_->setSelectionMode(v ? QAbstractItemView::ExtendedSelection
                                                : QAbstractItemView::SingleSelection);
                  }),
      ItemIndex(
          [this] {
              if (view_->selectionMode() == QAbstractItemView::SingleSelection) {
                  const QModelIndexList rows = view_->selectionModel()->selectedRows();
                  return rows.isEmpty() ? -1 : rows.front().row();
              }
              return view_->currentIndex().isValid() ? view_->currentIndex().row() : -1;
          },
                [this](const int& i) {
                    if (i < 0 || i >= model_->rowCount()) {
                        view_->selectionModel()->clearCurrentIndex();
                        if (view_->selectionMode() == QAbstractItemView::SingleSelection)
                            view_->selectionModel()->clearSelection();
                        return;
                    }
                    const auto flag = view_->selectionMode() == QAbstractItemView::SingleSelection
                                          ? QItemSelectionModel::ClearAndSelect
                                          : QItemSelectionModel::NoUpdate;
                    view_->selectionModel()->setCurrentIndex(model_->index(i), flag);
                })
{
    view_ = static_cast<QListView*>(widget_);
    // The view owns the model, so both go together with the window.
    model_ = new TStringListModel(view_);
    items_ = std::make_unique<ModelStrings>(*model_);
    // A single-select list whose selected row is deleted has no selection
    // afterwards (the view would otherwise select a neighbour, and a second
    // "delete" would take that one too). Heard before the view hears it ...
    QObject::connect(model_, &QAbstractItemModel::rowsAboutToBeRemoved, view_,
                     [this](const QModelIndex&, int first, int last) {
                         selectedRowRemoved_ = false;
                         if (view_->selectionMode() != QAbstractItemView::SingleSelection)
                             return;
                         for (const QModelIndex& i : view_->selectionModel()->selectedRows())
                             selectedRowRemoved_ = selectedRowRemoved_ || (i.row() >= first && i.row() <= last);
                     });
    view_->setModel(model_);
    // ... and undone after the view has moved its current row.
    QObject::connect(model_, &QAbstractItemModel::rowsRemoved, view_, [this] {
        if (selectedRowRemoved_)
            view_->selectionModel()->clearSelection();
        selectedRowRemoved_ = false;
    });
    view_->setUniformItemSizes(true);   // constant-time layout for long lists
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->installEventFilter(new KeyFilter(view_, &OnKeyDown));
    QObject::connect(view_, &QListView::clicked, [this] {
        if (OnClick)
            OnClick();
    });
}

TListBox::~TListBox() = default;

TStrings& TListBox::Items()
{
    return *items_;
}

bool TListBox::Selected(int index) const
{
    if (index < 0 || index >= model_->rowCount())
        return false;
    return view_->selectionModel()->isSelected(model_->index(index));
}

void TListBox::SetSelected(int index, bool selected)
{
    if (index < 0 || index >= model_->rowCount())
        return;
    view_->selectionModel()->select(model_->index(index),
                                    selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect);
}

int TListBox::SelCount() const
{
    int n = 0;
    for (const QItemSelectionRange& r : view_->selectionModel()->selection())
        n += r.bottom() - r.top() + 1;
    return n;
}

void TListBox::SelectAll()
{
    if (model_->rowCount() == 0)
        return;
    QItemSelection all(model_->index(0), model_->index(model_->rowCount() - 1));
    view_->selectionModel()->select(all, QItemSelectionModel::ClearAndSelect);
}

void TListBox::ClearSelection()
{
    view_->selectionModel()->clearSelection();
}

std::vector<bool> TListBox::SelectionFlags() const
{
    std::vector<bool> flags(static_cast<std::size_t>(model_->rowCount()), false);
    for (const QItemSelectionRange& r : view_->selectionModel()->selection()) {
        for (int row = std::max(0, r.top()); row <= r.bottom() && row < model_->rowCount(); ++row)
            flags[static_cast<std::size_t>(row)] = true;
    }
    return flags;
}

void TListBox::SetSelection(const std::vector<bool>& flags)
{
    QItemSelection sel;
    const int n = std::min(model_->rowCount(), static_cast<int>(flags.size()));
    for (int i = 0; i < n;) {
        if (!flags[static_cast<std::size_t>(i)]) {
            ++i;
            continue;
        }
        int j = i;
        while (j + 1 < n && flags[static_cast<std::size_t>(j + 1)])
            ++j;
        sel.append(QItemSelectionRange(model_->index(i), model_->index(j)));
        i = j + 1;
    }
    view_->selectionModel()->select(sel, QItemSelectionModel::ClearAndSelect);
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
      ReadOnly([this] { return edit_->isReadOnly(); }, [this](const bool& v) { edit_->setReadOnly(v); })
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

// ---------------------------------------------------------------------------
// TProgressBar

TProgressBar::TProgressBar(TWinControl* parent, std::string name)
    : TControl(parent, new QProgressBar(ParentWidget(parent)), std::move(name)),
      Position([this] { return bar_->value() < bar_->minimum() ? bar_->minimum() : bar_->value(); },
               [this](const int& v) { bar_->setValue(std::clamp(v, bar_->minimum(), bar_->maximum())); }),
      Min([this] { return bar_->minimum(); }, [this](const int& v) { bar_->setMinimum(v); }),
      Max([this] { return bar_->maximum(); }, [this](const int& v) { bar_->setMaximum(v); })
{
    bar_ = static_cast<QProgressBar*>(widget_);
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setTextVisible(false);
}

// ---------------------------------------------------------------------------
// TImage

class ImageWidget : public QWidget {
public:
    ImageWidget(QWidget* parent) : QWidget(parent) {}
    TImage* owner = nullptr;
    QImage picture;
    bool shown = true;
    bool pressed = false;

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!shown || picture.isNull())
            return;
        QPainter p(this);
        if (owner->Stretch) {
            p.drawImage(rect(), picture);
        } else if (owner->Center) {
            p.drawImage((width() - picture.width()) / 2, (height() - picture.height()) / 2, picture);
        } else {
            p.drawImage(0, 0, picture);
        }
    }
    void mousePressEvent(QMouseEvent* e) override
    {
        pressed = pressed || e->button() == Qt::LeftButton;
        const QPoint pt = e->position().toPoint();
        if (owner->OnMouseDown)
            owner->OnMouseDown(ButtonOf(e->button()), ShiftOf(e->modifiers(), e->buttons()), pt.x(), pt.y());
    }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        const QPoint pt = e->position().toPoint();
        if (owner->OnMouseMove)
            owner->OnMouseMove(ShiftOf(e->modifiers(), e->buttons()), pt.x(), pt.y());
    }
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        const QPoint pt = e->position().toPoint();
        // The click runs before the mouse-up handler, the order of Windows
        // controls, which the forms' image buttons are written for.
        if (e->button() == Qt::LeftButton && pressed) {
            pressed = false;
            if (rect().contains(pt) && owner->OnClick)
                owner->OnClick();
        }
        if (owner->OnMouseUp)
            owner->OnMouseUp(ButtonOf(e->button()), ShiftOf(e->modifiers(), e->buttons()), pt.x(), pt.y());
    }
};

TImage::TImage(TWinControl* parent, std::string name)
    : TControl(parent, new ImageWidget(ParentWidget(parent)), std::move(name))
{
    image_ = static_cast<ImageWidget*>(widget_);
    image_->owner = this;
}

void TImage::SetPicture(const QImage& picture)
{
    image_->picture = picture;
    image_->update();
}

const QImage& TImage::Picture() const
{
    return image_->picture;
}

void TImage::Click()
{
    if (OnClick)
        OnClick();
}

bool TImage::GetVisible() const
{
    return visible_;
}

void TImage::SetVisible(bool v)
{
    // The widget itself stays shown so that a press it holds keeps its moves
    // and release; "hidden" means it paints nothing and lets new presses through.
    visible_ = v;
    image_->shown = v;
    image_->setAttribute(Qt::WA_TransparentForMouseEvents, !v);
    image_->update();
}

// ---------------------------------------------------------------------------
// TPageControl, TTabSheet

TPageControl::TPageControl(TWinControl* parent, std::string name)
    : TWinControl(parent, new QTabWidget(ParentWidget(parent)), std::move(name)),
      HotTrack([this] { return tabs_->tabBar()->testAttribute(Qt::WA_Hover); },
               [this](const bool& v) { tabs_->tabBar()->setAttribute(Qt::WA_Hover, v); })
{
    tabs_ = static_cast<QTabWidget*>(widget_);
    QObject::connect(tabs_, &QTabWidget::currentChanged, [this] {
        if (OnChange)
            OnChange();
    });
}

void TPageControl::SetImages(const std::vector<QImage>& images)
{
    images_ = images;
    for (TTabSheet* p : pages_)
        UpdateIcon(p);
}

TTabSheet* TPageControl::ActivePage() const
{
    QWidget* w = tabs_->currentWidget();
    for (TTabSheet* p : pages_) {
        if (p->Widget() == w)
            return p;
    }
    return nullptr;
}

void TPageControl::SetActivePage(TTabSheet* page)
{
    if (page)
        tabs_->setCurrentWidget(page->Widget());
}

void TPageControl::AddPage(TTabSheet* page)
{
    pages_.push_back(page);
    tabs_->addTab(page->Widget(), QString());
}

void TPageControl::UpdateIcon(TTabSheet* page)
{
    const int i = page->PageIndex();
    const int image = page->ImageIndex();
    if (i < 0)
        return;
    if (image >= 0 && image < static_cast<int>(images_.size()))
        tabs_->setTabIcon(i, QIcon(QPixmap::fromImage(images_[static_cast<std::size_t>(image)])));
    else
        tabs_->setTabIcon(i, QIcon());
}

TTabSheet::TTabSheet(TPageControl* pageControl, std::string name)
    : TWinControl(pageControl, new HostWidget(nullptr, nullptr), std::move(name)),
      Caption([this] { return caption_; },
              [this](const std::string& v) {
                  caption_ = v;
                  pages_->tabs_->setTabText(PageIndex(), ToQString(v));
              }),
      TabVisible([this] { return pages_->tabs_->isTabVisible(PageIndex()); },
                 [this](const bool& v) { pages_->tabs_->setTabVisible(PageIndex(), v); }),
      ImageIndex([this] { return imageIndex_; },
                 [this](const int& v) {
                     imageIndex_ = v;
                     pages_->UpdateIcon(this);
                 }),
      pages_(pageControl)
{
    static_cast<HostWidget*>(widget_)->SetOwner(this);
    pages_->AddPage(this);
}

int TTabSheet::PageIndex() const
{
    return pages_->tabs_->indexOf(widget_);
}
