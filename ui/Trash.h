// Moving a file to the desktop's trash (the freedesktop trash), where the
// user can still get it back. A file is never deleted outright.
//
// A file on the mount of the user's data folder goes to the home trash
// ($XDG_DATA_HOME/Trash, made with mode 0700 when missing); a file elsewhere
// goes to $topdir/.Trash-$uid, $topdir being the mount point of the file
// system it really lies on (links resolved), when that is the user's own
// private folder or can be made so. Nothing else is ever created.
#pragma once

#include <functional>
#include <string>

// True when the file now lies in the trash.
bool MoveToTrash(const std::string& path);

// The trash folder a file would go to ("" when none can be used); made when
// missing. dataHome: the user's data folder ($XDG_DATA_HOME or ~/.local/share).
// mountInfo: the mount table in the form of /proc/self/mountinfo; empty reads
// the process's own.
std::string TrashFolderFor(const std::string& path, const std::string& dataHome, const std::string& mountInfo = {});
// The mount point under which an absolute path without links lies: the
// longest mount point of mountInfo that contains it ("" when none does).
std::string MountPointOf(const std::string& resolvedPath, const std::string& mountInfo);
// The user's data folder as the environment names it.
std::string UserDataHome();

// Tests replace the trash; an empty function puts the real one back.
using TTrashFunction = std::function<bool(const std::string& path)>;
void SetTrashFunction(TTrashFunction f);
