// How the POP3 client secures its session: STLS before the login, TLS from the first byte, and
// never a password in plain text when the account asks for security. First against a scripted
// transport, then over real sockets against the scripted server with TLS.

#include "core/errors.h"
#include "core/protocol/connectionsecurity.h"
#include "core/protocol/pop3client.h"
#include "core/protocol/tcptransport.h"
#include "fakeserver.h"
#include "faketransport.h"

#include <QTest>

using namespace Qt::StringLiterals;
using corvane::ConnectionSecurity;
using corvane::Error;
using corvane::Pop3Client;
using corvane::SecurityError;
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

} // namespace

class TestPop3Security final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void securityNames_data();
    void securityNames();
    void login_data();
    void login();
    void stlsOverSockets();
    void stlsWithUntrustedCertificate();
};

void TestPop3Security::securityNames_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("security"); // -1: not a setting

    const int none = int(ConnectionSecurity::None);
    const int stls = int(ConnectionSecurity::StartTls);
    const int tls = int(ConnectionSecurity::Tls);
    QTest::newRow("older file, port 110") << QString() << 110 << none;
    QTest::newRow("older file, port 995") << QString() << 995 << tls;
    QTest::newRow("older file, other port") << QString() << 1110 << none;
    QTest::newRow("none on 995 stays none") << u"none"_s << 995 << none;
    QTest::newRow("STLS") << u"STLS"_s << 110 << stls;
    QTest::newRow("stls, any case, blanks") << u" stls "_s << 110 << stls;
    QTest::newRow("STARTTLS") << u"STARTTLS"_s << 587 << stls;
    QTest::newRow("TLS on another port") << u"TLS"_s << 1995 << tls;
    QTest::newRow("unknown") << u"SSLv2"_s << 110 << -1;
}

void TestPop3Security::securityNames() {
    QFETCH(QString, stored);
    QFETCH(int, port);
    QFETCH(int, security);
    const std::optional<ConnectionSecurity> parsed = corvane::parseSecurity(stored, quint16(port));
    QCOMPARE(parsed ? int(*parsed) : -1, security);
    if (parsed)
        QCOMPARE(corvane::parseSecurity(corvane::securityName(*parsed), quint16(port)), parsed);
}

void TestPop3Security::login_data() {
    QTest::addColumn<int>("security"); // -1: unset, the port decides
    QTest::addColumn<int>("port");
    QTest::addColumn<QList<QByteArray>>("conversation");
    QTest::addColumn<QString>("tlsRefusal");
    QTest::addColumn<Transport::Security>("transportSecurity");
    QTest::addColumn<QString>("error"); // a piece of it; empty: logged in

    const QList<QByteArray> plainLogin{"+OK ready", "C: USER alice", "+OK", "C: PASS secret",
                                       "+OK in"};
    const int stls = int(ConnectionSecurity::StartTls);
    QTest::newRow("unset on 110: plain")
        << -1 << 110 << plainLogin << QString() << Transport::Security::Plain << QString();
    QTest::newRow("unset on 995: TLS from the start")
        << -1 << 995 << plainLogin << QString() << Transport::Security::Tls << QString();
    QTest::newRow("none on 995: plain") << int(ConnectionSecurity::None) << 995 << plainLogin
                                        << QString() << Transport::Security::Plain << QString();
    QTest::newRow("TLS on 110") << int(ConnectionSecurity::Tls) << 110 << plainLogin << QString()
                                << Transport::Security::Tls << QString();
    QTest::newRow("STLS, then the login inside TLS")
        << stls << 110
        << QList<QByteArray>{"+OK ready",      "C: STLS",       "+OK Begin TLS negotiation",
                             "C: [TLS]",       "C: USER alice", "+OK",
                             "C: PASS secret", "+OK in"}
        << QString() << Transport::Security::StartTls << QString();
    QTest::newRow("STLS refused: no fall-back")
        << stls << 110 << QList<QByteArray>{"+OK ready", "C: STLS", "-ERR Unknown command"}
        << QString() << Transport::Security::StartTls
        << u"does not offer STLS (it answered \"-ERR Unknown command\")"_s;
    QTest::newRow("bytes injected before the handshake")
        << stls << 110 << QList<QByteArray>{"+OK ready", "C: STLS", "+OK Begin TLS\r\n+OK forged"}
        << QString() << Transport::Security::StartTls
        << u"before the secure connection was set up"_s;
    QTest::newRow("certificate refused")
        << stls << 110 << QList<QByteArray>{"+OK ready", "C: STLS", "+OK Begin TLS"}
        << u"The secure connection to pop.example could not be established: The certificate "
           u"has expired"_s
        << Transport::Security::StartTls << u"The certificate has expired"_s;
}

void TestPop3Security::login() {
    QFETCH(int, security);
    QFETCH(int, port);
    QFETCH(QList<QByteArray>, conversation);
    QFETCH(QString, tlsRefusal);
    QFETCH(Transport::Security, transportSecurity);
    QFETCH(QString, error);

    FakeTransport t;
    script(t, conversation);
    if (!tlsRefusal.isEmpty())
        t.refuseTls(tlsRefusal);
    Pop3Client pop(t);
    pop.setHost(u"pop.example"_s);
    pop.setPort(quint16(port));
    pop.setUsername(u"alice"_s);
    pop.setPassword(u"secret"_s);
    if (security >= 0)
        pop.setSecurity(ConnectionSecurity(security));

    QString got;
    bool securityError = false;
    try {
        pop.OpenSession();
    } catch (const SecurityError &e) {
        got = e.message();
        securityError = true;
    } catch (const Error &e) {
        got = e.message();
    }
    QCOMPARE(t.security(), transportSecurity);
    t.verifyScriptDone();
    if (error.isEmpty()) {
        QVERIFY2(got.isEmpty(), qPrintable(got));
        QVERIFY(pop.IsOpen());
        return;
    }
    QVERIFY2(got.contains(error), qPrintable(got));
    // Whatever failed, the user name and password never went out.
    const QByteArray written = t.takeWritten();
    QVERIFY2(!written.contains("USER") && !written.contains("PASS"), written.constData());
    QVERIFY(!pop.IsOpen());
    // A missing STLS or a failed handshake is a security failure, not a refused login.
    if (!error.contains(u"before the secure"_s))
        QVERIFY(securityError);
}

void TestPop3Security::stlsOverSockets() {
    FakeServer server;
    server.send("+OK ready\r\n")
        .expect("STLS")
        .send("+OK Begin TLS negotiation\r\n")
        .startTls()
        .expect("USER alice")
        .send("+OK\r\n")
        .expect("PASS secret")
        .send("+OK in\r\n")
        .expect("STAT")
        .send("+OK 2 320\r\n");
    TcpTransport t;
    t.addCaCertificates({FakeServer::certificate()});
    Pop3Client pop(t);
    pop.setHost(u"127.0.0.1"_s);
    pop.setPort(server.port());
    pop.setUsername(u"alice"_s);
    pop.setPassword(u"secret"_s);
    pop.setSecurity(ConnectionSecurity::StartTls);
    pop.OpenSession();
    QCOMPARE(pop.CountMessages(), 2);
    QVERIFY2(server.mismatches().isEmpty(), qPrintable(server.mismatches().join(u'\n')));
    pop.CloseSession();
}

void TestPop3Security::stlsWithUntrustedCertificate() {
    // The certificate is self-signed and nobody trusts it: the error says so, and neither the
    // user name nor the password reaches the server.
    FakeServer server;
    server.send("+OK ready\r\n").expect("STLS").send("+OK Begin TLS\r\n").startTls();
    TcpTransport t;
    Pop3Client pop(t);
    pop.setHost(u"127.0.0.1"_s);
    pop.setPort(server.port());
    pop.setUsername(u"alice"_s);
    pop.setPassword(u"secret"_s);
    pop.setSecurity(ConnectionSecurity::StartTls);
    QString error;
    try {
        pop.OpenSession();
    } catch (const SecurityError &e) {
        error = e.message();
    }
    QVERIFY2(error.contains(u"127.0.0.1"_s), qPrintable(error));
    QVERIFY2(error.contains(u"self-signed"_s, Qt::CaseInsensitive), qPrintable(error));
    QVERIFY(!pop.IsOpen());
    QTRY_VERIFY(server.peerClosed());
    QCOMPARE(server.received(), QByteArrayList{"STLS"});
}

QTEST_GUILESS_MAIN(TestPop3Security)
#include "tst_pop3security.moc"
