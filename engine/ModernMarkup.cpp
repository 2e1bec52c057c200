#include "engine/ModernMarkup.h"

#include <cstddef>

// ours
#include "base/AsciiCase.h"

namespace {

constexpr std::size_t npos = std::string_view::npos;

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// One or more digits: a width. Too many digits saturate instead of wrapping.
bool ParseWidth(std::string_view s, double& out)
{
    if (s.empty())
        return false;
    double v = 0;
    for (char c : s) {
        if (!IsDigit(c))
            return false;
        v = v < 1e15 ? v * 10 + (c - '0') : v;
    }
    out = v;
    return true;
}

// A floating-point number as HTML writes it: "-"? digits ("." digits)?
// (e|E ("+"|"-")? digits)?, or "." digits. Negative densities are refused
// by the caller.
bool ParseNumber(std::string_view s, double& out)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && s[i] == '-') {
        negative = true;
        ++i;
    }
    double v = 0;
    bool digits = false;
    while (i < s.size() && IsDigit(s[i])) {
        v = v < 1e15 ? v * 10 + (s[i] - '0') : v;
        ++i;
        digits = true;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        double scale = 0.1;
        bool fraction = false;
        while (i < s.size() && IsDigit(s[i])) {
            v += (s[i] - '0') * scale;
            scale /= 10;
            ++i;
            fraction = true;
        }
        if (!fraction)
            return false;
        digits = true;
    }
    if (!digits)
        return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool negExp = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            negExp = s[i++] == '-';
        int e = 0;
        bool expDigits = false;
        while (i < s.size() && IsDigit(s[i])) {
            e = e < 1000 ? e * 10 + (s[i] - '0') : e;
            ++i;
            expDigits = true;
        }
        if (!expDigits)
            return false;
        for (int k = 0; k < e && v != 0; ++k) {
            v = negExp ? v / 10 : v * 10;
            if (v > 1e300 || v < 1e-300)
                break;
        }
    }
    if (i != s.size())
        return false;
    out = negative ? -v : v;
    return true;
}

struct TCandidate {
    std::string_view Url;
    bool HasWidth = false;
    double Width = 0;
    double Density = 1;
};

// Reads the descriptors of one candidate from s[i] on, up to the comma that
// ends the candidate (or the end); sets ok to false for an invalid one.
void ReadDescriptors(std::string_view s, std::size_t& i, TCandidate& c, bool& ok)
{
    bool hasDensity = false, hasHeight = false;
    auto take = [&](std::string_view d) {
        if (d.empty())
            return;
        const char last = LowerAsciiChar(d.back());
        const std::string_view number = d.substr(0, d.size() - 1);
        double v = 0;
        if (last == 'w' && !c.HasWidth && !hasDensity && ParseWidth(number, v) && v > 0) {
            c.HasWidth = true;
            c.Width = v;
        } else if (last == 'x' && !c.HasWidth && !hasDensity && !hasHeight && ParseNumber(number, v) && v >= 0) {
            hasDensity = true;
            c.Density = v;
        } else if (last == 'h' && !hasHeight && !hasDensity && ParseWidth(number, v) && v > 0) {
            hasHeight = true;
        } else {
            ok = false;
        }
    };
    std::size_t start = i;
    bool inParens = false;
    bool endedByComma = false;
    for (; i < s.size(); ++i) {
        const char ch = s[i];
        if (inParens) {
            if (ch == ')')
                inParens = false;
            continue;
        }
        if (ch == '(') {
            inParens = true;
        } else if (ch == ',') {
            take(s.substr(start, i - start));
            ++i;
            endedByComma = true;
            break;
        } else if (IsSpace(ch)) {
            take(s.substr(start, i - start));
            start = i + 1;
        }
    }
    if (!endedByComma)
        take(s.substr(start));
    // A height needs a width beside it.
    if (hasHeight && !c.HasWidth)
        ok = false;
}

} // namespace

std::string_view LargestSrcsetCandidate(std::string_view s)
{
    TCandidate best;
    bool haveBest = false;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (IsSpace(s[i]) || s[i] == ','))
            ++i;
        if (i >= s.size())
            break;
        const std::size_t urlStart = i;
        while (i < s.size() && !IsSpace(s[i]))
            ++i;
        TCandidate c;
        c.Url = s.substr(urlStart, i - urlStart);
        bool ok = true;
        if (c.Url.back() == ',') {
            // Trailing commas end the URL and the candidate: no descriptors.
            while (!c.Url.empty() && c.Url.back() == ',')
                c.Url.remove_suffix(1);
        } else {
            while (i < s.size() && IsSpace(s[i]))
                ++i;
            ReadDescriptors(s, i, c, ok);
        }
        if (!ok || c.Url.empty())
            continue;
        if (!haveBest) {
            best = c;
            haveBest = true;
        } else if (c.HasWidth != best.HasWidth) {
            // Width descriptors rank above densities.
            if (c.HasWidth)
                best = c;
        } else if (c.HasWidth ? c.Width > best.Width : c.Density > best.Density) {
            best = c;
        }
    }
    return haveBest ? best.Url : std::string_view();
}

std::vector<std::string_view> StyleBackgroundUrls(std::string_view style)
{
    std::vector<std::string_view> urls;
    std::size_t pos = 0;
    while (pos < style.size()) {
        std::size_t end = style.find(';', pos);
        if (end == npos)
            end = style.size();
        // A ";" inside a quoted url(...) belongs to the address.
        std::string_view decl = style.substr(pos, end - pos);
        for (std::size_t q = 0; q < decl.size(); ++q) {
            if (decl[q] != '"' && decl[q] != '\'')
                continue;
            const std::size_t close = style.find(decl[q], pos + q + 1);
            if (close == npos)
                break;
            if (close >= end) {
                end = style.find(';', close);
                if (end == npos)
                    end = style.size();
                decl = style.substr(pos, end - pos);
            }
            q = close - pos;
        }
        pos = end + 1;

        const std::size_t colon = decl.find(':');
        if (colon == npos)
            continue;
        std::string_view name = decl.substr(0, colon);
        while (!name.empty() && IsSpace(name.front()))
            name.remove_prefix(1);
        while (!name.empty() && IsSpace(name.back()))
            name.remove_suffix(1);
        std::string lower;
        for (char c : name)
            lower.push_back(LowerAsciiChar(c));
        if (lower != "background" && lower != "background-image")
            continue;
        std::string_view value = decl.substr(colon + 1);
        std::size_t at = 0;
        while (at + 4 <= value.size()) {
            if (!(LowerAsciiChar(value[at]) == 'u' && LowerAsciiChar(value[at + 1]) == 'r' &&
                  LowerAsciiChar(value[at + 2]) == 'l' && value[at + 3] == '(')) {
                ++at;
                continue;
            }
            std::size_t b = at + 4;
            while (b < value.size() && IsSpace(value[b]))
                ++b;
            std::size_t e;
            std::size_t next;
            if (b < value.size() && (value[b] == '"' || value[b] == '\'')) {
                const char quote = value[b++];
                e = value.find(quote, b);
                if (e == npos)
                    break;
                next = value.find(')', e);
                next = next == npos ? value.size() : next + 1;
            } else {
                e = value.find(')', b);
                if (e == npos)
                    break;
                next = e + 1;
                while (e > b && IsSpace(value[e - 1]))
                    --e;
            }
            if (e > b)
                urls.push_back(value.substr(b, e - b));
            at = next;
        }
    }
    return urls;
}

std::string_view WithoutQueryAndFragment(std::string_view address)
{
    const std::size_t cut = address.find_first_of("?#");
    return cut == npos ? address : address.substr(0, cut);
}

namespace {

// The content of the quoted string that opens at s[at]; next is set to the
// position after its closing quote (or the end). A backslash escapes the
// next character.
std::string_view QuotedString(std::string_view s, std::size_t at, std::size_t& next)
{
    const char quote = s[at];
    for (std::size_t i = at + 1; i < s.size(); ++i) {
        if (s[i] == '\\') {
            ++i;
        } else if (s[i] == quote) {
            next = i + 1;
            return s.substr(at + 1, i - at - 1);
        }
    }
    next = s.size();
    return s.substr(at + 1);
}

// Reads the address of "url(" whose "(" is at s[open]; returns the position
// after the closing ")" (or the end) and sets value.
std::size_t ReadUrlValue(std::string_view s, std::size_t open, std::string_view& value)
{
    std::size_t b = open + 1;
    while (b < s.size() && IsSpace(s[b]))
        ++b;
    if (b < s.size() && (s[b] == '"' || s[b] == '\'')) {
        std::size_t end = 0;
        value = QuotedString(s, b, end);
        const std::size_t close = s.find(')', end);
        return close == npos ? s.size() : close + 1;
    }
    const std::size_t close = s.find(')', b);
    std::size_t e = close == npos ? s.size() : close;
    while (e > b && IsSpace(s[e - 1]))
        --e;
    value = s.substr(b, e - b);
    return close == npos ? s.size() : close + 1;
}

}  // namespace

TStylesheetRefs StylesheetRefs(std::string_view css)
{
    TStylesheetRefs refs;
    std::size_t i = 0;
    while (i < css.size()) {
        const char c = css[i];
        if (c == '/' && i + 1 < css.size() && css[i + 1] == '*') {
            const std::size_t end = css.find("*/", i + 2);
            i = end == npos ? css.size() : end + 2;
        } else if (c == '"' || c == '\'') {
            QuotedString(css, i, i);
        } else if (c == '@' && StartsWithNoCase(css.substr(i + 1), "import")) {
            i += 7;
            while (i < css.size() && IsSpace(css[i]))
                ++i;
            std::string_view value;
            if (i < css.size() && (css[i] == '"' || css[i] == '\'')) {
                value = QuotedString(css, i, i);
            } else if (StartsWithNoCase(css.substr(i), "url(")) {
                i = ReadUrlValue(css, i + 3, value);
            }
            if (!value.empty())
                refs.Imports.push_back(value);
        } else if ((c == 'u' || c == 'U') && StartsWithNoCase(css.substr(i), "url(")) {
            std::string_view value;
            i = ReadUrlValue(css, i + 3, value);
            if (!value.empty())
                refs.Urls.push_back(value);
        } else {
            ++i;
        }
    }
    return refs;
}
