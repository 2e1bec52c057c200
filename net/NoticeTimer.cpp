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
    // steady_clock is CLOCK_MONOTONIC on Linux: the deadline converts as a
    // relative time from now.
    auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(At - TNoticeClock::now()).count();
    if (left < 1)
        left = 1;  // zero would disarm
    itimerspec its{};
    its.it_value.tv_sec = static_cast<time_t>(left / 1000000000);
    its.it_value.tv_nsec = static_cast<long>(left % 1000000000);
    if (::timerfd_settime(fFd, 0, &its, nullptr) != 0)
        return false;
    fArmed = true;
    return true;
}

void TNoticeTimer::Stop()
{
    if (fFd == -1 || !fArmed)
        return;
    itimerspec its{};
    ::timerfd_settime(fFd, 0, &its, nullptr);
    uint64_t expirations;
    [[maybe_unused]] ssize_t n = ::read(fFd, &expirations, sizeof expirations);
    fArmed = false;
}

void TNoticeTimer::Fired()
{
    uint64_t expirations;
    if (::read(fFd, &expirations, sizeof expirations) != static_cast<ssize_t>(sizeof expirations))
        return;  // stopped or re-armed after the readiness was collected
    fArmed = false;
    if (fOnFire)
        fOnFire();
}
