#include "clirunner.h"

#include "testsupport.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QTest>

namespace corvane::test {

CliRun runCli(const QStringList &args, const CliOptions &options) {
    QProcess process;
    return runCli(process, args, options);
}

CliRun runCli(QProcess &process, const QStringList &args, const CliOptions &options) {
    process.setProcessEnvironment(options.environment);
    if (!options.workingDirectory.isEmpty())
        process.setWorkingDirectory(options.workingDirectory);
    process.start(options.program.isEmpty() ? cliPath() : options.program, args);
    if (!process.waitForStarted())
        return {-1, {}, "corvane-cli did not start: " + process.errorString().toUtf8() + '\n'};
    process.write(options.input);
    process.closeWriteChannel();
    QDeadlineTimer deadline(kCliTimeoutMs);
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired())
        QTest::qWait(10);
    const bool finished = process.state() == QProcess::NotRunning;
    if (!finished) {
        process.kill();
        process.waitForFinished();
    }
    CliRun run{finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
               process.readAllStandardOutput(), process.readAllStandardError()};
    if (!finished)
        run.err += "corvane-cli did not finish within " + QByteArray::number(kCliTimeoutMs / 1000) +
                   " seconds\n";
    return run;
}

} // namespace corvane::test
