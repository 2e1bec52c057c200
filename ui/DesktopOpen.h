// The desktop's "open" action on a file: the program the desktop associates
// with the file's type opens it. Tests replace the action so that no program
// starts and they can see what was asked.
#pragma once

#include <functional>
#include <string>

class TForm;

// Hands `path` to the desktop; parent is the window asking (may be null).
// `noProgram` runs on this thread when the desktop has no program for the
// file or cannot start one: at once, or later, when the desktop's opener has
// given up (it looks for a program after it has started).
void DesktopOpen(const std::string& path, TForm* parent, std::function<void()> noProgram);

// Replaces the action (null puts the desktop's own back); returns the one
// before. The action answers false when there is no program for the file.
using TDesktopOpenAction = std::function<bool(const std::string& path)>;
TDesktopOpenAction SetDesktopOpenAction(TDesktopOpenAction action);
