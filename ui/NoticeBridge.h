// Joins the thread's notice dispatcher (net/Dispatcher.h) to the Qt event
// loop, so that one pump serves windows and sockets.
//
// The dispatcher's descriptor is watched by a QSocketNotifier that delivers
// pending notices; a host-loop hook makes every blocking wait of the socket
// layer (WaitForNotices: THttpCli::Get, WaitUntilReady, Flush ...) run rounds
// of the Qt event loop instead, bounded by the wait's deadline. Windows stay
// responsive during a blocking request and the break buttons work.
//
// Exceptions never cross into Qt: one escaping a notice reaches the blocking
// wait that is pumping (as it would without Qt); with no such wait it is
// written to the log and the loop goes on.
#pragma once

#include <chrono>
#include <exception>
#include <memory>

class QObject;
class QSocketNotifier;
class QTimer;

class TNoticeBridge {
public:
    // Joins the calling thread's dispatcher; a QCoreApplication must exist.
    TNoticeBridge();
    // Removes the hook and the notifier: waits go back to the dispatcher.
    ~TNoticeBridge();
    TNoticeBridge(const TNoticeBridge&) = delete;
    TNoticeBridge& operator=(const TNoticeBridge&) = delete;

    // A bridge for the calling thread that lives until the application
    // object is destroyed; further calls only pass the period on.
    static void InstallForThisThread(std::chrono::milliseconds windowlessQtPeriod = {});

    // For a program without windows: a positive period makes blocking waits
    // sleep in the dispatcher (cheaper per notice than a Qt round) and gives
    // Qt's timers and notifiers a round at least once per period. Zero (the
    // default) runs waits as rounds of the Qt loop.
    void WaitInDispatcher(std::chrono::milliseconds qtPeriod);

private:
    void Drain();
    void RethrowStashed();
    std::chrono::milliseconds qtPeriod_{0};
    std::unique_ptr<QSocketNotifier> notifier_;
    std::unique_ptr<QObject> context_;
    std::unique_ptr<QTimer> timer_;  // wakes the outermost waiting round
    std::chrono::steady_clock::time_point lastQtRound_{};  // last round of the Qt loop run by a wait
    int draining_ = 0;
    int waiting_ = 0;          // hook rounds in progress (a blocking wait is pumping)
    std::exception_ptr stashed_;  // a notice's exception on its way to that wait
};
