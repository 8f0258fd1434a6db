#include "core/protocol/devicelines.h"

#include "core/errors.h"

using namespace Qt::StringLiterals;

namespace corvane {

DeviceLineSource::DeviceLineSource(QIODevice &device, qsizetype maxLength)
    : m_device(device), m_maxLength(maxLength) {}

bool DeviceLineSource::readLine(QByteArray &line) {
    line.clear();
    if (m_device.atEnd())
        return false;
    // Room for the longest allowed line, CR LF, and one byte more to see an over-long one.
    line = m_device.readLine(m_maxLength + 3);
    if (line.isEmpty()) {
        if (m_device.atEnd())
            return false;
        throw FileError(m_device.errorString());
    }
    const bool ended = line.endsWith('\n');
    if (ended)
        line.chop(1);
    if (line.endsWith('\r') && (ended || m_device.atEnd()))
        line.chop(1);
    if (line.size() > m_maxLength || (!ended && !m_device.atEnd()))
        throw DataError(u"Max line length exceeded."_s);
    return true;
}

void DeviceLineSink::writeLine(const QByteArray &line) {
    QByteArray out;
    out.reserve(line.size() + 2);
    out.append(line).append("\r\n");
    if (m_device.write(out) != out.size())
        throw FileError(m_device.errorString());
}

} // namespace corvane
