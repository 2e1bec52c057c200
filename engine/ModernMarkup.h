// Picture addresses in the markup of today's pages, for the page scan's
// optional rules: responsive candidate lists (srcset), inline CSS
// backgrounds and addresses with a query or fragment. Purely textual; plain
// C++ without Qt.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The candidate a browser would take for the largest display from a srcset
// value: the greatest width descriptor ("800w"), else the greatest density
// descriptor ("2x"; a candidate without one counts as 1x), else the first.
// Ties keep the earlier candidate. Candidates are split as browsers split
// them: a URL runs up to white space (commas inside it stay, trailing commas
// end it), descriptors follow and end at a comma outside parentheses. A
// candidate with a descriptor that is not valid is dropped. Empty when no
// candidate is left.
std::string_view LargestSrcsetCandidate(std::string_view srcset);

// Every url(...) of the background and background-image declarations of an
// inline style, in order: quotes around the address are optional, blanks
// around it are dropped, property names ignore letter case. Empty addresses
// are left out.
std::vector<std::string_view> StyleBackgroundUrls(std::string_view style);

// The address without its query and fragment (from the first "?" or "#").
std::string_view WithoutQueryAndFragment(std::string_view address);

// What a stylesheet names: the addresses of its @import rules and of every
// other url(...) (pictures, fonts ...), in order, without quotes and outer
// blanks. Comments and quoted strings elsewhere are passed over; empty
// addresses are left out. Linear in the length of the text.
struct TStylesheetRefs {
    std::vector<std::string_view> Imports;
    std::vector<std::string_view> Urls;
};
TStylesheetRefs StylesheetRefs(std::string_view css);
