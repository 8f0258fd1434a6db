// The list exchange of the desktop program against the real loopback servers: "Check Now" of
// the update window fetching three list files from nginx (over HTTP, and over HTTPS with the
// test CA) and showing what each list gained, a missing or damaged publication changing
// nothing, and "Submit" of the Submitting tab delivering the three files to the SMTP sink.

#include "../ui/uitestsupport.h"

#include "core/protocol/httpfetcher.h"
#include "core/rules/listfile.h"
#include "requirements.h"
#include "testservers.h"
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
#include <QSslCertificate>

#include <algorithm>
#include <optional>

using namespace Qt::StringLiterals;
using namespace corvane;
using namespace corvane::test;

namespace {

RuleList listOf(RuleList::Order order, const QList<QStringList> &entries) {
    RuleList list(order);
    for (const QStringList &e : entries)
        list.add(e.value(0), e.mid(1));
    return list;
}

QStringList captions(const RuleList &list) {
    QStringList c;
    for (const RuleEntry &e : list)
        c << e.Caption;
    return c;
}

QByteArray readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void setText(QLineEdit *edit, const QString &text) {
    edit->selectAll();
    edit->del();
    QTest::keyClicks(edit, text);
}

} // namespace

class TestListExchangeDesktop final : public QObject {
    Q_OBJECT

    std::optional<TestServers> servers;
    QString root;     // nginx's document root
    QString siteName; // the good publication of this test program
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ProgramRun> m_run;

    TfrmMain *main() { return m_run->main(); }
    ListUpdateWindow *update() { return m_run->shell.listUpdateWindow(); }
    TfmSetup *setup() { return m_run->shell.optionsWindow(); }

    QString address(const QString &scheme, const QString &site) const {
        const QString port =
            servers->value(scheme == u"https"_s ? u"CORVANE_HTTPS_PORT"_s : u"CORVANE_HTTP_PORT"_s);
        return u"%1://127.0.0.1:%2/%3/"_s.arg(scheme, port, site);
    }
    void publish(const QString &site, const RuleList &subjects, const RuleList &emails,
                 const RuleList &pairs) {
        const QString folder = root + u'/' + site + u"/update"_s;
        QVERIFY(QDir().mkpath(folder));
        SaveListFile(subjects, folder + u"/blsubj.dat"_s, true);
        SaveListFile(emails, folder + u"/bleml.dat"_s, false);
        SaveListFile(pairs, folder + u"/blsubxy.dat"_s, true);
    }
    // The program on a data directory whose subject black list holds "winner" and whose
    // X-and-Y list holds cash/now, with the update address typed on the Submitting tab.
    void start(const QString &updateAddress) {
        SaveListFile(listOf(RuleList::Order::ByCaption, {{u"winner"_s, u"mine"_s}}),
                     m_dir->filePath(u"blsubj.dat"_s), true);
        SaveListFile(listOf(RuleList::Order::Insertion, {{u"cash"_s, u"now"_s, u""_s}}),
                     m_dir->filePath(u"blsubxy.dat"_s), true);
        m_run = std::make_unique<ProgramRun>(m_dir->path());
        m_run->start();
        update()->fetcher().addCaCertificates(
            QSslCertificate::fromPath(servers->value(u"CORVANE_HTTP_CA"_s)));
        main()->Options1->trigger();
        setText(setup()->UpdateUrl, updateAddress);
        main()->Checkforupdates1->trigger();
        QVERIFY(update()->isVisible());
    }

private Q_SLOTS:
    void initTestCase() {
        servers.emplace();
        if (!servers->has({"CORVANE_HTTP_PORT", "CORVANE_HTTPS_PORT", "CORVANE_HTTP_ROOT",
                           "CORVANE_HTTP_CA"}))
            CORVANE_REQUIRE_OR_SKIP(qPrintable(servers->why()));
        root = servers->value(u"CORVANE_HTTP_ROOT"_s);
        siteName = u"desktop-lists-%1"_s.arg(QCoreApplication::applicationPid());
        publish(
            siteName,
            listOf(RuleList::Order::ByCaption,
                   {{u"lottery"_s, u"scam"_s}, {u"Winner"_s, u"case"_s}, {u"winner"_s, u"x"_s}}),
            listOf(RuleList::Order::ByCaption,
                   {{u"spam@bad.example"_s, u"known"_s}, {u"junk@bad.example"_s, u""_s}}),
            listOf(RuleList::Order::Insertion,
                   {{u"cash"_s, u"free"_s, u""_s}, {u"cheap"_s, u"meds"_s, u""_s}}));
        // Whole files, but the third one's header promises more entries than it holds.
        publish(siteName + u"-damaged"_s, listOf(RuleList::Order::ByCaption, {{u"new"_s, u"x"_s}}),
                listOf(RuleList::Order::ByCaption, {{u"a@b.example"_s, u"x"_s}}),
                listOf(RuleList::Order::Insertion, {{u"a"_s, u"b"_s, u""_s}}));
        QFile pairs(root + u'/' + siteName + u"-damaged/update/blsubxy.dat"_s);
        SaveListFile(listOf(RuleList::Order::Insertion, {{u"a"_s, u"b"_s, u""_s}}),
                     pairs.fileName(), false);
        QVERIFY(pairs.open(QIODevice::ReadWrite));
        pairs.seek(1);
        pairs.write(QByteArray("\x03\0\0\0", 4));
    }
    void cleanupTestCase() {
        if (!root.isEmpty() && !siteName.isEmpty()) {
            QDir(root + u'/' + siteName).removeRecursively();
            QDir(root + u'/' + siteName + u"-damaged"_s).removeRecursively();
        }
    }
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void cleanup() {
        if (m_run && main()->isVisible())
            QVERIFY(main()->close());
        m_run.reset();
    }

    // Each list gains exactly the captions it lacked; the window says how many; the Rules and
    // Lists window's counts follow; the lists reach their files at shutdown.
    void checkNow_data() {
        QTest::addColumn<QString>("scheme");
        QTest::newRow("http") << u"http"_s;
        QTest::newRow("https with the test CA") << u"https"_s;
    }
    void checkNow() {
        QFETCH(QString, scheme);
        start(address(scheme, siteName));
        RulesWindow *rules = m_run->shell.rulesWindow();
        main()->RulesandLists1->trigger();
        const QString subjectsBefore = rules->subjectCount->text();
        QCOMPARE(update()->statusLabel->text(), u"idle..."_s);
        QTest::mouseClick(update()->checkNowButton, Qt::LeftButton);

        QCOMPARE(m_run->prompts.takeTexts(), QStringList());
        QCOMPARE(update()->statusLabel->text(), u"Completed Sucessfully"_s);
        QCOMPARE(update()->progressBar->value(), 0);
        QCOMPARE(update()->resultLabel->text(), u"Subject black list: 2 new entries\n"
                                                u"E-mail black list: 2 new entries\n"
                                                u"X and Y list: 1 new entry"_s);
        QVERIFY(QDir(m_dir->filePath(u"updates"_s)).isEmpty());
        const RuleLists &lists = m_run->shell.lists();
        // "Winner" differs from "winner" in case only; the friendly list stays empty.
        QCOMPARE(lists.SubjectBlack.size(), 3);
        QVERIFY(captions(lists.SubjectBlack).contains(u"Winner"_s));
        QVERIFY(captions(lists.SubjectBlack).contains(u"lottery"_s));
        QCOMPARE(captions(lists.SubjectBlack).count(u"winner"_s), 1);
        QCOMPARE(lists.XandY.size(), 2);
        QCOMPARE(lists.XandY.at(0).SubItems.value(0), u"now"_s);
        QCOMPARE(lists.XandY.at(1).Caption, u"cheap"_s);
        QVERIFY(lists.Friendly.isEmpty());
        QVERIFY(rules->subjectCount->text() != subjectsBefore);

        // A second run finds nothing new.
        QTest::mouseClick(update()->checkNowButton, Qt::LeftButton);
        QCOMPARE(update()->resultLabel->text(), u"Subject black list: no new entries\n"
                                                u"E-mail black list: no new entries\n"
                                                u"X and Y list: no new entries"_s);

        QVERIFY(main()->close());
        m_run.reset();
        RuleList saved(RuleList::Order::ByCaption);
        QVERIFY(LoadListFile(saved, m_dir->filePath(u"bleml.dat"_s)).ok());
        QCOMPARE(captions(saved), (QStringList{u"junk@bad.example"_s, u"spam@bad.example"_s}));
    }

    // A publication that is missing or damaged: the failure box, the reason in the window,
    // and no list changed, not even the ones whose files were whole.
    void failedUpdateChangesNothing_data() {
        QTest::addColumn<QString>("site");
        QTest::addColumn<QString>("reason");
        QTest::newRow("404") << u"no-such-publisher"_s << u"HTTP/1.1 404 Not Found"_s;
        QTest::newRow("damaged file") << u"-damaged"_s << u"cannot be used"_s;
    }
    void failedUpdateChangesNothing() {
        QFETCH(QString, site);
        QFETCH(QString, reason);
        start(address(u"http"_s, site.startsWith(u'-') ? siteName + site : site));
        const RuleLists before = m_run->shell.lists();
        QTest::mouseClick(update()->checkNowButton, Qt::LeftButton);
        QCOMPARE(
            m_run->prompts.takeTexts(),
            QStringList{u"Updates couldn't be downloaded, please check internet connection"_s});
        QCOMPARE(update()->statusLabel->text(), u"Error - check interne connection"_s);
        QCOMPARE(update()->progressBar->value(), 0);
        QVERIFY2(update()->resultLabel->text().contains(reason),
                 qPrintable(update()->resultLabel->text()));
        const RuleLists &after = m_run->shell.lists();
        QCOMPARE(after.SubjectBlack.entries(), before.SubjectBlack.entries());
        QCOMPARE(after.EmailBlack.entries(), before.EmailBlack.entries());
        QCOMPARE(after.XandY.entries(), before.XandY.entries());
    }

    // "Submit" first writes the black lists as the program holds them, then mails the three
    // files byte for byte, never the friendly list; the window says so and shows the sizes
    // sent.
    void submitReachesTheSink() {
        if (!servers->has({"CORVANE_SMTP_HOST", "CORVANE_SMTP_PORT", "CORVANE_SMTP_SINK_DIR"}))
            CORVANE_REQUIRE_OR_SKIP(qPrintable(servers->why()));
        SaveListFile(listOf(RuleList::Order::ByCaption, {{u"spam@bad.example"_s, u"known"_s}}),
                     m_dir->filePath(u"bleml.dat"_s), false);
        SaveListFile(listOf(RuleList::Order::Insertion, {{u"friend@ok.example"_s, u""_s}}),
                     m_dir->filePath(u"freml.dat"_s), true);
        start(address(u"http"_s, siteName));
        const QByteArray recipient = "desktop-" +
                                     QByteArray::number(QCoreApplication::applicationPid()) +
                                     "@publisher.local";
        TfmSetup *w = setup();
        setText(w->SubmitAddress, QString::fromLatin1(recipient));
        setText(w->SMTPServer, servers->value(u"CORVANE_SMTP_HOST"_s));
        setText(w->SMTPPort, servers->value(u"CORVANE_SMTP_PORT"_s));
        setText(w->Edit1, u"me@user.local"_s);
        main()->Options1->trigger();
        w->PageControl1->setCurrentIndex(5);
        for (QLabel *size : {w->SizeSubj, w->SizeEmail, w->SizeXY})
            QVERIFY2(size->text().endsWith(u" Bytes"_s), qPrintable(size->text()));
        // Added during the run, not yet saved: it goes too.
        const QString before = w->SizeEmail->text();
        m_run->shell.lists().EmailBlack.add(u"added-during-the-run@bad.example"_s, {u""_s});
        QTest::mouseClick(w->Button4, Qt::LeftButton);
        QCOMPARE(m_run->prompts.takeTexts(), QStringList{u"Blacklists sent"_s});
        QVERIFY(w->Button4->isEnabled());
        QCOMPARE(w->SubmitResult->text(), u"Sent: blsubj.dat, bleml.dat, blsubxy.dat"_s);

        const SinkMessage sent =
            readSinkMessage(servers->value(u"CORVANE_SMTP_SINK_DIR"_s), recipient);
        QVERIFY2(sent.error.isEmpty(), qPrintable(sent.error));
        QCOMPARE(sent.from, QByteArray("Black Lists <me@user.local>"));
        QCOMPARE(sent.subject, QByteArray("Black List Files"));
        QCOMPARE(sent.to, recipient);
        QCOMPARE(sent.body, QByteArray("Black List Files"));
        QCOMPARE(sent.attachments.size(), 3);
        const QStringList names = {u"blsubj.dat"_s, u"bleml.dat"_s, u"blsubxy.dat"_s};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(sent.attachments[i].first, names[i]);
            QCOMPARE(sent.attachments[i].second, readAll(m_dir->filePath(names[i])));
        }
        RuleList emails(RuleList::Order::ByCaption);
        QVERIFY(LoadListFile(emails, m_dir->filePath(u"bleml.dat"_s)).ok());
        QVERIFY(std::any_of(emails.begin(), emails.end(), [](const RuleEntry &e) {
            return e.Caption == u"added-during-the-run@bad.example"_s;
        }));
        QCOMPARE(w->SizeEmail->text(),
                 u"%1 Bytes"_s.arg(QFileInfo(m_dir->filePath(u"bleml.dat"_s)).size()));
        QVERIFY(w->SizeEmail->text() != before);
    }
};

QTEST_MAIN(TestListExchangeDesktop)
#include "tst_listexchange_desktop.moc"
