#pragma once

#include "core/learning/learningstore.h"
#include "core/screening/rowmark.h"

#include <QString>

class QWidget;

namespace corvane {

class HeaderListView;
class MailboxSession;
class Prompts;
class ListEntryDialog;
class WordPairDialog;
struct HeaderRow;

// The commands of the message list `lvHeaders`, from its menus, its context menu and its keys:
// marking rows and adding a row's sender or subject to a list. They act on the selected row of
// the session's rows; without one they say so in an error box, as every such command does.
class HeaderListCommands {
public:
    HeaderListCommands(QWidget *window, const HeaderListView &view, Prompts &prompts);

    void setListDialogs(ListEntryDialog *entry, WordPairDialog *xandy) {
        m_entry = entry;
        m_xandy = xandy;
    }

    // Mark for deletion or for bouncing: the selected row.
    void markSelected(MailboxSession &session, RowMark mark) const;
    // Space on a row: a row marked for deletion or bouncing gets back the mark the lists give
    // it; any other row is marked for deletion.
    void toggleSelected(MailboxSession &session) const;
    // "This is spam" / "This is not spam": the selected row is learned as verdict (a row learned
    // before as the other kind is corrected), the rows are scored again, and the row is then
    // marked for deletion (spam) or loses a deletion or bouncing mark (not spam). Learning off
    // for the check, or a row whose header could not be read, is said in an error box and
    // changes no mark.
    void learnSelected(MailboxSession &session, LearnedVerdict verdict) const;
    // Mark all spam for deletion or bouncing, and their undoing: every row marked from.
    static void replaceAll(MailboxSession &session, RowMark from, RowMark to);

    // Where "Add ... to ..." puts the selected row's sender or subject.
    enum class ListTarget { EmailBlack, Friendly, SubjectBlack, XandY };
    // Opens the entry dialog of the list, filled with the selected row's sender or subject.
    void addSelectedToList(MailboxSession &session, ListTarget target) const;

private:
    // The selected row; null, after the error box, when none is selected.
    const HeaderRow *selected(MailboxSession &session, const QString &whenNone) const;

    QWidget *m_window;
    const HeaderListView &m_view;
    Prompts &m_prompts;
    ListEntryDialog *m_entry = nullptr;
    WordPairDialog *m_xandy = nullptr;
};

} // namespace corvane
