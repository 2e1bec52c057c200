// Shared by the viewer suites: pictures made in memory, a private settings
// store, temporary folders, and waiting on a condition with a deadline.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>

#include "raster/Rasterwerk.h"

namespace viewertest {

// A 24-bit picture of w x h, every pixel (r, g, b); freed by the owner.
struct Picture {
    Picture(int32_t w, int32_t h, uint8_t r = 200, uint8_t g = 30, uint8_t b = 40)
    {
        raster::newdib(dib, w, h, 24, nullptr, 0);
        if (!dib.Bits)
            return;
        for (int32_t y = 0; y < h; ++y) {
            uint8_t* row = dib.Bits + size_t(y) * size_t(dib.RowBytes);
            for (int32_t x = 0; x < w; ++x) {
                row[3 * x] = b;
                row[3 * x + 1] = g;
                row[3 * x + 2] = r;
            }
        }
    }
    // Colour encodes the place: red = x mod 256, green = row from the top
    // mod 256, blue = the two high nibbles; see Expected().
    static Picture Patterned(int32_t w, int32_t h)
    {
        Picture p(w, h);
        for (int32_t y = 0; y < h && p.dib.Bits; ++y) {
            const int32_t top = h - 1 - y;
            uint8_t* row = p.dib.Bits + size_t(y) * size_t(p.dib.RowBytes);
            for (int32_t x = 0; x < w; ++x) {
                const uint32_t c = Expected(x, top);
                row[3 * x] = uint8_t(c >> 16);
                row[3 * x + 1] = uint8_t(c >> 8);
                row[3 * x + 2] = uint8_t(c);
            }
        }
        return p;
    }
    // The colour of a patterned picture at column x, row `top` from the top, as a TColor (0x00BBGGRR).
    static uint32_t Expected(int32_t x, int32_t top)
    {
        const uint32_t r = uint32_t(x) & 0xFF, g = uint32_t(top) & 0xFF;
        const uint32_t b = ((uint32_t(x) >> 8 & 15) << 4) | (uint32_t(top) >> 8 & 15);
        return r | g << 8 | b << 16;
    }
    Picture(Picture&& o) noexcept : dib(o.dib) { o.dib = raster::DibHandle{}; }
    ~Picture() { raster::deldib(dib); }
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;
    raster::DibHandle dib;
};

// Points the per-user settings store at a fresh folder, so no test reads or
// writes the user's own settings. Each test case runs in its own process.
inline std::string PrivateSettings()
{
    // Never destroyed, so the clean-up at exit can still read it.
    static const std::string* dir = [] {
        std::string t = (std::filesystem::temp_directory_path() / "wl-viewer-settings-XXXXXX").string();
        const char* made = ::mkdtemp(t.data());
        auto* path = new std::string(made ? made : "/nonexistent-wl-settings");
        for (QSettings::Format f : {QSettings::NativeFormat, QSettings::IniFormat})
            QSettings::setPath(f, QSettings::UserScope, QString::fromStdString(*path));
        if (made)
            std::atexit([] {
                std::error_code ec;
                std::filesystem::remove_all(*dir, ec);
            });
        return path;
    }();
    return *dir;
}

// A fresh folder under the temporary directory, removed with its contents.
struct Folder {
    Folder()
    {
        std::string t = (std::filesystem::temp_directory_path() / "wl-viewer-XXXXXX").string();
        const char* made = ::mkdtemp(t.data());
        path = made ? made : "/nonexistent-wl-viewer";
    }
    ~Folder()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    std::filesystem::path path;
};

inline bool WaitFor(const std::function<bool()>& done, int ms = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

} // namespace viewertest
