#include "ui/screening/tfrmmain.h"

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
    setObjectName(u"pnlServerName"_s);
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setMinimumWidth(200);
    m_text = u"Idle..."_s;
    m_caption = new QLabel(m_text, this);
    m_caption->setObjectName(u"pnlServerNameCaption"_s);
    m_caption->setAlignment(Qt::AlignCenter);
    QFont bold = m_caption->font();
    bold.setBold(true);
    m_caption->setFont(bold);
    Label1 = new QLabel(this);
    Label1->setObjectName(u"Label1"_s);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->hide();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 4, 10, 4);
    layout->setSpacing(2);
    layout->addStretch();
    layout->addWidget(m_caption);
    layout->addWidget(Label1);
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

const QString TfrmMain::Caption =
    u"Corvane v"_s + QStringLiteral(CORVANE_VERSION) + u" - Protecting you from spam!"_s;

TfrmMain::TfrmMain(Prompts &prompts, Transport &transport, RuleLists &lists, Settings &settings,
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
    setObjectName(u"TfrmMain"_s);
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
    connect(m_rowSync, &QTimer::timeout, this, &TfrmMain::showRows);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(u"Timer1"_s);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(u"Timer2"_s);
    Timer2->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &TfrmMain::Timer1Timer);
    connect(Timer2, &QTimer::timeout, this, &TfrmMain::Timer2Timer);

    // Commands whose windows are not part of the program yet.
    for (QObject *pending :
         std::initializer_list<QObject *>{Options1, Checkforupdates1, Help2, Contactsupport1,
                                          VistWebsite1, About1, AboutQt1, ToolButton3}) {
        m_unavailable.insert(pending);
        if (auto *action = qobject_cast<QAction *>(pending))
            action->setEnabled(false);
        else if (auto *widget = qobject_cast<QWidget *>(pending))
            widget->setEnabled(false);
    }

    // Until the shell hands over the archive window.
    setCommandAvailable(SavedEmails1, false);
    // Commands that have nothing to work on before the user has an account.
    for (QObject *command :
         std::initializer_list<QObject *>{ProcessMessages1, ToolButton1, ToolButton7, Disconnect,
                                          EmailOptions1->menuAction(), MarkEmail1->menuAction()})
        m_needsAccount.insert(command);
    for (QAction *item : PopupMenu1->actions())
        if (!item->isSeparator())
            m_needsAccount.insert(item);

    resize(900, 560);
    RefreshAccounts();
}

TfrmMain::~TfrmMain() {
    // The session's rows go before the list does: the list must not read them on its way out.
    m_rowSync->stop();
    m_model->setRows(nullptr);
    if (m_busy)
        QGuiApplication::restoreOverrideCursor();
}

void TfrmMain::createActions() {
    // Every command of the menus and the list's context menu: the member (its name is the
    // objectName the tests find), the caption, the picture, and the handler. Commands that
    // wait on the server run after the menu has closed, outside its handling (queued).
    using Handler = void (TfrmMain::*)();
    struct Command {
        QAction *TfrmMain::*member;
        QString name;
        QString text;
        std::optional<ToolIcon> tool;
        std::optional<RowMark> mark;
        Handler handler;
        bool queued;
    };
    const Command commands[] = {
        // Program
        {&TfrmMain::ProcessMessages1,
         u"ProcessMessages1"_s,
         u"Process Messages"_s,
         ToolIcon::Process,
         {},
         &TfrmMain::ProcessMessages1Click,
         true},
        {&TfrmMain::RulesandLists1,
         u"RulesandLists1"_s,
         u"Rules and Lists"_s,
         {},
         {},
         &TfrmMain::RulesandLists1Click,
         false},
        {&TfrmMain::Options1,
         u"Options1"_s,
         u"Options / settings"_s,
         ToolIcon::Options,
         {},
         &TfrmMain::Options1Click,
         false},
        {&TfrmMain::SavedEmails1,
         u"SavedEmails1"_s,
         u"Saved Emails"_s,
         ToolIcon::ViewSaved,
         {},
         &TfrmMain::SavedEmails1Click,
         false},
        {&TfrmMain::Checkforupdates1,
         u"Checkforupdates1"_s,
         u"Check for updates"_s,
         {},
         {},
         &TfrmMain::Checkforupdates1Click,
         false},
        {&TfrmMain::Quit1,
         u"Quit1"_s,
         u"Close program"_s,
         ToolIcon::Quit,
         {},
         &TfrmMain::Quit1Click,
         false},
        // Accounts
        {&TfrmMain::Add1, u"Add1"_s, u"Add Account"_s, {}, {}, &TfrmMain::Add1Click, false},
        // Email Options
        {&TfrmMain::Addemailtoblacklist1,
         u"Addemailtoblacklist1"_s,
         u"Add email to black list"_s,
         {},
         {},
         &TfrmMain::Addemailtoblacklist1Click,
         false},
        {&TfrmMain::Addemailtofriendlylist1,
         u"Addemailtofriendlylist1"_s,
         u"Add email to friendly list"_s,
         {},
         {},
         &TfrmMain::Addemailtofriendlylist1Click,
         false},
        {&TfrmMain::Addsubjecttoblacklist1,
         u"Addsubjecttoblacklist1"_s,
         u"Add subject to black list"_s,
         {},
         {},
         &TfrmMain::Addsubjecttoblacklist1Click,
         false},
        {&TfrmMain::Addsubjecttoxyblacklist1,
         u"Addsubjecttoxyblacklist1"_s,
         u"Add subject to x y black list"_s,
         {},
         {},
         &TfrmMain::Addsubjecttoxyblacklist1Click,
         false},
        {&TfrmMain::ViewEmail1,
         u"ViewEmail1"_s,
         u"View complete email"_s,
         {},
         {},
         &TfrmMain::ViewEmail1Click,
         true},
        {&TfrmMain::Viewheaders1,
         u"Viewheaders1"_s,
         u"View all headers"_s,
         {},
         {},
         &TfrmMain::Viewheaders1Click,
         true},
        // Mark Email
        {&TfrmMain::Markfordeletion1,
         u"Markfordeletion1"_s,
         u"Mark for deletion"_s,
         {},
         RowMark::Delete,
         &TfrmMain::Markfordeletion1Click,
         false},
        {&TfrmMain::Markforbouncing1,
         u"Markforbouncing1"_s,
         u"Mark for bouncing"_s,
         {},
         RowMark::Bounce,
         &TfrmMain::Markforbouncing1Click,
         false},
        {&TfrmMain::Markallspamfordeletion1,
         u"Markallspamfordeletion1"_s,
         u"Mark all spam for deletion"_s,
         {},
         {},
         &TfrmMain::Markallspamfordeletion1Click,
         false},
        {&TfrmMain::Unmarkallfordeletion1,
         u"Unmarkallfordeletion1"_s,
         u"Unmark all for deletion"_s,
         {},
         {},
         &TfrmMain::Unmarkallfordeletion1Click,
         false},
        {&TfrmMain::Markallspamforbouncing1,
         u"Markallspamforbouncing1"_s,
         u"Mark all spam for bouncing"_s,
         {},
         {},
         &TfrmMain::Markallspamforbouncing1Click,
         false},
        {&TfrmMain::Unmarkallforbouncing1,
         u"Unmarkallforbouncing1"_s,
         u"Unmark all for bouncing"_s,
         {},
         {},
         &TfrmMain::Unmarkallforbouncing1Click,
         false},
        {&TfrmMain::markAsSpamAction,
         u"markAsSpamAction"_s,
         u"This is spam"_s,
         {},
         {},
         &TfrmMain::learnSelectedAsSpam,
         false},
        {&TfrmMain::markAsNotSpamAction,
         u"markAsNotSpamAction"_s,
         u"This is not spam"_s,
         {},
         {},
         &TfrmMain::learnSelectedAsHam,
         false},
        // Help
        {&TfrmMain::Help2, u"Help2"_s, u"Help"_s, {}, {}, nullptr, false},
        {&TfrmMain::Contactsupport1,
         u"Contactsupport1"_s,
         u"Contact support"_s,
         {},
         {},
         nullptr,
         false},
        {&TfrmMain::VistWebsite1, u"VistWebsite1"_s, u"Visit Website"_s, {}, {}, nullptr, false},
        {&TfrmMain::About1, u"About1"_s, u"About Corvane"_s, {}, {}, nullptr, false},
        {&TfrmMain::AboutQt1, u"AboutQt1"_s, u"About Qt"_s, {}, {}, nullptr, false},
        // The list's context menu
        {&TfrmMain::ViewMessage1,
         u"ViewMessage1"_s,
         u"View Message"_s,
         {},
         {},
         &TfrmMain::ViewEmail1Click,
         true},
        {&TfrmMain::VewHeaders1,
         u"VewHeaders1"_s,
         u"Vew Headers"_s,
         {},
         {},
         &TfrmMain::Viewheaders1Click,
         true},
        {&TfrmMain::Markthisemailfordeletion1,
         u"Markthisemailfordeletion1"_s,
         u"Mark this email for deletion"_s,
         {},
         RowMark::Delete,
         &TfrmMain::Markfordeletion1Click,
         false},
        {&TfrmMain::Markthisemailforbouncing1,
         u"Markthisemailforbouncing1"_s,
         u"Mark this email for bouncing"_s,
         {},
         RowMark::Bounce,
         &TfrmMain::Markforbouncing1Click,
         false},
        {&TfrmMain::Addemailtoblacklist2,
         u"Addemailtoblacklist2"_s,
         u"Add email to black list"_s,
         {},
         {},
         &TfrmMain::Addemailtoblacklist1Click,
         false},
        {&TfrmMain::Addsubjecttoblacklist2,
         u"Addsubjecttoblacklist2"_s,
         u"Add subject to black list"_s,
         {},
         {},
         &TfrmMain::Addsubjecttoblacklist1Click,
         false},
        {&TfrmMain::markAsSpamContextAction,
         u"markAsSpamContextAction"_s,
         u"This is spam"_s,
         {},
         {},
         &TfrmMain::learnSelectedAsSpam,
         false},
        {&TfrmMain::markAsNotSpamContextAction,
         u"markAsNotSpamContextAction"_s,
         u"This is not spam"_s,
         {},
         {},
         &TfrmMain::learnSelectedAsHam,
         false},
        // The tool bar's Disconnect button
        {&TfrmMain::Disconnect,
         u"Disconnect"_s,
         u"Disconnect from server without purging"_s,
         ToolIcon::Disconnect,
         {},
         &TfrmMain::DisconnectExecute,
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
    Disconnect->setIconText(u"Disconnect"_s);
    Disconnect->setToolTip(u"Disconnect from server"_s);

    // The access keys and shortcuts of the common commands. Delete marks the selected row
    // from anywhere in the window; Space and Enter belong to the list.
    const struct {
        QAction *action;
        QString text;
        QKeySequence keys;
    } keys[] = {
        // Processing deletes mail: no shortcut of its own (Ctrl+P prints everywhere else), only
        // the menu with its access key and the tool bar.
        {ProcessMessages1, u"&Process Messages"_s, {}},
        {RulesandLists1, u"&Rules and Lists"_s, QKeySequence(Qt::CTRL | Qt::Key_L)},
        {Options1, u"&Options / settings"_s, {}},
        {Checkforupdates1, u"Check for &updates"_s, {}},
        {Quit1, u"&Close program"_s, QKeySequence(Qt::CTRL | Qt::Key_Q)},
        {Add1, u"&Add Account"_s, {}},
        {Addemailtoblacklist1, u"Add email to &black list"_s, {}},
        {Addemailtofriendlylist1, u"Add email to &friendly list"_s, {}},
        {Addsubjecttoblacklist1, u"Add &subject to black list"_s, {}},
        {Addsubjecttoxyblacklist1, u"Add subject to &x y black list"_s, {}},
        {ViewEmail1, u"View complete &email"_s, QKeySequence(Qt::CTRL | Qt::Key_E)},
        {Viewheaders1, u"View all &headers"_s, QKeySequence(Qt::CTRL | Qt::Key_H)},
        {Markfordeletion1, u"Mark for &deletion"_s, QKeySequence(Qt::Key_Delete)},
        {Markforbouncing1, u"Mark for &bouncing"_s, QKeySequence(Qt::CTRL | Qt::Key_B)},
        {Markallspamfordeletion1, u"Mark all spam for d&eletion"_s, {}},
        {Unmarkallfordeletion1, u"&Unmark all for deletion"_s, {}},
        {Markallspamforbouncing1, u"Mark all spam for b&ouncing"_s, {}},
        {Unmarkallforbouncing1, u"U&nmark all for bouncing"_s, {}},
        {markAsSpamAction, u"This is &spam"_s, QKeySequence(Qt::CTRL | Qt::Key_J)},
        {markAsNotSpamAction, u"This is &not spam"_s,
         QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_J)},
        {Disconnect, Disconnect->text(), QKeySequence(Qt::CTRL | Qt::Key_D)},
    };
    for (const auto &k : keys) {
        k.action->setText(k.text);
        if (!k.keys.isEmpty()) {
            k.action->setShortcut(k.keys);
            addAction(k.action);
        }
    }
}

void TfrmMain::createMenus() {
    QMenuBar *bar = menuBar();
    const auto menu = [](QWidget *parent, const QString &name, const QString &title) {
        auto *m = new QMenu(title, parent);
        m->setObjectName(name);
        m->menuAction()->setObjectName(name + u"Item"_s);
        m->menuAction()->setProperty(kStateProperty, true);
        return m;
    };

    Program1 = menu(bar, u"Program1"_s, u"&Program"_s);
    CheckedMessages1 = menu(Program1, u"CheckedMessages1"_s, u"&Check Messages"_s);
    CheckedMessages1->setIcon(toolIcon(ToolIcon::Check));
    Program1->addMenu(CheckedMessages1);
    Program1->addAction(ProcessMessages1);
    Program1->addSeparator();
    Program1->addAction(RulesandLists1);
    Program1->addAction(Options1);
    Program1->addAction(SavedEmails1);
    Program1->addAction(Checkforupdates1);
    Program1->addSeparator();
    Program1->addAction(Quit1);
    bar->addMenu(Program1);

    Accounts1 = menu(bar, u"Accounts1"_s, u"&Accounts"_s);
    Accounts1->addAction(Add1);
    EditAccount1 = menu(Accounts1, u"EditAccount1"_s, u"Edit Account"_s);
    Accounts1->addMenu(EditAccount1);
    DeleteAccount1 = menu(Accounts1, u"DeleteAccount1"_s, u"Delete Account   "_s);
    Accounts1->addMenu(DeleteAccount1);
    bar->addMenu(Accounts1);

    EmailOptions1 = menu(bar, u"EmailOptions1"_s, u"&Email Options"_s);
    EmailOptions1->addAction(Addemailtoblacklist1);
    EmailOptions1->addAction(Addemailtofriendlylist1);
    EmailOptions1->addAction(Addsubjecttoblacklist1);
    EmailOptions1->addAction(Addsubjecttoxyblacklist1);
    EmailOptions1->addSeparator();
    EmailOptions1->addAction(ViewEmail1);
    EmailOptions1->addAction(Viewheaders1);
    bar->addMenu(EmailOptions1);

    MarkEmail1 = menu(bar, u"MarkEmail1"_s, u"&Mark Email"_s);
    MarkEmail1->addAction(Markfordeletion1);
    MarkEmail1->addAction(Markforbouncing1);
    MarkEmail1->addSeparator();
    MarkEmail1->addAction(Markallspamfordeletion1);
    MarkEmail1->addAction(Unmarkallfordeletion1);
    MarkEmail1->addSeparator();
    MarkEmail1->addAction(Markallspamforbouncing1);
    MarkEmail1->addAction(Unmarkallforbouncing1);
    MarkEmail1->addSeparator();
    MarkEmail1->addAction(markAsSpamAction);
    MarkEmail1->addAction(markAsNotSpamAction);
    bar->addMenu(MarkEmail1);

    Help1 = menu(bar, u"Help1"_s, u"&Help"_s);
    Help1->addAction(Help2);
    Help1->addAction(Contactsupport1);
    Help1->addSeparator();
    Help1->addAction(VistWebsite1);
    Help1->addSeparator();
    Help1->addAction(About1);
    Help1->addAction(AboutQt1);
    bar->addMenu(Help1);

    PopupMenu1 = menu(this, u"PopupMenu1"_s, QString());
    PopupMenu1->addAction(ViewMessage1);
    PopupMenu1->addAction(VewHeaders1);
    PopupMenu1->addSeparator();
    PopupMenu1->addAction(Markthisemailfordeletion1);
    PopupMenu1->addAction(Markthisemailforbouncing1);
    PopupMenu1->addSeparator();
    PopupMenu1->addAction(markAsSpamContextAction);
    PopupMenu1->addAction(markAsNotSpamContextAction);
    PopupMenu1->addSeparator();
    PopupMenu1->addAction(Addemailtoblacklist2);
    PopupMenu1->addAction(Addsubjecttoblacklist2);

    acctdrop = menu(this, u"acctdrop"_s, QString());
}

void TfrmMain::createToolBar() {
    ToolBar1 = new QToolBar(u"Commands"_s, this);
    ToolBar1->setObjectName(u"ToolBar1"_s);
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ToolBar1->setIconSize(QSize(24, 24));
    ToolBar1->toggleViewAction()->setEnabled(false);
    addToolBar(Qt::TopToolBarArea, ToolBar1);

    const auto button = [this](const QString &name, const QString &caption, const QString &hint,
                               ToolIcon icon) {
        auto *b = new QToolButton(ToolBar1);
        b->setObjectName(name);
        b->setText(caption);
        b->setToolTip(hint);
        b->setIcon(toolIcon(icon));
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setAutoRaise(true);
        b->setProperty(kStateProperty, true);
        return b;
    };
    ToolButton14 =
        button(u"ToolButton14"_s, u"Check Mail"_s, u"Check messages on account"_s, ToolIcon::Check);
    ToolButton14->setMenu(acctdrop);
    ToolButton14->setPopupMode(QToolButton::InstantPopup);
    ToolButton1 =
        button(u"ToolButton1"_s, u"Process"_s, u"Process Current messages"_s, ToolIcon::Process);
    ToolButton2 = new QToolButton(ToolBar1);
    ToolButton2->setObjectName(u"ToolButton2"_s);
    ToolButton2->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ToolButton2->setAutoRaise(true);
    ToolButton2->setDefaultAction(Disconnect);
    ToolButton3 =
        button(u"ToolButton3"_s, u"Options"_s, u"Options of the program"_s, ToolIcon::Options);
    ToolButton7 =
        button(u"ToolButton7"_s, u"Auto Mode"_s, u"Switch into auto mode"_s, ToolIcon::AutoMode);
    ToolButton7->setCheckable(true);
    connect(ToolButton1, &QToolButton::clicked, this, &TfrmMain::ProcessMessages1Click);
    connect(ToolButton7, &QToolButton::clicked, this, &TfrmMain::ToolButton7Click);
    ToolButton5 = button(u"ToolButton5"_s, u"Quit"_s, u"Quit program"_s, ToolIcon::Quit);
    connect(ToolButton5, &QToolButton::clicked, this, &TfrmMain::ToolButton5Click);
    connect(ToolButton3, &QToolButton::clicked, this, &TfrmMain::ToolButton3Click);

    ToolBar1->addWidget(ToolButton14);
    ToolBar1->addWidget(ToolButton1);
    ToolBar1->addWidget(ToolButton2);
    ToolBar1->addSeparator();
    ToolBar1->addWidget(ToolButton3);
    ToolBar1->addWidget(ToolButton7);
    ToolBar1->addSeparator();
    ToolBar1->addWidget(ToolButton5);
    auto *spacer = new QWidget(ToolBar1);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    ToolBar1->addWidget(spacer);
    pnlServerName = new ServerNamePanel(ToolBar1);
    Label1 = pnlServerName->Label1;
    ToolBar1->addWidget(pnlServerName);
}

void TfrmMain::createList() {
    lvHeaders = new HeaderListView(m_model, PopupMenu1, this);
    lblFirstRun = new QLabel(u"Add an account to begin: Accounts > Add Account"_s);
    lblFirstRun->setObjectName(u"lblFirstRun"_s);
    lblFirstRun->setAlignment(Qt::AlignCenter);
    lblFirstRun->setWordWrap(true);
    lblFirstRun->setAttribute(Qt::WA_TransparentForMouseEvents);
    lblFirstRun->setForegroundRole(QPalette::PlaceholderText);
    {
        QFont larger = lblFirstRun->font();
        larger.setPointSizeF(larger.pointSizeF() * 1.2);
        lblFirstRun->setFont(larger);
        auto *overlay = new QVBoxLayout(lvHeaders->viewport());
        overlay->addWidget(lblFirstRun);
    }
    lblFirstRun->hide();
    m_listCommands = std::make_unique<HeaderListCommands>(this, *lvHeaders, m_prompts);
    connect(lvHeaders, &HeaderListView::selectionTouched, this, &TfrmMain::updateSelectionLine);
    connect(lvHeaders, &HeaderListView::toggleMarkRequested, this, &TfrmMain::ToggleMarkClick);
    // Like the menu item, the headers are fetched once the key or click has been handled.
    connect(lvHeaders, &HeaderListView::headersRequested, this, &TfrmMain::Viewheaders1Click,
            Qt::QueuedConnection);
    setCentralWidget(lvHeaders);
    applyListColour();
}

void TfrmMain::createStatusBar() {
    StatusBar1 = new MainStatusBar(this);
    setStatusBar(StatusBar1);
}

void TfrmMain::FormCreate(const DataDirectory &directory) {
    m_dataPath = directory.path();
    m_session->MessageCount = 0;
    m_session->MailboxSizeK = 0;
    showBusy(false);
    m_session->AutoMode = false;
    directory.folder(u"archive"_s);
}

void TfrmMain::setAccountStore(AccountStore *store) {
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

void TfrmMain::setLearning(LearningStore *store) {
    m_learning = store;
    m_session->setLearning(store);
}

void TfrmMain::setAccountDialogs(AddAccountDialog *add, EditAccountDialog *edit) {
    m_addAccount = add;
    m_editAccount = edit;
}

void TfrmMain::setListDialogs(ListEntryDialog *entry, WordPairDialog *xandy) {
    m_listCommands->setListDialogs(entry, xandy);
    if (entry) {
        connect(entry, &ListEntryDialog::listChanged, this, &TfrmMain::learnListedSender);
        // A dialog closed without adding learns nothing.
        connect(entry, &QDialog::finished, this, [this] { m_listLearning.reset(); });
    }
}

void TfrmMain::rememberListLearning(ListKind list, LearnedVerdict verdict) {
    m_listLearning.reset();
    const qsizetype row = selectedRow();
    if (row < 0 || !m_session->learningActive())
        return;
    if (std::optional<LearningSample> sample = m_session->learningSample(row))
        m_listLearning = PendingListLearning{list, verdict, std::move(*sample)};
}

void TfrmMain::learnListedSender(ListKind changed) {
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

void TfrmMain::setRulesWindow(RulesWindow *rules) {
    m_rulesWindow = rules;
}

void TfrmMain::setRecords(DeletionLog *log, DeletionLogWindow *logWindow,
                          HeadersWindow *headerWindow) {
    m_log = log;
    m_logWindow = logWindow;
    m_headerWindow = headerWindow;
}

void TfrmMain::setAutoModeTiming(AutoModeTiming timing) {
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
    Timer2->setInterval(qMax(1, 1000 / m_speedUp));
}

QString TfrmMain::tempFilePath() const {
    return DataDirectory(m_dataPath).filePath(u"temp.eml"_s);
}

QString TfrmMain::archiveFolder() const {
    return DataDirectory(m_dataPath).filePath(u"archive"_s);
}

void TfrmMain::applyListColour() {
    lvHeaders->setListColour(colourFromSetting(m_settings.colormailwin));
}

void TfrmMain::setOptionsWindow(QWidget *options) {
    m_options = options;
    setCommandAvailable(Options1, options != nullptr);
    if (options)
        m_unavailable.remove(ToolButton3);
    else
        m_unavailable.insert(ToolButton3);
    applyEnabled(ToolButton3);
}

void TfrmMain::Options1Click() {
    if (!m_options)
        return;
    m_options->show();
    m_options->raise();
    m_options->activateWindow();
}

void TfrmMain::setArchiveWindow(QWidget *archive) {
    m_archive = archive;
    setCommandAvailable(SavedEmails1, archive != nullptr);
}

void TfrmMain::SavedEmails1Click() {
    if (!m_archive)
        return;
    m_archive->show();
    m_archive->raise();
    m_archive->activateWindow();
}

void TfrmMain::ToolButton3Click() {
    Options1Click();
}

void TfrmMain::setUpdateWindow(ListUpdateWindow *update) {
    m_updateWindow = update;
    setCommandAvailable(Checkforupdates1, update != nullptr);
}

void TfrmMain::Checkforupdates1Click() {
    if (m_updateWindow)
        m_updateWindow->showWindow();
}

bool TfrmMain::runServerCommand(const std::function<void()> &work,
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

ServerCommandRunner TfrmMain::serverCommandRunner() {
    return [this](const std::function<void()> &work, std::function<void()> abortWait) {
        return runServerCommand(work, std::move(abortWait));
    };
}

QString TfrmMain::panelText(int panel) const {
    return StatusBar1->panelText(panel);
}

qsizetype TfrmMain::selectedRow() const {
    return lvHeaders->selectedRow();
}

bool TfrmMain::stateEnabled(const QAction *command) {
    return command->property(kStateProperty).toBool();
}

void TfrmMain::setCommandAvailable(QAction *command, bool available) {
    if (available)
        m_unavailable.remove(command);
    else
        m_unavailable.insert(command);
    applyEnabled(command);
}

void TfrmMain::applyEnabled(QObject *command) {
    const bool enabled = command->property(kStateProperty).toBool() &&
                         !m_unavailable.contains(command) &&
                         !(m_noAccounts && m_needsAccount.contains(command));
    if (auto *action = qobject_cast<QAction *>(command))
        action->setEnabled(enabled);
    else if (auto *widget = qobject_cast<QWidget *>(command))
        widget->setEnabled(enabled);
}

void TfrmMain::setState(QAction *command, bool enabled) {
    command->setProperty(kStateProperty, enabled);
    applyEnabled(command);
}

void TfrmMain::setMenuState(QMenu *menu, bool enabled) {
    setState(menu->menuAction(), enabled);
}

// ---- ScreeningView --------------------------------------------------------------------------

void TfrmMain::showBusy(bool busy) {
    if (busy == m_busy)
        return;
    m_busy = busy;
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

void TfrmMain::showStatus(const QString &text) {
    StatusBar1->showActivity(text);
}

void TfrmMain::showSelectionStatus(const QString &text) {
    StatusBar1->showSelection(text);
}

void TfrmMain::showFileStatus(const QString &count, const QString &size) {
    StatusBar1->showFileStatus(count, size);
}

void TfrmMain::showServerName(const QString &text) {
    pnlServerName->setText(text);
}

void TfrmMain::showServer(const QString &accountName, const QString &host) {
    pnlServerName->setServer(accountName, host);
}

void TfrmMain::setConnectedState(bool connected) {
    setState(Disconnect, connected);
}

void TfrmMain::setControlsEnabled(Controls controls, bool enabled) {
    const auto widget = [&](QToolButton *button) {
        button->setProperty(kStateProperty, enabled);
        applyEnabled(button);
    };
    if (controls & Control::CheckButton)
        widget(ToolButton14);
    if (controls & Control::ProcessButton)
        widget(ToolButton1);
    if (controls & Control::DisconnectButton)
        setState(Disconnect, enabled);
    if (controls & Control::OptionsButton)
        widget(ToolButton3);
    if (controls & Control::AutoModeButton)
        widget(ToolButton7);
    if (controls & Control::MainMenus) {
        setMenuState(Program1, enabled);
        setMenuState(Accounts1, enabled);
        setMenuState(EmailOptions1, enabled);
    }
    if (controls & Control::ContextMenu) {
        for (QAction *item : PopupMenu1->actions())
            if (!item->isSeparator())
                setState(item, enabled);
    }
}

void TfrmMain::rowsChanged() {
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

void TfrmMain::showRows() {
    m_model->sync();
    updateMarkCount();
    if (!m_gate.busy() && m_model->rowCount() != m_sizedForRows) {
        m_sizedForRows = m_model->rowCount();
        if (m_sizedForRows > 0)
            lvHeaders->sizeColumnsToContents();
    }
}

void TfrmMain::updateMarkCount() {
    qsizetype deletion = 0, bouncing = 0;
    for (const HeaderRow &row : m_session->rows()) {
        deletion += row.Mark == RowMark::Delete;
        bouncing += row.Mark == RowMark::Bounce;
    }
    StatusBar1->showMarks(deletion, bouncing);
}

void TfrmMain::stopAutoModeTimers() {
    Timer1->stop();
    Timer2->stop();
    Label1->hide();
}

bool TfrmMain::askYesNo(const QString &text) {
    return m_prompts.askYesNo(this, text);
}

// ---- commands -------------------------------------------------------------------------------

template <typename Work> void TfrmMain::runCommand(Work &&work) {
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

void TfrmMain::finishCommand() {
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
            QTimer::singleShot(0, this, &TfrmMain::DisconnectExecute);
            break;
        case CommandGate::Request::Pass:
            QTimer::singleShot(0, this, [this] {
                if (m_session->AutoMode)
                    Timer1Timer();
            });
            break;
        case CommandGate::Request::AutoToggle:
            QTimer::singleShot(0, this, &TfrmMain::ToolButton7Click);
            break;
        }
    }
}

void TfrmMain::RefreshAccounts() {
    QMenu *menus[] = {CheckedMessages1, acctdrop, EditAccount1, DeleteAccount1};
    for (QMenu *menu : menus) {
        const QList<QAction *> items = menu->actions();
        for (qsizetype i = items.size() - 1; i >= 0; --i) {
            menu->removeAction(items[i]);
            // The item may be the one whose click is running right now.
            items[i]->deleteLater();
        }
    }
    const auto addItem = [this](QMenu *menu, const QString &caption, int tag,
                                void (TfrmMain::*handler)(int)) {
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
            addItem(CheckedMessages1, name, k, &TfrmMain::CheckAccount);
            addItem(acctdrop, name, k, &TfrmMain::CheckAccount);
            addItem(EditAccount1, name, k, &TfrmMain::EditAccountItemClick);
            addItem(DeleteAccount1, name, k, &TfrmMain::DeleteAccountItemClick);
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
    lblFirstRun->setVisible(m_noAccounts);
    Q_EMIT accountsRefreshed(count);
}

void TfrmMain::CheckAccount(int tag) {
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

void TfrmMain::DisconnectExecute() {
    if (m_gate.request(CommandGate::Request::Disconnect)) {
        // A command (a check, a processing run, an automatic pass) waits on this very
        // connection: it is ended as if the connection had dropped, so a processing run
        // deletes nothing, and the disconnect follows once it has unwound.
        return;
    }
    runCommand([&] { m_session->DisconnectExecute(); });
}

void TfrmMain::EditAccountItemClick(int tag) {
    runCommand([&] {
        if (!m_store || !m_editAccount)
            return;
        if (m_store->lookup(tag, AccountStore::Walk::StopAtMatch))
            m_editAccount->showCurrent();
    });
}

void TfrmMain::DeleteAccountItemClick(int tag) {
    runCommand([&] {
        if (!m_store)
            return;
        // The account's server, login and settings go with it: asked first, as in the options
        // window.
        const QString name = m_store->account(tag).AccountName;
        if (!m_prompts.askYesNo(this, u"Delete the account \"%1\"?"_s.arg(name)))
            return;
        m_store->removeByTag(tag);
        RefreshAccounts();
    });
}

void TfrmMain::Add1Click() {
    if (!m_addAccount)
        return;
    m_addAccount->show();
    m_addAccount->raise();
    m_addAccount->activateWindow();
}

void TfrmMain::Quit1Click() {
    close();
}

void TfrmMain::ToolButton5Click() {
    close();
}

// The list's commands: the window only passes the click on, through the command gate.

void TfrmMain::Markfordeletion1Click() {
    runCommand([&] { m_listCommands->markSelected(*m_session, RowMark::Delete); });
}

void TfrmMain::Markforbouncing1Click() {
    runCommand([&] { m_listCommands->markSelected(*m_session, RowMark::Bounce); });
}

void TfrmMain::Markallspamfordeletion1Click() {
    runCommand([&] { HeaderListCommands::replaceAll(*m_session, RowMark::Spam, RowMark::Delete); });
}

void TfrmMain::Unmarkallfordeletion1Click() {
    runCommand([&] { unmarkAll(*m_session, RowMark::Delete); });
}

void TfrmMain::Markallspamforbouncing1Click() {
    runCommand([&] { HeaderListCommands::replaceAll(*m_session, RowMark::Spam, RowMark::Bounce); });
}

void TfrmMain::Unmarkallforbouncing1Click() {
    runCommand([&] { unmarkAll(*m_session, RowMark::Bounce); });
}

void TfrmMain::Addemailtoblacklist1Click() {
    runCommand([&] {
        rememberListLearning(ListKind::EmailBlack, LearnedVerdict::Spam);
        m_listCommands->addSelectedToList(*m_session, HeaderListCommands::ListTarget::EmailBlack);
    });
}

void TfrmMain::Addemailtofriendlylist1Click() {
    runCommand([&] {
        rememberListLearning(ListKind::Friendly, LearnedVerdict::Ham);
        m_listCommands->addSelectedToList(*m_session, HeaderListCommands::ListTarget::Friendly);
    });
}

void TfrmMain::Addsubjecttoblacklist1Click() {
    runCommand([&] {
        m_listCommands->addSelectedToList(*m_session, HeaderListCommands::ListTarget::SubjectBlack);
    });
}

void TfrmMain::Addsubjecttoxyblacklist1Click() {
    runCommand([&] {
        m_listCommands->addSelectedToList(*m_session, HeaderListCommands::ListTarget::XandY);
    });
}

void TfrmMain::ToggleMarkClick() {
    runCommand([&] { m_listCommands->toggleSelected(*m_session); });
}

void TfrmMain::learnSelectedAsSpam() {
    runCommand([&] { m_listCommands->learnSelected(*m_session, LearnedVerdict::Spam); });
}

void TfrmMain::learnSelectedAsHam() {
    runCommand([&] { m_listCommands->learnSelected(*m_session, LearnedVerdict::Ham); });
}

void TfrmMain::keepMarks(const KeptMarks &marked) {
    // Rows still listed keep their marks themselves.
    if (marked.rows.isEmpty() || !m_session->rows().isEmpty())
        return;
    m_kept = marked;
}

void TfrmMain::restoreKeptMarks() {
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

void TfrmMain::updateSelectionLine() {
    const qsizetype row = selectedRow();
    if (row >= 0)
        showSelectionStatus(selectionLine(row, m_model->rowCount()));
}

// ---- processing and automatic mode ----------------------------------------------------------

void TfrmMain::ProcessMessages1Click() {
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

void TfrmMain::ToolButton7Click() {
    if (m_gate.request(CommandGate::Request::AutoToggle)) {
        // A pass (or another command) is waiting on the server: the mode is switched once it
        // has unwound; a pass ends before its next account.
        ToolButton7->setChecked(m_session->AutoMode);
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
            Timer1->setInterval(
                int(qMax<qint64>(1, passTimerIntervalMs(minutes) / qint64(m_speedUp))));
            armAutoMode();
            setControlsEnabled(kAutoModeLocked, false);
        }
    });
    ToolButton7->setChecked(m_session->AutoMode);
    if (m_session->AutoMode != m_autoModeShown) {
        m_autoModeShown = m_session->AutoMode;
        Q_EMIT autoModeChanged(m_autoModeShown);
    }
}

void TfrmMain::armAutoMode() {
    const int minutes = autoInterval(m_settings);
    m_countdown.start(minutes);
    Label1->setText(countdownText(m_countdown.SecondsToNextCheck()));
    Timer1->start();
    Timer2->start();
    Label1->show();
    showServerName(kInAutoMode);
    Q_EMIT countdownChanged(Label1->text());
}

void TfrmMain::Timer2Timer() {
    if (!m_countdown.tick())
        Label1->hide();
    Label1->setText(m_countdown.text());
    Q_EMIT countdownChanged(Label1->text());
}

void TfrmMain::rememberPass(const QDateTime &started, const QString &summary) {
    // The newest pass first; a dozen passes say enough about how automatic mode goes.
    m_passHistory.prepend(u"Pass at %1:\n%2"_s.arg(
        QLocale().toString(started.time(), QLocale::ShortFormat), summary));
    while (m_passHistory.size() > 12)
        m_passHistory.removeLast();
    const QString tip = u"Automatic passes, newest first:\n"_s + m_passHistory.join(u'\n');
    Label1->setToolTip(tip);
    StatusBar1->setPanelToolTip(1, tip);
}

void TfrmMain::Timer1Timer() {
    Timer1->stop();
    Timer2->stop();
    Label1->hide();
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
                    RecolourRows();
                }
            }
            AutomaticPass pass(*m_session, m_store, m_settings, *m_log, archiveFolder(), m_hooks);
            pass.setStopRequested([this] { return m_gate.stopRequested(); });
            results = pass.Timer1Timer();
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

void TfrmMain::ViewEmail1Click() {
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

void TfrmMain::Viewheaders1Click() {
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

void TfrmMain::RulesandLists1Click() {
    if (m_rulesWindow)
        m_rulesWindow->showWindow();
}

void TfrmMain::RecolourRows() {
    m_session->ReclassifyRows();
}

// ---- closing --------------------------------------------------------------------------------

bool TfrmMain::FormClose() {
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

void TfrmMain::closeForSystem() {
    // Kept for the close that follows a command still unwinding.
    m_systemQuit = true;
    close();
}

void TfrmMain::closeEvent(QCloseEvent *event) {
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
    if (!m_systemQuit && !StatusBar1->marksText().isEmpty() &&
        !m_prompts.askYesNo(this, u"Some messages are marked (%1). Closing drops these marks: "
                                  u"nothing is deleted from the server. Close anyway?"_s.arg(
                                      StatusBar1->marksText()))) {
        event->ignore();
        return;
    }
    const bool done = FormClose();
    m_gate.drop(CommandGate::Request::Close);
    if (!done) {
        event->ignore();
        return;
    }
    m_shutDown = true;
    saveWindowState();
    event->accept();
}

QString TfrmMain::windowStatePath() const {
    return m_dataPath.isEmpty() ? QString()
                                : DataDirectory(m_dataPath).filePath(u"mainwindow.state"_s);
}

void TfrmMain::saveWindowState() const {
    const QString path = windowStatePath();
    if (path.isEmpty())
        return;
    MainWindowState state;
    state.maximized = isMaximized();
    state.geometry = state.maximized ? normalGeometry() : geometry();
    state.columns = lvHeaders->columnWidths();
    // Only where the window opens next time depends on it: a failure is not worth a word.
    (void)state.save(path);
}

QRect TfrmMain::screenArea() const {
    if (m_screenArea)
        return m_screenArea();
    QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

void TfrmMain::placeWindow() {
    const MainWindowState state = MainWindowState::load(windowStatePath());
    if (!state.columns.isEmpty())
        lvHeaders->restoreColumnWidths(state.columns);
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

void TfrmMain::showEvent(QShowEvent *event) {
    if (!m_placed) {
        m_placed = true;
        placeWindow();
    }
    QMainWindow::showEvent(event);
}

} // namespace corvane
