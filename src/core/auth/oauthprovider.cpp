#include "core/auth/oauthprovider.h"

#include "core/errors.h"
#include "core/platform/inifile.h"
#include "core/protocol/sasl.h"

using namespace Qt::StringLiterals;

#ifndef CORVANE_OAUTH_GOOGLE_CLIENT_ID
#define CORVANE_OAUTH_GOOGLE_CLIENT_ID ""
#endif
#ifndef CORVANE_OAUTH_GOOGLE_CLIENT_SECRET
#define CORVANE_OAUTH_GOOGLE_CLIENT_SECRET ""
#endif
#ifndef CORVANE_OAUTH_MICROSOFT_CLIENT_ID
#define CORVANE_OAUTH_MICROSOFT_CLIENT_ID ""
#endif
#ifndef CORVANE_OAUTH_MICROSOFT_CLIENT_SECRET
#define CORVANE_OAUTH_MICROSOFT_CLIENT_SECRET ""
#endif

namespace corvane {
namespace {

const QString kSectionPrefix = u"OAuth "_s;
const QString kOAuthPrefix = u"oauth:"_s;

bool acceptableEndpoint(const QUrl &url) {
    if (!url.isValid() || url.host().isEmpty())
        return false;
    if (url.scheme() == u"https"_s)
        return true;
    return url.scheme() == u"http"_s && isLoopbackHost(url.host());
}

std::optional<ConnectionSecurity> securityText(const QString &text) {
    if (text.compare(u"TLS"_s, Qt::CaseInsensitive) == 0)
        return ConnectionSecurity::Tls;
    if (text.compare(u"STLS"_s, Qt::CaseInsensitive) == 0 ||
        text.compare(u"STARTTLS"_s, Qt::CaseInsensitive) == 0)
        return ConnectionSecurity::StartTls;
    if (text.compare(u"none"_s, Qt::CaseInsensitive) == 0)
        return ConnectionSecurity::None;
    return std::nullopt;
}

void overlay(OAuthProvider &p, const IniFile &ini, const QString &section) {
    const auto text = [&](const QString &key, QString &field) {
        if (const std::optional<QString> v = ini.value(section, key))
            field = *v;
    };
    const auto url = [&](const QString &key, QUrl &field) {
        if (const std::optional<QString> v = ini.value(section, key))
            field = QUrl(*v, QUrl::StrictMode);
    };
    const auto port = [&](const QString &key, quint16 &field) {
        if (const std::optional<QString> v = ini.value(section, key)) {
            bool ok = false;
            const uint n = v->toUInt(&ok);
            if (ok && n >= 1 && n <= 65535)
                field = quint16(n);
        }
    };
    const auto security = [&](const QString &key, ConnectionSecurity &field) {
        if (const std::optional<QString> v = ini.value(section, key))
            if (const std::optional<ConnectionSecurity> s = securityText(*v))
                field = *s;
    };
    text(u"Name"_s, p.name);
    text(u"ClientId"_s, p.clientId);
    text(u"ClientSecret"_s, p.clientSecret);
    url(u"AuthorizeUrl"_s, p.authorizeUrl);
    url(u"TokenUrl"_s, p.tokenUrl);
    url(u"DeviceUrl"_s, p.deviceUrl);
    text(u"Scope"_s, p.scope);
    text(u"Pop3Server"_s, p.pop3Server);
    port(u"Pop3Port"_s, p.pop3Port);
    security(u"Pop3Security"_s, p.pop3Security);
    text(u"SmtpServer"_s, p.smtpServer);
    port(u"SmtpPort"_s, p.smtpPort);
    security(u"SmtpSecurity"_s, p.smtpSecurity);
    if (const std::optional<QString> v = ini.value(section, u"Domains"_s))
        p.domains = v->toLower().split(u' ', Qt::SkipEmptyParts);
}

} // namespace

QString OAuthProvider::problem() const {
    if (clientId.isEmpty())
        return u"No OAuth client id is set for %1: this build has none, and Settings.ini gives "
               u"none in its section [OAuth %2] (key ClientId)."_s.arg(name, id);
    if (!acceptableEndpoint(tokenUrl))
        return u"The token address of %1 is missing or not an https address."_s.arg(name);
    for (const QUrl *url : {&authorizeUrl, &deviceUrl})
        if (!url->isEmpty() && !acceptableEndpoint(*url))
            return u"The address %1 of %2 is not an https address."_s.arg(url->toString(), name);
    if (authorizeUrl.isEmpty() && deviceUrl.isEmpty())
        return u"%1 has neither an authorization nor a device address."_s.arg(name);
    return {};
}

QList<OAuthProvider> builtInOAuthProviders() {
    OAuthProvider google;
    google.id = u"google"_s;
    google.name = u"Google"_s;
    google.authorizeUrl = QUrl(u"https://accounts.google.com/o/oauth2/v2/auth"_s);
    google.tokenUrl = QUrl(u"https://oauth2.googleapis.com/token"_s);
    google.deviceUrl = QUrl(u"https://oauth2.googleapis.com/device/code"_s);
    // The only scope that grants POP3 and SMTP.
    google.scope = u"https://mail.google.com/"_s;
    google.clientId = QStringLiteral(CORVANE_OAUTH_GOOGLE_CLIENT_ID);
    google.clientSecret = QStringLiteral(CORVANE_OAUTH_GOOGLE_CLIENT_SECRET);
    google.pop3Server = u"pop.gmail.com"_s;
    google.pop3Port = 995;
    google.pop3Security = ConnectionSecurity::Tls;
    google.smtpServer = u"smtp.gmail.com"_s;
    google.smtpPort = 465;
    google.smtpSecurity = ConnectionSecurity::Tls;
    google.domains = {u"gmail.com"_s, u"googlemail.com"_s};

    OAuthProvider microsoft;
    microsoft.id = u"microsoft"_s;
    microsoft.name = u"Microsoft"_s;
    microsoft.authorizeUrl =
        QUrl(u"https://login.microsoftonline.com/common/oauth2/v2.0/authorize"_s);
    microsoft.tokenUrl = QUrl(u"https://login.microsoftonline.com/common/oauth2/v2.0/token"_s);
    microsoft.deviceUrl =
        QUrl(u"https://login.microsoftonline.com/common/oauth2/v2.0/devicecode"_s);
    // offline_access brings the refresh token.
    microsoft.scope = u"https://outlook.office.com/POP.AccessAsUser.All "
                      u"https://outlook.office.com/SMTP.Send offline_access"_s;
    microsoft.clientId = QStringLiteral(CORVANE_OAUTH_MICROSOFT_CLIENT_ID);
    microsoft.clientSecret = QStringLiteral(CORVANE_OAUTH_MICROSOFT_CLIENT_SECRET);
    microsoft.pop3Server = u"outlook.office365.com"_s;
    microsoft.pop3Port = 995;
    microsoft.pop3Security = ConnectionSecurity::Tls;
    microsoft.smtpServer = u"smtp.office365.com"_s;
    microsoft.smtpPort = 587;
    microsoft.smtpSecurity = ConnectionSecurity::StartTls;
    microsoft.domains = {u"outlook.com"_s, u"hotmail.com"_s, u"live.com"_s, u"msn.com"_s};
    return {google, microsoft};
}

QList<OAuthProvider> oauthProviders(const QString &settingsPath) {
    QList<OAuthProvider> providers = builtInOAuthProviders();
    const IniFile ini = IniFile::load(settingsPath);
    for (const QString &section : ini.sections()) {
        if (!section.startsWith(kSectionPrefix, Qt::CaseInsensitive))
            continue;
        const QString id = section.mid(kSectionPrefix.size()).trimmed().toLower();
        if (id.isEmpty() || id.contains(u':') || id.contains(u' '))
            continue;
        auto it = std::find_if(providers.begin(), providers.end(),
                               [&](const OAuthProvider &p) { return p.id == id; });
        if (it == providers.end()) {
            OAuthProvider own;
            own.id = id;
            own.name = id;
            providers.append(own);
            it = providers.end() - 1;
        }
        overlay(*it, ini, section);
    }
    return providers;
}

std::optional<OAuthProvider> findOAuthProvider(const QList<OAuthProvider> &providers,
                                               const QString &id) {
    for (const OAuthProvider &p : providers)
        if (p.id.compare(id, Qt::CaseInsensitive) == 0)
            return p;
    return std::nullopt;
}

std::optional<OAuthProvider> oauthProviderForAddress(const QList<OAuthProvider> &providers,
                                                     const QString &address) {
    const qsizetype at = address.lastIndexOf(u'@');
    if (at < 0)
        return std::nullopt;
    const QString domain = address.mid(at + 1).trimmed().toLower();
    for (const OAuthProvider &p : providers)
        if (p.domains.contains(domain))
            return p;
    return std::nullopt;
}

QString passwordAuthMethod() {
    return u"password"_s;
}

QString oauthAuthMethod(const QString &providerId) {
    return kOAuthPrefix + providerId;
}

std::optional<QString> oauthProviderOfMethod(const QString &authMethod) {
    const QString method = authMethod.trimmed();
    if (method.isEmpty() || method.compare(passwordAuthMethod(), Qt::CaseInsensitive) == 0)
        return std::nullopt;
    if (method.startsWith(kOAuthPrefix, Qt::CaseInsensitive) && method.size() > kOAuthPrefix.size())
        return method.mid(kOAuthPrefix.size()).toLower();
    throw DataError(u"The sign-in method \"%1\" of this account is neither \"password\" nor "
                    u"\"oauth:\" and a provider."_s.arg(method));
}

} // namespace corvane
