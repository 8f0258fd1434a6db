// The program's data for one run, as both programs open, read, save and lock it.
#include "core/settings/programdata.h"

#include "core/errors.h"
#include "core/rules/listfile.h"
#include "core/settings/accountstore.h"

#include <QThread>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

using namespace Qt::StringLiterals;
using namespace corvane;

namespace {

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestProgramData final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A list file that another program changed is read again before the next save, which
    // then keeps the other program's entries instead of writing an older copy over them.
    void changedListIsReadAgain() {
        QTemporaryDir dir;
        ProgramData data{DataDirectory(dir.path())};
        data.load();
        data.save();
        QVERIFY(data.reloadChangedLists().isEmpty());
        const QString file = dir.filePath(u"freml.dat"_s);
        RuleList edited;
        edited.add(u"@written.meanwhile"_s, {u"by lists write"_s});
        QThread::msleep(20); // a later modification time
        SaveListFile(edited, file, true);
        const QStringList told = data.reloadChangedLists();
        QCOMPARE(told.size(), 1);
        QVERIFY2(told.constFirst().contains(u"freml.dat"_s), qPrintable(told.constFirst()));
        QCOMPARE(data.lists.Friendly.size(), 1);
        data.save();
        RuleList saved;
        QVERIFY(LoadListFile(saved, file).ok());
        QCOMPARE(saved.size(), 1);
        QCOMPARE(saved.entries().constFirst().Caption, u"@written.meanwhile"_s);
    }

    // A list edited in memory and not saved yet is not read again when its file changes: the
    // edit is kept (and said so), and written at the next save.
    void editedListKeepsItsEdit() {
        QTemporaryDir dir;
        ProgramData data{DataDirectory(dir.path())};
        data.load();
        data.save();
        data.lists.Friendly.add(u"typed@in.the.window"_s, {});
        RuleList other;
        other.add(u"@written.meanwhile"_s, {});
        QThread::msleep(20);
        SaveListFile(other, dir.filePath(u"freml.dat"_s), true);
        const QStringList told = data.reloadChangedLists();
        QCOMPARE(told.size(), 1);
        QVERIFY2(told.constFirst().contains(u"changes made here"_s), qPrintable(told.constFirst()));
        QCOMPARE(data.lists.Friendly.size(), 1);
        QCOMPARE(data.lists.Friendly.entries().constFirst().Caption, u"typed@in.the.window"_s);
        // Said once for that change of the file.
        QVERIFY(data.reloadChangedLists().isEmpty());
    }

    // A list file beyond the bounds is not used, and the file is never written over.
    void listOverTheBoundIsKept() {
        QTemporaryDir dir;
        QByteArray bytes(5, '\0');
        bytes[0] = 1;
        const qint32 count = kMaxListEntries + 1;
        std::memcpy(bytes.data() + 1, &count, 4);
        const QString file = dir.filePath(u"blsubj.dat"_s);
        QVERIFY(writeFile(file, bytes + QByteArray(64, 'x')));
        ProgramData data{DataDirectory(dir.path())};
        const QStringList problems = data.load();
        QVERIFY2(problems.join(u'\n').contains(u"more than the 1000000 a list file may hold"_s),
                 qPrintable(problems.join(u'\n')));
        QCOMPARE(data.lists.SubjectBlack.size(), 0);
        data.lists.SubjectBlack.add(u"new"_s, {});
        data.save();
        QCOMPARE(readFile(file), bytes + QByteArray(64, 'x'));
        QVERIFY(!QFile::exists(file + u".damaged"_s));
    }

    void savedDataReadsBack() {
        QTemporaryDir dir;
        {
            ProgramData data{DataDirectory(dir.path())};
            QVERIFY(data.load().isEmpty());
            QVERIFY(data.store());
            data.lists.Friendly.add(u"@friend.example"_s, {u"a friend"_s});
            data.log.LogLines << u"a line"_s;
            data.log.DeleteCount = u"7"_s;
            data.settings.AutoIntvl = 9;
            data.save();
        }
        ProgramData again{DataDirectory(dir.path())};
        QVERIFY(again.load().isEmpty());
        QCOMPARE(again.lists.Friendly.size(), 1);
        QCOMPARE(again.log.LogLines, QStringList{u"a line"_s});
        QCOMPARE(again.log.DeleteCount, u"7"_s);
        QCOMPARE(again.settings.AutoIntvl, 9);
    }

    // A file that could not be read is reported by load() and left exactly as it was by save().
    void unreadFilesAreNeverOverwritten_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("contents"); // empty: a folder stands in its place
        QTest::addColumn<QString>("kept");        // the file that must be unchanged

        QTest::newRow("log is a folder") << u"logfile.log"_s << QByteArray() << u"logfile.log"_s;
        QTest::newRow("settings are a folder")
            << u"Settings.ini"_s << QByteArray() << u"Settings.ini"_s;
        QTest::newRow("damaged list kept aside")
            << u"freml.dat"_s << QByteArray("\x01\x05\x00\x00\x00", 5) + "garbage"
            << u"freml.dat.damaged"_s;
    }

    void unreadFilesAreNeverOverwritten() {
        QFETCH(QString, file);
        QFETCH(QByteArray, contents);
        QFETCH(QString, kept);

        QTemporaryDir dir;
        const QString path = dir.filePath(file);
        if (contents.isEmpty())
            QVERIFY(QDir().mkpath(path));
        else
            QVERIFY(writeFile(path, contents));

        ProgramData data{DataDirectory(dir.path())};
        const QStringList problems = data.load();
        QVERIFY2(!problems.isEmpty() && problems.join(u'\n').contains(file),
                 qPrintable(problems.join(u'\n')));
        data.log.LogLines << u"a line of this run"_s;
        data.settings.AutoIntvl = 9;
        data.save();
        if (contents.isEmpty())
            QVERIFY(QFileInfo(path).isDir());
        else
            QCOMPARE(readFile(dir.filePath(kept)), contents);
    }

    // A file that cannot be written is named, and the others are still saved.
    void saveGoesOnAfterAFailure() {
        QTemporaryDir dir;
        ProgramData data{DataDirectory(dir.path())};
        QVERIFY(data.load().isEmpty());
        data.log.LogLines << u"a line"_s;
        data.settings.AutoIntvl = 9;
        QVERIFY(QDir().mkpath(dir.filePath(u"blsubj.dat"_s)));
        QVERIFY(QDir().mkpath(dir.filePath(u"freml.dat"_s)));
        try {
            data.save();
            QFAIL("a save that could not write two lists was reported as done");
        } catch (const FileError &e) {
            const QStringList lines = e.message().split(u'\n');
            QCOMPARE(lines.size(), 2);
            QVERIFY2(lines[0].contains(u"blsubj.dat"_s), qPrintable(lines[0]));
            QVERIFY2(lines[1].contains(u"freml.dat"_s), qPrintable(lines[1]));
        }
        ProgramData again{DataDirectory(dir.path())};
        again.loadLog();
        again.readSettings();
        QCOMPARE(again.log.LogLines, QStringList{u"a line"_s});
        QCOMPARE(again.settings.AutoIntvl, 9);
        QVERIFY(QFileInfo(dir.filePath(u"bleml.dat"_s)).isFile());
    }

    void oneProgramAtATime() {
        QTemporaryDir dir;
        ProgramData first{DataDirectory(dir.filePath(u"new"_s))};
        first.lock();
        QVERIFY(QFileInfo(dir.filePath(u"new"_s)).isDir()); // created for the lock
        ProgramData second{DataDirectory(dir.filePath(u"new"_s))};
        QVERIFY_THROWS_EXCEPTION(LockError, second.lock());
    }
};

QTEST_GUILESS_MAIN(TestProgramData)
#include "tst_programdata.moc"
