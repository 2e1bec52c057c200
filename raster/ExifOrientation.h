// The orientation a camera recorded in a JPEG file's Exif block: how the
// stored rows and columns lie on the picture as it is meant to be seen.
// Plain C++ over bytes in memory; every offset the file gives is checked.
#pragma once

#include <cstddef>
#include <cstdint>

namespace raster {

// Exif numbering: 1 as stored, 2 mirrored left to right, 3 turned by 180
// degrees, 4 mirrored top to bottom, 5 mirrored along the main diagonal,
// 6 turned 90 degrees clockwise, 7 mirrored along the other diagonal,
// 8 turned 90 degrees anticlockwise (5 to 8 swap width and height).
enum TExifOrientation : int {
    eoNormal = 1, eoMirrorH = 2, eoRotate180 = 3, eoMirrorV = 4,
    eoTranspose = 5, eoRotate90 = 6, eoTransverse = 7, eoRotate270 = 8
};

// The orientation of the whole JPEG file in `data`: the tag of the first
// Exif block among the segments before the picture data. eoNormal when there
// is none, or when it is cut off, malformed or out of range.
int JpegExifOrientation(const uint8_t* data, size_t size);

// The same for the contents of one Exif block ("Exif\0\0", then a TIFF header).
int ExifBlockOrientation(const uint8_t* block, size_t size);

inline bool OrientationSwapsSides(int orientation) { return orientation >= eoTranspose && orientation <= eoRotate270; }

}  // namespace raster
