#pragma once

#include "core/auth/oauthprovider.h"

#include <QDateTime>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <chrono>
#include <functional>
#include <optional>

namespace corvane {

// What an authorization server granted: the refresh token that stands for the user's consent
// and the access token of the moment, with the time it expires. Kept as a JSON object in the
// secret store; every field is a secret except the time.
struct OAuthGrant {
    QString refreshToken;
    QString accessToken;
    QDateTime expiresAt; // UTC; invalid: unknown, the access token is renewed before use

    QString toJson() const;
    // Nothing when the text is not a grant written by toJson().
    static std::optional<OAuthGrant> fromJson(const QString &json);
};

// What the device-authorization endpoint (RFC 8628) answered: the code the user types at the
// verification address, and how the program asks for the outcome.
struct DeviceAuthorization {
    QString deviceCode; // a secret of the program
    QString userCode;
    QUrl verificationUri;
    QUrl verificationUriComplete; // may be empty
    std::chrono::seconds interval{5};
    QDateTime expiresAt;
};

// One authorization server's token and device endpoints, asked synchronously over HTTPS (or
// HTTP to this computer): the call returns when the answer is in, with events handled
// meanwhile, or throws.
//
// Failures: NetworkError when the server cannot be reached or does not answer within the
// time-out; SignInRequiredError when the server says the grant is gone ("invalid_grant":
// revoked, expired or never valid); ProtocolError with the server's "error" and
// "error_description" (never a token) for any other refusal, and for an answer that is not the
// JSON the protocol promises. Input is untrusted: answers over 64 KiB are refused.
class TokenEndpoint {
public:
    static constexpr int DefaultTimeoutMs = 30000;
    static constexpr qsizetype MaxAnswerBytes = 64 * 1024;

    explicit TokenEndpoint(OAuthProvider provider) : m_provider(std::move(provider)) {}
    const OAuthProvider &provider() const { return m_provider; }
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }
    // The clock for expiry times, replaceable by tests.
    void setClock(std::function<QDateTime()> now) { m_now = std::move(now); }

    // The authorization-code grant with PKCE (RFC 7636): the code from the redirect, the
    // verifier whose challenge the authorization request carried, the redirect address.
    OAuthGrant exchangeCode(const QString &code, const QString &verifier, const QString &redirect);
    // A new access token for the refresh token. The server may hand out a new refresh token;
    // otherwise the one given is kept in the grant.
    OAuthGrant refresh(const QString &refreshToken);
    // RFC 8628 3.1: starts a device sign-in; a hint of the account (its address), when given,
    // goes along as login_hint.
    DeviceAuthorization startDeviceAuthorization(const QString &loginHint = {});
    // RFC 8628 3.4: asks once whether the user has approved. Nothing while the approval is
    // pending (interval grows by five seconds when the server says "slow_down"); throws
    // SignInRequiredError when the user declined or the code expired.
    std::optional<OAuthGrant> pollDevice(DeviceAuthorization &authorization);

private:
    // POSTs the form to url and returns the JSON object of the answer with its HTTP status.
    QVariantMap post(const QUrl &url, const QList<std::pair<QString, QString>> &form, int &status);
    OAuthGrant grantFrom(const QVariantMap &answer, const QString &previousRefresh) const;
    [[noreturn]] void fail(const QVariantMap &answer, int status) const;
    QDateTime now() const { return m_now ? m_now() : QDateTime::currentDateTimeUtc(); }

    OAuthProvider m_provider;
    int m_timeoutMs = DefaultTimeoutMs;
    std::function<QDateTime()> m_now;
};

} // namespace corvane
