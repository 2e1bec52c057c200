#include "browser/ThumbPassCore.h"

// system
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>

// ours
#include "base/NaturalOrder.h"

namespace {

// Files prepared ahead of the one the front end's thread takes next. Only
// small thumbnails wait there; full pictures exist only while a worker
// decodes one.
constexpr size_t kLookAhead = 64;
// A folder listing stops here; nobody browses more files than this at once.
constexpr size_t kMaxFolderFiles = 10'000'000;

}  // namespace

// ---------------------------------------------------------------------------
// TPassWork

TPassWork::TPassWork(std::string folder, uint64_t generation)
    : Folder(IncludeBackslash(folder)), CachePath(IncludeBackslash(folder) + kCacheFileName), Generation(generation)
{
}

void TPassWork::ReadCache()
{
    // Only this thread touches the entries until List hands them to the
    // workers and the front end's thread, under the lock.
    cacheRead_ = ReadCacheFile(CachePath, cache_);
    UsedEntries.assign(cache_.Entries.size(), false);
}

void TPassWork::NoteUsedEntry(int32_t index)
{
    if (index < 0 || static_cast<size_t>(index) >= UsedEntries.size() || UsedEntries[static_cast<size_t>(index)])
        return;
    UsedEntries[static_cast<size_t>(index)] = true;
    ++UsedEntryCount;
}

std::vector<std::string> TPassWork::Untaken() const
{
    std::lock_guard lk(mutex_);
    if (taken_ >= names_.size())
        return {};
    return std::vector<std::string>(names_.begin() + static_cast<std::ptrdiff_t>(taken_), names_.end());
}

void TPassWork::List()
{
    Publish(ReadNames());
}

std::vector<std::string> TPassWork::ReadNames() const
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(Folder.c_str())) {
        while (names.size() < kMaxFolderFiles && !stop_.load()) {
            const dirent* e = ::readdir(dir);
            if (!e)
                break;
            const char* n = e->d_name;
            if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
                continue;
            bool file = e->d_type == DT_REG;
            // Links and file systems that do not say: ask. Only regular files
            // count, so a named pipe can never hang a decoder.
            if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
                struct stat st {};
                file = ::stat((Folder + n).c_str(), &st) == 0 && S_ISREG(st.st_mode);
            }
            if (file)
                names.emplace_back(n);
        }
        ::closedir(dir);
    }
    // The order a file manager shows: bild2 before bild10, letter case aside.
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return NaturalLess(a, b); });
    return names;
}

void TPassWork::Publish(std::vector<std::string> names)
{
    std::function<void()> wake;
    {
        std::lock_guard lk(mutex_);
        names_ = std::move(names);
        results_.resize(names_.size());
        listed_ = true;
        wake = wakePool_;
    }
    cv_.notify_all();
    if (wake)
        wake();
}

void TPassWork::Stop()
{
    std::vector<std::optional<TPreparedFile>> dropped;
    {
        std::lock_guard lk(mutex_);
        stop_ = true;
        // Pictures prepared ahead for a stopped pass are never shown.
        dropped.swap(results_);
        results_.resize(dropped.size());
    }
    cv_.notify_all();
}

void TPassWork::Wake()
{
    { std::lock_guard lk(mutex_); }
    cv_.notify_all();
}

void TPassWork::WaitNextReady(const std::function<bool()>& cancel)
{
    std::unique_lock lk(mutex_);
    cv_.wait(lk, [&] {
        return cancel() || stop_.load() ||
               (listed_ && (taken_ >= names_.size() || results_[taken_].has_value()));
    });
}

bool TPassWork::NextReady() const
{
    std::lock_guard lk(mutex_);
    return listed_ && !stop_.load() && (taken_ >= names_.size() || results_[taken_].has_value());
}

bool TPassWork::TakeNext(std::string& name, std::optional<TPreparedFile>& prepared)
{
    std::function<void()> wake;
    {
        std::lock_guard lk(mutex_);
        if (!listed_ || taken_ >= names_.size())
            return false;
        name = names_[taken_];
        prepared = std::move(results_[taken_]);
        results_[taken_].reset();
        ++taken_;
        wake = wakePool_;
    }
    // The look-ahead window moved on: a worker may take the next file.
    if (wake)
        wake();
    return true;
}

size_t TPassWork::FileCount() const
{
    std::lock_guard lk(mutex_);
    return names_.size();
}

bool TPassWork::Listed() const
{
    std::lock_guard lk(mutex_);
    return listed_;
}

size_t TPassWork::Taken() const
{
    std::lock_guard lk(mutex_);
    return taken_;
}

bool TPassWork::HasClaimableWork() const
{
    std::lock_guard lk(mutex_);
    return listed_ && !stop_.load() && nextClaim_ < names_.size() && nextClaim_ < taken_ + kLookAhead;
}

bool TPassWork::Claim(size_t& index, std::string& name)
{
    std::lock_guard lk(mutex_);
    if (!listed_ || stop_.load() || nextClaim_ >= names_.size() || nextClaim_ >= taken_ + kLookAhead)
        return false;
    // A file the front end's thread already took (prepared by itself) is skipped.
    if (nextClaim_ < taken_)
        nextClaim_ = taken_;
    if (nextClaim_ >= names_.size())
        return false;
    index = nextClaim_++;
    name = names_[index];
    return true;
}

void TPassWork::Store(size_t index, TPreparedFile result)
{
    {
        std::lock_guard lk(mutex_);
        if (stop_.load() || index < taken_ || index >= results_.size())
            return;  // the result is released here, never shown
        results_[index] = std::move(result);
    }
    cv_.notify_all();
}

// ---------------------------------------------------------------------------
// TThumbPool

TThumbPool::TThumbPool(unsigned threads)
{
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    threads = std::min(threads, 64u);
    for (unsigned i = 0; i < threads; ++i)
        threads_.emplace_back([this] { Run(); });
}

TThumbPool::~TThumbPool()
{
    std::shared_ptr<TPassWork> old;
    {
        std::lock_guard lk(mutex_);
        quit_ = true;
        old = std::move(work_);
    }
    if (old) {
        std::lock_guard lk(old->mutex_);
        old->wakePool_ = nullptr;
    }
    cv_.notify_all();
    for (auto& t : threads_)
        t.join();
}

void TThumbPool::Serve(std::shared_ptr<TPassWork> work)
{
    if (work) {
        std::lock_guard lk(work->mutex_);
        work->wakePool_ = [this] { Wake(); };
    }
    std::shared_ptr<TPassWork> old;
    {
        std::lock_guard lk(mutex_);
        old = std::move(work_);
        work_ = std::move(work);
    }
    if (old && old != work_) {
        std::lock_guard lk(old->mutex_);
        old->wakePool_ = nullptr;
    }
    cv_.notify_all();
}

void TThumbPool::Wake()
{
    { std::lock_guard lk(mutex_); }
    cv_.notify_all();
}

void TThumbPool::Run()
{
    for (;;) {
        std::shared_ptr<TPassWork> work;
        {
            std::unique_lock lk(mutex_);
            cv_.wait(lk, [&] { return quit_ || (work_ && work_->HasClaimableWork()); });
            if (quit_)
                return;
            work = work_;
        }
        size_t index = 0;
        std::string name;
        if (!work->Claim(index, name))
            continue;
        if (work->Options.BeforePrepare)
            work->Options.BeforePrepare(name);
        work->Store(index, PrepareFile(work->Folder, name, work->Cache(), work->CachePath, work->Options));
    }
}

// ---------------------------------------------------------------------------
// TPassThread

struct TSyncState {
    std::mutex m;
    std::condition_variable cv;
    bool running = false;
    bool done = false;
    bool abandoned = false;
};

TPassThread::TPassThread(TPostStep post, std::shared_ptr<TPassWork> work, TFileCallback callback,
                         std::function<void()> onTerminate)
    : post_(std::move(post)), work_(std::move(work)), callback_(std::move(callback)),
      onTerminate_(std::move(onTerminate))
{
}

TPassThread::~TPassThread()
{
    Terminate();
    WaitFor();
}

void TPassThread::Start()
{
    thread_ = std::thread([this] { Execute(); });
}

void TPassThread::Terminate()
{
    terminated_ = true;
    std::shared_ptr<TSyncState> st;
    {
        std::lock_guard lk(syncMutex_);
        st = sync_;
    }
    if (st) {
        { std::lock_guard lk(st->m); }
        st->cv.notify_all();
    }
    work_->Wake();
}

void TPassThread::WaitFor()
{
    if (thread_.joinable())
        thread_.join();
}

void TPassThread::Execute()
{
    // The folder is listed and sorted while its cache file is read: neither
    // waits for the other, and the files are handed out once both are done.
    std::vector<std::string> names;
    std::thread lister([this, &names] { names = work_->ReadNames(); });
    work_->ReadCache();
    lister.join();
    work_->Publish(std::move(names));
    while (!Terminated() && !Done && !work_->Stopped()) {
        work_->WaitNextReady([this] { return Terminated(); });
        if (Terminated() || work_->Stopped() || !Synchronize([this] { FindStep(); }))
            break;
    }
    // The end handler decides when this object goes; it runs after Execute returned.
    post_(onTerminate_);
}

void TPassThread::FindStep()
{
    // Files already prepared are taken in one hand-over, for a few
    // milliseconds at most, so a pass from the cache does not pay a thread
    // round trip per file and the front end still handles its events in time.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(4);
    do {
        // A stop asked for after the hand-over still processes no further file.
        if (Terminated())
            return;
        std::string name;
        std::optional<TPreparedFile> prepared;
        if (!work_->TakeNext(name, prepared)) {
            Done = true;
            return;
        }
        callback_(name, prepared);
    } while (work_->NextReady() && std::chrono::steady_clock::now() < until);
}

bool TPassThread::Synchronize(const std::function<void()>& f)
{
    auto st = std::make_shared<TSyncState>();
    {
        std::lock_guard lk(syncMutex_);
        sync_ = st;
    }
    post_([st, f] {
        {
            std::lock_guard lk(st->m);
            if (st->abandoned)
                return;
            st->running = true;
        }
        f();
        {
            std::lock_guard lk(st->m);
            st->done = true;
        }
        st->cv.notify_all();
    });
    std::unique_lock lk(st->m);
    st->cv.wait(lk, [&] { return st->done || (Terminated() && !st->running); });
    if (!st->done) {
        st->abandoned = true;
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// TStepQueue

void TStepQueue::Post(std::function<void()> step)
{
    {
        std::lock_guard lk(mutex_);
        steps_.push_back(std::move(step));
    }
    cv_.notify_one();
}

void TStepQueue::RunNext()
{
    std::function<void()> step;
    {
        std::unique_lock lk(mutex_);
        cv_.wait(lk, [&] { return !steps_.empty(); });
        step = std::move(steps_.front());
        steps_.pop_front();
    }
    // Outside the lock: a step may queue further steps.
    step();
}

// ---------------------------------------------------------------------------
// TCacheWriteJob

TCacheWriteJob::~TCacheWriteJob()
{
    Join();
}

void TCacheWriteJob::Start(std::function<void()> onDone)
{
    thread_ = std::thread([this, onDone = std::move(onDone)] {
        Run();
        onDone();
    });
}

void TCacheWriteJob::Join()
{
    if (thread_.joinable())
        thread_.join();
}

void TCacheWriteJob::Drop(const raster::DibHandle& dib)
{
    std::lock_guard lk(mutex_);
    if (done_) {
        raster::DibHandle d = dib;
        raster::deldib(d);
    } else {
        dropped_.push_back(dib);
    }
}

void TCacheWriteJob::Run()
{
    // Files a stopped pass did not reach keep their entries, when they
    // are still the pictures the entries were made of.
    for (const std::string& name : Untaken) {
        if (const CacheEntry* e = Work->Cache().Find(name, CalcCheckValue(Work->Folder + name))) {
            Names.push_back(name);
            Infos.push_back(e->Info);
            Dibs.emplace_back();
            Kept.push_back(e);
        }
    }
    std::vector<CacheThumb> thumbs;
    thumbs.reserve(Names.size());
    for (size_t i = 0; i < Names.size(); ++i)
        thumbs.push_back(CacheThumb{&Names[i], &Infos[i], Dibs[i].Bits ? &Dibs[i] : nullptr, Kept[i]});
    Result = WriteCacheFile(Path, thumbs, Work->Cache().Source.get());
    std::vector<raster::DibHandle> dropped;
    {
        std::lock_guard lk(mutex_);
        done_ = true;
        dropped.swap(dropped_);
    }
    for (raster::DibHandle& d : dropped)
        raster::deldib(d);
}

// ---------------------------------------------------------------------------
// TPassFront

std::unique_ptr<TPassThread> TPassFront::NewPassThread(std::shared_ptr<TPassWork> work,
                                                       TPassThread::TFileCallback callback,
                                                       std::function<void()> onTerminate)
{
    return std::make_unique<TPassThread>([this](std::function<void()> step) { PostStep(std::move(step)); },
                                         std::move(work), std::move(callback), std::move(onTerminate));
}

// ---------------------------------------------------------------------------
// TFolderPass

std::shared_ptr<TFolderPass> TFolderPass::Create(TPassFront& front, TThumbPool& pool, const std::string& folder,
                                                 uint64_t generation, const TPrepareOptions& options,
                                                 THeldThumbs held)
{
    return std::shared_ptr<TFolderPass>(new TFolderPass(front, pool, folder, generation, options, held));
}

TFolderPass::TFolderPass(TPassFront& front, TThumbPool& pool, const std::string& folder, uint64_t generation,
                         const TPrepareOptions& options, THeldThumbs held)
    : front_(front), pool_(pool), folder_(folder), held_(held),
      work_(std::make_shared<TPassWork>(folder, generation))
{
    work_->Options = options;
}

TFolderPass::~TFolderPass()
{
    // The thread goes first: no step of it may reach a pass that is gone.
    thread_.reset();
    work_->Stop();
    if (serving_)
        pool_.Serve(nullptr);
    if (writeJob_)
        writeJob_->Join();
}

void TFolderPass::Start()
{
    front_.PassLine("Bearbeite Verzeichnis: " + folder_);
    std::weak_ptr<TFolderPass> weak = weak_from_this();
    // The cache file is read by the pass's thread, so a folder of many
    // pictures does not hold up the front end.
    thread_ = front_.NewPassThread(
        work_, [this](const std::string& name, std::optional<TPreparedFile>& prepared) { NewFile(name, &prepared); },
        [weak] {
            if (auto self = weak.lock())
                self->ThreadEnded();
        });
    thread_->Done = false;
    pool_.Serve(work_);
    serving_ = true;
    thread_->Start();
}

void TFolderPass::Stop()
{
    if (threadEnded_)
        return;
    if (thread_)
        thread_->Terminate();
    // Work prepared ahead for this pass is dropped, never shown.
    work_->Stop();
}

void TFolderPass::NewFile(const std::string& name, std::optional<TPreparedFile>* prepared)
{
    ShowPassFile(front_, work_.get(), work_->Folder, name, prepared, work_->Options);
}

namespace {

void ReportCacheRead(TPassFront& front, TPassWork& work)
{
    if (work.CacheReported)
        return;
    work.CacheReported = true;
    // A file of someone else's under our name is not ours to claim as loaded.
    if (work.CacheRead() == TCacheReadResult::Read)
        front.PassLine("Browser-Informationen geladen.");
}

}  // namespace

void TFolderPass::ThreadEnded()
{
    if (threadEnded_ || !thread_)
        return;
    threadEnded_ = true;
    thread_->WaitFor();
    const bool completed = thread_->Done && !thread_->Terminated();
    thread_.reset();
    pool_.Serve(nullptr);
    serving_ = false;
    if (work_->Listed())
        ReportCacheRead(front_, *work_);
    if (WriteCache(completed))
        return;  // the pass ends when the file is written
    End(completed);
}

bool TFolderPass::WriteCache(bool completed)
{
    const auto count = held_.Thumbs.size();
    if (count == 0 || folder_.empty())
        return false;
    size_t held = 0;
    for (const raster::DibHandle& d : held_.Thumbs)
        held += d.Bits ? 1 : 0;
    // Only a file that would change is written: a thumbnail was made, or an
    // entry is no longer used (its picture gone, renamed or deleted here).
    // A stopped pass merges what it made into the entries of the files it
    // did not reach; without anything made, that is the file as it is.
    const bool changed = completed ? work_->Made > 0 || work_->UsedEntryCount != work_->Cache().Entries.size() ||
                                         held != work_->UsedEntryCount
                                   : work_->Made > 0;
    if (!changed || held == 0)
        return false;
    auto job = std::make_unique<TCacheWriteJob>();
    job->Path = IncludeBackslash(folder_) + kCacheFileName;
    job->Work = work_;
    job->Completed = completed;
    for (size_t i = 0; i < count; ++i) {
        // Pictures that could not be read have a cell but no thumbnail to keep.
        if (!held_.Thumbs[i].Bits)
            continue;
        job->Names.push_back(held_.Names[i]);
        job->Infos.push_back(held_.Infos[i]);
        job->Dibs.push_back(held_.Thumbs[i]);
        job->Kept.push_back(nullptr);
    }
    if (!completed)
        job->Untaken = work_->Untaken();
    front_.PassWritingCache();
    writeJob_ = std::move(job);
    std::weak_ptr<TFolderPass> weak = weak_from_this();
    TPassFront* front = &front_;
    writeJob_->Start([front, weak] {
        front->PostStep([weak] {
            if (auto self = weak.lock())
                self->CacheWritten();
        });
    });
    return true;
}

void TFolderPass::CacheWritten()
{
    if (!writeJob_)
        return;
    writeJob_->Join();
    // A folder the user may not write into simply keeps no cache.
    const bool written = writeJob_->Result == TCacheWriteResult::Written;
    const bool completed = writeJob_->Completed;
    writeJob_.reset();
    if (written)
        front_.PassLine("Browser-Informationen geschrieben.");
    End(completed);
}

void TFolderPass::End(bool completed)
{
    // The folder named is the pass's own, whatever the front end shows by now.
    front_.PassLine("Bearbeitung von Verzeichnis " + folder_ + (completed ? " abgeschloßen." : " abgebrochen."));
    // The front end may start the next pass here; nothing of this one is touched afterwards.
    front_.PassFinished(completed);
}

void TFolderPass::ReleaseThumb(const raster::DibHandle& dib)
{
    if (writeJob_) {
        writeJob_->Drop(dib);
    } else {
        raster::DibHandle d = dib;
        raster::deldib(d);
    }
}

void ShowPassFile(TPassFront& front, TPassWork* work, const std::string& folder, const std::string& name,
                  std::optional<TPreparedFile>* prepared, const TPrepareOptions& options)
{
    if (work)
        ReportCacheRead(front, *work);
    if (folder.empty())
        return;
    TPreparedFile local;
    TPreparedFile* p = nullptr;
    if (prepared && prepared->has_value()) {
        p = &prepared->value();
    } else {
        static const TThumbCacheIndex kNoEntries;
        local = PrepareFile(IncludeBackslash(folder), name, work ? work->Cache() : kNoEntries,
                            IncludeBackslash(folder) + kCacheFileName, options);
        p = &local;
    }
    switch (p->Kind) {
    case TPreparedFile::NotPicture:
        return;
    case TPreparedFile::Cached:
        if (work)
            work->NoteUsedEntry(p->EntryIndex);
        front.PassThumb(TPreparedFile::Cached, p->TakeThumb(), name, p->Info);
        break;
    case TPreparedFile::Made:
        if (work)
            ++work->Made;
        front.PassThumb(TPreparedFile::Made, p->TakeThumb(), name, p->Info);
        break;
    case TPreparedFile::Unusable:
        front.PassLine("Fehler beim Laden von " + name + " [" + p->ErrorText + "]");
        // A cell without a picture, so the file can still be found and deleted.
        front.PassThumb(TPreparedFile::Unusable, raster::DibHandle(), name, ThumbInfo{});
        break;
    case TPreparedFile::CacheUnloadable:
    case TPreparedFile::NotMade:
        break;
    }
    // The pass's progress over the folder's files.
    if (work && work->FileCount() > 0)
        front.PassProgress(static_cast<int>(100 * work->Taken() / work->FileCount()));
}
