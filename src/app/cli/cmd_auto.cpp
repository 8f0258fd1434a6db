// corvane-cli auto: automatic mode without a window. One pass over every account deletes the
// messages classified as spam; without --once a pass follows every AutoIntvl minutes until
// the program is interrupted.

#include "app/cli/command.h"
#include "app/cli/datadircommand.h"
#include "app/cli/shared.h"
#include "core/settings/programdata.h"

#include "core/auth/oauthtokens.h"
#include "core/errors.h"
#include "core/protocol/tcptransport.h"
#include "core/screening/automatic.h"
#include "core/screening/mailboxsession.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace corvane::cli {
namespace {

// Automatic mode shows no message boxes: errors arrive through the pass's results; the
// server name is a status text too.
class AutoView final : public CliView {
public:
    AutoView() : CliView(u"auto"_s) {}
    void showServerName(const QString &text) override { note(text); }
};

// Turns SIGINT and SIGTERM into a call in the event loop, so that the program can end between
// two accounts, with every deletion run confirmed by its QUIT and the data directory saved. A
// second signal ends the program at once.
class InterruptWatch {
public:
    explicit InterruptWatch(std::function<void()> onInterrupt)
        : m_onInterrupt(std::move(onInterrupt)) {
#ifdef Q_OS_UNIX
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, s_fds) != 0)
            return;
        m_notifier = std::make_unique<QSocketNotifier>(s_fds[1], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
            char c = 0;
            if (::read(s_fds[1], &c, 1) == 1)
                m_onInterrupt();
        });
        struct sigaction action = {};
        action.sa_handler = &InterruptWatch::handle;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND | SA_RESTART;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
#endif
    }
    ~InterruptWatch() {
#ifdef Q_OS_UNIX
        if (!m_notifier)
            return;
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        m_notifier.reset();
        ::close(s_fds[0]);
        ::close(s_fds[1]);
#endif
    }
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;

private:
#ifdef Q_OS_UNIX
    static void handle(int) {
        const char c = 1;
        [[maybe_unused]] const auto written = ::write(s_fds[0], &c, 1);
    }
    static inline int s_fds[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
#endif
    std::function<void()> m_onInterrupt;
};

// One line per account: "NAME HOST what happened". exitCode becomes the pass's exit code:
// 3 when an account's outcome is unknown, else 1 when an account failed for good, else 75
// when one could not be screened for a reason that may pass (a server out of reach, a
// connection that broke), else 0.
QString report(const QList<AccountPassResult> &results, int &exitCode) {
    QString text;
    bool unknown = false, failed = false, temporary = false, signIn = false;
    const auto noteFailure = [&](ErrorKind kind) {
        const int code = exitCodeFor(kind);
        unknown = unknown || code == OutcomeUnknown;
        failed = failed || code == Failure;
        temporary = temporary || code == TryAgain;
        signIn = signIn || code == SignInRequired;
    };
    for (const AccountPassResult &r : results) {
        QString what;
        switch (r.outcome) {
        case AccountPassResult::Outcome::NotConnected:
            what = u"not connected: "_s + r.error;
            noteFailure(r.errorKind);
            break;
        case AccountPassResult::Outcome::Empty:
            what = u"no messages"_s;
            break;
        case AccountPassResult::Outcome::Processed:
            what = u"%1 of %2 messages deleted"_s.arg(r.processing.processed).arg(r.messageCount);
            if (!r.error.isEmpty()) {
                what += u"; "_s + r.error;
                noteFailure(r.errorKind);
            }
            break;
        case AccountPassResult::Outcome::Failed:
            what = u"failed, nothing deleted: "_s + r.error;
            noteFailure(r.errorKind);
            break;
        case AccountPassResult::Outcome::Unknown:
            what = u"outcome unknown: "_s + r.error;
            noteFailure(ErrorKind::OutcomeUnknown);
            break;
        case AccountPassResult::Outcome::Interrupted:
            what = u"interrupted after the scan, nothing deleted"_s;
            break;
        }
        text += QStringList{field(r.accountName), field(r.host), field(what)}.join(u'\t') + u'\n';
    }
    exitCode = unknown     ? OutcomeUnknown
               : failed    ? Failure
               : signIn    ? SignInRequired
               : temporary ? TryAgain
                           : Success;
    return text;
}

int run(const QStringList &args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Automatic mode without a window, for servers and cron: checks every account of the "
        u"data directory in turn and deletes the messages classified as spam (with log lines and "
        u"archive copies as the settings say); friendly and plain messages stay, nothing is "
        u"bounced. An account that cannot be reached is passed over; an account where anything "
        u"else fails keeps all its messages.\n\n"
        u"Prints one TAB-separated line per account: name, server and what happened (\"N of M "
        u"messages deleted\" counts only deletions the server confirmed at QUIT; \"outcome "
        u"unknown\" when it did not answer QUIT or answered it with an error). With --once, one "
        u"pass runs. Otherwise a pass "
        u"runs at once and then every AutoIntvl minutes (Settings.ini) after the end of the "
        u"previous one, until SIGINT or SIGTERM. A signal during a pass lets the account being "
        u"processed finish through its QUIT (an account still being scanned deletes nothing) "
        u"and stops before the next account; a second signal ends the program at once. The log "
        u"and settings are saved after every pass; a list file that another program changed "
        u"meanwhile "
        u"is read again before the next pass rather than overwritten.\n\n"
        u"With --once, the exit code is that of the pass: 3 when an account's outcome is "
        u"unknown, else 1 when an account failed, else 75 when an account could not be reached "
        u"or its connection broke, else 0. Without --once it is 0 after a signal.\n\n"_s +
        exitCodeHelp(true, true));
    const DataDirCommand dataDir(
        u"auto"_s, u"accounts.dat, the list files, Settings.ini, logfile.log and archive/"_s);
    const QCommandLineOption once(u"once"_s, u"Run one pass and end."_s);
    ServerLimitOptions limits;
    const QCommandLineOption transcript(
        u"transcript"_s, u"Print the POP3 conversations on stderr (passwords masked)."_s);
    const QCommandLineOption verbose(u"verbose"_s, u"Print the progress on stderr."_s);
    parser.addOptions(
        {dataDir.option(), once, limits.timeout, limits.deadline, transcript, verbose});
    int code = Success;
    if (!parseArguments(parser, u"auto"_s, args, code))
        return code;
    if (!dataDir.noPositionals(parser))
        return Usage;
    if (!limits.read(parser, u"auto"_s))
        return Usage;
    // The lock is held until the data is saved.
    const DataDirCommand::Opened opened =
        dataDir.openProgramData(parser, DataDirCommand::Accounts::CreateWhenMissing);
    if (!opened.data)
        return Failure;
    ProgramData &data = *opened.data;

    TcpTransport transport;
    limits.applyTo(transport);
    if (parser.isSet(transcript))
        transport.setTranscript([](const QString &line) { err(line + u'\n'); });
    AutoView view;
    view.verbose = parser.isSet(verbose);
    MailboxSession session(transport, data.store(), data.lists, view);
    session.setSettings(&data.settings);
    // The rows are scored by the learned filter too; automatic mode learns nothing.
    session.setLearning(&data.learning());
    OAuthTokens oauthTokens(data.directory().path());
    session.setOAuthTokens(&oauthTokens);
    session.AutoMode = true;

    ProcessingHooks hooks;
    hooks.smtpTransport = [limits](quint16 port) {
        std::unique_ptr<Transport> t = makeSmtpTransport(port);
        limits.applyTo(*t);
        return t;
    };
    hooks.recorder = &data;
    AutomaticPass pass(session, data.store(), data.settings, data.log, data.archiveFolder(), hooks);
    bool interrupted = false;
    bool inPass = false;
    QEventLoop waiting;
    InterruptWatch watch([&] {
        interrupted = true;
        // A run that has sent DELE is carried through QUIT, so that what it reports is what
        // the server did; the pass stops before the next account.
        if (inPass)
            err(u"corvane-cli auto: interrupted: the pass stops after the current account\n"_s);
        waiting.quit();
    });
    pass.setStopRequested([&interrupted] { return interrupted; });

    int passCode = Success;
    for (;;) {
        // A list written meanwhile (corvane-cli lists write, a copy put back) is taken in
        // before the pass, and so is not overwritten when the pass's data is saved.
        for (const QString &message : data.reloadChangedLists())
            err(u"corvane-cli auto: "_s + message + u'\n');
        out(u"pass at %1\n"_s.arg(QDateTime::currentDateTime().toString(Qt::ISODate)));
        inPass = true;
        const QList<AccountPassResult> results = pass.run();
        inPass = false;
        out(report(results, passCode));
        std::fflush(stdout); // a service's log shows each pass as it ends
        // A full disk ends no pass: it is told, and the next pass tries again.
        try {
            data.save();
        } catch (const Error &e) {
            err(u"corvane-cli auto: "_s + field(e.message()) + u'\n');
            if (passCode == Success)
                passCode = Failure;
        }
        if (parser.isSet(once) || interrupted)
            break;
        const int minutes = autoInterval(data.settings);
        out(countdownText(minutes * 60) + u'\n');
        std::fflush(stdout);
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &waiting, &QEventLoop::quit);
        timer.start(std::chrono::milliseconds(passTimerIntervalMs(minutes)));
        waiting.exec();
        if (interrupted)
            break;
    }
    return parser.isSet(once) ? passCode : Success;
}

const CommandRegistration registration{
    {u"auto"_s, u"Delete spam on every account: one pass, or a pass every few minutes."_s, run}};

} // namespace
} // namespace corvane::cli
