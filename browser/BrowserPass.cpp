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
    RestartPending = false;
    Busy = true;
    PassFolder = folder;
    passStamp_ = FolderStampOf(folder);
    passComplete_ = false;
    gridSeen_ = Showing();
    stampBeforeWrite_ = false;
    pass_ = TFolderPass::Create(*this, *pool_, folder, ++generation_, PrepareOptions,
                                THeldThumbs{Thumbs, ThumbNames, ThumbInfos});
    pass_->Start();
}

void TBrowserForm::StopPass()
{
    if (pass_)
        pass_->Stop();
}

TPassThread* TBrowserForm::Worker() const
{
    return pass_ ? pass_->Thread() : nullptr;
}

void TBrowserForm::PostStep(std::function<void()> step)
{
    QMetaObject::invokeMethod(Widget(), std::move(step), Qt::QueuedConnection);
}

std::unique_ptr<TPassThread> TBrowserForm::NewPassThread(std::shared_ptr<TPassWork> work,
                                                         TPassThread::TFileCallback callback,
                                                         std::function<void()> onTerminate)
{
    return std::make_unique<TMyThread>(Widget(), std::move(work), std::move(callback), std::move(onTerminate));
}

void TBrowserForm::PassLine(const std::string& line)
{
    AddMemoLine(line);
}

void TBrowserForm::PassThumb(TPreparedFile::TKind kind, DibHandle thumb, const std::string& name,
                             const ThumbInfo& info)
{
    AppendThumb(thumb, name, info);
    if (kind == TPreparedFile::Cached) {
        PaintFrom = 0;
        Paint();
        return;
    }
    // Only the new cell is drawn.
    PaintFrom = ThumbCount;
    Paint();
    PaintFrom = 0;
}

void TBrowserForm::PassProgress(int percent)
{
    SetProStatus(percent);
}

void TBrowserForm::PassWritingCache()
{
    // Writing the file changes the folder's time; the grid is no less current for it.
    stampBeforeWrite_ = FolderStampOf(PassFolder) == passStamp_;
}

void TBrowserForm::PassFinished(bool completed)
{
    if (stampBeforeWrite_) {
        stampBeforeWrite_ = false;
        passStamp_ = FolderStampOf(PassFolder);
    }
    Busy = false;
    passComplete_ = completed;
    SetProStatus(0);
    if (RestartPending)
        StartPass();
}

void TBrowserForm::NewFile(const std::string& name, std::optional<TPreparedFile>* prepared)
{
    if (pass_ && pass_->Thread())
        pass_->NewFile(name, prepared);
    else
        ShowPassFile(*this, nullptr, SelectedFolder(), name, prepared, PrepareOptions);
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
    if (pass_)
        pass_->ReleaseThumb(dib);
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
