#include "engine/StreamLines.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The first CR, LF or NUL in [p, end), or end.
const char* FindBreakOrNul(const char* p, const char* end)
{
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i nul = _mm_setzero_si128();
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)), _mm_cmpeq_epi8(v, nul));
        const int mask = _mm_movemask_epi8(hit);
        if (mask != 0)
            return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    while (p < end && *p != '\r' && *p != '\n' && *p != '\0')
        ++p;
    return p;
}

} // namespace

void StreamToLines(TLineList& Lines, std::string_view Data)
{
    const char* p = Data.data();
    const char* const end = p + Data.size();
    Lines.Reserve(Data.size(), 0);
    while (p < end) {
        const char* q = FindBreakOrNul(p, end);
        const char* const textEnd = q;
        // After a NUL the line runs on to its break, but its text has ended.
        while (q < end && *q != '\r' && *q != '\n')
            q = FindBreakOrNul(q + 1, end);
        Lines.Add(std::string_view(p, static_cast<std::size_t>(textEnd - p)));
        if (q < end) {
            if (*q == '\r' && q + 1 < end && q[1] == '\n')
                ++q;
            ++q;
        }
        p = q;
    }
}
