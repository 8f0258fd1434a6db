#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QAction;
class QMainWindow;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace corvane {

// The main window's notification-area ("system tray") icon with its menu "Show Window", and
// minimise-to-tray. Both are off until switched on. On a desktop without a notification area
// the states are kept but have no effect: no icon is shown and minimising leaves the window on
// the task bar, so it can never vanish into nothing.
//
// The icon's tool tip and picture show automatic mode: the countdown to the next pass and
// what the last pass deleted; a pass that deleted mail or failed for an account can also show
// a desktop notification.
class TrayIcon final : public QObject {
    Q_OBJECT
public:
    // Whether the desktop has a notification area right now.
    using Availability = std::function<bool()>;
    // Shows a desktop notification; warning for a failure.
    using Notifier = std::function<void(const QString &title, const QString &text, bool warning)>;

    // window: the main window it hides and shows; the icon lives as long as the window.
    explicit TrayIcon(QMainWindow *window);
    ~TrayIcon() override;

    // Replaces QSystemTrayIcon::isSystemTrayAvailable (tests).
    void setAvailability(Availability availability);
    // How often the desktop is asked whether its notification area came or went (the panel
    // of a login session often comes up after the programs it starts). Qt has no signal for it.
    void setAvailabilityPollInterval(int milliseconds);
    // Replaces the notifications shown through the icon (tests).
    void setNotifier(Notifier notifier) { m_notifier = std::move(notifier); }
    bool available() const;

    void setIconVisible(bool visible);
    bool iconVisible() const { return m_iconVisible; }
    void setMinimiseToTray(bool on) { m_minimiseToTray = on; }
    bool minimiseToTray() const { return m_minimiseToTray; }
    // Whether the icon is in the notification area now.
    bool iconShown() const;
    // Whether the window has gone into the tray (hidden, no task-bar button).
    bool inTray() const { return m_inTray; }

    // Automatic mode switched on or off.
    void showAutoMode(bool on);
    // The countdown to the next pass, as the main window shows it.
    void showCountdown(const QString &text);
    // One pass ended: deleted messages in all, and the accounts it failed for, with why.
    // notify: whether a desktop notification may be shown.
    void showPassEnded(int deleted, const QStringList &failures, bool notify);

    QString toolTip() const;

    QSystemTrayIcon *systemTrayIcon;
    QMenu *trayMenu;
    QAction *showWindowAction; // "Show Window"

public Q_SLOTS:
    // Restores the main window from the tray or its minimised state, in front.
    void showMainWindow();

Q_SIGNALS:
    // The desktop's notification area appeared or went away.
    void availabilityChanged(bool available);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void update();
    void checkAvailability();
    void minimiseIntoTray();

    QMainWindow *m_window;
    int m_badge = -1; // the TrayBadge the icon shows
    Availability m_availability;
    Notifier m_notifier;
    QTimer *m_availabilityPoll;
    bool m_wasAvailable = false;
    bool m_iconVisible = false;
    bool m_minimiseToTray = false;
    bool m_inTray = false;
    bool m_autoMode = false;
    QString m_countdown;
    bool m_passSeen = false;
    int m_deleted = 0;
    QStringList m_failures;
};

} // namespace corvane
