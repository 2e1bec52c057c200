// One budget for the pixel memory that decoders hold while they work, shared
// by every thread of the process. Without it, a folder of pictures that are
// small files but huge pictures ("decompression bombs") would be decoded on
// every thread at once and take more memory than the machine has.
//
// A decode runs inside a TPixelBudgetScope; every large allocation it makes
// (the picture's rows, a decoder's own full-size buffers) is charged to the
// scope with ChargePixelBudget and given back when the scope ends. The first
// charge of a scope waits until the budget has room; a request larger than
// the whole budget waits until nothing else is in flight and then goes alone.
// Later charges of a scope never wait: a thread that already holds a share
// must not wait for memory that only it could give back.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace raster {

class TPixelBudget {
public:
    explicit TPixelBudget(uint64_t capacity);
    TPixelBudget(const TPixelBudget&) = delete;
    TPixelBudget& operator=(const TPixelBudget&) = delete;

    uint64_t Capacity() const { return capacity_; }
    // Waits for room as described above, then takes bytes.
    void Acquire(uint64_t bytes);
    // Takes bytes at once, even beyond the capacity.
    void AcquireNow(uint64_t bytes);
    void Release(uint64_t bytes);
    uint64_t InFlight() const;
    // The most that was ever in flight at once.
    uint64_t Peak() const;
    // Threads waiting in Acquire now.
    int Waiting() const;

private:
    void Take(uint64_t bytes);

    const uint64_t capacity_;
    mutable std::mutex m_;
    std::condition_variable cv_;
    uint64_t inFlight_ = 0;
    uint64_t peak_ = 0;
    int waiting_ = 0;
};

// The process's budget: a quarter of the machine's memory, at least 256 MiB
// and at most 1 GiB.
TPixelBudget& ProcessPixelBudget();

// Charges of the calling thread go to this scope until it ends. Scopes nest:
// an inner scope (OpenDib's own) adds to the outer one (a thumbnail's decode
// and shrink), and only the outermost gives the memory back.
class TPixelBudgetScope {
public:
    explicit TPixelBudgetScope(TPixelBudget& budget = ProcessPixelBudget());
    ~TPixelBudgetScope();
    TPixelBudgetScope(const TPixelBudgetScope&) = delete;
    TPixelBudgetScope& operator=(const TPixelBudgetScope&) = delete;

private:
    bool outermost_;
};

// Charges bytes to the calling thread's scope; without a scope, nothing.
void ChargePixelBudget(uint64_t bytes);

}  // namespace raster
