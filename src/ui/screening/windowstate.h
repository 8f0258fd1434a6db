#pragma once

#include <QList>
#include <QRect>
#include <QString>

namespace corvane {

// Where the main window was and how wide its list's columns were, kept in a small file of the
// data directory (mainwindow.state, lines "key=value") so that the next start opens it the
// same way. The file is the window's own: nothing else reads it, and one that cannot be read
// or written only means the window opens at its default place.
struct MainWindowState {
    QRect geometry; // the window's inner geometry on the desktop; empty: never saved
    bool maximized = false;
    QList<int> columns; // the widths of From, To, Date and Size

    static MainWindowState load(const QString &path);
    // Writes the file whole or not at all; false when it could not be written.
    bool save(const QString &path) const;
};

// The window's geometry moved and shrunk as little as needed to lie within the screen's
// available area: never larger than it, never partly outside it. frameMargins is what the
// window's frame adds around the inner geometry on each side.
QRect fitIntoArea(const QRect &geometry, const QRect &area, const QMargins &frameMargins);

} // namespace corvane
