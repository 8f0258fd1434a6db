#pragma once

#include <QIODevice>

namespace corvane::test {

// A write-only device that accepts limit bytes and then refuses every write, like a full disk.
class FailingDevice final : public QIODevice {
public:
    explicit FailingDevice(qint64 limit) : m_limit(limit) { open(QIODevice::WriteOnly); }
    QByteArray written;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override {
        if (written.size() + size > m_limit) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        written.append(data, size);
        return size;
    }

private:
    qint64 m_limit;
};

} // namespace corvane::test
