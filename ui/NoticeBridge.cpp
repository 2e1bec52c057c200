#include "ui/NoticeBridge.h"

// Qt
#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDebug>
#include <QEventLoop>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

// ours
#include "net/Dispatcher.h"

#include <algorithm>
#include <chrono>
#include <climits>

namespace {

// One round of the Qt loop that blocks until something happens or the
// deadline passes (the single-shot timer wakes it).
void QtRound(bool wait, TNoticeDeadline deadline, QTimer& timer)
{
    if (!wait) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }
    if (deadline != TNoticeDeadline::max()) {
        auto left = deadline - TNoticeClock::now();
        if (left <= TNoticeClock::duration::zero()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            return;
        }
        auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        timer.start(ms > INT_MAX ? INT_MAX : static_cast<int>(ms));
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    timer.stop();
}

}  // namespace

TNoticeBridge::TNoticeBridge() : context_(std::make_unique<QObject>()), timer_(std::make_unique<QTimer>())
{
    timer_->setSingleShot(true);
    TNoticeDispatcher& d = TNoticeDispatcher::Current();
    notifier_ = std::make_unique<QSocketNotifier>(d.Fd(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, context_.get(), [this] { Drain(); });
    if (auto* app = QCoreApplication::instance())
        QObject::connect(app, &QCoreApplication::aboutToQuit, context_.get(),
                         [] { SetApplicationTerminating(true); });
    // Qt says when its loop is about to sleep, in every loop (modal ones
    // too): arming the descriptor only then spares the eventfd round trip
    // for each notice this thread posts while it is busy.
    if (auto* qtDispatcher = QAbstractEventDispatcher::instance()) {
        QObject::connect(
            qtDispatcher, &QAbstractEventDispatcher::aboutToBlock, context_.get(),
            [] {
                if (TNoticeDispatcher* nd = TNoticeDispatcher::CurrentIfAny())
                    nd->Wake();
            },
            Qt::DirectConnection);
        SetHostWakesBeforeSleep(true);
    }
    SetHostLoopHook([this](bool wait, TNoticeDeadline deadline) {
        TNoticeDispatcher& nd = TNoticeDispatcher::Current();
        const auto now = TNoticeClock::now();
        if (wait && qtPeriod_ > std::chrono::milliseconds::zero()) {
            // No windows to serve: the wait sleeps in the dispatcher, and
            // Qt's timers and notifiers get a quick round once a period.
            if (now - lastQtRound_ >= qtPeriod_) {
                lastQtRound_ = now;
                ++waiting_;
                QtRound(false, deadline, *timer_);
                --waiting_;
                RethrowStashed();
            }
            nd.WaitAndPump(std::min(deadline, lastQtRound_ + qtPeriod_));
            return;
        }
        // Notices already queued are delivered straight away; Qt still gets
        // a round every few milliseconds, so clicks and timers are served
        // while a request's notices follow one another.
        if (wait && nd.HasPending() && now - lastQtRound_ < std::chrono::milliseconds(5)) {
            // Readiness waits for the next Qt round, which asks the kernel.
            nd.PumpQueued();
            return;
        }
        // A round that does not wait (none asked, or the deadline is past)
        // never says it is about to sleep: what this thread queued must make
        // the descriptor readable for it here.
        nd.Wake();
        lastQtRound_ = now;
        ++waiting_;
        if (waiting_ == 1) {
            // The outermost round reuses one timer; a nested round (a wait
            // inside a handler) needs its own so the outer deadline stays.
            QtRound(wait, deadline, *timer_);
        } else {
            QTimer nested;
            nested.setSingleShot(true);
            QtRound(wait, deadline, nested);
        }
        --waiting_;
        RethrowStashed();
        // Notices already pending are delivered even when the notifier is
        // itself being dispatched further up the stack.
        if (draining_ > 0)
            TNoticeDispatcher::Current().PumpPending();
    });
}

TNoticeBridge::~TNoticeBridge()
{
    SetHostWakesBeforeSleep(false);
    SetHostLoopHook(nullptr);
}

void TNoticeBridge::RethrowStashed()
{
    if (stashed_) {
        std::exception_ptr e = stashed_;
        stashed_ = nullptr;
        std::rethrow_exception(e);
    }
}

void TNoticeBridge::Drain()
{
    ++draining_;
    try {
        TNoticeDispatcher::Current().PumpPending();
    } catch (...) {
        if (waiting_ > 0 && !stashed_) {
            stashed_ = std::current_exception();
        } else {
            try {
                throw;
            } catch (const std::exception& e) {
                qWarning("notice handler failed: %s", e.what());
            } catch (...) {
                qWarning("notice handler failed with an unknown exception");
            }
        }
    }
    --draining_;
    // Outside our own waits the loop that runs us may be a foreign one that
    // never says it is about to sleep: what the notices just posted stays
    // signalled on the descriptor.
    if (waiting_ == 0)
        TNoticeDispatcher::Current().Wake();
}

namespace {
thread_local TNoticeBridge* tInstalled = nullptr;
}  // namespace

void TNoticeBridge::WaitInDispatcher(std::chrono::milliseconds qtPeriod)
{
    qtPeriod_ = qtPeriod;
}

void TNoticeBridge::InstallForThisThread(std::chrono::milliseconds windowlessQtPeriod)
{
    TNoticeBridge*& installed = tInstalled;
    if (installed) {
        installed->WaitInDispatcher(windowlessQtPeriod);
        return;
    }
    auto* app = QCoreApplication::instance();
    if (!app)
        return;
    installed = new TNoticeBridge();
    installed->WaitInDispatcher(windowlessQtPeriod);
    QObject::connect(app, &QObject::destroyed, [] {
        delete tInstalled;
        tInstalled = nullptr;
    });
}
