#include "html/HTMLPars.h"

#include <algorithm>
#include <cstring>

// ---------------------------------------------------------------- storage

void* TNodeArena::AllocateSlow(std::size_t bytes, std::size_t align)
{
    if (bytes > SIZE_MAX - align)
        throw std::bad_alloc();
    const std::size_t need = bytes + align;
    if (need > fNextSize / 2) {
        // A large item gets a block of its own, so the current block's
        // remaining room is not wasted.
        TBlock block{std::make_unique<char[]>(need), need};
        char* base = block.Data.get();
        fBlocks.push_back(std::move(block));
        // Keep the current block last: Clear keeps the last block.
        if (fBlocks.size() > 1 && fCur != nullptr)
            std::swap(fBlocks[fBlocks.size() - 1], fBlocks[fBlocks.size() - 2]);
        const std::size_t pad = (0 - reinterpret_cast<std::uintptr_t>(base)) & (align - 1);
        return base + pad;
    }
    TBlock block{std::make_unique<char[]>(fNextSize), fNextSize};
    fCur = block.Data.get();
    fLeft = block.Size;
    fBlocks.push_back(std::move(block));
    if (fNextSize < 4 * 1024 * 1024)
        fNextSize *= 2;
    return Allocate(bytes, align);
}

void TNodeArena::Clear()
{
    if (fBlocks.empty())
        return;
    if (fCur == nullptr) {
        fBlocks.clear();
        return;
    }
    TBlock keep = std::move(fBlocks.back());
    fBlocks.clear();
    fCur = keep.Data.get();
    fLeft = keep.Size;
    fBlocks.push_back(std::move(keep));
}

std::size_t TNodeArena::Capacity() const
{
    std::size_t total = 0;
    for (const TBlock& b : fBlocks)
        total += b.Size;
    return total;
}

// ---------------------------------------------------------------- tables

const std::array<THTMLEntity, 100> EntityTable = {{
    {"&quot;", "&#34;"},    {"&amp;", "&#38;"},     {"&lt;", "&#60;"},      {"&gt;", "&#62;"},
    {"&nbsp;", "&#160;"},   {"&iexcl;", "&#161;"},  {"&cent;", "&#162;"},   {"&pound;", "&#163;"},
    {"&curren;", "&#164;"}, {"&yen;", "&#165;"},    {"&brvbar;", "&#166;"}, {"&sect;", "&#167;"},
    {"&uml;", "&#168;"},    {"&copy;", "&#169;"},   {"&ordf;", "&#170;"},   {"&laquo;", "&#171;"},
    {"&not;", "&#172;"},    {"&shy;", "&#173;"},    {"&reg;", "&#174;"},    {"&macr;", "&#175;"},
    {"&deg;", "&#176;"},    {"&plusmn;", "&#177;"}, {"&sup2;", "&#178;"},   {"&sup3;", "&#179;"},
    {"&acute;", "&#180;"},  {"&micro;", "&#181;"},  {"&para;", "&#182;"},   {"&middot;", "&#183;"},
    {"&cedil;", "&#184;"},  {"&sup1;", "&#185;"},   {"&ordm;", "&#186;"},   {"&raquo;", "&#187;"},
    {"&frac14;", "&#188;"}, {"&frac12;", "&#189;"}, {"&frac34;", "&#190;"}, {"&iquest;", "&#191;"},
    {"&Agrave;", "&#192;"}, {"&Aacute;", "&#193;"}, {"&Acirc;", "&#194;"},  {"&Atilde;", "&#195;"},
    {"&Auml;", "&#196;"},   {"&Aring;", "&#197;"},  {"&AElig;", "&#198;"},  {"&Ccedil;", "&#199;"},
    {"&Egrave;", "&#200;"}, {"&Eacute;", "&#201;"}, {"&Ecirc;", "&#202;"},  {"&Euml;", "&#203;"},
    {"&Igrave;", "&#204;"}, {"&Iacute;", "&#205;"}, {"&Icirc;", "&#206;"},  {"&Iuml;", "&#207;"},
    {"&ETH;", "&#208;"},    {"&Ntilde;", "&#209;"}, {"&Ograve;", "&#210;"}, {"&Oacute;", "&#211;"},
    {"&Ocirc;", "&#212;"},  {"&Otilde;", "&#213;"}, {"&Ouml;", "&#214;"},   {"&times;", "&#215;"},
    {"&Oslash;", "&#216;"}, {"&Ugrave;", "&#217;"}, {"&Uacute;", "&#218;"}, {"&Ucirc;", "&#219;"},
    {"&Uuml;", "&#220;"},   {"&Yacute;", "&#221;"}, {"&THORN;", "&#222;"},  {"&szlig;", "&#223;"},
    {"&agrave;", "&#224;"}, {"&aacute;", "&#225;"}, {"&acirc;", "&#226;"},  {"&atilde;", "&#227;"},
    {"&auml;", "&#228;"},   {"&aring;", "&#229;"},  {"&aelig;", "&#230;"},  {"&ccedil;", "&#231;"},
    {"&egrave;", "&#232;"}, {"&eacute;", "&#233;"}, {"&ecirc;", "&#234;"},  {"&euml;", "&#235;"},
    {"&igrave;", "&#236;"}, {"&iacute;", "&#237;"}, {"&icirc;", "&#238;"},  {"&iuml;", "&#239;"},
    {"&eth;", "&#240;"},    {"&ntilde;", "&#241;"}, {"&ograve;", "&#242;"}, {"&oacute;", "&#243;"},
    {"&ocirc;", "&#244;"},  {"&otilde;", "&#245;"}, {"&ouml;", "&#246;"},   {"&divide;", "&#247;"},
    {"&oslash;", "&#248;"}, {"&ugrave;", "&#249;"}, {"&uacute;", "&#250;"}, {"&ucirc;", "&#251;"},
    {"&uuml;", "&#252;"},   {"&yacute;", "&#253;"}, {"&thorn;", "&#254;"},  {"&yuml;", "&#255;"},
}};

namespace {

// Unicode code points of the Windows-1252 characters 128 to 159; the five
// codes without a character keep their own value, as Windows converts them.
constexpr std::array<std::uint16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

std::size_t PutUtf8(unsigned cp, char* out)
{
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
}

// Writes the text a reference value stands for; never more bytes than the
// shortest reference that can carry the value, so decoding works in place.
std::size_t PutCharacter(int value, char* out)
{
    if (value > 255)
        return PutUtf8(static_cast<unsigned>(value), out);
    const unsigned c = CharMap[static_cast<unsigned>(value)];
    if (c >= 0x80 && c < 0xA0)
        return PutUtf8(kCp1252High[c - 0x80], out);
    return PutUtf8(c, out);
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(c | 0x20);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The body of a numeric reference (between "&#" and the terminator) read as
// an integer: "x" and one or two hexadecimal digits, or an optional sign and
// decimal digits, three characters at most.
bool ReadNumber(std::string_view body, int& value)
{
    if (body.empty() || body.size() > 3)
        return false;
    if (body[0] == 'x' || body[0] == 'X') {
        if (body.size() < 2)
            return false;
        int v = 0;
        for (char c : body.substr(1)) {
            const int d = HexDigit(c);
            if (d < 0)
                return false;
            v = v * 16 + d;
        }
        value = v;
        return true;
    }
    bool negative = false;
    if (body[0] == '+' || body[0] == '-') {
        negative = body[0] == '-';
        body.remove_prefix(1);
        if (body.empty())
            return false;
    }
    int v = 0;
    for (char c : body) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    value = negative ? -v : v;
    return true;
}

struct TNamedCode {
    std::string_view Name;
    int Code;
};

// EntityTable sorted by name for a binary search; the names are distinct, so
// this finds the same entry as a walk in table order.
const std::array<TNamedCode, 100>& SortedEntities()
{
    static const std::array<TNamedCode, 100> sorted = [] {
        std::array<TNamedCode, 100> s{};
        for (std::size_t i = 0; i < EntityTable.size(); ++i) {
            int code = 0;
            ReadNumber(EntityTable[i].Numeric.substr(2, EntityTable[i].Numeric.size() - 3), code);
            s[i] = {EntityTable[i].Name, code};
        }
        std::sort(s.begin(), s.end(), [](const TNamedCode& a, const TNamedCode& b) { return a.Name < b.Name; });
        return s;
    }();
    return sorted;
}

constexpr std::size_t kLongestEntityName = 8; // "&frac14;"

// The value of a complete reference (terminator included), or false when the
// reference stays as written.
bool ReferenceValue(std::string_view ref, int& value)
{
    if (ref.size() > 2 && ref[1] == '#') {
        if (!ReadNumber(ref.substr(2, ref.size() - 3), value))
            return false;
        // Negative values name no character; 256 and above are Unicode code
        // points (at most 999 with three digits), kept since text is UTF-8.
        return value >= 0;
    }
    if (ref.size() > kLongestEntityName)
        return false;
    const auto& sorted = SortedEntities();
    const auto it = std::lower_bound(sorted.begin(), sorted.end(), ref,
                                     [](const TNamedCode& e, std::string_view n) { return e.Name < n; });
    if (it == sorted.end() || it->Name != ref)
        return false;
    value = it->Code;
    return true;
}

void UpperCopy(const char* src, std::size_t n, char* dst)
{
    for (std::size_t i = 0; i < n; ++i) {
        const char c = src[i];
        dst[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    }
}

// Calls f(begin, end) for each non-empty piece of text[from, size): pieces are
// separated by single spaces outside double quotes.
template <class F>
void ForEachPiece(std::string_view text, std::size_t from, F&& f)
{
    bool quoted = false;
    std::size_t start = from;
    for (std::size_t i = from; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ' ' && !quoted) {
            if (i > start)
                f(start, i);
            start = i + 1;
        }
    }
    if (text.size() > start)
        f(start, text.size());
}

} // namespace

// ---------------------------------------------------------------- nodes

void THTMLParam::Split(std::string_view raw, const char* upper)
{
    Raw = raw;
    const std::size_t eq = raw.find('=');
    if (eq == std::string_view::npos) {
        Name = std::string_view(upper, raw.size());
        Value = {};
        return;
    }
    Name = std::string_view(upper, eq);
    Value = raw.substr(eq + 1);
    if (Value.size() > 1 && Value.front() == '"' && Value.back() == '"')
        Value = Value.substr(1, Value.size() - 2);
}

void THTMLParam::ParseParam(std::string_view P, TNodeArena& Store)
{
    char* buf = Store.AllocateChars(P.size() * 2);
    if (!P.empty()) {
        std::memcpy(buf, P.data(), P.size());
        UpperCopy(P.data(), P.size(), buf + P.size());
    }
    Split(std::string_view(buf, P.size()), buf + P.size());
}

void THTMLTag::ParseTag(std::string_view S, TNodeArena& Store)
{
    const std::size_t n = S.size();
    // The text and its upper-case copy: the tag's and the attributes' names
    // are slices of the copy, values and raw texts slices of the text.
    char* buf = Store.AllocateChars(n * 2);
    if (n != 0) {
        std::memcpy(buf, S.data(), n);
        UpperCopy(S.data(), n, buf + n);
    }
    const std::string_view raw(buf, n);
    const char* upper = buf + n;
    Raw = raw;
    const std::size_t space = raw.find(' ');
    const std::size_t nameLen = space == std::string_view::npos ? n : space;
    Name = std::string_view(upper, nameLen);

    std::size_t count = 0;
    ForEachPiece(raw, nameLen, [&](std::size_t, std::size_t) { ++count; });
    std::span<THTMLParam> params = Store.MakeArray<THTMLParam>(count);
    std::size_t k = 0;
    ForEachPiece(raw, nameLen, [&](std::size_t b, std::size_t e) {
        params[k++].Split(raw.substr(b, e - b), upper + b);
    });
    Params = params;
}

void THTMLText::DecodeText(std::string_view S, TNodeArena& Store)
{
    const std::size_t n = S.size();
    char* buf = Store.AllocateChars(n * 2);
    if (n == 0) {
        Raw = Text = {};
        return;
    }
    std::memcpy(buf, S.data(), n);
    Raw = std::string_view(buf, n);

    // Line feeds become spaces and runs of spaces one space.
    char* t = buf + n;
    std::size_t m = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const char c = S[i] == '\n' ? ' ' : S[i];
        if (c == ' ' && m != 0 && t[m - 1] == ' ')
            continue;
        t[m++] = c;
    }

    // References, decoded in place: a replacement is never longer than the
    // reference, and what it produces is not scanned again.
    std::size_t w = 0;
    std::size_t refStart = 0;
    bool collecting = false;
    for (std::size_t r = 0; r < m; ++r) {
        const char c = t[r];
        if (c == '&') {
            refStart = w;
            collecting = true;
        }
        t[w++] = c;
        if (collecting && (c == ';' || c == ' ')) {
            collecting = false;
            int value = 0;
            if (ReferenceValue(std::string_view(t + refStart, w - refStart), value))
                w = refStart + PutCharacter(value, t + refStart);
        }
    }
    Text = std::string_view(t, w);
}

// ---------------------------------------------------------------- parser

void THTMLParser::FlushText()
{
    TNodeArena& store = Nodes.Store();
    THTMLText* node = store.Make<THTMLText>();
    node->DecodeText(PendingText, store);
    PendingText.clear();
    Nodes.Add(node);
}

void THTMLParser::MakeTag()
{
    InTag = false;
    TNodeArena& store = Nodes.Store();
    THTMLTag* node = store.Make<THTMLTag>();
    node->ParseTag(PendingTag, store);
    PendingTag.clear();
    Nodes.Add(node);
}

void THTMLParser::Execute()
{
    PendingText.clear();
    PendingTag.clear();
    InTag = false;
    for (std::string_view line : Lines) {
        const char* p = line.data();
        const char* const end = p + line.size();
        // The next "<" and ">" are searched once each and remembered, so a line
        // full of one of them is still scanned in linear time.
        auto find = [end](const char* from, char c) {
            const void* hit = from < end ? std::memchr(from, c, static_cast<std::size_t>(end - from)) : nullptr;
            return hit ? static_cast<const char*>(hit) : end;
        };
        const char* nextOpen = find(p, '<');
        const char* nextClose = find(p, '>');
        while (p < end) {
            const char* q = std::min(nextOpen, nextClose);
            if (q > p)
                (InTag ? PendingTag : PendingText).append(p, static_cast<std::size_t>(q - p));
            if (q == end)
                break;
            if (*q == '<') {
                if (!InTag && !PendingText.empty())
                    FlushText();
                InTag = true;
                nextOpen = find(q + 1, '<');
            } else {
                MakeTag();
                nextClose = find(q + 1, '>');
            }
            p = q + 1;
        }
        if (!InTag && !PendingText.empty())
            PendingText.push_back('\n');
    }
    if (InTag && !PendingTag.empty())
        MakeTag();
    if (!InTag && !PendingText.empty())
        FlushText();
}
