#include "clirunner.h"
#include "core/settings/accountstore.h"
#include "testsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

using corvane::test::CliOptions;
using corvane::test::CliRun;
using corvane::test::runCli;

class TestCliAccounts final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString store() const { return m_dir.filePath(u"accounts.dat"_s); }
    CliRun accounts(QStringList args, const QByteArray &input = {}) const {
        args.prepend(u"accounts"_s);
        args << u"--data-dir"_s << m_dir.path();
        return runCli(args, CliOptions().withInput(input));
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QFile::exists(corvane::test::cliPath()), "CORVANE_CLI must name corvane-cli");
    }
    void init() { QFile::remove(store()); }

    void addEditDeleteList() {
        // Listing a directory without a store lists nothing and creates nothing.
        CliRun r = accounts({u"list"_s});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray());
        QVERIFY(!QFile::exists(store()));

        QCOMPARE(accounts({u"add"_s, u"--name"_s, u"Home"_s, u"--server"_s, u"pop.a.example"_s,
                           u"--user"_s, u"me"_s, u"--password"_s, u"s3cret-pw"_s, u"--email"_s,
                           u"me@a.example"_s})
                     .out,
                 "added account 0: Home\n"_ba);
        r = accounts({u"add"_s, u"--name"_s, u"Work\tDesk"_s, u"--server"_s, u"pop.b.example"_s,
                      u"--port"_s, u"995"_s, u"--password-stdin"_s},
                     "other-pw\n");
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, "added account 1: Work Desk\n"_ba);

        r = accounts({u"list"_s});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, "0\tHome\tpop.a.example\t110\tme\tme@a.example\tnone\n"
                        "1\tWork\\tDesk\tpop.b.example\t995\t\t\tTLS\n"_ba);
        QVERIFY(!r.out.contains("pw")); // passwords are never printed

        // A taken name is refused; a name differing in case is not taken.
        r = accounts({u"add"_s, u"--name"_s, u"Home"_s, u"--server"_s, u"x"_s});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains("That account name exists, please choose another"));
        QCOMPARE(accounts({u"add"_s, u"--name"_s, u"home"_s, u"--server"_s, u"x"_s}).exitCode, 0);

        // Edit changes only the given fields.
        QCOMPARE(
            accounts({u"edit"_s, u"0"_s, u"--port"_s, u"1100"_s, u"--name"_s, u"House"_s}).exitCode,
            0);
        r = accounts({u"list"_s});
        QVERIFY(r.out.startsWith("0\tHouse\tpop.a.example\t1100\tme\tme@a.example\tnone\n"));

        // The security is kept as chosen, whatever the port.
        QCOMPARE(accounts({u"edit"_s, u"0"_s, u"--security"_s, u"stls"_s}).exitCode, 0);
        QVERIFY(accounts({u"list"_s})
                    .out.startsWith("0\tHouse\tpop.a.example\t1100\tme\tme@a.example\tSTLS\n"));
        r = accounts({u"edit"_s, u"0"_s, u"--security"_s, u"ssl3"_s});
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.err.contains("--security takes none, STLS or TLS"));

        // Delete moves the later accounts up.
        QCOMPARE(accounts({u"delete"_s, u"0"_s}).exitCode, 0);
        QCOMPARE(accounts({u"remove"_s, u"1"_s}).exitCode, 0);
        QCOMPARE(accounts({u"list"_s}).out, "0\tWork\\tDesk\tpop.b.example\t995\t\t\tTLS\n"_ba);
    }

    void badArguments_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("no subcommand") << QStringList{} << 2;
        QTest::newRow("unknown subcommand") << QStringList{u"show"_s} << 2;
        QTest::newRow("unknown option") << QStringList{u"list"_s, u"--bogus"_s} << 2;
        QTest::newRow("add without server") << QStringList{u"add"_s, u"--name"_s, u"A"_s} << 2;
        QTest::newRow("port not a number")
            << QStringList{u"add"_s, u"--name"_s, u"A"_s,  u"--server"_s,
                           u"h"_s,   u"--port"_s, u"pop"_s}
            << 2;
        QTest::newRow("edit without tag") << QStringList{u"edit"_s, u"--name"_s, u"A"_s} << 2;
        QTest::newRow("tag not a number") << QStringList{u"delete"_s, u"Home"_s} << 2;
        QTest::newRow("tag out of range") << QStringList{u"delete"_s, u"3"_s} << 1;
        QTest::newRow("edit tag out of range")
            << QStringList{u"edit"_s, u"1"_s, u"--name"_s, u"A"_s} << 1;
        QTest::newRow("unknown sign-in method")
            << QStringList{u"add"_s, u"--name"_s, u"A"_s,       u"--server"_s,
                           u"h"_s,   u"--auth"_s, u"kerberos"_s}
            << 2;
        QTest::newRow("OAuth at a provider without a POP3 server")
            << QStringList{u"add"_s, u"--name"_s, u"A"_s, u"--auth"_s, u"oauth:nowhere"_s} << 1;
        QTest::newRow("authorize an unknown account")
            << QStringList{u"authorize"_s, u"Nobody"_s} << 1;
        QTest::newRow("authorize a password account")
            << QStringList{u"authorize"_s, u"Only"_s} << 1;
    }

    // An OAuth account takes its provider's POP3 server, port and security unless given.
    void oauthAccountFromPreset() {
        CliRun r = accounts({u"add"_s, u"--name"_s, u"Mail"_s, u"--user"_s, u"me@gmail.com"_s,
                             u"--auth"_s, u"oauth:google"_s});
        QCOMPARE(r.exitCode, 0);
        r = accounts({u"add"_s, u"--name"_s, u"Work"_s, u"--server"_s, u"pop.corp.example"_s,
                      u"--user"_s, u"me"_s, u"--auth"_s, u"oauth:google"_s});
        QCOMPARE(r.exitCode, 0);
        corvane::AccountStore store(this->store());
        QCOMPARE(store.account(0).Pop3Server, u"pop.gmail.com"_s);
        QCOMPARE(store.account(0).PortNumber, u"995"_s);
        QCOMPARE(store.account(0).Security, u"TLS"_s);
        QCOMPARE(store.account(0).AuthMethod, u"oauth:google"_s);
        QCOMPARE(store.account(1).Pop3Server, u"pop.corp.example"_s);
        r = accounts({u"edit"_s, u"1"_s, u"--auth"_s, u"password"_s});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(corvane::AccountStore(this->store()).account(1).AuthMethod, u"password"_s);
    }
    void badArguments() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QCOMPARE(accounts({u"add"_s, u"--name"_s, u"Only"_s, u"--server"_s, u"h"_s}).exitCode, 0);
        const QByteArray before = corvane::test::readFile(store());
        const CliRun r = accounts(args);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY(!r.err.isEmpty());
        QCOMPARE(corvane::test::readFile(store()), before);
    }

    void helpOnEverySubcommand_data() {
        QTest::addColumn<QString>("sub");
        for (const char *s : {"list", "add", "edit", "delete", "authorize"})
            QTest::newRow(s) << QString::fromLatin1(s);
    }
    void helpOnEverySubcommand() {
        QFETCH(QString, sub);
        const CliRun r = runCli({u"accounts"_s, sub, u"--help"_s});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.contains("--data-dir"));
    }

    void foreignStoreUntouched() {
        const QByteArray junk = "not a database at all\r\n";
        QVERIFY(corvane::test::writeFile(store(), junk));
        const CliRun r = accounts({u"add"_s, u"--name"_s, u"A"_s, u"--server"_s, u"h"_s});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains(QDir::toNativeSeparators(store()).toUtf8()));
        QCOMPARE(corvane::test::readFile(store()), junk);
    }
};

QTEST_GUILESS_MAIN(TestCliAccounts)
#include "tst_cli_accounts.moc"
