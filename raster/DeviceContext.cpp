// The memory raster context and the pixel helpers shared by all contexts.
#include "raster/DeviceContext.h"

#include <algorithm>
#include <cstring>

namespace raster {

uint32_t DibPixelRgb(const BITMAPINFO& info, const uint8_t* row, int32_t x)
{
    const size_t ux = static_cast<size_t>(x);
    auto fromTable = [&](unsigned index) -> uint32_t {
        const RGBQUAD& c = info.bmiColors[index & 255];
        return (uint32_t(c.rgbRed) << 16) | (uint32_t(c.rgbGreen) << 8) | c.rgbBlue;
    };
    switch (info.bmiHeader.biBitCount) {
    case 1: return fromTable((row[ux >> 3] >> (7 - (ux & 7))) & 1);
    case 4: return fromTable((ux & 1) ? (row[ux >> 1] & 0x0F) : (row[ux >> 1] >> 4));
    case 8: return fromTable(row[ux]);
    case 16: {  // 5-5-5, as BI_RGB defines it
        const unsigned v = row[2 * ux] | (row[2 * ux + 1] << 8);
        const unsigned r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
        return (((r << 3) | (r >> 2)) << 16) | (((g << 3) | (g >> 2)) << 8) | ((b << 3) | (b >> 2));
    }
    case 24: return (uint32_t(row[3 * ux + 2]) << 16) | (uint32_t(row[3 * ux + 1]) << 8) | row[3 * ux];
    case 32: return (uint32_t(row[4 * ux + 2]) << 16) | (uint32_t(row[4 * ux + 1]) << 8) | row[4 * ux];
    default: return 0;
    }
}

bool ApplyRop(uint32_t rop, uint32_t src, uint32_t& dst)
{
    switch (rop) {
    case SRCCOPY: dst = src; return true;
    case SRCPAINT: dst |= src; return true;
    case SRCAND: dst &= src; return true;
    case SRCINVERT: dst ^= src; return true;
    case NOTSRCCOPY: dst = ~src & 0xFFFFFF; return true;
    default: return false;
    }
}

namespace {

bool RopSupported(uint32_t rop)
{
    uint32_t d = 0;
    return ApplyRop(rop, 0, d);
}

// A drawing coordinate as a surface pixel, kept within 32 bits for far-off rectangles.
int32_t ToSurface(int32_t v, int32_t origin)
{
    return int32_t(std::clamp<int64_t>(int64_t(v) - origin, INT32_MIN, INT32_MAX));
}

Rect Intersect(const Rect& a, const Rect& b)
{
    return Rect{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom)};
}

}  // namespace

bool UsableDib(const void* bits, const BITMAPINFO* info)
{
    if (!bits || !info)
        return false;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    const int b = h.biBitCount;
    return (b == 1 || b == 4 || b == 8 || b == 16 || b == 24 || b == 32) && h.biWidth > 0 && h.biHeight > 0 &&
           h.biWidth <= kMaxDibDimension && h.biHeight <= kMaxDibDimension && h.biCompression == 0;
}

MemoryDC::MemoryDC(int32_t width, int32_t height, int bitsPerPixel)
    : rasterCaps(RC_BITBLT | RC_DIBTODEV | RC_STRETCHBLT | RC_STRETCHDIB | (bitsPerPixel == 8 ? RC_PALETTE : 0)),
      bits_(bitsPerPixel == 8 ? 8 : 32), surface_(&own_)
{
    own_.width = std::max(0, width);
    own_.height = std::max(0, height);
    own_.pixels.assign(static_cast<size_t>(own_.width) * static_cast<size_t>(own_.height), 0);
    // Until a palette is realized the device shows a 6x6x6 cube and a grey ramp.
    int n = 0;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                devicePalette_[n++] = RGBQUAD{uint8_t(b * 51), uint8_t(g * 51), uint8_t(r * 51), 0};
    for (int i = 0; n < 256; ++i, ++n) {
        const auto v = static_cast<uint8_t>(6 + i * 6 + i / 2);
        devicePalette_[n] = RGBQUAD{v, v, v, 0};
    }
    if (bits_ == 8)
        nearest_.assign(32768, -1);
}

uint8_t MemoryDC::Nearest(uint32_t rgb)
{
    const uint32_t key = ((rgb >> 9) & 0x7C00) | ((rgb >> 6) & 0x3E0) | ((rgb >> 3) & 0x1F);
    int16_t& cached = nearest_[key];
    if (cached >= 0)
        return static_cast<uint8_t>(cached);
    const int r = int((key >> 10) & 31) * 255 / 31, g = int((key >> 5) & 31) * 255 / 31, b = int(key & 31) * 255 / 31;
    int best = 0, bestDist = 1 << 30;
    for (int i = 0; i < 256; ++i) {
        const int dr = r - devicePalette_[i].rgbRed, dg = g - devicePalette_[i].rgbGreen,
                  db = b - devicePalette_[i].rgbBlue;
        const int dist = dr * dr + dg * dg + db * db;
        if (dist < bestDist) {
            bestDist = dist;
            best = i;
        }
    }
    cached = static_cast<int16_t>(best);
    return static_cast<uint8_t>(best);
}

void MemoryDC::SetClip(const Rect& clip)
{
    clip_ = clip;
    clipSet_ = true;
}

Rect MemoryDC::Visible() const
{
    const Rect all{0, 0, surface_->width, surface_->height};
    return clipSet_ ? Intersect(all, clip_) : all;
}

void MemoryDC::SetOrigin(int32_t x, int32_t y)
{
    originX_ = x;
    originY_ = y;
}

Rect MemoryDC::GetClipBox() const
{
    const Rect v = Visible();
    auto back = [](int32_t p, int32_t origin) {
        return int32_t(std::clamp<int64_t>(int64_t(p) + origin, INT32_MIN, INT32_MAX));
    };
    return Rect{back(v.left, originX_), back(v.top, originY_), back(v.right, originX_), back(v.bottom, originY_)};
}

uint32_t MemoryDC::Raw(int32_t x, int32_t y) const
{
    if (x < 0 || y < 0 || x >= surface_->width || y >= surface_->height)
        return 0;
    return surface_->pixels[static_cast<size_t>(y) * static_cast<size_t>(surface_->width) + static_cast<size_t>(x)];
}

uint32_t MemoryDC::Pixel(int32_t x, int32_t y) const
{
    const uint32_t v = Raw(x, y);
    if (bits_ != 8)
        return v;
    const RGBQUAD& c = devicePalette_[v & 255];
    return (uint32_t(c.rgbRed) << 16) | (uint32_t(c.rgbGreen) << 8) | c.rgbBlue;
}

void MemoryDC::Fill(uint32_t rgb)
{
    const uint32_t v = bits_ == 8 ? Nearest(rgb) : rgb | alphaBits;
    std::fill(surface_->pixels.begin(), surface_->pixels.end(), v);
}

void MemoryDC::Put(int32_t x, int32_t y, uint32_t rgb, uint32_t rop)
{
    uint32_t& p = surface_->pixels[static_cast<size_t>(y) * static_cast<size_t>(surface_->width) + static_cast<size_t>(x)];
    ++calls.pixelsWritten;
    if (bits_ != 8) {
        if (rop == SRCCOPY)
            p = rgb | alphaBits;
        else {
            p &= 0xFFFFFF;
            ApplyRop(rop, rgb, p);
            p |= alphaBits;
        }
        return;
    }
    uint32_t shown = rgb;
    if (rop != SRCCOPY) {
        const RGBQUAD& c = devicePalette_[p & 255];
        shown = (uint32_t(c.rgbRed) << 16) | (uint32_t(c.rgbGreen) << 8) | c.rgbBlue;
        ApplyRop(rop, rgb, shown);
    }
    p = Nearest(shown);
}

int MemoryDC::GetDeviceCaps(int index) const
{
    switch (index) {
    case TECHNOLOGY: return technology;
    case BITSPIXEL: return bits_;
    case RASTERCAPS: return rasterCaps;
    default: return 0;
    }
}

int MemoryDC::SetStretchBltMode(int mode)
{
    const int before = stretchMode_;
    stretchMode_ = mode;
    return before;
}

const LogPalette* MemoryDC::SelectPalette(const LogPalette* palette, bool)
{
    ++calls.selectPalette;
    const LogPalette* before = selected_;
    selected_ = palette;
    return before;
}

int MemoryDC::RealizePalette()
{
    ++calls.realizePalette;
    if (bits_ != 8 || !selected_)
        return 0;
    const int n = std::clamp(selected_->count, 0, 256);
    if (std::memcmp(devicePalette_, selected_->entries, sizeof(RGBQUAD) * static_cast<size_t>(n)) != 0) {
        std::memcpy(devicePalette_, selected_->entries, sizeof(RGBQUAD) * static_cast<size_t>(n));
        std::fill(nearest_.begin(), nearest_.end(), int16_t(-1));
    }
    return n;
}

int MemoryDC::SetDIBitsToDevice(int32_t xDest, int32_t yDest, uint32_t width, uint32_t height, int32_t xSrc,
                                int32_t ySrc, uint32_t startScan, uint32_t lines, const void* bits,
                                const BITMAPINFO* info, uint32_t)
{
    ++calls.setDIBitsToDevice;
    xDest = ToSurface(xDest, originX_);
    yDest = ToSurface(yDest, originY_);
    if (fail.setDIBitsToDevice || !UsableDib(bits, info) || width > uint32_t(kMaxDibDimension) ||
        height > uint32_t(kMaxDibDimension))
        return 0;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    const int64_t dibHeight = h.biHeight;
    const uint64_t rowBytes = DibRowBytes(h.biWidth, h.biBitCount);
    // Only the scan lines handed over exist, and never more than the picture has.
    const int64_t firstRow = startScan;
    const int64_t endRow = std::min<int64_t>(int64_t(startScan) + lines, dibHeight);
    const Rect dest{xDest, yDest, int32_t(std::min<int64_t>(int64_t(xDest) + width, INT32_MAX)),
                    int32_t(std::min<int64_t>(int64_t(yDest) + height, INT32_MAX))};
    const Rect r = Intersect(dest, Visible());
    const auto* base = static_cast<const uint8_t*>(bits);
    for (int32_t y = r.top; y < r.bottom; ++y) {
        const int64_t row = int64_t(ySrc) + (int64_t(height) - 1 - (y - yDest));
        if (row < firstRow || row >= endRow)
            continue;
        const uint8_t* src = base + uint64_t(row - firstRow) * rowBytes;
        for (int32_t x = r.left; x < r.right; ++x) {
            const int64_t col = int64_t(xSrc) + (x - xDest);
            if (col < 0 || col >= h.biWidth)
                continue;
            Put(x, y, DibPixelRgb(*info, src, int32_t(col)), SRCCOPY);
        }
    }
    return int(std::max<int64_t>(0, endRow - firstRow));
}

int MemoryDC::StretchDIBits(int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight, int32_t xSrc,
                            int32_t ySrc, int32_t srcWidth, int32_t srcHeight, const void* bits,
                            const BITMAPINFO* info, uint32_t, uint32_t rop)
{
    ++calls.stretchDIBits;
    xDest = ToSurface(xDest, originX_);
    yDest = ToSurface(yDest, originY_);
    calls.lastStretchBits = info ? info->bmiHeader.biBitCount : 0;
    if (fail.stretchDIBits || !UsableDib(bits, info) || !RopSupported(rop) || destWidth <= 0 || destHeight <= 0 ||
        srcWidth <= 0 || srcHeight <= 0)
        return GDI_ERROR;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    const uint64_t rowBytes = DibRowBytes(h.biWidth, h.biBitCount);
    const Rect dest{xDest, yDest, int32_t(std::min<int64_t>(int64_t(xDest) + destWidth, INT32_MAX)),
                    int32_t(std::min<int64_t>(int64_t(yDest) + destHeight, INT32_MAX))};
    const Rect r = Intersect(dest, Visible());
    const auto* base = static_cast<const uint8_t*>(bits);
    for (int32_t y = r.top; y < r.bottom; ++y) {
        // Destination rows run top down, the source rectangle's rows bottom up.
        const int64_t j = y - yDest;
        const int64_t row = int64_t(ySrc) + srcHeight - 1 - (j * srcHeight) / destHeight;
        if (row < 0 || row >= h.biHeight)
            continue;
        const uint8_t* src = base + uint64_t(row) * rowBytes;
        for (int32_t x = r.left; x < r.right; ++x) {
            const int64_t col = int64_t(xSrc) + (int64_t(x - xDest) * srcWidth) / destWidth;
            if (col < 0 || col >= h.biWidth)
                continue;
            Put(x, y, DibPixelRgb(*info, src, int32_t(col)), rop);
        }
    }
    return srcHeight;
}

std::unique_ptr<DeviceBitmap> MemoryDC::CreateCompatibleBitmap(int32_t width, int32_t height)
{
    if (fail.createBitmap || width <= 0 || height <= 0 ||
        uint64_t(width) * uint64_t(height) > kMaxDeviceBitmapPixels)
        return nullptr;
    auto bitmap = std::make_unique<DeviceBitmap>();
    bitmap->width = width;
    bitmap->height = height;
    bitmap->pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    return bitmap;
}

std::unique_ptr<DeviceContext> MemoryDC::CreateCompatibleDC()
{
    auto dc = std::make_unique<MemoryDC>(0, 0, 32);
    dc->fail = fail;
    return dc;
}

int MemoryDC::SetDIBits(DeviceBitmap& bitmap, uint32_t startScan, uint32_t lines, const void* bits,
                        const BITMAPINFO* info, uint32_t)
{
    ++calls.setDIBits;
    if (fail.setDIBits || !UsableDib(bits, info) || info->bmiHeader.biWidth != bitmap.width ||
        info->bmiHeader.biHeight != bitmap.height)
        return 0;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    const uint64_t rowBytes = DibRowBytes(h.biWidth, h.biBitCount);
    const int64_t endRow = std::min<int64_t>(int64_t(startScan) + lines, h.biHeight);
    const auto* base = static_cast<const uint8_t*>(bits);
    for (int64_t row = startScan; row < endRow; ++row) {
        const uint8_t* src = base + uint64_t(row - startScan) * rowBytes;
        uint32_t* dst = bitmap.pixels.data() + size_t(h.biHeight - 1 - row) * size_t(bitmap.width);
        for (int32_t x = 0; x < h.biWidth; ++x)
            dst[x] = DibPixelRgb(*info, src, x);
    }
    return int(std::max<int64_t>(0, endRow - int64_t(startScan)));
}

DeviceBitmap* MemoryDC::SelectBitmap(DeviceBitmap* bitmap)
{
    DeviceBitmap* before = surface_ == &own_ ? nullptr : surface_;
    surface_ = bitmap ? bitmap : &own_;
    return before;
}

int MemoryDC::StretchBlt(int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight, DeviceContext& source,
                         int32_t xSrc, int32_t ySrc, int32_t srcWidth, int32_t srcHeight, uint32_t rop)
{
    ++calls.stretchBlt;
    xDest = ToSurface(xDest, originX_);
    yDest = ToSurface(yDest, originY_);
    const DeviceBitmap* from = source.Surface();
    if (fail.stretchBlt || !from || !RopSupported(rop) || destWidth <= 0 || destHeight <= 0 || srcWidth <= 0 ||
        srcHeight <= 0)
        return 0;
    const Rect dest{xDest, yDest, int32_t(std::min<int64_t>(int64_t(xDest) + destWidth, INT32_MAX)),
                    int32_t(std::min<int64_t>(int64_t(yDest) + destHeight, INT32_MAX))};
    const Rect r = Intersect(dest, Visible());
    for (int32_t y = r.top; y < r.bottom; ++y) {
        const int64_t row = int64_t(ySrc) + (int64_t(y - yDest) * srcHeight) / destHeight;
        if (row < 0 || row >= from->height)
            continue;
        for (int32_t x = r.left; x < r.right; ++x) {
            const int64_t col = int64_t(xSrc) + (int64_t(x - xDest) * srcWidth) / destWidth;
            if (col < 0 || col >= from->width)
                continue;
            Put(x, y, from->pixels[size_t(row) * size_t(from->width) + size_t(col)], rop);
        }
    }
    return 1;
}

}  // namespace raster
