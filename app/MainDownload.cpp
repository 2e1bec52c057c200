// The download engine: the two download buttons and DownloadList, which saves
// one address after the other into the target folder without ever
// overwriting a file.
#include "app/MainUnit.h"

// system
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// ours
#include "app/DownloadNames.h"
#include "app/FetchAhead.h"
#include "app/FolderReady.h"

std::string TMainForm::TargetDir() const
{
    return dlnames::TargetDirOf(DirectoryEdit1->Text());
}

std::string TMainForm::UrlFileName(const std::string& Address)
{
    return dlnames::SaveFileName(Address);
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

namespace {

// The body of a download while it is fetched: its file, unnamed until the
// entry's turn gives it a name, and the folder it was made in.
class TAheadFile : public TStream {
public:
    TAheadFile() = default;
    bool Write(const void* data, std::size_t len) override { return Stream && Stream->Write(data, len); }
    std::int64_t Size() const override { return Stream ? Stream->Size() : 0; }

    dlnames::TPendingFile File;
    std::unique_ptr<dlnames::TDownloadFileStream> Stream;
    std::uint64_t Generation = 0;  // of the folder it was made in
};

// The body on its way into the file, judged by the minimum size: once the
// header or the byte count shows the picture too small, the write fails, so
// the client closes the request and nothing more is read.
class TMinSizeStream : public TStream {
public:
    TMinSizeStream(TStream& file, const TPictureChoices& choices, bool& quiet)
        : file_(file), gate_(choices.MinWidth, choices.MinHeight), minBytes_(choices.MinBytes), quiet_(quiet),
          judging_(choices.MinWidth != 0 || choices.MinHeight != 0)
    {
    }
    bool Write(const void* data, std::size_t len) override
    {
        if (!TooSmall) {
            const TMinSizeGate::TVerdict verdict = gate_.Feed(data, len);
            TooSmall = verdict == TMinSizeGate::TVerdict::TooSmall;
            judging_ = verdict == TMinSizeGate::TVerdict::Undecided;
        }
        // The failed write that ends the request is no failure to report.
        quiet_ = TooSmall;
        return !TooSmall && file_.Write(data, len);
    }
    std::int64_t Size() const override { return file_.Size(); }
    // Small reads until the header tells the size: a picture found too small
    // then leaves all but a few KiB unread when its request closes.
    std::size_t ReadLimit() const override { return judging_ ? 4096 : 0; }
    // The memo line's reason after a complete body, or one found on the way.
    std::string Reason() const
    {
        if (ShortLength >= 0)
            return std::to_string(ShortLength) + " Bytes";
        if (TooSmall)
            return std::to_string(gate_.Width()) + " × " + std::to_string(gate_.Height());
        if (minBytes_ != 0 && static_cast<std::uint64_t>(Size()) < minBytes_)
            return std::to_string(Size()) + " Bytes";
        return {};
    }
    bool TooSmall = false;
    std::int64_t ShortLength = -1;  // an announced length below the minimum

private:
    TStream& file_;
    TMinSizeGate gate_;
    std::uint64_t minBytes_;
    bool& quiet_;
    bool judging_;  // the header has not told the size yet
};

}  // namespace

// Without a status line nothing says that the bytes are the picture asked
// for (a page, a server's error text, or the head of another answer): such a
// request counts as failed, and as a failure of the run.
bool TMainForm::AnsweredWithStatus(int StatusCode, std::uint16_t DoneError)
{
    if (StatusCode != 0)
        return true;
    if (DoneError == 0)
        ++Failures.Transport;
    return false;
}

// Names the file of a successful request, or removes what it left: the same
// lines and counts whether it was fetched now or ahead.
bool TMainForm::FinishDownload(dlnames::TPendingFile& File, const std::string& SaveName, bool Ok)
{
    if (Ok) {
        switch (File.Publish()) {
        case dlnames::TPendingFile::TPublish::Done:
            return !Choices.SkipDuplicates || KeepUnlessDuplicate(SaveName);
        case dlnames::TPendingFile::TPublish::NameTaken:
            // Someone else's file took the name meanwhile: it stays as it is.
            ++Failures.Local;
            AddMemoLine("Fehler: Konnte Datei " + SaveName + " nicht erstellen/herunterladen...");
            return false;
        case dlnames::TPendingFile::TPublish::WriteFailed:
            ++Failures.Local;
            break;  // a failed close: the data may not be on disk
        }
    }
    AddMemoLine("Fehler: Konnte Datei " + SaveName + " nicht herunterladen...");
    if (!File.Discard())
        AddMemoLine(dlnames::DeleteFailedLine(SaveName));
    return false;
}

bool TMainForm::DownloadOne(const std::string& Address, const dlnames::TTargetFolder& Folder,
                            const std::string& SaveName, bool SeenFree)
{
    dlnames::TPendingFile file;
    if (!file.Open(Folder, SaveName, SeenFree)) {
        ++Failures.Local;
        AddMemoLine("Fehler: Konnte Datei " + SaveName + " nicht erstellen/herunterladen...");
        return false;
    }
    bool ok = true;
    std::string tooSmall;
    {
        dlnames::TDownloadFileStream stream(file.Fd());
        TMinSizeStream gate(stream, Choices, QuietRequest_);
        const bool judged = Choices.MinSizeWanted();
        // A length below the minimum ends the request with its first body bytes.
        HttpCli1.OnHeaderEnd = [&](THttpCli& Sender) {
            if (judged && Choices.MinBytes != 0 && Sender.ContentLength() >= 0 &&
                static_cast<std::uint64_t>(Sender.ContentLength()) < Choices.MinBytes && Sender.StatusCode() < 300) {
                gate.TooSmall = true;
                gate.ShortLength = Sender.ContentLength();
            }
            QuietRequest_ = gate.TooSmall;
        };
        try {
            WaitTurn(Address);
            PrepareRequest(HttpCli1, Address);
            HttpCli1.URL = Address;
            HttpCli1.Proxy = ProxyEdit->Text();
            HttpCli1.ProxyPort = "80";
            HttpCli1.BodyStream = judged ? static_cast<TStream*>(&gate) : &stream;
            try {
                HttpCli1.Get();
            } catch (...) {
                // An answer 429 or 503 ends before its body: the file is still empty.
                if (!WaitToRetry(HttpCli1, Address))
                    throw;
                WaitTurn(Address);
                PrepareRequest(HttpCli1, Address);
                HttpCli1.URL = Address;
                HttpCli1.Get();
            }
        } catch (...) {
            ok = false;
        }
        HttpCli1.OnHeaderEnd = nullptr;
        HttpCli1.BodyStream = nullptr;
        if (stream.Failed() || !AnsweredWithStatus(HttpCli1.StatusCode(), HttpCli1.DoneError()))
            ok = false;
        if (judged && (gate.TooSmall || ok))
            tooSmall = gate.Reason();
        QuietRequest_ = false;
    }
    if (!tooSmall.empty()) {
        AddMemoLine("übersprungen: zu klein (" + tooSmall + ")");
        if (!file.Discard())
            AddMemoLine(dlnames::DeleteFailedLine(SaveName));
        return false;
    }
    return FinishDownload(file, SaveName, ok);
}

bool TMainForm::KeepUnlessDuplicate(const std::string& SaveName)
{
    const std::filesystem::path dir = TargetDir();
    const std::string equal = Duplicates_.FindEqual(dir, dir / SaveName);
    if (equal.empty()) {
        Duplicates_.Kept(dir, SaveName);
        return true;
    }
    std::error_code ec;
    if (!std::filesystem::remove(dir / SaveName, ec))
        AddMemoLine(dlnames::DeleteFailedLine(SaveName));
    AddMemoLine("übersprungen: " + SaveName + " gleicht " + equal);
    return false;
}

// Entry Index with several requests in flight: its own request (fetched
// ahead already, or started now), and meanwhile the next entries' ahead of
// their turn. Lines and counts are those of DownloadOne.
bool TMainForm::DownloadAhead(TFetchAhead& Ahead, const std::vector<std::string>& WorkList, std::size_t Index,
                              const dlnames::TTargetFolder& Folder, const std::string& SaveName, bool SeenFree)
{
    if (Ahead.Holds(Index)) {
        // Made for this very folder and to be named as a file made now would
        // be; otherwise it goes unreported, as if it had never been fetched.
        auto* file = static_cast<TAheadFile*>(Ahead.BodyOf(Index));
        if (file == nullptr || file->Generation != Folder.Generation() || !file->File.Claim(SaveName, SeenFree))
            Ahead.Drop(Index);
    }
    if (!Ahead.Holds(Index)) {
        auto file = std::make_unique<TAheadFile>();
        if (!file->File.Open(Folder, SaveName, SeenFree)) {
            ++Failures.Local;
            AddMemoLine("Fehler: Konnte Datei " + SaveName + " nicht erstellen/herunterladen...");
            FetchAheadFrom(Ahead, WorkList, Index + 1, Folder);
            return false;
        }
        file->Stream = std::make_unique<dlnames::TDownloadFileStream>(file->File.Fd());
        TFetchAhead::TRequest request{WorkList[Index], ProxyEdit->Text(), std::move(file)};
        Ahead.WaitIdle();
        Ahead.Start(Index, request);
    }
    FetchAheadFrom(Ahead, WorkList, Index + 1, Folder);
    // Clients set free while this file is still coming fetch later ones.
    TFetchAhead::TResult r = Ahead.Take(Index, [&] { FetchAheadFrom(Ahead, WorkList, Index + 1, Folder); });
    auto* file = static_cast<TAheadFile*>(r.Body.get());
    if (file == nullptr)
        return false;
    return FinishDownload(file->File, SaveName,
                          !r.Failed && !file->Stream->Failed() && AnsweredWithStatus(r.StatusCode, r.DoneError));
}

void TMainForm::FetchAheadFrom(TFetchAhead& Ahead, const std::vector<std::string>& WorkList, std::size_t From,
                               const dlnames::TTargetFolder& Folder)
{
    const std::size_t end = std::min(WorkList.size(), From + TFetchAhead::kMaxEntries);
    const bool skipExisting = OverJumpCheck->Checked();
    // The names of the entry under way and of those before k in this window:
    // with skipping, a name one of them takes is skipped at k's turn.
    std::vector<std::string> earlier;
    if (skipExisting && From > 0)
        earlier.push_back(UrlFileName(WorkList[From - 1]));
    for (std::size_t k = From; k < end && Ahead.Idle() > 0 && Ahead.RoomAhead(); ++k) {
        // Called for every client set free: the entries held need no name
        // unless skipping compares them.
        if (!skipExisting && Ahead.Holds(k))
            continue;
        const std::string name = UrlFileName(WorkList[k]);
        const bool takenEarlier =
            skipExisting && std::find(earlier.begin(), earlier.end(), name) != earlier.end();
        if (skipExisting)
            earlier.push_back(name);
        if (Ahead.Holds(k))
            continue;
        // What its turn would not fetch is not fetched ahead either: a name
        // held by something other than a file (a folder, say) fails the
        // create step, and with skipping an existing name is skipped.
        if (!dlnames::IsUsableFileName(name) || takenEarlier)
            continue;
        bool free = false;
        const bool exists = Folder.RegularFileExists(name, &free);
        if ((!exists && !free) || (exists && skipExisting))
            continue;
        auto file = std::make_unique<TAheadFile>();
        // Without unnamed files a fetched file would need a name before its
        // turn: that folder is served one entry at a time.
        if (!file->File.OpenUnnamed(Folder))
            return;
        file->Generation = Folder.Generation();
        file->Stream = std::make_unique<dlnames::TDownloadFileStream>(file->File.Fd());
        TFetchAhead::TRequest request{WorkList[k], ProxyEdit->Text(), std::move(file)};
        Ahead.Start(k, request);
    }
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
    } else if (const std::string why = MakeFolderReady(TargetDir()); !why.empty()) {
        // One box says what is wrong instead of a failure line per address.
        MessageDlg("Das Verzeichnis " + DirectoryEdit1->Text() + " kann nicht benutzt werden: " + why + ".",
                   "Fehler...", TMsgIcon::Error, mbOK);
    } else {
        dlnames::TTargetFolder folder(DownloadFileWays);
        // Several requests in flight when asked for; one keeps every request
        // exactly as it always was.
        TAheadHold ahead(*this, Connections > 1 && n > 1 && !Choices.NeedsOwnRequests());
        Duplicates_ = TDuplicateIndex();
        for (std::size_t i = 0; i < n; ++i) {
            const std::string& address = WorkList[i];
            const std::string name = UrlFileName(address);
            // Read again for every address: the folder field and the policy
            // buttons stay usable during a run.
            const std::string dir = TargetDir();
            std::string saveName = name;
            ShowDownloadProgress(i + 1, n);
            AddMemoLine("Lade Datei " + std::to_string(i + 1) + " von " + std::to_string(n) + " herunter (" + name +
                        ")...");
            folder.Use(dir);
            bool nameFree = false;
            const bool exists = dlnames::IsUsableFileName(name) && folder.RegularFileExists(name, &nameFree);
            if (exists && OverJumpCheck->Checked()) {
                AddMemoLine("Die Datei " + name + " existiert schon, wird übersprungen...");
                if (ahead)
                    ahead->Drop(i);
            } else {
                if (exists)
                    saveName = dlnames::FirstFreeNumberedName(dir, name);
                if (saveName != name)
                    AddMemoLine("Die Datei " + name + " existiert schon, speichere unter " + saveName + "...");
                const bool seenFree = saveName == name && nameFree;
                if (ahead)
                    DownloadAhead(*ahead, WorkList, i, folder, saveName, seenFree);
                else
                    DownloadOne(address, folder, saveName, seenFree);
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
