// The data directory's lock: one holder at a time, the holder named in the refusal, a lock of
// a process that has ended taken over, a long-held lock of a running process never taken.

#include "core/platform/datadirlock.h"
#include "fulldisk.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>
#include <sys/stat.h>
#include <utime.h>

using namespace Qt::StringLiterals;
using corvane::DataDirectory;
using corvane::DataDirectoryLock;
using corvane::LockError;

namespace {

QString lockPath(const QTemporaryDir &dir) {
    return dir.filePath(DataDirectoryLock::FileName);
}

QString refusal(const DataDirectory &directory, std::chrono::milliseconds wait = {}) {
    DataDirectoryLock second(directory);
    try {
        second.acquire(wait);
    } catch (const LockError &e) {
        return e.message();
    }
    return {};
}

// The text QLockFile keeps in a lock file: pid, program name, host name.
QByteArray lockContents(qint64 pid, const QByteArray &program) {
    return QByteArray::number(pid) + '\n' + program + '\n' + QSysInfo::machineHostName().toUtf8() +
           '\n';
}

} // namespace

class TestDataDirLock final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void oneHolderAtATime() {
        QTemporaryDir dir;
        const DataDirectory directory(dir.path());
        {
            DataDirectoryLock lock(directory);
            lock.acquire();
            QVERIFY(lock.isLocked());
            struct stat st {};
            QVERIFY(::stat(QFile::encodeName(lockPath(dir)).constData(), &st) == 0);
            QCOMPARE(st.st_mode & 0777, mode_t(0600));

            const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
            QElapsedTimer waited;
            waited.start();
            const QString text = refusal(directory, std::chrono::milliseconds(300));
            QVERIFY(waited.elapsed() >= 250);
            QCOMPARE(text,
                     u"The data directory \"%1\" is in use by %2 (process %3). Wait until "
                     u"it has finished, or close it, and try again."_s.arg(
                         dir.path(), program, QString::number(QCoreApplication::applicationPid())));
        }
        // Released with its holder.
        QVERIFY(!QFile::exists(lockPath(dir)));
        QCOMPARE(refusal(directory), QString());
    }

    // A lock left by a process that has ended is taken over; one of a running process is not,
    // however old it is.
    void leftLocks_data() {
        QTest::addColumn<bool>("holderRuns");
        QTest::newRow("holder has ended") << false;
        QTest::newRow("holder runs for hours") << true;
    }
    void leftLocks() {
        QFETCH(bool, holderRuns);
        QTemporaryDir dir;
        qint64 pid = QCoreApplication::applicationPid();
        QByteArray program = QFileInfo(QCoreApplication::applicationFilePath()).fileName().toUtf8();
        if (!holderRuns) {
            QProcess ended;
            ended.start(u"/bin/true"_s, {});
            QVERIFY(ended.waitForStarted());
            pid = ended.processId();
            QVERIFY(ended.waitForFinished());
            program = "corvane-cli";
        }
        QVERIFY(corvane::test::writeFile(lockPath(dir), lockContents(pid, program)));
        const time_t then = ::time(nullptr) - 3 * 3600;
        const struct utimbuf hoursAgo { then, then };
        QVERIFY(::utime(QFile::encodeName(lockPath(dir)).constData(), &hoursAgo) == 0);

        const QString text = refusal(DataDirectory(dir.path()));
        if (holderRuns)
            QVERIFY2(text.contains(u"(process %1)"_s.arg(pid)), qPrintable(text));
        else
            QCOMPARE(text, QString());
    }

    void lockFileCannotBeMade() {
        QTemporaryDir dir;
        const QString missing = dir.filePath(u"missing"_s);
        QCOMPARE(refusal(DataDirectory(missing)),
                 u"The data directory \"%1\" cannot be locked: the lock file \"%2\" cannot be "
                 u"made. No such file or directory"_s.arg(missing, missing + u"/corvane.lock"_s));
    }

    // On a full disk the lock cannot be written: the program says so and holds nothing.
    void lockOnAFullDisk() {
        corvane::test::FullDisk disk;
        if (!disk.mounted())
            QSKIP(qPrintable(disk.error()));
        QVERIFY(disk.fill());
        QCOMPARE(
            refusal(DataDirectory(disk.path())),
            u"The data directory \"%1\" cannot be locked: the lock file \"%2\" cannot be "
            u"made. No space left on device"_s.arg(disk.path(), disk.filePath(u"corvane.lock"_s)));
        QCOMPARE(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"filler"_s});
    }
};

QTEST_GUILESS_MAIN(TestDataDirLock)
#include "tst_datadirlock.moc"
