// The device-context layer: what scaled drawing asks of a screen, a print
// preview or a printer, in the terms of the GDI calls (SetDIBitsToDevice,
// StretchDIBits, palettes, device caps) the drawing code is written in. MemoryDC is a raster in memory (the screen and every test);
// ui/PrinterDC puts the same calls onto a QPainter.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "raster/Rasterwerk.h"

namespace raster {

// GetDeviceCaps indices and values.
inline constexpr int TECHNOLOGY = 2;
inline constexpr int BITSPIXEL = 12;
inline constexpr int RASTERCAPS = 38;
inline constexpr int DT_RASDISPLAY = 1;
inline constexpr int DT_RASPRINTER = 2;
inline constexpr int RC_BITBLT = 0x0001;
inline constexpr int RC_PALETTE = 0x0100;
inline constexpr int RC_DIBTODEV = 0x0200;
inline constexpr int RC_STRETCHBLT = 0x0800;
inline constexpr int RC_STRETCHDIB = 0x2000;

inline constexpr int BLACKONWHITE = 1;
inline constexpr int COLORONCOLOR = 3;
inline constexpr int HALFTONE = 4;
inline constexpr uint32_t DIB_RGB_COLORS = 0;
inline constexpr int GDI_ERROR = -1;

// Raster operations the layer carries out; others make a blit fail.
inline constexpr uint32_t SRCCOPY = 0x00CC0020;
inline constexpr uint32_t SRCPAINT = 0x00EE0086;
inline constexpr uint32_t SRCAND = 0x008800C6;
inline constexpr uint32_t SRCINVERT = 0x00660046;
inline constexpr uint32_t NOTSRCCOPY = 0x00330008;

struct Rect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    bool Empty() const { return right <= left || bottom <= top; }
};

// A device-dependent bitmap: 0x00RRGGBB pixels, rows top down.
struct DeviceBitmap {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;
};

// Largest device bitmap the layer makes (pixels).
inline constexpr uint64_t kMaxDeviceBitmapPixels = kMaxDibPixelBytes / 4;

// Colour of a pixel of a DIB in 0x00RRGGBB, through its colour table where it has one.
uint32_t DibPixelRgb(const BITMAPINFO& info, const uint8_t* row, int32_t x);
// A DIB header the layer can read: uncompressed, the depths decoders produce,
// sizes within limits.
bool UsableDib(const void* bits, const BITMAPINFO* info);
// Applies a raster operation; false when the operation is not supported.
bool ApplyRop(uint32_t rop, uint32_t src, uint32_t& dst);

class DeviceContext {
public:
    virtual ~DeviceContext() = default;

    virtual int GetDeviceCaps(int index) const = 0;
    // Returns the previous mode.
    virtual int SetStretchBltMode(int mode) = 0;
    // Returns the palette selected before; nullptr is "the default palette".
    virtual const LogPalette* SelectPalette(const LogPalette* palette, bool forceBackground) = 0;
    // Number of entries mapped into the device's palette (0 on true colour).
    virtual int RealizePalette() = 0;
    // Copies scan lines [startScan, startScan + lines) of a bottom-up DIB;
    // (xSrc, ySrc) is the lower-left corner of the source rectangle.
    // Returns the number of scan lines set, 0 on failure.
    virtual int SetDIBitsToDevice(int32_t xDest, int32_t yDest, uint32_t width, uint32_t height, int32_t xSrc,
                                  int32_t ySrc, uint32_t startScan, uint32_t lines, const void* bits,
                                  const BITMAPINFO* info, uint32_t usage) = 0;
    // Scales a rectangle of a bottom-up DIB (ySrc from the bottom edge) to the
    // destination rectangle (yDest its top). Returns the source height, or
    // GDI_ERROR.
    virtual int StretchDIBits(int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight, int32_t xSrc,
                              int32_t ySrc, int32_t srcWidth, int32_t srcHeight, const void* bits,
                              const BITMAPINFO* info, uint32_t usage, uint32_t rop) = 0;
    virtual std::unique_ptr<DeviceBitmap> CreateCompatibleBitmap(int32_t width, int32_t height) = 0;
    virtual std::unique_ptr<DeviceContext> CreateCompatibleDC() = 0;
    // Fills rows of a device bitmap from a bottom-up DIB; returns lines copied, 0 on failure.
    virtual int SetDIBits(DeviceBitmap& bitmap, uint32_t startScan, uint32_t lines, const void* bits,
                          const BITMAPINFO* info, uint32_t usage) = 0;
    // Makes `bitmap` the drawing surface of a memory context; returns the one before.
    virtual DeviceBitmap* SelectBitmap(DeviceBitmap* bitmap) = 0;
    // Scales a rectangle of `source`'s surface (top-down coordinates) here. Non-zero on success.
    virtual int StretchBlt(int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight, DeviceContext& source,
                           int32_t xSrc, int32_t ySrc, int32_t srcWidth, int32_t srcHeight, uint32_t rop) = 0;
    virtual Rect GetClipBox() const = 0;
    // The surface a memory context draws on; nullptr for devices without one.
    virtual const DeviceBitmap* Surface() const { return nullptr; }
};

// A raster in memory: 32 bits per pixel, or an 8-bit palette device whose
// pixels are indices into the realized palette (drawing picks the nearest
// entry), so the halftone and palette paths run as on a 256-colour screen.
// Tests may make single calls fail and may pretend to be a printer.
class MemoryDC : public DeviceContext {
public:
    MemoryDC(int32_t width, int32_t height, int bitsPerPixel = 32);

    struct Failures {
        bool stretchDIBits = false;
        bool setDIBitsToDevice = false;
        bool createBitmap = false;
        bool setDIBits = false;
        bool stretchBlt = false;
    };
    Failures fail;
    int technology = DT_RASDISPLAY;
    int rasterCaps;
    // What was called, for tests and the benchmark.
    struct Calls {
        int setDIBitsToDevice = 0;
        int stretchDIBits = 0;
        int stretchBlt = 0;
        int setDIBits = 0;
        int selectPalette = 0;
        int realizePalette = 0;
        int lastStretchBits = 0;  // depth of the last picture given to StretchDIBits
        uint64_t pixelsWritten = 0;
    };
    Calls calls;

    // The clip rectangle is in surface pixels.
    void SetClip(const Rect& clip);
    // Drawing coordinates minus the origin are surface pixels: a scrolled view
    // draws in the coordinates of its whole content into the visible part.
    void SetOrigin(int32_t x, int32_t y);
    // ORed into every stored colour (a surface shared with a toolkit image that
    // expects opaque pixels sets 0xFF000000); 32-bit surfaces only.
    uint32_t alphaBits = 0;
    // Colour of a pixel as shown (0x00RRGGBB); in 8-bit mode through the realized palette.
    uint32_t Pixel(int32_t x, int32_t y) const;
    // The stored value: a colour, or a palette index in 8-bit mode.
    uint32_t Raw(int32_t x, int32_t y) const;
    void Fill(uint32_t rgb);
    int32_t Width() const { return surface_->width; }
    int32_t Height() const { return surface_->height; }
    int StretchMode() const { return stretchMode_; }
    const LogPalette* SelectedPalette() const { return selected_; }
    const RGBQUAD* DevicePalette() const { return devicePalette_; }

    int GetDeviceCaps(int index) const override;
    int SetStretchBltMode(int mode) override;
    const LogPalette* SelectPalette(const LogPalette* palette, bool forceBackground) override;
    int RealizePalette() override;
    int SetDIBitsToDevice(int32_t xDest, int32_t yDest, uint32_t width, uint32_t height, int32_t xSrc, int32_t ySrc,
                          uint32_t startScan, uint32_t lines, const void* bits, const BITMAPINFO* info,
                          uint32_t usage) override;
    int StretchDIBits(int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight, int32_t xSrc, int32_t ySrc,
                      int32_t srcWidth, int32_t srcHeight, const void* bits, const BITMAPINFO* info, uint32_t usage,
                      uint32_t rop) override;
    std::unique_ptr<DeviceBitmap> CreateCompatibleBitmap(int32_t width, int32_t height) override;
    std::unique_ptr<DeviceContext> CreateCompatibleDC() override;
    int SetDIBits(DeviceBitmap& bitmap, uint32_t startScan, uint32_t lines, const void* bits, const BITMAPINFO* info,
                  uint32_t usage) override;
    DeviceBitmap* SelectBitmap(DeviceBitmap* bitmap) override;
    int StretchBlt(int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight, DeviceContext& source,
                   int32_t xSrc, int32_t ySrc, int32_t srcWidth, int32_t srcHeight, uint32_t rop) override;
    Rect GetClipBox() const override;
    const DeviceBitmap* Surface() const override { return surface_; }

private:
    // Stores a colour at (x, y), which the caller has clipped.
    void Put(int32_t x, int32_t y, uint32_t rgb, uint32_t rop);
    Rect Visible() const;
    // Device palette index nearest to a colour; looked up on first use of each
    // 15-bit colour and remembered until the next realized palette.
    uint8_t Nearest(uint32_t rgb);

    int bits_;
    DeviceBitmap own_;
    DeviceBitmap* surface_;
    Rect clip_;
    bool clipSet_ = false;
    int32_t originX_ = 0;
    int32_t originY_ = 0;
    int stretchMode_ = BLACKONWHITE;
    const LogPalette* selected_ = nullptr;
    RGBQUAD devicePalette_[256];
    std::vector<int16_t> nearest_;  // 15-bit colour -> device palette index, -1 unknown
};

}  // namespace raster
