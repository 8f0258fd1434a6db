#pragma once

#include "core/protocol/transport.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <initializer_list>
#include <memory>

namespace corvane {

class MailMessage;

// One SMTP reply (RFC 821): a three-digit code and the text of each of its lines, that is
// every line from its fifth character on.
struct SmtpReply {
    int code = 0;
    QList<QByteArray> lines;

    // The lines' texts joined by LF: the server's words.
    QByteArray text() const;
};

// Collects the lines of one SMTP reply. A line whose fourth character is "-" is followed by
// more lines of the same reply; any other line ends it. Input is untrusted: a reply may hold
// at most MaxLines lines (each line is capped by the transport).
class SmtpReplyParser {
public:
    static constexpr qsizetype MaxLines = 1000;

    // Adds one line without its line break; true when the reply is complete. Throws
    // ProtocolError for a line that does not begin with a three-digit code, a line whose code
    // differs from the first line's, and a reply of more than MaxLines lines.
    bool addLine(const QByteArray &line);
    const SmtpReply &reply() const { return m_reply; }
    // Starts a new reply.
    void reset();

private:
    SmtpReply m_reply;
    bool m_complete = false;
};

// An SMTP client (RFC 821) without authentication: greets with EHLO (HELO when EHLO is
// refused) and delivers messages over the open session. Every operation is synchronous and
// throws corvane::Error on failure: NetworkError for the connection, ProtocolError for a reply
// with another code than the one required (its message is the server's words) or a line that
// is not an SMTP reply, DataError for an address that cannot go into a command. A failure
// while a reply is read closes the connection, so later replies are never mismatched.
class SmtpClient {
public:
    static constexpr quint16 DefaultPort = 25;

    explicit SmtpClient(Transport &transport);

    const QString &Host() const { return m_host; }
    void setHost(const QString &host) { m_host = host; }
    quint16 Port() const { return m_port; }
    void setPort(quint16 port) { m_port = port; }
    // The name announced in EHLO and HELO; empty announces the local computer's host name.
    const QString &HeloName() const { return m_heloName; }
    void setHeloName(const QString &name) { m_heloName = name; }

    Transport &transport() { return m_transport; }
    bool IsConnected() const;

    // Connects to Host:Port, requires the greeting 220, then sends EHLO; any other code than
    // 250 is answered with HELO, which must get 250. A failure after the connection stands
    // closes it as CloseSmtpSession does before the error is passed on. Throws "Already
    // connected." while a session is open.
    void OpenSmtpSession();
    // Sends one message over the open session: RSET (any code), MAIL FROM with the bare
    // address of From (250), RCPT TO for every address of the To and Cc lists (250 or 251),
    // DATA (354), the dot-stuffed message and the line "." (250). The addresses are checked
    // before anything is sent. When the message cannot be written completely, the connection
    // is dropped instead of ending the data, so the server never receives a cut message.
    void DeliverMessage(const MailMessage &message);
    // Writes QUIT when connected, without waiting for the reply, and closes the connection.
    // Never throws.
    void CloseSmtpSession();

    // The envelope of a message: the sender's address and the recipients' addresses, in the
    // form they take inside "<" and ">". Throws DataError for an address that holds a line
    // break, a NUL or an angle bracket (it would change or add a command), and for a message
    // without any recipient address.
    struct Envelope {
        QByteArray from;
        QList<QByteArray> recipients;
    };
    static Envelope envelope(const MailMessage &message);

    // The local computer's host name as announced to servers ("localhost" when it has none
    // that can be sent).
    static QString localHostName();

private:
    SmtpReply command(const QByteArray &line);
    SmtpReply readReply();
    static void require(const SmtpReply &reply, std::initializer_list<int> codes);

    Transport &m_transport;
    QString m_host;
    quint16 m_port = DefaultPort;
    QString m_heloName;
};

// Makes the transport of one SMTP connection to the given port.
using SmtpTransportFactory = std::function<std::unique_ptr<Transport>(quint16 port)>;
// A socket transport: TLS from the first byte on port 465, plain TCP on every other port.
std::unique_ptr<Transport> makeSmtpTransport(quint16 port);

// How SendSimpleMessage connects.
struct SmtpSendOptions {
    quint16 port = SmtpClient::DefaultPort;
    SmtpTransportFactory transport; // empty: makeSmtpTransport
    QString heloName;               // empty: the local host name
    Transport::TranscriptSink transcript;
    // Whole header lines ("Name: value") added after the composed ones.
    QList<QByteArray> extraHeaders;
};

// The message SendSimpleMessage sends. Its header block holds, in this order, From (the text
// form of the parsed from argument), Subject, To (the parsed addresses' text forms joined by
// ", "), Date (the time of writing) and X-Priority 3. The body is text split into lines at
// CR LF, CR or LF (a final line break adds no empty line); plain ASCII goes as it is, other
// text as UTF-8 in quoted-printable with the MIME headers that say so. Throws DataError for an
// address the parser rejects.
MailMessage composeSimpleMessage(const QString &subject, const QString &to, const QString &from,
                                 const QString &text);

// Composes a message from the arguments and sends it to host over a connection of its own,
// which is closed afterwards in every case (QUIT is written also after a refused command).
// Returns when the server has accepted the message; errors are passed on.
void SendSimpleMessage(const QString &host, const QString &subject, const QString &to,
                       const QString &from, const QString &text,
                       const SmtpSendOptions &options = {});

} // namespace corvane
