// The encoding a page is written in, and its text in UTF-8, so that links
// written in Latin-1 or Windows-1252 name the same files as in UTF-8 pages.
// Plain C++ without Qt; the conversions are iconv's (glibc).
#pragma once

#include <string>
#include <string_view>

// The encoding of a page, lower case, by what says it first: the charset of
// the HTTP Content-Type value, a byte-order mark, a <meta charset> or <meta
// http-equiv="Content-Type"> within the first 1,024 bytes. When none says:
// "utf-8" when the bytes are valid UTF-8, else "windows-1252" (what browsers
// assume for the pages of German sites). Latin-1 and ASCII are read as
// Windows-1252, as browsers read them.
std::string PageEncoding(std::string_view contentType, std::string_view body);

// Converts body to UTF-8 into out when the page is written in another
// encoding; false (out untouched) when it is UTF-8 already or its encoding
// is one the system does not know. Bytes that do not belong to the encoding
// become U+FFFD.
bool PageTextToUtf8(std::string_view contentType, std::string_view body, std::string& out);
