// Names in the order a file manager shows them.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/NaturalOrder.h"

TEST(NaturalOrder, NumbersByValueLettersWithoutCase)
{
    const std::vector<std::string> sorted = {
        "01.jpg", "1.jpg", "2.jpg", "10.jpg", "Bild.jpg", "bild2.jpg", "bild10.jpg", "BILD11.jpg", "bild11a.jpg",
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
