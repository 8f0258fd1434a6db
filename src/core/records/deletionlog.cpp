#include "core/records/deletionlog.h"

#include "core/errors.h"
#include "core/platform/durablefile.h"
#include "core/platform/inifile.h"
#include "core/platform/legacytext.h"
#include "core/platform/safetext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <limits>

using namespace Qt::StringLiterals;

namespace corvane {

const QString DeletionLog::FileName = u"logfile.log"_s;

namespace {

// The locale's long time format without its time-zone part: "2:07:09 PM", not
// "2:07:09 PM Central European Standard Time".
QString timeFormatWithoutZone(const QString &format) {
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == u'\'') {
            quoted = !quoted;
            out += c;
        } else if (!quoted && c == u't') {
            while (out.endsWith(u' '))
                out.chop(1);
        } else {
            out += c;
        }
    }
    return out.trimmed();
}

} // namespace

QStringList DeletionLog::readLines(QIODevice &device) {
    const QString text = decodeLegacyText(device.readAll());
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\r' && text[i] != u'\n')
            continue;
        lines << text.mid(start, i - start);
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines << text.mid(start);
    return lines;
}

QByteArray DeletionLog::toBytes(const QStringList &lines) {
    QString text;
    for (const QString &l : lines) {
        text += l;
        text += u"\r\n"_s;
    }
    return encodeLegacyText(text);
}

void DeletionLog::load(const QString &path) {
    QFile f(path);
    if (!f.exists())
        return;
    if (!f.open(QIODevice::ReadOnly)) {
        m_readOk = false;
        m_unreadablePath = path;
        throw FileError(
            u"Cannot read %1: %2"_s.arg(QDir::toNativeSeparators(path), f.errorString()));
    }
    QStringList lines = readLines(f);
    if (f.error() != QFileDevice::NoError) {
        m_readOk = false;
        m_unreadablePath = path;
        throw FileError(
            u"Cannot read %1: %2"_s.arg(QDir::toNativeSeparators(path), f.errorString()));
    }
    LogLines = std::move(lines);
    m_readOk = true;
    m_unreadablePath.clear();
}

void DeletionLog::save(const QString &path) const {
    const QString shown = QDir::toNativeSeparators(path);
    if (!m_readOk && QFileInfo::exists(path))
        throw DataError(u"%1 could not be read when the program started; it was left unchanged "
                        u"so that the log in it is not lost."_s.arg(shown));
    try {
        writeFileDurably(path, toBytes(LogLines));
    } catch (const WriteError &e) {
        throw FileError(u"Unable to write to %1. %2"_s.arg(shown, e.reason()));
    }
}

void DeletionLog::clear() {
    LogLines.clear();
    DeleteCount = u"0"_s;
}

void DeletionLog::incrementDeleteCount() {
    using L = std::numeric_limits<qint64>;
    const auto n = parseLegacyInteger(DeleteCount, L::min(), L::max());
    if (!n)
        throw DataError(
            u"The total of deleted messages \"%1\" is not a whole number."_s.arg(DeleteCount));
    if (*n == L::max())
        throw DataError(u"The total of deleted messages is too large to count on."_s);
    DeleteCount = QString::number(*n + 1);
}

bool DeletionLog::restartCountIfUnusable() {
    using L = std::numeric_limits<qint64>;
    const auto n = parseLegacyInteger(DeleteCount, L::min(), L::max());
    if (n && *n < L::max())
        return true;
    DeleteCount = u"0"_s;
    return false;
}

QString DeletionLog::runStartLine(const QDateTime &now, const QLocale &locale) {
    const QString date = locale.toString(now.date(), QLocale::ShortFormat);
    const QString time =
        locale.toString(now.time(), timeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat)));
    return date + u" - "_s + time + u" begin process messages"_s;
}

QString DeletionLog::runStartRule() {
    return QString(45, u'-');
}

// The fields come from mail: a line break or a control character in them must not forge a
// line of the log or reach the terminal that shows it.
QString DeletionLog::deletedLine(const QString &from, const QString &to, const QString &subject,
                                 const QString &date) {
    return u"Email from "_s + safeText(from) + u" deleted, sent to "_s + safeText(to) +
           u" with subject "_s + safeText(subject) + u" dated "_s + safeText(date);
}

QString DeletionLog::bouncedLine(const QString &from, const QString &to, const QString &subject,
                                 const QString &date) {
    return u"Email from "_s + safeText(from) + u" bounced and deleted, sent to "_s + safeText(to) +
           u" with subject "_s + safeText(subject) + u" dated "_s + safeText(date);
}

QString DeletionLog::notBouncedLine(const QString &from, const QString &to, const QString &subject,
                                    const QString &date, const QString &reason) {
    return deletedLine(from, to, subject, date) + u" - not bounced: "_s + safeText(reason);
}

QStringList DeletionLog::runEndLines() {
    return {QString(40, u'-'), u"Process Messages finished"_s, QString()};
}

QString DeletionLog::unconfirmedLine(const QString &line, const QString &why) {
    return u"Not confirmed by the server ("_s + why + u"): "_s + line;
}

void DeletionLog::appendRunStart(const QDateTime &now, const QLocale &locale) {
    LogLines << runStartLine(now, locale) << runStartRule();
}

void DeletionLog::appendDeleted(const QString &from, const QString &to, const QString &subject,
                                const QString &date) {
    LogLines << deletedLine(from, to, subject, date);
}

void DeletionLog::appendBounced(const QString &from, const QString &to, const QString &subject,
                                const QString &date) {
    LogLines << bouncedLine(from, to, subject, date);
}

void DeletionLog::appendNotBounced(const QString &from, const QString &to, const QString &subject,
                                   const QString &date, const QString &reason) {
    LogLines << notBouncedLine(from, to, subject, date, reason);
}

void DeletionLog::appendRunEnd() {
    LogLines << runEndLines();
}

} // namespace corvane
