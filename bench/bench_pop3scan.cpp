// The header scan of a 1,000-message mailbox against the local Dovecot that
// scripts/test-servers.sh starts, in messages per second, and as a ratio to a minimal
// sequential client doing the same exchange (pop3scan.py beside this file). The scan must be
// bound by the protocol: the ratio should not fall below 1.
//
// Needs the test servers: scripts/test-servers.sh start BUILD_DIR; the env file is found as
// the tests find it ($CORVANE_TEST_SERVERS_ENV, else BUILD_DIR/test-servers.env).

#include "core/protocol/tcptransport.h"
#include "core/rules/rulelists.h"
#include "core/screening/mailboxsession.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <benchmark/benchmark.h>

#include <optional>

using namespace corvane;
using namespace Qt::StringLiterals;

namespace {

constexpr int kMessages = 1000;
const QString kUser = u"e2e-bench"_s;

struct Server {
    QString host, port, password, maildir;
};

std::optional<Server> readServer(QString &why) {
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

// Fills the Maildir with kMessages messages of ordinary header size, unless it holds them.
bool seed(const QString &maildir) {
    QDir dir(maildir);
    const QDir cur(dir.filePath(u"cur"_s)), fresh(dir.filePath(u"new"_s));
    if (cur.entryList(QDir::Files).size() + fresh.entryList(QDir::Files).size() == kMessages)
        return true;
    for (const QString &sub : {u"cur"_s, u"new"_s, u"tmp"_s}) {
        QDir folder(dir.filePath(sub));
        for (const QString &name : folder.entryList(QDir::Files))
            folder.remove(name);
    }
    for (const QString &name : dir.entryList(QDir::Files))
        dir.remove(name);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    for (int i = 1; i <= kMessages; ++i) {
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
                                   QByteArray(2000, 'x') + "\n";
        const QString name = u"%1.M%2P1.corvane-bench"_s.arg(now).arg(i, 6, 10, QChar(u'0'));
        QFile file(dir.filePath(u"tmp/"_s + name));
        if (!file.open(QIODevice::WriteOnly) || file.write(message) != message.size())
            return false;
        file.close();
        if (!QFile::rename(file.fileName(), dir.filePath(u"new/"_s + name)))
            return false;
    }
    return true;
}

// Messages per second of one run of the minimal client; 0 when it cannot run.
double minimalClientRate(const Server &server) {
    const QString script = QFileInfo(QString::fromUtf8(__FILE__)).dir().filePath(u"pop3scan.py"_s);
    QProcess p;
    p.start(u"python3"_s, {script, server.host, server.port, kUser, server.password});
    if (!p.waitForFinished(300000) || p.exitCode() != 0)
        return 0;
    const QStringList out = QString::fromUtf8(p.readAllStandardOutput()).split(u' ');
    const double seconds = out.size() == 2 ? out[1].trimmed().toDouble() : 0;
    return seconds > 0 ? out[0].toDouble() / seconds : 0;
}

class NullView final : public ScreeningView {};

void BM_ScanHeaders(benchmark::State &state) {
    QString why;
    const std::optional<Server> server = readServer(why);
    if (!server) {
        state.SkipWithError(why.toUtf8().constData());
        return;
    }
    if (!seed(server->maildir)) {
        state.SkipWithError("cannot seed the benchmark mailbox");
        return;
    }
    RuleLists lists; // the initial lists and all thirteen rules, as on a first start
    NullView view;
    TcpTransport transport;
    MailboxSession session(transport, nullptr, lists, view);
    session.CurrentAccount = {server->host, server->port, kUser, server->password};
    // The machine may be busy with other work: each iteration runs the minimal client and our
    // scan back to back, and the best rate of each is compared.
    double bestMinimal = 0;
    double bestOurs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        bestMinimal = std::max(bestMinimal, minimalClientRate(*server));
        state.ResumeTiming();
        QElapsedTimer timer;
        timer.start();
        try {
            session.CheckAccount(-1);
            session.DisconnectExecute();
        } catch (const Error &e) {
            state.SkipWithError(e.message().toUtf8().constData());
            return;
        }
        const double seconds = std::max<qint64>(1, timer.nsecsElapsed()) / 1e9;
        if (session.MessageCount != kMessages) {
            state.SkipWithError("not every message was listed");
            return;
        }
        bestOurs = std::max(bestOurs, kMessages / seconds);
    }
    // Both figures cover the same exchange: login, STAT, LIST, TOP n 0 and LIST n for every
    // message, RSET and QUIT; ours also parses and classifies every header.
    state.SetItemsProcessed(state.iterations() * kMessages);
    state.counters["ours_best_msgs_per_s"] = bestOurs;
    state.counters["minimal_best_msgs_per_s"] = bestMinimal;
    if (bestMinimal > 0)
        state.counters["ratio_to_minimal"] = bestOurs / bestMinimal;
}

} // namespace

BENCHMARK(BM_ScanHeaders)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
