// The picture header readers on arbitrary bytes: a size is never 0, and a
// longer input never turns a known size into "need more" or another size.
#include <cstddef>
#include <cstdint>

#include "engine/PictureSize.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const TPictureSize whole = PictureSize(data, size);
    if (whole.Status == TSizeStatus::Size && (whole.Width == 0 || whole.Height == 0))
        __builtin_trap();
    for (std::size_t n = 0; n < size && n < 64; ++n) {
        const TPictureSize part = PictureSize(data, n);
        if (part.Status == TSizeStatus::Size &&
            (whole.Status != TSizeStatus::Size || whole.Width != part.Width || whole.Height != part.Height))
            __builtin_trap();
    }
    return 0;
}
