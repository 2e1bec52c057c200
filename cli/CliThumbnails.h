// weblumifang-cli --thumbnails DIR: one pass of the image browser over a folder.
#pragma once

#include <string>

// Runs the browser's thumbnail pass on dir without a window (no Qt, no
// display), writes the memo lines to standard output and the folder's cache
// file. 0 when the pass ran, 1 when dir is not a readable folder (a message
// on standard error).
int RunThumbnailPass(const std::string& dir);
