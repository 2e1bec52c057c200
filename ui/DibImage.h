// Pictures of the raster layer as toolkit images, for drawing them through a
// QPainter (the printer, and surfaces finer than one pixel per unit).
#pragma once

#include <cstdint>

#include <QImage>

#include "raster/DeviceContext.h"
#include "raster/Rasterwerk.h"

// The part of a bottom-up DIB whose lower-left corner is (x0, row0), as a
// top-down opaque image; rows outside [firstRow, endRow) and columns outside
// the picture stay white. Null when the size is out of range.
QImage DibToImage(const void* bits, const raster::BITMAPINFO& info, int64_t x0, int64_t row0, int64_t width,
                  int64_t height, int64_t firstRow, int64_t endRow);
// The whole picture; null for a picture without bits or of an unusable format.
QImage DibToImage(const raster::DibHandle& dib);
