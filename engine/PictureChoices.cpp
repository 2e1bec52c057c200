// The optional picture choices as the user writes them.
#include "engine/PictureChoices.h"

// system
#include <charconv>
#include <fstream>
#include <string_view>

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
