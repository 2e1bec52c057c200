// Thumbnail passes of the browser window and its cache file.
#include "browser/BrowserFUnit.h"

// system
#include <sys/stat.h>

// Qt
#include <QMetaObject>
#include <QWidget>

// ours
#include "browser/ThumbPass.h"
#include "raster/DibDraw.h"
#include "ui/ScrollBox.h"

using namespace raster;

std::pair<int64_t, int64_t> FolderStampOf(const std::string& folder)
{
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0)
        return {-1, -1};
    return {st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

void TBrowserForm::StartPass()
{
    if (Busy)
        return;
    const std::string folder = SelectedFolder();
    if (folder.empty())
        return;
    AddMemoLine("Bearbeite Verzeichnis: " + folder);
    RestartPending = false;
    Busy = true;
    PassFolder = folder;
    passStamp_ = FolderStampOf(folder);
    passComplete_ = false;
    gridSeen_ = Showing();
    const uint64_t generation = ++generation_;
    // The cache file is read by the pass's thread, so a folder of many
    // pictures does not hold up the window.
    work_ = std::make_shared<TPassWork>(folder, generation);
    work_->Options = PrepareOptions;
    worker_ = std::make_unique<TMyThread>(
        Widget(), work_,
        [this](const std::string& name, std::optional<TPreparedFile>& prepared) { NewFile(name, &prepared); },
        [this, generation] {
            // Only the end of the pass running now counts; a form being torn down ignores it.
            if (!destroying_ && generation_ == generation && worker_)
                PassFinished();
        });
    worker_->Done = false;
    pool_->Serve(work_);
    worker_->Start();
}

void TBrowserForm::StopPass()
{
    if (worker_)
        worker_->Terminate();
    // Work prepared ahead for this pass is dropped, never shown.
    if (work_)
        work_->Stop();
}

void TBrowserForm::ReportCacheRead()
{
    if (!work_ || work_->CacheReported)
        return;
    work_->CacheReported = true;
    // A file of someone else's under our name is not ours to claim as loaded.
    if (work_->CacheRead() == TCacheReadResult::Read)
        AddMemoLine("Browser-Informationen geladen.");
}

void TBrowserForm::PassFinished()
{
    bool completed = false;
    if (worker_) {
        worker_->WaitFor();
        completed = worker_->Done && !worker_->Terminated();
        worker_.reset();
    }
    if (pool_)
        pool_->Serve(nullptr);
    if (work_ && work_->Listed())
        ReportCacheRead();
    std::shared_ptr<TPassWork> work = std::move(work_);
    if (work && WriteCache(PassFolder, work, completed))
        return;  // the pass ends when the file is written
    FinishPass(completed);
}

void TBrowserForm::FinishPass(bool completed)
{
    Busy = false;
    passComplete_ = completed;
    // The folder named is the pass's own, whatever is selected by now.
    AddMemoLine("Bearbeitung von Verzeichnis " + PassFolder + (completed ? " abgeschloßen." : " abgebrochen."));
    SetProStatus(0);
    if (RestartPending)
        StartPass();
}

bool TBrowserForm::WriteCache(const std::string& folder, const std::shared_ptr<TPassWork>& work, bool completed)
{
    if (ThumbCount == 0 || folder.empty() || !work)
        return false;
    size_t held = 0;
    for (const DibHandle& d : Thumbs)
        held += d.Bits ? 1 : 0;
    // Only a file that would change is written: a thumbnail was made, or an
    // entry is no longer used (its picture gone, renamed or deleted here).
    // A stopped pass merges what it made into the entries of the files it
    // did not reach; without anything made, that is the file as it is.
    const bool changed = completed ? work->Made > 0 || work->UsedEntryCount != work->Cache().Entries.size() ||
                                         held != work->UsedEntryCount
                                   : work->Made > 0;
    if (!changed || held == 0)
        return false;
    auto job = std::make_unique<TCacheWriteJob>();
    job->Path = IncludeBackslash(folder) + kCacheFileName;
    job->Work = work;
    job->Completed = completed;
    for (size_t i = 0; i < static_cast<size_t>(ThumbCount); ++i) {
        // Pictures that could not be read have a cell but no thumbnail to keep.
        if (!Thumbs[i].Bits)
            continue;
        job->Names.push_back(ThumbNames[i]);
        job->Infos.push_back(ThumbInfos[i]);
        job->Dibs.push_back(Thumbs[i]);
        job->Kept.push_back(nullptr);
    }
    if (!completed)
        job->Untaken = work->Untaken();
    // Writing the file changes the folder's time; the grid is no less current for it.
    stampBeforeWrite_ = FolderStampOf(folder) == passStamp_;
    writeJob_ = std::move(job);
    const uint64_t generation = generation_;
    writeJob_->Start([this, generation] {
        QMetaObject::invokeMethod(
            Widget(),
            [this, generation] {
                if (!destroying_ && generation_ == generation && writeJob_)
                    CacheWritten();
            },
            Qt::QueuedConnection);
    });
    return true;
}

void TBrowserForm::CacheWritten()
{
    writeJob_->Join();
    // A folder the user may not write into simply keeps no cache.
    const bool written = writeJob_->Result == TCacheWriteResult::Written;
    const bool completed = writeJob_->Completed;
    writeJob_.reset();
    if (stampBeforeWrite_)
        passStamp_ = FolderStampOf(PassFolder);
    if (written)
        AddMemoLine("Browser-Informationen geschrieben.");
    FinishPass(completed);
}

void TBrowserForm::WaitForCacheWrite()
{
    if (writeJob_) {
        writeJob_->Join();
        writeJob_.reset();
    }
}

void TBrowserForm::NewFile(const std::string& name, std::optional<TPreparedFile>* prepared)
{
    ReportCacheRead();
    const std::string folder = work_ ? work_->Folder : SelectedFolder();
    if (folder.empty())
        return;
    TPreparedFile local;
    TPreparedFile* p = nullptr;
    if (prepared && prepared->has_value()) {
        p = &prepared->value();
    } else {
        static const TThumbCacheIndex kNoEntries;
        local = PrepareFile(IncludeBackslash(folder), name, work_ ? work_->Cache() : kNoEntries,
                            IncludeBackslash(folder) + kCacheFileName, PrepareOptions);
        p = &local;
    }
    switch (p->Kind) {
    case TPreparedFile::NotPicture:
        return;
    case TPreparedFile::Cached:
        if (work_)
            work_->NoteUsedEntry(p->EntryIndex);
        AppendThumb(p->TakeThumb(), name, p->Info);
        PaintFrom = 0;
        Paint();
        break;
    case TPreparedFile::Made:
        if (work_)
            ++work_->Made;
        AppendThumb(p->TakeThumb(), name, p->Info);
        // Only the new cell is drawn.
        PaintFrom = ThumbCount;
        Paint();
        PaintFrom = 0;
        break;
    case TPreparedFile::Unusable:
        AddMemoLine("Fehler beim Laden von " + name + " [" + p->ErrorText + "]");
        // A cell without a picture, so the file can still be found and deleted.
        AppendThumb(DibHandle(), name, ThumbInfo{});
        PaintFrom = ThumbCount;
        Paint();
        PaintFrom = 0;
        break;
    case TPreparedFile::CacheUnloadable:
    case TPreparedFile::NotMade:
        break;
    }
    // The pass's progress over the folder's files.
    if (work_ && work_->FileCount() > 0)
        SetProStatus(static_cast<int>(100 * work_->Taken() / work_->FileCount()));
}

DibHandle TBrowserForm::Resize(const DibHandle& picture, int32_t width, int32_t height)
{
    return ResizeDib(picture, width, height);
}

void TBrowserForm::AppendThumb(DibHandle thumb, const std::string& name, const ThumbInfo& info)
{
    Thumbs.push_back(thumb);
    ThumbNames.push_back(name);
    ThumbInfos.push_back(info);
    ++ThumbCount;
}

void TBrowserForm::DropDib(DibHandle& dib)
{
    if (!dib.Bits && !dib.Info)
        return;
    if (writeJob_)
        writeJob_->Drop(dib);
    else
        deldib(dib);
    dib = DibHandle();
}

void TBrowserForm::ReleaseThumbs()
{
    for (DibHandle& d : Thumbs)
        DropDib(d);
    Thumbs.clear();
    Thumbs.shrink_to_fit();
    ThumbNames.clear();
    ThumbNames.shrink_to_fit();
    ThumbInfos.clear();
    ThumbInfos.shrink_to_fit();
    ThumbCount = 0;
}

void TBrowserForm::RemoveThumb(int index)
{
    if (index < 0 || index >= ThumbCount)
        return;
    const auto i = static_cast<size_t>(index);
    DropDib(Thumbs[i]);
    Thumbs.erase(Thumbs.begin() + static_cast<std::ptrdiff_t>(i));
    ThumbNames.erase(ThumbNames.begin() + static_cast<std::ptrdiff_t>(i));
    ThumbInfos.erase(ThumbInfos.begin() + static_cast<std::ptrdiff_t>(i));
    --ThumbCount;
}

// ---------------------------------------------------------------------------
// The cache file of the selected folder

DibHandle TBrowserForm::LoadCachedThumbnail(int64_t position, int32_t width, int32_t height, int32_t bitCount,
                                            int32_t colorCount)
{
    DibHandle out;
    const std::string folder = SelectedFolder();
    if (folder.empty())
        return out;
    LoadCachedThumbnailFrom(IncludeBackslash(folder) + kCacheFileName, position, width, height, bitCount, colorCount,
                            out);
    return out;
}

int32_t TBrowserForm::CalcCheck(const std::string& path)
{
    return CalcCheckValue(path);
}
