// Cutting a received page into lines for the tokenizer. Plain C++ without Qt.
#pragma once

#include <string_view>

#include "html/LineList.h"

// Appends the lines of Data (the bytes of a memory stream, e.g.
// TMemoryStream::Data()) to Lines. A line ends at CR, LF or CR LF (one break),
// or at the end of the data; its text ends before its first NUL byte. An empty
// line between two breaks gives an empty line; data that ends with a break
// gives no empty line after it, and empty data gives no lines.
//
// The line texts are copied into the list's own buffer (one growth for the
// whole page, none per line), so Data need not outlive the call. Linear time.
void StreamToLines(TLineList& Lines, std::string_view Data);
