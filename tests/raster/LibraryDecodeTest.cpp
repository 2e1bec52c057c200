// JPEG, PNG, GIF and TIFF through OpenDib, compared pixel by pixel with
// python3-pil on files made by python3-pil and ImageMagick in the test.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "raster/Decoders.h"
#include "raster/Rasterwerk.h"

using namespace raster;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

// Top-down RGB of a record, through its colour table where it has one.
Bytes DibToRgb(const DibHandle& d)
{
    const auto& h = d.Info->bmiHeader;
    Bytes rgb;
    rgb.reserve(size_t(h.biWidth) * h.biHeight * 3);
    for (int32_t y = h.biHeight - 1; y >= 0; --y) {
        const uint8_t* row = d.Bits + size_t(y) * d.RowBytes;
        for (int32_t x = 0; x < h.biWidth; ++x) {
            if (h.biBitCount == 24) {
                rgb.insert(rgb.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
                continue;
            }
            const uint32_t index = getpixel(d, x, y);
            EXPECT_LT(index, h.biClrUsed) << "index outside the colour table";
            const RGBQUAD& c = d.Info->bmiColors[index & 255];
            rgb.insert(rgb.end(), {c.rgbRed, c.rgbGreen, c.rgbBlue});
        }
    }
    return rgb;
}

int TypeCodeOf(const std::string& name)
{
    const std::string ext = name.substr(name.rfind('.') + 1);
    static const std::map<std::string, int> codes = {{"jpg", dtJPG}, {"jif", dtJIF}, {"png", dtPNG},
                                                     {"gif", dtGIF}, {"tif", dtTIF}};
    return codes.at(ext);
}

class LibraryDecode : public ::testing::Test {
protected:
    static std::string dir_;
    static std::vector<std::string> files_;

    static void SetUpTestSuite()
    {
        char templ[] = "/tmp/wl_libdecode_XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir_ = templ;
        const std::string script = std::string(WL_SOURCE_DIR) + "/tests/raster/make_library_corpus.py";
        const std::string cmd = "/usr/bin/python3 '" + script + "' '" + dir_ + "' 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        DIR* d = opendir(dir_.c_str());
        ASSERT_NE(d, nullptr);
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n[0] != '.' && n.size() > 4 && n.substr(n.size() - 4) != ".rgb")
                files_.push_back(n);
        }
        closedir(d);
        std::sort(files_.begin(), files_.end());
    }

    static void TearDownTestSuite()
    {
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }

    // A failed suite set-up would only skip the cases; make it fail them instead.
    void SetUp() override
    {
        ASSERT_FALSE(files_.empty()) << "no reference files were made";
    }

    // Decodes every file whose name starts with `prefix`, by its extension's
    // code and by content, and compares with the reference pixels.
    void CheckAll(const std::string& prefix, const std::map<std::string, int>& depths,
                  const std::map<std::string, int>& tolerances)
    {
        int checked = 0;
        for (const std::string& name : files_) {
            if (name.rfind(prefix, 0) != 0)
                continue;
            SCOPED_TRACE(name);
            const std::string path = dir_ + "/" + name;
            const Bytes ref = ReadFile(path + ".rgb");
            int w = 0, h = 0, consumed = 0;
            // The header ends at exactly one newline: a "\n" in the format would
            // also swallow pixel bytes that happen to be white space.
            ASSERT_EQ(std::sscanf(reinterpret_cast<const char*>(ref.data()), "P6 %d %d%n", &w, &h, &consumed), 2);
            ASSERT_EQ(ref.at(size_t(consumed)), '\n');
            const Bytes want(ref.begin() + consumed + 1, ref.end());
            ASSERT_EQ(want.size(), size_t(w) * h * 3);
            const std::string stem = name.substr(0, name.rfind('.'));
            const int tolerance = tolerances.count(stem) ? tolerances.at(stem) : 0;
            for (int code : {TypeCodeOf(name), int(dtAuto)}) {
                DibHandle d;
                OpenDib(d, path.c_str(), code);
                ASSERT_NE(d.Bits, nullptr) << d.ErrorText;
                EXPECT_TRUE(d.ErrorText.empty());
                EXPECT_EQ(d.Info->bmiHeader.biWidth, w);
                EXPECT_EQ(d.Info->bmiHeader.biHeight, h);
                if (depths.count(stem)) {
                    EXPECT_EQ(d.Info->bmiHeader.biBitCount, depths.at(stem));
                }
                const int bits = d.Info->bmiHeader.biBitCount;
                EXPECT_TRUE(bits == 1 || bits == 4 || bits == 8 || bits == 24) << bits;
                EXPECT_EQ(d.HasPalette, bits <= 8 ? 1 : 0);
                const Bytes got = DibToRgb(d);
                ASSERT_EQ(got.size(), want.size());
                int worst = 0;
                size_t worstAt = 0;
                for (size_t i = 0; i < got.size(); ++i)
                    if (std::abs(got[i] - want[i]) > worst) {
                        worst = std::abs(got[i] - want[i]);
                        worstAt = i;
                    }
                EXPECT_LE(worst, tolerance) << "pixel " << worstAt / 3 % w << "," << worstAt / 3 / w << " channel "
                                            << worstAt % 3 << ": " << int(got[worstAt]) << " vs " << int(want[worstAt]);
                deldib(d);
            }
            ++checked;
        }
        EXPECT_GT(checked, 0) << "no files for " << prefix;
    }
};

std::string LibraryDecode::dir_;
std::vector<std::string> LibraryDecode::files_;

TEST_F(LibraryDecode, JpegVariantsMatchPil)
{
    // jpeg_orientN: the picture turned upright as its Exif block says.
    CheckAll("jpeg_",
             {{"jpeg_grey", 8}, {"jpeg_rgb", 24}, {"jpeg_cmyk", 24}, {"jpeg_single", 24}, {"jpeg_orient6_l", 8},
              {"jpeg_orient3_l", 8}, {"jpeg_orient7_cmyk", 24}, {"jpeg_orient8", 24}},
             {{"jpeg_cmyk", 1}, {"jpeg_orient7_cmyk", 1}});
}

TEST_F(LibraryDecode, PngVariantsMatchPilWithAlphaOnWhite)
{
    CheckAll("png_",
             {{"png_pal1", 1}, {"png_pal2", 4}, {"png_pal4", 4}, {"png_pal8", 8}, {"png_pal_trns", 4},
              {"png_grey1", 1}, {"png_grey8", 8}, {"png_grey8_trns", 8}, {"png_grey4", 4},
              {"png_grey2_interlaced", 4}, {"png_pal_interlaced", 4}, {"png_rgb", 24}, {"png_rgba", 24},
              {"png_grey16", 24}, {"png_rgb16", 24}},
             {{"png_rgb16", 1}, {"png_rgba16", 1}, {"png_grey16", 1}});
}

TEST_F(LibraryDecode, GifFirstFrameMatchesPil)
{
    CheckAll("gif_", {{"gif_two", 1}, {"gif_sixteen", 4}, {"gif_full_interlaced", 8}}, {});
}

TEST_F(LibraryDecode, TiffVariantsMatchPil)
{
    CheckAll("tiff_",
             {{"tiff_bilevel", 1}, {"tiff_g4", 1}, {"tiff_grey", 8}, {"tiff_grey2", 4}, {"tiff_pal8", 8},
              {"tiff_rgb", 24}, {"tiff_tiled", 24}, {"tiff_rgba", 24}},
             {{"tiff_rgba", 1}, {"tiff_cmyk", 1}, {"tiff_rgb16", 1}});
}

// Every prefix of every file, and every file with bytes flipped, must come back
// as either a picture or a refusal with a reason, never a fault; cut files are
// refusals.
TEST_F(LibraryDecode, TruncatedAndDamagedFilesFailCleanly)
{
    for (const std::string& name : files_) {
        SCOPED_TRACE(name);
        const Bytes whole = ReadFile(dir_ + "/" + name);
        // An animation cut after its first frame still holds a whole picture.
        const bool animated = name == "gif_animated.gif";
        for (size_t cut : {size_t(0), size_t(1), size_t(7), whole.size() / 3, whole.size() / 2,
                           whole.size() * 9 / 10}) {
            if (animated && cut > whole.size() / 3)
                continue;
            DibHandle d;
            OpenDibFromMemory(d, whole.data(), cut, TypeCodeOf(name));
            EXPECT_EQ(d.Bits, nullptr) << "cut at " << cut;
            EXPECT_FALSE(d.ErrorText.empty());
            deldib(d);
        }
        Bytes damaged = whole;
        for (size_t i = 20; i < damaged.size(); i += 37)
            damaged[i] ^= 0x5A;
        DibHandle d;
        OpenDibFromMemory(d, damaged.data(), damaged.size(), dtAuto);
        EXPECT_TRUE(d.Bits != nullptr || !d.ErrorText.empty());
        deldib(d);
    }
}

TEST_F(LibraryDecode, WrongExtensionFallsBackToContent)
{
    const std::string png = dir_ + "/png_rgb.png";
    const std::string asJpg = dir_ + "/renamed.jpg.bin";
    ASSERT_EQ(std::system(("cp '" + png + "' '" + asJpg + "'").c_str()), 0);
    DibHandle d;
    OpenDib(d, asJpg.c_str(), dtJPG);
    ASSERT_NE(d.Bits, nullptr) << d.ErrorText;
    EXPECT_EQ(d.Info->bmiHeader.biWidth, 45);
    deldib(d);
    std::remove(asJpg.c_str());
}

}  // namespace

TEST(OpenDibErrors, FilesThatCannotBeReadGiveGermanReasons)
{
    DibHandle d;
    OpenDib(d, "/nonexistent/dir/bild.jpg", dtJPG);
    EXPECT_EQ(d.Bits, nullptr);
    EXPECT_EQ(d.ErrorText, "Datei nicht gefunden");
    OpenDib(d, "/tmp", dtAuto);
    EXPECT_EQ(d.Bits, nullptr);
    EXPECT_EQ(d.ErrorText, "Datei nicht lesbar");
    const uint8_t text[] = "Dies ist kein Bild, sondern ein Text.";
    OpenDibFromMemory(d, text, sizeof text, dtAuto);
    EXPECT_EQ(d.Bits, nullptr);
    EXPECT_EQ(d.ErrorText, "Unbekanntes Dateiformat");
    OpenDibFromMemory(d, text, sizeof text, 99);
    EXPECT_EQ(d.Bits, nullptr);
    EXPECT_EQ(d.ErrorText, "Unbekannter Dateityp");
    OpenDibFromMemory(d, text, 0, dtPNG);
    EXPECT_EQ(d.ErrorText, "Datei ist leer");
    // A file beyond the read limit is refused before anything is read (sparse, so cheap to make).
    const std::string big = "/tmp/wl_opendib_big_" + std::to_string(getpid()) + ".jpg";
    FILE* f = std::fopen(big.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(ftruncate(fileno(f), off_t(kMaxDibFileBytes) + 1), 0);
    std::fclose(f);
    OpenDib(d, big.c_str(), dtAuto);
    EXPECT_EQ(d.Bits, nullptr);
    EXPECT_EQ(d.ErrorText, "Datei zu groß");
    std::remove(big.c_str());
}

TEST(OpenDibErrors, HugeDeclaredSizesAreRefusedBeforeAllocating)
{
    // JPEG: SOI, SOF0 of 65535 x 65535 with three components, then nothing.
    const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x03, 0x01, 0x22, 0x00,
                        0x02, 0x11, 0x01, 0x03, 0x11, 0x01, 0xFF, 0xDA};
    // GIF: a 20 x 20 screen, two colours, and a 30000 x 30000 frame with a few bytes of data.
    const Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 20, 0, 20, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255,
                       0x2C, 0, 0, 0, 0, 0x30, 0x75, 0x30, 0x75, 0, 2, 2, 0x44, 0x01, 0, 0x3B};
    for (const Bytes* b : {&jpeg, &gif}) {
        DibHandle d;
        OpenDibFromMemory(d, b->data(), b->size(), dtAuto);
        EXPECT_EQ(d.Bits, nullptr);
        EXPECT_FALSE(d.ErrorText.empty());
    }
}

TEST(OpenDibGif, HugeEmptyScreenAroundATinyFrameGivesTheFrame)
{
    // A 65535 x 65535 screen, 256 colours, holding one 1 x 1 frame at 60000, 60000.
    Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0x87, 0, 0};
    gif.resize(gif.size() + 768, 0);
    gif[13 + 3] = 0xAA;  // colour 1
    gif.insert(gif.end(), {0x2C, 0x60, 0xEA, 0x60, 0xEA, 1, 0, 1, 0, 0, 8, 4, 0x00, 0x03, 0x04, 0x04, 0, 0x3B});
    DibHandle d;
    OpenDibFromMemory(d, gif.data(), gif.size(), dtGIF);
    ASSERT_NE(d.Bits, nullptr) << d.ErrorText;
    EXPECT_EQ(d.Info->bmiHeader.biWidth, 1);
    EXPECT_EQ(d.Info->bmiHeader.biHeight, 1);
    EXPECT_EQ(d.Info->bmiColors[getpixel(d, 0, 0)].rgbRed, 0xAA);
    deldib(d);
}

TEST(OpenDibDetect, ContentNamesTheDecoder)
{
    struct Case { Bytes head; int type; };
    Bytes pcx(128, 0);
    pcx[0] = 0x0A; pcx[1] = 5; pcx[2] = 1; pcx[3] = 8; pcx[8] = 9; pcx[10] = 9; pcx[65] = 1;
    Bytes tga(18, 0);
    tga[2] = 2; tga[12] = 4; tga[14] = 4; tga[16] = 24;
    Bytes notTga = tga;
    notTga[16] = 23;
    const Bytes iff = {'F', 'O', 'R', 'M', 0, 0, 0, 4, 'I', 'L', 'B', 'M'};
    const Bytes pbm = {'F', 'O', 'R', 'M', 0, 0, 0, 4, 'P', 'B', 'M', ' '};
    const Bytes other = {'F', 'O', 'R', 'M', 0, 0, 0, 4, 'A', 'I', 'F', 'F'};
    const Bytes bmp = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0};
    for (const Case& c : {Case{{0xFF, 0xD8, 0xFF, 0xE0}, dtJPG}, Case{{0x89, 'P', 'N', 'G', 13, 10, 26, 10}, dtPNG},
                          Case{{'G', 'I', 'F', '8', '7', 'a'}, dtGIF}, Case{{'I', 'I', 42, 0}, dtTIF},
                          Case{{'M', 'M', 0, 42}, dtTIF}, Case{bmp, dtBMP}, Case{iff, dtIFF}, Case{pbm, dtIFF},
                          Case{other, dtAuto}, Case{pcx, dtPCX}, Case{tga, dtTGA}, Case{notTga, dtAuto},
                          Case{{'G', 'I', 'F'}, dtAuto}})
        EXPECT_EQ(DetectDibType(c.head.data(), c.head.size()), c.type);
}
