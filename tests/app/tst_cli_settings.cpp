#include "clirunner.h"
#include "testsupport.h"

#include "core/settings/programdata.h"
#include "core/settings/secretstore.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

using corvane::test::CliRun;
using corvane::test::runCli;

class TestCliSettings final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString ini() const { return m_dir.filePath(u"Settings.ini"_s); }
    CliRun settings(QStringList args) const {
        args.prepend(u"settings"_s);
        args << u"--data-dir"_s << m_dir.path();
        return runCli(args);
    }
    QByteArray shown(const QByteArray &key) const {
        for (const QByteArray &line : settings({u"show"_s}).out.split('\n'))
            if (line.startsWith(key + '='))
                return line.mid(key.size() + 1);
        return "(missing)";
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QFile::exists(corvane::test::cliPath()), "CORVANE_CLI must name corvane-cli");
    }
    void init() { QFile::remove(ini()); }

    void showReadsTheFile() {
        QVERIFY(corvane::test::writeFile(ini(), "[options]\r\nautointvl=500\r\ncolorban=$FF00\r\n"
                                                "[Blacklist]\r\n3=0\r\n"));
        const CliRun r = settings({u"show"_s});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.count('\n'), 42);
        QVERIFY(r.out.contains("Options.smtpauth=\n"));
        QVERIFY(r.out.startsWith(
            "# data folder: " + QDir::toNativeSeparators(m_dir.path()).toUtf8() + '\n'));
        QVERIFY(r.out.contains("Options.AutoIntvl=120\n"));
        QVERIFY(r.out.contains("Options.colorban=65280\n"));
        QVERIFY(r.out.contains("Blacklist.2=1\nBlacklist.3=0\n"));
        QVERIFY(r.out.contains("Options.website=https://corvane.example.org/\n"
                               "Options.supportaddress=support@corvane.example.org\n"
                               "Options.notify=0\n"));
        QVERIFY(r.out.contains("Count.deletecount=0\n"));
    }

    void set_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("shownKey");
        QTest::addColumn<QByteArray>("shownValue");
        QTest::newRow("interval") << u"autointvl"_s << u"45"_s << "Options.AutoIntvl"_ba
                                  << "45"_ba;
        QTest::newRow("hex interval") << u"AutoIntvl"_s << u"$1E"_s << "Options.AutoIntvl"_ba
                                      << "30"_ba;
        QTest::newRow("boolean word") << u"Startup"_s << u"yes"_s << "Options.Startup"_ba
                                      << "1"_ba;
        QTest::newRow("web colour") << u"colorfriend"_s << u"#0000FF"_s << "Options.colorfriend"_ba
                                    << "16711680"_ba;
        QTest::newRow("text") << u"bouncesubj"_s << u"Undeliverable: café"_s
                              << "Options.bouncesubj"_ba
                              << "Undeliverable: caf\xC3\xA9"_ba;
        QTest::newRow("tick") << u"Blacklist.13"_s << u"0"_s << "Blacklist.13"_ba
                              << "0"_ba;
        QTest::newRow("total") << u"deletecount"_s << u"41"_s << "Count.deletecount"_ba
                               << "41"_ba;
    }
    void set() {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, shownKey);
        QFETCH(QByteArray, shownValue);
        QVERIFY(corvane::test::writeFile(ini(), "; mine\r\n[Options]\r\nSave=0\r\n"));
        const CliRun r = settings({u"set"_s, key, value});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(shown(shownKey), shownValue);
        QCOMPARE(shown("Options.Save"), "0"_ba); // other values stay
        QVERIFY(corvane::test::readFile(ini()).startsWith("; mine\r\n[Options]\r\nSave=0\r\n"));
    }

    void badArguments_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no subcommand") << QStringList{};
        QTest::newRow("unknown key") << QStringList{u"set"_s, u"colour"_s, u"1"_s};
        QTest::newRow("missing value") << QStringList{u"set"_s, u"Save"_s};
        QTest::newRow("interval too large") << QStringList{u"set"_s, u"AutoIntvl"_s, u"500"_s};
        QTest::newRow("interval not a number") << QStringList{u"set"_s, u"AutoIntvl"_s, u"abc"_s};
        QTest::newRow("boolean junk") << QStringList{u"set"_s, u"Systray"_s, u"maybe"_s};
        QTest::newRow("colour junk") << QStringList{u"set"_s, u"colorban"_s, u"red"_s};
        QTest::newRow("total not a number") << QStringList{u"set"_s, u"deletecount"_s, u"x"_s};
        QTest::newRow("line break") << QStringList{u"set"_s, u"smtpserver"_s, u"a\nSave=0"_s};
        QTest::newRow("show with argument") << QStringList{u"show"_s, u"AutoIntvl"_s};
    }
    void badArguments() {
        QFETCH(QStringList, args);
        const QByteArray before = "[Options]\r\nAutoIntvl=5\r\n";
        QVERIFY(corvane::test::writeFile(ini(), before));
        const CliRun r = settings(args);
        QCOMPARE(r.exitCode, 2);
        QVERIFY(!r.err.isEmpty());
        QCOMPARE(corvane::test::readFile(ini()), before);
    }

    // The SMTP password comes from standard input, never the command line, and is kept apart
    // from Settings.ini; the commands that send mail read it from there.
    void smtpPassword() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"CORVANE_NO_KEYCHAIN"_s, u"1"_s);
        const auto password = [&](const QByteArray &input) {
            return runCli({u"settings"_s, u"smtp-password"_s, u"--data-dir"_s, m_dir.path()},
                          corvane::test::CliOptions().withInput(input).withEnvironment(env));
        };
        CliRun r = password("s3cret word\r\n");
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.startsWith("stored the SMTP password in "), r.out.constData());
        const QString secrets = m_dir.filePath(corvane::SecretStore::FileName);
        QCOMPARE(corvane::SecretStore(m_dir.path()).read(corvane::ProgramData::SmtpSecretKey),
                 u"s3cret word"_s);
        QVERIFY(!corvane::test::readFile(secrets).contains("s3cret"));
        QVERIFY(!corvane::test::readFile(ini()).contains("s3cret"));
        // No input at all is a mistake and keeps the stored password.
        r = password(QByteArray());
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.err.contains("no password on standard input"));
        QCOMPARE(corvane::SecretStore(m_dir.path()).read(corvane::ProgramData::SmtpSecretKey),
                 u"s3cret word"_s);
        // An empty line removes it.
        r = password("\n");
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.outText(), u"removed the SMTP password\n"_s);
        QCOMPARE(corvane::SecretStore(m_dir.path()).read(corvane::ProgramData::SmtpSecretKey),
                 std::nullopt);
        // The password is never an argument.
        QCOMPARE(settings({u"smtp-password"_s, u"hunter2"_s}).exitCode, 2);
    }

    void help_data() {
        QTest::addColumn<QString>("sub");
        QTest::newRow("show") << u"show"_s;
        QTest::newRow("set") << u"set"_s;
        QTest::newRow("smtp-password") << u"smtp-password"_s;
    }
    void help() {
        QFETCH(QString, sub);
        const CliRun r = runCli({u"settings"_s, sub, u"--help"_s});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.contains("--data-dir"));
    }
};

QTEST_GUILESS_MAIN(TestCliSettings)
#include "tst_cli_settings.moc"
