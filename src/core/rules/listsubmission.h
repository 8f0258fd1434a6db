#pragma once

#include "core/protocol/mailmessage.h"
#include "core/protocol/smtpclient.h"

#include <QString>
#include <QStringList>

namespace corvane {

struct Settings;

// Mails the user's three black list files to the publisher's collection address, as one
// message with the files attached: blsubj.dat, bleml.dat and blsubxy.dat from the data folder,
// in that order, each only when it exists, as it lies on disk. The friendly list never goes.
class ListSubmission {
public:
    static const QStringList FileNames; // blsubj.dat, bleml.dat, blsubxy.dat
    static const QString SenderName;    // "Black Lists"
    static const QString Subject;       // "Black List Files"

    // The message: From "Black Lists" <from>, To to, Subject and the one body line "Black List
    // Files", one attachment per existing file of folder. Throws DataError for an address the
    // parser rejects.
    static MailMessage compose(const QString &folder, const QString &to, const QString &from);

    // Composes the message from the settings (smtpemail, submitaddress) and sends it through
    // smtpserver on the port of smtpport (25 when it is not a port number). Returns the names
    // of the files sent; throws every failure (NetworkError, ProtocolError, DataError,
    // FileError).
    static QStringList submit(const QString &folder, const Settings &settings,
                              const SmtpSendOptions &options = {});

    // "Size label" text of a list file: its size in bytes and " Bytes"; empty when it is missing.
    static QString sizeText(const QString &path);
};

} // namespace corvane
