// The controls the browser brings along: the folder tree (a change it may
// refuse), the splitter, and the trash, which never deletes outright.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>

#include <QDir>
#include <QKeyEvent>
#include <QTreeView>

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

TEST(ShellTree, WalkingIntoDeepFoldersByKeyboardKeepsTheSelectedNameInView)
{
    // Deeper than the tree is wide: each level moves the name one indentation right.
    TTempDir top;
    std::string deepest = top.Path();
    for (int i = 1; i <= 12; ++i) {
        deepest += "/ebene" + std::to_string(i);
        ASSERT_EQ(::mkdir(deepest.c_str(), 0755), 0);
    }
    TForm form("F");
    form.ClientWidth = 160;
    form.ClientHeight = 300;
    TShellTree tree(&form, "Tree", top.Path());
    tree.Align = TAlign::Client;
    form.Show();
    QTreeView* view = tree.View();
    view->setFocus();
    auto nameInView = [&] {
        const QRect r = view->visualRect(view->currentIndex());
        return r.isValid() && r.left() >= 0 && r.left() < view->viewport()->width() - view->indentation();
    };
    auto press = [&](int key) {
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(view, &down);
        QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier);
        QCoreApplication::sendEvent(view, &up);
    };
    // Right opens a folder, and once its entries are in, a second Right enters the first one.
    std::string expected = top.Path();
    for (int i = 1; i <= 12; ++i) {
        expected += "/ebene" + std::to_string(i);
        ASSERT_TRUE(WaitFor(
            [&] {
                press(Qt::Key_Right);
                return tree.SelectedPath() == expected;
            },
            std::chrono::seconds(20)))
            << expected;
        EXPECT_TRUE(nameInView()) << "level " << i << " at x " << view->visualRect(view->currentIndex()).left();
    }
    // And back up again: the names further left come back into view.
    for (int i = 12; i > 1; --i) {
        // Left closes an open folder, and on a closed one moves to its parent.
        expected = expected.substr(0, expected.rfind('/'));
        for (int n = 0; n < 2 && tree.SelectedPath() != expected; ++n)
            press(Qt::Key_Left);
        ASSERT_EQ(tree.SelectedPath(), expected);
        EXPECT_TRUE(nameInView()) << "level " << i - 1 << " at x " << view->visualRect(view->currentIndex()).left();
    }
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

namespace {

std::string Text(const std::string& path)
{
    const Bytes b = ReadFile(path);
    return std::string(b.begin(), b.end());
}

}  // namespace

TEST(Trash, FilesGoToTheHomeTrashMadePrivateWhenMissingWithTheirInfo)
{
    // A data folder that does not exist yet, as on a new account.
    TTempDir home, dir;
    const std::string data = home / ".local/share";
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    const std::string cwd = fs::current_path().string();
    fs::current_path(dir.Path());
    WriteFile(dir / "Bild 1%.jpg", Bytes{1, 2, 3});
    WriteFile(dir / "x.jpg", Bytes{4});
    EXPECT_TRUE(MoveToTrash("Bild 1%.jpg"));  // a relative path is the working folder's
    EXPECT_TRUE(MoveToTrash(dir / "x.jpg"));
    fs::current_path(cwd);
    EXPECT_FALSE(fs::exists(dir / "Bild 1%.jpg"));
    // Nothing lands in the working folder.
    EXPECT_FALSE(fs::exists(dir / "files"));
    EXPECT_FALSE(fs::exists(dir / "info"));

    const std::string trash = data + "/Trash";
    struct stat st {};
    ASSERT_EQ(::stat(trash.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(ReadFile(trash + "/files/Bild 1%.jpg"), (Bytes{1, 2, 3}));
    const std::string info = Text(trash + "/info/Bild 1%.jpg.trashinfo");
    EXPECT_EQ(info.rfind("[Trash Info]\nPath=", 0), 0u) << info;
    EXPECT_NE(info.find("Path=" + dir.Path() + "/Bild%201%25.jpg\n"), std::string::npos) << info;
    EXPECT_NE(info.find("\nDeletionDate=20"), std::string::npos) << info;

    // A second file of the same name keeps the first one.
    WriteFile(dir / "x.jpg", Bytes{5});
    EXPECT_TRUE(MoveToTrash(dir / "x.jpg"));
    EXPECT_EQ(ReadFile(trash + "/files/x.jpg"), Bytes{4});
    EXPECT_EQ(ReadFile(trash + "/files/x.2.jpg"), Bytes{5});
    EXPECT_TRUE(fs::exists(trash + "/info/x.2.jpg.trashinfo"));

    // A missing file is nobody's to trash; a trash that cannot be made keeps the file.
    EXPECT_FALSE(MoveToTrash(dir / "missing.jpg"));
    TTempDir blocked;
    WriteFile(blocked / "Trash", Bytes{'f'});  // a file where the trash folder would be
    setenv("XDG_DATA_HOME", blocked.Path().c_str(), 1);
    WriteFile(dir / "kept.jpg", Bytes{6});
    EXPECT_FALSE(MoveToTrash(dir / "kept.jpg"));
    EXPECT_TRUE(fs::exists(dir / "kept.jpg"));
    unsetenv("XDG_DATA_HOME");
}

TEST(Trash, FilesOnAnotherFileSystemGoToItsOwnPrivateTrash)
{
    TTempDir data;
    struct stat a {}, b {};
    // /dev/shm is a file system of its own on most machines.
    if (::stat(data.Path().c_str(), &a) != 0 || ::stat("/dev/shm", &b) != 0 || a.st_dev == b.st_dev ||
        ::access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no second writable file system here";
    const std::string trash = "/dev/shm/.Trash-" + std::to_string(::getuid());
    const bool existed = fs::exists(trash);
    const std::string name = "wl-trash-test-" + std::to_string(::getpid()) + ".png";
    WriteFile("/dev/shm/" + name, Bytes{7});
    EXPECT_EQ(TrashFolderFor("/dev/shm/" + name, data.Path()), trash);
    EXPECT_TRUE(fs::exists(trash + "/files"));
    struct stat st {};
    ASSERT_EQ(::stat(trash.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);
    setenv("XDG_DATA_HOME", data.Path().c_str(), 1);
    EXPECT_TRUE(MoveToTrash("/dev/shm/" + name));
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(ReadFile(trash + "/files/" + name), Bytes{7});
    // Written relative to the top folder, so it survives another mount point.
    EXPECT_NE(Text(trash + "/info/" + name + ".trashinfo").find("\nPath=" + name + "\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(data / "Trash"));
    std::error_code ec;
    fs::remove(trash + "/files/" + name, ec);
    fs::remove(trash + "/info/" + name + ".trashinfo", ec);
    if (!existed)
        fs::remove_all(trash, ec);
}

TEST(Trash, AFolderReachedThroughALinkTrashesAtTheTopOfTheMountItLivesOn)
{
    // Mount points as the kernel writes them: a blank as \040, and a later
    // mount on the same point lying over the earlier one.
    const std::string table = "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
                              "30 27 0:27 / /media/usb rw - vfat /dev/sdb1 rw\n"
                              "31 27 0:28 / /media/usb\\040stick rw shared:5 - vfat /dev/sdc1 rw\n"
                              "32 30 0:29 /sub /media/usb/inner rw - tmpfs tmpfs rw\n"
                              "33 30 0:30 / /media/usb/inner rw - tmpfs tmpfs rw\n"
                              "broken line\n";
    EXPECT_EQ(MountPointOf("/media/usb stick/a/b.jpg", table), "/media/usb stick");
    EXPECT_EQ(MountPointOf("/media/usb/inner/x.jpg", table), "/media/usb/inner");
    EXPECT_EQ(MountPointOf("/media/usbx/x.jpg", table), "/");
    EXPECT_EQ(MountPointOf("/media/usb", table), "/media/usb");
    EXPECT_EQ(MountPointOf("/media/usb", ""), "");

    // The user's folder links into a disk mounted elsewhere (a mount pretended
    // over a real folder, its name with a blank).
    const std::string uid = std::to_string(::getuid());
    TTempDir data, place;
    const std::string root = fs::canonical(place.Path()).string();
    fs::create_directories(root + "/disk one/pictures/2024");
    fs::create_directories(root + "/home");
    fs::create_directory_symlink(root + "/disk one/pictures/2024", root + "/home/Bilder");
    WriteFile(root + "/home/Bilder/x.jpg", Bytes{1});
    const std::string mounts = "27 1 254:0 / / rw - ext4 /dev/vda rw\n40 27 8:17 / " + root +
                               "/disk\\040one rw - ext4 /dev/sdb1 rw\n";
    EXPECT_EQ(TrashFolderFor(root + "/home/Bilder/x.jpg", data.Path(), mounts), root + "/disk one/.Trash-" + uid);
    EXPECT_TRUE(fs::exists(root + "/disk one/.Trash-" + uid + "/files"));
    EXPECT_FALSE(fs::exists(root + "/disk one/pictures/2024/.Trash-" + uid));
    // With the data folder on that disk, the home trash.
    EXPECT_EQ(TrashFolderFor(root + "/home/Bilder/x.jpg", root + "/disk one/share", mounts),
              root + "/disk one/share/Trash");

    // The same through the real mount table, with /dev/shm as the other file system.
    struct stat a {}, b {};
    if (::stat(data.Path().c_str(), &a) != 0 || ::stat("/dev/shm", &b) != 0 || a.st_dev == b.st_dev ||
        ::access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no second writable file system here";
    const std::string shmTrash = "/dev/shm/.Trash-" + uid;
    const bool existed = fs::exists(shmTrash);
    const std::string folder = "/dev/shm/wl-trash-link-" + std::to_string(::getpid());
    fs::create_directories(folder + "/deep");
    fs::create_directory_symlink(folder + "/deep", place / "linked");
    WriteFile(place / "linked/y.png", Bytes{8});
    setenv("XDG_DATA_HOME", data.Path().c_str(), 1);
    EXPECT_EQ(TrashFolderFor(place / "linked/y.png", data.Path()), shmTrash);
    EXPECT_TRUE(MoveToTrash(place / "linked/y.png"));
    unsetenv("XDG_DATA_HOME");
    const std::string trashed = "wl-trash-link-" + std::to_string(::getpid()) + "/deep/y.png";
    EXPECT_FALSE(fs::exists(folder + "/deep/.Trash-" + uid));
    EXPECT_EQ(ReadFile(shmTrash + "/files/y.png"), Bytes{8});
    EXPECT_NE(Text(shmTrash + "/info/y.png.trashinfo").find("\nPath=" + trashed + "\n"), std::string::npos);
    std::error_code ec;
    fs::remove(shmTrash + "/files/y.png", ec);
    fs::remove(shmTrash + "/info/y.png.trashinfo", ec);
    fs::remove_all(folder, ec);
    if (!existed)
        fs::remove_all(shmTrash, ec);
}

TEST(Trash, AReplacedTrashFunctionDecides)
{
    TTempDir dir;
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
