#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <vector>

namespace corvane::cli {

// Exit codes of corvane-cli. OutcomeUnknown: the server did not confirm the end of a session
// in which messages were deleted, so whether they are gone is not known. TryAgain (sysexits'
// EX_TEMPFAIL): the server could not be reached or the connection failed; nothing was deleted
// and a later run may succeed. SignInRequired (sysexits' EX_NOPERM): an OAuth account's grant
// was revoked or has expired; "corvane-cli accounts authorize" signs it in again. Nothing was
// deleted.
enum ExitCode {
    Success = 0,
    Failure = 1,
    Usage = 2,
    OutcomeUnknown = 3,
    TryAgain = 75,
    SignInRequired = 77
};

// One top-level command ("lists", "classify", ...). Each lives in its own cmd_*.cpp and
// registers itself with a static CommandRegistration.
struct Command {
    QString name;
    QString summary;
    // Arguments after the command's name; returns the exit code.
    std::function<int(const QStringList &args)> run;
};

std::vector<Command> &commands();

struct CommandRegistration {
    explicit CommandRegistration(Command command) { commands().push_back(std::move(command)); }
};

// Output helpers: text is written as UTF-8.
void out(const QString &text);
void err(const QString &text);

} // namespace corvane::cli

class QCommandLineParser;

namespace corvane::cli {

// Parses a command's arguments with a --help option added. Returns false when the command
// should stop, with exitCode set (Success after --help, Usage after a bad argument, with the
// error and the help text printed).
bool parseArguments(QCommandLineParser &parser, const QString &commandLine, const QStringList &args,
                    int &exitCode);

} // namespace corvane::cli
