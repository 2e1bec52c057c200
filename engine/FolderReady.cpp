#include "engine/FolderReady.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string ErrnoReason(int err)
{
    switch (err) {
    case EACCES:
    case EPERM: return "keine Berechtigung";
    case ENOTDIR: return "ein Teil des Pfades ist kein Verzeichnis";
    case EEXIST: return "eine Datei dieses Namens ist schon da";
    case EROFS: return "das Dateisystem ist schreibgeschützt";
    case ENOSPC: return "kein Platz auf dem Datenträger";
    case ENAMETOOLONG: return "der Name ist zu lang";
    case ENOENT: return "der Pfad ist nicht vorhanden";
    case ELOOP: return "zu viele symbolische Verweise";
    default: return std::strerror(err);
    }
}

}  // namespace

std::string MakeFolderReady(const std::string& dir)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec)
        return ErrnoReason(ec.value());
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0)
        return ErrnoReason(errno);
    if (!S_ISDIR(st.st_mode))
        return ErrnoReason(ENOTDIR);
    // Every file of the run is made here: a folder that refuses them would
    // otherwise fail once per address.
    if (::access(dir.c_str(), W_OK | X_OK) != 0)
        return ErrnoReason(errno);
    return std::string();
}
