#include "engine/CookieFile.h"

#include <algorithm>
#include <charconv>
#include <fstream>

#include "base/AsciiCase.h"

TAddressParts SplitAddressParts(std::string_view address)
{
    TAddressParts parts;
    const std::size_t colon = address.find("://");
    if (colon == std::string_view::npos || colon == 0)
        return parts;
    parts.Scheme = LowerAscii(address.substr(0, colon));
    std::string_view rest = address.substr(colon + 3);
    rest = rest.substr(0, rest.find('#'));
    const std::size_t pathStart = rest.find_first_of("/?");
    std::string_view authority = rest.substr(0, pathStart);
    std::string_view path = pathStart == std::string_view::npos ? std::string_view() : rest.substr(pathStart);
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos)
        authority = authority.substr(at + 1);
    std::string_view host = authority;
    if (authority.starts_with('[')) {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return parts;
        host = authority.substr(0, close + 1);
        if (close + 1 < authority.size() && authority[close + 1] == ':')
            parts.Port = std::string(authority.substr(close + 2));
    } else if (const std::size_t c = authority.find(':'); c != std::string_view::npos) {
        host = authority.substr(0, c);
        parts.Port = std::string(authority.substr(c + 1));
    }
    if (host.empty())
        return parts;
    parts.Host = LowerAscii(host);
    parts.PathAndQuery = path.starts_with('/') ? std::string(path) : "/" + std::string(path);
    parts.Valid = true;
    return parts;
}

namespace {

bool Clean(std::string_view s, bool allowBlank)
{
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == ';' || (!allowBlank && c == ' '))
            return false;
    }
    return true;
}

bool IsIpv4(std::string_view host)
{
    return !host.empty() && host.find_first_not_of("0123456789.") == std::string_view::npos;
}

bool DomainMatches(const TCookie& cookie, std::string_view host)
{
    if (host == cookie.Domain)
        return true;
    // A subdomain only when the file says so, and never for an address literal.
    if (!cookie.Subdomains || IsIpv4(host) || host.starts_with('[') || host.size() <= cookie.Domain.size())
        return false;
    return host.ends_with(cookie.Domain) && host[host.size() - cookie.Domain.size() - 1] == '.';
}

bool PathMatches(std::string_view cookiePath, std::string_view requestPath)
{
    if (!requestPath.starts_with(cookiePath))
        return false;
    return requestPath.size() == cookiePath.size() || cookiePath.ends_with('/') || requestPath[cookiePath.size()] == '/';
}

}  // namespace

TCookieJar TCookieJar::Parse(std::string_view text)
{
    TCookieJar jar;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty())
            continue;
        // curl and browsers mark cookies hidden from scripts this way; they are cookies all the same.
        constexpr std::string_view kHttpOnly = "#HttpOnly_";
        if (line.starts_with(kHttpOnly))
            line.remove_prefix(kHttpOnly.size());
        else if (line.starts_with('#'))
            continue;
        std::string_view fields[7];
        std::size_t count = 0;
        std::size_t start = 0;
        while (count < 7) {
            const std::size_t tab = line.find('\t', start);
            if (tab == std::string_view::npos || count == 6) {
                fields[count++] = line.substr(start);
                break;
            }
            fields[count++] = line.substr(start, tab - start);
            start = tab + 1;
        }
        // Six fields: a cookie without a value, as curl writes it.
        TCookie cookie;
        std::string_view domain = fields[0];
        if (domain.starts_with('.'))
            domain.remove_prefix(1);
        std::int64_t expires = 0;
        const std::string_view exp = count >= 5 ? fields[4] : std::string_view();
        const auto [ptr, ec] = std::from_chars(exp.data(), exp.data() + exp.size(), expires);
        const bool ok = (count == 6 || count == 7) && !domain.empty() && Clean(domain, false) &&
                        fields[2].starts_with('/') && Clean(fields[2], false) && ec == std::errc() &&
                        ptr == exp.data() + exp.size() && expires >= 0 && !fields[5].empty() &&
                        Clean(fields[5], false) && fields[5].find('=') == std::string_view::npos &&
                        (count == 6 || Clean(fields[6], true));
        if (!ok || jar.cookies_.size() >= kMaxCookies) {
            ++jar.skipped_;
            continue;
        }
        cookie.Domain = LowerAscii(domain);
        cookie.Subdomains = SameTextAscii(fields[1], "TRUE");
        cookie.Path = std::string(fields[2]);
        cookie.Secure = SameTextAscii(fields[3], "TRUE");
        cookie.Expires = expires;
        cookie.Name = std::string(fields[5]);
        if (count == 7)
            cookie.Value = std::string(fields[6]);
        jar.cookies_.push_back(std::move(cookie));
    }
    return jar;
}

std::string TCookieJar::HeaderFor(std::string_view address, std::int64_t now) const
{
    const TAddressParts parts = SplitAddressParts(address);
    if (!parts.Valid || (parts.Scheme != "http" && parts.Scheme != "https"))
        return {};
    const std::string_view path = std::string_view(parts.PathAndQuery).substr(0, parts.PathAndQuery.find('?'));
    std::vector<const TCookie*> chosen;
    for (const TCookie& cookie : cookies_) {
        if (cookie.Secure && parts.Scheme != "https")
            continue;
        if (cookie.Expires != 0 && cookie.Expires <= now)
            continue;
        if (DomainMatches(cookie, parts.Host) && PathMatches(cookie.Path, path))
            chosen.push_back(&cookie);
    }
    std::stable_sort(chosen.begin(), chosen.end(),
                     [](const TCookie* a, const TCookie* b) { return a->Path.size() > b->Path.size(); });
    std::string header;
    for (const TCookie* cookie : chosen) {
        const std::size_t add = cookie->Name.size() + 1 + cookie->Value.size() + (header.empty() ? 0 : 2);
        if (header.size() + add > kMaxHeaderBytes)
            break;
        if (!header.empty())
            header += "; ";
        header += cookie->Name;
        header += '=';
        header += cookie->Value;
    }
    return header;
}
