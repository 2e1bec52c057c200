// Names in the order a file manager shows them.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/NaturalOrder.h"

TEST(NaturalOrder, NumbersByValueLettersWithoutCase)
{
    const std::vector<std::string> sorted = {
        "1.jpg", "01.jpg", "2.jpg", "10.jpg", "Bild.jpg", "bild2.jpg", "bild10.jpg", "BILD11.jpg", "bild11a.jpg",
        "bild100000000000000000000001.jpg", "bild100000000000000000000002.jpg", "z.jpg", "\xc3\xa4.jpg",
    };
    for (size_t i = 0; i < sorted.size(); ++i)
        for (size_t j = 0; j < sorted.size(); ++j) {
            const int c = NaturalCompare(sorted[i], sorted[j]);
            EXPECT_EQ(c < 0, i < j) << sorted[i] << " / " << sorted[j];
            EXPECT_EQ(c == 0, i == j) << sorted[i] << " / " << sorted[j];
        }
    // Equal but for case: still a fixed order, both ways round.
    EXPECT_LT(NaturalCompare("Bild.jpg", "bild.jpg"), 0);
    EXPECT_GT(NaturalCompare("bild.jpg", "Bild.jpg"), 0);
    EXPECT_LT(NaturalCompare("bild", "bild1"), 0);
    EXPECT_EQ(NaturalCompare("", ""), 0);
}

TEST(NaturalOrder, GridOrderFewerLeadingZerosFirstAndATotalOrder)
{
    std::vector<std::string> names = {"bild10.jpg", "Bild2.jpg", "bild1.jpg", "bild02.jpg", "a.png", "B.png",
                                      "bild.jpg",   "bild2a.jpg", "bild2.JPG", "x99999999999999999999999.gif",
                                      "x100000000000000000000000.gif", "ä.png", "z.png", "_a.png", "10", "9"};
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return NaturalLess(a, b); });
    EXPECT_EQ(names, (std::vector<std::string>{"9", "10", "_a.png", "a.png", "B.png", "bild.jpg", "bild1.jpg",
                                               "Bild2.jpg", "bild2.JPG", "bild02.jpg", "bild2a.jpg", "bild10.jpg",
                                               "x99999999999999999999999.gif", "x100000000000000000000000.gif",
                                               "z.png", "ä.png"}));
    // A strict weak order: irreflexive, and names equal but for case or zeros still differ.
    for (const std::string& a : names) {
        EXPECT_FALSE(NaturalLess(a, a)) << a;
        for (const std::string& b : names) {
            if (a != b)
                EXPECT_NE(NaturalLess(a, b), NaturalLess(b, a)) << a << " " << b;
        }
    }
    EXPECT_TRUE(NaturalLess("", "a"));
    EXPECT_TRUE(NaturalLess("a", "a0"));
    EXPECT_TRUE(NaturalLess("a0", "a00"));
}
