#include "clirunner.h"
#include "core/platform/datadir.h"
#include "core/platform/datadirlock.h"
#include "core/records/deletionlog.h"
#include "core/rules/listfile.h"
#include "testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

using namespace Qt::StringLiterals;

using corvane::test::CliOptions;
using corvane::test::CliRun;
using corvane::test::runCli;

class TestCliLists final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QFile::exists(corvane::test::cliPath()), "CORVANE_CLI must name corvane-cli");
    }

    void writeThenDumpIsExact_data() {
        QTest::addColumn<QByteArray>("lines");
        QTest::newRow("two columns") << QByteArray("free money\tspam\nRe: Hi\t\n");
        QTest::newRow("x and y") << QByteArray("cheap\tpills\tpharmacy\n");
        QTest::newRow("escaped tab, break, backslash") << QByteArray("a\\tb\\nc\\\\d\\re\tdesc\n");
        QTest::newRow("UTF-8 text") << QByteArray("caf\xc3\xa9\t\xe6\x97\xa5\xe6\x9c\xac\n");
        QTest::newRow("entry without sub-items and empty caption") << QByteArray("\nonly\n");
    }
    void writeThenDumpIsExact() {
        QFETCH(QByteArray, lines);
        const QString file = path(u"roundtrip.dat"_s);
        QCOMPARE(runCli({u"lists"_s, u"write"_s, file}, CliOptions().withInput(lines)).exitCode, 0);
        const CliRun dump = runCli({u"lists"_s, u"dump"_s, file});
        QCOMPARE(dump.exitCode, 0);
        QCOMPARE(dump.out, lines);
    }

    // A list as long as a list file may be goes through write, dump and a start of the
    // program whole; one entry more is refused with a message, and the file stays as it was.
    void millionEntriesRoundTrip() {
        QByteArray lines;
        lines.reserve(corvane::kMaxListEntries * 24);
        for (int i = 0; i < corvane::kMaxListEntries; ++i)
            lines += "subject number " + QByteArray::number(i) + "\tsome words\n";
        QTemporaryDir data;
        const QString file = data.filePath(u"blsubj.dat"_s);
        const CliRun write =
            runCli({u"lists"_s, u"write"_s, u"--sorted"_s, file}, CliOptions().withInput(lines));
        QVERIFY2(write.exitCode == 0, write.err.constData());
        const CliRun dump = runCli({u"lists"_s, u"dump"_s, file});
        QVERIFY2(dump.exitCode == 0, dump.err.left(500).constData());
        QCOMPARE(dump.out.count('\n'), corvane::kMaxListEntries);
        const QByteArray written = corvane::test::readFile(file);

        // A start of the program (a pass with no accounts) reads the list whole and keeps it.
        const CliRun pass = runCli({u"auto"_s, u"--once"_s, u"--data-dir"_s, data.path()});
        QVERIFY2(pass.exitCode == 0, pass.err.constData());
        QVERIFY2(!pass.err.contains("blsubj.dat"), pass.err.constData());
        QVERIFY(!QFileInfo::exists(file + u".damaged"_s));
        QCOMPARE(corvane::test::readFile(file), written);

        const CliRun over = runCli({u"lists"_s, u"write"_s, file},
                                   CliOptions().withInput(lines + "one more\n"));
        QCOMPARE(over.exitCode, 1);
        QCOMPARE(over.err, QByteArray("corvane-cli lists write: The list holds 1000001 entries, "
                                      "more than the 1000000 a list file may hold. Nothing was "
                                      "written.\n"));
        QCOMPARE(corvane::test::readFile(file), written);
    }

    // A file that claims more entries than a list file may hold is refused, not cut short.
    void overTheBoundIsRefused() {
        const QString file = path(u"claims.dat"_s);
        QByteArray bytes("\0\0\0\0\0", 5);
        const qint32 count = corvane::kMaxListEntries + 1;
        std::memcpy(bytes.data() + 1, &count, 4);
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        const CliRun dump = runCli({u"lists"_s, u"dump"_s, file});
        QCOMPARE(dump.exitCode, 1);
        QVERIFY2(dump.err.contains("holds 1000001 entries, more than the 1000000 a list file may "
                                   "hold"),
                 dump.err.constData());
    }

    // lists write into a data directory waits for no program: it takes the directory's lock,
    // so a running program cannot write its own copy of the list over the new one.
    void writeIntoADataDirectoryTakesTheLock() {
        QTemporaryDir data;
        corvane::DataDirectoryLock held{corvane::DataDirectory(data.path())};
        held.acquire();
        const QString file = data.filePath(u"freml.dat"_s);
        const CliRun run =
            runCli({u"lists"_s, u"write"_s, file}, CliOptions().withInput("a@b.example\n"));
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.startsWith("corvane-cli lists write: "), run.err.constData());
        QVERIFY2(run.err.contains("in use"), run.err.constData());
        QVERIFY(!QFileInfo::exists(file));
    }

    // A command that adds nothing to the log leaves its bytes alone (LF line ends included),
    // and a start removes the temporary files that a killed write left behind.
    void startLeavesTheLogAndClearsStrayFiles() {
        QTemporaryDir data;
        const QByteArray log("first line\nsecond line\n");
        QFile f(data.filePath(u"logfile.log"_s));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(log);
        f.close();
        const QString stray = data.filePath(u".corvane-0123456789abcdef.tmp"_s);
        QFile t(stray);
        QVERIFY(t.open(QIODevice::WriteOnly));
        t.write("half");
        t.close();
        const CliRun run = runCli({u"lists"_s, u"update"_s, u"--data-dir"_s, data.path()});
        QCOMPARE(run.exitCode, 1); // no publisher is set
        QCOMPARE(corvane::test::readFile(data.filePath(u"logfile.log"_s)), log);
        QVERIFY(!QFileInfo::exists(stray));
    }

    void writeForms() {
        const QString file = path(u"empty.dat"_s);
        QCOMPARE(runCli({u"lists"_s, u"write"_s, file}).exitCode, 0);
        QCOMPARE(corvane::test::readFile(file).toHex(' '),
                 QByteArray("01 00 00 00 00 78 da 03 00 00 00 00 01"));
        QCOMPARE(runCli({u"lists"_s, u"write"_s, u"--uncompressed"_s, file},
                        CliOptions().withInput("x\ty\n"))
                     .exitCode,
                 0);
        const QByteArray plain = corvane::test::readFile(file);
        QCOMPARE(plain.size(), 5 + 516);
        QCOMPARE(plain.left(5).toHex(' '), QByteArray("00 01 00 00 00"));
    }

    // The sorted order is the same whatever the locale variables say.
    void sortedOrderIgnoresTheLocale_data() {
        QTest::addColumn<QString>("lang");
        QTest::newRow("C") << u"C"_s;
        QTest::newRow("POSIX") << u"POSIX"_s;
        QTest::newRow("German") << u"de_DE.UTF-8"_s;
        QTest::newRow("Swedish") << u"sv_SE.UTF-8"_s;
    }
    void sortedOrderIgnoresTheLocale() {
        QFETCH(QString, lang);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"LANG"_s, lang);
        env.insert(u"LC_ALL"_s, lang);
        const QString file = path(u"sorted.dat"_s);
        QCOMPARE(runCli({u"lists"_s, u"write"_s, u"--sorted"_s, file},
                        CliOptions()
                            .withInput("failure notice\nZulu\naaa\nAaa\n\xc3\xa4rger\nzebra\n")
                            .withEnvironment(env))
                     .exitCode,
                 0);
        const CliRun dump =
            runCli({u"lists"_s, u"dump"_s, file}, CliOptions().withEnvironment(env));
        QCOMPARE(dump.out, QByteArray("aaa\nAaa\n\xc3\xa4rger\nfailure notice\nzebra\nZulu\n"));
    }

    void damagedFileIsReportedAfterItsEntries() {
        const QString file = path(u"damaged.dat"_s);
        QCOMPARE(runCli({u"lists"_s, u"write"_s, u"--uncompressed"_s, file},
                        CliOptions().withInput("one\ta\ntwo\tb\n"))
                     .exitCode,
                 0);
        QByteArray bytes = corvane::test::readFile(file);
        bytes.chop(100);
        QVERIFY(corvane::test::writeFile(file, bytes));
        const CliRun dump = runCli({u"lists"_s, u"dump"_s, file});
        QCOMPARE(dump.exitCode, 1);
        // The second record lost part of its description: its caption is kept, as read.
        QCOMPARE(dump.out, QByteArray("one\ta\ntwo\n"));
        QVERIFY2(dump.err.contains("damaged"), dump.err.constData());
    }

    void badArguments_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("no command") << QStringList{} << 2;
        QTest::newRow("unknown command") << QStringList{u"frobnicate"_s} << 2;
        QTest::newRow("help") << QStringList{u"--help"_s} << 0;
        QTest::newRow("lists help") << QStringList{u"lists"_s, u"--help"_s} << 0;
        QTest::newRow("dump help") << QStringList{u"lists"_s, u"dump"_s, u"--help"_s} << 0;
        QTest::newRow("dump without file") << QStringList{u"lists"_s, u"dump"_s} << 2;
        QTest::newRow("dump missing file")
            << QStringList{u"lists"_s, u"dump"_s, u"/nonexistent/x.dat"_s} << 1;
        QTest::newRow("unknown option")
            << QStringList{u"lists"_s, u"dump"_s, u"--bogus"_s, u"x"_s} << 2;
        QTest::newRow("classify without text or files") << QStringList{u"classify"_s} << 2;
        QTest::newRow("classify files and a subject")
            << QStringList{u"classify"_s, u"--subject"_s, u"s"_s, u"--sender"_s, u"a"_s, u"x.eml"_s}
            << 2;
        QTest::newRow("classify bad rules")
            << QStringList{u"classify"_s, u"--rules"_s,  u"1,14"_s, u"--subject"_s,
                           u"s"_s,        u"--sender"_s, u"a"_s}
            << 2;
    }
    void badArguments() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        const CliRun run = runCli(args);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY(!(exitCode == 0 ? run.out : run.err).isEmpty());
    }

    // The file form parses each message as a fetched header is parsed, whether saved by a mail
    // program (no end line) or in the archive's form; each line gives mark, learned score
    // ("-": no learning database), reason and file.
    void classifyMessageFiles() {
        QTemporaryDir dir;
        QCOMPARE(runCli({u"lists"_s, u"write"_s, u"--sorted"_s, dir.filePath(u"bleml.dat"_s)},
                        CliOptions().withInput("@spam.example\t\n"))
                     .exitCode,
                 0);
        const QString spam = dir.filePath(u"spam.eml"_s), plain = dir.filePath(u"plain.eml"_s),
                      score = dir.filePath(u"score.eml"_s);
        QVERIFY(corvane::test::writeFile(
            spam, "From: Deals <deals@SPAM.example>\r\nSubject: hello\r\n\r\nbody\r\n.\r\n"));
        QVERIFY(corvane::test::writeFile(
            plain, "From: Ann <ann@example.org>\r\nSubject: =?UTF-8?Q?lunch?=\r\n\r\n.\r\n"));
        QVERIFY(corvane::test::writeFile(score, "From: a@b.c\r\nSubject: hi\r\n"
                                                "X-Spam-Score: 7.5\r\n\r\n.\r\n"));
        // As a mail program saves it: LF line ends, no end line, a line too long for the scan
        // far below the lines it fetches.
        const QString saved = dir.filePath(u"saved.eml"_s);
        QVERIFY(corvane::test::writeFile(saved, "From mbox-separator\nFrom: x@spam.example\n"
                                                "Subject: hi\n\nbody\n" +
                                                    QByteArray(20000, 'x') + "\n"));
        const CliRun run = runCli({u"classify"_s, u"--data-dir"_s, dir.path(), u"--rules"_s, u"4"_s,
                                   spam, plain, score, saved, dir.filePath(u"missing.eml"_s)});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(QString::fromUtf8(run.out),
                 u"Spam\t-\te-mail black list\t%1\nPlain\t-\t\t%2\nSpam\t-\trule 4\t%3\n"
                 u"Spam\t-\te-mail black list\t%4\n"_s.arg(spam, plain, score, saved));
        QVERIFY2(run.err.contains("there is no file \"" + dir.filePath(u"missing.eml"_s).toUtf8() +
                                  "\". To classify a subject, give it with --subject"),
                 run.err.constData());
    }

    void classifyDamagedFiles_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("error");
        QTest::newRow("over-long header line")
            << "From: a@b.c\r\nSubject: " + QByteArray(20000, 'x') + "\r\n\r\n.\r\n"
            << QByteArray("Max line length exceeded.");
        QTest::newRow("text, not mail")
            << QByteArray("Dear diary,\nFrom: me\n") << QByteArray("not a mail message");
        QTest::newRow("no field every message has")
            << QByteArray("X-Note: hi\n\nbody\n") << QByteArray("not a mail message");
        QTest::newRow("empty file") << QByteArray("") << QByteArray("not a mail message");
    }
    void classifyDamagedFiles() {
        // A damaged file gives its error and exit 1; the files around it still print.
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, error);
        QTemporaryDir dir;
        const QString before = dir.filePath(u"before.eml"_s), damaged = dir.filePath(u"bad.eml"_s),
                      after = dir.filePath(u"after.eml"_s),
                      lenient = dir.filePath(u"lenient.eml"_s);
        QVERIFY(corvane::test::writeFile(before, "Subject: FREE gift\r\n\r\n.\r\n"));
        QVERIFY(corvane::test::writeFile(damaged, content));
        QVERIFY(corvane::test::writeFile(after, "Subject: hello\r\n\r\n.\r\n"));
        // A From the strict parser rejects is whole: classified by its lenient sender.
        QVERIFY(corvane::test::writeFile(
            lenient, "From: Loan Market <x@spam.biz>@a\r\nSubject: hello\r\n\r\n.\r\n"));
        const CliRun run = runCli({u"classify"_s, u"--data-dir"_s, dir.path(), u"--rules"_s,
                                   u"1,9"_s, before, damaged, after, lenient});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(QString::fromUtf8(run.out),
                 u"Spam\t-\trule 1\t%1\nPlain\t-\t\t%2\nSpam\t-\trule 9\t%3\n"_s.arg(before, after,
                                                                                     lenient));
        QVERIFY2(run.err.contains(damaged.toUtf8() + ": ") && run.err.contains(error),
                 run.err.constData());
        QCOMPARE(run.err.count('\n'), 1);
    }

    void classifyUsesTheDataDirectory_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("mark");
        QTest::newRow("initial subject list")
            << QStringList{u"--subject"_s, u"Re: Details"_s, u"--sender"_s, u"a@b.c"_s}
            << QByteArray("Spam\n");
        QTest::newRow("e-mail black list file")
            << QStringList{u"--subject"_s, u"hello"_s, u"--sender"_s, u"x <a@spam.example>"_s}
            << QByteArray("Spam\n");
        QTest::newRow("friendly file")
            << QStringList{u"--subject"_s, u"FREE"_s, u"--sender"_s, u"Ann <ann@friend.example>"_s}
            << QByteArray("Friendly\n");
        QTest::newRow("rules ticked")
            << QStringList{u"--subject"_s, u"FREE"_s, u"--sender"_s, u"a@b.c"_s}
            << QByteArray("Spam\n");
        QTest::newRow("subject alone")
            << QStringList{u"--subject"_s, u"Re: Details"_s} << QByteArray("Spam\n");
        QTest::newRow("sender alone")
            << QStringList{u"--sender"_s, u"x <a@spam.example>"_s} << QByteArray("Spam\n");
        QTest::newRow("rules none") << QStringList{u"--rules"_s, u"none"_s,     u"--subject"_s,
                                                   u"FREE"_s,    u"--sender"_s, u"a@b.c"_s}
                                    << QByteArray("Plain\n");
        QTest::newRow("score from the header file")
            << QStringList{u"--rules"_s,  u"4"_s,     u"--subject"_s, u"hi"_s,
                           u"--sender"_s, u"a@b.c"_s, u"--headers"_s, u"HEADERS"_s}
            << QByteArray("Spam\n");
    }
    void classifyUsesTheDataDirectory() {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, mark);
        QTemporaryDir dir;
        QCOMPARE(runCli({u"lists"_s, u"write"_s, u"--sorted"_s, dir.filePath(u"bleml.dat"_s)},
                        CliOptions().withInput("@spam.example\tknown spammer\n"))
                     .exitCode,
                 0);
        QCOMPARE(runCli({u"lists"_s, u"write"_s, dir.filePath(u"freml.dat"_s)},
                        CliOptions().withInput("@friend.example\t\n"))
                     .exitCode,
                 0);
        const QString headers = dir.filePath(u"headers.txt"_s);
        QVERIFY(corvane::test::writeFile(headers, "Subject: hi\r\nX-Spam-Score: 5.2\r\n"));
        args.replaceInStrings(u"HEADERS"_s, headers);
        const CliRun run = runCli(QStringList{u"classify"_s, u"--data-dir"_s, dir.path()} + args);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, mark);
    }
};

QTEST_GUILESS_MAIN(TestCliLists)
#include "tst_cli_lists.moc"
