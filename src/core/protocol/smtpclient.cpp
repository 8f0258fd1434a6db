#include "core/protocol/smtpclient.h"

#include "core/errors.h"
#include "core/platform/legacytext.h"
#include "core/protocol/mailaddress.h"
#include "core/protocol/mailmessage.h"
#include "core/protocol/mimecodec.h"
#include "core/protocol/tcptransport.h"

#include <QHostInfo>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

QString unrecognizedReply(const QByteArray &line) {
    return u"Unrecognized SMTP reply:\n\"%1\""_s.arg(decodeLegacyText(line));
}

// The message lines go into the DATA stream as they are; the message object dot-stuffs them.
class TransportLineSink final : public LineSink {
public:
    explicit TransportLineSink(Transport &transport) : m_transport(transport) {}
    void writeLine(const QByteArray &line) override { m_transport.writeLine(line); }

private:
    Transport &m_transport;
};

// The address as it is shown in an error: line breaks and NULs made visible.
QString shownAddress(const QString &address) {
    QString shown = address;
    shown.replace(u'\r', u"\\r"_s).replace(u'\n', u"\\n"_s).replace(QChar(0), u"\\0"_s);
    return shown;
}

QByteArray envelopeAddress(const QString &address) {
    for (QChar c : address) {
        if (c == u'\r' || c == u'\n' || c == QChar(0) || c == u'<' || c == u'>')
            throw DataError(u"The address \"%1\" cannot be given to an SMTP server: it holds a "
                            u"line break or an angle bracket."_s.arg(shownAddress(address)));
    }
    return quoteAddress(address).toUtf8();
}

bool isAscii(const QString &text) {
    for (QChar c : text)
        if (c.unicode() >= 0x80)
            return false;
    return true;
}

QStringList splitTextLines(const QString &text) {
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\r' && text[i] != u'\n')
            continue;
        lines << text.mid(start, i - start);
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines << text.mid(start);
    return lines;
}

} // namespace

QByteArray SmtpReply::text() const {
    return lines.join('\n');
}

void SmtpReplyParser::reset() {
    m_reply = SmtpReply();
    m_complete = false;
}

bool SmtpReplyParser::addLine(const QByteArray &line) {
    if (m_complete)
        reset();
    if (line.size() < 3 || !isDigit(line[0]) || !isDigit(line[1]) || !isDigit(line[2]))
        throw ProtocolError(unrecognizedReply(line));
    const int code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    if (m_reply.lines.isEmpty())
        m_reply.code = code;
    else if (code != m_reply.code)
        throw ProtocolError(unrecognizedReply(line));
    if (m_reply.lines.size() >= MaxLines)
        throw ProtocolError(
            u"The server's reply is longer than %1 lines; the connection was closed."_s.arg(
                MaxLines));
    m_reply.lines.append(line.size() > 4 ? line.mid(4) : QByteArray());
    m_complete = line.size() < 4 || line[3] != '-';
    return m_complete;
}

SmtpClient::SmtpClient(Transport &transport) : m_transport(transport) {}

bool SmtpClient::IsConnected() const {
    return m_transport.isOpen();
}

QString SmtpClient::localHostName() {
    QString name;
    for (QChar c : QHostInfo::localHostName()) {
        const char16_t u = c.unicode();
        if ((u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
            u == u'.' || u == u'-')
            name += c;
    }
    return name.isEmpty() ? u"localhost"_s : name;
}

SmtpReply SmtpClient::readReply() {
    SmtpReplyParser parser;
    // The lines of one reply share one deadline: a reply that never ends is given up.
    const QDeadlineTimer deadline = m_transport.startReplyDeadline();
    try {
        while (!parser.addLine(m_transport.readLine(deadline))) {
        }
    } catch (const Error &) {
        // Whatever follows could not be matched to our commands any more.
        m_transport.close();
        throw;
    }
    return parser.reply();
}

SmtpReply SmtpClient::command(const QByteArray &line, qsizetype maskFrom) {
    m_transport.writeLine(line, maskFrom);
    return readReply();
}

ConnectionSecurity SmtpClient::defaultSecurity(quint16 port) {
    if (port == TlsPort)
        return ConnectionSecurity::Tls;
    if (port == SubmissionPort)
        return ConnectionSecurity::StartTls;
    return ConnectionSecurity::None;
}

QList<QByteArray> SmtpClient::authMechanisms(const QList<QByteArray> &extensions) {
    QList<QByteArray> mechanisms;
    for (const QByteArray &extension : extensions) {
        const QByteArray upper = extension.trimmed().toUpper();
        QList<QByteArray> words;
        // Older servers also write "AUTH=LOGIN PLAIN".
        if (upper.startsWith("AUTH "))
            words = upper.mid(5).simplified().split(' ');
        else if (upper.startsWith("AUTH="))
            words = upper.mid(5).simplified().split(' ');
        for (const QByteArray &word : std::as_const(words))
            if (!word.isEmpty() && !mechanisms.contains(word))
                mechanisms.append(word);
    }
    return mechanisms;
}

void SmtpClient::require(const SmtpReply &reply, std::initializer_list<int> codes) {
    for (int code : codes)
        if (reply.code == code)
            return;
    const QByteArray text = reply.text().trimmed();
    // A reply without words still says something: its code.
    throw ProtocolError::refusal(text.isEmpty() ? QString::number(reply.code)
                                                : decodeLegacyText(text));
}

void SmtpClient::OpenSmtpSession() {
    const ConnectionSecurity security = Security();
    if (!m_username.isEmpty()) {
        // Credentials never cross the network in plain text; a token may go to this computer.
        if (security == ConnectionSecurity::None && m_tokenSource && !isLoopbackHost(m_host))
            throw SecurityError(
                u"The account signs in with an access token, which is only ever sent over a "
                u"secure connection, and the connection to %1 is set to none. Choose STARTTLS "
                u"(port 587) or TLS (port 465)."_s.arg(m_host));
        if (security == ConnectionSecurity::None && !m_tokenSource)
            throw SecurityError(
                u"The SMTP user name and password are only ever sent over a secure "
                u"connection, and the connection to %1 is set to none. Choose STARTTLS (port "
                u"587) or TLS (port 465), or leave the user name empty if the server takes "
                u"mail without a login."_s.arg(m_host));
        if (m_username.contains(QChar(0)) || m_password.contains(QChar(0)))
            throw DataError(u"The SMTP user name or password holds a NUL character."_s);
    }
    m_transport.setSecurity(transportSecurity(security));
    m_extensions.clear();
    m_transport.open(m_host, m_port);
    try {
        require(readReply(), {220});
        const QByteArray hello =
            (m_heloName.isEmpty() ? localHostName() : m_heloName).toUtf8().simplified();
        if (hello.contains('\r') || hello.contains('\n'))
            throw DataError(u"The name announced to the SMTP server holds a line break."_s);
        greet(hello);
        if (security == ConnectionSecurity::StartTls)
            startTls(hello);
        if (!m_username.isEmpty())
            authenticate();
    } catch (const Error &) {
        CloseSmtpSession();
        throw;
    }
}

void SmtpClient::greet(const QByteArray &hello) {
    m_extensions.clear();
    const SmtpReply ehlo = command("EHLO " + hello);
    if (ehlo.code == 250) {
        // The first line greets; every further line names an extension.
        m_extensions = ehlo.lines.mid(1);
        return;
    }
    require(command("HELO " + hello), {250});
}

void SmtpClient::startTls(const QByteArray &hello) {
    bool offered = false;
    for (const QByteArray &extension : std::as_const(m_extensions))
        if (extension.trimmed().toUpper() == "STARTTLS")
            offered = true;
    if (!offered)
        throw SecurityError(u"The SMTP server %1 does not offer STARTTLS, so the connection "
                            u"cannot be secured and nothing was sent. Choose TLS on port 465 if "
                            u"the server offers that, or ask its provider."_s.arg(m_host));
    const SmtpReply reply = command("STARTTLS");
    if (reply.code != 220)
        throw SecurityError(
            u"The SMTP server %1 refused STARTTLS (it answered \"%2 %3\"), so "
            u"the connection cannot be secured and nothing was sent."_s.arg(
                m_host, QString::number(reply.code), decodeLegacyText(reply.text().trimmed())));
    m_transport.startTls();
    // What the server said before TLS may have been forged; only its answer now counts.
    greet(hello);
}

void SmtpClient::authenticate() {
    const QList<QByteArray> offered = authMechanisms(m_extensions);
    if (m_tokenSource) {
        const std::optional<OAuthMechanism> mechanism = chooseOAuthMechanism(offered);
        if (!mechanism)
            throw ProtocolError(u"The SMTP server %1 does not offer a sign-in with an access "
                                u"token (AUTH OAUTHBEARER or XOAUTH2)."_s.arg(m_host));
        if (m_username.contains(QChar(1)))
            throw DataError(u"The SMTP user name holds a control character."_s);
        try {
            authenticateWithToken(*mechanism, m_tokenSource(false));
        } catch (const LoginError &) {
            if (!m_transport.isOpen())
                throw;
            // The token may have expired or been withdrawn early: one fresh token is tried.
            authenticateWithToken(*mechanism, m_tokenSource(true));
        }
        return;
    }
    const QByteArray user = m_username.toUtf8();
    const QByteArray password = m_password.toUtf8();
    SmtpReply reply;
    if (offered.contains("PLAIN")) {
        // RFC 4616: authorization identity (empty), user name, password, NUL between them.
        const QByteArray line =
            "AUTH PLAIN " + (QByteArray(1, '\0') + user + '\0' + password).toBase64();
        reply = command(line, 11);
    } else if (offered.contains("LOGIN")) {
        reply = command("AUTH LOGIN");
        if (reply.code == 334)
            reply = command(user.toBase64(), 0);
        if (reply.code == 334)
            reply = command(password.toBase64(), 0);
    } else {
        throw ProtocolError(
            offered.isEmpty()
                ? u"The SMTP server %1 does not offer a login (AUTH), so the user name and "
                  u"password cannot be given. Leave the user name empty if the server takes mail "
                  u"without a login."_s.arg(m_host)
                : u"The SMTP server %1 offers no login that this program knows (it offers %2; "
                  u"this program knows PLAIN and LOGIN)."_s.arg(
                      m_host, decodeLegacyText(offered.join(' '))));
    }
    if (reply.code == 235)
        return;
    if (reply.code == 334) {
        // The server asks for more than the mechanism holds: the exchange is cancelled.
        command("*");
        throw ProtocolError(u"The SMTP server %1 asked for more than a user name and password "
                            u"while logging in."_s.arg(m_host));
    }
    const QByteArray text = reply.text().trimmed();
    const QString words = text.isEmpty() ? QString::number(reply.code) : decodeLegacyText(text);
    if (reply.code == 535)
        throw LoginError::refusal(words);
    throw ProtocolError::refusal(words);
}

void SmtpClient::authenticateWithToken(OAuthMechanism mechanism, const QString &token) {
    const QByteArray response =
        oauthInitialResponse(mechanism, m_username, m_host, m_port, token).toBase64();
    const QByteArray start = "AUTH " + mechanismName(mechanism);
    // RFC 5321: a command line holds at most 512 octets, its CR LF included.
    constexpr qsizetype MaxCommandLine = 512 - 2;
    SmtpReply reply;
    if (start.size() + 1 + response.size() <= MaxCommandLine) {
        reply = command(start + ' ' + response, start.size() + 1);
    } else {
        reply = command(start);
        if (reply.code == 334)
            reply = command(response, 0);
    }
    QString challenge;
    if (reply.code == 334) {
        // The error challenge: the server tells why and waits for the client to end the
        // exchange before it sends its failure reply.
        challenge = oauthChallengeText(reply.text().trimmed());
        reply = command(oauthErrorAcknowledgement(mechanism).toBase64());
        if (reply.code == 334) {
            command("*");
            throw ProtocolError(u"The SMTP server %1 went on asking while signing in with an "
                                u"access token."_s.arg(m_host));
        }
    }
    if (reply.code == 235)
        return;
    const QByteArray text = reply.text().trimmed();
    QString words = text.isEmpty() ? QString::number(reply.code) : decodeLegacyText(text);
    if (!challenge.isEmpty())
        words += u" (%1)"_s.arg(challenge);
    if (reply.code == 535)
        throw LoginError::refusal(words);
    throw ProtocolError::refusal(words);
}

SmtpClient::Envelope SmtpClient::envelope(const MailMessage &message) {
    Envelope e;
    e.from = envelopeAddress(message.From.Address);
    for (const MailAddressList *list : {&message.Recipients, &message.CCList}) {
        for (const MailAddress &a : *list) {
            // An empty group ("undisclosed-recipients:;") names nobody.
            if (!a.Address.isEmpty())
                e.recipients.append(envelopeAddress(a.Address));
        }
    }
    if (e.recipients.isEmpty())
        throw DataError(u"The message has no recipient address."_s);
    return e;
}

void SmtpClient::DeliverMessage(const MailMessage &message) {
    const Envelope e = envelope(message);
    command("RSET");
    require(command("MAIL FROM:<" + e.from + '>'), {250});
    for (const QByteArray &to : e.recipients)
        require(command("RCPT TO:<" + to + '>'), {250, 251});
    require(command("DATA"), {354});
    TransportLineSink sink(m_transport);
    try {
        message.WriteMessage(sink);
    } catch (const Error &) {
        // Ending the data now would send a cut message; a connection dropped in the middle of
        // the data makes the server discard it.
        m_transport.close();
        throw;
    }
    require(command("."), {250});
}

void SmtpClient::CloseSmtpSession() {
    if (m_transport.isOpen()) {
        try {
            m_transport.writeLine("QUIT");
        } catch (const Error &) {
            // The connection is closed below all the same.
        }
    }
    m_transport.close();
}

std::unique_ptr<Transport> makeSmtpTransport(quint16 port) {
    auto transport = std::make_unique<TcpTransport>();
    transport->setSecurity(port == 465 ? TcpTransport::Security::Tls
                                       : TcpTransport::Security::Plain);
    return transport;
}

MailMessage composeSimpleMessage(const QString &subject, const QString &to, const QString &from,
                                 const QString &text) {
    MailMessage message;
    message.Subject = subject;
    message.Recipients = parseAddressList(to);
    message.From = MailAddress::parse(from);
    const QStringList lines = splitTextLines(text);
    if (isAscii(text)) {
        for (const QString &line : lines)
            message.Body.append(line.toLatin1());
    } else {
        message.ContentType = u"text/plain"_s;
        message.CharSet = u"UTF-8"_s;
        message.ContentTransferEncoding = u"quoted-printable"_s;
        message.ExtraHeaders.append("MIME-Version: 1.0");
        for (const QString &line : lines)
            message.Body.append(encodeQuotedPrintable(line.toUtf8()));
    }
    return message;
}

void applySendOptions(SmtpClient &client, const QString &host, const SmtpSendOptions &options) {
    client.setHost(host);
    client.setPort(options.port);
    client.setSecurity(options.security);
    client.setUsername(options.username);
    client.setPassword(options.password);
    client.setAccessTokenSource(options.accessToken);
    client.setHeloName(options.heloName);
}

std::unique_ptr<Transport> makeSendTransport(const SmtpSendOptions &options) {
    std::unique_ptr<Transport> transport =
        options.transport ? options.transport(options.port) : makeSmtpTransport(options.port);
    if (options.transcript)
        transport->setTranscript(options.transcript);
    return transport;
}

void SendSimpleMessage(const QString &host, const QString &subject, const QString &to,
                       const QString &from, const QString &text, const SmtpSendOptions &options) {
    MailMessage message = composeSimpleMessage(subject, to, from, text);
    message.ExtraHeaders += options.extraHeaders;
    // Addresses that cannot be sent are refused before a connection is made.
    SmtpClient::envelope(message);
    const std::unique_ptr<Transport> transport = makeSendTransport(options);
    SmtpClient client(*transport);
    applySendOptions(client, host, options);
    client.OpenSmtpSession();
    try {
        client.DeliverMessage(message);
    } catch (const Error &) {
        client.CloseSmtpSession();
        throw;
    }
    client.CloseSmtpSession();
}

} // namespace corvane
