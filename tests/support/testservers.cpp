#include "testservers.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace corvane::test {

QString TestServers::envFilePath() {
    const QString fromEnvironment = qEnvironmentVariable("CORVANE_TEST_SERVERS_ENV");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(u"../test-servers.env"_s);
}

TestServers::TestServers() {
    QFile file(envFilePath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        m_why = u"the test servers are not running (no %1); start them with "
                u"scripts/test-servers.sh start BUILD_DIR"_s.arg(QDir::cleanPath(file.fileName()));
        return;
    }
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq > 0)
            m_values.insert(line.left(eq), line.mid(eq + 1));
    }
    m_valid = true;
}

bool TestServers::has(std::initializer_list<const char *> keys) {
    if (!m_valid)
        return false;
    for (const char *key : keys) {
        if (!m_values.contains(QLatin1StringView(key))) {
            m_why = u"%1 does not name %2: that server is not running"_s.arg(
                envFilePath(), QLatin1StringView(key));
            return false;
        }
    }
    return true;
}

bool TestMaildir::clear() const {
    QDir dir(m_path);
    if (!dir.exists())
        return false;
    for (const QString &sub : {u"cur"_s, u"new"_s, u"tmp"_s}) {
        QDir folder(dir.filePath(sub));
        for (const QString &name : folder.entryList(QDir::Files | QDir::Hidden))
            if (!folder.remove(name) && folder.exists(name))
                return false;
    }
    // The server's index and UID list: without them message numbers start afresh. The server
    // may still be replacing them after a session: a file gone already is no failure.
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden))
        if (!dir.remove(name) && dir.exists(name))
            return false;
    return true;
}

bool TestMaildir::deliver(const QByteArray &message) {
    // Names sort in delivery order, which is the order the server numbers new messages in.
    const QString name = u"%1.M%2P%3.corvane-test"_s.arg(QDateTime::currentSecsSinceEpoch())
                             .arg(++m_delivered, 6, 10, QChar(u'0'))
                             .arg(QCoreApplication::applicationPid());
    const QString tmp = QDir(m_path).filePath(u"tmp/"_s + name);
    QFile file(tmp);
    if (!file.open(QIODevice::WriteOnly) || file.write(message) != message.size())
        return false;
    file.close();
    return QFile::rename(tmp, QDir(m_path).filePath(u"new/"_s + name));
}

int TestMaildir::count() const {
    int n = 0;
    for (const QString &sub : {u"cur"_s, u"new"_s})
        n += int(QDir(QDir(m_path).filePath(sub)).entryList(QDir::Files).size());
    return n;
}

QList<QByteArray> TestMaildir::messages() const {
    QList<QFileInfo> files;
    for (const QString &sub : {u"cur"_s, u"new"_s})
        files += QDir(QDir(m_path).filePath(sub)).entryInfoList(QDir::Files);
    std::sort(files.begin(), files.end(),
              [](const QFileInfo &a, const QFileInfo &b) { return a.fileName() < b.fileName(); });
    QList<QByteArray> contents;
    for (const QFileInfo &info : files) {
        QFile f(info.filePath());
        contents << (f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray());
    }
    return contents;
}

} // namespace corvane::test
