#include "core/platform/datadirlock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSysInfo>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvane {

namespace {

// The system's reason why a small file cannot be made in a folder (QLockFile keeps it to
// itself): tries with a file of its own, removed at once.
QString whyNoFileCanBeMade(const QString &folder) {
    const QByteArray probe = QFile::encodeName(
        QDir(folder).filePath(u".corvane-lock-probe-%1"_s.arg(QCoreApplication::applicationPid())));
    const int fd =
        ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return qt_error_string(errno);
    const char line[] = "0000000000\n";
    int error = 0;
    if (::write(fd, line, sizeof line - 1) != ssize_t(sizeof line - 1) || ::fsync(fd) != 0)
        error = errno;
    ::close(fd);
    ::unlink(probe.constData());
    return error != 0 ? qt_error_string(error) : u"The reason is not known."_s;
}

} // namespace

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
                    u"be made. %3"_s.arg(shown, QDir::toNativeSeparators(m_path),
                                         whyNoFileCanBeMade(m_directory)));
}

} // namespace corvane
