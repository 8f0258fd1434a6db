#include "testsupport.h"

#include <QFile>

namespace corvane::test {

QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QString cliPath() {
    return qEnvironmentVariable("CORVANE_CLI");
}

} // namespace corvane::test
