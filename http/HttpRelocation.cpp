// THttpCli: the HTTP/1.0 client state machine on top of one TWSocket.
#include "http/HttpProt.h"

// system
#include <cstring>

// ours
#include "http/AsciiCase.h"
#include "net/Dispatcher.h"
#include "net/NoticeTimer.h"
#include "net/SslWSocket.h"
#include "net/WSocket.h"

namespace {

constexpr std::size_t kLineMax = 8192;
// Body data bypasses the line buffer: bigger reads mean fewer system calls per byte.
constexpr std::size_t kBodyBlock = 65536;
constexpr std::size_t kPostChunk = 8193;
// ResponseHeader keeps every line, so a header that never ends must stop
// somewhere; the per-line charge bounds the count of tiny lines as well.
constexpr std::size_t kHeaderMax = 1 << 20;
constexpr std::size_t kHeaderLineCharge = 64;

// A decimal number sent by the peer: leading blanks, then 1..maxDigits digits,
// then at most trailing blanks. Anything else, or too many digits, is refused.
bool ParseDecimal(std::string_view text, std::size_t maxDigits, std::int64_t& out)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    std::size_t start = i;
    std::int64_t v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        if (i - start >= maxDigits)
            return false;
        v = v * 10 + (text[i] - '0');
        ++i;
    }
    if (i == start)
        return false;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    if (i != text.size())
        return false;
    out = v;
    return true;
}

// Bytes that would break the request line (blanks, controls) go out
// percent-encoded; everything else is sent as the address holds it.
std::string EscapeTarget(const std::string& target)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(target.size());
    for (unsigned char c : target) {
        if (c <= 0x20 || c == 0x7F) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// Header values come from addresses and settings; a line break in one would
// start a header line of the sender's choosing.
std::string StripLineBreaks(std::string s)
{
    std::erase_if(s, [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
    return s;
}

std::string ShortForMessage(const std::string& s)
{
    return s.size() > 60 ? s.substr(0, 60) + "..." : s;
}

}  // namespace

THttpCli::THttpCli()
    : fSocket(std::make_unique<TSslWSocket>()),
      fTimer(std::make_unique<TNoticeTimer>([this] { TimerFired(); })),
      fSink(std::make_unique<TNoticeSink>()), fBodyBuffer(std::make_unique<char[]>(kBodyBlock))
{
    fSocket->OnTlsDone = [this](TCustomWSocket*, std::uint16_t e) { SocketTlsDone(e); };
    fSocket->OnSessionConnected = [this](TCustomWSocket*, std::uint16_t e) { SocketSessionConnected(e); };
    fSocket->OnDnsLookupDone = [this](TCustomWSocket*, std::uint16_t e) { SocketDnsLookupDone(e); };
    fSocket->OnDataAvailable = [this](TCustomWSocket*, std::uint16_t e) { SocketDataAvailable(e); };
    fSocket->OnDataSent = [this](TCustomWSocket*, std::uint16_t e) { SocketDataSent(e); };
    InstallCloseHandler(false);
    fReceiveBuffer[0] = 0;
}

THttpCli::~THttpCli()
{
    // Queued notices must not reach a half-destroyed client; the socket then
    // closes without reporting OnSessionClosed.
    fSink.reset();
    fTimer.reset();
    fSocket.reset();
}

void THttpCli::SetMultiThreaded(bool value)
{
    fMultiThreaded = value;
    fSocket->SetMultiThreaded(value);
}

void THttpCli::InstallCloseHandler(bool relocation)
{
    fCloseIsRelocation = relocation;
    fSocket->OnSessionClosed = [this](TCustomWSocket*, std::uint16_t e) {
        if (fCloseIsRelocation)
            RelocationClosed(e);
        else
            CloseHandler(e);
    };
}

// ---------------------------------------------------------------------------
// State and notices

void THttpCli::SetState(THttpCliState s)
{
    if (s == fState)
        return;
    fState = s;
    if (s == hsIdle)
        fTimer->Stop();
    if (OnStateChange)
        OnStateChange(*this);
    if (s == hsIdle)
        PostNotice(TNotice::RequestDone);
}

void THttpCli::PostNotice(TNotice n)
{
    if (n == TNotice::RequestDone)
        ++fPendingDone;
    fSink->Post([this, n] { HandleNotice(n); });
}

void THttpCli::HandleNotice(TNotice n)
{
    switch (n) {
    case TNotice::RequestDone:
        --fPendingDone;
        if (OnRequestDone)
            OnRequestDone(*this, fRequestType, fDoneError);
        break;
    case TNotice::SetReady:
        SetState(hsIdle);
        break;
    case TNotice::Relogin:
        Relogin();
        break;
    }
}

// ---------------------------------------------------------------------------
// Starting and waiting

void THttpCli::Get() { DoRequestSync(rqGet); }
void THttpCli::Post() { DoRequestSync(rqPost); }
void THttpCli::Head() { DoRequestSync(rqHead); }

void THttpCli::DoRequestSync(THttpRequest rq)
{
    StartRequest(rq);
    WaitDone();
    if (fStatusCode >= 400)
        throw EHttpException(fStatusText, static_cast<std::uint16_t>(fStatusCode & 0xFFFF));
}

void THttpCli::WaitDone()
{
    // Idle alone is not enough: the RequestDone of this request must have been
    // delivered too, also when Abort made the client idle from inside a handler.
    bool aborted = false;
    while (fState != hsIdle || fPendingDone > 0) {
        if (ApplicationTerminating()) {
            if (!aborted && fState != hsIdle) {
                aborted = true;
                Abort();
            }
            TNoticeDispatcher::Current().PumpPending();
            if (fState == hsIdle)
                break;
        }
        TNoticeDeadline deadline = TNoticeClock::now() + std::chrono::seconds(1);
        if (fMultiThreaded)
            TNoticeDispatcher::Current().WaitAndPump(deadline);
        else
            WaitForNotices(deadline);
    }
}

void THttpCli::StartRequest(THttpRequest rq)
{
    if (fState != hsIdle)
        throw EHttpException("HTTP component is busy", 1);
    if (rq == rqPost && PostStream == nullptr)
        throw EHttpException("HTTP component has nothing to post", 2);

    fResponseHeader.clear();
    fRequestType = rq;
    fDoneError = 0;
    InstallCloseHandler(false);
    SetState(hsStarting);
    if (fState != hsStarting)
        return; // aborted from OnStateChange: the request has ended already
    fStatusCode = 0;
    fStatusText.clear();
    fBodyCount = 0;
    fPostedCount = 0;
    fHeaderLines = 0;
    fHeaderBytes = 0;
    fBodyBlocks = 0;
    fRelocations = 0;
    fContentLength = -1;
    fAnnouncedLength = -1;
    fResponseBody = 0;
    fContentType.clear();
    fPostFlag = false;
    fRelocationPending = false;
    fFailed = false;
    fDocEnded = false;
    fRecvError = 0;
    fReceiveLen = 0;
    fReceiveStart = 0;
    fNextStep = TStep::None;
    fPhase = TPhase::None;
    fTcpUp = false;
    fTarget = DeriveRequestTarget(URL, Proxy, ProxyPort, Username, Password);
    if (fTarget.Unsupported) {
        // Fetching "ftp://h/x" as plain HTTP on port 80 would be a guess.
        SetFailure(httpErrUnsupportedScheme, "Protokoll nicht unterstützt");
        CloseHandler(0);
        return;
    }
    fConnectStart = fLastActivity = std::chrono::steady_clock::now();
    fLastReadCount = 0;
    ArmTimer();

    try {
        StartLookup();
    } catch (...) {
        // The lookup could not even start (no host): the exception is the
        // caller's, but the client must not stay busy for the next request.
        if (!fFailed)
            SetFailure(WSAEINVAL, "can't resolve hostname to IP address");
        CloseConnection();
        SetState(hsIdle);
        try {
            WaitDone();
        } catch (...) {
        }
        throw;
    }
}

void THttpCli::StartLookup()
{
    fResolvedAddress.clear();
    SetState(hsResolving);
    if (fState != hsResolving)
        return; // aborted from OnStateChange
    fSocket->DnsLookup(fTarget.ConnectHost);
}

void THttpCli::SocketDnsLookupDone(std::uint16_t error)
{
    if (fState != hsResolving)
        return; // aborting, or a late answer after the request ended
    if (error != 0) {
        SetFailure(error, "can't resolve hostname to IP address");
        CloseHandler(0);
        return;
    }
    fResolvedAddress = fSocket->DnsResult();
    SetState(hsConnecting);
    if (fState != hsConnecting)
        return; // aborted from OnStateChange: no connection may be left behind
    try {
        fSocket->SetAddr(fResolvedAddress);
        fSocket->SetPort(fTarget.ConnectPort);
        fSocket->SetProto("tcp");
        fSocket->Connect();
    } catch (const std::exception&) {
        // Refusals before any platform call (a port that names no service)
        // leave no platform error; the request still failed.
        int code = fSocket->LastError() != 0 ? fSocket->LastError() : WSAEINVAL;
        SetFailure(static_cast<std::uint16_t>(code),
                   "can't connect: " + SocketErrorDesc(code) + " (Error #" + std::to_string(code) + ")");
        try {
            fSocket->Close();
        } catch (...) {
        }
        CloseHandler(0);
    }
}

void THttpCli::SocketSessionConnected(std::uint16_t error)
{
    if (fState != hsConnecting)
        return;
    if (error != 0) {
        SetFailure(error, SocketErrorDesc(error) + " (Error #" + std::to_string(error) + ")");
        CloseHandler(0);
        return;
    }
    fTcpUp = true;
    fLastActivity = std::chrono::steady_clock::now();
    if (fTarget.Secure && !Proxy.empty()) {
        fPhase = TPhase::Tunnel;
        try {
            SendTunnelRequest();
        } catch (const std::exception&) {
            CloseConnection();
        }
        return;
    }
    if (fTarget.Secure) {
        BeginTls();
        return;
    }
    SessionUp();
}

// The session the request goes over is up: plain TCP, or TLS after the
// handshake (and the tunnel).
void THttpCli::SessionUp()
{
    fPhase = TPhase::None;
    fConnected = true;
    SetState(hsConnected);
    TriggerSessionConnected();
    if (fState != hsConnected)
        return; // the handler aborted
    fNextStep = TStep::Header;
    SetState(hsAwaitingHeader);
    try {
        static const char* const kMethods[] = {"GET", "GET", "POST", "HEAD"};
        SendRequest(kMethods[fRequestType]);
        if (fRequestType == rqPost && fState == hsAwaitingHeader) {
            TriggerSendBegin();
            fPostFlag = true;
            SendPostChunk();
        }
    } catch (const std::exception&) {
        CloseConnection();
    }
}

// ---------------------------------------------------------------------------
// Request text

void THttpCli::WriteRequestLine(const std::string& line)
{
    std::string s = line;
    if (OnCommand)
        OnCommand(*this, s);
    if (!s.empty())
        fRequestText += s;
    fRequestText += "\r\n";
}

void THttpCli::SendRequest(const std::string& method)
{
    fRequestText.clear();
    TriggerRequestHeaderBegin();
    auto header = [this](const std::string& name, const std::string& value) {
        WriteRequestLine(name + ": " + StripLineBreaks(value));
    };
    WriteRequestLine(method + " " + EscapeTarget(RequestLineTarget(fTarget, !Proxy.empty())) + " HTTP/1.0");
    if (!Sender.empty())
        header("From", Sender);
    if (!Accept.empty())
        header("Accept", Accept);
    if (!Reference.empty())
        header("Referer", Reference);
    if (method == "POST" && !ContentTypePost.empty())
        header("Content-Type", ContentTypePost);
    if (!Agent.empty())
        header("User-Agent", Agent);
    header("Host", HostLineValue(fTarget));
    if (NoCache)
        WriteRequestLine("Pragma: no-cache");
    if (method == "POST")
        header("Content-Length", std::to_string(PostStream ? PostStream->Size() : 0));
    if (ModifiedSince != 0)
        header("If-Modified-Since", FormatHttpDate(ModifiedSince) + " GMT");
    if (!Username.empty())
        header("Authorization", "Basic " + Base64Encode(Username + ":" + Password));
    // Inside a tunnel the origin would read the proxy's password.
    if (!Proxy.empty() && !ProxyUsername.empty() && !fTarget.Secure)
        header("Proxy-Authorization", "Basic " + Base64Encode(ProxyUsername + ":" + ProxyPassword));
    if (!Cookie.empty())
        header("Cookie", Cookie);
    // Only a range the caller asked for: one a response reported would cut
    // the next document, from any address, to a piece kept as if whole.
    if (ContentRangeBegin.CallerSet() || ContentRangeEnd.CallerSet())
        header("Range", "bytes=" + ContentRangeBegin.str() + "-" + ContentRangeEnd.str());
    ContentRangeBegin.clear();
    ContentRangeEnd.clear();
    fAcceptRanges.clear();
    TriggerRequestHeaderEnd();
    WriteRequestLine("");
    std::string text;
    text.swap(fRequestText);
    fSocket->Send(text.data(), static_cast<int>(text.size()));
}

void THttpCli::SocketDataSent(std::uint16_t)
{
    if (fPostFlag)
        SendPostChunk();
}

void THttpCli::SendPostChunk()
{
    char chunk[kPostChunk];
    std::size_t n = PostStream ? PostStream->Read(chunk, sizeof chunk) : 0;
    if (n == 0) {
        fPostFlag = false;
        TriggerSendEnd();
        return;
    }
    fPostedCount += static_cast<std::int64_t>(n);
    TriggerSendData(chunk, static_cast<int>(n));
    fSocket->Send(chunk, static_cast<int>(n));
}

// ---------------------------------------------------------------------------
// Receiving

void THttpCli::SocketDataAvailable(std::uint16_t)
{
    fLastActivity = std::chrono::steady_clock::now();
    if (fPhase == TPhase::Tunnel) {
        TunnelData();
        return;
    }
    if (fState == hsReceivingBody && fReceiveLen == 0 && fRequestType != rqNone) {
        int n = fSocket->Receive(fBodyBuffer.get(), static_cast<int>(kBodyBlock));
        if (n < 0) {
            int e = fSocket->LastError();
            if (fSocket->TlsFailure() == TTlsFailure::Stream)
                Fail(httpErrTlsStream, fSocket->TlsFailureText());
            else if (e != WSAEWOULDBLOCK && e != 0)
                fRecvError = static_cast<std::uint16_t>(e);
        } else if (n > 0) {
            CallNextStep(fBodyBuffer.get(), static_cast<std::size_t>(n));
        }
        return;
    }
    if (fReceiveStart > 0) {
        // Lines taken so far leave room at the front: one move per read.
        std::memmove(fReceiveBuffer, fReceiveBuffer + fReceiveStart, fReceiveLen - fReceiveStart);
        fReceiveLen -= fReceiveStart;
        fReceiveStart = 0;
    }
    if (fReceiveLen >= kLineMax) {
        // Cannot happen: a full buffer without a line end already failed.
        Fail(httpErrLineTooLong, "HTTP line too long");
        return;
    }
    int n = fSocket->Receive(fReceiveBuffer + fReceiveLen, static_cast<int>(kLineMax - fReceiveLen));
    if (n < 0) {
        int e = fSocket->LastError();
        if (fSocket->TlsFailure() == TTlsFailure::Stream)
            Fail(httpErrTlsStream, fSocket->TlsFailureText());
        else if (e != WSAEWOULDBLOCK && e != 0)
            fRecvError = static_cast<std::uint16_t>(e);
        return;
    }
    if (fRequestType == rqNone || n == 0)
        return;
    fReceiveLen += static_cast<std::size_t>(n);
    fReceiveBuffer[fReceiveLen] = 0;

    if (fState == hsReceivingBody) {
        std::size_t len = fReceiveLen;
        fReceiveLen = 0;
        CallNextStep(fReceiveBuffer, len);
        return;
    }

    // Handlers called from here may drop what is buffered (an abort, a
    // relocation): every turn reads the offsets afresh.
    while (fReceiveLen > fReceiveStart) {
        char* const text = fReceiveBuffer + fReceiveStart;
        const std::size_t avail = fReceiveLen - fReceiveStart;
        if (fState != hsAwaitingHeader) {
            if (fState == hsReceivingBody) {
                fReceiveLen = 0;
                fReceiveStart = 0;
                CallNextStep(text, avail);
            } else {
                fReceiveLen = 0; // nobody wants the bytes any more
                fReceiveStart = 0;
            }
            return;
        }
        if (avail >= 6 && UpperAscii(std::string(text, 6)) == "<HTML>") {
            // No header at all: the document starts here and reaches the body
            // exactly as it came, line ends included.
            if (fHeaderLines++ == 0)
                TriggerHeaderBegin();
            if (fState != hsAwaitingHeader)
                continue; // aborted from OnHeaderBegin
            if (fContentType.empty())
                fContentType = "text/html";
            SetState(hsReceivingBody);
            fNextStep = TStep::Body;
            TriggerHeaderEnd();
            continue;
        }
        char* lf = static_cast<char*>(std::memchr(text, '\n', avail));
        if (lf == nullptr) {
            if (avail >= kLineMax)
                Fail(httpErrLineTooLong, "HTTP line too long");
            return;
        }
        std::size_t used = static_cast<std::size_t>(lf - text) + 1;
        std::size_t textLen = used - 1;
        if (textLen > 0 && text[textLen - 1] == '\r')
            --textLen;
        std::string line(text, textLen);
        fReceiveStart += used;
        if (fReceiveStart == fReceiveLen)
            fReceiveLen = fReceiveStart = 0;
        if (fNextStep == TStep::None)
            PostNotice(TNotice::SetReady);
        else
            HeaderLine(line);
    }
}

void THttpCli::CallNextStep(const char* data, std::size_t len)
{
    switch (fNextStep) {
    case TStep::Body:
        BodyBlock(data, len);
        break;
    case TStep::Header:
        // Only reached when a line is handed over while the header is read.
        HeaderLine(std::string(data, len));
        break;
    case TStep::None:
        PostNotice(TNotice::SetReady);
        break;
    }
}

void THttpCli::HeaderLine(const std::string& line)
{
    if (fHeaderLines++ == 0) {
        // Challenges belong to the response that made them.
        fAuthChallenges.clear();
        TriggerHeaderBegin();
    }
    if (fState != hsAwaitingHeader)
        return; // aborted from OnHeaderBegin: a status read now would hide the abort
    if (line.empty()) {
        HeaderEnd();
        return;
    }
    fHeaderBytes += line.size() + kHeaderLineCharge;
    if (fHeaderBytes > kHeaderMax) {
        Fail(httpErrHeaderTooLarge, "HTTP header too large");
        return;
    }
    fResponseHeader.push_back(line);
    if (line.compare(0, 8, "HTTP/1.0") == 0 || line.compare(0, 8, "HTTP/1.1") == 0) {
        std::int64_t status;
        if (!ParseDecimal(line.size() > 9 ? line.substr(9, 3) : std::string(), 3, status)) {
            Fail(httpErrBadNumber, "Invalid status line \"" + ShortForMessage(line) + "\"");
            return;
        }
        fStatusCode = static_cast<int>(status);
        fStatusText = line.size() > 13 ? line.substr(13) : std::string();
    } else {
        const std::string_view text(line);
        std::string::size_type colon = text.find(':');
        if (colon != std::string::npos) {
            // Views into the line: most header lines are about nothing we keep.
            const std::string_view name = text.substr(0, colon);
            std::string::size_type v = colon + 1;
            while (v + 1 < text.size() && text[v] == ' ')
                ++v;
            const std::string_view value = text.substr(v);
            if (SameTextAscii(name, "location")) {
                fRelocationPending = true;
                ApplyRelocation(std::string(value), !Proxy.empty(), fTarget);
            } else if (SameTextAscii(name, "content-length")) {
                std::int64_t len;
                if (!ParseDecimal(value, 18, len)) {
                    Fail(httpErrBadNumber, "Invalid Content-Length \"" + ShortForMessage(std::string(value)) + "\"");
                    return;
                }
                fContentLength = len;
                fAnnouncedLength = len;
            } else if (SameTextAscii(name, "content-range")) {
                std::string::size_type dash = value.find('-');
                std::string::size_type slash = value.find('/');
                if (dash != std::string::npos && dash >= 6) {
                    ContentRangeBegin.SetFromResponse(std::string(value.substr(6, dash - 6)));
                    std::string::size_type endStop = slash != std::string::npos && slash > dash ? slash : value.size();
                    ContentRangeEnd.SetFromResponse(std::string(value.substr(dash + 1, endStop - dash - 1)));
                } else {
                    ContentRangeBegin.clear();
                    ContentRangeEnd.clear();
                }
            } else if (SameTextAscii(name, "accept-ranges")) {
                fAcceptRanges = value;
            } else if (SameTextAscii(name, "content-type")) {
                fContentType = LowerAscii(std::string(value));
            } else if (SameTextAscii(name, "www-authenticate")) {
                fAuthChallenges.emplace_back(value);
            } else if (SameTextAscii(name, "set-cookie")) {
                bool accept = true;
                TriggerCookie(std::string(value), accept);
            }
        }
    }
    if (OnHeaderData)
        OnHeaderData(*this);
    if (fStatusCode >= 400 && fSocket->State() != wsClosed)
        CloseConnection();
}

void THttpCli::HeaderEnd()
{
    if (fRelocationPending && fStatusCode < 400) {
        TriggerHeaderEnd();
        if (fState != hsAwaitingHeader)
            return; // aborted from the handler
        fReceiveLen = 0;
        fReceiveStart = 0;
        fHeaderLines = 0;
        fHeaderBytes = 0;
        fBodyBlocks = 0;
        if (++fRelocations > kMaxRelocations) {
            Fail(httpErrTooManyRelocations, "Too many relocations");
            return;
        }
        if (fTarget.Unsupported) {
            Fail(httpErrUnsupportedScheme, "Protokoll nicht unterstützt");
            return;
        }
        InstallCloseHandler(true);
        if (fSocket->State() == wsClosed)
            RelocationClosed(0);
        else
            CloseConnection();
        return;
    }
    fRelocationPending = false;
    std::string name = LowerAscii(fTarget.DocumentName);
    std::string::size_type dot = name.rfind('.');
    if (dot != std::string::npos && name.substr(dot) == ".exe" && fContentType == "text/html")
        fTarget.DocumentName = SetDocExtension(fTarget.DocumentName, "htm");
    SetState(hsReceivingBody);
    fNextStep = TStep::Body;
    TriggerHeaderEnd();
    if (fReceiveLen > fReceiveStart && fState == hsReceivingBody) {
        const std::size_t start = fReceiveStart;
        const std::size_t len = fReceiveLen - start;
        fReceiveLen = 0;
        fReceiveStart = 0;
        BodyBlock(fReceiveBuffer + start, len);
    }
}

void THttpCli::BodyBlock(const char* data, std::size_t len)
{
    if (fBodyBlocks++ == 0)
        TriggerDocBegin();
    fBodyCount += static_cast<std::int64_t>(len);
    fResponseBody += static_cast<std::int64_t>(len);
    if (BodyStream != nullptr && !BodyStream->Write(data, len)) {
        Fail(httpErrBodyWrite, "can't store the document body");
        return;
    }
    TriggerDocData(data, static_cast<int>(len));
}

// ---------------------------------------------------------------------------
// Ending

void THttpCli::CloseConnection()
{
    try {
        fSocket->Close();
    } catch (...) {
    }
    fConnected = false;
}

void THttpCli::SetFailure(std::uint16_t code, const std::string& text)
{
    fFailed = true;
    fDoneError = code;
    fStatusCode = 404;
    fStatusText = text;
}

void THttpCli::Fail(std::uint16_t code, const std::string& text)
{
    if (fFailed || fState == hsIdle || fState == hsAborting)
        return;
    SetFailure(code, text);
    fNextStep = TStep::None;
    fReceiveLen = 0;
    fReceiveStart = 0;
    InstallCloseHandler(false);
    if (fSocket->State() == wsClosed)
        CloseHandler(0);
    else
        CloseConnection(); // its OnSessionClosed runs the close handler
}

bool THttpCli::ResponseTruncated() const
{
    if (fRequestType == rqHead || fAnnouncedLength < 0)
        return false;
    bool carriesBody = fStatusCode == 0 ||
                       (fStatusCode >= 200 && fStatusCode < 400 && fStatusCode != 204 && fStatusCode != 304);
    return carriesBody && fResponseBody < fAnnouncedLength;
}

void THttpCli::CloseHandler(std::uint16_t error)
{
    fConnected = false;
    if (error == 0)
        error = fRecvError;
    if (!fFailed && fState == hsConnecting && fPhase != TPhase::None) {
        // The peer went away before the session the request needs was up.
        if (fPhase == TPhase::Tunnel)
            SetFailure(httpErrProxyTunnel, "Proxy closed the connection before the tunnel was open");
        else
            SetFailure(httpErrTlsHandshake, "TLS handshake failed: connection closed by the peer");
    }
    if (!fFailed && fState != hsIdle && fState != hsAborting && fStatusCode < 400) {
        // A response cut off by the network must not pass for a whole one.
        if (error != 0)
            SetFailure(error, SocketErrorDesc(error) + " (Error #" + std::to_string(error) + ")");
        else if (ResponseTruncated())
            SetFailure(httpErrTruncated, "Connection closed after " + std::to_string(fResponseBody) + " of " +
                                             std::to_string(fAnnouncedLength) + " bytes");
    }
    if (fBodyBlocks > 0 && !fDocEnded) {
        fDocEnded = true;
        TriggerDocEnd();
    }
    PostNotice(TNotice::SetReady);
}

void THttpCli::RelocationClosed(std::uint16_t)
{
    fConnected = false;
    fRelocationPending = false;
    InstallCloseHandler(false);
    if (OnLocationChange)
        OnLocationChange(*this);
    PostNotice(TNotice::Relogin);
}

void THttpCli::Relogin()
{
    // An Abort between the relocation's close and this notice ended the request.
    if (fState == hsIdle || fState == hsAborting || fFailed)
        return;
    fAnnouncedLength = -1;
    fContentLength = -1;
    fResponseBody = 0;
    fRecvError = 0;
    fReceiveLen = 0;
    fReceiveStart = 0;
    fNextStep = TStep::None;
    fPhase = TPhase::None;
    fTcpUp = false;
    fConnectStart = std::chrono::steady_clock::now();
    fLastReadCount = 0;
    try {
        StartLookup();
    } catch (const std::exception& e) {
        if (fState != hsIdle && !fFailed) {
            SetFailure(WSAEINVAL, e.what());
            CloseHandler(0);
        }
    }
}

void THttpCli::Abort()
{
    AbortWith(httpErrAborted, "Connection aborted on request");
}

void THttpCli::AbortWith(std::uint16_t code, const std::string& text)
{
    if (fState == hsIdle) {
        if (fSocket->State() != wsClosed)
            CloseConnection();
        return;
    }
    if (fState == hsAborting)
        return;
    bool resolving = fState == hsResolving;
    SetState(hsAborting);
    if (resolving) {
        try {
            fSocket->CancelDnsLookup();
        } catch (...) {
        }
    }
    fFailed = true;
    fStatusCode = 404;
    fStatusText = text;
    fDoneError = code;
    InstallCloseHandler(false);
    if (resolving)
        CloseHandler(0);
    else if (fSocket->State() != wsClosed)
        CloseConnection();
    else
        fConnected = false; // closed already: its close handler has run, no OnDocEnd now
    SetState(hsIdle);
}

// ---------------------------------------------------------------------------
// Triggers

void THttpCli::TriggerCookie(const std::string& data, bool& accept)
{
    if (OnCookie)
        OnCookie(*this, data, accept);
}
void THttpCli::TriggerSessionConnected()
{
    if (OnSessionConnected)
        OnSessionConnected(*this);
}
void THttpCli::TriggerRequestHeaderBegin()
{
    if (OnRequestHeaderBegin)
        OnRequestHeaderBegin(*this);
}
void THttpCli::TriggerRequestHeaderEnd()
{
    if (OnRequestHeaderEnd)
        OnRequestHeaderEnd(*this);
}
void THttpCli::TriggerHeaderBegin()
{
    if (OnHeaderBegin)
        OnHeaderBegin(*this);
}
void THttpCli::TriggerHeaderEnd()
{
    if (OnHeaderEnd)
        OnHeaderEnd(*this);
}
void THttpCli::TriggerDocBegin()
{
    if (OnDocBegin)
        OnDocBegin(*this);
}
void THttpCli::TriggerDocData(const char* data, int len)
{
    if (OnDocData)
        OnDocData(*this, data, len);
}
void THttpCli::TriggerDocEnd()
{
    if (OnDocEnd)
        OnDocEnd(*this);
}
void THttpCli::TriggerSendBegin()
{
    if (OnSendBegin)
        OnSendBegin(*this);
}
void THttpCli::TriggerSendData(const char* data, int len)
{
    if (OnSendData)
        OnSendData(*this, data, len);
}
void THttpCli::TriggerSendEnd()
{
    if (OnSendEnd)
        OnSendEnd(*this);
}
