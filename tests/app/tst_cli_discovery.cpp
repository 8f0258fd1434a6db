// corvane-cli accounts add --email ADDRESS: the servers found from the address, printed step
// by step, added only when confirmed; a server without encryption only with its own flag.
// Every server is a scripted one on loopback (or the built-in presets, which need none).

#include "clirunner.h"
#include "fakeserver.h"
#include "testsupport.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

using corvane::test::CliOptions;
using corvane::test::CliRun;
using corvane::test::FakeServer;
using corvane::test::runCli;

namespace {

quint16 closedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

// A POP3 server that answers the probe without offering STLS.
void scriptPlainServer(FakeServer &server) {
    server.send("+OK ready\r\n")
        .expect("CAPA")
        .send("+OK\r\nUSER\r\n.\r\n")
        .expect("QUIT")
        .closeConnection();
}

} // namespace

class TestCliDiscovery final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // accounts add --email address, with the search kept on loopback: no document, no name
    // server, and the probe's four servers on closed ports unless plainPort routes
    // pop.<domain>:110 to a server of the test.
    CliRun add(const QString &address, QStringList extra, quint16 plainPort = 0,
               const QByteArray &input = {}) const {
        const QString domain = address.mid(address.indexOf(u'@') + 1);
        const quint16 closed = closedPort();
        QStringList args{
            u"accounts"_s,         u"add"_s,
            u"--email"_s,          address,
            u"--data-dir"_s,       m_dir.path(),
            u"--autoconfig-url"_s, u"https://127.0.0.1:%1/%2"_s.arg(closed).arg(u"%1"_s),
            u"--name-server"_s,    u"127.0.0.1"_s};
        for (const char *host : {"pop", "mail"})
            for (int port : {995, 110}) {
                const bool plain = plainPort && port == 110 && qstrcmp(host, "pop") == 0;
                args << u"--probe-route"_s
                     << u"%1.%2:%3=127.0.0.1:%4"_s.arg(QLatin1String(host), domain)
                            .arg(port)
                            .arg(plain ? plainPort : closed);
            }
        return runCli(args + extra, CliOptions().withInput(input));
    }
    CliRun list() const {
        return runCli({u"accounts"_s, u"list"_s, u"--data-dir"_s, m_dir.path()});
    }

private Q_SLOTS:
    void init() { QFile::remove(m_dir.filePath(u"accounts.dat"_s)); }

    void presetAddedWithYes() {
        const CliRun r =
            add(u"someone@gmail.com"_s, {u"--yes"_s, u"--name"_s, u"Mine"_s}, 0, "pw\n");
        QVERIFY2(r.exitCode == 0, qPrintable(r.errText()));
        QVERIFY(r.outText().startsWith(u"Looking for the servers of someone@gmail.com:\n"
                                       u"[Built-in presets] Looking for gmail.com"_s));
        QVERIFY(r.outText().contains(u"POP3 server: pop.gmail.com, port 995, TLS\n"_s));
        QVERIFY(r.outText().contains(u"Note: "_s));
        QVERIFY(r.outText().endsWith(u"added account 0: Mine\n"_s));
        QCOMPARE(list().outText(),
                 u"0\tMine\tpop.gmail.com\t995\tsomeone@gmail.com\tsomeone@gmail.com\tTLS\n"_s);
    }

    void notConfirmedNotAdded() {
        // Standard input is not a terminal and --yes is missing: nothing is added.
        const CliRun r = add(u"someone@gmail.com"_s, {});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.errText().contains(u"not confirmed"_s) && r.errText().contains(u"--yes"_s),
                 qPrintable(r.errText()));
        QVERIFY(!QFile::exists(m_dir.filePath(u"accounts.dat"_s)));
    }

    void unencryptedNeedsItsOwnFlag() {
        FakeServer refused;
        scriptPlainServer(refused);
        CliRun r = add(u"jo@plain.test"_s, {u"--yes"_s}, refused.port());
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.outText().contains(u"POP3 server: pop.plain.test, port 110, no encryption"_s),
                 qPrintable(r.outText()));
        QVERIFY2(r.errText().contains(u"--allow-unencrypted"_s), qPrintable(r.errText()));
        QVERIFY(!QFile::exists(m_dir.filePath(u"accounts.dat"_s)));

        FakeServer accepted;
        scriptPlainServer(accepted);
        r = add(u"jo@plain.test"_s, {u"--yes"_s, u"--allow-unencrypted"_s}, accepted.port());
        QVERIFY2(r.exitCode == 0, qPrintable(r.errText()));
        QCOMPARE(list().outText(),
                 u"0\tjo@plain.test\tpop.plain.test\t110\tjo@plain.test\tjo@plain.test\tnone\n"_s);
        // The probe never logs in: nothing but CAPA and QUIT reached the server.
        QCOMPARE(accepted.received(), (QList<QByteArray>{"CAPA", "QUIT"}));
    }

    void nothingFound() {
        const CliRun r = add(u"jo@nothing.test"_s, {u"--yes"_s});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.errText().contains(u"No settings were found for nothing.test"_s),
                 qPrintable(r.errText()));
        QVERIFY(r.outText().contains(u"[Probe] Trying mail.nothing.test on port 110 (STLS)"_s));
    }

    void badArguments_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");

        QTest::newRow("not an address")
            << QStringList{u"--email"_s, u"nobody"_s} << u"not an e-mail address"_s;
        QTest::newRow("port without server")
            << QStringList{u"--email"_s, u"a@b.test"_s, u"--port"_s, u"995"_s}
            << u"go with --server"_s;
        QTest::newRow("plain document address")
            << QStringList{u"--email"_s, u"a@b.test"_s, u"--autoconfig-url"_s,
                           u"http://127.0.0.1/%1"_s}
            << u"only ever fetched over HTTPS"_s;
        QTest::newRow("bad name server")
            << QStringList{u"--email"_s, u"a@b.test"_s, u"--name-server"_s, u"dns.example"_s}
            << u"--name-server takes an IP address"_s;
    }
    void badArguments() {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const CliRun r =
            runCli(QStringList{u"accounts"_s, u"add"_s, u"--data-dir"_s, m_dir.path()} + args);
        QVERIFY(r.exitCode == 1 || r.exitCode == 2);
        QVERIFY2(r.errText().contains(message), qPrintable(r.errText()));
        QVERIFY(!QFile::exists(m_dir.filePath(u"accounts.dat"_s)));
    }
};

QTEST_GUILESS_MAIN(TestCliDiscovery)
#include "tst_cli_discovery.moc"
