#include "browser/ThumbBuilder.h"

// ours
#include "raster/DibDraw.h"
#include "raster/PixelBudget.h"

using namespace raster;

void ThumbSizeFor(int32_t pictureWidth, int32_t pictureHeight, int32_t& thumbWidth, int32_t& thumbHeight)
{
    const int64_t w = pictureWidth, h = pictureHeight;
    int64_t tw = kThumbBox, th = w > 0 ? h * kThumbBox / w : kThumbBox;
    if (th > kThumbBox) {
        th = kThumbBox;
        tw = h > 0 ? w * kThumbBox / h : kThumbBox;
    }
    // A picture over 80 times wider than high would get a side of 0 pixels.
    thumbWidth = static_cast<int32_t>(tw < 1 ? 1 : tw);
    thumbHeight = static_cast<int32_t>(th < 1 ? 1 : th);
}

DibHandle ResizeDib(const DibHandle& src, int32_t newWidth, int32_t newHeight)
{
    const int32_t w = DibWidth(src), h = DibHeight(src);
    const int bits = DibBitCount(src);
    const int64_t colours = DibColorCount(src);
    DibHandle out;
    newdib(out, newWidth, newHeight, bits, src.Info, colours <= 256 ? static_cast<int>(colours) : 0);
    if (!out.Bits || w <= 0 || h <= 0)
        return out;
    // Steps in 1/1024 pixel, as integers, so every platform picks the same source pixels.
    const int64_t xstep = static_cast<int64_t>(w) * 1024 / newWidth;
    const int64_t ystep = static_cast<int64_t>(h) * 1024 / newHeight;
    for (int32_t y = 0; y < newHeight; ++y) {
        const int32_t sy = static_cast<int32_t>(y * ystep / 1024);
        const uint8_t* srow = src.Bits + static_cast<size_t>(sy) * static_cast<size_t>(src.RowBytes);
        uint8_t* drow = out.Bits + static_cast<size_t>(y) * static_cast<size_t>(out.RowBytes);
        for (int32_t x = 0; x < newWidth; ++x) {
            const int32_t sx = static_cast<int32_t>(x * xstep / 1024);
            switch (bits) {
            case 1:
                setpixel(out, x, y, getpixel(src, sx, sy));
                break;
            case 4: {
                const uint8_t b = srow[sx >> 1];
                const uint8_t nibble = (sx & 1) ? (b & 0x0F) : (b >> 4);
                drow[x >> 1] |= static_cast<uint8_t>((x & 1) ? nibble : (nibble << 4));
                break;
            }
            case 8:
                drow[x] = srow[sx];
                break;
            case 24:
                drow[3 * x] = srow[3 * sx];
                drow[3 * x + 1] = srow[3 * sx + 1];
                drow[3 * x + 2] = srow[3 * sx + 2];
                break;
            default:
                return out;
            }
        }
    }
    return out;
}

TPreparedFile::TPreparedFile(TPreparedFile&& o) noexcept
    : Kind(o.Kind), Thumb(o.Thumb), Info(o.Info), ErrorText(std::move(o.ErrorText)), EntryIndex(o.EntryIndex)
{
    o.Thumb = DibHandle();
}

TPreparedFile& TPreparedFile::operator=(TPreparedFile&& o) noexcept
{
    if (this != &o) {
        if (Thumb.Bits || Thumb.Info)
            deldib(Thumb);
        Kind = o.Kind;
        Thumb = o.Thumb;
        Info = o.Info;
        ErrorText = std::move(o.ErrorText);
        EntryIndex = o.EntryIndex;
        o.Thumb = DibHandle();
    }
    return *this;
}

TPreparedFile::~TPreparedFile()
{
    if (Thumb.Bits || Thumb.Info)
        deldib(Thumb);
}

DibHandle TPreparedFile::TakeThumb()
{
    DibHandle t = Thumb;
    Thumb = DibHandle();
    return t;
}

TPreparedFile PrepareFile(const std::string& folder, const std::string& name, const TThumbCacheIndex& cache,
                          const std::string& cachePath, const TPrepareOptions& options)
{
    TPreparedFile r;
    const auto dot = name.rfind('.');
    const int type = dot == std::string::npos ? dtAuto : DibTypeForExtension(UpperAscii(name.substr(dot)));
    if (type == dtAuto)
        return r;
    const std::string path = folder + name;
    const int32_t check = CalcCheckValue(path);
    if (const CacheEntry* e = cache.Find(name, check)) {
        TCacheLoadResult loaded = TCacheLoadResult::Unreadable;
        if (cache.Source) {
            loaded = LoadCachedThumbnailOf(cache, *e, r.Thumb);
        } else {
            LoadCachedThumbnailFrom(cachePath, e->Position, e->Info.ThumbWidth, e->Info.ThumbHeight,
                                    e->Info.BitCount, e->Info.ColorCount, r.Thumb);
            loaded = r.Thumb.Bits ? TCacheLoadResult::Loaded : TCacheLoadResult::Unreadable;
        }
        // A cache file rewritten in place since it was read says nothing of
        // this picture any more: its thumbnail is made anew below.
        if (loaded != TCacheLoadResult::Changed) {
            r.EntryIndex = static_cast<int32_t>(e - cache.Entries.data());
            if (loaded == TCacheLoadResult::Loaded) {
                r.Kind = TPreparedFile::Cached;
                r.Info = e->Info;
            } else {
                r.Kind = TPreparedFile::CacheUnloadable;
                r.Thumb = DibHandle();
            }
            return r;
        }
        r.Thumb = DibHandle();
    }

    // The full picture counts against the pixel budget until it is shrunk.
    TPixelBudgetScope budget;
    DibHandle pic;
    int32_t w = 0, h = 0;
    bool reduced = false;
    if ((options.ReducedJpeg && (type == dtJPG || type == dtJIF)) || type == dtWEBP) {
        reduced = (type == dtWEBP ? OpenWebpScaled(pic, path.c_str(), &ThumbSizeFor, w, h)
                                  : OpenJpegReduced(pic, path.c_str(), &ThumbSizeFor, w, h)) &&
                  w >= 2 && h >= 2;
        // Anything unusual (a broken file, a picture of one pixel row) takes the
        // full decode, whose result and error text are the ones to report.
        if (!reduced && pic.Bits)
            deldib(pic);
    }
    if (!reduced) {
        OpenDib(pic, path.c_str(), type, nullptr);
        if (pic.Bits) {
            w = DibWidth(pic);
            h = DibHeight(pic);
        }
    }
    if (!pic.Bits || w < 2 || h < 2) {
        r.Kind = TPreparedFile::Unusable;
        r.ErrorText = pic.ErrorText;
        if (pic.Bits)
            deldib(pic);
        return r;
    }
    int32_t tw = 0, th = 0;
    ThumbSizeFor(w, h, tw, th);
    DibHandle thumb = ResizeDib(pic, tw, th);
    if (thumb.Bits) {
        const int bits = DibBitCount(pic);
        const uint64_t fullBytes = reduced ? DibRowBytes(w, bits) * static_cast<uint64_t>(h)
                                           : pic.Info->bmiHeader.biSizeImage;
        r.Kind = TPreparedFile::Made;
        r.Thumb = thumb;
        r.Info = ThumbInfo{bits, tw, th, w, h, static_cast<int32_t>(DibColorCount(pic)),
                           static_cast<int32_t>(fullBytes / 1024), check};
    } else {
        r.Kind = TPreparedFile::NotMade;
        if (thumb.Info)
            deldib(thumb);
    }
    deldib(pic);
    return r;
}
