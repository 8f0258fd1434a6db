#include "core/protocol/httpfetcher.h"

#include "core/errors.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTimer>

#include <optional>

using namespace Qt::StringLiterals;

namespace corvane {

namespace {

// Why a fetch failed before it finished by itself.
struct Failure {
    enum class Kind { Network, Protocol } kind;
    QString text;
};

[[noreturn]] void raise(const Failure &failure) {
    if (failure.kind == Failure::Kind::Protocol)
        throw ProtocolError(failure.text);
    throw NetworkError(failure.text);
}

} // namespace

HttpFetcher::HttpFetcher() : m_manager(std::make_unique<QNetworkAccessManager>()) {
    m_manager->setProxy(QNetworkProxy::NoProxy);
    m_manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    // No cookie is stored: the default jar would keep them for the manager's life.
    m_manager->setCookieJar(nullptr);
}

HttpFetcher::~HttpFetcher() {
    abort();
}

void HttpFetcher::addCaCertificates(const QList<QSslCertificate> &certificates) {
    m_extraCas += certificates;
}

QByteArray HttpFetcher::userAgent() {
    return QByteArrayLiteral("Corvane/" CORVANE_VERSION);
}

void HttpFetcher::abort() {
    if (!m_reply)
        return;
    m_aborted = true;
    m_reply->abort();
}

QByteArray HttpFetcher::FetchUrl(const QUrl &url) {
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"http"_s && scheme != u"https"_s) || url.host().isEmpty())
        throw DataError(u"Not a web address that can be fetched: %1"_s.arg(url.toDisplayString()));
    if (m_reply)
        throw NetworkError(u"A transfer is already in progress."_s);

    QNetworkRequest request(url);
    request.setRawHeader("Accept", "text/html, */*");
    request.setRawHeader("Content-Type", "text/html");
    request.setRawHeader("User-Agent", userAgent());
    // The body is kept exactly as sent; a compressed transfer could also hide its real size.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::AuthenticationReuseAttribute, QNetworkRequest::Manual);
    if (scheme == u"https"_s && !m_extraCas.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(m_extraCas);
        request.setSslConfiguration(tls);
    }

    QNetworkReply *reply = m_manager->get(request);
    // The toolkit reads the body in another thread; a small read buffer makes it wait for the
    // bytes to be taken here, where they are counted, instead of gathering them all first.
    reply->setReadBufferSize(ReadChunk);
    m_reply = reply;
    m_aborted = false;
    std::optional<Failure> failure;
    const auto fail = [&](Failure::Kind kind, const QString &text) {
        if (!failure)
            failure = Failure{kind, text};
        reply->abort();
    };
    const auto tooLarge = [&] {
        fail(Failure::Kind::Protocol,
             u"The file is larger than %1 bytes and was refused."_s.arg(m_maxBodySize));
    };

    QByteArray body;
    const auto take = [&] {
        while (!failure && reply->bytesAvailable() > 0) {
            const QByteArray part = reply->read(ReadChunk);
            if (part.isEmpty())
                break;
            if (body.size() + part.size() > m_maxBodySize) {
                tooLarge();
                return;
            }
            body += part;
        }
    };

    QEventLoop loop;
    QTimer idle;
    idle.setSingleShot(true);
    idle.setInterval(m_timeout);
    QObject::connect(&idle, &QTimer::timeout, &loop, [&] {
        fail(Failure::Kind::Network,
             u"The server did not answer within %1 seconds."_s.arg(m_timeout.count() / 1000.0));
    });
    QTimer whole;
    whole.setSingleShot(true);
    whole.setInterval(m_deadline);
    QObject::connect(&whole, &QTimer::timeout, &loop, [&] {
        fail(Failure::Kind::Network,
             u"The server did not send the whole file within %1 seconds."_s.arg(m_deadline.count() /
                                                                                1000.0));
    });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, [&] {
        idle.start();
        const auto headers = reply->rawHeaderPairs();
        for (const auto &[name, value] : headers) {
            if (name.size() + 2 + value.size() > MaxHeaderLine) {
                fail(Failure::Kind::Protocol, u"Max line length exceeded."_s);
                return;
            }
        }
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > m_maxBodySize)
            tooLarge();
    });
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        idle.start();
        take();
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    idle.start();
    whole.start();
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);

    m_reply = nullptr;
    const std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)> owner(
        reply, [](QNetworkReply *r) { r->deleteLater(); });
    if (m_aborted)
        throw NetworkError(u"The transfer was stopped."_s);
    if (failure)
        raise(*failure);

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        if (reply->error() == QNetworkReply::RemoteHostClosedError)
            throw NetworkError(u"Connection Closed Gracefully."_s);
        throw NetworkError(
            u"Cannot fetch %1: %2"_s.arg(url.toDisplayString(), reply->errorString()));
    }
    const int code = status.toInt();
    if (code < 200 || code > 299) {
        const QString reason =
            reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        throw ProtocolError((u"HTTP/1.1 %1 %2"_s.arg(code).arg(reason)).trimmed());
    }
    if (reply->error() != QNetworkReply::NoError)
        throw NetworkError(
            u"The transfer of %1 broke off: %2"_s.arg(url.toDisplayString(), reply->errorString()));
    take();
    if (failure)
        raise(*failure);
    // The toolkit may end a reply whose connection closed early without an error: a body
    // shorter than its Content-Length is a transfer that broke off, never a file.
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && body.size() != length.toLongLong())
        throw NetworkError(u"The transfer of %1 broke off after %2 of %3 bytes."_s.arg(
            url.toDisplayString(), QString::number(body.size()), length.toString()));
    return body;
}

} // namespace corvane
