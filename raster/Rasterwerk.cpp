// The picture record: allocation, release and single-pixel access.
#include "raster/Rasterwerk.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace raster {

int DibTypeForExtension(const std::string& upperExtension)
{
    static constexpr struct {
        const char* Ext;
        int Code;
    } kTypes[] = {
        {".BMP", dtBMP}, {".DIB", dtDIB}, {".GIF", dtGIF}, {".IFF", dtIFF}, {".JIF", dtJIF}, {".JPG", dtJPG},
        {".LBM", dtLBM}, {".PCX", dtPCX}, {".RLE", dtRLE}, {".TGA", dtTGA}, {".TIF", dtTIF}, {".PNG", dtPNG},
        {".WEBP", dtWEBP}, {".AVIF", dtAVIF},
        // The other names cameras and web servers give the same types.
        {".JPEG", dtJPG}, {".JPE", dtJPG}, {".TIFF", dtTIF},
    };
    for (const auto& t : kTypes)
        if (upperExtension == t.Ext)
            return t.Code;
    return dtAuto;
}

uint64_t DibRowBytes(int64_t width, int bitsPerPixel)
{
    if (width <= 0 || width > kMaxDibDimension || bitsPerPixel <= 0 || bitsPerPixel > 32)
        return 0;
    const uint64_t bits = static_cast<uint64_t>(width) * static_cast<uint64_t>(bitsPerPixel);
    return ((bits + 31) / 32) * 4;
}

static bool SupportedDepth(int bits)
{
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

static void Refuse(DibHandle& out, const char* why)
{
    out.Info = nullptr;
    out.Bits = nullptr;
    out.RowBytes = 0;
    out.HasPalette = 0;
    out.PaletteHandle = nullptr;
    out.ErrorText = why;
}

void newdib(DibHandle& out, int32_t width, int32_t height, int bitsPerPixel,
            const BITMAPINFO* colourTable, int colours)
{
    if (!SupportedDepth(bitsPerPixel))
        return Refuse(out, "Farbtiefe nicht unterstützt");
    if (width <= 0 || height <= 0 || width > kMaxDibDimension || height > kMaxDibDimension)
        return Refuse(out, "Bildgröße ungültig");
    // A colour table larger than the depth can index would never be used and
    // a negative or oversized count would overrun bmiColors.
    const int maxColours = bitsPerPixel <= 8 ? (1 << bitsPerPixel) : 256;
    if (colours < 0 || colours > maxColours)
        return Refuse(out, "Farbtabelle ungültig");
    const uint64_t rowBytes = DibRowBytes(width, bitsPerPixel);
    const uint64_t pixelBytes = rowBytes * static_cast<uint64_t>(height);
    if (rowBytes == 0 || pixelBytes > kMaxDibPixelBytes)
        return Refuse(out, "Bild zu groß");

    auto* info = new (std::nothrow) BITMAPINFO();
    auto* bits = static_cast<uint8_t*>(std::calloc(pixelBytes, 1));
    LogPalette* palette = nullptr;
    if (colours > 0 && bitsPerPixel <= 8)
        palette = new (std::nothrow) LogPalette();
    if (!info || !bits || (colours > 0 && bitsPerPixel <= 8 && !palette)) {
        delete info;
        std::free(bits);
        delete palette;
        return Refuse(out, "Zu wenig Speicher");
    }
    BITMAPINFOHEADER& h = info->bmiHeader;
    h.biWidth = width;
    h.biHeight = height;
    h.biBitCount = static_cast<uint16_t>(bitsPerPixel);
    h.biSizeImage = static_cast<uint32_t>(pixelBytes);
    h.biClrUsed = static_cast<uint32_t>(colours);
    h.biXPelsPerMeter = h.biYPelsPerMeter = 3780;  // 96 dpi
    if (colours > 0 && colourTable)
        std::memcpy(info->bmiColors, colourTable->bmiColors, sizeof(RGBQUAD) * static_cast<size_t>(colours));
    if (palette) {
        palette->count = colours;
        std::memcpy(palette->entries, info->bmiColors, sizeof(RGBQUAD) * static_cast<size_t>(colours));
    }
    out.Info = info;
    out.Bits = bits;
    out.RowBytes = static_cast<int32_t>(rowBytes);
    out.HasPalette = palette ? 1 : 0;
    out.PaletteHandle = palette;
    out.ErrorText.clear();
}

void deldib(DibHandle& dib)
{
    delete dib.Info;
    std::free(dib.Bits);
    delete dib.PaletteHandle;
    dib.Info = nullptr;
    dib.Bits = nullptr;
    dib.PaletteHandle = nullptr;
    dib.RowBytes = 0;
    dib.HasPalette = 0;
}

// Address of the byte holding pixel (x, y), y a stored row (0 = bottom);
// nullptr outside the picture.
static uint8_t* PixelRow(const DibHandle& dib, int32_t x, int32_t y)
{
    if (!dib.Bits || !dib.Info)
        return nullptr;
    const BITMAPINFOHEADER& h = dib.Info->bmiHeader;
    if (x < 0 || y < 0 || x >= h.biWidth || y >= h.biHeight)
        return nullptr;
    return dib.Bits + static_cast<size_t>(y) * static_cast<size_t>(dib.RowBytes);
}

uint32_t getpixel(const DibHandle& dib, int32_t x, int32_t y)
{
    const uint8_t* row = PixelRow(dib, x, y);
    if (!row)
        return 0;
    const size_t ux = static_cast<size_t>(x);
    switch (dib.Info->bmiHeader.biBitCount) {
    case 1: return (row[ux >> 3] >> (7 - (ux & 7))) & 1u;
    case 4: return (ux & 1) ? (row[ux >> 1] & 0x0F) : (row[ux >> 1] >> 4);
    case 8: return row[ux];
    case 16: return row[2 * ux] | (row[2 * ux + 1] << 8);
    case 24: return row[3 * ux] | (row[3 * ux + 1] << 8) | (row[3 * ux + 2] << 16);
    case 32: {
        uint32_t v;
        std::memcpy(&v, row + 4 * ux, 4);
        return v;
    }
    default: return 0;
    }
}

void setpixel(DibHandle& dib, int32_t x, int32_t y, uint32_t value)
{
    uint8_t* row = PixelRow(dib, x, y);
    if (!row)
        return;
    const size_t ux = static_cast<size_t>(x);
    switch (dib.Info->bmiHeader.biBitCount) {
    case 1: {
        const uint8_t mask = static_cast<uint8_t>(0x80u >> (ux & 7));
        row[ux >> 3] = (value & 1) ? (row[ux >> 3] | mask) : (row[ux >> 3] & ~mask);
        break;
    }
    case 4:
        if (ux & 1)
            row[ux >> 1] = static_cast<uint8_t>((row[ux >> 1] & 0xF0) | (value & 0x0F));
        else
            row[ux >> 1] = static_cast<uint8_t>((row[ux >> 1] & 0x0F) | ((value & 0x0F) << 4));
        break;
    case 8: row[ux] = static_cast<uint8_t>(value); break;
    case 16:
        row[2 * ux] = static_cast<uint8_t>(value);
        row[2 * ux + 1] = static_cast<uint8_t>(value >> 8);
        break;
    case 24:
        row[3 * ux] = static_cast<uint8_t>(value);
        row[3 * ux + 1] = static_cast<uint8_t>(value >> 8);
        row[3 * ux + 2] = static_cast<uint8_t>(value >> 16);
        break;
    case 32: std::memcpy(row + 4 * ux, &value, 4); break;
    default: break;
    }
}

}  // namespace raster
