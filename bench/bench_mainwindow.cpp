// The header scan of a 1,000-message mailbox on the local Dovecot, once in the main window
// (shown, offscreen, repainting as the rows come in) and once through the mailbox session
// alone with a view that shows nothing, which is what corvane-cli check does. The counter
// window_to_cli is the ratio of the two wall times; the window's own work should keep it
// close to 1. BM_WindowScanLarge does the same with 5,000 messages and measures how the
// window stays responsive meanwhile: the longest wait of a zero-interval timer between two
// turns of the event loop (longest_gap_ms), how often it turned, and how many widgets were
// repainted during the scan (the status line's progress text, the list's batches of rows).
//
// Needs the test servers: scripts/test-servers.sh start BUILD_DIR.

#include "benchmain.h"
#include "core/protocol/tcptransport.h"
#include "core/rules/rulelists.h"
#include "core/screening/mailboxsession.h"
#include "core/settings/settings.h"
#include "dovecotmailbox.h"
#include "ui/screening/mainwindow.h"
#include "ui/shell/prompts.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

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
double cliScan(const Server &server, const RuleLists &lists, int count = kMessages) {
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
    return session.MessageCount == count ? timer.nsecsElapsed() / 1e9 : -1;
}

// Counts the repaints of the widgets, all of them, while counting.
class PaintCounter final : public QObject {
public:
    bool counting = false;
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override {
        paints += counting && event->type() == QEvent::Paint;
        return false;
    }
};

// Scans a mailbox of count messages through the session alone and through the window, back to
// back: the machine may be busy with other work, so the best time of each is compared. With
// watchLoop, the benchmark also reports how long the event loop waited at most between two
// turns during the window's scan, and how often the widgets were repainted.
void scanThroughTheWindow(benchmark::State &state, int count, bool watchLoop) {
    QString why;
    const std::optional<Server> server = readServer(why);
    if (!server) {
        state.SkipWithError(why.toUtf8().constData());
        return;
    }
    if (!seed(server->maildir, count)) {
        state.SkipWithError("cannot seed the benchmark mailbox");
        return;
    }
    RuleLists lists; // the initial lists and all thirteen rules, as on a first start
    Settings settings;
    RecordingPrompts prompts;
    TcpTransport transport;
    MainWindow window(prompts, transport, lists, settings);
    window.show();
    QApplication::processEvents();
    PaintCounter painted;
    // A zero-interval timer fires at every turn of the event loop: the longest time between
    // two of its shots is the longest the window left input and painting waiting.
    QElapsedTimer sinceTurn;
    qint64 longestGap = 0, turns = 0;
    bool scanning = false;
    QTimer turn;
    if (watchLoop) {
        qApp->installEventFilter(&painted);
        turn.setInterval(0);
        QObject::connect(&turn, &QTimer::timeout, [&] {
            if (scanning) {
                longestGap = std::max(longestGap, sinceTurn.nsecsElapsed());
                ++turns;
            }
            sinceTurn.restart();
        });
        turn.start();
    }
    double bestCli = std::numeric_limits<double>::max();
    double bestWindow = std::numeric_limits<double>::max();
    int paints = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const double cli = cliScan(*server, lists, count);
        if (cli < 0) {
            state.SkipWithError("the scan through the session failed");
            return;
        }
        bestCli = std::min(bestCli, cli);
        window.session().CurrentAccount = {server->host, server->port, kUser, server->password};
        painted.paints = 0;
        state.ResumeTiming();
        QElapsedTimer timer;
        timer.start();
        sinceTurn.restart();
        scanning = painted.counting = watchLoop;
        window.checkAccount(-1);
        scanning = painted.counting = false;
        const double seconds = timer.nsecsElapsed() / 1e9;
        state.PauseTiming();
        paints += painted.paints;
        if (!prompts.last.isEmpty() || window.messageList->model()->rowCount() != count) {
            state.SkipWithError(prompts.last.isEmpty() ? "not every message was listed"
                                                       : prompts.last.toUtf8().constData());
            return;
        }
        window.disconnectFromServer();
        QApplication::processEvents();
        state.ResumeTiming();
        bestWindow = std::min(bestWindow, seconds);
    }
    state.SetItemsProcessed(state.iterations() * count);
    state.counters["cli_best_s"] = bestCli;
    state.counters["window_best_s"] = bestWindow;
    state.counters["window_to_cli"] = bestWindow / bestCli;
    if (watchLoop) {
        state.counters["longest_gap_ms"] = longestGap / 1e6;
        state.counters["turns_per_scan"] = double(turns) / double(state.iterations());
        state.counters["repaints_per_scan"] = double(paints) / double(state.iterations());
    }
}

void BM_WindowScan(benchmark::State &state) {
    scanThroughTheWindow(state, kMessages, false);
}

void BM_WindowScanLarge(benchmark::State &state) {
    scanThroughTheWindow(state, 5000, true);
}

} // namespace

BENCHMARK(BM_WindowScan)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(9);
BENCHMARK(BM_WindowScanLarge)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

int main(int argc, char **argv) {
    // Offscreen unless a platform is named (QT_QPA_PLATFORM=xcb to watch it under X).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return corvane::bench::runBenchmarks(argc, argv);
}
