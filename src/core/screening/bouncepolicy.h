#pragma once

#include <QString>

namespace corvane {

class MailMessage;

// Whether a delivery-failure notice may go to the sender of a message. A notice that goes to
// an automatic sender can start a loop of notices between two machines, and one that goes to a
// mailing list reaches every subscriber or the list's owner; both harm people who never sent
// the message. Decided on the header as TOP n 0 fetched it (the message's HeaderLines) and on
// the address the notice would go to.
//
// No notice goes to a message
//  - whose Return-Path is empty ("<>": a notice or report itself) or whose Return-Path or
//    notice address is a mailer daemon's (MAILER-DAEMON, postmaster, LISTSERV, majordomo,
//    owner-..., ...-request);
//  - whose notice address is empty;
//  - that carries Auto-Submitted with any value but "no";
//  - that is list mail: List-Id or List-Unsubscribe, or Precedence bulk, list or junk.
//
// Header values come from mail and are untrusted; the reason quotes at most a short, cut
// piece of them.
class BouncePolicy {
public:
    // Why no notice may be sent for the message whose header is header, to the address
    // noticeAddress (the bare address the notice would be sent to): a short text for the log
    // such as "it is list mail (List-Id)". Empty when the notice may be sent.
    static QString reasonNotToBounce(const MailMessage &header, const QString &noticeAddress);

    // Whether the local part of address (the part before its last at sign, or the whole text
    // without one) is that of a mailer daemon or a list server. Any case.
    static bool isDaemonAddress(const QString &address);

    // The header every notice carries, so that other responders do not answer it in turn.
    static constexpr const char *AutoSubmittedHeader = "Auto-Submitted: auto-replied";
};

} // namespace corvane
