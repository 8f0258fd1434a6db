// Folders of the data directory: created owner-only, parents included; existing folders keep
// their permissions; something else in the way is an error that names the folder.

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
