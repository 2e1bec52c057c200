// Shared by the viewer suites: pictures made in memory, a private settings
// store, and waiting on a condition with a deadline.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

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
    ~Picture() { raster::deldib(dib); }
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;
    raster::DibHandle dib;
};

// Points the per-user settings store at a fresh folder, so no test reads or
// writes the user's own settings. Each test case runs in its own process.
inline std::string PrivateSettings()
{
    static const std::string dir = [] {
        std::string t = (std::filesystem::temp_directory_path() / "wl-viewer-settings-XXXXXX").string();
        const char* made = ::mkdtemp(t.data());
        const std::string path = made ? made : "/nonexistent-wl-settings";
        for (QSettings::Format f : {QSettings::NativeFormat, QSettings::IniFormat})
            QSettings::setPath(f, QSettings::UserScope, QString::fromStdString(path));
        return path;
    }();
    return dir;
}

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
