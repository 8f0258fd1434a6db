// The "Find settings" part of Add Account on real widgets: each step listed as it runs, the
// settings found shown for the user to take, and a server without encryption taken only after
// its own tick. The servers are scripted ones on loopback, or the built-in presets.

#include "core/settings/accountdiscovery.h"
#include "fakeserver.h"
#include "ui/settings/accountfinder.h"

#include <QApplication>
#include <QCheckBox>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using namespace Qt::StringLiterals;
using corvane::AccountDiscovery;
using corvane::AccountFinder;
using corvane::ConnectionSecurity;
using corvane::FoundAccountSettings;
using corvane::MailServer;
using corvane::test::FakeServer;

namespace {

quint16 closedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

// Keeps the finder's search on loopback: no document, no name server, and every probe to
// plainPort for pop.<domain>:110 (when given) or a closed port.
void isolate(AccountFinder &finder, quint16 plainPort = 0) {
    AccountDiscovery &d = finder.discovery();
    const quint16 closed = closedPort();
    d.setAutoconfigUrls({u"https://127.0.0.1:%1/a/%2"_s.arg(closed).arg(u"%1"_s),
                         u"https://127.0.0.1:%1/b/%2"_s.arg(closed).arg(u"%1"_s)});
    d.setNameserver(QHostAddress::LocalHost);
    d.setProbeRoute([=](const QString &host, quint16 port) {
        const bool plain = plainPort && port == 110 && host.startsWith(u"pop."_s);
        return std::pair{u"127.0.0.1"_s, plain ? plainPort : closed};
    });
}

bool finished(const AccountFinder &finder) {
    return !finder.isSearching() && finder.foundSettingsLabel->isVisible();
}

} // namespace

class TestAccountFinder final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void presetTakenAtOnce() {
        AccountFinder finder;
        isolate(finder);
        finder.show();
        QSignalSpy confirmed(&finder, &AccountFinder::settingsConfirmed);
        QVERIFY(!finder.useFoundSettingsButton->isVisible());
        QTest::keyClicks(finder.findAddressEdit, u"me@gmail.com"_s);
        QTest::mouseClick(finder.findSettingsButton, Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return finished(finder); }, 10000));
        QCOMPARE(finder.findStepsList->count(), 1);
        QVERIFY2(finder.findStepsList->item(0)->text().startsWith(u"Built-in presets: "_s),
                 qPrintable(finder.findStepsList->item(0)->text()));
        QVERIFY(finder.findStepsList->item(0)->text().contains(u"found"_s));
        QVERIFY(finder.foundSettingsLabel->text().contains(
            u"POP3 server: pop.gmail.com, port 995, TLS"_s));
        QVERIFY(!finder.allowUnencryptedCheck->isVisible());
        QVERIFY(finder.useFoundSettingsButton->isEnabled());
        QCOMPARE(confirmed.count(), 0); // found is not taken: the user takes it
        QTest::mouseClick(finder.useFoundSettingsButton, Qt::LeftButton);
        QCOMPARE(confirmed.count(), 1);
        const auto found = confirmed.at(0).at(0).value<FoundAccountSettings>();
        QCOMPARE(found.incoming, (MailServer{u"pop.gmail.com"_s, 995, ConnectionSecurity::Tls}));
        QCOMPARE(confirmed.at(0).at(1).toString(), u"me@gmail.com"_s);
    }

    void unencryptedNeedsConsent() {
        FakeServer plain;
        plain.send("+OK ready\r\n")
            .expect("CAPA")
            .send("+OK\r\nUSER\r\n.\r\n")
            .expect("QUIT")
            .closeConnection();
        AccountFinder finder;
        isolate(finder, plain.port());
        finder.show();
        QSignalSpy confirmed(&finder, &AccountFinder::settingsConfirmed);
        finder.findAddressEdit->setText(u"me@plain.test"_s);
        QTest::mouseClick(finder.findSettingsButton, Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return finished(finder); }, 20000));
        // Presets, two document addresses, SRV, four probes: every step listed.
        QCOMPARE(finder.findStepsList->count(), 8);
        QVERIFY(finder.foundSettingsLabel->text().contains(u"no encryption"_s));
        QVERIFY(finder.allowUnencryptedCheck->isVisible());
        QVERIFY(!finder.allowUnencryptedCheck->isChecked());
        QVERIFY(!finder.useFoundSettingsButton->isEnabled());
        QTest::mouseClick(finder.useFoundSettingsButton, Qt::LeftButton);
        QCOMPARE(confirmed.count(), 0);
        finder.allowUnencryptedCheck->setChecked(true);
        QVERIFY(finder.useFoundSettingsButton->isEnabled());
        QTest::mouseClick(finder.useFoundSettingsButton, Qt::LeftButton);
        QCOMPARE(confirmed.count(), 1);
        QCOMPARE(confirmed.at(0).at(0).value<FoundAccountSettings>().incoming.security,
                 ConnectionSecurity::None);
        QCOMPARE(plain.received(), (QList<QByteArray>{"CAPA", "QUIT"}));
    }

    void badAddressAndStop() {
        AccountFinder finder;
        isolate(finder);
        finder.show();
        finder.findAddressEdit->setText(u"not-an-address"_s);
        QTest::mouseClick(finder.findSettingsButton, Qt::LeftButton);
        QVERIFY(!finder.isSearching());
        QVERIFY(finder.foundSettingsLabel->text().contains(u"not an e-mail address"_s));

        // A silent server holds the document step; "Stop" ends the search at once.
        FakeServer silent;
        silent.enableTls();
        silent.fallSilent();
        finder.discovery().setAutoconfigUrls(
            {u"https://127.0.0.1:%1/%2"_s.arg(silent.port()).arg(u"%1"_s)});
        finder.findAddressEdit->setText(u"me@silent-web.test"_s);
        QTest::mouseClick(finder.findSettingsButton, Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return finder.findStepsList->count() == 2; }, 5000));
        QCOMPARE(finder.findSettingsButton->text(), u"&Stop"_s);
        QTest::mouseClick(finder.findSettingsButton, Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return !finder.isSearching(); }, 5000));
        QCOMPARE(finder.findSettingsButton->text(), u"&Find settings"_s);
        QCOMPARE(finder.findStepsList->item(finder.findStepsList->count() - 1)->text(),
                 u"Stopped."_s);
        QVERIFY(!finder.useFoundSettingsButton->isVisible());

        // Opened again, the finder starts empty.
        finder.reset();
        QVERIFY(finder.findAddressEdit->text().isEmpty());
        QVERIFY(!finder.findStepsList->isVisible());
        QVERIFY(!finder.foundSettingsLabel->isVisible());
    }
};

QTEST_MAIN(TestAccountFinder)
#include "tst_accountfinder.moc"
