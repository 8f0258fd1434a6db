#pragma once

#include "core/errors.h"
#include "core/protocol/transport.h"

#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslError>

#include <memory>

class QDeadlineTimer;
class QTimer;
class QSslSocket;
class QTcpSocket;

namespace corvane {

// The transport over a real socket. Waits run a local event loop (never the socket's blocking
// waitFor* calls), so windows repaint and commands and timers run while an operation waits.
// Security::Auto means TLS from the first byte on port 995 and plain TCP on every other port;
// TLS is always verified: the server's certificate must chain to a trusted authority and match
// the host name.
class TcpTransport final : public Transport {
public:
    TcpTransport();
    ~TcpTransport() override;

    // Certificates trusted in addition to the system's (tests use a private authority).
    void addCaCertificates(const QList<QSslCertificate> &certificates);

    bool isOpen() const override;
    void close() override;
    void abort() override;

protected:
    void connectTo(const QString &host, quint16 port) override;
    void send(const QByteArray &bytes) override;
    void receiveMore(QByteArray &buffer) override;
    void encrypt() override;

private:
    // Handles events until at least one has arrived (socket activity, the time-out, anything
    // else of the program); false when the deadline has passed.
    bool waitForActivity(const QDeadlineTimer &deadline);
    QDeadlineTimer readDeadline() const;
    // How often a wait wakes up to look at its limits.
    int sliceMs() const;
    // True once the connection is ready for the protocol (for TLS: once encrypted).
    bool established(bool tls) const;
    // The error for a socket that stopped working; closes the connection.
    [[noreturn]] void fail(const QString &text,
                           NetworkError::Reason reason = NetworkError::Reason::Other);
    [[noreturn]] void failFromSocket();
    // Waits until the connection is established (tls: encrypted); fails on errors and when
    // the read time-out expires.
    void waitEstablished(bool tls);
    // The TLS settings: peer verification, the extra authorities.
    void configureTls(QSslSocket &socket);
    // Lets the socket finish sending and closing on its own, then deletes it.
    void retire();

    std::unique_ptr<QObject> m_context; // parent of the sockets
    QTcpSocket *m_socket = nullptr;     // a QSslSocket for TLS
    QTimer *m_wakeUp;                   // owned by m_context
    QList<QSslCertificate> m_extraCas;
    QList<QSslError> m_sslErrors;
    QString m_host;
    bool m_aborted = false;
};

} // namespace corvane
