// Name order as file managers show it: runs of digits compare by their value
// (bild2 before bild10), ASCII letters without regard to case, other bytes
// by value. Names equal under these rules fall back to plain byte order, so
// the order is total and the same on every run.
#pragma once

#include <string>

bool NaturalLess(const std::string& a, const std::string& b);
