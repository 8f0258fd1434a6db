#include "core/screening/processing.h"

#include "core/auth/oauthtokens.h"
#include "core/errors.h"
#include "core/platform/datadir.h"
#include "core/platform/durablefile.h"
#include "core/platform/legacytext.h"
#include "core/protocol/mailaddress.h"
#include "core/protocol/mailmessage.h"
#include "core/records/deletionlog.h"
#include "core/records/pendingrun.h"
#include "core/screening/bouncepolicy.h"
#include "core/screening/mailboxsession.h"
#include "core/settings/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

const QString kIdle = u"Idle..."_s;

// "message 3 ("Subject")", as errors name the message they stopped at.
QString messageName(int n, const QString &subject) {
    return u"message %1 (\"%2\")"_s.arg(n).arg(subject);
}

// "1 message", "3 messages".
QString messageCount(int n) {
    return n == 1 ? u"1 message"_s : u"%1 messages"_s.arg(n);
}

// Why a step failed: a server's refusal is quoted as the server's words, anything else is
// our own explanation.
QString cause(const Error &e) {
    if (const auto *refusal = dynamic_cast<const ProtocolError *>(&e);
        refusal && !refusal->serverWords().isEmpty())
        return u"the server answered \"%1\""_s.arg(refusal->serverWords());
    return e.message();
}

const QString kRunStopped = u"\n\nProcessing stopped there, and no message of this run has been "
                            u"deleted from the server."_s;

// A failure at one step of a row: the text names the message and the step, the class is that
// of the failure that caused it, and the run's ending is told.
[[noreturn]] void stepFailed(QString text, ErrorKind cause) {
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    throwError(cause, text + kRunStopped);
}

// The part of an address from its last at sign on, when a domain follows it.
QString domainPart(const QString &text) {
    QString address = text.trimmed();
    try {
        const MailAddress parsed = MailAddress::parse(address);
        if (!parsed.Address.isEmpty())
            address = parsed.Address;
    } catch (const Error &) {
        // Not an address the parser takes: the text itself is looked at.
    }
    const qsizetype at = address.lastIndexOf(u'@');
    if (at < 0 || at + 1 >= address.size())
        return {};
    return address.mid(at);
}

// Whether a message arrived clearly shorter than the size LIST n gave (-1: unknown). Servers
// count that size differently (CR LF or LF line ends, with or without the stuffing dots), so
// the largest count of what arrived is compared, and a missing final line break is allowed
// for.
bool arrivedShort(const Pop3RetrievedMessage &message, qint64 listedSize) {
    return listedSize >= 0 && message.stuffedOctets + 2 < listedSize;
}

} // namespace

MessageProcessor::MessageProcessor(MailboxSession &session, const Settings &settings,
                                   DeletionLog &log, QString archiveFolder, ProcessingHooks hooks)
    : m_session(session), m_settings(settings), m_log(log),
      m_archiveFolder(std::move(archiveFolder)), m_hooks(std::move(hooks)),
      m_namer(m_archiveFolder) {}

QString MessageProcessor::bounceSender(const QString &bouncefrom, const QString &accountEmail,
                                       const QString &smtpemail) {
    QString domain = domainPart(accountEmail);
    if (domain.isEmpty())
        domain = domainPart(smtpemail);
    return bouncefrom + domain;
}

QString MessageProcessor::bounceBody(const QList<QByteArray> &headerLines, const QString &to) {
    QStringList lines;
    lines << u"This report relates to a message you sent with the following header fields:"_s
          << QString();
    for (const QByteArray &line : headerLines)
        lines << decodeLegacyText(line);
    lines << QString() << QString()
          << u"Your message cannot be delivered to the following recipients:"_s << QString()
          << u"Recipient address: "_s + to << u"Reason: User at host/domain not found"_s;
    return lines.join(u"\r\n"_s);
}

quint16 MessageProcessor::smtpPort(const QString &smtpport) {
    return MailboxSession::parsePort(smtpport).value_or(SmtpClient::DefaultPort);
}

SmtpSendOptions MessageProcessor::smtpOptions(const Settings &settings, OAuthTokens *tokens) {
    SmtpSendOptions options;
    options.port = smtpPort(settings.smtpport);
    if (!settings.smtpsecurity.trimmed().isEmpty()) {
        options.security = parseSecurity(settings.smtpsecurity, options.port);
        if (!options.security)
            throw DataError(
                u"The SMTP security \"%1\" is not one of none, STARTTLS and TLS. "
                u"Please correct it on the SMTP tab of the options."_s.arg(settings.smtpsecurity));
    }
    options.username = settings.smtpuser.trimmed();
    options.password = settings.smtppassword;
    if (const std::optional<QString> provider = oauthProviderOfMethod(settings.smtpauth)) {
        if (!tokens)
            throw Error(u"The SMTP login signs in with OAuth, which this program cannot do "
                        u"here."_s);
        options.accessToken = tokens->source(*provider, options.username);
    }
    return options;
}

void MessageProcessor::wait(int ms) {
    if (m_hooks.wait)
        m_hooks.wait(ms);
    else
        MailboxSession::WaitMilliseconds(ms);
}

void MessageProcessor::archive(int n, const QString &subject, qint64 listedSize,
                               ProcessedMessage &done) {
    Pop3Client &pop = m_session.POP();
    Pop3RetrievedMessage message;
    bool fetched = false;
    try {
        fetched = pop.RetrieveMessage(n, message);
    } catch (const Error &e) {
        // A message that could not be read completely would be archived incomplete.
        stepFailed(u"%1 could not be fetched for its archive copy: %2"_s.arg(
                       messageName(n, subject), cause(e)),
                   errorKind(e));
    }
    if (!fetched)
        stepFailed(
            u"The server would not send %1 for its archive copy."_s.arg(messageName(n, subject)),
            ErrorKind::Protocol);
    if (arrivedShort(message, listedSize))
        stepFailed(u"%1 arrived with %2 bytes, but the server listed it with %3: the copy "
                   u"would be incomplete."_s.arg(messageName(n, subject))
                       .arg(message.stuffedOctets)
                       .arg(listedSize),
                   ErrorKind::Protocol);
    const QString path = m_namer.nextPath(subject);
    try {
        createPrivateFolder(m_archiveFolder);
        // It counts as written only once every byte is on the disk.
        writeFileDurably(path, message.fileForm);
    } catch (const Error &e) {
        stepFailed(u"The archive copy of %1 could not be written: %2"_s.arg(messageName(n, subject),
                                                                            cause(e)),
                   errorKind(e));
    }
    done.archivePath = path;
}

QString MessageProcessor::bounce(int n, ProcessedMessage &done) {
    Pop3Client &pop = m_session.POP();
    const QString sender =
        bounceSender(m_settings.bouncefrom, m_accountEmail, m_settings.smtpemail);
    MailMessage &msg = m_session.Msg();
    msg.ClearMessage();
    try {
        pop.FetchHeader(n, msg);
    } catch (const Error &e) {
        // A header the parser rejects has still been read in full; its lines can be quoted.
        if (!dynamic_cast<const DataError *>(&e) || !pop.IsOpen())
            stepFailed(u"The header of %1 could not be fetched for its bounce notice: %2"_s.arg(
                           messageName(n, done.subject), cause(e)),
                       errorKind(e));
    }
    // The notice goes to the row's sender: the address decides with the header.
    QString noticeAddress;
    try {
        noticeAddress = MailAddress::parse(done.from).Address;
    } catch (const Error &) {
        noticeAddress = done.from;
    }
    const QString refusal = BouncePolicy::reasonNotToBounce(msg, noticeAddress);
    if (!refusal.isEmpty())
        return refusal;
    SmtpSendOptions options;
    try {
        options = smtpOptions(m_settings, m_session.oauthTokens());
    } catch (const Error &e) {
        stepFailed(u"The bounce notice for %1 could not be sent: %2"_s.arg(
                       messageName(n, done.subject), cause(e)),
                   errorKind(e));
    }
    options.transport = m_hooks.smtpTransport;
    options.transcript = m_hooks.transcript;
    options.extraHeaders = {BouncePolicy::AutoSubmittedHeader};
    try {
        SendSimpleMessage(m_settings.smtpserver, m_settings.bouncesubj, done.from, sender,
                          bounceBody(msg.HeaderLines, done.to), options);
    } catch (const Error &e) {
        stepFailed(u"The bounce notice for %1 could not be sent: %2"_s.arg(
                       messageName(n, done.subject), cause(e)),
                   errorKind(e));
    }
    done.bouncedTo = done.from;
    done.bounceFrom = sender;
    return {};
}

void MessageProcessor::deleteRow(int n, ProcessedMessage &done) {
    try {
        m_session.POP().MarkDeleted(n);
    } catch (const Error &e) {
        stepFailed(u"%1 could not be deleted: %2"_s.arg(messageName(n, done.subject), cause(e)),
                   errorKind(e));
    }
    m_session.removeRow(n - 1);
}

void MessageProcessor::abandonRun(qsizetype logLinesBefore, const QString &countBefore) {
    Pop3Client &pop = m_session.POP();
    if (pop.IsOpen()) {
        try {
            pop.UndoDeletions();
        } catch (const Error &) {
            // Dropping the connection without QUIT discards the marks all the same.
        }
    }
    pop.AbandonSession();
    takeBack(logLinesBefore, countBefore);
    m_session.ResetWindow();
    m_session.ShowBusy(false);
}

void MessageProcessor::takeBack(qsizetype logLinesBefore, const QString &countBefore) {
    if (m_log.LogLines.size() > logLinesBefore)
        m_log.LogLines.resize(logLinesBefore);
    m_log.DeleteCount = countBefore;
}

void MessageProcessor::checkRecordsWritable(bool anyMarked) const {
    if (m_settings.Logging && !m_log.unreadableFile().isEmpty())
        throw FileError(u"The deletion log %1 cannot be read, so the lines of this run could "
                        u"never be saved into it. Nothing has been processed: make the file "
                        u"readable (or switch logging off) and process again."_s.arg(
                            QDir::toNativeSeparators(m_log.unreadableFile())));
    if (!m_settings.Save || !anyMarked)
        return;
    const QString shown = QDir::toNativeSeparators(m_archiveFolder);
    QString reason;
    try {
        createPrivateFolder(m_archiveFolder);
        // An empty file can still be made on a full disk: the probe must take a block of data.
        QTemporaryFile probe(QDir(m_archiveFolder).filePath(u".write-test-XXXXXX"_s));
        if (!QFileInfo(m_archiveFolder).isDir())
            reason = u"Not a directory"_s;
        else if (!probe.open() || probe.write(QByteArray(4096, '\0')) != 4096 || !probe.flush())
            reason = probe.errorString();
    } catch (const FileError &e) {
        reason = e.message();
    }
    if (!reason.isNull())
        throw FileError(u"The archive folder %1 cannot be written (%2), so no copy of a deleted "
                        u"message could be kept. Nothing has been processed."_s.arg(shown, reason));
}

ProcessingResult MessageProcessor::ProcessMessages() {
    ProcessingResult result;
    ScreeningView &view = m_session.view();
    Pop3Client &pop = m_session.POP();
    const QList<HeaderRow> &rows = m_session.rows();
    if (rows.isEmpty())
        throw Error(u"Must have connected to server and have emails to process"_s);
    const bool anyMarked = std::any_of(rows.cbegin(), rows.cend(), [](const HeaderRow &r) {
        return r.Mark == RowMark::Delete || r.Mark == RowMark::Bounce;
    });
    // Rows left from a connection that has ended stand for message numbers of another
    // session: acting on them could hit the wrong messages.
    if (!pop.IsOpen() && anyMarked)
        throw Error(u"The connection to the server has ended, so the marked messages cannot be "
                    u"processed. Please check the account again."_s);
    // Every record the user asked for must be able to take this run before anything is
    // deleted; the session stays as it is.
    checkRecordsWritable(anyMarked);
    if (m_hooks.recorder && anyMarked)
        m_hooks.recorder->settleEarlierRun();

    // The total is only shown to the user: one that cannot be counted on starts again rather
    // than stopping the screening.
    const QString unusableCount = m_log.DeleteCount;
    if (!m_log.restartCountIfUnusable())
        result.notice = u"The total of deleted messages \"%1\" was not a number that can be "
                        u"counted on; it starts again from 0 with this run."_s.arg(unusableCount);
    const auto tellNotice = [&] {
        if (!result.notice.isEmpty())
            view.showNotice(result.notice);
    };

    const qsizetype logLinesBefore = m_log.LogLines.size();
    const QString countBefore = m_log.DeleteCount;
    if (m_settings.Logging)
        m_log.appendRunStart(m_hooks.clock ? m_hooks.clock() : QDateTime::currentDateTime(),
                             m_hooks.locale);
    m_namer = ArchiveNamer(m_archiveFolder);

    QList<qsizetype> messageLines; // the log line of each handled message
    // What the user deleted or bounced is learned as spam once the server has confirmed it.
    // Automatic mode learns nothing: a filter that learns its own verdicts repeats its mistakes.
    std::vector<LearningSample> deletedByUser;
    int n = 0;
    QString subject;
    try {
        for (qsizetype p = rows.size() - 1; p >= 0; --p) {
            QCoreApplication::processEvents();
            if (p >= rows.size())
                continue;
            const HeaderRow row = rows.at(p);
            n = int(p) + 1;
            subject = row.Subject;
            bool sizeOk = false;
            qint64 listedSize = row.Size.toLongLong(&sizeOk);
            if (!sizeOk)
                listedSize = -1;
            view.showSelectionStatus(u"Processing "_s + row.Subject);
            ProcessedMessage done{n,        row.Mark, row.Subject, row.From, row.To,
                                  row.Date, {},       {},          {},       {}};
            const std::optional<LearningSample> learned = m_session.learningSample(p);
            if (row.Mark == RowMark::Delete) {
                m_session.ShowBusy(true);
                m_log.incrementDeleteCount();
                if (m_settings.Logging) {
                    m_log.appendDeleted(row.From, row.To, row.Subject, row.Date);
                    messageLines << m_log.LogLines.size() - 1;
                }
                if (m_settings.Save)
                    archive(n, row.Subject, listedSize, done);
                deleteRow(n, done);
            } else if (row.Mark == RowMark::Bounce) {
                // The header decides whether a notice may go out at all; a message that gets
                // none is handled exactly as a Delete row, and its log line says why.
                const QString refusal = bounce(n, done);
                if (refusal.isEmpty()) {
                    if (m_settings.Logging) {
                        m_log.appendBounced(row.From, row.To, row.Subject, row.Date);
                        messageLines << m_log.LogLines.size() - 1;
                    }
                    m_log.incrementDeleteCount();
                    m_namer.resetCounter();
                } else {
                    done.notBounced = refusal;
                    m_log.incrementDeleteCount();
                    if (m_settings.Logging) {
                        m_log.appendNotBounced(row.From, row.To, row.Subject, row.Date, refusal);
                        messageLines << m_log.LogLines.size() - 1;
                    }
                }
                if (m_settings.Save)
                    archive(n, row.Subject, listedSize, done);
                m_session.ShowBusy(true);
                deleteRow(n, done);
            } else {
                continue;
            }
            if (!m_session.AutoMode)
                if (std::optional<LearningSample> sample = learned)
                    deletedByUser.push_back(std::move(*sample));
            wait(100);
            ++result.processed;
            m_session.ShowBusy(false);
            result.messages.append(done);
        }
        // The server applies the deletions only when it gets QUIT over this connection.
        if (result.processed > 0 && !pop.IsOpen())
            stepFailed(u"The connection to the server ended before the deletions could be "
                       u"confirmed with QUIT."_s,
                       ErrorKind::Network);
    } catch (const Error &e) {
        abandonRun(logLinesBefore, countBefore);
        tellNotice();
        // Every step tells its own failure; anything else is told as the row's.
        if (e.message().endsWith(kRunStopped))
            throw;
        stepFailed(u"%1 could not be processed: %2"_s.arg(messageName(n, subject), cause(e)),
                   errorKind(e));
    }

    // The run's record goes to the disk before QUIT makes its deletions take effect: a record
    // that cannot be written means that nothing is deleted.
    if (result.processed > 0) {
        if (m_settings.Logging)
            m_log.appendRunEnd();
        if (m_hooks.recorder) {
            PendingRun record;
            record.account = m_session.CurrentAccount.Name;
            record.messages = result.processed;
            record.logLinesBefore = logLinesBefore;
            record.totalBefore = countBefore;
            record.totalAfter = m_log.DeleteCount;
            record.lines = m_log.LogLines.mid(logLinesBefore);
            for (const qsizetype line : std::as_const(messageLines))
                record.messageLines << line - logLinesBefore;
            try {
                m_hooks.recorder->recordBeforeQuit(record);
            } catch (const Error &e) {
                abandonRun(logLinesBefore, countBefore);
                tellNotice();
                throw FileError(u"The record of this run (%1) could not be written to the disk: "
                                u"%2"_s.arg(messageCount(result.processed), e.message()) +
                                kRunStopped);
            }
        }
    }

    // Nothing deleted, nothing to confirm: the quick close. Otherwise the reply to QUIT tells
    // whether the server applied the run's deletions.
    Pop3QuitOutcome quit;
    quit.status = Pop3QuitOutcome::Status::Committed;
    if (result.processed > 0)
        quit = pop.QuitSession();
    else
        pop.CloseSession();
    view.showServerName(kIdle);
    view.showSelectionStatus(QString());
    m_session.ShowStatus(QString());
    view.showFileStatus(QString(), QString());
    m_session.clearRows();
    m_session.SetConnectedState(false);

    // Saves the log and the total as they now stand; returns why they could not be, if so.
    const auto settle = [&](bool confirmed) -> QString {
        if (!m_hooks.recorder || result.processed == 0)
            return {};
        try {
            m_hooks.recorder->settle(confirmed);
        } catch (const Error &e) {
            return e.message();
        }
        return {};
    };

    if (quit.status != Pop3QuitOutcome::Status::Committed) {
        // The messages may be gone or not (a server that answers -ERR may have applied some
        // deletions and not others): they are not counted, and their log lines stay marked as
        // unconfirmed so that the log still names what may have been deleted.
        const bool refused = quit.status == Pop3QuitOutcome::Status::Refused;
        const QString why = refused ? u"QUIT answered -ERR"_s : u"no answer to QUIT"_s;
        m_log.DeleteCount = countBefore;
        for (const qsizetype line : std::as_const(messageLines))
            m_log.LogLines[line] = DeletionLog::unconfirmedLine(m_log.LogLines.at(line), why);
        const QString notSaved = settle(false);
        m_session.ShowBusy(false);
        tellNotice();
        QString text =
            refused ? u"The server answered QUIT with an error (\"%1\"): it may have deleted some "
                      u"of the messages of this run (%2) and not others."_s.arg(
                          quit.text, messageCount(result.processed))
                    : u"The server did not answer QUIT (%1), so it is not known whether the "
                      u"messages of this run (%2) have been deleted from the server."_s.arg(
                          quit.text, messageCount(result.processed));
        text += u" They are not counted in the total, and their log lines are marked as not "
                u"confirmed. Check the mailbox before processing it again."_s;
        if (!notSaved.isEmpty())
            text += u"\n\nThe log could not be saved: %1 Its lines are kept in %2, and the next "
                    u"start adds them to the log."_s.arg(notSaved, PendingRun::FileName);
        throw OutcomeUnknownError(text);
    }
    if (const QString notSaved = settle(true); !notSaved.isEmpty())
        result.recordProblem =
            u"The server has deleted the messages of this run (%1), but the log and the total "
            u"could not be saved: %2 Their record is kept in %3, and the next start adds it to "
            u"the log."_s.arg(messageCount(result.processed), notSaved,
                              PendingRun::ConfirmedFileName);

    tellNotice();
    learnDeleted(deletedByUser);
    try {
        if (!m_session.AutoMode &&
            view.askYesNo(QString::number(result.processed) +
                          u" items deleted from server. Do you wish to reconnect?"_s))
            reconnect(result);
    } catch (const Error &) {
        m_session.ShowBusy(false);
        if (m_settings.Logging && result.processed == 0)
            m_log.appendRunEnd();
        throw;
    }
    if (m_settings.Logging && result.processed == 0)
        m_log.appendRunEnd();
    return result;
}

void MessageProcessor::learnDeleted(const std::vector<LearningSample> &samples) {
    LearningStore *learning = m_session.learning();
    if (samples.empty() || !learning || !learning->isOpen())
        return;
    try {
        // A message the user once said was not spam keeps that verdict.
        learning->train(samples, LearnedVerdict::Spam, LearningStore::Policy::KeepEarlier);
    } catch (const Error &e) {
        // The deletions stand; only the learning from them is lost, and the user is told.
        m_session.view().showNotice(e.message());
    }
}

void MessageProcessor::reconnect(ProcessingResult &result) {
    ScreeningView &view = m_session.view();
    Pop3Client &pop = m_session.POP();
    const MailboxSession::AccountData account = m_session.CurrentAccount;
    m_session.ShowBusy(true);
    m_session.ShowStatus(u"Connecting...."_s);
    if (pop.IsOpen())
        pop.CloseSession();
    try {
        m_session.ApplyAccount(account);
        pop.OpenSession();
    } catch (const Error &e) {
        m_session.SetConnectedState(false);
        m_session.ShowStatus(QString());
        m_session.ShowBusy(false);
        throwError(errorKind(e), u"Could not establish connection with \"%1\" on port \"%2\" "
                                 u"please check your settings"_s.arg(account.Host, account.Port) +
                                     securityCause(e));
    }
    view.showSelectionStatus(u"No message selected"_s);
    view.showServer(account.Name, account.Host);
    m_session.SetConnectedState(true);
    m_session.ReadMailboxSize();
    if (m_session.MessageCount < 1) {
        m_session.ShowStatus(QString());
    } else {
        m_session.ShowFileStatus();
        m_session.ScanHeaders(m_session.MessageCount);
    }
    result.reconnected = true;
    m_session.ShowBusy(false);
}

} // namespace corvane
