#pragma once

#include "core/screening/rowmark.h"

#include <QString>

namespace corvane {

class MailboxSession;

// The review commands of the message list. They change marks only; nothing reaches the server
// before processing.

// Changes every row marked `from` to `to`, walking from the first row to the last; rows with
// any other mark keep it. Returns how many rows changed.
qsizetype replaceMarks(MailboxSession &session, RowMark from, RowMark to);

// Takes back every mark `mark` (Delete or Bounce): each such row gets the mark its
// classification gives it now (Friendly, Plain or Spam), never a fixed one, so that a friendly
// message marked by hand and unmarked is friendly again and no later "mark all spam" reaches
// it. Returns how many rows changed.
qsizetype unmarkAll(MailboxSession &session, RowMark mark);

// The selection line: "Message 3 of 12 selected" for the row at position 2 (from 0) of 12.
QString selectionLine(qsizetype position, qsizetype count);

} // namespace corvane
