#include "core/settings/accountstore.h"

#include "core/errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvane {

const QString AccountStore::TableName = u"AcctList"_s;
const QString AccountStore::ColAccountName = u"Account Name"_s;
const QString AccountStore::ColPop3Server = u"POP3 Server"_s;
const QString AccountStore::ColPortNumber = u"Port Number"_s;
const QString AccountStore::ColUsername = u"Username"_s;
const QString AccountStore::ColPassword = u"Password"_s;
const QString AccountStore::ColEmailAddress = u"E-Mail Address"_s;
const QString AccountStore::ColSecurity = u"Security"_s;
const QString AccountStore::ColTrustedAuthserv = u"Trusted Authserv-Id"_s;
const QString AccountStore::ColAuthMethod = u"Auth Method"_s;

QStringList AccountStore::columnNames() {
    return {ColAccountName, ColPop3Server, ColPortNumber,
            ColUsername,    ColPassword,   ColEmailAddress};
}

namespace {

std::atomic<int> connectionCounter{0};

QString quoted(const QString &identifier) {
    return u'"' + QString(identifier).replace(u'"', u"\"\""_s) + u'"';
}

// The columns added after the six every program of this table knows.
QStringList addedColumns() {
    return {AccountStore::ColSecurity, AccountStore::ColTrustedAuthserv,
            AccountStore::ColAuthMethod};
}

// The six columns every program of this table knows, then the added ones.
QStringList storedColumns() {
    return AccountStore::columnNames() + addedColumns();
}

QString selectColumns() {
    QStringList cols;
    for (const QString &c : storedColumns())
        cols << quoted(c);
    return cols.join(u", "_s);
}

Account accountFrom(const QSqlQuery &q, int firstColumn) {
    Account a;
    a.AccountName = q.value(firstColumn + 0).toString();
    a.Pop3Server = q.value(firstColumn + 1).toString();
    a.PortNumber = q.value(firstColumn + 2).toString();
    a.Username = q.value(firstColumn + 3).toString();
    a.Password = q.value(firstColumn + 4).toString();
    a.EmailAddress = q.value(firstColumn + 5).toString();
    a.Security = q.value(firstColumn + 6).toString();
    a.TrustedAuthserv = q.value(firstColumn + 7).toString();
    a.AuthMethod = q.value(firstColumn + 8).toString();
    return a;
}

void bindAccount(QSqlQuery &q, const Account &a) {
    q.addBindValue(a.AccountName);
    q.addBindValue(a.Pop3Server);
    q.addBindValue(a.PortNumber);
    q.addBindValue(a.Username);
    q.addBindValue(a.Password);
    q.addBindValue(a.EmailAddress);
    q.addBindValue(a.Security);
    q.addBindValue(a.TrustedAuthserv);
    q.addBindValue(a.AuthMethod);
}

// The first 16 bytes of every SQLite 3 database file.
constexpr char sqliteMagic[] = "SQLite format 3";

// Checks, without writing anything, that an existing file is an SQLite database. An empty
// file is one too (SQLite treats it as a database without tables), and it holds nothing that
// could be lost.
void checkSqliteHeader(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw FileError(u"Cannot open the account database %1: %2"_s.arg(
            QDir::toNativeSeparators(path), f.errorString()));
    if (f.size() == 0)
        return;
    const QByteArray head = f.read(16);
    if (head != QByteArray(sqliteMagic, sizeof sqliteMagic))
        throw DataError(
            u"%1 is not an account database (not an SQLite 3 file); it was left unchanged."_s.arg(
                QDir::toNativeSeparators(path)));
}

// Creates a missing store file empty and owner-only (0600) before SQLite writes into it, or
// takes the group's and others' rights from an existing one. A file that cannot be tightened
// (not ours) is still used.
void makeOwnerOnly(const QString &path, bool existed) {
    const QByteArray name = QFile::encodeName(path);
    if (existed) {
        struct stat st {};
        if (::stat(name.constData(), &st) == 0 && (st.st_mode & 077) != 0)
            ::chmod(name.constData(), st.st_mode & 0700);
        return;
    }
    const int fd =
        ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        throw FileError(u"Cannot create the account database %1: %2"_s.arg(
            QDir::toNativeSeparators(path), qt_error_string(errno)));
    ::close(fd);
}

} // namespace

AccountStore::AccountStore(const QString &filePath, QObject *parent)
    : QObject(parent), m_filePath(filePath),
      m_connectionName(u"corvane-accounts-%1"_s.arg(connectionCounter.fetch_add(1))) {
    const QString shown = QDir::toNativeSeparators(m_filePath);
    const QFileInfo info(m_filePath);
    const bool existed = info.exists();
    if (existed && info.isDir())
        throw FileError(u"Cannot open the account database %1: it is a folder."_s.arg(shown));
    if (info.isSymLink())
        throw FileError(u"Cannot open the account database %1: it is a symbolic link, which is "
                        u"never followed."_s.arg(shown));

    QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_connectionName);
    db.setDatabaseName(m_filePath);
    try {
        bool hasTable = false;
        QStringList missingAdded = addedColumns();
        if (existed) {
            checkSqliteHeader(m_filePath);
            // Inspect the file read-only first, so a database that is not ours is never
            // touched.
            db.setConnectOptions(u"QSQLITE_OPEN_READONLY"_s);
            if (!db.open())
                throw FileError(
                    u"Cannot open the account database %1: %2"_s.arg(shown, db.lastError().text()));
            QSqlQuery q(db);
            if (!q.exec(u"SELECT name FROM sqlite_master WHERE type = 'table'"_s))
                throw DataError(
                    u"%1 is not a usable account database: %2"_s.arg(shown, q.lastError().text()));
            QStringList tables;
            while (q.next())
                tables << q.value(0).toString();
            hasTable = tables.contains(TableName, Qt::CaseInsensitive);
            if (!hasTable && !tables.isEmpty())
                throw DataError(
                    u"%1 is not an account database (it has no table %2); it was left unchanged."_s
                        .arg(shown, TableName));
            if (hasTable) {
                QSqlQuery info(db);
                if (!info.exec(u"PRAGMA table_info(%1)"_s.arg(quoted(TableName))))
                    throw DataError(u"%1 is not a usable account database: %2"_s.arg(
                        shown, info.lastError().text()));
                QStringList present;
                while (info.next())
                    present << info.value(1).toString();
                missingAdded.removeIf([&present](const QString &c) {
                    return present.contains(c, Qt::CaseInsensitive);
                });
                for (const QString &c : columnNames())
                    if (!present.contains(c, Qt::CaseInsensitive))
                        throw DataError(
                            u"The table %1 in %2 has no column \"%3\"; the file was left unchanged."_s
                                .arg(TableName, shown, c));
                // Positions follow rowid order, so the table must have one.
                QSqlQuery rowid(db);
                if (!rowid.exec(u"SELECT rowid FROM %1 LIMIT 1"_s.arg(quoted(TableName))))
                    throw DataError(u"%1 is not a usable account database: %2"_s.arg(
                        shown, rowid.lastError().text()));
            }
            db.close();
            db.setConnectOptions(QString());
        }
        // The file holds passwords: it is the owner's alone, whoever made it before.
        makeOwnerOnly(m_filePath, existed);
        if (!db.open())
            throw FileError(
                u"Cannot open the account database %1: %2"_s.arg(shown, db.lastError().text()));
        if (!hasTable) {
            QStringList cols;
            for (const QString &c : storedColumns())
                cols << quoted(c) + u" TEXT"_s;
            QSqlQuery q(db);
            if (!q.exec(u"CREATE TABLE %1 (%2)"_s.arg(quoted(TableName), cols.join(u", "_s))))
                throw FileError(u"Cannot create the table %1 in %2: %3"_s.arg(
                    TableName, shown, q.lastError().text()));
        } else {
            // A table of an older version gets the columns; its rows read them as empty (the
            // port's default, no trusted server), and programs that name the six columns never
            // see them.
            for (const QString &column : std::as_const(missingAdded)) {
                QSqlQuery q(db);
                if (!q.exec(u"ALTER TABLE %1 ADD COLUMN %2 TEXT"_s.arg(quoted(TableName),
                                                                       quoted(column))))
                    throw FileError(u"Cannot add the column %1 to the table %2 in %3: %4"_s.arg(
                        column, TableName, shown, q.lastError().text()));
            }
        }
    } catch (...) {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connectionName);
        throw;
    }
    m_current = rowCount() > 0 ? 0 : -1;
}

AccountStore::~AccountStore() {
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

QSqlDatabase AccountStore::database() const {
    return QSqlDatabase::database(m_connectionName, false);
}

void AccountStore::fail(const QString &what) const {
    throw DataError(u"%1 (%2)"_s.arg(what, QDir::toNativeSeparators(m_filePath)));
}

int AccountStore::rowCount() const {
    QSqlQuery q(database());
    if (!q.exec(u"SELECT COUNT(*) FROM %1"_s.arg(quoted(TableName))) || !q.next())
        fail(u"Cannot read the accounts: %1"_s.arg(q.lastError().text()));
    return q.value(0).toInt();
}

std::optional<Account> AccountStore::tryAccount(int tag) const {
    if (tag < 0)
        return std::nullopt;
    QSqlQuery q(database());
    q.prepare(u"SELECT %1 FROM %2 ORDER BY rowid LIMIT 1 OFFSET ?"_s.arg(selectColumns(),
                                                                         quoted(TableName)));
    q.addBindValue(tag);
    if (!q.exec())
        fail(u"Cannot read the accounts: %1"_s.arg(q.lastError().text()));
    if (!q.next())
        return std::nullopt;
    return accountFrom(q, 0);
}

Account AccountStore::account(int tag) const {
    if (auto a = tryAccount(tag))
        return *a;
    fail(u"There is no account at position %1"_s.arg(tag));
}

QList<Account> AccountStore::accounts() const {
    QSqlQuery q(database());
    if (!q.exec(u"SELECT %1 FROM %2 ORDER BY rowid"_s.arg(selectColumns(), quoted(TableName))))
        fail(u"Cannot read the accounts: %1"_s.arg(q.lastError().text()));
    QList<Account> all;
    while (q.next())
        all << accountFrom(q, 0);
    return all;
}

qint64 AccountStore::rowidAt(int tag) const {
    QSqlQuery q(database());
    q.prepare(u"SELECT rowid FROM %1 ORDER BY rowid LIMIT 1 OFFSET ?"_s.arg(quoted(TableName)));
    q.addBindValue(tag);
    if (!q.exec())
        fail(u"Cannot read the accounts: %1"_s.arg(q.lastError().text()));
    if (tag < 0 || !q.next())
        fail(u"There is no account at position %1"_s.arg(tag));
    return q.value(0).toLongLong();
}

std::optional<int> AccountStore::tagOf(qint64 rowId) const {
    QSqlQuery q(database());
    q.prepare(u"SELECT (SELECT COUNT(*) FROM %1 WHERE rowid < ?) FROM %1 WHERE rowid = ?"_s.arg(
        quoted(TableName)));
    q.addBindValue(rowId);
    q.addBindValue(rowId);
    if (!q.exec())
        fail(u"Cannot read the accounts: %1"_s.arg(q.lastError().text()));
    if (!q.next())
        return std::nullopt;
    return q.value(0).toInt();
}

void AccountStore::setCurrent(int tag) {
    const bool moved = tag != m_current;
    m_current = tag;
    if (moved)
        Q_EMIT currentRowChanged(tag);
}

int AccountStore::currentRow() const {
    // Rows may also be deleted through a model on database(); the position then falls back
    // to the nearest row that still exists.
    const int n = rowCount();
    if (n == 0)
        return -1;
    return qBound(0, m_current, n - 1);
}

void AccountStore::setCurrentRow(int tag) {
    if (tag < 0 || tag >= rowCount())
        return;
    m_pastEnd = false;
    setCurrent(tag);
}

Account AccountStore::current() const {
    const int cur = currentRow();
    if (cur < 0)
        fail(u"There is no current account"_s);
    return account(cur);
}

QString AccountStore::value(const QString &column) const {
    const Account a = current();
    const auto is = [&](const QString &name) {
        return column.compare(name, Qt::CaseInsensitive) == 0;
    };
    if (is(ColAccountName))
        return a.AccountName;
    if (is(ColPop3Server))
        return a.Pop3Server;
    if (is(ColPortNumber))
        return a.PortNumber;
    if (is(ColUsername))
        return a.Username;
    if (is(ColPassword))
        return a.Password;
    if (is(ColEmailAddress))
        return a.EmailAddress;
    if (is(ColSecurity))
        return a.Security;
    if (is(ColAuthMethod))
        return a.AuthMethod;
    fail(u"The table %1 has no column \"%2\""_s.arg(TableName, column));
}

void AccountStore::first() {
    const int n = rowCount();
    m_pastEnd = n == 0;
    setCurrent(n > 0 ? 0 : -1);
}

void AccountStore::next() {
    if (atEnd())
        return;
    const int cur = currentRow();
    if (cur + 1 < rowCount())
        setCurrent(cur + 1);
    else
        m_pastEnd = true; // the last row stays current
}

bool AccountStore::atEnd() const {
    return m_pastEnd || rowCount() == 0;
}

int AccountStore::position() const {
    return currentRow() + 1;
}

std::optional<Account> AccountStore::lookup(int tag, Walk walk) {
    // Equivalent to walking from the first row and comparing each 1-based position with
    // tag + 1: the match is read, and the walk either stops there or ends on the last row.
    const int n = rowCount();
    std::optional<Account> found;
    if (tag >= 0 && tag < n)
        found = account(tag);
    if (found && walk == Walk::StopAtMatch) {
        m_pastEnd = false;
        setCurrent(tag);
    } else {
        m_pastEnd = true;
        setCurrent(n - 1);
    }
    return found;
}

bool AccountStore::removeByTag(int tag) {
    if (tag < 0 || tag >= rowCount())
        return false;
    m_current = tag;
    deleteCurrent();
    m_pastEnd = true;
    setCurrent(rowCount() - 1);
    return true;
}

bool AccountStore::hasAccountName(const QString &name) {
    bool taken = false;
    for (const Account &a : accounts())
        taken = taken || a.AccountName == name;
    const int n = rowCount();
    m_pastEnd = true;
    setCurrent(n - 1);
    return taken;
}

void AccountStore::insert(const Account &account) {
    QSqlQuery q(database());
    q.prepare(u"INSERT INTO %1 (%2) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"_s.arg(quoted(TableName),
                                                                           selectColumns()));
    bindAccount(q, account);
    if (!q.exec())
        fail(u"Cannot add the account: %1"_s.arg(q.lastError().text()));
    m_pastEnd = false;
    Q_EMIT rowsChanged();
    setCurrent(rowCount() - 1);
}

void AccountStore::updateCurrent(const Account &account) {
    const int cur = currentRow();
    if (cur < 0)
        fail(u"There is no current account to change"_s);
    QStringList sets;
    for (const QString &c : storedColumns())
        sets << quoted(c) + u" = ?"_s;
    QSqlQuery q(database());
    q.prepare(u"UPDATE %1 SET %2 WHERE rowid = ?"_s.arg(quoted(TableName), sets.join(u", "_s)));
    bindAccount(q, account);
    q.addBindValue(rowidAt(cur));
    if (!q.exec())
        fail(u"Cannot change the account: %1"_s.arg(q.lastError().text()));
    Q_EMIT rowsChanged();
}

void AccountStore::deleteCurrent() {
    const int cur = currentRow();
    if (cur < 0)
        fail(u"There is no current account to delete"_s);
    QSqlQuery q(database());
    q.prepare(u"DELETE FROM %1 WHERE rowid = ?"_s.arg(quoted(TableName)));
    q.addBindValue(rowidAt(cur));
    if (!q.exec())
        fail(u"Cannot delete the account: %1"_s.arg(q.lastError().text()));
    Q_EMIT rowsChanged();
    // The row that followed takes the deleted one's position; after the last row, the new
    // last row is current.
    const int n = rowCount();
    const int next = n == 0 ? -1 : qMin(cur, n - 1);
    m_current = -2; // force the notification: the row at this position is a different one
    setCurrent(next);
}

} // namespace corvane
