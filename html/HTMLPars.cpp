#include "html/HTMLPars.h"

#include <algorithm>
#include <cstring>
#include <vector>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Nodes are many (one per few bytes of a hostile page): keep them small.
static_assert(sizeof(THTMLParam) <= 24);
static_assert(sizeof(THTMLTag) <= 24);
static_assert(sizeof(THTMLText) <= 24);

// ---------------------------------------------------------------- storage

void* TNodeArena::AllocateSlow(std::size_t bytes, std::size_t align)
{
    if (bytes > SIZE_MAX - align - kBlockSize)
        throw std::bad_alloc();
    const std::size_t need = bytes + align;
    // The smallest of the blocks kept from earlier documents that fits, else
    // a new one.
    std::size_t found = fBlocks.size();
    for (std::size_t i = fUsed; i < fBlocks.size(); ++i) {
        if (fBlocks[i].Size >= need && (found == fBlocks.size() || fBlocks[i].Size < fBlocks[found].Size))
            found = i;
    }
    if (found == fBlocks.size()) {
        const std::size_t size = std::max(need, kBlockSize);
        fBlocks.push_back({std::unique_ptr<char[]>(new char[size]), size});
    }
    std::swap(fBlocks[fUsed], fBlocks[found]);
    TBlock& block = fBlocks[fUsed];
    ++fUsed;
    if (need > kBlockSize / 4 && fCur != nullptr && fUsed >= 2) {
        // A large item takes a block without becoming the current block, so
        // the current block's remaining room is not wasted.
        std::swap(fBlocks[fUsed - 1], fBlocks[fUsed - 2]);
        char* base = fBlocks[fUsed - 2].Data.get();
        const std::size_t pad = (0 - reinterpret_cast<std::uintptr_t>(base)) & (align - 1);
        return base + pad;
    }
    fCur = block.Data.get();
    fLeft = block.Size;
    return Allocate(bytes, align);
}

void TNodeArena::Clear()
{
    // Keep what the last document used (it comes first), up to the bound.
    std::size_t kept = 0;
    std::size_t total = 0;
    for (std::size_t i = 0; i < fBlocks.size(); ++i) {
        if (total + fBlocks[i].Size > kRetainedBytes)
            continue;
        total += fBlocks[i].Size;
        fBlocks[kept++] = std::move(fBlocks[i]);
    }
    fBlocks.resize(kept);
    fUsed = 0;
    fCur = nullptr;
    fLeft = 0;
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

constexpr std::size_t kEntitySlots = 512;

std::size_t EntityHash(std::string_view name)
{
    std::uint32_t h = 2166136261u;
    for (char c : name)
        h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    return h & (kEntitySlots - 1);
}

struct TEntityIndex {
    std::array<std::uint8_t, kEntitySlots> Slot{}; // entry number + 1; 0 = free
    std::array<int, 100> Code{};
};

// EntityTable in an open-addressing hash table. The names are distinct, so a
// hit is the entry a walk in table order would find first.
const TEntityIndex& EntityIndex()
{
    static const TEntityIndex index = [] {
        TEntityIndex x;
        for (std::size_t i = 0; i < EntityTable.size(); ++i) {
            std::size_t h = EntityHash(EntityTable[i].Name);
            while (x.Slot[h] != 0)
                h = (h + 1) & (kEntitySlots - 1);
            x.Slot[h] = static_cast<std::uint8_t>(i + 1);
            ReadNumber(EntityTable[i].Numeric.substr(2, EntityTable[i].Numeric.size() - 3), x.Code[i]);
        }
        return x;
    }();
    return index;
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
    const TEntityIndex& index = EntityIndex();
    for (std::size_t h = EntityHash(ref); index.Slot[h] != 0; h = (h + 1) & (kEntitySlots - 1)) {
        const std::size_t entry = index.Slot[h] - 1u;
        if (EntityTable[entry].Name == ref) {
            value = index.Code[entry];
            return true;
        }
    }
    return false;
}

// The first "<" or ">" in [p, end), or end.
inline const char* FindAngle(const char* p, const char* end)
{
#if defined(__SSE2__)
    const __m128i open = _mm_set1_epi8('<');
    const __m128i close = _mm_set1_epi8('>');
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const int hits = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, open), _mm_cmpeq_epi8(v, close)));
        if (hits != 0)
            return p + __builtin_ctz(static_cast<unsigned>(hits));
        p += 16;
    }
#endif
    while (p < end && *p != '<' && *p != '>')
        ++p;
    return p;
}

// The first byte in [p, end) that is neither a space nor a line feed, or end.
const char* SkipBlanks(const char* p, const char* end)
{
#if defined(__SSE2__)
    const __m128i space = _mm_set1_epi8(' ');
    const __m128i lf = _mm_set1_epi8('\n');
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const int blanks = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, space), _mm_cmpeq_epi8(v, lf)));
        if (blanks != 0xFFFF)
            return p + __builtin_ctz(~static_cast<unsigned>(blanks));
        p += 16;
    }
#endif
    while (p < end && (*p == ' ' || *p == '\n'))
        ++p;
    return p;
}

void UpperCopy(const char* src, std::size_t n, char* dst)
{
    for (std::size_t i = 0; i < n; ++i) {
        const char c = src[i];
        dst[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    }
}

// Calls f(begin, end, eq) for each non-empty piece of text[from, size):
// pieces are separated by single spaces outside double quotes; eq is the
// position of the piece's first "=", or npos.
template <class F>
void ForEachPiece(std::string_view text, std::size_t from, F&& f)
{
    constexpr std::size_t npos = std::string_view::npos;
    bool quoted = false;
    std::size_t start = from;
    std::size_t eq = npos;
    for (std::size_t i = from; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ' ' && !quoted) {
            if (i > start)
                f(start, i, eq);
            start = i + 1;
            eq = npos;
        } else if (c == '=' && eq == npos) {
            eq = i;
        }
    }
    if (text.size() > start)
        f(start, text.size(), eq);
}

struct TPiece {
    std::uint32_t Begin;
    std::uint32_t Length;
    std::uint32_t NameLength; // up to the first "=", or all
    bool HasValue;
};

} // namespace

// ---------------------------------------------------------------- nodes

void THTMLParam::Split(const char* raw, std::uint32_t len, std::uint32_t nameLen, bool hasValue)
{
    fRaw = raw;
    fRawLen = len;
    fNameLen = nameLen;
    if (!hasValue)
        return;
    fNameLen |= kHasValue;
    const std::uint32_t valueLen = len - nameLen - 1;
    if (valueLen > 1 && raw[nameLen + 1] == '"' && raw[len - 1] == '"')
        fNameLen |= kQuoted;
}

namespace {

std::uint32_t CheckedLength(std::size_t n, std::uint32_t limit)
{
    if (n > limit)
        throw std::length_error("HTML text too long");
    return static_cast<std::uint32_t>(n);
}

} // namespace

void THTMLParam::ParseParam(std::string_view P, TNodeArena& Store)
{
    const std::uint32_t len = CheckedLength(P.size(), kMaxLength);
    char* raw = Store.AllocateChars(len);
    if (len != 0)
        std::memcpy(raw, P.data(), len);
    const std::size_t eq = P.find('=');
    const auto nameLen = static_cast<std::uint32_t>(eq == std::string_view::npos ? len : eq);
    Split(raw, len, nameLen, eq != std::string_view::npos);
    char* upper = Store.AllocateChars(nameLen);
    UpperCopy(raw, nameLen, upper);
    fName = upper;
}

char* THTMLTag::Reserve(TNodeArena& Store, std::size_t count, std::size_t rawLen, std::size_t textLen)
{
    const std::size_t head = count * sizeof(THTMLParam);
    char* block = static_cast<char*>(Store.Allocate(head + rawLen + textLen, alignof(THTMLParam)));
    return block == nullptr ? nullptr : block + head;
}

void THTMLTag::ParseTag(std::string_view S, TNodeArena& Store, bool Modern)
{
    if (Modern) {
        ParseTagModern(S, Store);
        return;
    }
    const std::uint32_t n = CheckedLength(S.size(), THTMLParam::kMaxLength);
    const std::size_t space = S.find(' ');
    const std::size_t nameLen = space == std::string_view::npos ? n : space;

    // The pieces first, so that one block takes the attributes and all
    // texts. The list is reused from tag to tag.
    thread_local std::vector<TPiece> pieces;
    pieces.clear();
    std::size_t namesLen = nameLen;
    if (space != std::string_view::npos) {
        ForEachPiece(S, space, [&](std::size_t b, std::size_t e, std::size_t eq) {
            const bool hasValue = eq != std::string_view::npos;
            const std::size_t nl = hasValue ? eq - b : e - b;
            pieces.push_back({static_cast<std::uint32_t>(b), static_cast<std::uint32_t>(e - b),
                              static_cast<std::uint32_t>(nl), hasValue});
            namesLen += nl;
        });
    }
    const std::size_t count = pieces.size();
    char* raw = Reserve(Store, count, n, namesLen);
    if (n != 0)
        std::memcpy(raw, S.data(), n);
    THTMLParam* params = reinterpret_cast<THTMLParam*>(raw) - count;
    // The upper-case names of the tag and its attributes, side by side.
    char* upper = raw + n;
    UpperCopy(raw, nameLen, upper);
    char* out = upper + nameLen;
    for (std::size_t k = 0; k < count; ++k) {
        const TPiece& piece = pieces[k];
        THTMLParam* p = new (params + k) THTMLParam;
        p->Split(raw + piece.Begin, piece.Length, piece.NameLength, piece.HasValue);
        UpperCopy(raw + piece.Begin, piece.NameLength, out);
        p->fName = out;
        out += piece.NameLength;
    }
    fRaw = raw;
    fRawLen = n;
    fNameLen = static_cast<std::uint32_t>(nameLen);
    fParamCount = static_cast<std::uint32_t>(count);
    // A tag with very many attributes must not pin their list's room.
    if (pieces.capacity() > 4096)
        std::vector<TPiece>().swap(pieces);
}

namespace {

inline bool IsHtmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

struct TModernPiece {
    std::uint32_t NameBegin;
    std::uint32_t NameLength;
    std::uint32_t ValueBegin;
    std::uint32_t ValueLength;
    bool HasValue;
};

} // namespace

void THTMLTag::ParseTagModern(std::string_view S, TNodeArena& Store)
{
    const std::uint32_t n = CheckedLength(S.size(), THTMLParam::kMaxLength);
    const char* t = S.data();

    // The name: a leading "/" (an end tag) belongs to it, a later one ends it.
    std::size_t i = 0;
    if (i < n && t[i] == '/')
        ++i;
    while (i < n && !IsHtmlSpace(t[i]) && t[i] != '/')
        ++i;
    const std::size_t nameLen = i;

    thread_local std::vector<TModernPiece> pieces;
    pieces.clear();
    std::size_t namesLen = nameLen;
    std::size_t rawsLen = 0;
    while (i < n) {
        while (i < n && (IsHtmlSpace(t[i]) || t[i] == '/'))
            ++i;
        if (i == n)
            break;
        // A "=" first is part of the name, as browsers take it.
        const std::size_t nb = i++;
        while (i < n && !IsHtmlSpace(t[i]) && t[i] != '/' && t[i] != '=')
            ++i;
        TModernPiece piece{static_cast<std::uint32_t>(nb), static_cast<std::uint32_t>(i - nb), 0, 0, false};
        std::size_t j = i;
        while (j < n && IsHtmlSpace(t[j]))
            ++j;
        if (j < n && t[j] == '=') {
            ++j;
            while (j < n && IsHtmlSpace(t[j]))
                ++j;
            std::size_t vb = j, ve = j;
            if (j < n && (t[j] == '"' || t[j] == '\'')) {
                const char quote = t[j];
                vb = j + 1;
                const void* close = std::memchr(t + vb, quote, n - vb);
                ve = close ? static_cast<std::size_t>(static_cast<const char*>(close) - t) : n;
                j = close ? ve + 1 : n;
            } else {
                while (j < n && !IsHtmlSpace(t[j]))
                    ++j;
                ve = j;
            }
            piece.ValueBegin = static_cast<std::uint32_t>(vb);
            piece.ValueLength = static_cast<std::uint32_t>(ve - vb);
            piece.HasValue = true;
            i = j;
        }
        pieces.push_back(piece);
        namesLen += piece.NameLength;
        rawsLen += piece.NameLength + (piece.HasValue ? 1 + piece.ValueLength : 0);
    }

    const std::size_t count = pieces.size();
    char* raw = Reserve(Store, count, n, namesLen + rawsLen);
    if (n != 0)
        std::memcpy(raw, S.data(), n);
    THTMLParam* params = reinterpret_cast<THTMLParam*>(raw) - count;
    // The upper-case names, then each attribute's text as name "=" value.
    char* upper = raw + n;
    char* raws = upper + namesLen;
    UpperCopy(raw, nameLen, upper);
    char* out = upper + nameLen;
    for (std::size_t k = 0; k < count; ++k) {
        const TModernPiece& piece = pieces[k];
        char* r = raws;
        std::memcpy(r, t + piece.NameBegin, piece.NameLength);
        std::uint32_t len = piece.NameLength;
        if (piece.HasValue) {
            r[len++] = '=';
            if (piece.ValueLength != 0)
                std::memcpy(r + len, t + piece.ValueBegin, piece.ValueLength);
            len += piece.ValueLength;
        }
        raws += len;
        THTMLParam* p = new (params + k) THTMLParam;
        // The value is unquoted already: no second pair of quotes is taken off.
        p->fRaw = r;
        p->fRawLen = len;
        p->fNameLen = piece.NameLength | (piece.HasValue ? THTMLParam::kHasValue : 0);
        UpperCopy(r, piece.NameLength, out);
        p->fName = out;
        out += piece.NameLength;
    }
    fRaw = raw;
    fRawLen = n;
    fNameLen = static_cast<std::uint32_t>(nameLen);
    fParamCount = static_cast<std::uint32_t>(count);
    if (pieces.capacity() > 4096)
        std::vector<TModernPiece>().swap(pieces);
}

void THTMLText::DecodeText(std::string_view S, TNodeArena& Store)
{
    const std::uint32_t n = CheckedLength(S.size(), UINT32_MAX);
    char* buf = Store.AllocateChars(std::size_t{n} * 2);
    fRaw = buf;
    fRawLen = n;
    fTextLen = 0;
    if (n == 0)
        return;
    std::memcpy(buf, S.data(), n);

    // One pass: line feeds become spaces, runs of spaces one space, and
    // references are decoded from the text so normalised. A replacement is
    // never longer than its reference and is not scanned again.
    char* const t = buf + n;
    std::size_t w = 0;
    std::size_t refStart = 0;
    bool collecting = false;
    bool lastWasSpace = false; // of the normalised text, before decoding
    for (std::size_t i = 0; i < n; ++i) {
        char c = S[i];
        if (c == '\n')
            c = ' ';
        const bool space = c == ' ';
        if (c == '&') {
            refStart = w;
            collecting = true;
        } else if (collecting && (space || c == ';')) {
            // While collecting, the previous byte is no space: this one stays.
            t[w++] = c;
            lastWasSpace = space;
            collecting = false;
            int value = 0;
            if (ReferenceValue(std::string_view(t + refStart, w - refStart), value))
                w = refStart + PutCharacter(value, t + refStart);
            continue;
        }
        if (space && lastWasSpace) {
            // The rest of a run of blanks collapses into the space before it.
            i = SkipBlanks(S.data() + i, S.data() + n) - S.data() - 1;
            continue;
        }
        t[w++] = c;
        lastWasSpace = space;
    }
    fTextLen = static_cast<std::uint32_t>(w);
    // The unused end of the text's room goes back to the store.
    Store.ShrinkLast(buf, std::size_t{n} * 2, n + w);
}

// ---------------------------------------------------------------- parser

void THTMLParser::FlushText(std::string_view Text)
{
    TNodeArena& store = Nodes.Store();
    THTMLText* node = store.Make<THTMLText>();
    node->DecodeText(Text, store);
    Nodes.Add(node);
}

void THTMLParser::FlushText()
{
    FlushText(PendingText);
    PendingText.clear();
}

void THTMLParser::MakeTag(std::string_view Text)
{
    InTag = false;
    TNodeArena& store = Nodes.Store();
    THTMLTag* node = store.Make<THTMLTag>();
    node->ParseTag(Text, store, Modern);
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
        for (;;) {
            const char* q = FindAngle(p, end);
            const std::string_view run(p, static_cast<std::size_t>(q - p));
            if (InTag) {
                if (q == end) {
                    PendingTag.append(run);
                    break;
                }
                if (*q == '>' && PendingTag.empty()) {
                    MakeTag(run); // the whole tag lies in this line
                } else {
                    PendingTag.append(run); // a "<" inside a tag is dropped
                    if (*q == '>') {
                        MakeTag(PendingTag);
                        PendingTag.clear();
                    }
                }
            } else {
                if (q == end) {
                    PendingText.append(run);
                    break;
                }
                if (*q == '<') {
                    if (PendingText.empty()) {
                        if (!run.empty())
                            FlushText(run);
                    } else {
                        PendingText.append(run);
                        FlushText();
                    }
                    InTag = true;
                } else {
                    // A stray ">" makes a tag at once; the text around it is
                    // flushed later, behind that tag.
                    PendingText.append(run);
                    MakeTag({});
                }
            }
            p = q + 1;
        }
        if (!InTag && !PendingText.empty())
            PendingText.push_back('\n');
        else if (InTag && Modern && !PendingTag.empty())
            PendingTag.push_back('\n');
    }
    if (InTag && !PendingTag.empty()) {
        MakeTag(PendingTag);
        PendingTag.clear();
    }
    if (!InTag && !PendingText.empty())
        FlushText();
}
