// Helpers shared by the client suites: an event recorder and a way to act
// inside Get's wait once a condition holds.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "http/HttpProt.h"
#include "net/Dispatcher.h"

namespace wltest {

inline const char* StateName(THttpCliState s)
{
    static const char* const kNames[] = {"Idle", "Starting", "Connected", "Resolving",
                                         "Connecting", "AwaitingHeader", "ReceivingBody", "Aborting"};
    return kNames[s];
}

// Records every event of a client as a short text, in order.
struct TEventLog {
    std::vector<std::string> events;
    std::string body; // OnDocData contents

    void Attach(THttpCli& c)
    {
        auto note = [this](const char* what) { return [this, what](THttpCli&) { events.push_back(what); }; };
        c.OnStateChange = [this](THttpCli& s) { events.push_back(std::string("State ") + StateName(s.State())); };
        c.OnSessionConnected = note("SessionConnected");
        c.OnRequestHeaderBegin = note("RequestHeaderBegin");
        c.OnRequestHeaderEnd = note("RequestHeaderEnd");
        c.OnHeaderBegin = note("HeaderBegin");
        c.OnHeaderEnd = note("HeaderEnd");
        c.OnHeaderData = note("HeaderData");
        c.OnDocBegin = note("DocBegin");
        c.OnDocEnd = note("DocEnd");
        c.OnLocationChange = note("LocationChange");
        c.OnDocData = [this](THttpCli&, const char* p, int n) {
            events.push_back("DocData");
            body.append(p, static_cast<std::size_t>(n));
        };
        c.OnCommand = [this](THttpCli&, std::string&) { events.push_back("Command"); };
        c.OnCookie = [this](THttpCli&, const std::string& v, bool&) { events.push_back("Cookie " + v); };
        c.OnRequestDone = [this](THttpCli&, THttpRequest rq, std::uint16_t e) {
            events.push_back("RequestDone " + std::to_string(rq) + " " + std::to_string(e));
        };
    }

    // The events with consecutive repeats of the same text folded into one.
    std::vector<std::string> Folded() const
    {
        std::vector<std::string> out;
        for (const std::string& e : events)
            if (out.empty() || out.back() != e)
                out.push_back(e);
        return out;
    }

    int Count(const std::string& what) const
    {
        int n = 0;
        for (const std::string& e : events)
            n += e == what;
        return n;
    }
};

// Runs fn on the calling thread (inside whatever pump runs there, such as
// Get's wait) once cond, evaluated on a helper thread, returns true.
class TWhen {
public:
    TWhen(std::function<bool()> cond, std::function<void()> fn)
    {
        TNoticePoster poster = fSink.Poster();
        fThread = std::thread([cond = std::move(cond), fn = std::move(fn), poster] {
            if (cond())
                poster.Post(fn);
        });
    }
    ~TWhen() { fThread.join(); }

private:
    TNoticeSink fSink;
    std::thread fThread;
};

// Runs Get and returns the EHttpException code, or -1 when Get returned normally.
inline int GetCode(THttpCli& c)
{
    try {
        c.Get();
        return -1;
    } catch (const EHttpException& e) {
        return e.ErrorCode;
    }
}

}  // namespace wltest
