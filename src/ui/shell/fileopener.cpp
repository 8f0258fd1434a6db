#include "ui/shell/fileopener.h"

#include <QDesktopServices>
#include <QUrl>

namespace corvane {

void DesktopFileOpener::open(const QString &path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

} // namespace corvane
