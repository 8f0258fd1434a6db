#include "core/protocol/messagereader.h"

#include "core/errors.h"
#include "core/protocol/encodedwords.h"
#include "core/protocol/headerblock.h"

#include <QDir>
#include <QTemporaryFile>

using namespace Qt::StringLiterals;

namespace corvane {

namespace {

// "--boundary" (1) or "--boundary--" (2), blanks after either allowed; 0 otherwise.
int matchBoundary(QByteArrayView line, QByteArrayView boundary) {
    if (line.size() < boundary.size() + 2 || !line.startsWith("--") ||
        line.sliced(2, boundary.size()) != boundary)
        return 0;
    QByteArrayView rest = line.sliced(2 + boundary.size());
    int kind = 1;
    if (rest.startsWith("--")) {
        kind = 2;
        rest = rest.sliced(2);
    }
    for (char c : rest)
        if (c != ' ' && c != '\t')
            return 0;
    return kind;
}

bool isIdentityEncoding(const QString &cte) {
    const QString e = cte.trimmed().toLower();
    return e.isEmpty() || e == u"7bit"_s || e == u"8bit"_s || e == u"binary"_s;
}

} // namespace

MessageReader::MessageReader(MailMessage &message, LineSource &source) : m(message), src(source) {}

MessageReader::~MessageReader() = default;

void MessageReader::defer(std::exception_ptr error, bool stopStoring) {
    if (!m_deferred)
        m_deferred = error;
    if (stopStoring)
        m_draining = true;
}

bool MessageReader::account(qint64 bytes) {
    m_decoded += bytes;
    if (m_decoded <= MessageLimits::MaxDecodedBytes)
        return true;
    deferData(u"The message is larger than %1 MB when decoded."_s.arg(
        MessageLimits::MaxDecodedBytes / (1024 * 1024)));
    return false;
}

bool MessageReader::countLine() {
    if (++m_textLines <= MessageLimits::MaxTextLines)
        return true;
    deferData(u"The message has more than %1 lines of text."_s.arg(MessageLimits::MaxTextLines));
    return false;
}

bool MessageReader::next(QByteArray &line) {
    if (!src.readLine(line))
        throw DataError(u"The message ends before its end line \".\"."_s);
    if (line.size() == 1 && line[0] == '.')
        return false;
    if (line.startsWith(".."))
        line.remove(0, 1);
    if (line.size() > MessageLimits::MaxLineLength && !m_draining)
        deferData(u"Max line length exceeded."_s);
    return true;
}

void MessageReader::run() {
    try {
        const bool ended = readHeaderBlock();
        try {
            m.ParseHeader();
        } catch (const AddressError &) {
            // Reported last: damage found in the rest of the message matters more.
            m_addressError = std::current_exception();
        } catch (const Error &) {
            defer(std::current_exception(), false);
        }
        if (!ended)
            readBody();
    } catch (...) {
        // What was read so far stays in the message.
        try {
            finishPart();
        } catch (...) {
        }
        throw;
    }
    if (m_deferred)
        std::rethrow_exception(m_deferred);
    if (m_addressError)
        std::rethrow_exception(m_addressError);
}

bool MessageReader::readHeaderBlock() {
    QByteArray line;
    qsizetype count = 0;
    qsizetype bytes = 0;
    while (next(line)) {
        if (line.isEmpty())
            return false;
        if (m_draining)
            continue;
        if (++count > MessageLimits::MaxHeaderLines) {
            deferData(
                u"The message has more than %1 header lines."_s.arg(MessageLimits::MaxHeaderLines));
            continue;
        }
        bytes += line.size() + 2;
        if (bytes > MessageLimits::MaxHeaderBytes) {
            deferData(u"The message header is larger than %1 bytes."_s.arg(
                MessageLimits::MaxHeaderBytes));
            continue;
        }
        m.HeaderLines.append(line);
    }
    return true;
}

void MessageReader::readBody() {
    const HeaderParams type = parseHeaderParams(m.ContentType);
    const QString media = type.value.toLower();
    const QByteArray boundary = type.param(u"boundary").toUtf8();
    if (media.startsWith(u"multipart/"_s) && !boundary.isEmpty()) {
        m_levels.append(Level{boundary});
        m.m_bodyIsPreamble = true;
    }
    // A single-part message is not decoded, but uuencoded blocks in plain text are.
    m_allowUuencode = isIdentityEncoding(m.ContentTransferEncoding) &&
                      (media.isEmpty() || media == u"text/plain"_s || !m_levels.isEmpty());
    m_state = State::Body;
    QByteArray line;
    while (next(line)) {
        if (m_draining)
            continue;
        if (m_levels.isEmpty() && m_state == State::Body && !m_hasPart)
            bodyLine(line); // the common case, kept short
        else
            multipartLine(line);
    }
    finishPart();
}

void MessageReader::bodyLine(const QByteArray &line) {
    if (m_hasPart && m_uuBlock) {
        if (isUuencodeEnd(line)) {
            finishPart();
            return;
        }
        QByteArray bytes;
        if (decodeUuencodeLine(line, bytes)) {
            emitBytes(bytes);
            return;
        }
        // Not uuencoded data: the block ended early, and this is ordinary text.
        finishPart();
    }
    QByteArray name;
    if (m_allowUuencode && parseUuencodeBegin(line, name)) {
        MessagePart part;
        part.PartKind = MessagePart::Kind::Attachment;
        part.FileName = headerBytesToText(name);
        part.ContentTransferEncoding = u"x-uuencode"_s;
        part.ContentDisposition = u"attachment"_s;
        openPart(std::move(part), Decoding::Identity);
        m_uuBlock = true;
        return;
    }
    if (account(line.size() + 2) && countLine())
        m.Body.append(line);
}

void MessageReader::multipartLine(const QByteArray &line) {
    if (line.startsWith("--")) {
        for (qsizetype j = m_levels.size() - 1; j >= 0; --j) {
            if (const int kind = matchBoundary(line, m_levels[j].boundary)) {
                onBoundary(j, kind == 2);
                return;
            }
        }
    }
    switch (m_state) {
    case State::Body:
        bodyLine(line);
        break;
    case State::Ignore:
        break;
    case State::PartHeader:
        if (line.isEmpty()) {
            endPartHeader();
        } else {
            m_partHeaderBytes += line.size() + 2;
            if (m_partHeader.size() >= MessageLimits::MaxHeaderLines)
                deferData(u"The message has more than %1 header lines."_s.arg(
                    MessageLimits::MaxHeaderLines));
            else if (m_partHeaderBytes > MessageLimits::MaxHeaderBytes)
                deferData(u"The message header is larger than %1 bytes."_s.arg(
                    MessageLimits::MaxHeaderBytes));
            else if (++m_partHeaderLines > MessageLimits::MaxPartHeaderLines)
                // Part headers are kept with their parts: all of them together are bounded.
                deferData(u"The message's parts have more than %1 header lines in all."_s.arg(
                    MessageLimits::MaxPartHeaderLines));
            else if (account(line.size() + 2))
                m_partHeader.append(line);
        }
        break;
    case State::PartBody:
        feedPart(line);
        break;
    }
}

void MessageReader::onBoundary(qsizetype level, bool close) {
    finishPart();
    if (m_state == State::PartHeader)
        endPartHeader(); // a part with a header and no body
    finishPart();
    m_levels.resize(level + 1);
    if (close) {
        m_levels.removeLast();
        m_state = m_levels.isEmpty() ? State::Body : State::Ignore;
    } else {
        m_state = State::PartHeader;
        m_partHeader.clear();
        m_partHeaderBytes = 0;
    }
}

void MessageReader::endPartHeader() {
    const QString typeText = headerBytesToText(headerBlockValue(m_partHeader, "Content-Type"));
    const HeaderParams type = parseHeaderParams(typeText);
    const QString media = type.value.toLower();
    m_state = State::PartBody;
    if (media.startsWith(u"multipart/"_s)) {
        const QByteArray boundary = type.param(u"boundary").toUtf8();
        if (!boundary.isEmpty()) {
            if (m_levels.size() >= MessageLimits::MaxMimeDepth) {
                deferData(u"The message nests MIME parts more than %1 levels deep."_s.arg(
                    MessageLimits::MaxMimeDepth));
                return;
            }
            m_levels.append(Level{boundary});
            m_state = State::Ignore; // its preamble
            return;
        }
    }
    MessagePart part;
    part.ContentType = typeText;
    part.ContentTransferEncoding =
        headerBytesToText(headerBlockValue(m_partHeader, "Content-Transfer-Encoding"));
    part.ContentDisposition =
        headerBytesToText(headerBlockValue(m_partHeader, "Content-Disposition"));
    const HeaderParams disposition = parseHeaderParams(part.ContentDisposition);
    part.FileName = disposition.param(u"filename");
    if (part.FileName.isEmpty())
        part.FileName = type.param(u"name");
    const bool textual = media.isEmpty() || media.startsWith(u"text/"_s) ||
                         media.startsWith(u"message/"_s) || media.startsWith(u"multipart/"_s);
    const bool attachment = !part.FileName.isEmpty() ||
                            disposition.value.compare(u"attachment"_s, Qt::CaseInsensitive) == 0 ||
                            !textual;
    part.PartKind = attachment ? MessagePart::Kind::Attachment : MessagePart::Kind::Text;
    // The part's other header lines go back out with it.
    for (qsizetype i = 0; i < m_partHeader.size();) {
        qsizetype end = i + 1;
        while (end < m_partHeader.size() && isContinuationLine(m_partHeader[end]))
            ++end;
        const QByteArrayView name = headerLineName(m_partHeader[i]);
        const bool known = name.compare("Content-Type", Qt::CaseInsensitive) == 0 ||
                           name.compare("Content-Transfer-Encoding", Qt::CaseInsensitive) == 0 ||
                           name.compare("Content-Disposition", Qt::CaseInsensitive) == 0 ||
                           name.compare("MIME-Version", Qt::CaseInsensitive) == 0;
        if (!known && !name.isEmpty())
            part.ExtraHeaderLines.append(m_partHeader.mid(i, end - i));
        i = end;
    }
    const QString cte = part.ContentTransferEncoding.trimmed().toLower();
    Decoding decoding = Decoding::Identity;
    if (cte == u"base64"_s)
        decoding = Decoding::Base64;
    else if (cte == u"quoted-printable"_s)
        decoding = Decoding::QuotedPrintable;
    else if (cte == u"x-uuencode"_s || cte == u"uuencode"_s || cte == u"x-uue"_s)
        decoding = Decoding::Uuencode;
    openPart(std::move(part), decoding);
}

void MessageReader::openPart(MessagePart part, Decoding decoding) {
    if (m.MessageParts.size() >= MessageLimits::MaxParts) {
        deferData(u"The message has more than %1 parts."_s.arg(MessageLimits::MaxParts));
        return;
    }
    m_part = std::move(part);
    m_decoding = decoding;
    m_base64 = Base64Decoder();
    m_pending.clear();
    m_pendingBreak = false;
    m_firstLine = true;
    m_uuBegun = false;
    m_uuBlock = false;
    m_file.reset();
    if (m_part.isAttachment()) {
        auto file = std::make_shared<QTemporaryFile>(QDir::tempPath() + u"/corvane-part-XXXXXX"_s);
        if (!file->open()) {
            defer(std::make_exception_ptr(
                      FileError(u"Cannot create a temporary file for an attachment: %1"_s.arg(
                          file->errorString()))),
                  true);
            return;
        }
        m_part.m_storedFile = file->fileName();
        m_part.m_ownedFile = file;
        m_file = std::move(file);
    }
    m_hasPart = true;
}

void MessageReader::feedPart(const QByteArray &line) {
    if (!m_hasPart)
        return;
    switch (m_decoding) {
    case Decoding::Base64: {
        QByteArray bytes;
        m_base64.feed(line, bytes);
        emitBytes(bytes);
        break;
    }
    case Decoding::QuotedPrintable: {
        bool soft = false;
        const QByteArray decoded = decodeQuotedPrintableLine(line, soft);
        if (m_part.isText()) {
            if (!account(decoded.size() + (soft ? 0 : 2)))
                return;
            m_pending += decoded;
            if (!soft) {
                if (!countLine())
                    return;
                m_part.Lines.append(m_pending);
                m_pending.clear();
            }
            m_pendingBreak = soft;
        } else {
            if (m_pendingBreak)
                emitBytes("\r\n");
            emitBytes(decoded);
            m_pendingBreak = !soft;
        }
        break;
    }
    case Decoding::Uuencode: {
        if (!m_uuBegun) {
            QByteArray name;
            if (parseUuencodeBegin(line, name))
                m_uuBegun = true;
            return;
        }
        QByteArray bytes;
        if (!isUuencodeEnd(line) && decodeUuencodeLine(line, bytes))
            emitBytes(bytes);
        break;
    }
    case Decoding::Identity:
        if (m_part.isText()) {
            if (account(line.size() + 2) && countLine())
                m_part.Lines.append(line);
        } else {
            if (!m_firstLine)
                emitBytes("\r\n");
            emitBytes(line);
        }
        break;
    }
    m_firstLine = false;
}

void MessageReader::emitBytes(QByteArrayView bytes) {
    if (bytes.isEmpty() || !m_hasPart || !account(bytes.size()))
        return;
    if (m_part.isAttachment()) {
        if (m_file && m_file->write(bytes.data(), bytes.size()) != bytes.size())
            defer(std::make_exception_ptr(FileError(m_file->errorString())), true);
        return;
    }
    // Decoded text: split into lines at LF, a CR before it dropped.
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\n')
            continue;
        m_pending += bytes.sliced(start, i - start);
        if (m_pending.endsWith('\r'))
            m_pending.chop(1);
        if (!countLine())
            return;
        m_part.Lines.append(m_pending);
        m_pending.clear();
        start = i + 1;
    }
    m_pending += bytes.sliced(start);
}

void MessageReader::finishPart() {
    if (!m_hasPart)
        return;
    m_hasPart = false;
    m_uuBlock = false;
    if (m_decoding == Decoding::Base64) {
        QByteArray bytes;
        m_base64.finish(bytes);
        m_hasPart = true;
        emitBytes(bytes);
        m_hasPart = false;
    }
    if (m_part.isText()) {
        const bool splitText = m_decoding == Decoding::Base64 || m_decoding == Decoding::Uuencode;
        if ((splitText || !m_pending.isEmpty()) && countLine())
            m_part.Lines.append(m_pending);
        m_pending.clear();
    } else if (m_file) {
        if (!m_file->flush())
            defer(std::make_exception_ptr(FileError(m_file->errorString())), true);
        m_file->close();
        m_file.reset();
    }
    m.MessageParts.append(std::move(m_part));
    m_part = MessagePart();
}

} // namespace corvane
