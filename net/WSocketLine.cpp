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
    fRcvdPtr.clear();
    fRcvdPtr.shrink_to_fit();
    fRcvCnt = 0;
    fLineLength = 0;
}

void TCustomLineWSocket::EnsureBuffer(int Need)
{
    if (static_cast<int>(fRcvdPtr.size()) < Need)
        fRcvdPtr.resize(static_cast<std::size_t>(std::max(Need, 256)));
}

void TCustomLineWSocket::RemoveFront(int Count)
{
    Count = std::min(Count, fRcvCnt);
    if (Count <= 0)
        return;
    std::memmove(fRcvdPtr.data(), fRcvdPtr.data() + Count, static_cast<std::size_t>(fRcvCnt - Count));
    fRcvCnt -= Count;
    fRcvdPtr[static_cast<std::size_t>(fRcvCnt)] = 0;
}

int TCustomLineWSocket::FindLineEnd(int From) const
{
    const int len = static_cast<int>(fLineEnd.size());
    if (len == 0 || fRcvCnt < len)
        return -1;
    const char* b = fRcvdPtr.data();
    const char* hit = std::search(b + std::max(From, 0), b + fRcvCnt, fLineEnd.begin(), fLineEnd.end());
    return hit == b + fRcvCnt ? -1 : static_cast<int>(hit - b);
}

int TCustomLineWSocket::GetRcvdCount()
{
    if (fLineMode)
        return fLineLength;
    int socketCount = TCustomWSocket::GetRcvdCount();
    // Leftovers of an earlier line-mode period are served first.
    if (fRcvCnt > 0)
        return fRcvCnt + std::max(socketCount, 0);
    return socketCount;
}

int TCustomLineWSocket::DoRecv(void* Buffer, int BufferSize, int Flags)
{
    if (BufferSize < 0)
        BufferSize = 0;
    if (fLineMode && fLineLength > 0) {
        int n = std::min(BufferSize, fLineLength);
        std::memcpy(Buffer, fRcvdPtr.data(), static_cast<std::size_t>(n));
        RemoveFront(n);
        fLineLength -= n;
        return n;
    }
    if (!fLineMode && fRcvCnt > 0) {
        int n = std::min(BufferSize, fRcvCnt);
        std::memcpy(Buffer, fRcvdPtr.data(), static_cast<std::size_t>(n));
        RemoveFront(n);
        return n;
    }
    if (fLineMode && fRcvCnt > 0) {
        // Reading the socket now would put its bytes ahead of the unfinished
        // line already held: nothing is readable as a line yet.
        fLastError = WSAEWOULDBLOCK;
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
    while (fLineMode && !fLineEnd.empty()) {
        int i = FindLineEnd(SearchFrom);
        if (i < 0)
            return;
        fLineLength = i + static_cast<int>(fLineEnd.size());
        while (fLineMode && fLineLength > 0) {
            if (!OnDataAvailable) {
                RemoveFront(fLineLength);  // no reader: the line is dropped
                fLineLength = 0;
                break;
            }
            int before = fLineLength;
            int h = fHSocket;
            uint64_t gen = SessionGen();
            OnDataAvailable(this, 0);
            if (fLineMode && fLineLength == before)
                return;
            if (!Live(h, gen) && fRcvdPtr.empty())
                return;  // closed inside the handler: the buffer is gone
        }
        SearchFrom = 0;
    }
}

bool TCustomLineWSocket::TriggerDataAvailable(uint16_t Error)
{
    if (!fLineMode || fLineEnd.empty())
        return TCustomWSocket::TriggerDataAvailable(Error);
    int count = 0;
    if (fHSocket == -1 || ::ioctl(fHSocket, FIONREAD, &count) != 0 || count <= 0)
        return true;
    // A line that would outgrow the buffer is offered as it stands, so a
    // peer that never sends a line end cannot exhaust memory.
    if (fRcvCnt >= kMaxLineBuffer) {
        if (OnLineTooLong)
            OnLineTooLong(this);
        fLineLength = fRcvCnt;
        while (fLineMode && fLineLength > 0 && OnDataAvailable) {
            int before = fLineLength;
            OnDataAvailable(this, 0);
            if (fLineLength == before)
                break;
        }
        if (fLineMode && fRcvCnt >= kMaxLineBuffer) {
            fRcvCnt = 0;  // unread and no reader: dropped like a line without handler
            fLineLength = 0;
        }
        if (fHSocket == -1)
            return true;
    }
    const int readable = count;
    count = std::min(count, kMaxLineBuffer - fRcvCnt);
    EnsureBuffer(fRcvCnt + count + 1);
    int n = TCustomWSocket::DoRecv(fRcvdPtr.data() + fRcvCnt, count, 0);
    if (n <= 0)
        return true;
    if (n == readable)
        MarkReadDrained();
    fRcvdPtr[static_cast<std::size_t>(fRcvCnt + n)] = 0;
    if (fLineEdit) {
        n = EditLine(n);
    } else if (fLineEcho) {
        Send(fRcvdPtr.data() + fRcvCnt, n);
    }
    int oldCnt = fRcvCnt;
    fRcvCnt += n;
    fRcvdPtr[static_cast<std::size_t>(fRcvCnt)] = 0;
    OfferLines(std::max(0, oldCnt - static_cast<int>(fLineEnd.size())));
    return true;
}

void TCustomLineWSocket::TriggerSessionClosed(uint16_t Error)
{
    if (!fRcvdPtr.empty()) {
        // What is left is offered before the close: in line mode as one last
        // line without line end, outside line mode as plain data. The handler
        // may switch modes meanwhile; offering ends when nothing is consumed.
        while (fRcvCnt > 0 && OnDataAvailable) {
            int before = fRcvCnt;
            if (fLineMode && fLineLength == 0)
                fLineLength = fRcvCnt;
            OnDataAvailable(this, 0);
            if (fRcvCnt == before)
                break;
        }
        fRcvdPtr.clear();
        fRcvdPtr.shrink_to_fit();
        fRcvCnt = 0;
        fLineLength = 0;
    }
    TCustomWSocket::TriggerSessionClosed(Error);
}

void TCustomLineWSocket::SetLineMode(bool Value)
{
    if (Value == fLineMode)
        return;
    fLineMode = Value;
    // A partly read line is not a line any more; the buffer is scanned again.
    fLineLength = 0;
    if (fRcvCnt > 0 && !fReofferPosted) {
        fReofferPosted = true;
        PostToSelf([this] { Reoffer(); });
    }
}

// Offers the bytes already buffered after a change of LineMode. Ends when
// they are consumed or when a round consumes nothing.
void TCustomLineWSocket::Reoffer()
{
    fReofferPosted = false;
    if (fHSocket == -1 && fRcvCnt == 0)
        return;
    try {
        while (fRcvCnt > 0) {
            int before = fRcvCnt;
            if (fLineMode && !fLineEnd.empty()) {
                OfferLines(0);
            } else if (!TCustomWSocket::TriggerDataAvailable(0)) {
                fRcvCnt = 0;  // no reader: discarded, as the receive loop does
                break;
            }
            if (fRcvCnt == before)
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
    const char* in = fRcvdPtr.data() + fRcvCnt;
    std::string src(in, in + NewCount);
    std::string out;
    std::string echo;
    int base = fRcvCnt;  // buffer bytes before base are kept as they are
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
            if (removed && fLineEcho)
                echo += "\b \b";
        } else if (c == 9) {
            int col = base + static_cast<int>(out.size());
            int blanks = 8 - col % 8;
            out.append(static_cast<std::size_t>(blanks), ' ');
            if (fLineEcho)
                echo.append(static_cast<std::size_t>(blanks), ' ');
        } else {
            out += c;
            if (fLineEcho)
                echo += c;
        }
        if (base + static_cast<int>(out.size()) >= kMaxLineBuffer)
            break;
    }
    EnsureBuffer(base + static_cast<int>(out.size()) + 1);
    std::memcpy(fRcvdPtr.data() + base, out.data(), out.size());
    fRcvCnt = base;
    fRcvdPtr[static_cast<std::size_t>(base + static_cast<int>(out.size()))] = 0;
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
    const bool limited = fTimeoutMs != 0;
    const TNoticeDeadline limit =
        limited ? TNoticeClock::now() + std::chrono::milliseconds(fTimeoutMs) : TNoticeDeadline::max();
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
