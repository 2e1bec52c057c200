#include "app/StartArgs.h"

TStartArgs ParseStartArgs(const std::vector<std::string>& args)
{
    TStartArgs r;
    auto fail = [&r](std::string msg) {
        if (r.Error.empty())
            r.Error = std::move(msg);
    };
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (const std::string& arg : args) {
        // A lone "-" is no option; like every word not starting with one, it is the address.
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--version") {
            r.Version = true;
        } else if (arg == "--help" || arg == "-h") {
            r.Help = true;
        } else {
            fail("unknown option '" + arg + "'");
        }
    }
    if (positional.size() > 1)
        fail("only one web address may be given");
    else if (positional.size() == 1 && positional[0].empty())
        fail("the web address is empty");
    else if (positional.size() == 1)
        r.StartAddress = positional[0];
    return r;
}

const char* StartUsageText()
{
    return "Usage: weblumifang [Qt options] [--] [URL]\n"
           "Collects pictures from web sites and browses them as thumbnails.\n"
           "\n"
           "  URL          shown in \"Webadresse:\"; the scan starts when you press \"Saugen\"\n"
           "  --version    show the version\n"
           "  -h, --help   show this text\n"
           "\n"
           "weblumifang-cli runs the same scan and download without a window.\n";
}
