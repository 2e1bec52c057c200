#include "engine/PageAddress.h"

// system
#include <algorithm>
#include <idn2.h>

// ours
#include "engine/LinkSplit.h"
#include "base/AsciiCase.h"

namespace {

constexpr std::size_t npos = std::string_view::npos;

// Position where the path of address begins: after "scheme://host", or 0 for
// an address without "//". The host ends at the first "/", "?" or "#".
std::size_t PathStart(std::string_view address)
{
    const std::size_t sep = address.find("//");
    if (sep == npos)
        return 0;
    const std::size_t end = address.find_first_of("/?#", sep + 2);
    return end == npos ? address.size() : end;
}

// Where the path of address ends: at its query, or at the end.
std::size_t PathEnd(std::string_view address, std::size_t pathStart)
{
    const std::size_t query = address.find('?', pathStart);
    return query == npos ? address.size() : query;
}

void DropLastSegment(std::string& out)
{
    const std::size_t slash = out.rfind('/');
    out.resize(slash == std::string::npos ? 0 : slash);
}

bool IsHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    return (c | 0x20) - 'a' + 10;
}

// A "." written as "%2e" or "%2E": a browser's parser reads it as a dot, and
// so do servers, so "/a/%2e%2e/b/" is "/b/" there.
bool IsDot(std::string_view s, std::size_t& i)
{
    if (i < s.size() && s[i] == '.') {
        ++i;
        return true;
    }
    if (i + 2 < s.size() && s[i] == '%' && s[i + 1] == '2' && (s[i + 2] | 0x20) == 'e') {
        i += 3;
        return true;
    }
    return false;
}

// 1 for a "." segment, 2 for "..", 0 otherwise, in any of their written forms.
int DotSegment(std::string_view segment)
{
    std::size_t i = 0;
    int dots = 0;
    while (dots < 3 && IsDot(segment, i))
        ++dots;
    return i == segment.size() && dots <= 2 ? dots : 0;
}

bool HasEncodedDot(std::string_view path)
{
    for (std::size_t p = path.find('%'); p != npos; p = path.find('%', p + 1))
        if (p + 2 < path.size() && path[p + 1] == '2' && (path[p + 2] | 0x20) == 'e')
            return true;
    return false;
}

// The path with every dot segment written as "." or "..".
std::string PlainDotSegments(std::string_view path)
{
    std::string out;
    out.reserve(path.size());
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = path.find('/', start);
        const std::size_t end = slash == npos ? path.size() : slash;
        const std::string_view segment = path.substr(start, end - start);
        const int dots = DotSegment(segment);
        if (dots == 0)
            out.append(segment);
        else
            out.append(static_cast<std::size_t>(dots), '.');
        if (slash == npos)
            break;
        out.push_back('/');
        start = slash + 1;
    }
    return out;
}

// Removal of dot segments from a path, its input consumed from the front.
std::string WithoutDotSegments(std::string_view in)
{
    std::string out;
    std::size_t i = 0;
    while (i < in.size()) {
        const std::string_view rest = in.substr(i);
        if (rest.starts_with("../")) {
            i += 3;
        } else if (rest.starts_with("./") || rest.starts_with("/./")) {
            i += 2;
        } else if (rest == "/.") {
            out.push_back('/');
            i = in.size();
        } else if (rest.starts_with("/../")) {
            DropLastSegment(out);
            i += 3;
        } else if (rest == "/..") {
            DropLastSegment(out);
            out.push_back('/');
            i = in.size();
        } else if (rest == "." || rest == "..") {
            i = in.size();
        } else {
            const std::size_t next = in.find('/', i + 1);
            const std::size_t end = next == npos ? in.size() : next;
            out.append(in.substr(i, end - i));
            i = end;
        }
    }
    return out;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendEscape(std::string& out, unsigned char c)
{
    out.push_back('%');
    out.push_back(kHexDigits[c >> 4]);
    out.push_back(kHexDigits[c & 15]);
}

bool IsEscapeAt(std::string_view s, std::size_t i)
{
    return i + 2 < s.size() && s[i] == '%' && IsHex(s[i + 1]) && IsHex(s[i + 2]);
}

unsigned char EscapedByte(std::string_view s, std::size_t i)
{
    return static_cast<unsigned char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
}

// Path or query of an address as a request line can carry it: bytes outside
// printable ASCII (non-ASCII text as its UTF-8 bytes) and the characters a
// browser's URL parser encodes there become "%XX"; an existing escape stays,
// a "%" that starts none becomes "%25" (servers refuse a bare one). Tabs and
// line breaks inside a link are dropped, as browsers drop them.
void AppendEncoded(std::string& out, std::string_view in, bool path)
{
    // Most links need nothing: their plain front is copied at once.
    std::size_t plain = 0;
    while (plain < in.size()) {
        const auto c = static_cast<unsigned char>(in[plain]);
        if (c <= 0x20 || c >= 0x7F || c == '%' || c == '"' || c == '<' || c == '>' || c == '`')
            break;
        ++plain;
    }
    out.append(in.substr(0, plain));
    for (std::size_t i = plain; i < in.size(); ++i) {
        const auto c = static_cast<unsigned char>(in[i]);
        if (c == '\t' || c == '\n' || c == '\r')
            continue;
        if (c == '%') {
            if (IsEscapeAt(in, i))
                out.push_back('%');
            else
                out.append("%25");
        } else if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || (path && c == '`')) {
            AppendEscape(out, c);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
}

bool HasNonAscii(std::string_view s)
{
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80)
            return true;
    return false;
}

// Longer host names than this are no host any resolver takes.
constexpr std::size_t kMaxHostBytes = 1024;

// "scheme://user@host:port" with an international host name in its ASCII
// form ("bücher.d" is "xn--bcher-kva.d"), as resolvers and Host lines need.
// A name that has no such form keeps its bytes escaped, so the request line
// stays ASCII; it then fails at the look-up.
std::string AsciiAuthority(std::string_view front)
{
    if (std::all_of(front.begin(), front.end(), [](char c) { return c > 0x20 && c < 0x7F; }))
        return std::string(front);
    const std::size_t sep = front.find("//");
    std::size_t hostStart = sep + 2;
    const std::size_t at = front.rfind('@');
    std::string out;
    AppendEncoded(out, front.substr(0, sep), false);
    out.append("//");
    if (at != npos && at >= hostStart) {
        AppendEncoded(out, front.substr(hostStart, at - hostStart), false);
        out.push_back('@');
        hostStart = at + 1;
    }
    std::size_t hostEnd = front.size();
    const std::size_t colon = front.rfind(':');
    if (colon != npos && colon >= hostStart &&
        front.find_first_not_of("0123456789", colon + 1) == npos)
        hostEnd = colon;
    const std::string host(front.substr(hostStart, hostEnd - hostStart));
    if (HasNonAscii(host) && host.size() <= kMaxHostBytes && host.find('\0') == std::string::npos) {
        char* ascii = nullptr;
        int rc = idn2_to_ascii_8z(host.c_str(), &ascii, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL);
        if (rc != IDN2_OK) {
            // Some names exist only under the older mapping (a "ß" in a label).
            idn2_free(ascii);
            ascii = nullptr;
            rc = idn2_to_ascii_8z(host.c_str(), &ascii, IDN2_NFC_INPUT | IDN2_TRANSITIONAL);
        }
        // Blanks and controls pass the conversion; they are escaped as in a path.
        if (rc == IDN2_OK && ascii != nullptr)
            AppendEncoded(out, ascii, false);
        else
            AppendEncoded(out, host, false);
        idn2_free(ascii);
    } else {
        AppendEncoded(out, host, false);
    }
    out.append(front.substr(hostEnd));
    return out;
}

bool IsUnreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

}  // namespace

std::size_t Utf8SequenceLength(std::string_view s, std::size_t i)
{
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80)
        return 1;
    std::size_t n;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0)
            lo = 0xA0;  // overlong
        else if (c == 0xED)
            hi = 0x9F;  // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0)
            lo = 0x90;
        else if (c == 0xF4)
            hi = 0x8F;  // beyond U+10FFFF
    } else {
        return 0;
    }
    if (i + n > s.size())
        return 0;
    if (b(i + 1) < lo || b(i + 1) > hi)
        return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (b(i + k) < 0x80 || b(i + k) > 0xBF)
            return 0;
    return n;
}

bool IsValidUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = Utf8SequenceLength(s, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

std::string_view WithoutFragment(std::string_view link)
{
    const std::size_t hash = link.find('#');
    return hash == npos ? link : link.substr(0, hash);
}

std::string FormAddress(std::string_view address)
{
    // Dropped first: "/.<LF>/" is a dot segment once its line break is gone.
    std::string joined;
    if (address.find_first_of("\t\n\r") != npos) {
        joined.assign(address);
        std::erase_if(joined, [](char c) { return c == '\t' || c == '\n' || c == '\r'; });
        address = joined;
    }
    address = WithoutFragment(address);
    const std::size_t pathStart = PathStart(address);
    const std::size_t query = PathEnd(address, pathStart);
    const std::string_view path = address.substr(pathStart, query - pathStart);
    std::string out;
    out.reserve(address.size() + 16);
    out += AsciiAuthority(address.substr(0, pathStart));
    // Most addresses hold no dot segment; they are copied as they are.
    if (HasEncodedDot(path)) {
        AppendEncoded(out, WithoutDotSegments(PlainDotSegments(path)), true);
    } else if (path.find("/.") == npos && !path.starts_with("./") && !path.starts_with("../") && path != "." &&
               path != "..") {
        AppendEncoded(out, path, true);
    } else {
        AppendEncoded(out, WithoutDotSegments(path), true);
    }
    AppendEncoded(out, address.substr(query), false);
    return out;
}

std::string EncodeAddress(std::string_view address)
{
    const std::size_t pathStart = PathStart(address);
    std::string out = AsciiAuthority(address.substr(0, pathStart));
    const std::size_t query = PathEnd(address, pathStart);
    AppendEncoded(out, address.substr(pathStart, query - pathStart), true);
    AppendEncoded(out, address.substr(query), false);
    return out;
}

std::string AddressKey(std::string_view address)
{
    const std::string formed = EncodeAddress(address);
    const std::size_t pathStart = PathStart(formed);
    std::string key(formed, 0, pathStart);
    key.reserve(formed.size());
    const std::size_t query = PathEnd(formed, pathStart);
    for (std::size_t i = pathStart; i < formed.size(); ++i) {
        if (!IsEscapeAt(formed, i)) {
            key.push_back(formed[i]);
            continue;
        }
        const unsigned char c = EscapedByte(formed, i);
        // In a path only "/" and "?" have a meaning of their own: servers
        // read "a%2Bb.jpg" as "a+b.jpg". In a query "&", "=" and "+" keep
        // theirs.
        if (IsUnreserved(c) || (i < query && c != 0 && std::string_view("!$&'()*+,;=:@").find(static_cast<char>(c)) != npos))
            key.push_back(static_cast<char>(c));
        else
            AppendEscape(key, c);
        i += 2;
    }
    return key;
}

std::string DisplayAddress(std::string_view address)
{
    const std::size_t pathStart = PathStart(address);
    std::string out;
    const std::string_view front = address.substr(0, pathStart);
    const std::size_t sep = front.find("//");
    const std::size_t at = front.rfind('@');
    const std::size_t hostStart = at != npos && sep != npos && at > sep ? at + 1 : (sep == npos ? 0 : sep + 2);
    const std::string_view host = front.substr(hostStart);
    char* unicode = nullptr;
    if (sep != npos && LowerAscii(host).find("xn--") != std::string::npos && host.size() <= kMaxHostBytes &&
        host.find('\0') == npos && !HasNonAscii(host)) {
        std::string h(host);
        std::string port;
        const std::size_t colon = h.rfind(':');
        if (colon != std::string::npos) {
            port = h.substr(colon);
            h.resize(colon);
        }
        if (idn2_to_unicode_8z8z(h.c_str(), &unicode, 0) == IDN2_OK && unicode != nullptr)
            out.append(front.substr(0, hostStart)).append(unicode).append(port);
        idn2_free(unicode);
    }
    if (out.empty())
        out.assign(front);
    // Escapes of whole UTF-8 characters and of spaces become readable; the
    // rest ("%2F", "%25", a broken sequence) stays as written.
    std::string bytes;
    for (std::size_t i = pathStart; i < address.size();) {
        if (!IsEscapeAt(address, i)) {
            out.push_back(address[i++]);
            continue;
        }
        const unsigned char c = EscapedByte(address, i);
        if (c == ' ') {
            out.push_back(' ');
            i += 3;
            continue;
        }
        bytes.clear();
        std::size_t k = i;
        while (bytes.size() < 4 && IsEscapeAt(address, k)) {
            bytes.push_back(static_cast<char>(EscapedByte(address, k)));
            k += 3;
        }
        const std::size_t n = c >= 0x80 ? Utf8SequenceLength(bytes, 0) : 0;
        if (n == 0) {
            out.append(address.substr(i, 3));
            i += 3;
            continue;
        }
        out.append(bytes, 0, n);
        i += 3 * n;
    }
    return out;
}

std::string AddressDir(std::string_view address)
{
    address = WithoutFragment(address);
    const std::size_t pathStart = PathStart(address);
    const std::size_t query = PathEnd(address, pathStart);
    const std::size_t slash = pathStart == query ? npos : address.rfind('/', query - 1);
    if (slash == npos || slash < pathStart) {
        std::string dir(address.substr(0, pathStart));
        dir.push_back('/');
        return dir;
    }
    return std::string(address.substr(0, slash + 1));
}

std::string AddressOrigin(std::string_view address)
{
    if (address.find("//") == npos)
        return {};
    return LowerAscii(address.substr(0, PathStart(address)));
}

bool HasForeignScheme(std::string_view link)
{
    std::size_t i = 0;
    while (i < link.size()) {
        const char c = LowerAsciiChar(link[i]);
        const bool letter = c >= 'a' && c <= 'z';
        if (!letter && !(i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-')))
            break;
        ++i;
    }
    if (i == 0 || i >= link.size() || link[i] != ':')
        return false;
    const std::string scheme = LowerAscii(link.substr(0, i));
    if (scheme == "http" || scheme == "https")
        return false;
    // "localhost:8080/x": digits after the colon make it a host with a port.
    return !(i + 1 < link.size() && link[i + 1] >= '0' && link[i + 1] <= '9');
}

TPageLink ResolvePageLink(std::string_view link, std::string_view pageDir)
{
    TPageLink r;
    r.Raw = WithoutFragment(link);
    if (r.Raw.empty()) {
        r.Self = true;
        return r;
    }
    const TLinkParts parts = SplitLink(r.Raw, pageDir);
    std::string joined = parts.LinkDir.empty() ? std::string(pageDir) : parts.LinkDir;
    joined += parts.LinkFile;
    r.Address = FormAddress(joined);
    r.Dir = AddressDir(r.Address);
    return r;
}
