// Where the data directory is by default, and its folders: created owner-only, parents
// included; existing folders keep their permissions; something else in the way is an error
// that names the folder.

#include "core/errors.h"
#include "core/platform/datadir.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using corvane::DataDirectory;

namespace {

mode_t modeOf(const QString &path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

class TestDataDir final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void defaultPath_data() {
        QTest::addColumn<bool>("marker");
        QTest::addColumn<bool>("userRoot");
        QTest::addColumn<QString>("expected"); // "exe" or "user"

        QTest::newRow("installed: the user's data folder") << false << true << u"user"_s;
        QTest::newRow("portable copy: beside the program") << true << true << u"exe"_s;
        QTest::newRow("no data location known: beside the program") << false << false << u"exe"_s;
    }
    void defaultPath() {
        QFETCH(bool, marker);
        QFETCH(bool, userRoot);
        QFETCH(QString, expected);
        QTemporaryDir exe, user;
        if (marker)
            QVERIFY(corvane::test::writeFile(exe.filePath(DataDirectory::PortableMarker), ""));
        const QString path =
            DataDirectory::defaultPathFor(exe.path(), userRoot ? user.path() : QString());
#ifdef Q_OS_WIN
        // Every copy is portable there, as it always was.
        expected = u"exe"_s;
#endif
        QCOMPARE(path, expected == u"exe"_s ? exe.path() : user.filePath(u"Corvane"_s));
    }

    // A folder named like the marker does not make a copy portable.
    void markerMustBeAFile() {
        QTemporaryDir exe, user;
        QVERIFY(QDir(exe.path()).mkdir(DataDirectory::PortableMarker));
#ifndef Q_OS_WIN
        QCOMPARE(DataDirectory::defaultPathFor(exe.path(), user.path()),
                 user.filePath(u"Corvane"_s));
#endif
    }

    void foldersAreOwnerOnly() {
        QTemporaryDir root;
        const QString existing = root.filePath(u"shared"_s);
        QVERIFY(QDir().mkdir(existing));
        QVERIFY(::chmod(QFile::encodeName(existing).constData(), 0755) == 0);

        // A new data directory below a folder that exists, then its archive folder.
        const DataDirectory dir(existing + u"/new/data"_s);
        dir.create();
        const QString archive = dir.folder(u"archive"_s);
        QCOMPARE(archive, existing + u"/new/data/archive"_s);
        QCOMPARE(modeOf(existing + u"/new"_s), mode_t(0700));
        QCOMPARE(modeOf(dir.path()), mode_t(0700));
        QCOMPARE(modeOf(archive), mode_t(0700));
        // The folder that was there keeps what its owner gave it; a second call changes nothing.
        QCOMPARE(modeOf(existing), mode_t(0755));
        dir.create();
        QCOMPARE(dir.folder(u"archive"_s), archive);
    }

    void fileInTheWay() {
        QTemporaryDir root;
        QVERIFY(corvane::test::writeFile(root.filePath(u"archive"_s), "x"));
        const DataDirectory dir(root.path());
        try {
            dir.folder(u"archive/sub"_s);
            QFAIL("a folder was made through a file");
        } catch (const corvane::FileError &e) {
            QCOMPARE(e.message(), u"Cannot create folder \"%1\". Not a directory"_s.arg(
                                      root.filePath(u"archive/sub"_s)));
        }
    }
};

QTEST_GUILESS_MAIN(TestDataDir)
#include "tst_datadir.moc"
