#include "core/rules/listupdate.h"

#include "core/errors.h"
#include "core/platform/datadir.h"
#include "core/platform/durablefile.h"
#include "core/protocol/httpfetcher.h"
#include "core/rules/listfile.h"

#include <QDir>
#include <QFile>
#include <QSet>

using namespace Qt::StringLiterals;

namespace corvane {

const std::array<ListUpdate::Source, 3> ListUpdate::Sources = {{
    {ListKind::SubjectBlack, "update/blsubj.dat", "subj.dat"},
    {ListKind::EmailBlack, "update/bleml.dat", "eml.dat"},
    {ListKind::XandY, "update/blsubxy.dat", "xysubj.dat"},
}};

namespace {

bool isReservedHost(QString host) {
    host = host.toLower();
    if (host.endsWith(u'.'))
        host.chop(1);
    for (const QString &name : {u"example.org"_s, u"example.com"_s, u"example.net"_s})
        if (host == name || host.endsWith(u'.' + name))
            return true;
    for (const QString &tld : {u".example"_s, u".invalid"_s, u".test"_s})
        if (host.endsWith(tld) || host == tld.mid(1))
            return true;
    return false;
}

// Why a downloaded file cannot be taken over.
QString damageOf(const ListReadReport &report) {
    switch (report.status) {
    case ListReadStatus::Ok:
    case ListReadStatus::NoFile:
        return {};
    case ListReadStatus::TooShort:
        return u"it is not a list file"_s;
    case ListReadStatus::Truncated:
        return u"it ends after %1 of its %2 entries"_s.arg(report.entriesRead)
            .arg(report.entryCount);
    case ListReadStatus::TrailingData:
        return u"more data follows its %1 entries"_s.arg(report.entryCount);
    case ListReadStatus::BadCompression:
        return u"its compressed data is damaged (%1)"_s.arg(report.error);
    case ListReadStatus::TooLarge:
        return report.error;
    }
    return u"it is damaged"_s;
}

} // namespace

ListUpdate::ListUpdate(RuleLists &lists, QString updatesFolder, HttpFetcher &fetcher)
    : m_lists(lists), m_folder(std::move(updatesFolder)), m_fetcher(fetcher) {}

QUrl ListUpdate::fileUrl(const QUrl &base, const char *path) {
    QUrl folder = base;
    if (!folder.path().endsWith(u'/'))
        folder.setPath(folder.path() + u'/');
    return folder.resolved(QUrl(QString::fromLatin1(path)));
}

bool ListUpdate::isExampleAddress(const QUrl &base) {
    return isReservedHost(base.host());
}

bool ListUpdate::isExampleMailAddress(const QString &address) {
    const qsizetype at = address.lastIndexOf(u'@');
    return at < 0 || isReservedHost(address.mid(at + 1).trimmed().remove(u'>'));
}

qsizetype ListUpdate::merge(RuleList &target, const RuleList &download, ListKind kind) {
    QSet<QString> present;
    for (const RuleEntry &entry : target)
        present.insert(entry.Caption);
    const qsizetype copied = kind == ListKind::XandY ? 2 : 1;
    qsizetype added = 0;
    for (const RuleEntry &entry : download) {
        if (present.contains(entry.Caption))
            continue;
        target.add(entry.Caption, entry.SubItems.mid(0, copied));
        ++added;
    }
    return added;
}

ListUpdate::Gains ListUpdate::run(const QUrl &base, const Progress &progress) {
    const auto tell = [&](const QString &status, int percent) {
        if (progress)
            progress(status, percent);
    };
    // Owner-only, as every folder of the data directory.
    createPrivateFolder(m_folder);

    // Download: each file is saved in the working folder as it arrives.
    tell(u"Connecting to server..."_s, 15);
    const int downloadProgress[] = {15, 25, 35};
    for (std::size_t n = 0; n < Sources.size(); ++n) {
        tell(u"Getting update %1 of 3"_s.arg(n + 1), downloadProgress[n]);
        const QByteArray body = m_fetcher.FetchUrl(fileUrl(base, Sources[n].path));
        writeFileDurably(QDir(m_folder).filePath(QString::fromLatin1(Sources[n].savedName)), body);
    }

    // Every file is read whole before any list changes, so a damaged one changes nothing.
    std::array<RuleList, 3> downloads;
    for (std::size_t n = 0; n < Sources.size(); ++n) {
        const QString path = QDir(m_folder).filePath(QString::fromLatin1(Sources[n].savedName));
        tell(u"Processing Update %1 of 3"_s.arg(n + 1), 45 + 20 * int(n));
        const ListReadReport report = LoadListFile(downloads[n], path);
        QFile::remove(path);
        if (!report.ok())
            throw DataError(u"The downloaded file %1 cannot be used: %2."_s.arg(
                fileUrl(base, Sources[n].path).toDisplayString(), damageOf(report)));
    }

    // Every merge is tried on a copy first: a list that would grow beyond what a list file may
    // hold changes nothing, so what is in use can always be saved and read back whole.
    std::array<RuleList, 3> merged;
    Gains gains{};
    for (std::size_t n = 0; n < Sources.size(); ++n) {
        tell(u"Processing Update %1 of 3"_s.arg(n + 1), 55 + 20 * int(n));
        merged[n] = m_lists.list(Sources[n].kind);
        gains[n] = merge(merged[n], downloads[n], Sources[n].kind);
        if (const QString bound = listOverBound(merged[n]); !bound.isEmpty())
            throw DataError(u"The update would give the list %1 %2 entries: %3 No list has "
                            u"been changed."_s.arg(listFileName(Sources[n].kind))
                                .arg(merged[n].size())
                                .arg(bound));
    }
    for (std::size_t n = 0; n < Sources.size(); ++n)
        if (gains[n] > 0)
            m_lists.list(Sources[n].kind) = std::move(merged[n]);
    tell(u"Completed Sucessfully"_s, 0);
    return gains;
}

} // namespace corvane
