// The download engine: the two download buttons and DownloadList, which saves
// one address after the other into the target folder without ever
// overwriting a file.
#include "app/MainUnit.h"

// system
#include <cstdint>
#include <string>
#include <vector>

// ours
#include "app/DownloadNames.h"

std::string TMainForm::TargetDir() const
{
    return dlnames::TargetDirOf(DirectoryEdit1->Text());
}

std::string TMainForm::UrlFileName(const std::string& Address)
{
    return dlnames::UrlFileName(Address);
}

void TMainForm::DownAllBtnClick()
{
    if (JobRunning)
        return;
    std::vector<std::string> work = FoundImageList().ToVector();
    if (!work.empty())
        DownloadList(work);
}

void TMainForm::DownBtnClick()
{
    if (JobRunning)
        return;
    const std::vector<bool> marked = ListBox1->SelectionFlags();
    TStrings& list = FoundImageList();
    std::vector<std::string> work;
    for (int i = 0; i < list.Count(); ++i)
        if (static_cast<std::size_t>(i) < marked.size() && marked[static_cast<std::size_t>(i)])
            work.push_back(list.Get(i));
    if (!work.empty())
        DownloadList(work);
}

namespace {

// Puts the window back however the run is left.
class TDownloadWindowGuard {
public:
    explicit TDownloadWindowGuard(TMainForm& f) : f_(f) {}
    ~TDownloadWindowGuard() { f_.SetIdleState(); }
    TDownloadWindowGuard(const TDownloadWindowGuard&) = delete;
    TDownloadWindowGuard& operator=(const TDownloadWindowGuard&) = delete;

private:
    TMainForm& f_;
};

}  // namespace

bool TMainForm::DownloadOne(const std::string& Address, const dlnames::TTargetFolder& Folder,
                            const std::string& SaveName, bool SeenFree)
{
    const std::string createFailed = "Fehler: Konnte Datei " + SaveName + " nicht erstellen/herunterladen...";
    dlnames::TPendingFile file;
    if (!file.Open(Folder, SaveName, SeenFree)) {
        ++Failures.Local;
        AddMemoLine(createFailed);
        return false;
    }
    bool ok = true;
    {
        dlnames::TDownloadFileStream stream(file.Fd());
        try {
            HttpCli1.URL = Address;
            HttpCli1.Proxy = ProxyEdit->Text();
            HttpCli1.ProxyPort = "80";
            HttpCli1.BodyStream = &stream;
            HttpCli1.Get();
        } catch (...) {
            ok = false;
        }
        HttpCli1.BodyStream = nullptr;
        if (stream.Failed())
            ok = false;
    }
    if (ok) {
        switch (file.Publish()) {
        case dlnames::TPendingFile::TPublish::Done:
            return true;
        case dlnames::TPendingFile::TPublish::NameTaken:
            // Someone else's file took the name meanwhile: it stays as it is.
            ++Failures.Local;
            AddMemoLine(createFailed);
            return false;
        case dlnames::TPendingFile::TPublish::WriteFailed:
            ++Failures.Local;
            break;  // a failed close: the data may not be on disk
        }
    }
    AddMemoLine("Fehler: Konnte Datei " + SaveName + " nicht herunterladen...");
    if (!file.Discard())
        AddMemoLine(dlnames::DeleteFailedLine(SaveName));
    return false;
}

void TMainForm::DownloadList(const std::vector<std::string>& WorkList)
{
    if (JobRunning)
        return;
    const std::size_t n = WorkList.size();
    SetDownloadState();
    TDownloadWindowGuard restore(*this);
    SetProStatus(0);

    if (DirectoryEdit1->Text().empty()) {
        MessageDlg("Sie müssen zuerst ein Ziel-Verzeichnis auswählen!", "Fehler: Kein Verzeichnis", TMsgIcon::Error,
                   mbOK);
    } else {
        dlnames::TTargetFolder folder(DownloadFileWays);
        for (std::size_t i = 0; i < n; ++i) {
            const std::string& address = WorkList[i];
            const std::string name = UrlFileName(address);
            // Read again for every address: the folder field and the policy
            // buttons stay usable during a run.
            const std::string dir = TargetDir();
            std::string saveName = name;
            AddMemoLine("Lade Datei " + std::to_string(i + 1) + " von " + std::to_string(n) + " herunter (" + name +
                        ")...");
            folder.Use(dir);
            bool nameFree = false;
            const bool exists = dlnames::IsUsableFileName(name) && folder.RegularFileExists(name, &nameFree);
            if (exists && OverJumpCheck->Checked()) {
                AddMemoLine("Die Datei " + name + " existiert schon, wird übersprungen...");
            } else {
                if (exists)
                    saveName = dlnames::FirstFreeNumberedName(dir, name);
                if (saveName != name)
                    AddMemoLine("Die Datei " + name + " existiert schon, speichere unter " + saveName + "...");
                DownloadOne(address, folder, saveName, saveName == name && nameFree);
            }
            // Drawing the same bar again changes nothing; long runs skip it.
            const int percent = static_cast<int>(static_cast<std::uint64_t>(i) * 100 / n);
            if (percent != ProgressPercent)
                SetProStatus(percent);
            if (AbortRequested) {
                AbortRequested = false;
                break;
            }
        }
    }
    SetProStatus(0);
    AddMemoLine("Done...");
}
