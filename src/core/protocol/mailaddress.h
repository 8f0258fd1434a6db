#pragma once

#include "core/errors.h"

#include <QList>
#include <QString>
#include <QStringView>

namespace corvane {

// An address header the strict parser rejects ("@ Outside address"). The header is complete;
// only its form is wrong.
class AddressError : public DataError {
public:
    using DataError::DataError;
};

// One mailbox of an address header: a display name (decoded text, may be empty) and the
// address local@domain. An empty group ("undisclosed-recipients:;") is kept as an entry with
// the group's name and an empty address, so that it shows and is written back as it came.
struct MailAddress {
    QString Name;
    QString Address;

    bool isEmpty() const { return Name.isEmpty() && Address.isEmpty(); }
    // The text form shown to the user and written into headers with 7-bit names:
    //   local@domain, or Name <local@domain>, or "Na,me" <local@domain>.
    QString text() const;

    // Parses one address (the first of a list); an empty value gives an empty address.
    // Throws AddressError "@ Outside address" as parseAddressList does.
    static MailAddress parse(QStringView value);

    friend bool operator==(const MailAddress &, const MailAddress &) = default;
};

using MailAddressList = QList<MailAddress>;

// Splits an address header value by RFC 822 mailbox syntax: display names with an address in
// angle brackets, bare addresses, addresses followed by a comment in parentheses (the comment
// becomes the name), quoted names with backslash escapes, comments, groups; entries are
// separated by commas. Encoded words in names and comments are decoded after splitting, so an
// encoded comma never splits an address. Input is untrusted; the parser is linear and never
// fails except for an "@" after a closed angle-bracket address: AddressError "@ Outside
// address".
MailAddressList parseAddressList(QStringView value);

// As parseAddressList, but an "@" after an angle-bracket address is skipped instead of
// failing (for the headers whose values nothing but writing back depends on).
MailAddressList parseAddressListLenient(QStringView value);

// The sender of a From value as well as it can be read, never empty while the value holds
// text: the first entry of the strict reading when it has one; else the address inside the
// last "<...>" that holds an "@", with the text before it as the name; else the whole decoded
// value as the address. Never throws.
MailAddress parseSenderLenient(QStringView value);

// The text forms of the addresses joined by ", "; empty for an empty list.
QString addressListText(const MailAddressList &list);

// The display name in the form the text form uses: unchanged when it holds only letters,
// digits, blanks and !#$%&'*+-/=?_`{}|~, otherwise in double quotes with \ before " and \.
QString quoteDisplayName(QStringView name);
// The text in double quotes with \ before " and \.
QString quoteString(QStringView text);
// The address with its local part (before the last "@") in double quotes when it holds a
// character outside that set other than ".".
QString quoteAddress(QStringView address);

} // namespace corvane
