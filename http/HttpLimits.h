// Private to the HTTP client's sources: buffer sizes they share.
#pragma once

#include <cstddef>

inline constexpr std::size_t kLineMax = 8192;
// Body data bypasses the line buffer: bigger reads mean fewer system calls per byte.
inline constexpr std::size_t kBodyBlock = 65536;
