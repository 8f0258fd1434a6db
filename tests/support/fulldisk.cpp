#include "fulldisk.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvane::test {

namespace {
constexpr auto kFiller = "filler";
}

FullDisk::FullDisk(qint64 bytes) {
    if (!m_dir.isValid()) {
        m_error = u"No temporary folder for the test file system: %1"_s.arg(m_dir.errorString());
        return;
    }
    m_path = m_dir.path();
    if (::geteuid() != 0) {
        m_error = u"Mounting a small tmpfs to fill needs root; this test runs as uid %1."_s.arg(
            ::geteuid());
        return;
    }
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0700";
    if (::mount("corvane-test", QFile::encodeName(m_path).constData(), "tmpfs", 0,
                options.constData()) != 0) {
        m_error = u"Cannot mount a tmpfs on %1: %2"_s.arg(m_path, qt_error_string(errno));
        return;
    }
    m_mounted = true;
}

FullDisk::~FullDisk() {
    if (m_mounted && ::umount2(QFile::encodeName(m_path).constData(), 0) != 0)
        ::umount2(QFile::encodeName(m_path).constData(), MNT_DETACH);
}

QString FullDisk::filePath(const QString &name) const {
    return QDir(m_path).filePath(name);
}

bool FullDisk::fill() {
    const int fd = ::open(QFile::encodeName(filePath(QString::fromLatin1(kFiller))).constData(),
                          O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const QByteArray block(4096, 'x');
    bool full = false;
    // Whole blocks first, then single bytes until not even one fits.
    for (qsizetype size : {block.size(), qsizetype(1)}) {
        while (true) {
            const ssize_t n = ::write(fd, block.constData(), static_cast<size_t>(size));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                full = errno == ENOSPC;
                break;
            }
        }
    }
    ::close(fd);
    return full;
}

void FullDisk::release() {
    QFile::remove(filePath(QString::fromLatin1(kFiller)));
}

} // namespace corvane::test
