// Request driving: the jobs' client and its pool, the user's choices applied
// to each request (cookies, waits, robots.txt, rate), failure counting and
// the two ways of stopping.
#include "engine/PictureJobs.h"

// system
#include <chrono>
#include <ctime>
#include <optional>
#include <random>

// ours
#include "base/AsciiCase.h"
#include "engine/FailureText.h"
#include "engine/FetchAhead.h"
#include "engine/PageAddress.h"
#include "net/Dispatcher.h"

std::vector<std::string> DefaultFileTypes()
{
    return {"GIF", "JPG", "JPEG", "JIF", "PNG", "WEBP", "AVIF"};
}

std::string FoundListKey(std::string_view address)
{
    return UpperAscii(AddressKey(address));
}

void SetupJobClient(THttpCli& Cli)
{
    Cli.ProxyPort = "80";
    Cli.Agent = THttpCli::kDefaultAgent;
    Cli.Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
    Cli.NoCache = false;
    Cli.ContentTypePost = "application/x-www-form-urlencoded";
    Cli.SetMultiThreaded(false);
}

TPictureJobs::TPictureJobs(THttpCli& Client, TJobFrontend& Frontend) : Cli(Client), Front(Frontend) {}

TPictureJobs::~TPictureJobs() = default;

void TPictureJobs::UseChoices()
{
    const TPictureChoices& choices = Settings.Choices;
    // Line breaks would end the header early and start another.
    if (!choices.UserAgent.empty() && choices.UserAgent.find_first_of("\r\n") == std::string::npos)
        Cli.Agent = choices.UserAgent;
    RateLimiter_ = TRateLimiter(choices.LimitRate);
    if (choices.LimitRate == 0) {
        Cli.OnReceivePace = nullptr;
    } else {
        Cli.OnReceivePace = [this](THttpCli&, std::size_t Bytes) {
            const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
            return RateLimiter_.Received(Bytes, now);
        };
    }
    // After a relocation the cookies are those of the new address, so none
    // follows a redirect to a host or path the file does not name.
    Cli.OnLocationChange = [this](THttpCli& Sender) { PrepareRequest(Sender, Sender.Location()); };
}

void TPictureJobs::DocData(THttpCli& Sender, int Len)
{
    const std::int64_t length = Sender.ContentLength();
    const std::int64_t count = Sender.BodyCount();
    int position = 0;
    // No length (-1) or a length of 0 leaves the bar at 0; a body longer than
    // announced keeps it full rather than past the end.
    if (length > 0 && count != length) {
        const double percent = static_cast<double>(count) * 100.0 / static_cast<double>(length);
        position = percent >= 100.0 ? 100 : percent <= 0.0 ? 0 : static_cast<int>(percent);
    }
    Front.DataArrived(Len > 0 ? Len : 0, position);
}

void TPictureJobs::RequestDone(int StatusCode, std::uint16_t Error)
{
    if (QuietRequest_)
        return;
    if (Error == httpErrBodyWrite)
        ++Failures.Local;
    else if (Error != 0)
        ++Failures.Transport;
    else if (StatusCode >= 400)
        ++Failures.ErrorStatus;
    if (Error == 0)
        return;
    // The code alone tells the user nothing: its reason follows in words.
    Front.MemoLine(HttpErrorLine(Error));
}

bool TPictureJobs::AnsweredWithStatus(int StatusCode, std::uint16_t DoneError)
{
    if (StatusCode != 0)
        return true;
    if (DoneError == 0)
        ++Failures.Transport;
    return false;
}

void TPictureJobs::Break()
{
    if (ActiveFetch_)
        ActiveFetch_->AbortAll();
    else
        Cli.Abort();
    AbortRequested = true;
}

void TPictureJobs::BreakLocal()
{
    // Only the entry the job waits for; those fetched ahead are later ones.
    std::size_t current = 0;
    if (!ActiveFetch_)
        Cli.Abort();
    else if (ActiveFetch_->Waiting(current))
        ActiveFetch_->Abort(current);
}

void TPictureJobs::AimRequest(THttpCli& Client, const std::string& Address, TStream* Body)
{
    PrepareRequest(Client, Address);
    Client.URL = Address;
    Client.Proxy = Front.Proxy();
    Client.ProxyPort = "80";
    Client.BodyStream = Body;
}

void TPictureJobs::PrepareRequest(THttpCli& Client, const std::string& Address)
{
    const TCookieJar& jar = Settings.Choices.Cookies;
    Client.Cookie =
        jar.Cookies().empty() ? std::string() : jar.HeaderFor(Address, static_cast<std::int64_t>(std::time(nullptr)));
}

void TPictureJobs::WaitTurn(const std::string& Address)
{
    const TPictureChoices& choices = Settings.Choices;
    if (choices.WaitMs <= 0)
        return;
    const TAddressParts parts = SplitAddressParts(Address);
    const std::string server = parts.Scheme + "://" + parts.Host + ":" + parts.Port;
    const auto nowMs = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(TNoticeClock::now().time_since_epoch()).count();
    };
    double factor = 1.0;
    if (choices.RandomWait) {
        static std::mt19937 random{std::random_device{}()};
        factor = std::uniform_real_distribution<double>(0.5, 1.5)(random);
    }
    if (ServerWaits_.WaitMs() != choices.WaitMs)
        ServerWaits_ = TServerWaits(choices.WaitMs);
    const TNoticeDeadline deadline =
        TNoticeClock::now() + std::chrono::milliseconds(ServerWaits_.DelayMs(server, nowMs(), factor));
    while (TNoticeClock::now() < deadline && !AbortRequested && !ApplicationTerminating())
        WaitForNotices(deadline);
    ServerWaits_.Started(server, nowMs());
}

bool TPictureJobs::WaitToRetry(const THttpCli& Client, const std::string& Address)
{
    const TPictureChoices& choices = Settings.Choices;
    if ((choices.WaitMs <= 0 && !choices.Robots) || (Client.StatusCode() != 429 && Client.StatusCode() != 503) ||
        AbortRequested)
        return false;
    std::optional<int> seconds;
    constexpr std::string_view kName = "retry-after:";
    for (const std::string& line : Client.ResponseHeader())
        if (line.size() > kName.size() && SameTextAscii(std::string_view(line).substr(0, kName.size()), kName))
            seconds = RetryAfterSeconds(std::string_view(line).substr(kName.size()), std::time(nullptr));
    if (!seconds)
        return false;
    Front.MemoLine("Server bittet zu warten (" + std::to_string(Client.StatusCode()) + "), neuer Versuch in " +
                   std::to_string(*seconds) + " s: " + Address);
    // The answer was counted as a failure; the retry's own outcome counts instead.
    if (Failures.ErrorStatus > 0)
        --Failures.ErrorStatus;
    const TNoticeDeadline deadline = TNoticeClock::now() + std::chrono::seconds(*seconds);
    while (TNoticeClock::now() < deadline && !AbortRequested && !ApplicationTerminating())
        WaitForNotices(deadline);
    return !AbortRequested;
}

bool TPictureJobs::RobotsAllow(const std::string& Address)
{
    if (!Settings.Choices.Robots)
        return true;
    const std::string robots = RobotsAddress(Address);
    if (robots.empty())
        return true;
    auto it = RobotsRules_.find(robots);
    if (it == RobotsRules_.end()) {
        // A robots.txt that cannot be had forbids nothing, as crawlers agree.
        TMemoryStream stream(TRobotsRules::kMaxBytes);
        std::string text;
        try {
            WaitTurn(robots);
            AimRequest(Cli, robots, &stream);
            QuietRequest_ = true;
            Cli.Get();
            text = stream.Data();
        } catch (...) {
        }
        Cli.BodyStream = nullptr;
        QuietRequest_ = false;
        it = RobotsRules_.emplace(robots, TRobotsRules::Parse(text, ProductToken(Cli.Agent))).first;
    }
    const TAddressParts parts = SplitAddressParts(Address);
    if (it->second.Allows(parts.PathAndQuery))
        return true;
    Front.MemoLine("übersprungen: robots.txt verbietet " + Address);
    return false;
}

TPictureJobs::TAheadHold::TAheadHold(TPictureJobs& jobs, bool wanted) : jobs_(jobs)
{
    if (!wanted)
        return;
    const THttpCli& main = jobs.Cli;
    pool_ = std::make_unique<TFetchAhead>(jobs.Cli, jobs.Settings.Connections, [&main](THttpCli& c) {
        c.ProxyPort = main.ProxyPort;
        c.Agent = main.Agent;
        c.Accept = main.Accept;
        c.NoCache = main.NoCache;
        c.ContentTypePost = main.ContentTypePost;
        c.SetMultiThreaded(main.MultiThreaded());
        c.CaFile = main.CaFile;
        c.NoCheckCertificate = main.NoCheckCertificate;
        c.ConnectTimeout = main.ConnectTimeout;
        c.IdleTimeout = main.IdleTimeout;
        c.KeepAlive = main.KeepAlive;
        // One limiter for all: the rate is the whole program's.
        c.OnReceivePace = main.OnReceivePace;
    });
    pool_->OnDocData = [&jobs](THttpCli& Sender, const char*, int Len) { jobs.DocData(Sender, Len); };
    pool_->OnRequestDone = [&jobs](const TFetchAhead::TResult& Result, THttpRequest, std::uint16_t Error) {
        jobs.RequestDone(Result.StatusCode, Error);
    };
    jobs.ActiveFetch_ = pool_.get();
}

TPictureJobs::TAheadHold::~TAheadHold()
{
    // Unknown to the break buttons first: the pool pumps while it ends.
    jobs_.ActiveFetch_ = nullptr;
    pool_.reset();
}
