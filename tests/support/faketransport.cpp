#include "faketransport.h"

#include "core/errors.h"

using namespace Qt::StringLiterals;

namespace corvane::test {

QByteArray FakeTransport::takeWritten() {
    QByteArray written;
    written.swap(m_written);
    return written;
}

void FakeTransport::close() {
    if (m_open)
        ++m_closes;
    m_open = false;
}

void FakeTransport::abort() {
    m_open = false;
}

void FakeTransport::connectTo(const QString &host, quint16 port) {
    m_host = host;
    m_port = port;
    ++m_connects;
    if (!m_refusal.isEmpty()) {
        const QString text = m_refusal;
        m_refusal.clear();
        throw NetworkError(text);
    }
    m_open = true;
}

void FakeTransport::send(const QByteArray &bytes) {
    if (m_writesLeft == 0) {
        m_open = false;
        throw NetworkError(u"Socket Error # 10054\r\nConnection reset by peer."_s);
    }
    if (m_writesLeft > 0)
        --m_writesLeft;
    m_written += bytes;
}

void FakeTransport::receiveMore(QByteArray &buffer) {
    if (!m_open)
        throw NetworkError(notConnectedText());
    if (m_incoming.isEmpty() && !m_endless.isEmpty()) {
        buffer += m_endless;
        return;
    }
    if (m_incoming.isEmpty()) {
        m_open = false;
        throw NetworkError(closedGracefullyText());
    }
    const qsizetype n = m_chunkSize > 0 ? qMin(m_chunkSize, m_incoming.size()) : m_incoming.size();
    buffer += m_incoming.left(n);
    m_incoming.remove(0, n);
}

} // namespace corvane::test
