#pragma once

// The 1,000-message mailbox of the scan benchmarks on the local Dovecot that
// scripts/test-servers.sh starts. The env file is found as the tests find it
// ($CORVANE_TEST_SERVERS_ENV, else BUILD_DIR/test-servers.env).

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QString>

#include <optional>

namespace corvane::bench {

using namespace Qt::StringLiterals;

inline constexpr int kMessages = 1000;
inline const QString kUser = u"e2e-bench"_s;

struct Server {
    QString host, port, password, maildir;
};

inline std::optional<Server> readServer(QString &why) {
    QString path = qEnvironmentVariable("CORVANE_TEST_SERVERS_ENV");
    if (path.isEmpty())
        path = QDir(QCoreApplication::applicationDirPath()).filePath(u"../test-servers.env"_s);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        why = u"no %1: start the servers with scripts/test-servers.sh start BUILD_DIR"_s.arg(
            QDir::cleanPath(path));
        return std::nullopt;
    }
    QMap<QString, QString> values;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        const qsizetype eq = line.indexOf(u'=');
        if (eq > 0 && !line.startsWith(u'#'))
            values.insert(line.left(eq), line.mid(eq + 1));
    }
    if (!values.value(u"CORVANE_POP3_USERS"_s).split(u',').contains(kUser)) {
        why = u"%1 names no POP3 server with the user %2"_s.arg(path, kUser);
        return std::nullopt;
    }
    return Server{values.value(u"CORVANE_POP3_HOST"_s), values.value(u"CORVANE_POP3_PORT"_s),
                  values.value(u"CORVANE_POP3_PASSWORD"_s),
                  values.value(u"CORVANE_POP3_MAILDIR_ROOT"_s) + u'/' + kUser};
}

// Fills the Maildir with count messages of ordinary header size, unless it holds that many.
inline bool seed(const QString &maildir, int count = kMessages) {
    QDir dir(maildir);
    const QDir cur(dir.filePath(u"cur"_s)), fresh(dir.filePath(u"new"_s));
    // The file names say which seeding made them: a mailbox of an earlier form is made anew.
    const QStringList ours{u"*.corvane-bench-lines*"_s};
    if (cur.entryList(ours, QDir::Files).size() + fresh.entryList(ours, QDir::Files).size() ==
            count &&
        cur.entryList(QDir::Files).size() + fresh.entryList(QDir::Files).size() == count)
        return true;
    for (const QString &sub : {u"cur"_s, u"new"_s, u"tmp"_s}) {
        QDir folder(dir.filePath(sub));
        for (const QString &name : folder.entryList(QDir::Files))
            folder.remove(name);
    }
    for (const QString &name : dir.entryList(QDir::Files))
        dir.remove(name);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    // A body of 40 lines of 50 bytes: more than the 20 lines a scan for the learner fetches.
    QByteArray body;
    for (int line = 0; line < 40; ++line)
        body += QByteArray(49, char('a' + line % 26)) + '\n';
    for (int i = 1; i <= count; ++i) {
        const QByteArray n = QByteArray::number(i);
        const QByteArray message = "Return-Path: <sender" + n +
                                   "@lists.example>\n"
                                   "Received: from mx" +
                                   n +
                                   ".lists.example (mx.lists.example [192.0.2.1])\n"
                                   "\tby mail.example.net with ESMTP id " +
                                   n +
                                   "\n"
                                   "\tfor <bench@example.net>; Tue, 3 Jun 2003 10:00:00 +0200\n"
                                   "From: \"Sender " +
                                   n + "\" <sender" + n +
                                   "@lists.example>\n"
                                   "To: bench@example.net, Other <other@example.net>\n"
                                   "Subject: =?iso-8859-1?Q?Newsletter_n=FCmber?= " +
                                   n +
                                   "\n"
                                   "Date: Tue, 3 Jun 2003 10:00:00 +0200\n"
                                   "Message-ID: <" +
                                   n +
                                   "@lists.example>\n"
                                   "MIME-Version: 1.0\n"
                                   "Content-Type: text/plain; charset=iso-8859-1\n"
                                   "X-Spam-Score: " +
                                   QByteArray::number(i % 10) +
                                   ".0\n"
                                   "\n" +
                                   body;
        const QString name = u"%1.M%2P1.corvane-bench-lines"_s.arg(now).arg(i, 6, 10, QChar(u'0'));
        QFile file(dir.filePath(u"tmp/"_s + name));
        if (!file.open(QIODevice::WriteOnly) || file.write(message) != message.size())
            return false;
        file.close();
        if (!QFile::rename(file.fileName(), dir.filePath(u"new/"_s + name)))
            return false;
    }
    return true;
}

} // namespace corvane::bench
