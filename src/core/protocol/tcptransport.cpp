#include "core/protocol/tcptransport.h"

#include "core/errors.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

// A socket failure as its conventional socket error number and text.
struct SocketFailure {
    int number;
    QString text;
    NetworkError::Reason reason = NetworkError::Reason::Other;
};

SocketFailure describe(QAbstractSocket::SocketError error, const QString &qtText) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return {10061, u"Connection refused."_s, NetworkError::Reason::Refused};
    case QAbstractSocket::HostNotFoundError:
        return {11001, u"Host not found."_s, NetworkError::Reason::HostNotFound};
    case QAbstractSocket::SocketAccessError:
        return {10013, u"Permission denied."_s};
    case QAbstractSocket::SocketResourceError:
        return {10055, u"No buffer space available."_s};
    case QAbstractSocket::SocketTimeoutError:
        return {10060, u"Connection timed out."_s, NetworkError::Reason::TimedOut};
    case QAbstractSocket::NetworkError:
        return {10051, u"Network is unreachable."_s, NetworkError::Reason::Unreachable};
    case QAbstractSocket::AddressInUseError:
        return {10048, u"Address already in use."_s};
    case QAbstractSocket::SocketAddressNotAvailableError:
        return {10049, u"Cannot assign requested address."_s};
    case QAbstractSocket::UnsupportedSocketOperationError:
        return {10045, u"Operation not supported."_s};
    default:
        break;
    }
    return {10053, qtText.isEmpty() ? u"Software caused connection abort."_s : qtText + u'.'};
}

// The longest a wait sleeps before it looks at its time-out again.
constexpr int kSliceMs = 250;

// How long a closed socket may take to deliver its last bytes before it is dropped.
constexpr int kLingerMs = 10000;

} // namespace

TcpTransport::TcpTransport()
    : m_context(std::make_unique<QObject>()), m_wakeUp(new QTimer(m_context.get())) {}

TcpTransport::~TcpTransport() {
    if (m_socket) {
        m_socket->flush();
        m_socket->abort();
    }
    // m_context deletes the sockets, retired ones included.
}

void TcpTransport::addCaCertificates(const QList<QSslCertificate> &certificates) {
    m_extraCas += certificates;
}

bool TcpTransport::isOpen() const {
    return m_socket && !m_aborted && m_socket->state() == QAbstractSocket::ConnectedState;
}

void TcpTransport::close() {
    if (m_socket)
        retire();
}

void TcpTransport::abort() {
    // Called from an event handled inside a wait: the wait sees the flag when the handler
    // returns.
    m_aborted = true;
}

void TcpTransport::retire() {
    m_wakeUp->stop();
    QTcpSocket *socket = m_socket;
    m_socket = nullptr;
    socket->disconnect(); // no more signals to a wait of ours
    socket->flush();
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kLingerMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}

void TcpTransport::fail(const QString &text, NetworkError::Reason reason) {
    if (m_socket) {
        m_socket->abort();
        retire();
    }
    throw NetworkError(text, reason);
}

void TcpTransport::failFromSocket() {
    if (m_aborted)
        fail(closedGracefullyText(), NetworkError::Reason::Closed);
    const QAbstractSocket::SocketError error = m_socket->error();
    if (error == QAbstractSocket::RemoteHostClosedError ||
        error == QAbstractSocket::UnknownSocketError)
        fail(closedGracefullyText(), NetworkError::Reason::Closed);
    if (error == QAbstractSocket::SslHandshakeFailedError ||
        error == QAbstractSocket::SslInternalError ||
        error == QAbstractSocket::SslInvalidUserDataError || !m_sslErrors.isEmpty()) {
        // Each failed check in its own words: "The certificate has expired", "The host name
        // did not match any of the valid hosts for this certificate", ...
        QStringList reasons;
        for (const QSslError &e : std::as_const(m_sslErrors))
            if (!reasons.contains(e.errorString()))
                reasons << e.errorString();
        if (reasons.isEmpty())
            reasons << m_socket->errorString();
        const QString text = u"The secure connection to %1 could not be established: %2"_s.arg(
            m_host, reasons.join(u"; "_s));
        m_socket->abort();
        retire();
        throw SecurityError(text);
    }
    const SocketFailure failure = describe(error, m_socket->errorString());
    fail(socketErrorText(failure.number, failure.text), failure.reason);
}

QDeadlineTimer TcpTransport::readDeadline() const {
    return readTimeout() > 0 ? QDeadlineTimer(readTimeout())
                             : QDeadlineTimer(QDeadlineTimer::Forever);
}

int TcpTransport::sliceMs() const {
    // Short enough to notice the shortest limit in time.
    int slice = kSliceMs;
    for (int limit : {readTimeout(), replyDeadline(), dataDeadline()})
        if (limit > 0)
            slice = std::min(slice, limit);
    return slice;
}

bool TcpTransport::waitForActivity(const QDeadlineTimer &deadline) {
    if (deadline.hasExpired())
        return false;
    // A wait has to wake up to notice its time-out even when nothing else happens: a timer
    // ticks in slices while waits run. It keeps running between waits, because starting
    // and stopping it for every wait would cost more than the few ticks.
    if (!deadline.isForever() && !m_wakeUp->isActive())
        m_wakeUp->start(std::chrono::milliseconds(sliceMs()));
    // One pass of the event loop that sleeps until something happens: socket activity, the
    // time-out, or any other event of the program (a repaint, a click, a timer), which is
    // handled here as well. The caller looks at the socket again afterwards.
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return !deadline.hasExpired();
}

bool TcpTransport::established(bool tls) const {
    if (tls)
        return static_cast<QSslSocket *>(m_socket)->isEncrypted();
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        return false;
    // Commands are single short writes answered before the next one: no need to batch them.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return true;
}

void TcpTransport::connectTo(const QString &host, quint16 port) {
    if (m_socket)
        retire();
    m_aborted = false;
    m_host = host;
    m_sslErrors.clear();
    const Security mode = security();
    const bool tls = mode == Security::Tls || (mode == Security::Auto && port == 995);
    // Plain connections use a plain socket: a TLS socket in plain mode relays every byte
    // through a second socket and costs a round of events per read and write. Only a
    // connection that may be secured later needs one.
    if (tls || mode == Security::StartTls) {
        auto *socket = new QSslSocket(m_context.get());
        m_socket = socket;
        QObject::connect(socket, &QSslSocket::sslErrors, socket,
                         [this](const QList<QSslError> &errors) { m_sslErrors = errors; });
        configureTls(*socket);
        if (tls)
            socket->connectToHostEncrypted(host, port);
        else
            socket->connectToHost(host, port);
    } else {
        m_socket = new QTcpSocket(m_context.get());
        m_socket->connectToHost(host, port, QIODevice::ReadWrite | QIODevice::Unbuffered);
    }
    waitEstablished(tls);
}

void TcpTransport::configureTls(QSslSocket &socket) {
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!m_extraCas.isEmpty())
        config.addCaCertificates(m_extraCas);
    socket.setSslConfiguration(config);
}

void TcpTransport::waitEstablished(bool tls) {
    const QDeadlineTimer deadline = readDeadline();
    for (;;) {
        if (!m_socket)
            throw NetworkError(notConnectedText());
        if (m_aborted)
            fail(closedGracefullyText(), NetworkError::Reason::Closed);
        if (established(tls))
            return;
        if (m_socket->state() == QAbstractSocket::UnconnectedState ||
            m_socket->error() != QAbstractSocket::UnknownSocketError || !m_sslErrors.isEmpty())
            failFromSocket();
        if (!waitForActivity(deadline) && m_socket && !m_aborted && !established(tls))
            fail(socketErrorText(10060, u"Connection timed out."_s),
                 NetworkError::Reason::TimedOut);
    }
}

void TcpTransport::encrypt() {
    auto *socket = qobject_cast<QSslSocket *>(m_socket);
    if (!socket || socket->isEncrypted()) {
        close();
        throw SecurityError(u"The connection to %1 was not opened to be secured later, so it "
                            u"cannot be turned into a secure one."_s.arg(m_host));
    }
    m_sslErrors.clear();
    // The name the certificate must carry is the one the user gave, not what the socket
    // resolved.
    socket->setPeerVerifyName(m_host);
    socket->startClientEncryption();
    waitEstablished(true);
}

void TcpTransport::send(const QByteArray &bytes) {
    if (!m_socket)
        throw NetworkError(notConnectedText());
    if (m_socket->write(bytes) != bytes.size())
        failFromSocket();
    m_socket->flush();
}

void TcpTransport::receiveMore(QByteArray &buffer) {
    if (!m_socket)
        throw NetworkError(notConnectedText());
    const QDeadlineTimer idle = readDeadline();
    const QDeadlineTimer reply = currentReplyDeadline();
    const QDeadlineTimer wakeAt =
        reply.isForever() || (!idle.isForever() && idle < reply) ? idle : reply;
    char chunk[16 * 1024];
    for (;;) {
        if (!m_socket)
            throw NetworkError(notConnectedText());
        if (m_aborted)
            fail(closedGracefullyText(), NetworkError::Reason::Closed);
        // Always try a read: an unbuffered socket learns that the peer closed the connection
        // only from a read that finds the end of the stream.
        const qint64 got = m_socket->read(chunk, sizeof chunk);
        if (got > 0) {
            buffer.append(chunk, got);
            return;
        }
        if (got < 0 || m_socket->state() != QAbstractSocket::ConnectedState)
            failFromSocket();
        if (idle.hasExpired())
            fail(socketErrorText(10060, u"Connection timed out."_s),
                 NetworkError::Reason::TimedOut);
        if (reply.hasExpired())
            return; // the reply as a whole took too long: the caller fails it
        waitForActivity(wakeAt);
    }
}

} // namespace corvane
