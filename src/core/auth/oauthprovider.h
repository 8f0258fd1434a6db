#pragma once

#include "core/protocol/connectionsecurity.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace corvane {

// A mail provider whose accounts sign in with OAuth 2.0: its authorization server's endpoints,
// the scope that grants POP3 and SMTP access, the program's client registration there, and
// the provider's mail servers.
//
// The built-in presets are overlaid, key by key, with the section "[OAuth ID]" of Settings.ini
// (keys Name, ClientId, ClientSecret, AuthorizeUrl, TokenUrl, DeviceUrl, Scope, Pop3Server,
// Pop3Port, Pop3Security, SmtpServer, SmtpPort, SmtpSecurity, Domains); a section for another
// ID defines a provider of its own (an organisation's own authorization server). Endpoints
// must be https, or http to this computer.
struct OAuthProvider {
    QString id;   // "google", "microsoft", or a section's own
    QString name; // shown to the user
    QUrl authorizeUrl;
    QUrl tokenUrl;
    QUrl deviceUrl; // empty: the provider has no device-authorization grant (RFC 8628)
    QString scope;  // space-separated
    QString clientId;
    QString clientSecret; // empty for public clients
    QString pop3Server;
    quint16 pop3Port = 995;
    ConnectionSecurity pop3Security = ConnectionSecurity::Tls;
    QString smtpServer;
    quint16 smtpPort = 587;
    ConnectionSecurity smtpSecurity = ConnectionSecurity::StartTls;
    // The mail domains the provider serves, for finding it from an address.
    QStringList domains;

    // What keeps the provider from being used: no client id, no token endpoint, an endpoint
    // that is not https (or http to this computer). Empty when usable.
    QString problem() const;
};

// The built-in presets, with the client registrations given when the program was built.
QList<OAuthProvider> builtInOAuthProviders();
// The presets overlaid with Settings.ini's [OAuth ID] sections, and the providers those
// sections define, in that order. settingsPath may name a missing file. Throws FileError when
// the file exists but cannot be read.
QList<OAuthProvider> oauthProviders(const QString &settingsPath);
// The provider with that id (case-insensitive), or nothing.
std::optional<OAuthProvider> findOAuthProvider(const QList<OAuthProvider> &providers,
                                               const QString &id);
// The provider that serves the domain of an e-mail address, or nothing.
std::optional<OAuthProvider> oauthProviderForAddress(const QList<OAuthProvider> &providers,
                                                     const QString &address);

// The value of an account's "Auth Method" column: "password" (also what an empty value or a
// missing column means) or "oauth:" and a provider's id.
QString passwordAuthMethod();
QString oauthAuthMethod(const QString &providerId);
// The provider id of an OAuth method; nothing for a password (or an empty value). Throws
// DataError for a value that is neither.
std::optional<QString> oauthProviderOfMethod(const QString &authMethod);

} // namespace corvane

Q_DECLARE_METATYPE(corvane::OAuthProvider)
