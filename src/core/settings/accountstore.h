#pragma once

#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <optional>

namespace corvane {

// One row of the table AcctList. Every value is kept and written as text.
struct Account {
    QString AccountName;
    QString Pop3Server;
    QString PortNumber;
    QString Username;
    QString Password;
    QString EmailAddress;
    // "Security": "none", "STLS" or "TLS"; empty in rows written before the column existed
    // (or by programs that do not know it), which means the port's default (parseSecurity).
    QString Security = {};
    // The authserv-id (RFC 8601) of the server whose Authentication-Results fields decide
    // whether a friendly-list sender is authentic; empty: the friendly list is trusted as it
    // is. Empty in rows written before the column existed.
    QString TrustedAuthserv = {};
    // "Auth Method": how the account logs in, "password" or "oauth:" and a provider's id
    // (oauthProviderOfMethod); empty in rows written before the column existed, which means
    // the password.
    QString AuthMethod = {};

    friend bool operator==(const Account &, const Account &) = default;
};

// The POP3 accounts the user screens: the table AcctList of the SQLite file accounts.dat.
//
// No key column is used: an account is identified by its tag, its 0-based position in table
// order (the order in which SQLite stores the rows, i.e. by rowid). A row added later gets the
// next position at the end.
//
// The store has one current row shared by everything that touches the table (the accounts
// grid selects it, the edit dialog changes it, "Remove Selected" deletes it) and every walk
// over the table moves it; a full walk leaves the last row current.
//
// The store reads the table on every call and caches nothing, so a QSqlTableModel made on
// database() and tableName() stays consistent with it.
class AccountStore : public QObject {
    Q_OBJECT
public:
    // The six columns of AcctList, addressed by these exact names.
    static const QString TableName;       // "AcctList"
    static const QString ColAccountName;  // "Account Name"
    static const QString ColPop3Server;   // "POP3 Server"
    static const QString ColPortNumber;   // "Port Number"
    static const QString ColUsername;     // "Username"
    static const QString ColPassword;     // "Password"
    static const QString ColEmailAddress; // "E-Mail Address"
    static QStringList columnNames();
    // The column of the connection security, added after the six: a file without it is
    // given it when opened (older programs name their six columns and never see it), and its
    // empty value means the port's default.
    static const QString ColSecurity; // "Security"
    // The authserv-id of the account's server whose Authentication-Results the friendly list
    // trusts; added after Security in the same way, empty (trust none) when absent.
    static const QString ColTrustedAuthserv; // "Trusted Authserv-Id"
    // How the account logs in; added after Trusted Authserv-Id in the same way, read as the
    // password when absent or empty.
    static const QString ColAuthMethod; // "Auth Method"

    // Opens filePath. A missing file is created owner-only (0600) with an empty AcctList table;
    // an existing store is made owner-only too, as it holds the passwords. A file that
    // exists but is not an SQLite database, or lacks a usable AcctList table, throws
    // FileError/DataError naming the file and is left exactly as it was. A symbolic link is
    // refused (FileError), never followed.
    explicit AccountStore(const QString &filePath, QObject *parent = nullptr);
    ~AccountStore() override;

    AccountStore(const AccountStore &) = delete;
    AccountStore &operator=(const AccountStore &) = delete;

    const QString &filePath() const { return m_filePath; }
    // The open connection (unique to this store) and the table, for a QSqlTableModel.
    QSqlDatabase database() const;
    QString tableName() const { return TableName; }

    int rowCount() const;

    // The account at a tag, without moving the current row. Throws DataError when no row has
    // that position.
    Account account(int tag) const;
    // As account(), but returns nothing when no row has that position.
    std::optional<Account> tryAccount(int tag) const;
    // Every account in table order.
    QList<Account> accounts() const;

    // A row's identity: unlike its tag it stays the same while rows before it are deleted.
    // rowId() throws DataError when no row has the tag; tagOf() returns nothing once the row
    // is gone.
    qint64 rowId(int tag) const { return rowidAt(tag); }
    std::optional<int> tagOf(qint64 rowId) const;

    // How far a lookup by tag walks: stopping at the match leaves it current (editing);
    // walking to the end leaves the last row current (checking, deleting).
    enum class Walk { StopAtMatch, ToEnd };
    // Looks up the account whose 1-based position equals tag + 1 by walking from the first
    // row. Returns nothing when no row matches (the walk then ends on the last row).
    std::optional<Account> lookup(int tag, Walk walk);
    // Deletes the row at tag and walks on to the end. Returns false when no row matches.
    bool removeByTag(int tag);
    // Whether some row's "Account Name" equals name exactly (case-sensitive, untrimmed). Like
    // every walk over the table it visits every row and leaves the last one current.
    bool hasAccountName(const QString &name);

    // Current row. currentRow() is its 0-based position, -1 when the table is empty.
    int currentRow() const;
    // Makes the row at tag current (a click on the grid). Out-of-range tags are ignored.
    void setCurrentRow(int tag);
    // The current row's values; throws DataError when the table is empty.
    Account current() const;
    // A column of the current row by name, as text; throws DataError when the table is empty
    // or the column is not one of the six.
    QString value(const QString &column) const;

    // Walk over the table: first() moves to the first row, next() to the following one;
    // atEnd() is true on an empty table or once next() has passed the last row (which then
    // stays current). position() is the 1-based position of the current row, 0 when empty.
    void first();
    void next();
    bool atEnd() const;
    int position() const;

    // Appends a row at the end of table order, commits it and makes it current.
    void insert(const Account &account);
    // Replaces the values of the current row in place and commits them; throws DataError
    // when the table is empty.
    void updateCurrent(const Account &account);
    // Deletes the current row; the row after it (or the new last row) becomes current.
    // Throws DataError when the table is empty; nothing changes then.
    void deleteCurrent();

Q_SIGNALS:
    // Rows were added, changed or deleted through the store.
    void rowsChanged();
    // The current row moved (a walk, a selection, an insert or a delete).
    void currentRowChanged(int tag);

private:
    qint64 rowidAt(int tag) const;
    void setCurrent(int tag);
    [[noreturn]] void fail(const QString &what) const;

    QString m_filePath;
    QString m_connectionName;
    int m_current = -1;
    bool m_pastEnd = false;
};

} // namespace corvane
