#include "ui/ShellTree.h"

// Qt
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTreeView>

// ours
#include "ui/HostWidget.h"

// Every way the current folder can move (click, keys, program) passes through
// select() or setCurrentIndex(); asking there lets the form refuse a change
// before anything moved.
class ShellSelectionModel : public QItemSelectionModel {
public:
    ShellSelectionModel(QAbstractItemModel* model, TShellTree* tree) : QItemSelectionModel(model), tree_(tree) {}

    void setCurrentIndex(const QModelIndex& index, QItemSelectionModel::SelectionFlags command) override
    {
        if (index != currentIndex() && !tree_->AskChanging())
            return;
        QItemSelectionModel::setCurrentIndex(index, command);
    }
    void select(const QItemSelection& selection, QItemSelectionModel::SelectionFlags command) override
    {
        // Selection without a change of the current folder follows the current one.
        if (!selection.isEmpty() && !selection.contains(currentIndex()) && !tree_->AskChanging())
            return;
        QItemSelectionModel::select(selection, command);
    }
    using QItemSelectionModel::select;

private:
    TShellTree* tree_;
};

namespace {

// Qt moves a tree sideways only by whole columns, and a column wider than the
// view (deep folders) goes back to its left edge on every move of the current
// folder: a folder chosen by keyboard deep down would lie out of sight.
class ShellTreeView : public QTreeView {
public:
    using QTreeView::QTreeView;

    void scrollTo(const QModelIndex& index, ScrollHint hint) override
    {
        QTreeView::scrollTo(index, hint);
        QScrollBar* bar = horizontalScrollBar();
        const QRect r = visualRect(index);
        const int margin = indentation();
        if (r.isValid() && (r.left() < 0 || r.left() > viewport()->width() - margin))
            bar->setValue(bar->value() + r.left() - margin);
    }
};

class TreeMouseFilter : public QObject {
public:
    TreeMouseFilter(QObject* parent, TShellTree* tree) : QObject(parent), tree_(tree) {}

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() == QEvent::MouseMove && tree_->OnMouseMove) {
            auto* me = static_cast<QMouseEvent*>(e);
            TShiftState s = 0;
            if (me->modifiers() & Qt::ShiftModifier)
                s |= ssShift;
            if (me->modifiers() & Qt::ControlModifier)
                s |= ssCtrl;
            if (me->buttons() & Qt::LeftButton)
                s |= ssLeft;
            const QPoint p = me->position().toPoint();
            tree_->OnMouseMove(s, p.x(), p.y());
        }
        return QObject::eventFilter(watched, e);
    }

private:
    TShellTree* tree_;
};

QWidget* ParentWidgetOf(TWinControl* parent)
{
    return parent ? parent->Widget() : nullptr;
}

}  // namespace

TShellTree::TShellTree(TWinControl* parent, std::string name, const std::string& initialFolder)
    : TControl(parent, new ShellTreeView(ParentWidgetOf(parent)), std::move(name))
{
    view_ = static_cast<QTreeView*>(widget_);
    model_ = new QFileSystemModel(view_);
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    model_->setReadOnly(true);
    model_->setRootPath("/");
    view_->setModel(model_);
    view_->setSelectionModel(new ShellSelectionModel(model_, this));
    // "/" itself is the one top entry, as the drives were.
    view_->setRootIndex(model_->index("/").parent());
    for (int c = 1; c < model_->columnCount(); ++c)
        view_->hideColumn(c);
    view_->header()->hide();
    // Deep folders scroll sideways instead of being cut off at the tree's edge.
    view_->header()->setStretchLastSection(false);
    view_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setDragEnabled(false);
    view_->setAcceptDrops(false);
    view_->setDragDropMode(QAbstractItemView::NoDragDrop);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setMouseTracking(true);
    view_->viewport()->installEventFilter(new TreeMouseFilter(view_, this));
    QObject::connect(view_->selectionModel(), &QItemSelectionModel::currentChanged, view_, [this] {
        if (OnChange)
            OnChange();
    });

    const QString start = initialFolder.empty() ? QDir::homePath() : ToQString(initialFolder);
    const QModelIndex index = model_->index(QFileInfo(start).absoluteFilePath());
    if (index.isValid()) {
        // No handler is bound yet: the first folder is taken without asking.
        view_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        ShowFolder(index, QAbstractItemView::EnsureVisible);
        // The model lists folders in the background: show the first folder
        // once its parent's entries are in, not only where it was at first.
        QObject::connect(model_, &QFileSystemModel::directoryLoaded, view_, [this](const QString& dir) {
            const QModelIndex current = view_->selectionModel()->currentIndex();
            if (current.isValid() && !scrolledToStart_ && model_->filePath(current.parent()) == dir) {
                scrolledToStart_ = true;
                ShowFolder(current, QAbstractItemView::PositionAtCenter);
            }
        });
    }
}

TShellTree::~TShellTree() = default;

void TShellTree::ShowFolder(const QModelIndex& index, QAbstractItemView::ScrollHint hint)
{
    view_->scrollTo(index, hint);
}

bool TShellTree::AskChanging()
{
    bool allow = true;
    if (OnChanging)
        OnChanging(allow);
    return allow;
}

std::string TShellTree::SelectedPath() const
{
    const QModelIndex index = view_->selectionModel()->currentIndex();
    if (!index.isValid())
        return {};
    const QFileInfo info = model_->fileInfo(index);
    if (!info.isDir())
        return {};
    return FromQString(info.absoluteFilePath());
}

bool TShellTree::SetSelectedPath(const std::string& path)
{
    const QFileInfo info(ToQString(path));
    if (!info.isDir())
        return false;
    const QModelIndex index = model_->index(info.absoluteFilePath());
    if (!index.isValid())
        return false;
    if (index == view_->selectionModel()->currentIndex())
        return true;
    view_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    if (view_->selectionModel()->currentIndex() != index)
        return false;
    ShowFolder(index, QAbstractItemView::EnsureVisible);
    return true;
}
