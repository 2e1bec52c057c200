// Where the program's files live.
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "ProgramInfo.h"
#include "ui/Settings.h"

namespace fs = std::filesystem;

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

TEST(Places, AnInstalledProgramKeepsItsOptionsInTheConfigFolder)
{
    std::string t = (fs::temp_directory_path() / "wl-places-XXXXXX").string();
    const fs::path root = ::mkdtemp(t.data());
    const std::string oldXdg = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
    ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);

    // An installation as DESTDIR or the package lays it out, writable (as to root).
    const std::string bin = (root / "usr" / "bin").string() + "/";
    fs::create_directories(bin);
    // An options.dat beside the program (left by an older version) is not taken either.
    std::ofstream(bin + "options.dat") << "x";
    EXPECT_FALSE(ProgramIsInstalled(bin)) << "no desktop entry yet: a build folder";
    EXPECT_EQ(OptionsFolderForWriting(bin), bin);

    fs::create_directories(root / "usr" / "share" / "applications");
    std::ofstream((root / "usr" / "share" / "applications" / (std::string(kDesktopId) + ".desktop")).string())
        << "[Desktop Entry]\n";
    EXPECT_TRUE(ProgramIsInstalled(bin));
    EXPECT_TRUE(ProgramIsInstalled(root.string() + "/usr/bin")) << "with or without the trailing slash";
    EXPECT_EQ(OptionsFolderForWriting(bin), UserConfigDir());
    EXPECT_EQ(OptionsFolderForReading(bin), UserConfigDir());
    // Another program's entry does not make ours installed.
    const std::string other = (root / "opt" / "bin").string() + "/";
    fs::create_directories(other);
    fs::create_directories(root / "opt" / "share" / "applications");
    std::ofstream((root / "opt" / "share" / "applications" / "org.example.Other.desktop").string()) << "";
    EXPECT_FALSE(ProgramIsInstalled(other));

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
