#pragma once

#include <QString>
#include <QTemporaryDir>

namespace corvane::test {

// A small tmpfs mounted on a fresh folder for the life of the object: a real file system that
// can be filled to the last byte. Mounting needs root; when it cannot be done, error() says
// why and the test skips with that text.
//     FullDisk disk;
//     if (!disk.mounted()) QSKIP(qPrintable(disk.error()));
//     ... write the files the test needs, then disk.fill(); every later write fails.
class FullDisk {
public:
    explicit FullDisk(qint64 bytes = 512 * 1024);
    ~FullDisk();
    FullDisk(const FullDisk &) = delete;
    FullDisk &operator=(const FullDisk &) = delete;

    bool mounted() const { return m_mounted; }
    const QString &error() const { return m_error; }
    const QString &path() const { return m_path; }
    QString filePath(const QString &name) const;
    // Takes every free block with a filler file; true when the file system is then full.
    bool fill();
    // Removes the filler file.
    void release();

private:
    QTemporaryDir m_dir;
    QString m_path;
    QString m_error;
    bool m_mounted = false;
};

} // namespace corvane::test
