// The cookies.txt parser and robots.txt rules on arbitrary text; after the
// first line feed, an address to ask both about. A Cookie header never holds
// a line break and stays within its bound.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/CookieFile.h"
#include "engine/PoliteFetch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t nl = input.find('\n');
    const std::string_view address = nl == std::string_view::npos ? "http://example.org/a/b.jpg" : input.substr(0, nl);
    const std::string_view text = nl == std::string_view::npos ? input : input.substr(nl + 1);

    const TCookieJar jar = TCookieJar::Parse(text);
    const std::string header = jar.HeaderFor(address, 1800000000);
    if (header.size() > TCookieJar::kMaxHeaderBytes || header.find_first_of("\r\n") != std::string::npos)
        __builtin_trap();

    const TRobotsRules rules = TRobotsRules::Parse(text, "Mozilla");
    (void)rules.Allows(SplitAddressParts(address).PathAndQuery);
    (void)RetryAfterSeconds(address, 1800000000);
    (void)ParseRate(address);
    (void)ParseWaitMs(address);
    return 0;
}
