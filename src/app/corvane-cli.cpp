// corvane-cli: the screening core without a window, for scripts, servers and tests.

#include "app/cli/command.h"
#include "app/cli/shared.h"

#include "core/errors.h"
#include "core/platform/datadir.h"

#include <QCoreApplication>
#include <QDir>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace corvane::cli {

std::vector<Command> &commands() {
    static std::vector<Command> all;
    return all;
}

void out(const QString &text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, bytes.size(), stdout);
}

void err(const QString &text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, bytes.size(), stderr);
}

} // namespace corvane::cli

namespace {

QString usage() {
    auto &all = corvane::cli::commands();
    std::sort(all.begin(), all.end(), [](const auto &a, const auto &b) { return a.name < b.name; });
    QString text = u"Usage: corvane-cli COMMAND [ARGS...]\n\n"
                   u"Screens POP3 mailboxes for spam without a window: edits the rule lists,\n"
                   u"classifies messages and works on the accounts of a Corvane data directory.\n\n"
                   u"Commands:\n"_s;
    for (const auto &c : all)
        text += u"  %1%2\n"_s.arg(c.name, -12).arg(c.summary);
    text +=
        u"\nThe commands that work on a data directory (accounts, settings, classify, check,\n"_s
        u"process, auto) take --data-dir DIR; without it they use the desktop program's\n"_s
        u"data folder, %1\n"_s
        u"\nRun 'corvane-cli COMMAND --help' for a command's options.\n\n"_s
        u"Exit codes: 0 success, 1 failure, 2 bad arguments; process and auto also return 3\n"_s
        u"(the server did not confirm deletions: outcome unknown), and check, process and\n"_s
        u"auto 75 (temporary failure, try again later), as their --help explains.\n"_s;
    return text.arg(QDir::toNativeSeparators(corvane::DataDirectory::defaultPath()));
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"corvane-cli"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (args.isEmpty()) {
        corvane::cli::err(usage());
        return corvane::cli::Usage;
    }
    const QString name = args.takeFirst();
    if (name == u"--help"_s || name == u"-h"_s || name == u"help"_s) {
        corvane::cli::out(usage());
        return corvane::cli::Success;
    }
    if (name == u"--version"_s) {
        corvane::cli::out(u"corvane-cli 1.0\n"_s);
        return corvane::cli::Success;
    }
    for (const auto &command : corvane::cli::commands()) {
        if (command.name != name)
            continue;
        try {
            return command.run(args);
        } catch (const corvane::Error &e) {
            // The text may quote a subject or a server's words: made safe for the terminal.
            corvane::cli::err(
                u"corvane-cli %1: %2\n"_s.arg(name, corvane::cli::field(e.message())));
            return corvane::cli::exitCodeFor(e);
        }
    }
    corvane::cli::err(u"corvane-cli: unknown command '%1'\n\n"_s.arg(name) + usage());
    return corvane::cli::Usage;
}
