#include "engine/FailureText.h"

#include "http/HttpProt.h"
#include "net/WSocket.h"

namespace {

// A reason phrase is one short line; anything longer is not worth the memo.
constexpr std::size_t kMaxReasonBytes = 80;

}  // namespace

std::string DoneErrorReason(std::uint16_t code)
{
    std::string own = HttpDoneErrorText(code);
    if (!own.empty())
        return own;
    switch (code) {
    case 0: return std::string();
    case httpErrAborted: return "abgebrochen";
    case httpErrLineTooLong: return "Zeile im Antwortkopf zu lang";
    case WSAEINTR: return "unterbrochen";
    case 10013: return "Zugriff verweigert";
    case 10024: return "zu viele offene Dateien";
    case 10049: return "Adresse nicht verfügbar";
    case 10050: return "Netzwerk ausgefallen";
    case 10051: return "Netzwerk nicht erreichbar";
    case WSAECONNABORTED: return "Verbindung abgebrochen";
    case WSAECONNRESET: return "Verbindung vom Server zurückgesetzt";
    case WSAENOBUFS: return "kein Pufferspeicher frei";
    case WSAENOTCONN: return "nicht verbunden";
    case WSAETIMEDOUT: return "Zeitüberschreitung";
    case WSAECONNREFUSED: return "Verbindung abgelehnt";
    case 10064: return "Host ausgefallen";
    case 10065: return "Host nicht erreichbar";
    case WSAHOST_NOT_FOUND: return "Host nicht gefunden";
    case WSATRY_AGAIN: return "Namensauflösung zur Zeit nicht möglich";
    case WSANO_RECOVERY: return "Namensauflösung fehlgeschlagen";
    case WSANO_DATA: return "keine Adresse zum Hostnamen";
    default: break;
    }
    // Platform errors without a Windows Sockets number keep the system's text.
    if (code >= kPlatformErrorBase)
        return SocketErrorDesc(code);
    return std::string();
}

std::string HttpErrorLine(std::uint16_t code)
{
    std::string line = "HTTP Fehler: " + std::to_string(code);
    const std::string reason = DoneErrorReason(code);
    if (!reason.empty())
        line += " (" + reason + ")";
    return line;
}

std::string StatusReasonSuffix(std::uint16_t doneError, int statusCode, const std::string& statusText)
{
    if (doneError != 0 || statusCode < 400)
        return std::string();
    std::string phrase;
    for (char c : statusText) {
        if (phrase.size() >= kMaxReasonBytes)
            break;
        const unsigned char u = static_cast<unsigned char>(c);
        phrase += u < 0x20 || u == 0x7F ? ' ' : c;
    }
    while (!phrase.empty() && phrase.back() == ' ')
        phrase.pop_back();
    std::size_t lead = 0;
    while (lead < phrase.size() && phrase[lead] == ' ')
        ++lead;
    phrase.erase(0, lead);
    return " (" + std::to_string(statusCode) + (phrase.empty() ? "" : " " + phrase) + ")";
}
