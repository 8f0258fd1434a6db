#pragma once

// Helpers that several corvane-cli commands share.

#include "app/cli/command.h"
#include "core/errors.h"
#include "core/platform/datadirlock.h"
#include "core/screening/screeningview.h"

#include <QCommandLineOption>
#include <QString>
#include <QStringView>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace corvane {
class MiscRules;
class Transport;
} // namespace corvane

namespace corvane::cli {

// A TAB, line break or backslash inside a field is escaped (\t, \n, \r, \\), so that a record
// of TAB-separated fields stays on one line; unescapeField reads it back exactly.
QString escapeField(const QString &field);
QString unescapeField(QStringView field);

// Text from mail (or from the core, which may quote it) for one field of a TAB-separated line
// on the terminal: TAB and line breaks become blanks and other control characters '?'
// (safeText), so a message can neither break the line nor send commands to the terminal.
QString field(const QString &text);

// One subcommand of a command ("lists dump"); run gets the arguments after its name.
struct Subcommand {
    QString name;
    std::function<int(const QStringList &args)> run;
};

// Runs the subcommand that args names. --help prints help; no subcommand or an unknown one
// prints help on stderr and returns Usage.
int runSubcommand(const QString &command, const QStringList &args,
                  const std::vector<Subcommand> &subcommands, const QString &help);

// The exit code for a failure of this class: the one place where errors become exit codes.
int exitCodeFor(ErrorKind kind);
inline int exitCodeFor(const Error &e) {
    return exitCodeFor(errorKind(e));
}
// The exit-code paragraph of a command's --help. network: the command talks to a server (3
// and 75 are possible); deletes: it can delete messages (3 is possible).
QString exitCodeHelp(bool network, bool deletes);

// How long a command that writes a data directory waits for another program to let go of it.
inline constexpr std::chrono::seconds kLockWait{5};

// Takes the lock of a data directory that the command will write, waiting up to kLockWait;
// null after printing the error ("corvane-cli <command>: The data directory ... is in use by
// ..."). Commands that only read need no lock.
std::unique_ptr<DataDirectoryLock> lockDataDirectory(const DataDirectory &directory,
                                                     const QString &command);

// "none", or rule numbers from 1 to 13 separated by commas: sets exactly those ticks.
bool parseRuleTicks(const QString &text, MiscRules &rules);

// The --timeout and --deadline options of the commands that talk to servers: how long a
// server may stay silent, and how long one reply may take as a whole however slowly it
// arrives (a multi-line reply: Transport::DataDeadlineFactor times as long).
struct ServerLimitOptions {
    ServerLimitOptions();
    // Reads both; false, with the error printed for command, when one is not a number of
    // seconds from 1 to 86400.
    bool read(const QCommandLineParser &parser, const QString &command);
    void applyTo(Transport &transport) const;

    QCommandLineOption timeout;
    QCommandLineOption deadline;
    int timeoutSeconds = 60;
    int deadlineSeconds = 60;
};

// The screening observer of the commands: notices on stderr with the command's name, the
// status texts too with --verbose. No message boxes: a question is answered No.
class CliView : public ScreeningView {
public:
    explicit CliView(QString command) : m_command(std::move(command)) {}

    bool verbose = false;

    void showStatus(const QString &text) override { note(text); }
    void showNotice(const QString &text) override {
        err(QStringLiteral("corvane-cli %1: note: %2\n").arg(m_command, field(text)));
    }

protected:
    void note(const QString &text) {
        if (verbose && !text.isEmpty())
            err(field(text) + u'\n');
    }

private:
    QString m_command;
};

} // namespace corvane::cli
