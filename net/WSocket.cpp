// TCustomWSocket: the asynchronous socket over POSIX non-blocking sockets and
// the thread's notice dispatcher: creation, properties, the state and its
// events, the readiness notices, closing. Connecting and look-ups live in
// WSocketConnect.cpp, receiving in WSocketReceive.cpp, sending in WSocketSend.cpp.
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

std::atomic<int> gSocketCount{0};
thread_local int tLastError = 0;

std::string Trim(const std::string& s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
        --e;
    return s.substr(b, e - b);
}

}  // namespace

int TCustomWSocket::SocketCount()
{
    return gSocketCount.load();
}

void TCustomWSocket::SetLastPlatformError(int Code)
{
    tLastError = Code;
}

int TCustomWSocket::LastPlatformError()
{
    return tLastError;
}

// ---------------------------------------------------------------------------
// Creation and destruction

TCustomWSocket::TCustomWSocket()
{
    ++gSocketCount;
    fAlive = std::make_shared<bool>(true);
    TCustomWSocket::ResetDefaults();
}

TCustomWSocket::~TCustomWSocket()
{
    fDestroying = true;
    try {
        CancelDnsLookup();
    } catch (...) {
    }
    if (fHSocket != -1) {
        try {
            InternalClose(false, 0);
        } catch (...) {
        }
        CloseHandleQuietly();
    }
    ClearChain();
    *fAlive = false;
    --gSocketCount;
}

void TCustomWSocket::ResetDefaults()
{
    std::memset(&fSin, 0, sizeof fSin);
    fSin.sin_family = AF_INET;
    fAddrAssigned = false;
    fPortAssigned = false;
    fAddrResolved = false;
    fPortResolved = false;
    fLocalPortResolved = false;
    fProtoResolved = false;
    fProtoStr = "tcp";
    fProtoAssigned = true;
    fProtoNum = IPPROTO_TCP;
    fType = SOCK_STREAM;
    // Built and moved in: g++ 12 at -O2/-O3 gives a false -Wrestrict for a
    // one-character literal assigned to a string it cannot see the size of.
    fLocalPortStr = std::string(1, '0');
    fLocalPortNum = 0;
    fLingerOnOff = wsLingerOn;
    fLingerTimeout = 0;
    fHSocket = -1;
    fState = wsClosed;
    fAllSent = true;
    fPaused = false;
    fCloseInvoked = false;
    fReadCount = 0;
    fFlushTimeout = 60;
    fSendShut = false;
    fReadSuspended = false;
}

// Closes and forgets the platform handle without events.
void TCustomWSocket::CloseHandleQuietly()
{
    Unregister();
    if (fHSocket != -1) {
        ::close(fHSocket);
        fHSocket = -1;
    }
}

// ---------------------------------------------------------------------------
// Properties

namespace {

// Addr, Port and Proto may change only while the socket is closed; setting the
// value it already has is no change. Returns false when the state forbids it.
bool AssignWhileClosed(TSocketState state, const std::string& value, std::string& field,
                       bool& assigned, bool& resolved)
{
    std::string v = Trim(value);
    if (assigned && v == field)
        return true;
    if (state != wsClosed)
        return false;
    field = v;
    assigned = !v.empty();
    resolved = false;
    return true;
}

}  // namespace

void TCustomWSocket::SetAddr(const std::string& Value)
{
    if (!AssignWhileClosed(fState, Value, fAddrStr, fAddrAssigned, fAddrResolved))
        RaiseMsg("Cannot change Addr if not closed");
}

void TCustomWSocket::SetPort(const std::string& Value)
{
    if (!AssignWhileClosed(fState, Value, fPortStr, fPortAssigned, fPortResolved))
        RaiseMsg("Cannot change Port if not closed");
}

void TCustomWSocket::SetProto(const std::string& Value)
{
    if (!AssignWhileClosed(fState, Value, fProtoStr, fProtoAssigned, fProtoResolved))
        RaiseMsg("Cannot change Proto if not closed");
}

void TCustomWSocket::SetLocalPort(const std::string& Value)
{
    if (fState != wsClosed) {
        RaiseMsg("Cannot change LocalPort if not closed");
        return;
    }
    fLocalPortStr = Trim(Value);
    fLocalPortResolved = false;
}

TSocketSendFlags TCustomWSocket::SendFlags()
{
    if (fSendFlags == 0)
        return wsSendNormal;
    if (fSendFlags == MSG_OOB)
        return wsSendUrgent;
    RaiseMsg("Invalid internal SendFlags");
    return wsSendNormal;
}

void TCustomWSocket::SetSendFlags(TSocketSendFlags Value)
{
    switch (Value) {
    case wsSendNormal: fSendFlags = 0; break;
    case wsSendUrgent: fSendFlags = MSG_OOB; break;
    default: RaiseMsg("Invalid SendFlags"); break;
    }
}

void TCustomWSocket::ChangeState(TSocketState NewState)
{
    TSocketState old = fState;
    fState = NewState;
    // Handlers of an object being torn down must not run.
    if (!fDestroying)
        TriggerChangeState(old, NewState);
}

// ---------------------------------------------------------------------------
// Error reporting

void TCustomWSocket::RaiseMsg(const std::string& Msg)
{
    if (OnError) {
        TriggerError();
        return;
    }
    throw ESocketException(Msg);
}

void TCustomWSocket::RaiseFmt(const char* Fmt, ...)
{
    char buf[1024];
    va_list ap;
    va_start(ap, Fmt);
    std::vsnprintf(buf, sizeof buf, Fmt, ap);
    va_end(ap);
    RaiseMsg(buf);
}

void TCustomWSocket::SocketError(const std::string& Func)
{
    int code = LastPlatformError();
    std::string msg = "Error " + std::to_string(code) + " in function " + Func + "\r\n" +
                      SocketErrorDesc(code);
    if (code == WSAECONNRESET || code == WSAENOTCONN) {
        bool hadHandle = fHSocket != -1;
        CloseHandleQuietly();
        if (hadHandle || fState != wsClosed)
            ChangeState(wsClosed);
    }
    fLastError = code;
    RaiseMsg(msg);
}

void TCustomWSocket::HandleBackgroundException(const std::exception& E)
{
    bool canClose = true;
    if (OnBgException) {
        try {
            OnBgException(this, E, canClose);
        } catch (...) {
        }
    }
    if (canClose) {
        try {
            Abort();
        } catch (...) {
        }
    }
}

// ---------------------------------------------------------------------------
// Triggers

bool TCustomWSocket::TriggerDataAvailable(uint16_t Error)
{
    if (!OnDataAvailable)
        return false;
    OnDataAvailable(this, Error);
    return true;
}

void TCustomWSocket::TriggerSessionAvailable(uint16_t Error)
{
    if (OnSessionAvailable)
        OnSessionAvailable(this, Error);
}

void TCustomWSocket::TriggerSessionConnected(uint16_t Error)
{
    if (OnSessionConnected)
        OnSessionConnected(this, Error);
}

void TCustomWSocket::TriggerSessionClosed(uint16_t Error)
{
    if (OnSessionClosed)
        OnSessionClosed(this, Error);
}

void TCustomWSocket::TriggerDataSent(uint16_t Error)
{
    if (OnDataSent)
        OnDataSent(this, Error);
}

void TCustomWSocket::TriggerChangeState(TSocketState OldState, TSocketState NewState)
{
    if (OnChangeState)
        OnChangeState(this, OldState, NewState);
}

void TCustomWSocket::TriggerDnsLookupDone(uint16_t Error)
{
    if (OnDnsLookupDone)
        OnDnsLookupDone(this, Error);
}

void TCustomWSocket::TriggerError()
{
    if (OnError)
        OnError(this);
}

// ---------------------------------------------------------------------------
// Notices

void TCustomWSocket::Register(unsigned Events)
{
    fInterest = Events;
    fReadSuspended = false;
    if (fWatchId == 0) {
        int h = fHSocket;
        // The dispatcher outlives no socket's handler call: the watch is
        // removed before the socket goes away.
        fWatchId = fSink.Dispatcher().Watch(h, 0, [this](uint32_t ev) { OnReady(ev); });
    }
    UpdateInterest();
}

void TCustomWSocket::Unregister()
{
    if (fWatchId != 0) {
        fSink.Dispatcher().Unwatch(fWatchId);
        fWatchId = 0;
    }
    fInterest = 0;
}

// Translates the FD_* interest and the socket's situation into epoll bits.
// Readable interest is parked while a handler leaves data unread (until its
// next Receive), writable interest is held only while the chain has data or a
// connection is being set up: level-triggered readiness must never make the
// pump spin.
void TCustomWSocket::UpdateInterest()
{
    if (fWatchId == 0 || fDeferInterest)
        return;
    uint32_t bits = 0;
    // An opened but unconnected stream socket reports a hang-up at once;
    // until a session exists the descriptor stays out of the set.
    bool live = fState == wsConnecting || fState == wsConnected || fState == wsListening;
    if (!fPaused && live) {
        if (fState == wsConnecting) {
            bits = fConnectPosted ? 0u : static_cast<uint32_t>(EPOLLOUT);
        } else {
            if ((fInterest & (FD_READ | FD_ACCEPT)) && !fReadSuspended)
                bits |= EPOLLIN;
            if ((fInterest & FD_CLOSE) && fType == SOCK_STREAM && fState != wsListening)
                bits |= EPOLLRDHUP;
            if ((fInterest & FD_WRITE) && !fBufList.empty() && !fAllSent)
                bits |= EPOLLOUT;
        }
    }
    fSink.Dispatcher().Modify(fWatchId, bits);
}

void TCustomWSocket::PostToSelf(std::function<void()> Fn)
{
    fSink.Post(std::move(Fn));
}

void TCustomWSocket::OnReady(uint32_t Ev)
{
    int h = fHSocket;
    if (h == -1)
        return;
    const uint64_t gen = fSessionGen;
    // A handler may close and reconnect; a reused descriptor number must not
    // receive the rest of the old notice.
    auto notice = [&](unsigned events, uint16_t e) {
        if (Live(h, gen))
            HandleNotice(h, events, e);
    };
    // A pending error always reports EPOLLERR: a plain end of stream
    // (EPOLLRDHUP alone) has none to fetch.
    int soErr = 0;
    if (Ev & (EPOLLERR | EPOLLHUP)) {
        socklen_t len = sizeof soErr;
        if (::getsockopt(h, SOL_SOCKET, SO_ERROR, &soErr, &len) != 0)
            soErr = errno;
    }
    uint16_t err = static_cast<uint16_t>(SocketErrorFromErrno(soErr));
    if (fState == wsConnecting) {
        if (!(Ev & (EPOLLOUT | EPOLLERR | EPOLLHUP)))
            return;
        // A hang-up without a pending error while connecting is a refusal.
        if (err == 0 && (Ev & EPOLLHUP) && !(Ev & EPOLLOUT))
            err = WSAECONNREFUSED;
        notice(FD_CONNECT, err);
        if (err != 0)
            return;
        if (Ev & EPOLLIN)
            notice(FD_READ, 0);
        if (Ev & (EPOLLRDHUP | EPOLLHUP))
            notice(FD_CLOSE, 0);
        return;
    }
    if (fState == wsListening && fType == SOCK_STREAM) {
        if (Ev & EPOLLIN)
            notice(FD_ACCEPT, 0);
        return;
    }
    if (Ev & EPOLLIN)
        notice(FD_READ, 0);
    if (Ev & EPOLLOUT)
        notice(FD_WRITE, 0);
    if (fType == SOCK_STREAM && (Ev & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)))
        notice(FD_CLOSE, err);
}

void TCustomWSocket::HandleNotice(int Handle, unsigned Events, uint16_t Error)
{
    if (Handle != fHSocket || Handle == -1 || fPaused)
        return;
    const uint64_t gen = fSessionGen;
    try {
        if (Events & FD_CONNECT) {
            ChangeState(wsConnected);
            UpdateInterest();
            TriggerSessionConnected(Error);
            if (Error != 0 && fState != wsClosed)
                Close();
        }
        if ((Events & FD_READ) && Live(Handle, gen))
            ReceiveLoop(Error);
        if ((Events & FD_WRITE) && Live(Handle, gen)) {
            // The interest set is settled once after the handler: a handler
            // that queues the next block would otherwise switch writable
            // interest off and on again for every block.
            fDeferInterest = true;
            TryToSend();
            if (fAllSent && Live(Handle, gen)) {
                try {
                    TriggerDataSent(Error);
                } catch (...) {
                    fDeferInterest = false;
                    UpdateInterest();
                    throw;
                }
            }
            fDeferInterest = false;
            UpdateInterest();  // for whatever socket the handler left us with
        }
        if ((Events & FD_ACCEPT) && Live(Handle, gen)) {
            fAcceptCalled = false;
            TriggerSessionAvailable(Error);
            if (!fAcceptCalled && Live(Handle, gen)) {
                fReadSuspended = true;
                UpdateInterest();
            }
        }
        if ((Events & FD_CLOSE) && Live(Handle, gen) && fState != wsConnecting) {
            ReceiveLoop(0, true);
            if (Live(Handle, gen)) {
                if (OnSessionClosed && !fCloseInvoked) {
                    fCloseInvoked = true;
                    TriggerSessionClosed(Error);
                }
                if (Live(Handle, gen) && fState != wsClosed)
                    Close();
            }
        }
    } catch (const std::exception& e) {
        HandleBackgroundException(e);
    } catch (...) {
        HandleBackgroundException(std::runtime_error("unknown exception in a socket event handler"));
    }
}

// ---------------------------------------------------------------------------
// Closing

// The platform linger option. A close never blocks the owning thread: wsLingerOn
// and wsLingerOff both leave the kernel to finish sending in the background
// (a zero timeout would reset the connection and lose data still in flight,
// a positive one would block close()); LingerTimeout is honoured by Close
// itself, which waits for the send queue while pumping. Abort alone resets.
void TCustomWSocket::ApplyLinger()
{
    if (fLingerOnOff == wsLingerNoSet)
        return;
    if (fHSocket == -1) {
        RaiseMsg("Cannot set linger option at this time");
        return;
    }
    linger li{};
    li.l_onoff = 0;
    li.l_linger = 0;
    if (::setsockopt(fHSocket, SOL_SOCKET, SO_LINGER, &li, sizeof li) != 0) {
        SetLastPlatformError(MapErrno());
        SocketError("setsockopt(SO_LINGER)");
    }
}

void TCustomWSocket::Close()
{
    InternalClose(true, 0);
}

void TCustomWSocket::Abort()
{
    CancelDnsLookup();
    ClearChain();
    if (fState == wsConnected && fProtoNum == IPPROTO_TCP && fHSocket != -1) {
        fLingerOnOff = wsLingerOff;
        linger li{};
        li.l_onoff = 1;
        li.l_linger = 0;  // the close then resets the connection
        if (::setsockopt(fHSocket, SOL_SOCKET, SO_LINGER, &li, sizeof li) != 0) {
            SetLastPlatformError(MapErrno());
            SocketError("setsockopt(SO_LINGER)");
        }
    }
    InternalClose(false, 0);
}

void TCustomWSocket::InternalClose(bool Shut, uint16_t Error)
{
    if (fHSocket == -1) {
        if (fState != wsClosed) {
            ChangeState(wsClosed);
            try {
                ResetDefaults();
            } catch (...) {
            }
        }
        return;
    }
    if (fState == wsClosed) {
        // A handle without a session (a failed Listen or Connect set-up).
        CloseHandleQuietly();
        return;
    }
    int h = fHSocket;
    const uint64_t gen = fSessionGen;
    if (Shut && fType == SOCK_STREAM && !fDestroying && fState == wsConnected && !fAllSent) {
        // Graceful means what Send accepted reaches the peer: the chain is
        // written out first (pumping, bounded by FlushTimeout seconds).
        auto until = TNoticeClock::now() + std::chrono::seconds(std::max(fFlushTimeout, 0));
        while (fHSocket == h && !fAllSent && TNoticeClock::now() < until) {
            TryToSend();
            if (!Live(h, gen) || fAllSent)
                break;
            WaitForNotices(std::min(until, TNoticeClock::now() + std::chrono::milliseconds(100)));
        }
        if (!Live(h, gen))
            return;  // closed meanwhile (by a handler or a send failure)
    }
    if (Shut && fType == SOCK_STREAM) {
        ::shutdown(h, SHUT_WR);
        // A linger time asks Close to wait for the peer to take what is
        // queued; we wait by pumping, never by blocking in close().
        if (fLingerOnOff == wsLingerOn && fLingerTimeout > 0 && !fDestroying) {
            auto until = TNoticeClock::now() + std::chrono::seconds(fLingerTimeout);
            for (;;) {
                int queued = 0;
                if (::ioctl(h, TIOCOUTQ, &queued) != 0 || queued <= 0)
                    break;
                if (TNoticeClock::now() >= until || !Live(h, gen))
                    break;
                WaitForNotices(std::min(until, TNoticeClock::now() + std::chrono::milliseconds(10)));
            }
            if (!Live(h, gen))
                return;  // closed by a handler meanwhile
        }
    }
    Unregister();
    int rc = ::close(h);
    int code = rc != 0 ? MapErrno() : 0;
    fHSocket = -1;
    ChangeState(wsClosed);
    if (!fDestroying && !fCloseInvoked && OnSessionClosed) {
        fCloseInvoked = true;
        TriggerSessionClosed(Error);
    }
    try {
        ResetDefaults();
    } catch (...) {
    }
    // The descriptor is released whatever close() says (Linux); the failure
    // is reported after the socket is in a clean closed state.
    if (code != 0 && code != 10004) {
        fLastError = code;
        if (code != WSANOTINITIALISED) {
            SetLastPlatformError(code);
            SocketError("Disconnect (closesocket)");
        }
    }
}

void TCustomWSocket::Shutdown(int How)
{
    if (fHSocket == -1)
        return;
    if (::shutdown(fHSocket, How) == 0 && (How == SHUT_WR || How == SHUT_RDWR))
        fSendShut = true;
}

void TCustomWSocket::Pause()
{
    fPaused = true;
    UpdateInterest();
}

void TCustomWSocket::Resume()
{
    fPaused = false;
    fReadSuspended = false;
    UpdateInterest();
}

// ---------------------------------------------------------------------------
// Pumping

void TCustomWSocket::PumpEvents()
{
    if (fMultiThreaded) {
        TNoticeDispatcher& d = fSink.Dispatcher();
        // Drain until nothing is pending; the bound keeps a stream of new
        // notices from holding the caller forever.
        for (int round = 0; round < 1000 && d.PumpPending() > 0; ++round) {
        }
        if (d.QuitSeen())
            fTerminated = true;
        return;
    }
    PumpNotices();
}
