// GIF over giflib: the first frame only, read record by record so an
// animation's later frames are never decoded or held.
//
// The picture has the size of the logical screen; the frame is placed at its
// offset and clipped to the screen, and the rest of the screen takes the
// transparent index when there is one, else the background index. The
// transparent colour's table entry is made white (the depth and the indices
// stay, the pixels show the background the program draws on). The depth
// follows the colour table: 2 colours give 1 bit, up to 16 give 4 bits,
// larger tables 8 bits. Index values beyond the colour table are drawn as entry 0.
// A logical screen of more than 16 M pixels and over four times the frame's
// area is not honoured: the picture is then the frame alone.
#include <algorithm>
#include <cstring>
#include <vector>

#include <gif_lib.h>

#include "raster/Decoders.h"

namespace raster {

namespace {

struct Source {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

int ReadData(GifFileType* gif, GifByteType* dst, int length)
{
    auto* src = static_cast<Source*>(gif->UserData);
    if (length <= 0)
        return 0;
    const size_t n = std::min(static_cast<size_t>(length), src->size - src->pos);
    std::memcpy(dst, src->data + src->pos, n);
    src->pos += n;
    return static_cast<int>(n);
}

struct GifCloser {
    GifFileType* gif = nullptr;
    ~GifCloser()
    {
        if (gif) {
            int error = 0;
            DGifCloseFile(gif, &error);
        }
    }
};

constexpr uint64_t kMaxGifBackgroundPixels = 16 << 20;

void Fail(DibHandle& out, const char* why)
{
    deldib(out);
    out.ErrorText = std::string("GIF-Fehler: ") + why;
}

inline void PutIndex(uint8_t* row, int depth, int32_t x, unsigned v)
{
    switch (depth) {
    case 1:
        if (v & 1)
            row[x >> 3] = static_cast<uint8_t>(row[x >> 3] | (0x80u >> (x & 7)));
        else
            row[x >> 3] = static_cast<uint8_t>(row[x >> 3] & ~(0x80u >> (x & 7)));
        break;
    case 4:
        if (x & 1)
            row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & 0xF0) | (v & 0x0F));
        else
            row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & 0x0F) | (v << 4));
        break;
    default:
        row[x] = static_cast<uint8_t>(v);
        break;
    }
}

}  // namespace

void DecodeGif(const uint8_t* data, size_t size, DibHandle& out)
{
    out.Bits = nullptr;
    out.Info = nullptr;
    out.PaletteHandle = nullptr;
    Source src{data, size, 0};
    int error = 0;
    GifCloser closer;
    closer.gif = DGifOpen(&src, ReadData, &error);
    GifFileType* gif = closer.gif;
    if (!gif)
        return Fail(out, "keine GIF-Datei");

    int transparent = -1;
    for (int records = 0;; ++records) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (records > 100000 || DGifGetRecordType(gif, &type) == GIF_ERROR)
            return Fail(out, "Datei beschädigt");
        if (type == TERMINATE_RECORD_TYPE)
            return Fail(out, "kein Bild in der Datei");
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif, &code, &block) == GIF_ERROR)
                return Fail(out, "Datei beschädigt");
            if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4)
                transparent = (block[1] & 1) ? block[4] : -1;
            // Sub-blocks are at most 255 bytes each; the input bounds their number.
            while (block) {
                if (DGifGetExtensionNext(gif, &block) == GIF_ERROR)
                    return Fail(out, "Datei beschädigt");
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE)
            continue;
        if (DGifGetImageDesc(gif) == GIF_ERROR)
            return Fail(out, "Datei beschädigt");
        break;
    }

    const GifImageDesc& frame = gif->Image;
    const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
    if (frame.Width <= 0 || frame.Height <= 0 || frame.Width > kMaxDibDimension || frame.Height > kMaxDibDimension ||
        frame.Left < 0 || frame.Top < 0)
        return Fail(out, "Bildgröße ungültig");
    // LZW codes are at least 3 bits and stand for at most 4096 pixels each, so
    // the rest of the file bounds the frame; a larger frame is cut short.
    const uint64_t frameArea = uint64_t(frame.Width) * uint64_t(frame.Height);
    if (frameArea > uint64_t(size - std::min(size, src.pos)) * 8 / 3 * 4096)
        return Fail(out, "Datei unvollständig");
    int32_t width = gif->SWidth, height = gif->SHeight;
    int32_t left = frame.Left, top = frame.Top;
    // A screen far larger than the frame would be pure background made from a
    // few bytes of file (and some writers leave the screen empty): then the
    // frame alone is the picture.
    const uint64_t screenArea = uint64_t(std::max(width, 0)) * uint64_t(std::max(height, 0));
    if (width <= 0 || height <= 0 || (screenArea > kMaxGifBackgroundPixels && screenArea > 4 * frameArea)) {
        width = frame.Width;
        height = frame.Height;
        left = top = 0;
    }
    BITMAPINFO table;
    int colours = 256;
    if (map && map->ColorCount > 0 && map->Colors) {
        colours = std::min(map->ColorCount, 256);
        for (int i = 0; i < colours; ++i)
            table.bmiColors[i] = RGBQUAD{map->Colors[i].Blue, map->Colors[i].Green, map->Colors[i].Red, 0};
    } else {
        for (int i = 0; i < 256; ++i)
            table.bmiColors[i] = RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    }
    const int depth = colours <= 2 ? 1 : colours <= 16 ? 4 : 8;
    if (transparent >= 0 && transparent < colours)
        table.bmiColors[transparent] = RGBQUAD{255, 255, 255, 0};
    newdib(out, width, height, depth, &table, 1 << depth);
    if (!out.Bits)
        return Fail(out, out.ErrorText.c_str());

    const int fill = (transparent >= 0 && transparent < colours) ? transparent
                     : (gif->SBackGroundColor < colours ? gif->SBackGroundColor : 0);
    const bool frameCoversScreen = left == 0 && top == 0 && frame.Width >= width && frame.Height >= height;
    if (fill != 0 && !frameCoversScreen) {
        // One row by pixels, the others copied: a large screen costs a memcpy per row.
        for (int32_t x = 0; x < width; ++x)
            PutIndex(out.Bits, depth, x, static_cast<unsigned>(fill));
        for (int32_t y = 1; y < height; ++y)
            std::memcpy(out.Bits + static_cast<size_t>(y) * static_cast<size_t>(out.RowBytes), out.Bits,
                        static_cast<size_t>(out.RowBytes));
    }

    std::vector<GifPixelType> line(static_cast<size_t>(frame.Width));
    static constexpr int kPassStart[4] = {0, 4, 2, 1};
    static constexpr int kPassStep[4] = {8, 8, 4, 2};
    int pass = 0, nextRow = 0;
    for (int i = 0; i < frame.Height; ++i) {
        if (DGifGetLine(gif, line.data(), frame.Width) == GIF_ERROR)
            return Fail(out, "Datei unvollständig");
        int frameRow = i;
        if (frame.Interlace) {
            while (nextRow >= frame.Height && pass < 3) {
                ++pass;
                nextRow = kPassStart[pass];
            }
            frameRow = nextRow;
            nextRow += kPassStep[pass];
        }
        const int32_t y = top + frameRow;
        if (y < 0 || y >= height)
            continue;
        uint8_t* row = out.Bits + static_cast<size_t>(height - 1 - y) * static_cast<size_t>(out.RowBytes);
        const int32_t x1 = std::min(width, left + frame.Width);
        for (int32_t x = left; x < x1; ++x) {
            unsigned v = line[static_cast<size_t>(x - left)];
            if (static_cast<int>(v) >= colours)
                v = 0;
            PutIndex(row, depth, x, v);
        }
    }
    out.ErrorText.clear();
}

}  // namespace raster
