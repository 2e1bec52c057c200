#include "ui/DesktopOpen.h"

// Qt
#include <QDesktopServices>
#include <QUrl>

// ours
#include "ui/HostWidget.h"

namespace {

TDesktopOpenAction& Installed()
{
    static TDesktopOpenAction action;
    return action;
}

} // namespace

bool DesktopOpen(const std::string& path, TForm*)
{
    if (Installed())
        return Installed()(path);
    // A file URL, never a string Qt might read as a command or a web address.
    return QDesktopServices::openUrl(QUrl::fromLocalFile(ToQString(path)));
}

TDesktopOpenAction SetDesktopOpenAction(TDesktopOpenAction action)
{
    TDesktopOpenAction before = std::move(Installed());
    Installed() = std::move(action);
    return before;
}
