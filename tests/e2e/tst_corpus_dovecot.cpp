// Real mail through the real server: messages of the public SpamAssassin corpus are delivered
// into a Dovecot mailbox, and the header scan must read from the server exactly what the
// message parser reads from the same files.

#include "core/errors.h"
#include "core/platform/legacytext.h"
#include "core/protocol/devicelines.h"
#include "core/protocol/mailmessage.h"
#include "core/protocol/pop3client.h"
#include "core/protocol/tcptransport.h"
#include "core/screening/classify.h"
#include "requirements.h"
#include "testservers.h"

#include <QBuffer>
#include <QDirIterator>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace corvane;
using corvane::test::mailCorpusDir;
using corvane::test::TestMaildir;
using corvane::test::TestServers;

namespace {

constexpr int kMessages = 60;

// The header block of a raw corpus message, without the mbox "From " line.
QList<QByteArray> headerLines(const QByteArray &raw) {
    QList<QByteArray> lines;
    for (QByteArray line : raw.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            break;
        lines.append(line);
    }
    if (!lines.isEmpty() && lines.constFirst().startsWith("From "))
        lines.removeFirst();
    return lines;
}

struct Fields {
    QString subject, from, recipients, error;
    QDateTime date;
    RowMark mark = RowMark::Plain;
};

Fields fieldsOf(const MailMessage &m, const QString &error) {
    static Classifier classifier;
    static const RuleLists lists;
    return {m.Subject,
            m.FromText(),
            m.RecipientsText(),
            error,
            m.Date,
            classifier.ClassifyMessage(lists, m.Subject, m.FromText(),
                                       decodeLegacyText(m.HeaderText()))};
}

} // namespace

class TestCorpusDovecot final : public QObject {
    Q_OBJECT

    std::optional<TestServers> m_servers;
    QStringList m_files;

private Q_SLOTS:
    void initTestCase() {
        m_servers.emplace();
        if (!m_servers->has({"CORVANE_POP3_HOST", "CORVANE_POP3_PORT", "CORVANE_POP3_USERS",
                             "CORVANE_POP3_PASSWORD", "CORVANE_POP3_MAILDIR_ROOT"}))
            CORVANE_REQUIRE_OR_SKIP(qPrintable(m_servers->why()));
        QStringList all;
        QDirIterator it(mailCorpusDir(), {u"*.txt"_s}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            all.append(it.next());
        if (all.isEmpty())
            CORVANE_REQUIRE_OR_SKIP(
                "No mail corpus: run scripts/setup.sh, or set CORVANE_MAIL_CORPUS");
        all.sort();
        const qsizetype step = qMax<qsizetype>(1, all.size() / kMessages);
        for (qsizetype i = 0; i < all.size() && m_files.size() < kMessages; i += step)
            m_files.append(all[i]);
        QVERIFY(m_servers->value(u"CORVANE_POP3_USERS"_s).split(u',').contains(u"e2e-spare"_s));
    }

    void scanMatchesTheParser() {
        TestMaildir maildir(m_servers->value(u"CORVANE_POP3_MAILDIR_ROOT"_s) + u"/e2e-spare"_s);
        QVERIFY(maildir.clear());
        QList<Fields> expected;
        for (const QString &path : std::as_const(m_files)) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QList<QByteArray> header = headerLines(file.readAll());
            QVERIFY2(maildir.deliver(header.join("\n") + "\n\nbody\n"), qPrintable(path));
            // The same header as a message file: dot-stuffed, CR LF, the end line ".".
            QByteArray asFile;
            for (const QByteArray &line : header)
                asFile += (line.startsWith('.') ? "." : "") + line + "\r\n";
            asFile += "\r\n.\r\n";
            QBuffer buffer(&asFile);
            buffer.open(QIODevice::ReadOnly);
            DeviceLineSource source(buffer);
            MailMessage local;
            QString error;
            try {
                local.ReadMessage(source);
            } catch (const Error &e) {
                error = e.message();
            }
            expected.append(fieldsOf(local, error));
        }

        TcpTransport transport;
        Pop3Client pop(transport);
        pop.setHost(m_servers->value(u"CORVANE_POP3_HOST"_s));
        pop.setPort(m_servers->value(u"CORVANE_POP3_PORT"_s).toUShort());
        pop.setUsername(u"e2e-spare"_s);
        pop.setPassword(m_servers->value(u"CORVANE_POP3_PASSWORD"_s));
        pop.OpenSession();
        QCOMPARE(pop.CountMessages(), int(m_files.size()));
        MailMessage fetched;
        int spam = 0;
        for (int n = 1; n <= m_files.size(); ++n) {
            fetched.ClearMessage();
            QString error;
            try {
                pop.FetchHeader(n, fetched);
            } catch (const ProtocolError &e) {
                error = e.message();
            } catch (const DataError &e) {
                error = e.message();
            }
            const Fields got = fieldsOf(fetched, error);
            const Fields &want = expected[n - 1];
            const QByteArray where = m_files[n - 1].toUtf8();
            QVERIFY2(got.subject == want.subject, where);
            QVERIFY2(got.from == want.from, where);
            QVERIFY2(got.recipients == want.recipients, where);
            QVERIFY2(got.date == want.date, where);
            QVERIFY2(got.error == want.error, where);
            QVERIFY2(got.mark == want.mark, where);
            spam += got.mark == RowMark::Spam;
        }
        pop.CloseSession();
        // The corpus holds spam and ham: both kinds must have been seen.
        QVERIFY(spam > 0 && spam < m_files.size());
        QCOMPARE(maildir.count(), int(m_files.size()));
    }
};

QTEST_GUILESS_MAIN(TestCorpusDovecot)
#include "tst_corpus_dovecot.moc"
