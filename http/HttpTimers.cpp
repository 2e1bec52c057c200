// THttpCli: the client's connect and idle timeouts.
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
    if (IdleTimeout > 0)
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
    if (ConnectTimeout > 0 && !fTcpUp && now - fConnectStart >= duration<double>(ConnectTimeout)) {
        AbortWith(httpErrConnectTimeout, "Keine Verbindung innerhalb von " + Seconds(ConnectTimeout) + " s");
        return;
    }
    if (IdleTimeout > 0 && now - LastSignOfLife() >= duration<double>(IdleTimeout)) {
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
