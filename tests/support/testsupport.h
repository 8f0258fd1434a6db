#pragma once

#include <QByteArray>
#include <QString>

namespace corvane::test {

// Reads a whole file; empty when it cannot be read.
QByteArray readFile(const QString &path);
// Writes a whole file; QFAIL-style checks are the caller's.
bool writeFile(const QString &path, const QByteArray &bytes);
// The corvane-cli executable under test (from the CORVANE_CLI environment variable).
QString cliPath();

} // namespace corvane::test
