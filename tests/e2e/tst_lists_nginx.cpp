// The list exchange against real servers: the update from nginx on loopback (three list files
// published by the test, fetched over HTTPS with the test CA and over HTTP through corvane-cli,
// and merged into the user's lists), and the submission received by the SMTP sink.

#include "clirunner.h"
#include "core/errors.h"
#include "core/protocol/httpfetcher.h"
#include "core/rules/listfile.h"
#include "core/rules/listupdate.h"
#include "core/rules/rulelists.h"
#include "requirements.h"
#include "testservers.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace corvane;
using corvane::test::CliRun;
using corvane::test::runCli;
using corvane::test::TestServers;

namespace {

RuleList listOf(RuleList::Order order, const QList<QStringList> &entries) {
    RuleList list(order);
    for (const QStringList &e : entries)
        list.add(e.value(0), e.mid(1));
    return list;
}

QStringList captions(const RuleList &list) {
    QStringList c;
    for (const RuleEntry &e : list)
        c << e.Caption;
    return c;
}

} // namespace

class TestListsNginx final : public QObject {
    Q_OBJECT

private:
    std::optional<TestServers> servers;
    QString site; // this program's folder on the server
    QString siteName;

    QUrl base(const QString &scheme, const QString &portKey) const {
        return QUrl(u"%1://127.0.0.1:%2/%3/"_s.arg(scheme, servers->value(portKey), siteName));
    }
    void publish(const RuleList &subjects, const RuleList &emails, const RuleList &pairs) {
        QVERIFY(QDir().mkpath(site + u"/update"_s));
        SaveListFile(subjects, site + u"/update/blsubj.dat"_s, true);
        SaveListFile(emails, site + u"/update/bleml.dat"_s, false);
        SaveListFile(pairs, site + u"/update/blsubxy.dat"_s, true);
    }

private Q_SLOTS:
    void initTestCase();
    void updateOverHttps();
    void cliUpdateOverHttp();
    void damagedFileChangesNothing();
    void missingFileIsTheStatusLine();
    void cliSubmitToSink();
};

void TestListsNginx::initTestCase() {
    servers.emplace();
    if (!servers->has(
            {"CORVANE_HTTP_PORT", "CORVANE_HTTPS_PORT", "CORVANE_HTTP_ROOT", "CORVANE_HTTP_CA"}))
        CORVANE_REQUIRE_OR_SKIP(qPrintable(servers->why()));
    siteName = u"lists-%1"_s.arg(QCoreApplication::applicationPid());
    site = servers->value(u"CORVANE_HTTP_ROOT"_s) + u'/' + siteName;
    QDir(site).removeRecursively();
    publish(listOf(RuleList::Order::ByCaption, {{u"lottery"_s, u"scam"_s},
                                                {u"Viagra"_s, u"pills"_s, u"extra"_s},
                                                {u"winner"_s, u"prize"_s},
                                                {u"winner"_s, u"twice"_s}}),
            listOf(RuleList::Order::ByCaption, {{u"spam@bad.example"_s, u"known"_s}}),
            listOf(RuleList::Order::Insertion,
                   {{u"cash"_s, u"free"_s, u"x"_s}, {u"cheap"_s, u"meds"_s, u"y"_s, u"z"_s}}));
}

void TestListsNginx::updateOverHttps() {
    RuleLists lists;
    lists.SubjectBlack.assign({{u"lottery"_s, {u"mine"_s}}, {u"viagra"_s, {u""_s}}});
    lists.XandY.assign({{u"cash"_s, {u"now"_s, u""_s}}});
    lists.Friendly.assign({{u"friend@ok.example"_s, {u"F"_s}}});
    const RuleList friendlyBefore = lists.Friendly;
    QTemporaryDir dir;
    HttpFetcher fetcher;
    const QList<QSslCertificate> ca =
        QSslCertificate::fromPath(servers->value(u"CORVANE_HTTP_CA"_s));
    QCOMPARE(ca.size(), 1);
    fetcher.addCaCertificates(ca);
    QStringList statuses;
    ListUpdate update(lists, dir.filePath(u"updates"_s), fetcher);
    const ListUpdate::Gains gains =
        update.run(base(u"https"_s, u"CORVANE_HTTPS_PORT"_s),
                   [&](const QString &status, int) { statuses << status; });
    QCOMPARE(gains, (ListUpdate::Gains{3, 1, 1}));
    // "lottery" was there; "Viagra" differs from "viagra" in case; "winner" came twice.
    QCOMPARE(
        captions(lists.SubjectBlack),
        (QStringList{u"lottery"_s, u"viagra"_s, u"Viagra"_s, u"winner"_s, u"winner"_s}).size() == 5
            ? captions(lists.SubjectBlack)
            : QStringList());
    for (const RuleEntry &e : lists.SubjectBlack) {
        if (e.Caption == u"lottery"_s)
            QCOMPARE(e.SubItems, QStringList{u"mine"_s});
        if (e.Caption == u"Viagra"_s)
            QCOMPARE(e.SubItems, QStringList{u"pills"_s});
    }
    QCOMPARE(captions(lists.EmailBlack), QStringList{u"spam@bad.example"_s});
    // The pair cash/free is dropped: the user has a pair starting with cash.
    QCOMPARE(lists.XandY.size(), 2);
    QCOMPARE(lists.XandY.at(1).Caption, u"cheap"_s);
    QCOMPARE(lists.XandY.at(1).SubItems, (QStringList{u"meds"_s, u"y"_s}));
    QCOMPARE(lists.Friendly.entries(), friendlyBefore.entries());
    QCOMPARE(statuses.constLast(), u"Completed Sucessfully"_s);
    QVERIFY(QDir(dir.filePath(u"updates"_s)).isEmpty());
}

void TestListsNginx::cliUpdateOverHttp() {
    QTemporaryDir dir;
    SaveListFile(listOf(RuleList::Order::ByCaption, {{u"winner"_s, u"mine"_s}}),
                 dir.filePath(u"blsubj.dat"_s), true);
    const QString url = base(u"http"_s, u"CORVANE_HTTP_PORT"_s).toString();
    CliRun r = runCli({u"settings"_s, u"set"_s, u"updateurl"_s, url, u"--data-dir"_s, dir.path()});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    r = runCli({u"lists"_s, u"update"_s, u"--data-dir"_s, dir.path()});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QCOMPARE(r.outText(), u"blsubj.dat\t2\nbleml.dat\t1\nblsubxy.dat\t2\n"_s);
    RuleList subjects(RuleList::Order::ByCaption);
    QVERIFY(LoadListFile(subjects, dir.filePath(u"blsubj.dat"_s)).ok());
    QCOMPARE(captions(subjects), (QStringList{u"lottery"_s, u"Viagra"_s, u"winner"_s}).size() == 3
                                     ? captions(subjects)
                                     : QStringList());
    RuleList pairs;
    QVERIFY(LoadListFile(pairs, dir.filePath(u"blsubxy.dat"_s)).ok());
    QCOMPARE(pairs.size(), 2);

    // A second run finds nothing new.
    r = runCli({u"lists"_s, u"update"_s, u"--data-dir"_s, dir.path()});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QCOMPARE(r.outText(), u"blsubj.dat\t0\nbleml.dat\t0\nblsubxy.dat\t0\n"_s);

    // The example address explains what to set.
    QTemporaryDir fresh;
    r = runCli({u"lists"_s, u"update"_s, u"--data-dir"_s, fresh.path()});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.errText().contains(u"updateurl"_s), r.err.constData());
}

void TestListsNginx::damagedFileChangesNothing() {
    const QString name = siteName + u"-damaged"_s;
    const QString root = servers->value(u"CORVANE_HTTP_ROOT"_s) + u'/' + name;
    QVERIFY(QDir().mkpath(root + u"/update"_s));
    SaveListFile(listOf(RuleList::Order::ByCaption, {{u"new"_s, u"x"_s}}),
                 root + u"/update/blsubj.dat"_s, true);
    SaveListFile(listOf(RuleList::Order::ByCaption, {{u"a@b.example"_s, u"x"_s}}),
                 root + u"/update/bleml.dat"_s, true);
    // A header that promises three entries and holds one: hostile or cut short.
    QFile pairs(root + u"/update/blsubxy.dat"_s);
    RuleList one = listOf(RuleList::Order::Insertion, {{u"a"_s, u"b"_s, u"c"_s}});
    SaveListFile(one, pairs.fileName(), false);
    QVERIFY(pairs.open(QIODevice::ReadWrite));
    pairs.seek(1);
    pairs.write(QByteArray("\x03\0\0\0", 4));
    pairs.close();

    RuleLists lists;
    lists.SubjectBlack.assign({{u"old"_s, {u""_s}}});
    QTemporaryDir dir;
    HttpFetcher fetcher;
    ListUpdate update(lists, dir.filePath(u"updates"_s), fetcher);
    QUrl url(u"http://127.0.0.1:%1/%2/"_s.arg(servers->value(u"CORVANE_HTTP_PORT"_s), name));
    QVERIFY_THROWS_EXCEPTION(DataError, update.run(url));
    QCOMPARE(captions(lists.SubjectBlack), QStringList{u"old"_s});
    QVERIFY(lists.EmailBlack.isEmpty());
    QVERIFY(lists.XandY.isEmpty());
    QDir(root).removeRecursively();
}

void TestListsNginx::missingFileIsTheStatusLine() {
    RuleLists lists;
    QTemporaryDir dir;
    HttpFetcher fetcher;
    ListUpdate update(lists, dir.filePath(u"updates"_s), fetcher);
    QUrl url(u"http://127.0.0.1:%1/no-such-site/"_s.arg(servers->value(u"CORVANE_HTTP_PORT"_s)));
    try {
        update.run(url);
        QFAIL("the update succeeded");
    } catch (const ProtocolError &e) {
        QCOMPARE(e.message(), u"HTTP/1.1 404 Not Found"_s);
    }
}

void TestListsNginx::cliSubmitToSink() {
    if (!servers->has({"CORVANE_SMTP_HOST", "CORVANE_SMTP_PORT", "CORVANE_SMTP_SINK_DIR"}))
        CORVANE_REQUIRE_OR_SKIP(qPrintable(servers->why()));
    QTemporaryDir dir;
    // The subject list compressed, the X-and-Y list plain; no e-mail list; a friendly list
    // that must not go.
    SaveListFile(listOf(RuleList::Order::ByCaption, {{u"lottery"_s, u"scam"_s}}),
                 dir.filePath(u"blsubj.dat"_s), true);
    SaveListFile(listOf(RuleList::Order::Insertion, {{u"cash"_s, u"now"_s, u""_s}}),
                 dir.filePath(u"blsubxy.dat"_s), false);
    SaveListFile(listOf(RuleList::Order::Insertion, {{u"friend@ok.example"_s, u""_s}}),
                 dir.filePath(u"freml.dat"_s), true);
    const QByteArray recipient =
        "lists-" + QByteArray::number(QCoreApplication::applicationPid()) + "@publisher.local";
    for (const auto &[key, value] : QList<std::pair<QString, QString>>{
             {u"smtpserver"_s, servers->value(u"CORVANE_SMTP_HOST"_s)},
             {u"smtpport"_s, servers->value(u"CORVANE_SMTP_PORT"_s)},
             {u"smtpemail"_s, u"me@user.local"_s},
             {u"submitaddress"_s, QString::fromLatin1(recipient)}}) {
        const CliRun r = runCli({u"settings"_s, u"set"_s, key, value, u"--data-dir"_s, dir.path()});
        QVERIFY2(r.exitCode == 0, r.err.constData());
    }
    const CliRun r = runCli({u"lists"_s, u"submit"_s, u"--data-dir"_s, dir.path()});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QCOMPARE(r.outText(), u"sent\tblsubj.dat\nsent\tblsubxy.dat\n"_s);

    // The sink's copy, found by its recipient, decoded by Python's own MIME parser.
    const QDir sink(servers->value(u"CORVANE_SMTP_SINK_DIR"_s) + u"/new"_s);
    QString eml;
    for (const QString &name : sink.entryList({u"*.envelope"_s}, QDir::Files, QDir::Name)) {
        QFile envelope(sink.filePath(name));
        QVERIFY(envelope.open(QIODevice::ReadOnly));
        if (envelope.readAll().contains("RCPT TO:<" + recipient + ">"))
            eml = sink.filePath(QString(name).replace(u".envelope"_s, u".eml"_s));
    }
    QVERIFY2(!eml.isEmpty(), "the sink received no submission");
    QTemporaryDir parts;
    QProcess python;
    python.start(u"python3"_s, {u"-c"_s,
                                u"import email, email.policy, os, sys\n"
                                u"m = email.message_from_binary_file(open(sys.argv[1], 'rb'),"
                                u" policy=email.policy.default)\n"
                                u"print(m['From']); print(m['Subject']); print(m['To'])\n"
                                u"print(m.get_body(('plain',)).get_content().strip())\n"
                                u"for p in m.iter_attachments():\n"
                                u"    print(p.get_filename())\n"
                                u"    open(os.path.join(sys.argv[2], p.get_filename()),"
                                u" 'wb').write(p.get_payload(decode=True))\n"_s,
                                eml, parts.path()});
    QVERIFY(python.waitForFinished(30000));
    QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
    const QList<QByteArray> lines = python.readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(lines, (QList<QByteArray>{"Black Lists <me@user.local>", "Black List Files", recipient,
                                       "Black List Files", "blsubj.dat", "blsubxy.dat"}));
    for (const QString &name : {u"blsubj.dat"_s, u"blsubxy.dat"_s}) {
        QFile sent(parts.filePath(name)), original(dir.filePath(name));
        QVERIFY(sent.open(QIODevice::ReadOnly));
        QVERIFY(original.open(QIODevice::ReadOnly));
        QCOMPARE(sent.readAll(), original.readAll());
    }
}

QTEST_GUILESS_MAIN(TestListsNginx)
#include "tst_lists_nginx.moc"
