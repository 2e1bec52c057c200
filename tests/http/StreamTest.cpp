// Body streams: a limited memory stream and the file stream that appears only when complete.
#include <filesystem>

#include <gtest/gtest.h>

#include "http/HttpStream.h"
#include "support/NetFixtures.h"

namespace {

TEST(BodyStream, MemoryStreamKeepsBytesAndHonoursLimit)
{
    TMemoryStream m(10);
    EXPECT_TRUE(m.Write("abc\0de", 6));
    EXPECT_FALSE(m.Write("12345", 5)); // would pass the limit: refused whole
    EXPECT_TRUE(m.Write("1234", 4));
    EXPECT_EQ(m.Data(), std::string("abc\0de1234", 10));
    EXPECT_EQ(m.Size(), 10);
    char buf[4];
    EXPECT_EQ(m.Read(buf, 4), 4u);
    EXPECT_EQ(std::string(buf, 4), "abc" + std::string(1, '\0'));
    m.SetPosition(8);
    EXPECT_EQ(m.Read(buf, 4), 2u);
    EXPECT_EQ(m.Read(buf, 4), 0u);
}

TEST(BodyStream, FileAppearsOnlyOnCommit)
{
    wltest::TTempDir dir;
    std::string target = dir.Path() + "/pic.jpg";
    {
        TFileStream f(target);
        EXPECT_TRUE(f.Write("partial", 7));
        EXPECT_FALSE(std::filesystem::exists(target));
        EXPECT_TRUE(std::filesystem::exists(f.TempPath()));
    } // no Commit: nothing left behind
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));

    TFileStream f(target);
    EXPECT_TRUE(f.Write("whole", 5));
    EXPECT_TRUE(f.Commit());
    EXPECT_EQ(wltest::ReadFile(target), "whole");
    EXPECT_EQ(f.Size(), 5);
    EXPECT_FALSE(f.Write("more", 4)); // committed: closed for writing
}

TEST(BodyStream, CommitNeverOverwritesUnlessAsked)
{
    wltest::TTempDir dir;
    std::string target = dir.WriteFile("pic.jpg", "user's file");
    TFileStream f(target);
    f.Write("new", 3);
    EXPECT_FALSE(f.Commit());
    EXPECT_EQ(f.ErrorText(), "file exists");
    EXPECT_EQ(wltest::ReadFile(target), "user's file");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);

    TFileStream g(target);
    g.Write("new", 3);
    EXPECT_TRUE(g.Commit(true));
    EXPECT_EQ(wltest::ReadFile(target), "new");
}

TEST(BodyStream, FileStreamInMissingFolderThrows)
{
    EXPECT_THROW(TFileStream("/nonexistent-folder-wl/x.gif"), EStreamError);
    EXPECT_THROW(TFileStream("/tmp/"), EStreamError);
}

}  // namespace
