#include "cli/CliThumbnails.h"

// system
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Qt
#include <QApplication>
#include <QEventLoop>

// ours
#include "browser/BrowserFUnit.h"

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

    // No window is ever shown; Qt's arguments are not ours to take.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static char name[] = "weblumifang-cli";
    int qtArgc = 1;
    char* qtArgv[] = {name, nullptr};
    QApplication app(qtArgc, qtArgv);

    TBrowserFormSetup setup;
    setup.InitialFolder = dir;
    setup.UseFormStorage = false;
    setup.OnMemoLine = [](const std::string& line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    };
    // Creating the form starts the pass on its tree's first folder, which is dir.
    TBrowserForm form(setup);
    // Nobody reads the memo here; its lines went to standard output.
    form.Memo1->SetMaxLines(200);
    while (form.Busy)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    std::fflush(stdout);
    return 0;
}
