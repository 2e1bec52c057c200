// Several requests in flight: the jobs against a server that answers every
// request on its own connection after a delay of its own, so later entries
// finish first. Whatever the order of the answers, memo, questions, found
// list and files are those of one request at a time.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "JobFixture.h"
#include "engine/FetchAhead.h"
#include "http/HttpStream.h"
#include "net/Dispatcher.h"

namespace fs = std::filesystem;
using namespace wltest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// A server with a thread per connection. Each path has a delay and an answer;
// a request that asks for keep-alive gets it, so a connection may carry many
// requests. Counts how many requests it holds at once.
class TRouteServer {
public:
    struct TRoute {
        int DelayMs = 0;
        int Status = 200;
        std::string Body;
    };

    TRouteServer()
    {
        fListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(fListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fListen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fListen, 64);
        socklen_t len = sizeof a;
        ::getsockname(fListen, reinterpret_cast<sockaddr*>(&a), &len);
        fPort = ntohs(a.sin_port);
        fAccept = std::thread([this] { AcceptLoop(); });
    }

    ~TRouteServer()
    {
        {
            std::lock_guard<std::mutex> lock(fMutex);
            fStop = true;
        }
        fCond.notify_all();
        ::shutdown(fListen, SHUT_RDWR);
        fAccept.join();
        for (std::thread& t : fWorkers)
            t.join();
        ::close(fListen);
    }

    void Route(const std::string& path, TRoute r)
    {
        std::lock_guard<std::mutex> lock(fMutex);
        fRoutes[path] = std::move(r);
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(fPort) + path; }

    int MaxInFlight() const { return fMaxInFlight; }
    int InFlight() const { return fInFlight; }
    int Connections() const { return fConnections; }
    int Open() const { return fOpen; }
    int MaxOpen() const { return fMaxOpen; }
    int Requests() const { return fRequests; }
    // How often each path was asked for since the last reset.
    std::map<std::string, int> Requested() const
    {
        std::lock_guard<std::mutex> lock(fMutex);
        return fRequested;
    }
    void ResetCounts()
    {
        fMaxInFlight = fInFlight.load();
        fMaxOpen = fOpen.load();
        fConnections = 0;
        fRequests = 0;
        std::lock_guard<std::mutex> lock(fMutex);
        fRequested.clear();
    }
    // Every connection closed by the client (or the server) before the deadline.
    bool WaitAllClosed(std::chrono::milliseconds timeout) const
    {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (fOpen > 0 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return fOpen == 0;
    }

private:
    void AcceptLoop()
    {
        for (;;) {
            int fd = ::accept4(fListen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                std::lock_guard<std::mutex> lock(fMutex);
                if (fStop)
                    return;
                continue;
            }
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            ++fConnections;
            Bump(fOpen, fMaxOpen, 1);
            std::lock_guard<std::mutex> lock(fMutex);
            fWorkers.emplace_back([this, fd] {
                bool counted = false;
                Serve(fd, counted);
                ::close(fd);
                if (!counted)
                    --fOpen;
            });
        }
    }

    static void Bump(std::atomic<int>& v, std::atomic<int>& max, int by)
    {
        const int now = v += by;
        int seen = max;
        while (now > seen && !max.compare_exchange_weak(seen, now)) {
        }
    }

    // One request header, or false at the client's close or when stopping.
    bool ReadRequest(int fd, std::string& pending, std::string& head)
    {
        for (;;) {
            const auto end = pending.find("\r\n\r\n");
            if (end != std::string::npos) {
                head = pending.substr(0, end + 4);
                pending.erase(0, end + 4);
                return true;
            }
            pollfd p{fd, POLLIN, 0};
            const int r = ::poll(&p, 1, 20);
            {
                std::lock_guard<std::mutex> lock(fMutex);
                if (fStop)
                    return false;
            }
            if (r <= 0)
                continue;
            char buf[4096];
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return false;
            pending.append(buf, static_cast<std::size_t>(n));
        }
    }

    void Serve(int fd, bool& counted)
    {
        std::string pending, head;
        while (ReadRequest(fd, pending, head)) {
            ++fRequests;
            Bump(fInFlight, fMaxInFlight, 1);
            const auto sp1 = head.find(' ');
            const auto sp2 = head.find(' ', sp1 + 1);
            const std::string path = head.substr(sp1 + 1, sp2 - sp1 - 1);
            const bool keep = head.find("\r\nConnection: keep-alive\r\n") != std::string::npos;
            TRoute r{0, 404, "nicht da"};
            {
                std::unique_lock<std::mutex> lock(fMutex);
                ++fRequested[path];
                auto it = fRoutes.find(path);
                if (it != fRoutes.end())
                    r = it->second;
                // The delay ends early when the server stops, or when the
                // client has gone away meanwhile.
                const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(r.DelayMs);
                while (!fStop && std::chrono::steady_clock::now() < until) {
                    fCond.wait_for(lock, std::chrono::milliseconds(10));
                    lock.unlock();
                    pollfd p{fd, POLLIN, 0};
                    char c;
                    const bool gone = ::poll(&p, 1, 0) == 1 && ::recv(fd, &c, 1, MSG_PEEK) <= 0;
                    lock.lock();
                    if (gone)
                        break;
                }
                if (fStop) {
                    --fInFlight;
                    return;
                }
            }
            const std::string text = "HTTP/1.1 " + std::to_string(r.Status) + (r.Status == 200 ? " OK" : " Not Found") +
                                     "\r\nContent-Length: " + std::to_string(r.Body.size()) + "\r\nConnection: " +
                                     (keep ? "keep-alive" : "close") + "\r\n\r\n" + r.Body;
            // The counts drop before the answer goes out: the client may send
            // its next request, on a new connection, as soon as it arrives.
            --fInFlight;
            if (!keep) {
                --fOpen;
                counted = true;
            }
            const bool sent = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
            if (!sent || !keep)
                return;
        }
    }

    int fListen = -1;
    int fPort = 0;
    std::thread fAccept;
    std::vector<std::thread> fWorkers;
    mutable std::mutex fMutex;
    std::condition_variable fCond;
    std::map<std::string, TRoute> fRoutes;
    std::map<std::string, int> fRequested;
    bool fStop = false;
    std::atomic<int> fInFlight{0}, fMaxInFlight{0}, fOpen{0}, fMaxOpen{0}, fConnections{0}, fRequests{0};
};

std::map<std::string, std::string> FileContents(const std::string& dir)
{
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(dir))
        files[e.path().filename().string()] = e.is_directory() ? "(Ordner)" : ReadFile(e.path().string());
    return files;
}

int ThreadCount()
{
    int n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/task"))
        ++n;
    return n;
}

class FetchAheadTest : public TEngineJobFixture {
protected:
    void SetUp() override
    {
        // Later entries answer sooner: with four in flight they all end in
        // reverse order.
        Server.Route("/a.gif", {160, 200, "erstes-a"});
        Server.Route("/b.gif", {110, 200, "bbbb"});
        Server.Route("/c.gif", {60, 200, "cc-neu"});
        Server.Route("/d.gif", {0, 200, "d"});
        Server.Route("/leer.gif", {20, 200, ""});
        Server.Route("/fehlt.gif", {30, 404, "weg"});
    }

    // One download run into a fresh folder holding "c.gif" already; the memo
    // lines and the files afterwards.
    struct TRun {
        std::vector<std::string> Lines;
        std::map<std::string, std::string> Files;
        int MaxInFlight = 0;
        int MaxOpen = 0;
        std::map<std::string, int> Requested;
    };
    TRun Download(int connections, bool keepAlive, bool skip, const std::vector<std::string>& paths,
                  const std::vector<std::string>& folders = {})
    {
        TTempDir target;
        target.WriteFile("c.gif", "cc-alt");
        for (const std::string& f : folders)
            fs::create_directory(target.Path() + "/" + f);
        Jobs.Settings.Connections = connections;
        Cli.KeepAlive = keepAlive;
        Front.Folder = target.Path();
        Front.Skip = skip;
        std::vector<std::string> list;
        for (const std::string& p : paths)
            list.push_back(p.rfind("http", 0) == 0 ? p : Server.Url(p));
        // The last run's pool closed its connections as it ended; the server
        // hears of that a moment later, and the counts start from nothing.
        EXPECT_TRUE(Server.WaitAllClosed(std::chrono::milliseconds(5000)));
        Server.ResetCounts();
        TEngineJobFixture::Download(list);
        // The main client's kept connection is closed so the next run starts alike.
        Cli.Abort();
        return {Lines, FileContents(target.Path()), Server.MaxInFlight(), Server.MaxOpen(), Server.Requested()};
    }

    TRouteServer Server;
};

}  // namespace

TEST_F(FetchAheadTest, DownloadsInFlightEndAsOneAtATime)
{
    // Numbered names, a name taken before the run, a failure, an empty body,
    // an address without a file name, the same picture twice, and a name a
    // folder has in the target.
    const std::vector<std::string> paths = {"/a.gif", "/b.gif", "/a.gif", "/fehlt.gif", "/c.gif", "/ordner/",
                                            "/leer.gif", "/d.gif", "/c.gif", "/a.gif", "/e.gif"};
    for (bool skip : {false, true}) {
        SCOPED_TRACE(skip ? "skip existing" : "numbered names");
        const TRun one = Download(1, false, skip, paths, {"e.gif"});
        const TRun four = Download(4, true, skip, paths, {"e.gif"});
        EXPECT_EQ(one.MaxInFlight, 1);
        EXPECT_EQ(one.MaxOpen, 1);
        EXPECT_GE(four.MaxInFlight, 3) << "requests were not in flight together";
        EXPECT_LE(four.MaxOpen, 4) << "more connections than asked for";
        EXPECT_EQ(four.Lines, one.Lines);
        EXPECT_EQ(four.Files, one.Files);
        // Nothing is fetched ahead that its turn does not take.
        EXPECT_EQ(four.Requested, one.Requested);
        EXPECT_EQ(one.Files.at("c.gif"), "cc-alt") << "an existing file is never overwritten";
    }
    const TRun numbered = Download(4, true, false, paths, {"e.gif"});
    EXPECT_EQ(numbered.Files.at("a.gif"), "erstes-a");
    EXPECT_EQ(numbered.Files.at("a1.gif"), "erstes-a");
    EXPECT_EQ(numbered.Files.at("c1.gif"), "cc-neu");
    EXPECT_EQ(numbered.Files.count("fehlt.gif"), 0u);
    EXPECT_THAT(numbered.Lines, ::testing::Contains("Fehler: Konnte Datei fehlt.gif nicht herunterladen..."));
    EXPECT_EQ(Jobs.Failures.ErrorStatus, 5) << "one 404 in each of the five runs";
}

TEST_F(FetchAheadTest, ChangedFolderDuringTheRunTakesNoFileFetchedForTheOldOne)
{
    TTempDir second;
    Server.Route("/a.gif", {400, 200, "erstes-a"});
    for (const char* p : {"/b.gif", "/c.gif", "/d.gif"})
        Server.Route(p, {100, 200, p == std::string("/b.gif") ? "bbbb" : p == std::string("/c.gif") ? "cc-neu" : "d"});
    // While the first file's request is on the wire, the folder field changes:
    // the files fetched ahead for the first folder must not land there.
    DuringJob([this] { return Server.InFlight() >= 4; }, [&] { Front.Folder = second.Path(); });
    const TRun run = Download(4, true, false, {"/a.gif", "/b.gif", "/c.gif", "/d.gif"});
    EXPECT_TRUE(ActionRan());
    EXPECT_EQ(run.Files.size(), 2u) << "a.gif and the c.gif there before";
    EXPECT_EQ(run.Files.count("a.gif"), 1u);
    EXPECT_EQ(FileContents(second.Path()),
              (std::map<std::string, std::string>{{"b.gif", "bbbb"}, {"c.gif", "cc-neu"}, {"d.gif", "d"}}));
}

TEST_F(FetchAheadTest, CancelStopsEveryRequestInFlight)
{
    for (const char* p : {"/a.gif", "/b.gif", "/c.gif", "/d.gif"})
        Server.Route(p, {60000, 200, "nie"});
    const auto t0 = std::chrono::steady_clock::now();
    DuringJob([this] { return Server.InFlight() >= 4; }, [this] { Jobs.Break(); });
    const TRun run = Download(4, true, false, {"/a.gif", "/b.gif", "/c.gif", "/d.gif", "/e.gif"});
    EXPECT_TRUE(ActionRan());
    EXPECT_FALSE(TimedOut());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    EXPECT_THAT(run.Lines, ElementsAre("Lade Datei 1 von 5 herunter (a.gif)...", "HTTP Fehler: 3 (abgebrochen)",
                                       "Fehler: Konnte Datei a.gif nicht herunterladen...", "Done..."));
    EXPECT_EQ(run.Files.size(), 1u) << "only the c.gif that was there";
    EXPECT_TRUE(Server.WaitAllClosed(std::chrono::seconds(5))) << "a request is left running";
    EXPECT_FALSE(Jobs.AbortRequested);
}

TEST_F(FetchAheadTest, CurrentPictureButtonStopsOnlyTheEntryWaitedFor)
{
    Server.Route("/a.gif", {60000, 200, "nie"});
    DuringJob([this] { return Server.InFlight() >= 1 && Server.Requests() >= 4; },
              [this] { Jobs.BreakLocal(); });
    const TRun run = Download(4, true, false, {"/a.gif", "/b.gif", "/d.gif", "/leer.gif"});
    EXPECT_TRUE(ActionRan());
    EXPECT_THAT(run.Lines, ElementsAre("Lade Datei 1 von 4 herunter (a.gif)...", "HTTP Fehler: 3 (abgebrochen)",
                                       "Fehler: Konnte Datei a.gif nicht herunterladen...",
                                       "Lade Datei 2 von 4 herunter (b.gif)...",
                                       "Lade Datei 3 von 4 herunter (d.gif)...",
                                       "Lade Datei 4 von 4 herunter (leer.gif)...", "Done..."));
    EXPECT_EQ(run.Files, (std::map<std::string, std::string>{
                             {"b.gif", "bbbb"}, {"c.gif", "cc-alt"}, {"d.gif", "d"}, {"leer.gif", ""}}));
}

TEST_F(FetchAheadTest, SmallFilesBehindABigOneAreFetchedWhileItRuns)
{
    // With two connections, the small files that have ended must not keep the
    // second one: all of them are fetched while the first is still coming.
    Server.Route("/gross.gif", {60000, 200, "nie"});
    std::vector<std::string> paths = {"/gross.gif"}, small;
    for (int i = 0; i < 8; ++i) {
        small.push_back("/k" + std::to_string(i) + ".gif");
        Server.Route(small.back(), {0, 200, "k" + std::to_string(i)});
    }
    paths.insert(paths.end(), small.begin(), small.end());
    const auto allSmallAsked = [this, small] {
        const auto asked = Server.Requested();
        return Server.InFlight() == 1 &&
               std::all_of(small.begin(), small.end(), [&](const std::string& p) { return asked.count(p) != 0; });
    };
    // The button for the current picture ends the big one only; the small
    // ones are saved from what was held.
    DuringJob(allSmallAsked, [this] { Jobs.BreakLocal(); });
    const TRun kept = Download(2, true, false, paths);
    EXPECT_TRUE(ActionRan());
    EXPECT_LE(kept.MaxOpen, 2) << "more connections than asked for";
    EXPECT_EQ(kept.Files.size(), 9u) << "the eight small ones and c.gif";
    EXPECT_EQ(kept.Files.at("k7.gif"), "k7");
    EXPECT_EQ(kept.Lines.back(), "Done...");
    // Cancel while the small ones wait unnamed: none of them is kept.
    ASSERT_TRUE(Server.WaitAllClosed(std::chrono::seconds(5)));
    const int fds = OpenDescriptorCount();
    DuringJob(allSmallAsked, [this] { Jobs.Break(); });
    const TRun cancelled = Download(2, true, false, paths);
    EXPECT_TRUE(ActionRan());
    EXPECT_EQ(cancelled.Files.size(), 1u) << "only the c.gif that was there";
    EXPECT_TRUE(Server.WaitAllClosed(std::chrono::seconds(5)));
    EXPECT_LE(OpenDescriptorCount(), fds) << "an unnamed file is left open";
}

TEST_F(FetchAheadTest, WindowAheadIsBoundedByEntriesAndBytes)
{
    // Behind a file that does not end, no more entries than the window holds
    // are requested, however many connections are free.
    Server.Route("/gross.gif", {60000, 200, "nie"});
    std::vector<std::string> paths = {"/gross.gif"};
    for (std::size_t i = 0; i < TFetchAhead::kMaxEntries + 10; ++i) {
        paths.push_back("/w" + std::to_string(i) + ".gif");
        Server.Route(paths.back(), {0, 200, "w"});
    }
    int asked = 0;
    DuringJob([this] { return Server.Requests() >= static_cast<int>(TFetchAhead::kMaxEntries); },
              [this, &asked] {
                  asked = Server.Requests();
                  Jobs.BreakLocal();
              });
    const TRun run = Download(4, true, false, paths);
    EXPECT_TRUE(ActionRan());
    EXPECT_EQ(asked, static_cast<int>(TFetchAhead::kMaxEntries));
    EXPECT_EQ(run.Files.size(), paths.size()) << "every small one and c.gif";

    // The bytes held: two ended bodies over the bound leave no room until
    // one is dropped, and taking the other gives its bytes back.
    Server.Route("/x.gif", {0, 200, std::string(3000, 'x')});
    Server.Route("/y.gif", {0, 200, std::string(3000, 'y')});
    THttpCli main;
    TFetchAhead pool(main, 3, {});
    pool.SetWindow(8, 5000);
    for (std::size_t k = 0; k < 2; ++k) {
        TFetchAhead::TRequest rq{Server.Url(k == 0 ? "/x.gif" : "/y.gif"), "", std::make_unique<TMemoryStream>(1 << 20)};
        ASSERT_TRUE(pool.Start(k, rq));
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((pool.BytesHeld() < 6000 || pool.Idle() < 3) && std::chrono::steady_clock::now() < end)
        WaitForNotices(TNoticeClock::now() + std::chrono::milliseconds(50));
    EXPECT_EQ(pool.BytesHeld(), 6000);
    EXPECT_EQ(pool.Idle(), 3) << "ended answers hold no client";
    EXPECT_FALSE(pool.RoomAhead());
    pool.Drop(0);
    EXPECT_EQ(pool.BytesHeld(), 3000);
    EXPECT_TRUE(pool.RoomAhead());
    const TFetchAhead::TResult r = pool.Take(1);
    EXPECT_EQ(pool.BytesHeld(), 0);
    EXPECT_EQ(r.StatusCode, 200);
    EXPECT_EQ(static_cast<TMemoryStream*>(r.Body.get())->Size(), 3000);
}

TEST_F(FetchAheadTest, ManyRunsLeaveNoDescriptorsOrThreadsBehind)
{
    const std::vector<std::string> paths = {"/b.gif", "/d.gif", "/fehlt.gif", "/leer.gif", "/d.gif", "/b.gif"};
    for (auto& p : std::vector<std::string>{"/b.gif", "/c.gif"})
        Server.Route(p, {0, 200, "x"});
    // The server lives in this process: its side of each connection is
    // counted only once it has seen the client close.
    Download(4, true, false, paths);
    ASSERT_TRUE(Server.WaitAllClosed(std::chrono::seconds(5)));
    const int fds = OpenDescriptorCount();
    const int threads = ThreadCount();
    for (int i = 0; i < 25; ++i)
        Download(4, i % 2 == 0, i % 3 == 0, paths);
    EXPECT_TRUE(Server.WaitAllClosed(std::chrono::seconds(5)));
    EXPECT_LE(OpenDescriptorCount(), fds);
    // Look-up helpers end on their own; give them a moment, never a fixed wait.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (ThreadCount() > threads && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_LE(ThreadCount(), threads);
}

namespace {

std::string Html(const std::string& body)
{
    return "<html><body>\n" + body + "\n</body></html>\n";
}

class ScanAheadTest : public FetchAheadTest {
protected:
    void SetUp() override
    {
        FetchAheadTest::SetUp();
        const std::string h = Server.Url("");
        // The start page's links answer in reverse order; two of them lead
        // into directories that need a question, one page is missing, and
        // pages are linked more than once.
        Server.Route("/s/index.html", {0, 200, Html("<a href=\"p1.html\">1</a><a href=\"p2.html\">2</a>"
                                                   "<a href=\"p3.html\">3</a><a href=\"p4.html\">4</a>"
                                                   "<a href=\"" + h + "/t/x.html\">t</a><img src=\"i0.gif\">")});
        Server.Route("/s/p1.html", {150, 200, Html("<a href=\"" + h + "/u/y.html\">u</a><a href=\"p2.html\">2</a>"
                                                  "<img src=\"i1.gif\"><a href=\"../s/p5.html\">5</a>")});
        Server.Route("/s/p2.html", {100, 200, Html("<img src=\"i2.gif\"><img src=\"I1.GIF\">"
                                                  "<a href=\"" + h + "/t/z.html\">z</a>")});
        Server.Route("/s/p4.html", {0, 200, Html("<a href=\"" + h + "/u/w.html\">w</a><img src=\"/u/i4.gif\">"
                                                "<a href=\"p1.html\">1</a>")});
        Server.Route("/s/p5.html", {30, 200, Html("<img src=\"i5.gif\"><a href=\"p6.html\">6</a>")});
        Server.Route("/s/p6.html", {0, 200, Html("<img src=\"i6.gif\">")});
        Server.Route("/t/x.html", {50, 200, Html("<img src=\"x.gif\"><a href=\"sub/q.html\">q</a>")});
        Server.Route("/t/z.html", {0, 200, Html("<img src=\"z.gif\">")});
        Server.Route("/t/sub/q.html", {10, 200, Html("<img src=\"q.gif\">")});
    }

    struct TScan {
        std::vector<std::string> Lines, Questions, Found;
        int MaxInFlight = 0;
    };
    TScan Scan(int connections, bool keepAlive)
    {
        Jobs.Settings.Connections = connections;
        Cli.KeepAlive = keepAlive;
        Front.SetFound({});
        Front.Answer(TFollowAnswer::Yes);  // /t/
        Front.Answer(TFollowAnswer::No);   // /u/
        const std::size_t asked = Questions().size();
        Server.ResetCounts();
        TEngineJobFixture::Scan(Server.Url("/s/index.html"));
        Cli.Abort();
        std::vector<std::string> questions = Questions();
        questions.erase(questions.begin(), questions.begin() + static_cast<std::ptrdiff_t>(asked));
        return {Lines, questions, Found(), Server.MaxInFlight()};
    }
};

}  // namespace

TEST_F(ScanAheadTest, PagesInFlightAreTakenInQueueOrder)
{
    const TScan one = Scan(1, false);
    const TScan four = Scan(4, true);
    EXPECT_EQ(one.MaxInFlight, 1);
    // How many pages the queue holds at once depends on how fast the client
    // reads each one (slow under the sanitizer): more than one is fetching ahead.
    EXPECT_GE(four.MaxInFlight, 2) << "pages were not fetched ahead";
    EXPECT_EQ(four.Lines, one.Lines);
    EXPECT_EQ(four.Questions, one.Questions);
    EXPECT_EQ(four.Found, one.Found);
    // The run itself is the scan everybody knows: the questions in link
    // order, the missing page logged, every page once.
    const std::string h = Server.Url("");
    EXPECT_THAT(one.Questions,
                ElementsAre("Soll der Link zu \"" + h + "/t/\" weiterverfolgt werden?\n(gefunden auf " + h +
                                "/s/index.html)",
                            "Soll der Link zu \"" + h + "/u/\" weiterverfolgt werden?\n(gefunden auf " + h +
                                "/s/p1.html)"));
    EXPECT_THAT(one.Lines, ::testing::Contains("Error... (404 Not Found)"));
    EXPECT_EQ(one.Lines.back(), "Done! (9 html files and 9 image files found...)...");
}

TEST_F(ScanAheadTest, CancelDuringPagesInFlightEndsWithTheSummary)
{
    for (const char* p : {"/s/p1.html", "/s/p2.html", "/s/p3.html", "/s/p4.html"})
        Server.Route(p, {60000, 200, Html("nie")});
    Front.Answer(TFollowAnswer::Yes);
    Jobs.Settings.Connections = 4;
    DuringJob([this] { return Server.InFlight() >= 4; }, [this] { Jobs.Break(); });
    TEngineJobFixture::Scan(Server.Url("/s/index.html"));
    EXPECT_TRUE(ActionRan());
    EXPECT_FALSE(TimedOut());
    EXPECT_THAT(Lines, ElementsAre(Server.Url("/s/index.html"), Server.Url("/s/p1.html"),
                                   "HTTP Fehler: 3 (abgebrochen)",
                                   "Error...", "Done! (1 html files and 1 image files found...)..."));
    Cli.Abort();
    EXPECT_TRUE(Server.WaitAllClosed(std::chrono::seconds(5)));
}
