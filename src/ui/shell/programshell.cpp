#include "ui/shell/programshell.h"

#include "core/errors.h"
#include "core/settings/accountstore.h"
#include "ui/records/deletionlogwindow.h"
#include "ui/records/headerswindow.h"
#include "ui/records/savedemailswindow.h"
#include "ui/rules/listentrydialog.h"
#include "ui/rules/listupdatewindow.h"
#include "ui/rules/ruleswindow.h"
#include "ui/rules/wordpairdialog.h"
#include "ui/screening/tfrmmain.h"
#include "ui/settings/addaccountdialog.h"
#include "ui/settings/editaccountdialog.h"
#include "ui/settings/tfmsetup.h"
#include "ui/settings/trustedserverfield.h"
#include "ui/shell/guard.h"
#include "ui/shell/helpmenu.h"
#include "ui/shell/prompts.h"
#include "ui/shell/welcomewizard.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace corvane {

ProgramShell::ProgramShell(DataDirectory directory, Prompts &prompts, Transport &transport)
    : m_data(std::move(directory)), m_prompts(prompts), m_transport(transport) {}

ProgramShell::~ProgramShell() {
    // The windows refer to the store and the lists: they go first.
    m_main.reset();
}

void ProgramShell::start() {
    // One program at a time works on a data directory: a second one ends here, saying which
    // program holds it.
    m_data.lock();

    // The main window; without it there is no program.
    m_main = std::make_unique<TfrmMain>(m_prompts, m_transport, m_data.lists, m_data.settings);
    m_main->setShutdownSequence([this] { shutdown(); });
    guarded(m_prompts, nullptr, [this] { m_main->FormCreate(m_data.directory()); });
    createTrayIcon();
    m_help = new HelpMenu(m_main.get(), m_data.settings);

    for (const QString &message : m_data.loadLists())
        m_prompts.error(m_main.get(), message);

    guarded(m_prompts, m_main.get(), [this] { m_data.loadLog(); });
    guarded(m_prompts, m_main.get(), [this] {
        m_logWindow = new DeletionLogWindow(m_data.log, m_prompts, m_printers, m_main.get());
    });

    createDialogs();
    createOptionsWindow();
    openAccountStore();

    // The settings are read even when the account store could not be opened, so that the
    // shutdown writes back what the file held rather than the defaults.
    guarded(m_prompts, m_main.get(), [this] { m_data.readSettings(); });
    openLearning();
    // A run that ended before its log was saved is completed now, before anything else runs.
    guarded(m_prompts, m_main.get(), [this] {
        for (const QString &message : m_data.finishPendingRun())
            m_prompts.information(m_main.get(), message);
    });
    m_main->setRunRecorder(&m_data);
    // The options window shows what was read; a stored "start with the session" writes the
    // entry again with the program's current path. A failure there is shown and changes
    // nothing of what was read.
    if (m_optionsWindow) {
        m_optionsWindow->takeOverStoredSettings();
        // The sizes of the files as they lie at start-up.
        m_optionsWindow->setListFolder(m_data.directory().path());
        m_optionsWindow->setListSaver([this] {
            for (const ListKind kind :
                 {ListKind::SubjectBlack, ListKind::EmailBlack, ListKind::XandY})
                m_data.saveList(kind);
        });
    }
    // The total comes from the settings.
    if (m_logWindow)
        m_logWindow->showLog();
    m_main->applyListColour();
    armWelcome();
}

void ProgramShell::openLearning() {
    // The learned filter, when the option is on. A database that cannot be opened (damaged,
    // locked by another program) never stops start-up nor a check: the status line names the
    // file, each check then runs on the lists and rules alone and tries the file again.
    try {
        m_data.openLearning();
    } catch (const Error &e) {
        m_main->showNotice(u"Learning is off: %1"_s.arg(e.message()));
    }
    m_main->setLearning(&m_data.learning());
    // The account dialogs propose the trusted server's id found by the last check.
    const auto lastId = [this] { return m_main->session().lastAuthservId(); };
    if (m_addAccountDialog)
        m_addAccountDialog->trustedServer->setProposal(lastId);
    if (m_editAccountDialog)
        m_editAccountDialog->trustedServer->setProposal(lastId);
    if (m_optionsWindow)
        m_optionsWindow->setLearning(&m_data.learning());
}

void ProgramShell::armWelcome() {
    // A store that could not be opened says nothing about whether the user has accounts.
    AccountStore *store = m_data.store();
    if (!m_optionsWindow || !store)
        return;
    bool empty = false;
    guarded(m_prompts, m_main.get(), [&] { empty = store->rowCount() == 0; });
    if (!empty)
        return;
    QObject::connect(m_optionsWindow, &TfmSetup::welcomeDue, m_main.get(),
                     [this] { showWelcome(); });
    m_optionsWindow->Timer1->start();
}

void ProgramShell::showWelcome() {
    // Made once; a Welcome window closed during the run is not shown again.
    if (m_welcomeWizard)
        return;
    TfrmMain *main = m_main.get();
    guarded(m_prompts, main, [&] {
        m_welcomeWizard = new WelcomeWizard(m_data.settings, main);
        if (m_addAccountDialog)
            m_welcomeWizard->setAddAccountCommand([main] { main->Add1Click(); });
        // The update window is opened as Program > "Check for updates" opens it, when the
        // program has one.
        if (main->commandAvailable(main->Checkforupdates1))
            m_welcomeWizard->setListUpdateCommand([main] { main->Checkforupdates1->trigger(); });
        QObject::connect(m_welcomeWizard, &WelcomeWizard::wizardFinished, main,
                         &TfrmMain::RefreshAccounts);
        m_welcomeWizard->show();
    });
}

void ProgramShell::createTrayIcon() {
    TfrmMain *main = m_main.get();
    // Icon and minimise-to-tray are both off until the settings or the options say otherwise.
    m_tray = new TrayIcon(main);
    if (m_trayAvailability)
        m_tray->setAvailability(m_trayAvailability);
    QObject::connect(main, &TfrmMain::autoModeChanged, m_tray, &TrayIcon::showAutoMode);
    QObject::connect(main, &TfrmMain::countdownChanged, m_tray, &TrayIcon::showCountdown);
    QObject::connect(
        main, &TfrmMain::passEnded, m_tray, [this](const QList<AccountPassResult> &results) {
            int deleted = 0;
            QStringList failures;
            for (const AccountPassResult &r : results) {
                using Outcome = AccountPassResult::Outcome;
                if (r.outcome == Outcome::Processed)
                    deleted += r.processing.processed;
                else if (r.outcome == Outcome::NotConnected || r.outcome == Outcome::Failed ||
                         r.outcome == Outcome::Unknown)
                    failures << u"%1: %2"_s.arg(r.accountName,
                                                QString(r.error).replace(u'\n', u' ').simplified());
            }
            m_tray->showPassEnded(deleted, failures, m_data.settings.notify);
        });
}

void ProgramShell::createDialogs() {
    TfrmMain *main = m_main.get();
    guarded(m_prompts, main, [&] { m_headersWindow = new HeadersWindow(main); });
    guarded(m_prompts, main, [&] {
        m_addAccountDialog = new AddAccountDialog(m_prompts, main);
        QObject::connect(m_addAccountDialog, &AddAccountDialog::closed, main,
                         &TfrmMain::RefreshAccounts);
    });
    guarded(m_prompts, main, [&] { m_listEntryDialog = new ListEntryDialog(m_data.lists, main); });
    guarded(m_prompts, main, [&] { m_wordPairDialog = new WordPairDialog(m_data.lists, main); });
    guarded(m_prompts, main, [&] {
        m_rulesWindow =
            new RulesWindow(m_data.lists, m_prompts, m_listEntryDialog, m_wordPairDialog, main);
    });
    if (m_rulesWindow)
        QObject::connect(m_rulesWindow, &RulesWindow::rulesChanged, main, &TfrmMain::RecolourRows);
    guarded(m_prompts, main, [&] {
        m_editAccountDialog = new EditAccountDialog(m_prompts, main);
        QObject::connect(m_editAccountDialog, &EditAccountDialog::updated, main,
                         &TfrmMain::RefreshAccounts);
    });
    guarded(m_prompts, main, [&] {
        m_savedEmailsWindow =
            new SavedEmailsWindow(m_data.directory().filePath(u"archive"_s), m_prompts, main);
    });
    main->setArchiveWindow(m_savedEmailsWindow);
    guarded(m_prompts, main, [&] {
        m_listUpdateWindow = new ListUpdateWindow(m_data.lists, m_data.settings, m_prompts,
                                                  m_data.directory().filePath(u"updates"_s), main);
        m_listUpdateWindow->setCommandRunner(main->serverCommandRunner());
        // The merged entries show in the Rules and Lists window and mark the listed messages.
        if (m_rulesWindow)
            QObject::connect(m_listUpdateWindow, &ListUpdateWindow::listsChanged, m_rulesWindow,
                             &RulesWindow::refreshAll);
        QObject::connect(m_listUpdateWindow, &ListUpdateWindow::listsChanged, main,
                         &TfrmMain::RecolourRows);
    });
    main->setAccountDialogs(m_addAccountDialog, m_editAccountDialog);
    main->setListDialogs(m_listEntryDialog, m_wordPairDialog);
    main->setUpdateWindow(m_listUpdateWindow);
    main->setListReload([this] {
        const QStringList reloaded = m_data.reloadChangedLists();
        if (!reloaded.isEmpty() && m_rulesWindow)
            m_rulesWindow->refreshAll();
        return reloaded;
    });
    main->setRulesWindow(m_rulesWindow);
    main->setRecords(&m_data.log, m_logWindow, m_headersWindow);
}

void ProgramShell::createOptionsWindow() {
    TfrmMain *main = m_main.get();
    guarded(m_prompts, main, [&] {
        m_optionsWindow = new TfmSetup(m_data.settings, m_prompts, main);
        m_optionsWindow->setStartWithSystem(m_startEntry, m_startCommand);
        m_optionsWindow->setPasswordStore(
            [this](const QString &password) { return m_data.setSmtpPassword(password); });
        m_optionsWindow->setAccountDialogs(m_addAccountDialog, m_editAccountDialog);
        m_optionsWindow->setRecordWindows(m_logWindow, m_savedEmailsWindow);
        m_optionsWindow->setCommandRunner(main->serverCommandRunner());
        QObject::connect(main, &TfrmMain::accountsRefreshed, m_optionsWindow,
                         &TfmSetup::showAccounts);
        QObject::connect(m_optionsWindow, &TfmSetup::accountsChanged, main,
                         &TfrmMain::RefreshAccounts);
        QObject::connect(m_optionsWindow, &TfmSetup::listColourChosen, main, [main] {
            main->applyListColour();
            main->lvHeaders->viewport()->update();
        });
        QObject::connect(m_optionsWindow, &TfmSetup::coloursChanged, main,
                         [main] { main->lvHeaders->viewport()->update(); });
        // The tick switches both the icon and minimise-to-tray.
        QObject::connect(m_optionsWindow, &TfmSetup::systrayChanged, m_tray, [this](bool on) {
            m_tray->setIconVisible(on);
            m_tray->setMinimiseToTray(on);
        });
        m_optionsWindow->setTrayAvailable(m_tray->available());
        QObject::connect(m_tray, &TrayIcon::availabilityChanged, m_optionsWindow,
                         &TfmSetup::setTrayAvailable);
    });
    main->setOptionsWindow(m_optionsWindow);
}

void ProgramShell::showUpdateWindow() {
    if (m_listUpdateWindow)
        m_listUpdateWindow->showWindow();
}

void ProgramShell::openAccountStore() {
    guarded(m_prompts, m_main.get(), [this] { m_data.openAccountStore(); });
    AccountStore *store = m_data.store();
    m_main->setAccountStore(store);
    if (m_addAccountDialog)
        m_addAccountDialog->setAccountStore(store);
    if (m_editAccountDialog)
        m_editAccountDialog->setAccountStore(store);
    if (m_optionsWindow)
        m_optionsWindow->setAccountStore(store);
    m_main->RefreshAccounts();
}

void ProgramShell::shutdown() {
    // The data is saved even when the goodbye to the server fails.
    try {
        m_main->session().DisconnectExecute();
    } catch (const Error &) {
    }

    // What the user typed into the log window is part of the log.
    if (m_logWindow)
        m_logWindow->commitEdits();
    m_data.save();
}

} // namespace corvane
