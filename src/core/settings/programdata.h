#pragma once

#include "core/learning/learningstore.h"
#include "core/platform/datadir.h"
#include "core/platform/datadirlock.h"
#include "core/records/deletionlog.h"
#include "core/rules/listfileset.h"
#include "core/rules/rulelists.h"
#include "core/settings/secretstore.h"
#include "core/settings/settings.h"

#include <QStringList>

#include <chrono>
#include <memory>

namespace corvane {

class AccountStore;

// The program's data for one run, the same for the desktop program and corvane-cli: the four
// rule lists, the deletion log, Settings.ini (options, rule ticks and the total of deleted
// messages) and the account store of one data directory, with the directory's lock.
//
// Start-up reads the files in this order: the lists, the log, the account store, the
// settings (the desktop program creates its windows between the steps, so each step is a
// call of its own; load() runs them all). Shutdown writes the log, the lists and the
// settings, in that order. Nothing is ever written over a file whose contents could not be
// read: a damaged list file is kept as <name>.damaged first, and a log or settings file that
// exists but could not be read is left as it was.
class ProgramData {
public:
    static const QString AccountsFileName; // "accounts.dat"
    static const QString SmtpSecretKey;    // "smtp": the SMTP password in the SecretStore

    explicit ProgramData(DataDirectory directory);
    ~ProgramData();
    ProgramData(const ProgramData &) = delete;
    ProgramData &operator=(const ProgramData &) = delete;

    // Creates the directory when missing and takes its lock, waiting up to wait for another
    // program to let go. Throws (FileError, LockError) when the directory cannot be had; the
    // lock is held until the object goes, after the last file has been saved.
    void lock(std::chrono::milliseconds wait = std::chrono::milliseconds(0));

    // The start-up steps. loadLists() returns the problems of each list (a damaged or
    // unreadable file, the entries it could read kept); the other steps throw their failure,
    // after which start-up goes on with the next step.
    QStringList loadLists();
    void loadLog();
    void openAccountStore();
    // Reads Settings.ini, then the SMTP password from the secret store.
    void readSettings();
    // Opens the learning database (learning.db) and loads it, when the option learning is
    // on; not part of load(), for the commands that screen mail only. Throws FileError naming
    // the file when it cannot be read; a check then runs without learning and tries again.
    void openLearning();
    // Every step in order, going on after a failure; returns the problems met, in order.
    QStringList load();

    // Writes the log, the lists and the settings, each on its own, going on after a failure.
    // Throws FileError naming every file that could not be written, a line each.
    void save();

    const DataDirectory &directory() const { return m_directory; }
    // The archive folder, created when missing.
    QString archiveFolder() const;
    const ListFileSet &listFiles() const { return m_listFiles; }
    const SettingsFile &settingsFile() const { return m_settingsFile; }
    // The secret store of the data directory.
    SecretStore secrets() const;
    // Stores the SMTP password in the secret store at once (an empty one removes it) and
    // makes it the current one; returns where it went. Throws FileError when it cannot be
    // stored (the current password then stays as it was).
    SecretStore::Place setSmtpPassword(const QString &password);

    RuleLists lists;
    DeletionLog log;
    Settings settings;
    // Null until openAccountStore(), and when accounts.dat could not be opened.
    AccountStore *store() const { return m_store.get(); }
    // The learned filter of the directory; open once openLearning() has succeeded.
    LearningStore &learning() { return m_learning; }

private:
    DataDirectory m_directory;
    std::unique_ptr<DataDirectoryLock> m_lock;
    ListFileSet m_listFiles;
    SettingsFile m_settingsFile;
    std::unique_ptr<AccountStore> m_store;
    LearningStore m_learning;
};

} // namespace corvane
