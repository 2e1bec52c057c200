// The picture viewer on the offscreen platform: one paint of a 6000 x 4000
// 24-bit picture in a 1000 x 700 view at 9000 %, 100 % and 5 % (median of 20),
// the longest time from a mouse move to the finished repaint while dragging at
// 400 %, and the number of draws one change of zoom costs. Times are the
// thread's CPU time (the form paints on this thread): on a machine shared with
// builds, wall time mostly measures the scheduler.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <vector>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QWidget>

#include "raster/DibDraw.h"
#include "raster/Rasterwerk.h"
#include "ui/ScrollBox.h"
#include "ui/SpinEdit.h"
#include "viewer/ViewPicFUnit.h"

namespace {

double ThreadMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

bool WaitFor(const std::function<bool()>& done, int ms = 20000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Runs events until no paint has happened for a few rounds.
void Settle(TPaintBox& box)
{
    long last = -1;
    int quiet = 0;
    WaitFor([&] {
        const long now = box.PaintCount();
        quiet = now == last ? quiet + 1 : 0;
        last = now;
        return quiet >= 5;
    });
}

// One paint of the view: asked for, then run by the event loop as a real
// paint is, timed until it has finished.
double OnePaintMs(TPaintBox& box)
{
    const long before = box.PaintCount();
    const double t0 = ThreadMs();
    box.Invalidate();
    WaitFor([&] { return box.PaintCount() > before; });
    return ThreadMs() - t0;
}

void Fail(const char* what)
{
    std::fprintf(stderr, "viewer benchmark: %s\n", what);
    std::exit(1);
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);

    raster::DibHandle pic;
    raster::newdib(pic, 6000, 4000, 24, nullptr, 0);
    if (!pic.Bits)
        Fail("no picture");
    for (int32_t y = 0; y < 4000; ++y) {
        uint8_t* row = pic.Bits + size_t(y) * size_t(pic.RowBytes);
        for (int32_t x = 0; x < 6000; ++x) {
            row[3 * x] = uint8_t(x);
            row[3 * x + 1] = uint8_t(y);
            row[3 * x + 2] = uint8_t(x ^ y);
        }
    }

    TViewPicForm form;
    form.ClientWidth = 1000;
    form.ClientHeight = 700 + 41;   // the view below the command strip is 1000 x 700
    form.ViewPicture = pic;
    form.ViewFileName = "/tmp/bench.bmp";
    form.Show();
    TPaintBox& box = *form.PaintBox1;
    if (!WaitFor([&] { return form.DrawCount() > 0; }))
        Fail("the viewer never drew");

    // Draws per change of zoom: the largest count over a few changes.
    long zoomDraws = 0;
    for (int z : {110, 120, 400, 90, 100}) {
        Settle(box);
        const long before = form.DrawCount();
        form.ZoomEd->Value = z;
        Settle(box);
        zoomDraws = std::max(zoomDraws, form.DrawCount() - before);
    }

    for (int z : {9000, 100, 5}) {
        form.ZoomEd->Value = z;
        Settle(box);
        form.ScrollBox1->HorzScrollBar.Position = box.Width() / 2;
        form.ScrollBox1->VertScrollBar.Position = box.Height() / 2;
        Settle(box);
        std::vector<double> times;
        for (int i = 0; i < 20; ++i)
            times.push_back(OnePaintMs(box));
        std::printf("viewer.paint_ms_%d %.2f ms\n", z, Median(times));
    }

    // Dragging at 400 %: real mouse events on the paint box's widget.
    form.ZoomEd->Value = 400;
    Settle(box);
    form.ScrollBox1->HorzScrollBar.Position = box.Width() / 2;
    form.ScrollBox1->VertScrollBar.Position = box.Height() / 2;
    Settle(box);
    QWidget* target = box.Widget();
    const QPointF start(500, 350);
    auto send = [&](QEvent::Type type, QPointF at, Qt::MouseButtons buttons) {
        QMouseEvent e(type, at, target->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(target, &e);
    };
    send(QEvent::MouseButtonPress, start, Qt::LeftButton);
    double longest = 0;
    for (int i = 1; i <= 60; ++i) {
        const QPointF at = start + QPointF((i % 30 < 15 ? -1 : 1) * 7.0 * (i % 15), (i % 2 ? 3.0 : -3.0));
        const long before = box.PaintCount();
        const double t0 = ThreadMs();
        send(QEvent::MouseMove, at, Qt::LeftButton);
        WaitFor([&] { return box.PaintCount() > before; }, 2000);
        longest = std::max(longest, ThreadMs() - t0);
    }
    send(QEvent::MouseButtonRelease, start, Qt::NoButton);
    std::printf("viewer.drag_frame_ms %.2f ms\n", longest);
    std::printf("viewer.zoom_paints %ld draws\n", zoomDraws);
    raster::deldib(pic);
    return 0;
}
