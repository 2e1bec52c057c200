#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "engine/WantedPictures.h"

namespace fs = std::filesystem;

namespace {

TEST(ThumbnailLinks, InlinePicturesInsideAPictureLinkOnly)
{
    TThumbnailLinks links;
    EXPECT_FALSE(links.InsidePictureLink());
    links.Tag("A", true);  // <a href="big.jpg">
    links.Tag("SPAN");
    EXPECT_TRUE(links.InsidePictureLink());
    links.Tag("IMG");
    EXPECT_TRUE(links.InsidePictureLink());
    links.Tag("/A");
    EXPECT_FALSE(links.InsidePictureLink());
    // A link to a page wraps no thumbnail; a new link ends an unclosed one.
    links.Tag("A", false);
    EXPECT_FALSE(links.InsidePictureLink());
    links.Tag("A", true);
    links.Tag("A", false);
    EXPECT_FALSE(links.InsidePictureLink());
    // AREA and LINK never open one; a new page starts outside.
    links.Tag("AREA", true);
    links.Tag("LINK", true);
    EXPECT_FALSE(links.InsidePictureLink());
    links.Tag("A", true);
    links.Reset();
    EXPECT_FALSE(links.InsidePictureLink());
}

TEST(MinSizeGate, DecidesFromTheHeaderAsBytesArrive)
{
    // A GIF of 120 x 90, fed one byte at a time: undecided until byte 10.
    const unsigned char gif[] = {'G', 'I', 'F', '8', '9', 'a', 120, 0, 90, 0, 0, 0};
    TMinSizeGate small(400, 400);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(small.Feed(gif + i, 1), TMinSizeGate::TVerdict::Undecided);
    EXPECT_EQ(small.Feed(gif + 9, 3), TMinSizeGate::TVerdict::TooSmall);
    EXPECT_EQ(small.Width(), 120u);
    EXPECT_EQ(small.Height(), 90u);
    // Only one side needs to be below its minimum; equal is large enough.
    EXPECT_EQ(TMinSizeGate(100, 91).Feed(gif, sizeof gif), TMinSizeGate::TVerdict::TooSmall);
    EXPECT_EQ(TMinSizeGate(120, 90).Feed(gif, sizeof gif), TMinSizeGate::TVerdict::Keep);
    EXPECT_EQ(TMinSizeGate(0, 0).Feed(gif, 1), TMinSizeGate::TVerdict::Keep);
    // An unknown type is kept, and so is a header that never ends.
    EXPECT_EQ(TMinSizeGate(400, 400).Feed("<html>", 6), TMinSizeGate::TVerdict::Keep);
    TMinSizeGate endless(400, 400);
    const std::string tiff = std::string("MM\0*\x7F\0\0\0", 8) + std::string(64 * 1024, '\0');
    TMinSizeGate::TVerdict verdict = TMinSizeGate::TVerdict::Undecided;
    for (int i = 0; i < 8 && verdict == TMinSizeGate::TVerdict::Undecided; ++i)
        verdict = endless.Feed(tiff.data(), tiff.size());
    EXPECT_EQ(verdict, TMinSizeGate::TVerdict::Keep);
}

class DuplicateIndexTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("wl-dups-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "target");
        fs::create_directories(dir_ / "incoming");
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path Write(const fs::path& path, const std::string& bytes)
    {
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    fs::path dir_;
};

TEST_F(DuplicateIndexTest, ByContentAcrossNamesAndAgainstTheFolder)
{
    const fs::path target = dir_ / "target";
    Write(target / "old.jpg", "AAAA-picture-one");
    Write(target / "same-size.jpg", "BBBB-picture-one");
    Write(target / "other.jpg", "something of another size");
    fs::create_directories(target / "sub.jpg");

    TDuplicateIndex index;
    // Equal bytes under another name: found by content, not by name.
    EXPECT_EQ(index.FindEqual(target, Write(dir_ / "incoming" / "new.jpg", "AAAA-picture-one")), "old.jpg");
    // Same size, other bytes: no duplicate.
    EXPECT_EQ(index.FindEqual(target, Write(dir_ / "incoming" / "x.jpg", "CCCC-picture-one")), "");
    // Both files of that size in the folder once, and each arrival once.
    EXPECT_EQ(index.HashesComputed(), 4u);
    // A file saved in this run (written straight into the folder) counts too,
    // and is never its own duplicate.
    const fs::path kept = Write(target / "kept.png", "a picture kept in this run");
    EXPECT_EQ(index.FindEqual(target, kept), "");
    index.Kept(target, "kept.png");
    EXPECT_EQ(index.FindEqual(target, Write(target / "kept0.png", "a picture kept in this run")), "kept.png");
    // The folder's hashes are computed once: asking again hashes only the newcomer.
    const std::size_t before = index.HashesComputed();
    EXPECT_EQ(index.FindEqual(target, Write(dir_ / "incoming" / "y.jpg", "BBBB-picture-one")), "same-size.jpg");
    EXPECT_EQ(index.HashesComputed(), before + 1);
    // An empty or missing file, an unreadable folder: no false duplicate.
    EXPECT_EQ(index.FindEqual(target, dir_ / "incoming" / "missing.jpg"), "");
    EXPECT_EQ(index.FindEqual(dir_ / "nowhere", Write(dir_ / "incoming" / "z.jpg", "AAAA-picture-one")), "");
}

}  // namespace
