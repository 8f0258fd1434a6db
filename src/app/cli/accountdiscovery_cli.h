#pragma once

// The terminal side of finding an account's servers from its address ("corvane-cli accounts
// add --email ADDRESS" without --server).

#include "core/settings/foundsettings.h"

#include <QCommandLineOption>
#include <QList>

#include <optional>

class QCommandLineParser;

namespace corvane::cli {

struct DiscoveryOptions {
    DiscoveryOptions();
    // Every option of the search, for QCommandLineParser::addOptions.
    QList<QCommandLineOption> all() const;

    QCommandLineOption yes;
    QCommandLineOption allowUnencrypted;
    QCommandLineOption nameServer;
    QCommandLineOption caCertificates;
    // Hidden: where the settings document is looked for, and where the probe connects (the
    // tests point them at loopback servers).
    QCommandLineOption autoconfigUrl;
    QCommandLineOption probeRoute;
};

// Searches for the servers of address, printing each step and then what was found, and asks
// the user to confirm them (unless --yes); a server without encryption needs
// --allow-unencrypted. Returns the confirmed settings; nothing after an error message, with
// exitCode set.
std::optional<FoundAccountSettings> discoverAndConfirm(const QCommandLineParser &parser,
                                                       const DiscoveryOptions &options,
                                                       const QString &command,
                                                       const QString &address, int &exitCode);

} // namespace corvane::cli
