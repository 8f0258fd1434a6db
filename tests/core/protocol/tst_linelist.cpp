#include "core/errors.h"
#include "core/protocol/linelist.h"

#include <QTest>

using corvane::LineList;

// The compact store of a message's body lines and text-part lines.
class TestLineList final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void holdsLinesExactly_data() {
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::newRow("none") << QList<QByteArray>{};
        QTest::newRow("one empty line") << QList<QByteArray>{QByteArray()};
        QTest::newRow("empty lines between") << QList<QByteArray>{"", "a", "", "", "bc", ""};
        QTest::newRow("bytes of every value")
            << QList<QByteArray>{QByteArray("\0\r\n\xff", 4), QByteArray(300, '\x80'), "."};
    }
    void holdsLinesExactly() {
        QFETCH(QList<QByteArray>, lines);
        LineList list;
        for (const QByteArray &l : lines)
            list.append(l);
        QCOMPARE(list.size(), lines.size());
        QCOMPARE(list.isEmpty(), lines.isEmpty());
        for (qsizetype i = 0; i < lines.size(); ++i)
            QCOMPARE(list.at(i), lines.at(i));
        QCOMPARE(list.toList(), lines);
        qsizetype i = 0;
        for (QByteArrayView l : list)
            QCOMPARE(l, lines.at(i++));
        QCOMPARE(i, lines.size());
        // Equal to the list it was built from, and different from one line more or less.
        QVERIFY(list == LineList(lines));
        QVERIFY(list == lines);
        QList<QByteArray> longer = lines;
        longer.append("x");
        QVERIFY(!(list == longer));
        if (!lines.isEmpty())
            QVERIFY(!(list == lines.mid(1)));
    }

    void lineBoundariesCount() {
        // The same bytes split differently are different lists.
        QVERIFY(!(LineList{"ab", "c"} == LineList{"a", "bc"}));
        QVERIFY(!(LineList{"", "a"} == LineList{"a", ""}));
    }
};

QTEST_GUILESS_MAIN(TestLineList)
#include "tst_linelist.moc"
