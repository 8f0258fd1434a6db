// corvane: the desktop program. Parses the command line, starts the program shell and runs the
// main window until it closes.

#include "platform/datadir.h"
#include "protocol/tcptransport.h"
#include "screening/tfrmmain.h"
#include "shell/icons.h"
#include "shell/programshell.h"
#include "shell/prompts.h"

#include "errors.h"

#include <QApplication>
#include <QCommandLineParser>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(u"Corvane"_s);
    QApplication::setApplicationVersion(u"1.0"_s);
    QApplication::setWindowIcon(corvane::applicationIcon());

    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Screens POP3 mailboxes for spam before your mail program downloads them."_s);
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dataDir(
        u"data-dir"_s,
        u"Keep every file (lists, settings, accounts, log, archive) in DIR instead of the "
        u"program's directory."_s,
        u"DIR"_s);
    parser.addOption(dataDir);
    parser.process(app);

    const QString directory =
        parser.isSet(dataDir) ? parser.value(dataDir) : corvane::DataDirectory::defaultPath();

    corvane::MessageBoxPrompts prompts;
    corvane::TcpTransport transport;
    corvane::ProgramShell shell{corvane::DataDirectory(directory), prompts, transport};
    try {
        shell.start();
    } catch (const corvane::Error &e) {
        prompts.error(nullptr, e.message());
        return 1;
    }
    shell.mainWindow()->show();
    return app.exec();
}
