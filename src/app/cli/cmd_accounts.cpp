// corvane-cli accounts: list, add, edit and delete the POP3 accounts of a data directory.

#include "app/cli/accountdiscovery_cli.h"
#include "app/cli/command.h"
#include "app/cli/datadircommand.h"
#include "app/cli/shared.h"

#include "app/cli/cmd_authorize.h"
#include "core/auth/oauthprovider.h"
#include "core/errors.h"
#include "core/protocol/connectionsecurity.h"
#include "core/settings/accountstore.h"
#include "core/settings/settings.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace corvane::cli {
namespace {

const QString kStoreFile = u"accounts.dat"_s;

const QCommandLineOption nameOption(u"name"_s, u"The account name."_s, u"TEXT"_s);
const QCommandLineOption serverOption(u"server"_s, u"The POP3 server's host name."_s, u"HOST"_s);
const QCommandLineOption portOption(u"port"_s, u"The POP3 port."_s, u"PORT"_s);
const QCommandLineOption userOption(u"user"_s, u"The POP3 user name."_s, u"TEXT"_s);
const QCommandLineOption passwordOption(u"password"_s,
                                        u"The POP3 password (visible to other users of this "
                                        u"machine while the command runs; see "
                                        u"--password-stdin)."_s,
                                        u"TEXT"_s);
const QCommandLineOption passwordStdinOption(u"password-stdin"_s,
                                             u"Read the password from the first line of "
                                             u"standard input."_s);
const QCommandLineOption securityOption(
    u"security"_s,
    u"How the connection is secured: none, STLS (after connecting) or TLS (from the start). "
    u"Without it a new account takes its port's default: TLS on 995, none elsewhere."_s,
    u"MODE"_s);
const QCommandLineOption authOption(
    u"auth"_s,
    u"How the account logs in: password (the default), or oauth:PROVIDER to sign in with "
    u"OAuth 2.0 at google, microsoft or a provider that Settings.ini describes; such an account "
    u"is then signed in once with: corvane-cli accounts authorize NAME. A new OAuth account "
    u"without --server takes the provider's POP3 server, port and security."_s,
    u"METHOD"_s);
const QCommandLineOption emailOption(u"email"_s, u"The account's own e-mail address."_s,
                                     u"ADDRESS"_s);

bool readPassword(QString &password) {
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly))
        return false;
    QByteArray line = input.readLine();
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    password = QString::fromUtf8(line);
    return true;
}

// Takes the account fields given on the command line into an account; returns false after
// an error message.
bool takeFields(const QCommandLineParser &parser, const QString &command, Account &a) {
    if (parser.isSet(nameOption))
        a.AccountName = parser.value(nameOption);
    if (parser.isSet(serverOption))
        a.Pop3Server = parser.value(serverOption);
    if (parser.isSet(portOption)) {
        bool ok = false;
        const int port = parser.value(portOption).toInt(&ok);
        if (!ok || port < 1 || port > 65535) {
            err(u"corvane-cli %1: --port takes a number from 1 to 65535, not '%2'\n"_s.arg(
                command, parser.value(portOption)));
            return false;
        }
        a.PortNumber = QString::number(port);
    }
    if (parser.isSet(userOption))
        a.Username = parser.value(userOption);
    if (parser.isSet(passwordOption) && parser.isSet(passwordStdinOption)) {
        err(u"corvane-cli %1: give either --password or --password-stdin\n"_s.arg(command));
        return false;
    }
    if (parser.isSet(passwordOption))
        a.Password = parser.value(passwordOption);
    if (parser.isSet(passwordStdinOption) && !readPassword(a.Password)) {
        err(u"corvane-cli %1: cannot read standard input\n"_s.arg(command));
        return false;
    }
    if (parser.isSet(emailOption))
        a.EmailAddress = parser.value(emailOption);
    if (parser.isSet(authOption)) {
        const QString method = parser.value(authOption).trimmed();
        try {
            const std::optional<QString> provider = oauthProviderOfMethod(method);
            a.AuthMethod = provider ? oauthAuthMethod(*provider) : passwordAuthMethod();
        } catch (const DataError &) {
            err(u"corvane-cli %1: --auth takes password or oauth:PROVIDER, not '%2'\n"_s.arg(
                command, method));
            return false;
        }
    }
    if (parser.isSet(securityOption)) {
        const std::optional<ConnectionSecurity> security =
            parseSecurity(parser.value(securityOption), 0);
        if (!security || parser.value(securityOption).trimmed().isEmpty()) {
            err(u"corvane-cli %1: --security takes none, STLS or TLS, not '%2'\n"_s.arg(
                command, parser.value(securityOption)));
            return false;
        }
        a.Security = securityName(*security);
    }
    return true;
}

// The POP3 server, port and security of the account's OAuth provider, for the fields not
// given; false after an error message when the provider is unknown.
bool fillFromProvider(const DataDirectory &dir, const QString &command,
                      const QCommandLineParser &parser, Account &a) {
    const std::optional<QString> id = oauthProviderOfMethod(a.AuthMethod);
    const std::optional<OAuthProvider> provider =
        id ? findOAuthProvider(oauthProviders(dir.filePath(SettingsFile::FileName)), *id)
           : std::nullopt;
    if (!provider || provider->pop3Server.isEmpty()) {
        err(u"corvane-cli %1: the provider of %2 names no POP3 server; give --server\n"_s.arg(
            command, a.AuthMethod));
        return false;
    }
    a.Pop3Server = provider->pop3Server;
    if (!parser.isSet(portOption))
        a.PortNumber = QString::number(provider->pop3Port);
    if (!parser.isSet(securityOption))
        a.Security = securityName(provider->pop3Security);
    return true;
}

int noSuchAccount(const QString &command, int tag) {
    err(u"corvane-cli %1: there is no account with tag %2. The accounts are listed by: "
        u"corvane-cli accounts list\n"_s.arg(command)
            .arg(tag));
    return Failure;
}

// The one TAG argument of edit and delete; -1 after an error message.
int tagArgument(const QCommandLineParser &parser, const QString &command) {
    const QStringList pos = parser.positionalArguments();
    if (pos.size() != 1) {
        err(u"corvane-cli %1: expected one TAG (see 'corvane-cli accounts list')\n"_s.arg(command));
        return -1;
    }
    bool ok = false;
    const int tag = pos.constFirst().toInt(&ok);
    if (!ok || tag < 0) {
        err(u"corvane-cli %1: TAG must be a number from 0 up, not '%2'\n"_s.arg(command,
                                                                                pos.constFirst()));
        return -1;
    }
    return tag;
}

int list(const QStringList &args) {
    const QString command = u"accounts list"_s;
    const DataDirCommand data(command, kStoreFile);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Prints one line per account in table order: the tag (the account's position, from "
        u"0), the account name, the POP3 server, the port, the user name, the e-mail "
        u"address and the connection security (none, STLS or TLS), separated by TAB. Passwords are "
        u"never printed. A TAB, line break or "
        u"backslash inside a field is written as \\t, \\n, \\r or \\\\."_s);
    parser.addOption(data.option());
    int code = Success;
    if (!parseArguments(parser, command, args, code))
        return code;
    if (!data.noPositionals(parser))
        return Usage;
    const auto dir = data.directory(parser);
    if (!dir)
        return Failure;
    const QString file = dir->filePath(kStoreFile);
    if (!QFileInfo::exists(file))
        return Success; // no store yet: no accounts, and nothing is created
    AccountStore store(file);
    const QList<Account> all = store.accounts();
    QString text;
    for (qsizetype i = 0; i < all.size(); ++i) {
        const Account &a = all[i];
        text += QString::number(i);
        for (const QString *f :
             {&a.AccountName, &a.Pop3Server, &a.PortNumber, &a.Username, &a.EmailAddress})
            text += u'\t' + escapeField(*f);
        const std::optional<ConnectionSecurity> security =
            parseSecurity(a.Security, a.PortNumber.trimmed().toUShort());
        text += u'\t' + (security ? securityName(*security) : escapeField(a.Security)) + u'\n';
    }
    out(text);
    return Success;
}

int add(const QStringList &args) {
    const QString command = u"accounts add"_s;
    const DataDirCommand data(command, kStoreFile);
    const DiscoveryOptions discovery;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Adds an account at the end of the table (accounts.dat is created when missing). The "
        u"name must not be taken by another account (compared exactly, case-sensitive). The "
        u"port defaults to 110; the other fields default to empty. Prints \"added account TAG: "
        u"NAME\"; the TAG names the account to accounts edit and accounts delete.\n\n"
        u"With --email and without --server the servers are found from the address: the "
        u"built-in presets of large providers, the settings document the domain publishes "
        u"over HTTPS, the domain's SRV records, then a probe of pop.DOMAIN and mail.DOMAIN. "
        u"Each step is printed, then the settings found, which are used only once you confirm "
        u"them (or give --yes); a server without encryption also needs --allow-unencrypted. "
        u"Nothing is sent with your password while the servers are searched. The name "
        u"defaults to the address, the user name to the one found; --name, --user and "
        u"--password apply as usual."_s);
    parser.addOptions({data.option(), nameOption, serverOption, portOption, userOption,
                       passwordOption, passwordStdinOption, emailOption, securityOption,
                       authOption});
    parser.addOptions(discovery.all());
    int code = Success;
    if (!parseArguments(parser, command, args, code))
        return code;
    if (!data.noPositionals(parser))
        return Usage;
    const bool oauth = parser.value(authOption).trimmed().startsWith(u"oauth:"_s);
    const bool discover = !parser.isSet(serverOption) && parser.isSet(emailOption) && !oauth;
    if (!discover && (!parser.isSet(nameOption) || (!parser.isSet(serverOption) && !oauth))) {
        err(u"corvane-cli %1: --name and --server are required (or --email alone, to find the "
            u"servers from the address)\n"_s.arg(command));
        return Usage;
    }
    if (discover && (parser.isSet(portOption) || parser.isSet(securityOption))) {
        err(u"corvane-cli %1: --port and --security go with --server; without it they are "
            u"found from the address\n"_s.arg(command));
        return Usage;
    }
    Account a;
    a.PortNumber = u"110"_s;
    if (!takeFields(parser, command, a))
        return Usage;
    if (discover) {
        const std::optional<FoundAccountSettings> found =
            discoverAndConfirm(parser, discovery, command, a.EmailAddress, code);
        if (!found)
            return code;
        if (!parser.isSet(nameOption))
            a.AccountName = a.EmailAddress.trimmed();
        a.EmailAddress = a.EmailAddress.trimmed();
        a.Pop3Server = found->incoming.host;
        a.PortNumber = QString::number(found->incoming.port);
        a.Security = securityName(found->incoming.security);
        if (!parser.isSet(userOption))
            a.Username = found->userName;
    }
    const auto locked = data.lockedDirectory(parser);
    if (!locked)
        return Failure;
    const DataDirectory &dir = locked->directory;
    if (oauth && !parser.isSet(serverOption) && !fillFromProvider(dir, command, parser, a))
        return Failure;
    AccountStore store(dir.filePath(kStoreFile));
    if (store.hasAccountName(a.AccountName)) {
        err(u"corvane-cli %1: That account name exists, please choose another\n"_s.arg(command));
        return Failure;
    }
    store.insert(a);
    out(u"added account %1: %2\n"_s.arg(QString::number(store.rowCount() - 1),
                                        field(a.AccountName)));
    return Success;
}

int edit(const QStringList &args) {
    const QString command = u"accounts edit"_s;
    const DataDirCommand data(command, kStoreFile);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Changes the account with the given tag (see 'corvane-cli accounts list') in place; "
        u"fields that are not given keep their values."_s);
    parser.addOptions({data.option(), nameOption, serverOption, portOption, userOption,
                       passwordOption, passwordStdinOption, emailOption, securityOption,
                       authOption});
    parser.addPositionalArgument(u"TAG"_s, u"The account's tag."_s);
    int code = Success;
    if (!parseArguments(parser, command, args, code))
        return code;
    const int tag = tagArgument(parser, command);
    if (tag < 0)
        return Usage;
    const auto locked = data.lockedDirectory(parser);
    if (!locked)
        return Failure;
    const DataDirectory &dir = locked->directory;
    const QString file = dir.filePath(kStoreFile);
    if (!QFileInfo::exists(file)) {
        return noSuchAccount(command, tag);
    }
    AccountStore store(file);
    auto a = store.lookup(tag, AccountStore::Walk::StopAtMatch);
    if (!a) {
        return noSuchAccount(command, tag);
    }
    if (!takeFields(parser, command, *a))
        return Usage;
    store.updateCurrent(*a);
    return Success;
}

int remove(const QStringList &args, const QString &verb) {
    const QString command = u"accounts "_s + verb;
    const DataDirCommand data(command, kStoreFile);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Deletes the account with the given tag (see 'corvane-cli accounts list') without a "
        u"question; the accounts after it move up by one."_s);
    parser.addOption(data.option());
    parser.addPositionalArgument(u"TAG"_s, u"The account's tag."_s);
    int code = Success;
    if (!parseArguments(parser, command, args, code))
        return code;
    const int tag = tagArgument(parser, command);
    if (tag < 0)
        return Usage;
    const auto locked = data.lockedDirectory(parser);
    if (!locked)
        return Failure;
    const DataDirectory &dir = locked->directory;
    const QString file = dir.filePath(kStoreFile);
    if (!QFileInfo::exists(file) || !AccountStore(file).removeByTag(tag)) {
        return noSuchAccount(command, tag);
    }
    return Success;
}

int run(const QStringList &args) {
    const QString help =
        u"Usage: corvane-cli accounts list [--data-dir DIR]\n"
        u"       corvane-cli accounts add --name NAME --server HOST [--port PORT] [--user USER]\n"
        u"                                [--password TEXT | --password-stdin] [--email ADDRESS]\n"
        u"                                [--auth password|oauth:PROVIDER] [--data-dir DIR]\n"
        u"       corvane-cli accounts add --email ADDRESS [--yes] [--allow-unencrypted]\n"
        u"                                [--name NAME] [--password-stdin] [--data-dir DIR]\n"
        u"                                (finds the servers from the address)\n"
        u"       corvane-cli accounts edit TAG [--name ...] [--server ...] [--port ...] ...\n"
        u"       corvane-cli accounts delete TAG [--data-dir DIR]    (also: remove)\n"
        u"       corvane-cli accounts authorize NAME [--browser] [--data-dir DIR]\n\n"
        u"Works on the POP3 accounts in accounts.dat. An account is named by its tag, its\n"
        u"position in the table counted from 0, as 'accounts list' prints it. The data\n"
        u"folder defaults to the desktop program's.\n"
        u"Run 'corvane-cli accounts SUBCOMMAND --help' for details.\n"_s;
    return runSubcommand(
        u"accounts"_s, args,
        {{u"list"_s, list},
         {u"add"_s, add},
         {u"edit"_s, edit},
         {u"delete"_s, [](const QStringList &a) { return remove(a, u"delete"_s); }},
         {u"remove"_s, [](const QStringList &a) { return remove(a, u"remove"_s); }},
         {u"authorize"_s, authorizeAccount}},
        help);
}

const CommandRegistration registration{
    {u"accounts"_s, u"List, add, edit and delete the POP3 accounts."_s, run}};

} // namespace
} // namespace corvane::cli
