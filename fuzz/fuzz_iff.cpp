// Feeds arbitrary bytes to our IFF decoder: it must refuse or decode without
// reading outside the input, and a picture it returns must be whole.
#include <cstddef>
#include <cstdint>

#include "raster/Decoders.h"
#include "raster/Rasterwerk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    raster::DibHandle dib;
    raster::DecodeIff(data, size, dib);
    if (dib.Bits) {
        // Touch the last byte so a short allocation shows up under the sanitizer.
        const auto& h = dib.Info->bmiHeader;
        volatile uint8_t last = dib.Bits[static_cast<size_t>(dib.RowBytes) * static_cast<size_t>(h.biHeight) - 1];
        (void)last;
        raster::deldib(dib);
    } else if (dib.ErrorText.empty()) {
        __builtin_trap();  // a refusal always says why
    }
    return 0;
}
