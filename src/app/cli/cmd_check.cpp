// corvane-cli check: connect to a POP3 account, list and classify every waiting message, then
// disconnect with RSET and QUIT. It never deletes anything.

#include "app/cli/command.h"
#include "app/cli/datadircommand.h"
#include "app/cli/shared.h"

#include "core/auth/oauthtokens.h"
#include "core/errors.h"
#include "core/protocol/tcptransport.h"
#include "core/rules/rulelists.h"
#include "core/screening/mailboxsession.h"
#include "core/settings/accountstore.h"
#include "core/settings/settings.h"

#include <QCommandLineParser>
#include <QFile>

#include <memory>

using namespace Qt::StringLiterals;

namespace corvane::cli {
namespace {

int run(const QStringList &args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Checks a POP3 mailbox without deleting anything: connects, fetches the header of "
        u"every message, classifies it against the lists of the data directory and its learned "
        u"filter (learning.db, read only) and prints one line per message: number, mark, "
        u"subject, from, to, date, size in bytes, learned score (0 to 100, \"-\" when not "
        u"scored) and the reason of the mark, separated by TABs. Then it disconnects with RSET "
        u"and QUIT.\n\n"
        u"Give either the NAME of an account of the data directory's accounts.dat, or --host, "
        u"--user and --password-file.\n\n"_s +
        exitCodeHelp(true, false));
    parser.addPositionalArgument(u"NAME"_s, u"The \"Account Name\" of a stored account."_s,
                                 u"[NAME]"_s);
    const DataDirCommand dataDir(u"check"_s, u"accounts.dat, the list files and Settings.ini"_s);
    const QCommandLineOption host(u"host"_s, u"The POP3 server."_s, u"HOST"_s);
    const QCommandLineOption port(u"port"_s, u"The POP3 port (default 110; 995 means TLS)."_s,
                                  u"PORT"_s, u"110"_s);
    const QCommandLineOption user(u"user"_s, u"The POP3 user name."_s, u"USER"_s);
    const QCommandLineOption passwordFile(
        u"password-file"_s, u"A file whose first line is the POP3 password."_s, u"FILE"_s);
    const QCommandLineOption rulesOption(
        u"rules"_s,
        u"The ticked rules: numbers from 1 to 13 separated by commas, or 'none' (default: the "
        u"ticks of Settings.ini, or all thirteen without it)."_s,
        u"LIST"_s);
    ServerLimitOptions limits;
    const QCommandLineOption transcript(
        u"transcript"_s, u"Print the POP3 conversation on stderr (the password masked)."_s);
    const QCommandLineOption verbose(u"verbose"_s, u"Print the progress on stderr."_s);
    parser.addOptions({dataDir.option(), host, port, user, passwordFile, rulesOption,
                       limits.timeout, limits.deadline, transcript, verbose});
    int code = Success;
    if (!parseArguments(parser, u"check"_s, args, code))
        return code;

    const QStringList names = parser.positionalArguments();
    const bool direct = parser.isSet(host);
    if (names.size() > 1 || (direct == (names.size() == 1))) {
        err(u"corvane-cli check: give either an account NAME or --host\n"_s);
        return Usage;
    }
    // The server's options describe a server given on the command line; a stored account
    // keeps its own settings, which accounts edit changes.
    for (const QCommandLineOption *serverOption : {&port, &user, &passwordFile}) {
        if (!direct && parser.isSet(*serverOption)) {
            err(u"corvane-cli check: give either an account NAME or --host: --%1 goes with "
                u"--host (a stored account's settings are changed with corvane-cli accounts "
                u"edit)\n"_s.arg(serverOption->names().constFirst()));
            return Usage;
        }
    }
    if (direct && (!parser.isSet(user) || !parser.isSet(passwordFile))) {
        err(u"corvane-cli check: --host needs --user and --password-file\n"_s);
        return Usage;
    }
    if (!limits.read(parser, u"check"_s))
        return Usage;
    const auto dir = dataDir.directory(parser);
    if (!dir)
        return Failure;

    // The lists and the rule ticks, as the program would use them.
    RuleLists lists;
    Settings settings;
    if (!dataDir.readLists(*dir, lists, true, &settings))
        return Failure;
    if (parser.isSet(rulesOption) && !parseRuleTicks(parser.value(rulesOption), lists.Misc)) {
        err(u"corvane-cli check: --rules takes 'none' or numbers from 1 to 13 separated by "
            u"commas, not '%1'\n"_s.arg(parser.value(rulesOption)));
        return Usage;
    }

    // The account: a row of the store, or the options.
    std::unique_ptr<AccountStore> store;
    int tag = -1;
    MailboxSession::AccountData account;
    if (direct) {
        QFile file(parser.value(passwordFile));
        if (!file.open(QIODevice::ReadOnly)) {
            err(u"corvane-cli check: cannot read %1: %2\n"_s.arg(file.fileName(),
                                                                 file.errorString()));
            return Failure;
        }
        QByteArray password = file.readLine();
        while (password.endsWith('\n') || password.endsWith('\r'))
            password.chop(1);
        account = {parser.value(host), parser.value(port), parser.value(user),
                   QString::fromUtf8(password)};
    } else {
        const QString storePath = dir->filePath(u"accounts.dat"_s);
        if (!QFile::exists(storePath)) {
            err(u"corvane-cli check: %1 does not exist: no accounts. Add one with: corvane-cli "
                u"accounts add\n"_s.arg(storePath));
            return Failure;
        }
        store = std::make_unique<AccountStore>(storePath);
        const QList<Account> accounts = store->accounts();
        for (qsizetype i = 0; i < accounts.size() && tag < 0; ++i)
            if (accounts.at(i).AccountName == names.constFirst())
                tag = int(i);
        if (tag < 0) {
            dataDir.noAccountNamed(parser, *dir, names.constFirst());
            return Failure;
        }
    }

    TcpTransport transport;
    limits.applyTo(transport);
    if (parser.isSet(transcript))
        transport.setTranscript([](const QString &line) { err(line + u'\n'); });
    CliView view(u"check"_s);
    view.verbose = parser.isSet(verbose);
    MailboxSession session(transport, store.get(), lists, view);
    session.setSettings(&settings);
    // Read only: a check needs no lock, and learns nothing.
    LearningStore learning(dir->filePath(LearningStore::FileName));
    if (settings.learning) {
        try {
            learning.open(LearningStore::Access::ReadOnly);
        } catch (const Error &) {
            // The check tries it again and says that learning is off, naming the file.
        }
    }
    session.setLearning(&learning);
    OAuthTokens oauthTokens(dir->path());
    session.setOAuthTokens(&oauthTokens);
    session.CurrentAccount = account;
    try {
        session.CheckAccount(tag);
    } catch (const Error &) {
        // Whatever was listed stays untouched on the server.
        session.DisconnectExecute();
        throw;
    }
    QString text;
    const QList<HeaderRow> &rows = session.rows();
    for (qsizetype p = 0; p < rows.size(); ++p) {
        const HeaderRow &row = rows.at(p);
        text += QStringList{QString::number(p + 1),
                            QString::fromLatin1(rowMarkName(row.Mark)),
                            field(row.Subject),
                            field(row.From),
                            field(row.To),
                            field(row.Date),
                            row.Size,
                            row.LearnedScore < 0 ? u"-"_s : QString::number(row.LearnedScore),
                            field(row.Reason)}
                    .join(u'\t') +
                u'\n';
    }
    out(text);
    session.DisconnectExecute();
    return Success;
}

const CommandRegistration registration{
    {u"check"_s, u"List and classify the messages of a POP3 account (deletes nothing)."_s, run}};

} // namespace
} // namespace corvane::cli
