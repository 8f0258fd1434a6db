#pragma once

#include <QStringList>

namespace corvane::cli {

// corvane-cli accounts authorize NAME: signs an OAuth account in and keeps its grant.
int authorizeAccount(const QStringList &args);

} // namespace corvane::cli
