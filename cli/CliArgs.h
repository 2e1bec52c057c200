// Command line of weblumifang-cli: what to set on the form and which jobs to run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TCliArgs {
    bool Auto = false;
    bool Modern = false;
    std::optional<std::string> Proxy;
    std::optional<std::vector<std::string>> Types;
    std::optional<std::string> LoadList;
    std::optional<std::string> SaveList;
    std::optional<std::string> DownloadDir;
    bool SkipExisting = false;
    double TimeoutSeconds = 60;  // 0: never
    // Bounds of the scan, 0 meaning none: pages fetched, link depth.
    std::uint32_t MaxPages = 0;
    std::uint32_t MaxLevel = 0;
    bool NoParent = false;  // "../" links only into directories already allowed
    std::optional<std::string> CaFile;  // also trusted for https
    bool NoCheckCertificate = false;
    int Connections = 6;        // requests in flight at most (1 to 16)
    bool NoKeepAlive = false;   // a fresh connection for every request
    std::optional<std::string> Url;
    // One thumbnail pass of the image browser over this folder instead of a scan.
    std::optional<std::string> Thumbnails;
    // Which pictures: no thumbnails inside links to pictures, a minimum size
    // (0: none), no duplicates; robots.txt, cookies and the user agent.
    bool SkipThumbnails = false;
    std::uint32_t MinWidth = 0;
    std::uint32_t MinHeight = 0;
    std::uint64_t MinBytes = 0;
    bool NoDuplicates = false;
    bool Robots = false;
    std::optional<std::string> CookieFile;
    std::optional<std::string> UserAgent;
    std::int64_t WaitMs = 0;  // between two requests to one server
    bool RandomWait = false;
    std::uint64_t LimitRate = 0;  // bytes per second of the whole program; 0: none
    bool Help = false;
    bool Version = false;
};

struct TCliParse {
    TCliArgs Args;
    std::string Error;  // empty when the command line is usable
};

TCliParse ParseCliArgs(const std::vector<std::string>& args);

// "a,b,,c" gives a, b, (empty), c; an empty text gives no entry at all.
std::vector<std::string> SplitTypeList(const std::string& list);

const char* CliUsageText();
