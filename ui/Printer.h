// The program's current printer: the one the printer set-up dialog chose last.
// At start it is the desktop's default printer, or a PDF file when no printer
// is installed.
#pragma once

#include <cstdint>

class QPrinter;

QPrinter& CurrentPrinter();

// Whether printing goes to a PDF file rather than a printer.
bool PrintsToPdf(const QPrinter& printer);

// The printable area of the current page in device pixels (what a painter on
// the printer draws into, its origin at the area's top-left corner).
struct TPrinterPage {
    int64_t Width = 0;
    int64_t Height = 0;
};
TPrinterPage PrintablePage(const QPrinter& printer);
