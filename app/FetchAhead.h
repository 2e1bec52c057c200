// Several requests in flight for a job that takes its results strictly in
// order (the page scan, the download engine).
//
// The job keeps deciding everything itself, one entry after the other: what a
// page adds, which name a file gets, whether it is skipped. This pool only
// starts the requests of later entries early, on clients of their own, and
// holds each answer until the job takes it. Whatever a request reports
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

    // The outcome of one entry, as Get would have given it.
    struct TResult {
        THttpCli* Client = nullptr;       // valid until the next Take or Start
        std::unique_ptr<TStream> Body;
        bool Failed = false;              // Get would have raised
    };

    using TDocData = std::function<void(THttpCli& Sender, const char* Buffer, int Len)>;
    using TRequestDone = std::function<void(THttpCli& Sender, THttpRequest RqType, std::uint16_t Error)>;

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
    // Clients without an entry.
    int Idle() const;
    // Whether key was started and not yet taken or dropped.
    bool Holds(std::size_t key) const { return byKey_.count(key) != 0; }
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
    // the result; the entry is no longer held. Key must be held.
    TResult Take(std::size_t key);
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
    void Install(TSlot& slot);

    THttpCli& main_;
    THttpCli::TDocDataEvent mainDocData_;
    THttpCli::THttpRequestDone mainRequestDone_;
    std::vector<std::unique_ptr<TSlot>> slots_;
    std::map<std::size_t, TSlot*> byKey_;
    bool waiting_ = false;
    std::size_t waitKey_ = 0;
};
