// The notice dispatcher: order, posting from other threads, vanishing
// notices, kernel waits with deadlines.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "net/Dispatcher.h"
#include "net/NetTestPeer.h"
#include "support/Bounds.h"

using wltest::TBackstop;
using wltest::ThreadCpuSeconds;

TEST(Dispatcher, PostedAndReadinessNoticesArriveInOrder)
{
    TNoticeDispatcher& d = TNoticeDispatcher::Current();
    TNoticeSink sink;
    std::vector<std::string> seen;
    int sv[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv), 0);
    uint64_t id = d.Watch(sv[0], TNoticeDispatcher::kReadable, [&](uint32_t ev) {
        char c;
        while (::recv(sv[0], &c, 1, 0) == 1) {
        }
        seen.push_back(ev & TNoticeDispatcher::kReadable ? "ready" : "other");
    });
    ASSERT_NE(id, 0u);
    sink.Post([&] { seen.push_back("a"); });
    ASSERT_EQ(::send(sv[1], "x", 1, 0), 1);
    sink.Post([&] {
        seen.push_back("b");
        sink.Post([&] { seen.push_back("c"); });  // posted while delivering: next round
    });
    d.PumpPending();
    // Readiness is collected when the pump starts, behind what was posted.
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "ready"}));
    d.PumpPending();
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "ready", "c"}));
    EXPECT_EQ(d.PumpPending(), 0) << "the handler drained the pair: nothing is pending";

    // A readiness notice already queued vanishes when its watch goes.
    ASSERT_EQ(::send(sv[1], "y", 1, 0), 1);
    sink.Post([&] { d.Unwatch(id); });
    d.PumpPending();
    EXPECT_EQ(seen.size(), 4u);
    ::close(sv[0]);
    ::close(sv[1]);
}

TEST(Dispatcher, NoticesOfADestroyedSinkVanishAndLatePostersAreHarmless)
{
    TNoticeDispatcher& d = TNoticeDispatcher::Current();
    int ran = 0;
    TNoticePoster late;
    {
        TNoticeSink sink;
        late = sink.Poster();
        sink.Post([&] { ++ran; });
    }
    d.PumpPending();
    EXPECT_EQ(ran, 0);
    EXPECT_FALSE(late.Post([&] { ++ran; }));
    d.PumpPending();
    EXPECT_EQ(ran, 0);

    // A poster whose whole thread (and dispatcher) is gone.
    TNoticePoster orphan;
    std::thread([&] {
        TNoticeSink s;
        orphan = s.Poster();
    }).join();
    EXPECT_FALSE(orphan.Post([] {}));
}

TEST(Dispatcher, WaitSleepsInTheKernelUntilAPostFromAnotherThreadOrTheDeadline)
{
    TNoticeDispatcher& d = TNoticeDispatcher::Current();
    TNoticeSink sink;
    std::atomic<bool> got{false};
    TNoticePoster p = sink.Poster();
    auto t0 = TNoticeClock::now();
    double cpu0 = ThreadCpuSeconds();
    std::thread t([p, &got] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        p.Post([&got] { got = true; });
    });
    // The deadline lies far beyond the post: only the post can end the wait soon.
    while (!got && TNoticeClock::now() - t0 < std::chrono::seconds(30))
        d.WaitAndPump(t0 + std::chrono::seconds(30));
    t.join();
    EXPECT_TRUE(got);
    EXPECT_LT(TNoticeClock::now() - t0, std::chrono::seconds(15)) << "woken by the post, not by the deadline";
    // A spinning wait burns a good part of the 300 ms even on a busy machine.
    EXPECT_LT(ThreadCpuSeconds() - cpu0, 0.05) << "the wait must not spin";

    // A wait that missed its deadline would be ended by the backstop's post
    // after ten seconds; one that read it in seconds, not milliseconds, after one.
    std::chrono::nanoseconds took{};
    {
        TBackstop backstop(std::chrono::seconds(10), [p] { p.Post([] {}); });
        t0 = TNoticeClock::now();
        d.WaitAndPump(t0 + std::chrono::milliseconds(40));
        took = TNoticeClock::now() - t0;
    }
    EXPECT_GE(took, std::chrono::milliseconds(40));
    EXPECT_LT(took, std::chrono::milliseconds(900));
}

TEST(Dispatcher, QuitRequestIsRecordedNotDelivered)
{
    TNoticeDispatcher& d = TNoticeDispatcher::Current();
    d.ClearQuit();
    d.PostQuit();
    EXPECT_FALSE(d.QuitSeen());
    d.PumpPending();
    EXPECT_TRUE(d.QuitSeen());
    d.ClearQuit();
}

TEST(Dispatcher, HostLoopHookTakesOverWaitsAndPumps)
{
    std::vector<bool> calls;
    SetHostLoopHook([&](bool wait, TNoticeDeadline) { calls.push_back(wait); });
    WaitForNotices(TNoticeClock::now());
    PumpNotices();
    SetHostLoopHook(nullptr);
    EXPECT_EQ(calls, (std::vector<bool>{true, false}));
    EXPECT_FALSE(HostLoopInstalled());
}

TEST(Dispatcher, PendingNoticesKeepTheDescriptorReadableWhileAHostLoopRuns)
{
    TNoticeDispatcher& d = TNoticeDispatcher::Current();
    d.PumpPending();
    auto readable = [&] {
        pollfd p{d.Fd(), POLLIN, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
    };
    std::vector<bool> seenByHook;
    SetHostLoopHook([&](bool, TNoticeDeadline) { seenByHook.push_back(readable()); });
    TNoticeSink sink;
    int second = 0;
    sink.Post([&] {
        sink.Post([&] { ++second; });
        // A host loop about to sleep must find the descriptor readable, or
        // the notice just posted would wait for an unrelated wake-up.
        WaitForNotices(TNoticeClock::now() + std::chrono::milliseconds(1));
        PumpNotices();
    });
    d.PumpPending();
    EXPECT_EQ(seenByHook, (std::vector<bool>{true, true}));
    EXPECT_EQ(second, 0);
    // Still queued after the pump: the descriptor stays readable for the host.
    EXPECT_TRUE(readable());
    d.PumpPending();
    EXPECT_EQ(second, 1);
    EXPECT_FALSE(readable());
    SetHostLoopHook(nullptr);

    // Two notices collected by one pump (posted from another thread, so the
    // collecting drained the eventfd): while the first one's handler runs a
    // host loop, the second must keep the descriptor readable.
    seenByHook.clear();
    SetHostLoopHook([&](bool, TNoticeDeadline) { seenByHook.push_back(readable()); });
    int posted = 0;
    TNoticePoster poster = sink.Poster();
    std::thread([&] {
        poster.Post([&] {
            ++posted;
            WaitForNotices(TNoticeClock::now() + std::chrono::milliseconds(1));
        });
        poster.Post([&] { ++posted; });
    }).join();
    d.PumpPending();
    EXPECT_EQ(posted, 2);
    EXPECT_EQ(seenByHook, (std::vector<bool>{true}));
    EXPECT_FALSE(readable());
    SetHostLoopHook(nullptr);

    // A post made inside a pump signals the descriptor even when no wait
    // happened in between.
    SetHostLoopHook([](bool, TNoticeDeadline) {});
    sink.Post([&] { sink.Post([&] { ++second; }); });
    d.PumpPending();
    EXPECT_TRUE(readable());
    d.PumpPending();
    EXPECT_EQ(second, 2);
    EXPECT_FALSE(readable());
    SetHostLoopHook(nullptr);
}

TEST(Dispatcher, PumpQueuedLeavesReadinessForTheNextPump)
{
    TNoticeDispatcher& d = TNoticeDispatcher::Current();
    TNoticeSink sink;
    std::vector<std::string> seen;
    int sv[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv), 0);
    uint64_t id = d.Watch(sv[0], TNoticeDispatcher::kReadable, [&](uint32_t) {
        char c;
        while (::recv(sv[0], &c, 1, 0) == 1) {
        }
        seen.push_back("ready");
    });
    ASSERT_EQ(::send(sv[1], "x", 1, 0), 1);
    sink.Post([&] { seen.push_back("a"); });
    EXPECT_EQ(d.PumpQueued(), 1);
    EXPECT_EQ(seen, (std::vector<std::string>{"a"}));
    EXPECT_FALSE(d.HasPending());
    EXPECT_EQ(d.PumpPending(), 1);
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "ready"}));
    d.Unwatch(id);
    ::close(sv[0]);
    ::close(sv[1]);
}
