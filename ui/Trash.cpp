#include "ui/Trash.h"

// system
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

TTrashFunction& Override()
{
    static TTrashFunction f;
    return f;
}

std::string Parent(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Absolute(const std::string& path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    char buffer[4096];
    if (!::getcwd(buffer, sizeof buffer))
        return path;
    return std::string(buffer) + "/" + path;
}

// The device of a path, or of its nearest existing parent (the data folder may not exist yet).
bool DeviceOf(std::string path, dev_t& dev)
{
    for (int depth = 0; depth < 256; ++depth) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            dev = st.st_dev;
            return true;
        }
        if (path == "/" || path.empty())
            return false;
        path = Parent(path);
    }
    return false;
}

// A folder of the user's own (that no one else may enter, when `strict`), made when missing.
bool OwnFolder(const std::string& path, bool strict)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT || ::mkdir(path.c_str(), 0700) != 0)
            return false;
        if (::lstat(path.c_str(), &st) != 0)
            return false;
    }
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (!strict || (st.st_mode & 077) == 0);
}

// Makes the folders of path that are missing, mode 0700; true when it is a folder.
bool MakeFolders(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    if (path == "/" || path.empty())
        return false;
    if (!MakeFolders(Parent(path)))
        return false;
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

bool HasSubfolders(const std::string& trash)
{
    for (const char* sub : {"/files", "/info"}) {
        const std::string p = trash + sub;
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 && (errno != ENOENT || ::mkdir(p.c_str(), 0700) != 0))
            return false;
        if (::lstat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return false;
    }
    return true;
}

// The top folder of the file system path lies on: the last parent on the same device.
std::string TopDir(const std::string& path, dev_t dev)
{
    std::string top = Parent(path);
    while (top != "/") {
        const std::string up = Parent(top);
        struct stat st {};
        if (::stat(up.c_str(), &st) != 0 || st.st_dev != dev)
            break;
        top = up;
    }
    return top;
}

std::string Escaped(const std::string& path)
{
    static const char* kHex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
                           c == '-' || c == '_' || c == '.' || c == '~';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool RealMoveToTrash(const std::string& given)
{
    const std::string path = Absolute(given);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return false;
    const std::string trash = TrashFolderFor(path, UserDataHome());
    if (trash.empty())
        return false;
    // Paths in a trash on another file system are written relative to its
    // top folder, so the trash still works when that disk is mounted elsewhere.
    std::string recorded = path;
    const std::string top = Parent(trash);
    if (trash.rfind("/.Trash-") != std::string::npos && path.compare(0, top.size() + 1, top + "/") == 0)
        recorded = top == "/" ? path.substr(1) : path.substr(top.size() + 1);

    const std::string base = path.substr(path.find_last_of('/') + 1);
    const auto dot = base.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
    const std::string ext = dot == std::string::npos || dot == 0 ? "" : base.substr(dot);
    char date[32];
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    ::localtime_r(&now, &local);
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    const std::string info = "[Trash Info]\nPath=" + Escaped(recorded) + "\nDeletionDate=" + date + "\n";
    for (int n = 1; n <= 10000; ++n) {
        const std::string name = n == 1 ? base : stem + "." + std::to_string(n) + ext;
        const std::string infoPath = trash + "/info/" + name + ".trashinfo";
        const std::string target = trash + "/files/" + name;
        // The info file, made exclusively, reserves the name.
        const int fd = ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        const bool written = WriteAll(fd, info);
        const bool closed = ::close(fd) == 0;
        struct stat taken {};
        if (!written || !closed || ::lstat(target.c_str(), &taken) == 0) {
            ::unlink(infoPath.c_str());
            if (!written || !closed)
                return false;
            continue;
        }
        if (::rename(path.c_str(), target.c_str()) != 0) {
            ::unlink(infoPath.c_str());
            return false;
        }
        return true;
    }
    return false;
}

}  // namespace

std::string UserDataHome()
{
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/')
        return {};
    return std::string(home) + "/.local/share";
}

std::string TrashFolderFor(const std::string& path, const std::string& dataHome)
{
    struct stat file {};
    if (::lstat(path.c_str(), &file) != 0)
        return {};
    dev_t homeDev = 0;
    if (!dataHome.empty() && DeviceOf(dataHome, homeDev) && homeDev == file.st_dev) {
        const std::string trash = dataHome + "/Trash";
        if (MakeFolders(dataHome) && OwnFolder(trash, false) && HasSubfolders(trash))
            return trash;
        return {};
    }
    const std::string top = TopDir(Absolute(path), file.st_dev);
    const std::string trash = (top == "/" ? "" : top) + "/.Trash-" + std::to_string(::getuid());
    // On a shared disk only a folder no one else can enter or replace will do.
    if (OwnFolder(trash, true) && HasSubfolders(trash))
        return trash;
    return {};
}

bool MoveToTrash(const std::string& path)
{
    if (Override())
        return Override()(path);
    return RealMoveToTrash(path);
}

void SetTrashFunction(TTrashFunction f)
{
    Override() = std::move(f);
}
