// options.dat and image-list files: decoding never reads outside the input,
// and whatever decodes whole encodes back to the same fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/MainFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const TDecodedOptions d = DecodeOptions(in);
    if (d.AutoMode && d.Address && d.Proxy && d.TargetDir && d.FileTypes) {
        TOptionsRecord o{*d.AutoMode, *d.Address, *d.Proxy, *d.TargetDir, *d.FileTypes};
        const auto bytes = EncodeOptions(o);
        if (!bytes)
            std::abort();   // every decoded text fits the layout again
        const TDecodedOptions again = DecodeOptions(*bytes);
        if (!again.FileTypes || *again.FileTypes != *d.FileTypes || *again.Address != *d.Address ||
            *again.Proxy != *d.Proxy || *again.TargetDir != *d.TargetDir || *again.AutoMode != *d.AutoMode)
            std::abort();
    }
    const auto lines = SplitListLines(in);
    std::size_t total = 0;
    for (const auto& l : lines)
        total += l.size() + 1;
    if (total > size + lines.size())
        std::abort();
    return 0;
}
