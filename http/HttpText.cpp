// Text helpers of the HTTP client: Base64 for Basic authorisation, dates.
#include "http/HttpProt.h"

#include <cmath>
#include <cstdio>

std::string Base64Encode(const std::string& data)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        unsigned v = (static_cast<unsigned char>(data[i]) << 16) | (static_cast<unsigned char>(data[i + 1]) << 8) |
                     static_cast<unsigned char>(data[i + 2]);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    std::size_t rest = data.size() - i;
    if (rest > 0) {
        unsigned v = static_cast<unsigned char>(data[i]) << 16;
        if (rest == 2)
            v |= static_cast<unsigned char>(data[i + 1]) << 8;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

namespace {

// Civil date from days since 1970-01-01 (H. Hinnant's algorithm).
void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2)
        ++y;
}

}  // namespace

std::string FormatHttpDate(double t)
{
    static const char kDays[] = "MonTueWedThuFriSatSun";
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    // Out-of-range values (no real date) are clamped rather than overflowing.
    if (!std::isfinite(t))
        t = 0;
    t = std::fmax(-693593.0, std::fmin(t, 2958465.999));
    // Before day 0 the whole part counts days back and the fraction is still the
    // time of day, as in the date-time values the property takes.
    double whole = std::trunc(t);
    long long days = static_cast<long long>(whole);
    long long ms = std::llround(std::fabs(t - whole) * 86400000.0);
    if (ms >= 86400000)
        ms = 86400000 - 1;
    long long secs = ms / 1000;
    // Day 0 is a Saturday; the modulo is taken non-negative so days before it work too.
    long long k = ((days - 2) % 7 + 7) % 7;
    long long y;
    unsigned m, d;
    CivilFromDays(days - 25569, y, m, d);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3s, %2.2u %.3s %4.4lld %2.2lld:%2.2lld:%2.2lld", kDays + 3 * k, d,
                  kMonths + 3 * (m - 1), y, secs / 3600, secs / 60 % 60, secs % 60);
    return buf;
}

std::string HttpDoneErrorText(std::uint16_t code)
{
    switch (code) {
    case httpErrBadNumber:
        return "Ungültige Zahl im Antwortkopf";
    case httpErrTooManyRelocations:
        return "Zu viele Umleitungen";
    case httpErrTruncated:
        return "Übertragung unvollständig";
    case httpErrBodyWrite:
        return "Dokument kann nicht gespeichert werden";
    case httpErrHeaderTooLarge:
        return "HTTP-Antwortkopf zu groß";
    case httpErrTlsHandshake:
        return "TLS-Handshake fehlgeschlagen";
    case httpErrCertUntrusted:
        return "Zertifikat nicht vertrauenswürdig";
    case httpErrCertExpired:
        return "Zertifikat abgelaufen oder noch nicht gültig";
    case httpErrCertHostMismatch:
        return "Zertifikat passt nicht zum Hostnamen";
    case httpErrProxyTunnel:
        return "Proxy verweigert den Tunnel";
    case httpErrUnsupportedScheme:
        return "Protokoll nicht unterstützt";
    case httpErrConnectTimeout:
        return "Zeitüberschreitung beim Verbinden";
    case httpErrIdleTimeout:
        return "Zeitüberschreitung: keine Daten empfangen";
    case httpErrTlsStream:
        return "Sichere Verbindung gestört";
    case httpErrNoStatusLine:
        return "Antwort ohne Statuszeile";
    default:
        return std::string();
    }
}
