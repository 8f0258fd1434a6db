#include "core/platform/collation.h"
#include "core/rules/rulelists.h"

#include <QTest>

using namespace corvane;
using namespace Qt::StringLiterals;

namespace {
QStringList captions(const RuleList &list) {
    QStringList out;
    for (const RuleEntry &e : list)
        out << e.Caption;
    return out;
}
} // namespace

class TestRuleList final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initialContents() {
        const RuleLists lists;
        QCOMPARE(captions(lists.SubjectBlack),
                 (QStringList{u"failure notice"_s, u"Re: Approved"_s, u"Re: Details"_s,
                              u"Re: Re: My details"_s, u"Re: Re: My details"_s, u"Re: Thank you!"_s,
                              u"Re: That movie"_s, u"Re: Wicked screensaver"_s,
                              u"Re: Your application"_s, u"Thank you!"_s, u"Undeliverable Mail"_s,
                              u"Undelivered Mail"_s, u"Your details"_s}));
        QCOMPARE(lists.SubjectBlack.at(0).SubItems, QStringList{u"Bounced E-mail"_s});
        QCOMPARE(lists.SubjectBlack.at(12).SubItems, QStringList{u"Virus"_s});
        QVERIFY(lists.EmailBlack.isEmpty() && lists.Friendly.isEmpty() && lists.XandY.isEmpty());
        QVERIFY(lists.SubjectBlack.isSorted() && lists.EmailBlack.isSorted());
        QVERIFY(!lists.Friendly.isSorted() && !lists.XandY.isSorted());
        for (int n = 1; n <= MiscRules::Count; ++n)
            QVERIFY(lists.Misc.ticked(n));
        QCOMPARE(MiscRules::text(5), u"Subject contains 2 or more dollar ($) signs "_s);
        QCOMPARE(MiscRules::text(13), u"The words Success and Wealth in the subject"_s);
        // The rule texts are in ascending caption order, which is also their numbering.
        for (int n = 2; n <= MiscRules::Count; ++n)
            QVERIFY(compareCaptions(MiscRules::text(n - 1), MiscRules::text(n)) < 0);
        QCOMPARE(listFileName(ListKind::XandY), u"blsubxy.dat"_s);
        QCOMPARE(listColumns(ListKind::XandY),
                 (QStringList{u"Contains this"_s, u"and this"_s, u"Description"_s}));
    }

    // The order compares letters first and puts lower case before upper case of the same
    // letter, whatever the environment's locale says.
    void captionOrder_data() {
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("sorted");
        QTest::newRow("letters before case") << QStringList{u"B"_s, u"a"_s, u"b"_s, u"A"_s}
                                             << QStringList{u"a"_s, u"A"_s, u"b"_s, u"B"_s};
        QTest::newRow("aaa before failure notice") << QStringList{u"failure notice"_s, u"aaa"_s}
                                                   << QStringList{u"aaa"_s, u"failure notice"_s};
        QTest::newRow("not byte order") << QStringList{u"apple"_s, u"Zebra"_s, u"banana"_s}
                                        << QStringList{u"apple"_s, u"banana"_s, u"Zebra"_s};
        QTest::newRow("accents next to their letter")
            << QStringList{u"f"_s, u"\u00e9t\u00e9"_s, u"e"_s}
            << QStringList{u"e"_s, u"\u00e9t\u00e9"_s, u"f"_s};
        QTest::newRow("duplicates side by side") << QStringList{u"x"_s, u"m"_s, u"x"_s, u"a"_s}
                                                 << QStringList{u"a"_s, u"m"_s, u"x"_s, u"x"_s};
    }
    void captionOrder() {
        QFETCH(QStringList, added);
        QFETCH(QStringList, sorted);
        RuleList one(RuleList::Order::ByCaption);
        for (const QString &c : added)
            one.add(c, {u"d"_s});
        QCOMPARE(captions(one), sorted);

        RuleList bulk(RuleList::Order::ByCaption);
        QList<RuleEntry> entries;
        for (const QString &c : added)
            entries.append({c, {}});
        bulk.assign(entries);
        QCOMPARE(captions(bulk), sorted);

        RuleList unsorted(RuleList::Order::Insertion);
        for (const QString &c : added)
            unsorted.add(c, {});
        QCOMPARE(captions(unsorted), added);
    }

    void editsKeepTheOrder() {
        RuleList list(RuleList::Order::ByCaption);
        list.add(u"b"_s, {});
        list.add(u"d"_s, {});
        QCOMPARE(list.add(u"c"_s, {u"desc"_s}), 1);
        QCOMPARE(list.setCaption(1, u"z"_s), 2);
        QCOMPARE(captions(list), (QStringList{u"b"_s, u"d"_s, u"z"_s}));
        QCOMPARE(list.at(2).SubItems, QStringList{u"desc"_s});
        QCOMPARE(list.replace(2, {u"a"_s, {u"new"_s}}), 0);
        QCOMPARE(captions(list), (QStringList{u"a"_s, u"b"_s, u"d"_s}));
        list.removeAt(1);
        QCOMPARE(captions(list), (QStringList{u"a"_s, u"d"_s}));
    }

    void revisionChangesWithEveryEdit() {
        RuleList a, b;
        QVERIFY(a.revision() != b.revision());
        quint64 last = a.revision();
        const auto changed = [&] {
            const bool c = a.revision() != last;
            last = a.revision();
            return c;
        };
        a.add(u"x"_s, {});
        QVERIFY(changed());
        a.setCaption(0, u"y"_s);
        QVERIFY(changed());
        a.setSubItems(0, {u"z"_s});
        QVERIFY(changed());
        a.removeAt(0);
        QVERIFY(changed());
        a.assign({});
        QVERIFY(changed());
    }
};

QTEST_GUILESS_MAIN(TestRuleList)
#include "tst_rulelist.moc"
