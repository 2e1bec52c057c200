// Thumbnail benchmark helper: makes the picture folders and runs the passes
// that need the browser form in this process (cached pass timing, the
// longest stretch the user-interface thread handles no events).
//
//   bench_thumbs make-jpeg DIR N W H | make-png DIR N W H | make-small DIR N
//   bench_thumbs cached DIR          -> "<thumbnails> <seconds>"
//   bench_thumbs uigap DIR           -> "<longest gap in ms>"
//   bench_thumbs make-bomb DIR N W H -> N lossless WebPs of W x H in a few bytes each
//   bench_thumbs make-jpeg-bomb DIR N W H -> N progressive JPEGs of W x H in one colour
//   bench_thumbs cachedopen DIR      -> "<ms from choosing DIR to the first painted grid> <thumbnails>"
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <QApplication>
#include <QColor>
#include <QElapsedTimer>
#include <QImage>
#include <QTimer>

#include "browser/BrowserFUnit.h"
#include "tests/support/JpegBomb.h"
#include "tests/support/WebpBomb.h"
#include "ui/ScrollBox.h"
#include "ui/ShellTree.h"

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

namespace {

// Something like a photograph: smooth colour with texture, so the encoders
// and decoders do the work they do on real pictures.
QImage Photo(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB888);
    uint32_t seed = 12345;
    for (int y = 0; y < h; ++y) {
        uchar* row = img.scanLine(y);
        for (int x = 0; x < w; ++x) {
            seed = seed * 1103515245u + 12345u;
            const int noise = static_cast<int>((seed >> 16) & 31) - 16;
            row[3 * x] = static_cast<uchar>(std::clamp(x * 255 / w + noise, 0, 255));
            row[3 * x + 1] = static_cast<uchar>(std::clamp(y * 255 / h + noise, 0, 255));
            row[3 * x + 2] = static_cast<uchar>(std::clamp(((x / 64 + y / 64) % 2) * 120 + 60 + noise, 0, 255));
        }
    }
    return img;
}

int Make(const std::string& dir, int n, int w, int h, const char* format, const char* ext)
{
    fs::create_directories(dir);
    const std::string first = dir + "/pic0000." + ext;
    if (!Photo(w, h).save(QString::fromStdString(first), format, 90))
        return 1;
    for (int i = 1; i < n; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/pic%04d.%s", i, ext);
        fs::copy_file(first, dir + name, fs::copy_options::overwrite_existing);
    }
    return 0;
}

void Put(std::vector<uint8_t>& b, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Small 8-bit BMPs, each a little different.
int MakeSmall(const std::string& dir, int n)
{
    fs::create_directories(dir);
    const int w = 48, h = 36;
    for (int i = 0; i < n; ++i) {
        std::vector<uint8_t> b = {'B', 'M'};
        const uint32_t offset = 14 + 40 + 1024, size = offset + w * h;
        Put(b, size, 4); Put(b, 0, 4); Put(b, offset, 4);
        Put(b, 40, 4); Put(b, w, 4); Put(b, h, 4); Put(b, 1, 2); Put(b, 8, 2);
        Put(b, 0, 4); Put(b, w * h, 4); Put(b, 2835, 4); Put(b, 2835, 4); Put(b, 256, 4); Put(b, 0, 4);
        for (int c = 0; c < 256; ++c)
            Put(b, static_cast<uint32_t>(c | ((c * 3 & 255) << 8) | (((c + i) & 255) << 16)), 4);
        for (int p = 0; p < w * h; ++p)
            b.push_back(static_cast<uint8_t>(p + i));
        char name[32];
        std::snprintf(name, sizeof name, "/s%06d.bmp", i);
        std::ofstream(dir + name, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
    return 0;
}

void RunPass(TBrowserForm& form)
{
    while (form.Busy)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

int Cached(const std::string& dir)
{
    {
        TBrowserFormSetup setup;
        setup.InitialFolder = dir;
        setup.UseFormStorage = false;
        TBrowserForm warm(setup);
        RunPass(warm);
    }
    TClock::time_point first{}, last{};
    TBrowserFormSetup setup;
    setup.InitialFolder = dir;
    setup.UseFormStorage = false;
    setup.OnMemoLine = [&](const std::string& line) {
        if (line == "Statusinformationen:")
            return;
        if (first == TClock::time_point{})
            first = TClock::now();
        last = TClock::now();
    };
    TBrowserForm form(setup);
    RunPass(form);
    rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("%d %.6f %ld\n", form.ThumbCount, std::chrono::duration<double>(last - first).count(), ru.ru_maxrss);
    return 0;
}

int UiGap(const std::string& dir)
{
    // The window is up and has shown a folder, as when the user picks the
    // next one in the tree: the pass over dir is what is measured.
    const std::string start = dir + "/start";
    fs::create_directories(start);
    Photo(64, 48).save(QString::fromStdString(start + "/a.png"), "PNG");
    TBrowserFormSetup setup;
    setup.InitialFolder = start;
    setup.UseFormStorage = false;
    TBrowserForm form(setup);
    form.Show();
    RunPass(form);
    const auto settle = TClock::now() + std::chrono::milliseconds(500);
    while (TClock::now() < settle)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = clock.elapsed(), worst = 0;
    int worstAt = -1;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (now - lastTick > 40)
            std::fprintf(stderr, "gap %lld ms at %lld ms, %d thumbnails shown\n", static_cast<long long>(now - lastTick),
                         static_cast<long long>(now), form.ThumbCount);
        if (now - lastTick > worst) {
            worst = now - lastTick;
            worstAt = form.ThumbCount;
        }
        lastTick = now;
    });
    tick.start();
    form.JamShellTree1->SetSelectedPath(dir);
    RunPass(form);
    // Where the longest gap fell (thumbnails shown by then), for finding its cause.
    std::fprintf(stderr, "longest gap %lld ms after %d of %d thumbnails\n", static_cast<long long>(worst), worstAt,
                 form.ThumbCount);
    std::printf("%lld %d\n", static_cast<long long>(worst), form.ThumbCount);
    fs::remove_all(start);
    return 0;
}

int MakeBomb(const std::string& dir, int n, int w, int h)
{
    fs::create_directories(dir);
    for (int i = 0; i < n; ++i) {
        const std::vector<uint8_t> b = wltest::UniformLosslessWebp(static_cast<uint32_t>(w), static_cast<uint32_t>(h),
                                                                   static_cast<uint8_t>(i * 30), 90, 200);
        char name[32];
        std::snprintf(name, sizeof name, "/bomb%02d.webp", i);
        std::ofstream(dir + name, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
    return 0;
}

int MakeJpegBomb(const std::string& dir, int n, int w, int h)
{
    fs::create_directories(dir);
    const std::vector<uint8_t> b = wltest::FlatProgressiveJpeg(static_cast<uint32_t>(w), static_cast<uint32_t>(h), 30,
                                                               90, 200);
    for (int i = 0; i < n; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/bomb%02d.jpg", i);
        std::ofstream(dir + name, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
    return 0;
}

int CachedOpen(const std::string& dir)
{
    // The window is up on a small folder; then the user picks dir, whose
    // cache file is complete. Measured: until the grid is first painted
    // with thumbnails in it.
    const std::string start = dir + "-start";
    fs::create_directories(start);
    TBrowserFormSetup setup;
    setup.InitialFolder = start;
    setup.UseFormStorage = false;
    TBrowserForm form(setup);
    form.Show();
    RunPass(form);
    bool painted = false;
    TClock::time_point at{};
    form.PaintBox1->OnPaint = [&] {
        form.PaintBox1Paint();
        if (!painted && form.ThumbCount > 0) {
            painted = true;
            at = TClock::now();
        }
    };
    const auto t0 = TClock::now();
    form.JamShellTree1->SetSelectedPath(dir);
    while (!painted && TClock::now() - t0 < std::chrono::seconds(60))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double ms = std::chrono::duration<double, std::milli>(at - t0).count();
    const int shown = form.ThumbCount;
    RunPass(form);
    std::printf("%.1f %d\n", painted ? ms : -1.0, shown);
    fs::remove_all(start);
    return painted ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const std::vector<std::string> a(argv + 1, argv + argc);
    if (a.size() == 5 && a[0] == "make-jpeg")
        return Make(a[1], std::stoi(a[2]), std::stoi(a[3]), std::stoi(a[4]), "JPG", "jpg");
    if (a.size() == 5 && a[0] == "make-png")
        return Make(a[1], std::stoi(a[2]), std::stoi(a[3]), std::stoi(a[4]), "PNG", "png");
    if (a.size() == 3 && a[0] == "make-small")
        return MakeSmall(a[1], std::stoi(a[2]));
    if (a.size() == 2 && a[0] == "cached")
        return Cached(a[1]);
    if (a.size() == 2 && a[0] == "uigap")
        return UiGap(a[1]);
    if (a.size() == 5 && a[0] == "make-bomb")
        return MakeBomb(a[1], std::stoi(a[2]), std::stoi(a[3]), std::stoi(a[4]));
    if (a.size() == 5 && a[0] == "make-jpeg-bomb")
        return MakeJpegBomb(a[1], std::stoi(a[2]), std::stoi(a[3]), std::stoi(a[4]));
    if (a.size() == 2 && a[0] == "cachedopen")
        return CachedOpen(a[1]);
    std::fprintf(stderr, "usage: bench_thumbs make-jpeg|make-png|make-bomb|make-jpeg-bomb DIR N W H | make-small DIR N | cached DIR | uigap DIR | cachedopen DIR\n");
    return 2;
}
