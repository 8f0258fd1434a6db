// corvane-cli process, auto and classify on a data directory, without real mail servers: the
// arguments they refuse, an account that cannot be reached, the exit codes that tell a cron
// job what happened, automatic mode stopped by a signal, and the rule ticks that classify
// takes from Settings.ini. Runs against real servers are in tests/e2e.

#include "clirunner.h"
#include "core/records/deletionlog.h"
#include "core/rules/listfile.h"
#include "core/rules/miscrules.h"
#include "core/rules/rulelist.h"
#include "core/rules/rulelists.h"
#include "core/settings/accountstore.h"
#include "core/settings/settings.h"
#include "fakeserver.h"
#include "fulldisk.h"
#include "testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;
using corvane::test::CliRun;
using corvane::test::FakeServer;
using corvane::test::runCli;

namespace {

// A spam message (its subject is black-listed in the data directory) as the server holds it.
const QByteArray kSpam = "From: pills@spam.example\r\nTo: me@example.net\r\nSubject: cheap "
                         "pills\r\nDate: Mon, 6 May 2024 07:00:00 +0000\r\n\r\nBuy.\r\n";

// The conversation of a mailbox holding kSpam, from the greeting through the login and the
// scan; then, unless scanOnly, the archive copy of message 1 up to the client's DELE 1, not
// yet answered.
void serveUntilDele(FakeServer &server, bool scanOnly = false, bool learning = true) {
    const QByteArray size = QByteArray::number(kSpam.size());
    server.send("+OK ready\r\n")
        .expect("USER u")
        .send("+OK\r\n")
        .expect("PASS p")
        .send("+OK\r\n")
        .expect("STAT")
        .send("+OK 1 " + size + "\r\n")
        .expect("LIST")
        .send("+OK\r\n1 " + size + "\r\n.\r\n")
        // Learning is on by default: the scan fetches the first 20 body lines with the header.
        .expect(learning ? "TOP 1 20" : "TOP 1 0")
        .send("+OK\r\n" + kSpam + ".\r\n")
        .expect("LIST 1")
        .send("+OK 1 " + size + "\r\n");
    if (scanOnly)
        return;
    server.expect("RETR 1").send("+OK\r\n" + kSpam + ".\r\n").expect("DELE 1");
}

// A data directory whose accounts One and Two (user u, password p) are on 127.0.0.1 at the
// given ports, whose subject black list holds "cheap pills", and whose rules are all off.
void makeDataDirectory(const QString &path, quint16 portOne, quint16 portTwo = 0,
                       const QString &securityOne = {}, bool learning = true) {
    corvane::AccountStore store(path + u"/accounts.dat"_s);
    store.insert({u"One"_s, u"127.0.0.1"_s, QString::number(portOne), u"u"_s, u"p"_s,
                  u"u@example.net"_s, securityOne});
    if (portTwo)
        store.insert({u"Two"_s, u"127.0.0.1"_s, QString::number(portTwo), u"u"_s, u"p"_s,
                      u"u@example.net"_s});
    corvane::Settings settings;
    settings.learning = learning;
    corvane::MiscRules misc;
    misc.setAll(false);
    corvane::SettingsFile(path + u"/Settings.ini"_s).WriteConfiguration(settings, misc, u"0"_s);
    corvane::RuleList subjects(corvane::RuleList::Order::ByCaption);
    subjects.add(u"cheap pills"_s, {u"test"_s});
    corvane::SaveListFile(
        subjects, path + u"/"_s + corvane::listFileName(corvane::ListKind::SubjectBlack), true);
}

// A port on 127.0.0.1 that nobody listens on.
quint16 closedPort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : quint16(1);
}

} // namespace

class TestCliProcessing final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QFile::exists(corvane::test::cliPath()), "CORVANE_CLI must name corvane-cli");
    }

    void refused_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("says");

        QTest::newRow("process without account")
            << QStringList{u"process"_s, u"--delete"_s, u"1"_s} << 2 << QByteArray("NAME");
        QTest::newRow("process without marks")
            << QStringList{u"process"_s, u"Home"_s} << 2 << QByteArray("--delete or --bounce");
        QTest::newRow("delete and bounce the same message")
            << QStringList{u"process"_s, u"Home"_s, u"--delete"_s, u"1,2"_s, u"--bounce"_s, u"2"_s}
            << 2 << QByteArray("message 2");
        QTest::newRow("message number zero")
            << QStringList{u"process"_s, u"Home"_s, u"--delete"_s, u"0"_s} << 2
            << QByteArray("from 1");
        QTest::newRow("message number not a number")
            << QStringList{u"process"_s, u"Home"_s, u"--bounce"_s, u"1,x"_s} << 2
            << QByteArray("from 1");
        QTest::newRow("process timeout")
            << QStringList{u"process"_s, u"Home"_s, u"--delete"_s, u"1"_s, u"--timeout"_s, u"0"_s}
            << 2 << QByteArray("--timeout");
        QTest::newRow("unknown account")
            << QStringList{u"process"_s, u"Work"_s, u"--delete"_s, u"1"_s} << 1
            << QByteArray("no account named 'Work'");
        // The error names the command that lists the accounts of the same folder.
        QTest::newRow("check: unknown account")
            << QStringList{u"check"_s, u"Work"_s} << 1
            << QByteArray("The accounts are listed by: corvane-cli accounts list --data-dir /");
        // A stored account keeps its settings: the server's options go with --host only.
        QTest::newRow("check: account with --port")
            << QStringList{u"check"_s, u"Home"_s, u"--port"_s, u"11119"_s} << 2
            << QByteArray("give either an account NAME or --host: --port goes with --host");
        QTest::newRow("check: account with --user")
            << QStringList{u"check"_s, u"Home"_s, u"--user"_s, u"nobody"_s} << 2
            << QByteArray("--user goes with --host");
        QTest::newRow("check: account with --password-file")
            << QStringList{u"check"_s, u"Home"_s, u"--password-file"_s, u"pw.txt"_s} << 2
            << QByteArray("--password-file goes with --host");
        // Exit code 75: try again later.
        QTest::newRow("server not reachable")
            << QStringList{u"process"_s, u"Home"_s, u"--delete"_s, u"1"_s} << 75
            << QByteArray("Could not connect with \"127.0.0.1\"");
        QTest::newRow("auto with an argument")
            << QStringList{u"auto"_s, u"Home"_s} << 2 << QByteArray("unexpected argument");
        QTest::newRow("auto timeout")
            << QStringList{u"auto"_s, u"--timeout"_s, u"x"_s} << 2 << QByteArray("--timeout");
    }
    void refused() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, says);

        QTemporaryDir dir;
        {
            corvane::AccountStore store(dir.filePath(u"accounts.dat"_s));
            store.insert({u"Home"_s, u"127.0.0.1"_s, QString::number(closedPort()), u"u"_s, u"p"_s,
                          u"u@example.net"_s});
        }
        const CliRun run = runCli(args + QStringList{u"--data-dir"_s, dir.path()});
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(says), run.err.constData());
        QVERIFY(run.out.isEmpty());
    }

    void autoPassesOverUnreachableAccounts() {
        QTemporaryDir dir;
        {
            corvane::AccountStore store(dir.filePath(u"accounts.dat"_s));
            for (const QString &name : {u"One"_s, u"Two"_s})
                store.insert({name, u"127.0.0.1"_s, QString::number(closedPort()), u"u"_s, u"p"_s,
                              QString()});
        }
        const CliRun run = runCli({u"auto"_s, u"--once"_s, u"--data-dir"_s, dir.path()});
        // Both accounts are reported; --once says that not every account was screened, for a
        // reason that may pass (75: try again later).
        QCOMPARE(run.exitCode, 75);
        const QList<QByteArray> lines = run.out.split('\n');
        QVERIFY(lines.at(0).startsWith("pass at "));
        QVERIFY2(lines.at(1).startsWith("One\t127.0.0.1\tnot connected: Socket Error # 10061"),
                 run.out.constData());
        QVERIFY(lines.at(2).startsWith("Two\t127.0.0.1\tnot connected"));
        // The data directory was saved as the desktop program leaves it.
        QVERIFY(QFile::exists(dir.filePath(u"Settings.ini"_s)));
        QVERIFY(QFile::exists(dir.filePath(u"logfile.log"_s)));
    }

    void exitCodes_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("server"); // how the server behaves
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("says"); // on stderr, or on stdout for auto

        const QStringList check{u"check"_s, u"One"_s};
        const QStringList process{u"process"_s, u"One"_s, u"--delete"_s, u"1"_s};
        const QStringList pass{u"auto"_s, u"--once"_s};
        QTest::newRow("check: server unreachable")
            << check << u"none"_s << 75 << QByteArray("Could not connect");
        QTest::newRow("check: server stops answering")
            << check << u"silent"_s << 75 << QByteArray("Could not connect");
        QTest::newRow("check: login refused")
            << check << u"login refused"_s << 1
            << QByteArray("Could not log in to \"127.0.0.1\": the server refused the user name "
                          "or password. The server answered: ");
        // A certificate that is refused will not mend itself: not "try again later".
        QTest::newRow("check: the certificate is refused")
            << check << u"untrusted certificate"_s << 1
            << QByteArray("The secure connection to 127.0.0.1 could not be established: ");
        QTest::newRow("process: QUIT answered +OK") << process << u"quit ok"_s << 0 << QByteArray();
        QTest::newRow("process: QUIT answered -ERR")
            << process << u"quit refused"_s << 3
            << QByteArray("answered QUIT with an error (\"some deleted messages not removed\")");
        QTest::newRow("process: QUIT unanswered")
            << process << u"quit unanswered"_s << 3 << QByteArray("did not answer QUIT");
        QTest::newRow("process: connection drops at DELE")
            << process << u"drop at DELE"_s << 75
            << QByteArray("no message of this run has been deleted");
        QTest::newRow("process: the log cannot be read")
            << process << u"log unreadable"_s << 1 << QByteArray("The deletion log ");
        // Found before anything is done.
        QTest::newRow("process: the archive folder's disk is full")
            << process << u"archive full"_s << 1
            << QByteArray("cannot be written (No space left on device), so no copy of a deleted "
                          "message could be kept. Nothing has been processed.");
        QTest::newRow("auto: QUIT unanswered")
            << pass << u"quit unanswered"_s << 3 << QByteArray("One\t127.0.0.1\toutcome unknown: ");
        QTest::newRow("auto: QUIT answered -ERR")
            << pass << u"quit refused"_s << 3 << QByteArray("One\t127.0.0.1\toutcome unknown: ");
        QTest::newRow("check: STAT claims 2^31 - 1 messages")
            << check << u"huge count"_s << 75
            << QByteArray("note: The server reports 2147483647 messages; only the first 100000 "
                          "are listed.");
        QTest::newRow("auto: login refused")
            << pass << u"login refused"_s << 1 << QByteArray("One\t127.0.0.1\tnot connected: ");
    }
    void exitCodes() {
        QFETCH(QStringList, args);
        QFETCH(QString, server);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, says);

        FakeServer fake;
        // The archive folder on a real file system that is full to the last byte.
        std::unique_ptr<corvane::test::FullDisk> disk;
        if (server == u"archive full"_s) {
            disk = std::make_unique<corvane::test::FullDisk>();
            if (!disk->mounted())
                QSKIP(qPrintable(disk->error()));
            QVERIFY(disk->fill());
            // Refused before anything is fetched; the session ends with RSET and QUIT.
            serveUntilDele(fake, true);
            fake.expect("RSET").send("+OK\r\n").expect("QUIT").send("+OK\r\n");
        }
        if (server == u"untrusted certificate"_s) {
            fake.enableTls();
            fake.send("+OK ready\r\n");
        } else if (server == u"huge count"_s) {
            fake.send("+OK ready\r\n")
                .expect("USER u")
                .send("+OK\r\n")
                .expect("PASS p")
                .send("+OK\r\n")
                .expect("STAT")
                .send("+OK 2147483647 10\r\n")
                .expect("LIST")
                .send("-ERR no listing\r\n")
                .closeConnection();
        } else if (server == u"silent"_s) {
            fake.send("+OK ready\r\n").fallSilent();
        } else if (server == u"login refused"_s) {
            fake.send("+OK ready\r\n")
                .expect("USER u")
                .send("+OK\r\n")
                .expect("PASS p")
                .send("-ERR [AUTH] Authentication failed.\r\n");
        } else if (server == u"log unreadable"_s) {
            // Refused before anything is deleted; the session ends with RSET and QUIT.
            serveUntilDele(fake, true);
            fake.expect("RSET").send("+OK\r\n").expect("QUIT").send("+OK\r\n");
        } else if (server == u"drop at DELE"_s) {
            serveUntilDele(fake);
            fake.closeConnection();
        } else if (server.startsWith(u"quit"_s)) {
            serveUntilDele(fake);
            fake.send("+OK\r\n").expect("QUIT");
            if (server == u"quit ok"_s)
                fake.send("+OK bye\r\n");
            else if (server == u"quit refused"_s)
                fake.send("-ERR some deleted messages not removed\r\n");
            else
                fake.closeConnection();
        }
        QTemporaryDir dir;
        makeDataDirectory(dir.path(), server == u"none"_s ? closedPort() : fake.port(), 0,
                          server == u"untrusted certificate"_s ? u"TLS"_s : QString());
        // A folder where the log file should be cannot be read, not even by root.
        if (server == u"log unreadable"_s)
            QVERIFY(QDir(dir.path()).mkdir(u"logfile.log"_s));
        if (disk)
            QVERIFY(QFile::link(disk->path(), dir.filePath(u"archive"_s)));
        const CliRun run =
            runCli(args + QStringList{u"--data-dir"_s, dir.path(), u"--timeout"_s, u"2"_s});
        QVERIFY2(run.exitCode == exitCode, run.err.constData());
        QVERIFY2((args.constFirst() == u"auto"_s ? run.out : run.err).contains(says),
                 (run.out + run.err).constData());
        if (server != u"none"_s && server != u"silent"_s && server != u"huge count"_s &&
            server != u"untrusted certificate"_s)
            QCOMPARE(fake.mismatches(), QStringList());
        if (disk) {
            QVERIFY2(run.err.contains("No space left on device"), run.err.constData());
            // Nothing was fetched or deleted: the session was reset before QUIT.
            QVERIFY(!fake.received().contains("RETR 1"));
            QVERIFY(!fake.received().contains("DELE 1"));
            QCOMPARE(QDir(disk->path()).entryList(QDir::Files | QDir::Hidden),
                     QStringList{u"filler"_s});
        }
        if (server == u"log unreadable"_s) {
            QVERIFY(run.err.contains(
                QDir::toNativeSeparators(dir.filePath(u"logfile.log"_s)).toUtf8()));
            QVERIFY(!fake.received().contains("DELE 1"));
        }
    }

    // A signal between the last DELE and QUIT, or while QUIT's reply is on its way, lets that
    // account's run end with its QUIT, so its report is what the server did; the pass stops
    // before the next account.
    void autoFinishesItsRunOnSignal_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("atQuit"); // else at DELE

        QTest::newRow("SIGTERM before DELE is answered") << int(SIGTERM) << false;
        QTest::newRow("SIGTERM while QUIT's reply is held") << int(SIGTERM) << true;
        QTest::newRow("SIGINT while QUIT's reply is held") << int(SIGINT) << true;
    }
    void autoFinishesItsRunOnSignal() {
        QFETCH(int, signal);
        QFETCH(bool, atQuit);

        QProcess p;
        const auto sendSignal = [&p, signal] { ::kill(pid_t(p.processId()), signal); };
        FakeServer one, two;
        serveUntilDele(one);
        if (!atQuit)
            one.call(sendSignal).pause(300);
        one.send("+OK\r\n").expect("QUIT");
        if (atQuit)
            one.call(sendSignal).pause(500);
        one.send("+OK bye\r\n");
        QTemporaryDir dir;
        makeDataDirectory(dir.path(), one.port(), two.port());

        // Without --once the program would go on passing every AutoIntvl minutes.
        const CliRun run = runCli(p, {u"auto"_s, u"--data-dir"_s, dir.path()});
        QVERIFY2(run.exitCode == 0, run.err.constData());
        QCOMPARE(one.mismatches(), QStringList());
        QVERIFY(one.received().contains("QUIT"));
        QVERIFY2(run.out.contains("One\t127.0.0.1\t1 of 1 messages deleted\n"),
                 run.out.constData());
        QVERIFY(!run.out.contains("Two\t"));
        QCOMPARE(two.connectionCount(), 0);
        QVERIFY2(run.err.contains("interrupted"), run.err.constData());
        // The confirmed deletion is in the saved log.
        corvane::DeletionLog saved;
        saved.load(dir.filePath(u"logfile.log"_s));
        QCOMPARE(saved.LogLines.filter(u"Email from pills@spam.example deleted"_s).size(), 1);
    }

    // The record of a run reaches the disk before QUIT: a data directory that cannot take it
    // (a full disk, a log that is a symbolic link) deletes nothing, and a log that cannot be
    // saved after QUIT is completed by the next start from the record.
    void recordBeforeQuit_data() {
        QTest::addColumn<QString>("fault");
        QTest::newRow("the disk is full before the record") << u"full"_s;
        QTest::newRow("the log is a symbolic link") << u"symlink"_s;
        QTest::newRow("the disk fills between the record and the log") << u"fills"_s;
    }
    void recordBeforeQuit() {
        QFETCH(QString, fault);
        corvane::test::FullDisk disk;
        if (!disk.mounted())
            QSKIP(qPrintable(disk.error()));
        FakeServer fake;
        serveUntilDele(fake, false, false);
        fake.send("+OK\r\n");
        const bool deletes = fault == u"fills"_s;
        if (deletes)
            fake.expect("QUIT").send("+OK bye\r\n");
        else
            fake.expect("RSET").send("+OK\r\n");
        const QString data = disk.filePath(u"data"_s);
        QVERIFY(QDir().mkpath(data));
        // Learning off: its database would compete for the little room (and a check without
        // it fetches headers alone, which the script expects).
        makeDataDirectory(data, fake.port(), 0, {}, false);
        QTemporaryDir archive; // off the small disk: only the records compete for its room
        QVERIFY(QFile::link(archive.path(), data + u"/archive"_s));
        QTemporaryDir elsewhere;
        if (fault == u"symlink"_s) {
            QFile real(elsewhere.filePath(u"real.log"_s));
            QVERIFY(real.open(QIODevice::WriteOnly));
            real.write("an earlier line\r\n");
            real.close();
            QVERIFY(QFile::link(real.fileName(), data + u"/logfile.log"_s));
        }
        // Room for the lock file alone, or for the lock file and the record.
        const QString spacer = disk.filePath(u"spacer"_s);
        if (fault != u"symlink"_s) {
            QFile room(spacer);
            QVERIFY(room.open(QIODevice::WriteOnly));
            QVERIFY(room.write(QByteArray(deletes ? 8192 : 4096, 's')) > 0);
            room.close();
            QVERIFY(disk.fill());
            QVERIFY(QFile::remove(spacer));
        }
        const CliRun run = runCli({u"process"_s, u"One"_s, u"--delete"_s, u"1"_s, u"--data-dir"_s,
                                   data, u"--timeout"_s, u"5"_s});
        QVERIFY2(fake.mismatches().isEmpty(),
                 qPrintable(fake.mismatches().join(u'\n') + run.errText() + run.outText()));
        QVERIFY2(run.exitCode == 1, run.err.constData());
        QVERIFY2(!run.out.contains("logged\t"), run.out.constData());
        if (!deletes) {
            // Undone before QUIT: the message is still on the server.
            QVERIFY(!fake.received().contains("QUIT"));
            QVERIFY2(run.err.contains("could not be written to the disk"), run.err.constData());
            QVERIFY2(run.err.contains("no message of this run has been deleted"),
                     run.err.constData());
            QVERIFY(!run.out.contains("deleted\t"));
            return;
        }
        QVERIFY2(run.out.contains("deleted\t1\tcheap pills"), run.out.constData());
        QVERIFY2(run.err.contains("The server has deleted the messages of this run (1 message), "
                                  "but the log and the total could not be saved"),
                 run.err.constData());
        QVERIFY(QFileInfo::exists(data + u"/logfile.confirmed"_s));

        // The next start, with room again, adds the record to the log and the total.
        disk.release();
        const CliRun next = runCli({u"lists"_s, u"update"_s, u"--data-dir"_s, data});
        QVERIFY2(next.err.contains("has now been added to the log and the total"),
                 next.err.constData());
        QVERIFY(!QFileInfo::exists(data + u"/logfile.confirmed"_s));
        corvane::DeletionLog saved;
        saved.load(data + u"/logfile.log"_s);
        QVERIFY2(saved.LogLines.filter(u"Email from pills@spam.example deleted"_s).size() == 1,
                 qPrintable(saved.LogLines.join(u'\n') + next.errText()));
        corvane::Settings settings;
        corvane::MiscRules misc;
        QString total;
        corvane::SettingsFile(data + u"/Settings.ini"_s).ReadConfiguration(settings, misc, total);
        QCOMPARE(total, u"1"_s);
    }

    // A kill while QUIT's answer is on its way leaves the record; the next start puts the
    // run's lines in the log, marked as not confirmed, and does not count them.
    void killAtQuitLeavesARecord() {
        QProcess p;
        FakeServer fake;
        serveUntilDele(fake);
        fake.send("+OK\r\n").expect("QUIT").call([&p] { ::kill(pid_t(p.processId()), SIGKILL); });
        fake.fallSilent();
        QTemporaryDir dir;
        makeDataDirectory(dir.path(), fake.port());
        const CliRun run = runCli(p, {u"auto"_s, u"--once"_s, u"--data-dir"_s, dir.path()});
        QCOMPARE(run.exitCode, -1);
        QVERIFY(QFileInfo::exists(dir.filePath(u"logfile.pending"_s)));

        const CliRun next = runCli({u"lists"_s, u"update"_s, u"--data-dir"_s, dir.path()});
        QVERIFY2(next.err.contains("marked as not confirmed"), next.err.constData());
        QVERIFY(!QFileInfo::exists(dir.filePath(u"logfile.pending"_s)));
        corvane::DeletionLog saved;
        saved.load(dir.filePath(u"logfile.log"_s));
        QCOMPARE(saved.LogLines.filter(u"Email from pills@spam.example deleted"_s).size(), 1);
        QCOMPARE(saved.LogLines
                     .filter(u"Not confirmed by the server (the program ended before "
                             u"QUIT's answer): Email from pills@spam.example"_s)
                     .size(),
                 1);
        corvane::Settings settings;
        corvane::MiscRules misc;
        QString total;
        corvane::SettingsFile(dir.filePath(u"Settings.ini"_s))
            .ReadConfiguration(settings, misc, total);
        QCOMPARE(total, u"0"_s);
    }

    void helpNamesTheExitCodes_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("unknown"); // 3 can be returned

        QTest::newRow("check") << u"check"_s << false;
        QTest::newRow("process") << u"process"_s << true;
        QTest::newRow("auto") << u"auto"_s << true;
    }
    void helpNamesTheExitCodes() {
        QFETCH(QString, command);
        QFETCH(bool, unknown);
        const QByteArray help = runCli({command, u"--help"_s}).out.simplified();
        QVERIFY2(help.contains("75 temporary failure, try again later"), help.constData());
        QCOMPARE(help.contains("; 3 the server did not answer QUIT"), unknown);
    }

    void classifyTakesTicksFromSettings_data() {
        QTest::addColumn<QString>("ticks"); // "all", "none" or "" for no Settings.ini
        QTest::addColumn<QStringList>("rules");
        QTest::addColumn<QByteArray>("mark");

        QTest::newRow("no settings file: all ticked")
            << QString() << QStringList() << QByteArray("Spam\n");
        QTest::newRow("settings tick nothing")
            << u"none"_s << QStringList() << QByteArray("Plain\n");
        QTest::newRow("settings tick everything")
            << u"all"_s << QStringList() << QByteArray("Spam\n");
        QTest::newRow("--rules wins over the settings")
            << u"none"_s << QStringList{u"--rules"_s, u"1,2,3,4,5,6,7,8,9,10,11,12,13"_s}
            << QByteArray("Spam\n");
    }
    void classifyTakesTicksFromSettings() {
        QFETCH(QString, ticks);
        QFETCH(QStringList, rules);
        QFETCH(QByteArray, mark);

        QTemporaryDir dir;
        if (!ticks.isEmpty()) {
            corvane::Settings settings;
            corvane::MiscRules misc;
            misc.setAll(ticks == u"all"_s);
            corvane::SettingsFile(dir.filePath(u"Settings.ini"_s))
                .WriteConfiguration(settings, misc, u"0"_s);
        }
        // Caught by one of the fixed rules only, not by any list.
        const CliRun run =
            runCli(QStringList{u"classify"_s, u"--data-dir"_s, dir.path(), u"--subject"_s,
                               u"FREE"_s, u"--sender"_s, u"a@b.c"_s} +
                   rules);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, mark);
    }
};

QTEST_GUILESS_MAIN(TestCliProcessing)
#include "tst_cli_processing.moc"
