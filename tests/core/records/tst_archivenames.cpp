// Archive names: the stem from the subject, names every file system accepts, and the suffix
// counter of one processing run.

#include "core/records/archivenames.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using corvane::ArchiveNamer;

class TestArchiveNames final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void safeSubject_data();
    void safeSubject();
    void fileName_data();
    void fileName();
    void counterSequence();
    void linkedNamesAreTaken();
};

void TestArchiveNames::safeSubject_data() {
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("stem");

    QTest::newRow("path and question") << u"Re: a/b?"_s << u"Re- a-b-"_s;
    QTest::newRow("all nine") << u"?*/\\:\"<>|"_s << u"---------"_s;
    QTest::newRow("others stay") << u"50% off! [ad] {x} #1 ~ 'q' é"_s
                                 << u"50% off! [ad] {x} #1 ~ 'q' é"_s;
    QTest::newRow("control characters stay in the stem") << u"a\tb"_s << u"a\tb"_s;
    QTest::newRow("empty") << QString() << QString();
}

void TestArchiveNames::safeSubject() {
    QFETCH(QString, subject);
    QFETCH(QString, stem);
    QCOMPARE(corvane::SafeSubject(subject), stem);
}

void TestArchiveNames::fileName_data() {
    QTest::addColumn<QString>("stem");
    QTest::addColumn<int>("counter");
    QTest::addColumn<QString>("name");

    QTest::newRow("plain") << u"Hi"_s << -1 << u"Hi.eml"_s;
    QTest::newRow("with counter") << u"Hi"_s << 0 << u"Hi(0).eml"_s;
    QTest::newRow("empty subject") << QString() << -1 << u".eml"_s;
    QTest::newRow("trailing dots and blanks are not at the end")
        << u"Hi. . "_s << -1 << u"Hi. . .eml"_s;
    QTest::newRow("control characters") << u"a\tb\u0001c\u0000d"_s << -1 << u"a-b-c-d.eml"_s;
    QTest::newRow("DEL, C1 and line separators")
        << u"a\u007fb\u009bc\u2028d\u0085e"_s << -1 << u"a-b-c-d-e.eml"_s;
    QTest::newRow("bidi override") << u"invoice\u202Efdp.exe"_s << -1 << u"invoice-fdp.exe.eml"_s;
    QTest::newRow("device name") << u"CON"_s << -1 << u"CON-.eml"_s;
    QTest::newRow("device name, any case, with counter") << u"nul"_s << 3 << u"nul-(3).eml"_s;
    QTest::newRow("device name before a dot") << u"aux.txt"_s << -1 << u"aux-.txt.eml"_s;
    QTest::newRow("device name with trailing blanks") << u"LPT1  "_s << -1 << u"LPT1-  .eml"_s;
    QTest::newRow("superscript port") << u"COM\u00B9"_s << -1 << u"COM\u00B9-.eml"_s;
    QTest::newRow("console input") << u"conin$"_s << -1 << u"conin$-.eml"_s;
    QTest::newRow("longer than a device name") << u"CONSOLE"_s << -1 << u"CONSOLE.eml"_s;
    QTest::newRow("port without digit") << u"COMX"_s << -1 << u"COMX.eml"_s;
    QTest::newRow("device name later in the stem") << u"Re- CON"_s << -1 << u"Re- CON.eml"_s;

    const QString a300(300, u'a');
    QTest::newRow("too long") << a300 << -1 << QString(251, u'a') + u".eml"_s;
    QTest::newRow("too long, with counter") << a300 << 12 << QString(247, u'a') + u"(12).eml"_s;
    // Two bytes each: 125 characters fit in 251 bytes.
    QTest::newRow("too long, two-byte characters")
        << QString(200, u'\u00E9') << -1 << QString(125, u'\u00E9') + u".eml"_s;
    // A letter and its combining accent (three bytes) stay together.
    QString combined;
    for (int i = 0; i < 100; ++i)
        combined += u"e\u0301"_s;
    QTest::newRow("too long, combining marks")
        << combined << -1 << combined.left(2 * 83) + u".eml"_s;
    // Four bytes each, two UTF-16 units each: never split between them.
    QString faces;
    for (int i = 0; i < 100; ++i)
        faces += u"\U0001F600"_s;
    QTest::newRow("too long, surrogate pairs") << faces << -1 << faces.left(2 * 62) + u".eml"_s;
}

void TestArchiveNames::fileName() {
    QFETCH(QString, stem);
    QFETCH(int, counter);
    QFETCH(QString, name);

    const QString made = corvane::archiveFileName(stem, counter);
    QCOMPARE(made, name);
    QVERIFY(made.toUtf8().size() <= corvane::MaxArchiveNameBytes);
    // The file system takes it.
    QTemporaryDir dir;
    QFile file(dir.filePath(made));
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
}

void TestArchiveNames::counterSequence() {
    QTemporaryDir dir;
    ArchiveNamer namer(dir.path());
    QStringList names;
    auto take = [&](const QString &subject) {
        const QString path = namer.nextPath(subject);
        QFile f(path);
        QVERIFY(f.open(QIODevice::NewOnly));
        names << path.mid(dir.path().size() + 1);
    };
    take(u"Hi"_s);
    take(u"Hi"_s);
    take(u"Hi"_s);
    // The counter goes on from its value for other subjects too.
    take(u"Other"_s);
    take(u"Other"_s);
    QCOMPARE(namer.counter(), 1);
    namer.resetCounter();
    take(u"Hi"_s);
    take(u"Re: a/b?"_s);
    QCOMPARE(names, (QStringList{u"Hi.eml"_s, u"Hi(0).eml"_s, u"Hi(1).eml"_s, u"Other.eml"_s,
                                 u"Other(1).eml"_s, u"Hi(2).eml"_s, u"Re- a-b-.eml"_s}));
    QCOMPARE(namer.counter(), 2);
}

// A link in the archive folder, even one to nothing, is never chosen as an archive name, so
// an archive copy cannot land outside the folder.
void TestArchiveNames::linkedNamesAreTaken() {
    QTemporaryDir dir;
    QTemporaryDir outside;
    QVERIFY(QFile::link(outside.filePath(u"nothing-yet"_s), dir.filePath(u"Hi.eml"_s)));
    QVERIFY(QFile::link(outside.path(), dir.filePath(u"Hi(0).eml"_s)));
    ArchiveNamer namer(dir.path());
    QCOMPARE(namer.nextPath(u"Hi"_s), dir.filePath(u"Hi(1).eml"_s));
}

QTEST_GUILESS_MAIN(TestArchiveNames)
#include "tst_archivenames.moc"
