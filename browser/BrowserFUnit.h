// TBrowserForm: the image browser, shown modally from the main window. A
// folder tree on the left, the thumbnails of the selected folder in a grid on
// the right, a status memo and a status bar below. The thumbnails come from a
// pass over the folder (browser/ThumbPassCore.h, shared with the command
// line) and are kept in the folder's cache file (browser/ThumbCache.h).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "browser/ThumbBuilder.h"
#include "browser/ThumbCache.h"
#include "browser/ThumbPassCore.h"
#include "raster/Rasterwerk.h"
#include "ui/Form.h"

class TShellTree;
class TSplitter;
class TScrollBox;
class TPaintBox;

struct TBrowserFormSetup {
    // The folder the tree starts at; empty: the user's home folder.
    std::string InitialFolder;
    // Hears every line added to the status memo (the command-line front end).
    std::function<void(const std::string&)> OnMemoLine;
    // Threads that prepare thumbnails ahead; 0: one per core.
    unsigned Threads = 0;
    // Window state and panel sizes kept between runs.
    bool UseFormStorage = true;
    // How the workers prepare files.
    TPrepareOptions Prepare;
};

class TBrowserForm : public TForm, private TPassFront {
public:
    explicit TBrowserForm(const TBrowserFormSetup& setup = {});
    ~TBrowserForm() override;

    // Controls, by their window-layout names.
    TPanel* Panel5;
    TButton* ReadyBtn;
    TPanel* Panel4;
    TPanel* Panel1;
    TShellTree* JamShellTree1;
    TEdit* KeyEdit;
    TSplitter* RxSplitter1;
    TPanel* Panel2;
    TPanel* NamePanel;
    TScrollBox* ScrollBox1;
    TPaintBox* PaintBox1;
    TPanel* Panel3;
    TMemo* Memo1;
    TSplitter* RxSplitter2;
    TStatusBar* StatusBar;

    // The thumbnail list: three parallel arrays in directory order.
    int ThumbCount = 0;
    std::vector<raster::DibHandle> Thumbs;
    std::vector<std::string> ThumbNames;
    std::vector<ThumbInfo> ThumbInfos;

    int Selected = 1;
    int PaintFrom = 0;
    bool Busy = false;
    bool RestartPending = false;
    std::string PassFolder;
    int ProgressPercent = 0;
    TRect ProgressRect;
    // Lets the worker threads' JPEG shortcut be turned off (tests compare both ways).
    TPrepareOptions PrepareOptions;

    // Cells of the grid.
    static constexpr int CellWidth = 90;
    static constexpr int CellHeight = 110;
    // The smallest window.
    static constexpr int kMinWidth = 480;
    static constexpr int kMinHeight = 360;
    int Columns() const;

    // Passes. The pass itself (its workers, the order of its files, its memo
    // lines and the cache file) is TFolderPass; the form shows what it hands over.
    void StartPass();
    // The end of a pass, its cache file written: the next pass may start.
    void PassFinished(bool completed) override;
    // Processes one file of the current folder; `prepared` is the worker's
    // result for it (made here when absent).
    void NewFile(const std::string& name, std::optional<TPreparedFile>* prepared = nullptr);
    raster::DibHandle Resize(const raster::DibHandle& picture, int32_t width, int32_t height);
    // Asks the running pass to stop (the worker ends between two files).
    void StopPass();
    TPassThread* Worker() const;

    // The cache file.
    raster::DibHandle LoadCachedThumbnail(int64_t position, int32_t width, int32_t height, int32_t bitCount,
                                          int32_t colorCount);
    int32_t CalcCheck(const std::string& path);

    // Handlers.
    void FormCreate();
    void FormDestroy();
    void FormCloseQuery(bool& CanClose);
    void JamShellTree1Changing(bool& AllowChange);
    void JamShellTree1Change();
    void PaintBox1Paint();
    void PaintBox1MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    void PaintBox1MouseMove(TShiftState Shift, int X, int Y);
    void PaintBox1DblClick();
    void ScrollBox1MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    void ScrollBox1MouseMove(TShiftState Shift, int X, int Y);
    void DirectoryListBox1MouseMove(TShiftState Shift, int X, int Y);
    void KeyEditKeyDown(Word& Key, TShiftState Shift);
    void KeyEditEnter();
    void KeyEditExit();
    void StatusBarDrawPanel(TStatusBar& Bar, int Panel, const TRect& Rect);

    // Commands.
    void Paint();
    void EnsureVisible();
    void Open();
    void ShowPicture(const std::string& path);
    void Delete();
    void SetProStatus(int percent);
    void SBarPaintMore();
    // The information panel's text for the current selection.
    std::string InfoText() const;
    // The name as a cell shows it: ending in "…" when it is too wide.
    std::string CellCaption(const std::string& name) const;
    // The selected folder of the tree, "" when none.
    std::string SelectedFolder() const;
    // Where the tree starts: the folder of the last visit when kept, else setup's.
    static std::string StartFolder(const TBrowserFormSetup& setup);

private:
    // What the pass hands over.
    void PostStep(std::function<void()> step) override;
    std::unique_ptr<TPassThread> NewPassThread(std::shared_ptr<TPassWork> work, TPassThread::TFileCallback callback,
                                               std::function<void()> onTerminate) override;
    void PassLine(const std::string& line) override;
    void PassThumb(TPreparedFile::TKind kind, raster::DibHandle thumb, const std::string& name,
                   const ThumbInfo& info) override;
    void PassProgress(int percent) override;
    void PassWritingCache() override;
    // Frees a thumbnail, or hands it to the cache file being written.
    void DropDib(raster::DibHandle& dib);
    void AddMemoLine(const std::string& line);
    void AppendThumb(raster::DibHandle thumb, const std::string& name, const ThumbInfo& info);
    void ReleaseThumbs();
    void RemoveThumb(int index);
    void DrawCell(int k, int cols, const raster::LogPalette* palette);
    void PaintCells(const TRect& clip);
    // The paint box as wide as the view and as high as the rows need.
    void FitGrid();
    void ShowInfo();
    void LoadFormStorage();
    void SaveFormStorage();

    TBrowserFormSetup setup_;
    std::unique_ptr<TThumbPool> pool_;
    // The last pass started; kept after its end until the next one starts.
    std::shared_ptr<TFolderPass> pass_;
    // The folder's modification time when the last pass began, whether that
    // pass went through the whole folder and whether its grid was shown: a
    // grid nobody has seen yet is not made again.
    std::pair<int64_t, int64_t> passStamp_{-1, -1};
    bool passComplete_ = false;
    bool gridSeen_ = false;
    bool stampBeforeWrite_ = false;
    uint64_t generation_ = 0;
};

extern TBrowserForm* BrowserForm;

// A folder's own modification time: it changes whenever a file in it is
// added, removed or renamed. {-1, -1} when it cannot be read.
std::pair<int64_t, int64_t> FolderStampOf(const std::string& folder);
