#include "core/screening/classify.h"

#include <QRandomGenerator>
#include <QTest>

using namespace corvane;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(corvane::RowMark)

namespace {

// Lists for the table below: everything empty, every rule ticked unless a row says otherwise.
struct Fixture {
    QStringList friendly = {};
    QStringList subjectBlack = {};
    QStringList emailBlack = {};
    QList<QStringList> xandy = {}; // caption, second word
    QList<int> untick = {};        // rule numbers to clear; -1 clears all
};

RuleLists make(const Fixture &f) {
    RuleLists lists;
    lists.SubjectBlack.clear();
    for (const QString &c : f.friendly)
        lists.Friendly.add(c, {QString()});
    for (const QString &c : f.subjectBlack)
        lists.SubjectBlack.add(c, {QString()});
    for (const QString &c : f.emailBlack)
        lists.EmailBlack.add(c, {QString()});
    for (const QStringList &xy : f.xandy)
        lists.XandY.add(xy.value(0), xy.mid(1));
    for (int n : f.untick) {
        if (n < 0)
            lists.Misc.setAll(false);
        else
            lists.Misc.setTicked(n, false);
    }
    return lists;
}

} // namespace

class TestClassify final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void classify_data() {
        QTest::addColumn<Fixture>("lists");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QString>("headers");
        QTest::addColumn<RowMark>("mark");
        const Fixture none;
        const Fixture noRules{{}, {}, {}, {}, {-1}};
        const QString bob = u"Bob <bob@example.com>"_s;

        QTest::newRow("nothing matches")
            << none << u"Lunch on Friday?"_s << bob << QString() << RowMark::Plain;
        QTest::newRow("friendly wins over rules and lists")
            << Fixture{{u"@example.com"_s}, {u"lunch"_s}, {u"bob"_s}, {}, {}}
            << u"FREE lunch!!! viagra"_s << bob << u"X-Spam-Score: 9.9\r\n"_s << RowMark::Friendly;
        QTest::newRow("friendly entry folded") << Fixture{.friendly = {u"BOB@EXAMPLE"_s}} << u"Hi"_s
                                               << bob << QString() << RowMark::Friendly;
        QTest::newRow("friendly matches the display name")
            << Fixture{.friendly = {u"bob <"_s}} << u"Hi"_s << bob << QString()
            << RowMark::Friendly;
        QTest::newRow("empty friendly entry never matches")
            << Fixture{{QString()}, {}, {}, {}, {}} << u"Hi"_s << bob << QString()
            << RowMark::Plain;

        QTest::newRow("rule 1 Free") << none << u"Free gift"_s << bob << QString() << RowMark::Spam;
        QTest::newRow("rule 1 FREE") << none << u"FREE gift"_s << bob << QString() << RowMark::Spam;
        QTest::newRow("rule 1 unticked")
            << Fixture{{}, {}, {}, {}, {1}} << u"FREE gift"_s << bob << QString() << RowMark::Plain;
        QTest::newRow("rule 2") << none << u"100% Guaranteed"_s << bob << QString()
                                << RowMark::Spam;
        QTest::newRow("rule 3 both words")
            << none << u"Your CREDIT-card"_s << bob << QString() << RowMark::Spam;
        QTest::newRow("rule 3 one word")
            << none << u"credit union"_s << bob << QString() << RowMark::Plain;
        QTest::newRow("rule 5 adjacent")
            << none << u"Win $$ now"_s << bob << QString() << RowMark::Spam;
        QTest::newRow("rule 5 apart")
            << none << u"$5 or $10"_s << bob << QString() << RowMark::Plain;
        QTest::newRow("rule 6") << none << u"Wow!!!"_s << bob << QString() << RowMark::Spam;
        QTest::newRow("rule 6 two only")
            << none << u"Wow!! !"_s << bob << QString() << RowMark::Plain;
        QTest::newRow("rule 7 four blanks")
            << none << u"a    b"_s << bob << QString() << RowMark::Spam;
        QTest::newRow("rule 7 three blanks")
            << none << u"a   b"_s << bob << QString() << RowMark::Plain;
        QTest::newRow("rule 8") << none << u"Extra Income"_s << bob << QString() << RowMark::Spam;
        QTest::newRow("rule 9 sender")
            << none << u"Hi"_s << u"Supermarket <a@b.c>"_s << QString() << RowMark::Spam;
        QTest::newRow("rule 9 not the subject")
            << none << u"Market report"_s << bob << QString() << RowMark::Plain;
        QTest::newRow("rule 10") << none << u"cheap VALIUM"_s << bob << QString() << RowMark::Spam;
        QTest::newRow("rule 11 display name")
            << none << u"Hi"_s << u"Easy Money <a@b.c>"_s << QString() << RowMark::Spam;
        QTest::newRow("rule 12") << none << u"erection"_s << bob << QString() << RowMark::Spam;
        QTest::newRow("rule 13 misspelt")
            << none << u"Sucess and Wealth"_s << bob << QString() << RowMark::Spam;
        QTest::newRow("rule 13 spelt right")
            << none << u"success and wealth"_s << bob << QString() << RowMark::Plain;
        QTest::newRow("score 2.9")
            << none << u"Hi"_s << bob << u"X-Spam-Score: 2.9\r\n"_s << RowMark::Plain;
        QTest::newRow("score 3.0")
            << none << u"Hi"_s << bob << u"X-Spam-Score: 3.0\r\n"_s << RowMark::Spam;
        QTest::newRow("score lower case")
            << none << u"Hi"_s << bob << u"x-spam-score: 4.0\r\n"_s << RowMark::Spam;
        QTest::newRow("score whole number")
            << none << u"Hi"_s << bob << u"Subject: Hi\r\nX-Spam-Score: 4\r\n"_s << RowMark::Spam;
        QTest::newRow("rule 4 unticked") << Fixture{{}, {}, {}, {}, {4}} << u"Hi"_s << bob
                                         << u"X-Spam-Score: 9.0\r\n"_s << RowMark::Plain;

        QTest::newRow("subject black list")
            << Fixture{.subjectBlack = {u"Re: Details"_s}} << u"re: details of your order"_s << bob
            << QString() << RowMark::Spam;
        QTest::newRow("e-mail black list domain")
            << Fixture{.emailBlack = {u"@spam.example"_s}} << u"Hi"_s << u"x <y@SPAM.example>"_s
            << QString() << RowMark::Spam;
        QTest::newRow("e-mail black list plain word")
            << Fixture{.emailBlack = {u"bob"_s}} << u"Hi"_s << bob << QString() << RowMark::Spam;
        QTest::newRow("empty subject matches no subject entry")
            << Fixture{{}, {u"a"_s}, {}, {{u"a"_s, u"b"_s}}, {}} << QString() << bob << QString()
            << RowMark::Plain;
        QTest::newRow("x and y both words")
            << Fixture{{}, {}, {}, {{u"cheap"_s, u"pills"_s}}, {}} << u"Pills, cheap!"_s << bob
            << QString() << RowMark::Spam;
        QTest::newRow("x and y one word")
            << Fixture{{}, {}, {}, {{u"cheap"_s, u"pills"_s}}, {}} << u"cheap flights"_s << bob
            << QString() << RowMark::Plain;
        QTest::newRow("x and y empty second word")
            << Fixture{{}, {}, {}, {{u"cheap"_s, QString()}}, {}} << u"cheap"_s << bob << QString()
            << RowMark::Plain;
        QTest::newRow("x and y without second word")
            << Fixture{{}, {}, {}, {{u"cheap"_s}}, {}} << u"cheap"_s << bob << QString()
            << RowMark::Plain;
        QTest::newRow("x and y same word twice")
            << Fixture{{}, {}, {}, {{u"win"_s, u"win"_s}}, {}} << u"we win"_s << bob << QString()
            << RowMark::Spam;
        QTest::newRow("folding is A-Z only")
            << Fixture{.subjectBlack = {u"\u00c9T\u00c9"_s}} << u"\u00e9t\u00e9"_s << bob
            << QString() << RowMark::Plain;
        QTest::newRow("non-ASCII entries match exactly")
            << Fixture{.subjectBlack = {u"Gr\u00fc\u00dfe"_s}} << u"Viele GR\u00fc\u00dfe"_s << bob
            << QString() << RowMark::Spam;
        QTest::newRow("no rules, no lists")
            << noRules << u"FREE $$$ !!!"_s << bob << u"X-Spam-Score: 20\r\n"_s << RowMark::Plain;
    }
    void classify() {
        QFETCH(Fixture, lists);
        QFETCH(QString, subject);
        QFETCH(QString, sender);
        QFETCH(QString, headers);
        QFETCH(RowMark, mark);
        const RuleLists rl = make(lists);
        QCOMPARE(ClassifyMessageReference(rl, subject, sender, headers), mark);
        Classifier classifier;
        QCOMPARE(classifier.ClassifyMessage(rl, subject, sender, headers), mark);
    }

    void spamScore_data() {
        QTest::addColumn<QString>("headers");
        QTest::addColumn<int>("score"); // INT_MIN: no score
        const int none = INT_MIN;
        QTest::newRow("absent") << u"Subject: hi\r\n"_s << none;
        QTest::newRow("2.9") << u"X-Spam-Score: 2.9\r\n"_s << 2;
        QTest::newRow("3.0") << u"X-Spam-Score: 3.0\r\n"_s << 3;
        QTest::newRow("10.5") << u"X-Spam-Score: 10.5\r\n"_s << 10;
        QTest::newRow("12.0") << u"X-Spam-Score: 12.0\r\n"_s << 12;
        QTest::newRow("-5.0") << u"X-Spam-Score: -5.0\r\n"_s << -5;
        QTest::newRow("-1.5") << u"X-Spam-Score: -1.5\r\n"_s << -1;
        QTest::newRow("150 reads two characters") << u"X-Spam-Score: 150\r\n"_s << 15;
        QTest::newRow("one digit and a blank") << u"X-Spam-Score: 7 (high)\r\n"_s << 7;
        QTest::newRow("lower case label") << u"x-spam-score: 4.0\r\n"_s << 4;
        QTest::newRow("first occurrence counts")
            << u"X-Spam-Score: 1.0\r\nX-Spam-Score: 9.0\r\n"_s << 1;
        QTest::newRow("label within another header") << u"X-Old-X-Spam-Score: 5.0\r\n"_s << 5;
        QTest::newRow("whole number then CR LF") << u"X-Spam-Score: 4\r\n"_s << 4;
        QTest::newRow("whole number then LF") << u"X-Spam-Score: 5\nX-Other: 1\n"_s << 5;
        QTest::newRow("whole number at the end of the text") << u"X-Spam-Score: 9"_s << 9;
        QTest::newRow("sign at the end of the text") << u"X-Spam-Score: -"_s << none;
        QTest::newRow("label then the line break") << u"X-Spam-Score: \r\n"_s << none;
        QTest::newRow("label at the very end") << u"X-Spam-Score: "_s << none;
        QTest::newRow("sign without a digit") << u"X-Spam-Score: -.5\r\n"_s << none;
        QTest::newRow("letters") << u"X-Spam-Score: ab\r\n"_s << none;
        QTest::newRow("blank in front") << u"X-Spam-Score:  4.0\r\n"_s << 4;
        QTest::newRow("no blank after the colon") << u"X-Spam-Score:5.0\r\n"_s << none;
    }
    void spamScore() {
        QFETCH(QString, headers);
        QFETCH(int, score);
        const std::optional<int> got = corvane::spamScore(headers);
        QCOMPARE(got.value_or(INT_MIN), score);
        // What a listed row keeps of the header gives the same score.
        const QString excerpt = corvane::spamScoreExcerpt(headers);
        QVERIFY(excerpt.size() <= 16);
        QCOMPARE(corvane::spamScore(excerpt).value_or(INT_MIN), score);
    }

    // The fast classifier against the straightforward one, on random lists and messages from
    // a small alphabet (so that matches are frequent), with lists edited between messages. Short
    // entries over a mixed alphabet (letters of one to three bytes, surrogates, the rule words),
    // and many long entries over few letters: they share long prefixes and end in one another,
    // which takes the automata's deep levels, the rests kept as text and the suffix chains; and
    // many short entries over every letter, whose nodes have many children.
    void matchesTheReference_data() {
        QTest::addColumn<QString>("letters");
        QTest::addColumn<int>("entries");  // at most, in each list
        QTest::addColumn<int>("shortest"); // entries of the black lists
        QTest::addColumn<int>("longest");
        QTest::addColumn<int>("friendlyShortest");
        QTest::addColumn<int>("friendlyLongest");
        QTest::addColumn<int>("pairWords"); // the longest X-and-Y word
        QTest::addColumn<int>("textLength");
        QTest::newRow("short entries, mixed alphabet")
            << u"abAB $!x\u00e9\u00c9\u65e5\xd83d\xde00@."_s << 25 << 0 << 4 << 0 << 5 << 2 << 12;
        QTest::newRow("long entries sharing prefixes")
            << u"abA\u00e9"_s << 200 << 9 << 14 << 7 << 12 << 9 << 30;
        QTest::newRow("many entries, every letter")
            << u"abcdefghijklmnopqrstuvwxyzAB"_s << 1000 << 3 << 5 << 3 << 3 << 3 << 16;
    }
    void matchesTheReference() {
        QFETCH(QString, letters);
        QFETCH(int, entries);
        QFETCH(int, shortest);
        QFETCH(int, longest);
        QFETCH(int, friendlyShortest);
        QFETCH(int, friendlyLongest);
        QFETCH(int, pairWords);
        QFETCH(int, textLength);
        QRandomGenerator rng(20261210);
        const QStringList ruleWords = {u"free"_s,  u"CREDIT"_s, u"card"_s,   u"$$"_s,
                                       u"!!!"_s,   u"    "_s,   u"cash"_s,   u"Market"_s,
                                       u"money"_s, u"sucess"_s, u"wealth"_s, u"loan"_s};
        const auto word = [&](int minLength, int maxLength) {
            QString w;
            const int n = minLength + rng.bounded(maxLength - minLength + 1);
            for (int i = 0; i < n; ++i)
                w += letters[rng.bounded(letters.size())];
            return w;
        };
        const auto text = [&] {
            QString t = word(0, textLength);
            if (rng.bounded(6) == 0)
                t.insert(rng.bounded(t.size() + 1), ruleWords[rng.bounded(ruleWords.size())]);
            return t;
        };
        int compared = 0, spam = 0, friendly = 0;
        for (int round = 0; round < 150; ++round) {
            RuleLists lists;
            const auto fill = [&](RuleList &list, int minLength, int maxLength, bool pair) {
                list.clear();
                const int n = rng.bounded(entries);
                for (int i = 0; i < n; ++i)
                    list.add(word(minLength, maxLength),
                             pair ? QStringList{word(minLength, maxLength)} : QStringList{});
            };
            fill(lists.Friendly, friendlyShortest, friendlyLongest, false);
            fill(lists.SubjectBlack, shortest, longest, false);
            fill(lists.EmailBlack, shortest, longest, false);
            fill(lists.XandY, 0, pairWords, true);
            for (int n = 1; n <= MiscRules::Count; ++n)
                lists.Misc.setTicked(n, rng.bounded(3) == 0);
            Classifier classifier;
            for (int m = 0; m < 60; ++m) {
                if (rng.bounded(10) == 0) {
                    RuleList &l = lists.list(kAllListKinds[rng.bounded(4)]);
                    if (!l.isEmpty() && rng.bounded(2))
                        l.removeAt(rng.bounded(l.size()));
                    else
                        l.add(word(shortest, longest), {word(0, pairWords)});
                }
                const QString subject = text(), sender = text();
                const QString headers = rng.bounded(4) == 0
                                            ? u"X-Spam-Score: "_s + word(0, 2) + u"\r\n"_s
                                            : u"Received: x\r\n"_s;
                const RowMark expected = ClassifyMessageReference(lists, subject, sender, headers);
                const RowMark got = classifier.ClassifyMessage(lists, subject, sender, headers);
                if (got != expected)
                    QFAIL(qPrintable(u"subject '%1' sender '%2': expected %3, got %4"_s.arg(
                        subject, sender, QLatin1StringView(rowMarkName(expected)),
                        QLatin1StringView(rowMarkName(got)))));
                ++compared;
                spam += expected == RowMark::Spam;
                friendly += expected == RowMark::Friendly;
            }
        }
        // The generator must exercise every outcome, or the comparison proves little.
        QVERIFY(spam > compared / 10);
        QVERIFY(friendly > compared / 20);
        QVERIFY(compared - spam - friendly > compared / 10);
    }
};

QTEST_GUILESS_MAIN(TestClassify)
#include "tst_classify.moc"
