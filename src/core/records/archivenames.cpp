#include "core/records/archivenames.h"

#include "core/platform/safetext.h"

#include <QDir>
#include <QFileInfo>
#include <QTextBoundaryFinder>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

bool isReservedDeviceName(const QString &base) {
    static const QStringList plain = {u"CON"_s, u"PRN"_s,    u"AUX"_s,
                                      u"NUL"_s, u"CONIN$"_s, u"CONOUT$"_s};
    const QString upper = base.toUpper();
    if (plain.contains(upper))
        return true;
    if (upper.size() != 4 || !(upper.startsWith(u"COM"_s) || upper.startsWith(u"LPT"_s)))
        return false;
    const QChar last = upper[3];
    // Windows reserves the superscript digits one to three as well.
    return (last >= u'0' && last <= u'9') || last == u'\u00B9' || last == u'\u00B2' ||
           last == u'\u00B3';
}

// The stem cut at the last character (grapheme) boundary at which it takes at most maxBytes
// bytes of UTF-8.
QString cutToBytes(const QString &stem, qsizetype maxBytes) {
    if (stem.toUtf8().size() <= maxBytes)
        return stem;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, stem);
    qsizetype kept = 0;
    qsizetype bytes = 0;
    for (qsizetype next = finder.toNextBoundary(); next > 0; next = finder.toNextBoundary()) {
        bytes += QStringView(stem).sliced(kept, next - kept).toUtf8().size();
        if (bytes > maxBytes)
            break;
        kept = next;
    }
    return stem.left(kept);
}

} // namespace

QString SafeSubject(const QString &subject) {
    QString safe = subject;
    for (QChar &c : safe) {
        switch (c.unicode()) {
        case u'?':
        case u'*':
        case u'/':
        case u'\\':
        case u':':
        case u'"':
        case u'<':
        case u'>':
        case u'|':
            c = u'-';
            break;
        default:
            break;
        }
    }
    return safe;
}

QString archiveFileName(const QString &stem, int counter) {
    QString name = stem;
    for (QChar &c : name)
        if (isUnsafeTextChar(c.unicode()))
            c = u'-';
    const qsizetype dot = name.indexOf(u'.');
    qsizetype baseEnd = dot < 0 ? name.size() : dot;
    while (baseEnd > 0 && name[baseEnd - 1] == u' ')
        --baseEnd;
    if (isReservedDeviceName(name.left(baseEnd)))
        name.insert(baseEnd, u'-');
    const QString suffix = (counter >= 0 ? u"(%1)"_s.arg(counter) : QString()) + u".eml"_s;
    return cutToBytes(name, MaxArchiveNameBytes - suffix.toUtf8().size()) + suffix;
}

QString ArchiveNamer::nextPath(const QString &subject) {
    const QDir folder(m_folder);
    const QString stem = SafeSubject(subject);
    // A name held by a symbolic link, even a dangling one, is taken: it is never written.
    const auto taken = [](const QString &path) {
        const QFileInfo info(path);
        return info.exists() || info.isSymLink();
    };
    QString path = folder.filePath(archiveFileName(stem));
    if (!taken(path))
        return path;
    for (;; ++m_counter) {
        path = folder.filePath(archiveFileName(stem, m_counter));
        if (!taken(path))
            return path;
    }
}

} // namespace corvane
