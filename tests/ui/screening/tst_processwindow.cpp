// "Process Messages" in the main window against a fake POP3 server and a scripted SMTP server:
// the rows go from the bottom up, the log and the log window, the archive copies, the bounce
// notice, the question and the reconnect, and the error paths.

#include "../uitestsupport.h"

#include "fakesmtpserver.h"
#include "testmessage.h"
#include "testsupport.h"
#include "ui/records/deletionlogwindow.h"
#include "ui/settings/tfmsetup.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>

using namespace Qt::StringLiterals;
using corvane::test::TestMessage;
using namespace corvane;
using namespace corvane::test;

namespace {

const QString kHost = u"pop.test"_s;
const QDateTime kNow(QDate(2026, 12, 10), QTime(9, 30, 15));

// Rows 2 and 4 (1-based) get marked: 2 for deletion, 4 for bouncing.
const QList<QByteArray> kMailbox = {
    TestMessage()
        .from("Colleague <colleague@example.com>")
        .subject("Meeting notes")
        .messageId(QByteArray("Meeting notes").toHex() + "@example")
        .body("See you at ten.")
        .text(),
    TestMessage()
        .from("Pills <pills@spam.example>")
        .subject("Cheap: pills?")
        .messageId(QByteArray("Cheap: pills?").toHex() + "@example")
        .body("Buy now.")
        .text(),
    TestMessage()
        .from("Friend <friend@example.org>")
        .subject("Lunch tomorrow")
        .messageId(QByteArray("Lunch tomorrow").toHex() + "@example")
        .body("Usual place?")
        .text(),
    TestMessage()
        .from("Prize Desk <winner@lottery.example>")
        .subject("You won")
        .messageId(QByteArray("You won").toHex() + "@example")
        .body("Claim your prize.")
        .text(),
};

QStringList subjects(TfrmMain *main) {
    QStringList out;
    for (const HeaderRow &row : main->session().rows())
        out << row.Subject;
    return out;
}

} // namespace

class TestProcessWindow final : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeSmtpServer> m_smtp;
    std::unique_ptr<ProgramRun> m_run;

    TfrmMain *main() { return m_run->main(); }

    void start() {
        m_run = std::make_unique<ProgramRun>(m_dir->path());
        m_run->start();
        m_run->pop.addMailbox(kHost, u"me"_s, u"secret"_s, kMailbox);
        m_run->addAccount({u"Home"_s, kHost, u"110"_s, u"me"_s, u"secret"_s, u"me@home.example"_s});
        Settings &settings = m_run->shell.settings();
        settings.smtpserver = u"127.0.0.1"_s;
        settings.smtpport = QString::number(m_smtp->port());
        ProcessingHooks hooks;
        hooks.clock = [] { return kNow; };
        hooks.locale = QLocale::c();
        main()->setProcessingHooks(hooks);
    }

    void check() {
        m_run->pop.clearCommands();
        main()->acctdrop->actions().value(0)->trigger();
        QTRY_VERIFY(!m_run->pop.commandsTo(kHost).isEmpty() && !main()->operationRunning());
        QCOMPARE(main()->panelText(1), u"Connected"_s);
    }

    void mark(int row, QAction *command) {
        clickRow(main(), row);
        QVERIFY(command->isEnabled());
        command->trigger();
    }

    // Clicks "Process Current messages" and waits until the run has ended.
    void process() {
        QVERIFY(main()->ToolButton1->isEnabled());
        QTest::mouseClick(main()->ToolButton1, Qt::LeftButton);
        QTRY_VERIFY(!main()->operationRunning());
    }

    QString archivePath(const QString &name) const { return m_dir->filePath(u"archive/"_s + name); }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_smtp = std::make_unique<FakeSmtpServer>();
    }
    void cleanup() {
        if (m_run && main()->isVisible())
            main()->close();
        m_run.reset();
        m_smtp.reset();
    }

    // A run over two marked rows, answered No and then Yes.
    void processMarkedRows_data() {
        QTest::addColumn<bool>("reconnect");
        QTest::addColumn<QStringList>("rowsAfter");
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("activity");
        QTest::addColumn<bool>("disconnectEnabled");

        QTest::newRow("No") << false << QStringList() << u"Idle..."_s << QString() << false;
        QTest::newRow("Yes") << true << QStringList{u"Meeting notes"_s, u"Lunch tomorrow"_s}
                             << kHost << u"Connected"_s << true;
    }
    void processMarkedRows() {
        QFETCH(bool, reconnect);
        QFETCH(QStringList, rowsAfter);
        QFETCH(QString, server);
        QFETCH(QString, activity);
        QFETCH(bool, disconnectEnabled);

        start();
        m_run->shell.log().DeleteCount = u"41"_s;
        check();
        mark(1, main()->Markfordeletion1);
        mark(3, main()->Markforbouncing1);
        const QList<HeaderRow> before = main()->session().rows();

        // The list as it stands after each removal.
        QList<QStringList> lists;
        QObject watching;
        connect(main()->lvHeaders->model(), &QAbstractItemModel::modelReset, &watching,
                [&] { lists << subjects(main()); });
        m_run->prompts.answers = {reconnect ? QMessageBox::Yes : QMessageBox::No};
        m_run->pop.clearCommands();
        process();

        // From the bottom up: each row goes once the server has deleted its message.
        QCOMPARE(lists.value(0),
                 (QStringList{u"Meeting notes"_s, u"Cheap: pills?"_s, u"Lunch tomorrow"_s}));
        QCOMPARE(lists.value(1), (QStringList{u"Meeting notes"_s, u"Lunch tomorrow"_s}));
        QCOMPARE(lists.value(2), QStringList());
        const QList<QByteArray> commands = m_run->pop.commandsTo(kHost);
        QCOMPARE(commands.mid(0, 5),
                 (QList<QByteArray>{"TOP 4 0", "RETR 4", "DELE 4", "RETR 2", "DELE 2"}));
        QCOMPARE(commands.value(5), QByteArray("QUIT"));
        QVERIFY(!commands.contains("RSET"));

        QCOMPARE(m_run->prompts.shown.size(), 1);
        QCOMPARE(m_run->prompts.shown[0].icon, Prompts::Icon::Information);
        QCOMPARE(m_run->prompts.shown[0].text,
                 u"2 items deleted from server. Do you wish to reconnect?"_s);
        QCOMPARE(m_run->pop.messages(kHost).size(), 2);

        // The window after the question.
        QCOMPARE(subjects(main()), rowsAfter);
        QCOMPARE(main()->pnlServerName->text(), server);
        QCOMPARE(main()->panelText(1), activity);
        QCOMPARE(main()->panelText(2), reconnect ? u"2"_s : QString());
        QCOMPARE(main()->Disconnect->isEnabled(), disconnectEnabled);
        QVERIFY(main()->ToolButton14->isEnabled());

        // The log, with the rows from the bottom up, in the log window too.
        const HeaderRow &deleted = before[1];
        const HeaderRow &bounced = before[3];
        const QStringList lines = {
            DeletionLog::runStartLine(kNow, QLocale::c()),
            QString(45, u'-'),
            u"Email from "_s + bounced.From + u" bounced and deleted, sent to "_s + bounced.To +
                u" with subject You won dated "_s + bounced.Date,
            u"Email from "_s + deleted.From + u" deleted, sent to "_s + deleted.To +
                u" with subject Cheap: pills? dated "_s + deleted.Date,
            QString(40, u'-'),
            u"Process Messages finished"_s,
            QString()};
        QCOMPARE(m_run->shell.log().LogLines, lines);
        DeletionLogWindow *logWindow = m_run->shell.logWindow();
        QCOMPARE(logWindow->logText->toPlainText(), lines.join(u'\n'));
        QCOMPARE(logWindow->totalLabel->text(), u"43"_s);

        // The archive copies hold the whole messages.
        QCOMPARE(QDir(m_dir->filePath(u"archive"_s)).entryList(QDir::Files),
                 (QStringList{u"Cheap- pills-.eml"_s, u"You won.eml"_s}));
        QVERIFY(readFile(archivePath(u"Cheap- pills-.eml"_s)).contains("Buy now."));
        QVERIFY(readFile(archivePath(u"You won.eml"_s)).contains("Claim your prize."));

        // The notice went to the bounced message's sender.
        QCOMPARE(m_smtp->messages().size(), 1);
        const FakeSmtpServer::Message &notice = m_smtp->messages()[0];
        QCOMPARE(notice.to, QList<QByteArray>{"winner@lottery.example"});
        QCOMPARE(notice.from, QByteArray("MailDaemon@home.example"));
        QVERIFY(notice.dataLines.contains("Recipient address: Me <me@example.net>"));
    }

    // An option changed in the options window counts from the next run, both ways.
    void optionsReachTheNextRun_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<bool>("archives"); // once the box is unticked
        QTest::addColumn<bool>("logs");
        QTest::newRow("Save a copy of deleted emails") << u"CheckBox3"_s << false << true;
        QTest::newRow("Log details of emails deleted") << u"CheckBox2"_s << true << false;
    }
    void optionsReachTheNextRun() {
        QFETCH(QString, box);
        QFETCH(bool, archives);
        QFETCH(bool, logs);
        start();
        TfmSetup *setup = m_run->shell.optionsWindow();
        auto *tick = setup->findChild<QCheckBox *>(box);
        QVERIFY(tick && tick->isChecked());
        const auto toggle = [&] {
            main()->Options1->trigger();
            QVERIFY(setup->isVisible());
            QTest::mouseClick(tick, Qt::LeftButton, {}, QPoint(6, tick->height() / 2));
            QTest::mouseClick(setup->BitBtn1, Qt::LeftButton);
            QVERIFY(!setup->isVisible());
        };
        const QDir archive(m_dir->filePath(u"archive"_s));
        const auto runOnce = [&](int row) {
            check();
            mark(row, main()->Markfordeletion1);
            m_run->prompts.answers = {QMessageBox::No};
            process();
            QCOMPARE(m_run->prompts.takeTexts(),
                     QStringList{u"1 items deleted from server. Do you wish to reconnect?"_s});
        };

        toggle();
        QVERIFY(!tick->isChecked());
        runOnce(1);
        QCOMPARE(archive.entryList(QDir::Files),
                 archives ? QStringList{u"Cheap- pills-.eml"_s} : QStringList());
        QCOMPARE(m_run->shell.log().LogLines.isEmpty(), !logs);

        // Ticked again: the next run keeps both.
        toggle();
        QVERIFY(tick->isChecked());
        const qsizetype logLines = m_run->shell.log().LogLines.size();
        runOnce(2);
        QVERIFY(archive.entryList(QDir::Files).contains(u"You won.eml"_s));
        QVERIFY(m_run->shell.log().LogLines.size() > logLines);
        QVERIFY(m_run->shell.log().LogLines.join(u'\n').contains(u"with subject You won"_s));
    }

    void errors_data() {
        QTest::addColumn<QString>("setUp");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<int>("messagesLeft"); // on the server
        QTest::addColumn<int>("logLines");

        QTest::newRow("nothing listed")
            << u"no check"_s
            << QStringList{u"Must have connected to server and have emails to process"_s} << 4 << 0;
        // A refused DELE ends the run: nothing of it is deleted, the log takes it back.
        QTest::newRow("DELE refused")
            << u"refuse DELE 2"_s
            << QStringList{u"Message 2 (\"Cheap: pills?\") could not be deleted: the server "
                           u"answered \"locked\"\n\n"
                           u"Processing stopped there, and no message of this run has been "
                           u"deleted from the server."_s}
            << 4 << 0;
        // The question is asked only after the server has confirmed the deletions with +OK;
        // -ERR may mean that some deletions were applied: the outcome is not known.
        QTest::newRow("QUIT refused")
            << u"refuse QUIT"_s
            << QStringList{u"The server answered QUIT with an error (\"some deleted messages not "
                           u"removed\"): it may have deleted some of the messages of this run (1 "
                           u"message) and not others. They are not counted in the total, and "
                           u"their log lines are marked as not confirmed. Check the mailbox before "
                           u"processing it again."_s}
            << 4 << 6;
        const QString unknown =
            u"The server did not answer QUIT (Connection Closed Gracefully.), so it is not known "
            u"whether the messages of this run (1 message) have been deleted from the server. "
            u"They are not counted in the total, and their log lines are marked as not "
            u"confirmed. Check the mailbox before processing it again."_s;
        QTest::newRow("QUIT dropped") << u"drop QUIT"_s << QStringList{unknown} << 4 << 6;
        QTest::newRow("QUIT applied, its reply lost")
            << u"lose QUIT"_s << QStringList{unknown} << 3 << 6;
        QTest::newRow("reconnect fails")
            << u"refuse PASS"_s
            << QStringList{u"1 items deleted from server. Do you wish to reconnect?"_s,
                           u"Could not establish connection with \"pop.test\" on port \"110\" "
                           u"please check your settings"_s}
            << 3 << 6;
    }
    void errors() {
        QFETCH(QString, setUp);
        QFETCH(QStringList, boxes);
        QFETCH(int, messagesLeft);
        QFETCH(int, logLines);

        start();
        if (setUp != u"no check"_s) {
            check();
            mark(1, main()->Markfordeletion1);
        }
        if (setUp == u"refuse DELE 2"_s)
            m_run->pop.refuse("DELE 2", "locked");
        if (setUp == u"refuse QUIT"_s)
            m_run->pop.refuse("QUIT", "some deleted messages not removed");
        if (setUp == u"drop QUIT"_s)
            m_run->pop.dropAt("QUIT");
        if (setUp == u"lose QUIT"_s)
            m_run->pop.loseReplyTo("QUIT");
        if (setUp.endsWith(u"QUIT"_s)) // answered Yes, were it asked
            m_run->prompts.answers = {QMessageBox::Yes};
        if (setUp == u"refuse PASS"_s) {
            m_run->pop.refuse("PASS secret", "mailbox locked");
            m_run->prompts.answers = {QMessageBox::Yes};
        }
        // The menu item runs the same command as the tool button.
        QVERIFY(main()->ProcessMessages1->isEnabled());
        main()->ProcessMessages1->trigger();
        QTRY_COMPARE(m_run->prompts.shown.size(), boxes.size());
        QTRY_VERIFY(!main()->operationRunning());
        QCOMPARE(m_run->prompts.takeTexts(), boxes);
        QCOMPARE(m_run->prompts.shown.size(), 0);

        QCOMPARE(m_run->pop.messages(kHost).size(), messagesLeft);
        QCOMPARE(m_run->shell.log().LogLines.size(), logLines);
        // Only deletions the server confirmed count: those of a run that asked the question.
        QCOMPARE(m_run->shell.log().DeleteCount,
                 boxes.constFirst().contains(u"items deleted"_s) ? u"1"_s : u"0"_s);
        QCOMPARE(m_run->shell.logWindow()->logText->toPlainText().isEmpty(), logLines == 0);
        // Every path ends idle, with the list empty and the commands available.
        QCOMPARE(main()->pnlServerName->text(), u"Idle..."_s);
        QCOMPARE(main()->lvHeaders->model()->rowCount(), 0);
        QCOMPARE(main()->panelText(1), QString());
        QVERIFY(!main()->Disconnect->isEnabled() || setUp == u"no check"_s);
        QVERIFY(main()->ToolButton14->isEnabled());
        QVERIFY(!m_run->pop.isOpen());
    }

    // A run that fails deletes nothing, and the list is emptied with the connection; the next
    // check of the account marks again the messages still on the server, found by what they
    // are, not by their numbers, which have moved.
    void marksOfAFailedRunComeBack() {
        start();
        check();
        mark(1, main()->Markfordeletion1);
        mark(3, main()->Markforbouncing1);
        m_run->pop.refuse("DELE 4", "locked");
        process();
        QCOMPARE(m_run->prompts.shown.size(), 1);
        m_run->prompts.shown.clear();
        QCOMPARE(main()->lvHeaders->model()->rowCount(), 0);

        // Meanwhile message 3 has gone and a new one with the subject and sender of message 2
        // (another Message-ID) has come first.
        const QByteArray lookalike = TestMessage()
                                         .from("Pills <pills@spam.example>")
                                         .subject("Cheap: pills?")
                                         .messageId("other@example")
                                         .body("Buy now.")
                                         .text();
        m_run->pop.addMailbox(kHost, u"me"_s, u"secret"_s,
                              {lookalike, kMailbox[0], kMailbox[1], kMailbox[3]});
        check();
        const QList<RowMark> expected = {RowMark::Plain, RowMark::Plain, RowMark::Delete,
                                         RowMark::Bounce};
        QList<RowMark> got;
        for (const HeaderRow &row : main()->session().rows())
            got << row.Mark;
        QCOMPARE(got, expected);
        QCOMPARE(main()->marksText(), u"1 marked for deletion, 1 for bouncing"_s);
        QCOMPARE(main()->panelText(0), u"2 marks of the failed run restored"_s);
        // Once restored they are the list's own: a later check starts afresh.
        main()->ToolButton2->click();
        QTRY_VERIFY(!main()->operationRunning());
        check();
        QCOMPARE(main()->marksText(), QString());
        QVERIFY(m_run->prompts.shown.isEmpty());
    }

    // Disconnecting while a run waits after a deletion ends the run as a dropped connection:
    // nothing of it is deleted, nothing is said, and the window ends idle.
    void disconnectDuringRunDeletesNothing() {
        start();
        check();
        mark(1, main()->Markfordeletion1);
        mark(3, main()->Markfordeletion1);
        ProcessingHooks hooks;
        hooks.wait = [this](int) {
            if (main()->Disconnect->isEnabled())
                main()->Disconnect->trigger();
        };
        main()->setProcessingHooks(hooks);
        m_run->pop.clearCommands();
        process();
        QTRY_COMPARE(main()->pnlServerName->text(), u"Idle..."_s);
        QCOMPARE(m_run->prompts.shown.size(), 0);
        QVERIFY(!m_run->pop.commandsTo(kHost).contains("QUIT"));
        QCOMPARE(m_run->pop.messages(kHost).size(), 4);
        QCOMPARE(m_run->shell.log().LogLines, QStringList());
        QCOMPARE(main()->lvHeaders->model()->rowCount(), 0);
        QVERIFY(!main()->Disconnect->isEnabled());
    }

    // A command that talks to the server, started while a run waits after a deletion, does
    // not start: a check would send QUIT on the run's connection, a view would read the run's
    // replies. The run goes on undisturbed.
    void serverCommandsWaitForARun_data() { addServerCommandRows(); }
    void serverCommandsWaitForARun() {
        QFETCH(QString, command);
        start();
        check();
        mark(1, main()->Markfordeletion1);
        mark(3, main()->Markfordeletion1);
        bool tried = false;
        ProcessingHooks hooks;
        hooks.wait = [&](int) {
            if (tried)
                return;
            tried = true;
            clickRow(main(), 0);
            startServerCommand(main(), command);
        };
        main()->setProcessingHooks(hooks);
        m_run->prompts.answers = {QMessageBox::No};
        m_run->pop.clearCommands();
        process();
        QVERIFY(tried);
        QCOMPARE(m_run->pop.commandsTo(kHost),
                 (QList<QByteArray>{"RETR 4", "DELE 4", "RETR 2", "DELE 2", "QUIT"}));
        QCOMPARE(m_run->pop.messages(kHost).size(), 2);
        QCOMPARE(m_run->prompts.takeTexts(),
                 QStringList{u"2 items deleted from server. Do you wish to reconnect?"_s});
    }

    // Text typed into the log window before a run stays in the log, ahead of the run's lines.
    void typedLogTextIsKeptByARun() {
        start();
        check();
        DeletionLogWindow *logWindow = m_run->shell.logWindow();
        main()->Options1->trigger();
        QTest::mouseClick(m_run->shell.optionsWindow()->SpeedButton1, Qt::LeftButton);
        QVERIFY(logWindow->isVisible());
        QTest::keyClicks(logWindow->logText, u"checked by hand"_s);
        mark(0, main()->Markfordeletion1);
        process();
        QCOMPARE(m_run->shell.log().LogLines.value(0), u"checked by hand"_s);
        QCOMPARE(m_run->shell.log().LogLines.size(), 1 + 6);
        QVERIFY(logWindow->logText->toPlainText().startsWith(u"checked by hand\n"_s));
        QVERIFY(!logWindow->logText->isReadOnly());
    }
};

QTEST_MAIN(TestProcessWindow)
#include "tst_processwindow.moc"
