#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace corvane {

struct Account;
class AccountFinder;
struct FoundAccountSettings;
class SignInField;
class TrustedServerField;
class AccountStore;
class Prompts;

// The Add Account dialog: a new POP3 account for the account store, under a name no other
// account has.
class AddAccountDialog final : public QDialog {
    Q_OBJECT
public:
    AddAccountDialog(Prompts &prompts, QWidget *parent = nullptr);

    // The store the dialog adds to; null when none could be opened.
    void setAccountStore(AccountStore *store) { m_store = store; }

    // The values the name and port fields hold whenever the dialog opens, and the samples the
    // other fields show as placeholder text while they are empty.
    static const QString StartAccountName; // "New Account"
    static const QString StartServer;
    static const QString StartPort; // "110"
    static const QString StartUsername;
    static const QString StartPassword;
    static const QString StartEmail;

    QLabel *introLabel; // the text at the top
    // The e-mail address and "Find settings": the servers found from the address, taken into
    // the fields below once the user says so.
    AccountFinder *accountFinder;
    QLineEdit *nameEdit;      // "Account Name:"
    QLineEdit *serverEdit;    // "&Incoming Mail Server (POP)"
    QLineEdit *portEdit;      // "&Port"
    QComboBox *securityBox;   // "&Security": none, STLS or TLS
    QLineEdit *userEdit;      // "&Account\Username"
    QLineEdit *passwordEdit;  // "&Password", its characters hidden
    QLineEdit *emailEdit;     // "&Your email"
    SignInField *signInField; // "Sign &in with": the password, or OAuth at a provider
    TrustedServerField *trustedServer;
    QPushButton *addButton;    // "Add Account"
    QPushButton *cancelButton; // "Cancel"
    // What is wrong with a refused field, shown beneath it.
    QLabel *nameError;
    QLabel *serverError;
    QLabel *portError;
    QLabel *userError;

Q_SIGNALS:
    // The dialog closed, by any path; the account menus are rebuilt on this.
    void closed();

public Q_SLOTS:
    void addAccount();
    void cancelDialog();

protected:
    void done(int result) override;
    void showEvent(QShowEvent *event) override;

private:
    void announceClosed();
    void resetFields();
    // Fills the fields with settings the user took from the finder.
    void takeFoundSettings(const FoundAccountSettings &found, const QString &address);
    // Shows what keeps the account from being usable; true when anything does.
    bool showProblems(const Account &account);

    Prompts &m_prompts;
    AccountStore *m_store = nullptr;
};

} // namespace corvane
