#include "core/screening/automatic.h"

#include "core/errors.h"
#include "core/screening/mailboxsession.h"
#include "core/settings/accountstore.h"
#include "core/settings/settings.h"

#include <chrono>
#include <cmath>

using namespace Qt::StringLiterals;

namespace corvane {

int autoInterval(const Settings &settings) {
    return qBound(Settings::MinAutoIntvl, settings.AutoIntvl, Settings::MaxAutoIntvl);
}

qint64 passTimerIntervalMs(int minutes) {
    return qint64(minutes) * 60000;
}

QString countdownText(int secondsToNextCheck) {
    return u"Checking in %1 minutes %2 seconds"_s.arg(secondsToNextCheck / 60)
        .arg(secondsToNextCheck % 60);
}

AutoModeCountdown::AutoModeCountdown(Clock clock) : m_clock(std::move(clock)) {}

qint64 AutoModeCountdown::now() const {
    if (m_clock)
        return m_clock();
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void AutoModeCountdown::start(int minutes) {
    m_seconds = minutes * 60;
    m_deadline = now() + passTimerIntervalMs(minutes);
}

bool AutoModeCountdown::tick() {
    m_seconds = int(std::lround(double(remainingMs()) / 1000.0));
    return visible();
}

qint64 AutoModeCountdown::remainingMs() const {
    return m_deadline - now();
}

AutomaticPass::AutomaticPass(MailboxSession &session, const AccountStore *store,
                             const Settings &settings, DeletionLog &log, QString archiveFolder,
                             ProcessingHooks hooks)
    : m_session(session), m_store(store), m_settings(settings), m_log(log),
      m_archiveFolder(std::move(archiveFolder)), m_hooks(std::move(hooks)) {}

QList<AccountPassResult> AutomaticPass::run() {
    m_session.AutoMode = true;
    QList<AccountPassResult> results;
    const QList<Account> accounts = m_store ? m_store->accounts() : QList<Account>();
    for (const Account &account : accounts) {
        if (m_stop && m_stop())
            break;
        results.append(passAccount(account));
    }
    m_session.view().showServerName(u"In auto mode"_s);
    return results;
}

AccountPassResult AutomaticPass::passAccount(const Account &account) {
    ScreeningView &view = m_session.view();
    Pop3Client &pop = m_session.POP();
    AccountPassResult result;
    result.accountName = account.AccountName;
    result.host = account.Pop3Server;

    m_session.ShowBusy(true);
    m_session.ShowStatus(u"Connecting...."_s);
    if (pop.IsOpen())
        pop.CloseSession();
    try {
        m_session.ApplyAccount(MailboxSession::accountData(account));
        view.showServer(account.AccountName, account.Pop3Server);
        pop.OpenSession();
    } catch (const Error &e) {
        m_session.SetConnectedState(false);
        m_session.ShowStatus(QString());
        m_session.ShowBusy(false);
        result.error = e.message();
        result.errorKind = errorKind(e);
        return result;
    }

    try {
        view.showServer(account.AccountName, account.Pop3Server);
        m_session.SetConnectedState(true);
        m_session.ReadMailboxSize();
        result.messageCount = m_session.MessageCount;
        if (m_session.MessageCount <= 0) {
            view.showServerName(u"Idle..."_s);
            view.showSelectionStatus(QString());
            m_session.ShowStatus(QString());
            view.showFileStatus(QString(), QString());
            m_session.clearRows();
            pop.CloseSession();
            m_session.SetConnectedState(false);
            result.outcome = AccountPassResult::Outcome::Empty;
        } else {
            m_session.ShowFileStatus();
            m_session.ScanHeaders(m_session.MessageCount);
            if (m_stop && m_stop()) {
                // The scan deletes nothing, so the quick close cannot delete anything either.
                pop.CloseSession();
                m_session.ResetWindow();
                m_session.ShowBusy(false);
                result.outcome = AccountPassResult::Outcome::Interrupted;
                return result;
            }
            for (qsizetype p = 0; p < m_session.rows().size(); ++p)
                if (m_session.rows().at(p).Mark == RowMark::Spam)
                    m_session.setMark(p, RowMark::Delete);
            MessageProcessor processor(m_session, m_settings, m_log, m_archiveFolder, m_hooks);
            processor.setAccountEmail(account.EmailAddress);
            result.processing = processor.ProcessMessages();
            result.outcome = AccountPassResult::Outcome::Processed;
            if (!result.processing.recordProblem.isEmpty()) {
                result.error = result.processing.recordProblem;
                result.errorKind = ErrorKind::File;
            }
        }
    } catch (const Error &e) {
        // Nothing of this account may be deleted now: processing has already dropped a run it
        // could not finish; a scan that failed has marked nothing, and its connection is
        // ended the same way.
        if (pop.IsOpen()) {
            try {
                pop.UndoDeletions();
            } catch (const Error &) {
            }
        }
        pop.AbandonSession();
        m_session.ResetWindow();
        result.errorKind = errorKind(e);
        result.outcome = result.errorKind == ErrorKind::OutcomeUnknown
                             ? AccountPassResult::Outcome::Unknown
                             : AccountPassResult::Outcome::Failed;
        result.error = e.message();
    }
    m_session.ShowBusy(false);
    return result;
}

} // namespace corvane
