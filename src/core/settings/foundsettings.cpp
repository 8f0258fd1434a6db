#include "core/settings/foundsettings.h"

#include <QUrl>

using namespace Qt::StringLiterals;

namespace corvane {

QString describeServer(const MailServer &server) {
    QString security;
    switch (server.security) {
    case ConnectionSecurity::Tls:
        security = u"TLS"_s;
        break;
    case ConnectionSecurity::StartTls:
        security = u"STLS (encrypted after connecting)"_s;
        break;
    case ConnectionSecurity::None:
        security = u"no encryption"_s;
        break;
    }
    return u"%1, port %2, %3"_s.arg(server.host, QString::number(server.port), security);
}

bool isHostName(const QString &text) {
    QString name = text;
    if (name.endsWith(u'.'))
        name.chop(1);
    if (name.isEmpty() || name.size() > 253)
        return false;
    const QStringList labels = name.split(u'.');
    for (const QString &label : labels) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith(u'-') || label.endsWith(u'-'))
            return false;
        for (const QChar c : label) {
            const char16_t u = c.unicode();
            const bool ok = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') ||
                            (u >= u'0' && u <= u'9') || u == u'-';
            if (!ok)
                return false;
        }
    }
    return true;
}

std::optional<AddressParts> splitMailAddress(const QString &address) {
    const QString trimmed = address.trimmed();
    const qsizetype at = trimmed.lastIndexOf(u'@');
    if (at <= 0 || at == trimmed.size() - 1)
        return std::nullopt;
    for (const QChar c : trimmed) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return std::nullopt;
    }
    AddressParts parts;
    parts.address = trimmed;
    parts.localPart = trimmed.left(at);
    QString domain = trimmed.mid(at + 1);
    if (domain.endsWith(u'.'))
        domain.chop(1);
    // An international domain is looked up in its ASCII form; a name that has none is refused.
    const QByteArray ace = QUrl::toAce(domain);
    if (ace.isEmpty())
        return std::nullopt;
    parts.domain = QString::fromLatin1(ace).toLower();
    if (!isHostName(parts.domain) || !parts.domain.contains(u'.'))
        return std::nullopt;
    return parts;
}

namespace {
QString normalHost(const QString &host) {
    QString h = host.toLower();
    while (h.endsWith(u'.'))
        h.chop(1);
    return h;
}
} // namespace

bool hostWithinDomain(const QString &host, const QString &domain) {
    const QString h = normalHost(host);
    const QString d = normalHost(domain);
    if (h.isEmpty() || d.isEmpty())
        return false;
    return h == d || h.endsWith(u'.' + d);
}

bool FoundAccountSettings::unencrypted() const {
    return incoming.security == ConnectionSecurity::None ||
           (outgoing && outgoing->security == ConnectionSecurity::None);
}

QString sourceName(FoundAccountSettings::Source source) {
    switch (source) {
    case FoundAccountSettings::Source::Preset:
        return u"built-in presets"_s;
    case FoundAccountSettings::Source::Autoconfig:
        return u"settings document"_s;
    case FoundAccountSettings::Source::DnsSrv:
        return u"DNS SRV records"_s;
    case FoundAccountSettings::Source::Probe:
        return u"probe"_s;
    }
    return {};
}

} // namespace corvane
