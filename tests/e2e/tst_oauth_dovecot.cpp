// OAuth 2.0 accounts against real servers on loopback: the test authorization server of
// scripts/test-servers.sh, Dovecot's oauth2 passdb that checks its tokens, and an SMTP server
// that does the same. The sign-ins (device code and browser with a loopback redirect), both
// SASL mechanisms, a wrong token, an access token that expired early, one that is about to
// expire, a revoked grant, a stalled token endpoint, and corvane-cli from "accounts add" to
// "check" and back after a revocation.

#include "clirunner.h"
#include "core/auth/oauthsignin.h"
#include "core/auth/oauthtokens.h"
#include "core/errors.h"
#include "core/protocol/mailmessage.h"
#include "core/protocol/pop3client.h"
#include "core/protocol/smtpclient.h"
#include "core/protocol/tcptransport.h"
#include "core/rules/listsubmission.h"
#include "core/settings/secretstore.h"
#include "core/settings/settings.h"
#include "requirements.h"
#include "testservers.h"
#include "testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrlQuery>

using namespace Qt::StringLiterals;
using namespace corvane;
using corvane::test::TestMaildir;
using corvane::test::TestServers;

Q_DECLARE_METATYPE(corvane::OAuthMechanism)

namespace {

const QByteArray kMessage = "From: alice@example.net\nTo: e2e@example.net\n"
                            "Subject: Signed in with a token\n\nHello\n";

// Waits for a reply with events handled, at most 20 s.
QByteArray finished(QNetworkReply *reply) {
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

} // namespace

class TestOAuthDovecot final : public QObject {
    Q_OBJECT

private:
    std::optional<TestServers> servers;
    QString url;
    OAuthProvider provider;
    QNetworkAccessManager network;
    const QString user = u"e2e-oauth"_s;
    const QString cliUser = u"e2e-oauth-cli"_s;

    TestMaildir maildir(const QString &who) const {
        return TestMaildir(servers->value(u"CORVANE_POP3_MAILDIR_ROOT"_s) + u'/' + who);
    }
    // An action of the server's /admin/ for who.
    void admin(const QString &action, const QString &who, const QString &extra = {}) {
        QNetworkRequest request(QUrl(url + u"/admin/"_s + action));
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          u"application/x-www-form-urlencoded"_s);
        finished(network.post(request, (u"user="_s + who + extra).toUtf8()));
    }
    int refreshes(const QString &who) {
        const QByteArray body =
            finished(network.get(QNetworkRequest(QUrl(url + u"/admin/stats?user="_s + who))));
        return QJsonDocument::fromJson(body).object().value(u"refreshes"_s).toInt();
    }
    OAuthGrant deviceGrant(const QString &who) {
        TokenEndpoint endpoint(provider);
        return runDeviceSignIn(
            endpoint, [](const DeviceAuthorization &) {}, who);
    }
    void openPop3(Pop3Client &pop, const QString &who, AccessTokenSource source) {
        pop.setHost(u"127.0.0.1"_s);
        pop.setPort(quint16(servers->value(u"CORVANE_OAUTH_POP3_PORT"_s).toUShort()));
        pop.setSecurity(ConnectionSecurity::None);
        pop.setUsername(who);
        pop.setAccessTokenSource(std::move(source));
        pop.OpenSession();
    }
    QString settingsSection() const {
        return u"[OAuth test]\nName=Test provider\nClientId=%1\nAuthorizeUrl=%2/authorize\n"
               u"TokenUrl=%2/token\nDeviceUrl=%2/device\nScope=mail\nPop3Server=127.0.0.1\n"
               u"Pop3Port=%3\nPop3Security=none\n"_s.arg(
                   servers->value(u"CORVANE_OAUTH_CLIENT_ID"_s), url,
                   servers->value(u"CORVANE_OAUTH_POP3_PORT"_s));
    }

private Q_SLOTS:
    void initTestCase();
    void pop3Mechanisms_data();
    void pop3Mechanisms();
    void wrongToken();
    void expiryAndRevocation();
    void tokenServerFaults();
    void browserSignIn_data();
    void browserSignIn();
    void smtp();
    void submissionSignsInWithOAuth();
    void commandLine();
};

void TestOAuthDovecot::initTestCase() {
    qputenv("CORVANE_NO_KEYCHAIN", "1");
    servers.emplace();
    if (!servers->has({"CORVANE_OAUTH_URL", "CORVANE_OAUTH_CLIENT_ID", "CORVANE_OAUTH_USERS",
                       "CORVANE_OAUTH_POP3_PORT", "CORVANE_POP3_MAILDIR_ROOT"}))
        CORVANE_REQUIRE_OR_SKIP(qPrintable(servers->why()));
    QVERIFY(servers->value(u"CORVANE_OAUTH_USERS"_s).split(u',').contains(user));
    url = servers->value(u"CORVANE_OAUTH_URL"_s);
    provider.id = u"test"_s;
    provider.name = u"Test provider"_s;
    provider.clientId = servers->value(u"CORVANE_OAUTH_CLIENT_ID"_s);
    provider.authorizeUrl = QUrl(url + u"/authorize"_s);
    provider.tokenUrl = QUrl(url + u"/token"_s);
    provider.deviceUrl = QUrl(url + u"/device"_s);
    provider.scope = u"mail"_s;
    QCOMPARE(provider.problem(), QString());
    admin(u"stall"_s, user, u"&seconds=0"_s);
}

void TestOAuthDovecot::pop3Mechanisms_data() {
    QTest::addColumn<OAuthMechanism>("mechanism");
    QTest::addColumn<bool>("tls");
    QTest::newRow("OAUTHBEARER") << OAuthMechanism::OAuthBearer << false;
    QTest::newRow("XOAUTH2") << OAuthMechanism::XOAuth2 << false;
    QTest::newRow("OAUTHBEARER over TLS") << OAuthMechanism::OAuthBearer << true;
}

void TestOAuthDovecot::pop3Mechanisms() {
    QFETCH(OAuthMechanism, mechanism);
    QFETCH(bool, tls);
    TestMaildir box = maildir(user);
    QVERIFY(box.clear());
    QVERIFY(box.deliver(kMessage));
    const OAuthGrant grant = deviceGrant(user);
    TcpTransport transport;
    QStringList transcript;
    transport.setTranscript([&](const QString &line) { transcript << line; });
    Pop3Client pop(transport);
    pop.setOAuthMechanisms({mechanism});
    if (tls) {
        if (!servers->has({"CORVANE_OAUTH_POP3S_PORT", "CORVANE_POP3_CA"}))
            CORVANE_REQUIRE_OR_SKIP(qPrintable(servers->why()));
        transport.addCaCertificates(
            QSslCertificate::fromPath(servers->value(u"CORVANE_POP3_CA"_s)));
        pop.setHost(u"127.0.0.1"_s);
        pop.setPort(quint16(servers->value(u"CORVANE_OAUTH_POP3S_PORT"_s).toUShort()));
        pop.setSecurity(ConnectionSecurity::Tls);
        pop.setUsername(user);
        pop.setAccessTokenSource([&](bool) { return grant.accessToken; });
        pop.OpenSession();
    } else {
        openPop3(pop, user, [&](bool) { return grant.accessToken; });
    }
    QCOMPARE(pop.CountMessages(), 1);
    QCOMPARE(pop.QuitSession().status, Pop3QuitOutcome::Status::Committed);
    const QString all = transcript.join(u'\n');
    QVERIFY2(all.contains(u"--> AUTH "_s + QString::fromLatin1(mechanismName(mechanism))),
             qPrintable(all));
    QVERIFY(!all.contains(grant.accessToken));
    QCOMPARE(box.count(), 1);
}

void TestOAuthDovecot::wrongToken() {
    TcpTransport transport;
    Pop3Client pop(transport);
    int calls = 0;
    try {
        openPop3(pop, user, [&](bool) {
            ++calls;
            return u"at-not-a-token-%1"_s.arg(calls);
        });
        QFAIL("a wrong token logged in");
    } catch (const LoginError &e) {
        QVERIFY2(e.message().contains(u"Authentication failed"_s), qPrintable(e.message()));
        QVERIFY(!e.message().contains(u"at-not-a-token"_s));
    }
    QCOMPARE(calls, 2); // refused, renewed once, refused again
    QVERIFY(!pop.IsOpen());
}

void TestOAuthDovecot::expiryAndRevocation() {
    TestMaildir box = maildir(user);
    QVERIFY(box.clear());
    QVERIFY(box.deliver(kMessage));
    QTemporaryDir folder;
    OAuthTokens tokens(SecretStore(folder.path()), {provider});
    QDateTime now = QDateTime::currentDateTimeUtc();
    tokens.setClock([&] { return now; });
    const OAuthGrant signedIn = deviceGrant(user);
    tokens.storeGrant(u"test"_s, user, signedIn);
    const int before = refreshes(user);

    // A token valid for an hour is used as it is.
    QCOMPARE(tokens.accessToken(u"test"_s, user, false), signedIn.accessToken);
    QCOMPARE(tokens.refreshCount(), 0);

    // Less than a minute before it expires, a new one is fetched first.
    now = signedIn.expiresAt.addSecs(-30);
    const QString renewed = tokens.accessToken(u"test"_s, user, false);
    QVERIFY(renewed != signedIn.accessToken);
    QCOMPARE(tokens.refreshCount(), 1);
    QCOMPARE(tokens.grant(u"test"_s, user)->accessToken, renewed);
    QCOMPARE(tokens.grant(u"test"_s, user)->refreshToken, signedIn.refreshToken);
    now = QDateTime::currentDateTimeUtc();

    // The server withdraws it early: the refusal brings one refresh, and the login goes on.
    admin(u"expire"_s, user);
    {
        TcpTransport transport;
        Pop3Client pop(transport);
        openPop3(pop, user, tokens.source(u"test"_s, user));
        QCOMPARE(pop.CountMessages(), 1);
        pop.QuitSession();
    }
    QCOMPARE(tokens.refreshCount(), 2);
    QCOMPARE(refreshes(user), before + 2);

    // The grant is revoked: the login fails before the mailbox is touched, the grant stays
    // stored for the user to replace, and the message is still there.
    admin(u"revoke"_s, user);
    TcpTransport transport;
    Pop3Client pop(transport);
    try {
        openPop3(pop, user, tokens.source(u"test"_s, user));
        QFAIL("a revoked grant logged in");
    } catch (const SignInRequiredError &e) {
        QVERIFY2(e.message().contains(u"Sign in to the account again"_s), qPrintable(e.message()));
        QVERIFY2(e.message().contains(u"invalid_grant"_s), qPrintable(e.message()));
        QVERIFY(!e.message().contains(signedIn.refreshToken));
    }
    QVERIFY(!pop.IsOpen());
    QVERIFY(tokens.grant(u"test"_s, user).has_value());
    QCOMPARE(box.count(), 1);
}

void TestOAuthDovecot::tokenServerFaults() {
    QTemporaryDir folder;
    // A token endpoint that stalls: the wait ends with a clear message.
    OAuthTokens tokens(SecretStore(folder.path()), {provider});
    tokens.setTimeout(1000);
    tokens.storeGrant(u"test"_s, user, {u"rt-unknown"_s, QString(), QDateTime()});
    admin(u"stall"_s, user, u"&seconds=3"_s);
    try {
        tokens.accessToken(u"test"_s, user, false);
        QFAIL("a stalled server gave a token");
    } catch (const NetworkError &e) {
        QVERIFY2(e.message().contains(u"did not answer within 1 seconds"_s),
                 qPrintable(e.message()));
    }
    admin(u"stall"_s, user, u"&seconds=0"_s);

    // A refusal other than a lost grant shows the server's words.
    OAuthProvider stranger = provider;
    stranger.clientId = u"someone-else"_s;
    OAuthTokens strangers(SecretStore(folder.path()), {stranger});
    try {
        strangers.accessToken(u"test"_s, user, false);
        QFAIL("an unknown client got a token");
    } catch (const ProtocolError &e) {
        QVERIFY2(e.message().contains(u"invalid_client: unknown client"_s),
                 qPrintable(e.message()));
        QVERIFY(!e.message().contains(u"rt-unknown"_s));
    }

    // Nothing listens: the sign-in server is named.
    OAuthProvider gone = provider;
    gone.tokenUrl = QUrl(u"http://127.0.0.1:1/token"_s);
    OAuthTokens nowhere(SecretStore(folder.path()), {gone});
    try {
        nowhere.accessToken(u"test"_s, user, false);
        QFAIL("a token came from nowhere");
    } catch (const NetworkError &e) {
        QVERIFY2(e.message().contains(u"could not be reached"_s), qPrintable(e.message()));
    }
}

void TestOAuthDovecot::browserSignIn_data() {
    QTest::addColumn<QString>("hint");
    QTest::addColumn<bool>("forgeState");
    QTest::addColumn<QString>("error"); // empty: signed in
    QTest::newRow("approved") << user << false << QString();
    QTest::newRow("declined") << u"deny-me"_s << false
                              << u"did not grant the sign-in: access_denied: The user said no."_s;
    QTest::newRow("foreign state") << user << true << u"its state differs"_s;
}

void TestOAuthDovecot::browserSignIn() {
    QFETCH(QString, hint);
    QFETCH(bool, forgeState);
    QFETCH(QString, error);
    BrowserSignIn signIn(provider);
    signIn.setLoginHint(hint);
    signIn.setTimeout(20000);
    QList<QNetworkReply *> replies;
    QUrl asked;
    const auto browser = [&](const QUrl &address) {
        asked = address;
        // The browser: the authorization server redirects it to 127.0.0.1 at once.
        QUrl target = address;
        if (forgeState) {
            const QUrlQuery query(address);
            target = QUrl(query.queryItemValue(u"redirect_uri"_s, QUrl::FullyDecoded));
            target.setQuery(u"code=code-forged&state=forged"_s);
        }
        replies << network.get(QNetworkRequest(target));
    };
    QString failure;
    try {
        const OAuthGrant grant = signIn.run(browser);
        QVERIFY(!grant.accessToken.isEmpty());
        QVERIFY(!grant.refreshToken.isEmpty());
    } catch (const Error &e) {
        failure = e.message();
    }
    for (QNetworkReply *reply : std::as_const(replies))
        finished(reply);
    const QUrlQuery query(asked);
    QCOMPARE(query.queryItemValue(u"code_challenge_method"_s), u"S256"_s);
    QVERIFY(QUrl(query.queryItemValue(u"redirect_uri"_s, QUrl::FullyDecoded))
                .host()
                .startsWith(u"127.0.0.1"_s));
    if (error.isEmpty())
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    else
        QVERIFY2(failure.contains(error), qPrintable(failure));
}

void TestOAuthDovecot::smtp() {
    if (!servers->has(
            {"CORVANE_OAUTH_SMTP_PORT", "CORVANE_SUBMISSION_CA", "CORVANE_SMTP_SINK_DIR"}))
        CORVANE_REQUIRE_OR_SKIP(qPrintable(servers->why()));
    const OAuthGrant grant = deviceGrant(user);
    const QByteArray recipient =
        "oauth-smtp-" + QByteArray::number(QDateTime::currentMSecsSinceEpoch()) + "@example.net";
    for (const bool right : {true, false}) {
        TcpTransport transport;
        transport.addCaCertificates(
            QSslCertificate::fromPath(servers->value(u"CORVANE_SUBMISSION_CA"_s)));
        SmtpClient client(transport);
        client.setHost(u"127.0.0.1"_s);
        client.setPort(quint16(servers->value(u"CORVANE_OAUTH_SMTP_PORT"_s).toUShort()));
        client.setSecurity(ConnectionSecurity::Tls);
        client.setUsername(user);
        int calls = 0;
        client.setAccessTokenSource([&](bool) {
            ++calls;
            return right ? grant.accessToken : u"at-wrong"_s;
        });
        if (!right) {
            QVERIFY_THROWS_EXCEPTION(LoginError, client.OpenSmtpSession());
            QCOMPARE(calls, 2);
            continue;
        }
        client.OpenSmtpSession();
        client.DeliverMessage(composeSimpleMessage(u"Token mail"_s, QString::fromLatin1(recipient),
                                                   u"e2e-oauth@example.net"_s, u"Hello"_s));
        client.CloseSmtpSession();
        QCOMPARE(calls, 1);
    }
    // The sink wrote the envelope with the user the token belongs to.
    QString envelope;
    QDirIterator it(servers->value(u"CORVANE_SMTP_SINK_DIR"_s) + u"/new"_s,
                    {u"oauth-*.envelope"_s});
    while (it.hasNext()) {
        QFile file(it.next());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        if (text.contains(QString::fromLatin1(recipient)))
            envelope = text;
    }
    QVERIFY2(envelope.contains(u"AUTH e2e-oauth\n"_s), qPrintable(envelope));
}

void TestOAuthDovecot::submissionSignsInWithOAuth() {
    // The program's own mail (here the list submission) logs in to SMTP with the grant of the
    // same user, kept in the data folder.
    if (!servers->has(
            {"CORVANE_OAUTH_SMTP_PORT", "CORVANE_SUBMISSION_CA", "CORVANE_SMTP_SINK_DIR"}))
        CORVANE_REQUIRE_OR_SKIP(qPrintable(servers->why()));
    QTemporaryDir folder;
    {
        QFile file(folder.filePath(u"Settings.ini"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(settingsSection().toUtf8());
        QFile list(folder.filePath(ListSubmission::FileNames.first()));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write("list");
    }
    OAuthTokens(folder.path()).storeGrant(u"test"_s, user, deviceGrant(user));
    const QByteArray recipient =
        "oauth-lists-" + QByteArray::number(QDateTime::currentMSecsSinceEpoch()) + "@example.net";
    Settings settings;
    settings.smtpserver = u"127.0.0.1"_s;
    settings.smtpport = servers->value(u"CORVANE_OAUTH_SMTP_PORT"_s);
    settings.smtpsecurity = u"TLS"_s;
    settings.smtpuser = user;
    settings.smtpauth = u"oauth:test"_s;
    settings.smtpemail = u"e2e-oauth@example.net"_s;
    settings.submitaddress = QString::fromLatin1(recipient);
    SmtpSendOptions options;
    const QList<QSslCertificate> ca =
        QSslCertificate::fromPath(servers->value(u"CORVANE_SUBMISSION_CA"_s));
    options.transport = [&](quint16 port) {
        std::unique_ptr<Transport> transport = makeSmtpTransport(port);
        static_cast<TcpTransport &>(*transport).addCaCertificates(ca);
        return transport;
    };
    QStringList transcript;
    options.transcript = [&](const QString &line) { transcript << line; };
    ListSubmission::submit(folder.path(), settings, options);
    const QString all = transcript.join(u'\n');
    QVERIFY2(all.contains(u"--> AUTH OAUTHBEARER (hidden)"_s), qPrintable(all));
    QVERIFY(!all.contains(u"at-"_s));

    // Without a grant for the user the submission stops before the login is sent.
    settings.smtpuser = cliUser + u"-none"_s;
    transcript.clear();
    QVERIFY_THROWS_EXCEPTION(SignInRequiredError,
                             ListSubmission::submit(folder.path(), settings, options));
    QVERIFY(!transcript.join(u'\n').contains(u"--> AUTH"_s));
}

void TestOAuthDovecot::commandLine() {
    QVERIFY2(!test::cliPath().isEmpty(), "CORVANE_CLI is not set");
    QTemporaryDir data;
    const QString dir = data.path();
    {
        QFile settings(dir + u"/Settings.ini"_s);
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(settingsSection().toUtf8());
    }
    TestMaildir box = maildir(cliUser);
    QVERIFY(box.clear());
    QVERIFY(box.deliver(kMessage));
    const QStringList at{u"--data-dir"_s, dir};

    // The server, port and security come from the provider.
    test::CliRun run =
        test::runCli(QStringList{u"accounts"_s, u"add"_s, u"--name"_s, u"Token"_s, u"--user"_s,
                                 cliUser, u"--auth"_s, u"oauth:test"_s} +
                     at);
    QVERIFY2(run.exitCode == 0, run.err.constData());
    run = test::runCli(QStringList{u"accounts"_s, u"list"_s} + at);
    QVERIFY2(
        run.outText().contains(u"127.0.0.1\t"_s + servers->value(u"CORVANE_OAUTH_POP3_PORT"_s)),
        run.out.constData());

    // Not signed in yet: a clear exit code, nothing touched.
    run = test::runCli(QStringList{u"check"_s, u"Token"_s} + at);
    QCOMPARE(run.exitCode, 77);
    QVERIFY2(run.errText().contains(u"has not been signed in"_s), run.err.constData());

    // The device sign-in, then a check that lists the message.
    run = test::runCli(QStringList{u"accounts"_s, u"authorize"_s, u"Token"_s} + at);
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QVERIFY2(run.outText().contains(u"enter the code WDJB-MJHT"_s), run.out.constData());
    QVERIFY2(run.outText().contains(u"signed in: Token"_s), run.out.constData());
    QVERIFY(QFileInfo(dir + u"/secrets.dat"_s).permissions() ==
            (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser));
    run = test::runCli(QStringList{u"check"_s, u"Token"_s} + at);
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QVERIFY2(run.outText().contains(u"Signed in with a token"_s), run.out.constData());

    // An access token withdrawn early is renewed on the way.
    admin(u"expire"_s, cliUser);
    run = test::runCli(QStringList{u"check"_s, u"Token"_s, u"--transcript"_s} + at);
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QVERIFY2(run.errText().count(u"--> AUTH OAUTHBEARER (hidden)"_s) == 2, run.err.constData());
    QVERIFY(!run.errText().contains(u"at-"_s));

    // Revoked: exit code 77 and the way out, the message untouched.
    admin(u"revoke"_s, cliUser);
    run = test::runCli(QStringList{u"check"_s, u"Token"_s} + at);
    QCOMPARE(run.exitCode, 77);
    QVERIFY2(run.errText().contains(u"Sign in to the account again"_s), run.err.constData());
    QCOMPARE(box.count(), 1);

    // Signing in again in the browser: the test follows the printed address.
    QProcess process;
    process.setProgram(test::cliPath());
    process.setArguments(QStringList{u"accounts"_s, u"authorize"_s, u"Token"_s, u"--browser"_s,
                                     u"--wait"_s, u"30"_s} +
                         at);
    process.start();
    QVERIFY(process.waitForStarted());
    QByteArray printed;
    const QRegularExpression address(u"(http://127\\.0\\.0\\.1:\\d+/authorize\\?\\S+)"_s);
    QTRY_VERIFY_WITH_TIMEOUT((printed += process.readAllStandardOutput(),
                              address.match(QString::fromUtf8(printed)).hasMatch()),
                             20000);
    finished(
        network.get(QNetworkRequest(QUrl(address.match(QString::fromUtf8(printed)).captured(1)))));
    QTRY_COMPARE_WITH_TIMEOUT(process.state(), QProcess::NotRunning, 20000);
    printed += process.readAllStandardOutput();
    QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
    QVERIFY2(printed.contains("signed in: Token"), printed.constData());
    run = test::runCli(QStringList{u"check"_s, u"Token"_s} + at);
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QCOMPARE(box.count(), 1);
}

QTEST_GUILESS_MAIN(TestOAuthDovecot)
#include "tst_oauth_dovecot.moc"
