// The program's pictures at every display scaling, and the main window with a scanned mailbox.
// With CORVANE_SCREENSHOT_DIR set, the windows are also saved there as <window>@<scale>x.png
// (scripts/screenshots.sh runs this under Xvfb at 100 % and 200 %).

#include "../uitestsupport.h"

#include "core/rules/listfile.h"
#include "fakeserver.h"
#include "testmessage.h"
#include "testsupport.h"
#include "ui/records/savedemailswindow.h"
#include "ui/rules/listentrydialog.h"
#include "ui/rules/listupdatewindow.h"
#include "ui/rules/ruleswindow.h"
#include "ui/settings/tfmsetup.h"
#include "ui/shell/icons.h"
#include "ui/shell/welcomewizard.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTreeView>

using namespace Qt::StringLiterals;
using corvane::test::TestMessage;
using namespace corvane;
using namespace corvane::test;

namespace {

// The share of pixels that are not transparent.
double coverage(const QImage &image) {
    qint64 painted = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            painted += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
    return double(painted) / double(image.width() * image.height());
}

// Grabs a window; with CORVANE_SCREENSHOT_DIR set, saves it there under name (with %1 for the
// pixel ratio).
void saveShot(QWidget *window, const QString &name) {
    QApplication::processEvents();
    const QPixmap shot = window->grab();
    QVERIFY(!shot.isNull());
    const QString target = qEnvironmentVariable("CORVANE_SCREENSHOT_DIR");
    if (target.isEmpty())
        return;
    QDir().mkpath(target);
    const qreal ratio = window->devicePixelRatioF();
    QVERIFY(shot.save(QDir(target).filePath(name.arg(qRound(ratio)))));
}

} // namespace

class TestLookAndFeel final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void iconsAreDrawnAtFullResolution_data() {
        QTest::addColumn<QIcon>("icon");
        QTest::addColumn<int>("size");
        QTest::newRow("plain") << markIcon(RowMark::Plain) << 16;
        QTest::newRow("friendly") << markIcon(RowMark::Friendly) << 16;
        QTest::newRow("spam") << markIcon(RowMark::Spam) << 16;
        QTest::newRow("delete") << markIcon(RowMark::Delete) << 16;
        QTest::newRow("bounce") << markIcon(RowMark::Bounce) << 16;
        QTest::newRow("check") << toolIcon(ToolIcon::Check) << 24;
        QTest::newRow("process") << toolIcon(ToolIcon::Process) << 24;
        QTest::newRow("disconnect") << toolIcon(ToolIcon::Disconnect) << 24;
        QTest::newRow("options") << toolIcon(ToolIcon::Options) << 24;
        QTest::newRow("auto mode") << toolIcon(ToolIcon::AutoMode) << 24;
        QTest::newRow("quit") << toolIcon(ToolIcon::Quit) << 24;
        QTest::newRow("application") << applicationIcon() << 32;
        QTest::newRow("tray, automatic mode") << trayIcon(TrayBadge::AutoMode) << 22;
        QTest::newRow("tray, a problem") << trayIcon(TrayBadge::Problem) << 22;
    }
    void iconsAreDrawnAtFullResolution() {
        QFETCH(QIcon, icon);
        QFETCH(int, size);
        for (const qreal ratio : {1.0, 2.0}) {
            const QPixmap pixmap = icon.pixmap(QSize(size, size), ratio);
            QCOMPARE(pixmap.devicePixelRatio(), ratio);
            // Drawn for the pixels of the display, not scaled up from a smaller picture.
            QCOMPARE(pixmap.width(), int(size * ratio));
            const double painted = coverage(pixmap.toImage());
            QVERIFY2(painted > 0.2 && painted < 0.95, qPrintable(QString::number(painted)));
        }
        // The disabled form is greyed: no pixel keeps a strong colour.
        const QImage disabled = icon.pixmap(QSize(size, size), 1.0, QIcon::Disabled)
                                    .toImage()
                                    .convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < disabled.height(); ++y)
            for (int x = 0; x < disabled.width(); ++x) {
                const QColor c = QColor::fromRgba(disabled.pixel(x, y));
                QVERIFY(c.alpha() == 0 || c.hsvSaturation() < 40);
            }
    }

    void mainWindowWithScannedMailbox() {
        QTemporaryDir dir;
        ProgramRun run(dir.path());
        run.start();
        run.pop.addMailbox(u"pop.example.net"_s, u"alex"_s, u"secret"_s,
                           {TestMessage()
                                .from("Jordan Miles <jordan@example.com>")
                                .to("Alex Reader <alex@example.net>")
                                .subject("Minutes of Tuesday's meeting")
                                .date("Tue, 1 Dec 2026 09:12:00 +0000")
                                .body("Body")
                                .text(),
                            TestMessage()
                                .from("Deals Daily <offers@bargain-market.example>")
                                .to("Alex Reader <alex@example.net>")
                                .subject("FREE gift card inside!!!")
                                .date("Tue, 1 Dec 2026 09:40:00 +0000")
                                .body("Body")
                                .text(),
                            TestMessage()
                                .from("Mum <mum@example.org>")
                                .to("Alex Reader <alex@example.net>")
                                .subject("Sunday lunch")
                                .date("Tue, 1 Dec 2026 10:05:00 +0000")
                                .body("Body")
                                .text(),
                            TestMessage()
                                .from("Prize Desk <winner@lottery.example>")
                                .to("Alex Reader <alex@example.net>")
                                .subject("Re: Details")
                                .date("Tue, 1 Dec 2026 10:31:00 +0000")
                                .body("Body")
                                .text(),
                            TestMessage()
                                .from("Build Server <ci@example.com>")
                                .to("Alex Reader <alex@example.net>")
                                .subject("Nightly build passed")
                                .date("Tue, 1 Dec 2026 11:00:00 +0000")
                                .body("Body")
                                .text(),
                            TestMessage()
                                .from("Credit Team <cards@loans.example>")
                                .to("Alex Reader <alex@example.net>")
                                .subject("Your new credit card is approved")
                                .date("Tue, 1 Dec 2026 11:20:00 +0000")
                                .body("Body")
                                .text(),
                            TestMessage()
                                .from("Sam Carter <sam@example.com>")
                                .to("Alex Reader <alex@example.net>")
                                .subject("Photos from the trip")
                                .date("Tue, 1 Dec 2026 12:02:00 +0000")
                                .body("Body")
                                .text()});
        run.shell.lists().Friendly.add(u"mum@example.org"_s, {u"Family"_s});
        run.addAccount({u"Home"_s, u"pop.example.net"_s, u"110"_s, u"alex"_s, u"secret"_s,
                        u"alex@example.net"_s});
        run.addAccount({u"Work"_s, u"pop.example.com"_s, u"110"_s, u"alex"_s, u"secret"_s,
                        u"alex@example.com"_s});
        TfrmMain *main = run.main();
        main->resize(960, 420);
        main->acctdrop->actions().value(0)->trigger();
        QTRY_COMPARE(main->lvHeaders->model()->rowCount(), 7);
        QTRY_VERIFY(!main->operationRunning());
        clickRow(main, 1);
        main->Markfordeletion1->trigger();
        clickRow(main, 5);
        main->Markforbouncing1->trigger();
        clickRow(main, 4);
        QVERIFY(run.prompts.shown.isEmpty());
        QCOMPARE(main->panelText(0), u"Message 5 of 7 selected"_s);
        QCOMPARE(main->panelText(1), u"Connected"_s);

        const QPixmap shot = main->grab();
        QVERIFY(!shot.isNull());
        const QString target = qEnvironmentVariable("CORVANE_SCREENSHOT_DIR");
        if (!target.isEmpty()) {
            QDir().mkpath(target);
            const qreal ratio = main->devicePixelRatioF();
            QVERIFY(shot.save(QDir(target).filePath(u"main-window@%1x.png"_s.arg(qRound(ratio)))));
            // The list-entry dialog over the window, as opened for the selected message.
            main->Addemailtoblacklist1->trigger();
            ListEntryDialog *dialog = run.shell.listEntryDialog();
            QVERIFY(dialog->isVisible());
            QVERIFY(dialog->grab().save(
                QDir(target).filePath(u"add-to-blacklist@%1x.png"_s.arg(qRound(ratio)))));
            dialog->close();
        }
        main->close();
    }
    // The Rules and Lists window on a few lists, its first tab and its Misc tab.
    void rulesAndListsWindow() {
        QTemporaryDir dir;
        ProgramRun run(dir.path());
        run.start();
        RuleLists &lists = run.shell.lists();
        lists.SubjectBlack.add(u"Lowest mortgage rates"_s, {u"Loan offers"_s});
        lists.SubjectBlack.add(u"You have won"_s, {u"Lottery"_s});
        lists.EmailBlack.add(u"@bargain-market.example"_s, {u"Daily deals"_s});
        lists.Friendly.add(u"mum@example.org"_s, {u"Family"_s});
        lists.Friendly.add(u"@example.com"_s, {u"Work"_s});
        lists.XandY.add(u"free"_s, {u"shop"_s, u"Offers"_s});
        lists.XandY.add(u"cheap"_s, {u"pills"_s, QString()});
        lists.Misc.setTicked(7, false);
        run.main()->RulesandLists1->trigger();
        RulesWindow *rules = run.shell.rulesWindow();
        QVERIFY(rules && rules->isVisible());
        rules->subjectList->setCurrentIndex(rules->subjectList->model()->index(2, 0));
        QCOMPARE(rules->subjectCount->text(), u"15 Items in the this black list"_s);

        const QString target = qEnvironmentVariable("CORVANE_SCREENSHOT_DIR");
        const auto save = [&](const QString &name) {
            const QPixmap shot = rules->grab();
            QVERIFY(!shot.isNull());
            if (!target.isEmpty()) {
                QDir().mkpath(target);
                const qreal ratio = rules->devicePixelRatioF();
                QVERIFY(shot.save(QDir(target).filePath(name.arg(qRound(ratio)))));
            }
        };
        save(u"rules-and-lists@%1x.png"_s);
        rules->listTabs->setCurrentIndex(3);
        save(u"rules-and-lists-misc@%1x.png"_s);
        rules->close();
        run.main()->close();
    }

    // The Welcome window of a first start, each of its four pages; every page's texts fit.
    void welcomeWindowPages() {
        QTemporaryDir dir;
        ProgramRun run(dir.path());
        run.start();
        QTRY_VERIFY_WITH_TIMEOUT(run.shell.welcomeWizard() != nullptr, 5000);
        WelcomeWizard *welcome = run.shell.welcomeWizard();
        QVERIFY(QTest::qWaitForWindowExposed(welcome));
        const QString target = qEnvironmentVariable("CORVANE_SCREENSHOT_DIR");
        for (int page = 1; page <= WelcomeWizard::PageCount; ++page) {
            QWidget *sheet = welcome->pages->currentWidget();
            // Nothing on the page is squeezed below the height it asks for.
            for (const QWidget *w : sheet->findChildren<QWidget *>())
                QVERIFY2(w->height() >= w->minimumSizeHint().height(),
                         qPrintable(u"page %1: %2"_s.arg(page).arg(w->objectName())));
            const QPixmap shot = welcome->grab();
            QVERIFY(!shot.isNull());
            if (!target.isEmpty()) {
                QDir().mkpath(target);
                const qreal ratio = welcome->devicePixelRatioF();
                QVERIFY(shot.save(
                    QDir(target).filePath(u"welcome-%1@%2x.png"_s.arg(page).arg(qRound(ratio)))));
            }
            if (page < WelcomeWizard::PageCount)
                welcome->nextButton->click();
        }
        welcome->close();
    }

    // The options window, on its first tab and on its SMTP tab.
    void setupWindow() {
        QTemporaryDir dir;
        ProgramRun run(dir.path());
        run.start();
        run.store()->insert(
            {u"Home"_s, u"pop.example.net"_s, u"110"_s, u"me"_s, u"pw"_s, u"me@example.net"_s});
        run.main()->RefreshAccounts();
        run.main()->Options1->trigger();
        TfmSetup *setup = run.shell.optionsWindow();
        QVERIFY(setup && setup->isVisible());
        setup->PageControl1->setCurrentIndex(0);
        saveShot(setup, u"setup@%1x.png"_s);
        for (int tab = 0; tab < setup->PageControl1->count(); ++tab)
            if (setup->PageControl1->tabText(tab).remove(u'&') == u"SMTP"_s)
                setup->PageControl1->setCurrentIndex(tab);
        saveShot(setup, u"setup-smtp@%1x.png"_s);
        setup->close();
        run.main()->close();
    }
    // The saved e-mails window on a few archive copies, one of them selected.
    void savedEmailsWindow() {
        QTemporaryDir dir;
        ProgramRun run(dir.path());
        run.start();
        const QList<std::pair<QString, TestMessage>> copies = {
            {u"Cheap- pills-.eml"_s, TestMessage()
                                         .from("Pills <pills@spam.example>")
                                         .to("Me <me@example.net>")
                                         .subject("Cheap: pills?")
                                         .date("Tue, 1 Dec 2026 10:00:00 +0000")},
            {u"You won.eml"_s, TestMessage()
                                   .from("Prize Desk <winner@lottery.example>")
                                   .to("Me <me@example.net>")
                                   .subject("You won")
                                   .date("Thu, 3 Dec 2026 09:00:00 +0000")},
            {u"Lowest mortgage rates.eml"_s, TestMessage()
                                                 .from("Loans Direct <offers@loans.example>")
                                                 .to("me@example.net")
                                                 .subject("Lowest mortgage rates")
                                                 .date("Fri, 4 Dec 2026 18:30:00 +0000")},
        };
        for (const auto &[name, message] : copies) {
            QByteArray file = message.text();
            file.replace("\n", "\r\n");
            QVERIFY(writeFile(dir.filePath(u"archive/"_s + name), file + ".\r\n"));
        }
        run.main()->SavedEmails1->trigger();
        SavedEmailsWindow *archive = run.shell.savedEmailsWindow();
        QVERIFY(archive && archive->isVisible());
        QTRY_VERIFY(!archive->scanning());
        QCOMPARE(archive->archiveNames().size(), 3);
        archive->copyList->setCurrentIndex(archive->copyList->model()->index(1, 0));
        QCOMPARE(archive->panelText(0), u"Message 2 of 3 selected"_s);
        QVERIFY(run.prompts.shown.isEmpty());
        saveShot(archive, u"saved-emails@%1x.png"_s);
        archive->close();
        run.main()->close();
    }

    // The update window after a run that brought new entries (from a scripted web server),
    // and the options window's Submitting tab.
    void listExchangeWindows() {
        QTemporaryDir dir;
        SaveListFile(initialListForShot(RuleList::Order::ByCaption, 60),
                     dir.filePath(u"blsubj.dat"_s), true);
        SaveListFile(initialListForShot(RuleList::Order::ByCaption, 40),
                     dir.filePath(u"bleml.dat"_s), true);
        SaveListFile(initialListForShot(RuleList::Order::Insertion, 12),
                     dir.filePath(u"blsubxy.dat"_s), true);
        ProgramRun run(dir.path());
        run.start();
        RuleList subjects(RuleList::Order::ByCaption), emails(RuleList::Order::ByCaption),
            pairs(RuleList::Order::Insertion);
        subjects.add(u"Cheap watches"_s, {u"Team list"_s});
        subjects.add(u"Lowest mortgage rates"_s, {u"Team list"_s});
        emails.add(u"@bargain-market.example"_s, {u"Team list"_s});
        pairs.add(u"free"_s, {u"shop"_s, u"Team list"_s});
        FakeServer server;
        for (const RuleList *list : {&subjects, &emails, &pairs}) {
            const QString file = dir.filePath(u"published.dat"_s);
            SaveListFile(*list, file, true);
            QFile published(file);
            QVERIFY(published.open(QIODevice::ReadOnly));
            const QByteArray body = published.readAll();
            server.skipUntil("").send("HTTP/1.1 200 OK\r\nContent-Length: " +
                                      QByteArray::number(body.size()) + "\r\n\r\n" + body);
        }
        Settings &settings = run.shell.settings();
        settings.updateurl = u"http://127.0.0.1:%1/corvane/"_s.arg(server.port());
        settings.submitaddress = u"lists@our-team.lan"_s;
        TfmSetup *setup = run.shell.optionsWindow();
        setup->showSettings();
        run.main()->Checkforupdates1->trigger();
        ListUpdateWindow *update = run.shell.listUpdateWindow();
        QVERIFY(update && update->isVisible());
        update->checkNowButton->click();
        QCOMPARE(update->statusLabel->text(), u"Completed Sucessfully"_s);
        // The address shown is the one a user would have set.
        settings.updateurl = u"https://lists.our-team.lan/corvane/"_s;
        update->showWindow();

        const QString target = qEnvironmentVariable("CORVANE_SCREENSHOT_DIR");
        const auto save = [&](QWidget *window, const QString &name) {
            const QPixmap shot = window->grab();
            QVERIFY(!shot.isNull());
            if (!target.isEmpty()) {
                QDir().mkpath(target);
                const qreal ratio = window->devicePixelRatioF();
                QVERIFY(shot.save(QDir(target).filePath(name.arg(qRound(ratio)))));
            }
        };
        // The labels' new heights are laid out by the event loop.
        QTest::qWait(50);
        save(update, u"update-window@%1x.png"_s);
        update->close();
        run.main()->Options1->trigger();
        setup->showSettings();
        setup->PageControl1->setCurrentIndex(5);
        save(setup, u"options-submitting@%1x.png"_s);
        setup->close();
        run.main()->close();
    }

private:
    static RuleList initialListForShot(RuleList::Order order, int count) {
        RuleList list(order);
        for (int i = 0; i < count; ++i)
            list.add(u"sender%1@spam.example"_s.arg(i), {QString()});
        return list;
    }
};

QTEST_MAIN(TestLookAndFeel)
#include "tst_lookandfeel.moc"
