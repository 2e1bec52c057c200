// The desktop's "open" action on a file: the program the desktop associates
// with the file's type opens it. Tests replace the action so that no program
// starts and they can see what was asked.
#pragma once

#include <functional>
#include <string>

class TForm;

// Hands `path` to the desktop; parent is the window asking (may be null).
// False when the desktop could not open it (for example no program is
// associated with the type); the desktop reports that itself, if at all.
bool DesktopOpen(const std::string& path, TForm* parent);

// Replaces the action (null puts the desktop's own back); returns the one before.
using TDesktopOpenAction = std::function<bool(const std::string& path)>;
TDesktopOpenAction SetDesktopOpenAction(TDesktopOpenAction action);
