// The per-thread notice dispatcher: one epoll set per thread holds the
// watched descriptors and an eventfd that posters write when the queue turns
// non-empty. The queue keeps readiness and posted notices in arrival order.
#include "net/Dispatcher.h"

// system
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace {
thread_local THostLoopHook tHostHook;
thread_local bool tHostWakes = false;  // the host loop calls Wake before it sleeps

// Whether the owning thread's own posts must signal the descriptor: only a
// host loop polls it while this thread is busy elsewhere, and one that wakes
// itself before sleeping needs no signal.
bool OwnPostsSignal()
{
    return static_cast<bool>(tHostHook) && !tHostWakes;
}
}  // namespace

namespace notice_detail {

struct SinkState {
    std::atomic<bool> alive{true};
};

struct Entry {
    enum Kind { Posted, Ready, Quit } kind = Posted;
    std::shared_ptr<SinkState> sink;
    std::function<void()> fn;
    uint64_t watchId = 0;
};

// The part of a dispatcher that other threads may touch.
struct Core {
    std::mutex mu;
    std::deque<Entry> queue;
    int eventFd = -1;
    bool closed = false;
    bool wakeArmed = false;  // eventfd written and not yet drained

    std::thread::id owner = std::this_thread::get_id();

    bool Push(Entry&& e)
    {
        // The owning thread never sleeps while it posts, so its own posts need
        // no wake-up, unless a host loop polls the descriptor instead of us.
        bool wake = std::this_thread::get_id() != owner || OwnPostsSignal();
        std::lock_guard<std::mutex> lock(mu);
        if (closed)
            return false;
        queue.push_back(std::move(e));
        if (wake)
            Arm();
        return true;
    }
    // Caller holds mu.
    void Arm()
    {
        if (wakeArmed)
            return;
        wakeArmed = true;
        uint64_t one = 1;
        // A full counter (never reached) only means it is readable already.
        ssize_t r = ::write(eventFd, &one, sizeof one);
        (void)r;
    }
    // Caller holds mu.
    void Disarm()
    {
        if (!wakeArmed)
            return;
        wakeArmed = false;
        uint64_t v;
        ssize_t r = ::read(eventFd, &v, sizeof v);
        (void)r;
    }
};

}  // namespace notice_detail

using notice_detail::Core;
using notice_detail::Entry;
using notice_detail::SinkState;

namespace {

constexpr uint64_t kWakeId = 0;  // epoll data of the eventfd; watch ids start at 1

thread_local std::unique_ptr<TNoticeDispatcher> tDispatcher;
std::atomic<bool> gTerminating{false};

}  // namespace

struct TNoticeDispatcher::Impl {
    struct Watcher {
        int fd = -1;
        uint32_t interest = 0;
        bool inEpoll = false;
        bool queued = false;
        uint32_t pending = 0;
        TReadyHandler handler;
    };
    int epfd = -1;
    uint64_t nextId = 1;
    std::unordered_map<uint64_t, Watcher> watchers;
};

// ---------------------------------------------------------------------------
// Posting

bool TNoticePoster::Post(std::function<void()> fn) const
{
    if (!core_ || !sink_ || !sink_->alive.load(std::memory_order_acquire))
        return false;
    Entry e;
    e.kind = Entry::Posted;
    e.sink = sink_;
    e.fn = std::move(fn);
    return core_->Push(std::move(e));
}

TNoticeSink::TNoticeSink() : dispatcher_(&TNoticeDispatcher::Current())
{
    poster_.core_ = dispatcher_->core_;
    poster_.sink_ = std::make_shared<SinkState>();
}

TNoticeSink::~TNoticeSink()
{
    poster_.sink_->alive.store(false, std::memory_order_release);
}

void TNoticeSink::Post(std::function<void()> fn)
{
    poster_.Post(std::move(fn));
}

TNoticePoster TNoticeSink::Poster() const
{
    return poster_;
}

// ---------------------------------------------------------------------------
// The dispatcher

TNoticeDispatcher& TNoticeDispatcher::Current()
{
    if (!tDispatcher)
        tDispatcher.reset(new TNoticeDispatcher());
    return *tDispatcher;
}

TNoticeDispatcher* TNoticeDispatcher::CurrentIfAny()
{
    return tDispatcher.get();
}

TNoticeDispatcher::TNoticeDispatcher() : impl_(std::make_unique<Impl>()), core_(std::make_shared<Core>())
{
    impl_->epfd = ::epoll_create1(EPOLL_CLOEXEC);
    core_->eventFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (impl_->epfd < 0 || core_->eventFd < 0)
        throw std::runtime_error("notice dispatcher: cannot create epoll set or eventfd");
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kWakeId;
    ::epoll_ctl(impl_->epfd, EPOLL_CTL_ADD, core_->eventFd, &ev);
}

TNoticeDispatcher::~TNoticeDispatcher()
{
    {
        std::lock_guard<std::mutex> lock(core_->mu);
        core_->closed = true;
        core_->queue.clear();
        ::close(core_->eventFd);
        core_->eventFd = -1;
    }
    ::close(impl_->epfd);
}

int TNoticeDispatcher::Fd() const
{
    return impl_->epfd;
}

void TNoticeDispatcher::Wake()
{
    std::lock_guard<std::mutex> lock(core_->mu);
    if (!core_->queue.empty())
        core_->Arm();
}

bool TNoticeDispatcher::HasPending() const
{
    std::lock_guard<std::mutex> lock(core_->mu);
    return !core_->queue.empty();
}

std::size_t TNoticeDispatcher::WatchCount() const
{
    return impl_->watchers.size();
}

static uint32_t EpollBits(uint32_t interest)
{
    return interest & (EPOLLIN | EPOLLPRI | EPOLLOUT | EPOLLRDHUP);
}

uint64_t TNoticeDispatcher::Watch(int fd, uint32_t interest, TReadyHandler onReady)
{
    uint64_t id = impl_->nextId++;
    Impl::Watcher w;
    w.fd = fd;
    w.interest = EpollBits(interest);
    w.handler = std::move(onReady);
    if (w.interest) {
        epoll_event ev{};
        ev.events = w.interest;
        ev.data.u64 = id;
        if (::epoll_ctl(impl_->epfd, EPOLL_CTL_ADD, fd, &ev) != 0)
            return 0;
        w.inEpoll = true;
    }
    impl_->watchers.emplace(id, std::move(w));
    return id;
}

bool TNoticeDispatcher::Modify(uint64_t id, uint32_t interest)
{
    auto it = impl_->watchers.find(id);
    if (it == impl_->watchers.end())
        return false;
    Impl::Watcher& w = it->second;
    uint32_t bits = EpollBits(interest);
    if (bits == w.interest && w.inEpoll == (bits != 0))
        return true;
    w.interest = bits;
    // An empty interest leaves the set entirely: errors and hang-ups would
    // otherwise keep reporting and a paused watcher would spin the pump.
    if (bits == 0) {
        if (w.inEpoll)
            ::epoll_ctl(impl_->epfd, EPOLL_CTL_DEL, w.fd, nullptr);
        w.inEpoll = false;
        w.pending = 0;
        return true;
    }
    epoll_event ev{};
    ev.events = bits;
    ev.data.u64 = id;
    int rc = ::epoll_ctl(impl_->epfd, w.inEpoll ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, w.fd, &ev);
    if (rc != 0)
        return false;
    w.inEpoll = true;
    return true;
}

void TNoticeDispatcher::Unwatch(uint64_t id)
{
    auto it = impl_->watchers.find(id);
    if (it == impl_->watchers.end())
        return;
    if (it->second.inEpoll)
        ::epoll_ctl(impl_->epfd, EPOLL_CTL_DEL, it->second.fd, nullptr);
    impl_->watchers.erase(it);
}

void TNoticeDispatcher::PostQuit()
{
    Entry e;
    e.kind = Entry::Quit;
    core_->Push(std::move(e));
}

// Moves what epoll reports into the queue behind what is already there. A
// watcher already queued only gathers the new bits, so one descriptor never
// has two readiness notices waiting.
void TNoticeDispatcher::Collect(int timeoutMs)
{
    Impl& impl = *impl_;
    Core& core = *core_;
    epoll_event evs[64];
    for (;;) {
        int n = ::epoll_wait(impl.epfd, evs, 64, timeoutMs);
        if (n < 0) {
            if (errno == EINTR && timeoutMs == 0)
                continue;
            return;  // EINTR of a timed wait: the caller loops on its deadline
        }
        std::lock_guard<std::mutex> lock(core.mu);
        for (int i = 0; i < n; ++i) {
            uint64_t id = evs[i].data.u64;
            // The eventfd stays armed while anything is queued; the pump
            // drains it when it takes the last notice, so a collect that
            // finds more notices does not read it only to write it again.
            if (id == kWakeId)
                continue;
            auto it = impl.watchers.find(id);
            if (it == impl.watchers.end())
                continue;
            it->second.pending |= evs[i].events;
            if (!it->second.queued) {
                it->second.queued = true;
                Entry e;
                e.kind = Entry::Ready;
                e.watchId = id;
                core.queue.push_back(std::move(e));
            }
        }
        if (n < 64)
            return;
        timeoutMs = 0;
    }
}

int TNoticeDispatcher::PumpPending()
{
    Collect(0);
    return PumpQueued();
}

int TNoticeDispatcher::PumpQueued()
{
    std::size_t budget;
    {
        std::lock_guard<std::mutex> lock(core_->mu);
        budget = core_->queue.size();
    }
    int delivered = 0;
    while (budget-- > 0) {
        Entry e;
        {
            std::lock_guard<std::mutex> lock(core_->mu);
            if (core_->queue.empty())
                break;
            e = std::move(core_->queue.front());
            core_->queue.pop_front();
            // What stays queued must keep a host loop's poll awake should
            // this notice's handler run one (a modal dialog, say). Arming
            // here rather than when collecting spares a write and a read of
            // the eventfd for the common lone notice.
            if (core_->queue.empty())
                core_->Disarm();
            else if (OwnPostsSignal())
                core_->Arm();
        }
        switch (e.kind) {
        case Entry::Posted:
            if (e.sink && e.sink->alive.load(std::memory_order_acquire)) {
                ++delivered;
                e.fn();
            }
            break;
        case Entry::Quit:
            quitSeen_ = true;
            break;
        case Entry::Ready: {
            auto it = impl_->watchers.find(e.watchId);
            if (it == impl_->watchers.end())
                break;
            uint32_t bits = it->second.pending;
            it->second.pending = 0;
            it->second.queued = false;
            if (bits == 0)
                break;
            // Copy: the handler may unwatch itself (erasing the map entry).
            TReadyHandler h = it->second.handler;
            ++delivered;
            h(bits);
            break;
        }
        }
    }
    return delivered;
}

int TNoticeDispatcher::WaitAndPump(TNoticeDeadline deadline)
{
    bool pending;
    {
        std::lock_guard<std::mutex> lock(core_->mu);
        pending = !core_->queue.empty();
    }
    if (!pending) {
        int timeoutMs = -1;
        if (deadline != TNoticeDeadline::max()) {
            auto left = deadline - TNoticeClock::now();
            if (left <= TNoticeClock::duration::zero()) {
                timeoutMs = 0;
            } else {
                // Round up so the wait never ends just short of the deadline.
                auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
                timeoutMs = ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
            }
        }
        Collect(timeoutMs);
    }
    return PumpPending();
}

// ---------------------------------------------------------------------------
// Free functions

void SetHostLoopHook(THostLoopHook hook)
{
    tHostHook = std::move(hook);
    if (tHostHook)
        if (TNoticeDispatcher* d = TNoticeDispatcher::CurrentIfAny())
            d->Wake();
}

void SetHostWakesBeforeSleep(bool on)
{
    tHostWakes = on;
}

bool HostLoopInstalled()
{
    return static_cast<bool>(tHostHook);
}

void WaitForNotices(TNoticeDeadline deadline)
{
    if (tHostHook) {
        THostLoopHook hook = tHostHook;  // the hook may uninstall itself
        hook(true, deadline);
        return;
    }
    TNoticeDispatcher::Current().WaitAndPump(deadline);
}

void PumpNotices()
{
    if (tHostHook) {
        THostLoopHook hook = tHostHook;
        hook(false, TNoticeClock::now());
        return;
    }
    TNoticeDispatcher::Current().PumpPending();
}

void SetApplicationTerminating(bool on)
{
    gTerminating.store(on);
}

bool ApplicationTerminating()
{
    return gTerminating.load();
}
