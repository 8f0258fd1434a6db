#include "core/learning/mailsources.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

// The fields of which any real message has at least one.
bool isCommonField(QByteArrayView line) {
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0)
        return false;
    const QByteArrayView name = line.first(colon);
    for (const char *common :
         {"from", "date", "subject", "message-id", "received", "to", "return-path"})
        if (name.compare(QByteArrayView(common), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// A header field's first line: a name of printable characters other than the colon, then the
// colon.
bool isFieldLine(QByteArrayView line) {
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0)
        return false;
    for (qsizetype i = 0; i < colon; ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (c <= 32 || c >= 127)
            return false;
    }
    return true;
}

} // namespace

std::optional<ScannedLines> scannedLinesOf(QByteArrayView file, int bodyLines) {
    // The lines without their line breaks.
    QList<QByteArrayView> lines;
    qsizetype start = 0;
    while (start < file.size()) {
        qsizetype end = file.indexOf('\n', start);
        const qsizetype next = end < 0 ? file.size() : end + 1;
        if (end < 0)
            end = file.size();
        QByteArrayView line = file.sliced(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        lines.append(line);
        start = next;
    }
    // The POP3 form ends with the line "." and has its lines dot-stuffed.
    const bool pop3Form = !lines.isEmpty() && lines.last() == ".";
    if (pop3Form)
        lines.removeLast();
    const auto unstuffed = [pop3Form](QByteArrayView line) {
        return pop3Form && line.startsWith("..") ? line.sliced(1) : line;
    };
    qsizetype i = 0;
    if (!lines.isEmpty() && lines.first().startsWith("From "))
        ++i; // the mbox separator is no part of the message
    ScannedLines result;
    bool common = false;
    for (qsizetype k = i; k < lines.size(); ++k)
        result.octets += unstuffed(lines.at(k)).size() + 2;
    for (; i < lines.size(); ++i) {
        const QByteArrayView line = unstuffed(lines.at(i));
        if (line.isEmpty())
            break;
        const bool continuation = line.front() == ' ' || line.front() == '\t';
        if (continuation ? result.header.isEmpty() : !isFieldLine(line))
            return std::nullopt; // text where a header should be
        common = common || (!continuation && isCommonField(line));
        result.header.append(line.toByteArray());
    }
    if (!common)
        return std::nullopt;
    ++i; // the empty line
    for (; i < lines.size() && result.body.size() < bodyLines; ++i)
        result.body.append(unstuffed(lines.at(i)).toByteArray());
    return result;
}

QList<QByteArray> messagesOfFile(const QByteArray &file) {
    if (!file.startsWith("From "))
        return {file};
    // An mbox: a message begins at each line "From " that follows an empty line (or starts
    // the file).
    QList<QByteArray> messages;
    qsizetype begin = 0;
    qsizetype search = 0;
    for (;;) {
        qsizetype at = file.indexOf("\n\nFrom ", search);
        qsizetype atCr = file.indexOf("\n\r\nFrom ", search);
        qsizetype gap = 2;
        if (atCr >= 0 && (at < 0 || atCr < at)) {
            at = atCr;
            gap = 3;
        }
        if (at < 0) {
            messages.append(file.mid(begin));
            break;
        }
        messages.append(file.mid(begin, at + 1 - begin));
        begin = at + gap;
        search = begin;
    }
    return messages;
}

QStringList mailFilesUnder(const QStringList &paths, QStringList *missing) {
    QStringList files;
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (!info.exists()) {
            if (missing)
                missing->append(path);
            continue;
        }
        if (!info.isDir()) {
            files.append(path);
            continue;
        }
        const QDir dir(path);
        QStringList found;
        if (dir.exists(u"cur"_s) || dir.exists(u"new"_s)) {
            for (const QString &sub : {u"cur"_s, u"new"_s}) {
                const QDir box(dir.filePath(sub));
                for (const QString &name : box.entryList(QDir::Files, QDir::Name))
                    found.append(box.filePath(name));
            }
        } else {
            QDirIterator it(path, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext())
                found.append(it.next());
            std::sort(found.begin(), found.end());
        }
        files += found;
    }
    return files;
}

} // namespace corvane
