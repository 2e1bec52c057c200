// The Qt bridge of the notice dispatcher: one pump serves windows and sockets.
#include <gtest/gtest.h>

// Qt
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

// system
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

// ours
#include "net/Dispatcher.h"
#include "net/WSocket.h"
#include "ui/NoticeBridge.h"
#include "support/Bounds.h"

namespace {

// Runs the Qt loop until cond holds or the limit passes.
bool RunQtUntil(const std::function<bool()>& cond, int limitMs = 5000)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (cond())
            loop.quit();
    });
    poll.start(5);
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    if (!cond())
        loop.exec();
    return cond();
}

}  // namespace

TEST(NoticeBridge, QtLoopDeliversPostedNoticesAndWaitsServeQtEvents)
{
    TNoticeBridge bridge;
    ASSERT_TRUE(HostLoopInstalled());
    TNoticeSink sink;
    int delivered = 0;
    sink.Post([&] { ++delivered; });
    // Posted from another thread as well: the notifier must wake the loop.
    TNoticePoster poster = sink.Poster();
    std::thread([poster, &delivered] { poster.Post([&delivered] { delivered += 10; }); }).join();
    EXPECT_TRUE(RunQtUntil([&] { return delivered == 11; }));

    // A blocking wait of the socket layer runs the Qt loop: a Qt timer fires in it.
    bool timerFired = false;
    QTimer::singleShot(20, [&] { timerFired = true; });
    auto until = TNoticeClock::now() + std::chrono::seconds(5);
    while (!timerFired && TNoticeClock::now() < until)
        WaitForNotices(until);
    EXPECT_TRUE(timerFired);

    // The wait ends at its deadline when nothing happens; one that missed it
    // would be ended by the backstop's post.
    std::chrono::nanoseconds took{};
    {
        wltest::TBackstop backstop(std::chrono::seconds(10), [poster] { poster.Post([] {}); });
        auto t0 = TNoticeClock::now();
        WaitForNotices(t0 + std::chrono::milliseconds(60));
        took = TNoticeClock::now() - t0;
    }
    EXPECT_GE(took, std::chrono::milliseconds(55));
    EXPECT_LT(took, std::chrono::milliseconds(2000));
}

TEST(NoticeBridge, SocketEventsRunInTheQtLoopAndNestedWaitsProgress)
{
    TNoticeBridge bridge;
    int lfd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::listen(lfd, 4);
    socklen_t len = sizeof a;
    ::getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &len);

    TWSocket s;
    bool connected = false;
    std::string got;
    bool nestedDone = false;
    s.OnSessionConnected = [&](TCustomWSocket*, uint16_t e) { connected = e == 0; };
    s.OnDataAvailable = [&](TCustomWSocket* snd, uint16_t) {
        char buf[64];
        int n = snd->Receive(buf, sizeof buf);
        if (n > 0)
            got.append(buf, static_cast<std::size_t>(n));
    };
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(ntohs(a.sin_port)));
    s.Connect();
    int peer = -1;
    ASSERT_TRUE(RunQtUntil([&] {
        pollfd p{lfd, POLLIN, 0};
        if (peer < 0 && ::poll(&p, 1, 0) == 1)
            peer = ::accept(lfd, nullptr, nullptr);
        return connected && peer >= 0;
    }));

    // A notice handler delivered by the Qt loop waits (as THttpCli::Get does)
    // for socket data that only arrives later: the nested wait must see it.
    TNoticeSink sink;
    sink.Post([&] {
        std::thread([peer] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            ::send(peer, "ping", 4, MSG_NOSIGNAL);
        }).detach();
        auto until = TNoticeClock::now() + std::chrono::seconds(5);
        while (got != "ping" && TNoticeClock::now() < until)
            WaitForNotices(until);
        nestedDone = true;
    });
    // No polling timer here: only the notifier can wake the nested wait.
    QEventLoop loop;
    QTimer::singleShot(8000, &loop, &QEventLoop::quit);
    sink.Post([&] { loop.quit(); });
    auto t0 = TNoticeClock::now();
    loop.exec();
    EXPECT_TRUE(nestedDone);
    EXPECT_EQ(got, "ping");
    // Not woken, the nested wait would last until its five-second deadline.
    EXPECT_LT(TNoticeClock::now() - t0, std::chrono::seconds(4));
    ::close(peer);
    ::close(lfd);
}

TEST(NoticeBridge, NoticesPostedBeforeTheBridgeAreDeliveredByTheQtLoop)
{
    TNoticeSink sink;
    bool delivered = false;
    sink.Post([&] { delivered = true; });  // no host loop yet: nothing signalled
    TNoticeBridge bridge;
    // Only the dispatcher's descriptor can deliver it: no further post here.
    EXPECT_TRUE(RunQtUntil([&] { return delivered; }, 2000));
}

TEST(NoticeBridge, ANoticesExceptionReachesThePumpingWaitNotQt)
{
    TNoticeBridge bridge;
    TNoticeSink sink;
    sink.Post([] { throw std::runtime_error("from a notice"); });
    std::string caught;
    try {
        auto until = TNoticeClock::now() + std::chrono::seconds(2);
        while (TNoticeClock::now() < until)
            WaitForNotices(until);
    } catch (const std::runtime_error& e) {
        caught = e.what();
    }
    EXPECT_EQ(caught, "from a notice");

    // With no wait pumping, the Qt loop survives it and goes on.
    bool after = false;
    sink.Post([] { throw std::runtime_error("logged"); });
    sink.Post([&] { after = true; });
    EXPECT_TRUE(RunQtUntil([&] { return after; }, 2000));
}

TEST(NoticeBridge, AModalLoopOpenedByAHandlerStillDeliversNoticesPostedBeforeIt)
{
    TNoticeBridge bridge;
    TNoticeSink sink;
    bool inner = false;
    bool outerDone = false;
    sink.Post([&] {
        // Like a message box shown from a notice handler: a plain Qt loop,
        // not a wait of the socket layer.
        QEventLoop modal;
        sink.Post([&] {
            inner = true;
            modal.quit();
        });
        QTimer::singleShot(10000, &modal, &QEventLoop::quit);
        modal.exec();
        outerDone = true;
    });
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(RunQtUntil([&] { return outerDone; }, 15000));
    EXPECT_TRUE(inner);
    // Only the modal loop's ten-second safety timer would end it otherwise.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
}

TEST(NoticeBridge, OwnPostsFromInsideTheQtLoopWakeItAndNeverStarveIt)
{
    TNoticeBridge bridge;
    TNoticeSink sink;
    // Posted by a Qt handler of this thread, with nothing else to wake the
    // loop: it must not sleep on the notice until its safety timer.
    QEventLoop loop;
    bool got = false;
    QTimer::singleShot(0, [&] { sink.Post([&] { got = true; loop.quit(); }); });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    auto t0 = std::chrono::steady_clock::now();
    loop.exec();
    EXPECT_TRUE(got);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5)) << "slept until the safety timer";

    // A wait of the socket layer while notices keep coming (each posts the
    // next) still runs Qt rounds: the timer fires.
    int chain = 0;
    bool fired = false;
    std::function<void()> again = [&] {
        ++chain;
        if (!fired)
            sink.Post(again);
    };
    sink.Post(again);
    QTimer::singleShot(20, [&] { fired = true; });
    auto until = TNoticeClock::now() + std::chrono::seconds(10);
    t0 = std::chrono::steady_clock::now();
    while (!fired && TNoticeClock::now() < until)
        WaitForNotices(until);
    EXPECT_TRUE(fired) << "the notices starved the Qt loop";
    EXPECT_GT(chain, 1);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    // Settle the chain: the last notice posts nothing more.
    PumpNotices();
}

TEST(NoticeBridge, WaitsInTheDispatcherStillServeQtTimersAndWakeForNotices)
{
    TNoticeBridge bridge;
    bridge.WaitInDispatcher(std::chrono::milliseconds(30));
    bool fired = false;
    QTimer::singleShot(10, [&] { fired = true; });
    auto until = TNoticeClock::now() + std::chrono::seconds(10);
    auto t0 = std::chrono::steady_clock::now();
    while (!fired && TNoticeClock::now() < until)
        WaitForNotices(until);
    EXPECT_TRUE(fired);
    // Every 30 ms a Qt round; without one the wait would last ten seconds.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));

    // A post from another thread ends the wait before the next Qt round.
    TNoticeSink sink;
    std::atomic<bool> got{false};
    TNoticePoster poster = sink.Poster();
    std::thread t([poster, &got] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        poster.Post([&got] { got = true; });
    });
    until = TNoticeClock::now() + std::chrono::seconds(5);
    while (!got && TNoticeClock::now() < until)
        WaitForNotices(until);
    t.join();
    EXPECT_TRUE(got);

    // An exception of a notice reaches the wait.
    sink.Post([] { throw std::runtime_error("im Dispatcher"); });
    EXPECT_THROW(WaitForNotices(TNoticeClock::now() + std::chrono::seconds(2)), std::runtime_error);

    // Idle waits sleep: a second of waiting costs next to no processor time,
    // while spinning would burn a good part of it even on a busy machine.
    const double before = wltest::ThreadCpuSeconds();
    until = TNoticeClock::now() + std::chrono::seconds(1);
    while (TNoticeClock::now() < until)
        WaitForNotices(until);
    EXPECT_LT(wltest::ThreadCpuSeconds() - before, 0.1);
}

TEST(NoticeBridge, APumpThatDoesNotWaitDeliversWhatThisThreadPosted)
{
    for (int period : {0, 30}) {
        SCOPED_TRACE(period);
        TNoticeBridge bridge;
        bridge.WaitInDispatcher(std::chrono::milliseconds(period));
        TNoticeSink sink;
        int got = 0;
        sink.Post([&] { ++got; });
        PumpNotices();
        EXPECT_EQ(got, 1) << "queued on this thread: no loop round needed to see it";
        // Posted by a Qt handler that the pump itself runs: the next pump has it.
        QTimer::singleShot(0, [&] { sink.Post([&] { got += 10; }); });
        PumpNotices();
        PumpNotices();
        EXPECT_EQ(got, 11);
        // A wait whose deadline has passed polls, and sees the queue as well.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        sink.Post([&] { got += 100; });
        WaitForNotices(TNoticeClock::now() - std::chrono::milliseconds(1));
        EXPECT_EQ(got, 111);
    }
}

TEST(NoticeBridge, NoticesPostedByADrainStaySignalledForAForeignLoop)
{
    TNoticeBridge bridge;
    TNoticeDispatcher& d = TNoticeDispatcher::Current();
    TNoticeSink sink;
    bool first = false;
    bool second = false;
    // Posted from another thread, so the descriptor is signalled and Qt's
    // notifier drains it; the handler posts the next notice from this thread.
    TNoticePoster poster = sink.Poster();
    std::thread([poster, &sink, &first, &second] {
        poster.Post([&sink, &first, &second] {
            first = true;
            sink.Post([&second] { second = true; });
        });
    }).join();
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!first && std::chrono::steady_clock::now() < until)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    ASSERT_TRUE(first);
    ASSERT_TRUE(d.HasPending()) << "the first notice queued the second";
    EXPECT_FALSE(second);
    // A loop that knows nothing of Qt's sleep signal (a native dialog's,
    // say) sees the descriptor readable.
    pollfd p{d.Fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 1);
    d.PumpPending();
    EXPECT_TRUE(second);
}
