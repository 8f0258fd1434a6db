#pragma once

#include "core/errors.h"
#include "core/learning/learningstore.h"
#include "core/learning/tokenizer.h"
#include "core/protocol/mailmessage.h"
#include "core/protocol/pop3client.h"
#include "core/screening/classify.h"
#include "core/screening/headerrow.h"
#include "core/screening/screeningview.h"

#include <QList>
#include <QString>

#include <optional>

namespace corvane {

class AccountStore;
struct Account;
class OAuthTokens;

// For a connection that could not be secured, two line breaks and what failed; empty for any
// other error. Appended to the sentences that tell a failed connection.
QString securityCause(const Error &e);
struct RuleLists;
struct Settings;
class Transport;

// The one POP3 connection of the main window and its listed messages: checking an account,
// the header scan, disconnecting, and the state and status texts that go with them. The
// window (or corvane-cli, or a test) shows what this reports through a ScreeningView.
// Processing of marked rows and automatic mode work on the same session: the rows stay
// accessible and removable, and the row at position p stands for message number p + 1.
class MailboxSession {
public:
    // The connection data copied from the chosen account; it outlives the connection so that
    // a reconnect uses the same account.
    struct AccountData {
        QString Host;          // "POP3 Server"
        QString Port;          // "Port Number", as text
        QString Username;      // "Username"
        QString Password;      // "Password"
        QString Security = {}; // "Security": empty for the port's default
        QString Name = {};     // "Account Name", shown with the host
        // "Trusted Authserv-Id": the server whose Authentication-Results decide whether a
        // friendly-list sender counts; empty: every friendly match counts.
        QString TrustedAuthserv = {};
        // "Auth Method": empty or "password" logs in with the password, "oauth:PROVIDER"
        // with an access token of the account's grant (setOAuthTokens).
        QString AuthMethod = {};
    };
    // The connection data of an account of the store.
    static AccountData accountData(const Account &account);

    // store may be null (no account store could be opened): then no tag finds an account.
    MailboxSession(Transport &transport, AccountStore *store, const RuleLists &lists,
                   ScreeningView &view);

    AccountData CurrentAccount;
    int MessageCount = 0; // as answered by STAT
    int MailboxSizeK = 0; // the LIST total div 1024; 0 when LIST failed
    bool AutoMode = false;
    // The most commands the header scan sends ahead of their replies to a server that
    // announces PIPELINING, when the setting pop3pipelining allows it.
    int ScanWindowCommands = Pop3Client::DefaultScanWindowCommands;
    // The options read at the moment of use (pop3pipelining, learning); without them, the
    // defaults.
    void setSettings(const Settings *settings) { m_settings = settings; }
    // The learned filter that scores the rows; without one (or with the option learning off)
    // rows are classified by the lists and rules alone and the scan fetches headers only.
    void setLearning(LearningStore *store) { m_learning = store; }
    // The access tokens of the accounts that sign in with OAuth. Without them such an account
    // cannot log in (the check fails with the reason, nothing is sent).
    void setOAuthTokens(OAuthTokens *tokens) { m_oauthTokens = tokens; }
    OAuthTokens *oauthTokens() const { return m_oauthTokens; }
    LearningStore *learning() const { return m_learning; }
    // Whether the rows of the current check were scored by the learner. A learner that could
    // not be opened leaves learning off for the check (the view is told why, with the file).
    bool learningActive() const { return m_learningOn; }
    // The authserv-id of the topmost Authentication-Results field of the first message of the
    // last check that had one: what the account dialogs propose as the trusted server.
    const QString &lastAuthservId() const { return m_lastAuthservId; }

    Pop3Client &POP() { return m_pop; }
    MailMessage &Msg() { return m_msg; }
    ScreeningView &view() { return m_view; }

    const QList<HeaderRow> &rows() const { return m_rows; }
    // For each row, what its message says of itself (Message-ID, full date).
    const QList<MessageIdentity> &identities() const { return m_identities; }
    void setMark(qsizetype position, RowMark mark);
    // Takes back a row's mark for deletion or bouncing: the row gets the mark the lists give it
    // now (Plain when its header could not be read).
    void unmarkRow(qsizetype position);
    // Removes the row of a message the server has deleted.
    void removeRow(qsizetype position);

    // Training from rows. What a row holds for the learner (its identity and tokens); nothing
    // when learning was off for the check or the row's header could not be read.
    std::optional<LearningSample> learningSample(qsizetype position) const;
    // Learns the rows at positions as verdict, as the user's word: a row learned before as the
    // other kind is unlearned first. Then every row is scored again and its mark follows as
    // in ReclassifyRows (the view is told). Rows without a sample are passed over. Throws
    // Error when learning is off for this check, and FileError when the learning database
    // cannot save it (nothing learned before is lost).
    LearningStore::TrainResult learnRows(const QList<qsizetype> &positions, LearnedVerdict verdict);
    // Scores every scored row again with the learner as it now stands and reclassifies the
    // rows as ReclassifyRows does; returns whether a mark changed.
    bool RescoreRows();
    void clearRows();

    // Checks the account at tag (its 0-based position in the account store): connects, logs
    // in, reads the message count and mailbox size and lists every message's header. Throws
    // DataError, before anything changes, when the account's port is not a number. A failure
    // to connect or log in leaves the session idle and throws the class of the cause
    // (NetworkError: the server could not be reached; ProtocolError: it refused the login)
    // with the sentence to show. Errors after the login (a dropped connection during the
    // scan) are passed on, with the rows listed so far kept and the commands enabled again.
    void CheckAccount(int tag);
    // Lists messages 1 to count of the open connection, each classified against the lists,
    // with TOP n 0 and LIST n for each (pipelined when the setting and the server allow it).
    // A message whose header is damaged is listed with what could be read; one whose TOP is
    // refused is listed as "(header not available: " + the server's words + ")", Plain; one
    // whose LIST n is refused gets the size -1. Errors that end the connection (a drop, a
    // time-out, an unrecognised reply) stop the scan and are passed on, the rows so far kept.
    void ScanHeaders(int count);
    // Classifies the listed rows again against the lists as they now stand, so that a changed
    // list shows at once. Only marks that classification gave change: a row marked for
    // deletion or bouncing, or one whose header could not be read, keeps its mark. Returns
    // whether a mark changed (the view has then been told).
    bool ReclassifyRows();
    // Ends the connection without deleting anything (RSET, then QUIT) and resets the state.
    void DisconnectExecute();

    // The viewer's fetches over the open connection, for display only. A message or header
    // the parser rejects has still been read to its end line and is shown as far as it could
    // be read; errors that end the connection are passed on.
    //
    // RETR n into Msg(). Throws ProtocolError when the server will not send the message:
    // opening an empty message in its place would pass a refusal off as the message.
    void FetchMessageForViewing(int n);
    // TOP n 0: the header lines of message n, exactly as the server sent them.
    QList<QByteArray> FetchHeaderLines(int n);

    // Helpers shared with processing and automatic mode.
    void ShowBusy(bool busy);
    void ShowStatus(const QString &text);
    void ShowFileStatus();
    void SetConnectedState(bool on);
    // Waits at least ms milliseconds while events keep being handled.
    static void WaitMilliseconds(int ms);
    // Empties the list and the four status panels and shows "Idle..." after a connection has
    // ended.
    void ResetWindow();
    // Gives the POP3 client the host, port, user name, password and security of an account.
    // Throws DataError when the port text is not a whole number from 1 to 65535 or the
    // security is not one of "none", "STLS" and "TLS".
    void ApplyAccount(const AccountData &account);
    // The most messages a check lists, whatever count the server reports.
    static constexpr int MaxListedMessages = 100000;

    // Reads MessageCount (STAT, at most MaxListedMessages) and MailboxSizeK (LIST) and shows
    // them; a count cut to the maximum is reported in the status line.
    void ReadMailboxSize();

    // The port of a "Port Number" text; nothing when it is not a whole number from 1 to 65535.
    static std::optional<quint16> parsePort(const QString &text);
    // The text shown for a row's date.
    static QString dateText(const QDateTime &date);

private:
    ScreeningView::Controls allCommands() const;
    // The lists' and rules' verdict on the message in Msg(); excerpt receives what
    // classification read of the header besides the subject and the sender (see
    // spamScoreExcerpt).
    RuleVerdict classify(QString &excerpt, bool friendlyAuthentic);
    // Whether a friendly-list match of the message read counts: the account names no trusted
    // server, or that server's Authentication-Results authenticated the From domain. Notes the
    // topmost authserv-id of the check's first message that has one.
    bool senderAuthentic();
    // Gives a row the mark and reason of the rules' verdict and its learned score.
    void applyVerdict(HeaderRow &row, const RuleVerdict &rules, std::optional<double> learned);
    // The verdict of the lists and rules on a listed row, from what it kept.
    RuleVerdict reclassify(qsizetype position);
    // Decides whether the learner scores this check, and tells the view when it cannot.
    void startLearning();

    Pop3Client m_pop;
    MailMessage m_msg;
    AccountStore *m_store;
    const Settings *m_settings = nullptr;
    const RuleLists &m_lists;
    ScreeningView &m_view;
    Classifier m_classifier;
    QList<HeaderRow> m_rows;
    // For each row, what its classification read of the header (see classify), or nothing when
    // the header could not be read: such rows are never classified again.
    QList<std::optional<QString>> m_classified;
    QList<MessageIdentity> m_identities; // one per row
    LearningStore *m_learning = nullptr;
    OAuthTokens *m_oauthTokens = nullptr;
    bool m_learningOn = false;
    MessageTokenizer m_tokenizer;
    // For each row, its learning sample (when learning was on and its header was read) and
    // its learned score (when, besides, the learner has learned both spam and ham).
    QList<std::optional<LearningSample>> m_samples;
    QList<std::optional<double>> m_learned;
    // For each row, whether a friendly-list match counts (the trusted server, when the account
    // names one, authenticated the sender).
    QList<bool> m_friendlyAuthentic;
    QString m_trustedAuthserv;
    QString m_lastAuthservId;
    // The learned score of a sample; nothing while the learner knows only one kind or none.
    std::optional<double> scoreOf(const LearningSample &sample) const;
    QString m_statusText; // what status panel 1 shows
};

} // namespace corvane
