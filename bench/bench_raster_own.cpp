// Speed of our own decoders on large common variants, in MB/s of output pixel
// data: 24-bit BMP, RLE8 BMP, 32-bit RLE TGA, 8-bit PCX and 8-plane ILBM.
// The files are written here from one synthetic 4000 x 3000 scene (smooth
// bands that compress, noisy patches that do not), so no tool is needed.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "raster/Decoders.h"
#include "raster/Rasterwerk.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kW = 4000;
constexpr int kH = 3000;

void Le16(Bytes& b, unsigned v) { b.push_back(uint8_t(v)); b.push_back(uint8_t(v >> 8)); }
void Le32(Bytes& b, uint32_t v) { Le16(b, v & 0xFFFF); Le16(b, v >> 16); }
void Be32(Bytes& b, uint32_t v) { for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s)); }

// Palette index per pixel: horizontal bands with gentle steps, a noisy
// rectangle covering a quarter of the picture.
std::vector<uint8_t> Scene()
{
    std::vector<uint8_t> idx(size_t(kW) * kH);
    std::mt19937 rng(1);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            uint8_t v = uint8_t((y / 12 + x / 40) & 0xFF);
            if (x > kW / 4 && x < kW * 3 / 4 && y > kH / 4 && y < kH * 3 / 4)
                v = uint8_t(rng());
            idx[size_t(y) * kW + x] = v;
        }
    return idx;
}

uint8_t Red(int i) { return uint8_t(i); }
uint8_t Green(int i) { return uint8_t(255 - i); }
uint8_t Blue(int i) { return uint8_t(i * 7); }

Bytes Bmp24(const std::vector<uint8_t>& idx)
{
    const uint32_t row = (kW * 3 + 3) & ~3u;
    Bytes b = {'B', 'M'};
    Le32(b, 54 + row * kH); Le32(b, 0); Le32(b, 54);
    Le32(b, 40); Le32(b, kW); Le32(b, kH); Le16(b, 1); Le16(b, 24);
    for (int i = 0; i < 6; ++i) Le32(b, 0);
    for (int y = kH - 1; y >= 0; --y) {
        for (int x = 0; x < kW; ++x) {
            const int i = idx[size_t(y) * kW + x];
            b.push_back(Blue(i)); b.push_back(Green(i)); b.push_back(Red(i));
        }
        b.resize(b.size() + row - kW * 3, 0);
    }
    return b;
}

Bytes BmpRle8(const std::vector<uint8_t>& idx)
{
    Bytes b = {'B', 'M'};
    Le32(b, 0); Le32(b, 0); Le32(b, 54 + 1024);
    Le32(b, 40); Le32(b, kW); Le32(b, kH); Le16(b, 1); Le16(b, 8); Le32(b, 1);
    for (int i = 0; i < 3; ++i) Le32(b, 0);
    Le32(b, 256); Le32(b, 0);
    for (int i = 0; i < 256; ++i) { b.push_back(Blue(i)); b.push_back(Green(i)); b.push_back(Red(i)); b.push_back(0); }
    for (int y = kH - 1; y >= 0; --y) {
        const uint8_t* r = &idx[size_t(y) * kW];
        for (int x = 0; x < kW;) {
            int run = 1;
            while (x + run < kW && run < 255 && r[x + run] == r[x]) ++run;
            if (run >= 2) { b.push_back(uint8_t(run)); b.push_back(r[x]); x += run; continue; }
            int lit = 1;
            while (x + lit < kW && lit < 255 && !(x + lit + 1 < kW && r[x + lit] == r[x + lit + 1])) ++lit;
            if (lit < 3) { b.push_back(1); b.push_back(r[x]); x += 1; continue; }
            b.push_back(0); b.push_back(uint8_t(lit));
            b.insert(b.end(), r + x, r + x + lit);
            if (lit & 1) b.push_back(0);
            x += lit;
        }
        b.push_back(0); b.push_back(0);
    }
    b.push_back(0); b.push_back(1);
    return b;
}

Bytes TgaRle32(const std::vector<uint8_t>& idx)
{
    Bytes b = {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Le16(b, kW); Le16(b, kH); b.push_back(32); b.push_back(0x28);
    auto px = [&](int i, int x) {
        b.push_back(Blue(i)); b.push_back(Green(i)); b.push_back(Red(i));
        b.push_back(x < 200 ? uint8_t(x) : 255);  // a soft transparent left edge
    };
    for (int y = 0; y < kH; ++y) {
        const uint8_t* r = &idx[size_t(y) * kW];
        for (int x = 0; x < kW;) {
            int run = 1;
            while (x + run < kW && run < 128 && r[x + run] == r[x] && x + run >= 200) ++run;
            if (run >= 2) { b.push_back(uint8_t(0x80 | (run - 1))); px(r[x], x); x += run; continue; }
            int lit = 1;
            while (x + lit < kW && lit < 128 && !(x + lit + 1 < kW && r[x + lit] == r[x + lit + 1])) ++lit;
            b.push_back(uint8_t(lit - 1));
            for (int k = 0; k < lit; ++k) px(r[x + k], x + k);
            x += lit;
        }
    }
    return b;
}

Bytes Pcx8(const std::vector<uint8_t>& idx)
{
    Bytes b(128, 0);
    b[0] = 0x0A; b[1] = 5; b[2] = 1; b[3] = 8;
    b[8] = uint8_t(kW - 1); b[9] = uint8_t((kW - 1) >> 8); b[10] = uint8_t(kH - 1); b[11] = uint8_t((kH - 1) >> 8);
    b[65] = 1; b[66] = uint8_t(kW); b[67] = uint8_t(kW >> 8); b[68] = 1;
    for (int y = 0; y < kH; ++y) {
        const uint8_t* r = &idx[size_t(y) * kW];
        for (int x = 0; x < kW;) {
            int run = 1;
            while (x + run < kW && run < 63 && r[x + run] == r[x]) ++run;
            if (run > 1 || r[x] >= 0xC0) b.push_back(uint8_t(0xC0 | run));
            b.push_back(r[x]);
            x += run;
        }
    }
    b.push_back(0x0C);
    for (int i = 0; i < 256; ++i) { b.push_back(Red(i)); b.push_back(Green(i)); b.push_back(Blue(i)); }
    return b;
}

void PackRow(Bytes& out, const uint8_t* row, size_t n)
{
    for (size_t i = 0; i < n;) {
        size_t run = 1;
        while (i + run < n && run < 128 && row[i + run] == row[i]) ++run;
        if (run >= 2) { out.push_back(uint8_t(1 - int(run))); out.push_back(row[i]); i += run; continue; }
        size_t lit = 1;
        while (i + lit < n && lit < 128 && !(i + lit + 1 < n && row[i + lit] == row[i + lit + 1])) ++lit;
        out.push_back(uint8_t(lit - 1));
        out.insert(out.end(), row + i, row + i + lit);
        i += lit;
    }
}

Bytes Ilbm8(const std::vector<uint8_t>& idx)
{
    const size_t planeBytes = (kW + 15) / 16 * 2;
    Bytes body;
    Bytes plane(planeBytes);
    for (int y = 0; y < kH; ++y)
        for (int p = 0; p < 8; ++p) {
            std::fill(plane.begin(), plane.end(), 0);
            for (int x = 0; x < kW; ++x)
                if ((idx[size_t(y) * kW + x] >> p) & 1) plane[size_t(x) / 8] |= uint8_t(0x80 >> (x % 8));
            PackRow(body, plane.data(), planeBytes);
        }
    Bytes form = {'I', 'L', 'B', 'M', 'B', 'M', 'H', 'D'};
    Be32(form, 20);
    const uint8_t bmhd[20] = {uint8_t(kW >> 8), uint8_t(kW), uint8_t(kH >> 8), uint8_t(kH), 0, 0, 0, 0, 8, 0, 1, 0,
                              0, 0, 10, 11, uint8_t(kW >> 8), uint8_t(kW), uint8_t(kH >> 8), uint8_t(kH)};
    form.insert(form.end(), bmhd, bmhd + 20);
    form.insert(form.end(), {'C', 'M', 'A', 'P'});
    Be32(form, 768);
    for (int i = 0; i < 256; ++i) { form.push_back(Red(i)); form.push_back(Green(i)); form.push_back(Blue(i)); }
    form.insert(form.end(), {'B', 'O', 'D', 'Y'});
    Be32(form, uint32_t(body.size()));
    form.insert(form.end(), body.begin(), body.end());
    if (body.size() & 1) form.push_back(0);
    Bytes b = {'F', 'O', 'R', 'M'};
    Be32(b, uint32_t(form.size()));
    b.insert(b.end(), form.begin(), form.end());
    return b;
}

using DecodeFn = void (*)(const uint8_t*, size_t, raster::DibHandle&);

// Best of several runs: the figure a quiet machine reaches.
void Measure(const char* name, DecodeFn decode, const Bytes& file)
{
    double best = 1e30;
    uint64_t outBytes = 0;
    for (int i = 0; i < 7; ++i) {
        raster::DibHandle dib;
        const auto t0 = std::chrono::steady_clock::now();
        decode(file.data(), file.size(), dib);
        const auto t1 = std::chrono::steady_clock::now();
        if (!dib.Bits) {
            std::fprintf(stderr, "%s: refused: %s\n", name, dib.ErrorText.c_str());
            std::printf("raster.own_mb_s.%s 0 MB/s\n", name);
            return;
        }
        outBytes = dib.Info->bmiHeader.biSizeImage;
        raster::deldib(dib);
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    std::printf("raster.own_mb_s.%s %.0f MB/s\n", name, double(outBytes) / best / 1e6);
    std::fflush(stdout);
}

}  // namespace

int main()
{
    const auto idx = Scene();
    Measure("bmp24", raster::DecodeBmp, Bmp24(idx));
    Measure("bmp_rle8", raster::DecodeBmp, BmpRle8(idx));
    Measure("tga_rle32", raster::DecodeTga, TgaRle32(idx));
    Measure("pcx8", raster::DecodePcx, Pcx8(idx));
    Measure("ilbm", raster::DecodeIff, Ilbm8(idx));
    return 0;
}
