// The window program's command line: the start address, --version, --help
// and what is refused.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/StartArgs.h"

namespace {

using V = std::vector<std::string>;

TEST(StartArgs, OneWordIsTheStartAddressAsGiven)
{
    EXPECT_FALSE(ParseStartArgs({}).StartAddress);
    EXPECT_TRUE(ParseStartArgs({}).Error.empty());

    const TStartArgs a = ParseStartArgs({"https://example.com/a b?x=1#f"});
    ASSERT_TRUE(a.StartAddress);
    EXPECT_EQ(*a.StartAddress, "https://example.com/a b?x=1#f");
    EXPECT_TRUE(a.Error.empty());

    // Not checked or completed here: the field takes what a user could type.
    EXPECT_EQ(ParseStartArgs({"example.com"}).StartAddress.value_or("?"), "example.com");
    // A lone dash is no option.
    EXPECT_EQ(ParseStartArgs({"-"}).StartAddress.value_or("?"), "-");
    // After "--" a word that begins with a dash is the address too.
    const TStartArgs dashed = ParseStartArgs({"--", "--version"});
    EXPECT_FALSE(dashed.Version);
    EXPECT_EQ(dashed.StartAddress.value_or("?"), "--version");
}

TEST(StartArgs, VersionAndHelpAreSeenWhereverTheyStand)
{
    EXPECT_TRUE(ParseStartArgs({"--version"}).Version);
    EXPECT_TRUE(ParseStartArgs({"http://h.d/", "--version"}).Version);
    EXPECT_TRUE(ParseStartArgs({"-h"}).Help);
    EXPECT_TRUE(ParseStartArgs({"--help"}).Help);
    // Also behind a word the program does not know, which may be Qt's
    // (-platform offscreen): the line is read before Qt takes its options.
    const TStartArgs mixed = ParseStartArgs({"-platform", "offscreen", "--version"});
    EXPECT_TRUE(mixed.Version);
    EXPECT_FALSE(mixed.Error.empty());
    EXPECT_FALSE(ParseStartArgs({"--versions"}).Version);
}

TEST(StartArgs, RefusedLinesSayWhy)
{
    const struct {
        V args;
        const char* error;
    } cases[] = {
        {{"http://a.d/", "http://b.d/"}, "only one web address may be given"},
        {{""}, "the web address is empty"},
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"-x", "http://a.d/"}, "unknown option '-x'"},
        // The first problem is the one told.
        {{"-x", "a", "b"}, "unknown option '-x'"},
    };
    for (const auto& c : cases) {
        const TStartArgs r = ParseStartArgs(c.args);
        EXPECT_EQ(r.Error, c.error) << ::testing::PrintToString(c.args);
    }
    EXPECT_FALSE(ParseStartArgs({"a", "b"}).StartAddress);
}

} // namespace
