// Web Lumifang: creates the windows once, in their fixed order, and runs the
// event loop until the main window closes.
#include <QApplication>

#include "app/AddTypeBtn.h"
#include "app/MainUnit.h"
#include "browser/BrowserFUnit.h"
#include "ui/AboutBoxUnit.h"
#include "ui/Language.h"
#include "ui/NoticeBridge.h"
#include "ui/ScreenDepth.h"
#include "viewer/PrintFUnit.h"
#include "viewer/ViewPicFUnit.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Quenbrik");
    QApplication::setApplicationName("Web Lumifang");
    InstallQtGerman();
    // One pump for windows and sockets: a request's wait keeps the windows alive.
    TNoticeBridge::InstallForThisThread();
    // Screen depth for scaled drawing, and its fallback messages through the responder.
    InstallRasterHooks();

    MainForm = new TMainForm();
    AboutBox = new TAboutBox();
    BrowserForm = new TBrowserForm();
    ViewPicForm = new TViewPicForm();
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
