#include "core/screening/mailboxsession.h"

#include "core/auth/oauthtokens.h"

#include "core/errors.h"
#include "core/platform/legacytext.h"
#include "core/rules/rulelists.h"
#include "core/screening/authresults.h"
#include "core/settings/accountstore.h"
#include "core/settings/settings.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLocale>
#include <QTimer>

#include <limits>

using namespace Qt::StringLiterals;

namespace corvane {
namespace {

// What went wrong when connecting or logging in, in a sentence that says what to do about it.
// Text that ends as a sentence: a server's words or a system's message often lack the full
// stop, and the next sentence follows them.
QString asSentence(QString text) {
    text = text.trimmed();
    if (!text.isEmpty() && !u".!?"_s.contains(text.back()))
        text += u'.';
    return text;
}

QString serverAnswered(const QString &words) {
    const QString said = asSentence(words);
    return said.isEmpty() ? u"The server gave no reason."_s : u"The server answered: "_s + said;
}

// Why a connection or login failed, from the error's class: what failed first, then the
// cause or the server's own words, each a sentence of its own on its own line (the command
// line shows them on one). A refused login is a login that failed, not a connection.
QString connectFailure(const Error &e, const QString &host, const QString &port) {
    if (dynamic_cast<const SignInRequiredError *>(&e))
        return u"Could not log in to \"%1\": "_s.arg(host) + asSentence(e.message());
    if (const auto *login = dynamic_cast<const LoginError *>(&e))
        return u"Could not log in to \"%1\": the server refused the user name or password.\n"_s.arg(
                   host) +
               serverAnswered(login->serverWords());
    const QString failed = u"Could not connect with \"%1\".\n"_s.arg(host);
    if (const auto *net = dynamic_cast<const NetworkError *>(&e)) {
        switch (net->reason()) {
        case NetworkError::Reason::Refused:
            return failed + u"Nothing answered on port %1 of %2: the port may be wrong, or the "
                            u"mail service is down."_s.arg(port.trimmed(), host);
        case NetworkError::Reason::HostNotFound:
            return failed + u"The server name %1 was not found: check its spelling and your "
                            u"internet connection."_s.arg(host);
        case NetworkError::Reason::TimedOut:
            return failed + u"%1 did not answer in time: it may be down, or a firewall may block "
                            u"port %2."_s.arg(host, port.trimmed());
        case NetworkError::Reason::Unreachable:
            return failed + u"The network is unreachable: check your internet connection."_s;
        case NetworkError::Reason::Tls:
            return failed + asSentence(e.message()); // names the check that failed
        case NetworkError::Reason::Closed:
            return failed + u"The server closed the connection before the login was done."_s;
        case NetworkError::Reason::Other:
            break;
        }
    }
    if (const auto *protocol = dynamic_cast<const ProtocolError *>(&e);
        protocol && !protocol->serverWords().isEmpty())
        return failed + serverAnswered(protocol->serverWords());
    return failed + asSentence(QString(e.message()).replace(u"\r\n"_s, u" "_s));
}

using Control = ScreeningView::Control;

const QString kIdle = u"Idle..."_s;
const QString kNoMessageSelected = u"No message selected"_s;
const QString kNoReset = u"Your POP server doesn't have Reset feature"_s;

QString portErrorText(const QString &port) {
    return u"The port number \"%1\" of this account is not a whole number from 1 to 65535. "
           u"Please correct it in the account's settings."_s.arg(port);
}

} // namespace

QString securityCause(const Error &e) {
    if (!dynamic_cast<const SecurityError *>(&e))
        return {};
    return u"\n\n"_s + e.message();
}

MailboxSession::MailboxSession(Transport &transport, AccountStore *store, const RuleLists &lists,
                               ScreeningView &view)
    : m_pop(transport), m_store(store), m_lists(lists), m_view(view) {}

ScreeningView::Controls MailboxSession::allCommands() const {
    return Control::CheckButton | Control::ProcessButton | Control::DisconnectButton |
           Control::OptionsButton | Control::AutoModeButton | Control::MainMenus;
}

void MailboxSession::setMark(qsizetype position, RowMark mark) {
    m_rows[position].Mark = mark;
    m_view.rowsChanged();
}

void MailboxSession::unmarkRow(qsizetype position) {
    HeaderRow &row = m_rows[position];
    if (m_classified.at(position))
        applyVerdict(row, reclassify(position), m_learned.at(position));
    else
        row.Mark = RowMark::Plain;
    m_view.rowsChanged();
}

void MailboxSession::removeRow(qsizetype position) {
    m_rows.removeAt(position);
    m_classified.removeAt(position);
    m_identities.removeAt(position);
    m_samples.removeAt(position);
    m_learned.removeAt(position);
    m_friendlyAuthentic.removeAt(position);
    m_view.rowsChanged();
}

void MailboxSession::clearRows() {
    m_rows.clear();
    m_classified.clear();
    m_identities.clear();
    m_samples.clear();
    m_learned.clear();
    m_friendlyAuthentic.clear();
    m_view.rowsChanged();
}

RuleVerdict MailboxSession::reclassify(qsizetype position) {
    const HeaderRow &row = m_rows.at(position);
    return m_classifier.ClassifyWithReason(m_lists, row.Subject, row.From,
                                           m_classified.at(position).value_or(QString()),
                                           m_friendlyAuthentic.at(position));
}

void MailboxSession::applyVerdict(HeaderRow &row, const RuleVerdict &rules,
                                  std::optional<double> learned) {
    const Settings defaults;
    const Settings &s = m_settings ? *m_settings : defaults;
    const LearningCut cut{s.learnspam / 100.0, s.learnham / 100.0, s.learnveto};
    const bool confident = m_learning && m_learning->confident();
    const RowVerdict verdict = combineVerdicts(rules, learned, confident, cut);
    row.Mark = verdict.mark;
    row.Reason = verdict.reason;
    row.LearnedScore = learned ? qRound(*learned * 100) : -1;
}

void MailboxSession::startLearning() {
    m_learningOn = false;
    const Settings defaults;
    const Settings &s = m_settings ? *m_settings : defaults;
    if (!s.learning || !m_learning)
        return;
    try {
        m_learning->ensureOpen();
        m_learningOn = true;
    } catch (const Error &e) {
        m_view.showNotice(u"Learning is off for this check: %1"_s.arg(e.message()));
    }
}

std::optional<LearningSample> MailboxSession::learningSample(qsizetype position) const {
    if (position < 0 || position >= m_samples.size())
        return std::nullopt;
    return m_samples.at(position);
}

std::optional<double> MailboxSession::scoreOf(const LearningSample &sample) const {
    if (!m_learning || m_learning->spamMessages() == 0 || m_learning->hamMessages() == 0)
        return std::nullopt;
    return m_learning->score(sample.tokens);
}

LearningStore::TrainResult MailboxSession::learnRows(const QList<qsizetype> &positions,
                                                     LearnedVerdict verdict) {
    if (!m_learning || !m_learningOn)
        throw Error(u"Learning is off for this check, so nothing can be learned from its "
                    u"messages."_s);
    std::vector<LearningSample> samples;
    for (const qsizetype p : positions)
        if (std::optional<LearningSample> sample = learningSample(p))
            samples.push_back(std::move(*sample));
    const LearningStore::TrainResult result =
        m_learning->train(samples, verdict, LearningStore::Policy::Correct);
    RescoreRows();
    return result;
}

bool MailboxSession::RescoreRows() {
    if (m_learning && m_learningOn)
        for (qsizetype p = 0; p < m_rows.size(); ++p)
            if (const std::optional<LearningSample> &sample = m_samples.at(p))
                m_learned[p] = scoreOf(*sample);
    return ReclassifyRows();
}

void MailboxSession::ShowBusy(bool busy) {
    m_view.showBusy(busy);
}

void MailboxSession::ShowStatus(const QString &text) {
    m_statusText = text;
    m_view.showStatus(text);
}

void MailboxSession::ShowFileStatus() {
    m_view.showFileStatus(QString::number(MessageCount),
                          u"Mail takes up %1K on the server"_s.arg(MailboxSizeK));
}

void MailboxSession::SetConnectedState(bool on) {
    m_view.setConnectedState(on);
    ShowStatus(on ? u"Connected"_s : QString());
}

void MailboxSession::WaitMilliseconds(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void MailboxSession::ResetWindow() {
    SetConnectedState(false);
    m_view.showServerName(kIdle);
    clearRows();
    m_view.showSelectionStatus(QString());
    ShowStatus(QString());
    m_view.showFileStatus(QString(), QString());
}

std::optional<quint16> MailboxSession::parsePort(const QString &text) {
    bool ok = false;
    const int port = text.trimmed().toInt(&ok);
    if (!ok || port < 1 || port > 65535)
        return std::nullopt;
    return static_cast<quint16>(port);
}

QString MailboxSession::dateText(const QDateTime &date) {
    const QDateTime shown = date.isValid() ? date : MailMessage::ZeroDate();
    return QLocale::system().toString(shown.date(), QLocale::ShortFormat);
}

MailboxSession::AccountData MailboxSession::accountData(const Account &account) {
    return {account.Pop3Server, account.PortNumber,  account.Username,        account.Password,
            account.Security,   account.AccountName, account.TrustedAuthserv, account.AuthMethod};
}

void MailboxSession::ApplyAccount(const AccountData &account) {
    const std::optional<quint16> port = parsePort(account.Port);
    if (!port)
        throw DataError(portErrorText(account.Port));
    const std::optional<ConnectionSecurity> security = parseSecurity(account.Security, *port);
    if (!security)
        throw DataError(u"The security \"%1\" of this account is not one of none, STLS and TLS. "
                        u"Please correct it in the account's settings."_s.arg(account.Security));
    m_pop.setHost(account.Host);
    m_pop.setPort(*port);
    m_pop.setSecurity(*security);
    m_pop.setUsername(account.Username);
    m_pop.setPassword(account.Password);
    m_pop.setAccessTokenSource({});
    if (const std::optional<QString> provider = oauthProviderOfMethod(account.AuthMethod)) {
        if (!m_oauthTokens)
            throw Error(u"This account signs in with OAuth, which this program cannot do "
                        u"here."_s);
        m_pop.setAccessTokenSource(m_oauthTokens->source(*provider, account.Username));
    }
    m_trustedAuthserv = account.TrustedAuthserv.trimmed();
}

void MailboxSession::ReadMailboxSize() {
    const int reported = m_pop.CountMessages();
    // The count is the server's word: it decides how many rows the scan creates, so a server
    // that claims two billion messages must not make the program try to list them.
    MessageCount = qMin(reported, MaxListedMessages);
    // The size is only shown: a server that refuses LIST (the connection still in step) shows
    // 0K, while a connection that failed ends the check like any other command.
    qint64 octets = 0;
    try {
        octets = m_pop.MailboxOctets();
    } catch (const ProtocolError &) {
        if (!m_pop.IsOpen())
            throw;
    }
    const qint64 kilobytes = octets / 1024;
    MailboxSizeK = static_cast<int>(qMin<qint64>(kilobytes, std::numeric_limits<int>::max()));
    ShowFileStatus();
    if (reported > MessageCount) {
        // Told as a notice too: the status line alone is gone once the scan shows its progress.
        const QString cut =
            u"The server reports %1 messages; only the first %2 are listed."_s.arg(reported).arg(
                MessageCount);
        ShowStatus(cut);
        m_view.showNotice(cut);
    }
}

void MailboxSession::FetchMessageForViewing(int n) {
    m_msg.ClearMessage();
    bool fetched = false;
    try {
        fetched = m_pop.FetchMessage(n, m_msg);
    } catch (const DataError &) {
        if (!m_pop.IsOpen())
            throw;
        fetched = true;
    }
    if (!fetched)
        throw ProtocolError(
            u"The server would not send message %1, so it cannot be shown."_s.arg(n));
}

QList<QByteArray> MailboxSession::FetchHeaderLines(int n) {
    m_msg.ClearMessage();
    try {
        m_pop.FetchHeader(n, m_msg);
    } catch (const DataError &) {
        if (!m_pop.IsOpen())
            throw;
    }
    return m_msg.HeaderLines;
}

void MailboxSession::CheckAccount(int tag) {
    if (m_store) {
        // The walk goes on to the end after the match, leaving the last row current.
        if (const std::optional<Account> account = m_store->lookup(tag, AccountStore::Walk::ToEnd))
            CurrentAccount = accountData(*account);
    }
    // A port that is not a number is reported before anything changes: the open connection,
    // if any, stays as it is.
    if (!parsePort(CurrentAccount.Port))
        throw DataError(portErrorText(CurrentAccount.Port));
    // So is a sign-in method that cannot be used here.
    if (oauthProviderOfMethod(CurrentAccount.AuthMethod) && !m_oauthTokens)
        throw Error(u"This account signs in with OAuth, which this program cannot do here."_s);

    m_view.setControlsEnabled(Control::CheckButton | Control::ProcessButton |
                                  Control::OptionsButton | Control::AutoModeButton |
                                  Control::MainMenus | Control::ContextMenu,
                              false);
    ShowBusy(true);
    ShowStatus(u"Connecting...."_s);
    if (m_pop.IsOpen())
        m_pop.CloseSession();
    ApplyAccount(CurrentAccount);
    const QString host = CurrentAccount.Host;
    m_view.showServer(CurrentAccount.Name, host);

    try {
        m_pop.OpenSession();
    } catch (const Error &e) {
        SetConnectedState(false);
        ShowStatus(u"Not connected"_s);
        m_view.showServerName(kIdle);
        m_view.setControlsEnabled(allCommands(), true);
        ShowBusy(false);
        // The rows of the account checked before belong to a connection that is gone.
        clearRows();
        m_view.showFileStatus(QString(), QString());
        // Our sentences, in the class of the cause: a server that could not be reached is worth
        // trying again, a refused login is not.
        throwError(errorKind(e), connectFailure(e, host, CurrentAccount.Port));
    }

    try {
        m_view.showSelectionStatus(kNoMessageSelected);
        m_view.showServer(CurrentAccount.Name, host);
        SetConnectedState(true);
        ReadMailboxSize();
        if (MessageCount <= 0) {
            // Only Disconnect stays available until the user disconnects.
            ShowStatus(u"No messages found"_s);
            m_view.setControlsEnabled(Control::DisconnectButton, true);
        } else {
            ShowFileStatus();
            ScanHeaders(MessageCount);
            m_view.setControlsEnabled(allCommands() | Control::ContextMenu, true);
        }
    } catch (const Error &) {
        // The rows listed so far stay; the commands come back so that the user can act on
        // them or disconnect, and a connection that broke shows as ended.
        if (!m_pop.IsOpen()) {
            SetConnectedState(false);
            m_view.showServerName(kIdle);
        }
        m_view.setControlsEnabled(allCommands() | Control::ContextMenu, true);
        ShowBusy(false);
        throw;
    }
    ShowBusy(false);
}

void MailboxSession::ScanHeaders(int count) {
    m_view.setControlsEnabled(Control::DisconnectButton, true);
    const QString before = m_statusText;
    clearRows();
    m_view.showSelectionStatus(kNoMessageSelected);
    // With more than one message, a server that accepts pipelining gets a window of commands
    // ahead of their replies; the rows, their order and the handling of every reply stay those
    // of the lock-step exchange.
    const bool pipelined = (m_settings ? m_settings->pop3pipelining : Settings().pop3pipelining) &&
                           count > 1 && m_pop.SupportsPipelining();
    startLearning();
    m_lastAuthservId.clear();
    // The learner also reads the first body lines; without it the header is enough.
    const int bodyLines =
        m_learningOn ? (m_settings ? m_settings->scanBodyLines() : Settings().scanBodyLines()) : 0;
    m_pop.BeginHeaderScan(count, pipelined ? ScanWindowCommands : 1,
                          Pop3Client::DefaultScanWindowBytes, bodyLines);
    // However the scan ends, replies still owed must not be read as those of later commands.
    const struct EndScan {
        Pop3Client &pop;
        ~EndScan() { pop.EndHeaderScan(); }
    } endScan{m_pop};
    for (int n = 1; n <= count; ++n) {
        ShowStatus(u"Message %1 of %2"_s.arg(n).arg(count));
        QCoreApplication::processEvents();
        m_msg.ClearMessage();
        // One message must not stop the screening of the others. A damaged header (an address
        // the parser rejects, a limit exceeded, an over-long line cut) has been read to its
        // end and is listed with what could be read; a refused TOP or LIST ("-ERR", a one-line
        // reply) leaves the stream in step too. Only a connection that ended stops the scan.
        HeaderRow row;
        std::optional<QString> classified;
        bool friendlyAuthentic = true;
        RuleVerdict rules;
        QList<QByteArray> body;
        const auto readHeader = [&] {
            QString excerpt;
            friendlyAuthentic = senderAuthentic();
            rules = classify(excerpt, friendlyAuthentic);
            classified = excerpt;
        };
        bool headerRefused = false; // no date is known: none is shown
        try {
            m_pop.ScanHeader(n, m_msg, &body);
            readHeader();
        } catch (const DataError &) {
            if (!m_pop.IsOpen())
                throw;
            readHeader();
        } catch (const ProtocolError &e) {
            if (!m_pop.IsOpen())
                throw;
            // Nothing is known of the message: it is shown as such and left Plain, so that
            // automatic mode never deletes it unseen.
            m_msg.ClearMessage();
            classified.reset();
            headerRefused = true;
            row.Mark = RowMark::Plain;
            row.Subject = u"(header not available: %1)"_s.arg(e.message());
        }
        if (row.Subject.isEmpty())
            row.Subject = m_msg.Subject;
        row.From = m_msg.FromText();
        row.To = m_msg.RecipientsText();
        row.Date = headerRefused ? QString() : dateText(m_msg.Date);
        qint64 size = -1;
        try {
            size = m_pop.ScanSize(n);
        } catch (const ProtocolError &) {
            if (!m_pop.IsOpen())
                throw;
        }
        row.Size = QString::number(size);
        std::optional<LearningSample> sample;
        std::optional<double> learned;
        if (classified && m_learningOn) {
            sample = LearningSample{messageIdentity(m_msg.HeaderLines, size),
                                    m_tokenizer.tokenize(m_msg.HeaderLines, body)};
            learned = scoreOf(*sample);
        }
        if (classified)
            applyVerdict(row, rules, learned);
        m_rows.append(row);
        m_classified.append(classified);
        m_identities.append({m_msg.MsgId, m_msg.Date});
        m_samples.append(std::move(sample));
        m_learned.append(learned);
        m_friendlyAuthentic.append(friendlyAuthentic);
        m_view.rowsChanged();
    }
    ShowStatus(before);
}

RuleVerdict MailboxSession::classify(QString &excerpt, bool friendlyAuthentic) {
    const QString header = decodeLegacyText(m_msg.HeaderText());
    excerpt = spamScoreExcerpt(header);
    return m_classifier.ClassifyWithReason(m_lists, m_msg.Subject, m_msg.FromText(), header,
                                           friendlyAuthentic);
}

bool MailboxSession::senderAuthentic() {
    const QList<QString> fields = authenticationResultsFields(m_msg.HeaderLines);
    if (m_lastAuthservId.isEmpty())
        if (const std::optional<QString> id = topmostAuthservId(fields))
            m_lastAuthservId = *id;
    if (m_trustedAuthserv.isEmpty())
        return true;
    const QString address = m_msg.From.Address;
    const qsizetype at = address.lastIndexOf(u'@');
    return senderAuthenticated(fields, m_trustedAuthserv, at < 0 ? QString() : address.mid(at + 1));
}

bool MailboxSession::ReclassifyRows() {
    bool changed = false;
    bool reasonChanged = false;
    for (qsizetype p = 0; p < m_rows.size(); ++p) {
        HeaderRow &row = m_rows[p];
        const std::optional<QString> &excerpt = m_classified.at(p);
        if (!excerpt || (row.Mark != RowMark::Plain && row.Mark != RowMark::Spam &&
                         row.Mark != RowMark::Friendly))
            continue;
        const HeaderRow before = row;
        applyVerdict(row, reclassify(p), m_learned.at(p));
        if (row.Mark != before.Mark)
            changed = true;
        else if (row.Reason != before.Reason || row.LearnedScore != before.LearnedScore)
            reasonChanged = true;
    }
    if (changed || reasonChanged)
        m_view.rowsChanged();
    return changed;
}

void MailboxSession::DisconnectExecute() {
    bool resetFailed = false;
    if (m_pop.IsOpen()) {
        try {
            m_pop.UndoDeletions();
        } catch (const Error &) {
            ShowStatus(kNoReset);
            resetFailed = true;
        }
        // Without a confirmed RSET, QUIT would make the server apply deletions made over this
        // connection; ending it without QUIT makes the server discard them instead.
        if (resetFailed)
            m_pop.AbandonSession();
        else
            m_pop.CloseSession();
    }
    ResetWindow();
    m_view.showServerName(kIdle);
    m_view.setControlsEnabled(Control::CheckButton, true);
    m_view.stopAutoModeTimers();
    m_view.setControlsEnabled(allCommands(), true);
    ShowBusy(false);
    if (resetFailed)
        ShowStatus(kNoReset);
}

} // namespace corvane
