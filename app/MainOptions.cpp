// TMainForm: options.dat and the image-list files.
#include "app/MainUnit.h"

// system
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

// ours
#include "app/MainFiles.h"
#include "engine/PageAddress.h"
#include "base/AsciiCase.h"
#include "ui/Responder.h"
#include "ui/Settings.h"
#include "ui/StringListModel.h"


// ---------------------------------------------------------------------------
// TMainForm

std::string TMainForm::OptionsReadPath() const
{
    if (!setup_.UseOptionsFile)
        return {};
    if (!setup_.OptionsDir.empty())
        return IncludeTrailingDelimiter(setup_.OptionsDir) + "options.dat";
    return OptionsFolderForReading(ProgramDir) + "options.dat";
}

std::string TMainForm::OptionsWritePath() const
{
    if (!setup_.UseOptionsFile)
        return {};
    if (!setup_.OptionsDir.empty())
        return IncludeTrailingDelimiter(setup_.OptionsDir) + "options.dat";
    const std::string dir = OptionsFolderForWriting(ProgramDir);
    return dir.empty() ? std::string() : dir + "options.dat";
}

namespace {

constexpr const char* kModernKey = "Scan/ModernMarkup";

} // namespace

// The check box lives beside options.dat's settings but outside its layout:
// in the user's settings, or in an INI file in the folder chosen for
// options.dat (tests, portable set-ups).
std::string TMainForm::ModernSettingsFile() const
{
    return setup_.OptionsDir.empty() ? std::string() : IncludeTrailingDelimiter(setup_.OptionsDir) + "weblumifang.ini";
}

void TMainForm::ModernCheckClick()
{
    if (LoadingOptions || !setup_.UseOptionsFile)
        return;
    WriteUserFlag(ModernSettingsFile(), kModernKey, ModernCheck->Checked());
}

void TMainForm::SaveOptions()
{
    if (LoadingOptions)
        return;
    const std::string path = OptionsWritePath();
    if (path.empty())
        return;
    // A text the layout cannot hold is never cut or altered: its field keeps
    // the value stored last, and the other fields are saved all the same.
    auto fitting = [](const std::string& now, const std::string& stored) {
        return FitsOptionsText(now) ? now : stored;
    };
    TOptionsRecord o;
    o.AutoMode = Autosaug->Checked();
    o.Address = fitting(URLEdit->Text(), StoredOptions.Address);
    o.Proxy = fitting(ProxyEdit->Text(), StoredOptions.Proxy);
    o.TargetDir = fitting(DirectoryEdit1->Text(), StoredOptions.TargetDir);
    o.FileTypes = FileTypeList().ToVector();
    if (!std::all_of(o.FileTypes.begin(), o.FileTypes.end(), FitsOptionsText))
        o.FileTypes = StoredOptions.FileTypes;
    if (auto bytes = EncodeOptions(o); bytes && WriteFileAtomically(path, *bytes))
        StoredOptions = std::move(o);
}

void TMainForm::RememberStoredOptions()
{
    StoredOptions.AutoMode = Autosaug->Checked();
    StoredOptions.Address = URLEdit->Text();
    StoredOptions.Proxy = ProxyEdit->Text();
    StoredOptions.TargetDir = DirectoryEdit1->Text();
    StoredOptions.FileTypes = FileTypeList().ToVector();
}

void TMainForm::OpenOptions()
{
    LoadingOptions = true;
    const std::string path = OptionsReadPath();
    std::string data;
    if (!path.empty() && ReadWholeFile(path, kMaxOptionsFileBytes, data)) {
        const TDecodedOptions d = DecodeOptions(data);
        if (d.AutoMode)
            Autosaug->Checked = *d.AutoMode;
        if (d.Address)
            URLEdit->Text = *d.Address;
        if (d.Proxy)
            ProxyEdit->Text = *d.Proxy;
        if (d.TargetDir)
            DirectoryEdit1->Text = *d.TargetDir;
        if (d.FileTypes)
            FileTypeList().Assign(*d.FileTypes);
    }
    if (setup_.UseOptionsFile)
        ModernCheck->Checked = ReadUserFlag(ModernSettingsFile(), kModernKey, false);
    // The window now shows what the file holds (or the defaults it lacks).
    RememberStoredOptions();
    LoadingOptions = false;
}

void TMainForm::SaveLBtnClick()
{
    if (!SaveDialog1.Execute())
        return;
    if (!WriteFileAtomically(SaveDialog1.FileName, JoinListLines(FoundImageList().ToVector())))
        MessageDlg("Konnte Datei nicht erstellen...", "Fehler...", TMsgIcon::Error, mbOK);
}

void TMainForm::OpenLBtnClick()
{
    if (!OpenDialog1.Execute())
        return;
    std::string data;
    if (!ReadListFile(OpenDialog1.FileName, data)) {
        MessageDlg("Konnte Datei nicht öffnen...", "Fehler...", TMsgIcon::Error, mbOK);
        return;
    }
    TStringListModel& model = ListBox1->Model();
    model.BeginUpdate();
    // Lists of earlier versions hold raw bytes; formed as a scan forms them,
    // they fetch cleanly and match the rows a scan finds.
    ForEachListLine(data, [&](std::string_view line) { model.AppendNewKey(EncodeAddress(line)); });
    model.EndUpdate();
    ListBoxChanged();
}
