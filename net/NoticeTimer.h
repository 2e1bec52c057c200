// TNoticeTimer: a one-shot timer delivered as a notice of the owning thread.
//
// It is a timerfd watched by the thread's notice dispatcher, so it fires
// inside whatever pump runs there (Get's wait, the Qt bridge) and a wait
// sleeps in the kernel until it is due. The descriptor is made on the first
// Start and kept until the timer is destroyed.
#pragma once

#include <cstdint>
#include <functional>

#include "net/Dispatcher.h"

class TNoticeTimer {
public:
    explicit TNoticeTimer(std::function<void()> OnFire);
    ~TNoticeTimer();
    TNoticeTimer(const TNoticeTimer&) = delete;
    TNoticeTimer& operator=(const TNoticeTimer&) = delete;

    // (Re)arms the timer for At; a time already past fires on the next pump.
    // False when no timer descriptor could be made.
    bool Start(TNoticeDeadline At);
    void Stop();
    bool Armed() const { return fArmed; }

private:
    void Fired();
    bool SetKernel(TNoticeDeadline At);

    std::function<void()> fOnFire;
    int fFd = -1;
    uint64_t fWatch = 0;
    bool fArmed = false;        // Start'ed and neither stopped nor fired
    TNoticeDeadline fDue{};
    bool fKernelArmed = false;  // the timerfd runs, due at fKernelDue
    TNoticeDeadline fKernelDue{};
};
