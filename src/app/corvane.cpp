// corvane: the desktop program. Parses the command line, starts the program shell and runs the
// main window until it closes.

#include "core/platform/autostart.h"
#include "core/platform/datadir.h"
#include "core/platform/quitsignals.h"
#include "core/protocol/tcptransport.h"
#include "ui/screening/mainwindow.h"
#include "ui/shell/icons.h"
#include "ui/shell/programshell.h"
#include "ui/shell/prompts.h"

#include "core/errors.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QSessionManager>
#include <QTimer>
#include <QWidget>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// The options of the program. --help and --version are answered without a display.
struct Options {
    QCommandLineParser parser;
    QCommandLineOption dataDir{
        u"data-dir"_s,
        u"Keep every file (lists, settings, accounts, log, archive) in DIR. Default: %1"_s.arg(
            QDir::toNativeSeparators(corvane::DataDirectory::defaultPath())),
        u"DIR"_s};
    Options() {
        parser.setApplicationDescription(
            u"Screens POP3 mailboxes for spam before your mail program downloads them."_s);
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addOption(dataDir);
    }
};

bool asksForTextOnly(int argc, char *argv[]) {
    for (int i = 1; i < argc; ++i) {
        const QByteArrayView arg(argv[i]);
        if (arg == "-h" || arg == "--help" || arg == "--help-all" || arg == "-v" ||
            arg == "--version")
            return true;
    }
    return false;
}

void describeApplication() {
    QCoreApplication::setApplicationName(u"Corvane"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));
}

// Whether a window can be shown at all. Without a display Qt would abort with advice to
// reinstall; the user is told what is missing instead. A platform chosen with QT_QPA_PLATFORM
// (offscreen, a VNC server...) is taken at its word.
bool hasDisplay() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
           !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
    return true;
#endif
}

} // namespace

int main(int argc, char *argv[]) {
    if (asksForTextOnly(argc, argv)) {
        QCoreApplication app(argc, argv);
        describeApplication();
        Options options;
        options.parser.process(app); // prints and exits
        return 0;
    }
    if (!hasDisplay()) {
        std::fputs("corvane: no display was found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                   "The window needs a desktop session. On a server or over ssh, use "
                   "corvane-cli instead (corvane-cli --help).\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    describeApplication();
    QApplication::setWindowIcon(corvane::applicationIcon());

    Options options;
    QCommandLineParser &parser = options.parser;
    const QCommandLineOption &dataDir = options.dataDir;
    parser.process(app);

    const QString directory =
        parser.isSet(dataDir) ? parser.value(dataDir) : corvane::DataDirectory::defaultPath();

    // A logout, a service manager or a terminal that goes away ends the program like its close
    // button: the shutdown saves the lists, settings and log. The signals are caught from here
    // on, at every stage: while the program starts (a message box about a data directory in
    // use, a damaged file) the box is closed and the program ends once start-up has unwound;
    // afterwards the main window closes. The session manager's quit does the same before the
    // session ends.
    corvane::QuitSignals quitSignals;
    bool quitAsked = false;
    bool started = false;
    // A box may be about to open when the signal is read: it is closed as soon as it shows.
    QTimer boxCloser;
    boxCloser.setInterval(50);
    QObject::connect(&boxCloser, &QTimer::timeout, &app, [] {
        if (QWidget *box = QApplication::activeModalWidget())
            box->close();
    });

    corvane::MessageBoxPrompts prompts;
    corvane::TcpTransport transport;
    corvane::ProgramShell shell{corvane::DataDirectory(directory), prompts, transport};
    QObject::connect(&quitSignals, &corvane::QuitSignals::quitRequested, &app, [&] {
        quitAsked = true;
        if (started) {
            shell.mainWindow()->closeForSystem();
            return;
        }
        if (QWidget *box = QApplication::activeModalWidget())
            box->close();
        boxCloser.start();
    });
    // The session starts the program the way it runs now, with the same data directory.
    corvane::StartCommand startCommand{QCoreApplication::applicationFilePath(), {}};
    if (parser.isSet(dataDir))
        startCommand.arguments = {u"--data-dir"_s, QFileInfo(directory).absoluteFilePath()};
    corvane::SystemStartWithSystem startEntry;
    shell.setStartWithSystem(&startEntry, startCommand);
    try {
        shell.start();
    } catch (const corvane::Error &e) {
        if (!quitAsked)
            prompts.error(nullptr, e.message());
        return 1;
    }
    boxCloser.stop();
    started = true;
    QObject::connect(&app, &QGuiApplication::commitDataRequest, shell.mainWindow(),
                     [&shell](QSessionManager &) { shell.mainWindow()->closeForSystem(); });
    if (quitAsked) {
        // Asked to end while starting: the shutdown runs as soon as the event loop does.
        QTimer::singleShot(0, shell.mainWindow(),
                           [&shell] { shell.mainWindow()->closeForSystem(); });
        return app.exec();
    }
    shell.mainWindow()->show();
    return app.exec();
}
