#include "app/SettingsDialog.h"

// system
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <unistd.h>

// Qt
#include <QSettings>

// ours
#include "app/MainUnit.h"
#include "engine/PictureChoices.h"
#include "ui/Dialogs.h"
#include "ui/Responder.h"

namespace {

constexpr double kMaxIdleSeconds = 86400;

// A whole decimal number within [low, high], blanks around allowed.
bool ParseWhole(std::string text, std::uint64_t low, std::uint64_t high, std::uint64_t& out)
{
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    while (!text.empty() && text.front() == ' ')
        text.erase(0, 1);
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const std::uint64_t v = std::strtoull(text.c_str(), nullptr, 10);
    if (v < low || v > high)
        return false;
    out = v;
    return true;
}

// Seconds, with a decimal point or comma (German keyboards type a comma).
bool ParseSeconds(std::string text, double& out)
{
    for (char& c : text)
        if (c == ',')
            c = '.';
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    while (!text.empty() && text.front() == ' ')
        text.erase(0, 1);
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789.") != std::string::npos)
        return false;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == nullptr || *end != '\0' || !std::isfinite(v) || v < 0 || v > kMaxIdleSeconds)
        return false;
    out = v;
    return true;
}

std::string SecondsText(double v)
{
    if (v == std::floor(v))
        return std::to_string(static_cast<long long>(v));
    std::string s = std::to_string(v);
    while (!s.empty() && s.back() == '0')
        s.pop_back();
    return s;
}

std::string Trimmed(std::string text)
{
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    while (!text.empty() && text.front() == ' ')
        text.erase(0, 1);
    return text;
}

// "400x400", or empty (and "0x0") for no minimum; "×" as the label writes it.
bool ParseSizeField(std::string text, std::uint32_t& width, std::uint32_t& height)
{
    text = Trimmed(std::move(text));
    const std::string times = "\xC3\x97";
    if (const auto at = text.find(times); at != std::string::npos)
        text.replace(at, times.size(), "x");
    std::string plain;
    for (char c : text)
        if (c != ' ')
            plain += c;
    if (plain.empty()) {
        width = height = 0;
        return true;
    }
    return ParseMinSize(plain, width, height);
}

// Bytes per second, k or m suffix; empty or 0 for no limit.
bool ParseRateField(std::string text, std::uint64_t& out)
{
    text = Trimmed(std::move(text));
    if (text.empty() || text == "0") {
        out = 0;
        return true;
    }
    const std::optional<std::uint64_t> rate = ParseRate(text);
    if (!rate)
        return false;
    out = *rate;
    return true;
}

std::string RateText(std::uint64_t rate)
{
    if (rate == 0)
        return "0";
    if (rate % (1024 * 1024) == 0)
        return std::to_string(rate / (1024 * 1024)) + "m";
    if (rate % 1024 == 0)
        return std::to_string(rate / 1024) + "k";
    return std::to_string(rate);
}

// A user agent goes into a header line as it is: printable ASCII only.
bool UsableAgent(const std::string& text)
{
    if (text.size() > 512)
        return false;
    for (unsigned char c : text)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

constexpr std::uint64_t kMaxMinBytes = std::uint64_t(1) << 40;

}  // namespace

TSettingsForm::TSettingsForm() : TForm("SettingsForm")
{
    Caption = "Einstellungen";
    DialogBorder = true;
    // Two columns: stacked, the fields would not fit a 768-pixel-high screen.
    ClientWidth = 920;
    ClientHeight = 420;

    auto label = [this](const char* name, const char* caption, int x, int y, int w) {
        auto* l = Make<TLabel>(this, name);
        l->SetBounds(x, y, w, 16);
        l->Caption = caption;
        return l;
    };
    auto* netHead = label("NetLabel", "Netzwerk", 12, 10, 200);
    netHead->SetFont(TFontSpec{"MS Sans Serif", 8, true});
    label("ConnectionsLabel", "Gleichzeitige Verbindungen (1 bis 16):", 12, 36, 300);
    ConnectionsEdit = Make<TEdit>(this, "ConnectionsEdit");
    ConnectionsEdit->SetBounds(340, 33, 108, 22);
    KeepAliveCheck = Make<TCheckBox>(this, "KeepAliveCheck");
    KeepAliveCheck->SetBounds(12, 60, 436, 20);
    KeepAliveCheck->Caption = "Verbindungen für weitere Anfragen offen halten (Keep-Alive)";
    label("IdleLabel", "Abbruch nach Sekunden ohne Daten (0 = nie):", 12, 88, 320);
    IdleEdit = Make<TEdit>(this, "IdleEdit");
    IdleEdit->SetBounds(340, 85, 108, 22);
    label("CaFileLabel", "Zusätzliche Zertifikate (CA-Datei, PEM):", 12, 114, 400);
    CaFileEdit = Make<TEdit>(this, "CaFileEdit");
    CaFileEdit->SetBounds(12, 132, 400, 22);
    CaFileBtn = Make<TButton>(this, "CaFileBtn");
    CaFileBtn->SetBounds(418, 131, 30, 24);
    CaFileBtn->Caption = "...";
    CaFileBtn->Hint = "CA-Datei auswählen";
    NoCheckCertCheck = Make<TCheckBox>(this, "NoCheckCertCheck");
    NoCheckCertCheck->SetBounds(12, 162, 436, 20);
    NoCheckCertCheck->Caption = "Zertifikate nicht prüfen";
    NoCheckWarning = Make<TLabel>(this, "NoCheckWarning");
    NoCheckWarning->WordWrap = true;
    NoCheckWarning->SetBounds(30, 184, 418, 32);
    NoCheckWarning->SetFont(TFontSpec{"MS Sans Serif", 8, false, clMaroon});
    NoCheckWarning->Caption =
        "Warnung: Ohne Prüfung kann sich jeder Rechner unterwegs als der gewünschte Server ausgeben.";

    auto* scanHead = label("ScanLabel", "Suche", 12, 226, 200);
    scanHead->SetFont(TFontSpec{"MS Sans Serif", 8, true});
    label("MaxPagesLabel", "Höchstens so viele Seiten holen (0 = alle):", 12, 252, 320);
    MaxPagesEdit = Make<TEdit>(this, "MaxPagesEdit");
    MaxPagesEdit->SetBounds(340, 249, 108, 22);
    label("MaxLevelLabel", "Links höchstens so tief verfolgen (0 = beliebig):", 12, 278, 320);
    MaxLevelEdit = Make<TEdit>(this, "MaxLevelEdit");
    MaxLevelEdit->SetBounds(340, 275, 108, 22);
    ModernBox = Make<TCheckBox>(this, "ModernBox");
    ModernBox->SetBounds(12, 304, 436, 20);
    ModernBox->Caption = "Moderne Bildangaben auswerten (srcset, data-src, picture)";
    NoParentCheck = Make<TCheckBox>(this, "NoParentCheck");
    NoParentCheck->SetBounds(12, 326, 436, 20);
    NoParentCheck->Caption = "Nur unterhalb der Startadresse";

    constexpr int c = 472;  // the second column
    auto* picHead = label("PicturesLabel", "Bilder", c, 10, 200);
    picHead->SetFont(TFontSpec{"MS Sans Serif", 8, true});
    SkipThumbnailsCheck = Make<TCheckBox>(this, "SkipThumbnailsCheck");
    SkipThumbnailsCheck->SetBounds(c, 34, 436, 20);
    SkipThumbnailsCheck->Caption = "Nur große Bilder statt Vorschaubildern";
    label("MinSizeLabel", "Mindestgröße in Pixeln (B × H, leer = keine):", c, 62, 320);
    MinSizeEdit = Make<TEdit>(this, "MinSizeEdit");
    MinSizeEdit->SetBounds(c + 328, 59, 108, 22);
    label("MinBytesLabel", "Mindestgröße in Bytes (0 = keine):", c, 88, 320);
    MinBytesEdit = Make<TEdit>(this, "MinBytesEdit");
    MinBytesEdit->SetBounds(c + 328, 85, 108, 22);
    SkipDuplicatesCheck = Make<TCheckBox>(this, "SkipDuplicatesCheck");
    SkipDuplicatesCheck->SetBounds(c, 112, 436, 20);
    SkipDuplicatesCheck->Caption = "Doppelte Bilder nicht speichern";

    auto* politeHead = label("PoliteLabel", "Höflich laden", c, 142, 200);
    politeHead->SetFont(TFontSpec{"MS Sans Serif", 8, true});
    label("WaitLabel", "Sekunden zwischen Anfragen an einen Server:", c, 168, 320);
    WaitEdit = Make<TEdit>(this, "WaitEdit");
    WaitEdit->SetBounds(c + 328, 165, 108, 22);
    RandomWaitCheck = Make<TCheckBox>(this, "RandomWaitCheck");
    RandomWaitCheck->SetBounds(c, 192, 436, 20);
    RandomWaitCheck->Caption = "Wartezeit zufällig 0,5- bis 1,5-fach";
    label("LimitRateLabel", "Höchstens Bytes je Sekunde (k, m; 0 = frei):", c, 220, 320);
    LimitRateEdit = Make<TEdit>(this, "LimitRateEdit");
    LimitRateEdit->SetBounds(c + 328, 217, 108, 22);
    RobotsCheck = Make<TCheckBox>(this, "RobotsCheck");
    RobotsCheck->SetBounds(c, 244, 436, 20);
    RobotsCheck->Caption = "robots.txt der Server beachten";
    label("UserAgentLabel", "Programmkennung (User-Agent, leer = Standard):", c, 270, 436);
    UserAgentEdit = Make<TEdit>(this, "UserAgentEdit");
    UserAgentEdit->SetBounds(c, 288, 436, 22);
    label("CookieFileLabel", "Cookie-Datei (cookies.txt):", c, 316, 436);
    CookieFileEdit = Make<TEdit>(this, "CookieFileEdit");
    CookieFileEdit->SetBounds(c, 334, 400, 22);
    CookieFileBtn = Make<TButton>(this, "CookieFileBtn");
    CookieFileBtn->SetBounds(c + 406, 333, 30, 24);
    CookieFileBtn->Caption = "...";
    CookieFileBtn->Hint = "Cookie-Datei auswählen";

    auto* bevel = Make<TBevel>(this, "Bevel1");
    bevel->SetBounds(8, 372, 904, 2);
    OkBtn = Make<TButton>(this, "OkBtn");
    OkBtn->SetBounds(706, 384, 97, 26);
    OkBtn->Caption = "OK";
    OkBtn->Default = true;
    CancelBtn = Make<TButton>(this, "CancelBtn");
    CancelBtn->SetBounds(811, 384, 97, 26);
    CancelBtn->Caption = "Abbrechen";
    CancelBtn->Cancel = true;
    CancelBtn->ModalResult = mrCancel;

    OkBtn->OnClick = [this] { OkBtnClick(); };
    CaFileBtn->OnClick = [this] { CaFileBtnClick(); };
    CookieFileBtn->OnClick = [this] { CookieFileBtnClick(); };
    NoCheckCertCheck->OnClick = [this] { NoCheckCertCheckClick(); };
    NoCheckCertCheckClick();
}

void TSettingsForm::Load(TMainForm& form)
{
    Target = &form;
    ConnectionsEdit->Text = std::to_string(form.Connections);
    KeepAliveCheck->Checked = form.HttpCli1.KeepAlive;
    IdleEdit->Text = SecondsText(form.HttpCli1.IdleTimeout);
    CaFileEdit->Text = form.HttpCli1.CaFile;
    NoCheckCertCheck->Checked = form.HttpCli1.NoCheckCertificate;
    MaxPagesEdit->Text = std::to_string(form.MaxPages);
    MaxLevelEdit->Text = std::to_string(form.MaxLevel);
    ModernBox->Checked = form.ModernCheck->Checked();
    NoParentCheck->Checked = form.NoParent;
    const TPictureChoices& c = form.Choices;
    SkipThumbnailsCheck->Checked = c.SkipThumbnails;
    MinSizeEdit->Text = c.MinWidth == 0 && c.MinHeight == 0
                            ? std::string()
                            : std::to_string(c.MinWidth) + "x" + std::to_string(c.MinHeight);
    MinBytesEdit->Text = std::to_string(c.MinBytes);
    SkipDuplicatesCheck->Checked = c.SkipDuplicates;
    WaitEdit->Text = SecondsText(static_cast<double>(c.WaitMs) / 1000);
    RandomWaitCheck->Checked = c.RandomWait;
    LimitRateEdit->Text = RateText(c.LimitRate);
    RobotsCheck->Checked = c.Robots;
    UserAgentEdit->Text = c.UserAgent == THttpCli::kDefaultAgent ? std::string() : c.UserAgent;
    // The file is named by the settings only; the window keeps its cookies.
    CookieFileEdit->Text =
        QSettings("Quenbrik", "Web Lumifang").value("Network/CookieFile", QString()).toString().toStdString();
    NoCheckCertCheckClick();
}

void TSettingsForm::CookieFileBtnClick()
{
    TOpenDialog dialog;
    dialog.Title = "Cookie-Datei auswählen";
    dialog.Filter = "Cookie-Dateien (*.txt)|*.txt|Alle Dateien (*)|*";
    if (dialog.Execute())
        CookieFileEdit->Text = dialog.FileName;
}

void TSettingsForm::NoCheckCertCheckClick()
{
    // The warning stands beside the box only while it is ticked.
    NoCheckWarning->Visible = NoCheckCertCheck->Checked();
}

void TSettingsForm::CaFileBtnClick()
{
    TOpenDialog dialog;
    dialog.Title = "CA-Datei auswählen";
    dialog.Filter = "Zertifikate (*.pem;*.crt)|*.pem;*.crt|Alle Dateien (*)|*";
    if (dialog.Execute())
        CaFileEdit->Text = dialog.FileName;
}

std::string TSettingsForm::Check()
{
    std::uint64_t whole = 0;
    double seconds = 0;
    if (!ParseWhole(ConnectionsEdit->Text(), 1, TMainForm::kMaxConnections, whole)) {
        ConnectionsEdit->SetFocus();
        return "Gleichzeitige Verbindungen: bitte eine Zahl von 1 bis 16 angeben.";
    }
    if (!ParseSeconds(IdleEdit->Text(), seconds)) {
        IdleEdit->SetFocus();
        return "Abbruch ohne Daten: bitte Sekunden von 0 bis 86400 angeben.";
    }
    const std::string ca = CaFileEdit->Text();
    if (!ca.empty() && ::access(ca.c_str(), R_OK) != 0) {
        CaFileEdit->SetFocus();
        return "Die CA-Datei " + ca + " kann nicht gelesen werden.";
    }
    if (!ParseWhole(MaxPagesEdit->Text(), 0, 0xFFFFFFFFu, whole)) {
        MaxPagesEdit->SetFocus();
        return "Seitenzahl: bitte eine ganze Zahl ab 0 angeben (0 = alle).";
    }
    if (!ParseWhole(MaxLevelEdit->Text(), 0, 0xFFFFFFFFu, whole)) {
        MaxLevelEdit->SetFocus();
        return "Linktiefe: bitte eine ganze Zahl ab 0 angeben (0 = beliebig).";
    }
    std::uint32_t width = 0, height = 0;
    if (!ParseSizeField(MinSizeEdit->Text(), width, height)) {
        MinSizeEdit->SetFocus();
        return "Mindestgröße: bitte Breite x Höhe in Pixeln angeben, etwa 400x300 (leer = keine).";
    }
    if (!ParseWhole(MinBytesEdit->Text(), 0, kMaxMinBytes, whole)) {
        MinBytesEdit->SetFocus();
        return "Mindestgröße in Bytes: bitte eine ganze Zahl ab 0 angeben (0 = keine).";
    }
    if (!ParseSeconds(WaitEdit->Text(), seconds)) {
        WaitEdit->SetFocus();
        return "Wartezeit: bitte Sekunden von 0 bis 86400 angeben.";
    }
    std::uint64_t rate = 0;
    if (!ParseRateField(LimitRateEdit->Text(), rate)) {
        LimitRateEdit->SetFocus();
        return "Bytes je Sekunde: bitte eine Zahl angeben, auch mit k oder m (0 = frei).";
    }
    if (!UsableAgent(UserAgentEdit->Text())) {
        UserAgentEdit->SetFocus();
        return "Programmkennung: bitte nur druckbare ASCII-Zeichen, höchstens 512.";
    }
    const std::string cookieFile = Trimmed(CookieFileEdit->Text());
    cookies_ = TCookieJar();
    std::string error;
    if (!cookieFile.empty() && !LoadCookieFile(cookieFile, cookies_, error)) {
        CookieFileEdit->SetFocus();
        return "Die Cookie-Datei " + cookieFile + " kann nicht gelesen werden.";
    }
    return std::string();
}

void TSettingsForm::OkBtnClick()
{
    const std::string problem = Check();
    if (!problem.empty()) {
        // The dialog stays open with the field to correct.
        MessageDlg(problem, "Fehler...", TMsgIcon::Error, mbOK);
        return;
    }
    std::uint64_t connections = 0, maxPages = 0, maxLevel = 0;
    double idle = 0;
    ParseWhole(ConnectionsEdit->Text(), 1, TMainForm::kMaxConnections, connections);
    ParseSeconds(IdleEdit->Text(), idle);
    ParseWhole(MaxPagesEdit->Text(), 0, 0xFFFFFFFFu, maxPages);
    ParseWhole(MaxLevelEdit->Text(), 0, 0xFFFFFFFFu, maxLevel);
    std::uint32_t minWidth = 0, minHeight = 0;
    std::uint64_t minBytes = 0, rate = 0;
    double wait = 0;
    ParseSizeField(MinSizeEdit->Text(), minWidth, minHeight);
    ParseWhole(MinBytesEdit->Text(), 0, kMaxMinBytes, minBytes);
    ParseSeconds(WaitEdit->Text(), wait);
    ParseRateField(LimitRateEdit->Text(), rate);
    const std::string agent = UserAgentEdit->Text();
    const std::string cookieFile = Trimmed(CookieFileEdit->Text());
    {
        QSettings settings("Quenbrik", "Web Lumifang");
        settings.setValue("Network/Connections", static_cast<int>(connections));
        settings.setValue("Network/KeepAlive", KeepAliveCheck->Checked());
        settings.setValue("Network/IdleTimeout", idle);
        settings.setValue("Network/CaFile", QString::fromStdString(CaFileEdit->Text()));
        settings.setValue("Network/NoCheckCertificate", NoCheckCertCheck->Checked());
        settings.setValue("Scan/MaxPages", static_cast<qulonglong>(maxPages));
        settings.setValue("Scan/MaxLevel", static_cast<qulonglong>(maxLevel));
        settings.setValue("Scan/NoParent", NoParentCheck->Checked());
        settings.setValue("Scan/SkipThumbnails", SkipThumbnailsCheck->Checked());
        settings.setValue("Download/MinWidth", minWidth);
        settings.setValue("Download/MinHeight", minHeight);
        settings.setValue("Download/MinBytes", static_cast<qulonglong>(minBytes));
        settings.setValue("Download/SkipDuplicates", SkipDuplicatesCheck->Checked());
        settings.setValue("Network/Wait", wait);
        settings.setValue("Network/RandomWait", RandomWaitCheck->Checked());
        settings.setValue("Network/LimitRate", static_cast<qulonglong>(rate));
        settings.setValue("Scan/Robots", RobotsCheck->Checked());
        settings.setValue("Network/UserAgent", QString::fromStdString(agent));
        settings.setValue("Network/CookieFile", QString::fromStdString(cookieFile));
    }
    if (Target) {
        TMainForm& f = *Target;
        f.Connections = static_cast<int>(connections);
        f.HttpCli1.KeepAlive = KeepAliveCheck->Checked();
        f.HttpCli1.IdleTimeout = idle;
        f.HttpCli1.CaFile = CaFileEdit->Text();
        f.HttpCli1.NoCheckCertificate = NoCheckCertCheck->Checked();
        f.MaxPages = static_cast<std::uint32_t>(maxPages);
        f.MaxLevel = static_cast<std::uint32_t>(maxLevel);
        f.NoParent = NoParentCheck->Checked();
        // The window's own box keeps this one where it always was.
        f.ModernCheck->Checked = ModernBox->Checked();
        TPictureChoices& c = f.Choices;
        c.SkipThumbnails = SkipThumbnailsCheck->Checked();
        c.MinWidth = minWidth;
        c.MinHeight = minHeight;
        c.MinBytes = minBytes;
        c.SkipDuplicates = SkipDuplicatesCheck->Checked();
        c.WaitMs = static_cast<std::int64_t>(wait * 1000);
        c.RandomWait = RandomWaitCheck->Checked();
        c.LimitRate = rate;
        c.Robots = RobotsCheck->Checked();
        c.UserAgent = agent;
        c.Cookies = std::move(cookies_);
        // An emptied field brings the client's own agent back.
        f.HttpCli1.Agent = std::string(THttpCli::kDefaultAgent);
        f.Engine.UseChoices();
    }
    ModalResult = mrOk;
}

void TMainForm::SettingsBtnClick()
{
    if (JobRunning)
        return;
    TSettingsForm dialog;
    dialog.Load(*this);
    dialog.ShowModal();
}
