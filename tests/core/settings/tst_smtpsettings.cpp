// The SMTP settings as the senders use them (port, security, login) and the secret store that
// keeps the SMTP password out of Settings.ini: without a desktop store, a file only its owner
// may read.

#include "core/errors.h"
#include "core/screening/processing.h"
#include "core/settings/programdata.h"
#include "core/settings/secretstore.h"
#include "core/settings/settings.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace corvane;

class TestSmtpSettings final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qputenv("CORVANE_NO_KEYCHAIN", "1"); }
    void sendOptions_data();
    void sendOptions();
    void passwordFileIsPrivate();
    void passwordOutsideSettingsFile();
    void keychainEntryPerDataFolder();
};

void TestSmtpSettings::sendOptions_data() {
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("security");
    QTest::addColumn<int>("expected"); // -1: the port decides, -2: refused
    QTest::addColumn<int>("effective");
    QTest::newRow("25, unset") << u"25"_s << QString() << -1 << int(ConnectionSecurity::None);
    QTest::newRow("587, unset") << u"587"_s << QString() << -1 << int(ConnectionSecurity::StartTls);
    QTest::newRow("465, unset") << u"465"_s << u" "_s << -1 << int(ConnectionSecurity::Tls);
    QTest::newRow("STARTTLS on 25") << u"25"_s << u"starttls"_s << int(ConnectionSecurity::StartTls)
                                    << int(ConnectionSecurity::StartTls);
    QTest::newRow("none on 587") << u"587"_s << u"none"_s << int(ConnectionSecurity::None)
                                 << int(ConnectionSecurity::None);
    QTest::newRow("unknown") << u"587"_s << u"SSLv3"_s << -2 << -2;
}

void TestSmtpSettings::sendOptions() {
    QFETCH(QString, port);
    QFETCH(QString, security);
    QFETCH(int, expected);
    QFETCH(int, effective);
    Settings settings;
    settings.smtpport = port;
    settings.smtpsecurity = security;
    settings.smtpuser = u" alice "_s;
    settings.smtppassword = u"secret"_s;
    if (expected == -2) {
        QVERIFY_THROWS_EXCEPTION(DataError, MessageProcessor::smtpOptions(settings));
        return;
    }
    const SmtpSendOptions options = MessageProcessor::smtpOptions(settings);
    QCOMPARE(options.port, port.toUShort());
    QCOMPARE(options.security ? int(*options.security) : -1, expected);
    QCOMPARE(int(options.security.value_or(SmtpClient::defaultSecurity(options.port))), effective);
    QCOMPARE(options.username, u"alice"_s);
    QCOMPARE(options.password, u"secret"_s);
}

void TestSmtpSettings::passwordFileIsPrivate() {
    QTemporaryDir dir;
    SecretStore store(dir.path());
    QCOMPARE(store.read(u"smtp"_s), std::nullopt);
    QCOMPARE(store.write(u"smtp"_s, u"pä=ss\nword"_s), SecretStore::Place::File);
    QCOMPARE(store.write(u"other"_s, u"x"_s), SecretStore::Place::File);
    // Read and write for the owner, nothing for anybody else ("User" repeats the owner's bits).
    const QFileDevice::Permissions user = QFileDevice::ReadUser | QFileDevice::WriteUser;
    QCOMPARE(QFile::permissions(store.filePath()) & ~user,
             QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QCOMPARE(SecretStore(dir.path()).read(u"smtp"_s), u"pä=ss\nword"_s);
    // The file never shows the password as typed.
    QFile file(store.filePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(!file.readAll().contains("ss"));
    // An empty password removes it and keeps the others.
    store.write(u"smtp"_s, QString());
    QCOMPARE(store.read(u"smtp"_s), std::nullopt);
    QCOMPARE(store.read(u"other"_s), u"x"_s);
}

void TestSmtpSettings::passwordOutsideSettingsFile() {
    QTemporaryDir dir;
    {
        ProgramData data{DataDirectory(dir.path())};
        data.readSettings();
        data.settings.smtpuser = u"alice"_s;
        QCOMPARE(data.setSmtpPassword(u"hunter2"_s), SecretStore::Place::File);
        data.save();
    }
    QFile ini(dir.filePath(SettingsFile::FileName));
    QVERIFY(ini.open(QIODevice::ReadOnly));
    const QByteArray text = ini.readAll();
    QVERIFY(text.contains("smtpuser=alice"));
    QVERIFY(!text.contains("hunter2"));
    ProgramData again{DataDirectory(dir.path())};
    again.readSettings();
    QCOMPARE(again.settings.smtppassword, u"hunter2"_s);
}

// The desktop store is one for the whole session: two data folders must not share an entry, or
// one overwrites the other's password and a folder without one sends the other's.
void TestSmtpSettings::keychainEntryPerDataFolder() {
    QTemporaryDir first;
    QTemporaryDir second;
    const QString key = SecretStore(first.path()).keychainKey(u"smtp"_s);
    QVERIFY(key.startsWith(u"smtp"_s));
    QVERIFY(key != SecretStore(second.path()).keychainKey(u"smtp"_s));
    QVERIFY(key != SecretStore(first.path()).keychainKey(u"other"_s));
    // The same folder by another path (a link, a trailing slash) finds the same entry.
    const QString link = second.filePath(u"link"_s);
    QVERIFY(QFile::link(first.path(), link));
    QCOMPARE(SecretStore(link).keychainKey(u"smtp"_s), key);
    QCOMPARE(SecretStore(first.path() + u"/"_s).keychainKey(u"smtp"_s), key);
}

QTEST_GUILESS_MAIN(TestSmtpSettings)
#include "tst_smtpsettings.moc"
