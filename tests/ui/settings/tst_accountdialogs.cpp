// The account menus and the Add Account and Edit Account dialogs, round trip into
// accounts.dat.

#include "../uitestsupport.h"

#include "ui/settings/tform3.h"
#include "ui/settings/tform6.h"

#include <QLineEdit>
#include <QPushButton>

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

const QStringList kAddFields = {u"Edit1"_s,    u"POPServer"_s, u"POPPort"_s,
                                u"Username"_s, u"Password"_s,  u"Email"_s};
const QStringList kEditFields = {u"DBEdit1"_s, u"DBEdit2"_s, u"DBEdit3"_s,
                                 u"DBEdit4"_s, u"DBEdit5"_s, u"DBEdit6"_s};
const QStringList kStartValues = {u"New Account"_s, u"pop.example.com"_s, u"110"_s,
                                  u"username"_s,    u"password"_s,        u"you@example.com"_s};

} // namespace

class TestAccountDialogs final : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ProgramRun> m_run;

    TfrmMain *main() { return m_run->main(); }
    TForm3 *addDialog() { return m_run->shell.addAccountDialog(); }
    TForm6 *editDialog() { return m_run->shell.editAccountDialog(); }
    QList<QMenu *> accountMenus() {
        return {main()->CheckedMessages1, main()->acctdrop, main()->EditAccount1,
                main()->DeleteAccount1};
    }
    void startWith(const QStringList &accounts) {
        m_run = std::make_unique<ProgramRun>(m_dir->path());
        m_run->start();
        for (const QString &name : accounts)
            m_run->store()->insert(named(name));
        main()->RefreshAccounts();
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
        QCOMPARE(menuItems(main()->acctdrop).size(), 3);
        QCOMPARE(main()->acctdrop->actions().at(1)->iconText(), u"Work"_s);
    }

    void addAccount_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("another name") << u"Work"_s << true;
        QTest::newRow("same name in lower case") << u"home"_s << true;
        QTest::newRow("same name with a trailing blank") << u"Home "_s << true;
        QTest::newRow("empty name") << QString() << true;
        QTest::newRow("same name") << u"Home"_s << false;
    }
    void addAccount() {
        QFETCH(QString, name);
        QFETCH(bool, accepted);
        startWith({u"Home"_s});
        main()->Add1->trigger();
        QVERIFY(addDialog()->isVisible());
        QCOMPARE(fieldTexts(addDialog(), kAddFields), kStartValues);
        const QStringList typed = {name,        u"mail.work.example"_s, u"995"_s, u"jo"_s,
                                   u"s3cret"_s, u"jo@work.example"_s};
        type(addDialog(), kAddFields, typed);
        addDialog()->findChild<QPushButton *>(u"Button1"_s)->click();

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
                 (Account{name, typed[1], typed[2], typed[3], typed[4], typed[5]}));
        QCOMPARE(menuItems(main()->acctdrop).size(), 2);
        QCOMPARE(main()->DeleteAccount1->actions().at(1)->data().toInt(), 1);
        // The dialog opens with its starting values again.
        QCOMPARE(fieldTexts(addDialog(), kAddFields), kStartValues);
    }

    void closingTheAddDialogRefreshesAndResets_data() {
        QTest::addColumn<bool>("byTitleBar");
        QTest::newRow("Cancel") << false;
        QTest::newRow("title bar") << true;
    }
    void closingTheAddDialogRefreshesAndResets() {
        QFETCH(bool, byTitleBar);
        startWith({});
        main()->Add1->trigger();
        type(addDialog(), kAddFields, {u"A"_s, u"B"_s, u"C"_s, u"D"_s, u"E"_s, u"F"_s});
        // An account that reached the table some other way shows once the dialog closes.
        m_run->store()->insert(named(u"Other"_s));
        if (byTitleBar)
            addDialog()->close();
        else
            addDialog()->findChild<QPushButton *>(u"Button2"_s)->click();
        QVERIFY(!addDialog()->isVisible());
        QCOMPARE(fieldTexts(addDialog(), kAddFields), kStartValues);
        QCOMPARE(names(m_run->store()), QStringList{u"Other"_s});
        QCOMPARE(menuItems(main()->acctdrop), QStringList{u"Other:0"_s});
    }

    void editThroughTheMenu() {
        startWith({u"Home"_s, u"Work"_s});
        QAction *item = menuItem(main()->EditAccount1, u"Work"_s);
        QVERIFY(item);
        item->trigger();
        QTRY_VERIFY(editDialog()->isVisible());
        const Account work = named(u"Work"_s);
        QCOMPARE(fieldTexts(editDialog(), kEditFields),
                 (QStringList{work.AccountName, work.Pop3Server, work.PortNumber, work.Username,
                              work.Password, work.EmailAddress}));
        // Renaming to the name of another account is accepted.
        type(editDialog(), {u"DBEdit1"_s, u"DBEdit2"_s}, {u"Home"_s, u"pop.new.example"_s});
        editDialog()->findChild<QPushButton *>(u"Button1"_s)->click();
        QVERIFY(!editDialog()->isVisible());
        QCOMPARE(m_run->store()->account(1).Pop3Server, u"pop.new.example"_s);
        QCOMPARE(names(m_run->store()), (QStringList{u"Home"_s, u"Home"_s}));
        QCOMPARE(menuItems(main()->CheckedMessages1), (QStringList{u"Home:0"_s, u"Home:1"_s}));
        QVERIFY(m_run->prompts.shown.isEmpty());
    }

    // Closed by its title bar, the dialog keeps its typed changes pending; they reach the
    // table as soon as the current row moves on, and never land on another account.
    void editClosedByTitleBarCommitsWhenTheRowMoves() {
        startWith({u"Home"_s, u"Work"_s, u"Spare"_s});
        main()->EditAccountItemClick(0);
        QVERIFY(editDialog()->isVisible());
        type(editDialog(), {u"DBEdit2"_s}, {u"pop.changed.example"_s});
        editDialog()->close();
        QVERIFY(editDialog()->hasPendingChanges());
        QCOMPARE(m_run->store()->account(0).Pop3Server, u"pop.home.example"_s);
        main()->RefreshAccounts();
        QCOMPARE(m_run->store()->account(0).Pop3Server, u"pop.changed.example"_s);
        QCOMPARE(m_run->store()->account(1), named(u"Work"_s));
        QCOMPARE(m_run->store()->account(2), named(u"Spare"_s));
        QVERIFY(!editDialog()->hasPendingChanges());
    }

    void deleteThroughTheMenu() {
        startWith({u"Home"_s, u"Work"_s, u"Spare"_s});
        QAction *item = menuItem(main()->DeleteAccount1, u"Home"_s);
        QVERIFY(item);
        item->trigger();
        QTRY_COMPARE(names(m_run->store()), (QStringList{u"Work"_s, u"Spare"_s}));
        QVERIFY(m_run->prompts.shown.isEmpty());
        for (QMenu *menu : accountMenus())
            QCOMPARE(menuItems(menu), (QStringList{u"Work:0"_s, u"Spare:1"_s}));
        // Deleting the last account leaves the placeholder item in every menu.
        main()->DeleteAccountItemClick(1);
        main()->DeleteAccountItemClick(0);
        for (QMenu *menu : accountMenus())
            QCOMPARE(menuItems(menu), QStringList{u"No accounts setup:-1"_s});
    }
};

QTEST_MAIN(TestAccountDialogs)
#include "tst_accountdialogs.moc"
