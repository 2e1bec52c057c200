// Questions about a picture and the one routine that draws a rectangle of it,
// scaled, into a device context (screen, print preview, printer).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "raster/DeviceContext.h"
#include "raster/Rasterwerk.h"

namespace raster {

int32_t DibWidth(const DibHandle& dib);
int32_t DibHeight(const DibHandle& dib);
int DibBitCount(const DibHandle& dib);
int64_t PowerOfTwo(int n);  // 1 for n <= 0
int64_t DibColorCount(const DibHandle& dib);

// The desktop's colour depth. raster/ cannot ask the window system itself:
// ui/ installs a query at start-up (ui/ScreenDepth). A forced depth, when set
// (tests, the WL_SCREEN_BPP setting), wins over the query; with neither the
// answer is 32.
int ScreenBitsPerPixel();
void SetScreenDepthQuery(std::function<int()> query);
void ForceScreenBitsPerPixel(int bits);  // 0 lifts the force

// Where the drawing code's messages go ("Konnte Bitmap nicht erzeugen!" ...).
// ui/ points it at its responder, which shows a plain message box (no owner,
// default caption, OK); until then messages are written to stderr. The sink
// is called on the drawing thread, with the exact German text.
using DrawMessageSink = std::function<void(const std::string& text)>;
void SetDrawMessageSink(DrawMessageSink sink);

// Draws the source rectangle (SrcY from the bottom edge) of `dib` into the
// destination rectangle (DestY the top edge). Work is bounded by the device's
// clip box. `palette` is used when `useOwnPalette` is false; may be null.
void DrawDibScaled(DeviceContext& dc, int32_t destX, int32_t destY, int32_t destWidth, int32_t destHeight,
                   const DibHandle& dib, int32_t srcX, int32_t srcY, int32_t srcWidth, int32_t srcHeight,
                   bool halftone, uint32_t rop, bool useOwnPalette, const LogPalette* palette);

// Row by row drawing of 24- and 8-bit pictures; srcTop counts rows from the
// top of the picture. Used by DrawDibScaled.
void DrawDibRows24(DeviceContext& dc, int32_t destX, int32_t destY, int32_t destWidth, int32_t destHeight,
                   const DibHandle& dib, int32_t srcX, int32_t srcTop, int32_t srcWidth, int32_t srcHeight);
void DrawDibRows8(DeviceContext& dc, int32_t destX, int32_t destY, int32_t destWidth, int32_t destHeight,
                  const DibHandle& dib, int32_t srcX, int32_t srcTop, int32_t srcWidth, int32_t srcHeight);

// num / den rounded to the nearest integer, halves to even (den > 0).
int64_t RoundHalfEven(int64_t num, int64_t den);

}  // namespace raster
