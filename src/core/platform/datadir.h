#pragma once

#include <QString>

namespace corvane {

// The one directory that holds every file the program reads and writes: by default the
// directory of the executable, or the one given with --data-dir. Folders under it are created
// when first needed.
class DataDirectory {
public:
    explicit DataDirectory(QString path = defaultPath());

    // The directory of the running executable.
    static QString defaultPath();

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
