#pragma once

#include "core/learning/learningstore.h"
#include "core/platform/datadir.h"
#include "core/platform/datadirlock.h"
#include "core/records/deletionlog.h"
#include "core/records/pendingrun.h"
#include "core/rules/listfileset.h"
#include "core/rules/rulelists.h"
#include "core/settings/secretstore.h"
#include "core/settings/settings.h"

#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>

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
// exists but could not be read is left as it was. The log is written only when its lines
// changed, so a command that adds none leaves the file's bytes alone.
//
// It is also the RunRecorder of processing: a run's record (PendingRun::FileName) is written
// before its QUIT, and the log and the total are saved right after QUIT's answer. Start-up
// removes the temporary files of writes that a kill cut short, and completes the log from a
// record that a run left behind (finishPendingRun).
class ProgramData final : public RunRecorder {
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
    // Adds the record of a run that ended before its log was saved (a kill, a full disk) to
    // the log and the total, saves both and removes the record. Runs after loadLog() and
    // readSettings(). Returns what it did, for the user, or nothing when there was no record;
    // throws FileError or DataError (the record then stays) when it cannot be completed.
    QStringList finishPendingRun();
    // Every step in order, going on after a failure; returns the problems met, in order.
    QStringList load();

    // RunRecorder.
    void settleEarlierRun() override;
    void recordBeforeQuit(const PendingRun &run) override;
    void settle(bool confirmed) override;

    // Writes the log, the lists and the settings, each on its own, going on after a failure.
    // Throws FileError naming every file that could not be written, a line each.
    void save();
    // Writes one list file now, as save() would. Throws FileError when it cannot be written.
    void saveList(ListKind kind);

    const DataDirectory &directory() const { return m_directory; }
    // The archive folder, created when missing.
    QString archiveFolder() const;
    const ListFileSet &listFiles() const { return m_listFiles; }
    // Reads again the list files that another program changed since they were read or saved
    // (see ListFileSet::reloadChanged); returns what happened, for the user.
    QStringList reloadChangedLists() { return m_listFiles.reloadChanged(lists); }
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
    // The log's lines as the file holds them, when known: the log is written only when its
    // lines differ.
    std::optional<QStringList> m_logOnDisk;
    // The record of this program's run that waits to be saved, if any.
    std::optional<PendingRun> m_pending;

    QString pendingPath() const;
    QString confirmedPath() const;
    // Saves the log (when changed) and the settings with the total; throws FileError.
    void saveLogAndTotal();
};

} // namespace corvane
