// The stylesheet reader of the scan's optional rules on arbitrary text: every
// address it gives is a piece of the text, and there are no more of them
// than the text has bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/ModernMarkup.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view css(reinterpret_cast<const char*>(data), size);
    const TStylesheetRefs refs = StylesheetRefs(css);
    if (refs.Imports.size() + refs.Urls.size() > size)
        __builtin_trap();
    for (const auto* list : {&refs.Imports, &refs.Urls})
        for (std::string_view ref : *list)
            if (ref.empty() || ref.data() < css.data() || ref.data() + ref.size() > css.data() + css.size())
                __builtin_trap();
    return 0;
}
