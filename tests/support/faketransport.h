#pragma once

#include "core/errors.h"
#include "core/protocol/transport.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <source_location>

namespace corvane::test {

// A scripted transport for protocol tests. A test either writes the conversation as it goes,
//
//     t.reply("+OK ready\r\n").expect("USER alice").reply("+OK\r\n").expect("PASS secret")...
//
// where every line the client writes must be the next expect() (a wrong or unexpected
// command fails the test on the expect() line that was due, and drops the connection so the
// client stops), or queues what the server will say with serverSays() and compares what the
// client wrote with takeWritten() afterwards. Once a script has run to its end the transport
// is a plain queue again, so a fixture can script its login and a test go on either way. A read
// with nothing queued behaves as a server that closed the connection, so a script that is too short
// fails the operation instead of hanging.
class FakeTransport final : public Transport {
public:
    // The server sends these bytes (line breaks included) once the client's line before it,
    // if any, has matched; replies at the start of the script, or after connection(), are
    // sent when the client connects.
    FakeTransport &reply(const QByteArray &bytes);
    // The next line the client writes, without its CR LF. The TLS handshake of startTls()
    // counts as the line "[TLS]".
    FakeTransport &expect(const QByteArray &line,
                          std::source_location where = std::source_location::current());
    // The steps after this one belong to the next connection.
    FakeTransport &connection();
    // Fails the test when expected lines of the script were never written.
    void verifyScriptDone(std::source_location where = std::source_location::current()) const;

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
    // The next connection attempt fails with this text and reason (empty: it succeeds).
    void
    refuseConnection(const QString &errorText,
                     corvane::NetworkError::Reason reason = corvane::NetworkError::Reason::Other) {
        m_refusal = errorText;
        m_refusalReason = reason;
    }
    // The next TLS handshake fails with this text (empty: it succeeds).
    void refuseTls(const QString &errorText) { m_tlsRefusal = errorText; }
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
    void encrypt() override;

private:
    struct Step {
        enum class Kind { Reply, Expect, Connection } kind;
        QByteArray bytes;
        std::source_location where;
    };
    // Delivers the replies that follow the current position, up to the next line the client
    // must write.
    void runReplies();
    void matchLine(const QByteArray &line);

    QList<Step> m_script;
    qsizetype m_next = 0;
    QByteArray m_partialLine; // what the client wrote of its current line, for the script
    QByteArray m_incoming;
    QByteArray m_endless;
    QByteArray m_written;
    QString m_refusal;
    corvane::NetworkError::Reason m_refusalReason = corvane::NetworkError::Reason::Other;
    QString m_tlsRefusal;
    QString m_host;
    quint16 m_port = 0;
    qsizetype m_chunkSize = 0;
    int m_writesLeft = -1;
    int m_connects = 0;
    int m_closes = 0;
    bool m_open = false;
};

} // namespace corvane::test
