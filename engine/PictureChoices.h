// The user's optional choices of which pictures to take and how politely to
// fetch them. Every one is off by default, and off, the scan and the
// downloads behave exactly as without them. Plain C++ without Qt.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "engine/CookieFile.h"
#include "engine/PoliteFetch.h"
#include "engine/WantedPictures.h"

struct TPictureChoices {
    // An inline picture inside a link to a picture is not listed.
    bool SkipThumbnails = false;
    // A download below these is abandoned as soon as its header or length tells.
    std::uint32_t MinWidth = 0;
    std::uint32_t MinHeight = 0;
    std::uint64_t MinBytes = 0;
    // A finished download equal to a file of the folder or of this run is not kept.
    bool SkipDuplicates = false;
    // robots.txt of each host is obeyed by the scan.
    bool Robots = false;
    // Empty: the client's own agent.
    std::string UserAgent;
    // Loaded from the cookie file; empty when there is none.
    TCookieJar Cookies;
    // Between two requests to one server: this long, or with RandomWait a
    // random 0.5 to 1.5 times it.
    std::int64_t WaitMs = 0;
    bool RandomWait = false;
    // Bytes per second read by the whole program; 0 for no limit.
    std::uint64_t LimitRate = 0;

    bool MinSizeWanted() const { return MinWidth != 0 || MinHeight != 0 || MinBytes != 0; }
    // These look at every request on its own, so a job runs its requests one at a time.
    bool NeedsOwnRequests() const { return MinSizeWanted() || Robots || !Cookies.Cookies().empty() || WaitMs > 0; }
};

// "WxH" as the minimum size option writes it (x or X, each side 0 to 100000).
bool ParseMinSize(const std::string& text, std::uint32_t& width, std::uint32_t& height);

// Reads a cookie file of at most 16 MiB; false with a reason otherwise.
bool LoadCookieFile(const std::string& path, TCookieJar& jar, std::string& error);
