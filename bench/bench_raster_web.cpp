// WebP and AVIF: OpenDib on 12-megapixel pictures (4000 x 3000, encoded here
// by the same libraries) against the plain library calls that decode the
// same bytes into a BGR buffer, in the same run. Prints "raster.metric value
// unit"; times are medians of the process's CPU time (the AV1 decoder may
// use threads of its own), peer and ours taken alternately.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <vector>

#include <avif/avif.h>
#include <webp/decode.h>
#include <webp/encode.h>

#include "raster/Rasterwerk.h"

using namespace raster;

namespace {

double ProcessMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double Ms(const std::function<void()>& work)
{
    const double t0 = ProcessMs();
    work();
    return ProcessMs() - t0;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void Paired(int runs, const std::function<void()>& peer, const std::function<void()>& ours, double& peerMs,
            double& oursMs)
{
    std::vector<double> a, b;
    for (int i = 0; i < runs; ++i) {
        a.push_back(Ms(peer));
        b.push_back(Ms(ours));
    }
    peerMs = Median(a);
    oursMs = Median(b);
}

// Photo-like content: smooth gradients with texture.
std::vector<uint8_t> MakeRgb(int w, int h)
{
    std::vector<uint8_t> rgb(size_t(w) * h * 3);
    uint32_t seed = 12345;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = int(seed >> 28) - 8;
            uint8_t* p = &rgb[(size_t(y) * w + x) * 3];
            p[0] = uint8_t(std::clamp((x * 255) / w + noise, 0, 255));
            p[1] = uint8_t(std::clamp((y * 255) / h + noise, 0, 255));
            p[2] = uint8_t(std::clamp(((x + y) * 128) / (w + h) + 64 + noise, 0, 255));
        }
    return rgb;
}

std::vector<uint8_t> EncodeAvif(const std::vector<uint8_t>& rgb, int w, int h)
{
    avifImage* image = avifImageCreate(uint32_t(w), uint32_t(h), 8, AVIF_PIXEL_FORMAT_YUV420);
    avifRGBImage src;
    avifRGBImageSetDefaults(&src, image);
    src.format = AVIF_RGB_FORMAT_RGB;
    src.pixels = const_cast<uint8_t*>(rgb.data());
    src.rowBytes = uint32_t(w) * 3;
    std::vector<uint8_t> out;
    if (avifImageRGBToYUV(image, &src) == AVIF_RESULT_OK) {
        avifEncoder* enc = avifEncoderCreate();
        enc->speed = AVIF_SPEED_FASTEST;
        enc->maxThreads = 2;
        // Fine quantizers keep the texture, so the decoder works as on photos.
        enc->minQuantizer = 8;
        enc->maxQuantizer = 16;
        avifRWData data = AVIF_DATA_EMPTY;
        if (avifEncoderWrite(enc, image, &data) == AVIF_RESULT_OK)
            out.assign(data.data, data.data + data.size);
        avifRWDataFree(&data);
        avifEncoderDestroy(enc);
    }
    avifImageDestroy(image);
    return out;
}

void Report(const char* metric, double value, const char* unit)
{
    std::printf("raster.%s %.2f %s\n", metric, value, unit);
    std::fflush(stdout);
}

} // namespace

int main()
{
    const int w = 4000, h = 3000;
    const std::vector<uint8_t> rgb = MakeRgb(w, h);
    int failures = 0;

    for (const bool lossless : {false, true}) {
        uint8_t* encoded = nullptr;
        const size_t size = lossless ? WebPEncodeLosslessRGB(rgb.data(), w, h, w * 3, &encoded)
                                     : WebPEncodeRGB(rgb.data(), w, h, w * 3, 80, &encoded);
        if (size == 0) {
            std::fprintf(stderr, "WebP encoding failed\n");
            return 1;
        }
        double plain = 0, ours = 0;
        Paired(
            7,
            [&] {
                int pw = 0, ph = 0;
                uint8_t* px = WebPDecodeBGR(encoded, size, &pw, &ph);
                failures += px == nullptr;
                WebPFree(px);
            },
            [&] {
                DibHandle d;
                OpenDibFromMemory(d, encoded, size, dtAuto);
                failures += d.Bits == nullptr;
                deldib(d);
            },
            plain, ours);
        WebPFree(encoded);
        Report(lossless ? "webp_lossless_plain_ms" : "webp_plain_ms", plain, "ms");
        Report(lossless ? "webp_lossless_opendib_ms" : "webp_opendib_ms", ours, "ms");
        Report(lossless ? "webp_lossless_ratio" : "webp_ratio", plain / ours, "x");
    }

    const std::vector<uint8_t> avif = EncodeAvif(rgb, w, h);
    if (avif.empty()) {
        std::fprintf(stderr, "AVIF encoding failed\n");
        return 1;
    }
    double plain = 0, ours = 0;
    Paired(
        5,
        [&] {
            avifDecoder* dec = avifDecoderCreate();
            avifImage* image = avifImageCreateEmpty();
            if (avifDecoderReadMemory(dec, image, avif.data(), avif.size()) == AVIF_RESULT_OK) {
                avifRGBImage out;
                avifRGBImageSetDefaults(&out, image);
                out.format = AVIF_RGB_FORMAT_BGR;
                out.depth = 8;
                avifRGBImageAllocatePixels(&out);
                failures += avifImageYUVToRGB(image, &out) != AVIF_RESULT_OK;
                avifRGBImageFreePixels(&out);
            } else {
                ++failures;
            }
            avifImageDestroy(image);
            avifDecoderDestroy(dec);
        },
        [&] {
            DibHandle d;
            OpenDibFromMemory(d, avif.data(), avif.size(), dtAuto);
            failures += d.Bits == nullptr;
            deldib(d);
        },
        plain, ours);
    Report("avif_plain_ms", plain, "ms");
    Report("avif_opendib_ms", ours, "ms");
    Report("avif_ratio", plain / ours, "x");
    if (failures != 0) {
        std::fprintf(stderr, "%d decodes failed\n", failures);
        return 1;
    }
    return 0;
}
