// TWSocket: the program's non-blocking TCP/UDP socket component.
//
// A socket belongs to the thread that creates it. It never blocks that
// thread on the network: connection set-up, readiness, the peer's close and
// host-name lookups arrive later as notices through the thread's notice
// dispatcher (net/Dispatcher.h) and become events. Outgoing data is copied
// into a chain of 1514-byte blocks and written as far as the network takes
// it; the rest goes out on later write notices. Incoming data is never
// buffered here (outside line mode): the OnDataAvailable handler reads it
// straight from the platform socket with Receive.
//
// Error codes are the Windows Sockets numbers (10061 "Connection refused",
// 11001 "Host not found" ...) everywhere: in events, LastError and messages.
// Platform errno and getaddrinfo results are mapped onto them (see
// SocketErrorFromErrno / SocketErrorFromGai in WSocket.cpp for the mapping).
//
// Class chain: TCustomWSocket <- TCustomSocksWSocket <- TCustomLineWSocket
// <- TCustomSyncWSocket <- TWSocket.
//
// Order of events of a client connection: OnDnsLookupDone (for a name: later,
// from the dispatch; for a dotted address: inside DnsLookup), OnChangeState
// (wsClosed->wsOpened), OnChangeState (wsOpened->wsConnecting), later
// OnChangeState (wsConnecting->wsConnected) and OnSessionConnected, then
// OnDataSent after a Send (always from the dispatch, never inside Send),
// OnDataAvailable as data arrives (again at once while data remains), and at
// the peer's close: the last OnDataAvailable, OnSessionClosed, OnChangeState
// (->wsClosed). The socket does not ask the kernel how much is readable
// between reads: after a Receive that filled the handler's buffer,
// OnDataAvailable comes again, and a Receive there may meet would-block
// (-1, LastError 10035) when that read happened to take the last byte.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <netinet/in.h>

#include "net/Dispatcher.h"
#include "net/WSockbuf.h"

enum TSocketState {
    wsInvalidState = 0,
    wsOpened = 1,
    wsBound = 2,
    wsConnecting = 3,
    wsConnected = 4,
    wsAccepting = 5,
    wsListening = 6,
    wsClosed = 7,
};

enum TSocketSendFlags { wsSendNormal = 0, wsSendUrgent = 1 };
enum TSocketLingerOnOff { wsLingerOff = 0, wsLingerOn = 1, wsLingerNoSet = 2 };
enum TSocksAuthentication { socksNoAuthentication = 0, socksAuthenticateUsercode = 1 };

// Windows Sockets codes used by name in this layer and its users.
enum : int {
    WSAEINTR = 10004,
    WSAEBADF = 10009,
    WSAEINVAL = 10022,
    WSAEWOULDBLOCK = 10035,
    WSAEINPROGRESS = 10036,
    WSAENOTSOCK = 10038,
    WSAECONNABORTED = 10053,
    WSAECONNRESET = 10054,
    WSAENOBUFS = 10055,
    WSAENOTCONN = 10057,
    WSAESHUTDOWN = 10058,
    WSAETIMEDOUT = 10060,
    WSAECONNREFUSED = 10061,
    WSANOTINITIALISED = 10093,
    WSAHOST_NOT_FOUND = 11001,
    WSATRY_AGAIN = 11002,
    WSANO_RECOVERY = 11003,
    WSANO_DATA = 11004,
};

// WaitUntilReady's result when it gave up (time limit, termination).
constexpr int kWaitGaveUp = 12001;

class ESocketException : public std::runtime_error {
public:
    explicit ESocketException(const std::string& Msg) : std::runtime_error(Msg) {}
    std::string Message() const { return what(); }
};

// The error text of a Windows Sockets code ("Connection refused" ...); codes
// without a text of their own give "Not a WinSock error", except the private range that
// SocketErrorFromErrno uses for platform errors without a Windows Sockets
// counterpart, which gives the platform's own text.
std::string SocketErrorDesc(int ErrCode);
// errno -> Windows Sockets code (0 stays 0).
int SocketErrorFromErrno(int Errno);
// getaddrinfo/getnameinfo result (with errno for EAI_SYSTEM) -> code.
int SocketErrorFromGai(int GaiResult, int Errno);
// First code of the private range: SocketErrorFromErrno gives
// kPlatformErrorBase + errno for errno values without a Windows Sockets code.
constexpr int kPlatformErrorBase = 20000;

// Number of host-name lookup threads still running in the process.
int RunningLookupThreads();

class TCustomWSocket;

using TDataAvailable = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TDataSent = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TSessionClosed = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TSessionAvailable = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TSessionConnected = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TDnsLookupDone = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TChangeState =
    std::function<void(TCustomWSocket* Sender, TSocketState OldState, TSocketState NewState)>;
using TSocketNotifyEvent = std::function<void(TCustomWSocket* Sender)>;
using TBgExceptionEvent =
    std::function<void(TCustomWSocket* Sender, const std::exception& E, bool& CanClose)>;

// Notice bits handed to HandleNotice (the Windows Sockets FD_* values).
enum : unsigned {
    FD_READ = 0x01,
    FD_WRITE = 0x02,
    FD_OOB = 0x04,
    FD_ACCEPT = 0x08,
    FD_CONNECT = 0x10,
    FD_CLOSE = 0x20,
};

class TCustomWSocket {
public:
    TCustomWSocket();
    virtual ~TCustomWSocket();
    TCustomWSocket(const TCustomWSocket&) = delete;
    TCustomWSocket& operator=(const TCustomWSocket&) = delete;

    // --- properties -------------------------------------------------------
    const std::string& Addr() const { return fAddrStr; }
    void SetAddr(const std::string& Value);
    const std::string& Port() const { return fPortStr; }
    virtual void SetPort(const std::string& Value);
    const std::string& Proto() const { return fProtoStr; }
    virtual void SetProto(const std::string& Value);
    const std::string& LocalPort() const { return fLocalPortStr; }
    void SetLocalPort(const std::string& Value);
    std::string PeerAddr() { return GetPeerAddr(); }
    std::string PeerPort() { return GetPeerPort(); }
    std::string LocalPortText() { return GetLocalPortText(); }
    const std::string& DnsResult() const { return fDnsResult; }
    const std::vector<std::string>& DnsResultList() const { return fDnsResultList; }
    TSocketState State() const { return fState; }
    // Bytes received since the last close (64-bit: a long transfer must not wrap).
    int64_t ReadCount() const { return fReadCount; }
    // When the last byte arrived from the peer, whoever read it (the TLS
    // handshake too); the clock's epoch before the first one.
    std::chrono::steady_clock::time_point LastReceived() const { return fLastReceived; }
    int RcvdCount() { return GetRcvdCount(); }
    int LastError() const { return fLastError; }
    bool MultiThreaded() const { return fMultiThreaded; }
    void SetMultiThreaded(bool Value) { fMultiThreaded = Value; }
    int FlushTimeout() const { return fFlushTimeout; }
    void SetFlushTimeout(int Value) { fFlushTimeout = Value; }
    TSocketSendFlags SendFlags();
    void SetSendFlags(TSocketSendFlags Value);
    // Close never blocks and never resets: the kernel finishes sending in the
    // background; with wsLingerOn and LingerTimeout > 0 Close first waits
    // (pumping) up to that many seconds for the peer to take the data.
    // Abort alone resets the connection.
    TSocketLingerOnOff LingerOnOff() const { return fLingerOnOff; }
    void SetLingerOnOff(TSocketLingerOnOff Value) { fLingerOnOff = Value; }
    int LingerTimeout() const { return fLingerTimeout; }
    void SetLingerTimeout(int Value) { fLingerTimeout = Value; }
    // Size of new blocks of the send chain (0 or less: 1514).
    int BufSize() const { return fBufSize; }
    void SetBufSize(int Value) { fBufSize = Value > 0 ? Value : TBuffer::kDefaultSize; }
    int HSocket() const { return fHSocket; }
    bool AllSent() const { return fAllSent; }
    bool Terminated() const { return fTerminated; }
    bool Paused() const { return fPaused; }
    // Sockets alive in the process.
    static int SocketCount();

    // --- operations -------------------------------------------------------
    virtual void Connect();
    // Graceful: what Send queued is written out first (pumping, at most
    // FlushTimeout seconds), then the sending side is shut down and closed.
    virtual void Close();
    virtual void Abort();
    virtual void Flush();
    virtual void WaitForClose();
    virtual void Listen();
    virtual int Accept();
    virtual int Receive(void* Buffer, int BufferSize);
    virtual std::string ReceiveStr();
    virtual int ReceiveFrom(void* Buffer, int BufferSize, sockaddr_in& From, int& FromLen);
    virtual int Send(const void* Data, int Len);
    virtual int SendTo(const sockaddr_in& Dest, int DestLen, const void* Data, int Len);
    virtual int SendStr(const std::string& Str);
    virtual void DnsLookup(const std::string& HostName);
    virtual void ReverseDnsLookup(const std::string& HostAddr);
    virtual void CancelDnsLookup();
    virtual int GetPeerName(sockaddr_in& Name, int& NameLen);
    virtual int GetSockName(sockaddr_in& Name, int& NameLen);
    virtual void Dup(int NewHSocket);
    virtual void Shutdown(int How);
    virtual void Pause();
    virtual void Resume();
    virtual void PumpEvents();
    // Whether the stream holds something to read right now, without waiting
    // and without taking it: bytes, its end, or an error. A connected stream
    // that nobody asked anything of yet must answer false.
    virtual bool ReadableNow();

    // --- events -----------------------------------------------------------
    TDataAvailable OnDataAvailable;
    TDataSent OnDataSent;
    TSessionClosed OnSessionClosed;
    TSessionAvailable OnSessionAvailable;
    TSessionConnected OnSessionConnected;
    TChangeState OnChangeState;
    TSocketNotifyEvent OnLineTooLong;  // published; nothing fires it
    TDnsLookupDone OnDnsLookupDone;
    TSocketNotifyEvent OnError;
    TBgExceptionEvent OnBgException;

protected:
    // A readiness notice (FD_* bits) for platform handle Handle, with the
    // error the platform reported for it.
    virtual void HandleNotice(int Handle, unsigned Events, uint16_t Error);
    virtual void ResetDefaults();
    virtual void InternalClose(bool Shut, uint16_t Error);
    virtual int GetRcvdCount();
    virtual void BindLocal();
    virtual int RawSend(const void* Data, int Len);
    void RaiseFmt(const char* Fmt, ...) __attribute__((format(printf, 2, 3)));
    virtual void RaiseMsg(const std::string& Msg);
    virtual void HandleBackgroundException(const std::exception& E);
    virtual bool TriggerDataAvailable(uint16_t Error);
    virtual void TriggerSessionAvailable(uint16_t Error);
    virtual void TriggerSessionConnected(uint16_t Error);
    virtual void TriggerSessionClosed(uint16_t Error);
    virtual void TriggerDataSent(uint16_t Error);
    virtual void TriggerChangeState(TSocketState OldState, TSocketState NewState);
    virtual void TriggerDnsLookupDone(uint16_t Error);
    virtual void TriggerError();
    virtual int DoRecv(void* Buffer, int BufferSize, int Flags);
    virtual int DoRecvFrom(void* Buffer, int BufferSize, int Flags, sockaddr_in& From, int& FromLen);
    virtual std::string GetPeerAddr();
    virtual std::string GetPeerPort();
    virtual std::string GetLocalPortText();

    // The one writer of fState; fires OnChangeState (also when unchanged).
    void ChangeState(TSocketState NewState);
    // Composes "Error <code> in function <Func>\r\n<desc>" from the current
    // platform error and reports it through RaiseMsg.
    void SocketError(const std::string& Func);
    // Sets the code SocketError reports next (the thread's last error).
    static void SetLastPlatformError(int Code);
    static int LastPlatformError();
    // Reads straight from the platform socket (no line buffer).
    int PlatformRecv(void* Buffer, int BufferSize, int Flags);
    // Tells the receive loop that the handler's last read took everything
    // there was (a read of a counted amount, or the end of a stream), so it
    // does not call the handler again only to meet would-block.
    void MarkReadDrained() { fRecvDrained = true; }
    // Received bytes held by the component itself and readable by Receive
    // (line-buffer leftovers outside line mode); the receive loop goes on
    // while there are any.
    virtual int BufferedCount() const { return 0; }
    // Posts a notice to this socket itself; it vanishes when the socket dies.
    void PostToSelf(std::function<void()> Fn);
    bool Destroying() const { return fDestroying; }
    // Whether handle H of session GEN is still the socket's current one
    // (descriptor numbers are reused at once after a close).
    bool Live(int H, uint64_t Gen) const { return H != -1 && H == fHSocket && Gen == fSessionGen; }
    uint64_t SessionGen() const { return fSessionGen; }
    void MarkDestroying() { fDestroying = true; }

    int fHSocket = -1;
    TSocketState fState = wsClosed;
    int fLastError = 0;
    int64_t fReadCount = 0;
    std::chrono::steady_clock::time_point fLastReceived{};
    uint64_t fSessionGen = 0;

private:
    struct Lookup;

    void ResolveAll();
    // Resolves the address and makes the new session's non-blocking
    // descriptor; false when either failed (raised or reported, with the
    // caller's prefix and the name of the failed call).
    bool OpenSession(const std::string& caller, const char* socketCall);
    // Sets a socket-level switch; false when refused (reported as Call).
    bool SwitchOn(int Option, const char* Call);
    int ResolveProto(const std::string& Text);
    uint16_t ResolvePort(const std::string& Text, const std::string& ProtoText);
    uint32_t ResolveHost(const std::string& Text);
    void ApplyLinger();
    void Register(unsigned Events);  // FD_* interest
    void Unregister();
    void UpdateInterest();
    void OnReady(uint32_t EpollEvents);
    void ReceiveLoop(uint16_t Error, bool Final = false);
    void TryToSend();
    void AppendToChain(const char* Data, int Len);
    void ClearChain();
    void StartLookup(const std::string& Host, bool Reverse, uint32_t AddrNet);
    void LookupAnswered(uint64_t Id, int Error, std::vector<std::string> Names);
    void CloseHandleQuietly();

    std::string fAddrStr, fPortStr, fProtoStr = "tcp", fLocalPortStr = "0";
    bool fAddrAssigned = false, fPortAssigned = false, fProtoAssigned = true;
    bool fAddrResolved = false, fPortResolved = false, fLocalPortResolved = false,
         fProtoResolved = false;
    sockaddr_in fSin{};
    uint16_t fLocalPortNum = 0;
    int fType = 1;       // SOCK_STREAM
    int fProtoNum = 6;   // IPPROTO_TCP
    std::deque<std::unique_ptr<TBuffer>> fBufList;
    std::unique_ptr<TBuffer> fSpareBlock;
    int fBufSize = TBuffer::kDefaultSize;
    bool fAllSent = true;
    bool fPaused = false;
    bool fCloseInvoked = false;
    bool fTerminated = false;
    bool fDestroying = false;
    bool fMultiThreaded = false;
    bool fSendShut = false;
    int fFlushTimeout = 60;
    int fSendFlags = 0;
    TSocketLingerOnOff fLingerOnOff = wsLingerOn;
    int fLingerTimeout = 0;
    std::string fDnsResult;
    std::vector<std::string> fDnsResultList;
    uint64_t fDnsLookupHandle = 0;

    TNoticeSink fSink;
    uint64_t fWatchId = 0;
    unsigned fInterest = 0;      // FD_* bits registered by Connect/Listen/Dup/Resume
    bool fReadSuspended = false;  // read/accept readiness parked until the next Receive/Accept
    bool fRecvCalled = false;
    bool fRecvDrained = false;    // the handler's last stream read came back short: nothing was left
    bool fAcceptCalled = false;
    bool fDeferInterest = false;
    bool fConnectPosted = false;  // an immediate connect's completion is queued as a notice
    std::shared_ptr<bool> fAlive;
};

// SOCKS 4/4A/5 client mode. It is not built: its properties are kept, and a
// Connect with SocksServer set is refused rather than silently going direct.
class TCustomSocksWSocket : public TCustomWSocket {
public:
    const std::string& SocksServer() const { return fSocksServer; }
    void SetSocksServer(const std::string& Value) { fSocksServer = Value; }
    const std::string& SocksPort() const { return fSocksPort; }
    void SetSocksPort(const std::string& Value) { fSocksPort = Value; }
    const std::string& SocksLevel() const { return fSocksLevel; }
    void SetSocksLevel(const std::string& Value);
    const std::string& SocksUsercode() const { return fSocksUsercode; }
    void SetSocksUsercode(const std::string& Value) { fSocksUsercode = Value; }
    const std::string& SocksPassword() const { return fSocksPassword; }
    void SetSocksPassword(const std::string& Value) { fSocksPassword = Value; }
    TSocksAuthentication SocksAuthentication() const { return fSocksAuthentication; }
    void SetSocksAuthentication(TSocksAuthentication Value) { fSocksAuthentication = Value; }

    TSocketNotifyEvent OnSocksConnected;
    TSocketNotifyEvent OnSocksError;
    TSocketNotifyEvent OnSocksAuthState;

    void Connect() override;

private:
    std::string fSocksServer, fSocksPort, fSocksLevel = "5", fSocksUsercode, fSocksPassword;
    TSocksAuthentication fSocksAuthentication = socksNoAuthentication;
};

// Line mode: while LineMode is on, received bytes are collected until LineEnd
// and each complete line is offered to OnDataAvailable as if it were all the
// data there is; Receive then reads from that line.
class TCustomLineWSocket : public TCustomSocksWSocket {
public:
    TCustomLineWSocket();
    ~TCustomLineWSocket() override;

    bool LineMode() const { return fLineMode; }
    virtual void SetLineMode(bool Value);
    const std::string& LineEnd() const { return fLineEnd; }
    void SetLineEnd(const std::string& Value) { fLineEnd = Value; }
    bool LineEcho() const { return fLineEcho; }
    void SetLineEcho(bool Value) { fLineEcho = Value; }
    bool LineEdit() const { return fLineEdit; }
    void SetLineEdit(bool Value) { fLineEdit = Value; }
    // Upper bound of the line buffer; a line that would exceed it is offered
    // as it stands (without line end) so memory stays bounded.
    static constexpr int kMaxLineBuffer = 1 << 20;

protected:
    // Edits the bytes from fRcvCnt on (NewCount of them) in place; returns the
    // new count and may lower fRcvCnt (backspace into an earlier read).
    virtual int EditLine(int NewCount);
    void ResetDefaults() override;
    int BufferedCount() const override { return fLineMode ? 0 : fRcvCnt; }
    int GetRcvdCount() override;
    int DoRecv(void* Buffer, int BufferSize, int Flags) override;
    bool TriggerDataAvailable(uint16_t Error) override;
    void TriggerSessionClosed(uint16_t Error) override;

private:
    void EnsureBuffer(int Need);
    void OfferLines(int SearchFrom);
    void RemoveFront(int Count);
    void Reoffer();
    int FindLineEnd(int From) const;

    bool fLineMode = false;
    std::string fLineEnd = "\r\n";
    bool fLineEcho = false;
    bool fLineEdit = false;
    std::vector<char> fRcvdPtr;  // line buffer; fRcvdPtr[fRcvCnt] is always 0
    int fRcvCnt = 0;
    int fLineLength = 0;  // pending line incl. its line end, 0 when none
    bool fReofferPosted = false;
};

// Waiting helpers: pump events until a flag is set.
class TCustomSyncWSocket : public TCustomLineWSocket {
public:
    // Pumps the dispatcher (sleeping in the kernel between notices) until the
    // flag is set: 0. Gives up with kWaitGaveUp (12001) when TimeoutMs is set
    // and has passed, or when the application or this socket is terminating.
    virtual int WaitUntilReady(const std::atomic<bool>& Flag);
    int WaitUntilReady(const std::function<bool()>& Ready);
    // Clears the flag, runs Proc (when given), then waits for the flag.
    virtual int Synchronize(std::atomic<bool>& Flag, const std::function<void()>& Proc);

    // Time limit of WaitUntilReady in milliseconds; 0 means none.
    unsigned TimeoutMs() const { return fTimeoutMs; }
    void SetTimeoutMs(unsigned Value) { fTimeoutMs = Value; }

private:
    unsigned fTimeoutMs = 0;
};

class TWSocket : public TCustomSyncWSocket {};
