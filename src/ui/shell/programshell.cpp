#include "ui/shell/programshell.h"

#include "core/errors.h"
#include "core/settings/accountstore.h"
#include "ui/records/headerswindow.h"
#include "ui/records/tform8.h"
#include "ui/records/tform9.h"
#include "ui/rules/listentrydialog.h"
#include "ui/rules/tform1.h"
#include "ui/rules/tform7.h"
#include "ui/rules/wordpairdialog.h"
#include "ui/screening/tfrmmain.h"
#include "ui/settings/tfmsetup.h"
#include "ui/settings/tform3.h"
#include "ui/settings/tform6.h"
#include "ui/settings/trustedserverfield.h"
#include "ui/shell/guard.h"
#include "ui/shell/helpmenu.h"
#include "ui/shell/prompts.h"
#include "ui/shell/tform10.h"

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
    guarded(m_prompts, m_main.get(),
            [this] { m_form8 = new TForm8(m_data.log, m_prompts, m_printers, m_main.get()); });

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
    if (m_setup) {
        m_setup->takeOverStoredSettings();
        // The sizes of the files as they lie at start-up.
        m_setup->setListFolder(m_data.directory().path());
        m_setup->setListSaver([this] {
            for (const ListKind kind :
                 {ListKind::SubjectBlack, ListKind::EmailBlack, ListKind::XandY})
                m_data.saveList(kind);
        });
    }
    // The total comes from the settings.
    if (m_form8)
        m_form8->showLog();
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
    if (m_form3)
        m_form3->trustedServer->setProposal(lastId);
    if (m_form6)
        m_form6->trustedServer->setProposal(lastId);
    if (m_setup)
        m_setup->setLearning(&m_data.learning());
}

void ProgramShell::armWelcome() {
    // A store that could not be opened says nothing about whether the user has accounts.
    AccountStore *store = m_data.store();
    if (!m_setup || !store)
        return;
    bool empty = false;
    guarded(m_prompts, m_main.get(), [&] { empty = store->rowCount() == 0; });
    if (!empty)
        return;
    QObject::connect(m_setup, &TfmSetup::welcomeDue, m_main.get(), [this] { showWelcome(); });
    m_setup->Timer1->start();
}

void ProgramShell::showWelcome() {
    // Made once; a Welcome window closed during the run is not shown again.
    if (m_form10)
        return;
    TfrmMain *main = m_main.get();
    guarded(m_prompts, main, [&] {
        m_form10 = new TForm10(m_data.settings, main);
        if (m_form3)
            m_form10->setAddAccountCommand([main] { main->Add1Click(); });
        // The update window is opened as Program > "Check for updates" opens it, when the
        // program has one.
        if (main->commandAvailable(main->Checkforupdates1))
            m_form10->setListUpdateCommand([main] { main->Checkforupdates1->trigger(); });
        QObject::connect(m_form10, &TForm10::wizardFinished, main, &TfrmMain::RefreshAccounts);
        m_form10->show();
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
    guarded(m_prompts, main, [&] { m_form2 = new HeadersWindow(main); });
    guarded(m_prompts, main, [&] {
        m_form3 = new TForm3(m_prompts, main);
        QObject::connect(m_form3, &TForm3::closed, main, &TfrmMain::RefreshAccounts);
    });
    guarded(m_prompts, main, [&] { m_form4 = new ListEntryDialog(m_data.lists, main); });
    guarded(m_prompts, main, [&] { m_form5 = new WordPairDialog(m_data.lists, main); });
    guarded(m_prompts, main,
            [&] { m_form1 = new TForm1(m_data.lists, m_prompts, m_form4, m_form5, main); });
    if (m_form1)
        QObject::connect(m_form1, &TForm1::rulesChanged, main, &TfrmMain::RecolourRows);
    guarded(m_prompts, main, [&] {
        m_form6 = new TForm6(m_prompts, main);
        QObject::connect(m_form6, &TForm6::updated, main, &TfrmMain::RefreshAccounts);
    });
    guarded(m_prompts, main, [&] {
        m_form9 = new TForm9(m_data.directory().filePath(u"archive"_s), m_prompts, main);
    });
    main->setArchiveWindow(m_form9);
    guarded(m_prompts, main, [&] {
        m_form7 = new TForm7(m_data.lists, m_data.settings, m_prompts,
                             m_data.directory().filePath(u"updates"_s), main);
        m_form7->setCommandRunner(main->serverCommandRunner());
        // The merged entries show in the Rules and Lists window and mark the listed messages.
        if (m_form1)
            QObject::connect(m_form7, &TForm7::listsChanged, m_form1, &TForm1::refreshAll);
        QObject::connect(m_form7, &TForm7::listsChanged, main, &TfrmMain::RecolourRows);
    });
    main->setAccountDialogs(m_form3, m_form6);
    main->setListDialogs(m_form4, m_form5);
    main->setUpdateWindow(m_form7);
    main->setListReload([this] {
        const QStringList reloaded = m_data.reloadChangedLists();
        if (!reloaded.isEmpty() && m_form1)
            m_form1->refreshAll();
        return reloaded;
    });
    main->setRulesWindow(m_form1);
    main->setRecords(&m_data.log, m_form8, m_form2);
}

void ProgramShell::createOptionsWindow() {
    TfrmMain *main = m_main.get();
    guarded(m_prompts, main, [&] {
        m_setup = new TfmSetup(m_data.settings, m_prompts, main);
        m_setup->setStartWithSystem(m_startEntry, m_startCommand);
        m_setup->setPasswordStore(
            [this](const QString &password) { return m_data.setSmtpPassword(password); });
        m_setup->setAccountDialogs(m_form3, m_form6);
        m_setup->setRecordWindows(m_form8, m_form9);
        m_setup->setCommandRunner(main->serverCommandRunner());
        QObject::connect(main, &TfrmMain::accountsRefreshed, m_setup, &TfmSetup::showAccounts);
        QObject::connect(m_setup, &TfmSetup::accountsChanged, main, &TfrmMain::RefreshAccounts);
        QObject::connect(m_setup, &TfmSetup::listColourChosen, main, [main] {
            main->applyListColour();
            main->lvHeaders->viewport()->update();
        });
        QObject::connect(m_setup, &TfmSetup::coloursChanged, main,
                         [main] { main->lvHeaders->viewport()->update(); });
        // The tick switches both the icon and minimise-to-tray.
        QObject::connect(m_setup, &TfmSetup::systrayChanged, m_tray, [this](bool on) {
            m_tray->setIconVisible(on);
            m_tray->setMinimiseToTray(on);
        });
        m_setup->setTrayAvailable(m_tray->available());
        QObject::connect(m_tray, &TrayIcon::availabilityChanged, m_setup,
                         &TfmSetup::setTrayAvailable);
    });
    main->setOptionsWindow(m_setup);
}

void ProgramShell::showUpdateWindow() {
    if (m_form7)
        m_form7->showWindow();
}

void ProgramShell::openAccountStore() {
    guarded(m_prompts, m_main.get(), [this] { m_data.openAccountStore(); });
    AccountStore *store = m_data.store();
    m_main->setAccountStore(store);
    if (m_form3)
        m_form3->setAccountStore(store);
    if (m_form6)
        m_form6->setAccountStore(store);
    if (m_setup)
        m_setup->setAccountStore(store);
    m_main->RefreshAccounts();
}

void ProgramShell::shutdown() {
    // The data is saved even when the goodbye to the server fails.
    try {
        m_main->session().DisconnectExecute();
    } catch (const Error &) {
    }

    // What the user typed into the log window is part of the log.
    if (m_form8)
        m_form8->commitEdits();
    m_data.save();
}

} // namespace corvane
