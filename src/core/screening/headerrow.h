#pragma once

#include "core/screening/rowmark.h"

#include <QString>

namespace corvane {

// One listed message of the open connection. The row at position p (from 0) stands for
// message number p + 1; rows are kept in message-number order and never re-sorted, and a
// row is removed only after the server has deleted its message.
struct HeaderRow {
    QString Subject; // the decoded Subject header
    QString From;    // the sender's text form: address, or display name and <address>
    QString To;      // the recipients' text forms joined by ", "
    QString Date;    // the message date in the system's short date format
    QString Size;    // bytes as answered by LIST n, "-1" when the answer could not be read
    QString Note = QStringLiteral("n/a");
    RowMark Mark = RowMark::Plain;

    friend bool operator==(const HeaderRow &, const HeaderRow &) = default;
};

} // namespace corvane
