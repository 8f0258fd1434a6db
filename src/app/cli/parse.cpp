#include "app/cli/command.h"

#include <QCommandLineParser>

using namespace Qt::StringLiterals;

namespace corvane::cli {

bool parseArguments(QCommandLineParser &parser, const QString &commandLine, const QStringList &args,
                    int &exitCode) {
    const QCommandLineOption help({u"h"_s, u"help"_s}, u"Show this help."_s);
    parser.addOption(help);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    QStringList full = args;
    full.prepend(commandLine);
    const bool ok = parser.parse(full);
    // Qt names the executable's path in the usage line; name the command instead.
    QString helpText = parser.helpText();
    const qsizetype programEnd = helpText.indexOf(u' ', 7);
    if (helpText.startsWith(u"Usage: "_s) && programEnd > 0)
        helpText.replace(7, programEnd - 7, u"corvane-cli "_s + commandLine);
    if (ok && parser.isSet(help)) {
        out(helpText);
        exitCode = Success;
        return false;
    }
    if (!ok) {
        err(u"corvane-cli %1: %2\n\n"_s.arg(commandLine, parser.errorText()) + helpText);
        exitCode = Usage;
        return false;
    }
    return true;
}

} // namespace corvane::cli
