#pragma once

#include "core/screening/rowmark.h"

#include <QDateTime>
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
    // The learner's spam score, 0 to 100 (the probability in per cent); -1 when the row was
    // not scored (learning off or unavailable for the check, the header not read).
    int LearnedScore = -1;
    // Why the row has its mark: "friendly list", "e-mail black list", "subject black list",
    // "X-and-Y list", "rule 7", "rule 1 overruled by learning (0.03)", "learned 0.97", "marked
    // by you"; for a Plain row its learned score ("learned 0.42"), or empty.
    QString Reason = {};

    friend bool operator==(const HeaderRow &, const HeaderRow &) = default;
};

// What a listed message says of itself beyond its row: message numbers change between
// connections, so a message is found again by these together with its row's texts and size.
struct MessageIdentity {
    QString MessageId; // the Message-ID header
    QDateTime Sent;    // the full message date; invalid when the header had none

    friend bool operator==(const MessageIdentity &, const MessageIdentity &) = default;
};

// Whether two rows, perhaps of different connections, stand for the same message.
inline bool sameMessage(const HeaderRow &a, const MessageIdentity &aId, const HeaderRow &b,
                        const MessageIdentity &bId) {
    return aId == bId && a.Size == b.Size && a.From == b.From && a.Subject == b.Subject;
}

} // namespace corvane
