#pragma once

#include "core/settings/foundsettings.h"

#include <QString>
#include <QWidget>

#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace corvane {

class AccountDiscovery;

// The top of the Add Account dialog: an e-mail address and "Find settings", which searches for
// the account's servers from the address alone and lists each step as it runs. What is found
// is shown with where it came from and what needs attention (a server outside the domain, no
// encryption, a provider's note), and is given to the dialog only when the user presses "Use
// these settings"; a server without encryption needs its own tick first. The search never
// sends a password.
class AccountFinder final : public QWidget {
    Q_OBJECT
public:
    explicit AccountFinder(QWidget *parent = nullptr);
    ~AccountFinder() override;

    // The search itself, whose hooks tests point at loopback servers.
    AccountDiscovery &discovery() { return *m_discovery; }
    // Stops a search in progress (the dialog closes).
    void stop();
    // Stops any search and empties every field (the dialog opens again).
    void reset();
    bool isSearching() const;

    QLineEdit *findAddressEdit;
    QPushButton *findSettingsButton;     // "Find settings"; "Stop" while searching
    QListWidget *findStepsList;          // one line per step, its outcome appended when it ends
    QLabel *foundSettingsLabel;          // the settings found, or why none were
    QCheckBox *allowUnencryptedCheck;    // consent for a server without encryption
    QPushButton *useFoundSettingsButton; // "Use these settings"

Q_SIGNALS:
    // The user took the settings found for address.
    void settingsConfirmed(const corvane::FoundAccountSettings &settings, const QString &address);

private:
    void findOrStop();
    void showFound(const FoundAccountSettings &settings);
    void showNothing(const QString &summary);
    void updateUseButton();
    void confirm();

    AccountDiscovery *m_discovery; // a child, deleted with the finder
    std::optional<FoundAccountSettings> m_found;
    QString m_address;
};

} // namespace corvane
