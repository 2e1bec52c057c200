// TCustomWSocket: receiving, from the readiness notice to the caller's buffer.
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

void TCustomWSocket::ReceiveLoop(uint16_t Error, bool Final)
{
    int h = fHSocket;
    const uint64_t gen = fSessionGen;
    // A stream that never runs dry must not keep the thread from its other
    // events (a click on a break button): after a slice, the rest waits for
    // the next round; the descriptor stays readable, so nothing is lost.
    const auto sliceEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(10);
    try {
        for (;;) {
            fLastError = 0;
            fRecvCalled = false;
            fRecvDrained = false;
            if (!TriggerDataAvailable(Error)) {
                char junk[1024];
                int n = PlatformRecv(junk, sizeof junk, 0);
                if (n < 0) {
                    if (fLastError == WSAEWOULDBLOCK)
                        fLastError = 0;
                    break;
                }
                if (n == 0)
                    break;  // end of stream: the close notice follows
            }
            if (!Live(h, gen) || fLastError != 0)
                break;
            if (!fRecvCalled) {
                // The handler read nothing. If it left data, offering it again
                // at once would never end: wait for its next Receive instead.
                int count = 0;
                if (::ioctl(h, FIONREAD, &count) != 0) {
                    fLastError = MapErrno();
                    break;
                }
                if (count > 0 || BufferedCount() > 0) {
                    fReadSuspended = true;
                    UpdateInterest();
                }
                break;
            }
            // A short read took everything the kernel held; what arrives
            // later makes the descriptor readable again. After a full read
            // the next read finds out, ending in would-block when nothing is
            // left: one call at the end of a burst instead of a readable-count
            // query after every read.
            if (fRecvDrained && BufferedCount() <= 0)
                break;
            // The last loop before a close drains everything: what it left
            // would be lost with the descriptor.
            if (!Final && std::chrono::steady_clock::now() >= sliceEnd)
                break;
        }
    } catch (...) {
        // A handler's exception ends the loop and is dropped. Whatever it
        // left unread is offered again once it reads.
        if (Live(h, gen) && !fRecvCalled) {
            fReadSuspended = true;
            UpdateInterest();
        }
    }
}

// ---------------------------------------------------------------------------
// Receiving

int TCustomWSocket::PlatformRecv(void* Buffer, int BufferSize, int Flags)
{
    fRecvCalled = true;
    if (fReadSuspended && fState != wsListening) {
        fReadSuspended = false;
        UpdateInterest();
    }
    ssize_t n = ::recv(fHSocket, Buffer, static_cast<std::size_t>(std::max(BufferSize, 0)), Flags);
    if (n < 0) {
        fLastError = MapErrno();
        SetLastPlatformError(fLastError);
        return -1;
    }
    fReadCount += n;
    if (n > 0)
        fLastReceived = std::chrono::steady_clock::now();
    fRecvDrained = fType == SOCK_STREAM && !(Flags & MSG_PEEK) && n < BufferSize;
    return static_cast<int>(n);
}

int TCustomWSocket::DoRecv(void* Buffer, int BufferSize, int Flags)
{
    return PlatformRecv(Buffer, BufferSize, Flags);
}

int TCustomWSocket::Receive(void* Buffer, int BufferSize)
{
    fRecvCalled = true;
    return DoRecv(Buffer, BufferSize, 0);
}

std::string TCustomWSocket::ReceiveStr()
{
    int count = GetRcvdCount();
    if (count <= 0)
        return std::string();
    std::string s(static_cast<std::size_t>(count), '\0');
    int n = Receive(s.data(), count);
    if (n <= 0)
        return std::string();
    // It took all the kernel held: the receive loop need not read again.
    fRecvDrained = true;
    s.resize(static_cast<std::size_t>(n));
    return s;
}

int TCustomWSocket::DoRecvFrom(void* Buffer, int BufferSize, int Flags, sockaddr_in& From, int& FromLen)
{
    if (fReadSuspended) {
        fReadSuspended = false;
        UpdateInterest();
    }
    socklen_t len = static_cast<socklen_t>(std::max(FromLen, 0));
    if (len > sizeof From)
        len = sizeof From;
    ssize_t n = ::recvfrom(fHSocket, Buffer, static_cast<std::size_t>(std::max(BufferSize, 0)), Flags,
                           reinterpret_cast<sockaddr*>(&From), &len);
    if (n < 0) {
        fLastError = MapErrno();
        SetLastPlatformError(fLastError);
        return -1;
    }
    FromLen = static_cast<int>(len);
    fReadCount += n;
    if (n > 0)
        fLastReceived = std::chrono::steady_clock::now();
    return static_cast<int>(n);
}

int TCustomWSocket::ReceiveFrom(void* Buffer, int BufferSize, sockaddr_in& From, int& FromLen)
{
    fRecvCalled = true;
    return DoRecvFrom(Buffer, BufferSize, 0, From, FromLen);
}

bool TCustomWSocket::ReadableNow()
{
    if (fHSocket == -1 || fState != wsConnected)
        return true;
    if (BufferedCount() > 0)
        return true;
    char c;
    const ssize_t n = ::recv(fHSocket, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    return !(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
}

int TCustomWSocket::GetRcvdCount()
{
    int count = 0;
    if (::ioctl(fHSocket, FIONREAD, &count) != 0) {
        SetLastPlatformError(MapErrno());
        SocketError("ioctlSocket");
        return -1;
    }
    return count;
}
