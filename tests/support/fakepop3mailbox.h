#pragma once

#include "core/protocol/transport.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

namespace corvane::test {

// A POP3 server without sockets that behaves like a real one: it holds mailboxes (one per
// host), answers USER, PASS, STAT, LIST, TOP, RETR, DELE, RSET, NOOP and QUIT from their
// contents (and CAPA, announcing PIPELINING), and applies deletions only when a session ends with
// QUIT, never when the connection is dropped. Single commands can be refused or make the server
// drop the connection. Every command line received is kept, prefixed with the host.
class FakePop3Mailbox final : public Transport {
public:
    // A mailbox on host for user and password, holding messages (text with LF or CR LF line
    // breaks, not dot-stuffed).
    void addMailbox(const QString &host, const QString &user, const QString &password,
                    const QList<QByteArray> &messages);
    // The messages the mailbox holds now, in order.
    QList<QByteArray> messages(const QString &host) const;

    // The server answers this exact command line with "-ERR " + text instead.
    void refuse(const QByteArray &commandLine, const QByteArray &text);
    // The server closes the connection when this exact command line arrives.
    void dropAt(const QByteArray &commandLine);
    // The server carries out this exact command line (QUIT: applies the deletions) but the
    // connection drops before its reply.
    void loseReplyTo(const QByteArray &commandLine);
    // RETR with this exact command line sends only the first lines of the message, properly
    // ended with ".".
    void cutRetr(const QByteArray &commandLine, int lines);
    // LIST n answers this size for message n instead of its real one.
    void setListedSize(int n, qint64 size);

    // "host: COMMAND" for every command line received ("PASS ****" masked), in order.
    const QList<QByteArray> &commands() const { return m_commands; }
    // The commands received from the given host only, without the prefix.
    QList<QByteArray> commandsTo(const QString &host) const;
    void clearCommands() {
        m_commands.clear();
        m_writes = 0;
    }
    // How many writes the client made since the last clearCommands(): fewer than the commands
    // when it sent several at once.
    int writes() const { return m_writes; }

    bool isOpen() const override { return m_open; }
    void close() override;
    void abort() override { close(); }

protected:
    void connectTo(const QString &host, quint16 port) override;
    void send(const QByteArray &bytes) override;
    void receiveMore(QByteArray &buffer) override;

private:
    struct Mailbox {
        QString user;
        QString password;
        QList<QByteArray> messages; // wire form: CR LF line breaks, no end line
    };
    void handle(const QByteArray &line);
    void reply(const QByteArray &line) { m_incoming += line + "\r\n"; }
    // Replies "+OK" with the message's lines (all, or the header only) and the end line.
    void replyWithMessage(const QByteArray &message, bool headerOnly, int maxLines = -1);
    // The message with that number when it exists and is not marked; replies -ERR otherwise.
    const QByteArray *message(const QByteArray &argument);

    QHash<QString, Mailbox> m_boxes;
    QHash<QByteArray, QByteArray> m_refusals;
    QList<QByteArray> m_drops;
    QList<QByteArray> m_lostReplies;
    QHash<QByteArray, int> m_cuts;
    QHash<int, qint64> m_listedSizes;
    QList<QByteArray> m_commands;
    QByteArray m_incoming;
    QByteArray m_partial;
    QString m_host;
    QByteArray m_user;
    QList<int> m_marked; // 0-based indexes marked for deletion
    bool m_open = false;
    bool m_loggedIn = false;
    bool m_loseReply = false;
    int m_writes = 0;
};

} // namespace corvane::test
