#include "http/HttpStream.h"

// system
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

bool TMemoryStream::Write(const void* data, std::size_t len)
{
    if (len > fLimit || fData.size() > fLimit - len)
        return false;
    fData.append(static_cast<const char*>(data), len);
    return true;
}

std::size_t TMemoryStream::Read(void* data, std::size_t len)
{
    std::size_t n = std::min(len, fData.size() - fPos);
    std::memcpy(data, fData.data() + fPos, n);
    fPos += n;
    return n;
}

TFileStream::TFileStream(const std::string& path) : fPath(path)
{
    std::string::size_type slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty())
        throw EStreamError("no file name in '" + path + "'");
    // Hidden and unique, in the same folder so the final rename stays on one file system.
    fTemp = dir + "." + base.substr(0, 200) + ".partXXXXXX";
    fFd = mkostemp(fTemp.data(), O_CLOEXEC);
    if (fFd < 0)
        throw EStreamError("can't create '" + fTemp + "': " + std::strerror(errno));
}

TFileStream::~TFileStream()
{
    Discard();
}

bool TFileStream::Write(const void* data, std::size_t len)
{
    if (fFd < 0 || fFailed)
        return false;
    const char* p = static_cast<const char*>(data);
    while (len > 0) {
        ssize_t n = ::write(fFd, p, len);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fError = std::strerror(errno);
            fFailed = true;
            return false;
        }
        p += n;
        len -= static_cast<std::size_t>(n);
        fSize += n;
    }
    return true;
}

bool TFileStream::Commit(bool overwrite)
{
    if (fFd < 0) {
        if (fError.empty())
            fError = "file already closed";
        return false;
    }
    bool ok = !fFailed;
    if (ok && ::fsync(fFd) != 0) {
        fError = std::strerror(errno);
        ok = false;
    }
    if (::close(fFd) != 0 && ok) {
        fError = std::strerror(errno);
        ok = false;
    }
    fFd = -1;
    if (ok) {
        int rc = overwrite ? ::rename(fTemp.c_str(), fPath.c_str())
                           : ::renameat2(AT_FDCWD, fTemp.c_str(), AT_FDCWD, fPath.c_str(), RENAME_NOREPLACE);
        if (rc != 0) {
            fError = errno == EEXIST ? "file exists" : std::strerror(errno);
            ok = false;
        }
    }
    if (!ok)
        ::unlink(fTemp.c_str());
    fTemp.clear();
    return ok;
}

void TFileStream::Discard()
{
    if (fFd >= 0) {
        ::close(fFd);
        fFd = -1;
    }
    if (!fTemp.empty()) {
        ::unlink(fTemp.c_str());
        fTemp.clear();
    }
}
