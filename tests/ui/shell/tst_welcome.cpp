// The Welcome window of a start without accounts: armed only when the account store is open
// and empty, its four pages and their buttons, its two links, and Finish rebuilding the
// account menus.

#include "../uitestsupport.h"

#include "testsupport.h"
#include "ui/rules/listupdatewindow.h"
#include "ui/settings/addaccountdialog.h"
#include "ui/settings/optionswindow.h"
#include "ui/shell/svgpicture.h"
#include "ui/shell/welcomewizard.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>

using namespace Qt::StringLiterals;
using namespace corvane;
using namespace corvane::test;

namespace {

const Account kHome{u"Home"_s, u"pop.example.net"_s, u"110"_s,
                    u"alex"_s, u"secret"_s,          u"alex@example.net"_s};

// The texts of every label on a page, top to bottom.
QStringList pageTexts(const QWidget *page) {
    QStringList texts;
    for (const QLabel *label : page->findChildren<QLabel *>())
        texts << label->text();
    return texts;
}

// Waits for the Welcome timer of a run and returns the window it made.
WelcomeWizard *waitForWelcome(ProgramRun &run) {
    (void)QTest::qWaitFor([&] { return run.shell.welcomeWizard() != nullptr; }, 5000);
    return run.shell.welcomeWizard();
}

} // namespace

class TestWelcome final : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString &name) const { return QDir(m_dir->path()).filePath(name); }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void armedOnlyWithAnEmptyAccountTable_data() {
        QTest::addColumn<QString>("store");
        QTest::addColumn<bool>("armed");
        QTest::newRow("no account") << u"empty"_s << true;
        QTest::newRow("one account") << u"one account"_s << false;
        // An unreadable store says nothing about whether the user has accounts.
        QTest::newRow("store not opened") << u"damaged"_s << false;
    }
    void armedOnlyWithAnEmptyAccountTable() {
        QFETCH(QString, store);
        QFETCH(bool, armed);
        if (store == u"one account"_s) {
            ProgramRun first(m_dir->path());
            first.start();
            first.store()->insert(kHome);
            QVERIFY(first.main()->close());
        } else if (store == u"damaged"_s) {
            QVERIFY(writeFile(path(u"accounts.dat"_s), "Standard Jet DB\0 not SQLite at all"));
        }
        ProgramRun run(m_dir->path());
        run.start();
        QTimer *timer = run.shell.optionsWindow()->welcomeTimer;
        QCOMPARE(timer->isActive(), armed);
        QVERIFY(timer->isSingleShot());
        QCOMPARE(timer->interval(), 500);
        // Nothing is made before the timer fires.
        QVERIFY(!run.shell.welcomeWizard());
        if (!armed) {
            QCOMPARE(run.prompts.shown.size(), store == u"damaged"_s ? 1 : 0);
            return;
        }
        WelcomeWizard *welcome = waitForWelcome(run);
        QVERIFY(welcome);
        QVERIFY(welcome->isVisible());
        QVERIFY(!welcome->isModal());
        QCOMPARE(welcome->windowTitle(), u"Welcome"_s);
        QVERIFY(!timer->isActive());
        // The main window stays usable beside it.
        QVERIFY(run.main()->isEnabled());
        QVERIFY(run.prompts.shown.isEmpty());
    }

    void pagesAndButtons_data() {
        QTest::addColumn<int>("nexts");
        QTest::addColumn<bool>("previous");
        QTest::addColumn<bool>("next");
        QTest::addColumn<bool>("finish");
        QTest::addColumn<QString>("firstText");
        QTest::newRow("page 1") << 0 << false << true << false
                                << u"Greetings, and welcome to Corvane."_s;
        QTest::newRow("page 2") << 1 << true << true << false
                                << u"Here we need to setup an account."_s;
        QTest::newRow("page 3") << 2 << true << true << false
                                << u"A big part of the program is the ability to use other "
                                   u"people's black lists."_s;
        QTest::newRow("page 4") << 3 << true << false << true
                                << u"Thank you for your time the process is now complete"_s;
    }
    void pagesAndButtons() {
        QFETCH(int, nexts);
        QFETCH(bool, previous);
        QFETCH(bool, next);
        QFETCH(bool, finish);
        QFETCH(QString, firstText);
        ProgramRun run(m_dir->path());
        run.start();
        WelcomeWizard *welcome = waitForWelcome(run);
        QVERIFY(welcome);
        QCOMPARE(welcome->currentPage(), 0);
        for (int i = 0; i < nexts; ++i)
            QTest::mouseClick(welcome->nextButton, Qt::LeftButton);
        QCOMPARE(welcome->currentPage(), nexts);
        QCOMPARE(welcome->pages->currentWidget()->objectName(), u"welcomePage%1"_s.arg(nexts + 1));
        QCOMPARE(welcome->previousButton->isEnabled(), previous);
        QCOMPARE(welcome->nextButton->isEnabled(), next);
        QCOMPARE(welcome->finishButton->isEnabled(), finish);
        const QStringList texts = pageTexts(welcome->pages->currentWidget());
        QVERIFY2(texts.first().startsWith(firstText), qPrintable(texts.first()));
        QCOMPARE(texts.last(), nexts == 3 ? u"Click the finish button to exit"_s
                                          : u"Click the next button to continue"_s);
        // Previous goes back one page at a time to the first.
        for (int i = nexts; i > 0; --i) {
            QTest::mouseClick(welcome->previousButton, Qt::LeftButton);
            QCOMPARE(welcome->currentPage(), i - 1);
        }
        QVERIFY(!welcome->previousButton->isEnabled());
        QVERIFY(welcome->nextButton->isEnabled());
        QVERIFY(!welcome->finishButton->isEnabled());
    }

    void windowIsFixedAndItsPicturesAreDrawn() {
        ProgramRun run(m_dir->path());
        run.start();
        WelcomeWizard *welcome = waitForWelcome(run);
        QVERIFY(welcome);
        QCOMPARE(welcome->minimumSize(), welcome->maximumSize());
        QVERIFY(welcome->sidePicture->isValid());
        QVERIFY(welcome->bannerPicture->isValid());
        QCOMPARE(welcome->sidePicture->drawingSize(), QSize(49, 281));
        QCOMPARE(welcome->bannerPicture->drawingSize(), QSize(441, 24));
        // The side picture runs from white at the top to blue at the foot, drawn at the
        // display's own resolution.
        for (const qreal ratio : {1.0, 2.0}) {
            QImage image(welcome->sidePicture->size() * ratio, QImage::Format_ARGB32);
            image.setDevicePixelRatio(ratio);
            image.fill(Qt::black);
            welcome->sidePicture->render(&image);
            const QColor top = image.pixelColor(image.width() / 2, 1);
            const QColor foot = image.pixelColor(2, image.height() - 2);
            QVERIFY2(top.lightness() > 235, qPrintable(top.name()));
            QVERIFY2(foot.blue() > foot.red() + 60, qPrintable(foot.name()));
        }
    }

    void addAccountLinkOpensTheOneDialog() {
        ProgramRun run(m_dir->path());
        run.start();
        WelcomeWizard *welcome = waitForWelcome(run);
        QVERIFY(welcome);
        welcome->nextButton->click();
        QVERIFY(welcome->addAccountLink->isVisible());
        QTest::mouseClick(welcome->addAccountLink, Qt::LeftButton);
        AddAccountDialog *dialog = run.shell.addAccountDialog();
        QVERIFY(dialog->isVisible());
        QVERIFY(welcome->isVisible());
        // Twice brings up the same dialog, not a second one.
        QTest::mouseClick(welcome->addAccountLink, Qt::LeftButton);
        QCOMPARE(run.main()->findChildren<AddAccountDialog *>().size(), 1);
        QVERIFY(dialog->isVisible());
        // An account added there rebuilds the menus when the dialog closes.
        dialog->nameEdit->setText(u"Home"_s);
        dialog->serverEdit->setText(u"pop.example.net"_s);
        dialog->userEdit->setText(u"alex"_s);
        dialog->passwordEdit->setText(u"secret"_s);
        dialog->emailEdit->setText(u"alex@example.net"_s);
        QTest::mouseClick(dialog->addButton, Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(menuItems(run.main()->checkMailMenu), QStringList{u"Home:0"_s});
        QVERIFY(welcome->isVisible());
    }

    void listUpdateLinkOpensTheUpdateWindow() {
        ProgramRun run(m_dir->path());
        run.start();
        WelcomeWizard *welcome = waitForWelcome(run);
        QVERIFY(welcome);
        QAction *update = run.main()->checkForUpdatesAction;
        // The link opens what Program > "Check for updates" opens, even before any account.
        QVERIFY(run.main()->commandAvailable(update));
        QVERIFY(welcome->listUpdateLink->isEnabled());
        int triggered = 0;
        connect(update, &QAction::triggered, this, [&] { ++triggered; });
        welcome->nextButton->click();
        welcome->nextButton->click();
        QTest::mouseClick(welcome->listUpdateLink, Qt::LeftButton);
        QCOMPARE(triggered, 1);
        QVERIFY(run.shell.listUpdateWindow() && run.shell.listUpdateWindow()->isVisible());
        QVERIFY(welcome->isVisible());
        run.shell.listUpdateWindow()->close();
    }

    void supportLineShowsThePublishersAddresses() {
        ProgramRun run(m_dir->path());
        run.start();
        run.shell.settings().website = u"https://help.example.com/corvane?a=1&b=<2>"_s;
        run.shell.settings().supportaddress = u"help@example.com"_s;
        WelcomeWizard *welcome = waitForWelcome(run);
        QVERIFY(welcome);
        const QString html = welcome->supportLabel->text();
        QVERIFY2(html.contains(u"href=\"mailto:help@example.com\""_s), qPrintable(html));
        // Text from the settings is shown as text, never as markup.
        QVERIFY2(html.contains(u">https://help.example.com/corvane?a=1&amp;b=&lt;2&gt;</a>"_s),
                 qPrintable(html));
    }

    void finishRebuildsTheAccountMenus() {
        ProgramRun run(m_dir->path());
        run.start();
        WelcomeWizard *welcome = waitForWelcome(run);
        QVERIFY(welcome);
        // An account that reached the store without the menus being rebuilt.
        run.store()->insert(kHome);
        QCOMPARE(menuItems(run.main()->checkMailMenu), QStringList{u"No accounts setup:-1"_s});
        for (int i = 0; i < 3; ++i)
            welcome->nextButton->click();
        QTest::mouseClick(welcome->finishButton, Qt::LeftButton);
        QVERIFY(!welcome->isVisible());
        QCOMPARE(menuItems(run.main()->checkMailMenu), QStringList{u"Home:0"_s});
        QCOMPARE(menuItems(run.main()->checkMessagesMenu), QStringList{u"Home:0"_s});
    }

    // Without an account the empty list says where to begin, and the commands that need an
    // account wait, disabled, instead of answering with an error.
    void emptyListSaysWhereToBegin() {
        ProgramRun run(m_dir->path());
        run.start();
        MainWindow *main = run.main();
        const auto needsAccount = [main] {
            return QList<QObject *>{main->processAction,
                                    main->processButton,
                                    main->autoModeButton,
                                    main->disconnectAction,
                                    main->emailOptionsMenu->menuAction(),
                                    main->markEmailMenu->menuAction(),
                                    main->markForDeletionContextAction,
                                    main->viewEmailContextAction};
        };
        const auto enabled = [](QObject *command) {
            if (auto *action = qobject_cast<QAction *>(command))
                return action->isEnabled();
            return qobject_cast<QWidget *>(command)->isEnabled();
        };
        const auto verifyFirstRun = [&](bool noAccount) {
            QCOMPARE(main->firstRunLabel->isVisible(), noAccount);
            for (QObject *command : needsAccount())
                QVERIFY2(enabled(command) != noAccount, qPrintable(command->objectName()));
            // Adding an account and the options stay at hand.
            QVERIFY(main->addAccountAction->isEnabled());
            QVERIFY(main->accountsMenu->menuAction()->isEnabled());
            QVERIFY(main->optionsButton->isEnabled());
        };
        QCOMPARE(main->firstRunLabel->text(), u"Add an account to begin: Accounts > Add Account"_s);
        verifyFirstRun(true);
        // Nothing but the disabled item is in the account menu.
        QCOMPARE(menuItems(main->checkMailMenu), QStringList{u"No accounts setup:-1"_s});
        run.addAccount(kHome);
        verifyFirstRun(false);
        run.prompts.answers << QMessageBox::Yes;
        main->deleteAccount(0);
        verifyFirstRun(true);
        QCOMPARE(run.prompts.takeTexts(), QStringList{u"Delete the account \"Home\"?"_s});
    }

    void closingDoesNotRebuildAndFinishingWithoutAccountShowsItAgain() {
        {
            ProgramRun run(m_dir->path());
            run.start();
            WelcomeWizard *welcome = waitForWelcome(run);
            QVERIFY(welcome);
            int rebuilt = 0;
            connect(run.main(), &MainWindow::accountsRefreshed, this, [&] { ++rebuilt; });
            welcome->close();
            QVERIFY(!welcome->isVisible());
            QCOMPARE(rebuilt, 0);
            // The window is made once and not shown again during the run.
            QVERIFY(!run.shell.optionsWindow()->welcomeTimer->isActive());
            QVERIFY(run.main()->close());
        }
        ProgramRun again(m_dir->path());
        again.start();
        QVERIFY(again.shell.optionsWindow()->welcomeTimer->isActive());
        WelcomeWizard *shownAgain = waitForWelcome(again);
        QVERIFY(shownAgain && shownAgain->isVisible());
    }
};

QTEST_MAIN(TestWelcome)
#include "tst_welcome.moc"
