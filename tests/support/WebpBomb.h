// A lossless WebP file of any size in a few dozen bytes: one colour, every
// prefix code with a single symbol, so each pixel takes no bits at all. Such
// a "decompression bomb" is what a hostile page may serve as a picture.
#pragma once

#include <cstdint>
#include <vector>

namespace wltest {

inline std::vector<uint8_t> UniformLosslessWebp(uint32_t width, uint32_t height, uint8_t red, uint8_t green,
                                                uint8_t blue)
{
    std::vector<uint8_t> bits;
    uint64_t acc = 0;
    int used = 0;
    auto put = [&](uint32_t value, int count) {  // least significant bit first
        acc |= static_cast<uint64_t>(value) << used;
        used += count;
        while (used >= 8) {
            bits.push_back(static_cast<uint8_t>(acc));
            acc >>= 8;
            used -= 8;
        }
    };
    put(0x2F, 8);            // signature
    put(width - 1, 14);
    put(height - 1, 14);
    put(0, 1);               // no alpha
    put(0, 3);               // version
    put(0, 1);               // no transform
    put(0, 1);               // no colour cache
    put(0, 1);               // one prefix-code group
    // Green, red, blue, alpha, distance: one symbol each, given in 8 bits.
    for (uint32_t symbol : {uint32_t{green}, uint32_t{red}, uint32_t{blue}, 255u, 0u}) {
        put(1, 1);           // simple code
        put(0, 1);           // one symbol
        put(1, 1);           // of 8 bits
        put(symbol, 8);
    }
    if (used > 0)
        put(0, 8 - used);
    if (bits.size() % 2)
        bits.push_back(0);
    std::vector<uint8_t> file = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', 'L'};
    auto le32 = [&](uint32_t v, size_t at) {
        for (int k = 0; k < 4; ++k)
            file[at + static_cast<size_t>(k)] = static_cast<uint8_t>(v >> (8 * k));
    };
    file.resize(20);
    le32(static_cast<uint32_t>(bits.size()), 16);
    file.insert(file.end(), bits.begin(), bits.end());
    le32(static_cast<uint32_t>(file.size() - 8), 4);
    return file;
}

}  // namespace wltest
