// Making thumbnails: sizes, nearest-neighbour shrinking by depth, the JPEG
// shortcut against the full decode, unusable files, and the library used
// from several threads at once.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <array>
#include <cstring>
#include <thread>

#include "browser/BrowserTestSupport.h"
#include "browser/ThumbBuilder.h"
#include "raster/DibDraw.h"

using namespace browsertest;
using namespace raster;

namespace {

std::pair<int, int> Size(int w, int h)
{
    int32_t tw = 0, th = 0;
    ThumbSizeFor(w, h, tw, th);
    return {tw, th};
}

const TThumbCacheIndex kNoCache;

TPrepareOptions Reduced(bool on)
{
    TPrepareOptions o;
    o.ReducedJpeg = on;
    return o;
}

// A camera picture held on its side: Exif orientation 6 (turned 90 degrees
// clockwise), inserted right after the start marker.
Bytes TurnedOnItsSide(Bytes jpeg)
{
    const Bytes exif = {0xFF, 0xE1, 0x00, 0x22, 'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0,
                        1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0};
    jpeg.insert(jpeg.begin() + 2, exif.begin(), exif.end());
    return jpeg;
}

// The check value that versions before upright JPEG thumbnails stored, for
// every type: splitmix64 over size, seconds and nanoseconds.
int32_t EarlierCheckValue(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return 0;
    uint64_t h = 0x9E3779B97F4A7C15ull;
    for (uint64_t v : {static_cast<uint64_t>(st.st_size), static_cast<uint64_t>(st.st_mtim.tv_sec),
                       static_cast<uint64_t>(st.st_mtim.tv_nsec)}) {
        h ^= v;
        h += 0x9E3779B97F4A7C15ull;
        h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ull;
        h = (h ^ (h >> 27)) * 0x94D049BB133111EBull;
        h ^= h >> 31;
    }
    const auto v = static_cast<int32_t>(static_cast<uint32_t>(h ^ (h >> 32)));
    return v != 0 ? v : 1;
}

}  // namespace

TEST(ThumbBuilder, ThumbnailSizeKeepsTheProportionAndNeverReachesZero)
{
    EXPECT_EQ(Size(400, 100), std::make_pair(80, 20));
    EXPECT_EQ(Size(100, 400), std::make_pair(20, 80));
    EXPECT_EQ(Size(50, 50), std::make_pair(80, 80));   // small pictures are enlarged
    EXPECT_EQ(Size(4000, 3000), std::make_pair(80, 60));
    EXPECT_EQ(Size(3, 2), std::make_pair(80, 53));
    EXPECT_EQ(Size(8000, 10), std::make_pair(80, 1));  // 0.1 rows would be none
    EXPECT_EQ(Size(10, 8000), std::make_pair(1, 80));
    EXPECT_EQ(Size(65535, 2), std::make_pair(80, 1));
}

TEST(ThumbBuilder, ResizePicksSourcePixelsByDepth)
{
    BITMAPINFO table;
    for (int i = 0; i < 256; ++i)
        table.bmiColors[i] = RGBQUAD{uint8_t(i), 0, 0, 0};
    {
        // 4 bits: columns 1 2 3 4 shrink to columns 0 and 2 (values 1 and 3), then grow to 0 0 1 1.
        DibHandle src;
        newdib(src, 4, 1, 4, &table, 16);
        src.Bits[0] = 0x12;
        src.Bits[1] = 0x34;
        DibHandle half = ResizeDib(src, 2, 1);
        ASSERT_NE(half.Bits, nullptr);
        EXPECT_EQ(half.Bits[0], 0x13);
        EXPECT_EQ(DibColorCount(half), 16);
        DibHandle grown = ResizeDib(half, 4, 1);
        EXPECT_EQ(grown.Bits[0], 0x11);
        EXPECT_EQ(grown.Bits[1], 0x33);
        // Odd destination columns take the low nibble.
        DibHandle three = ResizeDib(src, 3, 1);  // xstep 1365: columns 0, 1, 2
        EXPECT_EQ(three.Bits[0], 0x12);
        EXPECT_EQ(three.Bits[1], 0x30);
        deldib(src);
        deldib(half);
        deldib(grown);
        deldib(three);
    }
    {
        // 1 bit, 8 wide: every other pixel set; shrinking to 4 keeps the set ones.
        DibHandle src;
        newdib(src, 8, 2, 1, &table, 2);
        src.Bits[0] = 0xAA;
        src.Bits[4] = 0x0F;  // second stored row
        DibHandle d = ResizeDib(src, 4, 1);
        EXPECT_EQ(d.Bits[0], 0xF0);
        DibHandle rows = ResizeDib(src, 8, 4);  // rows 0 0 1 1 as stored
        EXPECT_EQ(rows.Bits[0], 0xAA);
        EXPECT_EQ(rows.Bits[static_cast<size_t>(rows.RowBytes)], 0xAA);
        EXPECT_EQ(rows.Bits[2 * static_cast<size_t>(rows.RowBytes)], 0x0F);
        deldib(src);
        deldib(d);
        deldib(rows);
    }
    {
        // 24 bits keep whole pixels; 16 bits give a blank thumbnail of the right size.
        DibHandle src;
        newdib(src, 3, 1, 24, nullptr, 0);
        for (int i = 0; i < 9; ++i)
            src.Bits[i] = static_cast<uint8_t>(10 + i);
        DibHandle d = ResizeDib(src, 1, 1);
        EXPECT_EQ(d.Bits[0], 10);
        EXPECT_EQ(d.Bits[2], 12);
        DibHandle wide;
        newdib(wide, 3, 1, 16, nullptr, 0);
        std::memset(wide.Bits, 0xFF, wide.Info->bmiHeader.biSizeImage);
        DibHandle blank = ResizeDib(wide, 2, 2);
        ASSERT_NE(blank.Bits, nullptr);
        EXPECT_EQ(DibWidth(blank), 2);
        EXPECT_EQ(blank.Bits[0], 0);
        deldib(src);
        deldib(d);
        deldib(wide);
        deldib(blank);
    }
}

TEST(ThumbBuilder, ReducedJpegDecodeGivesTheFullDecodesThumbInfoAndNearlyItsPixels)
{
    TTempDir dir;
    for (auto [w, h] : {std::pair{1600, 1200}, {641, 97}, {90, 700}, {81, 81}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const std::string name = "g" + std::to_string(w) + ".jpg";
        ASSERT_TRUE(SaveGradient(dir / name, w, h, "JPG"));
        TPreparedFile fast = PrepareFile(dir.Path() + "/", name, kNoCache, dir / kCacheFileName, Reduced(true));
        TPreparedFile full = PrepareFile(dir.Path() + "/", name, kNoCache, dir / kCacheFileName, Reduced(false));
        ASSERT_EQ(fast.Kind, TPreparedFile::Made);
        ASSERT_EQ(full.Kind, TPreparedFile::Made);
        EXPECT_EQ(std::memcmp(&fast.Info, &full.Info, sizeof(ThumbInfo)), 0);
        EXPECT_EQ(fast.Info.PictureWidth, w);
        EXPECT_EQ(fast.Info.SizeKB, static_cast<int32_t>(DibRowBytes(w, 24) * static_cast<uint64_t>(h) / 1024));
        EXPECT_EQ(DibWidth(fast.Thumb), fast.Info.ThumbWidth);
        EXPECT_EQ(DibHeight(fast.Thumb), fast.Info.ThumbHeight);
        EXPECT_EQ(DibBitCount(fast.Thumb), 24);
        // A smooth gradient looks the same either way.
        int worst = 0;
        for (int i = 0; i < static_cast<int>(fast.Thumb.Info->bmiHeader.biSizeImage); ++i)
            worst = std::max(worst, std::abs(fast.Thumb.Bits[i] - full.Thumb.Bits[i]));
        EXPECT_LE(worst, 24);
    }
}

TEST(ThumbBuilder, FilesThatGiveNoThumbnail)
{
    TTempDir dir;
    const std::string folder = dir.Path() + "/";
    WriteFile(dir / "thin.bmp", MakeBmp(1, 40, 8, [](int, int) { return 3u; }));
    WriteFile(dir / "c.jpegx", MakeBmp(10, 10, 24, [](int, int) { return 0u; }));
    WriteFile(dir / "noext", Bytes{1, 2, 3});
    WriteFile(dir / "broken.png", Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0});
    ASSERT_TRUE(SaveGradient(dir / "whole.jpg", 300, 200, "JPG"));
    Bytes cut = ReadFile(dir / "whole.jpg");
    cut.resize(cut.size() / 2);
    WriteFile(dir / "cut.jpg", cut);
    ASSERT_TRUE(SaveGradient(dir / "line.jpg", 300, 1, "JPG"));
    // A PNG under a JPEG name is still shown (the library looks at the content).
    ASSERT_TRUE(SaveGradient(dir / "png.jpg", 40, 30, "PNG"));

    EXPECT_EQ(PrepareFile(folder, "c.jpegx", kNoCache, "").Kind, TPreparedFile::NotPicture);
    EXPECT_EQ(PrepareFile(folder, "noext", kNoCache, "").Kind, TPreparedFile::NotPicture);
    const TPreparedFile thin = PrepareFile(folder, "thin.bmp", kNoCache, "");
    EXPECT_EQ(thin.Kind, TPreparedFile::Unusable);
    EXPECT_EQ(thin.ErrorText, "");
    EXPECT_EQ(PrepareFile(folder, "missing.gif", kNoCache, "").Kind, TPreparedFile::Unusable);
    EXPECT_EQ(PrepareFile(folder, "broken.png", kNoCache, "").Kind, TPreparedFile::Unusable);
    EXPECT_EQ(PrepareFile(folder, "png.jpg", kNoCache, "").Kind, TPreparedFile::Made);
    // The shortcut reports exactly what the full decode reports.
    for (const char* name : {"cut.jpg", "line.jpg"}) {
        SCOPED_TRACE(name);
        const TPreparedFile fast = PrepareFile(folder, name, kNoCache, "", Reduced(true));
        const TPreparedFile full = PrepareFile(folder, name, kNoCache, "", Reduced(false));
        EXPECT_EQ(fast.Kind, TPreparedFile::Unusable);
        EXPECT_EQ(fast.Kind, full.Kind);
        EXPECT_EQ(fast.ErrorText, full.ErrorText);
        DibHandle direct;
        OpenDib(direct, (dir / name).c_str(), dtJPG, nullptr);
        EXPECT_EQ(fast.ErrorText, direct.ErrorText);
        if (direct.Bits)
            deldib(direct);
    }
}

TEST(ThumbBuilder, CacheEntryIsUsedOnlyForTheSamePictureFile)
{
    TTempDir dir;
    const std::string folder = dir.Path() + "/";
    WriteFile(dir / "a.bmp", MakeBmp(40, 20, 8, [](int x, int) { return static_cast<uint32_t>(x); }));
    TPreparedFile made = PrepareFile(folder, "a.bmp", kNoCache, dir / kCacheFileName);
    ASSERT_EQ(made.Kind, TPreparedFile::Made);
    EXPECT_EQ(made.Info.BitCount, 8);
    EXPECT_EQ(made.Info.ColorCount, 256);
    EXPECT_EQ(made.Info.ThumbWidth, 80);
    EXPECT_EQ(made.Info.ThumbHeight, 40);
    const std::string name = "a.bmp";
    ASSERT_EQ(WriteCacheFile(dir / kCacheFileName, {CacheThumb{&name, &made.Info, &made.Thumb}}),
              TCacheWriteResult::Written);
    TThumbCacheIndex cache;
    ReadCacheFile(dir / kCacheFileName, cache);

    TPreparedFile again = PrepareFile(folder, "A.BMP", cache, dir / kCacheFileName);
    // No file of that name, so its check value is random and nothing matches.
    EXPECT_NE(again.Kind, TPreparedFile::Cached);
    TPreparedFile same = PrepareFile(folder, "a.bmp", cache, dir / kCacheFileName);
    ASSERT_EQ(same.Kind, TPreparedFile::Cached);
    EXPECT_EQ(std::memcmp(same.Thumb.Bits, made.Thumb.Bits, made.Thumb.Info->bmiHeader.biSizeImage), 0);

    // Replaced under its name: another size and time, so a new thumbnail.
    WriteFile(dir / "a.bmp", MakeBmp(20, 40, 8, [](int, int y) { return static_cast<uint32_t>(y); }));
    TPreparedFile replaced = PrepareFile(folder, "a.bmp", cache, dir / kCacheFileName);
    ASSERT_EQ(replaced.Kind, TPreparedFile::Made);
    EXPECT_EQ(replaced.Info.ThumbWidth, 40);

    // An entry whose pixels are gone from the file gives no thumbnail this time.
    TThumbCacheIndex stale = cache;
    stale.Entries[0].Info.CheckValue = replaced.Info.CheckValue;
    stale.Entries[0].Position = 1 << 20;
    stale.BuildIndex();
    EXPECT_EQ(PrepareFile(folder, "a.bmp", stale, dir / kCacheFileName).Kind, TPreparedFile::CacheUnloadable);
}

TEST(ThumbBuilder, DifferentPicturesOnDifferentThreadsDecodeAsOnOne)
{
    TTempDir dir;
    const std::string folder = dir.Path() + "/";
    std::vector<std::string> names;
    for (int i = 0; i < 6; ++i) {
        names.push_back("j" + std::to_string(i) + ".jpg");
        ASSERT_TRUE(SaveGradient(dir / names.back(), 200 + 37 * i, 150 + 11 * i, "JPG"));
        names.push_back("p" + std::to_string(i) + ".png");
        ASSERT_TRUE(SaveGradient(dir / names.back(), 120 + 5 * i, 90, "PNG"));
        names.push_back("b" + std::to_string(i) + ".bmp");
        const int bits = std::array{1, 4, 8, 24, 8, 4}[static_cast<size_t>(i)];
        WriteFile(dir / names.back(), MakeBmp(50 + i, 60, bits, [i](int x, int y) { return static_cast<uint32_t>(x * (i + 1) + y); }));
    }
    names.push_back("bad.jpg");
    WriteFile(dir / "bad.jpg", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F'});

    std::vector<TPreparedFile> single;
    for (const auto& n : names)
        single.push_back(PrepareFile(folder, n, kNoCache, ""));
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round)
                for (size_t k = 0; k < names.size(); ++k) {
                    const size_t i = (k + static_cast<size_t>(t) * 5) % names.size();
                    TPreparedFile r = PrepareFile(folder, names[i], kNoCache, "");
                    const TPreparedFile& s = single[i];
                    bool same = r.Kind == s.Kind && r.ErrorText == s.ErrorText;
                    if (same && r.Thumb.Bits)
                        same = std::memcmp(r.Thumb.Bits, s.Thumb.Bits, s.Thumb.Info->bmiHeader.biSizeImage) == 0 &&
                               std::memcmp(&r.Info.BitCount, &s.Info.BitCount, 7 * sizeof(int32_t)) == 0;
                    if (!same)
                        ++mismatches[static_cast<size_t>(t)];
                }
        });
    for (auto& t : threads)
        t.join();
    for (int m : mismatches)
        EXPECT_EQ(m, 0);
}

TEST(ThumbBuilder, ReducedDecodeTakesTheSmallestScaleNotBelowTheThumbnail)
{
    TTempDir dir;
    // picture size -> the scaled size libjpeg gives at the chosen n/8
    const struct {
        int w, h, outW, outH;
    } cases[] = {
        {4000, 3000, 500, 375},  // 1/8 is still larger than 80 x 60
        {641, 97, 81, 13},       // 1/8: 81 x 13 covers 80 x 12
        {300, 200, 113, 75},     // 80 x 53 needs 3/8
        {81, 81, 81, 81},        // nothing smaller covers 80 x 80
        {40, 30, 40, 30},        // enlarged thumbnails decode at full size
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        const std::string path = dir / "r.jpg";
        ASSERT_TRUE(SaveGradient(path, c.w, c.h, "JPG"));
        DibHandle out;
        int32_t fw = 0, fh = 0;
        ASSERT_TRUE(OpenJpegReduced(out, path.c_str(), &ThumbSizeFor, fw, fh));
        EXPECT_EQ(fw, c.w);
        EXPECT_EQ(fh, c.h);
        EXPECT_EQ(DibWidth(out), c.outW);
        EXPECT_EQ(DibHeight(out), c.outH);
        deldib(out);
    }
    // Not a JPEG: refused, so the caller takes the full path.
    WriteFile(dir / "x.jpg", MakeBmp(10, 10, 8, [](int, int) { return 0u; }));
    DibHandle out;
    int32_t fw = 0, fh = 0;
    EXPECT_FALSE(OpenJpegReduced(out, (dir / "x.jpg").c_str(), &ThumbSizeFor, fw, fh));
    EXPECT_EQ(out.Bits, nullptr);
}

TEST(ThumbBuilder, OtherNamesOfTheTypesAndTurnedCameraPictures)
{
    TTempDir dir;
    const std::string folder = dir.Path() + "/";
    ASSERT_TRUE(SaveGradient(dir / "g.jpg", 300, 200, "JPG"));
    const Bytes jpeg = TurnedOnItsSide(ReadFile(dir / "g.jpg"));
    WriteFile(dir / "hoch.jpeg", jpeg);
    WriteFile(dir / "hoch.JPE", jpeg);
    WriteFile(dir / "scan.tiff", MakeBmp(12, 10, 8, [](int, int) { return 1u; }));

    for (bool reduced : {true, false})
        for (const char* name : {"hoch.jpeg", "hoch.JPE"}) {
            SCOPED_TRACE(std::string(name) + (reduced ? " reduced" : " full"));
            TPreparedFile made = PrepareFile(folder, name, kNoCache, "", Reduced(reduced));
            ASSERT_EQ(made.Kind, TPreparedFile::Made) << made.ErrorText;
            EXPECT_EQ(made.Info.PictureWidth, 200);
            EXPECT_EQ(made.Info.PictureHeight, 300);
            EXPECT_EQ(made.Info.ThumbWidth, 53);
            EXPECT_EQ(made.Info.ThumbHeight, 80);
            // Upright: the stored bottom-left corner (no red, full green) is now top left,
            // the stored top-left corner (neither) top right.
            const DibHandle& t = made.Thumb;
            ASSERT_EQ(DibWidth(t), 53);
            ASSERT_EQ(DibBitCount(t), 24);
            const uint8_t* top = t.Bits + size_t(DibHeight(t) - 1) * size_t(t.RowBytes);
            EXPECT_LT(top[2], 40);
            EXPECT_GT(top[1], 215);
            EXPECT_LT(top[3 * 52 + 2], 40);
            EXPECT_LT(top[3 * 52 + 1], 40);
        }
    // A .tiff is a TIFF picture (here a BMP inside, found by its content).
    EXPECT_EQ(PrepareFile(folder, "scan.tiff", kNoCache, "").Kind, TPreparedFile::Made);
}

TEST(ThumbBuilder, TurnedJpegsOfEarlierCachesAreMadeUprightOnceOtherEntriesStay)
{
    TTempDir dir;
    const std::string folder = dir.Path() + "/";
    const std::string cachePath = dir / kCacheFileName;
    ASSERT_TRUE(SaveGradient(dir / "g.jpg", 300, 200, "JPG"));
    WriteFile(dir / "hoch.jpg", TurnedOnItsSide(ReadFile(dir / "g.jpg")));
    WriteFile(dir / "b.bmp", MakeBmp(40, 20, 8, [](int x, int) { return static_cast<uint32_t>(x); }));
    // The cache an earlier version wrote: the turned picture's thumbnail as
    // stored (lying, 80 x 53), and the BMP's as it is made today.
    TPreparedFile lying = PrepareFile(folder, "g.jpg", kNoCache, "");
    TPreparedFile bmp = PrepareFile(folder, "b.bmp", kNoCache, "");
    ASSERT_EQ(lying.Kind, TPreparedFile::Made);
    ASSERT_EQ(bmp.Kind, TPreparedFile::Made);
    ThumbInfo lyingInfo = lying.Info, bmpInfo = bmp.Info;
    lyingInfo.CheckValue = EarlierCheckValue(dir / "hoch.jpg");
    bmpInfo.CheckValue = EarlierCheckValue(dir / "b.bmp");
    const std::string jpegName = "hoch.jpg", bmpName = "b.bmp";
    ASSERT_EQ(WriteCacheFile(cachePath, {CacheThumb{&jpegName, &lyingInfo, &lying.Thumb},
                                         CacheThumb{&bmpName, &bmpInfo, &bmp.Thumb}}),
              TCacheWriteResult::Written);
    TThumbCacheIndex earlier;
    ReadCacheFile(cachePath, earlier);

    TPreparedFile upright = PrepareFile(folder, "hoch.jpg", earlier, cachePath);
    ASSERT_EQ(upright.Kind, TPreparedFile::Made);
    EXPECT_EQ(upright.Info.ThumbWidth, 53);
    EXPECT_EQ(upright.Info.ThumbHeight, 80);
    // Other types keep their entries: no folder is made anew for this.
    EXPECT_EQ(PrepareFile(folder, "b.bmp", earlier, cachePath).Kind, TPreparedFile::Cached);

    // Written again, the upright thumbnail is the one found from then on.
    ASSERT_EQ(WriteCacheFile(cachePath, {CacheThumb{&jpegName, &upright.Info, &upright.Thumb}}),
              TCacheWriteResult::Written);
    TThumbCacheIndex now;
    ReadCacheFile(cachePath, now);
    TPreparedFile again = PrepareFile(folder, "hoch.jpg", now, cachePath);
    ASSERT_EQ(again.Kind, TPreparedFile::Cached);
    EXPECT_EQ(again.Info.ThumbHeight, 80);
}
