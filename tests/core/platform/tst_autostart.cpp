// Starting with the desktop session: the XDG autostart entry is written, replaced and removed
// under $XDG_CONFIG_HOME, its Exec line quoted as the Desktop Entry specification asks, and a
// failure names the entry.

#include "core/errors.h"
#include "core/platform/autostart.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using corvane::StartCommand;
using corvane::SystemStartWithSystem;

class TestAutostart final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        m_config = std::make_unique<QTemporaryDir>();
        QVERIFY(m_config->isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
    }

    void execLine_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("exec"); // as it stands in the file

        QTest::newRow("plain path")
            << u"/usr/bin/corvane"_s << QStringList{} << u"/usr/bin/corvane"_s;
        QTest::newRow("space in the path")
            << u"/opt/my apps/corvane"_s << QStringList{} << u"\"/opt/my apps/corvane\""_s;
        QTest::newRow("data directory")
            << u"/usr/bin/corvane"_s << QStringList{u"--data-dir"_s, u"/home/a/mail"_s}
            << u"/usr/bin/corvane --data-dir /home/a/mail"_s;
        // Inside quotes $, ", ` and \ take a backslash; the string value then doubles every
        // backslash; a percent sign is doubled.
        QTest::newRow("reserved characters")
            << u"/usr/bin/corvane"_s
            << QStringList{u"--data-dir"_s, u"/home/a/$x \"q\" `b` \\ 100%"_s}
            << u"/usr/bin/corvane --data-dir \"/home/a/\\\\$x \\\\\"q\\\\\" \\\\`b\\\\` \\\\\\\\ 100%%\""_s;
    }
    void execLine() {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QString, exec);
        QCOMPARE(corvane::desktopExecValue({program, arguments}), exec);
        QVERIFY(corvane::desktopEntry({program, arguments})
                    .contains((u"\nExec="_s + exec + u"\n"_s).toUtf8()));
    }

    void writtenReplacedAndRemoved() {
        const QString path = m_config->filePath(u"autostart/corvane.desktop"_s);
        QCOMPARE(SystemStartWithSystem::entryLocation(), path);
        SystemStartWithSystem entry;

        entry.enable({u"/old/corvane"_s, {}});
        QVERIFY(QFile::exists(path));
        entry.enable({u"/new/corvane"_s, {u"--data-dir"_s, u"/d"_s}});
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        file.close();
        QVERIFY(text.startsWith("[Desktop Entry]\n"));
        QVERIFY(text.contains("\nType=Application\n"));
        QVERIFY(text.contains("\nExec=/new/corvane --data-dir /d\n"));
        QVERIFY(!text.contains("/old/"));

        entry.disable();
        QVERIFY(!QFile::exists(path));
        // Removing an entry that is already gone changes nothing and is no error.
        entry.disable();
        QVERIFY(!QFile::exists(path));
    }

    void unwritableEntryIsReported() {
        // A file where the autostart folder should be.
        QFile blocker(m_config->filePath(u"autostart"_s));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        SystemStartWithSystem entry;
        try {
            entry.enable({u"/usr/bin/corvane"_s, {}});
            QFAIL("no error");
        } catch (const corvane::FileError &e) {
            QVERIFY2(e.message().startsWith(u"Failed to set data for 'revidaz'"_s),
                     qPrintable(e.message()));
        }
    }

private:
    std::unique_ptr<QTemporaryDir> m_config;
};

QTEST_GUILESS_MAIN(TestAutostart)
#include "tst_autostart.moc"
