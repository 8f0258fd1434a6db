#pragma once

#include "core/platform/datadir.h"
#include "core/rules/rulelists.h"

#include <QString>
#include <QStringList>

#include <array>

namespace corvane {

// The four list files of the data directory, read once when the program starts and written
// once when it ends. A list is written back only when what it holds covers its file: the file
// was missing, was read in full, or was damaged and has been copied aside first. A file that
// could not be opened at all is never replaced, so a list the program never read cannot
// overwrite it.
class ListFileSet {
public:
    // The suffix of the copy kept of a damaged list file.
    static const QString DamagedSuffix; // ".damaged"

    explicit ListFileSet(DataDirectory directory);

    QString path(ListKind kind) const;

    // Reads the list of that kind from its file; a missing file leaves the list as it is.
    // Never throws: the texts to show the user, if any, are returned in order (the reader's
    // own error first, then what was done about it).
    QStringList load(RuleLists &lists, ListKind kind);
    // Whether save() writes this list.
    bool canSave(ListKind kind) const { return m_canSave.at(index(kind)); }
    // Writes the list to its file (compressed) when canSave(); throws FileError when the file
    // cannot be written.
    void save(const RuleLists &lists, ListKind kind) const;
    // Reads again every list whose file changed on the disk since this object last read or
    // wrote it (another program wrote it), so that the next save() does not write an older
    // copy over it. A list changed in memory since then (an edit in the window, not saved yet)
    // is not read again: the user's change is kept and written at the next save, and a line
    // says so. Returns what load() returns for each, after a line naming the file.
    QStringList reloadChanged(RuleLists &lists);
    // The path under which the damaged file of this kind was kept; empty when none was.
    const QString &keptCopy(ListKind kind) const { return m_kept.at(index(kind)); }

private:
    QStringList read(RuleLists &lists, ListKind kind);
    static std::size_t index(ListKind kind) { return static_cast<std::size_t>(kind); }
    // Copies a damaged file aside under a name that is not taken yet; empty when that fails.
    QString keepDamagedFile(const QString &path) const;

    // What identifies a file's contents without reading it: its size and modification time
    // (none when the file is missing).
    struct Stamp {
        bool exists = false;
        qint64 size = 0;
        qint64 modified = 0;
        bool operator==(const Stamp &) const = default;
    };
    Stamp stampOf(ListKind kind) const;

    DataDirectory m_directory;
    std::array<bool, 4> m_canSave{true, true, true, true};
    mutable std::array<Stamp, 4> m_stamps;
    // Each list's revision when it was last read or written: a list whose revision moved on
    // holds changes that are not in its file.
    mutable std::array<quint64, 4> m_revisions{};
    std::array<QString, 4> m_kept;
};

} // namespace corvane
