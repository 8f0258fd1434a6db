// The window's part of OAuth accounts, on real widgets against the test authorization server:
// the account dialogs' "Sign in with" field (method, "Sign in…", the stored grant, a declined
// sign-in) and the offer to sign in again after a revoked grant. The browser is the test's own
// HTTP client, which follows the provider's redirect back to 127.0.0.1 as a browser would.

#include "core/auth/oauthtokens.h"
#include "core/errors.h"
#include "requirements.h"
#include "testservers.h"
#include "ui/settings/signinfield.h"
#include "ui/shell/prompts.h"
#include "ui/shell/signinagain.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace corvane;
using corvane::test::TestServers;

namespace {

// Answers every question from a queue (No when empty) and keeps the texts.
class AnsweringPrompts final : public Prompts {
public:
    QMessageBox::StandardButton show(QWidget *, Icon, const QString &, const QString &text,
                                     QMessageBox::StandardButtons buttons) override {
        texts << text;
        if (!answers.isEmpty())
            return answers.takeFirst();
        return buttons.testFlag(QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::No;
    }
    QStringList texts;
    QList<QMessageBox::StandardButton> answers;
};

} // namespace

class TestOAuthWindow final : public QObject {
    Q_OBJECT

private:
    std::optional<TestServers> servers;
    QTemporaryDir folder;
    QNetworkAccessManager network;
    QList<QUrl> opened;
    const QString user = u"e2e-oauth-gui"_s;

    std::function<void(const QUrl &)> browser() {
        return [this](const QUrl &url) {
            opened << url;
            QNetworkReply *reply = network.get(QNetworkRequest(url));
            connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
        };
    }
    void admin(const QString &action) {
        QNetworkRequest request(
            QUrl(servers->value(u"CORVANE_OAUTH_URL"_s) + u"/admin/"_s + action));
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          u"application/x-www-form-urlencoded"_s);
        QNetworkReply *reply = network.post(request, (u"user="_s + user).toUtf8());
        QSignalSpy done(reply, &QNetworkReply::finished);
        QVERIFY(done.wait(10000));
        reply->deleteLater();
    }

private Q_SLOTS:
    void initTestCase();
    void signInField();
    void declinedSignIn();
    void signInAgainAfterRevocation();
};

void TestOAuthWindow::initTestCase() {
    qputenv("CORVANE_NO_KEYCHAIN", "1");
    servers.emplace();
    if (!servers->has({"CORVANE_OAUTH_URL", "CORVANE_OAUTH_CLIENT_ID", "CORVANE_OAUTH_POP3_PORT"}))
        CORVANE_REQUIRE_OR_SKIP(qPrintable(servers->why()));
    QFile settings(folder.filePath(u"Settings.ini"_s));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write(u"[OAuth test]\nName=Test provider\nClientId=%1\nAuthorizeUrl=%2/authorize\n"
                   u"TokenUrl=%2/token\nScope=mail\nPop3Server=127.0.0.1\nPop3Port=%3\n"
                   u"Pop3Security=none\n"_s
                       .arg(servers->value(u"CORVANE_OAUTH_CLIENT_ID"_s),
                            servers->value(u"CORVANE_OAUTH_URL"_s),
                            servers->value(u"CORVANE_OAUTH_POP3_PORT"_s))
                       .toUtf8());
}

void TestOAuthWindow::signInField() {
    SignInField field;
    field.setDataFolder(folder.path());
    field.setBrowser(browser());
    QString typedUser;
    field.setAccountFields([&] { return std::pair(typedUser, QString()); });
    field.show();
    auto *box = field.findChild<QComboBox *>(u"signInMethodBox"_s);
    auto *button = field.findChild<QPushButton *>(u"signInButton"_s);
    auto *status = field.findChild<QLabel *>(u"signInStatus"_s);
    QVERIFY(box && button && status);
    QCOMPARE(field.authMethod(), u"password"_s);
    QVERIFY(!button->isEnabled());

    // Choosing the provider says what it needs and hands its servers to the dialog.
    QSignalSpy changed(&field, &SignInField::methodChanged);
    const int test = box->findData(u"oauth:test"_s);
    QVERIFY(test > 0);
    QVERIFY(box->findData(u"oauth:google"_s) > 0);
    box->setCurrentIndex(test);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.first().at(0).toBool(), true);
    QCOMPARE(changed.first().at(1).value<OAuthProvider>().pop3Server, u"127.0.0.1"_s);
    QVERIFY(button->isEnabled());
    QCOMPARE(status->text(), u"Type the user name, then sign in."_s);
    typedUser = user;
    field.refreshStatus();
    QCOMPARE(status->text(), u"Not signed in yet."_s);

    // "Sign in…": the browser goes to the provider and comes back; the grant is stored.
    QVERIFY(field.signIn());
    QCOMPARE(status->text(), u"Signed in."_s);
    QCOMPARE(opened.size(), 1);
    QVERIFY(OAuthTokens(folder.path()).grant(u"test"_s, user).has_value());
    QCOMPARE(field.authMethod(), u"oauth:test"_s);

    // Back to the password: nothing to sign in.
    box->setCurrentIndex(0);
    QVERIFY(!button->isEnabled());
    QCOMPARE(status->text(), QString());
    field.setAuthMethod(u"oauth:test"_s);
    QCOMPARE(status->text(), u"Signed in."_s);
}

void TestOAuthWindow::declinedSignIn() {
    SignInField field;
    field.setDataFolder(folder.path());
    field.setBrowser(browser());
    field.setAccountFields([] { return std::pair(u"deny-gui"_s, QString()); });
    field.setAuthMethod(u"oauth:test"_s);
    QVERIFY(!field.signIn());
    auto *status = field.findChild<QLabel *>(u"signInStatus"_s);
    QVERIFY2(status->text().contains(u"access_denied: The user said no."_s),
             qPrintable(status->text()));
    QVERIFY(!OAuthTokens(folder.path()).grant(u"test"_s, u"deny-gui"_s).has_value());
}

void TestOAuthWindow::signInAgainAfterRevocation() {
    Account account;
    account.AccountName = u"Token"_s;
    account.Username = user;
    account.AuthMethod = u"oauth:test"_s;
    OAuthTokens tokens(folder.path());
    if (!tokens.grant(u"test"_s, user)) {
        SignInField field;
        field.setDataFolder(folder.path());
        field.setBrowser(browser());
        field.setAccountFields([&] { return std::pair(user, QString()); });
        field.setAuthMethod(u"oauth:test"_s);
        QVERIFY(field.signIn());
    }
    const QString before = tokens.grant(u"test"_s, user)->refreshToken;
    admin(u"revoke"_s);
    QString why;
    try {
        tokens.accessToken(u"test"_s, user, true);
        QFAIL("a revoked grant gave a token");
    } catch (const SignInRequiredError &e) {
        why = e.message();
    }

    // Declined: nothing happens.
    AnsweringPrompts prompts;
    QWidget window;
    QVERIFY(!offerSignInAgain(&window, prompts, folder.path(), account, why, browser()));
    QCOMPARE(prompts.texts.size(), 1);
    QVERIFY2(prompts.texts.first().contains(u"Sign in to the account \"Token\" again now?"_s),
             qPrintable(prompts.texts.first()));
    QCOMPARE(tokens.grant(u"test"_s, user)->refreshToken, before);

    // Accepted: a new grant that works.
    prompts.texts.clear();
    prompts.answers = {QMessageBox::Yes};
    QVERIFY(offerSignInAgain(&window, prompts, folder.path(), account, why, browser()));
    QCOMPARE(prompts.texts.size(), 2);
    QVERIFY2(prompts.texts.last().contains(u"signed in again"_s), qPrintable(prompts.texts.last()));
    QVERIFY(tokens.grant(u"test"_s, user)->refreshToken != before);
    QVERIFY(!tokens.accessToken(u"test"_s, user, true).isEmpty());

    // Cancelled while waiting for the browser (which never comes back).
    prompts.texts.clear();
    prompts.answers = {QMessageBox::Yes};
    QTimer::singleShot(200, &window, [&] {
        auto *waiting = window.findChild<QProgressDialog *>(u"signInProgress"_s);
        QVERIFY(waiting);
        auto *cancel = waiting->findChild<QPushButton *>();
        QVERIFY(cancel);
        QTest::mouseClick(cancel, Qt::LeftButton);
    });
    QVERIFY(!offerSignInAgain(&window, prompts, folder.path(), account, why, [](const QUrl &) {}));
    QVERIFY2(prompts.texts.last().contains(u"The sign-in was cancelled."_s),
             qPrintable(prompts.texts.join(u'\n')));
}

QTEST_MAIN(TestOAuthWindow)
#include "tst_oauth_window.moc"
