#pragma once

#include <QString>

#include <optional>

namespace corvane {

// Passwords kept out of Settings.ini: in the desktop's secret store (the Secret Service or
// KWallet, through QtKeychain) when one answers, otherwise in the file secrets.dat of the data
// folder, which only its owner may read or write (0600). Each secret has a key ("smtp"); in the
// desktop store the key names the data folder too, so each data folder keeps its own secrets.
//
// A desktop secret store needs the session's message bus: without one (a server, a test run
// offscreen) the file is used at once, never a wait. CORVANE_NO_KEYCHAIN=1 in the environment
// also keeps the program to the file.
class SecretStore {
public:
    static const QString FileName; // "secrets.dat"
    // The service name under which the desktop store keeps the program's secrets.
    static const QString ServiceName;

    enum class Place { Keychain, File };

    explicit SecretStore(QString folder) : m_folder(std::move(folder)) {}

    // The secret of key: from the desktop store when it holds it, else from the file; nothing
    // when neither does. Throws FileError when the file exists but cannot be read.
    std::optional<QString> read(const QString &key) const;
    // Stores the secret (an empty one removes it) in the desktop store when one answers, else
    // in the file; a copy in the other place is removed, so the two never disagree. Returns
    // where it went. Throws FileError when the file cannot be written.
    Place write(const QString &key, const QString &secret);

    // True when a desktop secret store may be asked (a session bus is there and the
    // environment does not forbid it).
    static bool keychainWanted();

    QString filePath() const;
    // The name of key's entry in the desktop store: the key and the data folder's path.
    QString keychainKey(const QString &key) const;

private:
    std::optional<QString> readFile(const QString &key) const;
    void writeFile(const QString &key, const std::optional<QString> &secret);

    QString m_folder;
};

} // namespace corvane
