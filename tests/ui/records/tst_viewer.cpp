// The message viewer: "View complete email" writes temp.eml and hands it to the desktop,
// "View all headers" fills the header window; both from the menu and the list's context menu,
// against a fake POP3 server.

#include "../uitestsupport.h"

#include "testsupport.h"
#include "ui/records/headerswindow.h"
#include "ui/shell/fileopener.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>

using namespace Qt::StringLiterals;
using namespace corvane;
using namespace corvane::test;

namespace {

const QString kHost = u"pop.test"_s;

// A folded header line, a spam score, and a body line that starts with a dot.
const QByteArray kFirst = "Received: from mx.example.net\n"
                          "\tby pop.test; Tue, 1 Dec 2026 10:00:00 +0000\n"
                          "From: Prize Desk <winner@lottery.example>\n"
                          "To: Me <me@example.net>\n"
                          "Subject: You won\n"
                          "Date: Tue, 1 Dec 2026 10:00:00 +0000\n"
                          "X-Spam-Score: 7.5\n"
                          "\n"
                          "Claim your prize.\n"
                          ".hidden\n";
const QByteArray kSecond = "From: Friend <friend@example.org>\n"
                           "To: Me <me@example.net>\n"
                           "Subject: Lunch\n"
                           "Date: Tue, 1 Dec 2026 11:00:00 +0000\n"
                           "\n"
                           "Usual place?\n";

} // namespace

class TestViewer final : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ProgramRun> m_run;
    RecordingOpener m_opener;

    TfrmMain *main() { return m_run->main(); }

    void startAndCheck() {
        m_run = std::make_unique<ProgramRun>(m_dir->path());
        m_run->start();
        main()->setFileOpener(&m_opener);
        m_run->pop.addMailbox(kHost, u"me"_s, u"secret"_s, {kFirst, kSecond});
        m_run->addAccount({u"Home"_s, kHost, u"110"_s, u"me"_s, u"secret"_s, {}});
        main()->acctdrop->actions().value(0)->trigger();
        QTRY_VERIFY(!main()->operationRunning() && main()->lvHeaders->model()->rowCount() == 2);
        QCOMPARE(main()->panelText(1), u"Connected"_s);
    }

    // Runs a command of the menus and waits until it has ended.
    void run(const QString &command) {
        auto *action = main()->findChild<QAction *>(command);
        QVERIFY(action && action->isEnabled());
        action->trigger();
        // The command is queued: let it start, then wait until it has ended.
        QCoreApplication::processEvents();
        QTRY_VERIFY(!main()->operationRunning());
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_opener.clear();
        m_opener.available = true;
    }
    void cleanup() {
        if (m_run && main()->isVisible())
            main()->close();
        m_run.reset();
    }

    void viewHeaders_data() {
        QTest::addColumn<QString>("command");
        QTest::newRow("menu") << u"Viewheaders1"_s;
        QTest::newRow("context menu") << u"VewHeaders1"_s;
    }
    void viewHeaders() {
        QFETCH(QString, command);
        startAndCheck();
        HeadersWindow *headers = m_run->shell.headersWindow();
        QVERIFY(!headers->isVisible());
        clickRow(main(), 0);
        const QString size = main()->session().rows()[0].Size;
        QCOMPARE(size, QString::number(kFirst.size() + kFirst.count('\n')));
        m_run->pop.clearCommands();
        run(command);

        QCOMPARE(m_run->pop.commandsTo(kHost), QList<QByteArray>{"TOP 1 0"});
        QVERIFY(headers->isVisible());
        QCOMPARE(headers->windowTitle(), u"View Headers"_s);
        QCOMPARE(headers->headerText->toPlainText(),
                 u"Received: from mx.example.net\n"
                 u"\tby pop.test; Tue, 1 Dec 2026 10:00:00 +0000\n"
                 u"From: Prize Desk <winner@lottery.example>\n"
                 u"To: Me <me@example.net>\n"
                 u"Subject: You won\n"
                 u"Date: Tue, 1 Dec 2026 10:00:00 +0000\n"
                 u"X-Spam-Score: 7.5"_s);
        QCOMPARE(main()->panelText(1), u"Retrieving headers for \""_s + size + u'"');
        QCOMPARE(main()->panelText(0), size);
        QCOMPARE(m_run->prompts.shown.size(), 0);
        QVERIFY(m_opener.paths.isEmpty());

        // Another message replaces the text.
        clickRow(main(), 1);
        run(command);
        QVERIFY(headers->headerText->toPlainText().startsWith(
            u"From: Friend <friend@example.org>\n"_s));
        QVERIFY(!headers->headerText->toPlainText().contains(u"Prize"_s));
    }

    void viewEmail_data() {
        QTest::addColumn<QString>("command");
        QTest::newRow("menu") << u"ViewEmail1"_s;
        QTest::newRow("context menu") << u"ViewMessage1"_s;
    }
    void viewEmail() {
        QFETCH(QString, command);
        startAndCheck();
        const QString temp = m_dir->filePath(u"temp.eml"_s);
        clickRow(main(), 0);
        m_run->pop.clearCommands();
        run(command);

        QCOMPARE(m_run->pop.commandsTo(kHost), QList<QByteArray>{"RETR 1"});
        QCOMPARE(m_opener.paths, QStringList{temp});
        const QByteArray first = m_opener.contents.value(0);
        QVERIFY(first.contains("Subject: You won\r\n"));
        QVERIFY(first.contains("Claim your prize.\r\n..hidden\r\n"));
        // The activity line is back to what it was; the note of the row is in panel 0.
        QCOMPARE(main()->panelText(1), u"Connected"_s);
        QCOMPARE(main()->panelText(0), u"n/a"_s);
        QCOMPARE(m_run->prompts.shown.size(), 0);

        // The next view replaces the file.
        clickRow(main(), 1);
        run(command);
        QCOMPARE(m_opener.paths.size(), 2);
        const QByteArray second = readFile(temp);
        QCOMPARE(second, m_opener.contents.value(1));
        QVERIFY(second.contains("Usual place?"));
        QVERIFY(!second.contains("You won"));
        // Viewing marks and deletes nothing.
        QCOMPARE(m_run->pop.messages(kHost).size(), 2);
        QCOMPARE(main()->session().rows()[0].Mark, RowMark::Spam);
    }

    // Without a mail program the user is told where the message is, instead of nothing
    // happening.
    void viewEmailWithoutMailProgram() {
        startAndCheck();
        m_opener.available = false;
        clickRow(main(), 0);
        run(u"ViewEmail1"_s);
        const QString temp = m_dir->filePath(u"temp.eml"_s);
        QCOMPARE(m_opener.paths, QStringList{temp});
        QCOMPARE(m_run->prompts.shown.size(), 1);
        QCOMPARE(m_run->prompts.shown[0].icon, Prompts::Icon::Error);
        QCOMPARE(m_run->prompts.shown[0].text, noMailProgramText(temp));
        QVERIFY(m_run->prompts.shown[0].text.contains(QDir::toNativeSeparators(temp)));
        QVERIFY(readFile(temp).contains("Claim your prize."));
        QCOMPARE(main()->panelText(1), u"Connected"_s);
    }

    void needsSelection_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("error");
        QTest::newRow("View complete email")
            << u"ViewEmail1"_s << u"You must select an email to view"_s;
        QTest::newRow("View Message") << u"ViewMessage1"_s << u"You must select an email to view"_s;
        QTest::newRow("View all headers")
            << u"Viewheaders1"_s << u"You must select an email first"_s;
        QTest::newRow("Vew Headers") << u"VewHeaders1"_s << u"You must select an email first"_s;
    }
    void needsSelection() {
        QFETCH(QString, command);
        QFETCH(QString, error);
        startAndCheck();
        m_run->pop.clearCommands();
        run(command);
        QCOMPARE(m_run->prompts.takeTexts(), QStringList{error});
        QCOMPARE(m_run->prompts.shown.size(), 0);
        QVERIFY(m_run->pop.commandsTo(kHost).isEmpty());
        QVERIFY(m_opener.paths.isEmpty());
        QVERIFY(!m_run->shell.headersWindow()->isVisible());
        QCOMPARE(main()->panelText(1), u"Connected"_s);
    }

    // A refusal is said as such: no empty message is written or opened in its place.
    void refusedMessageIsNotShown_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("refused");
        QTest::addColumn<QString>("error");
        QTest::newRow("RETR") << u"ViewEmail1"_s << QByteArray("RETR 1")
                              << u"The server would not send message 1, so it cannot be shown."_s;
        QTest::newRow("TOP") << u"Viewheaders1"_s << QByteArray("TOP 1 0") << u"no such message"_s;
    }
    void refusedMessageIsNotShown() {
        QFETCH(QString, command);
        QFETCH(QByteArray, refused);
        QFETCH(QString, error);
        startAndCheck();
        m_run->pop.refuse(refused, "no such message");
        clickRow(main(), 0);
        run(command);
        QCOMPARE(m_run->prompts.takeTexts(), QStringList{error});
        QVERIFY(m_opener.paths.isEmpty());
        QVERIFY(!QFile::exists(m_dir->filePath(u"temp.eml"_s)));
        QVERIFY(!m_run->shell.headersWindow()->isVisible());
        // The connection is still usable.
        clickRow(main(), 1);
        run(u"ViewEmail1"_s);
        QCOMPARE(m_opener.paths.size(), 1);
    }

    // A temp.eml that is a link to a file elsewhere is never written through: the view fails
    // with the reason and the file it points to stays as it was.
    void linkedTempFileIsNotFollowed() {
        QTemporaryDir outside;
        const QString victim = outside.filePath(u"victim.txt"_s);
        QVERIFY(writeFile(victim, "precious"));
        const QString temp = m_dir->filePath(u"temp.eml"_s);
        QVERIFY(QFile::link(victim, temp));
        startAndCheck();
        clickRow(main(), 0);
        run(u"ViewEmail1"_s);
        const QStringList errors = m_run->prompts.takeTexts();
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith(u"Cannot create file \"%1\". "_s.arg(temp)) &&
                     errors.first().contains(u"symbolic link"_s),
                 qPrintable(errors.first()));
        QVERIFY(m_opener.paths.isEmpty());
        QCOMPARE(readFile(victim), QByteArray("precious"));
        QVERIFY(QFileInfo(temp).isSymLink());
    }
};

QTEST_MAIN(TestViewer)
#include "tst_viewer.moc"
