#include "cli/CliThumbnails.h"

// system
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// ours
#include "browser/ThumbPassCore.h"

namespace {

void PrintLine(const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The folder as the window's folder tree names it in its memo lines:
// absolute, without "." segments and doubled or trailing slashes, each ".."
// taking back the segment before it (one that would climb above the root
// stays). Bytes are kept as they are: a name need not be UTF-8.
std::string TreeName(const std::string& dir)
{
    std::string path = dir;
    if (path.empty() || path[0] != '/') {
        std::vector<char> cwd(PATH_MAX + 1);
        if (::getcwd(cwd.data(), cwd.size()))
            path = std::string(cwd.data()) + "/" + path;
    }
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos)
            slash = path.size();
        const std::string part = path.substr(start, slash - start);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..")
                parts.pop_back();
            else
                parts.push_back(part);
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = slash + 1;
    }
    std::string out;
    for (const std::string& p : parts)
        out += "/" + p;
    return out.empty() ? "/" : out;
}

bool SameFolder(const struct stat& a, const std::string& path)
{
    struct stat b {};
    return ::stat(path.c_str(), &b) == 0 && S_ISDIR(b.st_mode) && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The pass's front end on a terminal: its memo lines go to standard output,
// its thumbnails are kept for the cache file, its steps run on this thread.
class TCliPassFront : public TPassFront {
public:
    explicit TCliPassFront(TStepQueue& queue) : queue_(queue) {}
    ~TCliPassFront() override
    {
        for (raster::DibHandle& d : Thumbs)
            if (d.Bits || d.Info)
                raster::deldib(d);
    }
    TCliPassFront(const TCliPassFront&) = delete;
    TCliPassFront& operator=(const TCliPassFront&) = delete;

    void PostStep(std::function<void()> step) override { queue_.Post(std::move(step)); }
    void PassLine(const std::string& line) override { PrintLine(line); }
    void PassThumb(TPreparedFile::TKind, raster::DibHandle thumb, const std::string& name,
                   const ThumbInfo& info) override
    {
        Thumbs.push_back(thumb);
        Names.push_back(name);
        Infos.push_back(info);
    }
    void PassFinished(bool) override { Finished = true; }

    std::vector<raster::DibHandle> Thumbs;
    std::vector<std::string> Names;
    std::vector<ThumbInfo> Infos;
    bool Finished = false;

private:
    TStepQueue& queue_;
};

}  // namespace

int RunThumbnailPass(const std::string& dir)
{
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "weblumifang-cli: %s is not a folder\n", dir.c_str());
        return 1;
    }
    DIR* d = ::opendir(dir.c_str());
    if (!d) {
        std::fprintf(stderr, "weblumifang-cli: cannot read the folder %s: %s\n", dir.c_str(), std::strerror(errno));
        return 1;
    }
    ::closedir(d);
    std::string folder = TreeName(dir);
    // A ".." after a symbolic link climbs from where the link points, as the
    // shell's own commands take it; the folder given is the one to look at.
    if (!SameFolder(st, folder)) {
        if (char* real = ::realpath(dir.c_str(), nullptr)) {
            folder = real;
            std::free(real);
        }
    }

    PrintLine(kPassMemoHeading);
    TStepQueue queue;
    TCliPassFront front(queue);
    TThumbPool pool;
    {
        auto pass = TFolderPass::Create(front, pool, folder, 1, TPrepareOptions{},
                                        THeldThumbs{front.Thumbs, front.Names, front.Infos});
        pass->Start();
        while (!front.Finished)
            queue.RunNext();
    }
    std::fflush(stdout);
    return 0;
}
