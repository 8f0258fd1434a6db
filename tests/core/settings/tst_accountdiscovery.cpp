// Finding an account's servers from its address, against scripted servers on loopback: the
// order of the steps, the stop at the first answer, what the probe sends (never a user name
// or a password), a redirection refused, and cancelling.

#include "core/errors.h"
#include "core/settings/accountdiscovery.h"
#include "fakeserver.h"

#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <map>
#include <memory>

using namespace Qt::StringLiterals;
using corvane::AccountDiscovery;
using corvane::ConnectionSecurity;
using corvane::FoundAccountSettings;
using corvane::MailServer;
using corvane::test::FakeServer;
using Step = AccountDiscovery::Step;
using Outcome = AccountDiscovery::Outcome;

namespace {

// A port on 127.0.0.1 where nothing listens.
quint16 closedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

// An HTTPS server answering one request with status and body, then closing.
std::unique_ptr<FakeServer> httpsAnswer(const QByteArray &status, const QByteArray &body,
                                        const QByteArray &extraHeader = {}) {
    auto server = std::make_unique<FakeServer>();
    server->enableTls();
    server->skipUntil("")
        .send("HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(body.size()) +
              "\r\nConnection: close\r\n" + extraHeader + "\r\n" + body)
        .closeConnection();
    return server;
}

QString urlOf(const FakeServer &server, const QString &path) {
    return u"https://127.0.0.1:%1/%2"_s.arg(server.port()).arg(path);
}

// The steps as they were reported, and the end.
struct Recorder {
    explicit Recorder(AccountDiscovery &discovery)
        : started(&discovery, &AccountDiscovery::stepStarted),
          ended(&discovery, &AccountDiscovery::stepEnded),
          found(&discovery, &AccountDiscovery::found),
          nothing(&discovery, &AccountDiscovery::nothingFound) {}

    QList<Step> startedSteps() const {
        QList<Step> steps;
        for (const QList<QVariant> &args : started)
            steps.append(args.at(0).value<Step>());
        return steps;
    }
    QList<Outcome> outcomes() const {
        QList<Outcome> list;
        for (const QList<QVariant> &args : ended)
            list.append(args.at(1).value<Outcome>());
        return list;
    }
    QString detail(int i) const { return ended.at(i).at(2).toString(); }
    bool waitForEnd(int ms = 20000) {
        return QTest::qWaitFor([&] { return found.count() + nothing.count() > 0; }, ms);
    }
    FoundAccountSettings result() const { return found.at(0).at(0).value<FoundAccountSettings>(); }

    QSignalSpy started, ended, found, nothing;
};

// Routes the probe's servers to loopback ports; unlisted ones go to a closed port.
AccountDiscovery::ProbeRoute routeTo(std::map<QString, quint16> ports) {
    const quint16 closed = closedPort();
    return [ports, closed](const QString &host, quint16 port) {
        const auto it = ports.find(u"%1:%2"_s.arg(host).arg(port));
        return std::pair{u"127.0.0.1"_s, it == ports.end() ? closed : it->second};
    };
}

// A discovery that meets no real server: the settings document and the name server on
// loopback ports where nothing listens, unless a test points them elsewhere.
void isolate(AccountDiscovery &discovery) {
    const quint16 closed = closedPort();
    discovery.setAutoconfigUrls({u"https://127.0.0.1:%1/a/%2"_s.arg(closed).arg(u"%1"_s),
                                 u"https://127.0.0.1:%1/b/%2"_s.arg(closed).arg(u"%1"_s)});
    discovery.setNameserver(QHostAddress::LocalHost);
    discovery.setDnsTimeout(std::chrono::seconds(5));
    discovery.setHttpTimeout(std::chrono::seconds(5));
    discovery.setProbeTimeout(std::chrono::seconds(5));
    discovery.addCaCertificates({FakeServer::certificate()});
    discovery.setProbeRoute(routeTo({}));
}

QByteArray popDocument(const QByteArray &host) {
    return "<clientConfig version=\"1.1\"><emailProvider id=\"x\"><incomingServer "
           "type=\"pop3\"><hostname>" +
           host +
           "</hostname><port>995</port><socketType>SSL</socketType><username>%EMAILLOCALPART%"
           "</username></incomingServer></emailProvider></clientConfig>";
}

} // namespace

class TestAccountDiscovery : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void refusesBadInput();
    void presetAnswersAtOnce();
    void documentAtSecondAddress();
    void redirectionIsNotFollowed();
    void stepsInOrderUpToAPlainServer();
    void probeSecuresWithStlsAndNeverLogsIn();
    void cancelStopsEverything();
};

void TestAccountDiscovery::refusesBadInput() {
    AccountDiscovery discovery;
    QVERIFY_THROWS_EXCEPTION(corvane::DataError,
                             discovery.setAutoconfigUrls({u"http://autoconfig.%1/x.xml"_s}));
    QCOMPARE(discovery.autoconfigUrls(), AccountDiscovery::DefaultAutoconfigUrls);
    QVERIFY_THROWS_EXCEPTION(corvane::DataError, discovery.start(u"not an address"_s));
    QVERIFY(!discovery.isRunning());
}

void TestAccountDiscovery::presetAnswersAtOnce() {
    AccountDiscovery discovery;
    isolate(discovery);
    Recorder r(discovery);
    discovery.start(u"Someone@GMAIL.com"_s);
    QVERIFY(r.waitForEnd());
    QCOMPARE(r.startedSteps(), QList<Step>{Step::Presets});
    QCOMPARE(r.outcomes(), QList<Outcome>{Outcome::Found});
    const FoundAccountSettings found = r.result();
    QCOMPARE(found.source, FoundAccountSettings::Source::Preset);
    QCOMPARE(found.incoming, (MailServer{u"pop.gmail.com"_s, 995, ConnectionSecurity::Tls}));
    QCOMPARE(found.userName, u"Someone@GMAIL.com"_s);
    QVERIFY(!found.unencrypted());
    QVERIFY(!found.notes.isEmpty());
}

void TestAccountDiscovery::documentAtSecondAddress() {
    const auto missing = httpsAnswer("404 Not Found", "nothing here");
    const auto present = httpsAnswer("200 OK", popDocument("pop.%EMAILDOMAIN%"));
    AccountDiscovery discovery;
    isolate(discovery);
    discovery.setAutoconfigUrls(
        {urlOf(*missing, u"mail/%1.xml"_s), urlOf(*present, u"well-known/%1.xml"_s)});
    Recorder r(discovery);
    discovery.start(u"jo@nowhere.test"_s);
    QVERIFY(r.waitForEnd());
    QCOMPARE(r.startedSteps(), (QList<Step>{Step::Presets, Step::Autoconfig, Step::Autoconfig}));
    QCOMPARE(r.outcomes(),
             (QList<Outcome>{Outcome::NothingFound, Outcome::NothingFound, Outcome::Found}));
    QVERIFY2(r.detail(1).contains(u"404"_s), qPrintable(r.detail(1)));
    QVERIFY(r.started.at(2).at(1).toString().contains(u"well-known/nowhere.test.xml"_s));
    const FoundAccountSettings found = r.result();
    QCOMPARE(found.source, FoundAccountSettings::Source::Autoconfig);
    QCOMPARE(found.incoming, (MailServer{u"pop.nowhere.test"_s, 995, ConnectionSecurity::Tls}));
    QCOMPARE(found.userName, u"jo"_s);
}

void TestAccountDiscovery::redirectionIsNotFollowed() {
    const auto redirect =
        httpsAnswer("301 Moved Permanently", {}, "Location: http://plain.example/config.xml\r\n");
    AccountDiscovery discovery;
    isolate(discovery);
    discovery.setAutoconfigUrls({urlOf(*redirect, u"%1"_s)});
    Recorder r(discovery);
    QObject::connect(&discovery, &AccountDiscovery::stepStarted, &discovery, [&](Step step) {
        if (step == Step::DnsSrv)
            discovery.cancel();
    });
    discovery.start(u"jo@nowhere.test"_s);
    QVERIFY(QTest::qWaitFor([&] { return !discovery.isRunning(); }, 20000));
    QCOMPARE(r.outcomes().value(1), Outcome::Refused);
    QVERIFY2(r.detail(1).contains(u"redirection"_s) && r.detail(1).contains(u"301"_s),
             qPrintable(r.detail(1)));
    QCOMPARE(redirect->connectionCount(), 1);
}

void TestAccountDiscovery::stepsInOrderUpToAPlainServer() {
    // The document offers IMAP only, the name server is silent, the servers on 995 are
    // missing, pop.<domain> answers on 110 without STLS and mail.<domain> not at all: every
    // step runs, and the plain server is proposed last, marked as such.
    const auto imapOnly = httpsAnswer(
        "200 OK", "<clientConfig><emailProvider><incomingServer type=\"imap\"><hostname>"
                  "imap.nowhere.test</hostname><port>993</port><socketType>SSL</socketType>"
                  "</incomingServer></emailProvider></clientConfig>");
    const auto missing = httpsAnswer("404 Not Found", {});
    FakeServer plain;
    plain.send("+OK ready\r\n")
        .expect("CAPA")
        .send("+OK\r\nUSER\r\nUIDL\r\n.\r\n")
        .expect("QUIT")
        .closeConnection();
    AccountDiscovery discovery;
    isolate(discovery);
    discovery.setAutoconfigUrls({urlOf(*missing, u"%1"_s), urlOf(*imapOnly, u"%1"_s)});
    discovery.setProbeRoute(routeTo({{u"pop.nowhere.test:110"_s, plain.port()}}));
    Recorder r(discovery);
    discovery.start(u"jo@nowhere.test"_s);
    QVERIFY(r.waitForEnd(40000));
    QCOMPARE(r.startedSteps(),
             (QList<Step>{Step::Presets, Step::Autoconfig, Step::Autoconfig, Step::DnsSrv,
                          Step::Probe, Step::Probe, Step::Probe, Step::Probe}));
    const QStringList probes{r.started.at(4).at(1).toString(), r.started.at(5).at(1).toString(),
                             r.started.at(6).at(1).toString(), r.started.at(7).at(1).toString()};
    QCOMPARE(probes, (QStringList{u"Trying pop.nowhere.test on port 995 (TLS)"_s,
                                  u"Trying mail.nowhere.test on port 995 (TLS)"_s,
                                  u"Trying pop.nowhere.test on port 110 (STLS)"_s,
                                  u"Trying mail.nowhere.test on port 110 (STLS)"_s}));
    const QList<Outcome> outcomes = r.outcomes();
    QCOMPARE(outcomes.size(), 8);
    QCOMPARE(outcomes[2], Outcome::NothingFound);
    QVERIFY2(r.detail(2).contains(u"no POP3 server"_s), qPrintable(r.detail(2)));
    QVERIFY(outcomes[3] != Outcome::Found);
    QCOMPARE(outcomes[4], Outcome::Failed);
    QCOMPARE(outcomes[6], Outcome::NothingFound);
    QVERIFY2(r.detail(6).contains(u"no encryption"_s), qPrintable(r.detail(6)));
    QCOMPARE(r.found.count(), 1);
    const FoundAccountSettings found = r.result();
    QCOMPARE(found.source, FoundAccountSettings::Source::Probe);
    QCOMPARE(found.incoming, (MailServer{u"pop.nowhere.test"_s, 110, ConnectionSecurity::None}));
    QVERIFY(found.unencrypted());
    QVERIFY(plain.mismatches().isEmpty());
}

void TestAccountDiscovery::probeSecuresWithStlsAndNeverLogsIn() {
    FakeServer stls;
    stls.send("+OK ready\r\n")
        .expect("CAPA")
        .send("+OK\r\nUSER\r\nSTLS\r\n.\r\n")
        .expect("STLS")
        .send("+OK begin TLS\r\n")
        .startTls()
        .expect("QUIT")
        .closeConnection();
    AccountDiscovery discovery;
    isolate(discovery);
    discovery.setProbeRoute(routeTo({{u"mail.nowhere.test:110"_s, stls.port()}}));
    Recorder r(discovery);
    discovery.start(u"jo@nowhere.test"_s);
    QVERIFY(r.waitForEnd(40000));
    QCOMPARE(r.found.count(), 1);
    QCOMPARE(r.result().incoming,
             (MailServer{u"mail.nowhere.test"_s, 110, ConnectionSecurity::StartTls}));
    QVERIFY(QTest::qWaitFor([&] { return stls.received().size() >= 3; }, 5000));
    QCOMPARE(stls.received(), (QList<QByteArray>{"CAPA", "STLS", "QUIT"}));
    QVERIFY(stls.mismatches().isEmpty());
}

void TestAccountDiscovery::cancelStopsEverything() {
    FakeServer silent;
    silent.enableTls();
    silent.fallSilent();
    AccountDiscovery discovery;
    isolate(discovery);
    discovery.setAutoconfigUrls({urlOf(silent, u"%1"_s)});
    Recorder r(discovery);
    QObject::connect(&discovery, &AccountDiscovery::stepStarted, &discovery, [&](Step step) {
        if (step == Step::Autoconfig)
            QTimer::singleShot(200, &discovery, [&] { discovery.cancel(); });
    });
    discovery.start(u"jo@nowhere.test"_s);
    QVERIFY(QTest::qWaitFor([&] { return !discovery.isRunning(); }, 10000));
    QTest::qWait(300);
    QCOMPARE(r.startedSteps(), (QList<Step>{Step::Presets, Step::Autoconfig}));
    QCOMPARE(r.ended.count(), 1);
    QCOMPARE(r.found.count() + r.nothing.count(), 0);
}

QTEST_GUILESS_MAIN(TestAccountDiscovery)
#include "tst_accountdiscovery.moc"
