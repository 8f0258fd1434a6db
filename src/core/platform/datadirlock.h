#pragma once

#include "core/errors.h"
#include "core/platform/datadir.h"

#include <QLockFile>
#include <QString>

#include <chrono>

namespace corvane {

// Another program holds the data directory, or its lock file cannot be made.
class LockError : public Error {
public:
    using Error::Error;
};

// Keeps a second program (the desktop program or corvane-cli) from writing the same data
// directory at the same time, through a lock file in the directory. A lock left by a program
// that has ended (its process is gone) is taken over; a lock held by a running program is never
// taken, however long it has been held. Released when the object goes.
class DataDirectoryLock {
public:
    static const QString FileName; // "corvane.lock"

    explicit DataDirectoryLock(const DataDirectory &directory);
    ~DataDirectoryLock();
    DataDirectoryLock(const DataDirectoryLock &) = delete;
    DataDirectoryLock &operator=(const DataDirectoryLock &) = delete;

    // Takes the lock, waiting up to wait for the holder to let go. Throws LockError naming
    // the holder ("... is in use by corvane-cli (process 1234) ...") when it does not, or
    // saying why the lock file cannot be made.
    void acquire(std::chrono::milliseconds wait = std::chrono::milliseconds(0));
    bool isLocked() const { return m_lock.isLocked(); }

private:
    QString m_directory;
    QString m_path;
    QLockFile m_lock;
};

} // namespace corvane
