// THttpCli: the client's connect and idle timeouts, and the pauses of a rate limit.
#include "http/HttpProt.h"

// system
#include <algorithm>
#include <cstring>

// ours
#include "net/NoticeTimer.h"
#include "net/SslWSocket.h"

namespace {

std::string Seconds(double s)
{
    std::string t = std::to_string(s);
    t.erase(t.find_last_not_of('0') + 1);
    if (!t.empty() && t.back() == '.')
        t.pop_back();
    return t;
}

}  // namespace

// ---------------------------------------------------------------------------
// Timeouts

void THttpCli::ArmTimer()
{
    using namespace std::chrono;
    if (fState == hsIdle || fState == hsAborting || fBetween) {
        fTimer->Stop();
        return;
    }
    auto next = steady_clock::time_point::max();
    if (ConnectTimeout > 0 && !fTcpUp)
        next = std::min(next, fConnectStart + duration_cast<steady_clock::duration>(duration<double>(ConnectTimeout)));
    if (fPaced)
        next = std::min(next, fPacedUntil);
    if (IdleTimeout > 0 && !fPaced)
        next = std::min(next, LastSignOfLife() + duration_cast<steady_clock::duration>(duration<double>(IdleTimeout)));
    if (next == steady_clock::time_point::max())
        fTimer->Stop();
    else
        fTimer->Start(next);
}

void THttpCli::TimerFired()
{
    using namespace std::chrono;
    if (fState == hsIdle || fState == hsAborting || fBetween)
        return;
    const auto now = steady_clock::now();
    if (fPaced && now >= fPacedUntil) {
        ReadOn();
        return;
    }
    if (ConnectTimeout > 0 && !fTcpUp && now - fConnectStart >= duration<double>(ConnectTimeout)) {
        AbortWith(httpErrConnectTimeout, "Keine Verbindung innerhalb von " + Seconds(ConnectTimeout) + " s");
        return;
    }
    if (IdleTimeout > 0 && !fPaced && now - LastSignOfLife() >= duration<double>(IdleTimeout)) {
        AbortWith(httpErrIdleTimeout, "Seit " + Seconds(IdleTimeout) + " s nichts empfangen");
        return;
    }
    ArmTimer();
}

// The start of the request or of its connection, or the last byte from the
// peer, whichever is latest. The socket stamps every byte it reads, those of
// the TLS handshake too, which the client itself never sees.
std::chrono::steady_clock::time_point THttpCli::LastSignOfLife() const
{
    return std::max(fLastActivity, fSocket->LastReceived());
}

// ---------------------------------------------------------------------------
// Pacing

std::size_t THttpCli::ReadSize(std::size_t room) const
{
    const std::size_t size = OnReceivePace ? std::min(room, kPacedBlock) : room;
    const std::size_t limit = BodyStream != nullptr ? BodyStream->ReadLimit() : 0;
    return limit != 0 ? std::min(size, limit) : size;
}

// Pausing the socket stops its readiness notices, its end of stream
// included, so nothing is read or lost until the pause is over.
void THttpCli::PaceAfter(std::size_t bytes)
{
    if (!OnReceivePace || bytes == 0)
        return;
    fPacedRead += bytes;
    const std::int64_t ms = OnReceivePace(*this, bytes);
    if (ms <= 0 || fPaced || fBetween || (fState != hsAwaitingHeader && fState != hsReceivingBody) ||
        fSocket->State() != wsConnected)
        return;
    fPaced = true;
    fPacedUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    fSocket->Pause();
    ArmTimer();
}

void THttpCli::EndPace()
{
    if (!fPaced)
        return;
    fPaced = false;
    fSocket->Resume();
}

void THttpCli::ReadOn()
{
    EndPace();
    // The pause was the client's own, not the server's silence.
    fLastActivity = std::chrono::steady_clock::now();
    ArmTimer();
    // Bytes the TLS layer holds decrypted already make the descriptor no
    // more readable: they are read here, as the socket would offer them.
    for (int round = 0; round < 64; ++round) {
        const std::uint64_t before = fPacedRead;
        SocketDataAvailable(0);
        if (fPaced || fPacedRead == before || fBetween || (fState != hsAwaitingHeader && fState != hsReceivingBody) ||
            !fSocket->ReadableNow())
            break;
    }
}
