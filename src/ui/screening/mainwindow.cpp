#include "ui/screening/mainwindow.h"

#include "core/auth/oauthtokens.h"
#include "core/errors.h"
#include "core/platform/datadir.h"
#include "core/platform/legacytext.h"
#include "core/records/deletionlog.h"
#include "core/screening/rowreview.h"
#include "core/settings/accountstore.h"
#include "core/settings/settings.h"
#include "ui/records/deletionlogwindow.h"
#include "ui/records/headerswindow.h"
#include "ui/rules/listentrydialog.h"
#include "ui/rules/listupdatewindow.h"
#include "ui/rules/ruleswindow.h"
#include "ui/rules/wordpairdialog.h"
#include "ui/screening/headerlistmodel.h"
#include "ui/screening/windowstate.h"
#include "ui/settings/addaccountdialog.h"
#include "ui/settings/editaccountdialog.h"
#include "ui/shell/colours.h"
#include "ui/shell/guard.h"
#include "ui/shell/icons.h"
#include "ui/shell/prompts.h"
#include "ui/shell/signinagain.h"

#include "core/protocol/transport.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>

#include <chrono>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

const char kStateProperty[] = "stateEnabled";
const QString kNoAccounts = u"No accounts setup"_s;
const QString kIdle = u"Idle..."_s;
const QString kInAutoMode = u"In auto mode"_s;

using Control = ScreeningView::Control;
// What automatic mode disables while it is on; the button that switches it stays enabled.
const ScreeningView::Controls kAutoModeLocked = Control::CheckButton | Control::ProcessButton |
                                                Control::DisconnectButton | Control::OptionsButton |
                                                Control::MainMenus | Control::ContextMenu;

// What an automatic pass did with one account, in a few words.
QString passOutcomeText(const AccountPassResult &r) {
    using Outcome = AccountPassResult::Outcome;
    const QString error = QString(r.error).replace(u'\n', u' ').simplified();
    switch (r.outcome) {
    case Outcome::NotConnected:
        return u"not checked: %1"_s.arg(error);
    case Outcome::Empty:
        return u"no messages"_s;
    case Outcome::Processed:
        return u"%1 of %2 deleted"_s.arg(r.processing.processed).arg(r.messageCount);
    case Outcome::Failed:
        return u"nothing deleted: %1"_s.arg(error);
    case Outcome::Unknown:
        return u"outcome unknown: %1"_s.arg(error);
    case Outcome::Interrupted:
        break;
    }
    return u"stopped before deleting"_s;
}

// What the status bar says after an automatic pass about accounts whose messages may not be
// as the pass left them, or that were not screened at all: an unknown outcome first, then
// failures (nothing deleted), then accounts that could not be reached or logged into.
QString passProblems(const QList<AccountPassResult> &results) {
    using Outcome = AccountPassResult::Outcome;
    QStringList problems;
    for (const Outcome shown : {Outcome::Unknown, Outcome::Failed, Outcome::NotConnected})
        for (const AccountPassResult &r : results)
            if (r.outcome == shown)
                problems << u"%1: %2"_s.arg(r.accountName, passOutcomeText(r));
    return problems.join(u"  "_s);
}

// One line per account of a pass, for the pass history.
QString passSummary(const QList<AccountPassResult> &results) {
    QStringList lines;
    for (const AccountPassResult &r : results)
        lines << u"  %1: %2"_s.arg(r.accountName, passOutcomeText(r));
    if (lines.isEmpty())
        lines << u"  no accounts"_s;
    return lines.join(u'\n');
}

// While processing appends to the log, the log window cannot be edited; afterwards it shows
// the log as the run left it, also when the run failed.
class LogRun {
public:
    explicit LogRun(DeletionLogWindow *window) : m_window(window) {
        if (m_window) {
            m_window->commitEdits();
            m_window->setRunning(true);
        }
    }
    ~LogRun() {
        if (m_window) {
            m_window->setRunning(false);
            m_window->showLog();
        }
    }
    LogRun(const LogRun &) = delete;
    LogRun &operator=(const LogRun &) = delete;

private:
    DeletionLogWindow *m_window;
};

// Menu captions treat "&" as the accelerator mark; an account name shows as typed.
QString menuCaption(const QString &text) {
    QString caption = text;
    return caption.replace(u'&', u"&&"_s);
}

} // namespace

ServerNamePanel::ServerNamePanel(QWidget *parent) : QFrame(parent) {
    setObjectName(u"serverPanel"_s);
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setMinimumWidth(200);
    m_text = u"Idle..."_s;
    m_caption = new QLabel(m_text, this);
    m_caption->setObjectName(u"serverPanelCaption"_s);
    m_caption->setAlignment(Qt::AlignCenter);
    QFont bold = m_caption->font();
    bold.setBold(true);
    m_caption->setFont(bold);
    countdownLabel = new QLabel(this);
    countdownLabel->setObjectName(u"countdownLabel"_s);
    countdownLabel->setAlignment(Qt::AlignCenter);
    countdownLabel->hide();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 4, 10, 4);
    layout->setSpacing(2);
    layout->addStretch();
    layout->addWidget(m_caption);
    layout->addWidget(countdownLabel);
    layout->addStretch();
}

QString ServerNamePanel::text() const {
    return m_text;
}

QString ServerNamePanel::caption() const {
    return m_caption->text();
}

void ServerNamePanel::setText(const QString &text) {
    m_text = text;
    m_caption->setText(text);
    m_caption->setToolTip(QString());
}

void ServerNamePanel::setServer(const QString &accountName, const QString &host) {
    m_text = host;
    const QString full = accountName.trimmed().isEmpty() || accountName == host
                             ? host
                             : u"%1 \u2013 %2"_s.arg(accountName, host);
    // A long name must not widen the tool bar past the screen: the panel shows what fits, the
    // tool tip the whole.
    const int room = qMax(minimumWidth(), m_caption->fontMetrics().averageCharWidth() * 36);
    const QString shown = m_caption->fontMetrics().elidedText(full, Qt::ElideMiddle, room);
    m_caption->setText(shown);
    m_caption->setToolTip(shown == full ? QString() : full);
}

const QString MainWindow::Caption =
    u"Corvane v"_s + QStringLiteral(CORVANE_VERSION) + u" - Protecting you from spam!"_s;

MainWindow::MainWindow(Prompts &prompts, Transport &transport, RuleLists &lists, Settings &settings,
                       QWidget *parent)
    : QMainWindow(parent), m_prompts(prompts), m_transport(transport), m_lists(lists),
      m_settings(settings), m_gate([this] {
          // A command waiting on another server is ended only for a close; the mailbox's
          // connection is not its to break.
          if (m_abortOtherWait) {
              if (m_gate.pending(CommandGate::Request::Close))
                  m_abortOtherWait();
          } else {
              m_transport.abort();
          }
      }) {
    setObjectName(u"MainWindow"_s);
    setWindowTitle(Caption);
    setWindowIcon(applicationIcon());
    m_session = std::make_unique<MailboxSession>(m_transport, nullptr, m_lists, *this);
    m_session->setSettings(&m_settings);
    m_model = new HeaderListModel(this);
    m_model->setColours([this] {
        return HeaderListModel::Colours{colourFromSetting(m_settings.colorban),
                                        colourFromSetting(m_settings.colorfriend)};
    });
    m_model->setRows(&m_session->rows(), &m_session->identities());

    createActions();
    createMenus();
    createToolBar();
    createList();
    createStatusBar();

    m_rowSync = new QTimer(this);
    m_rowSync->setSingleShot(true);
    m_rowSync->setInterval(100);
    connect(m_rowSync, &QTimer::timeout, this, &MainWindow::showRows);

    passTimer = new QTimer(this);
    passTimer->setObjectName(u"passTimer"_s);
    countdownTimer = new QTimer(this);
    countdownTimer->setObjectName(u"countdownTimer"_s);
    countdownTimer->setInterval(1000);
    connect(passTimer, &QTimer::timeout, this, &MainWindow::runAutomaticPass);
    connect(countdownTimer, &QTimer::timeout, this, &MainWindow::countdownTick);

    // Commands whose windows are not part of the program yet.
    for (QObject *pending : std::initializer_list<QObject *>{
             optionsAction, checkForUpdatesAction, helpAction, contactSupportAction,
             visitWebsiteAction, aboutAction, aboutQtAction, optionsButton}) {
        m_unavailable.insert(pending);
        if (auto *action = qobject_cast<QAction *>(pending))
            action->setEnabled(false);
        else if (auto *widget = qobject_cast<QWidget *>(pending))
            widget->setEnabled(false);
    }

    // Until the shell hands over the archive window.
    setCommandAvailable(savedEmailsAction, false);
    // Commands that have nothing to work on before the user has an account.
    for (QObject *command : std::initializer_list<QObject *>{
             processAction, processButton, autoModeButton, disconnectAction,
             emailOptionsMenu->menuAction(), markEmailMenu->menuAction()})
        m_needsAccount.insert(command);
    for (QAction *item : messageContextMenu->actions())
        if (!item->isSeparator())
            m_needsAccount.insert(item);

    resize(900, 560);
    refreshAccounts();
}

MainWindow::~MainWindow() {
    // The session's rows go before the list does: the list must not read them on its way out.
    m_rowSync->stop();
    m_model->setRows(nullptr);
    if (m_busy)
        QGuiApplication::restoreOverrideCursor();
}

void MainWindow::createActions() {
    // Every command of the menus and the list's context menu: the member (its name is the
    // objectName the tests find), the caption, the picture, and the handler. Commands that
    // wait on the server run after the menu has closed, outside its handling (queued).
    using Handler = void (MainWindow::*)();
    struct Command {
        QAction *MainWindow::*member;
        QString name;
        QString text;
        std::optional<ToolIcon> tool;
        std::optional<RowMark> mark;
        Handler handler;
        bool queued;
    };
    const Command commands[] = {
        // Program
        {&MainWindow::processAction,
         u"processAction"_s,
         u"Process Messages"_s,
         ToolIcon::Process,
         {},
         &MainWindow::processMarkedMessages,
         true},
        {&MainWindow::rulesAndListsAction,
         u"rulesAndListsAction"_s,
         u"Rules and Lists"_s,
         {},
         {},
         &MainWindow::showRulesWindow,
         false},
        {&MainWindow::optionsAction,
         u"optionsAction"_s,
         u"Options / settings"_s,
         ToolIcon::Options,
         {},
         &MainWindow::showOptionsWindow,
         false},
        {&MainWindow::savedEmailsAction,
         u"savedEmailsAction"_s,
         u"Saved Emails"_s,
         ToolIcon::ViewSaved,
         {},
         &MainWindow::showSavedEmails,
         false},
        {&MainWindow::checkForUpdatesAction,
         u"checkForUpdatesAction"_s,
         u"Check for updates"_s,
         {},
         {},
         &MainWindow::showListUpdateWindow,
         false},
        {&MainWindow::quitAction,
         u"quitAction"_s,
         u"Close program"_s,
         ToolIcon::Quit,
         {},
         &MainWindow::quitProgram,
         false},
        // Accounts
        {&MainWindow::addAccountAction,
         u"addAccountAction"_s,
         u"Add Account"_s,
         {},
         {},
         &MainWindow::addAccount,
         false},
        // Email Options
        {&MainWindow::addSenderToBlackListAction,
         u"addSenderToBlackListAction"_s,
         u"Add email to black list"_s,
         {},
         {},
         &MainWindow::addSenderToBlackList,
         false},
        {&MainWindow::addSenderToFriendlyListAction,
         u"addSenderToFriendlyListAction"_s,
         u"Add email to friendly list"_s,
         {},
         {},
         &MainWindow::addSenderToFriendlyList,
         false},
        {&MainWindow::addSubjectToBlackListAction,
         u"addSubjectToBlackListAction"_s,
         u"Add subject to black list"_s,
         {},
         {},
         &MainWindow::addSubjectToBlackList,
         false},
        {&MainWindow::addSubjectToWordPairListAction,
         u"addSubjectToWordPairListAction"_s,
         u"Add subject to x y black list"_s,
         {},
         {},
         &MainWindow::addSubjectToWordPairList,
         false},
        {&MainWindow::viewEmailAction,
         u"viewEmailAction"_s,
         u"View complete email"_s,
         {},
         {},
         &MainWindow::viewEmail,
         true},
        {&MainWindow::viewHeadersAction,
         u"viewHeadersAction"_s,
         u"View all headers"_s,
         {},
         {},
         &MainWindow::viewHeaders,
         true},
        // Mark Email
        {&MainWindow::markForDeletionAction,
         u"markForDeletionAction"_s,
         u"Mark for deletion"_s,
         {},
         RowMark::Delete,
         &MainWindow::markForDeletion,
         false},
        {&MainWindow::markForBouncingAction,
         u"markForBouncingAction"_s,
         u"Mark for bouncing"_s,
         {},
         RowMark::Bounce,
         &MainWindow::markForBouncing,
         false},
        {&MainWindow::markAllSpamForDeletionAction,
         u"markAllSpamForDeletionAction"_s,
         u"Mark all spam for deletion"_s,
         {},
         {},
         &MainWindow::markAllSpamForDeletion,
         false},
        {&MainWindow::unmarkAllForDeletionAction,
         u"unmarkAllForDeletionAction"_s,
         u"Unmark all for deletion"_s,
         {},
         {},
         &MainWindow::unmarkAllForDeletion,
         false},
        {&MainWindow::markAllSpamForBouncingAction,
         u"markAllSpamForBouncingAction"_s,
         u"Mark all spam for bouncing"_s,
         {},
         {},
         &MainWindow::markAllSpamForBouncing,
         false},
        {&MainWindow::unmarkAllForBouncingAction,
         u"unmarkAllForBouncingAction"_s,
         u"Unmark all for bouncing"_s,
         {},
         {},
         &MainWindow::unmarkAllForBouncing,
         false},
        {&MainWindow::markAsSpamAction,
         u"markAsSpamAction"_s,
         u"This is spam"_s,
         {},
         {},
         &MainWindow::learnSelectedAsSpam,
         false},
        {&MainWindow::markAsNotSpamAction,
         u"markAsNotSpamAction"_s,
         u"This is not spam"_s,
         {},
         {},
         &MainWindow::learnSelectedAsHam,
         false},
        // Help
        {&MainWindow::helpAction, u"helpAction"_s, u"Help"_s, {}, {}, nullptr, false},
        {&MainWindow::contactSupportAction,
         u"contactSupportAction"_s,
         u"Contact support"_s,
         {},
         {},
         nullptr,
         false},
        {&MainWindow::visitWebsiteAction,
         u"visitWebsiteAction"_s,
         u"Visit Website"_s,
         {},
         {},
         nullptr,
         false},
        {&MainWindow::aboutAction, u"aboutAction"_s, u"About Corvane"_s, {}, {}, nullptr, false},
        {&MainWindow::aboutQtAction, u"aboutQtAction"_s, u"About Qt"_s, {}, {}, nullptr, false},
        // The list's context menu
        {&MainWindow::viewEmailContextAction,
         u"viewEmailContextAction"_s,
         u"View Message"_s,
         {},
         {},
         &MainWindow::viewEmail,
         true},
        {&MainWindow::viewHeadersContextAction,
         u"viewHeadersContextAction"_s,
         u"Vew Headers"_s,
         {},
         {},
         &MainWindow::viewHeaders,
         true},
        {&MainWindow::markForDeletionContextAction,
         u"markForDeletionContextAction"_s,
         u"Mark this email for deletion"_s,
         {},
         RowMark::Delete,
         &MainWindow::markForDeletion,
         false},
        {&MainWindow::markForBouncingContextAction,
         u"markForBouncingContextAction"_s,
         u"Mark this email for bouncing"_s,
         {},
         RowMark::Bounce,
         &MainWindow::markForBouncing,
         false},
        {&MainWindow::addSenderToBlackListContextAction,
         u"addSenderToBlackListContextAction"_s,
         u"Add email to black list"_s,
         {},
         {},
         &MainWindow::addSenderToBlackList,
         false},
        {&MainWindow::addSubjectToBlackListContextAction,
         u"addSubjectToBlackListContextAction"_s,
         u"Add subject to black list"_s,
         {},
         {},
         &MainWindow::addSubjectToBlackList,
         false},
        {&MainWindow::markAsSpamContextAction,
         u"markAsSpamContextAction"_s,
         u"This is spam"_s,
         {},
         {},
         &MainWindow::learnSelectedAsSpam,
         false},
        {&MainWindow::markAsNotSpamContextAction,
         u"markAsNotSpamContextAction"_s,
         u"This is not spam"_s,
         {},
         {},
         &MainWindow::learnSelectedAsHam,
         false},
        // The tool bar's Disconnect button
        {&MainWindow::disconnectAction,
         u"disconnectAction"_s,
         u"Disconnect from server without purging"_s,
         ToolIcon::Disconnect,
         {},
         &MainWindow::disconnectFromServer,
         false},
    };
    for (const Command &c : commands) {
        auto *a = new QAction(c.text, this);
        a->setObjectName(c.name);
        a->setProperty(kStateProperty, true);
        if (c.tool)
            a->setIcon(toolIcon(*c.tool));
        else if (c.mark)
            a->setIcon(markIcon(*c.mark));
        if (c.handler)
            connect(a, &QAction::triggered, this, c.handler,
                    c.queued ? Qt::QueuedConnection : Qt::AutoConnection);
        this->*c.member = a;
    }
    disconnectAction->setIconText(u"Disconnect"_s);
    disconnectAction->setToolTip(u"Disconnect from server"_s);

    // The access keys and shortcuts of the common commands. Delete marks the selected row
    // from anywhere in the window; Space and Enter belong to the list.
    const struct {
        QAction *action;
        QString text;
        QKeySequence keys;
    } keys[] = {
        // Processing deletes mail: no shortcut of its own (Ctrl+P prints everywhere else), only
        // the menu with its access key and the tool bar.
        {processAction, u"&Process Messages"_s, {}},
        {rulesAndListsAction, u"&Rules and Lists"_s, QKeySequence(Qt::CTRL | Qt::Key_L)},
        {optionsAction, u"&Options / settings"_s, {}},
        {checkForUpdatesAction, u"Check for &updates"_s, {}},
        {quitAction, u"&Close program"_s, QKeySequence(Qt::CTRL | Qt::Key_Q)},
        {addAccountAction, u"&Add Account"_s, {}},
        {addSenderToBlackListAction, u"Add email to &black list"_s, {}},
        {addSenderToFriendlyListAction, u"Add email to &friendly list"_s, {}},
        {addSubjectToBlackListAction, u"Add &subject to black list"_s, {}},
        {addSubjectToWordPairListAction, u"Add subject to &x y black list"_s, {}},
        {viewEmailAction, u"View complete &email"_s, QKeySequence(Qt::CTRL | Qt::Key_E)},
        {viewHeadersAction, u"View all &headers"_s, QKeySequence(Qt::CTRL | Qt::Key_H)},
        {markForDeletionAction, u"Mark for &deletion"_s, QKeySequence(Qt::Key_Delete)},
        {markForBouncingAction, u"Mark for &bouncing"_s, QKeySequence(Qt::CTRL | Qt::Key_B)},
        {markAllSpamForDeletionAction, u"Mark all spam for d&eletion"_s, {}},
        {unmarkAllForDeletionAction, u"&Unmark all for deletion"_s, {}},
        {markAllSpamForBouncingAction, u"Mark all spam for b&ouncing"_s, {}},
        {unmarkAllForBouncingAction, u"U&nmark all for bouncing"_s, {}},
        {markAsSpamAction, u"This is &spam"_s, QKeySequence(Qt::CTRL | Qt::Key_J)},
        {markAsNotSpamAction, u"This is &not spam"_s,
         QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_J)},
        {disconnectAction, disconnectAction->text(), QKeySequence(Qt::CTRL | Qt::Key_D)},
    };
    for (const auto &k : keys) {
        k.action->setText(k.text);
        if (!k.keys.isEmpty()) {
            k.action->setShortcut(k.keys);
            addAction(k.action);
        }
    }
}

void MainWindow::createMenus() {
    QMenuBar *bar = menuBar();
    const auto menu = [](QWidget *parent, const QString &name, const QString &title) {
        auto *m = new QMenu(title, parent);
        m->setObjectName(name);
        m->menuAction()->setObjectName(name + u"Item"_s);
        m->menuAction()->setProperty(kStateProperty, true);
        return m;
    };

    programMenu = menu(bar, u"programMenu"_s, u"&Program"_s);
    checkMessagesMenu = menu(programMenu, u"checkMessagesMenu"_s, u"&Check Messages"_s);
    checkMessagesMenu->setIcon(toolIcon(ToolIcon::Check));
    programMenu->addMenu(checkMessagesMenu);
    programMenu->addAction(processAction);
    programMenu->addSeparator();
    programMenu->addAction(rulesAndListsAction);
    programMenu->addAction(optionsAction);
    programMenu->addAction(savedEmailsAction);
    programMenu->addAction(checkForUpdatesAction);
    programMenu->addSeparator();
    programMenu->addAction(quitAction);
    bar->addMenu(programMenu);

    accountsMenu = menu(bar, u"accountsMenu"_s, u"&Accounts"_s);
    accountsMenu->addAction(addAccountAction);
    editAccountMenu = menu(accountsMenu, u"editAccountMenu"_s, u"Edit Account"_s);
    accountsMenu->addMenu(editAccountMenu);
    deleteAccountMenu = menu(accountsMenu, u"deleteAccountMenu"_s, u"Delete Account   "_s);
    accountsMenu->addMenu(deleteAccountMenu);
    bar->addMenu(accountsMenu);

    emailOptionsMenu = menu(bar, u"emailOptionsMenu"_s, u"&Email Options"_s);
    emailOptionsMenu->addAction(addSenderToBlackListAction);
    emailOptionsMenu->addAction(addSenderToFriendlyListAction);
    emailOptionsMenu->addAction(addSubjectToBlackListAction);
    emailOptionsMenu->addAction(addSubjectToWordPairListAction);
    emailOptionsMenu->addSeparator();
    emailOptionsMenu->addAction(viewEmailAction);
    emailOptionsMenu->addAction(viewHeadersAction);
    bar->addMenu(emailOptionsMenu);

    markEmailMenu = menu(bar, u"markEmailMenu"_s, u"&Mark Email"_s);
    markEmailMenu->addAction(markForDeletionAction);
    markEmailMenu->addAction(markForBouncingAction);
    markEmailMenu->addSeparator();
    markEmailMenu->addAction(markAllSpamForDeletionAction);
    markEmailMenu->addAction(unmarkAllForDeletionAction);
    markEmailMenu->addSeparator();
    markEmailMenu->addAction(markAllSpamForBouncingAction);
    markEmailMenu->addAction(unmarkAllForBouncingAction);
    markEmailMenu->addSeparator();
    markEmailMenu->addAction(markAsSpamAction);
    markEmailMenu->addAction(markAsNotSpamAction);
    bar->addMenu(markEmailMenu);

    helpMenu = menu(bar, u"helpMenu"_s, u"&Help"_s);
    helpMenu->addAction(helpAction);
    helpMenu->addAction(contactSupportAction);
    helpMenu->addSeparator();
    helpMenu->addAction(visitWebsiteAction);
    helpMenu->addSeparator();
    helpMenu->addAction(aboutAction);
    helpMenu->addAction(aboutQtAction);
    bar->addMenu(helpMenu);

    messageContextMenu = menu(this, u"messageContextMenu"_s, QString());
    messageContextMenu->addAction(viewEmailContextAction);
    messageContextMenu->addAction(viewHeadersContextAction);
    messageContextMenu->addSeparator();
    messageContextMenu->addAction(markForDeletionContextAction);
    messageContextMenu->addAction(markForBouncingContextAction);
    messageContextMenu->addSeparator();
    messageContextMenu->addAction(markAsSpamContextAction);
    messageContextMenu->addAction(markAsNotSpamContextAction);
    messageContextMenu->addSeparator();
    messageContextMenu->addAction(addSenderToBlackListContextAction);
    messageContextMenu->addAction(addSubjectToBlackListContextAction);

    checkMailMenu = menu(this, u"checkMailMenu"_s, QString());
}

void MainWindow::createToolBar() {
    mainToolBar = new QToolBar(u"Commands"_s, this);
    mainToolBar->setObjectName(u"mainToolBar"_s);
    mainToolBar->setMovable(false);
    mainToolBar->setFloatable(false);
    mainToolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    mainToolBar->setIconSize(QSize(24, 24));
    mainToolBar->toggleViewAction()->setEnabled(false);
    addToolBar(Qt::TopToolBarArea, mainToolBar);

    const auto button = [this](const QString &name, const QString &caption, const QString &hint,
                               ToolIcon icon) {
        auto *b = new QToolButton(mainToolBar);
        b->setObjectName(name);
        b->setText(caption);
        b->setToolTip(hint);
        b->setIcon(toolIcon(icon));
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setAutoRaise(true);
        b->setProperty(kStateProperty, true);
        return b;
    };
    checkMailButton = button(u"checkMailButton"_s, u"Check Mail"_s, u"Check messages on account"_s,
                             ToolIcon::Check);
    checkMailButton->setMenu(checkMailMenu);
    checkMailButton->setPopupMode(QToolButton::InstantPopup);
    processButton =
        button(u"processButton"_s, u"Process"_s, u"Process Current messages"_s, ToolIcon::Process);
    disconnectButton = new QToolButton(mainToolBar);
    disconnectButton->setObjectName(u"disconnectButton"_s);
    disconnectButton->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    disconnectButton->setAutoRaise(true);
    disconnectButton->setDefaultAction(disconnectAction);
    optionsButton =
        button(u"optionsButton"_s, u"Options"_s, u"Options of the program"_s, ToolIcon::Options);
    autoModeButton =
        button(u"autoModeButton"_s, u"Auto Mode"_s, u"Switch into auto mode"_s, ToolIcon::AutoMode);
    autoModeButton->setCheckable(true);
    connect(processButton, &QToolButton::clicked, this, &MainWindow::processMarkedMessages);
    connect(autoModeButton, &QToolButton::clicked, this, &MainWindow::toggleAutomaticMode);
    quitButton = button(u"quitButton"_s, u"Quit"_s, u"Quit program"_s, ToolIcon::Quit);
    connect(quitButton, &QToolButton::clicked, this, &MainWindow::quitFromToolBar);
    connect(optionsButton, &QToolButton::clicked, this, &MainWindow::showOptionsFromToolBar);

    mainToolBar->addWidget(checkMailButton);
    mainToolBar->addWidget(processButton);
    mainToolBar->addWidget(disconnectButton);
    mainToolBar->addSeparator();
    mainToolBar->addWidget(optionsButton);
    mainToolBar->addWidget(autoModeButton);
    mainToolBar->addSeparator();
    mainToolBar->addWidget(quitButton);
    auto *spacer = new QWidget(mainToolBar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    mainToolBar->addWidget(spacer);
    serverPanel = new ServerNamePanel(mainToolBar);
    countdownLabel = serverPanel->countdownLabel;
    mainToolBar->addWidget(serverPanel);
}

void MainWindow::createList() {
    messageList = new HeaderListView(m_model, messageContextMenu, this);
    firstRunLabel = new QLabel(u"Add an account to begin: Accounts > Add Account"_s);
    firstRunLabel->setObjectName(u"firstRunLabel"_s);
    firstRunLabel->setAlignment(Qt::AlignCenter);
    firstRunLabel->setWordWrap(true);
    firstRunLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    firstRunLabel->setForegroundRole(QPalette::PlaceholderText);
    {
        QFont larger = firstRunLabel->font();
        larger.setPointSizeF(larger.pointSizeF() * 1.2);
        firstRunLabel->setFont(larger);
        auto *overlay = new QVBoxLayout(messageList->viewport());
        overlay->addWidget(firstRunLabel);
    }
    firstRunLabel->hide();
    m_listCommands = std::make_unique<HeaderListCommands>(this, *messageList, m_prompts);
    connect(messageList, &HeaderListView::selectionTouched, this, &MainWindow::updateSelectionLine);
    connect(messageList, &HeaderListView::toggleMarkRequested, this,
            &MainWindow::toggleDeletionMark);
    // Like the menu item, the headers are fetched once the key or click has been handled.
    connect(messageList, &HeaderListView::headersRequested, this, &MainWindow::viewHeaders,
            Qt::QueuedConnection);
    setCentralWidget(messageList);
    applyListColour();
}

void MainWindow::createStatusBar() {
    mainStatusBar = new MainStatusBar(this);
    setStatusBar(mainStatusBar);
}

void MainWindow::initialise(const DataDirectory &directory) {
    m_dataPath = directory.path();
    m_session->MessageCount = 0;
    m_session->MailboxSizeK = 0;
    showBusy(false);
    m_session->AutoMode = false;
    directory.folder(u"archive"_s);
}

void MainWindow::setAccountStore(AccountStore *store) {
    m_store = store;
    m_model->setRows(nullptr);
    m_session = std::make_unique<MailboxSession>(m_transport, store, m_lists, *this);
    m_session->setSettings(&m_settings);
    m_session->setLearning(m_learning);
    m_oauthTokens.reset();
    if (store) {
        try {
            m_oauthTokens =
                std::make_unique<OAuthTokens>(QFileInfo(store->filePath()).absolutePath());
            m_session->setOAuthTokens(m_oauthTokens.get());
        } catch (const Error &) {
            // Settings.ini cannot be read: OAuth accounts say so when checked.
        }
    }
    m_model->setRows(&m_session->rows(), &m_session->identities());
}

void MainWindow::setLearning(LearningStore *store) {
    m_learning = store;
    m_session->setLearning(store);
}

void MainWindow::setAccountDialogs(AddAccountDialog *add, EditAccountDialog *edit) {
    m_addAccount = add;
    m_editAccount = edit;
}

void MainWindow::setListDialogs(ListEntryDialog *entry, WordPairDialog *xandy) {
    m_listCommands->setListDialogs(entry, xandy);
    if (entry) {
        connect(entry, &ListEntryDialog::listChanged, this, &MainWindow::learnListedSender);
        // A dialog closed without adding learns nothing.
        connect(entry, &QDialog::finished, this, [this] { m_listLearning.reset(); });
    }
}

void MainWindow::rememberListLearning(ListKind list, LearnedVerdict verdict) {
    m_listLearning.reset();
    const qsizetype row = selectedRow();
    if (row < 0 || !m_session->learningActive())
        return;
    if (std::optional<LearningSample> sample = m_session->learningSample(row))
        m_listLearning = PendingListLearning{list, verdict, std::move(*sample)};
}

void MainWindow::learnListedSender(ListKind changed) {
    if (!m_listLearning || m_listLearning->list != changed || !m_learning)
        return;
    const PendingListLearning pending = std::move(*m_listLearning);
    m_listLearning.reset();
    try {
        const LearningSample samples[] = {pending.sample};
        m_learning->train(samples, pending.verdict, LearningStore::Policy::Correct);
        // The entry is in the list already; the rows show what both make of them now.
        m_session->RescoreRows();
    } catch (const Error &e) {
        // The entry stays added; only its learning is lost, and the user is told.
        m_prompts.error(this, e.message());
    }
}

void MainWindow::setRulesWindow(RulesWindow *rules) {
    m_rulesWindow = rules;
}

void MainWindow::setRecords(DeletionLog *log, DeletionLogWindow *logWindow,
                            HeadersWindow *headerWindow) {
    m_log = log;
    m_logWindow = logWindow;
    m_headerWindow = headerWindow;
}

void MainWindow::setAutoModeTiming(AutoModeTiming timing) {
    m_speedUp = qMax(1, timing.speedUp);
    AutoModeCountdown::Clock clock = std::move(timing.clock);
    if (!clock && m_speedUp > 1) {
        clock = [speedUp = m_speedUp] {
            using namespace std::chrono;
            return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() *
                   speedUp;
        };
    }
    m_countdown = AutoModeCountdown(std::move(clock));
    countdownTimer->setInterval(qMax(1, 1000 / m_speedUp));
}

QString MainWindow::tempFilePath() const {
    return DataDirectory(m_dataPath).filePath(u"temp.eml"_s);
}

QString MainWindow::archiveFolder() const {
    return DataDirectory(m_dataPath).filePath(u"archive"_s);
}

void MainWindow::applyListColour() {
    messageList->setListColour(colourFromSetting(m_settings.colormailwin));
}

void MainWindow::setOptionsWindow(QWidget *options) {
    m_options = options;
    setCommandAvailable(optionsAction, options != nullptr);
    if (options)
        m_unavailable.remove(optionsButton);
    else
        m_unavailable.insert(optionsButton);
    applyEnabled(optionsButton);
}

void MainWindow::showOptionsWindow() {
    if (!m_options)
        return;
    m_options->show();
    m_options->raise();
    m_options->activateWindow();
}

void MainWindow::setArchiveWindow(QWidget *archive) {
    m_archive = archive;
    setCommandAvailable(savedEmailsAction, archive != nullptr);
}

void MainWindow::showSavedEmails() {
    if (!m_archive)
        return;
    m_archive->show();
    m_archive->raise();
    m_archive->activateWindow();
}

void MainWindow::showOptionsFromToolBar() {
    showOptionsWindow();
}

void MainWindow::setUpdateWindow(ListUpdateWindow *update) {
    m_updateWindow = update;
    setCommandAvailable(checkForUpdatesAction, update != nullptr);
}

void MainWindow::showListUpdateWindow() {
    if (m_updateWindow)
        m_updateWindow->showWindow();
}

bool MainWindow::runServerCommand(const std::function<void()> &work,
                                  std::function<void()> abortWait) {
    if (!m_gate.mayStart())
        return false;
    {
        const CommandGate::Pass pass(m_gate);
        m_abortOtherWait = std::move(abortWait);
        const auto forget = qScopeGuard([this] { m_abortOtherWait = {}; });
        work();
    }
    finishCommand();
    return true;
}

ServerCommandRunner MainWindow::serverCommandRunner() {
    return [this](const std::function<void()> &work, std::function<void()> abortWait) {
        return runServerCommand(work, std::move(abortWait));
    };
}

QString MainWindow::panelText(int panel) const {
    return mainStatusBar->panelText(panel);
}

qsizetype MainWindow::selectedRow() const {
    return messageList->selectedRow();
}

bool MainWindow::stateEnabled(const QAction *command) {
    return command->property(kStateProperty).toBool();
}

void MainWindow::setCommandAvailable(QAction *command, bool available) {
    if (available)
        m_unavailable.remove(command);
    else
        m_unavailable.insert(command);
    applyEnabled(command);
}

void MainWindow::applyEnabled(QObject *command) {
    const bool enabled = command->property(kStateProperty).toBool() &&
                         !m_unavailable.contains(command) &&
                         !(m_noAccounts && m_needsAccount.contains(command));
    if (auto *action = qobject_cast<QAction *>(command))
        action->setEnabled(enabled);
    else if (auto *widget = qobject_cast<QWidget *>(command))
        widget->setEnabled(enabled);
}

void MainWindow::setState(QAction *command, bool enabled) {
    command->setProperty(kStateProperty, enabled);
    applyEnabled(command);
}

void MainWindow::setMenuState(QMenu *menu, bool enabled) {
    setState(menu->menuAction(), enabled);
}

// ---- ScreeningView --------------------------------------------------------------------------

void MainWindow::showBusy(bool busy) {
    if (busy == m_busy)
        return;
    m_busy = busy;
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

void MainWindow::showStatus(const QString &text) {
    mainStatusBar->showActivity(text);
}

void MainWindow::showSelectionStatus(const QString &text) {
    mainStatusBar->showSelection(text);
}

void MainWindow::showFileStatus(const QString &count, const QString &size) {
    mainStatusBar->showFileStatus(count, size);
}

void MainWindow::showServerName(const QString &text) {
    serverPanel->setText(text);
}

void MainWindow::showServer(const QString &accountName, const QString &host) {
    serverPanel->setServer(accountName, host);
}

void MainWindow::setConnectedState(bool connected) {
    setState(disconnectAction, connected);
}

void MainWindow::setControlsEnabled(Controls controls, bool enabled) {
    const auto widget = [&](QToolButton *button) {
        button->setProperty(kStateProperty, enabled);
        applyEnabled(button);
    };
    if (controls & Control::CheckButton)
        widget(checkMailButton);
    if (controls & Control::ProcessButton)
        widget(processButton);
    if (controls & Control::DisconnectButton)
        setState(disconnectAction, enabled);
    if (controls & Control::OptionsButton)
        widget(optionsButton);
    if (controls & Control::AutoModeButton)
        widget(autoModeButton);
    if (controls & Control::MainMenus) {
        setMenuState(programMenu, enabled);
        setMenuState(accountsMenu, enabled);
        setMenuState(emailOptionsMenu, enabled);
    }
    if (controls & Control::ContextMenu) {
        for (QAction *item : messageContextMenu->actions())
            if (!item->isSeparator())
                setState(item, enabled);
    }
}

void MainWindow::rowsChanged() {
    // Rows appended by a command that is still running (a scan) are shown in batches; any
    // other change shows at once, with whatever was waiting.
    if (m_gate.busy() && m_model->onlyAppended()) {
        if (!m_rowSync->isActive())
            m_rowSync->start();
        return;
    }
    m_rowSync->stop();
    showRows();
}

void MainWindow::showRows() {
    m_model->sync();
    updateMarkCount();
    if (!m_gate.busy() && m_model->rowCount() != m_sizedForRows) {
        m_sizedForRows = m_model->rowCount();
        if (m_sizedForRows > 0)
            messageList->sizeColumnsToContents();
    }
}

void MainWindow::updateMarkCount() {
    qsizetype deletion = 0, bouncing = 0;
    for (const HeaderRow &row : m_session->rows()) {
        deletion += row.Mark == RowMark::Delete;
        bouncing += row.Mark == RowMark::Bounce;
    }
    mainStatusBar->showMarks(deletion, bouncing);
}

void MainWindow::stopAutoModeTimers() {
    passTimer->stop();
    countdownTimer->stop();
    countdownLabel->hide();
}

bool MainWindow::askYesNo(const QString &text) {
    return m_prompts.askYesNo(this, text);
}

// ---- commands -------------------------------------------------------------------------------

template <typename Work> void MainWindow::runCommand(Work &&work) {
    {
        const CommandGate::Pass pass(m_gate);
        if (const std::optional<QString> failure = failureOf(std::forward<Work>(work))) {
            showBusy(false);
            // A command ended on purpose (the window closing, a disconnect) reports nothing
            // more.
            if (!m_gate.endingOnPurpose())
                m_prompts.error(this, *failure);
        }
    }
    finishCommand();
}

void MainWindow::finishCommand() {
    m_rowSync->stop();
    showRows();
    // What was asked for while the command ran, in the gate's order, each after the stack has
    // unwound.
    while (const std::optional<CommandGate::Request> next = m_gate.takeNext()) {
        switch (*next) {
        case CommandGate::Request::Close:
            QTimer::singleShot(0, this, [this] { close(); });
            return;
        case CommandGate::Request::Disconnect:
            QTimer::singleShot(0, this, &MainWindow::disconnectFromServer);
            break;
        case CommandGate::Request::Pass:
            QTimer::singleShot(0, this, [this] {
                if (m_session->AutoMode)
                    runAutomaticPass();
            });
            break;
        case CommandGate::Request::AutoToggle:
            QTimer::singleShot(0, this, &MainWindow::toggleAutomaticMode);
            break;
        }
    }
}

void MainWindow::refreshAccounts() {
    QMenu *menus[] = {checkMessagesMenu, checkMailMenu, editAccountMenu, deleteAccountMenu};
    for (QMenu *menu : menus) {
        const QList<QAction *> items = menu->actions();
        for (qsizetype i = items.size() - 1; i >= 0; --i) {
            menu->removeAction(items[i]);
            // The item may be the one whose click is running right now.
            items[i]->deleteLater();
        }
    }
    const auto addItem = [this](QMenu *menu, const QString &caption, int tag,
                                void (MainWindow::*handler)(int)) {
        auto *item = new QAction(menuCaption(caption), menu);
        item->setData(tag);
        if (handler) {
            // The command runs after the menu has closed, outside the menu's own handling.
            connect(item, &QAction::triggered, this, [this, tag, handler] {
                QMetaObject::invokeMethod(
                    this, [this, tag, handler] { (this->*handler)(tag); }, Qt::QueuedConnection);
            });
        } else {
            item->setEnabled(false);
        }
        menu->addAction(item);
    };

    int count = 0;
    guarded(m_prompts, this, [&] {
        if (!m_store || m_store->rowCount() == 0)
            return;
        m_store->first();
        int k = 0;
        while (!m_store->atEnd()) {
            const QString name = m_store->current().AccountName;
            addItem(checkMessagesMenu, name, k, &MainWindow::checkAccount);
            addItem(checkMailMenu, name, k, &MainWindow::checkAccount);
            addItem(editAccountMenu, name, k, &MainWindow::editAccount);
            addItem(deleteAccountMenu, name, k, &MainWindow::deleteAccount);
            m_store->next();
            ++k;
        }
        count = k;
    });
    if (count == 0) {
        for (QMenu *menu : menus)
            if (menu->isEmpty())
                addItem(menu, kNoAccounts, -1, nullptr);
    }
    // Without an account there is nothing to check, mark or process: those commands wait,
    // disabled, and the empty list says where to begin.
    m_noAccounts = count == 0;
    for (QObject *command : std::as_const(m_needsAccount))
        applyEnabled(command);
    firstRunLabel->setVisible(m_noAccounts);
    Q_EMIT accountsRefreshed(count);
}

void MainWindow::checkAccount(int tag) {
    // Like every command that talks to the server, a check waits for the connection to be
    // free: a check started during a processing run would send QUIT on the run's connection.
    if (!m_gate.mayStart())
        return;
    runCommand([&] {
        // The account's address gives the bounce notices of this connection their domain.
        if (m_store) {
            if (const std::optional<Account> account = m_store->tryAccount(tag))
                m_accountEmail = account->EmailAddress;
        }
        try {
            m_session->CheckAccount(tag);
        } catch (const SignInRequiredError &e) {
            // The account's grant is gone: the user may sign in again at once, and the check
            // then runs again. Nothing was deleted.
            const std::optional<Account> account =
                m_store ? m_store->tryAccount(tag) : std::nullopt;
            if (!account ||
                !offerSignInAgain(this, m_prompts, QFileInfo(m_store->filePath()).absolutePath(),
                                  *account, e.message()))
                return;
            m_session->CheckAccount(tag);
        }
        restoreKeptMarks();
    });
}

void MainWindow::disconnectFromServer() {
    if (m_gate.request(CommandGate::Request::Disconnect)) {
        // A command (a check, a processing run, an automatic pass) waits on this very
        // connection: it is ended as if the connection had dropped, so a processing run
        // deletes nothing, and the disconnect follows once it has unwound.
        return;
    }
    runCommand([&] { m_session->DisconnectExecute(); });
}

void MainWindow::editAccount(int tag) {
    runCommand([&] {
        if (!m_store || !m_editAccount)
            return;
        if (m_store->lookup(tag, AccountStore::Walk::StopAtMatch))
            m_editAccount->showCurrent();
    });
}

void MainWindow::deleteAccount(int tag) {
    runCommand([&] {
        if (!m_store)
            return;
        // The account's server, login and settings go with it: asked first, as in the options
        // window.
        const QString name = m_store->account(tag).AccountName;
        if (!m_prompts.askYesNo(this, u"Delete the account \"%1\"?"_s.arg(name)))
            return;
        m_store->removeByTag(tag);
        refreshAccounts();
    });
}

void MainWindow::addAccount() {
    if (!m_addAccount)
        return;
    m_addAccount->show();
    m_addAccount->raise();
    m_addAccount->activateWindow();
}

void MainWindow::quitProgram() {
    close();
}

void MainWindow::quitFromToolBar() {
    close();
}

// The list's commands: the window only passes the click on, through the command gate.

void MainWindow::markForDeletion() {
    runCommand([&] { m_listCommands->markSelected(*m_session, RowMark::Delete); });
}

void MainWindow::markForBouncing() {
    runCommand([&] { m_listCommands->markSelected(*m_session, RowMark::Bounce); });
}

void MainWindow::markAllSpamForDeletion() {
    runCommand([&] { HeaderListCommands::replaceAll(*m_session, RowMark::Spam, RowMark::Delete); });
}

void MainWindow::unmarkAllForDeletion() {
    runCommand([&] { unmarkAll(*m_session, RowMark::Delete); });
}

void MainWindow::markAllSpamForBouncing() {
    runCommand([&] { HeaderListCommands::replaceAll(*m_session, RowMark::Spam, RowMark::Bounce); });
}

void MainWindow::unmarkAllForBouncing() {
    runCommand([&] { unmarkAll(*m_session, RowMark::Bounce); });
}

void MainWindow::addSenderToBlackList() {
    runCommand([&] {
        rememberListLearning(ListKind::EmailBlack, LearnedVerdict::Spam);
        m_listCommands->addSelectedToList(*m_session, HeaderListCommands::ListTarget::EmailBlack);
    });
}

void MainWindow::addSenderToFriendlyList() {
    runCommand([&] {
        rememberListLearning(ListKind::Friendly, LearnedVerdict::Ham);
        m_listCommands->addSelectedToList(*m_session, HeaderListCommands::ListTarget::Friendly);
    });
}

void MainWindow::addSubjectToBlackList() {
    runCommand([&] {
        m_listCommands->addSelectedToList(*m_session, HeaderListCommands::ListTarget::SubjectBlack);
    });
}

void MainWindow::addSubjectToWordPairList() {
    runCommand([&] {
        m_listCommands->addSelectedToList(*m_session, HeaderListCommands::ListTarget::XandY);
    });
}

void MainWindow::toggleDeletionMark() {
    runCommand([&] { m_listCommands->toggleSelected(*m_session); });
}

void MainWindow::learnSelectedAsSpam() {
    runCommand([&] { m_listCommands->learnSelected(*m_session, LearnedVerdict::Spam); });
}

void MainWindow::learnSelectedAsHam() {
    runCommand([&] { m_listCommands->learnSelected(*m_session, LearnedVerdict::Ham); });
}

void MainWindow::keepMarks(const KeptMarks &marked) {
    // Rows still listed keep their marks themselves.
    if (marked.rows.isEmpty() || !m_session->rows().isEmpty())
        return;
    m_kept = marked;
}

void MainWindow::restoreKeptMarks() {
    if (m_kept.rows.isEmpty() || m_kept.host != m_session->CurrentAccount.Host ||
        m_kept.user != m_session->CurrentAccount.Username)
        return;
    // Message numbers change when messages go: the marks follow the messages themselves.
    int restored = 0;
    const QList<HeaderRow> &rows = m_session->rows();
    const QList<MessageIdentity> &identities = m_session->identities();
    for (qsizetype p = 0; p < rows.size() && p < identities.size() && !m_kept.rows.isEmpty(); ++p) {
        for (qsizetype k = 0; k < m_kept.rows.size(); ++k) {
            if (sameMessage(rows.at(p), identities.at(p), m_kept.rows.at(k),
                            m_kept.identities.at(k))) {
                m_session->setMark(p, m_kept.rows.takeAt(k).Mark);
                m_kept.identities.removeAt(k);
                ++restored;
                break;
            }
        }
    }
    m_kept = {};
    if (restored > 0)
        showSelectionStatus(restored == 1 ? u"1 mark of the failed run restored"_s
                                          : u"%1 marks of the failed run restored"_s.arg(restored));
}

void MainWindow::updateSelectionLine() {
    const qsizetype row = selectedRow();
    if (row >= 0)
        showSelectionStatus(selectionLine(row, m_model->rowCount()));
}

// ---- processing and automatic mode ----------------------------------------------------------

void MainWindow::processMarkedMessages() {
    // The connection is in use by the command that waits on the server right now; a second
    // conversation on it would take that command's replies for its own.
    if (!m_gate.mayStart())
        return;
    runCommand([this] {
        if (!m_log)
            throw Error(u"The deletion log is not available, so nothing can be processed."_s);
        const LogRun run(m_logWindow);
        MessageProcessor processor(*m_session, m_settings, *m_log, archiveFolder(), m_hooks);
        processor.setAccountEmail(m_accountEmail);
        KeptMarks marked{
            m_session->CurrentAccount.Host, m_session->CurrentAccount.Username, {}, {}};
        for (qsizetype p = 0; p < m_session->rows().size(); ++p) {
            const HeaderRow &row = m_session->rows().at(p);
            if (row.Mark == RowMark::Delete || row.Mark == RowMark::Bounce) {
                marked.rows << row;
                marked.identities << m_session->identities().value(p);
            }
        }
        ProcessingResult done;
        try {
            done = processor.ProcessMessages();
        } catch (...) {
            keepMarks(marked);
            throw;
        }
        m_kept = {};
        // The deletions took effect; the log waits in its record for the next start.
        if (!done.recordProblem.isEmpty())
            throw FileError(done.recordProblem);
    });
}

void MainWindow::toggleAutomaticMode() {
    if (m_gate.request(CommandGate::Request::AutoToggle)) {
        // A pass (or another command) is waiting on the server: the mode is switched once it
        // has unwound; a pass ends before its next account.
        autoModeButton->setChecked(m_session->AutoMode);
        return;
    }
    runCommand([this] {
        // Nothing marked over an open connection is deleted: RSET, then QUIT.
        m_session->DisconnectExecute();
        if (m_session->AutoMode) {
            m_session->AutoMode = false;
            showServerName(kIdle);
            stopAutoModeTimers();
            setControlsEnabled(kAutoModeLocked, true);
        } else {
            const int minutes = autoInterval(m_settings);
            m_session->AutoMode = true;
            passTimer->setInterval(
                int(qMax<qint64>(1, passTimerIntervalMs(minutes) / qint64(m_speedUp))));
            armAutoMode();
            setControlsEnabled(kAutoModeLocked, false);
        }
    });
    autoModeButton->setChecked(m_session->AutoMode);
    if (m_session->AutoMode != m_autoModeShown) {
        m_autoModeShown = m_session->AutoMode;
        Q_EMIT autoModeChanged(m_autoModeShown);
    }
}

void MainWindow::armAutoMode() {
    const int minutes = autoInterval(m_settings);
    m_countdown.start(minutes);
    countdownLabel->setText(countdownText(m_countdown.secondsToNextCheck()));
    passTimer->start();
    countdownTimer->start();
    countdownLabel->show();
    showServerName(kInAutoMode);
    Q_EMIT countdownChanged(countdownLabel->text());
}

void MainWindow::countdownTick() {
    if (!m_countdown.tick())
        countdownLabel->hide();
    countdownLabel->setText(m_countdown.text());
    Q_EMIT countdownChanged(countdownLabel->text());
}

void MainWindow::rememberPass(const QDateTime &started, const QString &summary) {
    // The newest pass first; a dozen passes say enough about how automatic mode goes.
    m_passHistory.prepend(u"Pass at %1:\n%2"_s.arg(
        QLocale().toString(started.time(), QLocale::ShortFormat), summary));
    while (m_passHistory.size() > 12)
        m_passHistory.removeLast();
    const QString tip = u"Automatic passes, newest first:\n"_s + m_passHistory.join(u'\n');
    countdownLabel->setToolTip(tip);
    mainStatusBar->setPanelToolTip(1, tip);
}

void MainWindow::runAutomaticPass() {
    passTimer->stop();
    countdownTimer->stop();
    countdownLabel->hide();
    if (m_gate.request(CommandGate::Request::Pass))
        return;
    {
        const CommandGate::Pass gatePass(m_gate);
        m_passRunning = true;
        const LogRun run(m_logWindow);
        // The pass deals with each account's failures itself; whatever else goes wrong is
        // shown in the status bar, since no box may wait for an answer in automatic mode.
        QString failure, summary;
        const QDateTime started = QDateTime::currentDateTime();
        QList<AccountPassResult> results;
        try {
            if (!m_log)
                throw Error(u"The deletion log is not available, so nothing can be processed."_s);
            // A list another program wrote meanwhile screens this pass, and is not overwritten
            // with the older copy when the program closes.
            if (m_listReload) {
                const QStringList reloaded = m_listReload();
                if (!reloaded.isEmpty()) {
                    showStatus(reloaded.join(u' '));
                    recolourRows();
                }
            }
            AutomaticPass pass(*m_session, m_store, m_settings, *m_log, archiveFolder(), m_hooks);
            pass.setStopRequested([this] { return m_gate.stopRequested(); });
            results = pass.run();
            failure = passProblems(results);
            summary = passSummary(results);
        } catch (const Error &e) {
            failure = e.message();
        } catch (const std::exception &e) {
            failure = QString::fromLocal8Bit(e.what());
        }
        showBusy(false);
        if (!failure.isEmpty())
            showStatus(failure);
        rememberPass(started, summary.isEmpty() ? u"  "_s + failure : summary);
        m_passRunning = false;
        Q_EMIT passEnded(results);
    }
    if (!m_gate.pending(CommandGate::Request::Close))
        armAutoMode();
    finishCommand();
}

// ---- viewing --------------------------------------------------------------------------------

void MainWindow::viewEmail() {
    if (!m_gate.mayStart())
        return;
    runCommand([this] {
        const qsizetype position = selectedRow();
        if (position < 0 || position >= m_session->rows().size()) {
            m_prompts.error(this, u"You must select an email to view"_s);
            return;
        }
        const HeaderRow row = m_session->rows().at(position);
        const int n = int(position) + 1;
        const QString before = panelText(1);
        m_session->ShowBusy(true);
        m_session->ShowStatus(u"Retrieving message \"%1\""_s.arg(row.Note));
        m_session->FetchMessageForViewing(n);
        showSelectionStatus(row.Note);
        const QString path = tempFilePath();
        m_session->Msg().SaveMessageFile(path);
        openMessageFile(m_opener ? *m_opener : static_cast<FileOpener &>(m_desktopOpener),
                        m_prompts, this, path);
        m_session->ShowStatus(before);
        m_session->ShowBusy(false);
    });
}

void MainWindow::viewHeaders() {
    if (!m_gate.mayStart() || !m_headerWindow)
        return;
    runCommand([this] {
        m_headerWindow->setWindowTitle(HeadersWindow::Caption);
        const qsizetype position = selectedRow();
        if (position < 0 || position >= m_session->rows().size()) {
            m_prompts.error(this, u"You must select an email first"_s);
            return;
        }
        const HeaderRow row = m_session->rows().at(position);
        const int n = int(position) + 1;
        m_session->ShowBusy(true);
        m_headerWindow->headerText->clear();
        m_session->ShowStatus(u"Retrieving headers for \"%1\""_s.arg(row.Size));
        const QList<QByteArray> headerLines = m_session->FetchHeaderLines(n);
        showSelectionStatus(row.Size);
        QStringList lines;
        lines.reserve(headerLines.size());
        for (const QByteArray &line : headerLines)
            lines << decodeLegacyText(line);
        m_headerWindow->headerText->setPlainText(lines.join(u'\n'));
        m_session->ShowBusy(false);
        m_headerWindow->showWindow();
    });
}

void MainWindow::showRulesWindow() {
    if (m_rulesWindow)
        m_rulesWindow->showWindow();
}

void MainWindow::recolourRows() {
    m_session->ReclassifyRows();
}

// ---- closing --------------------------------------------------------------------------------

bool MainWindow::runShutdown() {
    const CommandGate::Pass pass(m_gate);
    bool closing = false;
    guarded(m_prompts, this, [this, &closing] {
        try {
            if (m_shutdown)
                m_shutdown();
            closing = true;
        } catch (const Error &e) {
            // A folder that cannot be written (read-only, full) must not keep the window from
            // ever closing: say what was not saved and let the user choose. When the system
            // ends the program nobody can answer, so it is said where a log will keep it.
            if (m_systemQuit) {
                std::fprintf(stderr, "corvane: %s\n", e.what());
                closing = true;
                return;
            }
            closing = m_prompts.askYesNo(
                this, u"Some of your data could not be saved:\n\n%1\n\nClose without saving "
                      u"it? Choose No to keep the window open, free some space or make the "
                      u"folder writable, and close again."_s.arg(e.message()));
        }
    });
    return closing;
}

void MainWindow::closeForSystem() {
    // Kept for the close that follows a command still unwinding.
    m_systemQuit = true;
    close();
}

void MainWindow::closeEvent(QCloseEvent *event) {
    if (m_shutDown) {
        event->accept();
        return;
    }
    if (m_gate.request(CommandGate::Request::Close)) {
        // A command is waiting on the server, inside this very call stack. It is ended as if
        // the connection had dropped, and the window closes once it has unwound.
        event->ignore();
        return;
    }
    if (!m_systemQuit && !mainStatusBar->marksText().isEmpty() &&
        !m_prompts.askYesNo(this, u"Some messages are marked (%1). Closing drops these marks: "
                                  u"nothing is deleted from the server. Close anyway?"_s.arg(
                                      mainStatusBar->marksText()))) {
        event->ignore();
        return;
    }
    const bool done = runShutdown();
    m_gate.drop(CommandGate::Request::Close);
    if (!done) {
        event->ignore();
        return;
    }
    m_shutDown = true;
    saveWindowState();
    event->accept();
}

QString MainWindow::windowStatePath() const {
    return m_dataPath.isEmpty() ? QString()
                                : DataDirectory(m_dataPath).filePath(u"mainwindow.state"_s);
}

void MainWindow::saveWindowState() const {
    const QString path = windowStatePath();
    if (path.isEmpty())
        return;
    MainWindowState state;
    state.maximized = isMaximized();
    state.geometry = state.maximized ? normalGeometry() : geometry();
    state.columns = messageList->columnWidths();
    // Only where the window opens next time depends on it: a failure is not worth a word.
    (void)state.save(path);
}

QRect MainWindow::screenArea() const {
    if (m_screenArea)
        return m_screenArea();
    QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

void MainWindow::placeWindow() {
    const MainWindowState state = MainWindowState::load(windowStatePath());
    if (!state.columns.isEmpty())
        messageList->restoreColumnWidths(state.columns);
    // The frame is not known before the window is first shown: a usual title bar and border.
    QMargins frame(geometry().left() - frameGeometry().left(),
                   geometry().top() - frameGeometry().top(),
                   frameGeometry().right() - geometry().right(),
                   frameGeometry().bottom() - geometry().bottom());
    if (frame.isNull())
        frame = QMargins(4, 30, 4, 4);
    const QRect area = screenArea();
    QRect wanted = state.geometry;
    if (wanted.isEmpty()) {
        // The default size, centred on the screen.
        wanted = QRect(QPoint(), size());
        wanted.moveCenter(area.isEmpty() ? geometry().center() : area.center());
    }
    setGeometry(fitIntoArea(wanted, area, frame));
    if (state.maximized)
        setWindowState(windowState() | Qt::WindowMaximized);
}

void MainWindow::showEvent(QShowEvent *event) {
    if (!m_placed) {
        m_placed = true;
        placeWindow();
    }
    QMainWindow::showEvent(event);
}

} // namespace corvane
