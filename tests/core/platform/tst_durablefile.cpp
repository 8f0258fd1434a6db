#include "core/errors.h"
#include "core/platform/durablefile.h"
#include "fulldisk.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;
using corvane::DurableFile;
using corvane::FileError;
using corvane::writeFileDurably;
using corvane::test::FullDisk;
using corvane::test::readFile;
using corvane::test::writeFile;

namespace {

mode_t modeOf(const QString &path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

// The names in a folder, hidden ones included, so a left-over temporary file shows.
QStringList entries(const QString &dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                               QDir::Name);
}

// Writes bytes the way the named writer does; throws FileError like the helper.
void writeWith(const QString &how, const QString &path, const QByteArray &bytes) {
    if (how == u"whole"_s) {
        writeFileDurably(path, bytes);
        return;
    }
    DurableFile file(path);
    // A careless writer: small pieces, results ignored, as a line sink might.
    for (qsizetype i = 0; i < bytes.size(); i += 100)
        file.device()->write(bytes.mid(i, 100));
    file.commit();
}

} // namespace

class TestDurableFile final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void writesOwnerOnly_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QByteArray>("old"); // null: no file before
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("new file") << u"whole"_s << QByteArray() << "hello\r\n"_ba;
        QTest::newRow("replaces a file") << u"whole"_s << "old text"_ba
                                         << "new"_ba;
        QTest::newRow("empty content") << u"whole"_s << "old text"_ba
                                       << ""_ba;
        QTest::newRow("streamed") << u"stream"_s << "old"_ba << QByteArray(100000, 'a');
    }
    void writesOwnerOnly() {
        QFETCH(QString, how);
        QFETCH(QByteArray, old);
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"file.txt"_s);
        if (!old.isNull()) {
            QVERIFY(writeFile(path, old));
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner |
                                                    QFile::ReadOther | QFile::ReadGroup));
        }
        writeWith(how, path, bytes);
        QCOMPARE(readFile(path), bytes);
        QCOMPARE(modeOf(path), mode_t(0600));
        QCOMPARE(entries(dir.path()), QStringList{u"file.txt"_s});
    }

    void fullDiskKeepsTheOldFile_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QByteArray>("old"); // null: no file before
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("small, whole") << u"whole"_s << "old content\r\n"_ba
                                      << "new"_ba;
        QTest::newRow("large, whole")
            << u"whole"_s << "old content\r\n"_ba << QByteArray(300000, 'n');
        QTest::newRow("streamed") << u"stream"_s << "old content\r\n"_ba << QByteArray(300000, 'n');
        QTest::newRow("new file") << u"whole"_s << QByteArray() << "new"_ba;
    }
    void fullDiskKeepsTheOldFile() {
        QFETCH(QString, how);
        QFETCH(QByteArray, old);
        QFETCH(QByteArray, bytes);
        FullDisk disk;
        if (!disk.mounted())
            QSKIP(qPrintable(disk.error()));
        const QString path = disk.filePath(u"file.txt"_s);
        if (!old.isNull())
            QVERIFY(writeFile(path, old));
        QVERIFY(disk.fill());
        try {
            writeWith(how, path, bytes);
            QFAIL("a write to a full file system was reported as done");
        } catch (const FileError &e) {
            QCOMPARE(e.message(), u"Cannot create file \"%1\". No space left on device"_s.arg(
                                      QDir::toNativeSeparators(path)));
        }
        QCOMPARE(QFileInfo::exists(path), !old.isNull());
        if (!old.isNull())
            QCOMPARE(readFile(path), old);
        // No temporary file is left behind; after making room the write succeeds.
        QStringList expected;
        if (!old.isNull())
            expected << u"file.txt"_s;
        expected << u"filler"_s;
        QCOMPARE(entries(disk.path()), expected);
        disk.release();
        writeWith(how, path, bytes);
        QCOMPARE(readFile(path), bytes);
    }

    // A file-size limit makes the system refuse writes past it (EFBIG), as a failing device
    // would; this runs without root.
    void failingWriteKeepsTheOldFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"file.txt"_s);
        QVERIFY(writeFile(path, "old"_ba));
        struct rlimit saved {};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = saved;
        limit.rlim_cur = 100000;
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
        QString message;
        try {
            DurableFile file(path);
            QCOMPARE(file.device()->write(QByteArray(70000, 'a')), qint64(70000));
            QCOMPARE(file.device()->write(QByteArray(70000, 'b')), qint64(-1));
            // Later writes fail too: nothing is appended after a gap.
            QCOMPARE(file.device()->write("c"_ba), qint64(-1));
            file.commit();
        } catch (const FileError &e) {
            message = e.message();
        }
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        QCOMPARE(message, u"Cannot create file \"%1\". File too large"_s.arg(path));
        QCOMPARE(readFile(path), "old"_ba);
        QCOMPARE(entries(dir.path()), QStringList{u"file.txt"_s});
    }

    void uncommittedIsDiscarded() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"file.txt"_s);
        QVERIFY(writeFile(path, "old"_ba));
        {
            DurableFile file(path);
            file.device()->write("new"_ba);
        }
        QCOMPARE(readFile(path), "old"_ba);
        QCOMPARE(entries(dir.path()), QStringList{u"file.txt"_s});
    }

    void refusesToFollowALink_data() {
        QTest::addColumn<bool>("outsideExists");
        QTest::newRow("link to a file") << true;
        QTest::newRow("dangling link") << false;
    }
    void refusesToFollowALink() {
        QFETCH(bool, outsideExists);
        QTemporaryDir data;
        QTemporaryDir elsewhere;
        const QString outside = elsewhere.filePath(u"victim"_s);
        if (outsideExists)
            QVERIFY(writeFile(outside, "precious"_ba));
        const QString path = data.filePath(u"temp.eml"_s);
        QVERIFY(QFile::link(outside, path));
        QVERIFY_THROWS_EXCEPTION(FileError, writeFileDurably(path, "overwritten"_ba));
        QCOMPARE(QFileInfo::exists(outside), outsideExists);
        if (outsideExists)
            QCOMPARE(readFile(outside), "precious"_ba);
        QVERIFY(QFileInfo(path).isSymLink());
        QCOMPARE(QFileInfo(path).symLinkTarget(), outside);
    }

    void refusesWhatIsNoFile_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("a folder") << u"folder"_s << u"Is a directory"_s;
        QTest::newRow("missing folder") << u"missing/file"_s << u"No such file or directory"_s;
    }
    void refusesWhatIsNoFile() {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(u"folder"_s));
        const QString path = dir.filePath(name);
        try {
            writeFileDurably(path, "x"_ba);
            QFAIL("no error");
        } catch (const FileError &e) {
            QCOMPARE(e.message(), u"Cannot create file \"%1\". %2"_s.arg(path, reason));
        }
    }
};

QTEST_GUILESS_MAIN(TestDurableFile)
#include "tst_durablefile.moc"
