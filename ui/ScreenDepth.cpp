#include "ui/ScreenDepth.h"

#include <cstdlib>
#include <string>

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>

#include "raster/DibDraw.h"
#include "ui/Responder.h"

int QtScreenBitsPerPixel()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int depth = screen ? screen->depth() : 0;
    return depth > 0 ? depth : 32;
}

void InstallRasterHooks()
{
    int forced = 0;
    if (const char* env = std::getenv("WL_SCREEN_BPP"))
        forced = std::atoi(env);
    if (forced <= 0) {
        QSettings settings("Quenbrik", "Web Lumifang");
        forced = settings.value("Raster/ScreenBitsPerPixel", 0).toInt();
    }
    raster::ForceScreenBitsPerPixel(forced > 0 ? forced : 0);
    raster::SetScreenDepthQuery([] { return QtScreenBitsPerPixel(); });
    // Plain message box: no owner, the default caption, OK.
    raster::SetDrawMessageSink(
        [](const std::string& text) { MessageDlg(text, std::string(), TMsgIcon::None, mbOK); });
}
