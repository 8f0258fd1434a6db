#include "app/cli/datadircommand.h"

#include "app/cli/command.h"
#include "app/cli/shared.h"

#include "core/errors.h"
#include "core/rules/listfile.h"
#include "core/rules/rulelists.h"
#include "core/settings/settings.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace corvane::cli {

namespace {
const QString kStoreFile = u"accounts.dat"_s;
}

DataDirCommand::DataDirCommand(QString command, const QString &holds)
    : m_command(std::move(command)),
      m_option(u"data-dir"_s, u"The data directory that holds %1. %2"_s.arg(holds, defaultHelp()),
               u"DIR"_s) {}

QString DataDirCommand::defaultHelp() {
    return u"Default: the same folder as the desktop program's, %1."_s.arg(
        QDir::toNativeSeparators(DataDirectory::defaultPath()));
}

std::optional<DataDirectory> DataDirCommand::directory(const QCommandLineParser &parser) const {
    const DataDirectory dir(parser.isSet(m_option) ? parser.value(m_option)
                                                   : DataDirectory::defaultPath());
    // The user's own data folder is made on first use, as the desktop program makes it; a
    // folder named with --data-dir must exist, so a typing error is not taken for a new one.
    if (!parser.isSet(m_option) && DataDirectory::defaultIsUserFolder() &&
        !QFileInfo::exists(dir.path())) {
        try {
            dir.create();
        } catch (const Error &e) {
            err(u"corvane-cli %1: %2\n"_s.arg(m_command, e.message()));
            return std::nullopt;
        }
    }
    if (!QFileInfo(dir.path()).isDir()) {
        err(u"corvane-cli %1: no such directory: %2\n"_s.arg(m_command, dir.path()));
        return std::nullopt;
    }
    return dir;
}

std::optional<DataDirCommand::Locked>
DataDirCommand::lockedDirectory(const QCommandLineParser &parser) const {
    auto dir = directory(parser);
    if (!dir)
        return std::nullopt;
    auto lock = lockDataDirectory(*dir, m_command);
    if (!lock)
        return std::nullopt;
    return Locked{std::move(*dir), std::move(lock)};
}

namespace {

// A word as a POSIX shell reads it back: quoted when it holds anything but plain characters.
QString shellWord(const QString &word) {
    static const QRegularExpression plain(u"^[A-Za-z0-9_./:@%+=,-]+$"_s);
    if (plain.match(word).hasMatch())
        return word;
    return u'\'' + QString(word).replace(u"'"_s, u"'\\''"_s) + u'\'';
}

} // namespace

QString DataDirCommand::accountsListCommand(const QCommandLineParser &parser) const {
    QString command = u"corvane-cli accounts list"_s;
    if (parser.isSet(m_option))
        command += u" --data-dir "_s + shellWord(field(parser.value(m_option)));
    return command;
}

void DataDirCommand::noAccountNamed(const QCommandLineParser &parser,
                                    const DataDirectory &directory, const QString &name) const {
    err(u"corvane-cli %1: no account named '%2' in %3. The accounts are listed by: %4\n"_s.arg(
        m_command, field(name), QDir::toNativeSeparators(directory.filePath(kStoreFile)),
        accountsListCommand(parser)));
}

bool DataDirCommand::noPositionals(const QCommandLineParser &parser) const {
    if (parser.positionalArguments().isEmpty())
        return true;
    err(u"corvane-cli %1: unexpected argument '%2'\n"_s.arg(
        m_command, parser.positionalArguments().constFirst()));
    return false;
}

DataDirCommand::Opened DataDirCommand::openProgramData(const QCommandLineParser &parser,
                                                       Accounts accounts) const {
    Opened opened;
    const auto dir = directory(parser);
    if (!dir)
        return opened;
    if (accounts == Accounts::MustExist && !QFileInfo::exists(dir->filePath(kStoreFile))) {
        err(u"corvane-cli %1: %2 does not exist: no accounts. Add one with: corvane-cli "
            u"accounts add\n"_s.arg(m_command, dir->filePath(kStoreFile)));
        return opened;
    }
    opened.lock = lockDataDirectory(*dir, m_command);
    if (!opened.lock)
        return opened;
    auto data = std::make_unique<ProgramData>(*dir);
    for (const QString &problem : data->load())
        err(u"corvane-cli %1: %2\n"_s.arg(m_command, problem));
    if (data->store())
        opened.data = std::move(data);
    return opened;
}

bool DataDirCommand::readLists(const DataDirectory &directory, RuleLists &lists, bool ticks,
                               Settings *settings) const {
    for (ListKind kind : kAllListKinds) {
        const QString path = directory.filePath(listFileName(kind));
        if (LoadListFile(lists.list(kind), path).damaged()) {
            err(u"corvane-cli %1: %2: damaged list file\n"_s.arg(m_command, path));
            return false;
        }
    }
    if (ticks || settings) {
        Settings options;
        MiscRules misc = lists.Misc;
        QString deleteCount;
        SettingsFile(directory.filePath(SettingsFile::FileName))
            .ReadConfiguration(options, misc, deleteCount);
        if (ticks)
            lists.Misc = misc;
        if (settings)
            *settings = options;
    }
    return true;
}

} // namespace corvane::cli
