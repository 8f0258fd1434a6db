#include "core/errors.h"
#include "core/platform/inifile.h"
#include "testsupport.h"

#include <QBuffer>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

using namespace Qt::StringLiterals;
using corvane::IniFile;

class TestIniFile final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void read_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected"); // null: key missing

        const QByteArray basic = "[Options]\r\nAutoIntvl=5\r\nbouncefrom=MailDaemon\r\n";
        QTest::newRow("plain") << basic << u"Options"_s << u"AutoIntvl"_s << u"5"_s;
        QTest::newRow("key in other case") << basic << u"Options"_s << u"AUTOINTVL"_s << u"5"_s;
        QTest::newRow("section in other case")
            << "[blacklist]\r\n2=0\r\n"_ba << u"Blacklist"_s << u"2"_s << u"0"_s;
        QTest::newRow("missing key") << basic << u"Options"_s << u"Save"_s << QString();
        QTest::newRow("key of another section") << "[Count]\r\nAutoIntvl=9\r\n[Options]\r\n"_ba
                                                << u"Options"_s << u"AutoIntvl"_s << QString();
        QTest::newRow("blanks around name and value")
            << "  [ Options ]  \r\n\t AutoIntvl \t=  7 \t\r\n"_ba << u"Options"_s << u"AutoIntvl"_s
            << u"7"_s;
        QTest::newRow("empty value")
            << "[Options]\r\nsmtpserver=\r\n"_ba << u"Options"_s << u"smtpserver"_s << u""_s;
        QTest::newRow("equals sign in value")
            << "[Options]\r\nbouncesubj=a=b\r\n"_ba << u"Options"_s << u"bouncesubj"_s << u"a=b"_s;
        QTest::newRow("quotes kept") << "[Options]\r\nbouncefrom=\"Mail\"\r\n"_ba << u"Options"_s
                                     << u"bouncefrom"_s << u"\"Mail\""_s;
        QTest::newRow("duplicate key: first wins")
            << "[Options]\r\nSave=0\r\nSave=1\r\n"_ba << u"Options"_s << u"Save"_s << u"0"_s;
        QTest::newRow("duplicate section: first occurrence wins")
            << "[Options]\r\nSave=0\r\n[Count]\r\n[options]\r\nSave=1\r\n"_ba << u"Options"_s
            << u"Save"_s << u"0"_s;
        QTest::newRow("duplicate section: key only in the second")
            << "[Options]\r\n[Count]\r\n[OPTIONS]\r\nSave=1\r\n"_ba << u"Options"_s << u"Save"_s
            << u"1"_s;
        QTest::newRow("comment is not a key") << "[Options]\r\n;Save=0\r\n# Logging=0\r\n"_ba
                                              << u"Options"_s << u"Save"_s << QString();
        QTest::newRow("key before any section")
            << "Save=0\r\n[Options]\r\n"_ba << u"Options"_s << u"Save"_s << QString();
        QTest::newRow("header with trailing text")
            << "[Options] ; main options\r\nSave=0\r\n"_ba << u"Options"_s << u"Save"_s << u"0"_s;
        QTest::newRow("LF endings")
            << "[Options]\nSave=0\n"_ba << u"Options"_s << u"Save"_s << u"0"_s;
        QTest::newRow("no final line break")
            << "[Options]\r\nSave=0"_ba << u"Options"_s << u"Save"_s << u"0"_s;
        QTest::newRow("byte-order mark")
            << "\xEF\xBB\xBF[Options]\r\nSave=0\r\n"_ba << u"Options"_s << u"Save"_s << u"0"_s;
        QTest::newRow("Windows-1252 value") << "[Options]\r\nbouncefrom=Caf\xE9 \x80\r\n"_ba
                                            << u"Options"_s << u"bouncefrom"_s << u"Café €"_s;
        QTest::newRow("UTF-8 value") << "[Options]\r\nbouncefrom=Caf\xC3\xA9 \xE2\x82\xAC\r\n"_ba
                                     << u"Options"_s << u"bouncefrom"_s << u"Café €"_s;
        QTest::newRow("long value cut to 2047")
            << "[Options]\r\nbouncesubj="_ba + QByteArray(3000, 'x') + "\r\n"
            << u"Options"_s << u"bouncesubj"_s << QString(2047, u'x');
    }
    void read() {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        const IniFile ini = IniFile::fromBytes(file);
        const auto v = ini.value(section, key);
        QCOMPARE(v.has_value(), !expected.isNull());
        if (v)
            QCOMPARE(*v, expected);
        QCOMPARE(ini.value(section, key, u"fallback"_s),
                 expected.isNull() ? u"fallback"_s : expected);
        // Reading alone never changes a byte.
        QCOMPARE(ini.toBytes(), file);
    }

    void write_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");

        const QByteArray commented = "; my settings\r\n"
                                     "[Options]\r\n"
                                     "Startup=0\r\n"
                                     "; the interval\r\n"
                                     "AutoIntvl=5\r\n"
                                     "\r\n"
                                     "[Count]\r\n"
                                     "deletecount=3\r\n";
        QTest::newRow("replaced where it stands, other lines kept")
            << commented << u"options"_s << u"autointvl"_s << u"10"_s
            << "; my settings\r\n[Options]\r\nStartup=0\r\n; the interval\r\nAutoIntvl=10\r\n"
               "\r\n[Count]\r\ndeletecount=3\r\n"_ba;
        QTest::newRow("appended after the section's last key")
            << commented << u"Options"_s << u"Save"_s << u"1"_s
            << "; my settings\r\n[Options]\r\nStartup=0\r\n; the interval\r\nAutoIntvl=5\r\n"
               "Save=1\r\n\r\n[Count]\r\ndeletecount=3\r\n"_ba;
        QTest::newRow("missing section appended at the end")
            << commented << u"Blacklist"_s << u"1"_s << u"0"_s
            << commented + "[Blacklist]\r\n1=0\r\n"_ba;
        QTest::newRow("key spelling in the file kept")
            << "[OPTIONS]\r\nautointvl = 5\r\n"_ba << u"Options"_s << u"AutoIntvl"_s << u"6"_s
            << "[OPTIONS]\r\nautointvl=6\r\n"_ba;
        QTest::newRow("same value leaves the line untouched")
            << "[Options]\r\n  AutoIntvl = 5 \r\n"_ba << u"Options"_s << u"AutoIntvl"_s << u"5"_s
            << "[Options]\r\n  AutoIntvl = 5 \r\n"_ba;
        QTest::newRow("section with no keys")
            << "[Options]\r\n\r\n[Count]\r\n"_ba << u"Options"_s << u"Save"_s << u"1"_s
            << "[Options]\r\nSave=1\r\n\r\n[Count]\r\n"_ba;
        QTest::newRow("duplicate section: written where the key stands")
            << "[Options]\r\nSave=1\r\n[options]\r\nLogging=1\r\n"_ba << u"Options"_s
            << u"Logging"_s << u"0"_s << "[Options]\r\nSave=1\r\n[options]\r\nLogging=0\r\n"_ba;
        QTest::newRow("duplicate section: new key goes to the first")
            << "[Options]\r\nSave=1\r\n[options]\r\nLogging=1\r\n"_ba << u"Options"_s
            << u"Systray"_s << u"1"_s
            << "[Options]\r\nSave=1\r\nSystray=1\r\n[options]\r\nLogging=1\r\n"_ba;
        QTest::newRow("empty file") << QByteArray() << u"Options"_s << u"Startup"_s << u"1"_s
                                    << "[Options]\r\nStartup=1\r\n"_ba;
        QTest::newRow("no final line break")
            << "[Options]\r\nStartup=0"_ba << u"Options"_s << u"Save"_s << u"1"_s
            << "[Options]\r\nStartup=0\r\nSave=1\r\n"_ba;
        QTest::newRow("no final line break, new section")
            << "[Options]\r\nStartup=0"_ba << u"Count"_s << u"deletecount"_s << u"0"_s
            << "[Options]\r\nStartup=0\r\n[Count]\r\ndeletecount=0\r\n"_ba;
        QTest::newRow("LF file stays LF")
            << "[Options]\nStartup=0\n"_ba << u"Options"_s << u"Save"_s << u"1"_s
            << "[Options]\nStartup=0\nSave=1\n"_ba;
        QTest::newRow("Windows-1252 when it fits")
            << "[Options]\r\n"_ba << u"Options"_s << u"bouncefrom"_s << u"Café €"_s
            << "[Options]\r\nbouncefrom=Caf\xE9 \x80\r\n"_ba;
        QTest::newRow("UTF-8 for that line only when it does not")
            << "[Options]\r\nbouncesubj=Caf\xE9\r\n"_ba << u"Options"_s << u"bouncefrom"_s
            << u"Жук"_s
            << "[Options]\r\nbouncesubj=Caf\xE9\r\nbouncefrom=\xD0\x96\xD1\x83\xD0\xBA\r\n"_ba;
        QTest::newRow("line break in value cannot add a line")
            << "[Options]\r\n"_ba << u"Options"_s << u"bouncesubj"_s << u"a\r\nSave=0\nb"_s
            << "[Options]\r\nbouncesubj=a Save=0 b\r\n"_ba;
    }
    void write() {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        IniFile ini = IniFile::fromBytes(before);
        ini.setValue(section, key, value);
        QCOMPARE(ini.toBytes(), after);
        // What was written reads back (a line break reads back as a blank).
        QString expected = value;
        expected.replace(u"\r\n"_s, u" "_s).replace(u'\n', u' ');
        QCOMPARE(IniFile::fromBytes(ini.toBytes()).value(section, key), expected);
    }

    void badNamesRefused_data() {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::newRow("empty section") << u" "_s << u"k"_s;
        QTest::newRow("bracket in section") << u"a]b"_s << u"k"_s;
        QTest::newRow("line break in section") << u"a\nb"_s << u"k"_s;
        QTest::newRow("empty key") << u"Options"_s << u""_s;
        QTest::newRow("equals in key") << u"Options"_s << u"a=b"_s;
        QTest::newRow("comment key") << u"Options"_s << u";a"_s;
        QTest::newRow("line break in key") << u"Options"_s << u"a\r\n[b]"_s;
    }
    void badNamesRefused() {
        QFETCH(QString, section);
        QFETCH(QString, key);
        IniFile ini = IniFile::fromBytes("[Options]\r\n"_ba);
        QVERIFY_THROWS_EXCEPTION(corvane::DataError, ini.setValue(section, key, u"v"_s));
        QCOMPARE(ini.toBytes(), "[Options]\r\n"_ba);
    }

    void sectionsAndKeys() {
        const IniFile ini = IniFile::fromBytes(
            "[Options]\r\nSave=1\r\nsave=0\r\nLogging=1\r\n[Count]\r\n[OPTIONS]\r\nStartup=1\r\n"_ba);
        QCOMPARE(ini.sections(), QStringList({u"Options"_s, u"Count"_s}));
        QCOMPARE(ini.keys(u"options"_s), QStringList({u"Save"_s, u"Logging"_s, u"Startup"_s}));
        QVERIFY(ini.hasSection(u"count"_s));
        QVERIFY(!ini.hasSection(u"Blacklist"_s));
    }

    void loadAndSave() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"Settings.ini"_s);
        QVERIFY(IniFile::load(path).isEmpty()); // a missing file reads as empty
        QVERIFY(!QFile::exists(path));

        const QByteArray bytes = "; kept\r\n[Options]\r\nSave=0\r\n"_ba;
        QVERIFY(corvane::test::writeFile(path, bytes));
        IniFile ini = IniFile::load(path);
        QCOMPARE(ini.value(u"Options"_s, u"Save"_s), u"0"_s);
        ini.setValue(u"Options"_s, u"Save"_s, u"1"_s);
        ini.save(path);
        QCOMPARE(corvane::test::readFile(path), "; kept\r\n[Options]\r\nSave=1\r\n"_ba);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{u"Settings.ini"_s});

        QBuffer buffer;
        buffer.setData(bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        IniFile fromDevice;
        fromDevice.read(buffer);
        QCOMPARE(fromDevice.toBytes(), bytes);
    }

    void saveFailureNamesTheFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"missing/Settings.ini"_s);
        try {
            IniFile::fromBytes("[Options]\r\n"_ba).save(path);
            QFAIL("saving into a missing folder succeeded");
        } catch (const corvane::FileError &e) {
            QCOMPARE(e.message(), u"Unable to write to "_s + QDir::toNativeSeparators(path) +
                                      u". No such file or directory"_s);
        }
    }

    void loadFailure() {
        QTemporaryDir dir;
        // A folder where the file should be cannot be read as a file.
        QVERIFY(QDir(dir.path()).mkdir(u"Settings.ini"_s));
        QVERIFY_THROWS_EXCEPTION(corvane::FileError,
                                 IniFile::load(dir.filePath(u"Settings.ini"_s)));
    }

    void parseInteger_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("expected"); // LLONG_MIN: not a number
        constexpr qint64 none = std::numeric_limits<qint64>::min();
        QTest::newRow("decimal") << u"120"_s << qint64(120);
        QTest::newRow("blanks") << u"  7 "_s << qint64(7);
        QTest::newRow("negative") << u"-5"_s << qint64(-5);
        QTest::newRow("plus sign") << u"+5"_s << qint64(5);
        QTest::newRow("0x") << u"0xFF"_s << qint64(255);
        QTest::newRow("0X mixed case") << u"0XfF"_s << qint64(255);
        QTest::newRow("dollar") << u"$FF"_s << qint64(255);
        QTest::newRow("negative hex") << u"-$10"_s << qint64(-16);
        QTest::newRow("leading zeros") << u"007"_s << qint64(7);
        QTest::newRow("int max") << u"2147483647"_s << qint64(2147483647);
        QTest::newRow("int min") << u"-2147483648"_s << qint64(-2147483648LL);
        QTest::newRow("above int") << u"2147483648"_s << none;
        QTest::newRow("hex above int") << u"$FFFFFFFF"_s << none;
        QTest::newRow("overflow") << u"99999999999999999999999"_s << none;
        QTest::newRow("empty") << u""_s << none;
        QTest::newRow("word") << u"yes"_s << none;
        QTest::newRow("trailing text") << u"12abc"_s << none;
        QTest::newRow("inner blank") << u"1 2"_s << none;
        QTest::newRow("hex digits without prefix") << u"FF"_s << none;
        QTest::newRow("prefix only") << u"$"_s << none;
        QTest::newRow("0x only") << u"0x"_s << none;
        QTest::newRow("sign only") << u"-"_s << none;
        QTest::newRow("decimal point") << u"1.5"_s << none;
        QTest::newRow("non-ASCII digits") << u"١٢"_s << none;
    }
    void parseInteger() {
        QFETCH(QString, text);
        QFETCH(qint64, expected);
        const auto v = corvane::parseLegacyInteger(text, std::numeric_limits<qint32>::min(),
                                                   std::numeric_limits<qint32>::max());
        if (expected == std::numeric_limits<qint64>::min())
            QVERIFY2(!v, qPrintable(QString::number(v.value_or(0))));
        else
            QCOMPARE(v, std::optional<qint64>(expected));
    }

    void parseIntegerFullRange() {
        using L = std::numeric_limits<qint64>;
        QCOMPARE(corvane::parseLegacyInteger(u"-9223372036854775808", L::min(), L::max()),
                 std::optional<qint64>(L::min()));
        QCOMPARE(corvane::parseLegacyInteger(u"9223372036854775807", L::min(), L::max()),
                 std::optional<qint64>(L::max()));
        QVERIFY(!corvane::parseLegacyInteger(u"9223372036854775808", L::min(), L::max()));
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
