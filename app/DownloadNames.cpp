#include "app/DownloadNames.h"

// system
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// ours
#include "app/LinkSplit.h"

namespace dlnames {

std::string UrlFileName(const std::string& address)
{
    const auto slash = address.rfind('/');
    if (slash == std::string::npos)
        return address;
    return address.substr(slash + 1);
}

std::string TargetDirOf(const std::string& folderText)
{
    std::string dir = folderText;
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir;
}

bool IsUsableFileName(const std::string& name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

bool RegularFileExists(const std::string& path)
{
    if (path.find('\0') != std::string::npos)
        return false;
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string NumberedName(const std::string& name, std::uint64_t n)
{
    const std::string ext = FileExtension(name);
    const std::string base = name.substr(0, name.size() - ext.size());
    return base + std::to_string(n) + ext;
}

std::string FirstFreeNumberedName(const std::string& dir, const std::string& name)
{
    // Unbounded by design: a folder holds finitely many files, so a free
    // number always comes.
    for (std::uint64_t n = 0;; ++n) {
        std::string candidate = NumberedName(name, n);
        if (!RegularFileExists(dir + candidate))
            return candidate;
    }
}

int CreateExclusive(const std::string& dir, const std::string& name)
{
    if (!IsUsableFileName(name) || dir.find('\0') != std::string::npos)
        return -1;
    const std::string path = dir + name;
    int fd;
    do {
        // O_EXCL also refuses a symbolic link of that name, dangling or not.
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool TDownloadFileStream::Write(const void* data, std::size_t len)
{
    if (fFd < 0 || fFailed)
        return false;
    const char* p = static_cast<const char*>(data);
    while (len > 0) {
        const ssize_t n = ::write(fFd, p, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            fFailed = true;
            return false;
        }
        p += n;
        len -= static_cast<std::size_t>(n);
        fSize += n;
    }
    return true;
}

bool TDownloadFileStream::Close()
{
    if (fFd >= 0) {
        // After close() the descriptor is gone even when it reports an error.
        if (::close(fFd) != 0 && errno != EINTR)
            fFailed = true;
        fFd = -1;
    }
    return !fFailed;
}

std::string DeleteFailedLine(const std::string& saveName)
{
    return "Fehler: Konnte unvollständige Datei " + saveName + " nicht löschen...";
}

}  // namespace dlnames
