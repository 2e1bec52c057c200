// Private to the HTTP client's sources: buffer sizes they share.
#pragma once

#include <cstddef>

inline constexpr std::size_t kLineMax = 8192;
// Body data bypasses the line buffer and goes to the stream from here. A
// quarter MiB per read takes what a fast loopback sender queues in fewer
// calls than curl makes (64 KiB took half again as many).
inline constexpr std::size_t kBodyBlock = 256 * 1024;
