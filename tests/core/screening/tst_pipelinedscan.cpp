// The header scan with its commands sent ahead of their replies, against a scripted server on a
// real socket: it lists exactly the rows, and fails with exactly the error, of the lock-step scan
// of the same replies (run on a scripted transport with pipelining switched off).

#include "core/errors.h"
#include "core/protocol/tcptransport.h"
#include "core/rules/rulelists.h"
#include "core/screening/mailboxsession.h"
#include "core/settings/settings.h"
#include "fakeserver.h"
#include "faketransport.h"
#include "screeningrecorder.h"

#include <QTest>

using namespace Qt::StringLiterals;
using corvane::Error;
using corvane::HeaderRow;
using corvane::MailboxSession;
using corvane::RuleLists;
using corvane::Settings;
using corvane::TcpTransport;
using corvane::Transport;
using corvane::test::FakeServer;
using corvane::test::FakeTransport;
using corvane::test::ScreeningRecorder;

namespace {

constexpr int kCount = 3;
// The lines the scan sends for messages 1 to kCount, in order.
const QByteArrayList kScanCommands{"TOP 1 0", "LIST 1", "TOP 2 0", "LIST 2", "TOP 3 0", "LIST 3"};

QByteArray header(const QByteArray &subject, const QByteArray &from, const QByteArray &extra = {}) {
    return "+OK\r\nSubject: " + subject + "\r\nFrom: " + from +
           "\r\nTo: alice@example.net\r\nDate: Tue, 3 Jun 2003 10:00:00 +0000\r\n" + extra +
           "\r\n.\r\n";
}

// What a scan produced.
struct Outcome {
    QList<HeaderRow> rows;
    QString error;
    bool open = false;
};

struct Session {
    RuleLists lists;
    Settings settings;
    ScreeningRecorder view;
    std::unique_ptr<MailboxSession> session;

    Session(Transport &transport, quint16 port, bool pipelining) {
        lists.Misc.setAll(false);
        lists.Misc.setTicked(4, true); // the spam score
        lists.Friendly.add(u"friend@example.net"_s, {QString()});
        settings.pop3pipelining = pipelining;
        session = std::make_unique<MailboxSession>(transport, nullptr, lists, view);
        session->setSettings(&settings);
        session->CurrentAccount = {u"127.0.0.1"_s, QString::number(port), u"alice"_s, u"pw"_s};
    }

    Outcome check() {
        Outcome o;
        try {
            session->CheckAccount(-1);
        } catch (const Error &e) {
            o.error = e.message();
        }
        o.rows = session->rows();
        o.open = session->POP().IsOpen();
        return o;
    }
};

} // namespace

class TestPipelinedScan final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sameRowsAsLockStep_data();
    void sameRowsAsLockStep();
    void serverWithoutPipelining_data();
    void serverWithoutPipelining();
};

void TestPipelinedScan::sameRowsAsLockStep_data() {
    // The server's replies to kScanCommands, in order; with fewer than six, the server closes
    // the connection after the last one.
    QTest::addColumn<QByteArrayList>("replies");

    const QByteArray friendly = header("Lunch", "Friend <friend@example.net>");
    const QByteArray spam = header("Win big", "promo@spam.example", "X-Spam-Score: 5.0\r\n");
    const QByteArray plain = header("Minutes", "Bob <bob@example.net>");
    QTest::newRow("all answered") << QByteArrayList{
        friendly, "+OK 1 700\r\n", spam, "+OK 2 701\r\n", plain, "+OK 3 702\r\n"};
    QTest::newRow("TOP refused in the window")
        << QByteArrayList{friendly,        "+OK 1 700\r\n", "-ERR no such message\r\n",
                          "+OK 2 701\r\n", plain,           "+OK 3 702\r\n"};
    QTest::newRow("LIST refused in the window")
        << QByteArrayList{friendly, "+OK 1 700\r\n", spam, "-ERR gone\r\n", plain, "+OK 3\r\n"};
    QTest::newRow("over-long header line") << QByteArrayList{
        friendly,
        "+OK 1 700\r\n",
        header("Long", "x@example.net", "X-Long: " + QByteArray(20000, 'a') + "\r\n"),
        "+OK 2 701\r\n",
        plain,
        "+OK 3 702\r\n"};
    QTest::newRow("dropped in the middle of a header")
        << QByteArrayList{friendly, "+OK 1 700\r\n", "+OK\r\nSubject: half\r\nFrom: a@"};
    QTest::newRow("dropped between replies") << QByteArrayList{friendly, "+OK 1 700\r\n", spam};
    // The client ends the connection itself.
    QTest::newRow("not a POP3 reply")
        << QByteArrayList{friendly, "+OK 1 700\r\n", spam, "* 2 701\r\n"};
}

void TestPipelinedScan::sameRowsAsLockStep() {
    QFETCH(QByteArrayList, replies);
    const bool drops = replies.size() < kScanCommands.size();
    const QByteArray login = "+OK ready\r\n";
    const QByteArray stat = "+OK 3 2100\r\n";
    const QByteArray listing = "+OK\r\n1 700\r\n2 701\r\n3 702\r\n.\r\n";

    // The lock-step scan: pipelining switched off, so no CAPA and one command at a time.
    FakeTransport t;
    t.reply(login).expect("USER alice").reply("+OK\r\n").expect("PASS pw").reply("+OK\r\n");
    t.expect("STAT").reply(stat).expect("LIST").reply(listing);
    for (qsizetype i = 0; i < replies.size(); ++i)
        t.expect(kScanCommands.at(i)).reply(replies.at(i));
    Session lockStep(t, 110, false);
    const Outcome expected = lockStep.check();
    if (!drops)
        t.verifyScriptDone();

    // The pipelined scan: the server answers nothing until it has every command of the scan,
    // which a lock-step client would never send.
    FakeServer server;
    server.send(login).expect("USER alice").send("+OK\r\n").expect("PASS pw").send("+OK\r\n");
    server.expect("STAT").send(stat).expect("LIST").send(listing);
    server.expect("CAPA").send("+OK\r\nUSER\r\nTOP\r\nPIPELINING\r\n.\r\n");
    for (const QByteArray &command : kScanCommands)
        server.expect(command);
    server.send(replies.join());
    if (drops)
        server.closeConnection();
    else
        server.fallSilent();
    TcpTransport socket;
    socket.setDeadlines(10000);
    socket.setReadTimeout(10000);
    Session pipelined(socket, server.port(), true);
    const Outcome got = pipelined.check();

    QCOMPARE(server.mismatches(), QStringList());
    QCOMPARE(got.error, expected.error);
    QCOMPARE(got.rows, expected.rows);
    QCOMPARE(got.open, expected.open);
    QCOMPARE(pipelined.view.statusTexts, lockStep.view.statusTexts);
}

void TestPipelinedScan::serverWithoutPipelining_data() {
    QTest::addColumn<QByteArray>("capa");
    QTest::newRow("CAPA refused") << QByteArray("-ERR Unknown command.\r\n");
    QTest::newRow("PIPELINING not listed") << QByteArray("+OK\r\nTOP\r\nUIDL\r\n.\r\n");
}

void TestPipelinedScan::serverWithoutPipelining() {
    QFETCH(QByteArray, capa);
    FakeServer server;
    server.send("+OK ready\r\n").expect("USER alice").send("+OK\r\n").expect("PASS pw");
    server.send("+OK\r\n").expect("STAT").send("+OK 3 2100\r\n").expect("LIST");
    server.send("+OK\r\n1 700\r\n2 701\r\n3 702\r\n.\r\n").expect("CAPA").send(capa);
    // Each command alone: by the time a reply has gone out, nothing after its command is in.
    int before = -1;
    const auto nothingAhead = [&] {
        if (before >= 0 && server.received().size() != before + 1)
            QFAIL("a command was sent before the reply to the one before it");
        before = int(server.received().size());
    };
    for (int n = 1; n <= kCount; ++n) {
        const QByteArray number = QByteArray::number(n);
        server.expect("TOP " + number + " 0").call(nothingAhead);
        server.pause(20).send(header("Message " + number, "m@example.net"));
        server.expect("LIST " + number).call(nothingAhead);
        server.pause(20).send("+OK " + number + " 70" + number + "\r\n");
    }
    server.fallSilent();
    TcpTransport socket;
    socket.setDeadlines(10000);
    Session s(socket, server.port(), true);
    const Outcome got = s.check();
    QCOMPARE(got.error, QString());
    QCOMPARE(server.mismatches(), QStringList());
    QCOMPARE(got.rows.size(), kCount);
    for (int n = 1; n <= kCount; ++n) {
        QCOMPARE(got.rows.at(n - 1).Subject, u"Message %1"_s.arg(n));
        QCOMPARE(got.rows.at(n - 1).Size, u"70%1"_s.arg(n));
    }
}

QTEST_GUILESS_MAIN(TestPipelinedScan)
#include "tst_pipelinedscan.moc"
