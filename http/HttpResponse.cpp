// THttpCli: reading the answer: status line, header lines, length and body rules.
#include "http/HttpProt.h"

// system
#include <cstring>

// ours
#include "base/AsciiCase.h"
#include "http/HttpLimits.h"
#include "net/Dispatcher.h"
#include "net/NoticeTimer.h"
#include "net/SslWSocket.h"
#include "net/WSocket.h"

namespace {

// ResponseHeader keeps every line, so a header that never ends must stop
// somewhere; the per-line charge bounds the count of tiny lines as well.
constexpr std::size_t kHeaderMax = 1 << 20;
constexpr std::size_t kHeaderLineCharge = 64;
// The longest error answer read to its end to keep the connection.
constexpr std::int64_t kErrorBodyKept = 256 * 1024;

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

// The tokens of a Connection header value that decide whether the server
// keeps the connection: keep-alive and close, in any letter case.
void ConnectionTokens(std::string_view value, bool& keep, bool& close)
{
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t comma = value.find(',', start);
        if (comma == std::string_view::npos)
            comma = value.size();
        std::string_view token = value.substr(start, comma - start);
        while (!token.empty() && (token.front() == ' ' || token.front() == '\t'))
            token.remove_prefix(1);
        while (!token.empty() && (token.back() == ' ' || token.back() == '\t'))
            token.remove_suffix(1);
        if (SameTextAscii(token, "keep-alive"))
            keep = true;
        else if (SameTextAscii(token, "close"))
            close = true;
        start = comma + 1;
    }
}

std::string ShortForMessage(const std::string& s)
{
    return s.size() > 60 ? s.substr(0, 60) + "..." : s;
}

}  // namespace

// ---------------------------------------------------------------------------
// Receiving

void THttpCli::SocketDataAvailable(std::uint16_t)
{
    if (fBetween || (fState == hsIdle && !fKeptKey.empty())) {
        IdleSocketData();
        return;
    }
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
            if (fOnKept && fHeaderLines == 0) {
                KeptAnswerBroken();
                return;
            }
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
    if (fHeaderLines == 0 && line.empty()) {
        // Empty lines before the status line end no header (a stray line
        // end after the previous answer); they count against the header's bound.
        fHeaderBytes += kHeaderLineCharge;
        if (fHeaderBytes > kHeaderMax)
            Fail(httpErrHeaderTooLarge, "HTTP-Antwortkopf zu groß");
        return;
    }
    if (fHeaderLines == 0 && fOnKept && line.compare(0, 5, "HTTP/") != 0) {
        KeptAnswerBroken();
        return;
    }
    if (fHeaderLines++ == 0) {
        // Challenges belong to the response that made them.
        fAuthChallenges.clear();
        fConnKeep = false;
        fConnClose = false;
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
        Fail(httpErrHeaderTooLarge, "HTTP-Antwortkopf zu groß");
        return;
    }
    fResponseHeader.push_back(line);
    if (line.compare(0, 8, "HTTP/1.0") == 0 || line.compare(0, 8, "HTTP/1.1") == 0) {
        std::int64_t status;
        if (!ParseDecimal(line.size() > 9 ? line.substr(9, 3) : std::string(), 3, status)) {
            Fail(httpErrBadNumber, "Ungültige Statuszeile \"" + ShortForMessage(line) + "\"");
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
                    Fail(httpErrBadNumber, "Ungültige Content-Length \"" + ShortForMessage(std::string(value)) + "\"");
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
            } else if (SameTextAscii(name, "connection")) {
                ConnectionTokens(value, fConnKeep, fConnClose);
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
    // An error answer ends its connection, unless the connection may be kept:
    // whether it may shows only at the header's end.
    if (fStatusCode >= 400 && !KeepAlive && fSocket->State() != wsClosed)
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
            Fail(httpErrTooManyRelocations, "Zu viele Umleitungen");
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
    // Only a server that says so keeps the connection, and only a response
    // whose end shows without a close can leave it open.
    const bool bodyless = fRequestType == rqHead || fStatusCode == 204 || fStatusCode == 304;
    // Error answers too, when their text is short: a site's missing pictures
    // would otherwise cost a connection each, a long text more than one.
    fKeepResponse = KeepAlive && fConnKeep && !fConnClose && fStatusCode >= 200 &&
                    (bodyless || fAnnouncedLength >= 0) && (fStatusCode < 400 || fAnnouncedLength <= kErrorBodyKept);
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
    if (fStatusCode >= 400 && !fKeepResponse && fState == hsReceivingBody && fSocket->State() != wsClosed)
        CloseConnection();
    else if (fKeepResponse && !fBetween && fState == hsReceivingBody && KeptBodyDone())
        ResponseComplete();
}

void THttpCli::BodyBlock(const char* data, std::size_t len)
{
    bool surplus = false;
    if (fKeepResponse) {
        const bool bodyless = fRequestType == rqHead || fStatusCode == 204 || fStatusCode == 304;
        // On a kept connection the body ends at its length: what comes beyond
        // is nobody's, so it goes, and the connection with it.
        const std::int64_t room = bodyless ? 0 : fAnnouncedLength - fResponseBody;
        if (static_cast<std::int64_t>(len) > room) {
            len = static_cast<std::size_t>(room);
            surplus = true;
        }
    }
    if (len == 0) {
        if (surplus && !fBetween && fState == hsReceivingBody && KeptBodyDone()) {
            ResponseComplete();
            DropKeptConnection();
        }
        return;
    }
    if (fBodyBlocks++ == 0)
        TriggerDocBegin();
    fBodyCount += static_cast<std::int64_t>(len);
    fResponseBody += static_cast<std::int64_t>(len);
    if (BodyStream != nullptr && !BodyStream->Write(data, len)) {
        Fail(httpErrBodyWrite, "Dokument kann nicht gespeichert werden");
        return;
    }
    TriggerDocData(data, static_cast<int>(len));
    if (fKeepResponse && !fBetween && fState == hsReceivingBody && KeptBodyDone()) {
        ResponseComplete();
        if (surplus)
            DropKeptConnection();
    }
}

bool THttpCli::KeptBodyDone() const
{
    return fRequestType == rqHead || fStatusCode == 204 || fStatusCode == 304 || fResponseBody >= fAnnouncedLength;
}

void THttpCli::ResponseComplete()
{
    fBetween = true;
    fKeptKey = fConnectionKey;
    fNextStep = TStep::None;
    fReceiveLen = 0;
    fReceiveStart = 0;
    if (fBodyBlocks > 0 && !fDocEnded) {
        fDocEnded = true;
        TriggerDocEnd();
    }
    PostNotice(TNotice::SetReady);
}

std::string THttpCli::ConnectionKey(const THttpTarget& t) const
{
    // Everything that decides what the connection is: where it goes, what
    // it tunnels to, and how the server's certificate was checked.
    std::string key = t.Secure ? "https" : "http";
    for (const std::string* part : {&t.ConnectHost, &t.ConnectPort, &t.OriginHost, &t.OriginPort, &Proxy, &CaFile}) {
        key += '\n';
        key += *part;
    }
    key += NoCheckCertificate ? "\n1" : "\n0";
    return key;
}

void THttpCli::IdleSocketData()
{
    char scratch[512];
    const int n = fSocket->Receive(scratch, static_cast<int>(sizeof scratch));
    // Bytes nobody asked for: whatever the next response would read first
    // is not its own, so the connection goes.
    if (n > 0 || (n < 0 && fSocket->LastError() != WSAEWOULDBLOCK && fSocket->LastError() != 0))
        DropKeptConnection();
}

void THttpCli::DropKeptConnection()
{
    fKeptKey.clear();
    const bool between = fBetween;
    fBetween = true; // closing it reports nothing
    CloseConnection();
    fBetween = between;
}

void THttpCli::KeptAnswerBroken()
{
    // A kept connection that answers without status line is out of step
    // with its server. Nothing of the answer was delivered, so a GET goes
    // again on a fresh connection (RetryOnFreshConnection at the close);
    // anything else fails, never passing for an answer.
    fKeptKey.clear();
    fReceiveLen = 0;
    fReceiveStart = 0;
    fHeaderLines = 0;
    fHeaderBytes = 0;
    if (fRequestType != rqGet) {
        Fail(httpErrNoStatusLine, "Antwort ohne Statuszeile auf gehaltener Verbindung");
        return;
    }
    InstallCloseHandler(false);
    if (fSocket->State() == wsClosed)
        CloseHandler(0);
    else
        CloseConnection();
}

bool THttpCli::RetryOnFreshConnection()
{
    // The server may close a kept connection just as the next request goes
    // out. A GET that got no byte back is sent again, once, on a fresh one.
    if (!fOnKept || fFailed || fRequestType != rqGet || fState != hsAwaitingHeader)
        return false;
    // A piece of a line without its end is no answer either: nothing of it
    // was handed on.
    if (fHeaderLines != 0 || fBodyBlocks != 0)
        return false;
    fOnKept = false;
    fConnected = false;
    PostNotice(TNotice::Relogin);
    return true;
}
