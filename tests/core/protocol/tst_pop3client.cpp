// The POP3 client against a scripted transport: each test reads as a conversation.

#include "core/errors.h"
#include "core/protocol/mailaddress.h"
#include "core/protocol/mailmessage.h"
#include "core/protocol/pop3client.h"
#include "core/protocol/transport.h"
#include "faketransport.h"

#include <QTest>

using namespace Qt::StringLiterals;
using corvane::Error;
using corvane::MailMessage;
using corvane::Pop3Client;
using corvane::test::FakeTransport;

namespace {

template <typename F> QString errorOf(F &&f) {
    try {
        f();
    } catch (const Error &e) {
        return e.message();
    }
    return {};
}

// A client logged in to a scripted server; the login exchange is already taken.
struct Session {
    FakeTransport t;
    Pop3Client pop{t};

    Session() {
        pop.setHost(u"pop.example"_s);
        pop.setUsername(u"alice"_s);
        pop.setPassword(u"secret"_s);
        t.reply("+OK ready\r\n")
            .expect("USER alice")
            .reply("+OK\r\n")
            .expect("PASS secret")
            .reply("+OK logged in\r\n");
        pop.OpenSession();
        t.verifyScriptDone();
        t.takeWritten();
    }
};

const QByteArray kHeader = "Subject: Cheap pills\r\n"
                           "From: Spam King <king@spam.example>\r\n"
                           "To: alice@example.net, Bob <bob@example.net>\r\n"
                           "X-Spam-Score: 5.1\r\n"
                           "\r\n";

} // namespace

class TestPop3Client final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void openSession_data();
    void openSession();
    void openSessionFailsToConnect();
    void openSessionWhileOpen();
    void lineBreakInCredentialsIsRefused();
    void closeSessionDoesNotWait();
    void closeSessionWhenWriteFails();

    void countMessages_data();
    void countMessages();
    void serverWordsKeptApart_data();
    void serverWordsKeptApart();
    void mailboxOctets_data();
    void mailboxOctets();
    void messageOctets_data();
    void messageOctets();

    void fetchHeader();
    void fetchHeaderRefused();
    void fetchHeaderDroppedInTheMiddle();
    void fetchMessage();
    void fetchMessageRefused();
    void markDeletedAndUndo_data();
    void markDeletedAndUndo();
    void commandOnClosedConnection();
    void overlongDataLinesAreCut_data();
    void overlongDataLinesAreCut();
    void cutLineIsNotJustAnAddressError();
    void overlongStatusLineClosesConnection();
    void endlessDataHitsDeadline_data();
    void endlessDataHitsDeadline();
    void unrecognizedReplyClosesConnection();
    void quitSession_data();
    void quitSession();
    void retrieveMessageKeepsTheLinesAsReceived();
    void retrieveMessageKeepsLongLinesWhole();
    void retrieveMessageOverTheSizeLimitIsNoCopy();
    void retrieveMessageOverTheSizeLimitIsNoCopy_data();

    void capabilities_data();
    void capabilities();
    void scanWindow_data();
    void scanWindow();
    void scanGivenUpClosesConnection();
};

void TestPop3Client::openSession_data() {
    QTest::addColumn<QByteArray>("server");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("open");

    QTest::newRow("success") << QByteArray("+OK ready\r\n+OK\r\n+OK logged in\r\n")
                             << QByteArray("USER alice\r\nPASS secret\r\n") << QString() << true;
    QTest::newRow("greeting without text")
        << QByteArray("+OK\r\n+OK\r\n+OK\r\n") << QByteArray("USER alice\r\nPASS secret\r\n")
        << QString() << true;
    QTest::newRow("greeting -ERR")
        << QByteArray("-ERR too busy\r\n") << QByteArray("QUIT\r\n") << u"too busy"_s << false;
    QTest::newRow("user refused") << QByteArray("+OK\r\n-ERR unknown user\r\n")
                                  << QByteArray("USER alice\r\nQUIT\r\n") << u"unknown user"_s
                                  << false;
    QTest::newRow("wrong password")
        << QByteArray("+OK\r\n+OK\r\n-ERR [AUTH] Authentication failed.\r\n")
        << QByteArray("USER alice\r\nPASS secret\r\nQUIT\r\n") << u"[AUTH] Authentication failed."_s
        << false;
    QTest::newRow("bare -ERR") << QByteArray("+OK\r\n+OK\r\n-ERR\r\n")
                               << QByteArray("USER alice\r\nPASS secret\r\nQUIT\r\n") << u"-ERR"_s
                               << false;
    // Not a POP3 server at all: no QUIT either, the stream cannot be trusted.
    QTest::newRow("unrecognized greeting")
        << QByteArray("* OK IMAP4rev1 ready\r\n") << QByteArray()
        << u"Unrecognized POP3 Response Header:\n\"* OK IMAP4rev1 ready\""_s << false;
    QTest::newRow("dropped after greeting") << QByteArray("+OK\r\n") << QByteArray("USER alice\r\n")
                                            << u"Connection Closed Gracefully."_s << false;
}

void TestPop3Client::openSession() {
    QFETCH(QByteArray, server);
    QFETCH(QByteArray, written);
    QFETCH(QString, error);
    QFETCH(bool, open);

    FakeTransport t;
    Pop3Client pop(t);
    pop.setHost(u"pop.example"_s);
    pop.setPort(1110);
    pop.setUsername(u"alice"_s);
    pop.setPassword(u"secret"_s);
    t.serverSays(server);
    QCOMPARE(errorOf([&] { pop.OpenSession(); }), error);
    QCOMPARE(t.takeWritten(), written);
    QCOMPARE(pop.IsOpen(), open);
    QCOMPARE(t.host(), u"pop.example"_s);
    QCOMPARE(t.port(), quint16(1110));
}

void TestPop3Client::openSessionFailsToConnect() {
    FakeTransport t;
    Pop3Client pop(t);
    t.refuseConnection(u"Socket Error # 10061\r\nConnection refused."_s);
    QCOMPARE(errorOf([&] { pop.OpenSession(); }), u"Socket Error # 10061\r\nConnection refused."_s);
    QVERIFY(!pop.IsOpen());
    QCOMPARE(t.takeWritten(), QByteArray());
}

void TestPop3Client::openSessionWhileOpen() {
    Session s;
    QCOMPARE(errorOf([&] { s.pop.OpenSession(); }), u"Already connected."_s);
    QVERIFY(s.pop.IsOpen());
    QCOMPARE(s.t.connectCount(), 1);
}

void TestPop3Client::lineBreakInCredentialsIsRefused() {
    FakeTransport t;
    Pop3Client pop(t);
    pop.setUsername(u"alice"_s);
    pop.setPassword(u"x\r\nDELE 1"_s);
    QVERIFY(!errorOf([&] { pop.OpenSession(); }).isEmpty());
    QCOMPARE(t.connectCount(), 0);
}

void TestPop3Client::closeSessionDoesNotWait() {
    Session s;
    s.t.serverSays("+OK bye\r\n");
    s.pop.CloseSession();
    QCOMPARE(s.t.takeWritten(), QByteArray("QUIT\r\n"));
    QVERIFY(!s.pop.IsOpen());
    QVERIFY(s.t.unread() > 0); // the reply was never read
    s.pop.CloseSession();      // nothing open: nothing written
    QCOMPARE(s.t.takeWritten(), QByteArray());
}

void TestPop3Client::closeSessionWhenWriteFails() {
    Session s;
    s.t.failWritesAfter(0);
    s.pop.CloseSession();
    QVERIFY(!s.pop.IsOpen());
}

void TestPop3Client::countMessages_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("error");

    QTest::newRow("count and size") << QByteArray("+OK 2 320") << 2 << QString();
    QTest::newRow("empty mailbox") << QByteArray("+OK 0 0") << 0 << QString();
    QTest::newRow("no text") << QByteArray("+OK") << 0 << QString();
    QTest::newRow("count without size") << QByteArray("+OK 7") << 7 << QString();
    QTest::newRow("not a number") << QByteArray("+OK many 320") << 0
                                  << u"The server's message count \"many\" is not a number."_s;
    QTest::newRow("refused") << QByteArray("-ERR mailbox locked") << 0 << u"mailbox locked"_s;
    QTest::newRow("unrecognized") << QByteArray("+OKAY 2 320") << 0
                                  << u"Unrecognized POP3 Response Header:\n\"+OKAY 2 320\""_s;
}

void TestPop3Client::countMessages() {
    QFETCH(QByteArray, reply);
    QFETCH(int, count);
    QFETCH(QString, error);

    Session s;
    s.t.serverSays(reply + "\r\n");
    int actual = 0;
    QCOMPARE(errorOf([&] { actual = s.pop.CountMessages(); }), error);
    QCOMPARE(s.t.takeWritten(), QByteArray("STAT\r\n"));
    QCOMPARE(actual, count);
}

void TestPop3Client::serverWordsKeptApart_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("words"); // empty: the text is our explanation alone

    QTest::newRow("refusal") << QByteArray("-ERR [IN-USE] mailbox locked")
                             << u"[IN-USE] mailbox locked"_s;
    QTest::newRow("bare refusal") << QByteArray("-ERR") << u"-ERR"_s;
    QTest::newRow("not a number") << QByteArray("+OK many 320") << QString();
    QTest::newRow("unrecognized") << QByteArray("+OKAY 2 320") << QString();
}

void TestPop3Client::serverWordsKeptApart() {
    QFETCH(QByteArray, reply);
    QFETCH(QString, words);

    Session s;
    s.t.serverSays(reply + "\r\n");
    try {
        s.pop.CountMessages();
        QFAIL("no error");
    } catch (const corvane::ProtocolError &e) {
        QCOMPARE(e.serverWords(), words);
        if (!words.isEmpty())
            QCOMPARE(e.message(), words);
    }
}

void TestPop3Client::mailboxOctets_data() {
    QTest::addColumn<QByteArray>("server");
    QTest::addColumn<qint64>("octets");
    QTest::addColumn<bool>("openAfter");

    QTest::newRow("two messages") << QByteArray("+OK 2 messages\r\n1 120\r\n2 3000\r\n.\r\n")
                                  << qint64(3120) << true;
    QTest::newRow("empty listing") << QByteArray("+OK\r\n.\r\n") << qint64(0) << true;
    QTest::newRow("size not a number counts 0")
        << QByteArray("+OK\r\n1 120\r\n3 abc\r\n.\r\n") << qint64(120) << true;
    QTest::newRow("line without blank") << QByteArray("+OK\r\n500\r\n.\r\n") << qint64(500) << true;
    QTest::newRow("beyond 32 bits")
        << QByteArray("+OK\r\n1 3000000000\r\n2 3000000000\r\n.\r\n") << qint64(6000000000) << true;
    // A failure throws (octets unused): the server's words, or the connection's.
    QTest::newRow("refused") << QByteArray("-ERR not now\r\n") << qint64(-1) << true;
    QTest::newRow("dropped in the middle")
        << QByteArray("+OK\r\n1 120\r\n2 30") << qint64(-1) << false;
    // Cut to the line limit, the size is no number; the listing is read on to its end.
    QTest::newRow("over-long line counts 0")
        << QByteArray("+OK\r\n1 " + QByteArray(20000, '9') + "\r\n2 30\r\n.\r\n") << qint64(30)
        << true;
}

void TestPop3Client::mailboxOctets() {
    QFETCH(QByteArray, server);
    QFETCH(qint64, octets);
    QFETCH(bool, openAfter);

    Session s;
    s.t.serverSays(server);
    qint64 actual = -1;
    const QString error = errorOf([&] { actual = s.pop.MailboxOctets(); });
    QCOMPARE(error.isEmpty(), octets >= 0);
    if (server.startsWith("-ERR"))
        QCOMPARE(error, u"not now"_s);
    QCOMPARE(actual, octets);
    QCOMPARE(s.t.takeWritten(), QByteArray("LIST\r\n"));
    QCOMPARE(s.pop.IsOpen(), openAfter);
}

void TestPop3Client::messageOctets_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<qint64>("octets");
    QTest::addColumn<QString>("error");

    QTest::newRow("number and size") << QByteArray("+OK 2 4711") << qint64(4711) << QString();
    QTest::newRow("no text") << QByteArray("+OK") << qint64(-1) << QString();
    QTest::newRow("size not a number") << QByteArray("+OK 2 big") << qint64(-1) << QString();
    QTest::newRow("refused") << QByteArray("-ERR no such message") << qint64(-1)
                             << u"no such message"_s;
}

void TestPop3Client::messageOctets() {
    QFETCH(QByteArray, reply);
    QFETCH(qint64, octets);
    QFETCH(QString, error);

    Session s;
    s.t.serverSays(reply + "\r\n");
    qint64 actual = -1;
    QCOMPARE(errorOf([&] { actual = s.pop.MessageOctets(2); }), error);
    QCOMPARE(s.t.takeWritten(), QByteArray("LIST 2\r\n"));
    QCOMPARE(actual, octets);
}

void TestPop3Client::fetchHeader() {
    Session s;
    MailMessage m;
    s.t.setChunkSize(7);
    s.t.expect("TOP 5 0").reply("+OK\r\n" + kHeader + ".\r\n");
    s.t.expect("LIST 5").reply("+OK 5 900\r\n");
    s.pop.FetchHeader(5, m);
    QCOMPARE(m.Subject, u"Cheap pills"_s);
    QCOMPARE(m.FromText(), u"Spam King <king@spam.example>"_s);
    QCOMPARE(m.RecipientsText(), u"alice@example.net, Bob <bob@example.net>"_s);
    QCOMPARE(m.HeaderLines.size(), 4);
    QVERIFY(m.Body.isEmpty());
    // The connection is in step: the next reply is the next command's.
    QCOMPARE(s.pop.MessageOctets(5), qint64(900));
    s.t.verifyScriptDone();
}

void TestPop3Client::fetchHeaderRefused() {
    Session s;
    MailMessage m;
    s.t.serverSays("-ERR no such message\r\n");
    QCOMPARE(errorOf([&] { s.pop.FetchHeader(5, m); }), u"no such message"_s);
    QCOMPARE(s.t.takeWritten(), QByteArray("TOP 5 0\r\n"));
    QVERIFY(m.HeaderLines.isEmpty());
    QVERIFY(s.pop.IsOpen());
}

void TestPop3Client::fetchHeaderDroppedInTheMiddle() {
    Session s;
    MailMessage m;
    s.t.serverSays("+OK\r\nSubject: half\r\nFrom: a@b");
    QVERIFY(!errorOf([&] { s.pop.FetchHeader(1, m); }).isEmpty());
    QVERIFY(!s.pop.IsOpen());
}

void TestPop3Client::fetchMessage() {
    Session s;
    MailMessage m;
    s.t.serverSays("+OK 120 octets\r\n" + kHeader + "Hello\r\n..dotted\r\n.\r\n");
    QVERIFY(s.pop.FetchMessage(3, m));
    QCOMPARE(s.t.takeWritten(), QByteArray("RETR 3\r\n"));
    QCOMPARE(m.Subject, u"Cheap pills"_s);
    QCOMPARE(m.Body, (QList<QByteArray>{"Hello", ".dotted"}));
    QVERIFY(s.pop.IsOpen());
}

void TestPop3Client::fetchMessageRefused() {
    Session s;
    MailMessage m;
    s.t.expect("RETR 3").reply("-ERR message 3 already deleted\r\n");
    s.t.expect("STAT").reply("+OK 1 200\r\n");
    bool result = true;
    QCOMPARE(errorOf([&] { result = s.pop.FetchMessage(3, m); }), QString());
    QVERIFY(!result);
    QVERIFY(m.HeaderLines.isEmpty());
    QVERIFY(m.Body.isEmpty());
    QCOMPARE(s.pop.CountMessages(), 1);
    s.t.verifyScriptDone();
}

void TestPop3Client::markDeletedAndUndo_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("undo");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QString>("error");

    QTest::newRow("DELE") << QByteArray("+OK message 3 deleted") << false
                          << QByteArray("DELE 3\r\n") << QString();
    QTest::newRow("DELE refused") << QByteArray("-ERR message 3 already deleted") << false
                                  << QByteArray("DELE 3\r\n") << u"message 3 already deleted"_s;
    QTest::newRow("RSET") << QByteArray("+OK") << true << QByteArray("RSET\r\n") << QString();
    QTest::newRow("RSET refused") << QByteArray("-ERR unknown command") << true
                                  << QByteArray("RSET\r\n") << u"unknown command"_s;
}

void TestPop3Client::markDeletedAndUndo() {
    QFETCH(QByteArray, reply);
    QFETCH(bool, undo);
    QFETCH(QByteArray, written);
    QFETCH(QString, error);

    Session s;
    s.t.serverSays(reply + "\r\n");
    QCOMPARE(errorOf([&] {
                 if (undo)
                     s.pop.UndoDeletions();
                 else
                     s.pop.MarkDeleted(3);
             }),
             error);
    QCOMPARE(s.t.takeWritten(), written);
    QVERIFY(s.pop.IsOpen());
}

void TestPop3Client::commandOnClosedConnection() {
    FakeTransport t;
    Pop3Client pop(t);
    QCOMPARE(errorOf([&] { pop.CountMessages(); }), u"Not Connected"_s);
    QCOMPARE(errorOf([&] { pop.MailboxOctets(); }), u"Not Connected"_s);
}

void TestPop3Client::overlongDataLinesAreCut_data() {
    QTest::addColumn<bool>("retr");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("cut");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QByteArrayList>("body");

    const QByteArray longSubject = "Subject: " + QByteArray(20000, 'x');
    const QString cutSubject(corvane::Transport::MaxLineLength - 9, u'x');
    const QByteArray longLine(30000, 'y');
    const QByteArray cutLine(corvane::Transport::MaxLineLength, 'y');
    QTest::newRow("TOP, over-long Subject")
        << false << longSubject + "\r\nFrom: a@b.example\r\n\r\n.\r\n"
        << 1 << cutSubject << QByteArrayList{};
    QTest::newRow("TOP, over-long continuation line")
        << false << "Subject: s\r\n " + longLine + "\r\nFrom: a@b.example\r\n\r\n.\r\n"
        << 1 << u"s "_s + QString(corvane::Transport::MaxLineLength - 1, u'y') << QByteArrayList{};
    QTest::newRow("RETR, over-long body line")
        << true << "Subject: s\r\nFrom: a@b.example\r\n\r\nbody\r\n" + longLine + "\r\nend\r\n.\r\n"
        << 1 << u"s"_s << QByteArrayList{"body", cutLine, "end"};
    QTest::newRow("RETR, two over-long lines")
        << true << longSubject + "\r\nFrom: a@b.example\r\n\r\n" + longLine + "\r\n.\r\n"
        << 2 << cutSubject << QByteArrayList{cutLine};
}

void TestPop3Client::overlongDataLinesAreCut() {
    // The message is read to its end line with the over-long lines cut; the fetch says so,
    // and the connection stays open and in step.
    QFETCH(bool, retr);
    QFETCH(QByteArray, data);
    QFETCH(int, cut);
    QFETCH(QString, subject);
    QFETCH(QByteArrayList, body);

    Session s;
    MailMessage m;
    s.t.setChunkSize(5000);
    s.t.serverSays("+OK\r\n" + data + "+OK 1 500\r\n+OK\r\nSubject: next\r\n\r\n.\r\n");
    QCOMPARE(errorOf([&] {
                 if (retr)
                     s.pop.FetchMessage(1, m);
                 else
                     s.pop.FetchHeader(1, m);
             }),
             u"Max line length exceeded."_s);
    QVERIFY(s.pop.IsOpen());
    QCOMPARE(s.pop.lastFetchCutLines(), cut);
    QCOMPARE(m.Subject, subject);
    QCOMPARE(m.FromText(), u"a@b.example"_s);
    QCOMPARE(m.Body, body);
    QCOMPARE(s.pop.MessageOctets(1), qint64(500));
    // A later fetch starts afresh.
    m.ClearMessage();
    s.pop.FetchHeader(2, m);
    QCOMPARE(m.Subject, u"next"_s);
    QCOMPARE(s.pop.lastFetchCutLines(), 0);
    QCOMPARE(s.t.takeWritten(),
             QByteArray(retr ? "RETR 1\r\n" : "TOP 1 0\r\n") + "LIST 1\r\nTOP 2 0\r\n");
    QCOMPARE(s.t.unread(), 0);
}

void TestPop3Client::cutLineIsNotJustAnAddressError() {
    // A rejected sender alone leaves the message whole; with a line cut as well it is not.
    Session s;
    MailMessage m;
    s.t.serverSays("+OK\r\nSubject: " + QByteArray(20000, 'x') +
                   "\r\nFrom: Loan <x@spam.example>@a\r\n\r\nBody\r\n.\r\n");
    bool addressOnly = false;
    QString error;
    try {
        s.pop.FetchMessage(1, m);
    } catch (const corvane::AddressError &) {
        addressOnly = true;
    } catch (const Error &e) {
        error = e.message();
    }
    QVERIFY(!addressOnly);
    QCOMPARE(error, u"Max line length exceeded."_s);
    QCOMPARE(s.pop.lastFetchCutLines(), 1);
    QVERIFY(s.pop.IsOpen());
}

void TestPop3Client::overlongStatusLineClosesConnection() {
    // A one-line reply has no end line to read on to: the rest of the line would be read as
    // the reply to the next command.
    Session s;
    s.t.serverSays("+OK " + QByteArray(20000, '1') + "\r\n+OK fake\r\n");
    QCOMPARE(errorOf([&] { s.pop.CountMessages(); }), u"Max line length exceeded."_s);
    QVERIFY(!s.pop.IsOpen());
    QCOMPARE(errorOf([&] { s.pop.MarkDeleted(1); }), u"Not Connected"_s);
}

void TestPop3Client::endlessDataHitsDeadline_data() {
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("endless");

    QTest::newRow("listing") << QByteArray("LIST") << QByteArray("1 120\r\n");
    QTest::newRow("header") << QByteArray("TOP 1 0") << QByteArray("X-Filler: more\r\n");
    QTest::newRow("message with an endless line") << QByteArray("RETR 1") << QByteArray(8192, 'z');
}

void TestPop3Client::endlessDataHitsDeadline() {
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, endless);

    Session s;
    s.t.setDataDeadline(50);
    s.t.serverSays("+OK\r\nSubject: x\r\n");
    s.t.serverRepeatsForever(endless);
    MailMessage m;
    QString error;
    if (command == "LIST")
        error = errorOf([&] { s.pop.MailboxOctets(); });
    else if (command == "RETR 1")
        error = errorOf([&] { s.pop.FetchMessage(1, m); });
    else
        error = errorOf([&] { s.pop.FetchHeader(1, m); });
    QCOMPARE(error, u"The server did not complete its reply within 0.05 seconds."_s);
    // Dropped without QUIT: the server keeps every message.
    QVERIFY(!s.pop.IsOpen());
    QCOMPARE(s.t.takeWritten(), command + "\r\n");
}

void TestPop3Client::unrecognizedReplyClosesConnection() {
    Session s;
    MailMessage m;
    s.t.serverSays("+Ok\r\nSubject: x\r\n\r\n.\r\n");
    QVERIFY(!s.pop.FetchMessage(1, m));
    QVERIFY(!s.pop.IsOpen());
    QCOMPARE(s.t.takeWritten(), QByteArray("RETR 1\r\n"));
}

void TestPop3Client::quitSession_data() {
    QTest::addColumn<QByteArray>("reply"); // what the server says after QUIT
    QTest::addColumn<bool>("writeFails");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text");

    using Status = corvane::Pop3QuitOutcome::Status;
    QTest::newRow("+OK") << QByteArray("+OK bye\r\n") << false << int(Status::Committed)
                         << u"bye"_s;
    QTest::newRow("-ERR") << QByteArray("-ERR some deleted messages not removed\r\n") << false
                          << int(Status::Refused) << u"some deleted messages not removed"_s;
    QTest::newRow("bare -ERR") << QByteArray("-ERR\r\n") << false << int(Status::Refused)
                               << u"-ERR"_s;
    QTest::newRow("connection drops")
        << QByteArray() << false << int(Status::Unknown) << u"Connection Closed Gracefully."_s;
    QTest::newRow("reply cut off") << QByteArray("+OK by") << false << int(Status::Unknown)
                                   << u"Connection Closed Gracefully."_s;
    QTest::newRow("no status line") << QByteArray("* BYE\r\n") << false << int(Status::Unknown)
                                    << u"Unrecognized POP3 Response Header:\n\"* BYE\""_s;
    QTest::newRow("QUIT cannot be written")
        << QByteArray("+OK bye\r\n") << true << int(Status::Unknown) << QString();
}

void TestPop3Client::quitSession() {
    QFETCH(QByteArray, reply);
    QFETCH(bool, writeFails);
    QFETCH(int, status);
    QFETCH(QString, text);

    Session s;
    s.t.serverSays(reply);
    if (writeFails)
        s.t.failWritesAfter(0);
    const corvane::Pop3QuitOutcome outcome = s.pop.QuitSession();
    QCOMPARE(int(outcome.status), status);
    if (!text.isEmpty())
        QCOMPARE(outcome.text, text);
    QVERIFY(!s.pop.IsOpen());
    if (!writeFails)
        QCOMPARE(s.t.takeWritten(), QByteArray("QUIT\r\n"));
    // Nothing open: nothing is written, and nothing is claimed.
    QCOMPARE(int(s.pop.QuitSession().status), int(corvane::Pop3QuitOutcome::Status::Unknown));
}

void TestPop3Client::retrieveMessageKeepsTheLinesAsReceived() {
    Session s;
    const QByteArray data = "From: a@b.c\r\nSubject: x\r\n\r\n..dotted\r\nplain\r\n";
    s.t.serverSays("+OK 60 octets\r\n" + data + ".\r\n-ERR no such message\r\n");
    corvane::Pop3RetrievedMessage m;
    QVERIFY(s.pop.RetrieveMessage(1, m));
    QCOMPARE(m.fileForm, data + ".\r\n");
    QCOMPARE(m.lines, 5);
    QCOMPARE(m.stuffedOctets, data.size());
    QCOMPARE(m.octets, data.size() - 1);
    QVERIFY(!s.pop.RetrieveMessage(2, m));
    QVERIFY(m.fileForm.isEmpty());
    QCOMPARE(s.t.takeWritten(), QByteArray("RETR 1\r\nRETR 2\r\n"));
    QVERIFY(s.pop.IsOpen());
}

void TestPop3Client::retrieveMessageKeepsLongLinesWhole() {
    // Nothing is parsed, so a line far over the parser's limit is kept as it came.
    Session s;
    s.t.setChunkSize(4096);
    const QByteArray data = "Subject: x\r\n\r\n" + QByteArray(100000, 'b') + "\r\nend\r\n";
    s.t.serverSays("+OK\r\n" + data + ".\r\n+OK 1 100\r\n");
    corvane::Pop3RetrievedMessage m;
    QVERIFY(s.pop.RetrieveMessage(1, m));
    QCOMPARE(m.cutLines, 0);
    QCOMPARE(m.fileForm, data + ".\r\n");
    QCOMPARE(s.pop.MessageOctets(1), qint64(100));
    QCOMPARE(s.t.takeWritten(), QByteArray("RETR 1\r\nLIST 1\r\n"));
}

void TestPop3Client::retrieveMessageOverTheSizeLimitIsNoCopy() {
    // Read on to the end line, in step, but never handed over as the message as received.
    QFETCH(QByteArray, data);
    Session s;
    s.t.setChunkSize(4096);
    s.pop.setMaxRetrievedOctets(1000);
    s.t.serverSays("+OK\r\n" + data + ".\r\n+OK 1 100\r\n");
    corvane::Pop3RetrievedMessage m;
    QVERIFY(errorOf([&] { s.pop.RetrieveMessage(1, m); }).contains(u"larger than 1000 bytes"_s));
    QVERIFY(m.cutLines > 0);
    QVERIFY(m.fileForm.size() <= 1000);
    QVERIFY(s.pop.IsOpen());
    QCOMPARE(s.pop.MessageOctets(1), qint64(100));
    QCOMPARE(s.t.takeWritten(), QByteArray("RETR 1\r\nLIST 1\r\n"));
}

void TestPop3Client::retrieveMessageOverTheSizeLimitIsNoCopy_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("one long line") << "Subject: x\r\n\r\n" + QByteArray(20000, 'b') + "\r\n";
    QByteArray many = "Subject: x\r\n\r\n";
    for (int i = 0; i < 500; ++i)
        many += "..line\r\n";
    QTest::newRow("many short lines, some dot-stuffed") << many;
}

void TestPop3Client::capabilities_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArrayList>("capabilities");
    QTest::addColumn<bool>("pipelining");
    QTest::addColumn<bool>("open");

    QTest::newRow("announced") << QByteArray(
                                      "+OK\r\nCAPA\r\nTOP\r\nUIDL\r\nRESP-CODES\r\nPIPELINING\r\n"
                                      "SASL PLAIN\r\n.\r\n")
                               << QByteArrayList{"CAPA",       "TOP",        "UIDL",
                                                 "RESP-CODES", "PIPELINING", "SASL PLAIN"}
                               << true << true;
    QTest::newRow("in lower case")
        << QByteArray("+OK Capability list follows\r\npipelining\r\n.\r\n")
        << QByteArrayList{"pipelining"} << true << true;
    QTest::newRow("not announced") << QByteArray("+OK\r\nTOP\r\nUSER\r\nPIPELININGX\r\n.\r\n")
                                   << QByteArrayList{"TOP", "USER", "PIPELININGX"} << false << true;
    // A server older than CAPA refuses it and stays in step.
    QTest::newRow("refused") << QByteArray("-ERR Unknown command.\r\n") << QByteArrayList{} << false
                             << true;
    QTest::newRow("not a POP3 reply")
        << QByteArray("500 what?\r\n") << QByteArrayList{} << false << false;
}

void TestPop3Client::capabilities() {
    QFETCH(QByteArray, reply);
    QFETCH(QByteArrayList, capabilities);
    QFETCH(bool, pipelining);
    QFETCH(bool, open);
    Session s;
    s.t.serverSays(reply);
    const QString error = errorOf([&] {
        QCOMPARE(s.pop.Capabilities(), capabilities);
        QCOMPARE(s.pop.SupportsPipelining(), pipelining);
    });
    QCOMPARE(error.isEmpty(), open);
    QCOMPARE(s.pop.IsOpen(), open);
    // Asked once per connection.
    QCOMPARE(s.t.takeWritten(), QByteArray("CAPA\r\n"));
    QCOMPARE(s.t.unread(), 0);
}

void TestPop3Client::scanWindow_data() {
    QTest::addColumn<int>("commands");
    QTest::addColumn<int>("bytes");
    // What each of ScanHeader(1), ScanSize(1), ScanHeader(2), … writes.
    QTest::addColumn<QByteArrayList>("writes");

    QTest::newRow("lock-step") << 1 << 4096
                               << QByteArrayList{"TOP 1 0\r\n", "LIST 1\r\n",  "TOP 2 0\r\n",
                                                 "LIST 2\r\n",  "TOP 3 0\r\n", "LIST 3\r\n"};
    QTest::newRow("everything at once")
        << 200 << 4096
        << QByteArrayList{"TOP 1 0\r\nLIST 1\r\nTOP 2 0\r\nLIST 2\r\nTOP 3 0\r\nLIST 3\r\n",
                          "",
                          "",
                          "",
                          "",
                          ""};
    // Four commands at most; refilled once two have been answered.
    QTest::newRow("four commands")
        << 4 << 4096 << QByteArrayList{"TOP 1 0\r\nLIST 1\r\nTOP 2 0\r\nLIST 2\r\n",
                                       "",
                                       "TOP 3 0\r\nLIST 3\r\n",
                                       "",
                                       "",
                                       ""};
    // 30 bytes of commands at most: "TOP n 0" takes 9 with its CR LF, "LIST n" 8.
    QTest::newRow("thirty bytes") << 200 << 30 << QByteArrayList{"TOP 1 0\r\nLIST 1\r\nTOP 2 0\r\n",
                                                                 "LIST 2\r\n",
                                                                 "TOP 3 0\r\n",
                                                                 "LIST 3\r\n",
                                                                 "",
                                                                 ""};
    // A window smaller than one command still sends one at a time.
    QTest::newRow("one byte") << 200 << 1
                              << QByteArrayList{"TOP 1 0\r\n", "LIST 1\r\n",  "TOP 2 0\r\n",
                                                "LIST 2\r\n",  "TOP 3 0\r\n", "LIST 3\r\n"};
}

void TestPop3Client::scanWindow() {
    QFETCH(int, commands);
    QFETCH(int, bytes);
    QFETCH(QByteArrayList, writes);
    Session s;
    for (int n = 1; n <= 3; ++n)
        s.t.serverSays("+OK\r\nSubject: " + QByteArray::number(n) + "\r\n.\r\n+OK " +
                       QByteArray::number(n) + " 10" + QByteArray::number(n) + "\r\n");
    s.pop.BeginHeaderScan(3, commands, bytes);
    QByteArrayList written;
    for (int n = 1; n <= 3; ++n) {
        MailMessage m;
        s.pop.ScanHeader(n, m);
        written.append(s.t.takeWritten());
        QCOMPARE(m.Subject, QString::number(n));
        QCOMPARE(s.pop.ScanSize(n), 100 + n);
        written.append(s.t.takeWritten());
    }
    s.pop.EndHeaderScan();
    QCOMPARE(written, writes);
    QVERIFY(s.pop.IsOpen());
}

void TestPop3Client::scanGivenUpClosesConnection() {
    Session s;
    s.t.serverSays("+OK\r\nSubject: 1\r\n.\r\n+OK 1 10\r\n+OK\r\nSubject: 2\r\n.\r\n");
    s.pop.BeginHeaderScan(2, 200);
    MailMessage m;
    s.pop.ScanHeader(1, m);
    QCOMPARE(s.t.takeWritten(), QByteArray("TOP 1 0\r\nLIST 1\r\nTOP 2 0\r\nLIST 2\r\n"));
    // RSET would read the reply to LIST 1 as its own: the connection is given up instead.
    QCOMPARE(errorOf([&] { s.pop.UndoDeletions(); }), u"Not Connected"_s);
    QVERIFY(!s.pop.IsOpen());
    QCOMPARE(s.t.takeWritten(), QByteArray());
}

QTEST_GUILESS_MAIN(TestPop3Client)
#include "tst_pop3client.moc"
