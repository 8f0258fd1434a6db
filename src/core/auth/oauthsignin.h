#pragma once

#include "core/auth/oauthprovider.h"
#include "core/auth/tokenendpoint.h"

#include <QString>
#include <QUrl>

#include <functional>

namespace corvane {

// Signing in to an OAuth provider: the authorization-code grant with PKCE (RFC 7636) through
// the system browser and a redirect to this computer (RFC 8252), and the device-authorization
// grant (RFC 8628) for machines without a browser. Both wait with events handled (the window
// stays live) and return the grant; nothing is stored here.
//
// The browser sign-in listens on 127.0.0.1 at a free port, hands the authorization address to
// openUrl (the window opens the browser, the command line prints it) and waits for the
// redirect. A redirect whose state is not this sign-in's, or that carries no code, ends the
// sign-in with Error; a provider's refusal ("error" in the redirect, or from the token
// endpoint) ends it with the provider's words, never a token.
class BrowserSignIn {
public:
    static constexpr int DefaultTimeoutMs = 5 * 60 * 1000;

    explicit BrowserSignIn(OAuthProvider provider) : m_provider(std::move(provider)) {}
    // A hint of the account to sign in (its address), passed as login_hint.
    void setLoginHint(const QString &hint) { m_loginHint = hint; }
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }
    void setTokenTimeout(int milliseconds) { m_tokenTimeoutMs = milliseconds; }
    // Makes a waiting run() give up with "The sign-in was cancelled." (from another event).
    void cancel();

    OAuthGrant run(const std::function<void(const QUrl &authorizationUrl)> &openUrl);

    // PKCE: a random verifier of 43 base64url characters and its S256 challenge.
    static QString makeVerifier();
    static QString challengeOf(const QString &verifier);

private:
    OAuthProvider m_provider;
    QString m_loginHint;
    int m_timeoutMs = DefaultTimeoutMs;
    int m_tokenTimeoutMs = TokenEndpoint::DefaultTimeoutMs;
    std::function<void()> m_cancel;
};

// The device sign-in: asks for a code, hands it to show (the user opens the address on any
// device and types the code), then asks the token endpoint at the server's interval until the
// user has approved. Throws SignInRequiredError when the user declines or the code expires,
// and as TokenEndpoint does otherwise.
OAuthGrant runDeviceSignIn(TokenEndpoint &endpoint,
                           const std::function<void(const DeviceAuthorization &)> &show,
                           const QString &loginHint = {});

} // namespace corvane
