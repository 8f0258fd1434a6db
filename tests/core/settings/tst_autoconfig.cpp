// The mail settings document and the address it is read for: what is taken from a good
// document, and every way a hostile or broken one is refused.

#include "core/errors.h"
#include "core/settings/autoconfig.h"
#include "core/settings/foundsettings.h"

#include <QTest>

using namespace Qt::StringLiterals;
using corvane::AddressParts;
using corvane::ConnectionSecurity;
using corvane::FoundAccountSettings;
using corvane::MailServer;

namespace {

const QString kOrigin = u"https://autoconfig.example.org/mail/config-v1.1.xml"_s;

AddressParts address() {
    return *corvane::splitMailAddress(u"jane.doe@Example.ORG"_s);
}

// A document with the given provider body (domains, servers).
QByteArray document(const QByteArray &provider) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<clientConfig version=\"1.1\">\n"
           "<emailProvider id=\"example.org\">\n" +
           provider + "\n</emailProvider>\n</clientConfig>\n";
}

QByteArray server(const char *kind, const char *type, const QByteArray &host, int port,
                  const char *socketType, const QByteArray &user = "%EMAILADDRESS%",
                  const QByteArray &auth = "password-cleartext") {
    return "<" + QByteArray(kind) + " type=\"" + type + "\"><hostname>" + host +
           "</hostname><port>" + QByteArray::number(port) + "</port><socketType>" + socketType +
           "</socketType><username>" + user + "</username><authentication>" + auth +
           "</authentication></" + kind + ">\n";
}

QByteArray pop3(const QByteArray &host, int port, const char *socketType,
                const QByteArray &user = "%EMAILADDRESS%") {
    return server("incomingServer", "pop3", host, port, socketType, user);
}

} // namespace

class TestAutoconfig : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void addresses_data();
    void addresses();
    void readsServers_data();
    void readsServers();
    void imapOnlyIsNoAnswer();
    void otherDomains_data();
    void otherDomains();
    void refusesHostileDocuments_data();
    void refusesHostileDocuments();
};

void TestAutoconfig::addresses_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("domain"); // empty: refused

    QTest::newRow("plain") << u"a@example.org"_s << u"example.org"_s;
    QTest::newRow("upper case, blanks around")
        << u"  A.B@Mail.Example.ORG "_s << u"mail.example.org"_s;
    QTest::newRow("final dot") << u"a@example.org."_s << u"example.org"_s;
    QTest::newRow("international domain") << u"a@bücher.example"_s << u"xn--bcher-kva.example"_s;
    QTest::newRow("last @ counts") << u"\"a@b\"@example.org"_s << u"example.org"_s;
    QTest::newRow("no @") << u"example.org"_s << QString();
    QTest::newRow("no local part") << u"@example.org"_s << QString();
    QTest::newRow("single label") << u"a@localhost"_s << QString();
    QTest::newRow("blank inside") << u"a b@example.org"_s << QString();
    QTest::newRow("not a host name") << u"a@exa_mple.org"_s << QString();
    QTest::newRow("a path") << u"a@example.org/x"_s << QString();
}

void TestAutoconfig::addresses() {
    QFETCH(QString, address);
    QFETCH(QString, domain);
    const auto parts = corvane::splitMailAddress(address);
    if (domain.isEmpty()) {
        QVERIFY(!parts);
        return;
    }
    QVERIFY(parts);
    QCOMPARE(parts->domain, domain);
    QCOMPARE(parts->address, address.trimmed());
}

void TestAutoconfig::readsServers_data() {
    QTest::addColumn<QByteArray>("provider");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<ConnectionSecurity>("security");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("smtp"); // "host:port:security", empty when none

    const QByteArray smtp = server("outgoingServer", "smtp", "smtp.example.org", 587, "STARTTLS");
    QTest::newRow("TLS, with SMTP")
        << "<domain>example.org</domain>" + pop3("pop.example.org", 995, "SSL") + smtp
        << u"pop.example.org"_s << 995 << ConnectionSecurity::Tls << u"jane.doe@Example.ORG"_s
        << u"smtp.example.org:587:STLS"_s;
    QTest::newRow("encrypted one preferred over an earlier plain one")
        << pop3("pop.example.org", 110, "plain") + pop3("pop.example.org", 110, "STARTTLS")
        << u"pop.example.org"_s << 110 << ConnectionSecurity::StartTls << u"jane.doe@Example.ORG"_s
        << QString();
    QTest::newRow("only plain") << pop3("pop.example.org", 110, "plain") << u"pop.example.org"_s
                                << 110 << ConnectionSecurity::None << u"jane.doe@Example.ORG"_s
                                << QString();
    QTest::newRow("IMAP first, placeholders")
        << server("incomingServer", "imap", "imap.example.org", 993, "SSL") +
               pop3("pop.%EMAILDOMAIN%", 995, "SSL", "%EMAILLOCALPART%")
        << u"pop.example.org"_s << 995 << ConnectionSecurity::Tls << u"jane.doe"_s << QString();
    QTest::newRow("unknown security skipped")
        << pop3("old.example.org", 995, "SSLv2") + pop3("pop.example.org", 995, "SSL")
        << u"pop.example.org"_s << 995 << ConnectionSecurity::Tls << u"jane.doe@Example.ORG"_s
        << QString();
    QTest::newRow("no user name: the address")
        << pop3("POP.Example.org", 995, "SSL", "") << u"pop.example.org"_s << 995
        << ConnectionSecurity::Tls << u"jane.doe@Example.ORG"_s << QString();
}

void TestAutoconfig::readsServers() {
    QFETCH(QByteArray, provider);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(ConnectionSecurity, security);
    QFETCH(QString, user);
    QFETCH(QString, smtp);
    const auto found = corvane::parseAutoconfigDocument(document(provider), address(), kOrigin);
    QVERIFY(found);
    QCOMPARE(found->source, FoundAccountSettings::Source::Autoconfig);
    QCOMPARE(found->origin, kOrigin);
    QCOMPARE(found->incoming, (MailServer{host, quint16(port), security}));
    QCOMPARE(found->userName, user);
    QVERIFY(found->otherDomainHosts.isEmpty());
    QCOMPARE(found->unencrypted(), security == ConnectionSecurity::None);
    if (smtp.isEmpty()) {
        QVERIFY(!found->outgoing);
    } else {
        QVERIFY(found->outgoing);
        QCOMPARE(u"%1:%2:%3"_s.arg(found->outgoing->host)
                     .arg(found->outgoing->port)
                     .arg(corvane::securityName(found->outgoing->security)),
                 smtp);
    }
}

void TestAutoconfig::imapOnlyIsNoAnswer() {
    const QByteArray doc =
        document(server("incomingServer", "imap", "imap.example.org", 993, "SSL"));
    QVERIFY(!corvane::parseAutoconfigDocument(doc, address(), kOrigin));
}

void TestAutoconfig::otherDomains_data() {
    QTest::addColumn<QByteArray>("domains");
    QTest::addColumn<bool>("accepted");

    // Mail of a domain is often hosted by another: the document says it is for this domain.
    QTest::newRow("names this domain") << QByteArray("<domain>hoster.net</domain>"
                                                     "<domain>EXAMPLE.org</domain>")
                                       << true;
    QTest::newRow("names it by placeholder")
        << QByteArray("<domain>%EMAILDOMAIN%</domain>") << true;
    QTest::newRow("names only others") << QByteArray("<domain>hoster.net</domain>") << false;
    QTest::newRow("names none") << QByteArray() << false;
}

void TestAutoconfig::otherDomains() {
    QFETCH(QByteArray, domains);
    QFETCH(bool, accepted);
    const QByteArray doc =
        document(domains + pop3("pop.hoster.net", 995, "SSL") +
                 server("outgoingServer", "smtp", "smtp.example.org", 465, "SSL"));
    if (accepted) {
        const auto found = corvane::parseAutoconfigDocument(doc, address(), kOrigin);
        QVERIFY(found);
        QCOMPARE(found->otherDomainHosts, QStringList{u"pop.hoster.net"_s});
        return;
    }
    try {
        corvane::parseAutoconfigDocument(doc, address(), kOrigin);
        QFAIL("a document for other domains pointing elsewhere was accepted");
    } catch (const corvane::DataError &e) {
        QVERIFY2(e.message().contains(u"pop.hoster.net"_s) &&
                     e.message().contains(u"not for example.org"_s),
                 qPrintable(e.message()));
    }
}

void TestAutoconfig::refusesHostileDocuments_data() {
    QTest::addColumn<QByteArray>("doc");
    QTest::addColumn<QString>("why"); // part of the message

    const QByteArray good = pop3("pop.example.org", 995, "SSL");
    QTest::newRow("external entity")
        << QByteArray("<?xml version=\"1.0\"?>\n<!DOCTYPE clientConfig [<!ENTITY host SYSTEM "
                      "\"file:///etc/passwd\">]>\n<clientConfig><emailProvider><incomingServer "
                      "type=\"pop3\"><hostname>&host;</hostname></incomingServer>"
                      "</emailProvider></clientConfig>")
        << u"document type (DTD)"_s;
    QTest::newRow("entity expansion")
        << QByteArray("<?xml version=\"1.0\"?>\n<!DOCTYPE clientConfig [<!ENTITY a "
                      "\"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>\n"
                      "<clientConfig>&b;</clientConfig>")
        << u"document type (DTD)"_s;
    QTest::newRow("undeclared entity")
        << document("<displayName>&x;</displayName>" + good) << u"not well-formed XML"_s;
    QTest::newRow("malformed") << document(good).replace("</emailProvider>", "")
                               << u"not well-formed XML"_s;
    QTest::newRow("not XML") << QByteArray("<html><body>Not found</body></html>")
                             << u"not a mail settings document"_s;
    QTest::newRow("empty") << QByteArray() << u"not well-formed XML"_s;
    QTest::newRow("deep nesting") << document(QByteArray("<x>").repeated(40) +
                                              QByteArray("</x>").repeated(40) + good)
                                  << u"nested deeper"_s;
    QTest::newRow("http link in an attribute")
        << document(good + "<documentation url=\"http://example.org/help\"/>") << u"plain http"_s;
    QTest::newRow("http link in a text")
        << document(good + "<enable visiturl=\"https://example.org/on\"><instruction>"
                           "</instruction></enable><loginPage>HTTP://example.org/login"
                           "</loginPage>")
        << u"plain http"_s;
    QTest::newRow("server given as a link")
        << document(pop3("https://pop.example.org", 995, "SSL")) << u"not a host name"_s;
    QTest::newRow("server name with a path")
        << document(pop3("pop.example.org/evil", 995, "SSL")) << u"not a host name"_s;
    QTest::newRow("port out of range")
        << document(pop3("pop.example.org", 99999, "SSL")) << u"not a port number"_s;
    QTest::newRow("huge text") << document("<displayName>" + QByteArray(10000, 'x') +
                                           "</displayName>" + good)
                               << u"longer than"_s;
}

void TestAutoconfig::refusesHostileDocuments() {
    QFETCH(QByteArray, doc);
    QFETCH(QString, why);
    try {
        const auto found = corvane::parseAutoconfigDocument(doc, address(), kOrigin);
        QFAIL(qPrintable(u"accepted, found: %1"_s.arg(found ? found->incoming.host : u"-"_s)));
    } catch (const corvane::DataError &e) {
        QVERIFY2(
            e.message().startsWith(u"The settings document at %1 was refused: "_s.arg(kOrigin)),
            qPrintable(e.message()));
        QVERIFY2(e.message().contains(why), qPrintable(e.message()));
    }
}

QTEST_GUILESS_MAIN(TestAutoconfig)
#include "tst_autoconfig.moc"
