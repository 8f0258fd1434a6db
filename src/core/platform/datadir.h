#pragma once

#include <QString>

namespace corvane {

// The one directory that holds every file the program reads and writes. Folders under it are
// created when first needed. Both programs find it the same way:
//   1. the one given with --data-dir;
//   2. the directory of the executable when the copy is portable: a file named "portable"
//      stands beside the executable, put there by the user who made the copy (on Windows
//      every copy is portable, as it always was);
//   3. otherwise the user's data folder, "Corvane" under the generic data location
//      (~/.local/share/Corvane on Linux), created owner-only when first used. A program run
//      from its build tree is no exception: deleting the build never deletes the user's data.
class DataDirectory {
public:
    explicit DataDirectory(QString path = defaultPath());

    // The name of the marker file that makes a copy portable.
    static const QString PortableMarker; // "portable"

    // The default for this executable and this user.
    static QString defaultPath();
    // The default for an executable in exeDir whose user's generic data location is
    // userDataRoot.
    static QString defaultPathFor(const QString &exeDir, const QString &userDataRoot);
    // Whether defaultPath() is the user's data folder (and so may be created on first use)
    // rather than the executable's own.
    static bool defaultIsUserFolder();

    const QString &path() const { return m_path; }
    // The path of a file directly in the data directory (name may hold a relative folder).
    QString filePath(const QString &name) const;
    // The path of a folder under the data directory, created owner-only (0700) when missing.
    // Throws FileError when it cannot be created.
    QString folder(const QString &name) const;
    // Creates the data directory itself, owner-only, when it is missing. Throws FileError.
    void create() const;

private:
    QString m_path;
};

// Creates a folder and its missing parents owner-only (0700); a folder that exists keeps its
// permissions. Throws FileError "Cannot create folder "<path>". <reason>".
void createPrivateFolder(const QString &path);

} // namespace corvane
