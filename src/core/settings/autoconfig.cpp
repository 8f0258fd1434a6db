#include "core/settings/autoconfig.h"

#include "core/errors.h"

#include <QList>
#include <QXmlStreamReader>

using namespace Qt::StringLiterals;

namespace corvane {

namespace {

// One incomingServer or outgoingServer element as written.
struct ServerEntry {
    QString type;
    QString hostname;
    QString port;
    QString socketType;
    QString username;
    QStringList authentication;
};

class DocumentReader {
public:
    DocumentReader(const AddressParts &address, QString origin)
        : m_address(address), m_origin(std::move(origin)) {}

    std::optional<FoundAccountSettings> read(const QByteArray &document);

private:
    [[noreturn]] void refuse(const QString &why) const {
        throw DataError(u"The settings document at %1 was refused: %2"_s.arg(m_origin, why));
    }
    void checkLink(const QString &text) const {
        if (text.trimmed().startsWith(u"http://"_s, Qt::CaseInsensitive))
            refuse(u"it links to a page over plain http (%1), which could be changed by anyone "
                   u"on the way."_s.arg(text.trimmed().left(200)));
    }
    QString substitute(QString text) const {
        text.replace(u"%EMAILADDRESS%"_s, m_address.address, Qt::CaseInsensitive);
        text.replace(u"%EMAILLOCALPART%"_s, m_address.localPart, Qt::CaseInsensitive);
        text.replace(u"%EMAILDOMAIN%"_s, m_address.domain, Qt::CaseInsensitive);
        return text.trimmed();
    }
    // The entry as a server, or nothing when its connection security is one this program does
    // not know; a bad host name or port refuses the document.
    std::optional<MailServer> serverOf(const ServerEntry &entry) const;
    // The first entry of the type with encryption, else the first without.
    std::optional<std::pair<MailServer, ServerEntry>> choose(const QList<ServerEntry> &entries,
                                                             const QString &type) const;

    const AddressParts &m_address;
    QString m_origin;
    QList<ServerEntry> m_entries[2]; // incoming, outgoing
    QStringList m_domains;
    QStringList m_enableLinks;
    QStringList m_instructions;
};

std::optional<MailServer> DocumentReader::serverOf(const ServerEntry &entry) const {
    MailServer server;
    server.host = substitute(entry.hostname).toLower();
    if (!isHostName(server.host))
        refuse(u"it names the server \"%1\", which is not a host name."_s.arg(
            entry.hostname.trimmed().left(200)));
    if (server.host.endsWith(u'.'))
        server.host.chop(1);
    bool ok = false;
    const int port = entry.port.trimmed().toInt(&ok);
    if (!ok || port < 1 || port > 65535)
        refuse(u"it gives the server %1 the port \"%2\", which is not a port number."_s.arg(
            server.host, entry.port.trimmed().left(50)));
    server.port = quint16(port);
    const QString socketType = entry.socketType.trimmed().toLower();
    if (socketType == u"ssl"_s || socketType == u"tls"_s)
        server.security = ConnectionSecurity::Tls;
    else if (socketType == u"starttls"_s)
        server.security = ConnectionSecurity::StartTls;
    else if (socketType == u"plain"_s)
        server.security = ConnectionSecurity::None;
    else
        return std::nullopt;
    return server;
}

std::optional<std::pair<MailServer, ServerEntry>>
DocumentReader::choose(const QList<ServerEntry> &entries, const QString &type) const {
    std::optional<std::pair<MailServer, ServerEntry>> plain;
    for (const ServerEntry &entry : entries) {
        if (entry.type.compare(type, Qt::CaseInsensitive) != 0)
            continue;
        const std::optional<MailServer> server = serverOf(entry);
        if (!server)
            continue;
        if (server->security != ConnectionSecurity::None)
            return std::pair{*server, entry};
        if (!plain)
            plain = std::pair{*server, entry};
    }
    return plain;
}

std::optional<FoundAccountSettings> DocumentReader::read(const QByteArray &document) {
    QXmlStreamReader xml(document);
    QStringList path;
    ServerEntry *entry = nullptr;
    QString text;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::DTD:
            refuse(u"it declares a document type (DTD); documents with a DTD or entities are "
                   u"never read."_s);
        case QXmlStreamReader::EntityReference:
            refuse(u"it refers to the entity \"%1\"; documents with entities are never read."_s.arg(
                xml.name().toString().left(100)));
        case QXmlStreamReader::StartElement: {
            if (path.size() >= AutoconfigMaxDepth)
                refuse(u"its elements are nested deeper than %1 levels."_s.arg(AutoconfigMaxDepth));
            const QString name = xml.name().toString();
            if (path.isEmpty() && name != u"clientConfig"_s)
                refuse(u"it is not a mail settings document (its root element is \"%1\")."_s.arg(
                    name.left(100)));
            const QXmlStreamAttributes attributes = xml.attributes();
            for (const QXmlStreamAttribute &attribute : attributes)
                checkLink(attribute.value().toString());
            path.append(name);
            text.clear();
            if (path.size() == 3 && path[1] == u"emailProvider"_s &&
                (name == u"incomingServer"_s || name == u"outgoingServer"_s)) {
                QList<ServerEntry> &list = m_entries[name == u"incomingServer"_s ? 0 : 1];
                list.append(
                    ServerEntry{attributes.value(u"type"_s).toString(), {}, {}, {}, {}, {}});
                entry = &list.last();
            }
            if (path.size() == 3 && path[1] == u"emailProvider"_s && name == u"enable"_s) {
                const QString link = attributes.value(u"visiturl"_s).toString().trimmed();
                if (!link.isEmpty())
                    m_enableLinks.append(link);
            }
            break;
        }
        case QXmlStreamReader::Characters:
            text += xml.text();
            if (text.size() > 4096)
                refuse(u"it holds a text longer than 4096 characters."_s);
            break;
        case QXmlStreamReader::EndElement: {
            checkLink(text);
            const QString name = path.isEmpty() ? QString() : path.takeLast();
            if (path.size() == 2 && path[1] == u"emailProvider"_s && name == u"domain"_s)
                m_domains.append(text.trimmed().toLower());
            if (entry && path.size() == 3) {
                if (name == u"hostname"_s)
                    entry->hostname = text;
                else if (name == u"port"_s)
                    entry->port = text;
                else if (name == u"socketType"_s)
                    entry->socketType = text;
                else if (name == u"username"_s)
                    entry->username = text;
                else if (name == u"authentication"_s)
                    entry->authentication.append(text.trimmed());
            }
            if (path.size() == 3 && path[2] == u"enable"_s && name == u"instruction"_s &&
                !text.trimmed().isEmpty() && m_instructions.isEmpty())
                m_instructions.append(text.simplified().left(500));
            if (path.size() == 2)
                entry = nullptr;
            text.clear();
            break;
        }
        default:
            break;
        }
    }
    if (xml.hasError())
        refuse(u"it is not well-formed XML (%1, line %2)."_s.arg(
            xml.errorString(), QString::number(xml.lineNumber())));

    const auto incoming = choose(m_entries[0], u"pop3"_s);
    if (!incoming)
        return std::nullopt;
    const auto outgoing = choose(m_entries[1], u"smtp"_s);

    FoundAccountSettings found;
    found.source = FoundAccountSettings::Source::Autoconfig;
    found.origin = m_origin;
    found.incoming = incoming->first;
    if (outgoing)
        found.outgoing = outgoing->first;
    found.userName = substitute(incoming->second.username);
    if (found.userName.isEmpty())
        found.userName = m_address.address;

    QStringList others;
    for (const MailServer *server : {&found.incoming, found.outgoing ? &*found.outgoing : nullptr})
        if (server && !hostWithinDomain(server->host, m_address.domain) &&
            !others.contains(server->host))
            others.append(server->host);
    if (!others.isEmpty()) {
        // Mail of a domain is often hosted elsewhere, and then the document names the domain
        // it was written for. One that names only other domains was not written for this one
        // (a host's document served for every domain it carries, a mistake or a trap): its
        // servers would get the password of an address they were never meant to see.
        const bool forThisDomain =
            m_domains.contains(m_address.domain) || m_domains.contains(u"%emaildomain%"_s);
        if (!forThisDomain)
            refuse(u"it is written for %1, not for %2, and names servers outside %2 (%3)."_s.arg(
                m_domains.isEmpty() ? u"no domain"_s : m_domains.join(u", "_s).left(300),
                m_address.domain, others.join(u", "_s)));
        found.otherDomainHosts = others;
    }

    const QStringList methods = incoming->second.authentication;
    if (!methods.isEmpty() && !methods.contains(u"password-cleartext"_s, Qt::CaseInsensitive)) {
        if (methods.contains(u"OAuth2"_s, Qt::CaseInsensitive))
            found.notes.append(u"The provider expects sign-in with OAuth."_s);
        else
            found.notes.append(u"The provider names these ways to sign in: %1."_s.arg(
                methods.join(u", "_s).left(200)));
    }
    for (const QString &link : std::as_const(m_enableLinks))
        found.notes.append(
            u"POP3 access may have to be switched on first at %1"_s.arg(link.left(300)));
    found.notes += m_instructions;
    return found;
}

} // namespace

std::optional<FoundAccountSettings> parseAutoconfigDocument(const QByteArray &document,
                                                            const AddressParts &address,
                                                            const QString &origin) {
    return DocumentReader(address, origin).read(document);
}

} // namespace corvane
