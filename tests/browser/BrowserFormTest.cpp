// The browser window on real widgets (offscreen): passes with their memo
// lines and cache file, the grid's geometry and keyboard, deleting, opening,
// closing and changing the folder during a pass.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>

#include <QApplication>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QSettings>
#include <QEventLoop>
#include <QKeyEvent>
#include <QProcess>
#include <QProcessEnvironment>
#include <QItemSelectionModel>
#include <QTreeView>
#include <QWidget>

#include "browser/BrowserFUnit.h"
#include "browser/BrowserTestSupport.h"
#include "raster/DibDraw.h"
#include "ui/Canvas.h"
#include "ui/ScriptedResponder.h"
#include "ui/ScrollBox.h"
#include "ui/ShellTree.h"
#include "ui/Trash.h"
#include "viewer/ViewPicFUnit.h"

using namespace browsertest;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

// Holds the pass's workers before a chosen file until released.
class TGate {
public:
    void HoldAt(std::string name)
    {
        std::lock_guard lk(m_);
        hold_ = std::move(name);
    }
    void Release()
    {
        {
            std::lock_guard lk(m_);
            hold_.clear();
        }
        cv_.notify_all();
    }
    void Before(const std::string& name)
    {
        std::unique_lock lk(m_);
        cv_.wait(lk, [&] { return hold_.empty() || name != hold_; });
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::string hold_;
};

class BrowserFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        scope_ = std::make_unique<TResponderScope>(Responder);
        ViewPicForm = &viewer_;
    }
    void TearDown() override
    {
        Gate.Release();
        Form.reset();
        ViewPicForm = nullptr;
        SetTrashFunction(nullptr);
    }

    TBrowserForm& Open(const std::string& folder, unsigned threads = 0, bool reducedJpeg = true)
    {
        TBrowserFormSetup setup;
        setup.InitialFolder = folder;
        setup.UseFormStorage = false;
        setup.Threads = threads;
        setup.Prepare.ReducedJpeg = reducedJpeg;
        setup.Prepare.BeforePrepare = [this](const std::string& name) { Gate.Before(name); };
        setup.OnMemoLine = [this](const std::string& line) { Memo.push_back(line); };
        Form = std::make_unique<TBrowserForm>(setup);
        return *Form;
    }
    // Opens the folder again as the main window does once the grid was seen.
    void Revisit()
    {
        if (!Form->Showing())
            Form->Show();
        Form->JamShellTree1Change();
    }
    void Finish()
    {
        ASSERT_TRUE(WaitFor([&] { return !Form->Busy; }));
    }
    // Makes the grid area exactly `width` pixels wide with room for every row.
    void GridWidth(int width)
    {
        // Hidden widgets hear of their new size only when shown.
        if (!Form->Showing())
            Form->Show();
        Form->ClientHeight = 1200;
        // The tree gives or takes the room, as its splitter would.
        Form->Panel1->Width = Form->Panel1->Width() + Form->ScrollBox1->ClientWidth() - width;
        Form->Paint();
        QCoreApplication::processEvents();
        ASSERT_EQ(Form->ScrollBox1->ClientWidth(), width);
    }
    void Key(Word key)
    {
        Form->KeyEditKeyDown(key, 0);
    }

    TScriptedResponder Responder;
    TGate Gate;
    std::vector<std::string> Memo;
    std::unique_ptr<TBrowserForm> Form;

private:
    std::unique_ptr<TResponderScope> scope_;
    TViewPicForm viewer_;
};

void MakeMixedFolder(const TTempDir& dir)
{
    WriteFile(dir / "a.bmp", MakeBmp(400, 100, 24, [](int x, int y) { return static_cast<uint32_t>(x * 600 + y); }));
    WriteFile(dir / "b.BMP", MakeBmp(100, 400, 8, [](int x, int y) { return static_cast<uint32_t>(x ^ y); }));
    WriteFile(dir / "c4.bmp", MakeBmp(33, 17, 4, [](int x, int y) { return static_cast<uint32_t>(x + y); }));
    WriteFile(dir / "d1.bmp", MakeBmp(50, 50, 1, [](int x, int y) { return static_cast<uint32_t>((x / 5 + y / 5) & 1); }));
    WriteFile(dir / "thin.bmp", MakeBmp(1, 30, 8, [](int, int) { return 1u; }));
    WriteFile(dir / "c.jpeg", ReadFile(dir / "a.bmp"));
    WriteFile(dir / "notes.txt", Bytes{'h', 'i'});
    ASSERT_TRUE(SaveGradient(dir / "e.png", 640, 480, "PNG"));
    ASSERT_TRUE(SaveGradient(dir / "f.jpg", 1200, 900, "JPG"));
}

}  // namespace

TEST_F(BrowserFormTest, PassListsPicturesInNameOrderAndTheSecondTakesThemFromTheCache)
{
    TTempDir dir;
    MakeMixedFolder(dir);
    Open(dir.Path());
    Finish();

    std::vector<std::string> pictures;
    std::vector<std::string> expected = {"Statusinformationen:", "Bearbeite Verzeichnis: " + dir.Path()};
    for (const std::string& n : NameOrder(dir.Path())) {
        const std::string upper = UpperAscii(n.substr(n.rfind('.')));
        if (n == "thin.bmp")
            expected.push_back("Fehler beim Laden von thin.bmp []");
        if (raster::DibTypeForExtension(upper) != raster::dtAuto)
            pictures.push_back(n);
    }
    expected.push_back("Browser-Informationen geschrieben.");
    expected.push_back("Bearbeitung von Verzeichnis " + dir.Path() + " abgeschloßen.");
    EXPECT_THAT(Memo, ElementsAreArray(expected));
    EXPECT_THAT(Form->ThumbNames, ElementsAreArray(pictures));
    ASSERT_EQ(Form->ThumbCount, static_cast<int>(pictures.size()));
    for (int i = 0; i < Form->ThumbCount; ++i) {
        const ThumbInfo& t = Form->ThumbInfos[static_cast<size_t>(i)];
        // The picture that cannot be read has a cell without a thumbnail.
        if (Form->ThumbNames[static_cast<size_t>(i)] == "thin.bmp") {
            EXPECT_EQ(Form->Thumbs[static_cast<size_t>(i)].Bits, nullptr);
            continue;
        }
        EXPECT_EQ(raster::DibWidth(Form->Thumbs[static_cast<size_t>(i)]), t.ThumbWidth);
        EXPECT_EQ(raster::DibBitCount(Form->Thumbs[static_cast<size_t>(i)]), t.BitCount);
        if (Form->ThumbNames[static_cast<size_t>(i)] == "a.bmp") {
            EXPECT_EQ(t.ThumbWidth, 80);
            EXPECT_EQ(t.ThumbHeight, 20);
            EXPECT_EQ(t.ColorCount, 16777216);
            EXPECT_EQ(t.SizeKB, 117);
        }
        if (Form->ThumbNames[static_cast<size_t>(i)] == "b.BMP") {
            EXPECT_EQ(t.ThumbWidth, 20);
            EXPECT_EQ(t.ThumbHeight, 80);
        }
    }
    const Bytes firstCache = ReadFile(dir / kCacheFileName);
    ASSERT_GT(firstCache.size(), 6u);
    const std::vector<ThumbInfo> firstInfos = Form->ThumbInfos;

    // The second pass finds every picture in the cache and leaves the file alone.
    struct stat before {};
    ASSERT_EQ(::stat((dir / kCacheFileName).c_str(), &before), 0);
    Memo.clear();
    Revisit();
    Finish();
    EXPECT_THAT(Memo, ElementsAre("Bearbeite Verzeichnis: " + dir.Path(), "Browser-Informationen geladen.",
                                  "Fehler beim Laden von thin.bmp []",
                                  "Bearbeitung von Verzeichnis " + dir.Path() + " abgeschloßen."));
    EXPECT_THAT(Form->ThumbNames, ElementsAreArray(pictures));
    EXPECT_EQ(ReadFile(dir / kCacheFileName), firstCache);
    struct stat after {};
    ASSERT_EQ(::stat((dir / kCacheFileName).c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);

    // A picture replaced under its name gets a new thumbnail.
    WriteFile(dir / "a.bmp", MakeBmp(100, 100, 8, [](int, int) { return 7u; }));
    Revisit();
    Finish();
    for (int i = 0; i < Form->ThumbCount; ++i)
        if (Form->ThumbNames[static_cast<size_t>(i)] == "a.bmp") {
            EXPECT_EQ(Form->ThumbInfos[static_cast<size_t>(i)].BitCount, 8);
            EXPECT_EQ(Form->ThumbInfos[static_cast<size_t>(i)].ThumbHeight, 80);
        }
    EXPECT_NE(ReadFile(dir / kCacheFileName), firstCache);
}

TEST_F(BrowserFormTest, ManyWorkersGiveTheSameMemoGridAndCacheBytesAsOne)
{
    TTempDir one, many;
    MakeMixedFolder(one);
    for (int i = 0; i < 12; ++i)
        WriteFile(one / ("n" + std::to_string(i) + ".bmp"),
                  MakeBmp(30 + 7 * i, 20 + 3 * i, i % 2 ? 8 : 24, [i](int x, int y) { return static_cast<uint32_t>(x * i + y); }));
    // The same files, created in the same order, so both folders list alike.
    for (const std::string& n : NameOrder(one.Path()))
        WriteFile(many / n, ReadFile(one / n));
    ASSERT_EQ(NameOrder(one.Path()), NameOrder(many.Path()));

    Open(one.Path(), 1, false);
    Finish();
    std::vector<std::string> memoOne = Memo;
    const auto namesOne = Form->ThumbNames;
    Form.reset();
    Memo.clear();
    Open(many.Path(), 4, false);
    Finish();
    for (auto& l : memoOne) {
        const auto at = l.find(one.Path());
        if (at != std::string::npos)
            l.replace(at, one.Path().size(), many.Path());
    }
    EXPECT_EQ(Memo, memoOne);
    EXPECT_EQ(Form->ThumbNames, namesOne);
    // Check values differ with the files' times; everything else is the same.
    Bytes a = ReadFile(one / kCacheFileName), b = ReadFile(many / kCacheFileName);
    ASSERT_EQ(a.size(), b.size());
    TThumbCacheIndex ia, ib;
    ReadCacheFile(one / kCacheFileName, ia);
    ReadCacheFile(many / kCacheFileName, ib);
    for (auto* idx : {&ia, &ib})
        for (const CacheEntry& e : idx->Entries) {
            auto& bytes = idx == &ia ? a : b;
            std::memset(&bytes[static_cast<size_t>(e.Position) - 8], 0, 4);
        }
    EXPECT_EQ(a, b);
}

TEST_F(BrowserFormTest, ForeignAndEmptyCacheFiles)
{
    TTempDir dir;
    WriteFile(dir / "a.bmp", MakeBmp(20, 20, 8, [](int x, int) { return static_cast<uint32_t>(x); }));
    const Bytes foreign = {'n', 'o', 't', ' ', 'o', 'u', 'r', 's'};
    WriteFile(dir / kCacheFileName, foreign);
    Open(dir.Path());
    Finish();
    // Nothing of ours was loaded, and someone else's file is not replaced.
    EXPECT_THAT(Memo, ElementsAre("Statusinformationen:", "Bearbeite Verzeichnis: " + dir.Path(),
                                  "Bearbeitung von Verzeichnis " + dir.Path() + " abgeschloßen."));
    EXPECT_EQ(ReadFile(dir / kCacheFileName), foreign);
    EXPECT_EQ(Form->ThumbCount, 1);

    // N = 0: no entries, and rewritten because a thumbnail was made.
    WriteFile(dir / kCacheFileName, Bytes{0x5E, 0x0B, 0, 0, 0, 0});
    Memo.clear();
    Revisit();
    Finish();
    EXPECT_THAT(Memo, ElementsAre("Bearbeite Verzeichnis: " + dir.Path(), "Browser-Informationen geladen.",
                                  "Browser-Informationen geschrieben.",
                                  "Bearbeitung von Verzeichnis " + dir.Path() + " abgeschloßen."));
    EXPECT_GT(ReadFile(dir / kCacheFileName).size(), 6u);

    // A picture renamed in letter case alone keeps its size and time: still found.
    ::rename((dir / "a.bmp").c_str(), (dir / "A.BMP").c_str());
    Revisit();
    Finish();
    ASSERT_EQ(Form->ThumbCount, 1);
    EXPECT_EQ(Form->ThumbNames[0], "A.BMP");

    // A named pipe of that name is no cache either, and is never waited on.
    const std::string fifo = dir / kCacheFileName;
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Memo.clear();
    Revisit();
    const bool ended = WaitFor([&] { return !Form->Busy; }, std::chrono::seconds(30));
    if (!ended) {
        // Lets an open that waits for a writer go, so the test fails instead of hanging.
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer >= 0)
            ::close(writer);
        Finish();
    }
    EXPECT_TRUE(ended);
    EXPECT_THAT(Memo, ElementsAre("Bearbeite Verzeichnis: " + dir.Path(),
                                  "Bearbeitung von Verzeichnis " + dir.Path() + " abgeschloßen."));
    EXPECT_EQ(Form->ThumbCount, 1);
    struct stat st {};
    EXPECT_TRUE(::lstat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
}

TEST_F(BrowserFormTest, ACacheReplacedDuringAPassLendsNoBytesToTheEntriesReadBefore)
{
    TTempDir dir;
    const std::string cachePath = dir / kCacheFileName;
    for (int i = 0; i < 10; ++i)
        WriteFile(dir / ("p" + std::to_string(i) + ".bmp"), MakeBmp(20, 20, 8, [i](int x, int y) { return static_cast<uint32_t>(x * 7 + y + i); }));
    Open(dir.Path(), 1);
    Finish();
    ASSERT_EQ(Form->ThumbCount, 10);
    std::map<std::string, Bytes> shown;
    for (int i = 0; i < Form->ThumbCount; ++i)
        shown[Form->ThumbNames[i]] = Bytes(Form->Thumbs[i].Bits, Form->Thumbs[i].Bits + Form->Thumbs[i].Info->bmiHeader.biSizeImage);

    // Another instance's file for the same pictures: larger thumbnails, so every entry lies elsewhere.
    std::vector<std::string> names;
    std::vector<ThumbInfo> infos;
    std::vector<raster::DibHandle> dibs(10);
    for (int i = 0; i < 10; ++i) {
        names.push_back("p" + std::to_string(i) + ".bmp");
        raster::newdib(dibs[i], 80, 80, 24, nullptr, 0);
        std::memset(dibs[i].Bits, 0x5A + i, dibs[i].Info->bmiHeader.biSizeImage);
        infos.push_back(ThumbInfo{24, 80, 80, 20, 20, 1 << 24, 1, CalcCheckValue(dir / names.back())});
    }
    std::vector<CacheThumb> theirs;
    for (int i = 0; i < 10; ++i)
        theirs.push_back(CacheThumb{&names[i], &infos[i], &dibs[i]});

    // Every entry of the file written at the end holds the thumbnail its picture showed.
    auto expectOwnThumbnails = [&](size_t entries) {
        TThumbCacheIndex now;
        ASSERT_EQ(ReadCacheFile(cachePath, now), TCacheReadResult::Read);
        ASSERT_EQ(now.Entries.size(), entries);
        for (const CacheEntry& e : now.Entries) {
            raster::DibHandle t;
            LoadCachedThumbnailFrom(cachePath, e.Position, e.Info.ThumbWidth, e.Info.ThumbHeight, e.Info.BitCount,
                                    e.Info.ColorCount, t);
            ASSERT_NE(t.Bits, nullptr) << e.Name;
            EXPECT_EQ(Bytes(t.Bits, t.Bits + t.Info->bmiHeader.biSizeImage), shown[e.Name]) << e.Name;
            raster::deldib(t);
        }
    };
    auto stopHeldPass = [&](size_t taken) {
        ASSERT_TRUE(WaitFor([&] { return static_cast<size_t>(Form->ThumbCount) == taken; }));
        bool canClose = true;
        Form->FormCloseQuery(canClose);
        Gate.Release();
        Finish();
        for (int i = 0; i < Form->ThumbCount; ++i)
            shown[Form->ThumbNames[i]] = Bytes(Form->Thumbs[i].Bits, Form->Thumbs[i].Bits + Form->Thumbs[i].Info->bmiHeader.biSizeImage);
    };

    // Put in place (renamed over ours) while a pass is held at p5: the entries
    // of p5 to p9, which the stopped pass keeps, come from the file it read.
    WriteFile(dir / "a.bmp", MakeBmp(30, 10, 24, [](int, int) { return 0x00FF00u; }));
    Gate.HoldAt("p5.bmp");
    Revisit();
    ASSERT_TRUE(WaitFor([&] { return Form->ThumbCount == 6; }));
    ASSERT_EQ(WriteCacheFile(cachePath, theirs), TCacheWriteResult::Written);
    const Bytes theirBytes = ReadFile(cachePath);
    stopHeldPass(6);
    expectOwnThumbnails(11);

    // Rewritten in place: what the pass read no longer describes the file, so
    // the entries it did not reach are left out, to be made anew.
    WriteFile(dir / "b.bmp", MakeBmp(10, 30, 24, [](int, int) { return 0xFF0000u; }));
    Gate.HoldAt("p5.bmp");
    Revisit();
    ASSERT_TRUE(WaitFor([&] { return Form->ThumbCount == 7; }));
    WriteFile(cachePath, theirBytes);
    stopHeldPass(7);
    expectOwnThumbnails(7);
    for (auto& d : dibs)
        raster::deldib(d);
}

TEST_F(BrowserFormTest, GridGeometryKeyboardAndInformationPanel)
{
    TTempDir dir;
    for (int i = 1; i <= 7; ++i)
        WriteFile(dir / ("p" + std::to_string(i) + ".bmp"),
                  MakeBmp(400, 100, 24, [i](int x, int) { return static_cast<uint32_t>(x * i); }));
    Open(dir.Path());
    Finish();
    ASSERT_EQ(Form->ThumbCount, 7);
    GridWidth(300);
    EXPECT_EQ(Form->Columns(), 3);
    EXPECT_EQ(Form->PaintBox1->Height(), 330);

    EXPECT_EQ(Form->Selected, 1);
    Key(VK_DOWN);
    EXPECT_EQ(Form->Selected, 4);
    Key(VK_DOWN);
    EXPECT_EQ(Form->Selected, 7);
    Key(VK_DOWN);
    EXPECT_EQ(Form->Selected, 7);
    Key(VK_RIGHT);
    EXPECT_EQ(Form->Selected, 7);
    Key(VK_LEFT);
    EXPECT_EQ(Form->Selected, 6);
    Key(VK_UP);
    EXPECT_EQ(Form->Selected, 3);
    Key(VK_UP);
    EXPECT_EQ(Form->Selected, 3);
    EXPECT_EQ(Form->StatusBar->Panels[1].Text, "Thumbnail: 400 x 100 x 16777216 - 117 KByte  (3 von 7)");
    // The panel shows the whole text.
    EXPECT_GE(Form->StatusBar->Panels[1].Width,
              QFontMetrics(QApplication::font()).horizontalAdvance(QString::fromStdString(Form->StatusBar->Panels[1].Text)));

    // Home and End go to the ends; a page is the rows the grid shows whole.
    Key(VK_END);
    EXPECT_EQ(Form->Selected, 7);
    Key(VK_HOME);
    EXPECT_EQ(Form->Selected, 1);
    const int pageRows = std::max(1, Form->ScrollBox1->ClientHeight() / 110);
    Key(VK_NEXT);
    EXPECT_EQ(Form->Selected, std::min(7, 1 + 3 * pageRows));
    Key(VK_NEXT);
    EXPECT_EQ(Form->Selected, 7);
    Key(VK_PRIOR);
    EXPECT_EQ(Form->Selected, std::max(1, 7 - 3 * pageRows));
    Key(VK_PRIOR);
    EXPECT_EQ(Form->Selected, 1);
    Form->Selected = 3;

    // Clicks: inside a frame selects, between frames nothing.
    Form->PaintBox1MouseDown(TMouseButton::Left, 0, 90 + 2, 110 + 108);  // cell 5, corner
    EXPECT_EQ(Form->Selected, 5);
    Form->PaintBox1MouseDown(TMouseButton::Left, 0, 89, 50);
    EXPECT_EQ(Form->Selected, 5);
    Form->PaintBox1MouseDown(TMouseButton::Left, 0, 200, 250);  // cell 9 does not exist
    EXPECT_EQ(Form->Selected, 5);

    // Six thumbnails still give three rows.
    Form->ThumbCount = 6;
    Form->Paint();
    EXPECT_EQ(Form->PaintBox1->Height(), 330);
    Form->ThumbCount = 7;

    // Narrower than a cell: one column, Up and Down move by one.
    GridWidth(80);
    EXPECT_EQ(Form->Columns(), 1);
    Key(VK_DOWN);
    EXPECT_EQ(Form->Selected, 6);
    Key(VK_UP);
    EXPECT_EQ(Form->Selected, 5);
    EXPECT_EQ(Form->PaintBox1->Height(), 8 * 110);
}

TEST_F(BrowserFormTest, EnsureVisibleScrollsTheSelectedFrameIntoView)
{
    TTempDir dir;
    for (int i = 1; i <= 40; ++i)
        WriteFile(dir / ("p" + std::to_string(i) + ".bmp"), MakeBmp(8, 8, 8, [](int, int) { return 1u; }));
    Open(dir.Path());
    Finish();
    Form->Show();
    Form->ClientHeight = 500;
    Form->Paint();
    QCoreApplication::processEvents();
    const int cols = Form->Columns();
    const int view = Form->ScrollBox1->ClientHeight();
    Form->Selected = 40;
    Form->EnsureVisible();
    const int row = 39 / cols;
    EXPECT_EQ(Form->ScrollBox1->VertScrollBar.Position(), row * 110 + 108 - view);
    Form->Selected = cols + 1;  // second row: its top lies above the view
    Form->EnsureVisible();
    EXPECT_EQ(Form->ScrollBox1->VertScrollBar.Position(), 110 + 2);
}

TEST_F(BrowserFormTest, DeleteMovesToTheTrashOrKeepsTheThumbnailWhenThatFails)
{
    TTempDir dir;
    WriteFile(dir / "only.bmp", MakeBmp(30, 30, 8, [](int, int) { return 2u; }));
    Open(dir.Path());
    Finish();
    ASSERT_EQ(Form->ThumbCount, 1);
    std::vector<std::string> trashed;
    bool trashWorks = false;
    SetTrashFunction([&](const std::string& p) {
        trashed.push_back(p);
        return trashWorks;
    });

    // No: nothing happens.
    Responder.AnswerMessage(mrNo);
    Key(VK_DELETE);
    EXPECT_TRUE(trashed.empty());
    EXPECT_EQ(Form->ThumbCount, 1);

    // The trash refuses: an error, and the thumbnail stays.
    Responder.AnswerMessage(mrYes);
    Responder.AnswerMessage(mrOk);
    Key(VK_DELETE);
    ASSERT_EQ(trashed.size(), 1u);
    EXPECT_EQ(trashed[0], dir / "only.bmp");
    EXPECT_EQ(Form->ThumbCount, 1);
    ASSERT_EQ(Responder.Asked().size(), 3u);
    EXPECT_EQ(Responder.Asked()[1].Text,
              "Wollen Sie die markierte Datei wirklich löschen?\n\nonly.bmp wird in den Papierkorb verschoben.");
    EXPECT_EQ(Responder.Asked()[1].Caption, "Löschen");
    EXPECT_EQ(Responder.Asked()[1].Icon, TMsgIcon::Question);
    EXPECT_EQ(Responder.Asked()[1].Buttons, mbYes | mbNo);
    EXPECT_EQ(Responder.Asked()[2].Text, "Konnte die Datei nicht in den Papierkorb verschieben!");
    EXPECT_EQ(Responder.Asked()[2].Caption, "Fehler");
    EXPECT_EQ(Responder.Asked()[2].Icon, TMsgIcon::Error);

    // It works: the last thumbnail goes, the selection stays at 1.
    trashWorks = true;
    Responder.AnswerMessage(mrYes);
    Key(VK_DELETE);
    EXPECT_EQ(Form->ThumbCount, 0);
    EXPECT_EQ(Form->Selected, 1);
    EXPECT_EQ(Form->StatusBar->Panels[1].Text, "Bild: keins   ");
    EXPECT_EQ(Responder.Unanswered(), 0);
    // Nothing selected any more: Delete and Enter ask nothing.
    Key(VK_DELETE);
    Key(VK_RETURN);
    EXPECT_EQ(Responder.Asked().size(), 4u);
}

TEST_F(BrowserFormTest, OpenShowsTheSelectedPictureInTheViewer)
{
    TTempDir dir;
    WriteFile(dir / "a.bmp", MakeBmp(30, 20, 24, [](int, int) { return 0x102030u; }));
    WriteFile(dir / "b.bmp", MakeBmp(30, 20, 24, [](int, int) { return 0x102030u; }));
    Open(dir.Path());
    Finish();
    ASSERT_EQ(Form->ThumbCount, 2);
    Form->Selected = 2;
    int width = 0;
    std::string shown;
    Responder.AnswerForm([&](TForm& f) {
        auto& v = dynamic_cast<TViewPicForm&>(f);
        width = v.ViewPicture.Bits ? raster::DibWidth(v.ViewPicture) : -1;
        shown = v.ViewFileName;
        return mrOk;
    });
    // A double click outside every cell opens the picture selected before.
    Form->PaintBox1MouseDown(TMouseButton::Left, 0, 1000, 1000);
    Form->PaintBox1DblClick();
    EXPECT_EQ(width, 30);
    EXPECT_EQ(shown, dir / Form->ThumbNames[1]);
    EXPECT_EQ(ViewPicForm->ViewPicture.Bits, nullptr);

    // A picture that has gone: the message, no viewer.
    ::unlink((dir / Form->ThumbNames[1]).c_str());
    Responder.AnswerMessage(mrOk);
    Key(VK_RETURN);
    ASSERT_EQ(Responder.Asked().size(), 2u);
    EXPECT_EQ(Responder.Asked()[1].Text, "Konnte die Bilddatei nicht öffnen!");
    EXPECT_EQ(Responder.Asked()[1].Caption, "Fehler");
    EXPECT_EQ(Responder.Asked()[1].Icon, TMsgIcon::Error);
}

TEST_F(BrowserFormTest, PagingInTheViewerTakesTheSelectionAlong)
{
    TTempDir dir;
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"})
        WriteFile(dir / name, MakeBmp(30, 20, 24, [](int, int) { return 0x102030u; }));
    Open(dir.Path());
    Finish();
    ASSERT_EQ(Form->ThumbCount, 3);
    // The grid may list the files in any order; the viewer pages in name order from a.bmp.
    const auto first = std::find(Form->ThumbNames.begin(), Form->ThumbNames.end(), "a.bmp");
    ASSERT_NE(first, Form->ThumbNames.end());
    Form->Selected = static_cast<int>(first - Form->ThumbNames.begin()) + 1;
    Responder.AnswerForm([&](TForm& f) {
        auto& v = dynamic_cast<TViewPicForm&>(f);
        EXPECT_TRUE(v.ShowNeighbour(1));
        EXPECT_TRUE(v.ShowNeighbour(1));
        EXPECT_FALSE(v.ShowNeighbour(1));
        return mrOk;
    });
    Key(VK_RETURN);
    EXPECT_EQ(Responder.Unanswered(), 0);
    EXPECT_EQ(Form->ThumbNames[static_cast<size_t>(Form->Selected - 1)], "c.bmp");
    EXPECT_FALSE(ViewPicForm->OnPictureChanged) << "the browser lets go of the viewer when it has closed";
}

TEST_F(BrowserFormTest, ClosingDuringAPassStopsItFirstAndWritesWhatWasMade)
{
    TTempDir dir;
    for (int i = 0; i < 10; ++i)
        WriteFile(dir / ("p" + std::to_string(i) + ".bmp"), MakeBmp(20, 20, 8, [i](int x, int) { return static_cast<uint32_t>(x + i); }));
    const std::vector<std::string> order = NameOrder(dir.Path());
    Gate.HoldAt(order[4]);
    Open(dir.Path(), 2);
    ASSERT_TRUE(WaitFor([&] { return Form->ThumbCount == 4; }));
    bool canClose = true;
    Form->FormCloseQuery(canClose);
    EXPECT_FALSE(canClose);
    EXPECT_EQ(Memo.back(), "Benutzerwunsch: Breche Bearbeitung ab...");
    Gate.Release();
    Finish();
    EXPECT_EQ(Form->ThumbCount, 4);
    TThumbCacheIndex cache;
    ReadCacheFile(dir / kCacheFileName, cache);
    ASSERT_EQ(cache.Entries.size(), 4u);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(cache.Entries[i].Name, order[i]);
    canClose = false;
    Form->FormCloseQuery(canClose);
    EXPECT_TRUE(canClose);
}

TEST_F(BrowserFormTest, ChangingTheFolderDuringAPassRestartsThereAndLeavesTheOldCacheAlone)
{
    TTempDir first, second;
    for (int i = 0; i < 6; ++i)
        WriteFile(first / ("p" + std::to_string(i) + ".bmp"), MakeBmp(20, 20, 8, [](int, int) { return 3u; }));
    WriteFile(second / "x.bmp", MakeBmp(20, 20, 24, [](int, int) { return 3u; }));
    Gate.HoldAt(NameOrder(first.Path())[2]);
    Open(first.Path(), 2);
    ASSERT_TRUE(WaitFor([&] { return Form->ThumbCount == 2; }));
    ASSERT_TRUE(Form->JamShellTree1->SetSelectedPath(second.Path()));
    EXPECT_EQ(Form->ThumbCount, 0);
    EXPECT_TRUE(Form->RestartPending);
    Gate.Release();
    ASSERT_TRUE(WaitFor([&] { return !Form->Busy && !Form->RestartPending && Form->ThumbCount == 1; }));
    Finish();
    EXPECT_FALSE(fs::exists(first / kCacheFileName));
    EXPECT_TRUE(fs::exists(second / kCacheFileName));
    EXPECT_EQ(Form->ThumbNames[0], "x.bmp");
    // The stopped pass says so and names its own folder.
    EXPECT_EQ(std::count(Memo.begin(), Memo.end(), "Bearbeitung von Verzeichnis " + first.Path() + " abgebrochen."), 1);
    EXPECT_EQ(std::count(Memo.begin(), Memo.end(), "Bearbeitung von Verzeichnis " + second.Path() + " abgeschloßen."), 1);
}

TEST_F(BrowserFormTest, DestroyingTheFormDuringAPassEndsCleanly)
{
    TTempDir dir;
    for (int i = 0; i < 8; ++i)
        ASSERT_TRUE(SaveGradient(dir / ("p" + std::to_string(i) + ".jpg"), 800, 600, "JPG"));
    Open(dir.Path(), 2);
    ASSERT_TRUE(WaitFor([&] { return Form->ThumbCount >= 1 || !Form->Busy; }));
    const bool finished = !Form->Busy;
    Form.reset();
    QCoreApplication::processEvents();
    // Only a pass that went through the folder writes the cache, and a file
    // being written when the window goes is completed: never half a file.
    if (finished) {
        EXPECT_TRUE(fs::exists(dir / kCacheFileName));
    }
    if (fs::exists(dir / kCacheFileName)) {
        TThumbCacheIndex cache;
        ReadCacheFile(dir / kCacheFileName, cache);
        EXPECT_EQ(cache.Entries.size(), 8u);
    }
    for (const auto& e : fs::directory_iterator(dir.Path()))
        EXPECT_EQ(e.path().filename().string().find(".tcf."), std::string::npos) << e.path();
}

namespace {

void Drain()
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
    while (std::chrono::steady_clock::now() < end)
        QCoreApplication::processEvents();
}

QImage Shot(TBrowserForm& f)
{
    return f.ScrollBox1->Viewport()->grab().toImage();
}

TColor At(const QImage& shot, int x, int y)
{
    return FromQColor(shot.pixelColor(x, y));
}

}  // namespace

TEST_F(BrowserFormTest, CellsAreDrawnAsTheGridDescribesAndPassesLeaveWhatAFullRepaintShows)
{
    TTempDir dir;
    for (int i = 1; i <= 7; ++i)
        WriteFile(dir / ("p" + std::to_string(i) + ".bmp"), MakeBmp(400, 100, 24, [](int, int) { return 0xFF0000u; }));
    Open(dir.Path());
    Finish();
    GridWidth(300);
    ::unlink((dir / kCacheFileName).c_str());
    Form->JamShellTree1Change();
    Finish();
    Drain();
    // The uncached pass drew each new cell on its own; a full repaint shows the same.
    const QImage afterPass = Shot(*Form);
    Form->PaintBox1->Repaint();
    EXPECT_TRUE(afterPass == Shot(*Form));

    Form->Selected = 2;
    Form->Paint();
    Drain();
    const QImage shot = Shot(*Form);
    EXPECT_EQ(At(shot, 2, 2), clWhite);     // frame: top and left white
    EXPECT_EQ(At(shot, 2, 60), clWhite);
    EXPECT_EQ(At(shot, 87, 2), clWhite);
    EXPECT_EQ(At(shot, 88, 60), clGray);    // right and bottom grey
    EXPECT_EQ(At(shot, 88, 108), clGray);
    EXPECT_EQ(At(shot, 40, 108), clSilver);  // the caption box reaches over the bottom line
    EXPECT_EQ(At(shot, 4, 10), clSilver);   // background of an unselected cell
    EXPECT_EQ(At(shot, 90 + 4, 10), clBlue);  // the selected cell
    EXPECT_EQ(At(shot, 40, 45), RGB(255, 0, 0));  // 80 x 20 picture at (5, 35)
    EXPECT_EQ(At(shot, 40, 34), clSilver);
    EXPECT_EQ(At(shot, 40, 55), clSilver);
    EXPECT_EQ(At(shot, 86, 104), clSilver);  // caption box on the cell's colour
    EXPECT_EQ(At(shot, 90 + 86, 104), clBlue);
    EXPECT_EQ(At(shot, 3 * 90 + 10, 10), Form->ScrollBox1->Color());  // right of the last column
    EXPECT_EQ(At(shot, 90 + 10, 2 * 110 + 10), Form->ScrollBox1->Color());  // after the last cell

    // The second pass takes every thumbnail from the cache with merged repaints: the same picture.
    Form->Selected = 1;
    Form->JamShellTree1Change();
    Finish();
    Drain();
    const QImage cached = Shot(*Form);
    Form->PaintBox1->Repaint();
    EXPECT_TRUE(cached == Shot(*Form));
    EXPECT_TRUE(cached == afterPass);
}

namespace {

void PumpFor(std::chrono::milliseconds span)
{
    const auto end = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

void PressOnTree(TBrowserForm& form, int key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(form.JamShellTree1->View(), &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QCoreApplication::sendEvent(form.JamShellTree1->View(), &release);
}

}  // namespace

TEST_F(BrowserFormTest, CaptionsAndThumbnailsUseEveryScreenPixelAtAPixelRatioOfTwo)
{
    // Qt takes a scale factor only when it starts: at 1 the case runs itself
    // again in a program of its own at 2.
    if (qApp->devicePixelRatio() == 1) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_SCALE_FACTOR", "2");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        p.start("/proc/self/exe", {QString("--gtest_filter=") + info->test_suite_name() + "." + info->name()});
        ASSERT_TRUE(p.waitForFinished(120000));
        const std::string out = p.readAll().toStdString();
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << out;
        EXPECT_EQ(p.exitCode(), 0) << out;
        EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
        return;
    }
    ASSERT_EQ(qApp->devicePixelRatio(), 2);
    TTempDir dir;
    // 80 wide: the thumbnail is the picture itself, a ramp of red.
    WriteFile(dir / "ramp.bmp", MakeBmp(80, 40, 24, [](int x, int) { return static_cast<uint32_t>(x * 3) << 16; }));
    Open(dir.Path());
    Finish();
    GridWidth(300);
    Drain();
    const QImage shot = Shot(*Form).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.width(), 600);
    // Enlarged afterwards, each pixel of the ramp would fill two screen
    // pixels alike; the picture lies at (5, 25), 80 x 40.
    int between = 0;
    for (int x = 12; x < 168; x += 2)
        between += shot.pixel(x, 90) != shot.pixel(x + 1, 90);
    EXPECT_GT(between, 20);
    // The caption's text is drawn at the screen's pixels: its edges do not
    // come in blocks of 2 x 2.
    int finer = 0;
    for (int y = 180; y < 218; y += 2)
        for (int x = 6; x < 172; x += 2) {
            const QRgb c = shot.pixel(x, y);
            finer += c != shot.pixel(x + 1, y) || c != shot.pixel(x, y + 1) || c != shot.pixel(x + 1, y + 1);
        }
    EXPECT_GT(finer, 10);
    // The cell keeps its look: frame, background and picture where they were.
    EXPECT_EQ(FromQColor(shot.pixelColor(2 * 4, 2 * 10)), clBlue);
    EXPECT_EQ(FromQColor(shot.pixelColor(2 * 88, 2 * 60)), clGray);
    EXPECT_EQ(FromQColor(shot.pixelColor(2 * 40, 2 * 20)), clBlue);
}

TEST_F(BrowserFormTest, QuickFolderChangesEndWithTheLastFolderShownAndItsPassFinished)
{
    // Folders four deep with one picture each, walked into by keyboard
    // faster than the passes finish, then by program without a pause.
    // Every folder the keys can reach is ours and holds one picture: the
    // start folder, one beside it and the four below it.
    TTempDir outer;
    const std::string start = outer / "base";
    for (const std::string& f : {outer / "a", start}) {
        ::mkdir(f.c_str(), 0755);
        WriteFile(f + "/p.bmp", MakeBmp(20, 20, 8, [](int x, int) { return static_cast<uint32_t>(x); }));
    }
    std::string folder = start;
    std::vector<std::string> levels;
    for (int i = 1; i <= 4; ++i) {
        folder += "/ebene" + std::to_string(i);
        ::mkdir(folder.c_str(), 0755);
        levels.push_back(folder);
        WriteFile(folder + "/p.bmp", MakeBmp(20, 20, 8, [i](int x, int) { return static_cast<uint32_t>(x + i); }));
    }
    auto settledOn = [&](const std::string& expected) {
        EXPECT_TRUE(WaitFor([&] { return !Form->Busy && !Form->RestartPending; }, std::chrono::seconds(60)));
        EXPECT_EQ(Form->SelectedFolder(), expected);
        ASSERT_EQ(Form->ThumbCount, 1) << expected << "\n" << ::testing::PrintToString(Memo);
        EXPECT_EQ(Form->ThumbNames[0], "p.bmp");
        EXPECT_EQ(Memo.back(), "Bearbeitung von Verzeichnis " + expected + " abgeschloßen.");
        EXPECT_EQ(Form->PassFolder, expected);
    };

    for (int round = 0; round < 3; ++round) {
        Memo.clear();
        Form.reset();
        Open(start, 2);
        Form->Show();
        Form->JamShellTree1->View()->setFocus();
        for (int i = 0; i < 4 * 2; ++i) {
            PressOnTree(*Form, Qt::Key_Right);
            // Expanding lists the folder in the background: the next Right
            // may come before or after its entries are in.
            PumpFor(std::chrono::milliseconds(round * 40));
        }
        PumpFor(std::chrono::milliseconds(700));
        // Up: back to the folder above, as Down would go to the next one.
        PressOnTree(*Form, Qt::Key_Up);
        PumpFor(std::chrono::milliseconds(300));
        const std::string selected = Form->SelectedFolder();
        ASSERT_FALSE(selected.empty());
        settledOn(selected);
    }

    // Changes by program between the steps of running passes.
    for (int round = 0; round < 20; ++round) {
        for (const std::string& level : levels) {
            ASSERT_TRUE(Form->JamShellTree1->SetSelectedPath(level));
            QCoreApplication::processEvents();
        }
        for (size_t i = levels.size(); i-- > 0;) {
            ASSERT_TRUE(Form->JamShellTree1->SetSelectedPath(levels[i]));
            if (round % 2)
                QCoreApplication::processEvents();
        }
        settledOn(levels[0]);
    }
}

TEST_F(BrowserFormTest, AFileThatCannotBeReadGetsAGreyCellThatCanBeSelectedAndDeleted)
{
    TTempDir dir;
    WriteFile(dir / "a.bmp", MakeBmp(40, 40, 24, [](int, int) { return 0xFF0000u; }));
    WriteFile(dir / "b kaputt mit einem sehr langen Namen.jpg", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 3});
    Open(dir.Path());
    Finish();
    ASSERT_EQ(Form->ThumbCount, 2);
    EXPECT_EQ(Form->ThumbNames[1], "b kaputt mit einem sehr langen Namen.jpg");
    EXPECT_EQ(Form->Thumbs[1].Bits, nullptr);
    // The cache keeps only real thumbnails.
    TThumbCacheIndex cache;
    ReadCacheFile(dir / kCacheFileName, cache);
    ASSERT_EQ(cache.Entries.size(), 1u);
    EXPECT_EQ(cache.Entries[0].Name, "a.bmp");

    GridWidth(300);
    Key(VK_RIGHT);
    EXPECT_EQ(Form->Selected, 2);
    EXPECT_EQ(Form->StatusBar->Panels[1].Text, "Bild nicht lesbar  (2 von 2)");
    Drain();
    const QImage shot = Shot(*Form);
    EXPECT_EQ(At(shot, 90 + 40, 40), clGray);    // the grey square
    EXPECT_EQ(At(shot, 90 + 4, 40), clBlue);     // on the selected cell's colour
    EXPECT_EQ(At(shot, 40, 40), RGB(255, 0, 0)); // the picture beside it
    // A name too long for the cell ends in an ellipsis and fits.
    const std::string caption = Form->CellCaption(Form->ThumbNames[1]);
    EXPECT_EQ(caption.substr(caption.size() - 3), "…");
    EXPECT_LE(QFontMetrics(QApplication::font()).horizontalAdvance(QString::fromStdString(caption)), 84);
    EXPECT_EQ(Form->CellCaption("a.bmp"), "a.bmp");

    // Deleted like any other; a file gone already just loses its cell, without a question of failure.
    SetTrashFunction([](const std::string&) { return true; });
    Responder.AnswerMessage(mrYes);
    Key(VK_DELETE);
    EXPECT_EQ(Form->ThumbCount, 1);
    SetTrashFunction([](const std::string&) { return false; });
    ::unlink((dir / "a.bmp").c_str());
    Responder.AnswerMessage(mrYes);
    Key(VK_DELETE);
    EXPECT_EQ(Form->ThumbCount, 0);
    EXPECT_EQ(Responder.Asked().size(), 2u);  // the two questions, no failure message
}

TEST_F(BrowserFormTest, AStoppedPassSaysSoAndMergesWhatItMadeIntoTheEntriesItRead)
{
    TTempDir dir;
    for (int i = 0; i < 10; ++i)
        WriteFile(dir / ("p" + std::to_string(i) + ".bmp"), MakeBmp(20, 20, 8, [i](int x, int) { return static_cast<uint32_t>(x + i); }));
    Open(dir.Path(), 2);
    Finish();
    TThumbCacheIndex full;
    ASSERT_EQ(ReadCacheFile(dir / kCacheFileName, full), TCacheReadResult::Read);
    ASSERT_EQ(full.Entries.size(), 10u);

    // A stop before anything new was made leaves the file as it is.
    const Bytes complete = ReadFile(dir / kCacheFileName);
    Memo.clear();
    Gate.HoldAt("p5.bmp");
    Revisit();
    ASSERT_TRUE(WaitFor([&] { return Form->ThumbCount == 5; }));
    bool canClose = true;
    Form->FormCloseQuery(canClose);
    EXPECT_FALSE(canClose);
    Gate.Release();
    Finish();
    EXPECT_EQ(ReadFile(dir / kCacheFileName), complete);
    EXPECT_EQ(Memo.back(), "Bearbeitung von Verzeichnis " + dir.Path() + " abgebrochen.");

    // A new picture first in name order, one changed and one gone; stopped at p5.
    WriteFile(dir / "a.bmp", MakeBmp(30, 10, 24, [](int, int) { return 0x00FF00u; }));
    WriteFile(dir / "p2.bmp", MakeBmp(10, 30, 24, [](int, int) { return 0x0000FFu; }));
    ::unlink((dir / "p8.bmp").c_str());
    Memo.clear();
    Gate.HoldAt("p5.bmp");
    Revisit();
    ASSERT_TRUE(WaitFor([&] { return Form->ThumbCount == 6; }));
    Form->FormCloseQuery(canClose);
    Gate.Release();
    Finish();
    EXPECT_THAT(Memo, ElementsAre("Bearbeite Verzeichnis: " + dir.Path(), "Browser-Informationen geladen.",
                                  "Benutzerwunsch: Breche Bearbeitung ab...", "Browser-Informationen geschrieben.",
                                  "Bearbeitung von Verzeichnis " + dir.Path() + " abgebrochen."));
    TThumbCacheIndex merged;
    ASSERT_EQ(ReadCacheFile(dir / kCacheFileName, merged), TCacheReadResult::Read);
    std::vector<std::string> names;
    for (const CacheEntry& e : merged.Entries)
        names.push_back(e.Name);
    // What was shown, then the entries of the files not reached that are still there.
    EXPECT_THAT(names, ElementsAre("a.bmp", "p0.bmp", "p1.bmp", "p2.bmp", "p3.bmp", "p4.bmp", "p5.bmp", "p6.bmp",
                                   "p7.bmp", "p9.bmp"));
    EXPECT_EQ(merged.Entries[3].Info.BitCount, 24);  // p2 as it is now
    for (const CacheEntry& e : merged.Entries) {
        raster::DibHandle t;
        LoadCachedThumbnailFrom(dir / kCacheFileName, e.Position, e.Info.ThumbWidth, e.Info.ThumbHeight,
                                e.Info.BitCount, e.Info.ColorCount, t);
        ASSERT_NE(t.Bits, nullptr) << e.Name;
        raster::deldib(t);
    }
    // The next full pass takes all but the new ones from the cache.
    Memo.clear();
    Revisit();
    Finish();
    EXPECT_EQ(Form->ThumbCount, 10);
    EXPECT_EQ(Memo.back(), "Bearbeitung von Verzeichnis " + dir.Path() + " abgeschloßen.");
    EXPECT_EQ(std::count(Memo.begin(), Memo.end(), "Browser-Informationen geschrieben."), 0);
}

TEST_F(BrowserFormTest, OpeningFromTheMainWindowDoesNotProcessTheFolderAgain)
{
    TTempDir dir;
    for (int i = 0; i < 3; ++i)
        WriteFile(dir / ("p" + std::to_string(i) + ".bmp"), MakeBmp(20, 20, 8, [](int, int) { return 1u; }));
    auto passes = [&] {
        return std::count_if(Memo.begin(), Memo.end(), [](const std::string& l) { return l.rfind("Bearbeite ", 0) == 0; });
    };
    // Opened while the start-up pass still runs: that pass goes on. It
    // writes the cache file, which alone is no reason to look again.
    Gate.HoldAt("p1.bmp");
    Open(dir.Path());
    ASSERT_TRUE(WaitFor([&] { return Form->ThumbCount == 1; }));
    Form->JamShellTree1Change();
    EXPECT_FALSE(Form->RestartPending);
    Gate.Release();
    Finish();
    EXPECT_EQ(passes(), 1);
    EXPECT_EQ(Form->ThumbCount, 3);
    EXPECT_EQ(std::count(Memo.begin(), Memo.end(), "Browser-Informationen geschrieben."), 1);
    Form->JamShellTree1Change();
    EXPECT_FALSE(Form->Busy);
    EXPECT_EQ(passes(), 1);

    // Opened after it ended: the grid nobody has seen yet stays.
    Form.reset();
    Memo.clear();
    Open(dir.Path());
    Finish();
    Form->JamShellTree1Change();
    EXPECT_FALSE(Form->Busy);
    EXPECT_EQ(passes(), 1);
    EXPECT_EQ(Form->ThumbCount, 3);
    // ... unless a file came or went meanwhile.
    WriteFile(dir / "p3.bmp", MakeBmp(20, 20, 8, [](int, int) { return 1u; }));
    Form->JamShellTree1Change();
    Finish();
    EXPECT_EQ(passes(), 2);
    EXPECT_EQ(Form->ThumbCount, 4);
}

TEST_F(BrowserFormTest, WindowStateIsKeptOnEveryWayOfClosingAndSizesStayInsideTheWindow)
{
    TTempDir settings, dir;
    for (auto f : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(f, QSettings::UserScope, QString::fromStdString(settings.Path()));
    auto make = [&] {
        TBrowserFormSetup setup;
        setup.InitialFolder = dir.Path();
        setup.UseFormStorage = true;
        setup.OnMemoLine = [this](const std::string& line) { Memo.push_back(line); };
        Form = std::make_unique<TBrowserForm>(setup);
        Finish();
    };
    make();
    EXPECT_GE(Form->Widget()->minimumWidth(), TBrowserForm::kMinWidth);
    EXPECT_GE(Form->Widget()->minimumHeight(), TBrowserForm::kMinHeight);
    Form->Show();
    Form->Widget()->resize(900, 700);
    Form->Panel1->Width = 260;
    Form->Panel3->Height = 150;
    // "Zurück..." closes without the title bar.
    Form->ReadyBtn->Click();
    EXPECT_EQ(Form->ModalResult(), mrOk);
    Form.reset();

    make();
    EXPECT_EQ(Form->Widget()->width(), 900);
    EXPECT_EQ(Form->Widget()->height(), 700);
    EXPECT_EQ(Form->Panel1->Width(), 260);
    EXPECT_EQ(Form->Panel3->Height(), 150);
    // The title-bar close keeps it too.
    Form->Show();
    Form->Panel1->Width = 300;
    ASSERT_TRUE(Form->Close());
    Form.reset();
    make();
    EXPECT_EQ(Form->Panel1->Width(), 300);

    // Stored values that would leave no room for the grid are not taken.
    {
        QSettings s("Quenbrik", "Web Lumifang");
        s.setValue("BrowserForm/TreeWidth", 5000);
        s.setValue("BrowserForm/MemoHeight", -3);
    }
    Form.reset();
    make();
    EXPECT_EQ(Form->Panel1->Width(), 185);
    EXPECT_EQ(Form->Panel3->Height(), 89);
    Form.reset();

    // The folder looked at last is where the tree starts next time, while it is there.
    TBrowserFormSetup plain;
    plain.UseFormStorage = true;
    EXPECT_TRUE(std::filesystem::equivalent(TBrowserForm::StartFolder(plain), dir.Path()));
    QSettings("Quenbrik", "Web Lumifang").setValue("BrowserForm/LastFolder", "/nicht/mehr/da");
    EXPECT_EQ(TBrowserForm::StartFolder(plain), "");
}

TEST_F(BrowserFormTest, ATreeThatLosesItsSelectionDuringAPassLeavesThePassAndGridAlone)
{
    TTempDir dir;
    for (int i = 0; i < 4; ++i)
        WriteFile(dir / ("p" + std::to_string(i) + ".bmp"), MakeBmp(20, 20, 8, [](int, int) { return 1u; }));
    Gate.HoldAt("p2.bmp");
    Open(dir.Path(), 2);
    ASSERT_TRUE(WaitFor([&] { return Form->ThumbCount == 2; }));
    // What the tree's model does when it lists a folder again: no current folder for a moment.
    Form->JamShellTree1->View()->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::Clear);
    ASSERT_EQ(Form->SelectedFolder(), "");
    Gate.Release();
    Finish();
    EXPECT_EQ(Form->ThumbCount, 4);
    EXPECT_FALSE(Form->RestartPending);
    EXPECT_EQ(Memo.back(), "Bearbeitung von Verzeichnis " + dir.Path() + " abgeschloßen.");
    // The folder chosen again is not processed again.
    ASSERT_TRUE(Form->JamShellTree1->SetSelectedPath(dir.Path()));
    EXPECT_FALSE(Form->Busy);
    EXPECT_EQ(Form->ThumbCount, 4);
}
