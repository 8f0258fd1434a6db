#include "ui/settings/signinfield.h"

#include "core/auth/oauthsignin.h"
#include "core/auth/oauthtokens.h"
#include "core/errors.h"
#include "core/protocol/connectionsecurity.h"
#include "core/settings/settings.h"
#include "ui/settings/securitybox.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvane {

SignInField::SignInField(QWidget *parent) : QWidget(parent) {
    signInMethodBox = new QComboBox(this);
    signInMethodBox->setObjectName(u"signInMethodBox"_s);
    signInMethodBox->setToolTip(u"How the account logs in: with its password, or by signing in "
                                u"at the provider's own page (OAuth), for providers that no "
                                u"longer take a password from mail programs."_s);
    signInButton = new QPushButton(u"Sign in…"_s, this);
    signInButton->setObjectName(u"signInButton"_s);
    signInStatus = new QLabel(this);
    signInStatus->setObjectName(u"signInStatus"_s);
    signInStatus->setWordWrap(true);
    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(signInMethodBox, 1);
    row->addWidget(signInButton);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(row);
    layout->addWidget(signInStatus);
    m_browser = [](const QUrl &url) { QDesktopServices::openUrl(url); };
    setDataFolder(QString());
    connect(signInMethodBox, &QComboBox::currentIndexChanged, this, &SignInField::methodPicked);
    connect(signInButton, &QPushButton::clicked, this, [this] { signIn(); });
}

SignInField::~SignInField() {
    cancelSignIn();
}

void SignInField::setDataFolder(const QString &folder) {
    const QString method = signInMethodBox->count() > 0 ? authMethod() : QString();
    m_folder = folder;
    m_providers.clear();
    try {
        m_providers = folder.isEmpty()
                          ? builtInOAuthProviders()
                          : oauthProviders(QDir(folder).filePath(SettingsFile::FileName));
    } catch (const Error &e) {
        m_providers = builtInOAuthProviders();
        signInStatus->setText(e.message());
    }
    const QSignalBlocker block(signInMethodBox);
    signInMethodBox->clear();
    signInMethodBox->addItem(u"Password"_s, passwordAuthMethod());
    for (const OAuthProvider &p : std::as_const(m_providers))
        signInMethodBox->addItem(u"%1 (sign in at its page)"_s.arg(p.name), oauthAuthMethod(p.id));
    setAuthMethod(method);
}

QString SignInField::authMethod() const {
    return signInMethodBox->currentData().toString();
}

bool SignInField::usesOAuth() const {
    return signInMethodBox->currentIndex() > 0;
}

void SignInField::setAuthMethod(const QString &method) {
    std::optional<QString> provider;
    try {
        provider = oauthProviderOfMethod(method);
    } catch (const DataError &) {
        // An unknown method is shown as the password; saving the dialog then corrects it.
    }
    int index = 0;
    if (provider) {
        index = signInMethodBox->findData(oauthAuthMethod(*provider));
        if (index < 0) {
            // A provider that Settings.ini no longer describes stays visible as it is.
            signInMethodBox->addItem(*provider, oauthAuthMethod(*provider));
            index = signInMethodBox->count() - 1;
        }
    }
    const QSignalBlocker block(signInMethodBox);
    signInMethodBox->setCurrentIndex(index);
    signInButton->setEnabled(usesOAuth());
    refreshStatus();
}

void SignInField::methodPicked() {
    signInButton->setEnabled(usesOAuth());
    refreshStatus();
    OAuthProvider provider;
    if (usesOAuth())
        if (const auto id = oauthProviderOfMethod(authMethod()))
            if (const auto found = findOAuthProvider(m_providers, *id))
                provider = *found;
    Q_EMIT methodChanged(usesOAuth(), provider);
}

void SignInField::refreshStatus() {
    if (!usesOAuth()) {
        signInStatus->clear();
        return;
    }
    const QString user = m_fields ? m_fields().first.trimmed() : QString();
    if (user.isEmpty()) {
        signInStatus->setText(u"Type the user name, then sign in."_s);
        return;
    }
    try {
        const auto id = oauthProviderOfMethod(authMethod());
        const bool signedIn =
            !m_folder.isEmpty() && OAuthTokens(m_folder).grant(*id, user).has_value();
        signInStatus->setText(signedIn ? u"Signed in."_s : u"Not signed in yet."_s);
    } catch (const Error &e) {
        signInStatus->setText(e.message());
    }
}

bool SignInField::signIn() {
    if (m_running || !usesOAuth())
        return false;
    const auto [user, address] = m_fields ? m_fields() : std::pair<QString, QString>();
    if (user.trimmed().isEmpty()) {
        signInStatus->setText(u"Type the user name first: the sign-in is kept for it."_s);
        return false;
    }
    if (m_folder.isEmpty()) {
        signInStatus->setText(u"There is no data folder to keep the sign-in in."_s);
        return false;
    }
    try {
        OAuthTokens tokens(m_folder);
        const QString id = *oauthProviderOfMethod(authMethod());
        const OAuthProvider provider = tokens.provider(id);
        BrowserSignIn browserSignIn(provider);
        browserSignIn.setLoginHint(address.trimmed().isEmpty() ? user.trimmed()
                                                               : address.trimmed());
        m_running = &browserSignIn;
        const auto done = qScopeGuard([this] { m_running = nullptr; });
        signInButton->setEnabled(false);
        const auto enable = qScopeGuard([this] { signInButton->setEnabled(usesOAuth()); });
        signInStatus->setText(u"Waiting for the sign-in in your browser…"_s);
        const OAuthGrant grant = browserSignIn.run(m_browser);
        tokens.storeGrant(id, user.trimmed(), grant);
        signInStatus->setText(u"Signed in."_s);
        return true;
    } catch (const Error &e) {
        signInStatus->setText(u"Not signed in: "_s + e.message());
        return false;
    }
}

void connectAccountFields(SignInField *field, QLineEdit *server, QLineEdit *port,
                          QComboBox *security, QLineEdit *user, QLineEdit *email,
                          QLineEdit *password) {
    field->setAccountFields([user, email] { return std::pair(user->text(), email->text()); });
    QObject::connect(user, &QLineEdit::editingFinished, field, &SignInField::refreshStatus);
    QObject::connect(
        field, &SignInField::methodChanged, field, [=](bool oauth, const OAuthProvider &provider) {
            password->setEnabled(!oauth);
            if (!oauth || provider.pop3Server.isEmpty() || !server->text().trimmed().isEmpty())
                return;
            server->setText(provider.pop3Server);
            port->setText(QString::number(provider.pop3Port));
            showSecurity(security, securityName(provider.pop3Security), port->text());
        });
}

void SignInField::cancelSignIn() {
    if (m_running)
        m_running->cancel();
}

} // namespace corvane
