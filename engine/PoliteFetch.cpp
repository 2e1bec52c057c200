#include "engine/PoliteFetch.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "engine/CookieFile.h"
#include "base/AsciiCase.h"

namespace {

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Glob match of a robots pattern: "*" any run, "$" at the end anchors. The
// leftmost place of each literal piece is the right one for such patterns,
// so matching is one pass of searches, never backtracking.
bool RobotsMatch(std::string_view pattern, std::string_view path)
{
    bool anchored = false;
    if (pattern.ends_with('$')) {
        anchored = true;
        pattern.remove_suffix(1);
    }
    std::size_t pos = 0;
    bool first = true;
    while (true) {
        const std::size_t star = pattern.find('*');
        const std::string_view piece = pattern.substr(0, star);
        const bool last = star == std::string_view::npos;
        if (first) {
            if (!path.starts_with(piece))
                return false;
            pos = piece.size();
            first = false;
            if (last)
                return !anchored || pos == path.size();
        } else if (last) {
            if (anchored)
                return path.size() >= pos + piece.size() && path.ends_with(piece);
            return path.find(piece, pos) != std::string_view::npos;
        } else {
            const std::size_t at = path.find(piece, pos);
            if (at == std::string_view::npos)
                return false;
            pos = at + piece.size();
        }
        pattern.remove_prefix(star + 1);
    }
}

}  // namespace

std::string ProductToken(std::string_view userAgent)
{
    userAgent = Trim(userAgent);
    const std::size_t end = userAgent.find_first_of("/ \t(");
    return std::string(userAgent.substr(0, end));
}

TRobotsRules TRobotsRules::Parse(std::string_view text, std::string_view productToken)
{
    text = text.substr(0, kMaxBytes);
    // A byte-order mark is not part of the first field name.
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    std::vector<TRule> ours, star;
    bool groupOurs = false, groupStar = false, inAgents = false;
    bool foundOurs = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        line = Trim(line.substr(0, line.find('#')));
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string field = LowerAscii(Trim(line.substr(0, colon)));
        const std::string_view value = Trim(line.substr(colon + 1));
        if (field == "user-agent") {
            if (!inAgents) {
                groupOurs = groupStar = false;
                inAgents = true;
            }
            if (value == "*")
                groupStar = true;
            else if (!productToken.empty() && SameTextAscii(value.substr(0, value.find_first_of("/ \t")), productToken))
                groupOurs = foundOurs = true;
            continue;
        }
        const bool allow = field == "allow";
        if (!allow && field != "disallow")
            continue;  // sitemap, crawl-delay and the like end no group
        inAgents = false;
        // An empty Disallow allows everything, which no rule says best.
        if (value.empty() || value.size() > kMaxPattern)
            continue;
        const TRule rule{std::string(value), allow};
        if (groupOurs && ours.size() < kMaxRules)
            ours.push_back(rule);
        if (groupStar && star.size() < kMaxRules)
            star.push_back(rule);
    }
    TRobotsRules rules;
    rules.rules_ = foundOurs ? std::move(ours) : std::move(star);
    return rules;
}

bool TRobotsRules::Allows(std::string_view pathAndQuery) const
{
    std::size_t bestLength = 0;
    bool allowed = true;
    bool any = false;
    for (const TRule& rule : rules_) {
        if (!RobotsMatch(rule.Pattern, pathAndQuery))
            continue;
        const std::size_t length = rule.Pattern.size();
        if (!any || length > bestLength || (length == bestLength && rule.Allow && !allowed)) {
            bestLength = length;
            allowed = rule.Allow;
            any = true;
        }
    }
    return allowed;
}

std::string RobotsAddress(std::string_view address)
{
    const TAddressParts parts = SplitAddressParts(address);
    if (!parts.Valid)
        return {};
    return parts.Scheme + "://" + parts.Host + (parts.Port.empty() ? "" : ":" + parts.Port) + "/robots.txt";
}

namespace {

int MonthIndex(std::string_view name)
{
    static constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                   "jul", "aug", "sep", "oct", "nov", "dec"};
    for (int i = 0; i < 12; ++i)
        if (SameTextAscii(name, kMonths[i]))
            return i;
    return -1;
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

bool Number(std::string_view s, int& out)
{
    if (s.empty() || s.size() > 4)
        return false;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && ptr == s.data() + s.size();
}

bool Clock(std::string_view s, int& h, int& m, int& sec)
{
    return s.size() == 8 && s[2] == ':' && s[5] == ':' && Number(s.substr(0, 2), h) && Number(s.substr(3, 2), m) &&
           Number(s.substr(6, 2), sec) && h < 24 && m < 60 && sec < 61;
}

std::vector<std::string_view> Words(std::string_view s)
{
    std::vector<std::string_view> words;
    std::size_t pos = 0;
    while (words.size() < 8) {
        pos = s.find_first_not_of(' ', pos);
        if (pos == std::string_view::npos)
            break;
        const std::size_t end = s.find(' ', pos);
        words.push_back(s.substr(pos, end - pos));
        if (end == std::string_view::npos)
            break;
        pos = end;
    }
    return words;
}

// An HTTP date as seconds since 1970, or nothing.
std::optional<std::int64_t> HttpDate(std::string_view value)
{
    const std::vector<std::string_view> w = Words(value);
    int day = 0, year = 0, month = -1, h = 0, m = 0, s = 0;
    if (w.size() == 6 && w[0].ends_with(',') && w[5] == "GMT") {
        // Sun, 06 Nov 1994 08:49:37 GMT
        month = MonthIndex(w[2]);
        if (!Number(w[1], day) || !Number(w[3], year) || w[3].size() != 4 || !Clock(w[4], h, m, s))
            return std::nullopt;
    } else if (w.size() == 4 && w[0].ends_with(',') && w[3] == "GMT" && w[1].size() == 9 && w[1][2] == '-' &&
               w[1][6] == '-') {
        // Sunday, 06-Nov-94 08:49:37 GMT: a two-digit year more than 50 years
        // ahead is taken as the past century's.
        month = MonthIndex(w[1].substr(3, 3));
        if (!Number(w[1].substr(0, 2), day) || !Number(w[1].substr(7, 2), year) || !Clock(w[2], h, m, s))
            return std::nullopt;
        year += year < 70 ? 2000 : 1900;
    } else if (w.size() == 5) {
        // Sun Nov  6 08:49:37 1994
        month = MonthIndex(w[1]);
        if (!Number(w[2], day) || !Clock(w[3], h, m, s) || !Number(w[4], year) || w[4].size() != 4)
            return std::nullopt;
    } else {
        return std::nullopt;
    }
    if (month < 0 || day < 1 || day > 31 || year < 1970)
        return std::nullopt;
    return DaysFromCivil(year, month + 1, day) * 86400 + h * 3600 + m * 60 + s;
}

}  // namespace

std::optional<int> RetryAfterSeconds(std::string_view value, std::int64_t now)
{
    value = Trim(value);
    if (value.empty())
        return std::nullopt;
    if (value.find_first_not_of("0123456789") == std::string_view::npos) {
        // Any number of digits: beyond the cap the value no longer matters.
        if (value.size() > 6)
            return kMaxRetryAfter;
        int seconds = 0;
        std::from_chars(value.data(), value.data() + value.size(), seconds);
        return std::min(seconds, kMaxRetryAfter);
    }
    const std::optional<std::int64_t> date = HttpDate(value);
    if (!date)
        return std::nullopt;
    if (*date <= now)
        return 0;
    return static_cast<int>(std::min<std::int64_t>(*date - now, kMaxRetryAfter));
}

namespace {

// A non-negative decimal number with an optional one-letter suffix.
std::optional<std::pair<double, char>> DecimalWithSuffix(std::string_view text)
{
    text = Trim(text);
    char suffix = 0;
    if (!text.empty() && ((text.back() >= 'a' && text.back() <= 'z') || (text.back() >= 'A' && text.back() <= 'Z'))) {
        suffix = LowerAsciiChar(text.back());
        text.remove_suffix(1);
    }
    if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789.") != std::string_view::npos ||
        text.find('.') != text.rfind('.') || text == ".")
        return std::nullopt;
    double value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return std::make_pair(value, suffix);
}

}  // namespace

std::optional<std::uint64_t> ParseRate(std::string_view text)
{
    const auto parsed = DecimalWithSuffix(text);
    if (!parsed)
        return std::nullopt;
    double factor = 1;
    if (parsed->second == 'k')
        factor = 1024;
    else if (parsed->second == 'm')
        factor = 1024.0 * 1024;
    else if (parsed->second != 0)
        return std::nullopt;
    const double rate = parsed->first * factor;
    if (rate < 1 || rate > 1024.0 * 1024 * 1024 * 1024)
        return std::nullopt;
    return static_cast<std::uint64_t>(rate);
}

std::optional<std::int64_t> ParseWaitMs(std::string_view text)
{
    const auto parsed = DecimalWithSuffix(text);
    if (!parsed)
        return std::nullopt;
    double factor = 1000;
    if (parsed->second == 'm')
        factor = 60 * 1000;
    else if (parsed->second == 'h')
        factor = 3600 * 1000;
    else if (parsed->second != 0 && parsed->second != 's')
        return std::nullopt;
    const double ms = parsed->first * factor;
    if (ms > 86400.0 * 1000)
        return std::nullopt;
    return static_cast<std::int64_t>(std::llround(ms));
}

std::int64_t TServerWaits::DelayMs(const std::string& server, std::int64_t nowMs, double factor) const
{
    const auto it = last_.find(server);
    if (it == last_.end() || waitMs_ <= 0)
        return 0;
    const auto wait = static_cast<std::int64_t>(std::llround(static_cast<double>(waitMs_) * std::clamp(factor, 0.5, 1.5)));
    return std::max<std::int64_t>(0, it->second + wait - nowMs);
}

void TServerWaits::Started(const std::string& server, std::int64_t nowMs)
{
    last_[server] = nowMs;
}

std::int64_t TRateLimiter::Received(std::uint64_t bytes, std::int64_t nowMs)
{
    if (rate_ == 0)
        return 0;
    if (!started_ || nowMs - lastMs_ > 1000) {
        started_ = true;
        startMs_ = nowMs;
        bytes_ = 0;
    }
    lastMs_ = nowMs;
    bytes_ += bytes;
    const auto dueMs = startMs_ + static_cast<std::int64_t>(bytes_ * 1000 / rate_);
    const std::int64_t pause = std::max<std::int64_t>(0, dueMs - nowMs);
    // The pause counts as time of the transfer, not as idle time.
    lastMs_ = nowMs + pause;
    return pause;
}
