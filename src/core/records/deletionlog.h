#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

class QIODevice;

namespace corvane {

// The deletion log: the lines that processing appends for every message it deletes or
// bounces, kept in logfile.log (each line followed by CR LF), and the running total of
// handled messages. The total is kept as text because the settings file stores it that way
// and the user may edit it there; it is turned into a number only when it is incremented.
class DeletionLog {
public:
    static const QString FileName; // "logfile.log"

    QStringList LogLines;
    QString DeleteCount = QStringLiteral("0");

    // Replaces LogLines with the file's lines when the file exists; a missing file leaves them
    // as they are. Throws FileError when the file exists but cannot be read; LogLines are then
    // unchanged.
    void load(const QString &path);
    // Writes LogLines to the file with writeFileDurably. Throws
    // FileError "Unable to write to <path>. <reason>" when that fails, and DataError when the file
    // exists and the last load() failed, so a log that could not be read is not replaced.
    void save(const QString &path) const;
    // False after a failed load() until a later load() succeeds.
    bool canSaveOver() const { return m_readOk; }
    // The file that the last load() could not read; empty after a successful load(). Lines
    // appended meanwhile could never be saved into it.
    const QString &unreadableFile() const { return m_unreadablePath; }

    // Lines of a log file: split at CR LF, LF or CR; a final line ending adds no empty line.
    // Read as UTF-8 when valid, else as Windows-1252.
    static QStringList readLines(QIODevice &device);
    // Each line followed by CR LF; Windows-1252 when every character fits, else UTF-8.
    static QByteArray toBytes(const QStringList &lines);

    // "Clear Log": no lines and a total of "0".
    void clear();
    // Adds 1 to the total. Throws DataError when the total is not a whole number; it is then
    // unchanged.
    void incrementDeleteCount();
    // True when the total can be incremented. Otherwise (a hand-edited or damaged settings
    // value, or a total at the largest number) it is set to "0", so that counting starts again,
    // and false is returned.
    bool restartCountIfUnusable();

    // The lines processing appends, in the formats other programs may read. The texts from
    // mail in them are made safe first (safeText): they can neither end the line nor carry
    // control characters into it.
    // "<short date> - <long time> begin process messages" in the locale's formats.
    static QString runStartLine(const QDateTime &now, const QLocale &locale = QLocale::system());
    static QString runStartRule(); // 45 hyphens
    static QString deletedLine(const QString &from, const QString &to, const QString &subject,
                               const QString &date);
    static QString bouncedLine(const QString &from, const QString &to, const QString &subject,
                               const QString &date);
    // The deleted line of a message marked for bouncing that got no notice, followed by
    // " - not bounced: " and the reason.
    static QString notBouncedLine(const QString &from, const QString &to, const QString &subject,
                                  const QString &date, const QString &reason);
    // 40 hyphens, "Process Messages finished" and an empty line.
    static QStringList runEndLines();
    // A deleted or bounced line of a run whose end the server never confirmed: the messages
    // may or may not have been deleted. The line no longer begins "Email from", so nothing
    // that counts the log's deletions counts it. why says what left the outcome open.
    static QString unconfirmedLine(const QString &line,
                                   const QString &why = QStringLiteral("no answer to QUIT"));

    void appendRunStart(const QDateTime &now, const QLocale &locale = QLocale::system());
    void appendDeleted(const QString &from, const QString &to, const QString &subject,
                       const QString &date);
    void appendBounced(const QString &from, const QString &to, const QString &subject,
                       const QString &date);
    void appendNotBounced(const QString &from, const QString &to, const QString &subject,
                          const QString &date, const QString &reason);
    void appendRunEnd();

private:
    bool m_readOk = true;
    QString m_unreadablePath;
};

} // namespace corvane
