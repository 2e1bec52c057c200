// HTTP/1.0 client: URL splitting, request targets and the THttpCli component.
//
// One request at a time over a fresh TCP connection per request; the response
// ends when the server closes. Get blocks, but pumps the owning thread's
// notices while it waits, so every event below runs inside Get.
//
// Body data goes block by block to BodyStream (see http/HttpStream.h) and
// OnDocData; the client never accumulates it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "http/HttpStream.h"
#include "net/SslWSocket.h"

class TWSocket;
class TNoticeSink;
class TNoticeTimer;

// ---------------------------------------------------------------------------
// URL splitting and request targets

struct TUrlParts {
    std::string Proto, User, Pass, Host, Port, Path;
};

// Lenient split of an absolute address, host/path, bare path or proxy
// address. Never fails; missing parts are empty.
TUrlParts SplitUrl(const std::string& url);

// Position (from 1) of the n-th occurrence of sub in s, counted from the left
// for n > 0 and from the right for n < 0; 0 when there are fewer.
int PosOccurrence(const std::string& sub, const std::string& s, int n);

// Replaces everything after the last "." by ext, or appends "." + ext.
std::string SetDocExtension(const std::string& name, const std::string& ext);

// The fields of a request that depend on the address and the proxy.
struct THttpTarget {
    std::string ConnectHost;   // server, or proxy
    std::string ConnectPort;
    std::string HostHeader;    // value of the Host line
    std::string RequestTarget; // target of the request line
    std::string Location;      // address of the current request
    std::string DocumentName;  // file-like name of the document
    // Where the document lives, whatever the connection goes to: the TLS
    // server name and the tunnel's end through a proxy.
    bool Secure = false;       // https
    std::string OriginHost;
    std::string OriginPort;
    bool Unsupported = false;  // a scheme other than http or https
};

// "80" for http, "443" for https.
std::string DefaultPort(bool secure);
// Whether a scheme is http or https (any letter case); empty counts as http.
bool SchemeSupported(const std::string& proto, bool& secure);

// File-like name of a request path: "document.htm" for an empty path or "/",
// else the last segment (trailing "/" dropped), at most 255 characters, cut at "?".
std::string DocumentNameOf(const std::string& path);

// Where to connect and what to send for url, directly (proxy empty) or through
// proxy. User and password found in url overwrite username/password (the
// client passes copies: they hold for that one request).
THttpTarget DeriveRequestTarget(const std::string& url, const std::string& proxy,
                                const std::string& proxyPort, std::string& username,
                                std::string& password);

// Applies the value of one Location header to t. withProxy: the request goes
// through a proxy, whose ConnectHost and ConnectPort then never change.
void ApplyRelocation(const std::string& value, bool withProxy, THttpTarget& t);

// Value of the Host line: the host, with ":port" when the port is not the
// scheme's default (servers build their own addresses from it).
std::string HostLineValue(const THttpTarget& t);
// Target of the request line: origin form inside a proxy tunnel, and never a
// fragment.
std::string RequestLineTarget(const THttpTarget& t, bool withProxy);
// Scheme, host (letter case folded) and port of the document t names, with or
// without a proxy: "https://www.x.de:443". Credentials go only where this
// stays what it was when they were given.
std::string OriginOf(const THttpTarget& t);

// ---------------------------------------------------------------------------
// Text helpers

std::string Base64Encode(const std::string& data);

// Date-time in days from day 0 (30 Dec 1899, a Saturday), fraction = time of
// day: "Sun, 06 Nov 1994 08:49:37". Used as given, no time-zone conversion.
std::string FormatHttpDate(double t);

// ---------------------------------------------------------------------------
// The client

class EHttpException : public std::runtime_error {
public:
    EHttpException(const std::string& msg, std::uint16_t code) : std::runtime_error(msg), ErrorCode(code) {}
    std::uint16_t ErrorCode;
};

enum THttpCliState {
    hsIdle,           // no request; Get and the Post/Head engine may start one
    hsStarting,       // request fields derived, lookup about to start
    hsConnected,      // TCP session up, request not yet sent
    hsResolving,      // waiting for the lookup of ConnectHost
    hsConnecting,     // waiting for the TCP connection
    hsAwaitingHeader, // request sent; status and header lines go to the header handler
    hsReceivingBody,  // every received block goes to the body handler
    hsAborting        // Abort is closing down; late notices change nothing
};

enum THttpRequest { rqNone, rqGet, rqPost, rqHead };

// A request field that the caller sets for one request. The client also
// stores what a response said in it; only a value the caller assigned goes
// out with the next request.
class THttpRequestField {
public:
    THttpRequestField& operator=(std::string v)
    {
        fValue = std::move(v);
        fCallerSet = true;
        return *this;
    }
    operator const std::string&() const { return fValue; }
    const std::string& str() const { return fValue; }
    bool empty() const { return fValue.empty(); }
    bool CallerSet() const { return fCallerSet && !fValue.empty(); }
    void SetFromResponse(std::string v)
    {
        fValue = std::move(v);
        fCallerSet = false;
    }
    void clear()
    {
        fValue.clear();
        fCallerSet = false;
    }
    friend bool operator==(const THttpRequestField& a, std::string_view b) { return a.fValue == b; }
    friend std::ostream& operator<<(std::ostream& os, const THttpRequestField& f) { return os << f.fValue; }

private:
    std::string fValue;
    bool fCallerSet = false;
};

// DoneError values of the client's own failures (socket errors are 10000 and
// above). Each such failure also sets StatusCode 404 and a StatusText naming it.
enum : std::uint16_t {
    httpErrAborted = 3,          // Abort
    httpErrLineTooLong = 4,      // a header line filled the 8192-byte buffer
    httpErrBadNumber = 5,        // status or Content-Length not a decimal number
    httpErrTooManyRelocations = 6,
    httpErrTruncated = 7,        // closed before the announced Content-Length arrived, or a secure body
                                 // without length ended by a bare TCP close (no close_notify)
    httpErrBodyWrite = 8,        // BodyStream refused a block
    httpErrHeaderTooLarge = 9,   // a response header beyond 1 MiB (its lines are all kept)
    httpErrTlsHandshake = 10,    // no TLS session came about (not a TLS peer, no common version ...)
    httpErrCertUntrusted = 11,   // certificate chain not trusted
    httpErrCertExpired = 12,     // certificate expired or not yet valid
    httpErrCertHostMismatch = 13,// certificate for another host name or address
    httpErrProxyTunnel = 14,     // the proxy refused or broke off the CONNECT tunnel
    httpErrUnsupportedScheme = 15,// neither http nor https: no connection is made
    httpErrConnectTimeout = 16,  // no connection within ConnectTimeout
    httpErrIdleTimeout = 17,     // no byte received for IdleTimeout
    httpErrTlsStream = 18,       // the secure stream broke after the handshake
    httpErrNoStatusLine = 19     // a kept connection answered without status line, also when asked again
};

// Short text (German, for the status memo) of the request-done codes that
// carry one; empty for the others.
std::string HttpDoneErrorText(std::uint16_t code);

class THttpCli {
public:
    using TNotifyEvent = std::function<void(THttpCli& Sender)>;
    using TDocDataEvent = std::function<void(THttpCli& Sender, const char* Buffer, int Len)>;
    using TOnCommand = std::function<void(THttpCli& Sender, std::string& S)>;
    using TCookieRcvdEvent = std::function<void(THttpCli& Sender, const std::string& Data, bool& Accept)>;
    using THttpRequestDone = std::function<void(THttpCli& Sender, THttpRequest RqType, std::uint16_t Error)>;
    using TReceivePaceEvent = std::function<std::int64_t(THttpCli& Sender, std::size_t Bytes)>;

    static constexpr int kMaxRelocations = 20;

    THttpCli();
    virtual ~THttpCli();
    THttpCli(const THttpCli&) = delete;
    THttpCli& operator=(const THttpCli&) = delete;

    // Published properties.
    std::string URL;
    std::string Proxy;
    std::string ProxyPort = "80";
    std::string Sender;
    static constexpr std::string_view kDefaultAgent = "Mozilla/3.0 (compatible)";
    std::string Agent{kDefaultAgent};
    std::string Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
    std::string Reference;
    // Basic authorisation for the origin a request starts at. User
    // information in URL takes their place for that request only.
    std::string Username, Password;
    std::string ProxyUsername, ProxyPassword;
    bool NoCache = false;
    double ModifiedSince = 0;
    std::string Cookie;
    std::string ContentTypePost = "application/x-www-form-urlencoded";
    THttpRequestField ContentRangeBegin, ContentRangeEnd;
    // Secure connections: an extra trusted CA file, and whether a failed
    // certificate check may be ignored.
    std::string CaFile;
    bool NoCheckCertificate = false;
    // Seconds; 0 means none. ConnectTimeout runs from the start of a
    // connection (lookup included) until the TCP session is up; IdleTimeout
    // from the last byte received. Either ends the request like Abort, with
    // its own DoneError.
    double ConnectTimeout = 0;
    double IdleTimeout = 0;
    // Asks the server to keep the connection open ("Connection: keep-alive",
    // HTTP/1.0 style) and sends the next request to the same server over it.
    // A response the server agreed to keep is complete when its announced
    // length has arrived (at once for 204, 304 and HEAD).
    bool KeepAlive = false;
    bool MultiThreaded() const { return fMultiThreaded; }
    void SetMultiThreaded(bool value);

    // Published events, in declaration order.
    TNotifyEvent OnStateChange;
    TNotifyEvent OnSessionConnected;
    TNotifyEvent OnRequestHeaderBegin;
    TNotifyEvent OnRequestHeaderEnd;
    TNotifyEvent OnHeaderBegin;
    TNotifyEvent OnHeaderEnd;
    TNotifyEvent OnHeaderData;
    TNotifyEvent OnDocBegin;
    TNotifyEvent OnDocEnd;
    TDocDataEvent OnDocData;
    TNotifyEvent OnSendBegin;
    TNotifyEvent OnSendEnd;
    TDocDataEvent OnSendData;
    TNotifyEvent OnTrace;
    TOnCommand OnCommand;
    TCookieRcvdEvent OnCookie;
    THttpRequestDone OnRequestDone;
    TNotifyEvent OnLocationChange;
    // A rate limit's hook: told of every block read for a request, it answers
    // how many milliseconds to read nothing more (the idle time-out does not
    // run meanwhile). While it is set, reads take at most kPacedBlock bytes,
    // so that no single read outruns the pause it causes.
    TReceivePaceEvent OnReceivePace;
    static constexpr std::size_t kPacedBlock = 16 * 1024;

    // Caller-owned streams. While BodyStream's ReadLimit is above 0, no read
    // from the socket (the response header's included) takes more bytes.
    TStream* BodyStream = nullptr;
    TStream* PostStream = nullptr;

    // Synchronous GET of URL. Raises EHttpException (StatusText, low 16 bits of
    // StatusCode) when the request ended with a status of 400 or more.
    void Get();
    // The same engine for the other methods (not used by the program itself).
    void Post();
    void Head();
    // Starts a GET of URL and returns; OnRequestDone reports its end. Raises
    // only what starting Get raises.
    void GetAsync();
    // Ends the request under way at once; safe in any state and from handlers.
    void Abort();

    // Public state.
    THttpCliState State() const { return fState; }
    THttpRequest RequestType() const { return fRequestType; }
    int StatusCode() const { return fStatusCode; }
    const std::string& StatusText() const { return fStatusText; }
    std::int64_t ContentLength() const { return fContentLength; }
    const std::string& ContentType() const { return fContentType; }
    std::int64_t BodyCount() const { return fBodyCount; }
    std::int64_t PostedCount() const { return fPostedCount; }
    const std::vector<std::string>& ResponseHeader() const { return fResponseHeader; }
    const std::vector<std::string>& AuthChallenges() const { return fAuthChallenges; }
    const std::string& Location() const { return fTarget.Location; }
    const std::string& DocumentName() const { return fTarget.DocumentName; }
    const std::string& AcceptRanges() const { return fAcceptRanges; }
    std::uint16_t DoneError() const { return fDoneError; }
    bool IsConnected() const { return fConnected; }
    // A request is under way, or its OnRequestDone has not come yet.
    bool RequestPending() const { return fState != hsIdle || fPendingDone > 0; }
    const std::string& ResolvedAddress() const { return fResolvedAddress; }
    TSslWSocket& Socket() { return *fSocket; }

protected:
    virtual void WriteRequestLine(const std::string& line);
    virtual void StartLookup();
    virtual void CloseConnection();
    virtual void RelocationClosed(std::uint16_t error);
    virtual void TriggerCookie(const std::string& data, bool& accept);
    virtual void TriggerSessionConnected();
    virtual void TriggerRequestHeaderBegin();
    virtual void TriggerRequestHeaderEnd();
    virtual void TriggerHeaderBegin();
    virtual void TriggerHeaderEnd();
    virtual void TriggerDocBegin();
    virtual void TriggerDocData(const char* data, int len);
    virtual void TriggerDocEnd();
    virtual void TriggerSendBegin();
    virtual void TriggerSendData(const char* data, int len);
    virtual void TriggerSendEnd();

    // Internal fields, visible to subclasses and tests.
    THttpTarget fTarget;
    bool fRelocationPending = false;

private:
    enum class TStep { None, Header, Body };
    // What the connection does before the request is sent.
    enum class TPhase { None, Tunnel, Handshake };
    enum class TNotice { RequestDone, SetReady, Relogin };

    void StartRequest(THttpRequest rq);
    void DoRequestSync(THttpRequest rq);
    void WaitDone();
    void SetState(THttpCliState s);
    void PostNotice(TNotice n);
    void HandleNotice(TNotice n);

    void SocketDnsLookupDone(std::uint16_t error);
    void SocketSessionConnected(std::uint16_t error);
    void SocketDataAvailable(std::uint16_t error);
    void SocketDataSent(std::uint16_t error);
    void SocketSessionClosed(std::uint16_t error);
    void InstallCloseHandler(bool relocation);

    void SendRequest(const std::string& method);
    void SendPostChunk();
    void CallNextStep(const char* data, std::size_t len);
    void HeaderLine(const std::string& line);
    void HeaderEnd();
    void BodyBlock(const char* data, std::size_t len);
    void CloseHandler(std::uint16_t error);
    void SessionUp();
    void SendTunnelRequest();
    void TunnelData();
    void TunnelLine(const std::string& line);
    void BeginTls();
    void SocketTlsDone(std::uint16_t error);
    void AbortWith(std::uint16_t code, const std::string& text);
    void ArmTimer();
    void TimerFired();
    std::chrono::steady_clock::time_point LastSignOfLife() const;
    std::size_t ReadSize(std::size_t room) const;
    void PaceAfter(std::size_t bytes);
    void EndPace();
    void ReadOn();
    void Relogin();
    void ResetExchange();
    // Records a client failure: DoneError code, StatusCode 404, StatusText text.
    void SetFailure(std::uint16_t code, const std::string& text);
    // SetFailure, then ends the request: the connection is closed.
    void Fail(std::uint16_t code, const std::string& text);
    bool ResponseTruncated() const;
    // Keep-alive: where a connection leads, the end of a kept response, the
    // one retry of a request the server did not answer on a kept connection,
    // and bytes that arrive while no request runs.
    std::string ConnectionKey(const THttpTarget& t) const;
    bool KeptBodyDone() const;
    void ResponseComplete();
    bool RetryOnFreshConnection();
    void KeptAnswerBroken();
    void DropKeptConnection();
    void IdleSocketData();

    std::unique_ptr<TSslWSocket> fSocket;
    std::unique_ptr<TNoticeTimer> fTimer;
    std::unique_ptr<TNoticeSink> fSink; // notices still queued vanish with the client
    int fPendingDone = 0;               // RequestDone notices posted, not yet delivered
    bool fMultiThreaded = false;

    THttpCliState fState = hsIdle;
    THttpRequest fRequestType = rqNone;
    int fStatusCode = 0;
    std::string fStatusText;
    std::int64_t fContentLength = -1;
    std::int64_t fAnnouncedLength = -1; // Content-Length of the response under way only
    std::string fContentType;
    std::int64_t fBodyCount = 0;
    std::int64_t fResponseBody = 0;     // body bytes of the response under way only
    std::int64_t fPostedCount = 0;
    std::vector<std::string> fResponseHeader;
    std::vector<std::string> fAuthChallenges;
    std::string fAcceptRanges;
    std::uint16_t fDoneError = 0;
    bool fConnected = false;
    std::string fResolvedAddress;

    char fReceiveBuffer[8193];
    std::unique_ptr<char[]> fBodyBuffer;
    std::size_t fReceiveLen = 0;   // end of the bytes in fReceiveBuffer
    std::size_t fReceiveStart = 0; // first byte not yet taken: lines are taken without moving the rest
    int fHeaderLines = 0;
    std::size_t fHeaderBytes = 0; // kept header text of the response under way, with a per-line charge
    int fBodyBlocks = 0;
    int fRelocations = 0;
    TStep fNextStep = TStep::None;
    bool fPostFlag = false;
    bool fFailed = false;        // a client failure already ended this request
    bool fDocEnded = false;
    bool fCloseIsRelocation = false;
    std::uint16_t fRecvError = 0; // a receive error seen before the close notice
    bool fConnKeep = false;       // the response's Connection header: keep-alive
    bool fConnClose = false;      // ... and close
    bool fKeepResponse = false;   // this response ends at its length, the connection stays
    bool fBetween = false;        // the response is complete; the connection waits for the next request
    bool fOnKept = false;         // this request went out on a connection kept from before
    std::string fKeptKey;         // where the open connection leads; empty when none may be reused
    std::string fConnectionKey;   // where the connection of the request under way leads
    TPhase fPhase = TPhase::None;
    bool fTcpUp = false;          // the TCP session of this connection is up
    int fTunnelStatus = 0;
    std::string fTunnelStatusLine;
    int fTunnelLines = 0;
    std::chrono::steady_clock::time_point fConnectStart, fLastActivity;
    bool fPaced = false;          // reading waits for fPacedUntil; the socket is paused
    std::chrono::steady_clock::time_point fPacedUntil;
    std::uint64_t fPacedRead = 0; // bytes told to OnReceivePace, to see whether a read took any
    std::string fCredentialOrigin; // OriginOf the address the request started with
    std::string fRequestUser, fRequestPassword; // Username/Password, or those of URL, for this request only
    std::string fRequestText;
};
