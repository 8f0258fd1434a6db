// Processing marked messages against a POP3 server that applies deletions only on QUIT and a
// scripted SMTP server: the order of commands, the log lines, the archive copies and their
// names, the bounce notice, the question and the reconnect, and runs that must delete nothing
// because a step failed.

#include "errors.h"
#include "fakepop3mailbox.h"
#include "fakesmtpserver.h"
#include "fulldisk.h"
#include "protocol/mailmessage.h"
#include "records/deletionlog.h"
#include "rules/rulelists.h"
#include "screening/mailboxsession.h"
#include "screening/processing.h"
#include "screeningrecorder.h"
#include "settings/accountstore.h"
#include "settings/settings.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using corvane::AccountStore;
using corvane::DeletionLog;
using corvane::Error;
using corvane::HeaderRow;
using corvane::MailboxSession;
using corvane::MailMessage;
using corvane::MessageProcessor;
using corvane::ProcessingHooks;
using corvane::ProcessingResult;
using corvane::RowMark;
using corvane::RuleLists;
using corvane::Settings;
using corvane::test::FakePop3Mailbox;
using corvane::test::FakeSmtpServer;
using corvane::test::ScreeningRecorder;

namespace {

const QString kHost = u"pop.example.net"_s;
const QDateTime kNow(QDate(2024, 5, 6), QTime(7, 8, 9));

QByteArray message(const QByteArray &subject, const QByteArray &from) {
    return "From: " + from + "\nTo: Me <me@example.net>\nSubject: " + subject +
           "\nDate: Mon, 6 May 2024 07:00:00 +0000\n\nBody of " + subject +
           "\n.a line that begins with a dot\n";
}

// Messages 1 to 4: Hi, Keep, Re: a/b? and Hi again.
const QList<QByteArray> kMessages{
    message("Hi", "Ann <ann@example.org>"),
    message("Keep", "keep@example.org"),
    message("Re: a/b?", "spam@example.com"),
    message("Hi", "Bea <bea@example.org>"),
};

// One account on a POP3 server holding kMessages, checked and listed; bounces go to a
// scripted SMTP server.
struct Fixture {
    QTemporaryDir dir;
    FakePop3Mailbox pop;
    FakeSmtpServer smtp;
    std::unique_ptr<AccountStore> store;
    RuleLists lists;
    ScreeningRecorder view;
    Settings settings;
    DeletionLog log;
    QList<int> waits;
    std::unique_ptr<MailboxSession> session;
    QString archive;

    Fixture() {
        pop.addMailbox(kHost, u"alice"_s, u"pw"_s, kMessages);
        store = std::make_unique<AccountStore>(dir.filePath(u"accounts.dat"_s));
        store->insert({u"Home"_s, kHost, u"110"_s, u"alice"_s, u"pw"_s, u"alice@example.net"_s});
        lists.SubjectBlack.clear();
        lists.Misc.setAll(false);
        settings.smtpserver = u"127.0.0.1"_s;
        settings.smtpport = QString::number(smtp.port());
        log.LogLines = {u"an earlier line"_s};
        log.DeleteCount = u"41"_s;
        archive = dir.filePath(u"archive"_s);
        session = std::make_unique<MailboxSession>(pop, store.get(), lists, view);
        session->CheckAccount(0);
        pop.clearCommands();
    }

    MessageProcessor processor() {
        ProcessingHooks hooks;
        hooks.clock = [] { return kNow; };
        hooks.locale = QLocale::c();
        hooks.wait = [this](int ms) { waits << ms; };
        MessageProcessor p(*session, settings, log, archive, hooks);
        p.setAccountEmail(u"alice@example.net"_s);
        return p;
    }
    ProcessingResult process() { return processor().ProcessMessages(); }
    QString processError() {
        try {
            process();
        } catch (const Error &e) {
            return e.message();
        }
        return {};
    }

    void mark(const QList<RowMark> &marks) {
        for (qsizetype p = 0; p < marks.size(); ++p)
            session->setMark(p, marks[p]);
    }
    QStringList archiveFiles() const {
        return QDir(archive).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    QList<QByteArray> commands() const { return pop.commandsTo(kHost); }
};

const QList<RowMark> kMarks{RowMark::Delete, RowMark::Plain, RowMark::Bounce, RowMark::Delete};

} // namespace

class TestProcessing final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void deleteAndBounce();
    void switchedOff_data();
    void switchedOff();
    void nothingMarked();
    void noRows();
    void markedRowsOfAnEndedConnection();
    void autoModeAsksNothing();
    void reconnect();
    void reconnectFails();
    void failedStepDeletesNothing_data();
    void failedStepDeletesNothing();
    void bounceSender_data();
    void bounceSender();
};

void TestProcessing::deleteAndBounce() {
    Fixture f;
    f.mark(kMarks);
    const QList<HeaderRow> rows = f.session->rows();

    const ProcessingResult result = f.process();

    // Rows from the last to the first; a bounce fetches its header before its copy.
    QCOMPARE(f.commands(), (QList<QByteArray>{"RETR 4", "DELE 4", "TOP 3 0", "RETR 3", "DELE 3",
                                              "RETR 1", "DELE 1", "QUIT"}));
    QCOMPARE(f.pop.messages(kHost).size(), 1);
    QVERIFY(f.pop.messages(kHost).constFirst().contains("Subject: Keep"));

    QCOMPARE(f.log.LogLines,
             (QStringList{u"an earlier line"_s, DeletionLog::runStartLine(kNow, QLocale::c()),
                          QString(45, u'-'),
                          u"Email from "_s + rows[3].From + u" deleted, sent to "_s + rows[3].To +
                              u" with subject Hi dated "_s + rows[3].Date,
                          u"Email from spam@example.com bounced and deleted, sent to "_s +
                              rows[2].To + u" with subject Re: a/b? dated "_s + rows[2].Date,
                          u"Email from Ann <ann@example.org> deleted, sent to Me "_s
                          u"<me@example.net> with subject Hi dated "_s +
                              rows[0].Date,
                          QString(40, u'-'), u"Process Messages finished"_s, QString()}));
    QCOMPARE(f.log.DeleteCount, u"44"_s);

    // The later Hi takes the plain name; the bounce sets the counter back to 0, so the earlier
    // Hi gets (0).
    QCOMPARE(f.archiveFiles(), (QStringList{u"Hi(0).eml"_s, u"Hi.eml"_s, u"Re- a-b-.eml"_s}));
    const QList<std::pair<QString, QByteArray>> copies{{u"Hi.eml"_s, "Bea <bea@example.org>"},
                                                       {u"Hi(0).eml"_s, "Ann <ann@example.org>"},
                                                       {u"Re- a-b-.eml"_s, "spam@example.com"}};
    for (const auto &[name, from] : copies) {
        MailMessage copy;
        copy.LoadMessageFile(QDir(f.archive).filePath(name));
        QCOMPARE(copy.FromText(), QString::fromLatin1(from));
        QCOMPARE(copy.Body.size(), 2);
        QCOMPARE(copy.Body.at(1), QByteArray(".a line that begins with a dot"));
    }

    QCOMPARE(f.smtp.messages().size(), 1);
    const FakeSmtpServer::Message &notice = f.smtp.messages().constFirst();
    QCOMPARE(notice.from, QByteArray("MailDaemon@example.net"));
    QCOMPARE(notice.to, QList<QByteArray>{"spam@example.com"});
    const qsizetype blank = notice.dataLines.indexOf(QByteArray());
    QVERIFY(notice.dataLines.contains("Subject: Delivery Notification: Delivery has failed"));
    QVERIFY(notice.dataLines.contains("From: MailDaemon@example.net"));
    QVERIFY(notice.dataLines.contains("To: spam@example.com"));
    QCOMPARE(
        notice.dataLines.mid(blank + 1),
        (QList<QByteArray>{
            "This report relates to a message you sent with the following header fields:", "",
            "From: spam@example.com", "To: Me <me@example.net>", "Subject: Re: a/b?",
            "Date: Mon, 6 May 2024 07:00:00 +0000", "", "",
            "Your message cannot be delivered to the following recipients:", "",
            "Recipient address: Me <me@example.net>", "Reason: User at host/domain not found"}));

    QCOMPARE(f.view.questions,
             QStringList{u"3 items deleted from server. Do you wish to reconnect?"_s});
    QCOMPARE(result.processed, 3);
    QCOMPARE(result.messages.size(), 3);
    QCOMPARE(result.messages[1].bouncedTo, u"spam@example.com"_s);
    QCOMPARE(result.messages[1].archivePath, QDir(f.archive).filePath(u"Re- a-b-.eml"_s));
    QVERIFY(!result.reconnected);
    QCOMPARE(f.waits, (QList<int>{100, 100, 100}));
    QVERIFY(f.session->rows().isEmpty());
    QVERIFY(!f.session->POP().IsOpen());
    QCOMPARE(f.view.serverName, u"Idle..."_s);
    QCOMPARE(f.view.panel0, QString());
    QVERIFY(!f.view.connected);
    QVERIFY(!f.view.busy);
    QVERIFY(f.view.errors.isEmpty());
}

void TestProcessing::switchedOff_data() {
    QTest::addColumn<bool>("logging");
    QTest::addColumn<bool>("save");
    QTest::addColumn<QList<QByteArray>>("commands");
    QTest::addColumn<int>("logLines");
    QTest::addColumn<int>("archived");

    QTest::newRow("no copies") << true << false
                               << QList<QByteArray>{"DELE 4", "TOP 3 0", "DELE 3", "DELE 1", "QUIT"}
                               << 9 << 0;
    QTest::newRow("no log") << false << true
                            << QList<QByteArray>{"RETR 4", "DELE 4", "TOP 3 0", "RETR 3",
                                                 "DELE 3", "RETR 1", "DELE 1",  "QUIT"}
                            << 1 << 3;
}

void TestProcessing::switchedOff() {
    QFETCH(bool, logging);
    QFETCH(bool, save);
    QFETCH(QList<QByteArray>, commands);
    QFETCH(int, logLines);
    QFETCH(int, archived);

    Fixture f;
    f.settings.Logging = logging;
    f.settings.Save = save;
    f.mark(kMarks);
    f.process();
    QCOMPARE(f.commands(), commands);
    QCOMPARE(f.log.LogLines.size(), logLines);
    QCOMPARE(f.archiveFiles().size(), archived);
    // The total counts whether or not the log is written.
    QCOMPARE(f.log.DeleteCount, u"44"_s);
    QCOMPARE(f.pop.messages(kHost).size(), 1);
}

void TestProcessing::nothingMarked() {
    Fixture f;
    const ProcessingResult result = f.process();
    QCOMPARE(f.commands(), QList<QByteArray>{"QUIT"});
    QCOMPARE(f.pop.messages(kHost).size(), 4);
    QCOMPARE(f.view.questions,
             QStringList{u"0 items deleted from server. Do you wish to reconnect?"_s});
    QCOMPARE(f.log.LogLines.mid(2), (QStringList{QString(45, u'-'), QString(40, u'-'),
                                                 u"Process Messages finished"_s, QString()}));
    QCOMPARE(f.log.DeleteCount, u"41"_s);
    QVERIFY(result.ran);
    QCOMPARE(result.processed, 0);
    QVERIFY(f.session->rows().isEmpty());
}

void TestProcessing::noRows() {
    Fixture f;
    f.session->DisconnectExecute();
    const ProcessingResult result = f.process();
    QCOMPARE(f.view.errors,
             QStringList{u"Must have connected to server and have emails to process"_s});
    QVERIFY(!result.ran);
    QCOMPARE(f.log.LogLines, QStringList{u"an earlier line"_s});
    QVERIFY(f.view.questions.isEmpty());
}

void TestProcessing::markedRowsOfAnEndedConnection() {
    // Rows that outlived their connection (a check of another account failed) stand for
    // messages of a session that no longer exists.
    Fixture f;
    f.mark(kMarks);
    f.session->POP().AbandonSession();
    const ProcessingResult result = f.process();
    QVERIFY(!result.ran);
    QCOMPARE(f.view.errors.size(), 1);
    QCOMPARE(f.log.LogLines, QStringList{u"an earlier line"_s});
    QCOMPARE(f.pop.messages(kHost).size(), 4);
}

void TestProcessing::autoModeAsksNothing() {
    Fixture f;
    f.view.answer = true;
    f.session->AutoMode = true;
    f.mark({RowMark::Delete});
    const ProcessingResult result = f.process();
    QVERIFY(f.view.questions.isEmpty());
    QVERIFY(!result.reconnected);
    QCOMPARE(f.commands(), (QList<QByteArray>{"RETR 1", "DELE 1", "QUIT"}));
    QVERIFY(!f.session->POP().IsOpen());
}

void TestProcessing::reconnect() {
    Fixture f;
    f.view.answer = true;
    f.mark({RowMark::Delete, RowMark::Delete});
    const ProcessingResult result = f.process();
    QVERIFY(result.reconnected);
    QCOMPARE(f.commands(), (QList<QByteArray>{"RETR 2", "DELE 2", "RETR 1", "DELE 1", "QUIT",
                                              "USER alice", "PASS ****", "STAT", "LIST", "TOP 1 0",
                                              "LIST 1", "TOP 2 0", "LIST 2"}));
    QCOMPARE(f.session->rows().size(), 2);
    QCOMPARE(f.session->rows().at(0).Subject, u"Re: a/b?"_s);
    QVERIFY(f.session->POP().IsOpen());
    QVERIFY(f.view.connected);
    QCOMPARE(f.view.serverName, kHost);
    QCOMPARE(f.view.panel0, u"No message selected"_s);
    QCOMPARE(f.view.panel2, u"2"_s);
    // The end lines follow the reconnect.
    QCOMPARE(f.log.LogLines.constLast(), QString());
    QVERIFY(!f.view.busy);
}

void TestProcessing::reconnectFails() {
    Fixture f;
    f.view.answer = true;
    f.session->CurrentAccount.Host = u"gone.example.net"_s;
    f.process();
    QCOMPARE(f.view.errors, QStringList{u"Could not establish connection with "
                                        u"\"gone.example.net\" on port \"110\" please check your "
                                        u"settings"_s});
    QVERIFY(!f.view.connected);
    QCOMPARE(f.view.panel1, QString());
    QCOMPARE(f.view.serverName, u"Idle..."_s);
    QVERIFY(!f.view.busy);
    QCOMPARE(f.log.LogLines.constLast(), QString());
}

void TestProcessing::failedStepDeletesNothing_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("copiesLeft");

    QTest::newRow("copy refused by the server")
        << u"refuse RETR 1"_s
        << u"The server would not send message 1 (\"Hi\") for its archive copy."_s << 2;
    QTest::newRow("connection drops while the copy is fetched")
        << u"drop RETR 4"_s
        << u"Message 4 (\"Hi\") could not be fetched for its archive copy: Connection Closed "
           u"Gracefully."_s
        << 0;
    QTest::newRow("copy cannot be written")
        << u"archive unwritable"_s
        << u"The archive copy of message 4 (\"Hi\") could not be "
           u"written: Cannot create file"_s
        << 0;
    QTest::newRow("archive folder on a full disk")
        << u"archive on a full disk"_s
        << u"The archive copy of message 4 (\"Hi\") could not be written: Cannot create file"_s
        << 0;
    QTest::newRow("header for the notice refused")
        << u"refuse TOP 3 0"_s
        << u"The header of message 3 (\"Re: a/b?\") could not be fetched for its bounce "
           u"notice: no such message"_s
        << 1;
    QTest::newRow("notice refused by the SMTP server")
        << u"refuse RCPT"_s
        << u"The bounce notice for message 3 (\"Re: a/b?\") could not be sent: 5.1.1 No such "
           u"user"_s
        << 1;
    QTest::newRow("SMTP server unreachable")
        << u"no SMTP server"_s
        << u"The bounce notice for message 3 (\"Re: a/b?\") could not be sent: Socket Error # "
           u"10061\r\nConnection refused."_s
        << 1;
    QTest::newRow("deletion refused")
        << u"refuse DELE 1"_s << u"Message 1 (\"Hi\") could not be deleted: no such message"_s << 3;
    QTest::newRow("total is not a number")
        << u"bad total"_s
        << u"Message 4 (\"Hi\") could not be processed: The total of deleted messages "
           u"\"many\" is not a whole number."_s
        << 0;
}

void TestProcessing::failedStepDeletesNothing() {
    QFETCH(QString, fault);
    QFETCH(QString, error);
    QFETCH(int, copiesLeft);

    Fixture f;
    std::unique_ptr<corvane::test::FullDisk> disk;
    if (fault == u"archive on a full disk"_s) {
        disk = std::make_unique<corvane::test::FullDisk>();
        if (!disk->mounted())
            QSKIP(qPrintable(disk->error()));
        f.archive = disk->filePath(u"archive"_s);
        QVERIFY(QDir().mkpath(f.archive));
        QVERIFY(disk->fill());
    }
    if (fault.startsWith(u"refuse RCPT"_s)) {
        f.smtp.setReply("RCPT", "550 5.1.1 No such user\r\n");
    } else if (fault.startsWith(u"refuse "_s)) {
        f.pop.refuse(fault.mid(7).toLatin1(), "no such message");
    } else if (fault.startsWith(u"drop "_s)) {
        f.pop.dropAt(fault.mid(5).toLatin1());
    } else if (fault == u"archive unwritable"_s) {
        QFile blocker(f.dir.filePath(u"blocker"_s));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        f.archive = blocker.fileName() + u"/archive"_s;
    } else if (fault == u"no SMTP server"_s) {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        f.settings.smtpport = QString::number(probe.serverPort());
    } else if (fault == u"bad total"_s) {
        f.log.DeleteCount = u"many"_s;
    }
    const QStringList logBefore = f.log.LogLines;
    const QString countBefore = f.log.DeleteCount;
    f.mark(kMarks);

    const QString text = f.processError();
    QVERIFY2(text.startsWith(error), qPrintable(text));
    if (disk)
        QVERIFY2(text.contains(u"No space left on device"_s), qPrintable(text));
    QVERIFY2(text.endsWith(u"Processing stopped there, and no message of this run has been "
                           u"deleted from the server."_s),
             qPrintable(text));

    // Every message is still on the server: the session never ended with QUIT, and when the
    // connection still stood its marks were cleared with RSET.
    QCOMPARE(f.pop.messages(kHost).size(), kMessages.size());
    const QList<QByteArray> commands = f.commands();
    QVERIFY(!commands.contains("QUIT"));
    if (!fault.startsWith(u"drop"_s))
        QCOMPARE(commands.constLast(), QByteArray("RSET"));
    QVERIFY(!f.session->POP().IsOpen());

    // The log records only deletions that took effect; copies made before the stop remain.
    QCOMPARE(f.log.LogLines, logBefore);
    QCOMPARE(f.log.DeleteCount, countBefore);
    QCOMPARE(f.archiveFiles().size(), copiesLeft);

    QVERIFY(f.session->rows().isEmpty());
    QCOMPARE(f.view.serverName, u"Idle..."_s);
    QVERIFY(!f.view.connected);
    QVERIFY(!f.view.busy);
    QVERIFY(f.view.questions.isEmpty());
}

void TestProcessing::bounceSender_data() {
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("smtpemail");
    QTest::addColumn<QString>("sender");

    QTest::newRow("the account's domain")
        << u"alice@home.example"_s << u"me@smtp.example"_s << u"MailDaemon@home.example"_s;
    QTest::newRow("account address with a name")
        << u"Alice <alice@home.example>"_s << u"me@smtp.example"_s << u"MailDaemon@home.example"_s;
    QTest::newRow("account without at sign")
        << u"alice"_s << u"me@smtp.example"_s << u"MailDaemon@smtp.example"_s;
    QTest::newRow("account with nothing after the at sign")
        << u"alice@"_s << u"me@smtp.example"_s << u"MailDaemon@smtp.example"_s;
    QTest::newRow("no account address")
        << QString() << u"me@smtp.example"_s << u"MailDaemon@smtp.example"_s;
    QTest::newRow("neither has an at sign") << u"alice"_s << u"me"_s << u"MailDaemon"_s;
}

void TestProcessing::bounceSender() {
    QFETCH(QString, account);
    QFETCH(QString, smtpemail);
    QFETCH(QString, sender);
    QCOMPARE(MessageProcessor::bounceSender(u"MailDaemon"_s, account, smtpemail), sender);
}

QTEST_GUILESS_MAIN(TestProcessing)
#include "tst_processing.moc"
