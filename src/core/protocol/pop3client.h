#pragma once

#include "core/protocol/connectionsecurity.h"
#include "core/protocol/lines.h"
#include "core/protocol/sasl.h"
#include "core/protocol/transport.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QString>

#include <optional>

namespace corvane {

class MailMessage;

// One POP3 reply line. The status is the first four characters with blanks trimmed; the text
// is what follows the status, without surrounding blanks ("+OK 2 320" has the text "2 320").
struct Pop3Reply {
    enum class Status { Ok, Err, Unrecognized };

    Status status = Status::Unrecognized;
    QByteArray line; // the whole line as received
    QByteArray text;

    static Pop3Reply parse(const QByteArray &line);
    bool ok() const { return status == Status::Ok; }
};

// What the reply to QUIT says about the deletions of the session.
struct Pop3QuitOutcome {
    enum class Status {
        Committed, // "+OK": the server has applied the deletions
        Refused,   // "-ERR": the server has applied none of them (RFC 1939)
        Unknown,   // no reply (a dropped connection, a time-out) or no status line
    };
    Status status = Status::Unknown;
    // Refused: the server's words after "-ERR"; Unknown: what went wrong; Committed: the
    // reply text.
    QString text;
};

// A whole message as RETR n delivered it, kept as received for its archive copy.
struct Pop3RetrievedMessage {
    // The lines exactly as received (dot-stuffed), each followed by CR LF, the end line "."
    // included: the message-file form.
    QByteArray fileForm;
    // The size as RFC 1939 counts it for LIST n: every line without its stuffing dot and
    // followed by CR LF; the end line not counted.
    qint64 octets = 0;
    // The same with the stuffing dots, which some servers count.
    qint64 stuffedOctets = 0;
    qsizetype lines = 0; // lines of the message, the end line not counted
    // Lines that did not fit in the size limit: above 0 the copy is not the message.
    int cutLines = 0;
};

// The lines of a multi-line POP3 reply (a listing, TOP or RETR data), up to and including
// the end line ".", which is delivered like any other line; afterwards readLine() returns
// false. Lines come as received (dot-stuffed). The whole reply must arrive within the
// transport's data deadline, counted from construction.
//
// A line longer than Transport::MaxLineLength does not end the reply: it is delivered cut to
// that length (its rest is read and skipped), the reply goes on to its end line and the stream
// stays in step, and cutLines() counts it. Lines that were cut mean the data read is NOT what
// the server holds: whoever keeps or forwards the data as the message (an archive copy) must
// check cutLines() and refuse it. Cutting rather than skipping keeps the start of the line,
// so a header field keeps its name and the first part of its value.
//
// A transport failure in the middle of the data (a dropped connection, a time-out, an expired
// deadline) closes the connection, whose position in the stream is then unknown, before the
// error is passed on.
class Pop3DataLines final : public LineSource {
public:
    explicit Pop3DataLines(Transport &transport);
    bool readLine(QByteArray &line) override;
    bool atEnd() const { return m_done; }
    // The lines delivered so far that were cut.
    int cutLines() const { return m_cutLines; }
    // The length past which the next lines are cut; Transport::MaxLineLength by default.
    void setMaxLineLength(qsizetype length) { m_maxLineLength = length; }

private:
    Transport &m_transport;
    QDeadlineTimer m_deadline;
    qsizetype m_maxLineLength = Transport::MaxLineLength;
    int m_cutLines = 0;
    bool m_done = false;
};

// A POP3 client (RFC 1939) holding at most one session, logging in with USER and PASS, or with
// an OAuth 2.0 access token through AUTH (RFC 5034) when given a token source.
// Every operation is synchronous and throws corvane::Error on failure: NetworkError for the
// connection, ProtocolError for a refused command (the server's text after "-ERR") or a reply
// that is not a POP3 status line. Any failure while a reply is being read closes the
// connection, so that later commands never take leftover data for their replies.
class Pop3Client {
public:
    explicit Pop3Client(Transport &transport);

    const QString &Host() const { return m_host; }
    void setHost(const QString &host) { m_host = host; }
    quint16 Port() const { return m_port; }
    void setPort(quint16 port) { m_port = port; }
    const QString &Username() const { return m_username; }
    void setUsername(const QString &username) { m_username = username; }
    const QString &Password() const { return m_password; }
    void setPassword(const QString &password) { m_password = password; }

    // With a source, the session logs in with an OAuth 2.0 access token instead of USER and
    // PASS (see OpenSession); an empty source goes back to the password.
    void setAccessTokenSource(AccessTokenSource source) { m_tokenSource = std::move(source); }
    bool usesOAuth() const { return static_cast<bool>(m_tokenSource); }
    // The OAuth mechanisms the session may use, in the order they are preferred (by default
    // OAUTHBEARER, then XOAUTH2): for a server whose OAUTHBEARER misbehaves.
    void setOAuthMechanisms(QList<OAuthMechanism> mechanisms) {
        m_oauthMechanisms = std::move(mechanisms);
    }

    // How the session is protected. Unset, it is the port's default (TLS on 995, else none).
    ConnectionSecurity Security() const { return m_security.value_or(defaultSecurity(m_port)); }
    void setSecurity(std::optional<ConnectionSecurity> security) { m_security = security; }

    Transport &transport() { return m_transport; }

    // Connects to Host:Port, reads the greeting and logs in with USER and PASS. With
    // StartTls, STLS follows the greeting and the login waits for TLS to be up: a server that
    // refuses STLS fails the session with SecurityError before the user name is sent, never
    // falling back to plain text; with Tls the connection is TLS from the first byte. When
    // anything fails after the connection stands, QUIT is written (unless the server could
    // not be trusted) and the connection closed before the error is passed on. Throws
    // "Already connected." when a session is open.
    //
    // An OAuth account logs in with AUTH OAUTHBEARER or, when the server's CAPA "SASL" line
    // offers only that, AUTH XOAUTH2. The token is sent only over TLS or to this computer
    // (SecurityError before anything is sent otherwise), and never appears in the transcript or
    // an error. The initial response goes on the AUTH line when the line stays within 255
    // octets, and after the server's empty "+" otherwise. A server that refuses the token (its
    // error challenge is answered as the mechanism says) is given a renewed token once on the
    // same connection; a second refusal throws LoginError with the server's words and what its
    // challenge said.
    void OpenSession();
    // Writes QUIT when the connection stands and closes it at once, without reading the reply:
    // the quick close for sessions whose outcome does not matter (nothing was deleted). Never
    // throws.
    void CloseSession();
    // Ends the session with QUIT and reads the reply, which says whether the server applied
    // the deletions of the session; the connection is closed in every case. Unknown when no
    // connection stood. Never throws.
    Pop3QuitOutcome QuitSession();
    // Closes the connection without QUIT: the server discards the deletions of the session.
    // Never throws.
    void AbandonSession();
    bool IsOpen() const;

    // STAT: the message count; 0 when the reply has no text.
    int CountMessages();
    // LIST: the sum of the sizes in the listing (lines without a size count 0). Throws like
    // every command: ProtocolError when the server refuses it, NetworkError for the connection.
    qint64 MailboxOctets();
    // LIST n: the size of message n; -1 when the reply does not hold one.
    qint64 MessageOctets(int n);
    // TOP n 0: reads the header of message n into message (adding to what it holds).
    void FetchHeader(int n, MailMessage &message);
    // RETR n: reads the whole message n into message; false (nothing read) when the server
    // does not answer "+OK".
    //
    // Both read the data to its end line even when it is damaged; then they throw DataError
    // with the connection still open and in step, the message holding what could be read
    // (IsOpen() tells this apart from a broken connection). That includes lines over the line
    // limit: they are cut (see Pop3DataLines), the fetch throws "Max line length exceeded."
    // and lastFetchCutLines() says how many were cut.
    bool FetchMessage(int n, MailMessage &message);
    // The largest message RetrieveMessage keeps by default, in octets as received.
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    static constexpr qsizetype MaxRetrievedOctets = 256 * 1024 * 1024;
#else
    // The fuzz build: the same code with a limit that a fuzz input crosses.
    static constexpr qsizetype MaxRetrievedOctets = 64 * 1024;
#endif
    qsizetype maxRetrievedOctets() const {
        return m_maxRetrievedOctets;
    }
    void setMaxRetrievedOctets(qsizetype octets) {
        m_maxRetrievedOctets = octets;
    }
    // RETR n: reads the whole message n as received, without parsing it; false (nothing
    // read) when the server does not answer "+OK". Nothing is parsed, so lines of any length
    // are kept whole (long unbroken lines are common in real mail, and a copy with a cut line
    // would not be the message). Input is untrusted: a message over maxRetrievedOctets() is
    // read on to its end line without being kept, message.cutLines counts the lines that did
    // not fit, and the call then throws DataError with the connection open and in step,
    // because message.fileForm is not the message on the server.
    bool RetrieveMessage(int n, Pop3RetrievedMessage &message);
    // The lines cut in the data of the last FetchHeader, FetchMessage or RetrieveMessage (0
    // before any, and when nothing was cut). Above 0, the message read is not the message on
    // the server: it must not be archived (or otherwise kept) in place of it, nor deleted on
    // the strength of such a copy.
    int lastFetchCutLines() const {
        return m_lastFetchCutLines;
    }
    // DELE n: marks message n for deletion at QUIT; a refusal throws the server's text.
    void MarkDeleted(int n);
    // RSET: clears the deletion marks of the session.
    void UndoDeletions();

    // CAPA (RFC 2449): the server's capability lines, asked once per connection. A server that
    // refuses CAPA ("-ERR", the connection still in step) has none; errors that end the
    // connection are passed on.
    const QList<QByteArray> &Capabilities();
    // Whether the server accepts commands sent ahead of their replies ("PIPELINING" among
    // Capabilities()).
    bool SupportsPipelining();

    // The header scan's exchange, TOP n 0 and then LIST n for n = 1 to count, with up to
    // windowCommands commands (and windowBytes bytes of them) written ahead of their replies.
    // A window of one command is the lock-step exchange: each command is written when its
    // reply is due. Wider windows are for servers that announce PIPELINING; they are refilled
    // in batches once half of them has been answered, so that a server that stops reading
    // never has more than one window of commands waiting, and every batch leaves in one write.
    //
    // The replies are read in command order with ScanHeader(n) and ScanSize(n), which fail
    // exactly as FetchHeader(n) and MessageOctets(n) do: a refused TOP or LIST n ("-ERR")
    // leaves the connection in step and the scan can go on; each reply has the same line
    // limits and deadlines, counted from the moment it is read. EndHeaderScan() ends the scan;
    // replies still owed then (a scan given up in the middle) would be taken for the replies of
    // later commands, so the connection is closed, without QUIT (nothing was deleted over it).
    // Any other command issued while replies are owed does the same and fails as on a closed
    // connection.
    //
    // With bodyLines above 0 the scan asks for TOP n bodyLines: the header is parsed exactly
    // as with TOP n 0, and ScanHeader hands the body lines (without their stuffing dots, a
    // line over the line limit cut) to body when given. A cut body line does not make the
    // header damaged.
    //
    // The default window holds the whole scan of a 1,000-message mailbox (2,000 commands, about
    // 22 KB): behind a slow link, each refill of a smaller window costs a round trip (with 200
    // commands and 4 KiB, a 20-line scan took twice as long as a client with every command in
    // flight). A deadlock needs both ends blocked writing while neither reads; our writes never
    // block (the socket buffers them) and the replies are read while commands wait, so the
    // bound is not what keeps the exchange moving. It bounds what a server holds unread when a
    // scan is given up and what a very large mailbox queues at once.
    static constexpr int DefaultScanWindowCommands = 2000;
    static constexpr qsizetype DefaultScanWindowBytes = 32768;
    void BeginHeaderScan(int count, int windowCommands,
                         qsizetype windowBytes = DefaultScanWindowBytes, int bodyLines = 0);
    void ScanHeader(int n, MailMessage &message, QList<QByteArray> *body = nullptr);
    qint64 ScanSize(int n);
    void EndHeaderScan();

private:
    // One reply of an AUTH exchange: the server's "+" with its challenge, or a status line.
    struct SaslStep {
        bool continuation = false;
        QByteArray challenge; // base64, as received
        Pop3Reply reply;
    };
    SaslStep readSaslStep();
    void loginWithToken(ConnectionSecurity security);
    void authenticateWithToken(OAuthMechanism mechanism, const QString &token);
    // Sends a command and reads its one-line reply (the transcript masks from maskFrom on).
    Pop3Reply command(const QByteArray &line, qsizetype maskFrom = -1);
    // Reads one reply line; a transport failure closes the connection.
    Pop3Reply readReply();
    // Throws unless the reply is "+OK".
    static void require(const Pop3Reply &reply);
    // Reads a multi-line reply into message; with body, only the header is parsed and the
    // lines after it go to body.
    void readMessageData(MailMessage &message, QList<QByteArray> *body = nullptr);
    // The command at position i of the scan's exchange, without CR LF.
    QByteArray scanCommand(int i) const;
    // Writes the next scan commands the window has room for.
    void fillScanWindow();
    // Reads the reply to the scan's command at position i, which must be the next one owed.
    Pop3Reply readScanReply(int i);
    // Closes the connection when replies of a scan are still owed.
    void dropOwedReplies();
    static qint64 sizeFromListReply(const Pop3Reply &reply);

    Transport &m_transport;
    QString m_host;
    quint16 m_port = 110;
    std::optional<ConnectionSecurity> m_security;
    QString m_username;
    QString m_password;
    AccessTokenSource m_tokenSource;
    QList<OAuthMechanism> m_oauthMechanisms{OAuthMechanism::OAuthBearer, OAuthMechanism::XOAuth2};
    int m_lastFetchCutLines = 0;
    qsizetype m_maxRetrievedOctets = MaxRetrievedOctets;
    // The capabilities of the current connection, once asked.
    std::optional<QList<QByteArray>> m_capabilities;
    // The header scan: commands 0 to 2 * count - 1; those from m_scanRead to m_scanSent are
    // written and await their replies, which take m_scanOwedBytes bytes of commands.
    int m_scanCount = 0;
    int m_scanSent = 0;
    int m_scanRead = 0;
    int m_scanWindowCommands = 1;
    int m_scanBodyLines = 0;
    qsizetype m_scanWindowBytes = DefaultScanWindowBytes;
    qsizetype m_scanOwedBytes = 0;
};

} // namespace corvane
