// TMainForm: the program's main window. It owns everything a job needs (the
// status memo, the per-file progress bar, the status bar with the overall
// progress, the stop flag) and the two lists the jobs work on.
//
// Its methods are spread by job: MainUnit.cpp (layout, start-up, status bar,
// image buttons, closing, change handlers, window states), MainLists.cpp (the
// found-image and file-type lists), MainOptions.cpp (options.dat, image-list
// files); the page scan, the download and the request handlers live in their
// own files.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/MainFiles.h"
#include "engine/JobFrontend.h"
#include "engine/PictureJobs.h"
#include "http/HttpProt.h"
#include "ui/Dialogs.h"
#include "ui/Form.h"

class QTimer;

// How a main window deals with its options file. The program uses the
// defaults; the command-line front end and the tests never touch the user's
// options.dat.
struct TMainFormSetup {
    bool UseOptionsFile = true;
    // When not empty: options.dat is read and written in this folder instead
    // of beside the program (or in the user's configuration folder).
    std::string OptionsDir;
    // When set: shown in URLEdit after the options are read (not saved, no scan).
    std::optional<std::string> StartAddress;
};

// The window is the front end of the scan and download engine: its memo,
// lists, progress displays and controls are what the engine reports to and reads.
class TMainForm : public TForm, public TJobFrontend {
public:
    explicit TMainForm(TMainFormSetup setup = {});
    ~TMainForm() override;

    // ---- components, by their layout names
    TPageControl* PageControl2;
    TTabSheet* TabSheet1;   // "Bilder suchen"
    TTabSheet* TabSheet2;   // "Liste der gefunden Bilder"
    TTabSheet* TabSheet3;   // "Bilder herunterladen"
    TTabSheet* TabSheet4;   // "Bilder sichten"

    // tab 1
    TEdit* URLEdit;
    TEdit* ProxyEdit;
    TCheckBox* Autosaug;
    // The page scan's optional rules for today's markup; kept in the user's
    // settings, since options.dat has no room for it.
    TCheckBox* ModernCheck;
    TButton* GoBtn;
    TButton* BreakBtn;
    TButton* LocalBreak2Btn;
    TListBox* ListBox2;     // FileTypeList
    TButton* NewFTBtn;
    TButton* DelFTBtn;
    // tab 2
    TButton* OpenLBtn;
    TButton* SaveLBtn;
    TButton* MarkBtn;
    TButton* NotBtn;
    TButton* ClearBtn;
    TButton* DelBtn;
    TListBox* ListBox1;     // FoundImageList
    // tab 3
    TDirectoryEdit* DirectoryEdit1;
    TButton* DownAllBtn;
    TButton* DownBtn;
    TButton* BreakBtn2;
    TButton* BreakLocalBtn;
    TRadioButton* PrefixCheck;
    TRadioButton* OverJumpCheck;
    // tab 4
    TButton* BrowseBtn;
    // status area, button strip, status bar
    TPanel* Panel12;
    TMemo* Memo1;
    TProgressBar* ProgressBar1;
    TPanel* Panel7;
    TImage* ueberbtn;
    TImage* ueberBtn2;
    TImage* EndeBtn;
    TImage* EndeBtnDown;
    // "Einstellungen...": the settings options.dat has no room for (also Ctrl+,).
    TButton* SettingsBtn;
    TStatusBar* StatusBar1;

    TOpenDialog OpenDialog1;
    TSaveDialog SaveDialog1;
    // Every request of the program goes through this one client; its fixed
    // settings (agent, accept list, proxy port) and handlers are set by SetupHttpCli1.
    THttpCli HttpCli1;
    // The scan and the downloads; the job buttons and handlers call it.
    TPictureJobs Engine{HttpCli1, *this};

    // ---- state
    bool InfoPressed = false;
    bool ExitPressed = false;
    bool& AbortRequested = Engine.AbortRequested;
    std::string ProgramDir;              // ends in "/"
    std::int32_t ProgressPercent = 0;
    TRect ProgressRect;
    bool LoadingOptions = false;
    // What options.dat holds as far as this window knows: a field whose text
    // the file cannot hold is saved with its value from here.
    TOptionsRecord StoredOptions;
    // Set by SetScanState/SetDownloadState, cleared by SetIdleState: while a
    // job runs nothing may start another one (jobs share the HTTP client).
    bool JobRunning = false;
    // What went wrong in the jobs so far, one count per failed page or file
    // by its cause; the command-line front end makes its exit status of it.
    using TJobFailures = ::TJobFailures;
    TJobFailures& Failures = Engine.Failures;
    // The engine's bounds and ways, set from the user's settings (Scan/MaxPages,
    // Scan/MaxLevel, Scan/NoParent, Network/Connections and the picture choices).
    std::uint32_t& MaxPages = Engine.Settings.MaxPages;
    std::uint32_t& MaxLevel = Engine.Settings.MaxLevel;
    bool& NoParent = Engine.Settings.NoParent;
    dlnames::TFileWays& DownloadFileWays = Engine.Settings.FileWays;
    int& Connections = Engine.Settings.Connections;
    static constexpr int kMaxConnections = TJobSettings::kMaxConnections;
    TPictureChoices& Choices = Engine.Settings.Choices;

    // ---- the two lists
    // Found image addresses: ListBox1's items; marked rows are its selection.
    TStrings& FoundImageList();
    // Extensions without dot as typed: ListBox2's items.
    TStrings& FileTypeList();
    // Whether an address is in FoundImageList, ASCII letters folded to upper
    // case (O(1): the list keeps an index in step).
    bool FoundImageListHas(const std::string& address) const;
    // Appends address unless FoundImageListHas it; true when appended.
    // Does not call ListBoxChanged.
    bool AddFoundImage(const std::string& address);

    // ---- operations other parts call
    void ListBoxChanged();
    void SetProStatus(int percent);
    void SBarPaintMore();
    void SaveOptions();
    void RememberStoredOptions();
    void OpenOptions();
    // Appends a line to Memo1 (OnMemoLine hears it, as every line added to Memo1).
    void AddMemoLine(const std::string& line);
    // Every line added to Memo1, in order; the command-line front end mirrors them.
    std::function<void(const std::string&)> OnMemoLine;

    // Window states: a job disables or hides what could start another job or
    // change what it works on; SetIdleState restores all of it and sets
    // ProgressBar1 to 0.
    void SetScanState();
    void SetDownloadState();
    void SetIdleState();
    // The enabling rule of GoBtn: text present and no job running.
    void UpdateGoBtn();

    // Progress in words in the status bar's last panel while a job runs:
    // pages done and waiting, pictures found and the address being fetched;
    // file n of m with bytes and speed. A request that has received nothing
    // for a second or more adds how long it has been waiting.
    std::string JobStatusText() const;

    // ---- what the engine reports to and reads from the window
    void MemoLine(const std::string& line) override { AddMemoLine(line); }
    TFollowAnswer AskFollow(const std::string& question) override;
    void ErrorBox(const std::string& text, const std::string& caption) override;
    bool FoundAddress(const std::string& address) override;
    void FoundFlush() override;
    void ScanProgress(const TScanProgress& progress) override;
    void DownloadProgress(std::size_t index, std::size_t count) override;
    void DataArrived(int bytes, int filePercent) override;
    void TotalProgress(int percent) override { SetProStatus(percent); }
    std::vector<std::string> FileTypes() override;
    std::string Proxy() override;
    bool AutoMode() override;
    bool ModernMarkup() override;
    std::string TargetFolder() override;
    bool SkipExisting() override;

    // Where options.dat is read from and written to; empty when disabled.
    std::string OptionsReadPath() const;
    std::string OptionsWritePath() const;

    // ---- handlers
    void FormCreate();
    void FormCloseQuery(bool& CanClose);
    void StatusBar1DrawPanel(TStatusBar& StatusBar, int Panel, const TRect& Rect);
    void ueberbtnClick();
    void ueberbtnMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    void ueberbtnMouseMove(TShiftState Shift, int X, int Y);
    void ueberbtnMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    void EndeBtnClick();
    void EndeBtnMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    void EndeBtnMouseMove(TShiftState Shift, int X, int Y);
    void EndeBtnMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    void URLEditChange();
    void ProxyEditChange();
    void AutosaugClick();
    void ModernCheckClick();
    void DirectoryEdit1Change();
    void BrowseBtnClick();
    void SettingsBtnClick();
    // lists
    void ClearBtnClick();
    void DelBtnClick();
    void MarkBtnClick();
    void NotBtnClick();
    void ListBox1KeyDown(Word& Key, TShiftState Shift);
    void NewFTBtnClick();
    void DelFTBtnClick();
    // image-list files
    void OpenLBtnClick();
    void SaveLBtnClick();
    // jobs and requests (page scan, download, request driving)
    void GoBtnClick();
    void DownAllBtnClick();
    void DownBtnClick();
    void BreakBtnClick();
    void BreakLocalBtnClick();
    void HttpCli1DocData(THttpCli& Sender, const char* Buffer, int Len);
    void HttpCli1RequestDone(THttpCli& Sender, THttpRequest RqType, std::uint16_t Error);
    // download engine
    void DownloadList(const std::vector<std::string>& WorkList);
    // The folder field with a trailing "/" (its long-name form is the text itself).
    std::string TargetDir() const;
    // The text behind the address's last "/", percent-decoded (dlnames::SaveFileName).
    static std::string UrlFileName(const std::string& Address);

private:
    void CreateControls();
    void BindEvents();
    // The layout as the window grows; sizes at which the controls were laid out.
    void SetupLayout();
    void LayoutStatusArea();
    void LayoutTabs();
    void FitOnScreen();
    std::pair<int, int> baseClient_{0, 0};
    void PressImage(TImage* normal, TImage* pressed, bool& flag, bool down);
    void TrackImage(TImage* normal, TImage* pressed, bool flag, int x, int y);

    TMainFormSetup setup_;

    void SetupHttpCli1();
    // A scan bound from the user's settings; 0 when missing or not a count.
    static std::uint32_t ScanLimitSetting(const char* key);
    static bool BoolSetting(const char* key, bool fallback);
    std::string ModernSettingsFile() const;
    // The job's progress text without the waiting part, and what it needs.
    void RefreshJobStatus();
    void StartJobStatus(std::string text);
    void ClearJobStatus();
    std::string jobStatus_;
    bool jobDownload_ = false;
    std::int64_t jobBytes_ = 0;
    std::chrono::steady_clock::time_point jobStart_{}, lastData_{};
    QTimer* statusTick_ = nullptr;
    // Draws the text panel, at most ten times a second and never while hidden.
    void PaintJobStatus();
    std::chrono::steady_clock::time_point lastStatusPaint_{};
    bool statusPaintPending_ = false;
    void LoadPictureChoices();
    // While a question waits for the user, no request is waiting for a server.
    void HoldJobWait(bool held);
    // Bytes of the job's requests arrived just now.
    void NoteJobData(int bytes);
    // The found list in one batch while a page's pictures come in.
    bool foundBatch_ = false;
    bool foundAdded_ = false;
    // Runs SetupHttpCli1 while the form is built (declared after HttpCli1).
    bool httpCli1Ready_ = (SetupHttpCli1(), true);
};

extern TMainForm* MainForm;
