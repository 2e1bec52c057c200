// The program's icon, rendered from its SVG at build time and kept inside the
// program, so a window shows it also when run from the build folder.
#pragma once

#include <QIcon>

// Every rendered size (16 to 256 pixels); never null in a complete build.
QIcon ProgramIcon();
