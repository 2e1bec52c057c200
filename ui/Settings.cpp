#include "ui/Settings.h"

// system
#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <system_error>

#include <QSettings>

#include "ProgramInfo.h"

namespace {

bool FileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

std::string IncludeTrailingDelimiter(const std::string& s)
{
    if (!s.empty() && s.back() == '/')
        return s;
    return s + "/";
}

std::string ExecutableDir()
{
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty())
        return IncludeTrailingDelimiter(std::filesystem::current_path(ec).string());
    return IncludeTrailingDelimiter(exe.parent_path().string());
}

std::string UserConfigDir()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg && *xdg == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && *home ? home : "/tmp") + "/.config";
    }
    return IncludeTrailingDelimiter(base) + "Quenbrik/";
}

bool DirWritable(const std::string& dir)
{
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    return ::access(dir.c_str(), W_OK | X_OK) == 0;
}

bool ProgramIsInstalled(const std::string& programDir)
{
    return FileExists(IncludeTrailingDelimiter(programDir) + "../share/applications/" + kDesktopId + ".desktop");
}

std::string OptionsFolderForReading(const std::string& programDir)
{
    const bool installed = ProgramIsInstalled(programDir);
    if (!installed && DirWritable(programDir))
        return programDir;
    const std::string config = UserConfigDir();
    if (installed || FileExists(config + "options.dat") || !FileExists(programDir + "options.dat"))
        return config;
    return programDir;
}

std::string OptionsFolderForWriting(const std::string& programDir)
{
    if (!ProgramIsInstalled(programDir) && DirWritable(programDir))
        return programDir;
    const std::string config = UserConfigDir();
    std::error_code ec;
    std::filesystem::create_directories(config, ec);
    return DirWritable(config) ? config : std::string();
}

namespace {

std::unique_ptr<QSettings> OpenUserSettings(const std::string& iniPath)
{
    if (iniPath.empty())
        return std::make_unique<QSettings>("Quenbrik", "Web Lumifang");
    return std::make_unique<QSettings>(QString::fromStdString(iniPath), QSettings::IniFormat);
}

} // namespace

bool ReadUserFlag(const std::string& iniPath, const std::string& key, bool fallback)
{
    return OpenUserSettings(iniPath)->value(QString::fromStdString(key), fallback).toBool();
}

void WriteUserFlag(const std::string& iniPath, const std::string& key, bool value)
{
    auto settings = OpenUserSettings(iniPath);
    settings->setValue(QString::fromStdString(key), value);
    settings->sync();
}
