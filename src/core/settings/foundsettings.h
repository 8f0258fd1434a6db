#pragma once

#include "core/protocol/connectionsecurity.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <optional>

namespace corvane {

// One mail server: where it listens and how the connection is protected.
struct MailServer {
    QString host;
    quint16 port = 0;
    ConnectionSecurity security = ConnectionSecurity::None;

    friend bool operator==(const MailServer &, const MailServer &) = default;
};

// "pop.example.org, port 995, TLS": a server as the user is shown it.
QString describeServer(const MailServer &server);

// An e-mail address taken apart for finding its servers.
struct AddressParts {
    QString address;   // as given, without surrounding blanks
    QString localPart; // before the last '@'
    QString domain;    // after it: lower case, an international name in its ASCII form
};

// Takes an address apart; nothing when it is not local@domain with a domain that is a host
// name of at least two labels.
std::optional<AddressParts> splitMailAddress(const QString &address);

// Whether text is a DNS host name: labels of letters, digits and inner hyphens, 1 to 63
// characters each, 253 in all; a final dot is allowed.
bool isHostName(const QString &text);

// Whether host is domain itself or a name under it (compared without case and final dots).
bool hostWithinDomain(const QString &host, const QString &domain);

// The settings found for an address, for the user to confirm before anything uses them.
struct FoundAccountSettings {
    enum class Source {
        Preset,     // the program's own table of large providers
        Autoconfig, // a settings document the domain publishes over HTTPS
        DnsSrv,     // the domain's SRV records
        Probe,      // a server that answered at a usual name and port
    };
    Source source = Source::Preset;
    // Where they came from: the provider's name, the document's address, the SRV name or the
    // server probed.
    QString origin;
    MailServer incoming; // POP3
    // The submission server for sending (bounces), when one was found.
    std::optional<MailServer> outgoing;
    // The user name the server expects (mostly the whole address).
    QString userName;
    // What the user must know before signing in (an app password, a page where POP3 access is
    // switched on).
    QStringList notes;
    // Servers outside the address's domain: the user confirms them knowing so.
    QStringList otherDomainHosts;

    // Whether the POP3 server, or the SMTP server found with it, offers no encryption: the
    // password would cross the network readable by anyone on the way.
    bool unencrypted() const;
};

// "built-in presets", "settings document", "DNS SRV records", "probe".
QString sourceName(FoundAccountSettings::Source source);

} // namespace corvane

Q_DECLARE_METATYPE(corvane::FoundAccountSettings)
