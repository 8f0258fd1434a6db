// corvane-cli settings: show the values of Settings.ini, or change one of them.

#include "app/cli/command.h"
#include "app/cli/datadircommand.h"
#include "app/cli/shared.h"

#include "core/errors.h"
#include "core/platform/inifile.h"
#include "core/rules/miscrules.h"
#include "core/settings/programdata.h"
#include "core/settings/secretstore.h"
#include "core/settings/settings.h"

#include <QCommandLineParser>
#include <QDir>

#include <cstdio>
#include <iostream>
#include <limits>
#include <optional>
#include <string>

#ifdef Q_OS_UNIX
#include <termios.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace corvane::cli {
namespace {

QString qualified(const ConfigurationKey &k) {
    return k.section + u'.' + k.key;
}

// The value as the file will hold it, or nothing when the text does not suit the key. The
// command is stricter than reading the file: it refuses what reading would replace with a
// default, so a typing error never passes unnoticed.
std::optional<QString> normalise(const ConfigurationKey &k, const QString &text, QString &problem) {
    using Form = ConfigurationKey::Form;
    const QString t = text.trimmed();
    if (text.contains(u'\n') || text.contains(u'\r')) {
        problem = u"a value cannot hold a line break"_s;
        return std::nullopt;
    }
    if (k.key == u"AutoIntvl"_s) {
        const auto v = parseLegacyInteger(t, Settings::MinAutoIntvl, Settings::MaxAutoIntvl);
        if (!v)
            problem = u"AutoIntvl takes a number of minutes from 1 to 120"_s;
        return v ? std::optional<QString>(QString::number(*v)) : std::nullopt;
    }
    if (k.key == u"deletecount"_s) {
        const auto v = parseLegacyInteger(t, 0, std::numeric_limits<qint64>::max() - 1);
        if (!v)
            problem = u"deletecount takes a whole number from 0 up"_s;
        return v ? std::optional<QString>(QString::number(*v)) : std::nullopt;
    }
    switch (k.form) {
    case Form::Boolean: {
        const QString l = t.toLower();
        if (l == u"1"_s || l == u"true"_s || l == u"yes"_s || l == u"on"_s)
            return u"1"_s;
        if (l == u"0"_s || l == u"false"_s || l == u"no"_s || l == u"off"_s)
            return u"0"_s;
        problem = u"%1 takes 1 or 0 (or true/false, yes/no, on/off)"_s.arg(k.key);
        return std::nullopt;
    }
    case Form::Colour: {
        // "#RRGGBB" as web pages write it, or the stored number 0x00BBGGRR.
        if (t.startsWith(u'#') && t.size() == 7) {
            bool ok = false;
            const uint rgb = t.mid(1).toUInt(&ok, 16);
            if (ok) {
                const uint r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
                return QString::number(r | (g << 8) | (b << 16));
            }
        }
        if (const auto v = parseLegacyInteger(t, 0, 0xFFFFFF))
            return QString::number(*v);
        problem = u"%1 takes a colour as #RRGGBB or as a number 0x00BBGGRR"_s.arg(k.key);
        return std::nullopt;
    }
    case Form::Integer:
    case Form::Text:
        break;
    }
    return text;
}

int show(const QStringList &args) {
    const QString command = u"settings show"_s;
    const DataDirCommand data(command, SettingsFile::FileName);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Prints every key of Settings.ini as Section.key=value, with the value the program "
        u"would use: the file's value, or the default where the file has none or one that "
        u"cannot be read. Colours are numbers 0x00BBGGRR."_s);
    parser.addOption(data.option());
    int code = Success;
    if (!parseArguments(parser, command, args, code))
        return code;
    if (!data.noPositionals(parser))
        return Usage;
    const auto dir = data.directory(parser);
    if (!dir)
        return Failure;
    Settings settings;
    MiscRules misc;
    QString deleteCount = u"0"_s;
    SettingsFile(dir->filePath(SettingsFile::FileName))
        .ReadConfiguration(settings, misc, deleteCount);
    // Which folder was read, as a comment line that readers of KEY=value lines pass over.
    QString text = u"# data folder: %1\n"_s.arg(QDir::toNativeSeparators(dir->path()));
    for (const ConfigurationKey &k : configurationKeys())
        text += qualified(k) + u'=' + configurationValue(k, settings, misc, deleteCount) + u'\n';
    out(text);
    return Success;
}

int set(const QStringList &args) {
    const QString command = u"settings set"_s;
    const DataDirCommand data(command, SettingsFile::FileName);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Changes one key of Settings.ini, as the options window would, and writes the file "
        u"the way the program does when it closes: every key is written, keys already in the "
        u"file change where they stand and every other line is kept. KEY is a key name such "
        u"as AutoIntvl, deletecount or 13 (a rule tick), optionally with its section "
        u"(Options.AutoIntvl, Blacklist.13). While the desktop program or another command "
        u"holds the data directory, it waits a few seconds and then fails."_s);
    parser.addOption(data.option());
    parser.addPositionalArgument(u"KEY"_s, u"The key to change."_s);
    parser.addPositionalArgument(u"VALUE"_s, u"Its new value."_s);
    int code = Success;
    if (!parseArguments(parser, command, args, code))
        return code;
    const QStringList pos = parser.positionalArguments();
    if (pos.size() != 2) {
        err(u"corvane-cli %1: expected KEY and VALUE\n"_s.arg(command));
        return Usage;
    }
    const ConfigurationKey *key = findConfigurationKey(pos[0]);
    if (!key) {
        err(u"corvane-cli %1: unknown key '%2' (see 'corvane-cli settings show')\n"_s.arg(command,
                                                                                          pos[0]));
        return Usage;
    }
    QString problem;
    const auto value = normalise(*key, pos[1], problem);
    if (!value) {
        err(u"corvane-cli %1: %2, not '%3'\n"_s.arg(command, problem, pos[1]));
        return Usage;
    }
    const auto locked = data.lockedDirectory(parser);
    if (!locked)
        return Failure;
    const DataDirectory &dir = locked->directory;
    Settings settings;
    MiscRules misc;
    QString deleteCount = u"0"_s;
    SettingsFile file(dir.filePath(SettingsFile::FileName));
    file.ReadConfiguration(settings, misc, deleteCount);
    applyConfigurationValue(*key, *value, settings, misc, deleteCount);
    file.WriteConfiguration(settings, misc, deleteCount);
    return Success;
}

// One line of standard input without its line end; nothing at the end of the input. On a
// terminal the typing is not shown.
std::optional<QString> readSecretLine() {
#ifdef Q_OS_UNIX
    const bool terminal = isatty(STDIN_FILENO) != 0;
    termios saved{};
    if (terminal && tcgetattr(STDIN_FILENO, &saved) == 0) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
#endif
    std::string line;
    const bool got = bool(std::getline(std::cin, line));
#ifdef Q_OS_UNIX
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        err(u"\n"_s);
    }
#endif
    if (!got && line.empty())
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromStdString(line);
}

int smtpPassword(const QStringList &args) {
    const QString command = u"settings smtp-password"_s;
    const DataDirCommand data(command, SecretStore::FileName);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Stores the password for the SMTP login (the setting smtpuser), read as one line from "
        u"standard input, never from the command line, where other users could see it. It "
        u"goes to the desktop's secret store when one answers, otherwise to secrets.dat in "
        u"the data folder, readable by you alone; never to Settings.ini. An empty line "
        u"removes the stored password. Prints where it was kept."_s);
    parser.addOption(data.option());
    int code = Success;
    if (!parseArguments(parser, command, args, code))
        return code;
    if (!data.noPositionals(parser))
        return Usage;
    const auto locked = data.lockedDirectory(parser);
    if (!locked)
        return Failure;
#ifdef Q_OS_UNIX
    if (isatty(STDIN_FILENO))
        err(u"SMTP password (not shown; an empty line removes it): "_s);
#endif
    const auto password = readSecretLine();
    if (!password) {
        err(u"corvane-cli %1: no password on standard input (give it as one line, for example "
            u"from a password manager's command)\n"_s.arg(command));
        return Usage;
    }
    try {
        const SecretStore::Place place =
            SecretStore(locked->directory.path()).write(ProgramData::SmtpSecretKey, *password);
        if (password->isEmpty())
            out(u"removed the SMTP password\n"_s);
        else
            out(place == SecretStore::Place::Keychain
                    ? u"stored the SMTP password in the desktop's secret store\n"_s
                    : u"stored the SMTP password in %1 (readable by you alone)\n"_s.arg(
                          QDir::toNativeSeparators(
                              SecretStore(locked->directory.path()).filePath())));
    } catch (const Error &e) {
        err(u"corvane-cli %1: %2\n"_s.arg(command, e.message()));
        return Failure;
    }
    return Success;
}

int run(const QStringList &args) {
    const QString help = u"Usage: corvane-cli settings show [--data-dir DIR]\n"
                         u"       corvane-cli settings set KEY VALUE [--data-dir DIR]\n"
                         u"       corvane-cli settings smtp-password [--data-dir DIR] < FILE\n\n"
                         u"Shows or changes the options, rule ticks and deletion total kept in "
                         u"Settings.ini of the data folder\n(default: the desktop program's).\nRun "
                         u"'corvane-cli settings show --help' or "
                         u"'corvane-cli settings set --help' for details.\n"_s;
    return runSubcommand(u"settings"_s, args,
                         {{u"show"_s, show}, {u"set"_s, set}, {u"smtp-password"_s, smtpPassword}},
                         help);
}

const CommandRegistration registration{
    {u"settings"_s, u"Show or change the values kept in Settings.ini."_s, run}};

} // namespace
} // namespace corvane::cli
