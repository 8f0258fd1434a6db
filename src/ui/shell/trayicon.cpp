#include "ui/shell/trayicon.h"

#include "ui/shell/icons.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindowStateChangeEvent>

using namespace Qt::StringLiterals;

namespace corvane {

namespace {
// How often the desktop is asked about its notification area.
constexpr int AvailabilityPollMs = 5000;
} // namespace

TrayIcon::TrayIcon(QMainWindow *window) : QObject(window), m_window(window) {
    setObjectName(u"TrayIcon"_s);
    trayMenu = new QMenu(window);
    trayMenu->setObjectName(u"trayMenu"_s);
    showWindowAction = trayMenu->addAction(u"Show Window"_s);
    showWindowAction->setObjectName(u"showWindowAction"_s);
    connect(showWindowAction, &QAction::triggered, this, &TrayIcon::showMainWindow);

    systemTrayIcon = new QSystemTrayIcon(this);
    systemTrayIcon->setObjectName(u"systemTrayIcon"_s);
    systemTrayIcon->setContextMenu(trayMenu);
    connect(systemTrayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick)
                    showMainWindow();
            });

    m_availability = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    m_notifier = [this](const QString &title, const QString &text, bool warning) {
        systemTrayIcon->showMessage(
            title, text, warning ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information, 15000);
    };
    window->installEventFilter(this);
    m_availabilityPoll = new QTimer(this);
    m_availabilityPoll->setInterval(AvailabilityPollMs);
    connect(m_availabilityPoll, &QTimer::timeout, this, &TrayIcon::checkAvailability);
    m_availabilityPoll->start();
    m_wasAvailable = available();
    update();
}

void TrayIcon::setAvailabilityPollInterval(int milliseconds) {
    m_availabilityPoll->setInterval(milliseconds);
}

void TrayIcon::checkAvailability() {
    const bool now = available();
    if (now == m_wasAvailable)
        return;
    m_wasAvailable = now;
    // A notification area that went away takes the window's only way back with it.
    if (!now && m_inTray)
        showMainWindow();
    update();
    Q_EMIT availabilityChanged(now);
}

TrayIcon::~TrayIcon() {
    // The icon leaves the notification area with the program.
    systemTrayIcon->hide();
}

void TrayIcon::setAvailability(Availability availability) {
    m_availability = std::move(availability);
    m_wasAvailable = available();
    update();
}

bool TrayIcon::available() const {
    return m_availability && m_availability();
}

void TrayIcon::setIconVisible(bool visible) {
    m_iconVisible = visible;
    update();
}

bool TrayIcon::iconShown() const {
    return systemTrayIcon->isVisible();
}

void TrayIcon::showAutoMode(bool on) {
    m_autoMode = on;
    if (!on)
        m_countdown.clear();
    update();
}

void TrayIcon::showCountdown(const QString &text) {
    m_countdown = text;
    update();
}

void TrayIcon::showPassEnded(int deleted, const QStringList &failures, bool notify) {
    m_passSeen = true;
    m_deleted = deleted;
    m_failures = failures;
    update();
    if (!notify || !m_notifier || !available())
        return;
    if (!failures.isEmpty()) {
        QString text = failures.join(u'\n');
        if (deleted > 0)
            text.prepend(deleted == 1 ? u"1 message deleted.\n"_s
                                      : u"%1 messages deleted.\n"_s.arg(deleted));
        m_notifier(u"Corvane: automatic check failed"_s, text, true);
    } else if (deleted > 0) {
        m_notifier(u"Corvane"_s,
                   deleted == 1 ? u"1 spam message deleted."_s
                                : u"%1 spam messages deleted."_s.arg(deleted),
                   false);
    }
}

QString TrayIcon::toolTip() const {
    QStringList lines{u"Corvane"_s};
    if (m_autoMode) {
        lines << u"Automatic mode"_s;
        if (!m_countdown.isEmpty())
            lines << m_countdown;
        if (m_passSeen) {
            lines << (m_deleted == 1 ? u"Last check: 1 message deleted"_s
                                     : u"Last check: %1 messages deleted"_s.arg(m_deleted));
            for (const QString &failure : m_failures)
                lines << failure;
        }
    }
    return lines.join(u'\n');
}

void TrayIcon::update() {
    const TrayBadge badge = !m_autoMode            ? TrayBadge::None
                            : m_failures.isEmpty() ? TrayBadge::AutoMode
                                                   : TrayBadge::Problem;
    if (m_badge != int(badge)) {
        m_badge = int(badge);
        systemTrayIcon->setIcon(trayIcon(badge));
    }
    systemTrayIcon->setToolTip(toolTip());
    // The icon stays while the window is in the tray, whatever happens meanwhile: it is the
    // only way back.
    const bool shown = available() && (m_iconVisible || m_inTray);
    if (systemTrayIcon->isVisible() != shown)
        systemTrayIcon->setVisible(shown);
}

bool TrayIcon::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_window && event->type() == QEvent::WindowStateChange &&
        m_window->isMinimized() && m_minimiseToTray && available() && !m_inTray) {
        // Hidden once the minimising has run its course.
        QTimer::singleShot(0, this, &TrayIcon::minimiseIntoTray);
    }
    return QObject::eventFilter(watched, event);
}

void TrayIcon::minimiseIntoTray() {
    if (!m_window->isMinimized() || !m_minimiseToTray || !available())
        return;
    m_inTray = true;
    update();
    // Hiding a window also removes its task-bar button.
    m_window->hide();
}

void TrayIcon::showMainWindow() {
    m_inTray = false;
    if (m_window->isMinimized())
        m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    update();
}

} // namespace corvane
