#include "fakepop3mailbox.h"

#include "core/errors.h"

#include <algorithm>
#include <functional>

using namespace Qt::StringLiterals;

namespace corvane::test {
namespace {

QByteArray wireForm(const QByteArray &text) {
    QByteArray out;
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        out += line + "\r\n";
    }
    // A final line break adds no empty line.
    if (text.endsWith('\n'))
        out.chop(2);
    return out;
}

} // namespace

void FakePop3Mailbox::addMailbox(const QString &host, const QString &user, const QString &password,
                                 const QList<QByteArray> &messages) {
    Mailbox box{user, password, {}};
    for (const QByteArray &m : messages)
        box.messages.append(wireForm(m));
    m_boxes.insert(host, box);
}

QList<QByteArray> FakePop3Mailbox::messages(const QString &host) const {
    return m_boxes.value(host).messages;
}

void FakePop3Mailbox::refuse(const QByteArray &commandLine, const QByteArray &text) {
    m_refusals.insert(commandLine, text);
}

void FakePop3Mailbox::dropAt(const QByteArray &commandLine) {
    m_drops.append(commandLine);
}

void FakePop3Mailbox::loseReplyTo(const QByteArray &commandLine) {
    m_lostReplies.append(commandLine);
}

void FakePop3Mailbox::cutRetr(const QByteArray &commandLine, int lines) {
    m_cuts.insert(commandLine, lines);
}

void FakePop3Mailbox::setListedSize(int n, qint64 size) {
    m_listedSizes.insert(n, size);
}

QList<QByteArray> FakePop3Mailbox::commandsTo(const QString &host) const {
    const QByteArray prefix = host.toUtf8() + ": ";
    QList<QByteArray> out;
    for (const QByteArray &c : m_commands)
        if (c.startsWith(prefix))
            out.append(c.mid(prefix.size()));
    return out;
}

void FakePop3Mailbox::close() {
    // A session that ends without QUIT forgets its deletion marks.
    m_open = false;
    m_loggedIn = false;
    m_marked.clear();
    m_incoming.clear();
    m_partial.clear();
}

void FakePop3Mailbox::connectTo(const QString &host, quint16) {
    if (!m_boxes.contains(host))
        throw NetworkError(socketErrorText(11001, u"Host not found."_s));
    m_host = host;
    m_open = true;
    m_loggedIn = false;
    m_marked.clear();
    m_incoming.clear();
    m_partial.clear();
    reply("+OK fake POP3 ready");
}

void FakePop3Mailbox::send(const QByteArray &bytes) {
    if (!m_open)
        throw NetworkError(notConnectedText());
    ++m_writes;
    m_partial += bytes;
    for (qsizetype end; m_open && (end = m_partial.indexOf("\r\n")) >= 0;) {
        const QByteArray line = m_partial.left(end);
        m_partial.remove(0, end + 2);
        handle(line);
        if (m_loseReply) {
            m_loseReply = false;
            close();
        }
    }
}

void FakePop3Mailbox::receiveMore(QByteArray &buffer) {
    if (m_incoming.isEmpty()) {
        // A real server would wait for a command; a client waiting here would hang.
        close();
        throw NetworkError(closedGracefullyText());
    }
    buffer += m_incoming;
    m_incoming.clear();
}

const QByteArray *FakePop3Mailbox::message(const QByteArray &argument) {
    bool ok = false;
    const int n = argument.toInt(&ok);
    const Mailbox &box = m_boxes[m_host];
    if (!ok || n < 1 || n > box.messages.size()) {
        reply("-ERR There's no message " + argument + '.');
        return nullptr;
    }
    if (m_marked.contains(n - 1)) {
        reply("-ERR Message is deleted.");
        return nullptr;
    }
    return &box.messages[n - 1];
}

void FakePop3Mailbox::replyWithMessage(const QByteArray &message, bool headerOnly, int maxLines) {
    reply("+OK");
    QList<QByteArray> lines = message.split('\n');
    if (message.endsWith('\n'))
        lines.removeLast();
    if (maxLines >= 0)
        lines = lines.mid(0, maxLines);
    for (QByteArray line : std::as_const(lines)) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (headerOnly && line.isEmpty())
            break;
        reply(line.startsWith('.') ? '.' + line : line);
    }
    if (headerOnly)
        reply(QByteArray());
    reply(".");
}

void FakePop3Mailbox::handle(const QByteArray &line) {
    const QByteArray upper = line.toUpper();
    m_commands.append(m_host.toUtf8() + ": " +
                      (upper.startsWith("PASS ") ? QByteArray("PASS ****") : line));
    if (m_drops.contains(line)) {
        close();
        return;
    }
    if (m_refusals.contains(line)) {
        reply("-ERR " + m_refusals.value(line));
        return;
    }
    // The command takes effect; its reply and the connection are lost (see send()).
    if (m_lostReplies.removeOne(line))
        m_loseReply = true;
    const qsizetype blank = line.indexOf(' ');
    const QByteArray verb = (blank < 0 ? line : line.left(blank)).toUpper();
    const QByteArray arg = blank < 0 ? QByteArray() : line.mid(blank + 1);
    Mailbox &box = m_boxes[m_host];

    if (verb == "QUIT") {
        if (m_loggedIn) {
            // The update state: marked messages go, from the highest index down.
            std::sort(m_marked.begin(), m_marked.end(), std::greater<>());
            for (int i : std::as_const(m_marked))
                box.messages.removeAt(i);
        }
        m_marked.clear();
        reply("+OK Logging out.");
        m_loggedIn = false;
        return;
    }
    if (verb == "CAPA") {
        // What a current server announces: commands may be sent ahead of their replies.
        for (const char *l :
             {"+OK", "CAPA", "TOP", "UIDL", "RESP-CODES", "PIPELINING", "USER", "."})
            reply(l);
        return;
    }
    if (!m_loggedIn) {
        if (verb == "USER") {
            m_user = arg;
            reply("+OK");
        } else if (verb == "PASS") {
            if (m_user == box.user.toUtf8() && arg == box.password.toUtf8()) {
                m_loggedIn = true;
                reply("+OK Logged in.");
            } else {
                reply("-ERR [AUTH] Authentication failed.");
            }
        } else {
            reply("-ERR Unknown command.");
        }
        return;
    }
    if (verb == "STAT" || (verb == "LIST" && arg.isEmpty())) {
        int count = 0;
        qsizetype size = 0;
        QList<QByteArray> listing;
        for (qsizetype i = 0; i < box.messages.size(); ++i) {
            if (m_marked.contains(int(i)))
                continue;
            ++count;
            size += box.messages[i].size();
            listing.append(QByteArray::number(i + 1) + ' ' +
                           QByteArray::number(box.messages[i].size()));
        }
        if (verb == "STAT") {
            reply("+OK " + QByteArray::number(count) + ' ' + QByteArray::number(size));
        } else {
            reply("+OK " + QByteArray::number(count) + " messages:");
            for (const QByteArray &l : listing)
                reply(l);
            reply(".");
        }
    } else if (verb == "LIST") {
        if (const QByteArray *m = message(arg))
            reply("+OK " + arg + ' ' +
                  QByteArray::number(m_listedSizes.value(arg.toInt(), m->size())));
    } else if (verb == "TOP") {
        const QList<QByteArray> args = arg.split(' ');
        if (const QByteArray *m = message(args.value(0)))
            replyWithMessage(*m, true);
    } else if (verb == "RETR") {
        if (const QByteArray *m = message(arg))
            replyWithMessage(*m, false, m_cuts.value(line, -1));
    } else if (verb == "DELE") {
        if (message(arg)) {
            m_marked.append(arg.toInt() - 1);
            reply("+OK Marked to be deleted.");
        }
    } else if (verb == "RSET") {
        m_marked.clear();
        reply("+OK");
    } else if (verb == "NOOP") {
        reply("+OK");
    } else {
        reply("-ERR Unknown command.");
    }
}

} // namespace corvane::test
