#include "ui/records/logprinter.h"

#include "core/errors.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTextLayout>

using namespace Qt::StringLiterals;

namespace corvane {

const QString SystemPrinterSource::NoPrinterText =
    u"There is no default printer currently selected"_s;

std::unique_ptr<QPrinter> SystemPrinterSource::defaultPrinter() {
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull())
        throw Error(NoPrinterText);
    return std::make_unique<QPrinter>(info, QPrinter::HighResolution);
}

namespace {

// The tab stop distance that makes a layout on the printer put its stops every `wanted` device
// pixels. Layouts scale the distance they are given by the device's resolution relative to the
// screen's; a probe finds that factor rather than assuming the screen's resolution.
qreal tabStopDistance(const QFont &font, QPaintDevice &device, qreal wanted) {
    constexpr qreal probe = 1000;
    QTextOption option;
    option.setTabStopDistance(probe);
    QTextLayout layout(u"\tx"_s, font, &device);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(1e9);
    layout.endLayout();
    const qreal reached = line.cursorToX(1);
    return reached > 0 ? wanted * probe / reached : wanted;
}

} // namespace

void printPlainText(QPrinter &printer, const QString &text, const QString &title) {
    printer.setDocName(title);
    const QString name =
        printer.printerName().isEmpty() ? printer.outputFileName() : printer.printerName();
    QPainter painter;
    if (!painter.begin(&printer))
        throw Error(u"The printer \"%1\" could not start the print job."_s.arg(name));

    QFont font(QGuiApplication::font(), &printer);
    font.setPointSize(10);
    painter.setFont(font);
    const QFontMetricsF metrics(font, &printer);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTabStopDistance(tabStopDistance(font, printer, 8 * metrics.averageCharWidth()));

    // The painter's origin is the top left corner of the printable area.
    const QRectF area = printer.pageLayout().paintRectPixels(printer.resolution());
    const qreal width = area.width();
    const qreal height = area.height();
    const qreal spacing = metrics.lineSpacing();
    qreal y = 0;
    bool pageFailed = false;
    // Moves to the next printed line, starting a new page when this one is full.
    const auto advance = [&](qreal lineHeight) {
        if (y > 0 && y + lineHeight > height) {
            pageFailed = pageFailed || !printer.newPage();
            y = 0;
        }
    };

    QStringList lines = text.split(u'\n');
    // A final line break ends the last line; it does not start another one.
    if (lines.size() > 1 && lines.last().isEmpty())
        lines.removeLast();
    for (QString line : std::as_const(lines)) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.isEmpty()) {
            advance(spacing);
            y += spacing;
            continue;
        }
        QTextLayout layout(line, font, &printer);
        layout.setTextOption(option);
        layout.beginLayout();
        QList<QTextLine> printed;
        for (QTextLine part = layout.createLine(); part.isValid(); part = layout.createLine()) {
            part.setLineWidth(width);
            part.setPosition(QPointF(0, 0));
            printed.append(part);
        }
        layout.endLayout();
        for (const QTextLine &part : std::as_const(printed)) {
            const qreal lineHeight = qMax(part.height(), spacing);
            advance(lineHeight);
            part.draw(&painter, QPointF(0, y));
            y += lineHeight;
        }
    }
    const bool finished = painter.end();
    if (pageFailed || !finished || printer.printerState() == QPrinter::Error)
        throw Error(u"The printer \"%1\" could not print the document."_s.arg(name));
}

} // namespace corvane
