// Loopback network fixtures for the test suites:
//   FreePort          a port on 127.0.0.1 that nobody listens on right now
//   TScriptedServer   our own server thread that plays exact bytes in exact
//                     packets per connection and records what it received
//   TNginx            a real nginx on a free port with private config and dirs
//   TTinyproxy        a real tinyproxy on a free port with private config
// Every wait here has a deadline; nothing sleeps for a fixed time to let
// something happen (the only pauses are the pacing steps of a script).
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace wltest {

using namespace std::chrono_literals;

int FreePort();

// A fresh private directory under $TMPDIR (or /tmp), removed with its content
// by the destructor.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::string& Path() const { return fPath; }
    // Writes a file below the directory (creating sub-folders) and returns its path.
    std::string WriteFile(const std::string& relative, const std::string& data) const;

private:
    std::string fPath;
};

std::string ReadFile(const std::string& path);

// What the server does on one connection, step by step.
class TScript {
public:
    // Reads until the end of the next request header (a blank line), plus a
    // body of the announced Content-Length.
    TScript& ReadRequest();
    // One send() of exactly these bytes (TCP_NODELAY is on).
    TScript& Send(std::string bytes);
    // Sends the bytes in pieces of `piece` bytes with `gap` between them.
    TScript& Trickle(std::string bytes, std::size_t piece, std::chrono::milliseconds gap);
    // Pacing between packets, so that they reach the client separately.
    TScript& Pause(std::chrono::milliseconds gap);
    // Keeps the connection open, reading, until the client closes it (or the
    // server stops).
    TScript& Hold();
    // Ends with a reset (RST) instead of an orderly close.
    TScript& Reset();
    // Builds a whole response: status line, header lines, blank line, body in one packet.
    static std::string Response(const std::string& statusLine, const std::vector<std::string>& headers,
                                const std::string& body);

    struct TStep {
        enum Kind { Read, Send, Pause, Hold, Reset } kind;
        std::string data;
        std::chrono::milliseconds gap{0};
    };
    std::vector<TStep> steps;
};

class TScriptedServer {
public:
    // Scripts for the coming connections in order; the last one repeats.
    explicit TScriptedServer(std::vector<TScript> scripts);
    explicit TScriptedServer(TScript script) : TScriptedServer(std::vector<TScript>{std::move(script)}) {}
    ~TScriptedServer();
    TScriptedServer(const TScriptedServer&) = delete;
    TScriptedServer& operator=(const TScriptedServer&) = delete;

    int Port() const { return fPort; }
    std::string Url(const std::string& path = "/") const;
    // Connections accepted so far; bytes received on connection i (from 0).
    int Connections() const;
    std::string Received(int i) const;
    // True when connection i has been accepted and its script finished (the
    // connection closed) before the deadline.
    bool WaitFinished(int i, std::chrono::milliseconds timeout = 10s) const;
    bool WaitAccepted(int count, std::chrono::milliseconds timeout = 10s) const;

private:
    void Run();
    void Serve(int fd, const TScript& script, int index);
    bool ReadSome(int fd, int index, std::chrono::milliseconds timeout);

    int fListen = -1;
    int fWake[2] = {-1, -1};
    int fPort = 0;
    std::vector<TScript> fScripts;
    mutable std::mutex fMutex;
    mutable std::condition_variable fCond;
    std::vector<std::string> fReceived;
    std::vector<bool> fFinished;
    bool fStop = false;
    std::thread fThread;
};

// A child process that the fixture started and stops again.
class TChildProcess {
public:
    TChildProcess() = default;
    ~TChildProcess() { Stop(); }
    bool Start(const std::vector<std::string>& argv, const std::string& outputFile);
    void Stop();
    bool Running();
    pid_t Pid() const { return fPid; }

private:
    pid_t fPid = -1;
};

// Waits until something accepts TCP connections on 127.0.0.1:port.
bool WaitListening(int port, std::chrono::milliseconds timeout);

class TNginx {
public:
    // extraServer: directives inside the server block (locations, returns ...);
    // extraHttp: directives of the http block (further server blocks ...).
    explicit TNginx(const std::string& extraServer = "", const std::string& extraHttp = "");
    ~TNginx();
    bool Ok() const { return fOk; }
    const std::string& Error() const { return fError; }
    int Port() const { return fPort; }
    std::string Url(const std::string& path = "/") const;
    // The document root: put files here before requesting them.
    std::string Root() const { return fDir.Path() + "/www"; }
    std::string WriteDoc(const std::string& relative, const std::string& data) const;
    // Access log lines: request line, then the Host header as received.
    std::string AccessLog() const;
    // nginx writes a request's line after its answer has gone out, so a
    // client can be done before the line is there: these wait for the log
    // to hold at least `lines` lines, or `text`, and give it as it is after
    // the limit otherwise.
    std::string AccessLogOf(std::size_t lines, std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
    std::string AccessLogWith(const std::string& text,
                              std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

private:
    TTempDir fDir;
    TChildProcess fChild;
    int fPort = 0;
    bool fOk = false;
    std::string fError;
};

class TTinyproxy {
public:
    // user/password non-empty: the proxy demands Basic authorisation.
    explicit TTinyproxy(const std::string& user = "", const std::string& password = "");
    ~TTinyproxy();
    bool Ok() const { return fOk; }
    const std::string& Error() const { return fError; }
    int Port() const { return fPort; }
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(fPort); }

private:
    TTempDir fDir;
    TChildProcess fChild;
    int fPort = 0;
    bool fOk = false;
    std::string fError;
};

// Certificates made at test time with the openssl command: a test CA and
// server certificates signed by it, plus a self-signed one. All but Other
// name localhost and 127.0.0.1.
class TTestPki {
public:
    enum TKind { Good, Expired, Other, SelfSigned };
    TTestPki();
    bool Ok() const { return fOk; }
    const std::string& Error() const { return fError; }
    std::string CaFile() const { return fDir.Path() + "/ca.pem"; }
    std::string CertFile(TKind kind) const;
    std::string KeyFile() const { return fDir.Path() + "/server.key"; }
    // An nginx server block on port, with the certificate of kind, serving root.
    std::string NginxServer(int port, TKind kind, const std::string& root, const std::string& extra = "") const;

private:
    TTempDir fDir;
    bool fOk = false;
    std::string fError;
};

// Number of open descriptors of this process (leak checks).
int OpenDescriptorCount();

}  // namespace wltest
