// TNoticeTimer over timerfd and the notice dispatcher.
#include "net/NoticeTimer.h"

// system
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>

TNoticeTimer::TNoticeTimer(std::function<void()> OnFire) : FOnFire(std::move(OnFire)) {}

TNoticeTimer::~TNoticeTimer()
{
    if (FWatch != 0)
        TNoticeDispatcher::Current().Unwatch(FWatch);
    if (FFd != -1)
        ::close(FFd);
}

bool TNoticeTimer::Start(TNoticeDeadline At)
{
    if (FFd == -1) {
        FFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (FFd == -1)
            return false;
        FWatch = TNoticeDispatcher::Current().Watch(FFd, TNoticeDispatcher::kReadable, [this](uint32_t) { Fired(); });
        if (FWatch == 0) {
            ::close(FFd);
            FFd = -1;
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
    if (::timerfd_settime(FFd, 0, &its, nullptr) != 0)
        return false;
    FArmed = true;
    return true;
}

void TNoticeTimer::Stop()
{
    if (FFd == -1 || !FArmed)
        return;
    itimerspec its{};
    ::timerfd_settime(FFd, 0, &its, nullptr);
    uint64_t expirations;
    [[maybe_unused]] ssize_t n = ::read(FFd, &expirations, sizeof expirations);
    FArmed = false;
}

void TNoticeTimer::Fired()
{
    uint64_t expirations;
    if (::read(FFd, &expirations, sizeof expirations) != static_cast<ssize_t>(sizeof expirations))
        return;  // stopped or re-armed after the readiness was collected
    FArmed = false;
    if (FOnFire)
        FOnFire();
}
