// The program's icon inside the program: every size rendered from the SVG.
#include <QIcon>
#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>

#include "ui/ProgramIcon.h"

TEST(ProgramIcon, EverySizeIsThereAndDrawn)
{
    const QIcon icon = ProgramIcon();
    ASSERT_FALSE(icon.isNull()) << "the icon resource is not linked in";
    const QList<QSize> sizes = icon.availableSizes();
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        EXPECT_TRUE(sizes.contains(QSize(size, size))) << size;
        const QImage img = icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(img.size(), QSize(size, size)) << size;
        // Drawn, not blank: the lens's maroon and transparent background both occur.
        int maroon = 0, clear = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const QRgb p = img.pixel(x, y);
                if (qAlpha(p) == 0)
                    ++clear;
                else if (qAlpha(p) == 255 && qRed(p) >= 100 && qGreen(p) < 40 && qBlue(p) < 40)
                    ++maroon;
            }
        EXPECT_GT(maroon, 0) << size;
        EXPECT_GT(clear, 0) << size;
    }
}
