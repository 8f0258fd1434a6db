#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace corvane {

// The record of a processing run whose deletions are about to take effect, written to the
// disk before QUIT is sent. It holds what the run adds to the deletion log and to the total,
// so that neither is lost when the program is ended, or the disk fills, between QUIT and the
// saving of the log: the next start finds the record and completes the log from it.
//
// The file is "logfile.pending" in the data directory while QUIT's answer is not known, and is
// renamed to "logfile.confirmed" (a rename takes no room on a full disk) once the server has
// confirmed the deletions. It is a few lines of UTF-8 text:
//     Corvane pending run 1
//     account<TAB>the account's name
//     messages<TAB>how many messages the run deleted
//     log-lines-before<TAB>the number of lines the log held before the run
//     total-before<TAB>the total before the run
//     total-after<TAB>the total once the deletions are confirmed
//     message-line<TAB>index (in the lines below) of a line that names a deleted message
//     line<TAB>a line the run adds to the log
struct PendingRun {
    static const QString FileName;          // "logfile.pending": QUIT's answer not known
    static const QString ConfirmedFileName; // "logfile.confirmed": the deletions took effect

    QString account;
    int messages = 0;
    qsizetype logLinesBefore = 0;
    QString totalBefore;
    QString totalAfter;
    QList<qsizetype> messageLines;
    QStringList lines;

    QByteArray toBytes() const;
    // Reads a record. Input is the user's file: anything that is not a whole record throws
    // DataError naming what is wrong.
    static PendingRun parse(const QByteArray &bytes);

    // The run's lines as the log keeps them when the outcome is not known: each line that
    // names a deleted message is marked as not confirmed (DeletionLog::unconfirmedLine).
    QStringList unconfirmedLines(const QString &why) const;
};

// Where a processing run records itself on the disk, so that no deletion is ever without its
// log line and its count in the total (the program data
// of both programs).
class RunRecorder {
public:
    virtual ~RunRecorder() = default;
    // Before a run: the record of an earlier run that still waits to be saved is saved now.
    // Throws FileError when it cannot be; nothing of the new run is then done.
    virtual void settleEarlierRun() = 0;
    // After the run's last DELE and before QUIT: writes the run's record durably. Throws
    // FileError when it cannot; the run is then undone and nothing is deleted.
    virtual void recordBeforeQuit(const PendingRun &run) = 0;
    // After QUIT's answer: saves the log and the total as they now stand, durably, and removes
    // the record (marked confirmed first when the server confirmed the deletions). Throws
    // FileError when they cannot be saved; the record then stays and the next start adds it
    // to the log.
    virtual void settle(bool confirmed) = 0;
};

} // namespace corvane
