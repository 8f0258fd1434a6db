#pragma once

#include "core/protocol/linelist.h"
#include "core/protocol/lines.h"
#include "core/protocol/mailaddress.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

namespace corvane {

// Limits against hostile input, far above ordinary mail. Exceeding one fails the read with a
// DataError that names the limit; the rest of the message is still read up to its end line so
// that a POP3 connection stays in step.
struct MessageLimits {
    static constexpr qsizetype MaxLineLength = 16384; // characters, without CR LF
    static constexpr int MaxMimeDepth = 32;           // nested multiparts
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    static constexpr qsizetype MaxHeaderLines = 10000;           // per header block
    static constexpr qsizetype MaxHeaderBytes = 4 * 1024 * 1024; // per header block
    static constexpr qsizetype MaxParts = 10000;
    static constexpr qint64 MaxDecodedBytes = 512LL * 1024 * 1024; // body, text parts, files
    // Lines held in memory (body and text parts). Lines are stored compactly (LineList), so
    // the parsed form of a message takes about its own size plus four bytes a line.
    static constexpr qsizetype MaxTextLines = 4'000'000;
    static constexpr qsizetype MaxPartHeaderLines = 100'000; // all parts together
#else
    // The fuzz build: the same code with limits that an input of a few hundred KiB crosses.
    static constexpr qsizetype MaxHeaderLines = 1000;
    static constexpr qsizetype MaxHeaderBytes = 64 * 1024;
    static constexpr qsizetype MaxParts = 1000;
    static constexpr qint64 MaxDecodedBytes = 128 * 1024;
    static constexpr qsizetype MaxTextLines = 20000;
    static constexpr qsizetype MaxPartHeaderLines = 2000;
#endif
};

enum class MessagePriority { Highest = 1, High = 2, Normal = 3, Low = 4, Lowest = 5 };

// One decoded MIME part (or uuencoded block) of a message: a text part with its decoded
// lines, or an attachment whose content lies in a file.
class MessagePart {
public:
    enum class Kind { Text, Attachment };

    Kind PartKind = Kind::Text;
    QString ContentType;             // the whole value with parameters; empty means the default
    QString ContentTransferEncoding; // as received ("base64", "quoted-printable", ...)
    QString ContentDisposition;      // the whole value with parameters
    QString FileName;                // attachments: the name the sender gave (may be empty)
    LineList Lines;                  // text parts: the decoded lines, without line breaks
    // Further header lines of the part (Content-ID, Content-Description, ...), exactly as
    // received, continuation lines included; written back with the part.
    QList<QByteArray> ExtraHeaderLines;

    bool isText() const { return PartKind == Kind::Text; }
    bool isAttachment() const { return PartKind == Kind::Attachment; }
    // Attachments: the path of the file that holds the content: a temporary file owned by
    // the message for decoded parts (removed when the last copy of the message that holds it
    // is cleared or destroyed), or the caller's file for AddAttachment.
    QString StoredFile() const { return m_storedFile; }
    // Attachments: the size of the content in bytes (-1 when the file cannot be read).
    qint64 ContentSize() const;
    // The media type without parameters, in lower case ("text/plain" when none was given for
    // a text part, "application/octet-stream" for an attachment).
    QString MediaType() const;
    // The charset parameter of the content type (empty when none).
    QString CharSet() const;

private:
    friend class MailMessage;
    friend class MessageReader;
    QString m_storedFile;
    std::shared_ptr<void> m_ownedFile; // keeps a temporary file alive
};

// One Internet mail message: header lines exactly as read, the fields parsed from them, the
// body lines and the decoded parts. Read from a fetched message or a message file, written
// to a message file or an SMTP DATA stream.
class MailMessage {
public:
    MailMessage();
    ~MailMessage();
    MailMessage(const MailMessage &);
    MailMessage &operator=(const MailMessage &);
    MailMessage(MailMessage &&) noexcept;
    MailMessage &operator=(MailMessage &&) noexcept;

    // Header lines exactly as read (after transport dot-unstuffing), continuation lines as
    // lines of their own, empty lines left out.
    QList<QByteArray> HeaderLines;

    QString Subject;
    MailAddress From;
    MailAddressList Recipients; // "To"
    // Local date and time; a null QDateTime is the zero date (absent or unreadable "Date").
    QDateTime Date;
    // Body lines outside decoded parts: the whole body of a single-part message exactly as
    // received (after dot-unstuffing), the preamble and epilogue of a multipart one.
    LineList Body;
    QList<MessagePart> MessageParts;
    // Header lines written after the generated ones (set by the SMTP send).
    QList<QByteArray> ExtraHeaders;

    // Further fields: parsed, kept and written back.
    MailAddressList CCList;       // "Cc"
    MailAddressList ReplyTo;      // "Reply-To"
    MailAddress Sender;           // "Sender"
    MailAddress ReceiptRecipient; // "Disposition-Notification-To", else "Return-Receipt-To"
    QString Organization;         // "Organization"
    QString References;           // "References"
    QStringList NewsGroups;       // "Newsgroups", comma-separated
    QString MsgId;                // "Message-Id"
    MessagePriority Priority = MessagePriority::Normal; // "Priority", else "X-Priority"
    QString ContentType;                                // the whole "Content-Type" value
    QString CharSet;                                    // its charset parameter
    QString ContentTransferEncoding;                    // "Content-Transfer-Encoding"
    QString ContentDisposition;                         // "Content-Disposition"

    // Empties every field and the parts (their temporary files are removed); Date := 0,
    // Priority := normal.
    void ClearMessage();

    // Reads a message as a POP3 server sends it (TOP n 0 or RETR n), up to and including the
    // end line ".": header lines up to the first empty line (appended to HeaderLines), header
    // parsing, then the body. A header that ends at "." has no body. Lines beginning with ".."
    // lose their first ".". The source must cap line lengths. Input is untrusted. Throws
    // DataError when the source ends before ".", when a limit is exceeded or when a line is
    // too long, and AddressError when an address header is rejected ("@ Outside address") and
    // nothing else was wrong; the object then holds what was read, and in all but the first
    // case the rest of the message has been read up to ".".
    void ReadMessage(LineSource &source);

    // Fills the fields from HeaderLines. Throws AddressError "@ Outside address" for a From,
    // To or Cc value the strict parser rejects; the fields are filled all the same, From with
    // the lenient reading of parseSenderLenient.
    void ParseHeader();
    // The unfolded value of the first header line of that name (any case); empty when absent.
    QByteArray HeaderValue(QByteArrayView name) const;

    // Every line of HeaderLines followed by CR LF.
    QByteArray HeaderText() const;
    QString FromText() const { return From.text(); }
    QString RecipientsText() const { return addressListText(Recipients); }

    qsizetype TextPartCount() const;
    qsizetype AttachmentCount() const;

    // Appends an attachment named after the path's last component; the content is read from
    // that file when the message is written.
    void AddAttachment(const QString &path);

    // Writes the header block, an empty line and the body (dot-stuffed) as RFC 822 lines.
    // Throws FileError when an attachment's file cannot be read, and whatever the sink throws.
    void WriteMessage(LineSink &sink) const;

    // Writes the message and the end line "." to path through a temporary file that replaces
    // the file only when complete. Throws FileError.
    void SaveMessageFile(const QString &path) const;
    // ClearMessage, then reads the file as a fetched message. Throws FileError "Cannot load
    // message from file %s" for a missing file, DataError for a file without the end line "."
    // or with a line over 16,384 characters (the object keeps what was read).
    void LoadMessageFile(const QString &path);

    // The zero date for display: 30 December 1899, 00:00, local time.
    static QDateTime ZeroDate();

private:
    friend class MessageReader;
    // The body lines came from the preamble and epilogue of a multipart body: written back
    // as the preamble instead of as a text part.
    bool m_bodyIsPreamble = false;
};

} // namespace corvane
