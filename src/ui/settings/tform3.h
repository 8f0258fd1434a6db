#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace corvane {

struct Account;
class TrustedServerField;
class AccountStore;
class Prompts;

// The Add Account dialog: a new POP3 account for the account store, under a name no other
// account has.
class TForm3 final : public QDialog {
    Q_OBJECT
public:
    TForm3(Prompts &prompts, QWidget *parent = nullptr);

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

    QLabel *Label1;         // the text at the top
    QLineEdit *Edit1;       // "Account Name:"
    QLineEdit *POPServer;   // "&Incoming Mail Server (POP)"
    QLineEdit *POPPort;     // "&Port"
    QComboBox *POPSecurity; // "&Security": none, STLS or TLS
    QLineEdit *Username;    // "&Account\Username"
    QLineEdit *Password;    // "&Password", its characters hidden
    QLineEdit *Email;       // "&Your email"
    TrustedServerField *trustedServer;
    QPushButton *Button1; // "Add Account"
    QPushButton *Button2; // "Cancel"
    // What is wrong with a refused field, shown beneath it.
    QLabel *NameError;
    QLabel *ServerError;
    QLabel *PortError;
    QLabel *UsernameError;

Q_SIGNALS:
    // The dialog closed, by any path; the account menus are rebuilt on this.
    void closed();

public Q_SLOTS:
    void Button1Click();
    void Button2Click();

protected:
    void done(int result) override;
    void showEvent(QShowEvent *event) override;

private:
    void FormClose();
    void resetFields();
    // Shows what keeps the account from being usable; true when anything does.
    bool showProblems(const Account &account);

    Prompts &m_prompts;
    AccountStore *m_store = nullptr;
};

} // namespace corvane
