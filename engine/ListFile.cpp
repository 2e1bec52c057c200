// Image-list files and whole files written in one step.
#include "engine/ListFile.h"

// system
#include <algorithm>
#include <atomic>
#include <fstream>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool ReadWholeFile(const std::string& path, std::size_t limit, std::string& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.clear();
    char buf[65536];
    while (out.size() < limit) {
        in.read(buf, sizeof buf);
        const std::streamsize got = in.gcount();
        if (got <= 0)
            break;
        out.append(buf, std::min(static_cast<std::size_t>(got), limit - out.size()));
    }
    return !in.bad();
}

bool ReadListFile(const std::string& path, std::string& out)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           static_cast<std::uint64_t>(st.st_size) <= kMaxListFileBytes && ReadWholeFile(path, kMaxListFileBytes, out);
}

bool WriteFileAtomically(const std::string& path, std::string_view data)
{
    static std::atomic<unsigned> counter{0};
    const std::string tmp = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && std::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok)
        ::unlink(tmp.c_str());
    return ok;
}

void ForEachListLine(std::string_view data, const std::function<void(std::string_view)>& fn)
{
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = start;
        while (end < data.size() && data[end] != '\r' && data[end] != '\n')
            ++end;
        fn(data.substr(start, end - start));
        if (end < data.size() && data[end] == '\r' && end + 1 < data.size() && data[end + 1] == '\n')
            end += 2;
        else
            end += 1;
        start = end;
    }
}

std::vector<std::string> SplitListLines(std::string_view data)
{
    std::vector<std::string> lines;
    ForEachListLine(data, [&](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

std::string JoinListLines(const std::vector<std::string>& rows)
{
    std::string out;
    std::size_t total = 0;
    for (const auto& r : rows)
        total += r.size() + 2;
    out.reserve(total);
    for (const auto& r : rows) {
        out += r;
        out += "\r\n";
    }
    return out;
}

