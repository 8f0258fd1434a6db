#include "core/platform/durablefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvane {

namespace {

QString systemReason(int error) {
    return qt_error_string(error);
}

int closeRetrying(int fd) {
    // close() must not be repeated after EINTR on Linux: the descriptor is gone either way.
    return ::close(fd) == 0 || errno == EINTR ? 0 : -1;
}

} // namespace

// A write-only device on the temporary file's descriptor. Small writes are gathered in a
// buffer of our own (so a line-by-line writer does not make a system call per line); every
// system write is checked to its last byte, and the first failure sticks: later writes fail
// and commit() reports it.
class DurableFile::Device final : public QIODevice {
public:
    explicit Device(int fd) : m_fd(fd) {
        m_buffer.reserve(kBufferSize);
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    ~Device() override { closeDescriptor(); }

    bool isSequential() const override { return true; }
    int descriptor() const { return m_fd; }
    // The bytes handed to the system so far.
    qint64 onDisk() const { return m_written; }
    // The bytes the writer gave, buffered or not.
    qint64 accepted() const { return m_written + m_buffer.size(); }
    int failure() const { return m_errno; }
    // Hands the buffered bytes to the system; false when that fails (see failure()).
    bool flushBuffer() {
        if (m_errno != 0)
            return false;
        const bool ok = writeOut(m_buffer.constData(), m_buffer.size());
        m_buffer.clear();
        return ok;
    }
    int closeDescriptor() {
        if (m_fd < 0)
            return 0;
        const int rc = closeRetrying(m_fd);
        m_fd = -1;
        return rc;
    }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override {
        if (m_errno == 0 && m_fd < 0)
            setFailure(EBADF);
        if (m_errno != 0) {
            setErrorString(systemReason(m_errno));
            return -1;
        }
        if (m_buffer.size() + size > kBufferSize && !flushBuffer())
            return -1;
        if (size >= kBufferSize)
            return writeOut(data, size) ? size : -1;
        m_buffer.append(data, size);
        return size;
    }

private:
    static constexpr qsizetype kBufferSize = 64 * 1024;

    void setFailure(int error) {
        m_errno = error;
        setErrorString(systemReason(error));
    }
    bool writeOut(const char *data, qint64 size) {
        qint64 done = 0;
        while (done < size) {
            const ssize_t n = ::write(m_fd, data + done, static_cast<size_t>(size - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                setFailure(n < 0 ? errno : EIO);
                return false;
            }
            done += n;
            m_written += n;
        }
        return true;
    }

    int m_fd;
    QByteArray m_buffer;
    qint64 m_written = 0;
    int m_errno = 0;
};

DurableFile::DurableFile(const QString &path) : m_path(path) {
    const QFileInfo info(path);
    const QString name = info.fileName();
    m_dir = info.absolutePath();
    if (name.isEmpty() || name == "."_L1 || name == ".."_L1)
        fail(u"Is a directory"_s);

    m_dirFd = ::open(QFile::encodeName(m_dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_dirFd < 0)
        fail(systemReason(errno));

    struct stat st {};
    if (::fstatat(m_dirFd, QFile::encodeName(name).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode))
            fail(u"It is a symbolic link, which is never followed when writing."_s);
        if (S_ISDIR(st.st_mode))
            fail(u"Is a directory"_s);
        if (!S_ISREG(st.st_mode))
            fail(u"It is not a regular file."_s);
    } else if (errno != ENOENT) {
        fail(systemReason(errno));
    }

    // O_CREAT | O_EXCL never follows a symbolic link and never opens a file someone else
    // placed there; a name that exists is simply tried again with another.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString candidate =
            u".corvane-%1.tmp"_s.arg(QRandomGenerator::global()->generate64(), 16, 16, '0'_L1);
        const int fd = ::openat(m_dirFd, QFile::encodeName(candidate).constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            m_tempName = candidate;
            m_device = std::make_unique<Device>(fd);
            return;
        }
        if (errno != EEXIST)
            fail(systemReason(errno));
    }
    fail(systemReason(EEXIST));
}

DurableFile::~DurableFile() {
    cancel();
}

QIODevice *DurableFile::device() {
    return m_device.get();
}

qint64 DurableFile::written() const {
    return m_device ? m_device->accepted() : 0;
}

void DurableFile::cancel() noexcept {
    if (m_device) {
        m_device->closeDescriptor();
        m_device.reset();
    }
    if (!m_tempName.isEmpty() && m_dirFd >= 0)
        ::unlinkat(m_dirFd, QFile::encodeName(m_tempName).constData(), 0);
    m_tempName.clear();
    if (m_dirFd >= 0) {
        closeRetrying(m_dirFd);
        m_dirFd = -1;
    }
}

WriteError::WriteError(const QString &path, QString reason)
    : FileError(u"Cannot create file \"%1\". %2"_s.arg(QDir::toNativeSeparators(path), reason)),
      m_reason(std::move(reason)) {}

void DurableFile::fail(const QString &reason) {
    cancel();
    throw WriteError(m_path, reason);
}

void DurableFile::commit() {
    if (!m_device)
        fail(systemReason(EBADF));
    if (!m_device->flushBuffer())
        fail(systemReason(m_device->failure()));
    const int fd = m_device->descriptor();
    const qint64 expected = m_device->onDisk();
    if (::fsync(fd) != 0)
        fail(systemReason(errno));
    struct stat written {};
    if (::fstat(fd, &written) != 0)
        fail(systemReason(errno));
    if (written.st_size != expected)
        fail(u"Only %1 of %2 bytes reached the disk."_s.arg(written.st_size).arg(expected));
    if (m_device->closeDescriptor() != 0)
        fail(systemReason(errno));

    const QByteArray target = QFile::encodeName(QFileInfo(m_path).fileName());
    // rename() replaces the name itself; a symbolic link put there meanwhile is replaced,
    // never followed.
    if (::renameat(m_dirFd, QFile::encodeName(m_tempName).constData(), m_dirFd,
                   target.constData()) != 0)
        fail(systemReason(errno));
    m_tempName.clear();
    m_device.reset();
    // Some file systems cannot sync a folder (EINVAL); the file itself is synced already.
    if (::fsync(m_dirFd) != 0 && errno != EINVAL)
        fail(systemReason(errno));
    struct stat placed {};
    if (::fstatat(m_dirFd, target.constData(), &placed, AT_SYMLINK_NOFOLLOW) != 0)
        fail(systemReason(errno));
    if (placed.st_ino != written.st_ino || placed.st_dev != written.st_dev ||
        placed.st_size != expected)
        fail(u"The file on the disk is not the one written."_s);
    cancel();
}

void writeFileDurably(const QString &path, const QByteArray &bytes) {
    DurableFile file(path);
    // A failed write is remembered by the device; commit() reports its reason.
    file.device()->write(bytes);
    file.commit();
}

int removeStrayTemporaryFiles(const QString &folder) {
    int removed = 0;
    const QDir dir(folder);
    const QStringList names =
        dir.entryList({u".corvane-*.tmp"_s}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        // Only the names the writer makes: ".corvane-" and 16 hex digits.
        if (name.size() != 29 || !QFileInfo(dir.filePath(name)).isFile() ||
            QFileInfo(dir.filePath(name)).isSymLink())
            continue;
        if (QFile::remove(dir.filePath(name)))
            ++removed;
    }
    return removed;
}

} // namespace corvane
