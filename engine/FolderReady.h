// The target folder of a download, made ready before the first file: made
// with its parents when missing, and found writable.
#pragma once

#include <string>

// Empty when dir exists (or was made) and files can be made in it; otherwise
// the reason in German, for the message box that names the folder.
std::string MakeFolderReady(const std::string& dir);
