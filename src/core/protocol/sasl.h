#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace corvane {

// The SASL mechanisms that carry an OAuth 2.0 access token: OAUTHBEARER (RFC 7628) and the
// older XOAUTH2 that the large webmail providers introduced first and still offer.
enum class OAuthMechanism { OAuthBearer, XOAuth2 };

// Gives the access token of an OAuth account to a client that logs in with it: called with
// renew false before the login, and with renew true once more after the server refused the
// token, which must then be a fresh one. Throws (the login then fails with that error).
using AccessTokenSource = std::function<QString(bool renew)>;

// The mechanism to use among those a server offers (names compared without regard to case):
// the first of preferred that is offered (by default OAUTHBEARER, the standard one, before
// XOAUTH2); nothing when the server offers none of them.
std::optional<OAuthMechanism> chooseOAuthMechanism(const QList<QByteArray> &offered,
                                                   const QList<OAuthMechanism> &preferred = {
                                                       OAuthMechanism::OAuthBearer,
                                                       OAuthMechanism::XOAuth2});
QByteArray mechanismName(OAuthMechanism mechanism);

// The client's first response of the mechanism, not yet base64-encoded. It holds the token:
// it is only ever written with the transcript masked.
QByteArray oauthInitialResponse(OAuthMechanism mechanism, const QString &user, const QString &host,
                                quint16 port, const QString &token);
// What the client answers to the server's error challenge, before base64: the server then
// ends the exchange with its failure reply. Empty for XOAUTH2; a single 0x01 for OAUTHBEARER.
QByteArray oauthErrorAcknowledgement(OAuthMechanism mechanism);
// A readable form of the error challenge (base64 of a JSON object such as
// {"status":"invalid_token","scope":"…"}) for an error message, or an empty text when it is
// not one. Input is untrusted: only the "status" and "scope" members are shown, each cut to 200
// characters.
QString oauthChallengeText(const QByteArray &base64Challenge);

// Whether host names this computer (127.0.0.0/8, ::1 or "localhost"): a token may cross a
// connection to it without TLS, as it never leaves the machine.
bool isLoopbackHost(const QString &host);

} // namespace corvane
