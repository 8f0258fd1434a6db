// Which messages may get a delivery-failure notice: never a null or daemon sender, an
// automatic message or list mail; decided on the header lines as fetched.

#include "core/protocol/mailmessage.h"
#include "core/screening/bouncepolicy.h"

#include <QTest>

using namespace Qt::StringLiterals;
using corvane::BouncePolicy;
using corvane::MailMessage;

namespace {

MailMessage headerOf(const QList<QByteArray> &extra) {
    MailMessage m;
    m.HeaderLines = {"From: Sender <sender@example.com>", "To: me@example.net",
                     "Subject: Cheap pills"};
    m.HeaderLines += extra;
    return m;
}

} // namespace

class TestBouncePolicy final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void decides_data();
    void decides();
    void daemonAddress_data();
    void daemonAddress();
};

void TestBouncePolicy::decides_data() {
    QTest::addColumn<QList<QByteArray>>("extra");
    QTest::addColumn<QString>("address");
    // Empty: the notice may be sent; otherwise a piece of the reason.
    QTest::addColumn<QString>("reason");

    const QString sender = u"sender@example.com"_s;
    QTest::newRow("ordinary mail") << QList<QByteArray>{} << sender << QString();
    QTest::newRow("ordinary return path")
        << QList<QByteArray>{"Return-Path: <sender@example.com>"} << sender << QString();
    QTest::newRow("null return path")
        << QList<QByteArray>{"Return-Path: <>"} << sender << u"Return-Path is empty"_s;
    QTest::newRow("null return path with blanks and a comment")
        << QList<QByteArray>{"Return-Path: < > (bounce)"} << sender << u"Return-Path is empty"_s;
    QTest::newRow("only the first return path counts")
        << QList<QByteArray>{"Return-Path: <>", "Return-Path: <sender@example.com>"} << sender
        << u"Return-Path is empty"_s;
    QTest::newRow("daemon return path")
        << QList<QByteArray>{"Return-Path: <MAILER-DAEMON@mx.example.com>"} << sender
        << u"Return-Path is a mailer daemon's (MAILER-DAEMON@mx.example.com)"_s;
    QTest::newRow("daemon sender")
        << QList<QByteArray>{} << u"postmaster@example.com"_s << u"sender is a mailer daemon"_s;
    QTest::newRow("no sender address")
        << QList<QByteArray>{} << QString() << u"no sender address"_s;
    QTest::newRow("auto-generated") << QList<QByteArray>{"Auto-Submitted: auto-generated"} << sender
                                    << u"sent automatically (Auto-Submitted: auto-generated)"_s;
    QTest::newRow("auto-replied with a comment, any case")
        << QList<QByteArray>{"auto-submitted: Auto-Replied (vacation)"} << sender
        << u"sent automatically"_s;
    QTest::newRow("auto-submitted no")
        << QList<QByteArray>{"Auto-Submitted: no"} << sender << QString();
    QTest::newRow("auto-submitted No with a comment")
        << QList<QByteArray>{"Auto-Submitted: No (typed by a person)"} << sender << QString();
    QTest::newRow("auto-submitted folded")
        << QList<QByteArray>{"Auto-Submitted:", " auto-notified; owner-email=\"a@b.example\""}
        << sender << u"sent automatically"_s;
    QTest::newRow("list id") << QList<QByteArray>{"List-Id: Cheap <cheap.lists.example>"} << sender
                             << u"list mail (List-Id)"_s;
    QTest::newRow("list unsubscribe")
        << QList<QByteArray>{"List-Unsubscribe: <mailto:leave@lists.example>"} << sender
        << u"list mail (List-Unsubscribe)"_s;
    QTest::newRow("precedence bulk")
        << QList<QByteArray>{"Precedence: bulk"} << sender << u"(Precedence: bulk)"_s;
    QTest::newRow("precedence list")
        << QList<QByteArray>{"Precedence: LIST"} << sender << u"(Precedence: LIST)"_s;
    QTest::newRow("precedence junk")
        << QList<QByteArray>{"Precedence: junk"} << sender << u"(Precedence: junk)"_s;
    QTest::newRow("precedence first-class")
        << QList<QByteArray>{"Precedence: first-class"} << sender << QString();
    QTest::newRow("a header value is no header")
        << QList<QByteArray>{"X-Note: List-Id: none", "Subject2: Precedence: bulk"} << sender
        << QString();
    QTest::newRow("a quoted value is made safe and cut")
        << QList<QByteArray>{"Auto-Submitted: auto-generated\x1b[31m" + QByteArray(200, 'x')}
        << sender << u"auto-generated?[31mxxx"_s;
}

void TestBouncePolicy::decides() {
    QFETCH(QList<QByteArray>, extra);
    QFETCH(QString, address);
    QFETCH(QString, reason);
    const QString got = BouncePolicy::reasonNotToBounce(headerOf(extra), address);
    if (reason.isEmpty()) {
        QVERIFY2(got.isEmpty(), qPrintable(got));
        return;
    }
    QVERIFY2(got.contains(reason), qPrintable(got));
    QVERIFY2(got.size() < 160, qPrintable(got));
}

void TestBouncePolicy::daemonAddress_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("daemon");

    QTest::newRow("MAILER-DAEMON") << u"MAILER-DAEMON@mx.example"_s << true;
    QTest::newRow("mailer-daemon bare") << u"mailer-daemon"_s << true;
    QTest::newRow("postmaster") << u"Postmaster@example.com"_s << true;
    QTest::newRow("listserv") << u"LISTSERV@lists.example"_s << true;
    QTest::newRow("majordomo") << u"majordomo@lists.example"_s << true;
    QTest::newRow("owner-") << u"owner-cheap@lists.example"_s << true;
    QTest::newRow("-request") << u"cheap-request@lists.example"_s << true;
    QTest::newRow("quoted local part") << u"\"mailer-daemon\"@mx.example"_s << true;
    QTest::newRow("a person") << u"ann@example.org"_s << false;
    QTest::newRow("a name that only contains one") << u"postmasters-friend@example.org"_s << false;
    QTest::newRow("a domain named like one") << u"ann@mailer-daemon.example"_s << false;
}

void TestBouncePolicy::daemonAddress() {
    QFETCH(QString, address);
    QFETCH(bool, daemon);
    QCOMPARE(BouncePolicy::isDaemonAddress(address), daemon);
}

QTEST_GUILESS_MAIN(TestBouncePolicy)
#include "tst_bouncepolicy.moc"
