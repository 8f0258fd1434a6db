// The learned filter: the tokens a message gives, the statistics on known cases, and the
// token store on disk (round trip, correction, damage, a full disk).

#include "core/errors.h"
#include "core/learning/learningstore.h"
#include "core/learning/mailsources.h"
#include "core/learning/tokenizer.h"
#include "core/learning/tokenstatistics.h"
#include "core/screening/classify.h"
#include "fulldisk.h"
#include "testsupport.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace corvane;
using namespace Qt::StringLiterals;

namespace {

QList<QByteArray> lines(const QByteArray &text) {
    QList<QByteArray> out = text.split('\n');
    if (!out.isEmpty() && out.last().isEmpty())
        out.removeLast();
    return out;
}

std::vector<std::string> tokensOf(const QByteArray &header, const QByteArray &body) {
    std::vector<std::string> texts;
    MessageTokenizer().tokenize(lines(header), lines(body), &texts);
    return texts;
}

bool has(const std::vector<std::string> &tokens, const char *token) {
    return std::find(tokens.begin(), tokens.end(), std::string(token)) != tokens.end();
}

// A message whose tokens are its number's words: distinct per kind so the learner separates
// them.
LearningSample sample(std::uint64_t identity, std::initializer_list<const char *> words) {
    LearningSample s{identity, {}};
    for (const char *w : words)
        s.tokens.push_back(tokenHash(w));
    std::sort(s.tokens.begin(), s.tokens.end());
    return s;
}

} // namespace

class TestLearning final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void tokens_data() {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");
        QTest::newRow("address fields and their domains")
            << QByteArray("From: Cheap Deals <deals123@Offers.Example>\nReply-To: x@y.example\n"
                          "Return-Path: <bounce@z.example>\n")
            << QByteArray()
            << QStringList{u"from:addr:deals123@offers.example"_s,
                           u"from:dom:offers.example"_s,
                           u"from:localdigits"_s,
                           u"from:name:cheap"_s,
                           u"rt:dom:y.example"_s,
                           u"rp:addr:bounce@z.example"_s,
                           u"hdr:from"_s,
                           u"mid:none"_s}
            << QStringList{u"deals"_s};
        QTest::newRow("subject words, encoded-word charset, shape")
            << QByteArray("Subject: =?koi8-r?B?8NLJ18XU?= FREE OFFER NOW!\n") << QByteArray()
            << QStringList{u"subj:cs:koi8-r"_s,      u"subj:enc:b"_s,
                           u"subj:free"_s,           u"subj:offer"_s,
                           u"subj:shape:capitals"_s, u"subj:shape:exclamation"_s}
            << QStringList{u"free"_s, u"bi:free offer"_s};
        QTest::newRow("received hops below the user's own server")
            << QByteArray("Received: from mx.home.example by pop.home.example\n"
                          "Received: from relay.spammer.example (unknown [203.0.113.9])\n"
                          "\tby mx.home.example\n")
            << QByteArray() << QStringList{u"rcvd:dom:spammer.example"_s, u"rcvd:ip:203.0.113"_s}
            << QStringList{u"rcvd:dom:home.example"_s};
        QTest::newRow("message id, mailer, content type, recipients")
            << QByteArray("Message-ID: <abc@mail.bulk.example>\nX-Mailer: Mass Sender 5\n"
                          "Content-Type: text/html; charset=\"GB2312\"\nTo: a@b.c, d@e.f\n")
            << QByteArray()
            << QStringList{u"mid:dom:bulk.example"_s, u"xm:mass"_s,   u"xm:sender"_s,
                           u"ct:text/html"_s,         u"cs:gb2312"_s, u"to:n:2"_s}
            << QStringList{};
        QTest::newRow("List-* fields count once")
            << QByteArray("List-Id: <a.example>\nList-Post: <mailto:a@a.example>\n") << QByteArray()
            << QStringList{u"hdr:list-*"_s} << QStringList{u"hdr:list-id"_s, u"hdr:list-post"_s};
        QTest::newRow("html tags stripped, url hosts kept")
            << QByteArray("Content-Type: text/html\n")
            << QByteArray("<p><font color=red>Viagra</font> <a href=\"http://www.pills.example/"
                          "buy\">order</a>&nbsp;today\n")
            << QStringList{u"viagra"_s,
                           u"order"_s,
                           u"today"_s,
                           u"url:www.pills.example"_s,
                           u"url:dom:pills.example"_s,
                           u"bi:viagra order"_s,
                           u"body:html"_s}
            << QStringList{u"font"_s, u"color"_s, u"href"_s, u"nbsp"_s};
        QTest::newRow("html found by its tags in a plain part")
            << QByteArray("Subject: hi\n") << QByteArray("<table><tr><td>Winner</td>\n")
            << QStringList{u"winner"_s} << QStringList{u"table"_s};
        QTest::newRow("quoted-printable body decoded")
            << QByteArray("Content-Transfer-Encoding: quoted-printable\n")
            << QByteArray("Mort=\ngage rates =3D low\n")
            << QStringList{u"mortgage"_s, u"rates"_s, u"low"_s, u"part:cte:qp"_s}
            << QStringList{u"mort"_s};
        QTest::newRow("base64 part of a multipart body decoded, attachment by type only")
            << QByteArray("Content-Type: multipart/mixed; boundary=\"XX\"\n")
            << QByteArray("preamble words\n--XX\nContent-Type: text/plain\n"
                          "Content-Transfer-Encoding: base64\n\nQ2xpY2sgaGVyZSBub3c=\n--XX\n"
                          "Content-Type: application/zip\n\nUEsDBBQ=\n--XX--\n")
            << QStringList{u"click"_s,         u"here"_s,        u"now"_s,
                           u"bi:click here"_s, u"bi:here now"_s, u"part:application/zip"_s}
            << QStringList{u"preamble"_s};
        QTest::newRow("long runs by their shape")
            << QByteArray("Subject: x\n") << QByteArray("aaaaaaaaaaaaaaaaaaaaaaaaa\n")
            << QStringList{u"skip:a20"_s} << QStringList{};
    }
    void tokens() {
        QFETCH(QByteArray, header);
        QFETCH(QByteArray, body);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        const std::vector<std::string> t = tokensOf(header, body);
        for (const QString &p : present)
            QVERIFY2(has(t, p.toUtf8().constData()), qPrintable(p));
        for (const QString &a : absent)
            QVERIFY2(!has(t, a.toUtf8().constData()), qPrintable(a));
    }

    void tokensAreDistinctAndMatchTheirTexts() {
        std::vector<std::string> texts;
        const std::vector<TokenHash> hashes =
            MessageTokenizer().tokenize(lines("Subject: spam spam spam\n"), {}, &texts);
        QCOMPARE(texts.size(), hashes.size());
        QVERIFY(std::is_sorted(hashes.begin(), hashes.end()));
        for (const std::string &t : texts)
            QVERIFY(std::binary_search(hashes.begin(), hashes.end(), tokenHash(t)));
        // Nothing to read: no tokens, and a score of 0.5.
        QVERIFY(MessageTokenizer().tokenize({}, {}).empty());
    }

    void chiSquareKnownValues_data() {
        QTest::addColumn<double>("x2");
        QTest::addColumn<int>("v");
        QTest::addColumn<double>("q");
        QTest::newRow("v=2: exp(-x2/2)") << 2.0 << 2 << std::exp(-1.0);
        QTest::newRow("v=4") << 10.0 << 4 << std::exp(-5.0) * 6.0;
        QTest::newRow("v=6") << 3.0 << 6 << std::exp(-1.5) * (1 + 1.5 + 1.125);
        QTest::newRow("zero") << 0.0 << 10 << 1.0;
    }
    void chiSquareKnownValues() {
        QFETCH(double, x2);
        QFETCH(int, v);
        QFETCH(double, q);
        QVERIFY(std::abs(chi2Q(x2, v) - q) < 1e-12);
    }

    void robinsonAndFisher() {
        // f(w): a token in 10 of 100 spam and none of 100 ham, strength 1, x 0.5.
        QVERIFY(std::abs(tokenSpamProbability(10, 0, 100, 100) - (0.5 + 10) / 11) < 1e-12);
        // Counts scaled to the smaller kind: 5 hams of 500 stand for 1 of 100.
        QVERIFY(std::abs(tokenSpamProbability(0, 5, 100, 500) - 0.5 / 2) < 1e-12);
        // Another strength and x, as given.
        const LearningParameters other{0.4, 0.45, 0.2, 150};
        QVERIFY(std::abs(tokenSpamProbability(10, 0, 100, 100, other) - (0.18 + 10) / 10.45) <
                1e-12);
        QCOMPARE(tokenSpamProbability(3, 3, 0, 10), 0.5); // nothing learned of one kind
        // Fisher: one clue of 0.99 gives S = 1 - 0.01 = 0.99, H = 1 - (1 - 0.99) ... by hand.
        const double f = 0.99;
        const double s = 1 - chi2Q(-2 * std::log(1 - f), 2);
        const double h = 1 - chi2Q(-2 * std::log(f), 2);
        const double one[] = {f};
        QVERIFY(std::abs(combineProbabilities(one) - (1 + s - h) / 2) < 1e-12);
        const std::vector<double> spammy(20, 0.95), hammy(20, 0.05), mixed{0.95, 0.05};
        QVERIFY(combineProbabilities(spammy) > 0.99);
        QVERIFY(combineProbabilities(hammy) < 0.01);
        QVERIFY(std::abs(combineProbabilities(mixed) - 0.5) < 1e-9);
        QCOMPARE(combineProbabilities({}), 0.5);
    }

    void storeRoundTripAndCorrection() {
        QTemporaryDir dir;
        const QString path = dir.filePath(LearningStore::FileName);
        {
            LearningStore store(path);
            store.open();
            // Owner-only: nothing for the group or others.
            QCOMPARE(QFile::permissions(path) & (QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                                 QFileDevice::ReadOther | QFileDevice::WriteOther),
                     QFileDevice::Permissions());
            QCOMPARE(store.score(sample(9, {"viagra"}).tokens), 0.5); // nothing learned yet
            std::vector<LearningSample> spam, ham;
            for (std::uint64_t i = 0; i < 30; ++i) {
                spam.push_back(sample(100 + i, {"viagra", "cheap", "pills"}));
                ham.push_back(sample(200 + i, {"meeting", "minutes", "agenda"}));
            }
            QCOMPARE(store.train(spam, LearnedVerdict::Spam).learned, 30);
            QCOMPARE(store.train(ham, LearnedVerdict::Ham).learned, 30);
            // The same messages again change nothing.
            QCOMPARE(store.train(spam, LearnedVerdict::Spam).unchanged, 30);
        }
        LearningStore store(path);
        store.open();
        QCOMPARE(store.spamMessages(), 30u);
        QCOMPARE(store.hamMessages(), 30u);
        QCOMPARE(store.tokenCount(), 6);
        QVERIFY(store.score(sample(1, {"viagra", "cheap"}).tokens) > 0.99);
        QVERIFY(store.score(sample(2, {"meeting", "agenda"}).tokens) < 0.01);
        QCOMPARE(store.learnedAs(100), LearnedVerdict::Spam);

        // Processing never overrules the user's "not spam".
        const std::vector<LearningSample> first{sample(200, {"meeting", "minutes", "agenda"})};
        QCOMPARE(
            store.train(first, LearnedVerdict::Spam, LearningStore::Policy::KeepEarlier).unchanged,
            1);
        QCOMPARE(store.hamMessages(), 30u);
        // The user's correction: unlearned as ham first, then learned as spam.
        QCOMPARE(store.train(first, LearnedVerdict::Spam).corrected, 1);
        QCOMPARE(store.hamMessages(), 29u);
        QCOMPARE(store.spamMessages(), 31u);
        QCOMPARE(store.learnedAs(200), LearnedVerdict::Spam);
        store.forget();
        QCOMPARE(store.spamMessages(), 0u);
        QCOMPARE(store.tokenCount(), 0);
        QVERIFY(!store.learnedAs(100));
    }

    // Scoring keeps f and its logarithms of rarely seen tokens by their counts, for the totals
    // and parameters of the moment: the score must stay what the statistics give from the
    // counts, for tokens under and over that cache's limit, after every training (the totals
    // move) and after the parameters change.
    void scoreFollowsTheCountsAfterEveryChange() {
        QTemporaryDir dir;
        LearningStore store(dir.filePath(LearningStore::FileName));
        store.open();
        // "n<k>" is in the first k spams and the first k/2 hams: counts from 0 to 40.
        const std::vector<int> kinds{1, 2, 7, 15, 16, 17, 31, 40};
        std::vector<std::string> words{"never-learned"};
        for (const int k : kinds)
            words.push_back("n" + std::to_string(k));
        const auto message = [&](std::uint64_t identity, int index, bool spam) {
            LearningSample s{identity, {}};
            for (const int k : kinds)
                if (index < (spam ? k : k / 2))
                    s.tokens.push_back(tokenHash("n" + std::to_string(k)));
            s.tokens.push_back(tokenHash(spam ? "spam-only" : "ham-only"));
            std::sort(s.tokens.begin(), s.tokens.end());
            return s;
        };
        std::vector<LearningSample> learned;
        const auto learn = [&](int from, int to, bool spam) {
            std::vector<LearningSample> batch;
            for (int i = from; i < to; ++i)
                batch.push_back(
                    message(std::uint64_t(spam ? 1000 : 2000) + std::uint64_t(i), i, spam));
            store.train(batch, spam ? LearnedVerdict::Spam : LearnedVerdict::Ham);
            learned.insert(learned.end(), batch.begin(), batch.end());
        };
        const auto expected = [&](const std::vector<TokenHash> &tokens) {
            const LearningParameters &p = store.parameters();
            std::vector<double> clues;
            for (const TokenHash t : tokens) {
                std::uint32_t spam = 0, ham = 0;
                for (const LearningSample &s : learned) {
                    if (std::find(s.tokens.begin(), s.tokens.end(), t) == s.tokens.end())
                        continue;
                    ++(s.identity < 2000 ? spam : ham);
                }
                const double f = spam + ham == 0
                                     ? p.unknownWordProbability
                                     : tokenSpamProbability(spam, ham, store.spamMessages(),
                                                            store.hamMessages(), p);
                if (std::abs(f - 0.5) >= p.minimumStrength)
                    clues.push_back(f);
            }
            return combineProbabilities(clues);
        };
        const auto check = [&](const char *when) {
            std::vector<TokenHash> all;
            for (const std::string &w : words) {
                const std::vector<TokenHash> one{tokenHash(w)};
                all.push_back(one.front());
                if (store.score(one) != expected(one))
                    QFAIL(qPrintable(u"%1: %2 scores %3, the statistics give %4"_s
                                         .arg(QLatin1StringView(when), QString::fromStdString(w))
                                         .arg(store.score(one))
                                         .arg(expected(one))));
            }
            std::sort(all.begin(), all.end());
            QCOMPARE(store.score(all), expected(all));
        };
        learn(0, 40, true);
        learn(0, 25, false);
        check("first training");
        if (QTest::currentTestFailed())
            return;
        learn(25, 60, false); // more ham: every f moves
        check("more ham");
        if (QTest::currentTestFailed())
            return;
        learn(40, 45, true);
        check("more spam");
        if (QTest::currentTestFailed())
            return;
        LearningParameters strong;
        strong.unknownWordStrength = 0.45;
        strong.minimumStrength = 0.1;
        store.setParameters(strong);
        check("other parameters");
        if (QTest::currentTestFailed())
            return;
        store.close();
        store.open();
        QCOMPARE(store.parameters().minimumStrength, 0.1);
        check("reopened");
    }

    void damagedOrForeignFileIsAnErrorNamingIt_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not a database") << QByteArray(4096, 'x');
        QTest::newRow("written by a newer version") << QByteArray(); // made below
    }
    void damagedOrForeignFileIsAnErrorNamingIt() {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString path = dir.filePath(LearningStore::FileName);
        if (content.isEmpty()) {
            LearningStore other(path);
            other.open();
            other.close();
            // A format this version does not know.
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"foreign"_s);
                db.setDatabaseName(path);
                QVERIFY(db.open());
                QVERIFY(QSqlQuery(db).exec(u"UPDATE info SET value = 99 WHERE key = 'version'"_s));
                db.close();
            }
            QSqlDatabase::removeDatabase(u"foreign"_s);
        } else {
            QVERIFY(test::writeFile(path, content));
        }
        LearningStore store(path);
        for (const auto access :
             {LearningStore::Access::ReadOnly, LearningStore::Access::ReadWrite}) {
            try {
                store.open(access);
                QFAIL("a damaged database was opened");
            } catch (const FileError &e) {
                QVERIFY2(e.message().contains(path), qPrintable(e.message()));
            }
            QVERIFY(!store.isOpen());
            QCOMPARE(store.score(sample(1, {"x"}).tokens), 0.5);
        }
        // Forgetting replaces it with an empty one.
        store.forget();
        QVERIFY(store.isOpen());
        QCOMPARE(store.spamMessages(), 0u);
    }

    void fullDiskLosesNoEarlierTraining() {
        test::FullDisk disk(256 * 1024);
        if (!disk.mounted())
            QSKIP(qPrintable(disk.error()));
        const QString path = disk.filePath(LearningStore::FileName);
        LearningStore store(path);
        store.open();
        const std::vector<LearningSample> before{sample(1, {"alpha", "beta"})};
        store.train(before, LearnedVerdict::Spam);
        QVERIFY(disk.fill());
        // Far more new tokens than the free pages the database has left.
        std::vector<LearningSample> big;
        for (std::uint64_t i = 0; i < 2000; ++i) {
            LearningSample s{1000 + i, {}};
            for (int k = 0; k < 20; ++k)
                s.tokens.push_back(tokenHash(std::to_string(i * 100 + std::uint64_t(k))));
            std::sort(s.tokens.begin(), s.tokens.end());
            big.push_back(std::move(s));
        }
        try {
            store.train(big, LearnedVerdict::Ham);
            QFAIL("training on a full disk was reported saved");
        } catch (const FileError &e) {
            QVERIFY2(e.message().contains(u"Nothing learned before is lost"_s),
                     qPrintable(e.message()));
            QVERIFY2(e.message().contains(path), qPrintable(e.message()));
        }
        // Memory and file still hold the earlier training, and nothing of the failed one.
        QCOMPARE(store.spamMessages(), 1u);
        QCOMPARE(store.hamMessages(), 0u);
        disk.release();
        LearningStore again(path);
        again.open();
        QCOMPARE(again.spamMessages(), 1u);
        QCOMPARE(again.hamMessages(), 0u);
        QCOMPARE(again.tokenCount(), 2);
        QCOMPARE(again.learnedAs(1), LearnedVerdict::Spam);
    }

    void scanCutOfFiles_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("headerLines");
        QTest::addColumn<QByteArrayList>("body");
        QTest::addColumn<qint64>("octets");
        QTest::newRow("saved by a mail program")
            << QByteArray("From someone Mon Jan 1\nSubject: a\n\nl1\n.l2\nl3\n") << 1
            << QByteArrayList{"l1", ".l2"} << qint64(12 + 2 + 4 + 5 + 4);
        QTest::newRow("archive POP3 form")
            << QByteArray("Subject: a\r\n\r\nl1\r\n..l2\r\n.\r\n") << 1
            << QByteArrayList{"l1", ".l2"} << qint64(12 + 2 + 4 + 5);
        QTest::newRow("header only") << QByteArray("Subject: a\nFrom: b\n\tc\n") << 3
                                     << QByteArrayList{} << qint64(12 + 9 + 4);
    }
    void scanCutOfFiles() {
        QFETCH(QByteArray, file);
        QFETCH(int, headerLines);
        QFETCH(QByteArrayList, body);
        QFETCH(qint64, octets);
        const std::optional<ScannedLines> cut = scannedLinesOf(file, 2);
        QVERIFY(cut);
        QCOMPARE(cut->header.size(), headerLines);
        QCOMPARE(cut->body, body);
        QCOMPARE(cut->octets, octets);
        QVERIFY(!scannedLinesOf("just some text\nand more\n", 2));
        QCOMPARE(messagesOfFile("From a\nSubject: 1\n\nx\n\nFrom b\nSubject: 2\n\ny\n").size(), 2);
    }

    void verdictsCombine_data() {
        QTest::addColumn<int>("source");
        QTest::addColumn<double>("learned");
        QTest::addColumn<bool>("confident");
        QTest::addColumn<bool>("veto");
        QTest::addColumn<int>("mark");
        QTest::addColumn<QString>("reason");
        using S = RuleVerdict::Source;
        const int spam = int(RowMark::Spam), plain = int(RowMark::Plain);
        QTest::newRow("rule overruled") << int(S::Rule) << 0.03 << true << true << plain
                                        << u"rule 1 overruled by learning (0.03)"_s;
        QTest::newRow("rule kept: not confident")
            << int(S::Rule) << 0.03 << false << true << spam << u"rule 1"_s;
        QTest::newRow("rule kept: veto off")
            << int(S::Rule) << 0.03 << true << false << spam << u"rule 1"_s;
        QTest::newRow("rule kept: above the ham cutoff")
            << int(S::Rule) << 0.11 << true << true << spam << u"rule 1"_s;
        QTest::newRow("black list never overruled")
            << int(S::EmailBlackList) << 0.0 << true << true << spam << u"e-mail black list"_s;
        QTest::newRow("learned spam")
            << int(S::None) << 0.90 << false << true << spam << u"learned 0.90"_s;
        QTest::newRow("plain with its score")
            << int(S::None) << 0.42 << true << true << plain << u"learned 0.42"_s;
        QTest::newRow("not scored") << int(S::None) << -1.0 << true << true << plain << QString();
    }
    void verdictsCombine() {
        QFETCH(int, source);
        QFETCH(double, learned);
        QFETCH(bool, confident);
        QFETCH(bool, veto);
        QFETCH(int, mark);
        QFETCH(QString, reason);
        RuleVerdict rules{RowMark::Plain, RuleVerdict::Source(source), 0};
        if (rules.source == RuleVerdict::Source::Rule)
            rules = {RowMark::Spam, rules.source, 1};
        else if (rules.source != RuleVerdict::Source::None)
            rules.mark = RowMark::Spam;
        const RowVerdict v =
            combineVerdicts(rules, learned < 0 ? std::nullopt : std::optional<double>(learned),
                            confident, LearningCut{0.90, 0.10, veto});
        QCOMPARE(int(v.mark), mark);
        QCOMPARE(v.reason, reason);
    }
};

QTEST_GUILESS_MAIN(TestLearning)
#include "tst_learning.moc"
