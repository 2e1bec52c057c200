// The download engine: saves one address after the other into the target
// folder without ever overwriting a file.
#include "engine/PictureJobs.h"

// system
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// ours
#include "engine/DownloadNames.h"
#include "engine/DownloadRun.h"
#include "engine/FetchAhead.h"
#include "engine/FolderReady.h"

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

// Names the file of a successful request, or removes what it left: the same
// lines and counts whether it was fetched now or ahead.
bool TDownloadRun::FinishDownload(dlnames::TPendingFile& File, const std::string& SaveName, bool Ok)
{
    if (Ok) {
        switch (File.Publish()) {
        case dlnames::TPendingFile::TPublish::Done:
            return !Choices.SkipDuplicates || KeepUnlessDuplicate(SaveName);
        case dlnames::TPendingFile::TPublish::NameTaken:
            // Someone else's file took the name meanwhile: it stays as it is.
            ++Jobs.Failures.Local;
            Line("Fehler: Konnte Datei " + SaveName + " nicht erstellen/herunterladen...");
            return false;
        case dlnames::TPendingFile::TPublish::WriteFailed:
            ++Jobs.Failures.Local;
            break;  // a failed close: the data may not be on disk
        }
    }
    Line("Fehler: Konnte Datei " + SaveName + " nicht herunterladen...");
    if (!File.Discard())
        Line(dlnames::DeleteFailedLine(SaveName));
    return false;
}

bool TDownloadRun::DownloadOne(const std::string& Address, const dlnames::TTargetFolder& Folder,
                            const std::string& SaveName, bool SeenFree)
{
    dlnames::TPendingFile file;
    if (!file.Open(Folder, SaveName, SeenFree)) {
        ++Jobs.Failures.Local;
        Line("Fehler: Konnte Datei " + SaveName + " nicht erstellen/herunterladen...");
        return false;
    }
    bool ok = true;
    std::string tooSmall;
    {
        dlnames::TDownloadFileStream stream(file.Fd());
        TMinSizeStream gate(stream, Choices, Jobs.QuietRequest_);
        const bool judged = Choices.MinSizeWanted();
        // A length below the minimum ends the request with its first body bytes.
        Jobs.Cli.OnHeaderEnd = [&](THttpCli& Sender) {
            if (judged && Choices.MinBytes != 0 && Sender.ContentLength() >= 0 &&
                static_cast<std::uint64_t>(Sender.ContentLength()) < Choices.MinBytes && Sender.StatusCode() < 300) {
                gate.TooSmall = true;
                gate.ShortLength = Sender.ContentLength();
            }
            Jobs.QuietRequest_ = gate.TooSmall;
        };
        try {
            TStream* body = judged ? static_cast<TStream*>(&gate) : &stream;
            Jobs.WaitTurn(Address);
            Jobs.AimRequest(Jobs.Cli, Address, body);
            try {
                Jobs.Cli.Get();
            } catch (...) {
                // An answer 429 or 503 ends before its body: the file is still empty.
                if (!Jobs.WaitToRetry(Jobs.Cli, Address))
                    throw;
                Jobs.WaitTurn(Address);
                Jobs.AimRequest(Jobs.Cli, Address, body);
                Jobs.Cli.Get();
            }
        } catch (...) {
            ok = false;
        }
        Jobs.Cli.OnHeaderEnd = nullptr;
        Jobs.Cli.BodyStream = nullptr;
        if (stream.Failed() || !Jobs.AnsweredWithStatus(Jobs.Cli.StatusCode(), Jobs.Cli.DoneError()))
            ok = false;
        if (judged && (gate.TooSmall || ok))
            tooSmall = gate.Reason();
        Jobs.QuietRequest_ = false;
    }
    if (!tooSmall.empty()) {
        Line("übersprungen: zu klein (" + tooSmall + ")");
        if (!file.Discard())
            Line(dlnames::DeleteFailedLine(SaveName));
        return false;
    }
    return FinishDownload(file, SaveName, ok);
}

bool TDownloadRun::KeepUnlessDuplicate(const std::string& SaveName)
{
    const std::filesystem::path dir = Dir;
    const std::string equal = Jobs.Duplicates_.FindEqual(dir, dir / SaveName);
    if (equal.empty()) {
        Jobs.Duplicates_.Kept(dir, SaveName);
        return true;
    }
    std::error_code ec;
    if (!std::filesystem::remove(dir / SaveName, ec))
        Line(dlnames::DeleteFailedLine(SaveName));
    Line("übersprungen: " + SaveName + " gleicht " + equal);
    return false;
}

// Entry Index with several requests in flight: its own request (fetched
// ahead already, or started now), and meanwhile the next entries' ahead of
// their turn. Lines and counts are those of DownloadOne.
bool TDownloadRun::DownloadAhead(TFetchAhead& Ahead, std::size_t Index, const dlnames::TTargetFolder& Folder,
                                 const std::string& SaveName, bool SeenFree)
{
    if (Ahead.Holds(Key(Index))) {
        // Made for this very folder and to be named as a file made now would
        // be; otherwise it goes unreported, as if it had never been fetched.
        auto* file = static_cast<TAheadFile*>(Ahead.BodyOf(Key(Index)));
        if (file == nullptr || file->Generation != Folder.Generation() || Ahead.UrlOf(Key(Index)) != WorkList[Index] ||
            !file->File.Claim(SaveName, SeenFree))
            Ahead.Drop(Key(Index));
    }
    if (!Ahead.Holds(Key(Index))) {
        auto file = std::make_unique<TAheadFile>();
        if (!file->File.Open(Folder, SaveName, SeenFree)) {
            ++Jobs.Failures.Local;
            Line("Fehler: Konnte Datei " + SaveName + " nicht erstellen/herunterladen...");
            FetchAheadFrom(Ahead, Index + 1, Folder);
            return false;
        }
        file->Stream = std::make_unique<dlnames::TDownloadFileStream>(file->File.Fd());
        TFetchAhead::TRequest request{WorkList[Index], Jobs.Front.Proxy(), std::move(file)};
        Ahead.WaitIdle();
        Ahead.Start(Key(Index), request);
    }
    FetchAheadFrom(Ahead, Index + 1, Folder);
    // Clients set free while this file is still coming fetch later ones.
    TFetchAhead::TResult r = Ahead.Take(Key(Index), [&] { FetchAheadFrom(Ahead, Index + 1, Folder); });
    auto* file = static_cast<TAheadFile*>(r.Body.get());
    if (file == nullptr)
        return false;
    return FinishDownload(file->File, SaveName,
                          !r.Failed && !file->Stream->Failed() && Jobs.AnsweredWithStatus(r.StatusCode, r.DoneError));
}

void TDownloadRun::FetchAheadFrom(TFetchAhead& Ahead, std::size_t From, const dlnames::TTargetFolder& Folder)
{
    const std::size_t end = std::min(WorkList.size(), From + TFetchAhead::kMaxEntries);
    const bool skipExisting = SkipExisting;
    // The names of the entry under way and of those before k in this window:
    // with skipping, a name one of them takes is skipped at k's turn.
    std::vector<std::string> earlier;
    if (skipExisting && From > 0)
        earlier.push_back(dlnames::SaveFileName(WorkList[From - 1]));
    for (std::size_t k = From; k < end && Ahead.Idle() > KeepIdle && Ahead.RoomAhead(); ++k) {
        // Called for every client set free: the entries held need no name
        // unless skipping compares them.
        if (!skipExisting && Ahead.Holds(Key(k)))
            continue;
        const std::string name = dlnames::SaveFileName(WorkList[k]);
        const bool takenEarlier =
            skipExisting && std::find(earlier.begin(), earlier.end(), name) != earlier.end();
        if (skipExisting)
            earlier.push_back(name);
        if (Ahead.Holds(Key(k)))
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
        TFetchAhead::TRequest request{WorkList[k], Jobs.Front.Proxy(), std::move(file)};
        Ahead.Start(Key(k), request);
    }
}

void TDownloadRun::Run(dlnames::TTargetFolder* sharedFolder, TFetchAhead* sharedPool)
{
    const std::size_t n = WorkList.size();
    int shownPercent = 0;
    Jobs.Front.TotalProgress(0);

    const std::string typed = Jobs.Front.TargetFolder();
    if (typed.empty()) {
        Jobs.Front.ErrorBox("Sie müssen zuerst ein Ziel-Verzeichnis auswählen!", "Fehler: Kein Verzeichnis");
    } else if (const std::string why = MakeFolderReady(dlnames::TargetDirOf(typed)); !why.empty()) {
        // One box says what is wrong instead of a failure line per address.
        Jobs.Front.ErrorBox("Das Verzeichnis " + typed + " kann nicht benutzt werden: " + why + ".", "Fehler...");
    } else {
        dlnames::TTargetFolder ownFolder(Jobs.Settings.FileWays);
        dlnames::TTargetFolder& folder = sharedFolder ? *sharedFolder : ownFolder;
        // Several requests in flight when asked for; one keeps every request
        // exactly as it always was.
        TPictureJobs::TAheadHold ahead(Jobs, !sharedPool && Jobs.Settings.Connections > 1 && n > 1 &&
                                              !Choices.NeedsOwnRequests());
        TFetchAhead* pool = sharedPool ? sharedPool : ahead.get();
        Jobs.Duplicates_ = TDuplicateIndex();
        for (std::size_t i = 0; i < n; ++i) {
            const std::string& address = WorkList[i];
            const std::string name = dlnames::SaveFileName(address);
            Dir = dlnames::TargetDirOf(Jobs.Front.TargetFolder());
            SkipExisting = Jobs.Front.SkipExisting();
            std::string saveName = name;
            Jobs.Front.DownloadProgress(i + 1, n);
            Line("Lade Datei " + std::to_string(i + 1) + " von " + std::to_string(n) + " herunter (" + name + ")...");
            folder.Use(Dir);
            bool nameFree = false;
            const bool exists = dlnames::IsUsableFileName(name) && folder.RegularFileExists(name, &nameFree);
            if (exists && SkipExisting) {
                Line("Die Datei " + name + " existiert schon, wird übersprungen...");
                if (pool)
                    pool->Drop(Key(i));
            } else {
                if (exists)
                    saveName = dlnames::FirstFreeNumberedName(Dir, name);
                if (saveName != name)
                    Line("Die Datei " + name + " existiert schon, speichere unter " + saveName + "...");
                const bool seenFree = saveName == name && nameFree;
                if (pool)
                    DownloadAhead(*pool, i, folder, saveName, seenFree);
                else
                    DownloadOne(address, folder, saveName, seenFree);
            }
            // Drawing the same bar again changes nothing; long runs skip it.
            const int percent = static_cast<int>(static_cast<std::uint64_t>(i) * 100 / n);
            if (percent != shownPercent) {
                shownPercent = percent;
                Jobs.Front.TotalProgress(percent);
            }
            if (Jobs.AbortRequested) {
                Jobs.AbortRequested = false;
                break;
            }
        }
    }
    Jobs.Front.TotalProgress(0);
    Line("Done...");
}

bool TDownloadRun::PrepareAhead(dlnames::TTargetFolder& Folder)
{
    const std::string typed = Jobs.Front.TargetFolder();
    if (typed.empty() || !MakeFolderReady(dlnames::TargetDirOf(typed)).empty())
        return false;
    Dir = dlnames::TargetDirOf(typed);
    SkipExisting = Jobs.Front.SkipExisting();
    Folder.Use(Dir);
    return true;
}

void TDownloadRun::Prefetch(TFetchAhead& Ahead, const dlnames::TTargetFolder& Folder)
{
    // A client stays free for the scan's next page.
    KeepIdle = 1;
    FetchAheadFrom(Ahead, 0, Folder);
    KeepIdle = 0;
}

void TPictureJobs::Download(const std::vector<std::string>& workList)
{
    TDownloadRun run(*this, workList);
    run.Run(nullptr, nullptr);
}
