#include "protocol/tcptransport.h"

#include "errors.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

// A socket failure as its conventional socket error number and text.
struct SocketFailure {
    int number;
    QString text;
};

SocketFailure describe(QAbstractSocket::SocketError error, const QString &qtText) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return {10061, u"Connection refused."_s};
    case QAbstractSocket::HostNotFoundError:
        return {11001, u"Host not found."_s};
    case QAbstractSocket::SocketAccessError:
        return {10013, u"Permission denied."_s};
    case QAbstractSocket::SocketResourceError:
        return {10055, u"No buffer space available."_s};
    case QAbstractSocket::SocketTimeoutError:
        return {10060, u"Connection timed out."_s};
    case QAbstractSocket::NetworkError:
        return {10051, u"Network is unreachable."_s};
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

// How long a closed socket may take to deliver its last bytes before it is dropped.
constexpr int kLingerMs = 10000;

} // namespace

TcpTransport::TcpTransport() : m_context(std::make_unique<QObject>()) {}

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
    m_aborted = true;
    if (m_loop)
        m_loop->quit();
}

void TcpTransport::retire() {
    QSslSocket *socket = m_socket;
    m_socket = nullptr;
    socket->disconnect(); // no more signals to a wait of ours
    if (m_loop)
        m_loop->quit();
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

void TcpTransport::fail(const QString &text) {
    if (m_socket) {
        m_socket->abort();
        retire();
    }
    throw NetworkError(text);
}

void TcpTransport::failFromSocket() {
    if (m_aborted)
        fail(closedGracefullyText());
    const QAbstractSocket::SocketError error = m_socket->error();
    if (error == QAbstractSocket::RemoteHostClosedError ||
        error == QAbstractSocket::UnknownSocketError)
        fail(closedGracefullyText());
    if (error == QAbstractSocket::SslHandshakeFailedError || !m_sslErrors.isEmpty()) {
        QStringList reasons;
        for (const QSslError &e : std::as_const(m_sslErrors))
            reasons << e.errorString();
        if (reasons.isEmpty())
            reasons << m_socket->errorString();
        fail(u"The secure connection to %1 could not be established: %2"_s.arg(
            m_host, reasons.join(u"; "_s)));
    }
    const SocketFailure failure = describe(error, m_socket->errorString());
    fail(socketErrorText(failure.number, failure.text));
}

QDeadlineTimer TcpTransport::readDeadline() const {
    return readTimeout() > 0 ? QDeadlineTimer(readTimeout())
                             : QDeadlineTimer(QDeadlineTimer::Forever);
}

bool TcpTransport::waitForActivity(const QDeadlineTimer &deadline) {
    if (deadline.hasExpired())
        return false;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(m_socket, &QIODevice::readyRead, &loop, &QEventLoop::quit);
    QObject::connect(m_socket, &QAbstractSocket::connected, &loop, &QEventLoop::quit);
    QObject::connect(m_socket, &QAbstractSocket::disconnected, &loop, &QEventLoop::quit);
    QObject::connect(m_socket, &QAbstractSocket::errorOccurred, &loop, &QEventLoop::quit);
    QObject::connect(m_socket, &QSslSocket::encrypted, &loop, &QEventLoop::quit);
    if (!deadline.isForever())
        timer.start(std::chrono::milliseconds(deadline.remainingTime()));
    m_loop = &loop;
    loop.exec();
    m_loop = nullptr;
    return !deadline.hasExpired();
}

void TcpTransport::connectTo(const QString &host, quint16 port) {
    if (m_socket)
        retire();
    m_aborted = false;
    m_host = host;
    m_sslErrors.clear();
    m_socket = new QSslSocket(m_context.get());
    const bool tls = m_security == Security::Tls || (m_security == Security::Auto && port == 995);
    QSslSocket *socket = m_socket;
    QObject::connect(socket, &QSslSocket::sslErrors, socket,
                     [this](const QList<QSslError> &errors) { m_sslErrors = errors; });
    if (tls) {
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setPeerVerifyMode(QSslSocket::VerifyPeer);
        if (!m_extraCas.isEmpty())
            config.addCaCertificates(m_extraCas);
        socket->setSslConfiguration(config);
        socket->connectToHostEncrypted(host, port);
    } else {
        socket->connectToHost(host, port);
    }
    const QDeadlineTimer deadline = readDeadline();
    for (;;) {
        if (!m_socket)
            throw NetworkError(notConnectedText());
        if (m_aborted)
            fail(closedGracefullyText());
        if (tls ? m_socket->isEncrypted() : m_socket->state() == QAbstractSocket::ConnectedState)
            return;
        if (m_socket->state() == QAbstractSocket::UnconnectedState ||
            m_socket->error() != QAbstractSocket::UnknownSocketError)
            failFromSocket();
        if (!waitForActivity(deadline) && m_socket && !m_aborted &&
            !(tls ? m_socket->isEncrypted() : m_socket->state() == QAbstractSocket::ConnectedState))
            fail(socketErrorText(10060, u"Connection timed out."_s));
    }
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
    const QDeadlineTimer deadline = readDeadline();
    for (;;) {
        if (!m_socket)
            throw NetworkError(notConnectedText());
        if (m_aborted)
            fail(closedGracefullyText());
        if (m_socket->bytesAvailable() > 0) {
            buffer += m_socket->readAll();
            return;
        }
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            failFromSocket();
        if (!waitForActivity(deadline) && m_socket && !m_aborted && m_socket->bytesAvailable() == 0)
            fail(socketErrorText(10060, u"Connection timed out."_s));
    }
}

} // namespace corvane
