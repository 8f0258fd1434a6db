#include "core/settings/secretstore.h"

#include "core/errors.h"
#include "core/platform/durablefile.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <qt6keychain/keychain.h>

using namespace Qt::StringLiterals;

namespace corvane {

const QString SecretStore::FileName = u"secrets.dat"_s;
const QString SecretStore::ServiceName = u"corvane"_s;

namespace {

// How long a desktop store may take to answer before the file is used instead.
constexpr int KeychainTimeoutMs = 10000;

// Runs a keychain job to its end; false when it failed or did not answer in time.
bool runJob(QKeychain::Job &job) {
    job.setAutoDelete(false);
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(KeychainTimeoutMs, &loop, &QEventLoop::quit);
    bool done = false;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&done] { done = true; });
    job.start();
    if (!done)
        loop.exec();
    return done && job.error() == QKeychain::NoError;
}

// The file's lines: "key=" and the secret's UTF-8 in Base64.
QByteArray encode(const QString &key, const QString &secret) {
    return key.toUtf8() + '=' + secret.toUtf8().toBase64() + '\n';
}

} // namespace

QString SecretStore::keychainKey(const QString &key) const {
    // The desktop store is one for the whole session, while each data folder is a program of
    // its own: the folder is part of the key, so two folders never read or overwrite each
    // other's secret. The folder's canonical path makes a symbolic link or a relative path to
    // the same folder find the same entry.
    const QFileInfo folder(m_folder);
    const QString path =
        folder.exists() ? folder.canonicalFilePath() : QDir::cleanPath(folder.absoluteFilePath());
    return key + u'@' + path;
}

bool SecretStore::keychainWanted() {
    if (qEnvironmentVariable("CORVANE_NO_KEYCHAIN") == u"1"_s)
        return false;
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS");
#else
    return true;
#endif
}

QString SecretStore::filePath() const {
    return QDir(m_folder).filePath(FileName);
}

std::optional<QString> SecretStore::readFile(const QString &key) const {
    QFile file(filePath());
    if (!file.exists())
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly))
        throw FileError(u"Unable to read %1: %2"_s.arg(filePath(), file.errorString()));
    const QByteArray prefix = key.toUtf8() + '=';
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith(prefix))
            return QString::fromUtf8(QByteArray::fromBase64(line.mid(prefix.size()).trimmed()));
    return std::nullopt;
}

void SecretStore::writeFile(const QString &key, const std::optional<QString> &secret) {
    QByteArray kept;
    const QByteArray prefix = key.toUtf8() + '=';
    bool had = false;
    QFile file(filePath());
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly))
            throw FileError(u"Unable to read %1: %2"_s.arg(filePath(), file.errorString()));
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (line.isEmpty())
                continue;
            if (line.startsWith(prefix))
                had = true;
            else
                kept += line + '\n';
        }
        file.close();
    }
    if (!secret && !had)
        return;
    if (secret)
        kept += encode(key, *secret);
    try {
        // Written owner-only (0600), like every file the program writes.
        writeFileDurably(filePath(), kept);
    } catch (const Error &e) {
        throw FileError(u"Unable to write to %1: %2"_s.arg(filePath(), e.message()));
    }
}

std::optional<QString> SecretStore::read(const QString &key) const {
    if (keychainWanted()) {
        QKeychain::ReadPasswordJob job(ServiceName);
        job.setKey(keychainKey(key));
        if (runJob(job))
            return job.textData();
    }
    return readFile(key);
}

SecretStore::Place SecretStore::write(const QString &key, const QString &secret) {
    if (keychainWanted()) {
        bool stored = false;
        if (secret.isEmpty()) {
            QKeychain::DeletePasswordJob job(ServiceName);
            job.setKey(keychainKey(key));
            stored = runJob(job) || job.error() == QKeychain::EntryNotFound;
        } else {
            QKeychain::WritePasswordJob job(ServiceName);
            job.setKey(keychainKey(key));
            job.setTextData(secret);
            stored = runJob(job);
        }
        if (stored) {
            writeFile(key, std::nullopt);
            return Place::Keychain;
        }
    }
    writeFile(key, secret.isEmpty() ? std::nullopt : std::optional<QString>(secret));
    return Place::File;
}

} // namespace corvane
