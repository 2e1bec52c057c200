// Web Lumifang: creates the windows once, in their fixed order, and runs the
// event loop until the main window closes.
#include <cstdio>
#include <string>
#include <vector>

#include <QApplication>
#include <QGuiApplication>
#include <QStringList>

#include "ProgramInfo.h"
#include "app/AddTypeBtn.h"
#include "app/MainUnit.h"
#include "app/StartArgs.h"
#include "browser/BrowserFUnit.h"
#include "ui/AboutBoxUnit.h"
#include "ui/FormPlacement.h"
#include "ui/Language.h"
#include "ui/NoticeBridge.h"
#include "ui/ProgramIcon.h"
#include "ui/ScreenDepth.h"
#include "viewer/PrintFUnit.h"
#include "viewer/ViewPicFUnit.h"

int main(int argc, char** argv)
{
    // Answered before Qt starts, so they work without a display.
    const TStartArgs early = ParseStartArgs(std::vector<std::string>(argv + 1, argv + argc));
    if (early.Help) {
        std::fputs(StartUsageText(), stdout);
        return 0;
    }
    if (early.Version) {
        std::printf("weblumifang %s\n", kProgramVersion);
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setOrganizationName("Quenbrik");
    QApplication::setApplicationName("Web Lumifang");
    QApplication::setApplicationVersion(kProgramVersion);
    // Lets the desktop match the windows to the menu entry (and its icon).
    QGuiApplication::setDesktopFileName(kDesktopId);
    QApplication::setWindowIcon(ProgramIcon());

    // Qt has taken its own options (-platform, -style ...); the rest is ours.
    const QStringList qtArgs = QApplication::arguments();
    std::vector<std::string> rest;
    for (qsizetype i = 1; i < qtArgs.size(); ++i)
        rest.push_back(qtArgs[i].toStdString());
    const TStartArgs start = ParseStartArgs(rest);
    if (!start.Error.empty()) {
        std::fprintf(stderr, "weblumifang: %s\n\n%s", start.Error.c_str(), StartUsageText());
        return 2;
    }
    InstallQtGerman();
    // One pump for windows and sockets: a request's wait keeps the windows alive.
    TNoticeBridge::InstallForThisThread();
    // Screen depth for scaled drawing, and its fallback messages through the responder.
    InstallRasterHooks();

    TMainFormSetup setup;
    setup.StartAddress = start.StartAddress;
    MainForm = new TMainForm(setup);
    KeepFormPlacement(*MainForm, "MainForm");
    AboutBox = new TAboutBox();
    BrowserForm = new TBrowserForm();
    ViewPicForm = new TViewPicForm();
    KeepFormPlacement(*ViewPicForm, "ViewPicForm");
    PrintForm = new TPrintForm();
    AddTypeForm = new TAddTypeForm();

    MainForm->Show();
    const int rc = QApplication::exec();

    delete AddTypeForm;
    delete PrintForm;
    delete ViewPicForm;
    delete BrowserForm;
    delete AboutBox;
    delete MainForm;
    return rc;
}
