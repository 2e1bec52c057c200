// TCustomWSocket: name and service resolution, connecting, binding, listening,
// accepting, the background name look-ups and the socket's own names.
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

std::atomic<int> gLookupThreads{0};
std::atomic<uint64_t> gLookupIds{0};

// Lookup answers are capped: a hostile name server cannot make us collect an
// unbounded list.
constexpr int kMaxLookupAddresses = 64;

bool StartsWithDigit(const std::string& s)
{
    return !s.empty() && s[0] >= '0' && s[0] <= '9';
}

// Decimal digits up to the first non-digit, after leading blanks; -1 when the
// value exceeds Max.
long ParseLeadingDecimal(const std::string& s, long Max)
{
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    long v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        v = v * 10 + (s[i] - '0');
        if (v > Max)
            return -1;
    }
    return v;
}

// inet_addr semantics: INADDR_NONE both for garbage and for 255.255.255.255.
bool ParseDotted(const std::string& s, uint32_t& AddrNet)
{
    in_addr a{};
    if (s.empty() || ::inet_aton(s.c_str(), &a) == 0)
        return false;
    AddrNet = a.s_addr;
    return true;
}

std::string DottedText(uint32_t AddrNet)
{
    char buf[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = AddrNet;
    ::inet_ntop(AF_INET, &a, buf, sizeof buf);
    return buf;
}

}  // namespace

int RunningLookupThreads()
{
    return gLookupThreads.load();
}

// ---------------------------------------------------------------------------
// Resolution

int TCustomWSocket::ResolveProto(const std::string& Text)
{
    if (Text.empty() || Text.size() >= 32)
        throw ESocketException("WSocketResolveProto: Invalid Protocol.");
    if (StartsWithDigit(Text)) {
        long v = ParseLeadingDecimal(Text, 255);
        if (v < 0)
            throw ESocketException("WSocketResolveProto: Cannot convert protocol '" + Text + "'");
        return static_cast<int>(v);
    }
    // The two names every socket uses need no trip through /etc/protocols
    // (six system calls per connection).
    if (Text == "tcp")
        return IPPROTO_TCP;
    if (Text == "udp")
        return IPPROTO_UDP;
    protoent pe{};
    protoent* res = nullptr;
    char buf[1024];
    if (::getprotobyname_r(Text.c_str(), &pe, buf, sizeof buf, &res) != 0 || !res)
        throw ESocketException("WSocketResolveProto: Cannot convert protocol '" + Text + "'");
    return res->p_proto;
}

uint16_t TCustomWSocket::ResolvePort(const std::string& Text, const std::string& ProtoText)
{
    if (Text.empty() || Text.size() >= 32)
        throw ESocketException("WSocketResolvePort: Invalid Port.");
    if (StartsWithDigit(Text)) {
        // A number above 65535 would silently wrap to another port.
        long v = ParseLeadingDecimal(Text, 65535);
        if (v < 0)
            throw ESocketException("WSocketResolvePort: Cannot convert port '" + Text + "'");
        return static_cast<uint16_t>(v);
    }
    servent se{};
    servent* res = nullptr;
    char buf[1024];
    if (::getservbyname_r(Text.c_str(), ProtoText.c_str(), &se, buf, sizeof buf, &res) != 0 || !res)
        throw ESocketException("WSocketResolvePort: Cannot convert port '" + Text + "'");
    return ntohs(static_cast<uint16_t>(res->s_port));
}

uint32_t TCustomWSocket::ResolveHost(const std::string& Text)
{
    if (Text.empty() || Text.size() > 256)
        throw ESocketException("WSocketResolveHost: '" + Text + "' Invalid Hostname.");
    if (StartsWithDigit(Text)) {
        uint32_t a = 0;
        if (!ParseDotted(Text, a) || (a == INADDR_NONE && Text != "255.255.255.255"))
            throw ESocketException("WSocketResolveHost: '" + Text + "' Invalid IP address.");
        return a;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (::getaddrinfo(Text.c_str(), nullptr, &hints, &res) != 0 || !res) {
        if (res)
            ::freeaddrinfo(res);
        throw ESocketException("WSocketResolveHost: Cannot convert host address '" + Text + "'");
    }
    uint32_t a = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(res);
    return a;
}

void TCustomWSocket::ResolveAll()
{
    if (!fProtoResolved) {
        fProtoNum = ResolveProto(fProtoStr);
        fType = fProtoNum == IPPROTO_UDP ? SOCK_DGRAM : SOCK_STREAM;
        fProtoResolved = true;
    }
    if (!fPortResolved) {
        fSin.sin_port = htons(ResolvePort(fPortStr, fProtoStr));
        fPortResolved = true;
    }
    if (!fLocalPortResolved) {
        fLocalPortNum = ResolvePort(fLocalPortStr, fProtoStr);
        fLocalPortResolved = true;
    }
    if (!fAddrResolved) {
        fSin.sin_family = AF_INET;
        fSin.sin_addr.s_addr = ResolveHost(fAddrStr);
        fAddrResolved = true;
    }
}

// ---------------------------------------------------------------------------
// Connecting, listening, closing

bool TCustomWSocket::OpenSession(const std::string& caller, const char* socketCall)
{
    try {
        ResolveAll();
    } catch (const ESocketException& e) {
        RaiseMsg(caller + e.Message());
        return false;
    }
    ClearChain();
    fHSocket = ::socket(AF_INET, fType | SOCK_NONBLOCK | SOCK_CLOEXEC, fProtoNum);
    ++fSessionGen;
    if (fHSocket < 0) {
        fHSocket = -1;
        SetLastPlatformError(MapErrno());
        SocketError(socketCall);
        return false;
    }
    return true;
}

bool TCustomWSocket::SwitchOn(int Option, const char* Call)
{
    int on = 1;
    if (::setsockopt(fHSocket, SOL_SOCKET, Option, &on, sizeof on) == 0)
        return true;
    SetLastPlatformError(MapErrno());
    SocketError(Call);
    return false;
}

void TCustomWSocket::Connect()
{
    if (fHSocket != -1 && fState != wsClosed) {
        RaiseMsg("Connect: Socket already in use");
        return;
    }
    if (!fPortAssigned) {
        RaiseMsg("Connect: No Port Specified");
        return;
    }
    if (!fAddrAssigned) {
        RaiseMsg("Connect: No IP Address Specified");
        return;
    }
    if (!fProtoAssigned) {
        RaiseMsg("Connect: No Protocol Specified");
        return;
    }
    if (!OpenSession("connect: ", "Connect (socket)"))
        return;
    ChangeState(wsOpened);
    if (fType == SOCK_DGRAM) {
        BindLocal();
        if (fSin.sin_addr.s_addr == INADDR_BROADCAST && !SwitchOn(SO_BROADCAST, "setsockopt(SO_BROADCAST)"))
            return;
    } else {
        if (fLocalPortNum != 0)
            BindLocal();
        // ApplyLinger would only set what a new socket already has (linger
        // off): one system call per connection saved.
        if (!SwitchOn(SO_KEEPALIVE, "setsockopt(SO_KEEPALIVE)") || !SwitchOn(SO_REUSEADDR, "setsockopt(SO_REUSEADDR)"))
            return;
    }
    Register(FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE);
    if (fWatchId == 0) {
        SetLastPlatformError(MapErrno());
        SocketError("WSAAsyncSelect");
        return;
    }
    if (fType == SOCK_DGRAM) {
        ChangeState(wsConnected);
        UpdateInterest();
        TriggerSessionConnected(0);
        return;
    }
    int rc = ::connect(fHSocket, reinterpret_cast<sockaddr*>(&fSin), sizeof fSin);
    if (rc == 0 || errno == EINPROGRESS || errno == EAGAIN) {
        // Completion always comes from the dispatch. On loopback the
        // handshake is over before connect returns: its completion is then
        // queued at once instead of waiting for the kernel's writable report
        // (two calls and a loop round less, and the request leaves sooner).
        fConnectPosted = false;
        ChangeState(wsConnecting);
        const int h = fHSocket;
        const uint64_t gen = fSessionGen;
        pollfd p{h, POLLOUT, 0};
        if (h != -1 && fState == wsConnecting && ::poll(&p, 1, 0) == 1 && p.revents == POLLOUT) {
            fConnectPosted = true;
            PostToSelf([this, h, gen] {
                if (!Live(h, gen) || fState != wsConnecting || !fConnectPosted)
                    return;
                fConnectPosted = false;
                if (fPaused) {
                    UpdateInterest();  // Resume hears of it from the kernel
                    return;
                }
                HandleNotice(h, FD_CONNECT, 0);
            });
        }
        UpdateInterest();
        return;
    }
    fLastError = MapErrno();
    SetLastPlatformError(fLastError);
    SocketError("Connect");
}

void TCustomWSocket::BindLocal()
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(fLocalPortNum);
    if (::bind(fHSocket, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        int code = MapErrno();
        fLastError = code;
        RaiseFmt("winsock.bind failed, error #%d", code);
        return;
    }
    socklen_t len = sizeof local;
    if (::getsockname(fHSocket, reinterpret_cast<sockaddr*>(&local), &len) != 0) {
        int code = MapErrno();
        fLastError = code;
        RaiseFmt("winsock.getsockname failed, error #%d", code);
        return;
    }
    fLocalPortNum = ntohs(local.sin_port);
    fLocalPortStr = std::to_string(fLocalPortNum);
}

void TCustomWSocket::Listen()
{
    if (!fPortAssigned) {
        SetLastPlatformError(WSAEINVAL);
        SocketError("listen: port not assigned");
        return;
    }
    if (!fProtoAssigned) {
        SetLastPlatformError(WSAEINVAL);
        SocketError("listen: protocol not assigned");
        return;
    }
    if (!fAddrAssigned) {
        SetLastPlatformError(WSAEINVAL);
        SocketError("listen: address not assigned");
        return;
    }
    if (fHSocket != -1 && fState != wsClosed) {
        RaiseMsg("Connect: Socket already in use");
        return;
    }
    if (!OpenSession("listen: ", "socket"))
        return;
    // Linux refuses to bind a port still in TIME_WAIT without this; it does
    // not allow two live listeners on one port.
    int on = 1;
    ::setsockopt(fHSocket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fHSocket, reinterpret_cast<sockaddr*>(&fSin), sizeof fSin) != 0) {
        int code = MapErrno();
        CloseHandleQuietly();
        SetLastPlatformError(code);
        SocketError("Bind");
        return;
    }
    ChangeState(wsBound);
    if (fType == SOCK_DGRAM) {
        ChangeState(wsListening);
        ChangeState(wsConnected);
        Register(FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE);
        TriggerSessionConnected(0);
        return;
    }
    if (::listen(fHSocket, 5) != 0) {
        SetLastPlatformError(MapErrno());
        SocketError("Listen");
        return;
    }
    ChangeState(wsListening);
    Register(FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE);
    if (fWatchId == 0) {
        SetLastPlatformError(MapErrno());
        SocketError("WSAASyncSelect");
    }
}

int TCustomWSocket::Accept()
{
    if (fState != wsListening) {
        SetLastPlatformError(WSAEINVAL);
        SocketError("not a listening socket");
        return -1;
    }
    fAcceptCalled = true;
    if (fReadSuspended) {
        fReadSuspended = false;
        UpdateInterest();
    }
    int h = ::accept4(fHSocket, nullptr, nullptr, SOCK_CLOEXEC);
    if (h < 0) {
        SetLastPlatformError(MapErrno());
        SocketError("Accept");
        return -1;
    }
    return h;
}

void TCustomWSocket::Dup(int NewHSocket)
{
    if (NewHSocket == 0 || NewHSocket == -1) {
        SetLastPlatformError(WSAEINVAL);
        SocketError("Dup");
        return;
    }
    if (fHSocket != -1) {
        Unregister();
        int rc = ::close(fHSocket);
        fHSocket = -1;
        if (rc != 0) {
            SetLastPlatformError(MapErrno());
            SocketError("Dup (closesocket)");
        }
    }
    fHSocket = NewHSocket;
    ++fSessionGen;
    int fl = ::fcntl(fHSocket, F_GETFL);
    if (fl >= 0)
        ::fcntl(fHSocket, F_SETFL, fl | O_NONBLOCK);
    int type = SOCK_STREAM;
    socklen_t len = sizeof type;
    if (::getsockopt(fHSocket, SOL_SOCKET, SO_TYPE, &type, &len) == 0)
        fType = type;
    fProtoNum = fType == SOCK_DGRAM ? IPPROTO_UDP : IPPROTO_TCP;
    ClearChain();
    fCloseInvoked = false;
    ApplyLinger();
    TSocketState old = fState;
    fState = wsConnected;  // registered first so the interest matches the state
    Register(FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE);
    if (fWatchId == 0) {
        SetLastPlatformError(MapErrno());
        SocketError("WSAAsyncSelect");
        return;
    }
    fState = old;
    ChangeState(wsConnected);
}

// ---------------------------------------------------------------------------
// Lookups

void TCustomWSocket::DnsLookup(const std::string& HostName)
{
    if (HostName.empty()) {
        RaiseMsg("DNS lookup: invalid host name.");
        TriggerDnsLookupDone(WSAEINVAL);
        return;
    }
    fDnsLookupHandle = 0;  // a running lookup is dropped without event
    fDnsResult.clear();
    fDnsResultList.clear();
    uint32_t a = 0;
    if (ParseDotted(HostName, a) && (a != INADDR_NONE || HostName == "255.255.255.255")) {
        fDnsResult = DottedText(a);
        TriggerDnsLookupDone(0);
        return;
    }
    StartLookup(HostName, false, 0);
}

void TCustomWSocket::ReverseDnsLookup(const std::string& HostAddr)
{
    if (HostAddr.empty()) {
        RaiseMsg("DNS lookup: invalid host name.");
        TriggerDnsLookupDone(WSAEINVAL);
        return;
    }
    fDnsLookupHandle = 0;
    fDnsResult.clear();
    fDnsResultList.clear();
    uint32_t a = 0;
    if (!ParseDotted(HostAddr, a)) {
        RaiseFmt("%s: can't start DNS lookup, error #%d", HostAddr.c_str(), WSAEINVAL);
        return;
    }
    StartLookup(HostAddr, true, a);
}

void TCustomWSocket::StartLookup(const std::string& Host, bool Reverse, uint32_t AddrNet)
{
    uint64_t id = ++gLookupIds;
    fDnsLookupHandle = id;
    TNoticePoster poster = fSink.Poster();
    TCustomWSocket* self = this;
    ++gLookupThreads;
    try {
        std::thread([poster, self, id, Host, Reverse, AddrNet] {
            int err = 0;
            std::vector<std::string> names;
            if (Reverse) {
                sockaddr_in sin{};
                sin.sin_family = AF_INET;
                sin.sin_addr.s_addr = AddrNet;
                char host[1025] = {};
                int rc = ::getnameinfo(reinterpret_cast<sockaddr*>(&sin), sizeof sin, host, sizeof host,
                                       nullptr, 0, NI_NAMEREQD);
                err = SocketErrorFromGai(rc, errno);
                if (rc == 0)
                    names.emplace_back(host);
            } else {
                addrinfo hints{};
                hints.ai_family = AF_INET;
                hints.ai_socktype = SOCK_STREAM;
                addrinfo* res = nullptr;
                int rc = ::getaddrinfo(Host.c_str(), nullptr, &hints, &res);
                err = SocketErrorFromGai(rc, errno);
                for (addrinfo* p = rc == 0 ? res : nullptr; p; p = p->ai_next) {
                    if (p->ai_family != AF_INET || static_cast<int>(names.size()) >= kMaxLookupAddresses)
                        continue;
                    std::string t =
                        DottedText(reinterpret_cast<sockaddr_in*>(p->ai_addr)->sin_addr.s_addr);
                    if (std::find(names.begin(), names.end(), t) == names.end())
                        names.push_back(std::move(t));
                }
                if (res)
                    ::freeaddrinfo(res);
            }
            if (err == 0 && names.empty())
                err = WSANO_DATA;
            // The raw pointer is safe: the notice vanishes with the socket's sink.
            poster.Post([self, id, err, names = std::move(names)]() mutable {
                self->LookupAnswered(id, err, std::move(names));
            });
            --gLookupThreads;
        }).detach();
    } catch (const std::system_error& e) {
        --gLookupThreads;
        fDnsLookupHandle = 0;
        int code = SocketErrorFromErrno(e.code().value());
        RaiseFmt("%s: can't start DNS lookup, error #%d", Host.c_str(), code);
    }
}

void TCustomWSocket::LookupAnswered(uint64_t Id, int Error, std::vector<std::string> Names)
{
    if (Id == 0 || Id != fDnsLookupHandle)
        return;  // cancelled or superseded: the late answer vanishes
    fDnsLookupHandle = 0;
    if (Error == 0) {
        fDnsResultList = std::move(Names);
        fDnsResult = fDnsResultList.front();
    }
    try {
        TriggerDnsLookupDone(static_cast<uint16_t>(Error));
    } catch (const std::exception& e) {
        HandleBackgroundException(e);
    }
}

void TCustomWSocket::CancelDnsLookup()
{
    if (fDnsLookupHandle == 0)
        return;
    fDnsLookupHandle = 0;
    if (!fDestroying)
        TriggerDnsLookupDone(WSAEINTR);
}

// ---------------------------------------------------------------------------
// Names

int TCustomWSocket::GetPeerName(sockaddr_in& Name, int& NameLen)
{
    socklen_t len = sizeof Name;
    if (::getpeername(fHSocket, reinterpret_cast<sockaddr*>(&Name), &len) != 0) {
        fLastError = MapErrno();
        SetLastPlatformError(fLastError);
        return -1;
    }
    NameLen = static_cast<int>(len);
    return 0;
}

int TCustomWSocket::GetSockName(sockaddr_in& Name, int& NameLen)
{
    socklen_t len = sizeof Name;
    if (::getsockname(fHSocket, reinterpret_cast<sockaddr*>(&Name), &len) != 0) {
        fLastError = MapErrno();
        SetLastPlatformError(fLastError);
        return -1;
    }
    NameLen = static_cast<int>(len);
    return 0;
}

std::string TCustomWSocket::GetPeerAddr()
{
    if (fState != wsConnected)
        return "error";
    sockaddr_in sin{};
    int len = sizeof sin;
    if (GetPeerName(sin, len) != 0) {
        SocketError("GetPeerName");
        return "error";
    }
    return DottedText(sin.sin_addr.s_addr);
}

std::string TCustomWSocket::GetPeerPort()
{
    if (fState != wsConnected)
        return "error";
    sockaddr_in sin{};
    int len = sizeof sin;
    if (GetPeerName(sin, len) != 0) {
        SocketError("GetPeerPort");
        return "error";
    }
    return std::to_string(ntohs(sin.sin_port));
}

std::string TCustomWSocket::GetLocalPortText()
{
    if (fState != wsBound && fState != wsConnected && fState != wsListening)
        return "error";
    sockaddr_in sin{};
    int len = sizeof sin;
    if (GetSockName(sin, len) != 0)
        return "error";
    return std::to_string(ntohs(sin.sin_port));
}

// ---------------------------------------------------------------------------
// SOCKS layer

void TCustomSocksWSocket::SetSocksLevel(const std::string& Value)
{
    if (Value != "4" && Value != "4A" && Value != "4a" && Value != "5") {
        RaiseMsg("Invalid SocksLevel.");
        return;
    }
    fSocksLevel = Value;
}

void TCustomSocksWSocket::Connect()
{
    if (!fSocksServer.empty()) {
        // Going direct would bypass the proxy the caller asked for.
        RaiseMsg("SOCKS client mode is not available");
        return;
    }
    TCustomWSocket::Connect();
}
