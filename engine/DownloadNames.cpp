#include "engine/DownloadNames.h"

// system
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// ours
#include "engine/LinkSplit.h"
#include "engine/PageAddress.h"

namespace dlnames {

std::string UrlFileName(const std::string& address)
{
    const auto slash = address.rfind('/');
    if (slash == std::string::npos)
        return address;
    return address.substr(slash + 1);
}

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Where a cut at most at limit leaves a whole UTF-8 text (raw bytes that
// are no UTF-8 are cut anywhere).
std::size_t CharBoundary(const std::string& s, std::size_t limit)
{
    std::size_t end = std::min(limit, s.size());
    while (end > 0 && end < s.size() && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80 &&
           limit - end < 3)
        --end;
    return end;
}

}  // namespace

std::string SaveFileName(const std::string& address)
{
    const std::string name = UrlFileName(address);
    std::string decoded;
    decoded.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        const int hi = name[i] == '%' && i + 2 < name.size() ? HexDigit(name[i + 1]) : -1;
        const int lo = hi < 0 ? -1 : HexDigit(name[i + 2]);
        const int c = hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
        // A "/" or NUL would leave the folder or cut the name; control
        // characters have no place in a file name a person reads.
        if (c < 0x20 || c == '/' || c == 0x7F) {
            decoded.push_back(name[i]);
            continue;
        }
        // U+0080 to U+009F, the second set of control characters, stay escaped too.
        if (c == 0xC2 && i + 5 < name.size() && name[i + 3] == '%' && HexDigit(name[i + 4]) >= 8 &&
            HexDigit(name[i + 4]) <= 9 && HexDigit(name[i + 5]) >= 0) {
            decoded.append(name, i, 6);
            i += 5;
            continue;
        }
        decoded.push_back(static_cast<char>(c));
        i += 2;
    }
    if (decoded == "." || decoded == ".." || !IsValidUtf8(decoded))
        return name;
    // A name written plainly keeps failing the create when it is too long,
    // as it always did; one that was escaped is shortened instead.
    return decoded != name && decoded.size() > kMaxFileNameBytes ? ShortenedName(decoded) : decoded;
}

std::string ShortenedName(const std::string& name, std::size_t maxBytes)
{
    if (name.size() <= maxBytes)
        return name;
    const std::string ext = FileExtension(name);
    // An extension that leaves no room for a base is no extension to keep.
    if (ext.size() * 2 > maxBytes)
        return name.substr(0, CharBoundary(name, maxBytes));
    const std::string base = name.substr(0, name.size() - ext.size());
    return base.substr(0, CharBoundary(base, maxBytes - ext.size())) + ext;
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
    std::string numbered = base + std::to_string(n) + ext;
    if (numbered.size() > kMaxFileNameBytes && name.size() <= kMaxFileNameBytes) {
        const std::string digits = std::to_string(n);
        const std::size_t room = kMaxFileNameBytes - std::min(kMaxFileNameBytes, ext.size() + digits.size());
        numbered = base.substr(0, CharBoundary(base, room)) + digits + ext;
    }
    return numbered;
}

std::string FirstFreeNumberedName(const std::string& dir, const std::string& name)
{
    // Deliberately unbounded: a folder holds finitely many files, so a free
    // number always comes.
    for (std::uint64_t n = 0;; ++n) {
        std::string candidate = NumberedName(name, n);
        if (!RegularFileExists(dir + candidate))
            return candidate;
    }
}

namespace {

// A new, empty file at (dirFd, path) opened for writing, or -1 when anything
// of that name exists. O_EXCL also refuses a symbolic link, dangling or not.
int OpenExclusiveAt(int dirFd, const char* path)
{
    int fd;
    do {
        fd = ::openat(dirFd, path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

int CreateExclusive(const std::string& dir, const std::string& name)
{
    if (!IsUsableFileName(name) || dir.find('\0') != std::string::npos)
        return -1;
    return OpenExclusiveAt(AT_FDCWD, (dir + name).c_str());
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

namespace {

bool ProcFdAvailable()
{
    static const bool available = ::access("/proc/self/fd", X_OK) == 0;
    return available;
}

}  // namespace

TTargetFolder::~TTargetFolder()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool TTargetFolder::StillAt(const std::string& dir) const
{
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && static_cast<std::uint64_t>(st.st_dev) == dev_ &&
           static_cast<std::uint64_t>(st.st_ino) == ino_;
}

void TTargetFolder::Use(const std::string& dir)
{
    // A folder that could not be opened is tried again: it may exist by now.
    // One that was moved away or replaced is let go: the files belong where
    // the path leads now.
    if (held_ && dir == dir_ && fd_ >= 0 && StillAt(dir))
        return;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    dir_ = dir;
    held_ = true;
    ++generation_;
    if (dir.find('\0') != std::string::npos)
        return;
    do {
        fd_ = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd_ < 0 && errno == EINTR);
    struct stat st {};
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0) {
        dev_ = static_cast<std::uint64_t>(st.st_dev);
        ino_ = static_cast<std::uint64_t>(st.st_ino);
    }
}

bool TTargetFolder::RegularFileExists(const std::string& name, bool* free) const
{
    if (free)
        *free = false;
    if (fd_ < 0 || name.find('\0') != std::string::npos)
        return false;
    struct stat st {};
    // The link itself first: the usual answer, no such name, takes one call.
    if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (free)
            *free = errno == ENOENT;
        return false;
    }
    if (S_ISLNK(st.st_mode) && ::fstatat(fd_, name.c_str(), &st, 0) != 0)
        return false;  // a dangling link
    return !S_ISDIR(st.st_mode);
}

TPendingFile::~TPendingFile()
{
    // Left without Publish or Discard (an exception on the way out): a file
    // named from the start is incomplete and ours, so it goes too.
    Discard();
}

void TPendingFile::CloseFd()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

namespace {

// The name must be free now, as for an exclusive create: a folder or a link
// of that name, or a name too long, fails here and not only when the whole
// file is to be named.
bool NameFreeAt(int dirFd, const std::string& name)
{
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    return errno == ENOENT;
}

}  // namespace

bool TPendingFile::Open(const TTargetFolder& folder, const std::string& name, bool seenFree)
{
    if (fd_ >= 0 || folder.Fd() < 0 || !IsUsableFileName(name))
        return false;
    if (folder.Ways().Unnamed && ProcFdAvailable()) {
        if (!seenFree && !NameFreeAt(folder.Fd(), name))
            return false;
        if (OpenUnnamed(folder)) {
            name_ = name;
            return true;
        }
        // Only a file system without unnamed files falls back; a closed
        // folder fails here as it would below.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOSYS)
            return false;
    }
    folder_ = &folder;
    name_ = name;
    fd_ = OpenExclusiveAt(folder.Fd(), name.c_str());
    onDisk_ = fd_ >= 0;
    return fd_ >= 0;
}

bool TPendingFile::OpenUnnamed(const TTargetFolder& folder)
{
    if (fd_ >= 0 || folder.Fd() < 0 || !folder.Ways().Unnamed || !ProcFdAvailable())
        return false;
    int fd;
    do {
        fd = ::openat(folder.Fd(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    folder_ = &folder;
    fd_ = fd;
    unnamed_ = true;
    return true;
}

bool TPendingFile::Claim(const std::string& name, bool seenFree)
{
    if (fd_ < 0 || !unnamed_ || !IsUsableFileName(name))
        return false;
    if (!seenFree && !NameFreeAt(folder_->Fd(), name))
        return false;
    name_ = name;
    return true;
}

// linkat never replaces an existing name. Naming a file by its descriptor
// alone needs a capability on older kernels; the /proc/self/fd link does not.
bool TPendingFile::Link()
{
    if (folder_->Ways().NameByDescriptor) {
        if (::linkat(fd_, "", folder_->Fd(), name_.c_str(), AT_EMPTY_PATH) == 0)
            return true;
        if (errno != ENOENT && errno != EPERM)
            return false;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    if (::linkat(AT_FDCWD, self.c_str(), folder_->Fd(), name_.c_str(), AT_SYMLINK_FOLLOW) != 0)
        return false;
    folder_->NamingByDescriptorRefused();  // refused once, refused for the run
    return true;
}

TPendingFile::TPublish TPendingFile::Publish()
{
    if (fd_ < 0)
        return TPublish::WriteFailed;
    if (unnamed_) {
        if (!Link()) {
            CloseFd();
            return TPublish::NameTaken;
        }
        onDisk_ = true;
    }
    // After close() the descriptor is gone even when it reports an error.
    const int rc = ::close(fd_);
    const bool closeFailed = rc != 0 && errno != EINTR;
    fd_ = -1;
    if (closeFailed)
        return TPublish::WriteFailed;
    onDisk_ = false;  // published: no longer ours to delete
    return TPublish::Done;
}

bool TPendingFile::Discard()
{
    CloseFd();
    if (!onDisk_)
        return true;
    onDisk_ = false;
    return ::unlinkat(folder_->Fd(), name_.c_str(), 0) == 0 || errno == ENOENT;
}

std::string DeleteFailedLine(const std::string& saveName)
{
    return "Fehler: Konnte unvollständige Datei " + saveName + " nicht löschen...";
}

}  // namespace dlnames
