#include "platform/datadirlock.h"

#include <QDir>
#include <QFile>
#include <QSysInfo>

using namespace Qt::StringLiterals;

namespace corvane {

const QString DataDirectoryLock::FileName = u"corvane.lock"_s;

DataDirectoryLock::DataDirectoryLock(const DataDirectory &directory)
    : m_directory(directory.path()), m_path(directory.filePath(FileName)), m_lock(m_path) {
    // Age alone never makes a lock stale: a long automatic run holds it for hours. QLockFile
    // still takes over a lock whose process is gone.
    m_lock.setStaleLockTime(0);
}

DataDirectoryLock::~DataDirectoryLock() = default;

void DataDirectoryLock::acquire(std::chrono::milliseconds wait) {
    if (m_lock.isLocked())
        return;
    const QString shown = QDir::toNativeSeparators(m_directory);
    if (m_lock.tryLock(int(wait.count()))) {
        // The lock file says only which process holds the directory; still, like every file
        // of the data directory, it is the owner's alone.
        QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner);
        return;
    }
    if (m_lock.error() == QLockFile::LockFailedError) {
        qint64 pid = 0;
        QString host;
        QString program;
        if (m_lock.getLockInfo(&pid, &host, &program)) {
            const QString who = program.isEmpty() ? u"another program"_s : program;
            const bool here = host.isEmpty() || host == QSysInfo::machineHostName();
            const QString where =
                here ? u"process %1"_s.arg(pid) : u"process %1 on %2"_s.arg(pid).arg(host);
            throw LockError(u"The data directory \"%1\" is in use by %2 (%3). Wait until it "
                            u"has finished, or close it, and try again."_s.arg(shown, who, where));
        }
        throw LockError(u"The data directory \"%1\" is in use by another program. Wait until "
                        u"it has finished, or close it, and try again."_s.arg(shown));
    }
    throw LockError(u"The data directory \"%1\" cannot be locked: the lock file \"%2\" cannot "
                    u"be created."_s.arg(shown, QDir::toNativeSeparators(m_path)));
}

} // namespace corvane
