#include "cli/CliArgs.h"

// ours
#include "engine/PictureChoices.h"

// system
#include <cmath>
#include <cstdlib>

namespace {

enum class TOpt {
    Auto, Modern, Proxy, Types, Load, Save, Download, Skip, Timeout, CaFile, NoCheck, MaxPages, Level, NoParent,
    Connections, NoKeepAlive, Thumbnails, SkipThumbnails, MinSize, MinBytes, NoDuplicates, Robots, LoadCookies,
    UserAgent, Wait, RandomWait, LimitRate, Help, Version
};

struct TOptDef {
    char Short;
    const char* Long;
    TOpt Id;
    bool TakesValue;
};

constexpr TOptDef OptDefs[] = {
    {'a', "auto", TOpt::Auto, false},
    {'m', "modern", TOpt::Modern, false},
    {'p', "proxy", TOpt::Proxy, true},
    {'t', "types", TOpt::Types, true},
    {'l', "load-list", TOpt::Load, true},
    {'s', "save-list", TOpt::Save, true},
    {'d', "download", TOpt::Download, true},
    {'k', "skip-existing", TOpt::Skip, false},
    {'T', "timeout", TOpt::Timeout, true},
    {'\0', "ca-file", TOpt::CaFile, true},
    {'\0', "no-check-certificate", TOpt::NoCheck, false},
    {'\0', "max-pages", TOpt::MaxPages, true},
    {'\0', "level", TOpt::Level, true},
    {'\0', "no-parent", TOpt::NoParent, false},
    {'j', "connections", TOpt::Connections, true},
    {'\0', "no-keep-alive", TOpt::NoKeepAlive, false},
    {'\0', "thumbnails", TOpt::Thumbnails, true},
    {'\0', "skip-thumbnails", TOpt::SkipThumbnails, false},
    {'\0', "min-size", TOpt::MinSize, true},
    {'\0', "min-bytes", TOpt::MinBytes, true},
    {'\0', "no-duplicates", TOpt::NoDuplicates, false},
    {'\0', "robots", TOpt::Robots, false},
    {'\0', "load-cookies", TOpt::LoadCookies, true},
    {'\0', "user-agent", TOpt::UserAgent, true},
    {'w', "wait", TOpt::Wait, true},
    {'\0', "random-wait", TOpt::RandomWait, false},
    {'\0', "limit-rate", TOpt::LimitRate, true},
    {'h', "help", TOpt::Help, false},
    {'\0', "version", TOpt::Version, false},
};

const TOptDef* FindShort(char c)
{
    for (const auto& d : OptDefs)
        if (d.Short == c && c != '\0')
            return &d;
    return nullptr;
}

const TOptDef* FindLong(const std::string& name)
{
    for (const auto& d : OptDefs)
        if (name == d.Long)
            return &d;
    return nullptr;
}

// A generous cap keeps the value meaningful as a timer interval.
constexpr double MaxTimeoutSeconds = 24.0 * 3600.0;

bool ParseSeconds(const std::string& text, double& out)
{
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos)
        return false;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(v) || v < 0 || v > MaxTimeoutSeconds)
        return false;
    out = v;
    return true;
}

// A count of 0 to 2^32 - 1 in decimal digits.
bool ParseCount(const std::string& text, std::uint32_t& out)
{
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (v > 0xFFFFFFFFull)
        return false;
    out = static_cast<std::uint32_t>(v);
    return true;
}

// Applies one option; returns an error text or empty.
std::string Apply(TCliArgs& a, const TOptDef& d, const std::string& value)
{
    switch (d.Id) {
    case TOpt::Auto: a.Auto = true; break;
    case TOpt::Modern: a.Modern = true; break;
    case TOpt::Proxy: a.Proxy = value; break;
    case TOpt::Types: a.Types = SplitTypeList(value); break;
    case TOpt::Load: a.LoadList = value; break;
    case TOpt::Save: a.SaveList = value; break;
    case TOpt::Download: a.DownloadDir = value; break;
    case TOpt::Skip: a.SkipExisting = true; break;
    case TOpt::Timeout:
        if (!ParseSeconds(value, a.TimeoutSeconds))
            return "invalid timeout '" + value + "' (seconds, 0 to 86400)";
        break;
    case TOpt::CaFile:
        if (value.empty())
            return "the CA file name is empty";
        a.CaFile = value;
        break;
    case TOpt::NoCheck: a.NoCheckCertificate = true; break;
    case TOpt::MaxPages:
        if (!ParseCount(value, a.MaxPages))
            return "invalid page count '" + value + "' (0 = no limit)";
        break;
    case TOpt::Level:
        if (!ParseCount(value, a.MaxLevel))
            return "invalid link depth '" + value + "' (0 = no limit)";
        break;
    case TOpt::NoParent: a.NoParent = true; break;
    case TOpt::Connections:
        if (value.empty() || value.size() > 2 || value.find_first_not_of("0123456789") != std::string::npos ||
            std::atoi(value.c_str()) < 1 || std::atoi(value.c_str()) > 16)
            return "invalid number of connections '" + value + "' (1 to 16)";
        a.Connections = std::atoi(value.c_str());
        break;
    case TOpt::NoKeepAlive: a.NoKeepAlive = true; break;
    case TOpt::Thumbnails:
        if (value.empty())
            return "the folder of --thumbnails is empty";
        a.Thumbnails = value;
        break;
    case TOpt::SkipThumbnails: a.SkipThumbnails = true; break;
    case TOpt::MinSize:
        if (!ParseMinSize(value, a.MinWidth, a.MinHeight))
            return "invalid minimum size '" + value + "' (WxH, each 0 to 100000)";
        break;
    case TOpt::MinBytes: {
        std::uint32_t bytes = 0;
        if (!ParseCount(value, bytes))
            return "invalid minimum byte count '" + value + "'";
        a.MinBytes = bytes;
        break;
    }
    case TOpt::NoDuplicates: a.NoDuplicates = true; break;
    case TOpt::Robots: a.Robots = true; break;
    case TOpt::LoadCookies:
        if (value.empty())
            return "the cookie file name is empty";
        a.CookieFile = value;
        break;
    case TOpt::UserAgent:
        if (value.empty() || value.find_first_of("\r\n") != std::string::npos)
            return "the user agent is empty or holds a line break";
        a.UserAgent = value;
        break;
    case TOpt::Wait: {
        const std::optional<std::int64_t> ms = ParseWaitMs(value);
        if (!ms)
            return "invalid wait '" + value + "' (seconds, or with s, m or h, at most a day)";
        a.WaitMs = *ms;
        break;
    }
    case TOpt::RandomWait: a.RandomWait = true; break;
    case TOpt::LimitRate: {
        if (value == "0") {
            a.LimitRate = 0;  // no limit, as wget reads it
            break;
        }
        const std::optional<std::uint64_t> rate = ParseRate(value);
        if (!rate)
            return "invalid rate '" + value + "' (bytes per second, with k or m suffix)";
        a.LimitRate = *rate;
        break;
    }
    case TOpt::Help: a.Help = true; break;
    case TOpt::Version: a.Version = true; break;
    }
    return {};
}

}  // namespace

std::vector<std::string> SplitTypeList(const std::string& list)
{
    std::vector<std::string> out;
    if (list.empty())
        return out;
    std::string::size_type start = 0;
    for (;;) {
        const auto comma = list.find(',', start);
        out.push_back(list.substr(start, comma - start));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return out;
}

TCliParse ParseCliArgs(const std::vector<std::string>& args)
{
    TCliParse r;
    auto fail = [&r](std::string msg) {
        r.Error = std::move(msg);
        return r;
    };
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg[1] == '-') {
            const auto eq = arg.find('=');
            const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
            const TOptDef* d = FindLong(name);
            if (!d)
                return fail("unknown option '--" + name + "'");
            std::string value;
            if (d->TakesValue) {
                if (eq != std::string::npos)
                    value = arg.substr(eq + 1);
                else if (i + 1 < args.size())
                    value = args[++i];
                else
                    return fail("option '--" + name + "' needs a value");
            } else if (eq != std::string::npos) {
                return fail("option '--" + name + "' takes no value");
            }
            if (auto e = Apply(r.Args, *d, value); !e.empty())
                return fail(e);
            continue;
        }
        // Short options may be bundled (-ak); a value may follow attached (-T5) or apart.
        for (size_t k = 1; k < arg.size(); ++k) {
            const TOptDef* d = FindShort(arg[k]);
            if (!d)
                return fail(std::string("unknown option '-") + arg[k] + "'");
            std::string value;
            if (d->TakesValue) {
                if (k + 1 < arg.size())
                    value = arg.substr(k + 1);
                else if (i + 1 < args.size())
                    value = args[++i];
                else
                    return fail(std::string("option '-") + arg[k] + "' needs a value");
                k = arg.size();
            }
            if (auto e = Apply(r.Args, *d, value); !e.empty())
                return fail(e);
        }
    }
    if (r.Args.Help || r.Args.Version)
        return r;
    if (r.Args.Thumbnails) {
        if (!positional.empty() || r.Args.LoadList || r.Args.SaveList || r.Args.DownloadDir)
            return fail("--thumbnails runs alone, without a URL or list and download options");
        return r;
    }
    if (positional.size() > 1)
        return fail("only one URL may be given");
    if (positional.size() == 1) {
        if (positional[0].empty())
            return fail("the URL is empty");
        r.Args.Url = positional[0];
    }
    if (!r.Args.Url && !r.Args.LoadList)
        return fail("nothing to do: give a URL, --load-list or --thumbnails");
    if (r.Args.SkipExisting && !r.Args.DownloadDir)
        return fail("--skip-existing needs --download");
    return r;
}

const char* CliUsageText()
{
    return "Usage: weblumifang-cli [options] [URL]\n"
           "       weblumifang-cli --thumbnails DIR\n"
           "Scans the pages of a web site for pictures and downloads them, without a window.\n"
           "\n"
           "  -a, --auto               tick \"Automatisch Saugen\": new directories are refused without asking\n"
           "  -m, --modern             tick \"Moderne Bildangaben auswerten\": also read srcset, data-src,\n"
           "                           <picture> sources, og:image and inline backgrounds\n"
           "  -p, --proxy HOST[:PORT]  the proxy field\n"
           "  -t, --types LIST         comma-separated file types (default: GIF,JPG,JPEG,JIF,PNG,WEBP,AVIF)\n"
           "  -l, --load-list FILE     merge an image list into the found list first\n"
           "  -s, --save-list FILE     save the found list at the end\n"
           "  -d, --download DIR       after the scan (or the loaded list), download every found image into DIR\n"
           "                           (made, with its parents, when it does not exist)\n"
           "  -k, --skip-existing      with --download: skip existing files instead of numbered names\n"
           "  -T, --timeout SECONDS    end a request that receives nothing for that long\n"
           "                           (default 60; 0 = never)\n"
           "      --ca-file FILE       for https, also trust the CA certificates in FILE (PEM)\n"
           "      --no-check-certificate  for https, connect even when the server's certificate\n"
           "                           cannot be verified (a warning is printed)\n"
           "      --max-pages N        fetch at most N pages (stylesheets of --modern count too),\n"
           "                           then end the scan (default 0 = no limit)\n"
           "      --level N            follow links at most N steps from the start page, as wget -l\n"
           "                           (default 0 = no limit)\n"
           "      --no-parent          tick \"Nur unterhalb der Startadresse\": a link written with \"../\"\n"
           "                           is followed only into a directory already allowed, as wget -np\n"
           "  -j, --connections N      keep up to N requests in flight, at most N connections to one\n"
           "                           server (1 to 16, default 6); results stay in list order\n"
           "      --no-keep-alive      a fresh connection for every request (-j 1 --no-keep-alive sends\n"
           "                           the requests one at a time, each on its own connection)\n"
           "      --thumbnails DIR     make the thumbnails of the pictures in DIR and its cache file\n"
           "                           \"thbcache.tcf\", as the image browser does; prints the status lines\n"
           "      --skip-thumbnails    do not list a picture shown inside a link to a picture; the\n"
           "                           linked picture is listed\n"
           "      --min-size WxH       do not keep a download narrower than W or lower than H pixels;\n"
           "                           it is given up as soon as its first bytes tell its size\n"
           "      --min-bytes N        do not keep a download of fewer than N bytes\n"
           "      --no-duplicates      do not keep a download whose bytes equal a file in the folder\n"
           "      --robots             obey robots.txt of each host the scan visits\n"
           "      --load-cookies FILE  send the cookies of a Netscape cookies.txt file where it says\n"
           "      --user-agent TEXT    identify as TEXT (default \"Mozilla/3.0 (compatible)\")\n"
           "  -w, --wait SECONDS       wait between two requests to one server (s, m or h suffix)\n"
           "      --random-wait        wait 0.5 to 1.5 times --wait, a new factor each time\n"
           "      --limit-rate RATE    read at most RATE bytes per second in all (k or m suffix)\n"
           "      --version            show the version\n"
           "  -h, --help               show this text\n"
           "\n"
           "Status lines go to standard output; the question whether to follow a link into a new\n"
           "directory is asked on the terminal (answer j for yes, n for no, a for yes to every new\n"
           "directory of this scan, k for none of them; without a terminal the answer is no).\n"
           "Exit status: 0 when every page and file succeeded; 4 when a request failed in transport\n"
           "(look-up, connection, time-out, certificate); 8 when a server answered with an error status\n"
           "(the lower number when both happened); 1 for an error message or a file that could not be\n"
           "written; 2 for a usage error; 130 when interrupted (the first Ctrl+C stops the running job\n"
           "cleanly), 143 when ended by SIGTERM (which stops the job the same way).\n";
}
