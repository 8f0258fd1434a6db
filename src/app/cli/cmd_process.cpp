// corvane-cli process: check an account, mark the given messages for deletion or bouncing and
// process them as "Process Messages" does, with the data directory's settings, log and
// archive.

#include "app/cli/command.h"
#include "app/cli/datadircommand.h"
#include "app/cli/shared.h"
#include "core/settings/programdata.h"

#include "core/auth/oauthtokens.h"
#include "core/errors.h"
#include "core/protocol/tcptransport.h"
#include "core/screening/mailboxsession.h"
#include "core/screening/processing.h"
#include "core/settings/accountstore.h"

#include <QCommandLineParser>
#include <QDir>

#include <set>

using namespace Qt::StringLiterals;

namespace corvane::cli {
namespace {

// The selection line is a status text too.
class ProcessView final : public CliView {
public:
    ProcessView() : CliView(u"process"_s) {}
    void showSelectionStatus(const QString &text) override { note(text); }
};

// Message numbers from the values of an option: numbers separated by commas.
bool parseNumbers(const QStringList &values, std::set<int> &numbers) {
    for (const QString &value : values) {
        for (const QString &part : value.split(u',')) {
            bool ok = false;
            const int n = part.trimmed().toInt(&ok);
            if (!ok || n < 1)
                return false;
            numbers.insert(n);
        }
    }
    return true;
}

int run(const QStringList &args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Checks the account NAME, marks the given messages and processes them as \"Process "
        u"Messages\" does: each marked message is logged, saved into the archive folder (as the "
        u"settings say), answered with a delivery-failure notice when bounced, and deleted; QUIT "
        u"then makes the deletions take effect. If any step fails, nothing is deleted.\n\n"
        u"Prints one TAB-separated line for everything done: \"bounced N TO FROM\", \"archived N "
        u"PATH\", \"deleted N SUBJECT\", then \"logged LINE\" for every line added to the log. "
        u"The settings, lists and log of the data directory are read at the start and saved at "
        u"the end; the lines of a run and its total are also written to the disk before QUIT, so "
        u"that a run whose record cannot be written deletes nothing, and a record that could not "
        u"be added to the log after QUIT is added at the next start.\n\n"
        u"Message numbers are those the server gives in this session, as \"corvane-cli check\" "
        u"prints them; they stay the same as long as no other program deletes messages of the "
        u"mailbox in between.\n\n"_s +
        exitCodeHelp(true, true));
    parser.addPositionalArgument(u"NAME"_s, u"The \"Account Name\" of a stored account."_s);
    const DataDirCommand dataDir(
        u"process"_s, u"accounts.dat, the list files, Settings.ini, logfile.log and archive/"_s);
    const QCommandLineOption deleteOption(
        u"delete"_s, u"Messages to delete: numbers separated by commas."_s, u"N[,N...]"_s);
    const QCommandLineOption bounceOption(
        u"bounce"_s, u"Messages to bounce and delete: numbers separated by commas."_s,
        u"N[,N...]"_s);
    ServerLimitOptions limits;
    const QCommandLineOption transcript(
        u"transcript"_s,
        u"Print the POP3 and SMTP conversations on stderr (the password masked)."_s);
    const QCommandLineOption verbose(u"verbose"_s, u"Print the progress on stderr."_s);
    parser.addOptions({dataDir.option(), deleteOption, bounceOption, limits.timeout,
                       limits.deadline, transcript, verbose});
    int code = Success;
    if (!parseArguments(parser, u"process"_s, args, code))
        return code;

    if (parser.positionalArguments().size() != 1) {
        err(u"corvane-cli process: give the NAME of one account\n"_s);
        return Usage;
    }
    const QString name = parser.positionalArguments().constFirst();
    std::set<int> toDelete;
    std::set<int> toBounce;
    if (!parseNumbers(parser.values(deleteOption), toDelete) ||
        !parseNumbers(parser.values(bounceOption), toBounce)) {
        err(u"corvane-cli process: --delete and --bounce take message numbers from 1 up "
            u"separated by commas\n"_s);
        return Usage;
    }
    if (toDelete.empty() && toBounce.empty()) {
        err(u"corvane-cli process: nothing to do: give --delete or --bounce\n"_s);
        return Usage;
    }
    for (int n : toDelete) {
        if (toBounce.count(n)) {
            err(u"corvane-cli process: message %1 is given both to delete and to bounce\n"_s.arg(
                n));
            return Usage;
        }
    }
    if (!limits.read(parser, u"process"_s))
        return Usage;
    // The lock is held until the data is saved.
    const DataDirCommand::Opened opened =
        dataDir.openProgramData(parser, DataDirCommand::Accounts::MustExist);
    if (!opened.data)
        return Failure;
    ProgramData &data = *opened.data;
    int tag = -1;
    Account account;
    const QList<Account> accounts = data.store()->accounts();
    for (qsizetype i = 0; i < accounts.size() && tag < 0; ++i) {
        if (accounts.at(i).AccountName == name) {
            tag = int(i);
            account = accounts.at(i);
        }
    }
    if (tag < 0) {
        dataDir.noAccountNamed(parser, data.directory(), name);
        return Failure;
    }

    auto transcriptSink = [](const QString &line) { err(line + u'\n'); };
    TcpTransport transport;
    limits.applyTo(transport);
    if (parser.isSet(transcript))
        transport.setTranscript(transcriptSink);
    ProcessView view;
    view.verbose = parser.isSet(verbose);
    MailboxSession session(transport, data.store(), data.lists, view);
    session.setSettings(&data.settings);
    // Scores the rows (and, for messages the user deletes, learns them) under the lock held.
    session.setLearning(&data.learning());
    OAuthTokens oauthTokens(data.directory().path());
    session.setOAuthTokens(&oauthTokens);

    ProcessingHooks hooks;
    hooks.smtpTransport = [limits](quint16 port) {
        std::unique_ptr<Transport> t = makeSmtpTransport(port);
        limits.applyTo(*t);
        return t;
    };
    if (parser.isSet(transcript))
        hooks.transcript = transcriptSink;
    hooks.recorder = &data;
    MessageProcessor processor(session, data.settings, data.log, data.archiveFolder(), hooks);
    processor.setAccountEmail(account.EmailAddress);

    const qsizetype logBefore = data.log.LogLines.size();
    int result = Success;
    try {
        session.CheckAccount(tag);
        const qsizetype count = session.rows().size();
        for (const std::set<int> *numbers : {&toDelete, &toBounce}) {
            for (int n : *numbers) {
                if (n > count)
                    throw DataError(u"There is no message %1: the mailbox holds %2 "
                                    u"messages. Nothing was deleted."_s.arg(n)
                                        .arg(count));
                session.setMark(n - 1, numbers == &toDelete ? RowMark::Delete : RowMark::Bounce);
            }
        }
        const ProcessingResult done = processor.ProcessMessages();
        QString text;
        for (const ProcessedMessage &m : done.messages) {
            const QString number = QString::number(m.number);
            if (!m.bouncedTo.isEmpty())
                text +=
                    u"bounced\t%1\t%2\t%3\n"_s.arg(number, field(m.bouncedTo), field(m.bounceFrom));
            if (!m.notBounced.isEmpty())
                text += u"not bounced\t%1\t%2\n"_s.arg(number, field(m.notBounced));
            if (!m.archivePath.isEmpty())
                text +=
                    u"archived\t%1\t%2\n"_s.arg(number, QDir::toNativeSeparators(m.archivePath));
            text += u"deleted\t%1\t%2\n"_s.arg(number, field(m.subject));
        }
        // Lines that only the record holds are not in the log yet: they are told with the error.
        if (done.recordProblem.isEmpty())
            for (qsizetype i = logBefore; i < data.log.LogLines.size(); ++i)
                text += u"logged\t"_s + field(data.log.LogLines.at(i)) + u'\n';
        out(text);
        if (!done.recordProblem.isEmpty()) {
            err(u"corvane-cli process: "_s + field(done.recordProblem) + u'\n');
            result = Failure;
        }
    } catch (const Error &e) {
        err(u"corvane-cli process: "_s + field(e.message()) + u'\n');
        result = exitCodeFor(e);
    }
    // Nothing marked but unprocessed may be deleted: a session still open is reset.
    if (session.POP().IsOpen())
        session.DisconnectExecute();
    // A file that cannot be saved is an error of its own; it does not hide what the run did.
    try {
        data.save();
    } catch (const Error &e) {
        err(u"corvane-cli process: "_s + field(e.message()) + u'\n');
        if (result == Success)
            result = Failure;
    }
    return result;
}

const CommandRegistration registration{
    {u"process"_s, u"Delete or bounce messages of an account, with log and archive copies."_s,
     run}};

} // namespace
} // namespace corvane::cli
