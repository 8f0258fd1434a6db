// corvane-cli check against the private Dovecot instance of scripts/test-servers.sh: it lists
// and classifies a real mailbox and leaves every message on the server. Each row ends with the
// learned score and the reason of its mark; a filter trained by corvane-cli learn marks what
// the lists and rules leave Plain.

#include "clirunner.h"
#include "core/rules/listfile.h"
#include "core/rules/rulelists.h"
#include "core/settings/accountstore.h"
#include "requirements.h"
#include "testservers.h"
#include "testsupport.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace corvane;
using corvane::test::CliRun;
using corvane::test::runCli;
using corvane::test::TestMaildir;
using corvane::test::TestServers;

namespace {

const QByteArray kFriendly = "From: Carol <carol@friends.example>\nTo: e2e@example.net\n"
                             "Subject: Lottery tickets for the office pool\n"
                             "Date: Mon, 2 Jun 2003 09:00:00 +0000\n\nHi\n";
const QByteArray kSpam = "From: winner@lottery.example\nTo: e2e@example.net, other@example.net\n"
                         "Subject: You won the\tLOTTERY\n"
                         "Date: Tue, 3 Jun 2003 09:00:00 +0000\n\nClaim now\n";
const QByteArray kUndated = "From: Bob <bob@example.net>\nTo: e2e@example.net\n"
                            "Subject: Minutes\n\nSee attached\n";

// The size the server reports: every line end counts as CR LF.
QString wireSize(const QByteArray &message) {
    return QString::number(message.size() + message.count('\n'));
}

QString shortDate(int year, int month, int day) {
    return QLocale::system().toString(QDate(year, month, day), QLocale::ShortFormat);
}

} // namespace

class TestCliCheck final : public QObject {
    Q_OBJECT

private:
    std::optional<TestServers> servers;
    std::unique_ptr<TestMaildir> maildir;
    QTemporaryDir dataDir;
    QString port;
    QString passwordFile;
    const QString user = u"e2e-cli"_s;

private Q_SLOTS:
    void initTestCase();
    void init();
    void checkByAddress();
    void checkStoredAccount();
    void hostileTextStaysOnItsLine();
    void overlongHeaderLineIsListed();
    void learnedMarks();
    void failures_data();
    void failures();
};

void TestCliCheck::initTestCase() {
    QVERIFY2(!test::cliPath().isEmpty(), "CORVANE_CLI is not set");
    servers.emplace();
    if (!servers->has({"CORVANE_POP3_HOST", "CORVANE_POP3_PORT", "CORVANE_POP3_USERS",
                       "CORVANE_POP3_PASSWORD", "CORVANE_POP3_MAILDIR_ROOT"}))
        CORVANE_REQUIRE_OR_SKIP(qPrintable(servers->why()));
    QVERIFY(servers->value(u"CORVANE_POP3_USERS"_s).split(u',').contains(user));
    port = servers->value(u"CORVANE_POP3_PORT"_s);
    maildir =
        std::make_unique<TestMaildir>(servers->value(u"CORVANE_POP3_MAILDIR_ROOT"_s) + u'/' + user);
    passwordFile = dataDir.filePath(u"password"_s);
    QVERIFY(
        test::writeFile(passwordFile, servers->value(u"CORVANE_POP3_PASSWORD"_s).toUtf8() + "\n"));

    // The lists of the data directory: a friendly sender and a black-listed subject word.
    RuleList friendly;
    friendly.add(u"carol@friends.example"_s, {u"Carol"_s});
    SaveListFile(friendly, dataDir.filePath(listFileName(ListKind::Friendly)), true);
    RuleList subjects(RuleList::Order::ByCaption);
    subjects.add(u"lottery"_s, {u"scam"_s});
    SaveListFile(subjects, dataDir.filePath(listFileName(ListKind::SubjectBlack)), true);
}

void TestCliCheck::init() {
    QVERIFY(maildir->clear());
    QVERIFY(maildir->deliver(kFriendly));
    QVERIFY(maildir->deliver(kSpam));
    QVERIFY(maildir->deliver(kUndated));
}

void TestCliCheck::checkByAddress() {
    const CliRun r =
        runCli({u"check"_s, u"--host"_s, servers->value(u"CORVANE_POP3_HOST"_s), u"--port"_s, port,
                u"--user"_s, user, u"--password-file"_s, passwordFile, u"--data-dir"_s,
                dataDir.path(), u"--rules"_s, u"none"_s});
    QCOMPARE(r.errText(), QString());
    QCOMPARE(r.exitCode, 0);
    const QStringList lines = r.outText().split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    // The data folder's filter has learned nothing: no row is scored ("-"), the lists decide.
    QCOMPARE(lines[0], u"1\tFriendly\tLottery tickets for the office pool\tCarol "
                       u"<carol@friends.example>\te2e@example.net\t%1\t%2\t-\tfriendly list"_s.arg(
                           shortDate(2003, 6, 2), wireSize(kFriendly)));
    QCOMPARE(lines[1], u"2\tSpam\tYou won the LOTTERY\twinner@lottery.example\te2e@example.net, "
                       u"other@example.net\t%1\t%2\t-\tsubject black list"_s.arg(
                           shortDate(2003, 6, 3), wireSize(kSpam)));
    // Without a Date header the row shows the zero date.
    QCOMPARE(lines[2],
             u"3\tPlain\tMinutes\tBob <bob@example.net>\te2e@example.net\t%1\t%2\t-\t"_s.arg(
                 shortDate(1899, 12, 30), wireSize(kUndated)));
    QCOMPARE(maildir->count(), 3);
}

void TestCliCheck::checkStoredAccount() {
    {
        AccountStore store(dataDir.filePath(u"accounts.dat"_s));
        while (store.rowCount() > 0) {
            store.first();
            store.deleteCurrent();
        }
        store.insert({u"Elsewhere"_s, u"127.0.0.1"_s, u"1"_s, u"x"_s, u"y"_s, u"x@y.example"_s});
        store.insert({u"Test box"_s, servers->value(u"CORVANE_POP3_HOST"_s), port, user,
                      servers->value(u"CORVANE_POP3_PASSWORD"_s), u"e2e@example.net"_s});
    }
    const CliRun r = runCli(
        {u"check"_s, u"Test box"_s, u"--data-dir"_s, dataDir.path(), u"--rules"_s, u"none"_s});
    QCOMPARE(r.errText(), QString());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.outText().count(u'\n'), 3);
    QVERIFY(r.outText().startsWith(u"1\tFriendly\t"_s));

    const CliRun missing = runCli({u"check"_s, u"Nobody"_s, u"--data-dir"_s, dataDir.path()});
    QCOMPARE(missing.exitCode, 1);
    QVERIFY2(missing.errText().contains(u"no account named 'Nobody'"_s),
             qPrintable(missing.errText()));
    QCOMPARE(maildir->count(), 3);
}

void TestCliCheck::hostileTextStaysOnItsLine() {
    // Encoded line breaks and terminal escapes in the subject and the sender's name, and a From
    // that the strict address parser rejects: the row stays one line without control
    // characters, and the sender still reaches the rules (rule 9: "market" in the sender).
    QVERIFY(maildir->clear());
    QVERIFY(maildir->deliver("From: =?UTF-8?Q?Loan_Market=0D=0A2=09Spam?= <x@spam.example>@a\n"
                             "To: e2e@example.net\n"
                             "Subject: =?UTF-8?Q?Hi=0D=0A2=09Forged=1B[2J=E2=80=AEgnp?=\n"
                             "Date: Tue, 3 Jun 2003 09:00:00 +0000\n\nBody\n"));
    const CliRun r = runCli({u"check"_s, u"--host"_s, servers->value(u"CORVANE_POP3_HOST"_s),
                             u"--port"_s, port, u"--user"_s, user, u"--password-file"_s,
                             passwordFile, u"--data-dir"_s, dataDir.path(), u"--rules"_s, u"9"_s});
    QCOMPARE(r.errText(), QString());
    QCOMPARE(r.exitCode, 0);
    const QStringList lines = r.outText().split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1);
    const QStringList fields = lines[0].split(u'\t');
    QCOMPARE(fields.size(), 9);
    QCOMPARE(fields[1], u"Spam"_s);
    QCOMPARE(fields[8], u"rule 9"_s);
    QCOMPARE(fields[2], u"Hi  2 Forged?[2J?gnp"_s);
    QCOMPARE(fields[3], u"\"Loan Market  2 Spam\" <x@spam.example>"_s);
}

void TestCliCheck::overlongHeaderLineIsListed() {
    // A header line far over the line limit in message 2 of 4: every message is listed, the
    // long one with its subject cut, and the rows after it get their own data.
    QVERIFY(maildir->clear());
    const QByteArray longSubject = "Long " + QByteArray(19995, 'x');
    const QByteArray kLong =
        "From: promo@spam.example\nTo: e2e@example.net\nSubject: " + longSubject +
        "\nDate: Wed, 4 Jun 2003 09:00:00 +0000\n\nBuy\n";
    QVERIFY(maildir->deliver(kFriendly));
    QVERIFY(maildir->deliver(kLong));
    QVERIFY(maildir->deliver(kSpam));
    QVERIFY(maildir->deliver(kUndated));
    const CliRun r =
        runCli({u"check"_s, u"--host"_s, servers->value(u"CORVANE_POP3_HOST"_s), u"--port"_s, port,
                u"--user"_s, user, u"--password-file"_s, passwordFile, u"--data-dir"_s,
                dataDir.path(), u"--rules"_s, u"none"_s});
    QCOMPARE(r.errText(), QString());
    QCOMPARE(r.exitCode, 0);
    const QStringList lines = r.outText().split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines[0].startsWith(u"1\tFriendly\tLottery tickets"_s));
    const QString cut = QString::fromLatin1(longSubject.left(16384 - 9));
    QCOMPARE(lines[1], u"2\tPlain\t%1\tpromo@spam.example\te2e@example.net\t%2\t%3\t-\t"_s.arg(
                           cut, shortDate(2003, 6, 4), wireSize(kLong)));
    QCOMPARE(lines[2], u"3\tSpam\tYou won the LOTTERY\twinner@lottery.example\te2e@example.net, "
                       u"other@example.net\t%1\t%2\t-\tsubject black list"_s.arg(
                           shortDate(2003, 6, 3), wireSize(kSpam)));
    QVERIFY(lines[3].startsWith(u"4\tPlain\tMinutes\t"_s));
    QCOMPARE(maildir->count(), 4);
}

void TestCliCheck::learnedMarks() {
    // A new user's start: a folder of spam and one of ham taught with corvane-cli learn, then
    // a check of the real mailbox. The lists and rules let both new messages pass; the learner
    // marks the one like the taught spam, scores the other low, and says so in each row.
    QTemporaryDir learnDir;
    QVERIFY(learnDir.isValid());
    QDir root(learnDir.path());
    QVERIFY(root.mkpath(u"data"_s) && root.mkpath(u"spam"_s) && root.mkpath(u"ham"_s));
    const QString data = root.filePath(u"data"_s);
    QVERIFY(test::writeFile(QDir(data).filePath(u"password"_s),
                            servers->value(u"CORVANE_POP3_PASSWORD"_s).toUtf8() + "\n"));
    const auto spamText = [](int i) {
        return "From: Pharmacy Deals <deals" + QByteArray::number(i) +
               "@cheap-meds.example>\nTo: e2e@example.net\nSubject: Cheapest pills online, "
               "discount " +
               QByteArray::number(i) +
               "\nDate: Tue, 3 Jun 2003 09:00:00 +0000\n\nOrder cheapest pills discount "
               "pharmacy prescription http://cheap-meds.example/order\n";
    };
    const auto hamText = [](int i) {
        return "From: Alice <alice@work.example>\nTo: e2e@example.net\nSubject: Project "
               "meeting notes " +
               QByteArray::number(i) +
               "\nDate: Tue, 3 Jun 2003 09:00:00 +0000\n\nThe project meeting agreed on the "
               "schedule, attached notes from Monday\n";
    };
    for (int i = 1; i <= 4; ++i) {
        QVERIFY(test::writeFile(root.filePath(u"spam/%1.eml"_s.arg(i)), spamText(i)));
        QVERIFY(test::writeFile(root.filePath(u"ham/%1.eml"_s.arg(i)), hamText(i)));
    }
    const CliRun learned = runCli({u"learn"_s, u"--spam"_s, root.filePath(u"spam"_s), u"--ham"_s,
                                   root.filePath(u"ham"_s), u"--data-dir"_s, data});
    QCOMPARE(learned.exitCode, 0);
    QCOMPARE(learned.errText(), QString());

    QVERIFY(maildir->clear());
    QVERIFY(maildir->deliver(spamText(7)));
    QVERIFY(maildir->deliver(hamText(7)));
    const CliRun r =
        runCli({u"check"_s, u"--host"_s, servers->value(u"CORVANE_POP3_HOST"_s), u"--port"_s, port,
                u"--user"_s, user, u"--password-file"_s, QDir(data).filePath(u"password"_s),
                u"--data-dir"_s, data, u"--rules"_s, u"none"_s});
    QCOMPARE(r.errText(), QString());
    QCOMPARE(r.exitCode, 0);
    const QStringList lines = r.outText().split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    const QStringList spamRow = lines[0].split(u'\t');
    const QStringList hamRow = lines[1].split(u'\t');
    QCOMPARE(spamRow.size(), 9);
    QCOMPARE(hamRow.size(), 9);
    QCOMPARE(spamRow[1], u"Spam"_s);
    QVERIFY2(spamRow[7].toInt() >= 90, qPrintable(lines[0]));
    QVERIFY2(QRegularExpression(u"^learned (0\\.9\\d|1\\.00)$"_s).match(spamRow[8]).hasMatch(),
             qPrintable(lines[0]));
    QCOMPARE(hamRow[1], u"Plain"_s);
    QVERIFY2(hamRow[7].toInt() <= 10, qPrintable(lines[1]));
    QVERIFY2(hamRow[8].startsWith(u"learned 0.0"_s), qPrintable(lines[1]));
    QCOMPARE(maildir->count(), 2);
}

void TestCliCheck::failures_data() {
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("portText");
    QTest::addColumn<QString>("message");

    QTest::newRow("wrong password")
        << u"wrong"_s << QString()
        << u"Could not log in to \"127.0.0.1\": the server refused the user name or password. "
           u"The server answered: [AUTH] Authentication failed."_s;
    QTest::newRow("port not a number") << QString() << u"pop"_s << u"\"pop\""_s;
}

void TestCliCheck::failures() {
    QFETCH(QString, password);
    QFETCH(QString, portText);
    QFETCH(QString, message);

    QString file = passwordFile;
    if (!password.isEmpty()) {
        file = dataDir.filePath(u"wrong-password"_s);
        QVERIFY(test::writeFile(file, password.toUtf8()));
    }
    const CliRun r = runCli({u"check"_s, u"--host"_s, u"127.0.0.1"_s, u"--port"_s,
                             portText.isEmpty() ? port : portText, u"--user"_s, user,
                             u"--password-file"_s, file, u"--data-dir"_s, dataDir.path()});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.outText(), QString());
    QVERIFY2(r.errText().contains(message), qPrintable(r.errText()));
    QCOMPARE(maildir->count(), 3);
}

QTEST_GUILESS_MAIN(TestCliCheck)
#include "tst_cli_check.moc"
