#pragma once

#include "core/settings/foundsettings.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace corvane {

// Reads a mail settings document ("clientConfig" version 1.1, the autoconfiguration format
// that many providers publish at autoconfig.<domain>) for an address. origin is where it came
// from, named in the texts.
//
// The document is untrusted. Throws DataError, with a text saying why, for a document that is
// refused: XML that is not well-formed, a document type (DTD) or an entity reference of any
// kind (so no entity is ever expanded or fetched), nesting deeper than MaxDepth, a root other
// than clientConfig, a server name that is not a host name or a port that is not a port, any
// link over plain http://, and servers outside the address's domain in a document that does
// not name that domain among its own. Servers outside the domain in a document that does name
// it are accepted (a domain's mail is often hosted elsewhere, and the document comes over
// HTTPS from the domain itself) and listed in otherDomainHosts for the user to confirm.
//
// Of the POP3 servers the first with encryption is taken, else the first without; the same
// for the SMTP servers. Returns nothing when the document offers no POP3 server (only IMAP,
// say).
std::optional<FoundAccountSettings> parseAutoconfigDocument(const QByteArray &document,
                                                            const AddressParts &address,
                                                            const QString &origin);

inline constexpr int AutoconfigMaxDepth = 16;

} // namespace corvane
