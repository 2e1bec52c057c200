// Windows-1252 <-> UTF-8 for the options file.
#include <string>

#include <gtest/gtest.h>

#include "app/Win1252.h"

TEST(Win1252, EveryByteRoundTrips)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    const std::string utf8 = Win1252ToUtf8(all);
    auto back = Utf8ToWin1252(utf8);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, all);
    EXPECT_EQ(Win1252ToUtf8("\x80"), "\xE2\x82\xAC");
    EXPECT_EQ(Win1252ToUtf8("B\xFClde"), "B\xC3\xBClde");
    EXPECT_EQ(Win1252ToUtf8("\x9F"), "\xC5\xB8");
}

TEST(Win1252, CharactersOutsideTheSetAndBrokenUtf8AreRefused)
{
    EXPECT_FALSE(Utf8ToWin1252("\xE6\x97\xA5"));          // CJK
    EXPECT_FALSE(Utf8ToWin1252("\xC2\x80"));              // U+0080 has no byte of its own
    EXPECT_FALSE(Utf8ToWin1252("\xF0\x9F\x98\x80"));      // outside the BMP
    EXPECT_FALSE(Utf8ToWin1252("\xC3"));                  // cut sequence
    EXPECT_FALSE(Utf8ToWin1252("\xC0\xAF"));              // overlong
    EXPECT_FALSE(Utf8ToWin1252("\xED\xA0\x80"));          // surrogate
    EXPECT_EQ(*Utf8ToWin1252("\xC5\x92"), "\x8C");        // OE ligature
    EXPECT_EQ(*Utf8ToWin1252(""), "");
}
