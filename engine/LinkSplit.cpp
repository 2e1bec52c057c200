#include "engine/LinkSplit.h"

#include <stdexcept>

namespace {

constexpr std::size_t npos = std::string_view::npos;

// Length of "scheme://host/" at the front of Dir, or npos when Dir holds no
// "//". Without a slash after the host the whole text is the root.
std::size_t RootLength(std::string_view Dir)
{
    const std::size_t sep = Dir.find("//");
    if (sep == npos)
        return npos;
    const std::size_t slash = Dir.find('/', sep + 2);
    return slash == npos ? Dir.size() : slash + 1;
}

void EnsureSlash(std::string& Dir)
{
    if (Dir.empty() || Dir.back() != '/')
        Dir.push_back('/');
}

void SplitParent(std::string_view L, std::string_view PageDir, std::string& LinkDir, std::string& LinkFile)
{
    LinkDir.assign(PageDir);
    const std::size_t root = RootLength(PageDir);
    // Once a step no longer changes the directory (at the host, or a relative
    // directory down to its first segment) the rest of the "../" only drop away.
    bool stuck = PageDir.empty();
    while (L.starts_with("../")) {
        L.remove_prefix(3);
        if (stuck)
            continue;
        if (root != npos && LinkDir.size() <= root) {
            stuck = true;
            continue;
        }
        std::size_t end = LinkDir.size();
        if (LinkDir.back() == '/')
            --end;
        const std::size_t slash = end == 0 ? npos : LinkDir.rfind('/', end - 1);
        const std::size_t keep = slash == npos ? end : slash;
        const bool addSlash = keep == 0 || LinkDir[keep - 1] != '/';
        const std::size_t newSize = keep + (addSlash ? 1 : 0);
        if (root != npos && newSize < root) {
            // One step more than the directory has levels: stay at the host
            // instead of producing a text such as "http:/".
            LinkDir.assign(PageDir.substr(0, root));
            EnsureSlash(LinkDir);
            stuck = true;
            continue;
        }
        if (newSize == LinkDir.size() && slash == npos)
            stuck = true;
        LinkDir.resize(keep);
        if (addSlash)
            LinkDir.push_back('/');
    }
    if (!LinkDir.empty())
        EnsureSlash(LinkDir);
    LinkFile.assign(L);
}

void SplitRoot(std::string_view L, std::string_view PageDir, std::string& LinkDir, std::string& LinkFile)
{
    LinkFile.assign(L.substr(1));
    if (PageDir.empty()) {
        LinkDir.clear();
        return;
    }
    const std::size_t root = RootLength(PageDir);
    if (root != npos) {
        LinkDir.assign(PageDir.substr(0, root));
    } else {
        // No "//" to find the host by: the host is taken to end at the first
        // slash after the first dot.
        std::size_t cut = npos;
        const std::size_t dot = PageDir.find('.');
        if (dot != npos)
            cut = PageDir.find('/', dot + 1);
        LinkDir.assign(PageDir.substr(0, cut));
    }
    EnsureSlash(LinkDir);
}

bool HasWwwPrefix(std::string_view L)
{
    return L.size() >= 4 && (L[0] | 0x20) == 'w' && (L[1] | 0x20) == 'w' && (L[2] | 0x20) == 'w' && L[3] == '.';
}

void SplitOther(std::string_view L, std::string& LinkDir, std::string& LinkFile)
{
    std::string prefixed;
    if (HasWwwPrefix(L)) {
        prefixed.reserve(L.size() + 7);
        prefixed.append("http://").append(L);
        L = prefixed;
    }
    std::size_t slashes = 0;
    std::size_t adjacent = 0;
    for (std::size_t i = 0; i < L.size(); ++i) {
        if (L[i] == '/') {
            ++slashes;
            if (i > 0 && L[i - 1] == '/')
                ++adjacent;
        }
    }
    if (adjacent == 0) {
        LinkDir.clear();
        LinkFile.assign(L);
        return;
    }
    if (slashes == 2 && adjacent == 1) {
        // A bare scheme and host: the directory is the host's root.
        LinkDir.assign(L);
        LinkDir.push_back('/');
        LinkFile.clear();
        return;
    }
    const std::size_t p = L.rfind('/');
    const std::string_view file = L.substr(p + 1);
    if (FileExtension(file).empty()) {
        LinkDir.assign(L);
        EnsureSlash(LinkDir);
        LinkFile.clear();
    } else {
        LinkDir.assign(L.substr(0, p + 1));
        LinkFile.assign(file);
    }
}

} // namespace

void SplitLink(std::string_view Link, std::string_view PageDir, std::string& LinkDir, std::string& LinkFile)
{
    if (Link.empty())
        throw std::invalid_argument("SplitLink: empty link");
    std::string_view L = Link;
    if (L.starts_with("./"))
        L.remove_prefix(2);
    if (L.starts_with("../")) {
        SplitParent(L, PageDir, LinkDir, LinkFile);
    } else if (L.starts_with("//") && L.size() > 2 && L[2] != '/') {
        // A network-path link names another host: it keeps the page's
        // scheme, instead of being read as a path below the page's host.
        const std::size_t sep = PageDir.find("//");
        const std::size_t colon = sep == npos ? npos : PageDir.rfind(':', sep);
        std::string absolute(colon == npos || colon + 1 != sep ? std::string_view("http:") : PageDir.substr(0, sep));
        absolute.append(L);
        SplitOther(absolute, LinkDir, LinkFile);
    } else if (L.starts_with('/')) {
        // Also "//" with nothing or another "/" behind it (".///" once "./"
        // is gone): no host follows, so it cannot be a network-path link.
        SplitRoot(L, PageDir, LinkDir, LinkFile);
    } else {
        SplitOther(L, LinkDir, LinkFile);
    }
}

TLinkParts SplitLink(std::string_view Link, std::string_view PageDir)
{
    TLinkParts parts;
    SplitLink(Link, PageDir, parts.LinkDir, parts.LinkFile);
    return parts;
}

std::string FileExtension(std::string_view Text)
{
    const std::size_t p = Text.find_last_of(".\\:");
    if (p == npos || Text[p] != '.')
        return {};
    return std::string(Text.substr(p));
}
