#include "ui/screening/headerlistcommands.h"

#include "core/screening/mailboxsession.h"
#include "core/screening/rowreview.h"
#include "ui/rules/listentrydialog.h"
#include "ui/rules/wordpairdialog.h"
#include "ui/screening/headerlistview.h"
#include "ui/shell/prompts.h"

using namespace Qt::StringLiterals;

namespace corvane {

HeaderListCommands::HeaderListCommands(QWidget *window, const HeaderListView &view,
                                       Prompts &prompts)
    : m_window(window), m_view(view), m_prompts(prompts) {}

const HeaderRow *HeaderListCommands::selected(MailboxSession &session,
                                              const QString &whenNone) const {
    const qsizetype row = m_view.selectedRow();
    if (row < 0 || row >= session.rows().size()) {
        m_prompts.error(m_window, whenNone);
        return nullptr;
    }
    return &session.rows().at(row);
}

void HeaderListCommands::markSelected(MailboxSession &session, RowMark mark) const {
    if (selected(session, u"You must select an email to mark it"_s))
        session.setMark(m_view.selectedRow(), mark);
}

void HeaderListCommands::toggleSelected(MailboxSession &session) const {
    const HeaderRow *row = selected(session, u"You must select an email to mark it"_s);
    if (!row)
        return;
    if (row->Mark == RowMark::Delete || row->Mark == RowMark::Bounce)
        session.unmarkRow(m_view.selectedRow());
    else
        session.setMark(m_view.selectedRow(), RowMark::Delete);
}

void HeaderListCommands::learnSelected(MailboxSession &session, LearnedVerdict verdict) const {
    if (!selected(session, u"You must select an email to mark it"_s))
        return;
    const qsizetype position = m_view.selectedRow();
    if (!session.learningActive()) {
        m_prompts.error(m_window, u"Learning is off for this check, so nothing can be learned "
                                  u"from its messages. Turn it on in Options / settings, "
                                  u"Learning, and check the mailbox again."_s);
        return;
    }
    if (!session.learningSample(position)) {
        m_prompts.error(m_window, u"The header of this email could not be read, so nothing can "
                                  u"be learned from it."_s);
        return;
    }
    session.learnRows({position}, verdict);
    const RowMark mark = session.rows().at(position).Mark;
    if (verdict == LearnedVerdict::Spam) {
        if (mark != RowMark::Delete)
            session.setMark(position, RowMark::Delete);
    } else if (mark == RowMark::Delete || mark == RowMark::Bounce) {
        session.unmarkRow(position);
    }
}

void HeaderListCommands::replaceAll(MailboxSession &session, RowMark from, RowMark to) {
    replaceMarks(session, from, to);
}

void HeaderListCommands::addSelectedToList(MailboxSession &session, ListTarget target) const {
    const HeaderRow *row = selected(session, u"Must select an email first"_s);
    if (!row)
        return;
    switch (target) {
    case ListTarget::EmailBlack:
        if (m_entry)
            m_entry->openMode(ListEntryDialog::Mode::AddEmail, row->From);
        break;
    case ListTarget::Friendly:
        if (m_entry)
            m_entry->openMode(ListEntryDialog::Mode::AddFriendly, row->From);
        break;
    case ListTarget::SubjectBlack:
        if (m_entry)
            m_entry->openMode(ListEntryDialog::Mode::AddSubject, row->Subject);
        break;
    case ListTarget::XandY:
        if (m_xandy)
            m_xandy->openMode(WordPairDialog::Mode::AddXY, row->Subject);
        break;
    }
}

} // namespace corvane
