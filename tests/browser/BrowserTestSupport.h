// Helpers of the browser tests: scratch folders and picture files made on the spot.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <QColor>
#include <QCoreApplication>
#include <QEventLoop>
#include <QImage>

#include "base/NaturalOrder.h"

namespace browsertest {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// Pumps events until cond holds or the deadline passes.
template <class F>
bool WaitFor(F cond, std::chrono::seconds limit = std::chrono::seconds(120))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// The regular files of dir in natural name order: the order a pass shows them in.
inline std::vector<std::string> NameOrder(const std::string& dir)
{
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return names;
    while (const dirent* e = ::readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != ".." && e->d_type == DT_REG)
            names.push_back(n);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return NaturalLess(a, b); });
    return names;
}

class TTempDir {
public:
    TTempDir()
    {
        std::string t = (fs::temp_directory_path() / "wl-browser-XXXXXX").string();
        if (!::mkdtemp(t.data()))
            std::abort();
        path_ = t;
    }
    ~TTempDir()
    {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline Bytes ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

inline void WriteFile(const std::string& path, const Bytes& b)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

inline void Put16(Bytes& b, uint32_t v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v)
{
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// A BMP file of the given depth (1, 4, 8 or 24); pixel(x, y) gives the index
// (or 0xRRGGBB for 24 bits) of column x, row y counted from the top.
template <class F>
Bytes MakeBmp(int w, int h, int bits, F pixel)
{
    const int colours = bits <= 8 ? 1 << bits : 0;
    const uint32_t row = static_cast<uint32_t>(((w * bits + 31) / 32) * 4);
    const uint32_t offset = 14 + 40 + 4 * static_cast<uint32_t>(colours);
    Bytes b;
    b.push_back('B');
    b.push_back('M');
    Put32(b, offset + row * static_cast<uint32_t>(h));
    Put32(b, 0);
    Put32(b, offset);
    Put32(b, 40);
    Put32(b, static_cast<uint32_t>(w));
    Put32(b, static_cast<uint32_t>(h));
    Put16(b, 1);
    Put16(b, static_cast<uint32_t>(bits));
    Put32(b, 0);
    Put32(b, row * static_cast<uint32_t>(h));
    Put32(b, 2835);
    Put32(b, 2835);
    Put32(b, static_cast<uint32_t>(colours));
    Put32(b, 0);
    for (int i = 0; i < colours; ++i) {
        const auto v = static_cast<uint8_t>(i * 255 / (colours - 1));
        b.push_back(v);
        b.push_back(static_cast<uint8_t>(255 - v));
        b.push_back(static_cast<uint8_t>(i * 37));
        b.push_back(0);
    }
    for (int y = h - 1; y >= 0; --y) {
        Bytes r(row, 0);
        for (int x = 0; x < w; ++x) {
            const uint32_t p = pixel(x, y);
            switch (bits) {
            case 1: r[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>((p & 1) << (7 - x % 8)); break;
            case 4: r[static_cast<size_t>(x / 2)] |= static_cast<uint8_t>((p & 15) << ((x & 1) ? 0 : 4)); break;
            case 8: r[static_cast<size_t>(x)] = static_cast<uint8_t>(p); break;
            default:
                r[static_cast<size_t>(3 * x)] = static_cast<uint8_t>(p);
                r[static_cast<size_t>(3 * x + 1)] = static_cast<uint8_t>(p >> 8);
                r[static_cast<size_t>(3 * x + 2)] = static_cast<uint8_t>(p >> 16);
            }
        }
        b.insert(b.end(), r.begin(), r.end());
    }
    return b;
}

// A smooth colour picture saved by Qt in the format its suffix names (JPG, PNG ...).
inline bool SaveGradient(const std::string& path, int w, int h, const char* format)
{
    QImage img(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixelColor(x, y, QColor(x * 255 / std::max(1, w - 1), y * 255 / std::max(1, h - 1), 128));
    return img.save(QString::fromStdString(path), format, 90);
}

}  // namespace browsertest
