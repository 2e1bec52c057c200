#include "engine/PageEncoding.h"

// system
#include <cerrno>
#include <iconv.h>

// ours
#include "engine/PageAddress.h"
#include "base/AsciiCase.h"

namespace {

constexpr std::size_t npos = std::string_view::npos;
// Browsers look for a <meta> charset this far into a page.
constexpr std::size_t kPrescanBytes = 1024;
// Longer than any name of an encoding.
constexpr std::size_t kMaxLabelBytes = 40;

bool IsLabelChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == ':';
}

// The label after "charset" in text (lower case), or empty.
std::string CharsetAfter(std::string_view text)
{
    for (std::size_t p = text.find("charset"); p != npos; p = text.find("charset", p + 1)) {
        std::size_t i = p + 7;
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        if (i >= text.size() || text[i] != '=')
            continue;
        ++i;
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '"' || text[i] == '\''))
            ++i;
        std::size_t end = i;
        while (end < text.size() && end - i < kMaxLabelBytes && IsLabelChar(text[end]))
            ++end;
        if (end > i)
            return std::string(text.substr(i, end - i));
    }
    return {};
}

std::string MetaCharset(std::string_view body)
{
    const std::string head = LowerAscii(body.substr(0, kPrescanBytes));
    for (std::size_t p = head.find("<meta"); p != npos; p = head.find("<meta", p + 5)) {
        const std::size_t end = head.find('>', p);
        std::string label = CharsetAfter(std::string_view(head).substr(p, end == npos ? npos : end - p));
        if (!label.empty())
            return label;
    }
    return {};
}

// The names browsers give to the encodings that matter here; others go to
// iconv as they are written.
std::string Canonical(std::string label)
{
    if (label == "utf8" || label == "unicode-1-1-utf-8" || label == "utf-8")
        return "utf-8";
    if (label == "iso-8859-1" || label == "iso8859-1" || label == "iso_8859-1" || label == "latin1" ||
        label == "l1" || label == "us-ascii" || label == "ascii" || label == "cp1252" || label == "x-cp1252" ||
        label == "windows-1252" || label == "cp819" || label == "ibm819")
        return "windows-1252";
    return label;
}

}  // namespace

std::string PageEncoding(std::string_view contentType, std::string_view body)
{
    std::string label = CharsetAfter(LowerAscii(contentType));
    if (label.empty()) {
        if (body.starts_with("\xEF\xBB\xBF"))
            return "utf-8";
        if (body.starts_with("\xFE\xFF"))
            return "utf-16be";
        if (body.starts_with("\xFF\xFE"))
            return "utf-16le";
        label = MetaCharset(body);
        // A page that says UTF-16 in its own bytes cannot be UTF-16.
        if (label == "utf-16" || label == "utf-16le" || label == "utf-16be")
            label = "utf-8";
    }
    if (label.empty())
        return IsValidUtf8(body) ? "utf-8" : "windows-1252";
    return Canonical(std::move(label));
}

bool PageTextToUtf8(std::string_view contentType, std::string_view body, std::string& out)
{
    const std::string encoding = PageEncoding(contentType, body);
    if (encoding == "utf-8")
        return false;
    const iconv_t cd = ::iconv_open("UTF-8", encoding.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    const bool wide = encoding.starts_with("utf-16");
    std::string result;
    result.reserve(body.size() + body.size() / 8 + 16);
    char buffer[16384];
    // The byte-order mark says how to read the page; it is no text of it.
    if (wide && (body.starts_with("\xFE\xFF") || body.starts_with("\xFF\xFE")))
        body.remove_prefix(2);
    char* in = const_cast<char*>(body.data());
    std::size_t inLeft = body.size();
    while (inLeft > 0) {
        char* o = buffer;
        std::size_t oLeft = sizeof buffer;
        const std::size_t rc = ::iconv(cd, &in, &inLeft, &o, &oLeft);
        result.append(buffer, static_cast<std::size_t>(o - buffer));
        if (rc != static_cast<std::size_t>(-1) || errno == E2BIG)
            continue;
        // A byte (or unit) the encoding does not have, or one cut off at the end.
        result.append("\xEF\xBF\xBD");
        const std::size_t skip = wide && inLeft >= 2 ? 2 : 1;
        in += skip;
        inLeft -= skip;
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    ::iconv_close(cd);
    out = std::move(result);
    return true;
}
