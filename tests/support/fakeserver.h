#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslKey>
#include <QStringList>

#include <functional>
#include <memory>

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace corvane::test {

// A scripted line server on 127.0.0.1 with a free port, for the socket layer and the
// protocol clients over real sockets. The script runs on every accepted connection in
// order: send bytes, expect a line from the client, close, or fall silent. It runs in the
// thread's event loop, so the synchronous clients (whose waits run a local event loop)
// can talk to it from the same thread.
class FakeServer final : public QObject {
public:
    FakeServer();
    ~FakeServer() override;

    quint16 port() const;
    // Serves TLS from the first byte with a self-signed certificate for "localhost" and
    // "127.0.0.1"; certificate() is what a client must trust.
    void enableTls();
    static QSslCertificate certificate();

    FakeServer &send(const QByteArray &bytes);
    // Waits for the next line from the client (without its CR LF) and compares it; a
    // mismatch is recorded in mismatches().
    FakeServer &expect(const QByteArray &line);
    // Waits until the client sends this line, passing over the lines before it (for a
    // request whose header lines come in an order the server need not know: skipUntil("")
    // waits for the end of an HTTP request's head).
    FakeServer &skipUntil(const QByteArray &line);
    // Sends bytes one at a time, one every intervalMs milliseconds (a server that trickles).
    FakeServer &trickle(const QByteArray &bytes, int intervalMs);
    // Sends bytes every intervalMs milliseconds for as long as the connection stands: a reply
    // that never ends. The script ends here.
    FakeServer &repeatForever(const QByteArray &bytes, int intervalMs);
    // Turns the connection into TLS from here on (the server's side of STLS or STARTTLS), with
    // the certificate of enableTls(); the script goes on once the handshake is done.
    FakeServer &startTls();
    FakeServer &closeConnection();
    // Ends the script without closing: the server keeps the connection and says nothing more.
    FakeServer &fallSilent();
    // Runs action when the script reaches this step (to act at an exact point of the
    // conversation, such as signalling the client).
    FakeServer &call(std::function<void()> action);
    // Holds the script for this many milliseconds before the next step.
    FakeServer &pause(int milliseconds);

    // Every line received from clients, in order, also those after the script ended.
    const QList<QByteArray> &received() const { return m_received; }
    const QStringList &mismatches() const { return m_mismatches; }
    int connectionCount() const { return m_connections; }
    // True once the connection has been closed by the client (or by the script).
    bool peerClosed() const { return m_peerClosed; }

private:
    struct Step;
    void accept();
    void advance();
    void readLines();
    // Sends the next paced bytes of the current trickle or repeat step.
    void pace();

    std::unique_ptr<QTcpServer> m_server;
    QList<Step> m_script;
    qsizetype m_next = 0;
    QTcpSocket *m_socket = nullptr;
    QTimer *m_pacer;       // drives trickle and repeat steps; a child of this server
    qsizetype m_paced = 0; // bytes of the current trickle step sent
    QByteArray m_pending;
    QList<QByteArray> m_lines;
    QList<QByteArray> m_received;
    QStringList m_mismatches;
    int m_connections = 0;
    bool m_peerClosed = false;
    bool m_paused = false;
};

} // namespace corvane::test
