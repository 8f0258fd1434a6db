#include "core/auth/oauthprovider.h"
#include "core/errors.h"
#include "core/protocol/connectionsecurity.h"
#include "core/settings/accountstore.h"
#include "testsupport.h"

#include <QDir>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlTableModel>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <sys/stat.h>

using namespace Qt::StringLiterals;
using corvane::Account;
using corvane::AccountStore;

namespace {

Account acct(const QString &name, const QString &port = u"110"_s) {
    return Account{name,        u"pop.%1.example"_s.arg(name.toLower()), port, name.toLower(),
                   u"secret"_s, u"%1@example.com"_s.arg(name.toLower())};
}

mode_t modeOf(const QString &path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

QStringList names(const AccountStore &store) {
    QStringList out;
    for (const Account &a : store.accounts())
        out << a.AccountName;
    return out;
}

// Creates an SQLite file through a private connection, running the given statements.
void makeSqlite(const QString &path, const QStringList &statements) {
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"fixture"_s);
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        for (const QString &s : statements)
            QVERIFY2(q.exec(s), qPrintable(s));
        db.close();
    }
    QSqlDatabase::removeDatabase(u"fixture"_s);
}

} // namespace

class TestAccountStore final : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath(u"accounts.dat"_s); }

private Q_SLOTS:
    void init() {
        QFile::remove(path());
        QVERIFY(m_dir.isValid());
    }

    void missingFileCreatesEmptyTable() {
        {
            AccountStore store(path());
            QVERIFY(QFile::exists(path()));
            QCOMPARE(store.rowCount(), 0);
            QCOMPARE(store.currentRow(), -1);
            QVERIFY(store.atEnd());
            QCOMPARE(store.position(), 0);
            QVERIFY(!store.tryAccount(0));
            QVERIFY_THROWS_EXCEPTION(corvane::DataError, store.current());
        }
        // The table and its columns carry the exact names other programs rely on.
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"check"_s);
        db.setDatabaseName(path());
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(u"PRAGMA table_info(AcctList)"_s));
        QStringList cols;
        while (q.next())
            cols << q.value(1).toString();
        QCOMPARE(cols, QStringList({u"Account Name"_s, u"POP3 Server"_s, u"Port Number"_s,
                                    u"Username"_s, u"Password"_s, u"E-Mail Address"_s,
                                    u"Security"_s, u"Trusted Authserv-Id"_s, u"Auth Method"_s}));
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(u"check"_s);
    }

    void emptyFileIsAFreshDatabase() {
        QVERIFY(corvane::test::writeFile(path(), {}));
        AccountStore store(path());
        store.insert(acct(u"Home"_s));
        QCOMPARE(store.rowCount(), 1);
    }

    // A file that is not an account database is reported by name and never modified.
    void foreignFileLeftUntouched_data() {
        QTest::addColumn<std::function<void(const QString &)>>("make");

        QTest::newRow("text file") << std::function<void(const QString &)>([](const QString &p) {
            QVERIFY(corvane::test::writeFile(p, "Account Name,POP3 Server\r\nHome,pop\r\n"));
        });
        QTest::newRow("other engine's header")
            << std::function<void(const QString &)>([](const QString &p) {
                   QByteArray bytes(4096, '\0');
                   bytes.replace(qsizetype(0), qsizetype(20),
                                 QByteArray("\x00\x01\x00\x00Other DB 4.0\x00\x00\x00\x00", 20));
                   QVERIFY(corvane::test::writeFile(p, bytes));
               });
        QTest::newRow("truncated sqlite header") << std::function<void(const QString &)>(
            [](const QString &p) { QVERIFY(corvane::test::writeFile(p, "SQLite form")); });
        QTest::newRow("sqlite header, damaged body")
            << std::function<void(const QString &)>([](const QString &p) {
                   QByteArray bytes = QByteArray("SQLite format 3", 16) + QByteArray(2000, '\xAB');
                   QVERIFY(corvane::test::writeFile(p, bytes));
               });
        QTest::newRow("another program's database")
            << std::function<void(const QString &)>([](const QString &p) {
                   makeSqlite(p, {u"CREATE TABLE contacts (name TEXT, phone TEXT)"_s,
                                  u"INSERT INTO contacts VALUES ('Ann', '555')"_s});
               });
        QTest::newRow("AcctList without a column")
            << std::function<void(const QString &)>([](const QString &p) {
                   makeSqlite(p, {u"CREATE TABLE AcctList (\"Account Name\" TEXT, "
                                  u"\"POP3 Server\" TEXT, \"Port Number\" TEXT, Username TEXT, "
                                  u"Password TEXT)"_s,
                                  u"INSERT INTO AcctList VALUES ('Home','h','110','u','p')"_s});
               });
    }
    void foreignFileLeftUntouched() {
        QFETCH(std::function<void(const QString &)>, make);
        make(path());
        if (QTest::currentTestFailed())
            return;
        const QByteArray before = corvane::test::readFile(path());
        const QDateTime modified = QFileInfo(path()).lastModified();
        try {
            AccountStore store(path());
            QFAIL("the store opened a file that is not an account database");
        } catch (const corvane::Error &e) {
            QVERIFY2(e.message().contains(QDir::toNativeSeparators(path())),
                     qPrintable(e.message()));
        }
        QCOMPARE(corvane::test::readFile(path()), before);
        QCOMPARE(QFileInfo(path()).lastModified(), modified);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), QStringList{u"accounts.dat"_s});
    }

    // The store holds the passwords: whoever made the file, it ends up the owner's alone.
    void ownerOnly_data() {
        QTest::addColumn<int>("modeBefore"); // 0: no file yet
        QTest::newRow("new store") << 0;
        QTest::newRow("store readable by all") << 0644;
        QTest::newRow("store writable by the group") << 0660;
        QTest::newRow("owner-only store") << 0600;
    }
    void ownerOnly() {
        QFETCH(int, modeBefore);
        if (modeBefore != 0) {
            {
                AccountStore store(path());
                store.insert(acct(u"Home"_s));
            }
            QVERIFY(::chmod(QFile::encodeName(path()).constData(), mode_t(modeBefore)) == 0);
        }
        AccountStore store(path());
        QCOMPARE(modeOf(path()), mode_t(0600));
        QCOMPARE(names(store), modeBefore != 0 ? QStringList{u"Home"_s} : QStringList());
    }

    void linkIsRefused() {
        QTemporaryDir outside;
        const QString target = outside.filePath(u"accounts.dat"_s);
        {
            AccountStore store(target);
            store.insert(acct(u"Home"_s));
        }
        QVERIFY(::chmod(QFile::encodeName(target).constData(), 0644) == 0);
        const QByteArray before = corvane::test::readFile(target);
        QVERIFY(QFile::link(target, path()));
        QVERIFY_THROWS_EXCEPTION(corvane::FileError, AccountStore{path()});
        QCOMPARE(corvane::test::readFile(target), before);
        QCOMPARE(modeOf(target), mode_t(0644));
        QVERIFY(QFileInfo(path()).isSymLink());
    }

    void folderInPlaceOfFile() {
        QVERIFY(QDir(m_dir.path()).mkdir(u"accounts.dat"_s));
        QVERIFY_THROWS_EXCEPTION(corvane::FileError, AccountStore{path()});
        QVERIFY(QDir(m_dir.path()).rmdir(u"accounts.dat"_s));
    }

    void lookupByTag_data() {
        QTest::addColumn<int>("tag");
        QTest::addColumn<int>("walk");
        QTest::addColumn<QString>("found");
        QTest::addColumn<int>("currentAfter");

        const int stop = int(AccountStore::Walk::StopAtMatch);
        const int toEnd = int(AccountStore::Walk::ToEnd);
        QTest::newRow("tag 0, checking") << 0 << toEnd << u"Home"_s << 1;
        QTest::newRow("tag 1, checking") << 1 << toEnd << u"Work"_s << 1;
        QTest::newRow("tag 0, editing") << 0 << stop << u"Home"_s << 0;
        QTest::newRow("tag = row count") << 2 << stop << QString() << 1;
        QTest::newRow("negative tag") << -1 << toEnd << QString() << 1;
    }
    void lookupByTag() {
        QFETCH(int, tag);
        QFETCH(int, walk);
        QFETCH(QString, found);
        QFETCH(int, currentAfter);

        AccountStore store(path());
        store.insert(acct(u"Home"_s));
        store.insert(acct(u"Work"_s));
        store.setCurrentRow(0);
        const auto a = store.lookup(tag, AccountStore::Walk(walk));
        QCOMPARE(a.has_value(), !found.isNull());
        if (a) {
            QCOMPARE(a->AccountName, found);
            QCOMPARE(*a, store.account(tag));
        }
        QCOMPARE(store.currentRow(), currentAfter);
        QCOMPARE(store.current().AccountName, currentAfter == 0 ? u"Home"_s : u"Work"_s);
        if (found.isNull())
            QVERIFY_THROWS_EXCEPTION(corvane::DataError, store.account(tag));
    }

    void fullWalkLeavesLastRowCurrent() {
        AccountStore store(path());
        for (const QString &n : {u"Home"_s, u"Work"_s, u"Spare"_s})
            store.insert(acct(n));
        QStringList seen;
        QList<int> positions;
        for (store.first(); !store.atEnd(); store.next()) {
            seen << store.value(u"Account Name"_s);
            positions << store.position();
        }
        QCOMPARE(seen, QStringList({u"Home"_s, u"Work"_s, u"Spare"_s}));
        QCOMPARE(positions, QList<int>({1, 2, 3}));
        QCOMPARE(store.current().AccountName, u"Spare"_s);
        QCOMPARE(store.value(u"port number"_s), u"110"_s);
        QVERIFY_THROWS_EXCEPTION(corvane::DataError, store.value(u"Nickname"_s));
    }

    void insertChangeDelete() {
        AccountStore store(path());
        QSignalSpy rows(&store, &AccountStore::rowsChanged);
        store.insert(acct(u"Home"_s));
        store.insert(acct(u"Work"_s));
        QCOMPARE(store.currentRow(), 1); // a new row is current

        // Changing the current row keeps its position.
        store.setCurrentRow(0);
        Account changed = acct(u"House"_s, u"995"_s);
        changed.Password = u"p\"a's;--"_s;
        store.updateCurrent(changed);
        QCOMPARE(names(store), QStringList({u"House"_s, u"Work"_s}));
        QCOMPARE(store.account(0), changed);

        // A row added later takes the next position.
        store.insert(acct(u"Spare"_s));
        QCOMPARE(names(store), QStringList({u"House"_s, u"Work"_s, u"Spare"_s}));

        // Deleting moves the current row to the one that followed...
        store.setCurrentRow(1);
        store.deleteCurrent();
        QCOMPARE(names(store), QStringList({u"House"_s, u"Spare"_s}));
        QCOMPARE(store.current().AccountName, u"Spare"_s);
        // ...or to the new last row.
        store.deleteCurrent();
        QCOMPARE(store.current().AccountName, u"House"_s);
        store.deleteCurrent();
        QCOMPARE(store.rowCount(), 0);
        QCOMPARE(rows.count(), 7);

        // Nothing left to delete: refused, nothing changes.
        QVERIFY_THROWS_EXCEPTION(corvane::DataError, store.deleteCurrent());
        QVERIFY_THROWS_EXCEPTION(corvane::DataError, store.updateCurrent(changed));
        QCOMPARE(store.rowCount(), 0);
    }

    void removeByTagRenumbers() {
        AccountStore store(path());
        for (const QString &n : {u"Home"_s, u"Work"_s, u"Spare"_s})
            store.insert(acct(n));
        QVERIFY(store.removeByTag(0));
        QCOMPARE(store.account(0).AccountName, u"Work"_s);
        QCOMPARE(store.account(1).AccountName, u"Spare"_s);
        QCOMPARE(store.current().AccountName, u"Spare"_s);
        QVERIFY(!store.removeByTag(2));
        QCOMPARE(store.rowCount(), 2);
    }

    void nameTakenIsExact_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("taken");
        QTest::newRow("same") << u"Home"_s << true;
        QTest::newRow("other case") << u"home"_s << false;
        QTest::newRow("trailing blank") << u"Home "_s << false;
        QTest::newRow("second row") << u"Work"_s << true;
        QTest::newRow("empty") << u""_s << false;
    }
    void nameTakenIsExact() {
        QFETCH(QString, name);
        QFETCH(bool, taken);
        AccountStore store(path());
        QVERIFY(!store.hasAccountName(u"Home"_s)); // empty table
        store.insert(acct(u"Home"_s));
        store.insert(acct(u"Work"_s));
        store.setCurrentRow(0);
        QCOMPARE(store.hasAccountName(name), taken);
        QCOMPARE(store.currentRow(), 1); // the walk visits every row
    }

    // A table of an older version gains the security column; its rows, and rows that programs
    // naming only the six columns add later, read it as empty: the port's default.
    void olderTableGainsSecurity() {
        const QString six = u"(\"Account Name\", \"POP3 Server\", \"Port Number\", "
                            u"\"Username\", \"Password\", \"E-Mail Address\")"_s;
        makeSqlite(path(), {u"CREATE TABLE AcctList (\"Account Name\" TEXT, \"POP3 Server\" "
                            u"TEXT, \"Port Number\" TEXT, \"Username\" TEXT, \"Password\" "
                            u"TEXT, \"E-Mail Address\" TEXT)"_s,
                            u"INSERT INTO AcctList %1 VALUES ('Old', 'pop.a', '995', 'u', 'p', "
                            u"'e')"_s.arg(six)});
        {
            AccountStore store(path());
            const Account old = store.account(0);
            QCOMPARE(old.PortNumber, u"995"_s);
            QCOMPARE(old.Security, QString());
            QCOMPARE(corvane::parseSecurity(old.Security, 995),
                     std::optional(corvane::ConnectionSecurity::Tls));
            Account secured = acct(u"New"_s);
            QCOMPARE(old.TrustedAuthserv, QString());
            secured.Security = u"STLS"_s;
            secured.TrustedAuthserv = u"mx.example.net"_s;
            store.insert(secured);
        }
        // An older program adds a row naming its six columns.
        makeSqlite(path(), {u"INSERT INTO AcctList %1 VALUES ('Older', 'pop.b', '110', 'u', "
                            u"'p', 'e')"_s.arg(six)});
        AccountStore store(path());
        QCOMPARE(names(store), (QStringList{u"Old"_s, u"New"_s, u"Older"_s}));
        QCOMPARE(store.account(1).Security, u"STLS"_s);
        QCOMPARE(store.account(2).Security, QString());
        QCOMPARE(store.account(1).TrustedAuthserv, u"mx.example.net"_s);
        QCOMPARE(store.account(2).TrustedAuthserv, QString());
        store.setCurrentRow(1);
        QCOMPARE(store.value(AccountStore::ColSecurity), u"STLS"_s);
    }

    // A table of the version before the trusted server's id (seven columns) gains that column;
    // its rows trust no server.
    void tableWithSecurityGainsTrustedId() {
        makeSqlite(path(), {u"CREATE TABLE AcctList (\"Account Name\" TEXT, \"POP3 Server\" "
                            u"TEXT, \"Port Number\" TEXT, \"Username\" TEXT, \"Password\" "
                            u"TEXT, \"E-Mail Address\" TEXT, \"Security\" TEXT)"_s,
                            u"INSERT INTO AcctList VALUES ('Seven', 'pop.a', '110', 'u', 'p', "
                            u"'e', 'STLS')"_s});
        {
            AccountStore store(path());
            QCOMPARE(store.account(0).Security, u"STLS"_s);
            QCOMPARE(store.account(0).TrustedAuthserv, QString());
            Account changed = store.account(0);
            changed.TrustedAuthserv = u"mx.example.net"_s;
            store.setCurrentRow(0);
            store.updateCurrent(changed);
        }
        AccountStore store(path());
        QCOMPARE(store.account(0).TrustedAuthserv, u"mx.example.net"_s);
        QCOMPARE(store.account(0).Security, u"STLS"_s);
    }

    // A table of the version before the sign-in method (eight columns) gains it; its rows, and
    // rows that older programs add later, log in with their password.
    void tableWithTrustedIdGainsAuthMethod() {
        makeSqlite(path(), {u"CREATE TABLE AcctList (\"Account Name\" TEXT, \"POP3 Server\" "
                            u"TEXT, \"Port Number\" TEXT, \"Username\" TEXT, \"Password\" "
                            u"TEXT, \"E-Mail Address\" TEXT, \"Security\" TEXT, \"Trusted "
                            u"Authserv-Id\" TEXT)"_s,
                            u"INSERT INTO AcctList VALUES ('Eight', 'pop.a', '995', 'u', 'p', "
                            u"'e', 'TLS', 'mx.a')"_s});
        {
            AccountStore store(path());
            const Account old = store.account(0);
            QCOMPARE(old.AuthMethod, QString());
            QCOMPARE(corvane::oauthProviderOfMethod(old.AuthMethod), std::optional<QString>());
            Account signedIn = acct(u"Token"_s);
            signedIn.AuthMethod = corvane::oauthAuthMethod(u"google"_s);
            store.insert(signedIn);
        }
        makeSqlite(path(), {u"INSERT INTO AcctList (\"Account Name\", \"POP3 Server\", "
                            u"\"Port Number\", \"Username\", \"Password\", \"E-Mail "
                            u"Address\") VALUES ('Older', 'pop.b', '110', 'u', 'p', 'e')"_s});
        AccountStore store(path());
        QCOMPARE(names(store), (QStringList{u"Eight"_s, u"Token"_s, u"Older"_s}));
        QCOMPARE(store.account(0).TrustedAuthserv, u"mx.a"_s);
        QCOMPARE(store.account(1).AuthMethod, u"oauth:google"_s);
        QCOMPARE(corvane::oauthProviderOfMethod(store.account(1).AuthMethod),
                 std::optional(u"google"_s));
        QCOMPARE(store.account(2).AuthMethod, QString());
        store.setCurrentRow(1);
        QCOMPARE(store.value(AccountStore::ColAuthMethod), u"oauth:google"_s);
    }

    void valuesSurviveReopening() {
        Account a = acct(u"Zürich ☃"_s);
        a.Password = u"  spaces and \"quotes\"  "_s;
        a.EmailAddress.clear();
        {
            AccountStore store(path());
            store.insert(acct(u"Home"_s));
            store.insert(a);
        }
        AccountStore store(path());
        QCOMPARE(store.rowCount(), 2);
        QCOMPARE(store.account(1), a);
        QCOMPARE(store.currentRow(), 0); // opening makes the first row current
    }

    // A grid model made on the store's connection sees the rows in tag order, and rows it
    // deletes are seen by the store.
    void modelSharesTheConnection() {
        AccountStore store(path());
        for (const QString &n : {u"Home"_s, u"Work"_s, u"Spare"_s})
            store.insert(acct(n));
        QSqlTableModel model(nullptr, store.database());
        model.setTable(store.tableName());
        QVERIFY(model.select());
        QCOMPARE(model.rowCount(), 3);
        const int col = model.fieldIndex(AccountStore::ColAccountName);
        for (int r = 0; r < 3; ++r)
            QCOMPARE(model.data(model.index(r, col)).toString(), store.account(r).AccountName);
        QVERIFY(model.removeRow(2));
        QVERIFY(model.submitAll());
        QCOMPARE(store.rowCount(), 2);
        QCOMPARE(store.current().AccountName, u"Work"_s); // was Spare, now the last row
    }

    void twoStoresOnOneFile() {
        AccountStore a(path());
        AccountStore b(path());
        a.insert(acct(u"Home"_s));
        QCOMPARE(b.rowCount(), 1);
        QCOMPARE(b.account(0).AccountName, u"Home"_s);
    }
};

QTEST_GUILESS_MAIN(TestAccountStore)
#include "tst_accountstore.moc"
