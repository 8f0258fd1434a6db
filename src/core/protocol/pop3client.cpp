#include "core/protocol/pop3client.h"

#include "core/errors.h"
#include "core/platform/legacytext.h"
#include "core/protocol/mailaddress.h"
#include "core/protocol/mailmessage.h"
#include "core/protocol/transport.h"

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

// The part of a reply text after its first blank, or the whole text when it has none.
QByteArray afterFirstBlank(const QByteArray &text) {
    const qsizetype blank = text.indexOf(' ');
    return blank < 0 ? text : text.mid(blank + 1).trimmed();
}

QByteArray number(int n) {
    return QByteArray::number(n);
}

} // namespace

Pop3Reply Pop3Reply::parse(const QByteArray &line) {
    Pop3Reply reply;
    reply.line = line;
    const QByteArray status = line.left(4).trimmed();
    if (status == "+OK")
        reply.status = Status::Ok;
    else if (status == "-ERR")
        reply.status = Status::Err;
    else
        return reply;
    reply.text = line.mid(status.size()).trimmed();
    return reply;
}

Pop3DataLines::Pop3DataLines(Transport &transport)
    : m_transport(transport), m_deadline(transport.startDataDeadline()) {}

bool Pop3DataLines::readLine(QByteArray &line) {
    if (m_done)
        return false;
    bool cut = false;
    try {
        line = m_transport.readDataLine(m_deadline, cut, m_maxLineLength);
    } catch (const Error &) {
        // The stream position is unknown now: nothing read later could be trusted.
        m_transport.close();
        throw;
    }
    if (cut)
        ++m_cutLines;
    else if (line == ".")
        m_done = true;
    return true;
}

Pop3Client::Pop3Client(Transport &transport) : m_transport(transport) {}

bool Pop3Client::IsOpen() const {
    return m_transport.isOpen();
}

void Pop3Client::OpenSession() {
    if (m_transport.isOpen())
        throw NetworkError(u"Already connected."_s);
    // A line break would end the command early and send the rest as a command of its own.
    for (const QString *field : {&m_username, &m_password}) {
        if (field->contains(u'\r') || field->contains(u'\n') || field->contains(QChar(0)))
            throw ProtocolError(u"The user name or password holds a line break."_s);
    }
    m_capabilities.reset();
    dropOwedReplies();
    m_scanCount = m_scanSent = m_scanRead = 0;
    m_scanOwedBytes = 0;
    const ConnectionSecurity security = Security();
    m_transport.setSecurity(transportSecurity(security));
    m_transport.open(m_host, m_port);
    try {
        require(readReply());
        if (security == ConnectionSecurity::StartTls) {
            const Pop3Reply stls = command("STLS");
            if (!stls.ok())
                throw SecurityError(
                    u"The server %1 does not offer STLS (it answered \"%2\"), so the connection "
                    u"cannot be secured and the password was not sent. Choose TLS on port 995 "
                    u"if the server offers that, or ask its provider."_s.arg(
                        m_host, decodeLegacyText(stls.line)));
            m_transport.startTls();
            // Whatever was learnt before TLS is forgotten: the capabilities are asked anew
            // over the secured connection.
            m_capabilities.reset();
        }
        try {
            if (m_tokenSource) {
                loginWithToken(security);
            } else {
                require(command("USER " + m_username.toUtf8()));
                require(command("PASS " + m_password.toUtf8(), 5));
            }
        } catch (const LoginError &) {
            throw;
        } catch (const ProtocolError &e) {
            // A refused login is told apart from a server that answers nonsense.
            if (!e.serverWords().isEmpty())
                throw LoginError::refusal(e.serverWords());
            throw;
        }
    } catch (const Error &) {
        CloseSession();
        throw;
    }
}

Pop3Client::SaslStep Pop3Client::readSaslStep() {
    SaslStep step;
    QByteArray line;
    try {
        line = m_transport.readLine();
    } catch (const Error &) {
        m_transport.close();
        throw;
    }
    if (line == "+" || line.startsWith("+ ")) {
        step.continuation = true;
        step.challenge = line.mid(2).trimmed();
        return step;
    }
    step.reply = Pop3Reply::parse(line);
    if (step.reply.status == Pop3Reply::Status::Unrecognized)
        m_transport.close();
    return step;
}

void Pop3Client::loginWithToken(ConnectionSecurity security) {
    if (security == ConnectionSecurity::None && !isLoopbackHost(m_host))
        throw SecurityError(
            u"The account signs in with an access token, which is only ever sent over a secure "
            u"connection, and the connection to %1 is set to none. Choose STLS or TLS."_s.arg(
                m_host));
    QList<QByteArray> offered;
    for (const QByteArray &line : Capabilities()) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() > 1 && words.first().compare("SASL", Qt::CaseInsensitive) == 0)
            offered += words.mid(1);
    }
    const std::optional<OAuthMechanism> mechanism =
        chooseOAuthMechanism(offered, m_oauthMechanisms);
    if (!mechanism)
        throw ProtocolError(
            u"The server %1 does not offer a sign-in with an access token (SASL "
            u"OAUTHBEARER or XOAUTH2), so this account cannot log in there. "
            u"Check the server's name or choose a password for the account."_s.arg(m_host));
    try {
        authenticateWithToken(*mechanism, m_tokenSource(false));
    } catch (const LoginError &) {
        if (!m_transport.isOpen())
            throw;
        // The token may have expired or been withdrawn early: one fresh token is tried.
        authenticateWithToken(*mechanism, m_tokenSource(true));
    }
}

void Pop3Client::authenticateWithToken(OAuthMechanism mechanism, const QString &token) {
    if (m_username.contains(QChar(1)))
        throw DataError(u"The user name holds a control character."_s);
    const QByteArray response =
        oauthInitialResponse(mechanism, m_username, m_host, m_port, token).toBase64();
    const QByteArray start = "AUTH " + mechanismName(mechanism);
    // RFC 5034: a command line holds at most 255 octets, its CR LF included.
    constexpr qsizetype MaxCommandLine = 255 - 2;
    SaslStep step;
    if (start.size() + 1 + response.size() <= MaxCommandLine) {
        m_transport.writeLine(start + ' ' + response, start.size() + 1);
        step = readSaslStep();
    } else {
        m_transport.writeLine(start);
        step = readSaslStep();
        if (step.continuation) {
            m_transport.writeLine(response, 0);
            step = readSaslStep();
        }
    }
    QString challenge;
    if (step.continuation) {
        // The error challenge: the server tells why and waits for the client to end the
        // exchange before it answers -ERR.
        challenge = oauthChallengeText(step.challenge);
        m_transport.writeLine(oauthErrorAcknowledgement(mechanism).toBase64());
        step = readSaslStep();
        if (step.continuation) {
            m_transport.writeLine("*");
            step = readSaslStep();
            if (step.continuation || step.reply.ok()) {
                m_transport.close();
                throw ProtocolError(u"The server %1 went on asking while signing in with an "
                                    u"access token."_s.arg(m_host));
            }
        }
    }
    if (step.reply.ok())
        return;
    if (step.reply.status == Pop3Reply::Status::Err) {
        QString words =
            decodeLegacyText(step.reply.text.isEmpty() ? step.reply.line : step.reply.text);
        if (!challenge.isEmpty())
            words += u" (%1)"_s.arg(challenge);
        throw LoginError::refusal(words);
    }
    require(step.reply);
}

void Pop3Client::CloseSession() {
    if (m_transport.isOpen()) {
        try {
            m_transport.writeLine("QUIT");
        } catch (const Error &) {
            // The connection is closed below all the same.
        }
    }
    m_transport.close();
}

Pop3QuitOutcome Pop3Client::QuitSession() {
    using Status = Pop3QuitOutcome::Status;
    Pop3QuitOutcome outcome;
    dropOwedReplies();
    if (!m_transport.isOpen()) {
        outcome.text = u"Not Connected"_s;
        return outcome;
    }
    try {
        m_transport.writeLine("QUIT");
        const Pop3Reply reply = readReply();
        switch (reply.status) {
        case Pop3Reply::Status::Ok:
            outcome.status = Status::Committed;
            outcome.text = decodeLegacyText(reply.text);
            break;
        case Pop3Reply::Status::Err:
            outcome.status = Status::Refused;
            outcome.text = decodeLegacyText(reply.text.isEmpty() ? reply.line : reply.text);
            break;
        case Pop3Reply::Status::Unrecognized:
            outcome.text =
                u"Unrecognized POP3 Response Header:\n\"%1\""_s.arg(decodeLegacyText(reply.line));
            break;
        }
    } catch (const Error &e) {
        outcome.status = Status::Unknown;
        outcome.text = e.message();
    }
    m_transport.close();
    return outcome;
}

void Pop3Client::AbandonSession() {
    m_transport.close();
}

Pop3Reply Pop3Client::readReply() {
    QByteArray line;
    try {
        line = m_transport.readLine();
    } catch (const Error &) {
        m_transport.close();
        throw;
    }
    Pop3Reply reply = Pop3Reply::parse(line);
    if (reply.status == Pop3Reply::Status::Unrecognized) {
        // Whatever the server is sending, the replies that follow cannot be matched to our
        // commands any more. Closing without QUIT leaves the mailbox as it was.
        m_transport.close();
    }
    return reply;
}

Pop3Reply Pop3Client::command(const QByteArray &line, qsizetype maskFrom) {
    dropOwedReplies();
    m_transport.writeLine(line, maskFrom);
    return readReply();
}

void Pop3Client::require(const Pop3Reply &reply) {
    switch (reply.status) {
    case Pop3Reply::Status::Ok:
        return;
    case Pop3Reply::Status::Err:
        // The server's own words; a bare "-ERR" still says something.
        throw ProtocolError::refusal(
            decodeLegacyText(reply.text.isEmpty() ? reply.line : reply.text));
    case Pop3Reply::Status::Unrecognized:
        break;
    }
    throw ProtocolError(
        u"Unrecognized POP3 Response Header:\n\"%1\""_s.arg(decodeLegacyText(reply.line)));
}

int Pop3Client::CountMessages() {
    const Pop3Reply reply = command("STAT");
    require(reply);
    if (reply.text.isEmpty())
        return 0;
    const qsizetype blank = reply.text.indexOf(' ');
    const QByteArray count = blank < 0 ? reply.text : reply.text.left(blank);
    bool ok = false;
    const int n = count.toInt(&ok);
    if (!ok)
        throw ProtocolError(
            u"The server's message count \"%1\" is not a number."_s.arg(decodeLegacyText(count)));
    return n;
}

qint64 Pop3Client::MailboxOctets() {
    require(command("LIST"));
    Pop3DataLines lines(m_transport);
    qint64 total = 0;
    QByteArray line;
    while (lines.readLine(line) && !lines.atEnd()) {
        bool ok = false;
        const qint64 size = afterFirstBlank(line.trimmed()).toLongLong(&ok);
        if (ok && size > 0)
            total += size;
    }
    return total;
}

qint64 Pop3Client::MessageOctets(int n) {
    return sizeFromListReply(command("LIST " + number(n)));
}

qint64 Pop3Client::sizeFromListReply(const Pop3Reply &reply) {
    require(reply);
    if (reply.text.isEmpty())
        return -1;
    bool ok = false;
    const qint64 size = afterFirstBlank(reply.text).toLongLong(&ok);
    return ok && size >= 0 ? size : -1;
}

namespace {

// A TOP n L reply read as a header-only reply, with the body lines kept apart: the message
// reader gets the header lines, the empty line after them and then the end line, exactly as
// for TOP n 0, so that the header is parsed the same whatever body lines follow; the body
// lines are then read on to the real end line (without their stuffing dots) into body.
class HeaderThenBody final : public LineSource {
public:
    HeaderThenBody(Pop3DataLines &lines, QList<QByteArray> *body) : m_lines(lines), m_body(body) {}

    bool readLine(QByteArray &line) override {
        if (m_ended)
            return false;
        if (m_headerDone) {
            line = ".";
            m_ended = true;
            return true;
        }
        if (!m_lines.readLine(line))
            return false;
        if (m_lines.atEnd())
            m_ended = true;
        else if (line.isEmpty())
            m_headerDone = true;
        m_headerCutLines = m_lines.cutLines();
        return true;
    }
    // The lines cut while the header was read.
    int headerCutLines() const { return m_headerCutLines; }
    // Reads the body lines on to the end line.
    void readBody() {
        QByteArray line;
        while (!m_lines.atEnd() && m_lines.readLine(line) && !m_lines.atEnd()) {
            if (m_body)
                m_body->append(line.startsWith("..") ? line.mid(1) : line);
        }
    }

private:
    Pop3DataLines &m_lines;
    QList<QByteArray> *m_body;
    bool m_headerDone = false;
    bool m_ended = false;
    int m_headerCutLines = 0;
};

} // namespace

void Pop3Client::readMessageData(MailMessage &message, QList<QByteArray> *body) {
    Pop3DataLines lines(m_transport);
    HeaderThenBody split(lines, body);
    // Only the header is parsed when body lines are kept apart; a body line cut to the line
    // limit does not make the header damaged.
    LineSource &source = body ? static_cast<LineSource &>(split) : lines;
    const auto cut = [&] { return body ? split.headerCutLines() : lines.cutLines(); };
    try {
        message.ReadMessage(source);
        if (body)
            split.readBody();
    } catch (const AddressError &) {
        if (body && m_transport.isOpen() && !lines.atEnd())
            split.readBody();
        // Says that only an address is wrong; with lines cut, the message is damaged too.
        m_lastFetchCutLines = cut();
        if (m_lastFetchCutLines > 0)
            throw DataError(u"Max line length exceeded."_s);
        throw;
    } catch (const Error &) {
        if (body && m_transport.isOpen() && !lines.atEnd())
            split.readBody();
        m_lastFetchCutLines = cut();
        // The message object reads on to the end line after a damaged message; when it could
        // not, the rest of the data is still on its way and the connection is out of step.
        if (!lines.atEnd())
            m_transport.close();
        throw;
    }
    m_lastFetchCutLines = cut();
    if (!lines.atEnd())
        m_transport.close();
    else if (m_lastFetchCutLines > 0)
        throw DataError(u"Max line length exceeded."_s);
}

void Pop3Client::FetchHeader(int n, MailMessage &message) {
    m_lastFetchCutLines = 0;
    require(command("TOP " + number(n) + " 0"));
    readMessageData(message);
}

bool Pop3Client::FetchMessage(int n, MailMessage &message) {
    m_lastFetchCutLines = 0;
    if (!command("RETR " + number(n)).ok())
        return false;
    readMessageData(message);
    return true;
}

bool Pop3Client::RetrieveMessage(int n, Pop3RetrievedMessage &message) {
    message = {};
    m_lastFetchCutLines = 0;
    if (!command("RETR " + number(n)).ok())
        return false;
    Pop3DataLines lines(m_transport);
    QByteArray line;
    bool full = false;
    for (;;) {
        // Each line may take what is left of the size limit (with room for its CR LF and
        // the end line); once the limit is reached, every further line is cut to nothing.
        lines.setMaxLineLength(full ? 1 : m_maxRetrievedOctets - message.fileForm.size() - 5);
        if (!lines.readLine(line))
            break;
        if (lines.atEnd()) {
            message.fileForm += ".\r\n";
            break;
        }
        if (lines.cutLines() > 0)
            full = true;
        if (full)
            continue;
        message.fileForm += line;
        message.fileForm += "\r\n";
        ++message.lines;
        message.stuffedOctets += line.size() + 2;
        message.octets += line.size() + 2 - (line.startsWith('.') ? 1 : 0);
    }
    message.cutLines = m_lastFetchCutLines = lines.cutLines();
    if (message.cutLines > 0)
        throw DataError(u"The message is larger than %1 bytes, the most that can be kept as a "
                        u"copy."_s.arg(m_maxRetrievedOctets));
    return true;
}

void Pop3Client::MarkDeleted(int n) {
    require(command("DELE " + number(n)));
}

void Pop3Client::UndoDeletions() {
    require(command("RSET"));
}

const QList<QByteArray> &Pop3Client::Capabilities() {
    if (m_capabilities && m_transport.isOpen())
        return *m_capabilities;
    const Pop3Reply reply = command("CAPA");
    QList<QByteArray> capabilities;
    if (reply.status == Pop3Reply::Status::Ok) {
        Pop3DataLines lines(m_transport);
        QByteArray line;
        while (lines.readLine(line) && !lines.atEnd()) {
            line = line.trimmed();
            if (!line.isEmpty())
                capabilities.append(line);
        }
    } else if (reply.status == Pop3Reply::Status::Unrecognized) {
        require(reply); // the connection is closed: the reply cannot be told from the next
    }
    // "-ERR": a server older than CAPA, which has none of the capabilities.
    m_capabilities = capabilities;
    return *m_capabilities;
}

bool Pop3Client::SupportsPipelining() {
    for (const QByteArray &line : Capabilities()) {
        const qsizetype blank = line.indexOf(' ');
        if ((blank < 0 ? line : line.left(blank)).compare("PIPELINING", Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QByteArray Pop3Client::scanCommand(int i) const {
    const int n = i / 2 + 1;
    return i % 2 == 0 ? "TOP " + number(n) + " " + number(m_scanBodyLines) : "LIST " + number(n);
}

void Pop3Client::BeginHeaderScan(int count, int windowCommands, qsizetype windowBytes,
                                 int bodyLines) {
    dropOwedReplies();
    m_scanBodyLines = qMax(0, bodyLines);
    m_scanCount = qMax(0, count);
    m_scanSent = m_scanRead = 0;
    m_scanOwedBytes = 0;
    m_scanWindowCommands = qMax(1, windowCommands);
    m_scanWindowBytes = qMax<qsizetype>(1, windowBytes);
}

void Pop3Client::fillScanWindow() {
    const int total = 2 * m_scanCount;
    const int owed = m_scanSent - m_scanRead;
    // Refilled once half the window has been answered: a few large writes rather than one
    // small write per reply.
    if (m_scanSent >= total || (owed > 0 && owed > m_scanWindowCommands / 2))
        return;
    QList<QByteArray> batch;
    while (m_scanSent < total && m_scanSent - m_scanRead < m_scanWindowCommands) {
        QByteArray line = scanCommand(m_scanSent);
        const qsizetype bytes = line.size() + 2;
        // The first command owed always goes, whatever its length.
        if (m_scanSent > m_scanRead && m_scanOwedBytes + bytes > m_scanWindowBytes)
            break;
        batch.append(std::move(line));
        m_scanOwedBytes += bytes;
        ++m_scanSent;
    }
    m_transport.writeLines(batch);
}

Pop3Reply Pop3Client::readScanReply(int i) {
    if (i != m_scanRead || i >= 2 * m_scanCount) {
        // The caller is out of order: the replies cannot be matched any more.
        dropOwedReplies();
        throw NetworkError(u"The header scan read its replies out of order."_s);
    }
    fillScanWindow();
    ++m_scanRead;
    m_scanOwedBytes -= scanCommand(i).size() + 2;
    return readReply();
}

void Pop3Client::ScanHeader(int n, MailMessage &message, QList<QByteArray> *body) {
    m_lastFetchCutLines = 0;
    require(readScanReply(2 * (n - 1)));
    // The body lines of TOP n L never reach the message reader.
    QList<QByteArray> discarded;
    readMessageData(message, m_scanBodyLines > 0 ? (body ? body : &discarded) : nullptr);
}

qint64 Pop3Client::ScanSize(int n) {
    return sizeFromListReply(readScanReply(2 * (n - 1) + 1));
}

void Pop3Client::EndHeaderScan() {
    dropOwedReplies();
    m_scanCount = m_scanSent = m_scanRead = 0;
    m_scanOwedBytes = 0;
}

void Pop3Client::dropOwedReplies() {
    if (m_scanSent > m_scanRead) {
        // Replies are still on their way; nothing read later could be matched to its command.
        m_transport.close();
        m_scanSent = m_scanRead = m_scanCount = 0;
        m_scanOwedBytes = 0;
    }
}

} // namespace corvane
