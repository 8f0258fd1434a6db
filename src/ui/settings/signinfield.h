#pragma once

#include "core/auth/oauthprovider.h"

#include <QString>
#include <QUrl>
#include <QWidget>

#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace corvane {

class BrowserSignIn;

// The account dialogs' "Sign in with" field: the password, or OAuth 2.0 at one of the
// providers (the presets and those Settings.ini describes), with a "Sign in…" button that
// opens the provider's page in the browser and waits for it to come back to this computer.
// The grant is stored in the data folder's secret store for the account's user name; the line
// under the button says whether the account is signed in.
class SignInField final : public QWidget {
    Q_OBJECT
public:
    explicit SignInField(QWidget *parent = nullptr);
    ~SignInField() override;

    // The data folder whose Settings.ini names the providers and whose secret store keeps the
    // grants. Reads the providers again.
    void setDataFolder(const QString &folder);
    // The user name and e-mail address of the account as typed, asked at the sign-in.
    using AccountFields = std::function<std::pair<QString, QString>()>;
    void setAccountFields(AccountFields fields) { m_fields = std::move(fields); }
    // How the provider's page is opened; the desktop's browser unless a test says otherwise.
    void setBrowser(std::function<void(const QUrl &)> browser) { m_browser = std::move(browser); }

    // The account's "Auth Method": "password" or "oauth:ID".
    QString authMethod() const;
    void setAuthMethod(const QString &method);
    bool usesOAuth() const;

    // Signs the account in (a click on the button): true when the grant is stored. A failure
    // or a cancelled sign-in is shown on the status line.
    bool signIn();
    // Makes a sign-in that waits for the browser give up.
    void cancelSignIn();
    // Updates the status line from the secret store (after the user name changed).
    void refreshStatus();

    QComboBox *signInMethodBox; // "Password", then the providers by name
    QPushButton *signInButton;  // "Sign in…"
    QLabel *signInStatus;

Q_SIGNALS:
    // The method changed: the dialog shows or hides the password and may fill the provider's
    // server, port and security into fields still empty.
    void methodChanged(bool oauth, const corvane::OAuthProvider &provider);

private:
    void methodPicked();

    QString m_folder;
    QList<OAuthProvider> m_providers;
    AccountFields m_fields;
    std::function<void(const QUrl &)> m_browser;
    BrowserSignIn *m_running = nullptr;
};

// Ties the field to an account dialog's other fields: the sign-in is for the user name (the
// address is the provider's hint), the password field is disabled while OAuth is chosen, and a
// chosen provider fills the server, port and security in while the server field is empty.
void connectAccountFields(SignInField *field, QLineEdit *server, QLineEdit *port,
                          QComboBox *security, QLineEdit *user, QLineEdit *email,
                          QLineEdit *password);

} // namespace corvane
