#include "ui/DibImage.h"

#include "raster/DeviceContext.h"

using namespace raster;

QImage DibToImage(const void* bits, const BITMAPINFO& info, int64_t x0, int64_t row0, int64_t width, int64_t height,
                  int64_t firstRow, int64_t endRow)
{
    if (width <= 0 || height <= 0 || uint64_t(width) * uint64_t(height) > kMaxDeviceBitmapPixels)
        return QImage();
    QImage image(int(width), int(height), QImage::Format_RGB32);
    if (image.isNull())
        return image;
    image.fill(Qt::white);
    const BITMAPINFOHEADER& h = info.bmiHeader;
    const uint64_t rowBytes = DibRowBytes(h.biWidth, h.biBitCount);
    const auto* base = static_cast<const uint8_t*>(bits);
    for (int64_t j = 0; j < height; ++j) {
        const int64_t row = row0 + height - 1 - j;
        if (row < firstRow || row >= endRow)
            continue;
        const uint8_t* src = base + uint64_t(row - firstRow) * rowBytes;
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(int(j)));
        for (int64_t i = 0; i < width; ++i) {
            const int64_t col = x0 + i;
            if (col >= 0 && col < h.biWidth)
                dst[i] = 0xFF000000u | DibPixelRgb(info, src, int32_t(col));
        }
    }
    return image;
}

QImage DibToImage(const DibHandle& dib)
{
    if (!UsableDib(dib.Bits, dib.Info))
        return QImage();
    const BITMAPINFOHEADER& h = dib.Info->bmiHeader;
    return DibToImage(dib.Bits, *dib.Info, 0, 0, h.biWidth, h.biHeight, 0, h.biHeight);
}
