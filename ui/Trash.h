// Moving a file to the desktop's trash (the freedesktop trash folder), where
// the user can still get it back. A file is never deleted outright.
#pragma once

#include <functional>
#include <string>

// True when the file now lies in the trash.
bool MoveToTrash(const std::string& path);

// Tests replace the trash; an empty function puts the real one back.
using TTrashFunction = std::function<bool(const std::string& path)>;
void SetTrashFunction(TTrashFunction f);
