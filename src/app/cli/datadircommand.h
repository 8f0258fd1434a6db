#pragma once

// The data directory of the commands that work on one (accounts, settings, classify, check,
// process, auto): one --data-dir option, one default and one place where the directory is
// opened, so every command finds the files the desktop program uses.

#include "core/platform/datadir.h"
#include "core/platform/datadirlock.h"
#include "core/settings/programdata.h"

#include <QCommandLineOption>
#include <QString>

#include <memory>
#include <optional>

class QCommandLineParser;

namespace corvane {
class DataDirectoryLock;
struct RuleLists;
} // namespace corvane

namespace corvane::cli {

class DataDirCommand {
public:
    // command: the command's name in messages ("accounts add"); holds: what the command uses
    // in the directory, for --help ("accounts.dat").
    DataDirCommand(QString command, const QString &holds);

    // The sentence of every --help that names the default directory.
    static QString defaultHelp();

    const QString &command() const { return m_command; }
    const QCommandLineOption &option() const { return m_option; }

    // The directory --data-dir names, or the default: the directory of the executable, as
    // the desktop program uses. Nothing, after an error message, when it is not a directory.
    std::optional<DataDirectory> directory(const QCommandLineParser &parser) const;

    // The directory with its lock taken, for a command that changes a file in it; the lock
    // is held as long as the result lives. Nothing, after an error message, when there is no
    // such directory or another program holds it.
    struct Locked {
        DataDirectory directory;
        std::unique_ptr<DataDirectoryLock> lock;
    };
    std::optional<Locked> lockedDirectory(const QCommandLineParser &parser) const;

    // The error for an account NAME that the directory's accounts.dat does not hold, with the
    // command that lists the accounts there.
    void noAccountNamed(const QCommandLineParser &parser, const DataDirectory &directory,
                        const QString &name) const;
    // The command that lists the accounts of the directory this command was given
    // ("corvane-cli accounts list", with its --data-dir when one was given).
    QString accountsListCommand(const QCommandLineParser &parser) const;

    // False, after an error message, when the command was given an argument it takes none of.
    bool noPositionals(const QCommandLineParser &parser) const;

    // Whether a missing accounts.dat is an error or is created empty, as the desktop program
    // does.
    enum class Accounts { MustExist, CreateWhenMissing };
    // The program data of the directory, read as the desktop program reads it at start-up,
    // each problem printed. No data, after an error message, when the directory (or, with
    // MustExist, accounts.dat) does not exist, another program holds the directory, or the
    // accounts cannot be opened.
    // The directory's lock is taken before anything is read and held as long as lock lives.
    struct Opened {
        std::unique_ptr<DataDirectoryLock> lock;
        std::unique_ptr<ProgramData> data; // null after an error message
    };
    Opened openProgramData(const QCommandLineParser &parser, Accounts accounts) const;

    // Reads the four list files and, when ticks, the rule ticks of Settings.ini into lists
    // (and its options into settings, when given), writing nothing (a missing file keeps what
    // lists holds). False, after an error message, when a list file is damaged.
    bool readLists(const DataDirectory &directory, RuleLists &lists, bool ticks,
                   Settings *settings = nullptr) const;

private:
    QString m_command;
    QCommandLineOption m_option;
};

} // namespace corvane::cli
