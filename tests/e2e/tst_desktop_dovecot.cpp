// The desktop program against the real Dovecot of the loopback test servers: add an account
// through the Add Account dialog, check it, review and mark the messages, add a sender to the
// black list, close, and find every message still on the server and everything saved.

#include "core/protocol/tcptransport.h"
#include "core/rules/listfile.h"
#include "core/settings/accountstore.h"
#include "requirements.h"
#include "testservers.h"
#include "ui/rules/listentrydialog.h"
#include "ui/screening/tfrmmain.h"
#include "ui/settings/addaccountdialog.h"
#include "ui/shell/programshell.h"
#include "ui/shell/prompts.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <optional>

using namespace Qt::StringLiterals;
using namespace corvane;
using namespace corvane::test;

namespace {

// Answers every box with OK (a question with Yes) and keeps its text.
class RecordingPrompts final : public Prompts {
public:
    QMessageBox::StandardButton show(QWidget *, Icon, const QString &, const QString &text,
                                     QMessageBox::StandardButtons buttons) override {
        texts << text;
        return buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    }
    QStringList texts;
};

const QByteArray kSpam = "From: Prize Desk <winner@lottery.example>\nTo: e2e@example.net\n"
                         "Subject: Re: Details\nDate: Tue, 1 Dec 2026 10:00:00 +0000\n\nClaim it\n";
const QByteArray kFriend = "From: Mum <mum@example.org>\nTo: e2e@example.net\n"
                           "Subject: Sunday lunch\nDate: Tue, 1 Dec 2026 11:00:00 +0000\n\nHi\n";
const QByteArray kPlain = "From: Sam <sam@example.com>\nTo: e2e@example.net\n"
                          "Subject: Photos\nDate: Tue, 1 Dec 2026 12:00:00 +0000\n\nAttached\n";

} // namespace

class TestDesktopDovecot final : public QObject {
    Q_OBJECT

    std::optional<TestServers> m_servers;
    std::unique_ptr<TestMaildir> m_maildir;
    QString m_user;

private Q_SLOTS:
    void initTestCase() {
        m_servers.emplace();
        if (!m_servers->has({"CORVANE_POP3_HOST", "CORVANE_POP3_PORT", "CORVANE_POP3_USERS",
                             "CORVANE_POP3_PASSWORD", "CORVANE_POP3_MAILDIR_ROOT"}))
            CORVANE_REQUIRE_OR_SKIP(qPrintable(m_servers->why()));
        // A mailbox no other test program uses.
        const QStringList users =
            m_servers->value(u"CORVANE_POP3_USERS"_s).split(QRegularExpression(u"[ ,]+"_s));
        m_user = users.contains(u"e2e-desktop"_s) ? u"e2e-desktop"_s : u"e2e-spare"_s;
        QVERIFY2(users.contains(m_user), "no test user for the desktop program");
        m_maildir = std::make_unique<TestMaildir>(m_servers->value(u"CORVANE_POP3_MAILDIR_ROOT"_s) +
                                                  u'/' + m_user);
        QVERIFY(m_maildir->clear());
        QVERIFY(m_maildir->deliver(kSpam));
        QVERIFY(m_maildir->deliver(kFriend));
        QVERIFY(m_maildir->deliver(kPlain));
    }

    void checkReviewAndClose() {
        QTemporaryDir dir;
        RecordingPrompts prompts;
        TcpTransport transport;
        {
            ProgramShell shell(DataDirectory(dir.path()), prompts, transport);
            shell.start();
            TfrmMain *main = shell.mainWindow();
            main->show();
            shell.lists().Friendly.add(u"mum@example.org"_s, {u"family"_s});

            // The account, typed into the Add Account dialog.
            main->Add1->trigger();
            AddAccountDialog *add = shell.addAccountDialog();
            QVERIFY(add->isVisible());
            const QStringList values = {u"Dovecot"_s,
                                        m_servers->value(u"CORVANE_POP3_HOST"_s),
                                        m_servers->value(u"CORVANE_POP3_PORT"_s),
                                        m_user,
                                        m_servers->value(u"CORVANE_POP3_PASSWORD"_s),
                                        u"e2e@example.net"_s};
            const QStringList fields = {u"nameEdit"_s, u"serverEdit"_s,   u"portEdit"_s,
                                        u"userEdit"_s, u"passwordEdit"_s, u"emailEdit"_s};
            for (int i = 0; i < fields.size(); ++i) {
                auto *edit = add->findChild<QLineEdit *>(fields[i]);
                edit->clear();
                QTest::keyClicks(edit, values[i]);
            }
            add->addButton->click();
            QVERIFY(!add->isVisible());
            QCOMPARE(main->acctdrop->actions().size(), 1);

            main->acctdrop->actions().first()->trigger();
            QTRY_COMPARE_WITH_TIMEOUT(main->panelText(1), u"Connected"_s, 20000);
            QTRY_VERIFY_WITH_TIMEOUT(!main->operationRunning(), 20000);
            QCOMPARE(prompts.texts, QStringList());
            QCOMPARE(main->panelText(2), u"3"_s);
            QCOMPARE(main->pnlServerName->text(), m_servers->value(u"CORVANE_POP3_HOST"_s));
            const QList<HeaderRow> &rows = main->session().rows();
            QCOMPARE(rows.size(), 3);
            QCOMPARE(rows[0].Mark, RowMark::Spam);
            QCOMPARE(rows[1].Mark, RowMark::Friendly);
            QCOMPARE(rows[2].Mark, RowMark::Plain);
            QCOMPARE(rows[2].Subject, u"Photos"_s);

            // Review: mark the spam, black-list the plain sender.
            main->Markallspamfordeletion1->trigger();
            QCOMPARE(rows[0].Mark, RowMark::Delete);
            main->lvHeaders->setCurrentIndex(main->lvHeaders->model()->index(2, 0));
            QCOMPARE(main->panelText(0), u"Message 3 of 3 selected"_s);
            main->Addemailtoblacklist1->trigger();
            ListEntryDialog *entry = shell.listEntryDialog();
            QCOMPARE(entry->entryEdit->text(), u"Sam <sam@example.com>"_s);
            entry->okButton->click();

            // Closing with a marked row asks first; the answer is Yes.
            QVERIFY(main->close());
            QCOMPARE(prompts.texts.size(), 1);
            QVERIFY(prompts.texts.first().contains(u"1 marked for deletion"_s));
        }
        // Disconnecting undid the deletion mark: every message is still there.
        QCOMPARE(m_maildir->count(), 3);
        // What the user added was saved.
        RuleList emails(RuleList::Order::ByCaption);
        QVERIFY(LoadListFile(emails, QDir(dir.path()).filePath(u"bleml.dat"_s)).ok());
        QCOMPARE(emails.size(), 1);
        QCOMPARE(emails.at(0).Caption, u"Sam <sam@example.com>"_s);
        QVERIFY(QFileInfo::exists(QDir(dir.path()).filePath(u"Settings.ini"_s)));
        AccountStore store(QDir(dir.path()).filePath(u"accounts.dat"_s));
        QCOMPARE(store.account(0).Username, m_user);
    }
};

QTEST_MAIN(TestDesktopDovecot)
#include "tst_desktop_dovecot.moc"
