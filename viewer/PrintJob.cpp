// The one-page print job of the print dialog.
#include "viewer/PrintFUnit.h"

// system
#include <cstdio>

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
    if (target.isEmpty()) {
        TSaveDialog dialog;
        dialog.Title = "Bild als PDF drucken";
        dialog.Filter = "PDF-Dokument (*.pdf)|*.pdf";
        dialog.DefaultExt = "pdf";
        dialog.FileName = "Web Lumifang Bild.pdf";
        if (!dialog.Execute())
            return false;
        target = ToQString(dialog.FileName);
    }
    return PrintToPdf(printer, picture, options, target);
}
