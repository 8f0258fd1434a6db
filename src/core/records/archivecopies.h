#pragma once

#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

class QThread;

namespace corvane {

// What the list of saved e-mails shows of one archive copy.
struct ArchiveCopy {
    QString name;    // the file's name in the archive folder, without the folder
    QString subject; // decoded
    QString from;    // the sender's display form
    QString to;      // the recipients' display form
    QDateTime date;  // null when the copy has no readable date (shown as the zero date)
};

// The names of the archive copies in a folder: every file whose name ends in ".eml" (in any
// case), names that begin with a dot included (an empty subject gives ".eml"). Folders,
// symbolic links and other files are left out; a missing folder has none. The names are in the
// order people read them (case and accents aside), so that the list does not depend on how the
// file system happens to keep its entries.
QStringList archiveCopyNames(const QString &folder);

// Reads what the list shows of one archive copy: the header block, read as a fetched message's
// (dot-unstuffed, within the message limits), and its fields; the body is not read, but the
// file must end with the end line "." that every whole copy ends with. An address the strict
// parser rejects is shown in its lenient reading: a copy of spam is listed even when its
// sender's address is malformed. Throws FileError for a file that cannot be read and DataError
// for one that is not a whole message file (no end line, an over-long header line, a header
// past the limits).
ArchiveCopy readArchiveCopy(const QString &folder, const QString &name);

// Reads a folder's archive copies on a worker thread, so that a folder of thousands of copies
// never holds up the window that lists them. The copies arrive in batches, in the order of
// archiveCopyNames; a file that cannot be read is left out. Starting a new scan (or
// destroying the object) stops the one before: nothing of a stopped scan arrives afterwards.
class ArchiveScan final : public QObject {
    Q_OBJECT
public:
    explicit ArchiveScan(QObject *parent = nullptr);
    ~ArchiveScan() override;

    void start(const QString &folder);
    void stop();
    bool running() const { return m_running; }

Q_SIGNALS:
    // The scan found this many names to read.
    void namesFound(int total);
    // The next readable copies; done of total names have been read so far.
    void copiesRead(const QList<corvane::ArchiveCopy> &copies, int done, int total);
    // Every name has been read; skipped could not be read as message files.
    void finished(int skipped);

private:
    struct Run;
    void join();

    std::shared_ptr<Run> m_run;
    QThread *m_thread = nullptr;
    bool m_running = false;
};

} // namespace corvane

Q_DECLARE_METATYPE(corvane::ArchiveCopy)
