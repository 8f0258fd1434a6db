#include "requirements.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace corvane::test {

bool requiredByCi() {
    return qEnvironmentVariable("CI") == u"true"_s;
}

QString mailCorpusDir() {
    const QString fromEnvironment = qEnvironmentVariable("CORVANE_MAIL_CORPUS");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QDir(QStringLiteral(CORVANE_SOURCE_DIR)).filePath(u".cache/mail-corpus/package/data"_s);
}

} // namespace corvane::test
