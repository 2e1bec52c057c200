// Candidate lists, inline backgrounds and addresses with a query, as the
// page scan's optional rules read them.
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "engine/ModernMarkup.h"

namespace {

std::string Largest(std::string_view s)
{
    return std::string(LargestSrcsetCandidate(s));
}

std::vector<std::string> Backgrounds(std::string_view style)
{
    std::vector<std::string> out;
    for (std::string_view u : StyleBackgroundUrls(style))
        out.emplace_back(u);
    return out;
}

} // namespace

TEST(Srcset, WidthBeatsDensityAndTheGreatestWins)
{
    EXPECT_EQ(Largest("a.jpg 480w, b.jpg 1080w, c.jpg 800w"), "b.jpg");
    EXPECT_EQ(Largest("a.jpg 1x, b.jpg 3x, c.jpg 2x"), "b.jpg");
    EXPECT_EQ(Largest("a.jpg 1.5x, b.jpg 1.25x"), "a.jpg");
    EXPECT_EQ(Largest("a.jpg, b.jpg 2x"), "b.jpg") << "no descriptor counts as 1x";
    EXPECT_EQ(Largest("a.jpg 3x, b.jpg 200w"), "b.jpg");
    EXPECT_EQ(Largest("a.jpg, b.jpg"), "a.jpg");
    EXPECT_EQ(Largest("a.jpg 800w, b.jpg 800w"), "a.jpg") << "a tie keeps the first";
    EXPECT_EQ(Largest("single.jpg"), "single.jpg");
    EXPECT_EQ(Largest("  \n a.jpg\t640w ,\n\tb.jpg 1280w  "), "b.jpg");
    EXPECT_EQ(Largest("a.jpg 400w 300h, b.jpg 100w"), "a.jpg");
}

TEST(Srcset, CommasInsideUrlsAndTrailingCommas)
{
    EXPECT_EQ(Largest("https://cdn.d/w_400,h_300/a.jpg 400w, https://cdn.d/w_800,h_600/a.jpg 800w"),
              "https://cdn.d/w_800,h_600/a.jpg");
    // A URL ending in commas ends its candidate there.
    EXPECT_EQ(Largest("a.jpg,b.jpg 2x"), "a.jpg,b.jpg") << "a URL runs up to the blank";
    EXPECT_EQ(Largest("a.jpg,, b.jpg 2x"), "b.jpg");
    EXPECT_EQ(Largest("data:image/gif;base64,R0lGOD 1x, real.jpg 2x"), "real.jpg");
    EXPECT_EQ(Largest(",,, ,"), "");
    EXPECT_EQ(Largest(""), "");
}

TEST(Srcset, BrokenDescriptorsDropTheirCandidate)
{
    EXPECT_EQ(Largest("a.jpg 100w, b.jpg 9999q, c.jpg 50w"), "a.jpg");
    EXPECT_EQ(Largest("a.jpg 0w, b.jpg 10w"), "b.jpg") << "a width of zero is invalid";
    EXPECT_EQ(Largest("a.jpg -2x, b.jpg 1x"), "b.jpg");
    EXPECT_EQ(Largest("a.jpg 2x 3x, b.jpg 1x"), "b.jpg") << "two densities";
    EXPECT_EQ(Largest("a.jpg 100w 2x, b.jpg 10w"), "b.jpg") << "width and density";
    EXPECT_EQ(Largest("a.jpg 300h, b.jpg 1x"), "b.jpg") << "a height needs a width";
    EXPECT_EQ(Largest("a.jpg 1.x, b.jpg 1e1x, c.jpg 2x"), "b.jpg");
    EXPECT_EQ(Largest("a.jpg 2x (bad, b.jpg 1x"), "") << "an unclosed parenthesis swallows the rest";
    EXPECT_EQ(Largest("a.jpg 99999999999999999999999w, b.jpg 10w"), "a.jpg");
    EXPECT_EQ(Largest("bad.jpg 12ww"), "");
}

TEST(StyleBackgrounds, UrlsOfBackgroundDeclarationsOnly)
{
    EXPECT_EQ(Backgrounds("background-image: url('a.jpg')"), (std::vector<std::string>{"a.jpg"}));
    EXPECT_EQ(Backgrounds("BACKGROUND:#fff URL( \"b.jpg\" ) no-repeat; color:red"),
              (std::vector<std::string>{"b.jpg"}));
    EXPECT_EQ(Backgrounds("background-image:url(c.jpg), url(  d.png  )"),
              (std::vector<std::string>{"c.jpg", "d.png"}));
    EXPECT_EQ(Backgrounds("border-image: url(e.png); list-style: url(f.png); background-color: red"),
              (std::vector<std::string>{}));
    // A ";" inside a quoted address does not end the declaration.
    EXPECT_EQ(Backgrounds("background: url('g;h.jpg'); background-image: url(i.jpg)"),
              (std::vector<std::string>{"g;h.jpg", "i.jpg"}));
    // Broken or empty forms give nothing and never read past the text.
    EXPECT_EQ(Backgrounds("background: url("), (std::vector<std::string>{}));
    EXPECT_EQ(Backgrounds("background: url('x.jpg"), (std::vector<std::string>{}));
    EXPECT_EQ(Backgrounds("background: url()"), (std::vector<std::string>{}));
    EXPECT_EQ(Backgrounds("background: url('j.jpg'"), (std::vector<std::string>{"j.jpg"}));
    EXPECT_EQ(Backgrounds(";;:background"), (std::vector<std::string>{}));
}

TEST(StyleBackgrounds, QueryAndFragmentAreCutForTheTypeTestOnly)
{
    EXPECT_EQ(WithoutQueryAndFragment("pic.jpg?v=2"), "pic.jpg");
    EXPECT_EQ(WithoutQueryAndFragment("pic.jpg#zoom"), "pic.jpg");
    EXPECT_EQ(WithoutQueryAndFragment("a/b.png#x?y"), "a/b.png");
    EXPECT_EQ(WithoutQueryAndFragment("plain.gif"), "plain.gif");
    EXPECT_EQ(WithoutQueryAndFragment("?only"), "");
}
