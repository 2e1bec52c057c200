// The per-thread notice dispatcher: the event pump behind sockets and the
// HTTP client.
//
// Every thread that owns sockets (or other notice users) has one dispatcher,
// created on first use. It delivers two kinds of notice, one at a time, in
// the order they arrived (readiness counts as arrived when the pump asks the
// kernel, which it does before delivering anything):
//   - readiness notices: a watched descriptor became readable, writable, hung
//     up or failed (epoll, level-triggered; a watcher narrows its interest
//     set instead of spinning on a condition it does not want to hear about);
//   - posted notices: a callable handed in through a TNoticeSink, from the
//     owning thread or from any other thread (host-name lookups answer this
//     way). A notice posted through a sink that has since been destroyed is
//     dropped, so an object never hears about work it no longer owns.
//
// Blocking calls (TCustomSyncWSocket::WaitUntilReady, THttpCli::Get, Flush,
// WaitForClose ...) all wait through WaitForNotices: it delivers what is
// pending, or sleeps in the kernel (epoll_wait) until a notice arrives or the
// deadline passes. Nothing here spins.
//
// A host event loop (the Qt bridge in ui/NoticeBridge) can take the pump over
// for its thread: it watches Fd() (readable while notices are pending) and
// calls PumpPending() when it is; it installs a THostLoopHook so that
// WaitForNotices and PumpNotices run one round of the host loop instead, and
// windows and sockets are served by that one pump.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

class TNoticeDispatcher;

namespace notice_detail {
struct Core;
struct SinkState;
}  // namespace notice_detail

using TNoticeClock = std::chrono::steady_clock;
using TNoticeDeadline = TNoticeClock::time_point;

// A thread-safe handle for posting to one sink. Copies may travel to other
// threads and outlive both the sink and the dispatcher: posting then does
// nothing.
class TNoticePoster {
public:
    TNoticePoster() = default;
    // Queues fn for delivery on the sink's thread. False when the sink or its
    // dispatcher is gone (fn is then dropped unrun).
    bool Post(std::function<void()> fn) const;

private:
    friend class TNoticeSink;
    std::shared_ptr<notice_detail::Core> core_;
    std::shared_ptr<notice_detail::SinkState> sink_;
};

// A posting target owned by one object on the current thread. Destroying the
// sink makes every notice still queued through it vanish.
class TNoticeSink {
public:
    TNoticeSink();  // bound to the calling thread's dispatcher
    ~TNoticeSink();
    TNoticeSink(const TNoticeSink&) = delete;
    TNoticeSink& operator=(const TNoticeSink&) = delete;

    // Queues fn behind every notice already pending on the owning thread.
    void Post(std::function<void()> fn);
    TNoticePoster Poster() const;
    TNoticeDispatcher& Dispatcher() const { return *dispatcher_; }

private:
    TNoticeDispatcher* dispatcher_;
    TNoticePoster poster_;
};

class TNoticeDispatcher {
public:
    // Readiness bits passed to watchers (the epoll bits of the same names).
    static constexpr uint32_t kReadable = 0x001;  // EPOLLIN
    static constexpr uint32_t kUrgent = 0x002;    // EPOLLPRI
    static constexpr uint32_t kWritable = 0x004;  // EPOLLOUT
    static constexpr uint32_t kError = 0x008;     // EPOLLERR
    static constexpr uint32_t kHangUp = 0x010;    // EPOLLHUP
    static constexpr uint32_t kPeerClosed = 0x2000;  // EPOLLRDHUP

    using TReadyHandler = std::function<void(uint32_t events)>;

    // The calling thread's dispatcher (created on first use, destroyed at
    // thread exit).
    static TNoticeDispatcher& Current();
    // Null when the calling thread has none yet.
    static TNoticeDispatcher* CurrentIfAny();

    ~TNoticeDispatcher();
    TNoticeDispatcher(const TNoticeDispatcher&) = delete;
    TNoticeDispatcher& operator=(const TNoticeDispatcher&) = delete;

    // Watching descriptors. Watch returns an id (never 0); interest is a set
    // of kReadable/kWritable/kUrgent/kPeerClosed (errors and hang-ups always
    // report). Returns 0 and sets errno when the descriptor cannot be watched.
    uint64_t Watch(int fd, uint32_t interest, TReadyHandler onReady);
    bool Modify(uint64_t id, uint32_t interest);
    // Forgets the watch; a readiness notice already queued for it vanishes.
    // Call before closing the descriptor.
    void Unwatch(uint64_t id);

    // Delivers every notice pending now (including readiness the kernel
    // reports at this moment), never blocking. Notices that arrive while these
    // run wait for the next call. Returns the number delivered.
    int PumpPending();
    // The same without asking the kernel: only what is queued already. A
    // host loop uses it between its own rounds, which collect readiness.
    int PumpQueued();
    // Sleeps in the kernel until a notice is pending or the deadline passes,
    // then delivers what is pending. Returns the number delivered.
    int WaitAndPump(TNoticeDeadline deadline);

    // A quit request travels like a notice; the pump that meets it records it
    // instead of delivering anything (TCustomWSocket::PumpEvents turns it
    // into the socket's terminated flag).
    void PostQuit();
    bool QuitSeen() const { return quitSeen_; }
    void ClearQuit() { quitSeen_ = false; }

    // Readable while notices are pending: a host loop watches it.
    int Fd() const;
    // Makes Fd() readable if notices are pending (the owning thread's own
    // posts only signal the descriptor while a host loop is installed, and
    // not even then when the host calls Wake itself before it sleeps).
    void Wake();
    // True when notices wait in the queue (readiness not yet collected from
    // the kernel does not count).
    bool HasPending() const;

    // Number of descriptors currently watched (tests and benchmarks).
    std::size_t WatchCount() const;

private:
    TNoticeDispatcher();
    void Collect(int timeoutMs);
    friend class TNoticeSink;
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::shared_ptr<notice_detail::Core> core_;
    bool quitSeen_ = false;
};

// A host event loop for the calling thread. wait=false: process what is
// pending and return. wait=true: one round that blocks until something
// happens or the deadline passes.
using THostLoopHook = std::function<void(bool wait, TNoticeDeadline deadline)>;
void SetHostLoopHook(THostLoopHook hook);  // empty removes it
bool HostLoopInstalled();
// Set by a host loop that calls TNoticeDispatcher::Wake whenever it is about
// to sleep: the owning thread's posts then skip signalling the descriptor
// (a write and a read of the eventfd, and a loop round, per notice).
void SetHostWakesBeforeSleep(bool on);

// The one blocking wait: deliver pending notices, or sleep in the kernel until
// one arrives or the deadline passes (with a host loop: one waiting round of
// it). Returns early after delivering; callers loop on their own condition.
void WaitForNotices(TNoticeDeadline deadline);
// Deliver what is pending without blocking (with a host loop: one non-waiting
// round of it).
void PumpNotices();

// Set by the host when the application is shutting down; waits then give up.
void SetApplicationTerminating(bool on);
bool ApplicationTerminating();
