// Polite crawling: robots.txt rules, the wait a Retry-After answer asks for,
// the user's wait between requests to one server and the program's rate
// limit. Times are passed in, so the rules run and test without a clock.
// Plain C++ without Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The product token of a user agent: "Mozilla" for "Mozilla/3.0 (compatible)".
std::string ProductToken(std::string_view userAgent);

// The rules of one robots.txt for one crawler. The groups whose User-agent
// names our product token (letter case ignored) apply; when none does, the
// groups of "*"; when none of those either, everything is allowed. Of the
// Allow and Disallow rules that match a path, the longest wins, Allow on a
// tie; "*" matches any run of bytes and a final "$" anchors the end.
class TRobotsRules {
public:
    static TRobotsRules Parse(std::string_view text, std::string_view productToken);
    // Whether path (with its query, beginning with "/") may be fetched.
    bool Allows(std::string_view pathAndQuery) const;

    // Only this much of a file is read; rules beyond the limits are dropped.
    static constexpr std::size_t kMaxBytes = 512 * 1024;
    static constexpr std::size_t kMaxRules = 2000;
    static constexpr std::size_t kMaxPattern = 2048;

private:
    struct TRule {
        std::string Pattern;
        bool Allow = false;
    };
    std::vector<TRule> rules_;
};

// The robots.txt address of the server of address ("scheme://host[:port]/robots.txt"),
// empty for an address without scheme and host.
std::string RobotsAddress(std::string_view address);

// Seconds to wait from a Retry-After value, either a number of seconds or an
// HTTP date (the three forms HTTP allows), compared with now (seconds since
// 1970). At most kMaxRetryAfter; a date in the past gives 0; nothing for a
// value that is neither.
constexpr int kMaxRetryAfter = 120;
std::optional<int> RetryAfterSeconds(std::string_view value, std::int64_t now);

// A rate in bytes per second: a decimal number with an optional suffix k
// (1024) or m (1024 * 1024). Nothing for anything else, for 0 and for more
// than 1 TiB/s.
std::optional<std::uint64_t> ParseRate(std::string_view text);

// A wait in milliseconds: decimal seconds with an optional suffix s, m
// (minutes) or h (hours), at most a day.
std::optional<std::int64_t> ParseWaitMs(std::string_view text);

// When the next request to a server may start: each server's last request
// is remembered, and the next one waits the wait, or with random waits a
// factor of it between 0.5 and 1.5 the caller draws.
class TServerWaits {
public:
    explicit TServerWaits(std::int64_t waitMs) : waitMs_(waitMs) {}
    // Milliseconds still to wait before a request to server at nowMs.
    std::int64_t DelayMs(const std::string& server, std::int64_t nowMs, double factor = 1.0) const;
    // A request to server starts at nowMs.
    void Started(const std::string& server, std::int64_t nowMs);
    std::int64_t WaitMs() const { return waitMs_; }

private:
    std::int64_t waitMs_;
    std::map<std::string, std::int64_t> last_;
};

// The rate limit of the whole program: after bytes have been received, how
// long to pause so that the average since the start stays within the rate.
// After an idle second the count starts anew, so time without transfer
// never buys a burst.
class TRateLimiter {
public:
    explicit TRateLimiter(std::uint64_t bytesPerSecond) : rate_(bytesPerSecond) {}
    // bytes arrived at nowMs; the milliseconds to pause before reading on.
    std::int64_t Received(std::uint64_t bytes, std::int64_t nowMs);

private:
    std::uint64_t rate_;
    std::int64_t startMs_ = 0;
    std::int64_t lastMs_ = 0;
    std::uint64_t bytes_ = 0;
    bool started_ = false;
};
