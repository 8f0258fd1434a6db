// The transport: line assembly, the line limit and the reply deadlines (scripted), and the
// socket implementation against a scripted server on 127.0.0.1.

#include "core/errors.h"
#include "core/protocol/pop3client.h"
#include "core/protocol/tcptransport.h"
#include "fakeserver.h"
#include "faketransport.h"

#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <limits>

using namespace Qt::StringLiterals;
using corvane::Error;
using corvane::Pop3Client;
using corvane::TcpTransport;
using corvane::Transport;
using corvane::test::FakeServer;
using corvane::test::FakeTransport;

namespace {

// Reads lines until one fails; returns the lines and the error text (empty if none failed).
QByteArrayList readAll(Transport &t, int max, QString &error) {
    QByteArrayList lines;
    try {
        for (int i = 0; i < max; ++i)
            lines << t.readLine();
    } catch (const Error &e) {
        error = e.message();
    }
    return lines;
}

QString errorOf(const std::function<void()> &f) {
    try {
        f();
    } catch (const Error &e) {
        return e.message();
    }
    return {};
}

// Reads lines of a multi-line reply until one fails; each line comes with whether it was cut.
QByteArrayList readAllData(Transport &t, int max, QList<bool> &cuts, QString &error) {
    QByteArrayList lines;
    const QDeadlineTimer deadline = t.startDataDeadline();
    try {
        for (int i = 0; i < max; ++i) {
            bool cut = false;
            lines << t.readDataLine(deadline, cut);
            cuts << cut;
        }
    } catch (const Error &e) {
        error = e.message();
    }
    return lines;
}

const QString kClosed = u"Connection Closed Gracefully."_s;
const QString kTooLong = u"Max line length exceeded."_s;

QString deadlineText(const char *seconds) {
    return u"The server did not complete its reply within %1 seconds."_s.arg(
        QLatin1StringView(seconds));
}

} // namespace

class TestTransport final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void lines_data();
    void lines();
    void lineLimitBeforeLineEnd();
    void dataLinesAreCut_data();
    void dataLinesAreCut();
    void endlessReplyHitsDeadline_data();
    void endlessReplyHitsDeadline();
    void notConnected();
    void transcriptMasksSecret_data();
    void transcriptMasksSecret();

    void conversationOverSocket();
    void resolvesHostName();
    void refusedConnection();
    void peerClosesWhileReading();
    void silentServerTimesOut();
    void tricklingReply_data();
    void tricklingReply();
    void endlessListingOverSocket();
    void overlongLineFromServer();
    void abortEndsPendingWait();
    void alreadyConnected();
    void closeDeliversLastLine();
    void largeWriteArrivesWhole();
    void tlsCertificateMustVerify();
    void tlsWithTrustedCertificate();
};

void TestTransport::lines_data() {
    QTest::addColumn<QByteArray>("incoming");
    QTest::addColumn<int>("chunk");
    QTest::addColumn<QByteArrayList>("expected");
    QTest::addColumn<QString>("error");

    const QByteArray atLimit(Transport::MaxLineLength, 'a');
    QTest::newRow("CR LF") << QByteArray("+OK a\r\nb\r\n") << 0 << QByteArrayList{"+OK a", "b"}
                           << kClosed;
    QTest::newRow("bare LF") << QByteArray("x\ny\n") << 0 << QByteArrayList{"x", "y"} << kClosed;
    QTest::newRow("empty lines") << QByteArray("\r\n\n.\r\n") << 0 << QByteArrayList{"", "", "."}
                                 << kClosed;
    QTest::newRow("one byte at a time")
        << QByteArray("+OK 2 320\r\n.\r\n") << 1 << QByteArrayList{"+OK 2 320", "."} << kClosed;
    QTest::newRow("CR inside a line stays")
        << QByteArray("a\rb\r\n") << 0 << QByteArrayList{"a\rb"} << kClosed;
    QTest::newRow("line without end then close")
        << QByteArray("ok\r\npartial") << 0 << QByteArrayList{"ok"} << kClosed;
    QTest::newRow("exactly the limit") << atLimit + "\r\n"
                                       << 1000 << QByteArrayList{atLimit} << kClosed;
    QTest::newRow("one over the limit") << atLimit + "b\r\nnext\r\n"
                                        << 0 << QByteArrayList{} << kTooLong;
    QTest::newRow("over the limit with bare LF") << atLimit + "b\n"
                                                 << 0 << QByteArrayList{} << kTooLong;
}

void TestTransport::lines() {
    QFETCH(QByteArray, incoming);
    QFETCH(int, chunk);
    QFETCH(QByteArrayList, expected);
    QFETCH(QString, error);

    FakeTransport t;
    t.open(u"pop.example"_s, 110);
    t.serverSays(incoming);
    t.setChunkSize(chunk);
    QString actualError;
    QCOMPARE(readAll(t, 10, actualError), expected);
    QCOMPARE(actualError, error);
}

void TestTransport::lineLimitBeforeLineEnd() {
    // A server that sends an endless line is stopped once the limit is passed, not when the
    // line ends (it may never end).
    FakeTransport t;
    t.open(u"pop.example"_s, 110);
    t.setChunkSize(4096);
    t.serverSays(QByteArray(Transport::MaxLineLength + 2, 'x'));
    t.serverSays(QByteArray(100000, 'x'));
    QCOMPARE(errorOf([&] { t.readLine(); }), kTooLong);
    QVERIFY(t.unread() > 0);
}

void TestTransport::dataLinesAreCut_data() {
    QTest::addColumn<QByteArray>("incoming");
    QTest::addColumn<int>("chunk");
    QTest::addColumn<QByteArrayList>("expected");
    QTest::addColumn<QList<bool>>("cuts");

    const QByteArray atLimit(Transport::MaxLineLength, 'a');
    QTest::newRow("exactly the limit")
        << atLimit + "\r\n.\r\n"
        << 1000 << QByteArrayList{atLimit, "."} << QList<bool>{false, false};
    QTest::newRow("one over the limit")
        << atLimit + "b\r\nnext\r\n"
        << 0 << QByteArrayList{atLimit, "next"} << QList<bool>{true, false};
    QTest::newRow("one over with bare LF")
        << atLimit + "b\n.\n"
        << 0 << QByteArrayList{atLimit, "."} << QList<bool>{true, false};
    QTest::newRow("CR at the cut") << atLimit + "\rx\r\n.\r\n"
                                   << 0 << QByteArrayList{atLimit, "."} << QList<bool>{true, false};
    // The rest of the line arrives in many reads and is skipped as it comes.
    QTest::newRow("long rest in small reads")
        << atLimit + QByteArray(100000, 'z') + "\r\nnext\r\n.\r\n"
        << 4096 << QByteArrayList{atLimit, "next", "."} << QList<bool>{true, false, false};
    QTest::newRow("line end right after a read")
        << atLimit + QByteArray(4096 * 5 - Transport::MaxLineLength - 2, 'z') + "\r\n.\r\n"
        << 4096 << QByteArrayList{atLimit, "."} << QList<bool>{true, false};
    QTest::newRow("two in a row") << atLimit + "1\r\n" + atLimit + "2\r\n.\r\n"
                                  << 0 << QByteArrayList{atLimit, atLimit, "."}
                                  << QList<bool>{true, true, false};
}

void TestTransport::dataLinesAreCut() {
    QFETCH(QByteArray, incoming);
    QFETCH(int, chunk);
    QFETCH(QByteArrayList, expected);
    QFETCH(QList<bool>, cuts);

    FakeTransport t;
    t.open(u"pop.example"_s, 110);
    t.serverSays(incoming);
    t.setChunkSize(chunk);
    QString error;
    QList<bool> actualCuts;
    QCOMPARE(readAllData(t, 10, actualCuts, error), expected);
    QCOMPARE(actualCuts, cuts);
    QCOMPARE(error, kClosed); // everything was read, nothing more
}

void TestTransport::endlessReplyHitsDeadline_data() {
    QTest::addColumn<QByteArray>("endless");

    QTest::newRow("lines without end") << QByteArray("1 120\r\n");
    QTest::newRow("a line without end") << QByteArray(4096, 'x');
}

void TestTransport::endlessReplyHitsDeadline() {
    // However fast the data comes, a multi-line reply ends by its deadline.
    QFETCH(QByteArray, endless);

    FakeTransport t;
    t.setDataDeadline(50);
    t.open(u"pop.example"_s, 110);
    t.serverRepeatsForever(endless);
    QString error;
    QList<bool> cuts;
    readAllData(t, std::numeric_limits<int>::max(), cuts, error);
    QCOMPARE(error, deadlineText("0.05"));
    QVERIFY(!t.isOpen());
    QCOMPARE(t.closeCount(), 1);
}

void TestTransport::notConnected() {
    FakeTransport t;
    QCOMPARE(errorOf([&] { t.writeLine("STAT"); }), u"Not Connected"_s);
    QCOMPARE(errorOf([&] { t.readLine(); }), u"Not Connected"_s);
}

void TestTransport::transcriptMasksSecret_data() {
    QTest::addColumn<QByteArray>("secret");
    QTest::newRow("short") << QByteArray("secret");
    QTest::newRow("long") << QByteArray("a much longer pass phrase");
    QTest::newRow("one letter") << QByteArray("x");
}

// The mask is the same whatever the password: the transcript tells nothing of its length.
void TestTransport::transcriptMasksSecret() {
    QFETCH(QByteArray, secret);
    FakeTransport t;
    QStringList transcript;
    t.setTranscript([&](const QString &line) { transcript << line; });
    t.open(u"pop.example"_s, 110);
    t.serverSays("+OK ready\r\n");
    t.readLine();
    t.writeLine("PASS " + secret, 5);
    QCOMPARE(t.takeWritten(), "PASS " + secret + "\r\n");
    QCOMPARE(transcript, (QStringList{u"--- connecting to pop.example:110"_s, u"<-- +OK ready"_s,
                                      u"--> PASS (hidden)"_s}));
}

void TestTransport::conversationOverSocket() {
    FakeServer server;
    server.send("+OK ready\r\n").expect("STAT").send("+OK 2 320\r\n").expect("QUIT");
    TcpTransport t;
    t.open(u"127.0.0.1"_s, server.port());
    QVERIFY(t.isOpen());
    QCOMPARE(t.readLine(), QByteArray("+OK ready"));
    t.writeLine("STAT");
    QCOMPARE(t.readLine(), QByteArray("+OK 2 320"));
    t.writeLine("QUIT");
    t.close();
    QVERIFY(!t.isOpen());
    QTRY_VERIFY(server.peerClosed());
    QCOMPARE(server.mismatches(), QStringList());
    QCOMPARE(server.received(), (QByteArrayList{"STAT", "QUIT"}));
}

void TestTransport::resolvesHostName() {
    FakeServer server;
    server.send("+OK\r\n");
    TcpTransport t;
    t.open(u"localhost"_s, server.port());
    QCOMPARE(t.readLine(), QByteArray("+OK"));
}

void TestTransport::refusedConnection() {
    quint16 port = 0;
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        port = closed.serverPort();
    }
    TcpTransport t;
    QCOMPARE(errorOf([&] { t.open(u"127.0.0.1"_s, port); }),
             u"Socket Error # 10061\r\nConnection refused."_s);
    QVERIFY(!t.isOpen());
    QCOMPARE(errorOf([&] { t.writeLine("STAT"); }), u"Not Connected"_s);
}

void TestTransport::peerClosesWhileReading() {
    FakeServer server;
    server.send("1 120\r\n2 30").closeConnection();
    TcpTransport t;
    t.open(u"127.0.0.1"_s, server.port());
    QCOMPARE(t.readLine(), QByteArray("1 120"));
    QCOMPARE(errorOf([&] { t.readLine(); }), kClosed);
    QVERIFY(!t.isOpen());
    QCOMPARE(errorOf([&] { t.readLine(); }), u"Not Connected"_s);
}

void TestTransport::silentServerTimesOut() {
    FakeServer server;
    server.send("+OK ready\r\n").fallSilent();
    TcpTransport t;
    t.setReadTimeout(200);
    t.open(u"127.0.0.1"_s, server.port());
    QCOMPARE(t.readLine(), QByteArray("+OK ready"));
    QCOMPARE(errorOf([&] { t.readLine(); }), u"Socket Error # 10060\r\nConnection timed out."_s);
    QVERIFY(!t.isOpen());
    QTRY_VERIFY(server.peerClosed());
}

void TestTransport::tricklingReply_data() {
    QTest::addColumn<int>("deadlineMs");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("error");

    // Each byte comes well within the read time-out; only the deadline sees the whole.
    QTest::newRow("deadline passes") << 200 << QByteArray() << deadlineText("0.2");
    QTest::newRow("within the deadline") << 20000 << QByteArray("+OK slow") << QString();
}

void TestTransport::tricklingReply() {
    QFETCH(int, deadlineMs);
    QFETCH(QByteArray, line);
    QFETCH(QString, error);

    FakeServer server;
    server.trickle("+OK slow\r\n", 40).fallSilent();
    TcpTransport t;
    t.setReadTimeout(5000);
    t.setReplyDeadline(deadlineMs);
    t.open(u"127.0.0.1"_s, server.port());
    QByteArray actual;
    QCOMPARE(errorOf([&] { actual = t.readLine(); }), error);
    QCOMPARE(actual, line);
    QCOMPARE(t.isOpen(), error.isEmpty());
    if (!error.isEmpty())
        QTRY_VERIFY(server.peerClosed());
}

void TestTransport::endlessListingOverSocket() {
    // A listing that never ends: the client gives up at the deadline and drops the
    // connection without QUIT.
    FakeServer server;
    server.send("+OK ready\r\n")
        .expect("USER alice")
        .send("+OK\r\n")
        .expect("PASS secret")
        .send("+OK\r\n")
        .expect("LIST")
        .send("+OK\r\n")
        .repeatForever("1 120\r\n2 120\r\n", 5);
    TcpTransport t;
    t.setDataDeadline(300);
    Pop3Client pop(t);
    pop.setHost(u"127.0.0.1"_s);
    pop.setPort(server.port());
    pop.setUsername(u"alice"_s);
    pop.setPassword(u"secret"_s);
    pop.OpenSession();
    QVERIFY_THROWS_EXCEPTION(corvane::NetworkError, pop.MailboxOctets());
    QVERIFY(!pop.IsOpen());
    QTRY_VERIFY(server.peerClosed());
    QCOMPARE(server.received(), (QByteArrayList{"USER alice", "PASS secret", "LIST"}));
    QCOMPARE(server.mismatches(), QStringList());
}

void TestTransport::overlongLineFromServer() {
    FakeServer server;
    server.send(QByteArray(Transport::MaxLineLength + 1, 'y') + "\r\n").fallSilent();
    TcpTransport t;
    t.open(u"127.0.0.1"_s, server.port());
    QCOMPARE(errorOf([&] { t.readLine(); }), kTooLong);
}

void TestTransport::abortEndsPendingWait() {
    // The program may have to shut down while an operation waits: abort() comes from an
    // event handled inside the wait and ends it like a dropped connection.
    FakeServer server;
    server.send("+OK ready\r\n").fallSilent();
    TcpTransport t;
    t.open(u"127.0.0.1"_s, server.port());
    t.readLine();
    bool fired = false;
    QTimer::singleShot(50, [&] {
        fired = true;
        t.abort();
    });
    QCOMPARE(errorOf([&] { t.readLine(); }), kClosed);
    QVERIFY(fired);
    QVERIFY(!t.isOpen());
}

void TestTransport::alreadyConnected() {
    FakeServer server;
    server.fallSilent();
    TcpTransport t;
    t.open(u"127.0.0.1"_s, server.port());
    QCOMPARE(errorOf([&] { t.open(u"127.0.0.1"_s, server.port()); }), u"Already connected."_s);
    QVERIFY(t.isOpen());
}

void TestTransport::closeDeliversLastLine() {
    // A line written right before close() still reaches the server (QUIT is sent that way).
    FakeServer server;
    server.send("+OK\r\n").expect("QUIT");
    TcpTransport t;
    t.open(u"127.0.0.1"_s, server.port());
    t.readLine();
    t.writeLine("QUIT");
    t.close();
    QTRY_COMPARE(server.received(), QByteArrayList{"QUIT"});
    QCOMPARE(server.mismatches(), QStringList());
}

void TestTransport::largeWriteArrivesWhole() {
    // More than the socket buffers take at once: the rest goes out while later waits run.
    FakeServer server;
    server.send("+OK\r\n").fallSilent();
    TcpTransport t;
    t.open(u"127.0.0.1"_s, server.port());
    t.readLine();
    const QByteArray big(16 * 1024 * 1024, 'b');
    t.writeLine(big);
    t.writeLine("QUIT");
    t.close();
    QTRY_COMPARE_WITH_TIMEOUT(server.received().size(), 2, 20000);
    QCOMPARE(server.received().constFirst().size(), big.size());
    QCOMPARE(server.received().constLast(), QByteArray("QUIT"));
}

void TestTransport::tlsCertificateMustVerify() {
    FakeServer server;
    server.enableTls();
    server.send("+OK secure\r\n");
    TcpTransport t;
    t.setSecurity(TcpTransport::Security::Tls);
    const QString error = errorOf([&] { t.open(u"127.0.0.1"_s, server.port()); });
    QVERIFY2(error.contains(u"127.0.0.1"_s), qPrintable(error));
    QVERIFY2(error.contains(u"self-signed"_s, Qt::CaseInsensitive), qPrintable(error));
    QVERIFY(!t.isOpen());
}

void TestTransport::tlsWithTrustedCertificate() {
    FakeServer server;
    server.enableTls();
    server.send("+OK secure\r\n").expect("QUIT");
    TcpTransport t;
    t.setSecurity(TcpTransport::Security::Tls);
    t.addCaCertificates({FakeServer::certificate()});
    t.open(u"localhost"_s, server.port());
    QCOMPARE(t.readLine(), QByteArray("+OK secure"));
    t.writeLine("QUIT");
    t.close();
    QTRY_COMPARE(server.received(), QByteArrayList{"QUIT"});
}

QTEST_GUILESS_MAIN(TestTransport)
#include "tst_transport.moc"
