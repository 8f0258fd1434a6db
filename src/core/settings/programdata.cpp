#include "core/settings/programdata.h"

#include "core/errors.h"
#include "core/settings/accountstore.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace corvane {

const QString ProgramData::SmtpSecretKey = u"smtp"_s;
const QString ProgramData::AccountsFileName = u"accounts.dat"_s;

ProgramData::ProgramData(DataDirectory directory)
    : m_directory(std::move(directory)), m_listFiles(m_directory),
      m_settingsFile(m_directory.filePath(SettingsFile::FileName)),
      m_learning(m_directory.filePath(LearningStore::FileName)) {}

ProgramData::~ProgramData() = default;

void ProgramData::lock(std::chrono::milliseconds wait) {
    m_directory.create();
    auto lock = std::make_unique<DataDirectoryLock>(m_directory);
    lock->acquire(wait);
    m_lock = std::move(lock);
}

QStringList ProgramData::loadLists() {
    QStringList problems;
    for (const ListKind kind : kAllListKinds)
        problems += m_listFiles.load(lists, kind);
    return problems;
}

void ProgramData::loadLog() {
    log.load(m_directory.filePath(DeletionLog::FileName));
}

void ProgramData::openAccountStore() {
    m_store = std::make_unique<AccountStore>(m_directory.filePath(AccountsFileName));
}

void ProgramData::readSettings() {
    m_settingsFile.ReadConfiguration(settings, lists.Misc, log.DeleteCount);
    settings.smtppassword = secrets().read(SmtpSecretKey).value_or(QString());
}

void ProgramData::openLearning() {
    if (settings.learning)
        m_learning.open(LearningStore::Access::ReadWrite);
}

SecretStore ProgramData::secrets() const {
    return SecretStore(m_directory.path());
}

SecretStore::Place ProgramData::setSmtpPassword(const QString &password) {
    const SecretStore::Place place = secrets().write(SmtpSecretKey, password);
    settings.smtppassword = password;
    return place;
}

QStringList ProgramData::load() {
    QStringList problems = loadLists();
    for (void (ProgramData::*step)() :
         {&ProgramData::loadLog, &ProgramData::openAccountStore, &ProgramData::readSettings}) {
        try {
            (this->*step)();
        } catch (const Error &e) {
            problems << e.message();
        }
    }
    return problems;
}

void ProgramData::save() {
    // Each file is saved on its own: a list that cannot be written does not keep the
    // settings or the log from being saved.
    QStringList failures;
    const auto step = [&failures](const auto &write) {
        try {
            write();
        } catch (const Error &e) {
            failures << e.message();
        }
    };
    const QString logPath = m_directory.filePath(DeletionLog::FileName);
    // A log that could not be read is left as it is rather than replaced by the lines of this
    // run alone; likewise settings.
    if (log.canSaveOver() || !QFileInfo::exists(logPath))
        step([&] { log.save(logPath); });
    for (const ListKind kind : kAllListKinds)
        step([&] { m_listFiles.save(lists, kind); });
    if (m_settingsFile.wasRead() || !QFileInfo::exists(m_settingsFile.path()))
        step([&] { m_settingsFile.WriteConfiguration(settings, lists.Misc, log.DeleteCount); });
    if (!failures.isEmpty())
        throw FileError(failures.join(u'\n'));
}

QString ProgramData::archiveFolder() const {
    return m_directory.folder(u"archive"_s);
}

} // namespace corvane
