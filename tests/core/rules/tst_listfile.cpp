#include "core/errors.h"
#include "core/rules/listfile.h"
#include "core/rules/rulelists.h"
#include "failingdevice.h"
#include "fulldisk.h"
#include "testsupport.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <zlib.h>

using namespace corvane;
using namespace Qt::StringLiterals;

namespace {

QByteArray field(const QByteArray &text) {
    QByteArray f = text.left(kListFieldSize);
    f.append(QByteArray(kListFieldSize - f.size(), '\0'));
    return f;
}

QByteArray le32(qint32 v) {
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

QByteArray record(const QByteArray &caption, const QList<QByteArray> &subs) {
    QByteArray r = field(caption) + le32(static_cast<qint32>(subs.size()));
    for (const QByteArray &s : subs)
        r += field(s);
    return r;
}

QByteArray zlibCompress(const QByteArray &body) {
    uLongf size = compressBound(body.size());
    QByteArray out(static_cast<qsizetype>(size), '\0');
    compress2(reinterpret_cast<Bytef *>(out.data()), &size,
              reinterpret_cast<const Bytef *>(body.constData()), body.size(), 9);
    out.resize(static_cast<qsizetype>(size));
    return out;
}

QByteArray fileBytes(bool compressed, qint32 count, const QByteArray &body) {
    return QByteArray(1, compressed ? '\1' : '\0') + le32(count) +
           (compressed ? zlibCompress(body) : body);
}

QByteArray written(const RuleList &list, bool compress) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    WriteListStream(list, buffer, compress);
    return buffer.data();
}

RuleList readBack(const QByteArray &bytes, RuleList::Order order,
                  ListReadReport *report = nullptr) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    RuleList list(order);
    const ListReadReport result = ReadListStream(list, buffer);
    if (report)
        *report = result;
    return list;
}

QStringList captions(const RuleList &list) {
    QStringList out;
    for (const RuleEntry &e : list)
        out << e.Caption;
    return out;
}

} // namespace

class TestListFile final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void emptyListIsTheThirteenByteFile() {
        const QByteArray bytes = written(RuleList(), true);
        QCOMPARE(bytes.toHex(' '), QByteArray("01 00 00 00 00 78 da 03 00 00 00 00 01"));
        QCOMPARE(written(RuleList(), false).toHex(' '), QByteArray("00 00 00 00 00"));
    }

    void layoutIsByteExact() {
        RuleList xy;
        xy.add(u"cheap"_s, {u"pills"_s, u"pharmacy spam"_s});
        const QByteArray expected = record("cheap", {"pills", "pharmacy spam"});
        QCOMPARE(expected.size(), 772);
        QCOMPARE(written(xy, false), QByteArray(1, '\0') + le32(1) + expected);
        // Compressed: the same records, one zlib stream with level 9 parameters.
        const QByteArray compressed = written(xy, true);
        QCOMPARE(compressed.left(5), QByteArray(1, '\1') + le32(1));
        QCOMPARE(compressed.mid(5, 2).toHex(), QByteArray("78da"));
        QByteArray inflated(expected.size(), '\0');
        uLongf size = inflated.size();
        QCOMPARE(uncompress(reinterpret_cast<Bytef *>(inflated.data()), &size,
                            reinterpret_cast<const Bytef *>(compressed.constData() + 5),
                            compressed.size() - 5),
                 Z_OK);
        QCOMPARE(inflated, expected);
    }

    void roundTrip_data() {
        QTest::addColumn<bool>("compress");
        QTest::newRow("compressed") << true;
        QTest::newRow("plain") << false;
    }
    void roundTrip() {
        QFETCH(bool, compress);
        const RuleLists initial;
        ListReadReport report;
        const RuleList back =
            readBack(written(initial.SubjectBlack, compress), RuleList::Order::ByCaption, &report);
        QVERIFY(report.ok());
        QCOMPARE(back.entries(), initial.SubjectBlack.entries());
        QCOMPARE(back.size(), 13);
        QCOMPARE(back.at(3).Caption, u"Re: Re: My details"_s);
        QCOMPARE(back.at(4).Caption, u"Re: Re: My details"_s);
    }

    void fieldsAreCutAndRead_data() {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QByteArray>("fieldBytes"); // the bytes before the first zero
        QTest::addColumn<QString>("readBack");
        const QString a300(300, u'a'), a256(256, u'a');
        QTest::newRow("300 characters") << a300 << QByteArray(256, 'a') << a256;
        QTest::newRow("exactly 256") << a256 << QByteArray(256, 'a') << a256;
        QTest::newRow("empty") << QString() << QByteArray() << QString();
        QTest::newRow("Windows-1252 when it fits") << u"Caf\u00e9 \u20ac5"_s
                                                   << QByteArray("Caf\xe9 \x80"
                                                                 "5")
                                                   << u"Caf\u00e9 \u20ac5"_s;
        QTest::newRow("UTF-8 when it does not")
            << u"\u65e5\u672c"_s << QByteArray("\xe6\x97\xa5\xe6\x9c\xac") << u"\u65e5\u672c"_s;
        // 85 three-byte characters take 255 bytes; the 86th does not fit and is left out whole.
        const QString cjk(86, QChar(0x65e5));
        QTest::newRow("UTF-8 never cut inside a character")
            << cjk << cjk.left(85).toUtf8() << cjk.left(85);
    }
    void fieldsAreCutAndRead() {
        QFETCH(QString, caption);
        QFETCH(QByteArray, fieldBytes);
        QFETCH(QString, readBack);
        RuleList list;
        list.add(caption, {});
        const QByteArray bytes = written(list, false);
        QCOMPARE(bytes.mid(5, kListFieldSize), field(fieldBytes));
        QCOMPARE(::readBack(bytes, RuleList::Order::Insertion).at(0).Caption, readBack);
    }

    void legacyBytesAreRead_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("Windows-1252")
            << QByteArray("na\xefve \x93quoted\x94") << u"na\u00efve \u201cquoted\u201d"_s;
        QTest::newRow("valid UTF-8") << QByteArray("na\xc3\xafve") << u"na\u00efve"_s;
        QTest::newRow("no zero byte") << QByteArray(256, 'x') << QString(256, u'x');
    }
    void legacyBytesAreRead() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        const RuleList list =
            readBack(fileBytes(false, 1, record(bytes, {"d"})), RuleList::Order::Insertion);
        QCOMPARE(list.size(), 1);
        QCOMPARE(list.at(0).Caption, text);
        QCOMPARE(list.at(0).SubItems, QStringList{u"d"_s});
    }

    void counts_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QStringList>("captions");
        QTest::addColumn<int>("subItemsOfFirst");
        QTest::newRow("count 0") << fileBytes(true, 0, {}) << true << QStringList{} << 0;
        QTest::newRow("count 0, no body at all")
            << fileBytes(false, 0, {}) << true << QStringList{} << 0;
        QTest::newRow("compressed header without a stream")
            << QByteArray("\1\0\0\0\0", 5) << true << QStringList{} << 0;
        QTest::newRow("negative count") << fileBytes(true, -5, {}) << true << QStringList{} << 0;
        QTest::newRow("negative sub-item count")
            << fileBytes(false, 1, field("x") + le32(-3)) << true << QStringList{u"x"_s} << 0;
    }
    void counts() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, ok);
        QFETCH(QStringList, captions);
        QFETCH(int, subItemsOfFirst);
        ListReadReport report;
        const RuleList list = readBack(bytes, RuleList::Order::Insertion, &report);
        QCOMPARE(report.ok(), ok);
        QCOMPARE(::captions(list), captions);
        if (!list.isEmpty())
            QCOMPARE(list.at(0).SubItems.size(), subItemsOfFirst);
    }

    // Damaged files are read up to the end of the real data; nothing is taken on trust.
    void damagedFiles_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("captions");
        QTest::addColumn<int>("status");
        const QByteArray two = record("one", {"a"}) + record("two", {"b"});
        QTest::newRow("shorter than the header")
            << QByteArray("\1\0\0\0", 4) << QStringList{} << int(ListReadStatus::TooShort);
        QTest::newRow("empty file")
            << QByteArray() << QStringList{} << int(ListReadStatus::TooShort);
        QTest::newRow("plain body ends early")
            << fileBytes(false, 3, two) << QStringList{u"one"_s, u"two"_s}
            << int(ListReadStatus::Truncated);
        QTest::newRow("plain record cut in its sub-items")
            << fileBytes(false, 2, record("one", {"a"}) + field("two") + le32(2) + field("b"))
            << QStringList{u"one"_s, u"two"_s} << int(ListReadStatus::Truncated);
        QTest::newRow("plain record cut in its caption")
            << fileBytes(false, 2, record("one", {"a"}) + QByteArray("tw")) << QStringList{u"one"_s}
            << int(ListReadStatus::Truncated);
        // Counts beyond what any list file may hold: nothing of it is used, so that no entry
        // drops out of use unnoticed.
        QTest::newRow("huge count over a tiny body")
            << fileBytes(true, 0x7fffffff, record("one", {})) << QStringList{}
            << int(ListReadStatus::TooLarge);
        QTest::newRow("huge sub-item count")
            << fileBytes(true, 1, field("one") + le32(0x7fffffff) + field("a")) << QStringList{}
            << int(ListReadStatus::TooLarge);
        QByteArray cut = fileBytes(true, 2, two);
        cut.chop(cut.size() / 3);
        QTest::newRow("compressed stream cut off")
            << cut << QStringList{u"one"_s} << int(ListReadStatus::Truncated);
        QByteArray noTrailer = fileBytes(true, 2, two);
        noTrailer.chop(4); // the checksum: every record is there, the stream has no end
        QTest::newRow("compressed stream without its checksum")
            << noTrailer << QStringList{u"one"_s, u"two"_s} << int(ListReadStatus::Truncated);
        QTest::newRow("partial header")
            << QByteArray("\1", 1) << QStringList{} << int(ListReadStatus::TooShort);

        // A count that leaves data unread: saved again, the list would lose those entries.
        const int trailing = int(ListReadStatus::TrailingData);
        QTest::newRow("count smaller than the records, compressed")
            << fileBytes(true, 1, two) << QStringList{u"one"_s} << trailing;
        QTest::newRow("count smaller than the records, plain")
            << fileBytes(false, 1, two) << QStringList{u"one"_s} << trailing;
        QTest::newRow("count 0 before records")
            << fileBytes(true, 0, two) << QStringList{} << trailing;
        QTest::newRow("negative count before records")
            << fileBytes(true, -1, two) << QStringList{} << trailing;
        QTest::newRow("negative count before plain records")
            << fileBytes(false, qint32(0x80000000), two) << QStringList{} << trailing;
        QTest::newRow("bytes after the compressed stream")
            << fileBytes(true, 2, two) + QByteArray("x") << QStringList{u"one"_s, u"two"_s}
            << trailing;
        QTest::newRow("a second stream after the first")
            << fileBytes(true, 2, two) + zlibCompress(record("three", {"c"}))
            << QStringList{u"one"_s, u"two"_s} << trailing;
        QTest::newRow("one byte after plain records")
            << fileBytes(false, 2, two) + QByteArray(1, '\0') << QStringList{u"one"_s, u"two"_s}
            << trailing;
    }
    void damagedFiles() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, captions);
        QFETCH(int, status);
        ListReadReport report;
        const RuleList list = readBack(bytes, RuleList::Order::Insertion, &report);
        QVERIFY(!report.ok());
        QCOMPARE(int(report.status), status);
        QCOMPARE(::captions(list), captions);
        QCOMPARE(report.entriesRead, captions.size());
        // Only an empty file holds nothing that a save could lose.
        QCOMPARE(report.damaged(), !bytes.isEmpty());
    }

    void inflatedDataIsBounded() {
        // Half a megabyte of compressed zeros would inflate to millions of empty entries.
        QByteArray bytes = QByteArray(1, '\1') + le32(0x7fffffff);
        z_stream zs{};
        QCOMPARE(deflateInit2(&zs, 9, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY), Z_OK);
        const QByteArray zeros(1024 * 1024, '\0');
        QByteArray out(64 * 1024, '\0');
        for (int i = 0; i < 512; ++i) { // 512 MiB of zeros, about half a megabyte compressed
            zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(zeros.constData()));
            zs.avail_in = uInt(zeros.size());
            do {
                zs.next_out = reinterpret_cast<Bytef *>(out.data());
                zs.avail_out = uInt(out.size());
                deflate(&zs, Z_NO_FLUSH);
                bytes.append(out.constData(), out.size() - zs.avail_out);
            } while (zs.avail_out == 0);
        }
        deflateEnd(&zs);
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        RuleList list;
        const ListReadReport report = ReadListStream(list, buffer);
        // Refused whole, before anything is inflated: its count is beyond any list file.
        QCOMPARE(report.status, ListReadStatus::TooLarge);
        QVERIFY2(report.error.contains(u"more than the 1000000 a list file may hold"_s),
                 qPrintable(report.error));
        QVERIFY(list.isEmpty());
    }

    void damagedCompressedDataIsReported() {
        QByteArray bytes = fileBytes(
            true, 3, record("one", {"a"}) + record("two", {"b"}) + record("three", {"c"}));
        // Keep the first record's bytes intact; damage the stream after them.
        for (qsizetype i = bytes.size() - 8; i < bytes.size() - 4; ++i)
            bytes[i] = char(bytes[i] ^ 0x5a);
        bytes.insert(bytes.size() - 12, QByteArray("\xff\xff\xff\xff\xff\xff", 6));
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        RuleList list;
        const ListReadReport report = ReadListStream(list, buffer);
        QCOMPARE(report.status, ListReadStatus::BadCompression);
        QCOMPARE(report.error, u"Error"_s);
        QVERIFY(report.damaged());
        QVERIFY(list.size() < 3);
        QCOMPARE(report.entriesRead, list.size());
    }

    void sortedListsSortWhatTheyRead() {
        const QByteArray bytes = fileBytes(true, 4,
                                           record("zeta", {"1"}) + record("Alpha", {"2"}) +
                                               record("beta", {"3"}) + record("alpha", {"4"}));
        QCOMPARE(captions(readBack(bytes, RuleList::Order::ByCaption)),
                 (QStringList{u"alpha"_s, u"Alpha"_s, u"beta"_s, u"zeta"_s}));
        QCOMPARE(captions(readBack(bytes, RuleList::Order::Insertion)),
                 (QStringList{u"zeta"_s, u"Alpha"_s, u"beta"_s, u"alpha"_s}));
    }

    void writeFailureIsAnError() {
        RuleList list;
        for (int i = 0; i < 50; ++i)
            list.add(u"entry %1"_s.arg(i), {u"description"_s});
        for (bool compress : {false, true}) {
            test::FailingDevice device(100);
            QVERIFY_THROWS_EXCEPTION(FileError, WriteListStream(list, device, compress));
        }
    }

    void loadAndSaveFiles() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"blsubj.dat"_s);
        RuleList list(RuleList::Order::ByCaption);
        list.add(u"kept"_s, {u"d"_s});

        // A missing file leaves the list as it was.
        QCOMPARE(LoadListFile(list, path).status, ListReadStatus::NoFile);
        QCOMPARE(captions(list), QStringList{u"kept"_s});

        const RuleLists initial;
        SaveListFile(initial.SubjectBlack, path, true);
        QVERIFY(LoadListFile(list, path).ok());
        QCOMPARE(list.entries(), initial.SubjectBlack.entries());

        // A 4-byte file empties the list.
        QVERIFY(test::writeFile(path, QByteArray("\1\0\0\0", 4)));
        QCOMPARE(LoadListFile(list, path).status, ListReadStatus::TooShort);
        QVERIFY(list.isEmpty());
    }

    void fileErrors() {
        QTemporaryDir dir;
        RuleList list;
        list.add(u"kept"_s, {});

        const QString folder = dir.filePath(u"a folder"_s);
        QVERIFY(QDir().mkpath(folder));
        try {
            LoadListFile(list, folder);
            QFAIL("a folder was opened as a list file");
        } catch (const FileError &e) {
            QVERIFY2(e.message().startsWith(u"Cannot open file \"%1\". "_s.arg(folder)),
                     qPrintable(e.message()));
        }
        QCOMPARE(captions(list), QStringList{u"kept"_s});

        const QString nowhere = dir.filePath(u"missing/blsubj.dat"_s);
        try {
            SaveListFile(list, nowhere, true);
            QFAIL("a file was created in a missing folder");
        } catch (const FileError &e) {
            QVERIFY2(e.message().startsWith(u"Cannot create file \"%1\". "_s.arg(nowhere)),
                     qPrintable(e.message()));
        }
        QVERIFY(!QFile::exists(nowhere));
    }

    // On a full disk the save fails with the system's reason and the stored list stays whole.
    void saveOnFullDisk_data() {
        QTest::addColumn<bool>("compress");
        QTest::newRow("compressed") << true;
        QTest::newRow("plain") << false;
    }
    void saveOnFullDisk() {
        QFETCH(bool, compress);
        test::FullDisk disk;
        if (!disk.mounted())
            QSKIP(qPrintable(disk.error()));
        const QString path = disk.filePath(u"freml.dat"_s);
        RuleList list;
        list.add(u"friend@example.org"_s, {});
        SaveListFile(list, path, compress);
        const QByteArray stored = test::readFile(path);
        QVERIFY(!stored.isEmpty());
        for (int i = 0; i < 200; ++i)
            list.add(u"friend%1@example.org"_s.arg(i), {});
        QVERIFY(disk.fill());
        try {
            SaveListFile(list, path, compress);
            QFAIL("a list save on a full disk was reported as done");
        } catch (const FileError &e) {
            QCOMPARE(e.message(),
                     u"Cannot create file \"%1\". No space left on device"_s.arg(path));
        }
        QCOMPARE(test::readFile(path), stored);
    }

    void saveReplacesThroughATemporaryFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"freml.dat"_s);
        RuleList list;
        list.add(u"first"_s, {});
        SaveListFile(list, path, true);
        list.add(u"second"_s, {});
        SaveListFile(list, path, false);
        RuleList back;
        QVERIFY(LoadListFile(back, path).ok());
        QCOMPARE(captions(back), (QStringList{u"first"_s, u"second"_s}));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{u"freml.dat"_s});
    }
};

QTEST_GUILESS_MAIN(TestListFile)
#include "tst_listfile.moc"
