#pragma once

#include "core/protocol/transport.h"

#include <QByteArray>
#include <QString>

namespace corvane::test {

// A scripted transport for protocol tests: what the server will say is queued with
// serverSays() before the client reads it, and what the client wrote is collected for
// takeWritten(). A read with nothing queued behaves as a server that closed the connection,
// so a script that is too short fails the operation instead of hanging.
class FakeTransport final : public Transport {
public:
    // Queues bytes the server sends, line breaks included.
    void serverSays(const QByteArray &bytes) { m_incoming += bytes; }
    // Everything the client wrote since the last call, CR LF included.
    QByteArray takeWritten();
    // Once the queued bytes are read, the server sends these on every read, without end (a
    // reply that never ends; only a deadline stops the client).
    void serverRepeatsForever(const QByteArray &bytes) { m_endless = bytes; }
    // Delivers queued bytes at most this many at a time (0: everything at once), to exercise
    // line assembly across reads.
    void setChunkSize(qsizetype bytes) { m_chunkSize = bytes; }
    // The next connection attempt fails with this text (empty: it succeeds).
    void refuseConnection(const QString &errorText) { m_refusal = errorText; }
    // Writes after this many more lines fail as on a dropped connection (-1: never).
    void failWritesAfter(int lines) { m_writesLeft = lines; }

    const QString &host() const { return m_host; }
    quint16 port() const { return m_port; }
    int connectCount() const { return m_connects; }
    int closeCount() const { return m_closes; }
    // Bytes queued but not read by the client.
    qsizetype unread() const { return m_incoming.size(); }

    bool isOpen() const override { return m_open; }
    void close() override;
    void abort() override;

protected:
    void connectTo(const QString &host, quint16 port) override;
    void send(const QByteArray &bytes) override;
    void receiveMore(QByteArray &buffer) override;

private:
    QByteArray m_incoming;
    QByteArray m_endless;
    QByteArray m_written;
    QString m_refusal;
    QString m_host;
    quint16 m_port = 0;
    qsizetype m_chunkSize = 0;
    int m_writesLeft = -1;
    int m_connects = 0;
    int m_closes = 0;
    bool m_open = false;
};

} // namespace corvane::test
