// The cache file: its exact bytes, what survives hostile and cut-off files,
// the protection of foreign files and the check value.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>

#include "browser/BrowserTestSupport.h"
#include "browser/ThumbCache.h"
#include "raster/DibDraw.h"

using namespace browsertest;
using namespace raster;

namespace {

int32_t Le32At(const Bytes& b, size_t at)
{
    return static_cast<int32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24));
}

// A thumbnail whose every pixel byte is distinct enough to notice a shift.
DibHandle PatternDib(int w, int h, int bits)
{
    BITMAPINFO table;
    for (int i = 0; i < 256; ++i)
        table.bmiColors[i] = RGBQUAD{uint8_t(i), uint8_t(255 - i), uint8_t(i * 7), 0};
    DibHandle d;
    newdib(d, w, h, bits, &table, bits <= 8 ? 1 << bits : 0);
    for (uint32_t i = 0; i < d.Info->bmiHeader.biSizeImage; ++i)
        d.Bits[i] = static_cast<uint8_t>(i * 31 + bits);
    return d;
}

struct Held {
    std::vector<std::string> names;
    std::vector<ThumbInfo> infos;
    std::vector<DibHandle> dibs;
    ~Held()
    {
        for (auto& d : dibs)
            deldib(d);
    }
    void Add(std::string name, int w, int h, int bits, int32_t check)
    {
        names.push_back(std::move(name));
        dibs.push_back(PatternDib(w, h, bits));
        infos.push_back(ThumbInfo{bits, w, h, w * 10, h * 10, static_cast<int32_t>(PowerOfTwo(bits)), 1234, check});
    }
    std::vector<CacheThumb> Thumbs() const
    {
        std::vector<CacheThumb> t;
        for (size_t i = 0; i < names.size(); ++i)
            t.push_back(CacheThumb{&names[i], &infos[i], &dibs[i]});
        return t;
    }
};

}  // namespace

TEST(ThumbCacheFile, BytesFollowTheLayoutAndReadBackIntoTheSameThumbnails)
{
    TTempDir dir;
    Held held;
    held.Add("a.jpg", 80, 60, 24, 77);
    held.Add("Bild mit Ümlaut.gif", 13, 80, 8, -5);
    held.Add("c.bmp", 7, 3, 4, 1);
    held.Add("d.bmp", 9, 2, 1, 2);
    const std::string path = dir / kCacheFileName;
    ASSERT_EQ(WriteCacheFile(path, held.Thumbs()), TCacheWriteResult::Written);

    const Bytes b = ReadFile(path);
    ASSERT_GE(b.size(), 6u);
    EXPECT_EQ(b[0], 0x5E);
    EXPECT_EQ(b[1], 0x0B);
    EXPECT_EQ(Le32At(b, 2), 4);
    size_t at = 6;
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(held.names[i]);
        const std::string& name = held.names[i];
        ASSERT_LE(at + 297, b.size());
        EXPECT_EQ(std::memcmp(&b[at], name.data(), name.size()), 0);
        for (size_t k = name.size(); k < 261; ++k)
            ASSERT_EQ(b[at + k], 0) << k;
        const int32_t* fields = &held.infos[i].BitCount;
        for (int k = 0; k < 8; ++k)
            EXPECT_EQ(Le32At(b, at + 261 + 4 * k), fields[k]) << k;
        const DibHandle& d = held.dibs[i];
        const int bits = held.infos[i].BitCount;
        const size_t table = bits <= 8 ? 4u << bits : 0;
        const size_t pixels = d.Info->bmiHeader.biSizeImage;
        EXPECT_EQ(pixels, static_cast<size_t>(d.RowBytes) * held.infos[i].ThumbHeight);
        EXPECT_EQ(Le32At(b, at + 293), static_cast<int32_t>(40 + table + pixels));
        const size_t header = at + 297;
        ASSERT_LE(header + 40 + table + pixels, b.size());
        EXPECT_EQ(Le32At(b, header), 40);                          // biSize
        EXPECT_EQ(Le32At(b, header + 4), held.infos[i].ThumbWidth); // biWidth
        EXPECT_EQ(Le32At(b, header + 8), held.infos[i].ThumbHeight);
        EXPECT_EQ(std::memcmp(&b[header + 40], d.Info->bmiColors, table), 0);
        EXPECT_EQ(std::memcmp(&b[header + 40 + table], d.Bits, pixels), 0);
        at = header + 40 + table + pixels;
    }
    EXPECT_EQ(at, b.size());

    TThumbCacheIndex index;
    ASSERT_EQ(ReadCacheFile(path, index), TCacheReadResult::Read);
    ASSERT_EQ(index.Entries.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        const CacheEntry& e = index.Entries[i];
        EXPECT_EQ(e.Name, held.names[i]);
        EXPECT_EQ(std::memcmp(&e.Info, &held.infos[i], sizeof(ThumbInfo)), 0);
        DibHandle t;
        LoadCachedThumbnailFrom(path, e.Position, e.Info.ThumbWidth, e.Info.ThumbHeight, e.Info.BitCount,
                                e.Info.ColorCount, t);
        ASSERT_NE(t.Bits, nullptr);
        EXPECT_EQ(std::memcmp(t.Bits, held.dibs[i].Bits, held.dibs[i].Info->bmiHeader.biSizeImage), 0);
        const int colours = e.Info.ColorCount <= 256 ? e.Info.ColorCount : 0;
        EXPECT_EQ(std::memcmp(t.Info->bmiColors, held.dibs[i].Info->bmiColors, 4 * static_cast<size_t>(colours)), 0);
        deldib(t);
    }
    // No temporary file is left beside it.
    int files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.Path()))
        ++files;
    EXPECT_EQ(files, 1);
}

TEST(ThumbCacheFile, CutOffAndImpossibleFilesKeepTheCompleteEntriesBeforeTheFault)
{
    TTempDir dir;
    Held held;
    held.Add("one.png", 80, 45, 24, 11);
    held.Add("two.png", 30, 80, 8, 12);
    held.Add("three.png", 80, 80, 1, 13);
    const std::string good = dir / "good.tcf";
    ASSERT_EQ(WriteCacheFile(good, held.Thumbs()), TCacheWriteResult::Written);
    const Bytes whole = ReadFile(good);
    TThumbCacheIndex index;
    ASSERT_EQ(ReadCacheFile(good, index), TCacheReadResult::Read);
    std::vector<int64_t> ends;
    for (const CacheEntry& e : index.Entries) {
        const int64_t table = e.Info.ColorCount <= 256 ? 4 * e.Info.ColorCount : 0;
        ends.push_back(e.Position + 40 + table + static_cast<int64_t>(DibRowBytes(e.Info.ThumbWidth, e.Info.BitCount)) * e.Info.ThumbHeight);
    }
    ASSERT_EQ(ends.size(), 3u);

    // Every length the file could be cut to: only entries that end inside it count.
    const std::string cut = dir / "cut.tcf";
    for (size_t n = 0; n <= whole.size(); n += (n < 400 ? 1 : 97)) {
        WriteFile(cut, Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n)));
        TThumbCacheIndex i;
        // Fewer than two bytes hold no signature: nothing of ours.
        ASSERT_EQ(ReadCacheFile(cut, i), n < 2 ? TCacheReadResult::Foreign : TCacheReadResult::Read) << n;
        size_t expect = 0;
        while (expect < ends.size() && ends[expect] <= static_cast<int64_t>(n))
            ++expect;
        ASSERT_EQ(i.Entries.size(), expect) << n;
        for (const CacheEntry& e : i.Entries) {
            DibHandle t;
            LoadCachedThumbnailFrom(cut, e.Position, e.Info.ThumbWidth, e.Info.ThumbHeight, e.Info.BitCount,
                                    e.Info.ColorCount, t);
            ASSERT_NE(t.Bits, nullptr);
            deldib(t);
        }
    }

    auto withPatch = [&](size_t at, int32_t value) {
        Bytes b = whole;
        for (int k = 0; k < 4; ++k)
            b[at + static_cast<size_t>(k)] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * k));
        WriteFile(cut, b);
        TThumbCacheIndex i;
        EXPECT_EQ(ReadCacheFile(cut, i), TCacheReadResult::Read);
        return i.Entries.size();
    };
    const size_t second = static_cast<size_t>(ends[0]);  // where entry 2 begins
    EXPECT_EQ(withPatch(2, 0x7FFFFFFF), 3u);      // a huge N reserves nothing and ends at the file's end
    EXPECT_EQ(withPatch(2, -1), 0u);
    EXPECT_EQ(withPatch(2, 0), 0u);
    EXPECT_EQ(withPatch(2, 2), 2u);
    EXPECT_EQ(withPatch(second + 293, -40), 1u);   // negative L
    EXPECT_EQ(withPatch(second + 293, 1 << 30), 1u);  // L past the end
    EXPECT_EQ(withPatch(second + 293, 41), 1u);    // L that disagrees with the thumbnail
    EXPECT_EQ(withPatch(second + 261 + 4, 81), 1u); // a side over 80
    EXPECT_EQ(withPatch(second + 261 + 8, 0), 1u);
    EXPECT_EQ(withPatch(second + 261, 7), 1u);      // a depth the library cannot make
    EXPECT_EQ(withPatch(second + 261 + 20, 100000), 1u);  // colour count beyond the depth

    // A name that fills all 261 bytes stays within them.
    Bytes b = whole;
    std::memset(&b[6], 'x', 261);
    WriteFile(cut, b);
    TThumbCacheIndex longName;
    ReadCacheFile(cut, longName);
    ASSERT_EQ(longName.Entries.size(), 3u);
    EXPECT_EQ(longName.Entries[0].Name.size(), 261u);
}

TEST(ThumbCacheFile, SignatureOnlyForeignAndMissingFiles)
{
    TTempDir dir;
    TThumbCacheIndex index;
    EXPECT_EQ(ReadCacheFile(dir / "none.tcf", index), TCacheReadResult::NotOpened);
    WriteFile(dir / "sig.tcf", Bytes{0x5E, 0x0B});
    EXPECT_EQ(ReadCacheFile(dir / "sig.tcf", index), TCacheReadResult::Read);
    EXPECT_TRUE(index.Entries.empty());
    WriteFile(dir / "foreign.tcf", Bytes{'P', 'K', 3, 4, 1, 0, 0, 0});
    EXPECT_EQ(ReadCacheFile(dir / "foreign.tcf", index), TCacheReadResult::Foreign);
    EXPECT_TRUE(index.Entries.empty());
}

TEST(ThumbCacheFile, WritingNeverReplacesAForeignFileAndFailsCleanly)
{
    TTempDir dir;
    Held held;
    held.Add("a.png", 10, 10, 24, 5);
    const std::string path = dir / kCacheFileName;

    for (const Bytes& foreign : {Bytes{'G', 'I', 'F', '8'}, Bytes{0x5E}, Bytes{}}) {
        WriteFile(path, foreign);
        EXPECT_EQ(WriteCacheFile(path, held.Thumbs()), TCacheWriteResult::Foreign);
        EXPECT_EQ(ReadFile(path), foreign);
    }
    // Our own file, even an empty list's, is replaced.
    WriteFile(path, Bytes{0x5E, 0x0B, 0, 0, 0, 0});
    EXPECT_EQ(WriteCacheFile(path, held.Thumbs()), TCacheWriteResult::Written);
    EXPECT_GT(ReadFile(path).size(), 6u);

    // A folder without write permission keeps what it has and gets no temporary file.
    const Bytes before = ReadFile(path);
    ::chmod(dir.Path().c_str(), 0555);
    if (::access(dir.Path().c_str(), W_OK) != 0) {  // root may write anyway
        EXPECT_EQ(WriteCacheFile(path, held.Thumbs()), TCacheWriteResult::Failed);
        EXPECT_EQ(ReadFile(path), before);
    }
    ::chmod(dir.Path().c_str(), 0755);
    int files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.Path()))
        ++files;
    EXPECT_EQ(files, 1);
}

TEST(ThumbCacheFile, CheckValueFollowsSizeAndTimeAndIsNeverZero)
{
    TTempDir dir;
    const std::string p = dir / "p.bmp";
    WriteFile(p, Bytes(100, 1));
    const timespec t1[2] = {{1000, 0}, {1700000000, 100}};
    ::utimensat(AT_FDCWD, p.c_str(), t1, 0);
    const int32_t a = CalcCheckValue(p);
    EXPECT_NE(a, 0);
    EXPECT_EQ(CalcCheckValue(p), a);
    // The same size replaced a nanosecond later is another picture.
    const timespec t2[2] = {{1000, 0}, {1700000000, 101}};
    ::utimensat(AT_FDCWD, p.c_str(), t2, 0);
    EXPECT_NE(CalcCheckValue(p), a);
    ::utimensat(AT_FDCWD, p.c_str(), t1, 0);
    EXPECT_EQ(CalcCheckValue(p), a);
    WriteFile(p, Bytes(101, 1));
    ::utimensat(AT_FDCWD, p.c_str(), t1, 0);
    EXPECT_NE(CalcCheckValue(p), a);
    // A file that is not there gets a value from 0 to 32,766.
    for (int i = 0; i < 50; ++i) {
        const int32_t r = CalcCheckValue(dir / "missing.bmp");
        EXPECT_GE(r, 0);
        EXPECT_LE(r, 32766);
    }
}

TEST(ThumbCacheFile, FindPrefersTheExactNameAndNeedsTheCheckValue)
{
    TThumbCacheIndex index;
    auto add = [&](std::string name, int32_t check, int64_t pos) {
        CacheEntry e;
        e.Name = std::move(name);
        e.Info.CheckValue = check;
        e.Position = pos;
        index.Entries.push_back(e);
    };
    add("FOTO.JPG", 7, 1);
    add("foto.jpg", 7, 2);
    add("Foto.jpg", 8, 3);
    add("bild.png", 9, 4);
    index.BuildIndex();
    ASSERT_NE(index.Find("foto.jpg", 7), nullptr);
    EXPECT_EQ(index.Find("foto.jpg", 7)->Position, 2);
    EXPECT_EQ(index.Find("FOTO.JPG", 7)->Position, 1);
    EXPECT_EQ(index.Find("fOtO.jpg", 7)->Position, 1);   // case-blind: the first in cache order
    EXPECT_EQ(index.Find("Foto.jpg", 8)->Position, 3);
    EXPECT_EQ(index.Find("foto.jpg", 8)->Position, 3);
    EXPECT_EQ(index.Find("BILD.PNG", 9)->Position, 4);
    EXPECT_EQ(index.Find("bild.png", 10), nullptr);
    EXPECT_EQ(index.Find("bild.pn", 9), nullptr);
    // Only ASCII letters fold: "Ü" and "ü" are different names.
    EXPECT_EQ(UpperAscii("äbc\xC3\xBC"), "äBC\xC3\xBC");
    EXPECT_EQ(IncludeBackslash("/a"), "/a/");
    EXPECT_EQ(IncludeBackslash("/a/"), "/a/");
}

TEST(ThumbCacheFile, AFileOfManyWindowsReadsEveryEntryAndStopsAtACutInAnyOfThem)
{
    // Entries of varied sizes, so their fixed parts straddle the boundaries
    // of the reader's window at different offsets; the file spans many windows.
    TTempDir dir;
    Held held;
    const int sides[] = {1, 3, 2, 7, 5, 11, 4};
    const int depths[] = {1, 4, 8, 24, 32, 8};
    const size_t count = 3000;
    for (size_t i = 0; i < count; ++i)
        held.Add("p" + std::to_string(i) + ".png", sides[i % 7], sides[(i / 7) % 7], depths[i % 6],
                 static_cast<int32_t>(100 + i));
    const std::string path = dir / "many.tcf";
    ASSERT_EQ(WriteCacheFile(path, held.Thumbs()), TCacheWriteResult::Written);
    const Bytes whole = ReadFile(path);
    ASSERT_GT(whole.size(), 1'000'000u);

    TThumbCacheIndex index;
    ASSERT_EQ(ReadCacheFile(path, index), TCacheReadResult::Read);
    ASSERT_EQ(index.Entries.size(), count);
    std::vector<int64_t> ends;
    for (size_t i = 0; i < index.Entries.size(); ++i) {
        const CacheEntry& e = index.Entries[i];
        EXPECT_EQ(e.Name, held.names[i]);
        EXPECT_EQ(e.Info.CheckValue, held.infos[i].CheckValue);
        DibHandle t;
        LoadCachedThumbnailFrom(path, e.Position, e.Info.ThumbWidth, e.Info.ThumbHeight, e.Info.BitCount,
                                e.Info.ColorCount, t);
        ASSERT_NE(t.Bits, nullptr) << i;
        EXPECT_EQ(0, std::memcmp(t.Bits, held.dibs[i].Bits, t.Info->bmiHeader.biSizeImage)) << i;
        ends.push_back(e.Position + 40 + (e.Info.ColorCount <= 256 ? 4 * e.Info.ColorCount : 0) +
                       static_cast<int64_t>(t.Info->bmiHeader.biSizeImage));
        deldib(t);
    }

    // Cut inside fixed parts, thumbnails and right at entry ends, far into the file.
    const std::string cut = dir / "cut.tcf";
    for (size_t k = 40; k < ends.size(); k += 211)
        for (const int64_t n : {ends[k] - 1, ends[k], ends[k] + 100, ends[k] + 296, ends[k] + 297}) {
            WriteFile(cut, Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n)));
            TThumbCacheIndex i;
            ASSERT_EQ(ReadCacheFile(cut, i), TCacheReadResult::Read);
            size_t expect = 0;
            while (expect < ends.size() && ends[expect] <= n)
                ++expect;
            EXPECT_EQ(i.Entries.size(), expect) << n;
        }
}
