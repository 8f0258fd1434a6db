// Logging in with an OAuth 2.0 access token: the SASL responses of OAUTHBEARER and XOAUTH2, and
// the POP3 (AUTH) and SMTP (AUTH) conversations around them, scripted, including the server's
// error challenge, one renewed token after a refusal, and a token that never shows in a
// transcript or an error.

#include "core/errors.h"
#include "core/protocol/pop3client.h"
#include "core/protocol/sasl.h"
#include "core/protocol/smtpclient.h"
#include "faketransport.h"

#include <QTest>

using namespace Qt::StringLiterals;
using corvane::ConnectionSecurity;
using corvane::Error;
using corvane::LoginError;
using corvane::OAuthMechanism;
using corvane::Pop3Client;
using corvane::ProtocolError;
using corvane::SecurityError;
using corvane::SmtpClient;
using corvane::test::FakeTransport;

Q_DECLARE_METATYPE(std::optional<OAuthMechanism>)

namespace {

enum class Outcome { LoggedIn, Refused, Security, Protocol, Network };

// "C: line" is a line the client must write, anything else a reply line of the server.
void script(FakeTransport &t, const QList<QByteArray> &conversation) {
    for (const QByteArray &line : conversation) {
        if (line.startsWith("C: "))
            t.expect(line.mid(3));
        else
            t.reply(line + "\r\n");
    }
}

QByteArray xoauth2(const QByteArray &token) {
    return ("user=alice@mail.test\x01"
            "auth=Bearer " +
            token + "\x01\x01")
        .toBase64();
}

QByteArray bearer(const QByteArray &token, int port) {
    return ("n,a=alice@mail.test,\x01host=mail.test\x01port=" + QByteArray::number(port) +
            "\x01"
            "auth=Bearer " +
            token + "\x01\x01")
        .toBase64();
}

// The JSON error challenge a server sends for a refused token.
const QByteArray kChallenge =
    QByteArray(R"({"status":"invalid_token","scope":"mail","schemes":"bearer"})").toBase64();

// A token source that hands out "tok-1", then "tok-2", ... and counts the renewals.
struct Tokens {
    int calls = 0;
    int renewals = 0;
    QByteArray last;
    corvane::AccessTokenSource source(QByteArray longTail = {}) {
        return [this, longTail](bool renew) {
            ++calls;
            if (renew)
                ++renewals;
            last = "tok-" + QByteArray::number(calls) + longTail;
            return QString::fromLatin1(last);
        };
    }
};

} // namespace

Q_DECLARE_METATYPE(Outcome)

class TestOAuthSasl final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initialResponses_data();
    void initialResponses();
    void choice_data();
    void choice();
    void challengeText_data();
    void challengeText();
    void pop3Login_data();
    void pop3Login();
    void smtpLogin_data();
    void smtpLogin();
    void tokenNeverShown();
};

void TestOAuthSasl::initialResponses_data() {
    QTest::addColumn<OAuthMechanism>("mechanism");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QByteArray>("response");
    // The examples of RFC 7628 (3.2.1) and of the providers' XOAUTH2 description.
    QTest::newRow("OAUTHBEARER, RFC example")
        << OAuthMechanism::OAuthBearer << u"user@example.com"_s
        << QByteArray("n,a=user@example.com,\x01host=server.example.com\x01port=143\x01"
                      "auth=Bearer vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg==\x01\x01");
    QTest::newRow("OAUTHBEARER escapes , and = in the name")
        << OAuthMechanism::OAuthBearer << u"a,b=c"_s
        << QByteArray("n,a=a=2Cb=3Dc,\x01host=server.example.com\x01port=143\x01"
                      "auth=Bearer vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg==\x01\x01");
    QTest::newRow("XOAUTH2") << OAuthMechanism::XOAuth2 << u"user@example.com"_s
                             << QByteArray("user=user@example.com\x01"
                                           "auth=Bearer vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg=="
                                           "\x01\x01");
}

void TestOAuthSasl::initialResponses() {
    QFETCH(OAuthMechanism, mechanism);
    QFETCH(QString, user);
    QFETCH(QByteArray, response);
    QCOMPARE(corvane::oauthInitialResponse(mechanism, user, u"server.example.com"_s, 143,
                                           u"vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg=="_s),
             response);
}

void TestOAuthSasl::choice_data() {
    QTest::addColumn<QList<QByteArray>>("offered");
    QTest::addColumn<std::optional<OAuthMechanism>>("chosen");
    QTest::newRow("both: the standard one") << QList<QByteArray>{"XOAUTH2", "OAUTHBEARER"}
                                            << std::optional(OAuthMechanism::OAuthBearer);
    QTest::newRow("XOAUTH2 alone, lower case")
        << QList<QByteArray>{"plain", "xoauth2"} << std::optional(OAuthMechanism::XOAuth2);
    QTest::newRow("neither") << QList<QByteArray>{"PLAIN", "LOGIN", "XOAUTH"}
                             << std::optional<OAuthMechanism>();
}

void TestOAuthSasl::choice() {
    QFETCH(QList<QByteArray>, offered);
    QFETCH(std::optional<OAuthMechanism>, chosen);
    QCOMPARE(corvane::chooseOAuthMechanism(offered), chosen);
}

void TestOAuthSasl::challengeText_data() {
    QTest::addColumn<QByteArray>("challenge");
    QTest::addColumn<QString>("text");
    QTest::newRow("status and scope") << kChallenge << u"status invalid_token, scope mail"_s;
    QTest::newRow("status only") << QByteArray(R"({"status":"401","schemes":"bearer"})").toBase64()
                                 << u"status 401"_s;
    QTest::newRow("not base64") << QByteArray("%%%") << QString();
    QTest::newRow("not JSON") << QByteArray("hello").toBase64() << QString();
    QTest::newRow("JSON array") << QByteArray("[1,2]").toBase64() << QString();
    QTest::newRow("huge status is cut")
        << (R"({"status":")" + QByteArray(5000, 'x') + R"("})").toBase64()
        << u"status "_s + QString(200, u'x') + u"…"_s;
}

void TestOAuthSasl::challengeText() {
    QFETCH(QByteArray, challenge);
    QFETCH(QString, text);
    QCOMPARE(corvane::oauthChallengeText(challenge), text);
}

void TestOAuthSasl::pop3Login_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("security");
    QTest::addColumn<QByteArray>("tokenTail"); // makes the token long
    QTest::addColumn<QList<QByteArray>>("conversation");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<int>("renewals");
    QTest::addColumn<QString>("error"); // a piece of it

    const int none = int(ConnectionSecurity::None);
    const int tls = int(ConnectionSecurity::Tls);
    const QList<QByteArray> capaBoth{
        "+OK ready", "C: CAPA", "+OK", "USER", "SASL PLAIN XOAUTH2 OAUTHBEARER", "."};
    const QList<QByteArray> capaXoauth{"+OK ready", "C: CAPA", "+OK", "SASL XOAUTH2", "."};

    QTest::newRow("OAUTHBEARER on the AUTH line")
        << u"mail.test"_s << tls << QByteArray()
        << capaBoth + QList<QByteArray>{"C: AUTH OAUTHBEARER " + bearer("tok-1", 995), "+OK in"}
        << Outcome::LoggedIn << 0 << QString();
    QTest::newRow("XOAUTH2 when only that is offered")
        << u"mail.test"_s << tls << QByteArray()
        << capaXoauth + QList<QByteArray>{"C: AUTH XOAUTH2 " + xoauth2("tok-1"), "+OK in"}
        << Outcome::LoggedIn << 0 << QString();
    const QByteArray tail(300, 'x');
    QTest::newRow("a long token waits for the server's +")
        << u"mail.test"_s << tls << tail
        << capaXoauth +
               QList<QByteArray>{"C: AUTH XOAUTH2", "+ ", "C: " + xoauth2("tok-1" + tail), "+OK in"}
        << Outcome::LoggedIn << 0 << QString();
    QTest::newRow("error challenge, then a renewed token")
        << u"mail.test"_s << tls << QByteArray()
        << capaXoauth + QList<QByteArray>{"C: AUTH XOAUTH2 " + xoauth2("tok-1"),
                                          "+ " + kChallenge,
                                          "C: ",
                                          "-ERR [AUTH] Authentication failed.",
                                          "C: AUTH XOAUTH2 " + xoauth2("tok-2"),
                                          "+OK in"}
        << Outcome::LoggedIn << 1 << QString();
    QTest::newRow("OAUTHBEARER's challenge is ended with 0x01; refused twice")
        << u"mail.test"_s << tls << QByteArray()
        << capaBoth + QList<QByteArray>{"C: AUTH OAUTHBEARER " + bearer("tok-1", 995),
                                        "+ " + kChallenge,
                                        "C: AQ==",
                                        "-ERR [AUTH] Authentication failed.",
                                        "C: AUTH OAUTHBEARER " + bearer("tok-2", 995),
                                        "+ " + kChallenge,
                                        "C: AQ==",
                                        "-ERR [AUTH] Authentication failed.",
                                        "C: QUIT"}
        << Outcome::Refused << 1
        << u"[AUTH] Authentication failed. (status invalid_token, scope mail)"_s;
    QTest::newRow("no SASL line: nothing sent")
        << u"mail.test"_s << tls << QByteArray()
        << QList<QByteArray>{"+OK ready", "C: CAPA", "+OK", "USER", ".", "C: QUIT"}
        << Outcome::Protocol << 0 << u"does not offer a sign-in with an access token"_s;
    QTest::newRow("plain connection elsewhere: refused before anything is sent")
        << u"mail.test"_s << none << QByteArray() << QList<QByteArray>{"+OK ready", "C: QUIT"}
        << Outcome::Security << 0 << u"only ever sent over a secure connection"_s;
    QTest::newRow("plain connection to this computer is allowed")
        << u"127.0.0.1"_s << none << QByteArray()
        << capaXoauth + QList<QByteArray>{"C: AUTH XOAUTH2 " + xoauth2("tok-1"), "+OK in"}
        << Outcome::LoggedIn << 0 << QString();
    QTest::newRow("the server drops after AUTH: no second token")
        << u"mail.test"_s << tls << QByteArray()
        << capaXoauth + QList<QByteArray>{"C: AUTH XOAUTH2 " + xoauth2("tok-1")} << Outcome::Network
        << 0 << QString();
    QTest::newRow("the server drops after the challenge")
        << u"mail.test"_s << tls << QByteArray()
        << capaXoauth +
               QList<QByteArray>{"C: AUTH XOAUTH2 " + xoauth2("tok-1"), "+ " + kChallenge, "C: "}
        << Outcome::Network << 0 << QString();
    QTest::newRow("a server that goes on asking is cut off")
        << u"mail.test"_s << tls << QByteArray()
        << capaXoauth + QList<QByteArray>{"C: AUTH XOAUTH2 " + xoauth2("tok-1"),
                                          "+ " + kChallenge,
                                          "C: ",
                                          "+ more",
                                          "C: *",
                                          "+ still more"}
        << Outcome::Protocol << 0 << u"went on asking"_s;
}

void TestOAuthSasl::pop3Login() {
    QFETCH(QString, host);
    QFETCH(int, security);
    QFETCH(QByteArray, tokenTail);
    QFETCH(QList<QByteArray>, conversation);
    QFETCH(Outcome, outcome);
    QFETCH(int, renewals);
    QFETCH(QString, error);

    FakeTransport t;
    script(t, conversation);
    Pop3Client pop(t);
    pop.setHost(host);
    pop.setPort(995);
    pop.setSecurity(ConnectionSecurity(security));
    pop.setUsername(u"alice@mail.test"_s);
    Tokens tokens;
    pop.setAccessTokenSource(tokens.source(tokenTail));
    QString message;
    Outcome got = Outcome::LoggedIn;
    try {
        pop.OpenSession();
    } catch (const LoginError &e) {
        got = Outcome::Refused;
        message = e.message();
    } catch (const SecurityError &e) {
        got = Outcome::Security;
        message = e.message();
    } catch (const ProtocolError &e) {
        got = Outcome::Protocol;
        message = e.message();
    } catch (const corvane::NetworkError &e) {
        got = Outcome::Network;
        message = e.message();
    }
    t.verifyScriptDone();
    QCOMPARE(got, outcome);
    QCOMPARE(tokens.renewals, renewals);
    QVERIFY2(message.contains(error), qPrintable(message));
    QCOMPARE(pop.IsOpen(), outcome == Outcome::LoggedIn);
}

void TestOAuthSasl::smtpLogin_data() {
    QTest::addColumn<int>("security");
    QTest::addColumn<QByteArray>("tokenTail");
    QTest::addColumn<QList<QByteArray>>("conversation");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<int>("renewals");
    QTest::addColumn<QString>("error");

    const int none = int(ConnectionSecurity::None);
    const int tls = int(ConnectionSecurity::Tls);
    const QList<QByteArray> both{"220 mx.test", "C: EHLO me.test", "250-mx.test",
                                 "250 AUTH PLAIN XOAUTH2 OAUTHBEARER"};
    const QList<QByteArray> xoauth{"220 mx.test", "C: EHLO me.test", "250-mx.test",
                                   "250 AUTH XOAUTH2"};

    QTest::newRow("OAUTHBEARER") << tls << QByteArray()
                                 << both + QList<QByteArray>{"C: AUTH OAUTHBEARER " +
                                                                 bearer("tok-1", 465),
                                                             "235 2.7.0 ok"}
                                 << Outcome::LoggedIn << 0 << QString();
    const QByteArray tail(500, 'y');
    QTest::newRow("a long XOAUTH2 token waits for 334")
        << tls << tail
        << xoauth + QList<QByteArray>{"C: AUTH XOAUTH2", "334 ", "C: " + xoauth2("tok-1" + tail),
                                      "235 ok"}
        << Outcome::LoggedIn << 0 << QString();
    QTest::newRow("error challenge, renewed token accepted")
        << tls << QByteArray()
        << xoauth + QList<QByteArray>{"C: AUTH XOAUTH2 " + xoauth2("tok-1"),
                                      "334 " + kChallenge,
                                      "C: ",
                                      "535 5.7.8 Username and Password not accepted",
                                      "C: AUTH XOAUTH2 " + xoauth2("tok-2"),
                                      "235 ok"}
        << Outcome::LoggedIn << 1 << QString();
    QTest::newRow("refused twice")
        << tls << QByteArray()
        << both + QList<QByteArray>{"C: AUTH OAUTHBEARER " + bearer("tok-1", 465),
                                    "334 " + kChallenge,
                                    "C: AQ==",
                                    "535 5.7.8 not accepted",
                                    "C: AUTH OAUTHBEARER " + bearer("tok-2", 465),
                                    "535 5.7.8 not accepted again",
                                    "C: QUIT"}
        << Outcome::Refused << 1 << u"not accepted again"_s;
    QTest::newRow("no OAuth mechanism")
        << tls << QByteArray()
        << QList<QByteArray>{"220 mx.test", "C: EHLO me.test", "250-mx.test", "250 AUTH PLAIN",
                             "C: QUIT"}
        << Outcome::Protocol << 0 << u"does not offer a sign-in with an access token"_s;
    QTest::newRow("plain connection elsewhere")
        << none << QByteArray() << QList<QByteArray>{} << Outcome::Security << 0
        << u"only ever sent over a secure connection"_s;
}

void TestOAuthSasl::smtpLogin() {
    QFETCH(int, security);
    QFETCH(QByteArray, tokenTail);
    QFETCH(QList<QByteArray>, conversation);
    QFETCH(Outcome, outcome);
    QFETCH(int, renewals);
    QFETCH(QString, error);

    FakeTransport t;
    script(t, conversation);
    SmtpClient client(t);
    client.setHost(u"mail.test"_s);
    client.setPort(465);
    client.setSecurity(ConnectionSecurity(security));
    client.setHeloName(u"me.test"_s);
    client.setUsername(u"alice@mail.test"_s);
    Tokens tokens;
    client.setAccessTokenSource(tokens.source(tokenTail));
    QString message;
    Outcome got = Outcome::LoggedIn;
    try {
        client.OpenSmtpSession();
    } catch (const LoginError &e) {
        got = Outcome::Refused;
        message = e.message();
    } catch (const SecurityError &e) {
        got = Outcome::Security;
        message = e.message();
    } catch (const ProtocolError &e) {
        got = Outcome::Protocol;
        message = e.message();
    }
    t.verifyScriptDone();
    QCOMPARE(got, outcome);
    QCOMPARE(tokens.renewals, renewals);
    QVERIFY2(message.contains(error), qPrintable(message));
    QCOMPARE(t.connectCount(), outcome == Outcome::Security ? 0 : 1);
}

void TestOAuthSasl::tokenNeverShown() {
    // Short and long tokens, accepted and refused, over both protocols: neither the token nor
    // its base64 form appears in the transcript or the error.
    for (const QByteArray &tail : {QByteArray(), QByteArray(400, 'z')}) {
        const QByteArray line = xoauth2("tok-1" + tail);
        const QByteArray refusedLine = xoauth2("tok-2" + tail);
        const bool inline_ = tail.isEmpty();
        FakeTransport pop3;
        FakeTransport smtp;
        QStringList transcript;
        const auto record = [&](const QString &l) { transcript << l; };
        pop3.setTranscript(record);
        smtp.setTranscript(record);
        script(pop3, {"+OK ready", "C: CAPA", "+OK", "SASL XOAUTH2", "."});
        script(smtp, {"220 mx.test", "C: EHLO me.test", "250-mx.test", "250 AUTH XOAUTH2"});
        if (inline_) {
            script(pop3, {"C: AUTH XOAUTH2 " + line, "+ " + kChallenge, "C: ", "-ERR no",
                          "C: AUTH XOAUTH2 " + refusedLine, "-ERR no", "C: QUIT"});
            script(smtp, {"C: AUTH XOAUTH2 " + line, "334 " + kChallenge, "C: ", "535 no",
                          "C: AUTH XOAUTH2 " + refusedLine, "535 no", "C: QUIT"});
        } else {
            script(pop3, {"C: AUTH XOAUTH2", "+ ", "C: " + line, "-ERR no", "C: AUTH XOAUTH2", "+ ",
                          "C: " + refusedLine, "-ERR no", "C: QUIT"});
            script(smtp, {"C: AUTH XOAUTH2", "334 ", "C: " + line, "535 no", "C: AUTH XOAUTH2",
                          "334 ", "C: " + refusedLine, "535 no", "C: QUIT"});
        }
        Tokens popTokens;
        Tokens smtpTokens;
        Pop3Client pop(pop3);
        pop.setHost(u"mail.test"_s);
        pop.setPort(995);
        pop.setUsername(u"alice@mail.test"_s);
        pop.setAccessTokenSource(popTokens.source(tail));
        SmtpClient client(smtp);
        client.setHost(u"mail.test"_s);
        client.setPort(465);
        client.setHeloName(u"me.test"_s);
        client.setUsername(u"alice@mail.test"_s);
        client.setAccessTokenSource(smtpTokens.source(tail));
        QStringList errors;
        try {
            pop.OpenSession();
        } catch (const Error &e) {
            errors << e.message();
        }
        try {
            client.OpenSmtpSession();
        } catch (const Error &e) {
            errors << e.message();
        }
        pop3.verifyScriptDone();
        smtp.verifyScriptDone();
        QCOMPARE(errors.size(), 2);
        const QString all = transcript.join(u'\n') + errors.join(u'\n');
        QVERIFY2(all.contains(u"(hidden)"_s), qPrintable(all));
        for (const QByteArray &secret :
             {line, refusedLine, QByteArray("tok-1"), QByteArray("tok-2"), line.left(20)})
            QVERIFY2(!all.contains(QString::fromLatin1(secret)), qPrintable(all));
    }
}

QTEST_GUILESS_MAIN(TestOAuthSasl)
#include "tst_oauthsasl.moc"
