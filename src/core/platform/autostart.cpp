#include "core/platform/autostart.h"

#include "core/errors.h"
#include "core/platform/datadir.h"
#include "core/platform/durablefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <QSettings>
#endif

using namespace Qt::StringLiterals;

namespace corvane {

const QString StartWithSystem::ValueName = u"revidaz"_s;

namespace {

// An argument as the Exec key wants it: quoted when it holds a reserved character, with the
// four characters that stay special inside quotes escaped by a backslash.
QString quoteExecArgument(const QString &argument) {
    static const QString reserved = u" \t\n\"'\\><~|&;$*?#()`"_s;
    bool needsQuotes = argument.isEmpty();
    for (QChar c : argument)
        if (reserved.contains(c))
            needsQuotes = true;
    QString out;
    if (!needsQuotes)
        out = argument;
    else {
        out += u'"';
        for (QChar c : argument) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                out += u'\\';
            out += c;
        }
        out += u'"';
    }
    // A literal percent sign is written twice: a single one starts a field code.
    out.replace(u"%"_s, u"%%"_s);
    return out;
}

// A value of type string: backslash, newline, tab and carriage return are escaped.
QString escapeStringValue(const QString &value) {
    QString out;
    for (QChar c : value) {
        if (c == u'\\')
            out += u"\\\\"_s;
        else if (c == u'\n')
            out += u"\\n"_s;
        else if (c == u'\t')
            out += u"\\t"_s;
        else if (c == u'\r')
            out += u"\\r"_s;
        else
            out += c;
    }
    return out;
}

[[noreturn]] void failToSet(const QString &reason) {
    QString text = u"Failed to set data for '%1'"_s.arg(StartWithSystem::ValueName);
    if (!reason.isEmpty())
        text += u". "_s + reason;
    throw FileError(text);
}

#ifndef Q_OS_WIN
QString autostartFolder() {
    // A relative or empty XDG_CONFIG_HOME is invalid and ignored.
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + u"/.config"_s;
    return config + u"/autostart"_s;
}
#else
const QString RunKey = u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"_s;
#endif

} // namespace

QString desktopExecValue(const StartCommand &command) {
    QStringList parts;
    parts << quoteExecArgument(command.program);
    for (const QString &argument : command.arguments)
        parts << quoteExecArgument(argument);
    return escapeStringValue(parts.join(u' '));
}

QByteArray desktopEntry(const StartCommand &command) {
    QString text = u"[Desktop Entry]\n"
                   u"Type=Application\n"
                   u"Version=1.0\n"
                   u"Name=Corvane\n"
                   u"Comment=Screens POP3 mailboxes for spam\n"
                   u"Exec="_s +
                   desktopExecValue(command) +
                   u"\n"
                   u"Icon=corvane\n"
                   u"Terminal=false\n"
                   u"X-GNOME-Autostart-enabled=true\n"_s;
    return text.toUtf8();
}

#ifndef Q_OS_WIN

QString SystemStartWithSystem::entryLocation() {
    return autostartFolder() + u"/corvane.desktop"_s;
}

void SystemStartWithSystem::enable(const StartCommand &command) {
    try {
        QDir().mkpath(autostartFolder());
        writeFileDurably(entryLocation(), desktopEntry(command));
    } catch (const WriteError &e) {
        failToSet(e.reason());
    }
}

void SystemStartWithSystem::disable() {
    const QString path = entryLocation();
    QFile file(path);
    if (!QFileInfo(path).exists() && !QFileInfo(path).isSymLink())
        return;
    if (!file.remove())
        failToSet(file.errorString());
}

#else

QString SystemStartWithSystem::entryLocation() {
    return RunKey + u"\\"_s + ValueName;
}

void SystemStartWithSystem::enable(const StartCommand &command) {
    QString data = QDir::toNativeSeparators(command.program);
    if (!command.arguments.isEmpty()) {
        QStringList parts{u'"' + data + u'"'};
        for (const QString &argument : command.arguments)
            parts << u'"' + QDir::toNativeSeparators(argument) + u'"';
        data = parts.join(u' ');
    }
    QSettings run(RunKey, QSettings::NativeFormat);
    run.setValue(ValueName, data);
    run.sync();
    if (run.status() != QSettings::NoError)
        failToSet(QString());
}

void SystemStartWithSystem::disable() {
    QSettings run(RunKey, QSettings::NativeFormat);
    run.remove(ValueName);
    run.sync();
    if (run.status() != QSettings::NoError)
        failToSet(QString());
}

#endif

} // namespace corvane
