#pragma once

#include "core/rules/rulelists.h"

#include <QWidget>

class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QAction;
class QPushButton;
class QSortFilterProxyModel;
class QTabWidget;
class QTreeView;

namespace corvane {

class MiscRulesModel;
class Prompts;
class RuleListModel;
class ListEntryDialog;
class WordPairDialog;

// The Rules and Lists window: the four rule lists, each with its commands and a filter box,
// and the thirteen fixed rules with their ticks. It works on the lists themselves, so every
// change counts from the next scan; the lists reach their files at shutdown. Closing it only
// hides it.
class RulesWindow final : public QWidget {
    Q_OBJECT
public:
    RulesWindow(RuleLists &lists, Prompts &prompts, ListEntryDialog *entryDialog,
                WordPairDialog *xandyDialog, QWidget *parent = nullptr);
    ~RulesWindow() override;

    // Shows the window (bringing it forward when shown) with the lists and ticks as they are.
    void showWindow();
    // Shows a list, or every list and the ticks, as they now stand after a change made
    // elsewhere, and refreshes the count labels.
    void refreshList(ListKind kind);
    void refreshAll();

    // The position in its list of the entry selected in a list's view, or -1 when none is.
    qsizetype selectedEntry(ListKind kind) const;
    QTreeView *view(ListKind kind) const;
    QLineEdit *filter(ListKind kind) const;

    QTabWidget *listTabs;
    QTreeView *subjectList;
    QTreeView *emailList;
    QTreeView *friendlyList;
    QTreeView *wordPairList;
    QTreeView *fixedRulesList; // the thirteen fixed rules, with check boxes
    QLineEdit *subjectFilter;
    QLineEdit *emailFilter;
    QLineEdit *friendlyFilter;
    QLineEdit *wordPairFilter;
    QLabel *subjectCount;
    QLabel *emailCount;
    QLabel *friendlyCount;
    // Add, Edit and Delete of the subject black list, the e-mail black list and the friendly
    // list, in that order.
    QPushButton *addSubjectButton, *editSubjectButton, *deleteSubjectButton;
    QPushButton *addEmailButton, *editEmailButton, *deleteEmailButton;
    QPushButton *addFriendlyButton, *editFriendlyButton, *deleteFriendlyButton;
    QGroupBox *wordPairBox;   // "Subject contains X and Y"
    QGroupBox *fixedRulesBox; // "Misc E-mail Rules"
    // The X-and-Y list's right-click menu.
    QMenu *wordPairMenu;
    QAction *addWordPairAction;
    QAction *editWordPairAction;
    QAction *deleteWordPairAction;

Q_SIGNALS:
    // A list or a tick has changed, here or through an entry dialog: what a scan would mark
    // may now differ.
    void rulesChanged();

public Q_SLOTS:
    void addEntry(corvane::ListKind kind);
    void editEntry(corvane::ListKind kind);
    void deleteEntry(corvane::ListKind kind);

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWidget *makeListPane(ListKind kind, const QString &text, QTreeView *&view, QLineEdit *&filter,
                          const QList<int> &widths);
    void updateCount(ListKind kind);
    void selectEntry(ListKind kind, qsizetype entry);
    RuleListModel *model(ListKind kind) const;
    QSortFilterProxyModel *proxy(ListKind kind) const;
    int index(ListKind kind) const { return int(kind); }

    RuleLists &m_lists;
    Prompts &m_prompts;
    ListEntryDialog *m_entryDialog;
    WordPairDialog *m_xandyDialog;
    RuleListModel *m_models[4] = {};
    QSortFilterProxyModel *m_proxies[4] = {};
    QTreeView *m_views[4] = {};
    QLineEdit *m_filters[4] = {};
    MiscRulesModel *m_misc;
    bool m_placed = false;
};

// The text of a count label for a list of n entries.
QString countLabelText(ListKind kind, qsizetype n);

} // namespace corvane
