#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace corvane {

// A block of header lines as received: a line that begins with a blank or a tab continues
// the field above it.

bool isContinuationLine(QByteArrayView line);
// The text before the first ":", without surrounding blanks; empty for a continuation line
// or a line without ":".
QByteArrayView headerLineName(QByteArrayView line);

// The value of the first field of that name (any case): the rest of its line after the colon,
// with every continuation line appended after a single blank, each piece trimmed and empty
// pieces left out. Empty when absent.
QByteArray headerBlockValue(const QList<QByteArray> &lines, QByteArrayView name);

// The index of the first field of that name, or -1; *end receives the index after its last
// continuation line.
qsizetype findHeaderField(const QList<QByteArray> &lines, QByteArrayView name,
                          qsizetype *end = nullptr);

// Replaces the first field of that name together with its continuation lines by the given
// lines, at its place; appends them when the field is absent; removes the field when the
// given lines are empty.
void setHeaderField(QList<QByteArray> &lines, QByteArrayView name,
                    const QList<QByteArray> &replacement);

// "Name: value" folded into lines of about 78 characters. Folds only at a single blank
// between two non-blank characters, so unfolding gives back the value exactly. A run of more
// than 998 characters without such a blank is cut hard. CR, LF and NUL in the value become
// blanks. An empty value gives no lines.
QList<QByteArray> foldHeaderField(QByteArrayView name, QByteArrayView value);

} // namespace corvane
