#include "app/FetchAhead.h"

// system
#include <chrono>
#include <utility>

// ours
#include "net/Dispatcher.h"

struct TFetchAhead::TSlot {
    THttpCli* Client = nullptr;
    std::unique_ptr<THttpCli> Owned;
    bool Busy = false;        // holds an entry
    bool Ended = false;       // the entry's OnRequestDone came
    bool StartFailed = false; // the request could not even start
    // A dropped request whose OnRequestDone is still on its way: the client
    // takes no new entry until it came, so it cannot pass for the next one's.
    bool Draining = false;
    std::size_t Key = 0;
    std::string Url;
    THttpRequest DoneType = rqNone;
    std::uint16_t DoneError = 0;
    std::unique_ptr<TStream> Body;
};

TFetchAhead::TFetchAhead(THttpCli& main, int connections, std::function<void(THttpCli&)> configure)
    : main_(main), mainDocData_(main.OnDocData), mainRequestDone_(main.OnRequestDone)
{
    if (connections < 1)
        connections = 1;
    for (int i = 0; i < connections; ++i) {
        auto slot = std::make_unique<TSlot>();
        if (i == 0) {
            slot->Client = &main_;
        } else {
            slot->Owned = std::make_unique<THttpCli>();
            slot->Client = slot->Owned.get();
            if (configure)
                configure(*slot->Client);
        }
        Install(*slot);
        slots_.push_back(std::move(slot));
    }
}

TFetchAhead::~TFetchAhead()
{
    AbortAll();
    // The window's client gets its handlers back only when the notices of
    // this pool's requests are through: a late one would log a request the
    // job never took.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (main_.RequestPending() && std::chrono::steady_clock::now() < deadline)
        WaitForNotices(TNoticeClock::now() + std::chrono::milliseconds(100));
    for (auto& slot : slots_)
        slot->Client->BodyStream = nullptr;
    main_.OnDocData = mainDocData_;
    main_.OnRequestDone = mainRequestDone_;
}

void TFetchAhead::Install(TSlot& slot)
{
    TSlot* s = &slot;
    slot.Client->OnDocData = [this, s](THttpCli& sender, const char* buffer, int len) {
        if (waiting_ && s->Busy && s->Key == waitKey_ && OnDocData)
            OnDocData(sender, buffer, len);
    };
    slot.Client->OnRequestDone = [s](THttpCli&, THttpRequest rqType, std::uint16_t error) {
        if (s->Draining) {
            s->Draining = false;
            return;
        }
        if (!s->Busy || s->Ended)
            return;
        s->Ended = true;
        s->DoneType = rqType;
        s->DoneError = error;
    };
}

int TFetchAhead::Idle() const
{
    int n = 0;
    for (const auto& slot : slots_)
        if (!slot->Busy && !slot->Draining && !slot->Client->RequestPending())
            ++n;
    return n;
}

std::string TFetchAhead::UrlOf(std::size_t key) const
{
    auto it = byKey_.find(key);
    return it == byKey_.end() ? std::string() : it->second->Url;
}

TStream* TFetchAhead::BodyOf(std::size_t key) const
{
    auto it = byKey_.find(key);
    return it == byKey_.end() ? nullptr : it->second->Body.get();
}

void TFetchAhead::WaitIdle()
{
    while (Idle() == 0 && !ApplicationTerminating())
        WaitForNotices(TNoticeClock::now() + std::chrono::seconds(1));
}

bool TFetchAhead::Start(std::size_t key, TRequest& req)
{
    if (Holds(key))
        return false;
    // A client whose connection is still open goes first: the request then
    // costs no new connection.
    TSlot* pick = nullptr;
    for (auto& slot : slots_) {
        if (slot->Busy || slot->Draining || slot->Client->RequestPending())
            continue;
        if (pick == nullptr || (!pick->Client->IsConnected() && slot->Client->IsConnected()))
            pick = slot.get();
    }
    if (pick == nullptr)
        return false;
    TSlot& s = *pick;
    s.Busy = true;
    s.Ended = false;
    s.StartFailed = false;
    s.Key = key;
    s.Url = req.Url;
    s.DoneType = rqNone;
    s.DoneError = 0;
    s.Body = std::move(req.Body);
    byKey_[key] = &s;
    THttpCli& c = *s.Client;
    c.URL = req.Url;
    c.Proxy = req.Proxy;
    c.ProxyPort = "80";
    c.BodyStream = s.Body.get();
    try {
        c.GetAsync();
    } catch (...) {
        // As Get: the exception means failure; its OnRequestDone has come.
        s.StartFailed = true;
        s.Ended = true;
    }
    return true;
}

TFetchAhead::TResult TFetchAhead::Take(std::size_t key)
{
    TResult r;
    auto it = byKey_.find(key);
    if (it == byKey_.end())
        return r;
    TSlot& s = *it->second;
    waiting_ = true;
    waitKey_ = key;
    bool aborted = false;
    while (!s.Ended) {
        if (ApplicationTerminating() && !aborted) {
            aborted = true;
            AbortAll();
            continue;
        }
        WaitForNotices(TNoticeClock::now() + std::chrono::seconds(1));
    }
    waiting_ = false;
    byKey_.erase(it);
    s.Busy = false;
    s.Client->BodyStream = nullptr;
    r.Client = s.Client;
    r.Body = std::move(s.Body);
    r.Failed = s.StartFailed || s.Client->StatusCode() >= 400;
    if (OnRequestDone && s.DoneType != rqNone)
        OnRequestDone(*s.Client, s.DoneType, s.DoneError);
    return r;
}

void TFetchAhead::Drop(std::size_t key)
{
    auto it = byKey_.find(key);
    if (it == byKey_.end())
        return;
    TSlot& s = *it->second;
    byKey_.erase(it);
    if (!s.Ended) {
        s.Draining = true;
        s.Client->Abort();
        // An Abort from idle reports nothing: nothing to wait for then.
        if (!s.Client->RequestPending())
            s.Draining = false;
    }
    s.Busy = false;
    s.Client->BodyStream = nullptr;
    s.Body.reset();
}

void TFetchAhead::AbortAll()
{
    for (auto& slot : slots_)
        if (slot->Busy && !slot->Ended)
            slot->Client->Abort();
}

void TFetchAhead::Abort(std::size_t key)
{
    auto it = byKey_.find(key);
    if (it != byKey_.end() && !it->second->Ended)
        it->second->Client->Abort();
}

bool TFetchAhead::Waiting(std::size_t& key) const
{
    if (!waiting_)
        return false;
    key = waitKey_;
    return true;
}
