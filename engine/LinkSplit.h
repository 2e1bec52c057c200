// Link resolution for the page scan and the download: turns a link found on a
// page (or the typed start address) into a directory part and a file part.
// Purely textual; plain C++ without Qt.
#pragma once

#include <string>
#include <string_view>

// Splits Link against PageDir (the directory of the page it was found on,
// ending in "/", or empty) into LinkDir (a directory address ending in "/", or
// empty when the link is relative to PageDir) and LinkFile (the rest, possibly
// empty). The caller forms the address as (LinkDir, or PageDir when LinkDir is
// empty) followed by LinkFile.
//
// Choices beyond the plain rules:
//  - "../" never climbs above the host: on http://h.d/ it stays http://h.d/.
//  - A root link ("/x") keeps only "scheme://host/" of PageDir; the host ends at
//    the first "/" after the "//" (so http://h/a/ gives http://h/).
//  - A network-path link ("//host/x") is absolute with PageDir's scheme
//    ("http:" when PageDir has none).
//    "//" followed by nothing or by another "/" names no host and is a
//    root link.
//  - With an empty PageDir, parent and root links resolve like relative links:
//    LinkDir stays empty and LinkFile is the link without its "../" or "/".
//
// Throws std::invalid_argument for an empty link (it cannot be split); both
// outputs are set on every other input. Runs in time linear in its inputs.
void SplitLink(std::string_view Link, std::string_view PageDir,
               std::string& LinkDir, std::string& LinkFile);

struct TLinkParts {
    std::string LinkDir;
    std::string LinkFile;
};
TLinkParts SplitLink(std::string_view Link, std::string_view PageDir);

// The text from the last dot to the end, dot included; empty when the text has
// no dot or when a backslash or colon comes after its last dot. Slash, "?" and
// "#" are ordinary characters: x.php?id=3 gives .php?id=3.
std::string FileExtension(std::string_view Text);
