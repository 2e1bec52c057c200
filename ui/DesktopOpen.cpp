#include "ui/DesktopOpen.h"

// Qt
#include <QCoreApplication>
#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

// ours
#include "ui/HostWidget.h"

namespace {

TDesktopOpenAction& Installed()
{
    static TDesktopOpenAction action;
    return action;
}

// xdg-open's exit codes for "no program or tool for this file" and "the
// program could not open it"; it answers so only after it has tried.
constexpr int kNoMethod = 3;
constexpr int kActionFailed = 4;

} // namespace

void DesktopOpen(const std::string& path, TForm*, std::function<void()> noProgram)
{
    if (Installed()) {
        if (!Installed()(path) && noProgram)
            noProgram();
        return;
    }
    // A file URL, never a string an opener might read as an option or a web address.
    const QUrl url = QUrl::fromLocalFile(ToQString(path));
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) {
        // Qt's own launcher looks for the same opener; without one nothing opens.
        if (!QDesktopServices::openUrl(url) && noProgram)
            noProgram();
        return;
    }
    // Run by us rather than through QDesktopServices, which only tells
    // whether the opener started, not whether it found a program. The
    // process belongs to the application: the window asking may be gone
    // before the opener answers.
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProgram(opener);
    process->setArguments({QString::fromUtf8(url.toEncoded())});
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    QObject::connect(process, &QProcess::finished, process, [process, noProgram](int code, QProcess::ExitStatus status) {
        if (status == QProcess::NormalExit && (code == kNoMethod || code == kActionFailed) && noProgram)
            noProgram();
        process->deleteLater();
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, noProgram](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        if (noProgram)
            noProgram();
        process->deleteLater();
    });
    process->start();
}

TDesktopOpenAction SetDesktopOpenAction(TDesktopOpenAction action)
{
    TDesktopOpenAction before = std::move(Installed());
    Installed() = std::move(action);
    return before;
}
