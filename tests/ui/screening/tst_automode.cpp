// Automatic mode in the main window: switching it on and off, the countdown second by second,
// and passes over every account with its timers, against a fake POP3 server.

#include "../uitestsupport.h"

#include "core/rules/listfile.h"
#include "testmessage.h"
#include "testsupport.h"

#include <QLabel>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>
#include <QToolButton>

using namespace Qt::StringLiterals;
using corvane::test::TestMessage;
using namespace corvane;
using namespace corvane::test;

namespace {

// Black-listed subject "Re: Details" and black-listed sender domain @junk.example.
const QByteArray kSpam1 = TestMessage()
                              .from("Spam King <king@spam.example>")
                              .subject("Re: Details")
                              .body("Body of Re: Details")
                              .text();
const QByteArray kSpam2 = TestMessage()
                              .from("offers@junk.example")
                              .subject("Great offers")
                              .body("Body of Great offers")
                              .text();
const QByteArray kPlain = TestMessage()
                              .from("Colleague <colleague@example.com>")
                              .subject("Meeting notes")
                              .body("Body of Meeting notes")
                              .text();
const QByteArray kFriend = TestMessage()
                               .from("Friend <friend@example.org>")
                               .subject("Lunch tomorrow")
                               .body("Body of Lunch tomorrow")
                               .text();

// The commands that automatic mode disables, by object name: tool buttons and actions.
const QStringList kLockedButtons = {u"checkMailButton"_s, u"processButton"_s,
                                    u"disconnectButton"_s};
const QStringList kLockedActions = {u"programMenuItem"_s,        u"accountsMenuItem"_s,
                                    u"emailOptionsMenuItem"_s,   u"disconnectAction"_s,
                                    u"viewEmailContextAction"_s, u"markForDeletionContextAction"_s};
// What stays available.
const QStringList kFreeActions = {u"markEmailMenuItem"_s, u"helpMenuItem"_s};

} // namespace

class TestAutoMode final : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ProgramRun> m_run;
    qint64 m_now = 1'000'000; // the clock of the countdown, in milliseconds

    MainWindow *main() { return m_run->main(); }

    void start(int interval = 1) {
        m_run = std::make_unique<ProgramRun>(m_dir->path());
        m_run->start();
        m_run->shell.settings().AutoIntvl = interval;
        m_run->shell.lists().Friendly.add(u"friend@example.org"_s, {});
        m_run->shell.lists().EmailBlack.add(u"@junk.example"_s, {});
    }
    // An account whose mailbox is empty: automatic mode needs an account to be switched on.
    void addIdleAccount() {
        m_run->pop.addMailbox(u"pop.idle"_s, u"me"_s, u"pw"_s, {});
        m_run->addAccount({u"Idle"_s, u"pop.idle"_s, u"110"_s, u"me"_s, u"pw"_s, {}});
    }
    void useManualClock() {
        main()->setAutoModeTiming({[this] { return m_now; }, 1});
    }

    void toggle() {
        QVERIFY(main()->autoModeButton->isEnabled());
        QTest::mouseClick(main()->autoModeButton, Qt::LeftButton);
    }

    // Whether every locked command has the given state, and the free ones are enabled.
    void verifyLocked(bool locked) {
        for (const QString &name : kLockedButtons)
            QVERIFY2(main()->findChild<QToolButton *>(name)->isEnabled() != locked,
                     qPrintable(name));
        for (const QString &name : kLockedActions)
            QVERIFY2(main()->findChild<QAction *>(name)->isEnabled() != locked, qPrintable(name));
        for (const QString &name : kFreeActions)
            QVERIFY2(main()->findChild<QAction *>(name)->isEnabled(), qPrintable(name));
        QVERIFY(main()->autoModeButton->isEnabled());
        QCOMPARE(main()->autoModeButton->isChecked(), locked);
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void cleanup() {
        if (m_run && main()->isVisible())
            main()->close();
        m_run.reset();
    }

    void countdown_data() {
        QTest::addColumn<int>("interval"); // minutes
        QTest::addColumn<int>("ticks");    // seconds after switching on, one tick each
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("shown");

        QTest::newRow("1 min, at once") << 1 << 0 << u"Checking in 1 minutes 0 seconds"_s << true;
        QTest::newRow("1 min, 1 s") << 1 << 1 << u"Checking in 0 minutes 59 seconds"_s << true;
        QTest::newRow("1 min, 59 s") << 1 << 59 << u"Checking in 0 minutes 1 seconds"_s << true;
        QTest::newRow("1 min, 60 s") << 1 << 60 << u"Checking in 0 minutes 0 seconds"_s << false;
        QTest::newRow("2 min, 1 s") << 2 << 1 << u"Checking in 1 minutes 59 seconds"_s << true;
        QTest::newRow("2 min, 60 s") << 2 << 60 << u"Checking in 1 minutes 0 seconds"_s << true;
        QTest::newRow("120 min, 61 s")
            << 120 << 61 << u"Checking in 118 minutes 59 seconds"_s << true;
    }
    void countdown() {
        QFETCH(int, interval);
        QFETCH(int, ticks);
        QFETCH(QString, text);
        QFETCH(bool, shown);

        start(interval);
        addIdleAccount();
        useManualClock();
        toggle();
        QCOMPARE(main()->passTimer->interval(), interval * 60000);
        QVERIFY(main()->passTimer->isActive());
        QCOMPARE(main()->countdownTimer->interval(), 1000);
        QVERIFY(main()->countdownTimer->isActive());
        for (int i = 0; i < ticks; ++i) {
            m_now += 1000;
            main()->countdownTick();
        }
        QCOMPARE(main()->countdownLabel->text(), text);
        QCOMPARE(main()->countdownLabel->isVisible(), shown);
    }

    // A tick that comes late still shows the time that is really left.
    void lateTickShowsTimeLeft() {
        start(1);
        addIdleAccount();
        useManualClock();
        toggle();
        m_now += 4000;
        main()->countdownTick();
        QCOMPARE(main()->countdownLabel->text(), u"Checking in 0 minutes 56 seconds"_s);
    }

    void switchOnAndOff() {
        start();
        m_run->pop.addMailbox(u"pop.one"_s, u"me"_s, u"pw"_s, {kSpam1, kPlain});
        m_run->addAccount({u"One"_s, u"pop.one"_s, u"110"_s, u"me"_s, u"pw"_s, {}});
        verifyLocked(false);

        // Switching on while connected with a marked row deletes nothing: RSET, then QUIT.
        main()->checkMailMenu->actions().value(0)->trigger();
        QTRY_VERIFY(!main()->operationRunning() && main()->messageList->model()->rowCount() == 2);
        clickRow(main(), 0);
        main()->markForDeletionAction->trigger();
        m_run->pop.clearCommands();
        toggle();
        QCOMPARE(m_run->pop.commandsTo(u"pop.one"_s), (QList<QByteArray>{"RSET", "QUIT"}));
        QCOMPARE(m_run->pop.messages(u"pop.one"_s).size(), 2);
        QCOMPARE(main()->messageList->model()->rowCount(), 0);
        QVERIFY(main()->session().AutoMode);
        QCOMPARE(main()->serverPanel->text(), u"In auto mode"_s);
        QVERIFY(main()->countdownLabel->isVisible());
        verifyLocked(true);

        // Off between passes: both timers stop, the countdown hides, the commands come back.
        toggle();
        QVERIFY(!main()->session().AutoMode);
        QVERIFY(!main()->passTimer->isActive());
        QVERIFY(!main()->countdownTimer->isActive());
        QVERIFY(main()->countdownLabel->isHidden());
        QCOMPARE(main()->serverPanel->text(), u"Idle..."_s);
        verifyLocked(false);
        QCOMPARE(m_run->prompts.shown.size(), 0);
    }

    // Three accounts, the second with a wrong password, over two passes that the timers start:
    // the first and the third are screened and only their spam is deleted, without a box.
    void passesOverEveryAccount() {
        start();
        m_run->pop.addMailbox(u"pop.one"_s, u"me"_s, u"pw"_s, {kSpam1, kPlain, kSpam2});
        m_run->pop.addMailbox(u"pop.two"_s, u"me"_s, u"right"_s, {kSpam1});
        m_run->pop.addMailbox(u"pop.three"_s, u"me"_s, u"pw"_s, {kFriend, kSpam2});
        m_run->addAccount({u"One"_s, u"pop.one"_s, u"110"_s, u"me"_s, u"pw"_s, {}});
        m_run->addAccount({u"Two"_s, u"pop.two"_s, u"110"_s, u"me"_s, u"wrong"_s, {}});
        m_run->addAccount({u"Three"_s, u"pop.three"_s, u"110"_s, u"me"_s, u"pw"_s, {}});

        // While a pass runs, both timers are stopped and the countdown is hidden.
        bool timersRanDuringPass = false;
        ProcessingHooks hooks;
        hooks.wait = [&](int) {
            timersRanDuringPass = timersRanDuringPass || main()->passTimer->isActive() ||
                                  main()->countdownTimer->isActive() ||
                                  main()->countdownLabel->isVisible();
        };
        main()->setProcessingHooks(hooks);
        // A minute lasts 50 ms.
        main()->setAutoModeTiming({{}, 1200});
        toggle();
        QCOMPARE(main()->passTimer->interval(), 50);

        const auto sessions = [this](const QString &host) {
            return m_run->pop.commandsTo(host).count("QUIT");
        };
        QTRY_VERIFY_WITH_TIMEOUT(sessions(u"pop.three"_s) >= 2, 20000);
        toggle();
        QTRY_VERIFY(!main()->session().AutoMode);
        QVERIFY(!main()->operationRunning());
        QVERIFY(!main()->passTimer->isActive());

        QCOMPARE(m_run->prompts.shown.size(), 0);
        QVERIFY(!timersRanDuringPass);
        QCOMPARE(m_run->pop.messages(u"pop.one"_s).size(), 1);
        QVERIFY(m_run->pop.messages(u"pop.one"_s)[0].contains("Meeting notes"));
        QCOMPARE(m_run->pop.messages(u"pop.two"_s).size(), 1);
        QCOMPARE(m_run->pop.messages(u"pop.three"_s).size(), 1);
        QVERIFY(m_run->pop.messages(u"pop.three"_s)[0].contains("Lunch tomorrow"));
        // The second account never got past its login, in any pass.
        QVERIFY(!m_run->pop.commandsTo(u"pop.two"_s).contains("STAT"));
        // The second pass found nothing more to delete.
        const QList<QByteArray> one = m_run->pop.commandsTo(u"pop.one"_s);
        QCOMPARE(one.count("DELE 3") + one.count("DELE 1"), 2);

        // Three deletions, each logged and archived.
        const QStringList log = m_run->shell.log().LogLines;
        QCOMPARE(log.filter(u" deleted, sent to "_s).size(), 3);
        QCOMPARE(m_run->shell.log().DeleteCount, u"3"_s);
        QVERIFY(QFile::exists(m_dir->filePath(u"archive/Re- Details.eml"_s)));
        QVERIFY(QFile::exists(m_dir->filePath(u"archive/Great offers.eml"_s)));
        QVERIFY(QFile::exists(m_dir->filePath(u"archive/Great offers(0).eml"_s)));
    }

    // A pass whose QUIT gets no answer counts nothing and says so in the status bar, without a
    // box; one whose QUIT is refused says that nothing was deleted.
    void passOutcomeShown_data() {
        QTest::addColumn<bool>("refused");
        QTest::newRow("QUIT unanswered") << false;
        QTest::newRow("QUIT refused") << true;
    }
    void passOutcomeShown() {
        QFETCH(bool, refused);
        start();
        useManualClock();
        m_run->pop.addMailbox(u"pop.one"_s, u"me"_s, u"pw"_s, {kSpam1, kPlain});
        m_run->addAccount({u"One"_s, u"pop.one"_s, u"110"_s, u"me"_s, u"pw"_s, {}});
        if (refused)
            m_run->pop.refuse("QUIT", "some deleted messages not removed");
        else
            m_run->pop.dropAt("QUIT");
        toggle();
        main()->runAutomaticPass();
        QTRY_VERIFY(!main()->operationRunning());
        const QString status = main()->panelText(1);
        QVERIFY2(status.startsWith(refused ? u"One: outcome unknown: The server answered QUIT"_s
                                           : u"One: outcome unknown: The server did not answer"_s),
                 qPrintable(status));
        QCOMPARE(m_run->prompts.shown.size(), 0);
        QCOMPARE(m_run->pop.messages(u"pop.one"_s).size(), 2);
        QCOMPARE(m_run->shell.log().DeleteCount, u"0"_s);
        QCOMPARE(m_run->shell.log().LogLines.filter(u"Not confirmed by the server"_s).size(), 1);
        verifyLocked(true);
    }

    // A list file another program wrote while the window runs screens the next pass and is
    // not overwritten at close; a list edited in the window keeps the window's edit.
    void passReadsListsChangedOnDisk() {
        start();
        useManualClock();
        const QByteArray lottery = TestMessage()
                                       .from("Draw <draw@prizes.example>")
                                       .subject("Your lottery ticket 4711 has won")
                                       .body("Claim it.")
                                       .text();
        m_run->pop.addMailbox(u"pop.one"_s, u"me"_s, u"pw"_s, {lottery, kPlain});
        m_run->addAccount({u"One"_s, u"pop.one"_s, u"110"_s, u"me"_s, u"pw"_s, {}});
        QThread::msleep(20); // a later modification time than the start's
        RuleList subjects(RuleList::Order::ByCaption);
        subjects.add(u"lottery ticket"_s, {u"written meanwhile"_s});
        SaveListFile(subjects, m_dir->filePath(u"blsubj.dat"_s), true);
        RuleList friends;
        friends.add(u"someone@else.example"_s, {});
        SaveListFile(friends, m_dir->filePath(u"freml.dat"_s), true);
        toggle();
        main()->runAutomaticPass();
        QTRY_VERIFY(!main()->operationRunning());
        // The new subject entry deleted the lottery message, and only it.
        QCOMPARE(m_run->pop.messages(u"pop.one"_s).size(), 1);
        QCOMPARE(m_run->shell.lists().SubjectBlack.size(), 1);
        // The friendly list was edited in the window (start() added an entry): kept.
        QCOMPARE(m_run->shell.lists().Friendly.entries().constFirst().Caption,
                 u"friend@example.org"_s);
        toggle();
        QVERIFY(main()->close());
        m_run.reset();
        RuleList saved(RuleList::Order::ByCaption);
        QVERIFY(LoadListFile(saved, m_dir->filePath(u"blsubj.dat"_s)).ok());
        QCOMPARE(saved.size(), 1);
        QCOMPARE(saved.entries().constFirst().Caption, u"lottery ticket"_s);
    }

    // Accounts that a pass could not screen leave a trace: the status bar names each, and the
    // pass history (the countdown's tool tip) says what happened to every account.
    void failedAccountsAreShown() {
        start();
        useManualClock();
        m_run->pop.addMailbox(u"pop.one"_s, u"me"_s, u"pw"_s, {kSpam1, kPlain});
        m_run->pop.addMailbox(u"pop.two"_s, u"me"_s, u"right"_s, {kSpam1});
        m_run->pop.addMailbox(u"pop.three"_s, u"me"_s, u"pw"_s, {kPlain, kSpam2});
        m_run->addAccount({u"One"_s, u"pop.one"_s, u"110"_s, u"me"_s, u"pw"_s, {}});
        m_run->addAccount({u"Two"_s, u"pop.two"_s, u"110"_s, u"me"_s, u"wrong"_s, {}});
        m_run->addAccount({u"Three"_s, u"pop.three"_s, u"110"_s, u"me"_s, u"pw"_s, {}});
        // The first account's archive copy cannot be written: nothing of it is deleted.
        m_run->pop.refuse("RETR 1", "no such message");
        QSignalSpy finished(main(), &MainWindow::passEnded);
        toggle();
        main()->runAutomaticPass();
        QTRY_VERIFY(!main()->operationRunning());

        const QString status = main()->panelText(1);
        QVERIFY2(status.contains(u"One: nothing deleted: "_s), qPrintable(status));
        QVERIFY2(status.contains(u"Two: not checked: "_s), qPrintable(status));
        QVERIFY2(!status.contains(u"Three"_s), qPrintable(status));
        QCOMPARE(m_run->prompts.shown.size(), 0);

        QCOMPARE(main()->autoPassHistory().size(), 1);
        const QStringList lines = main()->autoPassHistory().constFirst().split(u'\n');
        QCOMPARE(lines.size(), 4);
        QVERIFY2(lines[0].startsWith(u"Pass at "_s), qPrintable(lines[0]));
        QVERIFY2(lines[1].startsWith(u"  One: nothing deleted: "_s), qPrintable(lines[1]));
        QVERIFY2(lines[2].startsWith(u"  Two: not checked: "_s), qPrintable(lines[2]));
        QCOMPARE(lines[3], u"  Three: 1 of 2 deleted"_s);
        QVERIFY(main()->countdownLabel->toolTip().contains(main()->autoPassHistory().constFirst()));
        QCOMPARE(finished.size(), 1);
        // The pass deleted one message, and accounts failed.
        const auto results = finished[0][0].value<QList<AccountPassResult>>();
        int deleted = 0;
        bool failed = false;
        for (const AccountPassResult &r : results) {
            deleted +=
                r.outcome == AccountPassResult::Outcome::Processed ? r.processing.processed : 0;
            failed = failed || r.outcome == AccountPassResult::Outcome::Failed ||
                     r.outcome == AccountPassResult::Outcome::NotConnected;
        }
        QCOMPARE(deleted, 1);
        QCOMPARE(failed, true);

        // The next pass comes first in the history.
        main()->runAutomaticPass();
        QTRY_VERIFY(!main()->operationRunning());
        QCOMPARE(main()->autoPassHistory().size(), 2);
    }

    // A command that talks to the server, started while a pass waits after a deletion, does
    // not start: the pass's conversation goes on undisturbed and deletes what it should.
    void serverCommandsWaitForAPass_data() { addServerCommandRows(); }
    void serverCommandsWaitForAPass() {
        QFETCH(QString, command);
        start();
        useManualClock();
        m_run->pop.addMailbox(u"pop.one"_s, u"me"_s, u"pw"_s, {kSpam1, kPlain, kSpam2});
        m_run->addAccount({u"One"_s, u"pop.one"_s, u"110"_s, u"me"_s, u"pw"_s, {}});
        bool tried = false;
        ProcessingHooks hooks;
        hooks.wait = [&](int) {
            if (tried)
                return;
            tried = true;
            startServerCommand(main(), command);
        };
        main()->setProcessingHooks(hooks);
        toggle();
        m_run->pop.clearCommands();
        main()->runAutomaticPass();
        QTRY_VERIFY(!main()->operationRunning());
        QVERIFY(tried);
        const QList<QByteArray> sent = m_run->pop.commandsTo(u"pop.one"_s);
        QCOMPARE(sent.count("QUIT"), 1);
        QVERIFY(!sent.contains("RSET"));
        QCOMPARE(sent.mid(sent.indexOf("RETR 3")),
                 (QList<QByteArray>{"RETR 3", "DELE 3", "RETR 1", "DELE 1", "QUIT"}));
        QCOMPARE(m_run->pop.messages(u"pop.one"_s).size(), 1);
        QCOMPARE(m_run->prompts.shown.size(), 0);
    }

    // The end of a pass arms the next one a full interval ahead, from the clock at that moment.
    void passRearmsTimers() {
        start(2);
        addIdleAccount();
        useManualClock();
        toggle();
        m_now += 120'000;
        main()->runAutomaticPass();
        QVERIFY(main()->passTimer->isActive());
        QVERIFY(main()->countdownTimer->isActive());
        QCOMPARE(main()->passTimer->interval(), 120'000);
        QCOMPARE(main()->secondsToNextCheck(), 120);
        QCOMPARE(main()->countdownLabel->text(), u"Checking in 2 minutes 0 seconds"_s);
        QVERIFY(main()->countdownLabel->isVisible());
        QCOMPARE(main()->serverPanel->text(), u"In auto mode"_s);
        // A pass over an empty mailbox only re-arms; the commands stay locked.
        verifyLocked(true);
        QCOMPARE(m_run->prompts.shown.size(), 0);
    }
};

QTEST_MAIN(TestAutoMode)
#include "tst_automode.moc"
