#include "cli/programdata.h"

#include "errors.h"
#include "settings/accountstore.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace corvane::cli {

ProgramData::ProgramData(DataDirectory directory)
    : m_directory(std::move(directory)), m_listFiles(m_directory),
      m_settingsFile(m_directory.filePath(SettingsFile::FileName)) {}

ProgramData::~ProgramData() = default;

QStringList ProgramData::load() {
    QStringList problems;
    for (const ListKind kind : kAllListKinds)
        problems += m_listFiles.load(lists, kind);
    try {
        m_logRead = false;
        log.load(m_directory.filePath(DeletionLog::FileName));
        m_logRead = true;
    } catch (const Error &e) {
        problems << e.message();
    }
    try {
        m_store = std::make_unique<AccountStore>(m_directory.filePath(u"accounts.dat"_s));
    } catch (const Error &e) {
        problems << e.message();
    }
    try {
        m_settingsFile.ReadConfiguration(settings, lists.Misc, log.DeleteCount);
    } catch (const Error &e) {
        problems << e.message();
    }
    return problems;
}

void ProgramData::save() {
    const QString logPath = m_directory.filePath(DeletionLog::FileName);
    if (m_logRead || !QFileInfo::exists(logPath))
        log.save(logPath);
    for (const ListKind kind : kAllListKinds)
        m_listFiles.save(lists, kind);
    if (m_settingsFile.wasRead() || !QFileInfo::exists(m_settingsFile.path()))
        m_settingsFile.WriteConfiguration(settings, lists.Misc, log.DeleteCount);
}

QString ProgramData::archiveFolder() const {
    return m_directory.folder(u"archive"_s);
}

} // namespace corvane::cli
