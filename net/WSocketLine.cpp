// Line mode (TCustomLineWSocket) and the waiting helpers (TCustomSyncWSocket).
#include "net/WSocket.h"

#include <algorithm>
#include <cstring>
#include <sys/ioctl.h>

TCustomLineWSocket::TCustomLineWSocket() = default;

TCustomLineWSocket::~TCustomLineWSocket()
{
    // From here on the line class is gone: the base must not call back into it.
    MarkDestroying();
}

// Whatever a closed session left in the line buffer must not reach the next one.
void TCustomLineWSocket::ResetDefaults()
{
    TCustomWSocket::ResetDefaults();
    FRcvdPtr.clear();
    FRcvdPtr.shrink_to_fit();
    FRcvCnt = 0;
    FLineLength = 0;
}

void TCustomLineWSocket::EnsureBuffer(int Need)
{
    if (static_cast<int>(FRcvdPtr.size()) < Need)
        FRcvdPtr.resize(static_cast<std::size_t>(std::max(Need, 256)));
}

void TCustomLineWSocket::RemoveFront(int Count)
{
    Count = std::min(Count, FRcvCnt);
    if (Count <= 0)
        return;
    std::memmove(FRcvdPtr.data(), FRcvdPtr.data() + Count, static_cast<std::size_t>(FRcvCnt - Count));
    FRcvCnt -= Count;
    FRcvdPtr[static_cast<std::size_t>(FRcvCnt)] = 0;
}

int TCustomLineWSocket::FindLineEnd(int From) const
{
    const int len = static_cast<int>(FLineEnd.size());
    if (len == 0 || FRcvCnt < len)
        return -1;
    const char* b = FRcvdPtr.data();
    const char* hit = std::search(b + std::max(From, 0), b + FRcvCnt, FLineEnd.begin(), FLineEnd.end());
    return hit == b + FRcvCnt ? -1 : static_cast<int>(hit - b);
}

int TCustomLineWSocket::GetRcvdCount()
{
    if (FLineMode)
        return FLineLength;
    int socketCount = TCustomWSocket::GetRcvdCount();
    // Leftovers of an earlier line-mode period are served first.
    if (FRcvCnt > 0)
        return FRcvCnt + std::max(socketCount, 0);
    return socketCount;
}

int TCustomLineWSocket::DoRecv(void* Buffer, int BufferSize, int Flags)
{
    if (BufferSize < 0)
        BufferSize = 0;
    if (FLineMode && FLineLength > 0) {
        int n = std::min(BufferSize, FLineLength);
        std::memcpy(Buffer, FRcvdPtr.data(), static_cast<std::size_t>(n));
        RemoveFront(n);
        FLineLength -= n;
        return n;
    }
    if (!FLineMode && FRcvCnt > 0) {
        int n = std::min(BufferSize, FRcvCnt);
        std::memcpy(Buffer, FRcvdPtr.data(), static_cast<std::size_t>(n));
        RemoveFront(n);
        return n;
    }
    if (FLineMode && FRcvCnt > 0) {
        // Reading the socket now would put its bytes ahead of the unfinished
        // line already held: nothing is readable as a line yet.
        FLastError = WSAEWOULDBLOCK;
        SetLastPlatformError(WSAEWOULDBLOCK);
        return -1;
    }
    return TCustomWSocket::DoRecv(Buffer, BufferSize, Flags);
}

// Offers every complete line in the buffer, searching from SearchFrom. A
// handler that neither reads the offered line nor leaves line mode ends the
// offering; the line stays pending and is offered again with the next data.
void TCustomLineWSocket::OfferLines(int SearchFrom)
{
    while (FLineMode && !FLineEnd.empty()) {
        int i = FindLineEnd(SearchFrom);
        if (i < 0)
            return;
        FLineLength = i + static_cast<int>(FLineEnd.size());
        while (FLineMode && FLineLength > 0) {
            if (!OnDataAvailable) {
                RemoveFront(FLineLength);  // no reader: the line is dropped
                FLineLength = 0;
                break;
            }
            int before = FLineLength;
            int h = FHSocket;
            uint64_t gen = SessionGen();
            OnDataAvailable(this, 0);
            if (FLineMode && FLineLength == before)
                return;
            if (!Live(h, gen) && FRcvdPtr.empty())
                return;  // closed inside the handler: the buffer is gone
        }
        SearchFrom = 0;
    }
}

bool TCustomLineWSocket::TriggerDataAvailable(uint16_t Error)
{
    if (!FLineMode || FLineEnd.empty())
        return TCustomWSocket::TriggerDataAvailable(Error);
    int count = 0;
    if (FHSocket == -1 || ::ioctl(FHSocket, FIONREAD, &count) != 0 || count <= 0)
        return true;
    // A line that would outgrow the buffer is offered as it stands, so a
    // peer that never sends a line end cannot exhaust memory.
    if (FRcvCnt >= kMaxLineBuffer) {
        if (OnLineTooLong)
            OnLineTooLong(this);
        FLineLength = FRcvCnt;
        while (FLineMode && FLineLength > 0 && OnDataAvailable) {
            int before = FLineLength;
            OnDataAvailable(this, 0);
            if (FLineLength == before)
                break;
        }
        if (FLineMode && FRcvCnt >= kMaxLineBuffer) {
            FRcvCnt = 0;  // unread and no reader: dropped like a line without handler
            FLineLength = 0;
        }
        if (FHSocket == -1)
            return true;
    }
    count = std::min(count, kMaxLineBuffer - FRcvCnt);
    EnsureBuffer(FRcvCnt + count + 1);
    int n = TCustomWSocket::DoRecv(FRcvdPtr.data() + FRcvCnt, count, 0);
    if (n <= 0)
        return true;
    FRcvdPtr[static_cast<std::size_t>(FRcvCnt + n)] = 0;
    if (FLineEdit) {
        n = EditLine(n);
    } else if (FLineEcho) {
        Send(FRcvdPtr.data() + FRcvCnt, n);
    }
    int oldCnt = FRcvCnt;
    FRcvCnt += n;
    FRcvdPtr[static_cast<std::size_t>(FRcvCnt)] = 0;
    OfferLines(std::max(0, oldCnt - static_cast<int>(FLineEnd.size())));
    return true;
}

void TCustomLineWSocket::TriggerSessionClosed(uint16_t Error)
{
    if (!FRcvdPtr.empty()) {
        // What is left is offered before the close: in line mode as one last
        // line without line end, outside line mode as plain data. The handler
        // may switch modes meanwhile; offering ends when nothing is consumed.
        while (FRcvCnt > 0 && OnDataAvailable) {
            int before = FRcvCnt;
            if (FLineMode && FLineLength == 0)
                FLineLength = FRcvCnt;
            OnDataAvailable(this, 0);
            if (FRcvCnt == before)
                break;
        }
        FRcvdPtr.clear();
        FRcvdPtr.shrink_to_fit();
        FRcvCnt = 0;
        FLineLength = 0;
    }
    TCustomWSocket::TriggerSessionClosed(Error);
}

void TCustomLineWSocket::SetLineMode(bool Value)
{
    if (Value == FLineMode)
        return;
    FLineMode = Value;
    // A partly read line is not a line any more; the buffer is scanned again.
    FLineLength = 0;
    if (FRcvCnt > 0 && !FReofferPosted) {
        FReofferPosted = true;
        PostToSelf([this] { Reoffer(); });
    }
}

// Offers the bytes already buffered after a change of LineMode. Ends when
// they are consumed or when a round consumes nothing.
void TCustomLineWSocket::Reoffer()
{
    FReofferPosted = false;
    if (FHSocket == -1 && FRcvCnt == 0)
        return;
    try {
        while (FRcvCnt > 0) {
            int before = FRcvCnt;
            if (FLineMode && !FLineEnd.empty()) {
                OfferLines(0);
            } else if (!TCustomWSocket::TriggerDataAvailable(0)) {
                FRcvCnt = 0;  // no reader: discarded, as the receive loop does
                break;
            }
            if (FRcvCnt == before)
                break;
        }
    } catch (...) {
        // As in the receive loop: a handler's exception ends the offering.
    }
}

// Backspace and tab editing over the new bytes. Edited text never grows by
// more than 8 bytes per input byte, and the buffer is capped.
int TCustomLineWSocket::EditLine(int NewCount)
{
    const char* in = FRcvdPtr.data() + FRcvCnt;
    std::string src(in, in + NewCount);
    std::string out;
    std::string echo;
    int base = FRcvCnt;  // buffer bytes before base are kept as they are
    for (char c : src) {
        if (c == 8) {
            bool removed = false;
            if (!out.empty()) {
                out.pop_back();
                removed = true;
            } else if (base > 0) {
                --base;
                removed = true;
            }
            if (removed && FLineEcho)
                echo += "\b \b";
        } else if (c == 9) {
            int col = base + static_cast<int>(out.size());
            int blanks = 8 - col % 8;
            out.append(static_cast<std::size_t>(blanks), ' ');
            if (FLineEcho)
                echo.append(static_cast<std::size_t>(blanks), ' ');
        } else {
            out += c;
            if (FLineEcho)
                echo += c;
        }
        if (base + static_cast<int>(out.size()) >= kMaxLineBuffer)
            break;
    }
    EnsureBuffer(base + static_cast<int>(out.size()) + 1);
    std::memcpy(FRcvdPtr.data() + base, out.data(), out.size());
    FRcvCnt = base;
    FRcvdPtr[static_cast<std::size_t>(base + static_cast<int>(out.size()))] = 0;
    if (!echo.empty())
        SendStr(echo);
    return static_cast<int>(out.size());
}

// ---------------------------------------------------------------------------
// Waiting

int TCustomSyncWSocket::WaitUntilReady(const std::atomic<bool>& Flag)
{
    return WaitUntilReady([&Flag] { return Flag.load(); });
}

int TCustomSyncWSocket::WaitUntilReady(const std::function<bool()>& Ready)
{
    const bool limited = FTimeoutMs != 0;
    const TNoticeDeadline limit =
        limited ? TNoticeClock::now() + std::chrono::milliseconds(FTimeoutMs) : TNoticeDeadline::max();
    for (;;) {
        if (Ready())
            return 0;
        if (limited && TNoticeClock::now() >= limit)
            return kWaitGaveUp;
        if (ApplicationTerminating() || Terminated())
            return kWaitGaveUp;
        // Sleep in the kernel until a notice comes; the slice only lets a
        // flag set by another thread be seen.
        TNoticeDeadline slice = std::min(limit, TNoticeClock::now() + std::chrono::milliseconds(250));
        if (MultiThreaded()) {
            TNoticeDispatcher& d = TNoticeDispatcher::Current();
            d.WaitAndPump(slice);
            if (d.QuitSeen())
                PumpEvents();  // records the quit as this socket's terminated flag
        } else {
            WaitForNotices(slice);
        }
    }
}

int TCustomSyncWSocket::Synchronize(std::atomic<bool>& Flag, const std::function<void()>& Proc)
{
    Flag.store(false);
    if (Proc)
        Proc();
    return WaitUntilReady(Flag);
}
