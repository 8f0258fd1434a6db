// corvane-cli message show: the fields the program reads from a message file.

#include "app/cli/command.h"
#include "app/cli/shared.h"

#include "core/errors.h"
#include "core/platform/legacytext.h"
#include "core/protocol/mailmessage.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace corvane::cli {
namespace {

QJsonValue isoDate(const QDateTime &date, bool utc) {
    if (!date.isValid())
        return QJsonValue::Null;
    QString text;
    if (utc) {
        text = date.toUTC().toString(Qt::ISODate);
    } else {
        // With the offset written out, so the local time is unambiguous.
        const QDateTime local = date.toLocalTime();
        text = local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate);
    }
    // ISO 8601 has no form for a year outside 1 to 9999.
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QJsonObject describe(const MailMessage &message) {
    QJsonArray headerLines;
    for (const QByteArray &line : message.HeaderLines)
        headerLines.append(decodeLegacyText(line));
    QJsonArray parts;
    for (const MessagePart &part : message.MessageParts) {
        QJsonObject p{{u"kind"_s, part.isAttachment() ? u"attachment"_s : u"text"_s},
                      {u"contentType"_s, part.MediaType()},
                      {u"transferEncoding"_s, part.ContentTransferEncoding}};
        if (part.isAttachment()) {
            p.insert(u"fileName"_s, part.FileName);
            p.insert(u"size"_s, part.ContentSize());
        } else {
            p.insert(u"lines"_s, part.Lines.size());
        }
        parts.append(p);
    }
    return {{u"subject"_s, message.Subject},
            {u"from"_s, message.FromText()},
            {u"recipients"_s, message.RecipientsText()},
            {u"dateLocal"_s, isoDate(message.Date, false)},
            {u"dateUtc"_s, isoDate(message.Date, true)},
            {u"headerLines"_s, headerLines},
            {u"bodyLines"_s, message.Body.size()},
            {u"parts"_s, parts}};
}

// The plain-text form. Every text from the message goes through field(): it can neither break
// a line nor send control characters to the terminal. Texts are joined, not put through
// QString::arg, so a "%1" in a subject stays as it is.
QString asText(const QJsonObject &o) {
    const auto value = [&](const QString &key) { return field(o.value(key).toString()); };
    const auto date = [&](const QString &key) {
        return o.value(key).isNull() ? u"(none)"_s : o.value(key).toString();
    };
    QString text = u"Subject:     "_s + value(u"subject"_s) + u"\nFrom:        "_s +
                   value(u"from"_s) + u"\nRecipients:  "_s + value(u"recipients"_s) +
                   u"\nDate:        "_s + date(u"dateLocal"_s) + u"\nDate (UTC):  "_s +
                   date(u"dateUtc"_s) + u"\nBody lines:  "_s +
                   QString::number(o.value(u"bodyLines"_s).toInt()) + u"\nHeader lines:\n"_s;
    for (const QJsonValue &line : o.value(u"headerLines"_s).toArray())
        text += u"  "_s + field(line.toString()) + u'\n';
    const QJsonArray parts = o.value(u"parts"_s).toArray();
    text += parts.isEmpty() ? u"Parts: none\n"_s : u"Parts:\n"_s;
    int n = 0;
    for (const QJsonValue &v : parts) {
        const QJsonObject p = v.toObject();
        const auto part = [&](const QString &key) { return field(p.value(key).toString()); };
        const QString encoding = part(u"transferEncoding"_s);
        const QString suffix = encoding.isEmpty() ? QString() : u", "_s + encoding;
        text += u"  "_s + QString::number(++n) + u". "_s;
        if (p.value(u"kind"_s).toString() == u"attachment"_s)
            text += u"attachment \""_s + part(u"fileName"_s) + u"\" ("_s + part(u"contentType"_s) +
                    u", "_s + QString::number(p.value(u"size"_s).toInteger()) + u" bytes"_s +
                    suffix + u")\n"_s;
        else
            text += u"text ("_s + part(u"contentType"_s) + u", "_s +
                    QString::number(p.value(u"lines"_s).toInt()) + u" lines"_s + suffix + u")\n"_s;
    }
    return text;
}

int show(const QStringList &args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Prints the fields read from a message file (an archive copy, temp.eml, or any file "
        u"that ends with the line \".\"): subject, sender and recipients as the message list "
        u"shows them, the date in ISO 8601 (local and UTC), the header lines, and the parts "
        u"with their types and the attachments' names and sizes. Exits 1 when the file "
        u"cannot be read, after printing what was parsed."_s);
    const QCommandLineOption json(u"json"_s, u"Print one JSON object instead of text."_s);
    parser.addOption(json);
    parser.addPositionalArgument(u"FILE"_s, u"The message file."_s);
    int code = Success;
    if (!parseArguments(parser, u"message show"_s, args, code))
        return code;
    if (parser.positionalArguments().size() != 1) {
        err(u"corvane-cli message show: expected one FILE\n"_s);
        return Usage;
    }
    const QString path = parser.positionalArguments().constFirst();
    MailMessage message;
    QString error;
    int failure = Success;
    try {
        message.LoadMessageFile(path);
    } catch (const Error &e) {
        error = e.message();
        failure = exitCodeFor(e);
        if (!QFileInfo::exists(path)) {
            err(u"corvane-cli message show: %1\n"_s.arg(error));
            return failure;
        }
    }
    const QJsonObject fields = describe(message);
    if (parser.isSet(json))
        out(QString::fromUtf8(QJsonDocument(fields).toJson(QJsonDocument::Indented)));
    else
        out(asText(fields));
    if (error.isEmpty())
        return Success;
    err(u"corvane-cli message show: %1: %2\n"_s.arg(path, error));
    return failure;
}

int run(const QStringList &args) {
    const QString help = u"Usage: corvane-cli message show [--json] FILE\n\n"
                         u"Shows what the program reads from a message file.\n"_s;
    return runSubcommand(u"message"_s, args, {{u"show"_s, show}}, help);
}

const CommandRegistration registration{
    {u"message"_s, u"Show the fields read from a message file."_s, run}};

} // namespace
} // namespace corvane::cli
