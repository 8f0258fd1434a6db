// The header scan of a 1,000-message mailbox against the local Dovecot that
// scripts/test-servers.sh starts: on loopback, pipelined and in lock-step, in messages per second
// and as ratios to each other and to a minimal sequential client doing the same exchange
// (pop3scan.py beside this file); and behind a 20 ms delay line (delayproxy.py), pipelined
// against a reference client with 100 commands in flight, and in lock-step. Dovecot's own log
// is read after each benchmark: every session must have sent TOP for every message and neither
// retrieved nor deleted one (the dovecot_* counters), or the benchmark reports an error.
// The same behind the delay line with the learner on, each TOP asking for the first 20 body
// lines (TOP n 20), against the reference client keeping every command of its scan in flight.
//
// Needs the test servers: scripts/test-servers.sh start BUILD_DIR; the env file is found as
// the tests find it ($CORVANE_TEST_SERVERS_ENV, else BUILD_DIR/test-servers.env).

#include "benchmain.h"
#include "core/learning/learningstore.h"
#include "core/protocol/tcptransport.h"
#include "core/rules/rulelists.h"
#include "core/screening/mailboxsession.h"
#include "core/settings/settings.h"

#include "dovecotmailbox.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

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

// Seconds one run of the reference client (pop3scan.py) takes against host:port, keeping
// window commands in flight (1: one at a time; 0: every command of the scan), each TOP asking
// for bodyLines lines; 0 when it cannot run.
double referenceSeconds(const QString &host, const QString &port, const Server &server, int window,
                        int bodyLines = 0) {
    const QString script = QDir(QStringLiteral(CORVANE_BENCH_DIR)).filePath(u"pop3scan.py"_s);
    QProcess p;
    p.start(u"python3"_s,
            {script, u"--window"_s, window == 0 ? u"all"_s : QString::number(window), u"--lines"_s,
             QString::number(bodyLines), host, port, kUser, server.password});
    if (!p.waitForFinished(300000) || p.exitCode() != 0)
        return 0;
    const QStringList out = QString::fromUtf8(p.readAllStandardOutput()).split(u' ');
    return out.size() == 2 && out[0].toInt() == kMessages ? out[1].trimmed().toDouble() : 0;
}

// What Dovecot's own log says of the benchmark user's sessions that ended after a given point
// of the log: "Disconnected: ... top=T/..., retr=R/..., del=D/M" for each (a session that
// ended without QUIT is there too, its deletion marks counted all the same).
struct DovecotTally {
    int sessions = 0;
    qint64 top = 0, retr = 0, del = 0;
};

QString dovecotLog(const Server &server) {
    // The mailboxes live in dovecot/mail/<user>; the log beside them, in dovecot/.
    return QDir::cleanPath(server.maildir + u"/../../dovecot.log"_s);
}

qint64 logSize(const Server &server) {
    return QFileInfo(dovecotLog(server)).size();
}

// Reads the log from offset on, waiting up to five seconds for the expected number of sessions
// (Dovecot's log process writes a moment after the session ends).
DovecotTally tallyLog(const Server &server, qint64 offset, int expectedSessions) {
    static const QRegularExpression loggedOut(
        u"pop3\\(%1\\).*Disconnected: .*top=(\\d+)/\\d+, retr=(\\d+)/\\d+, del=(\\d+)/"_s.arg(
            QRegularExpression::escape(kUser)));
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        DovecotTally tally;
        QFile log(dovecotLog(server));
        if (log.open(QIODevice::ReadOnly) && log.seek(offset)) {
            while (!log.atEnd()) {
                const QRegularExpressionMatch m =
                    loggedOut.match(QString::fromUtf8(log.readLine()));
                if (!m.hasMatch())
                    continue;
                ++tally.sessions;
                tally.top += m.captured(1).toLongLong();
                tally.retr += m.captured(2).toLongLong();
                tally.del += m.captured(3).toLongLong();
            }
        }
        if (tally.sessions >= expectedSessions || waited.elapsed() > 5000)
            return tally;
        QThread::msleep(50);
    }
}

// Puts the log's figures beside the timings; an error when any session retrieved or deleted a
// message, or when the log does not show every session.
bool reportLog(benchmark::State &state, const DovecotTally &tally, int expectedSessions) {
    state.counters["dovecot_sessions"] = tally.sessions;
    state.counters["dovecot_top"] = double(tally.top);
    state.counters["dovecot_retr"] = double(tally.retr);
    state.counters["dovecot_del"] = double(tally.del);
    if (tally.sessions != expectedSessions || tally.top != qint64(expectedSessions) * kMessages) {
        state.SkipWithError("Dovecot's log does not show every scan session in full");
        return false;
    }
    if (tally.retr != 0 || tally.del != 0) {
        state.SkipWithError("Dovecot's log shows a message retrieved or deleted");
        return false;
    }
    return true;
}

class NullView final : public ScreeningView {};

// Seconds our check of the account takes (login, STAT, LIST, the scan, RSET and QUIT); the
// scan pipelined when the server allows it, or strictly one command at a time. With a learner,
// the scan fetches the settings' body lines with each header and scores every row.
double ourSeconds(const QString &host, const QString &port, const Server &server, bool pipelined,
                  QString &error, LearningStore *learning = nullptr) {
    RuleLists lists; // the initial lists and all thirteen rules, as on a first start
    Settings settings;
    settings.pop3pipelining = pipelined;
    NullView view;
    TcpTransport transport;
    MailboxSession session(transport, nullptr, lists, view);
    session.setSettings(&settings);
    session.setLearning(learning);
    session.CurrentAccount = {host, port, kUser, server.password};
    QElapsedTimer timer;
    timer.start();
    try {
        session.CheckAccount(-1);
        session.DisconnectExecute();
    } catch (const Error &e) {
        error = e.message();
        return 0;
    }
    if (session.MessageCount != kMessages) {
        error = u"not every message was listed"_s;
        return 0;
    }
    if (learning && !session.learningActive()) {
        error = u"the scan ran without the learner"_s;
        return 0;
    }
    return std::max<qint64>(1, timer.nsecsElapsed()) / 1e9;
}

std::optional<Server> prepare(benchmark::State &state) {
    QString why;
    std::optional<Server> server = readServer(why);
    if (!server) {
        state.SkipWithError(why.toUtf8().constData());
        return std::nullopt;
    }
    if (!seed(server->maildir)) {
        state.SkipWithError("cannot seed the benchmark mailbox");
        return std::nullopt;
    }
    return server;
}

// On loopback: the scan pipelined and in lock-step, and the sequential minimal client.
void BM_ScanHeaders(benchmark::State &state) {
    const std::optional<Server> server = prepare(state);
    if (!server)
        return;
    // The machine may be busy with other work: each iteration runs all three back to back, and
    // the best rate of each is compared.
    double bestMinimal = 0, bestLockStep = 0, bestPipelined = 0;
    const qint64 logStart = logSize(*server);
    int sessions = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const double minimal = referenceSeconds(server->host, server->port, *server, 1);
        if (minimal <= 0) {
            state.SkipWithError("the minimal client failed");
            return;
        }
        bestMinimal = std::max(bestMinimal, kMessages / minimal);
        QString error;
        const double lockStep = ourSeconds(server->host, server->port, *server, false, error);
        state.ResumeTiming();
        const double pipelined = ourSeconds(server->host, server->port, *server, true, error);
        if (lockStep <= 0 || pipelined <= 0) {
            state.SkipWithError(error.toUtf8().constData());
            return;
        }
        bestLockStep = std::max(bestLockStep, kMessages / lockStep);
        bestPipelined = std::max(bestPipelined, kMessages / pipelined);
        sessions += 3;
    }
    if (!reportLog(state, tallyLog(*server, logStart, sessions), sessions))
        return;
    // Every figure covers the same exchange: login, STAT, LIST, TOP n 0 and LIST n for every
    // message, RSET and QUIT; ours also parses and classifies every header.
    state.SetItemsProcessed(state.iterations() * kMessages);
    state.counters["pipelined_best_msgs_per_s"] = bestPipelined;
    state.counters["lockstep_best_msgs_per_s"] = bestLockStep;
    state.counters["minimal_best_msgs_per_s"] = bestMinimal;
    state.counters["pipelined_to_lockstep"] = bestPipelined / bestLockStep;
    state.counters["lockstep_to_minimal"] = bestLockStep / bestMinimal;
    state.counters["pipelined_to_minimal"] = bestPipelined / bestMinimal;
}

// Behind a delay line of 10 ms each way (a 20 ms round trip): the pipelined scan against a
// reference client with 100 commands in flight, and the lock-step scan (run once: it takes
// two round trips per message).
// The 20 ms delay line (delayproxy.py, 10 ms each way) in front of the test server, for as
// long as the object lives.
class DelayLine {
public:
    explicit DelayLine(const Server &server) {
        const QString script = QDir(QStringLiteral(CORVANE_BENCH_DIR)).filePath(u"delayproxy.py"_s);
        m_process.start(u"python3"_s, {script, server.host, server.port, u"10"_s});
        if (m_process.waitForReadyRead(10000))
            m_port = QString::fromUtf8(m_process.readLine()).trimmed();
    }
    ~DelayLine() { stop(); }
    // The port it listens on; empty when it did not start.
    const QString &port() const { return m_port; }
    void stop() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

private:
    QProcess m_process;
    QString m_port;
};

// Keeps the shortest of the times measured so far (0: none yet).
void keepBest(double &best, double seconds) {
    best = best > 0 ? std::min(best, seconds) : seconds;
}

void BM_ScanHeadersDelayed(benchmark::State &state) {
    const std::optional<Server> server = prepare(state);
    if (!server)
        return;
    DelayLine proxy(*server);
    const QString port = proxy.port();
    if (port.isEmpty()) {
        state.SkipWithError("the delay line did not start");
        return;
    }
    const QString host = u"127.0.0.1"_s;
    double bestReference = 0, bestPipelined = 0;
    const qint64 logStart = logSize(*server);
    int sessions = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const double reference = referenceSeconds(host, port, *server, 100);
        state.ResumeTiming();
        QString error;
        const double pipelined = ourSeconds(host, port, *server, true, error);
        if (reference <= 0 || pipelined <= 0) {
            state.SkipWithError(reference <= 0 ? "the reference client failed"
                                               : error.toUtf8().constData());
            break;
        }
        keepBest(bestReference, reference);
        keepBest(bestPipelined, pipelined);
        sessions += 2;
    }
    QString error;
    const double lockStep =
        state.error_occurred() ? 0 : ourSeconds(host, port, *server, false, error);
    proxy.stop();
    if (state.error_occurred())
        return;
    if (lockStep <= 0) {
        state.SkipWithError(error.toUtf8().constData());
        return;
    }
    if (!reportLog(state, tallyLog(*server, logStart, sessions + 1), sessions + 1))
        return;
    state.SetItemsProcessed(state.iterations() * kMessages);
    state.counters["pipelined_best_s"] = bestPipelined;
    state.counters["reference_100_in_flight_best_s"] = bestReference;
    state.counters["lockstep_s"] = lockStep;
    state.counters["pipelined_to_reference"] = bestPipelined / bestReference;
    state.counters["lockstep_to_pipelined"] = lockStep / bestPipelined;
}

// Behind the same delay line, the scan with the learner on (TOP n 20, every row scored) against
// the reference client sending every command of its scan at once, each TOP also for 20 lines.
void BM_ScanBodyLinesDelayed(benchmark::State &state) {
    const std::optional<Server> server = prepare(state);
    if (!server)
        return;
    const int bodyLines = Settings().bodylines;
    QTemporaryDir dataDir;
    LearningStore learning(dataDir.filePath(LearningStore::FileName));
    DelayLine proxy(*server);
    const QString port = proxy.port();
    if (port.isEmpty()) {
        state.SkipWithError("the delay line did not start");
        return;
    }
    const QString host = u"127.0.0.1"_s;
    double bestReference = 0, bestPipelined = 0;
    const qint64 logStart = logSize(*server);
    int sessions = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const double reference = referenceSeconds(host, port, *server, 0, bodyLines);
        state.ResumeTiming();
        QString error;
        const double pipelined = ourSeconds(host, port, *server, true, error, &learning);
        if (reference <= 0 || pipelined <= 0) {
            state.SkipWithError(reference <= 0 ? "the reference client failed"
                                               : error.toUtf8().constData());
            break;
        }
        keepBest(bestReference, reference);
        keepBest(bestPipelined, pipelined);
        sessions += 2;
    }
    proxy.stop();
    if (state.error_occurred())
        return;
    if (!reportLog(state, tallyLog(*server, logStart, sessions), sessions))
        return;
    state.SetItemsProcessed(state.iterations() * kMessages);
    state.counters["body_lines"] = bodyLines;
    state.counters["pipelined_best_s"] = bestPipelined;
    state.counters["reference_all_in_flight_best_s"] = bestReference;
    state.counters["pipelined_to_reference"] = bestPipelined / bestReference;
}

} // namespace

BENCHMARK(BM_ScanHeaders)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ScanHeadersDelayed)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ScanBodyLinesDelayed)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    return corvane::bench::runBenchmarks(argc, argv);
}
