// Secured POP3 sessions against the private Dovecot instance that scripts/test-servers.sh
// starts with a certificate of a test authority: STLS on the plain port and TLS from the first
// byte on the other, through the account's security setting as a check uses it (with the
// pipelined scan over the secured connection), and a server that cannot be trusted stops the
// login before the password is sent.

#include "core/errors.h"
#include "core/protocol/pop3client.h"
#include "core/protocol/tcptransport.h"
#include "core/rules/rulelists.h"
#include "core/screening/mailboxsession.h"
#include "core/settings/accountstore.h"
#include "requirements.h"
#include "screeningrecorder.h"
#include "testservers.h"

#include <QSslCertificate>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace corvane;
using corvane::test::TestMaildir;
using corvane::test::TestServers;

class TestPop3TlsDovecot final : public QObject {
    Q_OBJECT

private:
    std::optional<TestServers> servers;
    QString host, password;
    quint16 plainPort = 0, tlsPort = 0;
    QList<QSslCertificate> ca;
    const QString user = u"e2e-tls"_s;

private Q_SLOTS:
    void initTestCase();
    void checkWithSecurity_data();
    void checkWithSecurity();
    void untrustedServer_data();
    void untrustedServer();
};

void TestPop3TlsDovecot::initTestCase() {
    servers.emplace();
    if (!servers->has({"CORVANE_POP3_HOST", "CORVANE_POP3_PORT", "CORVANE_POP3S_PORT",
                       "CORVANE_POP3_CA", "CORVANE_POP3_USERS", "CORVANE_POP3_PASSWORD",
                       "CORVANE_POP3_MAILDIR_ROOT"}))
        CORVANE_REQUIRE_OR_SKIP(qPrintable(servers->why()));
    QVERIFY2(servers->value(u"CORVANE_POP3_USERS"_s).split(u',').contains(user),
             "the test user e2e-tls is missing");
    host = servers->value(u"CORVANE_POP3_HOST"_s);
    plainPort = servers->value(u"CORVANE_POP3_PORT"_s).toUShort();
    tlsPort = servers->value(u"CORVANE_POP3S_PORT"_s).toUShort();
    password = servers->value(u"CORVANE_POP3_PASSWORD"_s);
    ca = QSslCertificate::fromPath(servers->value(u"CORVANE_POP3_CA"_s));
    QVERIFY(!ca.isEmpty());
    TestMaildir maildir(servers->value(u"CORVANE_POP3_MAILDIR_ROOT"_s) + u'/' + user);
    QVERIFY(maildir.clear());
    QVERIFY(maildir.deliver("From: a@example.org\nTo: tls@e2e.example\nSubject: Secured\n"
                            "Date: Mon, 6 May 2024 07:00:00 +0000\n\nBody.\n"));
    QVERIFY(maildir.deliver("From: b@example.org\nTo: tls@e2e.example\nSubject: Secured too\n"
                            "Date: Mon, 6 May 2024 08:00:00 +0000\n\nBody.\n"));
}

void TestPop3TlsDovecot::checkWithSecurity_data() {
    QTest::addColumn<bool>("tlsListener");
    QTest::addColumn<QString>("security");
    QTest::newRow("STLS on the plain port") << false << u"STLS"_s;
    QTest::newRow("TLS from the first byte") << true << u"TLS"_s;
}

void TestPop3TlsDovecot::checkWithSecurity() {
    // The account as the store keeps it, checked as the window checks it.
    QFETCH(bool, tlsListener);
    QFETCH(QString, security);
    QTemporaryDir dir;
    AccountStore store(dir.filePath(u"accounts.dat"_s));
    store.insert({u"Secure"_s, host, QString::number(tlsListener ? tlsPort : plainPort), user,
                  password, u"tls@e2e.example"_s, security});
    RuleLists lists;
    corvane::test::ScreeningRecorder view;
    TcpTransport transport;
    transport.addCaCertificates(ca);
    QStringList transcript;
    transport.setTranscript([&](const QString &line) { transcript << line; });
    MailboxSession session(transport, &store, lists, view);
    session.CheckAccount(0);
    QCOMPARE(session.rows().size(), 2);
    QCOMPARE(session.rows().at(0).Subject, u"Secured"_s);
    QCOMPARE(session.rows().at(1).Subject, u"Secured too"_s);
    session.DisconnectExecute();
    // STLS comes before the user name; TLS from the start needs no STLS.
    const qsizetype stls = transcript.indexOf(u"--> STLS"_s);
    const qsizetype userLine = transcript.indexOf(u"--> USER "_s + user);
    QVERIFY(userLine > 0);
    QCOMPARE(stls >= 0, !tlsListener);
    if (!tlsListener) {
        QVERIFY(stls < userLine);
        QVERIFY(transcript.indexOf(u"--- starting TLS"_s) > stls);
    }
    // The scan of two messages is pipelined: the capabilities it relies on are those the
    // server announced over the secured, logged-in connection.
    const qsizetype capa = transcript.indexOf(u"--> CAPA"_s);
    QVERIFY2(capa > userLine, qPrintable(transcript.join(u'\n')));
    QCOMPARE(transcript.count(u"--> CAPA"_s), 1);
}

void TestPop3TlsDovecot::untrustedServer_data() {
    QTest::addColumn<bool>("tlsListener");
    QTest::newRow("STLS") << false;
    QTest::newRow("TLS from the first byte") << true;
}

void TestPop3TlsDovecot::untrustedServer() {
    // Without the test authority the server's certificate chains to nothing this machine
    // trusts: the check fails, says which check, and the user name never goes out.
    QFETCH(bool, tlsListener);
    TcpTransport transport;
    QStringList transcript;
    transport.setTranscript([&](const QString &line) { transcript << line; });
    Pop3Client pop(transport);
    pop.setHost(host);
    pop.setPort(tlsListener ? tlsPort : plainPort);
    pop.setUsername(user);
    pop.setPassword(password);
    pop.setSecurity(tlsListener ? ConnectionSecurity::Tls : ConnectionSecurity::StartTls);
    QString error;
    try {
        pop.OpenSession();
    } catch (const SecurityError &e) {
        error = e.message();
    }
    QVERIFY2(error.startsWith(u"The secure connection to 127.0.0.1 could not be established: "_s),
             qPrintable(error));
    QVERIFY2(error.contains(u"issuer certificate"_s, Qt::CaseInsensitive) ||
                 error.contains(u"self-signed"_s, Qt::CaseInsensitive),
             qPrintable(error));
    QVERIFY(!pop.IsOpen());
    QVERIFY2(transcript.filter(u"USER"_s).isEmpty(), qPrintable(transcript.join(u'\n')));
}

QTEST_GUILESS_MAIN(TestPop3TlsDovecot)
#include "tst_pop3tls_dovecot.moc"
