#pragma once

#include "core/settings/accountstore.h"

#include <QString>

namespace corvane {

// What keeps an account from ever being checked, field by field; an empty text means the
// field is usable. The password and the e-mail address may be empty (some servers take an
// empty password, and the address is only shown).
struct AccountProblems {
    QString name;
    QString server;
    QString port;
    QString username;

    bool any() const {
        return !name.isEmpty() || !server.isEmpty() || !port.isEmpty() || !username.isEmpty();
    }
};

// Checks the fields of an account as typed. A name of blanks only would give a blank menu
// item, a host with blanks or a port outside 1..65535 could never connect.
AccountProblems findAccountProblems(const Account &account);

} // namespace corvane
