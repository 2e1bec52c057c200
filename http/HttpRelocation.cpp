// THttpCli: following a relocation over a new connection.
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


void THttpCli::InstallCloseHandler(bool relocation)
{
    fCloseIsRelocation = relocation;
    fSocket->OnSessionClosed = [this](TCustomWSocket*, std::uint16_t e) {
        if (fState == hsIdle || fBetween) {
            // A kept connection ended between requests: nothing to report.
            fConnected = false;
            fKeptKey.clear();
            return;
        }
        if (fCloseIsRelocation)
            RelocationClosed(e);
        else
            CloseHandler(e);
    };
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
    ResetExchange();
    fConnectStart = std::chrono::steady_clock::now();
    try {
        StartLookup();
    } catch (const std::exception& e) {
        if (fState != hsIdle && !fFailed) {
            SetFailure(WSAEINVAL, e.what());
            CloseHandler(0);
        }
    }
}
