// Helpers for the tests of our own picture decoders: reading a picture record
// back as RGB, running the independent decoders (ImageMagick, python3-pil)
// and comparing pixels.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "raster/Decoders.h"
#include "raster/Rasterwerk.h"

namespace owntest {

using Bytes = std::vector<uint8_t>;
using Decoder = void (*)(const uint8_t*, size_t, raster::DibHandle&);

// A decoded picture: top-down RGB triples plus what the record said.
struct Rgb {
    int width = 0;
    int height = 0;
    int bits = 0;
    std::vector<uint8_t> px;  // width * height * 3, top row first
    const uint8_t* At(int x, int y) const { return &px[(static_cast<size_t>(y) * width + x) * 3]; }
};

inline Rgb ToRgb(const raster::DibHandle& dib)
{
    Rgb out;
    const auto& h = dib.Info->bmiHeader;
    out.width = h.biWidth;
    out.height = h.biHeight;
    out.bits = h.biBitCount;
    out.px.resize(static_cast<size_t>(out.width) * out.height * 3);
    for (int y = 0; y < out.height; ++y) {
        const uint8_t* row = dib.Bits + static_cast<size_t>(out.height - 1 - y) * dib.RowBytes;
        for (int x = 0; x < out.width; ++x) {
            uint8_t* d = &out.px[(static_cast<size_t>(y) * out.width + x) * 3];
            if (h.biBitCount == 24) {
                d[0] = row[3 * x + 2];
                d[1] = row[3 * x + 1];
                d[2] = row[3 * x];
                continue;
            }
            unsigned index = 0;
            if (h.biBitCount == 8)
                index = row[x];
            else if (h.biBitCount == 4)
                index = (x & 1) ? row[x / 2] & 15 : row[x / 2] >> 4;
            else if (h.biBitCount == 1)
                index = (row[x / 8] >> (7 - x % 8)) & 1;
            const raster::RGBQUAD& c = dib.Info->bmiColors[index];
            d[0] = c.rgbRed;
            d[1] = c.rgbGreen;
            d[2] = c.rgbBlue;
        }
    }
    return out;
}

// Decodes and frees; fails the test when the decoder refused.
inline Rgb Decode(Decoder decode, const Bytes& file)
{
    raster::DibHandle dib;
    decode(file.data(), file.size(), dib);
    Rgb out;
    if (!dib.Bits) {
        ADD_FAILURE() << "refused: " << dib.ErrorText;
        return out;
    }
    EXPECT_TRUE(dib.ErrorText.empty());
    EXPECT_EQ(dib.Info->bmiHeader.biSizeImage,
              static_cast<uint32_t>(dib.RowBytes) * static_cast<uint32_t>(dib.Info->bmiHeader.biHeight));
    out = ToRgb(dib);
    raster::deldib(dib);
    return out;
}

// The error text of a refused file (empty when it was accepted).
inline std::string Refusal(Decoder decode, const uint8_t* data, size_t size)
{
    raster::DibHandle dib;
    decode(data, size, dib);
    if (dib.Bits) {
        raster::deldib(dib);
        return {};
    }
    EXPECT_EQ(dib.Info, nullptr);
    return dib.ErrorText.empty() ? std::string("(no text)") : dib.ErrorText;
}
inline std::string Refusal(Decoder decode, const Bytes& file) { return Refusal(decode, file.data(), file.size()); }

// Every shorter prefix of a good file: must not crash, must never claim a
// picture while leaving the error text set.
inline void EveryPrefixIsSafe(Decoder decode, const Bytes& file)
{
    for (size_t n = 0; n < file.size(); ++n) {
        // A copy of exactly n bytes so the address sanitizer sees any overread.
        Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
        raster::DibHandle dib;
        decode(cut.empty() ? nullptr : cut.data(), cut.size(), dib);
        if (dib.Bits) {
            EXPECT_TRUE(dib.ErrorText.empty()) << n;
            raster::deldib(dib);
        } else {
            EXPECT_FALSE(dib.ErrorText.empty()) << n;
        }
    }
}

inline Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const Bytes& data)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline bool Shell(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::string Convert()
{
    // /usr/bin/convert is ImageMagick itself; anything earlier on PATH may be a wrapper.
    return std::filesystem::exists("/usr/bin/convert") ? "/usr/bin/convert" : "convert";
}
inline std::string Python() { return std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3"; }

inline bool HaveConvert() { return Shell(Convert() + " -version"); }
inline bool HavePil() { return Shell(Python() + " -c 'import PIL.Image'"); }

// A fresh scratch folder per test, removed again at the end of the test.
class ScratchDir {
public:
    ScratchDir()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : name)
            if (c == '/')
                c = '_';
        // Unique per run: the same test of another build or checkout on this
        // machine may run at the same moment and would remove these files.
        std::string templ = (std::filesystem::temp_directory_path() / ("wl_own_" + name + "_XXXXXX")).string();
        if (::mkdtemp(templ.data()) == nullptr)
            throw std::runtime_error("cannot make a scratch folder from " + templ);
        path = templ;
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string path;
};

// ImageMagick's reading of a file, transparent parts on white.
inline Rgb MagickRgb(const std::string& path, int width, int height)
{
    const std::string out = path + ".ref.rgb";
    Rgb ref;
    if (!Shell(Convert() + " '" + path + "' -auto-orient -background white -alpha remove -alpha off -depth 8 rgb:'" + out + "'")) {
        ADD_FAILURE() << "ImageMagick could not read " << path;
        return ref;
    }
    ref.width = width;
    ref.height = height;
    ref.px = ReadFile(out);
    EXPECT_EQ(ref.px.size(), static_cast<size_t>(width) * height * 3) << path;
    return ref;
}

// Pillow's reading of a file, transparent parts on white.
inline Rgb PilRgb(const std::string& path, int width, int height)
{
    const std::string out = path + ".pil.rgb";
    Rgb ref;
    const std::string script =
        "import sys; from PIL import Image\n"
        "im = Image.open(sys.argv[1]); im.load()\n"
        "im = im.convert('RGBA')\n"
        "bg = Image.new('RGBA', im.size, (255, 255, 255, 255))\n"
        "open(sys.argv[2], 'wb').write(Image.alpha_composite(bg, im).convert('RGB').tobytes())\n";
    const std::string scriptPath = path + ".pil.py";
    WriteFile(scriptPath, Bytes(script.begin(), script.end()));
    if (!Shell(Python() + " '" + scriptPath + "' '" + path + "' '" + out + "'")) {
        ADD_FAILURE() << "Pillow could not read " << path;
        return ref;
    }
    ref.width = width;
    ref.height = height;
    ref.px = ReadFile(out);
    EXPECT_EQ(ref.px.size(), static_cast<size_t>(width) * height * 3) << path;
    return ref;
}

// Pixel comparison with a tolerance per channel (rounding of 5-bit values and
// of alpha differs between decoders by one step at most).
inline void ExpectSamePixels(const Rgb& ours, const Rgb& ref, int tolerance, const std::string& what)
{
    ASSERT_EQ(ours.width, ref.width) << what;
    ASSERT_EQ(ours.height, ref.height) << what;
    ASSERT_EQ(ours.px.size(), ref.px.size()) << what;
    int bad = 0;
    for (size_t i = 0; i < ours.px.size(); ++i) {
        if (std::abs(ours.px[i] - ref.px[i]) > tolerance) {
            const size_t pixel = i / 3;
            ADD_FAILURE() << what << ": pixel " << pixel % ours.width << "," << pixel / ours.width
                          << " channel " << i % 3 << " ours " << int(ours.px[i]) << " ref " << int(ref.px[i]);
            if (++bad >= 5)
                return;
        }
    }
}

}  // namespace owntest
