// PNG over libpng. Palette and greyscale pictures of up to 8 bits keep their
// depth with a colour table (2 bits become 4); everything else becomes 24-bit
// BGR, read straight into the DIB rows when it has no alpha.
//
// Transparency is composited on white: a DIB has no alpha, and white is the
// background the program's windows and paper show. Translucent palette
// entries are blended into the colour table; a transparent grey value turns
// its table entry white; alpha channels are blended per pixel. 16-bit samples
// keep their high byte. Gamma and colour-profile chunks are ignored.
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <png.h>

#include "raster/Decoders.h"

namespace raster {

namespace {

struct Source {
    const uint8_t* data;
    size_t size;
    size_t pos;
    char message[128];
};

void ReadData(png_structp png, png_bytep dst, size_t length)
{
    auto* src = static_cast<Source*>(png_get_io_ptr(png));
    if (length > src->size - src->pos)
        png_error(png, "Datei unvollständig");
    std::memcpy(dst, src->data + src->pos, length);
    src->pos += length;
}

void OnError(png_structp png, png_const_charp msg)
{
    auto* src = static_cast<Source*>(png_get_error_ptr(png));
    std::snprintf(src->message, sizeof src->message, "%s", msg);
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

inline uint8_t OnWhite(unsigned c, unsigned a)
{
    return static_cast<uint8_t>((c * a + 255u * (255u - a) + 127u) / 255u);
}

// Frees the libpng state and a side buffer on every way out, including the
// jump back from an error.
struct PngState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    uint8_t* buffer = nullptr;
    ~PngState()
    {
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        std::free(buffer);
    }
};

// Reads the whole picture into `buffer` with the given row bytes, rows top down.
void ReadWhole(PngState& st, uint32_t height, size_t rowBytes, std::vector<png_bytep>& rows)
{
    rows.resize(height);
    for (uint32_t y = 0; y < height; ++y)
        rows[y] = st.buffer + static_cast<size_t>(y) * rowBytes;
    png_read_image(st.png, rows.data());
}

bool Decode(PngState& st, Source& src, DibHandle& out, std::vector<png_bytep>& rows, std::vector<uint8_t>& line)
{
    png_read_info(st.png, st.info);
    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colourType = 0, interlace = 0;
    png_get_IHDR(st.png, st.info, &width, &height, &bitDepth, &colourType, &interlace, nullptr, nullptr);
    if (width == 0 || height == 0 || width > uint32_t(kMaxDibDimension) || height > uint32_t(kMaxDibDimension)) {
        std::snprintf(src.message, sizeof src.message, "Bildgröße ungültig");
        return false;
    }
    const bool hasTrns = png_get_valid(st.png, st.info, PNG_INFO_tRNS) != 0;
    const int32_t w = static_cast<int32_t>(width), h = static_cast<int32_t>(height);

    const bool indexed = colourType == PNG_COLOR_TYPE_PALETTE || (colourType == PNG_COLOR_TYPE_GRAY && bitDepth <= 8);
    if (indexed) {
        const int depth = bitDepth == 2 ? 4 : bitDepth;
        BITMAPINFO table;
        if (colourType == PNG_COLOR_TYPE_PALETTE) {
            png_colorp plte = nullptr;
            int count = 0;
            if (!png_get_PLTE(st.png, st.info, &plte, &count) || count <= 0) {
                std::snprintf(src.message, sizeof src.message, "Farbtabelle fehlt");
                return false;
            }
            png_bytep alpha = nullptr;
            int alphaCount = 0;
            if (hasTrns)
                png_get_tRNS(st.png, st.info, &alpha, &alphaCount, nullptr);
            for (int i = 0; i < count && i < 256; ++i) {
                const unsigned a = (alpha && i < alphaCount) ? alpha[i] : 255u;
                table.bmiColors[i] = RGBQUAD{OnWhite(plte[i].blue, a), OnWhite(plte[i].green, a), OnWhite(plte[i].red, a), 0};
            }
        } else {
            const int levels = 1 << bitDepth;
            for (int i = 0; i < levels; ++i) {
                const auto g = static_cast<uint8_t>(i * 255 / (levels - 1));
                table.bmiColors[i] = RGBQUAD{g, g, g, 0};
            }
            png_color_16p key = nullptr;
            if (hasTrns && png_get_tRNS(st.png, st.info, nullptr, nullptr, &key) && key && key->gray < levels)
                table.bmiColors[key->gray] = RGBQUAD{255, 255, 255, 0};
        }
        newdib(out, w, h, depth, &table, 1 << depth);
        if (!out.Bits) {
            std::snprintf(src.message, sizeof src.message, "%s", out.ErrorText.c_str());
            return false;
        }
        png_set_interlace_handling(st.png);
        png_read_update_info(st.png, st.info);
        if (bitDepth != 2) {
            rows.resize(height);
            for (int32_t y = 0; y < h; ++y)
                rows[static_cast<size_t>(y)] = out.Bits + static_cast<size_t>(h - 1 - y) * static_cast<size_t>(out.RowBytes);
            png_read_image(st.png, rows.data());
        } else {
            const size_t packed = (static_cast<size_t>(width) * 2 + 7) / 8;
            st.buffer = static_cast<uint8_t*>(std::malloc(packed * height));
            if (!st.buffer) {
                std::snprintf(src.message, sizeof src.message, "Zu wenig Speicher");
                return false;
            }
            ReadWhole(st, height, packed, rows);
            for (int32_t y = 0; y < h; ++y) {
                const uint8_t* s = rows[static_cast<size_t>(y)];
                uint8_t* d = out.Bits + static_cast<size_t>(h - 1 - y) * static_cast<size_t>(out.RowBytes);
                for (int32_t x = 0; x < w; x += 2) {
                    const unsigned b = s[x >> 2];
                    const unsigned hi = (b >> (6 - 2 * (x & 3))) & 3;
                    const unsigned lo = (x + 1 < w) ? (b >> (4 - 2 * (x & 3))) & 3 : 0;
                    d[x >> 1] = static_cast<uint8_t>((hi << 4) | lo);
                }
            }
        }
        png_read_end(st.png, nullptr);
        return true;
    }

    if (bitDepth == 16)
        png_set_strip_16(st.png);
    if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(st.png);
    if (hasTrns)
        png_set_tRNS_to_alpha(st.png);
    png_set_bgr(st.png);
    const int passes = png_set_interlace_handling(st.png);
    png_read_update_info(st.png, st.info);
    const int channels = png_get_channels(st.png, st.info);
    const size_t pngRowBytes = png_get_rowbytes(st.png, st.info);
    if ((channels != 3 && channels != 4) || pngRowBytes != static_cast<size_t>(width) * static_cast<size_t>(channels)) {
        std::snprintf(src.message, sizeof src.message, "Farbformat nicht unterstützt");
        return false;
    }
    newdib(out, w, h, 24, nullptr, 0);
    if (!out.Bits) {
        std::snprintf(src.message, sizeof src.message, "%s", out.ErrorText.c_str());
        return false;
    }
    const size_t dibRow = static_cast<size_t>(out.RowBytes);
    if (channels == 3) {
        rows.resize(height);
        for (int32_t y = 0; y < h; ++y)
            rows[static_cast<size_t>(y)] = out.Bits + static_cast<size_t>(h - 1 - y) * dibRow;
        png_read_image(st.png, rows.data());
        png_read_end(st.png, nullptr);
        return true;
    }
    auto composite = [&](const uint8_t* s, int32_t y) {
        uint8_t* d = out.Bits + static_cast<size_t>(h - 1 - y) * dibRow;
        for (int32_t x = 0; x < w; ++x, s += 4, d += 3) {
            d[0] = OnWhite(s[0], s[3]);
            d[1] = OnWhite(s[1], s[3]);
            d[2] = OnWhite(s[2], s[3]);
        }
    };
    if (passes <= 1) {
        line.resize(pngRowBytes);
        for (int32_t y = 0; y < h; ++y) {
            png_read_row(st.png, line.data(), nullptr);
            composite(line.data(), y);
        }
    } else {
        // Interlaced passes refine earlier rows, so the whole BGRA picture is kept.
        const uint64_t whole = static_cast<uint64_t>(pngRowBytes) * height;
        if (whole > 2 * kMaxDibPixelBytes || !(st.buffer = static_cast<uint8_t*>(std::malloc(whole)))) {
            std::snprintf(src.message, sizeof src.message, "Bild zu groß");
            return false;
        }
        ReadWhole(st, height, pngRowBytes, rows);
        for (int32_t y = 0; y < h; ++y)
            composite(rows[static_cast<size_t>(y)], y);
    }
    png_read_end(st.png, nullptr);
    return true;
}

}  // namespace

void DecodePng(const uint8_t* data, size_t size, DibHandle& out)
{
    out.Bits = nullptr;
    out.Info = nullptr;
    out.PaletteHandle = nullptr;
    Source src{data, size, 0, {}};
    PngState st;
    std::vector<png_bytep> rows;
    std::vector<uint8_t> line;
    if (size < 8 || png_sig_cmp(data, 0, 8) != 0) {
        out.ErrorText = "PNG-Fehler: keine PNG-Datei";
        return;
    }
    st.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &src, OnError, OnWarning);
    if (st.png)
        st.info = png_create_info_struct(st.png);
    if (!st.png || !st.info) {
        out.ErrorText = "Zu wenig Speicher";
        return;
    }
    // Ancillary chunks (text, profiles) are capped; pixel memory is capped by newdib.
    png_set_user_limits(st.png, static_cast<png_uint_32>(kMaxDibDimension), static_cast<png_uint_32>(kMaxDibDimension));
    png_set_chunk_cache_max(st.png, 1000);
    png_set_chunk_malloc_max(st.png, 16u << 20);
    png_set_read_fn(st.png, &src, ReadData);
    if (setjmp(png_jmpbuf(st.png))) {
        deldib(out);
        out.ErrorText = std::string("PNG-Fehler: ") + src.message;
        return;
    }
    if (!Decode(st, src, out, rows, line)) {
        deldib(out);
        out.ErrorText = std::string("PNG-Fehler: ") + src.message;
        return;
    }
    out.ErrorText.clear();
}

}  // namespace raster
