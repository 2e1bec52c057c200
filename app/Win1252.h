// Windows-1252 <-> UTF-8 for the files whose layout fixes the single-byte set.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Every byte has a character: the five bytes Windows-1252 leaves undefined
// (81, 8D, 8F, 90, 9D) become the control characters U+0081 ... U+009D, so any
// file reads and writes back unchanged.
std::string Win1252ToUtf8(std::string_view bytes);
// None when text holds a character Windows-1252 cannot hold, or is not valid UTF-8.
std::optional<std::string> Utf8ToWin1252(std::string_view text);
