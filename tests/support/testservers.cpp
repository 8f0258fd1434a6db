#include "testservers.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace corvane::test {

SinkMessage readSinkMessage(const QString &sinkDir, const QByteArray &recipient) {
    SinkMessage message;
    const QDir sink(sinkDir + u"/new"_s);
    QString eml;
    for (const QString &name : sink.entryList({u"*.envelope"_s}, QDir::Files, QDir::Name)) {
        QFile envelope(sink.filePath(name));
        if (envelope.open(QIODevice::ReadOnly) &&
            envelope.readAll().contains("RCPT TO:<" + recipient + ">"))
            eml = sink.filePath(QString(name).replace(u".envelope"_s, u".eml"_s));
    }
    if (eml.isEmpty()) {
        message.error = u"the sink received nothing for "_s + QString::fromLatin1(recipient);
        return message;
    }
    QTemporaryDir parts;
    QProcess python;
    python.start(u"python3"_s, {u"-c"_s,
                                u"import email, email.policy, os, sys\n"
                                u"m = email.message_from_binary_file(open(sys.argv[1], 'rb'),"
                                u" policy=email.policy.default)\n"
                                u"print(m['From']); print(m['Subject']); print(m['To'])\n"
                                u"print(m.get_body(('plain',)).get_content().strip())\n"
                                u"for i, p in enumerate(m.iter_attachments()):\n"
                                u"    print(p.get_filename())\n"
                                u"    open(os.path.join(sys.argv[2], str(i)),"
                                u" 'wb').write(p.get_payload(decode=True))\n"_s,
                                eml, parts.path()});
    if (!python.waitForFinished(30000) || python.exitCode() != 0) {
        message.error = QString::fromLocal8Bit(python.readAllStandardError());
        return message;
    }
    const QList<QByteArray> lines = python.readAllStandardOutput().trimmed().split('\n');
    if (lines.size() < 4) {
        message.error = u"the sink's message has no body"_s;
        return message;
    }
    message.from = lines[0];
    message.subject = lines[1];
    message.to = lines[2];
    message.body = lines[3];
    for (qsizetype i = 4; i < lines.size(); ++i) {
        QFile part(parts.filePath(QString::number(i - 4)));
        if (!part.open(QIODevice::ReadOnly)) {
            message.error = u"an attachment could not be decoded"_s;
            return message;
        }
        message.attachments.append({QString::fromUtf8(lines[i]), part.readAll()});
    }
    return message;
}

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
