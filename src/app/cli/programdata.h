#pragma once

#include "platform/datadir.h"
#include "records/deletionlog.h"
#include "rules/listfileset.h"
#include "rules/rulelists.h"
#include "settings/settings.h"

#include <QStringList>

#include <memory>

namespace corvane {
class AccountStore;
}

namespace corvane::cli {

// The files of a data directory as the desktop program reads them at start-up and writes them
// at shutdown: the four lists, the deletion log, Settings.ini (options, rule ticks and the
// total of deleted messages) and the account store. Nothing is written over a file whose
// contents could not be read.
class ProgramData {
public:
    explicit ProgramData(DataDirectory directory);
    ~ProgramData();
    ProgramData(const ProgramData &) = delete;
    ProgramData &operator=(const ProgramData &) = delete;

    // Reads every file, going on after a failure as the desktop program does; returns the
    // problems met, in order.
    QStringList load();
    // Writes the log, the lists and the settings. Throws the first failure.
    void save();

    const DataDirectory &directory() const { return m_directory; }
    // The archive folder, created when missing.
    QString archiveFolder() const;

    RuleLists lists;
    DeletionLog log;
    Settings settings;
    // Null when accounts.dat could not be opened.
    AccountStore *store() const { return m_store.get(); }

private:
    DataDirectory m_directory;
    ListFileSet m_listFiles;
    SettingsFile m_settingsFile;
    std::unique_ptr<AccountStore> m_store;
    bool m_logRead = true;
};

} // namespace corvane::cli
