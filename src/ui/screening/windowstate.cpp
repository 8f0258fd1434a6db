#include "ui/screening/windowstate.h"

#include "core/platform/durablefile.h"

#include <QFile>
#include <QMargins>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

QList<int> numbers(const QByteArray &text) {
    QList<int> values;
    for (const QByteArray &part : text.split(',')) {
        bool ok = false;
        const int value = part.trimmed().toInt(&ok);
        if (!ok)
            return {};
        values << value;
    }
    return values;
}

} // namespace

MainWindowState MainWindowState::load(const QString &path) {
    MainWindowState state;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return state;
    // A few short lines; anything longer is not this file.
    const QByteArray content = file.read(4096);
    for (const QByteArray &line : content.split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray key = line.left(eq).trimmed();
        const QList<int> values = numbers(line.mid(eq + 1));
        if (key == "geometry" && values.size() == 4 && values[2] > 0 && values[3] > 0)
            state.geometry = QRect(values[0], values[1], values[2], values[3]);
        else if (key == "maximized" && values.size() == 1)
            state.maximized = values[0] != 0;
        else if (key == "columns" && !values.isEmpty())
            state.columns = values;
    }
    return state;
}

bool MainWindowState::save(const QString &path) const {
    QByteArray text;
    if (!geometry.isEmpty())
        text += "geometry=" + QByteArray::number(geometry.x()) + ',' +
                QByteArray::number(geometry.y()) + ',' + QByteArray::number(geometry.width()) +
                ',' + QByteArray::number(geometry.height()) + '\n';
    text += "maximized=" + QByteArray(maximized ? "1" : "0") + '\n';
    if (!columns.isEmpty()) {
        QByteArrayList widths;
        for (const int width : columns)
            widths << QByteArray::number(width);
        text += "columns=" + widths.join(',') + '\n';
    }
    try {
        writeFileDurably(path, text);
        return true;
    } catch (const FileError &) {
        return false;
    }
}

QRect fitIntoArea(const QRect &geometry, const QRect &area, const QMargins &frameMargins) {
    if (area.isEmpty())
        return geometry;
    // The inner area that a framed window may take.
    const QRect inner = area.marginsRemoved(frameMargins);
    QRect fitted = geometry;
    fitted.setWidth(qMin(geometry.width(), inner.width()));
    fitted.setHeight(qMin(geometry.height(), inner.height()));
    if (fitted.right() > inner.right())
        fitted.moveRight(inner.right());
    if (fitted.bottom() > inner.bottom())
        fitted.moveBottom(inner.bottom());
    if (fitted.left() < inner.left())
        fitted.moveLeft(inner.left());
    if (fitted.top() < inner.top())
        fitted.moveTop(inner.top());
    return fitted;
}

} // namespace corvane
