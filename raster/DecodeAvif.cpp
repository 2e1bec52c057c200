// AVIF over libavif with the AV1 decoder it is packaged with: 8-, 10- and
// 12-bit pictures, any chroma layout, alpha, and the first frame of a
// sequence. Every picture becomes 24-bit BGR (deeper samples are scaled down
// by libavif's own conversion).
//
// A picture without alpha is converted straight into the DIB memory, top
// row first, and the rows are then put bottom-up in place: libavif's row
// pitch is unsigned, so it cannot write bottom-up itself. Alpha is composited
// on white through one BGRA side buffer, as the PNG and WebP decoders do.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <avif/avif.h>

#include "raster/Decoders.h"

namespace raster {

namespace {

inline uint8_t OnWhite(unsigned c, unsigned a)
{
    return static_cast<uint8_t>((c * a + 255u * (255u - a) + 127u) / 255u);
}

struct DecoderFree {
    void operator()(avifDecoder* d) const { avifDecoderDestroy(d); }
};

const char* ResultText(avifResult result)
{
    switch (result) {
    case AVIF_RESULT_INVALID_FTYP: return "AVIF-Fehler: keine AVIF-Datei";
    case AVIF_RESULT_TRUNCATED_DATA: return "AVIF-Fehler: Datei unvollständig";
    case AVIF_RESULT_OUT_OF_MEMORY: return "Zu wenig Speicher";
    case AVIF_RESULT_NO_CODEC_AVAILABLE: return "AVIF-Fehler: kein AV1-Dekoder vorhanden";
    case AVIF_RESULT_UNSUPPORTED_DEPTH: return "AVIF-Fehler: Farbtiefe nicht unterstützt";
    case AVIF_RESULT_DECODE_COLOR_FAILED:
    case AVIF_RESULT_DECODE_ALPHA_FAILED: return "AVIF-Fehler: Bilddaten beschädigt";
    case AVIF_RESULT_NO_CONTENT:
    case AVIF_RESULT_NO_AV1_ITEMS_FOUND:
    case AVIF_RESULT_NO_IMAGES_REMAINING: return "AVIF-Fehler: kein Bild enthalten";
    default: return "AVIF-Fehler: Datei beschädigt";
    }
}

// Reverses the order of the DIB's rows.
void FlipRows(DibHandle& out, int32_t h)
{
    const size_t row = static_cast<size_t>(out.RowBytes);
    std::vector<uint8_t> line(row);
    for (int32_t top = 0, bottom = h - 1; top < bottom; ++top, --bottom) {
        uint8_t* a = out.Bits + static_cast<size_t>(top) * row;
        uint8_t* b = out.Bits + static_cast<size_t>(bottom) * row;
        std::memcpy(line.data(), a, row);
        std::memcpy(a, b, row);
        std::memcpy(b, line.data(), row);
    }
}

}  // namespace

void DecodeAvif(const uint8_t* data, size_t size, DibHandle& out)
{
    out.Bits = nullptr;
    out.Info = nullptr;
    out.PaletteHandle = nullptr;
    if (size < 12 || std::memcmp(data + 4, "ftyp", 4) != 0) {
        out.ErrorText = "AVIF-Fehler: keine AVIF-Datei";
        return;
    }
    std::unique_ptr<avifDecoder, DecoderFree> decoder(avifDecoderCreate());
    if (!decoder) {
        out.ErrorText = "Zu wenig Speicher";
        return;
    }
    // libavif's own limits refuse huge pictures before their planes are made
    // (up to 6 bytes a pixel at 12 bits in 4:4:4); ours are checked as soon
    // as the header is read, before any pixel is decoded.
    decoder->imageSizeLimit = static_cast<uint32_t>(kMaxDibPixelBytes / 8);
    decoder->imageDimensionLimit = static_cast<uint32_t>(kMaxDibDimension);
    decoder->imageCountLimit = 1u << 16;
    decoder->ignoreExif = AVIF_TRUE;
    decoder->ignoreXMP = AVIF_TRUE;
    avifResult result = avifDecoderSetIOMemory(decoder.get(), data, size);
    if (result == AVIF_RESULT_OK)
        result = avifDecoderParse(decoder.get());
    if (result != AVIF_RESULT_OK) {
        out.ErrorText = ResultText(result);
        return;
    }
    auto sizeOk = [](const avifImage* im) {
        return im && im->width != 0 && im->height != 0 && im->width <= uint32_t(kMaxDibDimension) &&
               im->height <= uint32_t(kMaxDibDimension);
    };
    if (!sizeOk(decoder->image)) {
        out.ErrorText = "Bildgröße ungültig";
        return;
    }
    result = avifDecoderNextImage(decoder.get());
    if (result != AVIF_RESULT_OK) {
        out.ErrorText = ResultText(result);
        return;
    }
    const avifImage* image = decoder->image;
    if (!sizeOk(image)) {
        out.ErrorText = "Bildgröße ungültig";
        return;
    }
    const int32_t w = static_cast<int32_t>(image->width), h = static_cast<int32_t>(image->height);
    const bool alpha = image->alphaPlane != nullptr && image->alphaRowBytes != 0;
    if (alpha && static_cast<uint64_t>(w) * static_cast<uint64_t>(h) * 4 > kMaxDibPixelBytes) {
        out.ErrorText = "Bild zu groß";
        return;
    }
    newdib(out, w, h, 24, nullptr, 0);
    if (!out.Bits)
        return;

    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, image);
    rgb.depth = 8;
    std::unique_ptr<uint8_t, decltype(&std::free)> side(nullptr, &std::free);
    if (!alpha) {
        rgb.format = AVIF_RGB_FORMAT_BGR;
        rgb.pixels = out.Bits;
        rgb.rowBytes = static_cast<uint32_t>(out.RowBytes);
    } else {
        const size_t stride = static_cast<size_t>(w) * 4;
        side.reset(static_cast<uint8_t*>(std::malloc(stride * static_cast<size_t>(h))));
        if (!side) {
            deldib(out);
            out.ErrorText = "Zu wenig Speicher";
            return;
        }
        rgb.format = AVIF_RGB_FORMAT_BGRA;
        rgb.pixels = side.get();
        rgb.rowBytes = static_cast<uint32_t>(stride);
    }
    result = avifImageYUVToRGB(image, &rgb);
    if (result != AVIF_RESULT_OK) {
        deldib(out);
        out.ErrorText = "AVIF-Fehler: Farbumwandlung fehlgeschlagen";
        return;
    }
    if (!alpha) {
        FlipRows(out, h);
    } else {
        const size_t dibRow = static_cast<size_t>(out.RowBytes);
        for (int32_t y = 0; y < h; ++y) {
            const uint8_t* s = side.get() + static_cast<size_t>(y) * rgb.rowBytes;
            uint8_t* d = out.Bits + static_cast<size_t>(h - 1 - y) * dibRow;
            for (int32_t x = 0; x < w; ++x, s += 4, d += 3) {
                d[0] = OnWhite(s[0], s[3]);
                d[1] = OnWhite(s[1], s[3]);
                d[2] = OnWhite(s[2], s[3]);
            }
        }
    }
    out.ErrorText.clear();
}

}  // namespace raster
