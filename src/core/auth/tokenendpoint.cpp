#include "core/auth/tokenendpoint.h"

#include "core/errors.h"
#include "core/platform/safetext.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

// A server's words for a message: one line of printable text, cut to 300 characters.
QString serverText(const QString &text) {
    constexpr qsizetype Limit = 300;
    QString line = safeText(text.simplified());
    if (line.size() > Limit)
        line = line.left(Limit) + u"…"_s;
    return line;
}

QByteArray formBody(const QList<std::pair<QString, QString>> &form) {
    QByteArray body;
    for (const auto &[key, value] : form) {
        if (!body.isEmpty())
            body += '&';
        body += QUrl::toPercentEncoding(key) + '=' + QUrl::toPercentEncoding(value);
    }
    return body;
}

} // namespace

QString OAuthGrant::toJson() const {
    QJsonObject object{{u"refresh_token"_s, refreshToken}, {u"access_token"_s, accessToken}};
    if (expiresAt.isValid())
        object.insert(u"expires_at"_s, expiresAt.toSecsSinceEpoch());
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

std::optional<OAuthGrant> OAuthGrant::fromJson(const QString &json) {
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8());
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    OAuthGrant grant;
    grant.refreshToken = object.value(u"refresh_token"_s).toString();
    grant.accessToken = object.value(u"access_token"_s).toString();
    if (object.contains(u"expires_at"_s))
        grant.expiresAt = QDateTime::fromSecsSinceEpoch(
            qint64(object.value(u"expires_at"_s).toDouble()), Qt::UTC);
    if (grant.refreshToken.isEmpty() && grant.accessToken.isEmpty())
        return std::nullopt;
    return grant;
}

QVariantMap TokenEndpoint::post(const QUrl &url, const QList<std::pair<QString, QString>> &form,
                                int &status) {
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, u"application/x-www-form-urlencoded"_s);
    request.setRawHeader("Accept", "application/json");
    // A token endpoint that redirects is not followed: the form holds secrets.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    QList<std::pair<QString, QString>> fields = form;
    fields.append({u"client_id"_s, m_provider.clientId});
    if (!m_provider.clientSecret.isEmpty())
        fields.append({u"client_secret"_s, m_provider.clientSecret});
    QNetworkReply *reply = manager.post(request, formBody(fields));
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    bool timedOut = false;
    bool tooLarge = false;
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        if (reply->bytesAvailable() > MaxAnswerBytes) {
            tooLarge = true;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (m_timeoutMs > 0)
        timer.start(m_timeoutMs);
    if (!reply->isFinished())
        loop.exec();
    timer.stop();
    const QString host = url.host();
    if (timedOut) {
        reply->deleteLater();
        throw NetworkError(
            u"The sign-in server %1 did not answer within %2 seconds."_s.arg(host).arg(m_timeoutMs /
                                                                                       1000),
            NetworkError::Reason::TimedOut);
    }
    if (tooLarge) {
        reply->deleteLater();
        throw ProtocolError(
            u"The sign-in server %1 sent an answer larger than %2 KiB; it was refused."_s.arg(host)
                .arg(MaxAnswerBytes / 1024));
    }
    status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray body = reply->read(MaxAnswerBytes + 1);
    const QString errorString = reply->errorString();
    const QNetworkReply::NetworkError error = reply->error();
    reply->deleteLater();
    if (status == 0) {
        const bool tls = error == QNetworkReply::SslHandshakeFailedError;
        throw NetworkError(
            u"The sign-in server %1 could not be reached: %2"_s.arg(host, errorString),
            tls                                              ? NetworkError::Reason::Tls
            : error == QNetworkReply::ConnectionRefusedError ? NetworkError::Reason::Refused
            : error == QNetworkReply::HostNotFoundError      ? NetworkError::Reason::HostNotFound
                                                             : NetworkError::Reason::Other);
    }
    if (body.size() > MaxAnswerBytes)
        throw ProtocolError(
            u"The sign-in server %1 sent an answer larger than %2 KiB; it was refused."_s.arg(host)
                .arg(MaxAnswerBytes / 1024));
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        throw ProtocolError(u"The sign-in server %1 answered with HTTP status %2 and no "
                            u"usable JSON."_s.arg(host)
                                .arg(status));
    return document.object().toVariantMap();
}

void TokenEndpoint::fail(const QVariantMap &answer, int status) const {
    const QString error = serverText(answer.value(u"error"_s).toString());
    const QString description = serverText(answer.value(u"error_description"_s).toString());
    QString words = error.isEmpty() ? u"HTTP status %1"_s.arg(status) : error;
    if (!description.isEmpty())
        words += u": "_s + description;
    if (error == u"invalid_grant"_s || error == u"access_denied"_s || error == u"expired_token"_s)
        throw SignInRequiredError(
            u"The sign-in at %1 is no longer valid (the server answered "
            u"\"%2\"). Sign in to the account again."_s.arg(m_provider.name, words));
    throw ProtocolError(
        u"The sign-in server of %1 refused the request: %2"_s.arg(m_provider.name, words));
}

OAuthGrant TokenEndpoint::grantFrom(const QVariantMap &answer,
                                    const QString &previousRefresh) const {
    OAuthGrant grant;
    grant.accessToken = answer.value(u"access_token"_s).toString();
    grant.refreshToken = answer.value(u"refresh_token"_s).toString();
    if (grant.refreshToken.isEmpty())
        grant.refreshToken = previousRefresh;
    if (grant.accessToken.isEmpty())
        throw ProtocolError(
            u"The sign-in server of %1 answered without an access token."_s.arg(m_provider.name));
    bool ok = false;
    const qint64 seconds = answer.value(u"expires_in"_s).toLongLong(&ok);
    if (ok && seconds > 0)
        grant.expiresAt = now().addSecs(seconds);
    return grant;
}

OAuthGrant TokenEndpoint::exchangeCode(const QString &code, const QString &verifier,
                                       const QString &redirect) {
    int status = 0;
    const QVariantMap answer = post(m_provider.tokenUrl,
                                    {{u"grant_type"_s, u"authorization_code"_s},
                                     {u"code"_s, code},
                                     {u"code_verifier"_s, verifier},
                                     {u"redirect_uri"_s, redirect}},
                                    status);
    if (status != 200 || answer.contains(u"error"_s))
        fail(answer, status);
    OAuthGrant grant = grantFrom(answer, {});
    if (grant.refreshToken.isEmpty())
        throw ProtocolError(
            u"The sign-in server of %1 gave no refresh token, so the program "
            u"could not sign in again later without asking."_s.arg(m_provider.name));
    return grant;
}

OAuthGrant TokenEndpoint::refresh(const QString &refreshToken) {
    if (refreshToken.isEmpty())
        throw SignInRequiredError(
            u"The account has not been signed in at %1 yet. Sign in to it first."_s.arg(
                m_provider.name));
    int status = 0;
    const QVariantMap answer =
        post(m_provider.tokenUrl,
             {{u"grant_type"_s, u"refresh_token"_s}, {u"refresh_token"_s, refreshToken}}, status);
    if (status != 200 || answer.contains(u"error"_s))
        fail(answer, status);
    return grantFrom(answer, refreshToken);
}

DeviceAuthorization TokenEndpoint::startDeviceAuthorization(const QString &loginHint) {
    if (m_provider.deviceUrl.isEmpty())
        throw Error(u"%1 offers no sign-in with a code on another device."_s.arg(m_provider.name));
    int status = 0;
    QList<std::pair<QString, QString>> form{{u"scope"_s, m_provider.scope}};
    if (!loginHint.isEmpty())
        form.append({u"login_hint"_s, loginHint});
    const QVariantMap answer = post(m_provider.deviceUrl, form, status);
    if (status != 200 || answer.contains(u"error"_s))
        fail(answer, status);
    DeviceAuthorization device;
    device.deviceCode = answer.value(u"device_code"_s).toString();
    device.userCode = serverText(answer.value(u"user_code"_s).toString());
    // Some servers name it verification_url.
    device.verificationUri =
        QUrl(answer.value(u"verification_uri"_s, answer.value(u"verification_url"_s)).toString());
    device.verificationUriComplete = QUrl(answer.value(u"verification_uri_complete"_s).toString());
    bool ok = false;
    const int interval = answer.value(u"interval"_s).toInt(&ok);
    if (ok && interval > 0)
        device.interval = std::chrono::seconds(qMin(interval, 60));
    const qint64 expires = answer.value(u"expires_in"_s).toLongLong(&ok);
    device.expiresAt = now().addSecs(ok && expires > 0 ? qMin<qint64>(expires, 3600) : 600);
    const auto usable = [](const QUrl &url) {
        return url.isValid() && (url.scheme() == u"https"_s || url.scheme() == u"http"_s);
    };
    if (device.deviceCode.isEmpty() || device.userCode.isEmpty() || !usable(device.verificationUri))
        throw ProtocolError(u"The sign-in server of %1 answered the device sign-in without a "
                            u"code or an address to visit."_s.arg(m_provider.name));
    if (!usable(device.verificationUriComplete))
        device.verificationUriComplete.clear();
    return device;
}

std::optional<OAuthGrant> TokenEndpoint::pollDevice(DeviceAuthorization &authorization) {
    int status = 0;
    const QVariantMap answer =
        post(m_provider.tokenUrl,
             {{u"grant_type"_s, u"urn:ietf:params:oauth:grant-type:device_code"_s},
              {u"device_code"_s, authorization.deviceCode}},
             status);
    const QString error = answer.value(u"error"_s).toString();
    if (error == u"authorization_pending"_s)
        return std::nullopt;
    if (error == u"slow_down"_s) {
        authorization.interval += std::chrono::seconds(5);
        return std::nullopt;
    }
    if (status != 200 || !error.isEmpty())
        fail(answer, status);
    return grantFrom(answer, {});
}

} // namespace corvane
