#include "faketransport.h"

#include "core/errors.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace corvane::test {

FakeTransport &FakeTransport::reply(const QByteArray &bytes) {
    m_script.append({Step::Kind::Reply, bytes, {}});
    return *this;
}

FakeTransport &FakeTransport::expect(const QByteArray &line, std::source_location where) {
    m_script.append({Step::Kind::Expect, line, where});
    return *this;
}

FakeTransport &FakeTransport::connection() {
    m_script.append({Step::Kind::Connection, {}, {}});
    return *this;
}

void FakeTransport::verifyScriptDone(std::source_location where) const {
    for (qsizetype i = m_next; i < m_script.size(); ++i) {
        if (m_script.at(i).kind == Step::Kind::Expect) {
            const Step &step = m_script.at(i);
            QTest::qFail(
                qPrintable(u"the client never sent \"%1\""_s.arg(QString::fromLatin1(step.bytes))),
                step.where.file_name(), int(step.where.line()));
            return;
        }
    }
    (void)where;
}

void FakeTransport::runReplies() {
    while (m_next < m_script.size() && m_script.at(m_next).kind == Step::Kind::Reply)
        m_incoming += m_script.at(m_next++).bytes;
}

void FakeTransport::matchLine(const QByteArray &line) {
    if (m_next < m_script.size() && m_script.at(m_next).kind == Step::Kind::Expect) {
        const Step &step = m_script.at(m_next);
        if (line == step.bytes) {
            ++m_next;
            runReplies();
            return;
        }
        QTest::qFail(qPrintable(u"expected \"%1\", the client sent \"%2\""_s.arg(
                         QString::fromLatin1(step.bytes), QString::fromLatin1(line))),
                     step.where.file_name(), int(step.where.line()));
    } else {
        QTest::qFail(qPrintable(u"the client sent \"%1\" before the next connection"_s.arg(
                         QString::fromLatin1(line))),
                     __FILE__, __LINE__);
    }
    // The conversation has gone wrong: the client is stopped instead of reading on.
    m_script.clear();
    m_next = 0;
    m_incoming.clear();
    m_open = false;
    throw NetworkError(
        u"The scripted server stopped: the client sent \"%1\"."_s.arg(QString::fromLatin1(line)));
}

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
        throw NetworkError(text, m_refusalReason);
    }
    m_open = true;
    if (m_next < m_script.size() && m_script.at(m_next).kind == Step::Kind::Connection)
        ++m_next;
    runReplies();
}

void FakeTransport::send(const QByteArray &bytes) {
    if (m_writesLeft == 0) {
        m_open = false;
        throw NetworkError(u"Socket Error # 10054\r\nConnection reset by peer."_s);
    }
    if (m_writesLeft > 0)
        --m_writesLeft;
    m_written += bytes;
    // Once the script has run to its end, the transport is a plain queue again.
    if (m_next >= m_script.size()) {
        m_script.clear();
        m_next = 0;
        m_partialLine.clear();
        return;
    }
    m_partialLine += bytes;
    for (qsizetype end = m_partialLine.indexOf("\r\n"); end >= 0;
         end = m_partialLine.indexOf("\r\n")) {
        const QByteArray line = m_partialLine.left(end);
        m_partialLine.remove(0, end + 2);
        matchLine(line);
    }
}

void FakeTransport::encrypt() {
    if (!m_tlsRefusal.isEmpty()) {
        const QString text = m_tlsRefusal;
        m_tlsRefusal.clear();
        m_open = false;
        throw SecurityError(text);
    }
    send("[TLS]\r\n");
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
