#pragma once

#include "core/learning/learningstore.h"
#include "core/protocol/smtpclient.h"
#include "core/records/archivenames.h"
#include "core/records/pendingrun.h"
#include "core/screening/rowmark.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QString>

#include <functional>

namespace corvane {

class OAuthTokens;

class DeletionLog;
class MailboxSession;
struct Settings;

// What processing may be given instead of the real clock, waits and connections (tests,
// and corvane-cli for its transcript).
struct ProcessingHooks {
    std::function<QDateTime()> clock;     // the time of the log's start line; empty: now
    QLocale locale = QLocale::system();   // the date and time formats of the log
    std::function<void(int ms)> wait;     // the pause after each deletion; empty: a real wait
    SmtpTransportFactory smtpTransport;   // the bounce notices' connections; empty: sockets
    Transport::TranscriptSink transcript; // receives the SMTP conversation when set
    RunRecorder *recorder = nullptr;      // the run's record on the disk; none: memory only
};

// One message that a processing run handled.
struct ProcessedMessage {
    int number = 0; // the message number on the server
    RowMark mark = RowMark::Delete;
    QString subject;
    QString from;
    QString to;
    QString date;
    QString archivePath; // the archive copy; empty when copies are not saved
    QString bouncedTo;   // Bounce: the recipient of the notice
    QString bounceFrom;  // Bounce: its sender
    // Bounce: why no notice was sent (the message came from an automatic sender or a list),
    // when none was; the message was then handled as a Delete row.
    QString notBounced;
};

// What a processing run did.
struct ProcessingResult {
    int processed = 0;                // Delete and Bounce rows handled
    QList<ProcessedMessage> messages; // in the order handled: from the last row up
    bool reconnected = false;         // the user chose to reconnect and it succeeded
    QString notice; // what the run had to mend on its way (a total that restarted), if anything
    // The deletions took effect but the log and the total could not be saved: why, and where
    // their record waits for the next start. Empty when everything was saved.
    QString recordProblem;
};

// Carries out the marks of the open connection of a MailboxSession: the rows are walked from
// the last to the first; every Delete row is logged, saved into the archive and deleted, every
// Bounce row is logged, answered with a delivery-failure notice to its sender, saved and
// deleted (a Bounce row whose header shows an automatic sender or list mail gets no notice,
// see BouncePolicy: it is handled as a Delete row, and its log line says why); then QUIT makes the
// deletions take effect and, unless the session is in automatic mode, the user is asked whether to
// reconnect. The archive copy is the message exactly as RETR n delivered it (the message-file
// form), never rebuilt from its parsed parts, so a message the parser rejects is archived and
// deleted like any other.
//
// Before the run, every record the user asked for must be able to take it: a deletion log
// that could not be read when it was loaded (its lines could never be saved) or an archive
// folder that cannot be written stops processing with FileError before anything is done. A
// total of deleted messages that is not a number starts again from 0 (the result's notice,
// also shown through ScreeningView::showNotice).
//
// A run either completes or deletes nothing. When anything fails on the way (an archive copy
// that cannot be fetched or written, a message that arrives shorter than LIST n said, a notice
// that cannot be sent, a refused DELE, a dropped connection), the run stops at that row: RSET
// is sent when the connection still stands and the connection is then dropped without QUIT,
// so the server keeps every message of the run (RFC 1939 servers apply deletions only on QUIT;
// RSET clears the marks for those that do not wait for it). The log lines and DeleteCount
// increments of the run are taken back, so the log records only deletions that took effect;
// the session ends (Idle, no rows); the error names the message and the cause and keeps its
// class (NetworkError for a dropped connection, ...). Archive copies already written stay.
//
// With a RunRecorder, the run's log lines and its new total are written to the disk after the
// last DELE and before QUIT (RunRecorder::recordBeforeQuit); a record that cannot be written
// stops the run like any other step, so nothing is deleted without its record. After QUIT's
// answer the log and the total are saved and the record removed; when they cannot be saved the
// record stays (the result's recordProblem says so) and the next start completes the log.
//
// The reply to QUIT decides the run: "+OK" commits it. "-ERR" may mean that the server applied
// some deletions and not others (RFC 1939), and no reply leaves the outcome open: in both cases
// the messages are not counted, their log lines are marked as not confirmed, and
// OutcomeUnknownError says so. Only after "+OK" is the user asked whether to reconnect.
// The messages of a confirmed run that the user marked (not automatic mode) are then learned
// as spam when the session's learner scored them, unless the user once said they were not
// spam.
class MessageProcessor {
public:
    MessageProcessor(MailboxSession &session, const Settings &settings, DeletionLog &log,
                     QString archiveFolder, ProcessingHooks hooks = {});

    // The "E-Mail Address" of the account whose messages are processed: the domain of the
    // bounce notices' sender.
    void setAccountEmail(const QString &address) { m_accountEmail = address; }

    // The work of "Process Messages". Settings are read at the moment of use. Throws
    // corvane::Error before anything is done when there are no rows ("Must have connected to
    // server and have emails to process") or the connection of marked rows has ended; throws
    // when the run stops or its outcome is not confirmed (see above). A reconnect that fails
    // after a committed run throws the class of the cause with "Could not establish
    // connection with ...", and errors of the reconnect's scan are passed on, both after the
    // log's end lines are written: the run itself has then taken effect.
    ProcessingResult ProcessMessages();

    // The sender of a bounce notice: bouncefrom followed by the part from the at sign of the
    // account's address, else of smtpemail; bouncefrom alone when neither address has an at
    // sign with a domain after it.
    static QString bounceSender(const QString &bouncefrom, const QString &accountEmail,
                                const QString &smtpemail);
    // The body of a bounce notice: the fetched header lines of the bounced message and the
    // recipient text of its row, lines separated by CR LF.
    static QString bounceBody(const QList<QByteArray> &headerLines, const QString &to);
    // The port bounce notices are sent to: smtpport when it is a port number, else 25.
    static quint16 smtpPort(const QString &smtpport);
    // How bounce notices and list submissions reach the SMTP server: the port of smtpport, the
    // security of smtpsecurity (empty: the port's default), the login smtpuser with
    // smtppassword. Throws DataError for a security that is not none, STARTTLS or TLS.
    // tokens: where an SMTP login with OAuth (the setting smtpauth) takes its access token;
    // without them such a login throws Error.
    static SmtpSendOptions smtpOptions(const Settings &settings, OAuthTokens *tokens = nullptr);

private:
    void deleteRow(int n, ProcessedMessage &done);
    // listedSize: the size LIST n gave, -1 when unknown.
    void archive(int n, const QString &subject, qint64 listedSize, ProcessedMessage &done);
    // Fetches the header of message n and sends its notice; returns why no notice was sent,
    // empty when one was.
    QString bounce(int n, ProcessedMessage &done);
    void reconnect(ProcessingResult &result);
    // Learns the messages the user deleted or bounced as spam, unless learned as ham before;
    // a failure to save is shown as a notice (the deletions stand).
    void learnDeleted(const std::vector<LearningSample> &samples);
    // Ends a run that failed so that none of its deletions takes effect.
    void abandonRun(qsizetype logLinesBefore, const QString &countBefore);
    // Removes the run's log lines and restores the total.
    void takeBack(qsizetype logLinesBefore, const QString &countBefore);
    // Throws FileError when the log or the archive folder could not take the run.
    void checkRecordsWritable(bool anyMarked) const;
    void wait(int ms);

    MailboxSession &m_session;
    const Settings &m_settings;
    DeletionLog &m_log;
    QString m_archiveFolder;
    ProcessingHooks m_hooks;
    QString m_accountEmail;
    ArchiveNamer m_namer; // the current run's archive names
};

} // namespace corvane
