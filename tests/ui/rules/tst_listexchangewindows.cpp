// The list exchange on the desktop without a publisher: the update window and the Submitting
// tab explain what to set while the example addresses stand, report a server that cannot be
// reached without changing anything, measure the list files once at start-up, and let the
// program close safely while a fetch waits. The runs against a real web server and SMTP sink
// are in the end-to-end tests.

#include "../uitestsupport.h"

#include "core/rules/listfile.h"
#include "fakeserver.h"
#include "ui/rules/listupdatewindow.h"
#include "ui/rules/ruleswindow.h"
#include "ui/settings/tfmsetup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTcpServer>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace corvane;
using namespace corvane::test;

namespace {

// A loopback port that nothing listens on.
quint16 closedPort() {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost))
        return 1;
    return server.serverPort();
}

void setText(QLineEdit *edit, const QString &text) {
    edit->selectAll();
    edit->del();
    QTest::keyClicks(edit, text);
}

} // namespace

class TestListExchangeWindows final : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ProgramRun> m_run;

    TfrmMain *main() { return m_run->main(); }
    ListUpdateWindow *update() { return m_run->shell.listUpdateWindow(); }
    TfmSetup *setup() { return m_run->shell.optionsWindow(); }
    Settings &settings() { return m_run->shell.settings(); }

    void start() {
        m_run = std::make_unique<ProgramRun>(m_dir->path());
        m_run->start();
        QVERIFY(update());
        QVERIFY(setup());
        main()->Options1->trigger();
        QVERIFY(setup()->isVisible());
    }
    // Opens the update window the way the user does.
    void openUpdateWindow() {
        QVERIFY(main()->Checkforupdates1->isEnabled());
        main()->Checkforupdates1->trigger();
        QVERIFY(update()->isVisible());
    }
    // Writes a list file of count entries and returns its size.
    qint64 writeList(const QString &name, int count) {
        RuleList list(RuleList::Order::Insertion);
        for (int i = 0; i < count; ++i)
            list.add(u"entry %1"_s.arg(i), {u"x"_s, u"y"_s});
        SaveListFile(list, m_dir->filePath(name), false);
        return QFileInfo(m_dir->filePath(name)).size();
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void cleanup() {
        if (m_run && main()->isVisible())
            QVERIFY(main()->close());
        m_run.reset();
    }

    // An address that names no publisher is explained instead of fetched; nothing is created.
    void updateAddressThatCannotBeFetched_data() {
        QTest::addColumn<QString>("address"); // typed on the Submitting tab; "-": the default
        QTest::addColumn<QString>("explained");
        QTest::newRow("the default example") << u"-"_s << u"only an example address"_s;
        QTest::newRow("another reserved name")
            << u"http://lists.corp.test/x/"_s << u"only an example address"_s;
        QTest::newRow("nothing") << u""_s << u"No address to fetch"_s;
        QTest::newRow("not the web") << u"ftp://lists.corp.org/"_s << u"is not a web address"_s;
        QTest::newRow("no scheme") << u"lists.corp.org/x"_s << u"is not a web address"_s;
    }
    void updateAddressThatCannotBeFetched() {
        QFETCH(QString, address);
        QFETCH(QString, explained);
        start();
        if (address != u"-"_s)
            setText(setup()->UpdateUrl, address);
        QCOMPARE(settings().updateurl, address == u"-"_s ? Settings().updateurl : address);
        openUpdateWindow();
        QTest::mouseClick(update()->checkNowButton, Qt::LeftButton);
        const QList<ScriptedPrompts::Shown> shown = m_run->prompts.shown;
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].icon, Prompts::Icon::Information);
        QVERIFY2(shown[0].text.contains(explained), qPrintable(shown[0].text));
        QVERIFY2(shown[0].text.contains(u"Update address"_s), qPrintable(shown[0].text));
        QCOMPARE(update()->statusLabel->text(), u"idle..."_s);
        QVERIFY(!QDir(m_dir->filePath(u"updates"_s)).exists());
        QVERIFY(update()->checkNowButton->isEnabled());
    }

    // A server that cannot be reached: the box and status of a failed update, the reason
    // beside them, and the lists as they were.
    void unreachableServerChangesNothing() {
        start();
        setText(setup()->UpdateUrl, u"http://127.0.0.1:%1/lists/"_s.arg(closedPort()));
        const qsizetype subjects = m_run->shell.lists().SubjectBlack.size();
        openUpdateWindow();
        QTest::mouseClick(update()->checkNowButton, Qt::LeftButton);
        QCOMPARE(
            m_run->prompts.takeTexts(),
            QStringList{u"Updates couldn't be downloaded, please check internet connection"_s});
        QCOMPARE(update()->statusLabel->text(), u"Error - check interne connection"_s);
        QCOMPARE(update()->progressBar->value(), 0);
        QVERIFY2(update()->resultLabel->text().startsWith(u"Nothing was changed in your lists."_s),
                 qPrintable(update()->resultLabel->text()));
        QCOMPARE(m_run->shell.lists().SubjectBlack.size(), subjects);
        QVERIFY(update()->checkNowButton->isEnabled());
        // Shown again, the window keeps the last run's status.
        update()->hide();
        openUpdateWindow();
        QCOMPARE(update()->statusLabel->text(), u"Error - check interne connection"_s);
    }

    // While a fetch waits on a silent server, a submission is turned away, and closing the
    // program ends the fetch and saves the lists as they were, without a box.
    void closingWhileAFetchWaits() {
        FakeServer server;
        server.skipUntil("").fallSilent();
        start();
        setText(setup()->UpdateUrl, u"http://127.0.0.1:%1/lists/"_s.arg(server.port()));
        setText(setup()->SubmitAddress, u"lists@publisher.corp.org"_s);
        setText(setup()->SMTPServer, u"127.0.0.1"_s);
        setText(setup()->Edit1, u"me@corp.org"_s);
        openUpdateWindow();

        bool closeAsked = false;
        QStringList duringFetch;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (closeAsked || update()->statusLabel->text() != u"Getting update 1 of 3"_s)
                return;
            closeAsked = true;
            QVERIFY(!update()->checkNowButton->isEnabled());
            QVERIFY(main()->operationRunning());
            // The Submit button waits for the running command.
            setup()->Button4->click();
            duringFetch = m_run->prompts.takeTexts();
            QVERIFY(!main()->close()); // deferred until the fetch has unwound
        });
        watch.start(5);
        QTimer::singleShot(0, update()->checkNowButton, &QPushButton::click);
        QTRY_VERIFY_WITH_TIMEOUT(closeAsked, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!main()->isVisible(), 20000);
        watch.stop();
        QCOMPARE(duringFetch,
                 QStringList{u"Another command is waiting on a server. Press Submit again when it "
                             u"has finished."_s});
        QCOMPARE(m_run->prompts.takeTexts(), QStringList());
        QCOMPARE(update()->statusLabel->text(), u"Stopped"_s);
        RuleList saved(RuleList::Order::ByCaption);
        QVERIFY(LoadListFile(saved, m_dir->filePath(u"blsubj.dat"_s)).ok());
        QCOMPARE(saved.entries(), m_run->shell.lists().SubjectBlack.entries());
    }

    // The tab sits between Bouncing and SMTP; its sizes are those of start-up; a missing file
    // says so; the addresses are the settings and the notice follows them.
    void submittingTab() {
        const qint64 subjects = writeList(u"blsubj.dat"_s, 30);
        const qint64 pairs = writeList(u"blsubxy.dat"_s, 2);
        writeList(u"freml.dat"_s, 5);
        start();
        const QTabWidget *tabs = setup()->PageControl1;
        QStringList titles;
        for (int i = 0; i < tabs->count(); ++i)
            titles << tabs->tabText(i);
        QCOMPARE(titles, (QStringList{u"Options"_s, u"Automatic Mode"_s, u"Accounts"_s, u"Colors"_s,
                                      u"Bouncing"_s, u"Submitting"_s, u"SMTP"_s, u"Learning"_s}));
        QCOMPARE(setup()->SizeSubj->text(), u"%1 Bytes"_s.arg(subjects));
        QCOMPARE(setup()->SizeEmail->text(), u"no file yet"_s);
        QCOMPARE(setup()->SizeXY->text(), u"%1 Bytes"_s.arg(pairs));
        // Changed during the run: the tab keeps the start-up size.
        QVERIFY(writeList(u"blsubj.dat"_s, 1) != subjects);
        writeList(u"bleml.dat"_s, 1);
        setup()->hide();
        main()->Options1->trigger();
        QCOMPARE(setup()->SizeSubj->text(), u"%1 Bytes"_s.arg(subjects));
        QCOMPARE(setup()->SizeEmail->text(), u"no file yet"_s);

        QCOMPARE(setup()->UpdateUrl->text(), Settings().updateurl);
        QCOMPARE(setup()->SubmitAddress->text(), Settings().submitaddress);
        QVERIFY(!setup()->ExchangeNotice->isHidden());
        setText(setup()->UpdateUrl, u"https://lists.corp.org/master/"_s);
        QVERIFY(!setup()->ExchangeNotice->isHidden());
        setText(setup()->SubmitAddress, u"collect@corp.org"_s);
        QVERIFY(setup()->ExchangeNotice->isHidden());
        QCOMPARE(settings().updateurl, u"https://lists.corp.org/master/"_s);
        QCOMPARE(settings().submitaddress, u"collect@corp.org"_s);
        // The update window shows where it fetches from.
        openUpdateWindow();
        QVERIFY(update()->sourceLabel->text().contains(u"https://lists.corp.org/master/"_s));

        // Both reach Settings.ini at shutdown.
        QVERIFY(main()->close());
        m_run.reset();
        QFile ini(m_dir->filePath(u"Settings.ini"_s));
        QVERIFY(ini.open(QIODevice::ReadOnly));
        const QByteArray text = ini.readAll();
        QVERIFY(text.contains("updateurl=https://lists.corp.org/master/"));
        QVERIFY(text.contains("submitaddress=collect@corp.org"));
    }

    // "Submit" explains what is missing instead of sending, and reports a refused connection
    // with the button usable again.
    void submitWithoutAPublisherOrServer_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("email");
        QTest::addColumn<bool>("information");
        QTest::addColumn<QString>("shown");
        QTest::newRow("the example collection address")
            << QString() << u"127.0.0.1"_s << u"me@corp.org"_s << true
            << u"No collection address has been set yet: lists@example.org is only an "
               u"example."_s;
        QTest::newRow("the SMTP placeholders")
            << u"collect@corp.org"_s << QString() << QString() << true
            << u"Enter the server and your e-mail address on the SMTP tab"_s;
        QTest::newRow("a server that refuses")
            << u"collect@corp.org"_s << u"127.0.0.1"_s << u"me@corp.org"_s << false
            << u"Unable to send black lists, check connection and smtp details"_s;
    }
    void submitWithoutAPublisherOrServer() {
        QFETCH(QString, address);
        QFETCH(QString, server);
        QFETCH(QString, email);
        QFETCH(bool, information);
        QFETCH(QString, shown);
        start();
        TfmSetup *w = setup();
        if (!address.isNull())
            setText(w->SubmitAddress, address);
        if (!server.isNull()) {
            setText(w->SMTPServer, server);
            setText(w->SMTPPort, QString::number(closedPort()));
        }
        if (!email.isNull())
            setText(w->Edit1, email);
        main()->Options1->trigger();
        w->PageControl1->setCurrentIndex(5);
        QTest::mouseClick(w->Button4, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!m_run->prompts.shown.isEmpty(), 20000);
        const ScriptedPrompts::Shown box = m_run->prompts.shown.constFirst();
        QCOMPARE(m_run->prompts.shown.size(), 1);
        QCOMPARE(box.icon, information ? Prompts::Icon::Information : Prompts::Icon::Error);
        QVERIFY2(box.text.contains(shown), qPrintable(box.text));
        QVERIFY(w->Button4->isEnabled());
        QCOMPARE(w->SubmitResult->text().startsWith(u"Not sent: "_s), !information);
    }
};

QTEST_MAIN(TestListExchangeWindows)
#include "tst_listexchangewindows.moc"
