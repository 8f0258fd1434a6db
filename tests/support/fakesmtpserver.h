#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>

#include <memory>

class QTcpServer;
class QTcpSocket;

namespace corvane::test {

// An SMTP server on 127.0.0.1 with a free port that answers every command with a scripted
// reply and keeps what it received: every command line, and every message whose end line "."
// it accepted (envelope and unstuffed data lines). Each verb has a default reply that lets a
// delivery succeed; setReply() changes it, dropAt() makes the server close the connection
// instead of answering. It runs in the thread's event loop, so the synchronous client (whose
// waits run a local event loop) can talk to it from the same thread.
class FakeSmtpServer final : public QObject {
public:
    struct Message {
        QByteArray from;             // the address inside MAIL FROM:<...>
        QList<QByteArray> to;        // the addresses inside RCPT TO:<...>, in order
        QList<QByteArray> dataLines; // the data as received, dot-stuffing undone
    };

    // The verbs that have replies: "EHLO", "HELO", "RSET", "MAIL", "RCPT", "DATA", "QUIT",
    // and "." for the end of the data. The greeting is the reply of "CONNECT".
    FakeSmtpServer();
    ~FakeSmtpServer() override;

    quint16 port() const;

    // The reply (one or more lines, CR LF included) to every command of that verb from now on.
    FakeSmtpServer &setReply(const QByteArray &verb, const QByteArray &reply);
    // Closes the connection instead of answering that verb.
    FakeSmtpServer &dropAt(const QByteArray &verb);

    // Every command line received (data lines excluded), in order, over all connections.
    const QList<QByteArray> &commands() const { return m_commands; }
    const QList<Message> &messages() const { return m_messages; }
    int connectionCount() const { return m_connections; }
    // Connections that the client has closed.
    int closedCount() const { return m_closed; }

private:
    struct Connection;
    void accept();
    void readFrom(Connection &c);
    void answer(Connection &c, const QByteArray &verb);

    std::unique_ptr<QTcpServer> m_server;
    QHash<QByteArray, QByteArray> m_replies;
    QList<QByteArray> m_drops;
    QList<QByteArray> m_commands;
    QList<Message> m_messages;
    QList<std::shared_ptr<Connection>> m_open;
    int m_connections = 0;
    int m_closed = 0;
};

} // namespace corvane::test
