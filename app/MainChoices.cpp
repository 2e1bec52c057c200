// The user's optional picture choices on the window: read from the settings,
// applied to each request, and the robots.txt rules of the hosts a scan visits.
#include "app/MainUnit.h"

// system
#include <charconv>
#include <chrono>
#include <ctime>
#include <fstream>
#include <iterator>
#include <random>

// ours
#include "base/AsciiCase.h"
#include "net/Dispatcher.h"

// ours
#include "app/PictureChoices.h"

// Qt
#include <QSettings>

bool ParseMinSize(const std::string& text, std::uint32_t& width, std::uint32_t& height)
{
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string::npos || x == 0 || x + 1 >= text.size())
        return false;
    const auto number = [](std::string_view s, std::uint32_t& out) {
        const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
        return ec == std::errc() && ptr == s.data() + s.size() && out <= 100000;
    };
    const std::string_view all(text);
    return number(all.substr(0, x), width) && number(all.substr(x + 1), height);
}

bool LoadCookieFile(const std::string& path, TCookieJar& jar, std::string& error)
{
    constexpr std::streamoff kMaxBytes = 16 * 1024 * 1024;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0 || size > kMaxBytes) {
        error = path + " is not a cookie file of at most 16 MiB";
        return false;
    }
    in.seekg(0);
    std::string text(static_cast<std::size_t>(size), '\0');
    if (!in.read(text.data(), size)) {
        error = "cannot read " + path;
        return false;
    }
    jar = TCookieJar::Parse(text);
    return true;
}

void TMainForm::LoadPictureChoices()
{
    QSettings settings("Quenbrik", "Web Lumifang");
    const auto count = [&](const char* key, std::uint64_t max) -> std::uint64_t {
        bool ok = false;
        const qulonglong v = settings.value(key, 0).toULongLong(&ok);
        return ok && v <= max ? v : 0;
    };
    Choices.SkipThumbnails = settings.value("Scan/SkipThumbnails", false).toBool();
    Choices.Robots = settings.value("Scan/Robots", false).toBool();
    Choices.MinWidth = static_cast<std::uint32_t>(count("Download/MinWidth", 100000));
    Choices.MinHeight = static_cast<std::uint32_t>(count("Download/MinHeight", 100000));
    Choices.MinBytes = count("Download/MinBytes", std::uint64_t(1) << 40);
    Choices.SkipDuplicates = settings.value("Download/SkipDuplicates", false).toBool();
    bool ok = false;
    const double wait = settings.value("Network/Wait", 0).toDouble(&ok);
    Choices.WaitMs = ok && wait > 0 && wait <= 86400 ? static_cast<std::int64_t>(wait * 1000) : 0;
    Choices.RandomWait = settings.value("Network/RandomWait", false).toBool();
    Choices.LimitRate =
        ParseRate(settings.value("Network/LimitRate", QString()).toString().trimmed().toStdString()).value_or(0);
    Choices.UserAgent = settings.value("Network/UserAgent", QString()).toString().toStdString();
    const std::string cookieFile = settings.value("Network/CookieFile", QString()).toString().toStdString();
    std::string error;
    if (!cookieFile.empty() && !LoadCookieFile(cookieFile, Choices.Cookies, error))
        Choices.Cookies = TCookieJar();
    UseUserAgent();
    UseRateLimit();
    // After a relocation the cookies are those of the new address, so none
    // follows a redirect to a host or path the file does not name.
    HttpCli1.OnLocationChange = [this](THttpCli& Sender) { PrepareRequest(Sender, Sender.Location()); };
}

void TMainForm::UseUserAgent()
{
    // Line breaks would end the header early and start another.
    if (!Choices.UserAgent.empty() && Choices.UserAgent.find_first_of("\r\n") == std::string::npos)
        HttpCli1.Agent = Choices.UserAgent;
}

void TMainForm::UseRateLimit()
{
    RateLimiter_ = TRateLimiter(Choices.LimitRate);
    if (Choices.LimitRate == 0) {
        HttpCli1.OnReceivePace = nullptr;
        return;
    }
    HttpCli1.OnReceivePace = [this](THttpCli&, std::size_t Bytes) {
        const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now().time_since_epoch())
                             .count();
        return RateLimiter_.Received(Bytes, now);
    };
}

void TMainForm::PrepareRequest(THttpCli& Cli, const std::string& Address)
{
    Cli.Cookie = Choices.Cookies.Cookies().empty() ? std::string()
                                                   : Choices.Cookies.HeaderFor(Address, static_cast<std::int64_t>(std::time(nullptr)));
}

void TMainForm::WaitTurn(const std::string& Address)
{
    if (Choices.WaitMs <= 0)
        return;
    const TAddressParts parts = SplitAddressParts(Address);
    const std::string server = parts.Scheme + "://" + parts.Host + ":" + parts.Port;
    const auto nowMs = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(TNoticeClock::now().time_since_epoch()).count();
    };
    double factor = 1.0;
    if (Choices.RandomWait) {
        static std::mt19937 random{std::random_device{}()};
        factor = std::uniform_real_distribution<double>(0.5, 1.5)(random);
    }
    if (ServerWaits_.WaitMs() != Choices.WaitMs)
        ServerWaits_ = TServerWaits(Choices.WaitMs);
    const TNoticeDeadline deadline = TNoticeClock::now() + std::chrono::milliseconds(ServerWaits_.DelayMs(server, nowMs(), factor));
    while (TNoticeClock::now() < deadline && !AbortRequested && !ApplicationTerminating())
        WaitForNotices(deadline);
    ServerWaits_.Started(server, nowMs());
}

bool TMainForm::WaitToRetry(const THttpCli& Cli, const std::string& Address)
{
    if ((Choices.WaitMs <= 0 && !Choices.Robots) || (Cli.StatusCode() != 429 && Cli.StatusCode() != 503) ||
        AbortRequested)
        return false;
    std::optional<int> seconds;
    constexpr std::string_view kName = "retry-after:";
    for (const std::string& line : Cli.ResponseHeader())
        if (line.size() > kName.size() && SameTextAscii(std::string_view(line).substr(0, kName.size()), kName))
            seconds = RetryAfterSeconds(std::string_view(line).substr(kName.size()), std::time(nullptr));
    if (!seconds)
        return false;
    AddMemoLine("Server bittet zu warten (" + std::to_string(Cli.StatusCode()) + "), neuer Versuch in " +
                std::to_string(*seconds) + " s: " + Address);
    // The answer was counted as a failure; the retry's own outcome counts instead.
    if (Failures.ErrorStatus > 0)
        --Failures.ErrorStatus;
    const TNoticeDeadline deadline = TNoticeClock::now() + std::chrono::seconds(*seconds);
    while (TNoticeClock::now() < deadline && !AbortRequested && !ApplicationTerminating())
        WaitForNotices(deadline);
    return !AbortRequested;
}

bool TMainForm::RobotsAllow(const std::string& Address)
{
    if (!Choices.Robots)
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
            PrepareRequest(HttpCli1, robots);
            HttpCli1.URL = robots;
            HttpCli1.Proxy = ProxyEdit->Text();
            HttpCli1.ProxyPort = "80";
            HttpCli1.BodyStream = &stream;
            QuietRequest_ = true;
            HttpCli1.Get();
            text = stream.Data();
        } catch (...) {
        }
        HttpCli1.BodyStream = nullptr;
        QuietRequest_ = false;
        it = RobotsRules_.emplace(robots, TRobotsRules::Parse(text, ProductToken(HttpCli1.Agent))).first;
    }
    const TAddressParts parts = SplitAddressParts(Address);
    if (it->second.Allows(parts.PathAndQuery))
        return true;
    AddMemoLine("übersprungen: robots.txt verbietet " + Address);
    return false;
}
