// The machinery of a thumbnail pass. A pass's files are prepared ahead by a
// pool of worker threads (decode and shrink, or read from the cache); the
// pass's thread TMyThread hands one step at a time to the user-interface
// thread (FindStep), which takes the prepared files strictly in directory
// order. Everything the user sees is produced by those steps, so the grid,
// the memo and the cache file are the same as with one thread.
#pragma once

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

class QObject;

// One pass's shared state: the folder's files in the order the directory
// gave them and a slot per file for its prepared result.
class TPassWork {
public:
    TPassWork(std::string folder, std::shared_ptr<const TThumbCacheIndex> cache, uint64_t generation);

    const std::string Folder;       // ends in "/"
    const std::string CachePath;
    const std::shared_ptr<const TThumbCacheIndex> Cache;
    const uint64_t Generation;
    TPrepareOptions Options;

    // Reads the folder's file names (no folders); run by the pass's thread.
    void List();
    // Stops handing out work; prepared results are dropped with the pass.
    void Stop();
    bool Stopped() const { return stop_.load(); }

    // Blocks until the next file's result is ready, the list is used up or
    // `cancel` returns true (checked whenever the state changes).
    void WaitNextReady(const std::function<bool()>& cancel);
    // Whether the next file's result (or the end of the list) is there.
    bool NextReady() const;
    // The next file and its result (user-interface thread); false at the end.
    bool TakeNext(std::string& name, std::optional<TPreparedFile>& prepared);
    size_t FileCount() const;
    size_t Taken() const;
    // Wakes every waiter (the stop of the pass's thread).
    void Wake();

    // Pool side: claims the next file to prepare, within the look-ahead window.
    bool Claim(size_t& index, std::string& name);
    void Store(size_t index, TPreparedFile result);
    bool HasClaimableWork() const;

private:
    friend class TThumbPool;
    mutable std::mutex m_;
    std::condition_variable cv_;
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
    std::mutex m_;
    std::condition_variable cv_;
    std::shared_ptr<TPassWork> work_;
    bool quit_ = false;
    std::vector<std::thread> threads_;
};

// The pass's thread. It does no file work of its own: for every file it waits
// until the file is prepared, then has FindStep run on the user-interface
// thread and waits for it. The end handler runs there too when it ends.
class TMyThread {
public:
    using TFileCallback = std::function<void(const std::string& name, std::optional<TPreparedFile>& prepared)>;

    // uiContext: an object of the user-interface thread; steps are posted to it.
    TMyThread(QObject* uiContext, std::shared_ptr<TPassWork> work, TFileCallback callback,
              std::function<void()> onTerminate);
    ~TMyThread();
    TMyThread(const TMyThread&) = delete;
    TMyThread& operator=(const TMyThread&) = delete;

    void Start();
    // Asks the thread to stop; no further file is processed.
    void Terminate();
    bool Terminated() const { return terminated_.load(); }
    // Waits until Execute has returned.
    void WaitFor();

    bool Done = false;
    bool FirstStep = true;
    std::string Mask;
    TPassWork& Work() { return *work_; }

private:
    void Execute();
    void FindStep();
    // Runs f on the user-interface thread and waits; false when the thread
    // was asked to stop before f ran.
    bool Synchronize(const std::function<void()>& f);

    QObject* ui_;
    std::shared_ptr<TPassWork> work_;
    TFileCallback callback_;
    std::function<void()> onTerminate_;
    std::atomic<bool> terminated_{false};
    std::thread thread_;
    std::mutex syncMutex_;
    std::shared_ptr<struct TSyncState> sync_;
};
