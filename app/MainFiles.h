// File formats of the main window: "options.dat" and the image-list files.
//
// options.dat: the automatic-mode byte, address, proxy and target
// folder as texts (length byte + up to 255 Windows-1252 bytes), the type count
// as signed 32-bit little-endian, then that many texts. No header, no padding.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Settings in the program's own encoding (UTF-8).
struct TOptionsRecord {
    bool AutoMode = false;
    std::string Address;
    std::string Proxy;
    std::string TargetDir;
    std::vector<std::string> FileTypes;
};

// The file's bytes, or none when a text cannot be held by the layout: longer
// than 255 bytes in Windows-1252, or holding a character Windows-1252 lacks.
// Such a setting is not written at all rather than cut or altered, so it can
// never come back as a different value.
std::optional<std::string> EncodeOptions(const TOptionsRecord& options);
// Whether one text fits the layout (at most 255 bytes in Windows-1252).
bool FitsOptionsText(const std::string& utf8);

// What a file held, field by field. A field is present only when its bytes
// were all there; a file that ends early (or a negative type count) leaves
// the later fields absent.
struct TDecodedOptions {
    std::optional<bool> AutoMode;
    std::optional<std::string> Address;
    std::optional<std::string> Proxy;
    std::optional<std::string> TargetDir;
    // Present when the count was read and is not negative; holds the texts that
    // were complete, which is fewer than the count when the file is cut short.
    std::optional<std::vector<std::string>> FileTypes;
};

// Never reads outside data and allocates nothing by the count: each text
// consumes at least its length byte, so the work is bounded by data's size.
TDecodedOptions DecodeOptions(std::string_view data);

// Largest options file read at start; the rest of a larger file is ignored.
constexpr std::size_t kMaxOptionsFileBytes = 32u << 20;

#include "engine/ListFile.h"
