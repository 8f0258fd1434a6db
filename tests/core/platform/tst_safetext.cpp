#include "core/platform/safetext.h"

#include <QTest>

using namespace Qt::StringLiterals;
using corvane::safeText;

// Text from mail on its way into a log line, a terminal or a file name.
class TestSafeText final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void replace_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("safe");
        QTest::newRow("plain text kept")
            << u"Re: Gr\u00fc\u00dfe \U0001F525 \u05E9\u05DC\u05D5\u05DD"_s
            << u"Re: Gr\u00fc\u00dfe \U0001F525 \u05E9\u05DC\u05D5\u05DD"_s;
        QTest::newRow("forged log line")
            << u"Hi\r\nEmail from boss@x.org deleted"_s << u"Hi  Email from boss@x.org deleted"_s;
        QTest::newRow("tab, VT, FF, NEL") << u"a\tb\vc\fd\u0085e"_s << u"a b c d e"_s;
        QTest::newRow("terminal escape") << u"\x1b[2J\x1b]0;title\x07x"_s << u"?[2J?]0;title?x"_s;
        QTest::newRow("NUL and DEL") << (u"a"_s + QChar(0) + u"b\x7f"_s) << u"a?b?"_s;
        QTest::newRow("C1 CSI") << u"\u009b31mred"_s << u"?31mred"_s;
        QTest::newRow("line and paragraph separators") << u"a\u2028b\u2029c"_s << u"a b c"_s;
        QTest::newRow("bidi override") << u"invoice\u202Efdp.exe"_s << u"invoice?fdp.exe"_s;
        QTest::newRow("bidi isolates and marks")
            << u"\u2066a\u2069\u200E\u200F\u061C"_s << u"?a????"_s;
        QTest::newRow("empty") << QString() << QString();
    }
    void replace() {
        QFETCH(QString, text);
        QFETCH(QString, safe);
        QCOMPARE(safeText(text), safe);
    }

    void substitute() { QCOMPARE(safeText(u"a\x1b/b\nc"_s, u'-'), u"a-/b c"_s); }
};

QTEST_GUILESS_MAIN(TestSafeText)
#include "tst_safetext.moc"
