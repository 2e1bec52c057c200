// The spin edit: its value stays within its range whoever sets it, and
// OnChange hears every real change, the program's included.
#include <QSpinBox>

#include <gtest/gtest.h>

#include "ui/Form.h"
#include "ui/SpinEdit.h"

TEST(SpinEdit, ValueStaysInRangeAndChangesAreHeard)
{
    TForm f("Probe");
    auto* e = f.Make<TSpinEdit>(&f, "Edit");
    e->MinValue = 5;
    e->MaxValue = 9000;
    e->Increment = 10;
    e->Value = 100;
    std::vector<int> heard;
    e->OnChange = [&] { heard.push_back(e->Value()); };

    e->Value = 110;
    e->Value = 110;            // unchanged: not heard
    e->Value = 100000;         // clamped to the maximum
    e->Value = -3;             // and to the minimum
    EXPECT_EQ(heard, (std::vector<int>{110, 9000, 5}));
    EXPECT_EQ(e->Value(), 5);

    // The arrow keys step by the increment, and stop at the ends.
    e->Value = 8995;
    heard.clear();
    e->SpinBox()->stepUp();
    e->SpinBox()->stepUp();
    EXPECT_EQ(heard, (std::vector<int>{9000}));
    e->Value = 12;
    e->SpinBox()->stepDown();
    EXPECT_EQ(e->Value(), 5);

    // Narrowing the range pulls the value in, and that is a change too.
    e->Value = 80;
    heard.clear();
    e->MaxValue = 50;
    EXPECT_EQ(e->Value(), 50);
    EXPECT_EQ(heard, (std::vector<int>{50}));
}
