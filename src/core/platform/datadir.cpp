#include "platform/datadir.h"

#include "errors.h"

#include <QCoreApplication>
#include <QDir>

namespace corvane {

using namespace Qt::StringLiterals;

DataDirectory::DataDirectory(QString path) : m_path(QDir(path).absolutePath()) {}

QString DataDirectory::defaultPath() {
    return QCoreApplication::applicationDirPath();
}

QString DataDirectory::filePath(const QString &name) const {
    return QDir(m_path).filePath(name);
}

QString DataDirectory::folder(const QString &name) const {
    const QString full = filePath(name);
    if (!QDir().mkpath(full))
        throw FileError(u"Cannot create folder \"%1\""_s.arg(full));
    return full;
}

} // namespace corvane
