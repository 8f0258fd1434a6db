// corvane-cli process, auto and classify on a data directory, without mail servers: the
// arguments they refuse, an account that cannot be reached, and the rule ticks that classify
// takes from Settings.ini. Runs against real servers are in tests/e2e.

#include "rules/miscrules.h"
#include "settings/accountstore.h"
#include "settings/settings.h"
#include "testsupport.h"

#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out, err;
};

Run cli(const QStringList &args) {
    QProcess p;
    p.start(corvane::test::cliPath(), args);
    if (!p.waitForFinished(60000))
        p.kill();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

// A port on 127.0.0.1 that nobody listens on.
quint16 closedPort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : quint16(1);
}

} // namespace

class TestCliProcessing final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QFile::exists(corvane::test::cliPath()), "CORVANE_CLI must name corvane-cli");
    }

    void refused_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("says");

        QTest::newRow("process without account")
            << QStringList{u"process"_s, u"--delete"_s, u"1"_s} << 2 << QByteArray("NAME");
        QTest::newRow("process without marks")
            << QStringList{u"process"_s, u"Home"_s} << 2 << QByteArray("--delete or --bounce");
        QTest::newRow("delete and bounce the same message")
            << QStringList{u"process"_s, u"Home"_s, u"--delete"_s, u"1,2"_s, u"--bounce"_s, u"2"_s}
            << 2 << QByteArray("message 2");
        QTest::newRow("message number zero")
            << QStringList{u"process"_s, u"Home"_s, u"--delete"_s, u"0"_s} << 2
            << QByteArray("from 1");
        QTest::newRow("message number not a number")
            << QStringList{u"process"_s, u"Home"_s, u"--bounce"_s, u"1,x"_s} << 2
            << QByteArray("from 1");
        QTest::newRow("process timeout")
            << QStringList{u"process"_s, u"Home"_s, u"--delete"_s, u"1"_s, u"--timeout"_s, u"0"_s}
            << 2 << QByteArray("--timeout");
        QTest::newRow("unknown account")
            << QStringList{u"process"_s, u"Work"_s, u"--delete"_s, u"1"_s} << 1
            << QByteArray("no account named 'Work'");
        QTest::newRow("server not reachable")
            << QStringList{u"process"_s, u"Home"_s, u"--delete"_s, u"1"_s} << 1
            << QByteArray("Could not connect with \"127.0.0.1\"");
        QTest::newRow("auto with an argument")
            << QStringList{u"auto"_s, u"Home"_s} << 2 << QByteArray("unexpected argument");
        QTest::newRow("auto timeout")
            << QStringList{u"auto"_s, u"--timeout"_s, u"x"_s} << 2 << QByteArray("--timeout");
    }
    void refused() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, says);

        QTemporaryDir dir;
        {
            corvane::AccountStore store(dir.filePath(u"accounts.dat"_s));
            store.insert({u"Home"_s, u"127.0.0.1"_s, QString::number(closedPort()), u"u"_s, u"p"_s,
                          u"u@example.net"_s});
        }
        const Run run = cli(args + QStringList{u"--data-dir"_s, dir.path()});
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(says), run.err.constData());
        QVERIFY(run.out.isEmpty());
    }

    void autoPassesOverUnreachableAccounts() {
        QTemporaryDir dir;
        {
            corvane::AccountStore store(dir.filePath(u"accounts.dat"_s));
            for (const QString &name : {u"One"_s, u"Two"_s})
                store.insert({name, u"127.0.0.1"_s, QString::number(closedPort()), u"u"_s, u"p"_s,
                              QString()});
        }
        const Run run = cli({u"auto"_s, u"--once"_s, u"--data-dir"_s, dir.path()});
        // Both accounts are reported; --once says that not every account was screened.
        QCOMPARE(run.exitCode, 1);
        const QList<QByteArray> lines = run.out.split('\n');
        QVERIFY(lines.at(0).startsWith("pass at "));
        QVERIFY2(lines.at(1).startsWith("One\t127.0.0.1\tnot connected: Socket Error # 10061"),
                 run.out.constData());
        QVERIFY(lines.at(2).startsWith("Two\t127.0.0.1\tnot connected"));
        // The data directory was saved as the desktop program leaves it.
        QVERIFY(QFile::exists(dir.filePath(u"Settings.ini"_s)));
        QVERIFY(QFile::exists(dir.filePath(u"logfile.log"_s)));
    }

    void classifyTakesTicksFromSettings_data() {
        QTest::addColumn<QString>("ticks"); // "all", "none" or "" for no Settings.ini
        QTest::addColumn<QStringList>("rules");
        QTest::addColumn<QByteArray>("mark");

        QTest::newRow("no settings file: all ticked")
            << QString() << QStringList() << QByteArray("Spam\n");
        QTest::newRow("settings tick nothing")
            << u"none"_s << QStringList() << QByteArray("Plain\n");
        QTest::newRow("settings tick everything")
            << u"all"_s << QStringList() << QByteArray("Spam\n");
        QTest::newRow("--rules wins over the settings")
            << u"none"_s << QStringList{u"--rules"_s, u"1,2,3,4,5,6,7,8,9,10,11,12,13"_s}
            << QByteArray("Spam\n");
    }
    void classifyTakesTicksFromSettings() {
        QFETCH(QString, ticks);
        QFETCH(QStringList, rules);
        QFETCH(QByteArray, mark);

        QTemporaryDir dir;
        if (!ticks.isEmpty()) {
            corvane::Settings settings;
            corvane::MiscRules misc;
            misc.setAll(ticks == u"all"_s);
            corvane::SettingsFile(dir.filePath(u"Settings.ini"_s))
                .WriteConfiguration(settings, misc, u"0"_s);
        }
        // Caught by one of the fixed rules only, not by any list.
        const Run run = cli(QStringList{u"classify"_s, u"--data-dir"_s, dir.path(), u"--subject"_s,
                                        u"FREE"_s, u"--sender"_s, u"a@b.c"_s} +
                            rules);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, mark);
    }
};

QTEST_GUILESS_MAIN(TestCliProcessing)
#include "tst_cli_processing.moc"
