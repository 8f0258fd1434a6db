// The main window against a fake POP3 server: the states of a mailbox check, disconnecting,
// the marking commands and row colours, the selection line and the add-to-list commands.

#include "../uitestsupport.h"

#include "testmessage.h"
#include "ui/records/headerswindow.h"
#include "ui/rules/listentrydialog.h"
#include "ui/rules/wordpairdialog.h"
#include "ui/screening/headerlistmodel.h"

#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

using namespace Qt::StringLiterals;
using corvane::test::TestMessage;
using namespace corvane;
using namespace corvane::test;

namespace {

const QString kHost = u"pop.test"_s;

// Plain, Friendly, Spam (subject black list), Spam (e-mail black list).
const QList<QByteArray> kMailbox = {
    TestMessage().from("Colleague <colleague@example.com>").subject("Meeting notes").text(),
    TestMessage().from("Friend <friend@example.org>").subject("Lunch tomorrow").text(),
    TestMessage().from("Spam King <king@spam.example>").subject("Re: Details").text(),
    TestMessage().from("offers@junk.example").subject("Great offers").text(),
};

QList<int> marks(TfrmMain *main) {
    QList<int> result;
    for (const HeaderRow &row : main->session().rows())
        result << int(row.Mark);
    return result;
}

constexpr int P = int(RowMark::Plain), F = int(RowMark::Friendly), S = int(RowMark::Spam),
              D = int(RowMark::Delete), B = int(RowMark::Bounce);

} // namespace

class TestMainWindow final : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ProgramRun> m_run;

    TfrmMain *main() { return m_run->main(); }

    // A started program with one account on kHost holding the given messages.
    void startWith(const QList<QByteArray> &messages, const QString &password = u"secret"_s) {
        m_run = std::make_unique<ProgramRun>(m_dir->path());
        m_run->start();
        m_run->pop.addMailbox(kHost, u"me"_s, u"secret"_s, messages);
        m_run->shell.lists().Friendly.add(u"friend@example.org"_s, {});
        m_run->shell.lists().EmailBlack.add(u"@junk.example"_s, {});
        m_run->addAccount({u"Home"_s, kHost, u"110"_s, u"me"_s, password, u"me@example.net"_s});
    }

    // Checks the first account through the tool button's menu.
    void check() {
        QAction *item = m_run->main()->acctdrop->actions().value(0);
        QVERIFY(item && item->isEnabled());
        item->trigger();
        QTRY_VERIFY(!m_run->pop.commandsTo(kHost).isEmpty() && !main()->operationRunning());
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void cleanup() {
        if (m_run && main()->isVisible())
            main()->close();
        m_run.reset();
    }

    void initialState() {
        startWith({});
        QCOMPARE(main()->windowTitle(), u"Corvane v1.0 - Protecting you from spam!"_s);
        QCOMPARE(main()->pnlServerName->text(), u"Idle..."_s);
        QVERIFY(main()->Label1->isHidden());
        QCOMPARE(main()->lvHeaders->model()->columnCount(), 6);
        const QStringList headings = {u"Subject"_s,          u"From"_s, u"To"_s, u"Date"_s,
                                      u"Size ( in Bytes)"_s, u"Score"_s};
        for (int c = 0; c < 6; ++c)
            QCOMPARE(main()->lvHeaders->model()->headerData(c, Qt::Horizontal).toString(),
                     headings[c]);
        QCOMPARE(main()->lvHeaders->header()->sectionSize(1), 140);
        // No heading is cut: "Size ( in Bytes)" is wider than 85 pixels in most fonts.
        for (int c = 1; c < 6; ++c)
            QVERIFY(main()->lvHeaders->header()->sectionSize(c) >=
                    main()->lvHeaders->header()->sectionSizeHint(c));
        // Processing, automatic mode, the viewer, the options, the lists, the update and help are
        // there.
        for (const char *name : {"ProcessMessages1", "ViewEmail1", "Viewheaders1", "Options1",
                                 "RulesandLists1", "Checkforupdates1", "Help2"})
            QVERIFY2(main()->findChild<QAction *>(QLatin1StringView(name))->isEnabled(), name);
        for (const char *name : {"ToolButton1", "ToolButton3", "ToolButton7"})
            QVERIFY2(main()->findChild<QToolButton *>(QLatin1StringView(name))->isEnabled(), name);
        QVERIFY(main()->findChild<QToolButton *>(u"ToolButton14"_s)->isEnabled());
        QVERIFY(main()->findChild<QAction *>(u"Disconnect"_s)->isEnabled());
    }

    void checkStates_data() {
        QTest::addColumn<int>("messages");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("activity");   // status panel 1 afterwards
        QTest::addColumn<QString>("server");     // the server-name panel
        QTest::addColumn<QStringList>("errors"); // boxes shown
        QTest::addColumn<bool>("commands");      // check button and the three main menus
        QTest::addColumn<bool>("contextMenu");

        const QString refused = u"Could not log in to \"pop.test\": the server refused the user "
                                u"name or password.\nThe server answered: [AUTH] Authentication "
                                u"failed."_s;
        QTest::newRow("with rows")
            << 4 << u"secret"_s << u"Connected"_s << kHost << QStringList() << true << true;
        QTest::newRow("empty mailbox") << 0 << u"secret"_s << u"No messages found"_s << kHost
                                       << QStringList() << false << false;
        QTest::newRow("wrong password") << 4 << u"wrong"_s << u"Not connected"_s << u"Idle..."_s
                                        << QStringList{refused} << true << false;
    }
    void checkStates() {
        QFETCH(int, messages);
        QFETCH(QString, password);
        startWith(kMailbox.mid(0, messages), password);
        check();
        QFETCH(QString, activity);
        QCOMPARE(main()->panelText(1), activity);
        QFETCH(QString, server);
        QCOMPARE(main()->pnlServerName->text(), server);
        // The panel names the account with its host while connected.
        QCOMPARE(main()->pnlServerName->caption(),
                 server == kHost ? u"Home \u2013 "_s + kHost : server);
        QFETCH(QStringList, errors);
        QCOMPARE(m_run->prompts.takeTexts(), errors);
        QFETCH(bool, commands);
        QCOMPARE(main()->ToolButton14->isEnabled(), commands);
        QCOMPARE(main()->Program1->menuAction()->isEnabled(), commands);
        QCOMPARE(main()->Accounts1->menuAction()->isEnabled(), commands);
        QCOMPARE(main()->EmailOptions1->menuAction()->isEnabled(), commands);
        QCOMPARE(main()->ToolButton1->property("stateEnabled").toBool(), commands);
        QCOMPARE(main()->ToolButton7->property("stateEnabled").toBool(), commands);
        QVERIFY(main()->MarkEmail1->menuAction()->isEnabled());
        QVERIFY(main()->Help1->menuAction()->isEnabled());
        QFETCH(bool, contextMenu);
        QCOMPARE(main()->Markthisemailfordeletion1->isEnabled(), contextMenu);
        QCOMPARE(main()->Addsubjecttoblacklist2->isEnabled(), contextMenu);
        QCOMPARE(TfrmMain::stateEnabled(main()->ViewMessage1), contextMenu);
        // Disconnecting is possible in every one of these states.
        QVERIFY(main()->ToolButton2->isEnabled());
        const bool loggedIn = password == u"secret"_s;
        QCOMPARE(main()->lvHeaders->model()->rowCount(), loggedIn ? messages : 0);
        if (loggedIn) {
            QCOMPARE(main()->panelText(2), QString::number(messages));
            QCOMPARE(main()->panelText(3), u"Mail takes up 0K on the server"_s);
        }
    }

    void scanListsRowsWithMarksAndColours() {
        startWith(kMailbox);
        check();
        QCOMPARE(marks(main()), (QList<int>{P, F, S, S}));
        QCOMPARE(main()->panelText(0), u"No message selected"_s);
        QAbstractItemModel *model = main()->lvHeaders->model();
        QCOMPARE(model->index(1, 0).data().toString(), u"Lunch tomorrow"_s);
        QCOMPARE(model->index(2, 1).data().toString(), u"Spam King <king@spam.example>"_s);
        QCOMPARE(model->index(2, 2).data().toString(), u"Me <me@example.net>"_s);
        QVERIFY(model->index(2, 4).data().toInt() > 0);
        QVERIFY(!model->index(0, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
        QCOMPARE(model->index(2, 0).data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
        QCOMPARE(model->index(1, 3).data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::blue));
        QVERIFY(!model->index(0, 0).data(Qt::ForegroundRole).isValid());
        // A colour changed in the options shows at the next repaint.
        m_run->shell.settings().colorban = 0x00FF00;
        QCOMPARE(model->index(3, 0).data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::green));
        // Only headers and, for the learner, their first body lines were fetched, each with
        // its size.
        const QList<QByteArray> sent = m_run->pop.commandsTo(kHost);
        QVERIFY(main()->session().learningActive());
        const QByteArray top = "TOP 4 " + QByteArray::number(Settings().bodylines);
        QVERIFY2(sent.contains(top) && sent.contains("LIST 4"), top.constData());
        QVERIFY(!sent.contains("RETR 1"));
    }

    void selectionLine() {
        QList<QByteArray> seven;
        for (int i = 0; i < 7; ++i)
            seven << TestMessage()
                         .from("someone@example.com")
                         .subject("Note " + QByteArray::number(i))
                         .text();
        startWith(seven);
        check();
        clickRow(main(), 4);
        QCOMPARE(main()->panelText(0), u"Message 5 of 7 selected"_s);
        // A click on no row leaves the line as it was.
        QTest::mouseClick(main()->lvHeaders->viewport(), Qt::LeftButton, {},
                          QPoint(5, main()->lvHeaders->viewport()->height() - 3));
        QCOMPARE(main()->panelText(0), u"Message 5 of 7 selected"_s);
    }

    void disconnectKeepsEveryMessage() {
        startWith(kMailbox);
        check();
        clickRow(main(), 2);
        main()->Markfordeletion1->trigger();
        m_run->pop.clearCommands();
        main()->ToolButton2->click();
        QTRY_VERIFY(!main()->operationRunning());
        QCOMPARE(m_run->pop.commandsTo(kHost), (QList<QByteArray>{"RSET", "QUIT"}));
        QCOMPARE(m_run->pop.messages(kHost).size(), 4);
        QCOMPARE(main()->lvHeaders->model()->rowCount(), 0);
        for (int panel = 0; panel < 4; ++panel)
            QCOMPARE(main()->panelText(panel), QString());
        QCOMPARE(main()->pnlServerName->text(), u"Idle..."_s);
        QVERIFY(main()->ToolButton14->isEnabled());
        // Disconnecting again with nothing open still resets the window, silently.
        main()->ToolButton2->click();
        QVERIFY(m_run->prompts.shown.isEmpty());
    }

    void marking_data() {
        QTest::addColumn<int>("row"); // -1: none selected
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<QList<int>>("expected");
        QTest::addColumn<QStringList>("errors");

        const QStringList none;
        // Unmarking gives each row back its classification: a friendly row never becomes
        // spam, where the next "mark all spam for deletion" would reach it.
        QTest::newRow("delete a friendly row, then unmark all: friendly again")
            << 1
            << QStringList{u"Markfordeletion1"_s, u"Unmarkallfordeletion1"_s,
                           u"Markallspamfordeletion1"_s}
            << QList<int>{P, F, D, D} << none;
        QTest::newRow("delete a plain row, unmark all: plain again")
            << 0 << QStringList{u"Markfordeletion1"_s, u"Unmarkallfordeletion1"_s}
            << QList<int>{P, F, S, S} << none;
        QTest::newRow("all spam for deletion leaves plain, friendly and bounce")
            << 0 << QStringList{u"Markforbouncing1"_s, u"Markallspamfordeletion1"_s}
            << QList<int>{B, F, D, D} << none;
        QTest::newRow("bounce over delete survives unmark for deletion")
            << 2
            << QStringList{u"Markfordeletion1"_s, u"Markforbouncing1"_s, u"Unmarkallfordeletion1"_s}
            << QList<int>{P, F, B, S} << none;
        QTest::newRow("context menu bounce marks the selected row only")
            << 3 << QStringList{u"Markthisemailforbouncing1"_s} << QList<int>{P, F, S, B} << none;
        QTest::newRow("context menu deletion")
            << 0 << QStringList{u"Markthisemailfordeletion1"_s} << QList<int>{D, F, S, S} << none;
        QTest::newRow("all spam for bouncing")
            << -1 << QStringList{u"Markallspamforbouncing1"_s} << QList<int>{P, F, B, B} << none;
        QTest::newRow("unmark all for bouncing gives the classification")
            << 1
            << QStringList{u"Markforbouncing1"_s, u"Markallspamforbouncing1"_s,
                           u"Unmarkallforbouncing1"_s}
            << QList<int>{P, F, S, S} << none;
        QTest::newRow("no selection")
            << -1 << QStringList{u"Markfordeletion1"_s, u"Markforbouncing1"_s}
            << QList<int>{P, F, S, S}
            << QStringList{u"You must select an email to mark it"_s,
                           u"You must select an email to mark it"_s};
    }
    void marking() {
        QFETCH(int, row);
        QFETCH(QStringList, commands);
        startWith(kMailbox);
        check();
        if (row >= 0)
            clickRow(main(), row);
        for (const QString &name : commands) {
            auto *command = main()->findChild<QAction *>(name);
            QVERIFY2(command && command->isEnabled(), qPrintable(name));
            command->trigger();
        }
        QFETCH(QList<int>, expected);
        QCOMPARE(marks(main()), expected);
        QFETCH(QStringList, errors);
        QCOMPARE(m_run->prompts.takeTexts(), errors);
        // Marking keeps the selection, and each row is drawn in its mark's colour.
        QCOMPARE(main()->selectedRow(), qsizetype(row));
        QAbstractItemModel *model = main()->lvHeaders->model();
        for (int r = 0; r < expected.size(); ++r) {
            const QVariant colour = model->index(r, 1).data(Qt::ForegroundRole);
            if (expected[r] == S)
                QCOMPARE(colour.value<QColor>(), QColor(Qt::red));
            else if (expected[r] == F)
                QCOMPARE(colour.value<QColor>(), QColor(Qt::blue));
            else
                QVERIFY(!colour.isValid());
            QCOMPARE(model->index(r, 0).data(HeaderListModel::MarkRole).toInt(), expected[r]);
        }
    }

    // Sorting the list by any column changes only what the user sees: the selection, the marks
    // and the headers shown still belong to the message clicked.
    void sortedList_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("order");
        QTest::addColumn<QStringList>("subjects"); // top to bottom
        // Sizes 300, 5000, 40 and 1200 bytes: as numbers, not as texts.
        QTest::newRow("size, ascending")
            << 4 << int(Qt::AscendingOrder)
            << QStringList{u"Charlie"_s, u"alpha"_s, u"Delta"_s, u"bravo"_s};
        QTest::newRow("size, descending")
            << 4 << int(Qt::DescendingOrder)
            << QStringList{u"bravo"_s, u"Delta"_s, u"alpha"_s, u"Charlie"_s};
        // Dates of 2026, 2025, 2024 and 1999: by date, not by the text of the short date.
        QTest::newRow("date, ascending")
            << 3 << int(Qt::AscendingOrder)
            << QStringList{u"Delta"_s, u"Charlie"_s, u"bravo"_s, u"alpha"_s};
        // Subjects ignore case.
        QTest::newRow("subject, ascending")
            << 0 << int(Qt::AscendingOrder)
            << QStringList{u"alpha"_s, u"bravo"_s, u"Charlie"_s, u"Delta"_s};
        QTest::newRow("from, descending")
            << 1 << int(Qt::DescendingOrder)
            << QStringList{u"Delta"_s, u"Charlie"_s, u"bravo"_s, u"alpha"_s};
    }
    void sortedList() {
        const auto message = [](const char *from, const char *subject, const char *date, int size) {
            return TestMessage()
                .from(from)
                .subject(subject)
                .date(date)
                .body(QByteArray(size, 'x'))
                .text();
        };
        startWith({message("a@example.com", "alpha", "Tue, 1 Dec 2026 10:00:00 +0000", 300),
                   message("B@example.com", "bravo", "Mon, 1 Dec 2025 10:00:00 +0000", 5000),
                   message("c@example.com", "Charlie", "Sun, 1 Dec 2024 10:00:00 +0000", 40),
                   message("D@example.com", "Delta", "Wed, 1 Dec 1999 10:00:00 +0000", 1200)});
        check();
        QFETCH(int, column);
        QFETCH(int, order);
        QHeaderView *header = main()->lvHeaders->header();
        // A click on the heading sorts ascending, a second one descending.
        const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, 5));
        if (order == Qt::DescendingOrder)
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, 5));
        QAbstractItemModel *model = main()->lvHeaders->model();
        QStringList shown;
        for (int r = 0; r < model->rowCount(); ++r)
            shown << model->index(r, 0).data().toString();
        QFETCH(QStringList, subjects);
        QCOMPARE(shown, subjects);

        // The second row from the top, whichever message it is, gets the mark and the
        // selection line of its own message number.
        const qsizetype number = main()->session().rows().indexOf(
            *std::find_if(main()->session().rows().cbegin(), main()->session().rows().cend(),
                          [&](const HeaderRow &r) { return r.Subject == subjects[1]; }));
        clickRow(main(), 1);
        QCOMPARE(main()->selectedRow(), number);
        QCOMPARE(main()->panelText(0), u"Message %1 of 4 selected"_s.arg(number + 1));
        main()->Markfordeletion1->trigger();
        QCOMPARE(main()->session().rows().at(number).Mark, RowMark::Delete);
        QCOMPARE(model->index(1, 0).data(HeaderListModel::MarkRole).toInt(), D);
        m_run->pop.clearCommands();
        main()->Viewheaders1->trigger();
        QTRY_VERIFY(!m_run->pop.commandsTo(kHost).isEmpty() && !main()->operationRunning());
        QCOMPARE(m_run->pop.commandsTo(kHost),
                 QList<QByteArray>{"TOP " + QByteArray::number(number + 1) + " 0"});
        // A third click on the heading goes back to message order.
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, 5));
        if (order == Qt::AscendingOrder)
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, 5));
        QCOMPARE(model->index(0, 0).data().toString(), u"alpha"_s);
        QCOMPARE(model->index(3, 0).data().toString(), u"Delta"_s);
    }

    // The list's keys and the double-click; Delete works through the menu's shortcut.
    void listKeys_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<QList<int>>("expected");
        QTest::addColumn<bool>("headersShown");
        QTest::newRow("Delete marks for deletion")
            << 0 << QList<int>{Qt::Key_Delete} << QList<int>{D, F, S, S} << false;
        QTest::newRow("Space marks a friendly row")
            << 1 << QList<int>{Qt::Key_Space} << QList<int>{P, D, S, S} << false;
        // Taking a mark back gives the row what the lists say of it, not "spam".
        QTest::newRow("Space twice gives the friendly row back")
            << 1 << QList<int>{Qt::Key_Space, Qt::Key_Space} << QList<int>{P, F, S, S} << false;
        QTest::newRow("Space on a spam row marked for deletion")
            << 2 << QList<int>{Qt::Key_Delete, Qt::Key_Space} << QList<int>{P, F, S, S} << false;
        QTest::newRow("Enter shows the headers")
            << 3 << QList<int>{Qt::Key_Return} << QList<int>{P, F, S, S} << true;
    }
    void listKeys() {
        QFETCH(int, row);
        QFETCH(QList<int>, keys);
        startWith(kMailbox);
        check();
        clickRow(main(), row);
        m_run->pop.clearCommands();
        main()->lvHeaders->setFocus();
        for (const int key : keys)
            QTest::keyClick(main()->lvHeaders, Qt::Key(key));
        QFETCH(QList<int>, expected);
        QCOMPARE(marks(main()), expected);
        QFETCH(bool, headersShown);
        QTRY_COMPARE(m_run->shell.headersWindow()->isVisible(), headersShown);
        QCOMPARE(m_run->pop.commandsTo(kHost).contains("TOP " + QByteArray::number(row + 1) + " 0"),
                 headersShown);
        QVERIFY(m_run->prompts.shown.isEmpty());
    }

    void doubleClickShowsHeaders() {
        startWith(kMailbox);
        check();
        m_run->pop.clearCommands();
        QTreeView *view = main()->lvHeaders;
        const QPoint at = view->visualRect(view->model()->index(2, 1)).center();
        // The press of the first click, then the second one.
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
        QTRY_VERIFY(m_run->shell.headersWindow()->isVisible());
        QCOMPARE(m_run->pop.commandsTo(kHost), QList<QByteArray>{"TOP 3 0"});
    }

    // A marked row shows its mark in its font as well as its picture: struck through (and
    // slanted for bouncing), which neither the selection's colours nor the row colours hide.
    // The status bar counts the marks.
    void marksAreVisibleAndCounted() {
        startWith(kMailbox);
        check();
        QCOMPARE(main()->marksText(), QString());
        QAbstractItemModel *model = main()->lvHeaders->model();
        for (int c = 0; c < 5; ++c)
            QVERIFY(!model->index(2, c).data(Qt::FontRole).value<QFont>().strikeOut());
        main()->Markallspamfordeletion1->trigger();
        QCOMPARE(main()->marksText(), u"2 marked for deletion"_s);
        clickRow(main(), 0);
        main()->Markforbouncing1->trigger();
        QCOMPARE(main()->marksText(), u"2 marked for deletion, 1 for bouncing"_s);
        for (int c = 0; c < 5; ++c) {
            const QFont deletion = model->index(2, c).data(Qt::FontRole).value<QFont>();
            QVERIFY(deletion.strikeOut() && !deletion.italic());
            const QFont bouncing = model->index(0, c).data(Qt::FontRole).value<QFont>();
            QVERIFY(bouncing.strikeOut() && bouncing.italic());
            QVERIFY(!model->index(1, c).data(Qt::FontRole).value<QFont>().strikeOut());
        }
        QVERIFY(model->index(2, 1).data(Qt::ToolTipRole).toString().contains(u"deletion"_s));
        main()->Unmarkallfordeletion1->trigger();
        QCOMPARE(main()->marksText(), u"1 marked for bouncing"_s);
        // The count goes with the rows.
        main()->ToolButton2->click();
        QTRY_VERIFY(!main()->operationRunning());
        QCOMPARE(main()->marksText(), QString());
    }

    // Closing with marked rows asks first: the marks would be dropped unprocessed.
    // A close the system asks for (logout, SIGTERM) never waits for an answer.
    void closingWithMarksAsks_data() {
        QTest::addColumn<bool>("marked");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("system");
        QTest::addColumn<bool>("closed");
        QTest::newRow("nothing marked") << false << int(QMessageBox::No) << false << true;
        QTest::newRow("marked, No") << true << int(QMessageBox::No) << false << false;
        QTest::newRow("marked, Yes") << true << int(QMessageBox::Yes) << false << true;
        QTest::newRow("marked, the system quits") << true << int(QMessageBox::No) << true << true;
    }
    void closingWithMarksAsks() {
        QFETCH(bool, marked);
        QFETCH(int, answer);
        QFETCH(bool, system);
        startWith(kMailbox);
        check();
        if (marked) {
            clickRow(main(), 1);
            main()->Markfordeletion1->trigger();
        }
        m_run->prompts.answers = {QMessageBox::StandardButton(answer)};
        if (system)
            main()->closeForSystem();
        else
            main()->close();
        QFETCH(bool, closed);
        QCOMPARE(main()->isVisible(), !closed);
        QCOMPARE(m_run->prompts.shown.size(), marked && !system ? 1 : 0);
        marked = marked && !system;
        if (marked) {
            QVERIFY(m_run->prompts.shown.first().text.contains(u"1 marked for deletion"_s));
        }
        // Nothing was deleted either way.
        QCOMPARE(m_run->pop.messages(kHost).size(), 4);
        if (!closed) {
            m_run->prompts.answers = {QMessageBox::Yes};
            main()->close();
            QVERIFY(!main()->isVisible());
        }
    }

    // The window opens where it was closed, with the column widths the user set, but never
    // larger than the screen's available area nor partly outside it.
    void windowPlace_data() {
        QTest::addColumn<QByteArray>("saved"); // the state file; empty: none
        QTest::addColumn<QRect>("area");
        QTest::addColumn<QRect>("expected"); // empty: anywhere inside the area
        const QRect large(0, 0, 1600, 1000);
        QTest::newRow("saved place") << QByteArray("geometry=30,40,900,450\ncolumns=200,0,0,0\n")
                                     << large << QRect(30, 40, 900, 450);
        QTest::newRow("saved larger than the screen")
            << QByteArray("geometry=0,0,3200,2000\n") << large << QRect();
        QTest::newRow("saved partly off the screen")
            << QByteArray("geometry=1400,900,800,500\n") << large << QRect();
        QTest::newRow("saved on a screen that is gone")
            << QByteArray("geometry=-3000,200,800,500\n") << large << QRect();
        QTest::newRow("first start on a small screen")
            << QByteArray() << QRect(0, 0, 800, 500) << QRect();
        QTest::newRow("damaged file")
            << QByteArray("geometry=a,b\ncolumns=x\n") << QRect(100, 50, 1200, 900) << QRect();
    }
    void windowPlace() {
        QFETCH(QByteArray, saved);
        QFETCH(QRect, area);
        m_run = std::make_unique<ProgramRun>(m_dir->path());
        if (!saved.isEmpty()) {
            QFile file(m_dir->filePath(u"mainwindow.state"_s));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(saved);
        }
        m_run->shell.start();
        main()->setScreenArea([area] { return area; });
        main()->show();
        QFETCH(QRect, expected);
        const QRect placed = main()->geometry();
        if (!expected.isEmpty())
            QCOMPARE(placed, expected);
        QVERIFY2(area.contains(placed), qPrintable(u"%1,%2 %3x%4"_s.arg(placed.x())
                                                       .arg(placed.y())
                                                       .arg(placed.width())
                                                       .arg(placed.height())));
        if (saved.contains("columns=200"))
            QCOMPARE(main()->lvHeaders->header()->sectionSize(1), 200);
    }

    // What the user set is what the next start shows.
    void windowPlaceIsRemembered() {
        startWith(kMailbox);
        main()->setGeometry(60, 70, 920, 480);
        main()->lvHeaders->header()->resizeSection(2, 222);
        main()->close();
        QVERIFY(!main()->isVisible());
        m_run.reset();
        m_run = std::make_unique<ProgramRun>(m_dir->path());
        m_run->shell.start();
        main()->setScreenArea([] { return QRect(0, 0, 1600, 1000); });
        main()->show();
        QCOMPARE(main()->geometry(), QRect(60, 70, 920, 480));
        QCOMPARE(main()->lvHeaders->header()->sectionSize(2), 222);
        // The columns left to their contents follow the next mailbox's rows.
        m_run->pop.addMailbox(kHost, u"me"_s, u"secret"_s, kMailbox);
        check();
        QVERIFY(main()->lvHeaders->header()->sectionSize(1) != 140);
        QCOMPARE(main()->lvHeaders->header()->sectionSize(2), 222);
    }

    void addToLists_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("entry"); // the first field as the dialog opens
        QTest::addColumn<int>("list");
        QTest::addColumn<QList<int>>("marks"); // the rows' marks afterwards

        const QString from = u"Spam King <king@spam.example>"_s;
        QTest::newRow("email to black list")
            << u"Addemailtoblacklist1"_s << 2 << u"Add Email To Blacklist"_s << from
            << int(ListKind::EmailBlack) << QList<int>{P, F, S, S};
        QTest::newRow("email to black list, context menu")
            << u"Addemailtoblacklist2"_s << 2 << u"Add Email To Blacklist"_s << from
            << int(ListKind::EmailBlack) << QList<int>{P, F, S, S};
        QTest::newRow("email to friendly list")
            << u"Addemailtofriendlylist1"_s << 2 << u"Add A Friendly Email"_s << from
            << int(ListKind::Friendly) << QList<int>{P, F, F, S};
        QTest::newRow("subject to black list")
            << u"Addsubjecttoblacklist1"_s << 0 << u"Add Subject To Blacklist"_s
            << u"Meeting notes"_s << int(ListKind::SubjectBlack) << QList<int>{S, F, S, S};
        QTest::newRow("subject to black list, context menu")
            << u"Addsubjecttoblacklist2"_s << 0 << u"Add Subject To Blacklist"_s
            << u"Meeting notes"_s << int(ListKind::SubjectBlack) << QList<int>{S, F, S, S};
        QTest::newRow("subject to x y list")
            << u"Addsubjecttoxyblacklist1"_s << 3 << u"Subject x and y to blacklist"_s
            << u"Great offers"_s << int(ListKind::XandY) << QList<int>{P, F, S, S};
    }
    void addToLists() {
        QFETCH(QString, command);
        QFETCH(int, row);
        startWith(kMailbox);
        check();
        clickRow(main(), row);
        RuleLists &lists = m_run->shell.lists();
        const RuleLists before = lists;
        main()->findChild<QAction *>(command)->trigger();

        QFETCH(int, list);
        const auto kind = ListKind(list);
        QDialog *dialog = kind == ListKind::XandY
                              ? static_cast<QDialog *>(m_run->shell.wordPairDialog())
                              : m_run->shell.listEntryDialog();
        QVERIFY(dialog->isVisible());
        QFETCH(QString, title);
        QCOMPARE(dialog->windowTitle(), title);
        auto *edit1 = dialog->findChild<QLineEdit *>(kind == ListKind::XandY ? u"firstWordEdit"_s
                                                                             : u"entryEdit"_s);
        QFETCH(QString, entry);
        QCOMPARE(edit1->text(), entry);
        // A pair needs its second word.
        if (kind == ListKind::XandY)
            dialog->findChild<QLineEdit *>(u"secondWordEdit"_s)->setText(u"today"_s);
        dialog->findChild<QPushButton *>(u"okButton"_s)->click();
        QVERIFY(!dialog->isVisible());
        QVERIFY(edit1->text().isEmpty());

        // One entry more in the target list, stored as it stood in the field; no other list
        // changed.
        for (const ListKind k : kAllListKinds) {
            if (k != kind) {
                QCOMPARE(lists.list(k).entries(), before.list(k).entries());
                continue;
            }
            QCOMPARE(lists.list(k).size(), before.list(k).size() + 1);
            bool found = false;
            for (const RuleEntry &e : lists.list(k))
                found = found || e.Caption == entry;
            QVERIFY(found);
        }
        // The rows already listed show at once what the changed list makes of them.
        QFETCH(QList<int>, marks);
        QCOMPARE(::marks(main()), marks);
        QVERIFY(m_run->prompts.shown.isEmpty());
    }

    // "This is spam" and "This is not spam" from the Mark Email menu and the context menu: the
    // row is learned and marked or unmarked; once both kinds are learned every row has a score
    // in the Score column, the list sorts by it, and each row's tool tip says why it has its
    // mark.
    void trainingCommandsScoreAndExplainRows() {
        startWith(kMailbox);
        check();
        LearningStore &store = m_run->shell.data().learning();
        QVERIFY(store.isOpen());
        QVERIFY(main()->session().learningActive());
        QAbstractItemModel *model = main()->lvHeaders->model();
        // Nothing learned yet: no score, an empty cell.
        for (int r = 0; r < 4; ++r)
            QCOMPARE(model->index(r, HeaderListModel::ScoreColumn).data().toString(), QString());

        for (const char *name : {"markAsSpamAction", "markAsNotSpamAction"}) {
            QAction *action = main()->findChild<QAction *>(QLatin1StringView(name));
            QVERIFY2(action && !action->shortcut().isEmpty(), name);
            QVERIFY2(main()->MarkEmail1->actions().contains(action), name);
        }
        for (const char *name : {"markAsSpamContextAction", "markAsNotSpamContextAction"})
            QVERIFY2(main()->PopupMenu1->actions().contains(
                         main()->findChild<QAction *>(QLatin1StringView(name))),
                     name);

        // The colleague's mail is spam after all: learned, and marked for deletion.
        clickRow(main(), 0);
        main()->findChild<QAction *>(u"markAsSpamContextAction"_s)->trigger();
        QCOMPARE(store.spamMessages(), 1u);
        QCOMPARE(::marks(main()), (QList<int>{D, F, S, S}));
        // Only one kind learned: still no score.
        QCOMPARE(model->index(0, HeaderListModel::ScoreColumn).data().toString(), QString());

        // A correction: not spam. Unlearned as spam, learned as ham, the deletion mark gone.
        main()->findChild<QAction *>(u"markAsNotSpamAction"_s)->trigger();
        QCOMPARE(store.spamMessages(), 0u);
        QCOMPARE(store.hamMessages(), 1u);
        QCOMPARE(::marks(main()), (QList<int>{P, F, S, S}));

        // The black-listed offer is spam: now both kinds are known and every row is scored.
        clickRow(main(), 3);
        main()->findChild<QAction *>(u"markAsSpamAction"_s)->trigger();
        QCOMPARE(store.spamMessages(), 1u);
        QCOMPARE(::marks(main()), (QList<int>{P, F, S, D}));
        QVERIFY(m_run->prompts.shown.isEmpty());
        const QList<HeaderRow> &rows = main()->session().rows();
        for (int r = 0; r < 4; ++r) {
            const HeaderRow &row = rows.at(r);
            QVERIFY2(row.LearnedScore >= 0 && row.LearnedScore <= 100, qPrintable(row.Subject));
            QCOMPARE(model->index(r, HeaderListModel::ScoreColumn).data().toString(),
                     QString::number(row.LearnedScore));
            // Every mark says why, in every cell's tool tip.
            QVERIFY2(!row.Reason.isEmpty(), qPrintable(row.Subject));
            for (const int column :
                 {int(HeaderListModel::SubjectColumn), int(HeaderListModel::ScoreColumn)})
                QVERIFY2(model->index(r, column)
                             .data(Qt::ToolTipRole)
                             .toString()
                             .contains(u"Why: "_s + row.Reason),
                         qPrintable(row.Subject));
        }
        QVERIFY(rows.at(0).LearnedScore < rows.at(3).LearnedScore);
        QVERIFY(model->index(3, 0)
                    .data(Qt::ToolTipRole)
                    .toString()
                    .contains(u"(marked for deletion)"_s));

        // Sorting by score, highest first, puts the learned spam on top.
        main()->lvHeaders->sortByColumn(HeaderListModel::ScoreColumn, Qt::DescendingOrder);
        QCOMPARE(model->index(0, HeaderListModel::SubjectColumn).data().toString(),
                 u"Great offers"_s);
        main()->lvHeaders->sortByColumn(HeaderListModel::ScoreColumn, Qt::AscendingOrder);
        QCOMPARE(model->index(0, HeaderListModel::SubjectColumn).data().toString(),
                 u"Meeting notes"_s);
    }

    // Without learning for the check, the training commands say so and change no mark.
    void trainingNeedsLearning() {
        startWith(kMailbox);
        m_run->shell.settings().learning = false;
        check();
        QVERIFY(!main()->session().learningActive());
        clickRow(main(), 0);
        main()->findChild<QAction *>(u"markAsSpamAction"_s)->trigger();
        const QStringList texts = m_run->prompts.takeTexts();
        QCOMPARE(texts.size(), 1);
        QVERIFY2(texts.first().contains(u"Learning is off"_s), qPrintable(texts.first()));
        QCOMPARE(::marks(main()), (QList<int>{P, F, S, S}));
        QCOMPARE(m_run->shell.data().learning().spamMessages(), 0u);
        QCOMPARE(model()->index(0, HeaderListModel::ScoreColumn).data().toString(), QString());
    }
    QAbstractItemModel *model() { return main()->lvHeaders->model(); }

    // A sender added to the friendly list is learned as ham, to the black list as spam; a
    // dialog closed without adding learns nothing.
    void addingSenderLearns_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("add");
        QTest::addColumn<uint>("spam");
        QTest::addColumn<uint>("ham");
        QTest::newRow("friendly") << u"Addemailtofriendlylist1"_s << true << 0u << 1u;
        QTest::newRow("black") << u"Addemailtoblacklist1"_s << true << 1u << 0u;
        QTest::newRow("black, context menu") << u"Addemailtoblacklist2"_s << true << 1u << 0u;
        QTest::newRow("friendly, cancelled") << u"Addemailtofriendlylist1"_s << false << 0u << 0u;
    }
    void addingSenderLearns() {
        QFETCH(QString, command);
        QFETCH(bool, add);
        startWith(kMailbox);
        check();
        clickRow(main(), 2);
        main()->findChild<QAction *>(command)->trigger();
        QDialog *dialog = m_run->shell.listEntryDialog();
        QVERIFY(dialog->isVisible());
        dialog->findChild<QPushButton *>(add ? u"okButton"_s : u"cancelButton"_s)->click();
        QVERIFY(!dialog->isVisible());
        const LearningStore &store = m_run->shell.data().learning();
        QFETCH(uint, spam);
        QFETCH(uint, ham);
        QCOMPARE(store.spamMessages(), spam);
        QCOMPARE(store.hamMessages(), ham);
        QVERIFY(m_run->prompts.shown.isEmpty());
    }

    // A learning file that cannot be read names itself in the status line at start-up and
    // keeps no check from running: the rows are classified by the lists and rules alone.
    void damagedLearningFileNeverBlocksACheck() {
        {
            QFile damaged(m_dir->filePath(u"learning.db"_s));
            QVERIFY(damaged.open(QIODevice::WriteOnly));
            damaged.write(QByteArray(4096, 'x'));
        }
        startWith(kMailbox);
        QVERIFY(m_run->prompts.shown.isEmpty());
        QVERIFY2(main()->panelText(1).contains(u"learning.db"_s) ||
                     main()->panelText(0).contains(u"learning.db"_s) ||
                     main()->panelText(2).contains(u"learning.db"_s),
                 qPrintable(main()->panelText(1)));
        check();
        QVERIFY(!main()->session().learningActive());
        QCOMPARE(::marks(main()), (QList<int>{P, F, S, S}));
        QVERIFY(m_run->prompts.shown.isEmpty());
    }

    void addToListsNeedsSelection_data() {
        QTest::addColumn<QString>("command");
        for (const char *name :
             {"Addemailtoblacklist1", "Addemailtofriendlylist1", "Addsubjecttoblacklist1",
              "Addsubjecttoxyblacklist1", "Addemailtoblacklist2", "Addsubjecttoblacklist2"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void addToListsNeedsSelection() {
        QFETCH(QString, command);
        startWith(kMailbox);
        check();
        main()->findChild<QAction *>(command)->trigger();
        QCOMPARE(m_run->prompts.takeTexts(), QStringList{u"Must select an email first"_s});
        QVERIFY(!m_run->shell.listEntryDialog()->isVisible());
        QVERIFY(!m_run->shell.wordPairDialog()->isVisible());
    }

    void largeScanShowsRowsAsTheyArrive_data() {
        QTest::addColumn<bool>("pipelining");
        QTest::newRow("pipelined") << true;
        QTest::newRow("one command at a time") << false;
    }
    void largeScanShowsRowsAsTheyArrive() {
        // 5,000 messages: while the scan runs, the event loop keeps turning (a timer fires, the
        // list repaints) and the list shows the rows received so far, before the last one.
        QFETCH(bool, pipelining);
        constexpr int count = 5000;
        QList<QByteArray> mailbox;
        mailbox.reserve(count);
        for (int i = 1; i <= count; ++i)
            mailbox << TestMessage()
                           .from("sender" + QByteArray::number(i) + "@example.com")
                           .subject("Note " + QByteArray::number(i))
                           .text();
        startWith(mailbox);
        m_run->shell.settings().pop3pipelining = pipelining;
        QAbstractItemModel *model = main()->lvHeaders->model();

        struct PaintCounter final : QObject {
            TfrmMain *window = nullptr;
            int paints = 0;
            bool eventFilter(QObject *, QEvent *event) override {
                if (event->type() == QEvent::Paint && window->operationRunning())
                    ++paints;
                return false;
            }
        } painted;
        painted.window = main();
        main()->lvHeaders->viewport()->installEventFilter(&painted);

        int ticks = 0;
        int shownMidScan = 0; // rows the list showed while the scan still ran
        bool waiting = false;
        QTimer tick;
        tick.setInterval(0);
        connect(&tick, &QTimer::timeout, this, [&] {
            if (!main()->operationRunning() || waiting)
                return;
            ++ticks;
            const qsizetype received = main()->session().rows().size();
            if (shownMidScan == 0 && received > 0 && received < count) {
                // The rows received so far reach the list in their batch, with no user
                // action and without the scan ending first.
                waiting = true;
                QTRY_VERIFY_WITH_TIMEOUT(model->rowCount() > 0, 10000);
                shownMidScan = model->rowCount();
                waiting = false;
            }
        });
        tick.start();
        m_run->pop.clearCommands();
        check();
        tick.stop();
        main()->lvHeaders->viewport()->removeEventFilter(&painted);

        QVERIFY(ticks > 0);
        QVERIFY(painted.paints > 0);
        QVERIFY2(shownMidScan > 0 && shownMidScan < count,
                 qPrintable(QString::number(shownMidScan)));
        QCOMPARE(model->rowCount(), count);
        QCOMPARE(model->index(0, 0).data().toString(), u"Note 1"_s);
        QCOMPARE(model->index(count - 1, 0).data().toString(), u"Note 5000"_s);
        QCOMPARE(main()->panelText(2), QString::number(count));
        // The window's scan asks for the capabilities and sends its commands ahead of their
        // replies when the setting allows it; otherwise one command per write, and no CAPA.
        const QList<QByteArray> sent = m_run->pop.commandsTo(kHost);
        QCOMPARE(sent.contains("CAPA"), pipelining);
        QCOMPARE(sent.count(), 4 + int(pipelining) + 2 * count); // USER PASS STAT LIST [CAPA] ...
        if (pipelining)
            QVERIFY2(m_run->pop.writes() * 10 < sent.size(),
                     qPrintable(QString::number(m_run->pop.writes())));
        else
            QCOMPARE(m_run->pop.writes(), sent.size());
    }

    void badPortIsReportedBeforeConnecting() {
        startWith(kMailbox);
        m_run->addAccount({u"Broken"_s, kHost, u"11O"_s, u"me"_s, u"secret"_s, QString()});
        main()->acctdrop->actions().value(1)->trigger();
        QTRY_COMPARE(m_run->prompts.shown.size(), 1);
        QVERIFY(m_run->prompts.shown.first().text.contains(u"\"11O\""_s));
        QCOMPARE(m_run->prompts.shown.first().icon, Prompts::Icon::Error);
        QCOMPARE(m_run->prompts.shown.first().title, u"Corvane"_s);
        QVERIFY(m_run->pop.commandsTo(kHost).isEmpty());
        QVERIFY(main()->ToolButton14->isEnabled());
        QVERIFY(main()->Program1->menuAction()->isEnabled());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
