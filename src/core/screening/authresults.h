#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

namespace corvane {

// One result of an Authentication-Results field: "dkim=pass header.d=example.com".
struct AuthResult {
    QString method; // lower case, without a version ("dkim", "spf", "dmarc")
    QString result; // lower case ("pass", "fail", "softfail", …)
    // The properties, keyed in lower case as "ptype.property" ("header.d", "smtp.mailfrom");
    // the values as written, quotes removed.
    QHash<QString, QString> properties;
};

// An Authentication-Results field's value: who wrote it and what it found.
struct AuthenticationResults {
    QString authservId; // as written (compared without regard to case)
    QList<AuthResult> results;
};

// Reads the value of an Authentication-Results header field (the text after the colon,
// unfolded): the authserv-id, an optional version, then "none" or results separated by ";",
// each with an optional reason and properties. Comments (nested, with escapes) are ignored;
// quoted strings may hold ";", "(" and "=". A result that cannot be read is passed over; a
// field without an authserv-id gives nothing.
std::optional<AuthenticationResults> parseAuthenticationResults(const QString &value);

// The values of the Authentication-Results fields among a header's lines, topmost first, each
// with its continuation lines joined.
QList<QString> authenticationResultsFields(const QList<QByteArray> &headerLines);

// Whether a message from fromDomain passed the authentication that the server named
// trustedId reported. headerValues are the values of the message's Authentication-Results
// fields, topmost first. Only the topmost fields written by trustedId count (the first one with
// that id and those right after it that have it too): fields with other ids, and any below,
// may have been written by anyone. The message fails when those fields say dmarc=fail, or
// spf=fail without a dkim=pass whose header.d (or header.i) is fromDomain. It also fails
// without such a field, or when those fields report no result ("none", or nothing readable):
// the message did not pass through the trusted server, or that server did not check it, so
// nothing vouches for its sender.
bool senderAuthenticated(const QList<QString> &headerValues, const QString &trustedId,
                         const QString &fromDomain);

// The authserv-id of the topmost Authentication-Results field among headerValues (topmost
// first), or nothing: what the account dialogs propose as the server's trusted id.
std::optional<QString> topmostAuthservId(const QList<QString> &headerValues);

} // namespace corvane
