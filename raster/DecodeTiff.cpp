// TIFF over libtiff, read from memory; the first image of the file only.
//
// Simple layouts are read scanline by scanline straight into the DIB rows:
// palette and greyscale pictures of 1, 2, 4 or 8 bits keep their depth with a
// colour table (2 bits become 4), 8-bit RGB becomes BGR in place. Every other
// layout (tiles, planes, 16 bits, CMYK, YCbCr, alpha, other orientations)
// goes through libtiff's RGBA reader and becomes 24 bits, alpha composited on
// white like the other decoders.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <tiffio.h>

#include "raster/Decoders.h"

namespace raster {

namespace {

struct Source {
    const uint8_t* data;
    size_t size;
    uint64_t pos;
    char message[160];
};

tmsize_t ReadProc(thandle_t h, void* dst, tmsize_t length)
{
    auto* src = static_cast<Source*>(h);
    if (length <= 0 || src->pos >= src->size)
        return 0;
    const size_t n = std::min(static_cast<size_t>(length), static_cast<size_t>(src->size - src->pos));
    std::memcpy(dst, src->data + src->pos, n);
    src->pos += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) { return 0; }

toff_t SeekProc(thandle_t h, toff_t offset, int whence)
{
    auto* src = static_cast<Source*>(h);
    uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = src->pos;
    else if (whence == SEEK_END)
        base = src->size;
    // Positions past the end are allowed (reads there return nothing).
    if (offset > UINT64_MAX / 2 || base + offset > (UINT64_MAX / 2))
        return static_cast<toff_t>(-1);
    src->pos = base + offset;
    return src->pos;
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t h) { return static_cast<Source*>(h)->size; }

int MapProc(thandle_t h, void** base, toff_t* size)
{
    auto* src = static_cast<Source*>(h);
    *base = const_cast<uint8_t*>(src->data);
    *size = src->size;
    return 1;
}

void UnmapProc(thandle_t, void*, toff_t) {}

int OnError(TIFF*, void* user, const char*, const char* fmt, va_list ap)
{
    auto* src = static_cast<Source*>(user);
    if (!src->message[0])
        std::vsnprintf(src->message, sizeof src->message, fmt, ap);
    return 1;
}

int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
    TIFF* tif = nullptr;
    TIFFOpenOptions* opts = nullptr;
    ~TiffCloser()
    {
        if (tif)
            TIFFClose(tif);
        if (opts)
            TIFFOpenOptionsFree(opts);
    }
};

void Fail(DibHandle& out, const Source& src, const char* why)
{
    deldib(out);
    out.ErrorText = std::string("TIFF-Fehler: ") + (src.message[0] ? src.message : why);
}

// Colour table of a palette or greyscale picture; false when the palette is missing.
bool MakeTable(TIFF* tif, uint16_t photometric, uint16_t bps, BITMAPINFO& table)
{
    const int levels = 1 << bps;
    if (photometric == PHOTOMETRIC_PALETTE) {
        uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
        if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) || !r || !g || !b)
            return false;
        // Old writers stored 8-bit values in the 16-bit map.
        bool eightBit = true;
        for (int i = 0; i < levels; ++i)
            if (r[i] >= 256 || g[i] >= 256 || b[i] >= 256)
                eightBit = false;
        const int shift = eightBit ? 0 : 8;
        for (int i = 0; i < levels; ++i)
            table.bmiColors[i] = RGBQUAD{uint8_t(b[i] >> shift), uint8_t(g[i] >> shift), uint8_t(r[i] >> shift), 0};
        return true;
    }
    for (int i = 0; i < levels; ++i) {
        auto v = static_cast<uint8_t>(i * 255 / (levels - 1));
        if (photometric == PHOTOMETRIC_MINISWHITE)
            v = static_cast<uint8_t>(255 - v);
        table.bmiColors[i] = RGBQUAD{v, v, v, 0};
    }
    return true;
}

bool DecodeByScanline(TIFF* tif, uint32_t w, uint32_t h, uint16_t photometric, uint16_t bps, uint16_t spp,
                      DibHandle& out, Source& src)
{
    const int32_t width = static_cast<int32_t>(w), height = static_cast<int32_t>(h);
    const tmsize_t scanline = TIFFScanlineSize(tif);
    std::vector<uint8_t> line;
    if (spp == 3) {
        newdib(out, width, height, 24, nullptr, 0);
        if (!out.Bits || scanline != static_cast<tmsize_t>(w) * 3)
            return false;
        for (int32_t y = 0; y < height; ++y) {
            uint8_t* row = out.Bits + static_cast<size_t>(height - 1 - y) * static_cast<size_t>(out.RowBytes);
            if (TIFFReadScanline(tif, row, static_cast<uint32_t>(y), 0) < 0)
                return false;
            for (int32_t x = 0; x < width; ++x)
                std::swap(row[3 * x], row[3 * x + 2]);
        }
        return true;
    }
    BITMAPINFO table;
    if (!MakeTable(tif, photometric, bps, table)) {
        std::snprintf(src.message, sizeof src.message, "Farbtabelle fehlt");
        return false;
    }
    const int depth = bps == 2 ? 4 : bps;
    newdib(out, width, height, depth, &table, 1 << depth);
    if (!out.Bits || scanline <= 0 || static_cast<uint64_t>(scanline) != (static_cast<uint64_t>(w) * bps + 7) / 8)
        return false;
    if (bps == 2)
        line.resize(static_cast<size_t>(scanline));
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = out.Bits + static_cast<size_t>(height - 1 - y) * static_cast<size_t>(out.RowBytes);
        if (TIFFReadScanline(tif, bps == 2 ? line.data() : row, static_cast<uint32_t>(y), 0) < 0)
            return false;
        if (bps == 2)
            for (int32_t x = 0; x < width; x += 2) {
                const unsigned b = line[static_cast<size_t>(x >> 2)];
                const unsigned hi = (b >> (6 - 2 * (x & 3))) & 3;
                const unsigned lo = (x + 1 < width) ? (b >> (4 - 2 * (x & 3))) & 3 : 0;
                row[x >> 1] = static_cast<uint8_t>((hi << 4) | lo);
            }
    }
    return true;
}

bool DecodeByRgba(TIFF* tif, uint32_t w, uint32_t h, DibHandle& out, Source& src)
{
    char why[1024] = {0};
    if (!TIFFRGBAImageOK(tif, why)) {
        if (!src.message[0]) {
            // libtiff's reason may be longer than our message: keep its start.
            const size_t n = std::min(std::strlen(why), sizeof src.message - 1);
            std::memcpy(src.message, why, n);
            src.message[n] = '\0';
        }
        return false;
    }
    newdib(out, static_cast<int32_t>(w), static_cast<int32_t>(h), 24, nullptr, 0);
    if (!out.Bits)
        return false;
    const uint64_t pixels = static_cast<uint64_t>(w) * h;
    if (pixels * 4 > 2 * kMaxDibPixelBytes)
        return false;
    std::unique_ptr<uint32_t, decltype(&std::free)> raster(
        static_cast<uint32_t*>(std::malloc(static_cast<size_t>(pixels) * 4)), &std::free);
    if (!raster) {
        std::snprintf(src.message, sizeof src.message, "Zu wenig Speicher");
        return false;
    }
    if (!TIFFReadRGBAImageOriented(tif, w, h, raster.get(), ORIENTATION_BOTLEFT, 1))
        return false;
    // libtiff hands out premultiplied colour, so white shows through as 255 - alpha.
    for (uint32_t y = 0; y < h; ++y) {
        const uint32_t* s = raster.get() + static_cast<size_t>(y) * w;
        uint8_t* d = out.Bits + static_cast<size_t>(y) * static_cast<size_t>(out.RowBytes);
        for (uint32_t x = 0; x < w; ++x, d += 3) {
            const uint32_t p = s[x];
            const unsigned back = 255u - TIFFGetA(p);
            d[0] = static_cast<uint8_t>(std::min(255u, TIFFGetB(p) + back));
            d[1] = static_cast<uint8_t>(std::min(255u, TIFFGetG(p) + back));
            d[2] = static_cast<uint8_t>(std::min(255u, TIFFGetR(p) + back));
        }
    }
    return true;
}

}  // namespace

void DecodeTiff(const uint8_t* data, size_t size, DibHandle& out)
{
    out.Bits = nullptr;
    out.Info = nullptr;
    out.PaletteHandle = nullptr;
    Source src{data, size, 0, {}};
    TiffCloser c;
    c.opts = TIFFOpenOptionsAlloc();
    if (!c.opts) {
        out.ErrorText = "Zu wenig Speicher";
        return;
    }
    TIFFOpenOptionsSetMaxSingleMemAlloc(c.opts, static_cast<tmsize_t>(kMaxDibPixelBytes / 2));
    TIFFOpenOptionsSetErrorHandlerExtR(c.opts, OnError, &src);
    TIFFOpenOptionsSetWarningHandlerExtR(c.opts, OnWarning, &src);
    c.tif = TIFFClientOpenExt("memory", "r", &src, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc, MapProc,
                              UnmapProc, c.opts);
    if (!c.tif)
        return Fail(out, src, "keine TIFF-Datei");
    TIFF* tif = c.tif;
    uint32_t w = 0, h = 0;
    uint16_t bps = 1, spp = 1, photometric = PHOTOMETRIC_MINISWHITE, planar = PLANARCONFIG_CONTIG;
    uint16_t orientation = ORIENTATION_TOPLEFT, extra = 0;
    uint16_t* extraTypes = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h))
        return Fail(out, src, "Bildgröße fehlt");
    if (w == 0 || h == 0 || w > uint32_t(kMaxDibDimension) || h > uint32_t(kMaxDibDimension))
        return Fail(out, src, "Bildgröße ungültig");
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extra, &extraTypes);
    const bool hasPhotometric = TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) != 0;

    const bool simple = !TIFFIsTiled(tif) && orientation == ORIENTATION_TOPLEFT && extra == 0 &&
                        (spp == 1 || planar == PLANARCONFIG_CONTIG) && hasPhotometric;
    const bool indexed = spp == 1 && (bps == 1 || bps == 2 || bps == 4 || bps == 8) &&
                         (photometric == PHOTOMETRIC_PALETTE || photometric == PHOTOMETRIC_MINISBLACK ||
                          photometric == PHOTOMETRIC_MINISWHITE);
    const bool rgb = spp == 3 && bps == 8 && photometric == PHOTOMETRIC_RGB;
    bool ok;
    if (simple && (indexed || rgb)) {
        ok = DecodeByScanline(tif, w, h, photometric, bps, spp, out, src);
    } else {
        ok = DecodeByRgba(tif, w, h, out, src);
    }
    if (!ok)
        return Fail(out, src, out.ErrorText.empty() ? "Datei beschädigt" : out.ErrorText.c_str());
    out.ErrorText.clear();
}

}  // namespace raster
