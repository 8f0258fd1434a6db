// The SMTP client: the reply parser, scripted conversations (greeting, EHLO/HELO, delivery,
// every refusal) and the one-shot send over real sockets against a scripted SMTP server.

#include "core/errors.h"
#include "core/protocol/mailmessage.h"
#include "core/protocol/smtpclient.h"
#include "core/protocol/tcptransport.h"
#include "fakeserver.h"
#include "fakesmtpserver.h"
#include "faketransport.h"

#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using corvane::DataError;
using corvane::Error;
using corvane::MailAddress;
using corvane::MailMessage;
using corvane::SmtpClient;
using corvane::SmtpReplyParser;
using corvane::SmtpSendOptions;
using corvane::test::FakeSmtpServer;
using corvane::test::FakeTransport;

namespace {

QString errorOf(const std::function<void()> &f) {
    try {
        f();
    } catch (const Error &e) {
        return e.message();
    }
    return {};
}

const QByteArray kGreeting = "220 mx.test ESMTP\r\n";
const QByteArray kEhloOk = "250-mx.test\r\n250-PIPELINING\r\n250 8BITMIME\r\n";

// A client on a scripted transport that has greeted the server.
struct OpenClient {
    FakeTransport transport;
    SmtpClient client{transport};
    OpenClient() {
        client.setHost(u"mx.test"_s);
        client.setHeloName(u"me.test"_s);
        transport.serverSays(kGreeting + kEhloOk);
        client.OpenSmtpSession();
        transport.takeWritten();
    }
};

MailMessage simpleMessage() {
    MailMessage m;
    m.From = {u"Mail Daemon"_s, u"daemon@example.net"_s};
    m.Recipients = {{QString(), u"one@example.org"_s}, {u"Two"_s, u"two@example.org"_s}};
    m.Subject = u"Hello"_s;
    m.Body = {"first", ".", "..two"};
    return m;
}

// What a delivery of simpleMessage() writes after MAIL FROM (its Date line left out).
QByteArray deliveredData(const QByteArray &written) {
    QByteArray out;
    for (const QByteArray &line : written.split('\n'))
        if (!line.startsWith("Date: "))
            out += line + '\n';
    out.chop(1);
    return out;
}

SmtpSendOptions sinkOptions(const FakeSmtpServer &server) {
    SmtpSendOptions options;
    options.port = server.port();
    options.heloName = u"me.test"_s;
    return options;
}

} // namespace

class TestSmtpClient final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void replies_data();
    void replies();
    void replyLineLimit();
    void slowEndlessReplyHitsDeadline();

    void openSession_data();
    void openSession();
    void alreadyConnected();

    void deliverConversation();
    void deliverRefusals_data();
    void deliverRefusals();
    void recipientAcceptedWith251();
    void unsafeAddressesRefused_data();
    void unsafeAddressesRefused();
    void unreadableAttachmentDropsConnection();

    void composedMessage();
    void composedMessageOutsideAscii();

    void sendOverSocket();
    void sendFallsBackToHelo();
    void sendRefusedRecipientStillQuits();
    void sendServerDropsConnection();
    void sendConnectionRefused();
};

void TestSmtpClient::replies_data() {
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");

    QTest::newRow("one line") << QByteArrayList{"250 OK"} << 250 << QByteArray("OK") << QString();
    QTest::newRow("code alone") << QByteArrayList{"354"} << 354 << QByteArray() << QString();
    QTest::newRow("multi-line") << QByteArrayList{"250-mx.test", "250-SIZE 100", "250 HELP"} << 250
                                << QByteArray("mx.test\nSIZE 100\nHELP") << QString();
    QTest::newRow("continuation without text")
        << QByteArrayList{"550-", "550 no"} << 550 << QByteArray("\nno") << QString();
    QTest::newRow("no digits") << QByteArrayList{"hello there"} << 0 << QByteArray()
                               << u"Unrecognized SMTP reply:\n\"hello there\""_s;
    QTest::newRow("two digits") << QByteArrayList{"25"} << 0 << QByteArray()
                                << u"Unrecognized SMTP reply:\n\"25\""_s;
    QTest::newRow("code changes inside a reply")
        << QByteArrayList{"250-first", "550 second"} << 0 << QByteArray()
        << u"Unrecognized SMTP reply:\n\"550 second\""_s;
}

void TestSmtpClient::replies() {
    QFETCH(QByteArrayList, lines);
    QFETCH(int, code);
    QFETCH(QByteArray, text);
    QFETCH(QString, error);

    SmtpReplyParser parser;
    QString failure;
    bool complete = false;
    try {
        for (const QByteArray &line : lines) {
            QVERIFY(!complete);
            complete = parser.addLine(line);
        }
    } catch (const Error &e) {
        failure = e.message();
    }
    QCOMPARE(failure, error);
    if (error.isEmpty()) {
        QVERIFY(complete);
        QCOMPARE(parser.reply().code, code);
        QCOMPARE(parser.reply().text(), text);
    }
}

void TestSmtpClient::replyLineLimit() {
    // A server that never ends its reply cannot make the client collect lines forever.
    SmtpReplyParser parser;
    for (qsizetype i = 0; i < SmtpReplyParser::MaxLines; ++i)
        QVERIFY(!parser.addLine("250-more"));
    QVERIFY(!errorOf([&] { parser.addLine("250-more"); }).isEmpty());
}

void TestSmtpClient::slowEndlessReplyHitsDeadline() {
    // Lines that come slowly enough never reach the line cap; the reply's deadline ends it.
    corvane::test::FakeServer server;
    server.send(kGreeting).expect("EHLO me.test").repeatForever("250-more\r\n", 20);
    corvane::TcpTransport t;
    t.setReplyDeadline(300);
    SmtpClient client(t);
    client.setHost(u"127.0.0.1"_s);
    client.setPort(server.port());
    client.setHeloName(u"me.test"_s);
    QCOMPARE(errorOf([&] { client.OpenSmtpSession(); }),
             u"The server did not complete its reply within 0.3 seconds."_s);
    QVERIFY(!client.IsConnected());
    QTRY_VERIFY(server.peerClosed());
}

void TestSmtpClient::openSession_data() {
    QTest::addColumn<QByteArray>("server");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QString>("error");

    QTest::newRow("EHLO accepted with extensions")
        << kGreeting + kEhloOk << QByteArray("EHLO me.test\r\n") << QString();
    QTest::newRow("EHLO refused, HELO accepted")
        << kGreeting + "500 What?\r\n250 mx.test\r\n"
        << QByteArray("EHLO me.test\r\nHELO me.test\r\n") << QString();
    QTest::newRow("EHLO and HELO refused")
        << kGreeting + "502 no\r\n501 Bad name\r\n"
        << QByteArray("EHLO me.test\r\nHELO me.test\r\nQUIT\r\n") << u"Bad name"_s;
    QTest::newRow("greeting refuses service")
        << QByteArray("554 No service here\r\n") << QByteArray("QUIT\r\n") << u"No service here"_s;
    QTest::newRow("multi-line greeting") << QByteArray("220-mx.test\r\n220 welcome\r\n") + kEhloOk
                                         << QByteArray("EHLO me.test\r\n") << QString();
    QTest::newRow("greeting is not SMTP") << QByteArray("+OK POP3 ready\r\n") << QByteArray()
                                          << u"Unrecognized SMTP reply:\n\"+OK POP3 ready\""_s;
    QTest::newRow("closed before greeting")
        << QByteArray() << QByteArray() << u"Connection Closed Gracefully."_s;
    QTest::newRow("closed after EHLO")
        << kGreeting << QByteArray("EHLO me.test\r\n") << u"Connection Closed Gracefully."_s;
}

void TestSmtpClient::openSession() {
    QFETCH(QByteArray, server);
    QFETCH(QByteArray, written);
    QFETCH(QString, error);

    FakeTransport t;
    SmtpClient client(t);
    client.setHost(u"mx.test"_s);
    client.setPort(2525);
    client.setHeloName(u"me.test"_s);
    t.serverSays(server);
    QCOMPARE(errorOf([&] { client.OpenSmtpSession(); }), error);
    QCOMPARE(t.host(), u"mx.test"_s);
    QCOMPARE(t.port(), quint16(2525));
    QCOMPARE(t.takeWritten(), written);
    QCOMPARE(client.IsConnected(), error.isEmpty());
}

void TestSmtpClient::alreadyConnected() {
    OpenClient c;
    QCOMPARE(errorOf([&] { c.client.OpenSmtpSession(); }), u"Already connected."_s);
    QVERIFY(c.client.IsConnected());
    QCOMPARE(c.transport.connectCount(), 1);

    c.client.CloseSmtpSession();
    QCOMPARE(c.transport.takeWritten(), QByteArray("QUIT\r\n"));
    QVERIFY(!c.client.IsConnected());
    c.client.CloseSmtpSession(); // nothing more to write
    QCOMPARE(c.transport.takeWritten(), QByteArray());
}

void TestSmtpClient::deliverConversation() {
    OpenClient c;
    MailMessage m = simpleMessage();
    m.CCList = {{QString(), u"cc@example.org"_s}};
    c.transport.serverSays("250 reset\r\n250 sender ok\r\n250 ok\r\n250 ok\r\n250 ok\r\n"
                           "354 go\r\n250 queued\r\n");
    c.client.DeliverMessage(m);
    QCOMPARE(deliveredData(c.transport.takeWritten()),
             QByteArray("RSET\r\n"
                        "MAIL FROM:<daemon@example.net>\r\n"
                        "RCPT TO:<one@example.org>\r\n"
                        "RCPT TO:<two@example.org>\r\n"
                        "RCPT TO:<cc@example.org>\r\n"
                        "DATA\r\n"
                        "From: Mail Daemon <daemon@example.net>\r\n"
                        "Subject: Hello\r\n"
                        "To: one@example.org, Two <two@example.org>\r\n"
                        "Cc: cc@example.org\r\n"
                        "X-Priority: 3\r\n"
                        "\r\n"
                        "first\r\n"
                        "..\r\n"
                        "...two\r\n"
                        ".\r\n"));
    QCOMPARE(c.transport.unread(), 0);
    QVERIFY(c.client.IsConnected());
}

void TestSmtpClient::deliverRefusals_data() {
    QTest::addColumn<QByteArray>("server");
    QTest::addColumn<QByteArray>("lastCommand");
    QTest::addColumn<QString>("error");

    QTest::newRow("RSET refused, sender refused")
        << QByteArray("502 no reset\r\n553 Sender not allowed\r\n")
        << QByteArray("MAIL FROM:<daemon@example.net>") << u"Sender not allowed"_s;
    QTest::newRow("second recipient refused")
        << QByteArray("250 ok\r\n250 ok\r\n250 ok\r\n550 5.1.1 <two@example.org> unknown\r\n")
        << QByteArray("RCPT TO:<two@example.org>") << u"5.1.1 <two@example.org> unknown"_s;
    QTest::newRow("DATA refused")
        << QByteArray("250 ok\r\n250 ok\r\n250 ok\r\n250 ok\r\n554 No valid recipients\r\n")
        << QByteArray("DATA") << u"No valid recipients"_s;
    QTest::newRow("message refused, multi-line")
        << QByteArray("250 ok\r\n250 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n"
                      "552-Message too big\r\n552 try less\r\n")
        << QByteArray(".") << u"Message too big\ntry less"_s;
    QTest::newRow("refusal without words")
        << QByteArray("250 ok\r\n451\r\n") << QByteArray("MAIL FROM:<daemon@example.net>")
        << u"451"_s;
    QTest::newRow("connection drops at DATA")
        << QByteArray("250 ok\r\n250 ok\r\n250 ok\r\n250 ok\r\n") << QByteArray("DATA")
        << u"Connection Closed Gracefully."_s;
}

void TestSmtpClient::deliverRefusals() {
    QFETCH(QByteArray, server);
    QFETCH(QByteArray, lastCommand);
    QFETCH(QString, error);

    OpenClient c;
    c.transport.serverSays(server);
    QCOMPARE(errorOf([&] { c.client.DeliverMessage(simpleMessage()); }), error);
    const QByteArray written = c.transport.takeWritten();
    QVERIFY2(written.endsWith(lastCommand + "\r\n"), written.constData());
}

void TestSmtpClient::recipientAcceptedWith251() {
    OpenClient c;
    c.transport.serverSays(
        "250 ok\r\n250 ok\r\n251 will forward\r\n250 ok\r\n354 go\r\n250 ok\r\n");
    c.client.DeliverMessage(simpleMessage());
    QCOMPARE(c.transport.unread(), 0);
}

void TestSmtpClient::unsafeAddressesRefused_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("error");

    const QString why = u"cannot be given to an SMTP server"_s;
    QTest::newRow("line feed in sender")
        << u"a@b.test\nRCPT TO:<x@y.test>"_s << u"c@d.test"_s << why;
    QTest::newRow("carriage return in recipient") << u"a@b.test"_s << u"c@d.test\rDATA"_s << why;
    QTest::newRow("angle bracket in recipient") << u"a@b.test"_s << u"c@d.test> x<"_s << why;
    QTest::newRow("NUL in sender") << u"a\u0000@b.test"_s << u"c@d.test"_s << why;
    QTest::newRow("no recipient") << u"a@b.test"_s << QString()
                                  << u"The message has no recipient address."_s;
}

void TestSmtpClient::unsafeAddressesRefused() {
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, error);

    OpenClient c;
    MailMessage m;
    m.From.Address = from;
    if (!to.isEmpty())
        m.Recipients = {{QString(), to}};
    QVERIFY(errorOf([&] { c.client.DeliverMessage(m); }).contains(error));
    // Nothing at all reached the server, and the session is still usable.
    QCOMPARE(c.transport.takeWritten(), QByteArray());
    QVERIFY(c.client.IsConnected());
}

void TestSmtpClient::unreadableAttachmentDropsConnection() {
    OpenClient c;
    MailMessage m = simpleMessage();
    m.AddAttachment(u"/nonexistent/corvane/list.dat"_s);
    c.transport.serverSays("250 ok\r\n250 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n");
    try {
        c.client.DeliverMessage(m);
        QFAIL("the delivery should have failed");
    } catch (const corvane::FileError &) {
    }
    // The data was never ended with ".", so the server discards the cut message.
    const QByteArray written = c.transport.takeWritten();
    QVERIFY(!written.endsWith("\r\n.\r\n"));
    QVERIFY(!c.client.IsConnected());
}

void TestSmtpClient::composedMessage() {
    const MailMessage m =
        corvane::composeSimpleMessage(u"Delivery Notification: Delivery has failed"_s,
                                      u"\"Doe, J\" <jd@example.org>, x@example.org"_s,
                                      u"MailDaemon@example.net"_s, u"a\r\n\r\nb\rc\nd\r\n"_s);
    QCOMPARE(m.From, (MailAddress{QString(), u"MailDaemon@example.net"_s}));
    QCOMPARE(m.Recipients.size(), 2);
    QCOMPARE(m.Recipients[0].Address, u"jd@example.org"_s);
    QCOMPARE(m.Body, (QList<QByteArray>{"a", "", "b", "c", "d"}));

    FakeTransport t;
    SmtpClient client(t);
    client.setHeloName(u"me.test"_s);
    t.serverSays(kGreeting + kEhloOk +
                 "250 ok\r\n250 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n250 ok\r\n");
    client.OpenSmtpSession();
    client.DeliverMessage(m);
    QList<QByteArray> lines = t.takeWritten().split('\n');
    const qsizetype data = lines.indexOf("DATA\r");
    QVERIFY(data > 0);
    lines = lines.mid(data + 1, 6);
    QCOMPARE(lines[0], QByteArray("From: MailDaemon@example.net\r"));
    QCOMPARE(lines[1], QByteArray("Subject: Delivery Notification: Delivery has failed\r"));
    QCOMPARE(lines[2], QByteArray("To: \"Doe, J\" <jd@example.org>, x@example.org\r"));
    QVERIFY(lines[3].startsWith("Date: "));
    QCOMPARE(lines[4], QByteArray("X-Priority: 3\r"));
    QCOMPARE(lines[5], QByteArray("\r"));
}

void TestSmtpClient::composedMessageOutsideAscii() {
    const MailMessage m = corvane::composeSimpleMessage(u"Subject"_s, u"x@example.org"_s,
                                                        u"d@example.net"_s, u"Grüße\nplain"_s);
    QCOMPARE(m.Body, (QList<QByteArray>{"Gr=C3=BC=C3=9Fe", "plain"}));
    QCOMPARE(m.ContentTransferEncoding, u"quoted-printable"_s);
    QCOMPARE(m.CharSet, u"UTF-8"_s);
    QVERIFY(m.ExtraHeaders.contains("MIME-Version: 1.0"));
}

void TestSmtpClient::sendOverSocket() {
    FakeSmtpServer server;
    corvane::SendSimpleMessage(u"127.0.0.1"_s, u"Hi"_s, u"Ann <ann@example.org>"_s,
                               u"MailDaemon <MailDaemon@example.net>"_s,
                               u"line one\n.\nline three"_s, sinkOptions(server));
    // QUIT is written without waiting for its reply.
    QTRY_COMPARE(server.commands().size(), 6);
    QCOMPARE(server.commands(),
             (QList<QByteArray>{"EHLO me.test", "RSET", "MAIL FROM:<MailDaemon@example.net>",
                                "RCPT TO:<ann@example.org>", "DATA", "QUIT"}));
    QCOMPARE(server.messages().size(), 1);
    const FakeSmtpServer::Message &m = server.messages().constFirst();
    QCOMPARE(m.from, QByteArray("MailDaemon@example.net"));
    QCOMPARE(m.to, QList<QByteArray>{"ann@example.org"});
    const qsizetype blank = m.dataLines.indexOf(QByteArray());
    QCOMPARE(m.dataLines.mid(blank + 1), (QList<QByteArray>{"line one", ".", "line three"}));
    QVERIFY(m.dataLines.contains("From: MailDaemon <MailDaemon@example.net>"));
    QTRY_COMPARE(server.closedCount(), 1);
}

void TestSmtpClient::sendFallsBackToHelo() {
    FakeSmtpServer server;
    server.setReply("EHLO", "500 Command not recognised\r\n");
    corvane::SendSimpleMessage(u"127.0.0.1"_s, u"Hi"_s, u"ann@example.org"_s, u"d@example.net"_s,
                               u"text"_s, sinkOptions(server));
    QCOMPARE(server.commands().mid(0, 2), (QList<QByteArray>{"EHLO me.test", "HELO me.test"}));
    QCOMPARE(server.messages().size(), 1);
}

void TestSmtpClient::sendRefusedRecipientStillQuits() {
    FakeSmtpServer server;
    server.setReply("RCPT", "550 5.1.1 No such user here\r\n");
    const QString error = errorOf([&] {
        corvane::SendSimpleMessage(u"127.0.0.1"_s, u"Hi"_s, u"ann@example.org"_s,
                                   u"d@example.net"_s, u"text"_s, sinkOptions(server));
    });
    QCOMPARE(error, u"5.1.1 No such user here"_s);
    QTRY_COMPARE(server.commands().constLast(), QByteArray("QUIT"));
    QVERIFY(!server.commands().contains("DATA"));
    QTRY_COMPARE(server.closedCount(), 1);
    QCOMPARE(server.messages().size(), 0);
}

void TestSmtpClient::sendServerDropsConnection() {
    FakeSmtpServer server;
    server.dropAt("DATA");
    SmtpSendOptions options = sinkOptions(server);
    // A close that went unnoticed would end in the time-out instead; it need not take long.
    options.transport = [](quint16) {
        auto t = std::make_unique<corvane::TcpTransport>();
        t->setReadTimeout(5000);
        return t;
    };
    const QString error = errorOf([&] {
        corvane::SendSimpleMessage(u"127.0.0.1"_s, u"Hi"_s, u"ann@example.org"_s,
                                   u"d@example.net"_s, u"text"_s, options);
    });
    QCOMPARE(error, u"Connection Closed Gracefully."_s);
    QCOMPARE(server.messages().size(), 0);
}

void TestSmtpClient::sendConnectionRefused() {
    quint16 port = 0;
    {
        QTcpServer probe; // a port that nobody listens on once the probe is gone
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    SmtpSendOptions options;
    options.port = port;
    const QString error = errorOf([&] {
        corvane::SendSimpleMessage(u"127.0.0.1"_s, u"Hi"_s, u"ann@example.org"_s,
                                   u"d@example.net"_s, u"text"_s, options);
    });
    QCOMPARE(error, u"Socket Error # 10061\r\nConnection refused."_s);
}

QTEST_GUILESS_MAIN(TestSmtpClient)
#include "tst_smtpclient.moc"
