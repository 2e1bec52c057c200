// SplitLink, FileExtension and the scan's address forming, comparing and
// showing on arbitrary text:
// the link, then after the first line feed the page directory (a fixed one
// when there is none).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/LinkSplit.h"
#include "engine/PageAddress.h"
#include "engine/PageEncoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t nl = input.find('\n');
    const std::string_view link = input.substr(0, nl);
    const std::string_view pageDir = nl == std::string_view::npos ? "http://h.d/a/b/" : input.substr(nl + 1);

    const std::string ext = FileExtension(link);
    if (!ext.empty() && (ext[0] != '.' || !link.ends_with(ext)))
        __builtin_trap();
    if (link.empty())
        return 0;

    // A formed address holds no fragment and is formed already; its
    // directory ends in "/".
    const TPageLink resolved = ResolvePageLink(link, pageDir);
    if (!resolved.Self) {
        if (resolved.Address.find('#') != std::string::npos || FormAddress(resolved.Address) != resolved.Address ||
            resolved.Dir.empty() || resolved.Dir.back() != '/')
            __builtin_trap();
    }
    // Formed, an address is ASCII without blanks or controls: it goes into a
    // request line as it is. Its compare form and its shown form take it too.
    if (!resolved.Self) {
        for (const char c : resolved.Address)
            if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F)
                __builtin_trap();
        if (AddressKey(resolved.Address) != AddressKey(AddressKey(resolved.Address)))
            __builtin_trap();
        (void)DisplayAddress(resolved.Address);
    }
    (void)DisplayAddress(link);
    (void)AddressKey(link);
    (void)HasForeignScheme(link);
    // A page in any encoding, its Content-Type the first line: read as UTF-8.
    std::string text;
    if (PageTextToUtf8(link, input, text) && !IsValidUtf8(text))
        __builtin_trap();
    (void)AddressOrigin(link);

    std::string dir, file;
    SplitLink(link, pageDir, dir, file);
    if (!dir.empty() && dir.back() != '/')
        __builtin_trap();
    // Nothing is invented beyond a scheme and a slash or two.
    if (dir.size() + file.size() > link.size() + pageDir.size() + 9)
        __builtin_trap();
    // Parent and root links never leave the host of a directory that has one.
    std::string_view rest = link.starts_with("./") ? link.substr(2) : link;
    const std::size_t sep = pageDir.find("//");
    const bool parentOrRoot = rest.starts_with("../") || (rest.starts_with('/') && (!rest.starts_with("//") || rest.size() == 2 || rest[2] == '/'));
    if (parentOrRoot && sep != std::string_view::npos) {
        const std::size_t slash = pageDir.find('/', sep + 2);
        const std::string_view root = pageDir.substr(0, slash);
        if (!dir.starts_with(root))
            __builtin_trap();
    }
    return 0;
}
