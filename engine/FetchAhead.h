// Several requests in flight for a job that takes its results strictly in
// order (the page scan, the download engine).
//
// The job keeps deciding everything itself, one entry after the other: what a
// page adds, which name a file gets, whether it is skipped. This pool only
// starts the requests of later entries early, on clients of their own, and
// holds each answer until the job takes it. An answer that has ended frees its
// client at once, so a big file at the head does not keep later entries off
// the wire: the connection count bounds only the requests under way, and the
// entries held (kMaxEntries, kMaxBytes) bound how far ahead the job goes. Whatever a request reports
// (OnRequestDone, and so the "HTTP Fehler" line) is handed to the job when it
// takes the entry, so the memo reads exactly as with one request at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// ours
#include "http/HttpProt.h"

class TFetchAhead {
public:
    // What a request of an entry needs; the body stream stays with the entry
    // until the job takes it.
    struct TRequest {
        std::string Url;
        std::string Proxy;
        std::unique_ptr<TStream> Body;
    };

    // The outcome of one entry, as Get would have given it. What the client
    // said is copied: the client goes on with other entries meanwhile.
    struct TResult {
        bool Held = false;                // the key was held: the rest is its outcome
        std::unique_ptr<TStream> Body;
        bool Failed = false;              // Get would have raised
        int StatusCode = 0;
        std::string StatusText;
        std::string Location;
        std::string ContentType;
        std::uint16_t DoneError = 0;
    };

    // How far ahead of the job's turn entries may be held: at most this many,
    // and no new one once the bodies held reach kMaxBytes.
    static constexpr std::size_t kMaxEntries = 64;
    static constexpr std::int64_t kMaxBytes = std::int64_t{256} << 20;

    using TDocData = std::function<void(THttpCli& Sender, const char* Buffer, int Len)>;
    using TRequestDone = std::function<void(const TResult& Result, THttpRequest RqType, std::uint16_t Error)>;

    // main is the window's client; it serves as the first of the pool's
    // connections and gets its own handlers back when the pool ends. The
    // other clients are made with configure applied, so they carry main's
    // settings (agent, certificates, time-outs, keep-alive).
    TFetchAhead(THttpCli& main, int connections, std::function<void(THttpCli&)> configure);
    ~TFetchAhead();
    TFetchAhead(const TFetchAhead&) = delete;
    TFetchAhead& operator=(const TFetchAhead&) = delete;

    // Progress of the entry the job waits for; other entries stay quiet.
    TDocData OnDocData;
    // Delivered for an entry when the job takes it.
    TRequestDone OnRequestDone;

    int Connections() const { return static_cast<int>(slots_.size()); }
    // Clients without a request under way.
    int Idle() const;
    // Whether another entry may be started ahead of the job's turn.
    bool RoomAhead() const { return entries_.size() < maxEntries_ && bytesHeld_ < maxBytes_; }
    // Other bounds than kMaxEntries and kMaxBytes.
    void SetWindow(std::size_t entries, std::int64_t bytes)
    {
        maxEntries_ = entries;
        maxBytes_ = bytes;
    }
    std::size_t EntriesHeld() const { return entries_.size(); }
    std::int64_t BytesHeld() const { return bytesHeld_; }
    // Whether key was started and not yet taken or dropped.
    bool Holds(std::size_t key) const { return entries_.count(key) != 0; }
    // The address key was started with (empty when not held).
    std::string UrlOf(std::size_t key) const;
    // Starts key on an idle client. False (request not made, body returned
    // untouched in req) when none is idle or key is held already.
    bool Start(std::size_t key, TRequest& req);
    // The body stream key was started with (null when not held).
    TStream* BodyOf(std::size_t key) const;
    // Waits until a client is idle (one that ended a dropped request gets
    // its last notice first).
    void WaitIdle();
    // Waits until key has ended, delivers its OnRequestDone and hands over
    // the result; the entry is no longer held. Key must be held. While it
    // waits, refill is called whenever a client has become free, so that the
    // job can start later entries on it.
    TResult Take(std::size_t key, const std::function<void()>& refill = {});
    // Forgets key, aborting its request when it is still under way; nothing
    // of it is reported.
    void Drop(std::size_t key);
    // Ends every request under way at once (the break buttons, Ctrl+C).
    void AbortAll();
    // Ends key's request only.
    void Abort(std::size_t key);
    // The entry the job waits for in Take, if any (for the break button that
    // stops the current file only).
    bool Waiting(std::size_t& key) const;

private:
    struct TSlot;
    struct TEntry;
    void Install(TSlot& slot);
    void Detach(TSlot& slot);

    THttpCli& main_;
    THttpCli::TDocDataEvent mainDocData_;
    THttpCli::THttpRequestDone mainRequestDone_;
    std::vector<std::unique_ptr<TSlot>> slots_;
    // Declared after slots_: the bodies go before the clients that wrote them.
    std::map<std::size_t, std::unique_ptr<TEntry>> entries_;
    std::int64_t bytesHeld_ = 0;
    std::size_t maxEntries_ = kMaxEntries;
    std::int64_t maxBytes_ = kMaxBytes;
    std::uint64_t freed_ = 0;  // counts clients set free, for Take's refill
    bool abortedAll_ = false;
    bool waiting_ = false;
    std::size_t waitKey_ = 0;
};
