// corvane-cli learn and classify with the learned filter: training from a folder, an mbox and
// single files, a file that is not mail, the counts, the scores in classify's output (text and
// JSON), a correction, and forgetting.

#include "clirunner.h"
#include "testsupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace corvane::test;
using namespace Qt::StringLiterals;

namespace {

QByteArray spamMessage(int i) {
    return "From: Deals <deals" + QByteArray::number(i) +
           "@cheap-pills.example>\nSubject: Cheap pills, best prices " + QByteArray::number(i) +
           "\nMessage-ID: <" + QByteArray::number(i) +
           "@bulk.example>\n\nOrder viagra now at http://pills.example/buy today\n";
}

QByteArray hamMessage(int i) {
    return "From: Bob <bob@example.net>\nSubject: Minutes of meeting " + QByteArray::number(i) +
           "\nMessage-ID: <m" + QByteArray::number(i) +
           "@example.net>\n\nThe agenda for the project review is attached.\n";
}

} // namespace

class TestCliLearn final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void learnShowClassifyForget() {
        QTemporaryDir dir;
        QDir(dir.path()).mkpath(u"spam"_s);
        for (int i = 0; i < 5; ++i)
            QVERIFY(writeFile(dir.filePath(u"spam/%1.eml"_s.arg(i)), spamMessage(i)));
        QVERIFY(writeFile(dir.filePath(u"spam/notes.txt"_s), "shopping list\nmilk\n"));
        QByteArray mbox;
        for (int i = 0; i < 5; ++i)
            mbox += "From bob@example.net Mon Jan 1 00:00:00 2024\n" + hamMessage(i) + "\n";
        QVERIFY(writeFile(dir.filePath(u"ham.mbox"_s), mbox));
        const QString data = dir.filePath(u"data"_s);
        QVERIFY(QDir().mkpath(data));

        const CliRun learned =
            runCli({u"learn"_s, u"--data-dir"_s, data, u"--spam"_s, dir.filePath(u"spam"_s),
                    u"--ham"_s, dir.filePath(u"ham.mbox"_s)});
        // The file that is not mail is skipped by name, and the exit code says so.
        QCOMPARE(learned.exitCode, 1);
        QVERIFY2(learned.err.contains("skipped") && learned.err.contains("notes.txt"),
                 learned.err.constData());
        QVERIFY2(learned.out.contains("total\t5 spam, 5 ham"), learned.out.constData());

        const CliRun show = runCli({u"learn"_s, u"--data-dir"_s, data, u"--show"_s});
        QCOMPARE(show.exitCode, 0);
        QVERIFY(show.out.startsWith("spam\t5\nham\t5\ntokens\t"));
        QVERIFY(show.out.contains("learning.db"));

        // A new message of each kind, scored as the scan would score it.
        const QString newSpam = dir.filePath(u"new-spam.eml"_s);
        const QString newHam = dir.filePath(u"new-ham.eml"_s);
        QVERIFY(writeFile(newSpam, spamMessage(99)));
        QVERIFY(writeFile(newHam, hamMessage(99)));
        const CliRun classified = runCli(
            {u"classify"_s, u"--data-dir"_s, data, u"--rules"_s, u"none"_s, newSpam, newHam});
        QCOMPARE(classified.exitCode, 0);
        const QList<QByteArray> lines = classified.out.split('\n');
        QVERIFY2(lines.at(0).startsWith("Spam\t") && (lines.at(0).contains("\tlearned 0.9") ||
                                                      lines.at(0).contains("\tlearned 1.00")),
                 classified.out.constData());
        QVERIFY2(lines.at(1).startsWith("Plain\t") && lines.at(1).contains("\tlearned 0.0"),
                 classified.out.constData());

        const CliRun json = runCli({u"classify"_s, u"--data-dir"_s, data, u"--json"_s, u"--rules"_s,
                                    u"none"_s, newSpam, dir.filePath(u"gone"_s)});
        QCOMPARE(json.exitCode, 1);
        const QJsonArray array = QJsonDocument::fromJson(json.out).array();
        QCOMPARE(array.size(), 2);
        QCOMPARE(array.at(0)[u"mark"_s].toString(), u"Spam"_s);
        QVERIFY(array.at(0)[u"score"_s].toInt() >= 90);
        QVERIFY(array.at(0)[u"reason"_s].toString().startsWith(u"learned "_s));
        QVERIFY(array.at(1)[u"error"_s].isString());

        // A correction: a message learned as spam, told as ham, moves over.
        const CliRun corrected =
            runCli({u"learn"_s, u"--data-dir"_s, data, u"--ham"_s, dir.filePath(u"spam/0.eml"_s)});
        QCOMPARE(corrected.exitCode, 0);
        QVERIFY2(corrected.out.contains("1 corrected") &&
                     corrected.out.contains("total\t4 spam, 6 ham"),
                 corrected.out.constData());

        const CliRun forgot = runCli({u"learn"_s, u"--data-dir"_s, data, u"--forget"_s});
        QCOMPARE(forgot.exitCode, 0);
        QVERIFY(runCli({u"learn"_s, u"--data-dir"_s, data, u"--show"_s})
                    .out.startsWith("spam\t0\nham\t0\ntokens\t0\n"));
    }

    void damagedDatabaseIsNamed() {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(u"learning.db"_s), QByteArray(2048, 'x')));
        const QString message = dir.filePath(u"m.eml"_s);
        QVERIFY(writeFile(message, hamMessage(1)));
        // classify goes on by the rules alone and says why.
        const CliRun run = runCli({u"classify"_s, u"--data-dir"_s, dir.path(), message});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.err.contains("learning is off") && run.err.contains("learning.db"),
                 run.err.constData());
        QVERIFY(run.out.startsWith("Plain\t-\t"));
        const CliRun show = runCli({u"learn"_s, u"--data-dir"_s, dir.path(), u"--show"_s});
        QCOMPARE(show.exitCode, 1);
        QVERIFY(show.err.contains("learning.db"));
    }

    void usage_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("nothing to do") << QStringList{u"learn"_s};
        QTest::newRow("show and forget") << QStringList{u"learn"_s, u"--show"_s, u"--forget"_s};
        QTest::newRow("json without files") << QStringList{
            u"classify"_s, u"--json"_s, u"--subject"_s, u"a"_s, u"--sender"_s, u"b"_s};
    }
    void usage() {
        QFETCH(QStringList, args);
        QCOMPARE(runCli(args).exitCode, 2);
    }
};

QTEST_GUILESS_MAIN(TestCliLearn)
#include "tst_cli_learn.moc"
