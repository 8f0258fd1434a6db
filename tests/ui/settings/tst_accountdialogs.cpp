// The account menus and the Add Account and Edit Account dialogs, round trip into
// accounts.dat.

#include "../uitestsupport.h"

#include "ui/settings/addaccountdialog.h"
#include "ui/settings/editaccountdialog.h"
#include "ui/settings/optionswindow.h"
#include "ui/settings/trustedserverfield.h"

#include "testmessage.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>

using namespace Qt::StringLiterals;
using namespace corvane;
using namespace corvane::test;

namespace {

Account named(const QString &name) {
    return {name,    u"pop."_s + name.toLower() + u".example"_s, u"110"_s, u"user"_s,
            u"pw"_s, name.toLower() + u"@example.com"_s};
}

QStringList names(AccountStore *store) {
    QStringList result;
    for (const Account &a : store->accounts())
        result << a.AccountName;
    return result;
}

QStringList fieldTexts(const QDialog *dialog, const QStringList &fields) {
    QStringList texts;
    for (const QString &name : fields)
        texts << dialog->findChild<QLineEdit *>(name)->text();
    return texts;
}

const QStringList kAddFields = {u"nameEdit"_s, u"serverEdit"_s,   u"portEdit"_s,
                                u"userEdit"_s, u"passwordEdit"_s, u"emailEdit"_s};
const QStringList kEditFields = {u"nameEdit"_s, u"serverEdit"_s,   u"portEdit"_s,
                                 u"userEdit"_s, u"passwordEdit"_s, u"emailEdit"_s};
// The sample server, user, password and address are placeholders, never text of the field.
const QStringList kStartValues = {u"New Account"_s, QString(), u"110"_s,
                                  QString(),        QString(), QString()};
const QStringList kPlaceholders = {QString(),     u"pop.example.com"_s, QString(),
                                   u"username"_s, u"password"_s,        u"you@example.com"_s};

QStringList placeholders(const QDialog *dialog, const QStringList &fields) {
    QStringList texts;
    for (const QString &name : fields)
        texts << dialog->findChild<QLineEdit *>(name)->placeholderText();
    return texts;
}

// The error lines shown beneath the fields, by field.
QStringList shownErrors(const QDialog *dialog, const QStringList &fields) {
    QStringList texts;
    for (const QString &name : fields) {
        const auto *line = dialog->findChild<QLabel *>(name + u"Error"_s);
        texts << (line && !line->isHidden() ? line->text() : QString());
    }
    return texts;
}

} // namespace

class TestAccountDialogs final : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ProgramRun> m_run;

    MainWindow *main() { return m_run->main(); }
    AddAccountDialog *addDialog() { return m_run->shell.addAccountDialog(); }
    EditAccountDialog *editDialog() { return m_run->shell.editAccountDialog(); }
    QList<QMenu *> accountMenus() {
        return {main()->checkMessagesMenu, main()->checkMailMenu, main()->editAccountMenu,
                main()->deleteAccountMenu};
    }
    void startWith(const QStringList &accounts) {
        m_run = std::make_unique<ProgramRun>(m_dir->path());
        m_run->start();
        for (const QString &name : accounts)
            m_run->store()->insert(named(name));
        main()->refreshAccounts();
    }
    void type(QDialog *dialog, const QStringList &fields, const QStringList &values) {
        for (int i = 0; i < fields.size(); ++i) {
            auto *edit = dialog->findChild<QLineEdit *>(fields[i]);
            edit->clear();
            QTest::keyClicks(edit, values[i]);
        }
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void cleanup() {
        if (m_run && main()->isVisible())
            QVERIFY(main()->close());
        m_run.reset();
    }

    void menusFollowTheTable() {
        startWith({u"Home"_s, u"Work"_s, u"Tom & Jerry"_s});
        for (QMenu *menu : accountMenus()) {
            QStringList items;
            for (const QAction *a : menu->actions())
                items << a->iconText() + u':' + a->data().toString();
            QCOMPARE(items, (QStringList{u"Home:0"_s, u"Work:1"_s, u"Tom & Jerry:2"_s}));
        }
        // The walk leaves the last account current.
        QCOMPARE(m_run->store()->currentRow(), 2);
        // A new start reads the same accounts back from accounts.dat.
        QVERIFY(main()->close());
        m_run = std::make_unique<ProgramRun>(m_dir->path());
        m_run->start();
        QCOMPARE(menuItems(main()->checkMailMenu).size(), 3);
        QCOMPARE(main()->checkMailMenu->actions().at(1)->iconText(), u"Work"_s);
    }

    void addAccount_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("another name") << u"Work"_s << true;
        QTest::newRow("same name in lower case") << u"home"_s << true;
        QTest::newRow("same name with a trailing blank") << u"Home "_s << true;
        QTest::newRow("same name") << u"Home"_s << false;
    }
    void addAccount() {
        QFETCH(QString, name);
        QFETCH(bool, accepted);
        startWith({u"Home"_s});
        main()->addAccountAction->trigger();
        QVERIFY(addDialog()->isVisible());
        QCOMPARE(fieldTexts(addDialog(), kAddFields), kStartValues);
        QCOMPARE(placeholders(addDialog(), kAddFields), kPlaceholders);
        QCOMPARE(addDialog()->passwordEdit->echoMode(), QLineEdit::Password);
        const QStringList typed = {name,        u"mail.work.example"_s, u"995"_s, u"jo"_s,
                                   u"s3cret"_s, u"jo@work.example"_s};
        type(addDialog(), kAddFields, typed);
        addDialog()->findChild<QPushButton *>(u"addButton"_s)->click();

        if (!accepted) {
            QCOMPARE(m_run->prompts.takeTexts(),
                     QStringList{u"That account name exists, please choose another"_s});
            QVERIFY(addDialog()->isVisible());
            QCOMPARE(fieldTexts(addDialog(), kAddFields), typed);
            QCOMPARE(names(m_run->store()), QStringList{u"Home"_s});
            return;
        }
        QVERIFY(m_run->prompts.shown.isEmpty());
        QVERIFY(!addDialog()->isVisible());
        QCOMPARE(m_run->store()->account(1),
                 (Account{name, typed[1], typed[2], typed[3], typed[4], typed[5], u"TLS"_s}));
        QCOMPARE(menuItems(main()->checkMailMenu).size(), 2);
        QCOMPARE(main()->deleteAccountMenu->actions().at(1)->data().toInt(), 1);
        // The dialog opens with its starting values again.
        QCOMPARE(fieldTexts(addDialog(), kAddFields), kStartValues);
    }

    // The address alone finds the servers (here a provider of the built-in presets, so no
    // server is asked); taking them fills the form, the user adds the password and the account.
    void addAccountFromFoundSettings() {
        startWith({});
        main()->addAccountAction->trigger();
        AddAccountDialog *dialog = addDialog();
        QVERIFY(dialog->isVisible());
        auto *address = dialog->findChild<QLineEdit *>(u"findAddressEdit"_s);
        QVERIFY(address && address->isVisible());
        QTest::keyClicks(address, u"jo@gmail.com"_s);
        dialog->findChild<QPushButton *>(u"findSettingsButton"_s)->click();
        auto *use = dialog->findChild<QPushButton *>(u"useFoundSettingsButton"_s);
        QVERIFY(QTest::qWaitFor([&] { return use->isVisible(); }, 10000));
        // Nothing is filled in before the user takes the settings.
        QCOMPARE(dialog->serverEdit->text(), QString());
        use->click();
        QCOMPARE(fieldTexts(dialog, kAddFields),
                 (QStringList{u"jo@gmail.com"_s, u"pop.gmail.com"_s, u"995"_s, u"jo@gmail.com"_s,
                              QString(), u"jo@gmail.com"_s}));
        QCOMPARE(dialog->securityBox->currentData().toString(), u"TLS"_s);
        QTest::keyClicks(dialog->passwordEdit, u"app-password"_s);
        dialog->addButton->click();
        QVERIFY(!dialog->isVisible());
        QCOMPARE(m_run->store()->account(0),
                 (Account{u"jo@gmail.com"_s, u"pop.gmail.com"_s, u"995"_s, u"jo@gmail.com"_s,
                          u"app-password"_s, u"jo@gmail.com"_s, u"TLS"_s}));
        // Opened again, the finder is empty.
        main()->addAccountAction->trigger();
        QVERIFY(address->text().isEmpty());
        QVERIFY(!use->isVisible());
        dialog->cancelButton->click();
    }

    // Input that could never be checked is refused beside its field, in both dialogs; nothing
    // reaches the table and the dialog stays open with what was typed.
    void unusableInputIsRefused_data() {
        QTest::addColumn<bool>("edit");
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QStringList>("errors");
        const QString ok;
        const QString port = u"Enter a port from 1 to 65535 (110, or 995 for TLS)."_s;
        for (const bool edit : {false, true}) {
            const char *dialog = edit ? "edit: " : "add: ";
            const auto row = [&](const char *name) -> QTestData & {
                return QTest::newRow((dialog + QByteArray(name)).constData()) << edit;
            };
            row("empty name") << QStringList{u"  "_s, u"pop.x.example"_s, u"110"_s, u"u"_s}
                              << QStringList{u"Give the account a name."_s, ok, ok, ok};
            row("empty server and user")
                << QStringList{u"Name"_s, QString(), u"110"_s, QString()}
                << QStringList{ok, u"Enter the POP3 server's host name."_s, ok,
                               u"Enter your user name on the server."_s};
            row("host with a blank")
                << QStringList{u"Name"_s, u"pop x.example"_s, u"110"_s, u"u"_s}
                << QStringList{ok, u"A host name has no blanks in it."_s, ok, ok};
            for (const QString &bad : {u"0"_s, u"65536"_s, u"pop"_s, QString(), u"-110"_s})
                row(("port " + bad.toUtf8()).constData())
                    << QStringList{u"Name"_s, u"pop.x.example"_s, bad, u"u"_s}
                    << QStringList{ok, ok, port, ok};
        }
        // Through Edit an account cannot take the name another account has.
        QTest::newRow("edit: another account's name")
            << true << QStringList{u"Home"_s, u"pop.x.example"_s, u"110"_s, u"u"_s}
            << QStringList{u"Another account already has this name."_s, ok, ok, ok};
    }
    void unusableInputIsRefused() {
        QFETCH(bool, edit);
        QFETCH(QStringList, typed);
        QFETCH(QStringList, errors);
        startWith({u"Home"_s, u"Work"_s});
        const QList<Account> before = m_run->store()->accounts();
        QDialog *dialog = nullptr;
        QStringList fields;
        if (edit) {
            main()->editAccount(1);
            dialog = editDialog();
            fields = kEditFields.mid(0, 4);
        } else {
            main()->addAccountAction->trigger();
            dialog = addDialog();
            fields = kAddFields.mid(0, 4);
        }
        QVERIFY(dialog->isVisible());
        type(dialog, fields, typed);
        dialog->findChild<QPushButton *>(dialog == addDialog() ? u"addButton"_s : u"updateButton"_s)
            ->click();
        QVERIFY(dialog->isVisible());
        QCOMPARE(shownErrors(dialog, fields), errors);
        QCOMPARE(fieldTexts(dialog, fields), typed);
        QCOMPARE(m_run->store()->accounts(), before);
        QVERIFY(m_run->prompts.shown.isEmpty());
        // Typing in a refused field takes its error line away.
        const int bad = int(errors.indexOf(QRegularExpression(u".+"_s)));
        QTest::keyClicks(dialog->findChild<QLineEdit *>(fields[bad]), u"1"_s);
        QCOMPARE(shownErrors(dialog, fields).at(bad), QString());
    }

    void closingTheAddDialogRefreshesAndResets_data() {
        QTest::addColumn<bool>("byTitleBar");
        QTest::newRow("Cancel") << false;
        QTest::newRow("title bar") << true;
    }
    void closingTheAddDialogRefreshesAndResets() {
        QFETCH(bool, byTitleBar);
        startWith({});
        main()->addAccountAction->trigger();
        type(addDialog(), kAddFields, {u"A"_s, u"B"_s, u"C"_s, u"D"_s, u"E"_s, u"F"_s});
        // An account that reached the table some other way shows once the dialog closes.
        m_run->store()->insert(named(u"Other"_s));
        if (byTitleBar)
            addDialog()->close();
        else
            addDialog()->findChild<QPushButton *>(u"cancelButton"_s)->click();
        QVERIFY(!addDialog()->isVisible());
        QCOMPARE(fieldTexts(addDialog(), kAddFields), kStartValues);
        QCOMPARE(names(m_run->store()), QStringList{u"Other"_s});
        QCOMPARE(menuItems(main()->checkMailMenu), QStringList{u"Other:0"_s});
    }

    void editThroughTheMenu() {
        startWith({u"Home"_s, u"Work"_s});
        QAction *item = menuItem(main()->editAccountMenu, u"Work"_s);
        QVERIFY(item);
        item->trigger();
        QTRY_VERIFY(editDialog()->isVisible());
        const Account work = named(u"Work"_s);
        QCOMPARE(fieldTexts(editDialog(), kEditFields),
                 (QStringList{work.AccountName, work.Pop3Server, work.PortNumber, work.Username,
                              work.Password, work.EmailAddress}));
        type(editDialog(), {u"nameEdit"_s, u"serverEdit"_s}, {u"Office"_s, u"pop.new.example"_s});
        editDialog()->findChild<QPushButton *>(u"updateButton"_s)->click();
        QVERIFY(!editDialog()->isVisible());
        QCOMPARE(m_run->store()->account(1).Pop3Server, u"pop.new.example"_s);
        QCOMPARE(names(m_run->store()), (QStringList{u"Home"_s, u"Office"_s}));
        QCOMPARE(menuItems(main()->checkMessagesMenu), (QStringList{u"Home:0"_s, u"Office:1"_s}));
        QVERIFY(m_run->prompts.shown.isEmpty());
    }

    // Choosing a provider that signs in with OAuth fills its server in, sets the password
    // aside and stores the method; the edit dialog shows it and keeps it, and going back to
    // the password is stored too.
    void oauthSignInMethod() {
        startWith({u"Home"_s});
        main()->addAccountAction->trigger();
        QVERIFY(addDialog()->isVisible());
        auto *method = addDialog()->findChild<QComboBox *>(u"signInMethodBox"_s);
        QVERIFY(method);
        QCOMPARE(method->currentData().toString(), u"password"_s);
        type(addDialog(), {u"nameEdit"_s, u"userEdit"_s, u"emailEdit"_s},
             {u"Mail"_s, u"me@gmail.com"_s, u"me@gmail.com"_s});
        addDialog()->serverEdit->clear();
        method->setCurrentIndex(method->findData(u"oauth:google"_s));
        QCOMPARE(addDialog()->serverEdit->text(), u"pop.gmail.com"_s);
        QCOMPARE(addDialog()->portEdit->text(), u"995"_s);
        QVERIFY(!addDialog()->passwordEdit->isEnabled());
        QVERIFY(addDialog()->findChild<QPushButton *>(u"signInButton"_s)->isEnabled());
        QCOMPARE(addDialog()->findChild<QLabel *>(u"signInStatus"_s)->text(),
                 u"Not signed in yet."_s);
        addDialog()->addButton->click();
        QVERIFY(!addDialog()->isVisible());
        QCOMPARE(m_run->store()->account(1).AuthMethod, u"oauth:google"_s);
        QCOMPARE(m_run->store()->account(1).Security, u"TLS"_s);
        QCOMPARE(m_run->store()->account(1).Password, QString());

        QAction *item = menuItem(main()->editAccountMenu, u"Mail"_s);
        QVERIFY(item);
        item->trigger();
        QTRY_VERIFY(editDialog()->isVisible());
        auto *shown = editDialog()->findChild<QComboBox *>(u"signInMethodBox"_s);
        QCOMPARE(shown->currentData().toString(), u"oauth:google"_s);
        QVERIFY(!editDialog()->passwordEdit->isEnabled());
        shown->setCurrentIndex(shown->findData(u"password"_s));
        QVERIFY(editDialog()->passwordEdit->isEnabled());
        editDialog()->findChild<QPushButton *>(u"updateButton"_s)->click();
        QVERIFY(!editDialog()->isVisible());
        QCOMPARE(m_run->store()->account(1).AuthMethod, u"password"_s);
        QVERIFY(m_run->prompts.shown.isEmpty());
    }

    // The security choice: it follows a typed port until the user picks one, picking one moves
    // the standard port along, and the choice is stored and shown in the Accounts tab.
    void securityChoice() {
        startWith({u"Home"_s});
        // An account of an older version, on port 995 without a stored security.
        Account old = named(u"Old"_s);
        old.PortNumber = u"995"_s;
        m_run->store()->insert(old);
        main()->refreshAccounts();

        main()->addAccountAction->trigger();
        auto *box = addDialog()->findChild<QComboBox *>(u"securityBox"_s);
        QVERIFY(box);
        QCOMPARE(box->currentData().toString(), u"none"_s);
        type(addDialog(), {u"nameEdit"_s, u"serverEdit"_s, u"userEdit"_s},
             {u"Secure"_s, u"pop.secure.example"_s, u"jo"_s});
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Down); // STLS: the port stays 110
        QCOMPARE(box->currentData().toString(), u"STLS"_s);
        QCOMPARE(addDialog()->portEdit->text(), u"110"_s);
        QTest::keyClick(box, Qt::Key_Down); // TLS: 110 becomes 995
        QCOMPARE(addDialog()->portEdit->text(), u"995"_s);
        QTest::keyClick(box, Qt::Key_Up); // back to STLS: 995 becomes 110
        QCOMPARE(addDialog()->portEdit->text(), u"110"_s);
        addDialog()->addButton->click();
        QVERIFY(!addDialog()->isVisible());
        QCOMPARE(m_run->store()->account(2).Security, u"STLS"_s);

        // The older account shows its port's default and holds no change of its own.
        main()->editAccount(1);
        QTRY_VERIFY(editDialog()->isVisible());
        auto *edit = editDialog()->findChild<QComboBox *>(u"securityBox"_s);
        QVERIFY(edit);
        QCOMPARE(edit->currentData().toString(), u"TLS"_s);
        QVERIFY(!editDialog()->hasPendingChanges());
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Up); // STLS: 995 becomes 110
        QCOMPARE(editDialog()->portEdit->text(), u"110"_s);
        QVERIFY(editDialog()->hasPendingChanges());
        editDialog()->updateButton->click();
        QCOMPARE(m_run->store()->account(1).Security, u"STLS"_s);
        QCOMPARE(m_run->store()->account(1).PortNumber, u"110"_s);

        // The Accounts tab shows what a check would use.
        OptionsWindow *setup = m_run->shell.optionsWindow();
        setup->showAccounts(m_run->store()->rowCount());
        QStringList shown;
        for (int row = 0; row < setup->accountsGrid->rowCount(); ++row)
            shown << setup->accountsGrid->item(row, 0)->text() + u':' +
                         setup->accountsGrid->item(row, 1)->text();
        QCOMPARE(shown, (QStringList{u"Home:none"_s, u"Old:STLS"_s, u"Secure:STLS"_s}));
    }

    // The trusted server's id: typed in Add Account and stored; proposed in Edit Account from
    // the topmost Authentication-Results field the last check found, and stored on Update.
    // Before any check there is nothing to propose, and the user is told.
    void trustedServer() {
        startWith({u"Home"_s});
        main()->editAccount(0);
        QTRY_VERIFY(editDialog()->isVisible());
        auto *edit = editDialog()->findChild<QLineEdit *>(u"trustedAuthservEdit"_s);
        auto *propose = editDialog()->findChild<QPushButton *>(u"proposeAuthservButton"_s);
        QVERIFY(edit && propose);
        QCOMPARE(edit->text(), QString());
        propose->click();
        const QStringList told = m_run->prompts.takeTexts();
        QCOMPARE(told.size(), 1);
        QVERIFY2(told.first().contains(u"Authentication-Results"_s), qPrintable(told.first()));
        QCOMPARE(edit->text(), QString());
        editDialog()->close();

        const QByteArray message =
            "Authentication-Results: (outer) mx.home.example 1; spf=pass\n"
            "Authentication-Results: relay.example; none\n" +
            corvane::test::TestMessage().from("a@example.org").subject("Hi").text();
        m_run->pop.addMailbox(u"pop.home.example"_s, u"user"_s, u"pw"_s, {message});
        main()->checkMailMenu->actions().value(0)->trigger();
        QTRY_VERIFY(!m_run->pop.commandsTo(u"pop.home.example"_s).isEmpty() &&
                    !main()->operationRunning());
        QCOMPARE(main()->session().rows().size(), 1);
        main()->editAccount(0);
        QTRY_VERIFY(editDialog()->isVisible());
        propose->click();
        QCOMPARE(edit->text(), u"mx.home.example"_s);
        editDialog()->updateButton->click();
        QCOMPARE(m_run->store()->account(0).TrustedAuthserv, u"mx.home.example"_s);
        QVERIFY(m_run->prompts.shown.isEmpty());

        main()->addAccountAction->trigger();
        QVERIFY(addDialog()->isVisible());
        auto *added = addDialog()->findChild<QLineEdit *>(u"trustedAuthservEdit"_s);
        QCOMPARE(added->text(), QString());
        type(addDialog(), kAddFields,
             {u"Work"_s, u"mail.work.example"_s, u"110"_s, u"jo"_s, u"pw"_s, u"jo@work.example"_s});
        QTest::keyClicks(added, u" mx.work.example "_s);
        addDialog()->addButton->click();
        QVERIFY(!addDialog()->isVisible());
        QCOMPARE(m_run->store()->account(1).TrustedAuthserv, u"mx.work.example"_s);
    }

    // Typed changes belong to the account they were typed for: deleting an account before it
    // while the dialog is open leaves the dialog on that account, and "Update Account" stores
    // them there, never on the account that moved into its position.
    void editsFollowTheirAccountWhenRowsShift() {
        startWith({u"Home"_s, u"1"_s, u"Work"_s, u"Spare"_s});
        main()->editAccount(2);
        QVERIFY(editDialog()->isVisible());
        type(editDialog(), {u"serverEdit"_s}, {u"pop.changed.example"_s});
        m_run->prompts.answers << QMessageBox::Yes;
        main()->deleteAccount(1);
        m_run->prompts.takeTexts();
        QCOMPARE(names(m_run->store()), (QStringList{u"Home"_s, u"Work"_s, u"Spare"_s}));
        QVERIFY(editDialog()->isVisible());
        QCOMPARE(editDialog()->nameEdit->text(), u"Work"_s);
        type(editDialog(), {u"portEdit"_s}, {u"995"_s});
        editDialog()->findChild<QPushButton *>(u"updateButton"_s)->click();
        QVERIFY(!editDialog()->isVisible());
        Account work = named(u"Work"_s);
        work.Pop3Server = u"pop.changed.example"_s;
        work.PortNumber = u"995"_s;
        work.Security = u"TLS"_s; // the security followed the typed port
        QCOMPARE(m_run->store()->accounts(),
                 (QList<Account>{named(u"Home"_s), work, named(u"Spare"_s)}));
    }

    // Deleting the account the dialog shows takes the typed changes with it; the dialog moves
    // on to the current account and stores nothing on it.
    void editedAccountDeletedMeanwhile() {
        startWith({u"Home"_s, u"Work"_s, u"Spare"_s});
        main()->editAccount(1);
        type(editDialog(), {u"serverEdit"_s}, {u"pop.changed.example"_s});
        m_run->prompts.answers << QMessageBox::Yes;
        main()->deleteAccount(1);
        m_run->prompts.takeTexts();
        QCOMPARE(m_run->store()->accounts(), (QList<Account>{named(u"Home"_s), named(u"Spare"_s)}));
        QCOMPARE(editDialog()->nameEdit->text(), u"Spare"_s);
        QVERIFY(!editDialog()->hasPendingChanges());
    }

    // Closing by the title bar or Escape drops typed changes, after asking; "No" keeps the
    // dialog open with them.
    void closingTheEditDialogDiscards_data() {
        QTest::addColumn<bool>("byEscape");
        QTest::addColumn<bool>("discard");
        QTest::newRow("title bar, discard") << false << true;
        QTest::newRow("title bar, keep editing") << false << false;
        QTest::newRow("Escape, discard") << true << true;
        QTest::newRow("Escape, keep editing") << true << false;
    }
    void closingTheEditDialogDiscards() {
        QFETCH(bool, byEscape);
        QFETCH(bool, discard);
        startWith({u"Home"_s, u"Work"_s, u"Spare"_s});
        main()->editAccount(0);
        type(editDialog(), {u"serverEdit"_s}, {u"pop.changed.example"_s});
        m_run->prompts.answers << (discard ? QMessageBox::Yes : QMessageBox::No);
        if (byEscape)
            QTest::keyClick(editDialog()->serverEdit, Qt::Key_Escape);
        else
            editDialog()->close();
        QCOMPARE(m_run->prompts.takeTexts(),
                 QStringList{u"Discard the changes to the account \"Home\"?"_s});
        QCOMPARE(editDialog()->isVisible(), !discard);
        QCOMPARE(editDialog()->hasPendingChanges(), !discard);
        QCOMPARE(m_run->store()->accounts(),
                 (QList<Account>{named(u"Home"_s), named(u"Work"_s), named(u"Spare"_s)}));
        // Unchanged fields close without a question.
        if (!discard) {
            type(editDialog(), {u"serverEdit"_s}, {named(u"Home"_s).Pop3Server});
            editDialog()->close();
            QVERIFY(!editDialog()->isVisible());
            QVERIFY(m_run->prompts.shown.isEmpty());
        }
    }

    // Deleting asks first; No keeps the account.
    void deleteThroughTheMenu() {
        startWith({u"Home"_s, u"Work"_s, u"Spare"_s});
        QAction *item = menuItem(main()->deleteAccountMenu, u"Home"_s);
        QVERIFY(item);
        m_run->prompts.answers << QMessageBox::No;
        item->trigger();
        QTRY_VERIFY(!m_run->prompts.shown.isEmpty());
        QCOMPARE(m_run->prompts.takeTexts(), QStringList{u"Delete the account \"Home\"?"_s});
        QCOMPARE(names(m_run->store()), (QStringList{u"Home"_s, u"Work"_s, u"Spare"_s}));
        m_run->prompts.answers << QMessageBox::Yes;
        menuItem(main()->deleteAccountMenu, u"Home"_s)->trigger();
        QTRY_COMPARE(names(m_run->store()), (QStringList{u"Work"_s, u"Spare"_s}));
        QCOMPARE(m_run->prompts.takeTexts(), QStringList{u"Delete the account \"Home\"?"_s});
        for (QMenu *menu : accountMenus())
            QCOMPARE(menuItems(menu), (QStringList{u"Work:0"_s, u"Spare:1"_s}));
        // Deleting the last account leaves the placeholder item in every menu.
        m_run->prompts.answers << QMessageBox::Yes << QMessageBox::Yes;
        main()->deleteAccount(1);
        main()->deleteAccount(0);
        for (QMenu *menu : accountMenus())
            QCOMPARE(menuItems(menu), QStringList{u"No accounts setup:-1"_s});
    }
};

QTEST_MAIN(TestAccountDialogs)
#include "tst_accountdialogs.moc"
