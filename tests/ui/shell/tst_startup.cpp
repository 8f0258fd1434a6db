// Start-up and shutdown of the whole program on a data directory: a first start, stored files
// read and written back, files that could not be read never overwritten, a failing shutdown
// that keeps the program running, and closing while connected or in the middle of a scan.

#include "../uitestsupport.h"

#include "core/platform/datadirlock.h"
#include "core/protocol/tcptransport.h"
#include "core/rules/listfile.h"
#include "core/settings/settings.h"
#include "fakeserver.h"
#include "testsupport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace corvane;
using namespace corvane::test;

namespace {

const QStringList kWrittenAtClose = {u"logfile.log"_s, u"blsubj.dat"_s,  u"bleml.dat"_s,
                                     u"freml.dat"_s,   u"blsubxy.dat"_s, u"Settings.ini"_s};

RuleList listFrom(ListKind kind, const QList<RuleEntry> &entries) {
    RuleList list(listOrder(kind));
    list.assign(entries);
    return list;
}

RuleList readList(ListKind kind, const QString &path) {
    RuleList list(listOrder(kind));
    LoadListFile(list, path);
    return list;
}

QByteArray listBytes(const QList<RuleEntry> &entries, bool compress) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    WriteListStream(listFrom(ListKind::EmailBlack, entries), buffer, compress);
    return bytes;
}

const QList<RuleEntry> kStoredEmails = {{u"@spam.example"_s, {u"spammers"_s}},
                                        {u"bulk@ads.example"_s, {u"ads"_s}},
                                        {u"zz@junk.example"_s, {QString()}}};

} // namespace

class TestStartup final : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString &name) const { return QDir(m_dir->path()).filePath(name); }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void firstStart() {
        ProgramRun run(m_dir->path());
        run.start();
        QVERIFY(run.prompts.shown.isEmpty());
        QCOMPARE(run.shell.lists().SubjectBlack.size(), 13);
        QCOMPARE(run.shell.lists().SubjectBlack.entries(), RuleLists().SubjectBlack.entries());
        for (int rule = 1; rule <= MiscRules::Count; ++rule)
            QVERIFY(run.shell.lists().Misc.ticked(rule));
        QVERIFY(run.shell.log().LogLines.isEmpty());
        QVERIFY(QFileInfo(path(u"archive"_s)).isDir());
        QCOMPARE(run.store()->rowCount(), 0);
        const QString none = u"No accounts setup:"_s;
        for (QMenu *menu : {run.main()->checkMailMenu, run.main()->checkMessagesMenu,
                            run.main()->editAccountMenu, run.main()->deleteAccountMenu}) {
            QCOMPARE(menuItems(menu), QStringList{none + u"-1"_s});
            QVERIFY(!menu->actions().first()->isEnabled());
        }
        QCOMPARE(run.main()->deleteAccountMenu->title(), u"Delete Account   "_s);
        QCOMPARE(run.main()->messageList->palette().color(QPalette::Base), QColor(Qt::white));

        QVERIFY(run.main()->close());
        for (const QString &name : kWrittenAtClose)
            QVERIFY2(QFileInfo::exists(path(name)), qPrintable(name));
        QCOMPARE(readList(ListKind::SubjectBlack, path(u"blsubj.dat"_s)).size(), 13);
    }

    void storedFilesAreReadAndWrittenBack() {
        SaveListFile(listFrom(ListKind::EmailBlack, kStoredEmails), path(u"bleml.dat"_s), true);
        SaveListFile(listFrom(ListKind::XandY, {{u"free"_s, {u"shop"_s, u"Offers"_s}}}),
                     path(u"blsubxy.dat"_s), true);
        QVERIFY(writeFile(path(u"Settings.ini"_s),
                          "; kept as it is\r\n[Options]\r\nAutoIntvl=5\r\ncolormailwin=15790320\r\n"
                          "[blacklist]\r\n2=0\r\n"));
        QVERIFY(writeFile(path(u"logfile.log"_s), "first line\r\nsecond line\r\n"));
        {
            ProgramRun run(m_dir->path());
            run.start();
            QVERIFY(run.prompts.shown.isEmpty());
            QCOMPARE(run.shell.lists().EmailBlack.size(), 3);
            QCOMPARE(run.shell.lists().XandY.at(0).SubItems, (QStringList{u"shop"_s, u"Offers"_s}));
            QCOMPARE(run.shell.settings().AutoIntvl, 5);
            QVERIFY(!run.shell.lists().Misc.ticked(2));
            QVERIFY(run.shell.lists().Misc.ticked(3));
            QCOMPARE(run.shell.log().LogLines, (QStringList{u"first line"_s, u"second line"_s}));
            QCOMPARE(run.main()->messageList->palette().color(QPalette::Base),
                     QColor(0xF0, 0xF0, 0xF0));
            run.shell.lists().EmailBlack.add(u"aa@new.example"_s, {u"added"_s});
            QVERIFY(run.main()->close());
        }
        const RuleList emails = readList(ListKind::EmailBlack, path(u"bleml.dat"_s));
        QCOMPARE(emails.size(), 4);
        QCOMPARE(emails.at(0).Caption, u"@spam.example"_s);
        QCOMPARE(emails.at(1).Caption, u"aa@new.example"_s);
        const QByteArray ini = readFile(path(u"Settings.ini"_s));
        QVERIFY(ini.startsWith("; kept as it is\r\n[Options]\r\nAutoIntvl=5\r\n"));
        QVERIFY(ini.contains("\r\n2=0\r\n"));
        QVERIFY(ini.contains("Systray=1"));
        QCOMPARE(readFile(path(u"logfile.log"_s)), QByteArray("first line\r\nsecond line\r\n"));
    }

    // Files the program could not read (or read only in part) are never replaced by lists,
    // settings or a log that do not hold their contents.
    void unreadableFilesAreNeverOverwritten_data() {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<QString>("shown");     // part of a box shown at start-up
        QTest::addColumn<QString>("untouched"); // the file (or folder) left as it was
        QTest::newRow("list file cut short")
            << u"truncated"_s << u"is damaged; the 2 entries that could be read"_s
            << u"bleml.dat.damaged"_s;
        QTest::newRow("list whose count was lowered")
            << u"count lowered"_s << u"is damaged; the 1 entries that could be read"_s
            << u"bleml.dat.damaged"_s;
        QTest::newRow("list whose count was made negative")
            << u"count negative"_s << u"is damaged; the 0 entries that could be read"_s
            << u"bleml.dat.damaged"_s;
        QTest::newRow("compressed list that cannot be inflated")
            << u"corrupt"_s << u"Error"_s << u"bleml.dat.damaged"_s;
        QTest::newRow("list file that cannot be opened")
            << u"list folder"_s << u"Cannot open file"_s << u"bleml.dat"_s;
        QTest::newRow("settings that cannot be read")
            << u"settings folder"_s << u"Settings.ini"_s << u"Settings.ini"_s;
        QTest::newRow("log that cannot be read")
            << u"log folder"_s << u"logfile.log"_s << u"logfile.log"_s;
        QTest::newRow("account file that is no database")
            << u"accounts"_s << u"accounts.dat"_s << u"accounts.dat"_s;
    }
    void unreadableFilesAreNeverOverwritten() {
        QFETCH(QString, fixture);
        QFETCH(QString, untouched);
        QVERIFY(writeFile(path(u"Settings.ini"_s), "[Options]\r\nAutoIntvl=7\r\n"));
        const QByteArray full = listBytes(kStoredEmails, false);
        if (fixture == u"truncated"_s)
            QVERIFY(writeFile(path(u"bleml.dat"_s), full.left(full.size() - 400)));
        else if (fixture.startsWith(u"count "_s))
            QVERIFY(writeFile(
                path(u"bleml.dat"_s),
                full.left(1) +
                    QByteArray(fixture == u"count lowered"_s ? "\x01\0\0\0" : "\xff\xff\xff\xff",
                               4) +
                    full.mid(5)));
        else if (fixture == u"corrupt"_s)
            QVERIFY(writeFile(path(u"bleml.dat"_s),
                              QByteArray("\x01\x03\x00\x00\x00", 5) + QByteArray(300, 'x')));
        else if (fixture == u"list folder"_s)
            QVERIFY(QDir().mkpath(path(u"bleml.dat"_s)));
        else if (fixture == u"settings folder"_s)
            QVERIFY(QFile::remove(path(u"Settings.ini"_s)) &&
                    QDir().mkpath(path(u"Settings.ini"_s)));
        else if (fixture == u"log folder"_s)
            QVERIFY(QDir().mkpath(path(u"logfile.log"_s)));
        else if (fixture == u"accounts"_s)
            QVERIFY(writeFile(path(u"accounts.dat"_s), "Standard Jet DB\0 not SQLite at all"));
        const QFileInfo before(path(fixture.contains(u"list"_s) || fixture == u"truncated"_s ||
                                            fixture == u"corrupt"_s ||
                                            fixture.startsWith(u"count "_s)
                                        ? u"bleml.dat"_s
                                        : untouched));
        const QByteArray original = before.isFile() ? readFile(before.filePath()) : QByteArray();

        ProgramRun run(m_dir->path());
        run.start();
        QFETCH(QString, shown);
        const QStringList boxes = run.prompts.takeTexts();
        QVERIFY2(boxes.join(u'\n').contains(shown), qPrintable(boxes.join(u'\n')));
        for (const ScriptedPrompts::Shown &box : std::as_const(run.prompts.shown))
            QCOMPARE(box.title, u"Corvane"_s);
        if (fixture != u"settings folder"_s)
            QCOMPARE(run.shell.settings().AutoIntvl, 7);
        // The program runs on and closes normally.
        QVERIFY(run.main()->close());
        QVERIFY(run.prompts.shown.isEmpty());

        const QFileInfo after(path(untouched));
        if (original.isEmpty()) {
            QVERIFY(after.isDir());
        } else {
            QCOMPARE(readFile(after.filePath()), original);
        }
        // A damaged list was copied aside, so it may be saved again with what it held.
        if (fixture == u"truncated"_s)
            QCOMPARE(readList(ListKind::EmailBlack, path(u"bleml.dat"_s)).size(), 2);
        if (fixture == u"count lowered"_s)
            QCOMPARE(readList(ListKind::EmailBlack, path(u"bleml.dat"_s)).size(), 1);
        // Everything that was read is saved as usual.
        for (const QString &name : kWrittenAtClose) {
            if (name != untouched && !(name == u"bleml.dat"_s && fixture == u"list folder"_s))
                QVERIFY2(QFileInfo(path(name)).isFile(), qPrintable(name));
        }
        if (fixture != u"settings folder"_s)
            QVERIFY(readFile(path(u"Settings.ini"_s)).contains("AutoIntvl=7"));
    }

    // One program at a time on a data directory: a second one ends at start-up, naming the
    // first, before it makes a window or touches a file; once the first has gone, a program
    // starts again.
    void secondProgramEndsAtStartUp() {
        {
            ProgramRun first(m_dir->path());
            first.start();
            const QByteArray settings = readFile(path(u"Settings.ini"_s));
            {
                ProgramRun second(m_dir->path());
                try {
                    second.shell.start();
                    QFAIL("a second program started on the same data directory");
                } catch (const LockError &e) {
                    QVERIFY2(e.message().startsWith(
                                 u"The data directory \"%1\" is in use by "_s.arg(m_dir->path())),
                             qPrintable(e.message()));
                    QVERIFY2(e.message().contains(
                                 u"(process %1)"_s.arg(QCoreApplication::applicationPid())),
                             qPrintable(e.message()));
                }
                QVERIFY(!second.main());
            }
            QCOMPARE(readFile(path(u"Settings.ini"_s)), settings);
            QVERIFY(first.main()->close());
        }
        ProgramRun again(m_dir->path());
        again.start();
        QVERIFY(again.prompts.shown.isEmpty());
    }

    // Every file the program makes is the owner's alone, and so are its folders, the data
    // directory included when the program makes it.
    void filesAreOwnerOnly() {
        const QString dataPath = path(u"new/data"_s);
        {
            ProgramRun run(dataPath);
            run.start();
            run.addAccount({u"Home"_s, u"pop.test"_s, u"110"_s, u"me"_s, u"pw"_s, {}});
            QVERIFY(run.main()->close());
        }
        const QDir data(dataPath);
        const auto mode = [](const QString &file) {
            struct stat st {};
            return ::lstat(QFile::encodeName(file).constData(), &st) == 0 ? st.st_mode & 07777
                                                                          : mode_t(0);
        };
        QCOMPARE(mode(dataPath), mode_t(0700));
        QCOMPARE(mode(data.filePath(u"archive"_s)), mode_t(0700));
        const QStringList files = data.entryList(QDir::Files | QDir::Hidden);
        QVERIFY(files.contains(u"accounts.dat"_s));
        for (const QString &name : kWrittenAtClose)
            QVERIFY2(files.contains(name), qPrintable(name));
        for (const QString &name : files)
            QVERIFY2(mode(data.filePath(name)) == 0600, qPrintable(name));
    }

    // A file that cannot be written does not keep the others from being saved, and does not
    // keep the window from closing: the user is told what was not saved and chooses.
    void failedShutdownAsksBeforeClosing_data() {
        QTest::addColumn<bool>("closeAnyway");
        QTest::newRow("keep the window open") << false;
        QTest::newRow("close without saving it") << true;
    }
    void failedShutdownAsksBeforeClosing() {
        QFETCH(bool, closeAnyway);
        ProgramRun run(m_dir->path());
        run.start();
        run.shell.lists().Friendly.add(u"friend@example.org"_s, {});
        // The e-mail black list cannot be written where a folder has taken its name.
        QVERIFY(QDir().mkpath(path(u"bleml.dat"_s)));
        run.prompts.answers << (closeAnyway ? QMessageBox::Yes : QMessageBox::No);
        QCOMPARE(run.main()->close(), closeAnyway);
        QCOMPARE(run.main()->isVisible(), !closeAnyway);
        QCOMPARE(run.prompts.shown.size(), 1);
        const QStringList boxes = run.prompts.takeTexts();
        QVERIFY2(boxes.first().startsWith(u"Some of your data could not be saved:\n\nCannot "
                                          u"create file \""_s),
                 qPrintable(boxes.first()));
        QVERIFY2(boxes.first().contains(u"bleml.dat"_s), qPrintable(boxes.first()));
        // Every other file was saved.
        QVERIFY(QFileInfo(path(u"logfile.log"_s)).isFile());
        QVERIFY(QFileInfo(path(u"blsubj.dat"_s)).isFile());
        QCOMPARE(readList(ListKind::Friendly, path(u"freml.dat"_s)).size(), 1);
        QVERIFY(QFileInfo(path(u"Settings.ini"_s)).isFile());
        if (closeAnyway)
            return;
        // Once the folder is fixed, closing again saves and closes without a question.
        QVERIFY(QDir(path(u"bleml.dat"_s)).removeRecursively());
        QVERIFY(run.main()->close());
        QVERIFY(QFileInfo(path(u"bleml.dat"_s)).isFile());
        QVERIFY(run.prompts.shown.isEmpty());
    }

    // When the system ends the program nobody can answer a box: a file that cannot be saved is
    // reported on standard error, everything else is saved, and the window closes.
    void failedShutdownOnSystemQuitCloses() {
        ProgramRun run(m_dir->path());
        run.start();
        run.shell.lists().Friendly.add(u"friend@example.org"_s, {});
        QVERIFY(QDir().mkpath(path(u"bleml.dat"_s)));
        run.main()->closeForSystem();
        QVERIFY(!run.main()->isVisible());
        QVERIFY(run.prompts.shown.isEmpty());
        QCOMPARE(readList(ListKind::Friendly, path(u"freml.dat"_s)).size(), 1);
        QVERIFY(QFileInfo(path(u"Settings.ini"_s)).isFile());
    }

    void closingWhileConnectedUndoesDeletions() {
        ProgramRun run(m_dir->path());
        run.start();
        run.pop.addMailbox(u"pop.test"_s, u"me"_s, u"pw"_s,
                           {"Subject: one\n\nx\n", "Subject: two\n\ny\n"});
        run.addAccount({u"Home"_s, u"pop.test"_s, u"110"_s, u"me"_s, u"pw"_s, QString()});
        run.main()->checkAccount(0);
        QCOMPARE(run.main()->messageList->model()->rowCount(), 2);
        run.pop.clearCommands();
        QVERIFY(run.main()->close());
        QCOMPARE(run.pop.commandsTo(u"pop.test"_s), (QList<QByteArray>{"RSET", "QUIT"}));
        QCOMPARE(run.pop.messages(u"pop.test"_s).size(), 2);
        QVERIFY(QFileInfo(path(u"Settings.ini"_s)).isFile());
    }

    // Closing the window while a scan waits on the server ends the scan as a dropped
    // connection and then runs the shutdown: the client is never destroyed under its feet.
    void closingDuringScanWaitsForTheScanToUnwind() {
        FakeServer server;
        server.send("+OK ready\r\n")
            .expect("USER me")
            .send("+OK\r\n")
            .expect("PASS pw")
            .send("+OK\r\n")
            .expect("STAT")
            .send("+OK 3 300\r\n")
            .expect("LIST")
            .send("+OK\r\n1 100\r\n2 100\r\n3 100\r\n.\r\n")
            .expect("CAPA")
            .send("-ERR Unknown command.\r\n")
            // With learning on (the default) the scan reads the first body lines too.
            .expect("TOP 1 20")
            .send("+OK\r\nSubject: first\r\nFrom: a@example.com\r\n\r\n.\r\n")
            .expect("LIST 1")
            .send("+OK 1 100\r\n")
            .expect("TOP 2 20")
            .fallSilent();
        ScriptedPrompts prompts;
        TcpTransport transport;
        ProgramShell shell(DataDirectory(m_dir->path()), prompts, transport);
        shell.start();
        MainWindow *main = shell.mainWindow();
        main->show();
        shell.accountStore()->insert(
            {u"Slow"_s, u"127.0.0.1"_s, QString::number(server.port()), u"me"_s, u"pw"_s, {}});
        main->refreshAccounts();

        // The user closes the window while the second header is awaited.
        bool closeAsked = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (!closeAsked && main->panelText(1) == u"Message 2 of 3"_s &&
                main->operationRunning()) {
                closeAsked = true;
                QVERIFY(!main->close()); // deferred, not refused
            }
        });
        watch.start(5);
        main->checkMailMenu->actions().value(0)->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(closeAsked, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!main->isVisible(), 20000);
        watch.stop();
        QVERIFY(!main->operationRunning());
        // No error box for the ended scan, and the shutdown ran to its end.
        QCOMPARE(prompts.takeTexts(), QStringList());
        for (const QString &name : kWrittenAtClose)
            QVERIFY2(QFileInfo::exists(path(name)), qPrintable(name));
        // The connection ended without QUIT: the server applies nothing.
        QVERIFY(!server.received().contains("QUIT"));
        QVERIFY(server.mismatches().isEmpty());
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
