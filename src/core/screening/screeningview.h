#pragma once

#include <QFlags>
#include <QString>

namespace corvane {

// What the mailbox screening reports to whoever shows it: the main window, corvane-cli and
// the tests each implement this. The core decides every text and every state change; a view
// only displays them. Failures are not reported here: the core throws them, and the caller
// shows them. Every call must return promptly; askYesNo may run a modal dialog.
class ScreeningView {
public:
    // The commands whose enabled state the connection steps switch.
    enum class Control : unsigned {
        CheckButton = 0x01,      // "Check messages on account" with the account drop-down
        ProcessButton = 0x02,    // "Process Current messages"
        DisconnectButton = 0x04, // "Disconnect from server"
        OptionsButton = 0x08,    // "Options of the program"
        AutoModeButton = 0x10,   // "Switch into auto mode"
        MainMenus = 0x20,        // the menus "Program", "Accounts" and "Email Options"
        ContextMenu = 0x40,      // every item of the message list's context menu
    };
    Q_DECLARE_FLAGS(Controls, Control)

    virtual ~ScreeningView() = default;

    // The busy (hourglass) cursor on or off; calls do not nest, the last one wins.
    virtual void showBusy(bool busy) { (void)busy; }
    // The activity line (status panel 1). Shown at once, even while the thread then blocks.
    virtual void showStatus(const QString &text) { (void)text; }
    // The selection and progress line (status panel 0).
    virtual void showSelectionStatus(const QString &text) { (void)text; }
    // The message count and mailbox size panels (2 and 3), texts ready to show.
    virtual void showFileStatus(const QString &count, const QString &size) {
        (void)count;
        (void)size;
    }
    // The server-name panel: the host, "Idle..." or "In auto mode".
    virtual void showServerName(const QString &text) { (void)text; }
    // The server-name panel for a connection to an account: its host, which a window may show
    // with the account's name.
    virtual void showServer(const QString &accountName, const QString &host) {
        (void)accountName;
        showServerName(host);
    }
    // Enables or disables the Disconnect action (and the button bound to it).
    virtual void setConnectedState(bool connected) { (void)connected; }
    virtual void setControlsEnabled(Controls controls, bool enabled) {
        (void)controls;
        (void)enabled;
    }
    // The rows of the session were added, removed, changed or cleared.
    virtual void rowsChanged() {}
    // Stops the automatic-mode pass and countdown timers and hides the countdown.
    virtual void stopAutoModeTimers() {}
    // A question with the buttons Yes and No; true for Yes.
    virtual bool askYesNo(const QString &text) {
        (void)text;
        return false;
    }
    // Something the user should know that is no error (a total that had to start again);
    // shown in the activity line unless the view has a better place.
    virtual void showNotice(const QString &text) { showStatus(text); }
};

Q_DECLARE_OPERATORS_FOR_FLAGS(ScreeningView::Controls)

} // namespace corvane
