#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace corvane {

// The command that starts the program with the desktop session: the program file and its
// arguments (--data-dir DIR when the program runs with one).
struct StartCommand {
    QString program;
    QStringList arguments;
};

// Starting the program with the user's desktop session. On Windows this is the string value
// "revidaz" under the current user's Run key; elsewhere an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/corvane.desktop.
class StartWithSystem {
public:
    static const QString ValueName; // "revidaz"

    virtual ~StartWithSystem() = default;
    // Writes the entry for command, replacing any earlier one. Throws FileError "Failed to set
    // data for '<name>'" (with the system's reason) when it cannot be written.
    virtual void enable(const StartCommand &command) = 0;
    // Removes the entry; a missing entry is not an error. Throws FileError when an existing
    // entry cannot be removed.
    virtual void disable() = 0;
};

// The entry of the operating system the program runs on.
class SystemStartWithSystem final : public StartWithSystem {
public:
    void enable(const StartCommand &command) override;
    void disable() override;

    // Where the entry lies: the autostart file, or the registry key and value on Windows.
    static QString entryLocation();
};

// The contents of the XDG autostart entry for command (a Desktop Entry file).
QByteArray desktopEntry(const StartCommand &command);
// The Exec value for command, quoted and escaped as the Desktop Entry specification asks.
QString desktopExecValue(const StartCommand &command);

} // namespace corvane
