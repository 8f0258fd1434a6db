#include "core/protocol/maildate.h"

#include <QTest>
#include <QTimeZone>

#include <ctime>

using namespace corvane;
using namespace Qt::StringLiterals;

// Dates as mail programs write them, read to one moment; the row shows it in local time.
class TestMailDate final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parse_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QDateTime>("utc"); // invalid: unreadable

        auto utc = [](int y, int mo, int d, int h, int mi, int s) {
            return QDateTime(QDate(y, mo, d), QTime(h, mi, s), QTimeZone::utc());
        };
        QTest::newRow("full") << u"Tue, 3 Jun 2003 10:00:00 +0200"_s << utc(2003, 6, 3, 8, 0, 0);
        QTest::newRow("negative offset")
            << u"Tue, 03 Jun 2003 10:00:00 -0530"_s << utc(2003, 6, 3, 15, 30, 0);
        QTest::newRow("no day name, two-digit year, zone name")
            << u"3 Jun 03 10:00:00 GMT"_s << utc(2003, 6, 3, 10, 0, 0);
        QTest::newRow("zone names count zero")
            << u"3 Jun 2003 10:00:00 EST"_s << utc(2003, 6, 3, 10, 0, 0);
        QTest::newRow("year 80 is 1980")
            << u"1 Jan 80 00:00:00 +0000"_s << utc(1980, 1, 1, 0, 0, 0);
        QTest::newRow("year 79 is 2079")
            << u"1 Jan 79 00:00:00 +0000"_s << utc(2079, 1, 1, 0, 0, 0);
        QTest::newRow("three-digit year")
            << u"1 Jan 103 00:00:00 +0000"_s << utc(2003, 1, 1, 0, 0, 0);
        QTest::newRow("month before day")
            << u"Tue, Jun 3 2003 10:00:00 +0000"_s << utc(2003, 6, 3, 10, 0, 0);
        QTest::newRow("dashes") << u"3-Jun-2003 10:00:00 +0100"_s << utc(2003, 6, 3, 9, 0, 0);
        QTest::newRow("long names")
            << u"Tuesday, 3 June 2003 10:00:00 +0000"_s << utc(2003, 6, 3, 10, 0, 0);
        QTest::newRow("no seconds") << u"3 Jun 2003 10:07 +0000"_s << utc(2003, 6, 3, 10, 7, 0);
        QTest::newRow("no time") << u"3 Jun 2003"_s << utc(2003, 6, 3, 0, 0, 0);
        QTest::newRow("glued zone") << u"3 Jun 2003 10:00:00+0200"_s << utc(2003, 6, 3, 8, 0, 0);
        QTest::newRow("zone with colon")
            << u"3 Jun 2003 10:00:00 +02:00"_s << utc(2003, 6, 3, 8, 0, 0);
        QTest::newRow("trailing comment")
            << u"Tue, 3 Jun 2003 10:00:00 +0200 (CEST)"_s << utc(2003, 6, 3, 8, 0, 0);
        QTest::newRow("short zone counts zero")
            << u"3 Jun 2003 10:00:00 +02"_s << utc(2003, 6, 3, 10, 0, 0);
        QTest::newRow("asctime form") << u"Tue Jun  3 10:00:00 2003"_s << utc(2003, 6, 3, 10, 0, 0);
        QTest::newRow("leap second")
            << u"31 Dec 2016 23:59:60 +0000"_s << utc(2016, 12, 31, 23, 59, 59);
        QTest::newRow("empty") << u""_s << QDateTime();
        QTest::newRow("words") << u"yesterday at noon"_s << QDateTime();
        QTest::newRow("ISO form") << u"2003-06-03 10:00:00"_s << QDateTime();
        QTest::newRow("31 February") << u"31 Feb 2003 10:00:00 +0000"_s << QDateTime();
        QTest::newRow("hour 24") << u"3 Jun 2003 24:00:00 +0000"_s << QDateTime();
        QTest::newRow("no year") << u"3 Jun 10:00:00 +0000"_s << QDateTime();
        QTest::newRow("five-digit year") << u"3 Jun 20033 10:00:00"_s << QDateTime();
        QTest::newRow("late in 9999")
            << u"30 Dec 9999 23:59:59 +0000"_s << utc(9999, 12, 30, 23, 59, 59);
        QTest::newRow("offset pushes past 9999") << u"31 Dec 9999 23:00:00 -0200"_s << QDateTime();
        QTest::newRow("offset pushes before the year 1")
            << u"1 Jan 0001 00:30:00 +0100"_s << QDateTime();
    }
    void parse() {
        QFETCH(QString, value);
        QFETCH(QDateTime, utc);
        const QDateTime got = parseMailDate(value);
        QCOMPARE(got.isValid(), utc.isValid());
        if (utc.isValid()) {
            QCOMPARE(got.timeSpec(), Qt::LocalTime);
            QCOMPARE(got.toUTC(), utc);
        }
    }

    void readOnUtcMachine() {
        // On a machine whose zone is UTC, +0200 at 10:00 shows as 08:00.
        const QByteArray oldTz = qgetenv("TZ");
        qputenv("TZ", "UTC");
        tzset();
        const QDateTime got = parseMailDate(u"Tue, 3 Jun 2003 10:00:00 +0200");
        QCOMPARE(got.date(), QDate(2003, 6, 3));
        QCOMPARE(got.time(), QTime(8, 0));
        if (oldTz.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", oldTz);
        tzset();
    }

    void format() {
        const QDateTime moment(QDate(2003, 6, 3), QTime(8, 0, 5), QTimeZone::utc());
        const QByteArray text = formatMailDate(moment);
        // The local form with its offset reads back as the same moment.
        QCOMPARE(parseMailDate(QString::fromLatin1(text)).toUTC(), moment);
        QVERIFY(QRegularExpression(u"^[A-Z][a-z]{2}, \\d\\d [A-Z][a-z]{2} \\d{4} "
                                   u"\\d\\d:\\d\\d:\\d\\d [+-]\\d{4}$"_s)
                    .match(QString::fromLatin1(text))
                    .hasMatch());
        const QByteArray oldTz = qgetenv("TZ");
        qputenv("TZ", "UTC");
        tzset();
        QCOMPARE(formatMailDate(moment), QByteArray("Tue, 03 Jun 2003 08:00:05 +0000"));
        if (oldTz.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", oldTz);
        tzset();
    }
};

QTEST_GUILESS_MAIN(TestMailDate)
#include "tst_maildate.moc"
