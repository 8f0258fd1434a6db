// Processing marked messages against a POP3 server that applies deletions only on QUIT and a
// scripted SMTP server: the order of commands, the log lines, the archive copies and their
// names, the bounce notice, the question and the reconnect, and runs that must delete nothing
// because a step failed.

#include "core/errors.h"
#include "core/protocol/mailmessage.h"
#include "core/records/deletionlog.h"
#include "core/rules/rulelists.h"
#include "core/screening/mailboxsession.h"
#include "core/screening/processing.h"
#include "core/settings/accountstore.h"
#include "core/settings/settings.h"
#include "fakepop3mailbox.h"
#include "fakesmtpserver.h"
#include "fulldisk.h"
#include "screeningrecorder.h"
#include "testmessage.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using corvane::AccountStore;
using corvane::DeletionLog;
using corvane::Error;
using corvane::ErrorKind;
using corvane::FileError;
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
using corvane::test::TestMessage;

namespace {

const QString kHost = u"pop.example.net"_s;
const QDateTime kNow(QDate(2024, 5, 6), QTime(7, 8, 9));

// A message as the server sends it after RETR: its lines with CR LF, those that begin with "."
// doubled, and the end line.
QByteArray asFetched(const QByteArray &message) {
    QList<QByteArray> lines = message.split('\n');
    if (message.endsWith('\n'))
        lines.removeLast();
    QByteArray out;
    for (const QByteArray &line : std::as_const(lines))
        out += (line.startsWith('.') ? "." + line : line) + "\r\n";
    return out + ".\r\n";
}

// Messages 1 to 4: Hi, Keep, Re: a/b? and Hi again.
const QList<QByteArray> kMessages{
    TestMessage()
        .from("Ann <ann@example.org>")
        .subject("Hi")
        .date("Mon, 6 May 2024 07:00:00 +0000")
        .body("Body of Hi\n.a line that begins with a dot")
        .text(),
    TestMessage()
        .from("keep@example.org")
        .subject("Keep")
        .date("Mon, 6 May 2024 07:00:00 +0000")
        .body("Body of Keep\n.a line that begins with a dot")
        .text(),
    TestMessage()
        .from("spam@example.com")
        .subject("Re: a/b?")
        .date("Mon, 6 May 2024 07:00:00 +0000")
        .body("Body of Re: a/b?\n.a line that begins with a dot")
        .text(),
    TestMessage()
        .from("Bea <bea@example.org>")
        .subject("Hi")
        .date("Mon, 6 May 2024 07:00:00 +0000")
        .body("Body of Hi\n.a line that begins with a dot")
        .text(),
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
    std::function<void()> onWait; // runs in each pause after a deletion
    std::unique_ptr<MailboxSession> session;
    QString archive;
    corvane::RunRecorder *recorder = nullptr;

    // setup runs before the account is checked (to script the server's LIST sizes).
    explicit Fixture(const QList<QByteArray> &messages = kMessages,
                     const std::function<void(FakePop3Mailbox &)> &setup = {}) {
        pop.addMailbox(kHost, u"alice"_s, u"pw"_s, messages);
        if (setup)
            setup(pop);
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
        hooks.wait = [this](int ms) {
            waits << ms;
            if (onWait)
                onWait();
        };
        hooks.recorder = recorder;
        MessageProcessor p(*session, settings, log, archive, hooks);
        p.setAccountEmail(u"alice@example.net"_s);
        return p;
    }
    ProcessingResult process() { return processor().ProcessMessages(); }
    QString processError(ErrorKind *kind = nullptr) {
        try {
            process();
        } catch (const Error &e) {
            if (kind)
                *kind = corvane::errorKind(e);
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

// Records what processing asks to have written, and fails where told (a full disk, a log that
// cannot be replaced).
struct RecorderProbe final : corvane::RunRecorder {
    std::function<QList<QByteArray>()> serverCommands;
    bool failRecord = false;
    bool failSettle = false;
    std::optional<corvane::PendingRun> recorded;
    bool quitSentBeforeRecord = false;
    std::optional<bool> settled; // confirmed or not

    void settleEarlierRun() override {}
    void recordBeforeQuit(const corvane::PendingRun &run) override {
        quitSentBeforeRecord = serverCommands().contains("QUIT");
        if (failRecord)
            throw FileError(u"Cannot create file \"logfile.pending\". No space left on device"_s);
        recorded = run;
    }
    void settle(bool confirmed) override {
        settled = confirmed;
        if (failSettle)
            throw FileError(u"Unable to write to logfile.log. No space left on device"_s);
    }
};

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
    void quitReplyDecides_data();
    void quitReplyDecides();
    void recordedBeforeQuit_data();
    void recordedBeforeQuit();
    void archivedAsFetched_data();
    void archivedAsFetched();
    void listedSizeCheck_data();
    void listedSizeCheck();
    void longLineIsArchivedWhole_data();
    void longLineIsArchivedWhole();
    void refusedBeforeTheRun_data();
    void refusedBeforeTheRun();
    void unusableTotalRestarts_data();
    void unusableTotalRestarts();
    void bounceSender_data();
    void bounceSender();
    void bounceToASenderTheStrictParserRejects();
    void harmfulBounceIsOnlyDeleted();
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
    QVERIFY(notice.dataLines.mid(0, blank).contains("Auto-Submitted: auto-replied"));
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
    QCOMPARE(result.processed, 0);
    QVERIFY(f.session->rows().isEmpty());
}

void TestProcessing::noRows() {
    Fixture f;
    f.session->DisconnectExecute();
    try {
        f.process();
        QFAIL("processing without rows was reported as done");
    } catch (const Error &e) {
        QCOMPARE(e.message(), u"Must have connected to server and have emails to process"_s);
    }
    QCOMPARE(f.log.LogLines, QStringList{u"an earlier line"_s});
    QVERIFY(f.view.questions.isEmpty());
}

void TestProcessing::markedRowsOfAnEndedConnection() {
    // Rows that outlived their connection (a check of another account failed) stand for
    // messages of a session that no longer exists.
    Fixture f;
    f.mark(kMarks);
    f.session->POP().AbandonSession();
    QVERIFY_THROWS_EXCEPTION(corvane::Error, f.process());
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
                                              "USER alice", "PASS ****", "STAT", "LIST", "CAPA",
                                              "TOP 1 0", "LIST 1", "TOP 2 0", "LIST 2"}));
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
    try {
        f.process();
        QFAIL("a failed reconnect was reported as done");
    } catch (const corvane::NetworkError &e) {
        // The run itself took effect; only the reconnect failed.
        QCOMPARE(e.message(), u"Could not establish connection with \"gone.example.net\" on "
                              u"port \"110\" please check your settings"_s);
    }
    QCOMPARE(f.pop.messages(kHost).size(), 4);
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
    QTest::newRow("archive folder's disk fills up during the run")
        << u"archive on a full disk"_s
        << u"The archive copy of message 3 (\"Re: a/b?\") could not be written: Cannot create "
           u"file"_s
        << 1;
    QTest::newRow("copy arrives short, properly ended")
        << u"cut RETR 1"_s << u"Message 1 (\"Hi\") arrived with "_s << 2;
    QTest::newRow("connection ends between the last DELE and QUIT")
        << u"drop after the last DELE"_s
        << u"The connection to the server ended before the deletions could be confirmed"_s << 3;
    QTest::newRow("header for the notice refused")
        << u"refuse TOP 3 0"_s
        << u"The header of message 3 (\"Re: a/b?\") could not be fetched for its bounce "
           u"notice: the server answered \"no such message\""_s
        << 1;
    QTest::newRow("notice refused by the SMTP server")
        << u"refuse RCPT"_s
        << u"The bounce notice for message 3 (\"Re: a/b?\") could not be sent: the server answered "
           u"\"5.1.1 No such "
           u"user"_s
        << 1;
    QTest::newRow("SMTP server unreachable")
        << u"no SMTP server"_s
        << u"The bounce notice for message 3 (\"Re: a/b?\") could not be sent: Socket Error # "
           u"10061\r\nConnection refused."_s
        << 1;
    QTest::newRow("deletion refused")
        << u"refuse DELE 1"_s
        << u"Message 1 (\"Hi\") could not be deleted: the server answered \"no such message\""_s
        << 3;
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
        // Message 4 is copied and deleted, then the disk is full.
        f.onWait = [&f, &disk] {
            if (f.waits.size() == 1)
                QVERIFY(disk->fill());
        };
    }
    if (fault.startsWith(u"refuse RCPT"_s)) {
        f.smtp.setReply("RCPT", "550 5.1.1 No such user\r\n");
    } else if (fault.startsWith(u"refuse "_s)) {
        f.pop.refuse(fault.mid(7).toLatin1(), "no such message");
    } else if (fault == u"drop after the last DELE"_s) {
        // The server confirms the last DELE, then goes away before QUIT is sent.
        f.onWait = [&f] {
            if (f.waits.size() == 3)
                f.pop.close();
        };
    } else if (fault.startsWith(u"drop "_s)) {
        f.pop.dropAt(fault.mid(5).toLatin1());
    } else if (fault.startsWith(u"cut "_s)) {
        f.pop.cutRetr(fault.mid(4).toLatin1(), 3);
    } else if (fault == u"no SMTP server"_s) {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        f.settings.smtpport = QString::number(probe.serverPort());
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
    if (fault.startsWith(u"drop after"_s))
        QCOMPARE(commands.constLast(), QByteArray("DELE 1"));
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

void TestProcessing::quitReplyDecides_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("leftOnServer");
    QTest::addColumn<int>("kind"); // the ErrorKind thrown, -1 for none
    QTest::addColumn<QString>("says");

    QTest::newRow("+OK commits the run") << QString() << 1 << -1 << QString();
    // RFC 1939 lets a server answer -ERR when some deletions were not applied: perhaps others
    // were, so nothing is known.
    QTest::newRow("-ERR: the outcome is not known")
        << u"refuse"_s << 4 << int(ErrorKind::OutcomeUnknown)
        << u"The server answered QUIT with an error (\"some deleted messages not removed\"): it "
           u"may have deleted some of the messages of this run (3 messages) and not others."_s;
    QTest::newRow("connection drops at QUIT")
        << u"drop"_s << 4 << int(ErrorKind::OutcomeUnknown)
        << u"The server did not answer QUIT (Connection Closed Gracefully.), so it is not "
           u"known whether the messages of this run (3 messages) have been deleted"_s;
    QTest::newRow("deletions applied, reply lost")
        << u"lose"_s << 1 << int(ErrorKind::OutcomeUnknown) << u"The server did not answer QUIT"_s;
}

void TestProcessing::quitReplyDecides() {
    QFETCH(QString, fault);
    QFETCH(int, leftOnServer);
    QFETCH(int, kind);
    QFETCH(QString, says);

    Fixture f;
    if (fault == u"refuse"_s)
        f.pop.refuse("QUIT", "some deleted messages not removed");
    else if (fault == u"drop"_s)
        f.pop.dropAt("QUIT");
    else if (fault == u"lose"_s)
        f.pop.loseReplyTo("QUIT");
    f.mark(kMarks);
    const QList<HeaderRow> rows = f.session->rows();

    ErrorKind thrown = ErrorKind::Other;
    const QString text = f.processError(&thrown);
    QCOMPARE(f.pop.messages(kHost).size(), leftOnServer);
    QCOMPARE(f.commands().constLast(), QByteArray("QUIT"));
    QVERIFY(!f.session->POP().IsOpen());
    QVERIFY(f.session->rows().isEmpty());
    QVERIFY(!f.view.connected);
    QVERIFY(!f.view.busy);
    const QString deleted = u"Email from Ann <ann@example.org> deleted, sent to Me "_s
                            u"<me@example.net> with subject Hi dated "_s +
                            rows[0].Date;
    if (kind < 0) {
        QVERIFY2(text.isEmpty(), qPrintable(text));
        QCOMPARE(f.log.DeleteCount, u"44"_s);
        QVERIFY(f.log.LogLines.contains(deleted));
        // The question is asked only once the server has confirmed the deletions.
        QCOMPARE(f.view.questions,
                 QStringList{u"3 items deleted from server. Do you wish to reconnect?"_s});
        return;
    }
    QCOMPARE(int(thrown), kind);
    QVERIFY2(text.startsWith(says), qPrintable(text));
    QVERIFY(f.view.questions.isEmpty());
    // Neither kind of failure counts the messages.
    QCOMPARE(f.log.DeleteCount, u"41"_s);
    {
        // The log keeps naming what may be gone, marked as not confirmed, and no line says
        // "deleted" as a fact.
        const QString why = fault == u"refuse"_s ? u"QUIT answered -ERR"_s : u"no answer to QUIT"_s;
        QVERIFY(f.log.LogLines.contains(DeletionLog::unconfirmedLine(deleted, why)));
        QCOMPARE(f.log.LogLines.filter(u"Not confirmed by the server"_s).size(), 3);
        QCOMPARE(f.log.LogLines.filter(QRegularExpression(u"^Email from"_s)).size(), 0);
        QCOMPARE(f.log.LogLines.constLast(), QString());
    }
}

void TestProcessing::recordedBeforeQuit_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("leftOnServer");
    QTest::newRow("recorded, then confirmed") << QString() << 1;
    QTest::newRow("the record cannot be written: nothing is deleted") << u"record"_s << 4;
    QTest::newRow("the log cannot be saved after QUIT") << u"settle"_s << 1;
    QTest::newRow("-ERR to QUIT: settled as not confirmed") << u"refuse"_s << 4;
}

// The run's log lines and total reach the disk before QUIT makes the deletions take effect,
// so no deletion is ever without its record.
void TestProcessing::recordedBeforeQuit() {
    QFETCH(QString, fault);
    QFETCH(int, leftOnServer);
    Fixture f;
    RecorderProbe probe;
    probe.serverCommands = [&f] { return f.commands(); };
    probe.failRecord = fault == u"record"_s;
    probe.failSettle = fault == u"settle"_s;
    if (fault == u"refuse"_s)
        f.pop.refuse("QUIT", "not all removed");
    f.recorder = &probe;
    f.mark(kMarks);
    const QStringList logBefore = f.log.LogLines;

    ProcessingResult result;
    ErrorKind thrown = ErrorKind::Other;
    QString error;
    try {
        result = f.process();
    } catch (const Error &e) {
        thrown = corvane::errorKind(e);
        error = e.message();
    }
    QCOMPARE(f.pop.messages(kHost).size(), leftOnServer);
    QVERIFY(!probe.quitSentBeforeRecord);
    if (fault == u"record"_s) {
        // Undone with RSET and never confirmed with QUIT; the log and total are as before.
        QCOMPARE(thrown, ErrorKind::File);
        QVERIFY2(error.startsWith(u"The record of this run (3 messages) could not be written to "
                                  u"the disk: Cannot create file"_s),
                 qPrintable(error));
        QVERIFY(error.contains(u"no message of this run has been deleted"_s));
        QVERIFY(f.commands().contains("RSET"));
        QVERIFY(!f.commands().contains("QUIT"));
        QCOMPARE(f.log.LogLines, logBefore);
        QCOMPARE(f.log.DeleteCount, u"41"_s);
        QVERIFY(!probe.settled);
        return;
    }
    QVERIFY(probe.recorded);
    QCOMPARE(probe.recorded->messages, 3);
    QCOMPARE(probe.recorded->logLinesBefore, logBefore.size());
    QCOMPARE(probe.recorded->totalBefore, u"41"_s);
    QCOMPARE(probe.recorded->totalAfter, u"44"_s);
    // The whole run, its end lines included.
    QCOMPARE(probe.recorded->lines.constLast(), QString());
    QCOMPARE(probe.recorded->lines.at(probe.recorded->lines.size() - 2),
             u"Process Messages finished"_s);
    QCOMPARE(probe.recorded->messageLines.size(), 3);
    for (const qsizetype i : probe.recorded->messageLines)
        QVERIFY(probe.recorded->lines.at(i).startsWith(u"Email from"_s));
    QVERIFY(probe.settled);
    if (fault == u"refuse"_s) {
        QCOMPARE(thrown, ErrorKind::OutcomeUnknown);
        QCOMPARE(*probe.settled, false);
        return;
    }
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(*probe.settled, true);
    if (fault == u"settle"_s)
        QCOMPARE(result.recordProblem,
                 u"The server has deleted the messages of this run (3 messages), but the log and "
                 u"the total could not be saved: Unable to write to logfile.log. No space left on "
                 u"device Their record is kept in logfile.confirmed, and the next start adds it to "
                 u"the log."_s);
    else
        QCOMPARE(result.recordProblem, QString());
}

void TestProcessing::archivedAsFetched_data() {
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("forwarded message")
        << QByteArray("From: Ann <ann@example.org>\nTo: me@example.net\nSubject: Fwd: offer\n"
                      "Date: 6 May 2024 07:00 +0200\nMIME-Version: 1.0\n"
                      "Content-Type: multipart/mixed; boundary=\"outer\"\n\n"
                      "--outer\nContent-Type: text/plain\n\nSee below.\n.\n..two dots\n"
                      "--outer\nContent-Type: message/rfc822\n\n"
                      "From: x@example.com\nSubject: offer\n\n"
                      "a=3Db with a long line that a writer would fold "
                      "============================================================\n"
                      "--outer--\n");
    const QByteArray nest = corvane::test::nestedMultipartMessage(200);
    QTest::newRow("200-deep MIME nest") << nest;
    QTest::newRow("HTML and text pair")
        << QByteArray("From: shop@example.com\nSubject: sale\nMIME-Version: 1.0\n"
                      "Content-Type: multipart/mixed; boundary=\"m\"\n\n--m\n"
                      "Content-Type: text/plain; charset=utf-8\n"
                      "Content-Transfer-Encoding: quoted-printable\n\nPrice =3D 5\n--m\n"
                      "Content-Type: text/html\n\n<p>Price = 5</p>\n--m--\n");
    QTest::newRow("sender the address parser rejects")
        << QByteArray("From: Loan Market <x@spam.biz>@a\nSubject: loans\n\nCheap.\n");
}

void TestProcessing::archivedAsFetched() {
    QFETCH(QByteArray, message);

    Fixture f({message});
    f.mark({RowMark::Delete});
    const ProcessingResult result = f.process();
    QCOMPARE(result.processed, 1);
    QCOMPARE(f.commands(), (QList<QByteArray>{"RETR 1", "DELE 1", "QUIT"}));
    QVERIFY(f.pop.messages(kHost).isEmpty());
    QCOMPARE(f.archiveFiles().size(), 1);
    // The copy holds the lines exactly as the server sent them: nothing re-encoded, regrouped
    // or re-dated.
    QCOMPARE(corvane::test::readFile(result.messages.constFirst().archivePath), asFetched(message));
}

void TestProcessing::listedSizeCheck_data() {
    QTest::addColumn<QString>("listing");
    QTest::addColumn<bool>("archived");

    // Message 1 has one line that begins with a dot.
    QTest::newRow("size with CR LF line ends") << u"exact"_s << true;
    QTest::newRow("size with LF line ends") << u"lf"_s << true;
    QTest::newRow("size with the stuffing dot") << u"stuffed"_s << true;
    QTest::newRow("final line break not counted") << u"plus 2"_s << true;
    QTest::newRow("size unknown") << u"none"_s << true;
    QTest::newRow("a line's worth more listed") << u"plus 40"_s << false;
    QTest::newRow("RETR cut short, properly ended") << u"cut"_s << false;
}

void TestProcessing::listedSizeCheck() {
    QFETCH(QString, listing);
    QFETCH(bool, archived);

    const QByteArray wire = asFetched(kMessages[0]).chopped(3); // without the end line
    const qint64 size = wire.size() - 1;                        // unstuffed
    const qint64 lines = wire.count("\r\n");
    Fixture f(kMessages, [&](FakePop3Mailbox &pop) {
        if (listing == u"lf"_s)
            pop.setListedSize(1, size - lines);
        else if (listing == u"stuffed"_s)
            pop.setListedSize(1, size + 1);
        else if (listing == u"plus 2"_s)
            pop.setListedSize(1, size + 3);
        else if (listing == u"plus 40"_s)
            pop.setListedSize(1, size + 40);
        else if (listing == u"none"_s)
            pop.setListedSize(1, -1);
        else if (listing == u"cut"_s)
            pop.cutRetr("RETR 1", int(lines) - 1);
    });
    if (listing == u"none"_s)
        QCOMPARE(f.session->rows().constFirst().Size, u"-1"_s);
    f.mark({RowMark::Delete});
    const QString text = f.processError();
    QCOMPARE(text.isEmpty(), archived);
    QCOMPARE(f.pop.messages(kHost).size(), archived ? 3 : 4);
    QCOMPARE(f.archiveFiles().size(), archived ? 1 : 0);
    if (!archived)
        QVERIFY2(text.contains(u"but the server listed it with"_s), qPrintable(text));
}

void TestProcessing::longLineIsArchivedWhole_data() {
    QTest::addColumn<bool>("save");
    QTest::newRow("copies saved") << true;
    QTest::newRow("no copies") << false;
}

void TestProcessing::longLineIsArchivedWhole() {
    QFETCH(bool, save);
    // A body line far over the parser's line limit is common in real mail: the copy keeps it
    // whole, and the message is deleted like any other.
    const QByteArray line(20000, 'b');
    Fixture f({"From: a@example.org\nSubject: long\n\n" + line + "\nend\n"});
    f.settings.Save = save;
    f.mark({RowMark::Delete});
    const QString text = f.processError();
    QVERIFY2(text.isEmpty(), qPrintable(text));
    QCOMPARE(f.pop.messages(kHost).size(), 0);
    QCOMPARE(f.archiveFiles().size(), save ? 1 : 0);
    if (save) {
        QFile copy(QDir(f.archive).filePath(f.archiveFiles().constFirst()));
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QVERIFY(copy.readAll().contains("\r\n" + line + "\r\nend\r\n.\r\n"));
    }
}

void TestProcessing::refusedBeforeTheRun_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("logging");
    QTest::addColumn<QString>("says"); // empty: the run goes ahead

    QTest::newRow("log cannot be read")
        << u"log"_s << true << u"The deletion log %1 cannot be read"_s;
    QTest::newRow("log cannot be read, logging off") << u"log"_s << false << QString();
    QTest::newRow("archive folder cannot be created")
        << u"archive"_s << true << u"The archive folder %1 cannot be written"_s;
    QTest::newRow("archive folder on a full disk")
        << u"full disk"_s << true << u"The archive folder %1 cannot be written"_s;
}

void TestProcessing::refusedBeforeTheRun() {
    QFETCH(QString, fault);
    QFETCH(bool, logging);
    QFETCH(QString, says);

    Fixture f;
    f.settings.Logging = logging;
    QString named;
    std::unique_ptr<corvane::test::FullDisk> disk;
    if (fault == u"log"_s) {
        // A folder where the log file should be: unreadable for root too.
        named = f.dir.filePath(DeletionLog::FileName);
        QVERIFY(QDir().mkpath(named));
        QVERIFY_THROWS_EXCEPTION(corvane::FileError, f.log.load(named));
        QCOMPARE(f.log.unreadableFile(), named);
    } else if (fault == u"full disk"_s) {
        disk = std::make_unique<corvane::test::FullDisk>();
        if (!disk->mounted())
            QSKIP(qPrintable(disk->error()));
        f.archive = disk->filePath(u"archive"_s);
        QVERIFY(QDir().mkpath(f.archive));
        QVERIFY(disk->fill());
        named = f.archive;
    } else {
        QFile blocker(f.dir.filePath(u"blocker"_s));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        f.archive = blocker.fileName() + u"/archive"_s;
        named = f.archive;
    }
    const QStringList logBefore = f.log.LogLines;
    f.mark(kMarks);

    ErrorKind kind = ErrorKind::Other;
    const QString text = f.processError(&kind);
    if (says.isEmpty()) {
        QVERIFY2(text.isEmpty(), qPrintable(text));
        QCOMPARE(f.pop.messages(kHost).size(), 1);
        return;
    }
    QVERIFY2(text.startsWith(says.arg(QDir::toNativeSeparators(named))), qPrintable(text));
    QCOMPARE(kind, ErrorKind::File);
    // Nothing was sent, nothing changed: the rows and their marks wait for the user.
    QVERIFY(f.commands().isEmpty());
    QCOMPARE(f.pop.messages(kHost).size(), 4);
    QCOMPARE(f.session->rows().size(), 4);
    QCOMPARE(f.session->rows().at(2).Mark, RowMark::Bounce);
    QVERIFY(f.session->POP().IsOpen());
    QCOMPARE(f.log.LogLines, logBefore);
    QCOMPARE(f.log.DeleteCount, u"41"_s);
    QCOMPARE(f.smtp.messages().size(), 0);
}

void TestProcessing::unusableTotalRestarts_data() {
    QTest::addColumn<QString>("total");
    QTest::addColumn<bool>("autoMode");

    QTest::newRow("empty") << QString() << false;
    QTest::newRow("empty, automatic mode") << QString() << true;
    QTest::newRow("not a number") << u"many"_s << false;
    QTest::newRow("at the largest number") << u"9223372036854775807"_s << false;
}

void TestProcessing::unusableTotalRestarts() {
    QFETCH(QString, total);
    QFETCH(bool, autoMode);

    Fixture f;
    f.session->AutoMode = autoMode;
    f.log.DeleteCount = total;
    f.mark(kMarks);
    const ProcessingResult result = f.process();
    // The display total does not stop the screening: it starts again from this run.
    QCOMPARE(result.processed, 3);
    QCOMPARE(f.pop.messages(kHost).size(), 1);
    QCOMPARE(f.log.DeleteCount, u"3"_s);
    QVERIFY2(result.notice.contains(u"\"%1\""_s.arg(total)), qPrintable(result.notice));
    QVERIFY(f.view.statusTexts.contains(result.notice));
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

void TestProcessing::bounceToASenderTheStrictParserRejects() {
    // "Name <address>@a" fails the strict address parser; its sender is read leniently, so
    // the bounce reaches the address and the run goes on to the deletion.
    Fixture f({TestMessage()
                   .from("Loan Market <x@spam.example>@a")
                   .subject("Cheap loans")
                   .date("Mon, 6 May 2024 07:00:00 +0000")
                   .body("Body of Cheap loans\n.a line that begins with a dot")
                   .text()});
    QCOMPARE(f.session->rows().at(0).From, u"Loan Market <x@spam.example>"_s);
    f.mark({RowMark::Bounce});
    const ProcessingResult result = f.process();
    QCOMPARE(result.processed, 1);
    QCOMPARE(f.smtp.messages().size(), 1);
    QCOMPARE(f.smtp.messages().constFirst().to, QList<QByteArray>{"x@spam.example"});
    QVERIFY(f.pop.messages(kHost).isEmpty());
    const QStringList bounced = f.log.LogLines.filter(u"bounced and deleted"_s);
    QCOMPARE(bounced.size(), 1);
    QVERIFY2(
        bounced[0].startsWith(u"Email from Loan Market <x@spam.example> bounced and deleted, "
                              u"sent to Me <me@example.net> with subject Cheap loans dated "_s),
        qPrintable(bounced[0]));
}

void TestProcessing::harmfulBounceIsOnlyDeleted() {
    // List mail marked for bouncing between two ordinary bounces: it gets no notice, and is
    // logged, archived and deleted as a Delete row would be (the archive counter is not set
    // back for it).
    const QByteArray listMail =
        "List-Id: Cheap pills <cheap.lists.example>\n" + TestMessage()
                                                             .from("news@lists.example")
                                                             .subject("Hi")
                                                             .date("Mon, 6 May 2024 07:00:00 +0000")
                                                             .text();
    const QByteArray ordinary = TestMessage()
                                    .from("spam@example.com")
                                    .subject("Hi")
                                    .date("Mon, 6 May 2024 07:00:00 +0000")
                                    .text();
    Fixture f({ordinary, listMail, ordinary});
    f.mark({RowMark::Bounce, RowMark::Bounce, RowMark::Bounce});
    const QList<HeaderRow> rows = f.session->rows();

    const ProcessingResult result = f.process();

    QCOMPARE(f.commands(), (QList<QByteArray>{"TOP 3 0", "RETR 3", "DELE 3", "TOP 2 0", "RETR 2",
                                              "DELE 2", "TOP 1 0", "RETR 1", "DELE 1", "QUIT"}));
    QVERIFY(f.pop.messages(kHost).isEmpty());
    QCOMPARE(f.smtp.messages().size(), 2);
    for (const FakeSmtpServer::Message &notice : f.smtp.messages())
        QCOMPARE(notice.to, QList<QByteArray>{"spam@example.com"});
    // Archived like the others under the next free names.
    QCOMPARE(f.archiveFiles(), (QStringList{u"Hi(0).eml"_s, u"Hi(1).eml"_s, u"Hi.eml"_s}));
    QCOMPARE(result.processed, 3);
    QCOMPARE(result.messages[1].number, 2);
    QCOMPARE(result.messages[1].notBounced, u"it is list mail (List-Id)"_s);
    QVERIFY(result.messages[1].bouncedTo.isEmpty());
    QVERIFY(result.messages[0].notBounced.isEmpty());
    QCOMPARE(f.log.LogLines.at(4), u"Email from news@lists.example deleted, sent to "_s +
                                       rows[1].To + u" with subject Hi dated "_s + rows[1].Date +
                                       u" - not bounced: it is list mail (List-Id)"_s);
    QCOMPARE(f.log.LogLines.filter(u"bounced and deleted"_s).size(), 2);
    QCOMPARE(f.log.DeleteCount, u"44"_s);
}

QTEST_GUILESS_MAIN(TestProcessing)
#include "tst_processing.moc"
