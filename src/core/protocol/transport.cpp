#include "core/protocol/transport.h"

#include "core/errors.h"
#include "core/platform/legacytext.h"

#include <climits>

using namespace Qt::StringLiterals;

namespace corvane {

QString Transport::notConnectedText() {
    return u"Not Connected"_s;
}

QString Transport::closedGracefullyText() {
    return u"Connection Closed Gracefully."_s;
}

QString Transport::socketErrorText(int number, const QString &text) {
    return u"Socket Error # %1\r\n%2"_s.arg(number).arg(text);
}

void Transport::open(const QString &host, quint16 port) {
    if (isOpen())
        throw NetworkError(u"Already connected."_s);
    m_buffer.clear();
    if (m_transcript)
        m_transcript(u"--- connecting to %1:%2"_s.arg(host).arg(port));
    connectTo(host, port);
}

void Transport::startTls() {
    if (!isOpen())
        throw NetworkError(notConnectedText());
    if (!m_buffer.isEmpty()) {
        close();
        m_buffer.clear();
        throw ProtocolError(u"The server sent more than its answer before the secure connection "
                            u"was set up; the connection was closed, since those bytes may have "
                            u"been injected by someone on the way."_s);
    }
    if (m_transcript)
        m_transcript(u"--- starting TLS"_s);
    encrypt();
}

void Transport::encrypt() {
    close();
    throw SecurityError(u"This connection cannot be secured."_s);
}

void Transport::writeLine(const QByteArray &line, qsizetype maskFrom) {
    if (!isOpen())
        throw NetworkError(notConnectedText());
    if (m_transcript) {
        if (maskFrom >= 0 && maskFrom < line.size())
            // A fixed mask: the transcript must not tell how long the secret is.
            record("--> ", line.left(maskFrom) + PasswordMask.toByteArray());
        else
            record("--> ", line);
    }
    send(line + "\r\n");
}

void Transport::writeLines(const QList<QByteArray> &lines) {
    if (!isOpen())
        throw NetworkError(notConnectedText());
    QByteArray bytes;
    for (const QByteArray &line : lines) {
        record("--> ", line);
        bytes += line;
        bytes += "\r\n";
    }
    if (!bytes.isEmpty())
        send(bytes);
}

namespace {

QDeadlineTimer deadlineIn(int milliseconds) {
    return milliseconds > 0 ? QDeadlineTimer(milliseconds)
                            : QDeadlineTimer(QDeadlineTimer::Forever);
}

} // namespace

void Transport::setDeadlines(int replyMilliseconds) {
    m_replyDeadlineMs = replyMilliseconds;
    m_dataDeadlineMs =
        replyMilliseconds > 0
            ? int(qMin<qint64>(qint64(DataDeadlineFactor) * replyMilliseconds, INT_MAX))
            : 0;
}

QDeadlineTimer Transport::startDataDeadline() const {
    return deadlineIn(m_dataDeadlineMs);
}

QDeadlineTimer Transport::startReplyDeadline() const {
    return deadlineIn(m_replyDeadlineMs);
}

QByteArray Transport::readLine() {
    return readLine(startReplyDeadline());
}

QByteArray Transport::readLine(const QDeadlineTimer &deadline) {
    return readLineBy(deadline, m_replyDeadlineMs, nullptr);
}

QByteArray Transport::readDataLine(const QDeadlineTimer &deadline, bool &cut, qsizetype maxLength) {
    cut = false;
    return readLineBy(deadline, m_dataDeadlineMs, &cut, qMax<qsizetype>(1, maxLength));
}

QByteArray Transport::readLineBy(const QDeadlineTimer &deadline, int limitMs, bool *cut,
                                 qsizetype maxLength) {
    // Set when an over-long line has been cut: its first maxLength bytes, while the rest
    // of it is skipped.
    QByteArray kept;
    bool skipping = false;
    qsizetype scanned = 0;
    const auto cutLine = [&] {
        record("<-- ", kept);
        record("--- ", "the line above was cut: it is longer than " +
                           QByteArray::number(maxLength) + " characters");
        *cut = true;
        return kept;
    };
    for (;;) {
        // The buffer before `scanned` holds no line break: a long line is searched once.
        const qsizetype end = m_buffer.indexOf('\n', scanned);
        if (skipping) {
            if (end >= 0) {
                m_buffer.remove(0, end + 1);
                return cutLine();
            }
            m_buffer.clear();
            scanned = 0;
        } else if (end >= 0) {
            qsizetype length = end;
            if (length > 0 && m_buffer.at(length - 1) == '\r')
                --length;
            if (length > maxLength) {
                if (!cut)
                    throw ProtocolError(u"Max line length exceeded."_s);
                kept = m_buffer.left(maxLength);
                m_buffer.remove(0, end + 1);
                return cutLine();
            }
            QByteArray line = m_buffer.left(length);
            m_buffer.remove(0, end + 1);
            record("<-- ", line);
            return line;
        } else if (m_buffer.size() > maxLength + 1) {
            // One byte more than the limit may be the CR of a line of exactly the limit's
            // length; beyond that the line is over-long whatever follows, and it may never end.
            if (!cut)
                throw ProtocolError(u"Max line length exceeded."_s);
            kept = m_buffer.left(maxLength);
            m_buffer.clear();
            skipping = true;
        }
        scanned = m_buffer.size();
        if (deadline.hasExpired())
            failDeadline(limitMs);
        m_replyDeadline = deadline;
        receiveMore(m_buffer);
    }
}

void Transport::failDeadline(int limitMs) {
    // The reply is unfinished: what arrives later cannot be matched to any command.
    close();
    m_buffer.clear();
    throw NetworkError(u"The server did not complete its reply within %1 seconds."_s.arg(
                           QString::number(limitMs / 1000.0)),
                       NetworkError::Reason::TimedOut);
}

void Transport::record(const char *direction, const QByteArray &bytes) {
    if (m_transcript)
        m_transcript(QLatin1StringView(direction) + decodeLegacyText(bytes));
}

} // namespace corvane
