// One block of a socket's send chain: a fixed byte area with a write count
// and a read count. Blocks are reused from their start once drained.
#pragma once

#include <memory>

class TBuffer {
public:
    static constexpr int kDefaultSize = 1514;

    explicit TBuffer(int Size = kDefaultSize);  // 0 or less means the default

    // Appends as much of Data as fits; returns the count taken.
    int Write(const void* Data, int Len);
    // The unread part: its start in Data, its length as the result.
    int Peek(const char*& Data) const;
    // Marks Len unread bytes as read (clamped to what is unread). When all is
    // read both counts return to 0, so the block is reused from its start.
    void Remove(int Len);
    // Changes the area's size, keeping the unread bytes (moved to the start).
    // A size below the unread count keeps the unread count.
    void SetBufSize(int NewSize);

    int BufSize() const { return size_; }
    int Count() const { return wr_ - rd_; }  // unread bytes
    bool Empty() const { return wr_ == rd_; }
    int Free() const { return size_ - wr_; }

private:
    std::unique_ptr<char[]> buf_;
    int size_ = 0;
    int wr_ = 0;
    int rd_ = 0;
};
