// TCustomWSocket: the send chain and how it drains into the network.
#include "net/WSocket.h"
#include "net/WSocketSys.h"

#include <chrono>

// system
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

constexpr int kMaxIov = 256;
}  // namespace

// ---------------------------------------------------------------------------
// Sending

void TCustomWSocket::ClearChain()
{
    fBufList.clear();
}

void TCustomWSocket::AppendToChain(const char* Data, int Len)
{
    // A datagram keeps its boundaries: one Send is one block, one datagram.
    if (fType == SOCK_DGRAM) {
        auto b = std::make_unique<TBuffer>(std::max(Len, fBufSize));
        b->Write(Data, Len);
        fBufList.push_back(std::move(b));
        return;
    }
    while (Len > 0) {
        if (fBufList.empty() || fBufList.back()->Free() == 0) {
            if (fSpareBlock && fSpareBlock->BufSize() == fBufSize)
                fBufList.push_back(std::move(fSpareBlock));
            else
                fBufList.push_back(std::make_unique<TBuffer>(fBufSize));
        }
        int n = fBufList.back()->Write(Data, Len);
        Data += n;
        Len -= n;
    }
}

int TCustomWSocket::RawSend(const void* Data, int Len)
{
    int flags = fSendFlags | MSG_NOSIGNAL;
    ssize_t n;
    if (fType == SOCK_DGRAM)
        n = ::sendto(fHSocket, Data, static_cast<std::size_t>(Len), flags,
                     reinterpret_cast<const sockaddr*>(&fSin), sizeof fSin);
    else
        n = ::send(fHSocket, Data, static_cast<std::size_t>(Len), flags);
    if (n < 0) {
        int code = MapErrno();
        if (errno == EPIPE && fSendShut)
            code = WSAESHUTDOWN;
        SetLastPlatformError(code);
        return -1;
    }
    return static_cast<int>(n);
}

// Sends the chain as far as the network takes it. Several blocks go out in
// one sendmsg: the peer sees the same bytes, the events are the same.
void TCustomWSocket::TryToSend()
{
    if (fHSocket == -1 || fBufList.empty())
        return;
    for (;;) {
        // Drop drained blocks in front; keep one for reuse.
        while (!fBufList.empty() && fBufList.front()->Empty()) {
            if (fBufList.size() == 1) {
                fAllSent = true;
                UpdateInterest();
                return;
            }
            if (!fSpareBlock)
                fSpareBlock = std::move(fBufList.front());
            fBufList.pop_front();
        }
        int sent;
        int wanted;
        if (fType == SOCK_DGRAM || fSendFlags != 0) {
            const char* p;
            wanted = fBufList.front()->Peek(p);
            sent = RawSend(p, wanted);
        } else {
            iovec iov[kMaxIov];
            int n = 0;
            wanted = 0;
            for (auto it = fBufList.begin(); it != fBufList.end() && n < kMaxIov; ++it) {
                const char* p;
                int c = (*it)->Peek(p);
                if (c == 0)
                    continue;
                iov[n].iov_base = const_cast<char*>(p);
                iov[n].iov_len = static_cast<std::size_t>(c);
                wanted += c;
                ++n;
            }
            msghdr mh{};
            mh.msg_iov = iov;
            mh.msg_iovlen = static_cast<std::size_t>(n);
            ssize_t r = ::sendmsg(fHSocket, &mh, MSG_NOSIGNAL);
            if (r < 0) {
                int code = MapErrno();
                if (errno == EPIPE && fSendShut)
                    code = WSAESHUTDOWN;
                SetLastPlatformError(code);
                sent = -1;
            } else {
                sent = static_cast<int>(r);
            }
        }
        if (sent > 0) {
            int left = sent;
            for (auto& b : fBufList) {
                if (left <= 0)
                    break;
                int c = std::min(left, b->Count());
                b->Remove(c);
                left -= c;
            }
            if (sent == wanted)
                continue;
            break;
        }
        if (sent == 0)
            break;
        int code = LastPlatformError();
        if (code == WSAEINVAL || code == WSAENOTSOCK || code == WSAECONNABORTED ||
            code == WSAECONNRESET || code == WSAENOTCONN) {
            fCloseInvoked = true;
            ClearChain();  // the connection is gone: nothing left can be delivered
            fAllSent = true;
            Close();
            TriggerSessionClosed(static_cast<uint16_t>(code));
            return;
        }
        if (code == WSAEWOULDBLOCK)
            break;
        SocketError("TryToSend failed");
        return;
    }
    UpdateInterest();
}

int TCustomWSocket::Send(const void* Data, int Len)
{
    if (fState != wsConnected) {
        SetLastPlatformError(WSAENOTCONN);
        SocketError("Send");
        return -1;
    }
    // Clearing the all-sent flag for an empty send would leave Flush waiting
    // for data that never comes.
    if (Len <= 0 || !Data)
        return 0;
    fAllSent = false;
    int h = fHSocket;
    const uint64_t gen = fSessionGen;
    const char* p = static_cast<const char*>(Data);
    int left = Len;
    bool chainIdle = std::all_of(fBufList.begin(), fBufList.end(), [](const auto& b) { return b->Empty(); });
    if (chainIdle && fType == SOCK_STREAM) {
        // Nothing queued: write straight from the caller's bytes and copy
        // only what the network did not take. Same bytes, same events.
        int n = RawSend(p, left);
        if (n > 0) {
            p += n;
            left -= n;
        }
        if (left == 0) {
            fAllSent = true;
            PostToSelf([this, h, gen] {
                if (Live(h, gen))
                    HandleNotice(h, FD_WRITE, 0);
            });
            return Len;
        }
        AppendToChain(p, left);
        if (n < 0 && LastPlatformError() != WSAEWOULDBLOCK)
            TryToSend();  // meets the same failure and handles it
        else
            UpdateInterest();
        return Len;
    }
    AppendToChain(p, left);
    TryToSend();
    if (fAllSent && Live(h, gen)) {
        PostToSelf([this, h, gen] {
                if (Live(h, gen))
                    HandleNotice(h, FD_WRITE, 0);
            });
    }
    return Len;
}

int TCustomWSocket::SendStr(const std::string& Str)
{
    return Send(Str.data(), static_cast<int>(std::min<std::size_t>(Str.size(), 0x7fffffff)));
}

int TCustomWSocket::SendTo(const sockaddr_in& Dest, int DestLen, const void* Data, int Len)
{
    socklen_t len = static_cast<socklen_t>(std::clamp(DestLen, 0, static_cast<int>(sizeof Dest)));
    ssize_t n = ::sendto(fHSocket, Data, static_cast<std::size_t>(std::max(Len, 0)), fSendFlags | MSG_NOSIGNAL,
                         reinterpret_cast<const sockaddr*>(&Dest), len);
    if (n < 0) {
        fLastError = MapErrno();
        SetLastPlatformError(fLastError);
        return -1;
    }
    return static_cast<int>(n);
}

void TCustomWSocket::Flush()
{
    while (fHSocket != -1 && !fAllSent) {
        int h = fHSocket;
        const uint64_t gen = fSessionGen;
        TryToSend();
        if (!Live(h, gen))
            break;
        if (fAllSent) {
            // The last bytes left here rather than on a write notice; the
            // sent event still comes, from the dispatch as after Send.
            PostToSelf([this, h, gen] {
                if (Live(h, gen))
                    HandleNotice(h, FD_WRITE, 0);
            });
            break;
        }
        // The write notice wakes the wait; the bound only guards a paused socket.
        WaitForNotices(TNoticeClock::now() + std::chrono::milliseconds(100));
    }
}

void TCustomWSocket::WaitForClose()
{
    while (fHSocket != -1 && fState != wsClosed) {
        int h = fHSocket;
        const uint64_t gen = fSessionGen;
        WaitForNotices(TNoticeClock::now() + std::chrono::milliseconds(100));
        if (!Live(h, gen) || fState == wsClosed)
            break;
        int count = 0;
        if (::ioctl(h, FIONREAD, &count) == 0 && count > 0) {
            TriggerDataAvailable(0);
            if (!Live(h, gen))
                break;
        }
        char c;
        ssize_t n = ::recv(h, &c, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
            // The peer has closed or the connection failed: the kernel holds
            // the close notice now, and one more pump delivers it.
            PumpNotices();
            break;
        }
    }
}
