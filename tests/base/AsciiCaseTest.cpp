// Letter case as every comparison of the program folds it: ASCII letters
// only, every other byte exactly.
#include <gtest/gtest.h>

#include "base/AsciiCase.h"

TEST(AsciiCase, FoldsAsciiLettersOnlyAndKeepsEveryOtherByte)
{
    // The neighbours of the letter ranges, UTF-8 "ä" (C3 A4), Windows-1252
    // "ä" (E4) and a NUL stay as they are.
    const std::string mixed = std::string("@AZ[`az{ \xC3\xA4\xE4", 12) + std::string(1, '\0') + "x";
    EXPECT_EQ(UpperAscii(mixed), std::string("@AZ[`AZ{ \xC3\xA4\xE4", 12) + std::string(1, '\0') + "X");
    EXPECT_EQ(LowerAscii(mixed), std::string("@az[`az{ \xC3\xA4\xE4", 12) + std::string(1, '\0') + "x");
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        const bool letter = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z');
        EXPECT_EQ(UpperAsciiChar(c) != c || LowerAsciiChar(c) != c, letter) << b;
    }
}

TEST(AsciiCase, CaseFreeComparisonAndPrefix)
{
    EXPECT_TRUE(SameTextAscii("Content-Length", "content-length"));
    EXPECT_TRUE(SameTextAscii("", ""));
    EXPECT_FALSE(SameTextAscii("content-length", "content-lengt"));
    EXPECT_FALSE(SameTextAscii("\xC3\x84", "\xC3\xA4")) << "UTF-8 Ä and ä differ";
    EXPECT_FALSE(SameTextAscii("[", "{")) << "0x5B and 0x7B are no letters";
    EXPECT_TRUE(StartsWithNoCase("HTTP://h.d/", "http:"));
    EXPECT_TRUE(StartsWithNoCase("mailto:x", ""));
    EXPECT_FALSE(StartsWithNoCase("htt", "http:"));
    EXPECT_FALSE(StartsWithNoCase("https://h.d/", "http:"));
}
