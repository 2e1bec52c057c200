#include "engine/FetchAhead.h"

// system
#include <chrono>
#include <utility>

// ours
#include "net/Dispatcher.h"

// One key from Start until Take or Drop; its answer outlives the request.
struct TFetchAhead::TEntry {
    std::size_t Key = 0;
    std::string Url;
    std::unique_ptr<TStream> Body;
    TSlot* Slot = nullptr;    // the client it is under way on, until it ends
    bool Ended = false;       // its OnRequestDone came (or it could not start)
    bool StartFailed = false; // the request could not even start
    THttpRequest DoneType = rqNone;
    std::uint16_t DoneError = 0;
    int StatusCode = 0;
    std::string StatusText;
    std::string Location;
    std::string ContentType;
    std::int64_t Bytes = 0;   // body bytes received, counted in bytesHeld_
};

struct TFetchAhead::TSlot {
    THttpCli* Client = nullptr;
    std::unique_ptr<THttpCli> Owned;
    TEntry* Entry = nullptr;  // the request under way
    // A dropped request whose OnRequestDone is still on its way: the client
    // takes no new entry until it came, so it cannot pass for the next one's.
    bool Draining = false;
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
        if (s->Entry == nullptr)
            return;
        if (len > 0) {
            s->Entry->Bytes += len;
            bytesHeld_ += len;
        }
        if (waiting_ && s->Entry->Key == waitKey_ && OnDocData)
            OnDocData(sender, buffer, len);
    };
    slot.Client->OnRequestDone = [this, s](THttpCli& sender, THttpRequest rqType, std::uint16_t error) {
        if (s->Draining) {
            s->Draining = false;
            ++freed_;
            return;
        }
        TEntry* e = s->Entry;
        if (e == nullptr || e->Ended)
            return;
        e->Ended = true;
        e->DoneType = rqType;
        e->DoneError = error;
        e->StatusCode = sender.StatusCode();
        e->StatusText = sender.StatusText();
        e->Location = sender.Location();
        e->ContentType = sender.ContentType();
        Detach(*s);
    };
}

void TFetchAhead::Detach(TSlot& slot)
{
    if (slot.Entry != nullptr)
        slot.Entry->Slot = nullptr;
    slot.Entry = nullptr;
    slot.Client->BodyStream = nullptr;
    ++freed_;
}

int TFetchAhead::Idle() const
{
    int n = 0;
    for (const auto& slot : slots_)
        if (slot->Entry == nullptr && !slot->Draining && !slot->Client->RequestPending())
            ++n;
    return n;
}

std::string TFetchAhead::UrlOf(std::size_t key) const
{
    auto it = entries_.find(key);
    return it == entries_.end() ? std::string() : it->second->Url;
}

TStream* TFetchAhead::BodyOf(std::size_t key) const
{
    auto it = entries_.find(key);
    return it == entries_.end() ? nullptr : it->second->Body.get();
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
        if (slot->Entry != nullptr || slot->Draining || slot->Client->RequestPending())
            continue;
        if (pick == nullptr || (!pick->Client->IsConnected() && slot->Client->IsConnected()))
            pick = slot.get();
    }
    if (pick == nullptr)
        return false;
    auto entry = std::make_unique<TEntry>();
    TEntry& e = *entry;
    e.Key = key;
    e.Url = req.Url;
    e.Body = std::move(req.Body);
    e.Slot = pick;
    entries_[key] = std::move(entry);
    TSlot& s = *pick;
    s.Entry = &e;
    THttpCli& c = *s.Client;
    c.URL = req.Url;
    c.Proxy = req.Proxy;
    c.ProxyPort = "80";
    c.BodyStream = e.Body.get();
    try {
        c.GetAsync();
    } catch (...) {
        // As Get: the exception means failure; its OnRequestDone has come.
        e.StartFailed = true;
        e.Ended = true;
        if (s.Entry == &e)
            Detach(s);
    }
    return true;
}

TFetchAhead::TResult TFetchAhead::Take(std::size_t key, const std::function<void()>& refill)
{
    TResult r;
    auto it = entries_.find(key);
    if (it == entries_.end())
        return r;
    TEntry& e = *it->second;
    waiting_ = true;
    waitKey_ = key;
    bool aborted = false;
    std::uint64_t seenFreed = freed_;
    while (!e.Ended) {
        if (ApplicationTerminating() && !aborted) {
            aborted = true;
            AbortAll();
            continue;
        }
        // A client may still be closing when its answer is in: then the next
        // notice tries again.
        if (refill && !abortedAll_ && freed_ != seenFreed && Idle() > 0) {
            seenFreed = freed_;
            refill();
            continue;
        }
        WaitForNotices(TNoticeClock::now() + std::chrono::seconds(1));
    }
    waiting_ = false;
    r.Held = true;
    r.Body = std::move(e.Body);
    r.Failed = e.StartFailed || e.StatusCode >= 400;
    r.StatusCode = e.StatusCode;
    r.StatusText = std::move(e.StatusText);
    r.Location = std::move(e.Location);
    r.ContentType = std::move(e.ContentType);
    r.DoneError = e.DoneError;
    const THttpRequest doneType = e.DoneType;
    const std::uint16_t doneError = e.DoneError;
    bytesHeld_ -= e.Bytes;
    entries_.erase(it);
    if (OnRequestDone && doneType != rqNone)
        OnRequestDone(r, doneType, doneError);
    return r;
}

void TFetchAhead::Drop(std::size_t key)
{
    auto it = entries_.find(key);
    if (it == entries_.end())
        return;
    TEntry& e = *it->second;
    if (e.Slot != nullptr) {
        TSlot& s = *e.Slot;
        s.Draining = true;
        Detach(s);
        s.Client->Abort();
        // An Abort from idle reports nothing: nothing to wait for then.
        if (!s.Client->RequestPending())
            s.Draining = false;
    }
    bytesHeld_ -= e.Bytes;
    entries_.erase(it);
}

void TFetchAhead::AbortAll()
{
    // Cancel: the clients it frees take no later entries.
    abortedAll_ = true;
    for (auto& slot : slots_)
        if (slot->Entry != nullptr)
            slot->Client->Abort();
}

void TFetchAhead::Abort(std::size_t key)
{
    auto it = entries_.find(key);
    if (it != entries_.end() && it->second->Slot != nullptr)
        it->second->Slot->Client->Abort();
}

bool TFetchAhead::Waiting(std::size_t& key) const
{
    if (!waiting_)
        return false;
    key = waitKey_;
    return true;
}
