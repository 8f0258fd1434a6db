// The desktop program's main road against the real Dovecot and SMTP sink of the loopback test
// servers: check an account, mark two messages for deletion and one for bouncing, process,
// reconnect, and find exactly the right messages left in the mailbox, the notice at the sink,
// the archive copies and the log.

#include "../ui/uitestsupport.h"

#include "core/protocol/mailmessage.h"
#include "core/protocol/tcptransport.h"
#include "requirements.h"
#include "testmessage.h"
#include "testservers.h"
#include "testsupport.h"
#include "ui/records/deletionlogwindow.h"
#include "ui/records/savedemailswindow.h"
#include "ui/settings/tfmsetup.h"

#include <QDir>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>

#include <optional>

using namespace Qt::StringLiterals;
using corvane::test::TestMessage;
using namespace corvane;
using namespace corvane::test;

namespace {

// The mailbox of this test program alone.
const QString kUser = u"e2e-gui"_s;

// Rows 2 and 5 are deleted, row 4 is bounced; 1 and 3 stay.
const QList<QByteArray> kMessages = {
    TestMessage()
        .from("Sam <sam@example.com>")
        .to("E2E <e2e-gui@example.net>")
        .subject("Photos")
        .messageId(QByteArray("Photos").toHex() + "@e2e-gui")
        .body("Attached.")
        .text(),
    TestMessage()
        .from("Pills <pills-e2e-gui@spam.example>")
        .to("E2E <e2e-gui@example.net>")
        .subject("Cheap pills")
        .messageId(QByteArray("Cheap pills").toHex() + "@e2e-gui")
        .body("Buy now.")
        .text(),
    TestMessage()
        .from("Mum <mum@example.org>")
        .to("E2E <e2e-gui@example.net>")
        .subject("Sunday lunch")
        .messageId(QByteArray("Sunday lunch").toHex() + "@e2e-gui")
        .body("Roast?\n.a line with a dot")
        .text(),
    TestMessage()
        .from("Prize Desk <prize-e2e-gui@lottery.example>")
        .to("E2E <e2e-gui@example.net>")
        .subject("You won")
        .messageId(QByteArray("You won").toHex() + "@e2e-gui")
        .body("Claim it.")
        .text(),
    TestMessage()
        .from("offers@junk.example")
        .to("E2E <e2e-gui@example.net>")
        .subject("Great offers")
        .messageId(QByteArray("Great offers").toHex() + "@e2e-gui")
        .body("Today only.")
        .text(),
};

// The envelope and data of the sink's messages that went to recipient.
QList<QByteArray> sinkMessagesTo(const QString &folder, const QByteArray &recipient) {
    QList<QByteArray> found;
    const QDir dir(folder + u"/new"_s);
    for (const QString &name : dir.entryList({u"*.envelope"_s}, QDir::Files, QDir::Name)) {
        if (!readFile(dir.filePath(name)).contains("RCPT TO:<" + recipient + ">"))
            continue;
        QString data = name;
        data.replace(u".envelope"_s, u".eml"_s);
        found << readFile(dir.filePath(data));
    }
    return found;
}

} // namespace

class TestDesktopProcessing final : public QObject {
    Q_OBJECT

    std::optional<TestServers> m_servers;
    std::unique_ptr<TestMaildir> m_maildir;

private Q_SLOTS:
    void initTestCase() {
        m_servers.emplace();
        if (!m_servers->has({"CORVANE_POP3_HOST", "CORVANE_POP3_PORT", "CORVANE_POP3_USERS",
                             "CORVANE_POP3_PASSWORD", "CORVANE_POP3_MAILDIR_ROOT",
                             "CORVANE_SMTP_HOST", "CORVANE_SMTP_PORT", "CORVANE_SMTP_SINK_DIR"}))
            CORVANE_REQUIRE_OR_SKIP(qPrintable(m_servers->why()));
        if (!m_servers->value(u"CORVANE_POP3_USERS"_s).split(u',').contains(kUser))
            CORVANE_REQUIRE_OR_SKIP("the test servers have no mailbox e2e-gui");
        m_maildir = std::make_unique<TestMaildir>(m_servers->value(u"CORVANE_POP3_MAILDIR_ROOT"_s) +
                                                  u'/' + kUser);
        QVERIFY(m_maildir->clear());
        for (const QByteArray &m : kMessages)
            QVERIFY(m_maildir->deliver(m));
    }

    void checkMarkProcessReconnect() {
        QTemporaryDir dir;
        ScriptedPrompts prompts;
        TcpTransport transport;
        transport.setReadTimeout(20000);
        const QString sinkDir = m_servers->value(u"CORVANE_SMTP_SINK_DIR"_s);
        const qsizetype noticesBefore =
            sinkMessagesTo(sinkDir, "prize-e2e-gui@lottery.example").size();
        {
            ProgramShell shell(DataDirectory(dir.path()), prompts, transport);
            shell.start();
            TfrmMain *main = shell.mainWindow();
            main->show();
            shell.lists().Friendly.add(u"mum@example.org"_s, {});
            Settings &settings = shell.settings();
            settings.smtpserver = m_servers->value(u"CORVANE_SMTP_HOST"_s);
            settings.smtpport = m_servers->value(u"CORVANE_SMTP_PORT"_s);
            shell.accountStore()->insert({u"Dovecot"_s, m_servers->value(u"CORVANE_POP3_HOST"_s),
                                          m_servers->value(u"CORVANE_POP3_PORT"_s), kUser,
                                          m_servers->value(u"CORVANE_POP3_PASSWORD"_s),
                                          u"e2e-gui@example.net"_s});
            main->RefreshAccounts();

            main->acctdrop->actions().value(0)->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(main->lvHeaders->model()->rowCount() == 5, 20000);
            QTRY_VERIFY_WITH_TIMEOUT(!main->operationRunning(), 20000);
            QCOMPARE(main->panelText(1), u"Connected"_s);

            for (const auto &[row, command] :
                 {std::pair{1, main->Markfordeletion1}, std::pair{3, main->Markforbouncing1},
                  std::pair{4, main->Markfordeletion1}}) {
                clickRow(main, row);
                command->trigger();
            }
            prompts.answers = {QMessageBox::Yes};
            QTest::mouseClick(main->ToolButton1, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!main->operationRunning(), 30000);
            QCOMPARE(prompts.takeTexts(),
                     QStringList{u"3 items deleted from server. Do you wish to reconnect?"_s});

            // Reconnected: the two messages that stay.
            QCOMPARE(main->panelText(1), u"Connected"_s);
            QCOMPARE(main->panelText(2), u"2"_s);
            QStringList subjects;
            for (const HeaderRow &row : main->session().rows())
                subjects << row.Subject;
            QCOMPARE(subjects, (QStringList{u"Photos"_s, u"Sunday lunch"_s}));

            // Three log lines between the run's start and end lines, from the bottom up.
            const QStringList log = shell.log().LogLines;
            QCOMPARE(log.size(), 8);
            QVERIFY(log[2].startsWith(u"Email from offers@junk.example deleted"_s));
            QVERIFY(log[3].startsWith(
                u"Email from Prize Desk <prize-e2e-gui@lottery.example> bounced and deleted"_s));
            QVERIFY(log[4].startsWith(u"Email from Pills <pills-e2e-gui@spam.example> deleted"_s));
            QCOMPARE(shell.logWindow()->logText->toPlainText(), log.join(u'\n'));

            // The archive window, from the options window's link, lists the three copies and
            // hands one to the mail program.
            SavedEmailsWindow *archive = shell.savedEmailsWindow();
            RecordingOpener opener;
            archive->setFileOpener(&opener);
            main->Options1->trigger();
            QTest::mouseClick(shell.optionsWindow()->SpeedButton2, Qt::LeftButton);
            QVERIFY(archive->isVisible());
            QTRY_VERIFY_WITH_TIMEOUT(!archive->scanning(), 20000);
            QCOMPARE(archive->archiveNames(),
                     (QStringList{u"Cheap pills.eml"_s, u"Great offers.eml"_s, u"You won.eml"_s}));
            const QAbstractItemModel *rows = archive->copyList->model();
            QStringList shown;
            for (int r = 0; r < rows->rowCount(); ++r)
                shown << rows->index(r, 0).data().toString() + u'|' +
                             rows->index(r, 1).data().toString() + u'|' +
                             rows->index(r, 2).data().toString();
            QCOMPARE(shown,
                     (QStringList{u"Cheap pills|Pills <pills-e2e-gui@spam.example>|E2E "
                                  u"<e2e-gui@example.net>"_s,
                                  u"Great offers|offers@junk.example|E2E <e2e-gui@example.net>"_s,
                                  u"You won|Prize Desk <prize-e2e-gui@lottery.example>|E2E "
                                  u"<e2e-gui@example.net>"_s}));
            archive->copyList->setCurrentIndex(rows->index(2, 0));
            QTest::mouseClick(archive->viewButton, Qt::LeftButton);
            QCOMPARE(opener.paths, QStringList{dir.filePath(u"archive/You won.eml"_s)});
            QVERIFY(opener.contents.value(0).contains("Claim it."));
            archive->close();

            QVERIFY(main->close());
            QCOMPARE(prompts.takeTexts(), QStringList());
        }

        // Exactly the three marked messages are gone from the server.
        const QList<QByteArray> left = m_maildir->messages();
        QCOMPARE(left.size(), 2);
        QVERIFY(left[0].contains("Subject: Photos"));
        QVERIFY(left[1].contains("Subject: Sunday lunch"));

        // One notice to the bounced message's sender, quoting its header.
        const QList<QByteArray> notices = sinkMessagesTo(sinkDir, "prize-e2e-gui@lottery.example");
        QCOMPARE(notices.size(), noticesBefore + 1);
        const QByteArray notice = notices.last();
        QVERIFY(notice.contains("Subject: Delivery Notification: Delivery has failed"));
        QVERIFY(notice.contains("MailDaemon@example.net"));
        QVERIFY(notice.contains("This report relates to a message you sent with the following "
                                "header fields:"));
        QVERIFY(notice.contains("Subject: You won"));
        QVERIFY(notice.contains("Recipient address: E2E <e2e-gui@example.net>"));

        // Whole copies of the three messages, readable as message files.
        const QDir archive(dir.filePath(u"archive"_s));
        QCOMPARE(archive.entryList(QDir::Files, QDir::Name),
                 (QStringList{u"Cheap pills.eml"_s, u"Great offers.eml"_s, u"You won.eml"_s}));
        MailMessage copy;
        copy.LoadMessageFile(archive.filePath(u"You won.eml"_s));
        QCOMPARE(copy.Subject, u"You won"_s);
        QVERIFY(readFile(archive.filePath(u"Cheap pills.eml"_s)).contains("Buy now."));

        // The log was saved at shutdown.
        QVERIFY(
            readFile(dir.filePath(u"logfile.log"_s)).contains(" bounced and deleted, sent to "));
    }
};

QTEST_MAIN(TestDesktopProcessing)
#include "tst_desktop_processing.moc"
