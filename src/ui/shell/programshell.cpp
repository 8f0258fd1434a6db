#include "shell/programshell.h"

#include "records/tform2.h"
#include "records/tform8.h"
#include "rules/tform4.h"
#include "rules/tform5.h"
#include "screening/tfrmmain.h"
#include "settings/accountstore.h"
#include "settings/tform3.h"
#include "settings/tform6.h"
#include "shell/guard.h"
#include "shell/prompts.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace corvane {

const QString ProgramShell::AccountsFileName = u"accounts.dat"_s;

ProgramShell::ProgramShell(DataDirectory directory, Prompts &prompts, Transport &transport)
    : m_directory(std::move(directory)), m_prompts(prompts), m_transport(transport),
      m_listFiles(m_directory), m_settingsFile(m_directory.filePath(SettingsFile::FileName)) {}

ProgramShell::~ProgramShell() {
    // The windows refer to the store and the lists: they go first.
    m_main.reset();
}

void ProgramShell::start() {
    // One program at a time works on a data directory: a second one ends here, saying which
    // program holds it.
    m_directory.create();
    m_lock = std::make_unique<DataDirectoryLock>(m_directory);
    m_lock->acquire();

    // The main window; without it there is no program.
    m_main = std::make_unique<TfrmMain>(m_prompts, m_transport, m_lists, m_settings);
    m_main->setShutdownSequence([this] { shutdown(); });
    guarded(m_prompts, nullptr, [this] { m_main->FormCreate(m_directory); });

    loadLists();

    // The deletion log.
    guarded(m_prompts, m_main.get(), [this] {
        m_logRead = false;
        m_log.load(m_directory.filePath(DeletionLog::FileName));
        m_logRead = true;
    });
    guarded(m_prompts, m_main.get(),
            [this] { m_form8 = new TForm8(m_log, m_prompts, m_printers, m_main.get()); });

    createDialogs();
    openAccountStore();

    // The settings are read even when the account store could not be opened, so that the
    // shutdown writes back what the file held rather than the defaults.
    guarded(m_prompts, m_main.get(), [this] {
        m_settingsFile.ReadConfiguration(m_settings, m_lists.Misc, m_log.DeleteCount);
    });
    // The total comes from the settings.
    if (m_form8)
        m_form8->showLog();
    m_main->applyListColour();
}

void ProgramShell::loadLists() {
    for (const ListKind kind : kAllListKinds) {
        for (const QString &message : m_listFiles.load(m_lists, kind))
            m_prompts.error(m_main.get(), message);
    }
}

void ProgramShell::createDialogs() {
    TfrmMain *main = m_main.get();
    guarded(m_prompts, main, [&] { m_form2 = new TForm2(main); });
    guarded(m_prompts, main, [&] {
        m_form3 = new TForm3(m_prompts, main);
        QObject::connect(m_form3, &TForm3::closed, main, &TfrmMain::RefreshAccounts);
    });
    guarded(m_prompts, main, [&] { m_form4 = new TForm4(m_lists, main); });
    guarded(m_prompts, main, [&] { m_form5 = new TForm5(m_lists, main); });
    guarded(m_prompts, main, [&] {
        m_form6 = new TForm6(m_prompts, main);
        QObject::connect(m_form6, &TForm6::updated, main, &TfrmMain::RefreshAccounts);
    });
    main->setAccountDialogs(m_form3, m_form6);
    main->setListDialogs(m_form4, m_form5);
    main->setRecords(&m_log, m_form8, m_form2);
}

void ProgramShell::openAccountStore() {
    guarded(m_prompts, m_main.get(), [this] {
        m_store = std::make_unique<AccountStore>(m_directory.filePath(AccountsFileName));
    });
    AccountStore *store = m_store.get();
    m_main->setAccountStore(store);
    if (m_form3)
        m_form3->setAccountStore(store);
    if (m_form6)
        m_form6->setAccountStore(store);
    m_main->RefreshAccounts();
}

void ProgramShell::shutdown() {
    m_main->session().DisconnectExecute();

    // What the user typed into the log window is part of the log.
    if (m_form8)
        m_form8->commitEdits();
    const QString logPath = m_directory.filePath(DeletionLog::FileName);
    // A log that could not be read is left as it is rather than replaced by the lines of this
    // run alone.
    if (m_logRead || !QFileInfo::exists(logPath))
        m_log.save(logPath);

    for (const ListKind kind : kAllListKinds)
        m_listFiles.save(m_lists, kind);

    // Likewise settings that could not be read stay as they are.
    if (m_settingsFile.wasRead() || !QFileInfo::exists(m_settingsFile.path()))
        m_settingsFile.WriteConfiguration(m_settings, m_lists.Misc, m_log.DeleteCount);
}

} // namespace corvane
