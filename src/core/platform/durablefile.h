#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QIODevice;

#include "core/errors.h"

namespace corvane {

// What a durable write throws: a FileError whose message is "Cannot create file "<path>".
// <reason>", with the system's reason also on its own for callers that word the error their way.
class WriteError : public FileError {
public:
    WriteError(const QString &path, QString reason);
    const QString &reason() const noexcept { return m_reason; }

private:
    QString m_reason;
};

// The one way the program writes a file. The bytes go to a new temporary file beside the
// target (created owner-only, 0600, and never through a symbolic link); every write is
// checked, the file is flushed to the disk with fsync, its size on the disk is compared with
// what was written, and only then is it renamed over the target and the folder synced. On any
// failure the temporary file is removed and the old file stays exactly as it was.
//
// A target that is a symbolic link is refused, never followed. Failures throw WriteError
// with the system's reason, e.g. "No space left on device".
void writeFileDurably(const QString &path, const QByteArray &bytes);

// Removes the temporary files (".corvane-*.tmp") that a write cut short by a kill or a power
// loss left in folder. Only a program that holds the data directory's lock may call it: no
// other write can be under way then. Returns how many were removed.
int removeStrayTemporaryFiles(const QString &folder);

// The streaming form, for writers that take a QIODevice:
//     DurableFile file(path);               // throws FileError when it cannot be created
//     WriteSomething(file.device());
//     file.commit();                        // throws FileError; the old file stays
// The device is write-only; small writes are gathered before they go to the system, so a
// failure may show on a later write or only in commit(). The first failure is remembered:
// later writes fail too, and commit() throws with its reason, so a writer that ignores a
// write's result still cannot commit a short file. Destroying the object without commit() discards
// the new file.
class DurableFile {
public:
    explicit DurableFile(const QString &path);
    ~DurableFile();
    DurableFile(const DurableFile &) = delete;
    DurableFile &operator=(const DurableFile &) = delete;

    QIODevice *device();
    // Makes the written bytes the file's content, or throws FileError and keeps the old file.
    void commit();
    // Discards what was written; the old file stays. Called by the destructor.
    void cancel() noexcept;
    // The bytes accepted so far.
    qint64 written() const;

private:
    class Device;
    QString m_path;
    QString m_dir;
    QString m_tempName;
    int m_dirFd = -1;
    std::unique_ptr<Device> m_device;
    [[noreturn]] void fail(const QString &reason);
};

} // namespace corvane
