#pragma once

#include "core/rules/listupdate.h"
#include "ui/shell/servercommand.h"

#include <QDialog>

#include <memory>

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace corvane {

class HttpFetcher;
class Prompts;
struct RuleLists;
struct Settings;

// The "Update" window: fetches the publisher's master copies of the three black lists from the
// address of the setting updateurl and adds to the user's lists every entry they lack. Closing
// it only hides it; showing it again keeps the status of the last run. The merged entries reach
// the list files when the lists are saved at shutdown.
class ListUpdateWindow final : public QDialog {
    Q_OBJECT
public:
    static const QString Caption; // "Update"

    // updatesFolder: where the downloads lie while they are read ("updates" in the data
    // directory).
    ListUpdateWindow(RuleLists &lists, Settings &settings, Prompts &prompts, QString updatesFolder,
                     QWidget *parent = nullptr);
    ~ListUpdateWindow() override;

    // The gate the fetches pass; without one they run straight away.
    void setCommandRunner(ServerCommandRunner runner) { m_runner = std::move(runner); }
    // The client that fetches the lists (tests add the certificate of their own CA).
    HttpFetcher &fetcher() { return *m_fetcher; }
    // Shows the window, brought forward, with the publisher's address as it now stands.
    void showWindow();
    bool running() const { return m_running; }

    QGroupBox *updateBox;
    QPushButton *checkNowButton; // "Check Now"
    QLabel *statusLabel;         // the status: "idle..." until the first run
    QProgressBar *progressBar;   // 0 to 100
    QLabel *sourceLabel;         // where the lists come from
    QLabel *resultLabel;         // what each list gained, or why the run failed

Q_SIGNALS:
    // Entries were added to the lists: the rows and the Rules and Lists window show them.
    void listsChanged();

public Q_SLOTS:
    // "Check Now": one update.
    void checkNow();

private:
    void showSource();
    void runUpdate(const QUrl &base);

    RuleLists &m_lists;
    Settings &m_settings;
    Prompts &m_prompts;
    QString m_folder;
    std::unique_ptr<HttpFetcher> m_fetcher;
    ServerCommandRunner m_runner;
    bool m_running = false;
    bool m_aborted = false;
    bool m_placed = false;
};

} // namespace corvane
