// Feeds arbitrary bytes to the WebP decoder (over the system library): it
// must refuse with a reason or return a whole picture, never read outside the
// input, and never allocate by a size the file merely claims beyond the
// library's limits.
#include <cstddef>
#include <cstdint>

#include "raster/Decoders.h"
#include "raster/Rasterwerk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    raster::DibHandle dib;
    raster::DecodeWebp(data, size, dib);
    if (dib.Bits) {
        // Touch the last byte so a short allocation shows up under the sanitizer.
        const auto& h = dib.Info->bmiHeader;
        volatile uint8_t last = dib.Bits[static_cast<size_t>(dib.RowBytes) * static_cast<size_t>(h.biHeight) - 1];
        (void)last;
        if (h.biBitCount != 24 || !dib.ErrorText.empty())
            __builtin_trap();
        raster::deldib(dib);
    } else if (dib.ErrorText.empty()) {
        __builtin_trap();  // a refusal always says why
    }
    return 0;
}
