#pragma once

#include "core/protocol/connectionsecurity.h"
#include "core/protocol/sasl.h"
#include "core/protocol/transport.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>

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

// An SMTP client (RFC 821): greets with EHLO (HELO when EHLO is refused) and delivers
// messages over the open session. The session may be secured, by STARTTLS (RFC 3207) after
// the greeting or by TLS from the first byte, and may log in with AUTH PLAIN or AUTH LOGIN
// (RFC 4954) once it is secured. Every operation is synchronous and throws corvane::Error on
// failure: NetworkError for the connection (SecurityError when it cannot be secured as asked),
// ProtocolError for a reply with another code than the one required (its message is the
// server's words) or a line that is not an SMTP reply, LoginError for refused credentials,
// DataError for an address that cannot go into a command. A failure while a reply is read
// closes the connection, so later replies are never mismatched.
class SmtpClient {
public:
    static constexpr quint16 DefaultPort = 25;
    // The submission port (RFC 6409), secured with STARTTLS unless the user says otherwise.
    static constexpr quint16 SubmissionPort = 587;
    // The port of submission over TLS from the first byte (RFC 8314).
    static constexpr quint16 TlsPort = 465;

    explicit SmtpClient(Transport &transport);

    const QString &Host() const { return m_host; }
    void setHost(const QString &host) { m_host = host; }
    quint16 Port() const { return m_port; }
    void setPort(quint16 port) { m_port = port; }
    // The name announced in EHLO and HELO; empty announces the local computer's host name.
    const QString &HeloName() const { return m_heloName; }
    void setHeloName(const QString &name) { m_heloName = name; }
    // How the session is protected. Unset, it is the port's default (defaultSecurity()).
    ConnectionSecurity Security() const { return m_security.value_or(defaultSecurity(m_port)); }
    void setSecurity(std::optional<ConnectionSecurity> security) { m_security = security; }
    // The user name and password of AUTH; an empty user name sends no AUTH.
    const QString &Username() const { return m_username; }
    void setUsername(const QString &username) { m_username = username; }
    const QString &Password() const { return m_password; }
    void setPassword(const QString &password) { m_password = password; }
    // With a source, the session logs in with an OAuth 2.0 access token (AUTH OAUTHBEARER, or
    // XOAUTH2 when the server offers only that) for the user name instead of the password.
    void setAccessTokenSource(AccessTokenSource source) { m_tokenSource = std::move(source); }
    bool usesOAuth() const { return static_cast<bool>(m_tokenSource); }
    // The extensions of the server's last EHLO reply, one per line after the first ("AUTH PLAIN
    // LOGIN", "STARTTLS", ...); empty after HELO.
    const QList<QByteArray> &Extensions() const { return m_extensions; }

    // The security an SMTP port has when none is chosen: TLS from the first byte on 465,
    // STARTTLS on 587, none on every other port (25 among them).
    static ConnectionSecurity defaultSecurity(quint16 port);

    Transport &transport() { return m_transport; }
    bool IsConnected() const;

    // Connects to Host:Port, requires the greeting 220, then sends EHLO; any other code than
    // 250 is answered with HELO, which must get 250. With StartTls the EHLO reply must offer
    // STARTTLS, which must be answered with 220; TLS is then set up and EHLO sent again. With
    // a user name the session then logs in with AUTH PLAIN, or AUTH LOGIN when the server
    // offers only that; the credentials are only ever sent over TLS (SecurityError before
    // anything is sent when the session is not secured), and a server that offers STARTTLS is
    // never used without it when asked for it: its absence is a SecurityError, not a fall-back.
    // An OAuth account sends its token as PLAIN's password would be, over TLS only (or to this
    // computer), with the initial response on the AUTH line when that stays within 512 octets;
    // the server's error challenge is answered as the mechanism says, and a refused token is
    // renewed and tried once more before LoginError is thrown with the server's words.
    // A failure after the connection stands closes it as CloseSmtpSession does (without QUIT
    // when the server could not be trusted) before the error is passed on. Throws "Already
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

    // The AUTH mechanisms a server offers in its EHLO extensions, upper case.
    static QList<QByteArray> authMechanisms(const QList<QByteArray> &extensions);

private:
    // maskFrom: the transcript shows the line from there on as asterisks (-1: all of it).
    SmtpReply command(const QByteArray &line, qsizetype maskFrom = -1);
    SmtpReply readReply();
    static void require(const SmtpReply &reply, std::initializer_list<int> codes);
    // Sends EHLO (HELO when it is refused) and keeps the extensions.
    void greet(const QByteArray &hello);
    void startTls(const QByteArray &hello);
    void authenticate();
    void authenticateWithToken(OAuthMechanism mechanism, const QString &token);

    Transport &m_transport;
    QString m_host;
    quint16 m_port = DefaultPort;
    QString m_heloName;
    std::optional<ConnectionSecurity> m_security;
    QString m_username;
    QString m_password;
    AccessTokenSource m_tokenSource;
    QList<QByteArray> m_extensions;
};

// Makes the transport of one SMTP connection to the given port.
using SmtpTransportFactory = std::function<std::unique_ptr<Transport>(quint16 port)>;
// A socket transport: TLS from the first byte on port 465, plain TCP on every other port (the
// client changes that to the security it is given before it connects).
std::unique_ptr<Transport> makeSmtpTransport(quint16 port);

// How SendSimpleMessage connects.
struct SmtpSendOptions {
    quint16 port = SmtpClient::DefaultPort;
    std::optional<ConnectionSecurity> security; // unset: the port's default
    QString username;                           // empty: no AUTH
    QString password;
    AccessTokenSource accessToken;  // set: AUTH with an OAuth token instead of the password
    SmtpTransportFactory transport; // empty: makeSmtpTransport
    QString heloName;               // empty: the local host name
    Transport::TranscriptSink transcript;
    // Whole header lines ("Name: value") added after the composed ones.
    QList<QByteArray> extraHeaders;
};

// Gives a client the host and what the options say of the connection: port, security, user
// name and password, HELO name.
void applySendOptions(SmtpClient &client, const QString &host, const SmtpSendOptions &options);
// The transport for a connection made with these options, with their transcript.
std::unique_ptr<Transport> makeSendTransport(const SmtpSendOptions &options);

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
