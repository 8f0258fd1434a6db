#pragma once

#include <QString>
#include <QTest>

namespace corvane::test {

// True in a CI run (CI=true), where a missing test server or corpus is a failure rather than
// a reason to skip: a green run then means that the end-to-end tests really ran.
bool requiredByCi();

// The unpacked public mail corpus: $CORVANE_MAIL_CORPUS when set, else where scripts/setup.sh
// unpacks it (.cache/mail-corpus/package/data in the source tree).
QString mailCorpusDir();

} // namespace corvane::test

// Skips the current test for want of a server or data it needs, or fails it in CI.
#define CORVANE_REQUIRE_OR_SKIP(reason)                                                            \
    do {                                                                                           \
        if (::corvane::test::requiredByCi())                                                       \
            QFAIL(reason);                                                                         \
        QSKIP(reason);                                                                             \
    } while (false)
