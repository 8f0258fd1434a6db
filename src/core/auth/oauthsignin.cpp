#include "core/auth/oauthsignin.h"

#include "core/errors.h"
#include "core/platform/safetext.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QHostAddress>
#include <QOAuth2AuthorizationCodeFlow>
#include <QOAuthHttpServerReplyHandler>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrlQuery>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

QString base64Url(const QByteArray &bytes) {
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// A value of the redirect's query as the browser sent it (form-encoded: "+" is a blank).
QString decoded(const QVariant &value) {
    return QUrl::fromPercentEncoding(value.toString().toUtf8().replace('+', ' '));
}

// Waits with events handled until done() or the time is up (false then).
bool waitFor(int milliseconds, const std::function<bool()> &done, QEventLoop &loop) {
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (milliseconds > 0)
        timer.start(milliseconds);
    while (!done()) {
        if (milliseconds > 0 && !timer.isActive())
            return false;
        loop.exec();
    }
    return true;
}

} // namespace

QString BrowserSignIn::makeVerifier() {
    QByteArray random(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(random.data()),
                                          random.size() / 4);
    return base64Url(random);
}

QString BrowserSignIn::challengeOf(const QString &verifier) {
    return base64Url(QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256));
}

void BrowserSignIn::cancel() {
    if (m_cancel)
        m_cancel();
}

OAuthGrant BrowserSignIn::run(const std::function<void(const QUrl &)> &openUrl) {
    if (m_provider.authorizeUrl.isEmpty())
        throw Error(u"%1 offers no sign-in in the browser."_s.arg(m_provider.name));
    QOAuth2AuthorizationCodeFlow flow;
    // The redirect reaches this computer only (RFC 8252 7.3), at a port of the system's choice.
    QOAuthHttpServerReplyHandler handler(QHostAddress(QHostAddress::LocalHost), 0);
    if (!handler.isListening())
        throw NetworkError(u"The program could not listen on 127.0.0.1 for the sign-in's "
                           u"answer."_s);
    handler.setCallbackText(
        u"<html><head><meta charset=\"utf-8\"><title>Corvane</title></head><body><p>Corvane "
        u"has received the answer of the sign-in. You may close this page.</p></body></html>"_s);
    flow.setReplyHandler(&handler);
    // The code is exchanged here, not by the flow: the flow of this Qt version keeps the
    // token endpoint's error text to itself, and the PKCE verifier must go with the code.
    QObject::disconnect(&handler, &QAbstractOAuthReplyHandler::callbackReceived, &flow, nullptr);
    flow.setAuthorizationUrl(m_provider.authorizeUrl);
    flow.setAccessTokenUrl(m_provider.tokenUrl);
    flow.setClientIdentifier(m_provider.clientId);
    flow.setScope(m_provider.scope);
    const QString verifier = makeVerifier();
    const QString challenge = challengeOf(verifier);
    const QString hint = m_loginHint;
    flow.setModifyParametersFunction(
        [challenge, hint](QAbstractOAuth::Stage stage, QMultiMap<QString, QVariant> *parameters) {
            if (stage != QAbstractOAuth::Stage::RequestingAuthorization)
                return;
            parameters->replace(u"code_challenge"_s, challenge);
            parameters->replace(u"code_challenge_method"_s, u"S256"_s);
            // A refresh token is asked for, and the consent that goes with it.
            parameters->replace(u"access_type"_s, u"offline"_s);
            parameters->replace(u"prompt"_s, u"consent"_s);
            if (!hint.isEmpty())
                parameters->replace(u"login_hint"_s, hint);
        });

    QString state;
    QString redirect;
    std::optional<QVariantMap> answer;
    bool cancelled = false;
    QEventLoop loop;
    QObject::connect(&flow, &QAbstractOAuth::authorizeWithBrowser, &loop, [&](const QUrl &url) {
        const QUrlQuery query(url);
        state = query.queryItemValue(u"state"_s, QUrl::FullyDecoded);
        redirect = query.queryItemValue(u"redirect_uri"_s, QUrl::FullyDecoded);
        openUrl(url);
    });
    QObject::connect(&handler, &QAbstractOAuthReplyHandler::callbackReceived, &loop,
                     [&](const QVariantMap &values) {
                         if (!answer)
                             answer = values;
                         loop.quit();
                     });
    m_cancel = [&] {
        cancelled = true;
        loop.quit();
    };
    const auto forget = qScopeGuard([this] { m_cancel = nullptr; });
    flow.grant();
    // The flow has connected itself to the redirect by now; only this sign-in takes it.
    QObject::disconnect(&handler, &QAbstractOAuthReplyHandler::callbackReceived, &flow, nullptr);
    QObject::disconnect(&flow, &QAbstractOAuth2::authorizationCallbackReceived, nullptr, nullptr);
    if (state.isEmpty() || redirect.isEmpty())
        throw Error(u"The sign-in address for %1 could not be made."_s.arg(m_provider.name));

    if (!waitFor(
            m_timeoutMs, [&] { return answer.has_value() || cancelled; }, loop))
        throw NetworkError(
            u"The sign-in at %1 was not completed within %2 seconds."_s.arg(m_provider.name)
                .arg(m_timeoutMs / 1000),
            NetworkError::Reason::TimedOut);
    if (cancelled)
        throw Error(u"The sign-in was cancelled."_s);
    handler.close();

    const QString error = safeText(decoded(answer->value(u"error"_s)));
    if (decoded(answer->value(u"state"_s)) != state)
        throw Error(u"The sign-in was refused: the answer that reached the program does not "
                    u"belong to this sign-in (its state differs). Nothing was stored."_s);
    if (!error.isEmpty()) {
        QString words = error.left(100);
        const QString description =
            safeText(decoded(answer->value(u"error_description"_s))).simplified().left(300);
        if (!description.isEmpty())
            words += u": "_s + description;
        throw Error(u"%1 did not grant the sign-in: %2"_s.arg(m_provider.name, words));
    }
    const QString code = decoded(answer->value(u"code"_s));
    if (code.isEmpty())
        throw Error(u"The sign-in's answer held no authorization code."_s);
    TokenEndpoint endpoint(m_provider);
    endpoint.setTimeout(m_tokenTimeoutMs);
    return endpoint.exchangeCode(code, verifier, redirect);
}

OAuthGrant runDeviceSignIn(TokenEndpoint &endpoint,
                           const std::function<void(const DeviceAuthorization &)> &show,
                           const QString &loginHint) {
    DeviceAuthorization device = endpoint.startDeviceAuthorization(loginHint);
    show(device);
    QEventLoop loop;
    for (;;) {
        const qint64 left = QDateTime::currentDateTimeUtc().msecsTo(device.expiresAt);
        if (left <= 0)
            throw SignInRequiredError(
                u"The code expired before the sign-in was approved. Start again."_s);
        const int wait = int(qMin<qint64>(
            std::chrono::duration_cast<std::chrono::milliseconds>(device.interval).count(), left));
        waitFor(
            wait, [] { return false; }, loop);
        if (std::optional<OAuthGrant> grant = endpoint.pollDevice(device))
            return *grant;
    }
}

} // namespace corvane
