// Listing the archive: which files are copies and in what order, what a copy shows (read from
// its header block only) and which files are left out, and the background scan that delivers
// them without letting a stopped scan's rows through.

#include "core/errors.h"
#include "core/protocol/mailmessage.h"
#include "core/records/archivecopies.h"
#include "testmessage.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using namespace Qt::StringLiterals;
using namespace corvane;
using corvane::test::TestMessage;
using corvane::test::writeFile;

namespace {

// A message as processing stores it: CR LF lines, dot-stuffed, ending in ".".
QByteArray fileForm(const QByteArray &message) {
    QByteArray out;
    for (QByteArray line : message.split('\n')) {
        if (line.startsWith('.'))
            line.prepend('.');
        out += line + "\r\n";
    }
    return out + ".\r\n";
}

QStringList subjects(const QList<ArchiveCopy> &copies) {
    QStringList out;
    for (const ArchiveCopy &c : copies)
        out << c.subject;
    return out;
}

} // namespace

class TestArchiveCopies final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void names() {
        QTemporaryDir dir;
        const QDir d(dir.path());
        for (const char *name :
             {"b.eml", "a2.eml", "A.eml", ".eml", "c.EML", "Offer(10).eml", "Offer(2).eml",
              "notes.txt", "x.eml.tmp", ".corvane-0123456789abcdef.tmp"})
            QVERIFY(writeFile(d.filePath(QString::fromLatin1(name)), fileForm("Subject: x\n")));
        QVERIFY(d.mkdir(u"folder.eml"_s));
        QVERIFY(QFile::link(d.filePath(u"b.eml"_s), d.filePath(u"link.eml"_s)));

        QCOMPARE(archiveCopyNames(dir.path()),
                 (QStringList{u".eml"_s, u"A.eml"_s, u"a2.eml"_s, u"b.eml"_s, u"c.EML"_s,
                              u"Offer(2).eml"_s, u"Offer(10).eml"_s}));
        QCOMPARE(archiveCopyNames(d.filePath(u"missing"_s)), QStringList());
    }

    void read_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QDateTime>("date");

        const QByteArray whole = "From: Prize Desk <winner@lottery.example>\n"
                                 "To: Me <me@example.net>, you@example.org\n"
                                 "Subject: You won\n"
                                 "Date: Tue, 1 Dec 2026 10:00:00 +0000\n"
                                 "\n"
                                 "Claim your prize.\n"
                                 ".hidden";
        const QDateTime tenOClock =
            QDateTime(QDate(2026, 12, 1), QTime(10, 0), QTimeZone::utc()).toLocalTime();
        QTest::newRow("whole copy")
            << fileForm(whole) << u"You won"_s << u"Prize Desk <winner@lottery.example>"_s
            << u"Me <me@example.net>, you@example.org"_s << tenOClock;
        QByteArray bare = fileForm(whole);
        bare.replace("\r\n", "\n");
        QTest::newRow("LF line ends")
            << bare << u"You won"_s << u"Prize Desk <winner@lottery.example>"_s
            << u"Me <me@example.net>, you@example.org"_s << tenOClock;
        QTest::newRow("blank lines after the end line")
            << fileForm(whole) + "\r\n\r\n"
            << u"You won"_s << u"Prize Desk <winner@lottery.example>"_s
            << u"Me <me@example.net>, you@example.org"_s << tenOClock;
        QTest::newRow("header only, no date")
            << QByteArray("Subject: Hi\r\nFrom: a@example.org\r\n.\r\n") << u"Hi"_s
            << u"a@example.org"_s << QString() << QDateTime();
        QTest::newRow("encoded and folded subject")
            << fileForm("Subject: =?UTF-8?B?R3LDvMOfZQ==?=\n =?UTF-8?Q?_aus_K=C3=B6ln?=\n\nx")
            << u"Grüße aus Köln"_s << QString() << QString() << QDateTime();
        QTest::newRow("dot-stuffed header line")
            << QByteArray("Subject: a\r\n..X-Odd: 1\r\n\r\nbody\r\n.\r\n") << u"a"_s << QString()
            << QString() << QDateTime();
        QTest::newRow("sender the strict parser rejects")
            << fileForm("From: <spammer@example.com>@bulk.example\nSubject: Deals\n\nx")
            << u"Deals"_s << u"spammer@example.com"_s << QString() << QDateTime();
        QTest::newRow("end line alone")
            << QByteArray(".\r\n") << QString() << QString() << QString() << QDateTime();
    }
    void read() {
        QFETCH(QByteArray, file);
        QFETCH(QString, subject);
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QDateTime, date);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(u"copy.eml"_s), file));
        const ArchiveCopy copy = readArchiveCopy(dir.path(), u"copy.eml"_s);
        QCOMPARE(copy.name, u"copy.eml"_s);
        QCOMPARE(copy.subject, subject);
        QCOMPARE(copy.from, from);
        QCOMPARE(copy.to, to);
        QCOMPARE(copy.date, date);
    }

    // What the reader of whole messages refuses is not listed either.
    void notACopy_data() {
        QTest::addColumn<QByteArray>("file");
        const QByteArray whole = fileForm("Subject: a\nFrom: b@example.org\n\nbody");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("no end line") << whole.chopped(3);
        QTest::newRow("cut in the header") << QByteArray("Subject: a\r\nFrom: b@exa");
        QTest::newRow("stuffed dot as last line") << whole.chopped(3) + "..\r\n";
        QTest::newRow("end line run into the text") << whole.chopped(3).chopped(2) + ".\r\n";
        QTest::newRow("over-long header line")
            << fileForm("Subject: " + QByteArray(MessageLimits::MaxLineLength, 'x') + "\n\nb");
        QTest::newRow("too many header lines") << fileForm(
            QByteArray("X-A: 1\n").repeated(MessageLimits::MaxHeaderLines + 1) + "\nbody");
    }
    void notACopy() {
        QFETCH(QByteArray, file);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(u"copy.eml"_s), file));
        QVERIFY_THROWS_EXCEPTION(DataError, readArchiveCopy(dir.path(), u"copy.eml"_s));
        // The whole-message reader agrees.
        MailMessage message;
        QVERIFY_THROWS_EXCEPTION(Error, message.LoadMessageFile(dir.filePath(u"copy.eml"_s)));
    }

    void missingFile() {
        QTemporaryDir dir;
        QVERIFY_THROWS_EXCEPTION(FileError, readArchiveCopy(dir.path(), u"gone.eml"_s));
    }

    // The copies arrive in name order, the broken one left out and counted.
    void scan() {
        QTemporaryDir dir;
        const QDir d(dir.path());
        QVERIFY(writeFile(d.filePath(u"a.eml"_s), fileForm("Subject: first\n\nx")));
        QVERIFY(writeFile(d.filePath(u"b.eml"_s), "Subject: broken\r\n\r\nno end line\r\n"));
        QVERIFY(writeFile(d.filePath(u"c.eml"_s), fileForm("Subject: third\n\nx")));
        ArchiveScan scan;
        QSignalSpy found(&scan, &ArchiveScan::namesFound);
        QSignalSpy finished(&scan, &ArchiveScan::finished);
        QList<ArchiveCopy> copies;
        int lastDone = 0;
        connect(&scan, &ArchiveScan::copiesRead, this,
                [&](const QList<ArchiveCopy> &batch, int done, int total) {
                    copies += batch;
                    lastDone = done;
                    QCOMPARE(total, 3);
                });
        scan.start(dir.path());
        QVERIFY(scan.running());
        QVERIFY(finished.wait(10000));
        QVERIFY(!scan.running());
        QCOMPARE(found.value(0).value(0).toInt(), 3);
        QCOMPARE(finished.value(0).value(0).toInt(), 1);
        QCOMPARE(lastDone, 3);
        QCOMPARE(subjects(copies), (QStringList{u"first"_s, u"third"_s}));
    }

    // A new scan replaces the one before: none of the first scan's rows arrive, even those it
    // had read already.
    void restartDropsTheFirstScan() {
        QTemporaryDir first;
        QTemporaryDir second;
        for (int i = 0; i < 300; ++i)
            QVERIFY(writeFile(QDir(first.path()).filePath(u"old %1.eml"_s.arg(i)),
                              fileForm("Subject: old\n\nx")));
        QVERIFY(
            writeFile(QDir(second.path()).filePath(u"new.eml"_s), fileForm("Subject: new\n\nx")));
        ArchiveScan scan;
        QSignalSpy finished(&scan, &ArchiveScan::finished);
        QList<ArchiveCopy> copies;
        connect(&scan, &ArchiveScan::copiesRead, this,
                [&](const QList<ArchiveCopy> &batch, int, int) { copies += batch; });
        // The restart comes before the event loop turns: whatever the first scan has read by
        // then, on a fast or a busy machine, is still queued and must be dropped.
        scan.start(first.path());
        scan.start(second.path());
        QVERIFY(finished.wait(10000));
        QCoreApplication::processEvents();
        QCOMPARE(finished.size(), 1);
        QCOMPARE(subjects(copies), QStringList{u"new"_s});

        // Stopping ends it without a word.
        scan.start(first.path());
        scan.stop();
        QVERIFY(!scan.running());
        QTest::qWait(20);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(copies.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestArchiveCopies)
#include "tst_archivecopies.moc"
