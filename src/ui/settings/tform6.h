#pragma once

#include "core/settings/accountstore.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace corvane {

class Prompts;

// The Edit Account dialog: its fields are bound to the account store's current row. Typed
// changes are committed by "Update Account", or, when the dialog was closed without it, as soon
// as the current row moves to another account.
class TForm6 final : public QDialog {
    Q_OBJECT
public:
    TForm6(Prompts &prompts, QWidget *parent = nullptr);

    void setAccountStore(AccountStore *store);

    // Shows the dialog on the store's current row.
    void showCurrent();
    // Whether the fields hold changes not yet committed.
    bool hasPendingChanges() const;

    QLabel *Label1;       // the text at the top
    QLineEdit *DBEdit1;   // "Account Name"
    QLineEdit *DBEdit2;   // "POP3 Server"
    QLineEdit *DBEdit3;   // "Port Number"
    QLineEdit *DBEdit4;   // "Username"
    QLineEdit *DBEdit5;   // "Password", shown in clear
    QLineEdit *DBEdit6;   // "E-Mail Address"
    QPushButton *Button1; // "Update Account"

Q_SIGNALS:
    // "Update Account" committed the row; the account menus are rebuilt on this.
    void updated();

public Q_SLOTS:
    void Button1Click();

protected:
    void showEvent(QShowEvent *event) override;

private:
    Account fields() const;
    void load();
    // Commits the typed changes to the row the fields show, wherever the current row is now.
    void commitPending();
    void currentRowMoved();

    Prompts &m_prompts;
    AccountStore *m_store = nullptr;
    int m_shownRow = -1;
    Account m_loaded;
    bool m_committing = false;
    bool m_placed = false;
};

} // namespace corvane
