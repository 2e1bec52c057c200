// A progressive JPEG of any size that is one colour throughout: a few
// hundred kilobytes for 16,000 x 16,000 pixels. libjpeg keeps every DCT
// coefficient of such a picture until its last scan, whatever size it is
// decoded at, so it is the JPEG form of a "decompression bomb".
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace wltest {

// Colour pictures are stored as YCbCr with the chroma halved both ways, as
// cameras and libjpeg's defaults do.
inline std::vector<uint8_t> FlatProgressiveJpeg(uint32_t width, uint32_t height, uint8_t red, uint8_t green,
                                                uint8_t blue)
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);  // fails only on a programming error here: libjpeg then exits
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = width;
    c.image_height = height;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 75, TRUE);
    jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
    for (size_t x = 0; x < row.size(); x += 3) {
        row[x] = red;
        row[x + 1] = green;
        row[x + 2] = blue;
    }
    JSAMPROW rows[1] = {row.data()};
    while (c.next_scanline < c.image_height)
        jpeg_write_scanlines(&c, rows, 1);
    jpeg_finish_compress(&c);
    std::vector<uint8_t> data(out, out + size);
    jpeg_destroy_compress(&c);
    std::free(out);
    return data;
}

}  // namespace wltest
