#pragma once

#include <QString>

#include <memory>

class QPrinter;

namespace corvane {

// Where printed text goes: the system's default printer in the program, a PDF file in tests.
class PrinterSource {
public:
    virtual ~PrinterSource() = default;
    // A printer ready to print on, with no dialog shown. Throws corvane::Error with the
    // printing system's words when there is none.
    virtual std::unique_ptr<QPrinter> defaultPrinter() = 0;
};

// The system's default printer.
class SystemPrinterSource final : public PrinterSource {
public:
    static const QString NoPrinterText; // "There is no default printer currently selected"

    std::unique_ptr<QPrinter> defaultPrinter() override;
};

// Prints text as one plain-text document: the lines in order, each starting at the left edge
// of the printable area; a line wider than the page goes on over the next printed lines; tabs
// advance to stops every eight average character widths; a new page begins whenever a page is
// full. title names the job in the printer's queue. Throws corvane::Error when the printer
// cannot start or finish the job.
void printPlainText(QPrinter &printer, const QString &text, const QString &title);

} // namespace corvane
