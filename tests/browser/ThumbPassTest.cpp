// The pass machinery with real threads: files arrive on the user-interface
// thread in directory order whatever the pool does, a stop processes no
// further file, and late results of a stopped pass are never shown.
#include <gtest/gtest.h>

#include <chrono>

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QThread>

#include "browser/BrowserTestSupport.h"
#include "browser/ThumbPass.h"

using namespace browsertest;

namespace {

struct Seen {
    std::string name;
    TPreparedFile::TKind kind;
    bool onUiThread;
};

}  // namespace

TEST(ThumbPass, FilesArriveInNameOrderOnTheUserInterfaceThread)
{
    TTempDir dir;
    for (int i = 0; i < 40; ++i) {
        // Big and small pictures mixed, so later files are often ready first.
        const int size = (i % 3 == 0) ? 900 : 40;
        ASSERT_TRUE(SaveGradient(dir / ("p" + std::to_string(i) + (i % 2 ? ".jpg" : ".png")), size, size, i % 2 ? "JPG" : "PNG"));
    }
    WriteFile(dir / "readme.txt", Bytes{'x'});
    ::mkdir((dir / "sub.jpg").c_str(), 0755);

    QObject context;
    auto work = std::make_shared<TPassWork>(dir.Path(), 1);
    TThumbPool pool(3);
    std::vector<Seen> seen;
    bool finished = false;
    TMyThread thread(
        &context, work,
        [&](const std::string& name, std::optional<TPreparedFile>& p) {
            seen.push_back(Seen{name, p ? p->Kind : TPreparedFile::NotPicture,
                                QThread::currentThread() == context.thread()});
            EXPECT_TRUE(p.has_value()) << name;
        },
        [&] { finished = true; });
    pool.Serve(work);
    thread.Start();
    ASSERT_TRUE(WaitFor([&] { return finished; }));
    thread.WaitFor();

    const std::vector<std::string> order = NameOrder(dir.Path());
    ASSERT_EQ(order.size(), 41u);  // the folder is not a file
    ASSERT_EQ(seen.size(), order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(seen[i].name, order[i]);
        EXPECT_TRUE(seen[i].onUiThread);
        EXPECT_EQ(seen[i].kind, seen[i].name == "readme.txt" ? TPreparedFile::NotPicture : TPreparedFile::Made);
    }
    EXPECT_TRUE(thread.Done);
}

TEST(ThumbPass, AStoppedPassProcessesNoFurtherFileAndDropsWhatWasPreparedAhead)
{
    TTempDir dir;
    for (int i = 0; i < 30; ++i)
        ASSERT_TRUE(SaveGradient(dir / ("p" + std::to_string(i) + ".png"), 300, 200, "PNG"));
    QObject context;
    auto work = std::make_shared<TPassWork>(dir.Path(), 7);
    TThumbPool pool(2);
    int calls = 0;
    bool finished = false;
    std::unique_ptr<TMyThread> thread;
    thread = std::make_unique<TMyThread>(
        &context, work,
        [&](const std::string&, std::optional<TPreparedFile>&) {
            ++calls;
            if (calls == 3) {
                thread->Terminate();
                work->Stop();
            }
        },
        [&] { finished = true; });
    pool.Serve(work);
    thread->Start();
    ASSERT_TRUE(WaitFor([&] { return finished; }));
    EXPECT_EQ(calls, 3);
    EXPECT_FALSE(thread->Done);
    // A result finished after the stop is released, not kept for anyone.
    TPreparedFile late;
    late.Kind = TPreparedFile::Made;
    raster::newdib(late.Thumb, 4, 4, 24, nullptr, 0);
    work->Store(work->Taken() + 1, std::move(late));
    std::string name;
    std::optional<TPreparedFile> next;
    ASSERT_TRUE(work->TakeNext(name, next));
    EXPECT_FALSE(next.has_value());
    thread.reset();
}

TEST(ThumbPass, DestroyingTheThreadDuringAPassNeverRunsAStepAfterwards)
{
    TTempDir dir;
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(SaveGradient(dir / ("p" + std::to_string(i) + ".jpg"), 400, 300, "JPG"));
    for (int attempt = 0; attempt < 5; ++attempt) {
        auto context = std::make_unique<QObject>();
        auto work = std::make_shared<TPassWork>(dir.Path(), 9);
        auto pool = std::make_unique<TThumbPool>(2);
        int calls = 0;
        int ends = 0;
        auto thread = std::make_unique<TMyThread>(
            context.get(), work, [&](const std::string&, std::optional<TPreparedFile>&) { ++calls; }, [&] { ++ends; });
        pool->Serve(work);
        thread->Start();
        WaitFor([&] { return calls >= attempt; }, std::chrono::seconds(30));
        const int endsBefore = ends;
        // Teardown order of the form: thread, pool, then the object steps are posted to.
        thread.reset();
        work->Stop();
        pool.reset();
        const int callsAtStop = calls;
        context.reset();
        QCoreApplication::processEvents();
        EXPECT_EQ(calls, callsAtStop);
        EXPECT_EQ(ends, endsBefore);
    }
}
