#include "core/errors.h"
#include "core/platform/safetext.h"
#include "core/records/deletionlog.h"
#include "fulldisk.h"
#include "testsupport.h"

#include <QBuffer>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using corvane::DeletionLog;

class TestDeletionLog final : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath(DeletionLog::FileName); }

private Q_SLOTS:
    void init() { QFile::remove(path()); }

    void readLines_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("empty") << QByteArray() << QStringList();
        QTest::newRow("CR LF") << "a\r\nb\r\n"_ba << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("empty line kept") << "a\r\n\r\n"_ba << QStringList{u"a"_s, u""_s};
        QTest::newRow("no final line break") << "a\r\nb"_ba << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("LF and CR") << "a\nb\rc\r\n"_ba << QStringList{u"a"_s, u"b"_s, u"c"_s};
        QTest::newRow("Windows-1252") << "caf\xE9\r\n"_ba << QStringList{u"café"_s};
        QTest::newRow("UTF-8") << "caf\xC3\xA9 \xE2\x98\x83\r\n"_ba << QStringList{u"café ☃"_s};
    }
    void readLines() {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, lines);
        QBuffer b(&file);
        QVERIFY(b.open(QIODevice::ReadOnly));
        QCOMPARE(DeletionLog::readLines(b), lines);
    }

    void toBytes_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("none") << QStringList() << QByteArray();
        QTest::newRow("each line ends in CR LF") << QStringList{u"a"_s, u""_s} << "a\r\n\r\n"_ba;
        QTest::newRow("Windows-1252 when it fits")
            << QStringList{u"café €"_s} << "caf\xE9 \x80\r\n"_ba;
        QTest::newRow("UTF-8 otherwise")
            << QStringList{u"café"_s, u"☃"_s} << "caf\xC3\xA9\r\n\xE2\x98\x83\r\n"_ba;
    }
    void toBytes() {
        QFETCH(QStringList, lines);
        QFETCH(QByteArray, file);
        QCOMPARE(DeletionLog::toBytes(lines), file);
        QBuffer b(&file);
        QVERIFY(b.open(QIODevice::ReadOnly));
        QCOMPARE(DeletionLog::readLines(b), lines);
    }

    void loadAndSave() {
        DeletionLog log;
        log.load(path()); // missing: an empty log
        QVERIFY(log.LogLines.isEmpty());

        log.LogLines = {u"typed by the user"_s, u"second"_s};
        log.save(path());
        QCOMPARE(corvane::test::readFile(path()), "typed by the user\r\nsecond\r\n"_ba);

        DeletionLog again;
        again.LogLines = {u"design text"_s};
        again.load(path());
        QCOMPARE(again.LogLines, log.LogLines);

        // "Clear Log" then shutdown: an empty file, a total of 0.
        again.DeleteCount = u"12"_s;
        again.clear();
        QCOMPARE(again.DeleteCount, u"0"_s);
        again.save(path());
        QVERIFY(QFile::exists(path()));
        QCOMPARE(corvane::test::readFile(path()), QByteArray());
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), QStringList{DeletionLog::FileName});
    }

    void saveFailure() {
        DeletionLog log;
        log.LogLines = {u"x"_s};
        const QString bad = m_dir.filePath(u"missing/logfile.log"_s);
        try {
            log.save(bad);
            QFAIL("saving into a missing folder succeeded");
        } catch (const corvane::FileError &e) {
            QCOMPARE(e.message(), u"Unable to write to "_s + QDir::toNativeSeparators(bad) +
                                      u". No such file or directory"_s);
        }
    }

    // On a full disk the save fails with the system's reason and the log stays whole.
    void saveOnFullDisk() {
        corvane::test::FullDisk disk;
        if (!disk.mounted())
            QSKIP(qPrintable(disk.error()));
        const QString file = disk.filePath(DeletionLog::FileName);
        const QByteArray stored = "12/10/2026 10:00:00 AM  Deleted: a@b.example  Hello\r\n";
        QVERIFY(corvane::test::writeFile(file, stored));
        DeletionLog log;
        log.load(file);
        log.LogLines << u"one more line"_s;
        QVERIFY(disk.fill());
        try {
            log.save(file);
            QFAIL("a log save on a full disk was reported as done");
        } catch (const corvane::FileError &e) {
            QCOMPARE(e.message(), u"Unable to write to %1. No space left on device"_s.arg(file));
        }
        QCOMPARE(corvane::test::readFile(file), stored);
    }

    // A log that could not be read is not replaced by the lines of this run.
    void unreadableLogNotReplaced() {
        QVERIFY(QDir(m_dir.path()).mkdir(DeletionLog::FileName));
        DeletionLog log;
        log.LogLines = {u"kept"_s};
        QVERIFY_THROWS_EXCEPTION(corvane::FileError, log.load(path()));
        QCOMPARE(log.LogLines, QStringList{u"kept"_s});
        QVERIFY(!log.canSaveOver());
        QVERIFY_THROWS_EXCEPTION(corvane::DataError, log.save(path()));
        QVERIFY(QFileInfo(path()).isDir());
        QVERIFY(QDir(m_dir.path()).rmdir(DeletionLog::FileName));
    }

    void increment_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after"); // null: refused
        QTest::newRow("41") << u"41"_s << u"42"_s;
        QTest::newRow("0") << u"0"_s << u"1"_s;
        QTest::newRow("blanks") << u" 7 "_s << u"8"_s;
        QTest::newRow("hex") << u"$10"_s << u"17"_s;
        QTest::newRow("beyond 32 bits") << u"2147483647"_s << u"2147483648"_s;
        QTest::newRow("negative") << u"-1"_s << u"0"_s;
        QTest::newRow("word") << u"forty"_s << QString();
        QTest::newRow("empty") << u""_s << QString();
        QTest::newRow("fraction") << u"4.5"_s << QString();
        QTest::newRow("largest") << u"9223372036854775807"_s << QString();
    }
    void increment() {
        QFETCH(QString, before);
        QFETCH(QString, after);
        DeletionLog log;
        log.DeleteCount = before;
        if (after.isNull()) {
            try {
                log.incrementDeleteCount();
                QFAIL("a total that is not a whole number was incremented");
            } catch (const corvane::DataError &e) {
                QVERIFY(!e.message().isEmpty());
            }
            QCOMPARE(log.DeleteCount, before);
        } else {
            log.incrementDeleteCount();
            QCOMPARE(log.DeleteCount, after);
        }
    }

    void lineFormats() {
        QCOMPARE(DeletionLog::deletedLine(u"a@x.example"_s, u"me@y.example"_s, u"Hi"_s,
                                          u"Tue, 5 Mar 2024 14:07:09 +0100"_s),
                 u"Email from a@x.example deleted, sent to me@y.example with subject Hi dated "
                 u"Tue, 5 Mar 2024 14:07:09 +0100"_s);
        QCOMPARE(DeletionLog::bouncedLine(u"\"Ann\" <a@x.example>"_s, u""_s, u"Re: a/b?"_s, u""_s),
                 u"Email from \"Ann\" <a@x.example> bounced and deleted, sent to  with subject "
                 u"Re: a/b? dated "_s);
    }

    void hostileFieldsStayOnOneLine_data() {
        QTest::addColumn<bool>("bounced");
        QTest::newRow("deleted") << false;
        QTest::newRow("bounced") << true;
    }
    void hostileFieldsStayOnOneLine() {
        // Decoded from encoded words, so they arrive with their line breaks and escapes.
        QFETCH(bool, bounced);
        const QString from = u"Boss\r\nEmail from ceo@x.example deleted <a@x.example>"_s;
        const QString to = u"me@y.example\u2028forged"_s;
        const QString subject = u"Hi\nProcess Messages finished\x1b[2J\u202Egnp"_s;
        const QString date = u"today\r"_s;
        DeletionLog log;
        if (bounced)
            log.appendBounced(from, to, subject, date);
        else
            log.appendDeleted(from, to, subject, date);
        log.save(path());
        DeletionLog back;
        back.load(path());
        QCOMPARE(back.LogLines.size(), 1);
        const QString line = back.LogLines.constFirst();
        QVERIFY(line.startsWith(u"Email from Boss  Email from ceo@x.example"_s));
        QVERIFY(line.contains(u"with subject Hi Process Messages finished?[2J?gnp dated today "_s));
        for (QChar c : line)
            QVERIFY2(!corvane::isUnsafeTextChar(c.unicode()), qPrintable(line));
    }

    void runLines_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("start");
        QTest::newRow("en_US") << u"en_US"_s << u"3/5/24 - 2:07:09 PM begin process messages"_s;
        QTest::newRow("de_DE") << u"de_DE"_s << u"05.03.24 - 14:07:09 begin process messages"_s;
    }
    void runLines() {
        QFETCH(QString, locale);
        QFETCH(QString, start);
        const QDateTime now(QDate(2024, 3, 5), QTime(14, 7, 9));
        DeletionLog log;
        log.appendRunStart(now, QLocale(locale));
        log.appendDeleted(u"f"_s, u"t"_s, u"s"_s, u"d"_s);
        log.appendBounced(u"f2"_s, u"t2"_s, u"s2"_s, u"d2"_s);
        log.appendRunEnd();
        QCOMPARE(log.LogLines,
                 QStringList({start, QString(45, u'-'),
                              u"Email from f deleted, sent to t with subject s dated d"_s,
                              u"Email from f2 bounced and deleted, sent to t2 with subject s2 "
                              u"dated d2"_s,
                              QString(40, u'-'), u"Process Messages finished"_s, u""_s}));
        // The empty last line survives the file.
        log.save(path());
        DeletionLog back;
        back.load(path());
        QCOMPARE(back.LogLines, log.LogLines);
    }
};

QTEST_GUILESS_MAIN(TestDeletionLog)
#include "tst_deletionlog.moc"
