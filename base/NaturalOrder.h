// Names in the order a file manager shows them: runs of digits compare by
// their number (bild2 before bild10), ASCII letters without regard to case.
// The browser's grid and the viewer's paging share it.
#pragma once

#include <string_view>

// Negative, 0 or positive as a sorts before, with or after b. Names equal
// but for case or leading zeros are ordered by their bytes, so the order is
// total and the same on every run.
int NaturalCompare(std::string_view a, std::string_view b);

inline bool NaturalLess(std::string_view a, std::string_view b)
{
    return NaturalCompare(a, b) < 0;
}
