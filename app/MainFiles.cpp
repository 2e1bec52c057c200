// The file formats of the main window, free of Qt so that they are fuzzed
// and tested on their own.
#include "app/MainFiles.h"

// system
#include <cerrno>
#include <cstdio>
#include <functional>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>

// ours
#include "app/Win1252.h"

namespace {

bool AppendText(std::string& out, const std::string& utf8)
{
    auto bytes = Utf8ToWin1252(utf8);
    if (!bytes || bytes->size() > 255)
        return false;
    out.push_back(static_cast<char>(static_cast<unsigned char>(bytes->size())));
    out += *bytes;
    return true;
}

class Reader {
public:
    explicit Reader(std::string_view d) : data_(d) {}
    std::optional<std::uint8_t> Byte()
    {
        if (pos_ >= data_.size())
            return std::nullopt;
        return static_cast<std::uint8_t>(data_[pos_++]);
    }
    std::optional<std::string> Text()
    {
        const auto len = Byte();
        if (!len || data_.size() - pos_ < *len)
            return std::nullopt;
        std::string s = Win1252ToUtf8(data_.substr(pos_, *len));
        pos_ += *len;
        return s;
    }
    std::optional<std::int32_t> Int32()
    {
        if (data_.size() - pos_ < 4)
            return std::nullopt;
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(data_[pos_ + static_cast<std::size_t>(i)])) << (8 * i);
        pos_ += 4;
        return static_cast<std::int32_t>(v);
    }

private:
    std::string_view data_;
    std::size_t pos_ = 0;
};

} // namespace

// ---------------------------------------------------------------------------
// The file formats

bool FitsOptionsText(const std::string& utf8)
{
    auto bytes = Utf8ToWin1252(utf8);
    return bytes && bytes->size() <= 255;
}

std::optional<std::string> EncodeOptions(const TOptionsRecord& o)
{
    std::string out;
    out.push_back(o.AutoMode ? 1 : 0);
    if (!AppendText(out, o.Address) || !AppendText(out, o.Proxy) || !AppendText(out, o.TargetDir))
        return std::nullopt;
    if (o.FileTypes.size() > 0x7FFFFFFFu)
        return std::nullopt;
    const auto n = static_cast<std::uint32_t>(o.FileTypes.size());
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
    for (const auto& t : o.FileTypes) {
        if (!AppendText(out, t))
            return std::nullopt;
    }
    return out;
}

TDecodedOptions DecodeOptions(std::string_view data)
{
    TDecodedOptions d;
    Reader r(data);
    const auto mode = r.Byte();
    if (!mode)
        return d;
    d.AutoMode = *mode != 0;
    if (!(d.Address = r.Text()) || !(d.Proxy = r.Text()) || !(d.TargetDir = r.Text()))
        return d;
    const auto n = r.Int32();
    if (!n || *n < 0)
        return d;
    std::vector<std::string> types;
    for (std::int32_t i = 0; i < *n; ++i) {
        auto t = r.Text();
        if (!t)
            break;
        types.push_back(std::move(*t));
    }
    d.FileTypes = std::move(types);
    return d;
}
