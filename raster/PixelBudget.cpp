#include "raster/PixelBudget.h"

#include <unistd.h>

#include <algorithm>

namespace raster {

TPixelBudget::TPixelBudget(uint64_t capacity) : capacity_(std::max<uint64_t>(capacity, 1)) {}

void TPixelBudget::Take(uint64_t bytes)
{
    inFlight_ += bytes;
    peak_ = std::max(peak_, inFlight_);
}

void TPixelBudget::Acquire(uint64_t bytes)
{
    std::unique_lock lk(m_);
    ++waiting_;
    cv_.wait(lk, [&] { return inFlight_ == 0 || inFlight_ + bytes <= capacity_; });
    --waiting_;
    Take(bytes);
}

void TPixelBudget::AcquireNow(uint64_t bytes)
{
    std::lock_guard lk(m_);
    Take(bytes);
}

void TPixelBudget::Release(uint64_t bytes)
{
    {
        std::lock_guard lk(m_);
        inFlight_ -= std::min(bytes, inFlight_);
    }
    cv_.notify_all();
}

uint64_t TPixelBudget::InFlight() const
{
    std::lock_guard lk(m_);
    return inFlight_;
}

uint64_t TPixelBudget::Peak() const
{
    std::lock_guard lk(m_);
    return peak_;
}

int TPixelBudget::Waiting() const
{
    std::lock_guard lk(m_);
    return waiting_;
}

TPixelBudget& ProcessPixelBudget()
{
    static TPixelBudget budget([] {
        const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
        const uint64_t machine = pages > 0 && pageSize > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize)
                                                           : uint64_t{4} << 30;
        return std::clamp<uint64_t>(machine / 4, uint64_t{256} << 20, uint64_t{1} << 30);
    }());
    return budget;
}

namespace {

struct TThreadShare {
    TPixelBudget* Budget = nullptr;
    uint64_t Held = 0;
    int Depth = 0;
};
thread_local TThreadShare tShare;

}  // namespace

TPixelBudgetScope::TPixelBudgetScope(TPixelBudget& budget) : outermost_(tShare.Depth == 0)
{
    if (outermost_) {
        tShare.Budget = &budget;
        tShare.Held = 0;
    }
    ++tShare.Depth;
}

TPixelBudgetScope::~TPixelBudgetScope()
{
    --tShare.Depth;
    if (!outermost_)
        return;
    if (tShare.Held > 0)
        tShare.Budget->Release(tShare.Held);
    tShare.Held = 0;
    tShare.Budget = nullptr;
}

void ChargePixelBudget(uint64_t bytes)
{
    if (tShare.Depth == 0 || bytes == 0)
        return;
    if (tShare.Held == 0)
        tShare.Budget->Acquire(bytes);
    else
        tShare.Budget->AcquireNow(bytes);
    tShare.Held += bytes;
}

}  // namespace raster
