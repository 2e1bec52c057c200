// Moving a file to the desktop's trash (the freedesktop trash), where the
// user can still get it back. A file is never deleted outright.
//
// A file on the file system of the user's data folder goes to the home trash
// ($XDG_DATA_HOME/Trash, made with mode 0700 when missing); a file elsewhere
// goes to $topdir/.Trash-$uid on its own file system, when that is the user's
// own private folder or can be made so. Nothing else is ever created.
#pragma once

#include <functional>
#include <string>

// True when the file now lies in the trash.
bool MoveToTrash(const std::string& path);

// The trash folder a file would go to ("" when none can be used); made when
// missing. dataHome: the user's data folder ($XDG_DATA_HOME or ~/.local/share).
std::string TrashFolderFor(const std::string& path, const std::string& dataHome);
// The user's data folder as the environment names it.
std::string UserDataHome();

// Tests replace the trash; an empty function puts the real one back.
using TTrashFunction = std::function<bool(const std::string& path)>;
void SetTrashFunction(TTrashFunction f);
