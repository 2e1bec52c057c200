// The browser window: layout, creation, folder changes, closing and the
// stored window state. The passes are in BrowserPass.cpp, the grid in
// BrowserGrid.cpp.
#include "browser/BrowserFUnit.h"

#include <filesystem>
#include <system_error>

// system
#include <algorithm>

// Qt
#include <QApplication>
#include <QFontMetrics>
#include <QPalette>
#include <QSettings>
#include <QWidget>

// ours
#include "ui/Canvas.h"
#include "ui/HostWidget.h"
#include "ui/ScrollBox.h"
#include "ui/ShellTree.h"
#include "ui/Splitter.h"

TBrowserForm* BrowserForm = nullptr;

TBrowserForm::TBrowserForm(const TBrowserFormSetup& setup) : TForm("BrowserForm"), setup_(setup)
{
    Caption = "Quenbrik Web Lumifang - Browser";
    ClientWidth = 613;
    ClientHeight = 466;

    Panel5 = Make<TPanel>(this, "Panel5");
    Panel5->Align = TAlign::Top;
    Panel5->Height = 41;
    ReadyBtn = Make<TButton>(Panel5, "ReadyBtn");
    ReadyBtn->SetBounds(8, 8, 90, 25);
    ReadyBtn->Caption = "Zurück...";

    // Bottom controls stack upwards in creation order: status bar, memo, splitter.
    StatusBar = Make<TStatusBar>(this, "StatusBar");
    StatusBar->Align = TAlign::Bottom;
    StatusBar->Height = 19;
    // The information panel is as wide as its longest text in the desktop's font.
    const int infoWidth =
        QFontMetrics(QApplication::font())
            .horizontalAdvance("Thumbnail: 65535 x 65535 x 16777216 - 4194300 KByte  (100000 von 100000)") +
        16;
    StatusBar->Panels = {TStatusPanel{200, TStatusPanelStyle::OwnerDraw, ""},
                         TStatusPanel{std::max(200, infoWidth), TStatusPanelStyle::Text, ""}};
    Panel3 = Make<TPanel>(this, "Panel3");
    Panel3->Align = TAlign::Bottom;
    Panel3->Height = 89;
    Panel3->BevelOuter = TBevelCut::None;
    Memo1 = Make<TMemo>(Panel3, "Memo1");
    Memo1->Align = TAlign::Client;
    Memo1->ReadOnly = true;
    RxSplitter2 = Make<TSplitter>(this, "RxSplitter2");
    RxSplitter2->Align = TAlign::Bottom;
    RxSplitter2->Height = 4;
    RxSplitter2->Control = Panel3;

    Panel4 = Make<TPanel>(this, "Panel4");
    Panel4->Align = TAlign::Client;
    Panel4->BevelOuter = TBevelCut::None;
    // Lies behind the tree and is never seen; it holds the keyboard focus for the grid.
    KeyEdit = Make<TEdit>(Panel4, "KeyEdit");
    KeyEdit->SetBounds(8, 8, 50, 21);
    KeyEdit->ReadOnly = true;
    Panel1 = Make<TPanel>(Panel4, "Panel1");
    Panel1->Align = TAlign::Left;
    Panel1->Width = 185;
    Panel1->BevelOuter = TBevelCut::None;
    Panel1->BringToFront();
    JamShellTree1 = Make<TShellTree>(Panel1, "JamShellTree1", StartFolder(setup));
    JamShellTree1->Align = TAlign::Client;
    RxSplitter1 = Make<TSplitter>(Panel4, "RxSplitter1");
    RxSplitter1->Align = TAlign::Left;
    RxSplitter1->Width = 4;
    RxSplitter1->Control = Panel1;
    Panel2 = Make<TPanel>(Panel4, "Panel2");
    Panel2->Align = TAlign::Client;
    Panel2->BevelOuter = TBevelCut::None;
    NamePanel = Make<TPanel>(Panel2, "NamePanel");
    NamePanel->Align = TAlign::Top;
    NamePanel->Height = 20;
    NamePanel->Caption = "Thumbnails";
    NamePanel->SetFont(TFontSpec{"Arial", 8, true, clDefault});
    ScrollBox1 = Make<TScrollBox>(Panel2, "ScrollBox1");
    ScrollBox1->Align = TAlign::Client;
    ScrollBox1->Color = FromQColor(QApplication::palette().color(QPalette::Dark));
    PaintBox1 = Make<TPaintBox>(ScrollBox1, "PaintBox1");
    PaintBox1->SetBounds(0, 0, 90, 110);
    // Captions and thumbnails at the screen's own pixels, not enlarged afterwards.
    PaintBox1->SetSharpAtPixelRatio(true);

    Memo1->OnLineAdded = [this](const std::string& line) {
        if (setup_.OnMemoLine)
            setup_.OnMemoLine(line);
    };
    Memo1->Lines().Add(kPassMemoHeading);
    KeyEditExit();

    ReadyBtn->OnClick = [this] {
        // The button closes through the close query, which refuses while a pass runs.
        bool canClose = true;
        FormCloseQuery(canClose);
        if (!canClose)
            return;
        // Closing through the button is no title-bar close: keep the window's state here too.
        SaveFormStorage();
        ModalResult = mrOk;
    };
    OnCloseQuery = [this](bool& canClose) { FormCloseQuery(canClose); };
    OnClose = [this] { SaveFormStorage(); };
    OnShow = [this] {
        gridSeen_ = true;
        KeyEdit->SetFocus();
    };
    JamShellTree1->OnChanging = [this](bool& allow) { JamShellTree1Changing(allow); };
    JamShellTree1->OnChange = [this] { JamShellTree1Change(); };
    JamShellTree1->OnMouseMove = [this](TShiftState s, int x, int y) { DirectoryListBox1MouseMove(s, x, y); };
    PaintBox1->OnPaint = [this] { PaintBox1Paint(); };
    PaintBox1->OnMouseDown = [this](TMouseButton b, TShiftState s, int x, int y) { PaintBox1MouseDown(b, s, x, y); };
    PaintBox1->OnMouseMove = [this](TShiftState s, int x, int y) { PaintBox1MouseMove(s, x, y); };
    PaintBox1->OnDblClick = [this] { PaintBox1DblClick(); };
    ScrollBox1->OnMouseDown = [this](TMouseButton b, TShiftState s, int x, int y) { ScrollBox1MouseDown(b, s, x, y); };
    ScrollBox1->OnMouseMove = [this](TShiftState s, int x, int y) { ScrollBox1MouseMove(s, x, y); };
    KeyEdit->OnKeyDown = [this](Word& key, TShiftState s) { KeyEditKeyDown(key, s); };
    KeyEdit->OnEnter = [this] { KeyEditEnter(); };
    KeyEdit->OnExit = [this] { KeyEditExit(); };
    StatusBar->OnDrawPanel = [this](TStatusBar& bar, int panel, const TRect& r) { StatusBarDrawPanel(bar, panel, r); };

    PrepareOptions = setup_.Prepare;
    pool_ = std::make_unique<TThumbPool>(setup_.Threads);
    // Small enough for any screen, large enough that the tree, one column of
    // the grid, the memo and the button stay in view.
    Widget()->setMinimumSize(kMinWidth, kMinHeight);
    if (setup_.UseFormStorage)
        LoadFormStorage();
    FormCreate();
}

TBrowserForm::~TBrowserForm()
{
    FormDestroy();
    // The edit's focus-out during the window's teardown must not reach the panels.
    KeyEdit->OnEnter = nullptr;
    KeyEdit->OnExit = nullptr;
    Memo1->OnLineAdded = nullptr;
}

void TBrowserForm::FormCreate()
{
    Selected = 1;
    ThumbCount = 0;
    RestartPending = false;
    JamShellTree1Change();
}

void TBrowserForm::FormDestroy()
{
    RestartPending = false;
    if (Busy)
        StopPass();
    // The pass's thread is waited for here: it must not hand a step to a form
    // that is gone. A cache file being written is completed: it never stays half done.
    pass_.reset();
    pool_.reset();
    Busy = false;
    ReleaseThumbs();
}

void TBrowserForm::FormCloseQuery(bool& CanClose)
{
    if (Busy) {
        AddMemoLine("Benutzerwunsch: Breche Bearbeitung ab...");
        StopPass();
        CanClose = false;
        return;
    }
    CanClose = true;
}

void TBrowserForm::JamShellTree1Changing(bool& AllowChange)
{
    // The pass is stopped once the new folder is known (JamShellTree1Change):
    // the tree also moves its selection to no folder at all for a moment while
    // it lists folders, and a pass stopped for that would never be restarted.
    AllowChange = true;
}

void TBrowserForm::JamShellTree1Change()
{
    const std::string folder = SelectedFolder();
    // The tree may lose its selection for a moment while it lists folders;
    // nothing is shown for no folder, so the grid and the pass stay.
    if (folder.empty())
        return;
    // The main window calls this before it shows the window. The pass the
    // window began on this folder when it was made goes on, and the grid it
    // made stays while nobody has seen it yet and no file came or went; once
    // seen, opening the window again looks at the folder afresh.
    if (folder == PassFolder && !RestartPending &&
        (Busy || (passComplete_ && !gridSeen_ && passStamp_ == FolderStampOf(folder))))
        return;
    if (ThumbCount > 0) {
        ReleaseThumbs();
        Paint();
    }
    if (Busy) {
        RestartPending = true;
        StopPass();
    } else {
        StartPass();
    }
}

std::string TBrowserForm::SelectedFolder() const
{
    return JamShellTree1->SelectedPath();
}

void TBrowserForm::AddMemoLine(const std::string& line)
{
    Memo1->Lines().Add(line);
}

void TBrowserForm::KeyEditEnter()
{
    const QPalette pal = QApplication::palette();
    NamePanel->Color = FromQColor(pal.color(QPalette::Active, QPalette::Highlight));
    NamePanel->SetFont(TFontSpec{"Arial", 8, true, FromQColor(pal.color(QPalette::Active, QPalette::HighlightedText))});
}

void TBrowserForm::KeyEditExit()
{
    const QPalette pal = QApplication::palette();
    NamePanel->Color = FromQColor(pal.color(QPalette::Mid));
    NamePanel->SetFont(TFontSpec{"Arial", 8, true, FromQColor(pal.color(QPalette::Window))});
}

// ---------------------------------------------------------------------------
// Form storage: window state and the sizes the two splitters set.

void TBrowserForm::LoadFormStorage()
{
    QSettings settings("Quenbrik", "Web Lumifang");
    settings.beginGroup("BrowserForm");
    const QByteArray geometry = settings.value("Geometry").toByteArray();
    if (!geometry.isEmpty())
        Widget()->restoreGeometry(geometry);
    bool ok = false;
    // Stored sizes never push the grid out of the window they were stored with.
    const int width = std::max(Widget()->width(), kMinWidth), height = std::max(Widget()->height(), kMinHeight);
    const int tree = settings.value("TreeWidth").toInt(&ok);
    if (ok && tree >= 30 && tree <= width - 2 * CellWidth)
        Panel1->Width = tree;
    const int memo = settings.value("MemoHeight").toInt(&ok);
    if (ok && memo >= 30 && memo <= height - 41 - 20 - CellHeight - 19 - 4)
        Panel3->Height = memo;
    settings.endGroup();
}

std::string TBrowserForm::StartFolder(const TBrowserFormSetup& setup)
{
    // The folder looked at last, while it is still there; else the one asked for.
    if (!setup.InitialFolder.empty() || !setup.UseFormStorage)
        return setup.InitialFolder;
    QSettings settings("Quenbrik", "Web Lumifang");
    const std::string last = settings.value("BrowserForm/LastFolder").toString().toStdString();
    std::error_code ec;
    return !last.empty() && std::filesystem::is_directory(last, ec) ? last : setup.InitialFolder;
}

void TBrowserForm::SaveFormStorage()
{
    if (!setup_.UseFormStorage)
        return;
    QSettings settings("Quenbrik", "Web Lumifang");
    settings.beginGroup("BrowserForm");
    const std::string folder = SelectedFolder();
    if (!folder.empty())
        settings.setValue("LastFolder", QString::fromStdString(folder));
    settings.setValue("Geometry", Widget()->saveGeometry());
    settings.setValue("TreeWidth", Panel1->Width());
    settings.setValue("MemoHeight", Panel3->Height());
    settings.endGroup();
}
