// The desktop program asked to end by a signal (a logout, a service manager, a terminal that
// goes away) closes as its close button does: the lists, settings and log are saved, and it
// exits normally. Runs the real program, offscreen, on a data directory of its own.

#include "core/platform/datadir.h"
#include "core/platform/datadirlock.h"
#include "testsupport.h"

#include <QFile>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;

class TestQuitSignals final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QFileInfo(qEnvironmentVariable("CORVANE_DESKTOP")).isExecutable(),
                 "CORVANE_DESKTOP must name the corvane program");
    }

    void signalClosesAndSaves_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void signalClosesAndSaves() {
        QFETCH(int, signalNumber);
        QTemporaryDir data;
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        program.setProcessEnvironment(env);
        program.start(qEnvironmentVariable("CORVANE_DESKTOP"), {u"--data-dir"_s, data.path()});
        QVERIFY(program.waitForStarted(10000));
        // The program holds its data directory once it has read it.
        const QString lock = QDir(data.path()).filePath(u"corvane.lock"_s);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(lock), 20000);
        QVERIFY(::kill(program.processId(), signalNumber) == 0);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        for (const QString &name : {u"Settings.ini"_s, u"blsubj.dat"_s, u"bleml.dat"_s,
                                    u"freml.dat"_s, u"blsubxy.dat"_s, u"logfile.log"_s})
            QVERIFY2(QFileInfo::exists(QDir(data.path()).filePath(name)), qPrintable(name));
    }

    // A second program started on a data directory in use shows a box saying so and waits
    // there; a signal still ends it (exit code 1, as when the box is answered).
    void signalEndsAWaitOnALockedFolder_data() { signalClosesAndSaves_data(); }
    void signalEndsAWaitOnALockedFolder() {
        QFETCH(int, signalNumber);
        QTemporaryDir data;
        corvane::DataDirectoryLock held{corvane::DataDirectory(data.path())};
        held.acquire();
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        program.setProcessEnvironment(env);
        program.start(qEnvironmentVariable("CORVANE_DESKTOP"), {u"--data-dir"_s, data.path()});
        QVERIFY(program.waitForStarted(10000));
        // The program catches the signal from the moment the kernel says it does.
        const auto catches = [&]() -> bool {
            QFile status(u"/proc/%1/status"_s.arg(program.processId()));
            if (!status.open(QIODevice::ReadOnly))
                return false;
            for (const QByteArray &line : status.readAll().split('\n'))
                if (line.startsWith("SigCgt:"))
                    return ((line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signalNumber - 1)) &
                            1) != 0;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(catches(), 20000);
        QVERIFY(::kill(program.processId(), signalNumber) == 0);
        const bool ended = program.waitForFinished(20000);
        if (!ended)
            program.kill();
        QVERIFY2(ended, "the program ignored the signal");
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
    }
};

QTEST_GUILESS_MAIN(TestQuitSignals)
#include "tst_quitsignals.moc"
