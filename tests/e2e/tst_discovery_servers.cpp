// Finding an account's servers from the address against real servers on loopback: nginx
// serving settings documents over HTTPS with the test CA, a DNS server answering SRV records
// (and one name that stays silent), and the probe against the real Dovecot. Each of the four
// ways is tried by a domain that only it answers; hostile documents are refused with a clear
// message; the command-line tool finds, prints and adds an account.

#include "clirunner.h"
#include "core/settings/accountdiscovery.h"
#include "requirements.h"
#include "testservers.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <optional>

using namespace Qt::StringLiterals;
using corvane::AccountDiscovery;
using corvane::ConnectionSecurity;
using corvane::FoundAccountSettings;
using corvane::MailServer;
using corvane::test::TestServers;
using Step = AccountDiscovery::Step;
using Outcome = AccountDiscovery::Outcome;

namespace {

// The domains of this program; the DNS server's zone file and the documents are its own.
const QString kZone = u"discovery-e2e.test"_s;

QString domain(const QString &label) {
    return label + u'.' + kZone;
}

quint16 closedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

struct Run {
    QList<Step> steps;
    QList<Outcome> outcomes;
    QStringList details;
    std::optional<FoundAccountSettings> found;
    QString nothing;

    // The detail of the first step of this kind that ended so.
    QString detailOf(Step step) const {
        for (qsizetype i = 0; i < outcomes.size() && i < steps.size(); ++i)
            if (steps[i] == step)
                return details[i];
        return {};
    }
    Outcome outcomeOf(Step step, int nth = 0) const {
        for (qsizetype i = 0; i < outcomes.size() && i < steps.size(); ++i)
            if (steps[i] == step && nth-- == 0)
                return outcomes[i];
        return Outcome::Failed;
    }
};

} // namespace

class TestDiscoveryServers : public QObject {
    Q_OBJECT

    std::optional<TestServers> servers;
    QString site; // under nginx's root
    QString siteUrl;
    QList<QSslCertificate> cas;

    void publish(const QString &domainName, const QString &file, const QByteArray &content) {
        const QString dir = site + u'/' + domainName;
        QVERIFY(QDir().mkpath(dir));
        QFile f(dir + u'/' + file);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(f.write(content), content.size());
    }

    void configure(AccountDiscovery &discovery) {
        discovery.setAutoconfigUrls(
            {siteUrl + u"/%1/autoconfig.xml"_s, siteUrl + u"/%1/well-known.xml"_s});
        discovery.addCaCertificates(cas);
        discovery.setNameserver(QHostAddress(servers->value(u"CORVANE_DNS_ADDRESS"_s)));
        discovery.setDnsTimeout(std::chrono::seconds(2));
        discovery.setHttpTimeout(std::chrono::seconds(10));
        discovery.setProbeTimeout(std::chrono::seconds(10));
        const quint16 closed = closedPort();
        discovery.setProbeRoute([closed](const QString &, quint16) {
            return std::pair{u"127.0.0.1"_s, closed};
        });
    }

    // Runs a search to its end, or up to the first step of stopAt.
    Run run(AccountDiscovery &discovery, const QString &address,
            std::optional<Step> stopAt = std::nullopt) {
        Run r;
        QObject::connect(&discovery, &AccountDiscovery::stepStarted, &discovery, [&](Step step) {
            if (stopAt && step == *stopAt) {
                discovery.cancel();
                return;
            }
            r.steps.append(step);
        });
        QObject::connect(&discovery, &AccountDiscovery::stepEnded, &discovery,
                         [&](Step, Outcome outcome, const QString &detail) {
                             r.outcomes.append(outcome);
                             r.details.append(detail);
                         });
        QObject::connect(&discovery, &AccountDiscovery::found, &discovery,
                         [&](const FoundAccountSettings &s) { r.found = s; });
        QObject::connect(&discovery, &AccountDiscovery::nothingFound, &discovery,
                         [&](const QString &text) { r.nothing = text; });
        discovery.start(address);
        if (!QTest::qWaitFor([&] { return !discovery.isRunning(); }, 60000))
            qWarning("the search did not end");
        return r;
    }

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void documentAtAutoconfigHost();
    void documentAtWellKnownAddress();
    void hostileDocumentsRefused_data();
    void hostileDocumentsRefused();
    void redirectionOffHttpsRefused();
    void srvRecords_data();
    void srvRecords();
    void silentNameServerTimesOut_data();
    void silentNameServerTimesOut();
    void cancelWhileLookingUp();
    void probeFindsDovecot_data();
    void probeFindsDovecot();
    void cliFindsAndAddsAccount();
};

void TestDiscoveryServers::initTestCase() {
    // The resolver's own waits for a silent name server end soon, so that the lookups that the
    // search abandons at its own time limit do not hold the program long at its exit.
    qputenv("RES_OPTIONS", "timeout:3 attempts:1");
    servers.emplace();
    if (!servers->has({"CORVANE_HTTPS_PORT", "CORVANE_HTTP_ROOT", "CORVANE_HTTP_CA",
                       "CORVANE_DNS_ADDRESS", "CORVANE_DNS_ZONE_DIR", "CORVANE_POP3_PORT",
                       "CORVANE_POP3S_PORT", "CORVANE_POP3_CA"}))
        CORVANE_REQUIRE_OR_SKIP(qPrintable(servers->why()));
    cas = QSslCertificate::fromPath(servers->value(u"CORVANE_HTTP_CA"_s)) +
          QSslCertificate::fromPath(servers->value(u"CORVANE_POP3_CA"_s));
    QCOMPARE(cas.size(), 2);
    const QString siteName = u"discovery-%1"_s.arg(QCoreApplication::applicationPid());
    site = servers->value(u"CORVANE_HTTP_ROOT"_s) + u'/' + siteName;
    QDir(site).removeRecursively();
    siteUrl = u"https://127.0.0.1:%1/%2"_s.arg(servers->value(u"CORVANE_HTTPS_PORT"_s), siteName);

    QFile zone(servers->value(u"CORVANE_DNS_ZONE_DIR"_s) + u"/discovery-e2e.zone"_s);
    QVERIFY(zone.open(QIODevice::WriteOnly | QIODevice::Truncate));
    const QString z = kZone;
    zone.write(QStringList{
                   u"_pop3s._tcp.srv.%1. 60 IN SRV 10 0 995 pop.srv.%1."_s.arg(z),
                   u"_pop3s._tcp.srv.%1. 60 IN SRV 20 0 995 backup.srv.%1."_s.arg(z),
                   u"_submission._tcp.srv.%1. 60 IN SRV 0 0 587 smtp.srv.%1."_s.arg(z),
                   u"_pop3._tcp.srvplain.%1. 60 IN SRV 0 0 110 mail.srvplain.%1."_s.arg(z),
                   u"_pop3s._tcp.srvaway.%1. 60 IN SRV 0 0 995 pop.hoster.test."_s.arg(z),
                   u"_pop3s._tcp.srvnone.%1. 60 IN SRV 0 0 0 ."_s.arg(z),
                   u"_submissions._tcp.srvnone.%1. 60 IN SRV 0 0 465 smtp.srvnone.%1."_s.arg(z),
               }
                   .join(u'\n')
                   .toUtf8() +
               '\n');
}

void TestDiscoveryServers::cleanupTestCase() {
    if (!site.isEmpty())
        QDir(site).removeRecursively();
    if (servers && servers->valid())
        QFile::remove(servers->value(u"CORVANE_DNS_ZONE_DIR"_s) + u"/discovery-e2e.zone"_s);
}

namespace {
QByteArray popDocument(const QByteArray &host, int port, const char *socketType,
                       const QByteArray &extra = {}) {
    return "<?xml version=\"1.0\"?>\n<clientConfig version=\"1.1\"><emailProvider id=\"p\">" +
           extra + "<incomingServer type=\"pop3\"><hostname>" + host + "</hostname><port>" +
           QByteArray::number(port) + "</port><socketType>" + socketType +
           "</socketType><username>%EMAILADDRESS%</username><authentication>"
           "password-cleartext</authentication></incomingServer></emailProvider></clientConfig>";
}
} // namespace

void TestDiscoveryServers::documentAtAutoconfigHost() {
    const QString d = domain(u"ac1"_s);
    publish(d, u"autoconfig.xml"_s, popDocument("pop.%EMAILDOMAIN%", 995, "SSL"));
    AccountDiscovery discovery;
    configure(discovery);
    const Run r = run(discovery, u"jo@"_s + d);
    QCOMPARE(r.steps, (QList<Step>{Step::Presets, Step::Autoconfig}));
    QVERIFY(r.found);
    QCOMPARE(r.found->source, FoundAccountSettings::Source::Autoconfig);
    QCOMPARE(r.found->incoming, (MailServer{u"pop."_s + d, 995, ConnectionSecurity::Tls}));
    QCOMPARE(r.found->userName, u"jo@"_s + d);
    QVERIFY(r.found->origin.startsWith(siteUrl));
}

void TestDiscoveryServers::documentAtWellKnownAddress() {
    const QString d = domain(u"ac2"_s);
    publish(d, u"well-known.xml"_s, popDocument("mail.%EMAILDOMAIN%", 110, "STARTTLS"));
    AccountDiscovery discovery;
    configure(discovery);
    const Run r = run(discovery, u"jo@"_s + d);
    QCOMPARE(r.steps, (QList<Step>{Step::Presets, Step::Autoconfig, Step::Autoconfig}));
    QCOMPARE(r.outcomes.value(1), Outcome::NothingFound);
    QVERIFY2(r.details.value(1).contains(u"404"_s), qPrintable(r.details.value(1)));
    QVERIFY(r.found);
    QCOMPARE(r.found->incoming, (MailServer{u"mail."_s + d, 110, ConnectionSecurity::StartTls}));
}

void TestDiscoveryServers::hostileDocumentsRefused_data() {
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("why");

    QTest::newRow("huge") << popDocument("pop.x", 995, "SSL",
                                         "<!--" + QByteArray(400 * 1024, 'x') + "-->")
                          << u"larger than"_s;
    QTest::newRow("malformed") << popDocument("pop.x", 995, "SSL").chopped(5)
                               << u"not well-formed XML"_s;
    QTest::newRow("external entity")
        << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE c [<!ENTITY e SYSTEM "
                      "\"file:///etc/passwd\">]><clientConfig>&e;</clientConfig>")
        << u"document type (DTD)"_s;
    QTest::newRow("http link") << popDocument("pop.%EMAILDOMAIN%", 995, "SSL",
                                              "<documentation url=\"http://plain.example/help\"/>")
                               << u"plain http"_s;
    QTest::newRow("server on another domain")
        << popDocument("pop.elsewhere.example", 995, "SSL", "<domain>other.example</domain>")
        << u"names servers outside"_s;
}

void TestDiscoveryServers::hostileDocumentsRefused() {
    QFETCH(QByteArray, document);
    QFETCH(QString, why);
    const QString d =
        domain(u"hostile-%1"_s.arg(QLatin1String(QTest::currentDataTag())).replace(u' ', u'-'));
    publish(d, u"autoconfig.xml"_s, document);
    AccountDiscovery discovery;
    configure(discovery);
    const Run r = run(discovery, u"jo@"_s + d, Step::DnsSrv);
    QVERIFY(!r.found);
    QCOMPARE(r.outcomeOf(Step::Autoconfig), Outcome::Refused);
    const QString detail = r.detailOf(Step::Autoconfig);
    QVERIFY2(detail.contains(why), qPrintable(detail));
    // The search goes on to the next address: a refused document is no answer.
    QCOMPARE(r.steps.count(Step::Autoconfig), 2);
}

void TestDiscoveryServers::redirectionOffHttpsRefused() {
    AccountDiscovery discovery;
    configure(discovery);
    discovery.setAutoconfigUrls({u"https://127.0.0.1:%1/redirect-to-http/%2"_s.arg(
        servers->value(u"CORVANE_HTTPS_PORT"_s), u"%1"_s)});
    const Run r = run(discovery, u"jo@"_s + domain(u"redirect"_s), Step::DnsSrv);
    QCOMPARE(r.outcomeOf(Step::Autoconfig), Outcome::Refused);
    const QString detail = r.detailOf(Step::Autoconfig);
    QVERIFY2(detail.contains(u"redirection"_s) && detail.contains(u"301"_s), qPrintable(detail));
}

void TestDiscoveryServers::srvRecords_data() {
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("incoming"); // host:port:security
    QTest::addColumn<QString>("outgoing"); // empty: none
    QTest::addColumn<QStringList>("elsewhere");

    QTest::newRow("POP3 with TLS, lowest priority first, submission")
        << u"srv"_s << u"pop.srv.%1:995:TLS"_s.arg(kZone) << u"smtp.srv.%1:587:STLS"_s.arg(kZone)
        << QStringList();
    QTest::newRow("POP3 with STLS")
        << u"srvplain"_s << u"mail.srvplain.%1:110:STLS"_s.arg(kZone) << QString() << QStringList();
    QTest::newRow("server outside the domain") << u"srvaway"_s << u"pop.hoster.test:995:TLS"_s
                                               << QString() << QStringList{u"pop.hoster.test"_s};
}

void TestDiscoveryServers::srvRecords() {
    QFETCH(QString, label);
    QFETCH(QString, incoming);
    QFETCH(QString, outgoing);
    QFETCH(QStringList, elsewhere);
    AccountDiscovery discovery;
    configure(discovery);
    const Run r = run(discovery, u"jo@"_s + domain(label));
    QCOMPARE(r.steps.constLast(), Step::DnsSrv);
    QVERIFY2(r.found, qPrintable(r.details.join(u" | "_s)));
    QCOMPARE(r.found->source, FoundAccountSettings::Source::DnsSrv);
    const auto text = [](const MailServer &s) {
        return u"%1:%2:%3"_s.arg(s.host).arg(s.port).arg(corvane::securityName(s.security));
    };
    QCOMPARE(text(r.found->incoming), incoming);
    QCOMPARE(r.found->outgoing ? text(*r.found->outgoing) : QString(), outgoing);
    QCOMPARE(r.found->otherDomainHosts, elsewhere);
}

void TestDiscoveryServers::silentNameServerTimesOut_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("limit");
    QTest::addColumn<QString>("detail");

    // The search's own limit ends the wait, or the system's resolver (3 seconds here) gives
    // up first: either way the user is told that the name server did not answer.
    QTest::newRow("silent, the search's limit")
        << u"jo@mail.silent.test"_s << 1 << u"The name server did not answer within 1 seconds."_s;
    QTest::newRow("silent, the resolver's limit")
        << u"jo@mail.silent.test"_s << 8
        << u"The name server did not answer in time (the resolver gave up after "_s;
    QTest::newRow("answering after 30 seconds")
        << u"jo@mail.slow.test"_s << 2 << u"The name server did not answer within 2 seconds."_s;
}

void TestDiscoveryServers::silentNameServerTimesOut() {
    QFETCH(QString, address);
    QFETCH(int, limit);
    QFETCH(QString, detail);
    AccountDiscovery discovery;
    configure(discovery);
    discovery.setDnsTimeout(std::chrono::seconds(limit));
    QElapsedTimer clock;
    clock.start();
    const Run r = run(discovery, address, Step::Probe);
    QCOMPARE(r.outcomeOf(Step::DnsSrv), Outcome::Failed);
    QVERIFY2(r.detailOf(Step::DnsSrv).startsWith(detail), qPrintable(r.detailOf(Step::DnsSrv)));
    QVERIFY2(clock.elapsed() < 30000, "the time limit did not end the lookups");
}

void TestDiscoveryServers::cancelWhileLookingUp() {
    AccountDiscovery discovery;
    configure(discovery);
    discovery.setDnsTimeout(std::chrono::seconds(5));
    QObject::connect(&discovery, &AccountDiscovery::stepStarted, &discovery, [&](Step step) {
        if (step == Step::DnsSrv)
            QTimer::singleShot(300, &discovery, [&] { discovery.cancel(); });
    });
    QSignalSpy ended(&discovery, &AccountDiscovery::stepEnded);
    QSignalSpy found(&discovery, &AccountDiscovery::found);
    QSignalSpy nothing(&discovery, &AccountDiscovery::nothingFound);
    discovery.start(u"jo@mail.silent.test"_s);
    QVERIFY(QTest::qWaitFor([&] { return !discovery.isRunning(); }, 20000));
    QTest::qWait(500);
    // Presets and the two document addresses ended; the lookup, stopped, reports nothing.
    QCOMPARE(ended.count(), 3);
    QCOMPARE(found.count() + nothing.count(), 0);
}

void TestDiscoveryServers::probeFindsDovecot_data() {
    QTest::addColumn<int>("port");
    QTest::addColumn<ConnectionSecurity>("security");

    QTest::newRow("TLS on 995") << 995 << ConnectionSecurity::Tls;
    QTest::newRow("STLS on 110") << 110 << ConnectionSecurity::StartTls;
}

void TestDiscoveryServers::probeFindsDovecot() {
    QFETCH(int, port);
    QFETCH(ConnectionSecurity, security);
    // Only mail.<domain> on the port of the row is routed to Dovecot; everything else meets a
    // closed port, and the domain has no document and no SRV record.
    const QString d = domain(u"probe"_s);
    const QString mail = u"mail."_s + d;
    const quint16 target =
        servers->value(port == 995 ? u"CORVANE_POP3S_PORT"_s : u"CORVANE_POP3_PORT"_s).toUShort();
    AccountDiscovery discovery;
    configure(discovery);
    const quint16 closed = closedPort();
    discovery.setProbeRoute([=](const QString &host, quint16 p) {
        return std::pair{u"127.0.0.1"_s, host == mail && p == port ? target : closed};
    });
    const Run r = run(discovery, u"jo@"_s + d);
    QVERIFY2(r.found, qPrintable(r.details.join(u" | "_s)));
    QCOMPARE(r.outcomeOf(Step::DnsSrv), Outcome::NothingFound);
    QCOMPARE(r.found->source, FoundAccountSettings::Source::Probe);
    QCOMPARE(r.found->incoming, (MailServer{mail, quint16(port), security}));
    QVERIFY(!r.found->unencrypted());
}

void TestDiscoveryServers::cliFindsAndAddsAccount() {
    const QString d = domain(u"cli"_s);
    publish(d, u"autoconfig.xml"_s,
            popDocument("pop.%EMAILDOMAIN%", 995, "SSL", "<domain>%EMAILDOMAIN%</domain>"));
    QTemporaryDir data;
    const QString caFile = data.filePath(u"ca.pem"_s);
    {
        QFile f(caFile);
        QVERIFY(f.open(QIODevice::WriteOnly));
        for (const QSslCertificate &c : std::as_const(cas))
            f.write(c.toPem());
    }
    const QStringList common{u"--data-dir"_s,        data.path(),
                             u"--ca-certificates"_s, caFile,
                             u"--name-server"_s,     servers->value(u"CORVANE_DNS_ADDRESS"_s),
                             u"--autoconfig-url"_s,  siteUrl + u"/%1/autoconfig.xml"_s};
    // Standard input is not a terminal: without --yes nothing is added.
    auto run = corvane::test::runCli(
        QStringList{u"accounts"_s, u"add"_s, u"--email"_s, u"jo@"_s + d} + common);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.outText().contains(u"[Settings document] Fetching "_s), qPrintable(run.outText()));
    QVERIFY2(run.outText().contains(u"POP3 server: pop.%1, port 995, TLS"_s.arg(d)),
             qPrintable(run.outText()));
    QVERIFY2(run.errText().contains(u"--yes"_s), qPrintable(run.errText()));
    QVERIFY(!QFile::exists(data.filePath(u"accounts.dat"_s)));

    run = corvane::test::runCli(QStringList{u"accounts"_s, u"add"_s, u"--email"_s, u"jo@"_s + d,
                                            u"--yes"_s, u"--password-stdin"_s} +
                                    common,
                                corvane::test::CliOptions().withInput("secret\n"));
    QVERIFY2(run.exitCode == 0, qPrintable(run.errText()));
    QVERIFY2(run.outText().endsWith(u"added account 0: jo@%1\n"_s.arg(d)),
             qPrintable(run.outText()));
    run = corvane::test::runCli({u"accounts"_s, u"list"_s, u"--data-dir"_s, data.path()});
    QCOMPARE(run.outText(), u"0\tjo@%1\tpop.%1\t995\tjo@%1\tjo@%1\tTLS\n"_s.arg(d));
}

QTEST_GUILESS_MAIN(TestDiscoveryServers)
#include "tst_discovery_servers.moc"
