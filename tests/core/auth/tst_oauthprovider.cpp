// The OAuth providers: the built-in presets, Settings.ini's [OAuth ID] sections laid over them
// or defining providers of their own, what makes a provider unusable, an account's sign-in
// method, and the grants kept in the secret store with the access token used while it is
// valid (no server is asked here: a request to one would fail the test).

#include "core/auth/oauthprovider.h"
#include "core/auth/oauthtokens.h"
#include "core/errors.h"
#include "core/settings/secretstore.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace corvane;

class TestOAuthProvider final : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString settingsPath() const { return dir.filePath(u"Settings.ini"_s); }
    void writeSettings(const QByteArray &text) {
        QFile file(settingsPath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }

private Q_SLOTS:
    void initTestCase() { qputenv("CORVANE_NO_KEYCHAIN", "1"); }
    void presets();
    void settingsOverlay();
    void problems_data();
    void problems();
    void authMethods_data();
    void authMethods();
    void grants();
};

void TestOAuthProvider::presets() {
    const QList<OAuthProvider> providers = oauthProviders(dir.filePath(u"missing.ini"_s));
    QCOMPARE(providers.size(), 2);
    for (const OAuthProvider &p : providers) {
        for (const QUrl &url : {p.authorizeUrl, p.tokenUrl, p.deviceUrl})
            QCOMPARE(url.scheme(), u"https"_s);
        QVERIFY(!p.scope.isEmpty());
        QVERIFY(!p.pop3Server.isEmpty());
        QCOMPARE(p.pop3Port, quint16(995));
        QCOMPARE(p.pop3Security, ConnectionSecurity::Tls);
    }
    QCOMPARE(oauthProviderForAddress(providers, u"Someone@GMail.com"_s)->id, u"google"_s);
    QCOMPARE(oauthProviderForAddress(providers, u"a@hotmail.com"_s)->id, u"microsoft"_s);
    QVERIFY(!oauthProviderForAddress(providers, u"a@example.org"_s));
    QVERIFY(!oauthProviderForAddress(providers, u"no address"_s));
}

void TestOAuthProvider::settingsOverlay() {
    writeSettings("[Options]\nLogging=1\n"
                  "[OAuth google]\nClientId=org-client\nClientSecret=org-secret\n"
                  "[OAuth corp]\nName=Corp sign-in\nClientId=corp-mail\n"
                  "AuthorizeUrl=https://login.corp.example/authorize\n"
                  "TokenUrl=https://login.corp.example/token\nScope=mail offline\n"
                  "Pop3Server=pop.corp.example\nPop3Port=1995\nPop3Security=STLS\n"
                  "Domains=corp.example Corp.Example.NET\n"
                  "[OAuth bad id]\nClientId=x\n");
    const QList<OAuthProvider> providers = oauthProviders(settingsPath());
    QCOMPARE(providers.size(), 3);
    const OAuthProvider google = *findOAuthProvider(providers, u"Google"_s);
    QCOMPARE(google.clientId, u"org-client"_s);
    QCOMPARE(google.clientSecret, u"org-secret"_s);
    QCOMPARE(google.tokenUrl, builtInOAuthProviders().first().tokenUrl); // kept
    QCOMPARE(google.problem(), QString());
    const OAuthProvider corp = *findOAuthProvider(providers, u"corp"_s);
    QCOMPARE(corp.name, u"Corp sign-in"_s);
    QCOMPARE(corp.pop3Port, quint16(1995));
    QCOMPARE(corp.pop3Security, ConnectionSecurity::StartTls);
    QVERIFY(corp.deviceUrl.isEmpty());
    QCOMPARE(corp.problem(), QString());
    QCOMPARE(oauthProviderForAddress(providers, u"me@corp.example.net"_s)->id, u"corp"_s);
}

void TestOAuthProvider::problems_data() {
    QTest::addColumn<QString>("tokenUrl");
    QTest::addColumn<QString>("authorizeUrl");
    QTest::addColumn<QString>("clientId");
    QTest::addColumn<QString>("problem"); // a piece of it; empty: usable
    const QString token = u"https://id.example/token"_s;
    const QString authorize = u"https://id.example/authorize"_s;
    QTest::newRow("usable") << token << authorize << u"c"_s << QString();
    QTest::newRow("no client id") << token << authorize << QString() << u"No OAuth client id"_s;
    QTest::newRow("plain http elsewhere")
        << u"http://id.example/token"_s << authorize << u"c"_s << u"not an https address"_s;
    QTest::newRow("plain http to this computer")
        << u"http://127.0.0.1:8080/token"_s << u"http://[::1]:8080/authorize"_s << u"c"_s
        << QString();
    QTest::newRow("authorization over http")
        << token << u"http://id.example/authorize"_s << u"c"_s << u"not an https address"_s;
    QTest::newRow("no way to sign in")
        << token << QString() << u"c"_s << u"neither an authorization nor a device"_s;
}

void TestOAuthProvider::problems() {
    QFETCH(QString, tokenUrl);
    QFETCH(QString, authorizeUrl);
    QFETCH(QString, clientId);
    QFETCH(QString, problem);
    OAuthProvider p;
    p.id = u"x"_s;
    p.name = u"X"_s;
    p.tokenUrl = QUrl(tokenUrl);
    p.authorizeUrl = QUrl(authorizeUrl);
    p.clientId = clientId;
    if (problem.isEmpty())
        QCOMPARE(p.problem(), QString());
    else
        QVERIFY2(p.problem().contains(problem), qPrintable(p.problem()));
}

void TestOAuthProvider::authMethods_data() {
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("provider"); // empty: the password
    QTest::addColumn<bool>("valid");
    QTest::newRow("empty, as in older rows") << QString() << QString() << true;
    QTest::newRow("password") << u" Password "_s << QString() << true;
    QTest::newRow("oauth") << u"oauth:Google"_s << u"google"_s << true;
    QTest::newRow("oauth without provider") << u"oauth:"_s << QString() << false;
    QTest::newRow("something else") << u"kerberos"_s << QString() << false;
}

void TestOAuthProvider::authMethods() {
    QFETCH(QString, method);
    QFETCH(QString, provider);
    QFETCH(bool, valid);
    if (!valid) {
        QVERIFY_THROWS_EXCEPTION(DataError, oauthProviderOfMethod(method));
        return;
    }
    QCOMPARE(oauthProviderOfMethod(method).value_or(QString()), provider);
    if (!provider.isEmpty())
        QCOMPARE(oauthAuthMethod(provider), u"oauth:"_s + provider);
}

void TestOAuthProvider::grants() {
    OAuthProvider p;
    p.id = u"corp"_s;
    p.name = u"Corp"_s;
    p.clientId = u"c"_s;
    // Nothing listens there: any request fails the test's expectations.
    p.tokenUrl = QUrl(u"http://127.0.0.1:1/token"_s);
    p.authorizeUrl = QUrl(u"http://127.0.0.1:1/authorize"_s);
    QTemporaryDir folder;
    OAuthTokens tokens(SecretStore(folder.path()), {p});
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
    tokens.setClock([&] { return now; });

    // No grant: sign in first.
    try {
        tokens.accessToken(u"corp"_s, u"alice"_s, false);
        QFAIL("a token without a grant");
    } catch (const SignInRequiredError &e) {
        QVERIFY2(e.message().contains(u"has not been signed in"_s), qPrintable(e.message()));
    }

    // A grant survives the secret store as it was (to the second), per provider and user.
    const OAuthGrant grant{u"rt-1"_s, u"at-1"_s, now.addSecs(3600)};
    QCOMPARE(tokens.storeGrant(u"corp"_s, u"alice"_s, grant), SecretStore::Place::File);
    const std::optional<OAuthGrant> stored = tokens.grant(u"CORP"_s, u"alice"_s);
    QVERIFY(stored);
    QCOMPARE(stored->refreshToken, u"rt-1"_s);
    QCOMPARE(stored->accessToken, u"at-1"_s);
    QCOMPARE(stored->expiresAt, grant.expiresAt);
    QVERIFY(!tokens.grant(u"corp"_s, u"bob"_s));
    QVERIFY(!OAuthGrant::fromJson(u"not json"_s));
    QVERIFY(!OAuthGrant::fromJson(u"{}"_s));

    // Valid for an hour: used as it is, no request made.
    QCOMPARE(tokens.accessToken(u"corp"_s, u"alice"_s, false), u"at-1"_s);
    QCOMPARE(tokens.refreshCount(), 0);
    // Asked to renew, or about to expire: the token endpoint is asked (and here fails).
    QVERIFY_THROWS_EXCEPTION(NetworkError, tokens.accessToken(u"corp"_s, u"alice"_s, true));
    OAuthTokens later(SecretStore(folder.path()), {p});
    later.setClock([&] { return now.addSecs(3600 - OAuthTokens::RenewMarginSeconds + 1); });
    QVERIFY_THROWS_EXCEPTION(NetworkError, later.accessToken(u"corp"_s, u"alice"_s, false));
    // The failed refresh left the grant as it was.
    QCOMPARE(tokens.grant(u"corp"_s, u"alice"_s)->refreshToken, u"rt-1"_s);

    // An unknown or unusable provider says so.
    QVERIFY_THROWS_EXCEPTION(DataError, tokens.accessToken(u"other"_s, u"alice"_s, false));
}

QTEST_GUILESS_MAIN(TestOAuthProvider)
#include "tst_oauthprovider.moc"
