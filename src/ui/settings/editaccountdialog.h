#pragma once

#include "core/settings/accountstore.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace corvane {

class SignInField;
class TrustedServerField;

class Prompts;

// The Edit Account dialog: it shows the account that was current when it opened, and stays
// on that account (by identity, not position) while other rows are walked, added or deleted.
// Typed changes are committed to that account by "Update Account", or when the dialog is shown
// again on another account; closing it by its title bar or Escape drops them after asking.
// Changes that would leave the account unusable are refused next to their field.
class EditAccountDialog final : public QDialog {
    Q_OBJECT
public:
    EditAccountDialog(Prompts &prompts, QWidget *parent = nullptr);

    void setAccountStore(AccountStore *store);

    // Shows the dialog on the store's current row.
    void showCurrent();
    // Whether the fields hold changes not yet committed.
    bool hasPendingChanges() const;

    QLabel *introLabel;       // the text at the top
    QLineEdit *nameEdit;      // "Account Name"
    QLineEdit *serverEdit;    // "POP3 Server"
    QLineEdit *portEdit;      // "Port Number"
    QComboBox *securityBox;   // "Security": none, STLS or TLS
    QLineEdit *userEdit;      // "Username"
    QLineEdit *passwordEdit;  // "Password", its characters hidden
    QLineEdit *emailEdit;     // "E-Mail Address"
    SignInField *signInField; // "Sign &in with": the password, or OAuth at a provider
    TrustedServerField *trustedServer;
    QPushButton *updateButton; // "Update Account"
    // What is wrong with a refused field, shown beneath it.
    QLabel *nameError;
    QLabel *serverError;
    QLabel *portError;
    QLabel *userError;

Q_SIGNALS:
    // "Update Account" committed the row; the account menus are rebuilt on this.
    void updated();

public Q_SLOTS:
    void updateAccount();
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    Account fields() const;
    void load();
    // Commits the typed changes to the account the fields show, wherever it and the current
    // row are now. False, with nothing stored, when the changes are not usable (shown beside
    // their fields when showRefusal).
    bool commitPending(bool showRefusal);
    bool showProblems(const Account &changed, bool show);
    // Where the shown account is now; nothing when it was deleted.
    std::optional<int> shownTag() const;
    void currentRowMoved();

    Prompts &m_prompts;
    AccountStore *m_store = nullptr;
    std::optional<qint64> m_shownId;
    Account m_loaded;
    QString m_shownSecurity; // the security name shown for m_loaded
    bool m_committing = false;
    bool m_placed = false;
};

} // namespace corvane
