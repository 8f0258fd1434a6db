#pragma once

#include "core/auth/oauthprovider.h"
#include "core/auth/tokenendpoint.h"
#include "core/protocol/sasl.h"
#include "core/settings/secretstore.h"

#include <QDateTime>
#include <QHash>
#include <QString>

#include <functional>
#include <optional>

namespace corvane {

// The OAuth grants of one data folder's accounts, and the access tokens made from them.
//
// A grant is kept in the folder's SecretStore (the desktop's secret store, or the owner-only
// secrets.dat) under "oauth:PROVIDER:USER", so each data folder, provider and user name has its
// own. The access token is used while it stays valid for more than RenewMargin; after that,
// or when a server refused it, the refresh token brings a new one, which is stored at once
// (with the refresh token the server may have rotated).
//
// A grant that is missing or that the server no longer honours throws SignInRequiredError:
// the user must sign in again. The stored grant is left as it was then (signing in replaces
// it), and nothing else is touched.
class OAuthTokens {
public:
    static constexpr int RenewMarginSeconds = 60;

    // The providers of dataFolder's Settings.ini and its secret store.
    explicit OAuthTokens(const QString &dataFolder);
    OAuthTokens(SecretStore secrets, QList<OAuthProvider> providers);

    const QList<OAuthProvider> &providers() const { return m_providers; }
    // The provider with that id; throws DataError naming it when there is none, and Error with
    // the provider's problem() when it cannot be used.
    OAuthProvider provider(const QString &id) const;

    static QString secretKey(const QString &providerId, const QString &user);
    // The stored grant, or nothing. Throws FileError when the secret file cannot be read.
    std::optional<OAuthGrant> grant(const QString &providerId, const QString &user) const;
    // Stores a grant (from a sign-in). Throws FileError when it cannot be stored.
    SecretStore::Place storeGrant(const QString &providerId, const QString &user,
                                  const OAuthGrant &grant);

    // An access token for the account: the stored one while it stays valid for more than
    // RenewMarginSeconds and renew is false, otherwise a refreshed one. Throws
    // SignInRequiredError, NetworkError or ProtocolError as TokenEndpoint does.
    QString accessToken(const QString &providerId, const QString &user, bool renew);
    // The token source for a POP3 or SMTP client logging in as user.
    AccessTokenSource source(const QString &providerId, const QString &user);

    // Replaceable by tests: the clock, and the time-out of each request.
    void setClock(std::function<QDateTime()> now) { m_now = std::move(now); }
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }
    // How many access tokens were fetched with a refresh token by this object.
    int refreshCount() const { return m_refreshes; }

private:
    QDateTime now() const { return m_now ? m_now() : QDateTime::currentDateTimeUtc(); }

    SecretStore m_secrets;
    QList<OAuthProvider> m_providers;
    std::function<QDateTime()> m_now;
    int m_timeoutMs = TokenEndpoint::DefaultTimeoutMs;
    int m_refreshes = 0;
};

} // namespace corvane
