#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QStringView>

namespace corvane {

// Reads an RFC 822 date as mail programs write it: an optional day name and comma; day and
// month name in either order, separated by blanks or "-"; a year of four digits or of two
// (below 80 means 20xx, 80 to 99 means 19xx); then hh:mm[:ss] when present; then a numeric
// zone offset (+hhmm or -hhmm). Zone names and anything else count as an offset of zero.
// Gives the moment in local time, or a null QDateTime when the value is empty or unreadable,
// or when the moment falls outside the years 1 to 9999 in UTC or in local time.
QDateTime parseMailDate(QStringView value);

// "Tue, 03 Jun 2003 10:00:00 +0200": the moment in local time with the local zone offset.
QByteArray formatMailDate(const QDateTime &moment);

} // namespace corvane
