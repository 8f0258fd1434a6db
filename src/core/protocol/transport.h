#pragma once

#include "core/errors.h"
#include "core/protocol/connectionsecurity.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QString>

#include <functional>

namespace corvane {

// A connection could not be secured as asked: the server offers no STLS or STARTTLS, the TLS
// handshake failed, or the server's certificate failed a check. The text names what failed;
// callers that put a sentence of their own first keep it after theirs.
class SecurityError : public NetworkError {
public:
    explicit SecurityError(QString message) : NetworkError(std::move(message), Reason::Tls) {}
};

// A line-oriented byte stream to one server, as the protocol clients see it. Every operation
// is synchronous: it returns when the bytes are written or a line is in, and throws
// NetworkError (socket failures, a peer that closed, a time-out) or ProtocolError (an
// over-long status line) otherwise. Implementations provide the connection and the raw
// waiting; this class assembles lines, enforces the line limit and the reply deadlines and
// keeps the optional transcript, so every implementation behaves alike.
//
// Two limits bound every wait. The read time-out ends a wait in which nothing arrives; a reply
// deadline ends a reply that takes too long as a whole, however slowly its bytes keep coming (a
// server that sends one byte a second, a listing that never ends). An expired limit fails like
// a dropped connection: the connection is closed (nothing more is written, so no QUIT) and
// NetworkError is thrown.
class Transport {
public:
    // The longest line accepted from a server, line break not counted.
    static constexpr qsizetype MaxLineLength = 16384;
    // The read time-out when none is set: a server that stops answering fails the wait after
    // this long, like a dropped connection.
    static constexpr int DefaultReadTimeoutMs = 60000;
    // The longest a one-line reply (a status line) may take as a whole, from the moment its read
    // starts.
    static constexpr int DefaultReplyDeadlineMs = 60000;
    // How many times a one-line reply's deadline a whole multi-line reply (a listing, a header,
    // a whole message) may take; the defaults give five minutes.
    static constexpr int DataDeadlineFactor = 5;
    static constexpr int DefaultDataDeadlineMs = DataDeadlineFactor * DefaultReplyDeadlineMs;

    // Receives one transcript line: "--> " and what was sent, or "<-- " and what arrived.
    using TranscriptSink = std::function<void(const QString &line)>;

    // How the next connection is protected.
    enum class Security {
        Auto,     // TLS from the first byte on port 995, plain TCP on every other port
        Plain,    // plain TCP throughout; startTls() is refused
        Tls,      // TLS from the first byte
        StartTls, // plain TCP that startTls() turns into TLS
    };

    Transport() = default;
    virtual ~Transport() = default;
    Transport(const Transport &) = delete;
    Transport &operator=(const Transport &) = delete;

    // Opens a connection. Throws "Already connected." when one is open; socket and
    // name-resolution failures throw "Socket Error # %d\r\n%s".
    void open(const QString &host, quint16 port);
    // What the transcript shows in place of a secret, whatever its length.
    static constexpr QByteArrayView PasswordMask = "(hidden)";
    // Sends one line followed by CR LF. The transcript shows the bytes from maskFrom on as
    // PasswordMask (for a password); -1 shows the whole line. Throws "Not Connected" when no
    // connection is open.
    void writeLine(const QByteArray &line, qsizetype maskFrom = -1);
    // Sends several lines, each followed by CR LF, in one write: commands sent ahead of their
    // replies leave in as few packets as they fit in. Throws like writeLine.
    void writeLines(const QList<QByteArray> &lines);
    // Reads one line, without its line break (CR LF or a bare LF), as a one-line reply: it must
    // be complete within replyDeadline(). Input is untrusted: a line longer than MaxLineLength
    // fails with "Max line length exceeded." (ProtocolError; the rest of the line is still
    // unread, so callers end the connection).
    QByteArray readLine();
    // The same for one of several status lines that make up one reply (an SMTP reply), which
    // must be complete by deadline (see startReplyDeadline()).
    QByteArray readLine(const QDeadlineTimer &deadline);
    // Reads one line of a multi-line reply, which must be complete by deadline (see
    // startDataDeadline()). A line longer than maxLength does not fail: its first maxLength
    // bytes are returned, the rest of it up to its line break is read and thrown away as it
    // arrives (never kept), and cut is set to true; otherwise cut is set to false. The next
    // read starts at the next line, so the stream stays in step.
    QByteArray readDataLine(const QDeadlineTimer &deadline, bool &cut,
                            qsizetype maxLength = MaxLineLength);

    void setSecurity(Security security) { m_security = security; }
    Security security() const { return m_security; }
    // Turns the open plain connection into TLS once the server has agreed (to STLS or
    // STARTTLS), verifying the server's certificate against the host name given to open().
    // Bytes that arrived after the server's agreement and before the handshake may have been
    // injected by anyone on the path: they fail the upgrade with ProtocolError and the
    // connection is closed. A failed handshake or certificate check throws SecurityError naming
    // the check; the connection is then closed.
    void startTls();

    virtual bool isOpen() const = 0;
    // Closes the connection at once, without waiting for anything; bytes already written are
    // still delivered when the peer takes them. Safe to call when nothing is open.
    virtual void close() = 0;
    // Makes a pending wait (and any later one) fail like a dropped connection, so that an
    // operation in progress unwinds; used when the program must shut down in the middle of an
    // operation.
    virtual void abort() = 0;

    // Milliseconds a read or a connection attempt may wait; 0 or less waits without limit.
    int readTimeout() const { return m_readTimeoutMs; }
    void setReadTimeout(int milliseconds) { m_readTimeoutMs = milliseconds; }
    // Milliseconds a one-line reply may take as a whole; 0 or less: no limit.
    int replyDeadline() const { return m_replyDeadlineMs; }
    void setReplyDeadline(int milliseconds) { m_replyDeadlineMs = milliseconds; }
    // Milliseconds a whole multi-line reply may take; 0 or less: no limit.
    int dataDeadline() const { return m_dataDeadlineMs; }
    void setDataDeadline(int milliseconds) { m_dataDeadlineMs = milliseconds; }
    // Sets both deadlines from the one of a one-line reply: a multi-line reply gets
    // DataDeadlineFactor times as long.
    void setDeadlines(int replyMilliseconds);
    // The deadline of a one-line reply, and of a multi-line reply's data, that start now.
    QDeadlineTimer startReplyDeadline() const;
    QDeadlineTimer startDataDeadline() const;

    void setTranscript(TranscriptSink sink) { m_transcript = std::move(sink); }

protected:
    // Connects to host:port; throws on failure. The receive buffer is already empty.
    virtual void connectTo(const QString &host, quint16 port) = 0;
    // Sends bytes on the open connection; throws on failure.
    virtual void send(const QByteArray &bytes) = 0;
    // Waits until at least one more byte has arrived and appends what arrived to buffer.
    // Throws when the connection closes, fails or the read time-out expires first. Waits no
    // longer than the deadline of the reply being read (currentReplyDeadline()): once that has
    // passed it may return with nothing appended, and the caller fails the reply.
    virtual void receiveMore(QByteArray &buffer) = 0;
    // Performs the TLS handshake on the open connection (startTls()); throws SecurityError.
    // The default refuses: a transport that cannot do TLS never pretends to.
    virtual void encrypt();
    const QDeadlineTimer &currentReplyDeadline() const { return m_replyDeadline; }

    // Texts shared by every implementation.
    static QString notConnectedText();
    static QString closedGracefullyText();
    // "Socket Error # %d\r\n%s".
    static QString socketErrorText(int number, const QString &text);

private:
    // Reads one line by deadline (of limitMs milliseconds, for the error text). With cut null
    // an over-long line fails; otherwise it is cut (see readDataLine).
    QByteArray readLineBy(const QDeadlineTimer &deadline, int limitMs, bool *cut,
                          qsizetype maxLength = MaxLineLength);
    [[noreturn]] void failDeadline(int limitMs);
    void record(const char *direction, const QByteArray &bytes);

    QByteArray m_buffer;
    QDeadlineTimer m_replyDeadline{QDeadlineTimer::Forever};
    int m_readTimeoutMs = DefaultReadTimeoutMs;
    int m_replyDeadlineMs = DefaultReplyDeadlineMs;
    int m_dataDeadlineMs = DefaultDataDeadlineMs;
    TranscriptSink m_transcript;
    Security m_security = Security::Auto;
};

// How a transport opens a connection whose setting asks for the given protection.
inline Transport::Security transportSecurity(ConnectionSecurity security) {
    switch (security) {
    case ConnectionSecurity::StartTls:
        return Transport::Security::StartTls;
    case ConnectionSecurity::Tls:
        return Transport::Security::Tls;
    case ConnectionSecurity::None:
        break;
    }
    return Transport::Security::Plain;
}

} // namespace corvane
