// The Help menu: each item hands its target to the desktop's opener (a recorder here), the
// user guide is found beside the program, in the installed documentation or in the source
// tree, and the About box names the version, the licence and the libraries.

#include "../uitestsupport.h"

#include "testsupport.h"
#include "ui/settings/optionswindow.h"
#include "ui/shell/helpmenu.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace corvane;
using namespace corvane::test;

namespace {

class RecordingUrlOpener final : public UrlOpener {
public:
    void openUrl(const QUrl &url) override { opened.append(url); }
    QList<QUrl> opened;
};

} // namespace

class TestHelpMenu final : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void menuHoldsTheItemsInOrder() {
        ProgramRun run(m_dir->path());
        run.start();
        QStringList items;
        for (const QAction *a : run.main()->helpMenu->actions()) {
            items << (a->isSeparator() ? u"-"_s : a->text());
            QVERIFY2(a->isSeparator() || a->isEnabled(), qPrintable(a->text()));
        }
        QCOMPARE(items, (QStringList{u"Help"_s, u"Contact support"_s, u"-"_s, u"Visit Website"_s,
                                     u"-"_s, u"About Corvane"_s, u"About Qt"_s}));
    }

    void eachItemOpensItsTarget_data() {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("website");
        QTest::addColumn<QString>("support");
        QTest::addColumn<QString>("url"); // empty: nothing is opened
        QTest::newRow("Contact support") << u"contactSupportAction"_s << QString()
                                         << u"help@example.com"_s << u"mailto:help@example.com"_s;
        QTest::newRow("Contact support, blanks around")
            << u"contactSupportAction"_s << QString() << u"  help@example.com "_s
            << u"mailto:help@example.com"_s;
        QTest::newRow("Contact support, no address")
            << u"contactSupportAction"_s << QString() << u""_s << QString();
        QTest::newRow("Visit Website")
            << u"visitWebsiteAction"_s << u"https://www.example.com/app/"_s << QString()
            << u"https://www.example.com/app/"_s;
        QTest::newRow("Visit Website, bare host") << u"visitWebsiteAction"_s << u"www.example.com"_s
                                                  << QString() << u"http://www.example.com"_s;
        QTest::newRow("Visit Website, no address")
            << u"visitWebsiteAction"_s << u""_s << QString() << QString();
    }
    void eachItemOpensItsTarget() {
        QFETCH(QString, item);
        QFETCH(QString, website);
        QFETCH(QString, support);
        QFETCH(QString, url);
        ProgramRun run(m_dir->path());
        RecordingUrlOpener opener;
        run.start();
        run.shell.helpMenu()->setOpener(&opener);
        if (!website.isNull())
            run.shell.settings().website = website;
        if (!support.isNull())
            run.shell.settings().supportaddress = support;
        auto *action = run.main()->findChild<QAction *>(item);
        QVERIFY(action && action->isEnabled());
        action->trigger();
        if (url.isEmpty())
            QVERIFY(opener.opened.isEmpty());
        else
            QCOMPARE(opener.opened, QList<QUrl>{QUrl(url)});
        QVERIFY(run.prompts.shown.isEmpty());
    }

    void defaultsAreReservedExamples() {
        ProgramRun run(m_dir->path());
        RecordingUrlOpener opener;
        run.start();
        run.shell.helpMenu()->setOpener(&opener);
        run.main()->contactSupportAction->trigger();
        run.main()->visitWebsiteAction->trigger();
        QCOMPARE(opener.opened.size(), 2);
        for (const QUrl &url : std::as_const(opener.opened))
            QVERIFY2(url.toString().contains(u"example.org"_s), qPrintable(url.toString()));
    }

    // The addresses typed on the Options tab are used at once, and kept in Settings.ini.
    void addressesFromTheOptionsWindow() {
        {
            ProgramRun run(m_dir->path());
            RecordingUrlOpener opener;
            run.start();
            run.shell.helpMenu()->setOpener(&opener);
            run.main()->optionsAction->trigger();
            OptionsWindow *setup = run.shell.optionsWindow();
            setup->websiteEdit->clear();
            QTest::keyClicks(setup->websiteEdit, u"https://spam-help.example.net/"_s);
            setup->supportAddressEdit->clear();
            QTest::keyClicks(setup->supportAddressEdit, u"desk@example.net"_s);
            run.main()->visitWebsiteAction->trigger();
            run.main()->contactSupportAction->trigger();
            QCOMPARE(opener.opened, (QList<QUrl>{QUrl(u"https://spam-help.example.net/"_s),
                                                 QUrl(u"mailto:desk@example.net"_s)}));
            QVERIFY(run.main()->close());
        }
        ProgramRun again(m_dir->path());
        again.start();
        QCOMPARE(again.shell.settings().website, u"https://spam-help.example.net/"_s);
        QCOMPARE(again.shell.settings().supportaddress, u"desk@example.net"_s);
        QCOMPARE(again.shell.optionsWindow()->supportAddressEdit->text(), u"desk@example.net"_s);
    }

    // The running test has no guide beside it, nor installed: the source tree's is opened.
    void helpOpensTheUserGuide() {
        ProgramRun run(m_dir->path());
        RecordingUrlOpener opener;
        run.start();
        run.shell.helpMenu()->setOpener(&opener);
        run.main()->helpAction->trigger();
        QCOMPARE(opener.opened.size(), 1);
        const QUrl url = opener.opened.first();
        QVERIFY(url.isLocalFile());
        QVERIFY2(QFileInfo(url.toLocalFile()).isFile(), qPrintable(url.toString()));
        QVERIFY(url.toLocalFile().endsWith(u"/help/index.html"_s));
    }

    void userGuideIsFoundWhereItIs_data() {
        QTest::addColumn<QString>("program"); // the program's folder, under the temporary one
        QTest::addColumn<QStringList>("guides");
        QTest::addColumn<QString>("expected"); // "source": the source tree's
        QTest::newRow("beside the program")
            << u"app"_s
            << QStringList{u"app/help/index.html"_s, u"share/doc/corvane/help/index.html"_s}
            << u"app/help/index.html"_s;
        QTest::newRow("installed")
            << u"usr/bin"_s << QStringList{u"usr/share/doc/corvane/help/index.html"_s}
            << u"usr/share/doc/corvane/help/index.html"_s;
        QTest::newRow("nowhere: the source tree") << u"usr/bin"_s << QStringList{} << u"source"_s;
    }
    void userGuideIsFoundWhereItIs() {
        QFETCH(QString, program);
        QFETCH(QStringList, guides);
        QFETCH(QString, expected);
        const QDir root(m_dir->path());
        QVERIFY(root.mkpath(program));
        for (const QString &guide : guides) {
            QVERIFY(root.mkpath(QFileInfo(guide).path()));
            QVERIFY(writeFile(root.filePath(guide), "<!DOCTYPE html>"));
        }
        const QString found = HelpMenu::helpFile(root.filePath(program));
        if (expected == u"source"_s) {
            QCOMPARE(found, HelpMenu::helpFileCandidates(root.filePath(program)).last());
            QVERIFY(!found.startsWith(m_dir->path()));
            QVERIFY(QFileInfo(found).isFile());
        } else {
            QCOMPARE(found, root.filePath(expected));
        }
    }

    void aboutBoxNamesVersionLicenceAndLibraries() {
        ProgramRun run(m_dir->path());
        run.start();
        run.main()->aboutAction->trigger();
        QMessageBox *about = run.shell.helpMenu()->aboutBox();
        QVERIFY(about && about->isVisible());
        QVERIFY(!about->isModal());
        const QString text = about->text();
        QVERIFY2(text.contains(QStringLiteral(CORVANE_VERSION)), qPrintable(text));
        QVERIFY(text.contains(u"GPL-3.0-or-later"_s));
        QVERIFY(text.contains(u"Qt %1"_s.arg(QString::fromLatin1(qVersion()))));
        QVERIFY(text.contains(u"zlib"_s));
        // Shown again, it is the same box.
        run.main()->aboutAction->trigger();
        QCOMPARE(run.main()->findChildren<QMessageBox *>().size(), 1);
        about->close();

        // Qt's own box, closed as soon as it is up.
        bool shown = false;
        QTimer::singleShot(0, this, [&] {
            if (QWidget *box = QApplication::activeModalWidget()) {
                shown = true;
                box->close();
            }
        });
        run.main()->aboutQtAction->trigger();
        QVERIFY(shown);
    }
};

QTEST_MAIN(TestHelpMenu)
#include "tst_helpmenu.moc"
