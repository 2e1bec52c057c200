// THttpCli: what happens between the TCP connection and the request for an
// https address: the proxy tunnel and the TLS handshake.
#include "http/HttpProt.h"

// system
#include <algorithm>
#include <cstring>

// ours
#include "http/HttpLimits.h"
#include "net/NoticeTimer.h"
#include "net/SslWSocket.h"

namespace {

// A proxy's answer to CONNECT is a status line and a few header lines.
constexpr int kMaxTunnelLines = 100;

std::string Printable(std::string s)
{
    std::erase_if(s, [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
    return s.size() > 80 ? s.substr(0, 80) + "..." : s;
}

// The authority of a CONNECT line: nothing that could end the line or the word.
std::string Authority(const std::string& host, const std::string& port)
{
    std::string a = host + ":" + port;
    std::erase_if(a, [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F; });
    return a;
}

std::uint16_t DoneErrorOf(TTlsFailure f)
{
    switch (f) {
    case TTlsFailure::Untrusted:
        return httpErrCertUntrusted;
    case TTlsFailure::Expired:
        return httpErrCertExpired;
    case TTlsFailure::HostMismatch:
        return httpErrCertHostMismatch;
    case TTlsFailure::Stream:
        return httpErrTlsStream;
    default:
        return httpErrTlsHandshake;
    }
}


}  // namespace

// ---------------------------------------------------------------------------
// Tunnel through the proxy

void THttpCli::SendTunnelRequest()
{
    const std::string authority = Authority(fTarget.OriginHost, fTarget.OriginPort);
    std::string text = "CONNECT " + authority + " HTTP/1.0\r\nHost: " + authority + "\r\n";
    if (!ProxyUsername.empty())
        text += "Proxy-Authorization: Basic " + Base64Encode(ProxyUsername + ":" + ProxyPassword) + "\r\n";
    text += "\r\n";
    fTunnelStatus = 0;
    fTunnelStatusLine.clear();
    fTunnelLines = 0;
    fReceiveLen = 0;
    fReceiveStart = 0;
    fSocket->Send(text.data(), static_cast<int>(text.size()));
}

void THttpCli::TunnelData()
{
    if (fReceiveStart > 0) {
        std::memmove(fReceiveBuffer, fReceiveBuffer + fReceiveStart, fReceiveLen - fReceiveStart);
        fReceiveLen -= fReceiveStart;
        fReceiveStart = 0;
    }
    int n = fSocket->Receive(fReceiveBuffer + fReceiveLen, static_cast<int>(kLineMax - fReceiveLen));
    if (n < 0) {
        int e = fSocket->LastError();
        if (e != WSAEWOULDBLOCK && e != 0)
            fRecvError = static_cast<std::uint16_t>(e);
        return;
    }
    if (n == 0)
        return;
    fReceiveLen += static_cast<std::size_t>(n);
    while (fPhase == TPhase::Tunnel && fReceiveStart < fReceiveLen) {
        const char* text = fReceiveBuffer + fReceiveStart;
        const std::size_t avail = fReceiveLen - fReceiveStart;
        const char* lf = static_cast<const char*>(std::memchr(text, '\n', avail));
        if (lf == nullptr) {
            if (fReceiveStart == 0 && fReceiveLen >= kLineMax)
                Fail(httpErrLineTooLong, "HTTP line too long");
            return;
        }
        std::size_t len = static_cast<std::size_t>(lf - text);
        fReceiveStart += len + 1;
        if (len > 0 && text[len - 1] == '\r')
            --len;
        TunnelLine(std::string(text, len));
    }
    if (fPhase == TPhase::Tunnel && fReceiveStart == fReceiveLen)
        fReceiveLen = fReceiveStart = 0;
}

void THttpCli::TunnelLine(const std::string& line)
{
    if (fTunnelLines++ == 0) {
        int status = 0;
        bool ok = line.size() >= 12 && line.compare(0, 5, "HTTP/") == 0 && line[8] == ' ';
        for (std::size_t i = 9; ok && i < 12; ++i) {
            ok = line[i] >= '0' && line[i] <= '9';
            status = status * 10 + (line[i] - '0');
        }
        if (!ok) {
            Fail(httpErrProxyTunnel, "Proxy antwortet auf CONNECT nicht mit HTTP: \"" + Printable(line) + "\"");
            return;
        }
        fTunnelStatus = status;
        fTunnelStatusLine = Printable(line);
        return;
    }
    if (fTunnelLines > kMaxTunnelLines) {
        Fail(httpErrProxyTunnel, "Antwort des Proxys auf CONNECT zu lang");
        return;
    }
    if (!line.empty())
        return;
    if (fTunnelStatus < 200 || fTunnelStatus > 299) {
        const int status = fTunnelStatus;
        Fail(httpErrProxyTunnel, "Proxy verweigert den Tunnel: " + fTunnelStatusLine);
        // The proxy's own status says what it did not like (407: credentials).
        if (status >= 400)
            fStatusCode = status;
        return;
    }
    if (fReceiveStart < fReceiveLen) {
        // The server speaks only after our hello: these bytes are the proxy's.
        Fail(httpErrProxyTunnel, "Proxy sendet Daten vor dem offenen Tunnel");
        return;
    }
    fReceiveLen = fReceiveStart = 0;
    BeginTls();
}

// ---------------------------------------------------------------------------
// TLS

void THttpCli::BeginTls()
{
    fPhase = TPhase::Handshake;
    TTlsConfig config;
    config.CaFile = CaFile;
    config.NoCheckCertificate = NoCheckCertificate;
    try {
        fSocket->StartTls(fTarget.OriginHost, fTarget.OriginPort, config);
    } catch (const std::exception& e) {
        Fail(httpErrTlsHandshake, std::string("TLS-Handshake fehlgeschlagen: ") + e.what());
    }
}

void THttpCli::SocketTlsDone(std::uint16_t error)
{
    if (fState != hsConnecting || fPhase != TPhase::Handshake || fFailed)
        return;
    if (error == 0) {
        SessionUp();
        return;
    }
    Fail(DoneErrorOf(fSocket->TlsFailure()), fSocket->TlsFailureText());
}
