// Image-file library and scaled drawing: OpenDib on a 4000 x 3000 JPEG and a
// 1920 x 1080 PNG against a plain libjpeg-turbo / libpng decode of the same
// bytes into a buffer (same run), DrawDibScaled into a 1000 x 700 memory
// raster at several zooms, and DIBHalftoneDIBXY. Prints "raster.metric value unit";
// times are medians of the thread's CPU time.
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <unistd.h>

#include "raster/DeviceContext.h"
#include "raster/DibDraw.h"
#include "raster/Rasterwerk.h"

using namespace raster;

namespace {

// CPU time of this thread: on a machine shared with builds, wall time mostly
// measures the scheduler.
double ThreadMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double Ms(const std::function<void()>& work)
{
    const double t0 = ThreadMs();
    work();
    return ThreadMs() - t0;
}

double Median(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double MedianMs(int runs, const std::function<void()>& work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i)
        times.push_back(Ms(work));
    return Median(times);
}

// Runs the peer and ours alternately, so load on a shared machine hits both alike.
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

// Photo-like content: smooth gradients with texture, so the codecs work as on real pictures.
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
            p[2] = uint8_t(std::clamp(((x + y) * 97 / 13) % 256 / 2 + 64 + noise, 0, 255));
        }
    return rgb;
}

std::vector<uint8_t> EncodeJpeg(const std::vector<uint8_t>& rgb, int w, int h)
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = JDIMENSION(w);
    c.image_height = JDIMENSION(h);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 85, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(&rgb[size_t(c.next_scanline) * w * 3]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> out(mem, mem + size);
    jpeg_destroy_compress(&c);
    std::free(mem);
    return out;
}

// A fresh output buffer per decode, as a picture loader needs one per picture.
void PlainJpegDecode(const std::vector<uint8_t>& file)
{
    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, file.data(), file.size());
    jpeg_read_header(&d, TRUE);
    jpeg_start_decompress(&d);
    const size_t stride = size_t(d.output_width) * d.output_components;
    // Uninitialised like malloc: the peer is not charged for zeroing.
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[stride * d.output_height]);
    while (d.output_scanline < d.output_height) {
        JSAMPROW rows[16];
        const JDIMENSION n = std::min<JDIMENSION>(16, d.output_height - d.output_scanline);
        for (JDIMENSION i = 0; i < n; ++i)
            rows[i] = &buffer[(d.output_scanline + i) * stride];
        jpeg_read_scanlines(&d, rows, n);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
}

void PngWrite(png_structp png, png_bytep data, size_t n)
{
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}

std::vector<uint8_t> EncodePng(const std::vector<uint8_t>& rgb, int w, int h)
{
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, PngWrite, nullptr);
    png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < h; ++y)
        png_write_row(png, &rgb[size_t(y) * w * 3]);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

struct PngReader {
    const std::vector<uint8_t>* file;
    size_t pos;
};

void PngRead(png_structp png, png_bytep data, size_t n)
{
    auto* r = static_cast<PngReader*>(png_get_io_ptr(png));
    std::copy(r->file->begin() + long(r->pos), r->file->begin() + long(r->pos + n), data);
    r->pos += n;
}

void PlainPngDecode(const std::vector<uint8_t>& file)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    PngReader reader{&file, 0};
    png_set_read_fn(png, &reader, PngRead);
    png_read_info(png, info);
    const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    const size_t stride = png_get_rowbytes(png, info);
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[stride * h]);
    std::vector<png_bytep> rows(h);
    for (png_uint_32 y = 0; y < h; ++y)
        rows[y] = &buffer[y * stride];
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    (void)w;
}

std::string WriteTemp(const std::vector<uint8_t>& bytes, const char* suffix)
{
    std::string path = std::string("/tmp/wl_bench_raster_") + std::to_string(getpid()) + suffix;
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
}

void Report(const char* metric, double value, const char* unit) { std::printf("raster.%s %.3f %s\n", metric, value, unit); }

}  // namespace

int main()
{
    // JPEG: 4000 x 3000.
    {
        const int w = 4000, h = 3000;
        const std::vector<uint8_t> jpeg = EncodeJpeg(MakeRgb(w, h), w, h);
        const std::string path = WriteTemp(jpeg, ".jpg");
        PlainJpegDecode(jpeg);  // warm up
        double plain = 0, ours = 0;
        Paired(
            9, [&] { PlainJpegDecode(jpeg); },
            [&] {
                DibHandle d;
                OpenDib(d, path.c_str(), dtAuto);
                if (!d.Bits)
                    std::abort();
                deldib(d);
            },
            plain, ours);
        std::remove(path.c_str());
        Report("jpeg_plain_ms", plain, "ms");
        Report("jpeg_opendib_ms", ours, "ms");
        Report("jpeg_plain_ms_per_mpixel", plain / 12.0, "ms");
        Report("jpeg_ratio", plain / ours, "x");
    }
    // PNG: 1920 x 1080 RGB.
    {
        const int w = 1920, h = 1080;
        const std::vector<uint8_t> png = EncodePng(MakeRgb(w, h), w, h);
        const std::string path = WriteTemp(png, ".png");
        PlainPngDecode(png);
        double plain = 0, ours = 0;
        Paired(
            9, [&] { PlainPngDecode(png); },
            [&] {
                DibHandle d;
                OpenDib(d, path.c_str(), dtAuto);
                if (!d.Bits)
                    std::abort();
                deldib(d);
            },
            plain, ours);
        std::remove(path.c_str());
        Report("png_plain_ms", plain, "ms");
        Report("png_opendib_ms", ours, "ms");
        Report("png_plain_ms_per_mpixel", plain / (w * h / 1e6), "ms");
        Report("png_ratio", plain / ours, "x");
    }
    // Viewing a 6000 x 4000 picture in a 1000 x 700 window.
    {
        const int w = 6000, h = 4000;
        const std::vector<uint8_t> rgb = MakeRgb(w, h);
        DibHandle pic;
        newdib(pic, w, h, 24, nullptr, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint8_t* s = &rgb[(size_t(y) * w + x) * 3];
                uint8_t* d = pic.Bits + size_t(h - 1 - y) * pic.RowBytes + 3 * size_t(x);
                d[0] = s[2], d[1] = s[1], d[2] = s[0];
            }
        DibHandle pic8;
        DIBHalftoneDIB(pic8, pic);
        ForceScreenBitsPerPixel(32);
        MemoryDC dc(1000, 700);
        struct Case { const char* name; const DibHandle* dib; int percent; };
        for (const Case c : {Case{"view_ms.zoom9000", &pic, 9000}, Case{"view_ms.zoom100", &pic, 100},
                             Case{"view_ms.zoom5", &pic, 5}, Case{"view_ms.8bit_zoom100", &pic8, 100}}) {
            const int64_t dw = int64_t(w) * c.percent / 100, dh = int64_t(h) * c.percent / 100;
            // Centred on the picture's middle, as the viewer shows it after zooming.
            const int32_t dx = int32_t(500 - dw / 2), dy = int32_t(350 - dh / 2);
            const double ms = MedianMs(15, [&] {
                DrawDibScaled(dc, dx, dy, int32_t(dw), int32_t(dh), *c.dib, 0, 0, w, h, false, SRCCOPY, true,
                              nullptr);
            });
            Report(c.name, ms, "ms");
        }
        const double halftone = MedianMs(5, [&] {
            DibHandle t;
            DIBHalftoneDIBXY(t, pic, 1000, 700);
            deldib(t);
        });
        Report("halftone_ms", halftone, "ms");
        deldib(pic8);
        deldib(pic);
    }
    return 0;
}
