// Windows-1252 conversion and where the options file lives.
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "ui/Settings.h"
#include "ui/Win1252.h"

namespace fs = std::filesystem;

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

TEST(Places, OptionsFallBackToTheConfigFolderWhenTheProgramFolderIsNotWritable)
{
    std::string t = (fs::temp_directory_path() / "wl-places-XXXXXX").string();
    const fs::path root = ::mkdtemp(t.data());
    const std::string oldXdg = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
    ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);

    const std::string program = root.string() + "/";
    EXPECT_EQ(OptionsFolderForWriting(program), program);
    EXPECT_EQ(OptionsFolderForReading(program), program);

    // A folder that cannot be written to (here: one that does not exist; the
    // tests may run as root, for whom permission bits do not stop writing).
    const std::string gone = (root / "gone").string() + "/";
    EXPECT_FALSE(DirWritable(gone));
    EXPECT_EQ(UserConfigDir(), (root / "config").string() + "/Quenbrik/");
    EXPECT_EQ(OptionsFolderForWriting(gone), UserConfigDir());
    EXPECT_TRUE(fs::is_directory(UserConfigDir())) << "created on demand";
    EXPECT_EQ(OptionsFolderForReading(gone), UserConfigDir());

    if (oldXdg.empty())
        ::unsetenv("XDG_CONFIG_HOME");
    else
        ::setenv("XDG_CONFIG_HOME", oldXdg.c_str(), 1);
    fs::remove_all(root);
}

TEST(Places, ExecutableDirAndDelimiter)
{
    const std::string dir = ExecutableDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    EXPECT_TRUE(fs::is_directory(dir));
    EXPECT_EQ(IncludeTrailingDelimiter("/a"), "/a/");
    EXPECT_EQ(IncludeTrailingDelimiter("/a/"), "/a/");
}
