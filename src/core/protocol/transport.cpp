#include "protocol/transport.h"

#include "errors.h"
#include "platform/legacytext.h"

using namespace Qt::StringLiterals;

namespace corvane {

QString Transport::notConnectedText() {
    return u"Not Connected"_s;
}

QString Transport::closedGracefullyText() {
    return u"Connection Closed Gracefully."_s;
}

QString Transport::socketErrorText(int number, const QString &text) {
    return u"Socket Error # %1\r\n%2"_s.arg(number).arg(text);
}

void Transport::open(const QString &host, quint16 port) {
    if (isOpen())
        throw NetworkError(u"Already connected."_s);
    m_buffer.clear();
    if (m_transcript)
        m_transcript(u"--- connecting to %1:%2"_s.arg(host).arg(port));
    connectTo(host, port);
}

void Transport::writeLine(const QByteArray &line, qsizetype maskFrom) {
    if (!isOpen())
        throw NetworkError(notConnectedText());
    if (m_transcript) {
        if (maskFrom >= 0 && maskFrom < line.size())
            record("--> ", line.left(maskFrom) + QByteArray(line.size() - maskFrom, '*'));
        else
            record("--> ", line);
    }
    send(line + "\r\n");
}

QByteArray Transport::readLine() {
    for (;;) {
        const qsizetype end = m_buffer.indexOf('\n');
        if (end >= 0) {
            qsizetype length = end;
            if (length > 0 && m_buffer.at(length - 1) == '\r')
                --length;
            if (length > MaxLineLength)
                throw ProtocolError(u"Max line length exceeded."_s);
            QByteArray line = m_buffer.left(length);
            m_buffer.remove(0, end + 1);
            record("<-- ", line);
            return line;
        }
        // One byte more than the limit may be the CR of a line of exactly the limit's length.
        if (m_buffer.size() > MaxLineLength + 1)
            throw ProtocolError(u"Max line length exceeded."_s);
        receiveMore(m_buffer);
    }
}

void Transport::record(const char *direction, const QByteArray &bytes) {
    if (m_transcript)
        m_transcript(QLatin1StringView(direction) + decodeLegacyText(bytes));
}

} // namespace corvane
