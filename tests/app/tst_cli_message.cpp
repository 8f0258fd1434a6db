#include "clirunner.h"
#include "core/platform/safetext.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using corvane::test::CliRun;
using corvane::test::runCli;

namespace {

const QByteArray kMultipart = "From: \"Doe, Jane\" <jane@example.org>\r\n"
                              "To: bob@example.com, Ann <ann@example.net>\r\n"
                              "Subject: =?UTF-8?B?R3LDvMOfZQ==?= from Jane\r\n"
                              "Date: Thu, 10 Dec 2026 11:25:00 +0100\r\n"
                              "MIME-Version: 1.0\r\n"
                              "Content-Type: multipart/mixed; boundary=\"XYZ\"\r\n"
                              "\r\n"
                              "--XYZ\r\n"
                              "Content-Type: text/plain; charset=us-ascii\r\n"
                              "\r\n"
                              "Hello\r\n"
                              "..dotted line\r\n"
                              "--XYZ\r\n"
                              "Content-Type: application/octet-stream; name=\"data.bin\"\r\n"
                              "Content-Transfer-Encoding: base64\r\n"
                              "Content-Disposition: attachment; filename=\"data.bin\"\r\n"
                              "\r\n"
                              "AAECAwQFBgcICQ==\r\n"
                              "--XYZ--\r\n"
                              ".\r\n";

} // namespace

class TestCliMessage final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void showJson() {
        const QString file = m_dir.filePath(u"multipart.eml"_s);
        QVERIFY(corvane::test::writeFile(file, kMultipart));
        const CliRun run = runCli({u"message"_s, u"show"_s, u"--json"_s, file});
        QCOMPARE(run.exitCode, 0);
        const QJsonObject o = QJsonDocument::fromJson(run.out).object();
        QCOMPARE(o.value(u"subject"_s).toString(), u"Gr\u00fc\u00dfe from Jane"_s);
        QCOMPARE(o.value(u"from"_s).toString(), u"\"Doe, Jane\" <jane@example.org>"_s);
        QCOMPARE(o.value(u"recipients"_s).toString(), u"bob@example.com, Ann <ann@example.net>"_s);
        QCOMPARE(o.value(u"dateUtc"_s).toString(), u"2026-12-10T10:25:00Z"_s);
        QCOMPARE(o.value(u"headerLines"_s).toArray().size(), 6);
        const QJsonArray parts = o.value(u"parts"_s).toArray();
        QCOMPARE(parts.size(), 2);
        QCOMPARE(parts[0].toObject().value(u"kind"_s).toString(), u"text"_s);
        QCOMPARE(parts[0].toObject().value(u"lines"_s).toInt(), 2);
        const QJsonObject attachment = parts[1].toObject();
        QCOMPARE(attachment.value(u"kind"_s).toString(), u"attachment"_s);
        QCOMPARE(attachment.value(u"fileName"_s).toString(), u"data.bin"_s);
        QCOMPARE(attachment.value(u"size"_s).toInteger(), 10);
    }

    void showText() {
        const QString file = m_dir.filePath(u"multipart.eml"_s);
        QVERIFY(corvane::test::writeFile(file, kMultipart));
        const CliRun run = runCli({u"message"_s, u"show"_s, file});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.startsWith("Subject:     Gr\xc3\xbc\xc3\x9f"
                                   "e from Jane\n"));
        QVERIFY(run.out.contains(
            "  2. attachment \"data.bin\" (application/octet-stream, 10 bytes, base64)\n"));
    }

    void hostileTextShownSafely() {
        // Encoded line breaks and escapes in the subject and the sender's name, raw control
        // characters in a header line and an attachment's name, and a date that its offset
        // pushes past the year 9999.
        const QString file = m_dir.filePath(u"hostile.eml"_s);
        QVERIFY(corvane::test::writeFile(
            file,
            "From: =?UTF-8?Q?Boss=0D=0ASubject=3A_fake?= <boss@x.example>\r\n"
            "Subject: =?UTF-8?Q?Hi=0AFrom:_forged=1B[2J=C2=9B31m_100%1?=\r\n"
            "Date: Fri, 31 Dec 9999 23:00:00 -0200\r\n"
            "X-Evil: \x1b]0;title\x07 \x7f\r\n"
            "Content-Type: multipart/mixed; boundary=\"B\"\r\n"
            "\r\n"
            "--B\r\n"
            "Content-Type: application/octet-stream; name=\"=?UTF-8?Q?a=0Db=E2=80=AE.exe?=\"\r\n"
            "\r\n"
            "x\r\n"
            "--B--\r\n"
            ".\r\n"));
        const CliRun text = runCli({u"message"_s, u"show"_s, file});
        QCOMPARE(text.exitCode, 0);
        const QString out = QString::fromUtf8(text.out);
        for (QChar c : out)
            QVERIFY2(c == u'\n' || !corvane::isUnsafeTextChar(c.unicode()), text.out.constData());
        QVERIFY2(out.startsWith(u"Subject:     Hi From: forged?[2J?31m 100%1\n"
                                u"From:        \"Boss  Subject: fake\" <boss@x.example>\n"_s),
                 text.out.constData());
        QVERIFY(out.contains(u"\nDate:        (none)\nDate (UTC):  (none)\n"_s));
        QVERIFY(out.contains(u"\n  X-Evil: ?]0;title? ?\n"_s));

        // JSON keeps the exact text, escaped; an unwritable date is null.
        const CliRun json = runCli({u"message"_s, u"show"_s, u"--json"_s, file});
        QCOMPARE(json.exitCode, 0);
        QVERIFY(!json.out.contains('\x1b') && !json.out.contains('\r'));
        const QJsonObject o = QJsonDocument::fromJson(json.out).object();
        QCOMPARE(o.value(u"subject"_s).toString(), u"Hi\nFrom: forged\x1b[2J\u009b31m 100%1"_s);
        QVERIFY(o.value(u"dateLocal"_s).isNull());
        QVERIFY(o.value(u"dateUtc"_s).isNull());
    }

    void failures_data() {
        QTest::addColumn<QByteArray>("content"); // empty: no file at all
        QTest::addColumn<QByteArray>("error");
        QTest::newRow("missing file")
            << QByteArray() << QByteArray("Cannot load message from file");
        QTest::newRow("no final dot") << QByteArray("Subject: cut\r\n\r\nbody\r\n")
                                      << QByteArray("corvane-cli message show:");
    }
    void failures() {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, error);
        const QString file = m_dir.filePath(u"bad.eml"_s);
        QFile::remove(file);
        if (!content.isEmpty())
            QVERIFY(corvane::test::writeFile(file, content));
        const CliRun run = runCli({u"message"_s, u"show"_s, file});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(error), run.err.constData());
    }
};

QTEST_GUILESS_MAIN(TestCliMessage)
#include "tst_cli_message.moc"
