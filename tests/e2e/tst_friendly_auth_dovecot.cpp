// A friendly list that cannot be forged, against the real Dovecot: messages from a friendly
// sender carry Authentication-Results fields as a receiving server writes them (and as a
// forger adds them); with the account's trusted server named, only the authentic ones are
// Friendly, the rest are classified by the other rules with the reason saying why.

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

#include <optional>

using namespace Qt::StringLiterals;
using namespace corvane;

namespace {

const QString kUser = u"e2e-auth"_s;
const QString kTrusted = u"mx.corvane.test"_s;

QByteArray fromMum(const QByteArray &authentication, int n) {
    return authentication + "From: Mum <mum@example.org>\nTo: me@example.net\nSubject: Note " +
           QByteArray::number(n) + "\nDate: Tue, 1 Dec 2026 10:0" + QByteArray::number(n) +
           ":00 +0000\nMessage-ID: <" + QByteArray::number(n) + "@example.org>\n\nSee you Sunday\n";
}

// What each message carries, and whether the trusted server's fields authenticate it.
const struct {
    const char *name;
    QByteArray fields;
    bool authentic;
} kMessages[] = {
    {"all pass",
     "Authentication-Results: mx.corvane.test;\n\tspf=pass smtp.mailfrom=example.org;\n"
     "\tdkim=pass header.d=example.org header.s=s1;\n\tdmarc=pass header.from=example.org\n",
     true},
    {"dmarc fail",
     "Authentication-Results: mx.corvane.test; spf=pass smtp.mailfrom=bulk.example;\n"
     " dmarc=fail (p=none) header.from=example.org\n",
     false},
    {"spf fail, but signed by the From domain",
     "Authentication-Results: mx.corvane.test; spf=fail smtp.mailfrom=example.org;\n"
     " dkim=pass header.d=example.org\n",
     true},
    {"spf fail, a forged pass with the trusted id below another server's field",
     "Authentication-Results: mx.corvane.test; spf=fail smtp.mailfrom=example.org\n"
     "Authentication-Results: relay.forger.example; none\n"
     "Authentication-Results: mx.corvane.test; dkim=pass header.d=example.org;\n"
     " dmarc=pass\n",
     false},
    {"spf fail, a forged pass from another id above",
     "Authentication-Results: forger.example; dkim=pass header.d=example.org; dmarc=pass\n"
     "Authentication-Results: mx.corvane.test (the trusted one); spf=fail\n"
     " smtp.mailfrom=example.org (\"quoted; comment\")\n",
     false},
    {"no field of the trusted server: it did not pass through it",
     "Authentication-Results: forger.example; dkim=pass header.d=example.org; dmarc=pass\n", false},
    {"no Authentication-Results at all", "", false},
    {"the trusted server checked nothing", "Authentication-Results: mx.corvane.test; none\n",
     false},
};

} // namespace

class TestFriendlyAuthDovecot final : public QObject {
    Q_OBJECT

    std::optional<corvane::test::TestServers> m_servers;
    std::unique_ptr<corvane::test::TestMaildir> m_maildir;

    Account account(const QString &trusted) const {
        Account a{u"Auth"_s,
                  m_servers->value(u"CORVANE_POP3_HOST"_s),
                  m_servers->value(u"CORVANE_POP3_PORT"_s),
                  kUser,
                  m_servers->value(u"CORVANE_POP3_PASSWORD"_s),
                  u"me@example.net"_s};
        a.TrustedAuthserv = trusted;
        return a;
    }

    // Checks the mailbox with the account trusting trusted (none when empty); returns the
    // rows and the id the check proposes.
    std::pair<QList<HeaderRow>, QString> check(const QString &trusted) {
        QTemporaryDir dir;
        AccountStore store(dir.filePath(u"accounts.dat"_s));
        store.insert(account(trusted));
        RuleLists lists;
        lists.Friendly.add(u"mum@example.org"_s, {});
        corvane::test::ScreeningRecorder view;
        TcpTransport transport;
        MailboxSession session(transport, &store, lists, view);
        Settings settings;
        settings.learning = false;
        session.setSettings(&settings);
        session.CheckAccount(0);
        const QList<HeaderRow> rows = session.rows();
        const QString proposed = session.lastAuthservId();
        session.DisconnectExecute();
        return {rows, proposed};
    }

private Q_SLOTS:
    void initTestCase() {
        m_servers.emplace();
        if (!m_servers->has({"CORVANE_POP3_HOST", "CORVANE_POP3_PORT", "CORVANE_POP3_USERS",
                             "CORVANE_POP3_PASSWORD", "CORVANE_POP3_MAILDIR_ROOT"}))
            CORVANE_REQUIRE_OR_SKIP(qPrintable(m_servers->why()));
        QVERIFY2(m_servers->value(u"CORVANE_POP3_USERS"_s).split(u',').contains(kUser),
                 "the test user e2e-auth is missing");
        m_maildir = std::make_unique<corvane::test::TestMaildir>(
            m_servers->value(u"CORVANE_POP3_MAILDIR_ROOT"_s) + u'/' + kUser);
        QVERIFY(m_maildir->clear());
        int n = 0;
        for (const auto &m : kMessages)
            QVERIFY(m_maildir->deliver(fromMum(m.fields, n++)));
    }

    // Trusting the server: the authentic messages are Friendly, the forged ones are not and
    // say why; the check proposes the topmost id of its first message.
    void trustedServerDecides() {
        const auto [rows, proposed] = check(kTrusted);
        QCOMPARE(rows.size(), qsizetype(std::size(kMessages)));
        for (qsizetype i = 0; i < rows.size(); ++i) {
            const HeaderRow &row = rows.at(i);
            if (kMessages[i].authentic) {
                QVERIFY2(row.Mark == RowMark::Friendly, kMessages[i].name);
                QCOMPARE(row.Reason, u"friendly list"_s);
            } else {
                QVERIFY2(row.Mark != RowMark::Friendly, kMessages[i].name);
                QVERIFY2(row.Reason.startsWith(u"friendly sender not authenticated"_s),
                         qPrintable(row.Reason));
            }
        }
        QCOMPARE(proposed, kTrusted);
    }

    // Without a trusted server every friendly match counts, as it always did.
    void withoutTrustedServerEveryMatchCounts() {
        const auto [rows, proposed] = check(QString());
        QCOMPARE(rows.size(), qsizetype(std::size(kMessages)));
        for (const HeaderRow &row : rows)
            QCOMPARE(row.Mark, RowMark::Friendly);
        QCOMPARE(proposed, kTrusted);
    }
};

QTEST_GUILESS_MAIN(TestFriendlyAuthDovecot)
#include "tst_friendly_auth_dovecot.moc"
