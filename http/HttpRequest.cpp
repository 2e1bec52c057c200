// THttpCli: the request text and the body a POST sends.
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

constexpr std::size_t kPostChunk = 8193;

// Bytes that would break the request line (blanks, controls) and bytes
// beyond ASCII, which strict servers refuse there (a relocation written in
// UTF-8), go out percent-encoded; everything else as the address holds it.
std::string EscapeTarget(const std::string& target)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(target.size());
    for (unsigned char c : target) {
        if (c <= 0x20 || c >= 0x7F) {
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

}  // namespace

// ---------------------------------------------------------------------------
// Request text

void THttpCli::WriteRequestLine(const std::string& line)
{
    std::string s = line;
    if (OnCommand)
        OnCommand(*this, s);
    // Credentials, however they got into the request, are for the origin
    // they were given for; a relocation must not hand them to another.
    if (StartsWithNoCase(s, "Authorization:") && OriginOf(fTarget) != fCredentialOrigin)
        return;
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
    if (KeepAlive)
        WriteRequestLine("Connection: keep-alive");
    if (NoCache)
        WriteRequestLine("Pragma: no-cache");
    if (method == "POST")
        header("Content-Length", std::to_string(PostStream ? PostStream->Size() : 0));
    if (ModifiedSince != 0)
        header("If-Modified-Since", FormatHttpDate(ModifiedSince) + " GMT");
    if (!fRequestUser.empty() && OriginOf(fTarget) == fCredentialOrigin)
        header("Authorization", "Basic " + Base64Encode(fRequestUser + ":" + fRequestPassword));
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
