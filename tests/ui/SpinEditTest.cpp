// The spin edit: its value stays within its range whoever sets it, and
// OnChange hears every real change, the program's included.
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
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

namespace {

void Type(QWidget* w, const QString& text)
{
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(w, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(w, &release);
    }
}

} // namespace

TEST(SpinEdit, TypedValuesAreHeardAndCannotLeaveTheRange)
{
    TForm f("Probe");
    auto* e = f.Make<TSpinEdit>(&f, "Edit");
    e->MinValue = 1;
    e->MaxValue = 100;
    e->Value = 50;
    int changes = 0;
    e->OnChange = [&] { ++changes; };
    QLineEdit* line = e->SpinBox()->findChild<QLineEdit*>();
    ASSERT_NE(line, nullptr);
    line->selectAll();
    Type(e->SpinBox(), "75");
    EXPECT_EQ(e->Value(), 75);
    EXPECT_GE(changes, 1);
    // A third digit would leave the range: the edit refuses it.
    Type(e->SpinBox(), "5");
    EXPECT_EQ(e->Value(), 75);
    line->selectAll();
    Type(e->SpinBox(), "-");
    EXPECT_GE(e->Value(), 1);
}
