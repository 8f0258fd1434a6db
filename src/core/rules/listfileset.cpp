#include "core/rules/listfileset.h"

#include "core/errors.h"
#include "core/platform/durablefile.h"
#include "core/rules/listfile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace corvane {

const QString ListFileSet::DamagedSuffix = u".damaged"_s;

ListFileSet::ListFileSet(DataDirectory directory) : m_directory(std::move(directory)) {}

QString ListFileSet::path(ListKind kind) const {
    return m_directory.filePath(listFileName(kind));
}

QString ListFileSet::keepDamagedFile(const QString &path) const {
    QFile source(path);
    if (!source.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray bytes = source.readAll();
    if (source.error() != QFileDevice::NoError)
        return QString();
    for (int n = 1; n < 1000; ++n) {
        const QString copy =
            n == 1 ? path + DamagedSuffix : u"%1%2.%3"_s.arg(path, DamagedSuffix).arg(n);
        // A name held by a link, even a dangling one, is taken too.
        const QFileInfo taken(copy);
        if (taken.exists() || taken.isSymLink())
            continue;
        try {
            writeFileDurably(copy, bytes);
        } catch (const FileError &) {
            return QString();
        }
        return copy;
    }
    return QString();
}

ListFileSet::Stamp ListFileSet::stampOf(ListKind kind) const {
    const QFileInfo info(path(kind));
    if (!info.exists())
        return {};
    return {true, info.size(), info.lastModified().toMSecsSinceEpoch()};
}

QStringList ListFileSet::reloadChanged(RuleLists &lists) {
    QStringList messages;
    for (const ListKind kind : kAllListKinds) {
        const Stamp now = stampOf(kind);
        if (now == m_stamps.at(index(kind)) || !now.exists)
            continue;
        if (lists.list(kind).revision() != m_revisions.at(index(kind))) {
            messages << u"The list file \"%1\" was changed by another program, but the list "
                        u"also has changes made here that are not saved yet: those are kept, "
                        u"and written when the program closes."_s.arg(
                            QDir::toNativeSeparators(path(kind)));
            // Said once for this change of the file.
            m_stamps.at(index(kind)) = now;
            continue;
        }
        messages << u"The list file \"%1\" was changed by another program; it has been read "
                    u"again."_s.arg(QDir::toNativeSeparators(path(kind)));
        m_canSave.at(index(kind)) = true;
        m_kept.at(index(kind)).clear();
        messages << load(lists, kind);
    }
    return messages;
}

QStringList ListFileSet::load(RuleLists &lists, ListKind kind) {
    QStringList messages = read(lists, kind);
    m_revisions.at(index(kind)) = lists.list(kind).revision();
    return messages;
}

QStringList ListFileSet::read(RuleLists &lists, ListKind kind) {
    m_stamps.at(index(kind)) = stampOf(kind);
    const QString file = path(kind);
    const QString shown = QDir::toNativeSeparators(file);
    RuleList &list = lists.list(kind);
    QStringList messages;
    ListReadReport report;
    try {
        report = LoadListFile(list, file);
    } catch (const Error &e) {
        // Nothing was read: the list keeps its initial contents and must not replace the file.
        messages << e.message()
                 << u"The list in \"%1\" could not be read. The file will be left as it is when "
                    u"the program closes, and changes made to this list during this session "
                    u"will not be saved."_s.arg(shown);
        m_canSave.at(index(kind)) = false;
        return messages;
    }
    // Beyond what a list file may hold: none of it is used, and the file is never written over,
    // so the user's entries stay in it.
    if (report.status == ListReadStatus::TooLarge) {
        m_canSave.at(index(kind)) = false;
        messages << report.error
                 << u"The list in \"%1\" is not in use. The file will be left as it is when the "
                    u"program closes, and changes made to this list during this session will "
                    u"not be saved. Make the list shorter (corvane-cli lists dump and lists "
                    u"write) and start the program again."_s.arg(shown);
        return messages;
    }
    // The inflater's own complaint comes first, as it did when the damage was found.
    if (report.status == ListReadStatus::BadCompression)
        messages << report.error;
    const bool damaged = report.damaged();
    if (!damaged)
        return messages;

    const QString kept = keepDamagedFile(file);
    m_kept.at(index(kind)) = kept;
    if (kept.isEmpty()) {
        m_canSave.at(index(kind)) = false;
        messages << u"The list file \"%1\" is damaged; %2 entries could be read. A copy of the "
                    u"damaged file could not be made, so the file will be left as it is when "
                    u"the program closes and changes made to this list will not be saved."_s
                        .arg(shown)
                        .arg(list.size());
    } else {
        messages << u"The list file \"%1\" is damaged; the %2 entries that could be read are in "
                    u"use. The damaged file has been kept as \"%3\"."_s.arg(shown)
                        .arg(list.size())
                        .arg(QDir::toNativeSeparators(kept));
    }
    return messages;
}

void ListFileSet::save(const RuleLists &lists, ListKind kind) const {
    if (!canSave(kind))
        return;
    SaveListFile(lists.list(kind), path(kind), true);
    m_stamps.at(index(kind)) = stampOf(kind);
    m_revisions.at(index(kind)) = lists.list(kind).revision();
}

} // namespace corvane
