#include "core/auth/oauthtokens.h"

#include "core/errors.h"
#include "core/settings/settings.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace corvane {

OAuthTokens::OAuthTokens(const QString &dataFolder)
    : OAuthTokens(SecretStore(dataFolder),
                  oauthProviders(QDir(dataFolder).filePath(SettingsFile::FileName))) {}

OAuthTokens::OAuthTokens(SecretStore secrets, QList<OAuthProvider> providers)
    : m_secrets(std::move(secrets)), m_providers(std::move(providers)) {}

OAuthProvider OAuthTokens::provider(const QString &id) const {
    const std::optional<OAuthProvider> found = findOAuthProvider(m_providers, id);
    if (!found)
        throw DataError(
            u"The account signs in with OAuth at \"%1\", a provider this program "
            u"does not know. Settings.ini can describe it in a section [OAuth %1]."_s.arg(id));
    if (const QString problem = found->problem(); !problem.isEmpty())
        throw Error(problem);
    return *found;
}

QString OAuthTokens::secretKey(const QString &providerId, const QString &user) {
    return u"oauth:%1:%2"_s.arg(providerId.toLower(), user);
}

std::optional<OAuthGrant> OAuthTokens::grant(const QString &providerId, const QString &user) const {
    const std::optional<QString> stored = m_secrets.read(secretKey(providerId, user));
    if (!stored)
        return std::nullopt;
    return OAuthGrant::fromJson(*stored);
}

SecretStore::Place OAuthTokens::storeGrant(const QString &providerId, const QString &user,
                                           const OAuthGrant &grant) {
    return m_secrets.write(secretKey(providerId, user), grant.toJson());
}

QString OAuthTokens::accessToken(const QString &providerId, const QString &user, bool renew) {
    const OAuthProvider p = provider(providerId);
    const std::optional<OAuthGrant> stored = grant(providerId, user);
    if (!stored || stored->refreshToken.isEmpty())
        throw SignInRequiredError(
            u"The account %1 has not been signed in at %2 yet (or its "
            u"sign-in was removed). Sign in to it first."_s.arg(user, p.name));
    if (!renew && !stored->accessToken.isEmpty() && stored->expiresAt.isValid() &&
        now().secsTo(stored->expiresAt) > RenewMarginSeconds)
        return stored->accessToken;
    TokenEndpoint endpoint(p);
    endpoint.setTimeout(m_timeoutMs);
    endpoint.setClock(m_now);
    const OAuthGrant fresh = endpoint.refresh(stored->refreshToken);
    ++m_refreshes;
    storeGrant(providerId, user, fresh);
    return fresh.accessToken;
}

AccessTokenSource OAuthTokens::source(const QString &providerId, const QString &user) {
    return [this, providerId, user](bool renew) {
        try {
            return accessToken(providerId, user, renew);
        } catch (const NetworkError &e) {
            // The sign-in server failed, not the mail server: the text names it, and the
            // reason must not make a caller blame the mail server.
            throw NetworkError(e.message(), NetworkError::Reason::Other);
        }
    };
}

} // namespace corvane
