// JPEG and JIF over libjpeg-turbo. Colour pictures are decoded as BGR
// straight into the bottom-up DIB rows; greyscale becomes 8 bits with a grey
// table; CMYK and YCCK are converted to BGR row by row. A picture whose Exif
// block says the camera was turned is put upright while it is decoded, so
// every caller (thumbnails, viewer, print) sees it as it was taken.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

#include "raster/Decoders.h"
#include "raster/ExifOrientation.h"
#include "raster/PixelBudget.h"

namespace raster {

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    int warnings;
};

// The reason in German, as the other decoders give it; libjpeg's own texts
// are English and name its internals.
const char* GermanReason(int code)
{
    switch (code) {
    case JERR_NO_SOI:
        return "keine JPEG-Datei";
    case JWRN_JPEG_EOF:
    case JERR_INPUT_EOF:
        return "Datei unvollständig";
    case JERR_INPUT_EMPTY:
        return "Datei ist leer";
    case JERR_OUT_OF_MEMORY:
        return "Zu wenig Speicher";
    case JERR_IMAGE_TOO_BIG:
    case JERR_WIDTH_OVERFLOW:
    case JERR_NO_BACKING_STORE:
        return "Bild zu groß";
    case JERR_EMPTY_IMAGE:
        return "Bildgröße ungültig";
    case JERR_ARITH_NOTIMPL:
    case JERR_NOT_COMPILED:
    case JERR_BAD_PRECISION:
    case JERR_SOF_UNSUPPORTED:
        return "Format nicht unterstützt";
    case JERR_CONVERSION_NOTIMPL:
    case JERR_BAD_J_COLORSPACE:
    case JERR_BAD_IN_COLORSPACE:
    case JERR_COMPONENT_COUNT:
        return "Farbraum nicht unterstützt";
    case JERR_SOI_DUPLICATE:
    case JERR_SOF_DUPLICATE:
    case JERR_SOF_NO_SOS:
    case JERR_SOS_NO_SOF:
    case JERR_EOI_EXPECTED:
    case JERR_BAD_LENGTH:
    case JERR_UNKNOWN_MARKER:
        return "Dateistruktur ungültig";
    default:
        return "Datei beschädigt";
    }
}

[[noreturn]] void OnError(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::snprintf(err->message, sizeof err->message, "%s", GermanReason(cinfo->err->msg_code));
    std::longjmp(err->jump, 1);
}

// A file that ends early is a broken file, not a picture with a grey bottom;
// endless corrupt-data warnings are cut off as well.
void OnMessage(j_common_ptr cinfo, int level)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (level >= 0)
        return;
    if (cinfo->err->msg_code == JWRN_JPEG_EOF || ++err->warnings > 1000) {
        std::snprintf(err->message, sizeof err->message, "%s", GermanReason(cinfo->err->msg_code));
        std::longjmp(err->jump, 1);
    }
}

// Memory libjpeg may take beside the picture (progressive coefficient buffers).
constexpr long kMaxJpegWorkMemory = 1L << 30;

// What libjpeg keeps of a picture of several scans (progressive, or one
// component per scan) until the last scan is in: every DCT block of every
// component, 64 coefficients of 2 bytes, whatever size it is decoded at. A
// few megabytes of file can ask for gigabytes this way.
uint64_t CoefficientBytes(jpeg_decompress_struct& cinfo)
{
    if (!jpeg_has_multiple_scans(&cinfo))
        return 0;
    uint64_t total = 0;
    for (int i = 0; i < cinfo.num_components; ++i) {
        const jpeg_component_info& c = cinfo.comp_info[i];
        const auto roundUp = [](uint64_t n, uint64_t m) { return m == 0 ? n : (n + m - 1) / m * m; };
        total += roundUp(c.width_in_blocks, static_cast<uint64_t>(c.h_samp_factor)) *
                 roundUp(c.height_in_blocks, static_cast<uint64_t>(c.v_samp_factor)) * sizeof(JBLOCK);
    }
    return total;
}

// Adobe writers store CMYK inverted; the decoder then hands out 255 - ink.
inline void CmykToBgr(const JSAMPLE* src, uint8_t* dst, JDIMENSION width, bool inverted)
{
    for (JDIMENSION x = 0; x < width; ++x, src += 4, dst += 3) {
        unsigned c = src[0], m = src[1], y = src[2], k = src[3];
        if (!inverted) {
            c = 255 - c; m = 255 - m; y = 255 - y; k = 255 - k;
        }
        dst[0] = static_cast<uint8_t>((y * k + 127) / 255);
        dst[1] = static_cast<uint8_t>((m * k + 127) / 255);
        dst[2] = static_cast<uint8_t>((c * k + 127) / 255);
    }
}

// Puts `count` decoded rows, the first of them stored row y0 of a W x H
// picture (bpp bytes per pixel), where `orientation` says they belong in the
// upright picture `out`. Columns outer, rows inner: a turned picture's
// stored rows are its columns, and this way each upright row gets a run of
// neighbouring pixels instead of one pixel per cache line.
void PlaceRows(DibHandle& out, int orientation, const uint8_t* const* rows, int32_t count, int32_t y0, int32_t W,
               int32_t H, int bpp)
{
    const int32_t uprightHeight = OrientationSwapsSides(orientation) ? W : H;
    const size_t rowBytes = static_cast<size_t>(out.RowBytes);
    for (int32_t sx = 0; sx < W; ++sx) {
        for (int32_t i = 0; i < count; ++i) {
            const int32_t sy = y0 + i;
            int32_t dx = sx, dy = sy;
            switch (orientation) {
            case eoMirrorH: dx = W - 1 - sx; break;
            case eoRotate180: dx = W - 1 - sx; dy = H - 1 - sy; break;
            case eoMirrorV: dy = H - 1 - sy; break;
            case eoTranspose: dx = sy; dy = sx; break;
            case eoRotate90: dx = H - 1 - sy; dy = sx; break;
            case eoTransverse: dx = H - 1 - sy; dy = W - 1 - sx; break;
            case eoRotate270: dx = sy; dy = W - 1 - sx; break;
            default: break;
            }
            uint8_t* dst = out.Bits + static_cast<size_t>(uprightHeight - 1 - dy) * rowBytes + static_cast<size_t>(dx) * bpp;
            std::memcpy(dst, rows[i] + static_cast<size_t>(sx) * bpp, static_cast<size_t>(bpp));
        }
    }
}

// Decodes into `out`; returns false with `err.message` set. Only the locals
// declared before setjmp and not changed after it are used on the error path.
// With `wanted` set, decodes at the smallest scale n/8 that is not below the
// size it asks for, and reports the full size through fullWidth/fullHeight.
// Sizes given to and reported through `wanted` and fullWidth/fullHeight are
// those of the upright picture.
bool DecodeInto(jpeg_decompress_struct& cinfo, ErrorManager& err, const uint8_t* data, size_t size,
                DibHandle& out, std::vector<JSAMPLE>& scratch, WantedSize wanted, int32_t& fullWidth,
                int32_t& fullHeight)
{
    const int orientation = JpegExifOrientation(data, size);
    const bool swaps = OrientationSwapsSides(orientation);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_save_markers(&cinfo, JPEG_APP0 + 14, 16);
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
        std::snprintf(err.message, sizeof err.message, "kein Bild");
        return false;
    }
    if (cinfo.image_width == 0 || cinfo.image_height == 0 ||
        cinfo.image_width > static_cast<JDIMENSION>(kMaxDibDimension) ||
        cinfo.image_height > static_cast<JDIMENSION>(kMaxDibDimension)) {
        std::snprintf(err.message, sizeof err.message, "Bildgröße ungültig");
        return false;
    }
    fullWidth = static_cast<int32_t>(swaps ? cinfo.image_height : cinfo.image_width);
    fullHeight = static_cast<int32_t>(swaps ? cinfo.image_width : cinfo.image_height);
    int bits = 24;
    bool cmyk = false;
    switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
        cinfo.out_color_space = JCS_GRAYSCALE;
        bits = 8;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        cinfo.out_color_space = JCS_CMYK;
        cmyk = true;
        break;
    default:
        cinfo.out_color_space = JCS_EXT_BGR;
        break;
    }
    BITMAPINFO grey;
    for (int i = 0; i < 256; ++i)
        grey.bmiColors[i] = RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    if (wanted) {
        int32_t wantWidth = 1, wantHeight = 1;
        wanted(fullWidth, fullHeight, wantWidth, wantHeight);
        if (swaps)
            std::swap(wantWidth, wantHeight);
        cinfo.scale_denom = 8;
        for (unsigned n = 1; n <= 8; ++n) {
            cinfo.scale_num = n;
            jpeg_calc_output_dimensions(&cinfo);
            if (cinfo.output_width >= static_cast<JDIMENSION>(std::max(wantWidth, 1)) &&
                cinfo.output_height >= static_cast<JDIMENSION>(std::max(wantHeight, 1)))
                break;
        }
    } else {
        jpeg_calc_output_dimensions(&cinfo);
    }
    const JDIMENSION outWidth = cinfo.output_width, outHeight = cinfo.output_height;
    const int32_t width = static_cast<int32_t>(outWidth), height = static_cast<int32_t>(outHeight);
    // The coefficients are charged first, so that a decoder waits for room
    // for them before it takes any memory.
    const uint64_t coefficients = CoefficientBytes(cinfo);
    if (coefficients > static_cast<uint64_t>(kMaxJpegWorkMemory)) {
        std::snprintf(err.message, sizeof err.message, "Bild zu groß");
        return false;
    }
    ChargePixelBudget(coefficients);
    // The picture is allocated before libjpeg's own buffers so that a size
    // refusal costs nothing.
    newdib(out, swaps ? height : width, swaps ? width : height, bits, bits == 8 ? &grey : nullptr, bits == 8 ? 256 : 0);
    if (!out.Bits) {
        std::snprintf(err.message, sizeof err.message, "%s", out.ErrorText.c_str());
        return false;
    }
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_width != outWidth || cinfo.output_height != outHeight ||
        cinfo.output_components != (bits == 8 ? 1 : cmyk ? 4 : 3)) {
        std::snprintf(err.message, sizeof err.message, "Farbraum nicht unterstützt");
        return false;
    }
    const size_t rowBytes = static_cast<size_t>(out.RowBytes);
    bool inverted = false;
    if (cmyk)
        for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next)
            if (m->marker == JPEG_APP0 + 14 && m->data_length >= 5 && std::equal(m->data, m->data + 5, "Adobe"))
                inverted = true;
    if (orientation == eoNormal && !cmyk) {
        // Straight into the picture's rows.
        JSAMPROW rows[16];
        while (cinfo.output_scanline < cinfo.output_height) {
            const int32_t y0 = static_cast<int32_t>(cinfo.output_scanline);
            const int32_t n = std::min<int32_t>(16, height - y0);
            for (int32_t i = 0; i < n; ++i)
                rows[i] = out.Bits + static_cast<size_t>(height - 1 - y0 - i) * rowBytes;
            if (jpeg_read_scanlines(&cinfo, rows, static_cast<JDIMENSION>(n)) == 0)
                break;
        }
    } else {
        // Through a band of up to 16 decoded rows (and their BGR form for CMYK).
        constexpr int32_t kBand = 16;
        const int bpp = bits / 8;
        const size_t sampleRow = static_cast<size_t>(outWidth) * (cmyk ? 4 : static_cast<size_t>(bpp));
        const size_t pixelRow = static_cast<size_t>(outWidth) * static_cast<size_t>(bpp);
        scratch.resize(kBand * sampleRow + (cmyk ? kBand * pixelRow : 0));
        JSAMPROW rows[kBand];
        const uint8_t* pixels[kBand];
        while (cinfo.output_scanline < cinfo.output_height) {
            const int32_t y0 = static_cast<int32_t>(cinfo.output_scanline);
            const int32_t n = std::min<int32_t>(kBand, height - y0);
            for (int32_t i = 0; i < n; ++i)
                rows[i] = scratch.data() + static_cast<size_t>(i) * sampleRow;
            const auto got = static_cast<int32_t>(jpeg_read_scanlines(&cinfo, rows, static_cast<JDIMENSION>(n)));
            if (got == 0)
                break;
            for (int32_t i = 0; i < got; ++i) {
                if (cmyk) {
                    uint8_t* bgr = scratch.data() + kBand * sampleRow + static_cast<size_t>(i) * pixelRow;
                    CmykToBgr(rows[i], bgr, outWidth, inverted);
                    pixels[i] = bgr;
                } else {
                    pixels[i] = rows[i];
                }
            }
            PlaceRows(out, orientation, pixels, got, y0, width, height, bpp);
        }
    }
    if (cinfo.output_scanline < cinfo.output_height) {
        std::snprintf(err.message, sizeof err.message, "Datei unvollständig");
        return false;
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

}  // namespace

namespace {

bool Decode(const uint8_t* data, size_t size, DibHandle& out, WantedSize wanted, int32_t& fullWidth,
            int32_t& fullHeight)
{
    out.Bits = nullptr;
    out.Info = nullptr;
    out.PaletteHandle = nullptr;
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    err.message[0] = 0;
    err.warnings = 0;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = OnError;
    err.pub.emit_message = OnMessage;
    std::vector<JSAMPLE> scratch;  // outlives the jump: freed by its destructor
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        deldib(out);
        out.ErrorText = std::string("JPEG-Fehler: ") + err.message;
        return false;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = kMaxJpegWorkMemory;
    if (!DecodeInto(cinfo, err, data, size, out, scratch, wanted, fullWidth, fullHeight)) {
        jpeg_destroy_decompress(&cinfo);
        deldib(out);
        out.ErrorText = std::string("JPEG-Fehler: ") + err.message;
        return false;
    }
    jpeg_destroy_decompress(&cinfo);
    out.ErrorText.clear();
    return true;
}

}  // namespace

void DecodeJpeg(const uint8_t* data, size_t size, DibHandle& out)
{
    int32_t w = 0, h = 0;
    Decode(data, size, out, nullptr, w, h);
}

bool DecodeJpegReduced(const uint8_t* data, size_t size, DibHandle& out, WantedSize wanted, int32_t& fullWidth,
                       int32_t& fullHeight)
{
    fullWidth = fullHeight = 0;
    if (DetectDibType(data, size) != dtJPG)
        return false;
    return Decode(data, size, out, wanted, fullWidth, fullHeight);
}

}  // namespace raster
