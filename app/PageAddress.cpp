#include "app/PageAddress.h"

#include "app/LinkSplit.h"
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

}  // namespace

std::string_view WithoutFragment(std::string_view link)
{
    const std::size_t hash = link.find('#');
    return hash == npos ? link : link.substr(0, hash);
}

std::string FormAddress(std::string_view address)
{
    address = WithoutFragment(address);
    const std::size_t pathStart = PathStart(address);
    const std::size_t query = PathEnd(address, pathStart);
    const std::string_view path = address.substr(pathStart, query - pathStart);
    std::string out(address.substr(0, pathStart));
    // Most addresses hold no dot segment; they are copied as they are.
    if (path.find("/.") == npos && !path.starts_with("./") && !path.starts_with("../") && path != "." &&
        path != "..") {
        out.append(path);
    } else {
        out += WithoutDotSegments(path);
    }
    out.append(address.substr(query));
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
