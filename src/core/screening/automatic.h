#pragma once

#include "core/errors.h"
#include "core/screening/processing.h"

#include <QList>
#include <QString>

#include <functional>

namespace corvane {

struct Account;
class AccountStore;
class DeletionLog;
class MailboxSession;
struct Settings;

// The automatic-mode interval in whole minutes: AutoIntvl within 1..120.
int autoInterval(const Settings &settings);
// The pass timer's interval for an interval in minutes.
qint64 passTimerIntervalMs(int minutes);
// "Checking in <s div 60> minutes <s mod 60> seconds" (both truncated toward zero).
QString countdownText(int secondsToNextCheck);

// The countdown to the next automatic pass that the main window shows once a second. It is
// measured on a clock, so a tick that comes late still shows the right time.
class AutoModeCountdown {
public:
    // Milliseconds of a monotonic clock.
    using Clock = std::function<qint64()>;
    // Without a clock, the system's monotonic clock is used.
    explicit AutoModeCountdown(Clock clock = {});

    // Switching the mode on, and the end of every pass: minutes × 60 seconds to go.
    void start(int minutes);
    // One tick of the countdown timer: secondsToNextCheck becomes the whole seconds left
    // (rounded, so a tick a little early or late shows the same). Returns whether the
    // countdown is still shown: it hides when it reaches 0.
    bool tick();

    int secondsToNextCheck() const { return m_seconds; }
    bool visible() const { return m_seconds > 0; }
    QString text() const { return countdownText(m_seconds); }
    // Milliseconds until the pass is due by the clock; 0 or less when it is due.
    qint64 remainingMs() const;

private:
    qint64 now() const;

    Clock m_clock;
    qint64 m_deadline = 0;
    int m_seconds = 0;
};

// What one automatic pass did with one account.
struct AccountPassResult {
    enum class Outcome {
        NotConnected, // connecting or logging in failed; passed over
        Empty,        // connected; no messages, nothing scanned
        Processed,    // scanned, Spam rows deleted (the server confirmed QUIT); error says
                      // when their log could not be saved afterwards
        Failed,       // an error after the login; nothing of this account was deleted
        Unknown,      // processed, but the server did not answer QUIT: perhaps deleted
        Interrupted,  // the pass was asked to stop after the scan; nothing was deleted
    };
    QString accountName;
    QString host;
    Outcome outcome = Outcome::NotConnected;
    int messageCount = 0;
    ProcessingResult processing;
    QString error; // NotConnected, Failed and Unknown (and Processed): what went wrong
    ErrorKind errorKind = ErrorKind::Other; // the class of that error
};

// One automatic pass over every account, in table order: connect and log in (an account that
// fails is passed over without a message box), read the count and size, and when there are
// messages scan them, turn every Spam row into Delete and process the marks without asking
// and without reconnecting. Only Spam is deleted; nothing is bounced.
//
// An error after the login (a dropped connection during the scan, an archive copy that
// cannot be written, a QUIT the server refused) ends that account's part of the pass without
// deleting anything of it (processing takes back its run, see MessageProcessor) and the pass
// goes on with the next account; the error is in the account's result. A QUIT that got no
// answer makes the account's outcome Unknown: its messages are not counted as deleted.
class AutomaticPass {
public:
    AutomaticPass(MailboxSession &session, const AccountStore *store, const Settings &settings,
                  DeletionLog &log, QString archiveFolder, ProcessingHooks hooks = {});

    // Asked before each account and between an account's scan and its processing; true ends
    // the pass there, deleting nothing more (corvane-cli when interrupted). A run that has
    // begun deleting is carried through its QUIT, so its outcome is known.
    void setStopRequested(std::function<bool()> stop) { m_stop = std::move(stop); }

    // The pass. Sets the session's AutoMode, which processing reads.
    QList<AccountPassResult> run();

private:
    AccountPassResult passAccount(const Account &account);

    MailboxSession &m_session;
    const AccountStore *m_store;
    const Settings &m_settings;
    DeletionLog &m_log;
    QString m_archiveFolder;
    ProcessingHooks m_hooks;
    std::function<bool()> m_stop;
};

} // namespace corvane
