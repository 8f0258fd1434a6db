#pragma once

#include <QString>
#include <QStringView>

namespace corvane {

// Text that comes from mail (a subject, a display name, a header line) is untrusted: written
// as it is, an encoded CR LF forges lines in the deletion log, an ESC sends commands to a
// terminal, and a bidirectional override reorders what is shown around it. These helpers make
// such text safe before it goes into a log line, a terminal or a file name.

// Whether the UTF-16 unit is a character that text from mail must not carry into a log line,
// a terminal or a file name: the C0 controls (tab and line breaks included), DEL, the C1
// controls, the line and paragraph separators, and the bidirectional marks, embeddings,
// overrides and isolates.
bool isUnsafeTextChar(char16_t c);

// The text with every unsafe character replaced: a tab or a line break (CR, LF, VT, FF, NEL,
// the line and paragraph separators) by a blank, every other one by substitute. Everything
// else is kept as it is.
QString safeText(QStringView text, QChar substitute = u'?');

} // namespace corvane
