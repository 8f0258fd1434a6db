#include "core/protocol/encodedwords.h"

#include <QTest>

using namespace corvane;
using namespace Qt::StringLiterals;

// Header text arrives as raw bytes with RFC 2047 encoded words; subjects and names must come
// out as the Unicode text a user reads and the black lists match.
class TestEncodedWords final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void decode_data() {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QString>("text");

        QTest::newRow("Q latin-1")
            << QByteArray("=?iso-8859-1?Q?Caf=E9_ouvert?=") << u"Caf\u00e9 ouvert"_s;
        QTest::newRow("Q lower-case letter") << QByteArray("=?ISO-8859-1?q?a=5Fb?=") << u"a_b"_s;
        QTest::newRow("B UTF-8") << QByteArray("=?UTF-8?B?Q2Fmw6k=?=") << u"Caf\u00e9"_s;
        QTest::newRow("Q UTF-8") << QByteArray("=?utf-8?Q?Gr=C3=BC=C3=9Fe?=")
                                 << u"Gr\u00fc\u00dfe"_s;
        QTest::newRow("windows-1251") << QByteArray("=?windows-1251?B?7/Do4uXy?=")
                                      << u"\u043f\u0440\u0438\u0432\u0435\u0442"_s;
        QTest::newRow("KOI8-R") << QByteArray("=?koi8-r?Q?=D0=D2=C9=D7=C5=D4?=")
                                << u"\u043f\u0440\u0438\u0432\u0435\u0442"_s;
        QTest::newRow("ISO-2022-JP")
            << QByteArray("=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=") << u"\u30c6\u30b9\u30c8"_s;
        QTest::newRow("ISO-8859-1 read as Windows-1252")
            << QByteArray("=?iso-8859-1?Q?=80?=") << u"\u20ac"_s;
        QTest::newRow("language suffix") << QByteArray("=?UTF-8*en?Q?hi?=") << u"hi"_s;
        QTest::newRow("unknown set stays")
            << QByteArray("=?x-nonsense?Q?abc?=") << u"=?x-nonsense?Q?abc?="_s;
        QTest::newRow("text around words")
            << QByteArray("Re: =?utf-8?Q?caf=C3=A9?= now") << u"Re: caf\u00e9 now"_s;
        QTest::newRow("blanks between words dropped")
            << QByteArray("=?utf-8?Q?Bank_of_Amer?= \t =?utf-8?Q?ica?=") << u"Bank of America"_s;
        QTest::newRow("character split between words")
            << QByteArray("=?UTF-8?B?w6k=?==?UTF-8?B?w6k=?= =?UTF-8?Q?=C3?= =?UTF-8?Q?=A9?=")
            << u"\u00e9\u00e9\u00e9"_s;
        QTest::newRow("words in two sets")
            << QByteArray("=?iso-8859-1?Q?=E9?= =?utf-8?Q?=C3=A9?=") << u"\u00e9\u00e9"_s;
        QTest::newRow("text between words stays")
            << QByteArray("=?utf-8?Q?a?= x =?utf-8?Q?b?=") << u"a x b"_s;
        QTest::newRow("missing end") << QByteArray("=?utf-8?Q?abc") << u"=?utf-8?Q?abc"_s;
        QTest::newRow("missing letter") << QByteArray("=?utf-8?abc?=") << u"=?utf-8?abc?="_s;
        QTest::newRow("broken then good") << QByteArray("=?? =?utf-8?Q?ok?=") << u"=?? ok"_s;
        QTest::newRow("B with junk and inner padding")
            << QByteArray("=?utf-8?B?Y*W=Jj?=") << u"a&"_s;
        QTest::newRow("raw UTF-8 bytes") << QByteArray("Caf\xc3\xa9") << u"Caf\u00e9"_s;
        QTest::newRow("raw Windows-1252 bytes")
            << QByteArray("Caf\xe9 \x80") << u"Caf\u00e9 \u20ac"_s;
        QTest::newRow("NUL removed") << QByteArray("a\0b=?utf-8?Q?c=00d?=", 20) << u"abcd"_s;
    }
    void decode() {
        QFETCH(QByteArray, raw);
        QFETCH(QString, text);
        QCOMPARE(decodeHeaderText(raw), text);
    }

    void encodeRoundTrip_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("latin") << u"Caf\u00e9 ouvert"_s;
        QTest::newRow("specials") << u"\u00e9 a=b?c_d \"e\" (f) <g>, h; =?x?Q?y?="_s;
        QTest::newRow("blanks at the ends") << u"  padded  "_s;
        QTest::newRow("surrogates") << u"smile \U0001F600 \U0001F600\U0001F600"_s;
        QTest::newRow("long") << QString(500, u'\u00e9');
        QTest::newRow("controls") << u"line\r\nbreak\u0001"_s;
    }
    void encodeRoundTrip() {
        QFETCH(QString, text);
        QVERIFY(needsEncodedWords(text));
        const QList<QByteArray> words = encodeWords(text);
        QByteArray joined;
        for (const QByteArray &w : words) {
            QVERIFY2(w.size() <= 75, w.constData());
            for (char c : w)
                QVERIFY(c > 0x20 && c < 0x7F);
            joined += (joined.isEmpty() ? "" : " ") + w;
        }
        QCOMPARE(decodeHeaderText(joined), text);
    }

    void plainTextNeedsNoWords() {
        QVERIFY(!needsEncodedWords(u"Re: plain subject\twith tab"_s));
        QVERIFY(!needsEncodedWords(u"=?x-unknown?Q?left as received?="_s));
        QVERIFY(needsEncodedWords(QString(901, u'x')));
    }

    void charsets() {
        QCOMPARE(decodeCharset("\xe9", u"ISO-8859-15"), u"\u00e9"_s);
        QCOMPARE(decodeCharset("\xa4", u"iso-8859-15"), u"\u20ac"_s);
        QVERIFY(!decodeCharset("x", u"no-such-set"));
        QVERIFY(!decodeCharset("x", u""));
        QVERIFY(!decodeCharset("x", u"utf 8"));
    }
};

QTEST_GUILESS_MAIN(TestEncodedWords)
#include "tst_encodedwords.moc"
