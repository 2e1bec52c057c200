// Image-list files: one address per line, written with CR LF, read with any
// line ending; and the one-step file writing they and options.dat use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Largest image-list file read; larger ones are refused rather than cut.
constexpr std::size_t kMaxListFileBytes = 256u << 20;

// The file at path, at most its first limit bytes.
bool ReadWholeFile(const std::string& path, std::size_t limit, std::string& out);
// An image-list file whole: a regular file of at most kMaxListFileBytes.
bool ReadListFile(const std::string& path, std::string& out);

// Writes data to path through a temporary file in the same folder that is
// renamed into place, so path is complete (old or new) at every moment.
// False (and nothing changed) when any step fails.
bool WriteFileAtomically(const std::string& path, std::string_view data);

// Splits an image-list file into its lines: each ends at CR LF, LF or a lone
// CR; a last line without an ending counts; an ending at the very end adds no
// empty line.
std::vector<std::string> SplitListLines(std::string_view data);
// The same split, handing each line to `fn` without keeping them all: a file
// of mostly repeated lines costs no more memory than its distinct rows.
void ForEachListLine(std::string_view data, const std::function<void(std::string_view)>& fn);
// Every row followed by CR LF.
std::string JoinListLines(const std::vector<std::string>& rows);
