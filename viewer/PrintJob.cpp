// The one-page print job of the print dialog.
#include "viewer/PrintFUnit.h"

// system
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

// Qt
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPrinter>
#include <QTemporaryFile>

// ours
#include "raster/DibDraw.h"
#include "ui/Dialogs.h"
#include "ui/HostWidget.h"
#include "ui/Printer.h"
#include "ui/PrinterDC.h"

namespace {

bool PrintPage(QPrinter& printer, const raster::DibHandle& picture, const TPrintOptions& options)
{
    printer.setDocName(QStringLiteral("Web Lumifang Bild"));
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    TPrinterDC dc(painter);
    const TPrinterPage page = PrintablePage(printer);
    const int32_t W = raster::DibWidth(picture), H = raster::DibHeight(picture);
    const TPlace p = PicturePlace(page.Width, page.Height, W, H, options);
    raster::DrawDibScaled(dc, p.X, p.Y, p.W, p.H, picture, 0, 0, W, H, false, raster::SRCCOPY, true, nullptr);
    return painter.end();
}

// The mode a new file gets from open(): what the umask leaves of rw-rw-rw-.
mode_t NewFileMode()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Umask:", 0) == 0)
            return 0666 & ~static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
    return 0644;
}

// Prints into a temporary file beside `target` and renames it into place, so
// a failed or interrupted job never leaves a half-written PDF under the
// user's name (nor destroys the file that was there).
bool PrintToPdf(QPrinter& printer, const raster::DibHandle& picture, const TPrintOptions& options,
                const QString& target)
{
    const QFileInfo info(target);
    QTemporaryFile temp(info.absoluteDir().filePath(QStringLiteral(".%1.XXXXXX").arg(info.fileName())));
    if (!temp.open())
        return false;
    temp.close();
    const QString before = printer.outputFileName();
    printer.setOutputFileName(temp.fileName());
    const bool printed = PrintPage(printer, picture, options);
    printer.setOutputFileName(before);
    if (!printed || QFileInfo(temp.fileName()).size() == 0)
        return false;
    // The temporary file is private to its owner; the printout is an ordinary
    // file, or keeps the mode of the one it replaces.
    const QByteArray targetName = QFile::encodeName(target);
    struct stat old {};
    const mode_t mode = ::stat(targetName.constData(), &old) == 0 ? old.st_mode & 07777 : NewFileMode();
    if (::chmod(QFile::encodeName(temp.fileName()).constData(), mode) != 0)
        return false;
    if (std::rename(QFile::encodeName(temp.fileName()).constData(), QFile::encodeName(target).constData()) != 0)
        return false;
    temp.setAutoRemove(false);
    return true;
}

} // namespace

bool PrintPictureJob(QPrinter& printer, const raster::DibHandle& picture, const TPrintOptions& options)
{
    if (!picture.Bits || !picture.Info)
        return false;
    if (!PrintsToPdf(printer))
        return PrintPage(printer, picture, options);
    QString target = printer.outputFileName();
    // The file named in the printer set-up is written without asking, but an
    // earlier printout under that name is not replaced unless the user agrees;
    // "No" lets the user pick another name.
    const QFileInfo named(target);
    bool ask = target.isEmpty();
    if (!ask && named.exists())
        ask = !ConfirmReplace(FromQString(target));
    if (ask) {
        TSaveDialog dialog;
        dialog.Title = "Bild als PDF drucken";
        dialog.Filter = "PDF-Dokument (*.pdf)|*.pdf";
        dialog.DefaultExt = "pdf";
        dialog.FileName = target.isEmpty() ? "Web Lumifang Bild.pdf" : FromQString(named.fileName());
        if (!target.isEmpty())
            dialog.InitialDir = FromQString(named.absolutePath());
        if (!dialog.Execute())
            return false;
        target = ToQString(dialog.FileName);
    }
    return PrintToPdf(printer, picture, options, target);
}
