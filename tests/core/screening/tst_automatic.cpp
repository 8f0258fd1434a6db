// Automatic mode without a window: the countdown on an injected clock, and whole passes over
// several accounts on a POP3 server that applies deletions only on QUIT.

#include "core/records/deletionlog.h"
#include "core/rules/rulelists.h"
#include "core/screening/automatic.h"
#include "core/screening/mailboxsession.h"
#include "core/settings/accountstore.h"
#include "core/settings/settings.h"
#include "fakepop3mailbox.h"
#include "fakesmtpserver.h"
#include "screeningrecorder.h"
#include "testmessage.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using corvane::AccountPassResult;
using corvane::AccountStore;
using corvane::AutomaticPass;
using corvane::AutoModeCountdown;
using corvane::DeletionLog;
using corvane::ErrorKind;
using corvane::MailboxSession;
using corvane::ProcessingHooks;
using corvane::RuleLists;
using corvane::Settings;
using corvane::test::FakePop3Mailbox;
using corvane::test::FakeSmtpServer;
using corvane::test::ScreeningRecorder;
using corvane::test::TestMessage;
using Outcome = AccountPassResult::Outcome;

namespace {

// A spam message (its subject is black-listed), a friendly one and a plain one.
const QList<QByteArray> kMailbox{TestMessage()
                                     .from("pills@spam.example")
                                     .to("me@example.net")
                                     .subject("Cheap pills today")
                                     .date("Mon, 6 May 2024 07:00:00 +0000")
                                     .body("Body")
                                     .text(),
                                 TestMessage()
                                     .from("friend@example.net")
                                     .to("me@example.net")
                                     .subject("Lunch?")
                                     .date("Mon, 6 May 2024 07:00:00 +0000")
                                     .body("Body")
                                     .text(),
                                 TestMessage()
                                     .from("bob@example.org")
                                     .to("me@example.net")
                                     .subject("Minutes")
                                     .date("Mon, 6 May 2024 07:00:00 +0000")
                                     .body("Body")
                                     .text()};

// Accounts A, B and C on hosts pop.a, pop.b and pop.c; the spam filter black-lists "cheap
// pills" and trusts friend@example.net.
struct Fixture {
    QTemporaryDir dir;
    FakePop3Mailbox pop;
    FakeSmtpServer smtp;
    std::unique_ptr<AccountStore> store;
    RuleLists lists;
    ScreeningRecorder view;
    Settings settings;
    DeletionLog log;
    std::unique_ptr<MailboxSession> session;

    Fixture() {
        store = std::make_unique<AccountStore>(dir.filePath(u"accounts.dat"_s));
        lists.SubjectBlack.clear();
        lists.SubjectBlack.add(u"cheap pills"_s, {u"pills"_s});
        lists.Friendly.add(u"friend@example.net"_s, {u"a friend"_s});
        lists.Misc.setAll(false);
        settings.smtpserver = u"127.0.0.1"_s;
        settings.smtpport = QString::number(smtp.port());
        session = std::make_unique<MailboxSession>(pop, store.get(), lists, view);
    }
    void addAccount(const QString &name, const QString &password, const QString &actual,
                    const QList<QByteArray> &messages) {
        const QString host = u"pop."_s + name.toLower();
        pop.addMailbox(host, u"user"_s, actual, messages);
        store->insert({name, host, u"110"_s, u"user"_s, password, u"user@"_s + host});
    }
    QList<AccountPassResult> pass(std::function<bool()> stop = {}) {
        ProcessingHooks hooks;
        hooks.wait = [](int) {};
        AutomaticPass p(*session, store.get(), settings, log, dir.filePath(u"archive"_s), hooks);
        p.setStopRequested(std::move(stop));
        return p.run();
    }
    QStringList subjectsOn(const QString &host) const {
        QStringList subjects;
        for (const QByteArray &m : pop.messages(host)) {
            const qsizetype at = m.indexOf("Subject: ") + 9;
            subjects << QString::fromLatin1(m.mid(at, m.indexOf('\r', at) - at));
        }
        return subjects;
    }
};

QList<Outcome> outcomes(const QList<AccountPassResult> &results) {
    QList<Outcome> list;
    for (const AccountPassResult &r : results)
        list << r.outcome;
    return list;
}

} // namespace

class TestAutomatic final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void countdown_data();
    void countdown();
    void wrongPasswordIsPassedOver();
    void emptyMailboxIsNotScanned();
    void errorInOneAccountDeletesNothingThere_data();
    void errorInOneAccountDeletesNothingThere();
    void stopBetweenAccounts();
    void stopAfterTheScanDeletesNothing();
    void accountOutcome_data();
    void accountOutcome();
};

void TestAutomatic::countdown_data() {
    QTest::addColumn<int>("interval");
    QTest::addColumn<QList<qint64>>("ticksAt"); // clock times (ms after the start) of the ticks
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("visible");

    QTest::newRow("interval 1 at switch-on")
        << 1 << QList<qint64>{} << u"Checking in 1 minutes 0 seconds"_s << true;
    QTest::newRow("interval 1, one second later")
        << 1 << QList<qint64>{1000} << u"Checking in 0 minutes 59 seconds"_s << true;
    QTest::newRow("interval 1, at zero the countdown hides")
        << 1 << QList<qint64>{59000, 60000} << u"Checking in 0 minutes 0 seconds"_s << false;
    QTest::newRow("interval 2, one second later")
        << 2 << QList<qint64>{1000} << u"Checking in 1 minutes 59 seconds"_s << true;
    QTest::newRow("interval 2, sixty seconds later")
        << 2 << QList<qint64>{59000, 60000} << u"Checking in 1 minutes 0 seconds"_s << true;
    QTest::newRow("ticks a little early or late")
        << 1 << QList<qint64>{980, 2030, 2990} << u"Checking in 0 minutes 57 seconds"_s << true;
    QTest::newRow("a late tick shows the time left")
        << 120 << QList<qint64>{1000, 8000} << u"Checking in 119 minutes 52 seconds"_s << true;
}

void TestAutomatic::countdown() {
    QFETCH(int, interval);
    QFETCH(QList<qint64>, ticksAt);
    QFETCH(QString, text);
    QFETCH(bool, visible);

    qint64 now = 5000000;
    const qint64 start = now;
    AutoModeCountdown countdown([&now] { return now; });
    countdown.start(interval);
    for (qint64 at : ticksAt) {
        now = start + at;
        QCOMPARE(countdown.tick(), visible || at != ticksAt.constLast());
    }
    QCOMPARE(countdown.text(), text);
    QCOMPARE(countdown.visible(), visible);
    QCOMPARE(countdown.remainingMs(),
             interval * 60000 - (ticksAt.isEmpty() ? 0 : ticksAt.constLast()));
}

void TestAutomatic::wrongPasswordIsPassedOver() {
    Fixture f;
    f.addAccount(u"A"_s, u"pw"_s, u"pw"_s, kMailbox);
    f.addAccount(u"B"_s, u"wrong"_s, u"pw"_s, kMailbox);
    f.addAccount(u"C"_s, u"pw"_s, u"pw"_s, kMailbox);

    const QList<AccountPassResult> results = f.pass();

    QCOMPARE(outcomes(results),
             (QList<Outcome>{Outcome::Processed, Outcome::NotConnected, Outcome::Processed}));
    QCOMPARE(results[1].accountName, u"B"_s);
    // Only spam went; friendly and plain messages stay; nothing was bounced.
    const QStringList kept{u"Lunch?"_s, u"Minutes"_s};
    QCOMPARE(f.subjectsOn(u"pop.a"_s), kept);
    QCOMPARE(f.subjectsOn(u"pop.b"_s).size(), 3);
    QCOMPARE(f.subjectsOn(u"pop.c"_s), kept);
    QCOMPARE(
        f.pop.commandsTo(u"pop.a"_s),
        (QList<QByteArray>{"USER user", "PASS ****", "STAT", "LIST", "CAPA", "TOP 1 0", "LIST 1",
                           "TOP 2 0", "LIST 2", "TOP 3 0", "LIST 3", "RETR 1", "DELE 1", "QUIT"}));
    QCOMPARE(f.pop.commandsTo(u"pop.b"_s), (QList<QByteArray>{"USER user", "PASS ****", "QUIT"}));
    QCOMPARE(f.smtp.connectionCount(), 0);

    // No message box, no question; the log holds both runs; each spam message was archived.
    QVERIFY(f.view.questions.isEmpty());
    QCOMPARE(f.log.LogLines.count(u"Process Messages finished"_s), 2);
    QCOMPARE(f.log.DeleteCount, u"2"_s);
    QCOMPARE(QDir(f.dir.filePath(u"archive"_s)).entryList(QDir::Files),
             (QStringList{u"Cheap pills today(0).eml"_s, u"Cheap pills today.eml"_s}));
    QCOMPARE(f.view.serverName, u"In auto mode"_s);
    QVERIFY(!f.view.busy);
    QVERIFY(!f.session->POP().IsOpen());
    QVERIFY(f.session->AutoMode);
}

void TestAutomatic::emptyMailboxIsNotScanned() {
    Fixture f;
    f.addAccount(u"A"_s, u"pw"_s, u"pw"_s, {});
    const QList<AccountPassResult> results = f.pass();
    QCOMPARE(outcomes(results), QList<Outcome>{Outcome::Empty});
    QCOMPARE(f.pop.commandsTo(u"pop.a"_s),
             (QList<QByteArray>{"USER user", "PASS ****", "STAT", "LIST", "QUIT"}));
    // The counts were shown while connected, then the window went back to idle.
    QVERIFY(f.view.statusTexts.contains(u"Connected"_s));
    QCOMPARE(f.view.panel2, QString());
    QVERIFY(f.log.LogLines.isEmpty());
}

void TestAutomatic::errorInOneAccountDeletesNothingThere_data() {
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<bool>("drop"); // drop the connection at command, else refuse it
    QTest::addColumn<QString>("error");

    QTest::newRow("connection drops during the scan")
        << QByteArray("TOP 3 0") << true << u"Connection Closed Gracefully."_s;
    QTest::newRow("archive copy refused")
        << QByteArray("RETR 1") << false << u"The server would not send message 1"_s;
}

void TestAutomatic::errorInOneAccountDeletesNothingThere() {
    QFETCH(QByteArray, command);
    QFETCH(bool, drop);
    QFETCH(QString, error);

    // A's spam is message 1 of 3; C's is message 2 of 2, so the fault never hits C.
    Fixture f;
    f.addAccount(u"A"_s, u"pw"_s, u"pw"_s, kMailbox);
    f.addAccount(u"C"_s, u"pw"_s, u"pw"_s,
                 {TestMessage()
                      .from("bob@example.org")
                      .to("me@example.net")
                      .subject("Minutes")
                      .date("Mon, 6 May 2024 07:00:00 +0000")
                      .body("Body")
                      .text(),
                  TestMessage()
                      .from("x@spam.example")
                      .to("me@example.net")
                      .subject("Cheap pills")
                      .date("Mon, 6 May 2024 07:00:00 +0000")
                      .body("Body")
                      .text()});
    if (drop)
        f.pop.dropAt(command);
    else
        f.pop.refuse(command, "busy");

    const QList<AccountPassResult> results = f.pass();
    QCOMPARE(outcomes(results), (QList<Outcome>{Outcome::Failed, Outcome::Processed}));
    QVERIFY2(results[0].error.startsWith(error), qPrintable(results[0].error));
    QCOMPARE(f.subjectsOn(u"pop.a"_s).size(), 3);
    QVERIFY(!f.pop.commandsTo(u"pop.a"_s).contains("QUIT"));
    QCOMPARE(f.subjectsOn(u"pop.c"_s), QStringList{u"Minutes"_s});
    QCOMPARE(f.log.LogLines.count(u"Process Messages finished"_s), 1);
    QVERIFY(!f.view.busy);
}

void TestAutomatic::stopBetweenAccounts() {
    Fixture f;
    f.addAccount(u"A"_s, u"pw"_s, u"pw"_s, {});
    f.addAccount(u"B"_s, u"pw"_s, u"pw"_s, {});
    int asked = 0;
    const QList<AccountPassResult> results = f.pass([&asked] { return ++asked > 1; });
    QCOMPARE(results.size(), 1);
    QVERIFY(f.pop.commandsTo(u"pop.b"_s).isEmpty());
}

void TestAutomatic::stopAfterTheScanDeletesNothing() {
    Fixture f;
    f.addAccount(u"A"_s, u"pw"_s, u"pw"_s, kMailbox);
    f.addAccount(u"B"_s, u"pw"_s, u"pw"_s, kMailbox);
    int asked = 0;
    // Asked before A, then between A's scan and its processing.
    const QList<AccountPassResult> results = f.pass([&asked] { return ++asked > 1; });
    QCOMPARE(outcomes(results), QList<Outcome>{Outcome::Interrupted});
    QCOMPARE(f.subjectsOn(u"pop.a"_s).size(), 3);
    const QList<QByteArray> commands = f.pop.commandsTo(u"pop.a"_s);
    QVERIFY(!commands.contains("DELE 1"));
    QCOMPARE(commands.constLast(), QByteArray("QUIT"));
    QVERIFY(f.pop.commandsTo(u"pop.b"_s).isEmpty());
    QVERIFY(f.log.LogLines.isEmpty());
    QVERIFY(!f.session->POP().IsOpen());
}

void TestAutomatic::accountOutcome_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("leftOnServer");
    QTest::addColumn<QString>("total");

    QTest::newRow("QUIT answered +OK")
        << QString() << int(Outcome::Processed) << int(ErrorKind::Other) << 2 << u"1"_s;
    // -ERR may come with some deletions applied: the outcome is not known.
    QTest::newRow("QUIT answered -ERR") << u"refuse QUIT"_s << int(Outcome::Unknown)
                                        << int(ErrorKind::OutcomeUnknown) << 3 << u"0"_s;
    QTest::newRow("connection drops at QUIT")
        << u"drop QUIT"_s << int(Outcome::Unknown) << int(ErrorKind::OutcomeUnknown) << 3 << u"0"_s;
    QTest::newRow("QUIT applied, reply lost")
        << u"lose QUIT"_s << int(Outcome::Unknown) << int(ErrorKind::OutcomeUnknown) << 2 << u"0"_s;
    QTest::newRow("connection drops during the scan")
        << u"drop TOP 2 0"_s << int(Outcome::Failed) << int(ErrorKind::Network) << 3 << u"0"_s;
    QTest::newRow("total is empty")
        << u"empty total"_s << int(Outcome::Processed) << int(ErrorKind::Other) << 2 << u"1"_s;
}

void TestAutomatic::accountOutcome() {
    QFETCH(QString, fault);
    QFETCH(int, outcome);
    QFETCH(int, kind);
    QFETCH(int, leftOnServer);
    QFETCH(QString, total);

    Fixture f;
    f.log.DeleteCount = u"0"_s;
    f.addAccount(u"A"_s, u"pw"_s, u"pw"_s, kMailbox);
    const QByteArray command = fault.section(u' ', 1).toLatin1();
    if (fault.startsWith(u"refuse"_s))
        f.pop.refuse(command, "some deleted messages not removed");
    else if (fault.startsWith(u"drop"_s))
        f.pop.dropAt(command);
    else if (fault.startsWith(u"lose"_s))
        f.pop.loseReplyTo(command);
    else if (fault == u"empty total"_s)
        f.log.DeleteCount = QString();

    const QList<AccountPassResult> results = f.pass();
    QCOMPARE(outcomes(results), QList<Outcome>{Outcome(outcome)});
    QCOMPARE(int(results[0].errorKind), kind);
    QCOMPARE(f.subjectsOn(u"pop.a"_s).size(), leftOnServer);
    // Only deletions the server confirmed are counted.
    QCOMPARE(f.log.DeleteCount, total);
    QCOMPARE(results[0].processing.processed, outcome == int(Outcome::Processed) ? 1 : 0);
    QVERIFY(!f.session->POP().IsOpen());
}

QTEST_GUILESS_MAIN(TestAutomatic)
#include "tst_automatic.moc"
