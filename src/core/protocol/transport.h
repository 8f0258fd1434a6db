#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace corvane {

// A line-oriented byte stream to one server, as the protocol clients see it. Every operation
// is synchronous: it returns when the bytes are written or a line is in, and throws
// NetworkError (socket failures, a peer that closed, a time-out) or ProtocolError (an
// over-long line) otherwise. Implementations provide the connection and the raw waiting; this
// class assembles lines, enforces the line limit and keeps the optional transcript, so every
// implementation behaves alike.
class Transport {
public:
    // The longest line accepted from a server, line break not counted.
    static constexpr qsizetype MaxLineLength = 16384;
    // The read time-out when none is set: a server that stops answering fails the wait after
    // this long, like a dropped connection.
    static constexpr int DefaultReadTimeoutMs = 60000;

    // Receives one transcript line: "--> " and what was sent, or "<-- " and what arrived.
    using TranscriptSink = std::function<void(const QString &line)>;

    Transport() = default;
    virtual ~Transport() = default;
    Transport(const Transport &) = delete;
    Transport &operator=(const Transport &) = delete;

    // Opens a connection. Throws "Already connected." when one is open; socket and
    // name-resolution failures throw "Socket Error # %d\r\n%s".
    void open(const QString &host, quint16 port);
    // Sends one line followed by CR LF. The transcript shows the bytes from maskFrom on as
    // asterisks (for a password); -1 shows the whole line. Throws "Not Connected" when no
    // connection is open.
    void writeLine(const QByteArray &line, qsizetype maskFrom = -1);
    // Reads one line, without its line break (CR LF or a bare LF). Input is untrusted: a line
    // longer than MaxLineLength fails with "Max line length exceeded.".
    QByteArray readLine();

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

    void setTranscript(TranscriptSink sink) { m_transcript = std::move(sink); }

protected:
    // Connects to host:port; throws on failure. The receive buffer is already empty.
    virtual void connectTo(const QString &host, quint16 port) = 0;
    // Sends bytes on the open connection; throws on failure.
    virtual void send(const QByteArray &bytes) = 0;
    // Waits until at least one more byte has arrived and appends what arrived to buffer.
    // Throws when the connection closes, fails or the read time-out expires first.
    virtual void receiveMore(QByteArray &buffer) = 0;

    // Texts shared by every implementation.
    static QString notConnectedText();
    static QString closedGracefullyText();
    // "Socket Error # %d\r\n%s".
    static QString socketErrorText(int number, const QString &text);

private:
    void record(const char *direction, const QByteArray &bytes);

    QByteArray m_buffer;
    int m_readTimeoutMs = DefaultReadTimeoutMs;
    TranscriptSink m_transcript;
};

} // namespace corvane
