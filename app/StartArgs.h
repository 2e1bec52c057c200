// Command line of the window program: a start address for "Webadresse:",
// or a request for the version or the usage text.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct TStartArgs {
    std::optional<std::string> StartAddress;
    bool Version = false;
    bool Help = false;
    std::string Error;  // the first problem; empty when the line is usable
};

// args without the program name. The whole line is read even after an error,
// so --help and --version are seen wherever they stand.
TStartArgs ParseStartArgs(const std::vector<std::string>& args);

const char* StartUsageText();
