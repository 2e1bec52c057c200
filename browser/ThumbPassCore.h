// The machinery of a thumbnail pass, in plain C++ without Qt: the window and
// the command line run the same pass. A pass's files are prepared ahead by a
// pool of worker threads (decode and shrink, or read from the cache); the
// pass's thread hands one step at a time to the front end's thread
// (FindStep), which takes the prepared files strictly in directory order.
// Everything the user sees is produced by those steps, so the grid, the memo
// and the cache file are the same as with one thread.
#pragma once

#include <deque>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "browser/ThumbBuilder.h"
#include "browser/ThumbCache.h"
#include "raster/Rasterwerk.h"

// One pass's shared state: the folder's cache entries, its files in name
// order and a slot per file for its prepared result.
class TPassWork {
public:
    TPassWork(std::string folder, uint64_t generation);

    const std::string Folder;       // ends in "/"
    const std::string CachePath;
    const uint64_t Generation;
    TPrepareOptions Options;

    // Reads the folder's cache file; run by the pass's thread before List.
    void ReadCache();
    // The entries read; complete once the files are listed.
    const TThumbCacheIndex& Cache() const { return cache_; }
    TCacheReadResult CacheRead() const { return cacheRead_; }
    // Reads the folder's file names (no folders) in natural name order; run
    // by the pass's thread. List is ReadNames then Publish, which hands the
    // names to the workers: the cache must be read by then.
    void List();
    std::vector<std::string> ReadNames() const;
    void Publish(std::vector<std::string> names);
    // Whether the cache-read line was added to the memo (front end's thread).
    bool CacheReported = false;
    // Thumbnails this pass made anew and the cache entries it used
    // (front end's thread): they tell whether the cache file must change.
    size_t Made = 0;
    std::vector<bool> UsedEntries;
    size_t UsedEntryCount = 0;
    void NoteUsedEntry(int32_t index);
    // The names of the files not taken yet (after the pass stopped).
    std::vector<std::string> Untaken() const;
    // Stops handing out work; prepared results are dropped with the pass.
    void Stop();
    bool Stopped() const { return stop_.load(); }

    // Blocks until the next file's result is ready, the list is used up or
    // `cancel` returns true (checked whenever the state changes).
    void WaitNextReady(const std::function<bool()>& cancel);
    // Whether the next file's result (or the end of the list) is there.
    bool NextReady() const;
    // The next file and its result (front end's thread); false at the end.
    bool TakeNext(std::string& name, std::optional<TPreparedFile>& prepared);
    size_t FileCount() const;
    bool Listed() const;
    size_t Taken() const;
    // Wakes every waiter (the stop of the pass's thread).
    void Wake();

    // Pool side: claims the next file to prepare, within the look-ahead window.
    bool Claim(size_t& index, std::string& name);
    void Store(size_t index, TPreparedFile result);
    bool HasClaimableWork() const;

private:
    friend class TThumbPool;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    TThumbCacheIndex cache_;
    TCacheReadResult cacheRead_ = TCacheReadResult::NotOpened;
    std::vector<std::string> names_;
    std::vector<std::optional<TPreparedFile>> results_;
    bool listed_ = false;
    size_t nextClaim_ = 0;
    size_t taken_ = 0;
    std::atomic<bool> stop_{false};
    std::function<void()> wakePool_;
};

// Threads that prepare the files of the current pass. One pass is served at
// a time; starting another drops the old one.
class TThumbPool {
public:
    explicit TThumbPool(unsigned threads = 0);  // 0: one per core
    ~TThumbPool();
    TThumbPool(const TThumbPool&) = delete;
    TThumbPool& operator=(const TThumbPool&) = delete;

    void Serve(std::shared_ptr<TPassWork> work);
    void Wake();
    unsigned ThreadCount() const { return static_cast<unsigned>(threads_.size()); }

private:
    void Run();
    std::mutex mutex_;
    std::condition_variable cv_;
    std::shared_ptr<TPassWork> work_;
    bool quit_ = false;
    std::vector<std::thread> threads_;
};

// Queues a step to run on the front end's thread, after the steps queued
// before it. The window posts to its event loop; the command line drains a
// TStepQueue.
using TPostStep = std::function<void(std::function<void()>)>;

// The pass's thread. It does no file work of its own: for every file it waits
// until the file is prepared, then has FindStep run on the front end's thread
// and waits for it. The end handler runs there too when it ends.
class TPassThread {
public:
    using TFileCallback = std::function<void(const std::string& name, std::optional<TPreparedFile>& prepared)>;

    TPassThread(TPostStep post, std::shared_ptr<TPassWork> work, TFileCallback callback,
                std::function<void()> onTerminate);
    virtual ~TPassThread();
    TPassThread(const TPassThread&) = delete;
    TPassThread& operator=(const TPassThread&) = delete;

    void Start();
    // Asks the thread to stop; no further file is processed.
    void Terminate();
    bool Terminated() const { return terminated_.load(); }
    // Waits until Execute has returned.
    void WaitFor();

    bool Done = false;
    TPassWork& Work() { return *work_; }

private:
    void Execute();
    void FindStep();
    // Runs f on the front end's thread and waits; false when the thread was
    // asked to stop before f ran.
    bool Synchronize(const std::function<void()>& f);

    TPostStep post_;
    std::shared_ptr<TPassWork> work_;
    TFileCallback callback_;
    std::function<void()> onTerminate_;
    std::atomic<bool> terminated_{false};
    std::thread thread_;
    std::mutex syncMutex_;
    std::shared_ptr<struct TSyncState> sync_;
};

// Steps queued for a thread that has no event loop of its own (the command
// line): it runs them one by one, in the order they were queued.
class TStepQueue {
public:
    // Any thread.
    void Post(std::function<void()> step);
    // Waits until a step is queued and runs it.
    void RunNext();
    TPostStep Poster() { return [this](std::function<void()> f) { Post(std::move(f)); }; }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> steps_;
};

// A cache file written on its own thread when a pass ends, so a folder of
// many pictures does not hold up the window. It reads the front end's
// thumbnails while it writes; a picture the front end lets go of meanwhile
// (a folder change, a deletion) is freed only once the file is complete.
class TCacheWriteJob {
public:
    std::string Path;
    std::vector<std::string> Names;
    std::vector<ThumbInfo> Infos;
    std::vector<raster::DibHandle> Dibs;    // shallow copies; Bits null: a kept entry
    std::vector<const CacheEntry*> Kept;    // entries of the old file to carry over
    std::vector<std::string> Untaken;       // files a stopped pass did not reach
    std::shared_ptr<TPassWork> Work;        // owns the entries Kept points at
    bool Completed = false;                 // the pass went through the whole folder
    TCacheWriteResult Result = TCacheWriteResult::Failed;

    TCacheWriteJob() = default;
    ~TCacheWriteJob();
    TCacheWriteJob(const TCacheWriteJob&) = delete;
    TCacheWriteJob& operator=(const TCacheWriteJob&) = delete;

    // Writes on a new thread; onDone runs there afterwards.
    void Start(std::function<void()> onDone);
    void Join();
    // Frees dib now, or when the file is complete if it may still be read.
    void Drop(const raster::DibHandle& dib);

private:
    void Run();

    std::thread thread_;
    std::mutex mutex_;
    bool done_ = false;
    std::vector<raster::DibHandle> dropped_;
};

// The first line of the browser's status memo; the command line prints the
// memo as the window shows it.
inline constexpr const char* kPassMemoHeading = "Statusinformationen:";

// What a pass needs of its front end: where its steps run and where its
// lines, thumbnails and end go. The window draws them; the command line
// prints the lines and keeps the thumbnails for the cache file.
class TPassFront {
public:
    virtual ~TPassFront() = default;
    // Runs step on the front end's thread after the steps posted before;
    // called from any thread.
    virtual void PostStep(std::function<void()> step) = 0;
    // The pass's thread; by default one whose steps go through PostStep.
    virtual std::unique_ptr<TPassThread> NewPassThread(std::shared_ptr<TPassWork> work,
                                                       TPassThread::TFileCallback callback,
                                                       std::function<void()> onTerminate);
    // A line for the status memo.
    virtual void PassLine(const std::string& line) = 0;
    // A file's cell, handed over to the front end: Cached and Made with their
    // thumbnail, Unusable without one (the picture could not be read).
    virtual void PassThumb(TPreparedFile::TKind kind, raster::DibHandle thumb, const std::string& name,
                           const ThumbInfo& info) = 0;
    // The share of the folder's files taken so far, 0 to 100.
    virtual void PassProgress(int percent) { (void)percent; }
    // The folder's cache file is about to be written.
    virtual void PassWritingCache() {}
    // The pass has ended: its cache file is written and its last line shown.
    virtual void PassFinished(bool completed) = 0;
};

// The thumbnails a front end holds, in display order: what the cache file
// stores when the pass ends.
struct THeldThumbs {
    const std::vector<raster::DibHandle>& Thumbs;
    const std::vector<std::string>& Names;
    const std::vector<ThumbInfo>& Infos;
};

// One pass over one folder, from its first memo line to its cache file and
// its last line. Used on the front end's thread only. Steps queued for it
// hold it weakly, so a step that arrives after the front end let go of the
// pass is dropped.
class TFolderPass : public std::enable_shared_from_this<TFolderPass> {
public:
    // front, pool and held must outlive the pass.
    static std::shared_ptr<TFolderPass> Create(TPassFront& front, TThumbPool& pool, const std::string& folder,
                                               uint64_t generation, const TPrepareOptions& options,
                                               THeldThumbs held);
    // Stops the pass's thread and waits for it and for a cache file being
    // written, which is completed: it never stays half done.
    ~TFolderPass();
    TFolderPass(const TFolderPass&) = delete;
    TFolderPass& operator=(const TFolderPass&) = delete;

    // Adds the pass's first line and starts its thread and the pool.
    void Start();
    // Asks the pass to stop between two files; it ends with PassFinished(false)
    // after the thumbnails made so far are written.
    void Stop();
    // Processes one file (the pass's thread hands them in name order).
    void NewFile(const std::string& name, std::optional<TPreparedFile>* prepared);
    // The running thread; null once the thread has ended.
    TPassThread* Thread() const { return thread_.get(); }
    const std::string& Folder() const { return folder_; }
    // Frees a thumbnail the front end lets go of, or, while the cache file is
    // being written from the thumbnails held, once the file is complete.
    void ReleaseThumb(const raster::DibHandle& dib);

private:
    TFolderPass(TPassFront& front, TThumbPool& pool, const std::string& folder, uint64_t generation,
                const TPrepareOptions& options, THeldThumbs held);
    // The thread's end, on the front end's thread.
    void ThreadEnded();
    // Starts writing the held thumbnails into the cache file when the pass
    // changed what it holds; false when nothing is written.
    bool WriteCache(bool completed);
    void CacheWritten();
    void End(bool completed);

    TPassFront& front_;
    TThumbPool& pool_;
    const std::string folder_;
    THeldThumbs held_;
    std::shared_ptr<TPassWork> work_;
    std::unique_ptr<TPassThread> thread_;
    std::unique_ptr<TCacheWriteJob> writeJob_;
    bool serving_ = false;
    bool threadEnded_ = false;
};

// Shows one file of folder through front. `prepared` is the worker's result
// for it (made here when absent); work, when a pass is running, supplies the
// cache entries and counts what the pass made and used.
void ShowPassFile(TPassFront& front, TPassWork* work, const std::string& folder, const std::string& name,
                  std::optional<TPreparedFile>* prepared, const TPrepareOptions& options);
