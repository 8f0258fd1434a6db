// The POP3 client and the mailbox check against the private Dovecot instance that
// scripts/test-servers.sh starts on 127.0.0.1. Each test seeds its own mailbox first.

#include "core/errors.h"
#include "core/protocol/mailmessage.h"
#include "core/protocol/pop3client.h"
#include "core/protocol/tcptransport.h"
#include "core/rules/rulelists.h"
#include "core/screening/mailboxsession.h"
#include "core/settings/accountstore.h"
#include "core/settings/settings.h"
#include "requirements.h"
#include "screeningrecorder.h"
#include "testservers.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace corvane;
using corvane::test::TestMaildir;
using corvane::test::TestServers;

namespace {

// Messages as mail programs write them: folded headers, an encoded subject, several
// recipients, a dot at the start of a body line, LF line ends as in a Maildir.
const QByteArray kSpam = "Return-Path: <offers@cheap-meds.example>\n"
                         "Received: from mx.cheap-meds.example (mx.cheap-meds.example "
                         "[192.0.2.7])\n\tby mail.example.net with ESMTP id 4F2A1\n"
                         "\tfor <alice@example.net>; Tue, 3 Jun 2003 10:00:00 +0200\n"
                         "From: \"Best Offers\" <offers@cheap-meds.example>\n"
                         "To: alice@example.net\n"
                         "Subject: =?iso-8859-1?Q?Unglaublich_g=FCnstig?= - 80% off\n"
                         "Date: Tue, 3 Jun 2003 10:00:00 +0200\n"
                         "X-Spam-Score: 6.3\n"
                         "Message-ID: <1@cheap-meds.example>\n"
                         "\n"
                         "Order now!\n";
const QByteArray kFriend = "From: Carol Friend <carol@friends.example>\n"
                           "To: Alice <alice@example.net>, bob@example.net\n"
                           "Subject: Lunch on Friday?\n"
                           "Date: Wed, 4 Jun 2003 12:30:00 +0000\n"
                           "Message-ID: <2@friends.example>\n"
                           "\n"
                           "Shall we?\n"
                           ".hidden line starting with a dot\n"
                           ".\n"
                           "-- \nCarol\n";
const QByteArray kPlain = "From: newsletter@news.example\n"
                          "To: alice@example.net\n"
                          "Subject: Weekly news\n"
                          "Date: Thu, 5 Jun 2003 08:00:00 -0500\n"
                          "MIME-Version: 1.0\n"
                          "Content-Type: multipart/mixed; boundary=\"b1\"\n"
                          "\n"
                          "--b1\n"
                          "Content-Type: text/plain\n"
                          "\n"
                          "News.\n"
                          "--b1--\n";

// The size the server reports: every line end counts as CR LF.
qint64 wireSize(const QByteArray &message) {
    return message.size() + message.count('\n') - message.count("\r\n");
}

template <typename F> QString errorOf(F &&f) {
    try {
        f();
    } catch (const Error &e) {
        return e.message();
    }
    return {};
}

} // namespace

class TestPop3Dovecot final : public QObject {
    Q_OBJECT

private:
    std::optional<TestServers> servers;
    QString host;
    quint16 port = 0;
    QString user;
    QString password;
    std::unique_ptr<TestMaildir> maildir;

    // Connects a client as the test user.
    void login(Pop3Client &pop) {
        pop.setHost(host);
        pop.setPort(port);
        pop.setUsername(user);
        pop.setPassword(password);
        pop.OpenSession();
    }
    // Ends a session with QUIT and waits for the server's answer, which comes once the
    // deletions of the session have been applied.
    static void quitAndWait(Transport &t) {
        t.writeLine("QUIT");
        QVERIFY(t.readLine().startsWith("+OK"));
        t.close();
    }

private Q_SLOTS:
    void initTestCase();
    void init();

    void statListTopRetr();
    void refusedCommandsCarryServerText();
    void wrongPassword();
    void deleQuitRemovesExactlyTheMarked();
    void deleRsetQuitKeepsEverything();
    void checkAccountListsAndDisconnectKeepsAll();
    void pipelinedScanListsTheLockStepRows();
};

void TestPop3Dovecot::initTestCase() {
    servers.emplace();
    if (!servers->has({"CORVANE_POP3_HOST", "CORVANE_POP3_PORT", "CORVANE_POP3_USERS",
                       "CORVANE_POP3_PASSWORD", "CORVANE_POP3_MAILDIR_ROOT"}))
        CORVANE_REQUIRE_OR_SKIP(qPrintable(servers->why()));
    host = servers->value(u"CORVANE_POP3_HOST"_s);
    port = servers->value(u"CORVANE_POP3_PORT"_s).toUShort();
    user = u"e2e-pop3"_s;
    QVERIFY2(servers->value(u"CORVANE_POP3_USERS"_s).split(u',').contains(user),
             "the test user e2e-pop3 is missing");
    password = servers->value(u"CORVANE_POP3_PASSWORD"_s);
    maildir =
        std::make_unique<TestMaildir>(servers->value(u"CORVANE_POP3_MAILDIR_ROOT"_s) + u'/' + user);
}

void TestPop3Dovecot::init() {
    QVERIFY(maildir->clear());
    QVERIFY(maildir->deliver(kSpam));
    QVERIFY(maildir->deliver(kFriend));
    QVERIFY(maildir->deliver(kPlain));
}

void TestPop3Dovecot::statListTopRetr() {
    TcpTransport t;
    Pop3Client pop(t);
    login(pop);
    QCOMPARE(pop.CountMessages(), 3);
    QCOMPARE(pop.MailboxOctets(), wireSize(kSpam) + wireSize(kFriend) + wireSize(kPlain));
    QCOMPARE(pop.MessageOctets(2), wireSize(kFriend));

    MailMessage m;
    pop.FetchHeader(1, m);
    QCOMPARE(m.Subject, u"Unglaublich g\u00fcnstig - 80% off"_s);
    QCOMPARE(m.FromText(), u"Best Offers <offers@cheap-meds.example>"_s);
    QCOMPARE(m.HeaderLines.size(), 10); // the folded Received header is three lines
    QVERIFY(m.Body.isEmpty());

    m.ClearMessage();
    QVERIFY(pop.FetchMessage(2, m));
    QCOMPARE(m.RecipientsText(), u"Alice <alice@example.net>, bob@example.net"_s);
    QCOMPARE(m.Body, (QList<QByteArray>{"Shall we?", ".hidden line starting with a dot", ".", "-- ",
                                        "Carol"}));

    m.ClearMessage();
    QVERIFY(!pop.FetchMessage(9, m));
    QVERIFY(m.HeaderLines.isEmpty());
    QVERIFY(pop.IsOpen());
    quitAndWait(t);
    QCOMPARE(maildir->count(), 3);
}

void TestPop3Dovecot::refusedCommandsCarryServerText() {
    TcpTransport t;
    Pop3Client pop(t);
    login(pop);
    MailMessage m;
    const QString top = errorOf([&] { pop.FetchHeader(9, m); });
    QVERIFY2(!top.isEmpty() && !top.startsWith(u"-ERR"_s), qPrintable(top));
    QVERIFY(!errorOf([&] { pop.MessageOctets(9); }).isEmpty());
    QVERIFY(!errorOf([&] { pop.MarkDeleted(9); }).isEmpty());
    QVERIFY(pop.IsOpen());
    QCOMPARE(pop.CountMessages(), 3); // still in step
    quitAndWait(t);
}

void TestPop3Dovecot::wrongPassword() {
    TcpTransport t;
    Pop3Client pop(t);
    pop.setHost(host);
    pop.setPort(port);
    pop.setUsername(user);
    pop.setPassword(u"not the password"_s);
    const QString error = errorOf([&] { pop.OpenSession(); });
    QVERIFY2(error.contains(u"Authentication failed"_s), qPrintable(error));
    QVERIFY(!pop.IsOpen());
    // The failed attempt leaves the session free for the right password.
    pop.setPassword(password);
    pop.OpenSession();
    QCOMPARE(pop.CountMessages(), 3);
    quitAndWait(t);
}

void TestPop3Dovecot::deleQuitRemovesExactlyTheMarked() {
    TcpTransport t;
    Pop3Client pop(t);
    login(pop);
    pop.MarkDeleted(2);
    QCOMPARE(pop.CountMessages(), 2); // DELE does not renumber, STAT leaves out the marked
    pop.CloseSession();               // QUIT without waiting for its answer
    QTRY_COMPARE_WITH_TIMEOUT(maildir->count(), 2, 5000);
    QCOMPARE(maildir->messages(), (QList<QByteArray>{kSpam, kPlain}));
}

void TestPop3Dovecot::deleRsetQuitKeepsEverything() {
    TcpTransport t;
    Pop3Client pop(t);
    login(pop);
    pop.MarkDeleted(1);
    pop.MarkDeleted(3);
    pop.UndoDeletions();
    QCOMPARE(pop.CountMessages(), 3);
    quitAndWait(t);
    QCOMPARE(maildir->count(), 3);
}

void TestPop3Dovecot::checkAccountListsAndDisconnectKeepsAll() {
    QTemporaryDir dir;
    AccountStore store(dir.filePath(u"accounts.dat"_s));
    store.insert({u"Test"_s, host, QString::number(port), user, password, u"a@example.net"_s});
    RuleLists lists;
    lists.SubjectBlack.clear();
    lists.Misc.setAll(false);
    lists.Misc.setTicked(4, true);
    lists.Friendly.add(u"carol@friends.example"_s, {});
    corvane::test::ScreeningRecorder view;
    TcpTransport t;
    MailboxSession session(t, &store, lists, view);

    session.CheckAccount(0);
    QCOMPARE(session.MessageCount, 3);
    QCOMPARE(session.MailboxSizeK,
             int((wireSize(kSpam) + wireSize(kFriend) + wireSize(kPlain)) / 1024));
    const QList<HeaderRow> &rows = session.rows();
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[0].Subject, u"Unglaublich g\u00fcnstig - 80% off"_s);
    QCOMPARE(rows[0].Mark, RowMark::Spam);
    QCOMPARE(rows[0].Size, QString::number(wireSize(kSpam)));
    QCOMPARE(rows[1].From, u"Carol Friend <carol@friends.example>"_s);
    QCOMPARE(rows[1].To, u"Alice <alice@example.net>, bob@example.net"_s);
    QCOMPARE(rows[1].Mark, RowMark::Friendly);
    QCOMPARE(rows[1].Date, MailboxSession::dateText(QDateTime({2003, 6, 4}, {12, 30}, Qt::UTC)));
    QCOMPARE(rows[2].Subject, u"Weekly news"_s);
    QCOMPARE(rows[2].Mark, RowMark::Plain);
    QVERIFY(session.POP().IsOpen());

    // Marks made over the connection are undone by the RSET before QUIT.
    session.POP().MarkDeleted(1);
    session.DisconnectExecute();
    QVERIFY(!session.POP().IsOpen());
    QVERIFY(session.rows().isEmpty());

    // A new session sees every message (and its QUIT answer proves the old one has ended).
    TcpTransport t2;
    Pop3Client pop(t2);
    login(pop);
    QCOMPARE(pop.CountMessages(), 3);
    quitAndWait(t2);
    QCOMPARE(maildir->count(), 3);
}

// Dovecot announces PIPELINING: the scan with its commands sent ahead lists exactly the rows
// of the scan that sends one command at a time, with a wide window and with one refilled many
// times.
void TestPop3Dovecot::pipelinedScanListsTheLockStepRows() {
    for (int i = 0; i < 40; ++i)
        QVERIFY(maildir->deliver(i % 2 ? kFriend : kSpam));
    RuleLists lists;
    lists.Misc.setAll(true);
    lists.Friendly.add(u"carol@friends.example"_s, {});
    const auto scan = [&](bool pipelining, int window, QByteArrayList *sent) {
        corvane::Settings settings;
        settings.pop3pipelining = pipelining;
        corvane::test::ScreeningRecorder view;
        TcpTransport t;
        if (sent)
            t.setTranscript([sent](const QString &line) {
                if (line.startsWith(u"--> "_s))
                    sent->append(line.mid(4).toUtf8());
            });
        MailboxSession session(t, nullptr, lists, view);
        session.setSettings(&settings);
        session.ScanWindowCommands = window;
        session.CurrentAccount = {host, QString::number(port), user, password};
        session.CheckAccount(-1);
        const QList<HeaderRow> rows = session.rows();
        session.DisconnectExecute();
        return rows;
    };
    QByteArrayList lockStepSent, pipelinedSent;
    const QList<HeaderRow> lockStep = scan(false, 200, &lockStepSent);
    QCOMPARE(lockStep.size(), 43);
    QVERIFY(!lockStepSent.contains("CAPA"));
    QCOMPARE(scan(true, 200, &pipelinedSent), lockStep);
    QCOMPARE(scan(true, 6, nullptr), lockStep);
    // The same commands in the same order, with CAPA before the scan.
    pipelinedSent.removeOne("CAPA");
    QCOMPARE(pipelinedSent, lockStepSent);
    QCOMPARE(maildir->count(), 43);
}

QTEST_GUILESS_MAIN(TestPop3Dovecot)
#include "tst_pop3_dovecot.moc"
