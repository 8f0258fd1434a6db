// SMTP submission against the real submission servers that scripts/test-servers.sh starts on
// 127.0.0.1: STARTTLS then AUTH, TLS from the first byte then AUTH, a refused password, a
// server without STARTTLS, and a certificate nobody trusts.

#include "core/errors.h"
#include "core/protocol/connectionsecurity.h"
#include "core/protocol/smtpclient.h"
#include "core/protocol/tcptransport.h"
#include "requirements.h"
#include "testservers.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSslCertificate>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace corvane;
using corvane::test::TestServers;

Q_DECLARE_METATYPE(corvane::ConnectionSecurity)

class TestSmtpSubmission final : public QObject {
    Q_OBJECT

private:
    std::optional<TestServers> servers;
    QList<QSslCertificate> ca;
    QString user, password, sinkDir;
    int sent = 0;

    SmtpSendOptions options(quint16 port, ConnectionSecurity security, bool trusted = true) const {
        SmtpSendOptions o;
        o.port = port;
        o.security = security;
        o.username = user;
        o.password = password;
        const QList<QSslCertificate> trust = trusted ? ca : QList<QSslCertificate>{};
        o.transport = [trust](quint16) {
            auto t = std::make_unique<TcpTransport>();
            t->addCaCertificates(trust);
            t->setReadTimeout(10000);
            return t;
        };
        return o;
    }
    quint16 port(const char *key) const {
        return servers->value(QString::fromLatin1(key)).toUShort();
    }
    // A recipient of this run alone.
    QString recipient() {
        return u"sub-%1-%2-%3@e2e.example"_s.arg(QCoreApplication::applicationPid())
            .arg(QDateTime::currentMSecsSinceEpoch())
            .arg(++sent);
    }
    // The envelopes in the sink that name recipient.
    QList<QByteArray> envelopesTo(const QString &to) const {
        QList<QByteArray> found;
        const QDir dir(sinkDir + u"/new"_s);
        for (const QString &name : dir.entryList({u"*.envelope"_s}, QDir::Files, QDir::Name)) {
            QFile f(dir.filePath(name));
            if (f.open(QIODevice::ReadOnly)) {
                const QByteArray bytes = f.readAll();
                if (bytes.contains("RCPT TO:<" + to.toUtf8() + ">"))
                    found << name.toUtf8() + '\n' + bytes;
            }
        }
        return found;
    }
    QString sendError(const QString &to, const SmtpSendOptions &o) {
        try {
            SendSimpleMessage(u"127.0.0.1"_s, u"Submission"_s, to, u"me@e2e.example"_s, u"Hello."_s,
                              o);
        } catch (const Error &e) {
            return e.message();
        }
        return {};
    }

private Q_SLOTS:
    void initTestCase();
    void sendsAfterLogin_data();
    void sendsAfterLogin();
    void refusedPassword();
    void missingStartTlsIsAnError();
    void untrustedCertificate();
};

void TestSmtpSubmission::initTestCase() {
    servers.emplace();
    if (!servers->has({"CORVANE_SMTP_PORT", "CORVANE_SMTP_SINK_DIR", "CORVANE_SUBMISSION_PORT",
                       "CORVANE_SUBMISSIONS_PORT", "CORVANE_SUBMISSION_USER",
                       "CORVANE_SUBMISSION_PASSWORD", "CORVANE_SUBMISSION_CA"}))
        CORVANE_REQUIRE_OR_SKIP(qPrintable(servers->why()));
    ca = QSslCertificate::fromPath(servers->value(u"CORVANE_SUBMISSION_CA"_s));
    QVERIFY(!ca.isEmpty());
    user = servers->value(u"CORVANE_SUBMISSION_USER"_s);
    password = servers->value(u"CORVANE_SUBMISSION_PASSWORD"_s);
    sinkDir = servers->value(u"CORVANE_SMTP_SINK_DIR"_s);
}

void TestSmtpSubmission::sendsAfterLogin_data() {
    QTest::addColumn<QByteArray>("portKey");
    QTest::addColumn<ConnectionSecurity>("security");
    QTest::addColumn<QByteArray>("prefix");
    QTest::newRow("STARTTLS") << QByteArray("CORVANE_SUBMISSION_PORT")
                              << ConnectionSecurity::StartTls << QByteArray("submission-");
    QTest::newRow("TLS from the first byte") << QByteArray("CORVANE_SUBMISSIONS_PORT")
                                             << ConnectionSecurity::Tls << QByteArray("smtps-");
}

void TestSmtpSubmission::sendsAfterLogin() {
    QFETCH(QByteArray, portKey);
    QFETCH(ConnectionSecurity, security);
    QFETCH(QByteArray, prefix);
    const QString to = recipient();
    const QString error = sendError(to, options(port(portKey.constData()), security));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QList<QByteArray> found = envelopesTo(to);
    QCOMPARE(found.size(), 1);
    QVERIFY2(found[0].startsWith(prefix), found[0].constData());
    QVERIFY2(found[0].contains("\nTLS yes\n"), found[0].constData());
    QVERIFY2(found[0].contains("\nAUTH " + user.toUtf8() + '\n'), found[0].constData());
}

void TestSmtpSubmission::refusedPassword() {
    const QString to = recipient();
    SmtpSendOptions o = options(port("CORVANE_SUBMISSION_PORT"), ConnectionSecurity::StartTls);
    o.password = u"wrong"_s;
    bool login = false;
    try {
        SendSimpleMessage(u"127.0.0.1"_s, u"Submission"_s, to, u"me@e2e.example"_s, u"x"_s, o);
    } catch (const LoginError &e) {
        login = e.message().contains(u"credentials invalid"_s);
    }
    QVERIFY(login);
    QVERIFY(envelopesTo(to).isEmpty());
}

void TestSmtpSubmission::missingStartTlsIsAnError() {
    // The plain sink offers no STARTTLS: asked for it, the client stops instead of sending in
    // plain text.
    const QString to = recipient();
    const QString error =
        sendError(to, options(port("CORVANE_SMTP_PORT"), ConnectionSecurity::StartTls));
    QVERIFY2(error.contains(u"does not offer STARTTLS"_s), qPrintable(error));
    QVERIFY(envelopesTo(to).isEmpty());
}

void TestSmtpSubmission::untrustedCertificate() {
    const QString to = recipient();
    const QString error = sendError(
        to, options(port("CORVANE_SUBMISSION_PORT"), ConnectionSecurity::StartTls, false));
    QVERIFY2(error.contains(u"could not be established"_s), qPrintable(error));
    QVERIFY2(error.contains(u"issuer certificate"_s, Qt::CaseInsensitive) ||
                 error.contains(u"self signed"_s, Qt::CaseInsensitive) ||
                 error.contains(u"self-signed"_s, Qt::CaseInsensitive),
             qPrintable(error));
    QVERIFY(envelopesTo(to).isEmpty());
}

QTEST_GUILESS_MAIN(TestSmtpSubmission)
#include "tst_smtp_submission.moc"
