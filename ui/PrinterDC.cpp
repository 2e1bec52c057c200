#include "ui/PrinterDC.h"
#include "ui/DibImage.h"

#include <algorithm>

#include <QImage>
#include <QPaintDevice>
#include <QPainter>
#include <QTransform>

using namespace raster;

TPrinterDC::TPrinterDC(QPainter& painter) : painter_(painter) {}

int TPrinterDC::GetDeviceCaps(int index) const
{
    switch (index) {
    case TECHNOLOGY: return DT_RASPRINTER;
    case BITSPIXEL: return 24;
    case RASTERCAPS: return RC_BITBLT | RC_DIBTODEV | RC_STRETCHBLT | RC_STRETCHDIB;
    default: return 0;
    }
}

int TPrinterDC::SetStretchBltMode(int mode)
{
    const int before = stretchMode_;
    stretchMode_ = mode;
    return before;
}

const LogPalette* TPrinterDC::SelectPalette(const LogPalette* palette, bool)
{
    const LogPalette* before = selected_;
    selected_ = palette;
    return before;
}

int TPrinterDC::RealizePalette() { return 0; }

bool TPrinterDC::Draw(const QImage& image, int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight,
                      uint32_t rop)
{
    QPainter::CompositionMode mode;
    switch (rop) {
    case SRCCOPY: mode = QPainter::CompositionMode_SourceOver; break;
    case SRCPAINT: mode = QPainter::RasterOp_SourceOrDestination; break;
    case SRCAND: mode = QPainter::RasterOp_SourceAndDestination; break;
    case SRCINVERT: mode = QPainter::RasterOp_SourceXorDestination; break;
    case NOTSRCCOPY: mode = QPainter::RasterOp_NotSource; break;
    default: return false;
    }
    if (image.isNull())
        return false;
    painter_.save();
    painter_.setCompositionMode(mode);
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, stretchMode_ == HALFTONE);
    painter_.drawImage(QRect(xDest, yDest, destWidth, destHeight), image);
    painter_.restore();
    return true;
}

int TPrinterDC::SetDIBitsToDevice(int32_t xDest, int32_t yDest, uint32_t width, uint32_t height, int32_t xSrc,
                                  int32_t ySrc, uint32_t startScan, uint32_t lines, const void* bits,
                                  const BITMAPINFO* info, uint32_t)
{
    if (!UsableDib(bits, info) || width == 0 || height == 0 || width > uint32_t(kMaxDibDimension) ||
        height > uint32_t(kMaxDibDimension))
        return 0;
    const int64_t endRow = std::min<int64_t>(int64_t(startScan) + lines, info->bmiHeader.biHeight);
    const QImage image = DibToImage(bits, *info, xSrc, ySrc, width, height, startScan, endRow);
    if (!Draw(image, xDest, yDest, int32_t(width), int32_t(height), SRCCOPY))
        return 0;
    return int(std::max<int64_t>(0, endRow - int64_t(startScan)));
}

int TPrinterDC::StretchDIBits(int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight, int32_t xSrc,
                              int32_t ySrc, int32_t srcWidth, int32_t srcHeight, const void* bits,
                              const BITMAPINFO* info, uint32_t, uint32_t rop)
{
    if (!UsableDib(bits, info) || destWidth <= 0 || destHeight <= 0 || srcWidth <= 0 || srcHeight <= 0)
        return GDI_ERROR;
    const QImage image = DibToImage(bits, *info, xSrc, ySrc, srcWidth, srcHeight, 0, info->bmiHeader.biHeight);
    if (!Draw(image, xDest, yDest, destWidth, destHeight, rop))
        return GDI_ERROR;
    return srcHeight;
}

std::unique_ptr<DeviceBitmap> TPrinterDC::CreateCompatibleBitmap(int32_t width, int32_t height)
{
    MemoryDC scratch(0, 0);
    return scratch.CreateCompatibleBitmap(width, height);
}

std::unique_ptr<DeviceContext> TPrinterDC::CreateCompatibleDC() { return std::make_unique<MemoryDC>(0, 0); }

int TPrinterDC::SetDIBits(DeviceBitmap& bitmap, uint32_t startScan, uint32_t lines, const void* bits,
                          const BITMAPINFO* info, uint32_t usage)
{
    MemoryDC scratch(0, 0);
    return scratch.SetDIBits(bitmap, startScan, lines, bits, info, usage);
}

DeviceBitmap* TPrinterDC::SelectBitmap(DeviceBitmap*) { return nullptr; }  // a printer has no selectable surface

int TPrinterDC::StretchBlt(int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight, DeviceContext& source,
                           int32_t xSrc, int32_t ySrc, int32_t srcWidth, int32_t srcHeight, uint32_t rop)
{
    const DeviceBitmap* from = source.Surface();
    if (!from || destWidth <= 0 || destHeight <= 0 || srcWidth <= 0 || srcHeight <= 0 ||
        uint64_t(srcWidth) * uint64_t(srcHeight) > kMaxDeviceBitmapPixels)
        return 0;
    QImage image(srcWidth, srcHeight, QImage::Format_RGB32);
    if (image.isNull())
        return 0;
    image.fill(Qt::white);
    for (int32_t j = 0; j < srcHeight; ++j) {
        const int64_t row = int64_t(ySrc) + j;
        if (row < 0 || row >= from->height)
            continue;
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(j));
        for (int32_t i = 0; i < srcWidth; ++i) {
            const int64_t col = int64_t(xSrc) + i;
            if (col >= 0 && col < from->width)
                dst[i] = 0xFF000000u | from->pixels[size_t(row) * size_t(from->width) + size_t(col)];
        }
    }
    return Draw(image, xDest, yDest, destWidth, destHeight, rop) ? 1 : 0;
}

Rect TPrinterDC::GetClipBox() const
{
    // Drawing coordinates are the painter's logical ones: a scaled or moved
    // painter (the print preview) sees the device's area through its transform.
    const QPaintDevice* device = painter_.device();
    if (!device)
        return Rect{};
    bool invertible = false;
    const QTransform toLogical = painter_.combinedTransform().inverted(&invertible);
    if (!invertible)
        return Rect{};
    QRectF box = toLogical.mapRect(QRectF(0, 0, device->width(), device->height()));
    if (painter_.hasClipping())
        box = box.intersected(painter_.clipBoundingRect());
    box = box.intersected(QRectF(-1e9, -1e9, 2e9, 2e9));
    if (box.isEmpty())
        return Rect{};
    const QRect r = box.toAlignedRect();
    return Rect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}
