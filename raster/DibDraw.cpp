// Scaled drawing of a picture: clipping of the source rectangle, the choice
// among halftoning, the two row methods and the stretch, and the fallbacks
// when a device cannot stretch.
#include "raster/DibDraw.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace raster {

namespace {

std::mutex hookMutex;
std::function<int()> depthQuery;
DrawMessageSink messageSink;
std::atomic<int> forcedDepth{0};

void ShowMessage(const char* text)
{
    DrawMessageSink sink;
    {
        std::lock_guard<std::mutex> lock(hookMutex);
        sink = messageSink;
    }
    if (sink)
        sink(text);
    else
        std::fprintf(stderr, "%s\n", text);
}

bool Drawable(const DibHandle& dib)
{
    if (!dib.Bits || !dib.Info)
        return false;
    const BITMAPINFOHEADER& h = dib.Info->bmiHeader;
    return h.biWidth > 0 && h.biHeight > 0 && h.biWidth <= kMaxDibDimension && h.biHeight <= kMaxDibDimension &&
           dib.RowBytes > 0 && static_cast<uint64_t>(dib.RowBytes) >= DibRowBytes(h.biWidth, h.biBitCount);
}

// The part of the destination rectangle inside the clip box, relative to the
// rectangle's top-left corner; empty when nothing shows.
Rect VisiblePart(const DeviceContext& dc, int64_t destX, int64_t destY, int64_t destWidth, int64_t destHeight)
{
    const Rect clip = dc.GetClipBox();
    const int64_t left = std::max<int64_t>(0, clip.left - destX);
    const int64_t top = std::max<int64_t>(0, clip.top - destY);
    const int64_t right = std::min<int64_t>(destWidth, int64_t(clip.right) - destX);
    const int64_t bottom = std::min<int64_t>(destHeight, int64_t(clip.bottom) - destY);
    if (right <= left || bottom <= top)
        return Rect{};
    return Rect{int32_t(left), int32_t(top), int32_t(right), int32_t(bottom)};
}

void DrawRows(DeviceContext& dc, int32_t destX, int32_t destY, int32_t destWidth, int32_t destHeight,
              const DibHandle& dib, int32_t srcX, int32_t srcTop, int32_t srcWidth, int32_t srcHeight, int bytes)
{
    if (!Drawable(dib) || dib.Info->bmiHeader.biBitCount != bytes * 8 || destWidth <= 0 || destHeight <= 0)
        return;
    const int64_t W = dib.Info->bmiHeader.biWidth, H = dib.Info->bmiHeader.biHeight;
    // Only the columns and rows inside the clip box are built; the one-row
    // picture is as wide as the visible part, not the whole destination.
    const Rect vis = VisiblePart(dc, destX, destY, destWidth, destHeight);
    if (vis.Empty())
        return;
    const int32_t width = vis.right - vis.left;
    DibHandle row;
    newdib(row, width, 1, bytes * 8, bytes == 1 ? dib.Info : nullptr, bytes == 1 ? 256 : 0);
    if (!row.Bits)
        return;
    std::vector<int64_t> table(static_cast<size_t>(width));
    int32_t first = -1, last = -1;
    for (int32_t c = 0; c < width; ++c) {
        const int64_t i = vis.left + c;
        const int64_t entry = bytes * (int64_t(srcX) + (int64_t(srcWidth) * i) / destWidth);
        table[size_t(c)] = entry;
        if (entry >= 0 && entry < bytes * W) {
            if (first < 0)
                first = c;
            last = c;
        }
    }
    const int64_t rowBytes = dib.RowBytes;
    const int64_t lastRowOffset = (H - 1) * rowBytes;
    int64_t builtOffset = -1;
    for (int32_t r = vis.top; r < vis.bottom; ++r) {
        const int64_t y = int64_t(srcTop) + (int64_t(srcHeight) * r) / destHeight;
        const int64_t off = (H - 1 - y) * rowBytes;
        if (off < 0 || off > lastRowOffset) {
            std::memset(row.Bits, 0, static_cast<size_t>(row.RowBytes));
            builtOffset = -1;  // the buffer no longer holds that row
        } else if (off != builtOffset) {
            const uint8_t* src = dib.Bits + off;
            if (first >= 0) {
                if (bytes == 3) {
                    for (int32_t c = first; c <= last; ++c)
                        std::memcpy(row.Bits + 3 * size_t(c), src + table[size_t(c)], 3);
                } else {
                    for (int32_t c = first; c <= last; ++c)
                        row.Bits[c] = src[table[size_t(c)]];
                }
            }
            builtOffset = off;
        }
        dc.SetDIBitsToDevice(destX + vis.left, destY + r, uint32_t(width), 1, 0, 0, 0, 1, row.Bits, row.Info,
                             DIB_RGB_COLORS);
    }
    deldib(row);
}

// Nearest-neighbour copy with aligned ends, built only for the visible part.
bool FallbackSampled(DeviceContext& dc, int64_t dx, int64_t dy, int64_t dw, int64_t dh, const DibHandle& dib,
                     int64_t sx, int64_t sy, int64_t sw, int64_t sh)
{
    const Rect vis = VisiblePart(dc, dx, dy, dw, dh);
    if (vis.Empty())
        return true;
    const int bits = DibBitCount(dib);
    const int64_t colours = DibColorCount(dib);
    const int32_t cw = vis.right - vis.left, ch = vis.bottom - vis.top;
    DibHandle tmp;
    newdib(tmp, cw, ch, bits, dib.Info, colours <= 256 ? int(colours) : 0);
    if (!tmp.Bits)
        return false;
    const int64_t W = dib.Info->bmiHeader.biWidth, H = dib.Info->bmiHeader.biHeight;
    // A destination one pixel wide or high takes the first column or row of the source rectangle.
    const int64_t xDiv = std::max<int64_t>(1, dw - 1), yDiv = std::max<int64_t>(1, dh - 1);
    for (int32_t k = 0; k < ch; ++k) {
        // Stored row k of tmp is destination row (top down) vis.bottom - 1 - k.
        const int64_t y = dh - 1 - (vis.bottom - 1 - k);
        const int64_t srcRow = sy + (sh - 1) * y / yDiv;
        if (srcRow < 0 || srcRow >= H)
            continue;
        const uint8_t* s = dib.Bits + srcRow * int64_t(dib.RowBytes);
        uint8_t* d = tmp.Bits + int64_t(k) * tmp.RowBytes;
        for (int32_t c = 0; c < cw; ++c) {
            const int64_t x = vis.left + c;
            const int64_t col = sx + (sw - 1) * x / xDiv;
            if (col < 0 || col >= W)
                continue;
            switch (bits) {
            case 1: setpixel(tmp, c, k, getpixel(dib, int32_t(col), int32_t(srcRow))); break;
            case 4: {
                const unsigned v = (col & 1) ? (s[col >> 1] & 0x0F) : (s[col >> 1] >> 4);
                d[c >> 1] = static_cast<uint8_t>(d[c >> 1] | ((c & 1) ? v : (v << 4)));
                break;
            }
            case 8: d[c] = s[col]; break;
            default: {
                const int bytes = bits / 8;
                std::memcpy(d + int64_t(c) * bytes, s + col * bytes, size_t(bytes));
                break;
            }
            }
        }
    }
    const int sent = dc.SetDIBitsToDevice(int32_t(dx + vis.left), int32_t(dy + vis.top), uint32_t(cw), uint32_t(ch),
                                          0, 0, 0, uint32_t(ch), tmp.Bits, tmp.Info, DIB_RGB_COLORS);
    deldib(tmp);
    return sent != 0;
}

void StretchFallback(DeviceContext& dc, int64_t dx, int64_t dy, int64_t dw, int64_t dh, const DibHandle& dib,
                     int64_t sx, int64_t sy, int64_t sw, int64_t sh, uint32_t rop)
{
    if ((dc.GetDeviceCaps(RASTERCAPS) & RC_DIBTODEV) && FallbackSampled(dc, dx, dy, dw, dh, dib, sx, sy, sw, sh))
        return;
    const int32_t W = DibWidth(dib), H = DibHeight(dib);
    std::unique_ptr<DeviceBitmap> bitmap = dc.CreateCompatibleBitmap(W, H);
    std::unique_ptr<DeviceContext> memory = bitmap ? dc.CreateCompatibleDC() : nullptr;
    if (!bitmap || !memory) {
        ShowMessage("Konnte Bitmap nicht erzeugen!");
        return;
    }
    if (!dc.SetDIBits(*bitmap, 0, uint32_t(H), dib.Bits, dib.Info, DIB_RGB_COLORS)) {
        ShowMessage("Das Gerät unterstützt die Funtkion setdibits nicht!");
        return;
    }
    DeviceBitmap* before = memory->SelectBitmap(bitmap.get());
    // The bitmap's rows run top down, so the picture's bottom-based SrcY is turned over.
    const int64_t top = H - sy - sh;
    if (!dc.StretchBlt(int32_t(dx), int32_t(dy), int32_t(dw), int32_t(dh), *memory, int32_t(sx), int32_t(top),
                       int32_t(sw), int32_t(sh), rop))
        ShowMessage("Das Gerät unterstützt die Funktion StretchBlt nicht!");
    memory->SelectBitmap(before);
}

// Halftones only the part of the picture that shows through the clip box
// when enlarging (a zoomed view shows a small part of a large picture). The
// part starts on a multiple of 8 in both directions, so its dither pattern
// matches that of the whole picture and neighbouring paints join seamlessly.
// (cropX, cropY) is where the part starts in the picture.
void HalftoneVisiblePart(const DeviceContext& dc, int64_t dx, int64_t dy, int64_t dw, int64_t dh,
                         const DibHandle& dib, int64_t sx, int64_t sy, int64_t sw, int64_t sh, DibHandle& t,
                         int64_t& cropX, int64_t& cropY)
{
    const Rect vis = VisiblePart(dc, dx, dy, dw, dh);
    if (vis.Empty())
        return;
    const int64_t W = DibWidth(dib), H = DibHeight(dib);
    const int64_t colLo = std::clamp<int64_t>(sx + vis.left * sw / dw, 0, W - 1);
    const int64_t colHi = std::clamp<int64_t>(sx + (vis.right - 1) * sw / dw, 0, W - 1);
    const int64_t rowHi = std::clamp<int64_t>(sy + sh - 1 - vis.top * sh / dh, 0, H - 1);
    const int64_t rowLo = std::clamp<int64_t>(sy + sh - 1 - (vis.bottom - 1) * sh / dh, 0, H - 1);
    cropX = colLo & ~int64_t(7);
    cropY = rowLo & ~int64_t(7);
    BITMAPINFO header;
    header.bmiHeader = dib.Info->bmiHeader;
    header.bmiHeader.biWidth = int32_t(colHi + 1 - cropX);
    header.bmiHeader.biHeight = int32_t(rowHi + 1 - cropY);
    DibHandle part = dib;
    part.Info = &header;
    part.Bits = dib.Bits + cropY * dib.RowBytes + cropX * (DibBitCount(dib) / 8);
    DIBHalftoneDIB(t, part);
}

}  // namespace

int64_t RoundHalfEven(int64_t num, int64_t den)
{
    int64_t q = num / den, r = num % den;
    if (r < 0) {
        q -= 1;
        r += den;
    }
    if (2 * r > den || (2 * r == den && (q & 1)))
        ++q;
    return q;
}

int32_t DibWidth(const DibHandle& dib) { return dib.Info ? dib.Info->bmiHeader.biWidth : 0; }
int32_t DibHeight(const DibHandle& dib) { return dib.Info ? dib.Info->bmiHeader.biHeight : 0; }
int DibBitCount(const DibHandle& dib) { return dib.Info ? dib.Info->bmiHeader.biBitCount : 0; }

int64_t PowerOfTwo(int n)
{
    if (n <= 0)
        return 1;
    return n >= 62 ? (int64_t(1) << 62) : (int64_t(1) << n);
}

int64_t DibColorCount(const DibHandle& dib) { return PowerOfTwo(DibBitCount(dib)); }

int ScreenBitsPerPixel()
{
    if (const int forced = forcedDepth.load())
        return forced;
    std::function<int()> query;
    {
        std::lock_guard<std::mutex> lock(hookMutex);
        query = depthQuery;
    }
    const int bits = query ? query() : 0;
    return bits > 0 ? bits : 32;
}

void SetScreenDepthQuery(std::function<int()> query)
{
    std::lock_guard<std::mutex> lock(hookMutex);
    depthQuery = std::move(query);
}

void ForceScreenBitsPerPixel(int bits) { forcedDepth.store(bits > 0 ? bits : 0); }

void SetDrawMessageSink(DrawMessageSink sink)
{
    std::lock_guard<std::mutex> lock(hookMutex);
    messageSink = std::move(sink);
}

void DrawDibRows24(DeviceContext& dc, int32_t destX, int32_t destY, int32_t destWidth, int32_t destHeight,
                   const DibHandle& dib, int32_t srcX, int32_t srcTop, int32_t srcWidth, int32_t srcHeight)
{
    DrawRows(dc, destX, destY, destWidth, destHeight, dib, srcX, srcTop, srcWidth, srcHeight, 3);
}

void DrawDibRows8(DeviceContext& dc, int32_t destX, int32_t destY, int32_t destWidth, int32_t destHeight,
                  const DibHandle& dib, int32_t srcX, int32_t srcTop, int32_t srcWidth, int32_t srcHeight)
{
    DrawRows(dc, destX, destY, destWidth, destHeight, dib, srcX, srcTop, srcWidth, srcHeight, 1);
}

void DrawDibScaled(DeviceContext& dc, int32_t destX, int32_t destY, int32_t destWidth, int32_t destHeight,
                   const DibHandle& dib, int32_t srcX, int32_t srcY, int32_t srcWidth, int32_t srcHeight,
                   bool halftone, uint32_t rop, bool useOwnPalette, const LogPalette* palette)
{
    if (!Drawable(dib))
        return;
    const bool printer = dc.GetDeviceCaps(TECHNOLOGY) == DT_RASPRINTER;
    dc.SetStretchBltMode(COLORONCOLOR);

    const int64_t W = DibWidth(dib), H = DibHeight(dib);
    int64_t dx = destX, dy = destY, dw = destWidth, dh = destHeight;
    int64_t sx = srcX, sy = srcY, sw = srcWidth, sh = srcHeight;
    // Every scaling below divides by a source size; an empty rectangle draws nothing.
    auto empty = [&] { return sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0; };
    if (empty())
        return;
    if (sx + sw > W) {
        dw = RoundHalfEven(dw * (W - sx), sw);
        sw = W - sx;
        if (empty())
            return;
    }
    if (sy < 0) {
        dh = RoundHalfEven(dh * (sh + sy), sh);
        sh = sh + sy;
        sy = 0;
        if (empty())
            return;
    }
    if (sy + sh > H) {
        const int64_t h = RoundHalfEven(dh * (H - sy), sh);
        dy += dh - h;
        dh = h;
        sh = H - sy;
        if (empty())
            return;
    }
    if (sx < 0) {
        const int64_t w = RoundHalfEven(dw * (sx + sw), sw);
        dx += dw - w;
        dw = w;
        sw = sw + sx;
        sx = 0;
        if (empty())
            return;
    }
    if (dx < INT32_MIN || dx > INT32_MAX || dy < INT32_MIN || dy > INT32_MAX)
        return;

    const LogPalette* previous = nullptr;
    bool selected = false;
    auto selectPalette = [&](const LogPalette* p) {
        if (!p)
            return;
        const LogPalette* before = dc.SelectPalette(p, false);
        if (!selected) {
            previous = before;
            selected = true;
        }
        dc.RealizePalette();
    };
    if (dib.HasPalette == 1)
        selectPalette(useOwnPalette ? dib.PaletteHandle : palette);

    const int bits = DibBitCount(dib);
    bool drawn = false;
    if (bits == 24 && ScreenBitsPerPixel() <= 8 && halftone) {
        const bool shrinks = sw > dw || sh > dh;
        DibHandle t;
        int64_t cropX = 0, cropY = 0;
        if (shrinks) {
            const int64_t tw = RoundHalfEven(W * dw, sw), th = RoundHalfEven(H * dh, sh);
            if (tw > 0 && th > 0 && tw <= kMaxDibDimension && th <= kMaxDibDimension)
                DIBHalftoneDIBXY(t, dib, int32_t(tw), int32_t(th));
        } else {
            HalftoneVisiblePart(dc, dx, dy, dw, dh, dib, sx, sy, sw, sh, t, cropX, cropY);
        }
        // When the halftone picture cannot be made (size limits), the row or
        // stretch method below still draws the picture.
        if (t.Bits) {
            const LogPalette* chosen = useOwnPalette ? dib.PaletteHandle : palette;
            selectPalette(chosen ? chosen : t.PaletteHandle);
            if (shrinks) {
                const int64_t tx = RoundHalfEven(DibWidth(t) * sx, W), ty = RoundHalfEven(DibHeight(t) * sy, H);
                dc.StretchDIBits(int32_t(dx), int32_t(dy), int32_t(dw), int32_t(dh), int32_t(tx), int32_t(ty),
                                 int32_t(dw), int32_t(dh), t.Bits, t.Info, DIB_RGB_COLORS, rop);
            } else {
                dc.StretchDIBits(int32_t(dx), int32_t(dy), int32_t(dw), int32_t(dh), int32_t(sx - cropX),
                                 int32_t(sy - cropY), int32_t(sw), int32_t(sh), t.Bits, t.Info, DIB_RGB_COLORS, rop);
            }
            deldib(t);
            drawn = true;
        }
    }
    if (!drawn && bits == 24 && !printer) {
        DrawDibRows24(dc, int32_t(dx), int32_t(dy), int32_t(dw), int32_t(dh), dib, int32_t(sx), int32_t(H - sy - sh),
                      int32_t(sw), int32_t(sh));
    } else if (!drawn && bits == 8 && !printer) {
        DrawDibRows8(dc, int32_t(dx), int32_t(dy), int32_t(dw), int32_t(dh), dib, int32_t(sx), int32_t(H - sy - sh),
                     int32_t(sw), int32_t(sh));
    } else if (!drawn) {
        const int result = dc.StretchDIBits(int32_t(dx), int32_t(dy), int32_t(dw), int32_t(dh), int32_t(sx),
                                            int32_t(sy), int32_t(sw), int32_t(sh), dib.Bits, dib.Info,
                                            DIB_RGB_COLORS, rop);
        if (result == GDI_ERROR)
            StretchFallback(dc, dx, dy, dw, dh, dib, sx, sy, sw, sh, rop);
    }
    if (selected)
        dc.SelectPalette(previous, false);
}

}  // namespace raster
