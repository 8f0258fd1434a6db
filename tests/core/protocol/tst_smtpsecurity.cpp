// How the SMTP client secures its session and logs in: STARTTLS after the greeting, TLS from
// the first byte, AUTH PLAIN and AUTH LOGIN only inside TLS, and never a fall-back to plain
// text when the settings ask for security. First against a scripted transport, then over real
// sockets against the scripted server with TLS.

#include "core/errors.h"
#include "core/protocol/connectionsecurity.h"
#include "core/protocol/smtpclient.h"
#include "core/protocol/tcptransport.h"
#include "fakeserver.h"
#include "faketransport.h"

#include <QTest>

using namespace Qt::StringLiterals;
using corvane::ConnectionSecurity;
using corvane::Error;
using corvane::LoginError;
using corvane::SecurityError;
using corvane::SmtpClient;
using corvane::SmtpSendOptions;
using corvane::TcpTransport;
using corvane::Transport;
using corvane::test::FakeServer;
using corvane::test::FakeTransport;

Q_DECLARE_METATYPE(Transport::Security)

namespace {

// "C: line" is a line the client must write, anything else a reply line of the server.
void script(FakeTransport &t, const QList<QByteArray> &conversation) {
    for (const QByteArray &line : conversation) {
        if (line.startsWith("C: "))
            t.expect(line.mid(3));
        else
            t.reply(line + "\r\n");
    }
}

// base64 of "\0alice\0secret", of "alice" and of "secret".
const QByteArray kPlain = "AGFsaWNlAHNlY3JldA==";
const QByteArray kUser = "YWxpY2U=";
const QByteArray kPassword = "c2VjcmV0";

const QList<QByteArray> kBeforeTls{"220 mx.test ESMTP",
                                   "C: EHLO me.test",
                                   "250-mx.test",
                                   "250-PIPELINING",
                                   "250 STARTTLS",
                                   "C: STARTTLS",
                                   "220 2.0.0 Ready to start TLS",
                                   "C: [TLS]",
                                   "C: EHLO me.test"};

} // namespace

enum class Failure { None, Security, Login, Other };
Q_DECLARE_METATYPE(Failure)
Q_DECLARE_METATYPE(corvane::ConnectionSecurity)

class TestSmtpSecurity final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void portDefaults_data();
    void portDefaults();
    void authMechanisms_data();
    void authMechanisms();
    void session_data();
    void session();
    void transcriptHidesCredentials();
    void startTlsAndAuthOverSockets();
    void untrustedCertificateSendsNoCredentials();
};

void TestSmtpSecurity::portDefaults_data() {
    QTest::addColumn<int>("port");
    QTest::addColumn<ConnectionSecurity>("security");
    QTest::newRow("25") << 25 << ConnectionSecurity::None;
    QTest::newRow("587") << 587 << ConnectionSecurity::StartTls;
    QTest::newRow("465") << 465 << ConnectionSecurity::Tls;
    QTest::newRow("2525") << 2525 << ConnectionSecurity::None;
}

void TestSmtpSecurity::portDefaults() {
    QFETCH(int, port);
    QFETCH(ConnectionSecurity, security);
    QCOMPARE(SmtpClient::defaultSecurity(quint16(port)), security);
    FakeTransport t;
    SmtpClient client(t);
    client.setPort(quint16(port));
    QCOMPARE(client.Security(), security);
}

void TestSmtpSecurity::authMechanisms_data() {
    QTest::addColumn<QList<QByteArray>>("extensions");
    QTest::addColumn<QList<QByteArray>>("mechanisms");
    QTest::newRow("none") << QList<QByteArray>{"PIPELINING", "8BITMIME"} << QList<QByteArray>{};
    QTest::newRow("AUTH line") << QList<QByteArray>{"AUTH PLAIN LOGIN CRAM-MD5"}
                               << QList<QByteArray>{"PLAIN", "LOGIN", "CRAM-MD5"};
    QTest::newRow("lower case, old form too") << QList<QByteArray>{"auth login", "AUTH=LOGIN PLAIN"}
                                              << QList<QByteArray>{"LOGIN", "PLAIN"};
    QTest::newRow("AUTHX is not AUTH") << QList<QByteArray>{"AUTHX PLAIN"} << QList<QByteArray>{};
}

void TestSmtpSecurity::authMechanisms() {
    QFETCH(QList<QByteArray>, extensions);
    QFETCH(QList<QByteArray>, mechanisms);
    QCOMPARE(SmtpClient::authMechanisms(extensions), mechanisms);
}

void TestSmtpSecurity::session_data() {
    QTest::addColumn<int>("security"); // -1: unset, the port decides
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QList<QByteArray>>("conversation");
    QTest::addColumn<QString>("tlsRefusal");
    QTest::addColumn<Transport::Security>("transportSecurity");
    QTest::addColumn<Failure>("failure");
    QTest::addColumn<QString>("error"); // a piece of it

    const QString alice = u"alice"_s;
    const int none = int(ConnectionSecurity::None);
    const int starttls = int(ConnectionSecurity::StartTls);
    const int tls = int(ConnectionSecurity::Tls);
    const QList<QByteArray> authOffered{"250-mx.test", "250-AUTH PLAIN LOGIN", "250 8BITMIME"};

    QTest::newRow("25 unset: plain, no AUTH")
        << -1 << 25 << QString()
        << QList<QByteArray>{"220 mx.test", "C: EHLO me.test", "250 mx.test"} << QString()
        << Transport::Security::Plain << Failure::None << QString();
    QTest::newRow("587 unset: STARTTLS, EHLO again, AUTH PLAIN")
        << -1 << 587 << alice
        << kBeforeTls + authOffered +
               QList<QByteArray>{"C: AUTH PLAIN " + kPlain, "235 2.7.0 Authentication successful"}
        << QString() << Transport::Security::StartTls << Failure::None << QString();
    QTest::newRow("AUTH LOGIN when PLAIN is not offered")
        << starttls << 2587 << alice
        << kBeforeTls + QList<QByteArray>{"250-mx.test",      "250 AUTH=LOGIN", "C: AUTH LOGIN",
                                          "334 VXNlcm5hbWU6", "C: " + kUser,    "334 UGFzc3dvcmQ6",
                                          "C: " + kPassword,  "235 ok"}
        << QString() << Transport::Security::StartTls << Failure::None << QString();
    QTest::newRow("465 unset: TLS from the first byte, AUTH PLAIN")
        << -1 << 465 << alice
        << QList<QByteArray>{"220 mx.test", "C: EHLO me.test"} + authOffered +
               QList<QByteArray>{"C: AUTH PLAIN " + kPlain, "235 ok"}
        << QString() << Transport::Security::Tls << Failure::None << QString();
    QTest::newRow("STARTTLS without a user: no AUTH")
        << starttls << 25 << QString() << kBeforeTls + authOffered << QString()
        << Transport::Security::StartTls << Failure::None << QString();
    QTest::newRow("credentials refused")
        << -1 << 587 << alice
        << kBeforeTls + authOffered +
               QList<QByteArray>{"C: AUTH PLAIN " + kPlain,
                                 "535 5.7.8 Authentication credentials invalid", "C: QUIT"}
        << QString() << Transport::Security::StartTls << Failure::Login
        << u"5.7.8 Authentication credentials invalid"_s;
    QTest::newRow("LOGIN password refused")
        << starttls << 587 << alice
        << kBeforeTls + QList<QByteArray>{"250-mx.test",      "250 AUTH LOGIN", "C: AUTH LOGIN",
                                          "334 VXNlcm5hbWU6", "C: " + kUser,    "334 UGFzc3dvcmQ6",
                                          "C: " + kPassword,  "535 no",         "C: QUIT"}
        << QString() << Transport::Security::StartTls << Failure::Login << u"no"_s;
    QTest::newRow("STARTTLS not offered: no fall-back")
        << -1 << 587 << alice
        << QList<QByteArray>{"220 mx.test", "C: EHLO me.test", "250-mx.test",
                             "250 AUTH PLAIN LOGIN", "C: QUIT"}
        << QString() << Transport::Security::StartTls << Failure::Security
        << u"does not offer STARTTLS"_s;
    QTest::newRow("EHLO refused: HELO cannot start TLS")
        << starttls << 587 << QString()
        << QList<QByteArray>{"220 mx.test",     "C: EHLO me.test", "500 what?",
                             "C: HELO me.test", "250 mx.test",     "C: QUIT"}
        << QString() << Transport::Security::StartTls << Failure::Security
        << u"does not offer STARTTLS"_s;
    QTest::newRow("STARTTLS refused")
        << starttls << 587 << alice
        << QList<QByteArray>{"220 mx.test",  "C: EHLO me.test", "250-mx.test",
                             "250 STARTTLS", "C: STARTTLS",     "454 4.7.0 TLS not available",
                             "C: QUIT"}
        << QString() << Transport::Security::StartTls << Failure::Security
        << u"refused STARTTLS (it answered \"454 4.7.0 TLS not available\")"_s;
    QTest::newRow("bytes injected before the handshake")
        << starttls << 587 << alice
        << QList<QByteArray>{"220 mx.test",  "C: EHLO me.test", "250-mx.test",
                             "250 STARTTLS", "C: STARTTLS",     "220 go\r\n250 AUTH PLAIN"}
        << QString() << Transport::Security::StartTls << Failure::Other
        << u"before the secure connection was set up"_s;
    QTest::newRow("certificate refused")
        << starttls << 587 << alice
        << QList<QByteArray>{"220 mx.test",  "C: EHLO me.test", "250-mx.test",
                             "250 STARTTLS", "C: STARTTLS",     "220 go"}
        << u"The secure connection to mx.test could not be established: The host name did not "
           u"match any of the valid hosts for this certificate"_s
        << Transport::Security::StartTls << Failure::Security << u"The host name did not match"_s;
    QTest::newRow("a user on a plain connection: refused before connecting")
        << none << 25 << alice << QList<QByteArray>{} << QString() << Transport::Security::Auto
        << Failure::Security << u"only ever sent over a secure connection"_s;
    QTest::newRow("no AUTH offered")
        << tls << 465 << alice
        << QList<QByteArray>{"220 mx.test", "C: EHLO me.test", "250 mx.test", "C: QUIT"}
        << QString() << Transport::Security::Tls << Failure::Other
        << u"does not offer a login (AUTH)"_s;
    QTest::newRow("only unknown mechanisms")
        << tls << 465 << alice
        << QList<QByteArray>{"220 mx.test", "C: EHLO me.test", "250-mx.test",
                             "250 AUTH CRAM-MD5 XOAUTH2", "C: QUIT"}
        << QString() << Transport::Security::Tls << Failure::Other
        << u"it offers CRAM-MD5 XOAUTH2"_s;
    QTest::newRow("server asks for more: cancelled")
        << tls << 465 << alice
        << QList<QByteArray>{"220 mx.test",    "C: EHLO me.test",         "250-mx.test",
                             "250 AUTH PLAIN", "C: AUTH PLAIN " + kPlain, "334 ",
                             "C: *",           "501 cancelled",           "C: QUIT"}
        << QString() << Transport::Security::Tls << Failure::Other
        << u"asked for more than a user name and password"_s;
}

void TestSmtpSecurity::session() {
    QFETCH(int, security);
    QFETCH(int, port);
    QFETCH(QString, user);
    QFETCH(QList<QByteArray>, conversation);
    QFETCH(QString, tlsRefusal);
    QFETCH(Transport::Security, transportSecurity);
    QFETCH(Failure, failure);
    QFETCH(QString, error);

    FakeTransport t;
    script(t, conversation);
    if (!tlsRefusal.isEmpty())
        t.refuseTls(tlsRefusal);
    SmtpClient client(t);
    client.setHost(u"mx.test"_s);
    client.setPort(quint16(port));
    client.setHeloName(u"me.test"_s);
    client.setUsername(user);
    client.setPassword(u"secret"_s);
    if (security >= 0)
        client.setSecurity(ConnectionSecurity(security));

    QString got;
    Failure kind = Failure::None;
    try {
        client.OpenSmtpSession();
    } catch (const SecurityError &e) {
        got = e.message();
        kind = Failure::Security;
    } catch (const LoginError &e) {
        got = e.message();
        kind = Failure::Login;
    } catch (const Error &e) {
        got = e.message();
        kind = Failure::Other;
    }
    QCOMPARE(t.security(), transportSecurity);
    t.verifyScriptDone();
    QVERIFY2(got.contains(error), qPrintable(got));
    QCOMPARE(kind, failure);
    QCOMPARE(client.IsConnected(), failure == Failure::None);
    if (failure == Failure::Security || failure == Failure::Other) {
        // Whatever failed before the login, the credentials never went out.
        const QByteArray written = t.takeWritten();
        QVERIFY2(!written.contains("AUTH") || error.contains(u"asked for more"_s),
                 written.constData());
    }
}

void TestSmtpSecurity::transcriptHidesCredentials() {
    for (const bool login : {false, true}) {
        FakeTransport t;
        QStringList transcript;
        t.setTranscript([&](const QString &line) { transcript << line; });
        script(t, kBeforeTls + QList<QByteArray>{"250-mx.test"});
        if (login)
            script(t, {"250 AUTH LOGIN", "C: AUTH LOGIN", "334 VXNlcm5hbWU6", "C: " + kUser,
                       "334 UGFzc3dvcmQ6", "C: " + kPassword, "235 ok"});
        else
            script(t, {"250 AUTH PLAIN", "C: AUTH PLAIN " + kPlain, "235 ok"});
        SmtpClient client(t);
        client.setHost(u"mx.test"_s);
        client.setPort(587);
        client.setHeloName(u"me.test"_s);
        client.setUsername(u"alice"_s);
        client.setPassword(u"secret"_s);
        client.OpenSmtpSession();
        t.verifyScriptDone();
        const QString all = transcript.join(u'\n');
        QVERIFY2(all.contains(login ? u"--> AUTH LOGIN"_s : u"--> AUTH PLAIN (hidden)"_s),
                 qPrintable(all));
        for (const QByteArray &secret : {kPlain, kUser, kPassword})
            QVERIFY2(!all.contains(QString::fromLatin1(secret)), qPrintable(all));
    }
}

void TestSmtpSecurity::startTlsAndAuthOverSockets() {
    FakeServer server;
    server.send("220 mx.test ESMTP\r\n")
        .expect("EHLO me.test")
        .send("250-mx.test\r\n250 STARTTLS\r\n")
        .expect("STARTTLS")
        .send("220 2.0.0 Ready\r\n")
        .startTls()
        .expect("EHLO me.test")
        .send("250-mx.test\r\n250 AUTH LOGIN PLAIN\r\n")
        .expect("AUTH PLAIN " + kPlain)
        .send("235 ok\r\n")
        .expect("RSET")
        .send("250 ok\r\n")
        .expect("MAIL FROM:<d@example.net>")
        .send("250 ok\r\n")
        .expect("RCPT TO:<ann@example.org>")
        .send("250 ok\r\n")
        .expect("DATA")
        .send("354 go\r\n")
        .skipUntil(".")
        .send("250 queued\r\n")
        .expect("QUIT");
    SmtpSendOptions options;
    options.port = server.port();
    options.security = ConnectionSecurity::StartTls;
    options.username = u"alice"_s;
    options.password = u"secret"_s;
    options.heloName = u"me.test"_s;
    options.transport = [](quint16) {
        auto t = std::make_unique<TcpTransport>();
        t->addCaCertificates({FakeServer::certificate()});
        return t;
    };
    corvane::SendSimpleMessage(u"127.0.0.1"_s, u"Hi"_s, u"ann@example.org"_s, u"d@example.net"_s,
                               u"text"_s, options);
    QTRY_COMPARE(server.received().constLast(), QByteArray("QUIT"));
    QVERIFY2(server.mismatches().isEmpty(), qPrintable(server.mismatches().join(u'\n')));
}

void TestSmtpSecurity::untrustedCertificateSendsNoCredentials() {
    // The certificate is self-signed and nobody trusts it: the error names that check, and
    // neither AUTH nor any mail reaches the server.
    FakeServer server;
    server.send("220 mx.test\r\n")
        .expect("EHLO me.test")
        .send("250-mx.test\r\n250 STARTTLS\r\n")
        .expect("STARTTLS")
        .send("220 go\r\n")
        .startTls();
    SmtpSendOptions options;
    options.port = server.port();
    options.security = ConnectionSecurity::StartTls;
    options.username = u"alice"_s;
    options.password = u"secret"_s;
    options.heloName = u"me.test"_s;
    QString error;
    try {
        corvane::SendSimpleMessage(u"127.0.0.1"_s, u"Hi"_s, u"ann@example.org"_s,
                                   u"d@example.net"_s, u"text"_s, options);
    } catch (const SecurityError &e) {
        error = e.message();
    }
    QVERIFY2(error.contains(u"127.0.0.1"_s), qPrintable(error));
    QVERIFY2(error.contains(u"self-signed"_s, Qt::CaseInsensitive), qPrintable(error));
    QTRY_VERIFY(server.peerClosed());
    QCOMPARE(server.received(), (QByteArrayList{"EHLO me.test", "STARTTLS"}));
}

QTEST_GUILESS_MAIN(TestSmtpSecurity)
#include "tst_smtpsecurity.moc"
