#include "core/settings/accountcheck.h"

using namespace Qt::StringLiterals;

namespace corvane {

AccountProblems findAccountProblems(const Account &account) {
    AccountProblems problems;
    if (account.AccountName.trimmed().isEmpty())
        problems.name = u"Give the account a name."_s;

    const QString host = account.Pop3Server.trimmed();
    if (host.isEmpty())
        problems.server = u"Enter the POP3 server's host name."_s;
    else if (host.contains(u' ') || host.contains(u'\t'))
        problems.server = u"A host name has no blanks in it."_s;

    bool isNumber = false;
    const int port = account.PortNumber.trimmed().toInt(&isNumber);
    if (!isNumber || port < 1 || port > 65535)
        problems.port = u"Enter a port from 1 to 65535 (110, or 995 for TLS)."_s;

    if (account.Username.trimmed().isEmpty())
        problems.username = u"Enter your user name on the server."_s;
    return problems;
}

} // namespace corvane
