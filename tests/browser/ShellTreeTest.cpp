// The controls the browser brings along: the folder tree (a change it may
// refuse), the splitter, and the trash, which never deletes outright.
#include <gtest/gtest.h>

#include <cstdlib>

#include <QDir>

#include "browser/BrowserTestSupport.h"
#include "ui/Form.h"
#include "ui/ShellTree.h"
#include "ui/Splitter.h"
#include "ui/Trash.h"

using namespace browsertest;

TEST(ShellTree, StartsAtItsFolderAndAsksBeforeEveryChange)
{
    TTempDir a, b;
    TForm form("F");
    TShellTree tree(&form, "Tree", a.Path());
    EXPECT_EQ(tree.SelectedPath(), a.Path());

    int asked = 0, changed = 0;
    bool allow = true;
    tree.OnChanging = [&](bool& ok) {
        ++asked;
        ok = allow;
    };
    tree.OnChange = [&] { ++changed; };
    EXPECT_TRUE(tree.SetSelectedPath(b.Path()));
    EXPECT_EQ(tree.SelectedPath(), b.Path());
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(changed, 1);

    allow = false;
    EXPECT_FALSE(tree.SetSelectedPath(a.Path()));
    EXPECT_EQ(tree.SelectedPath(), b.Path());
    EXPECT_EQ(changed, 1);

    allow = true;
    WriteFile(a / "file.bmp", Bytes{1});
    EXPECT_FALSE(tree.SetSelectedPath(a / "file.bmp"));  // files are not in the tree
    EXPECT_FALSE(tree.SetSelectedPath(a / "missing"));
    EXPECT_EQ(tree.SelectedPath(), b.Path());
    EXPECT_TRUE(tree.SetSelectedPath(b.Path()));  // the same folder: no change
    EXPECT_EQ(changed, 1);
}

TEST(ShellTree, WithoutAFolderItStartsAtHome)
{
    TTempDir home;
    const char* old = std::getenv("HOME");
    const std::string saved = old ? old : "";
    setenv("HOME", home.Path().c_str(), 1);
    TForm form("F");
    TShellTree tree(&form, "Tree");
    EXPECT_EQ(tree.SelectedPath(), QDir(QString::fromStdString(home.Path())).absolutePath().toStdString());
    setenv("HOME", saved.c_str(), 1);
}

TEST(Splitter, DraggingResizesItsNeighbourWithinLimits)
{
    TForm form("F");
    form.ClientWidth = 600;
    form.ClientHeight = 400;
    TPanel left(&form, "Left");
    left.Align = TAlign::Left;
    left.Width = 185;
    TSplitter split(&form, "Split");
    split.Align = TAlign::Left;
    split.Width = 4;
    split.Control = &left;
    TPanel bottom(&form, "Bottom");
    bottom.Align = TAlign::Bottom;
    bottom.Height = 90;
    TSplitter split2(&form, "Split2");
    split2.Align = TAlign::Bottom;
    split2.Height = 4;
    split2.Control = &bottom;

    split.DragBy(40, 0);
    EXPECT_EQ(left.Width(), 225);
    split.DragBy(-1000, 0);
    EXPECT_EQ(left.Width(), split.MinSize);
    split.DragBy(5000, 0);
    EXPECT_LE(left.Width(), 600 - 4 - split.MinSize);
    split2.DragBy(0, -30);  // upwards: the bottom panel grows
    EXPECT_EQ(bottom.Height(), 120);
}

TEST(Trash, AFileEitherReachesTheTrashOrStaysWhereItWas)
{
    TTempDir data, dir;
    setenv("XDG_DATA_HOME", data.Path().c_str(), 1);
    WriteFile(dir / "x.jpg", Bytes{1, 2, 3});
    const bool moved = MoveToTrash(dir / "x.jpg");
    EXPECT_NE(moved, fs::exists(dir / "x.jpg"));
    EXPECT_FALSE(MoveToTrash(dir / "missing.jpg"));

    std::string asked;
    SetTrashFunction([&](const std::string& p) {
        asked = p;
        return false;
    });
    WriteFile(dir / "y.jpg", Bytes{1});
    EXPECT_FALSE(MoveToTrash(dir / "y.jpg"));
    EXPECT_EQ(asked, dir / "y.jpg");
    EXPECT_TRUE(fs::exists(dir / "y.jpg"));
    SetTrashFunction(nullptr);
    unsetenv("XDG_DATA_HOME");
}
