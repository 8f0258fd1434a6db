// The list update against a scripted web server: the order of the fetches, the progress, the
// merge rules and what a failure leaves behind.

#include "core/errors.h"
#include "core/protocol/httpfetcher.h"
#include "core/rules/listfile.h"
#include "core/rules/listupdate.h"
#include "fakeserver.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace corvane;
using corvane::test::FakeServer;

namespace {

QByteArray listBytes(const QList<QStringList> &entries) {
    RuleList list;
    for (const QStringList &e : entries)
        list.add(e.value(0), e.mid(1));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    WriteListStream(list, buffer, true);
    return buffer.data();
}

QByteArray ok(const QByteArray &body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
           body;
}

} // namespace

class TestListUpdate : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void mergeRules_data();
    void mergeRules();
    void fullRun();
    void failureOnTheSecondFetch();
    void mergeBeyondTheBoundChangesNothing();
    void addresses();
};

void TestListUpdate::mergeRules_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QList<QStringList>>("mine");
    QTest::addColumn<QList<QStringList>>("download");
    QTest::addColumn<QList<QStringList>>("after");

    QTest::newRow("all present: nothing added")
        << int(ListKind::SubjectBlack) << QList<QStringList>{{u"a"_s, u"mine"_s}}
        << QList<QStringList>{{u"a"_s, u"theirs"_s}} << QList<QStringList>{{u"a"_s, u"mine"_s}};
    QTest::newRow("twice in the download: added twice")
        << int(ListKind::EmailBlack) << QList<QStringList>{}
        << QList<QStringList>{{u"x@y"_s, u"d"_s}, {u"x@y"_s, u"d"_s}}
        << QList<QStringList>{{u"x@y"_s, u"d"_s}, {u"x@y"_s, u"d"_s}};
    QTest::newRow("letter case differs: added")
        << int(ListKind::SubjectBlack) << QList<QStringList>{{u"cash"_s, u""_s}}
        << QList<QStringList>{{u"Cash"_s, u"d"_s, u"extra"_s}}
        << QList<QStringList>{{u"cash"_s, u""_s}, {u"Cash"_s, u"d"_s}};
    QTest::newRow("pair judged by its first word")
        << int(ListKind::XandY) << QList<QStringList>{{u"cash"_s, u"now"_s, u""_s}}
        << QList<QStringList>{{u"cash"_s, u"free"_s, u""_s}, {u"buy"_s, u"now"_s, u"d"_s, u"z"_s}}
        << QList<QStringList>{{u"cash"_s, u"now"_s, u""_s}, {u"buy"_s, u"now"_s, u"d"_s}};
}

void TestListUpdate::mergeRules() {
    QFETCH(int, kind);
    QFETCH(QList<QStringList>, mine);
    QFETCH(QList<QStringList>, download);
    QFETCH(QList<QStringList>, after);
    RuleLists lists;
    RuleList &target = lists.list(ListKind(kind));
    target.clear();
    for (const QStringList &e : mine)
        target.add(e.value(0), e.mid(1));
    RuleList scratch;
    for (const QStringList &e : download)
        scratch.add(e.value(0), e.mid(1));
    ListUpdate::merge(target, scratch, ListKind(kind));
    QList<QStringList> got;
    for (const RuleEntry &e : target)
        got << (QStringList{e.Caption} + e.SubItems);
    QCOMPARE(got, after);
}

void TestListUpdate::fullRun() {
    FakeServer server;
    server.expect("GET /pub/update/blsubj.dat HTTP/1.1")
        .skipUntil("")
        .send(ok(listBytes({{u"new subject"_s, u"d"_s}})));
    server.expect("GET /pub/update/bleml.dat HTTP/1.1")
        .skipUntil("")
        .send(ok(listBytes({{u"x@spam.example"_s, u"d"_s}})));
    server.expect("GET /pub/update/blsubxy.dat HTTP/1.1")
        .skipUntil("")
        .send(ok(listBytes({{u"a"_s, u"b"_s, u"c"_s}})));
    RuleLists lists;
    lists.Friendly.add(u"f@ok.example"_s, {u""_s});
    const qsizetype subjectsBefore = lists.SubjectBlack.size();
    QTemporaryDir dir;
    HttpFetcher fetcher;
    ListUpdate update(lists, dir.filePath(u"updates"_s), fetcher);
    QList<std::pair<QString, int>> steps;
    const ListUpdate::Gains gains =
        update.run(QUrl(u"http://127.0.0.1:%1/pub"_s.arg(server.port())),
                   [&](const QString &status, int percent) {
                       steps.append({status, percent});
                   });
    QVERIFY2(server.mismatches().isEmpty(), qPrintable(server.mismatches().join(u'\n')));
    QCOMPARE(server.connectionCount(), 1);
    QCOMPARE(gains, (ListUpdate::Gains{1, 1, 1}));
    QCOMPARE(lists.SubjectBlack.size(), subjectsBefore + 1);
    QCOMPARE(lists.Friendly.size(), 1);
    QCOMPARE(steps.constFirst(), std::make_pair(u"Connecting to server..."_s, 15));
    QVERIFY(steps.contains(std::make_pair(u"Getting update 3 of 3"_s, 35)));
    QVERIFY(steps.contains(std::make_pair(u"Processing Update 2 of 3"_s, 65)));
    QCOMPARE(steps.constLast(), std::make_pair(u"Completed Sucessfully"_s, 0));
    QVERIFY(QDir(dir.filePath(u"updates"_s)).isEmpty());
}

void TestListUpdate::failureOnTheSecondFetch() {
    FakeServer server;
    server.skipUntil("").send(ok(listBytes({{u"new subject"_s, u"d"_s}})));
    server.skipUntil("").send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    RuleLists lists;
    const QList<RuleEntry> before = lists.SubjectBlack.entries();
    QTemporaryDir dir;
    HttpFetcher fetcher;
    ListUpdate update(lists, dir.filePath(u"updates"_s), fetcher);
    try {
        update.run(QUrl(u"http://127.0.0.1:%1/"_s.arg(server.port())));
        QFAIL("the update succeeded");
    } catch (const ProtocolError &e) {
        QCOMPARE(e.message(), u"HTTP/1.1 404 Not Found"_s);
    }
    QCOMPARE(lists.SubjectBlack.entries(), before);
    // The first file stays where it was saved.
    QCOMPARE(QDir(dir.filePath(u"updates"_s)).entryList(QDir::Files), QStringList{u"subj.dat"_s});
}

// An update that would give a list more entries than a list file may hold is refused whole, so
// every list in use can still be saved and read back; its working folder is owner-only.
void TestListUpdate::mergeBeyondTheBoundChangesNothing() {
    FakeServer server;
    server.skipUntil("").send(ok(listBytes({{u"one more"_s, u"d"_s}, {u"and another"_s, u"d"_s}})));
    server.skipUntil("").send(ok(listBytes({{u"x@spam.example"_s, u"d"_s}})));
    server.skipUntil("").send(ok(listBytes({{u"a"_s, u"b"_s, u"c"_s}})));
    RuleLists lists;
    QList<RuleEntry> full;
    full.reserve(corvane::kMaxListEntries - 1);
    for (int i = 0; i < corvane::kMaxListEntries - 1; ++i)
        full.append(RuleEntry{u"subject %1"_s.arg(i), {}});
    lists.SubjectBlack.assign(std::move(full));
    const qsizetype emailsBefore = lists.EmailBlack.size();
    QTemporaryDir dir;
    HttpFetcher fetcher;
    ListUpdate update(lists, dir.filePath(u"updates"_s), fetcher);
    try {
        update.run(QUrl(u"http://127.0.0.1:%1/"_s.arg(server.port())));
        QFAIL("the update succeeded");
    } catch (const DataError &e) {
        QCOMPARE(e.message(),
                 u"The update would give the list blsubj.dat 1000001 entries: The list holds "
                 u"1000001 entries, more than the 1000000 a list file may hold. No list has been "
                 u"changed."_s);
    }
    QCOMPARE(lists.SubjectBlack.size(), corvane::kMaxListEntries - 1);
    QCOMPARE(lists.EmailBlack.size(), emailsBefore);
    QCOMPARE(QFileInfo(dir.filePath(u"updates"_s)).permissions(),
             QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser |
                 QFile::WriteUser | QFile::ExeUser);
}

void TestListUpdate::addresses() {
    QVERIFY(ListUpdate::isExampleAddress(QUrl(u"https://lists.example.org/corvane/"_s)));
    QVERIFY(ListUpdate::isExampleAddress(QUrl(u"http://host.invalid/"_s)));
    QVERIFY(!ListUpdate::isExampleAddress(QUrl(u"https://lists.corp.internal/x/"_s)));
    QVERIFY(ListUpdate::isExampleMailAddress(u"lists@example.org"_s));
    QVERIFY(!ListUpdate::isExampleMailAddress(u"lists@corp.internal"_s));
    QCOMPARE(ListUpdate::fileUrl(QUrl(u"https://h/a"_s), "update/bleml.dat").toString(),
             u"https://h/a/update/bleml.dat"_s);
    QCOMPARE(ListUpdate::fileUrl(QUrl(u"https://h/a/"_s), "update/bleml.dat").toString(),
             u"https://h/a/update/bleml.dat"_s);
}

QTEST_GUILESS_MAIN(TestListUpdate)
#include "tst_listupdate.moc"
