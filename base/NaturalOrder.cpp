#include "base/NaturalOrder.h"

namespace {

bool IsDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

// To lower case, so "_" and the other signs between the two letter blocks
// come before the letters, as file managers show them.
unsigned char Fold(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// <0, 0 or >0 by the natural rules alone.
int NaturalRules(std::string_view a, std::string_view b)
{
    size_t i = 0, j = 0;
    int zeros = 0;  // the first difference in leading zeros, for names otherwise equal
    while (i < a.size() && j < b.size()) {
        const auto ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[j]);
        if (IsDigit(ca) && IsDigit(cb)) {
            // Leading zeros carry no value; the longer run of significant
            // digits is the larger number, whatever its length (no overflow).
            size_t za = i, zb = j;
            while (za < a.size() && a[za] == '0')
                ++za;
            while (zb < b.size() && b[zb] == '0')
                ++zb;
            size_t ea = za, eb = zb;
            while (ea < a.size() && IsDigit(static_cast<unsigned char>(a[ea])))
                ++ea;
            while (eb < b.size() && IsDigit(static_cast<unsigned char>(b[eb])))
                ++eb;
            if (ea - za != eb - zb)
                return ea - za < eb - zb ? -1 : 1;
            for (size_t k = 0; k < ea - za; ++k)
                if (a[za + k] != b[zb + k])
                    return static_cast<unsigned char>(a[za + k]) < static_cast<unsigned char>(b[zb + k]) ? -1 : 1;
            // The same value: fewer leading zeros first (bild2 before bild02),
            // but only when nothing later tells the names apart.
            if (zeros == 0 && za - i != zb - j)
                zeros = za - i < zb - j ? -1 : 1;
            i = ea;
            j = eb;
            continue;
        }
        const unsigned char fa = Fold(ca), fb = Fold(cb);
        if (fa != fb)
            return fa < fb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return zeros;
}

}  // namespace

int NaturalCompare(std::string_view a, std::string_view b)
{
    const int c = NaturalRules(a, b);
    if (c != 0)
        return c;
    const int bytes = a.compare(b);
    return bytes < 0 ? -1 : bytes > 0 ? 1 : 0;
}
