#include "app/SettingsDialog.h"

// system
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

// Qt
#include <QSettings>

// ours
#include "app/MainUnit.h"
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

}  // namespace

TSettingsForm::TSettingsForm() : TForm("SettingsForm")
{
    Caption = "Einstellungen";
    DialogBorder = true;
    ClientWidth = 460;
    ClientHeight = 404;

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

    auto* bevel = Make<TBevel>(this, "Bevel1");
    bevel->SetBounds(8, 356, 444, 2);
    OkBtn = Make<TButton>(this, "OkBtn");
    OkBtn->SetBounds(246, 368, 97, 26);
    OkBtn->Caption = "OK";
    OkBtn->Default = true;
    CancelBtn = Make<TButton>(this, "CancelBtn");
    CancelBtn->SetBounds(351, 368, 97, 26);
    CancelBtn->Caption = "Abbrechen";
    CancelBtn->Cancel = true;
    CancelBtn->ModalResult = mrCancel;

    OkBtn->OnClick = [this] { OkBtnClick(); };
    CaFileBtn->OnClick = [this] { CaFileBtnClick(); };
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
    NoCheckCertCheckClick();
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
