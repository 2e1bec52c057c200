// Name order as a file manager shows it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "browser/NaturalOrder.h"

TEST(NaturalOrder, NumbersByValueLettersWithoutCaseAndATotalOrder)
{
    std::vector<std::string> names = {"bild10.jpg", "Bild2.jpg", "bild1.jpg", "bild02.jpg", "a.png", "B.png",
                                      "bild.jpg",   "bild2a.jpg", "bild2.JPG", "x99999999999999999999999.gif",
                                      "x100000000000000000000000.gif", "ä.png", "z.png", "_a.png", "10", "9"};
    std::sort(names.begin(), names.end(), NaturalLess);
    EXPECT_EQ(names, (std::vector<std::string>{"9", "10", "_a.png", "a.png", "B.png", "bild.jpg", "bild1.jpg",
                                               "Bild2.jpg", "bild2.JPG", "bild02.jpg", "bild2a.jpg", "bild10.jpg",
                                               "x99999999999999999999999.gif", "x100000000000000000000000.gif",
                                               "z.png", "ä.png"}));
    // A strict weak order: irreflexive, and names equal but for case or zeros still differ.
    for (const std::string& a : names) {
        EXPECT_FALSE(NaturalLess(a, a)) << a;
        for (const std::string& b : names)
            if (a != b)
                EXPECT_NE(NaturalLess(a, b), NaturalLess(b, a)) << a << " " << b;
    }
    EXPECT_TRUE(NaturalLess("", "a"));
    EXPECT_TRUE(NaturalLess("a", "a0"));
    EXPECT_TRUE(NaturalLess("a0", "a00"));
}
