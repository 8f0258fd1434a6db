#include "core/errors.h"
#include "core/protocol/mailaddress.h"

#include <QTest>

using namespace corvane;
using namespace Qt::StringLiterals;

// Addresses are parsed from header values and shown in their text forms everywhere: the From
// column, the sender rules and the deletion log.
class TestMailAddress final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parseList_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("addresses");

        QTest::newRow("bare") << u"joe@example.com"_s << QStringList{u""_s}
                              << QStringList{u"joe@example.com"_s};
        QTest::newRow("name and angle")
            << u"Joe Bloggs <joe@example.com>"_s << QStringList{u"Joe Bloggs"_s}
            << QStringList{u"joe@example.com"_s};
        QTest::newRow("quoted name with comma")
            << u"\"Bloggs, Joe\" <joe@example.com>"_s << QStringList{u"Bloggs, Joe"_s}
            << QStringList{u"joe@example.com"_s};
        QTest::newRow("backslash escapes")
            << u"\"Joe \\\"The Man\\\" B\\\\\" <joe@example.com>"_s
            << QStringList{u"Joe \"The Man\" B\\"_s} << QStringList{u"joe@example.com"_s};
        QTest::newRow("comment as name")
            << u"joe@example.com (Joe Bloggs)"_s << QStringList{u"Joe Bloggs"_s}
            << QStringList{u"joe@example.com"_s};
        QTest::newRow("nested comment")
            << u"joe@example.com (Joe (the) Bloggs)"_s << QStringList{u"Joe (the) Bloggs"_s}
            << QStringList{u"joe@example.com"_s};
        QTest::newRow("angle only")
            << u"<joe@example.com>"_s << QStringList{u""_s} << QStringList{u"joe@example.com"_s};
        QTest::newRow("two, comma in quotes")
            << u"\"A, B\" <a@x.org>, c@y.org"_s << QStringList{u"A, B"_s, u""_s}
            << QStringList{u"a@x.org"_s, u"c@y.org"_s};
        QTest::newRow("semicolon separates") << u"a@x.org; b@y.org"_s << QStringList{u""_s, u""_s}
                                             << QStringList{u"a@x.org"_s, u"b@y.org"_s};
        QTest::newRow("empty items skipped")
            << u" , a@x.org,, "_s << QStringList{u""_s} << QStringList{u"a@x.org"_s};
        QTest::newRow("empty") << u""_s << QStringList{} << QStringList{};
        QTest::newRow("group with members")
            << u"Friends: a@x.org, B <b@y.org>;"_s << QStringList{u""_s, u"B"_s}
            << QStringList{u"a@x.org"_s, u"b@y.org"_s};
        QTest::newRow("empty group kept")
            << u"undisclosed-recipients:;"_s << QStringList{u"undisclosed-recipients"_s}
            << QStringList{u""_s};
        QTest::newRow("source route dropped")
            << u"<@relay.net:joe@example.com>"_s << QStringList{u""_s}
            << QStringList{u"joe@example.com"_s};
        QTest::newRow("quoted local part") << u"\"joe smith\"@example.com"_s << QStringList{u""_s}
                                           << QStringList{u"joe smith@example.com"_s};
        QTest::newRow("encoded name decoded after split")
            << u"=?UTF-8?Q?Doe=2C_J=C3=B6rg?= <j@x.org>, k@y.org"_s
            << QStringList{u"Doe, J\u00f6rg"_s, u""_s} << QStringList{u"j@x.org"_s, u"k@y.org"_s};
        QTest::newRow("no address at all")
            << u"Promotions"_s << QStringList{u""_s} << QStringList{u"Promotions"_s};
        QTest::newRow("unclosed angle") << u"Joe <joe@example.com"_s << QStringList{u"Joe"_s}
                                        << QStringList{u"joe@example.com"_s};
        QTest::newRow("unclosed quote") << u"\"Joe <joe@example.com>"_s << QStringList{u""_s}
                                        << QStringList{u"Joe <joe@example.com>"_s};
    }
    void parseList() {
        QFETCH(QString, value);
        QFETCH(QStringList, names);
        QFETCH(QStringList, addresses);
        const MailAddressList list = parseAddressList(value);
        QStringList gotNames, gotAddresses;
        for (const MailAddress &a : list) {
            gotNames.append(a.Name);
            gotAddresses.append(a.Address);
        }
        QCOMPARE(gotNames, names);
        QCOMPARE(gotAddresses, addresses);
    }

    void outsideAddress_data() {
        QTest::addColumn<QString>("value");
        QTest::newRow("at after angle") << u"Joe <joe@x.org>@evil.org"_s;
        QTest::newRow("second address without comma") << u"<a@x.org> b@y.org"_s;
        QTest::newRow("in the second item") << u"a@x.org, <b@y.org>@c"_s;
    }
    void outsideAddress() {
        QFETCH(QString, value);
        try {
            parseAddressList(value);
            QFAIL("no error");
        } catch (const DataError &e) {
            QCOMPARE(e.message(), u"@ Outside address"_s);
        }
        // The lenient form used for the fields nothing but writing depends on keeps going.
        QVERIFY(!parseAddressListLenient(value).isEmpty());
    }

    void senderLenient_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("text"); // the sender text the lists and rules see
        QTest::newRow("strict reading kept")
            << u"\"Doe, Jane\" <jane@x.org>"_s << u"\"Doe, Jane\" <jane@x.org>"_s;
        QTest::newRow("at after angle")
            << u"Loan Market <x@spam.biz>@a"_s << u"Loan Market <x@spam.biz>"_s;
        QTest::newRow("quoted name, at after angle")
            << u"\"Easy Money\" <m@spam.biz>@x@y"_s << u"Easy Money <m@spam.biz>"_s;
        QTest::newRow("encoded name, at after angle")
            << u"=?UTF-8?Q?Cr=C3=A9dit?= <c@spam.biz>@a"_s << u"Cr\u00e9dit <c@spam.biz>"_s;
        QTest::newRow("last angle with an at wins")
            << u"<a@x.org> b <c@y.org>@z"_s << u"\"<a@x.org> b\" <c@y.org>"_s;
        QTest::newRow("empty angle, at after it") << u"Spammer <>@x"_s << u"\"Spammer <>\"@x"_s;
        QTest::newRow("comment only") << u"(Promotions)"_s << u"\"(Promotions)\""_s;
        QTest::newRow("empty group kept")
            << u"undisclosed-recipients:;"_s << u"undisclosed-recipients:;"_s;
        QTest::newRow("empty") << u""_s << u""_s;
    }
    void senderLenient() {
        QFETCH(QString, value);
        QFETCH(QString, text);
        const MailAddress a = parseSenderLenient(value);
        QCOMPARE(a.text(), text);
        QCOMPARE(a.text().isEmpty(), value.trimmed().isEmpty());
    }

    void textForm_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("text");
        QTest::newRow("address alone") << u""_s << u"joe@example.com"_s << u"joe@example.com"_s;
        QTest::newRow("letters and blanks")
            << u"Joe Bloggs"_s << u"joe@example.com"_s << u"Joe Bloggs <joe@example.com>"_s;
        QTest::newRow("atom specials stay bare")
            << u"J!#$%&'*+-/=?_`{}|~"_s << u"j@x.org"_s << u"J!#$%&'*+-/=?_`{}|~ <j@x.org>"_s;
        QTest::newRow("comma quoted")
            << u"Bloggs, Joe"_s << u"joe@example.com"_s << u"\"Bloggs, Joe\" <joe@example.com>"_s;
        QTest::newRow("dot quoted")
            << u"J. Bloggs"_s << u"j@x.org"_s << u"\"J. Bloggs\" <j@x.org>"_s;
        QTest::newRow("quote and backslash escaped")
            << u"A \"B\" \\C"_s << u"a@x.org"_s << u"\"A \\\"B\\\" \\\\C\" <a@x.org>"_s;
        QTest::newRow("non-ASCII letters stay bare")
            << u"J\u00f6rg M\u00fcller"_s << u"j@x.de"_s << u"J\u00f6rg M\u00fcller <j@x.de>"_s;
        QTest::newRow("letter outside the BMP stays bare")
            << u"\U00020BB7\u7530 Taro"_s << u"t@x.jp"_s << u"\U00020BB7\u7530 Taro <t@x.jp>"_s;
        QTest::newRow("emoji outside the BMP quoted")
            << u"Sale \U0001F525"_s << u"s@x.org"_s << u"\"Sale \U0001F525\" <s@x.org>"_s;
        QTest::newRow("lone surrogate quoted") << (u"A"_s + QChar(0xD842)) << u"a@x.org"_s
                                               << (u"\"A"_s + QChar(0xD842) + u"\" <a@x.org>"_s);
        QTest::newRow("local part outside the BMP bare")
            << u""_s << u"\U00020BB7@x.jp"_s << u"\U00020BB7@x.jp"_s;
        QTest::newRow("local part with dots")
            << u""_s << u"john.q.public@x.org"_s << u"john.q.public@x.org"_s;
        QTest::newRow("local part with blank")
            << u""_s << u"joe smith@x.org"_s << u"\"joe smith\"@x.org"_s;
        QTest::newRow("local part split at the last at")
            << u""_s << u"a@b@x.org"_s << u"\"a@b\"@x.org"_s;
        QTest::newRow("group") << u"undisclosed-recipients"_s << u""_s
                               << u"undisclosed-recipients:;"_s;
    }
    void textForm() {
        QFETCH(QString, name);
        QFETCH(QString, address);
        QFETCH(QString, text);
        const MailAddress a{name, address};
        QCOMPARE(a.text(), text);
        // The text form parses back to the same address.
        QCOMPARE(MailAddress::parse(text), a);
    }

    void listText() {
        QCOMPARE(addressListText({}), QString());
        QCOMPARE(addressListText({MailAddress{u"Joe"_s, u"joe@x.org"_s},
                                  MailAddress{QString(), u"ann@y.org"_s}}),
                 u"Joe <joe@x.org>, ann@y.org"_s);
    }

    void hostileInputIsLinear() {
        // Deep comments, endless quotes and angle brackets: the parser makes one pass.
        const QString deep = QString(50000, u'(') + u"x"_s;
        QVERIFY(parseAddressList(deep).isEmpty());
        const QString angles = QString(50000, u'<');
        QCOMPARE(parseAddressList(angles).size(), 1);
        QString many;
        for (int i = 0; i < 20000; ++i)
            many += u"a%1@x.org,"_s.arg(i);
        QCOMPARE(parseAddressList(many).size(), 20000);
    }
};

QTEST_GUILESS_MAIN(TestMailAddress)
#include "tst_mailaddress.moc"
