// The two jobs of the program: the page scan, which crawls a site breadth
// first and lists its pictures, and the download of a list of addresses into
// a folder. Both run through one HTTP client of the caller's (and a pool of
// clients like it when several requests may be in flight) and report to a
// TJobFrontend. Blocking waits pump the thread's notice dispatcher, so a
// front end with windows keeps them alive through the dispatcher's host loop.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/DownloadNames.h"
#include "engine/JobFrontend.h"
#include "engine/PictureChoices.h"
#include "http/HttpProt.h"

class TFetchAhead;

// What went wrong in the jobs so far, one count per failed page or file by
// its cause; the command line makes its exit status of it.
struct TJobFailures {
    int Transport = 0;    // no usable answer: look-up, connection, time-out, cut off
    int ErrorStatus = 0;  // the server answered with a status of 400 or more
    int Local = 0;        // the file could not be created or written here
};

// The bounds and ways of the jobs that the user sets before a job.
struct TJobSettings {
    // Bounds of a page scan, 0 meaning none: pages fetched, and links
    // followed from the start page (it is level 0).
    std::uint32_t MaxPages = 0;
    std::uint32_t MaxLevel = 0;
    // A link written with "../" is followed only into a directory that is
    // allowed anyway, so a scan never climbs above its start.
    bool NoParent = false;
    // Requests a job keeps in flight at most (1 to kMaxConnections), also
    // the most connections to one server; results are taken in list order.
    int Connections = 6;
    static constexpr int kMaxConnections = 16;
    // How the download makes its files; the defaults suit every machine.
    dlnames::TFileWays FileWays;
    // The user's optional picture choices.
    TPictureChoices Choices;
};

// The picture types a scan looks for until the user changes them.
std::vector<std::string> DefaultFileTypes();

// The key under which the found list holds an address: one row however the
// address is escaped or its letters are cased.
std::string FoundListKey(std::string_view address);

// The fixed settings of a client the jobs run through: proxy port, agent,
// accept list, one thread.
void SetupJobClient(THttpCli& Cli);

class TPictureJobs {
public:
    // Cli is the caller's client; its fixed settings (agent, accept list,
    // secure connections, keep-alive) are copied to every pooled client.
    // The caller routes Cli's OnDocData and OnRequestDone to DocData and
    // RequestDone.
    TPictureJobs(THttpCli& Cli, TJobFrontend& Front);
    ~TPictureJobs();
    TPictureJobs(const TPictureJobs&) = delete;
    TPictureJobs& operator=(const TPictureJobs&) = delete;

    TJobSettings Settings;
    TJobFailures Failures;
    // Set by Break; a job ends at its next step and clears it.
    bool AbortRequested = false;

    // Crawls from the typed address; the summary line is the last memo line.
    void Scan(const std::string& typedAddress);
    // Saves the addresses one after the other into the front end's folder,
    // never overwriting a file.
    void Download(const std::vector<std::string>& workList);
    // Scan, then Download of the list toDownload gives after the scan (none
    // when it gives an empty one). With several requests in flight the
    // pictures found are fetched while the scan goes on, into unnamed files
    // that get their names at their turn: the lines and files are those of
    // the two jobs one after the other. listed: the found list as the scan starts.
    void ScanAndDownload(const std::string& typedAddress, const std::vector<std::string>& listed,
                         const std::function<std::vector<std::string>()>& toDownload);
    // Stops the job: every request ends, the job stops at its next step.
    void Break();
    // Ends only the request the job waits for; the job goes on.
    void BreakLocal();

    // Applies the agent, the rate limit and the cookie rule of
    // Settings.Choices to the client; call after changing them.
    void UseChoices();
    // Body bytes of a request: progress for the front end.
    void DocData(THttpCli& Sender, int Len);
    // Counts a request's failure and logs its transport error.
    void RequestDone(int StatusCode, std::uint16_t Error);

    // ---- for the scan and download steps
    THttpCli& Cli;
    TJobFrontend& Front;
    // The cookies of the address on the client that fetches it.
    void PrepareRequest(THttpCli& Client, const std::string& Address);
    // Whether robots.txt of the address's host allows it (always when not
    // asked for); a refusal gets its memo line.
    bool RobotsAllow(const std::string& Address);
    // Waits until a request to the address's server may start by the wait
    // choice; a break ends the wait.
    void WaitTurn(const std::string& Address);
    // After a failed request: when polite crawling is on (a wait or
    // robots.txt) and the answer was 429 or 503 with Retry-After, waits as
    // asked (at most 120 s) with one memo line and says to send it again.
    bool WaitToRetry(const THttpCli& Client, const std::string& Address);
    // Sets the client up for one request of the job (address, proxy, body).
    void AimRequest(THttpCli& Client, const std::string& Address, TStream* Body);

    // The request pool of a job with several requests in flight; Break
    // reaches every request of it while it exists.
    class TAheadHold {
    public:
        TAheadHold(TPictureJobs& jobs, bool wanted);
        ~TAheadHold();
        TAheadHold(const TAheadHold&) = delete;
        TAheadHold& operator=(const TAheadHold&) = delete;
        TFetchAhead* get() const { return pool_.get(); }
        explicit operator bool() const { return pool_ != nullptr; }
        TFetchAhead& operator*() const { return *pool_; }
        TFetchAhead* operator->() const { return pool_.get(); }

    private:
        TPictureJobs& jobs_;
        std::unique_ptr<TFetchAhead> pool_;
    };

private:
    friend class TDownloadRun;
    // Without a status line nothing says the bytes are the picture asked for.
    bool AnsweredWithStatus(int StatusCode, std::uint16_t DoneError);
    TFetchAhead* ActiveFetch_ = nullptr;
    std::map<std::string, TRobotsRules> RobotsRules_;
    TServerWaits ServerWaits_{0};
    TRateLimiter RateLimiter_{0};
    // Duplicates of a download run; made anew for every run.
    TDuplicateIndex Duplicates_;
    // A request whose end RequestDone neither reports nor counts: robots.txt,
    // and a download given up as too small.
    bool QuietRequest_ = false;
};
