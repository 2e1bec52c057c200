#include "net/WSockbuf.h"

#include <algorithm>
#include <cstring>

TBuffer::TBuffer(int Size)
{
    size_ = Size > 0 ? Size : kDefaultSize;
    buf_ = std::make_unique<char[]>(static_cast<std::size_t>(size_));
}

int TBuffer::Write(const void* Data, int Len)
{
    if (Len <= 0 || !Data)
        return 0;
    int n = std::min(Len, size_ - wr_);
    if (n <= 0)
        return 0;
    std::memcpy(buf_.get() + wr_, Data, static_cast<std::size_t>(n));
    wr_ += n;
    return n;
}

int TBuffer::Peek(const char*& Data) const
{
    Data = buf_.get() + rd_;
    return wr_ - rd_;
}

void TBuffer::Remove(int Len)
{
    if (Len <= 0)
        return;
    rd_ += std::min(Len, wr_ - rd_);
    if (rd_ == wr_)
        rd_ = wr_ = 0;
}

void TBuffer::SetBufSize(int NewSize)
{
    if (NewSize <= 0)
        NewSize = kDefaultSize;
    int keep = Count();
    if (NewSize < keep)
        NewSize = keep;
    auto fresh = std::make_unique<char[]>(static_cast<std::size_t>(NewSize));
    if (keep > 0)
        std::memcpy(fresh.get(), buf_.get() + rd_, static_cast<std::size_t>(keep));
    buf_ = std::move(fresh);
    size_ = NewSize;
    rd_ = 0;
    wr_ = keep;
}
