#include "ui/Printer.h"

// Qt
#include <QPageLayout>
#include <QPrinter>
#include <QPrinterInfo>

QPrinter& CurrentPrinter()
{
    static QPrinter* printer = [] {
        auto* p = new QPrinter(QPrinter::HighResolution);
        // Without a printer Qt would still name a native format; a PDF file is
        // the one output that always works.
        if (QPrinterInfo::availablePrinterNames().isEmpty())
            p->setOutputFormat(QPrinter::PdfFormat);
        return p;
    }();
    return *printer;
}

bool PrintsToPdf(const QPrinter& printer)
{
    return printer.outputFormat() == QPrinter::PdfFormat;
}

TPrinterPage PrintablePage(const QPrinter& printer)
{
    const QRect r = printer.pageLayout().paintRectPixels(printer.resolution());
    return TPrinterPage{r.width(), r.height()};
}
