// A window that comes back where the user left it: its place and size are
// kept in the user's settings.
#pragma once

#include <string>

class TForm;

// Restores the place and size stored under group (when there are any, the
// window is no longer centred), and stores them every time the window goes
// away. Call once, after the form is built.
void KeepFormPlacement(TForm& form, const std::string& group);
