// The options window "Setup": its controls change the settings at once and reach
// Settings.ini at shutdown, the colour pickers, the accounts tab over the account store, the
// placeholder notice, and the start-with-the-session entry written, removed and re-applied.

#include "../uitestsupport.h"

#include "core/platform/autostart.h"
#include "testsupport.h"
#include "ui/records/deletionlogwindow.h"
#include "ui/settings/addaccountdialog.h"
#include "ui/settings/editaccountdialog.h"
#include "ui/settings/learningpage.h"
#include "ui/settings/tfmsetup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace corvane;
using namespace corvane::test;

namespace {

// A click on a check box's own box.
void tick(QCheckBox *box) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

Account named(const QString &name) {
    return {name, u"pop.example.org"_s, u"110"_s, u"user"_s, u"pw"_s, u"a@example.org"_s};
}

QByteArray readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestSetupWindow final : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QTemporaryDir> m_config;
    std::unique_ptr<ProgramRun> m_run;
    SystemStartWithSystem m_entry;

    TfrmMain *main() { return m_run->main(); }
    TfmSetup *setup() { return m_run->shell.optionsWindow(); }
    QString entryPath() { return m_config->filePath(u"autostart/corvane.desktop"_s); }

    void start(const QStringList &accounts = {}) {
        m_run = std::make_unique<ProgramRun>(m_dir->path());
        m_run->shell.setStartWithSystem(
            &m_entry, {u"/opt/corvane/corvane"_s, {u"--data-dir"_s, m_dir->path()}});
        m_run->start();
        for (const QString &name : accounts)
            m_run->store()->insert(named(name));
        main()->RefreshAccounts();
        QVERIFY(main()->Options1->isEnabled());
        main()->Options1->trigger();
        QVERIFY(setup()->isVisible());
    }
    void closeProgram() {
        QVERIFY(main()->close());
        m_run.reset();
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_config = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid() && m_config->isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
        // The SMTP password goes to the file of the data folder, never to the tester's desktop.
        qputenv("CORVANE_NO_KEYCHAIN", "1");
    }
    void cleanup() {
        if (m_run && main()->isVisible())
            QVERIFY(main()->close());
        m_run.reset();
    }

    // Every control changes its setting at once; OK only hides the window, and the shutdown
    // writes what was changed.
    void optionsReachTheSettingsFile() {
        start();
        TfmSetup *w = setup();
        QVERIFY(w->CheckBox2->isChecked());
        QVERIFY(w->CheckBox3->isChecked());
        QVERIFY(w->CheckBoxPipelining->isChecked());
        tick(w->CheckBox2);
        tick(w->CheckBox3);
        w->CheckBoxPipelining->click(); // on the Accounts tab
        QCOMPARE(m_run->shell.settings().pop3pipelining, false);
        QCOMPARE(m_run->shell.settings().Logging, false);
        QCOMPARE(m_run->shell.settings().Save, false);
        w->SpinEdit1->setValue(45);
        QCOMPARE(m_run->shell.settings().AutoIntvl, 45);
        for (QLineEdit *edit : {w->Edit2, w->Edit3, w->SMTPServer, w->SMTPPort, w->Edit1})
            edit->clear();
        QTest::keyClicks(w->Edit2, u"Postmaster"_s);
        QTest::keyClicks(w->Edit3, u"Undeliverable"_s);
        QTest::keyClicks(w->SMTPServer, u"smtp.isp.test"_s);
        QTest::keyClicks(w->SMTPPort, u"587"_s);
        QTest::keyClicks(w->Edit1, u"me@isp.test"_s);
        const Settings &s = m_run->shell.settings();
        QCOMPARE(s.bouncefrom, u"Postmaster"_s);
        QCOMPARE(s.bouncesubj, u"Undeliverable"_s);
        QCOMPARE(s.smtpserver, u"smtp.isp.test"_s);
        QCOMPARE(s.smtpport, u"587"_s);
        QCOMPARE(s.smtpemail, u"me@isp.test"_s);
        w->SMTPSecurity->setCurrentIndex(w->SMTPSecurity->findData(u"STARTTLS"_s));
        QCOMPARE(s.smtpsecurity, u"STARTTLS"_s);
        QTest::keyClicks(w->SMTPUser, u"alice"_s);
        QCOMPARE(s.smtpuser, u"alice"_s);
        QTest::keyClicks(w->SMTPPassword, u"s3cret"_s);
        QCOMPARE(s.smtppassword, QString()); // stored when typing ends
        QTest::keyClick(w->SMTPPassword, Qt::Key_Return);
        QCOMPARE(s.smtppassword, u"s3cret"_s);
        QVERIFY2(w->SMTPPasswordNote->text().contains(u"secrets.dat"_s),
                 qPrintable(w->SMTPPasswordNote->text()));
        QVERIFY(QFile::exists(m_dir->filePath(u"secrets.dat"_s)));

        QTest::mouseClick(w->BitBtn1, Qt::LeftButton);
        QVERIFY(!w->isVisible());
        // Nothing is written before the shutdown.
        QVERIFY(!QFile::exists(m_dir->filePath(u"Settings.ini"_s)));
        closeProgram();
        const QByteArray ini = readAll(m_dir->filePath(u"Settings.ini"_s));
        for (const char *line :
             {"Logging=0", "Save=0", "pop3pipelining=0", "AutoIntvl=45", "bouncefrom=Postmaster",
              "bouncesubj=Undeliverable", "smtpserver=smtp.isp.test", "smtpport=587",
              "smtpemail=me@isp.test", "smtpsecurity=STARTTLS", "smtpuser=alice"})
            QVERIFY2(ini.contains(line), line);
        QVERIFY(!ini.contains("s3cret"));

        // The next start shows them.
        start();
        QVERIFY(!setup()->CheckBox2->isChecked());
        QVERIFY(!setup()->CheckBoxPipelining->isChecked());
        QCOMPARE(setup()->SpinEdit1->value(), 45);
        QCOMPARE(setup()->SMTPServer->text(), u"smtp.isp.test"_s);
        QCOMPARE(setup()->SMTPSecurity->currentData().toString(), u"STARTTLS"_s);
        QCOMPARE(setup()->SMTPPassword->text(), u"s3cret"_s);
    }

    // The Learning tab: its controls change the settings at once, and they reach Settings.ini.
    void learningTabReachesTheSettingsFile() {
        start();
        LearningPage *page = setup()->findChild<LearningPage *>(u"learningPage"_s);
        QVERIFY(page);
        QCOMPARE(setup()->PageControl1->tabText(setup()->PageControl1->indexOf(page)),
                 u"Learning"_s);
        const Settings &s = m_run->shell.settings();
        QVERIFY(page->findChild<QCheckBox *>(u"learningEnabled"_s)->isChecked());
        QCOMPARE(page->findChild<QSpinBox *>(u"spamCutoff"_s)->value(), Settings().learnspam);
        page->findChild<QSpinBox *>(u"spamCutoff"_s)->setValue(80);
        page->findChild<QSpinBox *>(u"hamCutoff"_s)->setValue(5);
        page->findChild<QSpinBox *>(u"bodyLines"_s)->setValue(0);
        tick(page->findChild<QCheckBox *>(u"vetoRules"_s));
        tick(page->findChild<QCheckBox *>(u"learningEnabled"_s));
        QCOMPARE(s.learnspam, 80);
        QCOMPARE(s.learnham, 5);
        QCOMPARE(s.bodylines, 0);
        QCOMPARE(s.learnveto, false);
        QCOMPARE(s.learning, false);
        closeProgram();
        const QByteArray ini = readAll(m_dir->filePath(u"Settings.ini"_s));
        for (const char *line :
             {"learning=0", "learnspam=80", "learnham=5", "learnveto=0", "bodylines=0"})
            QVERIFY2(ini.contains(line), line);
        start();
        page = setup()->findChild<LearningPage *>(u"learningPage"_s);
        QVERIFY(!page->findChild<QCheckBox *>(u"learningEnabled"_s)->isChecked());
        QCOMPARE(page->findChild<QSpinBox *>(u"spamCutoff"_s)->value(), 80);
        QCOMPARE(page->findChild<QSpinBox *>(u"hamCutoff"_s)->value(), 5);
    }

    // "Train from files…" on a small folder: its mail is learned, a file that is not mail is
    // named as skipped, the counts show it; a cancel keeps what was learned; "Forget
    // everything" asks first and does nothing on No.
    void learningTabTrainsAndForgets() {
        start();
        QTemporaryDir mail;
        QVERIFY(mail.isValid());
        for (int n = 0; n < 3; ++n) {
            QFile file(mail.filePath(u"spam%1.eml"_s.arg(n)));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("From: seller" + QByteArray::number(n) +
                       "@offers.example\r\nSubject: Cheap watches " + QByteArray::number(n) +
                       "\r\nMessage-ID: <" + QByteArray::number(n) +
                       "@offers.example>\r\n\r\nBuy now\r\n");
        }
        {
            QFile notMail(mail.filePath(u"picture.eml"_s));
            QVERIFY(notMail.open(QIODevice::WriteOnly));
            notMail.write(QByteArray("\x89PNG\x00\x01\x02", 7));
        }
        LearningPage *page = setup()->findChild<LearningPage *>(u"learningPage"_s);
        QList<LearningPage::Choice> asked;
        page->setPathChooser([&](LearningPage::Choice choice, QWidget *) {
            asked << choice;
            return QStringList{mail.path()};
        });
        LearningStore &store = m_run->shell.data().learning();
        QPushButton *train = page->findChild<QPushButton *>(u"trainButton"_s);
        QVERIFY(train->isEnabled());
        // "Train from files…" asks what the mail is, with nothing chosen beforehand; a cancel
        // there trains nothing and asks for no files.
        const auto choose = [&](const char *kind, const char *source, bool ok = true) {
            train->click();
            auto *dialog = page->findChild<QDialog *>(u"trainingChoice"_s);
            QVERIFY(dialog && dialog->isVisible());
            auto *box = dialog->findChild<QDialogButtonBox *>();
            QVERIFY(!box->button(QDialogButtonBox::Ok)->isEnabled());
            dialog->findChild<QRadioButton *>(QLatin1StringView(kind))->click();
            dialog->findChild<QRadioButton *>(QLatin1StringView(source))->click();
            QVERIFY(box->button(QDialogButtonBox::Ok)->isEnabled());
            box->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
            QVERIFY(dialog->isHidden());
            delete dialog; // closed, to be deleted later: out of the way of the next search
        };
        choose("trainAsSpam", "trainFromFolder", false);
        QVERIFY(asked.isEmpty());
        QCOMPARE(store.spamMessages() + store.hamMessages(), 0u);
        choose("trainAsSpam", "trainFromFolder");
        QCOMPARE(asked, QList<LearningPage::Choice>{LearningPage::Choice::Folder});
        QCOMPARE(store.spamMessages(), 3u);
        QStringList texts = m_run->prompts.takeTexts();
        QCOMPARE(texts.size(), 1);
        QVERIFY2(texts.first().contains(u"3 messages"_s) &&
                     texts.first().contains(u"picture.eml: not a mail message"_s),
                 qPrintable(texts.first()));
        const QLabel *counts = page->findChild<QLabel *>(u"learnedCounts"_s);
        QVERIFY2(counts->text().contains(u"3 spam, 0 not spam"_s), qPrintable(counts->text()));

        // Cancelled as soon as the progress dialog can see it: what was saved stays learned.
        QTimer::singleShot(0, page, [page] {
            if (auto *progress = page->findChild<QProgressDialog *>(u"trainingProgress"_s))
                progress->cancel();
        });
        choose("trainAsHam", "trainFromFiles");
        QCOMPARE(asked.last(), LearningPage::Choice::Files);
        texts = m_run->prompts.takeTexts();
        QCOMPARE(texts.size(), 1);
        QVERIFY2(texts.first().startsWith(u"Cancelled"_s), qPrintable(texts.first()));
        QVERIFY(store.hamMessages() < 3u);
        QCOMPARE(store.spamMessages() + store.hamMessages(), 3u);

        // Forget: No keeps everything; Yes empties the store.
        QPushButton *forget = page->findChild<QPushButton *>(u"forgetButton"_s);
        m_run->prompts.answers = {QMessageBox::No};
        forget->click();
        QCOMPARE(m_run->prompts.takeTexts().size(), 1);
        QCOMPARE(store.spamMessages() + store.hamMessages(), 3u);
        m_run->prompts.answers = {QMessageBox::Yes};
        forget->click();
        QCOMPARE(m_run->prompts.takeTexts().size(), 1);
        QCOMPARE(store.spamMessages(), 0u);
        QCOMPARE(store.hamMessages(), 0u);
        QVERIFY2(counts->text().contains(u"0 spam, 0 not spam"_s), qPrintable(counts->text()));
    }

    // Bounces need a real SMTP server and address: until both are set the Bouncing and SMTP
    // tabs say so.
    void placeholderNotice() {
        start();
        TfmSetup *w = setup();
        QVERIFY(!w->BounceNotice->isHidden());
        QVERIFY(!w->SmtpNotice->isHidden());
        w->SMTPServer->setText(u"smtp.isp.test"_s);
        QVERIFY(!w->SmtpNotice->isHidden()); // the address is still the placeholder
        w->Edit1->setText(u"me@isp.test"_s);
        QVERIFY(w->BounceNotice->isHidden());
        QVERIFY(w->SmtpNotice->isHidden());
        w->SMTPServer->setText(u"mail.example.org"_s);
        QVERIFY(!w->SmtpNotice->isHidden());
    }

    void colourPickers() {
        start();
        TfmSetup *w = setup();
        QList<QColor> offered;
        std::optional<QColor> answer = QColor(0, 128, 0);
        w->setColourChooser([&](const QColor &initial, QWidget *) {
            offered << initial;
            return answer;
        });
        QSignalSpy listColour(w, &TfmSetup::listColourChosen);
        const Settings before = m_run->shell.settings();

        // "Select" beside the friendly swatch changes the friendly colour only.
        QTest::mouseClick(w->SpeedButton4, Qt::LeftButton);
        QCOMPARE(offered.takeFirst(), QColor(0, 0, 255));
        QCOMPARE(m_run->shell.settings().colorfriend, 0x008000);
        QCOMPARE(m_run->shell.settings().colorban, before.colorban);
        QCOMPARE(w->Shape2->palette().color(QPalette::Window), QColor(0, 128, 0));
        QCOMPARE(listColour.size(), 0);

        // Cancelling the list colour keeps it, and the list is still repainted in it.
        answer.reset();
        QTest::mouseClick(w->SpeedButton5, Qt::LeftButton);
        QCOMPARE(m_run->shell.settings().colormailwin, before.colormailwin);
        QCOMPARE(listColour.size(), 1);
        // Confirming it gives the message list the colour.
        answer = QColor(255, 255, 224);
        QTest::mouseClick(w->SpeedButton5, Qt::LeftButton);
        QCOMPARE(m_run->shell.settings().colormailwin, 0xE0FFFF);
        QCOMPARE(main()->lvHeaders->palette().color(QPalette::Base), QColor(255, 255, 224));
    }

    void accountsTab() {
        start();
        TfmSetup *w = setup();
        QCOMPARE(w->Label15->text(), u"0 Accounts listed"_s);
        QTest::mouseClick(w->Button2, Qt::LeftButton);
        QCOMPARE(m_run->prompts.takeTexts(), QStringList{u"There are no accounts to edit"_s});
        w->DBGrid1DblClick();
        QVERIFY(!m_run->shell.editAccountDialog()->isVisible());
        QCOMPARE(m_run->prompts.takeTexts(), QStringList());

        QTest::mouseClick(w->Button1, Qt::LeftButton);
        QVERIFY(m_run->shell.addAccountDialog()->isVisible());
        m_run->shell.addAccountDialog()->hide();

        for (const QString &name : {u"Home"_s, u"Work"_s})
            m_run->store()->insert(named(name));
        main()->RefreshAccounts();
        QCOMPARE(w->Label15->text(), u"2 Accounts listed"_s);
        QCOMPARE(w->DBGrid1->rowCount(), 2);
        QCOMPARE(w->DBGrid1->item(0, 0)->text(), u"Home"_s);
        // The refresh leaves the last account current, and the grid shows it.
        QCOMPARE(w->DBGrid1->currentRow(), 1);

        // A click on Home makes it current; Edit Selected edits it.
        QTest::mouseClick(w->DBGrid1->viewport(), Qt::LeftButton, {},
                          w->DBGrid1->visualItemRect(w->DBGrid1->item(0, 0)).center());
        QCOMPARE(m_run->store()->currentRow(), 0);
        QTest::mouseClick(w->Button2, Qt::LeftButton);
        EditAccountDialog *edit = m_run->shell.editAccountDialog();
        QVERIFY(edit->isVisible());
        QCOMPARE(edit->nameEdit->text(), u"Home"_s);
        edit->hide();

        // Removing asks first; No keeps the account.
        m_run->prompts.answers = {QMessageBox::No};
        QTest::mouseClick(w->Button3, Qt::LeftButton);
        QCOMPARE(m_run->prompts.takeTexts(), QStringList{u"Remove the account \"Home\"?"_s});
        QCOMPARE(m_run->store()->rowCount(), 2);
        m_run->prompts.answers = {QMessageBox::Yes};
        QTest::mouseClick(w->Button3, Qt::LeftButton);
        QCOMPARE(m_run->store()->rowCount(), 1);
        QCOMPARE(w->Label15->text(), u"1 Accounts listed"_s);
        QCOMPARE(menuItems(main()->acctdrop), QStringList{u"Work:0"_s});
        QCOMPARE(w->DBGrid1->item(0, 0)->text(), u"Work"_s);
    }

    void logLink() {
        start();
        QTest::mouseClick(setup()->SpeedButton1, Qt::LeftButton);
        QVERIFY(m_run->shell.logWindow()->isVisible());
    }

    // Ticking writes the autostart entry with the program and its data directory; unticking
    // removes it; a start with Startup stored writes it again.
    void startWithTheSession() {
        start();
        QVERIFY(!setup()->CheckBox1->isChecked());
        tick(setup()->CheckBox1);
        QVERIFY(m_run->shell.settings().Startup);
        const QByteArray entry = readAll(entryPath());
        QVERIFY2(
            entry.contains(
                (u"\nExec=/opt/corvane/corvane --data-dir "_s + m_dir->path() + u'\n').toUtf8()),
            entry.constData());
        tick(setup()->CheckBox1);
        QVERIFY(!QFile::exists(entryPath()));
        tick(setup()->CheckBox1);
        closeProgram();

        // Removed by other means: the next start writes it again.
        QVERIFY(QFile::remove(entryPath()));
        start();
        QVERIFY(setup()->CheckBox1->isChecked());
        QVERIFY(QFile::exists(entryPath()));
        QCOMPARE(m_run->prompts.takeTexts(), QStringList());
    }

    // An entry that cannot be written is reported, and the settings are still read.
    void unwritableEntryAtStartUp() {
        QVERIFY(writeFile(m_dir->filePath(u"Settings.ini"_s),
                          "[Options]\r\nStartup=1\r\nLogging=0\r\nAutoIntvl=7\r\n"));
        QVERIFY(writeFile(m_config->filePath(u"autostart"_s), "not a folder"));
        start();
        const QStringList texts = m_run->prompts.takeTexts();
        QCOMPARE(texts.size(), 1);
        QVERIFY2(texts[0].startsWith(u"Failed to set data for 'revidaz'"_s), qPrintable(texts[0]));
        QCOMPARE(m_run->shell.settings().Logging, false);
        QCOMPARE(m_run->shell.settings().AutoIntvl, 7);
        QVERIFY(setup()->CheckBox1->isChecked());
        QCOMPARE(setup()->SpinEdit1->value(), 7);
    }
};

QTEST_MAIN(TestSetupWindow)
#include "tst_setupwindow.moc"
