#include "core/protocol/connectionsecurity.h"

using namespace Qt::StringLiterals;

namespace corvane {

QString securityName(ConnectionSecurity security) {
    switch (security) {
    case ConnectionSecurity::None:
        break;
    case ConnectionSecurity::StartTls:
        return u"STLS"_s;
    case ConnectionSecurity::Tls:
        return u"TLS"_s;
    }
    return u"none"_s;
}

ConnectionSecurity defaultSecurity(quint16 port) {
    return port == 995 || port == 465 ? ConnectionSecurity::Tls : ConnectionSecurity::None;
}

std::optional<ConnectionSecurity> parseSecurity(const QString &text, quint16 port) {
    const QString name = text.trimmed().toLower();
    if (name.isEmpty())
        return defaultSecurity(port);
    if (name == u"none"_s)
        return ConnectionSecurity::None;
    if (name == u"stls"_s || name == u"starttls"_s)
        return ConnectionSecurity::StartTls;
    if (name == u"tls"_s)
        return ConnectionSecurity::Tls;
    return std::nullopt;
}

} // namespace corvane
