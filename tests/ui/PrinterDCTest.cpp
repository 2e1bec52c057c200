// The QPainter device context and the raster hooks: pictures drawn through
// DrawDibScaled onto a QImage and into a PDF printer, messages to the responder.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <QImage>
#include <QPainter>
#include <QPrinter>

#include "raster/DibDraw.h"
#include "raster/Rasterwerk.h"
#include "ui/PrinterDC.h"
#include "ui/ScreenDepth.h"
#include "ui/ScriptedResponder.h"

using namespace raster;

namespace {

DibHandle Picture(int bits)
{
    BITMAPINFO table;
    for (int i = 0; i < 16; ++i)
        table.bmiColors[i] = RGBQUAD{uint8_t(i * 16), uint8_t(200 - i * 8), uint8_t(255 - i * 16), 0};
    DibHandle d;
    newdib(d, 3, 2, bits, bits <= 8 ? &table : nullptr, bits <= 8 ? 1 << bits : 0);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x)
            setpixel(d, x, y, bits == 24 ? uint32_t(0x102030 * (x + 3 * y + 1)) : uint32_t(x + 3 * y));
    return d;
}

uint32_t Shown(const DibHandle& d, int32_t x, int32_t storedRow)
{
    const uint32_t v = getpixel(d, x, storedRow);
    if (d.Info->bmiHeader.biBitCount == 24)
        return v;
    const RGBQUAD& c = d.Info->bmiColors[v];
    return (uint32_t(c.rgbRed) << 16) | (uint32_t(c.rgbGreen) << 8) | c.rgbBlue;
}

}  // namespace

TEST(PrinterDC, StretchesPicturesOfEveryDepthOntoThePainter)
{
    for (int bits : {4, 8, 24}) {
        DibHandle pic = Picture(bits);
        QImage page(60, 40, QImage::Format_RGB32);
        page.fill(Qt::black);
        {
            QPainter painter(&page);
            TPrinterDC dc(painter);
            EXPECT_EQ(dc.GetDeviceCaps(TECHNOLOGY), DT_RASPRINTER);
            DrawDibScaled(dc, 0, 0, 60, 40, pic, 0, 0, 3, 2, true, SRCCOPY, true, nullptr);
        }
        // Block centres: 20 x 20 device pixels per source pixel, top row = stored row 1.
        for (int32_t y = 0; y < 2; ++y)
            for (int32_t x = 0; x < 3; ++x)
                EXPECT_EQ(page.pixel(20 * x + 10, 20 * y + 10) & 0xFFFFFF, Shown(pic, x, 1 - y))
                    << bits << " bits, block " << x << "," << y;
        deldib(pic);
    }
}

TEST(PrinterDC, PrintsIntoAPdfFile)
{
    const std::string path = "/tmp/wl_printerdc_" + std::to_string(getpid()) + ".pdf";
    DibHandle pic = Picture(24);
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(path));
        QPainter painter;
        ASSERT_TRUE(painter.begin(&printer));
        TPrinterDC dc(painter);
        const Rect clip = dc.GetClipBox();
        EXPECT_GT(clip.right, 1000);  // page width in printer pixels
        DrawDibScaled(dc, 100, 100, 900, 600, pic, 0, 0, 3, 2, false, SRCCOPY, true, nullptr);
        painter.end();
    }
    std::ifstream f(path, std::ios::binary);
    std::string head(5, '\0');
    f.read(head.data(), 5);
    EXPECT_EQ(head, "%PDF-");
    f.seekg(0, std::ios::end);
    EXPECT_GT(f.tellg(), 500);
    std::remove(path.c_str());
    deldib(pic);
}

TEST(RasterHooks, ScreenDepthCanBeForcedAndMessagesReachTheResponder)
{
    setenv("WL_SCREEN_BPP", "8", 1);
    InstallRasterHooks();
    EXPECT_EQ(ScreenBitsPerPixel(), 8);
    unsetenv("WL_SCREEN_BPP");
    InstallRasterHooks();
    EXPECT_EQ(ScreenBitsPerPixel(), QtScreenBitsPerPixel());

    // A device that can neither stretch nor take DIBs nor make bitmaps.
    TScriptedResponder responder;
    TResponderScope scope(responder);
    responder.AnswerMessage(mrOk);
    DibHandle pic = Picture(4);
    MemoryDC dc(10, 10);
    dc.fail.stretchDIBits = dc.fail.setDIBitsToDevice = dc.fail.createBitmap = true;
    DrawDibScaled(dc, 0, 0, 10, 10, pic, 0, 0, 3, 2, false, SRCCOPY, true, nullptr);
    ASSERT_EQ(responder.Asked().size(), 1u);
    EXPECT_EQ(responder.Asked()[0].Text, "Konnte Bitmap nicht erzeugen!");
    EXPECT_EQ(responder.Asked()[0].Buttons, mbOK);
    SetDrawMessageSink(nullptr);
    SetScreenDepthQuery(nullptr);
    deldib(pic);
}

TEST(PrinterDC, ClipBoxFollowsThePaintersTransform)
{
    // A preview paints a page through a scaled and moved painter; the clip box
    // bounds what DrawDibScaled builds, so it must be in the painter's units.
    ForceScreenBitsPerPixel(8);  // the halftone path builds only what the clip box shows
    DibHandle pic = Picture(24);
    QImage page(60, 40, QImage::Format_RGB32);
    page.fill(Qt::black);
    {
        QPainter painter(&page);
        painter.scale(0.5, 0.5);
        painter.translate(-40, 0);
        TPrinterDC dc(painter);
        const Rect clip = dc.GetClipBox();
        EXPECT_EQ(clip.left, 40);
        EXPECT_EQ(clip.top, 0);
        EXPECT_EQ(clip.right, 160);
        EXPECT_EQ(clip.bottom, 80);
        DrawDibScaled(dc, 100, 0, 60, 80, pic, 0, 0, 3, 2, true, SRCCOPY, true, nullptr);
    }
    ForceScreenBitsPerPixel(0);
    // Logical 100..160 x 0..80 is device 30..60 x 0..40.
    int shown = 0, outside = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x)
            if (page.pixel(x, y) & 0xFFFFFF)
                ++(x >= 30 ? shown : outside);
    EXPECT_GT(shown, 30 * 40 / 2);
    EXPECT_EQ(outside, 0);
    deldib(pic);
}
