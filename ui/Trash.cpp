#include "ui/Trash.h"

// system
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string_view>

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

// The path with the links and dots of its folder resolved; the last part
// stays as it is, since a link is trashed as a link. "" when the folder
// cannot be resolved.
std::string Resolved(const std::string& path)
{
    const std::string absolute = Absolute(path);
    const std::string base = absolute.substr(absolute.find_last_of('/') + 1);
    const bool whole = base.empty() || base == "." || base == "..";
    char* real = ::realpath(whole ? absolute.c_str() : Parent(absolute).c_str(), nullptr);
    if (!real)
        return {};
    std::string folder(real);
    std::free(real);
    if (whole)
        return folder;
    return folder == "/" ? "/" + base : folder + "/" + base;
}

// The nearest existing folder of path, resolved (the data folder may not exist yet).
std::string ResolvedExisting(std::string path)
{
    path = Absolute(path);
    for (int depth = 0; depth < 256; ++depth) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            std::string r(real);
            std::free(real);
            return r;
        }
        if (path == "/" || path.empty())
            return {};
        path = Parent(path);
    }
    return {};
}

std::string ReadMountInfo()
{
    // Even a container host with thousands of mounts writes far less.
    constexpr size_t kMaxBytes = 16u << 20;
    std::ifstream f("/proc/self/mountinfo", std::ios::binary);
    std::string text;
    char buffer[65536];
    while (f && text.size() < kMaxBytes) {
        f.read(buffer, sizeof buffer);
        text.append(buffer, static_cast<size_t>(f.gcount()));
    }
    return text;
}

// The kernel writes blank, tab, line feed and backslash in a mount point as
// three octal digits after a backslash (\040 for a blank).
std::string Unescaped(std::string_view field)
{
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' &&
            field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

// Without a mount table: the last parent on the same device.
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
    const std::string resolved = Resolved(path);
    if (trash.rfind("/.Trash-") != std::string::npos && resolved.compare(0, top.size() + 1, top + "/") == 0)
        recorded = top == "/" ? resolved.substr(1) : resolved.substr(top.size() + 1);

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

std::string MountPointOf(const std::string& resolvedPath, const std::string& mountInfo)
{
    std::string best;
    bool found = false;
    size_t at = 0;
    while (at < mountInfo.size()) {
        size_t end = mountInfo.find('\n', at);
        if (end == std::string::npos)
            end = mountInfo.size();
        const std::string_view line(mountInfo.data() + at, end - at);
        at = end + 1;
        // ID, parent ID, device, root, mount point, ...
        size_t from = 0;
        std::string_view field;
        for (int i = 0; i < 5 && from <= line.size(); ++i) {
            size_t blank = line.find(' ', from);
            if (blank == std::string_view::npos)
                blank = line.size();
            field = i == 4 ? line.substr(from, blank - from) : std::string_view();
            from = blank + 1;
        }
        if (field.empty() || field[0] != '/')
            continue;
        const std::string point = Unescaped(field);
        const bool contains = point == "/" || resolvedPath == point ||
                              (resolvedPath.size() > point.size() && resolvedPath.compare(0, point.size(), point) == 0 &&
                               resolvedPath[point.size()] == '/');
        // On a tie the later line wins: it was mounted over the earlier one.
        if (contains && (!found || point.size() >= best.size())) {
            best = point;
            found = true;
        }
    }
    return best;
}

std::string TrashFolderFor(const std::string& path, const std::string& dataHome, const std::string& mountInfo)
{
    struct stat file {};
    if (::lstat(path.c_str(), &file) != 0)
        return {};
    // Where the file really lies: a folder reached through a link belongs to
    // the mount the link points into, not to the one the link lies on.
    const std::string resolved = Resolved(path);
    if (resolved.empty())
        return {};
    const std::string table = mountInfo.empty() ? ReadMountInfo() : mountInfo;
    const std::string mount = MountPointOf(resolved, table);
    bool onHomeMount = false;
    if (!dataHome.empty()) {
        if (!mount.empty()) {
            const std::string home = ResolvedExisting(dataHome);
            onHomeMount = !home.empty() && MountPointOf(home, table) == mount;
        } else {
            dev_t homeDev = 0;
            onHomeMount = DeviceOf(dataHome, homeDev) && homeDev == file.st_dev;
        }
    }
    if (onHomeMount) {
        const std::string trash = dataHome + "/Trash";
        if (MakeFolders(dataHome) && OwnFolder(trash, false) && HasSubfolders(trash))
            return trash;
        return {};
    }
    const std::string top = mount.empty() ? TopDir(resolved, file.st_dev) : mount;
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
