#include "core/screening/rowreview.h"

#include "core/screening/mailboxsession.h"

using namespace Qt::StringLiterals;

namespace corvane {

qsizetype replaceMarks(MailboxSession &session, RowMark from, RowMark to) {
    qsizetype changed = 0;
    for (qsizetype i = 0; i < session.rows().size(); ++i) {
        if (session.rows().at(i).Mark != from)
            continue;
        session.setMark(i, to);
        ++changed;
    }
    return changed;
}

qsizetype unmarkAll(MailboxSession &session, RowMark mark) {
    qsizetype changed = 0;
    for (qsizetype i = 0; i < session.rows().size(); ++i) {
        if (session.rows().at(i).Mark != mark)
            continue;
        session.unmarkRow(i);
        ++changed;
    }
    return changed;
}

QString selectionLine(qsizetype position, qsizetype count) {
    return u"Message "_s + QString::number(position + 1) + u" of "_s + QString::number(count) +
           u" selected"_s;
}

} // namespace corvane
