// Lists: the string list behind list controls and the list box.
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
            Word key = VirtualKeyOf(ke->key(), ke->modifiers());
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

// A list with the focus marks its current row; an empty list has none, so
// it marks its whole inside instead, else Tab would seem to go nowhere.
class FocusListView : public QListView {
public:
    explicit FocusListView(QWidget* parent) : QListView(parent) {}

protected:
    void paintEvent(QPaintEvent* e) override
    {
        QListView::paintEvent(e);
        if (!hasFocus() || currentIndex().isValid())
            return;
        // An outline in the highlight colour, as focused edit fields have.
        QPainter p(viewport());
        p.setPen(palette().color(QPalette::Highlight));
        p.drawRect(viewport()->rect().adjusted(0, 0, -1, -1));
    }
    void focusInEvent(QFocusEvent* e) override
    {
        QListView::focusInEvent(e);
        viewport()->update();
    }
    void focusOutEvent(QFocusEvent* e) override
    {
        QListView::focusOutEvent(e);
        viewport()->update();
    }
};

} // namespace

// ---------------------------------------------------------------------------
// TListBox

TListBox::TListBox(TWinControl* parent, std::string name)
    : TControl(parent, new FocusListView(ParentWidget(parent)), std::move(name)),
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
