// The folder tree of the image browser: the file system's folders from "/",
// starting at a given folder (the user's home by default). Folders only, no
// renaming, no drag and drop.
#pragma once

#include <functional>
#include <string>

#include "ui/Controls.h"

#include <QAbstractItemView>

class QTreeView;
class QFileSystemModel;

class TShellTree : public TControl {
public:
    // initialFolder empty: the user's home folder.
    TShellTree(TWinControl* parent, std::string name, const std::string& initialFolder = {});
    ~TShellTree() override;

    // The selected folder's path; empty when no folder is selected.
    std::string SelectedPath() const;
    // Selects a folder as a click would: OnChanging may refuse, OnChange follows.
    // False when the path names no folder or the change was refused.
    bool SetSelectedPath(const std::string& path);

    // Before the selection moves; set AllowChange to false to keep it where it is.
    std::function<void(bool& AllowChange)> OnChanging;
    TNotifyEvent OnChange;
    TMouseMoveEvent OnMouseMove;

    QTreeView* View() const { return view_; }

private:
    friend class ShellSelectionModel;
    bool AskChanging();
    // Scrolls the folder into view, sideways as well.
    void ShowFolder(const QModelIndex& index, QAbstractItemView::ScrollHint hint);

    QTreeView* view_;
    QFileSystemModel* model_;
    bool scrolledToStart_ = false;
};
