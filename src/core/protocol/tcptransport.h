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
class QTcpSocket;

namespace corvane {

// The transport over a real socket. Waits run a local event loop (never the socket's blocking
// waitFor* calls), so windows repaint and commands and timers run while an operation waits.
// Port 995 means TLS from the first byte with the server's certificate verified against the
// host name; every other port speaks plain TCP.
class TcpTransport final : public Transport {
public:
    enum class Security {
        Auto, // TLS on port 995, plain TCP on every other port
        Plain,
        Tls,
    };

    TcpTransport();
    ~TcpTransport() override;

    void setSecurity(Security security) { m_security = security; }
    // Certificates trusted in addition to the system's (tests use a private authority).
    void addCaCertificates(const QList<QSslCertificate> &certificates);

    bool isOpen() const override;
    void close() override;
    void abort() override;

protected:
    void connectTo(const QString &host, quint16 port) override;
    void send(const QByteArray &bytes) override;
    void receiveMore(QByteArray &buffer) override;

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
    // Lets the socket finish sending and closing on its own, then deletes it.
    void retire();

    std::unique_ptr<QObject> m_context; // parent of the sockets
    QTcpSocket *m_socket = nullptr;     // a QSslSocket for TLS
    QTimer *m_wakeUp;                   // owned by m_context
    Security m_security = Security::Auto;
    QList<QSslCertificate> m_extraCas;
    QList<QSslError> m_sslErrors;
    QString m_host;
    bool m_aborted = false;
};

} // namespace corvane
