#include "core/errors.h"
#include "core/platform/legacytext.h"
#include "core/protocol/mailmessage.h"
#include "core/rules/rulelists.h"
#include "core/screening/classify.h"
#include "requirements.h"
#include "testsupport.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <QTest>

using namespace corvane;
using namespace corvane::test;
using namespace Qt::StringLiterals;

// Real mail from a public corpus (the SpamAssassin public corpus as an npm package ships it:
// one raw message per .txt file). The directory comes from CORVANE_MAIL_CORPUS, else
// mail-corpus/ in the build directory; without it the test is skipped.
class TestMessageCorpus final : public QObject {
    Q_OBJECT

    QStringList m_files;

    static QString corpusDir() { return mailCorpusDir(); }

    // A raw message as a message file: dot-stuffed lines, CR LF, the end line ".".
    static QByteArray asMessageFile(const QByteArray &raw) {
        QList<QByteArray> lines = raw.split('\n');
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        QByteArray out;
        for (QByteArray &l : lines) {
            if (l.endsWith('\r'))
                l.chop(1);
            if (l.startsWith('.'))
                out += '.';
            out += l + "\r\n";
        }
        return out + ".\r\n";
    }

private Q_SLOTS:
    void initTestCase() {
        const QString dir = corpusDir();
        QStringList all;
        QDirIterator it(dir, {u"*.txt"_s}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            all.append(it.next());
        if (all.isEmpty())
            CORVANE_REQUIRE_OR_SKIP(qPrintable(u"No mail corpus in "_s + dir));
        all.sort();
        // A few hundred messages spread over every folder of the corpus.
        const qsizetype step = qMax<qsizetype>(1, all.size() / 400);
        for (qsizetype i = 0; i < all.size(); i += step)
            m_files.append(all[i]);
        QVERIFY(m_files.size() >= 300);
    }

    void loadSaveLoad() {
        QTemporaryDir dir;
        const RuleLists lists;
        Classifier classifier;
        int withAttachments = 0;
        for (const QString &file : std::as_const(m_files)) {
            const QString first = dir.filePath(u"first.eml"_s);
            const QString second = dir.filePath(u"second.eml"_s);
            QVERIFY(writeFile(first, asMessageFile(readFile(file))));
            MailMessage m;
            try {
                m.LoadMessageFile(first);
            } catch (const Error &e) {
                // A few corpus messages break the format's limits; they fail as it says.
                QVERIFY2(e.message() == u"@ Outside address"_s ||
                             e.message() == u"Max line length exceeded."_s,
                         qPrintable(e.message()));
                continue;
            }
            withAttachments += m.AttachmentCount() > 0;
            m.SaveMessageFile(second);
            const QDateTime savedAt = QDateTime::currentDateTime();
            MailMessage back;
            back.LoadMessageFile(second);
            QVERIFY2(back.Subject == m.Subject, qPrintable(file));
            QVERIFY2(back.FromText() == m.FromText(), qPrintable(file));
            QVERIFY2(back.RecipientsText() == m.RecipientsText(), qPrintable(file));
            if (m.Date.isValid() || !m.HeaderValue("Date").isEmpty())
                QVERIFY2(back.Date == m.Date, qPrintable(file));
            else // no Date at all: the time of saving was written
                QVERIFY2(qAbs(back.Date.secsTo(savedAt)) < 120, qPrintable(file));
            // A body with uuencoded blocks goes out as a text part beside its files, so
            // compare the files.
            auto files = [](const MailMessage &msg) {
                QList<QByteArray> out;
                for (const MessagePart &p : msg.MessageParts)
                    if (p.isAttachment())
                        out.append(readFile(p.StoredFile()));
                return out;
            };
            QVERIFY2(files(back) == files(m), qPrintable(file));
            const RowMark mark = classifier.ClassifyMessage(lists, m.Subject, m.FromText(),
                                                            decodeLegacyText(m.HeaderText()));
            QCOMPARE(mark, ClassifyMessageReference(lists, m.Subject, m.FromText(),
                                                    decodeLegacyText(m.HeaderText())));
        }
        QVERIFY(withAttachments > 0);
    }
};

QTEST_GUILESS_MAIN(TestMessageCorpus)
#include "tst_messagecorpus.moc"
