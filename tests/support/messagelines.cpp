#include "messagelines.h"

namespace corvane::test {

ListLineSource ListLineSource::fromText(const QByteArray &text) {
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray &l : lines)
        if (l.endsWith('\r'))
            l.chop(1);
    return ListLineSource(lines);
}

bool ListLineSource::readLine(QByteArray &line) {
    if (m_next >= m_lines.size())
        return false;
    line = m_lines[m_next++];
    return true;
}

QByteArray ListLineSink::text() const {
    QByteArray out;
    for (const QByteArray &l : lines)
        out += l + "\r\n";
    return out;
}

} // namespace corvane::test
