// Cookies from a Netscape cookies.txt file (the format wget, curl and the
// export add-ons of browsers write) and the Cookie header they give for an
// address. Only what the file says is sent: a cookie goes to its own host,
// to the subdomains only when its include-subdomains flag is TRUE, to paths
// below its path, over https only when marked secure, and not once expired.
// Plain C++ without Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TCookie {
    std::string Domain;     // lower case, without a leading dot
    bool Subdomains = false;
    std::string Path;       // begins with "/"
    bool Secure = false;
    std::int64_t Expires = 0;  // seconds since 1970; 0 for a session cookie
    std::string Name;
    std::string Value;
};

// Scheme, host and the path of an address, as the cookie and robots rules
// need them: host in lower case without port or user part, path beginning
// with "/" and holding the query, no fragment.
struct TAddressParts {
    std::string Scheme;  // lower case
    std::string Host;
    std::string Port;    // as written; empty when the address gives none
    std::string PathAndQuery;
    bool Valid = false;
};
TAddressParts SplitAddressParts(std::string_view address);

class TCookieJar {
public:
    // The cookies of the file's text; lines that are no cookie (comments,
    // blank lines, lines with too few fields, a bad expiry, control bytes
    // or ";" in a name or value) are counted in Skipped.
    static TCookieJar Parse(std::string_view text);

    // The value for a Cookie header to address at the time now (seconds since
    // 1970): "name=value; ..." with longer paths first, otherwise in file
    // order; empty when no cookie applies.
    std::string HeaderFor(std::string_view address, std::int64_t now) const;

    const std::vector<TCookie>& Cookies() const { return cookies_; }
    std::size_t Skipped() const { return skipped_; }

    // Bounds on what a file may make us hold and send.
    static constexpr std::size_t kMaxCookies = 10000;
    static constexpr std::size_t kMaxHeaderBytes = 16 * 1024;

private:
    std::vector<TCookie> cookies_;
    std::size_t skipped_ = 0;
};
