// The header scan of a 1,000-message mailbox on the local Dovecot, once in the main window
// (shown, offscreen, repainting as the rows come in) and once through the mailbox session
// alone with a view that shows nothing, which is what corvane-cli check does. The counter
// window_to_cli is the ratio of the two wall times; the window's own work should keep it
// close to 1.
//
// Needs the test servers: scripts/test-servers.sh start BUILD_DIR.

#include "core/protocol/tcptransport.h"
#include "core/rules/rulelists.h"
#include "core/screening/mailboxsession.h"
#include "core/settings/settings.h"
#include "dovecotmailbox.h"
#include "ui/screening/tfrmmain.h"
#include "ui/shell/prompts.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <limits>

using namespace corvane;
using namespace corvane::bench;
using namespace Qt::StringLiterals;

namespace {

class RecordingPrompts final : public Prompts {
public:
    QMessageBox::StandardButton show(QWidget *, Icon, const QString &, const QString &text,
                                     QMessageBox::StandardButtons) override {
        last = text;
        return QMessageBox::Ok;
    }
    QString last;
};

class NullView final : public ScreeningView {};

// Seconds of one check and disconnect through the session alone; negative on failure.
double cliScan(const Server &server, const RuleLists &lists) {
    NullView view;
    TcpTransport transport;
    MailboxSession session(transport, nullptr, lists, view);
    session.CurrentAccount = {server.host, server.port, kUser, server.password};
    QElapsedTimer timer;
    timer.start();
    try {
        session.CheckAccount(-1);
        session.DisconnectExecute();
    } catch (const Error &) {
        return -1;
    }
    return session.MessageCount == kMessages ? timer.nsecsElapsed() / 1e9 : -1;
}

void BM_WindowScan(benchmark::State &state) {
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
    Settings settings;
    RecordingPrompts prompts;
    TcpTransport transport;
    TfrmMain window(prompts, transport, lists, settings);
    window.show();
    QApplication::processEvents();
    // The machine may be busy with other work: each iteration scans through the session alone
    // and through the window back to back, and the best time of each is compared.
    double bestCli = std::numeric_limits<double>::max();
    double bestWindow = std::numeric_limits<double>::max();
    for (auto _ : state) {
        state.PauseTiming();
        const double cli = cliScan(*server, lists);
        if (cli < 0) {
            state.SkipWithError("the scan through the session failed");
            return;
        }
        bestCli = std::min(bestCli, cli);
        window.session().CurrentAccount = {server->host, server->port, kUser, server->password};
        state.ResumeTiming();
        QElapsedTimer timer;
        timer.start();
        window.CheckAccount(-1);
        const double seconds = timer.nsecsElapsed() / 1e9;
        state.PauseTiming();
        if (!prompts.last.isEmpty() || window.lvHeaders->model()->rowCount() != kMessages) {
            state.SkipWithError(prompts.last.isEmpty() ? "not every message was listed"
                                                       : prompts.last.toUtf8().constData());
            return;
        }
        window.DisconnectExecute();
        QApplication::processEvents();
        state.ResumeTiming();
        bestWindow = std::min(bestWindow, seconds);
    }
    state.SetItemsProcessed(state.iterations() * kMessages);
    state.counters["cli_best_s"] = bestCli;
    state.counters["window_best_s"] = bestWindow;
    state.counters["window_to_cli"] = bestWindow / bestCli;
}

} // namespace

BENCHMARK(BM_WindowScan)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(9);

int main(int argc, char **argv) {
    // Offscreen unless a platform is named (QT_QPA_PLATFORM=xcb to watch it under X).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
