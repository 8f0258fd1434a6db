#pragma once

#include "core/settings/accountstore.h"

#include <QString>
#include <QUrl>

#include <functional>

class QWidget;

namespace corvane {

class Prompts;

// Offers to sign an OAuth account in again after a check found its grant revoked or expired
// (why: what the check said). Asks first; on Yes opens the provider's page (through browser,
// the desktop's browser when empty) and waits, with a "Cancel" dialog (objectName
// "signInProgress"), for the sign-in, which is stored for the account's user name in
// dataFolder's secret store. Tells the outcome. Returns true when the account is signed in
// again, so that the caller may check it again. Nothing else is changed or deleted.
bool offerSignInAgain(QWidget *parent, Prompts &prompts, const QString &dataFolder,
                      const Account &account, const QString &why,
                      const std::function<void(const QUrl &)> &browser = {});

} // namespace corvane
