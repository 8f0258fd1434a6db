#include "fakesmtpserver.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace corvane::test {

struct FakeSmtpServer::Connection {
    QTcpSocket *socket = nullptr;
    QByteArray pending;
    bool inData = false;
    Message message;
};

FakeSmtpServer::FakeSmtpServer() : m_server(std::make_unique<QTcpServer>()) {
    m_replies = {
        {"CONNECT", "220 fake.test ESMTP ready\r\n"},
        {"EHLO", "250-fake.test greets you\r\n250-8BITMIME\r\n250 HELP\r\n"},
        {"HELO", "250 fake.test\r\n"},
        {"RSET", "250 OK\r\n"},
        {"MAIL", "250 OK\r\n"},
        {"RCPT", "250 OK\r\n"},
        {"DATA", "354 End data with <CR><LF>.<CR><LF>\r\n"},
        {".", "250 OK queued\r\n"},
        {"QUIT", "221 Bye\r\n"},
    };
    m_server->listen(QHostAddress::LocalHost, 0);
    connect(m_server.get(), &QTcpServer::newConnection, this, &FakeSmtpServer::accept);
}

FakeSmtpServer::~FakeSmtpServer() {
    for (const auto &c : std::as_const(m_open))
        if (c->socket)
            c->socket->disconnect(this);
}

quint16 FakeSmtpServer::port() const {
    return m_server->serverPort();
}

FakeSmtpServer &FakeSmtpServer::setReply(const QByteArray &verb, const QByteArray &reply) {
    m_replies.insert(verb, reply);
    m_drops.removeAll(verb);
    return *this;
}

FakeSmtpServer &FakeSmtpServer::dropAt(const QByteArray &verb) {
    m_drops.append(verb);
    return *this;
}

void FakeSmtpServer::accept() {
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        ++m_connections;
        auto c = std::make_shared<Connection>();
        c->socket = socket;
        m_open.append(c);
        Connection *raw = c.get();
        connect(socket, &QIODevice::readyRead, this, [this, raw] { readFrom(*raw); });
        connect(socket, &QAbstractSocket::disconnected, this, [this, raw, socket] {
            ++m_closed;
            raw->socket = nullptr;
            socket->deleteLater();
        });
        answer(*c, "CONNECT");
    }
}

void FakeSmtpServer::answer(Connection &c, const QByteArray &verb) {
    if (!c.socket)
        return;
    if (m_drops.contains(verb)) {
        c.socket->disconnectFromHost();
        return;
    }
    c.socket->write(m_replies.value(verb, "500 Unknown command\r\n"));
    c.socket->flush();
    if (verb == "QUIT")
        c.socket->disconnectFromHost();
}

void FakeSmtpServer::readFrom(Connection &c) {
    if (!c.socket)
        return;
    c.pending += c.socket->readAll();
    for (qsizetype end; c.socket && (end = c.pending.indexOf('\n')) >= 0;) {
        QByteArray line = c.pending.left(end);
        if (line.endsWith('\r'))
            line.chop(1);
        c.pending.remove(0, end + 1);
        if (c.inData) {
            if (line == ".") {
                c.inData = false;
                const QByteArray reply = m_replies.value(".");
                if (reply.startsWith('2') && !m_drops.contains("."))
                    m_messages.append(c.message);
                answer(c, ".");
            } else {
                c.message.dataLines.append(line.startsWith('.') ? line.mid(1) : line);
            }
            continue;
        }
        m_commands.append(line);
        const qsizetype blank = line.indexOf(' ');
        const QByteArray verb = (blank < 0 ? line : line.left(blank)).toUpper();
        const QByteArray upper = line.toUpper();
        auto bracketed = [&line] {
            const qsizetype open = line.indexOf('<');
            const qsizetype close = line.lastIndexOf('>');
            return open >= 0 && close > open ? line.mid(open + 1, close - open - 1) : QByteArray();
        };
        const bool accepted = m_replies.value(verb).startsWith('2') && !m_drops.contains(verb);
        if (verb == "RSET" || verb == "EHLO" || verb == "HELO") {
            c.message = Message();
        } else if (upper.startsWith("MAIL FROM:")) {
            if (accepted)
                c.message.from = bracketed();
        } else if (upper.startsWith("RCPT TO:")) {
            if (accepted)
                c.message.to.append(bracketed());
        } else if (verb == "DATA") {
            c.inData = m_replies.value(verb).startsWith('3') && !m_drops.contains(verb);
            c.message.dataLines.clear();
        }
        answer(c, verb);
    }
}

} // namespace corvane::test
