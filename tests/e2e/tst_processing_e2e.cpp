// Processing marked messages against the private Dovecot and the SMTP sink that
// scripts/test-servers.sh starts on 127.0.0.1: deletions, a bounce notice, archive copies and
// the log, a run that must delete nothing, and corvane-cli process and auto on a data
// directory.

#include "clirunner.h"
#include "core/errors.h"
#include "core/protocol/mailmessage.h"
#include "core/protocol/pop3client.h"
#include "core/protocol/tcptransport.h"
#include "core/records/deletionlog.h"
#include "core/rules/listfile.h"
#include "core/rules/listsubmission.h"
#include "core/rules/rulelists.h"
#include "core/screening/mailboxsession.h"
#include "core/screening/processing.h"
#include "core/settings/accountstore.h"
#include "core/settings/settings.h"
#include "requirements.h"
#include "screeningrecorder.h"
#include "testmessage.h"
#include "testservers.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QSslCertificate>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace corvane;
using corvane::test::CliRun;
using corvane::test::runCli;
using corvane::test::TestMaildir;
using corvane::test::TestServers;

namespace {

const QDateTime kNow(QDate(2024, 5, 6), QTime(7, 8, 9));

// The header lines of a message, as the server hands them out.
QList<QByteArray> headerOf(const QByteArray &message) {
    return message.left(message.indexOf("\n\n")).split('\n');
}

// What Dovecot sends for RETR of a message stored with these bytes: every line with CR LF,
// the lines that begin with "." doubled, then the end line.
QByteArray asServed(const QByteArray &stored) {
    QList<QByteArray> lines = stored.split('\n');
    if (stored.endsWith('\n'))
        lines.removeLast();
    QByteArray out;
    for (QByteArray line : std::as_const(lines)) {
        if (line.endsWith('\r'))
            line.chop(1);
        out += (line.startsWith('.') ? "." + line : line) + "\r\n";
    }
    return out + ".\r\n";
}

// corvane-cli's environment with the C locale, so its texts read the same on every machine.
corvane::test::CliOptions inCLocale() {
    corvane::test::CliOptions options;
    options.environment.insert(u"LC_ALL"_s, u"C"_s);
    return options;
}

// One account's screening against the real servers, as the window holds it: the store, the
// lists, the session on a real socket, the settings and the log, in a temporary folder.
struct Desk {
    QTemporaryDir dir;
    AccountStore store{dir.filePath(u"accounts.dat"_s)};
    RuleLists lists;
    corvane::test::ScreeningRecorder view;
    TcpTransport transport;
    MailboxSession session{transport, &store, lists, view};
    Settings settings;
    DeletionLog log;

    explicit Desk(const Account &account) { store.insert(account); }
    QString archive() const { return dir.filePath(u"archive"_s); }
};

} // namespace

class TestProcessingE2e final : public QObject {
    Q_OBJECT

private:
    std::optional<TestServers> servers;
    QString popHost, smtpHost, password, sinkDir;
    quint16 popPort = 0, smtpPort = 0;
    const QString user = u"e2e-process"_s;
    std::unique_ptr<TestMaildir> maildir;
    // Unique per run, so that this program finds its notices among all the sink holds.
    QString spammer;
    QList<QByteArray> seeded;

    Account account() const {
        return {u"e2e"_s, popHost,  QString::number(popPort),
                user,     password, u"process@e2e.example"_s};
    }
    void seed() {
        QVERIFY(maildir->clear());
        seeded = {
            "From: Ann <ann@example.org>\nTo: process@e2e.example\nSubject: Hi\n"
            "Date: Mon, 6 May 2024 07:00:00 +0000\nMessage-ID: <1@e2e.example>\n\n"
            "First Hi\n.a line that begins with a dot\n",
            "From: keep@example.org\nTo: process@e2e.example\nSubject: Keep\n"
            "Date: Mon, 6 May 2024 07:01:00 +0000\n\nStays.\n",
            "Received: from mx.spam.example (mx.spam.example [192.0.2.7])\n"
            "\tby mail.e2e.example; Mon, 6 May 2024 07:02:00 +0000\n"
            "From: " +
                spammer.toUtf8() +
                "\nTo: Me <process@e2e.example>, other@e2e.example\nSubject: Re: cheap "
                "pills?\nDate: Mon, 6 May 2024 07:02:00 +0000\nX-Spam-Score: 9.1\n\nBuy.\n",
            "From: Bea <bea@example.org>\nTo: process@e2e.example\nSubject: Hi\n"
            "Date: Mon, 6 May 2024 07:03:00 +0000\n\nSecond Hi\n",
        };
        for (const QByteArray &m : std::as_const(seeded))
            QVERIFY(maildir->deliver(m));
    }
    // The notices in the sink whose recipient is the spammer: their data lines.
    QList<QList<QByteArray>> notices() const { return noticesTo(spammer); }
    QList<QList<QByteArray>> noticesTo(const QString &recipient) const {
        QList<QList<QByteArray>> found;
        const QDir dir(sinkDir + u"/new"_s);
        for (const QString &name : dir.entryList({u"*.envelope"_s}, QDir::Files, QDir::Name)) {
            QFile envelope(dir.filePath(name));
            if (!envelope.open(QIODevice::ReadOnly) ||
                !envelope.readAll().contains("RCPT TO:<" + recipient.toUtf8() + ">"))
                continue;
            QFile data(dir.filePath(name.chopped(9) + u".eml"_s));
            if (!data.open(QIODevice::ReadOnly))
                continue;
            QByteArray bytes = data.readAll();
            if (bytes.endsWith("\r\n"))
                bytes.chop(2);
            found << bytes.split('\n');
            for (QByteArray &line : found.last())
                if (line.endsWith('\r'))
                    line.chop(1);
        }
        return found;
    }
    // The messages left on the server, once every earlier session has ended.
    int countOnServer() {
        TcpTransport t;
        Pop3Client pop(t);
        pop.setHost(popHost);
        pop.setPort(popPort);
        pop.setUsername(user);
        pop.setPassword(password);
        pop.OpenSession();
        const int n = pop.CountMessages();
        pop.CloseSession();
        return n;
    }

private Q_SLOTS:
    void initTestCase();
    void init();

    void bounceAndTwoDeletions();
    void failedBounceDeletesNothing();
    void listMailIsNotBounced();
    void archiveCopyIsTheMessageAsServed();
    void cliProcessThenAuto();
    void bounceAndListsThroughSubmission();
};

void TestProcessingE2e::initTestCase() {
    servers.emplace();
    if (!servers->has({"CORVANE_POP3_HOST", "CORVANE_POP3_PORT", "CORVANE_POP3_USERS",
                       "CORVANE_POP3_PASSWORD", "CORVANE_POP3_MAILDIR_ROOT", "CORVANE_SMTP_HOST",
                       "CORVANE_SMTP_PORT", "CORVANE_SMTP_SINK_DIR"}))
        CORVANE_REQUIRE_OR_SKIP(qPrintable(servers->why()));
    QVERIFY2(servers->value(u"CORVANE_POP3_USERS"_s).split(u',').contains(user),
             "the test user e2e-process is missing");
    popHost = servers->value(u"CORVANE_POP3_HOST"_s);
    popPort = servers->value(u"CORVANE_POP3_PORT"_s).toUShort();
    password = servers->value(u"CORVANE_POP3_PASSWORD"_s);
    smtpHost = servers->value(u"CORVANE_SMTP_HOST"_s);
    smtpPort = servers->value(u"CORVANE_SMTP_PORT"_s).toUShort();
    sinkDir = servers->value(u"CORVANE_SMTP_SINK_DIR"_s);
    maildir =
        std::make_unique<TestMaildir>(servers->value(u"CORVANE_POP3_MAILDIR_ROOT"_s) + u'/' + user);
    spammer = u"spam-%1-%2@spam.example"_s.arg(QCoreApplication::applicationPid())
                  .arg(QDateTime::currentMSecsSinceEpoch());
}

void TestProcessingE2e::init() {
    seed();
}

void TestProcessingE2e::bounceAndTwoDeletions() {
    Desk desk(account());
    auto &[dir, store, lists, view, transport, session, settings, log] = desk;
    settings.smtpserver = smtpHost;
    settings.smtpport = QString::number(smtpPort);
    ProcessingHooks hooks;
    hooks.clock = [] { return kNow; };
    hooks.locale = QLocale::c();
    const QString archive = desk.archive();
    MessageProcessor processor(session, settings, log, archive, hooks);
    processor.setAccountEmail(account().EmailAddress);

    session.CheckAccount(0);
    QCOMPARE(session.rows().size(), 4);
    session.setMark(0, RowMark::Delete);
    session.setMark(2, RowMark::Bounce);
    session.setMark(3, RowMark::Delete);
    const QList<HeaderRow> rows = session.rows();

    const ProcessingResult result = processor.ProcessMessages();
    QCOMPARE(result.processed, 3);
    QCOMPARE(view.questions,
             QStringList{u"3 items deleted from server. Do you wish to reconnect?"_s});

    // Exactly the three messages are gone once the server has applied the QUIT.
    QTRY_COMPARE_WITH_TIMEOUT(maildir->count(), 1, 10000);
    QCOMPARE(maildir->messages(), QList<QByteArray>{seeded[1]});

    // One notice, from the bounce name at the account's domain to the bounced sender.
    const QList<QList<QByteArray>> found = notices();
    QCOMPARE(found.size(), 1);
    const QList<QByteArray> &notice = found.constFirst();
    const qsizetype blank = notice.indexOf(QByteArray());
    const QList<QByteArray> header = notice.mid(0, blank);
    QVERIFY(header.contains("From: MailDaemon@e2e.example"));
    QVERIFY(header.contains("To: " + spammer.toUtf8()));
    QVERIFY(header.contains("Subject: Delivery Notification: Delivery has failed"));
    QVERIFY(header.contains("Auto-Submitted: auto-replied"));
    QList<QByteArray> body{
        "This report relates to a message you sent with the following header fields:", ""};
    body += headerOf(seeded[2]);
    body += QList<QByteArray>{"",
                              "",
                              "Your message cannot be delivered to the following recipients:",
                              "",
                              "Recipient address: " + rows[2].To.toUtf8(),
                              "Reason: User at host/domain not found"};
    QCOMPARE(notice.mid(blank + 1), body);

    // Three complete archive copies, the bounced message among them.
    QCOMPARE(QDir(archive).entryList(QDir::Files, QDir::Name),
             (QStringList{u"Hi(0).eml"_s, u"Hi.eml"_s, u"Re- cheap pills-.eml"_s}));
    const QList<std::pair<QString, QList<QByteArray>>> copies{
        {u"Hi.eml"_s, {"Second Hi"}},
        {u"Hi(0).eml"_s, {"First Hi", ".a line that begins with a dot"}},
        {u"Re- cheap pills-.eml"_s, {"Buy."}}};
    for (const auto &[name, lines] : copies) {
        MailMessage copy;
        copy.LoadMessageFile(QDir(archive).filePath(name));
        QCOMPARE(copy.Body, lines);
    }

    QCOMPARE(
        log.LogLines,
        (QStringList{DeletionLog::runStartLine(kNow, QLocale::c()), QString(45, u'-'),
                     u"Email from Bea <bea@example.org> deleted, sent to "
                     u"process@e2e.example with subject Hi dated "_s +
                         rows[3].Date,
                     u"Email from "_s + spammer + u" bounced and deleted, sent to "_s + rows[2].To +
                         u" with subject Re: cheap pills? dated "_s + rows[2].Date,
                     u"Email from Ann <ann@example.org> deleted, sent to "
                     u"process@e2e.example with subject Hi dated "_s +
                         rows[0].Date,
                     QString(40, u'-'), u"Process Messages finished"_s, QString()}));
    QCOMPARE(log.DeleteCount, u"3"_s);
}

void TestProcessingE2e::listMailIsNotBounced() {
    // A list message from an address of its own (unique per run) as message 5, marked for
    // bouncing with the spammer's message 3: only the spammer gets a notice.
    const QString lister = u"news-"_s + spammer;
    QVERIFY(maildir->deliver("Return-Path: <" + lister.toUtf8() +
                             ">\nList-Id: Cheap news <news.lists.example>\n"
                             "List-Unsubscribe: <mailto:leave@lists.example>\nFrom: " +
                             lister.toUtf8() +
                             "\nTo: process@e2e.example\nSubject: News\n"
                             "Date: Mon, 6 May 2024 07:04:00 +0000\n\nNews.\n"));
    Desk desk(account());
    desk.settings.smtpserver = smtpHost;
    desk.settings.smtpport = QString::number(smtpPort);
    MessageProcessor processor(desk.session, desk.settings, desk.log, desk.archive());
    processor.setAccountEmail(account().EmailAddress);
    desk.session.CheckAccount(0);
    QCOMPARE(desk.session.rows().size(), 5);
    desk.session.setMark(2, RowMark::Bounce);
    desk.session.setMark(4, RowMark::Bounce);
    const qsizetype noticesBefore = notices().size();

    const ProcessingResult result = processor.ProcessMessages();
    QCOMPARE(result.processed, 2);
    QTRY_COMPARE_WITH_TIMEOUT(maildir->count(), 3, 10000);
    QCOMPARE(result.messages[0].notBounced, u"it is list mail (List-Id)"_s);
    QVERIFY(noticesTo(lister).isEmpty());
    const QList<QList<QByteArray>> found = notices();
    QCOMPARE(found.size(), noticesBefore + 1);
    const QList<QByteArray> &notice = found.constLast();
    QVERIFY(notice.mid(0, notice.indexOf(QByteArray())).contains("Auto-Submitted: auto-replied"));
    QCOMPARE(desk.log.LogLines.filter(u" - not bounced: it is list mail (List-Id)"_s).size(), 1);
    QCOMPARE(desk.log.LogLines.filter(u"bounced and deleted"_s).size(), 1);
    QCOMPARE(QDir(desk.archive()).entryList(QDir::Files, QDir::Name),
             (QStringList{u"News.eml"_s, u"Re- cheap pills-.eml"_s}));
}

void TestProcessingE2e::failedBounceDeletesNothing() {
    Desk desk(account());
    auto &[dir, store, lists, view, transport, session, settings, log] = desk;
    settings.smtpserver = smtpHost;
    {
        QTcpServer probe; // a port nobody listens on once the probe is gone
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        settings.smtpport = QString::number(probe.serverPort());
    }
    MessageProcessor processor(session, settings, log, desk.archive());

    session.CheckAccount(0);
    session.setMark(0, RowMark::Bounce);
    session.setMark(3, RowMark::Delete); // deleted first, then the run stops at message 1
    QString error;
    try {
        processor.ProcessMessages();
    } catch (const Error &e) {
        error = e.message();
    }
    QVERIFY2(error.startsWith(u"The bounce notice for message 1 (\"Hi\") could not be sent"_s),
             qPrintable(error));
    QVERIFY(!session.POP().IsOpen());
    QVERIFY(log.LogLines.isEmpty());
    QCOMPARE(countOnServer(), 4);
    QCOMPARE(maildir->count(), 4);
}

void TestProcessingE2e::cliProcessThenAuto() {
    QVERIFY2(QFile::exists(corvane::test::cliPath()), "CORVANE_CLI must name corvane-cli");
    QTemporaryDir dir;
    {
        AccountStore store(dir.filePath(u"accounts.dat"_s));
        store.insert(account());
    }
    Settings settings;
    settings.smtpserver = smtpHost;
    settings.smtpport = QString::number(smtpPort);
    MiscRules misc;
    misc.setAll(false);
    SettingsFile(dir.filePath(SettingsFile::FileName)).WriteConfiguration(settings, misc, u"7"_s);
    RuleList blackSubjects(RuleList::Order::ByCaption);
    blackSubjects.add(u"cheap pills"_s, {u"e2e"_s});
    SaveListFile(blackSubjects, dir.filePath(listFileName(ListKind::SubjectBlack)), true);

    const CliRun process = runCli({u"process"_s, u"e2e"_s, u"--delete"_s, u"4"_s, u"--bounce"_s,
                                   u"1"_s, u"--data-dir"_s, dir.path()},
                                  inCLocale());
    QVERIFY2(process.exitCode == 0, qPrintable(process.errText()));
    const QStringList lines = process.outText().split(u'\n', Qt::SkipEmptyParts);
    const QString archive = QDir::toNativeSeparators(dir.filePath(u"archive"_s));
    QCOMPARE(lines.mid(0, 5),
             (QStringList{u"archived\t4\t"_s + archive + u"/Hi.eml"_s, u"deleted\t4\tHi"_s,
                          u"bounced\t1\tAnn <ann@example.org>\tMailDaemon@e2e.example"_s,
                          u"archived\t1\t"_s + archive + u"/Hi(0).eml"_s, u"deleted\t1\tHi"_s}));
    QCOMPARE(lines.filter(u"logged\t"_s).size(), 7);
    QTRY_COMPARE_WITH_TIMEOUT(maildir->count(), 2, 10000);

    DeletionLog saved;
    saved.load(dir.filePath(DeletionLog::FileName));
    QCOMPARE(saved.LogLines.size(), 7);
    QVERIFY(saved.LogLines.at(0).endsWith(u" begin process messages"_s));
    QCOMPARE(
        saved.LogLines.at(2),
        u"Email from Bea <bea@example.org> deleted, sent to "
        u"process@e2e.example with subject Hi dated "_s +
            QLocale::c().toString(QDateTime({2024, 5, 6}, {7, 3}, Qt::UTC).toLocalTime().date(),
                                  QLocale::ShortFormat));
    Settings after;
    MiscRules miscAfter;
    QString total;
    SettingsFile(dir.filePath(SettingsFile::FileName)).ReadConfiguration(after, miscAfter, total);
    QCOMPARE(total, u"9"_s);

    // The automatic pass deletes the black-listed subject and keeps the rest.
    const CliRun pass = runCli({u"auto"_s, u"--once"_s, u"--data-dir"_s, dir.path()}, inCLocale());
    QVERIFY2(pass.exitCode == 0, qPrintable(pass.errText()));
    QVERIFY2(pass.outText().contains(u"e2e\t"_s + popHost + u"\t1 of 2 messages deleted\n"_s),
             qPrintable(pass.outText()));
    QTRY_COMPARE_WITH_TIMEOUT(maildir->count(), 1, 10000);
    QCOMPARE(maildir->messages(), QList<QByteArray>{seeded[1]});
    QVERIFY(QFile::exists(dir.filePath(u"archive/Re- cheap pills-.eml"_s)));
    SettingsFile(dir.filePath(SettingsFile::FileName)).ReadConfiguration(after, miscAfter, total);
    QCOMPARE(total, u"10"_s);
}

// Messages that a re-composed copy would change (a forwarded message, a deep MIME nest beyond
// the parser's limits, an HTML and text pair, a sender the address parser rejects) are
// archived exactly as the server sent them, and deleted.
void TestProcessingE2e::archiveCopyIsTheMessageAsServed() {
    QVERIFY(maildir->clear());
    const QByteArray nest = corvane::test::nestedMultipartMessage(200);
    const QList<QByteArray> messages{
        "From: Ann <ann@example.org>\nTo: process@e2e.example\nSubject: Fwd: offer\n"
        "Date: 6 May 2024 07:00 +0200\nMIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=\"outer\"\n\n--outer\n"
        "Content-Type: text/plain\n\nSee below.\n.\n..two dots\n--outer\n"
        "Content-Type: message/rfc822\n\nFrom: x@example.com\nSubject: offer\n\na=3Db\n"
        "--outer--\n",
        nest,
        "From: shop@example.com\nSubject: sale\nMIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=\"m\"\n\n--m\nContent-Type: text/plain\n"
        "Content-Transfer-Encoding: quoted-printable\n\nPrice =3D 5\n--m\n"
        "Content-Type: text/html\n\n<p>Price = 5</p>\n--m--\n",
        "From: Loan Market <x@spam.biz>@a\nSubject: loans\n\nCheap.\n"};
    for (const QByteArray &m : messages)
        QVERIFY(maildir->deliver(m));
    const QList<QByteArray> stored = maildir->messages();
    QCOMPARE(stored.size(), messages.size());

    Desk desk(account());
    MailboxSession &session = desk.session;
    MessageProcessor processor(session, desk.settings, desk.log, desk.archive());
    session.CheckAccount(0);
    QCOMPARE(session.rows().size(), messages.size());
    for (qsizetype p = 0; p < messages.size(); ++p)
        session.setMark(p, RowMark::Delete);

    const ProcessingResult result = processor.ProcessMessages();
    QCOMPARE(result.processed, int(messages.size()));
    for (const ProcessedMessage &done : result.messages)
        QCOMPARE(corvane::test::readFile(done.archivePath), asServed(stored.at(done.number - 1)));
    QTRY_COMPARE_WITH_TIMEOUT(maildir->count(), 0, 10000);
}

// A bounce notice and the list submission go through the submission server on its STARTTLS
// port, logged in with the user and password of the settings; the server takes mail only that
// way, and its envelopes record both.
void TestProcessingE2e::bounceAndListsThroughSubmission() {
    if (!servers->has({"CORVANE_SUBMISSION_PORT", "CORVANE_SUBMISSION_USER",
                       "CORVANE_SUBMISSION_PASSWORD", "CORVANE_SUBMISSION_CA"}))
        CORVANE_REQUIRE_OR_SKIP(qPrintable(servers->why()));
    const QList<QSslCertificate> ca =
        QSslCertificate::fromPath(servers->value(u"CORVANE_SUBMISSION_CA"_s));
    QVERIFY(!ca.isEmpty());
    const auto trusting = [ca](quint16 port) {
        std::unique_ptr<Transport> t = makeSmtpTransport(port);
        static_cast<TcpTransport &>(*t).addCaCertificates(ca);
        return t;
    };
    Desk desk(account());
    Settings &settings = desk.settings;
    settings.smtpserver = smtpHost;
    settings.smtpport = servers->value(u"CORVANE_SUBMISSION_PORT"_s);
    settings.smtpsecurity = u"STARTTLS"_s;
    settings.smtpuser = servers->value(u"CORVANE_SUBMISSION_USER"_s);
    settings.smtppassword = servers->value(u"CORVANE_SUBMISSION_PASSWORD"_s);
    ProcessingHooks hooks;
    hooks.smtpTransport = trusting;
    MessageProcessor processor(desk.session, settings, desk.log, desk.archive(), hooks);
    processor.setAccountEmail(account().EmailAddress);
    desk.session.CheckAccount(0);
    desk.session.setMark(2, RowMark::Bounce);
    QCOMPARE(processor.ProcessMessages().processed, 1);
    QTRY_COMPARE_WITH_TIMEOUT(maildir->count(), 3, 10000);

    const auto envelopesTo = [this](const QString &to) {
        QList<QByteArray> found;
        const QDir dir(sinkDir + u"/new"_s);
        for (const QString &name : dir.entryList({u"*.envelope"_s}, QDir::Files, QDir::Name)) {
            QFile f(dir.filePath(name));
            if (f.open(QIODevice::ReadOnly)) {
                const QByteArray bytes = f.readAll();
                // Earlier tests sent their notices through the plain sink.
                if (name.startsWith(u"submission-"_s) &&
                    bytes.contains("RCPT TO:<" + to.toUtf8() + ">"))
                    found << name.toUtf8() + '\n' + bytes;
            }
        }
        return found;
    };
    const QByteArray login = "\nTLS yes\nAUTH " + settings.smtpuser.toUtf8() + '\n';
    const QList<QByteArray> notice = envelopesTo(spammer);
    QCOMPARE(notice.size(), 1);
    QVERIFY2(notice[0].startsWith("submission-") && notice[0].contains(login),
             notice[0].constData());

    // The list submission, to an address of this run alone.
    settings.submitaddress = u"lists-"_s + spammer;
    settings.smtpemail = u"me@e2e.example"_s;
    SaveListFile(desk.lists.SubjectBlack, desk.dir.filePath(u"blsubj.dat"_s), true);
    SmtpSendOptions options;
    options.transport = trusting;
    QCOMPARE(ListSubmission::submit(desk.dir.path(), settings, options),
             QStringList{u"blsubj.dat"_s});
    const QList<QByteArray> lists = envelopesTo(settings.submitaddress);
    QCOMPARE(lists.size(), 1);
    QVERIFY2(lists[0].startsWith("submission-") && lists[0].contains(login), lists[0].constData());

    // Without the password the server refuses the login, and nothing is sent.
    settings.smtppassword.clear();
    settings.submitaddress = u"nolists-"_s + spammer;
    QVERIFY_THROWS_EXCEPTION(LoginError,
                             ListSubmission::submit(desk.dir.path(), settings, options));
    QVERIFY(envelopesTo(settings.submitaddress).isEmpty());
}

QTEST_GUILESS_MAIN(TestProcessingE2e)
#include "tst_processing_e2e.moc"
