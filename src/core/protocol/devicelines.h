#pragma once

#include "core/protocol/lines.h"

#include <QIODevice>

namespace corvane {

// Lines of a file or buffer. A line ends at LF; a CR before it is dropped. The last line
// needs no line break. Input is untrusted: a line longer than maxLength characters fails with
// DataError "Max line length exceeded."; a read error fails with FileError.
class DeviceLineSource final : public LineSource {
public:
    explicit DeviceLineSource(QIODevice &device, qsizetype maxLength = 16384);
    bool readLine(QByteArray &line) override;

private:
    QIODevice &m_device;
    qsizetype m_maxLength;
};

// Writes every line followed by CR LF; a write error fails with FileError carrying the
// device's error text.
class DeviceLineSink final : public LineSink {
public:
    explicit DeviceLineSink(QIODevice &device) : m_device(device) {}
    void writeLine(const QByteArray &line) override;

private:
    QIODevice &m_device;
};

} // namespace corvane
