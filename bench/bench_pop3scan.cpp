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

#include "dovecotmailbox.h"

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

using bench::kMessages;
using bench::kUser;
using bench::readServer;
using bench::seed;
using bench::Server;

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
