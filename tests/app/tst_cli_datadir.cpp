// corvane-cli's data directory: every command that works on one takes --data-dir and, without
// it, uses the folder the desktop program uses: beside the executable for a portable copy,
// else the user's data folder; the current directory plays no part. Each run uses a copy of
// corvane-cli in a folder of its own.

#include "clirunner.h"
#include "core/rules/listfile.h"
#include "core/rules/miscrules.h"
#include "core/rules/rulelist.h"
#include "core/rules/rulelists.h"
#include "core/settings/accountstore.h"
#include "core/settings/settings.h"
#include "testsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using corvane::test::CliOptions;
using corvane::test::CliRun;
using corvane::test::runCli;

namespace {

// A port on 127.0.0.1 that nobody listens on: a check there fails as "try again" (75),
// which shows that the account was found.
quint16 closedPort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : quint16(1);
}

// A folder holding a copy of corvane-cli, portable (it keeps its data beside itself) or as
// installed; null after a failed check.
std::unique_ptr<QTemporaryDir> programFolder(bool portable = true) {
    auto dir = std::make_unique<QTemporaryDir>();
    if (!dir->isValid() || !QFile::copy(corvane::test::cliPath(), dir->filePath(u"corvane-cli"_s)))
        return nullptr;
    if (portable && !corvane::test::writeFile(dir->filePath(u"portable"_s), ""))
        return nullptr;
    return dir;
}

// Account "demo" on the closed port, AutoIntvl 7, no rule ticked, "cheap pills" black-listed.
void fillDataDirectory(const QString &path, quint16 port) {
    corvane::AccountStore(path + u"/accounts.dat"_s)
        .insert({u"demo"_s, u"127.0.0.1"_s, QString::number(port), u"u"_s, u"p"_s, {}});
    corvane::Settings settings;
    settings.AutoIntvl = 7;
    corvane::MiscRules misc;
    misc.setAll(false);
    corvane::SettingsFile(path + u"/Settings.ini"_s).WriteConfiguration(settings, misc, u"0"_s);
    corvane::RuleList subjects(corvane::RuleList::Order::ByCaption);
    subjects.add(u"cheap pills"_s, {u"test"_s});
    corvane::SaveListFile(
        subjects, path + u"/"_s + corvane::listFileName(corvane::ListKind::SubjectBlack), true);
}

} // namespace

class TestCliDataDir final : public QObject {
    Q_OBJECT

    QTemporaryDir m_elsewhere; // the working directory of every run: never read
    quint16 m_port = 0;

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QFile::exists(corvane::test::cliPath()), "CORVANE_CLI must name corvane-cli");
        m_port = closedPort();
    }

    // accounts add followed by check finds the account without --data-dir.
    void addThenCheckShareTheDefault() {
        const auto folder = programFolder();
        QVERIFY(folder);
        const CliOptions options = CliOptions()
                                       .withProgram(folder->filePath(u"corvane-cli"_s))
                                       .inDirectory(m_elsewhere.path());
        const CliRun add = runCli({u"accounts"_s, u"add"_s, u"--name"_s, u"demo"_s, u"--server"_s,
                                   u"127.0.0.1"_s, u"--port"_s, QString::number(m_port)},
                                  options);
        QVERIFY2(add.exitCode == 0, add.err.constData());
        QVERIFY(QFile::exists(folder->filePath(u"accounts.dat"_s)));
        const CliRun check = runCli({u"check"_s, u"demo"_s, u"--timeout"_s, u"2"_s}, options);
        QVERIFY2(check.exitCode == 75, check.err.constData());
        QVERIFY2(!check.err.contains("no account"), check.err.constData());
    }

    // An installed copy (no marker beside it) keeps its data in the user's data folder, made
    // owner-only on first use, and says which folder it read.
    void installedCopyUsesTheUserDataFolder() {
        const auto folder = programFolder(false);
        QVERIFY(folder);
        QTemporaryDir xdg;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_DATA_HOME"_s, xdg.path());
        const CliOptions options = CliOptions()
                                       .withProgram(folder->filePath(u"corvane-cli"_s))
                                       .withEnvironment(env)
                                       .inDirectory(m_elsewhere.path());
        const CliRun add = runCli({u"accounts"_s, u"add"_s, u"--name"_s, u"demo"_s, u"--server"_s,
                                   u"127.0.0.1"_s, u"--port"_s, QString::number(m_port)},
                                  options);
        QVERIFY2(add.exitCode == 0, add.err.constData());
        const QString data = xdg.filePath(u"Corvane"_s);
        QVERIFY(QFile::exists(data + u"/accounts.dat"_s));
        QCOMPARE(QFileInfo(data).permissions() & 0x0077, QFileDevice::Permissions());
        QVERIFY(!QFile::exists(folder->filePath(u"accounts.dat"_s)));
        const CliRun show = runCli({u"settings"_s, u"show"_s}, options);
        QVERIFY2(show.out.startsWith("# data folder: " + data.toUtf8() + '\n'),
                 show.out.constData());
        const CliRun check = runCli({u"check"_s, u"demo"_s, u"--timeout"_s, u"2"_s}, options);
        QVERIFY2(check.exitCode == 75, check.err.constData());
    }

    // The program of the build is no portable copy: it keeps its data in the user's data
    // folder, as an installed one does, so deleting the build never deletes the user's data.
    void theBuildUsesTheUserDataFolder() {
        QTemporaryDir xdg;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_DATA_HOME"_s, xdg.path());
        const CliRun show =
            runCli({u"settings"_s, u"show"_s},
                   CliOptions().withEnvironment(env).inDirectory(m_elsewhere.path()));
        QVERIFY2(show.exitCode == 0, show.err.constData());
        QVERIFY2(
            show.out.startsWith("# data folder: " + xdg.filePath(u"Corvane"_s).toUtf8() + '\n'),
            show.out.constData());
    }

    void eachCommandFindsItsData_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("says"); // in the output or the errors

        QTest::newRow("accounts list")
            << QStringList{u"accounts"_s, u"list"_s} << 0 << QByteArray("0\tdemo\t127.0.0.1\t");
        QTest::newRow("settings show")
            << QStringList{u"settings"_s, u"show"_s} << 0 << QByteArray("Options.AutoIntvl=7\n");
        QTest::newRow("classify") << QStringList{u"classify"_s, u"--subject"_s, u"cheap pills"_s,
                                                 u"--sender"_s, u"a@example.org"_s}
                                  << 0 << QByteArray("Spam\n");
        QTest::newRow("check") << QStringList{u"check"_s, u"demo"_s, u"--timeout"_s, u"2"_s} << 75
                               << QByteArray("corvane-cli check:");
        QTest::newRow("process") << QStringList{u"process"_s, u"demo"_s,      u"--delete"_s,
                                                u"1"_s,       u"--timeout"_s, u"2"_s}
                                 << 75 << QByteArray("corvane-cli process:");
        QTest::newRow("auto") << QStringList{u"auto"_s, u"--once"_s, u"--timeout"_s, u"2"_s} << 75
                              << QByteArray("demo\t127.0.0.1\tnot connected");
    }
    // The same command finds the same data by default (the data beside the program) and with
    // --data-dir (the data elsewhere, none beside the program).
    void eachCommandFindsItsData() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, says);

        const auto withData = programFolder();
        QVERIFY(withData);
        fillDataDirectory(withData->path(), m_port);
        const CliRun byDefault = runCli(args, CliOptions()
                                                  .withProgram(withData->filePath(u"corvane-cli"_s))
                                                  .inDirectory(m_elsewhere.path()));
        QVERIFY2(byDefault.exitCode == exitCode, byDefault.err.constData());
        QVERIFY2((byDefault.out + byDefault.err).contains(says),
                 (byDefault.out + byDefault.err).constData());

        const auto bare = programFolder();
        QVERIFY(bare);
        const auto data = std::make_unique<QTemporaryDir>();
        fillDataDirectory(data->path(), m_port);
        const CliRun byOption = runCli(args + QStringList{u"--data-dir"_s, data->path()},
                                       CliOptions()
                                           .withProgram(bare->filePath(u"corvane-cli"_s))
                                           .inDirectory(m_elsewhere.path()));
        QVERIFY2(byOption.exitCode == exitCode, byOption.err.constData());
        QVERIFY2((byOption.out + byOption.err).contains(says),
                 (byOption.out + byOption.err).constData());
        QVERIFY(!QFile::exists(bare->filePath(u"accounts.dat"_s)));
        QVERIFY(!QFile::exists(bare->filePath(u"Settings.ini"_s)));
    }

    // Every such command names the default in its --help.
    void helpNamesTheDefault_data() {
        QTest::addColumn<QStringList>("args");
        for (const QStringList &args :
             {QStringList{u"accounts"_s, u"list"_s}, QStringList{u"accounts"_s, u"add"_s},
              QStringList{u"settings"_s, u"show"_s}, QStringList{u"settings"_s, u"set"_s},
              QStringList{u"classify"_s}, QStringList{u"check"_s}, QStringList{u"process"_s},
              QStringList{u"auto"_s}})
            QTest::newRow(qPrintable(args.join(u' '))) << args;
    }
    void helpNamesTheDefault() {
        QFETCH(QStringList, args);
        const CliRun run = runCli(args + QStringList{u"--help"_s});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.simplified().contains("Default: the same folder as the desktop program's"),
                 run.out.constData());
    }
};

QTEST_GUILESS_MAIN(TestCliDataDir)
#include "tst_cli_datadir.moc"
