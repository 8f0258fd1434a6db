#include "core/settings/programdata.h"

#include "core/errors.h"
#include "core/platform/durablefile.h"
#include "core/settings/accountstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

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
    // Start-up begins here, with the lock held: a temporary file left by a write that a kill
    // cut short belongs to no write now.
    for (const QString &folder : {m_directory.path(), m_directory.filePath(u"archive"_s),
                                  m_directory.filePath(u"updates"_s)})
        removeStrayTemporaryFiles(folder);
    QStringList problems;
    for (const ListKind kind : kAllListKinds)
        problems += m_listFiles.load(lists, kind);
    return problems;
}

void ProgramData::loadLog() {
    const QString path = m_directory.filePath(DeletionLog::FileName);
    m_logOnDisk.reset();
    log.load(path);
    if (QFileInfo::exists(path))
        m_logOnDisk = log.LogLines;
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
    try {
        problems << finishPendingRun();
    } catch (const Error &e) {
        problems << e.message();
    }
    return problems;
}

QString ProgramData::pendingPath() const {
    return m_directory.filePath(PendingRun::FileName);
}

QString ProgramData::confirmedPath() const {
    return m_directory.filePath(PendingRun::ConfirmedFileName);
}

void ProgramData::saveLogAndTotal() {
    QStringList failures;
    const QString logPath = m_directory.filePath(DeletionLog::FileName);
    try {
        if (!log.canSaveOver() && QFileInfo::exists(logPath))
            throw DataError(u"%1 could not be read when the program started, so its lines "
                            u"cannot be added to it."_s.arg(QDir::toNativeSeparators(logPath)));
        if (!m_logOnDisk || *m_logOnDisk != log.LogLines || !QFileInfo::exists(logPath)) {
            log.save(logPath);
            m_logOnDisk = log.LogLines;
        }
    } catch (const Error &e) {
        failures << e.message();
    }
    try {
        if (!m_settingsFile.wasRead() && QFileInfo::exists(m_settingsFile.path()))
            throw DataError(
                u"%1 could not be read when the program started, so the total "
                u"cannot be saved in it."_s.arg(QDir::toNativeSeparators(m_settingsFile.path())));
        m_settingsFile.WriteConfiguration(settings, lists.Misc, log.DeleteCount);
    } catch (const Error &e) {
        failures << e.message();
    }
    if (!failures.isEmpty())
        throw FileError(failures.join(u' '));
}

void ProgramData::settleEarlierRun() {
    const bool confirmed = QFileInfo::exists(confirmedPath());
    if (!confirmed && !QFileInfo::exists(pendingPath()))
        return;
    if (!m_pending)
        throw FileError(u"The record of an earlier run (%1) has not been added to the log yet. "
                        u"Nothing has been processed: start the program again so that it "
                        u"completes the log."_s.arg(
                            QDir::toNativeSeparators(confirmed ? confirmedPath() : pendingPath())));
    settle(confirmed);
}

void ProgramData::recordBeforeQuit(const PendingRun &run) {
    // The files the record ends up in must be able to take it; a log that is a symbolic link
    // or a folder never could.
    for (const QString &path :
         {m_directory.filePath(DeletionLog::FileName), m_settingsFile.path()}) {
        const QFileInfo info(path);
        if (info.isSymLink() || (info.exists() && !info.isFile()))
            throw FileError(u"%1 is not a file the program can write (%2)."_s.arg(
                QDir::toNativeSeparators(path),
                info.isSymLink() ? u"a symbolic link"_s : u"not a regular file"_s));
    }
    QFile::remove(confirmedPath());
    writeFileDurably(pendingPath(), run.toBytes());
    m_pending = run;
}

namespace {

// Renames a file within its folder and syncs the folder; a rename needs no room on the disk.
bool renameDurably(const QString &from, const QString &to) {
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        return false;
    const int dir = ::open(QFile::encodeName(QFileInfo(to).absolutePath()).constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

} // namespace

void ProgramData::settle(bool confirmed) {
    // Marked confirmed first: if the log cannot be saved now, the next start knows that the
    // deletions took effect.
    if (confirmed && QFileInfo::exists(pendingPath()))
        renameDurably(pendingPath(), confirmedPath());
    saveLogAndTotal();
    for (const QString &path : {pendingPath(), confirmedPath()})
        if (QFile::exists(path) && !QFile::remove(path))
            throw FileError(
                u"The record %1 could not be removed."_s.arg(QDir::toNativeSeparators(path)));
    m_pending.reset();
}

QStringList ProgramData::finishPendingRun() {
    const bool confirmed = QFileInfo::exists(confirmedPath());
    const QString path = confirmed ? confirmedPath() : pendingPath();
    QFile file(path);
    if (!file.exists())
        return {};
    const QString shown = QDir::toNativeSeparators(path);
    if (!file.open(QIODevice::ReadOnly))
        throw FileError(
            u"Cannot read the record of an unfinished run %1: %2"_s.arg(shown, file.errorString()));
    PendingRun run;
    try {
        run = PendingRun::parse(file.read(1 << 26));
    } catch (const Error &e) {
        throw DataError(u"%1 %2 was left as it is."_s.arg(e.message(), shown));
    }
    file.close();
    if (!log.canSaveOver() || !m_settingsFile.wasRead())
        throw FileError(u"The record of an unfinished run %1 cannot be added to the log or the "
                        u"total, which could not be read; it was left as it is."_s.arg(shown));

    const QStringList lines =
        confirmed ? run.lines : run.unconfirmedLines(u"the program ended before QUIT's answer"_s);
    // The log may hold the lines already: a save that succeeded just before the end.
    const auto holds = [&](const QStringList &wanted) {
        return log.LogLines.size() >= run.logLinesBefore + wanted.size() &&
               log.LogLines.mid(run.logLinesBefore, wanted.size()) == wanted;
    };
    const bool logged = holds(run.lines) || holds(lines);
    if (!logged)
        log.LogLines << lines;
    const bool counted = !confirmed || log.DeleteCount != run.totalBefore;
    if (!counted)
        log.DeleteCount = run.totalAfter;
    saveLogAndTotal();
    if (!QFile::remove(path))
        throw FileError(
            u"The record %1 was added to the log but could not be removed."_s.arg(shown));
    QFile::remove(pendingPath());

    if (logged && counted)
        return {};
    const QString messages =
        run.messages == 1 ? u"1 message"_s : u"%1 messages"_s.arg(run.messages);
    if (confirmed)
        return {u"The last run on \"%1\" ended before its log was saved: the deletion of %2, "
                u"which the server confirmed, has now been added to the log and the total."_s.arg(
                    run.account, messages)};
    return {u"The last run on \"%1\" ended after it asked the server to delete %2 and before "
            u"the server's answer: the log now names them, marked as not confirmed, and they "
            u"are not counted in the total. Check the mailbox to see whether they are still "
            u"there."_s.arg(run.account, messages)};
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
    // run alone; likewise settings. A log whose lines did not change keeps its bytes.
    if ((log.canSaveOver() || !QFileInfo::exists(logPath)) &&
        (!m_logOnDisk || *m_logOnDisk != log.LogLines || !QFileInfo::exists(logPath)))
        step([&] {
            log.save(logPath);
            m_logOnDisk = log.LogLines;
        });
    for (const ListKind kind : kAllListKinds)
        step([&] { m_listFiles.save(lists, kind); });
    if (m_settingsFile.wasRead() || !QFileInfo::exists(m_settingsFile.path()))
        step([&] { m_settingsFile.WriteConfiguration(settings, lists.Misc, log.DeleteCount); });
    if (!failures.isEmpty())
        throw FileError(failures.join(u'\n'));
}

void ProgramData::saveList(ListKind kind) {
    m_listFiles.save(lists, kind);
}

QString ProgramData::archiveFolder() const {
    return m_directory.folder(u"archive"_s);
}

} // namespace corvane
