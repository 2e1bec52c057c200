// TNoticeTimer over timerfd and the notice dispatcher.
#include "net/NoticeTimer.h"

// system
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>

TNoticeTimer::TNoticeTimer(std::function<void()> OnFire) : fOnFire(std::move(OnFire)) {}

TNoticeTimer::~TNoticeTimer()
{
    if (fWatch != 0)
        TNoticeDispatcher::Current().Unwatch(fWatch);
    if (fFd != -1)
        ::close(fFd);
}

bool TNoticeTimer::Start(TNoticeDeadline At)
{
    if (fFd == -1) {
        fFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (fFd == -1)
            return false;
        fWatch = TNoticeDispatcher::Current().Watch(fFd, TNoticeDispatcher::kReadable, [this](uint32_t) { Fired(); });
        if (fWatch == 0) {
            ::close(fFd);
            fFd = -1;
            return false;
        }
    }
    fDue = At;
    fArmed = true;
    // A kernel timer due no later than At serves as it is: when it fires
    // early, Fired sets it for the rest. A client arms and stops its timer
    // for every request; this spares the system calls of most of them.
    if (fKernelArmed && fKernelDue <= At)
        return true;
    return SetKernel(At);
}

bool TNoticeTimer::SetKernel(TNoticeDeadline At)
{
    // steady_clock is CLOCK_MONOTONIC on Linux: the deadline converts as a
    // relative time from now.
    auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(At - TNoticeClock::now()).count();
    if (left < 1)
        left = 1;  // zero would disarm
    itimerspec its{};
    its.it_value.tv_sec = static_cast<time_t>(left / 1000000000);
    its.it_value.tv_nsec = static_cast<long>(left % 1000000000);
    if (::timerfd_settime(fFd, 0, &its, nullptr) != 0) {
        fArmed = false;
        return false;
    }
    fKernelArmed = true;
    fKernelDue = At;
    return true;
}

void TNoticeTimer::Stop()
{
    // The kernel timer may run on: firing while not armed does nothing.
    fArmed = false;
}

void TNoticeTimer::Fired()
{
    uint64_t expirations;
    if (::read(fFd, &expirations, sizeof expirations) != static_cast<ssize_t>(sizeof expirations))
        return;  // re-armed after the readiness was collected
    fKernelArmed = false;
    if (!fArmed)
        return;
    if (TNoticeClock::now() < fDue) {
        SetKernel(fDue);  // set earlier for a deadline since moved on
        return;
    }
    fArmed = false;
    if (fOnFire)
        fOnFire();
}
