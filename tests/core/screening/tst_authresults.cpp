// Authentication-Results fields as servers write them and as forgers write them: the parser
// (comments, quoted strings, versions, several results, properties) and the decision whether a
// friendly sender was authenticated by the trusted server.

#include "core/screening/authresults.h"
#include "core/screening/classify.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace corvane;

class TestAuthResults final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parses_data();
    void parses();
    void decides_data();
    void decides();
    void proposesTopmostId();
    void fieldsOfAHeader();
    void unauthenticatedFriend_data();
    void unauthenticatedFriend();
};

void TestAuthResults::parses_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("id"); // empty: nothing readable
    // "method=result" per result, with the properties sorted, "|" between results.
    QTest::addColumn<QString>("results");

    QTest::newRow("plain") << u"mx.example.net; spf=pass smtp.mailfrom=a@b.example"_s
                           << u"mx.example.net"_s << u"spf=pass smtp.mailfrom=a@b.example"_s;
    QTest::newRow("version and several results")
        << u"mx.example.net 1; dkim=pass header.d=b.example header.s=sel; "
           u"spf=fail smtp.mailfrom=b.example; dmarc=fail (p=reject) header.from=b.example"_s
        << u"mx.example.net"_s
        << u"dkim=pass header.d=b.example header.s=sel|spf=fail smtp.mailfrom=b.example|"
           u"dmarc=fail header.from=b.example"_s;
    QTest::newRow("none") << u"mx.example.net; none"_s << u"mx.example.net"_s << QString();
    QTest::newRow("comments everywhere, nested, with a semicolon and an escape")
        << u"(first) mx.example.net (the (inner; one) \\) here) ; (c) spf (x) = (y) pass "
           u"(sender ok; really) smtp.mailfrom=b.example"_s
        << u"mx.example.net"_s << u"spf=pass smtp.mailfrom=b.example"_s;
    QTest::newRow("quoted id and quoted values")
        << u"\"mx; example\"; dkim=pass reason=\"good; signature (yes)\" header.i=\"@b.example\""_s
        << u"mx; example"_s << u"dkim=pass header.i=@b.example"_s;
    QTest::newRow("method version, mixed case")
        << u"MX.Example.NET; DKIM/1=PASS Header.D=B.example"_s << u"MX.Example.NET"_s
        << u"dkim=pass header.d=B.example"_s;
    QTest::newRow("an unreadable result is passed over")
        << u"mx.example.net; =pass; spf; dmarc=pass header.from=b.example"_s << u"mx.example.net"_s
        << u"dmarc=pass header.from=b.example"_s;
    QTest::newRow("numeric id is an id, not a version")
        << u"12345; spf=pass"_s << u"12345"_s << u"spf=pass"_s;
    QTest::newRow("empty") << u"  (only a comment) "_s << QString() << QString();
}

void TestAuthResults::parses() {
    QFETCH(QString, value);
    QFETCH(QString, id);
    QFETCH(QString, results);
    const std::optional<AuthenticationResults> parsed = parseAuthenticationResults(value);
    QCOMPARE(parsed.has_value(), !id.isEmpty());
    if (!parsed)
        return;
    QCOMPARE(parsed->authservId, id);
    QStringList shown;
    for (const AuthResult &r : parsed->results) {
        QStringList parts{r.method + u'=' + r.result};
        QStringList properties;
        for (auto p = r.properties.cbegin(); p != r.properties.cend(); ++p)
            properties << p.key() + u'=' + p.value();
        properties.sort();
        parts += properties;
        shown << parts.join(u' ');
    }
    QCOMPARE(shown.join(u'|'), results);
}

void TestAuthResults::decides_data() {
    QTest::addColumn<QStringList>("fields"); // topmost first
    QTest::addColumn<bool>("authenticated");

    QTest::newRow("all pass")
        << QStringList{u"mx.example.net; spf=pass smtp.mailfrom=friend.example; dkim=pass header.d=friend.example; dmarc=pass"_s}
        << true;
    QTest::newRow("dmarc fail")
        << QStringList{u"mx.example.net; dkim=pass header.d=friend.example; dmarc=fail header.from=friend.example"_s}
        << false;
    QTest::newRow("spf fail, no dkim")
        << QStringList{u"mx.example.net; spf=fail smtp.mailfrom=friend.example"_s} << false;
    QTest::newRow("spf fail, dkim pass for the From domain")
        << QStringList{u"mx.example.net; spf=fail; dkim=pass header.d=Friend.Example"_s} << true;
    QTest::newRow("spf fail, dkim pass by header.i")
        << QStringList{u"mx.example.net; spf=fail; dkim=pass header.i=@friend.example"_s} << true;
    QTest::newRow("spf fail, dkim pass for another domain")
        << QStringList{u"mx.example.net; spf=fail; dkim=pass header.d=mailer.example"_s} << false;
    QTest::newRow("spf fail, dkim pass for a sub-domain of the From domain")
        << QStringList{u"mx.example.net; spf=fail; dkim=pass header.d=evil.friend.example"_s}
        << false;
    QTest::newRow("spf softfail is no fail")
        << QStringList{u"mx.example.net; spf=softfail smtp.mailfrom=friend.example"_s} << true;
    QTest::newRow("the fail is in a comment")
        << QStringList{u"mx.example.net; spf=pass (not dmarc=fail)"_s} << true;
    QTest::newRow("a pass forged with another id above")
        << QStringList{u"forger.example; dmarc=pass; spf=pass"_s,
                       u"mx.example.net; dmarc=fail header.from=friend.example"_s}
        << false;
    QTest::newRow("a forged pass with the trusted id below another field")
        << QStringList{u"mx.example.net; spf=pass"_s, u"relay.example; spf=pass"_s,
                       u"mx.example.net; dmarc=fail"_s}
        << true;
    QTest::newRow("a forged fail below is ignored, too")
        << QStringList{u"mx.example.net; dmarc=pass"_s, u"other.example; none"_s,
                       u"mx.example.net; dmarc=fail"_s}
        << true;
    QTest::newRow("the trusted server's fields together")
        << QStringList{u"mx.example.net; dkim=pass header.d=friend.example"_s,
                       u"MX.EXAMPLE.NET; spf=fail smtp.mailfrom=friend.example"_s}
        << true;
    QTest::newRow("the trusted server's second field says dmarc=fail")
        << QStringList{u"mx.example.net; spf=pass"_s, u"mx.example.net; dmarc=fail"_s} << false;
    // Nothing from the trusted server: the message did not pass through it, or it did not
    // check; a forger need only leave the field out.
    QTest::newRow("only other ids, saying pass")
        << QStringList{u"forger.example; spf=pass; dkim=pass header.d=friend.example; dmarc=pass"_s}
        << false;
    QTest::newRow("the id in quotes") << QStringList{u"\"mx.example.net\"; dmarc=fail"_s} << false;
    QTest::newRow("no field") << QStringList{} << false;
    QTest::newRow("the trusted server checked nothing")
        << QStringList{u"mx.example.net; none"_s} << false;
    QTest::newRow("the trusted server's field cannot be read")
        << QStringList{u"mx.example.net; spf"_s} << false;
    QTest::newRow("nothing checked on top, a forged pass below")
        << QStringList{u"mx.example.net; none"_s, u"relay.example; none"_s,
                       u"mx.example.net; dmarc=pass"_s}
        << false;
    QTest::newRow("the trusted field below a later hop's own")
        << QStringList{u"filter.example; none"_s,
                       u"mx.example.net; dkim=pass header.d=friend.example"_s}
        << true;
}

void TestAuthResults::decides() {
    QFETCH(QStringList, fields);
    QFETCH(bool, authenticated);
    QCOMPARE(senderAuthenticated(fields, u"mx.example.net"_s, u"friend.example"_s), authenticated);
}

void TestAuthResults::proposesTopmostId() {
    QCOMPARE(topmostAuthservId({u"(c) top.example; none"_s, u"lower.example; spf=pass"_s}),
             std::optional<QString>(u"top.example"_s));
    QCOMPARE(topmostAuthservId({u"  "_s, u"lower.example; spf=pass"_s}),
             std::optional<QString>(u"lower.example"_s));
    QCOMPARE(topmostAuthservId({}), std::nullopt);
}

void TestAuthResults::fieldsOfAHeader() {
    const QList<QByteArray> lines = {"Received: from a by b",
                                     "authentication-results: mx.example.net;",
                                     "\tspf=pass smtp.mailfrom=friend.example;",
                                     " dmarc=pass",
                                     "From: friend@friend.example",
                                     "Authentication-Results:other.example; none",
                                     "X-Authentication-Results: fake.example; dmarc=pass"};
    QCOMPARE(authenticationResultsFields(lines),
             (QList<QString>{u"mx.example.net; spf=pass smtp.mailfrom=friend.example; dmarc=pass"_s,
                             u"other.example; none"_s}));
}

// A friendly sender that was not authenticated gets the verdict of the other lists, the rules
// and the learner, and the reason says so first.
void TestAuthResults::unauthenticatedFriend_data() {
    QTest::addColumn<QString>("subject");
    QTest::addColumn<bool>("authentic");
    QTest::addColumn<double>("learned"); // < 0: not scored
    QTest::addColumn<int>("mark");
    QTest::addColumn<QString>("reason");
    const int friendly = int(RowMark::Friendly), spam = int(RowMark::Spam),
              plain = int(RowMark::Plain);
    QTest::newRow("authentic") << u"Sunday"_s << true << 0.99 << friendly << u"friendly list"_s;
    QTest::newRow("not authentic, nothing else")
        << u"Sunday"_s << false << -1.0 << plain << u"friendly sender not authenticated"_s;
    QTest::newRow("not authentic, subject black list")
        << u"Cheap watches"_s << false << -1.0 << spam
        << u"friendly sender not authenticated; subject black list"_s;
    QTest::newRow("not authentic, learned spam")
        << u"Sunday"_s << false << 0.97 << spam
        << u"friendly sender not authenticated; learned 0.97"_s;
    QTest::newRow("not authentic, learned ham")
        << u"Sunday"_s << false << 0.02 << plain
        << u"friendly sender not authenticated; learned 0.02"_s;
}

void TestAuthResults::unauthenticatedFriend() {
    QFETCH(QString, subject);
    QFETCH(bool, authentic);
    QFETCH(double, learned);
    RuleLists lists;
    lists.Misc.setAll(false);
    lists.Friendly.add(u"friend@friend.example"_s, {QString()});
    lists.SubjectBlack.clear();
    lists.SubjectBlack.add(u"cheap watches"_s, {QString()});
    Classifier classifier;
    const RuleVerdict rules = classifier.ClassifyWithReason(
        lists, subject, u"Friend <friend@friend.example>"_s, QString(), authentic);
    const RowVerdict verdict = combineVerdicts(
        rules, learned < 0 ? std::nullopt : std::optional<double>(learned), false, LearningCut{});
    QTEST(int(verdict.mark), "mark");
    QTEST(verdict.reason, "reason");
}

QTEST_GUILESS_MAIN(TestAuthResults)
#include "tst_authresults.moc"
