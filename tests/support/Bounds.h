// Bounds of a test's own, so that a fault fails the test clearly instead of
// reaching the CTest time-out, and so that the bounds hold on a busy machine:
// processor time of the calling thread (unaffected by other processes), and
// a backstop that ends a wait that would otherwise never end.
#pragma once

#include <time.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>

namespace wltest {

// User and system time the calling thread has used so far.
inline double ThreadCpuSeconds()
{
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The least processor time of `runs` calls of f: the minimum is the figure a
// busy machine disturbs least (caches, migrations).
template <class F>
double LeastThreadCpuSeconds(int runs, F&& f)
{
    double best = std::numeric_limits<double>::max();
    for (int i = 0; i < runs; ++i) {
        const double t0 = ThreadCpuSeconds();
        f();
        best = std::min(best, ThreadCpuSeconds() - t0);
    }
    return best;
}

// Runs action on a helper thread once `after` has passed, unless the
// backstop is destroyed first. A test that waits for something which a
// fault would keep from ever happening puts one around the wait, so the
// wait ends and the test's own check fails.
class TBackstop {
public:
    TBackstop(std::chrono::milliseconds after, std::function<void()> action)
        : thread_([this, after, action = std::move(action)] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!cond_.wait_for(lock, after, [this] { return done_; })) {
                  fired_ = true;
                  lock.unlock();
                  action();
              }
          })
    {
    }
    ~TBackstop()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        cond_.notify_all();
        thread_.join();
    }
    TBackstop(const TBackstop&) = delete;
    TBackstop& operator=(const TBackstop&) = delete;

    bool Fired()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return fired_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cond_;
    bool done_ = false;
    bool fired_ = false;
    std::thread thread_;  // last: starts once the fields above exist
};

}  // namespace wltest
