// A device context over a QPainter: the printer (QPrinter, a CUPS printer or
// a PDF file) and anything else a QPainter draws on. It reports itself as a
// raster printer that takes DIBs, so DrawDibScaled uses the stretch method and
// its fallbacks; palettes are no-ops (true colour).
#pragma once

#include "raster/DeviceContext.h"

class QPainter;
class QImage;

class TPrinterDC : public raster::DeviceContext {
public:
    // The painter must be active for the lifetime of this context.
    explicit TPrinterDC(QPainter& painter);

    int GetDeviceCaps(int index) const override;
    int SetStretchBltMode(int mode) override;
    const raster::LogPalette* SelectPalette(const raster::LogPalette* palette, bool forceBackground) override;
    int RealizePalette() override;
    int SetDIBitsToDevice(int32_t xDest, int32_t yDest, uint32_t width, uint32_t height, int32_t xSrc, int32_t ySrc,
                          uint32_t startScan, uint32_t lines, const void* bits, const raster::BITMAPINFO* info,
                          uint32_t usage) override;
    int StretchDIBits(int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight, int32_t xSrc, int32_t ySrc,
                      int32_t srcWidth, int32_t srcHeight, const void* bits, const raster::BITMAPINFO* info,
                      uint32_t usage, uint32_t rop) override;
    std::unique_ptr<raster::DeviceBitmap> CreateCompatibleBitmap(int32_t width, int32_t height) override;
    std::unique_ptr<raster::DeviceContext> CreateCompatibleDC() override;
    int SetDIBits(raster::DeviceBitmap& bitmap, uint32_t startScan, uint32_t lines, const void* bits,
                  const raster::BITMAPINFO* info, uint32_t usage) override;
    raster::DeviceBitmap* SelectBitmap(raster::DeviceBitmap* bitmap) override;
    int StretchBlt(int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight, raster::DeviceContext& source,
                   int32_t xSrc, int32_t ySrc, int32_t srcWidth, int32_t srcHeight, uint32_t rop) override;
    raster::Rect GetClipBox() const override;

private:
    // Draws `image` scaled into the destination rectangle with the raster operation.
    bool Draw(const QImage& image, int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight, uint32_t rop);

    QPainter& painter_;
    int stretchMode_ = raster::BLACKONWHITE;
    const raster::LogPalette* selected_ = nullptr;
};
