// corvane-cli and the data directory's lock: a command that writes waits a few seconds for
// another program to let go and then fails naming it, changing nothing; commands that only
// read run while the directory is held; a lock let go during the wait lets the command run.

#include "clirunner.h"
#include "core/platform/datadirlock.h"
#include "core/settings/accountstore.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using corvane::DataDirectoryLock;

namespace {

QStringList withDir(QStringList args, const QString &dir) {
    args << u"--data-dir"_s << dir;
    return args;
}

} // namespace

class TestCliLock final : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QLockFile> m_held;

    QString file(const QString &name) const { return m_dir->filePath(name); }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QFile::exists(corvane::test::cliPath()), "CORVANE_CLI must name corvane-cli");
    }
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        {
            corvane::AccountStore store(file(u"accounts.dat"_s));
            store.insert({u"Home"_s, u"127.0.0.1"_s, u"1"_s, u"u"_s, u"p"_s, u"u@example.net"_s});
        }
        QVERIFY(corvane::test::writeFile(file(u"Settings.ini"_s), "[Options]\r\nAutoIntvl=3\r\n"));
        // Held as another program would: a QLockFile of this process on the same file.
        m_held = std::make_unique<QLockFile>(file(DataDirectoryLock::FileName));
        QVERIFY(m_held->tryLock());
    }
    void cleanup() {
        m_held.reset();
        m_dir.reset();
    }

    // Every writing command at once, so the test waits the few seconds only once.
    void writersWaitAndFail() {
        const QString dir = m_dir->path();
        const QList<QStringList> commands{
            withDir({u"process"_s, u"--delete"_s, u"1"_s, u"Home"_s}, dir),
            withDir({u"auto"_s, u"--once"_s}, dir),
            withDir({u"accounts"_s, u"add"_s, u"--name"_s, u"Work"_s, u"--server"_s, u"s"_s}, dir),
            withDir({u"accounts"_s, u"edit"_s, u"0"_s, u"--name"_s, u"Away"_s}, dir),
            withDir({u"accounts"_s, u"delete"_s, u"0"_s}, dir),
            withDir({u"settings"_s, u"set"_s, u"AutoIntvl"_s, u"9"_s}, dir),
        };
        const QByteArray accounts = corvane::test::readFile(file(u"accounts.dat"_s));
        const QByteArray settings = corvane::test::readFile(file(u"Settings.ini"_s));

        std::vector<std::unique_ptr<QProcess>> runs;
        QElapsedTimer clock;
        clock.start();
        for (const QStringList &args : commands) {
            runs.push_back(std::make_unique<QProcess>());
            runs.back()->start(corvane::test::cliPath(), args);
            runs.back()->closeWriteChannel();
        }
        const QString holder =
            u"is in use by %1 (process %2)"_s
                .arg(QFileInfo(QCoreApplication::applicationFilePath()).fileName())
                .arg(QCoreApplication::applicationPid());
        for (std::size_t i = 0; i < runs.size(); ++i) {
            QProcess &p = *runs[i];
            const QString name = commands[qsizetype(i)].mid(0, 2).join(u' ');
            QVERIFY2(p.waitForFinished(60000), qPrintable(name));
            const QString err = QString::fromUtf8(p.readAllStandardError());
            QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 1,
                     qPrintable(name + u": "_s + err));
            QVERIFY2(err.contains(u"The data directory \"%1\" "_s.arg(dir) + holder),
                     qPrintable(name + u": "_s + err));
            QVERIFY2(p.readAllStandardOutput().isEmpty(), qPrintable(name));
        }
        // Each waited for the other program before giving up.
        QVERIFY(clock.elapsed() >= 4500);
        QCOMPARE(corvane::test::readFile(file(u"accounts.dat"_s)), accounts);
        QCOMPARE(corvane::test::readFile(file(u"Settings.ini"_s)), settings);
        QVERIFY(!QFile::exists(file(u"logfile.log"_s)));
    }

    void readersRun_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("accounts list") << QStringList{u"accounts"_s, u"list"_s};
        QTest::newRow("settings show") << QStringList{u"settings"_s, u"show"_s};
    }
    void readersRun() {
        QFETCH(QStringList, args);
        const corvane::test::CliRun run = corvane::test::runCli(withDir(args, m_dir->path()));
        QVERIFY2(run.exitCode == 0, run.err.constData());
        QVERIFY(!run.out.isEmpty());
    }

    void writerRunsOnceTheLockIsFree() {
        QProcess p;
        p.start(corvane::test::cliPath(),
                withDir({u"settings"_s, u"set"_s, u"AutoIntvl"_s, u"9"_s}, m_dir->path()));
        p.closeWriteChannel();
        QTest::qWait(1000);
        QCOMPARE(p.state(), QProcess::Running);
        m_held->unlock();
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(corvane::test::readFile(file(u"Settings.ini"_s)).contains("AutoIntvl=9\r\n"));
        // The command let go of the directory when it ended.
        QVERIFY(!QFile::exists(file(DataDirectoryLock::FileName)));
    }
};

QTEST_GUILESS_MAIN(TestCliLock)
#include "tst_cli_lock.moc"
