// TMainForm: layout, start-up, status bar, image buttons, closing, the change
// handlers and the window states of the jobs.
#include "app/MainUnit.h"

// system
#include <algorithm>

// Qt
#include <QImage>
#include <QKeySequence>
#include <QLineEdit>
#include <QPalette>
#include <QShortcut>
#include <QWidget>

// ours
#include "ProgramInfo.h"
#include "app/AddTypeBtn.h"
#include "app/MainFiles.h"
#include "app/MainPictures.h"
#include "browser/BrowserFUnit.h"
#include "engine/PageAddress.h"
#include "base/AsciiCase.h"
#include "ui/AboutBoxUnit.h"
#include "ui/Canvas.h"
#include "ui/Responder.h"
#include "ui/Settings.h"
#include "ui/StringListModel.h"

TMainForm* MainForm = nullptr;

namespace {

constexpr TColor kHeadingColor = RGB(240, 202, 166);
constexpr TColor kSideColor = RGB(192, 220, 192);
// Shown in the address field of a fresh installation.
constexpr const char* kDefaultStartAddress = "http://example.com/";

struct TabLook {
    const char* caption;
    const char* heading;
    const char* bigCaption;
    TTabMotif motif;
};

constexpr TabLook kTabs[4] = {
    {"Bilder suchen", "Bilder suchen - Webadresse eingeben/einfügen und auf \"Saugen\" klicken", "Bilder suchen...",
     TTabMotif::Search},
    {"Liste der gefunden Bilder", "Liste der Bilder - Einträge markieren, Einträge löschen, Liste speichern",
     "Liste der Bilder...", TTabMotif::List},
    {"Bilder herunterladen", "Herunterladen - Alle Bilder in einem Verzeichnis speichern", "Bilder herunterladen...",
     TTabMotif::Download},
    {"Bilder sichten", "Bilder sichten - Die Bildbestände auf der Festplatte sichten, Bilder drucken",
     "Bilder sichten...", TTabMotif::Browse},
};

} // namespace

TMainForm::TMainForm(TMainFormSetup setup) : TForm("MainForm"), setup_(std::move(setup))
{
    CreateControls();
    BindEvents();
    SetupLayout();
    FormCreate();
}

TMainForm::~TMainForm()
{
    if (MainForm == this)
        MainForm = nullptr;
}

// Every control with its place, caption and colour.
void TMainForm::CreateControls()
{
    Caption = std::string("Quenbrik Web Lumifang ") + kProgramVersion;
    ClientWidth = 638;
    ClientHeight = 555;
    SetFont(TFontSpec{});

    // Bottom-aligned parts stack upwards in the order they are made.
    StatusBar1 = Make<TStatusBar>(this, "StatusBar1");
    // A label says what the two bars measure; the last panel says in words
    // how far a job has got.
    const std::string barLabel = "Gesamt:";
    StatusBar1->Panels = {TStatusPanel{StatusBar1->TextWidth(barLabel), TStatusPanelStyle::Text, barLabel},
                          TStatusPanel{200, TStatusPanelStyle::OwnerDraw, ""},
                          TStatusPanel{200, TStatusPanelStyle::OwnerDraw, ""},
                          TStatusPanel{4000, TStatusPanelStyle::Text, ""}};
    StatusBar1->Hint = "Gesamtfortschritt des Auftrags; rechts: Seiten, Bilder, Dateien";

    Panel7 = Make<TPanel>(this, "Panel7");
    Panel7->Align = TAlign::Bottom;
    Panel7->Height = 41;
    auto* stripText = Make<TLabel>(Panel7, "Label10");
    stripText->SetBounds(10, 13, 300, 16);
    stripText->Caption = std::string("Quenbrik Web Lumifang ") + kProgramVersion;
    auto* imagePanel = Make<TPanel>(Panel7, "Panel8");
    imagePanel->BevelOuter = TBevelCut::None;
    imagePanel->Align = TAlign::Right;
    imagePanel->Width = 84;
    // Pressed pictures first, so the normal ones lie on top of them.
    ueberBtn2 = Make<TImage>(imagePanel, "ueberBtn2");
    ueberBtn2->SetBounds(4, 4, 33, 33);
    ueberBtn2->SetPicture(DrawInfoButton(33, true));
    ueberBtn2->Hint = "Informationen über das Programm";
    ueberbtn = Make<TImage>(imagePanel, "ueberbtn");
    ueberbtn->SetBounds(4, 4, 33, 33);
    ueberbtn->SetPicture(DrawInfoButton(33, false));
    ueberbtn->Hint = "Informationen über das Programm";
    EndeBtnDown = Make<TImage>(imagePanel, "EndeBtnDown");
    EndeBtnDown->SetBounds(44, 4, 33, 33);
    EndeBtnDown->SetPicture(DrawExitButton(33, true));
    EndeBtnDown->Hint = "Hiermit verlassen Sie das Programm";
    EndeBtnDown->Visible = false;
    EndeBtn = Make<TImage>(imagePanel, "EndeBtn");
    EndeBtn->SetBounds(44, 4, 33, 33);
    EndeBtn->SetPicture(DrawExitButton(33, false));
    EndeBtn->Hint = "Hiermit verlassen Sie das Programm";
    auto* settingsPanel = Make<TPanel>(Panel7, "Panel9");
    settingsPanel->BevelOuter = TBevelCut::None;
    settingsPanel->Align = TAlign::Right;
    settingsPanel->Width = 132;
    SettingsBtn = Make<TButton>(settingsPanel, "SettingsBtn");
    SettingsBtn->SetBounds(4, 7, 124, 26);
    SettingsBtn->Caption = "Einstellungen...";
    SettingsBtn->Hint = "Netzwerk und Suche einstellen (Strg+,)";

    Panel12 = Make<TPanel>(this, "Panel12");
    Panel12->Align = TAlign::Bottom;
    Panel12->Height = 109;
    auto* memoLabel = Make<TLabel>(Panel12, "Label9");
    memoLabel->SetFont(TFontSpec{"MS Sans Serif", 8, true});
    memoLabel->SetBounds(8, 3, 200, 14);
    memoLabel->Caption = "Statusmeldungen:";
    Memo1 = Make<TMemo>(Panel12, "Memo1");
    Memo1->SetBounds(8, 19, 622, 76);
    Memo1->SetFont(TFontSpec{"Courier New", 8});
    Memo1->ReadOnly = true;
    {
        // The log sits on the tooltip colour, which sets it apart from the
        // controls above it.
        QPalette pal = Memo1->Widget()->palette();
        pal.setColor(QPalette::Base, ToQColor(clInfoBk));
        pal.setColor(QPalette::Text, pal.color(QPalette::ToolTipText));
        Memo1->Widget()->setPalette(pal);
    }
    ProgressBar1 = Make<TProgressBar>(Panel12, "ProgressBar1");
    ProgressBar1->SetBounds(8, 97, 622, 9);

    PageControl2 = Make<TPageControl>(this, "PageControl2");
    PageControl2->Align = TAlign::Client;
    PageControl2->HotTrack = true;
    PageControl2->SetImages({DrawTabIcon(TTabMotif::Search, 16), DrawTabIcon(TTabMotif::List, 16),
                             DrawTabIcon(TTabMotif::Download, 16), DrawTabIcon(TTabMotif::Browse, 16)});

    TTabSheet** sheets[4] = {&TabSheet1, &TabSheet2, &TabSheet3, &TabSheet4};
    TPanel* content[4] = {};
    for (int i = 0; i < 4; ++i) {
        const std::string n = std::to_string(i + 1);
        TTabSheet* sheet = Make<TTabSheet>(PageControl2, "TabSheet" + n);
        *sheets[i] = sheet;
        sheet->Caption = kTabs[i].caption;
        sheet->ImageIndex = i;

        auto* heading = Make<TPanel>(sheet, "HeadPanel" + n);
        heading->Align = TAlign::Top;
        heading->Height = 24;
        heading->Color = kHeadingColor;
        heading->Alignment = TAlignment::LeftJustify;
        heading->SetFont(TFontSpec{"MS Sans Serif", 8, true, clBlack});
        heading->Caption = kTabs[i].heading;

        auto* side = Make<TPanel>(sheet, "SidePanel" + n);
        side->Align = TAlign::Left;
        side->Width = 209;
        side->Color = kSideColor;
        side->BevelOuter = TBevelCut::Lowered;
        auto* picture = Make<TImage>(side, "TabImage" + n);
        picture->SetBounds(8, 8, 193, 150);
        picture->SetPicture(DrawTabPicture(kTabs[i].motif, 193, 150));
        auto* big = Make<TLabel>(side, "BigLabel" + n);
        big->SetFont(TFontSpec{"Arial Black", 14, false, clMaroon});
        big->WordWrap = true;
        big->SetBounds(8, 166, 193, 70);
        big->Caption = kTabs[i].bigCaption;

        content[i] = Make<TPanel>(sheet, "ContentPanel" + n);
        content[i]->Align = TAlign::Client;
        content[i]->BevelOuter = TBevelCut::None;
    }

    // Tab 1: the search.
    TPanel* c = content[0];
    auto* urlLabel = Make<TLabel>(c, "Label1");
    urlLabel->SetBounds(12, 10, 200, 14);
    urlLabel->Caption = "Webadresse:";
    URLEdit = Make<TEdit>(c, "URLEdit");
    URLEdit->SetBounds(12, 26, 396, 22);
    URLEdit->Text = kDefaultStartAddress;
    auto* proxyLabel = Make<TLabel>(c, "Label2");
    proxyLabel->SetBounds(12, 54, 200, 14);
    proxyLabel->Caption = "Proxy (optional):";
    ProxyEdit = Make<TEdit>(c, "ProxyEdit");
    ProxyEdit->SetBounds(12, 70, 240, 22);
    Autosaug = Make<TCheckBox>(c, "Autosaug");
    Autosaug->SetBounds(12, 98, 396, 20);
    Autosaug->Caption = "Automatisch Saugen, nie den Benutzer fragen...";
    ModernCheck = Make<TCheckBox>(c, "ModernCheck");
    ModernCheck->SetBounds(12, 120, 396, 20);
    ModernCheck->Caption = "Moderne Bildangaben auswerten (srcset, data-src, picture)";
    GoBtn = Make<TButton>(c, "GoBtn");
    GoBtn->SetBounds(12, 146, 100, 26);
    GoBtn->Caption = "&Saugen...";
    BreakBtn = Make<TButton>(c, "BreakBtn");
    BreakBtn->SetBounds(118, 146, 90, 26);
    BreakBtn->Caption = "Abbrechen";
    BreakBtn->Cancel = true;
    BreakBtn->Enabled = false;
    LocalBreak2Btn = Make<TButton>(c, "LocalBreak2Btn");
    LocalBreak2Btn->SetBounds(214, 146, 170, 26);
    LocalBreak2Btn->Caption = "Aktuelle Datei abbrechen";
    LocalBreak2Btn->Cancel = true;
    LocalBreak2Btn->Enabled = false;
    auto* typesLabel = Make<TLabel>(c, "Label3");
    typesLabel->SetFont(TFontSpec{"MS Sans Serif", 8, true});
    typesLabel->SetBounds(12, 182, 200, 14);
    typesLabel->Caption = "Dateitypen:";
    ListBox2 = Make<TListBox>(c, "ListBox2");
    ListBox2->SetBounds(12, 198, 150, 104);
    ListBox2->Hint = "Herunterzuladende Dateitypen";
    // Without an options file the types start with today's web formats too.
    ListBox2->Items().Assign(DefaultFileTypes());
    NewFTBtn = Make<TButton>(c, "NewFTBtn");
    NewFTBtn->SetBounds(172, 198, 110, 26);
    NewFTBtn->Caption = "&Hinzufügen...";
    DelFTBtn = Make<TButton>(c, "DelFTBtn");
    DelFTBtn->SetBounds(172, 230, 110, 26);
    DelFTBtn->Caption = "&Löschen";

    // Tab 2: the found images.
    c = content[1];
    ListBox1 = Make<TListBox>(c, "ListBox1");
    ListBox1->SetBounds(10, 10, 262, 292);
    ListBox1->MultiSelect = true;
    // One row per picture however its address was written (raw, or escaped).
    ListBox1->Model().SetKeyIndex([](std::string_view s) { return UpperAscii(AddressKey(s)); });
    // Rows hold the addresses as fetched; people read them decoded.
    ListBox1->Model().SetDisplay([](std::string_view s) { return DisplayAddress(s); });
    struct {
        TButton** slot;
        const char* name;
        const char* caption;
        int y;
    } listButtons[] = {
        {&OpenLBtn, "OpenLBtn", "Bildliste ö&ffnen...", 10},  {&SaveLBtn, "SaveLBtn", "Bildliste s&peichern...", 40},
        {&MarkBtn, "MarkBtn", "&Alle markieren", 84},         {&NotBtn, "NotBtn", "&Nichts markieren", 114},
        {&ClearBtn, "ClearBtn", "&Alle Eintäge löschen", 158}, {&DelBtn, "DelBtn", "Markierte löschen", 188},
    };
    for (auto& b : listButtons) {
        *b.slot = Make<TButton>(c, b.name);
        (*b.slot)->SetBounds(280, b.y, 135, 26);
        (*b.slot)->Caption = b.caption;
    }

    // Tab 3: the download.
    c = content[2];
    auto* downText = Make<TLabel>(c, "Label4");
    downText->SetBounds(12, 10, 400, 14);
    downText->Caption = "Alle Bilder herunterladen und in einem  Verzeichnis speichern.";
    auto* dirLabel = Make<TLabel>(c, "Label5");
    dirLabel->SetBounds(12, 36, 200, 14);
    dirLabel->Caption = "Verzeichnis";
    DirectoryEdit1 = Make<TDirectoryEdit>(c, "DirectoryEdit1");
    DirectoryEdit1->SetBounds(12, 52, 396, 24);
    DownAllBtn = Make<TButton>(c, "DownAllBtn");
    DownAllBtn->SetBounds(12, 88, 140, 26);
    DownAllBtn->Caption = "Alle &herunterladen";
    DownBtn = Make<TButton>(c, "DownBtn");
    DownBtn->SetBounds(158, 88, 180, 26);
    DownBtn->Caption = "Markierte herunter&laden...";
    BreakBtn2 = Make<TButton>(c, "BreakBtn2");
    BreakBtn2->SetBounds(12, 120, 90, 26);
    BreakBtn2->Caption = "Abbrechen";
    BreakBtn2->Cancel = true;
    BreakBtn2->Enabled = false;
    BreakLocalBtn = Make<TButton>(c, "BreakLocalBtn");
    BreakLocalBtn->SetBounds(108, 120, 170, 26);
    BreakLocalBtn->Caption = "Aktuelles Bild abbrechen";
    BreakLocalBtn->Cancel = true;
    BreakLocalBtn->Enabled = false;
    PrefixCheck = Make<TRadioButton>(c, "PrefixCheck");
    PrefixCheck->SetBounds(12, 160, 400, 20);
    PrefixCheck->Caption = "Existierende Dateien mit Prefix (Zahlen) neu anlegen";
    PrefixCheck->Checked = true;
    OverJumpCheck = Make<TRadioButton>(c, "OverJumpCheck");
    OverJumpCheck->SetBounds(12, 182, 400, 20);
    OverJumpCheck->Caption = "Existierende Dateien überspringen";

    // Tab 4: the browser.
    c = content[3];
    auto* browseText = Make<TLabel>(c, "Label6");
    browseText->WordWrap = true;
    browseText->SetBounds(12, 10, 400, 32);
    browseText->Caption = "Die Bilder eines Verzeichnisses als Miniaturen sichten, betrachten und drucken.";
    BrowseBtn = Make<TButton>(c, "BrowseBtn");
    BrowseBtn->SetBounds(12, 46, 140, 26);
    BrowseBtn->Caption = "&Bilder sichten...";

    OpenDialog1.Filter = SaveDialog1.Filter = "Bildliste (*.bls)|*.bls";
    OpenDialog1.DefaultExt = SaveDialog1.DefaultExt = "bls";
    SaveDialog1.OverwritePrompt = true;

    PageControl2->SetActivePage(TabSheet1);
    AlignControls();
}

void TMainForm::BindEvents()
{
    OnCloseQuery = [this](bool& canClose) { FormCloseQuery(canClose); };
    StatusBar1->OnDrawPanel = [this](TStatusBar& bar, int panel, const TRect& r) { StatusBar1DrawPanel(bar, panel, r); };

    ueberbtn->OnClick = [this] { ueberbtnClick(); };
    ueberBtn2->OnClick = [this] { ueberbtnClick(); };
    ueberbtn->OnMouseDown = [this](TMouseButton b, TShiftState s, int x, int y) { ueberbtnMouseDown(b, s, x, y); };
    ueberbtn->OnMouseMove = [this](TShiftState s, int x, int y) { ueberbtnMouseMove(s, x, y); };
    ueberbtn->OnMouseUp = [this](TMouseButton b, TShiftState s, int x, int y) { ueberbtnMouseUp(b, s, x, y); };
    EndeBtn->OnClick = [this] { EndeBtnClick(); };
    EndeBtnDown->OnClick = [this] { EndeBtnClick(); };
    EndeBtn->OnMouseDown = [this](TMouseButton b, TShiftState s, int x, int y) { EndeBtnMouseDown(b, s, x, y); };
    EndeBtn->OnMouseMove = [this](TShiftState s, int x, int y) { EndeBtnMouseMove(s, x, y); };
    EndeBtn->OnMouseUp = [this](TMouseButton b, TShiftState s, int x, int y) { EndeBtnMouseUp(b, s, x, y); };

    URLEdit->OnChange = [this] { URLEditChange(); };
    // Enter after typing the address starts the scan; Click does nothing
    // while GoBtn is disabled (empty address, a job running).
    QObject::connect(URLEdit->LineEdit(), &QLineEdit::returnPressed, [this] { GoBtn->Click(); });
    // The proxy is often the last thing typed before the scan.
    QObject::connect(ProxyEdit->LineEdit(), &QLineEdit::returnPressed, [this] { GoBtn->Click(); });
    ProxyEdit->OnChange = [this] { ProxyEditChange(); };
    Autosaug->OnClick = [this] { AutosaugClick(); };
    ModernCheck->OnClick = [this] { ModernCheckClick(); };
    DirectoryEdit1->OnChange = [this] { DirectoryEdit1Change(); };

    GoBtn->OnClick = [this] { GoBtnClick(); };
    BreakBtn->OnClick = [this] { BreakBtnClick(); };
    BreakBtn2->OnClick = [this] { BreakBtnClick(); };
    LocalBreak2Btn->OnClick = [this] { BreakLocalBtnClick(); };
    BreakLocalBtn->OnClick = [this] { BreakLocalBtnClick(); };
    DownAllBtn->OnClick = [this] { DownAllBtnClick(); };
    DownBtn->OnClick = [this] { DownBtnClick(); };
    BrowseBtn->OnClick = [this] { BrowseBtnClick(); };
    SettingsBtn->OnClick = [this] { SettingsBtnClick(); };
    // Ctrl+Q closes through the close question, like the close box.
    auto* settingsKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma), Widget());
    QObject::connect(settingsKey, &QShortcut::activated, [this] { SettingsBtn->Click(); });
    auto* quitKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), Widget());
    QObject::connect(quitKey, &QShortcut::activated, [this] { Close(); });

    ClearBtn->OnClick = [this] { ClearBtnClick(); };
    DelBtn->OnClick = [this] { DelBtnClick(); };
    MarkBtn->OnClick = [this] { MarkBtnClick(); };
    NotBtn->OnClick = [this] { NotBtnClick(); };
    ListBox1->OnKeyDown = [this](Word& key, TShiftState shift) { ListBox1KeyDown(key, shift); };
    NewFTBtn->OnClick = [this] { NewFTBtnClick(); };
    DelFTBtn->OnClick = [this] { DelFTBtnClick(); };
    OpenLBtn->OnClick = [this] { OpenLBtnClick(); };
    SaveLBtn->OnClick = [this] { SaveLBtnClick(); };

    Memo1->OnLineAdded = [this](const std::string& line) {
        if (OnMemoLine)
            OnMemoLine(line);
    };
}

void TMainForm::FormCreate()
{
    ProgramDir = IncludeTrailingDelimiter(ExecutableDir());
    ListBoxChanged();
    DirectoryEdit1->InitialDir = ProgramDir;
    OpenOptions();
    // An address handed over on the command line (the menu entry's %u) waits
    // for the user's "Saugen". It is not a setting the user made, so it does
    // not replace the address options.dat keeps until a setting changes.
    if (setup_.StartAddress) {
        LoadingOptions = true;
        URLEdit->Text = *setup_.StartAddress;
        LoadingOptions = false;
    }
}

// ---------------------------------------------------------------------------
// Status bar: the overall progress

void TMainForm::StatusBar1DrawPanel(TStatusBar& StatusBar, int, const TRect& Rect)
{
    TCanvas& canvas = StatusBar.Canvas();
    canvas.Brush.Color = clNavy;
    canvas.Pen.Color = clNavy;
    canvas.Rectangle(Rect.Left, Rect.Top, Rect.Left + (Rect.Right - Rect.Left) * ProgressPercent / 100, Rect.Bottom);
    ProgressRect = Rect;
}

void TMainForm::SBarPaintMore()
{
    TCanvas& canvas = StatusBar1->Canvas();
    canvas.Brush.Color = clNavy;
    canvas.Pen.Color = clNavy;
    auto grow = [&](const TRect& r) {
        canvas.Rectangle(r.Left, r.Top, r.Left + (r.Right - r.Left) * ProgressPercent / 100, r.Bottom);
    };
    grow(ProgressRect);
    // Growing only the panel painted last would leave the other one showing an
    // old value until the next full repaint; both panels show the same bar.
    for (int i = 0; i < static_cast<int>(StatusBar1->Panels.size()); ++i) {
        const TRect r = StatusBar1->PanelRect(i);
        if (!(r == ProgressRect) && StatusBar1->Panels[static_cast<std::size_t>(i)].Style == TStatusPanelStyle::OwnerDraw)
            grow(r);
    }
}

void TMainForm::SetProStatus(int percent)
{
    // A bar wider than its panel would paint over the neighbour.
    percent = std::clamp(percent, 0, 100);
    if (percent < ProgressPercent) {
        ProgressPercent = percent;
        StatusBar1->Repaint();
    } else {
        ProgressPercent = percent;
        SBarPaintMore();
    }
}

// ---------------------------------------------------------------------------
// Image buttons

void TMainForm::PressImage(TImage* normal, TImage* pressed, bool& flag, bool down)
{
    pressed->Visible = down;
    normal->Visible = !down;
    flag = down;
}

void TMainForm::TrackImage(TImage* normal, TImage* pressed, bool flag, int x, int y)
{
    if (!flag)
        return;
    const bool inside = x >= 0 && x < normal->Width() && y >= 0 && y < normal->Height();
    pressed->Visible = inside;
    normal->Visible = !inside;
}

void TMainForm::ueberbtnMouseDown(TMouseButton, TShiftState, int, int)
{
    PressImage(ueberbtn, ueberBtn2, InfoPressed, true);
}

void TMainForm::ueberbtnMouseMove(TShiftState, int X, int Y)
{
    TrackImage(ueberbtn, ueberBtn2, InfoPressed, X, Y);
}

void TMainForm::ueberbtnMouseUp(TMouseButton, TShiftState, int, int)
{
    PressImage(ueberbtn, ueberBtn2, InfoPressed, false);
}

void TMainForm::ueberbtnClick()
{
    PressImage(ueberbtn, ueberBtn2, InfoPressed, false);
    if (AboutBox)
        AboutBox->ShowModal();
}

void TMainForm::EndeBtnMouseDown(TMouseButton, TShiftState, int, int)
{
    PressImage(EndeBtn, EndeBtnDown, ExitPressed, true);
}

void TMainForm::EndeBtnMouseMove(TShiftState, int X, int Y)
{
    TrackImage(EndeBtn, EndeBtnDown, ExitPressed, X, Y);
}

void TMainForm::EndeBtnMouseUp(TMouseButton, TShiftState, int, int)
{
    PressImage(EndeBtn, EndeBtnDown, ExitPressed, false);
}

void TMainForm::EndeBtnClick()
{
    PressImage(EndeBtn, EndeBtnDown, ExitPressed, false);
    Close();
}

// ---------------------------------------------------------------------------
// Closing, edits, browser

void TMainForm::FormCloseQuery(bool& CanClose)
{
    const TModalResult answer =
        MessageDlg("Hiermit beenden Sie das Programm! Alle nicht gespeicherten Daten gehen verloren!",
                   "Programm beenden", TMsgIcon::Information, mbOK | mbCancel);
    CanClose = answer == mrOk;
    // The request under way ends too, as with "Abbrechen": a stalled server
    // would otherwise keep the job, and with it the program, alive unseen.
    if (CanClose)
        BreakBtnClick();
}

void TMainForm::URLEditChange()
{
    UpdateGoBtn();
    SaveOptions();
}

void TMainForm::ProxyEditChange()
{
    SaveOptions();
}

void TMainForm::AutosaugClick()
{
    SaveOptions();
}

void TMainForm::DirectoryEdit1Change()
{
    SaveOptions();
}

void TMainForm::BrowseBtnClick()
{
    if (!BrowserForm)
        return;
    // The browser takes up the folder selected in its own tree (a pass starts
    // or restarts there); the download folder is not handed over.
    BrowserForm->JamShellTree1Change();
    BrowserForm->ShowModal();
}

void TMainForm::AddMemoLine(const std::string& line)
{
    Memo1->Lines().Add(line);
}

// ---------------------------------------------------------------------------
// Window states of the jobs

void TMainForm::UpdateGoBtn()
{
    // Jobs share the HTTP client and the parser: while one runs, none may start.
    GoBtn->Enabled = !URLEdit->Text().empty() && !JobRunning;
}

void TMainForm::SetScanState()
{
    JobRunning = true;
    TabSheet3->TabVisible = false;
    TabSheet4->TabVisible = false;
    // The settings reach the client and the bounds the job is using.
    for (TButton* b : {DownAllBtn, DownBtn, ClearBtn, DelBtn, MarkBtn, NotBtn, GoBtn, BrowseBtn, SettingsBtn})
        b->Enabled = false;
    BreakBtn->Enabled = true;
    LocalBreak2Btn->Enabled = true;
}

void TMainForm::SetDownloadState()
{
    JobRunning = true;
    TabSheet1->TabVisible = false;
    TabSheet2->TabVisible = false;
    TabSheet4->TabVisible = false;
    for (TButton* b : {DownAllBtn, DownBtn, ClearBtn, DelBtn, MarkBtn, NotBtn, GoBtn, BrowseBtn, SettingsBtn})
        b->Enabled = false;
    BreakBtn2->Enabled = true;
    BreakLocalBtn->Enabled = true;
}

void TMainForm::SetIdleState()
{
    JobRunning = false;
    ListBoxChanged();
    UpdateGoBtn();
    BrowseBtn->Enabled = true;
    SettingsBtn->Enabled = true;
    for (TButton* b : {BreakBtn, LocalBreak2Btn, BreakBtn2, BreakLocalBtn})
        b->Enabled = false;
    for (TTabSheet* t : {TabSheet1, TabSheet2, TabSheet3, TabSheet4})
        t->TabVisible = true;
    ProgressBar1->Position = 0;
    ClearJobStatus();
}
