// Checking an account, the header scan and disconnecting, against a scripted POP3 server and
// a real account store, with a view that records everything it is told.

#include "core/auth/oauthtokens.h"
#include "core/errors.h"
#include "core/protocol/transport.h"
#include "core/rules/rulelists.h"
#include "core/screening/mailboxsession.h"
#include "core/settings/accountstore.h"
#include "faketransport.h"
#include "screeningrecorder.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using corvane::Account;
using corvane::AccountStore;
using corvane::Error;
using corvane::HeaderRow;
using corvane::MailboxSession;
using corvane::RowMark;
using corvane::RuleLists;
using corvane::ScreeningView;
using corvane::test::FakeTransport;
using corvane::test::ScreeningRecorder;
using Control = ScreeningView::Control;

Q_DECLARE_METATYPE(corvane::HeaderRow)
Q_DECLARE_METATYPE(corvane::NetworkError::Reason)

namespace {

const ScreeningView::Controls kAllButContextMenu =
    Control::CheckButton | Control::ProcessButton | Control::DisconnectButton |
    Control::OptionsButton | Control::AutoModeButton | Control::MainMenus;
const ScreeningView::Controls kAll = kAllButContextMenu | Control::ContextMenu;

QByteArray header(const QByteArray &subject, const QByteArray &from, const QByteArray &extra = {}) {
    return "+OK\r\nSubject: " + subject + "\r\nFrom: " + from +
           "\r\nTo: alice@example.net\r\nDate: Tue, 3 Jun 2003 10:00:00 +0000\r\n" + extra +
           "\r\n.\r\n";
}

const QByteArray kLogin = "+OK ready\r\n+OK\r\n+OK\r\n";

// A session on a scripted transport, with an account store holding Home and Work.
struct Fixture {
    QTemporaryDir dir;
    std::unique_ptr<AccountStore> store;
    RuleLists lists;
    ScreeningRecorder view;
    FakeTransport t;
    std::unique_ptr<MailboxSession> session;

    explicit Fixture(const QString &homePort = u"110"_s) {
        store = std::make_unique<AccountStore>(dir.filePath(u"accounts.dat"_s));
        store->insert({u"Home"_s, u"pop.home.example"_s, homePort, u"alice"_s, u"pw1"_s,
                       u"alice@home.example"_s});
        store->insert(
            {u"Work"_s, u"pop.work.example"_s, u"995"_s, u"al"_s, u"pw2"_s, u"al@work.example"_s});
        lists.SubjectBlack.clear();
        lists.Misc.setAll(false);
        lists.Misc.setTicked(4, true); // the spam score
        lists.Friendly.add(u"friend@example.net"_s, {u"a friend"_s});
        session = std::make_unique<MailboxSession>(t, store.get(), lists, view);
    }
};

template <typename F> QString errorOf(F &&f) {
    try {
        f();
    } catch (const Error &e) {
        return e.message();
    }
    return {};
}

} // namespace

class TestMailboxSession final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void checkAndScan();
    void emptyMailbox_data();
    void emptyMailbox();
    void connectionFails_data();
    void connectionFails();
    void tagWithoutAccount();
    void oauthAccount();
    void portNotANumber_data();
    void portNotANumber();
    void checkAnotherAccountQuitsFirst();
    void connectionDropsDuringScan();
    void damagedHeaderIsStillListed();
    void oneMessageDoesNotStopTheScan_data();
    void oneMessageDoesNotStopTheScan();
    void viewerFetches_data();
    void viewerFetches();
    void hugeMessageCount();
    void disconnect();
    void disconnectWithoutReset();
    void disconnectWhenIdle();
};

void TestMailboxSession::checkAndScan() {
    Fixture f;
    f.t.reply("+OK ready\r\n")
        .expect("USER alice")
        .reply("+OK\r\n")
        .expect("PASS pw1")
        .reply("+OK\r\n")
        .expect("STAT")
        .reply("+OK 3 2100\r\n")
        .expect("LIST")
        .reply("+OK\r\n1 700\r\n2 700\r\n3 700\r\n.\r\n")
        .expect("CAPA") // a server that does not know it: one command at a time
        .reply("-ERR Unknown command.\r\n")
        .expect("TOP 1 0")
        .reply(header("Lunch", "Friend <friend@example.net>", "X-Spam-Score: 9.0\r\n"))
        .expect("LIST 1")
        .reply("+OK 1 700\r\n")
        .expect("TOP 2 0")
        .reply(header("Win big", "promo@spam.example", "X-Spam-Score: 3.0\r\n"))
        .expect("LIST 2")
        .reply("+OK 2 701\r\n")
        .expect("TOP 3 0")
        .reply(header("Minutes", "Bob <bob@example.net>"))
        .expect("LIST 3")
        .reply("+OK 3\r\n");

    f.session->CheckAccount(0);

    f.t.verifyScriptDone();
    QCOMPARE(f.t.host(), u"pop.home.example"_s);
    QCOMPARE(f.t.port(), quint16(110));
    const QString date = MailboxSession::dateText(QDateTime({2003, 6, 3}, {10, 0}, Qt::UTC));
    const QList<HeaderRow> expected{
        {u"Lunch"_s, u"Friend <friend@example.net>"_s, u"alice@example.net"_s, date, u"700"_s,
         u"n/a"_s, RowMark::Friendly, -1, u"friendly list"_s},
        {u"Win big"_s, u"promo@spam.example"_s, u"alice@example.net"_s, date, u"701"_s, u"n/a"_s,
         RowMark::Spam, -1, u"rule 4"_s},
        {u"Minutes"_s, u"Bob <bob@example.net>"_s, u"alice@example.net"_s, date, u"3"_s, u"n/a"_s,
         RowMark::Plain},
    };
    QCOMPARE(f.session->rows(), expected);
    QCOMPARE(f.view.statusTexts,
             (QStringList{u"Connecting...."_s, u"Connected"_s, u"Message 1 of 3"_s,
                          u"Message 2 of 3"_s, u"Message 3 of 3"_s, u"Connected"_s}));
    QCOMPARE(f.session->MessageCount, 3);
    QCOMPARE(f.session->MailboxSizeK, 2);
    QCOMPARE(f.view.panel0, u"No message selected"_s);
    QCOMPARE(f.view.panel2, u"3"_s);
    QCOMPARE(f.view.panel3, u"Mail takes up 2K on the server"_s);
    QCOMPARE(f.view.serverName, u"pop.home.example"_s);
    QCOMPARE(f.view.enabled, kAll);
    QVERIFY(f.view.connected);
    QVERIFY(!f.view.busy);
    QVERIFY(f.session->POP().IsOpen());
    QCOMPARE(f.store->currentRow(), 1); // the lookup walked to the end
}

void TestMailboxSession::emptyMailbox_data() {
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QString>("size");

    QTest::newRow("1023 bytes") << QByteArray("+OK\r\n1 1023\r\n.\r\n")
                                << u"Mail takes up 0K on the server"_s;
    QTest::newRow("2048 bytes") << QByteArray("+OK\r\n1 2048\r\n.\r\n")
                                << u"Mail takes up 2K on the server"_s;
    QTest::newRow("LIST refused") << QByteArray("-ERR no\r\n")
                                  << u"Mail takes up 0K on the server"_s;
}

void TestMailboxSession::emptyMailbox() {
    QFETCH(QByteArray, list);
    QFETCH(QString, size);

    Fixture f;
    f.t.serverSays(kLogin + "+OK 0 0\r\n" + list);
    f.session->CheckAccount(0);
    QCOMPARE(f.t.takeWritten(), QByteArray("USER alice\r\nPASS pw1\r\nSTAT\r\nLIST\r\n"));
    QCOMPARE(f.view.panel1, u"No messages found"_s);
    QCOMPARE(f.view.panel2, u"0"_s);
    QCOMPARE(f.view.panel3, size);
    QVERIFY(f.session->rows().isEmpty());
    // Only Disconnect is available until the user disconnects.
    QCOMPARE(f.view.enabled, ScreeningView::Controls(Control::DisconnectButton));
    QVERIFY(f.view.connected);
    QVERIFY(!f.view.busy);
}

void TestMailboxSession::connectionFails_data() {
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<corvane::NetworkError::Reason>("reason");
    QTest::addColumn<QByteArray>("server");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QString>("message"); // what failed, a line break, then why

    const QString connect = u"Could not connect with \"pop.home.example\".\n"_s;
    const QString login = u"Could not log in to \"pop.home.example\": the server refused the "
                          u"user name or password.\n"_s;
    using Reason = corvane::NetworkError::Reason;
    QTest::newRow("unknown host")
        << u"Socket Error # 11001\r\nHost not found."_s << Reason::HostNotFound << QByteArray()
        << QByteArray()
        << connect + u"The server name pop.home.example was not found: check its spelling and "
                     u"your internet connection."_s;
    QTest::newRow("refused")
        << u"Socket Error # 10061\r\nConnection refused."_s << Reason::Refused << QByteArray()
        << QByteArray()
        << connect + u"Nothing answered on port 110 of pop.home.example: the port may be wrong, "
                     u"or the mail service is down."_s;
    QTest::newRow("time-out")
        << u"Socket Error # 10060\r\nConnection timed out."_s << Reason::TimedOut << QByteArray()
        << QByteArray()
        << connect + u"pop.home.example did not answer in time: it may be down, or a firewall "
                     u"may block port 110."_s;
    // The system's text gets its full stop.
    QTest::newRow("certificate")
        << u"The secure connection to pop.home.example could not be established: The "
           u"certificate is self-signed, and untrusted"_s
        << Reason::Tls << QByteArray() << QByteArray()
        << connect + u"The secure connection to pop.home.example could not be established: The "
                     u"certificate is self-signed, and untrusted."_s;
    QTest::newRow("wrong password")
        << QString() << Reason::Other << QByteArray("+OK\r\n+OK\r\n-ERR bad login\r\n")
        << QByteArray("USER alice\r\nPASS pw1\r\nQUIT\r\n")
        << login + u"The server answered: bad login."_s;
    QTest::newRow("unknown user") << QString() << Reason::Other
                                  << QByteArray("+OK\r\n-ERR no such user.\r\n")
                                  << QByteArray("USER alice\r\nQUIT\r\n")
                                  << login + u"The server answered: no such user."_s;
    QTest::newRow("login refused with a bare -ERR")
        << QString() << Reason::Other << QByteArray("+OK\r\n+OK\r\n-ERR\r\n")
        << QByteArray("USER alice\r\nPASS pw1\r\nQUIT\r\n")
        << login + u"The server answered: -ERR."_s;
    QTest::newRow("refused greeting")
        << QString() << Reason::Other << QByteArray("-ERR too many connections\r\n")
        << QByteArray("QUIT\r\n") << connect + u"The server answered: too many connections."_s;
}

void TestMailboxSession::connectionFails() {
    QFETCH(QString, refusal);
    QFETCH(corvane::NetworkError::Reason, reason);
    QFETCH(QByteArray, server);
    QFETCH(QByteArray, written);
    QFETCH(QString, message);

    Fixture f;
    // The rows of an account checked before go when the next check cannot connect.
    f.t.serverSays(kLogin + "+OK 1 10\r\n+OK\r\n1 10\r\n.\r\n" + header("One", "a@b.example") +
                   "+OK 1 10\r\n");
    f.session->CheckAccount(0);
    QCOMPARE(f.session->rows().size(), 1);
    f.t.takeWritten();
    if (!refusal.isEmpty())
        f.t.refuseConnection(refusal, reason);
    f.t.serverSays(server);
    QCOMPARE(errorOf([&] { f.session->CheckAccount(0); }), message);
    QCOMPARE(f.t.takeWritten(), QByteArray("QUIT\r\n") + written);
    QVERIFY(f.session->rows().isEmpty());
    QCOMPARE(f.view.panel1, u"Not connected"_s);
    QCOMPARE(f.view.serverName, u"Idle..."_s);
    QCOMPARE(f.view.enabled, kAllButContextMenu);
    QVERIFY(!f.view.connected);
    QVERIFY(!f.view.busy);
    QCOMPARE(f.session->CurrentAccount.Host, u"pop.home.example"_s);
    QVERIFY(!f.session->POP().IsOpen());
}

void TestMailboxSession::tagWithoutAccount() {
    Fixture f;
    // Before any account was chosen the connection data is empty: the port is no number.
    QVERIFY_THROWS_EXCEPTION(corvane::DataError, f.session->CheckAccount(2));
    QCOMPARE(f.t.connectCount(), 0);

    // Afterwards a tag without a row connects with the account chosen before.
    f.t.serverSays(kLogin + "+OK 0 0\r\n+OK\r\n.\r\n");
    f.session->CheckAccount(1);
    f.session->DisconnectExecute();
    f.t.serverSays(kLogin + "+OK 0 0\r\n+OK\r\n.\r\n");
    f.session->CheckAccount(7);
    QCOMPARE(f.t.connectCount(), 2);
    QCOMPARE(f.t.host(), u"pop.work.example"_s);
    QCOMPARE(f.t.port(), quint16(995));
}

// An account that signs in with OAuth logs in with the stored access token; without the
// program's tokens, or without a grant, it fails before anything is sent, with the commands
// back.
void TestMailboxSession::oauthAccount() {
    qputenv("CORVANE_NO_KEYCHAIN", "1");
    Fixture f;
    Account token{u"Token"_s, u"pop.token.example"_s, u"995"_s, u"tom"_s,
                  QString(),  u"tom@token.example"_s};
    token.AuthMethod = u"oauth:corp"_s;
    f.store->insert(token);

    QVERIFY2(errorOf([&] { f.session->CheckAccount(2); }).contains(u"signs in with OAuth"_s),
             "no tokens");
    QCOMPARE(f.t.connectCount(), 0);
    QCOMPARE(f.view.enabled, kAll);

    corvane::OAuthProvider corp;
    corp.id = u"corp"_s;
    corp.name = u"Corp"_s;
    corp.clientId = u"c"_s;
    corp.tokenUrl = QUrl(u"http://127.0.0.1:1/token"_s); // never asked: the token is valid
    corp.authorizeUrl = QUrl(u"http://127.0.0.1:1/authorize"_s);
    corvane::OAuthTokens tokens(corvane::SecretStore(f.dir.path()), {corp});
    f.session->setOAuthTokens(&tokens);

    // No grant yet: the login stops at the token, the connection is closed.
    f.t.serverSays("+OK ready\r\n+OK\r\nSASL OAUTHBEARER\r\n.\r\n");
    try {
        f.session->CheckAccount(2);
        QFAIL("checked without a grant");
    } catch (const corvane::SignInRequiredError &e) {
        QVERIFY2(e.message().startsWith(u"Could not log in to \"pop.token.example\""_s),
                 qPrintable(e.message()));
    }
    QVERIFY(!f.t.isOpen());
    QVERIFY(!f.t.takeWritten().contains("AUTH"));

    tokens.storeGrant(u"corp"_s, u"tom"_s,
                      {u"rt"_s, u"at-valid"_s, QDateTime::currentDateTimeUtc().addSecs(3600)});
    f.t.serverSays("+OK ready\r\n+OK\r\nSASL OAUTHBEARER\r\n.\r\n+OK in\r\n+OK 0 0\r\n"
                   "+OK\r\n.\r\n");
    f.session->CheckAccount(2);
    const QByteArray written = f.t.takeWritten();
    QVERIFY2(written.contains("AUTH OAUTHBEARER " +
                              QByteArray("n,a=tom,\x01host=pop.token.example\x01port=995\x01"
                                         "auth=Bearer at-valid\x01\x01")
                                  .toBase64()),
             written.constData());
    QVERIFY(!written.contains("USER"));
}

void TestMailboxSession::portNotANumber_data() {
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("valid");

    QTest::newRow("letters") << u"pop"_s << false;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("zero") << u"0"_s << false;
    QTest::newRow("too large") << u"70000"_s << false;
    QTest::newRow("negative") << u"-110"_s << false;
    QTest::newRow("blanks around") << u" 1110 "_s << true;
}

void TestMailboxSession::portNotANumber() {
    QFETCH(QString, port);
    QFETCH(bool, valid);

    Fixture f(port);
    f.t.serverSays(kLogin + "+OK 0 0\r\n+OK\r\n.\r\n");
    const QString error = errorOf([&] { f.session->CheckAccount(0); });
    if (valid) {
        QCOMPARE(f.t.port(), quint16(1110));
        return;
    }
    QVERIFY2(error.contains(u"\"%1\""_s.arg(port)), qPrintable(error));
    QCOMPARE(f.t.connectCount(), 0);
    // Reported before anything changed: no command was disabled, nothing is busy.
    QCOMPARE(f.view.enabled, kAll);
    QVERIFY(f.view.statusTexts.isEmpty());
    QVERIFY(!f.view.busy);
}

void TestMailboxSession::checkAnotherAccountQuitsFirst() {
    Fixture f;
    f.t.serverSays(kLogin + "+OK 1 10\r\n+OK\r\n1 10\r\n.\r\n" + header("One", "a@b.example") +
                   "+OK 1 10\r\n");
    f.session->CheckAccount(0);
    QCOMPARE(f.session->rows().size(), 1);
    f.t.takeWritten();

    // The second account cannot be reached: the first connection has been closed with QUIT
    // (no RSET), and its rows, which belonged to it, are gone.
    f.t.refuseConnection(u"Socket Error # 10061\r\nConnection refused."_s);
    QVERIFY_THROWS_EXCEPTION(corvane::NetworkError, f.session->CheckAccount(1));
    QCOMPARE(f.t.takeWritten(), QByteArray("QUIT\r\n"));
    QVERIFY(f.session->rows().isEmpty());
    QCOMPARE(f.session->CurrentAccount.Host, u"pop.work.example"_s);
}

void TestMailboxSession::connectionDropsDuringScan() {
    Fixture f;
    f.t.serverSays(kLogin + "+OK 3 30\r\n+OK\r\n.\r\n+OK\r\nPIPELINING\r\n.\r\n" +
                   header("One", "a@b.example") + "+OK 1 10\r\n+OK\r\nSubject: Tw");
    QCOMPARE(errorOf([&] { f.session->CheckAccount(0); }), u"Connection Closed Gracefully."_s);
    QCOMPARE(f.session->rows().size(), 1);
    QCOMPARE(f.session->rows().constFirst().Subject, u"One"_s);
    // The user can act again; the broken connection shows as ended.
    QCOMPARE(f.view.enabled, kAll);
    QVERIFY(!f.view.connected);
    QCOMPARE(f.view.serverName, u"Idle..."_s);
    QVERIFY(!f.view.busy);
}

void TestMailboxSession::damagedHeaderIsStillListed() {
    // A sender the address parser rejects must not stop the screening of the other messages.
    Fixture f;
    f.t.serverSays(kLogin + "+OK 2 20\r\n+OK\r\n.\r\n-ERR Unknown command.\r\n" +
                   header("Bad", "Evil <evil@spam.example>@x", "X-Spam-Score: 7.0\r\n") +
                   "+OK 1 10\r\n" + header("Good", "a@b.example") + "+OK 2 10\r\n");
    f.session->CheckAccount(0);
    QCOMPARE(f.session->rows().size(), 2);
    QCOMPARE(f.session->rows().at(0).Subject, u"Bad"_s);
    QCOMPARE(f.session->rows().at(0).Mark, RowMark::Spam);
    QCOMPARE(f.session->rows().at(1).Subject, u"Good"_s);
    QVERIFY(f.session->POP().IsOpen());
}

void TestMailboxSession::oneMessageDoesNotStopTheScan_data() {
    QTest::addColumn<QByteArray>("second"); // the replies to TOP 2 0 and LIST 2
    QTest::addColumn<HeaderRow>("row");

    const QString date = MailboxSession::dateText(QDateTime({2003, 6, 3}, {10, 0}, Qt::UTC));
    // A header that was refused has no date: none is shown (not the zero date).
    const QString noDate;
    const QByteArray longSubject = "Cheap " + QByteArray(20000, 'x');
    QTest::newRow("over-long header line")
        << header(longSubject, "promo@spam.example", "X-Spam-Score: 9.0\r\n") + "+OK 2 20100\r\n"
        << HeaderRow{QString::fromLatin1(longSubject.left(corvane::Transport::MaxLineLength - 9)),
                     u"promo@spam.example"_s,
                     u"alice@example.net"_s,
                     date,
                     u"20100"_s,
                     u"n/a"_s,
                     RowMark::Spam,
                     -1,
                     u"rule 4"_s};
    QTest::newRow("TOP refused") << QByteArray("-ERR message 2 is locked\r\n+OK 2 700\r\n")
                                 << HeaderRow{u"(header not available: message 2 is locked)"_s,
                                              QString(),
                                              QString(),
                                              noDate,
                                              u"700"_s,
                                              u"n/a"_s,
                                              RowMark::Plain};
    QTest::newRow("LIST refused") << header("Two", "b@example.net") + "-ERR no such message\r\n"
                                  << HeaderRow{
                                         u"Two"_s, u"b@example.net"_s, u"alice@example.net"_s, date,
                                         u"-1"_s,  u"n/a"_s,           RowMark::Plain};
    QTest::newRow("both refused") << QByteArray("-ERR gone\r\n-ERR gone\r\n")
                                  << HeaderRow{u"(header not available: gone)"_s,
                                               QString(),
                                               QString(),
                                               noDate,
                                               u"-1"_s,
                                               u"n/a"_s,
                                               RowMark::Plain};
}

void TestMailboxSession::oneMessageDoesNotStopTheScan() {
    // Message 2 of 3 is listed with what is known, and the scan goes on in step: message 3
    // gets its own replies.
    QFETCH(QByteArray, second);
    QFETCH(HeaderRow, row);

    Fixture f;
    f.t.setChunkSize(4096);
    // The server takes the scan's commands ahead of their replies.
    f.t.serverSays(kLogin + "+OK 3 2100\r\n+OK\r\n.\r\n+OK\r\nPIPELINING\r\n.\r\n" +
                   header("One", "a@b.example") + "+OK 1 10\r\n" + second +
                   header("Three", "c@d.example") + "+OK 3 30\r\n");
    f.session->CheckAccount(0);
    QCOMPARE(f.t.takeWritten(), QByteArray("USER alice\r\nPASS pw1\r\nSTAT\r\nLIST\r\nCAPA\r\n"
                                           "TOP 1 0\r\nLIST 1\r\nTOP 2 0\r\nLIST 2\r\n"
                                           "TOP 3 0\r\nLIST 3\r\n"));
    QCOMPARE(f.t.unread(), 0);
    QCOMPARE(f.session->rows().size(), 3);
    QCOMPARE(f.session->rows().at(0).Subject, u"One"_s);
    QCOMPARE(f.session->rows().at(1), row);
    QCOMPARE(f.session->rows().at(2).Subject, u"Three"_s);
    QCOMPARE(f.session->rows().at(2).Size, u"30"_s);
    QVERIFY(f.session->POP().IsOpen());
    QCOMPARE(f.view.enabled, kAll);
    QCOMPARE(f.view.panel1, u"Connected"_s);
}

void TestMailboxSession::hugeMessageCount() {
    // A server that claims two billion messages gets no more rows than the program lists;
    // the rows come one by one as their headers arrive.
    Fixture f;
    f.t.serverSays(kLogin + "+OK 2000000000 0\r\n-ERR no listing\r\n-ERR no CAPA\r\n" +
                   header("One", "a@b.example") + "+OK 1 10\r\n" + header("Two", "a@b.example") +
                   "+OK 2 10\r\n");
    QCOMPARE(errorOf([&] { f.session->CheckAccount(0); }), u"Connection Closed Gracefully."_s);
    QCOMPARE(f.session->MessageCount, MailboxSession::MaxListedMessages);
    QCOMPARE(f.view.panel2, QString::number(MailboxSession::MaxListedMessages));
    QVERIFY(f.view.statusTexts.contains(
        u"The server reports 2000000000 messages; only the first 100000 are listed."_s));
    QVERIFY(f.view.statusTexts.contains(u"Message 1 of 100000"_s));
    QCOMPARE(f.session->rows().size(), 2);
}

void TestMailboxSession::disconnect() {
    Fixture f;
    f.t.serverSays(kLogin + "+OK 1 10\r\n+OK\r\n.\r\n" + header("One", "a@b.example") +
                   "+OK 1 10\r\n");
    f.session->CheckAccount(0);
    f.t.takeWritten();
    // The reply to QUIT is not waited for.
    f.t.expect("RSET").reply("+OK\r\n").expect("QUIT");
    f.session->DisconnectExecute();
    f.t.verifyScriptDone();
    QVERIFY(!f.session->POP().IsOpen());
    QVERIFY(f.session->rows().isEmpty());
    QCOMPARE(f.view.serverName, u"Idle..."_s);
    QCOMPARE(f.view.panel0, QString());
    QCOMPARE(f.view.panel1, QString());
    QCOMPARE(f.view.panel2, QString());
    QCOMPARE(f.view.panel3, QString());
    QVERIFY(!f.view.connected);
    QVERIFY(f.view.timersStopped);
    QCOMPARE(f.view.enabled, kAll);
    QVERIFY(!f.view.busy);
}

void TestMailboxSession::disconnectWithoutReset() {
    // Without a confirmed RSET a QUIT would apply deletions made over the connection; the
    // connection is dropped instead, which makes the server discard them.
    Fixture f;
    f.t.serverSays(kLogin + "+OK 0 0\r\n+OK\r\n.\r\n");
    f.session->CheckAccount(0);
    f.t.takeWritten();
    f.t.serverSays("-ERR unknown command\r\n");
    f.session->DisconnectExecute();
    QCOMPARE(f.t.takeWritten(), QByteArray("RSET\r\n"));
    QVERIFY(!f.session->POP().IsOpen());
    QVERIFY(f.view.statusTexts.contains(u"Your POP server doesn't have Reset feature"_s));
    QCOMPARE(f.view.panel1, u"Your POP server doesn't have Reset feature"_s);
    QCOMPARE(f.view.serverName, u"Idle..."_s);
}

void TestMailboxSession::disconnectWhenIdle() {
    Fixture f;
    f.view.enabled = {};
    f.session->DisconnectExecute();
    QCOMPARE(f.t.takeWritten(), QByteArray());
    QVERIFY(f.view.timersStopped);
    QCOMPARE(f.view.serverName, u"Idle..."_s);
    QCOMPARE(f.view.enabled, kAllButContextMenu);
}

void TestMailboxSession::viewerFetches_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("error");   // empty: shown
    QTest::addColumn<int>("headerLines"); // of the header fetch
    QTest::addColumn<bool>("openAfter");

    QTest::newRow("whole") << QByteArray(
                                  "+OK\r\nSubject: Hi\r\nFrom: a@b.example\r\n\r\nbody\r\n.\r\n")
                           << QString() << 2 << true;
    QTest::newRow("rejected sender, shown as far as read")
        << QByteArray("+OK\r\nSubject: Hi\r\nFrom: Loan <x@spam.biz>@a\r\n\r\nbody\r\n.\r\n")
        << QString() << 2 << true;
    QTest::newRow("refused") << QByteArray("-ERR no such message\r\n")
                             << u"The server would not send message 1, so it cannot be shown."_s
                             << -1 << true;
    QTest::newRow("dropped") << QByteArray("+OK\r\nSubject: Hi\r\n")
                             << u"Connection Closed Gracefully."_s << -1 << false;
}

void TestMailboxSession::viewerFetches() {
    QFETCH(QByteArray, reply);
    QFETCH(QString, error);
    QFETCH(int, headerLines);
    QFETCH(bool, openAfter);

    for (const bool headersOnly : {false, true}) {
        Fixture f;
        f.t.serverSays(kLogin + "+OK 1 10\r\n+OK\r\n1 10\r\n.\r\n" + header("One", "a@b.example") +
                       "+OK 1 10\r\n" + reply);
        f.session->CheckAccount(0);
        f.t.takeWritten();
        QList<QByteArray> lines;
        const QString actual = errorOf([&] {
            if (headersOnly)
                lines = f.session->FetchHeaderLines(1);
            else
                f.session->FetchMessageForViewing(1);
        });
        QCOMPARE(f.t.takeWritten(), QByteArray(headersOnly ? "TOP 1 0\r\n" : "RETR 1\r\n"));
        QCOMPARE(f.session->POP().IsOpen(), openAfter);
        if (headersOnly && headerLines < 0) {
            // A refused TOP is the server's own words.
            QVERIFY(!actual.isEmpty());
            continue;
        }
        QCOMPARE(actual, error);
        if (error.isEmpty()) {
            QCOMPARE(f.session->Msg().Subject, u"Hi"_s);
            if (headersOnly)
                QCOMPARE(lines.size(), headerLines);
        }
    }
}

QTEST_GUILESS_MAIN(TestMailboxSession)
#include "tst_mailboxsession.moc"
