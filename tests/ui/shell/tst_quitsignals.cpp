// The desktop program asked to end by a signal (a logout, a service manager, a terminal that
// goes away) closes as its close button does: the lists, settings and log are saved, and it
// exits normally. Runs the real program, offscreen, on a data directory of its own.

#include "testsupport.h"

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
};

QTEST_GUILESS_MAIN(TestQuitSignals)
#include "tst_quitsignals.moc"
