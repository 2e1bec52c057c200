// Thumbnail passes of the browser window and its cache file.
#include "browser/BrowserFUnit.h"

// Qt
#include <QWidget>

// ours
#include "browser/ThumbPass.h"
#include "raster/DibDraw.h"
#include "ui/ScrollBox.h"

using namespace raster;

void TBrowserForm::StartPass()
{
    if (Busy)
        return;
    const std::string folder = SelectedFolder();
    if (folder.empty())
        return;
    AddMemoLine("Bearbeite Verzeichnis: " + folder);
    RestartPending = false;
    ReadCache();
    Busy = true;
    PassFolder = folder;
    const uint64_t generation = ++generation_;
    work_ = std::make_shared<TPassWork>(folder, CacheEntries, generation);
    work_->Options = PrepareOptions;
    worker_ = std::make_unique<TMyThread>(
        Widget(), work_,
        [this](const std::string& name, std::optional<TPreparedFile>& prepared) { NewFile(name, &prepared); },
        [this, generation] {
            // Only the end of the pass running now counts; a form being torn down ignores it.
            if (!destroying_ && generation_ == generation && worker_)
                PassFinished();
        });
    worker_->Mask = IncludeBackslash(folder) + "*.*";
    worker_->FirstStep = true;
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

void TBrowserForm::PassFinished()
{
    if (worker_) {
        worker_->WaitFor();
        worker_.reset();
    }
    if (pool_)
        pool_->Serve(nullptr);
    work_.reset();
    Busy = false;
    CacheEntries.reset();
    WriteCache(PassFolder);
    const std::string folder = SelectedFolder();
    if (!folder.empty())
        AddMemoLine("Bearbeitung von Verzeichnis " + folder + " abgeschloßen.");
    SetProStatus(0);
    if (RestartPending)
        StartPass();
}

void TBrowserForm::NewFile(const std::string& name, std::optional<TPreparedFile>* prepared)
{
    const std::string folder = SelectedFolder();
    if (folder.empty())
        return;
    TPreparedFile local;
    TPreparedFile* p = nullptr;
    if (prepared && prepared->has_value()) {
        p = &prepared->value();
    } else {
        static const TThumbCacheIndex kNoEntries;
        local = PrepareFile(IncludeBackslash(folder), name, CacheEntries ? *CacheEntries : kNoEntries,
                            IncludeBackslash(folder) + kCacheFileName, PrepareOptions);
        p = &local;
    }
    switch (p->Kind) {
    case TPreparedFile::NotPicture:
        return;
    case TPreparedFile::Cached:
        AppendThumb(p->TakeThumb(), name, p->Info);
        PaintFrom = 0;
        Paint();
        break;
    case TPreparedFile::Made:
        AppendThumb(p->TakeThumb(), name, p->Info);
        // Only the new cell is drawn.
        PaintFrom = ThumbCount;
        Paint();
        PaintFrom = 0;
        break;
    case TPreparedFile::Unusable:
        AddMemoLine("Fehler beim Laden von " + name + " [" + p->ErrorText + "]");
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

void TBrowserForm::ReleaseThumbs()
{
    for (DibHandle& d : Thumbs)
        deldib(d);
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
    deldib(Thumbs[i]);
    Thumbs.erase(Thumbs.begin() + static_cast<std::ptrdiff_t>(i));
    ThumbNames.erase(ThumbNames.begin() + static_cast<std::ptrdiff_t>(i));
    ThumbInfos.erase(ThumbInfos.begin() + static_cast<std::ptrdiff_t>(i));
    --ThumbCount;
}

// ---------------------------------------------------------------------------
// The cache file of the selected folder

void TBrowserForm::ReadCache()
{
    CacheEntries = std::make_shared<TThumbCacheIndex>();
    const std::string folder = SelectedFolder();
    if (folder.empty())
        return;
    if (ReadCacheFile(IncludeBackslash(folder) + kCacheFileName, *CacheEntries) == TCacheReadResult::Read)
        AddMemoLine("Browser-Informationen geladen.");
}

void TBrowserForm::WriteCache(const std::string& folder)
{
    if (ThumbCount == 0 || folder.empty())
        return;
    std::vector<CacheThumb> thumbs;
    thumbs.reserve(static_cast<size_t>(ThumbCount));
    for (size_t i = 0; i < static_cast<size_t>(ThumbCount); ++i)
        thumbs.push_back(CacheThumb{&ThumbNames[i], &ThumbInfos[i], &Thumbs[i]});
    // A folder the user may not write into simply keeps no cache.
    if (WriteCacheFile(IncludeBackslash(folder) + kCacheFileName, thumbs) == TCacheWriteResult::Written)
        AddMemoLine("Browser-Informationen geschrieben.");
}

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
