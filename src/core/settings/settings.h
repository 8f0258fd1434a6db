#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

namespace corvane {

class MiscRules;

// The current value of every option of Settings.ini, section Options. The defaults are the
// values of a first start. Colours are 0x00BBGGRR (red in the low byte).
struct Settings {
    bool Startup = false;
    bool Systray = true;
    bool Logging = true;
    bool Save = true;
    int AutoIntvl = 1; // minutes, 1..120
    int colorban = 0x0000FF;
    int colorfriend = 0xFF0000;
    int colormailwin = 0xFFFFFF;
    QString bouncefrom = QStringLiteral("MailDaemon");
    QString bouncesubj = QStringLiteral("Delivery Notification: Delivery has failed");
    // Placeholders that stand in the options window until the user enters real ones.
    QString smtpserver = QStringLiteral("mail.example.com");
    QString smtpport = QStringLiteral("25");
    QString smtpemail = QStringLiteral("you@example.net");
    // How the SMTP connection is secured: "none", "STARTTLS" or "TLS"; empty means the port's
    // default (TLS on 465, STARTTLS on 587, none elsewhere).
    QString smtpsecurity;
    // The SMTP login; empty sends mail without one.
    QString smtpuser;
    // How the SMTP login is made: empty or "password" with smtppassword, or "oauth:" and a
    // provider's id with an access token of smtpuser's grant there (the grant a POP3 account of
    // the same user name and provider was signed in with).
    QString smtpauth;
    // The SMTP password. Never written to Settings.ini: it lives in the secret store
    // (SecretStore) and is read from there at start-up.
    QString smtppassword;
    // Where the master lists are published (the folder that holds update/blsubj.dat, …) and
    // where submitted lists are mailed. The defaults are reserved example names that stand
    // until the user names a real publisher.
    QString updateurl = QStringLiteral("https://lists.example.org/corvane/");
    QString submitaddress = QStringLiteral("lists@example.org");
    // The publisher's web site and support address that the Help menu and the Welcome window
    // offer; reserved example names until the user names the real ones.
    QString website = QStringLiteral("https://corvane.example.org/");
    QString supportaddress = QStringLiteral("support@corvane.example.org");
    // Whether an automatic pass that deleted mail or failed for an account shows a desktop
    // notification.
    bool notify = false;
    // Whether a header scan sends its commands ahead of their replies to a POP3 server that
    // announces PIPELINING (far faster over a slow link); off: one command at a time.
    bool pop3pipelining = true;
    // Learning: whether the learned filter scores the rows and learns from processing.
    bool learning = true;
    // Per cent: a Plain row scored at or above learnspam is marked Spam; a fixed rule's hit
    // on a row scored at or below learnham is overruled when learnveto is on (and the
    // learner has learned enough of both kinds).
    int learnspam = 70;
    int learnham = 10;
    bool learnveto = true;
    // Body lines the header scan fetches with each header while learning is on (TOP n
    // bodylines); 0 fetches the header alone.
    int bodylines = 20;

    static constexpr int MaxBodyLines = 1000;
    // The body lines the scan fetches: bodylines while learning is on, else none.
    int scanBodyLines() const { return learning ? bodylines : 0; }

    static constexpr int MinAutoIntvl = 1;
    static constexpr int MaxAutoIntvl = 120;

    friend bool operator==(const Settings &, const Settings &) = default;
};

// One key of Settings.ini.
struct ConfigurationKey {
    enum class Form { Boolean, Integer, Text, Colour };
    QString section;
    QString key;
    Form form;
};

// Every key, in the order of a newly written file: section Options, then Count, then
// Blacklist.
const QList<ConfigurationKey> &configurationKeys();
// The key with that name (case-insensitive), written "key" or "Section.key"; nullptr when
// there is none.
const ConfigurationKey *findConfigurationKey(QStringView name);

// The text a key is written with: "1"/"0" for booleans, decimal for numbers and colours.
QString configurationValue(const ConfigurationKey &key, const Settings &settings,
                           const MiscRules &misc, const QString &DeleteCount);
// Takes over a value as read from the file: a boolean or number that is not a number keeps
// its default, any non-zero number is true, AutoIntvl is clamped to 1..120.
void applyConfigurationValue(const ConfigurationKey &key, const QString &text, Settings &settings,
                             MiscRules &misc, QString &DeleteCount);

// Settings.ini: the options, the thirteen MiscRules ticks (section Blacklist) and the total of
// deleted messages DeleteCount (section Count), read once at start-up and written once at
// shutdown.
class SettingsFile {
public:
    static const QString FileName; // "Settings.ini"

    explicit SettingsFile(QString path) : m_path(std::move(path)) {}
    const QString &path() const { return m_path; }

    // Reads every key; a missing file, section or key leaves the default in place. Throws
    // FileError when the file exists but cannot be read (nothing is taken over then).
    void ReadConfiguration(Settings &settings, MiscRules &misc, QString &DeleteCount);
    // Writes every key from the current values, except a key that this program left unchanged
    // while the file's text for it changed since it was read (by hand or by another program):
    // that key keeps the file's text. Keys are changed where they stand and every other line
    // is kept; a new file gets the keys in the order of configurationKeys(). Throws FileError
    // "Unable to write to <path>" when the file cannot be written (it then stays as it was), and
    // refuses (DataError) to overwrite an existing file that this object has not read, so stored
    // settings are never replaced by defaults.
    void WriteConfiguration(const Settings &settings, const MiscRules &misc,
                            const QString &DeleteCount);
    // True once ReadConfiguration has succeeded (a missing file counts as read).
    bool wasRead() const { return m_read; }

private:
    QString m_path;
    bool m_read = false;
    // Each key ("Section.key"): its value as read or last written, and the file's text then.
    QHash<QString, QString> m_asRead;
    QHash<QString, std::optional<QString>> m_fileText;
};

} // namespace corvane
