#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/StreamLines.h"

namespace {

std::vector<std::string> Split(std::string_view data)
{
    TLineList lines;
    StreamToLines(lines, data);
    std::vector<std::string> out;
    for (std::string_view line : lines)
        out.emplace_back(line);
    return out;
}

using V = std::vector<std::string>;

TEST(StreamToLines, BreaksOfAllKinds)
{
    EXPECT_EQ(Split("a\nb"), (V{"a", "b"}));
    EXPECT_EQ(Split("a\rb"), (V{"a", "b"}));
    EXPECT_EQ(Split("a\r\nb"), (V{"a", "b"}));
    // LF CR is two breaks with an empty line between.
    EXPECT_EQ(Split("a\n\rb"), (V{"a", "", "b"}));
    EXPECT_EQ(Split("a\r\rb"), (V{"a", "", "b"}));
    EXPECT_EQ(Split("a\r\n\r\nb"), (V{"a", "", "b"}));
    EXPECT_EQ(Split("\na"), (V{"", "a"}));
}

TEST(StreamToLines, EndOfData)
{
    EXPECT_EQ(Split(""), V{});
    EXPECT_EQ(Split("a"), (V{"a"}));
    EXPECT_EQ(Split("a\n"), (V{"a"}));
    EXPECT_EQ(Split("a\r\n"), (V{"a"}));
    EXPECT_EQ(Split("a\r"), (V{"a"}));
    EXPECT_EQ(Split("a\n\n"), (V{"a", ""}));
    EXPECT_EQ(Split("\n"), (V{""}));
    EXPECT_EQ(Split("\r\n"), (V{""}));
    EXPECT_EQ(Split("a \t"), (V{"a \t"}));
}

TEST(StreamToLines, NulEndsTheLineText)
{
    using namespace std::string_literals;
    EXPECT_EQ(Split("ab\0cd\nef"s), (V{"ab", "ef"}));
    EXPECT_EQ(Split("\0\0\r\nx"s), (V{"", "x"}));
    EXPECT_EQ(Split("x\0\0"s), (V{"x"}));
    // Bytes above 127 are kept as they are.
    EXPECT_EQ(Split("\xC3\xA9\xFF\n"), (V{"\xC3\xA9\xFF"}));
}

TEST(StreamToLines, AppendsToTheList)
{
    TLineList lines;
    StreamToLines(lines, "a\nb");
    StreamToLines(lines, "c");
    ASSERT_EQ(lines.Count(), 3u);
    EXPECT_EQ(lines[0], "a");
    EXPECT_EQ(lines[1], "b");
    EXPECT_EQ(lines[2], "c");
    lines.Clear();
    EXPECT_TRUE(lines.Empty());
    EXPECT_EQ(lines.TextSize(), 0u);
}

TEST(StreamToLines, ManyShortLines)
{
    std::string data;
    for (int i = 0; i < 100000; ++i)
        data += i % 2 ? "x\r\n" : "y\n";
    TLineList lines;
    StreamToLines(lines, data);
    ASSERT_EQ(lines.Count(), 100000u);
    EXPECT_EQ(lines[0], "y");
    EXPECT_EQ(lines[99999], "x");
    EXPECT_EQ(lines.TextSize(), 100000u);
}

} // namespace
