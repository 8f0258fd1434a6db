// The Rules and Lists window: its tabs and columns, Add/Edit/Delete on every list with their
// preconditions, the count labels, in-place editing, the filter boxes, the ticks of the fixed
// rules reaching classification, and the window as the main menu opens it.

#include "../uitestsupport.h"
#include "core/screening/classify.h"
#include "testmessage.h"
#include "ui/rules/listentrydialog.h"
#include "ui/rules/ruleswindow.h"
#include "ui/rules/wordpairdialog.h"

#include <QAbstractItemModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTreeView>

using namespace Qt::StringLiterals;
using namespace corvane;
using corvane::test::ScriptedPrompts;
using corvane::test::TestMessage;

Q_DECLARE_METATYPE(corvane::ListKind)

namespace {

// A window on its own lists, with the two entry dialogs.
struct Fixture {
    Fixture()
        : entryDialog(lists), pairDialog(lists), rules(lists, prompts, &entryDialog, &pairDialog) {
        rules.showWindow();
    }
    RuleLists lists;
    ScriptedPrompts prompts;
    ListEntryDialog entryDialog;
    WordPairDialog pairDialog;
    RulesWindow rules;

    QPushButton *button(const char *name) {
        return rules.findChild<QPushButton *>(QString::fromLatin1(name));
    }
    QLabel *label(const char *name) { return rules.findChild<QLabel *>(QString::fromLatin1(name)); }
    QTreeView *view(const char *name) {
        return rules.findChild<QTreeView *>(QString::fromLatin1(name));
    }
    // The captions as the view shows them, top to bottom.
    static QStringList shown(const QTreeView *v) {
        QStringList texts;
        const QAbstractItemModel *m = v->model();
        for (int r = 0; r < m->rowCount(); ++r)
            texts << m->index(r, 0).data().toString();
        return texts;
    }
    static void select(QTreeView *v, int row) {
        v->setCurrentIndex(v->model()->index(row, 0));
        QVERIFY(v->selectionModel()->isRowSelected(row, {}));
    }
};

// The view, the Add, Edit and Delete commands of each list (the X-and-Y list's from its menu).
struct ListCommands {
    QTreeView *view;
    std::function<void()> add, edit, remove;
};

ListCommands commandsOf(Fixture &f, ListKind kind) {
    switch (kind) {
    case ListKind::SubjectBlack:
        return {f.view("subjectList"), [&f] { f.button("addSubjectButton")->click(); },
                [&f] { f.button("editSubjectButton")->click(); },
                [&f] { f.button("deleteSubjectButton")->click(); }};
    case ListKind::EmailBlack:
        return {f.view("emailList"), [&f] { f.button("addEmailButton")->click(); },
                [&f] { f.button("editEmailButton")->click(); },
                [&f] { f.button("deleteEmailButton")->click(); }};
    case ListKind::Friendly:
        return {f.view("friendlyList"), [&f] { f.button("addFriendlyButton")->click(); },
                [&f] { f.button("editFriendlyButton")->click(); },
                [&f] { f.button("deleteFriendlyButton")->click(); }};
    case ListKind::XandY:
        break;
    }
    return {f.view("wordPairList"), [&f] { f.rules.addWordPairAction->trigger(); },
            [&f] { f.rules.editWordPairAction->trigger(); },
            [&f] { f.rules.deleteWordPairAction->trigger(); }};
}

} // namespace

class TestRulesWindow final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void layout() {
        Fixture f;
        QCOMPARE(f.rules.windowTitle(), u"Rules and Lists"_s);
        const auto *tabs = f.rules.findChild<QTabWidget *>(u"listTabs"_s);
        QStringList titles;
        for (int i = 0; i < tabs->count(); ++i)
            titles << tabs->tabText(i);
        QCOMPARE(titles, (QStringList{u"Black Listed Subjects"_s, u"Black Listed Emails"_s,
                                      u"Friendly Emails"_s, u"Misc"_s}));
        const auto headers = [](const QTreeView *v) {
            QStringList h;
            for (int c = 0; c < v->model()->columnCount(); ++c)
                h << v->model()->headerData(c, Qt::Horizontal).toString();
            return h;
        };
        QCOMPARE(headers(f.view("subjectList")),
                 (QStringList{u"Subject is or contains"_s, u"Description"_s}));
        QCOMPARE(headers(f.view("emailList")),
                 (QStringList{u"Email address or domain is"_s, u"Description"_s}));
        QCOMPARE(headers(f.view("friendlyList")),
                 (QStringList{u"Email or domain is"_s, u"Description"_s}));
        QCOMPARE(headers(f.view("wordPairList")),
                 (QStringList{u"Contains this"_s, u"and this"_s, u"Description"_s}));
        QCOMPARE(headers(f.view("fixedRulesList")), QStringList{u"Rule Description"_s});

        // At first start the subject black list holds its thirteen default entries.
        QCOMPARE(f.label("subjectCount")->text(), u"13 Items in the this black list"_s);
        QCOMPARE(f.label("emailCount")->text(), u"0 Items in the this black list"_s);
        QCOMPARE(f.label("friendlyCount")->text(), u"0 Items in the the friendly list"_s);
        QCOMPARE(Fixture::shown(f.view("subjectList")).size(), 13);

        // The X-and-Y menu: Add, Edit, Delete with separators between.
        QStringList menu;
        for (const QAction *a : f.rules.wordPairMenu->actions())
            menu << (a->isSeparator() ? u"-"_s : a->text());
        QCOMPARE(menu, (QStringList{u"Add"_s, u"-"_s, u"Edit"_s, u"-"_s, u"Delete"_s}));
    }

    void preconditions_data() {
        QTest::addColumn<ListKind>("kind");
        QTest::newRow("subject") << ListKind::SubjectBlack;
        QTest::newRow("email") << ListKind::EmailBlack;
        QTest::newRow("friendly") << ListKind::Friendly;
        QTest::newRow("x and y") << ListKind::XandY;
    }
    void preconditions() {
        QFETCH(ListKind, kind);
        Fixture f;
        f.lists.list(kind).add(u"entry"_s, {u"d"_s, u"e"_s});
        f.rules.refreshAll();
        const RuleLists before = f.lists;
        const ListCommands c = commandsOf(f, kind);
        c.edit();
        QCOMPARE(f.prompts.takeTexts(),
                 QStringList{u"You must have selected an item to edit it"_s});
        QVERIFY(!f.entryDialog.isVisible() && !f.pairDialog.isVisible());
        c.remove();
        QCOMPARE(f.prompts.takeTexts(),
                 QStringList{u"You must have selected an item to delete it"_s});
        QCOMPARE(f.lists.list(kind).entries(), before.list(kind).entries());
    }

    // Add, Edit and Delete through the dialogs, on every list; the count label follows.
    void commands_data() { preconditions_data(); }
    void commands() {
        QFETCH(ListKind, kind);
        Fixture f;
        f.lists.list(kind).clear();
        f.rules.refreshAll();
        const ListCommands c = commandsOf(f, kind);
        QSignalSpy changed(&f.rules, &RulesWindow::rulesChanged);

        const auto enter = [&](const QString &first, const QString &rest) {
            if (kind == ListKind::XandY) {
                f.pairDialog.firstWordEdit->setText(first);
                f.pairDialog.secondWordEdit->setText(u"second"_s);
                f.pairDialog.descriptionEdit->setText(rest);
                f.pairDialog.okButton->click();
            } else {
                f.entryDialog.entryEdit->setText(first);
                f.entryDialog.descriptionEdit->setText(rest);
                f.entryDialog.okButton->click();
            }
        };
        for (const QString &caption : {u"zzz"_s, u"mmm"_s, u"aaa"_s, u"aaa"_s}) {
            c.add();
            QVERIFY(kind == ListKind::XandY ? f.pairDialog.isVisible() : f.entryDialog.isVisible());
            QCOMPARE(kind == ListKind::XandY ? f.pairDialog.firstWordEdit->text()
                                             : f.entryDialog.entryEdit->text(),
                     QString());
            enter(caption, u"why"_s);
        }
        // Duplicates are kept; a sorted list puts aaa first, the others keep the order of adding.
        const QStringList expected = f.lists.list(kind).isSorted()
                                         ? QStringList{u"aaa"_s, u"aaa"_s, u"mmm"_s, u"zzz"_s}
                                         : QStringList{u"zzz"_s, u"mmm"_s, u"aaa"_s, u"aaa"_s};
        QCOMPARE(Fixture::shown(c.view), expected);
        QVERIFY(changed.size() >= 4);
        if (kind == ListKind::Friendly)
            QCOMPARE(f.label("friendlyCount")->text(), u"4 Items in the the friendly list"_s);
        if (kind == ListKind::SubjectBlack)
            QCOMPARE(f.label("subjectCount")->text(), u"4 Items in the this black list"_s);

        // Edit the zzz entry: the dialog opens with its texts; aaa0 moves it up in a sorted list.
        const int zzz = int(expected.indexOf(u"zzz"_s));
        Fixture::select(c.view, zzz);
        c.edit();
        if (kind == ListKind::XandY) {
            QCOMPARE(f.pairDialog.firstWordEdit->text(), u"zzz"_s);
            QCOMPARE(f.pairDialog.secondWordEdit->text(), u"second"_s);
            QCOMPARE(f.pairDialog.descriptionEdit->text(), u"why"_s);
        } else {
            QCOMPARE(f.entryDialog.entryEdit->text(), u"zzz"_s);
            QCOMPARE(f.entryDialog.descriptionEdit->text(), u"why"_s);
        }
        enter(u"abc"_s, u"changed"_s);
        const QStringList edited = f.lists.list(kind).isSorted()
                                       ? QStringList{u"aaa"_s, u"aaa"_s, u"abc"_s, u"mmm"_s}
                                       : QStringList{u"abc"_s, u"mmm"_s, u"aaa"_s, u"aaa"_s};
        QCOMPARE(Fixture::shown(c.view), edited);
        QCOMPARE(f.prompts.shown.size(), 0);

        // Delete removes the selected entry at once; deleting every entry empties the label.
        for (int left = 4; left > 0; --left) {
            Fixture::select(c.view, 0);
            c.remove();
            QCOMPARE(f.lists.list(kind).size(), left - 1);
        }
        QCOMPARE(f.prompts.shown.size(), 0);
        if (kind == ListKind::SubjectBlack)
            QCOMPARE(f.label("subjectCount")->text(), u"0 Items in the this black list"_s);
        if (kind == ListKind::EmailBlack)
            QCOMPARE(f.label("emailCount")->text(), u"0 Items in the this black list"_s);
    }

    // An empty entry may be added.
    void emptyEntry() {
        Fixture f;
        f.button("addFriendlyButton")->click();
        f.entryDialog.okButton->click();
        QCOMPARE(f.lists.Friendly.entries(), (QList<RuleEntry>{{QString(), {QString()}}}));
        QCOMPARE(f.label("friendlyCount")->text(), u"1 Items in the the friendly list"_s);
    }

    // A second click on a selected row edits the caption; a sorted list re-sorts and the entry
    // stays selected where it went.
    void editInPlace_data() {
        QTest::addColumn<ListKind>("kind");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("sorted") << ListKind::EmailBlack
                                << QStringList{u"aaa"_s, u"bbb"_s, u"ccc"_s};
        QTest::newRow("unsorted") << ListKind::Friendly
                                  << QStringList{u"bbb"_s, u"ccc"_s, u"aaa"_s};
    }
    void editInPlace() {
        QFETCH(ListKind, kind);
        QFETCH(QStringList, after);
        Fixture f;
        for (const QString &c : {u"bbb"_s, u"ccc"_s, u"zzz"_s})
            f.lists.list(kind).add(c, {u"d"_s});
        f.rules.refreshAll();
        QTreeView *v = commandsOf(f, kind).view;
        QSignalSpy changed(&f.rules, &RulesWindow::rulesChanged);
        Fixture::select(v, 2);
        v->edit(v->currentIndex());
        auto *editor = v->viewport()->findChild<QLineEdit *>();
        QVERIFY(editor);
        editor->selectAll();
        QTest::keyClicks(editor, u"aaa"_s);
        // The delegate commits the text after the key has been handled.
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(Fixture::shown(v), after);
        QCOMPARE(f.lists.list(kind).at(after.indexOf(u"aaa"_s)).SubItems, QStringList{u"d"_s});
        QCOMPARE(v->currentIndex().data().toString(), u"aaa"_s);
        QCOMPARE(f.rules.selectedEntry(kind), after.indexOf(u"aaa"_s));
        QCOMPARE(changed.size(), 1);
    }

    // The filter narrows the rows; the commands act on the entry shown, not on its row number.
    void filter() {
        Fixture f;
        f.lists.SubjectBlack.clear();
        for (const QString &c : {u"alpha"_s, u"beta"_s, u"gamma"_s, u"delta"_s})
            f.lists.SubjectBlack.add(c, {u"note "_s + c});
        f.rules.refreshAll();
        QTreeView *v = f.view("subjectList");
        QTest::keyClicks(f.rules.subjectFilter, u"TA"_s);
        QCOMPARE(Fixture::shown(v), (QStringList{u"beta"_s, u"delta"_s}));
        // The description is searched as well.
        f.rules.subjectFilter->setText(u"note g"_s);
        QCOMPARE(Fixture::shown(v), QStringList{u"gamma"_s});
        Fixture::select(v, 0);
        f.button("editSubjectButton")->click();
        QCOMPARE(f.entryDialog.entryEdit->text(), u"gamma"_s);
        f.entryDialog.entryEdit->setText(u"gamma ray"_s);
        f.entryDialog.okButton->click();
        QCOMPARE(f.lists.SubjectBlack.at(3).Caption, u"gamma ray"_s);
        Fixture::select(v, 0);
        f.button("deleteSubjectButton")->click();
        QCOMPARE(f.lists.SubjectBlack.size(), 3);
        QVERIFY(
            !f.lists.SubjectBlack.entries().contains(RuleEntry{u"gamma ray"_s, {u"note gamma"_s}}));
        QCOMPARE(f.label("subjectCount")->text(), u"3 Items in the this black list"_s);
        f.rules.subjectFilter->clear();
        QCOMPARE(Fixture::shown(v), (QStringList{u"alpha"_s, u"beta"_s, u"delta"_s}));
    }

    // A tick cleared in the window switches its rule off for the next classification.
    void ticksReachClassification() {
        Fixture f;
        QTreeView *v = f.view("fixedRulesList");
        QCOMPARE(v->model()->rowCount(), MiscRules::Count);
        for (int n = 1; n <= MiscRules::Count; ++n)
            QCOMPARE(v->model()->index(n - 1, 0).data().toString(), MiscRules::text(n));
        Classifier classifier;
        const QString subject = u"FREE offer"_s;
        QCOMPARE(classifier.ClassifyMessage(f.lists, subject, u"a@example.com"_s, {}),
                 RowMark::Spam);
        QSignalSpy changed(&f.rules, &RulesWindow::rulesChanged);
        // Rule 1 (FREE in capitals) is the first row; clicking its check box clears the tick.
        const QModelIndex first = v->model()->index(0, 0);
        QVERIFY(v->model()->setData(first, Qt::Unchecked, Qt::CheckStateRole));
        QVERIFY(!f.lists.Misc.ticked(1));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(classifier.ClassifyMessage(f.lists, subject, u"a@example.com"_s, {}),
                 RowMark::Plain);
        // Ticks set elsewhere (the settings, read after the window is made) are shown.
        f.lists.Misc.setTicked(2, false);
        f.rules.showWindow();
        QCOMPARE(v->model()->index(1, 0).data(Qt::CheckStateRole).value<Qt::CheckState>(),
                 Qt::Unchecked);
    }

    // The main window's "Rules and Lists" shows the window on the program's own lists, and an
    // entry added from the main window appears in it.
    void openedFromMainWindow() {
        QTemporaryDir dir;
        test::ProgramRun run(dir.path());
        run.start();
        QVERIFY(run.main()->RulesandLists1->isEnabled());
        run.main()->RulesandLists1->trigger();
        RulesWindow *rules = run.shell.rulesWindow();
        QVERIFY(rules && rules->isVisible());
        QCOMPARE(rules->subjectList->model()->rowCount(), run.shell.lists().SubjectBlack.size());
        run.shell.listEntryDialog()->openMode(ListEntryDialog::Mode::AddFriendly,
                                              u"x@example.com"_s);
        run.shell.listEntryDialog()->okButton->click();
        QCOMPARE(rules->friendlyCount->text(), u"1 Items in the the friendly list"_s);
        QCOMPARE(rules->friendlyList->model()->index(0, 0).data().toString(), u"x@example.com"_s);
        rules->close();
        QVERIFY(!rules->isVisible());
        QCOMPARE(run.shell.rulesWindow(), rules);
    }

    // A change of a list or a tick re-colours the rows of the open mailbox at once; marks the
    // user gave stay.
    void recoloursTheMainList() {
        QTemporaryDir dir;
        test::ProgramRun run(dir.path());
        run.start();
        const QString host = u"pop.test"_s;
        run.pop.addMailbox(
            host, u"me"_s, u"secret"_s,
            {TestMessage().from("Colleague <colleague@example.com>").subject("Notes").text(),
             TestMessage().from("offers@junk.example").subject("Great offers").text(),
             "X-Spam-Score: 5.0\r\n" + TestMessage().from("a@example.net").subject("Scored").text(),
             TestMessage().from("more@junk.example").subject("More offers").text()});
        run.addAccount({u"Home"_s, host, u"110"_s, u"me"_s, u"secret"_s, u"me@example.net"_s});
        run.main()->acctdrop->actions().value(0)->trigger();
        QTRY_VERIFY(run.main()->session().rows().size() == 4 && !run.main()->operationRunning());
        const auto marks = [&] {
            QList<RowMark> m;
            for (const HeaderRow &row : run.main()->session().rows())
                m << row.Mark;
            return m;
        };
        using enum RowMark;
        QCOMPARE(marks(), (QList<RowMark>{Plain, Plain, Spam, Plain}));
        run.main()->session().setMark(3, Delete);
        const QAbstractItemModel *rows = run.main()->lvHeaders->model();
        QVERIFY(!rows->index(1, 0).data(Qt::ForegroundRole).isValid());

        run.main()->RulesandLists1->trigger();
        RulesWindow *rules = run.shell.rulesWindow();
        rules->addEmailButton->click();
        run.shell.listEntryDialog()->entryEdit->setText(u"@junk.example"_s);
        run.shell.listEntryDialog()->okButton->click();
        QCOMPARE(marks(), (QList<RowMark>{Plain, Spam, Spam, Delete}));
        QVERIFY(rows->index(1, 0).data(Qt::ForegroundRole).isValid());

        rules->addFriendlyButton->click();
        run.shell.listEntryDialog()->entryEdit->setText(u"colleague@example.com"_s);
        run.shell.listEntryDialog()->okButton->click();
        QCOMPARE(marks(), (QList<RowMark>{Friendly, Spam, Spam, Delete}));

        // The spam score rule, ticked off, no longer marks the scored message.
        QVERIFY(rules->fixedRulesList->model()->setData(rules->fixedRulesList->model()->index(3, 0),
                                                        Qt::Unchecked, Qt::CheckStateRole));
        QCOMPARE(marks(), (QList<RowMark>{Friendly, Spam, Plain, Delete}));

        Fixture::select(rules->emailList, 0);
        rules->deleteEmailButton->click();
        QCOMPARE(marks(), (QList<RowMark>{Friendly, Plain, Plain, Delete}));
        QVERIFY(!rows->index(1, 0).data(Qt::ForegroundRole).isValid());
        QCOMPARE(run.prompts.shown.size(), 0);
    }
};

QTEST_MAIN(TestRulesWindow)
#include "tst_ruleswindow.moc"
