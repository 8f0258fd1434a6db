#include "ui/shell/signinagain.h"

#include "core/auth/oauthsignin.h"
#include "core/auth/oauthtokens.h"
#include "core/errors.h"
#include "ui/shell/prompts.h"

#include <QDesktopServices>
#include <QProgressDialog>

using namespace Qt::StringLiterals;

namespace corvane {

bool offerSignInAgain(QWidget *parent, Prompts &prompts, const QString &dataFolder,
                      const Account &account, const QString &why,
                      const std::function<void(const QUrl &)> &browser) {
    std::optional<QString> providerId;
    try {
        providerId = oauthProviderOfMethod(account.AuthMethod);
    } catch (const DataError &) {
    }
    if (!providerId)
        return false;
    if (!prompts.askYesNo(parent, why + u"\n\nSign in to the account \"%1\" again now? Nothing "
                                        u"was deleted."_s.arg(account.AccountName)))
        return false;
    try {
        OAuthTokens tokens(dataFolder);
        const OAuthProvider provider = tokens.provider(*providerId);
        BrowserSignIn signIn(provider);
        signIn.setLoginHint(account.EmailAddress.trimmed().isEmpty()
                                ? account.Username.trimmed()
                                : account.EmailAddress.trimmed());
        QProgressDialog waiting(
            u"Waiting for the sign-in at %1 in your browser…"_s.arg(provider.name), u"Cancel"_s, 0,
            0, parent);
        waiting.setObjectName(u"signInProgress"_s);
        waiting.setWindowTitle(u"Corvane"_s);
        waiting.setMinimumDuration(0);
        QObject::connect(&waiting, &QProgressDialog::canceled, &waiting,
                         [&signIn] { signIn.cancel(); });
        waiting.show();
        const OAuthGrant grant =
            signIn.run(browser ? browser : [](const QUrl &url) { QDesktopServices::openUrl(url); });
        waiting.reset();
        tokens.storeGrant(*providerId, account.Username.trimmed(), grant);
    } catch (const Error &e) {
        prompts.error(parent, u"The account \"%1\" was not signed in: %2"_s.arg(account.AccountName,
                                                                                e.message()));
        return false;
    }
    prompts.information(parent,
                        u"The account \"%1\" is signed in again."_s.arg(account.AccountName));
    return true;
}

} // namespace corvane
