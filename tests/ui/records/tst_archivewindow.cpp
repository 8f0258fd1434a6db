// The archive window "Saved Emails" on a real archive folder: how it is opened, the rows it
// lists and leaves out, the selection line, Delete, Delete all with its question, View and
// double-click through the desktop's opener (and without a mail program), Refresh, and an
// empty folder.

#include "../uitestsupport.h"

#include "core/screening/mailboxsession.h"
#include "testsupport.h"
#include "ui/records/savedemailswindow.h"
#include "ui/settings/tfmsetup.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>

using namespace Qt::StringLiterals;
using namespace corvane;
using namespace corvane::test;

namespace {

QByteArray copyOf(const QByteArray &header, const QByteArray &body = "Text.") {
    QByteArray out = header;
    out.replace("\n", "\r\n");
    return out + "\r\n" + body + "\r\n.\r\n";
}

// Four copies as processing names them, one of them for a message without a subject, and a
// damaged file between them.
const QList<std::pair<QString, QByteArray>> kArchive = {
    {u"Cheap- pills-.eml"_s,
     copyOf("From: Pills <pills@spam.example>\nTo: Me <me@example.net>\nSubject: Cheap: "
            "pills?\nDate: Tue, 1 Dec 2026 10:00:00 +0000\n")},
    {u"Damaged.eml"_s, "From: a@example.org\r\nSubject: Damaged\r\n\r\nno end line\r\n"},
    {u"Hi.eml"_s, copyOf("From: Sam <sam@example.com>\nTo: me@example.net\nSubject: Hi\n")},
    {u".eml"_s, copyOf("From: nobody@example.org\nTo: me@example.net\nDate: Wed, 2 Dec 2026 "
                       "08:00:00 +0000\n")},
    {u"You won.eml"_s,
     copyOf("From: Prize Desk <winner@lottery.example>\nTo: Me <me@example.net>\nSubject: You "
            "won\nDate: Thu, 3 Dec 2026 09:00:00 +0000\n")},
};

// The rows as the list shows them, one "subject|from|to|date" a row.
QStringList rows(const SavedEmailsWindow *w) {
    QStringList out;
    const QAbstractItemModel *model = w->copyList->model();
    for (int r = 0; r < model->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < model->columnCount(); ++c)
            cells << model->index(r, c).data().toString();
        out << cells.join(u'|');
    }
    return out;
}

void clickListRow(SavedEmailsWindow *w, int row) {
    QTreeView *view = w->copyList;
    const QRect rect = view->visualRect(view->model()->index(row, 1));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
}

QString dateText(const char *rfc2822) {
    return MailboxSession::dateText(
        QDateTime::fromString(QString::fromLatin1(rfc2822), Qt::RFC2822Date).toLocalTime());
}

} // namespace

class TestArchiveWindow final : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ProgramRun> m_run;
    RecordingOpener m_opener;

    TfrmMain *main() { return m_run->main(); }
    SavedEmailsWindow *archive() { return m_run->shell.savedEmailsWindow(); }
    QString archiveFolder() const { return m_dir->filePath(u"archive"_s); }
    QString copyPath(const QString &name) const { return QDir(archiveFolder()).filePath(name); }

    void start(const QList<std::pair<QString, QByteArray>> &files = kArchive) {
        m_run = std::make_unique<ProgramRun>(m_dir->path());
        m_run->start();
        QVERIFY(archive());
        archive()->setFileOpener(&m_opener);
        for (const auto &[name, bytes] : files)
            QVERIFY(writeFile(copyPath(name), bytes));
    }
    // Opens the window from the Program menu and waits until the list has been read.
    void open() {
        QVERIFY(main()->SavedEmails1->isEnabled());
        main()->SavedEmails1->trigger();
        QVERIFY(archive()->isVisible());
        QTRY_VERIFY(!archive()->scanning());
    }
    void refresh() {
        QTest::mouseClick(archive()->refreshButton, Qt::LeftButton);
        QTRY_VERIFY(!archive()->scanning());
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_opener.clear();
        m_opener.available = true;
    }
    void cleanup() {
        if (m_run && main()->isVisible())
            QVERIFY(main()->close());
        m_run.reset();
    }

    // Both ways in show the same list, without blocking the window they were opened from.
    void opens_data() {
        QTest::addColumn<bool>("fromOptions");
        QTest::newRow("Program menu") << false;
        QTest::newRow("options window link") << true;
    }
    void opens() {
        QFETCH(bool, fromOptions);
        start();
        SavedEmailsWindow *w = archive();
        QVERIFY(!w->isVisible());
        if (fromOptions) {
            main()->Options1->trigger();
            TfmSetup *setup = m_run->shell.optionsWindow();
            QVERIFY(setup->SpeedButton2->isEnabled());
            QTest::mouseClick(setup->SpeedButton2, Qt::LeftButton);
            QVERIFY(setup->isVisible());
        } else {
            main()->SavedEmails1->trigger();
        }
        QVERIFY(w->isVisible());
        QVERIFY(!w->isModal());
        QCOMPARE(w->windowTitle(), u"Saved Emails"_s);
        QTRY_VERIFY(!w->scanning());
        QCOMPARE(w->archiveNames().size(), 4);
        QCOMPARE(m_run->prompts.shown.size(), 0);
    }

    // Every whole copy is listed, the one without a subject too; the damaged file is not.
    void listsTheCopies() {
        start();
        open();
        SavedEmailsWindow *w = archive();
        QCOMPARE(w->archiveNames(),
                 (QStringList{u".eml"_s, u"Cheap- pills-.eml"_s, u"Hi.eml"_s, u"You won.eml"_s}));
        QCOMPARE(rows(w),
                 (QStringList{
                     u"|nobody@example.org|me@example.net|"_s +
                         dateText("Wed, 2 Dec 2026 08:00:00 +0000"),
                     u"Cheap: pills?|Pills <pills@spam.example>|Me <me@example.net>|"_s +
                         dateText("Tue, 1 Dec 2026 10:00:00 +0000"),
                     // No Date header: the zero date.
                     u"Hi|Sam <sam@example.com>|me@example.net|"_s +
                         MailboxSession::dateText(QDateTime()),
                     u"You won|Prize Desk <winner@lottery.example>|Me <me@example.net>|"_s +
                         dateText("Thu, 3 Dec 2026 09:00:00 +0000"),
                 }));
        const QAbstractItemModel *model = w->copyList->model();
        QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), u"Subject"_s);
        QCOMPARE(model->headerData(3, Qt::Horizontal).toString(), u"Date"_s);
        QCOMPARE(w->panelText(0), u"No message selected"_s);
        QCOMPARE(w->panelText(1), u"4 emails"_s);
        QVERIFY(w->progressBar->isHidden());
        QCOMPARE(m_run->prompts.shown.size(), 0);

        clickListRow(w, 1);
        QCOMPARE(w->panelText(0), u"Message 2 of 4 selected"_s);
    }

    // With nothing selected the row commands cannot be used, and run directly they do nothing.
    void rowCommandsNeedASelection() {
        start();
        open();
        SavedEmailsWindow *w = archive();
        QVERIFY(!w->deleteButton->isEnabled());
        QVERIFY(!w->viewButton->isEnabled());
        QVERIFY(w->deleteAllButton->isEnabled());
        w->deleteSelectedCopy();
        w->viewSelectedCopy();
        w->copyDoubleClicked();
        QCOMPARE(w->archiveNames().size(), 4);
        QVERIFY(m_opener.paths.isEmpty());
        QCOMPARE(m_run->prompts.shown.size(), 0);
        clickListRow(w, 0);
        QVERIFY(w->deleteButton->isEnabled());
        QVERIFY(w->viewButton->isEnabled());
    }

    // Deleting the row after the damaged file deletes its own copy, not the damaged file; the
    // next row takes the selection.
    void deleteSelected() {
        start();
        open();
        SavedEmailsWindow *w = archive();
        clickListRow(w, 2);
        QCOMPARE(w->archiveNames().value(2), u"Hi.eml"_s);
        // Asked first: No keeps it.
        m_run->prompts.answers << QMessageBox::No;
        QTest::mouseClick(w->deleteButton, Qt::LeftButton);
        QCOMPARE(m_run->prompts.takeTexts(),
                 QStringList{u"Delete the saved email \"Hi.eml\"? It cannot be brought back."_s});
        QVERIFY(QFile::exists(copyPath(u"Hi.eml"_s)));
        QCOMPARE(w->archiveNames().size(), 4);
        m_run->prompts.answers << QMessageBox::Yes;
        QTest::mouseClick(w->deleteButton, Qt::LeftButton);
        QCOMPARE(m_run->prompts.takeTexts().size(), 1);
        QVERIFY(!QFile::exists(copyPath(u"Hi.eml"_s)));
        QVERIFY(QFile::exists(copyPath(u"Damaged.eml"_s)));
        QVERIFY(QFile::exists(copyPath(u"You won.eml"_s)));
        QCOMPARE(w->archiveNames(),
                 (QStringList{u".eml"_s, u"Cheap- pills-.eml"_s, u"You won.eml"_s}));
        QCOMPARE(rows(w).size(), 3);
        QCOMPARE(w->panelText(0), u"Message 3 of 3 selected"_s);
        QCOMPARE(w->panelText(1), u"3 emails"_s);

        // The Delete key does the same; a copy already gone goes from the list without a word.
        QVERIFY(QFile::remove(copyPath(u"You won.eml"_s)));
        w->copyList->setFocus();
        m_run->prompts.answers << QMessageBox::Yes;
        QTest::keyClick(w->copyList, Qt::Key_Delete);
        QCOMPARE(w->archiveNames(), (QStringList{u".eml"_s, u"Cheap- pills-.eml"_s}));
        QCOMPARE(m_run->prompts.shown.size(), 1);
    }

    // A copy that cannot be deleted stays, in the list as on the disk, and the user is told.
    void deleteFailureIsReported() {
        start();
        open();
        SavedEmailsWindow *w = archive();
        // Something that is not a file has taken the name since the list was read.
        QVERIFY(QFile::remove(copyPath(u"Hi.eml"_s)));
        QVERIFY(QDir(archiveFolder()).mkpath(u"Hi.eml/inside"_s));
        clickListRow(w, 2);
        m_run->prompts.answers << QMessageBox::Yes;
        QTest::mouseClick(w->deleteButton, Qt::LeftButton);
        QStringList texts = m_run->prompts.takeTexts();
        QCOMPARE(texts.size(), 2);
        texts.removeFirst(); // the question
        QVERIFY2(texts[0].startsWith(u"The saved email \"Hi.eml\" could not be deleted: "_s),
                 qPrintable(texts[0]));
        QCOMPARE(w->archiveNames().size(), 4);

        // Delete all removes the others and keeps that one.
        m_run->prompts.answers = {QMessageBox::Yes};
        QTest::mouseClick(w->deleteAllButton, Qt::LeftButton);
        QCOMPARE(m_run->prompts.shown.size(), 2);
        QVERIFY(m_run->prompts.shown[1].text.startsWith(
            u"A saved email could not be deleted and stays in the list. \"Hi.eml\": "_s));
        QCOMPARE(w->archiveNames(), QStringList{u"Hi.eml"_s});
    }

    // Delete all asks first; No keeps everything, Yes removes every listed copy and only those.
    void deleteAll_data() {
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::newRow("No") << QMessageBox::No;
        QTest::newRow("Yes") << QMessageBox::Yes;
    }
    void deleteAll() {
        QFETCH(QMessageBox::StandardButton, answer);
        start();
        QVERIFY(writeFile(m_dir->filePath(u"archive/notes.txt"_s), "kept"));
        open();
        SavedEmailsWindow *w = archive();
        m_run->prompts.answers = {answer};
        QTest::mouseClick(w->deleteAllButton, Qt::LeftButton);
        QCOMPARE(m_run->prompts.shown.size(), 1);
        QCOMPARE(m_run->prompts.shown[0].icon, Prompts::Icon::Question);
        QCOMPARE(m_run->prompts.shown[0].text,
                 u"Delete all 4 saved emails? They cannot be brought back."_s);
        m_run->prompts.shown.clear();
        const QStringList left =
            QDir(archiveFolder()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
        if (answer == QMessageBox::No) {
            QCOMPARE(w->archiveNames().size(), 4);
            QCOMPARE(left.size(), 6);
            return;
        }
        QCOMPARE(left, (QStringList{u"Damaged.eml"_s, u"notes.txt"_s}));
        QCOMPARE(rows(w), QStringList());
        QVERIFY(!w->deleteAllButton->isEnabled());
        QCOMPARE(w->panelText(0), u"No message selected"_s);
        QCOMPARE(m_run->prompts.shown.size(), 0);
        refresh();
        QCOMPARE(m_run->prompts.takeTexts(), QStringList{u"No emails found"_s});
    }

    // View, double-click and Enter hand the selected copy to the mail program.
    void view_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("View button") << u"button"_s;
        QTest::newRow("double-click") << u"double-click"_s;
        QTest::newRow("Enter") << u"enter"_s;
    }
    void view() {
        QFETCH(QString, how);
        start();
        open();
        SavedEmailsWindow *w = archive();
        clickListRow(w, 3);
        if (how == u"button"_s) {
            QTest::mouseClick(w->viewButton, Qt::LeftButton);
        } else if (how == u"double-click"_s) {
            QTreeView *view = w->copyList;
            const QPoint at = view->visualRect(view->model()->index(3, 0)).center();
            // A double-click is a click followed by the second press.
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
        } else {
            w->copyList->setFocus();
            QTest::keyClick(w->copyList, Qt::Key_Return);
        }
        QCOMPARE(m_opener.paths, QStringList{copyPath(u"You won.eml"_s)});
        QVERIFY(m_opener.contents.value(0).contains("Subject: You won"));
        QCOMPARE(m_run->prompts.shown.size(), 0);
        // Viewing deletes nothing.
        QCOMPARE(w->archiveNames().size(), 4);
    }

    // Without a mail program the user is told where the copy is; a copy gone since the list was
    // read is said to be gone and leaves the list.
    void viewProblems() {
        start();
        open();
        SavedEmailsWindow *w = archive();
        m_opener.available = false;
        clickListRow(w, 1);
        QTest::mouseClick(w->viewButton, Qt::LeftButton);
        QCOMPARE(m_run->prompts.takeTexts(),
                 QStringList{noMailProgramText(copyPath(u"Cheap- pills-.eml"_s))});

        QVERIFY(QFile::remove(copyPath(u"Hi.eml"_s)));
        clickListRow(w, 2);
        QTest::mouseClick(w->viewButton, Qt::LeftButton);
        QCOMPARE(m_run->prompts.takeTexts(),
                 QStringList{u"The saved email \"Hi.eml\" is no longer in the archive folder."_s});
        QCOMPARE(w->archiveNames(),
                 (QStringList{u".eml"_s, u"Cheap- pills-.eml"_s, u"You won.eml"_s}));
        QCOMPARE(m_opener.paths.size(), 1);
    }

    // An empty or missing folder says "No emails found" at every showing, also after a showing
    // with rows; closing the window empties the list.
    void emptyArchive() {
        start({});
        QVERIFY(QDir(archiveFolder()).removeRecursively());
        open();
        SavedEmailsWindow *w = archive();
        QCOMPARE(m_run->prompts.takeTexts(), QStringList{u"No emails found"_s});
        QCOMPARE(rows(w), QStringList());
        QVERIFY(!w->deleteAllButton->isEnabled());
        w->close();

        QVERIFY(QDir().mkpath(archiveFolder()));
        QVERIFY(writeFile(copyPath(u"Hi.eml"_s), kArchive[2].second));
        open();
        QCOMPARE(w->archiveNames(), QStringList{u"Hi.eml"_s});
        QCOMPARE(m_run->prompts.shown.size(), 0);
        w->close();
        QCOMPARE(w->archiveNames(), QStringList());

        QVERIFY(QFile::remove(copyPath(u"Hi.eml"_s)));
        open();
        QCOMPARE(m_run->prompts.takeTexts(), QStringList{u"No emails found"_s});
        QCOMPARE(rows(w), QStringList());
    }

    // Refresh reads the folder again: copies made since appear, deleted ones go.
    void refreshRereads() {
        start();
        open();
        SavedEmailsWindow *w = archive();
        QVERIFY(QFile::remove(copyPath(u"Hi.eml"_s)));
        QVERIFY(writeFile(copyPath(u"Another.eml"_s),
                          copyOf("From: x@example.org\nTo: me@example.net\nSubject: Another\n")));
        clickListRow(w, 0);
        refresh();
        QCOMPARE(w->archiveNames(), (QStringList{u".eml"_s, u"Another.eml"_s,
                                                 u"Cheap- pills-.eml"_s, u"You won.eml"_s}));
        QCOMPARE(w->panelText(0), u"No message selected"_s);
        QCOMPARE(m_run->prompts.shown.size(), 0);
    }

    // A large archive is read in the background: the window answers while it is being read,
    // shows how far it has got, and a Refresh in the middle starts over without doubled rows.
    void largeArchiveStaysResponsive() {
        start({});
        const QByteArray bytes = kArchive[0].second;
        for (int i = 0; i < 2000; ++i)
            QVERIFY(writeFile(copyPath(u"Copy %1.eml"_s.arg(i)), bytes));
        main()->SavedEmails1->trigger();
        SavedEmailsWindow *w = archive();
        QVERIFY(w->scanning());
        QVERIFY(!w->deleteAllButton->isEnabled());
        refresh();
        QCOMPARE(w->archiveNames().size(), 2000);
        QCOMPARE(w->archiveNames().value(1), u"Copy 1.eml"_s);
        QCOMPARE(w->archiveNames().value(10), u"Copy 10.eml"_s);
        QVERIFY(w->progressBar->isHidden());
        QCOMPARE(w->progressBar->maximum(), 2000);
        QCOMPARE(w->progressBar->value(), 2000);
        QVERIFY(w->deleteAllButton->isEnabled());
        QCOMPARE(m_run->prompts.shown.size(), 0);
    }
};

QTEST_MAIN(TestArchiveWindow)
#include "tst_archivewindow.moc"
