#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

class QProcess;

namespace corvane::test {

// What one run of corvane-cli gave.
struct CliRun {
    int exitCode = -1; // -1 when it crashed or had to be killed
    QByteArray out, err;

    QString outText() const { return QString::fromUtf8(out); }
    QString errText() const { return QString::fromUtf8(err); }
};

struct CliOptions {
    // Written to standard input, which is then closed: a command never waits for input.
    QByteArray input;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Another copy of the executable (empty: cliPath()).
    QString program;
    // The working directory (empty: the test's own).
    QString workingDirectory;

    CliOptions &withInput(QByteArray bytes) {
        input = std::move(bytes);
        return *this;
    }
    CliOptions &withEnvironment(QProcessEnvironment env) {
        environment = std::move(env);
        return *this;
    }
    CliOptions &withProgram(QString path) {
        program = std::move(path);
        return *this;
    }
    CliOptions &inDirectory(QString path) {
        workingDirectory = std::move(path);
        return *this;
    }
};

// How long a run may take before it is killed and reported as failed.
inline constexpr int kCliTimeoutMs = 120000;

// Runs corvane-cli with args until it ends, serving this thread's event loop meanwhile so that
// fake servers of the test can answer it. A run past kCliTimeoutMs is killed: its exit code is
// -1 and err ends with a line that says so.
CliRun runCli(const QStringList &args, const CliOptions &options = {});
// The same on a process the test holds, to signal it while it runs.
CliRun runCli(QProcess &process, const QStringList &args, const CliOptions &options = {});

} // namespace corvane::test
