// WebP over libwebp: lossy, lossless, with or without alpha, and the first
// frame of an animation. Every picture becomes 24-bit BGR.
//
// A picture without alpha is decoded straight into the DIB rows: libwebp
// flips it, so no second pass and no side buffer are needed. Alpha is
// composited on white, as the PNG decoder does, through one BGRA side buffer.
// An animation is drawn by the animation decoder onto its canvas, whose first
// frame is then taken like a still picture with alpha.
#include <cstdlib>
#include <cstring>
#include <memory>

#include <webp/decode.h>
#include <webp/demux.h>

#include "raster/Decoders.h"
#include "raster/PixelBudget.h"

namespace raster {

namespace {

inline uint8_t OnWhite(unsigned c, unsigned a)
{
    return static_cast<uint8_t>((c * a + 255u * (255u - a) + 127u) / 255u);
}

const char* StatusText(VP8StatusCode status)
{
    switch (status) {
    case VP8_STATUS_NOT_ENOUGH_DATA: return "WebP-Fehler: Datei unvollständig";
    case VP8_STATUS_OUT_OF_MEMORY: return "Zu wenig Speicher";
    case VP8_STATUS_UNSUPPORTED_FEATURE: return "WebP-Fehler: Format nicht unterstützt";
    default: return "WebP-Fehler: Datei beschädigt";
    }
}

// Copies a top-down BGRA picture into the DIB, blended on white.
void CompositeRows(const uint8_t* bgra, size_t stride, DibHandle& out, int32_t w, int32_t h)
{
    const size_t dibRow = static_cast<size_t>(out.RowBytes);
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* s = bgra + static_cast<size_t>(y) * stride;
        uint8_t* d = out.Bits + static_cast<size_t>(h - 1 - y) * dibRow;
        for (int32_t x = 0; x < w; ++x, s += 4, d += 3) {
            const unsigned a = s[3];
            if (a == 255) {
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
            } else {
                d[0] = OnWhite(s[0], a);
                d[1] = OnWhite(s[1], a);
                d[2] = OnWhite(s[2], a);
            }
        }
    }
}

bool CheckSize(int width, int height, DibHandle& out)
{
    if (width <= 0 || height <= 0 || width > kMaxDibDimension || height > kMaxDibDimension) {
        out.ErrorText = "Bildgröße ungültig";
        return false;
    }
    // The BGRA side buffer of alpha pictures is the largest allocation.
    if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4 > kMaxDibPixelBytes) {
        out.ErrorText = "Bild zu groß";
        return false;
    }
    return true;
}

// The full-size memory libwebp keeps for itself while it decodes a still
// picture, whatever size it is asked for: a lossless picture is decoded whole
// (4 bytes a pixel) before any scaling, the alpha plane of a lossy one is
// kept whole (1 byte a pixel).
uint64_t LibraryOwnBytes(const WebPBitstreamFeatures& f)
{
    const uint64_t pixels = static_cast<uint64_t>(f.width) * static_cast<uint64_t>(f.height);
    if (f.format == 2)
        return pixels * 4;
    return f.has_alpha ? pixels : 0;
}

// Decodes a still picture into out, at the size out was made with (libwebp
// scales when that differs from the picture's own).
void DecodeStill(const uint8_t* data, size_t size, WebPDecoderConfig& config, DibHandle& out)
{
    const int32_t w = out.Info->bmiHeader.biWidth, h = out.Info->bmiHeader.biHeight;
    const size_t dibRow = static_cast<size_t>(out.RowBytes);
    std::unique_ptr<uint8_t, decltype(&std::free)> side(nullptr, &std::free);
    if (w != config.input.width || h != config.input.height) {
        config.options.use_scaling = 1;
        config.options.scaled_width = w;
        config.options.scaled_height = h;
    }
    config.output.is_external_memory = 1;
    if (!config.input.has_alpha) {
        // Bottom-up rows: libwebp writes the first row last.
        config.options.flip = 1;
        config.output.colorspace = MODE_BGR;
        config.output.u.RGBA.rgba = out.Bits;
        config.output.u.RGBA.stride = out.RowBytes;
        config.output.u.RGBA.size = dibRow * static_cast<size_t>(h);
    } else {
        const size_t stride = static_cast<size_t>(w) * 4;
        ChargePixelBudget(stride * static_cast<size_t>(h));
        side.reset(static_cast<uint8_t*>(std::malloc(stride * static_cast<size_t>(h))));
        if (!side) {
            deldib(out);
            out.ErrorText = "Zu wenig Speicher";
            return;
        }
        config.output.colorspace = MODE_BGRA;
        config.output.u.RGBA.rgba = side.get();
        config.output.u.RGBA.stride = static_cast<int>(stride);
        config.output.u.RGBA.size = stride * static_cast<size_t>(h);
    }
    const VP8StatusCode status = WebPDecode(data, size, &config);
    WebPFreeDecBuffer(&config.output);  // frees nothing of ours: the memory is external
    if (status != VP8_STATUS_OK) {
        deldib(out);
        out.ErrorText = StatusText(status);
        return;
    }
    if (side)
        CompositeRows(side.get(), static_cast<size_t>(w) * 4, out, w, h);
    out.ErrorText.clear();
}

struct AnimDecoderFree {
    void operator()(WebPAnimDecoder* d) const { WebPAnimDecoderDelete(d); }
};

void DecodeAnimation(const uint8_t* data, size_t size, DibHandle& out)
{
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) {
        out.ErrorText = "WebP-Fehler: Bibliothek passt nicht";
        return;
    }
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    const WebPData whole{data, size};
    std::unique_ptr<WebPAnimDecoder, AnimDecoderFree> anim(WebPAnimDecoderNew(&whole, &options));
    if (!anim) {
        out.ErrorText = "WebP-Fehler: Animation beschädigt";
        return;
    }
    WebPAnimInfo info;
    if (!WebPAnimDecoderGetInfo(anim.get(), &info) || info.frame_count == 0) {
        out.ErrorText = "WebP-Fehler: Animation beschädigt";
        return;
    }
    const int w = static_cast<int>(info.canvas_width), h = static_cast<int>(info.canvas_height);
    if (info.canvas_width > uint32_t(kMaxDibDimension) || info.canvas_height > uint32_t(kMaxDibDimension) ||
        !CheckSize(w, h, out))
        return;
    uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(anim.get(), &canvas, &timestamp) || !canvas) {
        out.ErrorText = "WebP-Fehler: Animation beschädigt";
        return;
    }
    newdib(out, w, h, 24, nullptr, 0);
    if (!out.Bits)
        return;
    CompositeRows(canvas, static_cast<size_t>(w) * 4, out, w, h);
}

}  // namespace

void DecodeWebp(const uint8_t* data, size_t size, DibHandle& out)
{
    out.Bits = nullptr;
    out.Info = nullptr;
    out.PaletteHandle = nullptr;
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WEBP", 4) != 0) {
        out.ErrorText = "WebP-Fehler: keine WebP-Datei";
        return;
    }
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) {
        out.ErrorText = "WebP-Fehler: Bibliothek passt nicht";
        return;
    }
    const VP8StatusCode featureStatus = WebPGetFeatures(data, size, &config.input);
    if (featureStatus != VP8_STATUS_OK) {
        out.ErrorText = StatusText(featureStatus);
        return;
    }
    const int w = config.input.width, h = config.input.height;
    if (!CheckSize(w, h, out))
        return;
    if (config.input.has_animation) {
        // The animation decoder keeps two canvases of 4 bytes per pixel.
        const uint64_t canvases = static_cast<uint64_t>(w) * static_cast<uint64_t>(h) * 8;
        if (canvases > kMaxDibPixelBytes) {
            out.ErrorText = "Bild zu groß";
            return;
        }
        // A lossless frame is decoded whole besides.
        ChargePixelBudget(canvases + canvases / 2);
        DecodeAnimation(data, size, out);
        if (out.Bits)
            out.ErrorText.clear();
        return;
    }
    ChargePixelBudget(LibraryOwnBytes(config.input));
    newdib(out, w, h, 24, nullptr, 0);
    if (!out.Bits)
        return;
    DecodeStill(data, size, config, out);
}

bool DecodeWebpScaled(const uint8_t* data, size_t size, DibHandle& out, WantedSize wanted, int32_t& fullWidth,
                      int32_t& fullHeight)
{
    out = DibHandle();
    fullWidth = fullHeight = 0;
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WEBP", 4) != 0)
        return false;
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config) || WebPGetFeatures(data, size, &config.input) != VP8_STATUS_OK)
        return false;
    const int w = config.input.width, h = config.input.height;
    // The animation decoder has no scaling: an animated picture is decoded whole.
    if (config.input.has_animation || !CheckSize(w, h, out))
        return false;
    int32_t wantWidth = 0, wantHeight = 0;
    wanted(w, h, wantWidth, wantHeight);
    // Enlarging is left to the caller's own resize, as for every other picture.
    if (wantWidth < 1 || wantHeight < 1 || wantWidth >= w || wantHeight >= h)
        return false;
    fullWidth = w;
    fullHeight = h;
    ChargePixelBudget(LibraryOwnBytes(config.input));
    newdib(out, wantWidth, wantHeight, 24, nullptr, 0);
    if (!out.Bits)
        return false;
    DecodeStill(data, size, config, out);
    return out.Bits != nullptr;
}

}  // namespace raster
