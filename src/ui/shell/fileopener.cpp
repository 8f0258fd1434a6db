#include "ui/shell/fileopener.h"

#include "ui/shell/prompts.h"

#include <QDesktopServices>
#include <QDir>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS) && !defined(Q_OS_ANDROID)
// Whether the desktop names a program for the file's type (or for a type it derives from, as
// a mail program that takes any text file). Without xdg-mime nothing can be said, and the
// desktop's own answer counts.
bool desktopHasProgramFor(const QString &path) {
    const QString xdgMime = QStandardPaths::findExecutable(u"xdg-mime"_s);
    if (xdgMime.isEmpty())
        return true;
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    QStringList names{type.name()};
    names += type.allAncestors();
    for (const QString &name : std::as_const(names)) {
        if (name == u"application/octet-stream"_s)
            continue;
        QProcess query;
        query.start(xdgMime, {u"query"_s, u"default"_s, name});
        if (!query.waitForFinished(5000)) {
            query.kill();
            query.waitForFinished(1000);
            return true; // no answer is no proof that there is no program
        }
        if (query.exitStatus() == QProcess::NormalExit && query.exitCode() == 0 &&
            !query.readAllStandardOutput().trimmed().isEmpty())
            return true;
    }
    return false;
}
#endif

} // namespace

bool DesktopFileOpener::open(const QString &path) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS) && !defined(Q_OS_ANDROID)
    if (!desktopHasProgramFor(path))
        return false;
#endif
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

QString noMailProgramText(const QString &path) {
    return u"There is no program on this computer for opening e-mail files (.eml), so the "
           u"message cannot be shown. Set up a mail program for .eml files, or open the file "
           u"with one:\n%1"_s.arg(QDir::toNativeSeparators(path));
}

void openMessageFile(FileOpener &opener, Prompts &prompts, QWidget *parent, const QString &path) {
    if (!opener.open(path))
        prompts.error(parent, noMailProgramText(path));
}

} // namespace corvane
