// Where the program's files live on this platform.
#pragma once

#include <string>

// Folder of the running executable (from /proc/self/exe), ending in "/".
std::string ExecutableDir();
// The user's configuration folder for the program ($XDG_CONFIG_HOME or
// ~/.config, then "Quenbrik/"), ending in "/"; not created here.
std::string UserConfigDir();
// Whether files can be created and renamed in dir.
bool DirWritable(const std::string& dir);
// Appends "/" unless s already ends in one.
std::string IncludeTrailingDelimiter(const std::string& s);

// Whether the program runs from an installation: its desktop entry lies in
// share/applications beside the program's folder (/usr/bin, /usr/local/bin,
// a DESTDIR). Such a folder belongs to the system, not to one user's settings,
// even when it is writable (to root).
bool ProgramIsInstalled(const std::string& programDir);

// The folder whose options.dat is read at start: the program's folder when
// the program is not installed and its folder is writable or already holds
// one and the configuration folder has none, else the configuration folder.
std::string OptionsFolderForReading(const std::string& programDir);
// The folder options.dat is written to: the program's folder when the program
// is not installed and its folder is writable, else the configuration folder
// (created on demand). Empty when neither works.
std::string OptionsFolderForWriting(const std::string& programDir);

// A yes/no setting of the user's: in the program's settings (organisation
// "Quenbrik", application "Web Lumifang") when iniPath is empty, else in that
// INI file. Reading gives fallback when the key is missing.
bool ReadUserFlag(const std::string& iniPath, const std::string& key, bool fallback);
void WriteUserFlag(const std::string& iniPath, const std::string& key, bool value);
