// Letter case the way every text of this program compares it: ASCII letters
// fold, every other byte (UTF-8 sequences, Windows-1252 letters) stays as it
// is. It sits below every layer (the client, the main window's Qt-free
// parts, the browser and the terminal front end all compare this way).
#pragma once

#include <string>
#include <string_view>

inline char UpperAsciiChar(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

inline char LowerAsciiChar(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string UpperAscii(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = UpperAsciiChar(c);
    return out;
}

inline std::string LowerAscii(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = LowerAsciiChar(c);
    return out;
}

// Whether a and b are the same text but for the case of ASCII letters.
inline bool SameTextAscii(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (UpperAsciiChar(a[i]) != UpperAsciiChar(b[i]))
            return false;
    return true;
}

inline bool StartsWithNoCase(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && SameTextAscii(s.substr(0, prefix.size()), prefix);
}
