#pragma once

#include "core/screening/automatic.h"
#include "core/screening/commandgate.h"
#include "core/screening/mailboxsession.h"
#include "core/screening/processing.h"
#include "core/screening/screeningview.h"
#include "ui/screening/headerlistcommands.h"
#include "ui/screening/headerlistview.h"
#include "ui/screening/statusbar.h"
#include "ui/shell/fileopener.h"
#include "ui/shell/servercommand.h"

#include <QFrame>
#include <QMainWindow>
#include <QSet>

#include <functional>
#include <memory>

class QAction;
class QDateTime;
class QLabel;
class QMenu;
class QTimer;
class QToolBar;
class QToolButton;

namespace corvane {

class AccountStore;
class OAuthTokens;
class DataDirectory;
class DeletionLog;
class HeaderListModel;
class Prompts;
class HeadersWindow;
class AddAccountDialog;
class ListEntryDialog;
class WordPairDialog;
class EditAccountDialog;
class ListUpdateWindow;
class DeletionLogWindow;
class RulesWindow;
class Transport;
struct RuleLists;
struct Settings;

// The panel at the right end of the tool bar: the server name, "Idle..." or "In auto mode",
// and the automatic-mode countdown label inside it.
class ServerNamePanel final : public QFrame {
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText)
public:
    explicit ServerNamePanel(QWidget *parent = nullptr);
    // The host, "Idle..." or "In auto mode".
    QString text() const;
    void setText(const QString &text);
    // A connection to an account: shown as the account's name with its host, so that two
    // accounts on one server can be told apart.
    void setServer(const QString &accountName, const QString &host);
    QString caption() const;

    QLabel *countdownLabel; // the countdown, hidden outside automatic mode

private:
    QLabel *m_caption;
    QString m_text;
};

// The main window: the message list of the open POP3 connection, the account menus, and the
// commands that check an account and review and mark its messages. It shows what the mailbox
// session reports and turns clicks into session calls.
class MainWindow final : public QMainWindow, public ScreeningView {
    Q_OBJECT
public:
    static const QString Caption; // "Corvane v<version> - Protecting you from spam!"

    MainWindow(Prompts &prompts, Transport &transport, RuleLists &lists, Settings &settings,
               QWidget *parent = nullptr);
    ~MainWindow() override;

    // The window's creation step: counts at zero, the normal cursor, no automatic mode, and
    // the archive folder of the data directory created when it is missing.
    void initialise(const DataDirectory &directory);
    // The account store the account menus and checks read; null when it could not be opened.
    void setAccountStore(AccountStore *store);
    // The learned filter that scores the rows of each check and learns from the training
    // commands (the session is handed it again whenever it is made anew).
    void setLearning(LearningStore *store);
    void setAccountDialogs(AddAccountDialog *add, EditAccountDialog *edit);
    void setListDialogs(ListEntryDialog *entry, WordPairDialog *xandy);
    void setRulesWindow(RulesWindow *rules);
    // The deletion log that processing appends to, the log window that shows it and the
    // header window of "View all headers".
    void setRecords(DeletionLog *log, DeletionLogWindow *logWindow, HeadersWindow *headerWindow);
    // Who opens temp.eml for "View complete email"; null: the desktop's handler.
    void setFileOpener(FileOpener *opener) { m_opener = opener; }
    // The clock, waits and SMTP connections of processing (tests).
    void setProcessingHooks(ProcessingHooks hooks) { m_hooks = std::move(hooks); }
    // Where processing records its runs on the disk before QUIT (the program data).
    void setRunRecorder(RunRecorder *recorder) { m_hooks.recorder = recorder; }
    // How automatic mode measures time. Tests give their own clock, or make both timers fire
    // speedUp times faster (with a clock that runs as much faster) instead of waiting minutes.
    struct AutoModeTiming {
        AutoModeCountdown::Clock clock; // milliseconds; empty: the system's monotonic clock
        int speedUp = 1;
    };
    void setAutoModeTiming(AutoModeTiming timing);
    // The automatic-mode countdown in seconds.
    int secondsToNextCheck() const { return m_countdown.secondsToNextCheck(); }
    // The file "View complete email" writes: temp.eml in the data directory.
    QString tempFilePath() const;
    // Closes the window because the system asks the program to end (a logout, SIGTERM): no
    // question may wait for an answer then, so marks are dropped without asking and a file
    // that cannot be saved is reported on standard error instead of keeping the window open.
    void closeForSystem();

    // The shutdown sequence run when the window closes; it throws to keep the window open.
    void setShutdownSequence(std::function<void()> sequence) { m_shutdown = std::move(sequence); }
    // The screen's available area the window is placed in when it is first shown (tests give
    // their own); the window never opens larger than it nor partly outside it.
    void setScreenArea(std::function<QRect()> area) { m_screenArea = std::move(area); }
    // The file that keeps the window's place and column widths between runs.
    QString windowStatePath() const;
    // Gives the message list the list colour of the settings.
    void applyListColour();
    // The options window that Program > "Options / settings" and the Options button show;
    // both stay unavailable until it exists.
    void setOptionsWindow(QWidget *options);
    // The saved e-mails window that Program > Saved Emails shows.
    void setArchiveWindow(QWidget *archive);
    // The update window that Program > "Check for updates" shows; the item stays unavailable
    // until it exists.
    void setUpdateWindow(ListUpdateWindow *update);
    // Reads again, before each automatic pass, the list files another program changed since
    // they were read or saved; returns what happened, for the status bar.
    using ListReload = std::function<QStringList()>;
    void setListReload(ListReload reload) { m_listReload = std::move(reload); }
    // Runs work that waits on a server other than the mailbox's (the list update, the list
    // submission) through the same gate as the mailbox commands: false, without running work,
    // while a command runs; a close asked for meanwhile calls abortWait and is carried out
    // once work has returned.
    bool runServerCommand(const std::function<void()> &work, std::function<void()> abortWait);
    // runServerCommand as a runner for the windows that send or fetch.
    ServerCommandRunner serverCommandRunner();

    MailboxSession &session() { return *m_session; }
    Prompts &prompts() { return m_prompts; }

    // The text of status panel 0 to 3.
    QString panelText(int panel) const;
    // The status bar's count of marked rows ("5 marked for deletion, 1 for bouncing").
    QString marksText() const { return mainStatusBar->marksText(); }
    // Whether a command that talks to the server is running (its waits keep events flowing).
    bool operationRunning() const { return m_gate.busy(); }
    // The position (message number - 1) of the row selected in the message list, -1 when none
    // is; the list may be sorted in any order.
    qsizetype selectedRow() const;
    // Commands whose windows are not part of the program yet stay disabled whatever the
    // connection state says; making one available applies the state it would have now.
    void setCommandAvailable(QAction *command, bool available);
    // Whether a command's window is part of the program (see setCommandAvailable).
    bool commandAvailable(const QObject *command) const { return !m_unavailable.contains(command); }
    // The enabled state the connection steps last gave a command.
    static bool stateEnabled(const QAction *command);

    // ScreeningView
    void showBusy(bool busy) override;
    void showStatus(const QString &text) override;
    void showSelectionStatus(const QString &text) override;
    void showFileStatus(const QString &count, const QString &size) override;
    void showServerName(const QString &text) override;
    void showServer(const QString &accountName, const QString &host) override;
    void setConnectedState(bool connected) override;
    void setControlsEnabled(Controls controls, bool enabled) override;
    void rowsChanged() override;
    void stopAutoModeTimers() override;
    bool askYesNo(const QString &text) override;

    // Menus and their items.
    QMenu *programMenu;
    QMenu *checkMessagesMenu; // "Check Messages": one item per account
    QAction *processAction;
    QAction *rulesAndListsAction;
    QAction *optionsAction;
    QAction *savedEmailsAction;
    QAction *checkForUpdatesAction;
    QAction *quitAction;
    QMenu *accountsMenu;
    QAction *addAccountAction;
    QMenu *editAccountMenu;
    QMenu *deleteAccountMenu;
    QMenu *emailOptionsMenu;
    QAction *addSenderToBlackListAction;
    QAction *addSenderToFriendlyListAction;
    QAction *addSubjectToBlackListAction;
    QAction *addSubjectToWordPairListAction;
    QAction *viewEmailAction;
    QAction *viewHeadersAction;
    QMenu *markEmailMenu;
    QAction *markForDeletionAction;
    QAction *markForBouncingAction;
    QAction *markAllSpamForDeletionAction;
    QAction *unmarkAllForDeletionAction;
    QAction *markAllSpamForBouncingAction;
    QAction *unmarkAllForBouncingAction;
    QAction *markAsSpamAction;    // "This is spam"
    QAction *markAsNotSpamAction; // "This is not spam"
    QMenu *helpMenu;
    QAction *helpAction;
    QAction *contactSupportAction;
    QAction *visitWebsiteAction;
    QAction *aboutAction;   // "About Corvane"
    QAction *aboutQtAction; // "About Qt"
    // The context menu of the message list.
    QMenu *messageContextMenu;
    QAction *viewEmailContextAction;
    QAction *viewHeadersContextAction;
    QAction *markForDeletionContextAction;
    QAction *markForBouncingContextAction;
    QAction *addSenderToBlackListContextAction;
    QAction *addSubjectToBlackListContextAction;
    QAction *markAsSpamContextAction;
    QAction *markAsNotSpamContextAction;
    // "Disconnect from server without purging".
    QAction *disconnectAction;

    QToolBar *mainToolBar;
    QToolButton *checkMailButton; // "Check messages on account", with the menu checkMailMenu
    QMenu *checkMailMenu;
    QToolButton *processButton;    // "Process Current messages"
    QToolButton *disconnectButton; // "Disconnect from server"
    QToolButton *optionsButton;    // "Options of the program"
    QToolButton *autoModeButton;   // "Switch into auto mode"
    QToolButton *quitButton;       // "Quit program"
    ServerNamePanel *serverPanel;
    QLabel *countdownLabel; // inside serverPanel

    HeaderListView *messageList;
    QLabel *firstRunLabel; // on the empty list while there is no account
    MainStatusBar *mainStatusBar;
    // The automatic-mode timers: one starts each pass, the other counts down countdownLabel.
    QTimer *passTimer;
    QTimer *countdownTimer;

    // What the last automatic passes did, newest first: a heading line with the time, then a
    // line per account. Shown as the tool tip of the countdown and of the activity panel.
    const QStringList &autoPassHistory() const { return m_passHistory; }

Q_SIGNALS:
    // The account menus were rebuilt; count is the number of accounts.
    void accountsRefreshed(int count);
    // Automatic mode was switched on or off.
    void autoModeChanged(bool on);
    // The countdown to the next automatic pass shows a new text.
    void countdownChanged(const QString &text);
    // An automatic pass ended; what it did with each account.
    void passEnded(const QList<corvane::AccountPassResult> &results);

public Q_SLOTS:
    void refreshAccounts();
    void checkAccount(int tag);
    void disconnectFromServer();
    void editAccount(int tag);
    void deleteAccount(int tag);
    void addAccount();
    void quitProgram();
    void quitFromToolBar();

    void processMarkedMessages();
    void toggleAutomaticMode();
    void runAutomaticPass();
    void countdownTick();
    void viewEmail();
    void viewHeaders();
    void showRulesWindow();
    // Shows the marks the changed lists give the listed messages, without a new check.
    void recolourRows();
    void showOptionsWindow();
    void showSavedEmails();
    void showOptionsFromToolBar();
    void showListUpdateWindow();

    void markForDeletion();
    void markForBouncing();
    void markAllSpamForDeletion();
    void unmarkAllForDeletion();
    void markAllSpamForBouncing();
    void unmarkAllForBouncing();
    void addSenderToBlackList();
    void addSenderToFriendlyList();
    void addSubjectToBlackList();
    void addSubjectToWordPairList();
    // Space in the list: marks the selected row for deletion or takes its mark back.
    void toggleDeletionMark();
    // "This is spam": the selected row is learned as spam and marked for deletion.
    void learnSelectedAsSpam();
    // "This is not spam": the selected row is learned as ham and loses a deletion or bouncing
    // mark (it then shows what the lists, the rules and the learner now make of it).
    void learnSelectedAsHam();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    ListReload m_listReload;
    void createActions();
    void createMenus();
    void createToolBar();
    void createList();
    void createStatusBar();
    void rememberPass(const QDateTime &started, const QString &summary);

    // Runs a command: an error ends it and shows the default error box. A close asked for
    // while a command waits on the server is carried out once the command has unwound.
    template <typename Work> void runCommand(Work &&work);
    void finishCommand();
    // Shows the rows the session has listed so far, the count of marks and, once a command
    // has ended, columns sized to the rows.
    void showRows();
    void updateMarkCount();
    // The rows marked for deletion or bouncing when a processing run failed are kept for the
    // account; its next check marks those of its messages that are still on the server again.
    struct KeptMarks {
        QString host, user;
        QList<HeaderRow> rows;
        QList<MessageIdentity> identities;
    };
    void keepMarks(const KeptMarks &marked);
    void restoreKeptMarks();
    // The first showing: the saved place and column widths, fitted into the screen.
    void placeWindow();
    void saveWindowState() const;
    QRect screenArea() const;
    // The shutdown sequence; false (the error shown) when a step failed.
    bool runShutdown();

    void setState(QAction *command, bool enabled);
    // Enables a command as its connection state, its window and the accounts allow.
    void applyEnabled(QObject *command);
    void setMenuState(QMenu *menu, bool enabled);
    // The selected row for a command that adds to a list; nothing (and the error shown) when
    void updateSelectionLine();
    QString archiveFolder() const;
    // Starts the countdown and both automatic-mode timers for the next pass.
    void armAutoMode();

    Prompts &m_prompts;
    Transport &m_transport;
    RuleLists &m_lists;
    Settings &m_settings;
    AccountStore *m_store = nullptr;
    LearningStore *m_learning = nullptr;
    // The row whose sender the entry dialog was opened to add to the friendly list (learned as
    // ham) or the e-mail black list (learned as spam) once the entry is added; its sample is
    // taken when the dialog opens, as the rows may change while it is open.
    struct PendingListLearning {
        ListKind list;
        LearnedVerdict verdict;
        LearningSample sample;
    };
    std::optional<PendingListLearning> m_listLearning;
    void rememberListLearning(ListKind list, LearnedVerdict verdict);
    void learnListedSender(ListKind changed);
    std::unique_ptr<MailboxSession> m_session;
    // The access tokens of the accounts that sign in with OAuth, for the store's data folder.
    std::unique_ptr<OAuthTokens> m_oauthTokens;
    HeaderListModel *m_model;
    AddAccountDialog *m_addAccount = nullptr;
    EditAccountDialog *m_editAccount = nullptr;
    std::unique_ptr<HeaderListCommands> m_listCommands;
    DeletionLog *m_log = nullptr;
    DeletionLogWindow *m_logWindow = nullptr;
    RulesWindow *m_rulesWindow = nullptr;
    HeadersWindow *m_headerWindow = nullptr;
    QWidget *m_options = nullptr;
    QWidget *m_archive = nullptr;
    ListUpdateWindow *m_updateWindow = nullptr;
    // Ends the wait of a running command that talks to another server than the mailbox's.
    std::function<void()> m_abortOtherWait;
    DesktopFileOpener m_desktopOpener;
    FileOpener *m_opener = nullptr;
    ProcessingHooks m_hooks;
    AutoModeCountdown m_countdown;
    int m_speedUp = 1;
    QString m_dataPath;     // the data directory
    QString m_accountEmail; // "E-Mail Address" of the account last chosen for a check
    std::function<void()> m_shutdown;
    QSet<const QObject *> m_unavailable;
    QSet<QObject *> m_needsAccount;
    bool m_noAccounts = false;
    // Lets one command at a time talk to the server; what is asked for meanwhile waits there.
    CommandGate m_gate;
    bool m_passRunning = false;
    QStringList m_passHistory;
    bool m_autoModeShown = false; // the mode autoModeChanged last reported
    bool m_shutDown = false;
    bool m_systemQuit = false;
    bool m_busy = false;
    bool m_placed = false;
    // While a scan appends rows, the list takes them in batches: a view update per message
    // would cost more than the message's protocol exchange.
    QTimer *m_rowSync = nullptr;
    KeptMarks m_kept;
    std::function<QRect()> m_screenArea;
    int m_sizedForRows = 0; // the row count the columns were last sized for
};

} // namespace corvane
