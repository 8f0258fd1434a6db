// corvane-cli accounts authorize: signs an account that logs in with OAuth 2.0 in at its
// provider, once, and keeps the grant in the data folder's secret store.

#include "app/cli/cmd_authorize.h"

#include "app/cli/command.h"
#include "app/cli/datadircommand.h"
#include "app/cli/shared.h"

#include "core/auth/oauthsignin.h"
#include "core/auth/oauthtokens.h"
#include "core/errors.h"
#include "core/settings/accountstore.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace corvane::cli {

int authorizeAccount(const QStringList &args) {
    const QString command = u"accounts authorize"_s;
    const DataDirCommand data(command, u"accounts.dat, the secret store"_s);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Signs the account NAME, which logs in with OAuth 2.0 (--auth oauth:PROVIDER), in at "
        u"its provider and keeps the grant in the desktop's secret store (or, without one, in "
        u"secrets.dat of the data folder, readable by its owner alone). Where the provider "
        u"offers it, the sign-in uses a code: open the printed address on any device, type the "
        u"code and approve; the command waits until you have. Otherwise, or with --browser, it "
        u"prints an address to open in a browser on this computer and waits for the browser "
        u"to come back to 127.0.0.1. Run it again whenever a check says the account must be "
        u"signed in again.\n\n"_s +
        exitCodeHelp(true, false));
    const QCommandLineOption browserOption(
        u"browser"_s, u"Sign in through a browser on this computer even where a code would do."_s);
    const QCommandLineOption waitOption(
        u"wait"_s, u"How long to wait for the sign-in, in seconds (default 300)."_s, u"SECONDS"_s,
        u"300"_s);
    parser.addOptions({data.option(), browserOption, waitOption});
    parser.addPositionalArgument(u"NAME"_s, u"The account's name."_s);
    int code = Success;
    if (!parseArguments(parser, command, args, code))
        return code;
    const QStringList names = parser.positionalArguments();
    if (names.size() != 1) {
        err(u"corvane-cli %1: give the name of one account\n"_s.arg(command));
        return Usage;
    }
    bool ok = false;
    const int waitSeconds = parser.value(waitOption).toInt(&ok);
    if (!ok || waitSeconds < 1 || waitSeconds > 86400) {
        err(u"corvane-cli %1: --wait takes a number of seconds from 1 to 86400\n"_s.arg(command));
        return Usage;
    }
    const std::optional<DataDirectory> dir = data.directory(parser);
    if (!dir)
        return Failure;
    const QString storePath = dir->filePath(u"accounts.dat"_s);
    std::optional<Account> account;
    if (QFileInfo::exists(storePath)) {
        const AccountStore store(storePath);
        for (const Account &a : store.accounts())
            if (!account && a.AccountName == names.constFirst())
                account = a;
    }
    if (!account) {
        data.noAccountNamed(parser, *dir, names.constFirst());
        return Failure;
    }
    try {
        const std::optional<QString> providerId = oauthProviderOfMethod(account->AuthMethod);
        if (!providerId) {
            err(u"corvane-cli %1: the account %2 logs in with its password; change it with "
                u"'corvane-cli accounts edit TAG --auth oauth:PROVIDER' first\n"_s.arg(
                    command, field(account->AccountName)));
            return Failure;
        }
        OAuthTokens tokens(dir->path());
        const OAuthProvider provider = tokens.provider(*providerId);
        OAuthGrant grant;
        if (!provider.deviceUrl.isEmpty() && !parser.isSet(browserOption)) {
            TokenEndpoint endpoint(provider);
            grant = runDeviceSignIn(
                endpoint,
                [&](const DeviceAuthorization &device) {
                    out(u"To sign in %1 at %2, open %3 on any device and enter the code %4\n"_s.arg(
                        field(account->AccountName), provider.name,
                        device.verificationUri.toString(QUrl::FullyEncoded), device.userCode));
                    if (!device.verificationUriComplete.isEmpty())
                        out(u"(or open %1, which holds the code)\n"_s.arg(
                            device.verificationUriComplete.toString(QUrl::FullyEncoded)));
                    out(u"Waiting for the sign-in...\n"_s);
                    // The user (or a script) must see the code now, not when the command ends.
                    std::fflush(stdout);
                },
                account->EmailAddress.isEmpty() ? account->Username : account->EmailAddress);
        } else {
            BrowserSignIn signIn(provider);
            signIn.setTimeout(waitSeconds * 1000);
            signIn.setLoginHint(account->EmailAddress.isEmpty() ? account->Username
                                                                : account->EmailAddress);
            grant = signIn.run([&](const QUrl &url) {
                out(u"To sign in %1 at %2, open this address in a browser on this computer:\n"
                    u"%3\nWaiting for the browser to come back...\n"_s.arg(
                        field(account->AccountName), provider.name,
                        url.toString(QUrl::FullyEncoded)));
                std::fflush(stdout);
            });
        }
        const SecretStore::Place place = tokens.storeGrant(*providerId, account->Username, grant);
        out(u"signed in: %1 (the sign-in is kept in %2)\n"_s.arg(
            field(account->AccountName), place == SecretStore::Place::Keychain
                                             ? u"the desktop's secret store"_s
                                             : SecretStore(dir->path()).filePath()));
        return Success;
    } catch (const Error &e) {
        err(u"corvane-cli %1: %2\n"_s.arg(command, e.message()));
        return exitCodeFor(e);
    }
}

} // namespace corvane::cli
