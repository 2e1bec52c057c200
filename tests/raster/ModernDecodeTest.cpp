// WebP and AVIF through OpenDib, compared pixel by pixel with dwebp and
// avifdec on files that Debian's webp and libavif-bin tools make in the test;
// then every shorter prefix and damaged copies of each file.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "raster/Rasterwerk.h"

using namespace raster;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

bool EndsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A failure must say why in German: one of the decoders' own texts or one of
// the library's general ones.
bool GermanFailure(const std::string& text)
{
    static const char* general[] = {"Bildgröße ungültig", "Bild zu groß", "Zu wenig Speicher",
                                    "Unbekanntes Dateiformat", "Datei ist leer"};
    if (text.rfind("WebP-Fehler: ", 0) == 0 || text.rfind("AVIF-Fehler: ", 0) == 0)
        return text.size() > 13;
    return std::any_of(std::begin(general), std::end(general), [&](const char* g) { return text == g; });
}

class ModernDecode : public ::testing::Test {
protected:
    static std::string dir_;
    static std::vector<std::string> files_;

    static void SetUpTestSuite()
    {
        char templ[] = "/tmp/wl_moderndecode_XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir_ = templ;
        const std::string script = std::string(WL_SOURCE_DIR) + "/tests/raster/make_modern_corpus.py";
        const std::string cmd = "/usr/bin/python3 '" + script + "' '" + dir_ + "' 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        DIR* d = opendir(dir_.c_str());
        ASSERT_NE(d, nullptr);
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n[0] != '.' && !EndsWith(n, ".rgb"))
                files_.push_back(n);
        }
        closedir(d);
        std::sort(files_.begin(), files_.end());
    }

    static void TearDownTestSuite() { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    void SetUp() override { ASSERT_GE(files_.size(), 14u) << "the reference files were not all made"; }

    static int CodeOf(const std::string& name) { return EndsWith(name, ".webp") ? dtWEBP : dtAVIF; }

    // Decodes every file whose name starts with prefix by its type code and
    // by content and compares with the reference: tolerance per channel, and
    // the mean difference must stay small as well.
    void CheckAll(const std::string& prefix, int tolerance)
    {
        int checked = 0;
        for (const std::string& name : files_) {
            if (name.rfind(prefix, 0) != 0)
                continue;
            SCOPED_TRACE(name);
            const std::string path = dir_ + "/" + name;
            const Bytes ref = ReadFile(path + ".rgb");
            int w = 0, h = 0, consumed = 0;
            ASSERT_EQ(std::sscanf(reinterpret_cast<const char*>(ref.data()), "P6 %d %d\n%n", &w, &h, &consumed), 2);
            const Bytes want(ref.begin() + consumed, ref.end());
            ASSERT_EQ(want.size(), size_t(w) * h * 3);
            for (int code : {CodeOf(name), int(dtAuto)}) {
                DibHandle d;
                OpenDib(d, path.c_str(), code);
                ASSERT_NE(d.Bits, nullptr) << d.ErrorText;
                EXPECT_TRUE(d.ErrorText.empty());
                ASSERT_EQ(d.Info->bmiHeader.biWidth, w);
                ASSERT_EQ(d.Info->bmiHeader.biHeight, h);
                ASSERT_EQ(d.Info->bmiHeader.biBitCount, 24);
                int worst = 0;
                long total = 0;
                for (int y = 0; y < h; ++y) {
                    // Rows bottom-up, BGR.
                    const uint8_t* row = d.Bits + size_t(h - 1 - y) * d.RowBytes;
                    for (int x = 0; x < w; ++x)
                        for (int c = 0; c < 3; ++c) {
                            const int got = row[3 * x + (2 - c)];
                            const int diff = std::abs(got - want[(size_t(y) * w + x) * 3 + c]);
                            worst = std::max(worst, diff);
                            total += diff;
                        }
                }
                EXPECT_LE(worst, tolerance) << "code " << code;
                EXPECT_LE(double(total) / (w * h * 3), 0.5) << "code " << code;
                deldib(d);
            }
            ++checked;
        }
        EXPECT_GT(checked, 0) << "no file starts with " << prefix;
    }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
};

std::string ModernDecode::dir_;
std::vector<std::string> ModernDecode::files_;

}  // namespace

TEST_F(ModernDecode, WebpLosslessAndAnimationFirstFrameAreExact)
{
    // Lossless pictures and the lossless animation's first frame (against
    // its source picture) match exactly, alpha blended on white.
    CheckAll("webp_lossless", 1);
    CheckAll("webp_anim", 1);
    CheckAll("webp_tiny", 0);
}

TEST_F(ModernDecode, WebpLossyMatchesDwebp)
{
    CheckAll("webp_lossy", 1);
}

TEST_F(ModernDecode, AvifEveryDepthAndLayoutMatchesAvifdec)
{
    CheckAll("avif_420", 2);
    CheckAll("avif_444", 2);
    CheckAll("avif_10bit", 2);
    CheckAll("avif_12bit", 2);
    CheckAll("avif_mono", 2);
    CheckAll("avif_lossless", 2);
    CheckAll("avif_alpha", 2);
    CheckAll("avif_sequence", 2);
}

TEST_F(ModernDecode, ContentDecidesWhenTheExtensionLies)
{
    // A WebP saved as .jpg and an AVIF saved as .png still open.
    DibHandle d;
    OpenDib(d, Path("webp_lossy.webp").c_str(), dtJPG);
    ASSERT_NE(d.Bits, nullptr) << d.ErrorText;
    deldib(d);
    OpenDib(d, Path("avif_444.avif").c_str(), dtPNG);
    ASSERT_NE(d.Bits, nullptr) << d.ErrorText;
    deldib(d);
    const Bytes webp = ReadFile(Path("webp_lossy.webp"));
    const Bytes avif = ReadFile(Path("avif_444.avif"));
    EXPECT_EQ(DetectDibType(webp.data(), webp.size()), dtWEBP);
    EXPECT_EQ(DetectDibType(avif.data(), avif.size()), dtAVIF);

    // Other ISO-BMFF brands (HEIC, MP4) and other RIFF kinds (WAVE) are not ours.
    Bytes heic(avif.begin(), avif.begin() + 32);
    for (size_t at = 8; at + 4 <= 32; at += 4)
        if (std::memcmp(heic.data() + at, "avi", 3) == 0 || std::memcmp(heic.data() + at, "mif1", 4) == 0 ||
            std::memcmp(heic.data() + at, "miaf", 4) == 0 || std::memcmp(heic.data() + at, "MA1", 3) == 0)
            std::memcpy(heic.data() + at, "heic", 4);
    EXPECT_EQ(DetectDibType(heic.data(), heic.size()), dtAuto);
    Bytes wave(webp.begin(), webp.end());
    std::memcpy(wave.data() + 8, "WAVE", 4);
    EXPECT_EQ(DetectDibType(wave.data(), wave.size()), dtAuto);
}

TEST_F(ModernDecode, EveryShorterPrefixFailsWithAGermanText)
{
    for (const std::string& name : files_) {
        SCOPED_TRACE(name);
        const Bytes whole = ReadFile(Path(name));
        // Every prefix of the small files; a spread of them for larger ones.
        const size_t step = std::max<size_t>(1, whole.size() / 700);
        for (size_t n = 0; n < whole.size(); n += (n < 64 ? 1 : step)) {
            for (int code : {CodeOf(name), int(dtAuto)}) {
                DibHandle d;
                OpenDibFromMemory(d, whole.data(), n, code);
                EXPECT_EQ(d.Bits, nullptr) << n << " of " << whole.size() << " bytes decoded";
                EXPECT_TRUE(GermanFailure(d.ErrorText)) << n << ": " << d.ErrorText;
                deldib(d);
            }
        }
    }
}

TEST_F(ModernDecode, DamagedBytesNeverCrashAndFailuresSayWhy)
{
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    for (const std::string& name : files_) {
        SCOPED_TRACE(name);
        const Bytes whole = ReadFile(Path(name));
        for (int round = 0; round < 60; ++round) {
            Bytes bad = whole;
            // A few bytes anywhere, or a run of bytes set to 0xFF (sizes and
            // counts become huge).
            if (round % 3 == 0) {
                const size_t at = 12 + next() % (bad.size() - 12);
                for (size_t i = at; i < std::min(bad.size(), at + 4); ++i)
                    bad[i] = 0xFF;
            } else {
                for (int k = 0; k < 1 + round % 4; ++k)
                    bad[12 + next() % (bad.size() - 12)] ^= static_cast<uint8_t>(1 + next() % 255);
            }
            DibHandle d;
            OpenDibFromMemory(d, bad.data(), bad.size(), CodeOf(name));
            if (d.Bits) {
                EXPECT_GT(d.Info->bmiHeader.biWidth, 0);
                EXPECT_TRUE(d.ErrorText.empty());
            } else {
                EXPECT_TRUE(GermanFailure(d.ErrorText)) << round << ": " << d.ErrorText;
            }
            deldib(d);
        }
    }
}

TEST(ModernDecodeHeaders, HugeDeclaredSizesAreRefusedBeforeAllocating)
{
    // A lossless WebP header claiming 16384 x 16384 with nothing behind it,
    // and a VP8X header with the largest canvas: refused without a picture.
    Bytes vp8l = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', 'L', 5, 0, 0, 0, 0x2F,
                  0xFF, 0xFF, 0xFF, 0x0F};
    vp8l[4] = static_cast<uint8_t>(vp8l.size() - 8);
    DibHandle d;
    OpenDibFromMemory(d, vp8l.data(), vp8l.size(), dtAuto);
    EXPECT_EQ(d.Bits, nullptr);
    EXPECT_TRUE(GermanFailure(d.ErrorText)) << d.ErrorText;

    Bytes vp8x = {'R', 'I', 'F', 'F', 22, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', 'X', 10, 0, 0, 0,
                  0x10, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    OpenDibFromMemory(d, vp8x.data(), vp8x.size(), dtWEBP);
    EXPECT_EQ(d.Bits, nullptr);
    EXPECT_TRUE(GermanFailure(d.ErrorText)) << d.ErrorText;

    // An animation whose canvas is 16384 x 16384: its two canvases would
    // take 2 GiB, so it is refused before the animation decoder starts.
    const Bytes anim = {'R', 'I', 'F', 'F', 22, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', 'X', 10, 0, 0, 0,
                        0x02, 0, 0, 0, 0xFF, 0x3F, 0, 0xFF, 0x3F, 0};
    OpenDibFromMemory(d, anim.data(), anim.size(), dtWEBP);
    EXPECT_EQ(d.Bits, nullptr);
    EXPECT_EQ(d.ErrorText, "Bild zu groß");

    // An ftyp box alone: an AVIF brand but no picture.
    const Bytes ftyp = {0, 0, 0, 20, 'f', 't', 'y', 'p', 'a', 'v', 'i', 'f', 0, 0, 0, 0, 'm', 'i', 'f', '1'};
    EXPECT_EQ(DetectDibType(ftyp.data(), ftyp.size()), dtAVIF);
    OpenDibFromMemory(d, ftyp.data(), ftyp.size(), dtAuto);
    EXPECT_EQ(d.Bits, nullptr);
    EXPECT_TRUE(GermanFailure(d.ErrorText)) << d.ErrorText;
}
