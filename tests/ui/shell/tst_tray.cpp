// The notification-area icon: it and minimise-to-tray follow the Systray setting and the
// options tick, on desktops with and without a tray (through the availability seam); the
// window goes into the tray and comes back with "Show Window" or a double click; the tool tip,
// picture and notifications follow automatic mode.

#include "../uitestsupport.h"

#include "testmessage.h"
#include "testsupport.h"
#include "ui/settings/tfmsetup.h"
#include "ui/shell/trayicon.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QSystemTrayIcon>
#include <QToolButton>

using namespace Qt::StringLiterals;
using corvane::test::TestMessage;
using namespace corvane;
using namespace corvane::test;

namespace {

struct Notification {
    QString title;
    QString text;
    bool warning;
};

const QByteArray kSpam = TestMessage()
                             .from("Spam King <king@spam.example>")
                             .subject("FREE money!!!")
                             .body("Buy now.")
                             .text();
const QByteArray kPlain = TestMessage()
                              .from("Colleague <colleague@example.com>")
                              .subject("Meeting notes")
                              .body("Notes.")
                              .text();

} // namespace

class TestTray final : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ProgramRun> m_run;
    bool m_trayAvailable = true;
    QList<Notification> m_notifications;

    TfrmMain *main() { return m_run->main(); }
    TrayIcon *tray() { return m_run->shell.trayIcon(); }

    void start(bool systray, bool available) {
        if (!systray)
            QVERIFY(writeFile(QDir(m_dir->path()).filePath(u"Settings.ini"_s),
                              "[Options]\r\nSystray=0\r\n"));
        m_trayAvailable = available;
        m_run = std::make_unique<ProgramRun>(m_dir->path());
        m_run->shell.setTrayAvailability([this] { return m_trayAvailable; });
        m_run->start();
        tray()->setNotifier([this](const QString &title, const QString &text, bool warning) {
            m_notifications.append({title, text, warning});
        });
        QVERIFY(QTest::qWaitForWindowExposed(main()));
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_notifications.clear();
    }
    void cleanup() {
        if (m_run && main()->isVisible())
            main()->close();
        m_run.reset();
    }

    void followsTheSettingAtStart_data() {
        QTest::addColumn<bool>("systray");
        QTest::addColumn<bool>("available");
        QTest::newRow("on, with a tray") << true << true;
        QTest::newRow("off, with a tray") << false << true;
        QTest::newRow("on, no tray") << true << false;
        QTest::newRow("off, no tray") << false << false;
    }
    void followsTheSettingAtStart() {
        QFETCH(bool, systray);
        QFETCH(bool, available);
        start(systray, available);
        QCOMPARE(tray()->iconVisible(), systray);
        QCOMPARE(tray()->minimiseToTray(), systray);
        QCOMPARE(tray()->iconShown(), systray && available);
        QCOMPARE(tray()->showWindowAction->text(), u"Show Window"_s);
        QCOMPARE(tray()->systemTrayIcon->contextMenu(), tray()->trayMenu);
        // Without a tray the options window says why its tick does nothing.
        TfmSetup *setup = m_run->shell.optionsWindow();
        main()->Options1->trigger();
        QCOMPARE(setup->CheckBox4->isChecked(), systray);
        QCOMPARE(setup->lblNoTray->isVisible(), !available);
        QCOMPARE(setup->CheckBox5->isEnabled(), available);
    }

    // A login session's panel often comes up after the programs it starts: the icon appears
    // with it, and the options tab stops saying there is none; if it goes away while the
    // window is in it, the window comes back.
    void trayThatComesLater() {
        start(true, false);
        tray()->setAvailabilityPollInterval(10);
        QVERIFY(!tray()->iconShown());
        m_trayAvailable = true;
        QTRY_VERIFY(tray()->iconShown());
        TfmSetup *setup = m_run->shell.optionsWindow();
        main()->Options1->trigger();
        QVERIFY(!setup->lblNoTray->isVisible());
        setup->close();
        main()->showMinimized();
        QTRY_VERIFY(tray()->inTray());
        m_trayAvailable = false;
        QTRY_VERIFY(!tray()->inTray());
        QVERIFY(main()->isVisible());
        QVERIFY(!tray()->iconShown());
        main()->Options1->trigger();
        QTRY_VERIFY(setup->lblNoTray->isVisible());
    }

    void tickSwitchesIconAndMinimising_data() {
        QTest::addColumn<bool>("available");
        QTest::newRow("with a tray") << true;
        QTest::newRow("no tray") << false;
    }
    void tickSwitchesIconAndMinimising() {
        QFETCH(bool, available);
        start(false, available);
        TfmSetup *setup = m_run->shell.optionsWindow();
        main()->Options1->trigger();
        QVERIFY(!tray()->iconShown());
        QVERIFY(!setup->CheckBox4->isChecked());
        setup->CheckBox4->click();
        QVERIFY(setup->CheckBox4->isChecked());
        QVERIFY(m_run->shell.settings().Systray);
        QVERIFY(tray()->iconVisible());
        QVERIFY(tray()->minimiseToTray());
        QCOMPARE(tray()->iconShown(), available);
        setup->CheckBox4->click();
        QVERIFY(!m_run->shell.settings().Systray);
        QVERIFY(!tray()->iconVisible());
        QVERIFY(!tray()->minimiseToTray());
        QVERIFY(!tray()->iconShown());
    }

    void minimisingAndShowWindow_data() {
        QTest::addColumn<bool>("systray");
        QTest::addColumn<bool>("available");
        QTest::addColumn<QString>("back"); // how the window is brought back
        QTest::newRow("into the tray, Show Window") << true << true << u"Show Window"_s;
        QTest::newRow("into the tray, double click") << true << true << u"double click"_s;
        QTest::newRow("tray off: task bar") << false << true << QString();
        QTest::newRow("no tray: task bar") << true << false << QString();
    }
    void minimisingAndShowWindow() {
        QFETCH(bool, systray);
        QFETCH(bool, available);
        QFETCH(QString, back);
        start(systray, available);
        main()->resize(main()->minimumSizeHint().width() + 40, 420);
        const QSize normal = main()->size();
        main()->showMinimized();
        QVERIFY(main()->isMinimized());
        if (back.isEmpty()) {
            // Minimised as usual: the window stays, with its task-bar button.
            QTest::qWait(50);
            QVERIFY(main()->isVisible());
            QVERIFY(!tray()->inTray());
            return;
        }
        QTRY_VERIFY(!main()->isVisible());
        QVERIFY(tray()->inTray());
        QVERIFY(tray()->iconShown());
        // A single click on the icon does nothing.
        Q_EMIT tray()->systemTrayIcon->activated(QSystemTrayIcon::Trigger);
        QVERIFY(!main()->isVisible());
        if (back == u"Show Window"_s)
            tray()->showWindowAction->trigger();
        else
            Q_EMIT tray()->systemTrayIcon->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(main()->isVisible());
        QVERIFY(!main()->isMinimized());
        QVERIFY(!tray()->inTray());
        QCOMPARE(main()->size(), normal);
        QVERIFY(tray()->iconShown());
    }

    // The icon stays while the window is in the tray even when the tick goes off meanwhile:
    // it is the only way back.
    void iconStaysWhileTheWindowIsInTheTray() {
        start(true, true);
        main()->showMinimized();
        QTRY_VERIFY(tray()->inTray());
        tray()->setIconVisible(false);
        QVERIFY(tray()->iconShown());
        tray()->showWindowAction->trigger();
        QVERIFY(!tray()->iconShown());
    }

    void closingIsNotMinimising() {
        start(true, true);
        QVERIFY(main()->close());
        QVERIFY(!main()->isVisible());
        QVERIFY(!tray()->inTray());
        // The shutdown ran.
        QVERIFY(QFile::exists(QDir(m_dir->path()).filePath(u"Settings.ini"_s)));
    }

    void automaticModeInToolTipAndNotifications_data() {
        QTest::addColumn<bool>("notify");
        QTest::newRow("notifications off") << false;
        QTest::newRow("notifications on") << true;
    }
    void automaticModeInToolTipAndNotifications() {
        QFETCH(bool, notify);
        start(true, true);
        m_run->shell.settings().notify = notify;
        m_run->pop.addMailbox(u"pop.one"_s, u"me"_s, u"pw"_s, {kSpam, kPlain, kSpam});
        m_run->pop.addMailbox(u"pop.two"_s, u"me"_s, u"pw"_s, {kPlain});
        m_run->addAccount({u"One"_s, u"pop.one"_s, u"110"_s, u"me"_s, u"pw"_s, {}});
        m_run->addAccount({u"Two"_s, u"pop.two"_s, u"110"_s, u"me"_s, u"wrong"_s, {}});
        QCOMPARE(tray()->systemTrayIcon->toolTip(), u"Corvane"_s);
        const qint64 idleIcon = tray()->systemTrayIcon->icon().cacheKey();

        QTest::mouseClick(main()->ToolButton7, Qt::LeftButton);
        QVERIFY(tray()->systemTrayIcon->toolTip().startsWith(
            u"Corvane\nAutomatic mode\nChecking in 1 minutes 0 seconds"_s));
        QVERIFY(tray()->systemTrayIcon->icon().cacheKey() != idleIcon);
        QVERIFY(m_notifications.isEmpty());

        main()->Timer1Timer();
        QTRY_VERIFY(!main()->operationRunning());
        QCOMPARE(m_run->pop.messages(u"pop.one"_s).size(), 1);
        const QString tip = tray()->systemTrayIcon->toolTip();
        QVERIFY2(tip.contains(u"Last check: 2 messages deleted\nTwo: "_s), qPrintable(tip));
        if (notify) {
            QCOMPARE(m_notifications.size(), 1);
            QVERIFY(m_notifications[0].warning);
            QVERIFY2(m_notifications[0].text.startsWith(u"2 messages deleted.\nTwo: "_s),
                     qPrintable(m_notifications[0].text));
        } else {
            QVERIFY(m_notifications.isEmpty());
        }

        // A pass that deletes nothing and fails nowhere shows nothing.
        m_run->store()->removeByTag(1);
        main()->RefreshAccounts();
        m_notifications.clear();
        main()->Timer1Timer();
        QTRY_VERIFY(!main()->operationRunning());
        QVERIFY(m_notifications.isEmpty());
        QVERIFY(tray()->systemTrayIcon->toolTip().contains(u"Last check: 0 messages deleted"_s));

        QTest::mouseClick(main()->ToolButton7, Qt::LeftButton);
        QCOMPARE(tray()->systemTrayIcon->toolTip(), u"Corvane"_s);
    }

    // Only a pass that deleted mail notifies, when nothing failed.
    void deletionAloneNotifies() {
        start(true, true);
        m_run->shell.settings().notify = true;
        m_run->pop.addMailbox(u"pop.one"_s, u"me"_s, u"pw"_s, {kSpam});
        m_run->addAccount({u"One"_s, u"pop.one"_s, u"110"_s, u"me"_s, u"pw"_s, {}});
        QTest::mouseClick(main()->ToolButton7, Qt::LeftButton);
        main()->Timer1Timer();
        QTRY_VERIFY(!main()->operationRunning());
        QCOMPARE(m_notifications.size(), 1);
        QCOMPARE(m_notifications[0].text, u"1 spam message deleted."_s);
        QVERIFY(!m_notifications[0].warning);
    }
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
