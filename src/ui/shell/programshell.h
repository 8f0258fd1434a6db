#pragma once

#include "core/platform/autostart.h"
#include "core/settings/programdata.h"
#include "ui/records/logprinter.h"
#include "ui/shell/trayicon.h"

#include <memory>

namespace corvane {

class AccountStore;
class Prompts;
class RulesWindow;
class AddAccountDialog;
class ListEntryDialog;
class WordPairDialog;
class EditAccountDialog;
class ListUpdateWindow;
class HeadersWindow;
class DeletionLogWindow;
class SavedEmailsWindow;
class WelcomeWizard;
class HelpMenu;
class TfmSetup;
class TfrmMain;
class Transport;

// The program from start-up to shutdown: it owns the lists, the log, the settings and the
// account store for the whole run, creates every window once, and saves what it read when the
// main window closes. Nothing is written over a file whose contents were never read.
class ProgramShell {
public:
    ProgramShell(DataDirectory directory, Prompts &prompts, Transport &transport);
    ~ProgramShell();
    ProgramShell(const ProgramShell &) = delete;
    ProgramShell &operator=(const ProgramShell &) = delete;

    // The start-up sequence up to showing the main window: the data directory's lock, the main
    // window, the four lists, the log, the other windows, the account store and its menus, the
    // settings. An error in a step is shown and start-up goes on with the next one; a data
    // directory that cannot be created or that another program holds (LockError) and a main
    // window that cannot be made end start-up (the error is thrown).
    void start();
    // The entry that starts the program with the desktop session and the command it holds;
    // set before start(). Without one (tests) the "Load program when windows starts" tick
    // changes only the setting.
    void setStartWithSystem(StartWithSystem *entry, StartCommand command) {
        m_startEntry = entry;
        m_startCommand = std::move(command);
    }
    // Replaces the question whether the desktop has a notification area (tests); set before
    // start().
    void setTrayAvailability(TrayIcon::Availability availability) {
        m_trayAvailability = std::move(availability);
    }
    // The shutdown sequence, run when the main window closes: disconnect, then the log, the
    // four lists and the settings. The first failure is thrown and ends the sequence there.
    void shutdown();

    TfrmMain *mainWindow() const { return m_main.get(); }
    RulesWindow *rulesWindow() const { return m_rulesWindow; }
    AddAccountDialog *addAccountDialog() const { return m_addAccountDialog; }
    ListEntryDialog *listEntryDialog() const { return m_listEntryDialog; }
    WordPairDialog *wordPairDialog() const { return m_wordPairDialog; }
    EditAccountDialog *editAccountDialog() const { return m_editAccountDialog; }
    DeletionLogWindow *logWindow() const { return m_logWindow; }
    HeadersWindow *headersWindow() const { return m_headersWindow; }
    SavedEmailsWindow *savedEmailsWindow() const { return m_savedEmailsWindow; }
    ListUpdateWindow *listUpdateWindow() const { return m_listUpdateWindow; }
    // Shows the update window (Program > "Check for updates", the wizard's master-list link).
    void showUpdateWindow();
    TfmSetup *optionsWindow() const { return m_optionsWindow; }
    // The Welcome window; made only when the Welcome timer of a start without accounts fires.
    WelcomeWizard *welcomeWizard() const { return m_welcomeWizard; }
    TrayIcon *trayIcon() const { return m_tray; }
    HelpMenu *helpMenu() const { return m_help; }

    const DataDirectory &directory() const { return m_data.directory(); }
    ProgramData &data() { return m_data; }
    RuleLists &lists() { return m_data.lists; }
    DeletionLog &log() { return m_data.log; }
    Settings &settings() { return m_data.settings; }
    AccountStore *accountStore() const { return m_data.store(); }
    const ListFileSet &listFiles() const { return m_data.listFiles(); }
    const SettingsFile &settingsFile() const { return m_data.settingsFile(); }

private:
    void createDialogs();
    void openAccountStore();
    void createOptionsWindow();
    void createTrayIcon();
    void openLearning();
    // Arms the Welcome timer when the account store is open and holds no account.
    void armWelcome();
    void showWelcome();

    // The lists, the log, the settings and the account store, and the directory's lock, held
    // until the shell goes, after the last file has been saved.
    ProgramData m_data;
    Prompts &m_prompts;
    Transport &m_transport;
    // The windows go before the data they show.
    std::unique_ptr<TfrmMain> m_main;
    RulesWindow *m_rulesWindow = nullptr;
    AddAccountDialog *m_addAccountDialog = nullptr;
    ListEntryDialog *m_listEntryDialog = nullptr;
    WordPairDialog *m_wordPairDialog = nullptr;
    EditAccountDialog *m_editAccountDialog = nullptr;
    DeletionLogWindow *m_logWindow = nullptr;
    HeadersWindow *m_headersWindow = nullptr;
    SavedEmailsWindow *m_savedEmailsWindow = nullptr;
    ListUpdateWindow *m_listUpdateWindow = nullptr;
    TfmSetup *m_optionsWindow = nullptr;
    WelcomeWizard *m_welcomeWizard = nullptr;
    TrayIcon *m_tray = nullptr;
    HelpMenu *m_help = nullptr;
    TrayIcon::Availability m_trayAvailability;
    StartWithSystem *m_startEntry = nullptr;
    StartCommand m_startCommand;
    SystemPrinterSource m_printers;
};

} // namespace corvane
