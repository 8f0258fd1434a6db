#include "core/errors.h"
#include "core/rules/miscrules.h"
#include "core/settings/settings.h"
#include "fulldisk.h"
#include "testsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using corvane::MiscRules;
using corvane::Settings;
using corvane::SettingsFile;

namespace {

// Everything Settings.ini feeds, read from one file.
struct Loaded {
    Settings settings;
    MiscRules misc;
    QString deleteCount = u"0"_s;
};

Loaded readFrom(const QString &path) {
    Loaded l;
    SettingsFile(path).ReadConfiguration(l.settings, l.misc, l.deleteCount);
    return l;
}

// The file a first shutdown writes with every value at its default.
const QByteArray kNewFile = "[Options]\r\n"
                            "Startup=0\r\n"
                            "Systray=1\r\n"
                            "Logging=1\r\n"
                            "Save=1\r\n"
                            "AutoIntvl=1\r\n"
                            "colorban=255\r\n"
                            "colorfriend=16711680\r\n"
                            "colormailwin=16777215\r\n"
                            "bouncefrom=MailDaemon\r\n"
                            "bouncesubj=Delivery Notification: Delivery has failed\r\n"
                            "smtpserver=mail.example.com\r\n"
                            "smtpport=25\r\n"
                            "smtpemail=you@example.net\r\n"
                            "updateurl=https://lists.example.org/corvane/\r\n"
                            "submitaddress=lists@example.org\r\n"
                            "website=https://corvane.example.org/\r\n"
                            "supportaddress=support@corvane.example.org\r\n"
                            "notify=0\r\n"
                            "pop3pipelining=1\r\nsmtpsecurity=\r\nsmtpuser=\r\nlearning=1\r\n"
                            "learnspam=70\r\nlearnham=10\r\nlearnveto=1\r\nbodylines=20\r\nsmtpauth=\r\n"
                            "[Count]\r\n"
                            "deletecount=0\r\n"
                            "[Blacklist]\r\n"
                            "1=1\r\n2=1\r\n3=1\r\n4=1\r\n5=1\r\n6=1\r\n7=1\r\n8=1\r\n9=1\r\n"
                            "10=1\r\n11=1\r\n12=1\r\n13=1\r\n";

} // namespace

class TestSettings final : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath(SettingsFile::FileName); }

private Q_SLOTS:
    void init() { QFile::remove(path()); }

    void missingFileGivesDefaults() {
        const Loaded l = readFrom(path());
        QVERIFY(!l.settings.Startup);
        QVERIFY(l.settings.Systray);
        QVERIFY(l.settings.Logging);
        QVERIFY(l.settings.Save);
        QCOMPARE(l.settings.AutoIntvl, 1);
        QCOMPARE(l.settings.colorban, 0x0000FF);     // red
        QCOMPARE(l.settings.colorfriend, 0xFF0000);  // blue
        QCOMPARE(l.settings.colormailwin, 0xFFFFFF); // white
        QCOMPARE(l.settings.bouncefrom, u"MailDaemon"_s);
        QCOMPARE(l.settings.bouncesubj, u"Delivery Notification: Delivery has failed"_s);
        QCOMPARE(l.settings.smtpport, u"25"_s);
        QVERIFY(l.settings.smtpserver.endsWith(u".example.com"_s));
        QVERIFY(l.settings.smtpemail.endsWith(u"@example.net"_s));
        for (int i = 1; i <= MiscRules::Count; ++i)
            QVERIFY(l.misc.ticked(i));
        QCOMPARE(l.deleteCount, u"0"_s);
        QVERIFY(!QFile::exists(path())); // reading creates nothing
    }

    // One key in the file, and the value it loads as.
    void valueForms_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("loaded"); // as it would be written back

        QTest::newRow("AutoIntvl 500 clamps")
            << "[Options]\r\nAutoIntvl=500\r\n"_ba << u"AutoIntvl"_s << u"120"_s;
        QTest::newRow("AutoIntvl 0 clamps")
            << "[Options]\r\nAutoIntvl=0\r\n"_ba << u"AutoIntvl"_s << u"1"_s;
        QTest::newRow("AutoIntvl negative clamps")
            << "[Options]\r\nAutoIntvl=-7\r\n"_ba << u"AutoIntvl"_s << u"1"_s;
        QTest::newRow("AutoIntvl abc is default")
            << "[Options]\r\nAutoIntvl=abc\r\n"_ba << u"AutoIntvl"_s << u"1"_s;
        QTest::newRow("AutoIntvl in range")
            << "[Options]\r\nAutoIntvl=45\r\n"_ba << u"AutoIntvl"_s << u"45"_s;
        QTest::newRow("AutoIntvl hex")
            << "[Options]\r\nAutoIntvl=0x1E\r\n"_ba << u"AutoIntvl"_s << u"30"_s;
        QTest::newRow("AutoIntvl overflow is default")
            << "[Options]\r\nAutoIntvl=99999999999\r\n"_ba << u"AutoIntvl"_s << u"1"_s;
        QTest::newRow("colorban 0xFF")
            << "[Options]\r\ncolorban=0xFF\r\n"_ba << u"colorban"_s << u"255"_s;
        QTest::newRow("colorban $FF")
            << "[Options]\r\ncolorban=$FF\r\n"_ba << u"colorban"_s << u"255"_s;
        QTest::newRow("colorfriend decimal")
            << "[Options]\r\ncolorfriend=65280\r\n"_ba << u"colorfriend"_s << u"65280"_s;
        QTest::newRow("colormailwin junk is default")
            << "[Options]\r\ncolormailwin=white\r\n"_ba << u"colormailwin"_s << u"16777215"_s;
        QTest::newRow("Systray yes is default true")
            << "[Options]\r\nSystray=yes\r\n"_ba << u"Systray"_s << u"1"_s;
        QTest::newRow("Systray 0") << "[Options]\r\nSystray=0\r\n"_ba << u"Systray"_s << u"0"_s;
        QTest::newRow("Logging 2 is true")
            << "[Options]\r\nLogging=2\r\n"_ba << u"Logging"_s << u"1"_s;
        QTest::newRow("Startup hex 1")
            << "[Options]\r\nStartup=$1\r\n"_ba << u"Startup"_s << u"1"_s;
        QTest::newRow("Startup empty is default")
            << "[Options]\r\nStartup=\r\n"_ba << u"Startup"_s << u"0"_s;
        QTest::newRow("text kept as is")
            << "[Options]\r\nsmtpport=  2525x \r\n"_ba << u"smtpport"_s << u"2525x"_s;
        QTest::newRow("empty text is a value")
            << "[Options]\r\nsmtpserver=\r\n"_ba << u"smtpserver"_s << u""_s;
        QTest::newRow("deletecount as text")
            << "[Count]\r\ndeletecount=forty\r\n"_ba << u"deletecount"_s << u"forty"_s;
        QTest::newRow("key in other case")
            << "[options]\r\nautointvl=9\r\n"_ba << u"AutoIntvl"_s << u"9"_s;
        QTest::newRow("key in the wrong section")
            << "[Count]\r\nAutoIntvl=9\r\n"_ba << u"AutoIntvl"_s << u"1"_s;
        QTest::newRow("lower-case blacklist section")
            << "[blacklist]\r\n2=0\r\n"_ba << u"Blacklist.2"_s << u"0"_s;
        QTest::newRow("blacklist junk keeps tick")
            << "[Blacklist]\r\n5=on\r\n"_ba << u"Blacklist.5"_s << u"1"_s;
    }
    void valueForms() {
        QFETCH(QByteArray, file);
        QFETCH(QString, key);
        QFETCH(QString, loaded);
        QVERIFY(corvane::test::writeFile(path(), file));
        const Loaded l = readFrom(path());
        const auto *k = corvane::findConfigurationKey(key);
        QVERIFY(k);
        QCOMPARE(corvane::configurationValue(*k, l.settings, l.misc, l.deleteCount), loaded);
    }

    void blacklistTicksAreIndependent() {
        QVERIFY(corvane::test::writeFile(path(), "[blacklist]\r\n2=0\r\n"));
        const Loaded l = readFrom(path());
        for (int i = 1; i <= MiscRules::Count; ++i)
            QCOMPARE(l.misc.ticked(i), i != 2);
    }

    void newFileHasTheKeysInOrder() {
        Settings s;
        MiscRules m;
        QString count = u"0"_s;
        SettingsFile f(path());
        f.ReadConfiguration(s, m, count);
        f.WriteConfiguration(s, m, count);
        QCOMPARE(corvane::test::readFile(path()), kNewFile);
    }

    // An existing file keeps its order, its comments and keys of its own; every key of ours is
    // present afterwards.
    void existingFileKeepsItsOrder() {
        const QByteArray before = "; hand-edited\r\n"
                                  "[Blacklist]\r\n"
                                  "2=0\r\n"
                                  "\r\n"
                                  "[Options]\r\n"
                                  "colorban=$FF\r\n"
                                  "Custom=keep me\r\n"
                                  "AutoIntvl=500\r\n";
        QVERIFY(corvane::test::writeFile(path(), before));
        SettingsFile f(path());
        Loaded l;
        f.ReadConfiguration(l.settings, l.misc, l.deleteCount);
        l.deleteCount = u"42"_s;
        f.WriteConfiguration(l.settings, l.misc, l.deleteCount);

        const QByteArray after = corvane::test::readFile(path());
        QVERIFY2(after.startsWith("; hand-edited\r\n[Blacklist]\r\n2=0\r\n1=1\r\n3=1\r\n"),
                 after.constData());
        QVERIFY(after.contains("\r\n\r\n[Options]\r\ncolorban=255\r\nCustom=keep me\r\n"
                               "AutoIntvl=120\r\nStartup=0\r\n"));
        QVERIFY(
            after.endsWith("smtpemail=you@example.net\r\nupdateurl=https://"
                           "lists.example.org/corvane/\r\nsubmitaddress=lists@example.org\r\n"
                           "website=https://corvane.example.org/\r\n"
                           "supportaddress=support@corvane.example.org\r\nnotify="
                           "0\r\npop3pipelining=1\r\nsmtpsecurity=\r\nsmtpuser=\r\nlearning=1\r\n"
                           "learnspam=70\r\nlearnham=10\r\nlearnveto=1\r\nbodylines=20\r\nsmtpauth=\r\n"
                           "[Count]\r\ndeletecount=42\r\n"));
        // Every key is there, booleans as 1 or 0, and it all reads back the same.
        const Loaded again = readFrom(path());
        QCOMPARE(again.settings, l.settings);
        QCOMPARE(again.misc, l.misc);
        QCOMPARE(again.deleteCount, u"42"_s);
    }

    // A key changed in the file while the program ran (by hand, or before another program held
    // the folder) is not undone by the program's own write, unless the program changed it too.
    void changeMadeMeanwhileIsKept() {
        QVERIFY(corvane::test::writeFile(path(), kNewFile));
        SettingsFile f(path());
        Loaded l;
        f.ReadConfiguration(l.settings, l.misc, l.deleteCount);
        Loaded other;
        SettingsFile elsewhere(path());
        elsewhere.ReadConfiguration(other.settings, other.misc, other.deleteCount);
        other.settings.smtpport = u"2526"_s;
        other.settings.bouncefrom = u"Elsewhere"_s;
        elsewhere.WriteConfiguration(other.settings, other.misc, other.deleteCount);
        // Ours: a new total and a new bounce sender; smtpport left as read.
        l.deleteCount = u"9"_s;
        l.settings.bouncefrom = u"Ours"_s;
        f.WriteConfiguration(l.settings, l.misc, l.deleteCount);
        Loaded back = readFrom(path());
        QCOMPARE(back.settings.smtpport, u"2526"_s);
        QCOMPARE(back.settings.bouncefrom, u"Ours"_s);
        QCOMPARE(back.deleteCount, u"9"_s);
        // A second write of the same values changes nothing the other program set.
        f.WriteConfiguration(l.settings, l.misc, l.deleteCount);
        QCOMPARE(readFrom(path()).settings.smtpport, u"2526"_s);
    }

    void roundTrip() {
        Loaded l;
        l.settings.Startup = true;
        l.settings.Systray = false;
        l.settings.Logging = false;
        l.settings.Save = false;
        l.settings.AutoIntvl = 120;
        l.settings.colorban = 0x123456;
        l.settings.bouncefrom = u"Postmaster Café"_s;
        l.settings.bouncesubj = u"Недоставлено"_s; // needs UTF-8
        l.settings.smtpserver = u"smtp.example.org"_s;
        l.settings.smtpemail = u""_s;
        l.misc.setTicked(13, false);
        l.misc.setTicked(1, false);
        l.deleteCount = u"7"_s;
        SettingsFile f(path());
        Loaded ignored;
        f.ReadConfiguration(ignored.settings, ignored.misc, ignored.deleteCount);
        f.WriteConfiguration(l.settings, l.misc, l.deleteCount);
        const Loaded back = readFrom(path());
        QCOMPARE(back.settings, l.settings);
        QCOMPARE(back.misc, l.misc);
        QCOMPARE(back.deleteCount, l.deleteCount);
    }

    void writeFailure() {
        const QString bad = m_dir.filePath(u"no-such-folder/Settings.ini"_s);
        SettingsFile f(bad);
        Loaded l;
        f.ReadConfiguration(l.settings, l.misc, l.deleteCount);
        try {
            f.WriteConfiguration(l.settings, l.misc, l.deleteCount);
            QFAIL("writing into a missing folder succeeded");
        } catch (const corvane::FileError &e) {
            QCOMPARE(e.message(), u"Unable to write to "_s + QDir::toNativeSeparators(bad) +
                                      u". No such file or directory"_s);
        }
    }

    // On a full disk the write fails with the system's reason and every stored value stays.
    void writeOnFullDisk() {
        corvane::test::FullDisk disk;
        if (!disk.mounted())
            QSKIP(qPrintable(disk.error()));
        const QString path = disk.filePath(SettingsFile::FileName);
        QVERIFY(corvane::test::writeFile(path, kNewFile));
        SettingsFile f(path);
        Loaded l;
        f.ReadConfiguration(l.settings, l.misc, l.deleteCount);
        l.deleteCount = u"42"_s;
        QVERIFY(disk.fill());
        try {
            f.WriteConfiguration(l.settings, l.misc, l.deleteCount);
            QFAIL("a settings write on a full disk was reported as done");
        } catch (const corvane::FileError &e) {
            QCOMPARE(e.message(), u"Unable to write to %1. No space left on device"_s.arg(path));
        }
        QCOMPARE(corvane::test::readFile(path), kNewFile);
    }

    // A Settings.ini that links to a file elsewhere is read but never written through.
    void linkedFileIsNotWrittenThrough() {
        QTemporaryDir outside;
        const QString target = outside.filePath(u"other.ini"_s);
        QVERIFY(corvane::test::writeFile(target, kNewFile));
        const QString path = m_dir.filePath(u"linked/Settings.ini"_s);
        QVERIFY(QDir().mkpath(m_dir.filePath(u"linked"_s)));
        QVERIFY(QFile::link(target, path));
        SettingsFile f(path);
        Loaded l;
        f.ReadConfiguration(l.settings, l.misc, l.deleteCount);
        l.deleteCount = u"42"_s;
        try {
            f.WriteConfiguration(l.settings, l.misc, l.deleteCount);
            QFAIL("a settings file was written through a link");
        } catch (const corvane::FileError &e) {
            QVERIFY2(e.message().startsWith(u"Unable to write to %1. "_s.arg(path)),
                     qPrintable(e.message()));
        }
        QCOMPARE(corvane::test::readFile(target), kNewFile);
        QVERIFY(QFileInfo(path).isSymLink());
    }

    // Settings that were never read are never written over the stored ones.
    void unreadFileNotOverwritten() {
        const QByteArray stored = "[Options]\r\nAutoIntvl=30\r\n";
        QVERIFY(corvane::test::writeFile(path(), stored));
        SettingsFile f(path());
        QVERIFY_THROWS_EXCEPTION(corvane::DataError,
                                 f.WriteConfiguration(Settings(), MiscRules(), u"0"_s));
        QCOMPARE(corvane::test::readFile(path()), stored);
    }

    void unreadableFileLeavesValuesAndFile() {
        QVERIFY(QDir(m_dir.path()).mkdir(SettingsFile::FileName)); // cannot be read as a file
        SettingsFile f(path());
        Loaded l;
        l.settings.AutoIntvl = 77;
        QVERIFY_THROWS_EXCEPTION(corvane::FileError,
                                 f.ReadConfiguration(l.settings, l.misc, l.deleteCount));
        QCOMPARE(l.settings.AutoIntvl, 77);
        QVERIFY(!f.wasRead());
        QVERIFY_THROWS_EXCEPTION(corvane::Error,
                                 f.WriteConfiguration(l.settings, l.misc, l.deleteCount));
        QVERIFY(QFileInfo(path()).isDir());
        QVERIFY(QDir(m_dir.path()).rmdir(SettingsFile::FileName));
    }

    void keyNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::newRow("bare") << u"autointvl"_s << u"Options"_s << u"AutoIntvl"_s;
        QTest::newRow("qualified") << u"COUNT.DeleteCount"_s << u"Count"_s << u"deletecount"_s;
        QTest::newRow("tick") << u"13"_s << u"Blacklist"_s << u"13"_s;
        QTest::newRow("tick qualified") << u"blacklist.1"_s << u"Blacklist"_s << u"1"_s;
        QTest::newRow("wrong section") << u"Count.AutoIntvl"_s << QString() << QString();
        QTest::newRow("unknown") << u"Colour"_s << QString() << QString();
        QTest::newRow("tick 14") << u"14"_s << QString() << QString();
    }
    void keyNames() {
        QFETCH(QString, name);
        QFETCH(QString, section);
        QFETCH(QString, key);
        const auto *k = corvane::findConfigurationKey(name);
        QCOMPARE(k != nullptr, !key.isNull());
        if (k) {
            QCOMPARE(k->section, section);
            QCOMPARE(k->key, key);
        }
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
