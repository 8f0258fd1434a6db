#include "core/platform/datadir.h"

#include "core/errors.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <sys/stat.h>

namespace corvane {

using namespace Qt::StringLiterals;

DataDirectory::DataDirectory(QString path) : m_path(QDir(path).absolutePath()) {}

const QString DataDirectory::PortableMarker = u"portable"_s;

namespace {

QString userDataRoot() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

bool isPortable(const QString &exeDir) {
#ifdef Q_OS_WIN
    (void)exeDir;
    return true;
#else
    return QFileInfo(QDir(exeDir).filePath(DataDirectory::PortableMarker)).isFile();
#endif
}

} // namespace

QString DataDirectory::defaultPathFor(const QString &exeDir, const QString &userDataRoot) {
    if (isPortable(exeDir) || userDataRoot.isEmpty())
        return QDir(exeDir).absolutePath();
    return QDir(userDataRoot).filePath(u"Corvane"_s);
}

QString DataDirectory::defaultPath() {
    return defaultPathFor(QCoreApplication::applicationDirPath(), userDataRoot());
}

bool DataDirectory::defaultIsUserFolder() {
    return QDir(defaultPath()) != QDir(QCoreApplication::applicationDirPath());
}

QString DataDirectory::filePath(const QString &name) const {
    return QDir(m_path).filePath(name);
}

QString DataDirectory::folder(const QString &name) const {
    const QString full = filePath(name);
    createPrivateFolder(full);
    return full;
}

void DataDirectory::create() const {
    createPrivateFolder(m_path);
}

void createPrivateFolder(const QString &path) {
    const QString full = QDir::cleanPath(QDir(path).absolutePath());
    const auto fail = [&](int error) {
        throw FileError(u"Cannot create folder \"%1\". %2"_s.arg(QDir::toNativeSeparators(full),
                                                                 qt_error_string(error)));
    };
    // Each missing folder on the way is made 0700; the umask can only take bits away.
    qsizetype end = 0;
    while (end < full.size()) {
        end = full.indexOf(u'/', end + 1);
        if (end < 0)
            end = full.size();
        const QByteArray part = QFile::encodeName(full.left(end));
        if (part.isEmpty())
            continue;
        if (::mkdir(part.constData(), 0700) == 0)
            continue;
        const int error = errno;
        struct stat st {};
        if (error == EEXIST && ::stat(part.constData(), &st) == 0 && S_ISDIR(st.st_mode))
            continue;
        fail(error == EEXIST ? ENOTDIR : error);
    }
}

} // namespace corvane
