#include "core/protocol/mailmessage.h"

#include "core/errors.h"
#include "core/platform/durablefile.h"
#include "core/platform/legacytext.h"
#include "core/protocol/devicelines.h"
#include "core/protocol/encodedwords.h"
#include "core/protocol/headerblock.h"
#include "core/protocol/maildate.h"
#include "core/protocol/messagereader.h"
#include "core/protocol/mimecodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <optional>

using namespace Qt::StringLiterals;

namespace corvane {

namespace {

bool isAscii(QByteArrayView bytes) {
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

QByteArray joinWords(const QList<QByteArray> &words) {
    QByteArray out;
    for (const QByteArray &w : words) {
        if (!out.isEmpty())
            out += ' ';
        out += w;
    }
    return out;
}

// Unstructured text (Subject, Organization) for a header: as it is when it is plain ASCII
// that folds safely, else as encoded words.
QByteArray unstructuredValue(const QString &text) {
    if (needsEncodedWords(text))
        return joinWords(encodeWords(text));
    return text.toUtf8();
}

QByteArray nameValue(const QString &name) {
    if (needsEncodedWords(name))
        return joinWords(encodeWords(name));
    // Blanks survive between words only singly, so other blanks need the quotes.
    if (name.contains(u"  "_s) || name.contains(u'\t'))
        return quoteString(name).toUtf8();
    return quoteDisplayName(name).toUtf8();
}

QByteArray addressValue(const MailAddress &a) {
    if (a.Address.isEmpty())
        return a.Name.isEmpty() ? QByteArray() : nameValue(a.Name) + ":;";
    const QByteArray name = a.Name.isEmpty() ? QByteArray() : nameValue(a.Name);
    const QByteArray address = quoteAddress(a.Address).toUtf8();
    if (name.isEmpty()) {
        // The bare form unless it would read back as something else.
        const MailAddressList back = parseAddressListLenient(QString::fromUtf8(address));
        if (back.size() == 1 && back.first() == a)
            return address;
        return '<' + address + '>';
    }
    return name + " <" + address + '>';
}

QByteArray addressListValue(const MailAddressList &list) {
    QByteArray out;
    for (const MailAddress &a : list) {
        const QByteArray v = addressValue(a);
        if (v.isEmpty())
            continue;
        if (!out.isEmpty())
            out += ", ";
        out += v;
    }
    return out;
}

MessagePriority priorityFrom(const QByteArray &priority, const QByteArray &xPriority) {
    const QByteArray p = priority.trimmed().toLower();
    if (!p.isEmpty()) {
        if (p.startsWith("urgent") || p.startsWith("high"))
            return MessagePriority::High;
        if (p.startsWith("non-urgent") || p.startsWith("low"))
            return MessagePriority::Low;
        if (p.size() >= 1 && p[0] >= '1' && p[0] <= '5')
            return MessagePriority(p[0] - '0');
        return MessagePriority::Normal;
    }
    const QByteArray x = xPriority.trimmed();
    if (!x.isEmpty() && x[0] >= '1' && x[0] <= '5')
        return MessagePriority(x[0] - '0');
    return MessagePriority::Normal;
}

bool isIdentityEncoding(const QString &cte) {
    const QString e = cte.trimmed().toLower();
    return e.isEmpty() || e == u"7bit"_s || e == u"8bit"_s || e == u"binary"_s;
}

QByteArray randomBoundary() {
    QByteArray bytes(16, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), 4);
    return "=_corvane_" + bytes.toHex();
}

// Writes lines to the sink with dot-stuffing.
class StuffingWriter {
public:
    explicit StuffingWriter(LineSink &sink) : m_sink(sink) {}
    void line(QByteArrayView l) {
        if (l.startsWith('.'))
            m_sink.writeLine('.' + l.toByteArray());
        else
            m_sink.writeLine(l.toByteArray());
    }
    void lines(const QList<QByteArray> &ls) {
        for (const QByteArray &l : ls)
            line(l);
    }
    void lines(const LineList &ls) {
        for (QByteArrayView l : ls)
            line(l);
    }
    void field(QByteArrayView name, QByteArrayView value) { lines(foldHeaderField(name, value)); }

private:
    LineSink &m_sink;
};

QByteArray paramsValue(const QString &value, const QList<QByteArray> &params) {
    QByteArray out = value.toUtf8();
    for (const QByteArray &p : params)
        out += "; " + p;
    return out;
}

} // namespace

qint64 MessagePart::ContentSize() const {
    const QFileInfo info(m_storedFile);
    return info.exists() ? info.size() : -1;
}

QString MessagePart::MediaType() const {
    const QString media = parseHeaderParams(ContentType).value.toLower();
    if (!media.isEmpty())
        return media;
    return isText() ? u"text/plain"_s : u"application/octet-stream"_s;
}

QString MessagePart::CharSet() const {
    return parseHeaderParams(ContentType).param(u"charset");
}

MailMessage::MailMessage() = default;
MailMessage::~MailMessage() = default;
MailMessage::MailMessage(const MailMessage &) = default;
MailMessage &MailMessage::operator=(const MailMessage &) = default;
MailMessage::MailMessage(MailMessage &&) noexcept = default;
MailMessage &MailMessage::operator=(MailMessage &&) noexcept = default;

void MailMessage::ClearMessage() {
    *this = MailMessage();
}

QDateTime MailMessage::ZeroDate() {
    return QDateTime(QDate(1899, 12, 30), QTime(0, 0));
}

QByteArray MailMessage::HeaderValue(QByteArrayView name) const {
    return headerBlockValue(HeaderLines, name);
}

QByteArray MailMessage::HeaderText() const {
    QByteArray text;
    qsizetype size = 0;
    for (const QByteArray &line : HeaderLines)
        size += line.size() + 2;
    text.reserve(size);
    for (const QByteArray &line : HeaderLines)
        text.append(line).append("\r\n");
    return text;
}

qsizetype MailMessage::TextPartCount() const {
    return std::count_if(MessageParts.cbegin(), MessageParts.cend(),
                         [](const MessagePart &p) { return p.isText(); });
}

qsizetype MailMessage::AttachmentCount() const {
    return MessageParts.size() - TextPartCount();
}

void MailMessage::ParseHeader() {
    std::optional<AddressError> error;
    auto text = [&](QByteArrayView name) { return headerBytesToText(HeaderValue(name)); };
    auto strictList = [&](QByteArrayView name) -> MailAddressList {
        try {
            return parseAddressList(text(name));
        } catch (const AddressError &e) {
            if (!error)
                error = e;
            return {};
        }
    };
    auto first = [](const MailAddressList &list) {
        return list.isEmpty() ? MailAddress() : list.first();
    };

    Subject = decodeHeaderText(HeaderValue("Subject"));
    // The sender is read leniently when the strict reading fails or finds no address, so that
    // the lists, the rules and a bounce see it; the objection is still reported.
    From = first(strictList("From"));
    if (From.isEmpty())
        From = parseSenderLenient(text("From"));
    Recipients = strictList("To");
    CCList = strictList("Cc");
    ReplyTo = parseAddressListLenient(text("Reply-To"));
    Sender = first(parseAddressListLenient(text("Sender")));
    QString receipt = text("Disposition-Notification-To");
    if (receipt.isEmpty())
        receipt = text("Return-Receipt-To");
    ReceiptRecipient = first(parseAddressListLenient(receipt));
    Organization = decodeHeaderText(HeaderValue("Organization"));
    References = text("References");
    NewsGroups.clear();
    for (const QString &group : text("Newsgroups").split(u','))
        if (!group.trimmed().isEmpty())
            NewsGroups.append(group.trimmed());
    MsgId = text("Message-Id");
    Priority = priorityFrom(HeaderValue("Priority"), HeaderValue("X-Priority"));
    ContentType = text("Content-Type");
    CharSet = parseHeaderParams(ContentType).param(u"charset");
    ContentTransferEncoding = text("Content-Transfer-Encoding");
    ContentDisposition = text("Content-Disposition");
    Date = parseMailDate(text("Date"));
    if (error)
        throw *error;
}

void MailMessage::ReadMessage(LineSource &source) {
    MessageReader(*this, source).run();
}

void MailMessage::AddAttachment(const QString &path) {
    MessagePart part;
    part.PartKind = MessagePart::Kind::Attachment;
    part.FileName = QFileInfo(path).fileName();
    part.m_storedFile = path;
    MessageParts.append(std::move(part));
}

void MailMessage::WriteMessage(LineSink &sink) const {
    StuffingWriter out(sink);
    QList<const MessagePart *> texts;
    QList<const MessagePart *> attachments;
    for (const MessagePart &p : MessageParts)
        (p.isText() ? texts : attachments).append(&p);
    const bool hasParts = !MessageParts.isEmpty();
    const bool bodyAsPart = hasParts && !m_bodyIsPreamble && (!Body.isEmpty() || texts.isEmpty());
    // With attachments, two or more text parts are alternatives of one another.
    const bool nested = !attachments.isEmpty() && texts.size() >= 2;

    // Lines written as they are must not contain a boundary line.
    auto collides = [&](const QByteArray &boundary) {
        const QByteArray mark = "--" + boundary;
        auto check = [&](const auto &lines) {
            for (QByteArrayView l : lines)
                if (l.startsWith(mark))
                    return true;
            return false;
        };
        if (check(Body))
            return true;
        for (const MessagePart &p : MessageParts)
            if (check(p.ExtraHeaderLines) ||
                (p.isText() && isIdentityEncoding(p.ContentTransferEncoding) && check(p.Lines)))
                return true;
        return false;
    };
    auto pickBoundary = [&] {
        QByteArray b = randomBoundary();
        while (collides(b))
            b = randomBoundary();
        return b;
    };
    const QByteArray boundary = hasParts ? pickBoundary() : QByteArray();
    const QByteArray innerBoundary = nested ? pickBoundary() : QByteArray();

    // 1. The header block.
    QList<QByteArray> header = HeaderLines;
    auto set = [&](QByteArrayView name, QByteArrayView value) {
        setHeaderField(header, name, foldHeaderField(name, value));
    };
    set("From", addressValue(From));
    set("Subject", unstructuredValue(Subject));
    set("To", addressListValue(Recipients));
    set("Cc", addressListValue(CCList));
    set("Newsgroups", NewsGroups.join(u',').toUtf8());
    if (hasParts) {
        const QByteArray kind = attachments.isEmpty() ? "alternative" : "mixed";
        set("Content-Type", "multipart/" + kind + "; boundary=\"" + boundary + '"');
        set("MIME-Version", "1.0");
        // A multipart body cannot carry a Base64 or quoted-printable encoding of its own.
        set("Content-Transfer-Encoding", isIdentityEncoding(ContentTransferEncoding)
                                             ? ContentTransferEncoding.toUtf8()
                                             : QByteArray());
    } else {
        QString type = ContentType;
        if (!CharSet.isEmpty() && parseHeaderParams(type).param(u"charset").isEmpty())
            type = (type.isEmpty() ? u"text/plain"_s : type) + u"; charset="_s + CharSet;
        set("Content-Type", type.toUtf8());
        // MIME-Version stays as received: removing it would turn a MIME message into plain
        // text for its reader.
        set("Content-Transfer-Encoding", ContentTransferEncoding.toUtf8());
    }
    set("Sender", addressValue(Sender));
    set("Reply-To", addressListValue(ReplyTo));
    set("Organization", unstructuredValue(Organization));
    set("Disposition-Notification-To", addressValue(ReceiptRecipient));
    set("References", References.toUtf8());
    // A date this object could not read is kept as received rather than replaced.
    if (Date.isValid())
        set("Date", formatMailDate(Date));
    else if (HeaderValue("Date").trimmed().isEmpty())
        set("Date", formatMailDate(QDateTime::currentDateTime()));
    set("X-Priority", QByteArray::number(int(Priority)));
    header += ExtraHeaders;
    for (QByteArray line : std::as_const(header)) {
        for (char &c : line)
            if (c == '\r' || c == '\n' || c == '\0')
                c = ' ';
        if (!line.isEmpty())
            out.line(line);
    }

    // 2. The empty line.
    out.line(QByteArray());

    // 3. The body.
    if (!hasParts) {
        out.lines(Body);
        return;
    }
    if (m_bodyIsPreamble)
        out.lines(Body);
    else
        out.line("This is a multi-part message in MIME format.");

    auto bodyPart = [&](const QByteArray &b) {
        out.line("--" + b);
        bool ascii = true;
        bool utf8 = true;
        for (QByteArrayView l : Body) {
            ascii = ascii && isAscii(l);
            utf8 = utf8 && isValidUtf8(l);
        }
        QString charset = CharSet;
        if (charset.isEmpty() && !ascii)
            charset = utf8 ? u"UTF-8"_s : u"windows-1252"_s;
        out.field("Content-Type", charset.isEmpty() ? QByteArray("text/plain")
                                                    : paramsValue(u"text/plain"_s,
                                                                  formatParam("charset", charset)));
        out.field("Content-Transfer-Encoding", ascii ? "7bit" : "8bit");
        out.line(QByteArray());
        out.lines(Body);
    };
    auto textPart = [&](const QByteArray &b, const MessagePart &p) {
        out.line("--" + b);
        out.field("Content-Type",
                  p.ContentType.isEmpty() ? QByteArray("text/plain") : p.ContentType.toUtf8());
        const QString cte = p.ContentTransferEncoding.trimmed().toLower();
        if (cte == u"base64"_s) {
            out.field("Content-Transfer-Encoding", "base64");
        } else if (isIdentityEncoding(cte) && !cte.isEmpty()) {
            out.field("Content-Transfer-Encoding", cte.toUtf8());
        } else {
            out.field("Content-Transfer-Encoding", "quoted-printable");
        }
        if (!p.ContentDisposition.isEmpty())
            out.field("Content-Disposition", p.ContentDisposition.toUtf8());
        out.lines(p.ExtraHeaderLines);
        out.line(QByteArray());
        if (cte == u"base64"_s) {
            QByteArray joined;
            for (qsizetype i = 0; i < p.Lines.size(); ++i) {
                if (i > 0)
                    joined += "\r\n";
                joined += p.Lines[i];
            }
            out.lines(encodeBase64Lines(joined));
        } else if (isIdentityEncoding(cte) && !cte.isEmpty()) {
            out.lines(p.Lines);
        } else {
            for (QByteArrayView l : p.Lines)
                out.lines(encodeQuotedPrintable(l));
        }
    };
    auto attachmentPart = [&](const QByteArray &b, const MessagePart &p) {
        QFile file(p.StoredFile());
        if (!file.open(QIODevice::ReadOnly))
            throw FileError(u"Cannot open file \"%1\". %2"_s.arg(
                QDir::toNativeSeparators(p.StoredFile()), file.errorString()));
        out.line("--" + b);
        const HeaderParams type = parseHeaderParams(p.ContentType);
        QList<QByteArray> typeParams;
        for (const auto &[name, value] : type.params)
            if (name != u"name"_s)
                typeParams += formatParam(name.toUtf8(), value);
        if (!p.FileName.isEmpty())
            typeParams += formatParam("name", p.FileName);
        out.field("Content-Type", paramsValue(p.MediaType(), typeParams));
        out.field("Content-Transfer-Encoding", "base64");
        const HeaderParams disposition = parseHeaderParams(p.ContentDisposition);
        out.field("Content-Disposition",
                  paramsValue(disposition.value.isEmpty() ? u"attachment"_s : disposition.value,
                              p.FileName.isEmpty() ? QList<QByteArray>()
                                                   : formatParam("filename", p.FileName)));
        out.lines(p.ExtraHeaderLines);
        out.line(QByteArray());
        while (true) {
            const QByteArray chunk = file.read(57 * 1024);
            if (chunk.isEmpty()) {
                if (!file.atEnd() && file.error() != QFileDevice::NoError)
                    throw FileError(file.errorString());
                break;
            }
            out.lines(encodeBase64Lines(chunk));
        }
    };

    if (nested) {
        out.line("--" + boundary);
        out.field("Content-Type", "multipart/alternative; boundary=\"" + innerBoundary + '"');
        out.line(QByteArray());
        if (bodyAsPart && !Body.isEmpty())
            bodyPart(innerBoundary);
        for (const MessagePart *p : std::as_const(texts))
            textPart(innerBoundary, *p);
        out.line("--" + innerBoundary + "--");
    } else {
        if (bodyAsPart)
            bodyPart(boundary);
        for (const MessagePart *p : std::as_const(texts))
            textPart(boundary, *p);
    }
    for (const MessagePart *p : std::as_const(attachments))
        attachmentPart(boundary, *p);
    out.line("--" + boundary + "--");
}

void MailMessage::SaveMessageFile(const QString &path) const {
    DurableFile file(path);
    DeviceLineSink sink(*file.device());
    WriteMessage(sink);
    sink.writeLine(".");
    file.commit();
}

void MailMessage::LoadMessageFile(const QString &path) {
    if (!QFileInfo::exists(path))
        throw FileError(u"Cannot load message from file %1"_s.arg(path));
    ClearMessage();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw FileError(u"Cannot load message from file %1"_s.arg(path));
    DeviceLineSource source(file, MessageLimits::MaxLineLength);
    ReadMessage(source);
}

} // namespace corvane
